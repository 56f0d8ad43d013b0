// What lets a blocked library call give up or hold still: the read and write interrupt
// callbacks (stop flag and time-outs) and the pause gate.
//
// Pause cannot suspend a thread here, so pausing closes a gate the worker waits at: at the top of
// each loop turn, before each read, decode and encode, and inside the interrupt callbacks, so
// that blocking library I/O holds still as well. A stop request opens the gate first.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "media/runtime/ff_log.h"

namespace lumivor {

class TCustomFFmpegOpt;

// The clock the start stamps and the time-outs are measured on, in microseconds. Steady, so a
// change of the wall clock neither fires nor hides a time-out.
std::int64_t MonotonicMicroseconds();

class RunGate {
 public:
  // Does nothing once stopped: a pause that comes after a stop request must not hold the worker.
  void Close();
  void Open();
  // Opens the gate and keeps it open until Rearm.
  void Stop();
  // A new run: the gate may be closed again.
  void Rearm();
  bool IsClosed() const;
  // Returns at once while the gate is open; otherwise waits until it is opened. The result is
  // the time spent waiting, in microseconds.
  std::int64_t Wait();
  // The time all waits have held since the last call, so that clocks which must not count a
  // pause (rate emulation) can move on by it, whichever wait it was spent in.
  std::int64_t TakeWaited();

 private:
  mutable std::mutex mutex_;
  std::condition_variable opened_;
  bool closed_ = false;
  bool stopped_ = false;
  std::int64_t waited_ = 0;
};

// The time-out rule of every interrupt callback, the engine's and those of the components that
// read with a time-out of their own. start is when the blocking operation began (on
// MonotonicMicroseconds), the largest int64 while nothing is under way, 0 when no start was
// recorded. 1 (give up, logged at level with the sender) once more than timeoutMs has passed;
// never with a time-out of 0 or less.
int TimeOutReached(const void* sender, TLogLevel level, std::int64_t start, std::int32_t timeoutMs,
                   const char* timedOutText, const char* canceledText);

// The two callbacks (AVIOInterruptCB::callback); opaque is the engine object. 1 = abort.
int ReadInterruptCallback(void* opaque);
int WriteInterruptCallback(void* opaque);

}  // namespace lumivor
