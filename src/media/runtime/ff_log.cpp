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
  // Lock order: CallbackLock, then DeliveryLock. InstanceLock is taken alone
  // or before both (creating and destroying loggers).
  std::mutex CallbackLock;
  std::recursive_mutex DeliveryLock;
  std::recursive_mutex InstanceLock;

  TFFLogger* Instance = nullptr;
  std::atomic<int> Threshold{32};

  // Under DeliveryLock.
  std::string LogFile;
  bool LogToFile = false;
  std::FILE* Stream = nullptr;
  std::deque<QueuedLine> MainQueue;
  TLogEvent OnLog;  // the instance's handler

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

}  // namespace

// ---------------------------------------------------------------- TFFLogger

TFFLogger::TFFLogger() : logLevel_(LogLevelFromLibrary(State().Threshold.load())) {
  LoggerState& s = State();
  std::lock_guard<std::recursive_mutex> guard(s.InstanceLock);
  if (s.Instance != nullptr) {
    if (!s.Instance->autoCreated_) throw EAssertionFailed("Allow creating only one instance of TFFLogger.");
    delete s.Instance;  // clears s.Instance
    logLevel_ = LogLevelFromLibrary(s.Threshold.load());
  }
  s.Instance = this;
  std::lock_guard<std::recursive_mutex> deliveryGuard(s.DeliveryLock);
  RecomputeSilent();
}

TFFLogger::~TFFLogger() {
  LoggerState& s = State();
  std::lock_guard<std::recursive_mutex> instanceGuard(s.InstanceLock);
  std::lock_guard<std::recursive_mutex> guard(s.DeliveryLock);
  if (s.Instance == this) {
    s.Instance = nullptr;
    s.OnLog = nullptr;
    // Lines queued for this logger's event die with it, rather than reaching
    // the next logger's.
    s.MainQueue.clear();
  }
  CloseStream(s);
}

bool TFFLogger::Active() const {
  std::lock_guard<std::recursive_mutex> guard(State().DeliveryLock);
  return active_;
}

void TFFLogger::SetActive(bool value) {
  std::lock_guard<std::recursive_mutex> guard(State().DeliveryLock);
  active_ = value;
  RecomputeSilent();
}

TLogLevel TFFLogger::LogLevel() const { return logLevel_.load(); }

void TFFLogger::SetLogLevel(TLogLevel value) {
  if (value == logLevel_.load()) return;
  logLevel_ = value;
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
  RecomputeSilent();
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
  RecomputeSilent();
}

bool TFFLogger::TriggerEventInMainThread() const {
  std::lock_guard<std::recursive_mutex> guard(State().DeliveryLock);
  return triggerEventInMainThread_;
}

void TFFLogger::SetTriggerEventInMainThread(bool value) {
  std::lock_guard<std::recursive_mutex> guard(State().DeliveryLock);
  triggerEventInMainThread_ = value;
}

void TFFLogger::SetOnLog(TLogEvent handler) {
  LoggerState& s = State();
  std::lock_guard<std::recursive_mutex> guard(s.DeliveryLock);
  if (s.Instance == this) s.OnLog = std::move(handler);
  RecomputeSilent();
}

bool TFFLogger::HasOnLog() const {
  LoggerState& s = State();
  std::lock_guard<std::recursive_mutex> guard(s.DeliveryLock);
  return s.Instance == this && static_cast<bool>(s.OnLog);
}

bool TFFLogger::Silent() const { return silent_.load(); }

// Under the delivery lock.
void TFFLogger::RecomputeSilent() {
  LoggerState& s = State();
  const bool hasOnLog = s.Instance == this && static_cast<bool>(s.OnLog);
  silent_ = !(active_ && (hasOnLog || (s.LogToFile && !s.LogFile.empty())));
}

bool TFFLogger::Deliver(const void* Sender, int threadId, TLogLevel level, const std::string& message) {
  LoggerState& s = State();
  std::lock_guard<std::recursive_mutex> guard(s.DeliveryLock);
  bool queued = false;
  if (s.Instance == this && s.OnLog) {
    if (triggerEventInMainThread_ && (TriggerEventsInMainThread() || IsMainThread())) {
      // On the main thread too: earlier worker lines may still be queued, and
      // going through the queue keeps them in front.
      s.MainQueue.push_back(QueuedLine{Sender, threadId, level, message});
      queued = true;
    } else {
      // A copy: the handler may replace itself while it runs.
      const TLogEvent handler = s.OnLog;
      handler(Sender, threadId, level, message);
    }
  }
  if (s.LogToFile && !s.LogFile.empty()) WriteFileLine(s, threadId, level, message);
  return queued;
}

void TFFLogger::Log(const void* Sender, TLogLevel level, const std::string& message) {
  if (Silent() || level > LogLevel()) return;
  FinishDelivery(Deliver(Sender, CurrentThreadId(), level, message));
}

void TFFLogger::LogFmt(const void* Sender, TLogLevel level, const char* format, ...) {
  if (Silent() || level > LogLevel()) return;
  va_list args;
  va_start(args, format);
  const std::string message = FormatTextV(format, args);
  va_end(args);
  FinishDelivery(Deliver(Sender, CurrentThreadId(), level, message));
}

bool TFFLogger::PostLibraryLine(int threadId, int libraryLevel, const std::string& line) {
  if (Silent()) return false;
  return Deliver(this, threadId, LogLevelFromLibrary(libraryLevel), line);
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
  LoggerState& s = State();
  std::lock_guard<std::recursive_mutex> guard(s.InstanceLock);
  if (s.Instance == nullptr) {
    auto* logger = new TFFLogger;
    logger->autoCreated_ = true;
  }
  return *s.Instance;
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

void LibraryLogCallback(void* avcl, int level, const char* format, va_list args) {
  LoggerState& s = State();
  // Bits above the level carry a colour hint some callers add; the level is
  // the low byte.
  if (level >= 0) level &= 0xff;
  if (level > s.Threshold.load()) return;
  bool queued = false;
  {
    std::lock_guard<std::mutex> callbackGuard(s.CallbackLock);
    TFFLogger& logger = DefaultLogger();
    if (logger.Silent()) return;
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
      queued |= logger.PostLibraryLine(threadId, level,
                                       FormatText("    Last message repeated %d times", s.RepeatCount));
    }
    s.RepeatCount = 0;
    s.PreviousMessage = text;

    pending += text;
    for (size_t end = pending.find('\n'); end != std::string::npos; end = pending.find('\n')) {
      const std::string line = pending.substr(0, end);
      pending.erase(0, end + 1);
      queued |= logger.PostLibraryLine(threadId, level, line);
    }
  }
  // Waiting for the main thread happens with no logger lock held, so the
  // main thread can run library code that logs meanwhile.
  FinishDelivery(queued);
}

}  // namespace lumivor
