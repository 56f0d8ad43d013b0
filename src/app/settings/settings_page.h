// The settings page without a toolkit: restoring the choices when the window is shown, storing
// each choice the moment it changes, the Default command and the delays that Exit keeps. The Qt
// window implements SettingsView and calls the handlers; every call is made on the main thread.
#pragma once

#include <string>
#include <vector>

#include "app/settings/choice_lists.h"
#include "app/common/global_object.h"
#include "app/settings/settings_store.h"

namespace lumivor {

// What the settings page asks of the window. The run-button setters and the text getters have the
// same signatures as MainWindowView's, so a window implementing both writes each of them once.
class SettingsView {
 public:
  virtual ~SettingsView() = default;

  // The six list controls. Setting an index from here must not run the change handlers (the
  // window reports only the user's changes). Index -1 selects nothing and empties an editable
  // box; so does an index that is not an entry.
  virtual void SetItems(SettingsChoice choice, const std::vector<std::string>& items) = 0;
  virtual void SetItemIndex(SettingsChoice choice, int index) = 0;
  // -1 when nothing is selected, and in the editable frame-size box when its text was typed.
  virtual int ItemIndex(SettingsChoice choice) = 0;
  // The box's text: the selected entry, or what was typed in the frame-size box.
  virtual std::string ItemText(SettingsChoice choice) = 0;

  // rdoStereo and rdoMono.
  virtual void SetStereoChecked(bool checked) = 0;
  virtual void SetMonoChecked(bool checked) = 0;
  virtual bool StereoChecked() = 0;
  virtual bool MonoChecked() = 0;

  // edtPictureDelay and edtTransitionDelay.
  virtual void SetPhotoDelayText(const std::string& text) = 0;
  virtual void SetEffectDelayText(const std::string& text) = 0;
  virtual std::string PhotoDelayText() = 0;
  virtual std::string EffectDelayText() = 0;

  // edtDir: it only displays the folder.
  virtual void SetOutputFolderText(const std::string& folder) = 0;
  virtual void SetOutputFolderEnabled(bool enabled) = 0;
  virtual std::string OutputFolderText() = 0;

  virtual void SetStartEnabled(bool enabled) = 0;
  virtual void SetPauseEnabled(bool enabled) = 0;
  virtual void SetStopEnabled(bool enabled) = 0;
  virtual void SetExitEnabled(bool enabled) = 0;
  virtual void SetRandomEffectsChecked(bool checked) = 0;  // chkRandomEffect
  virtual void SetWindowTitle(const std::string& title) = 0;
};

class SettingsPage {
 public:
  SettingsPage(SettingsView& view, SettingsStore& store, const TGlobalObject& global = GlobalObject());

  // Window show: restores every choice from the store, in the order the controls depend on.
  void FormShow();

  // One handler per control; each stores what the control shows at once.
  void cmbFormatChange();
  void cmbQualityChange();
  void cmbVideoSizeChange();
  void cmbFramerateChange();
  void cmbSampleRateChange();
  void cmbBitRateChange();
  void rdoStereoClick();
  void rdoMonoClick();
  void UpDownPhotoClick();
  void UpDownEffectClick();

  // Resets the delays (not stored) and, by the selected format, the other choices (stored).
  void btnDefaultClick();

  // The Exit button's part: the two delays are stored before the window closes.
  void StoreDelays();

 private:
  void StoreIndex(std::string_view key, SettingsChoice choice);
  void StoreIndexAndText(std::string_view indexKey, std::string_view textKey, SettingsChoice choice);
  void StoreChannels();
  void FillList(SettingsChoice choice);

  SettingsView& view_;
  SettingsStore& store_;
  const TGlobalObject& global_;
};

// What the Default command selects for one format.
struct DefaultChoices {
  int BitRateIndex;
  int VideoSizeIndex;
  int SampleRateIndex;
  int FrameRateIndex;
  bool Stereo;
};

// One row per format entry, in FormatItems' order.
const DefaultChoices* DefaultChoicesFor(int formatIndex);

inline constexpr const char* DefaultPhotoDelay = "8";
inline constexpr const char* DefaultEffectDelay = "2";

}  // namespace lumivor
