#include "app/show/show_timing.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "app/run/run_request.h"

namespace lumivor {
namespace {

TEST(ShowTimingTest, UniformTimingCountsAsTheShowFrameCount) {
  struct Case {
    int Photos, Hold, Transition;
    std::int64_t Frames;  // written out: the sum the video's length and the sound rely on
  };
  const Case cases[] = {
      {0, 150, 60, 62}, {1, 150, 60, 272}, {3, 150, 60, 692}, {2, 1, 1, 7}, {5, 7, 3, 55},
      // Counts below 1 are drawn as one frame each.
      {2, 0, -4, 7},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.Photos) + " photos, " + std::to_string(c.Hold) + "/" + std::to_string(c.Transition));
    const ShowTiming timing = UniformTiming(c.Photos, c.Hold, c.Transition);
    EXPECT_EQ(timing.HoldFrames.size(), static_cast<std::size_t>(c.Photos));
    EXPECT_EQ(timing.TransitionFrames.size(), static_cast<std::size_t>(c.Photos) + 1);
    EXPECT_EQ(timing.FrameCount(), c.Frames);
    if (c.Hold >= 1 && c.Transition >= 1) {
      EXPECT_EQ(ShowFrameCount(c.Photos, c.Hold, c.Transition), c.Frames);
    }
  }
}

TEST(ShowTimingTest, TransitionStartsFollowEveryHoldAndTransitionBeforeThem) {
  // Transitions 4, 2, 6, 1 around holds 10, 3, 5.
  const ShowTiming timing{{10, 3, 5}, {4, 2, 6, 1}};
  struct Case {
    std::size_t Transition;
    std::int64_t Start;
  };
  const Case cases[] = {{0, 0}, {1, 14}, {2, 19}, {3, 30}, {4, 31}, {99, 31}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Transition);
    EXPECT_EQ(timing.TransitionStartFrame(c.Transition), c.Start);
  }
  EXPECT_EQ(timing.FrameCount(), 31 + ShowTailFrames);
}

TEST(ShowTimingTest, RequestTimingTakesEachPhotosOwnHoldAndFollowingTransition) {
  PhotoChoices longHold, shortTransition, both, lookOnly;
  longHold.HoldSeconds = 2.5;
  shortTransition.TransitionSeconds = 0.1;
  both.HoldSeconds = 0.3;
  both.TransitionSeconds = 1.7;
  lookOnly.Screen = ScreenMode::Fill;
  struct Case {
    const char* Name;
    int RateNumerator, RateDenominator;
    std::vector<PhotoChoices> PerPhoto;
    std::vector<int> Holds, Transitions;
  };
  const Case cases[] = {
      {"no choices", 30, 1, {}, {30, 30, 30}, {15, 15, 15, 15}},
      {"tenths", 30, 1, {longHold, shortTransition, both}, {75, 30, 9}, {15, 15, 3, 51}},
      {"fewer choices than photos", 30, 1, {lookOnly, longHold}, {30, 75, 30}, {15, 15, 15, 15}},
      {"more choices than photos", 10, 1, {both, both, both, both}, {3, 3, 3}, {5, 17, 17, 17}},
      {"NTSC rate", 30000, 1001, {longHold, {}, shortTransition}, {75, 30, 30}, {15, 15, 15, 3}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    RunRequest request;
    request.Photos = {"a.jpg", "b.jpg", "c.jpg"};
    request.RateNumerator = c.RateNumerator;
    request.RateDenominator = c.RateDenominator;
    request.HoldSeconds = 1;
    request.TransitionSeconds = 0.5;
    request.PerPhoto = c.PerPhoto;
    const ShowTiming timing = RequestTiming(request);
    EXPECT_EQ(timing.HoldFrames, c.Holds);
    EXPECT_EQ(timing.TransitionFrames, c.Transitions);
  }
}

}  // namespace
}  // namespace lumivor
