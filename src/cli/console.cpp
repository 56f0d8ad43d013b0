#include "cli/console.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <iterator>

#include "app/files/output_file.h"
#include "cli/standard_output.h"

namespace lumivor::cli {

namespace {

constexpr int StopSignals[] = {SIGINT, SIGTERM, SIGHUP};

volatile std::sig_atomic_t InterruptCount = 0;

extern "C" void count_interrupt(int signal) {
  if (InterruptCount == 0) {
    InterruptCount = 1;
    return;
  }
  const int savedErrno = errno;
  RemoveUnfinishedFiles();
  // Ended by the signal itself, so the parent sees what happened; it is delivered as the handler
  // returns.
  struct sigaction fallback {};
  fallback.sa_handler = SIG_DFL;
  sigemptyset(&fallback.sa_mask);
  ::sigaction(signal, &fallback, nullptr);
  ::raise(signal);
  errno = savedErrno;
}

}  // namespace

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
  // One handler at a time: a second signal of another kind waits until the count is taken.
  sigemptyset(&action.sa_mask);
  for (const int signal : StopSignals) sigaddset(&action.sa_mask, signal);
  for (std::size_t i = 0; i < std::size(StopSignals); ++i) {
    if (::sigaction(StopSignals[i], nullptr, &previous_[i]) != 0) continue;
    if ((previous_[i].sa_flags & SA_SIGINFO) == 0 && previous_[i].sa_handler == SIG_IGN) continue;
    installed_[i] = ::sigaction(StopSignals[i], &action, nullptr) == 0;
  }
}

InterruptHandler::~InterruptHandler() {
  for (std::size_t i = 0; i < std::size(StopSignals); ++i)
    if (installed_[i]) ::sigaction(StopSignals[i], &previous_[i], nullptr);
}

bool InterruptHandler::Interrupted() { return InterruptCount > 0; }

}  // namespace lumivor::cli
