// Video hook modules: shared objects that see every decoded video picture of a task.
//
// A module exports, with C linkage:
//   int  Configure(void** context, int argc, char* argv[]);   // required when arguments follow
//   void Process(void* context, HookPicture* picture, int pixelFormat, int width, int height,
//                int64_t pts);                                  // required
//   void Release(void* context);                                // optional
// Process changes the picture in place. pixelFormat is the library's AVPixelFormat value of the
// generation the program is built with.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

extern "C" {

// The picture handed to Process: plane pointers and line sizes, laid out as the library's old
// picture record (eight of each), so that modules keep one binary interface across library
// generations.
struct HookPicture {
  std::uint8_t* data[8];
  int linesize[8];
};

typedef int (*THookConfigureProc)(void** context, int argc, char* argv[]);
typedef void (*THookProcessProc)(void* context, HookPicture* picture, int pixelFormat, int width, int height,
                                 std::int64_t pts);
typedef void (*THookReleaseProc)(void* context);
}

namespace lumivor {

struct HookModule {
  std::unique_ptr<HookModule> Next;
  THookConfigureProc Configure = nullptr;
  THookProcessProc Process = nullptr;
  THookReleaseProc Release = nullptr;
  void* HookContext = nullptr;  // the module's own, filled by its Configure
};

// One engine object's modules, in the order they were added.
struct HookList {
  HookList() = default;
  ~HookList();  // releases what is left
  HookList(const HookList&) = delete;
  HookList& operator=(const HookList&) = delete;

  std::unique_ptr<HookModule> First;
  bool Empty() const { return !First; }
  int Count() const;
};

// words[0] is the module path, the rest are handed to Configure. 0; -2 without words or without
// the entry points; -1 when the module cannot be loaded; -22 when Configure refuses.
int AddHookModule(HookList& list, const std::vector<std::string>& words);
void ProcessHookModules(HookList& list, HookPicture* picture, int pixelFormat, int width, int height,
                        std::int64_t pts);
// Calls each module's Release with its context, frees the records in order and empties the list.
void ReleaseHookModules(HookList& list);

constexpr int kMaxHookWords = 63;

// The words of a "vhook" argument: split at "|" when it has one, else at spaces; runs of
// separators count as one; no quoting.
std::vector<std::string> SplitHookArgument(const std::string& argument);
// SplitHookArgument and AddHookModule: 0 on success. An argument with more than kMaxHookWords
// words is refused (-22) rather than losing words.
int AddVideoHookText(HookList& list, const std::string& argument);

// The paths loaded so far in this process (absolute, each loaded once, never unloaded), in load
// order.
std::vector<std::string> LoadedHookPaths();

}  // namespace lumivor
