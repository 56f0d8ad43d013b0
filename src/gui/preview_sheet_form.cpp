#include "gui/preview_sheet_form.h"

#include <algorithm>
#include <filesystem>

#include <QGuiApplication>
#include <QLabel>
#include <QPixmap>
#include <QScreen>
#include <QScrollArea>
#include <QVBoxLayout>

#include "app/photos/picture_file.h"
#include "gui/previewer_form.h"

namespace lumivor::gui {

TfrmPreviewSheet::TfrmPreviewSheet(QWidget* owner) : QWidget(owner, Qt::Window) {
  setObjectName(QStringLiteral("frmPreviewSheet"));
  sbxSheet = new QScrollArea(this);
  sbxSheet->setObjectName(QStringLiteral("sbxSheet"));
  sbxSheet->setAlignment(Qt::AlignCenter);
  imgSheet = new QLabel;
  imgSheet->setObjectName(QStringLiteral("imgSheet"));
  sbxSheet->setWidget(imgSheet);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(sbxSheet);
}

bool TfrmPreviewSheet::ShowSheet(const std::string& file, std::string& errorText) {
  // Read by the program's own reader, so that whatever the run can write the window can show.
  Bitmap sheet;
  if (!ReadPictureFile(file, sheet, errorText)) return false;
  const QPixmap picture = QPixmap::fromImage(ImageOfBitmap(sheet));
  imgSheet->setPixmap(picture);
  imgSheet->resize(picture.size());
  setWindowTitle(QStringLiteral("Preview Sheet - ") +
                 QString::fromStdString(std::filesystem::path(file).filename().string()));

  // The whole sheet when the screen has room for it, else as much as fits with scroll bars.
  QSize wanted = picture.size() + QSize(2 * sbxSheet->frameWidth(), 2 * sbxSheet->frameWidth());
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    wanted = wanted.boundedTo(screen->availableGeometry().size() * 9 / 10);
  }
  resize(wanted);
  show();
  raise();
  activateWindow();
  return true;
}

}  // namespace lumivor::gui
