// Slide in: the whole new picture moves in over the old one from an edge or a corner; its leading
// edge is w (or h) pixels into the frame. W, H: frame size; w, h: progress size.
#include "effects/effect_procs.h"

namespace lumivor::transitions {

void SlideInFromRight(Bitmap& Dest, const Bitmap& Source, int W, int H, int w, int, int) {
  CopyRect(Dest, W - w, 0, W, H, Source, 0, 0);
}

void SlideInFromLeft(Bitmap& Dest, const Bitmap& Source, int W, int H, int w, int, int) {
  CopyRect(Dest, w - W, 0, W, H, Source, 0, 0);
}

void SlideInFromBottom(Bitmap& Dest, const Bitmap& Source, int W, int H, int, int h, int) {
  CopyRect(Dest, 0, H - h, W, H, Source, 0, 0);
}

void SlideInFromTop(Bitmap& Dest, const Bitmap& Source, int W, int H, int, int h, int) {
  CopyRect(Dest, 0, h - H, W, H, Source, 0, 0);
}

void SlideInFromBottomRight(Bitmap& Dest, const Bitmap& Source, int W, int H, int w, int h, int) {
  CopyRect(Dest, W - w, H - h, W, H, Source, 0, 0);
}

void SlideInFromTopRight(Bitmap& Dest, const Bitmap& Source, int W, int H, int w, int h, int) {
  CopyRect(Dest, W - w, h - H, W, H, Source, 0, 0);
}

void SlideInFromTopLeft(Bitmap& Dest, const Bitmap& Source, int W, int H, int w, int h, int) {
  CopyRect(Dest, w - W, h - H, W, H, Source, 0, 0);
}

void SlideInFromBottomLeft(Bitmap& Dest, const Bitmap& Source, int W, int H, int w, int h, int) {
  CopyRect(Dest, w - W, H - h, W, H, Source, 0, 0);
}

}  // namespace lumivor::transitions
