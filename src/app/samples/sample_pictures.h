// Two pictures the program draws itself, so that a transition can be shown without any photo at
// hand. They differ in every region (colours, shapes, brightness), so that at any progress a
// person can tell which pixels show which picture.
#pragma once

#include "raster/raster.h"

namespace lumivor {

enum class SamplePicture {
  Landscape,  // sky, sun, mountains and green hills
  Pattern,    // a bright checkerboard with a big white letter B
};

// A 32-bit picture of the given size (sizes below 1 are taken as 1), fourth byte 0.
Bitmap MakeSamplePicture(SamplePicture which, int width, int height);

}  // namespace lumivor
