#include "media/components/player_clock.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>

namespace lumivor {
namespace {

constexpr double kNoSyncThreshold = 10.0;  // seconds; beyond this the clocks are not compared
constexpr double kSyncThresholdMin = 0.01;
constexpr double kSpeedMin = 0.900;
constexpr double kSpeedMax = 1.010;
constexpr double kSpeedStep = 0.001;

}  // namespace

double PlayerTime() {
  using namespace std::chrono;
  return duration<double>(steady_clock::now().time_since_epoch()).count();
}

double PlaybackClock::Get() const { return GetAt(PlayerTime()); }

double PlaybackClock::GetAt(double time) const {
  std::lock_guard<std::mutex> guard(mutex_);
  if (!valid_) return std::numeric_limits<double>::quiet_NaN();
  if (paused_ != nullptr && paused_->load()) return pts_;
  return drift_ + time - (time - lastUpdated_) * (1.0 - speed_);
}

void PlaybackClock::Set(double value, double time) {
  std::lock_guard<std::mutex> guard(mutex_);
  valid_ = !std::isnan(value);
  pts_ = value;
  lastUpdated_ = time;
  drift_ = value - time;
}

void PlaybackClock::Restart() {
  const double time = PlayerTime();
  const double value = GetAt(time);
  Set(value, time);
}

void PlaybackClock::SetSpeed(double speed) {
  const double time = PlayerTime();
  const double value = GetAt(time);
  Set(value, time);
  std::lock_guard<std::mutex> guard(mutex_);
  speed_ = speed;
}

double PlaybackClock::Speed() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return speed_;
}

void PlaybackClock::Follow(const PlaybackClock& other) {
  const double mine = Get();
  const double theirs = other.Get();
  if (!std::isnan(theirs) && (std::isnan(mine) || std::fabs(mine - theirs) > kNoSyncThreshold)) Set(theirs);
}

double TargetDelay(double delay, double videoClock, double masterClock) {
  const double diff = videoClock - masterClock;
  if (std::isnan(diff) || std::fabs(diff) >= kNoSyncThreshold) return delay;
  const double threshold = std::max(kSyncThresholdMin, delay);
  if (diff <= -threshold) return 0;
  if (diff >= threshold) return 2 * delay;
  return delay;
}

double ExternalClockSpeed(double speed, int videoPackets, int audioPackets) {
  const bool hasVideo = videoPackets >= 0;
  const bool hasAudio = audioPackets >= 0;
  if ((hasVideo && videoPackets <= 2) || (hasAudio && audioPackets <= 2)) return std::max(kSpeedMin, speed - kSpeedStep);
  if ((!hasVideo || videoPackets > 10) && (!hasAudio || audioPackets > 10)) return std::min(kSpeedMax, speed + kSpeedStep);
  if (speed == 1.0) return speed;
  const double eased = speed + kSpeedStep * (1.0 - speed) / std::fabs(1.0 - speed);
  // Never step across 1.
  return (speed < 1.0) == (eased < 1.0) ? eased : 1.0;
}

}  // namespace lumivor
