#include "raster/picture_scale.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "raster/light_levels.h"

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
  const LightLevels& light = LightLevels::Get();
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
