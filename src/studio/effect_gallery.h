// A dialog of every transition, each shown moving between two pictures the program draws itself,
// to choose the one that follows a photo (or to leave it to the show). Frames are drawn by the
// effects library only for the items in view, once each, and kept in a bounded cache; one timer
// moves them all.
#pragma once

#include <optional>
#include <vector>

#include <QCache>
#include <QDialog>
#include <QPixmap>

#include "raster/raster.h"

class QLineEdit;
class QListWidget;
class QListWidgetItem;
class QTimer;

namespace lumivor::studio {

class EffectGallery : public QDialog {
 public:
  // The preview frames' size.
  static constexpr int FrameWidth = 160;
  static constexpr int FrameHeight = 90;
  // Frames of one pass of a preview: a still start, the transition, a still end.
  static constexpr int PassFrames = 30;

  // current: the effect chosen now; nothing for the show's.
  explicit EffectGallery(std::optional<int> current, QWidget* parent = nullptr);

  // Keeps the items whose number starts with the text's digits, or whose name holds the text
  // (letter case aside); the show's default stays while it matches too. Empty shows all.
  void SetFilter(const QString& text);
  // The items shown, in order: effect numbers, 0 for the show's default.
  std::vector<int> ShownEffects() const;
  // Makes the item of the effect (0: the show's default) current, when it is shown.
  bool SelectEffect(int effect);
  // The current item: an effect number, nothing for the show's default. Meaningful after accept.
  std::optional<int> Chosen() const;
  // Preview frames drawn since the dialog opened (each frame once, while it stays in the cache).
  int FramesDrawn() const { return framesDrawn_; }
  // Moves every preview in view one frame on; the timer's work.
  void Advance();

  QLineEdit* edtFilter;
  QListWidget* lstEffects;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  // The previews move only while the dialog is on screen.
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  QPixmap Frame(int effect, int step);
  // The progress a preview shows at a step of its pass.
  static int ProgressAt(int step);

  Bitmap from_;
  Bitmap to_;
  Bitmap work_;
  QCache<int, QPixmap> frames_;
  QTimer* timer_;
  int step_ = 0;
  int framesDrawn_ = 0;
};

}  // namespace lumivor::studio
