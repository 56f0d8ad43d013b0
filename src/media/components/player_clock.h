// The player's clocks (audio, video and external) and the rules that keep pictures in step with
// the master clock. Times are in seconds of the system's monotonic clock.
#pragma once

#include <atomic>
#include <mutex>

namespace lumivor {

// Seconds since an arbitrary start, monotonic.
double PlayerTime();

class PlaybackClock {
 public:
  // paused: the play context's flag; while it is set a clock stands at its stored value.
  explicit PlaybackClock(const std::atomic<bool>* paused) : paused_(paused) {}

  // NaN when the clock has no value.
  double Get() const;
  double GetAt(double time) const;
  void Set(double value, double time);
  void Set(double value) { Set(value, PlayerTime()); }
  // Restarts from the current value, e.g. after a pause, so that the time spent stands still.
  void Restart();
  void SetSpeed(double speed);
  double Speed() const;
  // Takes the other clock's value when this one has none or is more than 10 s away from it.
  void Follow(const PlaybackClock& other);

 private:
  mutable std::mutex mutex_;
  const std::atomic<bool>* paused_;
  double pts_;
  double drift_;
  double lastUpdated_;
  double speed_ = 1.0;
  bool valid_ = false;
};

// Nominal delay before the next picture, corrected against the master clock when video is not
// the master: late pictures go at once, early ones wait twice as long.
double TargetDelay(double delay, double videoClock, double masterClock);

// The external clock's next speed when it is the master: a starving queue slows it down, full
// queues speed it up, anything else eases it back towards 1. A count below 0 means the stream
// does not exist.
double ExternalClockSpeed(double speed, int videoPackets, int audioPackets);

}  // namespace lumivor
