// Pictures made by the libraries themselves, so that the readers are checked against real
// encoders and not only against the project's own writers.
#pragma once

#include <cstdio>
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <jpeglib.h>
#include <png.h>

#include "app/photos/picture_file.h"
#include "raster/raster.h"
#include "support/scratch_folder.h"

namespace lumivor::testing {

enum class JpegKind { Colour, Grey, AdobeCmyk };

// Encodes picture (32-bit) at quality 100 with libjpeg. Grey keeps the green channel; AdobeCmyk
// stores the inverted CMYK that Adobe-marked files carry (K = 255, so C, M, Y are the colour).
// A non-empty app1 is written as an APP1 segment after the JFIF header, as phones write Exif.
inline std::vector<std::uint8_t> EncodeJpeg(const Bitmap& picture, JpegKind kind = JpegKind::Colour,
                                            const std::vector<std::uint8_t>& app1 = {}) {
  jpeg_compress_struct info{};
  jpeg_error_mgr error{};
  info.err = jpeg_std_error(&error);
  jpeg_create_compress(&info);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&info, &buffer, &size);
  info.image_width = static_cast<JDIMENSION>(picture.Width());
  info.image_height = static_cast<JDIMENSION>(picture.Height());
  info.input_components = kind == JpegKind::Grey ? 1 : kind == JpegKind::AdobeCmyk ? 4 : 3;
  info.in_color_space = kind == JpegKind::Grey ? JCS_GRAYSCALE : kind == JpegKind::AdobeCmyk ? JCS_CMYK : JCS_RGB;
  jpeg_set_defaults(&info);
  jpeg_set_quality(&info, 100, TRUE);
  jpeg_start_compress(&info, TRUE);
  if (!app1.empty()) jpeg_write_marker(&info, JPEG_APP0 + 1, app1.data(), static_cast<unsigned>(app1.size()));
  std::vector<std::uint8_t> row(static_cast<std::size_t>(picture.Width()) * 4);
  for (int y = 0; y < picture.Height(); ++y) {
    for (int x = 0; x < picture.Width(); ++x) {
      const std::uint32_t p = picture.Pixel(x, y);
      const std::uint8_t r = (p >> 16) & 0xFF, g = (p >> 8) & 0xFF, b = p & 0xFF;
      const int n = info.input_components;
      if (kind == JpegKind::Grey) {
        row[x] = g;
      } else if (kind == JpegKind::AdobeCmyk) {
        row[n * x] = r, row[n * x + 1] = g, row[n * x + 2] = b, row[n * x + 3] = 255;
      } else {
        row[n * x] = r, row[n * x + 1] = g, row[n * x + 2] = b;
      }
    }
    JSAMPROW rows[1] = {row.data()};
    jpeg_write_scanlines(&info, rows, 1);
  }
  jpeg_finish_compress(&info);
  std::vector<std::uint8_t> file(buffer, buffer + size);
  jpeg_destroy_compress(&info);
  std::free(buffer);
  return file;
}

// Decodes a PNG with libpng into a 32-bit bitmap; an empty bitmap when libpng refuses it.
inline Bitmap DecodePng(const std::vector<std::uint8_t>& file) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&image, file.data(), file.size())) return Bitmap();
  image.format = PNG_FORMAT_BGRA;
  std::vector<std::uint8_t> pixels(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr)) return Bitmap();
  Bitmap picture(static_cast<int>(image.width), static_cast<int>(image.height), 32);
  for (int y = 0; y < picture.Height(); ++y)
    for (int x = 0; x < picture.Width(); ++x) {
      const std::uint8_t* p = pixels.data() + (static_cast<std::size_t>(y) * image.width + x) * 4;
      picture.SetPixel(x, y, p[0] | (p[1] << 8) | (p[2] << 16));
    }
  return picture;
}

inline std::vector<std::uint8_t> ReadWholeFile(const std::string& name) {
  std::vector<std::uint8_t> bytes;
  if (FILE* f = std::fopen(name.c_str(), "rb")) {
    std::uint8_t chunk[65536];
    std::size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) bytes.insert(bytes.end(), chunk, chunk + n);
    std::fclose(f);
  }
  return bytes;
}

inline bool WriteWholeFile(const std::string& name, const std::vector<std::uint8_t>& bytes) {
  FILE* f = std::fopen(name.c_str(), "wb");
  if (!f) return false;
  const bool ok = bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && ok;
}

// Writes photo into folder as a 24-bit BMP named name; its path.
inline std::string WriteBmpPhoto(const ScratchFolder& folder, const std::string& name, const Bitmap& photo) {
  std::vector<std::uint8_t> file;
  std::string error;
  EXPECT_TRUE(EncodeBmp24(photo, file, error)) << error;
  const std::string path = folder / name;
  EXPECT_TRUE(WriteWholeFile(path, file));
  return path;
}

// Colours far enough apart that a pixel taken from the wrong quarter shows.
inline constexpr std::uint32_t Red = 0xDC1414, Green = 0x14C814, Blue = 0x1414DC, White = 0xF0F0F0;

// A stored picture whose quarters name its corners: top left red, top right green, bottom left
// blue, bottom right white; a turned or mirrored reading moves them.
inline Bitmap Corners(int width, int height) {
  Bitmap picture(width, height, 32);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const bool right = x >= width / 2, bottom = y >= height / 2;
      picture.SetPixel(x, y, bottom ? (right ? White : Blue) : (right ? Green : Red));
    }
  return picture;
}

}  // namespace lumivor::testing
