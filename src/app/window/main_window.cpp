#include "app/window/main_window.h"

#include <algorithm>
#include <exception>
#include <utility>

#include "app/common/global_object.h"
#include "app/run/progress_text.h"
#include "app/settings/output_folder.h"
#include "app/settings/settings_store.h"
#include "media/runtime/main_thread.h"

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

// Every call reaches the face on the main thread, the caller waiting for it (at once when the
// caller is the main thread). Silent, it reaches nothing: a face on its way out hears no more.
class SlideshowRunner::MainThreadFace : public RunFace, public MessageBoxes, public LogMemo {
 public:
  MainThreadFace(RunFace& face, MessageBoxes& messages, LogMemo& log) : face_(face), messages_(messages), log_(log) {}

  std::atomic<bool> Silent{false};

  void RunBegins() override {
    Tell([this] { face_.RunBegins(); });
  }
  void RunProgress(const TProgressInfo& info, const std::string& statusText, int position) override {
    Tell([&] { face_.RunProgress(info, statusText, position); });
  }
  void RunEnds(bool encoded) override {
    Tell([&] { face_.RunEnds(encoded); });
  }
  void RunFinished(const JobResult& result) override {
    Tell([&] { face_.RunFinished(result); });
  }
  MessageResult ShowMessage(const std::string& text, const std::string& caption, MessageIcon icon,
                            MessageButtons buttons) override {
    MessageResult answer = MessageResult::Ok;
    Tell([&] { answer = messages_.ShowMessage(text, caption, icon, buttons); });
    return answer;
  }
  void AddLine(const std::string& line) override {
    Tell([&] { log_.AddLine(line); });
  }

 private:
  template <typename Call>
  void Tell(const Call& call) {
    if (Silent) return;
    RunInMainThread([&] {
      // Tested again on the main thread: the face may have gone silent while the call waited.
      if (!Silent) call();
    });
  }

  RunFace& face_;
  MessageBoxes& messages_;
  LogMemo& log_;
};

SlideshowRunner::SlideshowRunner(RunFace& face, MessageBoxes& messages, LogMemo& log)
    : face_(std::make_unique<MainThreadFace>(face, messages, log)),
      decoder_(std::make_unique<TFFDecoder>()),
      frameInput_(std::make_unique<TFrameInputAdapter>()),
      encoder_(std::make_unique<TFFEncoder>()),
      job_(JobServices{*encoder_, *frameInput_, *decoder_, sequencer_, *face_, *face_, *face_}) {
  // The photos drawn are the request's, whatever the face does with its own list meanwhile.
  sequencer_.Photos = [this]() -> const std::vector<std::string>& { return job_.Request().Photos; };
  // Sound laid out to end with the video (the fade and loop rules) ends with the tail frames too;
  // the break would leave the video shorter than it.
  sequencer_.BreakWhenNoPictures = [this] { return job_.Request().BreakWhenNoPictures && !job_.SoundEndsWithShow(); };
  sequencer_.Log = face_.get();

  // Photos are decoded and frames composed on the engine's reading worker: through the main
  // thread every frame would wait for the window's event loop, and the loop for the frame.
  frameInput_->TriggerEventInMainThread = false;
  frameInput_->OnReadHeader = [this](TFrameInputAdapter&) { sequencer_.ReadHeader(); };
  frameInput_->OnReadClose = [this](TFrameInputAdapter&) { sequencer_.ReadClose(); };
  frameInput_->OnReadFrameCanvas = [this](TFrameInputAdapter&, Bitmap& canvas, PInputFrameInfo) {
    return sequencer_.ReadFrameCanvas(canvas);
  };

  encoder_->OnProgress = [this](auto&&, PProgressInfo info) { EncoderProgress(info); };
  encoder_->OnTerminate = [this](auto&&, const TTerminateInfo& info) { EncoderTerminate(info); };
}

SlideshowRunner::~SlideshowRunner() {
  Shutdown();
  // A run still going is ended before the components it uses go.
  if (encoder_->Working()) encoder_->Stop(true);
}

void SlideshowRunner::Shutdown() {
  face_->Silent = true;
  if (runThread_.joinable()) {
    job_.PressStop();
    JoinRunThread();
  }
}

bool SlideshowRunner::Begin(const RunRequest& request) {
  if (going_ || telling_) return false;
  // The last run's thread has told its end and is on its way out, if not gone.
  if (runThread_.joinable()) JoinRunThread();
  job_.ClearStop();
  paceStart_.reset();
  rawLineLogged_.reset();
  going_ = true;
  threadEnded_ = false;
  runThread_ = std::thread([this, request] { RunOnThread(request); });
  return true;
}

void SlideshowRunner::RunOnThread(RunRequest request) {
  JobResult result;
  try {
    result = job_.Start(request);
  } catch (...) {
    // Start answers every failure with a result; what still escapes must not end the program.
    result.End = JobEnd::Failed;
    result.ErrorText = "The run failed";
  }
  lastResult_ = result;
  going_ = false;
  try {
    RunInMainThread([&] {
      if (face_->Silent) return;
      telling_ = true;
      struct Told {
        bool& telling;
        ~Told() { telling = false; }
      } told{telling_};
      face_->RunFinished(result);
    });
  } catch (...) {
    // What the face throws is the face's; the run has ended either way.
  }
  threadEnded_ = true;
  WakeMainThread();
}

void SlideshowRunner::JoinRunThread() {
  // The run's thread hands its last calls to the main thread: a wait that did not serve them would
  // never end.
  WaitServing([this] { return threadEnded_.load(); });
  runThread_.join();
}

JobResult SlideshowRunner::Wait() {
  // Inside RunFinished the thread waits for the caller: its result is the one being told.
  if (!telling_ && runThread_.joinable()) JoinRunThread();
  return lastResult_;
}

bool SlideshowRunner::WaitFor(std::chrono::milliseconds timeout) {
  if (telling_) return true;
  if (!runThread_.joinable()) return true;
  if (!WaitServing([this] { return threadEnded_.load(); }, timeout)) return false;
  runThread_.join();
  return true;
}

void SlideshowRunner::Stop() {
  // Only the run's thread touches the encoder's tasks; it sees the stop within a wait turn.
  if (going_) job_.PressStop();
}

void SlideshowRunner::EncoderProgress(PProgressInfo progressInfo) {
  if (progressInfo == nullptr) return;
  const TProgressInfo& info = *progressInfo;
  const auto now = std::chrono::steady_clock::now();
  // The engine's own figures stay for whoever reads the log, but a line per report (twice a
  // second) would bury everything else in it.
  constexpr auto RawLineInterval = std::chrono::seconds(5);
  if (!rawLineLogged_ || now - *rawLineLogged_ >= RawLineInterval) {
    rawLineLogged_ = now;
    face_->AddLine(RawProgressLine(info));
  }
  if (Joining()) {
    // The join is a run of its own before the show's first frame: the bar stays at the start.
    face_->RunProgress(info, JoiningStatusText(info.CurrentDuration, info.TotalDuration), 0);
    return;
  }
  // The reports carry the engine's durations, but they follow the muxed sound and pictures, which
  // start seconds late behind H.264's look-ahead and end with whichever stream is longer; the
  // frames the show will have are known here, and every report counts the frames done.
  ShowProgress progress;
  progress.FramesDone = info.FrameNumber;
  progress.ShowFrames = job_.ShowFrames();
  progress.FramesPerSecond = info.FPS;
  progress.Bytes = info.CurrentSize;
  if (info.FrameNumber >= 0) {
    if (!paceStart_) {
      paceStart_ = PaceStart{now, info.FrameNumber};
    } else {
      progress.SecondsLeft = EstimateSecondsLeft(info.FrameNumber, progress.ShowFrames, paceStart_->Frames,
                                                 std::chrono::duration<double>(now - paceStart_->Time).count());
    }
  }
  // After Stop the bar stays where Stop put it.
  const int position = StopPressed() ? -1 : ProgressPosition(progress);
  face_->RunProgress(info, ProgressStatusText(progress), position);
}

void SlideshowRunner::EncoderTerminate(const TTerminateInfo& terminateInfo) {
  // The join is a run of its own; its end is not the end of the run, which still has the
  // slideshow to encode, so the face stays in its running state.
  const bool joining = job_.Joining();
  job_.NoteTerminate(terminateInfo);
  if (terminateInfo.TaskIndex < 0 && !joining) face_->RunEnds(true);
  // A failed join is told by the run, with the tracks' names, once it has ended; the task's own
  // text alone would not say which files the music was lost from.
  if (TaskFailed(terminateInfo) && !joining) {
    face_->ShowMessage(TaskFailureText(terminateInfo), GlobalObject().ProductName(), MessageIcon::Exclamation,
                       MessageButtons::Ok);
  }
}

MainWindow::MainWindow(MainWindowView& view, MessageBoxes& messages, LogMemo& log, SettingsStore& settings)
    : view_(view), messages_(messages), log_(log), settings_(settings), runner_(*this, messages, log) {}

void MainWindow::RunBegins() {
  ShowRunningState(view_);
  // The bar and the line still tell the last run's end.
  view_.SetProgressPosition(0);
  view_.SetStatusText("");
}

void MainWindow::RunProgress(const TProgressInfo& info, const std::string& statusText, int position) {
  view_.SetStatusText(statusText);
  if (position >= 0) view_.SetProgressPosition(position);
  if (OnRunProgress) OnRunProgress(info);
}

void MainWindow::RunEnds(bool encoded) {
  ShowIdleState(view_);
  if (encoded) btnOpenClick();
}

void MainWindow::RunFinished(const JobResult& result) {
  lastRun_ = result;
  if (const std::optional<std::string> text = RunEndStatusText(result)) view_.SetStatusText(*text);
  if (result.End == JobEnd::Finished) view_.SetProgressPosition(100);
  if (OnRunFinished) OnRunFinished(result);
}

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
                               settings_key::OutPutDir, settings_key::Normalize, settings_key::BeatSync}) {
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

bool MainWindow::btnStartClick() {
  // Start is disabled while a run goes on; reached another way it changes nothing, the result of
  // the run going on included.
  if (runner_.Running()) return false;
  if (photos_.empty()) {
    btnVideoClick();
    RunFinished(JobResult{JobEnd::AddedPhotos, std::string(), std::string()});
    return false;
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
    RunFinished(JobResult{JobEnd::Failed, std::string(), errorText});
    return false;
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
  return runner_.Begin(request);
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
