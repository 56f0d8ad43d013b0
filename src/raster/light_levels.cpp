#include "raster/light_levels.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace lumivor {

double SrgbToLight(double level) {
  return level <= 0.04045 ? level / 12.92 : std::pow((level + 0.055) / 1.055, 2.4);
}

LightLevels::LightLevels() {
  for (int v = 0; v < 256; ++v) {
    const double light = SrgbToLight(v / 255.0);
    Linear[v] = static_cast<float>(light);
    Plain[v] = static_cast<float>(v / 255.0);
    Light16[v] = static_cast<std::uint16_t>(std::lround(light * 65535.0));
  }
  for (int v = 0; v < 255; ++v) {
    thresholdExact_[v] = SrgbToLight((v + 0.5) / 255.0);
    threshold_[v] = static_cast<float>(thresholdExact_[v]);
  }
  thresholdExact_[255] = std::numeric_limits<double>::infinity();
  threshold_[255] = std::numeric_limits<float>::infinity();
  int level = 0;
  for (int i = 0; i < Steps; ++i) {
    const double start = static_cast<double>(i) / Steps;
    while (start >= thresholdExact_[level]) ++level;
    startLevel_[i] = static_cast<std::uint8_t>(level);
  }
}

const LightLevels& LightLevels::Get() {
  static const LightLevels tables;
  return tables;
}

// The fine step's first level, moved up once if the light is past the threshold inside the step.
std::uint8_t LightLevels::ToLevel(float light) const {
  const int step = std::clamp(static_cast<int>(light * Steps), 0, Steps - 1);
  int level = startLevel_[step];
  if (light >= threshold_[level]) ++level;
  return static_cast<std::uint8_t>(level);
}

std::uint8_t LightLevels::ToLevel(double light) const {
  const int step = std::clamp(static_cast<int>(light * Steps), 0, Steps - 1);
  int level = startLevel_[step];
  if (light >= thresholdExact_[level]) ++level;
  return static_cast<std::uint8_t>(level);
}

}  // namespace lumivor
