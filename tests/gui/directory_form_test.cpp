#include "gui/directory_form.h"

#include <fstream>

#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

#include "gui/message_boxes.h"
#include "support/scratch_folder.h"

namespace lumivor::gui {
namespace {

class RecordingMessages : public MessageBoxes {
 public:
  MessageResult ShowMessage(const std::string& text, const std::string& caption, MessageIcon icon,
                            MessageButtons buttons) override {
    Shown.push_back({text, caption, icon, buttons});
    return MessageResult::Ok;
  }
  std::vector<ShownMessage> Shown;
};

TEST(DirectoryFormTest, OpensAtHomeWithItsCaptionsAndSize) {
  RecordingMessages messages;
  TfmDirectory chooser(nullptr, messages);
  chooser.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&chooser));
  EXPECT_EQ(chooser.windowTitle(), QStringLiteral("Brows"));
  EXPECT_EQ(chooser.btnOk->text(), QStringLiteral("Ok"));
  EXPECT_EQ(chooser.btnCancel->text(), QStringLiteral("Cancel"));
  EXPECT_EQ(chooser.size(), QSize(322, 351));
  EXPECT_EQ(chooser.SelectedFolder(), QDir::homePath().toStdString());
}

TEST(DirectoryFormTest, OkOnlyForWritableFolders) {
  testing::ScratchFolder scratch;
  std::ofstream(scratch / "file.txt") << "x";
  EXPECT_TRUE(IsWritableFolder(scratch.Path()));
  EXPECT_FALSE(IsWritableFolder(scratch / "file.txt"));
  EXPECT_FALSE(IsWritableFolder(scratch / "missing"));
  EXPECT_FALSE(IsWritableFolder(""));
  // Ordinary folders are not optical discs.
  EXPECT_FALSE(LiesOnOpticalDisc(scratch.Path()));

  RecordingMessages messages;
  TfmDirectory chooser(nullptr, messages);
  chooser.show();
  chooser.SelectFolder(scratch.Path());
  EXPECT_EQ(chooser.SelectedFolder(), scratch.Path());
  EXPECT_TRUE(chooser.btnOk->isEnabled());
}

TEST(DirectoryFormTest, RefusesAFolderOnAnOpticalDiscAndStaysOpen) {
  testing::ScratchFolder scratch;
  RecordingMessages messages;
  TfmDirectory chooser(nullptr, messages);
  std::vector<std::string> asked;
  chooser.IsOnOpticalDisc = [&](const std::string& folder) {
    asked.push_back(folder);
    return true;
  };
  chooser.show();
  chooser.SelectFolder(scratch.Path());
  QTest::mouseClick(chooser.btnOk, Qt::LeftButton);

  EXPECT_EQ(asked, std::vector<std::string>{scratch.Path()});
  ASSERT_EQ(messages.Shown.size(), 1u);
  EXPECT_EQ(messages.Shown[0].Text, "Output folder cannot be located in CD-ROM.Please select another folder.");
  EXPECT_EQ(messages.Shown[0].Icon, MessageIcon::Information);
  EXPECT_EQ(messages.Shown[0].Buttons, MessageButtons::Ok);
  EXPECT_TRUE(chooser.ChosenPath.empty());
  EXPECT_TRUE(chooser.isVisible());

  // The same folder on an ordinary disc is taken.
  chooser.IsOnOpticalDisc = [](const std::string&) { return false; };
  QTest::mouseClick(chooser.btnOk, Qt::LeftButton);
  EXPECT_EQ(chooser.ChosenPath, scratch.Path());
  EXPECT_FALSE(chooser.isVisible());
  EXPECT_EQ(chooser.result(), QDialog::Accepted);
}

TEST(DirectoryFormTest, CancelAndEscapeLeaveNoChoice) {
  testing::ScratchFolder scratch;
  RecordingMessages messages;
  TfmDirectory chooser(nullptr, messages);
  chooser.IsOnOpticalDisc = [](const std::string&) { return false; };
  chooser.show();
  chooser.SelectFolder(scratch.Path());
  QTest::mouseClick(chooser.btnOk, Qt::LeftButton);
  ASSERT_EQ(chooser.ChosenPath, scratch.Path());

  chooser.show();
  QTest::mouseClick(chooser.btnCancel, Qt::LeftButton);
  EXPECT_TRUE(chooser.ChosenPath.empty());

  chooser.show();
  chooser.SelectFolder(scratch.Path());
  QTest::keyClick(&chooser, Qt::Key_Escape);
  EXPECT_FALSE(chooser.isVisible());
  EXPECT_TRUE(chooser.ChosenPath.empty());
}

}  // namespace
}  // namespace lumivor::gui
