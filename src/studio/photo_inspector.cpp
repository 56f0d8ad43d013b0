#include "studio/photo_inspector.h"

#include <algorithm>
#include <cmath>
#include <initializer_list>
#include <iterator>

#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>
#include <QVBoxLayout>

#include "app/settings/choice_lists.h"
#include "app/show/photo_motion.h"
#include "effects/effect.h"
#include "studio/effect_gallery.h"
#include "studio/settings_panel.h"
#include "studio/storyboard_model.h"

namespace lumivor::studio {
namespace {

const char* const DefaultText = "Show's default";

// A seconds box whose lowest value, one step under the range, stands for the show's default.
QDoubleSpinBox* seconds_box(const DelayRange& range) {
  auto* box = new QDoubleSpinBox;
  box->setDecimals(1);
  box->setSingleStep(0.1);
  box->setRange(range.Min - 0.1, range.Max);
  box->setSpecialValueText(QString::fromLatin1(DefaultText));
  box->setSuffix(QStringLiteral(" s"));
  return box;
}

std::optional<double> seconds_of(const QDoubleSpinBox* box) {
  if (box->value() <= box->minimum()) return std::nullopt;
  // Tenths, as projects keep them: the box's double may carry a binary tail.
  return std::round(box->value() * 10) / 10;
}

QString effect_text(std::optional<int> effect) {
  if (!effect || *effect < 1 || *effect > EffectCount) return QString::fromLatin1(DefaultText) + QStringLiteral("…");
  return QStringLiteral("%1  %2…").arg(*effect).arg(QString::fromUtf8(EffectList[static_cast<std::size_t>(*effect - 1)].Name));
}

}  // namespace

PhotoInspector::PhotoInspector(StoryboardModel& model, QWidget* parent) : QWidget(parent), model_(model) {
  setObjectName(QStringLiteral("PhotoInspector"));
  lblPhotos = new QLabel;
  lblPhotos->setWordWrap(true);
  spnHold = seconds_box(PhotoDelayRange);
  spnHold->setObjectName(QStringLiteral("spnPhotoHold"));
  spnTransition = seconds_box(EffectDelayRange);
  spnTransition->setObjectName(QStringLiteral("spnPhotoTransition"));
  cmbScreen = new QComboBox;
  cmbScreen->addItem(QString::fromLatin1(DefaultText));
  for (const ScreenChoice& row : ScreenChoices) cmbScreen->addItem(QString::fromUtf8(row.Text));
  cmbMotion = new QComboBox;
  cmbMotion->addItem(QString::fromLatin1(DefaultText));
  for (const MotionChoice& row : MotionChoices) cmbMotion->addItem(QString::fromUtf8(row.Text));
  spnStrength = new QSpinBox;
  spnStrength->setRange(-1, MaxMotionStrength);
  spnStrength->setSpecialValueText(QString::fromLatin1(DefaultText));
  spnStrength->setSuffix(QStringLiteral(" %"));
  btnEffect = new QPushButton;
  btnEffect->setObjectName(QStringLiteral("btnEffect"));
  cmbCaption = new QComboBox;
  cmbCaption->setObjectName(QStringLiteral("cmbPhotoCaption"));
  cmbCaption->addItem(QStringLiteral("Show's rule"));
  cmbCaption->addItem(QStringLiteral("No caption"));
  cmbCaption->addItem(QStringLiteral("This text:"));
  edtCaption = new QLineEdit;
  edtCaption->setObjectName(QStringLiteral("edtPhotoCaption"));
  btnReset = new QPushButton(QStringLiteral("Use the Show's C&hoices"));
  typingPause_ = new QTimer(this);
  typingPause_->setSingleShot(true);
  typingPause_->setInterval(TypingPauseMs);

  auto* form = new QFormLayout;
  form->addRow(QStringLiteral("Hold this photo:"), spnHold);
  form->addRow(QStringLiteral("Transition after it:"), spnTransition);
  form->addRow(QStringLiteral("Screen:"), cmbScreen);
  form->addRow(QStringLiteral("Motion:"), cmbMotion);
  form->addRow(QStringLiteral("Motion strength:"), spnStrength);
  form->addRow(QStringLiteral("Effect after it:"), btnEffect);
  form->addRow(QStringLiteral("Caption:"), cmbCaption);
  form->addRow(edtCaption);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(lblPhotos);
  layout->addLayout(form);
  layout->addWidget(btnReset, 0, Qt::AlignLeft);
  layout->addStretch(1);

  connect(spnHold, &QDoubleSpinBox::valueChanged, this, [this] {
    Edit(HoldMerge, QStringLiteral("Photo Hold"), [v = seconds_of(spnHold)](PhotoChoices& own) { own.HoldSeconds = v; });
  });
  connect(spnTransition, &QDoubleSpinBox::valueChanged, this, [this] {
    Edit(TransitionMerge, QStringLiteral("Photo Transition"),
         [v = seconds_of(spnTransition)](PhotoChoices& own) { own.TransitionSeconds = v; });
  });
  connect(cmbScreen, &QComboBox::currentIndexChanged, this, [this](int index) {
    std::optional<ScreenMode> mode;
    if (index > 0) mode = ScreenChoices[index - 1].Mode;
    Edit(NoMerge, QStringLiteral("Photo Screen"), [mode](PhotoChoices& own) { own.Screen = mode; });
  });
  connect(cmbMotion, &QComboBox::currentIndexChanged, this, [this](int index) {
    std::optional<MotionKind> kind;
    if (index > 0) kind = MotionChoices[index - 1].Kind;
    Edit(NoMerge, QStringLiteral("Photo Motion"), [kind](PhotoChoices& own) { own.Motion = kind; });
  });
  connect(spnStrength, &QSpinBox::valueChanged, this, [this](int value) {
    std::optional<int> strength;
    if (value >= 0) strength = value;
    Edit(StrengthMerge, QStringLiteral("Photo Motion Strength"),
         [strength](PhotoChoices& own) { own.MotionStrength = strength; });
  });
  connect(btnEffect, &QPushButton::clicked, this, [this] { ChooseEffect(); });
  connect(cmbCaption, &QComboBox::currentIndexChanged, this, [this](int index) {
    if (showing_) return;
    edtCaption->setEnabled(!rows_.empty() && index == OwnCaption);
    // Own text chosen with nothing typed yet stores nothing: an empty text would mean no caption.
    if (index == OwnCaption && edtCaption->text().isEmpty()) {
      edtCaption->setFocus();
      return;
    }
    EndTyping();
    EditCaption(NoMerge, ShownCaption());
  });
  // Only what the user types is an edit; text Refresh sets is not.
  connect(edtCaption, &QLineEdit::textEdited, this, [this] {
    typingPause_->start();
    EditCaption(CaptionMerge + typingRun_, ShownCaption());
  });
  connect(edtCaption, &QLineEdit::editingFinished, this, [this] { EndTyping(); });
  connect(typingPause_, &QTimer::timeout, this, [this] { EndTyping(); });
  connect(btnReset, &QPushButton::clicked, this, [this] {
    if (showing_ || rows_.empty()) return;
    EndTyping();
    model_.EditOwn(
        rows_,
        [](ShowPhoto& photo) {
          photo.Choices = PhotoChoices{};
          photo.Caption = std::nullopt;
        },
        NoMerge, QStringLiteral("Photo Choices to the Show's"));
  });
  ShowRows({});
}

void PhotoInspector::Edit(int mergeId, const QString& text, const std::function<void(PhotoChoices&)>& edit) {
  if (showing_ || rows_.empty()) return;
  // Another control's edit comes between: typing after it is a step of its own.
  EndTyping();
  model_.EditChoices(rows_, edit, mergeId, text);
}

void PhotoInspector::EditCaption(int mergeId, std::optional<std::string> caption) {
  if (showing_ || rows_.empty()) return;
  model_.EditOwn(rows_, [&caption](ShowPhoto& photo) { photo.Caption = caption; }, mergeId, QStringLiteral("Photo Caption"));
}

std::optional<std::string> PhotoInspector::ShownCaption() const {
  switch (cmbCaption->currentIndex()) {
    case NoCaption: return std::string();
    case OwnCaption: return edtCaption->text().toStdString();
    default: return std::nullopt;
  }
}

void PhotoInspector::EndTyping() {
  typingPause_->stop();
  typingRun_ = (typingRun_ + 1) % 100000;
}

void PhotoInspector::ShowRows(const std::vector<int>& rows) {
  std::vector<int> valid;
  for (const int row : rows) {
    if (row >= 0 && row < model_.rowCount()) valid.push_back(row);
  }
  // Typing for other photos is never one step with typing for these.
  if (valid != rows_) EndTyping();
  rows_ = std::move(valid);
  Refresh();
}

void PhotoInspector::Refresh() {
  // Rows that went with an undo are no longer edited.
  std::erase_if(rows_, [this](int row) { return row >= model_.rowCount(); });
  showing_ = true;
  const bool any = !rows_.empty();
  const ShowPhoto photo = any ? model_.Photos()[static_cast<std::size_t>(rows_.front())] : ShowPhoto{};
  const PhotoChoices& own = photo.Choices;
  if (!any) {
    lblPhotos->setText(QStringLiteral("Select a photo to give it choices of its own."));
  } else if (rows_.size() == 1) {
    lblPhotos->setText(QStringLiteral("Photo %1").arg(rows_.front() + 1));
  } else {
    lblPhotos->setText(QStringLiteral("%1 photos").arg(rows_.size()));
  }
  spnHold->setValue(own.HoldSeconds.value_or(spnHold->minimum()));
  spnTransition->setValue(own.TransitionSeconds.value_or(spnTransition->minimum()));
  int screen = 0;
  for (int i = 0; i < static_cast<int>(std::size(ScreenChoices)); ++i) {
    if (own.Screen && ScreenChoices[i].Mode == *own.Screen) screen = i + 1;
  }
  cmbScreen->setCurrentIndex(screen);
  int motion = 0;
  for (int i = 0; i < static_cast<int>(std::size(MotionChoices)); ++i) {
    if (own.Motion && MotionChoices[i].Kind == *own.Motion) motion = i + 1;
  }
  cmbMotion->setCurrentIndex(motion);
  spnStrength->setValue(own.MotionStrength.value_or(-1));
  btnEffect->setText(effect_text(own.TransitionEffect));
  // The caption controls are left alone while they already stand for the photo's caption: this runs
  // after every keystroke's edit, and own text being typed (even while still empty) must stay.
  if (!any || ShownCaption() != photo.Caption) {
    EndTyping();
    cmbCaption->setCurrentIndex(!photo.Caption ? RuleCaption : photo.Caption->empty() ? NoCaption : OwnCaption);
    edtCaption->setText(photo.Caption ? QString::fromStdString(*photo.Caption) : QString());
  }
  for (QWidget* control : std::initializer_list<QWidget*>{spnHold, spnTransition, cmbScreen, cmbMotion, spnStrength,
                                                          btnEffect, cmbCaption, btnReset}) {
    control->setEnabled(any);
  }
  edtCaption->setEnabled(any && cmbCaption->currentIndex() == OwnCaption);
  btnReset->setEnabled(any && HasOwn(photo));
  showing_ = false;
}

void PhotoInspector::ChooseEffect() {
  if (rows_.empty()) return;
  EffectGallery gallery(model_.Photos()[static_cast<std::size_t>(rows_.front())].Choices.TransitionEffect, this);
  if (OnGallery) {
    OnGallery(gallery);
  } else {
    gallery.exec();
  }
  if (gallery.result() != QDialog::Accepted) return;
  const std::optional<int> effect = gallery.Chosen();
  Edit(NoMerge, QStringLiteral("Photo Effect"), [effect](PhotoChoices& own) { own.TransitionEffect = effect; });
}

}  // namespace lumivor::studio
