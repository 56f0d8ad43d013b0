// The raster library the frame code is written in: a device-independent bitmap and the rectangle
// operations on it. Rows are stored bottom-up and padded to 4 bytes, so a bitmap's memory has the
// layout of a BMP file's pixel array and of the pictures the encoder is fed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <vector>

namespace lumivor {

// A rectangle covers the pixels with Left <= x < Right and Top <= y < Bottom; an inverted or empty
// rectangle covers nothing. Frame coordinates: y grows downwards from the top edge.
struct Rect {
  int Left = 0;
  int Top = 0;
  int Right = 0;
  int Bottom = 0;

  constexpr int Width() const { return Right - Left; }
  constexpr int Height() const { return Bottom - Top; }
  constexpr bool IsEmpty() const { return Right <= Left || Bottom <= Top; }
  friend constexpr bool operator==(const Rect&, const Rect&) = default;
};

struct Point {
  int X = 0;
  int Y = 0;
  friend constexpr bool operator==(const Point&, const Point&) = default;
};

// Colour table entry of an 8-bit bitmap, in memory order.
struct PaletteEntry {
  std::uint8_t Blue = 0;
  std::uint8_t Green = 0;
  std::uint8_t Red = 0;
  std::uint8_t Reserved = 0;
};

// A picture of 8, 16, 24 or 32 bits per pixel. 32-bit pixels are bytes blue, green, red and a
// fourth byte without colour; 24-bit pixels drop the fourth byte; 16-bit pixels are 5-5-5 (the
// high bit unused); 8-bit pixels index the palette. The bitmap is movable, not copyable: frame
// buffers are large and every copy should be visible in the code (use Assign).
class Bitmap {
 public:
  Bitmap() = default;
  Bitmap(int width, int height, int bitsPerPixel = 32);
  Bitmap(Bitmap&&) noexcept = default;
  Bitmap& operator=(Bitmap&&) noexcept = default;
  Bitmap(const Bitmap&) = delete;
  Bitmap& operator=(const Bitmap&) = delete;

  // Changes size and depth; the pixel memory is reused when it is large enough and its contents
  // are unspecified afterwards. Sizes below zero are taken as zero.
  void Resize(int width, int height, int bitsPerPixel);
  // Makes this bitmap an exact copy of other (size, depth, pixels, palette, SourceSeed).
  void Assign(const Bitmap& other);
  void Fill(std::uint32_t bgra);

  int Width() const { return width_; }
  int Height() const { return height_; }
  int BitsPerPixel() const { return bitsPerPixel_; }
  int BytesPerPixel() const { return bitsPerPixel_ / 8; }
  // Bytes per stored row, a multiple of 4.
  int Stride() const { return stride_; }
  bool IsEmpty() const { return width_ <= 0 || height_ <= 0; }

  // The pixel memory, bottom row first.
  std::uint8_t* Bits() { return pixels_.data(); }
  const std::uint8_t* Bits() const { return pixels_.data(); }
  std::size_t ImageSize() const { return static_cast<std::size_t>(stride_) * height_; }
  // First byte of frame row y (0 = top row).
  std::uint8_t* ScanLine(int y) { return Bits() + RowOffset(y); }
  const std::uint8_t* ScanLine(int y) const { return Bits() + RowOffset(y); }

  // 32-bit pixel access for tests and tools; the frame code works on rows.
  std::uint32_t Pixel(int x, int y) const;
  void SetPixel(int x, int y, std::uint32_t bgra);

  std::vector<PaletteEntry>& Palette() { return palette_; }
  const std::vector<PaletteEntry>& Palette() const { return palette_; }

  // The canvas lock: whoever draws into or reads a shared bitmap holds it. It is re-entrant, as a
  // canvas lock is on the desktop: a frame handler that locks the canvas it was handed must not
  // deadlock when its caller already holds that lock around the call.
  std::recursive_mutex& Lock() const { return *lock_; }

  // A 32-bit value identifying this picture buffer. The transitions read it from the new picture
  // to seed their random choices and to pick a direction of rotation, so it must stay the same for
  // every frame of a transition; the owner of the buffer sets it.
  std::uint32_t SourceSeed() const { return sourceSeed_; }
  void SetSourceSeed(std::uint32_t seed) { sourceSeed_ = seed; }

  // Work memory that operations reading and writing the same bitmap use to hold their source.
  // Kept with the bitmap so that a frame loop does not allocate per frame.
  std::vector<std::uint8_t>& Scratch() const { return *scratch_; }

 private:
  std::size_t RowOffset(int y) const { return static_cast<std::size_t>(height_ - 1 - y) * stride_; }

  int width_ = 0;
  int height_ = 0;
  int bitsPerPixel_ = 32;
  int stride_ = 0;
  std::uint32_t sourceSeed_ = 0;
  std::vector<std::uint8_t> pixels_;
  std::vector<PaletteEntry> palette_;
  std::unique_ptr<std::recursive_mutex> lock_ = std::make_unique<std::recursive_mutex>();
  std::unique_ptr<std::vector<std::uint8_t>> scratch_ = std::make_unique<std::vector<std::uint8_t>>();
};

// Stride of a row of width pixels at the given depth, padded to 4 bytes.
int RowStride(int width, int bitsPerPixel);

// D[dx+i, dy+j] := S[sx+i, sy+j] for 0 <= i < cw, 0 <= j < ch, whole pixels. Writes only pixels
// inside D and reads only pixels inside S. When D and S are the same bitmap the result is as if S
// had been read completely first. Both bitmaps must have the same depth.
void CopyRect(Bitmap& D, int dx, int dy, int cw, int ch, const Bitmap& S, int sx, int sy);

// Nearest-neighbour scaling of the source rectangle (sx, sy, sw, sh) onto the destination
// rectangle (dx, dy, dw, dh); no averaging. A negative dw mirrors left-right: the destination
// covers the columns dx+dw+1 .. dx and its column dx shows source column sx (likewise dh for rows,
// and a negative sw or sh mirrors the source the same way). A zero size draws nothing. Same-bitmap
// calls read the source rectangle before writing. Both bitmaps must have the same depth.
void StretchRect(Bitmap& D, int dx, int dy, int dw, int dh, const Bitmap& S, int sx, int sy, int sw, int sh);

// For blue, green and red: D.c := D.c + floor((S.c - D.c) * weight / 256), weight 0..256; the fourth
// byte keeps D. 24- and 32-bit bitmaps of the same size and depth.
void BlendPixels(Bitmap& D, const Bitmap& S, int weight);
void BlendPixels(Bitmap& D, const Bitmap& S, int weight, const Rect& area);

}  // namespace lumivor
