// Curved and elliptic reveals: the new picture shows through a rounded rectangle whose corner
// ellipses are so large that its leading edge is a curve.
#include "effects/effect_procs.h"
#include "effects/mask.h"

namespace lumivor::transitions {

namespace {

void copy_round_rect(Bitmap& Dest, const Bitmap& Source, int W, int H, const Rect& box, int ew, int eh) {
  MaskedCopy(Dest, Source, RoundRectMask(W, H, box, ew, eh));
}

// The frame minus the rounded rectangle: the old picture shrinks onto the centre inside it.
void copy_outside_round_rect(Bitmap& Dest, const Bitmap& Source, int W, int H, const Rect& box, int ew, int eh) {
  MaskedCopy(Dest, Source, RectMask(W, H, {0, 0, W, H}) ^ RoundRectMask(W, H, box, ew, eh));
}

}  // namespace

// The rectangles reach far outside the frame so that only one end of each, the curved one, is seen.

void CurvedRevealFromLeft(Bitmap& Dest, const Bitmap& Source, int W, int H, int w, int, int) {
  copy_round_rect(Dest, Source, W, H, {-2 * W, 0, 2 * w, H + 1}, 2 * W, 2 * W);
}

void CurvedRevealFromRight(Bitmap& Dest, const Bitmap& Source, int W, int H, int w, int, int) {
  copy_round_rect(Dest, Source, W, H, {W - 2 * w, 0, 3 * W, H + 1}, 2 * W, 2 * W);
}

void CurvedRevealFromTop(Bitmap& Dest, const Bitmap& Source, int W, int H, int, int h, int) {
  copy_round_rect(Dest, Source, W, H, {0, -2 * H, W + 1, 2 * h}, 2 * H, 2 * H);
}

void CurvedRevealFromBottom(Bitmap& Dest, const Bitmap& Source, int W, int H, int, int h, int) {
  copy_round_rect(Dest, Source, W, H, {0, H - 2 * h, W + 1, 3 * H}, 2 * H, 2 * H);
}

void CurvedRevealFromTopLeft(Bitmap& Dest, const Bitmap& Source, int W, int H, int w, int h, int) {
  copy_round_rect(Dest, Source, W, H, {-W, -H, (3 * w) / 2, (3 * h) / 2}, 2 * W, 2 * H);
}

void CurvedRevealFromTopRight(Bitmap& Dest, const Bitmap& Source, int W, int H, int w, int h, int) {
  copy_round_rect(Dest, Source, W, H, {W - (3 * w) / 2, -H, 2 * W, (3 * h) / 2}, 2 * W, 2 * H);
}

void CurvedRevealFromBottomLeft(Bitmap& Dest, const Bitmap& Source, int W, int H, int w, int h, int) {
  copy_round_rect(Dest, Source, W, H, {-W, H - (3 * h) / 2, (3 * w) / 2, 2 * H}, 2 * W, 2 * H);
}

void CurvedRevealFromBottomRight(Bitmap& Dest, const Bitmap& Source, int W, int H, int w, int h, int) {
  copy_round_rect(Dest, Source, W, H, {W - (3 * w) / 2, H - (3 * h) / 2, 2 * W, 2 * H}, 2 * W, 2 * H);
}

// Corner ellipses of nine tenths of the box: close to an ellipse, but with fuller corners, so the
// shape reaches the frame's corners before the transition ends.

void EllipticRevealOutFromCentre(Bitmap& Dest, const Bitmap& Source, int W, int H, int w, int h, int) {
  const int cx = W / 2, cy = H / 2;
  copy_round_rect(Dest, Source, W, H, {cx - w, cy - h, cx + w, cy + h}, (9 * w) / 5, (9 * h) / 5);
}

void EllipticRevealInToCentre(Bitmap& Dest, const Bitmap& Source, int W, int H, int w, int h, int) {
  const int cx = W / 2, cy = H / 2;
  copy_outside_round_rect(Dest, Source, W, H, {w - cx, h - cy, 3 * cx - w, 3 * cy - h}, (9 * (W - w)) / 5,
                          (9 * (H - h)) / 5);
}

}  // namespace lumivor::transitions
