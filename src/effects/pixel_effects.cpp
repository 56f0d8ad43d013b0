// Pixel effects.
// Not drawn yet: every procedure below leaves the old picture in Dest.
#include "effects/effect_procs.h"

namespace lumivor::transitions {

void Fade(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void PivotFromTopLeft(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void PivotFromBottomLeft(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void PivotFromTopRight(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void PivotFromBottomRight(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void Pixelate(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void Dissolve(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void RandomBarsHorizontal(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void RandomBarsVertical(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void ChannelMix(Bitmap&, const Bitmap&, int, int, int, int, int) {}

}  // namespace lumivor::transitions
