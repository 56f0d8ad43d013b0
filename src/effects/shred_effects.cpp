// Uneven shreds: thin rows or columns, each with its own jittered length drawn from the shared
// generator, so the edge is ragged and changes from frame to frame.
#include <algorithm>
#include <cstdint>

#include "effects/bar_effect_ops.h"
#include "effects/effect_procs.h"
#include "effects/random.h"

namespace lumivor::transitions {

namespace {

// One axis of the shred mask, shreds taken from the top (rows) or the left (columns), one draw
// each: the draw order is what keeps a frame reproducible from a known generator state.
void add_shreds(TComplexRegion& region, BandAxis axis, int reach, int W, int H, int b, int kind) {
  const int length = BandLength(axis, W, H);
  const int extent = BandExtent(axis, W, H);
  // Shreds overlap by what is left over when the extent is cut into b-thick pieces, so the last
  // one reaches the frame edge.
  const int thick = b + extent % b;
  const int centre = length / 2;
  const int jitter = reach < length ? length / 10 : 0;
  for (int o = 0; o < extent; o += b) {
    int r = static_cast<int>(RandomInt(static_cast<std::uint32_t>(2 * jitter))) - jitter + reach;
    switch (kind) {
      case 1:
        AddBandRect(region, axis, length - r, o, length, o + thick);
        break;
      case 2:
        AddBandRect(region, axis, 0, o, r, o + thick);
        break;
      case 3:
        r /= 2;
        AddBandRect(region, axis, centre - r, o, centre, o + thick);
        AddBandRect(region, axis, centre, o, centre + r, o + thick);
        break;
      case 4:
        r /= 2;
        AddBandRect(region, axis, length - r, o, length, o + thick);
        AddBandRect(region, axis, 0, o, r, o + thick);
        break;
      default:
        break;
    }
  }
}

// Kinds per axis: 1 from the right (rows) or bottom (columns), 2 from the left or top, 3 out from
// the middle, 4 in to the middle; 0 leaves the axis out. Rows draw before columns.
Mask ShredMask(int PX, int PY, int W, int H, int HorzKind, int VertKind) {
  const int b = std::min(W, H) / 200 + 1;
  TComplexRegion region;
  if (HorzKind != 0) add_shreds(region, BandAxis::Rows, PX, W, H, b, HorzKind);
  if (VertKind != 0) add_shreds(region, BandAxis::Columns, PY, W, H, b, VertKind);
  return region.MakeRegion(W, H);
}

}  // namespace

void UnevenShredFromRight(Bitmap& D, const Bitmap& S, int W, int H, int w, int, int)                  { MaskedCopy(D, S, ShredMask(w, 0, W, H, 1, 0)); }
void UnevenShredFromLeft(Bitmap& D, const Bitmap& S, int W, int H, int w, int, int)                   { MaskedCopy(D, S, ShredMask(w, 0, W, H, 2, 0)); }
void UnevenShredOutFromMiddleHorizontal(Bitmap& D, const Bitmap& S, int W, int H, int w, int, int)    { MaskedCopy(D, S, ShredMask(w, 0, W, H, 3, 0)); }
void UnevenShredInToMiddleHorizontal(Bitmap& D, const Bitmap& S, int W, int H, int w, int, int)       { MaskedCopy(D, S, ShredMask(w, 0, W, H, 4, 0)); }
void UnvenShredFromBottom(Bitmap& D, const Bitmap& S, int W, int H, int, int h, int)                  { MaskedCopy(D, S, ShredMask(0, h, W, H, 0, 1)); }
void UnevenShredFromTop(Bitmap& D, const Bitmap& S, int W, int H, int, int h, int)                    { MaskedCopy(D, S, ShredMask(0, h, W, H, 0, 2)); }
void UnevenShredFromHorizon(Bitmap& D, const Bitmap& S, int W, int H, int, int h, int)                { MaskedCopy(D, S, ShredMask(0, h, W, H, 0, 3)); }
void UnevenShredInToHorizon(Bitmap& D, const Bitmap& S, int W, int H, int, int h, int)                { MaskedCopy(D, S, ShredMask(0, h, W, H, 0, 4)); }
void UnevenShredFromBottomAndRight(Bitmap& D, const Bitmap& S, int W, int H, int w, int h, int)       { MaskedCopy(D, S, ShredMask(w, h, W, H, 1, 1)); }
void UnevenShredFromTopAndRight(Bitmap& D, const Bitmap& S, int W, int H, int w, int h, int)          { MaskedCopy(D, S, ShredMask(w, h, W, H, 1, 2)); }
void UnevenShredFromBottomAndLeft(Bitmap& D, const Bitmap& S, int W, int H, int w, int h, int)        { MaskedCopy(D, S, ShredMask(w, h, W, H, 2, 1)); }
void UnevenShredFromTopAndLeft(Bitmap& D, const Bitmap& S, int W, int H, int w, int h, int)           { MaskedCopy(D, S, ShredMask(w, h, W, H, 2, 2)); }
void UnevenShredFromHorizonAndRight(Bitmap& D, const Bitmap& S, int W, int H, int w, int h, int)      { MaskedCopy(D, S, ShredMask(w, h, W, H, 1, 3)); }
void UnevenShredFromHorizonAndLeft(Bitmap& D, const Bitmap& S, int W, int H, int w, int h, int)       { MaskedCopy(D, S, ShredMask(w, h, W, H, 2, 3)); }
void UnevenShredFromBottomAndVertMiddle(Bitmap& D, const Bitmap& S, int W, int H, int w, int h, int)  { MaskedCopy(D, S, ShredMask(w, h, W, H, 3, 1)); }
void UnevenShredFromTopAndVertMiddle(Bitmap& D, const Bitmap& S, int W, int H, int w, int h, int)     { MaskedCopy(D, S, ShredMask(w, h, W, H, 3, 2)); }
void UnevenShredFromCentre(Bitmap& D, const Bitmap& S, int W, int H, int w, int h, int)               { MaskedCopy(D, S, ShredMask(w, h, W, H, 3, 3)); }
void UnevenShredToCentre(Bitmap& D, const Bitmap& S, int W, int H, int w, int h, int)                 { MaskedCopy(D, S, ShredMask(w, h, W, H, 4, 4)); }

}  // namespace lumivor::transitions
