// Bar, shred, speckle, blind, random-square and moving-rectangle masks.
// Not drawn yet: every procedure below leaves the old picture in Dest.
#include "effects/effect_procs.h"

namespace lumivor::transitions {

void BarsInFromRight(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void BarsInFromLeft(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void BarsLeftThenRight(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void BarsRightThenLeft(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void BarsFromBothSides(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void UnevenShredFromRight(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void UnevenShredFromLeft(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void UnevenShredOutFromMiddleHorizontal(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void UnevenShredInToMiddleHorizontal(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void BarsFromBottom(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void BarsFromTop(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void BarsTopThenBottom(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void BarsBottomThenTop(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void BarsFromTopAndBottom(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void UnvenShredFromBottom(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void UnevenShredFromTop(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void UnevenShredFromHorizon(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void UnevenShredInToHorizon(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void CrissCrossRevealFromBottomRight(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void CrissCrossRevealFromTopRight(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void CrissCrossRevealFromBottomLeft(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void CrissCrossRevealFromTopLeft(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void CrissCrossRevealBounceFromTopLeft(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void CrissCrossRevealBounceFromBottomLeft(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void CrissCrossRevealBounceFromTopRight(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void CrissCrossRevealBounceFromBottomRight(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void CrissCrossRevealFromRightTopAndBottom(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void CrissCrossRevealFromLeftTopAndBottom(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void CrissCrossRevealFromLeftRightAndBottom(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void CrissCrossRevealFromLeftRightAndTop(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void CrissCrossRevealFromTopLeftRightAndBottom(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void CrissCrossRevealFromBottomLeftTopRight(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void UnevenShredFromBottomAndRight(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void UnevenShredFromTopAndRight(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void UnevenShredFromBottomAndLeft(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void UnevenShredFromTopAndLeft(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void UnevenShredFromHorizonAndRight(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void UnevenShredFromHorizonAndLeft(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void UnevenShredFromBottomAndVertMiddle(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void UnevenShredFromTopAndVertMiddle(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void UnevenShredFromCentre(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void UnevenShredToCentre(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void SpeckleAppearFromRight(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void SpeckleAppearFromLeft(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void SpeckleAppearFromBottom(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void SpeckleAppearFromTop(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void RandomSquaresAppear(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void BlindVertically(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void BlindHorizontally(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void UnevenBlindFromLeft(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void UnevenBlindFromRight(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void UnevenBlindFromTop(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void UnevenBlindFromBottom(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void RectangularShred(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void RectanglesApearFromLeftAndDisapearToRight(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void RectanglesApearFromRightAndDisapearToLeft(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void RectanglesApearFromUpAndDisapearToBottom(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void RectanglesApearFromBottomAndDisapearToUp(Bitmap&, const Bitmap&, int, int, int, int, int) {}

}  // namespace lumivor::transitions
