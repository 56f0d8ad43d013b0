// What the application logic asks of whatever face it has: message boxes and the hidden log memo.
// The Qt window implements these with real widgets, the command line on the console, and tests
// with recorders. Every call is made on the main thread.
#pragma once

#include <string>

namespace lumivor {

enum class MessageIcon { Information, Warning, Question, Exclamation };
enum class MessageButtons { Ok, YesNo };
enum class MessageResult { Ok, Yes, No };

class MessageBoxes {
 public:
  virtual ~MessageBoxes() = default;
  virtual MessageResult ShowMessage(const std::string& text, const std::string& caption, MessageIcon icon,
                                    MessageButtons buttons) = 0;
};

// The window's hidden memo (mmoLog) that collects diagnostic lines.
class LogMemo {
 public:
  virtual ~LogMemo() = default;
  virtual void AddLine(const std::string& line) = 0;
};

}  // namespace lumivor
