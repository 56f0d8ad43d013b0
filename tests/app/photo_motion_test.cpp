#include "app/show/photo_motion.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "app/run/conversion_job.h"
#include "app/show/frame_sequencer.h"
#include "app/photos/picture_file.h"
#include "app/picture_test_support.h"
#include "app/settings/settings_store.h"
#include "support/scratch_folder.h"

namespace lumivor {
namespace {

using testing::ScratchFolder;

constexpr int FrameWidth = 160;
constexpr int FrameHeight = 90;

struct Centre {
  double X = 0;
  double Y = 0;
};

// The brightness-weighted centre of what is not black.
Centre BrightCentre(const Bitmap& picture) {
  double total = 0, x = 0, y = 0;
  for (int row = 0; row < picture.Height(); ++row)
    for (int column = 0; column < picture.Width(); ++column) {
      const double value = (picture.Pixel(column, row) >> 8) & 0xFF;
      total += value;
      x += value * column;
      y += value * row;
    }
  return total > 0 ? Centre{x / total, y / total} : Centre{-1, -1};
}

// A photo of the frame's shape, black with one white square away from the middle.
std::string WriteDotPhoto(const ScratchFolder& folder) {
  Bitmap photo(320, 180, 32);
  photo.Fill(0);
  for (int y = 50; y < 58; ++y)
    for (int x = 90; x < 98; ++x) photo.SetPixel(x, y, 0xFFFFFF);
  return testing::WriteBmpPhoto(folder, "dot.bmp", photo);
}

struct Show {
  std::vector<std::string> List;
  FrameSequencer Sequencer;

  Show(std::vector<std::string> photos, MotionKind motion, int strength = DefaultMotionStrength)
      : List(std::move(photos)) {
    Sequencer.Photos = [this]() -> const std::vector<std::string>& { return List; };
    Sequencer.Motion = motion;
    Sequencer.MotionStrength = strength;
  }
};

constexpr int Hold = 40;
constexpr int Transition = 10;

// The photo as it moves through one show of a single photo: from the To picture while it comes in
// and is held, from the From picture while it goes out.
std::vector<Bitmap> MovingPictures(MotionKind motion, std::uint32_t seed, const std::string& photo) {
  Show show({photo}, motion);
  show.Sequencer.ResetRun(FrameWidth, FrameHeight, Hold, Transition, false, seed);
  std::vector<Bitmap> pictures;
  Bitmap canvas(FrameWidth, FrameHeight, 24);
  for (int frame = 0; frame < 2 * Transition + Hold; ++frame) {
    EXPECT_EQ(show.Sequencer.ReadFrameCanvas(canvas), 0);
    Bitmap copy;
    copy.Assign(frame < Transition + Hold ? show.Sequencer.ToBitmap() : show.Sequencer.FromBitmap());
    pictures.push_back(std::move(copy));
  }
  return pictures;
}

bool SamePixels(const Bitmap& a, const Bitmap& b) {
  return a.Width() == b.Width() && a.Height() == b.Height() && a.ImageSize() == b.ImageSize() &&
         std::equal(a.Bits(), a.Bits() + a.ImageSize(), b.Bits());
}

TEST(PhotoMotionTest, KindNamesRoundTripAndOthersAreRefused) {
  for (MotionKind kind : {MotionKind::None, MotionKind::Zoom, MotionKind::Pan, MotionKind::Random})
    EXPECT_EQ(ParseMotionKind(MotionKindName(kind)), kind);
  for (const char* text : {"", "Zoom", "kenburns", "pan "}) EXPECT_FALSE(ParseMotionKind(text)) << text;
}

// Smooth: the dot glides less than a pixel from frame to frame, always the same way on each axis,
// through the transition that brings it in, the hold and the transition that takes it away.
TEST(PhotoMotionTest, TheDotGlidesSteadilyFromFirstToLastFrame) {
  ScratchFolder folder;
  const std::string photo = WriteDotPhoto(folder);
  struct Case {
    MotionKind kind;
    std::uint32_t seed;
    double leastTravel;  // pixels the dot must cover, so the check is not passed by standing still
  };
  const Case cases[] = {
      {MotionKind::Pan, 1, 8.0},   {MotionKind::Pan, 2, 8.0},   {MotionKind::Pan, 3, 8.0},
      {MotionKind::Zoom, 1, 0.5},  {MotionKind::Zoom, 2, 0.5},  {MotionKind::Zoom, 3, 0.5},
      {MotionKind::Random, 4, 0.5}, {MotionKind::Random, 5, 0.5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(MotionKindName(c.kind)) + " seed " + std::to_string(c.seed));
    const std::vector<Bitmap> pictures = MovingPictures(c.kind, c.seed, photo);
    std::vector<Centre> centres;
    for (const Bitmap& picture : pictures) centres.push_back(BrightCentre(picture));
    double firstDx = 0, firstDy = 0;
    for (std::size_t i = 1; i < centres.size(); ++i) {
      const double dx = centres[i].X - centres[i - 1].X;
      const double dy = centres[i].Y - centres[i - 1].Y;
      ASSERT_LT(std::hypot(dx, dy), 1.0) << "jump between frames " << i - 1 << " and " << i;
      if (firstDx == 0) firstDx = dx;
      if (firstDy == 0) firstDy = dy;
      // Rounding to whole colour levels may wobble a hundredth of a pixel; a step back is more.
      ASSERT_GE(dx * (firstDx < 0 ? -1 : 1), -0.02) << "x turned back at frame " << i;
      ASSERT_GE(dy * (firstDy < 0 ? -1 : 1), -0.02) << "y turned back at frame " << i;
    }
    const double travel = std::hypot(centres.back().X - centres.front().X, centres.back().Y - centres.front().Y);
    EXPECT_GT(travel, c.leastTravel);
    EXPECT_FALSE(SamePixels(pictures.front(), pictures.back()));
  }
}

TEST(PhotoMotionTest, ASeedMakesTheSameMovesAgainAndAnotherSeedOthers) {
  ScratchFolder folder;
  const std::string photo = WriteDotPhoto(folder);
  const std::vector<Bitmap> first = MovingPictures(MotionKind::Random, 42, photo);
  const std::vector<Bitmap> again = MovingPictures(MotionKind::Random, 42, photo);
  ASSERT_EQ(first.size(), again.size());
  for (std::size_t i = 0; i < first.size(); ++i) ASSERT_TRUE(SamePixels(first[i], again[i])) << "frame " << i;

  int differing = 0;
  for (std::uint32_t seed : {1u, 2u, 3u, 4u}) {
    const std::vector<Bitmap> other = MovingPictures(MotionKind::Random, seed, photo);
    if (!SamePixels(other[Transition + Hold / 2], first[Transition + Hold / 2])) ++differing;
  }
  EXPECT_GT(differing, 0);
}

// The transition composes the moving pictures: a crossfade-free check is that its frames are
// composed afresh although the progress steps only every other frame.
TEST(PhotoMotionTest, TransitionFramesFollowTheMovingPictures) {
  ScratchFolder folder;
  const std::string photo = WriteDotPhoto(folder);
  Show show({photo, photo}, MotionKind::Pan);
  // 200 transition frames: the progress in percent stays the same for two frames at a time.
  show.Sequencer.ResetRun(FrameWidth, FrameHeight, 20, 200, false, 9u, {1});
  Bitmap canvas(FrameWidth, FrameHeight, 32);
  Bitmap previous;
  int frames = 0, unchanged = 0;
  for (; frames < 200 + 20 + 200; ++frames) {
    ASSERT_EQ(show.Sequencer.ReadFrameCanvas(canvas), 0);
    if (frames >= 220 && frames < 420 && !previous.IsEmpty() && SamePixels(canvas, previous)) ++unchanged;
    previous.Assign(canvas);
  }
  EXPECT_EQ(unchanged, 0);
}

// Without motion nothing is resampled: the held frame is the still slideshow's.
TEST(PhotoMotionTest, NoMotionHoldsTheStillPicture) {
  ScratchFolder folder;
  const std::string photo = WriteDotPhoto(folder);
  Show moving({photo}, MotionKind::None);
  moving.Sequencer.ResetRun(FrameWidth, FrameHeight, Hold, Transition, false, 5u);
  Bitmap canvas(FrameWidth, FrameHeight, 32);
  for (int i = 0; i <= Transition; ++i) ASSERT_EQ(moving.Sequencer.ReadFrameCanvas(canvas), 0);
  Bitmap held;
  held.Assign(canvas);
  for (int i = 0; i < Hold - 2; ++i) ASSERT_EQ(moving.Sequencer.ReadFrameCanvas(canvas), 0);
  EXPECT_TRUE(SamePixels(canvas, held));
  Bitmap still(FrameWidth, FrameHeight, 32);
  LayOutPhoto(still, LoadPhotoFile(photo), ScreenMode::Fit);
  EXPECT_TRUE(SamePixels(canvas, still));
}

// However long the hold and transitions, a zoom stops at twice the frame, which bounds the memory
// of the scaled copy.
TEST(PhotoMotionTest, LongMovesAreSlowedToABoundedZoom) {
  const MotionPath path = ChooseMotionPath(MotionKind::Zoom, 100, 100000, 10, 3);
  EXPECT_LE(path.LargestZoom(), 2.0);
  EXPECT_GE(std::min(path.ZoomStart, path.ZoomEnd), 1.0);
  const MotionPath still = ChooseMotionPath(MotionKind::Random, 0, 100, 10, 3);
  EXPECT_EQ(still.LargestZoom(), 1.0);
}

// The window's settings and the command line reach the sequencer through the stored keys; what
// the program does not know falls back to still photos fitted on black.
TEST(PictureSettingsTest, StoredTextsChooseModeMotionAndStrength) {
  struct Case {
    const char* screen;  // nullptr: key missing
    const char* motion;
    const char* strength;
    ScreenMode expectedScreen;
    MotionKind expectedMotion;
    int expectedStrength;
  };
  const Case cases[] = {
      {nullptr, nullptr, nullptr, ScreenMode::Fit, MotionKind::None, DefaultMotionStrength},
      {"fill", "zoom", "25", ScreenMode::Fill, MotionKind::Zoom, 25},
      {"blur", "random", "0", ScreenMode::Blur, MotionKind::Random, 0},
      {"fit", "pan", "100", ScreenMode::Fit, MotionKind::Pan, 100},
      {"stretch", "shake", "250", ScreenMode::Fit, MotionKind::None, 100},
      {"BLUR", "Zoom", "-5", ScreenMode::Fit, MotionKind::None, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.screen ? c.screen : "-") + " " + (c.motion ? c.motion : "-"));
    MemorySettingsStore settings;
    if (c.screen) settings.WriteString(settings_key::ScreenMode, c.screen);
    if (c.motion) settings.WriteString(settings_key::Motion, c.motion);
    if (c.strength) settings.WriteString(settings_key::MotionStrength, c.strength);
    FrameSequencer sequencer;
    sequencer.Screen = ScreenMode::Blur;  // whatever an earlier run left
    sequencer.Motion = MotionKind::Pan;
    ApplyPictureSettings(settings, sequencer);
    EXPECT_EQ(sequencer.Screen, c.expectedScreen);
    EXPECT_EQ(sequencer.Motion, c.expectedMotion);
    EXPECT_EQ(sequencer.MotionStrength, c.expectedStrength);
  }
}

}  // namespace
}  // namespace lumivor
