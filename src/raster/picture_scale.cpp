#include "raster/picture_scale.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

namespace lumivor {

namespace {

// Filter weights are fixed point with this many fraction bits; a destination pixel's weights add up
// to exactly 1 << WeightBits, so a flat area stays exactly its colour.
constexpr int WeightBits = 14;
constexpr int WeightOne = 1 << WeightBits;

// The source pixels and weights one destination pixel on one axis is made of.
struct AxisTaps {
  std::vector<int> First;   // per destination pixel: index into Index and Weight
  std::vector<int> Count;   // per destination pixel: how many taps
  std::vector<int> Index;   // source pixel, inside the picture
  std::vector<int> Weight;  // fixed point, adding up to WeightOne per destination pixel
};

void add_tap(AxisTaps& taps, int index, double weight, int sourceSize) {
  taps.Index.push_back(std::clamp(index, 0, sourceSize - 1));
  taps.Weight.push_back(static_cast<int>(std::lround(weight * WeightOne)));
}

// Rounding the weights one by one leaves them a little off their total; the largest takes the
// difference, where it matters least.
void settle_weights(AxisTaps& taps, int first) {
  const auto begin = taps.Weight.begin() + first;
  int total = 0;
  for (auto w = begin; w != taps.Weight.end(); ++w) total += *w;
  *std::max_element(begin, taps.Weight.end()) += WeightOne - total;
}

// Shrinking averages the source pixels under each destination pixel by how much of them it covers
// (an area filter); enlarging interpolates between the two nearest source pixel centres. Positions
// outside the picture take the edge pixel.
AxisTaps axis_taps(int destSize, double sourceStart, double sourceLength, int sourceSize) {
  AxisTaps taps;
  taps.First.reserve(static_cast<std::size_t>(destSize));
  taps.Count.reserve(static_cast<std::size_t>(destSize));
  const double ratio = sourceLength / destSize;
  for (int d = 0; d < destSize; ++d) {
    const int first = static_cast<int>(taps.Index.size());
    if (ratio > 1.0) {
      const double x0 = sourceStart + d * ratio;
      const double x1 = x0 + ratio;
      for (int i = static_cast<int>(std::floor(x0)); i < static_cast<int>(std::ceil(x1)); ++i) {
        const double cover = std::min(x1, i + 1.0) - std::max(x0, static_cast<double>(i));
        if (cover > 0) add_tap(taps, i, cover / ratio, sourceSize);
      }
    } else {
      const double centre = sourceStart + (d + 0.5) * ratio - 0.5;
      const double below = std::floor(centre);
      const double fraction = centre - below;
      add_tap(taps, static_cast<int>(below), 1.0 - fraction, sourceSize);
      add_tap(taps, static_cast<int>(below) + 1, fraction, sourceSize);
    }
    settle_weights(taps, first);
    taps.First.push_back(first);
    taps.Count.push_back(static_cast<int>(taps.Index.size()) - first);
  }
  return taps;
}


// Weights are whole numbers so that they add up to exactly WeightOne; as fractions of it (a power of
// two, and each weight below 2^24) they are exact floats that add up to exactly 1.
float weight_fraction(int weight) { return static_cast<float>(weight) / static_cast<float>(WeightOne); }

// The standard sRGB curve, from a stored level in [0, 1] to light in [0, 1].
double srgb_to_light(double level) {
  return level <= 0.04045 ? level / 12.92 : std::pow((level + 0.055) / 1.055, 2.4);
}

// Pixels are averaged as light, not as their stored levels: a fine black and white pattern must
// keep the brightness it shows (about level 188), where averaging the levels makes it 128 and
// visibly darker. The tables are built once; no pixel pays for a power.
class LightTables {
 public:
  // Fine steps over [0, 1]: narrower than the smallest gap between two levels' thresholds (a dark
  // level's light is 1 / (255 * 12.92) wide), so each step holds at most one threshold.
  static constexpr int Steps = 4096;

  LightTables() {
    for (int v = 0; v < 256; ++v) {
      Linear[v] = static_cast<float>(srgb_to_light(v / 255.0));
      Plain[v] = static_cast<float>(v / 255.0);
    }
    // Level v takes the light from halfway below it to halfway above it: rounding in levels, so
    // that a level's own light always comes back as that level.
    for (int v = 0; v < 255; ++v) threshold_[v] = static_cast<float>(srgb_to_light((v + 0.5) / 255.0));
    threshold_[255] = std::numeric_limits<float>::infinity();
    int level = 0;
    for (int i = 0; i < Steps; ++i) {
      const float start = static_cast<float>(i) / Steps;
      while (start >= threshold_[level]) ++level;
      start_level_[i] = static_cast<std::uint8_t>(level);
    }
  }

  // The level whose light is nearest in levels: the fine step's first level, moved up once if the
  // light is past the threshold inside the step.
  std::uint8_t ToLevel(float light) const {
    const int step = std::clamp(static_cast<int>(light * Steps), 0, Steps - 1);
    int level = start_level_[step];
    if (light >= threshold_[level]) ++level;
    return static_cast<std::uint8_t>(level);
  }

  float Linear[256];
  float Plain[256];

 private:
  float threshold_[256];
  std::uint8_t start_level_[Steps];
};

const LightTables& light_tables() {
  static const LightTables tables;
  return tables;
}

}  // namespace

std::optional<PictureScaler> ParsePictureScaler(std::string_view text) {
  for (PictureScaler scaler : {PictureScaler::Smooth, PictureScaler::Nearest})
    if (text == PictureScalerName(scaler)) return scaler;
  return std::nullopt;
}

std::string_view PictureScalerName(PictureScaler scaler) {
  return scaler == PictureScaler::Nearest ? "nearest" : "smooth";
}

void ScaleArea(Bitmap& dest, const Rect& destRect, const Bitmap& source, const SourceArea& area) {
  if (destRect.IsEmpty() || source.IsEmpty() || dest.IsEmpty() || !(area.Width > 0) || !(area.Height > 0)) return;
  if (dest.BitsPerPixel() != 32 || source.BitsPerPixel() != 32) return;
  const AxisTaps columns = axis_taps(destRect.Width(), area.Left, area.Width, source.Width());
  const AxisTaps rows = axis_taps(destRect.Height(), area.Top, area.Height, source.Height());
  const LightTables& light = light_tables();
  // Blue, green and red are light; the fourth byte is not, so it is averaged as the number it is.
  const float* const toLight[4] = {light.Linear, light.Linear, light.Linear, light.Plain};

  // Only the source columns the destination reads are combined row by row.
  const auto [lowest, highest] = std::minmax_element(columns.Index.begin(), columns.Index.end());
  const int firstColumn = *lowest;
  const int columnCount = *highest - firstColumn + 1;
  std::vector<float> combined(static_cast<std::size_t>(columnCount) * 4);

  const int left = std::max(destRect.Left, 0);
  const int right = std::min(destRect.Right, dest.Width());
  const int top = std::max(destRect.Top, 0);
  const int bottom = std::min(destRect.Bottom, dest.Height());
  for (int y = top; y < bottom; ++y) {
    const int row = y - destRect.Top;
    std::fill(combined.begin(), combined.end(), 0.0f);
    for (int t = rows.First[row]; t < rows.First[row] + rows.Count[row]; ++t) {
      const std::uint8_t* in = source.ScanLine(rows.Index[t]) + std::size_t{4} * firstColumn;
      const float weight = weight_fraction(rows.Weight[t]);
      float* sum = combined.data();
      for (int x = 0; x < columnCount; ++x, in += 4, sum += 4)
        for (int c = 0; c < 4; ++c) sum[c] += toLight[c][in[c]] * weight;
    }

    std::uint8_t* out = dest.ScanLine(y) + std::size_t{4} * left;
    for (int x = left; x < right; ++x, out += 4) {
      const int column = x - destRect.Left;
      float sum[4] = {0, 0, 0, 0};
      for (int t = columns.First[column]; t < columns.First[column] + columns.Count[column]; ++t) {
        const float* in = &combined[static_cast<std::size_t>(columns.Index[t] - firstColumn) * 4];
        const float weight = weight_fraction(columns.Weight[t]);
        for (int c = 0; c < 4; ++c) sum[c] += in[c] * weight;
      }
      for (int c = 0; c < 3; ++c) out[c] = light.ToLevel(sum[c]);
      out[3] = static_cast<std::uint8_t>(std::clamp(std::lround(sum[3] * 255.0f), 0L, 255L));
    }
  }
}

}  // namespace lumivor
