// lumivor play run as a program under SDL's dummy drivers: a file played to its end, a stop on
// request, what it prints to a log and to a terminal, and its failures.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <chrono>
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
      {{"play", missing}, 1, missing + ": No such file or directory"},
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

}  // namespace
}  // namespace lumivor
