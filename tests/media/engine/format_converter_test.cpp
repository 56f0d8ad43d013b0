#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "media/engine/ffmpeg_exception.h"
#include "media/engine/format_converter.h"
#include "media/runtime/ff_load.h"
#include "media/runtime/runtime_errors.h"

namespace lumivor {
namespace {

// A bgra picture whose top row is one colour and whose other rows are another, so that a picture
// copied upside down or into the wrong format shows.
struct BgraPicture {
  BgraPicture(int width, int height, const std::uint8_t top[4], const std::uint8_t rest[4])
      : Width(width), Height(height), Pixels(static_cast<std::size_t>(width) * height * 4) {
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x) std::memcpy(&Pixels[(y * width + x) * 4], y == 0 ? top : rest, 4);
    }
    Picture.Data[0] = Pixels.data();
    Picture.LineSize[0] = width * 4;
  }
  int Width;
  int Height;
  std::vector<std::uint8_t> Pixels;
  PicturePlanes Picture;
};

class FormatConverter : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(TFFLoader::Instance().Load(AllLibraries)) << TFFLoader::Instance().LastError(); }
};

// Colours every depth holds exactly: red and blue at full scale on the 3-3-2 and 5-6-5 grids.
const std::uint8_t kTop[4] = {0, 0, 255, 255};     // red
const std::uint8_t kRest[4] = {255, 0, 0, 255};    // blue

TEST_F(FormatConverter, FillsTheBitmapAtEveryDepthTopRowFirst) {
  struct Case {
    int Bits;
    int StoredBits;
    bool Converted;
    std::vector<std::uint8_t> Top;
    std::vector<std::uint8_t> Rest;
  };
  const Case cases[] = {
      {32, 32, false, {0, 0, 255, 255}, {255, 0, 0, 255}},
      {24, 24, true, {0, 0, 255}, {255, 0, 0}},
      {16, 16, true, {0x00, 0xF8}, {0x1F, 0x00}},  // 5-6-5, little-endian
      {15, 16, true, {0x00, 0x7C}, {0x1F, 0x00}},  // 5-5-5
      {8, 8, true, {0x07}, {0xC0}},                // 3-3-2, blue in the top bits
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Bits);
    TFormatConverter converter;
    converter.SetBitsPixel(c.Bits);
    EXPECT_EQ(converter.BitsPixel(), c.StoredBits);
    BgraPicture picture(4, 2, kTop, kRest);
    ASSERT_TRUE(converter.PictureToBitmap(picture.Picture, AV_PIX_FMT_BGRA, true, 2, 4));
    EXPECT_EQ(converter.CurrentIsConverted(), c.Converted);
    const Bitmap& bitmap = converter.GetBitmap();
    ASSERT_EQ(bitmap.Width(), 4);
    ASSERT_EQ(bitmap.Height(), 2);
    ASSERT_EQ(bitmap.BitsPerPixel(), c.StoredBits);
    const std::size_t bytes = c.Top.size();
    for (int x = 0; x < 4; ++x) {
      EXPECT_EQ(std::vector<std::uint8_t>(bitmap.ScanLine(0) + x * bytes, bitmap.ScanLine(0) + (x + 1) * bytes), c.Top)
          << "top row, x " << x;
      EXPECT_EQ(std::vector<std::uint8_t>(bitmap.ScanLine(1) + x * bytes, bitmap.ScanLine(1) + (x + 1) * bytes), c.Rest)
          << "second row, x " << x;
    }
  }
}

TEST_F(FormatConverter, EightBitBitmapsCarryTheThreeThreeTwoPalette) {
  TFormatConverter converter;
  converter.SetBitsPixel(8);
  const auto& palette = converter.GetBitmap().Palette();
  ASSERT_EQ(palette.size(), 256u);
  EXPECT_EQ(palette[0x07].Red, 255);
  EXPECT_EQ(palette[0x07].Blue, 0);
  EXPECT_EQ(palette[0xC0].Blue, 255);
  EXPECT_EQ(palette[0xC0].Red, 0);
  converter.SetBitsPixel(32);
  EXPECT_TRUE(converter.GetBitmap().Palette().empty());
}

TEST_F(FormatConverter, OddSizesAreAlwaysConverted) {
  TFormatConverter converter;
  BgraPicture odd(321, 240, kTop, kRest);  // its rows are already 4-byte multiples
  ASSERT_TRUE(converter.PictureToBitmap(odd.Picture, AV_PIX_FMT_BGRA, true, 240, 321));
  EXPECT_TRUE(converter.CurrentIsConverted());
  EXPECT_EQ(converter.GetBitmap().Pixel(320, 0), 0xFFFF0000u);
  EXPECT_EQ(converter.GetBitmap().Pixel(0, 239), 0xFF0000FFu);

  BgraPicture even(320, 240, kTop, kRest);
  ASSERT_TRUE(converter.PictureToBitmap(even.Picture, AV_PIX_FMT_BGRA, true, 240, 320));
  EXPECT_FALSE(converter.CurrentIsConverted());

  // Same format and size, but rows padded differently from the bitmap's.
  std::vector<std::uint8_t> padded(static_cast<std::size_t>(320 * 4 + 64) * 240);
  PicturePlanes picture;
  picture.Data[0] = padded.data();
  picture.LineSize[0] = 320 * 4 + 64;
  ASSERT_TRUE(converter.PictureToBitmap(picture, AV_PIX_FMT_BGRA, false, 240, 320));
  EXPECT_TRUE(converter.CurrentIsConverted());
}

TEST_F(FormatConverter, DrawingOnTheBitmapReachesThePicture) {
  TFormatConverter converter;
  BgraPicture picture(4, 2, kTop, kRest);
  ASSERT_TRUE(converter.PictureToBitmap(picture.Picture, AV_PIX_FMT_BGRA, true, 2, 4));
  converter.GetBitmap().SetPixel(1, 0, 0xFF00FF00);  // green, top row
  converter.CopyFromBitmap();
  BgraPicture out(4, 2, kRest, kRest);
  ASSERT_TRUE(converter.BitmapToPicture(out.Picture, AV_PIX_FMT_BGRA, 2, 4));
  const std::uint8_t green[4] = {0, 255, 0, 255};
  EXPECT_EQ(std::memcmp(&out.Pixels[4], green, 4), 0);
  EXPECT_EQ(std::memcmp(&out.Pixels[0], kTop, 4), 0);
  EXPECT_EQ(std::memcmp(&out.Pixels[4 * 4], kRest, 4), 0);
}

TEST_F(FormatConverter, YuvPicturesComeBackCloseToTheirValues) {
  // A 4x2 mid-grey yuv420p picture: converted, then returned to yuv through the bitmap.
  std::uint8_t luma[8];
  std::uint8_t cb[2];
  std::uint8_t cr[2];
  std::memset(luma, 126, sizeof luma);
  std::memset(cb, 128, sizeof cb);
  std::memset(cr, 128, sizeof cr);
  PicturePlanes yuv;
  yuv.Data[0] = luma;
  yuv.Data[1] = cb;
  yuv.Data[2] = cr;
  yuv.LineSize[0] = 4;
  yuv.LineSize[1] = 2;
  yuv.LineSize[2] = 2;
  TFormatConverter converter;
  converter.SetBitsPixel(24);
  ASSERT_TRUE(converter.PictureToBitmap(yuv, AV_PIX_FMT_YUV420P, true, 2, 4));
  const std::uint32_t pixel = converter.GetBitmap().Pixel(0, 0);
  const int blue = pixel & 0xFF;
  EXPECT_NEAR(blue, 128, 4);
  std::uint8_t outLuma[8] = {};
  std::uint8_t outCb[2] = {};
  std::uint8_t outCr[2] = {};
  PicturePlanes back;
  back.Data[0] = outLuma;
  back.Data[1] = outCb;
  back.Data[2] = outCr;
  back.LineSize[0] = 4;
  back.LineSize[1] = 2;
  back.LineSize[2] = 2;
  ASSERT_TRUE(converter.BitmapToPicture(back, AV_PIX_FMT_YUV420P, 2, 4));
  EXPECT_NEAR(outLuma[0], 126, 3);
  EXPECT_NEAR(outCb[0], 128, 3);
}

TEST_F(FormatConverter, RejectsDepthsItCannotHold) {
  TFormatConverter converter;
  for (int bits : {0, 1, 4, 12, 17, 48}) {
    SCOPED_TRACE(bits);
    try {
      converter.SetBitsPixel(bits);
      ADD_FAILURE() << "no exception";
    } catch (const FFmpegException& e) {
      EXPECT_EQ(std::string(e.what()), "Invalid BitsPixel " + std::to_string(bits));
    }
    EXPECT_EQ(converter.BitsPixel(), 32);
  }
}

TEST_F(FormatConverter, CopyingNeedsAPreparedPicture) {
  TFormatConverter converter;
  EXPECT_THROW(converter.CopyToBitmap(), EAssertionFailed);
  EXPECT_THROW(converter.CopyFromBitmap(), EAssertionFailed);
  BgraPicture picture(4, 2, kTop, kRest);
  ASSERT_TRUE(converter.PictureToBitmap(picture.Picture, AV_PIX_FMT_BGRA, false, 2, 4));
  EXPECT_NO_THROW(converter.CopyToBitmap());
  // Changing the depth forgets the prepared picture.
  converter.SetBitsPixel(24);
  EXPECT_THROW(converter.CopyToBitmap(), EAssertionFailed);
}

TEST_F(FormatConverter, UnsupportedConversionsReportTheirText) {
  TFormatConverter converter;
  BgraPicture picture(4, 2, kTop, kRest);
  EXPECT_FALSE(converter.PictureToBitmap(picture.Picture, AV_PIX_FMT_NONE, true, 2, 4));
  EXPECT_EQ(converter.LastError(), "Cannot initialize the toRGB conversion context");
  ASSERT_TRUE(converter.PictureToBitmap(picture.Picture, AV_PIX_FMT_BGRA, true, 2, 4));
  EXPECT_FALSE(converter.BitmapToPicture(picture.Picture, AV_PIX_FMT_NONE, 2, 4));
  EXPECT_EQ(converter.LastError(), "Cannot initialize the fromRGB conversion context");
}

}  // namespace
}  // namespace lumivor
