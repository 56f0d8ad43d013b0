#pragma once

// The process-wide logger: library lines arrive through the library log
// callback, component and engine messages through Log/LogFmt; each line goes
// to OnLog and, optionally, to the log file.
//
// Deadlock avoidance: a worker never holds a logger lock while it waits for
// the main thread. Every message meant for an OnLog that runs on the main
// thread is appended to one process-wide FIFO under the delivery lock (the
// file line is written under that lock too); the lock is released, and the
// worker then asks the main thread to drain the FIFO and waits. Only the main
// thread drains, and it drains whenever it delivers, so lines reach OnLog in
// the order they were queued and each exactly once, and the main thread can
// log while a worker waits for it.
//
// With TriggerEventInMainThread off (or the process-wide switch off, on a
// worker) OnLog runs directly on the logging thread under the delivery lock,
// so such a handler must not itself wait for the main thread.

#include <atomic>
#include <cstdarg>
#include <functional>
#include <string>

namespace lumivor {

enum TLogLevel : int {
  llQuiet = 0,
  llPanic = 1,
  llFatal = 2,
  llError = 3,
  llWarning = 4,
  llInfo = 5,
  llVerbose = 6,
  llDebug = 7,
};

extern const char* const LogLevelNames[8];

// (level - 1) * 8: llQuiet -> -8 ... llDebug -> 48.
int LogLevelToLibrary(TLogLevel level);
// v / 8 + 1 truncating toward zero, clamped to llQuiet..llDebug.
TLogLevel LogLevelFromLibrary(int value);

using TLogEvent = std::function<void(const void* Sender, int AThreadID, TLogLevel ALogLevel,
                                     const std::string& ALogMsg)>;

class TFFLogger {
 public:
  // Only one logger may exist: an auto-created default logger is freed first,
  // a second explicit one throws EAssertionFailed
  // "Allow creating only one instance of TFFLogger.".
  TFFLogger();
  ~TFFLogger();
  TFFLogger(const TFFLogger&) = delete;
  TFFLogger& operator=(const TFFLogger&) = delete;

  bool Active() const;
  void SetActive(bool value);
  TLogLevel LogLevel() const;
  void SetLogLevel(TLogLevel value);
  // The log file and its switch are process-wide.
  std::string LogFile() const;
  void SetLogFile(const std::string& value);
  bool LogToFile() const;
  void SetLogToFile(bool value);
  bool TriggerEventInMainThread() const;
  void SetTriggerEventInMainThread(bool value);
  void SetOnLog(TLogEvent handler);
  bool HasOnLog() const;

  // not (Active and (OnLog or (LogToFile and LogFile not empty))).
  bool Silent() const;

  void Log(const void* Sender, TLogLevel level, const std::string& message);
  void LogFmt(const void* Sender, TLogLevel level, const char* format, ...)
      __attribute__((format(printf, 4, 5)));
  // A whole library line; the callback has filtered by level already.
  void LogLibraryLine(int threadId, int libraryLevel, const std::string& line);

  // Needs av_log_set_callback and av_log_set_level bound (EAssertionFailed
  // otherwise); installs LibraryLogCallback, then applies the level.
  void InstallLogCallback();
  void ApplyLogLevel();

  bool AutoCreated() const { return autoCreated_; }

 private:
  friend TFFLogger& DefaultLogger();
  friend void LibraryLogCallback(void*, int, const char*, va_list);
  void RecomputeSilent();
  // Under the delivery lock: file line, and OnLog called directly or queued
  // for the main thread. True when lines were queued (FinishDelivery due).
  bool Deliver(const void* Sender, int threadId, TLogLevel level, const std::string& message);
  bool PostLibraryLine(int threadId, int libraryLevel, const std::string& line);

  bool autoCreated_ = false;
  bool active_ = true;
  std::atomic<TLogLevel> logLevel_;
  bool triggerEventInMainThread_ = true;
  std::atomic<bool> silent_{true};
};

// The logger instance; creates one (marked auto-created) when none exists.
TFFLogger& DefaultLogger();

// The library's log callback (av_log_set_callback).
void LibraryLogCallback(void* avcl, int level, const char* format, va_list args);

// Logs a printf-style text through the library's log at a library level (AV_LOG_*). Texts that do
// not end in a line break wait there for the rest of their line, so a message written in parts
// reaches the logger as one line.
void LibraryLog(int level, const char* format, ...) __attribute__((format(printf, 2, 3)));

// Current library threshold, library scale (initially 32).
int LibraryLogThreshold();

}  // namespace lumivor
