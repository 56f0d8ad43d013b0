#include <gtest/gtest.h>

#include <cstdint>

#include "raster/arith.h"
#include "effects/random.h"

namespace lumivor {
namespace {

TEST(Arith, MulDivRoundsHalvesAwayFromZero) {
  struct Case {
    int a, b, c, want;
  };
  const Case cases[] = {
      {-49, 82, 50, -80}, {49, 82, 50, 80}, {1, 1, 2, 1},         {-1, 1, 2, -1},       {3, 1, 2, 2},
      {640, 50, 100, 320}, {320, 480, 640, 240}, {1, 1, 3, 0},    {2, 1, 3, 1},         {5, -1, 2, -3},
      {2000000000, 3, 4, 1500000000}, {7, 5, 0, -1},             {2000000000, 2, 1, -1},
  };
  for (const Case& c : cases) EXPECT_EQ(MulDiv(c.a, c.b, c.c), c.want) << c.a << "*" << c.b << "/" << c.c;
}

TEST(Arith, RoundTiesToEvenTruncAndCeil) {
  struct Case {
    long double x;
    int round, trunc, ceil;
  };
  const Case cases[] = {{2.5L, 2, 2, 3}, {3.5L, 4, 3, 4}, {-2.5L, -2, -2, -2}, {-3.5L, -4, -3, -3},
                        {0.49L, 0, 0, 1}, {-0.51L, -1, 0, 0}, {7.0L, 7, 7, 7}};
  for (const Case& c : cases) {
    EXPECT_EQ(Round(c.x), c.round) << static_cast<double>(c.x);
    EXPECT_EQ(Trunc(c.x), c.trunc) << static_cast<double>(c.x);
    EXPECT_EQ(Ceil(c.x), c.ceil) << static_cast<double>(c.x);
  }
}

TEST(Random, RandomIntIsTheLinearCongruentialSequenceScaledByN) {
  RandomSeed = 0;
  EXPECT_EQ(RandomInt(100), 0u);  // seed 1: 1 * 100 >> 32
  EXPECT_EQ(RandomSeed, 1u);
  EXPECT_EQ(RandomInt(100), 3u);  // seed 134775814
  EXPECT_EQ(RandomSeed, 134775814u);
  const std::uint32_t before = RandomSeed;
  EXPECT_EQ(RandomInt(0), 0u);
  EXPECT_EQ(RandomSeed, before * 134775813u + 1u);
  RandomSeed = 0xFFFFFFFFu;
  EXPECT_EQ(RandomInt(1u << 31), (static_cast<std::uint64_t>(0xFFFFFFFFu * 134775813u + 1u) << 31) >> 32);
}

TEST(Random, SeededRandomRestoresTheSharedSeedOnEveryExit) {
  RandomSeed = 4242;
  try {
    SeededRandom seeded(7);
    EXPECT_EQ(RandomSeed, 7u);
    RandomInt(10);
    throw 1;
  } catch (int) {
  }
  EXPECT_EQ(RandomSeed, 4242u);
}

}  // namespace
}  // namespace lumivor
