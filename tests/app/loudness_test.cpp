// Music at a common level: the gain rule, the measurement of tracks as the join hears them, and
// joined sound whose every track sits at the target with its peaks under the ceiling.
#include "app/run/loudness.h"

#include <gtest/gtest.h>

#include <ebur128.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "app/run/audio_joiner.h"
#include "app/settings/settings_store.h"
#include "app/window/main_window.h"
#include "media/components/ff_decoder.h"
#include "media/components/ff_encoder.h"
#include "media/runtime/ff_load.h"
#include "media/runtime/main_thread.h"
#include "recording_window.h"
#include "run_test_support.h"
#include "sound_test_support.h"
#include "support/scratch_folder.h"

namespace lumivor {
namespace {

constexpr double Infinity = std::numeric_limits<double>::infinity();

struct Level {
  double Integrated = 0;
  double TruePeak = 0;
};

// The meter run by the test over a stretch of decoded sound, from and to in seconds.
Level Measure(const testing::Sound& sound, double from, double to) {
  struct Free {
    void operator()(ebur128_state* state) const { ebur128_destroy(&state); }
  };
  std::unique_ptr<ebur128_state, Free> state(ebur128_init(static_cast<unsigned>(sound.Channels),
                                                          static_cast<unsigned long>(sound.SampleRate),
                                                          EBUR128_MODE_I | EBUR128_MODE_TRUE_PEAK));
  const auto first = static_cast<std::size_t>(from * sound.SampleRate);
  const auto last = std::min(sound.Frames(), static_cast<std::size_t>(to * sound.SampleRate));
  if (first >= last) {
    ADD_FAILURE() << "no sound from " << from << " s to " << to << " s: the sound ends at "
                  << static_cast<double>(sound.Frames()) / sound.SampleRate << " s";
    return {Infinity, Infinity};
  }
  ebur128_add_frames_float(state.get(), sound.Samples.data() + first * static_cast<std::size_t>(sound.Channels),
                           last - first);
  Level level;
  ebur128_loudness_global(state.get(), &level.Integrated);
  double peak = 0;
  for (int c = 0; c < sound.Channels; ++c) {
    double channel = 0;
    ebur128_true_peak(state.get(), static_cast<unsigned>(c), &channel);
    peak = std::max(peak, channel);
  }
  level.TruePeak = 20 * std::log10(peak);
  return level;
}

TEST(LoudnessGain, TheTargetUnderThePeakCeiling) {
  struct Case {
    double integrated, truePeak;
    double gain;
    bool capped, unmeasurable;
  };
  const Case cases[] = {
      {-30, -20, 14, false, false},  // a quiet tone brought up
      {-8, -1.5, -8, false, false},  // a loud track brought down
      {-16, -3, 0, false, false},    // already there
      {-30, -5, 4, true, false},     // clicks: the peaks reach the ceiling long before the target
      {-16, 0.5, -1.5, true, false}, // at the target but peaking over full scale: brought down further
      {-14, -1, -2, false, false},   // brought down to the target, the peaks under the ceiling anyway
      {-Infinity, -Infinity, 0, false, true},  // silence is left alone
      {-Infinity, -40, 0, false, true},        // under the meter's gate throughout
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.integrated) + " LUFS, " + std::to_string(c.truePeak) + " dBTP");
    const LoudnessGain gain = GainForLoudness({c.integrated, c.truePeak});
    EXPECT_NEAR(gain.Db, c.gain, 1e-9);
    EXPECT_EQ(gain.PeakCapped, c.capped);
    EXPECT_EQ(gain.Unmeasurable, c.unmeasurable);
    if (!c.unmeasurable) {
      EXPECT_LE(c.truePeak + gain.Db, TruePeakCeiling + 1e-9);
    }
  }
}

TEST(LoudnessGain, LogAndFilterTexts) {
  EXPECT_EQ(LoudnessLogText("/music/quiet.wav", {-30.04, -27.0}, {13.04, false, false}),
            "Loudness: quiet.wav -30.0 LUFS, true peak -27.0 dBTP, gain +13.0 dB");
  EXPECT_EQ(LoudnessLogText("clicks.wav", {-26.4, -5.9}, {4.9, true, false}),
            "Loudness: clicks.wav -26.4 LUFS, true peak -5.9 dBTP, gain +4.9 dB (held down by its peaks: it "
            "reaches -21.5 LUFS)");
  EXPECT_EQ(LoudnessLogText("hush.wav", {-Infinity, -Infinity}, {0, false, true}),
            "Loudness: hush.wav silent, true peak silent, left as it is");
  EXPECT_EQ(VolumeFilterText(-8.456), "volume=-8.46dB");
  EXPECT_EQ(VolumeFilterText(14), "volume=+14.00dB");
}

class LoudnessRun : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(encoder.LibrariesLoaded() || encoder.LoadLibraries(TFFLoader::DefaultLibraryPath()))
        << encoder.LastErrorText;
    ASSERT_TRUE(decoder.LibrariesLoaded() || decoder.LoadLibraries(TFFLoader::DefaultLibraryPath()))
        << decoder.LastErrorText;
  }

  testing::ScratchFolder folder;
  TFFDecoder decoder;
  TFFEncoder encoder;
  std::string error;
};

// A track is measured as the joined sound will hold it: stereo at the joined rate, so a mono track
// (heard on both sides at -3 dB each) measures 3 dB under the same tone in stereo.
TEST_F(LoudnessRun, TracksAreMeasuredAsTheJoinHearsThem) {
  struct Case {
    const char* name;
    testing::Sound sound;
    double integrated, truePeak;  // expected; -Infinity for silence
  };
  const Case cases[] = {
      {"stereo.wav", testing::Sine(3, 1000, -20), -20, -20},
      {"mono.wav", testing::Sine(3, 1000, -20, 44100, 1), -23, -23},
      {"mono22k.wav", testing::Sine(3, 1000, -12, 22050, 1), -15, -15},
      {"quiet.wav", testing::Sine(3, 1000, -45), -45, -45},
      {"silence.wav", testing::MakeSound(3, 44100, 2, [](double) { return 0.0; }), -Infinity, -Infinity},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    testing::WriteWav(folder / c.name, c.sound);
    TrackLoudness measured;
    ASSERT_TRUE(MeasureTrackLoudness(folder / c.name, measured, error)) << error;
    if (std::isfinite(c.integrated)) {
      EXPECT_NEAR(measured.Integrated, c.integrated, 0.3);
      EXPECT_NEAR(measured.TruePeak, c.truePeak, 0.3);
    } else {
      EXPECT_EQ(measured.Integrated, -Infinity);
      EXPECT_EQ(measured.TruePeak, -Infinity);
    }
  }

  // Not sound at all, and a reading stopped half-way: no measurement, and the reason.
  ASSERT_TRUE(testing::WriteWholeFile(folder / "notes.txt", {'n', 'o', 't', 'e', 's', '\n'}));
  TrackLoudness measured;
  EXPECT_FALSE(MeasureTrackLoudness(folder / "notes.txt", measured, error));
  EXPECT_FALSE(error.empty());
  testing::WriteWav(folder / "long.wav", testing::Sine(5, 440, -20));
  int asked = 0;
  EXPECT_FALSE(MeasureTrackLoudness(folder / "long.wav", measured, error, [&] { return ++asked < 2; }));
  EXPECT_EQ(error, "stopped");
  EXPECT_EQ(asked, 2);
}

// Three 4-second tracks (a tone at -30 LUFS, a louder one at about -8, clicks whose peaks stop the
// gain short) joined with the gains of their measurements: in the joined MP3 each stretch sits at the
// target, or where its peaks let it, and no peak passes the ceiling.
TEST_F(LoudnessRun, JoinedTracksSitAtTheTargetWithPeaksUnderTheCeiling) {
  testing::WriteWav(folder / "tone.wav", testing::Sine(4, 1000, -30));
  testing::WriteWav(folder / "loud.wav", testing::Sine(4, 440, -7.5));
  std::vector<double> clicks;
  for (double t = 0.05; t < 4; t += 0.5) clicks.push_back(t);
  testing::WriteWav(folder / "clicks.wav", testing::Clicks(4, clicks, -6));

  AudioJoinRequest request;
  request.OutputFolder = folder.Path();
  // 3 photos held 2 s with 1 s transitions at 10 fps: 102 frames, 10.2 s of sound.
  request.PhotoCount = 3;
  request.PhotoDelaySeconds = 2;
  request.EffectDelaySeconds = 1;
  request.HoldFrames = 20;
  request.TransitionFrames = 10;
  request.RateNumerator = 10;
  request.Tracks = {folder / "tone.wav", folder / "loud.wav", folder / "clicks.wav"};
  std::vector<double> expected;
  for (const std::string& track : request.Tracks) {
    TrackLoudness measured;
    ASSERT_TRUE(MeasureTrackLoudness(track, measured, error)) << error;
    const LoudnessGain gain = GainForLoudness(measured);
    request.TrackGainsDb.push_back(gain.Db);
    expected.push_back(measured.Integrated + gain.Db);
  }
  EXPECT_NEAR(expected[0], TargetLoudness, 1e-9);
  EXPECT_NEAR(expected[1], TargetLoudness, 1e-9);
  EXPECT_LT(expected[2], TargetLoudness - 2) << "the clicks' peaks should hold their gain down";

  const std::string joined = AudioJoiner(encoder, decoder, request, nullptr, error);
  ASSERT_FALSE(joined.empty()) << error;
  ASSERT_TRUE(WaitServing([&] { return encoder.AllFinished(); }, std::chrono::seconds(60)));
  encoder.ClearTasks();

  const testing::Sound sound = testing::DecodeFirstAudio(joined);
  ASSERT_EQ(sound.Channels, 2);
  struct Stretch {
    double from, to, expected;
  };
  // Each track's stretch, a little in from its edges.
  const Stretch stretches[] = {{0.3, 3.7, expected[0]}, {4.3, 7.7, expected[1]}, {8.3, 10.1, expected[2]}};
  for (const Stretch& s : stretches) {
    SCOPED_TRACE(s.from);
    EXPECT_NEAR(Measure(sound, s.from, s.to).Integrated, s.expected, 1.0);
  }
  EXPECT_LE(Measure(sound, 0, 10.2).TruePeak, TruePeakCeiling);
}

// A whole run asked to normalize: the log names each track's loudness and gain, and the video's
// sound has each track at the target. Without it no track is measured.
TEST(LoudnessShow, ARunWithNormalizeLevelsEachTrack) {
  testing::ScratchFolder folder;
  std::vector<std::string> photos;
  for (const char* name : {"one.jpg", "two.jpg", "three.jpg"}) {
    testing::WritePhoto(folder / name, 160, 120);
    photos.push_back(folder / name);
  }
  // 5.2 s each: together longer than the 10.2-second video, so that the cut rule uses them.
  testing::WriteWav(folder / "tone.wav", testing::Sine(5.2, 1000, -30));
  testing::WriteWav(folder / "loud.wav", testing::Sine(5.2, 440, -7.5));

  for (const bool normalize : {true, false}) {
    SCOPED_TRACE(normalize);
    testing::RecordingWindow window;
    MemorySettingsStore settings;
    window.OutputFolder = folder / (normalize ? "levelled" : "as-is");
    settings.WriteString(settings_key::OutPutDir, window.OutputFolder);
    settings.WriteBool(settings_key::Normalize, normalize);
    window.PhotoDelay = "2";
    MainWindow main(window, window, window, settings);
    main.RunOptions.Realtime = false;
    main.AddPhotos(photos);
    main.AudioTracks().Append({folder / "tone.wav", ""});
    main.AudioTracks().Append({folder / "loud.wav", ""});
    ASSERT_TRUE(main.btnStartClick());
    const JobResult result = main.WaitForRunEnd();
    ASSERT_EQ(result.End, JobEnd::Finished) << result.ErrorText;

    std::vector<std::string> loudnessLines;
    for (const std::string& line : window.LogLines) {
      if (line.rfind("Loudness: ", 0) == 0) loudnessLines.push_back(line);
    }
    const testing::Sound sound = testing::DecodeFirstAudio(result.OutputFile);
    const double tone = Measure(sound, 0.3, 4.7).Integrated;
    const double loud = Measure(sound, 5.3, 7.9).Integrated;
    if (normalize) {
      ASSERT_EQ(loudnessLines.size(), 2u);
      EXPECT_EQ(loudnessLines[0].rfind("Loudness: tone.wav -30.", 0), 0u) << loudnessLines[0];
      EXPECT_NE(loudnessLines[0].find(", gain +14.0 dB"), std::string::npos) << loudnessLines[0];
      EXPECT_EQ(loudnessLines[1].rfind("Loudness: loud.wav -8.", 0), 0u) << loudnessLines[1];
      EXPECT_NE(loudnessLines[1].find(", gain -"), std::string::npos) << loudnessLines[1];
      EXPECT_NEAR(tone, TargetLoudness, 1.0);
      EXPECT_NEAR(loud, TargetLoudness, 1.0);
    } else {
      EXPECT_TRUE(loudnessLines.empty());
      EXPECT_NEAR(tone, -30, 1.0);
      EXPECT_NEAR(loud, -8, 1.0);
    }
  }
}

}  // namespace
}  // namespace lumivor
