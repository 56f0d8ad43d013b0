// lumivor make with a show's project file: the same run, and the same frames, as the arguments
// that say the same; options on top of a project; projects that cannot be made.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "app/run_test_support.h"
#include "app/run/show_project.h"
#include "cli/cli_test_support.h"
#include "cli/make_command.h"

namespace lumivor {
namespace {

using testing::RunLumivor;
using testing::RunResult;
using testing::ScratchFolder;

// The decoded video's frames as Debian's ffmpeg hashes them, one line per frame; empty when the
// file cannot be read.
std::vector<std::string> frame_hashes(const std::string& video) {
  const std::string command = "ffmpeg -v error -nostdin -i '" + video + "' -map 0:v -f framemd5 - 2>/dev/null";
  std::vector<std::string> lines;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return lines;
  std::string text;
  char buffer[4096];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) text.append(buffer, n);
  ::pclose(pipe);
  for (const std::string& line : testing::Lines(text)) {
    if (!line.empty() && line[0] != '#') lines.push_back(line);
  }
  return lines;
}

void write_text(const std::string& name, const std::string& text) {
  const std::vector<std::uint8_t> bytes(text.begin(), text.end());
  ASSERT_TRUE(testing::WriteWholeFile(name, bytes)) << name;
}

class MakeProject : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::WritePhoto(folder / "wide.jpg", 160, 90);
    testing::WritePhoto(folder / "tall.bmp", 90, 160);
    testing::WritePhoto(folder / "square.jpg", 100, 100);
    testing::WriteTrack(folder / "song.wav", 8.0);
  }
  std::string Save(const ShowProject& project, const std::string& name = "show.lumivor") const {
    std::string errorText;
    EXPECT_TRUE(SaveShowProject(project, folder / name, errorText)) << errorText;
    return folder / name;
  }
  // A small show with a choice of every kind set away from make's defaults.
  ShowProject SmallShow() const {
    ShowProject project;
    project.Photos = {{folder / "wide.jpg", {}}, {folder / "tall.bmp", {}}, {folder / "square.jpg", {}}};
    project.Width = 160;
    project.Height = 120;
    project.RateNumerator = 10;
    project.HoldSeconds = 1;
    project.TransitionSeconds = 1;
    project.FormatIndex = 5;  // mkv
    project.BitRate = 900;
    project.RandomEffects = false;
    project.EffectOrder = {5, 17, 169, 44};
    project.Seed = 7;
    project.Screen = ScreenMode::Fill;
    project.Motion = MotionKind::Zoom;
    project.MotionStrength = 30;
    project.Scaler = PictureScaler::Nearest;
    return project;
  }
  static std::vector<std::string> SmallShowArguments(const char* format = "mkv", const char* sampleRate = "44100") {
    return {"--format", format, "--size", "160x120", "--rate", "10:1", "--hold", "1", "--transition", "1",
            "--bitrate", "900", "--sample-rate", sampleRate, "--effects", "5,17,169,44", "--seed", "7",
            "--fit", "fill", "--motion", "zoom", "--motion-strength", "30", "--scaler", "nearest"};
  }

  ScratchFolder folder;
};

void expect_same_run(const RunRequest& actual, const RunRequest& expected) {
  EXPECT_EQ(actual.Photos, expected.Photos);
  EXPECT_EQ(actual.Tracks, expected.Tracks);
  EXPECT_EQ(actual.PerPhoto, expected.PerPhoto);
  EXPECT_EQ(FrameInputOptionText(actual), FrameInputOptionText(expected));
  EXPECT_EQ(OutputOptionText(actual), OutputOptionText(expected));
  EXPECT_EQ(actual.FormatIndex, expected.FormatIndex);
  EXPECT_DOUBLE_EQ(actual.HoldSeconds, expected.HoldSeconds);
  EXPECT_DOUBLE_EQ(actual.TransitionSeconds, expected.TransitionSeconds);
  EXPECT_EQ(actual.MusicEndRule, expected.MusicEndRule);
  EXPECT_EQ(actual.RandomEffects, expected.RandomEffects);
  EXPECT_EQ(actual.EffectOrder, expected.EffectOrder);
  EXPECT_EQ(actual.Seed, expected.Seed);
  EXPECT_EQ(actual.Screen, expected.Screen);
  EXPECT_EQ(actual.Motion, expected.Motion);
  EXPECT_EQ(actual.MotionStrength, expected.MotionStrength);
  EXPECT_EQ(actual.Scaler, expected.Scaler);
  EXPECT_EQ(actual.OutputFolder, expected.OutputFolder);
  EXPECT_EQ(actual.Realtime, expected.Realtime);
  EXPECT_EQ(actual.AutoRotate, expected.AutoRotate);
}

// A project and the arguments that say the same ask for the same run; options given with a project
// win over it, and a project's choices are not replaced by a format's defaults.
TEST_F(MakeProject, AProjectAndItsArgumentsAskForTheSameRun) {
  ShowProject plain;
  plain.Photos = {{folder / "wide.jpg", {}}, {folder / "tall.bmp", {}}};
  ShowProject small = SmallShow();
  ShowProject withTrack = small;
  withTrack.Tracks = {folder / "song.wav"};
  withTrack.MusicEndRule = MusicEnd::Fade;
  withTrack.Stereo = false;
  withTrack.SampleRate = 22050;
  ShowProject ownHold = small;
  ownHold.Photos[1].Choices.HoldSeconds = 2.5;
  ShowProject mp4 = small;
  mp4.FormatIndex = 0;

  const std::vector<std::string> small_arguments = SmallShowArguments();
  auto with = [](std::vector<std::string> words, std::initializer_list<std::string> more) {
    words.insert(words.end(), more);
    return words;
  };
  const std::string wide = folder / "wide.jpg", tall = folder / "tall.bmp", square = folder / "square.jpg";
  struct Case {
    const char* name;
    ShowProject project;
    std::vector<std::string> options;    // given with the project
    std::vector<std::string> arguments;  // the same run without it
  };
  const Case cases[] = {
      {"make's defaults", plain, {}, {wide, tall}},
      {"every choice", small, {}, with(small_arguments, {wide, tall, square})},
      {"a track, mono, fade", withTrack, {},
       with(SmallShowArguments("mkv", "22050"),
            {"--audio", folder / "song.wav", "--mono", "--music-end", "fade", wide, tall, square})},
      {"options win", small, {"--size", "320x240", "--hold", "3", "--effects", "random", "--fit", "blur", "--realtime"},
       {"--format", "mkv", "--size", "320x240", "--rate", "10:1", "--hold", "3", "--transition", "1", "--bitrate", "900",
        "--sample-rate", "44100", "--effects", "random", "--seed", "7", "--fit", "blur", "--motion", "zoom",
        "--motion-strength", "30", "--scaler", "nearest", "--realtime", wide, tall, square}},
      {"--audio replaces the tracks", withTrack, {"--audio", folder / "song.wav", "--audio", folder / "song.wav"},
       with(SmallShowArguments("mkv", "22050"), {"--audio", folder / "song.wav", "--audio", folder / "song.wav", "--mono",
                                                 "--music-end", "fade", wide, tall, square})},
      {"--hold takes back a photo's own hold", ownHold, {"--hold", "1"}, with(small_arguments, {wide, tall, square})},
      {"an -o file of another extension picks the format", small, {"-o", folder / "x.mov"},
       with(SmallShowArguments("mov"), {"-o", folder / "x.mov", wide, tall, square})},
      {"an -o .mp4 keeps the project's mp4", mp4, {"-o", folder / "x.mp4"},
       with(SmallShowArguments("mp4"), {"-o", folder / "x.mp4", wide, tall, square})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string file = Save(c.project);
    std::vector<std::string> projectWords = c.options;
    projectWords.push_back(file);
    const std::vector<std::string>& arguments = c.arguments;
    RunRequest fromProject, fromArguments;
    std::string errorText;
    ASSERT_TRUE(cli::MakeRunRequest(projectWords, fromProject, errorText)) << errorText;
    ASSERT_TRUE(cli::MakeRunRequest(arguments, fromArguments, errorText)) << errorText;
    expect_same_run(fromProject, fromArguments);
  }
}

TEST_F(MakeProject, AProjectAndItsArgumentsMakeTheSameFrames) {
  const std::string file = Save(SmallShow());
  const RunResult fromProject = RunLumivor(folder, {"make", file, "-o", folder / "project.mkv"});
  ASSERT_EQ(fromProject.ExitCode, 0) << fromProject.Err;
  EXPECT_EQ(fromProject.Out, folder / "project.mkv" + "\n");
  std::vector<std::string> arguments = {"make"};
  for (const std::string& word : SmallShowArguments()) arguments.push_back(word);
  for (const char* photo : {"wide.jpg", "tall.bmp", "square.jpg"}) arguments.push_back(folder / photo);
  arguments.push_back("-o");
  arguments.push_back(folder / "arguments.mkv");
  const RunResult fromArguments = RunLumivor(folder, arguments);
  ASSERT_EQ(fromArguments.ExitCode, 0) << fromArguments.Err;

  const std::vector<std::string> projectFrames = frame_hashes(folder / "project.mkv");
  // Three photos at 10:1 held 1 s with 1 s transitions: four transitions, three holds, two tail frames.
  EXPECT_EQ(projectFrames.size(), 4u * 10 + 3 * 10 + 2);
  EXPECT_EQ(projectFrames, frame_hashes(folder / "arguments.mkv"));
  // The show's own choices are drawn: another seed and order give other frames.
  ShowProject other = SmallShow();
  other.EffectOrder = {1};
  const std::string otherFile = Save(other, "other.lumivor");
  ASSERT_EQ(RunLumivor(folder, {"make", otherFile, "-o", folder / "other.mkv"}).ExitCode, 0);
  EXPECT_NE(frame_hashes(folder / "other.mkv"), projectFrames);
}

// A project whose photos have holds and transitions of their own makes a video of exactly the
// frames its timing counts, with the sound laid out to the same length.
TEST_F(MakeProject, PhotosOwnHoldsAndTransitionsSetTheVideosLength) {
  ShowProject project = SmallShow();
  project.Photos[0].Choices.TransitionSeconds = 0.5;
  project.Photos[1].Choices.HoldSeconds = 2.5;
  project.Photos[2].Choices.TransitionEffect = 3;
  project.Photos[2].Choices.HoldSeconds = 0.3;
  project.Tracks = {folder / "song.wav"};
  const std::string file = Save(project);
  RunRequest saved;
  std::string errorText;
  ASSERT_TRUE(RequestFromProject(project, saved, errorText)) << errorText;
  struct Case {
    const char* name;
    std::vector<std::string> options;
    std::int64_t frames;  // at 10 frames a second
  };
  const Case cases[] = {
      // Transitions 1, 0.5, 1 and 1 s; holds 1, 2.5 and 0.3 s; the two tail frames.
      {"as saved", {}, 10 + 5 + 10 + 10 + 10 + 25 + 3 + 2},
      // A hold for the whole show takes back the photos' own.
      {"hold given", {"--hold", "1"}, 10 + 5 + 10 + 10 + 3 * 10 + 2},
      {"hold and transition given", {"--hold", "1", "--transition", "1"}, 4 * 10 + 3 * 10 + 2},
  };
  EXPECT_EQ(RequestTiming(saved).FrameCount(), cases[0].frames);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> words = {"make", "--music-end", "loop"};
    words.insert(words.end(), c.options.begin(), c.options.end());
    for (const std::string& more : {file, std::string("-o"), folder / "video.mp4"}) words.push_back(more);
    const RunResult run = RunLumivor(folder, words);
    ASSERT_EQ(run.ExitCode, 0) << run.Err;
    EXPECT_EQ(run.Err.find("not yet honoured"), std::string::npos) << run.Err;
    EXPECT_EQ(testing::FramesPerFfprobe(folder / "video.mp4"), c.frames);
    const testing::DecodedVideo decoded = testing::DecodeVideoFile(folder / "video.mp4");
    ASSERT_TRUE(decoded.HasAudio);
    EXPECT_NEAR(decoded.AudioEndSeconds, static_cast<double>(c.frames) / 10, 1152.0 / 44100);
  }
}

TEST_F(MakeProject, AProjectThatCannotBeMadeFailsWithTheReasonAndWritesNothing) {
  ShowProject missing = SmallShow();
  missing.Photos.push_back({folder / "gone.jpg", {}});
  missing.Tracks = {folder / "gone.wav"};
  Save(missing, "missing.lumivor");
  Save(ShowProject{}, "empty.lumivor");
  write_text(folder / "newer.lumivor", "{\"lumivorProject\": 9, \"photos\": 3}");
  const std::string whole = testing::FileText(Save(SmallShow(), "whole.json"));
  write_text(folder / "cut", whole.substr(0, whole.size() / 2));
  std::filesystem::create_directory(folder / "out");

  struct Case {
    const char* name;
    std::vector<std::string> words;
    int status;
    std::vector<std::string> said;
  };
  const Case cases[] = {
      {"missing photo and track", {folder / "missing.lumivor"}, 1,
       {"the show cannot be made as it stands", "photo 4 \"" + folder / "gone.jpg" + "\" is missing",
        "track 1 \"" + folder / "gone.wav" + "\" is missing"}},
      {"no photos", {folder / "empty.lumivor"}, 1, {"empty.lumivor: the show has no photos"}},
      {"newer", {folder / "newer.lumivor"}, 1, {"newer.lumivor: it was made by a newer version of Lumivor"}},
      {"cut short, known by its content", {folder / "cut"}, 1, {"cut: it is cut short"}},
      {"not there", {folder / "none.lumivor"}, 1, {"none.lumivor: cannot be read"}},
      {"beside photos", {folder / "whole.json", folder / "wide.jpg"}, 2, {"rendered alone, without photos"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> words = {"make", "-o", folder / "out/video.mkv"};
    words.insert(words.end(), c.words.begin(), c.words.end());
    const RunResult run = RunLumivor(folder, words);
    EXPECT_EQ(run.ExitCode, c.status) << run.Err;
    EXPECT_EQ(run.Out, "");
    EXPECT_EQ(run.Err.rfind("lumivor make: ", 0), 0u) << run.Err;
    for (const std::string& part : c.said) EXPECT_NE(run.Err.find(part), std::string::npos) << run.Err;
    EXPECT_TRUE(testing::FolderEntries(folder / "out").empty());
  }
}

}  // namespace
}  // namespace lumivor
