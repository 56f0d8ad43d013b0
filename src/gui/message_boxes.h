// Message boxes and the log memo of the application logic, shown with Qt widgets.
#pragma once

#include <functional>
#include <string>

#include "app/common/window_services.h"

class QWidget;
class QPlainTextEdit;

namespace lumivor::gui {

struct ShownMessage {
  std::string Text;
  std::string Caption;
  MessageIcon Icon = MessageIcon::Information;
  MessageButtons Buttons = MessageButtons::Ok;
};

class QtMessageBoxes : public MessageBoxes {
 public:
  explicit QtMessageBoxes(QWidget* parent) : parent_(parent) {}

  // A modal box over the parent with the text, caption, icon and buttons as asked. When Answer is
  // set it answers instead of a user and no box appears (tests, and anything that must not block).
  MessageResult ShowMessage(const std::string& text, const std::string& caption, MessageIcon icon,
                            MessageButtons buttons) override;

  std::function<MessageResult(const ShownMessage&)> Answer;

 private:
  QWidget* parent_;
};

// The hidden memo: each line is appended as it comes.
class QtLogMemo : public LogMemo {
 public:
  explicit QtLogMemo(QPlainTextEdit& memo) : memo_(memo) {}
  void AddLine(const std::string& line) override;

 private:
  QPlainTextEdit& memo_;
};

}  // namespace lumivor::gui
