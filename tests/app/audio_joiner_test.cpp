#include "app/run/audio_joiner.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "app/run/conversion_job.h"
#include "app/settings/settings_store.h"
#include "app/window/main_window.h"
#include "media/components/ff_decoder.h"
#include "media/components/ff_encoder.h"
#include "media/runtime/ff_load.h"
#include "media/runtime/main_thread.h"
#include "recording_window.h"
#include "run_test_support.h"
#include "support/scratch_folder.h"

namespace lumivor {
namespace {

// The longest frame of the sound the runs write (MP3's 1152 samples; AAC's are 1024), at 44.1 kHz.
constexpr double OneAudioFrame = 1152.0 / 44100;

// The sound a file decodes to, in seconds, counted sample by sample.
double DecodedSoundSeconds(const std::string& path) {
  double seconds = 0;
  testing::WholeFileVisit visit;
  visit.Frame = [&](const AVStream& stream, const AVFrame& frame) {
    if (stream.codecpar->codec_type == AVMEDIA_TYPE_AUDIO && frame.sample_rate > 0)
      seconds += static_cast<double>(frame.nb_samples) / frame.sample_rate;
  };
  EXPECT_TRUE(testing::DecodeWholeFile(path, visit)) << path;
  return seconds;
}

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

TEST(AudioJoinerLengths, TheVideosLengthToTheFrame) {
  struct Case {
    int photos, hold, transition, numerator, denominator;
    double seconds;
  };
  // (N + 1) transitions, N holds and two tail frames, over the rate.
  const Case cases[] = {
      {3, 10, 10, 10, 1, 7.2},                        // 72 frames
      {1, 150, 60, 30, 1, 272.0 / 30},                // 9.0667 s, not 10
      {2, 25, 25, 25, 1, 5.08},                       // 127 frames
      {4, 30, 30, 30000, 1001, 272 * 1001 / 30000.0},  // 9.0757 s
      {1, 1, 1, 25, 1, 0.2},                          // 5 frames
      {1, 10, 10, 0, 1, 1},                           // no rate: the slideshow's own seconds
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.photos * 1000 + c.hold);
    AudioJoinRequest request;
    request.PhotoCount = c.photos;
    request.PhotoDelaySeconds = 1;
    request.HoldFrames = c.hold;
    request.TransitionFrames = c.transition;
    request.RateNumerator = c.numerator;
    request.RateDenominator = c.denominator;
    EXPECT_NEAR(VideoSeconds(request), c.seconds, 1e-9);
  }
  AudioJoinRequest request;
  request.PhotoCount = 3;
  request.PhotoDelaySeconds = 5;
  request.EffectDelaySeconds = 2;
  EXPECT_EQ(SlideshowSeconds(request), 19);
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
  std::string error;
};

TEST_F(AudioJoinerRun, NoTracksAndShorterTracksMakeNothing) {
  AudioJoinRequest request = three_photos(folder.Path());
  EXPECT_EQ(AudioJoiner(encoder, decoder, request, nullptr, error), "");
  EXPECT_FALSE(encoder.Working());

  // 1.5 s + 3 s is shorter than the slideshow's 5 s, though longer than each delay alone.
  testing::WriteTrack(folder / "a.wav", 1.5);
  testing::WriteTrack(folder / "b.wav", 3.0);
  request.Tracks = {folder / "a.wav", folder / "b.wav"};
  EXPECT_EQ(AudioJoiner(encoder, decoder, request, nullptr, error), "");
  EXPECT_FALSE(encoder.Working());
  EXPECT_FALSE(std::filesystem::exists(folder / "tempaudio-a.mp3"));
  encoder.ClearTasks();
}

std::vector<std::string> temporary_files(const std::string& folder) {
  std::vector<std::string> found;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind("tempaudio-", 0) == 0) found.push_back(name);
  }
  return found;
}

// A track the run cannot use is not counted as silence: the music would come out shorter than the
// user's tracks, or not at all, with nothing said. Neither the bad track's place in the list nor
// a plan that would not use the tracks anyway hides it.
TEST_F(AudioJoinerRun, AnUnusableTrackFailsTheJoinWithItsName) {
  ASSERT_TRUE(testing::WriteWholeFile(folder / "notes.txt", {'n', 'o', 't', ' ', 'a', 'u', 'd', 'i', 'o', '\n'}));
  ASSERT_TRUE(testing::WriteWholeFile(folder / "empty.mp3", {}));
  testing::WritePhoto(folder / "photo.jpg", 64, 48);
  testing::MediaSpec silentVideo = testing::SmallVideoClip(1.0);
  silentVideo.HasAudio = false;
  std::string made;
  ASSERT_TRUE(testing::WriteMediaFile(folder / "silent.mkv", silentVideo, made)) << made;
  std::filesystem::create_directory(folder / "folder.mp3");
  testing::WriteTrack(folder / "long.wav", 9.0);
  testing::WriteTrack(folder / "short.wav", 1.0);

  struct Case {
    const char* bad;
    const char* good;
    bool badFirst;
    MusicEnd end;
  };
  const Case cases[] = {
      {"missing.mp3", "long.wav", true, MusicEnd::Cut},
      {"notes.txt", "long.wav", false, MusicEnd::Cut},
      {"empty.mp3", "long.wav", true, MusicEnd::Fade},
      {"photo.jpg", "long.wav", false, MusicEnd::Loop},
      {"silent.mkv", "long.wav", true, MusicEnd::Cut},
      {"folder.mp3", "long.wav", false, MusicEnd::Cut},
      // Together shorter than the show: under cut the tracks would not be used, yet the user
      // still learns that one of them is no sound at all.
      {"silent.mkv", "short.wav", false, MusicEnd::Cut},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bad);
    AudioJoinRequest request = three_photos(folder.Path());
    request.End = c.end;
    request.Tracks = {folder / c.good};
    request.Tracks.insert(c.badFirst ? request.Tracks.begin() : request.Tracks.end(), folder / c.bad);
    std::string plan = "before";
    EXPECT_EQ(AudioJoiner(encoder, decoder, request, &plan, error), "");
    EXPECT_NE(error.find(folder / c.bad), std::string::npos) << error;
    EXPECT_EQ(error.find(folder / c.good), std::string::npos) << error;
    EXPECT_EQ(plan, "");
    EXPECT_FALSE(encoder.Working());
    EXPECT_TRUE(temporary_files(folder.Path()).empty());
  }
}

// The joined file cannot be made (its folder is gone): the join is not started, and the reason
// names the file, which carries the first track's name.
TEST_F(AudioJoinerRun, AJoinedFileThatCannotBeWrittenFailsTheJoin) {
  testing::WriteTrack(folder / "long.wav", 9.0);
  AudioJoinRequest request = three_photos(folder / "gone");
  request.Tracks = {folder / "long.wav"};
  EXPECT_EQ(AudioJoiner(encoder, decoder, request, nullptr, error), "");
  EXPECT_NE(error.find(folder / "gone/tempaudio-long.mp3"), std::string::npos) << error;
  EXPECT_FALSE(encoder.Working());
  EXPECT_FALSE(std::filesystem::exists(folder / "gone"));
}

// A folder whose file system takes names of 255 bytes and a track named with 240: "tempaudio-"
// and ".mp3" around it would be refused after all the tracks were read.
TEST(AudioJoinerNames, TheTemporaryNameFitsTheFolder) {
  testing::ScratchFolder folder;
  const std::size_t limit = FolderNameLimit(folder.Path());
  ASSERT_GE(limit, 32u);
  const std::string longName(limit - 10, 'n');
  // Two two-byte letters, the cut falling between the bytes of the first.
  const std::string accented = std::string(limit - 15, 'a') + "\xc3\xa9\xc3\xa9";
  struct Case {
    std::string track;
    std::string expected;  // the name part, when its form is known
  };
  const std::vector<Case> cases = {
      {"/music/song.live.mp3", "tempaudio-song.live.mp3"},
      {"/music/" + std::string(limit - 14 - 4, 's') + ".wav", "tempaudio-" + std::string(limit - 14 - 4, 's') + ".mp3"},
      {"/music/" + longName + ".wav", "tempaudio-" + longName.substr(0, limit - 14) + ".mp3"},
      {"/music/" + accented + ".flac", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.track.size());
    const std::string name = std::filesystem::path(JoinedAudioFileName(folder.Path(), c.track)).filename().string();
    EXPECT_LE(name.size(), limit);
    EXPECT_EQ(name.rfind("tempaudio-", 0), 0u) << name;
    EXPECT_EQ(name.substr(name.size() - 4), ".mp3");
    if (!c.expected.empty()) {
      EXPECT_EQ(name, c.expected);
    }
    // No character is cut in half: the name is still valid UTF-8 ending on a whole letter.
    const std::string stem = name.substr(0, name.size() - 4);
    EXPECT_NE(static_cast<unsigned char>(stem.back()) & 0xC0, 0x80u) << name;
    EXPECT_NE(static_cast<unsigned char>(stem.back()), 0xC3u) << name;
  }

  // The next free name of a long track counts up within the limit too.
  const std::string track = "/music/" + longName + ".wav";
  const std::string first = FreeJoinedAudioFileName(folder.Path(), track);
  ASSERT_TRUE(testing::WriteWholeFile(first, {'x'}));
  const std::string second = FreeJoinedAudioFileName(folder.Path(), track);
  EXPECT_NE(second, first);
  EXPECT_LE(std::filesystem::path(second).filename().string().size(), limit);
  EXPECT_EQ(second.substr(second.size() - 6), "_1.mp3");
}

TEST(AudioJoinerNames, FitFileNameCutsTheStemOnly) {
  struct Case {
    const char* stem;
    const char* suffix;
    std::size_t limit;
    const char* expected;
  };
  const Case cases[] = {
      {"song", ".mp3", 255, "song.mp3"},
      {"song", ".mp3", 8, "song.mp3"},
      {"abcdef", ".mp3", 8, "abcd.mp3"},
      {"ab\xc3\xa9", ".mp3", 7, "ab.mp3"},          // the cut would split the "e acute"
      {"ab\xc3\xa9", ".mp3", 8, "ab\xc3\xa9.mp3"},
      {"x", "_(new_12).mp4", 5, "x_(new_12).mp4"},  // nothing fits: left for the file system to refuse
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expected);
    EXPECT_EQ(FitFileName(c.stem, c.suffix, c.limit), c.expected);
  }
}

TEST_F(AudioJoinerRun, LongerTracksAreJoinedAndCutAtTheVideosEnd) {
  testing::WriteTrack(folder / "first.wav", 4.0);
  testing::WriteTrack(folder / "second.wav", 5.0);
  AudioJoinRequest request = three_photos(folder.Path());
  request.Tracks = {folder / "first.wav", folder / "second.wav"};

  const std::string joined = AudioJoiner(encoder, decoder, request, nullptr, error);
  ASSERT_EQ(joined, folder / "tempaudio-first.mp3");
  WaitForTheRun();
  encoder.ClearTasks();

  const testing::DecodedVideo decoded = testing::DecodeVideoFile(joined);
  ASSERT_TRUE(decoded.Opened);
  ASSERT_TRUE(decoded.HasAudio);
  EXPECT_EQ(decoded.DecodeErrors, 0);
  // Both tracks are in it (longer than the second alone) and it ends with the 7.2 s video, not at
  // the whole second after it, nor with the second track's 5 s nor the tracks' 9 s. Counted in
  // decoded samples: the MP3's packets carry its encoder's delay besides.
  EXPECT_NEAR(DecodedSoundSeconds(joined), 7.2, 1.0 / 44100);
}

// A file that already has the joined file's name is someone's own: the join would overwrite it and
// the run's end delete it. The join takes the next free name, which still marks it as temporary.
TEST_F(AudioJoinerRun, AFileAlreadyThereKeepsItsNameAndContent) {
  testing::WriteTrack(folder / "first.wav", 9.0);
  ASSERT_TRUE(testing::WriteWholeFile(folder / "tempaudio-first.mp3", {'m', 'i', 'n', 'e'}));
  std::filesystem::create_symlink(folder / "gone.mp3", folder / "tempaudio-first_1.mp3");
  AudioJoinRequest request = three_photos(folder.Path());
  request.Tracks = {folder / "first.wav"};

  const std::string joined = AudioJoiner(encoder, decoder, request, nullptr, error);
  ASSERT_EQ(joined, folder / "tempaudio-first_2.mp3");
  WaitForTheRun();
  encoder.ClearTasks();
  EXPECT_TRUE(testing::DecodeVideoFile(joined).HasAudio);
  EXPECT_EQ(std::filesystem::file_size(folder / "tempaudio-first.mp3"), 4u);
  EXPECT_FALSE(std::filesystem::exists(folder / "gone.mp3"));
}

// Whole runs: the sound under the video ends with its last frame, within one frame of sound, under
// every rule and at rates that do not divide a second; the video is named after the first track.
TEST(AudioJoinerShow, TheSoundEndsWithTheLastFrame) {
  testing::ScratchFolder folder;
  testing::RecordingWindow window;
  MemorySettingsStore settings;
  window.OutputFolder = folder / "videos";
  settings.WriteString(settings_key::OutPutDir, window.OutputFolder);
  std::vector<std::string> photos;
  for (const char* name : {"one.jpg", "two.jpg", "three.jpg"}) {
    testing::WritePhoto(folder / name, 160, 120);
    photos.push_back(folder / name);
  }
  // Long enough to outlast the show under cut and fade; short enough to be looped many times.
  const std::string longTrack = folder / "song.live.wav";
  const std::string shortTrack = folder / "blip.wav";
  testing::WriteTrack(longTrack, 20.0);
  testing::WriteTrack(shortTrack, 0.3);

  struct Case {
    const char* rate;
    int numerator, denominator;
    const char* rule;
    const std::string* firstTrack;
    const char* video;
  };
  const Case cases[] = {
      {"10:1", 10, 1, "cut", &longTrack, "slideshow-song.live_(new).mp4"},
      {"10:1", 10, 1, "fade", &longTrack, "slideshow-song.live_(new_1).mp4"},
      {"10:1", 10, 1, "loop", &shortTrack, "slideshow-blip_(new).mp4"},
      {"25:1", 25, 1, "cut", &longTrack, "slideshow-song.live_(new_2).mp4"},
      {"25:1", 25, 1, "fade", &longTrack, "slideshow-song.live_(new_3).mp4"},
      {"25:1", 25, 1, "loop", &shortTrack, "slideshow-blip_(new_1).mp4"},
      {"30000:1001", 30000, 1001, "cut", &longTrack, "slideshow-song.live_(new_4).mp4"},
      {"30000:1001", 30000, 1001, "fade", &longTrack, "slideshow-song.live_(new_5).mp4"},
      {"30000:1001", 30000, 1001, "loop", &shortTrack, "slideshow-blip_(new_2).mp4"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.rate) + " " + c.rule);
    window.FrameRate = c.rate;
    settings.WriteString(settings_key::MusicEnd, c.rule);
    MainWindow main(window, window, window, settings);
    main.RunOptions.Realtime = false;
    main.AddPhotos(photos);
    main.AudioTracks().Append({*c.firstTrack, ""});
    // A second track after the first: the name still comes from the first.
    main.AudioTracks().Append({shortTrack, ""});
    ASSERT_TRUE(main.btnStartClick());
    const JobResult result = main.WaitForRunEnd();
    ASSERT_EQ(result.End, JobEnd::Finished) << result.ErrorText;
    EXPECT_EQ(result.OutputFile, window.OutputFolder + "/" + c.video);

    const testing::DecodedVideo decoded = testing::DecodeVideoFile(result.OutputFile);
    ASSERT_TRUE(decoded.Opened);
    ASSERT_TRUE(decoded.HasAudio);
    // Delays of 1 s: 4 transitions, 3 holds and the two tail frames.
    const int perSecond = (c.numerator + c.denominator / 2) / c.denominator;
    const int frames = 7 * perSecond + 2;
    EXPECT_EQ(decoded.VideoFrames, frames);
    const double videoSeconds = static_cast<double>(frames) * c.denominator / c.numerator;
    EXPECT_NEAR(decoded.AudioEndSeconds, videoSeconds, OneAudioFrame);
  }
}

}  // namespace
}  // namespace lumivor
