// The stretch and blend loops take different routes by ratio, direction, depth and overlap (plain
// row copies, repeated rows, runs of equal steps, an index table, in-place row orders). Each route
// is checked here against the plain definition, pixel by pixel.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>

#include "effect_test_support.h"
#include "raster/raster.h"

namespace lumivor {
namespace {

// Every pixel different from its neighbours, and from the other picture's, at every depth.
Bitmap MakePattern(int width, int height, int bitsPerPixel, std::uint32_t salt) {
  Bitmap b(width, height, bitsPerPixel);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      std::uint32_t v = (static_cast<std::uint32_t>(x) * 2654435761u) ^ (static_cast<std::uint32_t>(y) * 40503u) ^ salt;
      v ^= v >> 13;
      b.SetPixel(x, y, v * 2246822519u);
    }
  return b;
}

// The definition: destination column dx + k (dx - k when dw < 0) shows source column
// sx + k * |sw| / |dw| (sx - ... when sw < 0), rows alike; only pixels inside both pictures.
Bitmap ReferenceStretch(const Bitmap& into, int dx, int dy, int dw, int dh, const Bitmap& from, int sx, int sy, int sw,
                        int sh) {
  Bitmap out;
  out.Assign(into);
  if (dw == 0 || dh == 0 || sw == 0 || sh == 0) return out;
  for (long long j = 0; j < std::llabs(dh); ++j)
    for (long long i = 0; i < std::llabs(dw); ++i) {
      const long long x = dw > 0 ? dx + i : dx - i, y = dh > 0 ? dy + j : dy - j;
      const long long u = sw > 0 ? sx + i * std::llabs(sw) / std::llabs(dw) : sx - i * std::llabs(sw) / std::llabs(dw);
      const long long v = sh > 0 ? sy + j * std::llabs(sh) / std::llabs(dh) : sy - j * std::llabs(sh) / std::llabs(dh);
      if (x < 0 || y < 0 || x >= out.Width() || y >= out.Height()) continue;
      if (u < 0 || v < 0 || u >= from.Width() || v >= from.Height()) continue;
      out.SetPixel(static_cast<int>(x), static_cast<int>(y), from.Pixel(static_cast<int>(u), static_cast<int>(v)));
    }
  return out;
}

struct StretchCase {
  const char* what;
  int dx, dy, dw, dh, sx, sy, sw, sh;
};

// The destination picture is 97x41 (a width that is no multiple of the vector widths), the source
// 83x37.
const StretchCase StretchCases[] = {
    {"same size", 0, 0, 83, 37, 0, 0, 83, 37},
    {"same size, shifted and clipped", 30, -5, 83, 37, 0, 0, 83, 37},
    {"exact halving", 1, 2, 41, 18, 0, 0, 82, 36},
    {"exact third", 0, 0, 27, 12, 1, 1, 81, 36},
    {"shrink by 9/10 (long runs with a skip)", 0, 0, 74, 33, 0, 0, 83, 37},
    {"shrink by 3/5 (alternating steps)", 5, 3, 49, 22, 1, 0, 82, 37},
    {"shrink by 7/4 ratio steps of 1 and 2", 0, 0, 48, 37, 0, 0, 83, 37},
    {"magnify by 2", 0, 0, 97, 41, 10, 10, 49, 21},
    {"magnify by 3 with the start clipped", -20, -9, 150, 66, 0, 0, 50, 22},
    {"magnify by 5 (build-up strip)", 16, 0, 81, 41, 8, 0, 16, 37},
    {"magnify by 11/10", 0, 0, 97, 41, 0, 0, 88, 37},
    {"magnify a few pixels onto the whole frame", -30, -40, 200, 120, 40, 15, 3, 2},
    {"one source column", 0, 0, 97, 41, 5, 5, 1, 1},
    {"mirror left-right, same size", 82, 0, -83, 37, 0, 0, 83, 37},
    {"mirror left-right through the source", 0, 0, 83, 37, 82, 0, -83, 37},
    {"mirror both ways while shrinking", 96, 40, -60, -30, 0, 0, 83, 37},
    {"mirror top-bottom while magnifying", 0, 40, 97, -41, 0, 0, 40, 20},
    {"mirrored strip beside a copy", 50, 0, -17, 41, 51, 0, 17, 37},
    {"source partly outside the picture", 0, 0, 97, 41, -10, -5, 100, 45},
    {"destination wholly outside", 200, 0, 50, 20, 0, 0, 50, 20},
    {"zero size", 0, 0, 0, 41, 0, 0, 83, 37},
};

TEST(RasterFastPaths, StretchRectMatchesTheDefinitionAtEveryDepth) {
  for (const int depth : {32, 24, 16, 8}) {
    for (const StretchCase& c : StretchCases) {
      SCOPED_TRACE(::testing::Message() << c.what << " at " << depth << " bits");
      const Bitmap source = MakePattern(83, 37, depth, 0x5A5A0000u);
      Bitmap frame = MakePattern(97, 41, depth, 0x00C3C3C3u);
      const Bitmap expected = ReferenceStretch(frame, c.dx, c.dy, c.dw, c.dh, source, c.sx, c.sy, c.sw, c.sh);
      StretchRect(frame, c.dx, c.dy, c.dw, c.dh, source, c.sx, c.sy, c.sw, c.sh);
      EXPECT_EQ(testing::DifferenceOf(frame, expected), "");
    }
  }
}

// Within one picture the result must be as if the source rectangle had been read first, whichever
// way the rows and columns move: rows that read rows below, above, themselves, or both ways.
TEST(RasterFastPaths, StretchRectOntoItselfMatchesReadingFirst) {
  const StretchCase cases[] = {
      {"squeeze into the right part", 20, 0, 77, 41, 0, 0, 97, 41},
      {"squeeze into the left part", 0, 0, 77, 41, 0, 0, 97, 41},
      {"squeeze down", 0, 10, 97, 31, 0, 0, 97, 41},
      {"squeeze up", 0, 0, 97, 31, 0, 0, 97, 41},
      {"squeeze towards the bottom right", 30, 12, 67, 29, 0, 0, 97, 41},
      {"magnify the middle over everything", 0, 0, 97, 41, 30, 10, 40, 20},
      {"magnify a corner past the edges", -10, -6, 160, 70, 2, 2, 30, 12},
      {"move a block down and right", 5, 4, 60, 30, 0, 0, 60, 30},
      {"move a block up and left", 0, 0, 60, 30, 7, 9, 60, 30},
      {"move along the rows only", 11, 0, 80, 41, 0, 0, 80, 41},
      {"flip top-bottom onto itself", 0, 40, 97, -41, 0, 0, 97, 41},
      {"mirror left-right onto itself", 96, 0, -97, 41, 0, 0, 97, 41},
      {"mirror a strip next to itself", 40, 0, -20, 41, 41, 0, 20, 41},
      {"stretch rows only, in place", 0, 0, 97, 41, 0, 0, 60, 41},
      {"identical rectangle", 0, 0, 97, 41, 0, 0, 97, 41},
  };
  for (const int depth : {32, 24}) {
    for (const StretchCase& c : cases) {
      SCOPED_TRACE(::testing::Message() << c.what << " at " << depth << " bits");
      Bitmap picture = MakePattern(97, 41, depth, 0x12345678u);
      Bitmap before;
      before.Assign(picture);
      const Bitmap expected = ReferenceStretch(picture, c.dx, c.dy, c.dw, c.dh, before, c.sx, c.sy, c.sw, c.sh);
      StretchRect(picture, c.dx, c.dy, c.dw, c.dh, picture, c.sx, c.sy, c.sw, c.sh);
      EXPECT_EQ(testing::DifferenceOf(picture, expected), "");
    }
  }
}

// D.c + floor((S.c - D.c) * a / 256) on blue, green and red, the fourth byte kept, for every
// weight, over areas whose widths leave every possible remainder after the vector loops.
TEST(RasterFastPaths, BlendPixelsMatchesTheDefinitionForEveryWeightAndWidth) {
  for (const int depth : {32, 24}) {
    const Bitmap to = MakePattern(1100, 3, depth, 0x0BADF00Du);
    const Bitmap from = MakePattern(1100, 3, depth, 0x600DCAFEu);
    for (int weight = -1; weight <= 257; ++weight) {
      const Rect area{weight % 23, 0, 1100 - weight % 17, 3};
      Bitmap d;
      d.Assign(to);
      BlendPixels(d, from, weight, area);
      const int a = weight < 0 ? 0 : weight > 256 ? 256 : weight;
      for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 1100; ++x) {
          const std::uint32_t was = to.Pixel(x, y), arriving = from.Pixel(x, y);
          std::uint32_t want = was;
          if (x >= area.Left && x < area.Right) {
            want = depth == 32 ? was & 0xFF000000u : 0;
            for (int shift = 0; shift < 24; shift += 8) {
              const int dc = (was >> shift) & 0xFF, sc = (arriving >> shift) & 0xFF;
              want |= static_cast<std::uint32_t>(dc + ((sc - dc) * a >> 8)) << shift;
            }
          }
          ASSERT_EQ(d.Pixel(x, y), want) << "weight " << weight << " at " << x << "," << y << ", " << depth << " bits";
        }
    }
  }
}

}  // namespace
}  // namespace lumivor
