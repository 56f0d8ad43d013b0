// Arrowhead transitions: a V grows from the middle of an edge; the bow ties grow two at once.
#include "effects/effect_procs.h"
#include "effects/polygon_effect_ops.h"

namespace lumivor::transitions {

using polygon_ops::RevealUnion;
using polygon_ops::Triangle;

// The tip is 2w (2h) into the frame and the base on the edge 2h (2w) wide.
void RevealVFromLeft(Bitmap& Dest, const Bitmap& Source, int W, int H, int w, int h, int) {
  const int cy = H / 2;
  RevealUnion(Dest, Source, W, H, {Triangle({0, cy - h}, {2 * w, cy}, {0, cy + h})});
}

void RevealVFromRight(Bitmap& Dest, const Bitmap& Source, int W, int H, int w, int h, int) {
  const int cy = H / 2;
  RevealUnion(Dest, Source, W, H, {Triangle({W, cy - h}, {W - 2 * w, cy}, {W, cy + h})});
}

void RevealVFromTop(Bitmap& Dest, const Bitmap& Source, int W, int H, int w, int h, int) {
  const int cx = W / 2;
  RevealUnion(Dest, Source, W, H, {Triangle({cx - w, 0}, {cx, 2 * h}, {cx + w, 0})});
}

void RevealVFromBottom(Bitmap& Dest, const Bitmap& Source, int W, int H, int w, int h, int) {
  const int cx = W / 2;
  RevealUnion(Dest, Source, W, H, {Triangle({cx - w, H}, {cx, H - 2 * h}, {cx + w, H})});
}

// Each side reaches only w into the frame, so the two arrowheads stay apart until late.
void BowTieHorizontal(Bitmap& Dest, const Bitmap& Source, int W, int H, int w, int h, int) {
  const int cy = H / 2;
  RevealUnion(Dest, Source, W, H,
              {Triangle({0, cy - h}, {w, cy}, {0, cy + h}), Triangle({W, cy - h}, {W - w, cy}, {W, cy + h})});
}

// Each side reaches 2h, so the two meet at the centre near p = 25 and overlap after it: unlike
// the horizontal tie, this one is a single shape for most of the transition.
void BowTieVertical(Bitmap& Dest, const Bitmap& Source, int W, int H, int w, int h, int) {
  const int cx = W / 2;
  RevealUnion(Dest, Source, W, H,
              {Triangle({cx - w, 0}, {cx, 2 * h}, {cx + w, 0}), Triangle({cx - w, H}, {cx, H - 2 * h}, {cx + w, H})});
}

}  // namespace lumivor::transitions
