// Every edit of the show's choices and tracks undoes and redoes: the run asked for is the same
// after each redo as after the edit, the same after each undo as before it, and the controls
// follow. A box stepped many times is one undo step.
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QPushButton>
#include <QSpinBox>
#include <QTreeWidget>
#include <gtest/gtest.h>

#include "studio/settings_panel.h"
#include "window_fixture.h"

namespace lumivor::studio {
namespace {

RunRequest request_of(const StudioWindow& window) {
  RunRequest request;
  std::string errorText;
  EXPECT_TRUE(RequestFromProject(window.Project(), request, errorText)) << errorText;
  return request;
}

void expect_same_request(const RunRequest& a, const RunRequest& b) {
  EXPECT_EQ(a.Tracks, b.Tracks);
  EXPECT_EQ(a.HoldSeconds, b.HoldSeconds);
  EXPECT_EQ(a.TransitionSeconds, b.TransitionSeconds);
  EXPECT_EQ(a.Screen, b.Screen);
  EXPECT_EQ(a.Motion, b.Motion);
  EXPECT_EQ(a.MotionStrength, b.MotionStrength);
  EXPECT_EQ(a.MusicEndRule, b.MusicEndRule);
  EXPECT_EQ(a.RandomEffects, b.RandomEffects);
  EXPECT_EQ(a.EffectOrder, b.EffectOrder);
  EXPECT_EQ(a.Photos, b.Photos);
}

// What the controls show, read back into a project: equal to the window's when they agree.
ShowProject shown_by_controls(const StudioWindow& window) {
  ShowProject project = window.Project();
  window.settings->ApplyChoices(project);
  return project;
}

class UndoTest : public StudioWindowTest {
 protected:
  void SetUp() override {
    photos = SamplePhotos(folder.Path());
    tracks = {SampleTrack(folder / "a.wav", 1.0), SampleTrack(folder / "b.wav", 1.5), SampleTrack(folder / "c.wav", 2.0)};
  }
  std::vector<std::string> photos;
  std::vector<std::string> tracks;
};

TEST_F(UndoTest, EditUndoRedoGivesTheSameRequestEachTime) {
  struct Case {
    const char* name;
    std::function<void(StudioWindow&)> edit;
  };
  const Case cases[] = {
      {"hold", [](StudioWindow& w) { w.settings->spnHold->setValue(3.4); }},
      {"transition", [](StudioWindow& w) { w.settings->spnTransition->setValue(0.5); }},
      {"screen", [](StudioWindow& w) { w.settings->cmbScreen->setCurrentIndex(1); }},
      {"motion", [](StudioWindow& w) { w.settings->cmbMotion->setCurrentIndex(2); }},
      {"strength", [](StudioWindow& w) { w.settings->spnStrength->setValue(12); }},
      {"music end", [](StudioWindow& w) { w.settings->cmbMusicEnd->setCurrentIndex(2); }},
      {"effects", [](StudioWindow& w) { w.settings->cmbEffects->setCurrentIndex(1); }},
      {"add a track", [this](StudioWindow& w) { w.AddTracks({tracks[2]}); }},
      {"remove two tracks", [](StudioWindow& w) {
         w.settings->SelectTracks({0, 1});
         w.RemoveSelectedTracks();
       }},
      {"move a track up", [](StudioWindow& w) {
         w.settings->SelectTracks({1});
         w.settings->btnTrackUp->click();
       }},
      {"move a track down", [](StudioWindow& w) {
         w.settings->SelectTracks({0});
         w.settings->btnTrackDown->click();
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto window = MakeWindow();
    window->AddPhotos({photos[0], photos[1]});
    window->AddTracks({tracks[0], tracks[1]});
    window->Undo().setClean();
    const ShowProject before = window->Project();
    const RunRequest requestBefore = request_of(*window);
    const int edits = window->Undo().count();
    c.edit(*window);
    const ShowProject after = window->Project();
    ASSERT_NE(after, before) << "the edit changed nothing";
    EXPECT_EQ(window->Undo().count(), edits + 1);
    EXPECT_TRUE(window->Modified());
    const RunRequest requestAfter = request_of(*window);
    for (int round = 0; round < 2; ++round) {
      SCOPED_TRACE(round);
      window->Undo().undo();
      EXPECT_EQ(window->Project(), before);
      expect_same_request(request_of(*window), requestBefore);
      EXPECT_EQ(shown_by_controls(*window), before);
      EXPECT_EQ(window->settings->lstTracks->topLevelItemCount(), static_cast<int>(before.Tracks.size()));
      EXPECT_FALSE(window->Modified());
      window->Undo().redo();
      EXPECT_EQ(window->Project(), after);
      expect_same_request(request_of(*window), requestAfter);
      EXPECT_EQ(shown_by_controls(*window), after);
      EXPECT_TRUE(window->Modified());
    }
  }
}

TEST_F(UndoTest, TracksMoveAsABlockAndKeepTheirSelection) {
  auto window = MakeWindow();
  const std::string d = SampleTrack(folder / "d.wav", 0.5);
  window->AddTracks({tracks[0], tracks[1], tracks[2], d});
  struct Case {
    std::vector<int> selected;
    int step;
    std::vector<std::string> order;
    std::vector<int> selectedAfter;
  };
  const Case cases[] = {
      {{1, 2}, -1, {tracks[1], tracks[2], tracks[0], d}, {0, 1}},
      {{1, 2}, 1, {tracks[0], d, tracks[1], tracks[2]}, {2, 3}},
      {{0}, -1, {tracks[0], tracks[1], tracks[2], d}, {0}},  // already first: nothing
      {{3}, 1, {tracks[0], tracks[1], tracks[2], d}, {3}},   // already last: nothing
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.step);
    const std::vector<std::string> start = window->Project().Tracks;
    window->settings->SelectTracks(c.selected);
    window->MoveSelectedTracks(c.step);
    EXPECT_EQ(window->Project().Tracks, c.order);
    EXPECT_EQ(window->settings->SelectedTracks(), c.selectedAfter);
    if (c.order != start) window->Undo().undo();
    EXPECT_EQ(window->Project().Tracks, start);
  }
}

TEST_F(UndoTest, StepsOfOneBoxInARowAreOneUndoStep) {
  auto window = MakeWindow();
  const ShowProject before = window->Project();
  const int edits = window->Undo().count();
  for (int i = 0; i < 7; ++i) window->settings->spnHold->stepBy(1);
  EXPECT_DOUBLE_EQ(window->Project().HoldSeconds, before.HoldSeconds + 0.7);
  window->settings->cmbScreen->setCurrentIndex(2);
  for (int i = 0; i < 3; ++i) window->settings->spnHold->stepBy(-1);
  EXPECT_EQ(window->Undo().count(), edits + 3);
  window->Undo().undo();
  window->Undo().undo();
  EXPECT_DOUBLE_EQ(window->Project().HoldSeconds, before.HoldSeconds + 0.7);
  window->Undo().undo();
  EXPECT_EQ(window->Project(), before);
  EXPECT_DOUBLE_EQ(window->settings->spnHold->value(), before.HoldSeconds);
}

}  // namespace
}  // namespace lumivor::studio
