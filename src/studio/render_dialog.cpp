#include "studio/render_dialog.h"

#include <strings.h>

#include <algorithm>
#include <filesystem>

#include <QComboBox>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

#include "app/run/output_formats.h"
#include "app/settings/choice_lists.h"
#include "app/show/frame_sequencer.h"

namespace lumivor::studio {
namespace {

// The sizes offered, today's screens first; a project of another size adds its own on top.
const char* const kSizes[] = {"1280x720", "1920x1080", "3840x2160", "2560x1440", "1024x768", "640x480", "320x240"};

QString size_text(int width, int height) { return QStringLiteral("%1x%2").arg(width).arg(height); }

}  // namespace

RenderDialog::RenderDialog(const ShowProject& project, const QString& projectFile, QWidget* parent)
    : QDialog(parent), project_(project), projectFile_(projectFile), runner_(*this, *this, *this) {
  setWindowTitle(QStringLiteral("Render Video"));
  setObjectName(QStringLiteral("RenderDialog"));

  cmbFormat = new QComboBox;
  // The format that plays everywhere first, then the others in their list's order.
  cmbFormat->addItem(QString::fromUtf8(FormatItems[ModernFormatIndex].data(), FormatItems[ModernFormatIndex].size()),
                     ModernFormatIndex);
  for (int i = 0; i < OutputFormatCount; ++i) {
    if (i != ModernFormatIndex) cmbFormat->addItem(QString::fromUtf8(FormatItems[i].data(), FormatItems[i].size()), i);
  }
  cmbFormat->setCurrentIndex(std::max(0, cmbFormat->findData(project_.FormatIndex)));

  cmbSize = new QComboBox;
  for (const char* size : kSizes) {
    const QString text = QString::fromLatin1(size);
    const std::optional<VideoSize> parsed = ParseVideoSize(size);
    cmbSize->addItem(text, QSize(parsed->Width, parsed->Height));
  }
  const QSize own(project_.Width, project_.Height);
  int sizeRow = cmbSize->findData(own);
  if (sizeRow < 0) {
    cmbSize->insertItem(0, size_text(own.width(), own.height()), own);
    sizeRow = 0;
  }
  cmbSize->setCurrentIndex(sizeRow);

  edtOutput = new QLineEdit;
  edtOutput->setObjectName(QStringLiteral("edtOutput"));
  const QFileInfo projectInfo(projectFile_);
  const QString folder = projectFile_.isEmpty() ? QDir::homePath() : projectInfo.absolutePath();
  const QString stem = projectFile_.isEmpty() ? QStringLiteral("slideshow") : projectInfo.completeBaseName();
  edtOutput->setText(QDir(folder).filePath(stem));
  edtOutput->setText(OutputName());
  btnBrowse = new QPushButton(QStringLiteral("&Browse…"));
  auto* outputRow = new QHBoxLayout;
  outputRow->addWidget(edtOutput, 1);
  outputRow->addWidget(btnBrowse);

  auto* form = new QFormLayout;
  form->addRow(QStringLiteral("&Format:"), cmbFormat);
  form->addRow(QStringLiteral("&Size:"), cmbSize);
  form->addRow(QStringLiteral("&Output file:"), outputRow);

  progress = new QProgressBar;
  progress->setRange(0, 100);
  progress->setValue(0);
  lblStatus = new QLabel;
  lblResult = new QLabel;
  lblResult->setWordWrap(true);
  lblResult->setTextInteractionFlags(Qt::TextSelectableByMouse);
  btnOpen = new QPushButton(QStringLiteral("&Open"));
  btnShowFolder = new QPushButton(QStringLiteral("Show in &Folder"));
  auto* resultRow = new QHBoxLayout;
  resultRow->addWidget(btnOpen);
  resultRow->addWidget(btnShowFolder);
  resultRow->addStretch();

  btnRender = new QPushButton(QStringLiteral("&Render"));
  btnRender->setDefault(true);
  btnPause = new QPushButton(QStringLiteral("&Pause"));
  btnStop = new QPushButton(QStringLiteral("S&top"));
  btnClose = new QPushButton(QStringLiteral("&Close"));
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(btnRender);
  buttons->addWidget(btnPause);
  buttons->addWidget(btnStop);
  buttons->addStretch();
  buttons->addWidget(btnClose);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addWidget(progress);
  layout->addWidget(lblStatus);
  layout->addWidget(lblResult);
  layout->addLayout(resultRow);
  layout->addStretch();
  layout->addLayout(buttons);

  OpenUrl = [](const QUrl& url) { QDesktopServices::openUrl(url); };
  ChooseOutputFile = [this](const QString& suggested) {
    return QFileDialog::getSaveFileName(this, QStringLiteral("Render To"), suggested);
  };
  connect(cmbFormat, &QComboBox::currentIndexChanged, this, [this] { FormatChosen(); });
  connect(btnBrowse, &QPushButton::clicked, this, [this] { Browse(); });
  connect(btnRender, &QPushButton::clicked, this, [this] { StartRender(); });
  connect(btnPause, &QPushButton::clicked, this, [this] { PauseClick(); });
  connect(btnStop, &QPushButton::clicked, this, [this] { StopClick(); });
  connect(btnClose, &QPushButton::clicked, this, [this] { reject(); });
  connect(btnOpen, &QPushButton::clicked, this, [this] {
    if (!writtenFile_.isEmpty() && OpenUrl) OpenUrl(QUrl::fromLocalFile(writtenFile_));
  });
  connect(btnShowFolder, &QPushButton::clicked, this, [this] {
    if (!writtenFile_.isEmpty() && OpenUrl) OpenUrl(QUrl::fromLocalFile(QFileInfo(writtenFile_).absolutePath()));
  });
  ShowRunning(false);
  ShowResult(QString(), false);
  resize(520, sizeHint().height());
}

RenderDialog::~RenderDialog() {
  // The run tells nothing more to a dialog that is going; what it wrote is not kept.
  runner_.Shutdown();
}

int RenderDialog::ChosenFormat() const { return cmbFormat->currentData().toInt(); }

QString RenderDialog::OutputName() const {
  QString name = edtOutput->text().trimmed();
  if (name.isEmpty()) return name;
  const OutputFormat* format = OutputFormatAt(ChosenFormat());
  const QString extension = QString::fromLatin1(format->Extension);
  // The engine picks the container by the name's extension, so the name must carry the format's.
  if (!name.endsWith(extension, Qt::CaseInsensitive)) {
    const QFileInfo info(name);
    const QString suffix = info.suffix();
    bool known = false;
    for (int i = 0; i < OutputFormatCount; ++i) {
      known = known || suffix.compare(QString::fromLatin1(OutputFormatAt(i)->Extension).mid(1), Qt::CaseInsensitive) == 0;
    }
    if (known) name.chop(suffix.size() + 1);
    name += extension;
  }
  return name;
}

void RenderDialog::FormatChosen() {
  if (!edtOutput->text().trimmed().isEmpty()) edtOutput->setText(OutputName());
}

void RenderDialog::Browse() {
  if (!ChooseOutputFile) return;
  const QString chosen = ChooseOutputFile(OutputName());
  if (chosen.isEmpty()) return;
  edtOutput->setText(chosen);
  edtOutput->setText(OutputName());
}

QString RenderDialog::ResultText() const { return lblResult->text(); }

void RenderDialog::ShowRunning(bool running) {
  cmbFormat->setEnabled(!running);
  cmbSize->setEnabled(!running);
  edtOutput->setEnabled(!running);
  btnBrowse->setEnabled(!running);
  btnRender->setEnabled(!running);
  btnPause->setEnabled(running);
  btnStop->setEnabled(running);
  btnPause->setText(QStringLiteral("&Pause"));
  if (running) btnStop->setFocus();
}

void RenderDialog::ShowResult(const QString& text, bool withFile) {
  lblResult->setText(text);
  btnOpen->setVisible(withFile);
  btnShowFolder->setVisible(withFile);
}

bool RenderDialog::StartRender() {
  if (runner_.Running()) return false;
  messages_.clear();
  writtenFile_.clear();
  ShowResult(QString(), false);
  const QSize size = cmbSize->currentData().toSize();
  project_.FormatIndex = ChosenFormat();
  project_.Width = size.width();
  project_.Height = size.height();
  if (OnOutputChosen) OnOutputChosen(project_.FormatIndex, project_.Width, project_.Height);

  const std::vector<std::string> problems = ShowProjectProblems(project_);
  if (!problems.empty()) {
    QString text = QStringLiteral("The show cannot be made as it stands:");
    for (const std::string& problem : problems) text += QStringLiteral("\n") + QString::fromStdString(problem);
    ShowResult(text, false);
    return false;
  }
  RunRequest request;
  std::string errorText;
  if (!RequestFromProject(project_, request, errorText)) {
    ShowResult(QStringLiteral("The show cannot be made: %1").arg(QString::fromStdString(errorText)), false);
    return false;
  }
  const QString output = OutputName();
  if (output.isEmpty()) {
    ShowResult(QStringLiteral("Choose the file the video goes to."), false);
    return false;
  }
  edtOutput->setText(output);
  file_.Discard();
  if (!file_.Open(output.toStdString(), errorText, {.KeepExtension = true, .ReplaceLinks = false})) {
    ShowResult(QString::fromStdString(errorText), false);
    return false;
  }
  request.OutputFile = file_.TemporaryName();
  request.OutputFolder = std::filesystem::path(file_.TargetName()).parent_path().string();
  // As fast as the machine goes, and nothing but the file: the render is not watched.
  request.Realtime = false;
  request.Preview = false;

  totalFrames_ = RequestTiming(request).FrameCount();
  progress->setRange(0, static_cast<int>(std::min<std::int64_t>(totalFrames_, 1 << 30)));
  progress->setValue(0);
  lblStatus->setText(QStringLiteral("Starting…"));
  paused_ = false;
  if (!runner_.Begin(request)) {
    file_.Discard();
    ShowResult(QStringLiteral("A render is still going."), false);
    return false;
  }
  ShowRunning(true);
  return true;
}

void RenderDialog::PauseClick() {
  if (!runner_.Running()) return;
  paused_ = !paused_;
  if (paused_) {
    runner_.Encoder().Pause();
    btnPause->setText(QStringLiteral("&Resume"));
    lblStatus->setText(QStringLiteral("Paused"));
  } else {
    runner_.Encoder().Resume();
    btnPause->setText(QStringLiteral("&Pause"));
  }
}

void RenderDialog::StopClick() {
  if (!runner_.Running()) return;
  lblStatus->setText(QStringLiteral("Stopping…"));
  runner_.Stop();
}

void RenderDialog::reject() {
  // Closing while a run goes stops it first, so that nothing is left writing.
  if (runner_.Running()) {
    runner_.Stop();
    runner_.Wait();
  }
  QDialog::reject();
}

void RenderDialog::RunBegins() { ShowRunning(true); }

void RenderDialog::RunProgress(const TProgressInfo& info, const std::string& statusText, int position) {
  if (runner_.Joining()) {
    // The tracks are joined before the frames begin; that work has only the runner's own words.
    lblStatus->setText(QString::fromStdString(statusText));
    if (position >= 0) progress->setValue(position * progress->maximum() / 100);
    return;
  }
  if (info.FrameNumber < 0) return;
  const std::int64_t frame = std::min<std::int64_t>(info.FrameNumber, totalFrames_);
  progress->setValue(static_cast<int>(frame));
  lblStatus->setText(QStringLiteral("Frame %1 of %2").arg(frame).arg(totalFrames_));
}

void RenderDialog::RunEnds(bool) {}

void RenderDialog::RunFinished(const JobResult& result) {
  ShowRunning(false);
  const bool written = !result.OutputFile.empty() && (result.End == JobEnd::Finished || result.End == JobEnd::Stopped);
  std::string errorText;
  QString text;
  if (!written) {
    file_.Discard();
    if (result.End == JobEnd::Failed) {
      std::string reason = result.ErrorText;
      if (reason.empty() && !messages_.empty()) reason = messages_.back();
      if (reason.empty()) reason = "the run failed without saying why";
      text = QStringLiteral("The render failed: %1").arg(QString::fromStdString(reason));
    } else {
      text = QStringLiteral("Stopped before any video was written.");
    }
    lblStatus->clear();
    ShowResult(text, false);
  } else if (result.End == JobEnd::Stopped && file_.ReplacesExistingFile()) {
    // Part of a show is not what was asked for: the file that was there stays, the part goes beside.
    std::string beside;
    if (file_.CommitBeside("stopped", beside, errorText)) {
      writtenFile_ = QString::fromStdString(beside);
      text = QStringLiteral("Stopped. The video so far is %1; %2 was kept as it was.")
                 .arg(writtenFile_, QString::fromStdString(file_.TargetName()));
    } else {
      text = QString::fromStdString(errorText);
    }
    ShowResult(text, !writtenFile_.isEmpty());
  } else if (file_.Commit(errorText)) {
    writtenFile_ = edtOutput->text();
    text = result.End == JobEnd::Stopped ? QStringLiteral("Stopped. The video so far is %1").arg(writtenFile_)
                                         : QStringLiteral("Done: %1").arg(writtenFile_);
    if (result.End == JobEnd::Finished) progress->setValue(progress->maximum());
    ShowResult(text, true);
  } else {
    ShowResult(QStringLiteral("The render failed: %1").arg(QString::fromStdString(errorText)), false);
  }
  if (OnFinished) OnFinished(result);
}

MessageResult RenderDialog::ShowMessage(const std::string& text, const std::string&, MessageIcon, MessageButtons buttons) {
  messages_.push_back(text);
  lblStatus->setText(QString::fromStdString(text));
  return buttons == MessageButtons::YesNo ? MessageResult::No : MessageResult::Ok;
}

void RenderDialog::AddLine(const std::string&) {}

}  // namespace lumivor::studio
