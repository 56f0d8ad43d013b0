// Cuts on the beat: the beats found in generated click tracks and noise, the fitting of a show's
// timing to beats, and the two together on a sound file.
#include "app/run/beat_track.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/run/conversion_job.h"
#include "app/run/run_request.h"
#include "app/settings/settings_store.h"
#include "app/show/beat_fit.h"
#include "app/window/main_window.h"
#include "media/components/ff_decoder.h"
#include "media/runtime/ff_load.h"
#include "recording_window.h"
#include "run_test_support.h"
#include "sound_test_support.h"
#include "support/scratch_folder.h"

namespace lumivor {
namespace {

std::vector<double> Grid(double first, double step, double end) {
  std::vector<double> at;
  for (double t = first; t < end; t += step) at.push_back(t);
  return at;
}

std::vector<std::int64_t> TransitionStarts(const ShowTiming& timing) {
  std::vector<std::int64_t> starts;
  for (std::size_t k = 1; k < timing.TransitionFrames.size(); ++k) starts.push_back(timing.TransitionStartFrame(k));
  return starts;
}

double NearestDistance(const std::vector<double>& to, double t) {
  double best = INFINITY;
  for (const double x : to) best = std::min(best, std::abs(x - t));
  return best;
}

TEST(BeatFit, TransitionsMoveOntoTheBeatsInReach) {
  struct Case {
    const char* name;
    ShowTiming plan;
    std::vector<double> beats;
    FrameRateParts rate;
    std::vector<std::int64_t> starts;  // expected first frames of transitions 1..photos
  };
  const Case cases[] = {
      // 120 bpm at 30 fps, a beat every 15 frames; planned starts 70, 140, 210, 280.
      {"120 bpm grid", UniformTiming(4, 50, 20), Grid(0, 0.5, 20), {30, 1}, {75, 135, 210, 285}},
      // Beats at frames 21, 25, 46, 73, 90, 99 at 10 fps; planned starts 30, 60, 90, 120. Hold 1
      // reaches 24..36 and takes 25; hold 2 reaches 49..61 with no beat and keeps 60; hold 3 finds
      // 90 on the plan; hold 4 has none in reach.
      {"irregular", UniformTiming(4, 20, 10), {2.1, 2.5, 4.6, 7.3, 9.0, 9.9}, {10, 1}, {25, 60, 90, 120}},
      // A beat every 20 s: none within a third of any 2-second hold.
      {"too sparse", UniformTiming(4, 20, 10), Grid(0.5, 20, 60), {10, 1}, {30, 60, 90, 120}},
      {"no beats", UniformTiming(3, 20, 10), {}, {10, 1}, {30, 60, 90}},
      // One-frame holds cannot change; longer own holds of the photos change by their own third.
      {"one-frame holds", UniformTiming(2, 1, 10), Grid(0, 0.35, 5), {10, 1}, {11, 22}},
      {"own holds", ShowTiming{{9, 30, 12}, {10, 10, 10, 10}}, Grid(0.07, 0.8, 10), {10, 1}, {17, 57, 81}},
      // 24000/1001 fps: beats at 1.7 s, 3.4 s, ... are frames 41, 82, 122, 163.
      {"ntsc film rate", UniformTiming(3, 30, 10), Grid(1.7, 1.7, 10), {24000, 1001}, {41, 82, 122}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const ShowTiming fitted = FitTimingToBeats(c.plan, c.beats, c.rate);
    EXPECT_EQ(fitted.TransitionFrames, c.plan.TransitionFrames);
    EXPECT_EQ(TransitionStarts(fitted), c.starts);
    EXPECT_EQ(fitted.TransitionStartFrame(0), 0);
    for (std::size_t i = 0; i < fitted.HoldFrames.size(); ++i) {
      const int planned = std::max(c.plan.HoldFrames[i], 1);
      EXPECT_GE(fitted.HoldFrames[i], std::max(1, planned - planned / 3)) << "hold " << i;
      EXPECT_LE(fitted.HoldFrames[i], planned + planned / 3) << "hold " << i;
    }
  }
}

// However many photos, the moves do not add up: the show ends within a beat of its planned end,
// every cut on a beat of the grid.
TEST(BeatFit, LongShowsStayWithinABeatOfThePlan) {
  struct Case {
    int photos, hold, transition;
    double beatSeconds;
  };
  const Case cases[] = {{200, 97, 23, 0.5}, {120, 61, 30, 0.47}, {50, 150, 45, 60.0 / 72}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.photos);
    const ShowTiming plan = UniformTiming(c.photos, c.hold, c.transition);
    const FrameRateParts rate{30, 1};
    const std::vector<double> beats = Grid(0, c.beatSeconds, 3600);
    const ShowTiming fitted = FitTimingToBeats(plan, beats, rate);
    EXPECT_LE(std::llabs(fitted.FrameCount() - plan.FrameCount()), std::llround(c.beatSeconds * 30));
    for (const std::int64_t start : TransitionStarts(fitted)) {
      ASSERT_LE(NearestDistance(beats, static_cast<double>(start) / 30), 0.5 / 30) << "frame " << start;
    }
  }
}

class BeatRun : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(decoder.LibrariesLoaded() || decoder.LoadLibraries(TFFLoader::DefaultLibraryPath()))
        << decoder.LastErrorText;
  }
  testing::ScratchFolder folder;
  TFFDecoder decoder;
  std::string error;
};

TEST_F(BeatRun, ClickTracksHaveAClearBeatAndNoiseHasNone) {
  struct Case {
    const char* name;
    testing::Sound sound;
    std::vector<double> clicks;  // empty: no clear beat expected
    double bpm;
  };
  const std::vector<double> at120 = Grid(0.25, 0.5, 20);
  const std::vector<double> at90 = Grid(0.1, 60.0 / 90, 20);
  const Case cases[] = {
      {"clicks120.wav", testing::Clicks(20, at120, -6), at120, 120},
      {"clicks90.wav", testing::Clicks(20, at90, -6), at90, 90},
      {"noise.wav", testing::Noise(20, -6, 3), {}, 0},
      {"quiet-noise.wav", testing::Noise(30, -30, 8), {}, 0},
      {"silence.wav", testing::MakeSound(10, 44100, 2, [](double) { return 0.0; }), {}, 0},
      // Too short to find more than a beat or two.
      {"short.wav", testing::Clicks(1.2, Grid(0.25, 0.5, 1.2), -6), {}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    testing::WriteWav(folder / c.name, c.sound);
    BeatTrack track;
    ASSERT_TRUE(DetectBeats(folder / c.name, track, error)) << error;
    EXPECT_EQ(track.Clear, !c.clicks.empty()) << "confidence " << track.Confidence;
    if (c.clicks.empty()) {
      EXPECT_EQ(BeatSyncLogText(track), "Beat sync: no clear beat in the music; the show keeps its planned times");
      continue;
    }
    // The tracker marks beats on its 11.6 ms hops: a tenth of a beat a minute is its resolution.
    EXPECT_NEAR(track.Bpm, c.bpm, 0.2);
    // Every click has its beat, the first ones before the tracker locked on included, and every
    // beat is on a click.
    for (const double click : c.clicks) EXPECT_LE(NearestDistance(track.BeatSeconds, click), 0.025) << click;
    for (const double beat : track.BeatSeconds) EXPECT_LE(NearestDistance(c.clicks, beat), 0.025) << beat;
  }
  BeatTrack track;
  track.Clear = true;
  track.Bpm = 120.04;
  EXPECT_EQ(BeatSyncLogText(track), "Beat sync: 120.0 bpm");
  EXPECT_FALSE(DetectBeats(folder / "missing.wav", track, error));
}

// The timing a show takes from a click track at 120 bpm: every cut within one frame of a click.
// From noise: the plan as it was, and the notice.
TEST_F(BeatRun, AShowTakesItsCutsFromTheMusic) {
  const std::vector<double> clicks = Grid(0.25, 0.5, 30);
  testing::WriteWav(folder / "clicks.wav", testing::Clicks(30, clicks, -6));
  testing::WriteWav(folder / "noise.wav", testing::Noise(30, -6, 5));
  const FrameRateParts rate{25, 1};
  // 6 photos held 2.2 s with 1.2 s transitions: cuts planned between beats.
  const ShowTiming plan = UniformTiming(6, 55, 30);

  ShowTiming timing;
  std::string line;
  ASSERT_TRUE(BeatSyncedTiming(folder / "clicks.wav", plan, rate, timing, line, error)) << error;
  EXPECT_TRUE(line == "Beat sync: 120.0 bpm" || line == "Beat sync: 120.1 bpm") << line;
  EXPECT_NE(timing.HoldFrames, plan.HoldFrames);
  for (const std::int64_t start : TransitionStarts(timing)) {
    EXPECT_LE(NearestDistance(clicks, static_cast<double>(start) / 25), 1.0 / 25) << "frame " << start;
  }

  ASSERT_TRUE(BeatSyncedTiming(folder / "noise.wav", plan, rate, timing, line, error)) << error;
  EXPECT_EQ(line, "Beat sync: no clear beat in the music; the show keeps its planned times");
  EXPECT_EQ(timing.HoldFrames, plan.HoldFrames);
}

// The decision the run and the preview share. A fitted show of another length has its sound
// joined again, unless under the cut rule the tracks, which outlast the plan, end before the
// fitted show would: then the plan stands with its notice. The fade rule plays the same tracks
// out under the longer show, so the fit is taken there.
TEST_F(BeatRun, AFitIsTakenOnlyWhereTheMusicCoversIt) {
  const std::vector<double> clicks = Grid(0.25, 0.5, 30);
  testing::WriteWav(folder / "clicks.wav", testing::Clicks(30, clicks, -6));
  testing::WriteWav(folder / "noise.wav", testing::Noise(30, -6, 4));
  const FrameRateParts rate{25, 1};
  // 4 photos held 1.52 s with 1 s transitions: every cut (2.52, 5.04, 7.56 and 10.08 s) a little
  // before a click, so the fitted show ends later than planned.
  const ShowTiming plan = UniformTiming(4, 38, 25);
  const ShowPacing pacing{rate, 38, 25, plan};
  RunRequest request;
  request.Photos = {"one.jpg", "two.jpg", "three.jpg", "four.jpg"};
  request.RateNumerator = 25;
  request.HoldSeconds = 1.52;
  request.TransitionSeconds = 1;
  request.Tracks = {folder / "clicks.wav"};
  request.MusicEndRule = MusicEnd::Cut;

  ShowBeatFit fit;
  ASSERT_TRUE(FitShowToBeats(request, pacing, folder / "clicks.wav", decoder, fit, error, [] { return true; })) << error;
  const std::int64_t fitted = fit.Timing.FrameCount();
  ASSERT_GT(fitted, plan.FrameCount()) << "the case should make the show longer";
  EXPECT_TRUE(fit.Rejoin);
  EXPECT_EQ(fit.Notice, "");
  EXPECT_EQ(fit.Text(), fit.TempoLine);
  // Tracks that end between the planned show's end and the fitted one's.
  const double between = (static_cast<double>(plan.FrameCount() + fitted) / 2) / 25;
  testing::WriteWav(folder / "between.wav", testing::Clicks(between, clicks, -6));

  struct Case {
    const char* name;
    const char* joined;  // where the beats are read
    const char* track;   // what the join's rule measures
    MusicEnd rule;
    bool taken;
    const char* notice;
  };
  const Case cases[] = {
      {"the tracks outlast the fitted show", "clicks.wav", "clicks.wav", MusicEnd::Cut, true, ""},
      {"cut: the tracks end before the fitted show", "clicks.wav", "between.wav", MusicEnd::Cut, false,
       BeatSyncMusicTooShortText},
      {"faded: played out under the fitted show", "clicks.wav", "between.wav", MusicEnd::Fade, true, ""},
      {"no clear beat", "noise.wav", "clicks.wav", MusicEnd::Cut, false, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    request.Tracks = {folder / c.track};
    request.MusicEndRule = c.rule;
    ASSERT_TRUE(FitShowToBeats(request, pacing, folder / c.joined, decoder, fit, error, [] { return true; })) << error;
    EXPECT_EQ(fit.Notice, c.notice);
    EXPECT_EQ(fit.Rejoin, c.taken);
    EXPECT_EQ(fit.Timing.FrameCount(), c.taken ? fitted : plan.FrameCount());
    if (!c.taken) {
      EXPECT_EQ(fit.Timing.HoldFrames, plan.HoldFrames);
    }
    EXPECT_EQ(fit.Text(), *c.notice != 0 ? std::string(c.notice) : fit.TempoLine);
  }

  request.Tracks = {folder / "missing.wav"};
  EXPECT_FALSE(FitShowToBeats(request, pacing, folder / "clicks.wav", decoder, fit, error, [] { return true; }));
  EXPECT_NE(error.find("missing.wav"), std::string::npos) << error;
  EXPECT_FALSE(FitShowToBeats(request, pacing, folder / "missing.wav", decoder, fit, error, [] { return true; }));
  EXPECT_EQ(error.rfind("Cannot find the beats of the joined music: ", 0), 0u) << error;
  EXPECT_EQ(fit.Timing.HoldFrames, plan.HoldFrames);
}

// What ffprobe, an outside reader, finds in a written video: its pictures decoded and counted,
// and where its sound ends and how long one of its audio frames is. Negative when it finds none.
struct Probed {
  long long VideoFrames = -1;
  double AudioEnd = -1;
  double AudioFrameSeconds = -1;
};

std::string Capture(const std::string& command) {
  std::string text;
  std::FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return text;
  char buffer[256];
  while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) text += buffer;
  ::pclose(pipe);
  return text;
}

Probed Probe(const std::string& file) {
  Probed probed;
  const std::string quoted = "'" + file + "'";
  probed.VideoFrames = std::atoll(Capture("ffprobe -v error -count_frames -select_streams v:0 -show_entries "
                                          "stream=nb_read_frames -of csv=p=0 " + quoted + " 2>/dev/null").c_str());
  const std::string packets = Capture("ffprobe -v error -select_streams a:0 -show_entries packet=pts_time,duration_time "
                                      "-of csv=p=0 " + quoted + " 2>/dev/null");
  std::size_t at = 0;
  while (at < packets.size()) {
    double pts = 0, duration = 0;
    if (std::sscanf(packets.c_str() + at, "%lf,%lf", &pts, &duration) == 2) {
      probed.AudioEnd = std::max(probed.AudioEnd, pts + duration);
      probed.AudioFrameSeconds = std::max(probed.AudioFrameSeconds, duration);
    }
    const std::size_t next = packets.find('\n', at);
    at = next == std::string::npos ? packets.size() : next + 1;
  }
  return probed;
}

// Whole runs of the window's Start over four photos with a click track at 120 bpm or with noise.
// With beat sync and clicks every cut of the video falls on a click, the video has exactly the
// fitted show's frames and its sound ends with them (the fitted show is shorter than the plan, so
// the sound was joined again); noise keeps the plan with the notice; without beat sync nothing
// of the run changes.
TEST(BeatShow, ARunCutsItsShowOnTheMusicsBeats) {
  if (std::system("ffprobe -version >/dev/null 2>&1") != 0) GTEST_SKIP() << "ffprobe is not installed";
  testing::ScratchFolder folder;
  std::vector<std::string> photos;
  for (const char* name : {"one.jpg", "two.jpg", "three.jpg", "four.jpg"}) {
    testing::WritePhoto(folder / name, 160, 120);
    photos.push_back(folder / name);
  }
  const std::vector<double> clicks = Grid(0.25, 0.5, 20);
  testing::WriteWav(folder / "clicks.wav", testing::Clicks(20, clicks, -6));
  testing::WriteWav(folder / "noise.wav", testing::Noise(20, -6, 11));
  // 4 photos held 2 s with 1 s transitions at 25 fps: 327 frames, the cuts planned on 3.0, 6.0,
  // 9.0 and 12.0 s, each halfway between two clicks.
  const ShowTiming plan = UniformTiming(4, 50, 25);
  const FrameRateParts rate{25, 1};

  struct Case {
    const char* name;
    const char* track;
    bool beatSync;
    bool fitted;
    const char* beatLine;  // "" for none; the tempo's line is read as a number
  };
  const Case cases[] = {
      {"clicks", "clicks.wav", true, true, ""},
      {"noise", "noise.wav", true, false, "Beat sync: no clear beat in the music; the show keeps its planned times"},
      {"clicks without beat sync", "clicks.wav", false, false, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    testing::RecordingWindow window;
    MemorySettingsStore settings;
    window.OutputFolder = folder / c.name;
    window.FrameRate = "25:1";
    window.PhotoDelay = "2";
    window.EffectDelay = "1";
    settings.WriteString(settings_key::OutPutDir, window.OutputFolder);
    settings.WriteBool(settings_key::BeatSync, c.beatSync);
    MainWindow main(window, window, window, settings);
    main.RunOptions.Realtime = false;
    main.RunOptions.RandomSeed = 7;
    main.AddPhotos(photos);
    main.AudioTracks().Append({folder / c.track, ""});
    ASSERT_TRUE(main.btnStartClick());
    const JobResult result = main.WaitForRunEnd();
    ASSERT_EQ(result.End, JobEnd::Finished) << result.ErrorText;

    EXPECT_EQ(result.BeatSyncText.empty(), !c.beatSync);
    if (c.fitted) {
      // Thirteen seconds of MP3-joined clicks give the tempo to a few tenths; the cuts below are
      // what must be exact.
      double bpm = 0;
      ASSERT_EQ(std::sscanf(result.BeatSyncText.c_str(), "Beat sync: %lf bpm", &bpm), 1) << result.BeatSyncText;
      EXPECT_NEAR(bpm, 120, 0.5) << result.BeatSyncText;
      ASSERT_NE(result.Timing.HoldFrames, plan.HoldFrames);
      EXPECT_EQ(result.Timing.TransitionFrames, plan.TransitionFrames);
      ASSERT_NE(result.Timing.FrameCount(), plan.FrameCount()) << "the case should move the show's end";
      for (const std::int64_t start : TransitionStarts(result.Timing)) {
        EXPECT_LE(NearestDistance(clicks, static_cast<double>(start) / 25), 1.0 / 25) << "frame " << start;
      }
    } else {
      EXPECT_EQ(result.BeatSyncText, c.beatLine);
      EXPECT_EQ(result.Timing.HoldFrames, plan.HoldFrames);
      EXPECT_EQ(result.Timing.TransitionFrames, plan.TransitionFrames);
    }
    bool logged = false;
    for (const std::string& line : window.LogLines) logged = logged || line.rfind("Beat sync:", 0) == 0;
    EXPECT_EQ(logged, c.beatSync);

    const Probed probed = Probe(result.OutputFile);
    EXPECT_EQ(probed.VideoFrames, result.Timing.FrameCount());
    ASSERT_GT(probed.AudioFrameSeconds, 0) << "no sound in " << result.OutputFile;
    const double videoSeconds = static_cast<double>(result.Timing.FrameCount()) * rate.Denominator / rate.Numerator;
    EXPECT_LE(std::abs(probed.AudioEnd - videoSeconds), probed.AudioFrameSeconds)
        << "sound ends at " << probed.AudioEnd << " s, video at " << videoSeconds << " s";
  }
}

}  // namespace
}  // namespace lumivor
