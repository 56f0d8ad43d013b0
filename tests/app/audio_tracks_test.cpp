// The audio track list and its commands, over generated media and the real decoder component.
#include "app/run/audio_tracks.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <string>
#include <vector>

#include "media/components/ff_encoder.h"
#include "media/components/media_maker.h"
#include "media/runtime/ff_load.h"
#include "settings_test_support.h"
#include "support/scratch_folder.h"

namespace lumivor {
namespace {

using testing::ScratchFolder;

TEST(FormatTrackDuration, TruncatesAndLetsHoursGrow) {
  struct Case {
    std::int64_t microseconds;
    const char* text;
  };
  const Case cases[] = {
      {0, "00:00:00.000"},
      {-1, "00:00:00.000"},
      {1, "00:00:00.000"},
      {999, "00:00:00.000"},
      {1000, "00:00:00.001"},
      {999999, "00:00:00.999"},
      {61001000, "00:01:01.001"},
      {3599999999, "00:59:59.999"},
      {3600000000, "01:00:00.000"},
      {100LL * 3600000000, "100:00:00.000"},
      {123456LL * 3600000000 + 59999999, "123456:00:59.999"},
  };
  for (const Case& c : cases) EXPECT_EQ(FormatTrackDuration(c.microseconds), c.text) << c.microseconds;
}

std::string Order(const AudioTrackList& list) {
  std::string order;
  for (const AudioTrack& track : list.Rows()) order += track.Path + track.DurationText;
  return order;
}

TEST(AudioTrackList, UpAndDownMoveTheSelectedRowWithItsDuration) {
  struct Case {
    int rows;
    int selected;
    bool up;
    const char* order;  // rows as path + duration after the move
    int selectedAfter;
  };
  const Case cases[] = {
      {3, 1, true, "b2a1c3", 0},  {3, 2, true, "a1c3b2", 1},   {3, 0, true, "a1b2c3", 0},
      {3, 1, false, "a1c3b2", 2}, {3, 0, false, "b2a1c3", 1},  {3, 2, false, "a1b2c3", 2},
      {3, -1, true, "a1b2c3", -1}, {3, -1, false, "a1b2c3", -1}, {1, 0, true, "a1", 0},
      {1, 0, false, "a1", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.rows << " rows, row " << c.selected << (c.up ? " up" : " down"));
    AudioTrackList list;
    for (int i = 0; i < c.rows; ++i) list.Append({std::string(1, static_cast<char>('a' + i)), std::to_string(i + 1)});
    list.Select(c.selected);
    int changes = 0;
    list.OnChanged = [&] { ++changes; };
    const bool moved = c.up ? list.MoveSelectedUp() : list.MoveSelectedDown();
    EXPECT_EQ(Order(list), c.order);
    EXPECT_EQ(list.Selected(), c.selectedAfter);
    EXPECT_EQ(moved, c.selected != c.selectedAfter);
    EXPECT_EQ(changes, moved ? 1 : 0);
  }
}

TEST(AudioTrackList, RowColours) {
  struct Case {
    int row;
    bool selected, focused;
    RowColour fill;
    std::optional<RowColour> frame;
  };
  const Case cases[] = {
      {0, false, false, {255, 255, 255}, std::nullopt},    {1, false, true, {226, 230, 246}, std::nullopt},
      {2, false, true, {255, 255, 255}, std::nullopt},     {3, true, true, {185, 204, 236}, RowColour{122, 160, 218}},
      {4, true, false, {229, 236, 248}, RowColour{152, 181, 226}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.row);
    const AudioRowPaint paint = AudioRowColours(c.row, c.selected, c.focused);
    EXPECT_EQ(paint.Fill, c.fill);
    EXPECT_EQ(paint.Frame, c.frame);
  }
}

class RecordingLog : public LogMemo {
 public:
  void AddLine(const std::string& line) override { lines.push_back(line); }
  bool Has(const std::string& line) const { return std::find(lines.begin(), lines.end(), line) != lines.end(); }
  std::vector<std::string> lines;
};

// Records every call; the page's controls start as the window's design has them.
class FakeAudioPageView : public AudioPageView {
 public:
  std::vector<std::string> choose;  // what the dialog returns
  int dialogs = 0;
  std::vector<std::string> calls;
  std::string title = "(design)";

  std::vector<std::string> ChooseAudioFiles() override {
    ++dialogs;
    return choose;
  }
  void SetWindowTitle(const std::string& text) override { title = text; }
  void SetStartEnabled(bool on) override { Call("Start", on); }
  void FocusStart() override { calls.push_back("focus Start"); }
  void SetStopEnabled(bool on) override { Call("Stop", on); }
  void SetPauseEnabled(bool on) override { Call("Pause", on); }
  void SetAddAudioEnabled(bool on) override { Call("Add Audio", on); }
  void SetUpEnabled(bool on) override { Call("Up", on); }
  void SetDownEnabled(bool on) override { Call("Down", on); }
  void SetClearAudioEnabled(bool on) override { Call("Clear", on); }
  void SetPlayEnabled(bool on) override { Call("Play", on); }
  void SetPlayerStopEnabled(bool on) override { Call("player Stop", on); }
  void SetPlayerPauseEnabled(bool on) override { Call("player Pause", on); }

 private:
  void Call(const std::string& control, bool on) { calls.push_back(control + (on ? " on" : " off")); }
};

// Media made once for the suite: a WAV file of a known length, a clip with sound, a silent clip, a file that is
// no media at all.
class AudioPageTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    folder_ = new ScratchFolder();
    std::string error;
    // 12345 samples of 8-bit mono at 8000 Hz: 1.543125 s.
    ASSERT_TRUE(testing::WriteSizedWav(Wav(), 44 + 12345));
    testing::MediaSpec clip;
    clip.Format = "matroska";
    clip.HasVideo = true;
    ASSERT_TRUE(testing::WriteMediaFile(Clip(), clip, error)) << error;
    clip.HasAudio = false;
    ASSERT_TRUE(testing::WriteMediaFile(SilentClip(), clip, error)) << error;
    testing::WriteText(Garbage(), "this is not a media file at all, only some text");
  }
  static void TearDownTestSuite() {
    delete folder_;
    folder_ = nullptr;
  }
  static std::string Wav() { return *folder_ / "tone one.wav"; }
  static std::string Clip() { return *folder_ / "clip.mkv"; }
  static std::string SilentClip() { return *folder_ / "silent.mkv"; }
  static std::string Garbage() { return *folder_ / "garbage.mp3"; }

  // The window's order: the encoder's libraries first, then the decoder's.
  AudioPageTest() : page_(tracks_, view_, decoder_, log_, {LibrariesOf(encoder_)}) {
    page_.LibraryFolder = TFFLoader::Instance().LibraryPath();
  }

  std::string EnabledTitle(const std::string& file) const {
    return "Lumivor ver" + GlobalObject().VersionText() + " " + file;
  }

  static inline ScratchFolder* folder_ = nullptr;
  AudioTrackList tracks_;
  FakeAudioPageView view_;
  TFFEncoder encoder_;
  TFFDecoder decoder_;
  RecordingLog log_;
  AudioPage page_;
};

const std::vector<std::string> EnabledAfterAdd = {"Start on", "focus Start", "Add Audio on", "Up on", "Down on",
                                                  "Clear on", "Play on", "player Stop on", "player Pause on"};

TEST_F(AudioPageTest, SeveralFilesAreListedInOrderAndOnlyTheFirstIsReported) {
  view_.choose = {Wav(), Clip(), SilentClip()};
  page_.btnAddAudioClick();

  ASSERT_EQ(tracks_.Count(), 3);
  EXPECT_EQ(tracks_.Rows()[0].Path, Wav());
  EXPECT_EQ(tracks_.Rows()[0].DurationText, "00:00:01.543");
  EXPECT_EQ(tracks_.Rows()[1].Path, Clip());
  EXPECT_NE(tracks_.Rows()[1].DurationText, "00:00:00.000");
  EXPECT_EQ(tracks_.Rows()[2].Path, SilentClip());
  EXPECT_EQ(tracks_.Selected(), -1);

  ASSERT_FALSE(log_.lines.empty());
  EXPECT_EQ(log_.lines.front(), "***FFDecoder.FileInfoText");
  EXPECT_TRUE(log_.Has("File Name: " + Wav()));
  const std::vector<std::string> tail = {"",
                                         "File Size: " + std::to_string(std::filesystem::file_size(Wav())),
                                         "File Duration: 00:00:01.543",
                                         "Stream #0: Audio",
                                         "  Audio Length: 00:00:01.543",
                                         "  Audio Sample Rate: 8000 hz",
                                         "  Audio Bit Rate: 64 kb"};
  ASSERT_GE(log_.lines.size(), tail.size());
  EXPECT_EQ(std::vector<std::string>(log_.lines.end() - static_cast<long>(tail.size()), log_.lines.end()), tail);
  EXPECT_FALSE(log_.Has("File Name: " + Clip())) << "only the first file is reported";

  EXPECT_EQ(page_.LastAudioFile(), Wav());
  EXPECT_EQ(view_.title, EnabledTitle(Wav()));
  EXPECT_EQ(view_.calls, EnabledAfterAdd);
}

TEST_F(AudioPageTest, AVideoWithSoundIsReportedStreamByStreamAndAccepted) {
  page_.AddFiles({Clip()});
  EXPECT_TRUE(log_.Has("Stream #0: Video"));
  EXPECT_TRUE(log_.Has("  Video Frame Rate: 25.000000"));
  EXPECT_TRUE(log_.Has("  Frame size (width X height): 320x240"));
  EXPECT_TRUE(log_.Has("Stream #1: Audio"));
  EXPECT_EQ(view_.title, EnabledTitle(Clip()));
  EXPECT_EQ(view_.calls, EnabledAfterAdd);
}

TEST_F(AudioPageTest, AFileWithoutSoundIsListedButChangesNoControl) {
  page_.AddFiles({SilentClip()});
  EXPECT_EQ(tracks_.Count(), 1);
  EXPECT_TRUE(log_.Has("Stream #0: Video"));
  EXPECT_EQ(page_.LastAudioFile(), SilentClip());
  EXPECT_EQ(view_.title, "(design)");
  EXPECT_TRUE(view_.calls.empty());
}

TEST_F(AudioPageTest, FilesThatCannotBeReadAreListedWithoutDurationAndReported) {
  ScratchFolder scratch;
  const std::string fifo = scratch / "a fifo.mp3";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  struct Case {
    std::string path;
    const char* what;
  };
  const Case cases[] = {
      {Garbage(), "not media"},
      {scratch / "missing.mp3", "missing"},
      {fifo, "a FIFO (must not block)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    log_.lines.clear();
    tracks_.Clear();
    page_.AddFiles({c.path, Wav()});

    ASSERT_EQ(tracks_.Count(), 2);
    EXPECT_EQ(tracks_.Rows()[0].DurationText, "00:00:00.000");
    EXPECT_EQ(tracks_.Rows()[1].DurationText, "00:00:01.543") << "later files are still read";
    ASSERT_EQ(log_.lines.size(), 3u);
    EXPECT_EQ(log_.lines[0], "");
    EXPECT_EQ(log_.lines[1].rfind("***File load error: ", 0), 0u) << log_.lines[1];
    EXPECT_GT(log_.lines[1].size(), std::string("***File load error: ").size()) << "the reason is given";
    EXPECT_EQ(log_.lines[2], "");
    EXPECT_TRUE(page_.LastAudioFile().empty());
    EXPECT_TRUE(view_.calls.empty());
    EXPECT_EQ(decoder_.FormatContext(), nullptr) << "no file is left open";
  }
}

TEST_F(AudioPageTest, ALibraryThatCannotBeLoadedEndsTheCommandInTheLog) {
  ComponentLibraries broken{[] { return false; }, [](const std::string&) { return false; },
                            [] { return std::string("Library avcodec not loaded."); }};
  AudioPage page(tracks_, view_, decoder_, log_, {broken});
  view_.choose = {Wav()};
  page.btnAddAudioClick();
  EXPECT_EQ(log_.lines, std::vector<std::string>{"Library avcodec not loaded."});
  EXPECT_EQ(view_.dialogs, 0);
  EXPECT_TRUE(tracks_.Empty());
}

TEST_F(AudioPageTest, CancelAddsNothingAndClearEmptiesTheList) {
  page_.btnAddAudioClick();
  EXPECT_EQ(view_.dialogs, 1);
  EXPECT_TRUE(tracks_.Empty());
  EXPECT_TRUE(log_.lines.empty());

  page_.AddFiles({Wav(), Wav()});
  tracks_.Select(1);
  view_.calls.clear();
  page_.btnClearClick();
  EXPECT_TRUE(tracks_.Empty());
  EXPECT_EQ(tracks_.Selected(), -1);
  const std::vector<std::string> cleared = {"Stop off", "Pause off", "Add Audio on", "Up off", "Down off",
                                            "Play off", "player Stop off", "player Pause off", "Clear off"};
  EXPECT_EQ(view_.calls, cleared);
}

}  // namespace
}  // namespace lumivor
