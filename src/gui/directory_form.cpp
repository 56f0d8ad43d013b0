#include "gui/directory_form.h"

#include <linux/magic.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <QDir>
#include <QFileSystemModel>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeView>

namespace lumivor::gui {

bool LiesOnOpticalDisc(const std::string& folder) {
  struct statfs facts {};
  if (::statfs(folder.c_str(), &facts) != 0) return false;
  return facts.f_type == ISOFS_SUPER_MAGIC || facts.f_type == UDF_SUPER_MAGIC;
}

bool IsWritableFolder(const std::string& folder) {
  if (folder.empty() || !QFileInfo(QString::fromStdString(folder)).isDir()) return false;
  // Creating a file needs both the right to write the folder and to enter it.
  return ::access(folder.c_str(), W_OK | X_OK) == 0;
}

TfmDirectory::TfmDirectory(QWidget* parent, MessageBoxes& messages)
    : QDialog(parent), messages_(messages), model_(new QFileSystemModel(this)) {
  setObjectName(QStringLiteral("fmDirectory"));
  setWindowTitle(QStringLiteral("Brows"));
  setModal(true);
  setFixedSize(322, 351);

  lblPrompt = new QLabel(QStringLiteral("Please select an output directory:"), this);
  lblPrompt->setObjectName(QStringLiteral("lblPrompt"));
  lblPrompt->setGeometry(10, 8, 302, 18);

  model_->setFilter(QDir::AllDirs | QDir::NoDotAndDotDot | QDir::Drives);
  model_->setRootPath(QStringLiteral("/"));
  stview_selectdir = new QTreeView(this);
  stview_selectdir->setObjectName(QStringLiteral("stview_selectdir"));
  stview_selectdir->setModel(model_);
  for (int column = 1; column < model_->columnCount(); ++column) stview_selectdir->hideColumn(column);
  stview_selectdir->header()->hide();
  stview_selectdir->setSortingEnabled(true);
  stview_selectdir->sortByColumn(0, Qt::AscendingOrder);
  stview_selectdir->setGeometry(10, 30, 302, 270);
  connect(stview_selectdir->selectionModel(), &QItemSelectionModel::currentChanged, this,
          [this] { stview_selectdirClick(); });

  btnOk = new QPushButton(QStringLiteral("Ok"), this);
  btnOk->setObjectName(QStringLiteral("btnOk"));
  btnOk->setGeometry(146, 312, 80, 28);
  btnOk->setDefault(true);
  connect(btnOk, &QPushButton::clicked, this, [this] { btnOkClick(); });
  btnCancel = new QPushButton(QStringLiteral("Cancel"), this);
  btnCancel->setObjectName(QStringLiteral("btnCancel"));
  btnCancel->setGeometry(232, 312, 80, 28);
  connect(btnCancel, &QPushButton::clicked, this, [this] { btnCancelClick(); });

  stview_selectdirClick();
}

void TfmDirectory::SelectFolder(const std::string& folder) {
  const QModelIndex index = model_->index(QString::fromStdString(folder));
  if (index.isValid()) {
    stview_selectdir->setCurrentIndex(index);
    stview_selectdir->expand(index);
    stview_selectdir->scrollTo(index, QAbstractItemView::PositionAtCenter);
  }
  stview_selectdirClick();
}

std::string TfmDirectory::SelectedFolder() const {
  const QModelIndex index = stview_selectdir->currentIndex();
  return index.isValid() ? model_->filePath(index).toStdString() : std::string();
}

void TfmDirectory::FormShow() {
  // Escape and the close button end the chooser without Cancel's click: start with no choice.
  ChosenPath.clear();
  SelectFolder(QDir::homePath().toStdString());
}

void TfmDirectory::stview_selectdirClick() { btnOk->setEnabled(IsWritableFolder(SelectedFolder())); }

void TfmDirectory::btnOkClick() {
  ChosenPath = SelectedFolder();
  if (ChosenPath.empty()) return;
  if (IsOnOpticalDisc && IsOnOpticalDisc(ChosenPath)) {
    ChosenPath.clear();
    messages_.ShowMessage("Output folder cannot be located in CD-ROM.Please select another folder.",
                          QGuiApplication::applicationDisplayName().toStdString(), MessageIcon::Information,
                          MessageButtons::Ok);
    return;
  }
  accept();
}

void TfmDirectory::btnCancelClick() {
  ChosenPath.clear();
  reject();
}

void TfmDirectory::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  FormShow();
}

}  // namespace lumivor::gui
