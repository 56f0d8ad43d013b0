// The side picture at the window's left edge: drawn here once (a film strip of small photos on
// an evening sky) and stretched over the control. A click opens the product page.
#pragma once

#include <functional>

#include <QPixmap>
#include <QWidget>

namespace lumivor::gui {

// The picture at its design size, 100 x 400.
QPixmap DrawSidePicture();

class SidePicture : public QWidget {
 public:
  explicit SidePicture(QWidget* parent);

  std::function<void()> OnClick;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  QPixmap picture_;
};

}  // namespace lumivor::gui
