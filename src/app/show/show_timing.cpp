#include "app/show/show_timing.h"

#include <algorithm>

namespace lumivor {

namespace {

std::int64_t at_least_one(int frames) { return std::max(frames, 1); }

}  // namespace

std::int64_t ShowTiming::FrameCount() const {
  std::int64_t frames = ShowTailFrames;
  for (const int hold : HoldFrames) frames += at_least_one(hold);
  for (const int transition : TransitionFrames) frames += at_least_one(transition);
  return frames;
}

std::int64_t ShowTiming::TransitionStartFrame(std::size_t k) const {
  std::int64_t frame = 0;
  const std::size_t transitions = std::min(k, TransitionFrames.size());
  for (std::size_t i = 0; i < transitions; ++i) frame += at_least_one(TransitionFrames[i]);
  const std::size_t holds = std::min(k, HoldFrames.size());
  for (std::size_t i = 0; i < holds; ++i) frame += at_least_one(HoldFrames[i]);
  return frame;
}

ShowTiming UniformTiming(int photos, int holdFrames, int transitionFrames) {
  const std::size_t count = static_cast<std::size_t>(std::max(photos, 0));
  ShowTiming timing;
  timing.HoldFrames.assign(count, std::max(holdFrames, 1));
  timing.TransitionFrames.assign(count + 1, std::max(transitionFrames, 1));
  return timing;
}

std::int64_t ShowFrameCount(std::int64_t photos, std::int64_t holdFrames, std::int64_t transitionFrames) {
  return (photos + 1) * transitionFrames + photos * holdFrames + ShowTailFrames;
}

}  // namespace lumivor
