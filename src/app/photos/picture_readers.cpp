// The readers for the formats phones and the web hand out beside BMP and JPEG: PNG, WebP and
// HEIC/HEIF. Each decodes into the same 32-bit bitmap the BMP and JPEG readers give.
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include <libheif/heif.h>
#include <png.h>
#include <webp/decode.h>

#include "app/photos/picture_file.h"

namespace lumivor {

namespace {

bool dimensions_allowed(std::int64_t width, std::int64_t height) {
  return width > 0 && height > 0 && width <= MaxPictureSide && height <= MaxPictureSide &&
         width * height <= MaxPicturePixels;
}

std::string size_refused_text(const char* kind, std::int64_t width, std::int64_t height) {
  if (width <= 0 || height <= 0)
    return std::string(kind) + " size " + std::to_string(width) + "x" + std::to_string(height) +
           " is not a picture size";
  return std::string(kind) + " picture of " + std::to_string(width) + "x" + std::to_string(height) +
         " pixels is larger than the limit of " + std::to_string(MaxPictureSide) + " pixels a side and " +
         std::to_string(MaxPicturePixels) + " pixels in all";
}

// Straight (not premultiplied) colour with its alpha over black, rounded; the fourth byte is
// cleared as every reader leaves it.
void compose_over_black(const std::uint8_t* bgra, std::uint8_t* dst, int width) {
  for (int x = 0; x < width; ++x, bgra += 4, dst += 4) {
    const unsigned alpha = bgra[3];
    for (int c = 0; c < 3; ++c) dst[c] = static_cast<std::uint8_t>((bgra[c] * alpha + 127) / 255);
    dst[3] = 0;
  }
}

// ---------------------------------------------------------------------------------------------
// PNG: libpng reports errors by a long jump, so every call into it runs in a phase function that
// has its jump set and owns no C++ object with a destructor.

struct PngReader {
  std::span<const std::uint8_t> Data;
  std::size_t Position = 0;
  char Message[200] = {};
};

void png_read_error(png_structp png, png_const_charp message) {
  auto* reader = static_cast<PngReader*>(png_get_error_ptr(png));
  std::snprintf(reader->Message, sizeof reader->Message, "%s", message);
  png_longjmp(png, 1);
}

void png_read_warning(png_structp, png_const_charp) {}

void png_read_bytes(png_structp png, png_bytep out, png_size_t length) {
  auto* reader = static_cast<PngReader*>(png_get_io_ptr(png));
  if (length > reader->Data.size() - reader->Position) png_error(png, "the file is cut off");
  std::memcpy(out, reader->Data.data() + reader->Position, length);
  reader->Position += length;
}

bool png_header_phase(png_structp png, png_infop info, png_uint_32& width, png_uint_32& height, bool& interlaced) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_set_user_limits(png, MaxPictureSide, MaxPictureSide);
  png_read_info(png, info);
  width = png_get_image_width(png, info);
  height = png_get_image_height(png, info);
  interlaced = png_get_interlace_type(png, info) != PNG_INTERLACE_NONE;
  return true;
}

// Asks libpng for 8-bit blue, green, red, alpha whatever the file stores. Without passes, libpng
// hands an interlaced file's seven passes over as they are stored, each a smaller picture.
bool png_transform_phase(png_structp png, png_infop info, bool passes) {
  if (setjmp(png_jmpbuf(png))) return false;
  const png_uint_32 width = png_get_image_width(png, info);
  const int colourType = png_get_color_type(png, info);
  if (colourType == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
  if (colourType == PNG_COLOR_TYPE_GRAY && png_get_bit_depth(png, info) < 8) png_set_expand_gray_1_2_4_to_8(png);
  if (png_get_valid(png, info, PNG_INFO_tRNS) != 0) png_set_tRNS_to_alpha(png);
  png_set_scale_16(png);
  if (colourType == PNG_COLOR_TYPE_GRAY || colourType == PNG_COLOR_TYPE_GRAY_ALPHA) png_set_gray_to_rgb(png);
  png_set_bgr(png);
  png_set_add_alpha(png, 0xFF, PNG_FILLER_AFTER);  // no effect when the file has alpha already
  if (!passes) png_set_interlace_handling(png);
  png_read_update_info(png, info);
  if (png_get_rowbytes(png, info) != static_cast<png_size_t>(width) * 4) png_error(png, "unexpected row layout");
  return true;
}

bool png_rows_phase(png_structp png, png_bytepp rows) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_read_image(png, rows);
  png_read_end(png, nullptr);
  return true;
}

// One row at a time into the reducer, so the full-size picture never exists. An interlaced file
// comes as its seven passes, each pixel added where it belongs in the full picture.
bool png_reduce_phase(png_structp png, png_uint_32 width, png_uint_32 height, bool interlaced, std::uint8_t* row,
                      AreaReducer* reducer) {
  if (setjmp(png_jmpbuf(png))) return false;
  const int passes = interlaced ? 7 : 1;
  for (int pass = 0; pass < passes; ++pass) {
    const png_uint_32 columns = interlaced ? PNG_PASS_COLS(width, pass) : width;
    const png_uint_32 rows = interlaced ? PNG_PASS_ROWS(height, pass) : height;
    if (columns == 0 || rows == 0) continue;  // libpng skips an empty pass too
    for (png_uint_32 r = 0; r < rows; ++r) {
      png_read_row(png, row, nullptr);
      compose_over_black(row, row, static_cast<int>(columns));
      if (!interlaced) {
        reducer->AddRow(static_cast<int>(r), row);
      } else {
        const auto y = static_cast<int>(PNG_PASS_START_ROW(pass) + (r << PNG_PASS_ROW_SHIFT(pass)));
        reducer->AddPixels(y, row, static_cast<int>(PNG_PASS_START_COL(pass)), 1 << PNG_PASS_COL_SHIFT(pass),
                           static_cast<int>(columns));
      }
    }
  }
  png_read_end(png, nullptr);
  return true;
}

// ---------------------------------------------------------------------------------------------
// HEIF

struct HeifContextFree {
  void operator()(heif_context* context) const { heif_context_free(context); }
};
struct HeifHandleRelease {
  void operator()(heif_image_handle* handle) const { heif_image_handle_release(handle); }
};
struct HeifImageRelease {
  void operator()(heif_image* image) const { heif_image_release(image); }
};
struct HeifOptionsFree {
  void operator()(heif_decoding_options* options) const { heif_decoding_options_free(options); }
};

// Some of libheif's messages end in a line break; the reason is one line of the log and of the
// command line's message, so trailing white space goes.
std::string heif_error_text(const heif_error& error) {
  std::string message = error.message != nullptr ? error.message : "";
  message.erase(message.find_last_not_of(" \t\r\n") + 1);
  return "HEIF: " + (message.empty() ? std::string("cannot decode") : message);
}

}  // namespace

bool ReadPng(std::span<const std::uint8_t> data, Bitmap& picture, std::string& errorText,
             const PictureSizeHint& hint) {
  static constexpr std::uint8_t signature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
  if (data.size() < 8 || std::memcmp(data.data(), signature, 8) != 0) {
    errorText = data.empty() ? "PNG file is empty" : "not a PNG file";
    return false;
  }
  auto reader = std::make_unique<PngReader>();
  reader->Data = data;
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, reader.get(), png_read_error, png_read_warning);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  struct Destroy {
    png_structp& Png;
    png_infop& Info;
    ~Destroy() {
      if (Png) png_destroy_read_struct(&Png, Info ? &Info : nullptr, nullptr);
    }
  } destroy{png, info};
  if (!info) {
    errorText = "PNG: cannot set up the decoder";
    return false;
  }
  png_set_read_fn(png, reader.get(), png_read_bytes);
  png_uint_32 width = 0, height = 0;
  bool interlaced = false;
  if (!png_header_phase(png, info, width, height, interlaced)) {
    errorText = std::string("PNG: ") + reader->Message;
    return false;
  }
  if (!dimensions_allowed(width, height)) {
    errorText = size_refused_text("PNG", width, height);
    return false;
  }
  const int factor = ReductionFactor(static_cast<int>(width), static_cast<int>(height), hint);
  if (!png_transform_phase(png, info, factor > 1 && interlaced)) {
    errorText = std::string("PNG: ") + reader->Message;
    return false;
  }
  if (factor > 1) {
    try {
      Bitmap reduced;
      std::vector<std::uint8_t> row(static_cast<std::size_t>(width) * 4);
      // The passes of an interlaced file each cover the whole picture, so its sums are kept for the
      // whole reduced picture; rows in order need one row of them.
      AreaReducer reducer(static_cast<int>(width), static_cast<int>(height), factor, reduced,
                          interlaced ? AreaReducer::Order::AnyOrder : AreaReducer::Order::RowsInOrder);
      if (!png_reduce_phase(png, width, height, interlaced, row.data(), &reducer)) {
        errorText = std::string("PNG: ") + reader->Message;
        return false;
      }
      reducer.Finish();
      picture = std::move(reduced);
      return true;
    } catch (const std::bad_alloc&) {
      errorText = "not enough memory for the picture";
      return false;
    }
  }
  try {
    // Decoded straight into the bitmap's rows, then composed over black in place.
    Bitmap decoded(static_cast<int>(width), static_cast<int>(height), 32);
    std::vector<png_bytep> rows(height);
    for (png_uint_32 y = 0; y < height; ++y) rows[y] = decoded.ScanLine(static_cast<int>(y));
    if (!png_rows_phase(png, rows.data())) {
      errorText = std::string("PNG: ") + reader->Message;
      return false;
    }
    for (png_uint_32 y = 0; y < height; ++y) compose_over_black(rows[y], rows[y], static_cast<int>(width));
    picture = std::move(decoded);
    return true;
  } catch (const std::bad_alloc&) {
    errorText = "not enough memory for the picture";
    return false;
  }
}

bool ReadWebp(std::span<const std::uint8_t> data, Bitmap& picture, std::string& errorText,
              const PictureSizeHint& hint) {
  WebPBitstreamFeatures features{};
  const VP8StatusCode status = WebPGetFeatures(data.data(), data.size(), &features);
  if (status == VP8_STATUS_NOT_ENOUGH_DATA) {
    errorText = data.empty() ? "WebP file is empty" : "WebP data ends early (the file is cut off)";
    return false;
  }
  if (status != VP8_STATUS_OK) {
    errorText = "not a readable WebP file";
    return false;
  }
  if (features.has_animation != 0) {
    errorText = "animated WebP pictures are not supported";
    return false;
  }
  if (!dimensions_allowed(features.width, features.height)) {
    errorText = size_refused_text("WebP", features.width, features.height);
    return false;
  }
  try {
    const int factor = ReductionFactor(features.width, features.height, hint);
    const int width = ReducedSide(features.width, factor), height = ReducedSide(features.height, factor);
    const std::size_t stride = static_cast<std::size_t>(width) * 4;
    std::vector<std::uint8_t> bgra(stride * static_cast<std::size_t>(height));
    if (factor == 1) {
      if (WebPDecodeBGRAInto(data.data(), data.size(), bgra.data(), bgra.size(), static_cast<int>(stride)) == nullptr) {
        errorText = "WebP data is damaged or cut off";
        return false;
      }
    } else {
      // libwebp scales while it decodes, a few rows at a time, so a lossy picture never exists at
      // full size; a lossless one is held whole inside the library whatever is asked.
      WebPDecoderConfig config;
      if (WebPInitDecoderConfig(&config) == 0) {
        errorText = "WebP: cannot set up the decoder";
        return false;
      }
      config.options.use_scaling = 1;
      config.options.scaled_width = width;
      config.options.scaled_height = height;
      config.output.colorspace = MODE_BGRA;
      config.output.is_external_memory = 1;
      config.output.u.RGBA.rgba = bgra.data();
      config.output.u.RGBA.stride = static_cast<int>(stride);
      config.output.u.RGBA.size = bgra.size();
      const VP8StatusCode decoded = WebPDecode(data.data(), data.size(), &config);
      WebPFreeDecBuffer(&config.output);  // external memory stays; this only releases the library's part
      if (decoded != VP8_STATUS_OK) {
        errorText = "WebP data is damaged or cut off";
        return false;
      }
    }
    Bitmap decoded(width, height, 32);
    for (int y = 0; y < height; ++y) compose_over_black(bgra.data() + y * stride, decoded.ScanLine(y), width);
    picture = std::move(decoded);
    return true;
  } catch (const std::bad_alloc&) {
    errorText = "not enough memory for the picture";
    return false;
  }
}

bool ReadHeif(std::span<const std::uint8_t> data, Bitmap& picture, std::string& errorText, PictureTurn turn,
              const PictureSizeHint& hint) {
  if (data.empty()) {
    errorText = "HEIF file is empty";
    return false;
  }
  try {
    std::unique_ptr<heif_context, HeifContextFree> context(heif_context_alloc());
    if (!context) throw std::bad_alloc();
    heif_context_set_maximum_image_size_limit(context.get(), MaxPictureSide);
    heif_error error = heif_context_read_from_memory_without_copy(context.get(), data.data(), data.size(), nullptr);
    if (error.code != heif_error_Ok) {
      errorText = heif_error_text(error);
      return false;
    }
    heif_image_handle* rawHandle = nullptr;
    error = heif_context_get_primary_image_handle(context.get(), &rawHandle);
    std::unique_ptr<heif_image_handle, HeifHandleRelease> handle(rawHandle);
    if (error.code != heif_error_Ok) {
      errorText = heif_error_text(error);
      return false;
    }
    const int storedWidth = heif_image_handle_get_ispe_width(handle.get());
    const int storedHeight = heif_image_handle_get_ispe_height(handle.get());
    if (!dimensions_allowed(storedWidth, storedHeight)) {
      errorText = size_refused_text("HEIF", storedWidth, storedHeight);
      return false;
    }
    std::unique_ptr<heif_decoding_options, HeifOptionsFree> options(heif_decoding_options_alloc());
    if (!options) throw std::bad_alloc();
    // HEIF keeps a photo's turn in rotation and mirror properties, which libheif applies unless
    // told not to. A phone writes the same turn into the Exif block as well; that copy is
    // deliberately not read here, or the photo would be turned twice.
    options->ignore_transformations = turn == PictureTurn::AsStored ? 1 : 0;
    const bool alpha = heif_image_handle_has_alpha_channel(handle.get()) != 0;
    heif_image* rawImage = nullptr;
    error = heif_decode_image(handle.get(), &rawImage, heif_colorspace_RGB,
                              alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB, options.get());
    std::unique_ptr<heif_image, HeifImageRelease> image(rawImage);
    if (error.code != heif_error_Ok) {
      errorText = heif_error_text(error);
      return false;
    }
    const int width = heif_image_get_width(image.get(), heif_channel_interleaved);
    const int height = heif_image_get_height(image.get(), heif_channel_interleaved);
    int stride = 0;
    const std::uint8_t* plane = heif_image_get_plane_readonly(image.get(), heif_channel_interleaved, &stride);
    if (plane == nullptr || !dimensions_allowed(width, height) ||
        heif_image_get_bits_per_pixel_range(image.get(), heif_channel_interleaved) != 8) {
      errorText = "HEIF: unexpected decoded layout";
      return false;
    }
    const int bytes = alpha ? 4 : 3;
    const auto convert_row = [&](int y, std::uint8_t* dst) {
      const std::uint8_t* src = plane + static_cast<std::ptrdiff_t>(y) * stride;
      for (int x = 0; x < width; ++x, src += bytes, dst += 4) {
        const unsigned a = alpha ? src[3] : 255;
        dst[0] = static_cast<std::uint8_t>((src[2] * a + 127) / 255);
        dst[1] = static_cast<std::uint8_t>((src[1] * a + 127) / 255);
        dst[2] = static_cast<std::uint8_t>((src[0] * a + 127) / 255);
        dst[3] = 0;
      }
    };
    // libheif decodes (and turns) the whole image and has no scaled decoding, so the full size is
    // held once inside the library; reducing straight from its plane at least spares a second
    // full-size copy, and the photo kept for the show is the reduced one. The decoded image is
    // upright already when it was turned, so the hint applies to it as it is.
    const int factor = ReductionFactor(width, height, hint);
    Bitmap decoded;
    if (factor == 1) {
      decoded.Resize(width, height, 32);
      for (int y = 0; y < height; ++y) convert_row(y, decoded.ScanLine(y));
    } else {
      std::vector<std::uint8_t> row(static_cast<std::size_t>(width) * 4);
      AreaReducer reducer(width, height, factor, decoded);
      for (int y = 0; y < height; ++y) {
        convert_row(y, row.data());
        reducer.AddRow(y, row.data());
      }
    }
    picture = std::move(decoded);
    return true;
  } catch (const std::bad_alloc&) {
    errorText = "not enough memory for the picture";
    return false;
  }
}

}  // namespace lumivor
