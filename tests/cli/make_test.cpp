// lumivor make run as a program: a slideshow in every container, where the video goes, failures
// that keep earlier files, wrong arguments, and Ctrl-C.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "app/exif_test_support.h"
#include "app/run_test_support.h"
#include "app/run/run_request.h"
#include "app/settings/settings_store.h"
#include "cli/cli_test_support.h"
#include "cli/make_command.h"

namespace lumivor {
namespace {

using testing::RunLumivor;
using testing::RunOptions;
using testing::RunResult;
using testing::ScratchFolder;

// Two photos at "10:1" with delays 1 and 1: three transitions, two holds, two tail frames.
constexpr int TwoPhotoFrames = 3 * 10 + 2 * 10 + 2;

class MakeCommand : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::WritePhoto(folder / "wide.jpg", 160, 90);
    testing::WritePhoto(folder / "tall.bmp", 90, 160);
    testing::WriteTrack(folder / "song.wav", 6.0);
  }
  std::vector<std::string> Show(std::vector<std::string> more) const {
    std::vector<std::string> arguments = {"make", "--size", "160x120", "--rate", "10:1", "--hold", "1",
                                          "--transition", "1"};
    arguments.insert(arguments.end(), more.begin(), more.end());
    arguments.push_back(folder / "wide.jpg");
    arguments.push_back(folder / "tall.bmp");
    return arguments;
  }

  ScratchFolder folder;
};

// The window's settings file and the command line are two ways of asking for one run: the same
// choices give the engine the same option texts.
TEST(MakeRequest, SettingsFileAndArgumentsGiveTheSameOptionTexts) {
  struct Setting {
    std::string_view Key;
    const char* Value;
  };
  struct Case {
    const char* name;
    std::vector<Setting> settings;
    std::vector<std::string> arguments;
  };
  const Case cases[] = {
      {"mp4 from the lists",
       {{settings_key::Format, "0"}, {settings_key::VideoSize, "320x240"}, {settings_key::FrameRate, "30:1"},
        {settings_key::SampleRate, "4"}, {settings_key::BitRate, "768"}, {settings_key::Stereo, "1"}},
       {"--format", "mp4", "--size", "320x240", "--rate", "30:1", "--sample-rate", "44100", "--bitrate", "768"}},
      {"h264 by the engine's name of the size, mono, the source's rate",
       {{settings_key::Format, "6"}, {settings_key::VideoSize, "hd720"}, {settings_key::FrameRate, "25:1"},
        {settings_key::SampleRate, "0"}, {settings_key::BitRate, "1200"}, {settings_key::Stereo, "0"},
        {settings_key::Mono, "1"}},
       {"--format", "h264", "--size", "hd720", "--rate", "25:1", "--sample-rate", "source", "--mono", "--bitrate",
        "1200"}},
      {"wmv with a capital X",
       {{settings_key::Format, "3"}, {settings_key::VideoSize, "1280X720"}, {settings_key::FrameRate, "15:1"},
        {settings_key::SampleRate, "2"}, {settings_key::BitRate, "900"}},
       {"--format", "wmv", "--size", "1280X720", "--rate", "15:1", "--sample-rate", "11025", "--bitrate", "900"}},
      {"mkv with blanks around the size",
       {{settings_key::Format, "5"}, {settings_key::VideoSize, " 640x480 "}, {settings_key::SampleRate, "3"},
        {settings_key::BitRate, "512"}},
       {"--format", "mkv", "--size", " 640x480 ", "--rate", "30:1", "--sample-rate", "22050", "--bitrate", "512"}},
  };
  ScratchFolder folder;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    IniSettingsStore file(folder / (std::string(c.name).substr(0, 3) + ".ini"));
    for (const Setting& setting : c.settings) ASSERT_TRUE(file.WriteString(setting.Key, setting.Value));
    ASSERT_TRUE(file.WriteString(settings_key::PhotoDelay, "3"));
    ASSERT_TRUE(file.WriteString(settings_key::EffectDelay, "1"));
    RunRequest fromFile;
    std::string errorText;
    ASSERT_TRUE(RequestFromSettings(file, fromFile, errorText)) << errorText;

    std::vector<std::string> arguments = c.arguments;
    for (const char* more : {"--hold", "3", "--transition", "1", "--realtime", "-o"}) arguments.push_back(more);
    arguments.push_back(folder.Path());
    arguments.push_back("photo.jpg");
    RunRequest fromArguments;
    ASSERT_TRUE(cli::MakeRunRequest(arguments, fromArguments, errorText)) << errorText;

    EXPECT_EQ(FrameInputOptionText(fromArguments), FrameInputOptionText(fromFile));
    EXPECT_EQ(OutputOptionText(fromArguments), OutputOptionText(fromFile));
    EXPECT_EQ(fromArguments.FormatIndex, fromFile.FormatIndex);
    EXPECT_DOUBLE_EQ(fromArguments.HoldSeconds, fromFile.HoldSeconds);
    EXPECT_DOUBLE_EQ(fromArguments.TransitionSeconds, fromFile.TransitionSeconds);
  }
}

TEST_F(MakeCommand, EveryContainerDecodesWithSoundAndEveryFrame) {
  const char* formats[] = {"mp4", "swf", "flv", "wmv", "mov", "mkv"};
  for (const char* format : formats) {
    SCOPED_TRACE(format);
    const std::string out = folder / format;
    std::filesystem::create_directory(out);
    const RunResult run = RunLumivor(folder, Show({"--format", format, "--audio", folder / "song.wav", "-o", out}));
    ASSERT_EQ(run.ExitCode, 0) << run.Err;
    const std::string video = out + "/slideshow-song_(new)." + format;
    EXPECT_EQ(run.Out, video + "\n");
    const testing::DecodedVideo decoded = testing::DecodeVideoFile(video);
    ASSERT_TRUE(decoded.Opened);
    EXPECT_EQ(decoded.VideoFrames, TwoPhotoFrames);
    EXPECT_EQ(decoded.Width, 160);
    EXPECT_EQ(decoded.Height, 120);
    EXPECT_EQ(decoded.DecodeErrors, 0);
    EXPECT_TRUE(decoded.HasAudio);
    // Only the video is left beside the tracks: the joined sound was temporary.
    EXPECT_EQ(testing::FolderEntries(out), std::vector<std::string>{"slideshow-song_(new)." + std::string(format)});
  }
}

// Frames a few pixels wide once made the preview's scaler write past its picture and corrupt the
// heap (seen only without the sanitizers, which do not see inside the libraries): every container
// must still give a whole video of that size.
TEST_F(MakeCommand, TinyFramesMakeWholeVideos) {
  struct Case {
    const char* Format;
    int Width, Height;
  };
  const Case cases[] = {{"mkv", 2, 2}, {"mp4", 4, 4}, {"flv", 6, 6}, {"mov", 12, 8}, {"wmv", 8, 12}, {"swf", 10, 10}};
  for (const Case& c : cases) {
    const std::string size = std::to_string(c.Width) + "x" + std::to_string(c.Height);
    SCOPED_TRACE(std::string(c.Format) + " " + size);
    const std::string out = folder / (std::string(c.Format) + size);
    std::filesystem::create_directory(out);
    std::vector<std::string> arguments = Show({"--format", c.Format, "-o", out});
    arguments[2] = size;
    const RunResult run = RunLumivor(folder, arguments);
    ASSERT_EQ(run.ExitCode, 0) << run.Err;
    const testing::DecodedVideo decoded = testing::DecodeVideoFile(out + "/slideshow-_(new)." + c.Format);
    ASSERT_TRUE(decoded.Opened);
    EXPECT_EQ(decoded.VideoFrames, TwoPhotoFrames);
    EXPECT_EQ(decoded.Width, c.Width);
    EXPECT_EQ(decoded.Height, c.Height);
    EXPECT_EQ(decoded.DecodeErrors, 0);
  }
}

TEST_F(MakeCommand, NamesCountUpInAFolderAndAFileNameIsReplacedWhole) {
  // Without -o the video goes into the current folder.
  RunOptions here;
  here.WorkingFolder = folder.Path();
  for (const char* expected : {"slideshow-_(new).mp4", "slideshow-_(new_1).mp4"}) {
    const RunResult run = RunLumivor(folder, Show({}), here);
    ASSERT_EQ(run.ExitCode, 0) << run.Err;
    EXPECT_EQ(run.Out, folder / expected + "\n");
  }

  const std::string named = folder / "named.mov";
  ASSERT_TRUE(testing::WriteWholeFile(named, {'o', 'l', 'd'}));
  ::chmod(named.c_str(), 0640);
  const RunResult replaced = RunLumivor(folder, Show({"-o", named}));
  ASSERT_EQ(replaced.ExitCode, 0) << replaced.Err;
  EXPECT_EQ(replaced.Out, named + "\n");
  EXPECT_EQ(testing::DecodeVideoFile(named).VideoFrames, TwoPhotoFrames);
  struct stat info {};
  ASSERT_EQ(::stat(named.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0640u);

  // A run that fails leaves the file that was there, and no partial file beside it.
  ASSERT_TRUE(testing::WriteWholeFile(folder / "broken.jpg", {0xff, 0xd8, 0xff, 0x00}));
  const std::vector<std::string> before = testing::FolderEntries(folder.Path());
  const RunResult failed = RunLumivor(folder, {"make", "--rate", "10:1", "--hold", "1", "--transition", "1", "-o",
                                               named, folder / "wide.jpg", folder / "broken.jpg"});
  EXPECT_EQ(failed.ExitCode, 1);
  EXPECT_NE(failed.Err.find("broken.jpg"), std::string::npos) << failed.Err;
  EXPECT_EQ(failed.Out, "");
  EXPECT_EQ(testing::DecodeVideoFile(named).VideoFrames, TwoPhotoFrames);
  EXPECT_EQ(testing::FolderEntries(folder.Path()), before);
}

TEST_F(MakeCommand, FilledBlurredAndMovingShowsKeepEveryFrame) {
  for (const char* fit : {"fill", "blur"}) {
    SCOPED_TRACE(fit);
    const std::string video = folder / (std::string(fit) + ".mkv");
    const RunResult run =
        RunLumivor(folder, Show({"--fit", fit, "--motion", "random", "--motion-strength", "30", "--seed", "5", "-o", video}));
    ASSERT_EQ(run.ExitCode, 0) << run.Err;
    const testing::DecodedVideo decoded = testing::DecodeVideoFile(video);
    EXPECT_EQ(decoded.VideoFrames, TwoPhotoFrames);
    EXPECT_EQ(decoded.DecodeErrors, 0);
  }
}

TEST_F(MakeCommand, WrongArgumentsChangeNothing) {
  ASSERT_EQ(::mkfifo((folder / "pipe.mp4").c_str(), 0600), 0);
  struct Case {
    std::vector<std::string> arguments;
    const char* message;
  };
  const Case cases[] = {
      {{"make"}, "no photos given"},
      {{"make", "--frobnicate", "a.jpg"}, "unknown option --frobnicate"},
      {{"make", "--size", "640", "a.jpg"}, "--size wants WIDTHxHEIGHT"},
      {{"make", "--rate", "30/1", "a.jpg"}, "--rate wants NUMERATOR:DENOMINATOR"},
      {{"make", "--hold", "3001", "a.jpg"}, "--hold wants a whole number from 0 to 3000"},
      {{"make", "--effects", "1,177", "a.jpg"}, "bad --effects item \"177\" (numbers or ranges from 1 to 176"},
      {{"make", "--format", "avi", "a.jpg"}, "--format is mp4, swf, flv, wmv, mov or mkv"},
      {{"make", "--seed", "-1", "a.jpg"}, "--seed wants a whole number"},
      {{"make", "--fit", "stretch", "a.jpg"}, "--fit is fit, fill or blur"},
      {{"make", "--motion", "Zoom", "a.jpg"}, "--motion is none, zoom, pan or random"},
      {{"make", "--motion-strength", "101", "a.jpg"}, "--motion-strength wants a whole number from 0 to 100"},
      {{"make", "-o", folder / "x.mkv", "--format", "mp4", "a.jpg"}, "does not end in the extension of --format mp4"},
      {{"make", "-o", folder / "notes.txt", "a.jpg"}, "neither a folder nor a file name ending in .mp4"},
      {{"make", "-o", folder / "pipe.mp4", folder / "wide.jpg"}, "exists and is not a regular file"},
      {{"make", folder / "missing.jpg"}, "cannot read photo"},
      {{"make", "--audio", folder.Path(), folder / "wide.jpg"}, "is not a regular file"},
      {{"make", "-o", "/proc/lumivor-no-such-folder/", folder / "wide.jpg"}, "cannot create the folder"},
  };
  const std::vector<std::string> before = testing::FolderEntries(folder.Path());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    const RunResult run = RunLumivor(folder, c.arguments);
    EXPECT_EQ(run.ExitCode, 2);
    EXPECT_NE(run.Err.find(c.message), std::string::npos) << run.Err;
    EXPECT_EQ(run.Out, "");
  }
  EXPECT_EQ(testing::FolderEntries(folder.Path()), before);

  const RunResult help = RunLumivor(folder, {"make", "--help"});
  EXPECT_EQ(help.ExitCode, 0);
  EXPECT_NE(help.Out.find("mp4  --size 320x240"), std::string::npos) << help.Out;
}

// The demo's path: the program's own photos and tune make a show with sound.
TEST_F(MakeCommand, SamplesMakeAShowWithSound) {
  const std::string media = folder / "media";
  std::filesystem::create_directory(media);
  const RunResult samples = RunLumivor(folder, {"samples", media, "--seconds", "12"});
  ASSERT_EQ(samples.ExitCode, 0) << samples.Err;
  std::vector<std::string> files = testing::Lines(samples.Out);
  ASSERT_EQ(files.size(), 5u) << samples.Out;
  EXPECT_EQ(files.back(), media + "/sample-tune.wav");

  std::vector<std::string> arguments = {"make", "--size", "160x120", "--rate", "10:1", "--hold", "1", "--transition",
                                        "1", "--audio", files.back(), "-o", media};
  arguments.insert(arguments.end(), files.begin(), files.end() - 1);
  const RunResult run = RunLumivor(folder, arguments);
  ASSERT_EQ(run.ExitCode, 0) << run.Err;
  const testing::DecodedVideo decoded = testing::DecodeVideoFile(media + "/slideshow-sample-tune_(new).mp4");
  EXPECT_EQ(decoded.VideoFrames, 5 * 10 + 4 * 10 + 2);
  EXPECT_TRUE(decoded.HasAudio);
  EXPECT_EQ(decoded.DecodeErrors, 0);
}

// Ctrl-C during a run at the native rate stops it as the Stop button does: the video so far is
// closed properly and kept, and the temporary joined sound goes.
TEST_F(MakeCommand, CtrlCStopsWithAPlayableVideo) {
  const std::string errName = testing::StderrFileOf(folder);
  RunOptions options;
  options.WorkingFolder = folder.Path();
  // Once the bar shows a frame of the slideshow, it is under way.
  options.WhileRunning = [&errName](pid_t pid) {
    const std::string err = testing::FileText(errName);
    const std::size_t bar = err.rfind("frame=");
    const std::size_t frame = bar == std::string::npos ? bar : err.find_first_not_of(' ', bar + 6);
    if (frame == std::string::npos || err[frame] < '1' || err[frame] > '9') return false;
    ::kill(pid, SIGINT);
    return true;
  };
  const RunResult run = RunLumivor(folder, Show({"--realtime", "--audio", folder / "song.wav"}), options);
  EXPECT_EQ(run.ExitCode, 130) << run.Err;
  const std::string video = folder / "slideshow-song_(new).mp4";
  EXPECT_EQ(run.Out, video + "\n");
  const testing::DecodedVideo decoded = testing::DecodeVideoFile(video);
  EXPECT_GT(decoded.VideoFrames, 0);
  EXPECT_LT(decoded.VideoFrames, TwoPhotoFrames);
  EXPECT_EQ(decoded.DecodeErrors, 0);
  EXPECT_FALSE(std::filesystem::exists(folder / "tempaudio-song.mp3"));
}

// A WAV file of silence, 8000 Hz mono, whose samples are a hole in the file: a track of an hour
// costs no disk space and takes no time to write.
void WriteSilentWav(const std::string& path, std::uint32_t seconds) {
  const std::uint32_t dataBytes = seconds * 8000 * 2;
  std::vector<std::uint8_t> header;
  const auto text = [&](const char* four) { header.insert(header.end(), four, four + 4); };
  const auto number = [&](std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) header.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
  };
  text("RIFF"), number(36 + dataBytes, 4), text("WAVE");
  text("fmt "), number(16, 4), number(1, 2), number(1, 2), number(8000, 4), number(16000, 4), number(2, 2),
      number(16, 2);
  text("data"), number(dataBytes, 4);
  ASSERT_TRUE(testing::WriteWholeFile(path, header));
  ASSERT_EQ(::truncate(path.c_str(), static_cast<off_t>(header.size() + dataBytes)), 0);
}

// Ctrl-C while the tracks are still being joined ends the run before any video exists: a -o file
// that was there keeps its content, no path is printed and nothing of the run is left behind.
TEST_F(MakeCommand, CtrlCWhileJoiningKeepsTheFileThatWasThere) {
  // A 3000-second show under a longer track: the join has most of an hour of sound to encode.
  WriteSilentWav(folder / "long.wav", 3100);
  const std::string named = folder / "named.mp4";
  ASSERT_TRUE(testing::WriteWholeFile(named, {'o', 'l', 'd'}));
  const std::vector<std::string> before = testing::FolderEntries(folder.Path());

  RunOptions options;
  options.WhileRunning = testing::InterruptWhenStderrShows(folder, "joining the audio tracks");
  const RunResult run = RunLumivor(folder,
                                   {"make", "--size", "160x120", "--rate", "1:1", "--hold", "3000", "--transition",
                                    "0", "--audio", folder / "long.wav", "-o", named, folder / "wide.jpg"},
                                   options);
  EXPECT_EQ(run.ExitCode, 130) << run.Err;
  EXPECT_EQ(run.Out, "");
  EXPECT_EQ(testing::FileText(named), "old");
  EXPECT_EQ(testing::FolderEntries(folder.Path()), before);
}

// The frame at index n of a video as 8-bit RGB rows, read by the ffmpeg program.
std::vector<std::uint8_t> FrameRgb(const ScratchFolder& folder, const std::string& video, int n) {
  const std::string raw = folder / "frame.rgb";
  const std::string command = "ffmpeg -v error -y -i '" + video + "' -vf 'select=eq(n\\," + std::to_string(n) +
                              ")' -frames:v 1 -f rawvideo -pix_fmt rgb24 '" + raw + "'";
  if (std::system(command.c_str()) != 0) return {};
  return testing::ReadWholeFile(raw);
}

// A landscape-stored phone photo tagged "turn clockwise" stands upright in the video (bars left
// and right) unless --no-auto-rotate asks for the stored pixels (bars above and below).
TEST_F(MakeCommand, PhotosStandByTheirOrientationTagUnlessTurnedOff) {
  const std::vector<std::uint8_t> stored =
      testing::EncodeJpeg(MakeSamplePicture(SamplePicture::Landscape, 160, 90));
  ASSERT_TRUE(testing::WriteWholeFile(folder / "phone.jpg", testing::WithApp1(stored, testing::BuildExif(6, false))));
  struct Case {
    std::vector<std::string> More;
    bool Upright;
  };
  const Case cases[] = {{{}, true}, {{"--no-auto-rotate"}, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Upright ? "upright" : "as stored");
    const std::string out = folder / (c.Upright ? "upright.mkv" : "stored.mkv");
    std::vector<std::string> arguments = {"make", "--size", "160x120", "--rate", "10:1", "--hold", "1",
                                          "--transition", "1", "-o", out};
    arguments.insert(arguments.end(), c.More.begin(), c.More.end());
    arguments.push_back(folder / "phone.jpg");
    const RunResult run = RunLumivor(folder, arguments);
    ASSERT_EQ(run.ExitCode, 0) << run.Err;
    const std::vector<std::uint8_t> frame = FrameRgb(folder, out, 15);  // in the middle of the hold
    ASSERT_EQ(frame.size(), 160u * 120 * 3);
    auto brightness = [&](int x, int y) {
      const std::uint8_t* p = frame.data() + (static_cast<std::size_t>(y) * 160 + x) * 3;
      return p[0] + p[1] + p[2];
    };
    EXPECT_EQ(brightness(8, 60) < 40, c.Upright) << "left margin " << brightness(8, 60);
    EXPECT_EQ(brightness(80, 3) < 40, !c.Upright) << "top margin " << brightness(80, 3);
  }
}

}  // namespace
}  // namespace lumivor
