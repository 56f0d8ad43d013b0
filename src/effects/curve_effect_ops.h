// Shape helpers of the sweeping and rotating transitions.
#pragma once

#include <span>

#include "effects/mask.h"
#include "raster/raster.h"

namespace lumivor::transitions {

// A sector about (CX, CY) approximated by the polygon of the centre and Count points on the circle
// of radius R, the first at angle Start and each next one (End - Start) / Count further on. The
// last point therefore stops one step short of End, which is what makes a clock sweep empty at its
// first frame. Angles are in radians with y pointing down, so growing angles turn clockwise on the
// screen. A Count below 1 gives an empty mask.
Mask FanMask(int frameWidth, int frameHeight, int CX, int CY, int R, long double Start, long double End, int Count);

// Turns every point about (CX, CY) by Theta radians in place, rounding each result to the nearest
// pixel (ties to even). A positive Theta turns clockwise on the screen.
void RotatePoints(std::span<Point> points, int CX, int CY, long double Theta);

}  // namespace lumivor::transitions
