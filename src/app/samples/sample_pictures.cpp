#include "app/samples/sample_pictures.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace lumivor {

namespace {

constexpr double TwoPi = 6.283185307179586;

struct Colour {
  double Red, Green, Blue;
};

Colour mix(Colour a, Colour b, double t) {
  t = std::clamp(t, 0.0, 1.0);
  return {a.Red + (b.Red - a.Red) * t, a.Green + (b.Green - a.Green) * t, a.Blue + (b.Blue - a.Blue) * t};
}

std::uint32_t to_pixel(Colour c) {
  auto byte = [](double v) { return static_cast<std::uint32_t>(std::clamp(std::lround(v), 0L, 255L)); };
  return byte(c.Blue) | (byte(c.Green) << 8) | (byte(c.Red) << 16);
}

// u, v run from 0 to 1 across and down the picture; aspect is width / height, so that round
// things stay round on any frame shape.
Colour landscape_at(double u, double v, double aspect) {
  const double mountains = 0.50 + 0.07 * std::sin(TwoPi * (u * 1.7 + 0.1)) + 0.03 * std::sin(TwoPi * u * 5.3);
  const double hills = 0.70 + 0.05 * std::sin(TwoPi * (u * 1.1 + 0.3));
  if (v >= hills) return mix({90, 170, 60}, {30, 90, 30}, (v - hills) / (1.0 - hills + 1e-9));
  if (v >= mountains) {
    const bool snow = v < mountains + 0.025 && mountains < 0.47;
    return snow ? Colour{240, 240, 250} : mix({120, 115, 160}, {80, 80, 120}, (v - mountains) / 0.2);
  }
  Colour sky = mix({25, 70, 170}, {185, 215, 245}, v / 0.6);
  const double dx = (u - 0.74) * aspect, dy = v - 0.24;
  const double distance = std::sqrt(dx * dx + dy * dy);
  constexpr double sunRadius = 0.11;
  if (distance <= sunRadius) return {255, 225, 70};
  if (distance <= sunRadius * 1.8) sky = mix({255, 190, 90}, sky, (distance - sunRadius) / (sunRadius * 0.8));
  return sky;
}

// A "D": a bar on the left [0, right - ry] closed by half an ellipse on the right.
bool inside_d(double s, double t, double left, double top, double right, double bottom) {
  if (t < top || t > bottom || s < left || s > right) return false;
  const double ry = (bottom - top) / 2, rx = std::min(ry, (right - left) / 2);
  const double cx = right - rx, cy = top + ry;
  if (s <= cx) return true;
  const double ex = (s - cx) / rx, ey = (t - cy) / ry;
  return ex * ex + ey * ey <= 1.0;
}

// The letter B in a box one high and 0.7 wide: a stem and two rings, the lower one wider.
bool inside_letter_b(double s, double t) {
  constexpr double stroke = 0.17;
  if (s < 0 || s > 0.7 || t < 0 || t > 1) return false;
  if (s <= stroke) return true;
  const bool upper = inside_d(s, t, 0, 0, 0.6, 0.53) && !inside_d(s, t, 0, stroke, 0.6 - stroke, 0.53 - stroke);
  const bool lower =
      inside_d(s, t, 0, 0.47, 0.7, 1.0) && !inside_d(s, t, 0, 0.47 + stroke, 0.7 - stroke, 1.0 - stroke);
  return upper || lower;
}

Colour pattern_at(double u, double v, double aspect) {
  static constexpr Colour tiles[] = {{230, 40, 50}, {250, 150, 20}, {240, 220, 30},
                                     {40, 180, 70}, {30, 170, 220}, {160, 60, 200}};
  const int column = static_cast<int>(u * 8), row = static_cast<int>(v * 6);
  Colour c = tiles[(column + row) % 6];
  if ((column + row) % 2) c = mix(c, {0, 0, 0}, 0.35);

  // The letter is 0.75 of the height tall, centred, with a black shadow down and to the right.
  const double letterHeight = 0.75;
  const double s = ((u - 0.5) * aspect) / letterHeight + 0.35, t = (v - 0.5) / letterHeight + 0.5;
  if (inside_letter_b(s, t)) return {250, 250, 250};
  if (inside_letter_b(s - 0.04, t - 0.04)) return {0, 0, 0};
  return c;
}

}  // namespace

Bitmap MakeSamplePicture(SamplePicture which, int width, int height) {
  width = std::max(width, 1);
  height = std::max(height, 1);
  Bitmap picture(width, height, 32);
  const double aspect = static_cast<double>(width) / height;
  for (int y = 0; y < height; ++y) {
    std::uint8_t* row = picture.ScanLine(y);
    const double v = (y + 0.5) / height;
    for (int x = 0; x < width; ++x) {
      const double u = (x + 0.5) / width;
      const Colour c = which == SamplePicture::Landscape ? landscape_at(u, v, aspect) : pattern_at(u, v, aspect);
      const std::uint32_t pixel = to_pixel(c);
      row[4 * x] = static_cast<std::uint8_t>(pixel);
      row[4 * x + 1] = static_cast<std::uint8_t>(pixel >> 8);
      row[4 * x + 2] = static_cast<std::uint8_t>(pixel >> 16);
      row[4 * x + 3] = 0;
    }
  }
  return picture;
}

}  // namespace lumivor
