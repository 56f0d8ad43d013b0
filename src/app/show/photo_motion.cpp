#include "app/show/photo_motion.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace lumivor {

namespace {

// The pre-scaled copy is at most this many times the frame on each axis; a longer or stronger move
// is slowed to fit, which keeps a photo's memory bounded whatever the delays.
constexpr double MaxZoom = 2.0;

// A small generator of its own, so that the moves do not take numbers from the shared generator the
// random transitions are drawn from: a seeded run picks the same transitions with or without motion.
class MoveDice {
 public:
  explicit MoveDice(std::uint32_t seed) : state_(seed * 0x9E3779B97F4A7C15ull + 0x632BE59BD9B4E019ull) {}
  // A number in [0, 1).
  double Next() {
    std::uint64_t x = (state_ += 0x9E3779B97F4A7C15ull);
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    x ^= x >> 31;
    return static_cast<double>(x >> 11) / static_cast<double>(std::uint64_t{1} << 53);
  }
  double Between(double low, double high) { return low + (high - low) * Next(); }

 private:
  std::uint64_t state_;
};

double lerp(double from, double to, double t) { return from + (to - from) * t; }

// Sub-pixel positions have 7 bits of fraction: fine enough that a move of a hundredth of a pixel a
// frame still shows, and small enough that the two steps' products fit 16-bit lanes.
constexpr int FractionBits = 7;
constexpr int FractionOne = 1 << FractionBits;

// mix := upper * (1 - below) + lower * below, per byte, with FractionBits of fraction kept.
void mix_rows(const std::uint8_t* upper, const std::uint8_t* lower, std::uint16_t* mix, int bytes, int below) {
  const int above = FractionOne - below;
  int i = 0;
#if defined(__SSE2__)
  const __m128i upperWeight = _mm_set1_epi16(static_cast<short>(above));
  const __m128i lowerWeight = _mm_set1_epi16(static_cast<short>(below));
  const __m128i zero = _mm_setzero_si128();
  for (; i + 16 <= bytes; i += 16) {
    const __m128i u = _mm_loadu_si128(reinterpret_cast<const __m128i*>(upper + i));
    const __m128i l = _mm_loadu_si128(reinterpret_cast<const __m128i*>(lower + i));
    const __m128i low = _mm_add_epi16(_mm_mullo_epi16(_mm_unpacklo_epi8(u, zero), upperWeight),
                                      _mm_mullo_epi16(_mm_unpacklo_epi8(l, zero), lowerWeight));
    const __m128i high = _mm_add_epi16(_mm_mullo_epi16(_mm_unpackhi_epi8(u, zero), upperWeight),
                                       _mm_mullo_epi16(_mm_unpackhi_epi8(l, zero), lowerWeight));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(mix + i), low);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(mix + i + 8), high);
  }
#endif
  for (; i < bytes; ++i) mix[i] = static_cast<std::uint16_t>(upper[i] * above + lower[i] * below);
}

// One frame row from a mixed source row: each pixel between its source column and the next, by the
// column's packed weights (left in the low half, right in the high half). The mixed row holds one
// pixel more than it uses, so reading a pixel's right neighbour never leaves it.
void sample_row(const std::uint16_t* mix, const int* columns, const std::uint32_t* weights, std::uint8_t* out,
                int width) {
  constexpr int Shift = 2 * FractionBits;
#if defined(__SSE2__)
  const __m128i rounding = _mm_set1_epi32(1 << (Shift - 1));
  for (int x = 0; x < width; ++x, out += 4) {
    const __m128i pair = _mm_loadu_si128(reinterpret_cast<const __m128i*>(mix + std::size_t{4} * columns[x]));
    const __m128i interleaved = _mm_unpacklo_epi16(pair, _mm_srli_si128(pair, 8));
    const __m128i sum = _mm_madd_epi16(interleaved, _mm_set1_epi32(static_cast<int>(weights[x])));
    const __m128i result = _mm_srli_epi32(_mm_add_epi32(sum, rounding), Shift);
    const __m128i bytes = _mm_packus_epi16(_mm_packs_epi32(result, result), result);
    const int pixel = _mm_cvtsi128_si32(bytes);
    std::memcpy(out, &pixel, 4);
  }
#else
  for (int x = 0; x < width; ++x, out += 4) {
    const std::uint16_t* a = mix + std::size_t{4} * columns[x];
    const int left = static_cast<int>(weights[x] & 0xFFFF);
    const int right = static_cast<int>(weights[x] >> 16);
    for (int c = 0; c < 4; ++c)
      out[c] = static_cast<std::uint8_t>((a[c] * left + a[c + 4] * right + (1 << (Shift - 1))) >> Shift);
  }
#endif
}

}  // namespace

std::optional<MotionKind> ParseMotionKind(std::string_view text) {
  for (MotionKind kind : {MotionKind::None, MotionKind::Zoom, MotionKind::Pan, MotionKind::Random})
    if (text == MotionKindName(kind)) return kind;
  return std::nullopt;
}

std::string_view MotionKindName(MotionKind kind) {
  switch (kind) {
    case MotionKind::Zoom:
      return "zoom";
    case MotionKind::Pan:
      return "pan";
    case MotionKind::Random:
      return "random";
    case MotionKind::None:
      break;
  }
  return "none";
}

MotionPath ChooseMotionPath(MotionKind kind, int strengthPercent, int frameCount, int holdFrames, std::uint32_t seed) {
  MotionPath path;
  const double strength = std::clamp(strengthPercent, 0, MaxMotionStrength) / 100.0;
  if (kind == MotionKind::None || strength <= 0) return path;
  MoveDice dice(seed);
  if (kind == MotionKind::Random) kind = dice.Next() < 0.5 ? MotionKind::Zoom : MotionKind::Pan;

  if (kind == MotionKind::Zoom) {
    const double perFrame = strength / std::max(holdFrames, 1);
    const double change = std::min(perFrame * std::max(frameCount - 1, 0), MaxZoom - 1.0);
    const bool zoomIn = dice.Next() < 0.5;
    path.ZoomStart = zoomIn ? 1.0 : 1.0 + change;
    path.ZoomEnd = zoomIn ? 1.0 + change : 1.0;
    // Zooming about a point off the middle makes the photo drift as it grows or shrinks.
    path.AnchorXStart = path.AnchorXEnd = dice.Between(0.2, 0.8);
    path.AnchorYStart = path.AnchorYEnd = dice.Between(0.2, 0.8);
    return path;
  }

  // A pan at a steady zoom crosses all the room the zoom leaves, in a direction of its own.
  path.ZoomStart = path.ZoomEnd = std::min(1.0 + strength, MaxZoom);
  const double angle = dice.Between(0.0, 2.0 * M_PI);
  double dx = std::cos(angle);
  double dy = std::sin(angle);
  const double longest = std::max(std::abs(dx), std::abs(dy));
  dx /= longest;
  dy /= longest;
  path.AnchorXStart = 0.5 - dx / 2;
  path.AnchorXEnd = 0.5 + dx / 2;
  path.AnchorYStart = 0.5 - dy / 2;
  path.AnchorYEnd = 0.5 + dy / 2;
  return path;
}

void PhotoMover::Prepare(const Bitmap& photo, ScreenMode mode, const MotionPath& path, int frameWidth,
                         int frameHeight, int frameCount) {
  path_ = path;
  frameWidth_ = std::max(frameWidth, 0);
  frameHeight_ = std::max(frameHeight, 0);
  frameCount_ = std::max(frameCount, 1);
  const double zoom = std::clamp(path.LargestZoom(), 1.0, MaxZoom);
  scaled_.Resize(static_cast<int>(std::ceil(frameWidth_ * zoom)), static_cast<int>(std::ceil(frameHeight_ * zoom)),
                 32);
  // Always smooth: whole pixels would crawl as the picture moves.
  LayOutPhoto(scaled_, photo, mode, PictureScaler::Smooth);
  columnIndex_.resize(static_cast<std::size_t>(frameWidth_));
  columnWeight_.resize(static_cast<std::size_t>(frameWidth_));
  // One pixel more than a row, read with weight 0 beside the last column.
  rowMix_.assign(static_cast<std::size_t>(scaled_.Width() + 1) * 4, 0);
}

void PhotoMover::Clear() { scaled_.Resize(0, 0, 32); }

void PhotoMover::DrawFrame(Bitmap& frame, int index) {
  if (frame.IsEmpty()) return;
  if (scaled_.IsEmpty() || frame.Width() != frameWidth_ || frame.Height() != frameHeight_ ||
      frame.BitsPerPixel() != 32) {
    if (frame.ImageSize() > 0) std::memset(frame.Bits(), 0, frame.ImageSize());
    return;
  }
  const double t = frameCount_ > 1 ? std::clamp(index, 0, frameCount_ - 1) / static_cast<double>(frameCount_ - 1) : 0.0;
  const double zoom = std::max(lerp(path_.ZoomStart, path_.ZoomEnd, t), 1.0);
  const double anchorX = std::clamp(lerp(path_.AnchorXStart, path_.AnchorXEnd, t), 0.0, 1.0);
  const double anchorY = std::clamp(lerp(path_.AnchorYStart, path_.AnchorYEnd, t), 0.0, 1.0);

  // The shown part of the scaled copy: 1/zoom of it, placed by the anchor within the room left.
  const int scaledWidth = scaled_.Width();
  const int scaledHeight = scaled_.Height();
  const double stepX = static_cast<double>(scaledWidth) / frameWidth_ / zoom;
  const double stepY = static_cast<double>(scaledHeight) / frameHeight_ / zoom;
  const double left = anchorX * (scaledWidth - frameWidth_ * stepX);
  const double top = anchorY * (scaledHeight - frameHeight_ * stepY);

  // Fixed-point positions; each frame column's source pair and weights once per frame.
  const auto fixed = [](double position, int size) {
    const long whole = std::lround(position * FractionOne);
    return std::clamp<long>(whole, 0, static_cast<long>(size - 1) * FractionOne);
  };
  for (int x = 0; x < frameWidth_; ++x) {
    const long p = fixed(left + (x + 0.5) * stepX - 0.5, scaledWidth);
    const auto right = static_cast<std::uint32_t>(p & (FractionOne - 1));
    columnIndex_[x] = static_cast<int>(p >> FractionBits);
    columnWeight_[x] = (FractionOne - right) | (right << 16);
  }
  const int firstColumn = columnIndex_.front();
  const int lastColumn = std::min(columnIndex_.back() + 1, scaledWidth - 1);
  const int spanBytes = (lastColumn - firstColumn + 1) * 4;
  for (int& column : columnIndex_) column -= firstColumn;

  for (int y = 0; y < frameHeight_; ++y) {
    const long p = fixed(top + (y + 0.5) * stepY - 0.5, scaledHeight);
    const int row = static_cast<int>(p >> FractionBits);
    const std::uint8_t* upper = scaled_.ScanLine(row) + std::size_t{4} * firstColumn;
    const std::uint8_t* lower = scaled_.ScanLine(std::min(row + 1, scaledHeight - 1)) + std::size_t{4} * firstColumn;
    mix_rows(upper, lower, rowMix_.data(), spanBytes, static_cast<int>(p & (FractionOne - 1)));
    sample_row(rowMix_.data(), columnIndex_.data(), columnWeight_.data(), frame.ScanLine(y), frameWidth_);
  }
}

}  // namespace lumivor
