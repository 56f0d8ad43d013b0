// Pictures of the media library to the raster library's bitmap and back: video hooks, the preview
// and the player draw on a Bitmap while the pictures travel as library planes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

extern "C" {
#include <libavutil/pixfmt.h>
}

#include "raster/raster.h"
#include "media/runtime/library_objects.h"

namespace lumivor {

enum BitmapDepth { bf8Bit, bf15Bit, bf16Bit, bf24Bit, bf32Bit };

// Plane pointers and line sizes of one picture, the library's layout.
struct PicturePlanes {
  std::uint8_t* Data[8] = {};
  int LineSize[8] = {};
};

class TFormatConverter {
 public:
  TFormatConverter();
  ~TFormatConverter() = default;
  TFormatConverter(const TFormatConverter&) = delete;
  TFormatConverter& operator=(const TFormatConverter&) = delete;

  // 8, 15, 16, 24 or 32; anything else raises FFmpegException "Invalid BitsPixel %d".
  void SetBitsPixel(int bits);
  // Bits per pixel of the bitmap side: 15-bit pictures are stored in 16 bits.
  int BitsPixel() const { return bitsPixel_; }
  BitmapDepth BitmapFormat() const { return bitmapFormat_; }
  AVPixelFormat BitmapPixFmt() const { return bitmapPixFmt_; }

  Bitmap& GetBitmap() { return bitmap_; }
  const Bitmap& GetBitmap() const { return bitmap_; }

  // Prepares Current from the picture (converted when its format, an odd size or its line size
  // does not fit the bitmap) and, with copy, fills the bitmap. The picture must stay valid until
  // the next call when it is used as it is.
  bool PictureToBitmap(const PicturePlanes& picture, AVPixelFormat format, bool copy, int height, int width);
  // Current to the bitmap and back, first line of the picture to the bitmap's top row. Raise
  // EAssertionFailed when no picture is prepared.
  void CopyToBitmap();
  void CopyFromBitmap();
  // Current, in BitmapPixFmt, scaled into the destination picture.
  bool BitmapToPicture(const PicturePlanes& destination, AVPixelFormat format, int height, int width);

  // True when the last PictureToBitmap went through the conversion buffer.
  bool CurrentIsConverted() const { return current_ == &converted_; }
  const PicturePlanes* Current() const { return current_; }
  const std::string& LastError() const { return lastError_; }

  int SwsFlags = 4;  // bicubic: the same look as the library's command-line default

 private:
  void Reset();

  BitmapDepth bitmapFormat_ = bf32Bit;
  AVPixelFormat bitmapPixFmt_ = AV_PIX_FMT_BGRA;
  int bitsPixel_ = 32;
  Bitmap bitmap_;
  std::vector<std::uint8_t> buffer_;
  PicturePlanes converted_;
  PicturePlanes caller_;
  const PicturePlanes* current_ = nullptr;
  int currentHeight_ = 0;
  SwsContextPtr toRgbContext_;
  SwsContextPtr fromRgbContext_;
  std::string lastError_;
};

}  // namespace lumivor
