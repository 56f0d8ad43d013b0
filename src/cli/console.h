// What the sub-commands that run a job share about the console: lines and a progress bar on
// stderr from the worker and the main thread, the libraries' log routed there, and Ctrl-C as a
// request to stop.
#pragma once

#include <csignal>
#include <mutex>
#include <string>

#include "cli/arguments.h"
#include "media/runtime/ff_log.h"

namespace lumivor::cli {

// Exit statuses of the sub-commands that run a job; their --help texts say them (ExitUsage, for
// wrong arguments, is with the arguments).
inline constexpr int ExitFinished = 0;
inline constexpr int ExitFailed = 1;
inline constexpr int ExitStopped = 130;

// One lock keeps each line whole. A write that fails is remembered, so that the exit status can
// say so.
class Terminal {
 public:
  Terminal();

  // File names and library texts may hold bytes a terminal would act on.
  void Line(const std::string& text);
  // A terminal redraws the bar in place; a file or a pipe gets one line per report.
  void Bar(const std::string& text);
  void EndBar();
  bool Failed();

 private:
  void EndBarLocked();
  void Write(const std::string& text);

  std::mutex mutex_;
  const bool interactive_;
  bool barShown_ = false;
  bool failed_ = false;
};

// The libraries' log at level, spoken through the terminal (when speak is set) only as long as
// this object, and so the terminal, is there.
class LogToTerminal {
 public:
  LogToTerminal(Terminal& terminal, TLogLevel level, bool speak = true);
  ~LogToTerminal();
  LogToTerminal(const LogToTerminal&) = delete;
  LogToTerminal& operator=(const LogToTerminal&) = delete;
};

// While it lives, the first SIGINT, SIGTERM or SIGHUP is only counted, for the run to stop as its
// Stop command does and keep a playable file; a second one is the user (or the system going down)
// insisting: every unfinished file is removed (RemoveUnfinishedFiles) and the program ends by that
// signal at once. A signal ignored when it is made (nohup) stays ignored.
class InterruptHandler {
 public:
  InterruptHandler();
  ~InterruptHandler();
  InterruptHandler(const InterruptHandler&) = delete;
  InterruptHandler& operator=(const InterruptHandler&) = delete;

  static bool Interrupted();

 private:
  struct sigaction previous_[3] {};
  bool installed_[3] = {};
};

}  // namespace lumivor::cli
