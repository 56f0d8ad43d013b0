// The main window's run commands without a toolkit: Start, Pause, Stop, the run's progress and end,
// Add Photos and the Open command. The window itself (the Qt face) implements MainWindowView and
// calls the handlers; every call is made on the main thread. The runner beneath it is what any
// face runs slideshows with: the run goes on a thread of its own, so the window's event loop stays
// free, and everything the run shows reaches the window on the main thread.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/run/audio_tracks.h"
#include "app/run/conversion_job.h"
#include "app/show/frame_sequencer.h"
#include "app/run/run_request.h"
#include "app/common/window_services.h"
#include "media/components/ff_decoder.h"
#include "media/components/ff_encoder.h"
#include "media/components/frame_input.h"
#include "media/engine/ffmpeg.h"

namespace lumivor {

// What the run commands ask of the window: the run buttons and the controls they switch between
// the idle and the running state, the status line and the progress bar, the choices Start reads
// from the settings page, the photo dialog and the desktop's folder opener.
class MainWindowView {
 public:
  virtual ~MainWindowView() = default;

  // Window states.
  virtual void SetStartEnabled(bool enabled) = 0;     // btnStart
  virtual void SetPauseEnabled(bool enabled) = 0;     // btnPause
  virtual void SetStopEnabled(bool enabled) = 0;      // btnStop
  virtual void SetExitEnabled(bool enabled) = 0;      // btnExit
  virtual void SetTabsEnabled(bool enabled) = 0;      // pgc: all three pages at once
  virtual void SetBrowsEnabled(bool enabled) = 0;     // btnBrows
  virtual void SetOpenEnabled(bool enabled) = 0;      // btnOpen
  virtual void SetAddPhotosEnabled(bool enabled) = 0; // btnVideo
  virtual void SetAddAudioEnabled(bool enabled) = 0;  // btnAddAudio
  virtual void SetFormatEnabled(bool enabled) = 0;    // cmbFormat
  virtual void FocusStop() = 0;
  virtual void SetPauseCaption(const std::string& caption) = 0;  // "Pause" or "Resume"

  // Run display. The progress position is 0 to 100 and is to be shown at once (repainted), not at
  // the next idle moment, because Stop sets it right before a wait.
  virtual void SetStatusText(const std::string& text) = 0;      // lblStatus
  virtual void SetProgressPosition(int position) = 0;           // ProgressBar1

  // The settings-page controls Start reads into its request at the moment it runs.
  virtual std::string VideoSizeText() = 0;     // cmbVideoSize's text, e.g. "320x240" or typed
  virtual std::string FrameRateText() = 0;     // cmbFramerate's text, e.g. "30:1"
  virtual std::string PhotoDelayText() = 0;    // edtPictureDelay
  virtual std::string EffectDelayText() = 0;   // edtTransitionDelay
  virtual int FormatIndex() = 0;               // cmbFormat's item index, -1 without a selection
  virtual bool RandomEffectsChecked() = 0;     // chkRandomEffect
  virtual bool BreakWhenNoPicturesChecked() = 0;  // chkPictures
  virtual std::string OutputFolderText() = 0;  // edtDir

  // The Add Photos dialog: multi-selection, filter
  // "Picture Files|*.BMP;*.JPEG;*.JPG;*.PNG;*.WEBP;*.HEIC;*.HEIF" (any letter case), file name
  // cleared. Returns the chosen paths in the dialog's order; empty when cancelled.
  virtual std::vector<std::string> ChoosePhotoFiles() = 0;
  // lstPictures now shows these paths, in this order.
  virtual void ShowPhotos(const std::vector<std::string>& photos) = 0;

  // Shows a folder to the user (the desktop's file manager); may do nothing where there is none.
  virtual void OpenFolder(const std::string& folder) = 0;
};

// The run buttons and the controls that go with them. Idle: Start and Exit enabled, Pause and Stop
// disabled, the tabs and the commands that change the run's inputs enabled. Running: the reverse,
// with Stop focused so that a key press does not start anything.
void ShowIdleState(MainWindowView& view);
void ShowRunningState(MainWindowView& view);

// The components a run uses, wired together: the sequencer draws the frame input's frames on the
// engine's worker, the encoder's reports reach the face. Any face (the window, the console) runs
// slideshows through it. Each run goes on a thread the runner owns; the face, the message boxes
// and the log are only ever called on the main thread, through the main-thread dispatcher, which
// the face's event loop (or Wait) serves.
class SlideshowRunner {
 public:
  SlideshowRunner(RunFace& face, MessageBoxes& messages, LogMemo& log);
  // Ends a run still going as Stop does, without telling the face any more of it (it may be going
  // too), and returns once the run's thread has ended.
  ~SlideshowRunner();
  SlideshowRunner(const SlideshowRunner&) = delete;
  SlideshowRunner& operator=(const SlideshowRunner&) = delete;

  TFFEncoder& Encoder() { return *encoder_; }
  TFrameInputAdapter& FrameInput() { return *frameInput_; }
  TFFDecoder& Decoder() { return *decoder_; }
  FrameSequencer& Sequencer() { return sequencer_; }

  // Main thread. Begins the run the request describes and returns at once; false, and nothing
  // begins, while a run is going (or its end is being told). The face hears RunBegins, the
  // progress, RunEnds and, last, RunFinished with the result.
  bool Begin(const RunRequest& request);
  // Main thread: waits for the run's end, serving the main thread's queued calls meanwhile so that
  // the face hears all of it, and returns the result of the last run.
  JobResult Wait();
  // As Wait, for at most timeout; true when no run is going any more.
  bool WaitFor(std::chrono::milliseconds timeout);
  // Ends the active run; the video so far is closed cleanly. Returns at once: the run's end
  // follows as usual. Nothing happens when no run is going.
  void Stop();
  // The face hears nothing more, the run is stopped and its thread joined; for a face that is
  // about to go. The runner can run again afterwards, silently.
  void Shutdown();
  // The result of the last run that ended.
  const JobResult& LastResult() const { return lastResult_; }

  // From Begin until the result is told.
  bool Running() const { return going_; }
  // The run is joining the audio tracks; the slideshow's frames have not begun.
  bool Joining() const { return job_.Joining(); }
  bool StopPressed() const { return job_.StopPressed(); }
  // The last run's sound was laid out to end with its video (see ConversionJob).
  bool SoundEndsWithShow() const { return job_.SoundEndsWithShow(); }
  // The frames the run's video will have, once its task is built (0 before; see ConversionJob).
  std::int64_t ShowFrames() const { return job_.ShowFrames(); }

 private:
  class MainThreadFace;

  void EncoderProgress(PProgressInfo progressInfo);
  void EncoderTerminate(const TTerminateInfo& terminateInfo);
  void RunOnThread(RunRequest request);
  // Main thread: waits for the run's thread to end and joins it.
  void JoinRunThread();

  // The face, the message boxes and the log as the run's threads reach them.
  std::unique_ptr<MainThreadFace> face_;
  // Declared so that they go in the reverse order: the encoder's tasks first, then the frame
  // input they read from, the decoder, and last the sequencer the frame input draws with.
  FrameSequencer sequencer_;
  std::unique_ptr<TFFDecoder> decoder_;
  std::unique_ptr<TFrameInputAdapter> frameInput_;
  std::unique_ptr<TFFEncoder> encoder_;
  ConversionJob job_;

  std::thread runThread_;
  std::atomic<bool> going_{false};
  std::atomic<bool> threadEnded_{true};
  // Main thread only: RunFinished is being told (the run's thread waits for it to return).
  bool telling_ = false;
  // Written by the run's thread before it lets go of going_; read once it has.
  JobResult lastResult_;
  // The pace of the show's frames, from its first report on, and when the engine's own line was
  // last logged. Touched only by the encoder's progress reports (which come one at a time) and by
  // Begin before the run's thread exists.
  struct PaceStart {
    std::chrono::steady_clock::time_point Time;
    std::int64_t Frames = 0;
  };
  std::optional<PaceStart> paceStart_;
  std::optional<std::chrono::steady_clock::time_point> rawLineLogged_;
};

// The main window's run logic: it owns the runner and the photo list, and answers the window's
// commands. The window calls the handlers on the main thread.
class MainWindow : private RunFace {
 public:
  MainWindow(MainWindowView& view, MessageBoxes& messages, LogMemo& log, SettingsStore& settings);
  MainWindow(const MainWindow&) = delete;
  MainWindow& operator=(const MainWindow&) = delete;

  TFFEncoder& FFEncoder() { return runner_.Encoder(); }
  TFrameInputAdapter& FIA() { return runner_.FrameInput(); }
  TFFDecoder& FFDecoder() { return runner_.Decoder(); }
  FrameSequencer& Sequencer() { return runner_.Sequencer(); }
  SettingsStore& Settings() { return settings_; }

  // lstPictures: full paths in the order added.
  const std::vector<std::string>& Photos() const { return photos_; }
  void AddPhotos(const std::vector<std::string>& paths);
  // The audio page's list (lvFiles): the tracks in playing order. The window's AudioPage edits it.
  AudioTrackList& AudioTracks() { return audioTracks_; }

  // What the window's Start takes beyond its controls and the settings file.
  JobOptions RunOptions;
  // Called with every progress report after the window's status line and bar are updated.
  std::function<void(const TProgressInfo&)> OnRunProgress;
  // Called with every run's result, the runs that never began (Add Photos instead, a control
  // that cannot be read) included, after the window is back to idle.
  std::function<void(const JobResult&)> OnRunFinished;
  // What the last Start (or preview sheet) ended with.
  const JobResult& LastRun() const { return lastRun_; }
  // Waits for the run's end, serving the main thread's queued calls (so the window hears it all),
  // and returns its result. For the tests and the command line; the window never waits.
  JobResult WaitForRunEnd() { return runner_.Wait(); }
  // As WaitForRunEnd for at most timeout; true once no run is going.
  bool WaitForRunEnd(std::chrono::milliseconds timeout) { return runner_.WaitFor(timeout); }
  // The window is going: the run is stopped and joined without showing anything more.
  void Shutdown() { runner_.Shutdown(); }

  bool Running() const { return runner_.Running(); }
  bool Joining() const { return runner_.Joining(); }
  bool StopPressed() const { return runner_.StopPressed(); }
  bool SoundEndsWithShow() const { return runner_.SoundEndsWithShow(); }
  bool Paused() const { return paused_; }

  // The request Start would run now; false with the reason when a control holds what cannot be read.
  bool RequestFromWindow(RunRequest& request, std::string& errorText);

  // Handlers.
  void btnVideoClick();        // Add Photos
  void btnClearPhotosClick();  // empties the photo list
  // Begins the run from the window's controls, its settings and RunOptions and returns at once;
  // true when a run is under way. Its end comes as OnRunFinished. A frame size the window cannot
  // read is refused before anything runs (OnRunFinished tells that at once, as Add Photos).
  bool btnStartClick();
  void btnPauseClick();
  void btnStopClick();
  void btnOpenClick();

 private:
  void RunBegins() override;
  void RunProgress(const TProgressInfo& info, const std::string& statusText, int position) override;
  void RunEnds(bool encoded) override;
  void RunFinished(const JobResult& result) override;

  MainWindowView& view_;
  MessageBoxes& messages_;
  LogMemo& log_;
  SettingsStore& settings_;
  std::vector<std::string> photos_;
  AudioTrackList audioTracks_;
  bool paused_ = false;
  JobResult lastRun_;
  SlideshowRunner runner_;
};

}  // namespace lumivor
