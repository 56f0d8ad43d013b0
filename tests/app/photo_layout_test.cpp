#include "app/show/photo_layout.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "app/show/frame_sequencer.h"
#include "app/photos/picture_file.h"
#include "app/picture_test_support.h"
#include "support/scratch_folder.h"

namespace lumivor {
namespace {

using testing::ScratchFolder;
using testing::WriteWholeFile;

int red(std::uint32_t p) { return static_cast<int>((p >> 16) & 0xFF); }
int green(std::uint32_t p) { return static_cast<int>((p >> 8) & 0xFF); }
int blue(std::uint32_t p) { return static_cast<int>(p & 0xFF); }

// Red says how far across the photo a pixel is and green how far down, so a frame pixel tells which
// point of the photo it shows.
Bitmap Gradient(int width, int height) {
  Bitmap photo(width, height, 32);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      photo.SetPixel(x, y, static_cast<std::uint32_t>((std::lround(x * 255.0 / (width - 1)) << 16) |
                                                      (std::lround(y * 255.0 / (height - 1)) << 8) | 0x80));
  return photo;
}

// One-pixel black and white squares: whole-pixel scaling turns them into stripes or flat black or
// white, a filter into even grey.
Bitmap Checkerboard(int width, int height) {
  Bitmap photo(width, height, 32);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) photo.SetPixel(x, y, (x + y) % 2 == 0 ? 0xFFFFFFu : 0u);
  return photo;
}

TEST(PhotoLayoutTest, ModeNamesRoundTripAndOthersAreRefused) {
  for (ScreenMode mode : {ScreenMode::Fit, ScreenMode::Fill, ScreenMode::Blur})
    EXPECT_EQ(ParseScreenMode(ScreenModeName(mode)), mode);
  for (const char* text : {"", "Fit", "fill ", "stretch"}) EXPECT_FALSE(ParseScreenMode(text)) << text;
}

// Fill: the frame shows the centred part of the photo with the frame's shape, the photo's full
// height for a wide photo and its full width for a tall one.
TEST(PhotoLayoutTest, FillShowsTheCentredPartOfThePhotoAcrossTheWholeFrame) {
  struct Case {
    const char* name;
    int photoWidth, photoHeight, frameWidth, frameHeight;
  };
  const Case cases[] = {
      {"landscape photo, landscape frame", 300, 100, 160, 90},
      {"portrait photo, landscape frame", 100, 300, 160, 90},
      {"landscape photo, portrait frame", 300, 200, 90, 160},
      {"portrait photo, portrait frame", 120, 400, 90, 160},
      {"enlarged", 40, 30, 160, 90},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Bitmap photo = Gradient(c.photoWidth, c.photoHeight);
    Bitmap frame(c.frameWidth, c.frameHeight, 32);
    LayOutPhoto(frame, photo, ScreenMode::Fill);

    // The shown part has the frame's shape and touches two opposite edges of the photo.
    const double scale = std::max(static_cast<double>(c.frameWidth) / c.photoWidth,
                                  static_cast<double>(c.frameHeight) / c.photoHeight);
    const double shownWidth = c.frameWidth / scale;
    const double shownHeight = c.frameHeight / scale;
    const SourceArea area = FillArea(c.photoWidth, c.photoHeight, c.frameWidth, c.frameHeight);
    EXPECT_NEAR(area.Width, shownWidth, 1e-9);
    EXPECT_NEAR(area.Height, shownHeight, 1e-9);
    EXPECT_NEAR(area.Left, (c.photoWidth - shownWidth) / 2, 1e-9);
    EXPECT_NEAR(area.Top, (c.photoHeight - shownHeight) / 2, 1e-9);

    // Corners, edge middles and the centre of the frame show the photo points the geometry says.
    const int xs[] = {0, c.frameWidth / 2, c.frameWidth - 1};
    const int ys[] = {0, c.frameHeight / 2, c.frameHeight - 1};
    for (int fx : xs)
      for (int fy : ys) {
        const double px = std::clamp(area.Left + (fx + 0.5) / scale - 0.5, 0.0, c.photoWidth - 1.0);
        const double py = std::clamp(area.Top + (fy + 0.5) / scale - 0.5, 0.0, c.photoHeight - 1.0);
        const std::uint32_t pixel = frame.Pixel(fx, fy);
        EXPECT_NEAR(red(pixel), px * 255 / (c.photoWidth - 1), 3) << "frame (" << fx << ", " << fy << ")";
        EXPECT_NEAR(green(pixel), py * 255 / (c.photoHeight - 1), 3) << "frame (" << fx << ", " << fy << ")";
      }
  }
}

// Blur: the sharp photo sits exactly where fit puts it; everything around it is a darkened, even
// copy of the photo, never black.
TEST(PhotoLayoutTest, BlurPutsTheFittedPhotoOverADarkenedBlurredCopy) {
  struct Case {
    const char* name;
    int photoWidth, photoHeight, frameWidth, frameHeight;
    bool bandsLeftAndRight;
  };
  const Case cases[] = {
      {"portrait photo, landscape frame", 180, 320, 160, 90, true},
      {"landscape photo, portrait frame", 320, 180, 90, 160, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    // A checkerboard averages to grey 127-128: the photo stays at that level, the background
    // shows it darkened, and any unfiltered pixel would stand out as black or white.
    const Bitmap photo = Checkerboard(c.photoWidth, c.photoHeight);
    Bitmap frame(c.frameWidth, c.frameHeight, 32);
    LayOutPhoto(frame, photo, ScreenMode::Blur);
    const Rect fitted = FitRect(c.photoWidth, c.photoHeight, c.frameWidth, c.frameHeight);
    ASSERT_TRUE(c.bandsLeftAndRight ? fitted.Left > 4 : fitted.Top > 4);

    for (int y = 0; y < c.frameHeight; ++y)
      for (int x = 0; x < c.frameWidth; ++x) {
        const bool inside = x >= fitted.Left && x < fitted.Right && y >= fitted.Top && y < fitted.Bottom;
        const std::uint32_t pixel = frame.Pixel(x, y);
        const int expected = inside ? 128 : 128 * 140 / 256;
        ASSERT_NEAR(green(pixel), expected, 4) << (inside ? "photo" : "background") << " at (" << x << ", " << y << ")";
        ASSERT_EQ(red(pixel), blue(pixel)) << "at (" << x << ", " << y << ")";
      }
  }
}

// A photo several times the frame's size must not alias: every frame pixel of a checkerboard is
// its average, whichever mode scales it.
TEST(PhotoLayoutTest, ShrinkingAveragesInsteadOfPickingPixels) {
  const Bitmap photo = Checkerboard(533, 300);
  for (ScreenMode mode : {ScreenMode::Fill, ScreenMode::Blur}) {
    SCOPED_TRACE(std::string(ScreenModeName(mode)));
    Bitmap frame(160, 90, 32);
    LayOutPhoto(frame, photo, mode);
    for (int y = 0; y < frame.Height(); ++y)
      // A frame pixel covers 3.3 x 3.3 squares, not always as many white as black: a few levels off
      // grey, where picking pixels would give 0 or 255.
      for (int x = 0; x < frame.Width(); ++x) ASSERT_NEAR(green(frame.Pixel(x, y)), 128, 12) << x << ", " << y;
  }
}

TEST(PhotoLayoutTest, EmptyPhotoOrFrameDrawsNothingHarmful) {
  Bitmap frame(8, 6, 32);
  frame.Fill(0x123456);
  LayOutPhoto(frame, Bitmap(), ScreenMode::Blur);
  EXPECT_EQ(frame.Pixel(3, 3) & 0xFFFFFF, 0u);
  Bitmap empty;
  LayOutPhoto(empty, Checkerboard(4, 4), ScreenMode::Fill);
  EXPECT_TRUE(empty.IsEmpty());
}

// The sequencer lays its photos out by the chosen mode: its held frame is the mode's picture.
TEST(PhotoLayoutTest, SequencerHoldsThePhotoLaidOutByItsMode) {
  ScratchFolder folder;
  const Bitmap photo = Gradient(90, 160);
  std::vector<std::uint8_t> file;
  std::string error;
  ASSERT_TRUE(EncodeBmp24(photo, file, error)) << error;
  const std::string path = folder / "tall.bmp";
  ASSERT_TRUE(WriteWholeFile(path, file));
  const std::vector<std::string> list{path};

  for (ScreenMode mode : {ScreenMode::Fit, ScreenMode::Fill, ScreenMode::Blur}) {
    SCOPED_TRACE(std::string(ScreenModeName(mode)));
    FrameSequencer sequencer;
    sequencer.Photos = [&list]() -> const std::vector<std::string>& { return list; };
    sequencer.Screen = mode;
    sequencer.ResetRun(160, 90, 3, 2, false, 7u);
    Bitmap expected(160, 90, 32);
    LayOutPhoto(expected, photo, mode);
    Bitmap canvas(160, 90, 32);
    for (int i = 0; i < 3; ++i) ASSERT_EQ(sequencer.ReadFrameCanvas(canvas), 0);  // two transition, one hold
    for (int y = 0; y < 90; ++y)
      for (int x = 0; x < 160; ++x)
        ASSERT_EQ(canvas.Pixel(x, y) & 0xFFFFFF, expected.Pixel(x, y) & 0xFFFFFF) << x << ", " << y;
  }
}

}  // namespace
}  // namespace lumivor
