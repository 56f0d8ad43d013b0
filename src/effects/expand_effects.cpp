// Expand: the whole new picture (or each half or quarter of it) squeezed into a growing rectangle.
// W, H are the frame size and w, h the progress size; halves are taken with truncating division,
// so odd sizes leave a middle line to the old picture.
#include "effects/effect_procs.h"

namespace lumivor::transitions {

void ExpandFromRight(Bitmap& Dest, const Bitmap& Source, int W, int H, int w, int, int) {
  StretchRect(Dest, W - w, 0, w, H, Source, 0, 0, W, H);
}

void ExpandFromLeft(Bitmap& Dest, const Bitmap& Source, int W, int H, int w, int, int) {
  StretchRect(Dest, 0, 0, w, H, Source, 0, 0, W, H);
}

void ExpandOutFromMiddle(Bitmap& Dest, const Bitmap& Source, int W, int H, int w, int, int) {
  StretchRect(Dest, (W - w) / 2, 0, w, H, Source, 0, 0, W, H);
}

void ExpandInFromSides(Bitmap& Dest, const Bitmap& Source, int W, int H, int w, int, int) {
  StretchRect(Dest, 0, 0, w / 2, H, Source, 0, 0, W / 2, H);
  StretchRect(Dest, W - w / 2, 0, w / 2, H, Source, W / 2, 0, W / 2, H);
}

void ExpandFromBottom(Bitmap& Dest, const Bitmap& Source, int W, int H, int, int h, int) {
  StretchRect(Dest, 0, H - h, W, h, Source, 0, 0, W, H);
}

void ExpandFromTop(Bitmap& Dest, const Bitmap& Source, int W, int H, int, int h, int) {
  StretchRect(Dest, 0, 0, W, h, Source, 0, 0, W, H);
}

void ExpandOutFromMiddleHorizontal(Bitmap& Dest, const Bitmap& Source, int W, int H, int, int h, int) {
  StretchRect(Dest, 0, (H - h) / 2, W, h, Source, 0, 0, W, H);
}

void ExpandInFromTopAndBottom(Bitmap& Dest, const Bitmap& Source, int W, int H, int, int h, int) {
  StretchRect(Dest, 0, 0, W, h / 2, Source, 0, 0, W, H / 2);
  StretchRect(Dest, 0, H - h / 2, W, h / 2, Source, 0, H / 2, W, H / 2);
}

void ExpandFromBottomRight(Bitmap& Dest, const Bitmap& Source, int W, int H, int w, int h, int) {
  StretchRect(Dest, W - w, H - h, w, h, Source, 0, 0, W, H);
}

void ExpandFromTopRight(Bitmap& Dest, const Bitmap& Source, int W, int H, int w, int h, int) {
  StretchRect(Dest, W - w, 0, w, h, Source, 0, 0, W, H);
}

void ExpandFromTopLeft(Bitmap& Dest, const Bitmap& Source, int W, int H, int w, int h, int) {
  StretchRect(Dest, 0, 0, w, h, Source, 0, 0, W, H);
}

void ExpandFromBottomLeft(Bitmap& Dest, const Bitmap& Source, int W, int H, int w, int h, int) {
  StretchRect(Dest, 0, H - h, w, h, Source, 0, 0, W, H);
}

void ExpandOutFromCentre(Bitmap& Dest, const Bitmap& Source, int W, int H, int w, int h, int) {
  StretchRect(Dest, (W - w) / 2, (H - h) / 2, w, h, Source, 0, 0, W, H);
}

}  // namespace lumivor::transitions
