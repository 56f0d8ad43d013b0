// Projects from Studio: saved and opened again to the same run, the title and the question
// before unsaved changes are lost, damaged projects and missing photos.
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QSpinBox>
#include <QTreeWidget>
#include <gtest/gtest.h>

#include "studio/settings_panel.h"
#include "window_fixture.h"

namespace lumivor::studio {
namespace {

// The run a project asks for, field by field, so that a difference is named.
void ExpectSameRun(const ShowProject& a, const ShowProject& b) {
  RunRequest first, second;
  std::string errorText;
  ASSERT_TRUE(RequestFromProject(a, first, errorText)) << errorText;
  ASSERT_TRUE(RequestFromProject(b, second, errorText)) << errorText;
  EXPECT_EQ(first.Photos, second.Photos);
  EXPECT_EQ(first.Tracks, second.Tracks);
  EXPECT_EQ(first.FormatIndex, second.FormatIndex);
  EXPECT_EQ(first.Width, second.Width);
  EXPECT_EQ(first.Height, second.Height);
  EXPECT_EQ(first.RateNumerator, second.RateNumerator);
  EXPECT_EQ(first.RateDenominator, second.RateDenominator);
  EXPECT_EQ(first.HoldSeconds, second.HoldSeconds);
  EXPECT_EQ(first.TransitionSeconds, second.TransitionSeconds);
  EXPECT_EQ(first.Screen, second.Screen);
  EXPECT_EQ(first.Motion, second.Motion);
  EXPECT_EQ(first.MotionStrength, second.MotionStrength);
  EXPECT_EQ(first.MusicEndRule, second.MusicEndRule);
  EXPECT_EQ(first.RandomEffects, second.RandomEffects);
  EXPECT_EQ(first.EffectOrder, second.EffectOrder);
  EXPECT_EQ(first.Seed, second.Seed);
  EXPECT_EQ(first.PerPhoto, second.PerPhoto);
  EXPECT_EQ(first.Stereo, second.Stereo);
  EXPECT_EQ(first.SampleRate, second.SampleRate);
  EXPECT_EQ(first.BitRate, second.BitRate);
}

class ProjectTest : public StudioWindowTest {
 protected:
  void SetUp() override {
    photos = SamplePhotos(folder.Path());
    track = SampleTrack(folder / "song.wav", 3.0);
  }
  // A show edited through the window's own controls, every choice away from a new show's.
  void EditShow(StudioWindow& window) {
    window.AddPhotos({photos[2], photos[0], photos[1]});
    window.Storyboard().MoveRows({2}, 0);
    window.Storyboard().DuplicateRows({1});
    window.AddTracks({track});
    ShowSettingsPanel& panel = *window.settings;
    panel.spnHold->setValue(2.5);
    panel.spnTransition->setValue(0.7);
    panel.cmbScreen->setCurrentIndex(2);
    panel.cmbMotion->setCurrentIndex(1);
    panel.spnStrength->setValue(35);
    panel.cmbMusicEnd->setCurrentIndex(1);
    panel.cmbEffects->setCurrentIndex(1);
  }
  std::vector<std::string> photos;
  std::string track;
};

TEST_F(ProjectTest, ASavedProjectOpensAgainToTheSameRun) {
  auto window = MakeWindow();
  EditShow(*window);
  const ShowProject edited = window->Project();
  EXPECT_EQ(edited.HoldSeconds, 2.5);
  EXPECT_EQ(edited.Screen, ScreenMode::Blur);
  EXPECT_EQ(edited.Motion, MotionKind::Zoom);
  EXPECT_EQ(edited.MusicEndRule, MusicEnd::Fade);
  EXPECT_FALSE(edited.RandomEffects);
  EXPECT_EQ(edited.Photos.size(), 4u);
  const std::string file = folder / "show.lumivor";
  // Saved without an extension typed, it gets the project one.
  ASSERT_TRUE(window->SaveAs(QString::fromStdString(folder / "show")));
  EXPECT_EQ(window->FileName().toStdString(), file);
  EXPECT_FALSE(window->Modified());

  auto reopened = MakeWindow();
  ASSERT_TRUE(reopened->OpenProject(QString::fromStdString(file)));
  EXPECT_TRUE(warnings.empty());
  EXPECT_FALSE(reopened->Modified());
  EXPECT_EQ(reopened->Project(), edited);
  ExpectSameRun(reopened->Project(), edited);
  // The controls show what was opened.
  EXPECT_DOUBLE_EQ(reopened->settings->spnTransition->value(), 0.7);
  EXPECT_EQ(reopened->settings->spnStrength->value(), 35);
  ASSERT_TRUE(WaitForTrackLengths(*reopened));
  ASSERT_EQ(reopened->settings->lstTracks->topLevelItemCount(), 1);
  EXPECT_EQ(reopened->settings->lstTracks->topLevelItem(0)->text(1), QStringLiteral("00:00:03.000"));
  EXPECT_EQ(reopened->RecentProjects().value(0).toStdString(), file);
}

TEST_F(ProjectTest, TheTitleNamesTheFileAndMarksChanges) {
  auto window = MakeWindow();
  struct Step {
    const char* name;
    std::function<void(StudioWindow&)> act;
    bool modified;
    QString titleStart;
  };
  const std::string file = folder / "trip.lumivor";
  const Step steps[] = {
      {"new", [](StudioWindow&) {}, false, QStringLiteral("Untitled")},
      {"a photo added", [&](StudioWindow& w) { w.AddPhotos({photos[0]}); }, true, QStringLiteral("Untitled")},
      {"the add undone", [](StudioWindow& w) { w.Undo().undo(); }, false, QStringLiteral("Untitled")},
      {"a choice changed", [](StudioWindow& w) { w.settings->spnHold->setValue(4); }, true, QStringLiteral("Untitled")},
      {"saved", [&](StudioWindow& w) { w.SaveAs(QString::fromStdString(file)); }, false, QStringLiteral("trip.lumivor")},
      {"a photo added after saving", [&](StudioWindow& w) { w.AddPhotos({photos[1]}); }, true, QStringLiteral("trip.lumivor")},
      {"undone back to the saved show", [](StudioWindow& w) { w.Undo().undo(); }, false, QStringLiteral("trip.lumivor")},
      {"the undo redone", [](StudioWindow& w) { w.Undo().redo(); }, true, QStringLiteral("trip.lumivor")},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.name);
    step.act(*window);
    EXPECT_EQ(window->Modified(), step.modified);
    EXPECT_EQ(window->isWindowModified(), step.modified);
    EXPECT_TRUE(window->windowTitle().startsWith(step.titleStart + QStringLiteral("[*]"))) << window->windowTitle().toStdString();
  }
}

TEST_F(ProjectTest, UnsavedChangesAreAskedAboutBeforeTheyAreLost) {
  struct Case {
    QMessageBox::StandardButton answer;
    bool keptShow;   // the edited show is still in the window
    bool savedFile;  // it was written to its file
  };
  const Case cases[] = {
      {QMessageBox::Cancel, true, false},
      {QMessageBox::Discard, false, false},
      {QMessageBox::Save, false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.answer);
    auto window = MakeWindow();
    const std::string file = folder / "asked.lumivor";
    std::filesystem::remove(file);
    ASSERT_TRUE(window->SaveAs(QString::fromStdString(file)));
    window->AddPhotos({photos[0], photos[1]});
    questions.clear();
    answer = c.answer;
    window->NewProject();
    ASSERT_EQ(questions.size(), 1u);
    EXPECT_TRUE(questions.front().contains(QStringLiteral("asked.lumivor")));
    EXPECT_EQ(window->Project().Photos.size(), c.keptShow ? 2u : 0u);
    ShowProject saved;
    std::string errorText;
    ASSERT_TRUE(LoadShowProject(file, saved, errorText)) << errorText;
    EXPECT_EQ(saved.Photos.size(), c.savedFile ? 2u : 0u);
    // Closing asks the same way: a cancelled close leaves the window open.
    answer = QMessageBox::Cancel;
    questions.clear();
    window->show();
    window->close();
    EXPECT_EQ(window->isVisible(), c.keptShow);
    EXPECT_EQ(questions.size(), c.keptShow ? 1u : 0u);
  }
}

TEST_F(ProjectTest, ADamagedProjectIsRefusedWithTheReason) {
  auto window = MakeWindow();
  window->AddPhotos({photos[0]});
  ASSERT_TRUE(window->SaveAs(QString::fromStdString(folder / "kept.lumivor")));
  const ShowProject before = window->Project();
  const std::string damaged = folder / "damaged.lumivor";
  WriteText(damaged, "{\"lumivor\": 1, \"photos\": [");
  ShowProject ignored;
  std::string expected;
  ASSERT_FALSE(LoadShowProject(damaged, ignored, expected));
  EXPECT_FALSE(window->OpenProject(QString::fromStdString(damaged)));
  ASSERT_EQ(warnings.size(), 1u);
  EXPECT_EQ(warnings.front().Text.toStdString(), expected);
  // The show that was open stays, under its own name.
  EXPECT_EQ(window->Project(), before);
  EXPECT_TRUE(window->FileName().endsWith(QStringLiteral("kept.lumivor")));
}

TEST_F(ProjectTest, AProjectNamingAMissingPhotoOpensAndSaysWhatIsMissing) {
  ShowProject project;
  const std::string missing = folder / "gone.jpg";
  project.Photos = {{photos[0], {}}, {missing, {}}};
  std::string errorText;
  const std::string file = folder / "missing.lumivor";
  ASSERT_TRUE(SaveShowProject(project, file, errorText)) << errorText;
  auto window = MakeWindow();
  ASSERT_TRUE(window->OpenProject(QString::fromStdString(file)));
  const std::vector<std::string> problems = ShowProjectProblems(project);
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_EQ(window->LastProblems(), problems);
  ASSERT_EQ(warnings.size(), 1u);
  EXPECT_TRUE(warnings.front().Text.contains(QString::fromStdString(problems.front()))) << warnings.front().Text.toStdString();
  // The missing photo stays in its place, so it can be put right.
  EXPECT_EQ(window->Project().Photos, project.Photos);
}

}  // namespace
}  // namespace lumivor::studio
