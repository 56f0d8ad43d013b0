#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "effect_test_support.h"
#include "raster/arith.h"
#include "effects/random.h"

namespace lumivor {
namespace {

using testing::Compose;
using testing::CountNew;
using testing::IsNew;
using testing::MakeNewPicture;
using testing::MakeOldPicture;
using testing::NewArea;
using testing::NewTag;
using testing::OldTag;
using testing::OriginOf;
using testing::SamePixels;
using testing::TagOf;

constexpr int Fade = 119;
constexpr int PivotFromTopLeft = 120;
constexpr int PivotFromBottomLeft = 121;
constexpr int PivotFromTopRight = 122;
constexpr int PivotFromBottomRight = 123;
constexpr int Pixelate = 168;
constexpr int Dissolve = 169;
constexpr int RandomBarsHorizontal = 170;
constexpr int RandomBarsVertical = 171;
constexpr int ChannelMix = 172;

std::uint8_t Channel(std::uint32_t pixel, int channel) { return (pixel >> (8 * channel)) & 0xFF; }

Bitmap MakeSolid(int width, int height, std::uint32_t bgra, std::uint32_t sourceSeed = 0x2468ACE0u) {
  Bitmap b(width, height, 32);
  b.Fill(bgra);
  b.SetSourceSeed(sourceSeed);
  return b;
}

// Colours that differ from pixel to pixel and between the two pictures, so that a blend or channel
// copy taken from the wrong place shows.
Bitmap MakePattern(int width, int height, int salt, std::uint8_t tag, std::uint32_t sourceSeed = 0x2468ACE0u) {
  Bitmap b(width, height, 32);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const std::uint32_t blue = (x * 7 + y * 3 + salt) & 0xFF;
      const std::uint32_t green = (x * 5 + y * 11 + 3 * salt) & 0xFF;
      const std::uint32_t red = (x * 13 + y * 2 + 7 * salt) & 0xFF;
      b.SetPixel(x, y, blue | (green << 8) | (red << 16) | (std::uint32_t{tag} << 24));
    }
  b.SetSourceSeed(sourceSeed);
  return b;
}

int BlendChannel(int oldValue, int newValue, int weight) {
  return oldValue + static_cast<int>(std::floor((newValue - oldValue) * weight / 256.0));
}

// ---------------------------------------------------------------------------------------------
// Fade

TEST(PixelEffectsFade, BlendsEveryPixelByTheProgressWeight) {
  struct Case {
    int progress, oldBlue, newBlue, expectedBlue;
  };
  const Case cases[] = {
      {50, 200, 100, 150},  // weight 128
      {50, 0, 255, 127},
      {1, 0, 255, 2},      // weight MulDiv(256, 1, 100) = 3
      {99, 0, 255, 252},   // weight 253
      {99, 255, 0, 2},     // floor toward minus infinity: 255 - 253
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "p=" << c.progress << " old=" << c.oldBlue << " new=" << c.newBlue);
    const Bitmap oldPicture = MakeSolid(9, 7, 0x11000000u | c.oldBlue);
    const Bitmap newPicture = MakeSolid(9, 7, 0xEE000000u | c.newBlue);
    const Bitmap frame = Compose(Fade, c.progress, oldPicture, newPicture);
    for (int y = 0; y < 7; ++y)
      for (int x = 0; x < 9; ++x) {
        ASSERT_EQ(Channel(frame.Pixel(x, y), 0), c.expectedBlue) << "at " << x << "," << y;
        ASSERT_EQ(TagOf(frame, x, y), OldTag) << "the fourth byte must keep the old picture's";
      }
  }
}

// ---------------------------------------------------------------------------------------------
// Pivots

struct PivotRow {
  int effect;
  int pivotColumn;  // -1 or W
  int pivotRow;     // bottom-up: -1 or H
  int angleSign;    // the angle is angleSign * (100 - p) * pi / 200
};

PivotRow PivotOf(int effect, int width, int height) {
  switch (effect) {
    case PivotFromTopLeft: return {effect, -1, -1, 1};
    case PivotFromBottomLeft: return {effect, -1, height, -1};
    case PivotFromTopRight: return {effect, width, -1, -1};
    default: return {effect, width, height, 1};
  }
}

// The turned-back source position of every destination pixel, straight from the rule: 16-bit
// fixed point cosine and sine, then floor of each product sum. The effect finds the covered run
// of each row up front instead; this checks that run pixel for pixel.
TEST(PixelEffectsPivot, EveryPixelTakesItsTurnedBackSourcePixel) {
  struct Size {
    int width, height;
  };
  const Size sizes[] = {{64, 48}, {37, 71}};
  const int progresses[] = {1, 23, 50, 77, 99};
  for (const Size& size : sizes)
    for (int effect = PivotFromTopLeft; effect <= PivotFromBottomRight; ++effect)
      for (int p : progresses) {
        SCOPED_TRACE(::testing::Message() << "effect " << effect << " p=" << p << " " << size.width << "x"
                                          << size.height);
        const int W = size.width, H = size.height;
        const PivotRow pivot = PivotOf(effect, W, H);
        const long double angle = pivot.angleSign * (100 - p) * Pi / 200;
        const std::int64_t c = Trunc(65536 * std::cos(angle));
        const std::int64_t s = Trunc(-65536 * std::sin(angle));
        const Bitmap oldPicture = MakeOldPicture(W, H);
        const Bitmap frame = Compose(effect, p, oldPicture, MakeNewPicture(W, H));
        for (int y = 0; y < H; ++y)
          for (int x = 0; x < W; ++x) {
            const std::int64_t u = x + 1 - pivot.pivotColumn;
            const std::int64_t v = (H - 1 - y) + 1 - pivot.pivotRow;
            const std::int64_t sx = pivot.pivotColumn + ((u * c - v * s) >> 16);
            const std::int64_t sr = pivot.pivotRow + ((u * s + v * c) >> 16);
            if (sx >= 0 && sx < W && sr >= 0 && sr < H) {
              ASSERT_TRUE(IsNew(frame, x, y)) << "at " << x << "," << y;
              const Point expected{static_cast<int>(sx), static_cast<int>(H - 1 - sr)};
              ASSERT_EQ(OriginOf(frame, x, y), expected) << "at " << x << "," << y;
            } else {
              ASSERT_EQ(frame.Pixel(x, y), oldPicture.Pixel(x, y)) << "at " << x << "," << y;
            }
          }
      }
}

TEST(PixelEffectsPivot, SwingsInOverTheCornerNextToItsHinge) {
  // 640 x 480; points ten percent in from each corner, or on the frame edge for the thin wedge of
  // p = 1, which is about 1.6 % of the height wide next to the hinge side.
  struct Case {
    int effect, progress;
    Point newPoint, oldPoint;
  };
  const Case cases[] = {
      {PivotFromTopLeft, 1, {0, 0}, {20, 0}},
      {PivotFromBottomLeft, 1, {0, 479}, {20, 479}},
      {PivotFromTopRight, 1, {639, 0}, {619, 0}},
      {PivotFromBottomRight, 1, {639, 479}, {619, 479}},
      {PivotFromTopLeft, 50, {64, 48}, {576, 432}},
      {PivotFromBottomLeft, 50, {64, 432}, {576, 48}},
      {PivotFromTopRight, 50, {576, 48}, {64, 432}},
      {PivotFromBottomRight, 50, {576, 432}, {64, 48}},
  };
  const Bitmap oldPicture = MakeOldPicture(640, 480);
  const Bitmap newPicture = MakeNewPicture(640, 480);
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "effect " << c.effect << " p=" << c.progress);
    const Bitmap frame = Compose(c.effect, c.progress, oldPicture, newPicture);
    EXPECT_TRUE(IsNew(frame, c.newPoint.X, c.newPoint.Y)) << "should be new at " << c.newPoint.X << "," << c.newPoint.Y;
    EXPECT_FALSE(IsNew(frame, c.oldPoint.X, c.oldPoint.Y)) << "should be old at " << c.oldPoint.X << "," << c.oldPoint.Y;
    if (c.progress == 1) {
      const Rect area = NewArea(frame);
      EXPECT_LE(area.Width(), 10) << "the wedge at p = 1 is a few pixels wide";
    }
  }
}

TEST(PixelEffectsPivot, NearlyTheWholeFrameIsNewAtTheEnd) {
  const Bitmap oldPicture = MakeOldPicture(320, 240);
  const Bitmap newPicture = MakeNewPicture(320, 240);
  for (int effect = PivotFromTopLeft; effect <= PivotFromBottomRight; ++effect) {
    SCOPED_TRACE(effect);
    const Bitmap frame = Compose(effect, 99, oldPicture, newPicture);
    EXPECT_GT(CountNew(frame), 320 * 240 * 97 / 100);
  }
}

// ---------------------------------------------------------------------------------------------
// Pixelate

TEST(PixelEffectsPixelate, CrossBlendsOnlyAroundTheMiddle) {
  struct Case {
    int progress, expectedBlue;
    std::uint8_t expectedTag;
  };
  const Case cases[] = {
      {40, 200, OldTag},  // no blend yet: the old picture magnified
      {41, 194, OldTag},  // 5 %: weight 13
      {50, 150, OldTag},  // 50 %: weight 128
      {59, 105, OldTag},  // 95 %: weight 243
      {60, 100, NewTag},  // no blend any more: the new picture magnified
  };
  const Bitmap oldPicture = MakeSolid(64, 48, 0x11000000u | 200);
  const Bitmap newPicture = MakeSolid(64, 48, 0xEE000000u | 100);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.progress);
    const Bitmap frame = Compose(Pixelate, c.progress, oldPicture, newPicture);
    for (int y = 0; y < 48; ++y)
      for (int x = 0; x < 64; ++x) {
        ASSERT_EQ(Channel(frame.Pixel(x, y), 0), c.expectedBlue) << "at " << x << "," << y;
        ASSERT_EQ(TagOf(frame, x, y), c.expectedTag) << "at " << x << "," << y;
      }
  }
}

TEST(PixelEffectsPixelate, MagnifiesTheCentreOfOnePicture) {
  // 640 x 480 at p = 30 and p = 70: x0 = 252, y0 = 189, the 136 x 102 centre is stretched onto
  // 1648 x 1236 pixels centred on the frame, so the frame shows about columns 293..346 and rows
  // 220..259 of the magnified picture. One pixel of slack for the sampling convention.
  struct Case {
    int progress;
    std::uint8_t tag;
  };
  const Case cases[] = {{30, OldTag}, {70, NewTag}};
  const Rect shown{293, 220, 347, 260};
  const Bitmap oldPicture = MakeOldPicture(640, 480);
  const Bitmap newPicture = MakeNewPicture(640, 480);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.progress);
    const Bitmap frame = Compose(Pixelate, c.progress, oldPicture, newPicture);
    Rect seen{640, 480, 0, 0};
    for (int y = 0; y < 480; ++y)
      for (int x = 0; x < 640; ++x) {
        ASSERT_EQ(TagOf(frame, x, y), c.tag) << "at " << x << "," << y;
        const Point o = OriginOf(frame, x, y);
        seen = {std::min(seen.Left, o.X), std::min(seen.Top, o.Y), std::max(seen.Right, o.X + 1),
                std::max(seen.Bottom, o.Y + 1)};
      }
    EXPECT_NEAR(seen.Left, shown.Left, 1);
    EXPECT_NEAR(seen.Top, shown.Top, 1);
    EXPECT_NEAR(seen.Right, shown.Right, 1);
    EXPECT_NEAR(seen.Bottom, shown.Bottom, 1);
  }
}

// On frames only a few pixels across, the two-line minimum of the magnified rectangle would reach
// past the far edge of the picture; it must be taken from inside instead.
TEST(PixelEffectsPixelate, TinyFramesMagnifyOnlyPixelsOfThePicture) {
  struct Size {
    int width, height;
  };
  const Size sizes[] = {{1, 1}, {2, 2}, {3, 3}, {640, 2}, {3, 500}};
  for (const Size& size : sizes)
    for (int p = 1; p <= 99; ++p) {
      if (p >= 41 && p <= 59) continue;  // blended colours carry no origin
      SCOPED_TRACE(::testing::Message() << size.width << "x" << size.height << " p=" << p);
      const Bitmap frame = Compose(Pixelate, p, MakeOldPicture(size.width, size.height),
                                   MakeNewPicture(size.width, size.height));
      for (int y = 0; y < size.height; ++y)
        for (int x = 0; x < size.width; ++x) {
          ASSERT_EQ(TagOf(frame, x, y), p <= 50 ? OldTag : NewTag) << "at " << x << "," << y;
          const Point o = OriginOf(frame, x, y);
          ASSERT_TRUE(o.X >= 0 && o.X < size.width && o.Y >= 0 && o.Y < size.height)
              << "at " << x << "," << y << " from " << o.X << "," << o.Y;
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Seeded random effects

TEST(PixelEffectsSeeded, RepeatedCallsGiveTheSameFrameAndKeepTheSharedSequence) {
  const int effects[] = {Fade, PivotFromTopLeft, PivotFromBottomLeft, PivotFromTopRight, PivotFromBottomRight,
                         Pixelate, Dissolve, RandomBarsHorizontal, RandomBarsVertical, ChannelMix};
  const Bitmap oldPicture = MakePattern(61, 43, 1, OldTag);
  const Bitmap newPicture = MakePattern(61, 43, 2, NewTag, 0x9E3779B9u);
  for (int effect : effects)
    for (int p : {1, 45, 99}) {
      SCOPED_TRACE(::testing::Message() << "effect " << effect << " p=" << p);
      RandomSeed = 0xC0FFEEu;
      const Bitmap first = Compose(effect, p, oldPicture, newPicture);
      EXPECT_EQ(RandomSeed, 0xC0FFEEu);
      RandomSeed = 77;  // a different shared state must not change the frame
      const Bitmap second = Compose(effect, p, oldPicture, newPicture);
      EXPECT_EQ(RandomSeed, 77u);
      EXPECT_TRUE(SamePixels(first, second));
    }
}

// Which pixels each seeded copy takes, drawn with the shared generator itself in the documented
// order: pixels and rows bottom-up, columns left to right, one draw each.
std::vector<bool> ExpectedCopies(int effect, int width, int height, int progress, std::uint32_t seed) {
  std::vector<bool> chosen(static_cast<std::size_t>(width) * height);  // indexed by frame y * width + x
  const SeededRandom seeded(seed);
  const auto p = static_cast<std::uint32_t>(progress);
  if (effect == Dissolve) {
    for (int y = height - 1; y >= 0; --y)
      for (int x = 0; x < width; ++x) chosen[y * width + x] = RandomInt(100) < p;
  } else if (effect == RandomBarsHorizontal) {
    for (int y = height - 1; y >= 0; --y) {
      const bool row = RandomInt(100) < p;
      for (int x = 0; x < width; ++x) chosen[y * width + x] = row;
    }
  } else {
    for (int x = 0; x < width; ++x) {
      const bool column = RandomInt(100) < p;
      for (int y = 0; y < height; ++y) chosen[y * width + x] = column;
    }
  }
  return chosen;
}

TEST(PixelEffectsSeeded, CopiesExactlyThePixelsRowsAndColumnsTheSeedChooses) {
  struct Case {
    int effect, progress;
    std::uint32_t seed;
  };
  const Case cases[] = {
      {Dissolve, 1, 0x2468ACE0u},           {Dissolve, 50, 0x2468ACE0u},
      {Dissolve, 99, 12345u},               {RandomBarsHorizontal, 10, 0x2468ACE0u},
      {RandomBarsHorizontal, 50, 99u},      {RandomBarsHorizontal, 90, 0x2468ACE0u},
      {RandomBarsVertical, 10, 0x2468ACE0u}, {RandomBarsVertical, 50, 99u},
      {RandomBarsVertical, 90, 0x2468ACE0u},
  };
  const int W = 67, H = 45;
  const Bitmap oldPicture = MakePattern(W, H, 1, OldTag);
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "effect " << c.effect << " p=" << c.progress << " seed " << c.seed);
    const Bitmap newPicture = MakePattern(W, H, 40, NewTag, c.seed);
    const Bitmap frame = Compose(c.effect, c.progress, oldPicture, newPicture);
    const std::vector<bool> chosen = ExpectedCopies(c.effect, W, H, c.progress, c.seed);
    for (int y = 0; y < H; ++y)
      for (int x = 0; x < W; ++x) {
        const Bitmap& expected = chosen[y * W + x] ? newPicture : oldPicture;
        ASSERT_EQ(frame.Pixel(x, y), expected.Pixel(x, y)) << "at " << x << "," << y;
      }
  }
}

TEST(PixelEffectsSeeded, DissolveAtHigherProgressCopiesASuperset) {
  const int W = 320, H = 240;
  const Bitmap oldPicture = MakeOldPicture(W, H);
  const Bitmap newPicture = MakeNewPicture(W, H);
  const Bitmap half = Compose(Dissolve, 50, oldPicture, newPicture);
  const Bitmap more = Compose(Dissolve, 60, oldPicture, newPicture);
  const std::int64_t halfCount = CountNew(half);
  EXPECT_GT(halfCount, W * H * 45 / 100);
  EXPECT_LT(halfCount, W * H * 55 / 100);
  EXPECT_GT(CountNew(more), halfCount);
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x)
      if (IsNew(half, x, y)) {
        ASSERT_TRUE(IsNew(more, x, y)) << "lost at " << x << "," << y;
      }
}

TEST(PixelEffectsSeeded, ChannelMixBringsInOneChannelPerThird) {
  // stage = how many channels are complete; the next one is blended with weight.
  struct Case {
    int progress, stage, weight;
  };
  const Case cases[] = {
      {1, 0, 8},     // MulDiv(256, 1, 33)
      {20, 0, 155},  // MulDiv(256, 20, 33)
      {33, 0, 256},  // first channel fully replaced
      {34, 1, 8},    {50, 1, 132}, {66, 1, 256},  // two channels replaced
      {67, 2, 8},    {99, 2, 256},
  };
  const std::uint32_t seeds[] = {0x2468ACE0u, 1u, 2u, 3u, 1000u, 0x9E3779B9u};
  const int W = 23, H = 17;
  const Bitmap oldPicture = MakePattern(W, H, 5, OldTag);
  for (std::uint32_t seed : seeds) {
    int order[3];
    {
      const SeededRandom seeded(seed);
      order[0] = static_cast<int>(RandomInt(3));
      do order[1] = static_cast<int>(RandomInt(3));
      while (order[1] == order[0]);
      order[2] = 3 - order[0] - order[1];
    }
    const Bitmap newPicture = MakePattern(W, H, 90, NewTag, seed);
    for (const Case& c : cases) {
      SCOPED_TRACE(::testing::Message() << "seed " << seed << " p=" << c.progress);
      const Bitmap frame = Compose(ChannelMix, c.progress, oldPicture, newPicture);
      for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
          const std::uint32_t was = oldPicture.Pixel(x, y), arriving = newPicture.Pixel(x, y);
          const std::uint32_t got = frame.Pixel(x, y);
          for (int i = 0; i < 3; ++i) {
            const int ch = order[i];
            const int expected = i < c.stage    ? Channel(arriving, ch)
                                 : i == c.stage ? BlendChannel(Channel(was, ch), Channel(arriving, ch), c.weight)
                                                : Channel(was, ch);
            ASSERT_EQ(Channel(got, ch), expected) << "channel " << ch << " at " << x << "," << y;
          }
          ASSERT_EQ(TagOf(frame, x, y), OldTag) << "the fourth byte must keep the old picture's";
        }
    }
  }
}

}  // namespace
}  // namespace lumivor
