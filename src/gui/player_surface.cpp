#include "gui/player_surface.h"

#include <QGuiApplication>
#include <QPainter>

namespace lumivor::gui {

bool PlayerCanUseNativeWindows() { return QGuiApplication::platformName() == QStringLiteral("xcb"); }

PlayerSurface::PlayerSurface(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_OpaquePaintEvent);
}

std::uintptr_t PlayerSurface::ScreenHandle() {
  if (!PlayerCanUseNativeWindows()) return 0;
  // winId() gives the widget a native window of its own, which is what the player draws into.
  return static_cast<std::uintptr_t>(winId());
}

void PlayerSurface::paintEvent(QPaintEvent*) {
  // Black until the player has drawn, and where the picture does not reach.
  QPainter(this).fillRect(rect(), Qt::black);
  if (OnExposed) OnExposed();
}

void PlayerSurface::resizeEvent(QResizeEvent*) {
  if (OnExposed) OnExposed();
}

}  // namespace lumivor::gui
