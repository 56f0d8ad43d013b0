// EffectList: the 176 transitions in their fixed order. The order and the names are stored data
// (settings and saved choices refer to effects by number), so rows are never reordered or renamed;
// "Unven", "sqeeze" and "apear" are spelt as they have always been stored.
#include "effects/effect.h"
#include "effects/effect_procs.h"

namespace lumivor {

using namespace transitions;

const std::array<TEffect, EffectCount> EffectList = {{
    {"Expand from right", ExpandFromRight},  // 1
    {"Expand from left", ExpandFromLeft},  // 2
    {"Slide in from right", SlideInFromRight},  // 3
    {"Slide in from left", SlideInFromLeft},  // 4
    {"Reveal from left", RevealFromLeft},  // 5
    {"Reveal from right", RevealFromRight},  // 6
    {"Expand in from right", ExpandInFromRight},  // 7
    {"Expand in from left", ExpandInFromLeft},  // 8
    {"Expand in to middle", ExpandInToMiddle},  // 9
    {"Expand out from middle", ExpandOutFromMiddle},  // 10
    {"Reveal out from middle", RevealOutFromMiddle},  // 11
    {"Reveal in from sides", RevealInFromSides},  // 12
    {"Expand in from sides", ExpandInFromSides},  // 13
    {"Unroll from left", UnrollFromLeft},  // 14
    {"Unroll from right", UnrollFromRight},  // 15
    {"Build up from right", BuildUpFromRight},  // 16
    {"Build up from left", BuildUpFromLeft},  // 17
    {"Expand from bottom", ExpandFromBottom},  // 18
    {"Expand from top", ExpandFromTop},  // 19
    {"Slide in from bottom", SlideInFromBottom},  // 20
    {"Slide in from top", SlideInFromTop},  // 21
    {"Reveal from top", RevealFromTop},  // 22
    {"Reveal from bottom", RevealFromBottom},  // 23
    {"Expand in from bottom", ExpandInFromBottom},  // 24
    {"Expand in from top", ExpandInFromTop},  // 25
    {"Expand in to middle (horizontal)", ExpandInToMiddleHorizontal},  // 26
    {"Expand out from middle (horizontal)", ExpandOutFromMiddleHorizontal},  // 27
    {"Reveal from middle (horizontal)", RevealFromMiddleHorizontal},  // 28
    {"Slide in from top and bottom", SlideInFromTopAndBottom},  // 29
    {"Expand in from top and bottom", ExpandInFromTopAndBottom},  // 30
    {"Unroll from top", UnrollFromTop},  // 31
    {"Unroll from bottom", UnrollFromBottom},  // 32
    {"Expand from bottom", ExpandFromBottomAlt},  // 33
    {"Expand in from top", ExpandInFromTopAlt},  // 34
    {"Expand from bottom right", ExpandFromBottomRight},  // 35
    {"Expand from top right", ExpandFromTopRight},  // 36
    {"Expand from top left", ExpandFromTopLeft},  // 37
    {"Expand from bottom left", ExpandFromBottomLeft},  // 38
    {"Slide in from bottom right", SlideInFromBottomRight},  // 39
    {"Slide in from top right", SlideInFromTopRight},  // 40
    {"Slide in from top left", SlideInFromTopLeft},  // 41
    {"Slide in from bottom left", SlideInFromBottomLeft},  // 42
    {"Reveal from top left", RevealFromTopLeft},  // 43
    {"Reveal from bottom left", RevealFromBottomLeft},  // 44
    {"Reveal from bottom right", RevealFromBottomRight},  // 45
    {"Reveal from top right", RevealFromTopRight},  // 46
    {"Appear and Contract to top left", AppearAndContractToTopLeft},  // 47
    {"Appear and Contract to bottom left", AppearAndContractToBottomLeft},  // 48
    {"Appear and Contract to bottom right", AppearAndContractToBottomRight},  // 49
    {"Appear and Contract to top right", AppearAndContractToTopRight},  // 50
    {"Appear and Contract to middle", AppearAndContractToMiddle},  // 51
    {"Expand out from centre", ExpandOutFromCentre},  // 52
    {"Reveal out from centre", RevealOutFromCentre},  // 53
    {"Reveal in to centre", RevealInToCentre},  // 54
    {"Quarters Reveal in to middle", QuartersRevealInToMiddle},  // 55
    {"Quarters Expand to middle", QuartersExpandToMiddle},  // 56
    {"Quarters Slide in to middle", QuartersSlideInToMiddle},  // 57
    {"Curved Reveal from left", CurvedRevealFromLeft},  // 58
    {"Curved Reveal from right", CurvedRevealFromRight},  // 59
    {"Bars in from right", BarsInFromRight},  // 60
    {"Bars in from left", BarsInFromLeft},  // 61
    {"Bars left then right", BarsLeftThenRight},  // 62
    {"Bars right then left", BarsRightThenLeft},  // 63
    {"Bars from both sides", BarsFromBothSides},  // 64
    {"Uneven shred from right", UnevenShredFromRight},  // 65
    {"Uneven shred from left", UnevenShredFromLeft},  // 66
    {"Uneven shred out from middle (horizontal)", UnevenShredOutFromMiddleHorizontal},  // 67
    {"Uneven shred in to middle (horizontal)", UnevenShredInToMiddleHorizontal},  // 68
    {"Curved Reveal from top", CurvedRevealFromTop},  // 69
    {"Curved Reveal from bottom", CurvedRevealFromBottom},  // 70
    {"Bars from bottom", BarsFromBottom},  // 71
    {"Bars from top", BarsFromTop},  // 72
    {"Bars top then bottom", BarsTopThenBottom},  // 73
    {"Bars bottom then top", BarsBottomThenTop},  // 74
    {"Bars from top and bottom", BarsFromTopAndBottom},  // 75
    {"Unven shred from bottom", UnvenShredFromBottom},  // 76
    {"Uneven shred from top", UnevenShredFromTop},  // 77
    {"Uneven shred from horizon", UnevenShredFromHorizon},  // 78
    {"Uneven shred in to horizon", UnevenShredInToHorizon},  // 79
    {"Curved reveal from top left", CurvedRevealFromTopLeft},  // 80
    {"Curved reveal from top right", CurvedRevealFromTopRight},  // 81
    {"Curved reveal from bottom left", CurvedRevealFromBottomLeft},  // 82
    {"Curved reveal from bottom right", CurvedRevealFromBottomRight},  // 83
    {"Elliptic reveal out from centre", EllipticRevealOutFromCentre},  // 84
    {"Elliptic reveal in to centre", EllipticRevealInToCentre},  // 85
    {"Criss Cross reveal from bottom right", CrissCrossRevealFromBottomRight},  // 86
    {"Criss Cross reveal from top right", CrissCrossRevealFromTopRight},  // 87
    {"Criss Cross reveal from bottom left", CrissCrossRevealFromBottomLeft},  // 88
    {"Criss Cross reveal from top left", CrissCrossRevealFromTopLeft},  // 89
    {"Criss Cross reveal bounce from top left", CrissCrossRevealBounceFromTopLeft},  // 90
    {"Criss Cross reveal bounce from bottom left", CrissCrossRevealBounceFromBottomLeft},  // 91
    {"Criss Cross reveal bounce from top right", CrissCrossRevealBounceFromTopRight},  // 92
    {"Criss Cross reveal bounce from bottom right", CrissCrossRevealBounceFromBottomRight},  // 93
    {"Criss Cross reveal from right top and bottom", CrissCrossRevealFromRightTopAndBottom},  // 94
    {"Criss Cross reveal from left top and bottom", CrissCrossRevealFromLeftTopAndBottom},  // 95
    {"Criss Cross reveal from left right and bottom", CrissCrossRevealFromLeftRightAndBottom},  // 96
    {"Criss Cross reveal from left right and top", CrissCrossRevealFromLeftRightAndTop},  // 97
    {"Criss Cross reveal from top left right and bottom", CrissCrossRevealFromTopLeftRightAndBottom},  // 98
    {"Criss Cross reveal from bottom left top right", CrissCrossRevealFromBottomLeftTopRight},  // 99
    {"Uneven shred from bottom and right", UnevenShredFromBottomAndRight},  // 100
    {"Uneven shred from top and right", UnevenShredFromTopAndRight},  // 101
    {"Uneven shred from bottom and left", UnevenShredFromBottomAndLeft},  // 102
    {"Uneven shred from top and left", UnevenShredFromTopAndLeft},  // 103
    {"Uneven shred from horizon and right", UnevenShredFromHorizonAndRight},  // 104
    {"Uneven shred from horizon and left", UnevenShredFromHorizonAndLeft},  // 105
    {"Uneven shred from bottom and vert middle", UnevenShredFromBottomAndVertMiddle},  // 106
    {"Uneven shred from top and vert middle", UnevenShredFromTopAndVertMiddle},  // 107
    {"Uneven shred from centre", UnevenShredFromCentre},  // 108
    {"Uneven shred to centre", UnevenShredToCentre},  // 109
    {"Reveal diagonal from top left", RevealDiagonalFromTopLeft},  // 110
    {"Reveal diagonal from top right", RevealDiagonalFromTopRight},  // 111
    {"Reveal diagonal from bottom left", RevealDiagonalFromBottomLeft},  // 112
    {"Reveal diagonal from bottom right", RevealDiagonalFromBottomRight},  // 113
    {"Diagonal sweep from top left bottom right anticlockwise", DiagonalSweepFromTopLeftBottomRightAnticlockwise},  // 114
    {"Diagonal sweep from top left bottom right clockwise", DiagonalSweepFromTopLeftBottomRightClockwise},  // 115
    {"Starburst clockwise from center", StarburstClockwiseFromCenter},  // 116
    {"Starburst anticlockwise from center", StarburstAnticlockwiseFromCenter},  // 117
    {"Triangular shred", TriangularShred},  // 118
    {"Fade", Fade},  // 119
    {"Pivot from top left", PivotFromTopLeft},  // 120
    {"Pivot from bottom left", PivotFromBottomLeft},  // 121
    {"Pivot from top right", PivotFromTopRight},  // 122
    {"Pivot from bottom right", PivotFromBottomRight},  // 123
    {"Speckle appear from right", SpeckleAppearFromRight},  // 124
    {"Speckle appear from left", SpeckleAppearFromLeft},  // 125
    {"Speckle appear from bottom", SpeckleAppearFromBottom},  // 126
    {"Speckle appear from top", SpeckleAppearFromTop},  // 127
    {"Random squares appear", RandomSquaresAppear},  // 128
    {"Push right", PushRight},  // 129
    {"Push left", PushLeft},  // 130
    {"Push and squeeze right", PushAndSqueezeRight},  // 131
    {"Push and squeeze left", PushAndSqueezeLeft},  // 132
    {"Push down", PushDown},  // 133
    {"Push up", PushUp},  // 134
    {"Push and sqeeze down", PushAndSqeezeDown},  // 135
    {"Push and sqeeze up", PushAndSqeezeUp},  // 136
    {"Blind vertically", BlindVertically},  // 137
    {"Blind horizontally", BlindHorizontally},  // 138
    {"Uneven blind from left", UnevenBlindFromLeft},  // 139
    {"Uneven blind from right", UnevenBlindFromRight},  // 140
    {"Uneven blind from top", UnevenBlindFromTop},  // 141
    {"Uneven blind from bottom", UnevenBlindFromBottom},  // 142
    {"Rectangular shred", RectangularShred},  // 143
    {"Sweep clockwise", SweepClockwise},  // 144
    {"Sweep anticlockwise", SweepAnticlockwise},  // 145
    {"Rectangles apear from left and disapear to right", RectanglesApearFromLeftAndDisapearToRight},  // 146
    {"Rectangles apear from right and disapear to left", RectanglesApearFromRightAndDisapearToLeft},  // 147
    {"Rectangles apear from up and disapear to bottom", RectanglesApearFromUpAndDisapearToBottom},  // 148
    {"Rectangles apear from bottom and disapear to up", RectanglesApearFromBottomAndDisapearToUp},  // 149
    {"Rotational rectangle in center", RotationalRectangleInCenter},  // 150
    {"Rotational star in center", RotationalStarInCenter},  // 151
    {"Spiral rectangle", SpiralRectangle},  // 152
    {"Circular shred", CircularShred},  // 153
    {"Reveal V from left", RevealVFromLeft},  // 154
    {"Reveal V from right", RevealVFromRight},  // 155
    {"Reveal V from top", RevealVFromTop},  // 156
    {"Reveal V from bottom", RevealVFromBottom},  // 157
    {"Bow Tie Horizontal", BowTieHorizontal},  // 158
    {"Bow Tie Vertical", BowTieVertical},  // 159
    {"Diagonal Cross In", DiagonalCrossIn},  // 160
    {"Diagonal Cross Out", DiagonalCrossOut},  // 161
    {"Zigzag Horizontal", ZigzagHorizontal},  // 162
    {"Zigzag Vertical", ZigzagVertical},  // 163
    {"Diamond shred", DiamondShred},  // 164
    {"Reveal diamond out from centre", RevealDiamondOutFromCentre},  // 165
    {"Reveal diamond in to centre", RevealDiamondInToCentre},  // 166
    {"Diagonal Box Out", DiagonalBoxOut},  // 167
    {"Pixelate", Pixelate},  // 168
    {"Dissolve", Dissolve},  // 169
    {"Random Bars Horizontal", RandomBarsHorizontal},  // 170
    {"Random Bars Vertical", RandomBarsVertical},  // 171
    {"Channel Mix", ChannelMix},  // 172
    {"Slide out from right", SlideOutFromRight},  // 173
    {"Slide out from left", SlideOutFromLeft},  // 174
    {"Slide out from bottom", SlideOutFromBottom},  // 175
    {"Slide out from top", SlideOutFromTop},  // 176
}};

}  // namespace lumivor
