// lumivor convert run as a program: a conversion, its progress and status line, failures, wrong
// arguments, and Ctrl-C.
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <string>
#include <vector>

#include "app/picture_test_support.h"
#include "cli/cli_test_support.h"
#include "media/components/ff_decoder.h"
#include "media/components/media_maker.h"

namespace lumivor {
namespace {

using testing::RunLumivor;
using testing::RunOptions;
using testing::RunResult;
using testing::ScratchFolder;

// 160x120 pictures at 25 fps with a tone, in matroska.
std::string MakeClip(const ScratchFolder& folder, const std::string& name, double seconds) {
  std::string error;
  const std::string path = folder / name;
  EXPECT_TRUE(testing::WriteMediaFile(path, testing::SmallVideoClip(seconds), error)) << error;
  return path;
}

std::int64_t DurationOf(const std::string& path) {
  TFFDecoder decoder;
  if (!decoder.LoadFile(path)) return -1;
  TFileStreamInfo info;
  decoder.GetFileStreamInfo(info);
  return info.Duration;
}

TEST(ConvertCommandTest, ConvertsWithAProgressBarAndTheFinalStatusLine) {
  ScratchFolder folder;
  const std::string clip = MakeClip(folder, "clip.mkv", 2.0);
  const std::string output = folder / "out.mp4";
  const RunResult run = RunLumivor(folder, {"convert", "-i", clip, "--out-options", "-c:v mpeg4 -c:a aac", "-o",
                                            output, "--log-level", "warning"});
  EXPECT_EQ(run.ExitCode, 0) << run.Err;
  EXPECT_EQ(run.Out, "");
  EXPECT_NE(run.Err.find("frame="), std::string::npos) << "the engine's status line:\n" << run.Err;
  const std::int64_t duration = DurationOf(output);
  EXPECT_NEAR(static_cast<double>(duration) / 1e6, 2.0, 0.15);
}

TEST(ConvertCommandTest, InputOptionsApplyToTheInputThatFollows) {
  ScratchFolder folder;
  const std::string first = MakeClip(folder, "first.mkv", 1.0);
  const std::string second = MakeClip(folder, "second.mkv", 2.0);
  const std::string output = folder / "joined.mkv";
  // The second input starts one second in, the first is whole: 2 s joined, not 3.
  const RunResult run = RunLumivor(folder, {"convert", "-i", first, "--in-options", "-ss 1", "-i", second,
                                            "--out-options", "-c:v mpeg4 -c:a aac", "-o", output, "--join",
                                            "--log-level", "error"});
  EXPECT_EQ(run.ExitCode, 0) << run.Err;
  EXPECT_NEAR(static_cast<double>(DurationOf(output)) / 1e6, 2.0, 0.15);
}

TEST(ConvertCommandTest, FailuresAndWrongArguments) {
  ScratchFolder folder;
  const std::string clip = MakeClip(folder, "clip.mkv", 0.5);
  const std::string missing = folder / "missing.mkv";
  const std::string output = folder / "out.mp4";
  struct Case {
    std::vector<std::string> Arguments;
    int ExitCode;
    const char* Error;  // a part of what stderr says
  };
  const Case cases[] = {
      {{"convert"}, 2, "lumivor convert: missing -i INPUT"},
      {{"convert", "-i", clip}, 2, "lumivor convert: missing -o OUTPUT"},
      {{"convert", "-i", clip, "-o", output, "-o", output}, 2, "-o is given twice"},
      {{"convert", "-i", clip, "--in-options", "-t 1", "-o", output}, 2, "--in-options must be followed by the -i"},
      {{"convert", "-i", clip, "-o", output, "--log-level", "loud"}, 2, "unknown --log-level \"loud\""},
      {{"convert", "-i", clip, "-o", output, "--speed"}, 2, "unknown option --speed"},
      {{"convert", "-i", missing, "-o", output}, 1, "lumivor convert: "},
      {{"convert", "-i", clip, "--out-options", "-c:v nosuchcodec", "-o", output}, 1, "nosuchcodec"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Arguments.back());
    const RunResult run = RunLumivor(folder, c.Arguments);
    EXPECT_EQ(run.ExitCode, c.ExitCode) << run.Err;
    EXPECT_NE(run.Err.find(c.Error), std::string::npos) << run.Err;
  }
}

TEST(ConvertCommandTest, HelpThatCannotBeWrittenFails) {
  ScratchFolder folder;
  const RunResult shown = RunLumivor(folder, {"convert", "--help"});
  EXPECT_EQ(shown.ExitCode, 0);
  EXPECT_EQ(shown.Out.rfind("usage: lumivor convert", 0), 0u) << shown.Out;
  RunOptions full;
  full.Out = testing::StandardOutput::FullDisk;
  const RunResult failed = RunLumivor(folder, {"convert", "--help"}, full);
  EXPECT_NE(failed.ExitCode, 0);
  EXPECT_NE(failed.Err.find("cannot write to standard output"), std::string::npos) << failed.Err;
}

// Ctrl-C during a conversion read at the input's own rate: the output is closed properly (an mp4
// without its trailer cannot be read) and the program says it was stopped.
TEST(ConvertCommandTest, CtrlCStopsWithAPlayableFile) {
  ScratchFolder folder;
  const std::string clip = MakeClip(folder, "long.mkv", 8.0);
  const std::string output = folder / "stopped.mp4";
  RunOptions options;
  // Once the progress shows a frame, the conversion is under way.
  options.WhileRunning = testing::InterruptWhenStderrShows(folder, "frame=");
  const RunResult run = RunLumivor(folder, {"convert", "--in-options", "-re", "-i", clip, "--out-options",
                                            "-c:v mpeg4 -c:a aac", "-o", output, "--log-level", "error"},
                                   options);
  EXPECT_EQ(run.ExitCode, 130) << run.Err;
  const std::int64_t duration = DurationOf(output);
  EXPECT_GT(duration, 0) << "the stopped output can be read";
  EXPECT_LT(duration, 7000000);
}

}  // namespace
}  // namespace lumivor
