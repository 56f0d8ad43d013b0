// Builders shared by the bar, criss-cross, shred, speckle, blind and moving-rectangle transitions.
// All of them describe their pieces as bands: a row is a full-width horizontal piece stacked along
// y and growing along x, a column the same turned a quarter, growing along y from the bottom where
// a row grows from the right. Writing each builder once in band terms and letting the axis swap
// the coordinates keeps the row and column variants from drifting apart.
#pragma once

#include "raster/arith.h"
#include "effects/mask.h"

namespace lumivor::transitions {

enum class BandAxis { Rows, Columns };

// A band's length runs along its growth (the frame width for rows) and its extent is the frame
// size across which the bands are stacked (the frame height for rows).
inline int BandLength(BandAxis axis, int W, int H) { return axis == BandAxis::Rows ? W : H; }
inline int BandExtent(BandAxis axis, int W, int H) { return axis == BandAxis::Rows ? H : W; }

// Adds the rectangle that lies from along0 to along1 on the band's length and from across0 to
// across1 across the stack, in frame coordinates of the given axis.
inline void AddBandRect(TComplexRegion& region, BandAxis axis, int along0, int across0, int along1, int across1) {
  if (axis == BandAxis::Rows)
    region.AddRect(along0, across0, along1, across1);
  else
    region.AddRect(across0, along0, across1, along1);
}

// A whole band, from across0 to across1, over the full length of the frame.
inline void AddFullBand(TComplexRegion& region, BandAxis axis, int W, int H, int across0, int across1) {
  AddBandRect(region, axis, 0, across0, BandLength(axis, W, H), across1);
}

// Slats of the given pitch, MulDiv(pitch, p, 100) thick, laid from the start of the frame's extent
// (x = 0 or y = 0) or back from its end. A zero pitch lays none: it would never advance.
inline void AddUnevenSlats(TComplexRegion& region, BandAxis axis, int W, int H, int pitch, int p, bool fromEnd) {
  if (pitch <= 0) return;
  const int extent = BandExtent(axis, W, H);
  const int a = MulDiv(pitch, p, 100);
  if (fromEnd) {
    for (int at = extent; at > 0; at -= pitch) AddFullBand(region, axis, W, H, at - a, at);
  } else {
    for (int at = 0; at < extent; at += pitch) AddFullBand(region, axis, W, H, at, at + a);
  }
}

// Interleaved bars: the even bands (thickness min(W, H) / 50 + 1) come in within the first W (or
// H) of reach, the odd bands within the second. Kind 0 leaves that axis out; see the effects for
// what kinds 1 to 5 do.
Mask BarsMask(int PX, int PY, int W, int H, int HorzKind, int VertKind);

}  // namespace lumivor::transitions
