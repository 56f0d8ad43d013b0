// Show projects on disk: what is saved comes back the same and asks for the same run, names under
// the project's folder travel with it, and every damaged or foreign file is refused with a reason
// while the project in memory and the file on disk stay as they were.
#include "app/run/show_project.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/picture_test_support.h"
#include "support/scratch_folder.h"

namespace lumivor {
namespace {

using testing::ScratchFolder;

std::string text_of(const std::string& name) {
  const std::vector<std::uint8_t> bytes = testing::ReadWholeFile(name);
  return std::string(bytes.begin(), bytes.end());
}

void write_text(const std::string& name, const std::string& text) {
  std::ofstream(name, std::ios::binary) << text;
}

std::vector<std::string> entries_of(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

// The parts of a run the project decides, compared one by one so that a failure names the field.
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
}

TEST(ShowProject, SavedAndLoadedIsTheSameShowAndTheSameRun) {
  ScratchFolder folder, elsewhere;
  std::filesystem::create_directory(folder / "trip");
  for (const char* name : {"a.jpg", "b.png", "trip/c.jpg", "Æble – 東京 ☀.jpg", "song.wav"}) write_text(folder / name, "x");
  write_text(elsewhere / "far.jpg", "x");
  write_text(elsewhere / "far.wav", "x");

  PhotoChoices everything;
  everything.HoldSeconds = 2.5;
  everything.Screen = ScreenMode::Blur;
  everything.Motion = MotionKind::Pan;
  everything.MotionStrength = 35;
  everything.TransitionEffect = 176;
  everything.TransitionSeconds = 0.1;
  PhotoChoices holdOnly;
  holdOnly.HoldSeconds = 3000;

  struct Case {
    const char* name;
    ShowProject project;
    // Names the file must hold exactly as written (relative ones), and names it must not hold.
    std::vector<std::string> written;
    std::vector<std::string> notWritten;
    std::vector<PhotoChoices> perPhoto;  // as the run carries them
  };
  ShowProject defaults;
  defaults.Photos = {{folder / "a.jpg", {}}};

  ShowProject perPhoto = defaults;
  perPhoto.Photos = {{folder / "a.jpg", everything}, {folder / "b.png", {}}, {folder / "trip/c.jpg", holdOnly}};

  ShowProject absolute;
  absolute.Photos = {{elsewhere / "far.jpg", {}}, {folder / "a.jpg", {}}};
  absolute.Tracks = {elsewhere / "far.wav", folder / "song.wav"};

  ShowProject unicode;
  unicode.Photos = {{folder / "Æble – 東京 ☀.jpg", {}}};

  ShowProject choices;
  choices.Photos = {{folder / "b.png", {}}};
  choices.HoldSeconds = 0.5;
  choices.TransitionSeconds = 100;
  choices.Screen = ScreenMode::Fill;
  choices.Motion = MotionKind::Random;
  choices.MotionStrength = 0;
  choices.Scaler = PictureScaler::Nearest;
  choices.MusicEndRule = MusicEnd::Loop;
  choices.RandomEffects = false;
  choices.EffectOrder = {5, 17, 169, 5};
  choices.Seed = 4294967295U;
  choices.FormatIndex = 3;
  choices.Width = 8192;
  choices.Height = 1;
  choices.RateNumerator = 30000;
  choices.RateDenominator = 1001;
  choices.BitRate = 1000000;
  choices.Stereo = false;
  choices.SampleRate = 0;

  ShowProject sequential;
  sequential.Photos = {{folder / "a.jpg", {}}};
  sequential.RandomEffects = false;
  sequential.Seed = 0;

  const Case cases[] = {
      {"defaults", defaults, {"\"a.jpg\""}, {folder.Path()}, {}},
      {"per-photo choices", perPhoto, {"\"trip/c.jpg\"", "\"hold\": 2.5"}, {folder.Path()}, {everything, {}, holdOnly}},
      {"names outside the folder stay absolute", absolute,
       {"\"" + elsewhere / "far.jpg" + "\"", "\"" + elsewhere / "far.wav" + "\"", "\"song.wav\""}, {"\"" + folder.Path()}, {}},
      {"unicode names", unicode, {"\"Æble – 東京 ☀.jpg\""}, {}, {}},
      {"every show and output choice at an edge", choices, {}, {}, {}},
      {"sequential with seed 0", sequential, {"\"sequential\""}, {}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string file = folder / "show.lumivor";
    std::string errorText;
    ASSERT_TRUE(SaveShowProject(c.project, file, errorText)) << errorText;
    const std::string text = text_of(file);
    for (const std::string& part : c.written) EXPECT_NE(text.find(part), std::string::npos) << part << "\n" << text;
    for (const std::string& part : c.notWritten) EXPECT_EQ(text.find(part), std::string::npos) << part << "\n" << text;
    EXPECT_TRUE(LooksLikeShowProject(file));

    ShowProject loaded;
    ASSERT_TRUE(LoadShowProject(file, loaded, errorText)) << errorText;
    EXPECT_EQ(loaded, c.project);
    EXPECT_TRUE(ShowProjectProblems(loaded).empty());

    RunRequest fromSaved, fromLoaded;
    ASSERT_TRUE(RequestFromProject(c.project, fromSaved, errorText)) << errorText;
    ASSERT_TRUE(RequestFromProject(loaded, fromLoaded, errorText)) << errorText;
    expect_same_run(fromLoaded, fromSaved);
    EXPECT_EQ(fromLoaded.PerPhoto, c.perPhoto);
  }
}

// A project folder copied or moved as a whole still finds its photos; those outside stay put.
TEST(ShowProject, AMovedFolderTakesItsPhotosAlong) {
  ScratchFolder folder, elsewhere;
  std::filesystem::create_directory(folder / "old");
  write_text(folder / "old/a.jpg", "x");
  write_text(elsewhere / "far.jpg", "x");
  ShowProject project;
  project.Photos = {{folder / "old/a.jpg", {}}, {elsewhere / "far.jpg", {}}};
  std::string errorText;
  ASSERT_TRUE(SaveShowProject(project, folder / "old/show.lumivor", errorText)) << errorText;
  std::filesystem::rename(folder / "old", folder / "new");

  ShowProject loaded;
  ASSERT_TRUE(LoadShowProject(folder / "new/show.lumivor", loaded, errorText)) << errorText;
  ASSERT_EQ(loaded.Photos.size(), 2u);
  EXPECT_EQ(loaded.Photos[0].File, folder / "new/a.jpg");
  EXPECT_EQ(loaded.Photos[1].File, elsewhere / "far.jpg");
  EXPECT_TRUE(ShowProjectProblems(loaded).empty());
}

TEST(ShowProject, DamagedOrForeignFilesAreRefusedWithTheReason) {
  ScratchFolder folder;
  write_text(folder / "a.jpg", "x");
  ShowProject saved;
  saved.Photos = {{folder / "a.jpg", {}}, {folder / "a.jpg", {}}};
  saved.Tracks = {folder / "a.jpg"};
  std::string errorText;
  ASSERT_TRUE(SaveShowProject(saved, folder / "whole.lumivor", errorText)) << errorText;
  const std::string whole = text_of(folder / "whole.lumivor");
  std::filesystem::create_directory(folder / "folder.lumivor");
  ASSERT_EQ(::mkfifo((folder / "fifo.lumivor").c_str(), 0600), 0);

  const std::string project = "{\"lumivorProject\": 1, ";
  struct Case {
    const char* name;
    std::string content;
    std::string file;  // the file loaded; empty: folder / "case.lumivor", holding content
    std::vector<std::string> said;
  };
  const Case cases[] = {
      {"missing", "", folder / "none.lumivor", {"none.lumivor", "cannot be read", "No such file"}},
      {"a folder", "", folder / "folder.lumivor", {"folder.lumivor", "is a folder"}},
      {"a FIFO", "", folder / "fifo.lumivor", {"fifo.lumivor", "not a regular file"}},
      {"empty", "\n", "", {"case.lumivor", "cut short"}},
      {"cut after the marker", whole.substr(0, 22), "", {"cut short", "after byte 22 (line 2)"}},
      {"cut in the photos", whole.substr(0, whole.size() / 3), "", {"cut short", "ends too early"}},
      {"cut in the middle", whole.substr(0, whole.size() / 2), "", {"cut short"}},
      {"cut before the last brace", whole.substr(0, whole.rfind('}')), "", {"cut short"}},
      {"not JSON", "\xff\xd8\xff\xe0 JFIF", "", {"not valid JSON at byte 1, line 1, column 1"}},
      {"broken on line 3", "{\n  \"lumivorProject\": 1,\n  photos: []\n}", "", {"not valid JSON at byte 28, line 3, column 3"}},
      {"JSON, not a project", "[1, 2]", "", {"not a Lumivor project"}},
      {"an object without the marker", "{\"photos\": []}", "", {"not a Lumivor project", "lumivorProject"}},
      {"newer", "{\"lumivorProject\": 2, \"photos\": {\"a new\": \"shape\"}}", "",
       {"case.lumivor", "made by a newer version of Lumivor", "format 2"}},
      {"far newer", "{\"lumivorProject\": 18446744073709551615}", "", {"newer version of Lumivor"}},
      {"version zero", "{\"lumivorProject\": 0}", "", {"lumivorProject is 0; it must be from 1 to 1"}},
      {"version as text", "{\"lumivorProject\": \"1\"}", "", {"lumivorProject must be the project format's number, not a text"}},
      {"photos not a list", project + "\"photos\": {}}", "", {"photos must be a list, not an object"}},
      {"photo without file", project + "\"photos\": [{\"hold\": 1}]}", "", {"photos[0] has no \"file\""}},
      {"empty file name", project + "\"photos\": [{\"file\": \"\"}]}", "", {"photos[0].file is empty"}},
      {"width as text", project + "\"output\": {\"width\": \"wide\"}}", "", {"output.width must be a whole number, not a text"}},
      {"width zero", project + "\"output\": {\"width\": 0}}", "", {"output.width is 0; it must be from 1 to 8192"}},
      {"height huge", project + "\"output\": {\"height\": 99999999999999999999}}", "", {"output.height is 1e+20; it must be from 1 to 8192"}},
      {"rate denominator zero", project + "\"output\": {\"rate\": {\"denominator\": 0}}}", "",
       {"output.rate.denominator is 0"}},
      {"stereo as number", project + "\"output\": {\"stereo\": 1}}", "", {"output.stereo must be true or false, not a number"}},
      {"sample rate off the list", project + "\"output\": {\"sampleRate\": 48000}}", "", {"output.sampleRate is 48000"}},
      {"format past the list", project + "\"output\": {\"format\": 7}}", "", {"output.format is 7; it must be from 0 to 6"}},
      {"hold in hundredths", project + "\"show\": {\"hold\": 2.55}}", "", {"show.hold is 2.55", "in tenths"}},
      {"hold too long", project + "\"show\": {\"hold\": 3000.1}}", "", {"show.hold is 3000.1"}},
      {"negative transition", project + "\"show\": {\"transition\": -1}}", "", {"show.transition is -1"}},
      {"unknown screen mode", project + "\"show\": {\"screen\": \"stretch\"}}", "",
       {"show.screen is \"stretch\"; it must be fit, fill or blur"}},
      {"motion in capitals", project + "\"show\": {\"motion\": \"ZOOM\"}}", "", {"show.motion is \"ZOOM\""}},
      {"unknown effects word", project + "\"show\": {\"effects\": \"shuffle\"}}", "", {"show.effects is \"shuffle\""}},
      {"effect 177 in the order", project + "\"show\": {\"effects\": [1, 177]}}", "", {"show.effects[1] is 177"}},
      {"empty effect list", project + "\"show\": {\"effects\": []}}", "", {"show.effects is an empty list"}},
      {"negative seed", project + "\"show\": {\"seed\": -1}}", "", {"show.seed is -1"}},
      {"photo's effect 0", project + "\"photos\": [{\"file\": \"a.jpg\", \"transition\": {\"effect\": 0}}]}", "",
       {"photos[0].transition.effect is 0; it must be from 1 to 176"}},
      {"photo's strength too high", project + "\"photos\": [{\"file\": \"a.jpg\", \"motionStrength\": 101}]}", "",
       {"photos[0].motionStrength is 101"}},
      {"track as number", project + "\"tracks\": [7]}", "", {"tracks[0] must be a text, not a number"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string file = c.file;
    if (file.empty()) {
      file = folder / "case.lumivor";
      write_text(file, c.content);
    }
    const std::vector<std::string> before = entries_of(folder.Path());
    ShowProject loaded = saved;
    std::string errorText;
    EXPECT_FALSE(LoadShowProject(file, loaded, errorText));
    EXPECT_EQ(errorText.rfind(file + ": ", 0), 0u) << errorText;
    for (const std::string& part : c.said) EXPECT_NE(errorText.find(part), std::string::npos) << errorText;
    EXPECT_EQ(loaded, saved);
    EXPECT_EQ(entries_of(folder.Path()), before);
  }
}

// A photo or track that went away is the face's to show, one line each, not a load failure.
TEST(ShowProject, MissingPhotosAndTracksAreListedByName) {
  ScratchFolder folder;
  write_text(folder / "here.jpg", "x");
  std::filesystem::create_directory(folder / "album");
  ShowProject project;
  project.Photos = {{folder / "here.jpg", {}}, {folder / "gone.jpg", {}}, {folder / "album", {}}};
  project.Tracks = {folder / "here.jpg", folder / "gone.wav"};
  std::string errorText;
  ASSERT_TRUE(SaveShowProject(project, folder / "show.lumivor", errorText)) << errorText;
  std::filesystem::remove(folder / "here.jpg");
  write_text(folder / "gone.jpg", "x");

  ShowProject loaded;
  ASSERT_TRUE(LoadShowProject(folder / "show.lumivor", loaded, errorText)) << errorText;
  const std::vector<std::string> expected = {
      "photo 1 \"" + folder / "here.jpg" + "\" is missing",
      "photo 3 \"" + folder / "album" + "\" is not a regular file",
      "track 1 \"" + folder / "here.jpg" + "\" is missing",
      "track 2 \"" + folder / "gone.wav" + "\" is missing",
  };
  EXPECT_EQ(ShowProjectProblems(loaded), expected);
}

TEST(ShowProject, AFailedSaveKeepsTheOldProject) {
  ScratchFolder folder;
  ShowProject old;
  old.Photos = {{folder / "old.jpg", {}}};
  std::string errorText;
  ASSERT_TRUE(SaveShowProject(old, folder / "show.lumivor", errorText)) << errorText;
  const std::string oldText = text_of(folder / "show.lumivor");
  std::filesystem::create_directory(folder / "folder.lumivor");

  ShowProject fine;
  fine.Photos = {{folder / "new.jpg", {}}};
  ShowProject notUtf8 = fine;
  notUtf8.Photos.push_back({folder / "bad\xff.jpg", {}});
  ShowProject hundredths = fine;
  hundredths.Photos[0].Choices.HoldSeconds = 1.25;
  ShowProject noSuchEffect = fine;
  noSuchEffect.EffectOrder = {0};
  ShowProject oddSampleRate = fine;
  oddSampleRate.SampleRate = 48000;
  ShowProject unnamed = fine;
  unnamed.Tracks = {""};

  struct Case {
    const char* name;
    const ShowProject& project;
    std::string file;
    std::vector<std::string> said;
  };
  const Case cases[] = {
      {"a name that is not UTF-8", notUtf8, folder / "show.lumivor", {"photo 2", "not UTF-8"}},
      {"hundredths of a second", hundredths, folder / "show.lumivor", {"photos[0].hold is 1.25"}},
      {"effect 0", noSuchEffect, folder / "show.lumivor", {"show.effects[0] is 0"}},
      {"a sample rate off the list", oddSampleRate, folder / "show.lumivor", {"output.sampleRate is 48000"}},
      {"a track without a name", unnamed, folder / "show.lumivor", {"track 1 has no file name"}},
      {"over a folder", fine, folder / "folder.lumivor", {"folder.lumivor"}},
      {"into a missing folder", fine, folder / "none/show.lumivor", {"show.lumivor"}},
  };
  const std::vector<std::string> before = entries_of(folder.Path());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string errorText;
    EXPECT_FALSE(SaveShowProject(c.project, c.file, errorText));
    for (const std::string& part : c.said) EXPECT_NE(errorText.find(part), std::string::npos) << errorText;
    EXPECT_EQ(text_of(folder / "show.lumivor"), oldText);
    EXPECT_TRUE(std::filesystem::is_directory(folder / "folder.lumivor"));
    // No temporary is left behind either.
    EXPECT_EQ(entries_of(folder.Path()), before);
  }
}

TEST(ShowProject, OnlyAProjectLooksLikeOne) {
  ScratchFolder folder;
  ShowProject project;
  project.Photos = {{folder / "a.jpg", {}}};
  std::string errorText;
  ASSERT_TRUE(SaveShowProject(project, folder / "show.json", errorText)) << errorText;
  write_text(folder / "spaced", " \n{\r\n\t\"lumivorProject\": 1}");
  write_text(folder / "other.json", "{\"photos\": [], \"lumivorProject\": 1}");
  write_text(folder / "photo.jpg", "\xff\xd8\xff\xe0");
  write_text(folder / "empty", "");
  std::filesystem::create_directory(folder / "dir.lumivor");
  struct Case {
    const char* name;
    bool project;
  };
  const Case cases[] = {{"show.json", true}, {"spaced", true},      {"other.json", false}, {"photo.jpg", false},
                        {"empty", false},    {"dir.lumivor", false}, {"none", false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(LooksLikeShowProject(folder / c.name), c.project);
  }
}

TEST(ShowProject, AnEmptyShowAsksForNoRun) {
  RunRequest request;
  request.OutputFolder = "/kept";
  const RunRequest before = request;
  std::string errorText;
  EXPECT_FALSE(RequestFromProject(ShowProject{}, request, errorText));
  EXPECT_EQ(errorText, "the show has no photos");
  EXPECT_EQ(request.OutputFolder, before.OutputFolder);
  EXPECT_EQ(request.Photos, before.Photos);
}

}  // namespace
}  // namespace lumivor
