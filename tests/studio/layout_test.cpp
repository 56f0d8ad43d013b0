// Nothing in Studio's main window, its two side pages and the render dialog is cut when the text
// is larger: with a 12-point font (and, run again with QT_SCALE_FACTOR=2, at double scale) every
// button and label gets at least the room it asks for, and the window still fits a 1280x800
// screen at scale 1.
#include <QAbstractButton>
#include <QApplication>
#include <QFont>
#include <QLabel>
#include <QScreen>
#include <QTabWidget>
#include <gtest/gtest.h>

#include "studio/photo_inspector.h"
#include "studio/render_dialog.h"
#include "studio/settings_panel.h"
#include "studio/storyboard_view.h"
#include "window_fixture.h"

namespace lumivor::studio {
namespace {

// Buttons and labels under top that are shown and get less room than they ask for, one line each.
std::vector<std::string> cut_widgets(QWidget& top) {
  std::vector<std::string> cut;
  QList<QWidget*> widgets = top.findChildren<QWidget*>();
  for (QWidget* widget : widgets) {
    if (!widget->isVisibleTo(&top)) continue;
    auto* label = qobject_cast<QLabel*>(widget);
    auto* button = qobject_cast<QAbstractButton*>(widget);
    if (label == nullptr && button == nullptr) continue;
    const QSize wanted = widget->sizeHint();
    if (!wanted.isValid()) continue;
    const QSize given = widget->size();
    // A wrapping label may trade width for lines: it needs the height its lines take at its width.
    const bool fits = label != nullptr && label->wordWrap()
                          ? label->heightForWidth(given.width()) <= given.height()
                          : wanted.width() <= given.width() && wanted.height() <= given.height();
    if (!fits) {
      const QString text = label != nullptr ? label->text() : button->text();
      cut.push_back(text.toStdString() + " (" + widget->metaObject()->className() + ") wants " +
                    std::to_string(wanted.width()) + "x" + std::to_string(wanted.height()) + ", has " +
                    std::to_string(given.width()) + "x" + std::to_string(given.height()));
    }
  }
  return cut;
}

void settle(QWidget& widget) {
  widget.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&widget));
  // Layouts are done in posted events; two rounds let nested ones follow their parents.
  QApplication::processEvents();
  QApplication::processEvents();
}

class LayoutTest : public StudioWindowTest {
 protected:
  void SetUp() override {
    font = QApplication::font();
    QFont larger = font;
    larger.setPointSize(12);
    QApplication::setFont(larger);
  }
  void TearDown() override { QApplication::setFont(font); }
  QFont font;
};

TEST_F(LayoutTest, NothingIsCutWithATwelvePointFont) {
  auto window = MakeWindow();
  const std::vector<std::string> photos = SamplePhotos(folder.Path());
  window->AddPhotos({photos[0]});
  window->AddTracks({SampleTrack(folder / "tune.wav", 1.0)});
  ASSERT_TRUE(WaitForTrackLengths(*window));
  window->storyboard->setCurrentIndex(window->Storyboard().index(0));
  window->inspector->ShowRows({0});
  settle(*window);
  auto* tabs = window->findChild<QTabWidget*>(QStringLiteral("sideTabs"));
  ASSERT_NE(tabs, nullptr);
  struct Case {
    const char* name;
    QWidget* page;
  };
  const Case cases[] = {{"the show's page", window->settings}, {"the photo's page", window->inspector}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    tabs->setCurrentWidget(c.page);
    QApplication::processEvents();
    EXPECT_EQ(cut_widgets(*window), std::vector<std::string>{});
  }
  RenderDialog dialog(window->Project(), QString(), window.get());
  settle(dialog);
  EXPECT_EQ(cut_widgets(dialog), std::vector<std::string>{});

  // The whole window fits a common laptop screen; only meaningful at scale 1.
  if (window->devicePixelRatio() == 1.0) {
    const QSize least = window->minimumSizeHint();
    EXPECT_LE(least.width(), 1280);
    EXPECT_LE(least.height(), 800);
  }
}

}  // namespace
}  // namespace lumivor::studio
