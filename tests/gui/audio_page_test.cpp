#include <stdlib.h>

#include <string>

#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

#include "gui/audio_list.h"
#include "gui/player_surface.h"
#include "media/components/media_maker.h"
#include "window_fixture.h"

namespace lumivor::gui {
namespace {

class AudioPageTest : public WindowTest {
 protected:
  // Two tracks of two and one seconds, added through the Add Audio dialog.
  void AddTwoTracks(TfrmMain& window) {
    std::string error;
    testing::MediaSpec wav;
    wav.Format = "wav";
    wav.Seconds = 2.0;
    ASSERT_TRUE(testing::WriteMediaFile(first_, wav, error)) << error;
    wav.Seconds = 1.0;
    ASSERT_TRUE(testing::WriteMediaFile(second_, wav, error)) << error;
    window.Dialogs().Answer = [this](const std::string& filter) {
      filters.push_back(filter);
      return std::vector<std::string>{first_, second_};
    };
    window.pgc->setCurrentWidget(window.tsAudio);
    QTest::mouseClick(window.btnAddAudio, Qt::LeftButton);
  }

  std::string first_ = Scratch() / "first.wav";
  std::string second_ = Scratch() / "second.wav";
  std::vector<std::string> filters;
};

QColor ColourAt(QWidget& view, QPoint point) { return view.grab().toImage().pixelColor(point); }

TEST_F(AudioPageTest, AddedTracksAreListedWithTheirDurationsAndEnableThePage) {
  auto shown = ShowWindow();
  TfrmMain& window = *shown;
  AddTwoTracks(window);

  ASSERT_EQ(filters.size(), 1u);
  EXPECT_EQ(filters[0], AudioFileFilter);
  ASSERT_EQ(window.lvFiles->topLevelItemCount(), 2);
  EXPECT_EQ(window.lvFiles->topLevelItem(0)->text(0).toStdString(), first_);
  // The writer pads the last block, so only whole seconds are certain.
  EXPECT_EQ(window.lvFiles->topLevelItem(0)->text(1).left(9).toStdString(), "00:00:02.");
  EXPECT_EQ(window.lvFiles->topLevelItem(1)->text(1).left(9).toStdString(), "00:00:01.");
  for (QPushButton* button : {window.btnUp, window.btnDown, window.btnClear, window.btnPlay, window.btnPlayStop,
                              window.btnPlayPause, window.btnStart}) {
    EXPECT_TRUE(button->isEnabled()) << button->objectName().toStdString();
  }
  EXPECT_TRUE(window.windowTitle().contains(QStringLiteral("first.wav"))) << window.windowTitle().toStdString();
  EXPECT_TRUE(window.mmoLog->toPlainText().contains(QStringLiteral("File Duration: 00:00:02.")))
      << window.mmoLog->toPlainText().toStdString();

  // The user's click selects; Up moves the row and its selection.
  QTreeWidgetItem* second = window.lvFiles->topLevelItem(1);
  QTest::mouseClick(window.lvFiles->viewport(), Qt::LeftButton, {}, window.lvFiles->visualItemRect(second).center());
  EXPECT_EQ(window.AudioTracks().Selected(), 1);
  QTest::mouseClick(window.btnUp, Qt::LeftButton);
  EXPECT_EQ(window.lvFiles->topLevelItem(0)->text(0).toStdString(), second_);
  EXPECT_EQ(window.lvFiles->topLevelItem(1)->text(0).toStdString(), first_);
  EXPECT_TRUE(window.lvFiles->topLevelItem(0)->isSelected());
  EXPECT_EQ(window.AudioTracks().Selected(), 0);

  QTest::mouseClick(window.btnClear, Qt::LeftButton);
  EXPECT_EQ(window.lvFiles->topLevelItemCount(), 0);
  EXPECT_FALSE(window.btnPlay->isEnabled());
  EXPECT_FALSE(window.btnClear->isEnabled());
  EXPECT_TRUE(window.btnAddAudio->isEnabled());
  Dismiss(window);
}

TEST_F(AudioPageTest, RowsAreTintedInTurnAndTheSelectionIsFilled) {
  auto shown = ShowWindow();
  TfrmMain& window = *shown;
  AddTwoTracks(window);
  window.AudioTracks().Append({first_, "00:00:02.000"});
  window.AudioTracks().Select(2);
  window.btnStart->setFocus();  // the list has no focus: the softer selection colour
  QApplication::processEvents();

  QWidget& viewport = *window.lvFiles->viewport();
  // A point inside each row, past the texts.
  auto inRow = [&](int row) {
    const QRect bounds = window.lvFiles->visualItemRect(window.lvFiles->topLevelItem(row));
    return QPoint(bounds.left() + 330, bounds.center().y());
  };
  EXPECT_EQ(ColourAt(viewport, inRow(0)), QColor(255, 255, 255));
  EXPECT_EQ(ColourAt(viewport, inRow(1)), QColor(226, 230, 246));
  EXPECT_EQ(ColourAt(viewport, inRow(2)), QColor(229, 236, 248));
  const QRect selected = window.lvFiles->visualItemRect(window.lvFiles->topLevelItem(2));
  EXPECT_EQ(ColourAt(viewport, QPoint(selected.left() + 200, selected.top())), QColor(152, 181, 226));
  Dismiss(window);
}

TEST_F(AudioPageTest, PlayPauseAndStopDriveThePlayerAndTheButtons) {
  auto shown = ShowWindow();
  TfrmMain& window = *shown;
  AddTwoTracks(window);

  QTest::mouseClick(window.btnPlay, Qt::LeftButton);
  EXPECT_EQ(window.FFPlayer().FileName(), first_) << window.mmoLog->toPlainText().toStdString();
  EXPECT_EQ(window.FFPlayer().PlayerState(), psPlay);
  for (QPushButton* button : {window.btnAddAudio, window.btnStart, window.btnStop, window.btnPause, window.btnClear}) {
    EXPECT_FALSE(button->isEnabled()) << button->objectName().toStdString();
  }

  QTest::mouseClick(window.btnPlayPause, Qt::LeftButton);
  EXPECT_EQ(window.btnPlayPause->text(), QStringLiteral("Resume"));
  QTest::mouseClick(window.btnPlayPause, Qt::LeftButton);
  EXPECT_EQ(window.btnPlayPause->text(), QStringLiteral("Pause"));

  QTest::mouseClick(window.btnPlayStop, Qt::LeftButton);
  EXPECT_TRUE(QTest::qWaitFor([&] { return window.FFPlayer().PlayerState() == psStop; }, 10000));
  for (QPushButton* button : {window.btnAddAudio, window.btnStart, window.btnClear}) {
    EXPECT_TRUE(button->isEnabled()) << button->objectName().toStdString();
  }
  Dismiss(window);
}

// Without a sound device Play tells the user why, in SDL's words, and leaves the page usable.
TEST_F(AudioPageTest, PlayWithoutASoundDeviceSaysWhyAndKeepsThePage) {
  const char* driver = ::getenv("SDL_AUDIODRIVER");
  const std::string oldDriver = driver != nullptr ? driver : "";
  // The disk driver stands in for a machine without sound: its "device" is a file that cannot
  // be made.
  const std::string unwritable = Scratch() / "no-such-folder/heard.raw";
  ::setenv("SDL_AUDIODRIVER", "disk", 1);
  ::setenv("SDL_DISKAUDIOFILE", unwritable.c_str(), 1);
  {
    auto shown = ShowWindow();
    TfrmMain& window = *shown;
    AddTwoTracks(window);
    messages.Shown.clear();

    QTest::mouseClick(window.btnPlay, Qt::LeftButton);
    const std::string reason = first_ + ": cannot play the sound: Couldn't open " + unwritable;
    EXPECT_EQ(window.FFPlayer().LastErrorText, reason);
    ASSERT_EQ(messages.Shown.size(), 1u);
    EXPECT_EQ(messages.Shown[0].Text, "The audio track cannot be played.\n\n" + reason);
    EXPECT_EQ(messages.Shown[0].Icon, MessageIcon::Exclamation);
    EXPECT_EQ(messages.Shown[0].Buttons, MessageButtons::Ok);
    EXPECT_TRUE(window.mmoLog->toPlainText().contains(QString::fromStdString(reason)));
    EXPECT_EQ(window.FFPlayer().PlayerState(), psStop);
    for (QPushButton* button : {window.btnAddAudio, window.btnStart, window.btnClear, window.btnPlay}) {
      EXPECT_TRUE(button->isEnabled()) << button->objectName().toStdString() << " greyed out after a failed Play";
    }
    Dismiss(window);
  }
  ::unsetenv("SDL_DISKAUDIOFILE");
  if (oldDriver.empty()) {
    ::unsetenv("SDL_AUDIODRIVER");
  } else {
    ::setenv("SDL_AUDIODRIVER", oldDriver.c_str(), 1);
  }
}

}  // namespace
}  // namespace lumivor::gui
