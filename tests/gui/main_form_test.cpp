#include "gui/main_form.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTest>
#include <QTreeWidget>
#include <gtest/gtest.h>

#include "gui/side_picture.h"
#include "gui/up_down.h"

namespace lumivor::gui {
namespace {

// Whatever the window asks is recorded and answered with a fixed reply.
struct MessageRecorder {
  std::vector<ShownMessage> Shown;
  MessageResult Reply = MessageResult::Yes;
  void AnswerFor(TfrmMain& window) {
    window.Messages().Answer = [this](const ShownMessage& message) {
      Shown.push_back(message);
      return Reply;
    };
  }
};

TEST(MainFormTest, ControlsStartWithTheirNamesCaptionsAndStates) {
  TfrmMain window;
  MessageRecorder messages;
  messages.AnswerFor(window);
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));

  EXPECT_EQ(window.centralWidget()->size(), QSize(596, 397));
  EXPECT_EQ(window.img1->size(), QSize(100, 400));
  EXPECT_EQ(window.img1->cursor().shape(), Qt::PointingHandCursor);
  EXPECT_EQ(window.pgc->currentWidget(), window.tsSettings);

  struct ButtonCase {
    const char* Name;
    const char* Caption;
    bool Enabled;
  };
  const ButtonCase buttons[] = {
      {"btnStart", "&Start", true},       {"btnPause", "&Pause", false},    {"btnStop", "S&top", false},
      {"btnExit", "&Exit", true},         {"btnVideo", "Add Photos", true}, {"btnClearPhotos", "Clear", true},
      {"btnAddAudio", "Add Audio", true}, {"btnUp", "Up", false},           {"btnDown", "Down", false},
      {"btnClear", "Clear", false},       {"btnPlay", "Play", false},       {"btnPlayStop", "Stop", false},
      {"btnPlayPause", "Pause", false},   {"btnBrows", "Brows", true},      {"btnOpen", "Open", true},
      {"btnDefault", "Default", true},
  };
  for (const ButtonCase& c : buttons) {
    SCOPED_TRACE(c.Name);
    const auto* button = window.findChild<QPushButton*>(QString::fromLatin1(c.Name));
    ASSERT_NE(button, nullptr);
    EXPECT_EQ(button->text().toStdString(), c.Caption);
    EXPECT_EQ(button->isEnabled(), c.Enabled);
  }

  const QStringList tabs = {QStringLiteral("Add Photos"), QStringLiteral("Add Audios"), QStringLiteral("Settings")};
  const char* const pages[] = {"tsPhoto", "tsAudio", "tsSettings"};
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(window.pgc->tabText(i), tabs[i]);
    EXPECT_EQ(window.pgc->widget(i)->objectName().toStdString(), pages[i]);
  }

  for (const char* name : {"lstPictures", "lvFiles", "Panel1", "cmbFormat", "cmbVideoSize", "cmbQuality",
                           "cmbFramerate", "cmbSampleRate", "cmbBitRate", "rdoStereo", "rdoMono", "edtPictureDelay",
                           "UpDownPhoto", "edtTransitionDelay", "UpDownEffect", "edtDir", "chkRandomEffect",
                           "chkPictures", "ProgressBar1", "lblStatus", "mmoLog", "mmMain", "img1", "pgc"}) {
    EXPECT_NE(window.findChild<QObject*>(QString::fromLatin1(name)), nullptr) << name;
  }

  EXPECT_EQ(window.lvFiles->headerItem()->text(0), QStringLiteral("Audio Files"));
  EXPECT_EQ(window.lvFiles->headerItem()->text(1), QStringLiteral("Duration"));
  EXPECT_EQ(window.lvFiles->columnWidth(0), 350);
  EXPECT_EQ(window.lvFiles->columnWidth(1), 80);
  EXPECT_EQ(window.chkPictures->text(), QStringLiteral("Break when no pictures"));
  EXPECT_TRUE(window.chkPictures->isChecked());
  EXPECT_EQ(window.chkRandomEffect->text(), QStringLiteral("Random effects"));
  EXPECT_TRUE(window.cmbVideoSize->isEditable());
  EXPECT_FALSE(window.cmbFormat->isEditable());
  EXPECT_FALSE(window.cmbBitRate->isVisible());
  EXPECT_TRUE(window.rdoStereo->isChecked());
  EXPECT_FALSE(window.rdoMono->isChecked());
  EXPECT_FALSE(window.edtDir->isEnabled());
  EXPECT_TRUE(window.edtPictureDelay->isReadOnly());
  EXPECT_TRUE(window.edtTransitionDelay->isReadOnly());
  EXPECT_EQ(window.UpDownPhoto->Maximum(), 3000);
  EXPECT_EQ(window.UpDownEffect->Maximum(), 100);
  EXPECT_EQ(window.ProgressBar1->minimum(), 0);
  EXPECT_EQ(window.ProgressBar1->maximum(), 100);
  EXPECT_EQ(window.lblStatus->text(), QStringLiteral("Status"));

  QStringList menu;
  for (const QAction* action : window.mmMain->actions()) menu << action->text();
  for (const char* item : {"Related software", "Web Site", "Help"}) {
    EXPECT_TRUE(menu.contains(QString::fromLatin1(item))) << item;
  }
  EXPECT_FALSE(window.mmoLog->isVisible());
  window.ShowLog1->trigger();
  EXPECT_TRUE(window.mmoLog->isVisible());
  window.ShowLog1->trigger();
  EXPECT_FALSE(window.mmoLog->isVisible());
}

TEST(MainFormTest, ClosingAsksAndClosesOnlyOnYes) {
  TfrmMain window;
  MessageRecorder messages;
  messages.AnswerFor(window);
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));

  messages.Reply = MessageResult::No;
  EXPECT_FALSE(window.close());
  EXPECT_TRUE(window.isVisible());
  ASSERT_EQ(messages.Shown.size(), 1u);
  EXPECT_EQ(messages.Shown[0].Text, "Do you really want to exit?");
  EXPECT_EQ(messages.Shown[0].Caption, "Warning");
  EXPECT_EQ(messages.Shown[0].Icon, MessageIcon::Question);
  EXPECT_EQ(messages.Shown[0].Buttons, MessageButtons::YesNo);

  // Exit goes the same way.
  messages.Reply = MessageResult::Yes;
  QTest::mouseClick(window.btnExit, Qt::LeftButton);
  EXPECT_EQ(messages.Shown.size(), 2u);
  EXPECT_FALSE(window.isVisible());
}

TEST(MainFormTest, AddPhotosAppendsTheChosenFilesAndClearEmptiesTheList) {
  TfrmMain window;
  std::vector<std::string> filters;
  std::vector<std::vector<std::string>> answers = {{"/photos/a.jpg", "/photos/B.BMP"}, {}, {"/photos/c.JPEG"}};
  window.Dialogs().Answer = [&](const std::string& filter) {
    filters.push_back(filter);
    auto answer = answers.front();
    answers.erase(answers.begin());
    return answer;
  };

  window.btnVideoClick();
  window.btnVideoClick();  // cancelled: nothing changes
  QTest::mouseClick(window.btnVideo, Qt::LeftButton);
  EXPECT_EQ(window.Photos(), (std::vector<std::string>{"/photos/a.jpg", "/photos/B.BMP", "/photos/c.JPEG"}));
  ASSERT_EQ(filters.size(), 3u);
  EXPECT_EQ(filters[0], "Picture Files|*.BMP;*.JPEG;*.JPG");
  EXPECT_TRUE(window.btnOpen->isEnabled());

  QTest::mouseClick(window.btnClearPhotos, Qt::LeftButton);
  EXPECT_TRUE(window.Photos().empty());
}

}  // namespace
}  // namespace lumivor::gui
