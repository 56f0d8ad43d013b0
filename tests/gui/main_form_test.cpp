#include "gui/main_form.h"

#include <filesystem>
#include <fstream>
#include <sstream>

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
#include <QSpinBox>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>
#include <gtest/gtest.h>

#include "gui/audio_list.h"
#include "gui/directory_form.h"
#include "gui/side_picture.h"
#include "gui/up_down.h"
#include "window_fixture.h"

namespace lumivor::gui {
namespace {

using MainFormTest = WindowTest;

std::string FileText(const std::string& path) {
  std::ostringstream text;
  text << std::ifstream(path).rdbuf();
  return text.str();
}

TEST_F(MainFormTest, FirstRunShowsEveryControlWithItsNameCaptionAndState) {
  auto shown = ShowWindow();
  TfrmMain& window = *shown;

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
                           "chkAutoRotate", "spnMotionStrength", "chkPictures", "ProgressBar1", "lblStatus", "mmoLog", "mmMain", "img1", "pgc"}) {
    EXPECT_NE(window.findChild<QObject*>(QString::fromLatin1(name)), nullptr) << name;
  }

  EXPECT_EQ(window.lvFiles->headerItem()->text(0), QStringLiteral("Audio Files"));
  EXPECT_EQ(window.lvFiles->headerItem()->text(1), QStringLiteral("Duration"));
  EXPECT_EQ(window.lvFiles->columnWidth(0), 350);
  EXPECT_GE(window.lvFiles->columnWidth(1), 80);
  EXPECT_GE(window.lvFiles->columnWidth(1), window.lvFiles->fontMetrics().horizontalAdvance("00:00:00.000"));
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
  window.ShowLog1->trigger();
  window.mmoLog->close();  // its own close button
  EXPECT_FALSE(window.ShowLog1->isChecked());

  // The settings page as a first run leaves it, and the file that run writes.
  struct ChoiceCase {
    const char* Name;
    int Count;
    int Index;
    const char* Text;
  };
  const ChoiceCase choices[] = {
      // The H.264 format and four sizes up to 3840x2160 are appended to the first two lists.
      {"cmbFormat", 7, 0, "mp4"},           {"cmbQuality", 11, 0, "0 (Highest Quality)"},
      {"cmbVideoSize", 19, 0, "128x96"},    {"cmbFramerate", 3, 0, "30:1"},
      {"cmbSampleRate", 5, 0, "as source"}, {"cmbBitRate", 9, -1, ""},
  };
  for (const ChoiceCase& c : choices) {
    SCOPED_TRACE(c.Name);
    const auto* box = window.findChild<QComboBox*>(QString::fromLatin1(c.Name));
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->count(), c.Count);
    EXPECT_EQ(box->currentIndex(), c.Index);
    EXPECT_EQ(box->currentText().toStdString(), c.Text);
  }
  EXPECT_EQ(window.edtPictureDelay->text(), QStringLiteral("5"));
  EXPECT_EQ(window.edtTransitionDelay->text(), QStringLiteral("2"));
  EXPECT_TRUE(window.chkRandomEffect->isChecked());
  EXPECT_EQ(window.edtDir->text().toStdString(), Home() + "/lumivor");
  EXPECT_EQ(window.windowTitle().toStdString(),
            GlobalObject().ProductName() + " Free Ver" + GlobalObject().VersionText());
  const std::string stored = FileText(SettingsFile());
  EXPECT_NE(stored.find("OutPutDir=" + Home() + "/lumivor"), std::string::npos) << stored;
  EXPECT_NE(stored.find("firstrun=0"), std::string::npos) << stored;
  Dismiss(window);
}

TEST_F(MainFormTest, ClosingAsksAndClosesOnlyOnYes) {
  auto shown = ShowWindow();
  TfrmMain& window = *shown;

  messages.Reply = MessageResult::No;
  EXPECT_FALSE(window.close());
  EXPECT_TRUE(window.isVisible());
  ASSERT_EQ(messages.Shown.size(), 1u);
  EXPECT_EQ(messages.Shown[0].Text, "Do you really want to exit?");
  EXPECT_EQ(messages.Shown[0].Caption, "Warning");
  EXPECT_EQ(messages.Shown[0].Icon, MessageIcon::Question);
  EXPECT_EQ(messages.Shown[0].Buttons, MessageButtons::YesNo);

  // Exit keeps the delays as the boxes show them, then asks the same way.
  window.edtPictureDelay->setText(QStringLiteral("7"));
  window.edtTransitionDelay->setText(QStringLiteral("3"));
  messages.Reply = MessageResult::Yes;
  QTest::mouseClick(window.btnExit, Qt::LeftButton);
  EXPECT_EQ(messages.Shown.size(), 2u);
  EXPECT_FALSE(window.isVisible());
  EXPECT_EQ(window.Settings().ReadString("PhotoDelay", ""), "7");
  EXPECT_EQ(window.Settings().ReadString("EffectDelay", ""), "3");
}

TEST_F(MainFormTest, AddPhotosAppendsTheChosenFilesAndClearEmptiesTheList) {
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
  EXPECT_EQ(filters[0], "Picture Files|*.BMP;*.JPEG;*.JPG;*.PNG;*.WEBP;*.HEIC;*.HEIF");
  EXPECT_TRUE(window.btnOpen->isEnabled());

  QTest::mouseClick(window.btnClearPhotos, Qt::LeftButton);
  EXPECT_TRUE(window.Photos().empty());
}

TEST_F(MainFormTest, TheUsersChoicesAreStoredAtOnceAndRestoredNextTime) {
  {
    auto shown = ShowWindow();
    TfrmMain& window = *shown;
    SettingsStore& store = window.Settings();

    // What the program selects is not the user's choice and is not stored.
    window.cmbQuality->setCurrentIndex(3);
    EXPECT_EQ(store.ReadInteger("qualityindex", -5), -5);

    window.cmbQuality->setCurrentIndex(6);
    emit window.cmbQuality->activated(6);
    window.cmbFormat->setCurrentIndex(5);
    emit window.cmbFormat->activated(5);
    window.cmbFramerate->setCurrentIndex(2);
    emit window.cmbFramerate->activated(2);
    EXPECT_EQ(store.ReadInteger("qualityindex", -5), 6);
    EXPECT_EQ(store.ReadInteger("format", -5), 5);
    EXPECT_EQ(store.ReadString("framerate", ""), "15:1");

    // A frame size typed by hand is stored as no entry plus its text.
    window.cmbVideoSize->lineEdit()->clear();
    QTest::keyClicks(window.cmbVideoSize->lineEdit(), "300x200");
    EXPECT_EQ(store.ReadInteger("videosizeindex", -5), -1);
    EXPECT_EQ(store.ReadString("videosize", ""), "300x200");

    QTest::mouseClick(window.rdoMono, Qt::LeftButton);
    EXPECT_FALSE(store.ReadBool("stereo", true));
    EXPECT_TRUE(store.ReadBool("mono", false));

    QTest::mouseClick(window.UpDownPhoto->Up, Qt::LeftButton);
    QTest::mouseClick(window.UpDownEffect->Down, Qt::LeftButton);
    EXPECT_EQ(store.ReadString("PhotoDelay", ""), "6");
    EXPECT_EQ(store.ReadString("EffectDelay", ""), "1");

    EXPECT_TRUE(window.chkAutoRotate->isChecked()) << "photos are turned upright by default";
    QTest::mouseClick(window.chkAutoRotate, Qt::LeftButton);
    EXPECT_FALSE(store.ReadBool("AutoRotate", true));
    Dismiss(window);
  }
  auto shown = ShowWindow();
  TfrmMain& window = *shown;
  EXPECT_EQ(window.cmbQuality->currentText(), QStringLiteral("6 (Recommend)"));
  EXPECT_EQ(window.cmbFormat->currentText(), QStringLiteral("mkv"));
  EXPECT_EQ(window.cmbFramerate->currentText(), QStringLiteral("15:1"));
  EXPECT_EQ(window.cmbVideoSize->currentText(), QString());
  EXPECT_TRUE(window.rdoMono->isChecked());
  EXPECT_FALSE(window.rdoStereo->isChecked());
  EXPECT_EQ(window.edtPictureDelay->text(), QStringLiteral("6"));
  EXPECT_EQ(window.edtTransitionDelay->text(), QStringLiteral("1"));
  EXPECT_FALSE(window.chkAutoRotate->isChecked());
  // The run takes the box's state; with no photos it only asks for some.
  window.Dialogs().Answer = [](const std::string&) { return std::vector<std::string>{}; };
  QTest::mouseClick(window.btnStart, Qt::LeftButton);
  EXPECT_FALSE(window.RunLogic().RunOptions.AutoRotate);

  // Default puts back the format's choices and stores them; the delays only show theirs.
  QTest::mouseClick(window.btnDefault, Qt::LeftButton);
  EXPECT_EQ(window.cmbVideoSize->currentText(), QStringLiteral("320x240"));
  EXPECT_EQ(window.cmbFramerate->currentText(), QStringLiteral("30:1"));
  EXPECT_TRUE(window.rdoStereo->isChecked());
  EXPECT_EQ(window.edtPictureDelay->text(), QStringLiteral("8"));
  EXPECT_EQ(window.Settings().ReadInteger("videosizeindex", -5), 6);
  EXPECT_TRUE(window.Settings().ReadBool("stereo", false));
  EXPECT_EQ(window.Settings().ReadString("PhotoDelay", ""), "6");
  Dismiss(window);
}

TEST_F(MainFormTest, ScreenModeAndMotionAreStoredAndRestored) {
  {
    auto shown = ShowWindow();
    TfrmMain& window = *shown;
    EXPECT_EQ(window.cmbScreenMode->currentText(), QStringLiteral("fit"));
    EXPECT_EQ(window.cmbMotion->currentText(), QStringLiteral("none"));
    window.cmbScreenMode->setCurrentIndex(2);
    emit window.cmbScreenMode->activated(2);
    window.cmbMotion->setCurrentIndex(1);
    emit window.cmbMotion->activated(1);
    EXPECT_EQ(window.Settings().ReadString("ScreenMode", ""), "blur");
    EXPECT_EQ(window.Settings().ReadString("Motion", ""), "zoom");
    // A text from elsewhere that the program does not know shows the first entry next time.
    window.Settings().WriteString("Motion", "wobble");
    Dismiss(window);
  }
  auto shown = ShowWindow();
  TfrmMain& window = *shown;
  EXPECT_EQ(window.cmbScreenMode->currentText(), QStringLiteral("blur"));
  EXPECT_EQ(window.cmbMotion->currentText(), QStringLiteral("none"));
  Dismiss(window);
}

TEST_F(MainFormTest, MotionStrengthIsRestoredWithinItsRangeAndOfferedOnlyWhilePhotosMove) {
  struct Case {
    const char* Motion;    // nullptr: not stored
    const char* Strength;  // nullptr: not stored
    int Shown;
    bool Enabled;
  };
  const Case cases[] = {
      {nullptr, nullptr, 10, false}, {"pan", "25", 25, true},   {"none", "25", 25, false},
      {"zoom", "250", 100, true},    {"random", "-5", 0, true}, {"zoom", "lots", 10, true},
      {"wobble", "40", 40, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.Motion ? c.Motion : "-") + " " + (c.Strength ? c.Strength : "-"));
    std::filesystem::remove(SettingsFile());
    {
      IniSettingsStore store(SettingsFile());
      if (c.Motion) store.WriteString("Motion", c.Motion);
      if (c.Strength) store.WriteString("MotionStrength", c.Strength);
    }
    auto shown = ShowWindow();
    TfrmMain& window = *shown;
    EXPECT_EQ(window.spnMotionStrength->value(), c.Shown);
    EXPECT_EQ(window.spnMotionStrength->suffix(), QStringLiteral(" %"));
    EXPECT_EQ(window.spnMotionStrength->isEnabled(), c.Enabled);
    // Showing what was stored is no change of the user's.
    EXPECT_EQ(window.Settings().ReadString("MotionStrength", "missing"), c.Strength ? c.Strength : "missing");
    Dismiss(window);
  }
}

TEST_F(MainFormTest, MotionStrengthIsStoredAsTheUserChangesItAndFollowsTheMotion) {
  auto shown = ShowWindow();
  TfrmMain& window = *shown;
  SettingsStore& store = window.Settings();
  EXPECT_FALSE(window.spnMotionStrength->isEnabled()) << "still photos have no strength";

  window.cmbMotion->setCurrentIndex(2);
  emit window.cmbMotion->activated(2);
  ASSERT_TRUE(window.spnMotionStrength->isEnabled());
  QTest::keyClick(window.spnMotionStrength, Qt::Key_Up);
  EXPECT_EQ(store.ReadInteger("MotionStrength", -1), 11);
  window.spnMotionStrength->selectAll();
  QTest::keyClicks(window.spnMotionStrength, "35");
  EXPECT_EQ(store.ReadInteger("MotionStrength", -1), 35);

  // Default puts back the output's choices; how the photos move is not one of them.
  QTest::mouseClick(window.btnDefault, Qt::LeftButton);
  EXPECT_EQ(window.cmbMotion->currentText(), QStringLiteral("pan"));
  EXPECT_EQ(window.spnMotionStrength->value(), 35);
  EXPECT_EQ(store.ReadInteger("MotionStrength", -1), 35);

  window.cmbMotion->setCurrentIndex(0);
  emit window.cmbMotion->activated(0);
  EXPECT_FALSE(window.spnMotionStrength->isEnabled());
  // Turning the motion off keeps the strength for when it is turned on again.
  EXPECT_EQ(store.ReadInteger("MotionStrength", -1), 35);
  Dismiss(window);

  auto again = ShowWindow();
  EXPECT_EQ(again->spnMotionStrength->value(), 35);
  EXPECT_FALSE(again->spnMotionStrength->isEnabled());
  Dismiss(*again);
}

TEST_F(MainFormTest, MusicEndIsStoredAndRestored) {
  {
    auto shown = ShowWindow();
    TfrmMain& window = *shown;
    EXPECT_EQ(window.cmbMusicEnd->currentText(), QStringLiteral("cut"));
    window.cmbMusicEnd->setCurrentIndex(2);
    emit window.cmbMusicEnd->activated(2);
    EXPECT_EQ(window.Settings().ReadString("MusicEnd", ""), "loop");
    Dismiss(window);
  }
  {
    auto shown = ShowWindow();
    TfrmMain& window = *shown;
    EXPECT_EQ(window.cmbMusicEnd->currentText(), QStringLiteral("loop"));
    window.Settings().WriteString("MusicEnd", "stretch");
    Dismiss(window);
  }
  // A text the program does not know shows "cut", which is also what a run uses.
  auto shown = ShowWindow();
  TfrmMain& window = *shown;
  EXPECT_EQ(window.cmbMusicEnd->currentText(), QStringLiteral("cut"));
  Dismiss(window);
}

TEST_F(MainFormTest, SidePictureAndMenuOpenTheirPages) {
  auto shown = ShowWindow();
  TfrmMain& window = *shown;
  std::vector<std::string> opened;
  window.OpenUrl = [&](const std::string& url) { opened.push_back(url); };
  QTest::mouseClick(window.img1, Qt::LeftButton);
  window.WebSite1->trigger();
  window.Help1->trigger();
  const std::vector<std::string> expected = {GlobalObject().ProductPageURL(), GlobalObject().ProductPageURL(),
                                             GlobalObject().HelpPageURL()};
  EXPECT_EQ(opened, expected);
  Dismiss(window);
}

TEST_F(MainFormTest, BrowsStoresAndShowsTheChosenFolder) {
  auto shown = ShowWindow();
  TfrmMain& window = *shown;
  const std::string chosen = Scratch() / "videos";
  std::filesystem::create_directories(chosen);
  QTimer::singleShot(0, &window, [&] {
    TfmDirectory* chooser = window.fmDirectory();
    ASSERT_NE(chooser, nullptr);
    chooser->IsOnOpticalDisc = [](const std::string&) { return false; };
    chooser->SelectFolder(chosen);
    chooser->btnOk->click();
  });
  window.btnBrowsClick();
  EXPECT_EQ(window.edtDir->text().toStdString(), chosen);
  EXPECT_EQ(window.Settings().ReadString("OutPutDir", ""), chosen);
  Dismiss(window);
}

}  // namespace
}  // namespace lumivor::gui
