// Rows with many short runs: the combinations walk two run lists side by side and the masked copy
// takes short runs in fixed-size pieces. Both are checked pixel by pixel against plain logic.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "effects/mask.h"
#include "raster/raster.h"

namespace lumivor {
namespace {

Mask RandomBars(int width, int height, std::mt19937& generator, int count) {
  TComplexRegion region;
  for (int i = 0; i < count; ++i) {
    const int x = static_cast<int>(generator() % (width + 4)) - 2, y = static_cast<int>(generator() % (height + 4)) - 2;
    // Thin columns, thin rows and small specks, as bars, shreds and speckles make them.
    switch (i % 3) {
      case 0: region.AddRect(x, y - 30, x + 1 + static_cast<int>(generator() % 3), y + 30); break;
      case 1: region.AddRect(x - 40, y, x + 40, y + 1 + static_cast<int>(generator() % 2)); break;
      default: region.AddRect(x, y, x + 2, y + 2); break;
    }
  }
  return region.MakeRegion(width, height);
}

TEST(MaskRuns, CombinationsOfManyRunsPerRowAgreeWithPixelLogic) {
  std::mt19937 generator(77031);
  for (const int count : {0, 1, 40, 400}) {
    SCOPED_TRACE(count);
    const Mask a = RandomBars(97, 41, generator, count), b = RandomBars(97, 41, generator, 400 - count);
    const Mask u = a | b, i = a & b, x = a ^ b;
    for (int y = 0; y < 41; ++y) {
      for (int xx = 0; xx < 97; ++xx) {
        const bool inA = a.Contains(xx, y), inB = b.Contains(xx, y);
        ASSERT_EQ(u.Contains(xx, y), inA || inB) << xx << "," << y;
        ASSERT_EQ(i.Contains(xx, y), inA && inB) << xx << "," << y;
        ASSERT_EQ(x.Contains(xx, y), inA != inB) << xx << "," << y;
      }
      // Runs stay sorted and apart (touching runs are joined) in every result.
      for (const Mask* m : {&u, &i, &x}) {
        const auto row = m->Row(y);
        for (std::size_t k = 1; k < row.size(); ++k) ASSERT_LT(row[k - 1].Right, row[k].Left);
      }
    }
  }
}

// Row y holds runs y + 1 pixels long, one to three pixels apart: every length from one pixel to
// past the piece sizes, at every depth, ends exactly where the run ends.
TEST(MaskRuns, MaskedCopyCopiesRunsOfEveryLength) {
  constexpr int Width = 211, Height = 40;
  MaskBuilder builder(Width, Height);
  for (int y = 0; y < Height; ++y)
    for (int x = y % 3, gap = 1; x < Width; x += y + 1 + gap, gap = gap % 3 + 1) builder.AddSpan(y, x, x + y + 1);
  const Mask mask = builder.Build();
  for (const int depth : {32, 24, 16, 8}) {
    SCOPED_TRACE(depth);
    Bitmap frame(Width, Height, depth), arriving(Width, Height, depth);
    for (int y = 0; y < Height; ++y)
      for (int x = 0; x < Width; ++x) {
        frame.SetPixel(x, y, 0x11111111u * static_cast<std::uint32_t>((x + y) % 7 + 1));
        arriving.SetPixel(x, y, 0x80402010u + static_cast<std::uint32_t>(x * 0x010203 + y * 0x030201));
      }
    Bitmap was;
    was.Assign(frame);
    MaskedCopy(frame, arriving, mask);
    for (int y = 0; y < Height; ++y)
      for (int x = 0; x < Width; ++x)
        ASSERT_EQ(frame.Pixel(x, y), (mask.Contains(x, y) ? arriving : was).Pixel(x, y)) << x << "," << y;
  }
}

}  // namespace
}  // namespace lumivor
