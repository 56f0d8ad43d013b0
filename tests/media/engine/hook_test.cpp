#include <gtest/gtest.h>

#include <dlfcn.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "deadlock_watchdog.h"
#include "ffmpeg_opt_test_engine.h"
#include "media/engine/video_hooks.h"
#include "support/scratch_folder.h"

namespace lumivor {
namespace {

using testing_engine::EngineTest;

// A module that stamps its tag into the first free byte of the picture, keeps a journal of its
// calls in the file named by its first argument, and refuses "fail".
const char kModuleSource[] = R"(
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

typedef struct { uint8_t* data[8]; int linesize[8]; } Picture;
typedef struct { char journal[4096]; int argc; } Context;

static void note(const char* journal, const char* text) {
  FILE* f = fopen(journal, "a");
  if (f) { fputs(text, f); fputc('\n', f); fclose(f); }
}

#ifndef NO_CONFIGURE
int Configure(void** context, int argc, char* argv[]) {
  if (argc > 2 && strcmp(argv[2], "fail") == 0) return 1;
  Context* c = (Context*)calloc(1, sizeof(Context));
  c->argc = argc;
  if (argc > 1) snprintf(c->journal, sizeof c->journal, "%s", argv[1]);
  char line[12288], cwd[4096], main_cwd[4096];
  ssize_t length = readlink("/proc/self/cwd", main_cwd, sizeof main_cwd - 1);
  main_cwd[length > 0 ? length : 0] = 0;
  snprintf(line, sizeof line, "configure %s argc=%d cwd=%s main=%s", TAG, argc, getcwd(cwd, sizeof cwd) ? cwd : "?",
           main_cwd);
  if (argc > 1) note(c->journal, line);
  *context = c;
  return 0;
}
#endif

#ifndef NO_PROCESS
void Process(void* context, Picture* picture, int pixelFormat, int width, int height, int64_t pts) {
  uint8_t* p = picture->data[0];
  while (*p) ++p;
  *p = TAG[0];
  Context* c = (Context*)context;
  if (c && c->journal[0]) {
    char line[256];
    snprintf(line, sizeof line, "process %s fmt=%d %dx%d pts=%lld", TAG, pixelFormat, width, height, (long long)pts);
    note(c->journal, line);
  }
}
#endif

#ifdef CALL_BACK_ON_LOAD
// Start-up code that calls into the program loading it, through the address the test leaves in
// the environment.
__attribute__((constructor)) static void call_back_on_load(void) {
  const char* address = getenv("LUMIVOR_TEST_LOAD_CALLBACK");
  if (address) ((void (*)(void))(uintptr_t)strtoull(address, NULL, 16))();
}
#endif

void Release(void* context) {
  Context* c = (Context*)context;
  if (c && c->journal[0]) note(c->journal, "release " TAG);
  free(c);
}
)";

class HookModules : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    folder_ = scratch_.Path();
    std::ofstream(folder_ / "module.c") << kModuleSource;
    journal_ = (folder_ / "journal.txt").string();
  }

  // Builds a module with the system's C compiler; empty when there is none.
  std::string Build(const std::string& name, const std::string& tag, const std::string& defines = "") {
    const std::string output = (folder_ / (name + ".so")).string();
    const std::string command = "cc -shared -fPIC -DTAG='\"" + tag + "\"' " + defines + " -o '" + output + "' '" +
                                (folder_ / "module.c").string() + "' 2>/dev/null";
    return std::system(command.c_str()) == 0 ? output : std::string();
  }

  std::vector<std::string> Journal() const {
    std::vector<std::string> lines;
    std::ifstream file(journal_);
    for (std::string line; std::getline(file, line);) lines.push_back(line);
    return lines;
  }

  testing::ScratchFolder scratch_;
  std::filesystem::path folder_;
  std::string journal_;
};

TEST(SplitHookArgument, SplitsAtBarsOrElseAtSpaces) {
  struct Case {
    const char* Argument;
    std::vector<std::string> Words;
  };
  const Case cases[] = {
      {"hook.so a  b", {"hook.so", "a", "b"}},
      {"  hook.so  ", {"hook.so"}},
      {"my hook.so|a b||c", {"my hook.so", "a b", "c"}},
      {"|", {}},
      {"", {}},
      {"\"quoted words\" stay", {"\"quoted", "words\"", "stay"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Argument);
    EXPECT_EQ(SplitHookArgument(c.Argument), c.Words);
  }
}

TEST_F(HookModules, ConfiguresProcessesInOrderAndReleases) {
  const std::string first = Build("first", "1");
  const std::string second = Build("second", "2");
  if (first.empty() || second.empty()) GTEST_SKIP() << "no C compiler to build a module with";

  const std::string cwd = std::filesystem::current_path().string();
  HookList list;
  ASSERT_EQ(AddHookModule(list, {first, journal_, "extra"}), 0);
  ASSERT_EQ(AddVideoHookText(list, second + "|" + journal_), 0);
  EXPECT_EQ(list.Count(), 2);
  EXPECT_EQ(std::filesystem::current_path().string(), cwd) << "the current directory is given back";

  std::uint8_t pixels[8] = {};
  HookPicture picture{};
  picture.data[0] = pixels;
  picture.linesize[0] = 8;
  ProcessHookModules(list, &picture, AV_PIX_FMT_RGB24, 4, 2, 40000);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(pixels)), "12") << "in the order they were added";

  ReleaseHookModules(list);
  EXPECT_TRUE(list.Empty());
  // Configure runs with the module's folder as its current directory, while the process's own
  // (the main thread's, which every other thread shares) stays where it was.
  const std::string folder = std::filesystem::canonical(folder_).string();
  const std::string main = std::filesystem::canonical(cwd).string();
  const std::vector<std::string> expected = {
      "configure 1 argc=3 cwd=" + folder + " main=" + main,
      "configure 2 argc=2 cwd=" + folder + " main=" + main,
      "process 1 fmt=" + std::to_string(AV_PIX_FMT_RGB24) + " 4x2 pts=40000",
      "process 2 fmt=" + std::to_string(AV_PIX_FMT_RGB24) + " 4x2 pts=40000",
      "release 1",
      "release 2",
  };
  EXPECT_EQ(Journal(), expected);
}

TEST_F(HookModules, LoadsEachPathOncePerProcess) {
  const std::string path = Build("shared", "S");
  if (path.empty()) GTEST_SKIP() << "no C compiler to build a module with";
  HookList one;
  HookList two;
  ASSERT_EQ(AddHookModule(one, {path}), 0);
  ASSERT_EQ(AddHookModule(two, {path}), 0);
  int seen = 0;
  for (const std::string& loaded : LoadedHookPaths()) seen += loaded == path;
  EXPECT_EQ(seen, 1);
  // A module with Configure gets it even without arguments; its context is its own per record.
  EXPECT_NE(one.First->HookContext, nullptr);
  EXPECT_NE(one.First->HookContext, two.First->HookContext);
}

// The same relative name written from two current directories names two modules: each is
// loaded, and each list gets its own.
TEST_F(HookModules, RelativeNamesAreKeyedByWhatTheyLoad) {
  const std::string a = Build("a", "A");
  const std::string b = Build("b", "B");
  if (a.empty() || b.empty()) GTEST_SKIP() << "no C compiler";
  std::filesystem::create_directories(folder_ / "one");
  std::filesystem::create_directories(folder_ / "two");
  std::filesystem::rename(a, folder_ / "one" / "hook.so");
  std::filesystem::rename(b, folder_ / "two" / "hook.so");

  const std::filesystem::path cwd = std::filesystem::current_path();
  HookList first;
  HookList second;
  std::filesystem::current_path(folder_ / "one");
  const int firstResult = AddHookModule(first, {"./hook.so"});
  std::filesystem::current_path(folder_ / "two");
  const int secondResult = AddHookModule(second, {"./hook.so"});
  std::filesystem::current_path(cwd);
  ASSERT_EQ(firstResult, 0);
  ASSERT_EQ(secondResult, 0);

  for (const auto& [list, tag] : {std::pair<HookList*, const char*>{&first, "A"}, {&second, "B"}}) {
    std::uint8_t pixels[4] = {};
    HookPicture picture{};
    picture.data[0] = pixels;
    ProcessHookModules(*list, &picture, AV_PIX_FMT_RGB24, 1, 1, 0);
    EXPECT_STREQ(reinterpret_cast<char*>(pixels), tag);
  }
  const std::vector<std::string> loaded = LoadedHookPaths();
  for (const char* folder : {"one", "two"}) {
    const std::string path = std::filesystem::canonical(folder_ / folder).string() + "/./hook.so";
    EXPECT_NE(std::find(loaded.begin(), loaded.end(), path), loaded.end()) << path;
  }
}

TEST_F(HookModules, RefusesModulesItCannotUse) {
  const std::string noProcess = Build("no_process", "P", "-DNO_PROCESS");
  const std::string noConfigure = Build("no_configure", "C", "-DNO_CONFIGURE");
  const std::string module = Build("refusing", "R");
  if (noProcess.empty() || noConfigure.empty() || module.empty()) GTEST_SKIP() << "no C compiler";
  struct Case {
    std::vector<std::string> Words;
    int Result;
    std::string Logged;
  };
  const Case cases[] = {
      {{}, -2, ""},
      {{"/nonexistent/lumivor_hook.so"}, -1, "/nonexistent/lumivor_hook.so"},
      {{noProcess}, -2, "Failed to find Process entrypoint in " + noProcess},
      {{noConfigure, journal_}, -2, "Failed to find Configure entrypoint in " + noConfigure},
      {{noConfigure}, 0, ""},
      {{module, journal_, "fail"}, -22, "Failed to Configure " + module},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Words.empty() ? std::string("no words") : c.Words[0]);
    HookList list;
    Lines.clear();
    EXPECT_EQ(AddHookModule(list, c.Words), c.Result);
    EXPECT_EQ(list.Count(), c.Result == 0 ? 1 : 0);
    if (!c.Logged.empty()) {
      EXPECT_TRUE(Logged(llError, c.Logged)) << c.Logged;
    }
  }

  HookList list;
  std::string many = module;
  for (int i = 0; i < kMaxHookWords; ++i) many += " w";
  EXPECT_EQ(AddVideoHookText(list, many), -22) << "64 words are more than a module is given";
  EXPECT_TRUE(list.Empty());
}

// What the module's start-up code saw when it called back.
int loadCallbacks = 0;
std::vector<std::string> pathsListedWhileLoading;
void ListModulesWhileLoading() {
  ++loadCallbacks;
  pathsListedWhileLoading = LoadedHookPaths();
}

TEST_F(HookModules, AModuleMayCallBackIntoTheProgramWhileItLoads) {
  const std::string path = Build("calls_back", "K", "-DCALL_BACK_ON_LOAD");
  if (path.empty()) GTEST_SKIP() << "no C compiler";
  char address[32];
  std::snprintf(address, sizeof address, "%llx",
                static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(&ListModulesWhileLoading)));
  ASSERT_EQ(setenv("LUMIVOR_TEST_LOAD_CALLBACK", address, 1), 0);
  HookList list;
  int result;
  {
    testing::DeadlockWatchdog watchdog("loading a module that lists the loaded modules", std::chrono::seconds(30));
    result = AddHookModule(list, {path});
  }
  unsetenv("LUMIVOR_TEST_LOAD_CALLBACK");
  EXPECT_EQ(result, 0);
  EXPECT_EQ(loadCallbacks, 1);
  EXPECT_EQ(std::count(pathsListedWhileLoading.begin(), pathsListedWhileLoading.end(), path), 0)
      << "a module is listed once it has loaded";
  const std::vector<std::string> loaded = LoadedHookPaths();
  EXPECT_EQ(std::count(loaded.begin(), loaded.end(), path), 1);
  EXPECT_EQ(list.Count(), 1);
}

TEST_F(HookModules, TheVhookRowAddsAModule) {
  const std::string path = Build("row", "W");
  if (path.empty()) GTEST_SKIP() << "no C compiler";
  ASSERT_EQ(Parse("-vhook \"" + path + " " + journal_ + "\""), 0) << Engine->LastErrMsg;
  EXPECT_EQ(Engine->Hooks.Count(), 1);
  ReleaseHookModules(Engine->Hooks);
  EXPECT_EQ(Journal().back(), "release W");
}

}  // namespace
}  // namespace lumivor
