// The photo inspector and the effect gallery: a photo's own choices set from their controls, one
// undoable edit each, kept by save and open; the gallery's search and keys.
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSpinBox>
#include <gtest/gtest.h>

#include "effects/effect.h"
#include "studio/effect_gallery.h"
#include "studio/photo_inspector.h"
#include "studio/storyboard_view.h"
#include "window_fixture.h"

namespace lumivor::studio {
namespace {

PhotoChoices own(void (*set)(PhotoChoices&)) {
  PhotoChoices choices;
  set(choices);
  return choices;
}

class InspectorTest : public StudioWindowTest {
 protected:
  void SetUp() override { photos = SamplePhotos(folder.Path()); }
  std::unique_ptr<StudioWindow> WindowWithPhotos() {
    auto window = MakeWindow();
    window->AddPhotos({photos[0], photos[1], photos[2]});
    return window;
  }
  static void Select(StudioWindow& window, const std::vector<int>& rows) {
    QItemSelectionModel* selection = window.storyboard->selectionModel();
    selection->clearSelection();
    for (const int row : rows) selection->select(window.Storyboard().index(row), QItemSelectionModel::Select);
  }
  static std::vector<PhotoChoices> ChoicesOf(const StudioWindow& window) {
    std::vector<PhotoChoices> choices;
    for (const ShowPhoto& photo : window.Project().Photos) choices.push_back(photo.Choices);
    return choices;
  }
  std::vector<std::string> photos;
};

TEST_F(InspectorTest, EachControlSetsTheSelectedPhotosChoiceAsOneUndoableEdit) {
  struct Case {
    const char* name;
    std::function<void(PhotoInspector&)> edit;
    PhotoChoices expected;
  };
  const Case cases[] = {
      {"hold in tenths", [](PhotoInspector& i) { i.spnHold->setValue(3.7); }, own([](PhotoChoices& c) { c.HoldSeconds = 3.7; })},
      {"hold of zero is a choice, not the default", [](PhotoInspector& i) { i.spnHold->setValue(0.0); },
       own([](PhotoChoices& c) { c.HoldSeconds = 0.0; })},
      {"transition", [](PhotoInspector& i) { i.spnTransition->setValue(0.4); }, own([](PhotoChoices& c) { c.TransitionSeconds = 0.4; })},
      {"screen", [](PhotoInspector& i) { i.cmbScreen->setCurrentIndex(2); }, own([](PhotoChoices& c) { c.Screen = ScreenMode::Fill; })},
      {"motion", [](PhotoInspector& i) { i.cmbMotion->setCurrentIndex(3); }, own([](PhotoChoices& c) { c.Motion = MotionKind::Pan; })},
      {"strength", [](PhotoInspector& i) { i.spnStrength->setValue(70); }, own([](PhotoChoices& c) { c.MotionStrength = 70; })},
      {"strength of zero", [](PhotoInspector& i) { i.spnStrength->setValue(0); }, own([](PhotoChoices& c) { c.MotionStrength = 0; })},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto window = WindowWithPhotos();
    Select(*window, {0, 2});
    ASSERT_EQ(window->inspector->Rows(), (std::vector<int>{0, 2}));
    const int editsBefore = window->Undo().count();
    window->Undo().setClean();
    c.edit(*window->inspector);
    const std::vector<PhotoChoices> edited{c.expected, {}, c.expected};
    EXPECT_EQ(ChoicesOf(*window), edited);
    EXPECT_EQ(window->Undo().count(), editsBefore + 1);
    EXPECT_TRUE(window->Modified());
    // The storyboard marks the photos with choices of their own, and only those.
    const StoryboardModel& model = window->Storyboard();
    EXPECT_TRUE(model.data(model.index(0), StoryboardModel::OwnChoicesRole).toBool());
    EXPECT_FALSE(model.data(model.index(1), StoryboardModel::OwnChoicesRole).toBool());
    window->Undo().undo();
    EXPECT_EQ(ChoicesOf(*window), std::vector<PhotoChoices>(3));
    EXPECT_FALSE(window->Modified());
    // The controls follow the undo back to the show's default.
    PhotoInspector& inspector = *window->inspector;
    EXPECT_EQ(inspector.spnHold->value(), inspector.spnHold->minimum());
    EXPECT_EQ(inspector.cmbScreen->currentIndex(), 0);
    EXPECT_EQ(inspector.spnStrength->value(), -1);
    window->Undo().redo();
    EXPECT_EQ(ChoicesOf(*window), edited);
  }
}

TEST_F(InspectorTest, StepsOfOneBoxAreOneUndoStepAndStepsBackToTheStartLeaveNone) {
  auto window = WindowWithPhotos();
  Select(*window, {1});
  PhotoInspector& inspector = *window->inspector;
  const int editsBefore = window->Undo().count();
  // From the default, one step up is 0.0 s, then tenths.
  for (int i = 0; i < 6; ++i) inspector.spnHold->stepBy(1);
  EXPECT_EQ(window->Undo().count(), editsBefore + 1);
  EXPECT_EQ(ChoicesOf(*window)[1].HoldSeconds, std::optional<double>(0.5));
  // Another box's steps are an edit of their own.
  inspector.spnTransition->stepBy(3);
  EXPECT_EQ(window->Undo().count(), editsBefore + 2);
  window->Undo().undo();
  window->Undo().undo();
  EXPECT_EQ(ChoicesOf(*window), std::vector<PhotoChoices>(3));
  // Up and back down again: nothing to undo.
  for (int i = 0; i < 4; ++i) inspector.spnStrength->stepBy(1);
  for (int i = 0; i < 4; ++i) inspector.spnStrength->stepBy(-1);
  EXPECT_EQ(ChoicesOf(*window), std::vector<PhotoChoices>(3));
  EXPECT_EQ(window->Undo().count(), editsBefore);
}

TEST_F(InspectorTest, EditsFollowTheSelectedPhotoWhenItMoves) {
  auto window = WindowWithPhotos();
  Select(*window, {0});
  window->inspector->cmbScreen->setCurrentIndex(1);
  // The photo moves to the end, still selected: the inspector shows it, and edits reach it.
  window->Storyboard().MoveRows({0}, 3);
  ASSERT_EQ(window->Project().Photos[2].File, photos[0]);
  EXPECT_EQ(window->inspector->Rows(), (std::vector<int>{2}));
  EXPECT_EQ(window->inspector->cmbScreen->currentIndex(), 1);
  window->inspector->spnStrength->setValue(20);
  EXPECT_EQ(window->Project().Photos[2].Choices.MotionStrength, std::optional<int>(20));
  EXPECT_FALSE(window->Project().Photos[0].Choices.HasAny());
}

TEST_F(InspectorTest, ChoicesSurviveSaveAndOpenAsTheSameRequest) {
  auto window = WindowWithPhotos();
  Select(*window, {1});
  PhotoInspector& inspector = *window->inspector;
  inspector.spnHold->setValue(1.3);
  inspector.spnTransition->setValue(0.6);
  inspector.cmbScreen->setCurrentIndex(3);
  inspector.cmbMotion->setCurrentIndex(2);
  inspector.spnStrength->setValue(40);
  inspector.OnGallery = [](EffectGallery& gallery) {
    ASSERT_TRUE(gallery.SelectEffect(57));
    gallery.accept();
  };
  inspector.ChooseEffect();
  const PhotoChoices expected{1.3, ScreenMode::Blur, MotionKind::Zoom, 40, 57, 0.6};
  ASSERT_EQ(ChoicesOf(*window)[1], expected);
  const std::string file = folder / "own.lumivor";
  ASSERT_TRUE(window->SaveAs(QString::fromStdString(file)));

  auto reopened = MakeWindow();
  ASSERT_TRUE(reopened->OpenProject(QString::fromStdString(file)));
  RunRequest saved, opened;
  std::string errorText;
  ASSERT_TRUE(RequestFromProject(window->Project(), saved, errorText)) << errorText;
  ASSERT_TRUE(RequestFromProject(reopened->Project(), opened, errorText)) << errorText;
  ASSERT_EQ(opened.PerPhoto.size(), 3u);
  EXPECT_EQ(opened.PerPhoto, saved.PerPhoto);
  EXPECT_EQ(opened.PerPhoto[1], expected);
  // The reopened photo shows its choices in the inspector.
  Select(*reopened, {1});
  EXPECT_DOUBLE_EQ(reopened->inspector->spnHold->value(), 1.3);
  EXPECT_EQ(reopened->inspector->cmbScreen->currentIndex(), 3);
  EXPECT_TRUE(reopened->inspector->btnEffect->text().startsWith(QStringLiteral("57 ")));
}

TEST_F(InspectorTest, GalleryFindsEffectsByNumberAndByName) {
  EffectGallery gallery(std::nullopt);
  struct Case {
    const char* filter;
    std::vector<int> shown;
  };
  const Case cases[] = {
      {"12", {12, 120, 121, 122, 123, 124, 125, 126, 127, 128, 129}},
      {" 176 ", {176}},
      {"unroll", {14, 15, 31, 32}},
      {"UNROLL FROM T", {31}},
      {"default", {0}},
      {"177", {}},
      {"no such effect", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.filter);
    gallery.edtFilter->setText(QString::fromLatin1(c.filter));
    EXPECT_EQ(gallery.ShownEffects(), c.shown);
  }
  gallery.edtFilter->clear();
  EXPECT_EQ(gallery.ShownEffects().size(), static_cast<std::size_t>(EffectCount + 1));
}

TEST_F(InspectorTest, GalleryIsChosenFromByKeysAndSetsTheEffectThroughTheUndoStack) {
  auto window = WindowWithPhotos();
  Select(*window, {0});
  PhotoInspector& inspector = *window->inspector;
  struct Case {
    const char* name;
    std::function<void(EffectGallery&)> keys;
    std::optional<int> effect;  // the photo's afterwards
    bool edit;                  // one more undo step
  };
  const Case cases[] = {
      {"a number and Enter", [](EffectGallery& g) {
         QTest::keyClicks(g.edtFilter, QStringLiteral("12"));
         QTest::keyClick(g.edtFilter, Qt::Key_Return);
       }, 12, true},
      {"a name, Down to the second match, Enter", [](EffectGallery& g) {
         QTest::keyClicks(g.edtFilter, QStringLiteral("unroll"));
         QTest::keyClick(g.edtFilter, Qt::Key_Down);
         QTest::keyClick(g.edtFilter, Qt::Key_Return);
       }, 15, true},
      {"Escape changes nothing", [](EffectGallery& g) {
         QTest::keyClicks(g.edtFilter, QStringLiteral("3"));
         QTest::keyClick(g.edtFilter, Qt::Key_Escape);
       }, 15, false},
      {"the show's default again", [](EffectGallery& g) {
         QTest::keyClicks(g.edtFilter, QStringLiteral("default"));
         QTest::keyClick(g.edtFilter, Qt::Key_Return);
       }, std::nullopt, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const int editsBefore = window->Undo().count();
    const std::optional<int> before = ChoicesOf(*window)[0].TransitionEffect;
    inspector.OnGallery = [&](EffectGallery& gallery) {
      gallery.show();
      ASSERT_TRUE(QTest::qWaitForWindowExposed(&gallery));
      c.keys(gallery);
    };
    inspector.ChooseEffect();
    EXPECT_EQ(ChoicesOf(*window)[0].TransitionEffect, c.effect);
    EXPECT_EQ(window->Undo().count(), editsBefore + (c.edit ? 1 : 0));
    if (c.edit) {
      window->Undo().undo();
      EXPECT_EQ(ChoicesOf(*window)[0].TransitionEffect, before);
      window->Undo().redo();
    }
  }
}

TEST_F(InspectorTest, GalleryDrawsOnlyTheItemsInViewAndEachFrameOnce) {
  EffectGallery gallery(std::nullopt);
  gallery.resize(600, 400);
  // Not on screen: nothing is drawn, however long it waits.
  QTest::qWait(300);
  EXPECT_EQ(gallery.FramesDrawn(), 0);
  gallery.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&gallery));
  const int before = gallery.FramesDrawn();
  for (int i = 0; i < EffectGallery::PassFrames; ++i) gallery.Advance();
  const int onePass = gallery.FramesDrawn() - before;
  int inView = 0;
  const QRect view = gallery.lstEffects->viewport()->rect();
  for (int row = 1; row < gallery.lstEffects->count(); ++row) {
    inView += gallery.lstEffects->visualItemRect(gallery.lstEffects->item(row)).intersects(view) ? 1 : 0;
  }
  ASSERT_GT(inView, 0);
  ASSERT_LT(inView, 60) << "the test wants a window showing only some of the effects";
  EXPECT_LE(onePass, inView * EffectGallery::PassFrames);
  EXPECT_GT(onePass, 0);
  // The last effect is out of view: it has no picture yet.
  EXPECT_TRUE(gallery.lstEffects->item(EffectCount)->icon().isNull());
  // A second pass is drawn from the cache.
  for (int i = 0; i < EffectGallery::PassFrames; ++i) gallery.Advance();
  EXPECT_EQ(gallery.FramesDrawn() - before, onePass);
}

}  // namespace
}  // namespace lumivor::studio
