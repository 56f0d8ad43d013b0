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

// Ownership: only one logger exists at a time, so its settings (Active,
// LogLevel, OnLog, TriggerEventInMainThread) are process-wide state that the
// current logger reads and writes. DefaultLogger() returns the process
// logger, an object that is never freed and always acts on the current
// settings: a reference to it stays valid whatever loggers the application
// creates or destroys meanwhile, so a worker that logs while the main thread
// replaces the logger reaches either the old settings or the new ones, never
// freed memory. Creating an explicit logger takes the place of the
// automatic one (its settings start afresh, as a new logger's do);
// destroying it leaves the automatic one in place again.
class TFFLogger {
 public:
  // Only one explicit logger may exist: a second one throws EAssertionFailed
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

  // True while no explicit logger exists (the process logger stands in for
  // the automatic one); false for an explicit logger.
  bool AutoCreated() const;

 private:
  friend TFFLogger& DefaultLogger();
  struct ProcessLoggerTag {};
  explicit TFFLogger(ProcessLoggerTag);

  const bool processLogger_;
};

// The process logger (see TFFLogger): never freed, so the reference may be
// kept. Its settings are the explicit logger's while one exists.
TFFLogger& DefaultLogger();

// The library's log callback (av_log_set_callback).
void LibraryLogCallback(void* avcl, int level, const char* format, va_list args);

// Logs a printf-style text through the library's log at a library level (AV_LOG_*). Texts that do
// not end in a line break wait there for the rest of their line, so a message written in parts
// reaches the logger as one line.
void LibraryLog(int level, const char* format, ...) __attribute__((format(printf, 2, 3)));

// The last line the libraries logged at error level or worse on the calling thread, whatever the
// log level lets through ("name: text", without the line break); empty when there was none since
// the last clear. Lets a failure say the reason the library gave beside its bare error code.
std::string LastLibraryErrorLine();
void ClearLastLibraryErrorLine();

// Current library threshold, library scale (initially 32).
int LibraryLogThreshold();

}  // namespace lumivor
