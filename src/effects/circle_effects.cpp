// Circular shred: a grid of circles growing from the centres of square cells until they overlap.
#include <algorithm>

#include "raster/arith.h"
#include "effects/effect_procs.h"
#include "effects/mask.h"

namespace lumivor::transitions {

void CircularShred(Bitmap& Dest, const Bitmap& Source, int W, int H, int, int, int p) {
  // Cells of 2n; the radius reaches 1.5n near the end, past the half-diagonal n * sqrt(2) of a cell,
  // so the circles close every gap before the caller completes the frame.
  const int n = std::min(W, H) / 10 + 1;
  const int r = MulDiv(3 * n, p, 200);
  MaskBuilder circles(W, H);
  for (int x = 0; x < W; x += 2 * n)
    for (int y = 0; y < H; y += 2 * n) circles.AddEllipse({x + n - r, y + n - r, x + n + r, y + n + r});
  if (!circles.HasShapes()) return;
  MaskedCopy(Dest, Source, circles.Build());
}

}  // namespace lumivor::transitions
