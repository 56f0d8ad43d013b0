// The encoding preview as a Qt window: on top of the others, a tool window, its client area the
// size of the first picture (scaled down where the screen beside the main window has less room,
// see PlacePreview), moved by dragging any point of it. Closing it ends only the preview.
#pragma once

#include <QImage>
#include <QPoint>
#include <QPointer>
#include <QWidget>

#include "media/components/previewer.h"

namespace lumivor::gui {

// A picture of any depth the raster library holds, as a Qt image in top-down order.
QImage ImageOfBitmap(const Bitmap& picture);

class QtPreviewerForm : public QWidget, public TPreviewerForm {
 public:
  // beside: the window the preview must leave clear (the main window with the run's buttons);
  // may be null.
  explicit QtPreviewerForm(QWidget* beside = nullptr);

  void ShowWithClientSize(int width, int height) override;
  void SetCaption(const std::string& caption) override;
  void DrawPicture(const Bitmap& picture) override;

  const QImage& Picture() const { return picture_; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  QPointer<QWidget> beside_;
  QImage picture_;
  bool dragging_ = false;
  QPoint dragOffset_;
};

// What the encoder's PreviewFormFactory takes: a new Qt preview window each time, placed beside
// the given window.
PreviewerFormFactory QtPreviewerFormFactory(QWidget* beside = nullptr);

}  // namespace lumivor::gui
