#include "studio/preview_pane.h"

#include <algorithm>
#include <utility>

#include <QAction>
#include <QHBoxLayout>
#include <QImage>
#include <QKeySequence>
#include <QLabel>
#include <QMetaObject>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QSlider>
#include <QStyle>
#include <QTimer>
#include <QVBoxLayout>

namespace lumivor::studio {

// The picture: the live show's frame scaled into the widget with its aspect kept, on black. The
// frame's own pixels are drawn (no copy per frame); its rows are stored bottom row first, so the
// painter turns the picture over instead.
class PreviewPicture : public QWidget {
 public:
  PreviewPicture() {
    setMinimumSize(160, 90);
    setAttribute(Qt::WA_OpaquePaintEvent);
  }
  void SetFrame(LiveShow::Frame frame) {
    if (frame.Index == frame_.Index && frame.Picture == frame_.Picture) return;
    frame_ = std::move(frame);
    update();
  }
  void Clear() {
    frame_ = LiveShow::Frame{};
    update();
  }
  std::int64_t Index() const { return frame_.Index; }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.fillRect(rect(), Qt::black);
    const Bitmap* bitmap = frame_.Picture.get();
    if (bitmap == nullptr || bitmap->IsEmpty() || bitmap->BitsPerPixel() != 32) return;
    const QImage image(bitmap->Bits(), bitmap->Width(), bitmap->Height(), bitmap->Stride(), QImage::Format_RGB32);
    QSize fitted = image.size().scaled(size(), Qt::KeepAspectRatio);
    const QRect target(QPoint((width() - fitted.width()) / 2, (height() - fitted.height()) / 2), fitted);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.translate(target.left(), target.bottom() + 1);
    painter.scale(1, -1);
    painter.drawImage(QRect(QPoint(0, 0), target.size()), image);
  }

 private:
  LiveShow::Frame frame_;
};

namespace {

// How often the playing picture and the slider follow the clock: well within a frame at 60 fps.
constexpr int kTickMs = 5;
// How long edits must pause before the show is rebuilt on its own.
constexpr int kWatchMs = 300;

QPushButton* tool_button(QStyle::StandardPixmap icon, const QString& tip, QWidget* parent) {
  auto* button = new QPushButton(parent->style()->standardIcon(icon), QString(), parent);
  button->setToolTip(tip);
  button->setFocusPolicy(Qt::NoFocus);
  return button;
}

}  // namespace

PreviewPane::PreviewPane(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("PreviewPane"));
  picture_ = new PreviewPicture;
  picture = picture_;
  backButton = tool_button(QStyle::SP_MediaSeekBackward, QStringLiteral("One frame back (,)"), this);
  playButton = tool_button(QStyle::SP_MediaPlay, QStringLiteral("Play/Pause (Space)"), this);
  forwardButton = tool_button(QStyle::SP_MediaSeekForward, QStringLiteral("One frame forward (.)"), this);
  slider = new QSlider(Qt::Horizontal);
  slider->setFocusPolicy(Qt::NoFocus);
  timeLabel = new QLabel(QStringLiteral("00:00.0 / 00:00.0"));
  tempoLabel = new QLabel;
  tempoLabel->hide();
  problemLabel = new QLabel;
  problemLabel->setWordWrap(true);
  problemLabel->hide();

  auto* controls = new QHBoxLayout;
  controls->addWidget(backButton);
  controls->addWidget(playButton);
  controls->addWidget(forwardButton);
  controls->addWidget(slider, 1);
  controls->addWidget(timeLabel);
  controls->addWidget(tempoLabel);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(picture, 1);
  layout->addWidget(problemLabel);
  layout->addLayout(controls);

  connect(playButton, &QPushButton::clicked, this, [this] { PlayPause(); });
  connect(backButton, &QPushButton::clicked, this, [this] { StepBack(); });
  connect(forwardButton, &QPushButton::clicked, this, [this] { StepForward(); });
  connect(slider, &QSlider::valueChanged, this, [this](int value) {
    if (!settingSlider_) SeekFrame(value);
  });

  // Window-wide keys, so that they work wherever the focus is; a text field still takes its own
  // characters first.
  const struct {
    QList<QKeySequence> keys;
    void (PreviewPane::*command)();
  } keys[] = {
      {{QKeySequence(Qt::Key_Space)}, &PreviewPane::PlayPause},
      {{QKeySequence(Qt::Key_Comma), QKeySequence(Qt::CTRL | Qt::Key_Left)}, &PreviewPane::StepBack},
      {{QKeySequence(Qt::Key_Period), QKeySequence(Qt::CTRL | Qt::Key_Right)}, &PreviewPane::StepForward},
  };
  for (const auto& key : keys) {
    auto* action = new QAction(this);
    action->setShortcuts(key.keys);
    action->setShortcutContext(Qt::WindowShortcut);
    const auto command = key.command;
    connect(action, &QAction::triggered, this, [this, command] { (this->*command)(); });
    addAction(action);
  }

  tick_ = new QTimer(this);
  tick_->setTimerType(Qt::PreciseTimer);
  tick_->setInterval(kTickMs);
  connect(tick_, &QTimer::timeout, this, [this] { Tick(); });
  watch_ = new QTimer(this);
  watch_->setInterval(kWatchMs);
  connect(watch_, &QTimer::timeout, this, [this] {
    if (isVisible()) Refresh();
  });
  watch_->start();

  // A frame made while paused (after a seek or a step) is drawn as soon as it is ready.
  QPointer<PreviewPane> self(this);
  show_.OnFrameReady = [self] {
    QMetaObject::invokeMethod(
        self.data(),
        [self] {
          if (self) self->Tick();
        },
        Qt::QueuedConnection);
  };
  // Beat sync settles the show's length and tempo on the sound's worker, frame or no frame.
  show_.OnTimingReady = show_.OnFrameReady;
  UpdateControls();
}

PreviewPane::~PreviewPane() {
  // The workers stop before the widgets their reports would reach go; a report already posted
  // finds the pane gone and is dropped.
  show_.Close();
}

void PreviewPane::ShowChanged() {
  stale_ = true;
  watch_->start();
}

bool PreviewPane::Refresh() {
  if (!Project) return show_.IsOpen();
  ShowProject project = Project();
  if (!stale_ && builtFrom_ && *builtFrom_ == project) return show_.IsOpen();
  stale_ = false;
  const bool wasPlaying = show_.Playing();
  const std::int64_t at = show_.IsOpen() ? show_.Position() : 0;
  RunRequest request;
  std::string errorText;
  builtFrom_ = project;
  show_.Close();
  picture_->Clear();
  problem_.clear();
  show_.SoundOutput = SoundOutput;
  if (!RequestFromProject(project, request, errorText) || !show_.Open(request, at, errorText)) {
    problem_ = QString::fromStdString(errorText);
  } else if (wasPlaying) {
    show_.Play();
  }
  UpdateControls();
  Tick();
  return show_.IsOpen();
}

void PreviewPane::PlayPause() {
  if (!Refresh()) return;
  if (show_.Playing()) {
    show_.Pause();
  } else {
    show_.Play();
  }
  UpdateControls();
  Tick();
}

void PreviewPane::StepBack() {
  if (!Refresh()) return;
  show_.StepFrames(-1);
  UpdateControls();
  Tick();
}

void PreviewPane::StepForward() {
  if (!Refresh()) return;
  show_.StepFrames(1);
  UpdateControls();
  Tick();
}

void PreviewPane::SeekFrame(std::int64_t frame) {
  if (!Refresh()) return;
  show_.SeekFrame(frame);
  Tick();
}

std::int64_t PreviewPane::DrawnFrame() const { return picture_->Index(); }

QString PreviewPane::TimeText() const { return timeLabel->text(); }

QString PreviewPane::TempoText() const { return tempoLabel->text(); }

QString PreviewPane::Problem() const { return problem_; }

void PreviewPane::Tick() {
  if (!show_.IsOpen()) return;
  picture_->SetFrame(show_.CurrentFrame());
  const std::int64_t at = show_.Position();
  if (!slider->isSliderDown() && slider->value() != at) {
    settingSlider_ = true;
    slider->setValue(static_cast<int>(std::min<std::int64_t>(at, slider->maximum())));
    settingSlider_ = false;
  }
  timeLabel->setText(QStringLiteral("%1 / %2").arg(
      QString::fromStdString(PositionText(FrameSeconds(at, show_.Rate()))),
      QString::fromStdString(PositionText(FrameSeconds(show_.FrameCount(), show_.Rate())))));
  // Beat sync may fit the show to its music after it opened: its length and its tempo come then.
  const int last = static_cast<int>(std::min<std::int64_t>(show_.FrameCount() - 1, 1 << 30));
  if (slider->maximum() != last) {
    settingSlider_ = true;
    slider->setMaximum(last);
    settingSlider_ = false;
  }
  ShowTempo(QString::fromStdString(show_.BeatSyncText()));
  const std::string renderError = show_.RenderError();
  if (!renderError.empty() && problem_.isEmpty()) {
    problem_ = QString::fromStdString(renderError);
    UpdateControls();
  }
  // Playing ran to the end: the controls show it stopped.
  if (!show_.Playing() && tick_->isActive()) UpdateControls();
}

void PreviewPane::ShowTempo(const QString& tempo) {
  if (tempoLabel->text() == tempo) return;
  tempoLabel->setText(tempo);
  tempoLabel->setVisible(!tempo.isEmpty());
  if (OnTempoChanged) OnTempoChanged(tempo);
}

void PreviewPane::UpdateControls() {
  const bool open = show_.IsOpen();
  const bool playing = open && show_.Playing();
  playButton->setIcon(style()->standardIcon(playing ? QStyle::SP_MediaPause : QStyle::SP_MediaPlay));
  playButton->setEnabled(open);
  backButton->setEnabled(open);
  forwardButton->setEnabled(open);
  slider->setEnabled(open);
  settingSlider_ = true;
  slider->setRange(0, open ? static_cast<int>(std::min<std::int64_t>(show_.FrameCount() - 1, 1 << 30)) : 0);
  settingSlider_ = false;
  if (!open) ShowTempo(QString());
  problemLabel->setText(problem_);
  problemLabel->setVisible(!problem_.isEmpty());
  if (playing) {
    tick_->start();
  } else {
    tick_->stop();
  }
}

}  // namespace lumivor::studio
