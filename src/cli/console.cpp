#include "cli/console.h"

#include <unistd.h>

#include <cstdio>

#include "cli/standard_output.h"

namespace lumivor::cli {

namespace {

volatile std::sig_atomic_t InterruptCount = 0;

extern "C" void count_interrupt(int) {
  InterruptCount = InterruptCount + 1;
  std::signal(SIGINT, SIG_DFL);
}

}  // namespace

int ReportCommandError(const std::string& command, const CommandError& error) {
  const std::string text = "lumivor " + command + ": " + error.Text + "\n";
  std::fputs((IsTerminal(STDERR_FILENO) ? TerminalSafeText(text) : text).c_str(), stderr);
  return ExitUsage;
}

Terminal::Terminal() : interactive_(IsTerminal(STDERR_FILENO)) {}

void Terminal::Line(const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex_);
  EndBarLocked();
  Write((interactive_ ? TerminalSafeText(text) : text) + "\n");
}

void Terminal::Bar(const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (interactive_) {
    Write("\r" + text + "\x1b[K");
    barShown_ = true;
  } else {
    Write(text + "\n");
  }
}

void Terminal::EndBar() {
  std::lock_guard<std::mutex> lock(mutex_);
  EndBarLocked();
}

bool Terminal::Failed() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (std::fflush(stderr) != 0 || std::ferror(stderr)) failed_ = true;
  return failed_;
}

void Terminal::EndBarLocked() {
  if (!barShown_) return;
  barShown_ = false;
  Write("\n");
}

void Terminal::Write(const std::string& text) {
  if (std::fwrite(text.data(), 1, text.size(), stderr) != text.size() || std::fflush(stderr) != 0) failed_ = true;
}

LogToTerminal::LogToTerminal(Terminal& terminal, TLogLevel level, bool speak) {
  TFFLogger& logger = DefaultLogger();
  logger.SetTriggerEventInMainThread(false);
  if (speak) logger.SetOnLog([&terminal](const void*, int, TLogLevel, const std::string& text) { terminal.Line(text); });
  logger.SetLogLevel(level);
  logger.InstallLogCallback();
}

LogToTerminal::~LogToTerminal() { DefaultLogger().SetOnLog(nullptr); }

InterruptHandler::InterruptHandler() {
  InterruptCount = 0;
  struct sigaction action {};
  action.sa_handler = count_interrupt;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, &previous_);
}

InterruptHandler::~InterruptHandler() { sigaction(SIGINT, &previous_, nullptr); }

bool InterruptHandler::Interrupted() { return InterruptCount > 0; }

}  // namespace lumivor::cli
