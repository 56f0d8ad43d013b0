#include "app/show/photo_layout.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "app/show/frame_sequencer.h"

namespace lumivor {

namespace {

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

void LayOutPhoto(Bitmap& frame, const Bitmap& photo, ScreenMode mode, PictureScaler scaler) {
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
  if (scaler == PictureScaler::Smooth) {
    ScaleArea(frame, fitted, photo, whole(photo));
  } else {
    StretchRect(frame, fitted.Left, fitted.Top, fitted.Width(), fitted.Height(), photo, 0, 0, photo.Width(),
                photo.Height());
  }
}

}  // namespace lumivor
