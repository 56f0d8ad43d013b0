// Rotating shapes: a rectangle or a four-pointed star that makes one full turn over the transition.
#include <array>
#include <cmath>

#include "raster/arith.h"
#include "effects/curve_effect_ops.h"
#include "effects/effect_procs.h"
#include "effects/mask.h"

namespace lumivor::transitions {

void RotatePoints(std::span<Point> points, int CX, int CY, long double Theta) {
  const long double c = std::cos(Theta), s = std::sin(Theta);
  for (Point& pt : points) {
    const long double dx = pt.X - CX, dy = pt.Y - CY;
    pt = {Round(dx * c - dy * s) + CX, Round(dx * s + dy * c) + CY};
  }
}

namespace {

// The new picture's buffer identity is the same for every frame of a transition, so its parity
// keeps one direction for the whole transition while still varying between transitions.
long double turn_angle(const Bitmap& Source, int p) {
  const long double theta = p * Pi / 50;
  return (Source.SourceSeed() & 1u) != 0 ? -theta : theta;
}

std::array<Point, 4> centred_box(int W, int H, int w, int h) {
  const int cx = W / 2, cy = H / 2, a = w / 2, b = h / 2;
  return {{{cx - a, cy - b}, {cx + a, cy - b}, {cx + a, cy + b}, {cx - a, cy + b}}};
}

void copy_turned(Bitmap& Dest, const Bitmap& Source, int W, int H, std::span<Point> shape, Point pivot, int p) {
  RotatePoints(shape, pivot.X, pivot.Y, turn_angle(Source, p));
  MaskedCopy(Dest, Source, PolygonMask(W, H, shape));
}

}  // namespace

void RotationalRectangleInCenter(Bitmap& Dest, const Bitmap& Source, int W, int H, int w, int h, int p) {
  std::array<Point, 4> box = centred_box(W, H, w, h);
  copy_turned(Dest, Source, W, H, box, {W / 2, H / 2}, p);
}

void RotationalStarInCenter(Bitmap& Dest, const Bitmap& Source, int W, int H, int w, int h, int p) {
  const int cx = W / 2, cy = H / 2, a = w / 2, b = h / 2;
  // Tips 2w and 2h out; the inner corners are those of the w x h box.
  std::array<Point, 8> star = {{{cx - 2 * w, cy},
                                {cx - a, cy - b},
                                {cx, cy - 2 * h},
                                {cx + a, cy - b},
                                {cx + 2 * w, cy},
                                {cx + a, cy + b},
                                {cx, cy + 2 * h},
                                {cx - a, cy + b}}};
  copy_turned(Dest, Source, W, H, star, {cx, cy}, p);
}

// The pivot (w, h) travels from the top-left corner to the bottom-right one, so the growing
// rectangle circles a moving point.
void SpiralRectangle(Bitmap& Dest, const Bitmap& Source, int W, int H, int w, int h, int p) {
  std::array<Point, 4> box = centred_box(W, H, w, h);
  copy_turned(Dest, Source, W, H, box, {w, h}, p);
}

}  // namespace lumivor::transitions
