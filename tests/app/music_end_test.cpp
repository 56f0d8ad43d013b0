// The three ways the music ends with the video, planned from the tracks' length.
#include <gtest/gtest.h>

#include <string>

#include "app/run/audio_joiner.h"

namespace lumivor {
namespace {

// Two photos held 1 s with 1 s transitions at 10 fps: a 3-second show by its delays, a video of
// 52 frames (5.2 s).
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
      // Only tracks that outlast the show by its delays, cut at the video's last frame.
      {MusicEnd::Cut, 2000000, 1, {false, 1, 1, 0, false, 0}},
      {MusicEnd::Cut, 20000000, 1, {true, 1, 1, 5.2, false, 0}},
      // Longer than the delays but shorter than the video with its tail: the sound is the tracks'.
      {MusicEnd::Cut, 4000000, 1, {true, 1, 1, 4.0, false, 0}},
      // Fade: the short track is used, fading at its own end; the long one by the last frame.
      {MusicEnd::Fade, 2000000, 1, {true, 1, 1, 2, true, 2}},
      {MusicEnd::Fade, 20000000, 1, {true, 1, 1, 5.2, true, 5.2}},
      // Loop: the short track heard three times to reach the video's end, laid out once more in
      // case its stated length is longer than its sound.
      {MusicEnd::Loop, 2000000, 1, {true, 3, 4, 5.2, true, 5.2}},
      {MusicEnd::Loop, 20000000, 1, {true, 1, 1, 5.2, true, 5.2}},
      // Exactly twice the video: no third play heard.
      {MusicEnd::Loop, 2600000, 1, {true, 2, 3, 5.2, true, 5.2}},
      // Two tracks lasting 3 s together: the list twice, three times laid out.
      {MusicEnd::Loop, 3000000, 2, {true, 2, 6, 5.2, true, 5.2}},
      // 0.1 s tracks: 52 plays heard, and enough laid out were each 0.05 s.
      {MusicEnd::Loop, 100000, 1, {true, 52, 104, 5.2, true, 5.2}},
      // A loop of tiny tracks stops at the cap and fades at its own end.
      {MusicEnd::Loop, 1000, 1, {true, MaxLoopedTracks, MaxLoopedTracks, 0.5, true, 0.5}},
      {MusicEnd::Loop, 1000, 3, {true, MaxLoopedTracks / 3, MaxLoopedTracks / 3 * 3, 0.166, true, 0.166}},
      // Tracks of no known length cannot be stretched to any length.
      {MusicEnd::Loop, 0, 1, {false, 1, 1, 0, false, 0}},
      {MusicEnd::Fade, 0, 1, {false, 1, 1, 0, false, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(MusicEndName(c.end)) + " " + std::to_string(c.trackMicroseconds) + " x" +
                 std::to_string(c.trackCount));
    const MusicPlan plan = PlanMusic(TwoPhotoShow(c.end, c.trackCount), c.trackMicroseconds);
    EXPECT_EQ(plan.Used, c.expected.Used);
    EXPECT_EQ(plan.Repeats, c.expected.Repeats);
    EXPECT_EQ(plan.Inputs, c.expected.Inputs);
    EXPECT_NEAR(plan.Seconds, c.expected.Seconds, 1e-6);
    EXPECT_EQ(plan.Fade, c.expected.Fade);
    EXPECT_NEAR(plan.FadeEnd, c.expected.FadeEnd, 1e-6);
  }
}

// The video's length at rates that do not divide a second: the sound's end and the fade's end are
// the last frame's, in whole samples of the joined file.
TEST(MusicEnd, LengthAndFadeFollowTheFrameCountAndRate) {
  struct Case {
    int numerator, denominator, hold, transition;
    MusicEnd end;
    std::int64_t endSample;  // (4 transitions + 3 holds + 2) frames x denominator x 44100 / numerator
    const char* fade;        // the graph's fade, or "" for none
  };
  const Case cases[] = {
      {10, 1, 10, 10, MusicEnd::Cut, 317520, ""},                                  // 72 frames: 7.2 s
      {25, 1, 25, 25, MusicEnd::Fade, 312228, ",afade=t=out:ss=224028:ns=88200"},  // 177 frames: 7.08 s
      {30000, 1001, 30, 30, MusicEnd::Loop, 311952, ",afade=t=out:ss=223752:ns=88200"},  // 212 frames: 7.07 s
      {24000, 1001, 24, 24, MusicEnd::Cut, 312687, ""},                            // 170 frames: 7.09 s
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.numerator) + "/" + std::to_string(c.denominator));
    AudioJoinRequest request = TwoPhotoShow(c.end);
    request.PhotoCount = 3;
    request.RateNumerator = c.numerator;
    request.RateDenominator = c.denominator;
    request.HoldFrames = c.hold;
    request.TransitionFrames = c.transition;
    const MusicPlan plan = PlanMusic(request, 60000000);
    EXPECT_EQ(SecondsToSamples(plan.Seconds, JoinedSampleRate), c.endSample);
    const std::string text = MusicOptionText(plan);
    EXPECT_NE(text.find("atrim=end_sample=" + std::to_string(c.endSample) + std::string(c.fade) + "[music]"),
              std::string::npos)
        << text;
    EXPECT_EQ(text.find("afade") != std::string::npos, *c.fade != 0) << text;
  }
}

// A show whose photos are timed one by one gives its frame count; the sound ends with its last frame.
TEST(MusicEnd, AShowsOwnFrameCountSetsTheLength) {
  struct Case {
    std::int64_t showFrames;
    int numerator, denominator;
    std::int64_t endSample;
  };
  const Case cases[] = {
      {0, 10, 1, 229320},           // none given: 52 frames from the photo count and delays
      {87, 10, 1, 383670},          // 8.7 s
      {240, 30000, 1001, 353153},   // 8.008 s
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.showFrames);
    for (const MusicEnd end : {MusicEnd::Cut, MusicEnd::Fade, MusicEnd::Loop}) {
      AudioJoinRequest request = TwoPhotoShow(end);
      request.ShowFrames = c.showFrames;
      request.RateNumerator = c.numerator;
      request.RateDenominator = c.denominator;
      EXPECT_EQ(SecondsToSamples(VideoSeconds(request), JoinedSampleRate), c.endSample);
      EXPECT_EQ(SecondsToSamples(PlanMusic(request, 60000000).Seconds, JoinedSampleRate), c.endSample);
    }
  }
}

// Whether the tracks outlast the show is weighed against the video the run really makes once it
// counted its frames: tracks longer than the whole-second delays but shorter than the video would
// otherwise be used under the cut rule and stop before the last frame.
TEST(MusicEnd, TracksMustOutlastTheVideoTheRunCounted) {
  struct Case {
    const char* name;
    std::int64_t showFrames;  // 0: the delays' 3 s
    int numerator, denominator;
    std::int64_t trackMicroseconds;
    MusicEnd end;
    bool used;
    double seconds;
  };
  const Case cases[] = {
      {"delays only: 4 s outlast 3 s", 0, 10, 1, 4000000, MusicEnd::Cut, true, 4.0},
      {"4 s under a 5.2 s video", 52, 10, 1, 4000000, MusicEnd::Cut, false, 0},
      {"5.3 s under a 5.2 s video", 52, 10, 1, 5300000, MusicEnd::Cut, true, 5.2},
      {"a beat-fitted 5.5 s video outlasts 5.3 s", 55, 10, 1, 5300000, MusicEnd::Cut, false, 0},
      {"8.008 s at 30000/1001 against 8 s", 240, 30000, 1001, 8000000, MusicEnd::Cut, false, 0},
      {"8.008 s at 30000/1001 against 8.01 s", 240, 30000, 1001, 8010000, MusicEnd::Cut, true, 8.008},
      // Fade uses shorter tracks too, fading at their own end.
      {"fade: 4 s under a 5.2 s video", 52, 10, 1, 4000000, MusicEnd::Fade, true, 4.0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    AudioJoinRequest request = TwoPhotoShow(c.end);
    request.ShowFrames = c.showFrames;
    request.RateNumerator = c.numerator;
    request.RateDenominator = c.denominator;
    const MusicPlan plan = PlanMusic(request, c.trackMicroseconds);
    EXPECT_EQ(plan.Used, c.used);
    EXPECT_NEAR(plan.Seconds, c.seconds, 1e-6);
    if (plan.Used) {
      EXPECT_LE(plan.Seconds * 1e6, static_cast<double>(c.trackMicroseconds));
    }
  }
}

TEST(MusicEnd, OptionTextsAndNames) {
  // One input: no concat; the length rounded up to the microsecond so that -t never cuts first.
  EXPECT_EQ(MusicOptionText(PlanMusic(TwoPhotoShow(MusicEnd::Cut), 20000000)),
            " -t 5.200000 -c:a libmp3lame  -ac 2 -ab 128000 -ar 44100 -filter_complex "
            "[0:a]aresample=44100,asetpts=N/SR/TB,atrim=end_sample=229320[music] -map [music] ");
  // Two tracks laid out twice, then once more: six inputs one after another.
  const std::string loop = MusicOptionText(PlanMusic(TwoPhotoShow(MusicEnd::Loop, 2), 3000000));
  EXPECT_NE(loop.find(" -filter_complex [0:a][1:a][2:a][3:a][4:a][5:a]concat=n=6:v=0:a=1,aresample=44100,"),
            std::string::npos)
      << loop;
  // A sound shorter than the fade fades over all of it.
  EXPECT_NE(MusicOptionText(PlanMusic(TwoPhotoShow(MusicEnd::Fade), 1500000))
                .find("atrim=end_sample=66150,afade=t=out:ss=0:ns=66150[music]"),
            std::string::npos);

  for (const MusicEnd end : {MusicEnd::Cut, MusicEnd::Fade, MusicEnd::Loop}) EXPECT_EQ(ParseMusicEnd(MusicEndName(end)), end);
  EXPECT_EQ(ParseMusicEnd("Fade"), std::nullopt);
  EXPECT_EQ(MusicPlanText(MusicEnd::Loop, PlanMusic(TwoPhotoShow(MusicEnd::Loop), 2000000)),
            "Music end: loop, the sound lasts 5.20 s, the tracks played 3 times, fading out over its last 2 s");
}

}  // namespace
}  // namespace lumivor
