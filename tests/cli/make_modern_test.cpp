// lumivor make's H.264/AAC output: the default for a folder or a .mp4 name, a file every player
// takes (checked with ffprobe as an outside reader), its index before its media data.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "app/run_test_support.h"
#include "cli/cli_test_support.h"

namespace lumivor {
namespace {

using testing::RunLumivor;
using testing::RunResult;
using testing::ScratchFolder;

// What ffprobe reads of each stream: "codec_type,codec_name,pix_fmt" lines (empty without ffprobe).
std::vector<std::string> probed_streams(const std::string& file) {
  const std::string command =
      "ffprobe -v error -show_entries stream=codec_type,codec_name,pix_fmt -of csv=p=0 '" + file + "' 2>/dev/null";
  std::FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return {};
  std::string text;
  char buffer[256];
  while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) text += buffer;
  ::pclose(pipe);
  return testing::Lines(text);
}

bool have_tool(const std::string& name) { return std::system((name + " -version >/dev/null 2>&1").c_str()) == 0; }

// The four-letter types of the file's top-level boxes, in file order.
std::vector<std::string> top_level_boxes(const std::string& file) {
  const std::vector<std::uint8_t> bytes = testing::ReadWholeFile(file);
  std::vector<std::string> types;
  std::size_t at = 0;
  while (at + 8 <= bytes.size()) {
    std::uint64_t size = (std::uint64_t{bytes[at]} << 24) | (bytes[at + 1] << 16) | (bytes[at + 2] << 8) | bytes[at + 3];
    types.emplace_back(reinterpret_cast<const char*>(&bytes[at + 4]), 4);
    if (size == 1 && at + 16 <= bytes.size()) {
      size = 0;
      for (int i = 0; i < 8; ++i) size = (size << 8) | bytes[at + 8 + i];
    } else if (size == 0) {
      size = bytes.size() - at;  // the box runs to the end of the file
    }
    if (size < 8) break;
    at += size;
  }
  return types;
}

std::size_t position_of(const std::vector<std::string>& list, const std::string& item) {
  return static_cast<std::size_t>(std::find(list.begin(), list.end(), item) - list.begin());
}

// The sound of a file decoded by ffmpeg to mono 16-bit samples at 44100 Hz (empty without sound).
std::vector<std::int16_t> decoded_sound(const std::string& file) {
  const std::string command = "ffmpeg -v error -i '" + file + "' -vn -ac 1 -ar 44100 -f s16le - 2>/dev/null";
  std::FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return {};
  std::vector<std::int16_t> samples;
  std::int16_t buffer[4096];
  std::size_t read = 0;
  while ((read = std::fread(buffer, sizeof buffer[0], std::size(buffer), pipe)) > 0)
    samples.insert(samples.end(), buffer, buffer + read);
  ::pclose(pipe);
  return samples;
}

// The loudest sample between two times, in seconds.
int peak(const std::vector<std::int16_t>& samples, double from, double to) {
  int loudest = 0;
  const auto first = static_cast<std::size_t>(std::max(0.0, from) * 44100);
  const auto last = std::min(samples.size(), static_cast<std::size_t>(to * 44100));
  for (std::size_t i = first; i < last; ++i) loudest = std::max(loudest, std::abs(static_cast<int>(samples[i])));
  return loudest;
}

class MakeModern : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::WritePhoto(folder / "wide.jpg", 160, 90);
    testing::WritePhoto(folder / "tall.jpg", 90, 160);
    // Longer than the two-photo show, so that the sound is used.
    testing::WriteTrack(folder / "song.wav", 8.0);
  }
  std::vector<std::string> Show(std::vector<std::string> more) const {
    std::vector<std::string> arguments = {"make", "--size", "320x240", "--rate", "10:1", "--hold", "1",
                                          "--transition", "1", "--audio", folder / "song.wav"};
    arguments.insert(arguments.end(), more.begin(), more.end());
    arguments.push_back(folder / "wide.jpg");
    arguments.push_back(folder / "tall.jpg");
    return arguments;
  }

  ScratchFolder folder;
};

TEST_F(MakeModern, FolderOrMp4NameGetsH264AacWithTheIndexFirst) {
  if (!have_tool("ffprobe")) GTEST_SKIP() << "ffprobe is not installed";
  std::filesystem::create_directory(folder / "out");
  struct Case {
    std::vector<std::string> options;
    std::string video;
    std::vector<std::string> streams;
  };
  const std::vector<Case> cases = {
      // No format: a folder and a .mp4 name both get the H.264 preset.
      {{"-o", folder / "out"}, folder / "out/slideshow-song_(new).mp4",
       {"h264,video,yuv420p", "aac,audio"}},
      {{"-o", folder / "named.mp4"}, folder / "named.mp4", {"h264,video,yuv420p", "aac,audio"}},
      {{"--format", "h264", "-o", folder / "asked.mp4"}, folder / "asked.mp4", {"h264,video,yuv420p", "aac,audio"}},
      // The described mp4 stays what it was when asked for by name.
      {{"--format", "mp4", "-o", folder / "old.mp4"}, folder / "old.mp4", {"mpeg4,video,yuv420p", "aac,audio"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.video);
    const RunResult run = RunLumivor(folder, Show(c.options));
    ASSERT_EQ(run.ExitCode, 0) << run.Err;
    EXPECT_EQ(run.Out, c.video + "\n");
    EXPECT_EQ(probed_streams(c.video), c.streams);
    const testing::DecodedVideo decoded = testing::DecodeVideoFile(c.video);
    EXPECT_EQ(decoded.VideoFrames, 3 * 10 + 2 * 10 + 2);
    EXPECT_EQ(decoded.DecodeErrors, 0);
  }
  // +faststart: the index precedes the media data, so a player can start before the end arrives.
  for (const std::string& video : {folder / "named.mp4", folder / "out/slideshow-song_(new).mp4"}) {
    const std::vector<std::string> boxes = top_level_boxes(video);
    ASSERT_LT(position_of(boxes, "moov"), boxes.size()) << video;
    ASSERT_LT(position_of(boxes, "mdat"), boxes.size()) << video;
    EXPECT_LT(position_of(boxes, "moov"), position_of(boxes, "mdat")) << video;
  }
}

TEST_F(MakeModern, ExtensionsAndFormatsMustAgree) {
  struct Case {
    std::vector<std::string> arguments;
    const char* error;
  };
  const Case cases[] = {
      {{"make", "--format", "h264", "-o", folder / "x.mkv", "a.jpg"}, "does not end in the extension of --format h264"},
      {{"make", "--format", "H264", "-o", folder / "x.mov", "a.jpg"}, "does not end in the extension of --format h264"},
      {{"make", "--format", "x265", "a.jpg"}, "or h264"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.error);
    const RunResult run = RunLumivor(folder, c.arguments);
    EXPECT_EQ(run.ExitCode, 2);
    EXPECT_NE(run.Err.find(c.error), std::string::npos) << run.Err;
  }
}

TEST_F(MakeModern, PreviewSheetIsWrittenInsteadOfAVideo) {
  std::filesystem::create_directory(folder / "out");
  const std::string sheet = folder / "out/sheet.png";
  const RunResult run = RunLumivor(folder, Show({"--seed", "5", "-o", folder / "out", "--preview-sheet", sheet}));
  ASSERT_EQ(run.ExitCode, 0) << run.Err;
  EXPECT_EQ(run.Out, sheet + "\n");
  // Nothing was encoded: no video, and no joined sound left behind.
  EXPECT_EQ(testing::FolderEntries(folder / "out"), std::vector<std::string>{"sheet.png"});
  const Bitmap picture = testing::DecodePng(testing::ReadWholeFile(sheet));
  // Five tiles of the 320x240 frame, unshrunk, at least two to a row.
  EXPECT_GE(picture.Width(), 2 * 320);
  EXPECT_GE(picture.Height(), 240);

  struct Case {
    std::vector<std::string> arguments;
    const char* error;
  };
  testing::WriteWholeFile(folder / "broken.jpg", {0xff, 0xd8, 0xff, 0x00});
  const Case failures[] = {
      {{"make", "--preview-sheet", folder / "bad.png", folder / "wide.jpg", folder / "broken.jpg"}, "broken.jpg"},
      {{"make", "--preview-sheet", folder / "out", folder / "wide.jpg"}, "folder"},
  };
  for (const Case& c : failures) {
    SCOPED_TRACE(c.error);
    const RunResult failed = RunLumivor(folder, c.arguments);
    EXPECT_EQ(failed.ExitCode, 1);
    EXPECT_NE(failed.Err.find(c.error), std::string::npos) << failed.Err;
    EXPECT_EQ(failed.Out, "");
  }
  EXPECT_FALSE(std::filesystem::exists(folder / "bad.png"));
}

TEST_F(MakeModern, MusicEndsByTheChosenRule) {
  if (!have_tool("ffmpeg")) GTEST_SKIP() << "ffmpeg is not installed";
  testing::WriteTrack(folder / "short.wav", 2.0);
  // The video: 52 frames at 10 fps, 5.2 s; the joined sound ends with it.
  constexpr double VideoEnd = 5.2;
  struct Case {
    const char* rule;
    const char* track;
    double seconds;  // the sound's length, 0 for none
    bool fades;
    const char* log;
  };
  const Case cases[] = {
      {"cut", "short.wav", 0, false, "Music end: cut, the tracks are not used"},
      {"cut", "song.wav", 5.2, false, "Music end: cut, the sound lasts 5.20 s"},
      {"fade", "short.wav", 2, true, "Music end: fade, the sound lasts 2.0"},
      {"fade", "song.wav", 5.2, true, "Music end: fade, the sound lasts 5.20 s, fading"},
      {"loop", "short.wav", 5.2, true, "Music end: loop, the sound lasts 5.20 s, the tracks played 3 times"},
      {"loop", "song.wav", 5.2, true, "Music end: loop, the sound lasts 5.20 s, fading"},
  };
  for (const Case& c : cases) {
    const std::string name = std::string(c.rule) + "-" + c.track;
    SCOPED_TRACE(name);
    const std::string video = folder / (name + ".mp4");
    const RunResult run = RunLumivor(folder, {"make", "--size", "160x120", "--rate", "10:1", "--hold", "1",
                                              "--transition", "1", "--music-end", c.rule, "--log", "--audio",
                                              folder / c.track, "-o", video, folder / "wide.jpg", folder / "tall.jpg"});
    ASSERT_EQ(run.ExitCode, 0) << run.Err;
    EXPECT_NE(run.Err.find(c.log), std::string::npos) << run.Err;
    const std::vector<std::int16_t> sound = decoded_sound(video);
    EXPECT_NEAR(static_cast<double>(sound.size()) / 44100, c.seconds, 0.1);
    if (c.seconds == 0) continue;
    const double end = std::min(c.seconds, VideoEnd);
    const int loud = peak(sound, 0.2, 0.4);
    ASSERT_GT(loud, 1000);
    if (c.fades) {
      // Half way down the fade, and silent by its end (codec noise aside).
      EXPECT_NEAR(peak(sound, end - 1.05, end - 0.95), loud / 2, loud / 8);
      EXPECT_LT(peak(sound, end - 0.02, end), loud / 20);
      EXPECT_LT(peak(sound, end + 0.02, c.seconds), loud / 50);
    } else {
      EXPECT_GT(peak(sound, end - 0.1, end), loud * 9 / 10);
    }
    // The looped track plays again after its first 2 s.
    if (std::string(c.rule) == "loop") {
      EXPECT_GT(peak(sound, 2.2, 2.4), loud * 9 / 10);
    }
  }
}

TEST_F(MakeModern, HelpNamesThePlayersOfEveryFormatAndTheNewDefaults) {
  const RunResult help = RunLumivor(folder, {"make", "--help"});
  ASSERT_EQ(help.ExitCode, 0);
  for (const char* format : {"h264", "mp4", "swf", "flv", "wmv", "mov", "mkv"}) {
    const std::string line = "\n  " + std::string(format) + (std::string(format).size() == 3 ? "   " : "  ");
    EXPECT_NE(help.Out.find(line), std::string::npos) << format << "\n" << help.Out;
  }
  EXPECT_NE(help.Out.find("h264 --size 1920x1080 --rate 30:1 --bitrate 1200 --sample-rate 44100"), std::string::npos)
      << help.Out;
}

}  // namespace
}  // namespace lumivor
