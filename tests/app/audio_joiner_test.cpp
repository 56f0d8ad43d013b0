#include "app/audio_joiner.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "media/components/ff_decoder.h"
#include "media/components/ff_encoder.h"
#include "media/runtime/ff_load.h"
#include "media/runtime/main_thread.h"
#include "run_test_support.h"
#include "support/scratch_folder.h"

namespace lumivor {
namespace {

AudioJoinRequest three_photos(const std::string& folder) {
  AudioJoinRequest request;
  request.OutputFolder = folder;
  request.PhotoCount = 3;
  request.PhotoDelaySeconds = 1;
  request.EffectDelaySeconds = 1;
  request.HoldFrames = 10;
  request.TransitionFrames = 10;
  request.RateNumerator = 10;
  request.RateDenominator = 1;
  return request;
}

TEST(AudioJoinerLengths, CutAtTheVideosEndRoundedUp) {
  struct Case {
    int photos, hold, transition, numerator, denominator;
    std::int64_t cut;
  };
  // (N + 1) transitions, N holds and two tail frames.
  const Case cases[] = {
      {3, 10, 10, 10, 1, 8},         // 72 frames: 7.2 s
      {1, 150, 60, 30, 1, 10},       // 272 frames: 9.07 s
      {2, 25, 25, 25, 1, 6},         // 127 frames: 5.08 s
      {4, 30, 30, 30000, 1001, 10},  // 272 frames at 29.97: 9.08 s
      {2, 50, 48, 25, 1, 10},        // 246 frames: 9.84 s
      {1, 1, 1, 25, 1, 1},           // 5 frames: 0.2 s
      {2, 50, 50, 50, 1, 6},         // 252 frames: 5.04 s
      {1, 10, 10, 0, 1, 0},          // no rate: the slideshow's own seconds
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.photos * 1000 + c.hold);
    AudioJoinRequest request;
    request.PhotoCount = c.photos;
    request.HoldFrames = c.hold;
    request.TransitionFrames = c.transition;
    request.RateNumerator = c.numerator;
    request.RateDenominator = c.denominator;
    EXPECT_EQ(JoinedAudioSeconds(request), c.cut);
  }
  AudioJoinRequest request;
  request.PhotoCount = 3;
  request.PhotoDelaySeconds = 5;
  request.EffectDelaySeconds = 2;
  EXPECT_EQ(SlideshowSeconds(request), 19);
  EXPECT_EQ(JoinedAudioOptionText(8), " -t 8 -c:a libmp3lame  -ac 2 -ab 128000 -ar 44100 ");
  EXPECT_EQ(JoinedAudioFileName("/out", "/music/song.live.mp3"), "/out/tempaudio-song.live.mp3");
  EXPECT_EQ(JoinedAudioFileName("/out/", "song"), "/out/tempaudio-song.mp3");
}

class AudioJoinerRun : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(encoder.LibrariesLoaded() || encoder.LoadLibraries(TFFLoader::DefaultLibraryPath()))
        << encoder.LastErrorText;
    ASSERT_TRUE(decoder.LibrariesLoaded() || decoder.LoadLibraries(TFFLoader::DefaultLibraryPath()))
        << decoder.LastErrorText;
  }
  void WaitForTheRun() {
    ASSERT_TRUE(WaitServing([&] { return encoder.AllFinished(); }, std::chrono::seconds(60)));
  }

  testing::ScratchFolder folder;
  TFFDecoder decoder;
  TFFEncoder encoder;
};

TEST_F(AudioJoinerRun, NoTracksAndShorterTracksMakeNothing) {
  AudioJoinRequest request = three_photos(folder.Path());
  EXPECT_EQ(AudioJoiner(encoder, decoder, request), "");
  EXPECT_FALSE(encoder.Working());

  // 1.5 s + 3 s is shorter than the slideshow's 5 s, though longer than each delay alone.
  testing::WriteTrack(folder / "a.wav", 1.5);
  testing::WriteTrack(folder / "b.wav", 3.0);
  request.Tracks = {folder / "a.wav", folder / "b.wav"};
  EXPECT_EQ(AudioJoiner(encoder, decoder, request), "");
  EXPECT_FALSE(encoder.Working());
  EXPECT_FALSE(std::filesystem::exists(folder / "tempaudio-a.mp3"));
  encoder.ClearTasks();
}

// A first track the encoder cannot open leaves no task: starting the run anyway would keep the
// encoder working for ever, with no end to wait for.
TEST_F(AudioJoinerRun, AJoinThatCannotBeBuiltIsNotStarted) {
  ASSERT_TRUE(testing::WriteWholeFile(folder / "noise.wav", {'n', 'o', 't', ' ', 'a', 'u', 'd', 'i', 'o'}));
  testing::WriteTrack(folder / "long.wav", 9.0);
  AudioJoinRequest request = three_photos(folder.Path());
  request.Tracks = {folder / "noise.wav", folder / "long.wav"};
  EXPECT_EQ(AudioJoiner(encoder, decoder, request), "");
  EXPECT_FALSE(encoder.Working());
  EXPECT_FALSE(encoder.LastErrorText.empty());
  encoder.ClearTasks();
}

TEST_F(AudioJoinerRun, LongerTracksAreJoinedAndCutAtTheVideosEnd) {
  testing::WriteTrack(folder / "first.wav", 4.0);
  testing::WriteTrack(folder / "second.wav", 5.0);
  AudioJoinRequest request = three_photos(folder.Path());
  request.Tracks = {folder / "first.wav", folder / "second.wav"};

  const std::string joined = AudioJoiner(encoder, decoder, request);
  ASSERT_EQ(joined, folder / "tempaudio-first.mp3");
  WaitForTheRun();
  encoder.ClearTasks();

  const testing::DecodedVideo decoded = testing::DecodeVideoFile(joined);
  ASSERT_TRUE(decoded.Opened);
  ASSERT_TRUE(decoded.HasAudio);
  EXPECT_EQ(decoded.DecodeErrors, 0);
  // Both tracks are in it (longer than the second alone) and it ends with the 7.2 s video, at
  // 8 s, not with the second track's 5 s nor the tracks' 9 s.
  EXPECT_NEAR(decoded.AudioEndSeconds, 8.0, 0.15);
}

// A file that already has the joined file's name is someone's own: the join would overwrite it and
// the run's end delete it. The join takes the next free name, which still marks it as temporary.
TEST_F(AudioJoinerRun, AFileAlreadyThereKeepsItsNameAndContent) {
  testing::WriteTrack(folder / "first.wav", 9.0);
  ASSERT_TRUE(testing::WriteWholeFile(folder / "tempaudio-first.mp3", {'m', 'i', 'n', 'e'}));
  std::filesystem::create_symlink(folder / "gone.mp3", folder / "tempaudio-first_1.mp3");
  AudioJoinRequest request = three_photos(folder.Path());
  request.Tracks = {folder / "first.wav"};

  const std::string joined = AudioJoiner(encoder, decoder, request);
  ASSERT_EQ(joined, folder / "tempaudio-first_2.mp3");
  WaitForTheRun();
  encoder.ClearTasks();
  EXPECT_TRUE(testing::DecodeVideoFile(joined).HasAudio);
  EXPECT_EQ(std::filesystem::file_size(folder / "tempaudio-first.mp3"), 4u);
  EXPECT_FALSE(std::filesystem::exists(folder / "gone.mp3"));
}

}  // namespace
}  // namespace lumivor
