#include "studio/settings_panel.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "app/settings/choice_lists.h"

namespace lumivor::studio {

const ScreenChoice ScreenChoices[3] = {
    {ScreenMode::Fit, "Fit, black around"},
    {ScreenMode::Fill, "Fill, cropped"},
    {ScreenMode::Blur, "Fit, blurred around"},
};

const MotionChoice MotionChoices[4] = {
    {MotionKind::None, "Still"},
    {MotionKind::Zoom, "Zoom"},
    {MotionKind::Pan, "Pan"},
    {MotionKind::Random, "Zoom or pan, at random"},
};

namespace {

using ScreenRow = ScreenChoice;
const auto& kScreenRows = ScreenChoices;
using MotionRow = MotionChoice;
const auto& kMotionRows = MotionChoices;

struct MusicRow {
  MusicEnd End;
  const char* Text;
};
const MusicRow kMusicRows[] = {
    {MusicEnd::Cut, "Cut at the show's end"},
    {MusicEnd::Fade, "Fade out with the show"},
    {MusicEnd::Loop, "Loop until the show ends"},
};

struct CaptionRow {
  CaptionRule Rule;
  const char* Text;
};
const CaptionRow kCaptionRows[] = {
    {CaptionRule::None, "None"},
    {CaptionRule::Date, "Date taken"},
};

// Merge ids of the line edits lie above every control's own number; each run of typing takes the
// next pair.
constexpr int kTypingMergeBase = 1000;

// The effect list's rows; the third is there only while the project names its own order.
enum EffectsRow { RandomRow, SequentialRow, ListedRow };

QDoubleSpinBox* seconds_box(const DelayRange& range) {
  auto* box = new QDoubleSpinBox;
  // Projects keep seconds in tenths.
  box->setDecimals(1);
  box->setSingleStep(0.1);
  box->setRange(range.Min, range.Max);
  box->setSuffix(QStringLiteral(" s"));
  return box;
}

template <typename Row, std::size_t N, typename Value>
int row_of(const Row (&rows)[N], Value Row::*field, Value value) {
  for (std::size_t i = 0; i < N; ++i) {
    if (rows[i].*field == value) return static_cast<int>(i);
  }
  return 0;
}

}  // namespace

ShowSettingsPanel::ShowSettingsPanel(QWidget* parent) : QWidget(parent) {
  spnHold = seconds_box(PhotoDelayRange);
  spnHold->setObjectName(QStringLiteral("spnHold"));
  spnTransition = seconds_box(EffectDelayRange);
  spnTransition->setObjectName(QStringLiteral("spnTransition"));
  cmbScreen = new QComboBox;
  for (const ScreenRow& row : kScreenRows) cmbScreen->addItem(QString::fromUtf8(row.Text));
  cmbMotion = new QComboBox;
  for (const MotionRow& row : kMotionRows) cmbMotion->addItem(QString::fromUtf8(row.Text));
  spnStrength = new QSpinBox;
  spnStrength->setRange(0, MaxMotionStrength);
  spnStrength->setSuffix(QStringLiteral(" %"));
  cmbMusicEnd = new QComboBox;
  for (const MusicRow& row : kMusicRows) cmbMusicEnd->addItem(QString::fromUtf8(row.Text));
  cmbEffects = new QComboBox;
  cmbEffects->addItem(QStringLiteral("Random"));
  cmbEffects->addItem(QStringLiteral("Sequential"));
  chkNormalize = new QCheckBox(QStringLiteral("Bring music to a common &loudness"));
  chkNormalize->setObjectName(QStringLiteral("chkNormalize"));
  chkBeatSync = new QCheckBox(QStringLiteral("Cut on the &beat"));
  chkBeatSync->setObjectName(QStringLiteral("chkBeatSync"));
  edtTitle = new QLineEdit;
  edtTitle->setObjectName(QStringLiteral("edtTitle"));
  edtTitle->setPlaceholderText(QStringLiteral("No title card"));
  edtSubtitle = new QLineEdit;
  edtSubtitle->setObjectName(QStringLiteral("edtSubtitle"));
  cmbCaptions = new QComboBox;
  cmbCaptions->setObjectName(QStringLiteral("cmbCaptions"));
  for (const CaptionRow& row : kCaptionRows) cmbCaptions->addItem(QString::fromUtf8(row.Text));
  typingPause_ = new QTimer(this);
  typingPause_->setSingleShot(true);
  typingPause_->setInterval(TypingPauseMs);

  auto* form = new QFormLayout;
  form->addRow(QStringLiteral("&Hold each photo:"), spnHold);
  form->addRow(QStringLiteral("&Transition:"), spnTransition);
  form->addRow(QStringLiteral("&Screen:"), cmbScreen);
  form->addRow(QStringLiteral("&Motion:"), cmbMotion);
  form->addRow(QStringLiteral("Motion s&trength:"), spnStrength);
  form->addRow(QStringLiteral("&Effects:"), cmbEffects);
  form->addRow(QStringLiteral("M&usic ends:"), cmbMusicEnd);
  form->addRow(chkNormalize);
  form->addRow(chkBeatSync);
  form->addRow(QStringLiteral("Tit&le:"), edtTitle);
  form->addRow(QStringLiteral("Su&btitle:"), edtSubtitle);
  form->addRow(QStringLiteral("&Captions:"), cmbCaptions);

  lstTracks = new QTreeWidget;
  lstTracks->setObjectName(QStringLiteral("lstTracks"));
  lstTracks->setColumnCount(2);
  lstTracks->setHeaderLabels({QStringLiteral("Track"), QStringLiteral("Length")});
  lstTracks->setRootIsDecorated(false);
  lstTracks->setSelectionMode(QAbstractItemView::ExtendedSelection);
  lstTracks->header()->setSectionResizeMode(0, QHeaderView::Stretch);
  lstTracks->header()->setSectionResizeMode(1, QHeaderView::ResizeToContents);
  lstTracks->header()->setStretchLastSection(false);
  btnAddTracks = new QPushButton(QStringLiteral("Add T&racks…"));
  btnRemoveTracks = new QPushButton(QStringLiteral("Remo&ve Tracks"));
  btnTrackUp = new QPushButton(QStringLiteral("U&p"));
  btnTrackDown = new QPushButton(QStringLiteral("Do&wn"));
  auto* trackButtons = new QHBoxLayout;
  trackButtons->addWidget(btnAddTracks);
  trackButtons->addWidget(btnRemoveTracks);
  trackButtons->addWidget(btnTrackUp);
  trackButtons->addWidget(btnTrackDown);
  trackButtons->addStretch();

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addWidget(new QLabel(QStringLiteral("Music:")));
  layout->addWidget(lstTracks, 1);
  layout->addLayout(trackButtons);

  connect(spnHold, &QDoubleSpinBox::valueChanged, this, [this] { Changed(HoldControl); });
  connect(spnTransition, &QDoubleSpinBox::valueChanged, this, [this] { Changed(TransitionControl); });
  connect(cmbScreen, &QComboBox::currentIndexChanged, this, [this] { Changed(ScreenControl); });
  connect(cmbMotion, &QComboBox::currentIndexChanged, this, [this] {
    UpdateStrength();
    Changed(MotionControl);
  });
  connect(spnStrength, &QSpinBox::valueChanged, this, [this] { Changed(StrengthControl); });
  connect(cmbMusicEnd, &QComboBox::currentIndexChanged, this, [this] { Changed(MusicEndControl); });
  connect(cmbEffects, &QComboBox::currentIndexChanged, this, [this] { Changed(EffectsControl); });
  connect(chkNormalize, &QCheckBox::toggled, this, [this] { Changed(NormalizeControl); });
  connect(chkBeatSync, &QCheckBox::toggled, this, [this] { Changed(BeatSyncControl); });
  // Only what the user types counts as an edit; text set by ShowChoices (an undo) does not.
  connect(edtTitle, &QLineEdit::textEdited, this, [this] {
    typingPause_->start();
    Changed(TitleControl);
  });
  connect(edtSubtitle, &QLineEdit::textEdited, this, [this] {
    typingPause_->start();
    Changed(SubtitleControl);
  });
  connect(edtTitle, &QLineEdit::editingFinished, this, [this] { EndTyping(); });
  connect(edtSubtitle, &QLineEdit::editingFinished, this, [this] { EndTyping(); });
  connect(typingPause_, &QTimer::timeout, this, [this] { EndTyping(); });
  connect(cmbCaptions, &QComboBox::currentIndexChanged, this, [this] { Changed(CaptionsControl); });
  connect(btnAddTracks, &QPushButton::clicked, this, [this] {
    if (OnAddTracks) OnAddTracks();
  });
  connect(btnRemoveTracks, &QPushButton::clicked, this, [this] {
    if (OnRemoveTracks) OnRemoveTracks();
  });
  connect(btnTrackUp, &QPushButton::clicked, this, [this] {
    if (OnMoveTracks) OnMoveTracks(-1);
  });
  connect(btnTrackDown, &QPushButton::clicked, this, [this] {
    if (OnMoveTracks) OnMoveTracks(1);
  });
  connect(lstTracks, &QTreeWidget::itemSelectionChanged, this, [this] { UpdateTrackButtons(); });
  UpdateTrackButtons();
  UpdateStrength();
}

void ShowSettingsPanel::Changed(Control control) {
  if (showing_) return;
  // Another control's edit comes between: typing after it is a step of its own.
  if (control != TitleControl && control != SubtitleControl) EndTyping();
  if (OnChanged) OnChanged(control);
}

void ShowSettingsPanel::EndTyping() {
  typingPause_->stop();
  typingRun_ = (typingRun_ + 1) % 1000000;
}

int ShowSettingsPanel::MergeId(Control control) const {
  switch (control) {
    case HoldControl:
    case TransitionControl:
    case StrengthControl: return static_cast<int>(control);
    case TitleControl: return kTypingMergeBase + 2 * typingRun_;
    case SubtitleControl: return kTypingMergeBase + 2 * typingRun_ + 1;
    default: return -1;
  }
}

void ShowSettingsPanel::UpdateTrackButtons() {
  const std::vector<int> rows = SelectedTracks();
  btnRemoveTracks->setEnabled(!rows.empty());
  btnTrackUp->setEnabled(!rows.empty() && rows.front() > 0);
  btnTrackDown->setEnabled(!rows.empty() && rows.back() < lstTracks->topLevelItemCount() - 1);
}

void ShowSettingsPanel::UpdateStrength() {
  spnStrength->setEnabled(kMotionRows[std::max(0, cmbMotion->currentIndex())].Kind != MotionKind::None);
}

void ShowSettingsPanel::ShowChoices(const ShowProject& project) {
  showing_ = true;
  spnHold->setValue(project.HoldSeconds);
  spnTransition->setValue(project.TransitionSeconds);
  cmbScreen->setCurrentIndex(row_of(kScreenRows, &ScreenRow::Mode, project.Screen));
  cmbMotion->setCurrentIndex(row_of(kMotionRows, &MotionRow::Kind, project.Motion));
  spnStrength->setValue(project.MotionStrength);
  cmbMusicEnd->setCurrentIndex(row_of(kMusicRows, &MusicRow::End, project.MusicEndRule));
  while (cmbEffects->count() > ListedRow) cmbEffects->removeItem(ListedRow);
  if (!project.EffectOrder.empty()) {
    cmbEffects->addItem(QStringLiteral("In the project's order (%1 effects)").arg(project.EffectOrder.size()));
    cmbEffects->setCurrentIndex(ListedRow);
  } else {
    cmbEffects->setCurrentIndex(project.RandomEffects ? RandomRow : SequentialRow);
  }
  chkNormalize->setChecked(project.Normalize);
  chkBeatSync->setChecked(project.BeatSync);
  // Rewriting a line edit's text moves its cursor to the end: only a text that differs is set.
  if (edtTitle->text() != QString::fromStdString(project.Title)) edtTitle->setText(QString::fromStdString(project.Title));
  if (edtSubtitle->text() != QString::fromStdString(project.Subtitle)) {
    edtSubtitle->setText(QString::fromStdString(project.Subtitle));
  }
  cmbCaptions->setCurrentIndex(row_of(kCaptionRows, &CaptionRow::Rule, project.Captions));
  UpdateStrength();
  // Typing after an undo or an opened project is a new step, not part of the one taken back.
  EndTyping();
  showing_ = false;
}

void ShowSettingsPanel::ApplyChoices(ShowProject& project) const {
  project.HoldSeconds = spnHold->value();
  project.TransitionSeconds = spnTransition->value();
  project.Screen = kScreenRows[std::max(0, cmbScreen->currentIndex())].Mode;
  project.Motion = kMotionRows[std::max(0, cmbMotion->currentIndex())].Kind;
  project.MotionStrength = spnStrength->value();
  project.MusicEndRule = kMusicRows[std::max(0, cmbMusicEnd->currentIndex())].End;
  project.Normalize = chkNormalize->isChecked();
  project.BeatSync = chkBeatSync->isChecked();
  project.Title = edtTitle->text().toStdString();
  project.Subtitle = edtSubtitle->text().toStdString();
  project.Captions = kCaptionRows[std::max(0, cmbCaptions->currentIndex())].Rule;
  // A listed order wins over random or sequential; choosing either of those lets it go.
  if (cmbEffects->currentIndex() != ListedRow) {
    project.EffectOrder.clear();
    project.RandomEffects = cmbEffects->currentIndex() == RandomRow;
  }
}

void ShowSettingsPanel::ShowTracks(const std::vector<std::string>& tracks, const std::vector<QString>& lengths) {
  bool same = lstTracks->topLevelItemCount() == static_cast<int>(tracks.size());
  for (std::size_t i = 0; same && i < tracks.size(); ++i) {
    same = lstTracks->topLevelItem(static_cast<int>(i))->text(0) == QString::fromStdString(tracks[i]);
  }
  if (!same) {
    lstTracks->clear();
    for (const std::string& track : tracks) {
      auto* item = new QTreeWidgetItem(lstTracks);
      item->setText(0, QString::fromStdString(track));
      item->setToolTip(0, QString::fromStdString(track));
    }
  }
  for (std::size_t i = 0; i < tracks.size(); ++i) {
    lstTracks->topLevelItem(static_cast<int>(i))->setText(1, i < lengths.size() ? lengths[i] : QString());
  }
  UpdateTrackButtons();
}

void ShowSettingsPanel::SelectTracks(const std::vector<int>& rows) {
  lstTracks->clearSelection();
  for (const int row : rows) {
    if (QTreeWidgetItem* item = lstTracks->topLevelItem(row)) item->setSelected(true);
  }
  UpdateTrackButtons();
}

std::vector<int> ShowSettingsPanel::SelectedTracks() const {
  std::vector<int> rows;
  for (int row = 0; row < lstTracks->topLevelItemCount(); ++row) {
    if (lstTracks->topLevelItem(row)->isSelected()) rows.push_back(row);
  }
  return rows;
}

}  // namespace lumivor::studio
