// Stored sRGB levels and the light they stand for. Pictures are averaged as light, not as their
// stored levels: a fine black and white pattern must keep the brightness it shows (about level
// 188), where averaging the levels makes it 128 and visibly darker. The tables are built once; no
// pixel pays for a power.
#pragma once

#include <cstdint>

namespace lumivor {

// The standard sRGB curve, from a stored level in [0, 1] to light in [0, 1].
double SrgbToLight(double level);

class LightLevels {
 public:
  // The process's one set of tables, built on first use (thread-safe).
  static const LightLevels& Get();

  // Level v's light in [0, 1]; Plain is v / 255 for a byte that is not a colour.
  float Linear[256];
  float Plain[256];
  // Level v's light in whole steps of 1 / 65535: exact sums of a block of up to 65536 pixels
  // stay within 32 bits, and the darkest levels (about 20 steps apart) stay distinct.
  std::uint16_t Light16[256];

  // The level whose light is nearest in levels: level v takes the light from halfway below it to
  // halfway above it, so that a level's own light always comes back as that level.
  std::uint8_t ToLevel(float light) const;
  std::uint8_t ToLevel(double light) const;

 private:
  LightLevels();

  // Fine steps over [0, 1]: narrower than the smallest gap between two levels' thresholds (a dark
  // level's light is 1 / (255 * 12.92) wide), so each step holds at most one threshold.
  static constexpr int Steps = 4096;
  float threshold_[256];
  double thresholdExact_[256];
  std::uint8_t startLevel_[Steps];
};

}  // namespace lumivor
