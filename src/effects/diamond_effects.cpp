// Diamond transitions: a grid of growing diamonds, and a single diamond out from or in to the centre.
#include <algorithm>

#include "raster/arith.h"
#include "effects/effect_procs.h"
#include "effects/polygon_effect_ops.h"

namespace lumivor::transitions {

using polygon_ops::Frame;
using polygon_ops::Polygon;
using polygon_ops::RevealUnion;
using polygon_ops::RevealXor;

// Cells of side 2n; the diamonds touch at p = 50 and would cover the frame at p = 100.
void DiamondShred(Bitmap& Dest, const Bitmap& Source, int W, int H, int, int, int p) {
  const int n = std::min(W, H) / 10 + 1;
  const int r = MulDiv(n, p, 50);
  MaskBuilder diamonds(W, H);
  for (int x = n; x - n < W; x += 2 * n)
    for (int y = n; y - n < H; y += 2 * n) {
      const Point corners[] = {{x - r, y}, {x, y - r}, {x + r, y}, {x, y + r}};
      diamonds.AddPolygon(corners);
    }
  if (diamonds.HasShapes() == false) return;
  MaskedCopy(Dest, Source, diamonds.Build());
}

void RevealDiamondOutFromCentre(Bitmap& Dest, const Bitmap& Source, int W, int H, int w, int h, int) {
  const int cx = W / 2, cy = H / 2;
  RevealUnion(Dest, Source, W, H, {Polygon({cx - w, cy}, {cx, cy - h}, {cx + w, cy}, {cx, cy + h})});
}

// The diamond starts with half-diagonals of about W and H, so at low progress only the corners
// of the frame lie outside it.
void RevealDiamondInToCentre(Bitmap& Dest, const Bitmap& Source, int W, int H, int w, int h, int) {
  const int cx = W / 2, cy = H / 2;
  RevealXor(Dest, Source, W, H,
            {Frame(W, H), Polygon({w - cx, cy}, {cx, h - cy}, {3 * cx - w, cy}, {cx, 3 * cy - h})});
}

}  // namespace lumivor::transitions
