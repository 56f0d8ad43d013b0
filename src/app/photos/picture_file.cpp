#include "app/photos/picture_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

// libjpeg's header needs size_t and FILE declared before it.
#include <jpeglib.h>
// After jpeglib.h: the warning list depends on the coding options its configuration declares.
#include <jerror.h>
#include <png.h>

#include "app/photos/exif_orientation.h"
#include "app/files/input_file.h"
#include "app/files/output_file.h"

namespace lumivor {

namespace {

// Photos larger than this are not photos; refusing them early keeps a bad name from filling memory.
constexpr std::int64_t MaxPictureFileBytes = std::int64_t{1} << 30;

std::uint16_t le16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }
std::uint32_t le32(const std::uint8_t* p) {
  return std::uint32_t{p[0]} | (std::uint32_t{p[1]} << 8) | (std::uint32_t{p[2]} << 16) | (std::uint32_t{p[3]} << 24);
}
std::int32_t le32s(const std::uint8_t* p) { return static_cast<std::int32_t>(le32(p)); }
std::uint32_t be32(const std::uint8_t* p) {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | std::uint32_t{p[3]};
}

void put16(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}
void put32(std::uint8_t* p, std::uint32_t v) {
  put16(p, v);
  put16(p + 2, v >> 16);
}

bool dimensions_allowed(std::int64_t width, std::int64_t height) {
  return width <= MaxPictureSide && height <= MaxPictureSide && width * height <= MaxPicturePixels;
}

std::string too_large_text(const char* kind, std::int64_t width, std::int64_t height) {
  if (width <= 0 || height <= 0)
    return std::string(kind) + " size " + std::to_string(width) + "x" + std::to_string(height) +
           " is not a picture size";
  return std::string(kind) + " picture of " + std::to_string(width) + "x" + std::to_string(height) +
         " pixels is larger than the limit of " + std::to_string(MaxPictureSide) + " pixels a side and " +
         std::to_string(MaxPicturePixels) + " pixels in all";
}

// Clears the fourth byte so that every decoded picture looks the same whatever the file stored.
void clear_fourth_bytes(Bitmap& picture) {
  const std::size_t size = picture.ImageSize();
  std::uint8_t* bits = picture.Bits();
  for (std::size_t i = 3; i < size; i += 4) bits[i] = 0;
}

// ---------------------------------------------------------------------------------------------
// BMP

enum BmpCompression : std::uint32_t {
  BI_RGB = 0,
  BI_RLE8 = 1,
  BI_RLE4 = 2,
  BI_BITFIELDS = 3,
  BI_JPEG = 4,
  BI_PNG = 5,
  BI_ALPHABITFIELDS = 6,
};

constexpr int BmpFileHeaderSize = 14;
constexpr int BmpCoreHeaderSize = 12;
constexpr int BmpInfoHeaderSize = 40;

// One colour channel of a BI_BITFIELDS pixel: a run of set bits, scaled to 0..255.
struct ChannelMask {
  std::uint32_t Mask = 0;
  int Shift = 0;
  std::uint32_t Max = 0;
};

bool make_channel_mask(std::uint32_t mask, int bitsPerPixel, ChannelMask& channel) {
  channel = {};
  if (mask == 0) return true;
  if (bitsPerPixel < 32 && (mask >> bitsPerPixel) != 0) return false;
  int shift = 0;
  while (((mask >> shift) & 1u) == 0) ++shift;
  const std::uint32_t run = mask >> shift;
  if ((run & (run + 1)) != 0) return false;  // not one contiguous run of bits
  channel = {mask, shift, run};
  return true;
}

std::uint8_t channel_value(std::uint32_t pixel, const ChannelMask& channel) {
  if (channel.Max == 0) return 0;
  const std::uint64_t v = (pixel & channel.Mask) >> channel.Shift;
  return static_cast<std::uint8_t>((v * 255 + channel.Max / 2) / channel.Max);
}

struct BmpLayout {
  int Width = 0;
  int Height = 0;
  bool TopDown = false;
  int BitsPerPixel = 0;
  std::uint32_t Compression = BI_RGB;
  std::array<ChannelMask, 3> Masks{};  // red, green, blue
  std::array<std::uint32_t, 256> Palette{};  // blue | green << 8 | red << 16
  std::uint32_t PaletteCount = 0;
  std::size_t PixelOffset = 0;
  std::size_t Stride = 0;
};

bool check_bmp_compression(std::uint32_t bits, std::uint32_t compression, std::string& errorText) {
  switch (compression) {
    case BI_RGB:
      break;
    case BI_BITFIELDS:
    case BI_ALPHABITFIELDS:
      if (bits != 16 && bits != 32) {
        errorText = "BMP colour masks are only valid with 16 or 32 bits per pixel";
        return false;
      }
      break;
    case BI_RLE8:
    case BI_RLE4:
      errorText = "compressed (RLE) BMP files are not supported";
      return false;
    case BI_JPEG:
    case BI_PNG:
      errorText = "BMP files holding JPEG or PNG data are not supported";
      return false;
    default:
      errorText = "unknown BMP compression " + std::to_string(compression);
      return false;
  }
  return true;
}

// The colour masks of a 16- or 32-bit picture: the defaults of its depth, or those the file
// gives (after a 40-byte header, where tableStart moves past them, or inside a longer one).
bool read_bmp_masks(std::span<const std::uint8_t> data, std::uint32_t headerSize, std::size_t& tableStart,
                    BmpLayout& layout, std::string& errorText) {
  const std::size_t size = data.size();
  const std::uint8_t* d = data.data();
  const std::uint8_t* h = d + BmpFileHeaderSize;
  const std::uint32_t bits = static_cast<std::uint32_t>(layout.BitsPerPixel);
  const std::uint32_t compression = layout.Compression;
  std::uint32_t red = 0x7C00, green = 0x03E0, blue = 0x001F;
  if (bits == 32) red = 0xFF0000, green = 0x00FF00, blue = 0x0000FF;
  if (compression != BI_RGB) {
    const std::uint8_t* masks = h + BmpInfoHeaderSize;
    if (headerSize == BmpInfoHeaderSize) {
      const std::size_t maskBytes = compression == BI_ALPHABITFIELDS ? 16 : 12;
      if (size < tableStart + maskBytes) {
        errorText = "BMP colour masks are cut off";
        return false;
      }
      masks = d + tableStart;
      tableStart += maskBytes;
    }
    red = le32(masks), green = le32(masks + 4), blue = le32(masks + 8);
    if ((red | green | blue) == 0) {
      errorText = "BMP colour masks are all empty";
      return false;
    }
  }
  if (bits >= 16 && (!make_channel_mask(red, layout.BitsPerPixel, layout.Masks[0]) ||
      !make_channel_mask(green, layout.BitsPerPixel, layout.Masks[1]) ||
      !make_channel_mask(blue, layout.BitsPerPixel, layout.Masks[2]))) {
    errorText = "BMP colour masks are not runs of bits within the pixel";
    return false;
  }
  return true;
}

// The palette of a picture of up to 8 bits, or the check that the pixels start after the header.
bool read_bmp_palette(std::span<const std::uint8_t> data, bool core, std::uint32_t colorsUsed, std::size_t tableStart,
                      std::uint32_t pixelOffset, BmpLayout& layout, std::string& errorText) {
  const std::size_t size = data.size();
  const std::uint8_t* d = data.data();
  const std::uint32_t bits = static_cast<std::uint32_t>(layout.BitsPerPixel);
  if (bits <= 8) {
    const std::uint32_t maxColors = 1u << bits;
    const std::uint32_t count = colorsUsed == 0 ? maxColors : colorsUsed;
    if (count > maxColors) {
      errorText = "BMP palette of " + std::to_string(count) + " colours is larger than " + std::to_string(bits) +
                  " bits can index";
      return false;
    }
    const std::size_t entrySize = core ? 3 : 4;
    if (size < tableStart + count * entrySize) {
      errorText = "BMP palette is cut off";
      return false;
    }
    if (pixelOffset < tableStart + count * entrySize) {
      errorText = "BMP pixel data overlaps the palette";
      return false;
    }
    for (std::uint32_t i = 0; i < count; ++i) {
      const std::uint8_t* e = d + tableStart + i * entrySize;
      layout.Palette[i] = e[0] | (std::uint32_t{e[1]} << 8) | (std::uint32_t{e[2]} << 16);
    }
    layout.PaletteCount = count;
  } else if (pixelOffset < tableStart) {
    errorText = "BMP pixel data overlaps the header";
    return false;
  }
  return true;
}

bool check_bmp_pixel_data(std::size_t size, std::uint32_t pixelOffset, BmpLayout& layout, std::string& errorText) {
  const std::int64_t width = layout.Width;
  const std::int64_t height = layout.Height;
  const std::int64_t bits = layout.BitsPerPixel;
  layout.PixelOffset = pixelOffset;
  layout.Stride = static_cast<std::size_t>((width * bits + 31) / 32 * 4);
  const std::uint64_t pixelBytes = static_cast<std::uint64_t>(layout.Stride) * layout.Height;
  if (pixelOffset >= size) {
    errorText = "BMP pixel data offset field (" + std::to_string(pixelOffset) + ") points past the end of the file (" +
                std::to_string(size) + " bytes)";
    return false;
  }
  // Names the fields the need comes from: in a small file, a width or height far too large is the
  // likelier damage than lost bytes.
  if (size - pixelOffset < pixelBytes) {
    errorText = "BMP pixel data is cut off: " + std::to_string(width) + "x" + std::to_string(height) + " pixels at " +
                std::to_string(bits) + " bits need " + std::to_string(pixelBytes) + " bytes, the file holds " +
                std::to_string(size - pixelOffset);
    return false;
  }
  return true;
}

bool parse_bmp_header(std::span<const std::uint8_t> data, BmpLayout& layout, std::string& errorText) {
  const std::size_t size = data.size();
  const std::uint8_t* d = data.data();
  if (size < 2 || d[0] != 'B' || d[1] != 'M') {
    errorText = "not a BMP file";
    return false;
  }
  if (size < BmpFileHeaderSize + 4) {
    errorText = "BMP file header is cut off";
    return false;
  }
  // The size field of the file header is often wrong in files that open everywhere else; the real
  // length is what every other field is checked against.
  const std::uint32_t pixelOffset = le32(d + 10);
  const std::uint32_t headerSize = le32(d + 14);
  const bool core = headerSize == BmpCoreHeaderSize;
  const bool knownHeader = core || headerSize == BmpInfoHeaderSize || headerSize == 52 || headerSize == 56 ||
                           headerSize == 108 || headerSize == 124;
  // A size no header has, reaching past the end of the file, is a damaged field, not a new kind
  // of header; a known size past the end is a file that stops inside its header.
  if (headerSize > size - BmpFileHeaderSize) {
    errorText = knownHeader ? "BMP header is cut off (" + std::to_string(size) + " bytes in the file)"
                            : "BMP header size field (" + std::to_string(headerSize) + ") is larger than the file (" +
                                  std::to_string(size) + " bytes)";
    return false;
  }
  if (!knownHeader) {
    errorText = "unsupported BMP header size " + std::to_string(headerSize);
    return false;
  }

  const std::uint8_t* h = d + BmpFileHeaderSize;
  std::int64_t width, height;
  std::uint32_t planes, bits, compression = BI_RGB, colorsUsed = 0;
  if (core) {
    width = le16(h + 4);
    height = le16(h + 6);
    planes = le16(h + 8);
    bits = le16(h + 10);
  } else {
    width = le32s(h + 4);
    height = le32s(h + 8);
    planes = le16(h + 12);
    bits = le16(h + 14);
    compression = le32(h + 16);
    colorsUsed = le32(h + 32);
  }
  if (planes != 1) {
    errorText = "BMP header has " + std::to_string(planes) + " planes instead of 1";
    return false;
  }
  if (width <= 0 || height == 0) {
    errorText = "BMP size " + std::to_string(width) + "x" + std::to_string(height) + " is not a picture size";
    return false;
  }
  layout.TopDown = height < 0;
  if (height < 0) height = -height;  // a 64-bit value, so INT_MIN negates safely
  if (!dimensions_allowed(width, height)) {
    errorText = too_large_text("BMP", width, height);
    return false;
  }
  layout.Width = static_cast<int>(width);
  layout.Height = static_cast<int>(height);

  if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32) {
    errorText = "unsupported BMP depth of " + std::to_string(bits) + " bits per pixel";
    return false;
  }
  layout.BitsPerPixel = static_cast<int>(bits);
  if (!check_bmp_compression(bits, compression, errorText)) return false;
  layout.Compression = compression;

  // Colour masks follow a 40-byte header; longer headers carry them inside.
  std::size_t tableStart = BmpFileHeaderSize + headerSize;
  if (!read_bmp_masks(data, headerSize, tableStart, layout, errorText)) return false;

  if (!read_bmp_palette(data, core, colorsUsed, tableStart, pixelOffset, layout, errorText)) return false;

  return check_bmp_pixel_data(size, pixelOffset, layout, errorText);
}

void decode_bmp_row(const BmpLayout& layout, const std::uint8_t* src, std::uint8_t* dst) {
  const int width = layout.Width;
  auto put = [&dst](std::uint32_t bgr) {
    dst[0] = static_cast<std::uint8_t>(bgr);
    dst[1] = static_cast<std::uint8_t>(bgr >> 8);
    dst[2] = static_cast<std::uint8_t>(bgr >> 16);
    dst[3] = 0;
    dst += 4;
  };
  auto indexed = [&](std::uint32_t index) { put(index < layout.PaletteCount ? layout.Palette[index] : 0); };
  auto masked = [&](std::uint32_t v) {
    put(channel_value(v, layout.Masks[2]) | (std::uint32_t{channel_value(v, layout.Masks[1])} << 8) |
        (std::uint32_t{channel_value(v, layout.Masks[0])} << 16));
  };
  switch (layout.BitsPerPixel) {
    case 1:
      for (int x = 0; x < width; ++x) indexed((src[x >> 3] >> (7 - (x & 7))) & 1u);
      break;
    case 4:
      for (int x = 0; x < width; ++x) indexed((src[x >> 1] >> ((x & 1) ? 0 : 4)) & 0x0Fu);
      break;
    case 8:
      for (int x = 0; x < width; ++x) indexed(src[x]);
      break;
    case 16:
      for (int x = 0; x < width; ++x) masked(le16(src + 2 * x));
      break;
    case 24:
      for (int x = 0; x < width; ++x, src += 3) put(src[0] | (std::uint32_t{src[1]} << 8) | (std::uint32_t{src[2]} << 16));
      break;
    case 32:
      if (layout.Compression == BI_RGB) {
        for (int x = 0; x < width; ++x, src += 4) put(src[0] | (std::uint32_t{src[1]} << 8) | (std::uint32_t{src[2]} << 16));
      } else {
        for (int x = 0; x < width; ++x) masked(le32(src + 4 * x));
      }
      break;
  }
}

// ---------------------------------------------------------------------------------------------
// JPEG. libjpeg reports fatal errors by calling error_exit, which must not return; it jumps back to
// the setjmp of the phase that called the library. A jump skips C++ destructors, so the phases
// between a setjmp and the library calls hold only plain data.

struct JpegErrorManager {
  jpeg_error_mgr Base;
  std::jmp_buf Jump;
  char Message[JMSG_LENGTH_MAX];
  bool Truncated;
};

// A progressive file may repeat its scans over the whole picture as often as it likes, and each
// scan costs a pass over every block: a few hundred KB can ask for seconds of work. Encoders use
// about 10 scans (libjpeg's standard progression), tuned ones a few dozen.
constexpr int MaxJpegScans = 100;

void jpeg_error_exit(j_common_ptr cinfo) {
  auto* err = reinterpret_cast<JpegErrorManager*>(cinfo->err);
  (*cinfo->err->format_message)(cinfo, err->Message);
  std::longjmp(err->Jump, 1);
}

// Warnings that mean the image data itself is damaged: the library would go on and fill the
// damage with grey or garbage, and the slideshow would show it. Others (an unknown JFIF revision,
// a broken colour profile we do not use) leave the pixels intact and stay quiet.
bool jpeg_warning_is_damage(int code) {
  switch (code) {
    case JWRN_ARITH_BAD_CODE:
    case JWRN_BOGUS_PROGRESSION:
    case JWRN_EXTRANEOUS_DATA:
    case JWRN_HIT_MARKER:
    case JWRN_HUFF_BAD_CODE:
    case JWRN_JPEG_EOF:
    case JWRN_MUST_RESYNC:
    case JWRN_NOT_SEQUENTIAL:
      return true;
    default:
      return false;
  }
}

void jpeg_emit_message(j_common_ptr cinfo, int level) {
  auto* err = reinterpret_cast<JpegErrorManager*>(cinfo->err);
  if (level >= 0) return;
  ++cinfo->err->num_warnings;
  if (!jpeg_warning_is_damage(cinfo->err->msg_code)) return;
  // Every library call runs inside a phase with its jump set, so the warning ends the decoding
  // at once, like an error.
  err->Truncated = cinfo->err->msg_code == JWRN_JPEG_EOF;
  (*cinfo->err->format_message)(cinfo, err->Message);
  std::longjmp(err->Jump, 1);
}

void jpeg_count_scans(j_common_ptr cinfo) {
  if (cinfo->is_decompressor == 0) return;
  auto* info = reinterpret_cast<j_decompress_ptr>(cinfo);
  if (info->input_scan_number > MaxJpegScans) {
    auto* err = reinterpret_cast<JpegErrorManager*>(cinfo->err);
    std::snprintf(err->Message, sizeof err->Message, "more than %d scans in a progressive JPEG", MaxJpegScans);
    std::longjmp(err->Jump, 1);
  }
}

struct JpegDecoder {
  jpeg_decompress_struct Info;
  JpegErrorManager Error;
  jpeg_progress_mgr Progress;
  bool Created;
  bool Cmyk;
};

bool jpeg_read_header_phase(JpegDecoder& dec, const std::uint8_t* data, std::size_t size) {
  if (setjmp(dec.Error.Jump)) return false;
  jpeg_create_decompress(&dec.Info);
  dec.Created = true;
  dec.Progress.progress_monitor = jpeg_count_scans;
  dec.Info.progress = &dec.Progress;
  jpeg_mem_src(&dec.Info, data, static_cast<unsigned long>(size));
  jpeg_read_header(&dec.Info, TRUE);
  dec.Cmyk = dec.Info.jpeg_color_space == JCS_CMYK || dec.Info.jpeg_color_space == JCS_YCCK;
  dec.Info.out_color_space = dec.Cmyk ? JCS_CMYK : JCS_EXT_BGRX;
  return true;
}

// Files with an Adobe marker store CMYK inverted (0 = full ink), which is what every CMYK JPEG
// in circulation does; the product of a channel with K then gives the colour directly.
void cmyk_row_to_bgr(const std::uint8_t* cmyk, std::uint8_t* dst, int width, bool inverted) {
  for (int x = 0; x < width; ++x, cmyk += 4, dst += 4) {
    int c = cmyk[0], m = cmyk[1], y = cmyk[2], k = cmyk[3];
    if (!inverted) c = 255 - c, m = 255 - m, y = 255 - y, k = 255 - k;
    dst[0] = static_cast<std::uint8_t>((y * k + 127) / 255);
    dst[1] = static_cast<std::uint8_t>((m * k + 127) / 255);
    dst[2] = static_cast<std::uint8_t>((c * k + 127) / 255);
  }
}

// Where the decoded rows go: straight into the picture, or through a scratch row into a reducer
// when the decoder's own scaling does not reach the factor asked for. Plain pointers only, as the
// phase below may be left by a jump.
struct JpegOutput {
  Bitmap* Picture;
  AreaReducer* Reducer;
  std::uint8_t* Scratch;  // a row of output_width pixels, for CMYK and for the reducer
  int Width;
  int Height;
};

bool jpeg_decode_phase(JpegDecoder& dec, const JpegOutput& out) {
  if (setjmp(dec.Error.Jump)) return false;
  jpeg_start_decompress(&dec.Info);
  if (dec.Info.output_components != 4 || static_cast<int>(dec.Info.output_width) != out.Width ||
      static_cast<int>(dec.Info.output_height) != out.Height) {
    std::snprintf(dec.Error.Message, sizeof dec.Error.Message, "unexpected JPEG output layout");
    return false;
  }
  while (dec.Info.output_scanline < dec.Info.output_height) {
    const int y = static_cast<int>(dec.Info.output_scanline);
    std::uint8_t* const target = out.Reducer != nullptr ? out.Scratch : out.Picture->ScanLine(y);
    JSAMPROW row = dec.Cmyk ? out.Scratch : target;
    if (jpeg_read_scanlines(&dec.Info, &row, 1) != 1) {
      std::snprintf(dec.Error.Message, sizeof dec.Error.Message, "JPEG decoder returned no row");
      return false;
    }
    // In place when both are the scratch row: each pixel is read before it is written.
    if (dec.Cmyk) cmyk_row_to_bgr(out.Scratch, target, out.Width, dec.Info.saw_Adobe_marker);
    if (out.Reducer != nullptr) out.Reducer->AddRow(y, out.Scratch);
  }
  jpeg_finish_decompress(&dec.Info);
  return true;
}

// ---------------------------------------------------------------------------------------------
// PNG: the same jump discipline as JPEG.

struct PngWriter {
  std::vector<std::uint8_t>* Output;
  char Message[200];
};

void png_error_callback(png_structp png, png_const_charp message) {
  auto* writer = static_cast<PngWriter*>(png_get_error_ptr(png));
  std::snprintf(writer->Message, sizeof writer->Message, "%s", message);
  png_longjmp(png, 1);
}

void png_warning_callback(png_structp, png_const_charp) {}

void png_write_callback(png_structp png, png_bytep data, png_size_t length) {
  auto* writer = static_cast<PngWriter*>(png_get_io_ptr(png));
  bool stored = true;
  try {
    writer->Output->insert(writer->Output->end(), data, data + length);
  } catch (const std::bad_alloc&) {
    stored = false;
  }
  if (!stored) png_error(png, "out of memory");
}

void png_flush_callback(png_structp) {}

bool png_encode_phase(png_structp png, png_infop info, const Bitmap& picture, std::uint8_t* rgbRow) {
  if (setjmp(png_jmpbuf(png))) return false;
  const int width = picture.Width(), height = picture.Height(), bytes = picture.BytesPerPixel();
  png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8, PNG_COLOR_TYPE_RGB,
               PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  for (int y = 0; y < height; ++y) {
    const std::uint8_t* src = picture.ScanLine(y);
    for (int x = 0; x < width; ++x, src += bytes) {
      rgbRow[3 * x] = src[2];
      rgbRow[3 * x + 1] = src[1];
      rgbRow[3 * x + 2] = src[0];
    }
    png_write_row(png, rgbRow);
  }
  png_write_end(png, nullptr);
  return true;
}

bool check_encodable(const Bitmap& picture, std::string& errorText) {
  if (picture.IsEmpty()) {
    errorText = "picture is empty";
    return false;
  }
  if (picture.BitsPerPixel() != 24 && picture.BitsPerPixel() != 32) {
    errorText = "only 24- and 32-bit pictures can be written, not " + std::to_string(picture.BitsPerPixel()) + "-bit";
    return false;
  }
  return true;
}

std::string system_error_text() { return std::strerror(errno); }

// An ISO media file starts with its "ftyp" box: a major brand, a version, then compatible brands.
// Any of them naming a HEIF image kind makes the file a HEIF; an MP4 video has none of them.
bool is_heif_file_type(std::span<const std::uint8_t> data) {
  if (data.size() < 16 || std::memcmp(data.data() + 4, "ftyp", 4) != 0) return false;
  static constexpr const char* heifBrands[] = {"heic", "heix", "heim", "heis", "hevc", "hevx",
                                               "hevm", "hevs", "mif1", "msf1", "heif"};
  const std::size_t boxSize = std::min<std::size_t>(be32(data.data()), data.size());
  auto isHeifBrand = [&](std::size_t at) {
    for (const char* brand : heifBrands)
      if (std::memcmp(data.data() + at, brand, 4) == 0) return true;
    return false;
  };
  if (isHeifBrand(8)) return true;
  for (std::size_t at = 16; at + 4 <= boxSize; at += 4)
    if (isHeifBrand(at)) return true;
  return false;
}

}  // namespace

PictureFormat DetectPictureFormat(std::span<const std::uint8_t> data) {
  if (data.size() >= 2 && data[0] == 'B' && data[1] == 'M') return PictureFormat::Bmp;
  if (data.size() >= 3 && data[0] == 0xFF && data[1] == 0xD8 && data[2] == 0xFF) return PictureFormat::Jpeg;
  static constexpr std::uint8_t pngSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
  if (data.size() >= 8 && std::equal(pngSignature, pngSignature + 8, data.begin())) return PictureFormat::Png;
  if (data.size() >= 12 && std::memcmp(data.data(), "RIFF", 4) == 0 && std::memcmp(data.data() + 8, "WEBP", 4) == 0)
    return PictureFormat::Webp;
  if (is_heif_file_type(data)) return PictureFormat::Heif;
  return PictureFormat::Unknown;
}

bool ReadBmp(std::span<const std::uint8_t> data, Bitmap& picture, std::string& errorText,
             const PictureSizeHint& hint) {
  try {
    auto layout = std::make_unique<BmpLayout>();
    if (!parse_bmp_header(data, *layout, errorText)) return false;
    const int factor = ReductionFactor(layout->Width, layout->Height, hint);
    const auto stored_row = [&](int y) {
      const std::size_t row = static_cast<std::size_t>(layout->TopDown ? y : layout->Height - 1 - y);
      return data.data() + layout->PixelOffset + row * layout->Stride;
    };
    Bitmap decoded;
    if (factor == 1) {
      decoded.Resize(layout->Width, layout->Height, 32);
      for (int y = 0; y < layout->Height; ++y) decode_bmp_row(*layout, stored_row(y), decoded.ScanLine(y));
    } else {
      // Top row first whichever way the file stores them, so one row of sums is enough.
      std::vector<std::uint8_t> row(static_cast<std::size_t>(layout->Width) * 4);
      AreaReducer reducer(layout->Width, layout->Height, factor, decoded);
      for (int y = 0; y < layout->Height; ++y) {
        decode_bmp_row(*layout, stored_row(y), row.data());
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

bool ReadJpeg(std::span<const std::uint8_t> data, Bitmap& picture, std::string& errorText,
              const PictureSizeHint& hint) {
  // Held on the heap: libjpeg's records are large and the jump buffers must outlive every phase.
  auto dec = std::make_unique<JpegDecoder>();
  std::memset(dec.get(), 0, sizeof(JpegDecoder));
  dec->Info.err = jpeg_std_error(&dec->Error.Base);
  dec->Error.Base.error_exit = jpeg_error_exit;
  dec->Error.Base.emit_message = jpeg_emit_message;

  struct Destroy {
    JpegDecoder& Decoder;
    ~Destroy() {
      if (Decoder.Created) jpeg_destroy_decompress(&Decoder.Info);
    }
  } destroy{*dec};

  if (data.empty()) {
    errorText = "JPEG file is empty";
    return false;
  }
  if (!jpeg_read_header_phase(*dec, data.data(), data.size())) {
    errorText = dec->Error.Truncated ? std::string("JPEG data ends early (the file is cut off)")
                                     : std::string("JPEG: ") + dec->Error.Message;
    return false;
  }
  const std::int64_t width = dec->Info.image_width, height = dec->Info.image_height;
  if (width <= 0 || height <= 0 || !dimensions_allowed(width, height)) {
    errorText = too_large_text("JPEG", width, height);
    return false;
  }
  // Powers of two only: the scaled transform does 1/2, 1/4 and 1/8 on its fast paths, and its
  // result then sits on whole blocks of the full picture, as the reducer's steps after it do.
  const int factor = ReductionFactor(static_cast<int>(width), static_cast<int>(height), hint, FactorSteps::PowerOfTwo);
  const int decoderFactor = std::min(factor, 8);
  dec->Info.scale_num = 1;
  dec->Info.scale_denom = static_cast<unsigned>(decoderFactor);
  // The decoder's output size, as jpeg_calc_output_dimensions rounds it (up).
  const int outWidth = ReducedSide(static_cast<int>(width), decoderFactor);
  const int outHeight = ReducedSide(static_cast<int>(height), decoderFactor);
  try {
    Bitmap decoded;
    std::unique_ptr<AreaReducer> reducer;
    if (factor > decoderFactor) {
      reducer = std::make_unique<AreaReducer>(outWidth, outHeight, factor / decoderFactor, decoded);
    } else {
      decoded.Resize(outWidth, outHeight, 32);
    }
    std::vector<std::uint8_t> scratch(dec->Cmyk || reducer ? static_cast<std::size_t>(outWidth) * 4 : 0);
    if (!jpeg_decode_phase(*dec, {&decoded, reducer.get(), scratch.data(), outWidth, outHeight})) {
      errorText = dec->Error.Truncated ? std::string("JPEG data ends early (the file is cut off)")
                                       : std::string("JPEG: ") + dec->Error.Message;
      return false;
    }
    clear_fourth_bytes(decoded);
    picture = std::move(decoded);
    return true;
  } catch (const std::bad_alloc&) {
    errorText = "not enough memory for the picture";
    return false;
  }
}

bool ReadPicture(std::span<const std::uint8_t> data, Bitmap& picture, std::string& errorText, PictureTurn turn,
                 const PictureSizeHint& hint) {
  switch (DetectPictureFormat(data)) {
    case PictureFormat::Bmp:
      return ReadBmp(data, picture, errorText, hint);
    case PictureFormat::Jpeg: {
      const Orientation orientation = turn == PictureTurn::AsStored ? Orientation::AsStored : JpegOrientation(data);
      // A quarter turn makes the stored rows the shown columns: the side that must cover the
      // box's width is the stored height.
      const bool quarterTurn = orientation >= Orientation::Transpose;
      if (!ReadJpeg(data, picture, errorText, quarterTurn ? hint.Turned() : hint)) return false;
      if (turn == PictureTurn::AsStored) return true;
      try {
        ApplyOrientation(picture, orientation);
      } catch (const std::bad_alloc&) {
        errorText = "not enough memory to turn the picture upright";
        return false;
      }
      return true;
    }
    case PictureFormat::Png:
      return ReadPng(data, picture, errorText, hint);
    case PictureFormat::Webp:
      return ReadWebp(data, picture, errorText, hint);
    case PictureFormat::Heif:
      return ReadHeif(data, picture, errorText, turn, hint);
    case PictureFormat::Unknown:
      break;
  }
  errorText = data.empty() ? "the file is empty" : "not a BMP, JPEG, PNG, WebP or HEIC/HEIF picture";
  return false;
}

bool ReadPictureFile(const std::string& fileName, Bitmap& picture, std::string& errorText, PictureTurn turn) {
  auto fail = [&](const std::string& why) {
    errorText = "cannot read \"" + fileName + "\": " + why;
    return false;
  };
  std::string reason;
  const int fd = OpenInputFile(fileName, reason);
  if (fd < 0) return fail(reason);
  struct Close {
    int Fd;
    ~Close() { ::close(Fd); }
  } close{fd};
  struct stat info {};
  if (::fstat(fd, &info) != 0) return fail(system_error_text());
  if (info.st_size > MaxPictureFileBytes) return fail("the file is larger than 1 GiB");

  std::vector<std::uint8_t> bytes;
  try {
    bytes.resize(static_cast<std::size_t>(info.st_size));
  } catch (const std::bad_alloc&) {
    return fail("not enough memory to read it");
  }
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::read(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return fail(system_error_text());
    if (n == 0) break;  // the file shrank while we read it: decode what is there
    done += static_cast<std::size_t>(n);
  }
  bytes.resize(done);
  std::string why;
  if (!ReadPicture(bytes, picture, why, turn)) return fail(why);
  return true;
}

bool EncodeBmp24(const Bitmap& picture, std::vector<std::uint8_t>& file, std::string& errorText) {
  if (!check_encodable(picture, errorText)) return false;
  const int width = picture.Width(), height = picture.Height(), bytes = picture.BytesPerPixel();
  const std::size_t stride = static_cast<std::size_t>(RowStride(width, 24));
  const std::uint64_t pixelBytes = static_cast<std::uint64_t>(stride) * height;
  const std::uint64_t headerBytes = BmpFileHeaderSize + BmpInfoHeaderSize;
  if (headerBytes + pixelBytes > 0xFFFFFFFFu) {
    errorText = "picture is too large for a BMP file";
    return false;
  }
  try {
    file.assign(static_cast<std::size_t>(headerBytes + pixelBytes), 0);
  } catch (const std::bad_alloc&) {
    errorText = "not enough memory to encode the picture";
    return false;
  }
  std::uint8_t* d = file.data();
  d[0] = 'B';
  d[1] = 'M';
  put32(d + 2, static_cast<std::uint32_t>(file.size()));
  put32(d + 10, static_cast<std::uint32_t>(headerBytes));
  std::uint8_t* h = d + BmpFileHeaderSize;
  put32(h, BmpInfoHeaderSize);
  put32(h + 4, static_cast<std::uint32_t>(width));
  put32(h + 8, static_cast<std::uint32_t>(height));
  put16(h + 12, 1);
  put16(h + 14, 24);
  put32(h + 16, BI_RGB);
  put32(h + 20, static_cast<std::uint32_t>(pixelBytes));
  put32(h + 24, 2835);  // 72 dots per inch, as pixels per metre
  put32(h + 28, 2835);
  std::uint8_t* row = d + headerBytes;
  for (int y = height - 1; y >= 0; --y, row += stride) {
    const std::uint8_t* src = picture.ScanLine(y);
    std::uint8_t* dst = row;
    for (int x = 0; x < width; ++x, src += bytes, dst += 3) {
      dst[0] = src[0];
      dst[1] = src[1];
      dst[2] = src[2];
    }
  }
  return true;
}

bool EncodePng(const Bitmap& picture, std::vector<std::uint8_t>& file, std::string& errorText) {
  if (!check_encodable(picture, errorText)) return false;
  file.clear();
  PngWriter writer{&file, {}};
  png_structp png =
      png_create_write_struct(PNG_LIBPNG_VER_STRING, &writer, png_error_callback, png_warning_callback);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  struct Destroy {
    png_structp& Png;
    png_infop& Info;
    ~Destroy() {
      if (Png) png_destroy_write_struct(&Png, Info ? &Info : nullptr);
    }
  } destroy{png, info};
  if (!info) {
    errorText = "PNG: cannot set up the encoder";
    return false;
  }
  std::vector<std::uint8_t> rgbRow;
  try {
    rgbRow.resize(static_cast<std::size_t>(picture.Width()) * 3);
  } catch (const std::bad_alloc&) {
    errorText = "not enough memory to encode the picture";
    return false;
  }
  png_set_write_fn(png, &writer, png_write_callback, png_flush_callback);
  if (!png_encode_phase(png, info, picture, rgbRow.data())) {
    errorText = std::string("PNG: ") + writer.Message;
    return false;
  }
  return true;
}

PictureFormat OutputFormatForName(const std::string& fileName) {
  if (fileName.size() >= 4) {
    std::string tail = fileName.substr(fileName.size() - 4);
    std::transform(tail.begin(), tail.end(), tail.begin(), [](unsigned char c) { return std::tolower(c); });
    if (tail == ".png") return PictureFormat::Png;
  }
  return PictureFormat::Bmp;
}

bool EncodePicture(const std::string& fileName, const Bitmap& picture, std::vector<std::uint8_t>& file,
                   std::string& errorText) {
  return OutputFormatForName(fileName) == PictureFormat::Png ? EncodePng(picture, file, errorText)
                                                             : EncodeBmp24(picture, file, errorText);
}

bool WritePictureFile(const std::string& fileName, const Bitmap& picture, std::string& errorText) {
  OutputFile output;
  if (!output.Open(fileName, errorText)) return false;
  std::vector<std::uint8_t> bytes;
  if (!EncodePicture(fileName, picture, bytes, errorText)) {
    errorText = "cannot write \"" + fileName + "\": " + errorText;
    return false;
  }
  return output.Write(bytes, errorText) && output.Commit(errorText);
}

}  // namespace lumivor
