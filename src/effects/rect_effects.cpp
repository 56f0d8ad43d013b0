// Rectangle transitions: whole-rectangle copies and stretches.
// Not drawn yet: every procedure below leaves the old picture in Dest.
#include "effects/effect_procs.h"

namespace lumivor::transitions {

void ExpandFromRight(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void ExpandFromLeft(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void SlideInFromRight(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void SlideInFromLeft(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void RevealFromLeft(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void RevealFromRight(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void ExpandInFromRight(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void ExpandInFromLeft(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void ExpandInToMiddle(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void ExpandOutFromMiddle(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void RevealOutFromMiddle(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void RevealInFromSides(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void ExpandInFromSides(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void UnrollFromLeft(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void UnrollFromRight(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void BuildUpFromRight(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void BuildUpFromLeft(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void ExpandFromBottom(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void ExpandFromTop(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void SlideInFromBottom(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void SlideInFromTop(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void RevealFromTop(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void RevealFromBottom(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void ExpandInFromBottom(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void ExpandInFromTop(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void ExpandInToMiddleHorizontal(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void ExpandOutFromMiddleHorizontal(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void RevealFromMiddleHorizontal(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void SlideInFromTopAndBottom(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void ExpandInFromTopAndBottom(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void UnrollFromTop(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void UnrollFromBottom(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void ExpandFromBottomAlt(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void ExpandInFromTopAlt(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void ExpandFromBottomRight(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void ExpandFromTopRight(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void ExpandFromTopLeft(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void ExpandFromBottomLeft(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void SlideInFromBottomRight(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void SlideInFromTopRight(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void SlideInFromTopLeft(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void SlideInFromBottomLeft(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void RevealFromTopLeft(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void RevealFromBottomLeft(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void RevealFromBottomRight(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void RevealFromTopRight(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void AppearAndContractToTopLeft(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void AppearAndContractToBottomLeft(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void AppearAndContractToBottomRight(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void AppearAndContractToTopRight(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void AppearAndContractToMiddle(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void ExpandOutFromCentre(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void RevealOutFromCentre(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void RevealInToCentre(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void QuartersRevealInToMiddle(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void QuartersExpandToMiddle(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void QuartersSlideInToMiddle(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void PushRight(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void PushLeft(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void PushAndSqueezeRight(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void PushAndSqueezeLeft(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void PushDown(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void PushUp(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void PushAndSqeezeDown(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void PushAndSqeezeUp(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void SlideOutFromRight(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void SlideOutFromLeft(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void SlideOutFromBottom(Bitmap&, const Bitmap&, int, int, int, int, int) {}
void SlideOutFromTop(Bitmap&, const Bitmap&, int, int, int, int, int) {}

}  // namespace lumivor::transitions
