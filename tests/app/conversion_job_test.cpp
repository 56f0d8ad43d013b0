#include "app/run/conversion_job.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/window/main_window.h"
#include "app/files/output_file.h"
#include "app/settings/settings_store.h"
#include "media/components/ff_decoder.h"
#include "media/components/ff_encoder.h"
#include "media/components/frame_input.h"
#include "media/runtime/main_thread.h"
#include "recording_window.h"
#include "run_test_support.h"
#include "support/scratch_folder.h"

namespace lumivor {
namespace {

TEST(ConversionJobOptions, WorkedExampleToTheCharacter) {
  RunRequest request;
  request.RateNumerator = 30;
  request.RateDenominator = 1;
  request.Width = 320;
  request.Height = 240;
  EXPECT_EQ(FrameInputOptionText(request), "-f frameinput -input_type canvas -pix_fmt bgr24 -r 30/1 -s 320x240 -re");
  request.Realtime = false;
  EXPECT_EQ(FrameInputOptionText(request), "-f frameinput -input_type canvas -pix_fmt bgr24 -r 30/1 -s 320x240");

  request.FormatIndex = 0;
  request.Stereo = true;
  request.SampleRate = SampleRateOfEntry(4);
  request.BitRate = 768;
  EXPECT_EQ(OutputOptionText(request),
            " -c:v mpeg4 -c:a aac -ac 2  -ar 44100 -b:v 768k -qscale 6  -r 30/1 -s 320x240");
}

TEST(ConversionJobOptions, EveryFormatChannelsAndRates) {
  struct Case {
    int format;
    bool stereo;
    int sampleRateEntry;
    const char* expected;
    const char* extension;
  };
  const Case cases[] = {
      {1, true, 0, " -c:a libmp3lame -ac 2  -ar 0 -b:v 900k -qscale 6  -r 25/1 -s 640x480", ".swf"},
      {2, false, 1, " -c:a libmp3lame -ac 1  -ar 8000 -b:v 900k -qscale 6  -r 25/1 -s 640x480", ".flv"},
      {3, true, 2, " -c:v wmv2 -c:a wmav2 -ac 2  -ar 11025 -b:v 900k -qscale 6  -r 25/1 -s 640x480", ".wmv"},
      {4, true, 3, " -c:v mpeg4 -c:a aac -ac 2  -ar 22050 -b:v 900k -qscale 6  -r 25/1 -s 640x480", ".mov"},
      {5, false, 4,
       " -pix_fmt yuv420p  -c:v libx264  -ac 1  -ar 44100 -b:v 900k -qscale 6  -r 25/1 -s 640x480", ".mkv"},
      // No selection: no codec options and no extension; setting the output then fails.
      {-1, true, 9, " -ac 2  -ar 0 -b:v 900k -qscale 6  -r 25/1 -s 640x480", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.format);
    RunRequest request;
    request.FormatIndex = c.format;
    request.Stereo = c.stereo;
    request.SampleRate = SampleRateOfEntry(c.sampleRateEntry);
    request.BitRate = 900;
    request.RateNumerator = 25;
    request.RateDenominator = 1;
    request.Width = 640;
    request.Height = 480;
    EXPECT_EQ(OutputOptionText(request), c.expected);
    const OutputFormat* format = OutputFormatAt(c.format);
    if (c.extension == nullptr) {
      EXPECT_EQ(format, nullptr);
    } else {
      ASSERT_NE(format, nullptr);
      EXPECT_STREQ(format->Extension, c.extension);
      EXPECT_EQ(OutputFormatIndex(format->Entry), c.format);
    }
  }
}

TEST(ConversionJobOptions, BreakLengthFromTheFrames) {
  struct Case {
    std::int64_t Frames;
    int Numerator, Denominator;
    const char* Expected;
  };
  const Case cases[] = {
      {390, 30, 1, "13.000000"},
      {1, 30000, 1001, "0.033367"},  // 0.0333666...: rounded up, the frame is never cut
      {70, 10, 1, "7.000000"},
      {100000000, 30000, 1001, "3336666.666667"},
      {9000000000LL, 1, 1000000000, "9223372036854.775807"},  // beyond the range of times
      {0, 30, 1, "0.000000"},
      {10, 0, 1, "0.000000"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Frames);
    EXPECT_EQ(FramesDurationText(c.Frames, c.Numerator, c.Denominator), c.Expected);
  }
  // Three photos held 10 frames with transitions of 10: the show, and the show without its tail.
  EXPECT_EQ(RunFrameCount(3, 10, 10, false), 72);
  EXPECT_EQ(RunFrameCount(3, 10, 10, true), 70);
}

TEST(ConversionJobNaming, UniqueNamesCountUpPastTakenOnes) {
  testing::ScratchFolder folder;
  const auto touch = [](const std::string& name) { std::ofstream(name) << "x"; };

  EXPECT_EQ(UniqueOutputName(folder.Path(), "slideshow-", ".mp4"), folder / "slideshow-_(new).mp4");
  EXPECT_EQ(UniqueOutputName(folder.Path() + "/", "slideshow-song.mp3", ".mp4"), folder / "slideshow-song_(new).mp4");

  touch(folder / "slideshow-song_(new).mp4");
  EXPECT_EQ(UniqueOutputName(folder.Path(), "slideshow-song.mp3", ".mp4"), folder / "slideshow-song_(new_1).mp4");
  touch(folder / "slideshow-song_(new_1).mp4");
  EXPECT_EQ(UniqueOutputName(folder.Path(), "slideshow-song.mp3", ".mp4"), folder / "slideshow-song_(new_2).mp4");
  // Another extension is another name.
  EXPECT_EQ(UniqueOutputName(folder.Path(), "slideshow-song.mp3", ".mkv"), folder / "slideshow-song_(new).mkv");

  // A link whose target is gone still holds its name.
  std::filesystem::create_symlink(folder / "nowhere", folder / "slideshow-tempaudio-a_(new).mp4");
  EXPECT_EQ(UniqueOutputName(folder.Path(), "slideshow-tempaudio-a.mp3", ".mp4"),
            folder / "slideshow-tempaudio-a_(new_1).mp4");
}

// ------------------------------------------------------------------ whole runs

using testing::DecodedVideo;
using testing::DecodeVideoFile;

// Three photos of 160x120 at "10:1" with delays 1 and 1: 4 transitions and 3 holds of 10 frames
// and the two black tail frames.
constexpr int ThreePhotoFrames = 4 * 10 + 3 * 10 + 2;

class ConversionRun : public ::testing::Test {
 protected:
  void SetUp() override {
    window.OutputFolder = folder / "videos";
    settings.WriteString(settings_key::OutPutDir, window.OutputFolder);
    for (const char* name : {"one.jpg", "two.bmp", "three.jpg"}) {
      testing::WritePhoto(folder / name, name[0] == 't' && name[1] == 'w' ? 90 : 160, 120);
      photos.push_back(folder / name);
    }
  }

  // Whatever a run did, the window heard it on the main thread only.
  void TearDown() override { EXPECT_EQ(window.OffMainThreadCalls.load(), 0); }

  // The main window of the test, built after the test has set its choices.
  MainWindow& Window() {
    if (!main) {
      main = std::make_unique<MainWindow>(window, window, window, settings);
      main->RunOptions.Realtime = false;
      main->AddPhotos(photos);
    }
    return *main;
  }

  // Start returns at once; the test waits for the end as the command line does, and takes the
  // turns a person's clicks would come in.
  JobResult StartAndWait() {
    if (Window().btnStartClick()) {
      while (!Window().WaitForRunEnd(std::chrono::milliseconds(10))) {
        if (window.OnWaitTurn) window.OnWaitTurn();
      }
    }
    return Window().LastRun();
  }

  testing::ScratchFolder folder;
  testing::RecordingWindow window;
  MemorySettingsStore settings;
  std::vector<std::string> photos;
  std::unique_ptr<MainWindow> main;
};

TEST_F(ConversionRun, FramesAudioAndNamesFollowTheTracks) {
  struct Case {
    const char* name;
    std::vector<double> trackSeconds;
    bool audio;
    const char* video;
  };
  // The slideshow lasts 3 x 1 + 2 x 1 = 5 s by its delays; the video 7.2 s.
  const Case cases[] = {
      {"no tracks", {}, false, "slideshow-_(new).mp4"},
      {"shorter", {1.5, 3.0}, false, "slideshow-track0_(new).mp4"},
      {"longer", {4.0, 5.0}, true, "slideshow-track0_(new_1).mp4"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> tracks;
    for (std::size_t i = 0; i < c.trackSeconds.size(); ++i) {
      tracks.push_back(folder / ("track" + std::to_string(i) + ".wav"));
      testing::WriteTrack(tracks.back(), c.trackSeconds[i]);
    }
    Window().AudioTracks().Clear();
    for (const std::string& track : tracks) Window().AudioTracks().Append({track, ""});
    const JobResult result = StartAndWait();
    ASSERT_EQ(result.End, JobEnd::Finished) << result.ErrorText;
    EXPECT_EQ(result.OutputFile, window.OutputFolder + "/" + c.video);

    const DecodedVideo decoded = DecodeVideoFile(result.OutputFile);
    ASSERT_TRUE(decoded.Opened);
    EXPECT_EQ(decoded.VideoFrames, ThreePhotoFrames);
    EXPECT_EQ(decoded.DecodeErrors, 0);
    EXPECT_EQ(decoded.HasAudio, c.audio);
    // The joined sound is cut at the video's end, within one frame of sound.
    if (c.audio) {
      EXPECT_NEAR(decoded.AudioEndSeconds, 7.2, 1152.0 / 44100);
    }

    TFFDecoder decoder;
    ASSERT_TRUE(decoder.LoadFile(result.OutputFile)) << decoder.LastErrorText;
    TVideoStreamInfo info;
    ASSERT_TRUE(decoder.GetVideoStreamInfo(decoder.FirstVideoStream, info));
    EXPECT_EQ(info.Width, 160);
    EXPECT_EQ(info.Height, 120);
    EXPECT_EQ(decoder.AudioStreamCount, c.audio ? 1 : 0);

    // The temporary joined file is gone; the tracks themselves stay.
    EXPECT_FALSE(std::filesystem::exists(window.OutputFolder + "/tempaudio-track0.mp3"));
    for (const std::string& track : tracks) EXPECT_TRUE(std::filesystem::exists(track));
    EXPECT_TRUE(window.Idle());
    EXPECT_TRUE(window.Messages.empty());
  }
  // The log has the frame input's and the joined file's descriptions.
  const auto logged = [&](const std::string& line) {
    return std::find(window.LogLines.begin(), window.LogLines.end(), line) != window.LogLines.end();
  };
  EXPECT_TRUE(logged("FrameInput read header"));
  EXPECT_TRUE(logged("FrameInput read close"));
}

TEST_F(ConversionRun, SoundLaidOutToTheShowsEndIsNotCutByTheBreakAfterTheLastPhoto) {
  // H.264 holds back seconds of pictures in its look-ahead, so an encoder stopped as the last
  // photo goes has read far less sound than the video it still finishes.
  window.BreakWhenNoPictures = true;
  window.Format = ModernFormatIndex;
  const std::string track = folder / "long.wav";
  testing::WriteTrack(track, 20.0);
  for (const char* rule : {"fade", "loop"}) {
    SCOPED_TRACE(rule);
    settings.WriteString(settings_key::MusicEnd, rule);
    Window().AudioTracks().Clear();
    Window().AudioTracks().Append({track, ""});
    const JobResult result = StartAndWait();
    ASSERT_EQ(result.End, JobEnd::Finished) << result.ErrorText;
    EXPECT_TRUE(Window().SoundEndsWithShow());
    const DecodedVideo decoded = DecodeVideoFile(result.OutputFile);
    EXPECT_EQ(decoded.VideoFrames, ThreePhotoFrames);
    // The video lasts 7.2 s; the sound, faded out by then, ends with it.
    EXPECT_NEAR(decoded.AudioEndSeconds, 7.2, 1152.0 / 44100);
  }
}

// The end of each audio stream's last packet as ffprobe, an outside reader, sees it; a negative
// value when ffprobe is missing or finds no sound.
double probed_audio_end(const std::string& file) {
  const std::string command = "ffprobe -v error -select_streams a:0 -show_entries packet=pts_time,duration_time "
                              "-of csv=p=0 '" + file + "' 2>/dev/null";
  std::FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return -1;
  double end = -1;
  char line[256];
  while (std::fgets(line, sizeof line, pipe) != nullptr) {
    double pts = 0, duration = 0;
    if (std::sscanf(line, "%lf,%lf", &pts, &duration) == 2) end = std::max(end, pts + duration);
  }
  ::pclose(pipe);
  return end;
}

// The break ends the show after the last photo's closing transition. H.264 holds seconds of
// pictures in its look-ahead: the frames it holds are still written, and the sound runs to the
// last of them however much longer the tracks are.
TEST_F(ConversionRun, BreakAfterTheLastPhotoKeepsEveryFrameAndTheSoundToTheLast) {
  if (std::system("ffprobe -version >/dev/null 2>&1") != 0) GTEST_SKIP() << "ffprobe is not installed";
  window.BreakWhenNoPictures = true;
  const std::string track = folder / "long.wav";
  testing::WriteTrack(track, 20.0);
  struct Case {
    const char* Name;
    int Format;
    bool Sound;
    bool Realtime;
  };
  const Case cases[] = {
      {"H.264 with sound", ModernFormatIndex, true, false},
      {"H.264 with sound, at the native rate", ModernFormatIndex, true, true},
      {"MPEG-4 with sound", 0, true, false},
      {"H.264 without sound", ModernFormatIndex, false, false},
  };
  // 70 frames at 10 per second: the video ends at 7 s.
  constexpr int Frames = ThreePhotoFrames - 2;
  constexpr double VideoEnd = Frames / 10.0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    window.Format = c.Format;
    Window().RunOptions.Realtime = c.Realtime;
    Window().AudioTracks().Clear();
    if (c.Sound) Window().AudioTracks().Append({track, ""});
    const JobResult result = StartAndWait();
    ASSERT_EQ(result.End, JobEnd::Finished) << result.ErrorText;
    const DecodedVideo decoded = DecodeVideoFile(result.OutputFile);
    ASSERT_TRUE(decoded.Opened);
    EXPECT_EQ(decoded.VideoFrames, Frames);
    EXPECT_EQ(decoded.DecodeErrors, 0);
    EXPECT_EQ(decoded.HasAudio, c.Sound);
    if (c.Sound) {
      // Within one frame of sound (AAC's 1024 samples) of the video's end, on either side.
      EXPECT_NEAR(probed_audio_end(result.OutputFile), VideoEnd, 1024.0 / 44100);
    }
    // The bar stands full once the video is written.
    EXPECT_EQ(window.Progress, 100);
  }
}

// The bar follows the show's frames from the first report and is full only once the video is
// written; the status line counts the frames of the show and then names the video.
TEST_F(ConversionRun, ProgressFollowsTheFramesAndTheEndNamesTheVideo) {
  Window().RunOptions.Realtime = true;
  std::vector<int> positions;
  std::vector<std::string> lines;
  Window().OnRunProgress = [&](const TProgressInfo&) {
    positions.push_back(window.Progress);
    lines.push_back(window.Status);
  };
  const JobResult result = StartAndWait();
  ASSERT_EQ(result.End, JobEnd::Finished) << result.ErrorText;
  // The show lasts 7.2 s at its native rate, with a report every half second.
  ASSERT_GE(positions.size(), 8u);
  EXPECT_TRUE(std::is_sorted(positions.begin(), positions.end()));
  EXPECT_LE(positions.back(), 99);
  EXPECT_GE(positions.back(), 80);
  // The first second's reports already move the bar.
  EXPECT_GT(positions[2], 0);
  for (const std::string& line : lines) {
    SCOPED_TRACE(line);
    EXPECT_EQ(line.rfind("Frame ", 0), 0u);
    EXPECT_NE(line.find(" of 72 "), std::string::npos);
  }
  // Once the pace is known the time left is told.
  EXPECT_NE(lines[lines.size() / 2].find(" left"), std::string::npos);
  EXPECT_EQ(window.Progress, 100);
  EXPECT_EQ(window.Status, "Written: " + result.OutputFile);
  // The engine's own figures went to the log, but not with every report.
  const auto raw = std::count_if(window.LogLines.begin(), window.LogLines.end(),
                                 [](const std::string& line) { return line.rfind("Frame number: ", 0) == 0; });
  EXPECT_GE(raw, 1);
  EXPECT_LE(raw, 3);
}

TEST_F(ConversionRun, AnUndecodablePhotoFailsTheTaskWithItsName) {
  ASSERT_TRUE(testing::WriteWholeFile(folder / "two.bmp", {'B', 'M', 1, 2, 3}));
  const JobResult result = StartAndWait();
  EXPECT_EQ(result.End, JobEnd::Failed);
  EXPECT_NE(result.ErrorText.find("two.bmp"), std::string::npos) << result.ErrorText;
  ASSERT_EQ(window.Messages.size(), 1u);
  EXPECT_EQ(window.Messages[0].Text, result.ErrorText);
  EXPECT_EQ(window.Messages[0].Icon, MessageIcon::Exclamation);
  EXPECT_TRUE(window.Idle());
  EXPECT_EQ(window.Status.rfind("Failed: ", 0), 0u) << window.Status;
  EXPECT_NE(window.Status.find("two.bmp"), std::string::npos) << window.Status;
  // The first photo's frames were written, but a failed task leaves no playable file: none stays.
  EXPECT_FALSE(result.OutputFile.empty());
  EXPECT_FALSE(std::filesystem::exists(result.OutputFile));
}

std::vector<std::string> temporary_audio(const std::string& folder) {
  std::vector<std::string> found;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind("tempaudio-", 0) == 0) found.push_back(name);
  }
  return found;
}

// A task that ends unfinished with a reason (a trailer that could not be written, a join that
// broke off) is a failed run, told in the window's message box and in the result the command line
// reads; the half-written video and the temporary sound go.
TEST_F(ConversionRun, ATaskThatFailsFailsTheRun) {
  const std::string reason = "av_write_trailer(): No space left on device";
  testing::WriteTrack(folder / "song.wav", 9.0);
  struct Case {
    const char* name;
    bool inJoin;
    bool exception;  // raised as an error, or only reported unfinished with its reason
  };
  const Case cases[] = {
      {"the slideshow, unfinished", false, false},
      {"the slideshow, raised", false, true},
      {"the join, unfinished", true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    window.Messages.clear();
    Window().AudioTracks().Clear();
    Window().AudioTracks().Append({folder / "song.wav", ""});
    TFFEncoder& encoder = Window().FFEncoder();
    const auto original = encoder.OnTerminate;
    encoder.OnTerminate = [&, original](TCustomEncoder* sender, const TTerminateInfo& info) {
      TTerminateInfo told = info;
      if (info.TaskIndex >= 0 && Window().Joining() == c.inJoin) {
        told.Finished = false;
        told.Exception = c.exception;
        told.ExceptionMsg = reason;
      }
      original(sender, told);
    };
    const JobResult result = StartAndWait();
    encoder.OnTerminate = original;

    EXPECT_EQ(result.End, JobEnd::Failed);
    EXPECT_NE(result.ErrorText.find(reason), std::string::npos) << result.ErrorText;
    if (c.inJoin) {
      EXPECT_NE(result.ErrorText.find("song.wav"), std::string::npos) << result.ErrorText;
      EXPECT_EQ(result.OutputFile, "");
    }
    ASSERT_EQ(window.Messages.size(), 1u);
    EXPECT_EQ(window.Messages[0].Text, result.ErrorText);
    EXPECT_EQ(window.Messages[0].Icon, MessageIcon::Exclamation);
    EXPECT_TRUE(window.Idle());
    EXPECT_TRUE(result.OutputFile.empty() || !std::filesystem::exists(result.OutputFile));
    EXPECT_TRUE(temporary_audio(window.OutputFolder).empty());
  }
}

// A track that is no sound at all ends the run before any encoding, naming the file: a silent
// video made without a word is not what the user asked for.
TEST_F(ConversionRun, ATrackThatIsNotSoundFailsTheRunNamingIt) {
  ASSERT_TRUE(testing::WriteWholeFile(folder / "readme.txt", {'h', 'e', 'l', 'l', 'o', '\n'}));
  testing::MediaSpec silentVideo = testing::SmallVideoClip(1.0);
  silentVideo.HasAudio = false;
  std::string made;
  ASSERT_TRUE(testing::WriteMediaFile(folder / "silent.mkv", silentVideo, made)) << made;
  testing::WriteTrack(folder / "song.wav", 9.0);
  struct Case {
    const char* track;
    const char* rule;
  };
  const Case cases[] = {{"readme.txt", "cut"}, {"one.jpg", "fade"}, {"silent.mkv", "loop"}, {"gone.mp3", "cut"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.track);
    settings.WriteString(settings_key::MusicEnd, c.rule);
    window.Messages.clear();
    Window().AudioTracks().Clear();
    Window().AudioTracks().Append({folder / "song.wav", ""});
    Window().AudioTracks().Append({folder / c.track, ""});
    const JobResult result = StartAndWait();
    EXPECT_EQ(result.End, JobEnd::Failed);
    EXPECT_NE(result.ErrorText.find(folder / c.track), std::string::npos) << result.ErrorText;
    ASSERT_EQ(window.Messages.size(), 1u);
    EXPECT_EQ(window.Messages[0].Text, result.ErrorText);
    EXPECT_NE(std::find(window.LogLines.begin(), window.LogLines.end(), "***" + result.ErrorText), window.LogLines.end());
    EXPECT_TRUE(window.Idle());
    EXPECT_EQ(result.OutputFile, "");
  }
  // Nothing was written: no video, no temporary sound.
  EXPECT_TRUE(!std::filesystem::exists(window.OutputFolder) || std::filesystem::is_empty(window.OutputFolder));
}

// A track named as long as the folder allows: the temporary sound and the video are named from it,
// each within the folder's limit, and the run ends with the sound in the video.
TEST_F(ConversionRun, ATrackWithALongNameStillMakesTheVideo) {
  const std::size_t limit = FolderNameLimit(folder.Path());
  const std::string track = folder / (std::string(limit - 15, 'm') + ".wav");
  testing::WriteTrack(track, 9.0);
  Window().AudioTracks().Append({track, ""});
  const JobResult result = StartAndWait();
  ASSERT_EQ(result.End, JobEnd::Finished) << result.ErrorText;
  const std::string name = std::filesystem::path(result.OutputFile).filename().string();
  EXPECT_LE(name.size(), limit);
  EXPECT_EQ(name.rfind("slideshow-mmm", 0), 0u) << name;
  EXPECT_EQ(name.substr(name.size() - 10), "_(new).mp4");
  EXPECT_TRUE(DecodeVideoFile(result.OutputFile).HasAudio);
  EXPECT_TRUE(temporary_audio(window.OutputFolder).empty());
  EXPECT_TRUE(window.Messages.empty());
}

TEST_F(ConversionRun, StopMidRunLeavesAPlayableVideoAndNoTemporaryAudio) {
  testing::WriteTrack(folder / "song.wav", 12.0);
  Window().AudioTracks().Append({folder / "song.wav", ""});
  // At the native rate the run lasts as long as the show, so there is time to pause and stop.
  Window().RunOptions.Realtime = true;
  int frames = 0;
  bool sawRunningState = false;
  std::vector<std::string> captions;
  Window().OnRunProgress = [&](const TProgressInfo& info) {
    if (!Window().Joining()) frames = info.FrameNumber;
  };
  window.OnWaitTurn = [&] {
    sawRunningState = sawRunningState || window.RunningState();
    if (frames >= 12 && captions.empty()) {
      Window().btnPauseClick();
      captions.push_back(window.PauseCaption);
      Window().btnPauseClick();
      captions.push_back(window.PauseCaption);
      EXPECT_FALSE(window.StartEnabled);
    }
    if (frames >= 20 && !Window().StopPressed()) Window().btnStopClick();
  };
  const JobResult result = StartAndWait();
  ASSERT_EQ(result.End, JobEnd::Stopped) << result.ErrorText;
  EXPECT_TRUE(sawRunningState);
  EXPECT_EQ(captions, (std::vector<std::string>{"Resume", "Pause"}));
  EXPECT_TRUE(window.Idle());
  EXPECT_EQ(window.Status, "Stopped: " + result.OutputFile + " holds the show up to the stop");
  EXPECT_FALSE(std::filesystem::exists(window.OutputFolder + "/tempaudio-song.mp3"));

  const DecodedVideo decoded = DecodeVideoFile(result.OutputFile);
  ASSERT_TRUE(decoded.Opened);
  EXPECT_GT(decoded.VideoFrames, 10);
  EXPECT_LT(decoded.VideoFrames, ThreePhotoFrames);
  EXPECT_EQ(decoded.DecodeErrors, 0);
}

// Start returns while the run goes on; the frames are drawn on the engine's worker, not the main
// thread, the next photo decoded ahead of them; a Stop then ends the run with a playable video.
TEST_F(ConversionRun, StartReturnsAtOnceAndTheFramesAreDrawnOffTheMainThread) {
  Window().RunOptions.Realtime = true;
  std::atomic<int> drawnOnMain{0}, drawnElsewhere{0}, framesDrawn{0};
  TFrameInputAdapter& input = Window().FIA();
  const auto draw = input.OnReadFrameCanvas;
  input.OnReadFrameCanvas = [&, draw](TFrameInputAdapter& sender, Bitmap& canvas, PInputFrameInfo info) {
    ++(IsMainThread() ? drawnOnMain : drawnElsewhere);
    ++framesDrawn;
    return draw(sender, canvas, info);
  };
  const auto clicked = std::chrono::steady_clock::now();
  ASSERT_TRUE(Window().btnStartClick());
  const auto answered = std::chrono::steady_clock::now() - clicked;
  // The show lasts 7.2 s at its native rate; the click is answered long before.
  EXPECT_LT(answered, std::chrono::seconds(1));
  EXPECT_TRUE(Window().Running());
  bool sawRunningState = false;
  while (!Window().WaitForRunEnd(std::chrono::milliseconds(10))) {
    sawRunningState = sawRunningState || window.RunningState();
    // Past the first hold: the second photo has been brought in.
    if (framesDrawn >= 25 && !Window().StopPressed()) Window().btnStopClick();
  }
  const JobResult& result = Window().LastRun();
  ASSERT_EQ(result.End, JobEnd::Stopped) << result.ErrorText;
  EXPECT_TRUE(sawRunningState);
  EXPECT_EQ(drawnOnMain.load(), 0);
  EXPECT_GE(drawnElsewhere.load(), 25);
  EXPECT_GE(Window().Sequencer().PhotosDecodedAhead(), 1);
  const DecodedVideo decoded = DecodeVideoFile(result.OutputFile);
  ASSERT_TRUE(decoded.Opened);
  EXPECT_GE(decoded.VideoFrames, 20);
  EXPECT_LT(decoded.VideoFrames, ThreePhotoFrames);
  EXPECT_EQ(decoded.DecodeErrors, 0);
  EXPECT_TRUE(window.Idle());
}

// The window going in the middle of a run (with its sound joined) stops the run and joins its
// thread; the video is kept closed cleanly, the joined sound removed, and the window hears no more.
TEST_F(ConversionRun, DestroyingTheWindowMidRunStopsAndJoinsTheRun) {
  testing::WriteTrack(folder / "song.wav", 12.0);
  Window().AudioTracks().Append({folder / "song.wav", ""});
  Window().RunOptions.Realtime = true;
  std::atomic<int> frames{0};
  Window().OnRunProgress = [&](const TProgressInfo& info) {
    if (!Window().Joining()) frames = info.FrameNumber;
  };
  ASSERT_TRUE(Window().btnStartClick());
  while (frames < 10) ASSERT_FALSE(Window().WaitForRunEnd(std::chrono::milliseconds(10)));
  const std::size_t messagesBefore = window.Messages.size();
  main.reset();

  EXPECT_TRUE(window.OpenedFolders.empty());
  EXPECT_EQ(window.Messages.size(), messagesBefore);
  EXPECT_TRUE(temporary_audio(window.OutputFolder).empty());
  const std::vector<std::string> left = [&] {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(window.OutputFolder)) names.push_back(entry.path());
    return names;
  }();
  ASSERT_EQ(left.size(), 1u);
  const DecodedVideo decoded = DecodeVideoFile(left[0]);
  ASSERT_TRUE(decoded.Opened);
  EXPECT_GE(decoded.VideoFrames, 10);
  EXPECT_EQ(decoded.DecodeErrors, 0);
}

TEST_F(ConversionRun, StopWhileJoiningEndsTheRunAndRemovesTheJoinedFile) {
  testing::WriteTrack(folder / "song.wav", 30.0);
  Window().AudioTracks().Append({folder / "song.wav", ""});
  window.OnWaitTurn = [&] {
    if (Window().Joining() && !Window().StopPressed()) Window().btnStopClick();
  };
  const JobResult result = StartAndWait();
  EXPECT_EQ(result.End, JobEnd::Stopped);
  EXPECT_TRUE(window.Idle());
  EXPECT_EQ(result.OutputFile, "");
  EXPECT_FALSE(std::filesystem::exists(window.OutputFolder + "/tempaudio-song.mp3"));
  EXPECT_TRUE(std::filesystem::exists(folder / "song.wav"));
  // Nothing of the run is left to stop a next one.
  window.OnWaitTurn = nullptr;
  Window().AudioTracks().Clear();
  EXPECT_EQ(StartAndWait().End, JobEnd::Finished);
}

// A stop is kept only when the video closes cleanly. A stop whose closing write fails (the task
// reported unfinished with the library's reason) is a failed run: said once in the message box,
// the half video the job named removed, a file the caller gave left to the caller.
TEST_F(ConversionRun, AStopWhoseVideoCannotBeClosedFailsTheRun) {
  const std::string reason = "av_write_trailer(): File too large";
  testing::WriteTrack(folder / "song.wav", 12.0);
  Window().AudioTracks().Append({folder / "song.wav", ""});
  Window().RunOptions.Realtime = true;
  int frames = 0;
  Window().OnRunProgress = [&](const TProgressInfo& info) {
    if (!Window().Joining()) frames = info.FrameNumber;
  };
  window.OnWaitTurn = [&] {
    if (frames >= 10 && !Window().StopPressed()) Window().btnStopClick();
  };
  TFFEncoder& encoder = Window().FFEncoder();
  const auto original = encoder.OnTerminate;
  encoder.OnTerminate = [&, original](TCustomEncoder* sender, const TTerminateInfo& info) {
    TTerminateInfo told = info;
    if (info.TaskIndex >= 0 && !Window().Joining() && Window().StopPressed()) {
      told.Finished = false;
      told.ExceptionMsg = reason;
    }
    original(sender, told);
  };
  for (const bool givenFile : {false, true}) {
    SCOPED_TRACE(givenFile ? "a file the caller gave" : "a name in the folder");
    frames = 0;
    window.Messages.clear();
    const std::string given = folder / "given.mp4";
    Window().RunOptions.OutputFile = givenFile ? given : std::string();
    const JobResult result = StartAndWait();
    EXPECT_EQ(result.End, JobEnd::Failed);
    EXPECT_EQ(result.ErrorText, reason);
    ASSERT_EQ(window.Messages.size(), 1u);
    EXPECT_EQ(window.Messages[0].Text, reason);
    EXPECT_TRUE(window.Idle());
    ASSERT_FALSE(result.OutputFile.empty());
    EXPECT_EQ(std::filesystem::exists(result.OutputFile), givenFile) << result.OutputFile;
    EXPECT_TRUE(temporary_audio(window.OutputFolder).empty());
    std::filesystem::remove(given);
  }
  encoder.OnTerminate = original;
}

std::vector<std::string> folder_entries(const std::string& path) {
  std::vector<std::string> names;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(path, error)) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

// What a program ended at once by a signal removes (RemoveUnfinishedFiles, as its handler runs
// it): the joined sound from the moment it is named, and the video the job names until the run
// has kept it; never a kept video.
TEST_F(ConversionRun, UnfinishedFilesAreRemovedByASignalUntilKept) {
  testing::WriteTrack(folder / "song.wav", 30.0);
  Window().AudioTracks().Append({folder / "song.wav", ""});
  const JobResult kept = StartAndWait();
  ASSERT_EQ(kept.End, JobEnd::Finished) << kept.ErrorText;
  RemoveUnfinishedFiles();
  EXPECT_TRUE(std::filesystem::exists(kept.OutputFile));
  const std::vector<std::string> before = folder_entries(window.OutputFolder);

  struct Case {
    const char* Name;
    bool WhileJoining;
    std::vector<std::string> Unfinished;  // the files the run has begun when the signal comes
  };
  const Case cases[] = {
      {"while joining", true, {"tempaudio-song.mp3"}},
      {"while encoding", false, {"slideshow-song_(new_1).mp4", "tempaudio-song.mp3"}},
  };
  Window().RunOptions.Realtime = true;
  int frames = 0;
  Window().OnRunProgress = [&](const TProgressInfo& info) {
    if (!Window().Joining()) frames = info.FrameNumber;
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    std::vector<std::string> begun;
    bool signalled = false;
    frames = 0;
    window.OnWaitTurn = [&] {
      if (signalled || Window().Joining() != c.WhileJoining) return;
      // Frames written: the video is open and being filled.
      if (!c.WhileJoining && frames < 5) return;
      begun.clear();
      for (const std::string& name : folder_entries(window.OutputFolder))
        if (std::find(before.begin(), before.end(), name) == before.end()) begun.push_back(name);
      if (begun.size() < c.Unfinished.size()) return;
      RemoveUnfinishedFiles();
      signalled = true;
      Window().btnStopClick();
    };
    StartAndWait();
    ASSERT_TRUE(signalled) << "the run ended before its files were seen";
    EXPECT_EQ(begun, c.Unfinished);
    EXPECT_EQ(folder_entries(window.OutputFolder), before);
  }
  window.OnWaitTurn = nullptr;
}

TEST_F(ConversionRun, EarlyEndsReturnToIdleWithTheirLogLine) {
  struct Case {
    const char* name;
    int format;
    const char* size;
    const char* rate;
    const char* logged;
  };
  const Case cases[] = {
      {"no format", -1, "160x120", "10:1", "***Cannot do convert, error: "},
      {"frame size beyond any encoder", 0, "100000x120", "10:1", "***Invalid frame size: 100000x120"},
      {"no frame rate", 0, "160x120", "0:1", "***File open error: "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    window.Format = c.format;
    window.VideoSize = c.size;
    window.FrameRate = c.rate;
    window.LogLines.clear();
    const JobResult result = StartAndWait();
    EXPECT_EQ(result.End, JobEnd::Failed);
    EXPECT_FALSE(result.ErrorText.empty());
    EXPECT_TRUE(window.Idle());
    const auto line = std::find_if(window.LogLines.begin(), window.LogLines.end(), [&](const std::string& text) {
      return text.rfind(c.logged, 0) == 0;
    });
    ASSERT_NE(line, window.LogLines.end());
    // An empty line before and after it, so that it stands out in the memo.
    EXPECT_EQ(*(line - 1), "");
    EXPECT_EQ(*(line + 1), "");
  }
  // No video was begun.
  EXPECT_TRUE(!std::filesystem::exists(window.OutputFolder) || std::filesystem::is_empty(window.OutputFolder));
}

TEST_F(ConversionRun, SizeTheWindowCannotReadIsRefusedBeforeTheRun) {
  for (const char* size : {"640", "hd 720", "1280x", "0x120"}) {
    SCOPED_TRACE(size);
    window.VideoSize = size;
    window.Messages.clear();
    const bool began = Window().btnStartClick();
    const JobResult result = Window().LastRun();
    EXPECT_EQ(result.End, JobEnd::Failed);
    const std::string text = std::string("Invalid frame size: ") + size;
    EXPECT_EQ(result.ErrorText, text);
    ASSERT_EQ(window.Messages.size(), 1u);
    EXPECT_EQ(window.Messages[0].Text, text);
    // Nothing ran: no run began, no folder was made, the window never left idle.
    EXPECT_FALSE(began);
    EXPECT_FALSE(window.StopFocused);
    EXPECT_TRUE(window.Idle());
    EXPECT_FALSE(std::filesystem::exists(window.OutputFolder));
    EXPECT_FALSE(Window().FFEncoder().Working());
  }
}

// However the size is typed, the frames drawn are the frames encoded: the sequencer's canvas and
// the video's frame have the same size.
TEST_F(ConversionRun, TypedSizeGivesTheSameCanvasAndVideoFrame) {
  struct Case {
    const char* typed;
    int width, height;
  };
  const Case cases[] = {{"hd720", 1280, 720}, {"1280X720", 1280, 720}, {"640x480 ", 640, 480}};
  photos.resize(1);
  window.FrameRate = "2:1";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.typed);
    window.VideoSize = c.typed;
    const JobResult result = StartAndWait();
    ASSERT_EQ(result.End, JobEnd::Finished) << result.ErrorText;
    EXPECT_EQ(Window().Sequencer().FrameWidth(), c.width);
    EXPECT_EQ(Window().Sequencer().FrameHeight(), c.height);
    const DecodedVideo decoded = DecodeVideoFile(result.OutputFile);
    ASSERT_TRUE(decoded.Opened);
    EXPECT_EQ(decoded.Width, c.width);
    EXPECT_EQ(decoded.Height, c.height);
    EXPECT_EQ(decoded.DecodeErrors, 0);
  }
}

TEST_F(ConversionRun, StartWithoutPhotosRunsAddPhotos) {
  photos.clear();
  window.PhotosToChoose = {folder / "one.jpg"};
  const JobResult result = StartAndWait();
  EXPECT_EQ(result.End, JobEnd::AddedPhotos);
  EXPECT_EQ(window.ChooseCalls, 1);
  EXPECT_EQ(window.ShownPhotos, window.PhotosToChoose);
  EXPECT_EQ(Window().Photos(), window.PhotosToChoose);
}

}  // namespace
}  // namespace lumivor
