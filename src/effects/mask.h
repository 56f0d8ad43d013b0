// Masks as scanline spans: for every frame row, the sorted, disjoint runs of pixels inside the
// mask. A pixel belongs to a shape when its centre (x + 0.5, y + 0.5) lies inside it; there is no
// anti-aliasing. Masks are clipped to the frame they are built for, so shapes may lie partly or
// wholly outside it.
#pragma once

#include <cstdint>
#include <span>
#include <utility>
#include <vector>

#include "raster/raster.h"

namespace lumivor {

// Pixels Left <= x < Right of one row.
struct Span {
  int Left = 0;
  int Right = 0;
  friend constexpr bool operator==(const Span&, const Span&) = default;
};

class Mask {
 public:
  Mask() = default;
  // An empty mask for a frame of the given size.
  Mask(int frameWidth, int frameHeight);

  int FrameWidth() const { return width_; }
  int FrameHeight() const { return height_; }
  bool IsEmpty() const { return spans_.empty(); }
  // The runs of frame row y, left to right; empty outside the frame.
  std::span<const Span> Row(int y) const;
  bool Contains(int x, int y) const;
  std::int64_t PixelCount() const;

  friend Mask operator|(const Mask& a, const Mask& b);
  friend Mask operator&(const Mask& a, const Mask& b);
  friend Mask operator^(const Mask& a, const Mask& b);

 private:
  friend class MaskBuilder;
  int width_ = 0;
  int height_ = 0;
  std::vector<Span> spans_;
  // Row y's spans are spans_[rowStart_[y] .. rowStart_[y + 1]).
  std::vector<int> rowStart_;
};

// Collects shapes whose union becomes a mask. Cheap to add to; Build sorts and merges once, so a
// grid of a few hundred shapes costs one pass instead of one combination per shape.
class MaskBuilder {
 public:
  MaskBuilder(int frameWidth, int frameHeight);

  void AddRect(const Rect& r);
  // Integer vertices, closed implicitly, filled by the non-zero winding rule.
  void AddPolygon(std::span<const Point> points);
  // The ellipse inscribed in box.
  void AddEllipse(const Rect& box);
  // box with each corner replaced by a quarter of an ellipse ew wide and eh high; a corner size
  // larger than the box is reduced to the box's size.
  void AddRoundRect(const Rect& box, int ew, int eh);
  // Adds the pixels left <= x < right of row y (clipped).
  void AddSpan(int y, int left, int right);

  bool HasShapes() const { return !rects_.empty() || !pending_.empty(); }
  // The union of everything added; the builder is empty again afterwards and keeps its storage.
  Mask Build();

 private:
  struct RowSpan {
    int Y;
    int Left;
    int Right;
  };
  void BucketPendingByRow();
  void StartRectSweep();
  // The union of the rectangles covering row y, valid while y stays below the returned row.
  int RectRunsFrom(int y);

  int width_;
  int height_;
  // Rectangles are swept in Build rather than split into rows as they come: lists of thousands of
  // column-shaped rectangles would otherwise become millions of spans to sort.
  std::vector<Rect> rects_;
  std::vector<RowSpan> pending_;
  std::vector<int> rowFirst_;
  std::vector<int> rowCursor_;
  std::vector<Span> bucketed_;
  std::vector<Rect> active_;
  std::vector<Rect> sortedRects_;
  std::vector<int> topFirst_;
  std::vector<Span> rectRuns_;
  std::size_t nextRect_ = 0;
  // The lowest bottom edge among the active rectangles: nothing leaves the sweep above it.
  int activeBottom_ = 0;
  struct Crossing {
    double X;
    int Direction;
  };
  std::vector<Crossing> crossings_;
  // A polygon's sloped edges, top to bottom, with what each row's crossing needs from them.
  struct Edge {
    double Top;
    double Bottom;
    double X;  // at Y
    double Y;
    double DX;
    double DY;
    int Direction;
  };
  std::vector<Edge> edges_;
};

Mask RectMask(int frameWidth, int frameHeight, const Rect& r);
Mask PolygonMask(int frameWidth, int frameHeight, std::span<const Point> points);
// The flat form x0, y0, x1, y1, ...: count is the index of the last integer, so the polygon has
// (count + 1) / 2 points (5 gives three points, 7 gives four).
Mask PolygonMask(int frameWidth, int frameHeight, const int* coordinates, int count);
Mask EllipseMask(int frameWidth, int frameHeight, const Rect& box);
Mask RoundRectMask(int frameWidth, int frameHeight, const Rect& box, int ew, int eh);
// The whole frame except hole.
Mask FrameExceptMask(int frameWidth, int frameHeight, const Rect& hole);

// A growing list of rectangles that becomes a mask: the union of everything added.
class TComplexRegion {
 public:
  TComplexRegion() { ClearRegion(); }

  void ClearRegion();
  // Grows the buffer by 500 rectangles when it is full. Empty or inverted rectangles are stored
  // but add nothing to the mask.
  void AddRect(int left, int top, int right, int bottom);
  // No mask (an empty one) when nothing was ever added.
  Mask MakeRegion(int frameWidth, int frameHeight) const;

  int Capacity() const { return capacity_; }
  int Count() const { return count_; }
  int Left() const { return left_; }
  int Top() const { return top_; }
  int Right() const { return right_; }
  int Bottom() const { return bottom_; }

 private:
  std::vector<Rect> rects_;
  int capacity_ = 0;
  int count_ = 0;
  int left_ = 0;
  int top_ = 0;
  int right_ = 0;
  int bottom_ = 0;
};

// D[x, y] := S[x, y] for every pixel inside M; the new picture never moves in a masked copy.
void MaskedCopy(Bitmap& D, const Bitmap& S, const Mask& M);

}  // namespace lumivor
