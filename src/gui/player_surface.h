// Panel1: the audio preview player's screen. The player draws into this widget's own native
// window, so Qt paints nothing there; a resize or an uncovering is passed on so that the player
// draws its picture again.
#pragma once

#include <cstdint>
#include <functional>

#include <QWidget>

namespace lumivor::gui {

class PlayerSurface : public QWidget {
 public:
  explicit PlayerSurface(QWidget* parent);

  // The native window the player draws into, or 0 where the platform has none it can use
  // (then the player runs without a display).
  std::uintptr_t ScreenHandle();

  std::function<void()> OnExposed;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
};

// True where the player can draw into a native window of ours: an X11 display.
bool PlayerCanUseNativeWindows();

}  // namespace lumivor::gui
