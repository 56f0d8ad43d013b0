// A pair of arrow buttons that step a number shown in a read-only box beside it, between a
// minimum and a maximum: the box is the only place the number lives, so text put into it by the
// program is where the next step starts.
#pragma once

#include <functional>

#include <QWidget>

class QLineEdit;
class QToolButton;

namespace lumivor::gui {

class UpDown : public QWidget {
 public:
  UpDown(QLineEdit& buddy, int minimum, int maximum, QWidget* parent);

  int Minimum() const { return minimum_; }
  int Maximum() const { return maximum_; }
  // The number in the box, clamped; the minimum when the box holds no number.
  int Position() const;
  // +1 for the upper arrow, -1 for the lower: writes the stepped number into the box.
  void Step(int direction);

  // After each step the user makes, with the box already updated.
  std::function<void()> OnClick;

  QToolButton* Up;
  QToolButton* Down;

 private:
  QLineEdit& buddy_;
  int minimum_;
  int maximum_;
};

}  // namespace lumivor::gui
