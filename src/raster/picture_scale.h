// Scaling a picture onto part of another: an area filter when shrinking, so that a photo several
// times the frame's size keeps its detail instead of aliasing into jagged edges and moire, and
// linear interpolation when enlarging, so that a small photo does not come out in blocks. Each
// photo is scaled once as it is laid out; the frames then only copy the result.
#pragma once

#include <optional>
#include <string_view>

#include "raster/raster.h"

namespace lumivor {

// How a fitted photo is scaled into the frame. Nearest keeps the whole-pixel stretch the slideshow
// used to make, byte for byte, for anyone who wants the frames they always had.
enum class PictureScaler { Smooth, Nearest };

// "smooth" or "nearest" (exactly, lower case); nothing for any other text.
std::optional<PictureScaler> ParsePictureScaler(std::string_view text);
std::string_view PictureScalerName(PictureScaler scaler);

// A part of a picture in picture pixels, fractions allowed: the scaler reads this area exactly.
struct SourceArea {
  double Left = 0;
  double Top = 0;
  double Width = 0;
  double Height = 0;
};

// Scales the area of source onto the rectangle of dest, both 32-bit: each destination pixel
// averages the source pixels it covers (weighted by coverage) when shrinking and interpolates
// linearly between the nearest two when enlarging, on each axis separately. Blue, green and red
// are combined as light (the sRGB curve undone, then applied again), so fine detail keeps the
// brightness it shows; the result is rounded to the nearest level, never truncated, and a flat
// colour keeps its exact level. The fourth byte is averaged as it stands. Only pixels inside dest
// are written; an empty area or rectangle draws nothing.
void ScaleArea(Bitmap& dest, const Rect& destRect, const Bitmap& source, const SourceArea& area);

}  // namespace lumivor
