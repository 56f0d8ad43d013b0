// Bar transitions: interleaved bands that slide in from the sides, the even set first.
#include <algorithm>
#include <vector>

#include "effects/bar_effect_ops.h"
#include "effects/effect_procs.h"

namespace lumivor::transitions {

namespace {

// One axis of BarsMask. A reach up to the band length moves the even bands in; beyond it (the
// effects that pass twice the progress size) the even bands are complete and the odd ones move in.
void add_bars(TComplexRegion& region, BandAxis axis, int reach, int W, int H, int e, int kind) {
  const int length = BandLength(axis, W, H);
  const int extent = BandExtent(axis, W, H);
  if (reach <= length) {
    for (int f = 0; f < extent + e; f += 2 * e) {
      switch (kind) {
        case 1:
        case 5:
          AddBandRect(region, axis, length - reach, f, length, f + e);
          break;
        case 2:
        case 4:
          AddBandRect(region, axis, 0, f, reach, f + e);
          break;
        case 3:
          AddBandRect(region, axis, 0, f + e, reach, f + 2 * e);
          AddBandRect(region, axis, length - reach, f, length, f + e);
          break;
        default:
          break;
      }
    }
  } else {
    for (int f = e; f < extent + e; f += 2 * e) {
      switch (kind) {
        case 1:
        case 4:
          AddBandRect(region, axis, 2 * length - reach, f, length, f + e);
          break;
        case 2:
        case 5:
          AddBandRect(region, axis, 0, f, reach - length, f + e);
          break;
        default:
          break;
      }
      AddBandRect(region, axis, 0, f - e, length, f);
    }
  }
}

}  // namespace

Mask BarsMask(int PX, int PY, int W, int H, int HorzKind, int VertKind) {
  const int e = std::min(W, H) / 50 + 1;
  TComplexRegion region;
  if (HorzKind != 0) add_bars(region, BandAxis::Rows, PX, W, H, e, HorzKind);
  if (VertKind != 0) add_bars(region, BandAxis::Columns, PY, W, H, e, VertKind);
  return region.MakeRegion(W, H);
}

void BarsInFromRight(Bitmap& D, const Bitmap& S, int W, int H, int w, int, int)      { MaskedCopy(D, S, BarsMask(2 * w, 0, W, H, 1, 0)); }
void BarsInFromLeft(Bitmap& D, const Bitmap& S, int W, int H, int w, int, int)       { MaskedCopy(D, S, BarsMask(2 * w, 0, W, H, 2, 0)); }
void BarsLeftThenRight(Bitmap& D, const Bitmap& S, int W, int H, int w, int, int)    { MaskedCopy(D, S, BarsMask(2 * w, 0, W, H, 4, 0)); }
void BarsRightThenLeft(Bitmap& D, const Bitmap& S, int W, int H, int w, int, int)    { MaskedCopy(D, S, BarsMask(2 * w, 0, W, H, 5, 0)); }
void BarsFromBothSides(Bitmap& D, const Bitmap& S, int W, int H, int w, int, int)    { MaskedCopy(D, S, BarsMask(w, 0, W, H, 3, 0)); }
void BarsFromBottom(Bitmap& D, const Bitmap& S, int W, int H, int, int h, int)       { MaskedCopy(D, S, BarsMask(0, 2 * h, W, H, 0, 1)); }
void BarsFromTop(Bitmap& D, const Bitmap& S, int W, int H, int, int h, int)          { MaskedCopy(D, S, BarsMask(0, 2 * h, W, H, 0, 2)); }
void BarsTopThenBottom(Bitmap& D, const Bitmap& S, int W, int H, int, int h, int)    { MaskedCopy(D, S, BarsMask(0, 2 * h, W, H, 0, 4)); }
void BarsBottomThenTop(Bitmap& D, const Bitmap& S, int W, int H, int, int h, int)    { MaskedCopy(D, S, BarsMask(0, 2 * h, W, H, 0, 5)); }
void BarsFromTopAndBottom(Bitmap& D, const Bitmap& S, int W, int H, int, int h, int) { MaskedCopy(D, S, BarsMask(0, h, W, H, 0, 3)); }

}  // namespace lumivor::transitions
