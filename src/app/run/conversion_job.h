// A run request turned into one encoder run that writes one video file: the output sample rates,
// the naming of the video, and the job that joins the sound, builds the task and waits for its end.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/files/output_file.h"
#include "app/run/output_formats.h"
#include "app/run/run_request.h"
#include "app/show/frame_sequencer.h"
#include "media/engine/ffmpeg.h"

namespace lumivor {

class LogMemo;
class MessageBoxes;
class SettingsStore;
class TFFDecoder;
class TFFEncoder;
class TFrameInputAdapter;

// ------------------------------------------------------------------ output settings

// The stored "samplerate" entry in hertz: 1 -> 8000 ... 4 -> 44100; 0 ("as source") and entries
// outside the list give 0, which asks for no particular rate.
int SampleRateOfEntry(int entry);

// ------------------------------------------------------------------ output naming

// The first free name folder/<Name without path and last extension>_(new)<Extension>, then
// _(new_1), _(new_2), ... Anything already in the folder under a name counts as taken, a dangling
// symbolic link too, so the run never writes through someone else's link.
// A name longer than the folder takes keeps as much of its start as fits (FitFileName).
std::string UniqueOutputName(const std::string& folder, const std::string& name, const std::string& extension);

// The longest file name, in bytes, the folder's file system takes (255 when it cannot be asked).
std::size_t FolderNameLimit(const std::string& folder);

// stem + suffix when that is at most limit bytes; otherwise the stem is cut at its end, never
// inside a UTF-8 character, until it fits. A made-up name that the file system refuses would end
// the run after all the work before it.
std::string FitFileName(const std::string& stem, const std::string& suffix, std::size_t limit);

// ------------------------------------------------------------------ task ends

// A task that ended in failure: one that raised an error, or one that did not finish and says
// why (a stop or a break ends a task unfinished too, but without a reason).
bool TaskFailed(const TTerminateInfo& info);
// The failed task's reason, or a general text when it gave none.
std::string TaskFailureText(const TTerminateInfo& info);

// ------------------------------------------------------------------ the job

// The frames of a video made of the show: the whole show (ShowFrameCount), or, when the break
// after the last photo applies, the show without the black frames after its closing transition.
std::int64_t RunFrameCount(std::int64_t photos, int holdFrames, int transitionFrames, bool breaksAfterLastPhoto);
// The same for a show timed photo by photo (RequestTiming).
std::int64_t RunFrameCount(const ShowTiming& timing, bool breaksAfterLastPhoto);

// The output's "-t" for a video of frames at numerator/denominator frames per second: seconds
// with six decimals, rounded up to the microsecond so that the last frame is never cut.
std::string FramesDurationText(std::int64_t frames, int numerator, int denominator);

// Gives the sequencer the request's screen mode, motion and motion strength (kept within 0 to 100).
void ApplyPictureSettings(const RunRequest& request, FrameSequencer& sequencer);
// The same from a settings file; a text the program does not know keeps still photos fitted on
// black.
void ApplyPictureSettings(const SettingsStore& settings, FrameSequencer& sequencer);

// The pace a run draws its show at: its rate, the show's own hold and transition, and every
// picture's as it chose them.
struct ShowPacing {
  FrameRateParts Rate;
  int HoldFrames = 1;
  int TransitionFrames = 1;
  ShowTiming Timing;
};

// The title card becomes the show's first picture: drawn once into a private PNG in the temporary
// folder that the sequencer then shows as it shows a photo (with its hold and its transitions, and
// the frames and the sound's length counting it). The file is held by card from the moment it
// exists, so that it goes with the run (or the preview) however it ends. false with the reason
// when it cannot be written.
bool MakeTitleCard(const RunRequest& request, UnfinishedFile& card, std::string& errorText);
// The request with the title card in front of its photos; the photos' own choices and captions
// move one place along with them, and the card itself has neither. The result has no title left,
// so its timing counts the card once, as a picture.
RunRequest WithTitleCard(const RunRequest& request, const std::string& cardFile);

// The request's frame rate, its show-wide hold and transition in frames, and its timing (the
// request's own, or timing when given).
ShowPacing RequestPacing(const RunRequest& request, const std::optional<ShowTiming>& timing = std::nullopt);

// The sequencer readied for the request's first frame, exactly as a run readies it: the pictures'
// settings, the frame, the pacing and the effects. Anything that shows the run's frames without
// encoding them goes through here, so that it cannot show another show. The frame size is the
// caller's to check first. timing, when given, replaces the request's own (a show fitted to its
// music's beats); the effects and their order are the same either way.
ShowPacing PrepareSequencer(const RunRequest& request, FrameSequencer& sequencer,
                            const std::optional<ShowTiming>& timing = std::nullopt);

// The join of the request's tracks a run makes for the pacing; the output folder and the naming
// hook are the caller's.
AudioJoinRequest SoundJoinRequest(const RunRequest& request, const ShowPacing& pacing);

// Beat sync as a run takes it: the plan fitted to the beats of its joined music (BeatSyncedTiming),
// kept only where the music still covers the fitted show as the join's own rule sees it. The run
// and the live preview both decide here, so that the preview cuts where the render will.
struct ShowBeatFit {
  // The timing to draw: the fit, or the plan.
  ShowTiming Timing;
  // The log's tempo line: "Beat sync: 120.0 bpm", or that the music has no clear beat.
  std::string TempoLine;
  // Why a fit found was not taken (the music ends before the fitted show would); empty otherwise.
  std::string Notice;
  // The fitted show's length differs from the plan's, so the sound must be joined again at it.
  bool Rejoin = false;
  // What a face shows of it: the notice when there is one, else the tempo line.
  const std::string& Text() const { return Notice.empty() ? TempoLine : Notice; }
};
// false with the reason in errorText when the joined sound or the tracks cannot be read; false
// with errorText empty when keepGoing said to stop.
bool FitShowToBeats(const RunRequest& request, const ShowPacing& planned, const std::string& joinedSound,
                    TFFDecoder& decoder, ShowBeatFit& fit, std::string& errorText,
                    const std::function<bool()>& keepGoing);

// What the window's Start takes beyond its controls and the settings file.
struct JobOptions {
  // "-re" on the frame input: frames at their native rate, the run as long as the show.
  bool Realtime = true;
  // Seeds the shared generator so that a random order can be made again; none: the clock.
  std::optional<std::uint32_t> RandomSeed;
  // Effect numbers taken in turn, wrapping, instead of the random or sequential order.
  std::vector<int> EffectOrder;
  // This file instead of a unique name in the output folder.
  std::string OutputFile;
  // Instead of encoding, this picture (PNG or BMP by its name) of the planned show: the first frame
  // of each hold and the middle frame of each transition, drawn by the run's own sequencer.
  std::string PreviewSheetFile;
  // Photos turned upright by their orientation tag as they are loaded.
  bool AutoRotate = true;
};

enum class JobEnd {
  AddedPhotos,  // the photo list was empty: the Add Photos command ran instead
  Finished,     // the video was written to its end
  Stopped,      // the Stop command ended the run and the video so far was closed cleanly (or the
                // run was stopped before its output was set: OutputFile is then empty)
  Failed,       // the run could not start or ended with an error (ErrorText), a stop whose video
                // could not be closed included
};

struct JobResult {
  JobResult() = default;
  // A run's end told before anything was planned: no timing and no beat line to give.
  JobResult(JobEnd end, std::string outputFile, std::string errorText)
      : End(end), OutputFile(std::move(outputFile)), ErrorText(std::move(errorText)) {}

  JobEnd End = JobEnd::Failed;
  // The video's path once the output was set. A Failed run's video is removed when the job named
  // it (so is one a terminating signal ends the program on before the run has kept it); a file
  // given in the request is the caller's to keep or drop.
  std::string OutputFile;
  std::string ErrorText;
  // The timing the show was drawn by once it was planned: the request's, or, with beat sync, the
  // one fitted to the joined music's beats.
  ShowTiming Timing;
  // With beat sync, the log's beat line (BeatSyncLogText, or BeatSyncNoMusicText); else empty.
  std::string BeatSyncText;
};

// What a run shows on whatever face started it (the window, the console). Every call is made on
// the main thread, whichever thread the run itself is on.
class RunFace {
 public:
  virtual ~RunFace() = default;
  // The run is under way: only Stop and Pause apply to it now.
  virtual void RunBegins() = 0;
  // A progress report with its status line, and the share done from 0 to 100 (-1 when the report
  // does not tell it).
  virtual void RunProgress(const TProgressInfo& info, const std::string& statusText, int position) = 0;
  // The run is over. encoded: the encoder's last task has ended, so the video (or what a stop
  // left of it) is there to be shown; false for a run that ended before or without it.
  virtual void RunEnds(bool encoded) = 0;
  // The run's result, after everything else the run shows; the last call of every run.
  virtual void RunFinished(const JobResult& result) = 0;
};

// The components and face services one run uses.
struct JobServices {
  TFFEncoder& Encoder;
  TFrameInputAdapter& FrameInput;
  TFFDecoder& Decoder;
  FrameSequencer& Sequencer;
  RunFace& Face;
  MessageBoxes& Messages;
  LogMemo& Log;
};

// The whole run, from the photo list to the end of the encoding, on the thread that calls Start
// (the runner's run thread). The services must be safe to call from that thread (the runner hands
// it faces that carry each call to the main thread). Stop is asked for from the main thread by
// PressStop; the wait loops look at it every turn, and only the run's thread changes the encoder's
// task list, so a stop never frees tasks under a thread that is still building or clearing them.
class ConversionJob {
 public:
  explicit ConversionJob(JobServices services) : services_(services) {}

  // The run the request describes; nothing of the window's controls or the settings is read.
  JobResult Start(const RunRequest& request);
  // The request of the run going on (or of the last one).
  const RunRequest& Request() const { return request_; }

  // Set by the Stop command while a run is active; the wait loops end the run. Any thread.
  void PressStop() { stopPressed_ = true; }
  // Readies the job for its next run before the thread that runs it starts, so that a stop pressed
  // from then on is not lost to the run's own start.
  void ClearStop() { stopPressed_ = false; }
  bool StopPressed() const { return stopPressed_; }
  // True while the audio tracks are being joined, before the slideshow's own task exists.
  bool Joining() const { return joining_; }
  bool Running() const { return running_; }
  // True once the slideshow's task has sound laid out to end with the video (the fade and loop
  // rules): the encoder must then run to the sound's end instead of breaking after the last photo.
  bool SoundEndsWithShow() const { return soundEndsWithShow_; }
  // The frames the run's video will have once its task is built (0 before): the whole show, or,
  // where "Break when no pictures" ends it, the show up to the last photo's closing transition.
  std::int64_t ShowFrames() const { return showFrames_; }
  // The encoder's notification of a task's end: a failed task's text is the run's error.
  void NoteTerminate(const TTerminateInfo& info);

 private:
  struct ShowPlan;

  // The steps of Start in their order. Those returning bool give false when the run ends with
  // them, result then saying how; the face has been told of the end already.
  // The sizes and frame counts, and the sequencer set for them; a preview sheet ends the run here.
  bool PlanShow(const RunRequest& request, ShowPlan& plan, JobResult& result);
  bool LoadEncoder(JobResult& result);
  // The audio tracks joined into one temporary file (none without tracks).
  bool JoinSound(const RunRequest& request, ShowPlan& plan, JobResult& result);
  // With beat sync, the show refitted to the joined music's beats, the sequencer readied again by
  // the fitted timing and the sound joined again when the show's length changed.
  bool SyncToBeats(const RunRequest& request, ShowPlan& plan, JobResult& result);
  // The encoder's task: the frame input, the joined sound, the output file.
  bool BuildTask(const RunRequest& request, ShowPlan& plan, JobResult& result);
  bool RunAndWait(const RunRequest& request);  // true when Stop ended it
  // The result of a run that was encoded; the video is kept or removed.
  void EndRun(bool stopped, JobResult& result);
  void EndAfterError(const std::string& text, JobResult& result);
  // A run that ends without a video: the face goes back to idle. Returns false (the run ends).
  bool EndEarly(std::string text, JobResult& result);
  bool FailLoudly(const std::string& text, JobResult& result);

  bool WaitForRun();  // false when Stop ended it
  void StopRun();
  // The run ends as stopped before its output was set. Returns false (the run ends).
  bool EndStoppedEarly(JobResult& result);
  std::string Failure() const;

  JobServices services_;
  RunRequest request_;
  // Read by the main thread (Stop, progress, the encoder's end notifications) and by the engine's
  // workers (the sequencer's break rule) while the run's thread writes them.
  std::atomic<bool> stopPressed_{false};
  std::atomic<bool> joining_{false};
  std::atomic<bool> running_{false};
  std::atomic<bool> finalDelivered_{false};
  std::atomic<bool> soundEndsWithShow_{false};
  std::atomic<std::int64_t> showFrames_{0};
  // The joined sound, always temporary, and the video named in the output folder until the run
  // keeps it: held from the moment they are named, so that neither a failure nor a program ended
  // at once by a signal leaves them.
  UnfinishedFile joinedAudio_;
  UnfinishedFile unfinishedVideo_;
  // Written by the end notifications on the main thread, read by the run's thread.
  mutable std::mutex failureLock_;
  std::string failure_;
};

}  // namespace lumivor
