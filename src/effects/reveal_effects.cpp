// Reveal: the new picture appears in place inside growing rectangles anchored at an edge, a
// corner, the middle line or the centre. W, H: frame size; w, h: progress size.
#include "effects/effect_procs.h"
#include "effects/mask.h"

namespace lumivor::transitions {

void RevealFromLeft(Bitmap& Dest, const Bitmap& Source, int, int H, int w, int, int) {
  CopyRect(Dest, 0, 0, w, H, Source, 0, 0);
}

void RevealFromRight(Bitmap& Dest, const Bitmap& Source, int W, int H, int w, int, int) {
  CopyRect(Dest, W - w, 0, w, H, Source, W - w, 0);
}

void RevealOutFromMiddle(Bitmap& Dest, const Bitmap& Source, int W, int H, int w, int, int) {
  CopyRect(Dest, (W - w) / 2, 0, w, H, Source, (W - w) / 2, 0);
}

void RevealInFromSides(Bitmap& Dest, const Bitmap& Source, int W, int H, int w, int, int) {
  CopyRect(Dest, 0, 0, w / 2, H, Source, 0, 0);
  CopyRect(Dest, W - w / 2, 0, w / 2, H, Source, W - w / 2, 0);
}

void RevealFromTop(Bitmap& Dest, const Bitmap& Source, int W, int, int, int h, int) {
  CopyRect(Dest, 0, 0, W, h, Source, 0, 0);
}

void RevealFromBottom(Bitmap& Dest, const Bitmap& Source, int W, int H, int, int h, int) {
  CopyRect(Dest, 0, H - h, W, h, Source, 0, H - h);
}

void RevealFromMiddleHorizontal(Bitmap& Dest, const Bitmap& Source, int W, int H, int, int h, int) {
  CopyRect(Dest, 0, (H - h) / 2, W, h, Source, 0, (H - h) / 2);
}

void SlideInFromTopAndBottom(Bitmap& Dest, const Bitmap& Source, int W, int H, int, int h, int) {
  CopyRect(Dest, 0, 0, W, h / 2, Source, 0, 0);
  CopyRect(Dest, 0, H - h / 2, W, h / 2, Source, 0, H - h / 2);
}

void RevealFromTopLeft(Bitmap& Dest, const Bitmap& Source, int, int, int w, int h, int) {
  CopyRect(Dest, 0, 0, w, h, Source, 0, 0);
}

void RevealFromBottomLeft(Bitmap& Dest, const Bitmap& Source, int, int H, int w, int h, int) {
  CopyRect(Dest, 0, H - h, w, h, Source, 0, H - h);
}

void RevealFromBottomRight(Bitmap& Dest, const Bitmap& Source, int W, int H, int w, int h, int) {
  CopyRect(Dest, W - w, H - h, w, h, Source, W - w, H - h);
}

void RevealFromTopRight(Bitmap& Dest, const Bitmap& Source, int W, int, int w, int h, int) {
  CopyRect(Dest, W - w, 0, w, h, Source, W - w, 0);
}

void RevealOutFromCentre(Bitmap& Dest, const Bitmap& Source, int W, int H, int w, int h, int) {
  CopyRect(Dest, (W - w) / 2, (H - h) / 2, w, h, Source, (W - w) / 2, (H - h) / 2);
}

void RevealInToCentre(Bitmap& Dest, const Bitmap& Source, int W, int H, int w, int h, int) {
  MaskedCopy(Dest, Source, FrameExceptMask(W, H, Rect{w / 2, h / 2, W - w / 2, H - h / 2}));
}

}  // namespace lumivor::transitions
