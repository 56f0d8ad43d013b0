// A show's timing in frames: how long each photo is held and each transition lasts. The sequencer
// draws by it, and the video's length, the progress and the sound's length are all counted from
// it, so that none of them can disagree with the frames really made.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace lumivor {

// The black frames after the closing transition.
constexpr std::int64_t ShowTailFrames = 2;

struct ShowTiming {
  // One per photo, each >= 1.
  std::vector<int> HoldFrames;
  // Photos + 1: [0] brings the first photo in from black, [i] follows photo i - 1 (the last one
  // goes to black).
  std::vector<int> TransitionFrames;

  // Every transition and hold plus ShowTailFrames. Entries below 1 count as 1, as the sequencer
  // draws them.
  std::int64_t FrameCount() const;
  // The first frame (from 0) of transition k: all transitions and holds before it. A k past the
  // last transition gives the first frame after it, where the black tail begins.
  std::int64_t TransitionStartFrame(std::size_t k) const;
};

// Every photo held for holdFrames and every transition transitionFrames long (each at least 1).
// No photos: the one transition from black to black, as an empty show has always been counted.
ShowTiming UniformTiming(int photos, int holdFrames, int transitionFrames);

// Frames of a whole show: a transition before every photo and one to black after the last, every
// photo held, and the two black tail frames. Agrees with UniformTiming(...).FrameCount() for
// counts of 1 and more, without building the lists.
std::int64_t ShowFrameCount(std::int64_t photos, std::int64_t holdFrames, std::int64_t transitionFrames);

}  // namespace lumivor
