// Expand in and appear-and-contract: a w- or h-sized piece of the new picture, taken at an edge, a
// corner or the centre, magnified so that it covers the frame; the magnification falls to 1 as the
// progress size grows. With w = 0 the source piece is empty and nothing is drawn.
// W, H: frame size; w, h: progress size.
#include "effects/effect_procs.h"

namespace lumivor::transitions {

void ExpandInFromRight(Bitmap& Dest, const Bitmap& Source, int W, int H, int w, int, int) {
  StretchRect(Dest, 0, 0, 2 * W - w, H, Source, 0, 0, w, H);
}

void ExpandInFromLeft(Bitmap& Dest, const Bitmap& Source, int W, int H, int w, int, int) {
  StretchRect(Dest, w - W, 0, 2 * W - w, H, Source, W - w, 0, w, H);
}

void ExpandInToMiddle(Bitmap& Dest, const Bitmap& Source, int W, int H, int w, int, int) {
  StretchRect(Dest, w - W, 0, 3 * W - 2 * w, H, Source, (W - w) / 2, 0, w, H);
}

void ExpandInFromBottom(Bitmap& Dest, const Bitmap& Source, int W, int H, int, int h, int) {
  StretchRect(Dest, 0, 0, W, 2 * H - h, Source, 0, 0, W, h);
}

void ExpandInFromTop(Bitmap& Dest, const Bitmap& Source, int W, int H, int, int h, int) {
  StretchRect(Dest, 0, h - H, W, 2 * H - h, Source, 0, H - h, W, h);
}

void ExpandInToMiddleHorizontal(Bitmap& Dest, const Bitmap& Source, int W, int H, int, int h, int) {
  StretchRect(Dest, 0, h - H, W, 3 * H - 2 * h, Source, 0, (H - h) / 2, W, h);
}

void AppearAndContractToTopLeft(Bitmap& Dest, const Bitmap& Source, int W, int H, int w, int h, int) {
  StretchRect(Dest, 0, 0, 2 * W - w, 2 * H - h, Source, 0, 0, w, h);
}

void AppearAndContractToBottomLeft(Bitmap& Dest, const Bitmap& Source, int W, int H, int w, int h, int) {
  StretchRect(Dest, 0, h - H, 2 * W - w, 2 * H - h, Source, 0, H - h, w, h);
}

void AppearAndContractToBottomRight(Bitmap& Dest, const Bitmap& Source, int W, int H, int w, int h, int) {
  StretchRect(Dest, w - W, h - H, 2 * W - w, 2 * H - h, Source, W - w, H - h, w, h);
}

void AppearAndContractToTopRight(Bitmap& Dest, const Bitmap& Source, int W, int H, int w, int h, int) {
  StretchRect(Dest, w - W, 0, 2 * W - w, 2 * H - h, Source, W - w, 0, w, h);
}

void AppearAndContractToMiddle(Bitmap& Dest, const Bitmap& Source, int W, int H, int w, int h, int) {
  StretchRect(Dest, w - W, h - H, 3 * W - 2 * w, 3 * H - 2 * h, Source, (W - w) / 2, (H - h) / 2, w, h);
}

}  // namespace lumivor::transitions
