// The selected photos' own choices: hold and transition seconds (in tenths), screen mode, motion
// and its strength, and the transition that follows the photo. Each starts at "Show's default",
// which leaves the choice to the show. Every change is one undoable edit of the storyboard's
// photos; with several photos selected the controls show the first and an edit sets them all.
#pragma once

#include <functional>
#include <optional>
#include <vector>

#include <QWidget>

#include "app/run/run_request.h"

class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QPushButton;
class QSpinBox;

namespace lumivor::studio {

class EffectGallery;
class StoryboardModel;

class PhotoInspector : public QWidget {
 public:
  explicit PhotoInspector(StoryboardModel& model, QWidget* parent = nullptr);

  // The photos edited from now on (storyboard rows, ascending); none disables the controls.
  void ShowRows(const std::vector<int>& rows);
  // The controls again from the photos (after an undo, a redo or a move).
  void Refresh();
  const std::vector<int>& Rows() const { return rows_; }

  // Opens the gallery and sets the chosen effect.
  void ChooseEffect();
  // Called with the gallery instead of running it (tests choose and accept or reject it).
  std::function<void(EffectGallery&)> OnGallery;

  QLabel* lblPhotos;
  QDoubleSpinBox* spnHold;
  QDoubleSpinBox* spnTransition;
  QComboBox* cmbScreen;
  QComboBox* cmbMotion;
  QSpinBox* spnStrength;
  QPushButton* btnEffect;
  QPushButton* btnReset;

 private:
  // The merge ids of the spin boxes: steps of one box in a row are one undo step.
  enum Merge { NoMerge = -1, HoldMerge = 101, TransitionMerge, StrengthMerge };
  void Edit(int mergeId, const QString& text, const std::function<void(PhotoChoices&)>& edit);

  StoryboardModel& model_;
  std::vector<int> rows_;
  bool showing_ = false;
};

}  // namespace lumivor::studio
