// Bar, criss-cross, shred, speckle, random-square, blind and moving-rectangle transitions.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include "effect_test_support.h"
#include "effects/bar_effect_ops.h"
#include "effects/random.h"

namespace lumivor {
namespace {

using testing::Compose;
using testing::IsNew;
using testing::MakeNewPicture;
using testing::MakeOldPicture;
using testing::OriginOf;
using testing::SamePixels;

// These transitions never move the new picture: wherever it shows, it shows in place.
void ExpectNewInPlace(const Bitmap& frame) {
  for (int y = 0; y < frame.Height(); ++y)
    for (int x = 0; x < frame.Width(); ++x)
      if (IsNew(frame, x, y) && !(OriginOf(frame, x, y) == Point{x, y})) {
        ADD_FAILURE() << "new pixel at (" << x << ", " << y << ") was taken from (" << OriginOf(frame, x, y).X
                      << ", " << OriginOf(frame, x, y).Y << ")";
        return;
      }
}

// The shared generator's state after the given number of draws.
std::uint32_t AdvancedSeed(std::uint32_t seed, int draws) {
  for (int i = 0; i < draws; ++i) seed = seed * 134775813u + 1u;
  return seed;
}

struct Probe {
  int x, y;
  bool isNew;
};

struct ProbeCase {
  int effect, progress;
  std::vector<Probe> probes;
};

constexpr bool N = true;
constexpr bool O = false;

// 640 x 480: bands e = 10 thick (even bands rows/columns 0-9, 20-29, ...); p = 25 gives w = 160,
// h = 120; p = 50 gives 320, 240; p = 75 gives 480, 360; p = 10 gives 64, 48.
const ProbeCase kProbeCases[] = {
    // Bars in from right: even bands from x = 2w onwards at p = 25; every even band complete and
    // the odd bands new from x = 2w - W at p = 75.
    {60, 25, {{320, 5, N}, {319, 5, O}, {639, 0, N}, {639, 15, O}, {0, 5, O}}},
    {60, 75, {{0, 5, N}, {639, 9, N}, {319, 15, O}, {320, 15, N}, {639, 479, N}}},
    {61, 25, {{319, 5, N}, {320, 5, O}, {0, 15, O}}},
    {61, 75, {{0, 15, N}, {319, 15, N}, {320, 15, O}, {639, 5, N}}},
    {62, 25, {{0, 5, N}, {319, 5, N}, {320, 5, O}, {0, 15, O}}},
    {62, 75, {{320, 15, N}, {319, 15, O}, {639, 5, N}, {0, 5, N}}},
    {63, 25, {{639, 5, N}, {320, 5, N}, {319, 5, O}}},
    {63, 75, {{0, 15, N}, {319, 15, N}, {320, 15, O}}},
    {64, 25, {{0, 15, N}, {159, 15, N}, {160, 15, O}, {480, 5, N}, {479, 5, O}, {0, 5, O}, {639, 15, O}}},
    {71, 25, {{5, 240, N}, {5, 239, O}, {15, 479, O}}},
    {72, 25, {{5, 239, N}, {5, 240, O}, {15, 0, O}}},
    {73, 75, {{15, 240, N}, {15, 239, O}, {5, 0, N}}},
    {74, 75, {{15, 239, N}, {15, 240, O}, {5, 479, N}}},
    {75, 25, {{5, 360, N}, {5, 359, O}, {15, 119, N}, {15, 120, O}}},
    // Criss-cross: the union of row bars and column bars.
    {86, 25, {{320, 5, N}, {319, 5, O}, {5, 240, N}, {5, 239, O}, {15, 300, O}}},
    {89, 25, {{319, 5, N}, {335, 5, O}, {5, 239, N}, {15, 255, O}}},
    {90, 75, {{15, 15, O}, {325, 15, N}, {15, 245, N}, {5, 15, N}}},
    {93, 75, {{15, 15, N}, {335, 255, O}, {335, 5, N}}},
    {98, 25, {{300, 200, O}, {300, 400, N}, {315, 100, N}, {100, 15, N}, {500, 5, N}}},
    // Only where both bar sets agree: even rows and columns in the top-right and bottom-left.
    {99, 25, {{325, 5, N}, {335, 5, O}, {5, 245, N}, {5, 5, O}, {325, 245, O}}},
    // Blinds: slats of 2n opening from their centres (137: n = 17, a = 9; 138: n = 13, a = 7).
    {137, 50, {{8, 0, N}, {7, 0, O}, {25, 479, N}, {26, 0, O}, {42, 100, N}, {41, 100, O}}},
    {138, 50, {{0, 6, N}, {0, 5, O}, {639, 19, N}, {0, 20, O}, {0, 32, N}}},
    // Uneven blinds: pitch w (or h), slats MulDiv(pitch, p, 100) wide.
    {139, 10, {{0, 0, N}, {5, 479, N}, {6, 0, O}, {63, 0, O}, {64, 0, N}, {70, 0, O}}},
    {140, 10, {{639, 0, N}, {634, 0, N}, {633, 0, O}, {575, 0, N}, {570, 0, N}, {569, 0, O}}},
    {141, 10, {{0, 0, N}, {0, 4, N}, {0, 5, O}, {0, 48, N}, {0, 52, N}, {0, 53, O}}},
    {142, 10, {{0, 479, N}, {0, 475, N}, {0, 474, O}, {0, 431, N}, {0, 427, N}, {0, 426, O}}},
    // Rectangular shred: n = 49, a = 25, squares [24, 74) on a 98 grid.
    {143, 50, {{24, 24, N}, {23, 24, O}, {73, 73, N}, {74, 73, O}, {73, 74, O}, {122, 24, N}, {121, 24, O}}},
    // Strips every 3m from -m (146/147: m = 24, rows [36, 60), [108, 132), ...; 148/149: m = 32,
    // columns [48, 80), [144, 176), ...) plus uneven slats.
    {146, 50, {{200, 36, N}, {200, 59, N}, {200, 35, O}, {200, 60, O}, {200, 0, O},
               {159, 220, N}, {160, 220, O}, {320, 220, N}, {480, 220, O}}},
    {147, 50, {{100, 36, N}, {100, 0, O}, {100, 220, O}, {160, 220, N}, {319, 220, N}, {320, 220, O}, {480, 220, N}}},
    {148, 50, {{48, 200, N}, {79, 200, N}, {47, 200, O}, {80, 200, O}, {0, 200, O},
               {300, 119, N}, {300, 120, O}, {300, 240, N}, {300, 360, O}}},
    {149, 50, {{48, 300, N}, {47, 300, O}, {0, 300, O}, {300, 119, O}, {300, 120, N}, {300, 239, N},
               {300, 240, O}, {300, 360, N}}},
};

TEST(BarEffectsMasks, NewPictureShowsInPlaceWhereTheMaskSays) {
  const Bitmap oldPicture = MakeOldPicture(640, 480);
  const Bitmap newPicture = MakeNewPicture(640, 480);
  for (const auto& c : kProbeCases) {
    SCOPED_TRACE(::testing::Message() << "effect " << c.effect << " at p = " << c.progress);
    const Bitmap frame = Compose(c.effect, c.progress, oldPicture, newPicture);
    for (const auto& probe : c.probes)
      EXPECT_EQ(IsNew(frame, probe.x, probe.y), probe.isNew) << "at (" << probe.x << ", " << probe.y << ")";
    ExpectNewInPlace(frame);
  }
}

// At p = 1 a 40 x 30 frame has w = h = 0: every piece of these effects is empty and the frame
// keeps the old picture (the uneven blinds and strips would never advance with a zero pitch).
TEST(BarEffectsMasks, ZeroProgressSizeDrawsNothing) {
  const Bitmap oldPicture = MakeOldPicture(40, 30);
  const Bitmap newPicture = MakeNewPicture(40, 30);
  const int effects[] = {60,  61,  62,  63,  64,  71,  72,  73,  74,  75,  86,  87,  88,  89,  90,  91,  92,
                         93,  94,  95,  96,  97,  98,  99,  137, 138, 139, 140, 141, 142, 143, 146, 147, 148, 149};
  for (int effect : effects) {
    SCOPED_TRACE(effect);
    EXPECT_TRUE(SamePixels(Compose(effect, 1, oldPicture, newPicture), oldPicture));
  }
}

// 600 x 480 makes shreds b = 3 thick with nothing left over (no overlap), 160 rows and 200 columns.
// Each row's reach is one draw, top row first: r = RandomInt(2j) - j + w with j = W / 10, so a
// frame can be replayed from the generator state it started from. At p = 5 the jitter exceeds the
// reach and rows with a negative reach stay old.
TEST(BarEffectsShreds, RowsFollowTheirDrawsFromTheTop) {
  const Bitmap oldPicture = MakeOldPicture(600, 480);
  const Bitmap newPicture = MakeNewPicture(600, 480);
  for (int progress : {5, 20}) {
    SCOPED_TRACE(progress);
    const int w = progress * 6, j = 60;
    const std::uint32_t start = 0x1234567u + progress;
    RandomSeed = start;
    const Bitmap frame = Compose(65, progress, oldPicture, newPicture);
    RandomSeed = start;
    int emptyRows = 0;
    for (int o = 0; o < 480; o += 3) {
      const int r = static_cast<int>(RandomInt(2 * j)) - j + w;
      const int newFrom = r > 0 ? 600 - r : 600;
      emptyRows += r <= 0;
      for (int y = o; y < o + 3; ++y) {
        int count = 0;
        for (int x = 0; x < 600; ++x) count += IsNew(frame, x, y);
        ASSERT_EQ(count, 600 - newFrom) << "row " << y;
        if (newFrom < 600) {
          ASSERT_TRUE(IsNew(frame, newFrom, y)) << "row " << y;
        }
      }
    }
    if (progress == 5) {
      EXPECT_GT(emptyRows, 0);
    }
    ExpectNewInPlace(frame);
  }
}

// Columns, left to right, growing out from the horizon: each column is new from cy - r / 2 to
// cy + r / 2 with r = RandomInt(2j) - j + h, j = H / 10.
TEST(BarEffectsShreds, ColumnsOutFromHorizonFollowTheirDrawsFromTheLeft) {
  const Bitmap oldPicture = MakeOldPicture(600, 480);
  const Bitmap newPicture = MakeNewPicture(600, 480);
  const int h = 96, j = 48;  // p = 20
  RandomSeed = 0xCAFEF00Du;
  const Bitmap frame = Compose(78, 20, oldPicture, newPicture);
  RandomSeed = 0xCAFEF00Du;
  for (int o = 0; o < 600; o += 3) {
    const int half = (static_cast<int>(RandomInt(2 * j)) - j + h) / 2;
    for (int x = o; x < o + 3; ++x) {
      int count = 0;
      for (int y = 0; y < 480; ++y) count += IsNew(frame, x, y);
      ASSERT_EQ(count, 2 * half) << "column " << x;
      ASSERT_TRUE(IsNew(frame, x, 240 - half)) << "column " << x;
      ASSERT_TRUE(IsNew(frame, x, 240 + half - 1)) << "column " << x;
    }
  }
  ExpectNewInPlace(frame);
}

// The shreds and speckles draw from the shared sequence as it stands, one draw per shred or per
// speck test, so two calls differ and the sequencer's random choice sees the advanced state.
// 600 x 480, p = 50 (w = 300, h = 240): 160 rows and 200 columns of shreds; speckle rows have 480
// lanes of 20 tests, speckle columns 600 lanes of 24.
TEST(BarEffectsRandom, UnseededEffectsAdvanceTheSharedGenerator) {
  struct Case {
    int effect, draws;
  };
  const Case cases[] = {{65, 160}, {68, 160}, {76, 200}, {79, 200}, {100, 360}, {109, 360},
                        {124, 9600}, {125, 9600}, {126, 14400}, {127, 14400}};
  const Bitmap oldPicture = MakeOldPicture(600, 480);
  const Bitmap newPicture = MakeNewPicture(600, 480);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.effect);
    const std::uint32_t start = 0x5EED0000u + c.effect;
    RandomSeed = start;
    const Bitmap first = Compose(c.effect, 50, oldPicture, newPicture);
    EXPECT_EQ(RandomSeed, AdvancedSeed(start, c.draws));
    const Bitmap second = Compose(c.effect, 50, oldPicture, newPicture);
    EXPECT_EQ(RandomSeed, AdvancedSeed(start, 2 * c.draws));
    EXPECT_FALSE(SamePixels(first, second));
  }
}

// Speckles on 640 x 480 at p = 50: the solid part, then specks of side s in blocks counted from
// the edge, none beyond n specks. Speck k is kept with probability q = 2/k up to t = 3n/4 specks
// (so the first two always) and 1/k beyond; lanes step by s / 2 = 1 pixel, so s lanes cover each
// pixel and it shows new with probability 1 - (1 - q)^s.
struct SpeckleCase {
  int effect;
  bool columns;  // speckles stacked along x, growing along y
  bool fromEnd;  // from the right or the bottom
  int reach, s, n, t;
};

// Checks the solid part, that specks are whole and that none lies beyond n specks, and counts for
// every k the lane positions in which speck k shows.
void CheckSpeckleFrame(const Bitmap& frame, const SpeckleCase& c, std::vector<int>& shown) {
  const int length = c.columns ? frame.Height() : frame.Width();
  const int extent = c.columns ? frame.Width() : frame.Height();
  for (int across = 0; across < extent; ++across) {
    for (int along = 0; along < length; ++along) {
      // Distance ahead of the solid edge, 0 for the first pixel outside it.
      const int ahead = c.fromEnd ? length - c.reach - 1 - along : along - c.reach;
      const int x = c.columns ? across : along, y = c.columns ? along : across;
      const bool isNew = IsNew(frame, x, y);
      if (ahead < 0) {
        ASSERT_TRUE(isNew) << "(" << x << ", " << y << ") behind the edge";
      } else if (ahead >= c.n * c.s) {
        ASSERT_FALSE(isNew) << "(" << x << ", " << y << ") beyond the specks";
      } else {
        const int blockStart = ahead - ahead % c.s;
        const int firstAlong = c.fromEnd ? length - c.reach - 1 - blockStart : c.reach + blockStart;
        const int fx = c.columns ? across : firstAlong, fy = c.columns ? firstAlong : across;
        ASSERT_EQ(isNew, IsNew(frame, fx, fy)) << "(" << x << ", " << y << ") splits a speck";
        // The first positions of the frame are covered by fewer lanes; leave them out of the rates.
        if (ahead == blockStart && across >= c.s) shown[ahead / c.s + 1] += isNew;
      }
    }
  }
}

TEST(BarEffectsSpeckles, SolidEdgeWithSpecksThinningAheadOfIt) {
  // Rows: g = 64, s = 3, n = 21, t = 16; columns: g = 48, s = 2, n = 24, t = 18.
  const SpeckleCase cases[] = {{124, false, true, 320, 3, 21, 16},
                               {125, false, false, 320, 3, 21, 16},
                               {126, true, true, 240, 2, 24, 18},
                               {127, true, false, 240, 2, 24, 18}};
  // Neighbouring lanes share pixels, so one frame is a small sample; the generator moves on
  // between calls and each frame scatters afresh.
  const int frames = 6;
  const Bitmap oldPicture = MakeOldPicture(640, 480);
  const Bitmap newPicture = MakeNewPicture(640, 480);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.effect);
    RandomSeed = 77;
    std::vector<int> shown(c.n + 1, 0);
    for (int call = 0; call < frames; ++call) {
      const Bitmap frame = Compose(c.effect, 50, oldPicture, newPicture);
      CheckSpeckleFrame(frame, c, shown);
      ExpectNewInPlace(frame);
      ASSERT_FALSE(HasFatalFailure());
    }
    const double positions = frames * ((c.columns ? 640 : 480) - c.s);
    for (int k = 1; k <= c.n; ++k) {
      const double q = k <= c.t ? std::min(1.0, 2.0 / k) : 1.0 / k;
      double missed = 1;
      for (int i = 0; i < c.s; ++i) missed *= 1 - q;
      EXPECT_NEAR(shown[k] / positions, 1 - missed, 0.06) << "speck " << k;
    }
  }
}

// Speckles along rows are put together lane by lane, each row merged from the lanes covering it.
// The frame must show exactly the union of every lane's solid part and kept specks as
// rectangles, drawn from the same sequence: lanes of side 2 and 3 one row apart, of side 5 two
// rows apart, and a frame whose first lanes are cut by its top.
TEST(BarEffectsSpeckles, RowLanesShowExactlyTheUnionOfTheirRectangles) {
  struct Case {
    int effect, width, height, progress;
  };
  const Case cases[] = {{124, 640, 40, 50}, {125, 640, 40, 50}, {124, 200, 30, 30},
                        {125, 1100, 21, 40}, {124, 1100, 21, 65}, {125, 70, 9, 99}};
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "effect " << c.effect << " " << c.width << "x" << c.height << " p=" << c.progress);
    const bool fromRight = c.effect == 124;
    const int length = c.width, reach = ComputeProgressSize(c.width, c.height, c.progress).Width;
    const int g = reach < length ? length / 10 : 0;
    const int s = std::max(2, g / 20), n = g / s, t = (3 * g) / (4 * s);
    RandomSeed = 4242;
    TComplexRegion region;
    for (int lane = 0; lane < c.height; lane += s / 2) {
      if (fromRight)
        region.AddRect(length - reach, lane, length, lane + s);
      else
        region.AddRect(0, lane, reach, lane + s);
      for (int k = n; k >= 1; --k)
        if (RandomInt(static_cast<std::uint32_t>(k)) <= (k <= t ? 1u : 0u)) {
          const int at = fromRight ? length - reach - s - (k - 1) * s : reach + (k - 1) * s;
          region.AddRect(at, lane, at + s, lane + s);
        }
    }
    const std::uint32_t seedAfter = RandomSeed;
    const Mask expected = region.MakeRegion(c.width, c.height);
    RandomSeed = 4242;
    const Bitmap frame = Compose(c.effect, c.progress, MakeOldPicture(c.width, c.height), MakeNewPicture(c.width, c.height));
    EXPECT_EQ(RandomSeed, seedAfter);
    for (int y = 0; y < c.height; ++y)
      for (int x = 0; x < c.width; ++x)
        ASSERT_EQ(IsNew(frame, x, y), expected.Contains(x, y)) << "at " << x << "," << y;
  }
}

// Random squares are seeded from the new picture: the same frame whatever the shared state,
// which is left as it was, and a square once new stays new at higher progress.
TEST(BarEffectsRandomSquares, SeededFramesRepeatAndRestoreTheSharedGenerator) {
  const Bitmap oldPicture = MakeOldPicture(640, 480);
  const Bitmap newPicture = MakeNewPicture(640, 480);
  RandomSeed = 12345;
  const Bitmap first = Compose(128, 50, oldPicture, newPicture);
  EXPECT_EQ(RandomSeed, 12345u);
  RandomSeed = 0xFFFFFFFFu;
  const Bitmap second = Compose(128, 50, oldPicture, newPicture);
  EXPECT_EQ(RandomSeed, 0xFFFFFFFFu);
  EXPECT_TRUE(SamePixels(first, second));
  ExpectNewInPlace(first);

  const Bitmap otherSeed = Compose(128, 50, oldPicture, MakeNewPicture(640, 480, 0x13579BDFu));
  EXPECT_FALSE(SamePixels(first, otherSeed));
}

TEST(BarEffectsRandomSquares, SquaresAppearOneByOneAndStay) {
  const Bitmap oldPicture = MakeOldPicture(640, 480);
  const Bitmap newPicture = MakeNewPicture(640, 480);
  const int side = 20;  // 2 * (480 / 50 + 1): a 32 x 24 grid of 768 squares
  std::vector<bool> shown(32 * 24, false);
  int previous = 0;
  for (int progress : {10, 30, 60, 90}) {
    SCOPED_TRACE(progress);
    const Bitmap frame = Compose(128, progress, oldPicture, newPicture);
    int count = 0;
    for (int cy = 0; cy < 24; ++cy)
      for (int cx = 0; cx < 32; ++cx) {
        const bool isNew = IsNew(frame, cx * side, cy * side);
        // Whole squares only.
        ASSERT_EQ(IsNew(frame, cx * side + side - 1, cy * side + side - 1), isNew);
        ASSERT_EQ(IsNew(frame, cx * side + side - 1, cy * side), isNew);
        if (shown[cy * 32 + cx]) {
          ASSERT_TRUE(isNew) << "square " << cx << ", " << cy << " went away";
        }
        shown[cy * 32 + cx] = isNew;
        count += isNew;
      }
    // Each square's draw is uniform in 0..99, so about p percent of them show.
    EXPECT_GT(count, previous);
    EXPECT_NEAR(count, 768 * progress / 100, 768 / 10);
    previous = count;
  }
}


}  // namespace
}  // namespace lumivor
