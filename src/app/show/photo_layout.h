// How a photo is laid into the frame: fitted on black, filling the frame with the overflow cut
// off, or fitted over a blurred copy of itself that fills the frame. Every mode scales through a
// filter that averages, so a photo several times the frame's size does not alias; fit can keep the
// old whole-pixel stretch on request.
#pragma once

#include <optional>
#include <string_view>

#include "raster/picture_scale.h"
#include "raster/raster.h"

namespace lumivor {

enum class ScreenMode { Fit, Fill, Blur };

// "fit", "fill" or "blur" (exactly, lower case); nothing for any other text.
std::optional<ScreenMode> ParseScreenMode(std::string_view text);
std::string_view ScreenModeName(ScreenMode mode);

// The centred part of a picture with the frame's shape: what fill shows of it.
SourceArea FillArea(int pictureWidth, int pictureHeight, int frameWidth, int frameHeight);

// Fills frame (32-bit, already sized) with the photo laid out by mode.
// Fit scales by scaler; fill and blur, which crop or blur anyway, are always smooth.
void LayOutPhoto(Bitmap& frame, const Bitmap& photo, ScreenMode mode, PictureScaler scaler = PictureScaler::Smooth);

}  // namespace lumivor
