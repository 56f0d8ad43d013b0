// Speckles: a solid edge moving in, with random square specks scattered ahead of it that thin out
// with distance. Drawn from the shared generator, so every frame scatters them anew.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "effects/bar_effect_ops.h"
#include "effects/effect_procs.h"
#include "effects/random.h"

namespace lumivor::transitions {

namespace {

// One axis of the speckle mask. Lanes of thickness s overlap by half so that specks of
// neighbouring lanes interlock instead of lining up in a grid. The k-th speck ahead of the edge is
// kept with probability 2/k within the first three quarters of the speck zone and 1/k beyond.
// Lanes are drawn in increasing position, specks farthest first; the draws are the pattern, so
// their order must not change.
//
// Each lane's pieces are kept as runs along its length, in order. Hundreds of tiny squares as
// rectangles would make the mask sweep start and stop rectangles on every row; rows lanes are
// instead merged from the two or three lanes covering them.
struct SpeckleLanes {
  int Step = 1;   // lane spacing
  int Width = 2;  // lane thickness
  std::vector<Span> Runs;          // along the length, sorted, per lane
  std::vector<std::size_t> First;  // lane i's runs are Runs[First[i] .. First[i + 1])
};

SpeckleLanes draw_speckles(int reach, int length, int extent, int kind) {
  const int g = reach < length ? length / 10 : 0;
  const int s = std::max(2, g / 20);
  const int n = g / s;
  const int t = (3 * g) / (4 * s);
  SpeckleLanes lanes;
  lanes.Step = s / 2;
  lanes.Width = s;
  const std::size_t laneCount = static_cast<std::size_t>(extent > 0 ? (extent + s / 2 - 1) / (s / 2) : 0);
  lanes.First.reserve(laneCount + 1);
  lanes.Runs.reserve(laneCount * static_cast<std::size_t>(n + 1));
  lanes.First.push_back(0);
  for (int lane = 0; lane < extent; lane += s / 2) {
    // The solid part lies beyond the nearest speck, so the runs are in order once the solid part
    // goes last (from the right) or first (from the left, where specks are drawn right to left).
    const std::size_t first = lanes.Runs.size();
    if (kind == 2) lanes.Runs.push_back({0, reach});
    const int edge = kind == 1 ? length - reach - s : reach;
    const int towards = kind == 1 ? -s : s;
    for (int k = n; k >= 1; --k) {
      const std::uint32_t keepBelow = k <= t ? 1 : 0;
      if (RandomInt(static_cast<std::uint32_t>(k)) <= keepBelow) {
        const int at = edge + (k - 1) * towards;
        lanes.Runs.push_back({at, at + s});
      }
    }
    if (kind == 2) std::reverse(lanes.Runs.begin() + static_cast<std::ptrdiff_t>(first) + 1, lanes.Runs.end());
    if (kind == 1) lanes.Runs.push_back({length - reach, length});
    lanes.First.push_back(lanes.Runs.size());
  }
  return lanes;
}

// Row lanes: row y lies in the lanes starting from y - s + 1 to y.
void add_row_lanes(MaskBuilder& mask, const SpeckleLanes& lanes, int H) {
  const auto byLeft = [](const Span& a, const Span& b) { return a.Left < b.Left; };
  const int count = static_cast<int>(lanes.First.size()) - 1;
  std::vector<Span> merged, next;
  for (int y = 0; y < H; ++y) {
    merged.clear();
    const int low = std::max(0, (y - lanes.Width + lanes.Step) / lanes.Step);
    const int high = std::min(count - 1, y / lanes.Step);
    for (int i = low; i <= high; ++i) {
      if (i * lanes.Step + lanes.Width <= y) continue;
      const auto first = lanes.Runs.begin() + static_cast<std::ptrdiff_t>(lanes.First[i]);
      const auto last = lanes.Runs.begin() + static_cast<std::ptrdiff_t>(lanes.First[i + 1]);
      next.resize(merged.size() + static_cast<std::size_t>(last - first));
      std::merge(merged.begin(), merged.end(), first, last, next.begin(), byLeft);
      merged.swap(next);
    }
    int left = 0, right = 0;  // the run being joined; empty until the first piece
    for (const Span& piece : merged) {
      if (piece.Right <= piece.Left) continue;
      if (right > left && piece.Left <= right) {
        right = std::max(right, piece.Right);
        continue;
      }
      mask.AddSpan(y, left, right);
      left = piece.Left;
      right = piece.Right;
    }
    mask.AddSpan(y, left, right);
  }
}

// Column lanes: every piece a rectangle for the sweep. Split into rows, the specks would be
// tens of thousands of runs on a large frame.
void add_column_lanes(MaskBuilder& mask, const SpeckleLanes& lanes) {
  const int count = static_cast<int>(lanes.First.size()) - 1;
  for (int i = 0; i < count; ++i) {
    const int lane = i * lanes.Step;
    for (std::size_t r = lanes.First[i]; r < lanes.First[i + 1]; ++r)
      mask.AddRect({lane, lanes.Runs[r].Left, lane + lanes.Width, lanes.Runs[r].Right});
  }
}

// One axis of the old rectangle-list form, for masks over both axes.
void add_speckles(TComplexRegion& region, BandAxis axis, int reach, int W, int H, int kind) {
  const SpeckleLanes lanes = draw_speckles(reach, BandLength(axis, W, H), BandExtent(axis, W, H), kind);
  const int count = static_cast<int>(lanes.First.size()) - 1;
  for (int i = 0; i < count; ++i)
    for (std::size_t r = lanes.First[i]; r < lanes.First[i + 1]; ++r)
      AddBandRect(region, axis, lanes.Runs[r].Left, i * lanes.Step, lanes.Runs[r].Right, i * lanes.Step + lanes.Width);
}

// Kinds per axis: 1 from the right (rows) or bottom (columns), 2 from the left or top; 0 leaves
// the axis out. Rows draw before columns.
Mask SpeckleMask(int PX, int PY, int W, int H, int HorzKind, int VertKind) {
  if (HorzKind != 0 && VertKind != 0) {
    TComplexRegion region;
    add_speckles(region, BandAxis::Rows, PX, W, H, HorzKind);
    add_speckles(region, BandAxis::Columns, PY, W, H, VertKind);
    return region.MakeRegion(W, H);
  }
  MaskBuilder mask(W, H);
  if (HorzKind != 0) add_row_lanes(mask, draw_speckles(PX, W, H, HorzKind), H);
  if (VertKind != 0) add_column_lanes(mask, draw_speckles(PY, H, W, VertKind));
  return mask.Build();
}

}  // namespace

void SpeckleAppearFromRight(Bitmap& D, const Bitmap& S, int W, int H, int w, int h, int)  { MaskedCopy(D, S, SpeckleMask(w, h, W, H, 1, 0)); }
void SpeckleAppearFromLeft(Bitmap& D, const Bitmap& S, int W, int H, int w, int h, int)   { MaskedCopy(D, S, SpeckleMask(w, h, W, H, 2, 0)); }
void SpeckleAppearFromBottom(Bitmap& D, const Bitmap& S, int W, int H, int w, int h, int) { MaskedCopy(D, S, SpeckleMask(w, h, W, H, 0, 1)); }
void SpeckleAppearFromTop(Bitmap& D, const Bitmap& S, int W, int H, int w, int h, int)    { MaskedCopy(D, S, SpeckleMask(w, h, W, H, 0, 2)); }

}  // namespace lumivor::transitions
