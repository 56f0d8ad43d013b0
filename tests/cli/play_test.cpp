// lumivor play run as a program under SDL's dummy drivers: a file played to its end, a stop on
// request, what it prints to a log and to a terminal, and its failures.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/types.h>

#include <csignal>
#include <cstdlib>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "app/picture_test_support.h"
#include "cli/cli_test_support.h"
#include "media/components/media_maker.h"

namespace lumivor {
namespace {

using testing::Lines;
using testing::RunLumivor;
using testing::RunOptions;
using testing::RunResult;
using testing::ScratchFolder;

// The state lines in the order printed.
std::vector<std::string> StateLines(const std::string& out) {
  std::vector<std::string> states;
  for (const std::string& line : Lines(out)) {
    const auto at = line.find("state: ");
    if (at != std::string::npos) states.push_back(line.substr(at + 7));
  }
  return states;
}

class PlayCommandTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    // No sound card and no display here; the program inherits the choice.
    ::setenv("SDL_AUDIODRIVER", "dummy", 1);
    ::setenv("SDL_VIDEODRIVER", "dummy", 1);
    folder_ = new ScratchFolder();
    std::string error;
    testing::MediaSpec mp3;
    mp3.Format = "mp3";
    mp3.Audio.Codec = "libmp3lame";
    mp3.Seconds = 1.0;
    ok_ = testing::WriteMediaFile(Mp3(), mp3, error);
    testing::MediaSpec clip;
    clip.Format = "matroska";
    clip.Seconds = 1.0;
    clip.HasVideo = true;
    clip.Video.Width = 160;
    clip.Video.Height = 120;
    clip.Video.FrameRate = 10;
    ok_ = ok_ && testing::WriteMediaFile(Clip(), clip, error);
    error_ = error;
  }
  static void TearDownTestSuite() {
    delete folder_;
    folder_ = nullptr;
    ::unsetenv("SDL_AUDIODRIVER");
    ::unsetenv("SDL_VIDEODRIVER");
  }
  void SetUp() override { ASSERT_TRUE(ok_) << error_; }

  static std::string Mp3() { return *folder_ / "tone.mp3"; }
  static std::string Clip() { return *folder_ / "clip.mkv"; }

  static ScratchFolder* folder_;
  static bool ok_;
  static std::string error_;
};
ScratchFolder* PlayCommandTest::folder_ = nullptr;
bool PlayCommandTest::ok_ = false;
std::string PlayCommandTest::error_;

TEST_F(PlayCommandTest, PlaysAFileToItsEnd) {
  struct Case {
    std::vector<std::string> Arguments;
  };
  const Case cases[] = {{{"play", Mp3()}},
                        {{"play", Clip()}},
                        {{"play", Clip(), "--no-video", "--volume", "64"}},
                        {{"play", Mp3(), "--mute"}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Arguments[1] + (c.Arguments.size() > 2 ? " " + c.Arguments[2] : std::string()));
    const RunResult run = RunLumivor(*folder_, c.Arguments);
    EXPECT_EQ(run.ExitCode, 0) << run.Err;
    EXPECT_EQ(run.Err, "");
    EXPECT_EQ(StateLines(run.Out), (std::vector<std::string>{"play", "end", "stop"})) << run.Out;
    EXPECT_NE(run.Out.find("position: 00:00:00."), std::string::npos) << run.Out;
    EXPECT_NE(run.Out.find(" / 00:00:01.0"), std::string::npos) << "the duration, about a second:\n" << run.Out;
  }
}

TEST_F(PlayCommandTest, StopsOnRequestBeforeTheEnd) {
  const std::string out = folder_->Path() + ".stdout";
  for (const bool paused : {false, true}) {
    SCOPED_TRACE(paused ? "started paused" : "playing");
    RunOptions options;
    options.WhileRunning = [&](pid_t pid) {
      if (testing::FileText(out).find("state: play") == std::string::npos) return false;
      if (paused) std::this_thread::sleep_for(std::chrono::milliseconds(300));
      ::kill(pid, paused ? SIGTERM : SIGINT);
      return true;
    };
    std::vector<std::string> arguments = {"play", Clip()};
    if (paused) arguments.push_back("--paused");
    const RunResult run = RunLumivor(*folder_, arguments, options);
    EXPECT_EQ(run.ExitCode, 0) << run.Err;
    EXPECT_EQ(StateLines(run.Out), (std::vector<std::string>{"play", "stop"})) << run.Out;
    // Held at the start while paused, however long it waits.
    if (paused) {
      EXPECT_EQ(run.Out.find("position: 00:00:00.1"), std::string::npos) << run.Out;
    }
  }
}

TEST_F(PlayCommandTest, ATerminalGetsOnePositionLineRewrittenInPlace) {
  RunOptions options;
  options.Out = testing::StandardOutput::Terminal;
  const RunResult run = RunLumivor(*folder_, {"play", Mp3()}, options);
  EXPECT_EQ(run.ExitCode, 0) << run.Err;
  EXPECT_NE(run.Out.find("\rposition: "), std::string::npos) << run.Out;
  EXPECT_EQ(StateLines(run.Out), (std::vector<std::string>{"play", "end", "stop"})) << run.Out;
  // Every state line starts a line of its own, not the end of a position line.
  for (const std::string& line : Lines(run.Out)) {
    if (line.find("state: ") != std::string::npos) {
      EXPECT_EQ(line.rfind("state: ", 0), 0u) << line;
    }
  }
}

TEST_F(PlayCommandTest, FailuresAndBadArguments) {
  struct Case {
    std::vector<std::string> Arguments;
    int ExitCode;
    std::string Error;  // the first line on stderr
  };
  const std::string missing = *folder_ / "missing.mp3";
  const Case cases[] = {
      {{"play", missing}, 1, "lumivor play: " + missing + ": No such file or directory"},
      {{"play"}, 2, "usage: lumivor play FILE [--volume 0-128] [--mute] [--no-video] [--paused]"},
      {{"play", Mp3(), "--volume", "129"}, 2, "lumivor play: invalid volume \"129\", expected 0 to 128"},
      {{"play", Mp3(), "--volume"}, 2, "lumivor play: --volume needs a value from 0 to 128"},
      {{"play", Mp3(), "--loud"}, 2, "lumivor play: unknown option \"--loud\""},
      {{"play", Mp3(), Clip()}, 2, "lumivor play: one file at a time"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Error);
    const RunResult run = RunLumivor(*folder_, c.Arguments);
    EXPECT_EQ(run.ExitCode, c.ExitCode);
    const std::vector<std::string> errors = Lines(run.Err);
    ASSERT_FALSE(errors.empty());
    EXPECT_EQ(errors[0], c.Error);
    EXPECT_EQ(StateLines(run.Out), std::vector<std::string>{}) << run.Out;
  }
}

TEST_F(PlayCommandTest, HelpIsTheUsageOnStandardOutput) {
  for (const char* word : {"--help", "-h"}) {
    SCOPED_TRACE(word);
    const RunResult run = RunLumivor(*folder_, {"play", word});
    EXPECT_EQ(run.ExitCode, 0) << run.Err;
    EXPECT_EQ(run.Err, "");
    EXPECT_EQ(run.Out.rfind("usage: lumivor play FILE", 0), 0u) << run.Out;
  }
}

// What cannot be played is refused with the reason, prefixed like every message of the command,
// and promptly: a FIFO, which the library's open would wait on for ever, never reaches it.
TEST_F(PlayCommandTest, RefusalsSayWhyWithThePrefix) {
  const std::string fifo = *folder_ / "fifo.mp3";
  const std::string folder = *folder_ / "folder.mp3";
  const std::string locked = *folder_ / "locked.mp3";
  const std::string noise = *folder_ / "noise.data";
  std::filesystem::remove(fifo);
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
  std::filesystem::create_directories(folder);
  std::filesystem::copy_file(Mp3(), locked, std::filesystem::copy_options::overwrite_existing);
  ASSERT_EQ(::chmod(locked.c_str(), 0), 0);
  ASSERT_TRUE(testing::WriteWholeFile(noise, std::vector<std::uint8_t>(4096, 0)));
  // The unprivileged user needs to reach the files.
  ASSERT_EQ(::chmod(folder_->Path().c_str(), 0755), 0);
  ASSERT_EQ(::chmod(Mp3().c_str(), 0644), 0);
  ASSERT_EQ(::chmod(noise.c_str(), 0644), 0);

  struct Case {
    std::string Name;
    std::vector<std::string> Arguments;
    std::vector<std::string> Environment;
    bool Unprivileged;
    std::string Error;  // the first line on stderr
  };
  const Case cases[] = {
      {"FIFO", {"play", fifo}, {}, false, "lumivor play: " + fifo + ": it is a FIFO, not a regular file"},
      {"folder", {"play", folder}, {}, false, "lumivor play: " + folder + ": it is a folder"},
      {"unreadable", {"play", locked}, {}, true, "lumivor play: " + locked + ": Permission denied"},
      {"not media", {"play", noise}, {}, false, "lumivor play: " + noise + ": Invalid data found when processing input"},
      // A sound output that cannot open: SDL's reason, not "no stream".
      {"sound device",
       {"play", Mp3()},
       {"SDL_AUDIODRIVER=disk", "SDL_DISKAUDIOFILE=" + (*folder_ / "no-such-folder/out.raw")},
       false,
       "lumivor play: " + Mp3() + ": cannot play the sound: Couldn't open " + (*folder_ / "no-such-folder/out.raw")},
      {"sound driver",
       {"play", Mp3()},
       {"SDL_AUDIODRIVER=no-such-driver"},
       false,
       "lumivor play: Could not initialize SDL with ScreenHandle(0): Audio target 'no-such-driver' not available"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    RunOptions options;
    options.Environment = c.Environment;
    options.TimeoutSeconds = 20;
    if (c.Unprivileged) options.User = testing::UnprivilegedUser();
    const auto start = std::chrono::steady_clock::now();
    const RunResult run = RunLumivor(*folder_, c.Arguments, options);
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(run.Signal, 0) << "it had to be killed";
    EXPECT_EQ(run.ExitCode, 1) << run.Err;
    const std::vector<std::string> errors = Lines(run.Err);
    ASSERT_FALSE(errors.empty());
    EXPECT_EQ(errors[0], c.Error);
    EXPECT_EQ(StateLines(run.Out), std::vector<std::string>{}) << run.Out;
    EXPECT_LT(took, std::chrono::seconds(10));
  }
  std::filesystem::remove(fifo);
}

}  // namespace
}  // namespace lumivor
