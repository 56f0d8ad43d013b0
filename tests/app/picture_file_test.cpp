#include "app/photos/picture_file.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <filesystem>

#include "app/picture_test_support.h"
#include "app/samples/sample_pictures.h"

#include <jpeglib.h>

namespace lumivor {
namespace {

using testing::EncodeJpeg;
using testing::JpegKind;
using testing::ScratchFolder;

void put16(std::vector<std::uint8_t>& f, std::size_t at, std::uint32_t v) {
  f[at] = static_cast<std::uint8_t>(v);
  f[at + 1] = static_cast<std::uint8_t>(v >> 8);
}
void put32(std::vector<std::uint8_t>& f, std::size_t at, std::uint32_t v) {
  put16(f, at, v);
  put16(f, at + 2, v >> 16);
}
void append32(std::vector<std::uint8_t>& f, std::uint32_t v) {
  f.resize(f.size() + 4);
  put32(f, f.size() - 4, v);
}

// A BMP written byte by byte as other programs write them, independent of the project's writer.
struct BmpBuild {
  int HeaderSize = 40;
  int Width = 0;
  int Height = 0;  // negative: top-down
  int Bits = 24;
  std::uint32_t Compression = 0;
  std::vector<std::uint32_t> Masks;    // red, green, blue
  std::vector<std::uint32_t> Palette;  // 0x00RRGGBB
  std::uint32_t ColorsUsed = 0;
  std::vector<std::vector<std::uint8_t>> Rows;  // in file order, unpadded
  int Planes = 1;
};

std::vector<std::uint8_t> BuildBmp(const BmpBuild& b) {
  const bool core = b.HeaderSize == 12;
  std::vector<std::uint8_t> f(14 + b.HeaderSize, 0);
  f[0] = 'B';
  f[1] = 'M';
  put32(f, 14, b.HeaderSize);
  if (core) {
    put16(f, 18, b.Width);
    put16(f, 20, b.Height);
    put16(f, 22, b.Planes);
    put16(f, 24, b.Bits);
  } else {
    put32(f, 18, static_cast<std::uint32_t>(b.Width));
    put32(f, 22, static_cast<std::uint32_t>(b.Height));
    put16(f, 26, b.Planes);
    put16(f, 28, b.Bits);
    put32(f, 30, b.Compression);
    put32(f, 46, b.ColorsUsed);
    for (std::size_t i = 0; i < b.Masks.size(); ++i) {
      if (b.HeaderSize == 40) {
        append32(f, b.Masks[i]);
      } else {
        put32(f, 14 + 40 + 4 * i, b.Masks[i]);
      }
    }
  }
  for (std::uint32_t colour : b.Palette) {
    f.push_back(colour & 0xFF);
    f.push_back((colour >> 8) & 0xFF);
    f.push_back((colour >> 16) & 0xFF);
    if (!core) f.push_back(0);
  }
  put32(f, 10, static_cast<std::uint32_t>(f.size()));
  for (const auto& row : b.Rows) {
    f.insert(f.end(), row.begin(), row.end());
    f.resize(f.size() + (4 - row.size() % 4) % 4, 0);
  }
  put32(f, 2, static_cast<std::uint32_t>(f.size()));
  return f;
}

std::vector<std::uint32_t> PixelsTopFirst(const Bitmap& b) {
  std::vector<std::uint32_t> pixels;
  for (int y = 0; y < b.Height(); ++y)
    for (int x = 0; x < b.Width(); ++x) pixels.push_back(b.Pixel(x, y));
  return pixels;
}

std::vector<std::uint32_t> Greys() {
  std::vector<std::uint32_t> palette;
  for (std::uint32_t i = 0; i < 256; ++i) palette.push_back(i * 0x010101u);
  return palette;
}

struct DepthCase {
  const char* Name;
  BmpBuild Build;
  int Width, Height;
  std::vector<std::uint32_t> Expected;  // top row first, 0x00RRGGBB
};

TEST(ReadBmpTest, DecodesEveryDepthAndLayout) {
  const std::uint32_t P0 = 0x102030, P1 = 0xF0E0D0;
  const DepthCase cases[] = {
      {"1-bit, bottom-up", {40, 3, 2, 1, 0, {}, {P0, P1}, 2, {{0xA0}, {0x40}}}, 3, 2, {P0, P1, P0, P1, P0, P1}},
      // Index 5 lies beyond the three listed colours and reads as black.
      {"4-bit, short palette",
       {40, 3, 2, 4, 0, {}, {0xFF0000, 0x00FF00, 0x0000FF}, 3, {{0x01, 0x20}, {0x25, 0x00}}},
       3, 2, {0x0000FF, 0x000000, 0xFF0000, 0xFF0000, 0x00FF00, 0x0000FF}},
      {"8-bit, full palette", {40, 2, 2, 8, 0, {}, Greys(), 0, {{7, 200}, {255, 0}}}, 2, 2,
       {0xFFFFFF, 0x000000, 0x070707, 0xC8C8C8}},
      {"16-bit 5-5-5", {40, 2, 2, 16, 0, {}, {}, 0, {{0x00, 0x7C, 0xE0, 0x03}, {0x1F, 0x00, 0x10, 0x00}}}, 2, 2,
       {0x0000FF, 0x000084, 0xFF0000, 0x00FF00}},
      {"16-bit 5-6-5 bit fields",
       {40, 2, 1, 16, 3, {0xF800, 0x07E0, 0x001F}, {}, 0, {{0xE0, 0x07, 0x00, 0x04}}}, 2, 1, {0x00FF00, 0x008200}},
      {"24-bit, top-down",
       {40, 3, -2, 24, 0, {}, {}, 0, {{1, 2, 3, 4, 5, 6, 7, 8, 9}, {10, 11, 12, 13, 14, 15, 16, 17, 18}}}, 3, 2,
       {0x030201, 0x060504, 0x090807, 0x0C0B0A, 0x0F0E0D, 0x121110}},
      // The fourth byte of the file is dropped: decoded pictures always carry 0 there.
      {"32-bit, bottom-up", {40, 2, 2, 32, 0, {}, {}, 0, {{1, 2, 3, 0xAA, 4, 5, 6, 0xBB}, {7, 8, 9, 0xCC, 10, 11, 12, 0}}},
       2, 2, {0x090807, 0x0C0B0A, 0x030201, 0x060504}},
      {"32-bit bit fields, bytes X B G R",
       {40, 1, 1, 32, 3, {0xFF000000, 0x00FF0000, 0x0000FF00}, {}, 0, {{0x99, 0x30, 0x20, 0x10}}}, 1, 1, {0x102030}},
      {"32-bit bit fields in a V5 header, top-down",
       {124, 2, -1, 32, 3, {0x00FF0000, 0x0000FF00, 0x000000FF}, {}, 0, {{1, 2, 3, 0, 4, 5, 6, 0}}}, 2, 1,
       {0x030201, 0x060504}},
      {"8-bit with a core header", {12, 2, 1, 8, 0, {}, {0x112233, 0x445566}, 0, {{1, 0}}}, 2, 1, {0x445566, 0x112233}},
  };
  for (auto c : cases) {
    SCOPED_TRACE(c.Name);
    if (c.Build.HeaderSize == 12 && c.Build.Bits == 8) c.Build.Palette.resize(256);  // core files list every colour
    Bitmap picture;
    std::string error;
    ASSERT_TRUE(ReadPicture(BuildBmp(c.Build), picture, error)) << error;
    EXPECT_EQ(picture.BitsPerPixel(), 32);
    ASSERT_EQ(picture.Width(), c.Width);
    ASSERT_EQ(picture.Height(), c.Height);
    EXPECT_EQ(PixelsTopFirst(picture), c.Expected);
  }
}

Bitmap MakeNoisePicture(int width, int height, int depth) {
  Bitmap picture(width, height, depth);
  std::uint32_t state = 12345;
  for (int y = 0; y < height; ++y) {
    std::uint8_t* row = picture.ScanLine(y);
    for (int i = 0; i < width * picture.BytesPerPixel(); ++i) {
      state = state * 1103515245u + 12345u;
      // The fourth byte of 32-bit pixels stays 0, as every reader returns it.
      row[i] = depth == 32 && i % 4 == 3 ? 0 : static_cast<std::uint8_t>(state >> 24);
    }
  }
  return picture;
}

TEST(WriteBmpTest, RoundTripsTwentyFourAndThirtyTwoBitPictures) {
  for (int depth : {24, 32}) {
    // Widths 5 and 7 leave padding at the end of every stored row.
    for (int width : {1, 5, 7}) {
      SCOPED_TRACE(std::to_string(depth) + "-bit, width " + std::to_string(width));
      const Bitmap original = MakeNoisePicture(width, 3, depth);
      std::vector<std::uint8_t> file;
      std::string error;
      ASSERT_TRUE(EncodeBmp24(original, file, error)) << error;
      const int stride = (width * 3 + 3) / 4 * 4;
      ASSERT_EQ(file.size(), 54u + stride * 3);
      EXPECT_EQ(file[28], 24) << "bits per pixel";
      // Stored rows are bottom-up: the first pixel stored is the bottom-left one.
      EXPECT_EQ(std::memcmp(&file[54], original.ScanLine(2), 3), 0);

      Bitmap decoded;
      ASSERT_TRUE(ReadBmp(file, decoded, error)) << error;
      ASSERT_EQ(decoded.Width(), width);
      ASSERT_EQ(decoded.Height(), 3);
      for (int y = 0; y < 3; ++y)
        for (int x = 0; x < width; ++x) {
          const std::uint8_t* o = original.ScanLine(y) + x * original.BytesPerPixel();
          EXPECT_EQ(decoded.Pixel(x, y), o[0] | (o[1] << 8) | (o[2] << 16u)) << x << "," << y;
        }
    }
  }
}

TEST(WritePngTest, LibpngReadsBackTheSamePixels) {
  const Bitmap original = MakeSamplePicture(SamplePicture::Pattern, 37, 21);
  std::vector<std::uint8_t> file;
  std::string error;
  ASSERT_TRUE(EncodePng(original, file, error)) << error;
  const Bitmap decoded = testing::DecodePng(file);
  ASSERT_EQ(decoded.Width(), 37);
  ASSERT_EQ(decoded.Height(), 21);
  EXPECT_EQ(PixelsTopFirst(decoded), PixelsTopFirst(original));
}

TEST(ReadJpegTest, DecodesColourGreyAndAdobeCmyk) {
  // Four flat blocks aligned to the encoder's 16x16 units survive quality-100 encoding within a
  // few levels; colour subsampling only blurs their edges, which are not measured.
  Bitmap original(64, 64, 32);
  const std::uint32_t blocks[2][2] = {{0xE02030, 0x20C040}, {0x3050D0, 0xF0E0A0}};
  for (int y = 0; y < 64; ++y)
    for (int x = 0; x < 64; ++x) original.SetPixel(x, y, blocks[y / 32][x / 32]);
  const JpegKind kinds[] = {JpegKind::Colour, JpegKind::Grey, JpegKind::AdobeCmyk};
  for (JpegKind kind : kinds) {
    SCOPED_TRACE(static_cast<int>(kind));
    Bitmap decoded;
    std::string error;
    ASSERT_TRUE(ReadPicture(EncodeJpeg(original, kind), decoded, error)) << error;
    ASSERT_EQ(decoded.Width(), 64);
    ASSERT_EQ(decoded.Height(), 64);
    for (const auto& [x, y] : {std::pair{8, 8}, std::pair{56, 8}, std::pair{8, 56}, std::pair{50, 50}}) {
      const std::uint32_t want = original.Pixel(x, y), got = decoded.Pixel(x, y);
      EXPECT_EQ(got >> 24, 0u) << "fourth byte";
      for (int shift : {0, 8, 16}) {
        const int expected = kind == JpegKind::Grey ? static_cast<int>((want >> 8) & 0xFF)
                                                    : static_cast<int>((want >> shift) & 0xFF);
        EXPECT_NEAR(static_cast<int>((got >> shift) & 0xFF), expected, 6) << x << "," << y << " channel " << shift;
      }
    }
  }
}

struct BadFileCase {
  const char* Name;
  std::vector<std::uint8_t> Data;
  const char* ExpectedText;
};

std::vector<std::uint8_t> Patched(std::vector<std::uint8_t> f, std::size_t at, std::uint32_t v, int bytes = 4) {
  if (bytes == 2) {
    put16(f, at, v);
  } else {
    put32(f, at, v);
  }
  return f;
}

std::vector<std::uint8_t> Cut(std::vector<std::uint8_t> f, std::size_t size) {
  f.resize(size);
  return f;
}

// A JPEG whose frame header claims another size; the rest of the file is untouched.
std::vector<std::uint8_t> WithJpegSize(std::vector<std::uint8_t> f, int width, int height) {
  for (std::size_t i = 2; i + 9 < f.size(); ++i)
    if (f[i] == 0xFF && (f[i + 1] == 0xC0 || f[i + 1] == 0xC2)) {
      f[i + 5] = static_cast<std::uint8_t>(height >> 8), f[i + 6] = static_cast<std::uint8_t>(height);
      f[i + 7] = static_cast<std::uint8_t>(width >> 8), f[i + 8] = static_cast<std::uint8_t>(width);
      break;
    }
  return f;
}

TEST(ReadPictureTest, RejectsBrokenFilesWithAText) {
  const std::vector<std::uint8_t> bmp = BuildBmp({40, 4, 4, 24, 0, {}, {}, 0, std::vector(4, std::vector<std::uint8_t>(12, 9))});
  const std::vector<std::uint8_t> bmp8 = BuildBmp({40, 4, 1, 8, 0, {}, Greys(), 0, {{1, 2, 3, 4}}});
  const std::vector<std::uint8_t> jpeg = EncodeJpeg(MakeSamplePicture(SamplePicture::Landscape, 64, 48));
  const std::vector<std::uint8_t> garbageJpeg = {0xFF, 0xD8, 0xFF, 0x13, 0x77, 0x00, 0x01, 0x42, 0x42};
  const BadFileCase cases[] = {
      {"empty", {}, "empty"},
      {"text", {'h', 'e', 'l', 'l', 'o'}, "not a BMP, JPEG"},
      {"PNG", {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 0, 0}, "PNG"},
      {"BM alone", {'B', 'M'}, "cut off"},
      {"header cut", Cut(bmp, 30), "header is cut off"},
      {"pixels cut by one byte", Cut(bmp, bmp.size() - 1), "pixel data is cut off: 4x4 pixels at 24 bits need 48 bytes, the file holds 47"},
      {"pixel offset beyond the end", Patched(bmp, 10, 100000), "pixel data offset field (100000) points past the end of the file (102 bytes)"},
      {"size fields far beyond the file", Patched(Patched(bmp, 18, 16384), 22, 16384),
       "16384x16384 pixels at 24 bits need 805306368 bytes, the file holds 48"},
      {"huge header size field", Patched(bmp, 14, 0xFFFFFF00u), "header size field (4294967040) is larger than the file (102 bytes)"},
      {"known header size past the end", Cut(Patched(bmp, 14, 124), 100), "header is cut off (100 bytes in the file)"},
      {"pixel offset inside the header", Patched(bmp, 10, 20), "overlaps"},
      {"unknown header size", Patched(bmp, 14, 64), "header size"},
      {"two planes", Patched(bmp, 26, 2, 2), "planes"},
      {"7 bits per pixel", Patched(bmp, 28, 7, 2), "depth"},
      {"RLE", Patched(bmp8, 30, 1), "RLE"},
      {"unknown compression", Patched(bmp, 30, 99), "compression"},
      {"bit fields on 24 bits", Patched(bmp, 30, 3), "16 or 32"},
      {"width 0", Patched(bmp, 18, 0), "not a picture size"},
      {"negative width", Patched(bmp, 18, static_cast<std::uint32_t>(-4)), "not a picture size"},
      {"huge size", Patched(Patched(bmp, 18, 100000), 22, 100000), "larger than the limit"},
      {"height INT_MIN", Patched(bmp, 22, 0x80000000u), "larger than the limit"},
      {"palette larger than 8 bits index", Patched(bmp8, 46, 300), "palette"},
      {"palette cut", Cut(bmp8, 14 + 40 + 100), "palette is cut off"},
      {"pixels inside the palette", Patched(bmp8, 10, 14 + 40 + 16), "overlaps"},
      {"mask not one run of bits",
       BuildBmp({40, 1, 1, 16, 3, {0x0F0F, 0x00F0, 0x000F}, {}, 0, {{0, 0}}}), "masks"},
      {"JPEG start marker alone", {0xFF, 0xD8, 0xFF}, "JPEG"},
      {"JPEG garbage", garbageJpeg, "JPEG"},
      {"JPEG cut in half", Cut(jpeg, jpeg.size() / 2), "cut off"},
      {"JPEG claiming 60000x60000", WithJpegSize(jpeg, 60000, 60000), "larger than the limit"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    Bitmap picture(2, 2, 32);
    std::string error;
    EXPECT_FALSE(ReadPicture(c.Data, picture, error));
    EXPECT_NE(error.find(c.ExpectedText), std::string::npos) << "text: " << error;
    EXPECT_EQ(picture.Width(), 2) << "the picture must be left as it was";
  }
}

TEST(ReadPictureTest, EveryTruncationOfAValidFileIsRefused) {
  const std::vector<std::uint8_t> files[] = {
      BuildBmp({40, 5, 3, 24, 0, {}, {}, 0, std::vector(3, std::vector<std::uint8_t>(15, 0x55))}),
      EncodeJpeg(MakeSamplePicture(SamplePicture::Pattern, 24, 16)),
  };
  for (const auto& file : files) {
    Bitmap picture;
    std::string error;
    ASSERT_TRUE(ReadPicture(file, picture, error)) << error;
    for (std::size_t size = 0; size < file.size(); ++size) {
      EXPECT_FALSE(ReadPicture(std::span(file.data(), size), picture, error)) << "accepted the first " << size << " bytes";
      EXPECT_FALSE(error.empty());
    }
  }
}

// A grey progressive JPEG whose scans split every coefficient into a first pass and a refinement:
// 2 DC scans and 2 x 63 AC scans, all valid, each a pass over every block of the picture.
// spectralOnly keeps only the first passes, with the DC refinement: 65 scans.
std::vector<std::uint8_t> EncodeManyScanJpeg(int width, int height, bool spectralOnly) {
  jpeg_compress_struct info{};
  jpeg_error_mgr error{};
  info.err = jpeg_std_error(&error);
  jpeg_create_compress(&info);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&info, &buffer, &size);
  info.image_width = static_cast<JDIMENSION>(width);
  info.image_height = static_cast<JDIMENSION>(height);
  info.input_components = 1;
  info.in_color_space = JCS_GRAYSCALE;
  jpeg_set_defaults(&info);
  std::vector<jpeg_scan_info> scans;
  scans.push_back({1, {0}, 0, 0, 0, 1});
  scans.push_back({1, {0}, 0, 0, 1, 0});
  for (int k = 1; k < 64; ++k) scans.push_back({1, {0}, k, k, 0, spectralOnly ? 0 : 1});
  for (int k = 1; k < 64 && !spectralOnly; ++k) scans.push_back({1, {0}, k, k, 1, 0});
  info.scan_info = scans.data();
  info.num_scans = static_cast<int>(scans.size());
  jpeg_start_compress(&info, TRUE);
  std::vector<std::uint8_t> row(static_cast<std::size_t>(width));
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) row[x] = static_cast<std::uint8_t>((x / 64 + y / 64) % 2 ? 200 : 40);
    JSAMPROW rows[1] = {row.data()};
    jpeg_write_scanlines(&info, rows, 1);
  }
  jpeg_finish_compress(&info);
  std::vector<std::uint8_t> file(buffer, buffer + size);
  jpeg_destroy_compress(&info);
  std::free(buffer);
  return file;
}

// The end of the entropy-coded data: the EOI marker at the end of the file.
std::size_t JpegEnd(const std::vector<std::uint8_t>& f) { return f.size() - 2; }

// Where the first marker FF code starts, 0 when there is none.
std::size_t JpegMarker(const std::vector<std::uint8_t>& f, std::uint8_t code) {
  for (std::size_t i = 2; i + 1 < f.size(); ++i)
    if (f[i] == 0xFF && f[i + 1] == code) return i;
  return 0;
}

// Damage the library would paper over with grey or garbage is refused, with the library's words;
// harmless oddities are not.
TEST(ReadJpegTest, DamagedDataAndEndlessProgressionsAreRefused) {
  const Bitmap picture = MakeSamplePicture(SamplePicture::Pattern, 48, 32);
  const std::vector<std::uint8_t> good = EncodeJpeg(picture);
  // Bytes between two markers, which a reader skips to find the next one.
  std::vector<std::uint8_t> extraneous = good;
  const std::size_t scanStart = JpegMarker(good, 0xDA);
  ASSERT_NE(scanStart, 0u);
  extraneous.insert(extraneous.begin() + static_cast<std::ptrdiff_t>(scanStart), {0x12, 0x34, 0x56});
  // A restart marker in the middle of data that has no restart interval.
  std::vector<std::uint8_t> marker = good;
  marker.insert(marker.begin() + static_cast<std::ptrdiff_t>(JpegEnd(good) - 40), {0xFF, 0xD3});
  std::vector<std::uint8_t> unknownRevision = good;
  ASSERT_EQ(unknownRevision[11], 1);  // JFIF major version
  unknownRevision[11] = 2;

  struct Case {
    const char* Name;
    std::vector<std::uint8_t> File;
    const char* Error;  // nullptr: read
  };
  const Case cases[] = {
      {"extraneous bytes before the end", extraneous, "JPEG: Corrupt JPEG data: 3 extraneous bytes before marker 0xda"},
      {"marker inside the data", marker, "JPEG: Corrupt JPEG data"},
      {"cut in the data", Cut(good, good.size() - 30), "JPEG data ends early (the file is cut off)"},
      {"unknown JFIF revision", unknownRevision, nullptr},
      {"65 scans", EncodeManyScanJpeg(64, 64, true), nullptr},
      {"128 scans", EncodeManyScanJpeg(64, 64, false), "JPEG: more than 100 scans in a progressive JPEG"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    Bitmap decoded;
    std::string error;
    EXPECT_EQ(ReadJpeg(c.File, decoded, error), c.Error == nullptr) << error;
    if (c.Error != nullptr) {
      EXPECT_EQ(error.rfind(c.Error, 0), 0u) << error;
    }
  }
}

TEST(PictureFileTest, DetectsTheFormatByContentNotByName) {
  ScratchFolder folder;
  const Bitmap original = MakeSamplePicture(SamplePicture::Landscape, 32, 24);
  ASSERT_TRUE(testing::WriteWholeFile(folder / "photo.bmp", EncodeJpeg(original)));
  std::vector<std::uint8_t> bmp;
  std::string error;
  ASSERT_TRUE(EncodeBmp24(original, bmp, error));
  ASSERT_TRUE(testing::WriteWholeFile(folder / "photo.jpg", bmp));

  Bitmap fromJpeg, fromBmp;
  ASSERT_TRUE(ReadPictureFile(folder / "photo.bmp", fromJpeg, error)) << error;
  ASSERT_TRUE(ReadPictureFile(folder / "photo.jpg", fromBmp, error)) << error;
  EXPECT_EQ(PixelsTopFirst(fromBmp), PixelsTopFirst(original));
  EXPECT_EQ(fromJpeg.Width(), 32);
}

TEST(PictureFileTest, FileErrorsNameTheFile) {
  ScratchFolder folder;
  struct Case {
    std::string Name;
    const char* ExpectedText;
  };
  ASSERT_TRUE(testing::WriteWholeFile(folder / "empty.bmp", {}));
  const Case cases[] = {
      {folder / "missing.bmp", "No such file"},
      {folder.Path(), "folder"},
      {folder / "empty.bmp", "empty"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    Bitmap picture;
    std::string error;
    EXPECT_FALSE(ReadPictureFile(c.Name, picture, error));
    EXPECT_NE(error.find(c.Name), std::string::npos) << error;
    EXPECT_NE(error.find(c.ExpectedText), std::string::npos) << error;
  }
}

std::vector<std::string> FolderEntries(const std::string& path) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(path)) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

TEST(PictureFileTest, WritingReplacesWholeFilesOrLeavesEverythingAlone) {
  ScratchFolder folder;
  const Bitmap picture = MakeSamplePicture(SamplePicture::Pattern, 9, 7);
  std::string error;

  ASSERT_TRUE(testing::WriteWholeFile(folder / "out.PNG", {'o', 'l', 'd'}));
  ASSERT_TRUE(WritePictureFile(folder / "out.PNG", picture, error)) << error;
  EXPECT_EQ(PixelsTopFirst(testing::DecodePng(testing::ReadWholeFile(folder / "out.PNG"))), PixelsTopFirst(picture));

  // A folder cannot be replaced by a file: the write fails and leaves no temporary file behind.
  std::filesystem::create_directory(folder / "taken.bmp");
  EXPECT_FALSE(WritePictureFile(folder / "taken.bmp", picture, error));
  EXPECT_NE(error.find("taken.bmp"), std::string::npos) << error;
  EXPECT_FALSE(WritePictureFile(folder / "no/such/folder.bmp", picture, error));
  EXPECT_NE(error.find("does not exist"), std::string::npos) << error;
  EXPECT_FALSE(WritePictureFile(folder / "out.PNG", Bitmap(0, 0, 32), error));
  EXPECT_EQ(FolderEntries(folder.Path()), (std::vector<std::string>{"out.PNG", "taken.bmp"}));
  EXPECT_EQ(testing::DecodePng(testing::ReadWholeFile(folder / "out.PNG")).Width(), 9) << "a failed write kept the old file";
}

}  // namespace
}  // namespace lumivor
