#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <set>
#include <string>

#include "effect_test_support.h"
#include "effects/effect.h"
#include "effects/random.h"

namespace lumivor {
namespace {

using testing::Compose;
using testing::MakeNewPicture;
using testing::MakeOldPicture;

TEST(EffectTable, HoldsTheStoredNamesInOrder) {
  struct Case {
    int effect;
    const char* name;
  };
  const Case cases[] = {{1, "Expand from right"},  {18, "Expand from bottom"},      {33, "Expand from bottom"},
                        {25, "Expand in from top"}, {34, "Expand in from top"},      {76, "Unven shred from bottom"},
                        {119, "Fade"},              {135, "Push and sqeeze down"},   {146, "Rectangles apear from left and disapear to right"},
                        {172, "Channel Mix"},       {176, "Slide out from top"}};
  for (const Case& c : cases) EXPECT_STREQ(EffectList[c.effect - 1].Name, c.name) << c.effect;
}

TEST(EffectTable, EveryEntryHasItsOwnProcedure) {
  std::set<TEffectProc> procs;
  for (const TEffect& e : EffectList) {
    ASSERT_NE(e.Proc, nullptr) << e.Name;
    procs.insert(e.Proc);
  }
  EXPECT_EQ(procs.size(), static_cast<std::size_t>(EffectCount));
}

TEST(EffectContract, ProgressSizesScaleTheLongerSide) {
  struct Case {
    int W, H, p, w, h;
  };
  const Case cases[] = {{640, 480, 50, 320, 240}, {640, 480, 1, 6, 5},  {480, 640, 50, 240, 320},
                        {49, 30, 1, 0, 0},        {100, 100, 99, 99, 99}, {1, 1, 50, 1, 1}};
  for (const Case& c : cases) {
    const ProgressSize s = ComputeProgressSize(c.W, c.H, c.p);
    EXPECT_EQ(s.Width, c.w) << c.W << "x" << c.H << " at " << c.p;
    EXPECT_EQ(s.Height, c.h) << c.W << "x" << c.H << " at " << c.p;
  }
}

TEST(EffectContract, EndsShowTheOldAndTheNewPicture) {
  const Bitmap oldPicture = MakeOldPicture(33, 17);
  const Bitmap newPicture = MakeNewPicture(33, 17);
  for (int effect = 1; effect <= EffectCount; ++effect) {
    SCOPED_TRACE(effect);
    for (int p : {-5, 0}) ASSERT_TRUE(testing::SamePixels(Compose(effect, p, oldPicture, newPicture), oldPicture));
    for (int p : {100, 130}) ASSERT_TRUE(testing::SamePixels(Compose(effect, p, oldPicture, newPicture), newPicture));
  }
}

TEST(EffectContract, SameNamedEntriesDrawDifferentFrames) {
  const Bitmap oldPicture = MakeOldPicture(64, 48);
  const Bitmap newPicture = MakeNewPicture(64, 48);
  for (auto [a, b] : {std::pair{18, 33}, std::pair{25, 34}}) {
    SCOPED_TRACE(a);
    EXPECT_FALSE(testing::SamePixels(Compose(a, 40, oldPicture, newPicture), Compose(b, 40, oldPicture, newPicture)));
  }
}

// Every effect at every progress on awkward frame sizes: the sanitizers catch any write outside
// the frame, and the new picture must come out unchanged. LUMIVOR_EXHAUSTIVE=1 adds full-HD frames
// at every progress (minutes under the sanitizers).
TEST(EffectContract, EveryEffectDrawsEveryProgressOnAnyFrameSize) {
  struct Size {
    int W, H;
  };
  std::vector<Size> sizes = {{1, 1}, {2, 1}, {1, 3}, {3, 2}, {7, 5}, {10, 10}, {33, 17}, {17, 33}, {49, 50}, {64, 48}};
  std::vector<int> bigProgress = {1, 33, 50, 67, 99};
  const char* exhaustive = std::getenv("LUMIVOR_EXHAUSTIVE");
  const bool everything = exhaustive && std::strcmp(exhaustive, "1") == 0;
  if (everything) {
    sizes.push_back({1280, 720});
    bigProgress.clear();
  }
  const std::uint32_t seeds[] = {0x2468ACE0u, 0x13579BDFu};
  for (const Size& size : sizes) {
    const Bitmap oldPicture = MakeOldPicture(size.W, size.H);
    for (std::uint32_t seed : seeds) {
      const Bitmap newPicture = MakeNewPicture(size.W, size.H, seed);
      Bitmap frame;
      for (int effect = 1; effect <= EffectCount; ++effect)
        for (int p = 0; p <= 100; ++p) {
          ComposeTransitionFrame(frame, oldPicture, newPicture, effect, p);
          ASSERT_EQ(frame.Width(), size.W);
        }
      ASSERT_TRUE(testing::SamePixels(newPicture, MakeNewPicture(size.W, size.H, seed))) << size.W << "x" << size.H;
    }
  }
  // Full HD: a few progress values here, all of them in exhaustive runs.
  const Bitmap oldPicture = MakeOldPicture(1920, 1080);
  const Bitmap newPicture = MakeNewPicture(1920, 1080);
  Bitmap frame;
  for (int effect = 1; effect <= EffectCount; ++effect) {
    SCOPED_TRACE(effect);
    if (everything) {
      for (int p = 0; p <= 100; ++p) ComposeTransitionFrame(frame, oldPicture, newPicture, effect, p);
    } else {
      for (int p : bigProgress) ComposeTransitionFrame(frame, oldPicture, newPicture, effect, p);
    }
  }
  EXPECT_TRUE(testing::SamePixels(newPicture, MakeNewPicture(1920, 1080)));
}

}  // namespace
}  // namespace lumivor
