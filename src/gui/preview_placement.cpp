#include "gui/preview_placement.h"

#include <algorithm>
#include <array>
#include <cstdint>

namespace lumivor::gui {

namespace {

// The largest client of the picture's aspect, never larger than the picture, whose window fits
// the area. Whole-number arithmetic in 64 bits: the side that limits is found exactly, so a
// picture that fits at full size is never shrunk by a rounding.
QSize fitted_client(QSize area, QSize picture, const QMargins& margins) {
  const std::int64_t roomWidth = std::max(0, area.width() - margins.left() - margins.right());
  const std::int64_t roomHeight = std::max(0, area.height() - margins.top() - margins.bottom());
  const std::int64_t width = std::max(1, picture.width());
  const std::int64_t height = std::max(1, picture.height());
  if (width <= roomWidth && height <= roomHeight) return {static_cast<int>(width), static_cast<int>(height)};
  if (roomWidth == 0 || roomHeight == 0) return {0, 0};
  // The width limits when roomWidth / width <= roomHeight / height.
  if (roomWidth * height <= roomHeight * width) {
    return {static_cast<int>(roomWidth), static_cast<int>(std::max<std::int64_t>(1, height * roomWidth / width))};
  }
  return {static_cast<int>(std::max<std::int64_t>(1, width * roomHeight / height)), static_cast<int>(roomHeight)};
}

std::int64_t area_of(QSize size) { return std::int64_t{size.width()} * size.height(); }

int clamped(int value, int low, int high) { return std::max(low, std::min(value, high)); }

enum class Side { Right, Left, Below, Above };

}  // namespace

PreviewPlacement PlacePreview(const QRect& available, const QRect& mainFrame, QSize picture,
                              const QMargins& frameMargins) {
  const QSize decoration(frameMargins.left() + frameMargins.right(), frameMargins.top() + frameMargins.bottom());
  const QRect main = mainFrame.intersected(available);
  if (main.isEmpty()) {
    // Nothing to keep clear: centred on the screen, as large as it allows.
    const QSize client = fitted_client(available.size(), picture, frameMargins);
    QRect frame(QPoint(0, 0), client + decoration);
    frame.moveCenter(available.center());
    return {frame, client};
  }

  // The free bands around the main window, each across the whole screen the other way.
  struct Band {
    Side Where;
    QRect Area;
  };
  const std::array<Band, 4> bands = {{
      {Side::Right, QRect(QPoint(main.right() + 1, available.top()), available.bottomRight())},
      {Side::Left, QRect(available.topLeft(), QPoint(main.left() - 1, available.bottom()))},
      {Side::Below, QRect(QPoint(available.left(), main.bottom() + 1), available.bottomRight())},
      {Side::Above, QRect(available.topLeft(), QPoint(available.right(), main.top() - 1))},
  }};
  const Band* chosen = nullptr;
  QSize client;
  // A side with room for the whole picture, in the order a reader's eye goes from the window.
  for (const Band& band : bands) {
    if (band.Where == Side::Above || band.Area.isEmpty()) continue;
    const QSize fitted = fitted_client(band.Area.size(), picture, frameMargins);
    if (fitted.width() >= picture.width() && fitted.height() >= picture.height()) {
      chosen = &band;
      client = fitted;
      break;
    }
  }
  // Else the side that shows it largest; the earlier side wins a tie.
  if (chosen == nullptr) {
    for (const Band& band : bands) {
      if (band.Area.isEmpty()) continue;
      const QSize fitted = fitted_client(band.Area.size(), picture, frameMargins);
      if (area_of(fitted) > area_of(client)) {
        chosen = &band;
        client = fitted;
      }
    }
  }
  if (chosen == nullptr) {
    // The main window fills the screen: a quarter of it in the bottom right corner, the least
    // likely place for the run's buttons.
    client = fitted_client(available.size() / 2, picture, frameMargins);
    QRect frame(QPoint(0, 0), client + decoration);
    frame.moveBottomRight(available.bottomRight());
    return {frame, client};
  }

  // Against the main window's edge, lined up with its top or left side as far as the band allows.
  const QRect area = chosen->Area;
  const QSize size = client + decoration;
  QPoint at;
  switch (chosen->Where) {
    case Side::Right:
      at = {area.left(), clamped(main.top(), area.top(), area.bottom() + 1 - size.height())};
      break;
    case Side::Left:
      at = {area.right() + 1 - size.width(), clamped(main.top(), area.top(), area.bottom() + 1 - size.height())};
      break;
    case Side::Below:
      at = {clamped(main.left(), area.left(), area.right() + 1 - size.width()), area.top()};
      break;
    case Side::Above:
      at = {clamped(main.left(), area.left(), area.right() + 1 - size.width()), area.bottom() + 1 - size.height()};
      break;
  }
  return {QRect(at, size), client};
}

}  // namespace lumivor::gui
