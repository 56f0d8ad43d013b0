#include "app/frame_sequencer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "app/picture_file.h"
#include "app/picture_test_support.h"
#include "effects/effect.h"
#include "effects/random.h"
#include "support/scratch_folder.h"

namespace lumivor {
namespace {

using testing::EncodeJpeg;
using testing::ScratchFolder;
using testing::WriteWholeFile;

constexpr std::uint32_t Black = 0;

// Every pixel of a photo differs from its neighbours and from black, so a misplaced row or column
// or a missing picture shows in the comparison.
Bitmap MakePhoto(int width, int height) {
  Bitmap photo(width, height, 32);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      photo.SetPixel(x, y, static_cast<std::uint32_t>(((x * 7 + 1) & 0xFF) | (((y * 11 + 3) & 0xFF) << 8) |
                                                      (((x + y + 5) & 0xFF) << 16)));
  return photo;
}

std::string WriteBmpPhoto(const ScratchFolder& folder, const std::string& name, const Bitmap& photo) {
  std::vector<std::uint8_t> file;
  std::string error;
  EXPECT_TRUE(EncodeBmp24(photo, file, error)) << error;
  const std::string path = folder / name;
  EXPECT_TRUE(WriteWholeFile(path, file));
  return path;
}

Bitmap Solid(int width, int height, std::uint32_t colour) {
  Bitmap picture(width, height, 32);
  picture.Fill(colour);
  return picture;
}

// The frame the transition contract gives for old -> new at this progress.
Bitmap Composed(int effect, int progress, const Bitmap& oldPicture, const Bitmap& newPicture) {
  Bitmap frame;
  ComposeTransitionFrame(frame, oldPicture, newPicture, effect, progress);
  return frame;
}

// Colour-by-colour comparison of a served canvas (24- or 32-bit) with a 32-bit picture; the
// fourth byte is not part of a video frame.
::testing::AssertionResult SameFrame(const Bitmap& canvas, const Bitmap& expected) {
  if (canvas.Width() != expected.Width() || canvas.Height() != expected.Height())
    return ::testing::AssertionFailure() << "sizes differ";
  for (int y = 0; y < canvas.Height(); ++y)
    for (int x = 0; x < canvas.Width(); ++x)
      if ((canvas.Pixel(x, y) & 0xFFFFFF) != (expected.Pixel(x, y) & 0xFFFFFF))
        return ::testing::AssertionFailure() << "first difference at (" << x << ", " << y << "): " << std::hex
                                             << (canvas.Pixel(x, y) & 0xFFFFFF) << " instead of "
                                             << (expected.Pixel(x, y) & 0xFFFFFF);
  return ::testing::AssertionSuccess();
}

class RecordingLog : public LogMemo {
 public:
  void AddLine(const std::string& line) override { Lines.push_back(line); }
  std::vector<std::string> Lines;
};

// A sequencer wired to a photo list the test owns.
struct Slideshow {
  std::vector<std::string> List;
  bool BreakBox = false;
  int StopCalls = 0;
  FrameSequencer Sequencer;

  Slideshow() {
    Sequencer.Photos = [this]() -> const std::vector<std::string>& { return List; };
    Sequencer.BreakWhenNoPictures = [this] { return BreakBox; };
    Sequencer.StopEncoder = [this] { ++StopCalls; };
  }
};

TEST(FrameTimingTest, FrameRateAndDelayTextsAndFrameCounts) {
  struct RateCase {
    const char* Text;
    int Numerator, Denominator;
  };
  const RateCase rates[] = {
      {"30:1", 30, 1},   {"30000:1001", 30000, 1001}, {"25", 25, 1},   {"abc:2", 30, 2}, {"24:x", 24, 1},
      {"", 30, 1},       {":", 30, 1},                {" 15 : 2 ", 15, 2}, {"12:5:1", 12, 1}, {"99999999999:1", 30, 1},
  };
  for (const auto& c : rates) {
    SCOPED_TRACE(c.Text);
    const FrameRateParts parts = ParseFrameRateText(c.Text);
    EXPECT_EQ(parts.Numerator, c.Numerator);
    EXPECT_EQ(parts.Denominator, c.Denominator);
  }

  struct DelayCase {
    const char* Text;
    double Seconds;
  };
  const DelayCase delays[] = {{"5", 5.0},   {"2.5", 2.5}, {" 0.25 ", 0.25}, {"abc", 2.0}, {"", 2.0},
                              {"nan", 2.0}, {"inf", 2.0}, {"1,5", 2.0},     {"3x", 2.0},  {"-1", -1.0}};
  for (const auto& c : delays) {
    SCOPED_TRACE(c.Text);
    EXPECT_EQ(ParseDelayText(c.Text), c.Seconds);
  }

  struct CountCase {
    FrameRateParts Rate;
    double Delay;
    int Frames;
  };
  const CountCase counts[] = {
      {{30, 1}, 5, 150}, {{30, 1}, 2, 60},   {{1, 1}, 2.5, 2},        {{1, 1}, 3.5, 4},  {{5, 2}, 1, 2},
      {{30, 1}, 0, 1},   {{30, 1}, -1, 1},   {{30000, 1001}, 2, 60},  {{30, 0}, 2, 1},   {{1, 3}, 1, 1},
  };
  for (const auto& c : counts) {
    SCOPED_TRACE(std::to_string(c.Rate.Numerator) + ":" + std::to_string(c.Rate.Denominator) + " for " +
                 std::to_string(c.Delay));
    EXPECT_EQ(CountFrames(c.Rate, c.Delay), c.Frames);
  }
}

TEST(FrameTimingTest, FitRectCentresThePictureOnTheAxisItDoesNotFill) {
  struct Case {
    int PictureWidth, PictureHeight, FrameWidth, FrameHeight;
    Rect Expected;
  };
  const Case cases[] = {
      {640, 480, 320, 240, {0, 0, 320, 240}},    // same aspect, reduced: fills exactly
      {16, 12, 320, 240, {0, 0, 320, 240}},      // same aspect, enlarged
      {300, 400, 320, 240, {70, 0, 250, 240}},   // portrait: bars left and right
      {400, 100, 320, 240, {0, 80, 320, 160}},   // wide: bars above and below
      {10, 5, 10, 10, {0, 2, 10, 8}},            // margin 2.5 rounds to even 2
      {10, 7, 10, 10, {0, 2, 10, 8}},            // margin 1.5 rounds to even 2
      {0, 7, 10, 10, {0, 0, 10, 10}},            // no picture: nothing to divide by
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.PictureWidth) + "x" + std::to_string(c.PictureHeight) + " in " +
                 std::to_string(c.FrameWidth) + "x" + std::to_string(c.FrameHeight));
    EXPECT_EQ(FitRect(c.PictureWidth, c.PictureHeight, c.FrameWidth, c.FrameHeight), c.Expected);
  }
}

// One photo at "30:1" held 5 seconds with 2-second transitions: an opening transition from black
// (effect 1), the held photo, a closing transition to black (effect 2), two black frames, the end.
TEST(FrameSequencerTest, OnePhotoStreamHasEveryFrameInItsPlace) {
  ScratchFolder folder;
  // 30 pixels of 24 bits leave two bytes of row padding in the canvas.
  constexpr int W = 30, H = 20;
  const Bitmap photo = MakePhoto(W, H);
  Slideshow show;
  show.List = {WriteBmpPhoto(folder, "photo.bmp", photo)};
  RecordingLog log;
  show.Sequencer.Log = &log;
  const FrameRateParts rate = ParseFrameRateText("30:1");
  show.Sequencer.ResetRun(W, H, CountFrames(rate, ParseDelayText("5")), CountFrames(rate, ParseDelayText("2")), false);
  ASSERT_EQ(show.Sequencer.HoldFrames(), 150);
  ASSERT_EQ(show.Sequencer.TransitionFrames(), 60);

  const Bitmap black = Solid(W, H, Black);
  Bitmap canvas(W, H, 24);
  show.Sequencer.ReadHeader();
  for (int i = 0; i < 272; ++i) {
    SCOPED_TRACE("frame " + std::to_string(i));
    ASSERT_EQ(show.Sequencer.ReadFrameCanvas(canvas), 0);
    if (i < 60)
      ASSERT_TRUE(SameFrame(canvas, Composed(1, i * 100 / 60, black, photo)));
    else if (i < 210)
      ASSERT_TRUE(SameFrame(canvas, photo));
    else if (i < 270)
      ASSERT_TRUE(SameFrame(canvas, Composed(2, (i - 210) * 100 / 60, photo, black)));
    else
      ASSERT_TRUE(SameFrame(canvas, black));
  }
  EXPECT_EQ(show.Sequencer.ReadFrameCanvas(canvas), -1);
  EXPECT_EQ(show.Sequencer.ReadFrameCanvas(canvas), -1);
  show.Sequencer.ReadClose();
  EXPECT_EQ(log.Lines, (std::vector<std::string>{"FrameInput read header", "FrameInput read close"}));
  EXPECT_EQ(show.StopCalls, 0);
}

}  // namespace
}  // namespace lumivor
