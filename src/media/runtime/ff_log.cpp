#include "media/runtime/ff_log.h"

#include <sys/time.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <deque>
#include <mutex>
#include <unordered_map>

#include "media/runtime/ff_load.h"
#include "media/runtime/format_text.h"
#include "media/runtime/main_thread.h"
#include "media/runtime/runtime_errors.h"

namespace lumivor {

const char* const LogLevelNames[8] = {"Quiet", "Panic",   "Fatal",   "Error",
                                      "Warning", "Info", "Verbose", "Debug"};

int LogLevelToLibrary(TLogLevel level) { return (static_cast<int>(level) - 1) * 8; }

TLogLevel LogLevelFromLibrary(int value) {
  int level = value / 8 + 1;  // C++ division truncates toward zero, as required
  if (level < llQuiet) level = llQuiet;
  if (level > llDebug) level = llDebug;
  return static_cast<TLogLevel>(level);
}

namespace {

// A line waiting for OnLog on the main thread.
struct QueuedLine {
  const void* Sender;
  int ThreadId;
  TLogLevel Level;
  std::string Message;
};

// Process-wide state. Never destroyed: libraries may log from their own
// finalisation (network shutdown at unload), after static destructors began.
struct LoggerState {
  // Lock order: CallbackLock, then DeliveryLock; nothing else is taken
  // while either is held (but OnLog, which runs under DeliveryLock when it
  // is called directly).
  std::mutex CallbackLock;
  std::recursive_mutex DeliveryLock;

  std::atomic<int> Threshold{32};

  // The current logger's settings. Written under DeliveryLock; Level and
  // Silent are also read without it, at the door of every message.
  TFFLogger* Explicit = nullptr;  // the application's logger, if it made one
  bool Active = true;
  bool TriggerEventInMainThread = true;
  TLogEvent OnLog;
  std::atomic<TLogLevel> Level{llInfo};
  std::atomic<bool> Silent{true};

  // Under DeliveryLock.
  std::string LogFile;
  bool LogToFile = false;
  std::FILE* Stream = nullptr;
  std::deque<QueuedLine> MainQueue;

  // Under CallbackLock.
  std::unordered_map<int, std::string> Pending;
  std::string PreviousMessage;
  int RepeatCount = 0;

  // Main thread only.
  bool Draining = false;
};

LoggerState& State() {
  static LoggerState* state = new LoggerState;
  return *state;
}

void CloseStream(LoggerState& s) {
  if (s.Stream != nullptr) {
    std::fclose(s.Stream);
    s.Stream = nullptr;
  }
}

// Under DeliveryLock.
void WriteFileLine(LoggerState& s, int threadId, TLogLevel level, const std::string& message) {
  if (s.Stream == nullptr) {
    // Append mode: an existing file keeps its content, a missing one is made.
    s.Stream = std::fopen(s.LogFile.c_str(), "ab");
    if (s.Stream == nullptr) return;
  }
  struct timeval now;
  gettimeofday(&now, nullptr);
  struct tm local;
  localtime_r(&now.tv_sec, &local);
  const std::string time = FormatText("%02d:%02d:%02d %03d", local.tm_hour, local.tm_min, local.tm_sec,
                                      static_cast<int>(now.tv_usec / 1000));
  // Upper-case hexadecimal: the thread id is shown as eight upper-case digits.
  std::fprintf(s.Stream, "%s [%.8X] %s: %s\r\n", time.c_str(), static_cast<unsigned>(threadId),
               LogLevelNames[level], message.c_str());
  std::fflush(s.Stream);
}

// Under DeliveryLock.
void RecomputeSilent(LoggerState& s) {
  s.Silent = !(s.Active && (static_cast<bool>(s.OnLog) || (s.LogToFile && !s.LogFile.empty())));
}

// Under DeliveryLock: the settings a newly created logger starts with. Lines
// queued for the previous logger's event die with it rather than reaching
// the next one's handler.
void StartFreshLogger(LoggerState& s) {
  s.Active = true;
  s.TriggerEventInMainThread = true;
  s.OnLog = nullptr;
  s.Level = LogLevelFromLibrary(s.Threshold.load());
  s.MainQueue.clear();
  RecomputeSilent(s);
}

// Main thread only. Delivers queued lines in order; a handler that logs
// again only queues, the outer loop delivers it.
void DrainMainQueue() {
  LoggerState& s = State();
  if (s.Draining) return;
  s.Draining = true;
  for (;;) {
    QueuedLine line;
    TLogEvent handler;
    {
      std::lock_guard<std::recursive_mutex> guard(s.DeliveryLock);
      if (s.MainQueue.empty()) break;
      line = std::move(s.MainQueue.front());
      s.MainQueue.pop_front();
      handler = s.OnLog;
    }
    if (handler) {
      try {
        handler(line.Sender, line.ThreadId, line.Level, line.Message);
      } catch (...) {
        // A failing handler must not lose the lines behind it.
      }
    }
  }
  s.Draining = false;
}

// After every lock is released: hand queued lines to OnLog on the main
// thread, waiting for it when called from a worker.
void FinishDelivery(bool queued) {
  if (!queued) return;
  if (IsMainThread()) {
    DrainMainQueue();
  } else {
    RunInMainThread(DrainMainQueue);
  }
}

// Takes the delivery lock: file line, and OnLog called directly or queued for the main
// thread. True when lines were queued (FinishDelivery due). Library lines
// come from the logger itself, whichever object that currently is.
bool Deliver(const void* sender, bool fromLibrary, int threadId, TLogLevel level, const std::string& message) {
  LoggerState& s = State();
  std::lock_guard<std::recursive_mutex> guard(s.DeliveryLock);
  if (fromLibrary) sender = s.Explicit != nullptr ? s.Explicit : &DefaultLogger();
  bool queued = false;
  if (s.Active && s.OnLog) {
    if (s.TriggerEventInMainThread && (TriggerEventsInMainThread() || IsMainThread())) {
      // On the main thread too: earlier worker lines may still be queued, and
      // going through the queue keeps them in front.
      s.MainQueue.push_back(QueuedLine{sender, threadId, level, message});
      queued = true;
    } else {
      // A copy: the handler may replace itself while it runs.
      const TLogEvent handler = s.OnLog;
      handler(sender, threadId, level, message);
    }
  }
  if (s.Active && s.LogToFile && !s.LogFile.empty()) WriteFileLine(s, threadId, level, message);
  return queued;
}

bool PostLibraryLine(int threadId, int libraryLevel, const std::string& line) {
  if (State().Silent.load()) return false;
  return Deliver(nullptr, true, threadId, LogLevelFromLibrary(libraryLevel), line);
}

}  // namespace

// ---------------------------------------------------------------- TFFLogger

TFFLogger::TFFLogger() : processLogger_(false) {
  LoggerState& s = State();
  std::lock_guard<std::recursive_mutex> guard(s.DeliveryLock);
  if (s.Explicit != nullptr) throw EAssertionFailed("Allow creating only one instance of TFFLogger.");
  s.Explicit = this;
  StartFreshLogger(s);
}

TFFLogger::TFFLogger(ProcessLoggerTag) : processLogger_(true) {}

TFFLogger::~TFFLogger() {
  LoggerState& s = State();
  // Waits for a handler running directly on another thread: the delivery
  // lock is held around it.
  std::lock_guard<std::recursive_mutex> guard(s.DeliveryLock);
  if (processLogger_ || s.Explicit != this) return;
  s.Explicit = nullptr;
  StartFreshLogger(s);
  CloseStream(s);
}

bool TFFLogger::AutoCreated() const {
  if (!processLogger_) return false;
  std::lock_guard<std::recursive_mutex> guard(State().DeliveryLock);
  return State().Explicit == nullptr;
}

bool TFFLogger::Active() const {
  std::lock_guard<std::recursive_mutex> guard(State().DeliveryLock);
  return State().Active;
}

void TFFLogger::SetActive(bool value) {
  LoggerState& s = State();
  std::lock_guard<std::recursive_mutex> guard(s.DeliveryLock);
  s.Active = value;
  RecomputeSilent(s);
}

TLogLevel TFFLogger::LogLevel() const { return State().Level.load(); }

void TFFLogger::SetLogLevel(TLogLevel value) {
  if (State().Level.exchange(value) == value) return;
  ApplyLogLevel();
}

std::string TFFLogger::LogFile() const {
  std::lock_guard<std::recursive_mutex> guard(State().DeliveryLock);
  return State().LogFile;
}

void TFFLogger::SetLogFile(const std::string& value) {
  LoggerState& s = State();
  std::lock_guard<std::recursive_mutex> guard(s.DeliveryLock);
  if (value == s.LogFile) return;
  s.LogFile = value;
  CloseStream(s);
  RecomputeSilent(s);
}

bool TFFLogger::LogToFile() const {
  std::lock_guard<std::recursive_mutex> guard(State().DeliveryLock);
  return State().LogToFile;
}

void TFFLogger::SetLogToFile(bool value) {
  LoggerState& s = State();
  std::lock_guard<std::recursive_mutex> guard(s.DeliveryLock);
  if (value == s.LogToFile) return;
  s.LogToFile = value;
  CloseStream(s);
  RecomputeSilent(s);
}

bool TFFLogger::TriggerEventInMainThread() const {
  std::lock_guard<std::recursive_mutex> guard(State().DeliveryLock);
  return State().TriggerEventInMainThread;
}

void TFFLogger::SetTriggerEventInMainThread(bool value) {
  std::lock_guard<std::recursive_mutex> guard(State().DeliveryLock);
  State().TriggerEventInMainThread = value;
}

void TFFLogger::SetOnLog(TLogEvent handler) {
  LoggerState& s = State();
  std::lock_guard<std::recursive_mutex> guard(s.DeliveryLock);
  s.OnLog = std::move(handler);
  RecomputeSilent(s);
}

bool TFFLogger::HasOnLog() const {
  std::lock_guard<std::recursive_mutex> guard(State().DeliveryLock);
  return static_cast<bool>(State().OnLog);
}

bool TFFLogger::Silent() const { return State().Silent.load(); }

void TFFLogger::Log(const void* Sender, TLogLevel level, const std::string& message) {
  if (Silent() || level > LogLevel()) return;
  FinishDelivery(Deliver(Sender, false, CurrentThreadId(), level, message));
}

void TFFLogger::LogFmt(const void* Sender, TLogLevel level, const char* format, ...) {
  if (Silent() || level > LogLevel()) return;
  va_list args;
  va_start(args, format);
  const std::string message = FormatTextV(format, args);
  va_end(args);
  FinishDelivery(Deliver(Sender, false, CurrentThreadId(), level, message));
}

void TFFLogger::LogLibraryLine(int threadId, int libraryLevel, const std::string& line) {
  FinishDelivery(PostLibraryLine(threadId, libraryLevel, line));
}

void TFFLogger::InstallLogCallback() {
  if (lib::av_log_set_callback == nullptr || lib::av_log_set_level == nullptr) throw EAssertionFailed();
  lib::av_log_set_callback(LibraryLogCallback);
  ApplyLogLevel();
}

void TFFLogger::ApplyLogLevel() {
  const int threshold = LogLevelToLibrary(LogLevel());
  State().Threshold = threshold;
  if (lib::av_log_set_level != nullptr) lib::av_log_set_level(threshold);
}

TFFLogger& DefaultLogger() {
  static TFFLogger* logger = new TFFLogger(TFFLogger::ProcessLoggerTag{});
  return *logger;
}

int LibraryLogThreshold() { return State().Threshold.load(); }

// ------------------------------------------------------ library log callback

namespace {

const char* ItemName(const AVClass* avClass, void* object) {
  if (avClass->item_name != nullptr) return avClass->item_name(object);
  return avClass->class_name != nullptr ? avClass->class_name : "";
}

// The "[name @ address]" prefix of a new line: the parent's first when the
// object's class declares one and it is set.
std::string ObjectPrefix(void* object) {
  const AVClass* avClass = *static_cast<const AVClass* const*>(object);
  if (avClass == nullptr) return std::string();
  std::string prefix;
  if (avClass->parent_log_context_offset != 0) {
    void* parent = *reinterpret_cast<void**>(static_cast<char*>(object) + avClass->parent_log_context_offset);
    if (parent != nullptr) {
      const AVClass* parentClass = *static_cast<const AVClass* const*>(parent);
      if (parentClass != nullptr) prefix += FormatText("[%s @ %p] ", ItemName(parentClass, parent), parent);
    }
  }
  prefix += FormatText("[%s @ %p]", ItemName(avClass, object), object);
  return prefix;
}

bool IsNullStringFlush(const char* format, va_list args) {
  if (format == nullptr || std::strcmp(format, "%s") != 0) return false;
  va_list probe;
  va_copy(probe, args);
  const char* argument = va_arg(probe, const char*);
  va_end(probe);
  return argument == nullptr;
}

}  // namespace

void LibraryLog(int level, const char* format, ...) {
  va_list args;
  va_start(args, format);
  lib::av_vlog(nullptr, level, format, args);
  va_end(args);
}

namespace {

thread_local std::string lastLibraryErrorLine;

void KeepLibraryErrorLine(void* avcl, const char* format, va_list args) {
  if (format == nullptr || IsNullStringFlush(format, args)) return;
  va_list copy;
  va_copy(copy, args);
  std::string text = FormatTextV(format, copy);
  va_end(copy);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) text.pop_back();
  if (text.empty()) return;
  const AVClass* avClass = avcl != nullptr ? *static_cast<const AVClass* const*>(avcl) : nullptr;
  const char* name = avClass != nullptr ? ItemName(avClass, avcl) : nullptr;
  lastLibraryErrorLine = name != nullptr && *name != '\0' ? std::string(name) + ": " + text : text;
}

}  // namespace

std::string LastLibraryErrorLine() { return lastLibraryErrorLine; }

void ClearLastLibraryErrorLine() { lastLibraryErrorLine.clear(); }

void LibraryLogCallback(void* avcl, int level, const char* format, va_list args) {
  LoggerState& s = State();
  // Bits above the level carry a colour hint some callers add; the level is
  // the low byte.
  if (level >= 0) level &= 0xff;
  if (level >= AV_LOG_PANIC && level <= AV_LOG_ERROR) KeepLibraryErrorLine(avcl, format, args);
  if (level > s.Threshold.load()) return;
  bool queued = false;
  {
    std::lock_guard<std::mutex> callbackGuard(s.CallbackLock);
    if (s.Silent.load()) return;
    const int threadId = CurrentThreadId();
    std::string& pending = s.Pending[threadId];

    std::string text;
    if (avcl != nullptr && pending.empty()) text = ObjectPrefix(avcl);
    // A "%s" with a null argument formats nothing: the engine sends one at
    // the end of a run to flush a pending repeat note.
    if (format != nullptr && !IsNullStringFlush(format, args)) text += FormatTextV(format, args);

    if (!text.empty() && text.back() == '\n' && text == s.PreviousMessage) {
      ++s.RepeatCount;
      return;
    }
    if (s.RepeatCount > 1) {
      queued |= PostLibraryLine(threadId, level,
                                       FormatText("    Last message repeated %d times", s.RepeatCount));
    }
    s.RepeatCount = 0;
    s.PreviousMessage = text;

    pending += text;
    for (size_t end = pending.find('\n'); end != std::string::npos; end = pending.find('\n')) {
      const std::string line = pending.substr(0, end);
      pending.erase(0, end + 1);
      queued |= PostLibraryLine(threadId, level, line);
    }
  }
  // Waiting for the main thread happens with no logger lock held, so the
  // main thread can run library code that logs meanwhile.
  FinishDelivery(queued);
}

}  // namespace lumivor
