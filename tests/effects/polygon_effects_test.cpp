#include <cstdint>
#include <functional>
#include <ostream>
#include <vector>

#include <gtest/gtest.h>

#include "effect_test_support.h"
#include "effects/effect.h"
#include "effects/mask.h"

namespace lumivor {

// Internal linkage: other test files may print spans their own way.
[[maybe_unused]] static void PrintTo(const Span& s, std::ostream* os) { *os << "[" << s.Left << ", " << s.Right << ")"; }

namespace {

using testing::Compose;
using testing::CountNew;
using testing::IsNew;
using testing::MakeNewPicture;
using testing::MakeOldPicture;
using testing::OriginOf;

constexpr int AllPolygonEffects[] = {110, 111, 112, 113, 118, 154, 155, 156, 157, 158,
                                     159, 160, 161, 162, 163, 164, 165, 166, 167};

class PolygonEffects : public ::testing::Test {
 protected:
  Bitmap Frame(int effect, int progress) const { return Compose(effect, progress, old_, new_); }

  // 640 x 480: at p = 50, w = 320 and h = 240; at p = 25, 160 and 120; at p = 1, 6 and 5.
  static constexpr int W = 640, H = 480;
  Bitmap old_ = MakeOldPicture(W, H);
  Bitmap new_ = MakeNewPicture(W, H);
};

// Every pixel shows the new picture exactly where shouldBeNew says, and either picture in place.
void ExpectRevealedExactly(const Bitmap& frame, const std::function<bool(int, int)>& shouldBeNew) {
  int wrong = 0;
  Point first{-1, -1};
  for (int y = 0; y < frame.Height(); ++y)
    for (int x = 0; x < frame.Width(); ++x) {
      const bool ok = IsNew(frame, x, y) == shouldBeNew(x, y) && OriginOf(frame, x, y) == Point{x, y};
      if (ok) continue;
      if (wrong++ == 0) first = {x, y};
    }
  EXPECT_EQ(wrong, 0) << "first wrong pixel at (" << first.X << ", " << first.Y << ")";
}

TEST_F(PolygonEffects, DiagonalRevealsCoverTheirCornersHalfAtFifty) {
  // The hypotenuse runs from one neighbouring corner to the other: in doubled pixel-centre
  // coordinates (u, v) = (2x + 1, 2y + 1) the half is u / 1280 + v / 960 < 1. No centre lies on it.
  struct Case {
    int effect;
    bool fromRight, fromBottom;
  };
  const Case cases[] = {{110, false, false}, {111, true, false}, {112, false, true}, {113, true, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.effect);
    ExpectRevealedExactly(Frame(c.effect, 50), [&](int x, int y) {
      const int u = c.fromRight ? 2 * (W - x) - 1 : 2 * x + 1;
      const int v = c.fromBottom ? 2 * (H - y) - 1 : 2 * y + 1;
      return 3 * u + 4 * v < 3 * 2 * W;
    });
  }
}

TEST_F(PolygonEffects, DiamondOutAndDiamondInAreComplementaryAtFifty) {
  // At p = 50 both diamonds are the one through the four edge midpoints.
  const auto insideMidpointDiamond = [](int x, int y) {
    const int du = 2 * x + 1 - W, dv = 2 * y + 1 - H;
    return 3 * (du < 0 ? -du : du) + 4 * (dv < 0 ? -dv : dv) < 3 * W;
  };
  {
    SCOPED_TRACE(165);
    ExpectRevealedExactly(Frame(165, 50), insideMidpointDiamond);
  }
  {
    SCOPED_TRACE(166);
    ExpectRevealedExactly(Frame(166, 50), [&](int x, int y) { return !insideMidpointDiamond(x, y); });
  }
}

TEST_F(PolygonEffects, ShapesSitWhereTheirVerticesSay) {
  struct Case {
    int effect, progress;
    std::vector<Point> newAt, oldAt;
  };
  const Case cases[] = {
      // Arrowheads at p = 25: tip 2w = 320 (2h = 240) in, base 2h = 240 (2w = 320) on the edge.
      {154, 25, {{2, 240}, {316, 240}, {2, 125}, {2, 355}, {160, 185}}, {{324, 240}, {2, 115}, {2, 365}, {160, 175}}},
      {155, 25, {{637, 240}, {324, 240}, {637, 125}, {480, 185}}, {{316, 240}, {637, 115}, {480, 175}, {2, 240}}},
      {156, 25, {{320, 2}, {320, 236}, {165, 2}, {475, 2}, {245, 120}}, {{320, 244}, {155, 2}, {485, 2}, {235, 120}}},
      {157, 25, {{320, 477}, {320, 244}, {165, 477}, {245, 360}}, {{320, 236}, {155, 477}, {235, 360}, {320, 2}}},
      // Bow tie arrowheads reach only w = 192 in at p = 30.
      {158, 30, {{2, 240}, {185, 240}, {637, 240}, {455, 240}}, {{200, 240}, {320, 240}, {440, 240}, {2, 90}}},
      // Four arrowheads at p = 50 reaching a = 160 and b = 120 in.
      {160, 50, {{150, 240}, {490, 240}, {320, 110}, {320, 370}, {2, 125}},
       {{170, 240}, {470, 240}, {320, 130}, {320, 350}, {320, 240}, {2, 2}, {637, 477}, {2, 115}}},
      // A ring between the diamonds of half-diagonals 480 x 360 and 160 x 120.
      {167, 50, {{100, 240}, {540, 240}, {320, 100}, {320, 380}}, {{320, 240}, {320, 130}, {2, 2}, {637, 477}}},
      // Triangles in 130 x 98 cells at p = 50 fill each cell's inscribed downward triangle.
      {118, 50, {{65, 49}, {65, 90}, {5, 2}, {195, 49}, {637, 2}, {65, 475}}, {{10, 80}, {125, 90}, {130, 80}}},
      // The row centred below the frame is what reaches the bottom-left corner late on.
      {118, 99, {{10, 478}}, {}},
      // Diamonds in 98-pixel cells: radius 20 at p = 20, touching at p = 50.
      {164, 20, {{49, 49}, {49, 65}, {147, 147}}, {{49, 75}, {2, 2}, {98, 49}}},
      {164, 50, {{49, 49}, {49, 10}, {637, 49}, {637, 477}}, {{2, 2}, {96, 2}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << "effect " << c.effect << " at " << c.progress);
    const Bitmap frame = Frame(c.effect, c.progress);
    for (const Point& pt : c.newAt) EXPECT_TRUE(IsNew(frame, pt.X, pt.Y)) << "(" << pt.X << ", " << pt.Y << ") should be new";
    for (const Point& pt : c.oldAt) EXPECT_FALSE(IsNew(frame, pt.X, pt.Y)) << "(" << pt.X << ", " << pt.Y << ") should be old";
  }
}

// The new pixels of one row (or column) as runs [start, end).
std::vector<Span> RunsAlong(const Bitmap& frame, bool alongRow, int index) {
  std::vector<Span> runs;
  const int length = alongRow ? frame.Width() : frame.Height();
  for (int i = 0; i < length; ++i) {
    const bool isNew = alongRow ? IsNew(frame, i, index) : IsNew(frame, index, i);
    if (!isNew) continue;
    if (!runs.empty() && runs.back().Right == i) {
      runs.back().Right = i + 1;
    } else {
      runs.push_back({i, i + 1});
    }
  }
  return runs;
}

TEST_F(PolygonEffects, BowTieVerticalIsJoinedAtThirtyWhileHorizontalIsNot) {
  // Vertical: each arrowhead reaches 2h = 288 > 240 in, so the two overlap around the centre and
  // the centre column is new from top to bottom; the overlap must not cancel out.
  EXPECT_EQ(RunsAlong(Frame(159, 30), false, W / 2), (std::vector<Span>{{0, H}}));
  // Horizontal: each reaches w = 192 in, leaving the middle of the centre row old.
  const auto row = RunsAlong(Frame(158, 30), true, H / 2);
  ASSERT_EQ(row.size(), 2u);
  EXPECT_EQ(row[0].Left, 0);
  EXPECT_NEAR(row[0].Right, 192, 1);
  EXPECT_NEAR(row[1].Left, W - 192, 1);
  EXPECT_EQ(row[1].Right, W);
}

TEST_F(PolygonEffects, DiagonalCrossOutStartsAsThinArmsAlongTheDiagonals) {
  const Bitmap frame = Frame(161, 1);
  const Point onDiagonals[] = {{160, 120}, {480, 120}, {160, 360}, {480, 360}, {320, 240}, {2, 2}, {637, 477}};
  for (const Point& pt : onDiagonals) EXPECT_TRUE(IsNew(frame, pt.X, pt.Y)) << pt.X << ", " << pt.Y;
  const Point offDiagonals[] = {{160, 112}, {160, 128}, {2, 240}, {320, 2}, {637, 240}, {320, 477}};
  for (const Point& pt : offDiagonals) EXPECT_FALSE(IsNew(frame, pt.X, pt.Y)) << pt.X << ", " << pt.Y;
  // Two arms a few pixels wide across an 800-pixel diagonal each.
  EXPECT_LT(CountNew(frame), W * H / 20);
  // Late on the triangles have shrunk to slivers at the edge midpoints.
  EXPECT_GT(CountNew(Frame(161, 99)), W * H * 97 / 100);
}

TEST_F(PolygonEffects, ZigzagBandsAreTwiceTheirHalfThicknessAcross) {
  // Horizontal at p = 1: a = 48, s = 64, o = 0 + 5 div 2 = 2, so every column holds one run of
  // 4 new pixels, zigzagging between the levels near 286 (x = 0) and 190 (x = 64).
  const Bitmap horizontal = Frame(162, 1);
  for (int x = 0; x < W; ++x) {
    const auto runs = RunsAlong(horizontal, false, x);
    ASSERT_EQ(runs.size(), 1u) << "column " << x;
    ASSERT_EQ(runs[0].Right - runs[0].Left, 4) << "column " << x;
  }
  EXPECT_NEAR(RunsAlong(horizontal, false, 0)[0].Left, 285, 1);
  EXPECT_NEAR(RunsAlong(horizontal, false, 64)[0].Left, 191, 1);
  EXPECT_NEAR(RunsAlong(horizontal, false, 128)[0].Left, 285, 1);

  // Vertical at p = 1: a = 64, s = 48, o = 1 + 6 div 2 = 4: rows of 8 zigzagging between x near 380 (y = 0) and 252 (y = 48).
  const Bitmap vertical = Frame(163, 1);
  for (int y = 0; y < H; ++y) {
    const auto runs = RunsAlong(vertical, true, y);
    ASSERT_EQ(runs.size(), 1u) << "row " << y;
    ASSERT_EQ(runs[0].Right - runs[0].Left, 8) << "row " << y;
  }
  EXPECT_NEAR(RunsAlong(vertical, true, 0)[0].Left, 379, 1);
  EXPECT_NEAR(RunsAlong(vertical, true, 48)[0].Left, 253, 1);
}

TEST_F(PolygonEffects, GrowWithProgressAndKeepTheNewPictureInPlace) {
  // Every shape here only grows (or, cut out of the frame, only shrinks), so a pixel revealed at
  // a lower progress stays revealed; the new picture never moves.
  const Bitmap oldSmall = MakeOldPicture(161, 121), newSmall = MakeNewPicture(161, 121);
  for (int effect : AllPolygonEffects) {
    SCOPED_TRACE(effect);
    const Bitmap early = Compose(effect, 20, oldSmall, newSmall);
    const Bitmap late = Compose(effect, 60, oldSmall, newSmall);
    int lost = 0, moved = 0;
    for (int y = 0; y < 121; ++y)
      for (int x = 0; x < 161; ++x) {
        lost += IsNew(early, x, y) && !IsNew(late, x, y);
        moved += OriginOf(early, x, y) != Point{x, y} || OriginOf(late, x, y) != Point{x, y};
      }
    EXPECT_EQ(lost, 0) << "pixels new at 20 but old at 60";
    EXPECT_EQ(moved, 0) << "pixels not in place";
    EXPECT_LT(CountNew(early), CountNew(late));
  }
}

TEST_F(PolygonEffects, DrawNothingWhenTheirSizesAreZero) {
  struct Case {
    int effect, width, height, progress;
  };
  std::vector<Case> cases;
  // p = 1 on a 40 x 30 frame gives w = h = 0 and zero-sized grid shapes and bands. The diagonal
  // cross out is left out: there the four triangles meet exactly on the diagonals.
  for (int effect : AllPolygonEffects)
    if (effect != 161) cases.push_back({effect, 40, 30, 1});
  // Fewer than 10 pixels along the band gives a zero step: all points on one line.
  cases.push_back({162, 9, 40, 50});
  cases.push_back({163, 40, 9, 50});
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << "effect " << c.effect << " on " << c.width << " x " << c.height);
    const Bitmap frame = Compose(c.effect, c.progress, MakeOldPicture(c.width, c.height), MakeNewPicture(c.width, c.height));
    EXPECT_EQ(CountNew(frame), 0);
  }
}

}  // namespace
}  // namespace lumivor
