// One make command over phone-like photos and a song: cuts on the song's beat, the song at the
// common loudness, a title card and dated captions. What the video holds is read back by Debian's
// ffmpeg and ffprobe as outside readers: its frames, where its sound ends and how loud it is.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <numbers>
#include <string>
#include <vector>

#include "app/exif_test_support.h"
#include "app/sound_test_support.h"
#include "cli/cli_test_support.h"

namespace lumivor {
namespace {

using testing::RunLumivor;
using testing::RunResult;
using testing::ScratchFolder;

constexpr int Width = 320;
constexpr int Height = 240;

std::string Output(const std::string& command) {
  std::string text;
  std::FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return text;
  char buffer[4096];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) text.append(buffer, n);
  ::pclose(pipe);
  return text;
}

// The video's frame showing at seconds, as rgb24 rows; empty when it cannot be read.
std::string FrameAt(const std::string& video, double seconds) {
  const std::string frame = Output("ffmpeg -v error -nostdin -ss " + std::to_string(seconds) + " -i '" + video +
                                   "' -frames:v 1 -f rawvideo -pix_fmt rgb24 - 2>/dev/null");
  return frame.size() == static_cast<std::size_t>(Width) * Height * 3 ? frame : std::string();
}

struct Pixels {
  int White = 0;  // near white: the letters of a caption or a title
  int Dark = 0;   // near black
};

Pixels CountPixels(const std::string& frame, int top, int bottom) {
  Pixels counted;
  for (int y = top; y < bottom; ++y) {
    for (int x = 0; x < Width; ++x) {
      const auto* p = reinterpret_cast<const unsigned char*>(frame.data()) + 3 * (static_cast<std::size_t>(y) * Width + x);
      if (p[0] > 215 && p[1] > 215 && p[2] > 215) ++counted.White;
      if (p[0] < 40 && p[1] < 40 && p[2] < 40) ++counted.Dark;
    }
  }
  return counted;
}

// A flat mid-blue JPEG, with the Exif date a phone writes when dated is given.
void WritePhoto(const std::string& path, const char* dated) {
  Bitmap picture(Width, Height, 32);
  picture.Fill(0x004878B0u);
  const std::vector<std::uint8_t> app1 =
      dated != nullptr ? testing::ExifBody(testing::DateTiff(dated, nullptr, false)) : std::vector<std::uint8_t>{};
  ASSERT_TRUE(testing::WriteWholeFile(path, testing::EncodeJpeg(picture, testing::JpegKind::Colour, app1)));
}

TEST(MakeWordsAndMusic, OneCommandCutsOnTheBeatLevelsTheSongAndWritesTheWords) {
  for (const char* tool : {"ffmpeg", "ffprobe"}) {
    if (std::system((std::string(tool) + " -version >/dev/null 2>&1").c_str()) != 0) {
      GTEST_SKIP() << tool << " is not installed";
    }
  }
  ScratchFolder folder;
  // Four photos as a phone leaves them; the last one has lost its date.
  const char* dates[] = {"2024:06:12 09:00:00", "2024:06:13 18:30:00", "2024:06:14 07:15:00", nullptr};
  std::vector<std::string> photos;
  for (int i = 0; i < 4; ++i) {
    photos.push_back(folder / ("IMG_000" + std::to_string(i + 1) + ".jpg"));
    WritePhoto(photos.back(), dates[i]);
  }
  // A quiet song at 120 bpm: soft clicks on every half second over a softer hum, far under the
  // common loudness, with room under its peaks to be brought up to it.
  std::vector<double> clicks;
  for (double t = 0.25; t < 30; t += 0.5) clicks.push_back(t);
  testing::Sound song = testing::Clicks(30, clicks, -28);
  const double hum = testing::DbToAmplitude(-40);
  for (std::size_t i = 0; i < song.Samples.size(); ++i) {
    const double t = static_cast<double>(i / static_cast<std::size_t>(song.Channels)) / song.SampleRate;
    song.Samples[i] += static_cast<float>(hum * std::sin(2 * std::numbers::pi * 220 * t));
  }
  testing::WriteWav(folder / "song.wav", song);

  const std::string video = folder / "summer.mp4";
  std::vector<std::string> arguments = {"make", "--size", "320x240", "--rate", "25:1", "--hold", "2",
                                        "--transition", "1", "--seed", "5", "--audio", folder / "song.wav",
                                        "--beat-sync", "--normalize", "--title", "Summer", "--subtitle", "June 2024",
                                        "--captions", "date", "--log", "-o", video};
  arguments.insert(arguments.end(), photos.begin(), photos.end());
  testing::RunOptions options;
  options.Environment = {"LC_ALL=C"};
  options.TimeoutSeconds = 120;
  const RunResult run = RunLumivor(folder, arguments, options);
  ASSERT_EQ(run.ExitCode, 0) << run.Err;

  // The log names the tempo it cut to and the gain that levelled the song (not held down by its
  // peaks, so it reaches the common level).
  double bpm = 0;
  const std::size_t beatLine = run.Err.find("Beat sync: ");
  ASSERT_NE(beatLine, std::string::npos) << run.Err;
  ASSERT_EQ(std::sscanf(run.Err.c_str() + beatLine, "Beat sync: %lf bpm", &bpm), 1) << run.Err;
  EXPECT_NEAR(bpm, 120, 1);
  const std::size_t loudnessLine = run.Err.find("Loudness: song.wav ");
  ASSERT_NE(loudnessLine, std::string::npos) << run.Err;
  const std::string loudness = run.Err.substr(loudnessLine, run.Err.find('\n', loudnessLine) - loudnessLine);
  EXPECT_NE(loudness.find(", gain +"), std::string::npos) << loudness;
  EXPECT_EQ(loudness.find("held down"), std::string::npos) << loudness;

  // Picture and sound end together.
  const int frames = testing::FramesPerFfprobe(video);
  const double soundEnd = std::atof(Output("ffprobe -v error -select_streams a:0 -show_entries format=duration "
                                           "-of csv=p=0 '" + video + "'").c_str());
  ASSERT_GT(frames, 0);
  // Five pictures (the card and four photos) of 2 s and six transitions of 1 s, moved by the beat.
  EXPECT_NEAR(frames, 6 * 25 + 5 * 50 + 2, 25);
  EXPECT_NEAR(soundEnd, frames / 25.0, 0.1);

  // ffmpeg's own meter finds the song at the common loudness.
  const std::string meter = Output("ffmpeg -nostdin -hide_banner -i '" + video + "' -map 0:a -af ebur128 -f null - 2>&1");
  const std::size_t summary = meter.find("Integrated loudness:");
  ASSERT_NE(summary, std::string::npos) << meter;
  double integrated = 0;
  ASSERT_EQ(std::sscanf(meter.c_str() + meter.find("I:", summary), "I: %lf LUFS", &integrated), 1) << meter;
  EXPECT_NEAR(integrated, -16, 1);

  // The title card (held from 1 s to 3 s, each end moved by at most a third of its hold): dark,
  // with its letters in the middle. A dated photo's hold: its caption in the lower part only.
  // The photo without a date: no words at all.
  struct Moment {
    const char* name;
    double seconds;
    bool dark;
    bool wordsInMiddle;
    bool wordsBelow;
  };
  const Moment moments[] = {
      {"the title card", 2.0, true, true, false},
      {"the first photo, dated", 5.0, false, false, true},
      {"the last photo, undated", 14.0, false, false, false},
  };
  for (const Moment& m : moments) {
    SCOPED_TRACE(m.name);
    const std::string frame = FrameAt(video, m.seconds);
    ASSERT_FALSE(frame.empty());
    const Pixels whole = CountPixels(frame, 0, Height);
    EXPECT_EQ(whole.Dark > Width * Height / 2, m.dark) << whole.Dark << " dark pixels";
    EXPECT_EQ(CountPixels(frame, Height / 3, 2 * Height / 3).White > 30, m.wordsInMiddle);
    EXPECT_EQ(CountPixels(frame, 2 * Height / 3, Height).White > 30, m.wordsBelow);
    if (!m.wordsInMiddle && !m.wordsBelow) {
      EXPECT_LT(whole.White, 5);
    }
  }
}

}  // namespace
}  // namespace lumivor
