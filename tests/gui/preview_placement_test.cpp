#include "gui/preview_placement.h"

#include <QGuiApplication>
#include <QScreen>
#include <QTest>
#include <QWidget>
#include <gtest/gtest.h>

#include "gui/previewer_form.h"

namespace lumivor::gui {
namespace {

std::string text_of(const QRect& r) {
  return std::to_string(r.x()) + "," + std::to_string(r.y()) + " " + std::to_string(r.width()) + "x" +
         std::to_string(r.height());
}

TEST(PreviewPlacementTest, BesideTheMainWindowScaledToTheRoomThere) {
  const QRect laptop(0, 0, 1280, 800);
  const QRect large(0, 0, 3840, 2160);
  const QSize fullHd(1920, 1080);
  const QMargins none;
  const QMargins decorated(4, 24, 4, 4);
  struct Case {
    const char* Name;
    QRect Available, Main;
    QSize Picture;
    QMargins Margins;
    QRect Frame;
    QSize Client;
  };
  const Case cases[] = {
      // 1080p on 1280x800: nowhere at full size; the widest band, right of the window, shows it
      // at 680x382.
      {"laptop, window at the left edge", laptop, {0, 0, 600, 440}, fullHd, none, {600, 0, 680, 382}, {680, 382}},
      {"laptop, with decoration", laptop, {0, 0, 600, 440}, fullHd, decorated, {600, 0, 680, 406}, {672, 378}},
      {"laptop, window at the right edge", laptop, {680, 100, 600, 440}, fullHd, none, {0, 100, 680, 382}, {680, 382}},
      {"laptop, window at the top, centred", laptop, {340, 0, 600, 440}, fullHd, none, {340, 440, 640, 360}, {640, 360}},
      {"laptop, window at the bottom, centred", laptop, {340, 360, 600, 440}, fullHd, none, {340, 0, 640, 360},
       {640, 360}},
      // A panel at the top: the available area starts below it.
      {"laptop with a panel", {0, 32, 1280, 768}, {0, 32, 600, 440}, fullHd, none, {600, 32, 680, 382}, {680, 382}},
      // Low on the screen: pushed up so that the whole window stays on it.
      {"window low at the left", laptop, {0, 700, 600, 100}, {320, 240}, none, {600, 560, 320, 240}, {320, 240}},
      {"large screen: full size to the right", large, {100, 100, 600, 440}, fullHd, none, {700, 100, 1920, 1080},
       fullHd},
      {"large screen, window at the right edge: to the left", large, {3240, 0, 600, 440}, fullHd, none,
       {1320, 0, 1920, 1080}, fullHd},
      // Right has no room for 1920 wide; left has: left wins over a larger scaled right.
      {"large screen, room only on the left", large, {1950, 0, 600, 440}, fullHd, none, {30, 0, 1920, 1080}, fullHd},
      {"large screen, room only below", large, {1000, 0, 1840, 440}, fullHd, none, {1000, 440, 1920, 1080}, fullHd},
      {"small picture fits right", laptop, {0, 0, 600, 440}, {320, 240}, none, {600, 0, 320, 240}, {320, 240}},
      {"no main window: centred", laptop, {}, fullHd, none, {0, 40, 1280, 720}, {1280, 720}},
      {"main window fills the screen", laptop, laptop, fullHd, none, {640, 440, 640, 360}, {640, 360}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    const PreviewPlacement place = PlacePreview(c.Available, c.Main, c.Picture, c.Margins);
    EXPECT_EQ(text_of(place.Frame), text_of(c.Frame));
    EXPECT_EQ(place.Client, c.Client);
    // Whatever the case: on the screen, clear of the main window unless it fills the screen.
    EXPECT_TRUE(c.Available.contains(place.Frame));
    if (c.Main != c.Available) {
      EXPECT_FALSE(place.Frame.intersects(c.Main));
    }
    EXPECT_EQ(place.Frame.size(), place.Client.grownBy(c.Margins));
    // The aspect kept to within the rounding of one pixel.
    EXPECT_NEAR(static_cast<double>(place.Client.width()) * c.Picture.height(),
                static_cast<double>(place.Client.height()) * c.Picture.width(), c.Picture.width());
  }
}

// On a real screen (here the offscreen platform's): the preview of a picture larger than the
// screen, shown beside a main window at each edge, opens fully on the screen and off the window.
TEST(PreviewPlacementTest, ShownPreviewStaysOnTheScreenAndOffTheMainWindow) {
  const QScreen* screen = QGuiApplication::primaryScreen();
  ASSERT_NE(screen, nullptr);
  const QRect available = screen->availableGeometry();
  const QSize mainSize(available.width() / 2, available.height() / 2);
  struct Case {
    const char* Name;
    QPoint MainAt;
  };
  const Case cases[] = {
      {"left edge", {available.left(), available.top() + 20}},
      {"right edge", {available.right() + 1 - mainSize.width(), available.top()}},
      {"top edge", {available.left() + 50, available.top()}},
      {"bottom edge", {available.left() + 50, available.bottom() + 1 - mainSize.height()}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    QWidget main;
    main.setFixedSize(mainSize);
    main.move(c.MainAt);
    main.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&main));
    QtPreviewerForm preview(&main);
    preview.ShowWithClientSize(available.width() * 3 / 2, available.width() * 27 / 32);  // 16:9, larger than the screen
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&preview));
    const QRect frame = preview.frameGeometry();
    EXPECT_TRUE(available.contains(frame)) << text_of(frame) << " on " << text_of(available);
    EXPECT_FALSE(frame.intersects(main.frameGeometry())) << text_of(frame) << " over " << text_of(main.frameGeometry());
    EXPECT_GT(preview.width(), 0);
    // The picture fills the smaller window, scaled.
    Bitmap picture(available.width() * 3 / 2, available.width() * 27 / 32, 24);
    picture.Fill(0x00336699);
    preview.DrawPicture(picture);
    const QImage shown = preview.grab().toImage();
    EXPECT_EQ(shown.pixel(shown.width() - 1, shown.height() - 1) & 0xffffff, 0x336699u);
  }
}

}  // namespace
}  // namespace lumivor::gui
