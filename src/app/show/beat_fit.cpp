#include "app/show/beat_fit.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>

namespace lumivor {

namespace {

std::int64_t at_least_one(int frames) { return std::max(frames, 1); }

}  // namespace

ShowTiming FitTimingToBeats(const ShowTiming& plan, const std::vector<double>& beatSeconds, FrameRateParts rate) {
  ShowTiming fitted = plan;
  if (beatSeconds.empty() || rate.Numerator <= 0 || rate.Denominator <= 0) return fitted;
  // Each beat's frame: the frame shown at the beat's time, to the nearest.
  std::vector<std::int64_t> beats;
  beats.reserve(beatSeconds.size());
  for (const double seconds : beatSeconds) {
    if (!std::isfinite(seconds) || seconds < 0) continue;
    beats.push_back(std::llround(seconds * rate.Numerator / rate.Denominator));
  }
  std::sort(beats.begin(), beats.end());
  beats.erase(std::unique(beats.begin(), beats.end()), beats.end());
  if (beats.empty()) return fitted;

  // Where hold i ends (transition i + 1 starts), in the fitted show, is decided hold by hold.
  const std::size_t holds = std::min(plan.HoldFrames.size(), plan.TransitionFrames.size());
  std::int64_t holdStart = at_least_one(plan.TransitionFrames.empty() ? 1 : plan.TransitionFrames[0]);
  for (std::size_t i = 0; i < holds; ++i) {
    const std::int64_t planned = at_least_one(plan.HoldFrames[i]);
    const std::int64_t change = planned / BeatFitHoldChangeDivisor;
    const std::int64_t earliest = holdStart + std::max<std::int64_t>(1, planned - change);
    const std::int64_t latest = holdStart + planned + change;
    const std::int64_t target = plan.TransitionStartFrame(i + 1);
    // On the beat in reach nearest the planned start; without one, as near the plan as reachable.
    std::int64_t start = std::clamp(target, earliest, latest);
    bool onBeat = false;
    for (auto beat = std::lower_bound(beats.begin(), beats.end(), earliest); beat != beats.end() && *beat <= latest;
         ++beat) {
      if (!onBeat || std::llabs(*beat - target) < std::llabs(start - target)) start = *beat;
      onBeat = true;
    }
    fitted.HoldFrames[i] = static_cast<int>(start - holdStart);
    holdStart = start + at_least_one(plan.TransitionFrames[i + 1]);
  }
  return fitted;
}

}  // namespace lumivor
