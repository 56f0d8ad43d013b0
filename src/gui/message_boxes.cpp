#include "gui/message_boxes.h"

#include <QMessageBox>
#include <QPlainTextEdit>
#include <QString>

namespace lumivor::gui {

namespace {

QMessageBox::Icon QtIcon(MessageIcon icon) {
  switch (icon) {
    case MessageIcon::Information: return QMessageBox::Information;
    case MessageIcon::Warning: return QMessageBox::Warning;
    case MessageIcon::Question: return QMessageBox::Question;
    // The exclamation mark and the warning sign are one picture on this desktop.
    case MessageIcon::Exclamation: return QMessageBox::Warning;
  }
  return QMessageBox::NoIcon;
}

}  // namespace

MessageResult QtMessageBoxes::ShowMessage(const std::string& text, const std::string& caption, MessageIcon icon,
                                          MessageButtons buttons) {
  if (Answer) return Answer(ShownMessage{text, caption, icon, buttons});
  const QMessageBox::StandardButtons standard =
      buttons == MessageButtons::YesNo ? QMessageBox::Yes | QMessageBox::No : QMessageBox::Ok;
  QMessageBox box(QtIcon(icon), QString::fromStdString(caption), QString::fromStdString(text), standard, parent_);
  const int pressed = box.exec();
  if (buttons == MessageButtons::Ok) return MessageResult::Ok;
  return pressed == QMessageBox::Yes ? MessageResult::Yes : MessageResult::No;
}

void QtLogMemo::AddLine(const std::string& line) { memo_.appendPlainText(QString::fromStdString(line)); }

}  // namespace lumivor::gui
