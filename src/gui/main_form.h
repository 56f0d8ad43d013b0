// The main window: three pages (photos, audio tracks, settings), the run buttons, the progress
// bar and status line, the side picture and the menu. The window holds the widgets and the
// dialogs; what the commands do is the application logic's.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include <QMainWindow>

#include "gui/file_dialogs.h"
#include "gui/message_boxes.h"

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
class QTabWidget;
class QTreeWidget;
class QWidget;

namespace lumivor::gui {

class SidePicture;
class TfmDirectory;
class UpDown;

class TfrmMain : public QMainWindow {
 public:
  TfrmMain();
  ~TfrmMain() override;

  // The answers of dialogs and message boxes; tests set their Answer.
  QtMessageBoxes& Messages() { return messages_; }
  FileDialogs& Dialogs() { return dialogs_; }
  QtLogMemo& Log() { return *log_; }
  // Created on the first Brows, owned by the window.
  TfmDirectory* fmDirectory() const { return fmDirectory_; }

  // Commands (each also runs from its control).
  void btnVideoClick();
  void btnClearPhotosClick();
  void btnBrowsClick();
  void btnExitClick();
  // Whether the window may close: asks the user.
  bool FormCloseQuery();

  // The photo list, in order.
  std::vector<std::string> Photos() const;

  // Controls, by the names the window declares them with (also their object names).
  SidePicture* img1;
  QTabWidget* pgc;
  QWidget* tsPhoto;
  QWidget* tsAudio;
  QWidget* tsSettings;

  QPushButton* btnVideo;
  QPushButton* btnClearPhotos;
  QListWidget* lstPictures;

  QTreeWidget* lvFiles;
  QPushButton* btnAddAudio;
  QPushButton* btnUp;
  QPushButton* btnDown;
  QPushButton* btnClear;
  QPushButton* btnPlay;
  QPushButton* btnPlayStop;
  QPushButton* btnPlayPause;
  QWidget* Panel1;
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

 protected:
  void closeEvent(QCloseEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  void BuildPhotoPage();
  void BuildAudioPage();
  void BuildSettingsPage();
  void BuildRunControls(QWidget& client);
  void BuildMenu();

  QtMessageBoxes messages_;
  FileDialogs dialogs_;
  std::unique_ptr<QtLogMemo> log_;
  TfmDirectory* fmDirectory_ = nullptr;
  bool centred_ = false;
};

}  // namespace lumivor::gui
