#include "gui/up_down.h"

#include <algorithm>

#include <QLineEdit>
#include <QToolButton>
#include <QVBoxLayout>

namespace lumivor::gui {

UpDown::UpDown(QLineEdit& buddy, int minimum, int maximum, QWidget* parent)
    : QWidget(parent), buddy_(buddy), minimum_(minimum), maximum_(maximum) {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  Up = new QToolButton(this);
  Up->setArrowType(Qt::UpArrow);
  Down = new QToolButton(this);
  Down->setArrowType(Qt::DownArrow);
  for (QToolButton* button : {Up, Down}) {
    button->setAutoRepeat(true);
    button->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    button->setFocusPolicy(Qt::NoFocus);
    layout->addWidget(button);
  }
  connect(Up, &QToolButton::clicked, this, [this] { Step(+1); });
  connect(Down, &QToolButton::clicked, this, [this] { Step(-1); });
}

int UpDown::Position() const {
  bool number = false;
  const int value = buddy_.text().trimmed().toInt(&number);
  return number ? std::clamp(value, minimum_, maximum_) : minimum_;
}

void UpDown::Step(int direction) {
  buddy_.setText(QString::number(std::clamp(Position() + direction, minimum_, maximum_)));
  if (OnClick) OnClick();
}

}  // namespace lumivor::gui
