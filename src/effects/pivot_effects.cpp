// Pivots: the new picture swings into the frame like a door hinged just outside one corner.
#include <cmath>
#include <cstdint>
#include <cstring>

#include "raster/arith.h"
#include "effects/effect_procs.h"

namespace lumivor::transitions {

namespace {

using Fixed = std::int64_t;  // 16 fraction bits; 64-bit so that no frame size can overflow a product

constexpr int FixedOne = 65536;

struct ColumnSpan {
  int First = 0;
  int Last = 0;  // exclusive
};

// a div b rounded toward minus infinity, b > 0.
Fixed floor_div(Fixed a, Fixed b) { return a >= 0 ? a / b : -((-a + b - 1) / b); }

// The columns x in [0, width) for which lo <= start + x * step < hi. The source position of a row
// is affine in x and the picture is convex, so the pixels that find a source pixel form one run;
// finding it exactly up front keeps the bounds test out of the pixel loop.
ColumnSpan columns_within(Fixed start, Fixed step, Fixed lo, Fixed hi, int width) {
  Fixed first = 0;
  Fixed last = width;
  if (step > 0) {
    first = -floor_div(start - lo, step);     // ceil((lo - start) / step)
    last = -floor_div(start - hi, step);      // ceil((hi - start) / step)
  } else if (step < 0) {
    first = floor_div(start - hi, -step) + 1;
    last = floor_div(start - lo, -step) + 1;
  } else if (start < lo || start >= hi) {
    return {};
  }
  if (first < 0) first = 0;
  if (last > width) last = width;
  if (last <= first) return {};
  return {static_cast<int>(first), static_cast<int>(last)};
}

ColumnSpan overlap(ColumnSpan a, ColumnSpan b) {
  const ColumnSpan r{a.First > b.First ? a.First : b.First, a.Last < b.Last ? a.Last : b.Last};
  return r.Last > r.First ? r : ColumnSpan{};
}

// The new picture turned by Angle (radians, anticlockwise when positive) about column PX and
// bottom-up row PY. Every destination pixel whose turned-back position falls inside Source takes
// that Source pixel; the rest keep the old picture.
void PivotCopy(Bitmap& Dest, const Bitmap& Source, int PX, int PY, long double Angle) {
  const int width = Dest.Width();
  const int height = Dest.Height();
  const Fixed c = Trunc(FixedOne * std::cos(Angle));
  const Fixed s = Trunc(-FixedOne * std::sin(Angle));
  // floor(n / 65536) lies in [0, size) exactly when n lies in [-pivot * 65536, (size - pivot) * 65536).
  const Fixed columnLo = Fixed{-PX} * FixedOne;
  const Fixed columnHi = Fixed{width - PX} * FixedOne;
  const Fixed rowLo = Fixed{-PY} * FixedOne;
  const Fixed rowHi = Fixed{height - PY} * FixedOne;
  const int stride = Dest.Stride();
  const std::uint8_t* source = Source.Bits();
  const Fixed u0 = 1 - PX;

  for (int r = 0; r < height; ++r) {  // bottom-up memory order
    const Fixed v = r + 1 - PY;
    const Fixed column0 = u0 * c - v * s;  // grows by c per column
    const Fixed row0 = u0 * s + v * c;     // grows by s per column
    const ColumnSpan span = overlap(columns_within(column0, c, columnLo, columnHi, width),
                                    columns_within(row0, s, rowLo, rowHi, width));
    std::uint8_t* target = Dest.Bits() + static_cast<std::ptrdiff_t>(r) * stride;
    Fixed column = column0 + span.First * c;
    Fixed row = row0 + span.First * s;
    for (int x = span.First; x < span.Last; ++x, column += c, row += s) {
      const std::ptrdiff_t sx = PX + (column >> 16);
      const std::ptrdiff_t sr = PY + (row >> 16);
      std::memcpy(target + 4 * x, source + sr * stride + 4 * sx, 4);
    }
  }
}

}  // namespace

void PivotFromTopLeft(Bitmap& Dest, const Bitmap& Source, int, int, int, int, int Progress) {
  PivotCopy(Dest, Source, -1, -1, (100 - Progress) * Pi / 200);
}

void PivotFromBottomLeft(Bitmap& Dest, const Bitmap& Source, int, int FrameHeight, int, int, int Progress) {
  PivotCopy(Dest, Source, -1, FrameHeight, (Progress - 100) * Pi / 200);
}

void PivotFromTopRight(Bitmap& Dest, const Bitmap& Source, int FrameWidth, int, int, int, int Progress) {
  PivotCopy(Dest, Source, FrameWidth, -1, (Progress - 100) * Pi / 200);
}

void PivotFromBottomRight(Bitmap& Dest, const Bitmap& Source, int FrameWidth, int FrameHeight, int, int,
                          int Progress) {
  PivotCopy(Dest, Source, FrameWidth, FrameHeight, (100 - Progress) * Pi / 200);
}

}  // namespace lumivor::transitions
