#include "effects/mask.h"

#include <algorithm>
#include <cassert>
#include <climits>
#include <cmath>
#include <cstring>

#include "raster/short_copy.h"

namespace lumivor {

Mask::Mask(int frameWidth, int frameHeight)
    : width_(std::max(frameWidth, 0)), height_(std::max(frameHeight, 0)), rowStart_(height_ + 1, 0) {}

std::span<const Span> Mask::Row(int y) const {
  if (y < 0 || y >= height_ || spans_.empty()) return {};
  return std::span<const Span>(spans_).subspan(rowStart_[y], rowStart_[y + 1] - rowStart_[y]);
}

bool Mask::Contains(int x, int y) const {
  for (const Span& s : Row(y))
    if (x >= s.Left && x < s.Right) return true;
  return false;
}

std::int64_t Mask::PixelCount() const {
  std::int64_t n = 0;
  for (const Span& s : spans_) n += s.Right - s.Left;
  return n;
}

namespace {

// Appends [left, right) to a row under construction, joining it to the previous run when they touch.
void AppendRun(std::vector<Span>& out, std::size_t rowFirst, int left, int right) {
  if (right <= left) return;
  if (out.size() > rowFirst && out.back().Right >= left) {
    out.back().Right = std::max(out.back().Right, right);
    return;
  }
  out.push_back({left, right});
}

// Fills the rows of a mask of the same frame as a and b with the pixels for which inside holds.
// Each row's runs are sorted and apart, so one walk over both lists, from boundary to boundary,
// visits every place where coverage can change; between two boundaries one test decides.
template <typename Op>
void Combine(const Mask& a, const Mask& b, Op inside, std::vector<Span>& spans, std::vector<int>& rowStart) {
  assert(a.FrameWidth() == b.FrameWidth() && a.FrameHeight() == b.FrameHeight());
  for (int y = 0; y < a.FrameHeight(); ++y) {
    const auto ra = a.Row(y), rb = b.Row(y);
    const std::size_t rowFirst = spans.size();
    rowStart[y] = static_cast<int>(rowFirst);
    std::size_t ia = 0, ib = 0;
    int x = INT_MAX;
    if (!ra.empty()) x = ra.front().Left;
    if (!rb.empty()) x = std::min(x, rb.front().Left);
    for (;;) {
      while (ia < ra.size() && ra[ia].Right <= x) ++ia;
      while (ib < rb.size() && rb[ib].Right <= x) ++ib;
      if (ia == ra.size() && ib == rb.size()) break;
      const bool inA = ia < ra.size() && ra[ia].Left <= x;
      const bool inB = ib < rb.size() && rb[ib].Left <= x;
      int next = INT_MAX;
      if (ia < ra.size()) next = inA ? ra[ia].Right : ra[ia].Left;
      if (ib < rb.size()) next = std::min(next, inB ? rb[ib].Right : rb[ib].Left);
      if (inside(inA, inB)) AppendRun(spans, rowFirst, x, next);
      x = next;
    }
  }
  rowStart[a.FrameHeight()] = static_cast<int>(spans.size());
}

// Pixels whose centres lie in [left, right) on a row: the first is ceil(left - 0.5), the end
// ceil(right - 0.5). Clamped so that shapes far outside the frame cannot overflow an int.
int CentreIndex(double x) {
  const double i = std::ceil(x - 0.5);
  if (i < -1e9) return -1000000000;
  if (i > 1e9) return 1000000000;
  return static_cast<int>(i);
}

}  // namespace

Mask operator|(const Mask& a, const Mask& b) {
  Mask out(a.FrameWidth(), a.FrameHeight());
  Combine(a, b, [](bool x, bool y) { return x || y; }, out.spans_, out.rowStart_);
  return out;
}

Mask operator&(const Mask& a, const Mask& b) {
  Mask out(a.FrameWidth(), a.FrameHeight());
  Combine(a, b, [](bool x, bool y) { return x && y; }, out.spans_, out.rowStart_);
  return out;
}

Mask operator^(const Mask& a, const Mask& b) {
  Mask out(a.FrameWidth(), a.FrameHeight());
  Combine(a, b, [](bool x, bool y) { return x != y; }, out.spans_, out.rowStart_);
  return out;
}

MaskBuilder::MaskBuilder(int frameWidth, int frameHeight)
    : width_(std::max(frameWidth, 0)), height_(std::max(frameHeight, 0)) {}

void MaskBuilder::AddSpan(int y, int left, int right) {
  if (y < 0 || y >= height_) return;
  left = std::max(left, 0);
  right = std::min(right, width_);
  if (right > left) pending_.push_back({y, left, right});
}

void MaskBuilder::AddRect(const Rect& r) {
  const Rect clipped{std::max(r.Left, 0), std::max(r.Top, 0), std::min(r.Right, width_), std::min(r.Bottom, height_)};
  if (!clipped.IsEmpty()) rects_.push_back(clipped);
}

void MaskBuilder::AddPolygon(std::span<const Point> points) {
  if (points.size() < 3) return;
  int minY = INT_MAX, maxY = INT_MIN;
  for (const Point& p : points) {
    minY = std::min(minY, p.Y);
    maxY = std::max(maxY, p.Y);
  }
  // The edges are set up once, not once per row: diamond and triangle grids fill thousands of
  // rows. The crossing is the same expression on the same values either way.
  edges_.clear();
  for (std::size_t i = 0; i < points.size(); ++i) {
    const Point& a = points[i];
    const Point& b = i + 1 < points.size() ? points[i + 1] : points[0];
    if (a.Y == b.Y) continue;
    const bool downward = a.Y < b.Y;
    edges_.push_back({static_cast<double>(downward ? a.Y : b.Y), static_cast<double>(downward ? b.Y : a.Y),
                      static_cast<double>(a.X), static_cast<double>(a.Y), static_cast<double>(b.X) - a.X,
                      static_cast<double>(b.Y) - a.Y, downward ? 1 : -1});
  }
  const int top = std::max(minY, 0), bottom = std::min(maxY, height_);
  for (int y = top; y < bottom; ++y) {
    const double centre = y + 0.5;
    crossings_.clear();
    for (const Edge& e : edges_) {
      if (centre < e.Top || centre >= e.Bottom) continue;
      crossings_.push_back({e.X + (centre - e.Y) * e.DX / e.DY, e.Direction});
    }
    const auto byX = [](const Crossing& l, const Crossing& r) { return l.X < r.X; };
    if (crossings_.size() == 2) {
      // A convex outline's row: two crossings, swapped only when strictly out of order.
      if (byX(crossings_[1], crossings_[0])) std::swap(crossings_[0], crossings_[1]);
    } else {
      std::sort(crossings_.begin(), crossings_.end(), byX);
    }
    // Non-zero winding: inside wherever the signed count of crossed edges is not zero.
    int winding = 0;
    double start = 0;
    for (const Crossing& c : crossings_) {
      const int before = winding;
      winding += c.Direction;
      if (before == 0 && winding != 0) start = c.X;
      if (before != 0 && winding == 0) AddSpan(y, CentreIndex(start), CentreIndex(c.X));
    }
  }
}

void MaskBuilder::AddEllipse(const Rect& box) { AddRoundRect(box, box.Width(), box.Height()); }

void MaskBuilder::AddRoundRect(const Rect& box, int ew, int eh) {
  if (box.IsEmpty()) return;
  ew = std::min(ew, box.Width());
  eh = std::min(eh, box.Height());
  if (ew <= 0 || eh <= 0) {
    AddRect(box);
    return;
  }
  const double a = ew / 2.0, b = eh / 2.0;
  const double upper = box.Top + b, lower = box.Bottom - b;
  const int top = std::max(box.Top, 0), bottom = std::min(box.Bottom, height_);
  for (int y = top; y < bottom; ++y) {
    const double centre = y + 0.5;
    double inset = 0;
    if (centre < upper || centre > lower) {
      const double d = (centre < upper ? upper - centre : centre - lower) / b;
      if (d >= 1) continue;
      inset = a * (1 - std::sqrt(1 - d * d));
    }
    AddSpan(y, CentreIndex(box.Left + inset), CentreIndex(box.Right - inset));
  }
}

// Counting sort of the pending spans by row: rowFirst_[y] .. rowFirst_[y + 1] index bucketed_.
void MaskBuilder::BucketPendingByRow() {
  rowFirst_.assign(height_ + 1, 0);
  for (const RowSpan& p : pending_) ++rowFirst_[p.Y + 1];
  for (int y = 0; y < height_; ++y) rowFirst_[y + 1] += rowFirst_[y];
  bucketed_.resize(pending_.size());
  rowCursor_.assign(rowFirst_.begin(), rowFirst_.end() - 1);
  for (const RowSpan& p : pending_) bucketed_[rowCursor_[p.Y]++] = {p.Left, p.Right};
  for (int y = 0; y < height_; ++y) {
    const auto first = bucketed_.begin() + rowFirst_[y], last = bucketed_.begin() + rowFirst_[y + 1];
    if (!std::is_sorted(first, last, [](const Span& a, const Span& b) { return a.Left < b.Left; }))
      std::sort(first, last, [](const Span& a, const Span& b) { return a.Left < b.Left; });
  }
}

// Rectangles in order of their top rows: a counting sort, since tops are frame rows.
void MaskBuilder::StartRectSweep() {
  topFirst_.assign(height_ + 1, 0);
  for (const Rect& r : rects_) ++topFirst_[r.Top + 1];
  for (int y = 0; y < height_; ++y) topFirst_[y + 1] += topFirst_[y];
  sortedRects_.resize(rects_.size());
  for (const Rect& r : rects_) sortedRects_[topFirst_[r.Top]++] = r;
  rects_.swap(sortedRects_);
  active_.clear();
  activeBottom_ = INT_MAX;
  rectRuns_.clear();
  nextRect_ = 0;
}

int MaskBuilder::RectRunsFrom(int y) {
  // The active list stays sorted by left edge. The rectangles starting on this row are sorted
  // among themselves and merged in, so that rows where hundreds of specks start at once cost one
  // pass, not one shift of the list per rectangle.
  const auto byLeft = [](const Rect& a, const Rect& b) { return a.Left < b.Left; };
  if (y >= activeBottom_) std::erase_if(active_, [y](const Rect& r) { return r.Bottom <= y; });
  const std::size_t firstNew = nextRect_;
  for (; nextRect_ < rects_.size() && rects_[nextRect_].Top <= y; ++nextRect_) {
  }
  if (nextRect_ > firstNew) {
    const auto first = rects_.begin() + static_cast<std::ptrdiff_t>(firstNew);
    const auto last = rects_.begin() + static_cast<std::ptrdiff_t>(nextRect_);
    // Rectangles added left to right (a row of specks, a grid) usually start here in order.
    if (!std::is_sorted(first, last, byLeft)) std::sort(first, last, byLeft);
    sortedRects_.resize(active_.size() + (nextRect_ - firstNew));
    std::merge(active_.begin(), active_.end(), first, last, sortedRects_.begin(), byLeft);
    active_.swap(sortedRects_);
  }
  rectRuns_.clear();
  activeBottom_ = INT_MAX;
  for (const Rect& r : active_) {
    activeBottom_ = std::min(activeBottom_, r.Bottom);
    AppendRun(rectRuns_, 0, r.Left, r.Right);
  }
  return std::min(activeBottom_, nextRect_ < rects_.size() ? rects_[nextRect_].Top : height_);
}

Mask MaskBuilder::Build() {
  Mask mask(width_, height_);
  BucketPendingByRow();
  StartRectSweep();
  int rectsValidUntil = 0;
  for (int y = 0; y < height_; ++y) {
    if (y >= rectsValidUntil) rectsValidUntil = RectRunsFrom(y);
    const std::size_t rowStart = mask.spans_.size();
    mask.rowStart_[y] = static_cast<int>(rowStart);
    auto shape = bucketed_.begin() + rowFirst_[y];
    const auto shapeEnd = bucketed_.begin() + rowFirst_[y + 1];
    if (shape == shapeEnd) {
      // The rectangles' runs are already joined: the common row of a rectangle list.
      mask.spans_.insert(mask.spans_.end(), rectRuns_.begin(), rectRuns_.end());
      continue;
    }
    // Merge the two left-sorted lists; AppendRun joins whatever overlaps or touches.
    auto rect = rectRuns_.begin();
    while (shape != shapeEnd || rect != rectRuns_.end()) {
      const bool takeRect = shape == shapeEnd || (rect != rectRuns_.end() && rect->Left < shape->Left);
      const Span& next = takeRect ? *rect++ : *shape++;
      AppendRun(mask.spans_, rowStart, next.Left, next.Right);
    }
  }
  mask.rowStart_[height_] = static_cast<int>(mask.spans_.size());
  pending_.clear();
  rects_.clear();
  return mask;
}

Mask RectMask(int frameWidth, int frameHeight, const Rect& r) {
  MaskBuilder b(frameWidth, frameHeight);
  b.AddRect(r);
  return b.Build();
}

Mask PolygonMask(int frameWidth, int frameHeight, std::span<const Point> points) {
  MaskBuilder b(frameWidth, frameHeight);
  b.AddPolygon(points);
  return b.Build();
}

Mask PolygonMask(int frameWidth, int frameHeight, const int* coordinates, int count) {
  std::vector<Point> points;
  for (int i = 0; i + 1 <= count; i += 2) points.push_back({coordinates[i], coordinates[i + 1]});
  return PolygonMask(frameWidth, frameHeight, points);
}

Mask EllipseMask(int frameWidth, int frameHeight, const Rect& box) {
  MaskBuilder b(frameWidth, frameHeight);
  b.AddEllipse(box);
  return b.Build();
}

Mask RoundRectMask(int frameWidth, int frameHeight, const Rect& box, int ew, int eh) {
  MaskBuilder b(frameWidth, frameHeight);
  b.AddRoundRect(box, ew, eh);
  return b.Build();
}

Mask FrameExceptMask(int frameWidth, int frameHeight, const Rect& hole) {
  MaskBuilder b(frameWidth, frameHeight);
  if (hole.IsEmpty()) {
    b.AddRect({0, 0, frameWidth, frameHeight});
    return b.Build();
  }
  b.AddRect({0, 0, frameWidth, hole.Top});
  b.AddRect({0, hole.Bottom, frameWidth, frameHeight});
  b.AddRect({0, hole.Top, hole.Left, hole.Bottom});
  b.AddRect({hole.Right, hole.Top, frameWidth, hole.Bottom});
  return b.Build();
}

void TComplexRegion::ClearRegion() {
  std::vector<Rect>().swap(rects_);
  count_ = 0;
  capacity_ = 0;
  left_ = top_ = 2147483647;
  right_ = bottom_ = -2147483647;
}

void TComplexRegion::AddRect(int left, int top, int right, int bottom) {
  if (count_ == capacity_) {
    capacity_ += 500;
    rects_.reserve(capacity_);
  }
  rects_.push_back({left, top, right, bottom});
  ++count_;
  left_ = std::min(left_, left);
  top_ = std::min(top_, top);
  right_ = std::max(right_, right);
  bottom_ = std::max(bottom_, bottom);
}

Mask TComplexRegion::MakeRegion(int frameWidth, int frameHeight) const {
  MaskBuilder b(frameWidth, frameHeight);
  for (const Rect& r : rects_) b.AddRect(r);
  return b.Build();
}

void MaskedCopy(Bitmap& D, const Bitmap& S, const Mask& M) {
  assert(D.BitsPerPixel() == S.BitsPerPixel());
  const int bytes = D.BytesPerPixel();
  const int width = std::min(D.Width(), S.Width());
  const int height = std::min({D.Height(), S.Height(), M.FrameHeight()});
  for (int y = 0; y < height; ++y) {
    const auto row = M.Row(y);
    if (row.empty()) continue;
    std::uint8_t* out = D.ScanLine(y);
    const std::uint8_t* in = S.ScanLine(y);
    for (const Span& s : row) {
      const int right = std::min(s.Right, width);
      if (right > s.Left)
        CopyShortBytes(out + s.Left * bytes, in + s.Left * bytes, static_cast<std::size_t>(right - s.Left) * bytes);
    }
  }
}

}  // namespace lumivor
