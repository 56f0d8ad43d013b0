// Straight-edged polygon masks.
// Not drawn yet: every procedure below leaves the old picture in Dest.
#include "effects/effect_procs.h"

namespace lumivor::transitions {

void RevealDiagonalFromTopLeft(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void RevealDiagonalFromTopRight(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void RevealDiagonalFromBottomLeft(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void RevealDiagonalFromBottomRight(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void TriangularShred(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void RevealVFromLeft(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void RevealVFromRight(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void RevealVFromTop(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void RevealVFromBottom(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void BowTieHorizontal(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void BowTieVertical(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void DiagonalCrossIn(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void DiagonalCrossOut(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void ZigzagHorizontal(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void ZigzagVertical(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void DiamondShred(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void RevealDiamondOutFromCentre(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void RevealDiamondInToCentre(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void DiagonalBoxOut(Bitmap&, const Bitmap&, int, int, int, int, int) {}

}  // namespace lumivor::transitions
