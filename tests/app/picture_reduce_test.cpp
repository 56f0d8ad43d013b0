#include "raster/picture_reduce.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "app/photos/exif_orientation.h"
#include "app/exif_test_support.h"
#include "app/show/frame_sequencer.h"
#include "app/photo_encoders.h"
#include "app/photos/picture_file.h"
#include "app/picture_test_support.h"

namespace lumivor {
namespace {

using testing::PngBuild;
using testing::ScratchFolder;

using testing::Blue;
using testing::Corners;
using testing::Green;
using testing::Red;
using testing::White;

// Every pixel different from its neighbours, so a pixel averaged into the wrong block shows.
Bitmap Noise(int width, int height) {
  Bitmap picture(width, height, 32);
  std::uint32_t state = 12345;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      state = state * 1664525u + 1013904223u;
      picture.SetPixel(x, y, state >> 8);
    }
  return picture;
}

std::vector<std::uint8_t> Png(const Bitmap& picture, bool interlaced) {
  PngBuild build{picture.Width(), picture.Height(), PNG_COLOR_TYPE_RGB, 8, {}, {}, {}, interlaced};
  for (int y = 0; y < picture.Height(); ++y) {
    std::vector<std::uint8_t> row;
    for (int x = 0; x < picture.Width(); ++x) {
      const std::uint32_t p = picture.Pixel(x, y);
      row.insert(row.end(), {std::uint8_t(p >> 16), std::uint8_t(p >> 8), std::uint8_t(p)});
    }
    build.Rows.push_back(row);
  }
  return testing::EncodeTestPng(build);
}

std::vector<std::uint8_t> Bmp(const Bitmap& picture) {
  std::vector<std::uint8_t> file;
  std::string error;
  EXPECT_TRUE(EncodeBmp24(picture, file, error)) << error;
  return file;
}

// A level's light in steps of 1 / 65535, worked out here from the sRGB curve.
std::uint32_t Light16(std::uint32_t level) {
  const double v = level / 255.0;
  return static_cast<std::uint32_t>(std::lround((v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4)) * 65535));
}

// The level whose light is nearest in levels: one past every level whose upper half-way light the
// average reaches.
std::uint32_t NearestLevel(double light) {
  std::uint32_t level = 0;
  while (level < 255) {
    const double v = (level + 0.5) / 255.0;
    if (light < (v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4))) break;
    ++level;
  }
  return level;
}

// The average light of each factor x factor block as its nearest level, the edge blocks of what
// they hold.
Bitmap BlockAverages(const Bitmap& full, int factor) {
  Bitmap out(ReducedSide(full.Width(), factor), ReducedSide(full.Height(), factor), 32);
  for (int by = 0; by < out.Height(); ++by)
    for (int bx = 0; bx < out.Width(); ++bx) {
      std::uint64_t sum[3] = {0, 0, 0};
      std::uint32_t count = 0;
      for (int y = by * factor; y < std::min((by + 1) * factor, full.Height()); ++y)
        for (int x = bx * factor; x < std::min((bx + 1) * factor, full.Width()); ++x, ++count)
          for (int c = 0; c < 3; ++c) sum[c] += Light16((full.Pixel(x, y) >> (8 * c)) & 0xFF);
      std::uint32_t pixel = 0;
      for (int c = 0; c < 3; ++c)
        pixel |= NearestLevel(static_cast<double>(sum[c]) / (static_cast<double>(count) * 65535.0)) << (8 * c);
      out.SetPixel(bx, by, pixel);
    }
  return out;
}

bool Near(std::uint32_t a, std::uint32_t b, int tolerance) {
  for (int c = 0; c < 3; ++c)
    if (std::abs(static_cast<int>((a >> (8 * c)) & 0xFF) - static_cast<int>((b >> (8 * c)) & 0xFF)) > tolerance)
      return false;
  return true;
}

TEST(PictureReduceTest, TheFactorKeepsWhatTheLayoutNeeds) {
  struct Case {
    const char* Name;
    int Width, Height;
    PictureSizeHint Hint;
    FactorSteps Steps;
    int NeededWidth, NeededHeight, Factor;
  };
  const Case cases[] = {
      {"no hint", 16384, 16384, {}, FactorSteps::Whole, 16384, 16384, 1},
      {"square inside a wide frame", 16384, 16384, {1280, 720, SizeRule::Inside}, FactorSteps::Whole, 720, 720, 22},
      {"square covering a wide frame", 16384, 16384, {1280, 720, SizeRule::Cover}, FactorSteps::Whole, 1280, 1280, 12},
      {"powers of two stop below", 16384, 16384, {1280, 720, SizeRule::Inside}, FactorSteps::PowerOfTwo, 720, 720, 16},
      {"portrait inside a wide frame", 3000, 4000, {1280, 720, SizeRule::Inside}, FactorSteps::Whole, 540, 720, 5},
      {"a rounded-up side limits the factor", 1200, 800, {100, 100, SizeRule::Inside}, FactorSteps::Whole, 100, 67, 11},
      {"just under twice the frame", 2559, 1439, {1280, 720, SizeRule::Inside}, FactorSteps::Whole, 1280, 720, 1},
      {"exactly twice the frame", 2560, 1440, {1280, 720, SizeRule::Inside}, FactorSteps::Whole, 1280, 720, 2},
      {"smaller than the frame", 640, 480, {1280, 720, SizeRule::Cover}, FactorSteps::Whole, 640, 480, 1},
      {"enlarged on one side by cover", 4000, 100, {1280, 720, SizeRule::Cover}, FactorSteps::Whole, 4000, 100, 1},
      {"a one-pixel box never asks for nothing", 32768, 8192, {1, 1, SizeRule::Inside}, FactorSteps::Whole, 1, 1,
       MaxReductionFactor},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    int neededWidth = 0, neededHeight = 0;
    NeededSize(c.Width, c.Height, c.Hint, neededWidth, neededHeight);
    EXPECT_EQ(neededWidth, c.NeededWidth);
    EXPECT_EQ(neededHeight, c.NeededHeight);
    const int factor = ReductionFactor(c.Width, c.Height, c.Hint, c.Steps);
    EXPECT_EQ(factor, c.Factor);
    EXPECT_GE(ReducedSide(c.Width, factor), neededWidth);
    EXPECT_GE(ReducedSide(c.Height, factor), neededHeight);
  }
}

// The row-by-row readers must give exactly the block averages of the full picture: rows top first
// whatever the file's order, the seven passes of an interlaced PNG each put where they belong, and
// the narrower blocks at the right and bottom edges.
TEST(PictureReduceTest, RowsAndPassesAverageExactlyTheirBlocks) {
  struct Case {
    const char* Name;
    std::vector<std::uint8_t> File;
    PictureSizeHint Hint;
    int Factor;
  };
  const Bitmap noise = Noise(203, 157);
  const Case cases[] = {
      {"PNG", Png(noise, false), {50, 50, SizeRule::Inside}, 4},
      {"interlaced PNG", Png(noise, true), {50, 50, SizeRule::Inside}, 4},
      {"interlaced PNG, blocks larger than a pass step", Png(noise, true), {11, 11, SizeRule::Inside}, 17},
      {"bottom-up BMP", Bmp(noise), {30, 30, SizeRule::Cover}, 5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    Bitmap full, reduced;
    std::string error;
    ASSERT_TRUE(ReadPicture(c.File, full, error)) << error;
    ASSERT_EQ(ReductionFactor(full.Width(), full.Height(), c.Hint), c.Factor);
    ASSERT_TRUE(ReadPicture(c.File, reduced, error, PictureTurn::AsStored, c.Hint)) << error;
    const Bitmap expected = BlockAverages(full, c.Factor);
    ASSERT_EQ(reduced.Width(), expected.Width());
    ASSERT_EQ(reduced.Height(), expected.Height());
    int wrong = 0;
    for (int y = 0; y < expected.Height(); ++y)
      for (int x = 0; x < expected.Width(); ++x) wrong += reduced.Pixel(x, y) != expected.Pixel(x, y);
    EXPECT_EQ(wrong, 0);
  }
}

// Reduced while decoding, fine detail keeps the brightness it shows: a one-pixel black and white
// checkerboard is half the light, level 188, not the level 128 that averaging stored levels gives;
// a flat colour keeps its level exactly, whatever the block's size.
TEST(PictureReduceTest, BlocksAreAveragedAsLight) {
  struct Case {
    const char* Name;
    std::uint32_t Even, Odd;  // the checkerboard's two colours
    PictureSizeHint Hint;
    std::uint32_t Expected;
  };
  const Case cases[] = {
      {"black and white by four", 0x000000, 0xFFFFFF, {50, 50, SizeRule::Inside}, 0xBCBCBC},
      {"black and white by ten", 0x000000, 0xFFFFFF, {20, 20, SizeRule::Inside}, 0xBCBCBC},
      {"a flat dark colour", 0x251A03, 0x251A03, {50, 50, SizeRule::Inside}, 0x251A03},
      {"a flat light colour", 0xF0C8FE, 0xF0C8FE, {7, 7, SizeRule::Cover}, 0xF0C8FE},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    Bitmap checker(200, 200, 32);
    for (int y = 0; y < checker.Height(); ++y)
      for (int x = 0; x < checker.Width(); ++x) checker.SetPixel(x, y, (x + y) % 2 == 0 ? c.Even : c.Odd);
    for (bool interlaced : {false, true}) {
      Bitmap reduced;
      std::string error;
      ASSERT_TRUE(ReadPicture(Png(checker, interlaced), reduced, error, PictureTurn::AsStored, c.Hint)) << error;
      ASSERT_LT(reduced.Width(), checker.Width());
      int wrong = 0;
      for (int y = 0; y < reduced.Height(); ++y)
        for (int x = 0; x < reduced.Width(); ++x) wrong += (reduced.Pixel(x, y) & 0xFFFFFF) != c.Expected;
      EXPECT_EQ(wrong, 0) << "interlaced " << interlaced << ": " << std::hex << reduced.Pixel(0, 0);
    }
  }
}

// Large photos given a box: at least the size the layout needs and at most twice it, turned as the
// tag says (a quarter turn swaps which stored side must cover the box's width), each quarter's
// colour where it belongs.
TEST(PictureReduceTest, LargePhotosDecodeReducedAndTheRightWayUp) {
  struct Case {
    const char* Name;
    std::vector<std::uint8_t> File;
    int Orientation;  // of the stored corners, as the quarters are expected
    PictureSizeHint Hint;
    int Tolerance;
  };
  const Bitmap wide = Corners(1600, 800);
  const std::vector<std::uint8_t> jpeg = testing::EncodeJpeg(wide);
  const auto tagged = [&](int orientation) { return testing::WithApp1(jpeg, testing::BuildExif(orientation, false)); };
  // The WebP and HEVC encoders are slow on large pictures; WebP takes the fourth byte as alpha.
  const Bitmap small = Corners(600, 300);
  Bitmap opaque = Corners(600, 300);
  for (int y = 0; y < opaque.Height(); ++y)
    for (int x = 0; x < opaque.Width(); ++x) opaque.SetPixel(x, y, opaque.Pixel(x, y) | 0xFF000000u);
  const PictureSizeHint frame{320, 180, SizeRule::Inside}, fill{320, 180, SizeRule::Cover};
  const Case cases[] = {
      {"PNG in a frame", Png(wide, false), 1, frame, 0},
      {"PNG covering a frame", Png(wide, false), 1, fill, 0},
      {"interlaced PNG", Png(wide, true), 1, {100, 100, SizeRule::Inside}, 0},
      {"BMP", Bmp(wide), 1, {64, 36, SizeRule::Inside}, 0},
      {"JPEG by its decoder alone", jpeg, 1, frame, 6},
      {"JPEG by its decoder and then averaged", jpeg, 1, {60, 34, SizeRule::Inside}, 6},
      {"JPEG turned clockwise in a frame", tagged(6), 6, frame, 6},
      {"JPEG turned clockwise covering a frame", tagged(6), 6, fill, 6},
      {"JPEG turned anticlockwise", tagged(8), 8, {100, 50, SizeRule::Inside}, 6},
      {"JPEG half a turn", tagged(3), 3, {100, 50, SizeRule::Cover}, 6},
      {"JPEG mirrored across the diagonal", tagged(5), 5, frame, 6},
      {"lossy WebP", testing::EncodeTestWebp(opaque, false), 1, {100, 50, SizeRule::Inside}, 12},
      {"lossless WebP", testing::EncodeTestWebp(opaque, true), 1, {64, 36, SizeRule::Cover}, 2},
      {"HEIC turned clockwise", testing::EncodeTestHeic(small, 6), 6, {60, 100, SizeRule::Inside}, 12},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    ASSERT_FALSE(c.File.empty()) << "the encoder failed";
    Bitmap full, reduced;
    std::string error;
    ASSERT_TRUE(ReadPicture(c.File, full, error, PictureTurn::Upright)) << error;
    ASSERT_TRUE(ReadPicture(c.File, reduced, error, PictureTurn::Upright, c.Hint)) << error;
    int neededWidth = 0, neededHeight = 0;
    NeededSize(full.Width(), full.Height(), c.Hint, neededWidth, neededHeight);
    ASSERT_LT(neededWidth, full.Width()) << "the case does not ask for a reduction";
    EXPECT_GE(reduced.Width(), neededWidth);
    EXPECT_GE(reduced.Height(), neededHeight);
    EXPECT_LE(reduced.Width(), 2 * neededWidth);
    EXPECT_LE(reduced.Height(), 2 * neededHeight);

    // Where each stored corner lands: the tag's turn applied to a picture of one pixel a quarter.
    Bitmap quarters = Corners(2, 2);
    ApplyOrientation(quarters, static_cast<Orientation>(c.Orientation));
    for (const auto& [qx, qy] : {std::pair{0, 0}, std::pair{1, 0}, std::pair{0, 1}, std::pair{1, 1}}) {
      const int x = reduced.Width() * (1 + 2 * qx) / 4, y = reduced.Height() * (1 + 2 * qy) / 4;
      EXPECT_TRUE(Near(reduced.Pixel(x, y), quarters.Pixel(qx, qy), c.Tolerance))
          << "quarter " << qx << "," << qy << ": " << std::hex << reduced.Pixel(x, y) << " instead of "
          << quarters.Pixel(qx, qy);
    }
  }
}

// A photo under twice the box keeps every pixel, so fitted frames stay what they always were.
TEST(PictureReduceTest, PhotosUnderTwiceTheBoxAreNotReduced) {
  const Bitmap noise = Noise(255, 143);
  const PictureSizeHint frame{128, 72, SizeRule::Inside};
  const std::vector<std::uint8_t> files[] = {Png(noise, false), Png(noise, true), Bmp(noise), testing::EncodeJpeg(noise),
                                             testing::EncodeTestWebp(noise, true)};
  for (const auto& file : files) {
    SCOPED_TRACE(static_cast<int>(DetectPictureFormat(file)));
    Bitmap full, hinted;
    std::string error;
    ASSERT_TRUE(ReadPicture(file, full, error)) << error;
    ASSERT_TRUE(ReadPicture(file, hinted, error, PictureTurn::AsStored, frame)) << error;
    ASSERT_EQ(hinted.Width(), full.Width());
    ASSERT_EQ(hinted.Height(), full.Height());
    EXPECT_EQ(std::memcmp(hinted.Bits(), full.Bits(), full.ImageSize()), 0);
  }
}

// The slideshow asks for what each screen mode draws: fill covers the frame, so a photo of stripes
// ten pixels wide, ten times the frame, still shows each stripe as one clean column. Asking only
// for a fitted photo would average two stripes into grey.
TEST(PictureReduceTest, TheSequencerAsksForWhatFillCovers) {
  ScratchFolder folder;
  Bitmap stripes(1280, 640, 32);
  for (int y = 0; y < stripes.Height(); ++y)
    for (int x = 0; x < stripes.Width(); ++x) stripes.SetPixel(x, y, (x / 10) % 2 != 0 ? 0xFFFFFF : 0);
  const std::string name = folder / "stripes.png";
  ASSERT_TRUE(testing::WriteWholeFile(name, Png(stripes, false)));
  const std::vector<std::string> list = {name};
  FrameSequencer sequencer;
  sequencer.Photos = [&]() -> const std::vector<std::string>& { return list; };
  sequencer.Screen = ScreenMode::Fill;
  sequencer.ResetRun(64, 64, 1, 1, false);
  Bitmap canvas(64, 64, 32);
  ASSERT_EQ(sequencer.ReadFrameCanvas(canvas), 0);  // the opening transition
  ASSERT_EQ(sequencer.ReadFrameCanvas(canvas), 0);  // the held photo
  int grey = 0;
  for (int x = 0; x < 64; ++x) {
    const std::uint32_t p = canvas.Pixel(x, 32) & 0xFFFFFF;
    grey += p != 0 && p != 0xFFFFFF;
  }
  EXPECT_EQ(grey, 0);
  EXPECT_NE(canvas.Pixel(0, 32) & 0xFFFFFF, canvas.Pixel(1, 32) & 0xFFFFFF);
}

// A turned photo much larger than the frame stands upright in it, fitted with black beside it.
TEST(PictureReduceTest, TheSequencerTurnsAReducedPhoto) {
  ScratchFolder folder;
  const std::string name = folder / "portrait.jpg";
  ASSERT_TRUE(testing::WriteWholeFile(
      name, testing::WithApp1(testing::EncodeJpeg(Corners(1600, 800)), testing::BuildExif(6, false))));
  const std::vector<std::string> list = {name};
  FrameSequencer sequencer;
  sequencer.Photos = [&]() -> const std::vector<std::string>& { return list; };
  sequencer.AutoRotate = true;
  sequencer.ResetRun(64, 64, 1, 1, false);
  Bitmap canvas(64, 64, 32);
  ASSERT_EQ(sequencer.ReadFrameCanvas(canvas), 0);
  ASSERT_EQ(sequencer.ReadFrameCanvas(canvas), 0);
  // Upright the photo is 32 wide in the middle: blue top left, red top right after the turn.
  EXPECT_EQ(canvas.Pixel(4, 32) & 0xFFFFFF, 0u);
  EXPECT_EQ(canvas.Pixel(60, 32) & 0xFFFFFF, 0u);
  EXPECT_TRUE(Near(canvas.Pixel(20, 8), Blue, 12)) << std::hex << canvas.Pixel(20, 8);
  EXPECT_TRUE(Near(canvas.Pixel(44, 8), Red, 12)) << std::hex << canvas.Pixel(44, 8);
  EXPECT_TRUE(Near(canvas.Pixel(20, 56), White, 12)) << std::hex << canvas.Pixel(20, 56);
  EXPECT_TRUE(Near(canvas.Pixel(44, 56), Green, 12)) << std::hex << canvas.Pixel(44, 56);
}

}  // namespace
}  // namespace lumivor
