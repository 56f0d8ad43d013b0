// Diagonal transitions: right triangles growing from the corners, arrowheads meeting between the
// diagonals, and the diamond ring through the edge midpoints.
#include "effects/effect_procs.h"
#include "effects/polygon_effect_ops.h"

namespace lumivor::transitions {

using polygon_ops::Frame;
using polygon_ops::Polygon;
using polygon_ops::RevealUnion;
using polygon_ops::RevealXor;
using polygon_ops::Triangle;

// The hypotenuse reaches the two neighbouring corners at p = 50.
void RevealDiagonalFromTopLeft(Bitmap& Dest, const Bitmap& Source, int W, int H, int w, int h, int) {
  RevealUnion(Dest, Source, W, H, {Triangle({0, 0}, {2 * w, 0}, {0, 2 * h})});
}

void RevealDiagonalFromTopRight(Bitmap& Dest, const Bitmap& Source, int W, int H, int w, int h, int) {
  RevealUnion(Dest, Source, W, H, {Triangle({W, 0}, {W - 2 * w, 0}, {W, 2 * h})});
}

void RevealDiagonalFromBottomLeft(Bitmap& Dest, const Bitmap& Source, int W, int H, int w, int h, int) {
  RevealUnion(Dest, Source, W, H, {Triangle({0, H}, {2 * w, H}, {0, H - 2 * h})});
}

void RevealDiagonalFromBottomRight(Bitmap& Dest, const Bitmap& Source, int W, int H, int w, int h, int) {
  RevealUnion(Dest, Source, W, H, {Triangle({W, H}, {W - 2 * w, H}, {W, H - 2 * h})});
}

// Four arrowheads from the edge midpoints that fill the four triangles between the diagonals.
void DiagonalCrossIn(Bitmap& Dest, const Bitmap& Source, int W, int H, int w, int h, int) {
  const int cx = W / 2, cy = H / 2, a = w / 2, b = h / 2;
  RevealUnion(Dest, Source, W, H,
              {Triangle({0, cy - b}, {a, cy}, {0, cy + b}), Triangle({W, cy - b}, {W - a, cy}, {W, cy + b}),
               Triangle({cx - a, 0}, {cx, b}, {cx + a, 0}), Triangle({cx - a, H}, {cx, H - b}, {cx + a, H})});
}

// The same four triangles shrinking, cut out of the frame: a cross along the diagonals widens.
// Each triangle stays inside its quarter between the diagonals, so the xor is a plain difference.
void DiagonalCrossOut(Bitmap& Dest, const Bitmap& Source, int W, int H, int w, int h, int) {
  const int cx = W / 2, cy = H / 2, A = (W - w) / 2, B = (H - h) / 2;
  RevealXor(Dest, Source, W, H,
            {Frame(W, H), Triangle({0, cy - B}, {A, cy}, {0, cy + B}), Triangle({W, cy - B}, {W - A, cy}, {W, cy + B}),
             Triangle({cx - A, 0}, {cx, B}, {cx + A, 0}), Triangle({cx - A, H}, {cx, H - B}, {cx + A, H})});
}

// A diamond ring around the diamond through the edge midpoints, widening both ways.
void DiagonalBoxOut(Bitmap& Dest, const Bitmap& Source, int W, int H, int w, int h, int) {
  const int cx = W / 2, cy = H / 2, a = w / 2, b = h / 2;
  RevealXor(Dest, Source, W, H,
            {Polygon({-a, cy}, {cx, -b}, {2 * cx + a, cy}, {cx, 2 * cy + b}),
             Polygon({a, cy}, {cx, b}, {2 * cx - a, cy}, {cx, 2 * cy - b})});
}

}  // namespace lumivor::transitions
