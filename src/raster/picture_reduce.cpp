#include "raster/picture_reduce.h"

#include <algorithm>
#include <cstring>

#include "raster/light_levels.h"

namespace lumivor {

void NeededSize(int width, int height, const PictureSizeHint& hint, int& neededWidth, int& neededHeight) {
  neededWidth = width;
  neededHeight = height;
  if (hint.IsFullSize() || width <= 0 || height <= 0) return;
  // Whole numbers throughout: a rounding error in a ratio must not shave a pixel off the need.
  const std::int64_t w = width, h = height, bw = hint.Width, bh = hint.Height;
  const bool widthBinds = hint.Rule == SizeRule::Inside ? bw * h <= bh * w : bw * h >= bh * w;
  std::int64_t nw, nh;
  if (widthBinds) {
    nw = bw;
    nh = (h * bw + w - 1) / w;
  } else {
    nh = bh;
    nw = (w * bh + h - 1) / h;
  }
  if (nw >= w || nh >= h) return;  // shown at its own size or enlarged: every pixel counts
  neededWidth = static_cast<int>(std::max<std::int64_t>(nw, 1));
  neededHeight = static_cast<int>(std::max<std::int64_t>(nh, 1));
}

int ReductionFactor(int width, int height, const PictureSizeHint& hint, FactorSteps steps) {
  int neededWidth = 0, neededHeight = 0;
  NeededSize(width, height, hint, neededWidth, neededHeight);
  if (neededWidth <= 0 || neededHeight <= 0) return 1;
  int factor = std::clamp(std::min(width / neededWidth, height / neededHeight), 1, MaxReductionFactor);
  if (steps == FactorSteps::PowerOfTwo) {
    int power = 1;
    while (power * 2 <= factor) power *= 2;
    factor = power;
  }
  return factor;
}

AreaReducer::AreaReducer(int width, int height, int factor, Bitmap& out, Order order)
    : width_(std::max(width, 0)),
      height_(std::max(height, 0)),
      factor_(std::clamp(factor, 1, MaxReductionFactor)),
      order_(order),
      out_(out) {
  const int outWidth = ReducedSide(width_, factor_);
  const int outHeight = ReducedSide(height_, factor_);
  out_.Resize(outWidth, outHeight, 32);
  const std::size_t bands = order_ == Order::AnyOrder ? static_cast<std::size_t>(outHeight) : 1;
  sums_.assign(static_cast<std::size_t>(outWidth) * 3 * bands, 0);
}

void AreaReducer::AddRow(int y, const std::uint8_t* pixels) {
  if (y < 0 || y >= height_) return;
  if (order_ == Order::AnyOrder) {
    AddPixels(y, pixels, 0, 1, width_);
    return;
  }
  const std::uint16_t* light = LightLevels::Get().Light16;
  std::uint32_t* sum = sums_.data();
  int left = factor_;
  for (int x = 0; x < width_; ++x, pixels += 4) {
    sum[0] += light[pixels[0]];
    sum[1] += light[pixels[1]];
    sum[2] += light[pixels[2]];
    if (--left == 0) {
      left = factor_;
      sum += 3;
    }
  }
  if (y % factor_ == factor_ - 1 || y == height_ - 1) {
    write_band(y / factor_, sums_.data());
    std::fill(sums_.begin(), sums_.end(), 0);
  }
}

void AreaReducer::AddPixels(int y, const std::uint8_t* pixels, int firstX, int step, int count) {
  if (y < 0 || y >= height_ || step <= 0) return;
  const std::size_t outWidth = static_cast<std::size_t>(out_.Width());
  std::uint32_t* band = sums_.data() + (order_ == Order::AnyOrder ? static_cast<std::size_t>(y / factor_) * outWidth * 3 : 0);
  const std::uint16_t* light = LightLevels::Get().Light16;
  for (int i = 0, x = firstX; i < count && x < width_; ++i, x += step, pixels += 4) {
    if (x < 0) continue;
    std::uint32_t* sum = band + static_cast<std::size_t>(x / factor_) * 3;
    sum[0] += light[pixels[0]];
    sum[1] += light[pixels[1]];
    sum[2] += light[pixels[2]];
  }
}

void AreaReducer::Finish() {
  if (order_ != Order::AnyOrder) return;
  const std::size_t rowSums = static_cast<std::size_t>(out_.Width()) * 3;
  for (int band = 0; band < out_.Height(); ++band) write_band(band, sums_.data() + band * rowSums);
}

void AreaReducer::write_band(int band, const std::uint32_t* sums) {
  const LightLevels& levels = LightLevels::Get();
  const int rows = std::min(factor_, height_ - band * factor_);
  std::uint8_t* out = out_.ScanLine(band);
  for (int x = 0; x < out_.Width(); ++x, sums += 3, out += 4) {
    // The whole light of the block over its pixels' full scale; a flat block gives back its level
    // exactly, since its sum is count times that level's light.
    const double scale = static_cast<double>(std::min(factor_, width_ - x * factor_) * rows) * 65535.0;
    for (int c = 0; c < 3; ++c) out[c] = levels.ToLevel(static_cast<double>(sums[c]) / scale);
    out[3] = 0;
  }
}

}  // namespace lumivor
