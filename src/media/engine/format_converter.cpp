#include "media/engine/format_converter.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

extern "C" {
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

#include "media/engine/ffmpeg_exception.h"
#include "media/runtime/ff_load.h"
#include "media/runtime/runtime_errors.h"

namespace lumivor {
namespace {

struct BitmapFormatRow {
  BitmapDepth Format;
  int Bits;
  AVPixelFormat PixFmt;
};

constexpr BitmapFormatRow kBitmapFormats[] = {
    {bf8Bit, 8, AV_PIX_FMT_BGR8},
    // The library names packed 16-bit formats from the most significant bit down, so the layout
    // of a 16-bit bitmap (red in the high bits, blue in the low ones) is its "rgb" one; its
    // bgr555le and bgr565le would swap red and blue.
    {bf15Bit, 16, AV_PIX_FMT_RGB555LE},
    {bf16Bit, 16, AV_PIX_FMT_RGB565LE},
    {bf24Bit, 24, AV_PIX_FMT_BGR24},
    {bf32Bit, 32, AV_PIX_FMT_BGRA},
};

// Rows of the bitmap are 4-byte aligned; the conversion buffer uses the same alignment so that a
// converted picture copies into the bitmap row for row.
constexpr int kRowAlign = 4;
// The scaler's vector code writes whole blocks of pixels: on a picture narrower than a block its
// last row runs past the end of an exactly sized buffer (a few pixels wide pictures corrupted the
// heap). The slack takes those writes.
constexpr std::size_t kScalerSlack = 256;

// bgr8 pixels are 3-3-2 packed (blue in the top bits); an 8-bit bitmap shows them through this
// palette.
void FillBgr8Palette(Bitmap& bitmap) {
  auto& palette = bitmap.Palette();
  palette.resize(256);
  for (int i = 0; i < 256; ++i) {
    palette[i].Red = static_cast<std::uint8_t>((i & 7) * 255 / 7);
    palette[i].Green = static_cast<std::uint8_t>(((i >> 3) & 7) * 255 / 7);
    palette[i].Blue = static_cast<std::uint8_t>((i >> 6) * 255 / 3);
    palette[i].Reserved = 0;
  }
}

}  // namespace

TFormatConverter::TFormatConverter() { Reset(); }

void TFormatConverter::Reset() {
  for (const auto& row : kBitmapFormats) {
    if (row.Format == bitmapFormat_) {
      bitsPixel_ = row.Bits;
      bitmapPixFmt_ = row.PixFmt;
    }
  }
  bitmap_.Resize(bitmap_.Width(), bitmap_.Height(), bitsPixel_);
  if (bitmapFormat_ == bf8Bit) {
    FillBgr8Palette(bitmap_);
  } else {
    bitmap_.Palette().clear();
  }
  current_ = nullptr;
}

void TFormatConverter::SetBitsPixel(int bits) {
  BitmapDepth format;
  switch (bits) {
    case 8: format = bf8Bit; break;
    case 15: format = bf15Bit; break;
    case 16: format = bf16Bit; break;
    case 24: format = bf24Bit; break;
    case 32: format = bf32Bit; break;
    default: {
      char text[64];
      std::snprintf(text, sizeof text, "Invalid BitsPixel %d", bits);
      throw FFmpegException(text);
    }
  }
  if (format == bitmapFormat_) return;
  bitmapFormat_ = format;
  Reset();
}

bool TFormatConverter::PictureToBitmap(const PicturePlanes& picture, AVPixelFormat format, bool copy, int height,
                                       int width) {
  bitmap_.Resize(width, height, bitsPixel_);
  const bool odd = (width % 2) != 0 || (height % 2) != 0;
  if (format != bitmapPixFmt_ || odd || picture.LineSize[0] != bitmap_.Stride()) {
    const int size = lib::av_image_get_buffer_size(bitmapPixFmt_, width, height, kRowAlign);
    if (size < 0) {
      lastError_ = "Cannot initialize the toRGB conversion context";
      return false;
    }
    const std::size_t needed = static_cast<std::size_t>(size) + kScalerSlack;
    if (buffer_.size() < needed) buffer_.resize(needed);
    converted_ = PicturePlanes();
    lib::av_image_fill_arrays(converted_.Data, converted_.LineSize, buffer_.data(), bitmapPixFmt_, width, height,
                              kRowAlign);
    // The scaler asserts on formats it does not know instead of failing.
    if (lib::sws_isSupportedInput(format) <= 0) {
      lastError_ = "Cannot initialize the toRGB conversion context";
      return false;
    }
    // The cached call frees the context it is given when it cannot reuse it.
    toRgbContext_.reset(lib::sws_getCachedContext(toRgbContext_.release(), width, height, format, width, height,
                                                  bitmapPixFmt_, SwsFlags, nullptr, nullptr, nullptr));
    if (toRgbContext_ == nullptr) {
      lastError_ = "Cannot initialize the toRGB conversion context";
      return false;
    }
    lib::sws_scale(toRgbContext_.get(), picture.Data, picture.LineSize, 0, height, converted_.Data, converted_.LineSize);
    current_ = &converted_;
  } else {
    caller_ = picture;
    current_ = &caller_;
  }
  currentHeight_ = height;
  if (copy) CopyToBitmap();
  return true;
}

void TFormatConverter::CopyToBitmap() {
  if (current_ == nullptr) throw EAssertionFailed();
  const int bytes = std::min(current_->LineSize[0], bitmap_.Stride());
  const int rows = std::min(currentHeight_, bitmap_.Height());
  for (int y = 0; y < rows; ++y) {
    std::memcpy(bitmap_.ScanLine(y), current_->Data[0] + static_cast<std::ptrdiff_t>(y) * current_->LineSize[0],
                bytes);
  }
}

void TFormatConverter::CopyFromBitmap() {
  if (current_ == nullptr) throw EAssertionFailed();
  const int bytes = std::min(current_->LineSize[0], bitmap_.Stride());
  const int rows = std::min(currentHeight_, bitmap_.Height());
  for (int y = 0; y < rows; ++y) {
    std::memcpy(current_->Data[0] + static_cast<std::ptrdiff_t>(y) * current_->LineSize[0], bitmap_.ScanLine(y),
                bytes);
  }
}

bool TFormatConverter::BitmapToPicture(const PicturePlanes& destination, AVPixelFormat format, int height, int width) {
  if (current_ == nullptr) throw EAssertionFailed();
  if (lib::sws_isSupportedOutput(format) <= 0) {
    lastError_ = "Cannot initialize the fromRGB conversion context";
    return false;
  }
  fromRgbContext_.reset(lib::sws_getCachedContext(fromRgbContext_.release(), width, height, bitmapPixFmt_, width,
                                                  height, format, SwsFlags, nullptr, nullptr, nullptr));
  if (fromRgbContext_ == nullptr) {
    lastError_ = "Cannot initialize the fromRGB conversion context";
    return false;
  }
  lib::sws_scale(fromRgbContext_.get(), current_->Data, current_->LineSize, 0, height, destination.Data,
                 destination.LineSize);
  return true;
}

}  // namespace lumivor
