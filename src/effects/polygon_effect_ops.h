// The shapes the straight-edged transitions are drawn with, and the two ways their masks combine.
// Every one of these transitions is one masked copy: the new picture stays in place and only the
// mask moves, so each procedure reduces to a list of shapes in frame coordinates.
#pragma once

#include <array>
#include <initializer_list>
#include <span>

#include "effects/mask.h"
#include "raster/raster.h"

namespace lumivor::transitions::polygon_ops {

// A triangle or a four-cornered polygon with integer vertices, filled by the non-zero winding
// rule: a degenerate one (all points on a line) covers nothing.
struct Shape {
  std::array<Point, 4> Corners{};
  int Count = 0;

  std::span<const Point> Vertices() const { return {Corners.data(), static_cast<std::size_t>(Count)}; }
};

inline Shape Triangle(Point a, Point b, Point c) { return {{a, b, c, Point{}}, 3}; }
inline Shape Polygon(Point a, Point b, Point c, Point d) { return {{a, b, c, d}, 4}; }
// The whole frame, as a shape so that "frame xor ..." reads like the other combinations.
inline Shape Frame(int W, int H) { return Polygon({0, 0}, {W, 0}, {W, H}, {0, H}); }

// Shows the new picture wherever any of the shapes lies. Each shape is filled on its own before
// the union, so two shapes wound in opposite directions do not cancel where they overlap.
inline void RevealUnion(Bitmap& Dest, const Bitmap& Source, int W, int H, std::initializer_list<Shape> shapes) {
  MaskBuilder builder(W, H);
  for (const Shape& s : shapes) builder.AddPolygon(s.Vertices());
  if (builder.HasShapes() == false) return;
  MaskedCopy(Dest, Source, builder.Build());
}

// Shows the new picture wherever an odd number of the shapes lies.
inline void RevealXor(Bitmap& Dest, const Bitmap& Source, int W, int H, std::initializer_list<Shape> shapes) {
  Mask combined(W, H);
  for (const Shape& s : shapes) combined = combined ^ PolygonMask(W, H, s.Vertices());
  if (combined.IsEmpty()) return;
  MaskedCopy(Dest, Source, combined);
}

}  // namespace lumivor::transitions::polygon_ops
