// Speckles: a solid edge moving in, with random square specks scattered ahead of it that thin out
// with distance. Drawn from the shared generator, so every frame scatters them anew.
#include <algorithm>
#include <cstdint>

#include "effects/bar_effect_ops.h"
#include "effects/effect_procs.h"
#include "effects/random.h"

namespace lumivor::transitions {

namespace {

// One axis of the speckle mask. Lanes of thickness s overlap by half so that specks of
// neighbouring lanes interlock instead of lining up in a grid. The k-th speck ahead of the edge is
// kept with probability 2/k within the first three quarters of the speck zone and 1/k beyond.
void add_speckles(TComplexRegion& region, BandAxis axis, int reach, int W, int H, int kind) {
  const int length = BandLength(axis, W, H);
  const int extent = BandExtent(axis, W, H);
  const int g = reach < length ? length / 10 : 0;
  const int s = std::max(2, g / 20);
  const int n = g / s;
  const int t = (3 * g) / (4 * s);
  for (int lane = 0; lane < extent; lane += s / 2) {
    // The solid part, and the near side of the speck at distance k (k = 1 touches the edge).
    int edge, towards;
    if (kind == 1) {
      AddBandRect(region, axis, length - reach, lane, length, lane + s);
      edge = length - reach - s;
      towards = -s;
    } else {
      AddBandRect(region, axis, 0, lane, reach, lane + s);
      edge = reach;
      towards = s;
    }
    for (int k = n; k >= 1; --k) {
      const std::uint32_t keepBelow = k <= t ? 1 : 0;
      if (RandomInt(static_cast<std::uint32_t>(k)) <= keepBelow) {
        const int at = edge + (k - 1) * towards;
        AddBandRect(region, axis, at, lane, at + s, lane + s);
      }
    }
  }
}

// Kinds per axis: 1 from the right (rows) or bottom (columns), 2 from the left or top; 0 leaves
// the axis out. Rows draw before columns, lanes in increasing position, specks farthest first.
Mask SpeckleMask(int PX, int PY, int W, int H, int HorzKind, int VertKind) {
  TComplexRegion region;
  if (HorzKind != 0) add_speckles(region, BandAxis::Rows, PX, W, H, HorzKind);
  if (VertKind != 0) add_speckles(region, BandAxis::Columns, PY, W, H, VertKind);
  return region.MakeRegion(W, H);
}

}  // namespace

void SpeckleAppearFromRight(Bitmap& D, const Bitmap& S, int W, int H, int w, int h, int)  { MaskedCopy(D, S, SpeckleMask(w, h, W, H, 1, 0)); }
void SpeckleAppearFromLeft(Bitmap& D, const Bitmap& S, int W, int H, int w, int h, int)   { MaskedCopy(D, S, SpeckleMask(w, h, W, H, 2, 0)); }
void SpeckleAppearFromBottom(Bitmap& D, const Bitmap& S, int W, int H, int w, int h, int) { MaskedCopy(D, S, SpeckleMask(w, h, W, H, 0, 1)); }
void SpeckleAppearFromTop(Bitmap& D, const Bitmap& S, int W, int H, int w, int h, int)    { MaskedCopy(D, S, SpeckleMask(w, h, W, H, 0, 2)); }

}  // namespace lumivor::transitions
