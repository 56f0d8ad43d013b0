#include "media/engine/interrupt_callbacks.h"

#include <utility>

#include "media/engine/ffmpeg_opt.h"
#include "media/runtime/ff_log.h"

namespace lumivor {
namespace {

struct Texts {
  const char* TimedOut;
  const char* Canceled;
};

int Poll(TCustomFFmpegOpt& engine, std::atomic<std::int64_t>& startStamp, std::int32_t timeoutMs,
         const Texts& texts, bool stopBreaks) {
  // A paused task holds still here, inside the library's blocking call. The paused time does not
  // count against the time-out: the stamp moves on by what the wait took.
  const std::int64_t paused = engine.PauseGate.Wait();
  if (stopBreaks && engine.StopRequested.load()) {
    DefaultLogger().Log(&engine, llInfo, "reading/writing broken");
    return 1;
  }
  std::int64_t start = startStamp.load();
  if (paused > 0 && start != kNoLimit && start != 0) {
    startStamp.compare_exchange_strong(start, start + paused);
    start = startStamp.load();
  }
  return TimeOutReached(&engine, llInfo, start, timeoutMs, texts.TimedOut, texts.Canceled);
}

}  // namespace

int TimeOutReached(const void* sender, TLogLevel level, std::int64_t start, std::int32_t timeoutMs,
                   const char* timedOutText, const char* canceledText) {
  if (start == kNoLimit || timeoutMs <= 0) return 0;
  if (MonotonicMicroseconds() - start > static_cast<std::int64_t>(timeoutMs) * 1000) {
    DefaultLogger().Log(sender, level, start == 0 ? canceledText : timedOutText);
    return 1;
  }
  return 0;
}

std::int64_t MonotonicMicroseconds() {
  return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

void RunGate::Close() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!stopped_) closed_ = true;
}

void RunGate::Stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopped_ = true;
    closed_ = false;
  }
  opened_.notify_all();
}

void RunGate::Rearm() {
  std::lock_guard<std::mutex> lock(mutex_);
  stopped_ = false;
}

void RunGate::Open() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    closed_ = false;
  }
  opened_.notify_all();
}

bool RunGate::IsClosed() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return closed_;
}

std::int64_t RunGate::Wait() {
  std::unique_lock<std::mutex> lock(mutex_);
  if (!closed_) return 0;
  const std::int64_t begin = MonotonicMicroseconds();
  opened_.wait(lock, [this] { return !closed_; });
  const std::int64_t waited = MonotonicMicroseconds() - begin;
  waited_ += waited;
  return waited;
}

std::int64_t RunGate::TakeWaited() {
  std::lock_guard<std::mutex> lock(mutex_);
  return std::exchange(waited_, 0);
}

int ReadInterruptCallback(void* opaque) {
  auto& engine = *static_cast<TCustomFFmpegOpt*>(opaque);
  return Poll(engine, engine.ReadStartTime, engine.ReadTimeout,
              Texts{"connecting/reading timeout", "connecting/reading canceled"}, true);
}

int WriteInterruptCallback(void* opaque) {
  auto& engine = *static_cast<TCustomFFmpegOpt*>(opaque);
  // The library polls this before every write to a file, not only in blocking calls: once the
  // muxing has begun a stop must not fail those writes, or the output would end without its
  // trailer and not play.
  return Poll(engine, engine.WriteStartTime, engine.WriteTimeout,
              Texts{"connecting/writing timeout", "connecting/writing canceled"}, !engine.IgnoreStopOnWrite.load());
}

}  // namespace lumivor
