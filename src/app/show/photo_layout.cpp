#include "app/show/photo_layout.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "app/show/frame_sequencer.h"

namespace lumivor {

namespace {

// Filter weights are fixed point with this many fraction bits; a destination pixel's weights add up
// to exactly 1 << WeightBits, so a flat area stays exactly its colour.
constexpr int WeightBits = 14;
constexpr int WeightOne = 1 << WeightBits;
// Bits of the first pass's results kept beyond the byte, so two rounding steps do not add up to a
// visible error.
constexpr int CarryBits = 7;

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

// A few passes of a small box blur on a small picture come close to a Gaussian at a fraction of its
// cost; the picture is then enlarged many times, which smooths what is left of the boxes.
void box_blur(Bitmap& picture, int radius, int passes) {
  const int width = picture.Width();
  const int height = picture.Height();
  std::vector<std::uint8_t> line(static_cast<std::size_t>(std::max(width, height)) * 4);
  const int span = 2 * radius + 1;
  const auto blur_line = [&](auto pixel_at, int length) {
    for (int i = 0; i < length; ++i) std::memcpy(&line[static_cast<std::size_t>(i) * 4], pixel_at(i), 4);
    for (int i = 0; i < length; ++i) {
      int sum[4] = {0, 0, 0, 0};
      for (int k = -radius; k <= radius; ++k) {
        const std::uint8_t* p = &line[static_cast<std::size_t>(std::clamp(i + k, 0, length - 1)) * 4];
        for (int c = 0; c < 4; ++c) sum[c] += p[c];
      }
      std::uint8_t* out = pixel_at(i);
      for (int c = 0; c < 4; ++c) out[c] = static_cast<std::uint8_t>((sum[c] + span / 2) / span);
    }
  };
  for (int pass = 0; pass < passes; ++pass) {
    for (int y = 0; y < height; ++y)
      blur_line([&](int x) { return picture.ScanLine(y) + std::size_t{4} * x; }, width);
    for (int x = 0; x < width; ++x)
      blur_line([&](int y) { return picture.ScanLine(y) + std::size_t{4} * x; }, height);
  }
}

void darken(Bitmap& picture, int keep256) {
  for (int y = 0; y < picture.Height(); ++y) {
    std::uint8_t* row = picture.ScanLine(y);
    for (int i = 0; i < picture.Width() * 4; ++i) row[i] = static_cast<std::uint8_t>(row[i] * keep256 / 256);
  }
}

void fill_black(Bitmap& picture) {
  if (picture.ImageSize() > 0) std::memset(picture.Bits(), 0, picture.ImageSize());
}

SourceArea whole(const Bitmap& picture) {
  return {0, 0, static_cast<double>(picture.Width()), static_cast<double>(picture.Height())};
}

// The blurred background is made this many times smaller than the frame, blurred, and enlarged
// again: the blur's width follows the frame, not the photo.
constexpr int BlurShrink = 16;
constexpr int BlurRadius = 2;
constexpr int BlurPasses = 3;
// What the background keeps of its brightness, out of 256, so the sharp photo stands out.
constexpr int BlurBrightness = 140;

void lay_out_blurred(Bitmap& frame, const Bitmap& photo) {
  const int frameWidth = frame.Width();
  const int frameHeight = frame.Height();
  Bitmap background(std::max(1, (frameWidth + BlurShrink - 1) / BlurShrink),
                    std::max(1, (frameHeight + BlurShrink - 1) / BlurShrink), 32);
  ScaleArea(background, {0, 0, background.Width(), background.Height()}, photo,
            FillArea(photo.Width(), photo.Height(), frameWidth, frameHeight));
  box_blur(background, BlurRadius, BlurPasses);
  darken(background, BlurBrightness);
  ScaleArea(frame, {0, 0, frameWidth, frameHeight}, background, whole(background));
  ScaleArea(frame, FitRect(photo.Width(), photo.Height(), frameWidth, frameHeight), photo, whole(photo));
}

}  // namespace

std::optional<ScreenMode> ParseScreenMode(std::string_view text) {
  for (ScreenMode mode : {ScreenMode::Fit, ScreenMode::Fill, ScreenMode::Blur})
    if (text == ScreenModeName(mode)) return mode;
  return std::nullopt;
}

std::string_view ScreenModeName(ScreenMode mode) {
  switch (mode) {
    case ScreenMode::Fill:
      return "fill";
    case ScreenMode::Blur:
      return "blur";
    case ScreenMode::Fit:
      break;
  }
  return "fit";
}

SourceArea FillArea(int pictureWidth, int pictureHeight, int frameWidth, int frameHeight) {
  if (pictureWidth <= 0 || pictureHeight <= 0 || frameWidth <= 0 || frameHeight <= 0) return {};
  const double scale =
      std::max(static_cast<double>(frameWidth) / pictureWidth, static_cast<double>(frameHeight) / pictureHeight);
  const double width = std::min<double>(pictureWidth, frameWidth / scale);
  const double height = std::min<double>(pictureHeight, frameHeight / scale);
  return {(pictureWidth - width) / 2, (pictureHeight - height) / 2, width, height};
}

void ScaleArea(Bitmap& dest, const Rect& destRect, const Bitmap& source, const SourceArea& area) {
  if (destRect.IsEmpty() || source.IsEmpty() || dest.IsEmpty() || !(area.Width > 0) || !(area.Height > 0)) return;
  if (dest.BitsPerPixel() != 32 || source.BitsPerPixel() != 32) return;
  const AxisTaps columns = axis_taps(destRect.Width(), area.Left, area.Width, source.Width());
  const AxisTaps rows = axis_taps(destRect.Height(), area.Top, area.Height, source.Height());

  // Only the source columns the destination reads are combined row by row.
  const auto [lowest, highest] = std::minmax_element(columns.Index.begin(), columns.Index.end());
  const int firstColumn = *lowest;
  const int columnCount = *highest - firstColumn + 1;
  std::vector<std::int32_t> combined(static_cast<std::size_t>(columnCount) * 4);

  const int left = std::max(destRect.Left, 0);
  const int right = std::min(destRect.Right, dest.Width());
  const int top = std::max(destRect.Top, 0);
  const int bottom = std::min(destRect.Bottom, dest.Height());
  for (int y = top; y < bottom; ++y) {
    const int row = y - destRect.Top;
    std::fill(combined.begin(), combined.end(), 0);
    for (int t = rows.First[row]; t < rows.First[row] + rows.Count[row]; ++t) {
      const std::uint8_t* in = source.ScanLine(rows.Index[t]) + std::size_t{4} * firstColumn;
      const int weight = rows.Weight[t];
      for (int i = 0; i < columnCount * 4; ++i) combined[i] += in[i] * weight;
    }
    for (std::int32_t& value : combined) value = (value + (1 << (WeightBits - CarryBits - 1))) >> (WeightBits - CarryBits);

    std::uint8_t* out = dest.ScanLine(y) + std::size_t{4} * left;
    for (int x = left; x < right; ++x, out += 4) {
      const int column = x - destRect.Left;
      std::int32_t sum[4] = {0, 0, 0, 0};
      for (int t = columns.First[column]; t < columns.First[column] + columns.Count[column]; ++t) {
        const std::int32_t* in = &combined[static_cast<std::size_t>(columns.Index[t] - firstColumn) * 4];
        const int weight = columns.Weight[t];
        for (int c = 0; c < 4; ++c) sum[c] += in[c] * weight;
      }
      constexpr int Shift = WeightBits + CarryBits;
      for (int c = 0; c < 4; ++c)
        out[c] = static_cast<std::uint8_t>(std::clamp((sum[c] + (1 << (Shift - 1))) >> Shift, 0, 255));
    }
  }
}

void LayOutPhoto(Bitmap& frame, const Bitmap& photo, ScreenMode mode, FitScaling fitScaling) {
  const int frameWidth = frame.Width();
  const int frameHeight = frame.Height();
  if (frame.IsEmpty()) return;
  if (photo.IsEmpty()) {
    fill_black(frame);
    return;
  }
  switch (mode) {
    case ScreenMode::Fill:
      ScaleArea(frame, {0, 0, frameWidth, frameHeight}, photo,
                FillArea(photo.Width(), photo.Height(), frameWidth, frameHeight));
      return;
    case ScreenMode::Blur:
      lay_out_blurred(frame, photo);
      return;
    case ScreenMode::Fit:
      break;
  }
  const Rect fitted = FitRect(photo.Width(), photo.Height(), frameWidth, frameHeight);
  fill_black(frame);
  if (fitScaling == FitScaling::Filtered) {
    ScaleArea(frame, fitted, photo, whole(photo));
  } else {
    StretchRect(frame, fitted.Left, fitted.Top, fitted.Width(), fitted.Height(), photo, 0, 0, photo.Width(),
                photo.Height());
  }
}

}  // namespace lumivor
