// Where the encoding preview goes on the screen: beside the main window, never over it (its
// Pause and Stop must stay in reach), never past the screen's edges (its title bar must stay in
// reach), the picture scaled down with its aspect kept where the room beside is smaller than it.
#pragma once

#include <QMargins>
#include <QRect>
#include <QSize>

namespace lumivor::gui {

struct PreviewPlacement {
  QRect Frame;   // the window with its decoration
  QSize Client;  // the picture's area inside it
};

// available: the screen's area for windows (without panels). mainFrame: the main window with its
// decoration; an empty rectangle when there is none to keep clear. frameMargins: the decoration
// around the client area. The preview goes to the right of the main window, else to its left,
// else below it, at its full size; where no side has room for that, to the side where it shows
// largest (above the main window counts too). Scaled pictures keep the picture's aspect and are
// never enlarged.
PreviewPlacement PlacePreview(const QRect& available, const QRect& mainFrame, QSize picture,
                              const QMargins& frameMargins);

}  // namespace lumivor::gui
