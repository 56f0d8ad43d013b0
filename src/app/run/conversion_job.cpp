#include "app/run/conversion_job.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <exception>
#include <stdexcept>
#include <filesystem>
#include <iterator>
#include <limits>
#include <map>
#include <memory>
#include <system_error>
#include <utility>

#include <stdlib.h>
#include <unistd.h>

#include "app/run/audio_joiner.h"
#include "app/run/beat_track.h"
#include "app/run/loudness.h"
#include "app/show/caption_art.h"
#include "app/show/frame_sequencer.h"
#include "app/common/global_object.h"
#include "app/photos/picture_file.h"
#include "app/show/preview_sheet.h"
#include "app/settings/settings_store.h"
#include "app/common/window_services.h"
#include "media/components/ff_decoder.h"
#include "media/components/ff_encoder.h"
#include "media/components/frame_input.h"
#include "media/runtime/ff_load.h"
#include "media/runtime/main_thread.h"

namespace lumivor {

namespace {

// Hertz of the sample-rate list's entries; entry 0 is "as source".
constexpr int SampleRates[] = {0, 8000, 11025, 22050, 44100};

bool taken(const std::filesystem::path& path) {
  std::error_code error;
  // symlink_status: a link is a name in use even when what it points at is gone.
  return std::filesystem::exists(std::filesystem::symlink_status(path, error));
}

}  // namespace

int SampleRateOfEntry(int entry) {
  if (entry < 0 || entry >= static_cast<int>(std::size(SampleRates))) return 0;
  return SampleRates[entry];
}

std::size_t FolderNameLimit(const std::string& folder) {
  constexpr std::size_t Usual = 255;
  const long limit = ::pathconf(folder.empty() ? "." : folder.c_str(), _PC_NAME_MAX);
  return limit > 0 ? static_cast<std::size_t>(limit) : Usual;
}

std::string FitFileName(const std::string& stem, const std::string& suffix, std::size_t limit) {
  if (stem.size() + suffix.size() <= limit) return stem + suffix;
  // Nothing of the stem fits beside the suffix: the name is left whole for the file system to
  // refuse with its own reason, rather than made into a bare suffix.
  if (suffix.size() >= limit) return stem + suffix;
  std::size_t keep = limit - suffix.size();
  // Back up over UTF-8 continuation bytes (10xxxxxx), so the cut falls before a whole character.
  while (keep > 0 && (static_cast<unsigned char>(stem[keep]) & 0xC0) == 0x80) --keep;
  return stem.substr(0, keep) + suffix;
}

std::string UniqueOutputName(const std::string& folder, const std::string& name, const std::string& extension) {
  std::string base = folder;
  if (base.empty() || base.back() != '/') base += '/';
  std::string stem = name.substr(name.find_last_of('/') == std::string::npos ? 0 : name.find_last_of('/') + 1);
  const std::size_t dot = stem.rfind('.');
  if (dot != std::string::npos) stem.erase(dot);
  const std::size_t limit = FolderNameLimit(folder);
  std::string candidate = base + FitFileName(stem, "_(new)" + extension, limit);
  for (long n = 1; taken(candidate); ++n) {
    candidate = base + FitFileName(stem, "_(new_" + std::to_string(n) + ")" + extension, limit);
  }
  return candidate;
}

std::int64_t RunFrameCount(std::int64_t photos, int holdFrames, int transitionFrames, bool breaksAfterLastPhoto) {
  const std::int64_t show = ShowFrameCount(photos, holdFrames, transitionFrames);
  return breaksAfterLastPhoto ? show - ShowTailFrames : show;
}

std::int64_t RunFrameCount(const ShowTiming& timing, bool breaksAfterLastPhoto) {
  const std::int64_t show = timing.FrameCount();
  return breaksAfterLastPhoto ? show - ShowTailFrames : show;
}

std::string FramesDurationText(std::int64_t frames, int numerator, int denominator) {
  if (frames <= 0 || numerator <= 0 || denominator <= 0) return "0.000000";
  // In extended precision: frames * denominator * 10^6 overflows 64 bits for long shows at large
  // denominators, and a whole quotient (390 frames at 30/1) stays exact.
  const long double exact = static_cast<long double>(frames) * denominator * 1000000.0L / numerator;
  // Beyond the engine's own range of times the length means "no end" anyway.
  constexpr auto Longest = std::numeric_limits<std::int64_t>::max();
  const std::int64_t microseconds =
      exact >= static_cast<long double>(Longest) ? Longest : static_cast<std::int64_t>(std::ceil(exact));
  char text[48];
  std::snprintf(text, sizeof text, "%lld.%06lld", static_cast<long long>(microseconds / 1000000),
                static_cast<long long>(microseconds % 1000000));
  return text;
}

bool TaskFailed(const TTerminateInfo& info) {
  return info.TaskIndex >= 0 && (info.Exception || (!info.Finished && !info.ExceptionMsg.empty()));
}

std::string TaskFailureText(const TTerminateInfo& info) {
  return info.ExceptionMsg.empty() ? std::string("The run failed") : info.ExceptionMsg;
}

}  // namespace lumivor

// ====================================================================== the job

namespace lumivor {

namespace {

constexpr auto WaitTurn = std::chrono::milliseconds(20);
// After the last task's end the final notification follows from a short-lived thread; it is
// awaited so that it cannot be taken for the end of a later run. A bound keeps a lost one from
// holding the window for ever.
constexpr auto FinalNotificationBound = std::chrono::seconds(10);

std::string file_name_part(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool is_file(const std::string& path) {
  std::error_code error;
  return !path.empty() && std::filesystem::exists(path, error);
}

void log_error(LogMemo& log, const std::string& line) {
  log.AddLine("");
  log.AddLine(line);
  log.AddLine("");
}

std::string input_info_text(TFFEncoder& encoder, int task, int input) {
  TFFDecoder* inspector = encoder.InputInspector(task, input);
  return inspector != nullptr ? inspector->FileInfoText() : std::string();
}

// Each track's gain to the common loudness, a track listed twice measured once. The tracks are
// checked as the join checks them first, so that a track that is no sound is refused with the
// join's own words. False with the reason, or with stopped set when a stop came while measuring.
bool measure_track_gains(const std::vector<std::string>& tracks, TFFDecoder& decoder, LogMemo& log,
                         const std::atomic<bool>& stopPressed, std::vector<double>& gains, bool& stopped,
                         std::string& errorText) {
  for (const std::string& track : tracks) {
    errorText = TrackProblem(decoder, track);
    decoder.CloseFile();
    if (!errorText.empty()) return false;
  }
  gains.clear();
  std::map<std::string, double> measured;
  for (const std::string& track : tracks) {
    if (const auto known = measured.find(track); known != measured.end()) {
      gains.push_back(known->second);
      continue;
    }
    TrackLoudness loudness;
    std::string reason;
    if (!MeasureTrackLoudness(track, loudness, reason, [&] { return !stopPressed.load(); })) {
      stopped = stopPressed.load();
      errorText = "Cannot measure the loudness of the audio track " + track + ": " + reason;
      return false;
    }
    const LoudnessGain gain = GainForLoudness(loudness);
    log.AddLine(LoudnessLogText(track, loudness, gain));
    measured.emplace(track, gain.Db);
    gains.push_back(gain.Db);
  }
  return true;
}

}  // namespace

void ConversionJob::NoteTerminate(const TTerminateInfo& info) {
  if (info.TaskIndex < 0) {
    finalDelivered_ = true;
    return;
  }
  if (!TaskFailed(info)) return;
  std::lock_guard<std::mutex> guard(failureLock_);
  if (failure_.empty()) failure_ = TaskFailureText(info);
}

std::string ConversionJob::Failure() const {
  std::lock_guard<std::mutex> guard(failureLock_);
  return failure_;
}

bool ConversionJob::WaitForRun() {
  TFFEncoder& encoder = services_.Encoder;
  while (encoder.Working()) {
    WaitServing([&] { return stopPressed_ || encoder.AllFinished(); }, WaitTurn);
    if (stopPressed_) return false;
    if (encoder.AllFinished()) break;
  }
  WaitServing([&] { return finalDelivered_.load() || !encoder.Working(); }, FinalNotificationBound);
  return !stopPressed_;
}

void ConversionJob::StopRun() {
  TFFEncoder& encoder = services_.Encoder;
  encoder.Stop(true);
  WaitServing([&] { return encoder.AllFinished() || !encoder.Working(); }, FinalNotificationBound);
  WaitServing([&] { return finalDelivered_.load(); }, FinalNotificationBound);
  encoder.OwnInspector().CloseFile();
  encoder.ClearTasks();
}

// What the steps of one run hand on to the next.
struct ConversionJob::ShowPlan {
  // The show's own hold and transition, and every photo's as it chose them: the sequencer draws by
  // the timing, and the video's length, the progress and the sound's length are counted from it.
  ShowPacing Pacing;
  // The file the video is named after: the first track (never the temporary joined file).
  std::string NamingSource;
  MusicEnd SoundEnd = MusicEnd::Cut;
  // Each track's gain once measured: a second join (the show refitted to its beats) reuses them.
  std::optional<std::vector<double>> TrackGainsDb;
  int Task = -1;
};

JobResult ConversionJob::Start(const RunRequest& request) {
  JobResult result;
  if (running_) {
    result.ErrorText = "A run is already active.";
    return result;
  }
  running_ = true;
  request_ = request;
  // A stop is not cleared here: one pressed between the runner's Begin and this line is meant
  // for this run (ClearStop readies the job before its thread starts).
  joining_ = false;
  finalDelivered_ = false;
  soundEndsWithShow_ = false;
  showFrames_ = 0;
  {
    std::lock_guard<std::mutex> guard(failureLock_);
    failure_.clear();
  }
  joinedAudio_.Discard();
  unfinishedVideo_.Discard();
  // Declared before the run's end, so that it is removed after everything that could read it.
  UnfinishedFile titleCard;

  // Runs after every way out, the catch's StopRun too, so nothing is removed while the encoder may
  // still be writing it.
  struct RunEnd {
    ConversionJob& job;
    ~RunEnd() {
      job.joinedAudio_.Discard();
      job.unfinishedVideo_.Discard();
      job.joining_ = false;
      job.running_ = false;
    }
  } runEnd{*this};

  // Each step returns false when the run ends with it; result then says how.
  try {
    // From here on the show is the request with its title card, if it has one: the sequencer
    // reads its pictures from request_.
    if (HasTitleCard(request) && FrameSizeInRange({request.Width, request.Height})) {
      std::string cardError;
      if (!MakeTitleCard(request, titleCard, cardError)) {
        log_error(services_.Log, "***" + cardError);
        EndEarly(cardError, result);
        return result;
      }
      request_ = WithTitleCard(request, titleCard.Path());
    }
    const RunRequest& show = request_;
    ShowPlan plan;
    if (!PlanShow(show, plan, result)) return result;
    services_.Face.RunBegins();
    if (!LoadEncoder(result)) return result;
    if (!JoinSound(show, plan, result)) return result;
    if (!SyncToBeats(show, plan, result)) return result;
    // A stop pressed while the photos were planned or the encoder loaded: no task is made.
    if (stopPressed_) {
      EndStoppedEarly(result);
      return result;
    }
    if (!BuildTask(show, plan, result)) return result;
    const bool stopped = RunAndWait(show);
    EndRun(stopped, result);
    return result;
  } catch (const std::exception& error) {
    EndAfterError(error.what(), result);
    return result;
  }
}

bool ConversionJob::EndStoppedEarly(JobResult& result) {
  services_.Face.RunEnds(false);
  result.End = JobEnd::Stopped;
  result.OutputFile.clear();
  return false;
}

bool ConversionJob::EndEarly(std::string text, JobResult& result) {
  services_.Face.RunEnds(false);
  result.End = JobEnd::Failed;
  result.ErrorText = std::move(text);
  return false;
}

// An end the user must see even with the log hidden: the window's message box, as for a task
// that failed.
bool ConversionJob::FailLoudly(const std::string& text, JobResult& result) {
  log_error(services_.Log, "***" + text);
  services_.Messages.ShowMessage(text, GlobalObject().ProductName(), MessageIcon::Exclamation, MessageButtons::Ok);
  return EndEarly(text, result);
}

bool ConversionJob::PlanShow(const RunRequest& request, ShowPlan& plan, JobResult& result) {
  LogMemo& log = services_.Log;
  const VideoSize size{request.Width, request.Height};
  if (!FrameSizeInRange(size)) {
    const std::string text = InvalidFrameSizeText(std::to_string(size.Width) + "x" + std::to_string(size.Height));
    log_error(log, "***" + text);
    return EndEarly(text, result);
  }
  plan.Pacing = PrepareSequencer(request, services_.Sequencer);
  result.Timing = plan.Pacing.Timing;
  if (request.PreviewSheetFile.empty()) return true;

  // The planned show as one picture instead of a video: the run ends here.
  Bitmap sheet;
  std::string errorText;
  if (!RenderPreviewSheet(services_.Sequencer, sheet, errorText) ||
      !WritePictureFile(request.PreviewSheetFile, sheet, errorText)) {
    log_error(log, "***" + errorText);
    return EndEarly(errorText, result);
  }
  log.AddLine("Preview sheet: " + request.PreviewSheetFile);
  result.End = JobEnd::Finished;
  result.OutputFile = request.PreviewSheetFile;
  return false;
}

bool ConversionJob::LoadEncoder(JobResult& result) {
  TFFEncoder& encoder = services_.Encoder;
  if (!encoder.LibrariesLoaded() && !encoder.LoadLibraries(TFFLoader::DefaultLibraryPath())) {
    const std::string text = encoder.LastErrorText;
    services_.Messages.ShowMessage(text, GlobalObject().ProductName(), MessageIcon::Exclamation,
                                   MessageButtons::Ok);
    return EndEarly(text, result);
  }
  RegisterFrameInput();
  encoder.ClearTasks();
  return true;
}

bool ConversionJob::JoinSound(const RunRequest& request, ShowPlan& plan, JobResult& result) {
  const std::vector<std::string>& tracks = request.Tracks;
  if (tracks.empty()) return true;
  TFFEncoder& encoder = services_.Encoder;
  LogMemo& log = services_.Log;
  AudioJoinRequest join = SoundJoinRequest(request, plan.Pacing);
  // The joined sound is written beside the video; on a first run the folder is not there yet,
  // and a join into it would fail and leave the show without its sound.
  join.OutputFolder = request.OutputFolder;
  if (!join.OutputFolder.empty()) {
    std::error_code ignored;
    std::filesystem::create_directories(join.OutputFolder, ignored);
  }
  plan.SoundEnd = join.End;
  join.OnFileNamed = [this](const std::string& fileName) { joinedAudio_.Hold(fileName); };
  joining_ = true;
  if (request.Normalize && !plan.TrackGainsDb) {
    log.AddLine("");
    bool stopped = false;
    std::string measureError;
    std::vector<double> gains;
    if (!measure_track_gains(tracks, services_.Decoder, log, stopPressed_, gains, stopped, measureError)) {
      joining_ = false;
      if (stopped) return EndStoppedEarly(result);
      return FailLoudly(measureError, result);
    }
    plan.TrackGainsDb = std::move(gains);
  }
  if (plan.TrackGainsDb) join.TrackGainsDb = *plan.TrackGainsDb;
  std::string musicPlan;
  std::string joinError;
  const std::string joined = AudioJoiner(encoder, services_.Decoder, join, &musicPlan, joinError);
  if (!joinError.empty()) {
    joining_ = false;
    return FailLoudly(joinError, result);
  }
  log.AddLine("");
  log.AddLine(musicPlan);
  const bool stopped = !WaitForRun();
  joining_ = false;
  // A stop here makes no video, so a join whose file could not be closed loses nothing the
  // user keeps: the run is stopped either way and the file goes.
  if (stopped) {
    StopRun();
    return EndStoppedEarly(result);
  }
  // A join that failed, or that ended without its file, would leave the video with less
  // music than the user gave it, or none.
  if (const std::string failure = Failure(); !failure.empty()) {
    return FailLoudly(JoinFailureText(tracks, failure), result);
  }
  if (!joined.empty() && !is_file(joined)) {
    return FailLoudly(JoinFailureText(tracks, "the joined audio file " + joined + " was not written"), result);
  }
  plan.NamingSource = tracks.front();
  finalDelivered_ = false;
  encoder.ClearTasks();
  return true;
}

bool ConversionJob::SyncToBeats(const RunRequest& request, ShowPlan& plan, JobResult& result) {
  if (!request.BeatSync || request.Tracks.empty()) return true;
  LogMemo& log = services_.Log;
  log.AddLine("");
  if (!is_file(joinedAudio_.Path())) {
    result.BeatSyncText = BeatSyncNoMusicText;
    log.AddLine(result.BeatSyncText);
    return true;
  }
  ShowBeatFit fit;
  std::string error;
  if (!FitShowToBeats(request, plan.Pacing, joinedAudio_.Path(), services_.Decoder, fit, error,
                      [this] { return !stopPressed_.load(); })) {
    if (stopPressed_ || error.empty()) return EndStoppedEarly(result);
    return FailLoudly(error, result);
  }
  log.AddLine(fit.TempoLine);
  if (!fit.Notice.empty()) log.AddLine(fit.Notice);
  result.BeatSyncText = fit.Text();
  if (fit.Timing.HoldFrames == plan.Pacing.Timing.HoldFrames) return true;

  // The fit may end the show up to a beat away from its plan, and the sound must end with the
  // video. The tracks are joined again at the fitted length rather than the first join cut or
  // stretched: the sound is encoded once from the tracks (not a lossy copy of a lossy copy), the
  // join's own rules (the fade's place, the loop's plays) are applied to the length really made,
  // and the music before the end is laid from the same first sample, so the beats just found stay
  // where they are.
  plan.Pacing.Timing = fit.Timing;
  if (fit.Rejoin) {
    joinedAudio_.Discard();
    if (!JoinSound(request, plan, result)) return false;
  }
  result.Timing = fit.Timing;
  // Nothing has been drawn yet: the same effects in the same order, held by the fitted times.
  PrepareSequencer(request, services_.Sequencer, fit.Timing);
  return true;
}

bool ConversionJob::BuildTask(const RunRequest& request, ShowPlan& plan, JobResult& result) {
  TFFEncoder& encoder = services_.Encoder;
  LogMemo& log = services_.Log;
  // The canvas the sequencer draws and the frame the encoder is told of come from the same
  // numbers; a difference would be clipped or padded without a word.
  if (services_.Sequencer.FrameWidth() != request.Width || services_.Sequencer.FrameHeight() != request.Height) {
    throw std::logic_error("the drawn frame differs from the encoded frame");
  }
  TInputOptions input;
  input.Options = FrameInputOptionText(request);
  const int task = encoder.AddTask(services_.FrameInput.InputName(), &input);
  if (task < 0) {
    log_error(log, "***File open error: " + encoder.LastErrorText);
    return EndEarly(encoder.LastErrorText, result);
  }
  plan.Task = task;
  log.AddLine("");
  log.AddLine(input_info_text(encoder, task, 0));

  // The joined sound.
  if (is_file(joinedAudio_.Path())) {
    if (encoder.AddInput(task, joinedAudio_.Path(), nullptr) < 0) {
      log_error(log, "***File open error: " + encoder.LastErrorText);
      const std::string text = encoder.LastErrorText;
      encoder.RemoveTask(task);
      return EndEarly(text, result);
    }
    log.AddLine("");
    log.AddLine(input_info_text(encoder, task, 1));
    soundEndsWithShow_ = plan.SoundEnd != MusicEnd::Cut;
  }

  // The output.
  TOutputOptions output;
  output.Options = OutputOptionText(request);
  // The break ends the frame stream after the last photo's closing transition; the frames the
  // encoder still holds are written to the end, and the sound stops with the last of them
  // rather than running on to its own end (or being cut where the reading happened to be).
  const bool breaks = request.BreakWhenNoPictures && !soundEndsWithShow_;
  const std::int64_t frames = RunFrameCount(plan.Pacing.Timing, breaks);
  if (breaks) output.Options += " -t " + FramesDurationText(frames, plan.Pacing.Rate.Numerator, plan.Pacing.Rate.Denominator);
  std::string outputFile = request.OutputFile;
  if (outputFile.empty()) {
    if (const OutputFormat* format = OutputFormatAt(request.FormatIndex)) {
      outputFile = UniqueOutputName(request.OutputFolder, "slideshow-" + file_name_part(plan.NamingSource),
                                    format->Extension);
    }
  }
  // A name the job chose was a free one: whatever is under it from here on is the run's.
  if (request.OutputFile.empty()) unfinishedVideo_.Hold(outputFile);
  if (encoder.SetOutput(task, outputFile, &output) < 0) {
    const std::string text = encoder.LastErrorText;
    encoder.RemoveTask(task);
    log_error(log, "***Cannot do convert, error: " + text);
    return EndEarly(text, result);
  }
  result.OutputFile = outputFile;
  showFrames_ = frames;
  return true;
}

bool ConversionJob::RunAndWait(const RunRequest& request) {
  TFFEncoder& encoder = services_.Encoder;
  encoder.SetPreview(request.Preview);
  encoder.StartTask(1);
  const bool stopped = !WaitForRun();
  if (stopped) StopRun();
  return stopped;
}

void ConversionJob::EndRun(bool stopped, JobResult& result) {
  // The last task's end has shown the run's end already; this covers an end notification that
  // never came, so the face is not left in its running state.
  services_.Face.RunEnds(false);
  // A stop is kept only when the video was closed cleanly: a stop whose closing write failed
  // (a full disk at the trailer) leaves a file without its index that nothing plays.
  if (std::string failure = Failure(); !failure.empty()) {
    result.End = JobEnd::Failed;
    result.ErrorText = std::move(failure);
    // A task that failed did not close its file: the container's index is missing and nothing
    // plays it. The name was a free one, so nothing of anyone's is lost.
    unfinishedVideo_.Discard();
  } else {
    result.End = stopped ? JobEnd::Stopped : JobEnd::Finished;
    unfinishedVideo_.Keep();
  }
}

void ConversionJob::EndAfterError(const std::string& text, JobResult& result) {
  log_error(services_.Log, "***" + text);
  // Whatever was running is ended before the window goes back to idle.
  try {
    if (services_.Encoder.Working()) StopRun();
  } catch (const std::exception&) {
  }
  EndEarly(text, result);
}

bool MakeTitleCard(const RunRequest& request, UnfinishedFile& card, std::string& errorText) {
  std::error_code error;
  std::filesystem::path folder = std::filesystem::temp_directory_path(error);
  if (error) folder = "/tmp";
  std::string name = (folder / "lumivor-title-XXXXXX.png").string();
  const int fd = ::mkstemps(name.data(), 4);
  if (fd < 0) {
    errorText = "Cannot make the title card in " + folder.string() + ": " + std::strerror(errno);
    return false;
  }
  card.Hold(name);
  ::close(fd);
  const Bitmap picture = RenderTitleCard(request.Title, request.Subtitle, request.Width, request.Height);
  if (!WritePictureFile(name, picture, errorText)) {
    errorText = "Cannot make the title card: " + errorText;
    return false;
  }
  return true;
}

RunRequest WithTitleCard(const RunRequest& request, const std::string& cardFile) {
  RunRequest show = request;
  show.Photos.insert(show.Photos.begin(), cardFile);
  if (!show.PerPhoto.empty()) show.PerPhoto.insert(show.PerPhoto.begin(), PhotoChoices{});
  // An empty text: no date caption either, whatever the rule finds in the card's file.
  show.PhotoCaptions.resize(request.Photos.size());
  show.PhotoCaptions.insert(show.PhotoCaptions.begin(), std::string());
  show.Title.clear();
  show.Subtitle.clear();
  return show;
}

ShowPacing RequestPacing(const RunRequest& request, const std::optional<ShowTiming>& timing) {
  ShowPacing pacing;
  pacing.Rate = FrameRateParts{request.RateNumerator, request.RateDenominator};
  pacing.HoldFrames = CountFrames(pacing.Rate, request.HoldSeconds);
  pacing.TransitionFrames = CountFrames(pacing.Rate, request.TransitionSeconds);
  pacing.Timing = timing ? *timing : RequestTiming(request);
  return pacing;
}

ShowPacing PrepareSequencer(const RunRequest& request, FrameSequencer& sequencer,
                            const std::optional<ShowTiming>& timing) {
  const ShowPacing pacing = RequestPacing(request, timing);
  ApplyPictureSettings(request, sequencer);
  sequencer.AutoRotate = request.AutoRotate;
  sequencer.Captions.Text = nullptr;
  if (HasCaptions(request)) {
    // Its own copy of the words: the layer asks from its own thread, and may outlive the request.
    auto words = std::make_shared<RunRequest>();
    words->Photos = request.Photos;
    words->Captions = request.Captions;
    words->PhotoCaptions = request.PhotoCaptions;
    sequencer.Captions.Text = [words](int index) { return PhotoCaptionText(*words, index); };
  }
  sequencer.ResetRun(request.Width, request.Height, pacing.Timing, request.PerPhoto, request.RandomEffects,
                     request.Seed, request.EffectOrder);
  return pacing;
}

AudioJoinRequest SoundJoinRequest(const RunRequest& request, const ShowPacing& pacing) {
  AudioJoinRequest join;
  join.Tracks = request.Tracks;
  join.PhotoCount = static_cast<int>(request.Photos.size());
  join.PhotoDelaySeconds = static_cast<int>(request.HoldSeconds);
  join.EffectDelaySeconds = static_cast<int>(request.TransitionSeconds);
  join.HoldFrames = pacing.HoldFrames;
  join.TransitionFrames = pacing.TransitionFrames;
  join.ShowFrames = pacing.Timing.FrameCount();
  join.RateNumerator = pacing.Rate.Numerator;
  join.RateDenominator = pacing.Rate.Denominator;
  join.End = request.MusicEndRule;
  return join;
}

bool FitShowToBeats(const RunRequest& request, const ShowPacing& planned, const std::string& joinedSound,
                    TFFDecoder& decoder, ShowBeatFit& fit, std::string& errorText,
                    const std::function<bool()>& keepGoing) {
  fit = ShowBeatFit{};
  fit.Timing = planned.Timing;
  errorText.clear();
  ShowTiming fitted;
  std::string beatError;
  if (!BeatSyncedTiming(joinedSound, planned.Timing, planned.Rate, fitted, fit.TempoLine, beatError, keepGoing)) {
    if (!beatError.empty()) errorText = "Cannot find the beats of the joined music: " + beatError;
    return false;
  }
  if (fitted.FrameCount() != planned.Timing.FrameCount()) {
    ShowPacing pacing = planned;
    pacing.Timing = fitted;
    std::int64_t tracksMicroseconds = 0;
    if (std::string problem = MeasureTracks(decoder, request.Tracks, tracksMicroseconds); !problem.empty()) {
      errorText = std::move(problem);
      return false;
    }
    // Under the cut rule tracks that outlast the planned show may not outlast a longer fitted
    // one; the video would then lose the very music it was cut to.
    if (!PlanMusic(SoundJoinRequest(request, pacing), tracksMicroseconds).Used) {
      fit.Notice = BeatSyncMusicTooShortText;
      return true;
    }
    fit.Rejoin = true;
  }
  fit.Timing = std::move(fitted);
  return true;
}

void ApplyPictureSettings(const RunRequest& request, FrameSequencer& sequencer) {
  sequencer.Screen = request.Screen;
  sequencer.Scaler = request.Scaler;
  sequencer.Motion = request.Motion;
  sequencer.MotionStrength = std::clamp(request.MotionStrength, 0, MaxMotionStrength);
}

void ApplyPictureSettings(const SettingsStore& settings, FrameSequencer& sequencer) {
  RunRequest request;
  request.Screen = ParseScreenMode(settings.ReadString(settings_key::ScreenMode, "fit")).value_or(ScreenMode::Fit);
  request.Motion = ParseMotionKind(settings.ReadString(settings_key::Motion, "none")).value_or(MotionKind::None);
  request.MotionStrength = settings.ReadInteger(settings_key::MotionStrength, DefaultMotionStrength);
  request.Scaler =
      ParsePictureScaler(settings.ReadString(settings_key::Scaler, "smooth")).value_or(PictureScaler::Smooth);
  ApplyPictureSettings(request, sequencer);
}

}  // namespace lumivor
