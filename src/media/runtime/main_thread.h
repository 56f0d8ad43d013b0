#pragma once

// The process-wide main-thread dispatcher.
//
// Components raise their events on the main thread: a worker hands the call
// to RunInMainThread and waits until the main thread has run it; on the main
// thread the call runs at once. The main thread runs queued calls only when it
// says so: ServeSynchronizedCalls() from its event loop (the gui, the command-
// line loop) and WaitServing() wherever it would otherwise block waiting for
// a worker. A main thread that blocks without serving while a worker waits
// for it is a deadlock, exactly as it would be with any synchronous hand-off.
//
// Which thread is the main thread: the one that initialised the dispatcher.
// That happens during static initialisation of the program, i.e. on the
// process's initial thread before main() starts, so the thread that runs
// main() is the main thread without anyone having to declare it.
//
// No toolkit is involved; a toolkit loop that sleeps in its own wait installs
// a wake-up handler so that queued calls wake it.

#include <chrono>
#include <functional>
#include <sys/types.h>

namespace lumivor {

bool IsMainThread();

// Runs call on the main thread and returns when it has run. An exception the
// call throws is re-thrown in the caller.
void RunInMainThread(const std::function<void()>& call);

// Runs call on the main thread when the process-wide switch is on and the
// caller is not the main thread; otherwise calls it directly.
void RaiseEvent(const std::function<void()>& call);

// Process-wide switch "raise events through the main thread", on by default.
bool TriggerEventsInMainThread();
void SetTriggerEventsInMainThread(bool on);

// Main thread only: runs every queued call (also those queued while serving)
// and returns how many ran. Does nothing on another thread.
int ServeSynchronizedCalls();

// Main thread: serves queued calls until condition() is true or the timeout
// passes; returns the condition's last value. Another thread just waits.
// The condition is polled every few milliseconds and after every call served,
// and at once when WakeMainThread() is called.
bool WaitServing(const std::function<bool()>& condition,
                 std::chrono::milliseconds timeout = std::chrono::milliseconds::max());

// Calls queued and not yet taken by the main thread.
int PendingSynchronizedCallCount();

// Wakes a WaitServing on the main thread so that it tests its condition now.
void WakeMainThread();

// Called (on the queuing thread) each time a call is queued, so that a
// toolkit event loop can be woken to serve it. Empty to remove.
void SetMainThreadWakeUpHandler(std::function<void()> handler);

// The kernel's id of the calling thread (as log lines show it).
pid_t CurrentThreadId();

}  // namespace lumivor
