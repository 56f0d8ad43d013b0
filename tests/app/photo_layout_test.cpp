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

// The sRGB curve computed directly, with no table, for the references to be made with.
double light_of(double level) {
  const double c = level / 255;
  return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}
double level_of(double light) {
  return 255 * (light <= 0.0031308 ? light * 12.92 : 1.055 * std::pow(light, 1 / 2.4) - 0.055);
}
// Half of white's light as a level: what an even mix of black and white shows.
const int HalfLight = static_cast<int>(std::lround(level_of(0.5)));

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
// white, a filter into even grey. Half the light of white is level 188, not 128: averaging the
// stored levels instead of the light makes fine detail darker than it looks.
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
    // A checkerboard averages to the grey of half its light: the photo stays at that level, the
    // background shows it darkened, and any unfiltered pixel would stand out as black or white.
    const Bitmap photo = Checkerboard(c.photoWidth, c.photoHeight);
    Bitmap frame(c.frameWidth, c.frameHeight, 32);
    LayOutPhoto(frame, photo, ScreenMode::Blur);
    const Rect fitted = FitRect(c.photoWidth, c.photoHeight, c.frameWidth, c.frameHeight);
    ASSERT_TRUE(c.bandsLeftAndRight ? fitted.Left > 4 : fitted.Top > 4);

    for (int y = 0; y < c.frameHeight; ++y)
      for (int x = 0; x < c.frameWidth; ++x) {
        const bool inside = x >= fitted.Left && x < fitted.Right && y >= fitted.Top && y < fitted.Bottom;
        const std::uint32_t pixel = frame.Pixel(x, y);
        const int expected = inside ? HalfLight : HalfLight * 140 / 256;
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
      // grey, where picking pixels would give 0 or 255 and averaging levels 128.
      for (int x = 0; x < frame.Width(); ++x)
        ASSERT_NEAR(green(frame.Pixel(x, y)), HalfLight, 10) << x << ", " << y;
  }
}

// Fine detail of every kind in one photo: one-pixel checkerboard in red, one-pixel stripes in green,
// and in blue a noise that no regular sampling can hit on average.
Bitmap DetailedPhoto(int width, int height) {
  Bitmap photo(width, height, 32);
  std::uint32_t state = 12345;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      state = state * 1664525u + 1013904223u;
      const std::uint32_t r = (x + y) % 2 == 0 ? 255 : 0;
      const std::uint32_t g = x % 2 == 0 ? 230 : 20;
      const std::uint32_t b = state >> 24;
      photo.SetPixel(x, y, (r << 16) | (g << 8) | b);
    }
  return photo;
}

// The reference shrink: each frame pixel the exact mean of the light of the ratio x ratio block it
// covers, rounded to the nearest level.
Bitmap BoxShrink(const Bitmap& photo, int ratio) {
  Bitmap reduced(photo.Width() / ratio, photo.Height() / ratio, 32);
  for (int y = 0; y < reduced.Height(); ++y)
    for (int x = 0; x < reduced.Width(); ++x) {
      std::uint32_t pixel = 0;
      for (int shift : {0, 8, 16}) {
        double sum = 0;
        for (int dy = 0; dy < ratio; ++dy)
          for (int dx = 0; dx < ratio; ++dx)
            sum += light_of((photo.Pixel(x * ratio + dx, y * ratio + dy) >> shift) & 0xFF);
        pixel |= static_cast<std::uint32_t>(std::lround(level_of(sum / (ratio * ratio)))) << shift;
      }
      reduced.SetPixel(x, y, pixel);
    }
  return reduced;
}

// Peak signal to noise over blue, green and red, in dB; 100 for identical pictures.
double Psnr(const Bitmap& a, const Bitmap& b) {
  double squares = 0;
  for (int y = 0; y < a.Height(); ++y)
    for (int x = 0; x < a.Width(); ++x)
      for (int shift : {0, 8, 16}) {
        const double d = static_cast<double>((a.Pixel(x, y) >> shift) & 0xFF) - ((b.Pixel(x, y) >> shift) & 0xFF);
        squares += d * d;
      }
  const double mean = squares / (3.0 * a.Width() * a.Height());
  return mean == 0 ? 100 : 10 * std::log10(255.0 * 255.0 / mean);
}

// A detailed photo shrunk by whole ratios: every mode, smooth, comes out as the box filter's
// picture; the whole-pixel fit does not, which is what makes the threshold mean something.
TEST(PhotoLayoutTest, ShrunkDetailMatchesABoxFilteredReference) {
  struct Case {
    ScreenMode mode;
    PictureScaler scaler;
    int ratio;
    bool close;  // at least 45 dB from the reference; else under 20 dB
  };
  const Case cases[] = {
      {ScreenMode::Fit, PictureScaler::Smooth, 2, true},     {ScreenMode::Fit, PictureScaler::Smooth, 3, true},
      {ScreenMode::Fit, PictureScaler::Smooth, 4, true},     {ScreenMode::Fill, PictureScaler::Smooth, 3, true},
      {ScreenMode::Blur, PictureScaler::Smooth, 3, true},    {ScreenMode::Fill, PictureScaler::Nearest, 4, true},
      {ScreenMode::Fit, PictureScaler::Nearest, 2, false},   {ScreenMode::Fit, PictureScaler::Nearest, 3, false},
      {ScreenMode::Fit, PictureScaler::Nearest, 4, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(ScreenModeName(c.mode)) + " " + std::string(PictureScalerName(c.scaler)) + " 1/" +
                 std::to_string(c.ratio));
    // The frame's shape, so that fit, fill and blur all cover the whole frame with the photo.
    const Bitmap photo = DetailedPhoto(160 * c.ratio, 90 * c.ratio);
    Bitmap frame(160, 90, 32);
    LayOutPhoto(frame, photo, c.mode, c.scaler);
    const double psnr = Psnr(frame, BoxShrink(photo, c.ratio));
    if (c.close) {
      EXPECT_GE(psnr, 45.0);
    } else {
      EXPECT_LT(psnr, 20.0);
    }
  }
}

// Enlarging interpolates: a smooth photo four times smaller than the frame comes out close to the
// same surface drawn at the frame's size, where whole pixels would give steps.
TEST(PhotoLayoutTest, EnlargedPhotosAreInterpolated) {
  const auto surface = [](double u, double v) {  // u, v in [0, 1)
    return std::lround(127.5 + 120 * std::sin(14.0 * u + 1) * std::cos(10.0 * v));
  };
  const auto draw = [&](int width, int height) {
    Bitmap picture(width, height, 32);
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x) {
        const auto level = static_cast<std::uint32_t>(surface((x + 0.5) / width, (y + 0.5) / height));
        picture.SetPixel(x, y, level * 0x010101u);
      }
    return picture;
  };
  const Bitmap photo = draw(40, 30);
  const Bitmap reference = draw(160, 120);
  Bitmap smooth(160, 120, 32), nearest(160, 120, 32);
  LayOutPhoto(smooth, photo, ScreenMode::Fit, PictureScaler::Smooth);
  LayOutPhoto(nearest, photo, ScreenMode::Fit, PictureScaler::Nearest);
  EXPECT_GE(Psnr(smooth, reference), 40.0);
  EXPECT_LT(Psnr(nearest, reference), 34.0);
  // No level is darkened by truncation: a flat photo stays its exact colour at any ratio.
  for (const int width : {7, 40, 160, 479}) {
    Bitmap flat(width, width * 3 / 4 + 1, 32);
    flat.Fill(0x00817F7D);
    Bitmap frame(160, 120, 32);
    LayOutPhoto(frame, flat, ScreenMode::Fill);
    for (const auto& [x, y] : {std::pair{0, 0}, std::pair{80, 60}, std::pair{159, 119}})
      EXPECT_EQ(frame.Pixel(x, y) & 0xFFFFFF, 0x817F7Du) << width << " at " << x << ", " << y;
  }
}

// Two levels in a fine pattern shrink to the level of their mean light, whichever way the pattern
// runs and whatever the two levels; the mean of the levels would be visibly darker.
TEST(PictureScaleTest, FinePatternsShrinkToTheirMeanLight) {
  struct Case {
    const char* name;
    int first, second;  // levels of the two kinds of pixel
    int ratio;
    int (*kind)(int x, int y);  // 0 for first, 1 for second
  };
  const auto squares = [](int x, int y) { return (x + y) % 2; };
  const auto columns = [](int x, int) { return x % 2; };
  const auto rows = [](int, int y) { return y % 2; };
  const Case cases[] = {
      {"black and white squares by 2", 0, 255, 2, squares}, {"white and black squares by 2", 255, 0, 2, squares},
      {"black and white squares by 4", 0, 255, 4, squares}, {"black and white columns by 2", 0, 255, 2, columns},
      {"black and white rows by 2", 0, 255, 2, rows},       {"black and grey squares by 2", 0, 128, 2, squares},
      {"two greys in rows by 2", 64, 192, 2, rows},         {"two dark levels by 2", 10, 20, 2, squares},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Bitmap photo(24, 16, 32);
    for (int y = 0; y < photo.Height(); ++y)
      for (int x = 0; x < photo.Width(); ++x)
        photo.SetPixel(x, y, static_cast<std::uint32_t>(c.kind(x, y) ? c.second : c.first) * 0x010101u);
    Bitmap small(24 / c.ratio, 16 / c.ratio, 32);
    ScaleArea(small, {0, 0, small.Width(), small.Height()}, photo, {0, 0, 24, 16});
    const double expected = level_of((light_of(c.first) + light_of(c.second)) / 2);
    for (int y = 0; y < small.Height(); ++y)
      for (int x = 0; x < small.Width(); ++x) {
        const std::uint32_t pixel = small.Pixel(x, y);
        ASSERT_NEAR(green(pixel), expected, 1) << x << ", " << y;
        ASSERT_EQ(red(pixel), green(pixel)) << x << ", " << y;
        ASSERT_EQ(blue(pixel), green(pixel)) << x << ", " << y;
      }
  }
}

// A flat colour comes out as exactly that colour, every level of every byte, shrunk or enlarged by
// whole or uneven ratios and from any part of the picture: no level drifts through the curve.
TEST(PictureScaleTest, FlatColoursKeepTheirExactLevels) {
  struct Case {
    const char* name;
    int sourceWidth, sourceHeight;
    SourceArea area;
    int destWidth, destHeight;
  };
  const Case cases[] = {
      {"shrunk by 2", 12, 8, {0, 0, 12, 8}, 6, 4},
      {"shrunk unevenly", 37, 23, {0, 0, 37, 23}, 9, 7},
      {"enlarged unevenly", 5, 4, {0, 0, 5, 4}, 17, 11},
      {"a fractional part", 20, 20, {1.3, 2.7, 13.9, 9.2}, 6, 5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    for (std::uint32_t level = 0; level < 256; ++level) {
      // Each byte a different level, so that all four cover all 256 levels between them.
      const std::uint32_t colour = (level << 24) | (((level * 7 + 3) & 0xFF) << 16) | ((255 - level) << 8) | level;
      Bitmap photo(c.sourceWidth, c.sourceHeight, 32);
      for (int y = 0; y < photo.Height(); ++y)
        for (int x = 0; x < photo.Width(); ++x) photo.SetPixel(x, y, colour);
      Bitmap scaled(c.destWidth, c.destHeight, 32);
      ScaleArea(scaled, {0, 0, c.destWidth, c.destHeight}, photo, c.area);
      for (int y = 0; y < scaled.Height(); ++y)
        for (int x = 0; x < scaled.Width(); ++x)
          ASSERT_EQ(scaled.Pixel(x, y), colour) << "level " << level << " at " << x << ", " << y;
    }
  }
}

// Enlarging blends the light of the two nearest pixels too: between a black and a white pixel the
// levels follow the light, brighter than a blend of the levels halfway along.
TEST(PictureScaleTest, EnlargingInterpolatesLight) {
  Bitmap photo(2, 1, 32);
  photo.SetPixel(0, 0, 0);
  photo.SetPixel(1, 0, 0xFFFFFF);
  constexpr int Width = 16;
  Bitmap wide(Width, 1, 32);
  ScaleArea(wide, {0, 0, Width, 1}, photo, {0, 0, 2, 1});
  for (int x = 0; x < Width; ++x) {
    // The pixel's centre in photo pixels, between the two centres at 0 and 1; the edges hold.
    const double along = std::clamp((x + 0.5) * 2 / Width - 0.5, 0.0, 1.0);
    EXPECT_NEAR(green(wide.Pixel(x, 0)), level_of(along), 1) << x;
  }
  EXPECT_GE(green(wide.Pixel(Width / 2, 0)), 150);  // a blend of levels gives about 143
}

// Nearest keeps the frames the slideshow always made: the photo stretched by whole pixels into its
// fitted place on black, through the sequencer as through the layout.
TEST(PhotoLayoutTest, NearestFitIsTheWholePixelStretch) {
  ScratchFolder folder;
  struct Case {
    int photoWidth, photoHeight;
    bool viaSequencer;  // a photo of twice the frame or more is decoded reduced, so only the layout
  };
  const Case cases[] = {{533, 300, false}, {90, 160, true}, {160, 90, true}, {47, 31, true}, {250, 150, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.photoWidth) + "x" + std::to_string(c.photoHeight));
    const Bitmap photo = DetailedPhoto(c.photoWidth, c.photoHeight);
    Bitmap expected(160, 90, 32);
    expected.Fill(0);
    const Rect place = FitRect(c.photoWidth, c.photoHeight, 160, 90);
    StretchRect(expected, place.Left, place.Top, place.Width(), place.Height(), photo, 0, 0, c.photoWidth,
                c.photoHeight);

    Bitmap laidOut(160, 90, 32);
    LayOutPhoto(laidOut, photo, ScreenMode::Fit, PictureScaler::Nearest);
    int differences = 0;
    for (int y = 0; y < 90; ++y)
      for (int x = 0; x < 160; ++x) differences += (laidOut.Pixel(x, y) & 0xFFFFFF) != (expected.Pixel(x, y) & 0xFFFFFF);
    EXPECT_EQ(differences, 0);
    if (!c.viaSequencer) continue;

    std::vector<std::uint8_t> file;
    std::string error;
    ASSERT_TRUE(EncodeBmp24(photo, file, error)) << error;
    const std::string path = folder / "photo.bmp";
    ASSERT_TRUE(WriteWholeFile(path, file));
    const std::vector<std::string> list{path};
    FrameSequencer sequencer;
    sequencer.Photos = [&list]() -> const std::vector<std::string>& { return list; };
    sequencer.Scaler = PictureScaler::Nearest;
    sequencer.ResetRun(160, 90, 3, 2, false, 7u);
    Bitmap canvas(160, 90, 32);
    for (int i = 0; i < 3; ++i) ASSERT_EQ(sequencer.ReadFrameCanvas(canvas), 0);  // two transition, one hold
    differences = 0;
    for (int y = 0; y < 90; ++y)
      for (int x = 0; x < 160; ++x) differences += (canvas.Pixel(x, y) & 0xFFFFFF) != (expected.Pixel(x, y) & 0xFFFFFF);
    EXPECT_EQ(differences, 0);
  }
  for (PictureScaler scaler : {PictureScaler::Smooth, PictureScaler::Nearest})
    EXPECT_EQ(ParsePictureScaler(PictureScalerName(scaler)), scaler);
  for (const char* text : {"", "Smooth", "bilinear", "nearest "}) EXPECT_FALSE(ParsePictureScaler(text)) << text;
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
