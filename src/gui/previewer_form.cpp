#include "gui/previewer_form.h"

#include <cstdint>
#include <cstring>

#include <QCloseEvent>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QWindow>

#include "gui/preview_placement.h"

namespace lumivor::gui {

QImage ImageOfBitmap(const Bitmap& picture) {
  if (picture.IsEmpty()) return {};
  QImage::Format format = QImage::Format_RGB32;  // bytes blue, green, red, unused
  switch (picture.BitsPerPixel()) {
    case 8: format = QImage::Format_Indexed8; break;
    case 16: format = QImage::Format_RGB555; break;
    case 24: format = QImage::Format_BGR888; break;
    default: break;
  }
  QImage image(picture.Width(), picture.Height(), format);
  if (image.isNull()) return {};
  const std::size_t rowBytes = static_cast<std::size_t>(picture.Width()) * picture.BytesPerPixel();
  for (int y = 0; y < picture.Height(); ++y) std::memcpy(image.scanLine(y), picture.ScanLine(y), rowBytes);
  if (format == QImage::Format_Indexed8) {
    QList<QRgb> colours;
    for (const PaletteEntry& entry : picture.Palette()) colours << qRgb(entry.Red, entry.Green, entry.Blue);
    // Indices past a short palette must still name a colour.
    while (colours.size() < 256) colours << qRgb(0, 0, 0);
    image.setColorTable(colours);
  }
  return image;
}

QtPreviewerForm::QtPreviewerForm(QWidget* beside) : beside_(beside) {
  setWindowFlags(Qt::Tool | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowCloseButtonHint);
  setObjectName(QStringLiteral("PreviewForm"));
  // The picture covers every pixel; nothing needs clearing first.
  setAttribute(Qt::WA_OpaquePaintEvent);
}

void QtPreviewerForm::ShowWithClientSize(int width, int height) {
  // The screen the main window is on; the preview belongs beside it.
  const QWidget* beside = beside_ != nullptr && beside_->isVisible() ? beside_.data() : nullptr;
  const QScreen* screen = beside != nullptr ? beside->screen() : QGuiApplication::primaryScreen();
  if (screen == nullptr) {
    setFixedSize(width, height);
    show();
    return;
  }
  // This window's decoration is not known before it is shown; the main window's is the best
  // guess the window manager gives (a tool window's is the same or slimmer).
  QMargins margins;
  QRect mainFrame;
  if (beside != nullptr) {
    mainFrame = beside->frameGeometry();
    const QRect client = beside->geometry();
    margins = QMargins(client.left() - mainFrame.left(), client.top() - mainFrame.top(),
                       mainFrame.right() - client.right(), mainFrame.bottom() - client.bottom());
  }
  const PreviewPlacement place = PlacePreview(screen->availableGeometry(), mainFrame, QSize(width, height), margins);
  setFixedSize(place.Client);
  // A top-level window's position is its frame's.
  move(place.Frame.topLeft());
  show();
}

void QtPreviewerForm::SetCaption(const std::string& caption) { setWindowTitle(QString::fromStdString(caption)); }

void QtPreviewerForm::DrawPicture(const Bitmap& picture) {
  // Every frame of a run comes here while the encoder waits for it. The 24-bit frames go into one
  // image kept from frame to frame, in the 32-bit layout the window's surface has, so that a frame
  // costs neither an allocation nor a conversion when it is painted.
  if (picture.BitsPerPixel() != 24 || picture.IsEmpty()) {
    picture_ = ImageOfBitmap(picture);
    update();
    return;
  }
  const int width = picture.Width();
  if (picture_.width() != width || picture_.height() != picture.Height() ||
      picture_.format() != QImage::Format_RGB32) {
    picture_ = QImage(width, picture.Height(), QImage::Format_RGB32);
    if (picture_.isNull()) return;
  }
  for (int y = 0; y < picture.Height(); ++y) {
    const std::uint8_t* source = picture.ScanLine(y);
    auto* row = reinterpret_cast<QRgb*>(picture_.scanLine(y));
    for (int x = 0; x < width; ++x, source += 3) row[x] = qRgb(source[2], source[1], source[0]);
  }
  update();
}

void QtPreviewerForm::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), Qt::black);
  if (picture_.isNull()) return;
  if (picture_.size() == size()) {
    painter.drawImage(0, 0, picture_);
  } else {
    // Scaled down to the window placed for the screen. Without smoothing: the encoder waits for
    // every frame's paint, and a preview needs no finer picture.
    painter.drawImage(rect(), picture_);
  }
}

void QtPreviewerForm::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  // The window manager moves the window as if its caption had been grabbed; where it cannot
  // (no window manager, offscreen), the window follows the mouse itself.
  if (windowHandle() != nullptr && windowHandle()->startSystemMove()) return;
  dragging_ = true;
  dragOffset_ = event->globalPosition().toPoint() - frameGeometry().topLeft();
}

void QtPreviewerForm::mouseMoveEvent(QMouseEvent* event) {
  if (dragging_) move(event->globalPosition().toPoint() - dragOffset_);
}

void QtPreviewerForm::mouseReleaseEvent(QMouseEvent*) { dragging_ = false; }

void QtPreviewerForm::closeEvent(QCloseEvent* event) {
  if (OnCloseQuery) OnCloseQuery();
  event->accept();
}

PreviewerFormFactory QtPreviewerFormFactory(QWidget* beside) {
  QPointer<QWidget> guarded(beside);
  return [guarded] { return std::unique_ptr<TPreviewerForm>(std::make_unique<QtPreviewerForm>(guarded.data())); };
}

}  // namespace lumivor::gui
