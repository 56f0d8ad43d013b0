// Unroll: the new picture unrolls from an edge like a sheet of paper. Next to the part already
// unrolled lies the roll, a strip of width s that shows the following strip of the new picture
// mirrored and darkened towards its edges. W, H: frame size; w, h: progress size.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "effects/effect_procs.h"
#include "effects/rect_effect_ops.h"

namespace lumivor::transitions {

namespace {

// How dark the roll's edges get, in colour steps.
constexpr int RollShade = 64;

// A tenth of the frame, no wider than what is already unrolled, and narrowed near the end so
// that the roll and the strip it mirrors both fit in the frame.
int RollWidth(int frameSize, int progressSize) {
  int s = frameSize / 10;
  if (progressSize < s)
    s = progressSize;
  else if (frameSize - progressSize < 2 * s)
    s = (frameSize - progressSize) / 2;
  return s;
}

// The rolls from the right and from the bottom mirror the strip that starts one line beyond the
// roll's own width. When the roll has been narrowed to exactly fit, that strip would begin one
// line before the frame's edge; it is held at the edge instead, so that only picture lines are
// read and the roll's outer line does not keep the old picture.
int MirroredStripStart(int rollEnd, int s) { return std::max(0, rollEnd - 2 * s - 1); }

std::uint8_t Shaded(std::uint8_t value, int offset) {
  return static_cast<std::uint8_t>(std::clamp(value + offset, 0, 255));
}

void ShadeRow(std::uint8_t* pixel, int count, int bytesPerPixel, int offset) {
  for (int i = 0; i < count; ++i, pixel += bytesPerPixel) {
    pixel[0] = Shaded(pixel[0], offset);
    pixel[1] = Shaded(pixel[1], offset);
    pixel[2] = Shaded(pixel[2], offset);
  }
}

}  // namespace

void ShadeColumns(Bitmap& picture, int amount, int firstColumn, int width) {
  if (width < 2 || amount == 0) return;
  const int half = width / 2;

  std::vector<int> offsets(static_cast<std::size_t>(width));
  int v = -amount;
  if (amount > half) {
    int step = amount / half;
    for (int i = 1; i <= width; ++i) {
      offsets[i - 1] = v;
      v += step;
      if (i == half) step = -step;
    }
  } else {
    const int period = half / amount;
    int next = period;
    for (int i = 1; i <= width; ++i) {
      offsets[i - 1] = v;
      if (i == next) {
        next += period;
        v += i < half ? 1 : -1;
      }
    }
  }

  const int left = std::max(0, firstColumn);
  const int right = static_cast<int>(std::min<long long>(picture.Width(), static_cast<long long>(firstColumn) + width));
  if (left >= right) return;
  const int bytes = picture.BytesPerPixel();
  // Bottom-up memory order, as the pixel loops of every effect walk it.
  for (int y = picture.Height() - 1; y >= 0; --y) {
    std::uint8_t* pixel = picture.ScanLine(y) + left * bytes;
    for (int x = left; x < right; ++x, pixel += bytes) {
      const int offset = offsets[x - firstColumn];
      pixel[0] = Shaded(pixel[0], offset);
      pixel[1] = Shaded(pixel[1], offset);
      pixel[2] = Shaded(pixel[2], offset);
    }
  }
}

void ShadeRows(Bitmap& picture, int amount, int firstRow, int height) {
  if (height < 2 || amount == 0) return;
  const int half = height / 2;
  int every = 1;
  int delta = 1;
  if (half < amount)
    delta = amount / half;
  else
    every = half / amount;

  const int bytes = picture.BytesPerPixel();
  int f = -amount;
  int next = every;
  for (int r = 1; r <= height; ++r) {
    const long long y = static_cast<long long>(firstRow) + height - r;
    if (y >= 0 && y < picture.Height()) ShadeRow(picture.ScanLine(static_cast<int>(y)), picture.Width(), bytes, f);
    if (r == next) {
      f += r < half ? delta : -delta;
      next += every;
    }
  }
}

void UnrollFromLeft(Bitmap& Dest, const Bitmap& Source, int W, int H, int w, int, int) {
  const int s = RollWidth(W, w);
  StretchRect(Dest, w + s - 1, 0, -s, H, Source, w + s, 0, s, H);
  CopyRect(Dest, 0, 0, w, H, Source, 0, 0);
  ShadeColumns(Dest, RollShade, w, s);
}

void UnrollFromRight(Bitmap& Dest, const Bitmap& Source, int W, int H, int w, int, int) {
  const int s = RollWidth(W, w);
  const int x = W - w;
  StretchRect(Dest, x - 1, 0, -s, H, Source, MirroredStripStart(x, s), 0, s, H);
  CopyRect(Dest, x, 0, w, H, Source, x, 0);
  ShadeColumns(Dest, RollShade, x - s, s);
}

void UnrollFromTop(Bitmap& Dest, const Bitmap& Source, int W, int H, int, int h, int) {
  const int s = RollWidth(H, h);
  StretchRect(Dest, 0, h + s - 1, W, -s, Source, 0, h + s, W, s);
  CopyRect(Dest, 0, 0, W, h, Source, 0, 0);
  ShadeRows(Dest, RollShade, h, s);
}

void UnrollFromBottom(Bitmap& Dest, const Bitmap& Source, int W, int H, int, int h, int) {
  const int s = RollWidth(H, h);
  const int y = H - h;
  StretchRect(Dest, 0, y - 1, W, -s, Source, 0, MirroredStripStart(y, s), W, s);
  CopyRect(Dest, 0, y, W, h, Source, 0, y);
  ShadeRows(Dest, RollShade, y - s, s);
}

}  // namespace lumivor::transitions
