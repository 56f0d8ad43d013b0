// Helpers shared by the rectangle transitions.
#pragma once

#include "raster/raster.h"

namespace lumivor::transitions {

// The shading of a rolled-up strip: blue, green and red of the columns firstColumn ..
// firstColumn + width - 1, on every row, are offset by a profile that is -amount at the strip's
// edges and rises towards 0 in its middle, clamped to 0..255. Strips narrower than two columns and
// a zero amount leave the picture unchanged.
void ShadeColumns(Bitmap& picture, int amount, int firstColumn, int width);

// The same profile across the rows firstRow .. firstRow + height - 1, built from the strip's
// bottom row upwards.
void ShadeRows(Bitmap& picture, int amount, int firstRow, int height);

}  // namespace lumivor::transitions
