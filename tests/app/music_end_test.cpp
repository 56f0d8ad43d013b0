// The three ways the music ends with the video, planned from the tracks' length.
#include <gtest/gtest.h>

#include <string>

#include "app/run/audio_joiner.h"

namespace lumivor {
namespace {

// Two photos held 1 s with 1 s transitions at 10 fps: a 3-second show by its delays, a video of
// 52 frames (5.2 s), joined sound of 6 whole seconds.
AudioJoinRequest TwoPhotoShow(MusicEnd end, int trackCount = 1) {
  AudioJoinRequest request;
  request.Tracks.assign(trackCount, "/music/track.mp3");
  request.PhotoCount = 2;
  request.PhotoDelaySeconds = 1;
  request.EffectDelaySeconds = 1;
  request.HoldFrames = 10;
  request.TransitionFrames = 10;
  request.RateNumerator = 10;
  request.RateDenominator = 1;
  request.End = end;
  return request;
}

TEST(MusicEnd, PlansForShortAndLongTracks) {
  struct Case {
    MusicEnd end;
    std::int64_t trackMicroseconds;
    int trackCount;
    MusicPlan expected;
  };
  const Case cases[] = {
      // The described rule: only tracks that outlast the show, cut at the video's whole seconds.
      {MusicEnd::Cut, 2000000, 1, {false, 1, 0, false, 0}},
      {MusicEnd::Cut, 20000000, 1, {true, 1, 6, false, 0}},
      // Fade: the short track is used, fading at its own end; the long one by the last frame.
      {MusicEnd::Fade, 2000000, 1, {true, 1, 2, true, 2}},
      {MusicEnd::Fade, 20000000, 1, {true, 1, 6, true, 5.2}},
      // Loop: the short track three times to reach the video's end.
      {MusicEnd::Loop, 2000000, 1, {true, 3, 6, true, 5.2}},
      {MusicEnd::Loop, 20000000, 1, {true, 1, 6, true, 5.2}},
      // Two tracks lasting 3 s together: the list twice.
      {MusicEnd::Loop, 3000000, 2, {true, 2, 6, true, 5.2}},
      // A loop of tiny tracks stops at the cap and fades at its own end.
      {MusicEnd::Loop, 1000, 1, {true, MaxLoopedTracks, 0.5, true, 0.5}},
      // Tracks of no known length cannot be stretched to any length.
      {MusicEnd::Loop, 0, 1, {false, 1, 0, false, 0}},
      {MusicEnd::Fade, 0, 1, {false, 1, 0, false, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(MusicEndName(c.end)) + " " + std::to_string(c.trackMicroseconds));
    const MusicPlan plan = PlanMusic(TwoPhotoShow(c.end, c.trackCount), c.trackMicroseconds);
    EXPECT_EQ(plan.Used, c.expected.Used);
    EXPECT_EQ(plan.Repeats, c.expected.Repeats);
    EXPECT_NEAR(plan.Seconds, c.expected.Seconds, 1e-6);
    EXPECT_EQ(plan.Fade, c.expected.Fade);
    EXPECT_NEAR(plan.FadeEnd, c.expected.FadeEnd, 1e-6);
  }
}

TEST(MusicEnd, OptionTextsAndNames) {
  // Cut keeps the described option text to the character.
  EXPECT_EQ(MusicOptionText(PlanMusic(TwoPhotoShow(MusicEnd::Cut), 20000000)), JoinedAudioOptionText(6));
  EXPECT_EQ(MusicOptionText(PlanMusic(TwoPhotoShow(MusicEnd::Fade), 20000000)),
            JoinedAudioOptionText(6) + " -af afade=t=out:st=3.200:d=2.000 ");
  // A sound shorter than the fade fades over all of it.
  EXPECT_EQ(MusicOptionText(PlanMusic(TwoPhotoShow(MusicEnd::Fade), 1500000)),
            JoinedAudioOptionText(2) + " -af afade=t=out:st=0.000:d=1.500 ");

  for (const MusicEnd end : {MusicEnd::Cut, MusicEnd::Fade, MusicEnd::Loop}) EXPECT_EQ(ParseMusicEnd(MusicEndName(end)), end);
  EXPECT_EQ(ParseMusicEnd("Fade"), std::nullopt);
  EXPECT_EQ(MusicPlanText(MusicEnd::Loop, PlanMusic(TwoPhotoShow(MusicEnd::Loop), 2000000)),
            "Music end: loop, the sound lasts 6.0 s, the tracks played 3 times, fading out over its last 2 s");
}

}  // namespace
}  // namespace lumivor
