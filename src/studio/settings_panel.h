// The show's choices beside the storyboard: how long photos are held and transitions last, how
// photos fill the frame and move, how the music ends, how effects are taken; and the tracks with
// their lengths. The panel edits a project's choices and never decides a rule itself.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include <QWidget>

#include "app/run/show_project.h"

class QComboBox;
class QDoubleSpinBox;
class QPushButton;
class QSpinBox;
class QTreeWidget;

namespace lumivor::studio {

class ShowSettingsPanel : public QWidget {
 public:
  explicit ShowSettingsPanel(QWidget* parent = nullptr);

  // Shows the project's choices without telling OnChanged.
  void ShowChoices(const ShowProject& project);
  // The controls' choices written into project; its photos and tracks are left alone.
  void ApplyChoices(ShowProject& project) const;
  // One row per track: its path and the length read from it.
  void ShowTracks(const std::vector<std::string>& tracks, const std::vector<std::string>& lengths);
  // Rows of the track list that are selected, ascending.
  std::vector<int> SelectedTracks() const;

  // A choice was changed by the user.
  std::function<void()> OnChanged;
  std::function<void()> OnAddTracks;
  std::function<void()> OnRemoveTracks;

  QDoubleSpinBox* spnHold;
  QDoubleSpinBox* spnTransition;
  QComboBox* cmbScreen;
  QComboBox* cmbMotion;
  QSpinBox* spnStrength;
  QComboBox* cmbMusicEnd;
  QComboBox* cmbEffects;
  QTreeWidget* lstTracks;
  QPushButton* btnAddTracks;
  QPushButton* btnRemoveTracks;

 private:
  void Changed();
  void UpdateStrength();
  bool showing_ = false;
};

}  // namespace lumivor::studio
