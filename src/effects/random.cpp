#include "effects/random.h"

namespace lumivor {

thread_local constinit std::uint32_t RandomSeed = 0;

std::uint32_t RandomInt(std::uint32_t n) {
  RandomSeed = RandomSeed * 134775813u + 1u;
  return static_cast<std::uint32_t>((static_cast<std::uint64_t>(RandomSeed) * n) >> 32);
}

}  // namespace lumivor
