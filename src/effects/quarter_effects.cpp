// Quarters: the frame's four quarters are revealed, expanded or slid in separately; in the slide
// each quarter comes from its own side (top-left from the left, top-right from the top,
// bottom-right from the right, bottom-left from the bottom). Quarters are W div 2 by H div 2, so
// odd sizes leave a middle line to the caller's final full copy. W, H: frame size; w, h: progress
// size.
#include "effects/effect_procs.h"

namespace lumivor::transitions {

void QuartersRevealInToMiddle(Bitmap& Dest, const Bitmap& Source, int W, int H, int w, int h, int) {
  CopyRect(Dest, 0, 0, w / 2, h / 2, Source, 0, 0);
  CopyRect(Dest, 0, H - h / 2, w / 2, h / 2, Source, 0, H - h / 2);
  CopyRect(Dest, W - w / 2, H - h / 2, w / 2, h / 2, Source, W - w / 2, H - h / 2);
  CopyRect(Dest, W - w / 2, 0, w / 2, h / 2, Source, W - w / 2, 0);
}

void QuartersExpandToMiddle(Bitmap& Dest, const Bitmap& Source, int W, int H, int w, int h, int) {
  StretchRect(Dest, 0, 0, w / 2, h / 2, Source, 0, 0, W / 2, H / 2);
  StretchRect(Dest, 0, H - h / 2, w / 2, h / 2, Source, 0, H / 2, W / 2, H / 2);
  StretchRect(Dest, W - w / 2, H - h / 2, w / 2, h / 2, Source, W / 2, H / 2, W / 2, H / 2);
  StretchRect(Dest, W - w / 2, 0, w / 2, h / 2, Source, W / 2, 0, W / 2, H / 2);
}

void QuartersSlideInToMiddle(Bitmap& Dest, const Bitmap& Source, int W, int H, int w, int h, int) {
  CopyRect(Dest, w / 2 - W / 2, 0, W / 2, H / 2, Source, 0, 0);
  CopyRect(Dest, W / 2, h / 2 - H / 2, W / 2, H / 2, Source, W / 2, 0);
  CopyRect(Dest, W - w / 2, H / 2, W / 2, H / 2, Source, W / 2, H / 2);
  CopyRect(Dest, 0, H - h / 2, W / 2, H / 2, Source, 0, H / 2);
}

}  // namespace lumivor::transitions
