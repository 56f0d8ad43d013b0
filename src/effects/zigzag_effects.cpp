// Zigzag transitions: a band around the middle line whose two edges zigzag in step, thickening
// with progress until it fills the frame.
#include <array>

#include "raster/arith.h"
#include "effects/effect_procs.h"
#include "effects/mask.h"

namespace {

using lumivor::Point;

// Twelve points along each edge. The band ends after 11 steps of a tenth of the frame (rounded
// down), which reaches the far edge of any frame at least 90 pixels long; on smaller frames the
// far end stays old until the transition's last frame.
constexpr int ZigzagSteps = 12;

struct ZigzagBand {
  int Middle;         // cy, or cx for the vertical band
  int Amplitude;      // a
  int Step;           // s
  int HalfThickness;  // o
};

// The outline as (along, across) pairs, which is (x, y) for the horizontal band; the vertical
// band swaps them. Both edges zigzag in step so the band is 2o thick at every corner.
std::array<Point, 2 * ZigzagSteps> ZigzagOutline(const ZigzagBand& z) {
  std::array<Point, 2 * ZigzagSteps> points;
  const int a = z.Amplitude, o = z.HalfThickness, m = z.Middle;
  for (int k = 0; k < ZigzagSteps; ++k) points[k] = {k * z.Step, k % 2 == 0 ? m + a - o : m - a - o};
  for (int k = ZigzagSteps - 1, i = ZigzagSteps; k >= 0; --k, ++i)
    points[i] = {k * z.Step, k % 2 == 0 ? m + a + o : m - a + o};
  return points;
}

}  // namespace

namespace lumivor::transitions {

void ZigzagHorizontal(Bitmap& Dest, const Bitmap& Source, int W, int H, int, int h, int p) {
  const int a = H / 10;
  const auto points = ZigzagOutline({H / 2, a, W / 10, MulDiv(a, p, 100) + h / 2});
  MaskedCopy(Dest, Source, PolygonMask(W, H, points));
}

void ZigzagVertical(Bitmap& Dest, const Bitmap& Source, int W, int H, int w, int, int p) {
  const int a = W / 10;
  auto points = ZigzagOutline({W / 2, a, H / 10, MulDiv(a, p, 100) + w / 2});
  for (Point& pt : points) pt = {pt.Y, pt.X};
  MaskedCopy(Dest, Source, PolygonMask(W, H, points));
}

}  // namespace lumivor::transitions
