#include "app/run/live_show.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <utility>

#include "app/photos/photo_loader.h"
#include "app/run/audio_joiner.h"
#include "app/run/beat_track.h"
#include "app/run/sound_samples.h"
#include "media/components/ff_decoder.h"
#include "media/components/ff_encoder.h"
#include "media/components/player_audio.h"
#include "media/runtime/ff_load.h"
#include "media/runtime/library_objects.h"
#include "media/runtime/sdl_load.h"

namespace lumivor {

namespace {

using Clock = std::chrono::steady_clock;

double seconds_between(Clock::time_point from, Clock::time_point to) {
  return std::chrono::duration<double>(to - from).count();
}

double frames_per_second(const FrameRateParts& rate) {
  return rate.Numerator > 0 && rate.Denominator > 0 ? static_cast<double>(rate.Numerator) / rate.Denominator : 30.0;
}

// A folder of the preview's own for the joined sound, removed with everything in it on every way out.
class PrivateFolder {
 public:
  PrivateFolder() {
    std::error_code error;
    std::string pattern = (std::filesystem::temp_directory_path(error) / "lumivor-preview-XXXXXX").string();
    if (error) pattern = "/tmp/lumivor-preview-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    if (::mkdtemp(name.data()) != nullptr) path_ = name.data();
  }
  ~PrivateFolder() { Remove(); }
  void Remove() {
    if (path_.empty()) return;
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
    path_.clear();
  }
  PrivateFolder(const PrivateFolder&) = delete;
  PrivateFolder& operator=(const PrivateFolder&) = delete;
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

// The joined file decoded whole to signed 16-bit interleaved samples at rate and channels, as the
// sound device takes them; false with the reason, or with none when stop was set.
bool decode_sound(const std::string& file, int rate, int channels, const std::atomic<bool>& stop,
                  std::vector<std::int16_t>& samples, std::string& errorText) {
  const auto take = [&](const float* decoded, std::size_t frames) {
    if (stop) return false;
    const std::size_t count = frames * static_cast<std::size_t>(channels);
    const std::size_t at = samples.size();
    samples.resize(at + count);
    for (std::size_t i = 0; i < count; ++i) {
      samples[at + i] = static_cast<std::int16_t>(std::lrint(std::clamp(decoded[i], -1.0f, 1.0f) * 32767.0f));
    }
    return true;
  };
  if (DecodeSound(file, rate, channels, take, errorText)) return true;
  if (stop) return false;
  errorText = "the joined sound " + file + " cannot be decoded: " + errorText;
  return false;
}

void audio_callback(void* userdata, Uint8* stream, int len);

}  // namespace

// The device and what its callback reads. The loader is declared first so that it goes last:
// the device closes (and its callback stops) before SDL could go.
struct LiveShow::Audio {
  TSDLLoader Loader;
  SDLFunctions Sdl;
  AudioOutput Output;

  std::mutex Lock;
  const std::vector<std::int16_t>* Samples = nullptr;
  bool Running = false;
  // The sample the device takes next, counted past the sound's end as silence so the clock runs on.
  std::int64_t Cursor = 0;
  // Where the last buffer handed to the device started, how long it was, and when.
  std::int64_t LastStart = 0;
  int LastLength = 0;
  Clock::time_point LastTime;
  bool Fed = false;

  // The sample playing at now: the last buffer's start plus the time since, never past its end.
  double PlayingSample(Clock::time_point now) const {
    if (!Fed) return static_cast<double>(Cursor);
    const double elapsed = std::max(0.0, seconds_between(LastTime, now)) * Output.SampleRate;
    return static_cast<double>(LastStart) + std::min(elapsed, static_cast<double>(LastLength));
  }
};

namespace {

void audio_callback(void* userdata, Uint8* stream, int len) {
  auto& audio = *static_cast<LiveShow::Audio*>(userdata);
  std::lock_guard<std::mutex> guard(audio.Lock);
  const int channels = std::max(audio.Output.Channels, 1);
  const int frames = len / (2 * channels);
  if (!audio.Running || audio.Samples == nullptr) {
    std::memset(stream, 0, static_cast<std::size_t>(len));
    return;
  }
  const std::int64_t available = static_cast<std::int64_t>(audio.Samples->size()) / channels;
  const std::int64_t from = std::clamp<std::int64_t>(audio.Cursor, 0, available);
  const std::int64_t copied = std::min<std::int64_t>(frames, available - from);
  std::memset(stream, 0, static_cast<std::size_t>(len));
  if (copied > 0) {
    std::memcpy(stream, audio.Samples->data() + from * channels, static_cast<std::size_t>(copied) * channels * 2);
  }
  audio.LastStart = audio.Cursor;
  audio.LastLength = frames;
  audio.LastTime = Clock::now();
  audio.Fed = true;
  audio.Cursor += frames;
}

}  // namespace

std::int64_t LiveShowFrameCount(const RunRequest& request, const ShowPacing& pacing) {
  // Under fade and loop any usable track makes sound that ends with the show, and a run then
  // plays to the show's end whatever the break says.
  const bool soundEndsWithShow = !request.Tracks.empty() && request.MusicEndRule != MusicEnd::Cut;
  const bool breaks = request.BreakWhenNoPictures && !soundEndsWithShow;
  // Every picture's own hold and transitions, as the run counts them.
  return RunFrameCount(pacing.Timing, breaks);
}

double FrameSeconds(std::int64_t frame, const FrameRateParts& rate) {
  return static_cast<double>(frame) / frames_per_second(rate);
}

std::int64_t FrameAtSeconds(double seconds, const FrameRateParts& rate) {
  // The small allowance keeps a time computed from a frame's own start on that frame.
  return static_cast<std::int64_t>(std::floor(seconds * frames_per_second(rate) + 1e-6));
}

std::string PositionText(double seconds) {
  const long long tenths = seconds > 0 ? static_cast<long long>(std::floor(seconds * 10 + 1e-6)) : 0;
  char text[32];
  std::snprintf(text, sizeof text, "%02lld:%02lld.%lld", tenths / 600, (tenths / 10) % 60, tenths % 10);
  return text;
}

bool SeekSequencer(std::unique_ptr<FrameSequencer>& sequencer, std::int64_t& position, std::int64_t frame,
                   const std::function<std::unique_ptr<FrameSequencer>()>& make, Bitmap& scratch,
                   std::string& errorText) {
  // Reading on past a frame or two costs less than a seek's decoding of the photos it lands on.
  constexpr std::int64_t ReadOnFrames = 2;
  frame = std::max<std::int64_t>(frame, 0);
  try {
    if (!sequencer) {
      sequencer = make();
      position = 0;
    }
    if (frame > position && frame - position <= ReadOnFrames) {
      while (position < frame) {
        if (sequencer->ReadFrameCanvas(scratch) != 0) break;
        ++position;
      }
      // Read past the end: a seek puts the sequencer where the frame asked for stands.
      if (position == frame) return true;
    }
    if (position != frame) {
      sequencer->SeekFrame(frame);
      position = frame;
    }
    return true;
  } catch (const PhotoLoadError& error) {
    errorText = error.what();
    // Where a failed seek or read left the sequencer is not known: the next move starts afresh.
    sequencer.reset();
    return false;
  }
}

LiveShow::LiveShow() = default;

LiveShow::~LiveShow() { Close(); }

std::unique_ptr<FrameSequencer> LiveShow::MakeSequencer(const ShowTiming& timing, std::int64_t frameCount) const {
  auto sequencer = std::make_unique<FrameSequencer>();
  const std::vector<std::string>* photos = &request_.Photos;
  sequencer->Photos = [photos]() -> const std::vector<std::string>& { return *photos; };
  const bool breaks = frameCount < timing.FrameCount();
  sequencer->BreakWhenNoPictures = [breaks] { return breaks; };
  PrepareSequencer(request_, *sequencer, timing);
  return sequencer;
}

bool LiveShow::Open(const RunRequest& request, std::int64_t startFrame, std::string& errorText) {
  Close();
  if (request.Photos.empty()) {
    errorText = "The show has no photos.";
    return false;
  }
  if (!FrameSizeInRange(VideoSize{request.Width, request.Height})) {
    errorText = InvalidFrameSizeText(std::to_string(request.Width) + "x" + std::to_string(request.Height));
    return false;
  }
  request_ = request;
  // The title card is a picture of the show as in the run, or the timing (which counts it) and the
  // pictures would disagree and the show would end a picture early.
  if (HasTitleCard(request)) {
    if (!MakeTitleCard(request, titleCard_, errorText)) return false;
    request_ = WithTitleCard(request, titleCard_.Path());
  }
  // Without a seed every start of the sequencer draws its own order, moves and transition details,
  // and a seek back would show another show than the one a person left.
  if (!request_.Seed) {
    request_.Seed = static_cast<std::uint32_t>(Clock::now().time_since_epoch().count());
  }
  FrameSequencer probe;
  pacing_ = PrepareSequencer(request_, probe);
  frameCount_ = LiveShowFrameCount(request_, pacing_);
  timing_ = pacing_.Timing;
  ++timingGeneration_;
  beatSyncText_.clear();

  stop_ = false;
  stopSound_ = false;
  playing_ = false;
  anchorFrame_ = static_cast<double>(std::clamp<std::int64_t>(startFrame, 0, frameCount_ - 1));
  anchorTime_ = Clock::now();
  ready_.clear();
  pool_.clear();
  shown_ = Frame{};
  renderError_.clear();
  firstFrameSeconds_ = -1;
  awaitingFirst_ = false;
  clockHeld_ = false;
  framesShown_ = 0;
  framesDropped_ = 0;
  soundError_.clear();
  pcm_.clear();
  soundRate_ = 0;
  soundChannels_ = 0;
  soundLeads_ = false;
  soundState_ = request_.Tracks.empty() ? SoundState::None : SoundState::Preparing;
  open_ = true;
  renderer_ = std::thread([this] { RenderLoop(); });
  if (!request_.Tracks.empty()) soundWorker_ = std::thread([this, copy = request_] { PrepareSound(copy); });
  return true;
}

void LiveShow::StopWorkers() {
  {
    std::lock_guard<std::mutex> guard(lock_);
    stop_ = true;
  }
  stopSound_ = true;
  wake_.notify_all();
  if (renderer_.joinable()) renderer_.join();
  if (soundWorker_.joinable()) soundWorker_.join();
}

void LiveShow::Close() {
  StopWorkers();
  titleCard_.Discard();
  std::lock_guard<std::mutex> guard(lock_);
  // The device closes (waiting for its callback to end) before the samples it reads go.
  audio_.reset();
  ready_.clear();
  shown_ = Frame{};
  playing_ = false;
  soundLeads_ = false;
  open_ = false;
}

double LiveShow::ClockFrameLocked(Clock::time_point now) const {
  if (!playing_) return anchorFrame_;
  // On the steady clock the show waits for the frame it starts from: a clock that ran while that
  // frame was still being drawn would have the next frames skipped the moment playing began.
  if (clockHeld_ && !soundLeads_) return anchorFrame_;
  const double fps = frames_per_second(pacing_.Rate);
  if (soundLeads_ && audio_) {
    std::lock_guard<std::mutex> guard(audio_->Lock);
    return audio_->PlayingSample(now) / audio_->Output.SampleRate * fps;
  }
  return anchorFrame_ + seconds_between(anchorTime_, now) * fps;
}

void LiveShow::AnchorLocked(double frame) {
  anchorFrame_ = frame;
  anchorTime_ = Clock::now();
  if (soundLeads_ && audio_) {
    std::lock_guard<std::mutex> guard(audio_->Lock);
    audio_->Cursor = std::llround(frame / frames_per_second(pacing_.Rate) * audio_->Output.SampleRate);
    audio_->Fed = false;
  }
}

void LiveShow::StartSoundLocked() {
  if (soundLeads_ || !audio_ || soundState_ != SoundState::Ready) return;
  const double frame = ClockFrameLocked(Clock::now());
  {
    std::lock_guard<std::mutex> guard(audio_->Lock);
    audio_->Cursor = std::llround(frame / frames_per_second(pacing_.Rate) * audio_->Output.SampleRate);
    audio_->Fed = false;
    audio_->Running = true;
  }
  soundLeads_ = true;
  audio_->Sdl.SDL_PauseAudioDevice(audio_->Output.DeviceId(), 0);
}

void LiveShow::StopSoundLocked() {
  if (!soundLeads_ || !audio_) return;
  const double frame = ClockFrameLocked(Clock::now());
  audio_->Sdl.SDL_PauseAudioDevice(audio_->Output.DeviceId(), 1);
  {
    std::lock_guard<std::mutex> guard(audio_->Lock);
    audio_->Running = false;
  }
  soundLeads_ = false;
  anchorFrame_ = frame;
  anchorTime_ = Clock::now();
}

void LiveShow::Play() {
  if (!open_) return;
  {
    std::lock_guard<std::mutex> guard(lock_);
    if (playing_) return;
    // Play at the end starts the show again, as a person pressing it there means.
    if (std::floor(anchorFrame_) >= static_cast<double>(frameCount_ - 1)) anchorFrame_ = 0;
    anchorFrame_ = std::floor(anchorFrame_);
    anchorTime_ = Clock::now();
    playing_ = true;
    playTime_ = anchorTime_;
    playFrame_ = static_cast<std::int64_t>(anchorFrame_);
    dropBase_ = shown_.Index == playFrame_ ? playFrame_ : playFrame_ - 1;
    awaitingFirst_ = true;
    clockHeld_ = shown_.Index != playFrame_ &&
                 std::none_of(ready_.begin(), ready_.end(), [this](const Frame& f) { return f.Index == playFrame_; });
    StartSoundLocked();
  }
  wake_.notify_all();
}

void LiveShow::Pause() {
  {
    std::lock_guard<std::mutex> guard(lock_);
    if (!playing_) return;
    StopSoundLocked();
    const double frame = std::floor(ClockFrameLocked(Clock::now()));
    playing_ = false;
    anchorFrame_ = std::min(frame, static_cast<double>(frameCount_ - 1));
    anchorTime_ = Clock::now();
    awaitingFirst_ = false;
  }
  wake_.notify_all();
}

bool LiveShow::Playing() const {
  std::lock_guard<std::mutex> guard(lock_);
  return playing_;
}

void LiveShow::SeekFrame(std::int64_t frame) {
  if (!open_) return;
  {
    std::lock_guard<std::mutex> guard(lock_);
    const std::int64_t target = std::clamp<std::int64_t>(frame, 0, frameCount_ - 1);
    AnchorLocked(static_cast<double>(target));
    ++seekGeneration_;
    if (playing_) {
      playTime_ = anchorTime_;
      playFrame_ = target;
      dropBase_ = target - 1;
    }
  }
  wake_.notify_all();
}

void LiveShow::StepFrames(std::int64_t frames) {
  Pause();
  std::int64_t at = 0;
  {
    std::lock_guard<std::mutex> guard(lock_);
    at = static_cast<std::int64_t>(anchorFrame_);
  }
  SeekFrame(at + frames);
}

std::int64_t LiveShow::Position() {
  std::lock_guard<std::mutex> guard(lock_);
  double frame = ClockFrameLocked(Clock::now());
  if (playing_ && frame >= static_cast<double>(frameCount_ - 1)) {
    StopSoundLocked();
    playing_ = false;
    anchorFrame_ = static_cast<double>(frameCount_ - 1);
    frame = anchorFrame_;
  }
  return std::clamp<std::int64_t>(static_cast<std::int64_t>(std::floor(frame)), 0, std::max<std::int64_t>(frameCount_ - 1, 0));
}

LiveShow::Frame LiveShow::CurrentFrame() {
  const std::int64_t at = Position();
  std::lock_guard<std::mutex> guard(lock_);
  while (ready_.size() >= 2 && ready_[1].Index <= at) ready_.pop_front();
  if (!ready_.empty() && ready_.front().Index <= at && ready_.front().Index != shown_.Index) {
    const Frame& next = ready_.front();
    // Only frames the clock passed while playing count as dropped; a seek or a step skips on purpose.
    if (playing_ && next.Index > dropBase_ + 1) framesDropped_ += next.Index - dropBase_ - 1;
    if (playing_) dropBase_ = std::max(dropBase_, next.Index);
    shown_ = next;
    ++framesShown_;
    if (awaitingFirst_ && shown_.Index >= playFrame_) FirstFrameShownLocked();
  }
  if (awaitingFirst_ && shown_.Index == playFrame_) FirstFrameShownLocked();
  return shown_;
}

void LiveShow::FirstFrameShownLocked() {
  firstFrameSeconds_ = seconds_between(playTime_, Clock::now());
  awaitingFirst_ = false;
}

bool LiveShow::WaitForCurrentFrame(std::chrono::milliseconds timeout) {
  const auto end = Clock::now() + timeout;
  for (;;) {
    const std::int64_t at = Position();
    if (CurrentFrame().Index == at) return true;
    {
      std::lock_guard<std::mutex> guard(lock_);
      if (!renderError_.empty()) return false;
    }
    if (Clock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

std::string LiveShow::RenderError() const {
  std::lock_guard<std::mutex> guard(lock_);
  return renderError_;
}

double LiveShow::SecondsToFirstFrame() const {
  std::lock_guard<std::mutex> guard(lock_);
  return firstFrameSeconds_;
}

void LiveShow::RenderLoop() {
  std::unique_ptr<FrameSequencer> sequencer;
  std::int64_t next = 0;
  Bitmap scratch(request_.Width, request_.Height, 32);
  ShowTiming timing;
  std::int64_t frameCount = 0;
  const auto make = [&] { return MakeSequencer(timing, frameCount); };
  std::uint64_t generation = 0;
  std::uint64_t timingGeneration = 0;
  std::unique_lock<std::mutex> lock(lock_);
  generation = seekGeneration_;
  while (!stop_) {
    if (!renderError_.empty()) {
      wake_.wait(lock);
      continue;
    }
    if (timingGeneration != timingGeneration_) {
      // Another timing shows other frames at the same numbers: nothing drawn for the old one stays.
      timing = timing_;
      frameCount = frameCount_;
      timingGeneration = timingGeneration_;
      sequencer.reset();
      ready_.clear();
    }
    if (generation != seekGeneration_) {
      ready_.clear();
      generation = seekGeneration_;
    }
    const std::int64_t at = std::clamp<std::int64_t>(static_cast<std::int64_t>(std::floor(ClockFrameLocked(Clock::now()))),
                                                     0, frameCount_ - 1);
    while (ready_.size() >= 2 && ready_[1].Index <= at) ready_.pop_front();
    const std::int64_t lastReady = ready_.empty() ? -1 : ready_.back().Index;
    // Ahead of the clock the frames follow on; behind it the renderer jumps to the clock's frame.
    const std::int64_t want = lastReady >= at ? lastReady + 1 : at;
    if (want >= frameCount_ || want - at >= FramesAhead) {
      if (playing_) {
        wake_.wait_for(lock, std::chrono::milliseconds(4));
      } else {
        wake_.wait(lock);
      }
      continue;
    }
    std::shared_ptr<Bitmap> buffer;
    for (const auto& candidate : pool_) {
      // Held by the pool alone: no queued frame and no face refers to it.
      if (candidate.use_count() == 1) {
        buffer = candidate;
        break;
      }
    }
    if (!buffer) {
      buffer = std::make_shared<Bitmap>(request_.Width, request_.Height, 32);
      pool_.push_back(buffer);
    }
    lock.unlock();

    std::string errorText;
    bool drawn = false;
    if (SeekSequencer(sequencer, next, want, make, scratch, errorText)) {
      try {
        if (next == want && sequencer->ReadFrameCanvas(*buffer) == 0) {
          ++next;
          drawn = true;
        }
      } catch (const PhotoLoadError& error) {
        errorText = error.what();
      }
    }
    lock.lock();
    if (!errorText.empty()) {
      renderError_ = errorText;
    } else if (drawn && generation == seekGeneration_) {
      ready_.push_back(Frame{want, buffer});
      // The frame the held clock stands at is ready: from now on the clock runs.
      if (clockHeld_ && static_cast<double>(want) >= std::floor(anchorFrame_)) {
        clockHeld_ = false;
        anchorTime_ = Clock::now();
      }
    }
    buffer.reset();
    lock.unlock();
    if (drawn && OnFrameReady) OnFrameReady();
    lock.lock();
  }
}

void LiveShow::PrepareSound(RunRequest request) {
  // The folder goes before the sound's state is told, so that nothing of the join is left once
  // the preview says the sound is settled.
  PrivateFolder folder;
  auto fail = [this, &folder](const std::string& text) {
    folder.Remove();
    std::lock_guard<std::mutex> guard(lock_);
    soundError_ = text;
    soundState_ = SoundState::Failed;
  };
  if (folder.Path().empty()) {
    fail("no folder for the joined sound can be made");
    return;
  }
  TFFEncoder encoder;
  TFFDecoder decoder;
  // Nothing here waits for the face's thread: the join is the preview's alone.
  encoder.TriggerEventInMainThread = false;
  decoder.TriggerEventInMainThread = false;
  if (!encoder.LoadLibraries(TFFLoader::DefaultLibraryPath()) ||
      !decoder.LoadLibraries(TFFLoader::DefaultLibraryPath())) {
    fail(encoder.LastErrorText.empty() ? decoder.LastErrorText : encoder.LastErrorText);
    return;
  }
  std::mutex failureLock;
  std::string failure;
  encoder.OnTerminate = [&](TCustomEncoder*, const TTerminateInfo& info) {
    if (!TaskFailed(info)) return;
    std::lock_guard<std::mutex> guard(failureLock);
    if (failure.empty()) failure = TaskFailureText(info);
  };
  // The run's own join for a pacing: the joined file, or empty when there is none (the reason, if
  // any, already told; a preview being closed gives nothing either).
  bool noSound = false;
  const auto join_at = [&](const ShowPacing& pacing) -> std::string {
    AudioJoinRequest join = SoundJoinRequest(request, pacing);
    join.OutputFolder = folder.Path();
    std::string joinError;
    const std::string joined = AudioJoiner(encoder, decoder, join, nullptr, joinError);
    if (!joinError.empty()) {
      fail(joinError);
      return {};
    }
    if (joined.empty()) {
      noSound = true;
      return {};
    }
    while (!encoder.AllFinished()) {
      if (stopSound_) {
        encoder.Stop(true);
        encoder.ClearTasks();
        return {};
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    encoder.ClearTasks();
    std::lock_guard<std::mutex> guard(failureLock);
    if (!failure.empty()) {
      fail(JoinFailureText(request.Tracks, failure));
      return {};
    }
    return joined;
  };
  std::string joined = join_at(pacing_);
  if (joined.empty() && noSound) {
    // The tracks are too short for the rule: the video goes without sound, and so does the preview.
    folder.Remove();
    soundState_ = SoundState::None;
    if (request.BeatSync) {
      // As the run says it: there is no beat to follow, and the plan stands.
      ShowBeatFit plan;
      plan.Timing = pacing_.Timing;
      plan.TempoLine = BeatSyncNoMusicText;
      TakeBeatFit(plan);
    }
    return;
  }
  if (joined.empty()) return;
  // Read while the joined file is still there.
  if (request.BeatSync) {
    std::optional<ShowBeatFit> fit = FitToBeats(request, joined, decoder);
    if (stopSound_) return;
    if (fit && fit->Rejoin) {
      // The sound ends with the fitted show, as the run joins it again.
      std::error_code ignored;
      std::filesystem::remove(joined, ignored);
      ShowPacing fitted = pacing_;
      fitted.Timing = fit->Timing;
      joined = join_at(fitted);
      if (joined.empty()) {
        if (noSound) fail("the music could not be joined at the show's length fitted to its beats");
        return;
      }
    }
    if (fit) TakeBeatFit(*fit);
  }
  if (stopSound_) return;

  // SDL keeps per-thread state for any thread that called it; this worker ends here.
  decltype(&::SDL_TLSCleanup) cleanUpThread = nullptr;
  struct ThreadEnd {
    decltype(&::SDL_TLSCleanup)& cleanUp;
    ~ThreadEnd() {
      if (cleanUp != nullptr) cleanUp();
    }
  } threadEnd{cleanUpThread};
  std::unique_ptr<Audio> audio;
  int rate = JoinedSampleRate;
  int channels = 2;
  if (SoundOutput) {
    audio = std::make_unique<Audio>();
    std::lock_guard<std::recursive_mutex> guard(SDLInitLock());
    bool ready = audio->Loader.Load(TFFLoader::DefaultLibraryPath());
    if (ready) {
      audio->Sdl = audio->Loader.Functions();
      cleanUpThread = audio->Sdl.SDL_TLSCleanup;
      const SDLFunctions& sdl = audio->Sdl;
      if (!AudioDriver.empty()) sdl.SDL_SetHintWithPriority(SDL_HINT_AUDIODRIVER, AudioDriver.c_str(), SDL_HINT_OVERRIDE);
      // SDL is left initialised when the preview closes: quitting it would pull it from under
      // any other user in the process, and another preview takes it up again as it is.
      ready = sdl.SDL_WasInit(SDL_INIT_AUDIO) != 0 || sdl.SDL_Init(SDL_INIT_AUDIO) == 0;
    }
    if (ready) {
      AVChannelLayout stereo{};
      lib::av_channel_layout_default(&stereo, 2);
      std::string error, cause;
      ready = OpenAudioOutput(audio->Sdl, JoinedSampleRate, stereo, audio_callback, audio.get(), audio->Output, error,
                              cause);
      lib::av_channel_layout_uninit(&stereo);
    }
    if (ready) {
      rate = audio->Output.SampleRate;
      channels = audio->Output.Channels;
    } else {
      // No device: the show plays silently on the steady clock.
      audio.reset();
    }
  }
  std::vector<std::int16_t> samples;
  std::string decodeError;
  if (!decode_sound(joined, rate, channels, stopSound_, samples, decodeError)) {
    if (!stopSound_) fail(decodeError);
    return;
  }
  folder.Remove();
  {
    std::lock_guard<std::mutex> guard(lock_);
    pcm_ = std::move(samples);
    soundRate_ = rate;
    soundChannels_ = channels;
    if (audio) {
      std::lock_guard<std::mutex> audioGuard(audio->Lock);
      audio->Samples = &pcm_;
    }
    audio_ = std::move(audio);
    soundState_ = SoundState::Ready;
    // Playing already on the steady clock: the sound takes over the clock where it stands.
    if (playing_) StartSoundLocked();
  }
  wake_.notify_all();
}

std::optional<ShowBeatFit> LiveShow::FitToBeats(const RunRequest& request, const std::string& joinedSound,
                                                TFFDecoder& decoder) {
  ShowBeatFit fit;
  std::string errorText;
  // The run's own decision: the preview must cut where the render will.
  if (!FitShowToBeats(request, pacing_, joinedSound, decoder, fit, errorText, [this] { return !stopSound_; })) {
    // An unreadable join is the sound's failure, told when it is decoded; the plan stands.
    return std::nullopt;
  }
  return fit;
}

void LiveShow::TakeBeatFit(const ShowBeatFit& fit) {
  {
    std::lock_guard<std::mutex> guard(lock_);
    beatSyncText_ = fit.Text();
    if (fit.Timing.HoldFrames != timing_.HoldFrames || fit.Timing.TransitionFrames != timing_.TransitionFrames) {
      ShowPacing fittedPacing = pacing_;
      fittedPacing.Timing = fit.Timing;
      timing_ = fit.Timing;
      frameCount_ = LiveShowFrameCount(request_, fittedPacing);
      ++timingGeneration_;
      // A show that got shorter keeps its position within it.
      anchorFrame_ = std::min(anchorFrame_, static_cast<double>(frameCount_ - 1));
    }
  }
  wake_.notify_all();
  if (OnTimingReady) OnTimingReady();
}

std::string LiveShow::BeatSyncText() const {
  std::lock_guard<std::mutex> guard(lock_);
  return beatSyncText_;
}

ShowTiming LiveShow::Timing() const {
  std::lock_guard<std::mutex> guard(lock_);
  return timing_;
}

LiveShow::SoundState LiveShow::Sound() const { return soundState_; }

std::string LiveShow::SoundError() const {
  std::lock_guard<std::mutex> guard(lock_);
  return soundError_;
}

bool LiveShow::WaitForSound(std::chrono::milliseconds timeout) {
  const auto end = Clock::now() + timeout;
  while (soundState_ == SoundState::Preparing) {
    if (Clock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return soundState_ == SoundState::Ready;
}

bool LiveShow::SoundDeviceOpen() const {
  std::lock_guard<std::mutex> guard(lock_);
  return audio_ != nullptr;
}

}  // namespace lumivor
