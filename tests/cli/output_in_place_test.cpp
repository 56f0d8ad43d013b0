// What lumivor make and lumivor convert leave behind when a write fails, when they are stopped or
// killed by a signal, and when told to write over their own input: the file that was there stays
// byte for byte unless a complete one replaces it, and no temporary or half-written file remains.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "app/run_test_support.h"
#include "cli/cli_test_support.h"
#include "media/components/media_maker.h"

namespace lumivor {
namespace {

using testing::FileText;
using testing::FolderEntries;
using testing::RunLumivor;
using testing::RunOptions;
using testing::RunResult;
using testing::ScratchFolder;

const std::vector<std::uint8_t> OldContent = {'o', 'l', 'd', ' ', 'v', 'i', 'd', 'e', 'o'};

class OutputInPlace : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::WritePhoto(folder / "wide.jpg", 320, 180);
    testing::WritePhoto(folder / "tall.bmp", 180, 320);
    // Longer than the show, so that the tracks are joined into a temporary beside the output.
    testing::WriteTrack(folder / "song.wav", 8.0);
    std::string error;
    ASSERT_TRUE(testing::WriteMediaFile(folder / "clip.mkv", testing::SmallVideoClip(8.0), error)) << error;
  }

  // A folder of its own for each run's output, so that its listing shows everything the run left.
  std::string OutputFolder(const std::string& name) const {
    const std::string path = folder / name;
    std::filesystem::create_directory(path);
    return path;
  }

  // A 7-second show (three transitions and two holds at 10 frames a second) with joined sound.
  std::vector<std::string> Make(const std::string& output, std::vector<std::string> more = {}) const {
    std::vector<std::string> arguments = {"make", "--size", "320x240", "--rate", "10:1", "--hold", "2",
                                          "--transition", "1", "--audio", folder / "song.wav", "-o", output};
    arguments.insert(arguments.end(), more.begin(), more.end());
    arguments.push_back(folder / "wide.jpg");
    arguments.push_back(folder / "tall.bmp");
    return arguments;
  }
  std::vector<std::string> Convert(const std::string& output, std::vector<std::string> inOptions = {}) const {
    std::vector<std::string> arguments = {"convert"};
    arguments.insert(arguments.end(), inOptions.begin(), inOptions.end());
    const std::vector<std::string> rest = {"-i", folder / "clip.mkv", "--out-options", "-c:v mpeg4 -c:a aac",
                                           "-o", output, "--log-level", "error"};
    arguments.insert(arguments.end(), rest.begin(), rest.end());
    return arguments;
  }

  ScratchFolder folder;
};

// A write that fails half-way (past the file-size limit, as on a full disk) fails the run: no path
// printed, the old file as it was, no temporary and no joined sound left. Matroska is written as
// the frames come, so its writes fail during the run; an MP4's data reaches the file only when
// the trailer is written, so there it is the trailer's failure that must fail the run.
TEST_F(OutputInPlace, AFailedWriteKeepsTheOldFileAndLeavesNothing) {
  struct Case {
    bool Convert;
    const char* Name;  // of the output
    bool Existing;
  };
  const Case cases[] = {
      {false, "show.mkv", false}, {false, "show.mkv", true}, {false, "show.mp4", false}, {false, "show.mp4", true},
      {true, "show.mkv", false},  {true, "show.mkv", true},  {true, "show.mp4", false},  {true, "show.mp4", true},
  };
  int run_number = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.Convert ? "convert " : "make ") + c.Name + (c.Existing ? " over a file" : ""));
    const std::string out = OutputFolder("full-" + std::to_string(run_number++));
    const std::string output = out + "/" + c.Name;
    if (c.Existing) {
      ASSERT_TRUE(testing::WriteWholeFile(output, OldContent));
    }
    const std::vector<std::string> before = FolderEntries(out);
    RunOptions options;
    options.FileSizeLimit = 12 * 1024;
    const bool mp4 = std::string(c.Name).ends_with(".mp4");
    const RunResult run =
        RunLumivor(folder, c.Convert ? Convert(output) : Make(output, mp4 ? std::vector<std::string>{"--format", "mp4"}
                                                                          : std::vector<std::string>{}),
                   options);
    EXPECT_EQ(run.ExitCode, 1) << run.Err;
    EXPECT_EQ(run.Out, "");
    EXPECT_NE(run.Err.find(c.Convert ? "lumivor convert: " : "lumivor make: "), std::string::npos) << run.Err;
    EXPECT_EQ(FolderEntries(out), before);
    if (c.Existing) {
      EXPECT_EQ(testing::ReadWholeFile(output), OldContent);
    }
  }
}

// A conversion that fails once its output is open (filters that cannot be built, a map that
// matches nothing, an encoder refusing its settings) leaves the file of that name as it was.
TEST_F(OutputInPlace, AConvertThatFailsLeavesTheOldFile) {
  const char* options[] = {"-vf nosuchfilter", "-map 0:s", "-c:v libx264 -profile:v nosuch"};
  int run_number = 0;
  for (const char* option : options) {
    for (const bool existing : {false, true}) {
      SCOPED_TRACE(std::string(option) + (existing ? " over a file" : ""));
      const std::string out = OutputFolder("failed-" + std::to_string(run_number++));
      const std::string output = out + "/out.mp4";
      if (existing) {
        ASSERT_TRUE(testing::WriteWholeFile(output, OldContent));
      }
      const RunResult run = RunLumivor(folder, {"convert", "-i", folder / "clip.mkv", "--out-options", option, "-o",
                                                output, "--log-level", "quiet"});
      EXPECT_EQ(run.ExitCode, 1) << run.Err;
      EXPECT_NE(run.Err.find("lumivor convert: "), std::string::npos) << run.Err;
      EXPECT_EQ(FolderEntries(out), existing ? std::vector<std::string>{"out.mp4"} : std::vector<std::string>{});
      if (existing) {
        EXPECT_EQ(testing::ReadWholeFile(output), OldContent);
      }
    }
  }
}

// The first INT, TERM or HUP stops the run with a playable video (exit 130); over an existing
// file the video goes beside it and the file stays. A second signal ends the program at once and
// leaves nothing of the run: no temporary, no joined sound, no half video.
TEST_F(OutputInPlace, SignalsStopOrEndTheRunAndNothingIsLost) {
  if (testing::FramesPerFfprobe(folder / "clip.mkv") <= 0) GTEST_SKIP() << "ffprobe is not installed";
  struct Case {
    const char* Name;
    std::vector<int> Signals;
  };
  const Case cases[] = {
      {"INT", {SIGINT}},
      {"TERM", {SIGTERM}},
      {"HUP", {SIGHUP}},
      {"INT twice", {SIGINT, SIGINT}},
      {"TERM after INT", {SIGINT, SIGTERM}},
  };
  int run_number = 0;
  for (const bool convert : {false, true}) {
    for (const bool existing : {false, true}) {
      for (const Case& c : cases) {
        SCOPED_TRACE(std::string(convert ? "convert, " : "make, ") + (existing ? "over a file, " : "new name, ") + c.Name);
        const std::string out = OutputFolder("run-" + std::to_string(run_number++));
        const std::string output = out + "/show.mp4";
        if (existing) {
      ASSERT_TRUE(testing::WriteWholeFile(output, OldContent));
    }
        RunOptions options;
        options.WhileRunning = testing::SignalWhileWriting(folder, c.Signals);
        const RunResult run =
            RunLumivor(folder, convert ? Convert(output, {"--in-options", "-re"}) : Make(output, {"--realtime"}), options);
        if (existing) {
      EXPECT_EQ(testing::ReadWholeFile(output), OldContent);
    }
        if (c.Signals.size() > 1) {
          EXPECT_EQ(run.Signal, c.Signals.back()) << "exit " << run.ExitCode << "\n" << run.Err;
          EXPECT_EQ(run.Out, "");
          EXPECT_EQ(FolderEntries(out).size(), existing ? 1u : 0u) << "left: " << ::testing::PrintToString(FolderEntries(out));
          continue;
        }
        EXPECT_EQ(run.ExitCode, 130) << run.Err;
        const std::string kept = existing ? out + "/show (stopped).mp4" : output;
        const std::vector<std::string> left =
            existing ? std::vector<std::string>{"show (stopped).mp4", "show.mp4"} : std::vector<std::string>{"show.mp4"};
        EXPECT_EQ(FolderEntries(out), left);
        const int frames = testing::FramesPerFfprobe(kept);
        EXPECT_GT(frames, 0) << "the stopped video plays";
        if (!convert) {
          EXPECT_LT(frames, 72);
          EXPECT_EQ(run.Out, std::filesystem::weakly_canonical(kept).string() + "\n");
        }
        if (existing) {
          EXPECT_NE(run.Err.find(kept), std::string::npos) << "says where it went:\n" << run.Err;
        }
      }
    }
  }
}

// In a folder (no -o file name) the job names the video itself and joins the sound beside it: a
// second signal, of whatever kind, removes that half video and the joined sound too.
TEST_F(OutputInPlace, ASecondSignalRemovesTheHalfVideoAndTheJoinedSoundInAFolder) {
  struct Case {
    const char* Name;
    int First, Second;
  };
  const Case cases[] = {{"TERM twice", SIGTERM, SIGTERM}, {"HUP after INT", SIGINT, SIGHUP}};
  int run_number = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    const std::string out = OutputFolder("folder-" + std::to_string(run_number++));
    // The first signal goes once frames are written and both files are in the folder, so that the
    // run is seen to have begun what the second must remove.
    std::vector<std::string> begun;
    RunOptions options;
    options.WhileRunning = [&, errName = testing::StderrFileOf(folder), sent = 0](pid_t pid) mutable {
      const std::string err = FileText(errName);
      if (sent == 0) {
        const std::size_t bar = err.rfind("frame=");
        const std::size_t frame = bar == std::string::npos ? bar : err.find_first_not_of(' ', bar + 6);
        if (frame == std::string::npos || err[frame] < '1' || err[frame] > '9') return false;
        begun = FolderEntries(out);
        if (begun.size() < 2) return false;
        ::kill(pid, c.First);
        sent = 1;
        return false;
      }
      if (err.find("Stopping:") == std::string::npos) return false;
      ::kill(pid, c.Second);
      return true;
    };
    const RunResult run = RunLumivor(folder, Make(out, {"--realtime"}), options);
    EXPECT_EQ(run.Signal, c.Second) << "exit " << run.ExitCode << "\n" << run.Err;
    EXPECT_EQ(run.Out, "");
    EXPECT_EQ(begun, (std::vector<std::string>{"slideshow-song_(new).mp4", "tempaudio-song.mp3"}));
    EXPECT_EQ(FolderEntries(out), std::vector<std::string>{}) << "left: " << ::testing::PrintToString(FolderEntries(out));
  }
}

// Converting a file into itself would truncate it before it is read: refused before anything is
// opened, by whatever name the output reaches the input.
TEST_F(OutputInPlace, ConvertRefusesToWriteOverItsOwnInput) {
  const std::string clip = folder / "clip.mkv", other = folder / "other.mkv";
  std::filesystem::copy_file(clip, other);
  std::filesystem::create_symlink(clip, folder / "link.mkv");
  std::filesystem::create_hard_link(clip, folder / "hard.mkv");
  const std::vector<std::uint8_t> original = testing::ReadWholeFile(clip);
  struct Case {
    const char* Name;
    std::vector<std::string> Arguments;
  };
  const Case cases[] = {
      {"the same name", {"convert", "-i", clip, "-o", clip}},
      {"a symbolic link to it", {"convert", "-i", clip, "-o", folder / "link.mkv"}},
      {"another path to it", {"convert", "-i", "clip.mkv", "-o", folder / "sub/../clip.mkv"}},
      {"a hard link", {"convert", "-i", folder / "hard.mkv", "-o", clip}},
      {"a joined input", {"convert", "-i", other, "-i", clip, "--join", "-o", clip}},
  };
  std::filesystem::create_directory(folder / "sub");
  const std::vector<std::string> before = FolderEntries(folder.Path());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    RunOptions options;
    options.WorkingFolder = folder.Path();
    const RunResult run = RunLumivor(folder, c.Arguments, options);
    EXPECT_EQ(run.ExitCode, 2) << run.Err;
    EXPECT_NE(run.Err.find("lumivor convert: "), std::string::npos) << run.Err;
    EXPECT_NE(run.Err.find("a file cannot be converted into itself"), std::string::npos) << run.Err;
    EXPECT_EQ(testing::ReadWholeFile(clip), original);
    EXPECT_EQ(FolderEntries(folder.Path()), before);
  }
}

// A link planted in the samples folder under a sample's name is replaced, not written through.
TEST_F(OutputInPlace, SamplesNeverWriteThroughALink) {
  const std::string media = OutputFolder("media");
  const std::string outside = folder / "outside.txt";
  ASSERT_TRUE(testing::WriteWholeFile(outside, OldContent));
  for (const char* name : {"sample-tune.wav", "landscape-4x3.jpg", "pattern-square.bmp"})
    std::filesystem::create_symlink(outside, media + "/" + name);
  std::filesystem::create_symlink(folder / "missing.txt", media + "/portrait-3x4.jpg");  // dangling
  const RunResult run = RunLumivor(folder, {"samples", media, "--seconds", "1"});
  ASSERT_EQ(run.ExitCode, 0) << run.Err;
  EXPECT_EQ(testing::ReadWholeFile(outside), OldContent);
  EXPECT_FALSE(std::filesystem::exists(folder / "missing.txt"));
  for (const std::string& path : testing::Lines(run.Out)) {
    SCOPED_TRACE(path);
    EXPECT_TRUE(std::filesystem::is_regular_file(std::filesystem::symlink_status(path)));
    EXPECT_GT(std::filesystem::file_size(path), 100u);
  }
}

// Any name the folder takes can be the output, also when the run writes beside it under a longer
// name first; a new file's permissions are the umask's, as for any file the user makes.
TEST_F(OutputInPlace, OutputNamesUpToTheFolderLimit) {
  const std::string out = OutputFolder("long");
  const long nameMax = ::pathconf(out.c_str(), _PC_NAME_MAX);
  ASSERT_GE(nameMax, 250);
  const std::string name = std::string(246, 'n') + ".mp4";
  const mode_t mask = ::umask(022);
  ::umask(mask);
  for (const bool convert : {false, true}) {
    SCOPED_TRACE(convert ? "convert" : "make");
    const std::string output = out + "/" + name;
    std::filesystem::remove(output);
    const RunResult run = RunLumivor(folder, convert ? Convert(output) : Make(output));
    EXPECT_EQ(run.ExitCode, 0) << run.Err;
    EXPECT_EQ(FolderEntries(out), std::vector<std::string>{name});
    EXPECT_GT(testing::DecodeVideoFile(output).VideoFrames, 0);
    struct stat info {};
    ASSERT_EQ(::stat(output.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0666u & ~mask);
  }
}

}  // namespace
}  // namespace lumivor
