// How a photo is laid into the frame: fitted on black, filling the frame with the overflow cut
// off, or fitted over a blurred copy of itself that fills the frame. Fit keeps the whole-pixel
// scaling the slideshow always had, so its frames stay what they were; fill and blur, and every
// picture that is going to move, are scaled through a filter that averages, so a photo several
// times the frame's size does not alias.
#pragma once

#include <optional>
#include <string_view>

#include "raster/raster.h"

namespace lumivor {

enum class ScreenMode { Fit, Fill, Blur };

// "fit", "fill" or "blur" (exactly, lower case); nothing for any other text.
std::optional<ScreenMode> ParseScreenMode(std::string_view text);
std::string_view ScreenModeName(ScreenMode mode);

// A part of a picture in picture pixels, fractions allowed: the scaler reads this area exactly.
struct SourceArea {
  double Left = 0;
  double Top = 0;
  double Width = 0;
  double Height = 0;
};

// The centred part of a picture with the frame's shape: what fill shows of it.
SourceArea FillArea(int pictureWidth, int pictureHeight, int frameWidth, int frameHeight);

// Scales the area of source onto the rectangle of dest, both 32-bit: each destination pixel
// averages the source pixels it covers (weighted by coverage) when shrinking and interpolates
// linearly between the nearest two when enlarging, on each axis separately. Only pixels inside
// dest are written; an empty area or rectangle draws nothing.
void ScaleArea(Bitmap& dest, const Rect& destRect, const Bitmap& source, const SourceArea& area);

// Whether a fitted photo keeps the slideshow's whole-pixel scaling (the frames it always made) or
// is filtered like the other modes (for pictures that are going to move, where whole pixels would
// crawl).
enum class FitScaling { WholePixels, Filtered };

// Fills frame (32-bit, already sized) with the photo laid out by mode.
void LayOutPhoto(Bitmap& frame, const Bitmap& photo, ScreenMode mode,
                 FitScaling fitScaling = FitScaling::WholePixels);

}  // namespace lumivor
