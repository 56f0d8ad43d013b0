// The pseudo-random generator the sequencer's random effect choice and the effects draw from. The
// sequence is part of what the transitions draw, so it must never change.
#pragma once

#include <cstdint>

namespace lumivor {

// Current state of the generator, one per thread. Frames are drawn on several threads at once (a
// preview's worker, a render's reading thread, a gallery's animations on the main thread): with one
// state for the process their draws would race and interleave, and a render's random pictures
// would depend on what else was drawing. Whoever draws a sequence of its own installs its state
// here first (FrameSequencer does at each entry, SeededRandom for a seeded effect).
extern thread_local constinit std::uint32_t RandomSeed;

// Advances the seed (seed * 134775813 + 1 mod 2^32) and returns the upper 32 bits of seed * n,
// a value in 0 .. n-1. RandomInt(0) returns 0 and still advances the seed.
std::uint32_t RandomInt(std::uint32_t n);

// Seeded effects draw the same sequence on every frame and leave the thread's one undisturbed:
// construction saves RandomSeed and sets it to seed, destruction restores it on every exit path.
class SeededRandom {
 public:
  explicit SeededRandom(std::uint32_t seed) : saved_(RandomSeed) { RandomSeed = seed; }
  ~SeededRandom() { RandomSeed = saved_; }
  SeededRandom(const SeededRandom&) = delete;
  SeededRandom& operator=(const SeededRandom&) = delete;

 private:
  std::uint32_t saved_;
};

}  // namespace lumivor
