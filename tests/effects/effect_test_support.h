// Pictures whose every pixel tells where it came from, so that a test can read off a composed
// frame which picture each pixel shows and from which position.
#pragma once

#include <cstdint>
#include <sstream>
#include <string>

#include "effects/effect.h"
#include "raster/raster.h"

namespace lumivor::testing {

// The fourth byte tags the picture (blends never touch it); blue, green and red carry the column
// and row the pixel had in its picture (12 bits each).
inline constexpr std::uint8_t OldTag = 0x11;
inline constexpr std::uint8_t NewTag = 0xEE;

inline std::uint32_t EncodePixel(int x, int y, std::uint8_t tag) {
  const std::uint32_t blue = x & 0xFF;
  const std::uint32_t green = y & 0xFF;
  const std::uint32_t red = ((x >> 8) & 0x0F) | (((y >> 8) & 0x0F) << 4);
  return blue | (green << 8) | (red << 16) | (std::uint32_t{tag} << 24);
}

inline Bitmap MakeTaggedPicture(int width, int height, std::uint8_t tag, std::uint32_t sourceSeed = 0x2468ACE0u) {
  Bitmap b(width, height, 32);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) b.SetPixel(x, y, EncodePixel(x, y, tag));
  b.SetSourceSeed(sourceSeed);
  return b;
}

inline Bitmap MakeOldPicture(int width, int height) { return MakeTaggedPicture(width, height, OldTag); }
inline Bitmap MakeNewPicture(int width, int height, std::uint32_t sourceSeed = 0x2468ACE0u) {
  return MakeTaggedPicture(width, height, NewTag, sourceSeed);
}

inline std::uint8_t TagOf(const Bitmap& frame, int x, int y) { return frame.Pixel(x, y) >> 24; }
inline bool IsNew(const Bitmap& frame, int x, int y) { return TagOf(frame, x, y) == NewTag; }
inline bool IsOld(const Bitmap& frame, int x, int y) { return TagOf(frame, x, y) == OldTag; }

// The position a pixel had in its own picture (meaningless for blended pixels).
inline Point OriginOf(const Bitmap& frame, int x, int y) {
  const std::uint32_t v = frame.Pixel(x, y);
  const int blue = v & 0xFF, green = (v >> 8) & 0xFF, red = (v >> 16) & 0xFF;
  return {blue | ((red & 0x0F) << 8), green | ((red >> 4) << 8)};
}

// The caller's contract, as the sequencer runs it.
inline Bitmap Compose(int effect, int progress, const Bitmap& oldPicture, const Bitmap& newPicture) {
  Bitmap frame;
  ComposeTransitionFrame(frame, oldPicture, newPicture, effect, progress);
  return frame;
}

inline std::int64_t CountNew(const Bitmap& frame) {
  std::int64_t n = 0;
  for (int y = 0; y < frame.Height(); ++y)
    for (int x = 0; x < frame.Width(); ++x) n += IsNew(frame, x, y);
  return n;
}

// Bounding box of the pixels showing the new picture; empty when there are none.
inline Rect NewArea(const Bitmap& frame) {
  Rect r{frame.Width(), frame.Height(), 0, 0};
  for (int y = 0; y < frame.Height(); ++y)
    for (int x = 0; x < frame.Width(); ++x)
      if (IsNew(frame, x, y)) {
        if (x < r.Left) r.Left = x;
        if (y < r.Top) r.Top = y;
        if (x + 1 > r.Right) r.Right = x + 1;
        if (y + 1 > r.Bottom) r.Bottom = y + 1;
      }
  return r.IsEmpty() ? Rect{} : r;
}

// Every pixel equal in all four bytes, the fourth included: the effects carry the pictures' tags
// there.
inline bool SamePixels(const Bitmap& a, const Bitmap& b) {
  if (a.Width() != b.Width() || a.Height() != b.Height()) return false;
  for (int y = 0; y < a.Height(); ++y)
    for (int x = 0; x < a.Width(); ++x)
      if (a.Pixel(x, y) != b.Pixel(x, y)) return false;
  return true;
}

// What SamePixels finds wrong, for a failure message: the first pixel where two pictures differ
// and how many do; empty when they are the same.
inline std::string DifferenceOf(const Bitmap& frame, const Bitmap& expected) {
  std::ostringstream text;
  if (frame.Width() != expected.Width() || frame.Height() != expected.Height()) {
    text << "the picture is " << frame.Width() << "x" << frame.Height() << ", expected " << expected.Width() << "x"
         << expected.Height();
    return text.str();
  }
  long long count = 0;
  for (int y = 0; y < frame.Height(); ++y)
    for (int x = 0; x < frame.Width(); ++x)
      if (frame.Pixel(x, y) != expected.Pixel(x, y) && count++ == 0)
        text << "pixel (" << x << ", " << y << ") is 0x" << std::hex << frame.Pixel(x, y) << ", expected 0x"
             << expected.Pixel(x, y) << std::dec;
  if (count == 0) return {};
  text << "; " << count << " pixels differ";
  return text.str();
}

}  // namespace lumivor::testing
