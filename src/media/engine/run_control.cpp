// Run control of one task: start in a worker thread or in the caller's, pause, resume, stop, and
// the end notification, delivered exactly once on every path.
//
// Pause cannot suspend a thread here: it closes the task's pause gate, at which the worker waits
// at the top of each loop turn, before each read, decode and encode, and inside the interrupt
// callbacks. A stop request opens the gate and keeps it open, so a paused task can always stop.
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <exception>
#include <thread>

#include "media/engine/ffmpeg.h"
#include "media/engine/ffmpeg_exception.h"
#include "media/runtime/ff_load.h"
#include "media/runtime/ff_log.h"
#include "media/runtime/format_text.h"
#include "media/runtime/main_thread.h"
#include "media/runtime/runtime_errors.h"

namespace lumivor {
namespace {

const char* OrEmpty(const char* text) { return text != nullptr ? text : ""; }

// Waits for the event; on the main thread the wait keeps serving synchronised calls, because the
// thread being waited for may be waiting for the main thread to run one of its events.
void WaitForEvent(const TCustomFFmpeg::RunEvent& event) {
  if (IsMainThread()) {
    WaitServing([&event] { return event.IsSet(); });
  } else {
    while (!event.WaitFor(std::chrono::milliseconds(20))) {
    }
  }
}

// Runs one step of a run; an error it raises is recorded and logged, and the next step still runs.
template <typename Step>
void Guarded(TCustomFFmpeg& engine, Step step) {
  std::string message;
  try {
    step();
    return;
  } catch (const std::exception& e) {
    message = e.what();
  } catch (...) {
    message = "Unknown exception";
  }
  DefaultLogger().Log(&engine, llQuiet, message);
  engine.Exception = true;
  engine.ExceptionMsg = message;
}

// Niceness for a priority: 0 is normal, positive values run the worker more kindly to the rest of
// the machine. Raising it above normal needs privileges the process rarely has: then it is ignored.
void ApplyPriority(int priority) {
  if (priority == 0) return;
  const auto threadId = static_cast<id_t>(syscall(SYS_gettid));
  setpriority(PRIO_PROCESS, threadId, priority);
}

}  // namespace

// ------------------------------------------------------------------ the two threads

TConvertThread::TConvertThread(TCustomFFmpeg& engine, int priority) : engine_(engine), priority_(priority) {}

TConvertThread::~TConvertThread() {
  if (thread_.joinable()) thread_.join();
}

void TConvertThread::Resume() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (started_) return;
  started_ = true;
  thread_ = std::thread([this] { Execute(); });
}

bool TConvertThread::Started() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return started_;
}

void TConvertThread::Execute() {
  ApplyPriority(priority_);
  // Run guards each of its steps; nothing may leave a thread's body.
  try {
    engine_.Run();
  } catch (...) {
  }
  engine_.RunDoneEvent.Set();
}

class TDoTerminateThread {
 public:
  explicit TDoTerminateThread(TCustomFFmpeg& engine) : thread_([&engine] {
    try {
      engine.DeliverTerminate();
    } catch (const std::exception& e) {
      DefaultLogger().Log(&engine, llError, e.what());
    } catch (...) {
    }
    {
      std::lock_guard<std::mutex> lock(engine.runStateMutex_);
      engine.terminateThreadPending_ = false;
    }
    engine.TerminateDoneEvent.Set();
  }) {}
  ~TDoTerminateThread() {
    if (thread_.joinable()) thread_.join();
  }
  TDoTerminateThread(const TDoTerminateThread&) = delete;
  TDoTerminateThread& operator=(const TDoTerminateThread&) = delete;

 private:
  std::thread thread_;
};

// ------------------------------------------------------------------ events

void TCustomFFmpeg::RunEvent::Set() {
  // Notified under the lock: a waiter that then frees the event cannot do so before the
  // notification is complete.
  std::lock_guard<std::mutex> lock(mutex_);
  signalled_ = true;
  set_.notify_all();
}

void TCustomFFmpeg::RunEvent::Reset() {
  std::lock_guard<std::mutex> lock(mutex_);
  signalled_ = false;
}

bool TCustomFFmpeg::RunEvent::IsSet() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return signalled_;
}

bool TCustomFFmpeg::RunEvent::WaitFor(std::chrono::milliseconds timeout) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return set_.wait_for(lock, timeout, [this] { return signalled_; });
}

// ------------------------------------------------------------------ life cycle

TCustomFFmpeg::TCustomFFmpeg() {
  if (!TFFLoader::Instance().AllLoaded(EncoderLibraries)) throw EAssertionFailed();
  BuildOptionTable();
}

TCustomFFmpeg::~TCustomFFmpeg() {
  try {
    RequestStop(true);
    // The worker has delivered the end but may still be flushing the log, which can wait for
    // the main thread.
    if (ownedConvertThread_ && ownedConvertThread_->Started()) WaitForEvent(RunDoneEvent);
    ownedConvertThread_.reset();
    if (terminateThread_) WaitForEvent(TerminateDoneEvent);
    terminateThread_.reset();
    Cleanup();
  } catch (const std::exception& e) {
    DefaultLogger().Log(this, llError, e.what());
  }
}

// ------------------------------------------------------------------ start and the run

TConvertThread* TCustomFFmpeg::Start(bool inThread, int priority) {
  {
    std::lock_guard<std::mutex> lock(runStateMutex_);
    if (Running || Terminated || terminateDelivered_ || terminateThreadPending_) return nullptr;
  }
  const char* missing = nullptr;
  if (OutputFileCount() == 0) {
    missing = "At least one output file must be specified";
  } else if (InputFileCount() == 0) {
    missing = "At least one input file must be specified";
  }
  if (missing != nullptr) {
    Guarded(*this, [this] { Cleanup(); });
    DefaultLogger().Log(this, llQuiet, missing);
    Exception = true;
    ExceptionMsg = missing;
    DeliverTerminate();
    return nullptr;
  }

  Running = true;
  StopRequested = false;
  PauseGate.Rearm();
  Finished = false;
  Terminated = false;
  if (!inThread) {
    Run();
    return nullptr;
  }
  RunDoneEvent.Reset();
  ownedConvertThread_ = std::make_unique<TConvertThread>(*this, priority);
  ConvertThread = ownedConvertThread_.get();
  return ownedConvertThread_.get();
}

void TCustomFFmpeg::Run() {
  Finished = false;
  Guarded(*this, [this] { Transcode(); });
  Guarded(*this, [this] {
    CloseOpenedEncoders();
    CloseOpenedDecoders();
  });
  Guarded(*this, [this] { Cleanup(); });
  Guarded(*this, [this] { DeliverTerminate(); });
  // An empty quiet message makes the log write out a pending "Last message repeated" note. It is
  // an empty text, not a null one: whatever callback the library has may format it.
  lib::av_log(nullptr, AV_LOG_QUIET, "%s", "");
}

void TCustomFFmpeg::DeliverTerminate() {
  {
    std::lock_guard<std::mutex> lock(runStateMutex_);
    if (terminateDelivered_) return;
    terminateDelivered_ = true;
    Running = false;
    Terminated = true;
    ConvertThread = nullptr;
  }
  if (OnTerminate) OnTerminate(this);
}

// ------------------------------------------------------------------ stop, pause, resume

void TCustomFFmpeg::RequestStop(bool wait) {
  TCustomFFmpegOpt::RequestStop();
  TConvertThread* thread = ConvertThread.load();
  if (thread == nullptr) return;
  // A worker created suspended and never resumed must run to see the stop and end.
  thread->Resume();
  if (wait) WaitForEvent(RunDoneEvent);
}

void TCustomFFmpeg::Stop(bool wait) {
  if (Running) {
    RequestStop(wait);
    return;
  }
  {
    std::lock_guard<std::mutex> lock(runStateMutex_);
    if (Terminated || terminateDelivered_) return;
    if (!terminateThreadPending_) {
      // One end notification per task: a second Stop before the first has delivered only waits.
      terminateThreadPending_ = true;
      TerminateDoneEvent.Reset();
      terminateThread_ = std::make_unique<TDoTerminateThread>(*this);
    }
  }
  if (wait) WaitForEvent(TerminateDoneEvent);
}

void TCustomFFmpeg::Pause() {
  if (Running) PauseGate.Close();
}

void TCustomFFmpeg::Resume() {
  if (TConvertThread* thread = ConvertThread.load()) thread->Resume();
  PauseGate.Open();
}

// ------------------------------------------------------------------ settings

void TCustomFFmpeg::SetHookBitsPixel(int bits) {
  HookConverter.SetBitsPixel(bits);
  PreviewConverter.SetBitsPixel(bits);
}

int TCustomFFmpeg::AddVideoHook(TOptionsContext* /*o*/, const char* /*key*/, const char* argument) {
  if (AddVideoHookText(HookModules, OrEmpty(argument)) != 0) {
    Fail("Failed to add video hook function: " + std::string(OrEmpty(argument)));
  }
  return 0;
}

int TCustomFFmpeg::SetVideoHookBitsPixel(TOptionsContext* /*o*/, const char* /*key*/, const char* argument) {
  const char* text = OrEmpty(argument);
  char* end = nullptr;
  errno = 0;
  const long value = std::strtol(text, &end, 10);
  if (*text == '\0' || *end != '\0' || errno == ERANGE || value < INT_MIN || value > INT_MAX) {
    OptionErrorText() = FormatText("''%s'' is not a valid integer value", text);
    DefaultLogger().Log(this, llError, OptionErrorText());
    return -22;
  }
  SetHookBitsPixel(static_cast<int>(value));
  return 0;
}

}  // namespace lumivor
