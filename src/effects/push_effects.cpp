// Push, push and squeeze, slide out: the old picture, which Dest holds on entry, is moved or
// squeezed within Dest (the raster operations read a same-picture source completely before
// writing), then the new picture fills the uncovered strip: its adjoining edge strip for push
// and squeeze, the strip in place for slide out. W, H: frame size; w, h: progress size.
#include "effects/effect_procs.h"

namespace lumivor::transitions {

void PushRight(Bitmap& Dest, const Bitmap& Source, int W, int H, int w, int, int) {
  CopyRect(Dest, w, 0, W - w, H, Dest, 0, 0);
  CopyRect(Dest, 0, 0, w, H, Source, W - w, 0);
}

void PushLeft(Bitmap& Dest, const Bitmap& Source, int W, int H, int w, int, int) {
  CopyRect(Dest, 0, 0, W - w, H, Dest, w, 0);
  CopyRect(Dest, W - w, 0, w, H, Source, 0, 0);
}

void PushAndSqueezeRight(Bitmap& Dest, const Bitmap& Source, int W, int H, int w, int, int) {
  StretchRect(Dest, w, 0, W - w, H, Dest, 0, 0, W, H);
  CopyRect(Dest, 0, 0, w, H, Source, W - w, 0);
}

void PushAndSqueezeLeft(Bitmap& Dest, const Bitmap& Source, int W, int H, int w, int, int) {
  StretchRect(Dest, 0, 0, W - w, H, Dest, 0, 0, W, H);
  CopyRect(Dest, W - w, 0, w, H, Source, 0, 0);
}

void PushDown(Bitmap& Dest, const Bitmap& Source, int W, int H, int, int h, int) {
  CopyRect(Dest, 0, h, W, H - h, Dest, 0, 0);
  CopyRect(Dest, 0, 0, W, h, Source, 0, H - h);
}

void PushUp(Bitmap& Dest, const Bitmap& Source, int W, int H, int, int h, int) {
  CopyRect(Dest, 0, 0, W, H - h, Dest, 0, h);
  CopyRect(Dest, 0, H - h, W, h, Source, 0, 0);
}

void PushAndSqeezeDown(Bitmap& Dest, const Bitmap& Source, int W, int H, int, int h, int) {
  StretchRect(Dest, 0, h, W, H - h, Dest, 0, 0, W, H);
  CopyRect(Dest, 0, 0, W, h, Source, 0, H - h);
}

void PushAndSqeezeUp(Bitmap& Dest, const Bitmap& Source, int W, int H, int, int h, int) {
  StretchRect(Dest, 0, 0, W, H - h, Dest, 0, 0, W, H);
  CopyRect(Dest, 0, H - h, W, h, Source, 0, 0);
}

void SlideOutFromRight(Bitmap& Dest, const Bitmap& Source, int W, int H, int w, int, int) {
  CopyRect(Dest, w, 0, W - w, H, Dest, 0, 0);
  CopyRect(Dest, 0, 0, w, H, Source, 0, 0);
}

void SlideOutFromLeft(Bitmap& Dest, const Bitmap& Source, int W, int H, int w, int, int) {
  CopyRect(Dest, 0, 0, W - w, H, Dest, w, 0);
  CopyRect(Dest, W - w, 0, w, H, Source, W - w, 0);
}

void SlideOutFromBottom(Bitmap& Dest, const Bitmap& Source, int W, int H, int, int h, int) {
  CopyRect(Dest, 0, h, W, H - h, Dest, 0, 0);
  CopyRect(Dest, 0, 0, W, h, Source, 0, 0);
}

void SlideOutFromTop(Bitmap& Dest, const Bitmap& Source, int W, int H, int, int h, int) {
  CopyRect(Dest, 0, 0, W, H - h, Dest, 0, h);
  CopyRect(Dest, 0, H - h, W, h, Source, 0, H - h);
}

}  // namespace lumivor::transitions
