#include "gui/main_form.h"

#include <algorithm>

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDesktopServices>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSpinBox>
#include <QTabWidget>
#include <QTreeWidget>
#include <QUrl>

#include "app/run/audio_joiner.h"
#include "app/common/global_object.h"
#include "app/show/photo_layout.h"
#include "app/show/photo_motion.h"
#include "gui/audio_list.h"
#include "gui/directory_form.h"
#include "gui/player_surface.h"
#include "gui/preview_sheet_form.h"
#include "gui/previewer_form.h"
#include "gui/side_picture.h"
#include "gui/up_down.h"

namespace lumivor::gui {

namespace {

constexpr int kClientWidth = 596;
constexpr int kClientHeight = 397;
constexpr const char* kPictureFilter = "Picture Files|*.BMP;*.JPEG;*.JPG;*.PNG;*.WEBP;*.HEIC;*.HEIF";
constexpr const char* kPreviewSheetFilter = "PNG Pictures|*.PNG";
constexpr const char* kPreviewSheetName = "preview-sheet.png";

template <typename Widget, typename... Arguments>
Widget* Make(QWidget* parent, const char* name, Arguments&&... arguments) {
  auto* widget = new Widget(std::forward<Arguments>(arguments)..., parent);
  widget->setObjectName(QString::fromLatin1(name));
  return widget;
}

QPushButton* MakeButton(QWidget* parent, const char* name, const char* caption, const QRect& bounds) {
  auto* button = Make<QPushButton>(parent, name, QString::fromLatin1(caption));
  button->setGeometry(bounds);
  return button;
}

QLabel* MakeLabel(QWidget* parent, const char* caption, const QRect& bounds, QWidget* buddy) {
  auto* label = new QLabel(QString::fromLatin1(caption), parent);
  label->setGeometry(bounds);
  label->setBuddy(buddy);
  return label;
}

// Tells when a window is hidden, whoever hid it.
class HideWatcher : public QObject {
 public:
  HideWatcher(QObject* parent, std::function<void()> onHide) : QObject(parent), onHide_(std::move(onHide)) {}

 protected:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Hide) onHide_();
    return false;
  }

 private:
  std::function<void()> onHide_;
};

}  // namespace

TfrmMain::TfrmMain()
    : OpenUrl([](const std::string& url) { QDesktopServices::openUrl(QUrl(QString::fromStdString(url))); }),
      messages_(this),
      store_(std::make_unique<IniSettingsStore>(GlobalObject().SettingsFile())) {
  setObjectName(QStringLiteral("frmMain"));
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);

  auto* client = new QWidget(this);
  client->setObjectName(QStringLiteral("ClientArea"));
  client->setFixedSize(kClientWidth, kClientHeight);
  setCentralWidget(client);

  img1 = Make<SidePicture>(client, "img1");
  img1->setGeometry(0, 0, 100, 400);

  pgc = Make<QTabWidget>(client, "pgc");
  pgc->setGeometry(108, 6, 482, 298);
  tsPhoto = Make<QWidget>(nullptr, "tsPhoto");
  tsAudio = Make<QWidget>(nullptr, "tsAudio");
  tsSettings = Make<QWidget>(nullptr, "tsSettings");
  pgc->addTab(tsPhoto, QStringLiteral("Add Photos"));
  pgc->addTab(tsAudio, QStringLiteral("Add Audios"));
  pgc->addTab(tsSettings, QStringLiteral("Settings"));
  BuildPhotoPage();
  BuildAudioPage();
  BuildSettingsPage();
  pgc->setCurrentWidget(tsSettings);

  BuildRunControls(*client);

  // The memo collects diagnostics out of sight; View > Log shows it in a window of its own.
  mmoLog = Make<QPlainTextEdit>(this, "mmoLog");
  mmoLog->setWindowFlags(Qt::Tool);
  mmoLog->setWindowTitle(QStringLiteral("Log"));
  mmoLog->setReadOnly(true);
  mmoLog->resize(560, 300);
  mmoLog->hide();
  log_ = std::make_unique<QtLogMemo>(*mmoLog);

  BuildMenu();
  settingsPage_ = std::make_unique<SettingsPage>(*this, *store_);
  // A choice that could not be kept is worth a line in the log; a box on every change would not be.
  store_->OnWriteFailed = [this](const std::string& errorText) {
    log_->AddLine("Cannot store the settings: " + errorText);
  };
  ConnectSettings();
  logic_ = std::make_unique<MainWindow>(*this, messages_, *log_, *store_);
  logic_->FFEncoder().PreviewFormFactory = QtPreviewerFormFactory(this);
  logic_->OnRunFinished = [this](const JobResult& result) {
    if (OnRunFinished) OnRunFinished(result);
  };
  audioPage_ = std::make_unique<AudioPage>(logic_->AudioTracks(), *this, logic_->FFDecoder(), *log_,
                                           std::vector<ComponentLibraries>{LibrariesOf(logic_->FFEncoder())});
  ConnectRun();
  player_ = std::make_unique<TFFPlayer>();
  ConnectAudio();
  // Fixed single border: the window keeps the size its client area and menu give it.
  layout()->setSizeConstraint(QLayout::SetFixedSize);
}

TfrmMain::~TfrmMain() {
  // A run still going ends before the widgets it reports to go; it tells this window nothing more.
  if (logic_) logic_->Shutdown();
}

void TfrmMain::BuildPhotoPage() {
  lstPictures = Make<QListWidget>(tsPhoto, "lstPictures");
  lstPictures->setGeometry(8, 8, 460, 182);
  btnVideo = MakeButton(tsPhoto, "btnVideo", "Add Photos", QRect(8, 198, 96, 28));
  btnClearPhotos = MakeButton(tsPhoto, "btnClearPhotos", "Clear", QRect(110, 198, 76, 28));
  // The settings page has no room left; these are about the photos anyway.
  cmbScreenMode = Make<QComboBox>(tsPhoto, "cmbScreenMode");
  for (ScreenMode mode : {ScreenMode::Fit, ScreenMode::Fill, ScreenMode::Blur}) {
    const std::string_view name = ScreenModeName(mode);
    cmbScreenMode->addItem(QString::fromLatin1(name.data(), static_cast<qsizetype>(name.size())));
  }
  MakeLabel(tsPhoto, "Scree&n:", QRect(8, 232, 50, 28), cmbScreenMode);
  cmbScreenMode->setGeometry(60, 232, 76, 28);
  cmbMotion = Make<QComboBox>(tsPhoto, "cmbMotion");
  for (MotionKind kind : {MotionKind::None, MotionKind::Zoom, MotionKind::Pan, MotionKind::Random}) {
    const std::string_view name = MotionKindName(kind);
    cmbMotion->addItem(QString::fromLatin1(name.data(), static_cast<qsizetype>(name.size())));
  }
  MakeLabel(tsPhoto, "&Motion:", QRect(160, 232, 56, 28), cmbMotion);
  cmbMotion->setGeometry(218, 232, 86, 28);
  spnMotionStrength = Make<QSpinBox>(tsPhoto, "spnMotionStrength");
  spnMotionStrength->setRange(0, MaxMotionStrength);
  spnMotionStrength->setValue(DefaultMotionStrength);
  spnMotionStrength->setSuffix(QStringLiteral(" %"));
  spnMotionStrength->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  lblMotionStrength = MakeLabel(tsPhoto, "Stren&gth:", QRect(328, 232, 66, 28), spnMotionStrength);
  spnMotionStrength->setGeometry(396, 232, 72, 28);
}

void TfrmMain::BuildAudioPage() {
  lvFiles = Make<AudioListView>(tsAudio, "lvFiles");
  lvFiles->setGeometry(8, 8, 460, 150);

  btnAddAudio = MakeButton(tsAudio, "btnAddAudio", "Add Audio", QRect(8, 166, 96, 28));
  btnUp = MakeButton(tsAudio, "btnUp", "Up", QRect(110, 166, 64, 28));
  btnDown = MakeButton(tsAudio, "btnDown", "Down", QRect(180, 166, 64, 28));
  btnClear = MakeButton(tsAudio, "btnClear", "Clear", QRect(250, 166, 64, 28));
  // How the music ends with the video; "cut" is how the program has always ended it.
  cmbMusicEnd = Make<QComboBox>(tsAudio, "cmbMusicEnd");
  for (MusicEnd end : {MusicEnd::Cut, MusicEnd::Fade, MusicEnd::Loop}) {
    const std::string_view name = MusicEndName(end);
    cmbMusicEnd->addItem(QString::fromLatin1(name.data(), static_cast<qsizetype>(name.size())));
  }
  MakeLabel(tsAudio, "Music &end:", QRect(322, 166, 70, 28), cmbMusicEnd);
  cmbMusicEnd->setGeometry(394, 166, 74, 28);

  Panel1 = Make<PlayerSurface>(tsAudio, "Panel1");
  Panel1->setGeometry(8, 202, 96, 60);

  btnPlay = MakeButton(tsAudio, "btnPlay", "Play", QRect(110, 202, 64, 28));
  btnPlayPause = MakeButton(tsAudio, "btnPlayPause", "Pause", QRect(180, 202, 64, 28));
  btnPlayStop = MakeButton(tsAudio, "btnPlayStop", "Stop", QRect(250, 202, 64, 28));
  for (QPushButton* button : {btnUp, btnDown, btnClear, btnPlay, btnPlayPause, btnPlayStop}) {
    button->setEnabled(false);
  }
  chkPictures = Make<QCheckBox>(tsAudio, "chkPictures", QStringLiteral("Break when no pictures"));
  chkPictures->setGeometry(112, 238, 240, 24);
  chkPictures->setChecked(true);
}

void TfrmMain::BuildSettingsPage() {
  auto* video = new QGroupBox(QStringLiteral("Video"), tsSettings);
  video->setGeometry(8, 4, 250, 142);
  cmbFormat = Make<QComboBox>(video, "cmbFormat");
  cmbVideoSize = Make<QComboBox>(video, "cmbVideoSize");
  cmbVideoSize->setEditable(true);
  // Typed sizes stay in the box; they are not added to the list.
  cmbVideoSize->setInsertPolicy(QComboBox::NoInsert);
  cmbVideoSize->setEditText(QString::fromLatin1(VideoSizeDesignText.data(), VideoSizeDesignText.size()));
  cmbQuality = Make<QComboBox>(video, "cmbQuality");
  cmbFramerate = Make<QComboBox>(video, "cmbFramerate");
  for (std::string_view rate : FrameRateItems) cmbFramerate->addItem(QString::fromLatin1(rate.data(), rate.size()));
  const struct {
    const char* Caption;
    QComboBox* Box;
  } videoRows[] = {{"&Format:", cmbFormat}, {"Frame si&ze:", cmbVideoSize}, {"&Quality:", cmbQuality},
                   {"Frame &rate:", cmbFramerate}};
  int y = 22;
  for (const auto& row : videoRows) {
    MakeLabel(video, row.Caption, QRect(10, y, 76, 26), row.Box);
    row.Box->setGeometry(88, y, 152, 26);
    y += 29;
  }

  auto* audio = new QGroupBox(QStringLiteral("Audio"), tsSettings);
  audio->setGeometry(264, 4, 204, 142);
  cmbSampleRate = Make<QComboBox>(audio, "cmbSampleRate");
  MakeLabel(audio, "Sample r&ate:", QRect(10, 22, 84, 26), cmbSampleRate);
  cmbSampleRate->setGeometry(96, 22, 100, 26);
  rdoStereo = Make<QRadioButton>(audio, "rdoStereo", QStringLiteral("Stereo"));
  rdoStereo->setGeometry(96, 56, 110, 24);
  rdoStereo->setChecked(true);
  rdoMono = Make<QRadioButton>(audio, "rdoMono", QStringLiteral("Mono"));
  rdoMono->setGeometry(96, 82, 110, 24);
  // Kept for the settings it stores; the user never sees it.
  cmbBitRate = Make<QComboBox>(audio, "cmbBitRate");
  cmbBitRate->setGeometry(96, 110, 100, 26);
  cmbBitRate->hide();

  auto* timing = new QGroupBox(QStringLiteral("Timing (seconds)"), tsSettings);
  timing->setGeometry(8, 150, 460, 56);
  edtPictureDelay = Make<QLineEdit>(timing, "edtPictureDelay");
  edtTransitionDelay = Make<QLineEdit>(timing, "edtTransitionDelay");
  UpDownPhoto = Make<UpDown>(timing, "UpDownPhoto", *edtPictureDelay, PhotoDelayRange.Min, PhotoDelayRange.Max);
  UpDownEffect =
      Make<UpDown>(timing, "UpDownEffect", *edtTransitionDelay, EffectDelayRange.Min, EffectDelayRange.Max);
  MakeLabel(timing, "&Photo:", QRect(10, 22, 44, 26), edtPictureDelay);
  edtPictureDelay->setGeometry(56, 22, 50, 26);
  UpDownPhoto->setGeometry(106, 22, 18, 26);
  MakeLabel(timing, "&Transition:", QRect(140, 22, 72, 26), edtTransitionDelay);
  edtTransitionDelay->setGeometry(214, 22, 50, 26);
  UpDownEffect->setGeometry(264, 22, 18, 26);
  for (QLineEdit* box : {edtPictureDelay, edtTransitionDelay}) {
    box->setReadOnly(true);
    box->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  }
  chkRandomEffect = Make<QCheckBox>(timing, "chkRandomEffect", QStringLiteral("Random effects"));
  chkRandomEffect->setGeometry(300, 22, 150, 26);

  MakeLabel(tsSettings, "Output folder:", QRect(10, 212, 200, 20), nullptr);
  chkAutoRotate = Make<QCheckBox>(tsSettings, "chkAutoRotate", QStringLiteral("Rotate photos by their orientation tag"));
  chkAutoRotate->setGeometry(212, 208, 260, 24);
  chkAutoRotate->setChecked(true);
  edtDir = Make<QLineEdit>(tsSettings, "edtDir");
  edtDir->setGeometry(8, 234, 246, 28);
  edtDir->setEnabled(false);
  btnBrows = MakeButton(tsSettings, "btnBrows", "Brows", QRect(260, 234, 64, 28));
  btnOpen = MakeButton(tsSettings, "btnOpen", "Open", QRect(330, 234, 64, 28));
  btnDefault = MakeButton(tsSettings, "btnDefault", "Default", QRect(400, 234, 68, 28));
  connect(btnBrows, &QPushButton::clicked, this, [this] { btnBrowsClick(); });
}

void TfrmMain::ConnectSettings() {
  // Only the user's changes reach the handlers: activated and textEdited are not emitted for
  // what the program sets.
  SettingsPage& page = *settingsPage_;
  connect(cmbFormat, &QComboBox::activated, this, [&page] { page.cmbFormatChange(); });
  connect(cmbQuality, &QComboBox::activated, this, [&page] { page.cmbQualityChange(); });
  connect(cmbVideoSize, &QComboBox::activated, this, [&page] { page.cmbVideoSizeChange(); });
  connect(cmbVideoSize->lineEdit(), &QLineEdit::textEdited, this, [&page] { page.cmbVideoSizeChange(); });
  connect(cmbFramerate, &QComboBox::activated, this, [&page] { page.cmbFramerateChange(); });
  connect(cmbSampleRate, &QComboBox::activated, this, [&page] { page.cmbSampleRateChange(); });
  connect(cmbBitRate, &QComboBox::activated, this, [&page] { page.cmbBitRateChange(); });
  connect(rdoStereo, &QRadioButton::clicked, this, [&page] { page.rdoStereoClick(); });
  connect(rdoMono, &QRadioButton::clicked, this, [&page] { page.rdoMonoClick(); });
  UpDownPhoto->OnClick = [&page] { page.UpDownPhotoClick(); };
  UpDownEffect->OnClick = [&page] { page.UpDownEffectClick(); };
  connect(btnDefault, &QPushButton::clicked, this, [&page] { page.btnDefaultClick(); });
  connect(cmbScreenMode, &QComboBox::activated, this, [this] {
    store_->WriteString(settings_key::ScreenMode, cmbScreenMode->currentText().toStdString());
  });
  connect(cmbMotion, &QComboBox::activated, this,
          [this] { store_->WriteString(settings_key::Motion, cmbMotion->currentText().toStdString()); });
  // Whoever sets the motion, the user or the stored settings, the strength follows it.
  connect(cmbMotion, &QComboBox::currentIndexChanged, this, [this] { ShowMotionStrengthState(); });
  ShowMotionStrengthState();
  // The restored value is set with the box's signals blocked, so only the user's changes land here.
  connect(spnMotionStrength, &QSpinBox::valueChanged, this,
          [this](int value) { store_->WriteInteger(settings_key::MotionStrength, value); });
  connect(cmbMusicEnd, &QComboBox::activated, this,
          [this] { store_->WriteString(settings_key::MusicEnd, cmbMusicEnd->currentText().toStdString()); });
  connect(chkAutoRotate, &QCheckBox::clicked, this,
          [this](bool checked) { store_->WriteBool(settings_key::AutoRotate, checked); });
}

void TfrmMain::ConnectAudio() {
  AudioTrackList& tracks = logic_->AudioTracks();
  tracks.OnChanged = [this, &tracks] { lvFiles->ShowTracks(tracks); };
  lvFiles->OnSelect = [&tracks](int row) { tracks.Select(row); };
  connect(lvFiles, &QTreeWidget::itemDoubleClicked, this, [this] { lvFilesDblClick(); });
  AudioPage& page = *audioPage_;
  connect(btnAddAudio, &QPushButton::clicked, this, [&page] { page.btnAddAudioClick(); });
  connect(btnUp, &QPushButton::clicked, this, [&page] { page.btnUpClick(); });
  connect(btnDown, &QPushButton::clicked, this, [&page] { page.btnDownClick(); });
  connect(btnClear, &QPushButton::clicked, this, [&page] { page.btnClearClick(); });
  connect(btnPlay, &QPushButton::clicked, this, [this] { btnPlayClick(); });
  connect(btnPlayPause, &QPushButton::clicked, this, [this] { btnPlayPauseClick(); });
  connect(btnPlayStop, &QPushButton::clicked, this, [this] { btnPlayStopClick(); });
  Panel1->OnExposed = [this] {
    if (player_->PlayerState() != psStop && player_->PlayerState() != psEnd) player_->Refresh();
  };
  // Without a display of its own kind the player still plays the sound.
  player_->DisableDisplay = !PlayerCanUseNativeWindows();
}

void TfrmMain::ConnectRun() {
  connect(btnVideo, &QPushButton::clicked, this, [this] { btnVideoClick(); });
  connect(btnClearPhotos, &QPushButton::clicked, this, [this] { btnClearPhotosClick(); });
  connect(btnStart, &QPushButton::clicked, this, [this] { btnStartClick(); });
  connect(btnPause, &QPushButton::clicked, this, [this] { btnPauseClick(); });
  connect(btnStop, &QPushButton::clicked, this, [this] { btnStopClick(); });
  connect(btnOpen, &QPushButton::clicked, this, [this] { btnOpenClick(); });
  logic_->OnRunProgress = [this](const TProgressInfo& info) {
    if (OnProgressShown) OnProgressShown(info);
  };
}

void TfrmMain::ShowMotionStrengthState() {
  const bool moving =
      ParseMotionKind(cmbMotion->currentText().toStdString()).value_or(MotionKind::None) != MotionKind::None;
  spnMotionStrength->setEnabled(moving);
  lblMotionStrength->setEnabled(moving);
}

QComboBox* TfrmMain::ComboOf(SettingsChoice choice) const {
  switch (choice) {
    case SettingsChoice::Format: return cmbFormat;
    case SettingsChoice::Quality: return cmbQuality;
    case SettingsChoice::VideoSize: return cmbVideoSize;
    case SettingsChoice::FrameRate: return cmbFramerate;
    case SettingsChoice::SampleRate: return cmbSampleRate;
    case SettingsChoice::BitRate: return cmbBitRate;
  }
  return cmbFormat;
}

void TfrmMain::SetItems(SettingsChoice choice, const std::vector<std::string>& items) {
  QComboBox* box = ComboOf(choice);
  const QSignalBlocker quiet(box);
  const QString text = box->currentText();
  box->clear();
  for (const std::string& item : items) box->addItem(QString::fromStdString(item));
  // A filled list has no selection until one is made (Qt would select the first entry), and an
  // editable box keeps what it showed.
  box->setCurrentIndex(-1);
  if (box->isEditable()) box->setEditText(text);
}

void TfrmMain::SetItemIndex(SettingsChoice choice, int index) {
  QComboBox* box = ComboOf(choice);
  const QSignalBlocker quiet(box);
  box->setCurrentIndex(index >= 0 && index < box->count() ? index : -1);
  if (box->currentIndex() < 0 && box->isEditable()) box->setEditText(QString());
}

int TfrmMain::ItemIndex(SettingsChoice choice) {
  const QComboBox* box = ComboOf(choice);
  const int index = box->currentIndex();
  // A frame size typed by hand is no entry of the list, even while the list's cursor stays put.
  if (box->isEditable() && (index < 0 || box->currentText() != box->itemText(index))) return -1;
  return index;
}

std::string TfrmMain::ItemText(SettingsChoice choice) { return ComboOf(choice)->currentText().toStdString(); }

void TfrmMain::SetStereoChecked(bool checked) { rdoStereo->setChecked(checked); }
void TfrmMain::SetMonoChecked(bool checked) { rdoMono->setChecked(checked); }
bool TfrmMain::StereoChecked() { return rdoStereo->isChecked(); }
bool TfrmMain::MonoChecked() { return rdoMono->isChecked(); }
void TfrmMain::SetPhotoDelayText(const std::string& text) { edtPictureDelay->setText(QString::fromStdString(text)); }
void TfrmMain::SetEffectDelayText(const std::string& text) {
  edtTransitionDelay->setText(QString::fromStdString(text));
}
std::string TfrmMain::PhotoDelayText() { return edtPictureDelay->text().toStdString(); }
std::string TfrmMain::EffectDelayText() { return edtTransitionDelay->text().toStdString(); }
void TfrmMain::SetOutputFolderText(const std::string& folder) { edtDir->setText(QString::fromStdString(folder)); }
void TfrmMain::SetOutputFolderEnabled(bool enabled) { edtDir->setEnabled(enabled); }
std::string TfrmMain::OutputFolderText() { return edtDir->text().toStdString(); }
void TfrmMain::SetStartEnabled(bool enabled) {
  btnStart->setEnabled(enabled);
  // The sheet is drawn by the run's own sequencer: not while a run is drawing with it.
  PreviewSheet1->setEnabled(enabled);
}
void TfrmMain::SetPauseEnabled(bool enabled) { btnPause->setEnabled(enabled); }
void TfrmMain::SetStopEnabled(bool enabled) { btnStop->setEnabled(enabled); }
void TfrmMain::SetExitEnabled(bool enabled) { btnExit->setEnabled(enabled); }
void TfrmMain::SetRandomEffectsChecked(bool checked) { chkRandomEffect->setChecked(checked); }
void TfrmMain::SetWindowTitle(const std::string& title) { setWindowTitle(QString::fromStdString(title)); }

std::vector<std::string> TfrmMain::ChooseAudioFiles() { return dialogs_.OpenFileNames(this, AudioFileFilter); }
void TfrmMain::FocusStart() { btnStart->setFocus(); }
void TfrmMain::SetAddAudioEnabled(bool enabled) { btnAddAudio->setEnabled(enabled); }
void TfrmMain::SetUpEnabled(bool enabled) { btnUp->setEnabled(enabled); }
void TfrmMain::SetDownEnabled(bool enabled) { btnDown->setEnabled(enabled); }
void TfrmMain::SetClearAudioEnabled(bool enabled) { btnClear->setEnabled(enabled); }
void TfrmMain::SetPlayEnabled(bool enabled) { btnPlay->setEnabled(enabled); }
void TfrmMain::SetPlayerStopEnabled(bool enabled) { btnPlayStop->setEnabled(enabled); }
void TfrmMain::SetPlayerPauseEnabled(bool enabled) { btnPlayPause->setEnabled(enabled); }

void TfrmMain::SetTabsEnabled(bool enabled) { pgc->setEnabled(enabled); }
void TfrmMain::SetBrowsEnabled(bool enabled) { btnBrows->setEnabled(enabled); }
void TfrmMain::SetOpenEnabled(bool enabled) { btnOpen->setEnabled(enabled); }
void TfrmMain::SetAddPhotosEnabled(bool enabled) { btnVideo->setEnabled(enabled); }
void TfrmMain::SetFormatEnabled(bool enabled) { cmbFormat->setEnabled(enabled); }
void TfrmMain::FocusStop() { btnStop->setFocus(); }
void TfrmMain::SetPauseCaption(const std::string& caption) { btnPause->setText(QString::fromStdString(caption)); }
void TfrmMain::SetStatusText(const std::string& text) { lblStatus->setText(QString::fromStdString(text)); }
void TfrmMain::SetProgressPosition(int position) {
  ProgressBar1->setValue(position);
  // Stop sets the bar right before it waits for the run: it must not wait for an idle moment.
  ProgressBar1->repaint();
}
std::string TfrmMain::VideoSizeText() { return cmbVideoSize->currentText().toStdString(); }
std::string TfrmMain::FrameRateText() { return cmbFramerate->currentText().toStdString(); }
int TfrmMain::FormatIndex() { return cmbFormat->currentIndex(); }
bool TfrmMain::RandomEffectsChecked() { return chkRandomEffect->isChecked(); }
bool TfrmMain::BreakWhenNoPicturesChecked() { return chkPictures->isChecked(); }
std::vector<std::string> TfrmMain::ChoosePhotoFiles() { return dialogs_.OpenFileNames(this, kPictureFilter); }
void TfrmMain::ShowPhotos(const std::vector<std::string>& photos) {
  lstPictures->clear();
  for (const std::string& photo : photos) lstPictures->addItem(QString::fromStdString(photo));
}
void TfrmMain::OpenFolder(const std::string& folder) {
  OpenUrl(QUrl::fromLocalFile(QString::fromStdString(folder)).toString().toStdString());
}

void TfrmMain::BuildRunControls(QWidget& client) {
  ProgressBar1 = Make<QProgressBar>(&client, "ProgressBar1");
  ProgressBar1->setGeometry(108, 312, 482, 18);
  ProgressBar1->setRange(0, 100);
  ProgressBar1->setValue(0);
  lblStatus = Make<QLabel>(&client, "lblStatus", QStringLiteral("Status"));
  lblStatus->setGeometry(110, 334, 480, 20);
  btnStart = MakeButton(&client, "btnStart", "&Start", QRect(108, 362, 88, 28));
  btnPause = MakeButton(&client, "btnPause", "&Pause", QRect(202, 362, 88, 28));
  btnStop = MakeButton(&client, "btnStop", "S&top", QRect(296, 362, 88, 28));
  btnExit = MakeButton(&client, "btnExit", "&Exit", QRect(502, 362, 88, 28));
  btnPause->setEnabled(false);
  btnStop->setEnabled(false);
  connect(btnExit, &QPushButton::clicked, this, [this] { btnExitClick(); });
}

void TfrmMain::BuildMenu() {
  mmMain = menuBar();
  mmMain->setObjectName(QStringLiteral("mmMain"));
  QMenu* view = mmMain->addMenu(QStringLiteral("&View"));
  ShowLog1 = view->addAction(QStringLiteral("&Log"));
  ShowLog1->setObjectName(QStringLiteral("ShowLog1"));
  ShowLog1->setCheckable(true);
  connect(ShowLog1, &QAction::toggled, mmoLog, &QWidget::setVisible);
  // The log window has a close button of its own; the menu item follows it.
  mmoLog->installEventFilter(new HideWatcher(mmoLog, [this] { ShowLog1->setChecked(false); }));
  PreviewSheet1 = view->addAction(QStringLiteral("Preview Sheet..."));
  PreviewSheet1->setObjectName(QStringLiteral("PreviewSheet1"));
  connect(PreviewSheet1, &QAction::triggered, this, [this] { PreviewSheet1Click(); });
  mnuRelated = mmMain->addMenu(QStringLiteral("Related software"));
  mnuRelated->setObjectName(QStringLiteral("RelatedSoftware1"));
  // The project's other program is the only relative it has: its help lives on the same page.
  QAction* commandLine = mnuRelated->addAction(QStringLiteral("lumivor (command line)"));
  commandLine->setObjectName(QStringLiteral("CommandLine1"));
  connect(commandLine, &QAction::triggered, this, [this] { OpenUrl(GlobalObject().HelpPageURL()); });
  WebSite1 = mmMain->addAction(QStringLiteral("Web Site"));
  WebSite1->setObjectName(QStringLiteral("WebSite1"));
  connect(WebSite1, &QAction::triggered, this, [this] { WebSite1Click(); });
  Help1 = mmMain->addAction(QStringLiteral("Help"));
  Help1->setObjectName(QStringLiteral("Help1"));
  connect(Help1, &QAction::triggered, this, [this] { Help1Click(); });
  img1->OnClick = [this] { img1Click(); };
}

void TfrmMain::btnVideoClick() { logic_->btnVideoClick(); }
void TfrmMain::btnClearPhotosClick() { logic_->btnClearPhotosClick(); }
// Returns at once: the run goes on its own thread and reports through the event loop.
void TfrmMain::btnStartClick() {
  logic_->RunOptions.AutoRotate = chkAutoRotate->isChecked();
  logic_->btnStartClick();
}
void TfrmMain::btnPauseClick() { logic_->btnPauseClick(); }
void TfrmMain::btnStopClick() { logic_->btnStopClick(); }
void TfrmMain::btnOpenClick() { logic_->btnOpenClick(); }

void TfrmMain::btnBrowsClick() {
  if (fmDirectory_ == nullptr) fmDirectory_ = new TfmDirectory(this, messages_);
  fmDirectory_->exec();
  const std::string& chosen = fmDirectory_->ChosenPath;
  if (chosen.empty() || chosen == OutputFolderText()) return;
  store_->WriteString(settings_key::OutPutDir, chosen);
  SetOutputFolderText(chosen);
}

void TfrmMain::btnExitClick() {
  settingsPage_->StoreDelays();
  close();
}

void TfrmMain::btnPlayClick() {
  if (!player_->LibrariesLoaded() || !player_->SDLLoaded()) {
    if (!player_->LoadLibraries(audioPage_->LibraryFolder, true)) {
      log_->AddLine(player_->LastErrorText);
      ShowPlayFailure(messages_, player_->LastErrorText);
      return;
    }
  }
  const AudioTrackList& tracks = logic_->AudioTracks();
  std::string track;
  if (!tracks.Empty()) track = tracks.Rows()[tracks.Selected() >= 0 ? tracks.Selected() : 0].Path;
  logic_->FFEncoder().Stop(true);
  player_->Stop(true);
  if (!player_->Open(track, Panel1->ScreenHandle(), false)) {
    log_->AddLine(player_->LastErrorText);
    // Nothing plays: the page stays as it was, and the user learns why.
    ShowPlayFailure(messages_, player_->LastErrorText);
    return;
  }
  btnAddAudio->setEnabled(false);
  btnStart->setEnabled(false);
  btnStop->setEnabled(false);
  btnPause->setEnabled(false);
  btnClear->setEnabled(false);
  btnPlayPause->setText(QStringLiteral("Pause"));
  lvFiles->setEnabled(true);
}

void TfrmMain::btnPlayPauseClick() {
  player_->TogglePause();
  const TPlayState state = player_->PlayerState();
  if (state == psPlay || state == psPause) {
    btnPlayPause->setText(QStringLiteral("Resume"));
  } else if (state == psResume) {
    btnPlayPause->setText(QStringLiteral("Pause"));
  }
}

void TfrmMain::btnPlayStopClick() {
  player_->Stop(false);
  btnAddAudio->setEnabled(true);
  btnClear->setEnabled(true);
  btnStart->setEnabled(true);
  btnPlayPause->setText(QStringLiteral("Pause"));
}

void TfrmMain::lvFilesDblClick() {
  if (logic_->AudioTracks().Selected() >= 0) btnPlayClick();
}

void TfrmMain::img1Click() { OpenUrl(GlobalObject().ProductPageURL()); }
void TfrmMain::WebSite1Click() { OpenUrl(GlobalObject().ProductPageURL()); }
void TfrmMain::Help1Click() { OpenUrl(GlobalObject().HelpPageURL()); }

void TfrmMain::PreviewSheet1Click() {
  if (logic_->Running()) return;
  // Start would open Add Photos here; a command that only looks at the show says what it lacks.
  if (Photos().empty()) {
    messages_.ShowMessage("There are no photos to preview. Add photos first.", GlobalObject().ProductName(),
                          MessageIcon::Information, MessageButtons::Ok);
    return;
  }
  const std::string folder = OutputFolderText();
  const std::string file = dialogs_.SaveFileName(
      this, kPreviewSheetFilter, folder.empty() ? kPreviewSheetName : folder + "/" + kPreviewSheetName, "png");
  if (file.empty()) return;

  JobResult sheet;
  {
    // The sheet is this call's only: the next Start encodes as before, whatever happens here.
    struct KeptOptions {
      JobOptions& Options;
      const JobOptions Saved;
      ~KeptOptions() { Options = Saved; }
    } kept{logic_->RunOptions, logic_->RunOptions};
    struct BusyCursor {
      BusyCursor() { QGuiApplication::setOverrideCursor(Qt::WaitCursor); }
      ~BusyCursor() { QGuiApplication::restoreOverrideCursor(); }
    } busy;
    logic_->RunOptions.PreviewSheetFile = file;
    logic_->RunOptions.AutoRotate = chkAutoRotate->isChecked();
    // The sheet is drawn without encoding, a matter of moments: the command waits for it, as a
    // save does, rather than leave the window half idle meanwhile.
    sheet = logic_->btnStartClick() ? logic_->WaitForRunEnd() : logic_->LastRun();
  }
  std::string errorText = sheet.ErrorText;
  if (sheet.End == JobEnd::Finished) {
    if (frmPreviewSheet_ == nullptr) frmPreviewSheet_ = new TfrmPreviewSheet(this);
    if (frmPreviewSheet_->ShowSheet(sheet.OutputFile, errorText)) return;
  }
  messages_.ShowMessage(errorText, GlobalObject().ProductName(), MessageIcon::Exclamation, MessageButtons::Ok);
}

bool TfrmMain::FormCloseQuery() {
  return messages_.ShowMessage("Do you really want to exit?", "Warning", MessageIcon::Question,
                               MessageButtons::YesNo) == MessageResult::Yes;
}

void TfrmMain::closeEvent(QCloseEvent* event) {
  if (FormCloseQuery()) {
    // Exit is disabled while a run goes on, but the title bar's close is not: a user who confirms
    // leaving ends the run as Stop does, with its file finished, instead of leaving it to run on
    // in a window that is gone.
    if (logic_->Running()) {
      logic_->btnStopClick();
      // The file is closed before the window goes; the wait serves the run's calls.
      logic_->WaitForRunEnd();
    }
    mmoLog->close();
    event->accept();
  } else {
    event->ignore();
  }
}

void TfrmMain::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (shown_) return;
  shown_ = true;
  settingsPage_->FormShow();
  // A stored text the program does not know shows the first entry, which is also what a run uses.
  cmbScreenMode->setCurrentIndex(std::max(
      0, cmbScreenMode->findText(QString::fromStdString(store_->ReadString(settings_key::ScreenMode, "fit")))));
  cmbMotion->setCurrentIndex(
      std::max(0, cmbMotion->findText(QString::fromStdString(store_->ReadString(settings_key::Motion, "none")))));
  cmbMusicEnd->setCurrentIndex(
      std::max(0, cmbMusicEnd->findText(QString::fromStdString(store_->ReadString(settings_key::MusicEnd, "cut")))));
  {
    const QSignalBlocker quiet(spnMotionStrength);
    // The box keeps the value within its range, as a run keeps the stored strength.
    spnMotionStrength->setValue(store_->ReadInteger(settings_key::MotionStrength, DefaultMotionStrength));
  }
  chkAutoRotate->setChecked(store_->ReadBool(settings_key::AutoRotate, true));
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    move(screen->availableGeometry().center() - frameGeometry().center() + pos());
  }
}

}  // namespace lumivor::gui
