// Photos in the formats phones and the web produce, written with the formats' own libraries, so
// that the readers are checked against real encoders.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <vector>

#include <libheif/heif.h>
#include <png.h>
#include <webp/encode.h>

#include "raster/raster.h"

namespace lumivor::testing {

// A PNG of rows given as the file stores them (16-bit samples high byte first). palette holds
// red, green, blue triples; alphas the tRNS entries.
struct PngBuild {
  int Width = 0;
  int Height = 0;
  int ColourType = PNG_COLOR_TYPE_RGB;
  int Depth = 8;
  std::vector<std::vector<std::uint8_t>> Rows{};
  std::vector<std::uint8_t> Palette{};
  std::vector<std::uint8_t> Alphas{};
  bool Interlaced = false;
};

inline void AppendPngBytes(png_structp png, png_bytep data, png_size_t length) {
  auto* out = static_cast<std::vector<std::uint8_t>*>(png_get_io_ptr(png));
  out->insert(out->end(), data, data + length);
}

inline std::vector<std::uint8_t> EncodeTestPng(const PngBuild& b) {
  std::vector<std::uint8_t> file;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return {};
  }
  png_set_write_fn(png, &file, AppendPngBytes, nullptr);
  png_set_IHDR(png, info, static_cast<png_uint_32>(b.Width), static_cast<png_uint_32>(b.Height), b.Depth, b.ColourType,
               b.Interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  std::vector<png_color> palette;
  for (std::size_t i = 0; i + 2 < b.Palette.size(); i += 3) palette.push_back({b.Palette[i], b.Palette[i + 1], b.Palette[i + 2]});
  if (!palette.empty()) png_set_PLTE(png, info, palette.data(), static_cast<int>(palette.size()));
  if (!b.Alphas.empty())
    png_set_tRNS(png, info, const_cast<png_bytep>(b.Alphas.data()), static_cast<int>(b.Alphas.size()), nullptr);
  png_write_info(png, info);
  std::vector<png_bytep> rows;
  for (const auto& row : b.Rows) rows.push_back(const_cast<png_bytep>(row.data()));
  png_write_image(png, rows.data());
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return file;
}

// picture's fourth byte is taken as alpha. Lossless keeps every pixel; lossy uses quality 90.
inline std::vector<std::uint8_t> EncodeTestWebp(const Bitmap& picture, bool lossless) {
  std::vector<std::uint8_t> bgra;
  for (int y = 0; y < picture.Height(); ++y)
    for (int x = 0; x < picture.Width(); ++x) {
      const std::uint32_t p = picture.Pixel(x, y);
      for (int c = 0; c < 4; ++c) bgra.push_back(static_cast<std::uint8_t>(p >> (8 * c)));
    }
  std::uint8_t* out = nullptr;
  const int stride = picture.Width() * 4;
  const std::size_t size = lossless
                               ? WebPEncodeLosslessBGRA(bgra.data(), picture.Width(), picture.Height(), stride, &out)
                               : WebPEncodeBGRA(bgra.data(), picture.Width(), picture.Height(), stride, 90, &out);
  std::vector<std::uint8_t> file(out, out + size);
  WebPFree(out);
  return file;
}

inline heif_error AppendHeifBytes(heif_context*, const void* data, size_t size, void* userdata) {
  auto* out = static_cast<std::vector<std::uint8_t>*>(userdata);
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  out->insert(out->end(), bytes, bytes + size);
  return heif_error{heif_error_Ok, heif_suberror_Unspecified, "ok"};
}

// An HEVC-coded HEIC at high quality; orientation 2..8 is written as the rotation and mirror
// properties a phone writes, the pixels staying as given.
inline std::vector<std::uint8_t> EncodeTestHeic(const Bitmap& picture, int orientation = 1) {
  std::vector<std::uint8_t> file;
  heif_context* context = heif_context_alloc();
  heif_encoder* encoder = nullptr;
  heif_context_get_encoder_for_format(context, heif_compression_HEVC, &encoder);
  heif_image* image = nullptr;
  heif_image_create(picture.Width(), picture.Height(), heif_colorspace_RGB, heif_chroma_interleaved_RGB, &image);
  heif_image_add_plane(image, heif_channel_interleaved, picture.Width(), picture.Height(), 8);
  int stride = 0;
  std::uint8_t* plane = heif_image_get_plane(image, heif_channel_interleaved, &stride);
  for (int y = 0; y < picture.Height(); ++y)
    for (int x = 0; x < picture.Width(); ++x) {
      const std::uint32_t p = picture.Pixel(x, y);
      std::uint8_t* rgb = plane + y * stride + 3 * x;
      rgb[0] = static_cast<std::uint8_t>(p >> 16), rgb[1] = static_cast<std::uint8_t>(p >> 8), rgb[2] = static_cast<std::uint8_t>(p);
    }
  if (encoder != nullptr) {
    heif_encoder_set_lossy_quality(encoder, 95);
    heif_encoding_options* options = heif_encoding_options_alloc();
    options->image_orientation = static_cast<heif_orientation>(orientation);
    const heif_error encoded = heif_context_encode_image(context, image, encoder, options, nullptr);
    heif_encoding_options_free(options);
    heif_writer writer{1, AppendHeifBytes};
    if (encoded.code == heif_error_Ok) heif_context_write(context, &writer, &file);
    heif_encoder_release(encoder);
  }
  heif_image_release(image);
  heif_context_free(context);
  return file;
}

}  // namespace lumivor::testing
