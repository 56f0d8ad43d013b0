// Diagonal sweeps, starbursts and clock sweeps: triangles and fans hinged at a corner or the centre.
#include <array>
#include <cmath>
#include <initializer_list>
#include <vector>

#include "raster/arith.h"
#include "effects/curve_effect_ops.h"
#include "effects/effect_procs.h"
#include "effects/mask.h"

namespace lumivor::transitions {

Mask FanMask(int frameWidth, int frameHeight, int CX, int CY, int R, long double Start, long double End, int Count) {
  if (Count < 1) return Mask(frameWidth, frameHeight);
  const long double step = (End - Start) / Count;
  std::vector<Point> points;
  points.reserve(static_cast<std::size_t>(Count) + 1);
  points.push_back({CX, CY});
  // Accumulated rather than Start + k * step: the arc points are defined by repeated addition.
  long double angle = Start;
  for (int k = 0; k < Count; ++k) {
    points.push_back({CX + Round(R * std::cos(angle)), CY + Round(R * std::sin(angle))});
    angle += step;
  }
  return PolygonMask(frameWidth, frameHeight, points);
}

namespace {

using Triangle = std::array<Point, 3>;

void copy_triangles(Bitmap& Dest, const Bitmap& Source, int W, int H, std::initializer_list<Triangle> triangles) {
  MaskBuilder shape(W, H);
  for (const Triangle& t : triangles) shape.AddPolygon(t);
  MaskedCopy(Dest, Source, shape.Build());
}

// Smallest radius that still reaches the frame's corners from the centre.
int clock_radius(int W, int H) { return Ceil(std::hypot(static_cast<long double>(W / 2), static_cast<long double>(H / 2))); }

}  // namespace

void DiagonalSweepFromTopLeftBottomRightAnticlockwise(Bitmap& Dest, const Bitmap& Source, int W, int H, int w, int,
                                                      int) {
  copy_triangles(Dest, Source, W, H, {{{{0, H}, {0, 0}, {w, H}}}, {{{W, H}, {W, 0}, {W - w, 0}}}});
}

void DiagonalSweepFromTopLeftBottomRightClockwise(Bitmap& Dest, const Bitmap& Source, int W, int H, int, int h, int) {
  copy_triangles(Dest, Source, W, H, {{{{W, 0}, {0, 0}, {W, h}}}, {{{W, H}, {0, H}, {0, H - h}}}});
}

void StarburstClockwiseFromCenter(Bitmap& Dest, const Bitmap& Source, int W, int H, int w, int h, int) {
  const Point c{W / 2, H / 2};
  copy_triangles(Dest, Source, W, H,
                 {{{c, {0, 0}, {w, 0}}}, {{c, {0, H}, {0, H - h}}}, {{c, {W, H}, {W - w, H}}}, {{c, {W, 0}, {W, h}}}});
}

void StarburstAnticlockwiseFromCenter(Bitmap& Dest, const Bitmap& Source, int W, int H, int w, int h, int) {
  const Point c{W / 2, H / 2};
  copy_triangles(Dest, Source, W, H,
                 {{{c, {0, 0}, {0, h}}}, {{c, {0, H}, {w, H}}}, {{c, {W, H}, {W, H - h}}}, {{c, {W, 0}, {W - w, 0}}}});
}

// One step per percent, starting at twelve o'clock.

void SweepClockwise(Bitmap& Dest, const Bitmap& Source, int W, int H, int, int, int p) {
  MaskedCopy(Dest, Source, FanMask(W, H, W / 2, H / 2, clock_radius(W, H), -Pi / 2, p * Pi / 50 - Pi / 2, p));
}

void SweepAnticlockwise(Bitmap& Dest, const Bitmap& Source, int W, int H, int, int, int p) {
  MaskedCopy(Dest, Source, FanMask(W, H, W / 2, H / 2, clock_radius(W, H), -Pi / 2, -p * Pi / 50 - Pi / 2, p));
}

}  // namespace lumivor::transitions
