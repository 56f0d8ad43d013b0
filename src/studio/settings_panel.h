// The show's choices beside the storyboard: how long photos are held and transitions last, how
// photos fill the frame and move, how the music ends and is levelled, whether cuts follow its
// beat, how effects are taken, the title card's words and the caption rule; and the tracks with
// their lengths. The panel edits a project's choices and never decides a rule itself.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include <QString>
#include <QWidget>

#include "app/run/show_project.h"

class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QTimer;
class QTreeWidget;

namespace lumivor::studio {

// The screen modes and motions as the panels name them, in the order their lists show them.
struct ScreenChoice {
  ScreenMode Mode;
  const char* Text;
};
extern const ScreenChoice ScreenChoices[3];
struct MotionChoice {
  MotionKind Kind;
  const char* Text;
};
extern const MotionChoice MotionChoices[4];

class ShowSettingsPanel : public QWidget {
 public:
  explicit ShowSettingsPanel(QWidget* parent = nullptr);

  // Shows the project's choices without telling OnChanged.
  void ShowChoices(const ShowProject& project);
  // The controls' choices written into project; its photos and tracks are left alone.
  void ApplyChoices(ShowProject& project) const;
  // One row per track: its path and the length read from it. The same tracks again only update
  // the lengths, so that the selection stays.
  void ShowTracks(const std::vector<std::string>& tracks, const std::vector<QString>& lengths);
  // Rows of the track list that are selected, ascending.
  std::vector<int> SelectedTracks() const;
  void SelectTracks(const std::vector<int>& rows);

  // The controls, as OnChanged names them.
  enum Control { HoldControl = 1, TransitionControl, ScreenControl, MotionControl, StrengthControl,
                 MusicEndControl, EffectsControl, NormalizeControl, BeatSyncControl, TitleControl,
                 SubtitleControl, CaptionsControl };
  // A choice was changed by the user, in this control.
  std::function<void(Control control)> OnChanged;
  // How the latest change in control joins the one before it in the undo history: steps of one
  // number box in a row share an id; typing in one line edit shares an id until the edit loses the
  // focus, Enter is pressed or the typing pauses for TypingPauseMs; -1 for a change that stands
  // alone.
  int MergeId(Control control) const;
  static constexpr int TypingPauseMs = 1500;
  std::function<void()> OnAddTracks;
  std::function<void()> OnRemoveTracks;
  // The selected tracks move one place earlier (-1) or later (+1).
  std::function<void(int step)> OnMoveTracks;

  QDoubleSpinBox* spnHold;
  QDoubleSpinBox* spnTransition;
  QComboBox* cmbScreen;
  QComboBox* cmbMotion;
  QSpinBox* spnStrength;
  QComboBox* cmbMusicEnd;
  QComboBox* cmbEffects;
  QCheckBox* chkNormalize;
  QCheckBox* chkBeatSync;
  QLineEdit* edtTitle;
  QLineEdit* edtSubtitle;
  QComboBox* cmbCaptions;
  QTreeWidget* lstTracks;
  QPushButton* btnAddTracks;
  QPushButton* btnRemoveTracks;
  QPushButton* btnTrackUp;
  QPushButton* btnTrackDown;

 private:
  void Changed(Control control);
  void UpdateTrackButtons();
  void UpdateStrength();
  void EndTyping();
  bool showing_ = false;
  // Counts the runs of typing; a new run never joins the undo step of the one before.
  int typingRun_ = 0;
  QTimer* typingPause_;
};

}  // namespace lumivor::studio
