// The live show against the run's own sequencer: every frame it hands out, wherever it was moved
// to, is the frame a render of the same request draws there; its clock runs at the show's rate
// with and without a sound device; its sound is the run's join and lasts as long as the show.
#include "app/run/live_show.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/run/conversion_job.h"
#include "app/run_test_support.h"
#include "app/sound_test_support.h"
#include "support/scratch_folder.h"

namespace lumivor {
namespace {

using namespace std::chrono_literals;

std::uint64_t frame_hash(const Bitmap& frame) {
  std::uint64_t hash = 1469598103934665603ull;
  for (int y = 0; y < frame.Height(); ++y) {
    const std::uint8_t* row = frame.ScanLine(y);
    for (int x = 0; x < frame.Width() * 4; ++x) {
      if (x % 4 == 3) continue;  // the fourth byte carries no colour
      hash = (hash ^ row[x]) * 1099511628211ull;
    }
  }
  return hash;
}

// Every frame of the run the request describes, drawn by a sequencer readied as the run readies it
// (with the given timing in place of the plan).
std::vector<std::uint64_t> rendered_hashes(const RunRequest& request, const std::optional<ShowTiming>& timing = {}) {
  FrameSequencer sequencer;
  sequencer.Photos = [&]() -> const std::vector<std::string>& { return request.Photos; };
  if (timing) {
    PrepareSequencer(request, sequencer, *timing);
  } else {
    PrepareSequencer(request, sequencer);
  }
  Bitmap canvas(request.Width, request.Height, 32);
  std::vector<std::uint64_t> hashes;
  while (sequencer.ReadFrameCanvas(canvas) == 0) hashes.push_back(frame_hash(canvas));
  return hashes;
}

class LiveShowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Three photos that differ in content and shape, so that a frame of the wrong photo, the wrong
    // effect or the wrong point of a move cannot pass for the right one.
    const struct {
      const char* name;
      SamplePicture picture;
      int width, height;
    } photos[] = {
        {"one.jpg", SamplePicture::Landscape, 160, 120},
        {"two.bmp", SamplePicture::Pattern, 120, 120},
        {"three.jpg", SamplePicture::Landscape, 90, 160},
    };
    for (const auto& photo : photos) {
      const Bitmap picture = MakeSamplePicture(photo.picture, photo.width, photo.height);
      std::vector<std::uint8_t> bytes;
      std::string error;
      if (std::string(photo.name).ends_with(".bmp")) {
        ASSERT_TRUE(EncodeBmp24(picture, bytes, error)) << error;
      } else {
        bytes = testing::EncodeJpeg(picture);
      }
      ASSERT_TRUE(testing::WriteWholeFile(folder / photo.name, bytes));
      request.Photos.push_back(folder / photo.name);
    }
    request.Width = 160;
    request.Height = 96;
    request.RateNumerator = 10;
    request.HoldSeconds = 1;
    request.TransitionSeconds = 0.5;
    request.RandomEffects = false;
    request.Motion = MotionKind::Zoom;
  }

  testing::ScratchFolder folder;
  RunRequest request;
};

TEST(LiveShowText, ClockTextCutsToTenths) {
  const struct {
    double seconds;
    const char* text;
  } cases[] = {
      {0, "00:00.0"}, {-3, "00:00.0"}, {0.1, "00:00.1"}, {59.99, "00:59.9"}, {61.25, "01:01.2"}, {4530.5, "75:30.5"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.seconds);
    EXPECT_EQ(PositionText(c.seconds), c.text);
  }
  // A frame's own start time maps back to that frame, at rates that do not divide a second too.
  for (const FrameRateParts rate : {FrameRateParts{30, 1}, FrameRateParts{30000, 1001}, FrameRateParts{25, 1}}) {
    for (const std::int64_t frame : {0, 1, 29, 30, 1799, 100000}) {
      SCOPED_TRACE(std::to_string(rate.Numerator) + " " + std::to_string(frame));
      EXPECT_EQ(FrameAtSeconds(FrameSeconds(frame, rate), rate), frame);
    }
  }
}

// Scrubbing: forward, backward past transitions, to both ends; the effects in turn, drawn from a
// seed, and chosen from a list, with and without motion.
TEST_F(LiveShowTest, AScrubbedFrameIsTheRendersFrame) {
  struct Case {
    const char* name;
    bool random;
    std::optional<std::uint32_t> seed;
    std::vector<int> order;
    MotionKind motion;
    std::vector<PhotoChoices> perPhoto;
  };
  // Photos timed on their own: the second holds 2.3 s with a 0.2 s transition after it, the third
  // a 0.4 s hold and draws its own effect (65 draws from the generator on every frame it composes).
  PhotoChoices longHold, shortHold;
  longHold.HoldSeconds = 2.3;
  longHold.TransitionSeconds = 0.2;
  shortHold.HoldSeconds = 0.4;
  shortHold.TransitionEffect = 65;
  const Case cases[] = {
      {"in turn, zoom", false, 77u, {}, MotionKind::Zoom, {}},
      {"drawn, seeded, pan", true, 1234u, {}, MotionKind::Pan, {}},
      {"listed, still", false, std::nullopt, {7, 60, 120}, MotionKind::None, {}},
      {"own times, drawn, zoom", true, 42u, {}, MotionKind::Zoom, {{}, longHold, shortHold}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RunRequest run = request;
    run.RandomEffects = c.random;
    run.Seed = c.seed;
    run.EffectOrder = c.order;
    run.Motion = c.motion;
    run.PerPhoto = c.perPhoto;
    const std::vector<std::uint64_t> expected = rendered_hashes(run);
    LiveShow show;
    show.SoundOutput = false;
    std::string error;
    ASSERT_TRUE(show.Open(run, 0, error)) << error;
    ASSERT_EQ(show.FrameCount(), static_cast<std::int64_t>(expected.size()));
    const std::int64_t last = show.FrameCount() - 1;
    // Inside transitions and holds, forward by one and two (read on) and by more (sought), back to
    // the start and past the end, which stays on the last frame.
    for (const std::int64_t frame : {std::int64_t{7}, std::int64_t{12}, std::int64_t{13}, std::int64_t{15},
                                     std::int64_t{22}, std::int64_t{3}, last - 9, last, std::int64_t{0}, last + 40}) {
      SCOPED_TRACE(frame);
      show.SeekFrame(frame);
      const std::int64_t at = std::min(frame, last);
      ASSERT_EQ(show.Position(), at);
      ASSERT_TRUE(show.WaitForCurrentFrame(10s)) << show.RenderError();
      const LiveShow::Frame shown = show.CurrentFrame();
      ASSERT_EQ(shown.Index, at);
      ASSERT_NE(shown.Picture, nullptr);
      EXPECT_EQ(frame_hash(*shown.Picture), expected[static_cast<std::size_t>(at)]);
    }
  }
}

TEST_F(LiveShowTest, AStepMovesExactlyOneFrameAndPauses) {
  request.Seed = 5;
  const std::vector<std::uint64_t> expected = rendered_hashes(request);
  LiveShow show;
  show.SoundOutput = false;
  std::string error;
  ASSERT_TRUE(show.Open(request, 0, error)) << error;
  const std::int64_t last = show.FrameCount() - 1;
  struct Case {
    std::int64_t from, step, to;
  };
  const Case cases[] = {
      {10, 1, 11}, {11, 1, 12}, {12, -1, 11}, {5, -1, 4}, {0, -1, 0}, {last, 1, last}, {last, -1, last - 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.from) + " by " + std::to_string(c.step));
    show.SeekFrame(c.from);
    show.StepFrames(c.step);
    ASSERT_EQ(show.Position(), c.to);
    ASSERT_TRUE(show.WaitForCurrentFrame(10s)) << show.RenderError();
    const LiveShow::Frame shown = show.CurrentFrame();
    ASSERT_EQ(shown.Index, c.to);
    EXPECT_EQ(frame_hash(*shown.Picture), expected[static_cast<std::size_t>(c.to)]);
  }
  // A step while playing pauses and counts from where the play stood.
  show.SeekFrame(20);
  show.Play();
  std::this_thread::sleep_for(250ms);
  show.StepFrames(1);
  EXPECT_FALSE(show.Playing());
  const std::int64_t stepped = show.Position();
  EXPECT_GE(stepped, 22);
  EXPECT_LE(stepped, 25);
  std::this_thread::sleep_for(150ms);
  EXPECT_EQ(show.Position(), stepped);
}

// The clock runs at the show's rate: the steady one without sound, the device's with it (the
// dummy driver takes samples at their rate as a real device does). Playing, every frame the clock
// passes is the render's frame.
TEST_F(LiveShowTest, PlayingFollowsTheClock) {
  testing::WriteTrack(folder / "song.wav", 20.0);
  struct Case {
    const char* name;
    bool withTrack;
    bool soundOutput;
  };
  const Case cases[] = {
      {"no tracks", false, true},
      {"tracks, no device", true, false},
      {"tracks on the dummy device", true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RunRequest run = request;
    run.Seed = 9;
    if (c.withTrack) run.Tracks = {folder / "song.wav"};
    const std::vector<std::uint64_t> expected = rendered_hashes(run);
    LiveShow show;
    show.SoundOutput = c.soundOutput;
    show.AudioDriver = "dummy";
    std::string error;
    ASSERT_TRUE(show.Open(run, 4, error)) << error;
    if (c.withTrack) {
      ASSERT_TRUE(show.WaitForSound(30s)) << show.SoundError();
      EXPECT_EQ(show.SoundDeviceOpen(), c.soundOutput);
    }
    ASSERT_TRUE(show.WaitForCurrentFrame(10s));
    show.Play();
    const auto start = std::chrono::steady_clock::now();
    std::int64_t previous = -1;
    int mismatches = 0;
    while (std::chrono::steady_clock::now() - start < 1200ms) {
      const LiveShow::Frame shown = show.CurrentFrame();
      if (shown.Index != previous && shown.Picture) {
        if (frame_hash(*shown.Picture) != expected[static_cast<std::size_t>(shown.Index)]) ++mismatches;
        previous = shown.Index;
      }
      std::this_thread::sleep_for(2ms);
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const std::int64_t position = show.Position();
    show.Pause();
    EXPECT_TRUE(show.Playing() == false);
    EXPECT_EQ(mismatches, 0);
    // 10 frames a second from frame 4. The dummy device sleeps a buffer's time after each buffer
    // it takes, so on a busy machine it falls behind the wall clock, and the picture rightly with
    // it; it is never ahead, and it does go on.
    const double expectedPosition = 4 + seconds * 10;
    if (c.withTrack && c.soundOutput) {
      EXPECT_LE(static_cast<double>(position), expectedPosition + 1.5);
      EXPECT_GE(static_cast<double>(position), 4 + seconds * 10 * 0.5);
    } else {
      EXPECT_NEAR(static_cast<double>(position), expectedPosition, 2.5);
    }
    EXPECT_GE(show.FramesShown(), 8);
    EXPECT_LE(show.FramesDropped(), 1);
    EXPECT_GE(show.SecondsToFirstFrame(), 0.0);
    EXPECT_LT(show.SecondsToFirstFrame(), 0.5);
    // Paused, the clock stands.
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(show.Position(), position);
  }
}

// The sound is the run's join: as long as the video under the rules that fill it (cut with longer
// tracks, loop with a short one), to within one MP3 frame; and none when the tracks cannot fill a
// cut, as the video has none. The private folder of the join is gone once the sound is ready.
TEST_F(LiveShowTest, TheSoundLastsAsLongAsTheShow) {
  testing::WriteTrack(folder / "long.wav", 20.0);
  testing::WriteTrack(folder / "short.wav", 0.7);
  struct Case {
    const char* name;
    const char* track;
    MusicEnd rule;
    LiveShow::SoundState state;
  };
  const Case cases[] = {
      {"cut", "long.wav", MusicEnd::Cut, LiveShow::SoundState::Ready},
      {"fade", "long.wav", MusicEnd::Fade, LiveShow::SoundState::Ready},
      {"loop", "short.wav", MusicEnd::Loop, LiveShow::SoundState::Ready},
      {"cut, too short", "short.wav", MusicEnd::Cut, LiveShow::SoundState::None},
  };
  const auto private_folders = [] {
    int count = 0;
    for (const auto& entry : std::filesystem::directory_iterator(std::filesystem::temp_directory_path())) {
      if (entry.path().filename().string().starts_with("lumivor-preview-")) ++count;
    }
    return count;
  };
  const int foldersBefore = private_folders();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RunRequest run = request;
    run.Tracks = {folder / c.track};
    run.MusicEndRule = c.rule;
    LiveShow show;
    show.SoundOutput = false;
    std::string error;
    ASSERT_TRUE(show.Open(run, 0, error)) << error;
    show.WaitForSound(30s);
    ASSERT_EQ(show.Sound(), c.state) << show.SoundError();
    EXPECT_EQ(private_folders(), foldersBefore);
    if (c.state != LiveShow::SoundState::Ready) continue;
    ASSERT_EQ(show.SoundRate(), JoinedSampleRate);
    ASSERT_EQ(show.SoundChannels(), 2);
    const double soundSeconds =
        static_cast<double>(show.SoundSamples().size()) / show.SoundChannels() / show.SoundRate();
    const double showSeconds = FrameSeconds(show.FrameCount(), show.Rate());
    EXPECT_NEAR(soundSeconds, showSeconds, 1152.0 / JoinedSampleRate);
  }
}

// Beat sync: once the music is joined the preview cuts where the render will, on the clicks of a
// 120 bpm track, tells the tempo, and draws every frame as a sequencer readied with that timing.
// Without beat sync the same music leaves the plan alone.
TEST_F(LiveShowTest, BeatSyncCutsOnTheMusicsBeats) {
  std::vector<double> clicks;
  for (double t = 0.25; t < 20; t += 0.5) clicks.push_back(t);
  testing::WriteWav(folder / "clicks.wav", testing::Clicks(20, clicks, -6));
  for (const bool beatSync : {true, false}) {
    SCOPED_TRACE(beatSync ? "beat sync" : "planned times");
    RunRequest run = request;
    run.Seed = 8;
    // Cuts planned at 2.3 s, 4.6 s and 6.9 s, between clicks; the last one's nearest click is
    // earlier, so the fitted show is shorter than the plan.
    run.HoldSeconds = 1.8;
    run.Tracks = {folder / "clicks.wav"};
    run.BeatSync = beatSync;
    const ShowTiming plan = RequestTiming(run);
    LiveShow show;
    show.SoundOutput = false;
    std::atomic<int> timingReports{0};
    show.OnTimingReady = [&] { ++timingReports; };
    std::string error;
    ASSERT_TRUE(show.Open(run, 0, error)) << error;
    ASSERT_TRUE(show.WaitForSound(60s)) << show.SoundError();
    const ShowTiming timing = show.Timing();
    // The sound was joined for the show as it is drawn: after a fit that changed the show's
    // length, joined again at the fitted length, as the run does.
    const double soundSeconds =
        static_cast<double>(show.SoundSamples().size()) / show.SoundChannels() / show.SoundRate();
    EXPECT_NEAR(soundSeconds, FrameSeconds(show.FrameCount(), show.Rate()), 1152.0 / JoinedSampleRate);
    EXPECT_EQ(timingReports.load(), beatSync ? 1 : 0);
    if (!beatSync) {
      EXPECT_EQ(show.BeatSyncText(), "");
      EXPECT_EQ(timing.HoldFrames, plan.HoldFrames);
      continue;
    }
    ASSERT_LT(timing.FrameCount(), plan.FrameCount()) << "the case should make the show shorter";
    const std::string text = show.BeatSyncText();
    // The tempo of a few seconds of joined (compressed) music is read to within a beat a minute.
    ASSERT_TRUE(text.starts_with("Beat sync: ") && text.ends_with(" bpm")) << text;
    EXPECT_NEAR(std::stod(text.substr(11)), 120.0, 1.0) << text;
    ASSERT_NE(timing.HoldFrames, plan.HoldFrames);
    std::int64_t start = 0;
    for (std::size_t i = 0; i < timing.HoldFrames.size(); ++i) {
      start += timing.TransitionFrames[i] + timing.HoldFrames[i];
      double nearest = 1e9;
      for (const double click : clicks) nearest = std::min(nearest, std::abs(click - start / 10.0));
      EXPECT_LE(nearest, 0.1) << "the cut at frame " << start;
    }
    const std::vector<std::uint64_t> expected = rendered_hashes(run, timing);
    ASSERT_EQ(show.FrameCount(), static_cast<std::int64_t>(expected.size()));
    for (const std::int64_t frame : {std::int64_t{24}, std::int64_t{49}, std::int64_t{3}, show.FrameCount() - 1}) {
      SCOPED_TRACE(frame);
      show.SeekFrame(frame);
      ASSERT_TRUE(show.WaitForCurrentFrame(10s)) << show.RenderError();
      const LiveShow::Frame shown = show.CurrentFrame();
      ASSERT_EQ(shown.Index, frame);
      EXPECT_EQ(frame_hash(*shown.Picture), expected[static_cast<std::size_t>(frame)]);
    }
  }
}

// A title card is one more picture in front of the photos, as in the run: the preview counts its
// frames, draws it where the first photo would otherwise be held, still reaches the last photo's
// frames, and removes the card's file when it closes.
TEST_F(LiveShowTest, ATitleCardComesFirstAndGoesWithTheShow) {
  const auto cardFiles = [] {
    int count = 0;
    for (const auto& entry : std::filesystem::directory_iterator(std::filesystem::temp_directory_path()))
      count += entry.path().filename().string().starts_with("lumivor-title-");
    return count;
  };
  const int before = cardFiles();
  RunRequest plain = request;
  plain.Seed = 5u;
  RunRequest titled = plain;
  titled.Title = "Summer";
  const std::vector<std::uint64_t> plainFrames = rendered_hashes(plain);

  LiveShow show;
  show.SoundOutput = false;
  std::string error;
  ASSERT_TRUE(show.Open(titled, 0, error)) << error;
  EXPECT_EQ(cardFiles(), before + 1);
  const ShowTiming timing = RequestTiming(titled);
  ASSERT_EQ(show.FrameCount(), timing.FrameCount());
  ASSERT_GT(show.FrameCount(), static_cast<std::int64_t>(plainFrames.size()));
  // The card's hold: something is drawn, and it is not the first photo.
  const std::int64_t cardHold = timing.TransitionFrames[0];
  show.SeekFrame(cardHold);
  ASSERT_TRUE(show.WaitForCurrentFrame(10s)) << show.RenderError();
  EXPECT_NE(frame_hash(*show.CurrentFrame().Picture), plainFrames[static_cast<std::size_t>(cardHold)]);
  // The last photo's hold is still there, one picture later than without the card.
  const std::int64_t lastHold = timing.TransitionStartFrame(timing.HoldFrames.size() - 1) +
                                timing.TransitionFrames[timing.HoldFrames.size() - 1];
  show.SeekFrame(lastHold);
  ASSERT_TRUE(show.WaitForCurrentFrame(10s)) << show.RenderError();
  EXPECT_TRUE(show.RenderError().empty());
  show.Close();
  EXPECT_EQ(cardFiles(), before);
}

// A photo that goes missing after the show was opened stops the drawing with its reason; the show
// does not hang or crash, and Close ends it.
TEST_F(LiveShowTest, APhotoThatCannotBeLoadedIsReported) {
  RunRequest run = request;
  run.Photos[1] = folder / "gone.jpg";
  LiveShow show;
  show.SoundOutput = false;
  std::string error;
  ASSERT_TRUE(show.Open(run, 0, error)) << error;
  show.SeekFrame(20);
  EXPECT_FALSE(show.WaitForCurrentFrame(10s));
  EXPECT_NE(show.RenderError().find("gone.jpg"), std::string::npos) << show.RenderError();
  show.Close();
  EXPECT_FALSE(show.IsOpen());

  RunRequest empty = request;
  empty.Photos.clear();
  EXPECT_FALSE(show.Open(empty, 0, error));
  RunRequest huge = request;
  huge.Width = MaxFrameSide + 1;
  EXPECT_FALSE(show.Open(huge, 0, error));
}

}  // namespace
}  // namespace lumivor
