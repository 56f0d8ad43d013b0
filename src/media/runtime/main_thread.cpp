#include "media/runtime/main_thread.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>

namespace lumivor {

namespace {

// One queued call. It lives on the stack of the worker that queued it, which
// waits until Done, so the main thread may use it until it sets Done.
struct PendingCall {
  const std::function<void()>* Call = nullptr;
  std::exception_ptr Error;
  bool Done = false;
};

struct Dispatcher {
  std::thread::id MainThread = std::this_thread::get_id();
  std::mutex Lock;
  std::condition_variable CallQueued;  // wakes the main thread
  std::condition_variable CallDone;    // wakes waiting workers
  std::deque<PendingCall*> Queue;
  std::function<void()> WakeUpHandler;
  bool WakeRequested = false;
  std::atomic<bool> TriggerInMainThread{true};
};

// Never destroyed: workers still running while the program exits must find
// it. Its construction fixes the main thread.
Dispatcher& TheDispatcher() {
  static Dispatcher* dispatcher = new Dispatcher;
  return *dispatcher;
}

// Initialise during static initialisation, i.e. on the process's initial
// thread, so that the main thread is never a worker that happened to queue
// the first call.
[[maybe_unused]] const bool DispatcherInitialised = (TheDispatcher(), true);

}  // namespace

bool IsMainThread() { return std::this_thread::get_id() == TheDispatcher().MainThread; }

void RunInMainThread(const std::function<void()>& call) {
  if (IsMainThread()) {
    call();
    return;
  }
  Dispatcher& d = TheDispatcher();
  PendingCall pending;
  pending.Call = &call;
  std::function<void()> wakeUp;
  {
    std::lock_guard<std::mutex> guard(d.Lock);
    d.Queue.push_back(&pending);
    wakeUp = d.WakeUpHandler;
  }
  d.CallQueued.notify_all();
  if (wakeUp) wakeUp();
  {
    std::unique_lock<std::mutex> lock(d.Lock);
    d.CallDone.wait(lock, [&] { return pending.Done; });
  }
  if (pending.Error) std::rethrow_exception(pending.Error);
}

void RaiseEvent(const std::function<void()>& call) {
  if (TriggerEventsInMainThread() && !IsMainThread()) {
    RunInMainThread(call);
  } else {
    call();
  }
}

bool TriggerEventsInMainThread() { return TheDispatcher().TriggerInMainThread.load(); }

void SetTriggerEventsInMainThread(bool on) { TheDispatcher().TriggerInMainThread = on; }

int ServeSynchronizedCalls() {
  if (!IsMainThread()) return 0;
  Dispatcher& d = TheDispatcher();
  int served = 0;
  for (;;) {
    PendingCall* pending = nullptr;
    {
      std::lock_guard<std::mutex> guard(d.Lock);
      if (d.Queue.empty()) break;
      pending = d.Queue.front();
      d.Queue.pop_front();
    }
    // Run without the lock: the call may itself queue nothing (it is on the
    // main thread) but may serve again through a nested wait.
    try {
      (*pending->Call)();
    } catch (...) {
      pending->Error = std::current_exception();
    }
    {
      std::lock_guard<std::mutex> guard(d.Lock);
      pending->Done = true;
    }
    d.CallDone.notify_all();
    ++served;
  }
  return served;
}

bool WaitServing(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
  using Clock = std::chrono::steady_clock;
  // Conditions are owned by other locks and other notifiers, so besides being
  // woken by queued calls and WakeMainThread the wait re-tests on a short
  // period; a missed notification costs at most this much.
  constexpr auto poll = std::chrono::milliseconds(5);
  const bool forever = timeout == std::chrono::milliseconds::max();
  const auto deadline = forever ? Clock::time_point::max() : Clock::now() + timeout;
  Dispatcher& d = TheDispatcher();
  const bool main = IsMainThread();
  for (;;) {
    if (main) ServeSynchronizedCalls();
    if (condition()) return true;
    const auto now = Clock::now();
    if (now >= deadline) return false;
    const auto slice = forever ? poll : std::min<Clock::duration>(poll, deadline - now);
    std::unique_lock<std::mutex> lock(d.Lock);
    d.CallQueued.wait_for(lock, slice, [&] { return d.WakeRequested || (main && !d.Queue.empty()); });
    d.WakeRequested = false;
  }
}

int PendingSynchronizedCallCount() {
  Dispatcher& d = TheDispatcher();
  std::lock_guard<std::mutex> guard(d.Lock);
  return static_cast<int>(d.Queue.size());
}

void WakeMainThread() {
  Dispatcher& d = TheDispatcher();
  {
    std::lock_guard<std::mutex> guard(d.Lock);
    d.WakeRequested = true;
  }
  d.CallQueued.notify_all();
}

void SetMainThreadWakeUpHandler(std::function<void()> handler) {
  Dispatcher& d = TheDispatcher();
  std::lock_guard<std::mutex> guard(d.Lock);
  d.WakeUpHandler = std::move(handler);
}

pid_t CurrentThreadId() { return static_cast<pid_t>(::syscall(SYS_gettid)); }

}  // namespace lumivor
