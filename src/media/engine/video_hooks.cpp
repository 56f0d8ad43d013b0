#include "media/engine/video_hooks.h"

#include <dlfcn.h>
#include <sched.h>

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <exception>
#include <filesystem>
#include <functional>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <utility>

#include "media/runtime/ff_load.h"
#include "media/runtime/ff_log.h"
#include "media/runtime/main_thread.h"

namespace lumivor {
namespace {

// Each module is loaded once per process and stays loaded: a picture or a context it handed out
// may outlive the engine that added it.
struct LoadedModules {
  std::mutex Lock;
  std::vector<std::pair<std::string, void*>> Entries;
};

LoadedModules& Loaded() {
  static LoadedModules* modules = new LoadedModules();  // never destroyed, like the handles
  return *modules;
}

// Keyed by the path that is loaded (the absolute one), not by the path as written: the same
// relative name written from two current directories names two different files.
//
// The list's lock is not held while the module loads: loading runs the module's own start-up
// code, which may call back into the program (log, list the loaded modules, add another). Two
// threads loading the same path at once both get the library's one handle for it; the first to
// come back records it.
void* LoadModule(const std::string& fullPath, std::string& failure) {
  LoadedModules& modules = Loaded();
  {
    std::lock_guard<std::mutex> lock(modules.Lock);
    for (const auto& entry : modules.Entries) {
      if (entry.first == fullPath) return entry.second;
    }
  }
  dlerror();
  void* handle = dlopen(fullPath.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* message = dlerror();
    failure = std::string(message != nullptr ? message : "cannot load the module") + "\n";
    return nullptr;
  }
  std::lock_guard<std::mutex> lock(modules.Lock);
  for (const auto& entry : modules.Entries) {
    if (entry.first == fullPath) return entry.second;
  }
  modules.Entries.emplace_back(fullPath, handle);
  return handle;
}

// Runs work with the module's folder as the current directory, so that relative names in its
// arguments and its own start-up code resolve beside it. The current directory belongs to the
// whole process, and other threads (a running task, the player) open files meanwhile; so the
// work runs on a helper thread that first takes a private copy of the file-system context
// (unshare(CLONE_FS)) and changes only its own directory. The caller waits for it. Should the
// private copy be refused, the work runs in the caller's directory rather than moving everyone's.
void RunInFolder(const std::filesystem::path& folder, const std::function<void()>& work) {
  if (folder.empty()) {
    work();
    return;
  }
  std::exception_ptr failure;
  std::atomic<bool> done{false};
  std::thread helper;
  try {
    helper = std::thread([&] {
      try {
        if (unshare(CLONE_FS) == 0) {
          std::error_code error;
          std::filesystem::current_path(folder, error);
        }
        work();
      } catch (...) {
        failure = std::current_exception();
      }
      done = true;
      WakeMainThread();
    });
  } catch (const std::system_error&) {
    work();  // no thread to be had: the caller's directory it is
    return;
  }
  // The module's own code may raise something on the main thread (a log line, for one): a main
  // thread that waits here keeps serving it.
  WaitServing([&] { return done.load(); });
  helper.join();
  if (failure) std::rethrow_exception(failure);
}

template <typename T>
T LookUp(void* handle, const char* name) {
  return reinterpret_cast<T>(dlsym(handle, name));
}

// Loads the module, looks up its entry points, runs its Configure and appends its record. What
// goes wrong is left in failure for the caller to log, on its own thread.
int LoadAndConfigure(HookList& list, const std::vector<std::string>& words, const std::string& fullPath,
                     std::string& failure) {
  const std::string& path = words[0];
  void* handle = LoadModule(fullPath, failure);
  if (handle == nullptr) return -1;

  std::unique_ptr<HookModule> module(new (std::nothrow) HookModule());
  if (!module) return AVERROR(ENOMEM);
  module->Configure = LookUp<THookConfigureProc>(handle, "Configure");
  module->Process = LookUp<THookProcessProc>(handle, "Process");
  module->Release = LookUp<THookReleaseProc>(handle, "Release");
  if (module->Process == nullptr) {
    failure = "Failed to find Process entrypoint in " + path + "\n";
    return -2;
  }
  if (module->Configure == nullptr && words.size() > 1) {
    failure = "Failed to find Configure entrypoint in " + path + "\n";
    return -2;
  }
  if (words.size() > 1 || module->Configure != nullptr) {
    // Configure gets writable copies, as a program's argv would be.
    std::vector<std::string> copies(words);
    std::vector<char*> argv;
    for (std::string& word : copies) argv.push_back(word.data());
    argv.push_back(nullptr);
    if (module->Configure(&module->HookContext, static_cast<int>(words.size()), argv.data()) != 0) {
      failure = "Failed to Configure " + path + "\n";
      return -22;
    }
  }

  std::unique_ptr<HookModule>* tail = &list.First;
  while (*tail) tail = &(*tail)->Next;
  *tail = std::move(module);
  return 0;
}

}  // namespace

HookList::~HookList() { ReleaseHookModules(*this); }

int HookList::Count() const {
  int count = 0;
  for (const HookModule* module = First.get(); module != nullptr; module = module->Next.get()) ++count;
  return count;
}

int AddHookModule(HookList& list, const std::vector<std::string>& words) {
  if (words.empty()) return -2;
  const std::string& path = words[0];
  std::error_code error;
  const std::filesystem::path absolute = std::filesystem::absolute(path, error);
  const std::string fullPath = error ? path : absolute.string();
  const std::filesystem::path folder =
      std::filesystem::path(path).has_parent_path() && !error ? absolute.parent_path() : std::filesystem::path();

  int result = 0;
  std::string failure;
  RunInFolder(folder, [&] { result = LoadAndConfigure(list, words, fullPath, failure); });
  if (!failure.empty()) LibraryLog(AV_LOG_ERROR, "%s", failure.c_str());
  return result;
}

void ProcessHookModules(HookList& list, HookPicture* picture, int pixelFormat, int width, int height,
                        std::int64_t pts) {
  for (HookModule* module = list.First.get(); module != nullptr; module = module->Next.get()) {
    module->Process(module->HookContext, picture, pixelFormat, width, height, pts);
  }
}

void ReleaseHookModules(HookList& list) {
  std::unique_ptr<HookModule> module = std::move(list.First);
  while (module) {
    if (module->Release != nullptr) module->Release(module->HookContext);
    module = std::move(module->Next);  // frees the record just released, without recursion
  }
}

std::vector<std::string> SplitHookArgument(const std::string& argument) {
  const char separator = argument.find('|') != std::string::npos ? '|' : ' ';
  std::vector<std::string> words;
  std::size_t start = 0;
  while (start <= argument.size()) {
    std::size_t end = argument.find(separator, start);
    if (end == std::string::npos) end = argument.size();
    if (end > start) words.push_back(argument.substr(start, end - start));
    start = end + 1;
  }
  return words;
}

int AddVideoHookText(HookList& list, const std::string& argument) {
  const std::vector<std::string> words = SplitHookArgument(argument);
  if (words.size() > static_cast<std::size_t>(kMaxHookWords)) {
    LibraryLog(AV_LOG_ERROR, "Too many arguments for video hook %s\n", words[0].c_str());
    return -22;
  }
  return AddHookModule(list, words);
}

std::vector<std::string> LoadedHookPaths() {
  LoadedModules& modules = Loaded();
  std::lock_guard<std::mutex> lock(modules.Lock);
  std::vector<std::string> paths;
  for (const auto& entry : modules.Entries) paths.push_back(entry.first);
  return paths;
}

}  // namespace lumivor
