// The main window: three pages (photos, audio tracks, settings), the run buttons, the progress
// bar and status line, the side picture and the menu. The window holds the widgets and the
// dialogs; what the commands do is the application logic's.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <QMainWindow>

#include "app/run/audio_tracks.h"
#include "app/window/main_window.h"
#include "app/settings/settings_page.h"
#include "app/settings/settings_store.h"
#include "gui/file_dialogs.h"
#include "gui/message_boxes.h"
#include "media/components/ff_player.h"

class QAction;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QMenu;
class QMenuBar;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QSpinBox;
class QTabWidget;
class QTreeWidget;
class QWidget;

namespace lumivor::gui {

class AudioListView;
class PlayerSurface;
class SidePicture;
class TfmDirectory;
class TfrmPreviewSheet;
class UpDown;

class TfrmMain : public QMainWindow, public SettingsView, public AudioPageView, public MainWindowView {
 public:
  // The settings live in the application object's settings file.
  TfrmMain();
  ~TfrmMain() override;

  // The answers of dialogs and message boxes; tests set their Answer.
  QtMessageBoxes& Messages() { return messages_; }
  FileDialogs& Dialogs() { return dialogs_; }
  QtLogMemo& Log() { return *log_; }
  // Hands web pages and folders to the desktop; tests record instead.
  std::function<void(const std::string& url)> OpenUrl;
  // Created on the first Brows, owned by the window.
  TfmDirectory* fmDirectory() const { return fmDirectory_; }
  // Created by the first preview sheet shown, owned by the window.
  TfrmPreviewSheet* frmPreviewSheet() const { return frmPreviewSheet_; }

  // Commands (each also runs from its control).
  void btnVideoClick();
  void btnClearPhotosClick();
  void btnStartClick();
  void btnPauseClick();
  void btnStopClick();
  void btnOpenClick();
  void btnBrowsClick();
  void btnExitClick();
  // The audio preview.
  void btnPlayClick();
  void btnPlayPauseClick();
  void btnPlayStopClick();
  void lvFilesDblClick();
  void img1Click();
  void WebSite1Click();
  void Help1Click();
  // View > Preview Sheet: the planned show on one picture, written where the user says and shown.
  void PreviewSheet1Click();
  // Whether the window may close: asks the user.
  bool FormCloseQuery();

  SettingsStore& Settings() { return *store_; }
  AudioTrackList& AudioTracks() { return logic_->AudioTracks(); }
  // The run logic with the components it owns (FFEncoder, FIA, FFDecoder).
  MainWindow& RunLogic() { return *logic_; }
  // After each progress report has reached the status line and the bar.
  std::function<void(const TProgressInfo&)> OnProgressShown;
  // What the last Start ended with, once it has ended; Start returns at once.
  const JobResult& LastRun() const { return logic_->LastRun(); }
  // After each run's end (or a Start that ran nothing) has reached the window.
  std::function<void(const JobResult&)> OnRunFinished;
  // Waits for the run going on to end and returns its result. Only for a caller that has nothing
  // else to do meanwhile (tests): the window's own events wait too, the run's calls are served.
  JobResult WaitForRun() { return logic_->WaitForRunEnd(); }
  AudioPage& AudioLogic() { return *audioPage_; }
  TFFPlayer& FFPlayer() { return *player_; }
  SettingsPage& SettingsLogic() { return *settingsPage_; }

  // SettingsView.
  void SetItems(SettingsChoice choice, const std::vector<std::string>& items) override;
  void SetItemIndex(SettingsChoice choice, int index) override;
  int ItemIndex(SettingsChoice choice) override;
  std::string ItemText(SettingsChoice choice) override;
  void SetStereoChecked(bool checked) override;
  void SetMonoChecked(bool checked) override;
  bool StereoChecked() override;
  bool MonoChecked() override;
  void SetPhotoDelayText(const std::string& text) override;
  void SetEffectDelayText(const std::string& text) override;
  std::string PhotoDelayText() override;
  std::string EffectDelayText() override;
  void SetOutputFolderText(const std::string& folder) override;
  void SetOutputFolderEnabled(bool enabled) override;
  std::string OutputFolderText() override;
  void SetStartEnabled(bool enabled) override;
  void SetPauseEnabled(bool enabled) override;
  void SetStopEnabled(bool enabled) override;
  void SetExitEnabled(bool enabled) override;
  void SetRandomEffectsChecked(bool checked) override;
  void SetWindowTitle(const std::string& title) override;

  // AudioPageView (the setters it shares are above).
  std::vector<std::string> ChooseAudioFiles() override;
  void FocusStart() override;
  void SetAddAudioEnabled(bool enabled) override;
  void SetUpEnabled(bool enabled) override;
  void SetDownEnabled(bool enabled) override;
  void SetClearAudioEnabled(bool enabled) override;
  void SetPlayEnabled(bool enabled) override;
  void SetPlayerStopEnabled(bool enabled) override;
  void SetPlayerPauseEnabled(bool enabled) override;

  // MainWindowView (the setters and getters it shares are above).
  void SetTabsEnabled(bool enabled) override;
  void SetBrowsEnabled(bool enabled) override;
  void SetOpenEnabled(bool enabled) override;
  void SetAddPhotosEnabled(bool enabled) override;
  void SetFormatEnabled(bool enabled) override;
  void FocusStop() override;
  void SetPauseCaption(const std::string& caption) override;
  void SetStatusText(const std::string& text) override;
  void SetProgressPosition(int position) override;
  std::string VideoSizeText() override;
  std::string FrameRateText() override;
  int FormatIndex() override;
  bool RandomEffectsChecked() override;
  bool BreakWhenNoPicturesChecked() override;
  std::vector<std::string> ChoosePhotoFiles() override;
  void ShowPhotos(const std::vector<std::string>& photos) override;
  void OpenFolder(const std::string& folder) override;

  // The photo list, in order.
  const std::vector<std::string>& Photos() const { return logic_->Photos(); }

  // Controls, by the names the window declares them with (also their object names).
  SidePicture* img1;
  QTabWidget* pgc;
  QWidget* tsPhoto;
  QWidget* tsAudio;
  QWidget* tsSettings;

  QPushButton* btnVideo;
  QPushButton* btnClearPhotos;
  QListWidget* lstPictures;
  // How photos are laid into the frame and how they move; stored under their settings keys.
  QComboBox* cmbScreenMode;
  QComboBox* cmbMotion;
  // How far the photos move, in percent; only offered while they move at all.
  QSpinBox* spnMotionStrength;
  QLabel* lblMotionStrength;

  AudioListView* lvFiles;
  QPushButton* btnAddAudio;
  // How the music ends with the video; stored under its settings key.
  QComboBox* cmbMusicEnd;
  QPushButton* btnUp;
  QPushButton* btnDown;
  QPushButton* btnClear;
  QPushButton* btnPlay;
  QPushButton* btnPlayStop;
  QPushButton* btnPlayPause;
  PlayerSurface* Panel1;
  QCheckBox* chkPictures;

  QComboBox* cmbFormat;
  QComboBox* cmbVideoSize;
  QComboBox* cmbQuality;
  QComboBox* cmbFramerate;
  QComboBox* cmbSampleRate;
  QComboBox* cmbBitRate;
  QRadioButton* rdoStereo;
  QRadioButton* rdoMono;
  QLineEdit* edtPictureDelay;
  UpDown* UpDownPhoto;
  QLineEdit* edtTransitionDelay;
  UpDown* UpDownEffect;
  QLineEdit* edtDir;
  QPushButton* btnBrows;
  QPushButton* btnOpen;
  QPushButton* btnDefault;
  QCheckBox* chkRandomEffect;
  QCheckBox* chkAutoRotate;

  QPushButton* btnStart;
  QPushButton* btnPause;
  QPushButton* btnStop;
  QPushButton* btnExit;
  QProgressBar* ProgressBar1;
  QLabel* lblStatus;
  QPlainTextEdit* mmoLog;

  QMenuBar* mmMain;
  QMenu* mnuRelated;
  QAction* WebSite1;
  QAction* Help1;
  QAction* ShowLog1;
  QAction* PreviewSheet1;

 protected:
  void closeEvent(QCloseEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  void BuildPhotoPage();
  void BuildAudioPage();
  void BuildSettingsPage();
  void BuildRunControls(QWidget& client);
  void BuildMenu();
  void ConnectSettings();
  void ConnectAudio();
  void ConnectRun();
  QComboBox* ComboOf(SettingsChoice choice) const;
  void ShowMotionStrengthState();

  QtMessageBoxes messages_;
  FileDialogs dialogs_;
  std::unique_ptr<QtLogMemo> log_;
  std::unique_ptr<SettingsStore> store_;
  std::unique_ptr<SettingsPage> settingsPage_;
  std::unique_ptr<MainWindow> logic_;
  std::unique_ptr<AudioPage> audioPage_;
  std::unique_ptr<TFFPlayer> player_;
  TfmDirectory* fmDirectory_ = nullptr;
  TfrmPreviewSheet* frmPreviewSheet_ = nullptr;
  bool shown_ = false;
};

}  // namespace lumivor::gui
