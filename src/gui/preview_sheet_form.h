// The preview sheet of a planned show in a window of its own. It does not block the main window,
// so the sheet can stay open beside it while the photos are put in order.
#pragma once

#include <string>

#include <QWidget>

class QLabel;
class QScrollArea;

namespace lumivor::gui {

class TfrmPreviewSheet : public QWidget {
 public:
  // A window of its own that goes with its owner.
  explicit TfrmPreviewSheet(QWidget* owner);

  // Reads the sheet from its file, shows it at its own size (scrolled where the screen is too
  // small) and titles the window with the file's name. False with the reader's reason when the
  // file cannot be read; the window then keeps what it showed.
  bool ShowSheet(const std::string& file, std::string& errorText);

  QScrollArea* sbxSheet;
  QLabel* imgSheet;
};

}  // namespace lumivor::gui
