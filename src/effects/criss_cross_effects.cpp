// Criss-cross transitions: row bars and column bars at once, their union revealing the new picture.
#include "effects/bar_effect_ops.h"
#include "effects/effect_procs.h"

namespace lumivor::transitions {

void CrissCrossRevealFromBottomRight(Bitmap& D, const Bitmap& S, int W, int H, int w, int h, int)          { MaskedCopy(D, S, BarsMask(2 * w, 2 * h, W, H, 1, 1)); }
void CrissCrossRevealFromTopRight(Bitmap& D, const Bitmap& S, int W, int H, int w, int h, int)             { MaskedCopy(D, S, BarsMask(2 * w, 2 * h, W, H, 1, 2)); }
void CrissCrossRevealFromBottomLeft(Bitmap& D, const Bitmap& S, int W, int H, int w, int h, int)           { MaskedCopy(D, S, BarsMask(2 * w, 2 * h, W, H, 2, 1)); }
void CrissCrossRevealFromTopLeft(Bitmap& D, const Bitmap& S, int W, int H, int w, int h, int)              { MaskedCopy(D, S, BarsMask(2 * w, 2 * h, W, H, 2, 2)); }
void CrissCrossRevealBounceFromTopLeft(Bitmap& D, const Bitmap& S, int W, int H, int w, int h, int)        { MaskedCopy(D, S, BarsMask(2 * w, 2 * h, W, H, 4, 4)); }
void CrissCrossRevealBounceFromBottomLeft(Bitmap& D, const Bitmap& S, int W, int H, int w, int h, int)     { MaskedCopy(D, S, BarsMask(2 * w, 2 * h, W, H, 4, 5)); }
void CrissCrossRevealBounceFromTopRight(Bitmap& D, const Bitmap& S, int W, int H, int w, int h, int)       { MaskedCopy(D, S, BarsMask(2 * w, 2 * h, W, H, 5, 4)); }
void CrissCrossRevealBounceFromBottomRight(Bitmap& D, const Bitmap& S, int W, int H, int w, int h, int)    { MaskedCopy(D, S, BarsMask(2 * w, 2 * h, W, H, 5, 5)); }
void CrissCrossRevealFromRightTopAndBottom(Bitmap& D, const Bitmap& S, int W, int H, int w, int h, int)    { MaskedCopy(D, S, BarsMask(w, h, W, H, 1, 3)); }
void CrissCrossRevealFromLeftTopAndBottom(Bitmap& D, const Bitmap& S, int W, int H, int w, int h, int)     { MaskedCopy(D, S, BarsMask(w, h, W, H, 2, 3)); }
void CrissCrossRevealFromLeftRightAndBottom(Bitmap& D, const Bitmap& S, int W, int H, int w, int h, int)   { MaskedCopy(D, S, BarsMask(w, h, W, H, 3, 1)); }
void CrissCrossRevealFromLeftRightAndTop(Bitmap& D, const Bitmap& S, int W, int H, int w, int h, int)      { MaskedCopy(D, S, BarsMask(w, h, W, H, 3, 2)); }
void CrissCrossRevealFromTopLeftRightAndBottom(Bitmap& D, const Bitmap& S, int W, int H, int w, int h, int) { MaskedCopy(D, S, BarsMask(w, h, W, H, 3, 3)); }

// Only where the bars from the bottom right and those from the top left overlap: at first the
// bottom-left and top-right corners.
void CrissCrossRevealFromBottomLeftTopRight(Bitmap& D, const Bitmap& S, int W, int H, int w, int h, int) {
  MaskedCopy(D, S, BarsMask(2 * w, 2 * h, W, H, 1, 1) & BarsMask(2 * w, 2 * h, W, H, 2, 2));
}

}  // namespace lumivor::transitions
