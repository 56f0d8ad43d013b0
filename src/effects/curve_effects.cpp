// Curved, sweeping and rotating masks.
// Not drawn yet: every procedure below leaves the old picture in Dest.
#include "effects/effect_procs.h"

namespace lumivor::transitions {

void CurvedRevealFromLeft(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void CurvedRevealFromRight(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void CurvedRevealFromTop(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void CurvedRevealFromBottom(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void CurvedRevealFromTopLeft(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void CurvedRevealFromTopRight(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void CurvedRevealFromBottomLeft(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void CurvedRevealFromBottomRight(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void EllipticRevealOutFromCentre(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void EllipticRevealInToCentre(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void DiagonalSweepFromTopLeftBottomRightAnticlockwise(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void DiagonalSweepFromTopLeftBottomRightClockwise(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void StarburstClockwiseFromCenter(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void StarburstAnticlockwiseFromCenter(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void SweepClockwise(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void SweepAnticlockwise(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void RotationalRectangleInCenter(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void RotationalStarInCenter(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void SpiralRectangle(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void CircularShred(Bitmap&, const Bitmap&, int, int, int, int, int) {}

}  // namespace lumivor::transitions
