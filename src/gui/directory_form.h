// The output folder chooser: a tree of the file system rooted at "/", opened at the home folder.
// Ok is offered only for a folder the user can write into, and a folder on an optical disc is
// refused with a message while the chooser stays open.
#pragma once

#include <functional>
#include <string>

#include <QDialog>

#include "app/common/window_services.h"

class QFileSystemModel;
class QLabel;
class QPushButton;
class QTreeView;

namespace lumivor::gui {

// True when the folder lies on an iso9660 or udf file system (what a CD-ROM drive holds).
bool LiesOnOpticalDisc(const std::string& folder);
// True for an existing folder this process may create files in.
bool IsWritableFolder(const std::string& folder);

class TfmDirectory : public QDialog {
 public:
  TfmDirectory(QWidget* parent, MessageBoxes& messages);

  // Selects the folder in the tree (opening its parents) and updates Ok.
  void SelectFolder(const std::string& folder);
  // The folder selected in the tree; empty when nothing is.
  std::string SelectedFolder() const;

  void FormShow();
  void stview_selectdirClick();
  void btnOkClick();
  void btnCancelClick();

  // The chosen folder once the chooser has closed with Ok; empty after Cancel or a refusal.
  std::string ChosenPath;
  // The file-system check behind the refusal; tests put a stand-in here.
  std::function<bool(const std::string&)> IsOnOpticalDisc = LiesOnOpticalDisc;

  QLabel* lblPrompt;
  QTreeView* stview_selectdir;
  QPushButton* btnOk;
  QPushButton* btnCancel;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  MessageBoxes& messages_;
  QFileSystemModel* model_;
};

}  // namespace lumivor::gui
