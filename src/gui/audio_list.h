// The audio track list (lvFiles): a report of two columns whose rows are drawn here, tinted in
// turn, with a framed selection, and each cell's text on one line cut short with an ellipsis.
#pragma once

#include <functional>
#include <string>

#include <QTreeWidget>

#include "app/run/audio_tracks.h"
#include "app/common/window_services.h"

namespace lumivor::gui {

class AudioListView : public QTreeWidget {
 public:
  explicit AudioListView(QWidget* parent);

  // Shows the tracks' rows and selection.
  void ShowTracks(const AudioTrackList& tracks);

  // The user selected a row (-1: none).
  std::function<void(int row)> OnSelect;

 protected:
  void drawRow(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;

 private:
  bool showing_ = false;
};

// Tells the user why the selected track cannot be played: reason is the player's LastErrorText
// (no sound device, a file it cannot decode). A failed Play must not end in buttons that merely
// grey out and a line in a hidden log.
void ShowPlayFailure(MessageBoxes& messages, const std::string& reason);

}  // namespace lumivor::gui
