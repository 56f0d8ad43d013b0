// The selected photos' own choices: hold and transition seconds (in tenths), screen mode, motion
// and its strength, the transition that follows the photo, and its caption. Each starts at "Show's
// default" (the caption at "Show's rule"), which leaves the choice to the show. Every change is one
// undoable edit of the storyboard's photos; with several photos selected the controls show the
// first and an edit sets them all.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <QWidget>

#include "app/run/run_request.h"

class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QTimer;

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

  // The caption list's rows: the show's rule (no caption of its own), none at all, or the text in
  // edtCaption. Typing there is one undo step until the box loses the focus, Enter is pressed or
  // the typing pauses for TypingPauseMs.
  enum CaptionRow { RuleCaption, NoCaption, OwnCaption };
  static constexpr int TypingPauseMs = 1500;

  QLabel* lblPhotos;
  QDoubleSpinBox* spnHold;
  QDoubleSpinBox* spnTransition;
  QComboBox* cmbScreen;
  QComboBox* cmbMotion;
  QSpinBox* spnStrength;
  QPushButton* btnEffect;
  QComboBox* cmbCaption;
  QLineEdit* edtCaption;
  QPushButton* btnReset;

 private:
  // The merge ids of the spin boxes: steps of one box in a row are one undo step. Runs of typing
  // in the caption take ids from CaptionMerge on, a new one each run.
  enum Merge { NoMerge = -1, HoldMerge = 101, TransitionMerge, StrengthMerge, CaptionMerge = 200 };
  void Edit(int mergeId, const QString& text, const std::function<void(PhotoChoices&)>& edit);
  void EditCaption(int mergeId, std::optional<std::string> caption);
  // The caption the caption controls stand for.
  std::optional<std::string> ShownCaption() const;
  void EndTyping();

  StoryboardModel& model_;
  std::vector<int> rows_;
  bool showing_ = false;
  int typingRun_ = 0;
  QTimer* typingPause_;
};

}  // namespace lumivor::studio
