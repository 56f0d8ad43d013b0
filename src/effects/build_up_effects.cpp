// Build-up: the part of the new picture already reached is shown in place and the rest of the
// frame is filled by stretching the next strip of it, at most a tenth of the frame wide (or high).
// W, H: frame size; w, h: progress size.
#include <algorithm>

#include "effects/effect_procs.h"

namespace lumivor::transitions {

void BuildUpFromRight(Bitmap& Dest, const Bitmap& Source, int W, int H, int w, int, int) {
  CopyRect(Dest, 0, 0, w, H, Source, 0, 0);
  StretchRect(Dest, w, 0, W - w, H, Source, w, 0, std::min(W / 10, W - w), H);
}

void BuildUpFromLeft(Bitmap& Dest, const Bitmap& Source, int W, int H, int w, int, int) {
  CopyRect(Dest, W - w, 0, w, H, Source, W - w, 0);
  const int a = std::max(0, W - w - W / 10);
  StretchRect(Dest, 0, 0, W - w, H, Source, a, 0, W - w - a, H);
}

void ExpandFromBottomAlt(Bitmap& Dest, const Bitmap& Source, int W, int H, int, int h, int) {
  CopyRect(Dest, 0, 0, W, h, Source, 0, 0);
  StretchRect(Dest, 0, h, W, H - h, Source, 0, h, W, std::min(H / 10, H - h));
}

void ExpandInFromTopAlt(Bitmap& Dest, const Bitmap& Source, int W, int H, int, int h, int) {
  CopyRect(Dest, 0, H - h, W, h, Source, 0, H - h);
  const int a = std::max(0, H - h - H / 10);
  StretchRect(Dest, 0, 0, W, H - h, Source, 0, a, W, H - h - a);
}

}  // namespace lumivor::transitions
