// A contact sheet: one row of frames per transition at a few fixed progress values, each row
// labelled with the transition's number, for a person to look through all of them at once.
#pragma once

#include <string>
#include <vector>

#include "effects/raster.h"

namespace lumivor::cli {

// The progress of each column, left to right.
inline constexpr int ContactSheetProgress[] = {10, 25, 50, 75, 90};

// oldPicture and newPicture are 32-bit and of one size, which is the size of every cell; effects
// are numbers 1..EffectCount in the order of the rows. Every frame is composed with the given
// seeds, the way the command composes a single frame.
bool RenderContactSheet(const Bitmap& oldPicture, const Bitmap& newPicture, const std::vector<int>& effects,
                        std::uint32_t randomSeed, Bitmap& sheet, std::string& errorText);

}  // namespace lumivor::cli
