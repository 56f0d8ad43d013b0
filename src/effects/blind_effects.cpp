// Blinds: slats across the whole frame opening as progress grows, and the rectangular shred, its
// two-dimensional cousin.
#include <algorithm>

#include "raster/arith.h"
#include "effects/bar_effect_ops.h"
#include "effects/effect_procs.h"

namespace lumivor::transitions {

namespace {

// Slats of width 2n, each opening from its centre line by a = MulDiv(n, p, 100) either way.
Mask CentredSlats(BandAxis axis, int W, int H, int n, int p) {
  const int a = MulDiv(n, p, 100);
  TComplexRegion region;
  for (int at = 0; at < BandExtent(axis, W, H); at += 2 * n) AddFullBand(region, axis, W, H, at + n - a, at + n + a);
  return region.MakeRegion(W, H);
}

Mask UnevenSlats(BandAxis axis, int W, int H, int pitch, int p, bool fromEnd) {
  TComplexRegion region;
  AddUnevenSlats(region, axis, W, H, pitch, p, fromEnd);
  return region.MakeRegion(W, H);
}

// Squares growing from the centres of a 2n grid, n = min(W, H) / 10 + 1.
Mask GrowingSquares(int W, int H, int p) {
  const int n = std::min(W, H) / 10 + 1;
  const int a = MulDiv(n, p, 100);
  TComplexRegion region;
  for (int x = 0; x < W; x += 2 * n)
    for (int y = 0; y < H; y += 2 * n) region.AddRect(x + n - a, y + n - a, x + n + a, y + n + a);
  return region.MakeRegion(W, H);
}

constexpr bool FromStart = false;
constexpr bool FromEnd = true;

}  // namespace

// Vertical slats are stacked along x (columns); horizontal ones along y (rows). The uneven blinds
// use the progress size itself as their pitch: many thin slats early, few wide ones late.
void BlindVertically(Bitmap& D, const Bitmap& S, int W, int H, int, int, int p)        { MaskedCopy(D, S, CentredSlats(BandAxis::Columns, W, H, W / 40 + 1, p)); }
void BlindHorizontally(Bitmap& D, const Bitmap& S, int W, int H, int, int, int p)      { MaskedCopy(D, S, CentredSlats(BandAxis::Rows, W, H, H / 40 + 1, p)); }
void UnevenBlindFromLeft(Bitmap& D, const Bitmap& S, int W, int H, int w, int, int p)   { MaskedCopy(D, S, UnevenSlats(BandAxis::Columns, W, H, w, p, FromStart)); }
void UnevenBlindFromRight(Bitmap& D, const Bitmap& S, int W, int H, int w, int, int p)  { MaskedCopy(D, S, UnevenSlats(BandAxis::Columns, W, H, w, p, FromEnd)); }
void UnevenBlindFromTop(Bitmap& D, const Bitmap& S, int W, int H, int, int h, int p)    { MaskedCopy(D, S, UnevenSlats(BandAxis::Rows, W, H, h, p, FromStart)); }
void UnevenBlindFromBottom(Bitmap& D, const Bitmap& S, int W, int H, int, int h, int p) { MaskedCopy(D, S, UnevenSlats(BandAxis::Rows, W, H, h, p, FromEnd)); }
void RectangularShred(Bitmap& D, const Bitmap& S, int W, int H, int, int, int p)        { MaskedCopy(D, S, GrowingSquares(W, H, p)); }

}  // namespace lumivor::transitions
