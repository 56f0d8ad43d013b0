// The show's words and sound in Studio: the loudness and beat choices, the title card's texts, the
// caption rule and a photo's own caption. Each is set from its control as one undo step, reaches
// the run the preview and the render are given, survives save and open, and undo takes it back.
// Typing in a line edit is one step until the focus leaves, Enter is pressed or the typing pauses.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QPushButton>
#include <gtest/gtest.h>

#include "studio/photo_inspector.h"
#include "studio/preview_pane.h"
#include "studio/settings_panel.h"
#include "studio/storyboard_view.h"
#include "window_fixture.h"

namespace lumivor::studio {
namespace {

// The run as the preview asks for it: through the pane's own hook, then the core's rule.
RunRequest previewed_request(const StudioWindow& window) {
  RunRequest request;
  std::string errorText;
  EXPECT_TRUE(window.preview->Project);
  EXPECT_TRUE(RequestFromProject(window.preview->Project(), request, errorText)) << errorText;
  return request;
}

std::string caption_text(const std::optional<std::string>& caption) {
  return caption ? "\"" + *caption + "\"" : std::string("unset");
}

std::string captions_of(const std::vector<std::optional<std::string>>& captions) {
  std::string text;
  for (const auto& caption : captions) text += caption_text(caption) + " ";
  return text;
}
// A run whose photos have no captions of their own carries none at all.
std::string captions_of(const RunRequest& request) {
  if (request.PhotoCaptions.empty()) return captions_of(std::vector<std::optional<std::string>>(request.Photos.size()));
  return captions_of(request.PhotoCaptions);
}

class WordsTest : public StudioWindowTest {
 protected:
  void SetUp() override { photos = SamplePhotos(folder.Path()); }
  std::unique_ptr<StudioWindow> WindowWithPhotos() {
    auto window = MakeWindow();
    window->AddPhotos({photos[0], photos[1], photos[2]});
    window->Undo().clear();
    return window;
  }
  static void Select(StudioWindow& window, const std::vector<int>& rows) {
    QItemSelectionModel* selection = window.storyboard->selectionModel();
    selection->clearSelection();
    for (const int row : rows) selection->select(window.Storyboard().index(row), QItemSelectionModel::Select);
  }
  // Saved, then opened in a second window.
  std::unique_ptr<StudioWindow> SavedAndOpened(StudioWindow& window) {
    const std::string file = folder / "words.lumivor";
    EXPECT_TRUE(window.SaveAs(QString::fromStdString(file)));
    auto reopened = MakeWindow();
    EXPECT_TRUE(reopened->OpenProject(QString::fromStdString(file)));
    return reopened;
  }
  std::vector<std::string> photos;
};

TEST_F(WordsTest, ShowControlsReachTheRunSurviveSavingAndUndo) {
  struct Case {
    const char* name;
    std::function<void(ShowSettingsPanel&)> edit;
    // The field as text, read from the run and from what the panel's controls show.
    std::function<std::string(const RunRequest&)> field;
    std::string before, after;
  };
  const auto flag = [](bool RunRequest::*member) {
    return [member](const RunRequest& r) { return std::string(r.*member ? "on" : "off"); };
  };
  const Case cases[] = {
      {"loudness, on for a new show, turned off", [](ShowSettingsPanel& p) { p.chkNormalize->click(); },
       flag(&RunRequest::Normalize), "on", "off"},
      {"cut on the beat", [](ShowSettingsPanel& p) { p.chkBeatSync->click(); }, flag(&RunRequest::BeatSync), "off", "on"},
      {"title typed", [](ShowSettingsPanel& p) { QTest::keyClicks(p.edtTitle, "Summer at the lake"); },
       [](const RunRequest& r) { return r.Title + (HasTitleCard(r) ? " +card" : ""); }, "", "Summer at the lake +card"},
      {"subtitle alone makes a card", [](ShowSettingsPanel& p) { QTest::keyClicks(p.edtSubtitle, "July"); },
       [](const RunRequest& r) { return r.Subtitle + " pictures " + std::to_string(ShowPictureCount(r)); },
       " pictures 3", "July pictures 4"},
      {"captions by date", [](ShowSettingsPanel& p) { p.cmbCaptions->setCurrentIndex(1); },
       [](const RunRequest& r) { return std::string(CaptionRuleName(r.Captions)); }, "none", "date"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto window = WindowWithPhotos();
    EXPECT_EQ(c.field(previewed_request(*window)), c.before);
    c.edit(*window->settings);
    EXPECT_EQ(c.field(previewed_request(*window)), c.after);
    EXPECT_EQ(window->Undo().count(), 1) << "one edit, one undo step";

    auto reopened = SavedAndOpened(*window);
    EXPECT_EQ(c.field(previewed_request(*reopened)), c.after);
    ShowProject shown = reopened->Project();
    reopened->settings->ApplyChoices(shown);
    EXPECT_EQ(shown, reopened->Project()) << "the reopened controls show what the file holds";

    window->Undo().undo();
    EXPECT_EQ(c.field(previewed_request(*window)), c.before);
    ShowProject undone = window->Project();
    window->settings->ApplyChoices(undone);
    EXPECT_EQ(undone, window->Project()) << "the controls follow the undo";
    window->Undo().redo();
    EXPECT_EQ(c.field(previewed_request(*window)), c.after);
  }
}

TEST_F(WordsTest, OnlyANewShowLevelsItsMusic) {
  const auto saved_with = [this](bool normalize) {
    ShowProject project;
    project.Photos = {ShowPhoto{photos[0], {}}};
    project.Normalize = normalize;
    const std::string file = folder / (normalize ? "levelled.lumivor" : "plain.lumivor");
    std::string errorText;
    EXPECT_TRUE(SaveShowProject(project, file, errorText)) << errorText;
    return file;
  };
  struct Case {
    const char* name;
    std::function<void(StudioWindow&)> start;
    bool normalize;
  };
  const Case cases[] = {
      {"a new window", [](StudioWindow&) {}, true},
      {"File > New after an opened show", [&](StudioWindow& w) {
         ASSERT_TRUE(w.OpenProject(QString::fromStdString(saved_with(false))));
         w.NewProject();
       }, true},
      {"an opened show without levelling", [&](StudioWindow& w) {
         ASSERT_TRUE(w.OpenProject(QString::fromStdString(saved_with(false))));
       }, false},
      {"an opened show with levelling", [&](StudioWindow& w) {
         ASSERT_TRUE(w.OpenProject(QString::fromStdString(saved_with(true))));
       }, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto window = MakeWindow();
    c.start(*window);
    EXPECT_EQ(window->Project().Normalize, c.normalize);
    EXPECT_EQ(window->settings->chkNormalize->isChecked(), c.normalize);
    EXPECT_FALSE(window->Modified()) << "a show as it was begun or opened has nothing to save";
  }
}

TEST_F(WordsTest, APhotosCaptionIsTheRulesItsOwnOrNone) {
  using Captions = std::vector<std::optional<std::string>>;
  struct Case {
    const char* name;
    Captions start;
    std::vector<int> selected;
    std::function<void(PhotoInspector&)> edit;
    Captions expected;
  };
  const auto own_text = [](const char* text) {
    return [text](PhotoInspector& i) {
      i.cmbCaption->setCurrentIndex(PhotoInspector::OwnCaption);
      QTest::keyClicks(i.edtCaption, text);
    };
  };
  const std::optional<std::string> rule;
  const Case cases[] = {
      {"own text for one photo", {rule, rule, rule}, {1}, own_text("Grandma's garden"), {rule, "Grandma's garden", rule}},
      {"own text for two photos", {rule, rule, rule}, {0, 2}, own_text("Harbour"), {"Harbour", rule, "Harbour"}},
      {"no caption", {rule, rule, rule}, {2},
       [](PhotoInspector& i) { i.cmbCaption->setCurrentIndex(PhotoInspector::NoCaption); }, {rule, rule, ""}},
      {"back to the show's rule", {"Old words", "", rule}, {0},
       [](PhotoInspector& i) { i.cmbCaption->setCurrentIndex(PhotoInspector::RuleCaption); }, {rule, "", rule}},
      {"own text replaces no caption", {rule, "", rule}, {1}, own_text("Found"), {rule, "Found", rule}},
      {"the show's choices clear the caption too", {rule, "Old words", rule}, {1},
       [](PhotoInspector& i) { i.btnReset->click(); }, {rule, rule, rule}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto window = MakeWindow();
    std::vector<ShowPhoto> start;
    for (std::size_t i = 0; i < c.start.size(); ++i) start.push_back(ShowPhoto{photos[i], {}, c.start[i]});
    window->Storyboard().ResetPhotos(start);
    window->settings->cmbCaptions->setCurrentIndex(1);
    window->Undo().clear();
    const std::string before = captions_of(previewed_request(*window));
    Select(*window, c.selected);
    ASSERT_EQ(window->inspector->Rows(), c.selected);
    c.edit(*window->inspector);

    RunRequest request = previewed_request(*window);
    EXPECT_EQ(captions_of(request), captions_of(c.expected));
    EXPECT_EQ(request.Captions, CaptionRule::Date);
    for (std::size_t row = 0; row < c.expected.size(); ++row) {
      SCOPED_TRACE(row);
      if (c.expected[row]) {
        EXPECT_EQ(PhotoCaptionText(request, static_cast<int>(row)), *c.expected[row]);
      }
      const QModelIndex index = window->Storyboard().index(static_cast<int>(row));
      EXPECT_EQ(window->Storyboard().data(index, StoryboardModel::OwnChoicesRole).toBool(), c.expected[row].has_value())
          << "a caption of its own is marked like other own choices";
    }
    EXPECT_EQ(window->Undo().count(), 1) << "one edit, one undo step";

    auto reopened = SavedAndOpened(*window);
    EXPECT_EQ(captions_of(previewed_request(*reopened)), captions_of(request));
    Select(*reopened, {c.selected.front()});
    const std::optional<std::string>& first = c.expected[static_cast<std::size_t>(c.selected.front())];
    const int row = !first ? PhotoInspector::RuleCaption : first->empty() ? PhotoInspector::NoCaption : PhotoInspector::OwnCaption;
    EXPECT_EQ(reopened->inspector->cmbCaption->currentIndex(), row);
    EXPECT_EQ(reopened->inspector->edtCaption->text().toStdString(), first.value_or(""));
    EXPECT_EQ(reopened->inspector->edtCaption->isEnabled(), row == PhotoInspector::OwnCaption);

    window->Undo().undo();
    EXPECT_EQ(captions_of(previewed_request(*window)), before);
    window->Undo().redo();
    EXPECT_EQ(captions_of(previewed_request(*window)), captions_of(request));
  }
}

// Typing is one undo step per run of keys; the focus leaving, Enter or a pause starts the next.
TEST_F(WordsTest, TypingIsOneStepUntilTheFocusLeavesOrTheTypingPauses) {
  struct Case {
    const char* name;
    std::function<QLineEdit*(StudioWindow&)> prepare;
    std::function<std::string(StudioWindow&)> value;
    int pauseMs;
    // An edit in another control of the same page.
    std::function<void(StudioWindow&)> other;
  };
  const Case cases[] = {
      {"title", [](StudioWindow& w) { return w.settings->edtTitle; },
       [](StudioWindow& w) { return w.Project().Title; }, ShowSettingsPanel::TypingPauseMs,
       [](StudioWindow& w) { w.settings->cmbScreen->setCurrentIndex(2); }},
      {"subtitle", [](StudioWindow& w) { return w.settings->edtSubtitle; },
       [](StudioWindow& w) { return w.Project().Subtitle; }, ShowSettingsPanel::TypingPauseMs,
       [](StudioWindow& w) { w.settings->chkBeatSync->setChecked(true); }},
      {"photo caption",
       [](StudioWindow& w) {
         w.storyboard->selectionModel()->select(w.Storyboard().index(1), QItemSelectionModel::Select);
         w.inspector->cmbCaption->setCurrentIndex(PhotoInspector::OwnCaption);
         return w.inspector->edtCaption;
       },
       [](StudioWindow& w) { return w.Project().Photos[1].Caption.value_or("(unset)"); }, PhotoInspector::TypingPauseMs,
       [](StudioWindow& w) { w.inspector->cmbMotion->setCurrentIndex(2); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto window = WindowWithPhotos();
    window->show();
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    QLineEdit* edit = c.prepare(*window);
    const std::string start = c.value(*window);
    edit->setFocus();
    QTest::keyClicks(edit, "Sea");
    EXPECT_EQ(window->Undo().count(), 1);
    QTest::keyClick(edit, Qt::Key_Return);
    QTest::keyClicks(edit, "side");
    EXPECT_EQ(window->Undo().count(), 2) << "Enter ends a step";
    window->storyboard->setFocus();
    edit->setFocus();
    QTest::keyClicks(edit, " at");
    EXPECT_EQ(window->Undo().count(), 3) << "the focus leaving ends a step";
    QTest::qWait(c.pauseMs + 300);
    QTest::keyClicks(edit, " dawn");
    EXPECT_EQ(window->Undo().count(), 4) << "a pause ends a step";
    EXPECT_EQ(c.value(*window), "Seaside at dawn");
    const std::string expected[] = {"Seaside at", "Seaside", "Sea", start};
    for (const std::string& text : expected) {
      window->Undo().undo();
      EXPECT_EQ(c.value(*window), text);
      EXPECT_EQ(edit->text().toStdString(), text == "(unset)" ? "" : text) << "the box follows the undo";
    }
    // Another control's edit, even one taken back, ends the run of typing before it.
    window->Undo().redo();
    edit->setFocus();
    edit->end(false);
    QTest::keyClicks(edit, "s");
    c.other(*window);
    window->Undo().undo();
    QTest::keyClicks(edit, "!");
    EXPECT_EQ(c.value(*window), "Seas!");
    window->Undo().undo();
    EXPECT_EQ(c.value(*window), "Seas");
  }
}

}  // namespace
}  // namespace lumivor::studio
