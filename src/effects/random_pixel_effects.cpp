// Seeded random copies: single pixels, whole rows or whole columns of the new picture in place.
// Every call restarts the generator's sequence at the new picture's SourceSeed, so what is chosen
// at one progress stays chosen at every higher one, and leaves the shared RandomSeed as it was.
#include <cstdint>
#include <cstring>
#include <vector>

#include "effects/effect_procs.h"
#include "effects/random.h"

namespace lumivor::transitions {

namespace {

constexpr int PixelBytes = 4;

// Dissolve makes one draw per pixel, and a call plus a store to the shared state per pixel, or
// even the one multiply-add chain of the generator, cost several times the pixel copy. So the loop
// runs the generator's own step on local lanes instead: lane k holds the draw for pixel k of each
// group of Lanes pixels and jumps Lanes steps at a time, which breaks the dependency chain. The
// steps must stay exactly the shared generator's; the tests compare every pixel with RandomInt.
constexpr std::uint32_t GeneratorMultiplier = 134775813u;
constexpr int Lanes = 8;

// A seed advanced by n steps is Multiplier * seed + Increment.
struct GeneratorJump {
  std::uint32_t Multiplier;
  std::uint32_t Increment;
};

constexpr GeneratorJump jump_of(int steps) {
  GeneratorJump j{1u, 0u};
  for (int i = 0; i < steps; ++i) j = {j.Multiplier * GeneratorMultiplier, j.Increment * GeneratorMultiplier + 1u};
  return j;
}

}  // namespace

void Dissolve(Bitmap& Dest, const Bitmap& Source, int FrameWidth, int FrameHeight, int, int, int Progress) {
  // The draws run on local lanes only, so the shared RandomSeed is never touched.
  // RandomInt(100) < p exactly when the advanced seed is below ceil(p * 2^32 / 100).
  const std::uint64_t threshold = ((std::uint64_t{static_cast<std::uint32_t>(Progress)} << 32) + 99) / 100;
  std::uint32_t lane[Lanes];
  std::uint32_t seed = Source.SourceSeed();
  for (std::uint32_t& draw : lane) draw = seed = seed * GeneratorMultiplier + 1u;
  constexpr GeneratorJump ahead = jump_of(Lanes);

  // 32-bit rows carry no padding, so bottom-up order, the order of the draws, is simply the
  // order of the pixel memory.
  const std::size_t count = static_cast<std::size_t>(FrameWidth) * FrameHeight;
  std::uint8_t* target = Dest.Bits();
  const std::uint8_t* source = Source.Bits();
  std::size_t i = 0;
  for (; i + Lanes <= count; i += Lanes)
    for (int k = 0; k < Lanes; ++k) {
      std::uint32_t d;
      std::uint32_t s;
      std::memcpy(&d, target + PixelBytes * (i + k), PixelBytes);
      std::memcpy(&s, source + PixelBytes * (i + k), PixelBytes);
      d = lane[k] < threshold ? s : d;
      std::memcpy(target + PixelBytes * (i + k), &d, PixelBytes);
      lane[k] = lane[k] * ahead.Multiplier + ahead.Increment;
    }
  for (int k = 0; i < count; ++i, ++k)
    if (lane[k] < threshold) std::memcpy(target + PixelBytes * i, source + PixelBytes * i, PixelBytes);
}

void RandomBarsHorizontal(Bitmap& Dest, const Bitmap& Source, int FrameWidth, int FrameHeight, int, int,
                          int Progress) {
  const SeededRandom seeded(Source.SourceSeed());
  const int stride = Dest.Stride();
  for (int r = 0; r < FrameHeight; ++r)  // bottom-up
    if (RandomInt(100) < static_cast<std::uint32_t>(Progress))
      std::memcpy(Dest.Bits() + static_cast<std::ptrdiff_t>(r) * stride,
                  Source.Bits() + static_cast<std::ptrdiff_t>(r) * stride,
                  static_cast<std::size_t>(FrameWidth) * PixelBytes);
}

void RandomBarsVertical(Bitmap& Dest, const Bitmap& Source, int FrameWidth, int FrameHeight, int, int,
                        int Progress) {
  // One all-ones or all-zeros word per column: the rows are then merged without a branch per
  // pixel, which would mispredict half the time around the middle of the transition.
  std::vector<std::uint32_t> fromSource(static_cast<std::size_t>(FrameWidth));
  {
    const SeededRandom seeded(Source.SourceSeed());
    for (std::uint32_t& column : fromSource)
      column = RandomInt(100) < static_cast<std::uint32_t>(Progress) ? 0xFFFFFFFFu : 0u;
  }
  const int stride = Dest.Stride();
  for (int r = 0; r < FrameHeight; ++r) {
    std::uint8_t* target = Dest.Bits() + static_cast<std::ptrdiff_t>(r) * stride;
    const std::uint8_t* source = Source.Bits() + static_cast<std::ptrdiff_t>(r) * stride;
    for (int x = 0; x < FrameWidth; ++x) {
      std::uint32_t d;
      std::uint32_t s;
      std::memcpy(&d, target + PixelBytes * x, PixelBytes);
      std::memcpy(&s, source + PixelBytes * x, PixelBytes);
      d = (d & ~fromSource[x]) | (s & fromSource[x]);
      std::memcpy(target + PixelBytes * x, &d, PixelBytes);
    }
  }
}

}  // namespace lumivor::transitions
