// The timeline: the show's length as the run will make it, against the tracks' and what the
// music-end rule keeps of them; the window's bar follows every edit.
#include <QCheckBox>
#include <QDoubleSpinBox>
#include <gtest/gtest.h>

#include "app/run/beat_track.h"
#include "app/show/frame_sequencer.h"
#include "app/sound_test_support.h"
#include "studio/preview_pane.h"
#include "studio/settings_panel.h"
#include "studio/timeline_bar.h"
#include "window_fixture.h"

namespace lumivor::studio {
namespace {

ShowProject show_of(int photos, double hold, double transition) {
  ShowProject project;
  project.HoldSeconds = hold;
  project.TransitionSeconds = transition;
  for (int i = 0; i < photos; ++i) project.Photos.push_back({"/photo" + std::to_string(i) + ".jpg", {}});
  return project;
}

TEST(TimelineTest, ShowLengthCountsEachPhotosOwnHoldAndTransition) {
  struct Case {
    const char* name;
    ShowProject project;
    std::int64_t frames;
  };
  ShowProject own = show_of(3, 2, 1);
  own.Photos[0].Choices.HoldSeconds = 0.5;        // 15 frames instead of 60
  own.Photos[2].Choices.TransitionSeconds = 0.1;  // the closing transition: 3 frames instead of 30
  ShowProject ntsc = show_of(2, 1, 1);
  ntsc.RateNumerator = 30000;
  ntsc.RateDenominator = 1001;
  const Case cases[] = {
      // (photos + 1) transitions, the holds and the two black tail frames.
      {"the show's own numbers", show_of(3, 2, 1), 4 * 30 + 3 * 60 + 2},
      {"one photo", show_of(1, 8, 2), 2 * 60 + 240 + 2},
      {"photos with their own", own, 30 + (15 + 30) + (60 + 30) + (60 + 3) + 2},
      {"a rate of 30000/1001", ntsc, 3 * 30 + 2 * 30 + 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(ProjectFrameCount(c.project), c.frames);
    EXPECT_EQ(MeasureTimeline(c.project, std::nullopt).ShowFrames, c.frames);
  }
  // Without own choices it is the sequencer's own count.
  EXPECT_EQ(ProjectFrameCount(show_of(5, 3, 1)), ShowFrameCount(5, 90, 30));
}

TEST(TimelineTest, MusicAgainstTheShowUnderEachRule) {
  // 2 photos of 4 s with 1 s transitions: 3 + 8 s and the tail, 11.067 s.
  const double show = (3 * 30 + 2 * 120 + 2) / 30.0;
  struct Case {
    const char* name;
    MusicEnd rule;
    std::optional<std::int64_t> tracks;
    std::optional<double> trackSeconds;
    double heard;
    const char* text;  // found in the music's line
  };
  const Case cases[] = {
      {"longer, cut", MusicEnd::Cut, 20'000'000, 20.0, show, "cut at the show's end"},
      {"shorter, cut: not used", MusicEnd::Cut, 5'000'000, 5.0, 0.0, "not used"},
      {"shorter, faded: used as long as it lasts", MusicEnd::Fade, 5'000'000, 5.0, 5.0, "faded out"},
      {"shorter, looped to the end", MusicEnd::Loop, 5'000'000, 5.0, show, "played 3 times"},
      {"lengths still being read", MusicEnd::Cut, std::nullopt, std::nullopt, 0.0, "reading"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ShowProject project = show_of(2, 4, 1);
    project.Tracks = {"/music.mp3"};
    project.MusicEndRule = c.rule;
    const TimelineFigures figures = MeasureTimeline(project, c.tracks);
    EXPECT_NEAR(figures.ShowSeconds, show, 1e-9);
    EXPECT_EQ(figures.TrackSeconds, c.trackSeconds);
    EXPECT_NEAR(figures.HeardSeconds, c.heard, 0.001);
    EXPECT_TRUE(figures.MusicText.contains(QString::fromLatin1(c.text))) << figures.MusicText.toStdString();
    EXPECT_TRUE(figures.ShowText.contains(QStringLiteral("00:00:11.066"))) << figures.ShowText.toStdString();
  }
}

// The music is planned under the show the run makes: a title card, one picture more, makes it
// longer, so 13 s of music that covers the plain show is left out of the titled one.
TEST(TimelineTest, TheMusicsPlanCountsTheTitleCard) {
  ShowProject project = show_of(2, 4, 1);
  project.Tracks = {"/music.mp3"};
  EXPECT_TRUE(MeasureTimeline(project, 13'000'000).MusicText.contains(QStringLiteral("cut at the show's end")));
  project.Title = "Summer";
  const TimelineFigures titled = MeasureTimeline(project, 13'000'000);
  EXPECT_GT(titled.ShowSeconds, 13.0);
  EXPECT_TRUE(titled.MusicText.contains(QStringLiteral("not used"))) << titled.MusicText.toStdString();
}

TEST(TimelineTest, TheBeatLineSaysWhatBeatSyncMadeOfTheMusic) {
  // 2 photos of 4 s with 1 s transitions at 30 fps: 332 frames.
  struct Case {
    const char* name;
    bool beatSync;
    bool tracks;
    BeatFigures beats;
    QString text;  // the whole line; empty for none
  };
  const Case cases[] = {
      {"without beat sync", false, true, {QStringLiteral("Beat sync: 120.0 bpm"), 320}, QString()},
      {"no music to follow", true, false, {}, QString::fromLatin1(BeatSyncNoMusicText)},
      {"the music still being read", true, true, {}, QStringLiteral("Beat sync: finding the music's beat…")},
      {"the plan kept", true, true, {QStringLiteral("Beat sync: no clear beat in the music"), 332},
       QStringLiteral("Beat sync: no clear beat in the music")},
      {"fitted to another length", true, true, {QStringLiteral("Beat sync: 120.0 bpm"), 321},
       QStringLiteral("Beat sync: 120.0 bpm; on the beat the show lasts 00:00:10.700 (321 frames)")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ShowProject project = show_of(2, 4, 1);
    project.BeatSync = c.beatSync;
    if (c.tracks) project.Tracks = {"/music.mp3"};
    const TimelineFigures figures = MeasureTimeline(project, 20'000'000, c.beats);
    ASSERT_EQ(figures.ShowFrames, 332);
    EXPECT_EQ(figures.BeatText, c.text);
  }
}

class TimelineWindowTest : public StudioWindowTest {};

TEST_F(TimelineWindowTest, TheBarFollowsEveryEditAndItsUndo) {
  auto window = MakeWindow();
  const std::vector<std::string> photos = SamplePhotos(folder.Path());
  const std::string track = SampleTrack(folder / "tune.wav", 4.0);
  const auto frames = [&] { return window->timeline->Figures().ShowFrames; };
  EXPECT_EQ(frames(), 0);
  window->AddPhotos({photos[0], photos[1]});
  EXPECT_EQ(frames(), ProjectFrameCount(window->Project()));
  const std::int64_t two = frames();
  window->settings->spnHold->setValue(1.0);
  EXPECT_LT(frames(), two);
  EXPECT_EQ(frames(), ProjectFrameCount(window->Project()));
  window->Undo().undo();
  EXPECT_EQ(frames(), two);
  window->AddTracks({track});
  ASSERT_TRUE(WaitForTrackLengths(*window));
  ASSERT_TRUE(window->timeline->Figures().TrackSeconds.has_value());
  EXPECT_NEAR(*window->timeline->Figures().TrackSeconds, 4.0, 0.01);
  window->Undo().undo();
  EXPECT_EQ(window->timeline->Figures().TrackSeconds, std::optional<double>(0.0));
}

// The tempo reaches the bar from the preview, which joins the music and finds its beat once. A
// show the music does not cover says so, as the run does; an edit that turns beat sync off takes
// the line away.
TEST_F(TimelineWindowTest, TheBarShowsTheTempoTheShowIsCutTo) {
  auto window = MakeWindow();
  window->preview->SoundOutput = false;
  std::vector<double> clicks;
  for (double t = 0.25; t < 30; t += 0.5) clicks.push_back(t);
  testing::WriteWav(folder / "clicks.wav", testing::Clicks(30, clicks, -6));
  window->AddPhotos(SamplePhotos(folder.Path()));
  window->AddTracks({folder / "clicks.wav"});
  window->settings->chkBeatSync->setChecked(true);
  const auto beatText = [&] { return window->timeline->Figures().BeatText.toStdString(); };
  EXPECT_EQ(beatText(), "Beat sync: finding the music's beat…");

  // Four photos held 10 s outlast the 30 s of music, which the cut rule then leaves out.
  window->settings->spnHold->setValue(10);
  ASSERT_TRUE(window->preview->Refresh()) << window->preview->Problem().toStdString();
  EXPECT_TRUE(QTest::qWaitFor([&] { return beatText() == BeatSyncNoMusicText; }, 60000)) << beatText();

  window->settings->spnHold->setValue(2);
  ASSERT_TRUE(window->preview->Refresh()) << window->preview->Problem().toStdString();
  ASSERT_TRUE(QTest::qWaitFor([&] { return beatText().find("bpm") != std::string::npos; }, 60000)) << beatText();
  double bpm = 0;
  ASSERT_EQ(std::sscanf(beatText().c_str(), "Beat sync: %lf bpm", &bpm), 1) << beatText();
  EXPECT_NEAR(bpm, 120, 1);
  EXPECT_EQ(window->preview->TempoText().toStdString(), beatText().substr(0, window->preview->TempoText().size()));
  // The length the bar names is the preview's, which is the render's.
  const std::int64_t fitted = window->preview->Show().FrameCount();
  if (fitted != window->timeline->Figures().ShowFrames) {
    EXPECT_NE(beatText().find("(" + std::to_string(fitted) + " frames)"), std::string::npos) << beatText();
  }
  window->settings->chkBeatSync->setChecked(false);
  EXPECT_EQ(beatText(), "");
}

}  // namespace
}  // namespace lumivor::studio
