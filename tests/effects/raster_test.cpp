#include <gtest/gtest.h>

#include <cstdint>

#include "effect_test_support.h"
#include "raster/raster.h"

namespace lumivor {
namespace {

using testing::MakeNewPicture;
using testing::MakeOldPicture;

// The straightforward definition of a same-picture copy: read everything, then write.
Bitmap ReferenceCopy(const Bitmap& picture, int dx, int dy, int cw, int ch, int sx, int sy) {
  Bitmap out;
  out.Assign(picture);
  for (int j = 0; j < ch; ++j)
    for (int i = 0; i < cw; ++i) {
      const int x = dx + i, y = dy + j, u = sx + i, v = sy + j;
      if (x < 0 || y < 0 || x >= out.Width() || y >= out.Height()) continue;
      if (u < 0 || v < 0 || u >= picture.Width() || v >= picture.Height()) continue;
      out.SetPixel(x, y, picture.Pixel(u, v));
    }
  return out;
}

TEST(Raster, RowsAreStoredBottomUpAndPaddedToFourBytes) {
  Bitmap b(3, 2, 24);
  EXPECT_EQ(b.Stride(), 12);
  b.SetPixel(0, 1, 0x00ABCDEF);  // bottom row of the frame
  EXPECT_EQ(b.Bits()[0], 0xEF);
  EXPECT_EQ(b.Bits()[2], 0xAB);
  EXPECT_EQ(Bitmap(5, 1, 8).Stride(), 8);
  EXPECT_EQ(Bitmap(3, 1, 16).Stride(), 8);
}

TEST(Raster, CopyRectMatchesReadThenWriteForOverlapsAndClipping) {
  struct Case {
    const char* what;
    int dx, dy, cw, ch, sx, sy;
  };
  const Case cases[] = {
      {"move down and right", 3, 2, 10, 8, 0, 0},   {"move up and left", 0, 0, 10, 8, 3, 2},
      {"move down only", 0, 1, 13, 9, 0, 0},        {"move up only", 0, 0, 13, 9, 0, 1},
      {"move right within rows", 1, 0, 12, 10, 0, 0}, {"move left within rows", 0, 0, 12, 10, 1, 0},
      {"destination off the left and top", -4, -3, 13, 10, 0, 0},
      {"destination off the right and bottom", 8, 6, 13, 10, 0, 0},
      {"source partly outside", 0, 0, 13, 10, -5, -2}, {"zero width", 0, 0, 0, 10, 1, 1},
      {"negative height", 0, 0, 5, -3, 1, 1},       {"entirely outside", 20, 0, 5, 5, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Bitmap picture = MakeOldPicture(13, 10);
    const Bitmap expected = ReferenceCopy(picture, c.dx, c.dy, c.cw, c.ch, c.sx, c.sy);
    CopyRect(picture, c.dx, c.dy, c.cw, c.ch, picture, c.sx, c.sy);
    EXPECT_TRUE(testing::SamePixels(picture, expected));
  }
}

TEST(Raster, StretchRectSamplesNearestAndMirrors) {
  const Bitmap source = MakeNewPicture(8, 4);
  struct Case {
    const char* what;
    int dx, dy, dw, dh, sx, sy, sw, sh;
    int probeX, probeY;  // a destination pixel
    int wantX, wantY;    // the source pixel it must show; -1: untouched
  };
  const Case cases[] = {
      {"double size", 0, 0, 16, 8, 0, 0, 8, 4, 3, 5, 1, 2},
      {"half size drops lines", 0, 0, 4, 2, 0, 0, 8, 4, 3, 1, 6, 2},
      {"mirror left-right: column dx shows sx", 7, 0, -8, 4, 0, 0, 8, 4, 7, 0, 0, 0},
      {"mirror left-right far end", 7, 0, -8, 4, 0, 0, 8, 4, 0, 0, 7, 0},
      {"mirror top-bottom", 0, 3, 8, -4, 0, 0, 8, 4, 2, 3, 2, 0},
      {"mirror both", 7, 3, -8, -4, 0, 0, 8, 4, 6, 1, 1, 2},
      {"zero destination width draws nothing", 0, 0, 0, 4, 0, 0, 8, 4, 0, 0, -1, -1},
      {"clipped destination", -8, 0, 16, 4, 0, 0, 8, 4, 0, 0, 4, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Bitmap frame = MakeOldPicture(16, 8);
    StretchRect(frame, c.dx, c.dy, c.dw, c.dh, source, c.sx, c.sy, c.sw, c.sh);
    if (c.wantX < 0) {
      EXPECT_TRUE(testing::IsOld(frame, c.probeX, c.probeY));
    } else {
      ASSERT_TRUE(testing::IsNew(frame, c.probeX, c.probeY));
      EXPECT_EQ(testing::OriginOf(frame, c.probeX, c.probeY), (Point{c.wantX, c.wantY}));
    }
  }
}

TEST(Raster, StretchRectOntoItselfReadsTheSourceFirst) {
  Bitmap picture = MakeOldPicture(20, 12);
  Bitmap copy;
  copy.Assign(picture);
  Bitmap expected = MakeOldPicture(20, 12);
  // Squeeze the picture into its right part, then magnify a corner over everything.
  StretchRect(expected, 5, 0, 15, 12, copy, 0, 0, 20, 12);
  StretchRect(picture, 5, 0, 15, 12, picture, 0, 0, 20, 12);
  EXPECT_TRUE(testing::SamePixels(picture, expected));

  copy.Assign(picture);
  StretchRect(expected, -10, -6, 40, 24, copy, 2, 2, 6, 4);
  StretchRect(picture, -10, -6, 40, 24, picture, 2, 2, 6, 4);
  EXPECT_TRUE(testing::SamePixels(picture, expected));
}

TEST(Raster, BlendPixelsFloorsTowardMinusInfinityAndKeepsTheFourthByte) {
  struct Case {
    std::uint8_t oldValue, newValue;
    int weight;
    std::uint8_t want;
  };
  const Case cases[] = {{200, 100, 128, 150}, {0, 255, 128, 127}, {10, 0, 1, 9}, {0, 255, 256, 255}, {77, 3, 0, 77}};
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << int(c.oldValue) << " -> " << int(c.newValue) << " at " << c.weight);
    Bitmap d(1, 1), s(1, 1);
    d.SetPixel(0, 0, 0x11000000u | c.oldValue | (c.oldValue << 8) | (c.oldValue << 16));
    s.SetPixel(0, 0, 0xEE000000u | c.newValue | (c.newValue << 8) | (c.newValue << 16));
    BlendPixels(d, s, c.weight);
    const std::uint32_t v = d.Pixel(0, 0);
    EXPECT_EQ(v & 0xFF, c.want);
    EXPECT_EQ((v >> 16) & 0xFF, c.want);
    EXPECT_EQ(v >> 24, 0x11u);
  }
}

TEST(Raster, BlendPixelsOverARectangleTouchesOnlyIt) {
  Bitmap d = MakeOldPicture(10, 10);
  const Bitmap s = MakeNewPicture(10, 10);
  const Bitmap old = MakeOldPicture(10, 10);
  BlendPixels(d, s, 256, Rect{2, 3, 5, 7});
  for (int y = 0; y < 10; ++y)
    for (int x = 0; x < 10; ++x) {
      const bool inside = x >= 2 && x < 5 && y >= 3 && y < 7;
      // Full weight copies the colour; the fourth byte stays the old picture's.
      EXPECT_EQ(d.Pixel(x, y) & 0xFFFFFF, (inside ? s : old).Pixel(x, y) & 0xFFFFFF) << x << "," << y;
    }
}

}  // namespace
}  // namespace lumivor
