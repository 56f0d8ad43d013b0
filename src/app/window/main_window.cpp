#include "app/window/main_window.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>

#include "app/common/global_object.h"
#include "app/settings/output_folder.h"
#include "app/settings/settings_store.h"

namespace lumivor {

void ShowIdleState(MainWindowView& view) {
  view.SetStartEnabled(true);
  view.SetPauseEnabled(false);
  view.SetStopEnabled(false);
  view.SetExitEnabled(true);
  view.SetTabsEnabled(true);
  view.SetBrowsEnabled(true);
  view.SetOpenEnabled(true);
  view.SetAddPhotosEnabled(true);
  view.SetAddAudioEnabled(true);
  view.SetFormatEnabled(true);
}

void ShowRunningState(MainWindowView& view) {
  view.SetTabsEnabled(false);
  view.SetStartEnabled(false);
  view.SetExitEnabled(false);
  view.SetStopEnabled(true);
  view.SetPauseEnabled(true);
  view.FocusStop();
}

SlideshowRunner::SlideshowRunner(RunFace& face, MessageBoxes& messages, LogMemo& log)
    : face_(face),
      messages_(messages),
      log_(log),
      decoder_(std::make_unique<TFFDecoder>()),
      frameInput_(std::make_unique<TFrameInputAdapter>()),
      encoder_(std::make_unique<TFFEncoder>()),
      job_(JobServices{*encoder_, *frameInput_, *decoder_, sequencer_, face_, messages_, log_}) {
  // The photos drawn are the request's, whatever the face does with its own list meanwhile.
  sequencer_.Photos = [this]() -> const std::vector<std::string>& { return job_.Request().Photos; };
  // Breaking stops the encoder at once, and the sound it has read lags the pictures by the video
  // encoder's delay (seconds with H.264's look-ahead), so a fade or a loop laid out to end with
  // the last frame would be cut before it. Such sound is already as long as the video, which
  // ends by itself at the tail frames.
  sequencer_.BreakWhenNoPictures = [this] { return job_.Request().BreakWhenNoPictures && !job_.SoundEndsWithShow(); };
  sequencer_.StopEncoder = [this] { encoder_->Stop(false); };
  sequencer_.Log = &log_;

  frameInput_->OnReadHeader = [this](TFrameInputAdapter&) { sequencer_.ReadHeader(); };
  frameInput_->OnReadClose = [this](TFrameInputAdapter&) { sequencer_.ReadClose(); };
  frameInput_->OnReadFrameCanvas = [this](TFrameInputAdapter&, Bitmap& canvas, PInputFrameInfo) {
    return sequencer_.ReadFrameCanvas(canvas);
  };

  encoder_->OnProgress = [this](auto&&, PProgressInfo info) { EncoderProgress(info); };
  encoder_->OnTerminate = [this](auto&&, const TTerminateInfo& info) { EncoderTerminate(info); };
}

SlideshowRunner::~SlideshowRunner() {
  // A run still going is ended before the components it uses go.
  if (encoder_->Working()) encoder_->Stop(true);
}

JobResult SlideshowRunner::Run(const RunRequest& request) { return job_.Start(request); }

void SlideshowRunner::Stop() {
  job_.PressStop();
  encoder_->Stop(true);
}

void SlideshowRunner::EncoderProgress(PProgressInfo progressInfo) {
  if (progressInfo == nullptr) return;
  const TProgressInfo& info = *progressInfo;
  char text[160];
  std::snprintf(text, sizeof text, "Frame number: %d; FPS: %d; Size: %" PRId64 "; Time: %" PRId64, info.FrameNumber,
                info.FPS, info.CurrentSize, info.CurrentDuration);
  int position = -1;
  if (info.TotalDuration > 0) {
    position = static_cast<int>(info.CurrentDuration * 100 / info.TotalDuration);
  } else if (info.FrameNumber >= 0 && !Joining() && !StopPressed()) {
    // Drawn frames come with no length the engine could know, so the slideshow's reports carry no
    // total and the bar would stand still for the whole run; the frames the show will have are
    // known here.
    const std::int64_t frames = ShowFrameCount(static_cast<std::int64_t>(job_.Request().Photos.size()),
                                               sequencer_.HoldFrames(), sequencer_.TransitionFrames());
    if (frames > 0) {
      position = static_cast<int>(std::min<std::int64_t>(100, std::int64_t{info.FrameNumber} * 100 / frames));
    }
  }
  face_.RunProgress(info, text, position);
}

void SlideshowRunner::EncoderTerminate(const TTerminateInfo& terminateInfo) {
  // The join is a run of its own; its end is not the end of the run, which still has the
  // slideshow to encode, so the face stays in its running state.
  const bool joining = job_.Joining();
  job_.NoteTerminate(terminateInfo);
  if (terminateInfo.TaskIndex < 0 && !joining) face_.RunEnds(true);
  // A failed join is told by the run, with the tracks' names, once it has ended; the task's own
  // text alone would not say which files the music was lost from.
  if (TaskFailed(terminateInfo) && !joining) {
    messages_.ShowMessage(TaskFailureText(terminateInfo), GlobalObject().ProductName(), MessageIcon::Exclamation,
                          MessageButtons::Ok);
  }
}

MainWindow::MainWindow(MainWindowView& view, MessageBoxes& messages, LogMemo& log, SettingsStore& settings)
    : view_(view), messages_(messages), log_(log), settings_(settings), runner_(*this, messages, log) {}

void MainWindow::RunBegins() { ShowRunningState(view_); }

void MainWindow::RunProgress(const TProgressInfo& info, const std::string& statusText, int position) {
  view_.SetStatusText(statusText);
  if (position >= 0) view_.SetProgressPosition(position);
  if (OnRunProgress) OnRunProgress(info);
}

void MainWindow::RunEnds(bool encoded) {
  ShowIdleState(view_);
  if (encoded) btnOpenClick();
}

void MainWindow::ProcessMessages() { view_.ProcessMessages(); }

void MainWindow::AddPhotos(const std::vector<std::string>& paths) {
  photos_.insert(photos_.end(), paths.begin(), paths.end());
  view_.ShowPhotos(photos_);
  view_.SetOpenEnabled(!photos_.empty());
}

void MainWindow::btnVideoClick() { AddPhotos(view_.ChoosePhotoFiles()); }

void MainWindow::btnClearPhotosClick() {
  if (runner_.Running()) return;
  photos_.clear();
  view_.ShowPhotos(photos_);
  view_.SetOpenEnabled(false);
}

bool MainWindow::RequestFromWindow(RunRequest& request, std::string& errorText) {
  RunRequest read;
  // The settings page's stored choices first; the controls Start reads then take their place, the
  // size and rate included, so a size the file holds but the box no longer shows stops nothing.
  MemorySettingsStore controls;
  for (std::string_view key : {settings_key::Format, settings_key::Stereo, settings_key::SampleRate,
                               settings_key::BitRate, settings_key::MusicEnd, settings_key::ScreenMode,
                               settings_key::Motion, settings_key::MotionStrength, settings_key::AutoRotate,
                               settings_key::OutPutDir}) {
    if (const std::optional<std::string> value = settings_.Find(key)) controls.WriteString(key, *value);
  }
  const std::string sizeText = view_.VideoSizeText();
  controls.WriteString(settings_key::VideoSize, sizeText);
  controls.WriteString(settings_key::FrameRate, view_.FrameRateText());
  controls.WriteString(settings_key::PhotoDelay, view_.PhotoDelayText());
  controls.WriteString(settings_key::EffectDelay, view_.EffectDelayText());
  if (!RequestFromSettings(controls, read, errorText)) return false;
  read.FormatIndex = view_.FormatIndex();
  read.RandomEffects = view_.RandomEffectsChecked();
  read.BreakWhenNoPictures = view_.BreakWhenNoPicturesChecked();
  read.Photos = photos_;
  for (const AudioTrack& track : audioTracks_.Rows()) read.Tracks.push_back(track.Path);
  read.Realtime = RunOptions.Realtime;
  read.Seed = RunOptions.RandomSeed;
  read.EffectOrder = RunOptions.EffectOrder;
  read.OutputFile = RunOptions.OutputFile;
  read.PreviewSheetFile = RunOptions.PreviewSheetFile;
  read.AutoRotate = RunOptions.AutoRotate;
  request = std::move(read);
  return true;
}

JobResult MainWindow::btnStartClick() {
  if (runner_.Running()) return JobResult{JobEnd::Failed, std::string(), "A run is already active."};
  if (photos_.empty()) {
    btnVideoClick();
    return JobResult{JobEnd::AddedPhotos, std::string(), std::string()};
  }
  RunRequest request;
  std::string errorText;
  if (!RequestFromWindow(request, errorText)) {
    log_.AddLine("");
    log_.AddLine("***" + errorText);
    log_.AddLine("");
    // The preview sheet's command tells its own failures.
    if (RunOptions.PreviewSheetFile.empty()) {
      messages_.ShowMessage(errorText, GlobalObject().ProductName(), MessageIcon::Exclamation, MessageButtons::Ok);
    }
    ShowIdleState(view_);
    return JobResult{JobEnd::Failed, std::string(), errorText};
  }
  // Naming may fall back to the default folder (and store it, and say so); the joined sound goes
  // into the same folder as the video, so the folder is settled before the run. A video given by
  // name still needs a folder for the joined sound. A sheet writes no video and makes no folder.
  if (request.PreviewSheetFile.empty()) {
    request.OutputFolder = request.OutputFile.empty() ? OutputFolderForNaming(settings_, messages_)
                                                      : OutputFolderForJoiner(settings_);
  }
  paused_ = false;
  view_.SetPauseCaption("Pause");
  return runner_.Run(request);
}

void MainWindow::btnPauseClick() {
  if (!paused_) {
    runner_.Encoder().Pause();
    paused_ = true;
    view_.SetPauseCaption("Resume");
  } else {
    runner_.Encoder().Resume();
    paused_ = false;
    view_.SetPauseCaption("Pause");
  }
  view_.SetPauseEnabled(true);
  view_.SetStartEnabled(false);
}

void MainWindow::btnStopClick() {
  ShowIdleState(view_);
  view_.SetProgressPosition(0);
  view_.SetStatusText("");
  runner_.Stop();
}

void MainWindow::btnOpenClick() {
  const std::string folder = OutputFolderForOpen(settings_, messages_);
  if (view_.OutputFolderText().size() > 2) view_.OpenFolder(folder);
}

}  // namespace lumivor
