// Pixelate: zoom in on the old picture until its pixels are blocks, cross-blend, zoom out of the new.
#include "raster/arith.h"
#include "effects/effect_procs.h"

namespace lumivor::transitions {

namespace {

// The part of [start, start + size) that the picture's extent [0, limit) can supply, keeping the
// size where possible. Only degenerate frames (a few pixels wide or high) get here with a run
// that leaves the picture: the minimum of two source lines then sticks out past the far edge.
void keep_inside(int& start, int& size, int limit) {
  if (size > limit) size = limit;
  if (start > limit - size) start = limit - size;
  if (start < 0) start = 0;
}

// The rectangle (x0, y0, bw, bh) of Dest blended towards Source by percent.
void BlendRect(Bitmap& Dest, const Bitmap& Source, int percent, int x0, int y0, int bw, int bh) {
  const Rect frame{0, 0, Dest.Width(), Dest.Height()};
  Rect area{x0, y0, x0 + bw, y0 + bh};
  if (area.Left < frame.Left) area.Left = frame.Left;
  if (area.Top < frame.Top) area.Top = frame.Top;
  if (area.Right > frame.Right) area.Right = frame.Right;
  if (area.Bottom > frame.Bottom) area.Bottom = frame.Bottom;
  if (area.IsEmpty()) return;
  BlendPixels(Dest, Source, MulDiv(256, percent, 100), area);
}

}  // namespace

void Pixelate(Bitmap& Dest, const Bitmap& Source, int FrameWidth, int FrameHeight, int ProgressWidth,
              int ProgressHeight, int Progress) {
  const bool zoomingIn = Progress <= 50;
  const int bx = zoomingIn ? ProgressWidth : FrameWidth - ProgressWidth;
  const int by = zoomingIn ? ProgressHeight : FrameHeight - ProgressHeight;
  const int z = zoomingIn ? 180 - MulDiv(Progress, 82, 50) : 180 + MulDiv(Progress - 100, 82, 50);
  const Bitmap* magnified = zoomingIn ? &Dest : &Source;

  const int x0 = MulDiv(bx, z, 100);
  const int y0 = MulDiv(by, z, 100);
  int sx = x0;
  int sy = y0;
  int sw = FrameWidth - 2 * x0;
  int sh = FrameHeight - 2 * y0;
  if (sw <= 2) sw = 2;
  if (sh <= 2) sh = 2;
  keep_inside(sx, sw, FrameWidth);
  keep_inside(sy, sh, FrameHeight);

  if (Progress >= 41 && Progress <= 59) {
    BlendRect(Dest, Source, 5 * Progress - 200, sx, sy, sw, sh);
    magnified = &Dest;
  }
  StretchRect(Dest, -2 * x0, -2 * y0, FrameWidth + 4 * x0, FrameHeight + 4 * y0, *magnified, sx, sy, sw, sh);
}

}  // namespace lumivor::transitions
