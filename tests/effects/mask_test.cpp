#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <random>
#include <vector>

#include "effect_test_support.h"
#include "effects/mask.h"

namespace lumivor {
namespace {

std::int64_t CountWhere(int w, int h, const std::function<bool(int, int)>& inside) {
  std::int64_t n = 0;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) n += inside(x, y);
  return n;
}

TEST(Mask, EmptyShapesCopyNothing) {
  const Point line[] = {{0, 0}, {10, 10}, {20, 20}};
  const Point twoPoints[] = {{0, 0}, {10, 10}};
  TComplexRegion nothingAdded;
  TComplexRegion onlyInverted;
  onlyInverted.AddRect(10, 10, 5, 20);
  onlyInverted.AddRect(0, 0, 0, 30);
  const Mask cases[] = {
      RectMask(40, 30, {5, 5, 5, 20}),      RectMask(40, 30, {10, 10, 5, 20}), RectMask(40, 30, {50, 0, 60, 30}),
      PolygonMask(40, 30, line),            PolygonMask(40, 30, twoPoints),    EllipseMask(40, 30, {10, 10, 10, 20}),
      RoundRectMask(40, 30, {8, 8, 2, 2}, 4, 4), nothingAdded.MakeRegion(40, 30), onlyInverted.MakeRegion(40, 30),
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(i);
    EXPECT_TRUE(cases[i].IsEmpty());
    Bitmap frame = testing::MakeOldPicture(40, 30);
    MaskedCopy(frame, testing::MakeNewPicture(40, 30), cases[i]);
    EXPECT_EQ(testing::CountNew(frame), 0);
  }
}

TEST(Mask, RectanglesAreClippedToTheFrame) {
  const Mask m = RectMask(40, 30, {-10, 25, 5, 100});
  EXPECT_EQ(m.PixelCount(), 5 * 5);
  EXPECT_TRUE(m.Contains(0, 29));
  EXPECT_FALSE(m.Contains(5, 29));
  EXPECT_FALSE(m.Contains(0, 24));
}

TEST(Mask, TriangleThroughThreeCornersIsTheUpperLeftHalf) {
  const Point t[] = {{0, 0}, {640, 0}, {0, 480}};
  const Mask m = PolygonMask(640, 480, t);
  // Pixel centres strictly left of the hypotenuse are inside.
  const auto inside = [](int x, int y) { return (x + 0.5) * 480 + (y + 0.5) * 640 < 640.0 * 480; };
  EXPECT_EQ(m.PixelCount(), CountWhere(640, 480, inside));
  for (int y = 0; y < 480; y += 7)
    for (int x = 0; x < 640; x += 5) ASSERT_EQ(m.Contains(x, y), inside(x, y)) << x << "," << y;
}

TEST(Mask, FlatCoordinateListCountsTheLastIndex) {
  const int coordinates[] = {0, 0, 20, 0, 20, 20, 0, 20};
  // count 5 gives three points (a triangle), 7 gives four (the square).
  EXPECT_LT(PolygonMask(30, 30, coordinates, 5).PixelCount(), 400);
  EXPECT_EQ(PolygonMask(30, 30, coordinates, 7).PixelCount(), 400);
}

TEST(Mask, PolygonsFillByNonZeroWinding) {
  // A pentagram: even-odd filling would leave the centre pentagon empty.
  const Point star[] = {{50, 0}, {79, 90}, {2, 35}, {98, 35}, {21, 90}};
  const Mask m = PolygonMask(100, 100, star);
  EXPECT_TRUE(m.Contains(50, 50));
  EXPECT_TRUE(m.Contains(50, 10));
  EXPECT_FALSE(m.Contains(50, 95));
  // A square traced inside a larger one in the same direction: winding 2 is still inside, where
  // even-odd filling would cut the small square out.
  const Point twice[] = {{0, 0}, {10, 0}, {10, 10}, {0, 10}, {0, 0}, {20, 0}, {20, 20}, {0, 20}};
  EXPECT_EQ(PolygonMask(30, 30, twice).PixelCount(), 400);
}

TEST(Mask, EllipseIsInscribedAndSymmetric) {
  const Mask m = EllipseMask(200, 100, {20, 10, 180, 90});
  EXPECT_NEAR(static_cast<double>(m.PixelCount()), 3.14159265 * 80 * 40, 80 * 4.0);
  EXPECT_TRUE(m.Contains(100, 50));
  EXPECT_TRUE(m.Contains(20, 50));
  EXPECT_FALSE(m.Contains(19, 50));
  EXPECT_FALSE(m.Contains(21, 11));
  for (int y = 10; y < 90; ++y)
    for (int x = 20; x < 180; ++x) ASSERT_EQ(m.Contains(x, y), m.Contains(199 - x, 99 - y)) << x << "," << y;
}

TEST(Mask, RoundRectCornersAreReducedToTheBox) {
  const Rect box{10, 10, 110, 60};
  // Corner ellipses as large as the box (or larger, which is reduced) make the shape the ellipse.
  const Mask ellipse = EllipseMask(120, 70, box);
  const Mask oversized = RoundRectMask(120, 70, box, 400, 300);
  EXPECT_EQ((ellipse ^ oversized).PixelCount(), 0);
  // Zero-size corners leave the rectangle; small corners cut only the corners.
  EXPECT_EQ(RoundRectMask(120, 70, box, 0, 0).PixelCount(), 100 * 50);
  const Mask rounded = RoundRectMask(120, 70, box, 20, 20);
  EXPECT_FALSE(rounded.Contains(10, 10));
  EXPECT_TRUE(rounded.Contains(60, 10));
  EXPECT_TRUE(rounded.Contains(10, 35));
  EXPECT_GT(rounded.PixelCount(), ellipse.PixelCount());
  EXPECT_LT(rounded.PixelCount(), 100 * 50);
}

TEST(Mask, CombinationsAgreeWithPixelLogic) {
  const Mask a = EllipseMask(64, 48, {-10, 4, 50, 44});
  const Point tri[] = {{32, -5}, {70, 50}, {0, 40}};
  const Mask b = PolygonMask(64, 48, tri);
  const Mask u = a | b, i = a & b, x = a ^ b;
  const Mask frameExcept = FrameExceptMask(64, 48, {10, 10, 30, 20});
  for (int y = 0; y < 48; ++y)
    for (int xx = 0; xx < 64; ++xx) {
      const bool inA = a.Contains(xx, y), inB = b.Contains(xx, y);
      ASSERT_EQ(u.Contains(xx, y), inA || inB);
      ASSERT_EQ(i.Contains(xx, y), inA && inB);
      ASSERT_EQ(x.Contains(xx, y), inA != inB);
      ASSERT_EQ(frameExcept.Contains(xx, y), !(xx >= 10 && xx < 30 && y >= 10 && y < 20));
    }
  // Spans stay sorted and disjoint after combining.
  for (int y = 0; y < 48; ++y) {
    const auto row = u.Row(y);
    for (std::size_t k = 1; k < row.size(); ++k) ASSERT_LT(row[k - 1].Right, row[k].Left);
  }
}

TEST(Mask, ComplexRegionGrowsBy500AndTracksBounds) {
  TComplexRegion region;
  EXPECT_EQ(region.Capacity(), 0);
  EXPECT_EQ(region.Left(), 2147483647);
  EXPECT_EQ(region.Right(), -2147483647);
  for (int i = 0; i < 501; ++i) region.AddRect(i % 40, i % 30, i % 40 + 1, i % 30 + 1);
  EXPECT_EQ(region.Count(), 501);
  EXPECT_EQ(region.Capacity(), 1000);
  EXPECT_EQ(region.Left(), 0);
  EXPECT_EQ(region.Bottom(), 30);
  region.AddRect(-5, 28, 3, 40);
  const Mask m = region.MakeRegion(40, 30);
  EXPECT_TRUE(m.Contains(0, 29));
  EXPECT_TRUE(m.Contains(39, 9));  // 39 = 39 % 40 with 39 % 30 = 9
  region.ClearRegion();
  EXPECT_EQ(region.Count(), 0);
  EXPECT_EQ(region.Capacity(), 0);
  EXPECT_TRUE(region.MakeRegion(40, 30).IsEmpty());
}

// Rectangle lists are swept band by band rather than split into rows; the union must still be
// exact for overlapping, touching, empty, inverted and off-frame rectangles alike.
TEST(Mask, ComplexRegionIsTheUnionOfItsRectangles) {
  struct Case {
    int width, height, rects, reach;  // reach: how far outside the frame corners may lie
  };
  const Case cases[] = {{1, 1, 5, 2}, {7, 5, 0, 0}, {7, 5, 1, 3}, {64, 48, 50, 20}, {64, 48, 500, 10}, {200, 30, 300, 40}};
  std::mt19937 generator(20240611);
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.width << " x " << c.height << ", " << c.rects << " rectangles");
    std::uniform_int_distribution<int> xs(-c.reach, c.width + c.reach), ys(-c.reach, c.height + c.reach);
    TComplexRegion region;
    std::vector<Rect> added;
    for (int i = 0; i < c.rects; ++i) {
      // Mostly thin pieces, like bars and specks, some of them inverted.
      const int left = xs(generator), top = ys(generator);
      const int right = i % 3 == 0 ? xs(generator) : left + static_cast<int>(generator() % 4);
      const int bottom = i % 3 == 1 ? ys(generator) : top + static_cast<int>(generator() % 30);
      region.AddRect(left, top, right, bottom);
      added.push_back({left, top, right, bottom});
    }
    const Mask mask = region.MakeRegion(c.width, c.height);
    for (int y = 0; y < c.height; ++y)
      for (int x = 0; x < c.width; ++x) {
        bool inside = false;
        for (const Rect& r : added) inside |= x >= r.Left && x < r.Right && y >= r.Top && y < r.Bottom;
        ASSERT_EQ(mask.Contains(x, y), inside) << x << "," << y;
      }
    for (int y = 0; y < c.height; ++y) {
      const auto row = mask.Row(y);
      for (std::size_t k = 1; k < row.size(); ++k) ASSERT_LT(row[k - 1].Right, row[k].Left);
    }
  }
}

TEST(Mask, MaskedCopyCopiesInPlaceOnlyInsideTheMask) {
  Bitmap frame = testing::MakeOldPicture(30, 20);
  const Bitmap source = testing::MakeNewPicture(30, 20);
  const Mask m = EllipseMask(30, 20, {-5, -5, 20, 15});
  MaskedCopy(frame, source, m);
  for (int y = 0; y < 20; ++y)
    for (int x = 0; x < 30; ++x) {
      ASSERT_EQ(testing::IsNew(frame, x, y), m.Contains(x, y));
      ASSERT_EQ(testing::OriginOf(frame, x, y), (Point{x, y}));
    }
}

}  // namespace
}  // namespace lumivor
