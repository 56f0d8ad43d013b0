#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "app/photo_encoders.h"
#include "app/photos/photo_loader.h"
#include "app/photos/picture_file.h"
#include "app/picture_test_support.h"
#include "app/samples/sample_pictures.h"

#include <zlib.h>

namespace lumivor {
namespace {

using testing::PngBuild;
using testing::ScratchFolder;

std::vector<std::uint32_t> Pixels(const Bitmap& picture) {
  std::vector<std::uint32_t> pixels;
  for (int y = 0; y < picture.Height(); ++y)
    for (int x = 0; x < picture.Width(); ++x) pixels.push_back(picture.Pixel(x, y));
  return pixels;
}

std::uint32_t Bgr(int r, int g, int b) { return static_cast<std::uint32_t>(b | (g << 8) | (r << 16)); }

// The mean difference of a channel between two pictures of the same size.
double MeanChannelError(const Bitmap& a, const Bitmap& b) {
  double total = 0;
  for (int y = 0; y < a.Height(); ++y)
    for (int x = 0; x < a.Width(); ++x)
      for (int c = 0; c < 3; ++c)
        total += std::abs(static_cast<int>((a.Pixel(x, y) >> (8 * c)) & 0xFF) -
                          static_cast<int>((b.Pixel(x, y) >> (8 * c)) & 0xFF));
  return total / (3.0 * a.Width() * a.Height());
}

TEST(PhotoFormatsTest, DetectsEachFormatByItsFirstBytes) {
  auto bytes = [](std::string text) {
    std::vector<std::uint8_t> data(text.begin(), text.end());
    data.resize(std::max<std::size_t>(data.size(), 32), 0);
    return data;
  };
  auto ftyp = [&](const char* major, const char* compatible) {
    std::string box = std::string("\0\0\0\x18", 4) + "ftyp" + major + std::string("\0\0\0\0", 4) + compatible;
    return bytes(box);
  };
  struct Case {
    const char* Name;
    std::vector<std::uint8_t> Data;
    PictureFormat Expected;
  };
  const Case cases[] = {
      {"WebP", bytes(std::string("RIFF\x10\0\0\0WEBPVP8 ", 16)), PictureFormat::Webp},
      {"RIFF wave", bytes(std::string("RIFF\x10\0\0\0WAVEfmt ", 16)), PictureFormat::Unknown},
      {"HEIC brand", ftyp("heic", "mif1heic"), PictureFormat::Heif},
      {"HEIF by compatible brand", ftyp("abcd", "mif1miaf"), PictureFormat::Heif},
      {"MP4 video", ftyp("isom", "isomiso2"), PictureFormat::Unknown},
      {"PNG", bytes("\x89PNG\r\n\x1a\n"), PictureFormat::Png},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    EXPECT_EQ(DetectPictureFormat(c.Data), c.Expected);
  }
}

TEST(PhotoFormatsTest, PngKindsDecodeToTheirColoursOverBlack) {
  struct Case {
    const char* Name;
    PngBuild Build;
    std::vector<std::uint32_t> Expected;  // top row first
  };
  const Case cases[] = {
      // Straight alpha: half-covered colours darken toward black, a clear pixel is black.
      {"RGBA 8-bit",
       {.Width = 3, .Height = 1, .ColourType = PNG_COLOR_TYPE_RGBA, .Depth = 8,
        .Rows = {{200, 100, 50, 128, 10, 20, 30, 255, 255, 255, 255, 0}}},
       {Bgr(100, 50, 25), Bgr(10, 20, 30), Bgr(0, 0, 0)}},
      // The high byte of each sample carries the value; a reader taking the low byte gets 255s.
      {"RGB 16-bit",
       {.Width = 2, .Height = 1, .ColourType = PNG_COLOR_TYPE_RGB, .Depth = 16,
        .Rows = {{0x12, 0xFF, 0x80, 0x7F, 0xFF, 0xFF, 0x00, 0x80, 0xFE, 0x01, 0x00, 0x00}}},
       {Bgr(0x13, 0x80, 0xFF), Bgr(0, 0xFD, 0)}},
      {"grey and alpha 16-bit",
       {.Width = 1, .Height = 1, .ColourType = PNG_COLOR_TYPE_GRAY_ALPHA, .Depth = 16, .Rows = {{0xC8, 0x00, 0x80, 0x00}}},
       {Bgr(100, 100, 100)}},
      {"palette with transparency",
       {.Width = 3, .Height = 1, .ColourType = PNG_COLOR_TYPE_PALETTE, .Depth = 8, .Rows = {{2, 0, 1}},
        .Palette = {255, 0, 0, 0, 255, 0, 0, 0, 255}, .Alphas = {0, 255}},
       {Bgr(0, 0, 255), Bgr(0, 0, 0), Bgr(0, 255, 0)}},
      {"grey 2-bit",
       {.Width = 4, .Height = 1, .ColourType = PNG_COLOR_TYPE_GRAY, .Depth = 2, .Rows = {{0b00011011}}},
       {Bgr(0, 0, 0), Bgr(85, 85, 85), Bgr(170, 170, 170), Bgr(255, 255, 255)}},
      {"interlaced RGB",
       {.Width = 3, .Height = 2, .ColourType = PNG_COLOR_TYPE_RGB, .Depth = 8,
        .Rows = {{1, 2, 3, 4, 5, 6, 7, 8, 9}, {10, 11, 12, 13, 14, 15, 16, 17, 18}}, .Interlaced = true},
       {Bgr(1, 2, 3), Bgr(4, 5, 6), Bgr(7, 8, 9), Bgr(10, 11, 12), Bgr(13, 14, 15), Bgr(16, 17, 18)}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    const std::vector<std::uint8_t> file = testing::EncodeTestPng(c.Build);
    ASSERT_FALSE(file.empty());
    Bitmap picture;
    std::string error;
    ASSERT_TRUE(ReadPicture(file, picture, error)) << error;
    EXPECT_EQ(picture.BitsPerPixel(), 32);
    EXPECT_EQ(Pixels(picture), c.Expected);
  }
}

// The same picture with every pixel fully covering, for the encoders that read the fourth byte as alpha.
Bitmap Opaque(const Bitmap& picture) {
  Bitmap opaque(picture.Width(), picture.Height(), 32);
  for (int y = 0; y < picture.Height(); ++y)
    for (int x = 0; x < picture.Width(); ++x) opaque.SetPixel(x, y, picture.Pixel(x, y) | 0xFF000000u);
  return opaque;
}

// A picture with colour everywhere and alpha running from clear to opaque across it.
Bitmap GradientWithAlpha(int width, int height) {
  Bitmap picture(width, height, 32);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      picture.SetPixel(x, y, static_cast<std::uint32_t>((x * 255 / (width - 1)) << 24 | (40 + 3 * y) << 16 |
                                                        (200 - 2 * x) << 8 | (17 * (x + y)) % 256));
  return picture;
}

Bitmap ComposedOverBlack(const Bitmap& picture) {
  Bitmap composed(picture.Width(), picture.Height(), 32);
  for (int y = 0; y < picture.Height(); ++y)
    for (int x = 0; x < picture.Width(); ++x) {
      const std::uint32_t p = picture.Pixel(x, y), alpha = p >> 24;
      std::uint32_t out = 0;
      for (int c = 0; c < 3; ++c) out |= ((((p >> (8 * c)) & 0xFF) * alpha + 127) / 255) << (8 * c);
      composed.SetPixel(x, y, out);
    }
  return composed;
}

TEST(PhotoFormatsTest, WebpDecodesToTheEncodedPixelsOverBlack) {
  const Bitmap original = GradientWithAlpha(24, 16);
  Bitmap lossless, lossy;
  std::string error;
  ASSERT_TRUE(ReadPicture(testing::EncodeTestWebp(original, true), lossless, error)) << error;
  EXPECT_EQ(Pixels(lossless), Pixels(ComposedOverBlack(original)));

  const Bitmap reference = MakeSamplePicture(SamplePicture::Landscape, 64, 48);
  ASSERT_TRUE(ReadPicture(testing::EncodeTestWebp(Opaque(reference), false), lossy, error)) << error;
  ASSERT_EQ(lossy.Width(), 64);
  ASSERT_EQ(lossy.Height(), 48);
  // Quality 90 stays close to the source; a picture shifted, flipped or with channels swapped does not.
  EXPECT_LT(MeanChannelError(lossy, reference), 6.0);
}

// Four flat quarters in colours far apart, so that codec error cannot move one to another.
Bitmap Quarters(int width, int height) {
  Bitmap picture(width, height, 32);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const bool right = x >= width / 2, bottom = y >= height / 2;
      picture.SetPixel(x, y, bottom ? (right ? Bgr(240, 240, 240) : Bgr(20, 20, 220))
                                    : (right ? Bgr(20, 200, 20) : Bgr(220, 20, 20)));
    }
  return picture;
}

// Lossy codecs blur the edges between the quarters (HEIC and JPEG keep chroma at half resolution);
// the middle of each quarter must keep its colour.
void ExpectQuartersNear(const Bitmap& decoded, const Bitmap& original, int tolerance) {
  const int w = original.Width(), h = original.Height();
  for (const auto& [x, y] : {std::pair{w / 4, h / 4}, {3 * w / 4, h / 4}, {w / 4, 3 * h / 4}, {3 * w / 4, 3 * h / 4}}) {
    SCOPED_TRACE(::testing::Message() << x << "," << y);
    for (int c = 0; c < 3; ++c)
      EXPECT_NEAR(static_cast<int>((decoded.Pixel(x, y) >> (8 * c)) & 0xFF),
                  static_cast<int>((original.Pixel(x, y) >> (8 * c)) & 0xFF), tolerance);
    EXPECT_EQ(decoded.Pixel(x, y) >> 24, 0u);
  }
}

TEST(PhotoFormatsTest, HeicDecodesToTheEncodedPixels) {
  const Bitmap original = Quarters(64, 48);
  const std::vector<std::uint8_t> file = testing::EncodeTestHeic(original);
  ASSERT_FALSE(file.empty()) << "libheif could not encode HEVC";
  EXPECT_EQ(DetectPictureFormat(file), PictureFormat::Heif);
  Bitmap decoded;
  std::string error;
  ASSERT_TRUE(ReadPicture(file, decoded, error)) << error;
  ASSERT_EQ(decoded.Width(), 64);
  ASSERT_EQ(decoded.Height(), 48);
  ExpectQuartersNear(decoded, original, 12);
}

// Each kind of photo saved under another kind's name: the loader must read what the file holds.
TEST(PhotoFormatsTest, LoadsByContentWhateverTheExtension) {
  ScratchFolder folder;
  const Bitmap original = Quarters(32, 16);
  std::vector<std::uint8_t> bmp, png;
  std::string error;
  ASSERT_TRUE(EncodeBmp24(original, bmp, error));
  ASSERT_TRUE(EncodePng(original, png, error));
  struct Case {
    const char* Name;
    std::vector<std::uint8_t> Data;
  };
  const Case cases[] = {
      {"bmp.jpg", bmp},
      {"png.JPG", png},
      {"webp.heic", testing::EncodeTestWebp(Opaque(original), true)},
      {"jpeg.png", testing::EncodeJpeg(original)},
      {"heic.webp", testing::EncodeTestHeic(original)},
      {"png.bmp", png},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    ASSERT_TRUE(testing::WriteWholeFile(folder / c.Name, c.Data));
    const Bitmap photo = LoadPhotoFile(folder / c.Name);
    ASSERT_EQ(photo.Width(), 32);
    ASSERT_EQ(photo.Height(), 16);
    ExpectQuartersNear(photo, original, 12);
  }
}

std::vector<std::uint8_t> Cut(std::vector<std::uint8_t> data, std::size_t size) {
  data.resize(size);
  return data;
}

std::vector<std::uint8_t> Flipped(std::vector<std::uint8_t> data, std::size_t at) {
  data.at(at) ^= 0x5A;
  return data;
}

TEST(PhotoFormatsTest, UnreadableFilesOfTheNewKindsNameTheFile) {
  ScratchFolder folder;
  const Bitmap original = Quarters(32, 16);
  std::vector<std::uint8_t> png;
  std::string error;
  ASSERT_TRUE(EncodePng(original, png, error));
  const std::vector<std::uint8_t> webp = testing::EncodeTestWebp(Opaque(original), false);
  const std::vector<std::uint8_t> heic = testing::EncodeTestHeic(original);
  // A header asking for 100000 pixels a side, with a valid checksum: refused before any allocation.
  std::vector<std::uint8_t> hugePng = png;
  hugePng[17] = 0x01, hugePng[18] = 0x86, hugePng[19] = 0xA0;
  const uLong crc = crc32(0, hugePng.data() + 12, 17);
  for (int i = 0; i < 4; ++i) hugePng[29 + i] = static_cast<std::uint8_t>(crc >> (24 - 8 * i));
  struct Case {
    const char* Name;
    std::vector<std::uint8_t> Data;
  };
  const Case cases[] = {
      {"cut.png", Cut(png, png.size() / 2)},
      {"bad-crc.png", Flipped(png, 30)},
      {"huge.png", hugePng},
      {"cut.webp", Cut(webp, webp.size() / 2)},
      {"header-only.webp", Cut(webp, 12)},
      {"cut.heic", Cut(heic, heic.size() / 2)},
      {"header-only.heic", Cut(heic, 40)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    const std::string name = folder / c.Name;
    ASSERT_TRUE(testing::WriteWholeFile(name, c.Data));
    try {
      LoadPhotoFile(name);
      ADD_FAILURE() << "loaded a damaged file";
    } catch (const PhotoLoadError& e) {
      const std::string text = e.what();
      EXPECT_EQ(text.rfind("Cannot load the photo \"" + name + "\": ", 0), 0u) << text;
      EXPECT_EQ(text.find('\n'), std::string::npos) << text;
    }
  }
}

TEST(PhotoFormatsTest, EveryTruncationOfAValidFileIsRefused) {
  const Bitmap original = Quarters(16, 8);
  std::vector<std::uint8_t> png;
  std::string error;
  ASSERT_TRUE(EncodePng(original, png, error));
  const std::vector<std::uint8_t> files[] = {png, testing::EncodeTestWebp(Opaque(original), false),
                                             testing::EncodeTestWebp(Opaque(original), true), testing::EncodeTestHeic(original)};
  for (const auto& file : files) {
    Bitmap picture;
    ASSERT_TRUE(ReadPicture(file, picture, error)) << error;
    for (std::size_t size = 0; size < file.size(); ++size) {
      EXPECT_FALSE(ReadPicture(std::span(file.data(), size), picture, error)) << "accepted the first " << size << " bytes";
      EXPECT_FALSE(error.empty());
      // The reason ends a line of the log and of the command line's message.
      EXPECT_EQ(error.find('\n'), std::string::npos) << size << " bytes: " << error;
    }
  }
}

}  // namespace
}  // namespace lumivor
