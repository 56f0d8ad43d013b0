#include "app/main_window.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>

#include "app/global_object.h"
#include "app/output_folder.h"
#include "app/settings_store.h"

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

MainWindow::MainWindow(MainWindowView& view, MessageBoxes& messages, LogMemo& log, SettingsStore& settings)
    : view_(view),
      messages_(messages),
      log_(log),
      settings_(settings),
      decoder_(std::make_unique<TFFDecoder>()),
      frameInput_(std::make_unique<TFrameInputAdapter>()),
      encoder_(std::make_unique<TFFEncoder>()),
      job_(JobServices{*encoder_, *frameInput_, *decoder_, sequencer_, settings_, view_, messages_, log_}) {
  sequencer_.Photos = [this]() -> const std::vector<std::string>& { return photos_; };
  // Breaking stops the encoder at once, and the sound it has read lags the pictures by the video
  // encoder's delay (seconds with H.264's look-ahead), so a fade or a loop laid out to end with
  // the last frame would be cut before it. Such sound is already as long as the video, which
  // ends by itself at the tail frames.
  sequencer_.BreakWhenNoPictures = [this] { return view_.BreakWhenNoPicturesChecked() && !job_.SoundEndsWithShow(); };
  sequencer_.StopEncoder = [this] { encoder_->Stop(false); };
  sequencer_.Log = &log_;

  frameInput_->OnReadHeader = [this](TFrameInputAdapter&) { sequencer_.ReadHeader(); };
  frameInput_->OnReadClose = [this](TFrameInputAdapter&) { sequencer_.ReadClose(); };
  frameInput_->OnReadFrameCanvas = [this](TFrameInputAdapter&, Bitmap& canvas, PInputFrameInfo) {
    return sequencer_.ReadFrameCanvas(canvas);
  };

  encoder_->OnProgress = [this](auto&&, PProgressInfo info) { FFEncoderProgress(info); };
  encoder_->OnTerminate = [this](auto&&, const TTerminateInfo& info) { FFEncoderTerminate(info); };
}

MainWindow::~MainWindow() {
  // A run still going is ended before the components it uses go.
  if (encoder_->Working()) encoder_->Stop(true);
}

void MainWindow::AddPhotos(const std::vector<std::string>& paths) {
  photos_.insert(photos_.end(), paths.begin(), paths.end());
  view_.ShowPhotos(photos_);
  view_.SetOpenEnabled(!photos_.empty());
}

void MainWindow::btnVideoClick() { AddPhotos(view_.ChoosePhotoFiles()); }

void MainWindow::btnClearPhotosClick() {
  if (job_.Running()) return;
  photos_.clear();
  view_.ShowPhotos(photos_);
  view_.SetOpenEnabled(false);
}

JobResult MainWindow::btnStartClick() {
  if (job_.Running()) return JobResult{JobEnd::Failed, std::string(), "A run is already active."};
  if (photos_.empty()) {
    btnVideoClick();
    return JobResult{JobEnd::AddedPhotos, std::string(), std::string()};
  }
  paused_ = false;
  view_.SetPauseCaption("Pause");
  std::vector<std::string> tracks;
  for (const AudioTrack& track : audioTracks_.Rows()) tracks.push_back(track.Path);
  return job_.Start(photos_, tracks, RunOptions);
}

void MainWindow::btnPauseClick() {
  if (!paused_) {
    encoder_->Pause();
    paused_ = true;
    view_.SetPauseCaption("Resume");
  } else {
    encoder_->Resume();
    paused_ = false;
    view_.SetPauseCaption("Pause");
  }
  view_.SetPauseEnabled(true);
  view_.SetStartEnabled(false);
}

void MainWindow::btnStopClick() {
  ShowIdleState(view_);
  job_.PressStop();
  view_.SetProgressPosition(0);
  view_.SetStatusText("");
  encoder_->Stop(true);
}

void MainWindow::btnOpenClick() {
  const std::string folder = OutputFolderForOpen(settings_, messages_);
  if (view_.OutputFolderText().size() > 2) view_.OpenFolder(folder);
}

void MainWindow::FFEncoderProgress(PProgressInfo progressInfo) {
  if (progressInfo == nullptr) return;
  const TProgressInfo& info = *progressInfo;
  char text[160];
  std::snprintf(text, sizeof text, "Frame number: %d; FPS: %d; Size: %" PRId64 "; Time: %" PRId64, info.FrameNumber,
                info.FPS, info.CurrentSize, info.CurrentDuration);
  view_.SetStatusText(text);
  if (info.TotalDuration > 0) {
    view_.SetProgressPosition(static_cast<int>(info.CurrentDuration * 100 / info.TotalDuration));
  } else if (info.FrameNumber >= 0 && !Joining() && !StopPressed()) {
    // Drawn frames come with no length the engine could know, so the slideshow's reports carry no
    // total and the bar would stand still for the whole run; the frames the show will have are
    // known here.
    const std::int64_t frames = ShowFrameCount(static_cast<std::int64_t>(photos_.size()),
                                               sequencer_.HoldFrames(), sequencer_.TransitionFrames());
    if (frames > 0) {
      view_.SetProgressPosition(
          static_cast<int>(std::min<std::int64_t>(100, std::int64_t{info.FrameNumber} * 100 / frames)));
    }
  }
  if (OnRunProgress) OnRunProgress(info);
}

void MainWindow::FFEncoderTerminate(const TTerminateInfo& terminateInfo) {
  // The join is a run of its own; its end is not the end of Start's run, which still has the
  // slideshow to encode, so the window stays in its running state.
  const bool joining = job_.Joining();
  job_.NoteTerminate(terminateInfo);
  if (terminateInfo.TaskIndex < 0 && !joining) {
    ShowIdleState(view_);
    btnOpenClick();
  }
  // A failed join is told by the run, with the tracks' names, once it has ended; the task's own
  // text alone would not say which files the music was lost from.
  if (TaskFailed(terminateInfo) && !joining) {
    messages_.ShowMessage(TaskFailureText(terminateInfo), GlobalObject().ProductName(), MessageIcon::Exclamation,
                          MessageButtons::Ok);
  }
}

}  // namespace lumivor
