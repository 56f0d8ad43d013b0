// Cross-fade: the whole frame blended from the old picture towards the new one.
#include "raster/arith.h"
#include "effects/effect_procs.h"

namespace lumivor::transitions {

void Fade(Bitmap& Dest, const Bitmap& Source, int, int, int, int, int Progress) {
  BlendPixels(Dest, Source, MulDiv(256, Progress, 100));
}

}  // namespace lumivor::transitions
