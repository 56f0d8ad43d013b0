// Triangular shred: a grid of downward-pointing triangles growing from the cell centres.
#include "raster/arith.h"
#include "effects/effect_procs.h"
#include "effects/mask.h"

namespace lumivor::transitions {

// Rows run one cell past the frame: each triangle's widest part is at its top, so the row below
// the last one is what covers the bottom edge as the triangles grow.
void TriangularShred(Bitmap& Dest, const Bitmap& Source, int W, int H, int, int, int p) {
  const int cw = W / 10 + 1, ch = H / 10 + 1;
  const int hx = MulDiv(cw, p, 50), hy = MulDiv(ch, p, 50);
  MaskBuilder triangles(W, H);
  for (int k = 0; 2 * k * cw < W; ++k)
    for (int j = 0; 2 * j * ch < H + ch; ++j) {
      const int x = (2 * k + 1) * cw, y = (2 * j + 1) * ch;
      const Point corners[] = {{x - hx, y - hy}, {x, y + hy}, {x + hx, y - hy}};
      triangles.AddPolygon(corners);
    }
  if (triangles.HasShapes() == false) return;
  MaskedCopy(Dest, Source, triangles.Build());
}

}  // namespace lumivor::transitions
