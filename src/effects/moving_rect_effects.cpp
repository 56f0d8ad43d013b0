// Moving rectangles: thin strips that widen across the frame while uneven slats at right angles
// to them sweep through.
#include "raster/arith.h"
#include "effects/bar_effect_ops.h"
#include "effects/effect_procs.h"

namespace lumivor::transitions {

namespace {

// Strips stacked along stripAxis every 3m from -m, m = extent / 20, each 2 * MulDiv(m, p, 100)
// thick, plus slats of the given pitch stacked along the other axis. A zero pitch or a frame too
// small for a strip draws nothing at all.
Mask StripsAndSlats(BandAxis stripAxis, int W, int H, int pitch, int p, bool fromEnd) {
  const int m = BandExtent(stripAxis, W, H) / 20;
  TComplexRegion region;
  if (pitch > 0 && m > 0) {
    const int a = MulDiv(m, p, 100);
    for (int at = -m; at < BandExtent(stripAxis, W, H); at += 3 * m) AddFullBand(region, stripAxis, W, H, at - a, at + a);
    const BandAxis slatAxis = stripAxis == BandAxis::Rows ? BandAxis::Columns : BandAxis::Rows;
    AddUnevenSlats(region, slatAxis, W, H, pitch, p, fromEnd);
  }
  return region.MakeRegion(W, H);
}

constexpr bool FromStart = false;
constexpr bool FromEnd = true;

}  // namespace

void RectanglesApearFromLeftAndDisapearToRight(Bitmap& D, const Bitmap& S, int W, int H, int w, int, int p)   { MaskedCopy(D, S, StripsAndSlats(BandAxis::Rows, W, H, w, p, FromStart)); }
void RectanglesApearFromRightAndDisapearToLeft(Bitmap& D, const Bitmap& S, int W, int H, int w, int, int p)   { MaskedCopy(D, S, StripsAndSlats(BandAxis::Rows, W, H, w, p, FromEnd)); }
void RectanglesApearFromUpAndDisapearToBottom(Bitmap& D, const Bitmap& S, int W, int H, int, int h, int p)    { MaskedCopy(D, S, StripsAndSlats(BandAxis::Columns, W, H, h, p, FromStart)); }
void RectanglesApearFromBottomAndDisapearToUp(Bitmap& D, const Bitmap& S, int W, int H, int, int h, int p)    { MaskedCopy(D, S, StripsAndSlats(BandAxis::Columns, W, H, h, p, FromEnd)); }

}  // namespace lumivor::transitions
