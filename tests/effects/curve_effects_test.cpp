#include <cmath>
#include <vector>

#include <gtest/gtest.h>

#include "effect_test_support.h"
#include "raster/arith.h"
#include "effects/curve_effect_ops.h"

namespace lumivor::testing {
namespace {

// Probe pixels that must show the new picture, in place, and pixels that must keep the old one.
struct ProbeCase {
  int effect;
  int progress;
  std::vector<Point> showNew;
  std::vector<Point> keepOld;
};

void CheckProbes(const ProbeCase& c, int width, int height) {
  SCOPED_TRACE(::testing::Message() << "effect " << c.effect << " at " << c.progress << "%");
  const Bitmap frame = Compose(c.effect, c.progress, MakeOldPicture(width, height), MakeNewPicture(width, height));
  for (const Point& pt : c.showNew) {
    EXPECT_TRUE(IsNew(frame, pt.X, pt.Y)) << "old picture at (" << pt.X << ", " << pt.Y << ")";
    EXPECT_EQ(OriginOf(frame, pt.X, pt.Y), pt) << "new picture moved at (" << pt.X << ", " << pt.Y << ")";
  }
  for (const Point& pt : c.keepOld)
    EXPECT_TRUE(IsOld(frame, pt.X, pt.Y)) << "new picture at (" << pt.X << ", " << pt.Y << ")";
}

// 64 x 48 frames: at 50 % w = 32 and h = 24, the centre is (32, 24).
TEST(CurveEffectsTest, CurvedFrontsAdvanceFromTheirEdge) {
  const ProbeCase cases[] = {
      // At 50 % the tip has crossed the frame at mid-height while the ends still lag near the edge.
      {58, 50, {{63, 24}, {0, 0}, {0, 47}, {5, 10}}, {{32, 0}, {32, 47}, {63, 0}}},
      {59, 50, {{0, 24}, {63, 0}, {63, 47}, {58, 10}}, {{31, 0}, {31, 47}, {0, 0}}},
      {69, 50, {{32, 47}, {0, 0}, {63, 0}, {10, 5}}, {{0, 24}, {63, 24}, {0, 47}}},
      {70, 50, {{32, 0}, {0, 47}, {63, 47}, {10, 42}}, {{0, 23}, {63, 23}, {0, 0}}},
      // At 10 % the tip is 2w = 12 in and the corners are still old.
      {58, 10, {{0, 24}, {11, 24}}, {{12, 24}, {0, 0}, {0, 47}}},
      {59, 10, {{63, 24}, {52, 24}}, {{51, 24}, {63, 0}, {63, 47}}},
      // Corner reveals: an ellipse about (-8, -6) with radii 56 x 42 at 50 %, mirrored per corner.
      {80, 50, {{0, 0}, {30, 20}, {45, 0}, {0, 33}}, {{40, 28}, {63, 47}, {63, 0}, {0, 47}}},
      {81, 50, {{63, 0}, {33, 20}, {18, 0}, {63, 33}}, {{23, 28}, {0, 47}, {0, 0}, {63, 47}}},
      {82, 50, {{0, 47}, {30, 27}, {45, 47}, {0, 14}}, {{40, 19}, {63, 0}, {63, 47}, {0, 0}}},
      {83, 50, {{63, 47}, {33, 27}, {18, 47}, {63, 14}}, {{23, 19}, {0, 0}, {0, 47}, {63, 0}}},
      // Elliptic reveal out: box (0, 0, 64, 48) with corner ellipses 57 x 43 leaves the corners old.
      {84, 50, {{32, 24}, {0, 24}, {63, 24}, {32, 0}, {32, 47}}, {{0, 0}, {63, 0}, {0, 47}, {63, 47}}},
      // Elliptic reveal in: nothing yet at 1 %; at 90 % old only inside the box (26, 20, 38, 28).
      {85, 1, {}, {{0, 0}, {63, 47}, {32, 24}, {5, 5}}},
      {85, 90, {{0, 0}, {63, 47}, {25, 24}, {38, 24}, {32, 19}, {32, 28}}, {{32, 24}, {28, 24}, {36, 24}}},
      // Diagonal sweeps: two triangles hinged at opposite corners.
      {114, 50, {{2, 40}, {20, 46}, {10, 30}, {62, 8}, {44, 2}}, {{30, 10}, {34, 38}, {20, 10}, {44, 40}}},
      {115, 50, {{40, 2}, {62, 20}, {20, 46}, {2, 30}}, {{10, 20}, {50, 30}}},
      // Starbursts: four triangles from the centre, one sliding along each edge.
      {116, 50, {{16, 4}, {4, 30}, {48, 44}, {60, 16}}, {{40, 4}, {4, 20}, {60, 30}, {16, 44}}},
      {117, 50, {{4, 16}, {16, 44}, {60, 32}, {48, 4}}, {{16, 4}, {4, 30}, {60, 20}, {48, 44}}},
      // Circular shred: cells of 10, circles about (5 + 10i, 5 + 10j) with radius 4 at 50 %.
      {153, 50, {{5, 5}, {8, 5}, {15, 25}, {63, 5}, {55, 45}}, {{0, 0}, {10, 10}, {9, 5}, {20, 20}}},
      // At 60 % the radius MulDiv(15, 60, 200) rounds 4.5 up to 5: neighbouring circles touch.
      {153, 60, {{5, 0}, {0, 5}, {9, 5}, {10, 5}}, {{0, 0}, {9, 9}, {10, 10}}},
  };
  for (const ProbeCase& c : cases) CheckProbes(c, 64, 48);
}

// The share of the frame the new picture takes must only grow with progress.
TEST(CurveEffectsTest, RevealedAreaGrowsWithProgress) {
  const Bitmap oldPicture = MakeOldPicture(80, 60);
  const Bitmap newPicture = MakeNewPicture(80, 60);
  for (int effect : {58, 59, 69, 70, 80, 81, 82, 83, 84, 85, 114, 115, 116, 117, 144, 145, 153}) {
    SCOPED_TRACE(effect);
    std::int64_t previous = 0;
    for (int p : {1, 10, 30, 50, 70, 90, 99}) {
      const std::int64_t count = CountNew(Compose(effect, p, oldPicture, newPicture));
      EXPECT_GE(count, previous) << "at " << p << "%";
      previous = count;
    }
    EXPECT_GT(previous, 80 * 60 * 9 / 10) << "the transition is far from done at 99%";
  }
}

// At 50 % on an even frame both elliptic reveals use the box (0, 0, W, H) with the same corners,
// so one is the exact complement of the other.
TEST(CurveEffectsTest, EllipticRevealsAreComplementsAtHalfway) {
  const Bitmap oldPicture = MakeOldPicture(64, 48);
  const Bitmap newPicture = MakeNewPicture(64, 48);
  const Bitmap out = Compose(84, 50, oldPicture, newPicture);
  const Bitmap in = Compose(85, 50, oldPicture, newPicture);
  int mismatches = 0;
  for (int y = 0; y < 48; ++y)
    for (int x = 0; x < 64; ++x) mismatches += IsNew(out, x, y) == IsNew(in, x, y);
  EXPECT_EQ(mismatches, 0);
  EXPECT_GT(CountNew(in), 0);
}

TEST(CurveEffectsTest, EllipticRevealInLeavesASmallOldCentreAtTheEnd) {
  const Bitmap frame = Compose(85, 99, MakeOldPicture(640, 480), MakeNewPicture(640, 480));
  const std::int64_t old = 640 * 480 - CountNew(frame);
  EXPECT_GT(old, 0);
  EXPECT_LT(old, 100);
  EXPECT_TRUE(IsOld(frame, 320, 240));
}

TEST(CurveEffectsTest, CircularShredCoversTheFrameNearTheEndAndNothingAtTheStart) {
  EXPECT_EQ(CountNew(Compose(153, 1, MakeOldPicture(64, 48), MakeNewPicture(64, 48))), 0);
  EXPECT_EQ(CountNew(Compose(153, 99, MakeOldPicture(64, 48), MakeNewPicture(64, 48))), 64 * 48);
}

// The clock sweeps: everything well inside the circle is new exactly when its angle from twelve
// o'clock, measured in the sweep's direction, lies inside the swept range.
TEST(CurveEffectsTest, ClockSweepsTurnFromTwelveOClock) {
  struct Case {
    int effect, progress;
    bool clockwise;
    double sweptTurns;
  };
  const Case cases[] = {
      {144, 1, true, 0.0},  {144, 2, true, 0.01},   {144, 26, true, 0.25},  {144, 51, true, 0.5},
      {144, 99, true, 0.98}, {145, 1, false, 0.0}, {145, 26, false, 0.25}, {145, 76, false, 0.75},
  };
  const int W = 64, H = 48, cx = 32, cy = 24;
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "effect " << c.effect << " at " << c.progress << "%");
    const Bitmap frame = Compose(c.effect, c.progress, MakeOldPicture(W, H), MakeNewPicture(W, H));
    if (c.sweptTurns == 0.0) {
      EXPECT_EQ(CountNew(frame), 0);
      continue;
    }
    int mismatches = 0;
    for (int y = 0; y < H; ++y)
      for (int x = 0; x < W; ++x) {
        const double dx = x + 0.5 - cx, dy = y + 0.5 - cy;
        const double distance = std::hypot(dx, dy);
        if (distance < 3 || distance > 38) continue;
        // Turns clockwise from straight up, 0 .. 1.
        double turns = std::atan2(dx, -dy) / (2 * Pi);
        if (turns < 0) turns += 1;
        if (!c.clockwise) turns = 1 - turns;
        // Leave a pixel's width on either side of the two straight edges.
        const double margin = 1.0 / (2 * Pi * distance);
        if (turns < margin || std::abs(turns - c.sweptTurns) < margin || turns > 1 - margin) continue;
        const bool swept = turns < c.sweptTurns;
        if (IsNew(frame, x, y) != swept) ++mismatches;
      }
    EXPECT_EQ(mismatches, 0);
  }
}

TEST(CurveEffectsTest, FanMaskStopsOneStepShortAndRefusesNoPoints) {
  // Four steps of a quarter turn each from three o'clock: the last point is at twelve o'clock (-pi/2
  // after three steps), so the fan covers three quarters: all but the top-right quadrant.
  const Mask fan = transitions::FanMask(40, 40, 20, 20, 30, 0, 2 * Pi, 4);
  EXPECT_TRUE(fan.Contains(25, 25));  // bottom right
  EXPECT_TRUE(fan.Contains(15, 25));  // bottom left
  EXPECT_TRUE(fan.Contains(15, 15));  // top left
  EXPECT_FALSE(fan.Contains(25, 15)) << "the last step must not be drawn";
  EXPECT_TRUE(transitions::FanMask(40, 40, 20, 20, 30, 0, Pi, 0).IsEmpty());
  EXPECT_TRUE(transitions::FanMask(40, 40, 20, 20, 30, 0, Pi, -3).IsEmpty());
}

TEST(CurveEffectsTest, RotatePointsTurnsClockwiseOnScreenAndRounds) {
  struct Case {
    Point in;
    long double theta;
    Point out;
  };
  const Case cases[] = {
      {{110, 50}, Pi / 2, {100, 60}},     // right of the centre turns to below it
      {{110, 50}, -Pi / 2, {100, 40}},    // and the other way to above it
      {{110, 50}, Pi, {90, 50}},          // half a turn, no residue from sin(pi)
      {{103, 54}, Pi / 2, {96, 53}},      // (3, 4) -> (-4, 3)
      {{110, 50}, Pi / 4, {107, 57}},     // 7.07 rounds to 7
      {{100, 50}, 1.234L, {100, 50}},     // the centre stays
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "(" << c.in.X << ", " << c.in.Y << ") by " << static_cast<double>(c.theta));
    Point pts[] = {c.in};
    transitions::RotatePoints(pts, 100, 50, c.theta);
    EXPECT_EQ(pts[0], c.out);
  }
}

// Exact areas where the turn is a multiple of a quarter: at 50 % half a turn leaves the rectangle
// as it was, at 25 % a quarter turn stands it upright, in the direction the seed's parity picks.
TEST(CurveEffectsTest, RotatingRectanglesAtQuarterTurns) {
  struct Case {
    int effect, progress;
    std::uint32_t seed;
    Rect newArea;
  };
  const Case cases[] = {
      {150, 50, 0x10, {16, 12, 48, 36}},
      {150, 50, 0x11, {16, 12, 48, 36}},
      {150, 25, 0x10, {26, 16, 38, 32}},
      {150, 25, 0x11, {26, 16, 38, 32}},
      // The pivot (w, h) is the centre at 50 %.
      {152, 50, 0x10, {16, 12, 48, 36}},
      // At 25 % the box (24, 18)-(40, 30) turns a quarter about (16, 12): clockwise it lands at
      // x -2..10, y 20..36; anticlockwise at x 22..34, y -12..4.
      {152, 25, 0x10, {0, 20, 10, 36}},
      {152, 25, 0x11, {22, 0, 34, 4}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "effect " << c.effect << " at " << c.progress << "% seed " << c.seed);
    const Bitmap frame = Compose(c.effect, c.progress, MakeOldPicture(64, 48), MakeNewPicture(64, 48, c.seed));
    EXPECT_EQ(NewArea(frame), c.newArea);
    EXPECT_EQ(CountNew(frame), static_cast<std::int64_t>(c.newArea.Width()) * c.newArea.Height());
    const Rect& a = c.newArea;
    EXPECT_EQ(OriginOf(frame, a.Left, a.Top), (Point{a.Left, a.Top}));
  }
}

// A wide shape turned clockwise by 36 degrees puts its long ends into the bottom-right and top-left
// quarters of the frame; turned anticlockwise, into the other two. The parity of the new picture's
// seed picks the direction, so every frame of a transition turns the same way.
TEST(CurveEffectsTest, SeedParityPicksTheDirectionOfRotation) {
  const int W = 320, H = 240, cx = 160, cy = 120;
  const Bitmap oldPicture = MakeOldPicture(W, H);
  for (int effect : {150, 151}) {
    for (std::uint32_t seed : {0x2468ACE0u, 0x2468ACE1u, 7u, 8u}) {
      const bool clockwise = (seed & 1u) == 0;
      for (int p : {8, 10, 12}) {
        SCOPED_TRACE(::testing::Message() << "effect " << effect << " seed " << seed << " at " << p << "%");
        const Bitmap frame = Compose(effect, p, oldPicture, MakeNewPicture(W, H, seed));
        std::int64_t falling = 0, rising = 0;
        for (int y = 0; y < H; ++y)
          for (int x = 0; x < W; ++x)
            if (IsNew(frame, x, y)) ((x >= cx) == (y >= cy) ? falling : rising) += 1;
        ASSERT_GT(falling + rising, 0);
        if (clockwise)
          EXPECT_GT(falling, rising + rising / 10);
        else
          EXPECT_GT(rising, falling + falling / 10);
      }
    }
  }
}

TEST(CurveEffectsTest, RotationalStarPointsAlongTheAxesAfterHalfATurn) {
  // 64 x 48 at 50 %: tips 64 and 48 from the centre, inner corners (16, 12)-(48, 36).
  const ProbeCase star{151, 50, {{32, 24}, {2, 22}, {61, 25}, {31, 2}, {32, 45}, {17, 13}}, {{2, 2}, {61, 45}, {8, 40}, {56, 6}}};
  CheckProbes(star, 64, 48);
}

TEST(CurveEffectsTest, NarrowFrameAtOnePercentKeepsTheOldPicture) {
  // w and h are 0: every progress-sized shape is empty.
  for (int effect : {58, 59, 69, 70, 80, 81, 82, 83, 84, 114, 115, 116, 117, 150, 151, 152}) {
    SCOPED_TRACE(effect);
    EXPECT_EQ(CountNew(Compose(effect, 1, MakeOldPicture(40, 30), MakeNewPicture(40, 30))), 0);
  }
}

}  // namespace
}  // namespace lumivor::testing
