// Random squares: a grid of squares, each appearing at its own progress and staying.
#include <algorithm>

#include "effects/effect_procs.h"
#include "effects/bar_effect_ops.h"
#include "effects/random.h"

namespace lumivor::transitions {

// Seeded from the new picture, so every frame of a transition draws the same value for a square:
// a square shown once stays shown at every later progress, and the shared sequence is left alone.
void RandomSquaresAppear(Bitmap& D, const Bitmap& S, int W, int H, int, int, int p) {
  const int side = 2 * (std::min(W, H) / 50 + 1);
  TComplexRegion region;
  {
    SeededRandom seeded(S.SourceSeed());
    for (int x = 0; x < W; x += side)
      for (int y = 0; y < H; y += side)
        if (static_cast<int>(RandomInt(100)) < p) region.AddRect(x, y, x + side, y + side);
  }
  MaskedCopy(D, S, region.MakeRegion(W, H));
}

}  // namespace lumivor::transitions
