#include "media/components/ff_player.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <limits>
#include <system_error>
#include <vector>

#include "media/components/player_audio.h"
#include "media/components/player_clock.h"
#include "media/engine/error_text.h"
#include "media/engine/format_converter.h"
#include "media/runtime/ff_load.h"
#include "media/runtime/ff_log.h"
#include "media/runtime/file_names.h"
#include "media/runtime/format_text.h"
#include "media/runtime/main_thread.h"

namespace lumivor {
namespace {

// The player's own SDL events; SDL_QUIT (a window closed by the user) ends playback as well.
constexpr std::uint32_t kQuitEvent = SDL_USEREVENT + 1;
constexpr std::uint32_t kRefreshEvent = SDL_USEREVENT + 2;

// Reading pauses while the queues hold this much, or while every stream has this many packets.
constexpr std::int64_t kMaxQueueBytes = 15 * 1024 * 1024;
constexpr int kMinPackets = 5;
constexpr std::size_t kPictureQueueSize = 3;
constexpr double kRefreshRate = 0.01;
// A picture this late resets the frame timer instead of rushing to catch up.
constexpr double kSyncThresholdMax = 0.1;
constexpr auto kPauseAcknowledgeWait = std::chrono::milliseconds(250);
constexpr int kDefaultWidth = 640;
constexpr int kDefaultHeight = 480;

double NaN() { return std::numeric_limits<double>::quiet_NaN(); }

void Sleep(double seconds) {
  if (seconds > 0) std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
}

const char* AudioDriverName(TAudioDriver driver) {
  switch (driver) {
    case adDirectSound: return "pulseaudio";
    case adWaveOut: return "alsa";
    default: return nullptr;
  }
}

const char* VideoDriverName(TVideoDriver driver) {
  switch (driver) {
    case vdDirectDraw:
    case vdGDI: return "x11";
    default: return nullptr;
  }
}

// Drivers go to SDL as hints, never through the environment: other threads (the libraries', the
// toolkit's) read the environment at any time, and changing it under them is undefined. A choice
// of the player's overrides what the user's SDL_AUDIODRIVER / SDL_VIDEODRIVER say; no choice hands
// SDL back to them.
void ChooseDriver(const SDLFunctions& sdl, const char* hint, const char* chosen) {
  if (chosen != nullptr) {
    sdl.SDL_SetHintWithPriority(hint, chosen, SDL_HINT_OVERRIDE);
  } else {
    sdl.SDL_ResetHint(hint);
  }
}

// How long a window of the player's own goes without its events being fetched while no new
// picture comes (paused, or a slow clip): closing or uncovering it is answered within this.
constexpr double kPumpInterval = 0.05;

// A queue of packets for one decoder; an empty entry asks the decoder to drain.
class PacketQueue {
 public:
  void Put(PacketPtr packet) {
    {
      std::lock_guard<std::mutex> guard(mutex_);
      if (packet) bytes_ += packet->size + static_cast<std::int64_t>(sizeof(AVPacket));
      packets_.push_back(std::move(packet));
    }
    signal_.notify_all();
  }
  // 1: an entry was taken (packet empty = drain), 0: nothing there and not blocking, -1: aborted.
  int Get(PacketPtr& packet, bool block) {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      if (aborted_) return -1;
      if (!packets_.empty()) {
        packet = std::move(packets_.front());
        packets_.pop_front();
        if (packet) bytes_ -= packet->size + static_cast<std::int64_t>(sizeof(AVPacket));
        return 1;
      }
      if (!block) return 0;
      signal_.wait(lock);
    }
  }
  void Abort() {
    {
      std::lock_guard<std::mutex> guard(mutex_);
      aborted_ = true;
    }
    signal_.notify_all();
  }
  int Count() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return static_cast<int>(packets_.size());
  }
  std::int64_t Bytes() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return bytes_;
  }

 private:
  mutable std::mutex mutex_;
  std::condition_variable signal_;
  std::deque<PacketPtr> packets_;
  std::int64_t bytes_ = 0;
  bool aborted_ = false;
};

struct QueuedPicture {
  FramePtr Frame;
  double Pts = 0;
};

// What draws pictures: made, used and freed on the main thread only, since SDL's video (windows,
// renderers, textures, event fetching) belongs to the thread that initialised it. Members go in
// reverse order: the texture before its renderer, the renderer before its window.
struct DisplayObjects {
  SDLWindowPtr OwnWindow;
  SDLRendererPtr Renderer;
  SDLTexturePtr Texture;
  int TextureWidth = 0;
  int TextureHeight = 0;
  bool Failed = false;
  FramePtr Scaled;
  SwsContextPtr Scaler;
  TFormatConverter Converter;
};

}  // namespace

// Everything that lives for one open file.
struct PlayContext {
  explicit PlayContext(TCustomPlayer* player)
      : Player(player), AudioClock(&Paused), VideoClock(&Paused), ExternalClock(&Paused) {}

  TCustomPlayer* Player;
  std::string FileName;
  std::atomic<bool> Paused{false};
  std::atomic<bool> Abort{false};          // reader and decoders leave
  std::atomic<bool> QuitRequested{false};  // the play thread leaves
  InputFormatContextPtr Format;
  int AudioStream = -1;
  int VideoStream = -1;
  CodecContextPtr AudioCodec;
  CodecContextPtr VideoCodec;
  PacketQueue AudioQueue;
  PacketQueue VideoQueue;
  std::mutex PictureMutex;
  std::condition_variable PictureSignal;
  std::deque<QueuedPicture> Pictures;
  PlaybackClock AudioClock;
  PlaybackClock VideoClock;
  PlaybackClock ExternalClock;
  std::int64_t StartTime = 0;  // microseconds
  std::int64_t Duration = -1;  // microseconds, -1 unknown
  int FrameWidth = -1;
  int FrameHeight = -1;
  AVRational FrameRate{0, 1};

  // Sound output: the callback's state.
  bool AudioOpen = false;
  AudioOutput Output;
  SwrContextPtr Resampler;
  AVSampleFormat ResamplerFormat = AV_SAMPLE_FMT_NONE;
  int ResamplerRate = 0;
  AVChannelLayout ResamplerLayout{};
  FramePtr AudioFrame;
  std::vector<std::uint8_t> AudioBuffer;
  int AudioBufferSize = 0;
  int AudioBufferIndex = 0;
  bool AudioBufferIsSound = false;
  double AudioPts = NaN();  // end of the decoded buffer, seconds
  std::atomic<bool> AudioFinished{false};
  std::atomic<bool> AudioPauseAcknowledged{false};

  std::thread VideoThread;
  std::atomic<bool> VideoFinished{false};

  std::thread Reader;
  std::atomic<bool> ReaderDone{false};
  std::atomic<int> OpenState{0};  // 0 opening, 1 open, -1 failed
  std::string OpenError;
  std::atomic<bool> InRead{false};
  std::atomic<bool> ReaderAtEof{false};
  std::atomic<bool> AtEnd{false};
  bool EndReported = false;
  std::int64_t LastPosition = std::numeric_limits<std::int64_t>::min();

  // Picture timing, on the play thread under the player lock. Shown is handed to the main thread
  // to draw while the play thread waits for it, so the two never touch it at once.
  double FrameTimer = 0;
  bool FrameTimerStarted = false;
  double LastPts = NaN();
  double LastDuration = 0;
  double PausedAt = 0;
  bool ForceRefresh = false;
  FramePtr Shown;
  double ShownPts = NaN();
  double LastPump = 0;
  std::unique_ptr<DisplayObjects> Display = std::make_unique<DisplayObjects>();

  ~PlayContext() { lib::av_channel_layout_uninit(&ResamplerLayout); }

  double MasterClock() const { return AudioOpen ? AudioClock.Get() : ExternalClock.Get(); }

  void AbortAll() {
    Abort = true;
    AudioQueue.Abort();
    VideoQueue.Abort();
    {
      std::lock_guard<std::mutex> guard(PictureMutex);
    }
    PictureSignal.notify_all();
  }

  // Stops every thread of the context and the sound output; the memory goes with the object.
  // The threads may be waiting for the main thread (an event, a log line), so a main thread that
  // shuts down serves it until they are done.
  void Shutdown() {
    AbortAll();
    if (Reader.joinable()) {
      WaitServing([this] { return ReaderDone.load(); });
      Reader.join();
    }
    if (VideoThread.joinable()) {
      WaitServing([this] { return VideoFinished.load(); });
      VideoThread.join();
    }
    // The callback reads the context: the device closes (and the callback ends) before any of it
    // goes away.
    Output.Device.reset();
    AudioOpen = false;
  }
};

// The bodies of the context's threads and the sound callback.
struct PlayerThreads {
  static int Interrupt(void* opaque) {
    const auto* context = static_cast<const PlayContext*>(opaque);
    return context->Abort.load() ? 1 : 0;
  }

  static bool OpenDecoder(PlayContext& context, int streamIndex, CodecContextPtr& codec) {
    const AVStream* stream = context.Format->streams[streamIndex];
    const AVCodec* decoder = lib::avcodec_find_decoder(stream->codecpar->codec_id);
    if (decoder == nullptr) {
      context.OpenError =
          FormatText("No codec could be found with name \"%s\"", lib::avcodec_get_name(stream->codecpar->codec_id));
      return false;
    }
    // Each failure names the file, the decoder and the library's reason: "failed" alone leaves
    // nothing to act on.
    auto fail = [&](int code) {
      context.OpenError = FormatText("%s: avcodec_open2() failed for the %s decoder: %s", context.FileName.c_str(),
                                     decoder->name, ErrorText(code).c_str());
      return false;
    };
    codec.reset(lib::avcodec_alloc_context3(decoder));
    if (!codec) return fail(AVERROR(ENOMEM));
    if (const int copied = lib::avcodec_parameters_to_context(codec.get(), stream->codecpar); copied < 0) {
      return fail(copied);
    }
    codec->pkt_timebase = stream->time_base;
    if (const int opened = lib::avcodec_open2(codec.get(), decoder, nullptr); opened < 0) return fail(opened);
    return true;
  }

  static bool OpenFile(TCustomPlayer& player, PlayContext& context) {
    AVFormatContext* raw = lib::avformat_alloc_context();
    if (raw == nullptr) {
      context.OpenError = "av_mallocz() failed.";
      return false;
    }
    raw->interrupt_callback.callback = Interrupt;
    raw->interrupt_callback.opaque = &context;
    const std::string libraryName = ToLibraryFileName(context.FileName);
    // On failure the library frees the context it was given.
    const int opened = lib::avformat_open_input(&raw, libraryName.c_str(), nullptr, nullptr);
    if (opened < 0) {
      context.OpenError = ErrorText(context.FileName, opened);
      return false;
    }
    context.Format.reset(raw);
    if (player.OnBeforeFindStreamInfo) {
      auto call = [&player, raw] { player.OnBeforeFindStreamInfo(&player, raw); };
      RaiseComponentEvent(player.TriggerEventInMainThread, call);
    }
    if (lib::avformat_find_stream_info(raw, nullptr) < 0) {
      context.OpenError = FormatText("%s: could not find codec parameters", context.FileName.c_str());
      return false;
    }
    context.StartTime = raw->start_time != AV_NOPTS_VALUE ? raw->start_time : 0;
    context.Duration = raw->duration != AV_NOPTS_VALUE && raw->duration > 0 ? raw->duration : -1;

    int video = -1;
    if (!player.DisableVideo) {
      for (unsigned i = 0; i < raw->nb_streams; ++i) {
        // A cover picture is not a video to play.
        if (raw->streams[i]->disposition & AV_DISPOSITION_ATTACHED_PIC) raw->streams[i]->discard = AVDISCARD_ALL;
      }
      video = lib::av_find_best_stream(raw, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
      if (video >= 0 && (raw->streams[video]->disposition & AV_DISPOSITION_ATTACHED_PIC)) video = -1;
    }
    const int audio =
        player.DisableAudio ? -1 : lib::av_find_best_stream(raw, AVMEDIA_TYPE_AUDIO, -1, video, nullptr, 0);
    for (unsigned i = 0; i < raw->nb_streams; ++i) {
      if (static_cast<int>(i) != audio && static_cast<int>(i) != video) raw->streams[i]->discard = AVDISCARD_ALL;
    }

    if (video >= 0) {
      if (!OpenDecoder(context, video, context.VideoCodec)) return false;
      context.VideoStream = video;
      context.FrameWidth = context.VideoCodec->width;
      context.FrameHeight = context.VideoCodec->height;
      context.FrameRate = lib::av_guess_frame_rate(raw, raw->streams[video], nullptr);
    }
    std::string soundCause;
    if (audio >= 0) {
      if (!OpenDecoder(context, audio, context.AudioCodec)) return false;
      context.AudioFrame.reset(lib::av_frame_alloc());
      std::string error;
      if (OpenAudioOutput(player.sdl_, context.AudioCodec->sample_rate, context.AudioCodec->ch_layout, AudioCallback,
                          &context, context.Output, error, soundCause)) {
        context.AudioOpen = true;
        context.AudioStream = audio;
      } else {
        // The file still plays, without sound.
        DefaultLogger().Log(&player, llError, error);
        context.AudioCodec.reset();
      }
    }
    if (context.AudioStream < 0 && context.VideoStream < 0) {
      // Sound that could not be played is the reason, in SDL's words ("no such device", "cannot
      // connect to the sound server"); a person can do something about that, and nothing about
      // "no stream".
      context.OpenError =
          soundCause.empty()
              ? FormatText("%s: could not open codecs, no stream to play.", context.FileName.c_str())
              : FormatText("%s: cannot play the sound: %s", context.FileName.c_str(), soundCause.c_str());
      return false;
    }
    if (context.VideoStream >= 0) context.VideoThread = std::thread(VideoRun, &context);
    if (context.AudioOpen) player.sdl_.SDL_PauseAudioDevice(context.Output.DeviceId(), 0);
    return true;
  }

  static void ReaderRun(TCustomPlayer* player, PlayContext* context) {
    Read(player, context);
    // SDL keeps its error text per thread and frees it only for threads of its own making.
    player->sdl_.SDL_TLSCleanup();
    context->ReaderDone = true;
    WakeMainThread();
  }

  static void Read(TCustomPlayer* player, PlayContext* context) {
    bool opened = false;
    try {
      opened = OpenFile(*player, *context);
    } catch (const std::exception& e) {
      context->OpenError = e.what();
    }
    if (!opened) {
      context->OpenState = -1;
      WakeMainThread();
      return;
    }
    context->OpenState = 1;
    WakeMainThread();

    PacketPtr packet(lib::av_packet_alloc());
    bool readPaused = false;
    while (!context->Abort) {
      if (context->Paused != readPaused) {
        readPaused = context->Paused;
        if (readPaused) {
          lib::av_read_pause(context->Format.get());
        } else {
          lib::av_read_play(context->Format.get());
        }
      }
      if (context->ReaderAtEof) {
        CheckEnd(*context);
        Sleep(kRefreshRate);
        continue;
      }
      const bool audioFull = context->AudioStream < 0 || context->AudioQueue.Count() > kMinPackets;
      const bool videoFull = context->VideoStream < 0 || context->VideoQueue.Count() > kMinPackets;
      if (context->AudioQueue.Bytes() + context->VideoQueue.Bytes() > kMaxQueueBytes || (audioFull && videoFull)) {
        Sleep(kRefreshRate);
        continue;
      }
      context->InRead = true;
      const int read = lib::av_read_frame(context->Format.get(), packet.get());
      context->InRead = false;
      if (read == AVERROR(EAGAIN)) {
        Sleep(kRefreshRate);
        continue;
      }
      if (read < 0) {
        // End of file (or a read error, which ends the file as well): let the decoders drain.
        if (context->VideoStream >= 0) context->VideoQueue.Put(PacketPtr());
        if (context->AudioStream >= 0) context->AudioQueue.Put(PacketPtr());
        DefaultLogger().LogFmt(player, llInfo, "reach end of file: %s", context->FileName.c_str());
        context->ReaderAtEof = true;
        continue;
      }
      PacketQueue* queue = packet->stream_index == context->AudioStream   ? &context->AudioQueue
                           : packet->stream_index == context->VideoStream ? &context->VideoQueue
                                                                          : nullptr;
      if (queue != nullptr) {
        PacketPtr queued(lib::av_packet_alloc());
        lib::av_packet_move_ref(queued.get(), packet.get());
        queue->Put(std::move(queued));
      } else {
        lib::av_packet_unref(packet.get());
      }
    }
  }

  static void CheckEnd(PlayContext& context) {
    if (context.AudioStream >= 0 && (!context.AudioFinished || context.AudioQueue.Count() > 0)) return;
    if (context.VideoStream >= 0) {
      if (!context.VideoFinished || context.VideoQueue.Count() > 0) return;
      std::lock_guard<std::mutex> guard(context.PictureMutex);
      if (!context.Pictures.empty()) return;
    }
    context.AtEnd = true;
  }

  static void VideoRun(PlayContext* context) {
    TCustomPlayer& player = *context->Player;
    FramePtr frame(lib::av_frame_alloc());
    const AVRational timeBase = context->Format->streams[context->VideoStream]->time_base;
    AVCodecContext* codec = context->VideoCodec.get();
    while (!context->Abort) {
      const int received = lib::avcodec_receive_frame(codec, frame.get());
      if (received == AVERROR_EOF) break;
      if (received == AVERROR(EAGAIN)) {
        PacketPtr packet;
        if (context->VideoQueue.Get(packet, true) < 0) break;
        const int sent = lib::avcodec_send_packet(codec, packet.get());
        if (sent < 0 && sent != AVERROR(EAGAIN) && sent != AVERROR_EOF) {
          DefaultLogger().Log(&player, llWarning, ErrorText("video decoding", sent));
        }
        continue;
      }
      if (received < 0) {
        DefaultLogger().Log(&player, llError, ErrorText("video decoding", received));
        break;
      }
      const std::int64_t ts = frame->best_effort_timestamp;
      const double pts = ts == AV_NOPTS_VALUE ? NaN() : static_cast<double>(ts) * av_q2d(timeBase);
      if (player.FrameHook && player.OnFrameHook) {
        try {
          const std::int64_t us =
              std::isnan(pts) ? AV_NOPTS_VALUE : static_cast<std::int64_t>(pts * AV_TIME_BASE) - context->StartTime;
          player.OnFrameHook(&player, frame.get(), static_cast<AVPixelFormat>(frame->format), frame->width,
                             frame->height, us);
        } catch (const std::exception& e) {
          DefaultLogger().Log(&player, llError, std::string("Error occurs OnFrameHook: ") + e.what());
        }
      }
      QueuedPicture picture;
      picture.Frame.reset(lib::av_frame_alloc());
      lib::av_frame_move_ref(picture.Frame.get(), frame.get());
      picture.Pts = pts;
      std::unique_lock<std::mutex> lock(context->PictureMutex);
      context->PictureSignal.wait(lock, [&] { return context->Abort || context->Pictures.size() < kPictureQueueSize; });
      if (context->Abort) break;
      context->Pictures.push_back(std::move(picture));
    }
    context->VideoFinished = true;
    WakeMainThread();
  }

  // Decodes the next buffer of sound in the device's format; its size, or -1 when there is none.
  static int DecodeAudio(PlayContext& context) {
    AVCodecContext* codec = context.AudioCodec.get();
    AVFrame* frame = context.AudioFrame.get();
    for (;;) {
      const int received = lib::avcodec_receive_frame(codec, frame);
      if (received == AVERROR_EOF) {
        context.AudioFinished = true;
        return -1;
      }
      if (received == AVERROR(EAGAIN)) {
        PacketPtr packet;
        if (context.AudioQueue.Get(packet, false) <= 0) return -1;
        lib::avcodec_send_packet(codec, packet.get());
        continue;
      }
      if (received < 0) return -1;
      const int size = ConvertAudio(context, frame);
      const AVRational timeBase = context.Format->streams[context.AudioStream]->time_base;
      const double duration = static_cast<double>(frame->nb_samples) / frame->sample_rate;
      if (frame->pts != AV_NOPTS_VALUE) {
        context.AudioPts = static_cast<double>(frame->pts) * av_q2d(timeBase) + duration;
      } else if (!std::isnan(context.AudioPts)) {
        context.AudioPts += duration;
      }
      lib::av_frame_unref(frame);
      if (size >= 0) return size;
    }
  }

  static int ConvertAudio(PlayContext& context, const AVFrame* frame) {
    const AudioOutput& out = context.Output;
    const auto format = static_cast<AVSampleFormat>(frame->format);
    const bool same = format == AV_SAMPLE_FMT_S16 && frame->sample_rate == out.SampleRate &&
                      lib::av_channel_layout_compare(&frame->ch_layout, &out.Layout) == 0;
    if (same) {
      const int size = frame->nb_samples * out.Channels * 2;
      context.AudioBuffer.assign(frame->data[0], frame->data[0] + size);
      return size;
    }
    if (!context.Resampler || format != context.ResamplerFormat || frame->sample_rate != context.ResamplerRate ||
        lib::av_channel_layout_compare(&frame->ch_layout, &context.ResamplerLayout) != 0) {
      SwrContext* raw = nullptr;
      if (lib::swr_alloc_set_opts2(&raw, const_cast<AVChannelLayout*>(&out.Layout), AV_SAMPLE_FMT_S16, out.SampleRate,
                                   const_cast<AVChannelLayout*>(&frame->ch_layout), format,
                                   frame->sample_rate, 0, nullptr) < 0 ||
          lib::swr_init(raw) < 0) {
        lib::swr_free(&raw);
        context.Resampler.reset();
        DefaultLogger().Log(context.Player, llError, "Cannot create sample rate converter for conversion.");
        return -1;
      }
      context.Resampler.reset(raw);
      context.ResamplerFormat = format;
      context.ResamplerRate = frame->sample_rate;
      lib::av_channel_layout_uninit(&context.ResamplerLayout);
      lib::av_channel_layout_copy(&context.ResamplerLayout, &frame->ch_layout);
    }
    const int capacity =
        static_cast<int>(static_cast<std::int64_t>(frame->nb_samples) * out.SampleRate / frame->sample_rate + 256);
    context.AudioBuffer.resize(static_cast<std::size_t>(capacity) * out.Channels * 2);
    std::uint8_t* target = context.AudioBuffer.data();
    const int converted = lib::swr_convert(context.Resampler.get(), &target, capacity,
                                           const_cast<const std::uint8_t**>(frame->extended_data), frame->nb_samples);
    if (converted < 0) return -1;
    return converted * out.Channels * 2;
  }

  static void AudioCallback(void* userdata, Uint8* stream, int len) {
    auto& context = *static_cast<PlayContext*>(userdata);
    TCustomPlayer& player = *context.Player;
    const double callbackTime = PlayerTime();
    if (context.Paused || context.Abort) {
      context.AudioPauseAcknowledged = context.Paused.load();
      std::memset(stream, 0, static_cast<std::size_t>(len));
      return;
    }
    context.AudioPauseAcknowledged = false;
    const int frameBytes = context.Output.Channels * 2;
    bool decoded = context.AudioBufferIndex < context.AudioBufferSize && context.AudioBufferIsSound;
    while (len > 0) {
      if (context.AudioBufferIndex >= context.AudioBufferSize) {
        const int size = DecodeAudio(context);
        context.AudioBufferIsSound = size >= 0;
        if (size < 0) {
          // Nothing decoded (yet): a short stretch of silence, whole sample frames only.
          context.AudioBufferSize = 1024 / frameBytes * frameBytes;
          context.AudioBuffer.assign(static_cast<std::size_t>(context.AudioBufferSize), 0);
        } else {
          decoded = true;
          context.AudioBufferSize = size;
          if (player.AudioHook && player.OnAudioHook) {
            const double start = context.AudioPts - static_cast<double>(size) / context.Output.BytesPerSecond();
            player.OnAudioHook(&player, static_cast<std::int64_t>(start * AV_TIME_BASE) - context.StartTime,
                               context.AudioBuffer.data(), size, context.Output.SampleRate, context.Output.Channels);
          }
        }
        context.AudioBufferIndex = 0;
      }
      const int count = std::min(len, context.AudioBufferSize - context.AudioBufferIndex);
      WriteAudio(player.sdl_, stream, context.AudioBuffer.data() + context.AudioBufferIndex, count, player.Mute,
                 player.AudioVolume);
      len -= count;
      stream += count;
      context.AudioBufferIndex += count;
    }
    // Silence in place of sound (the end, or decoding falling behind) says nothing new about the
    // time: the clock runs on from its last setting.
    if (decoded && !std::isnan(context.AudioPts)) {
      const double pending = 2.0 * context.Output.BufferSize + (context.AudioBufferSize - context.AudioBufferIndex);
      context.AudioClock.Set(context.AudioPts - pending / context.Output.BytesPerSecond(), callbackTime);
      context.ExternalClock.Follow(context.AudioClock);
    }
  }
};

// ------------------------------------------------------------------ TCustomPlayer

TCustomPlayer::TCustomPlayer() = default;

TCustomPlayer::~TCustomPlayer() {
  Stop(true);
  events_.Clear();
  EndEventThread();
  JoinPlayThread();
  ClosePlayContext();
}

void TCustomPlayer::SetError(const std::string& text) {
  LastErrorText = text;
  DefaultLogger().Log(this, llError, text);
}

void TCustomPlayer::SetAspectRatio(float value) {
  if (aspectRatio_.exchange(value) != value) PushSDLEvent(kRefreshEvent);
}

bool TCustomPlayer::SDLLoaded() const { return sdlLoader_.Loaded(); }

bool TCustomPlayer::LibrariesLoaded() const {
  return TFFLoader::Instance().AllLoaded(PlayerLibraries) && (!withSDL_ || SDLLoaded());
}

bool TCustomPlayer::LoadLibraries(const std::string& folder, bool withSDL) {
  TFFLoader& loader = TFFLoader::Instance();
  loader.SetLibraryPath(folder);
  if (!loader.Load(PlayerLibraries)) {
    LastErrorText = loader.LastError();
    return false;
  }
  options_.clear();
  withSDL_ = withSDL;
  if (!withSDL) return true;
  if (!sdlLoader_.Load(folder)) {
    LastErrorText = sdlLoader_.LastError();
    return false;
  }
  sdl_ = sdlLoader_.Functions();
  return true;
}

void TCustomPlayer::SetOption(const std::string& key, const std::string& value) { options_[key] = value; }

bool TCustomPlayer::ScreenClientSize(std::uintptr_t, int& width, int& height) {
  if (!screenWindow_) return false;
  sdl_.SDL_GetWindowSize(screenWindow_.get(), &width, &height);
  return true;
}

void TCustomPlayer::SetPlayerState(TPlayState state) {
  state_ = state;
  if (OnState) {
    events_.Post(peState, state);
  } else if (state == psStop) {
    events_.Post(peQuit, 0);
  }
}

void TCustomPlayer::PushSDLEvent(std::uint32_t type) {
  if (sdl_.SDL_PushEvent == nullptr) return;
  std::lock_guard<std::recursive_mutex> guard(SDLInitLock());
  if (sdl_.SDL_WasInit(SDL_INIT_EVENTS) == 0) return;
  SDL_Event event{};
  event.type = type;
  sdl_.SDL_PushEvent(&event);
}

void TCustomPlayer::Refresh() { PushSDLEvent(kRefreshEvent); }

bool TCustomPlayer::InitSDL(std::uintptr_t screenHandle) {
  std::lock_guard<std::recursive_mutex> guard(SDLInitLock());
  screenWindow_.reset();
  sdl_.SDL_Quit();
  ChooseDriver(sdl_, SDL_HINT_AUDIODRIVER, AudioDriverName(AudioDriver));
  ChooseDriver(sdl_, SDL_HINT_VIDEODRIVER, DisableDisplay ? "dummy" : VideoDriverName(VideoDriver));
  Uint32 flags = SDL_INIT_VIDEO | SDL_INIT_TIMER;
  if (!DisableAudio) flags |= SDL_INIT_AUDIO;
  bool ok = sdl_.SDL_Init(flags) == 0;
  if (ok && screenHandle != 0 && !DisableDisplay) {
    screenWindow_ = OwnSDLWindow(sdl_, sdl_.SDL_CreateWindowFrom(reinterpret_cast<const void*>(screenHandle)));
    ok = screenWindow_ != nullptr;
  }
  if (!ok) {
    SetError(FormatText("Could not initialize SDL with ScreenHandle(%u): %s", static_cast<unsigned>(screenHandle),
                        sdl_.SDL_GetError()));
    sdl_.SDL_Quit();
    return false;
  }
  if (const char* name = sdl_.SDL_GetCurrentAudioDriver()) {
    DefaultLogger().LogFmt(this, llDebug, "using audio driver: %s", name);
  }
  if (const char* name = sdl_.SDL_GetCurrentVideoDriver()) {
    DefaultLogger().LogFmt(this, llDebug, "using video driver: %s", name);
  }
  sdl_.SDL_EventState(SDL_SYSWMEVENT, SDL_IGNORE);
  sdl_.SDL_EventState(SDL_MOUSEMOTION, SDL_IGNORE);
  return true;
}

bool TCustomPlayer::Open(const std::string& fileName, std::uintptr_t screenHandle, bool startPaused) {
  if (!TFFLoader::Instance().AllLoaded(PlayerLibraries)) {
    SetError("LibAV not loaded.");
    return false;
  }
  if (!SDLLoaded()) {
    SetError("SDL not loaded.");
    return false;
  }
  swsFlags_ = 4;
  if (auto it = options_.find("sws_flags"); it != options_.end()) {
    SwsContextPtr scaler(lib::sws_alloc_context());
    std::int64_t flags = 0;
    if (scaler && lib::av_opt_set(scaler.get(), "sws_flags", it->second.c_str(), 0) >= 0 &&
        lib::av_opt_get_int(scaler.get(), "sws_flags", 0, &flags) >= 0) {
      swsFlags_ = static_cast<int>(flags);
    }
  }
  auto options = std::move(options_);
  Stop(true);
  options_ = std::move(options);
  EndEventThread();
  events_.Clear();
  JoinPlayThread();
  if (IsMainThread()) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ServeSynchronizedCalls();
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  options_.clear();

  // SDL's video is initialised on the main thread, where its windows are made, fed events and
  // destroyed; the SDLInitLock is taken there, never held while waiting for the main thread.
  bool initialised = false;
  RunInMainThread([&] { initialised = InitSDL(screenHandle); });
  if (!initialised) return false;
  if (DisableDisplay) DisableVideo = true;

  if (!OpenPlayContext(fileName, startPaused)) {
    RunInMainThread([this] { QuitSDL(); });
    return false;
  }
  fileName_ = fileName;
  screenHandle_ = screenHandle;
  std::shared_ptr<PlayContext> context = context_;
  decoder_.AttachContext(context->Format.get());
  positions_.Reset();

  if (OnFileOpen) {
    int width = ScreenWidth;
    int height = ScreenHeight;
    auto call = [&] { OnFileOpen(this, context->Duration, context->FrameWidth, context->FrameHeight, width, height); };
    RaiseComponentEvent(TriggerEventInMainThread, call);
    ScreenWidth = width;
    ScreenHeight = height;
  }
  if (screenHandle != 0 && (ScreenWidth == 0 || ScreenHeight == 0)) {
    int width = 0;
    int height = 0;
    if (ScreenClientSize(screenHandle, width, height)) {
      ScreenWidth = width;
      ScreenHeight = height;
    }
  }

  StartEventThread();
  {
    std::lock_guard<std::mutex> guard(stoppedMutex_);
    stopped_ = false;
  }
  playThreadStarted_ = false;
  try {
    playThread_ = std::thread(&TCustomPlayer::PlayThreadRun, this, context);
  } catch (const std::system_error& e) {
    {
      std::lock_guard<std::mutex> guard(stoppedMutex_);
      stopped_ = true;
    }
    SetError(e.what());
    ClosePlayContext();
    return false;
  }
  WaitServing([this] { return playThreadStarted_.load(); });
  return true;
}

bool TCustomPlayer::OpenPlayContext(const std::string& fileName, bool startPaused) {
  std::unique_ptr<PlayContext> context;
  try {
    context = std::make_unique<PlayContext>(this);
  } catch (const std::bad_alloc&) {
    SetError("av_mallocz() failed.");
    return false;
  }
  context->Paused = startPaused;
  context->FileName = fileName.substr(0, 1024);
  openAbort_ = false;
  try {
    context->Reader = std::thread(&PlayerThreads::ReaderRun, this, context.get());
  } catch (const std::system_error&) {
    SetError("SDL_CreateThread() failed.");
    return false;
  }
  WaitServing([&] { return context->OpenState.load() != 0 || openAbort_.load(); });
  if (context->OpenState.load() <= 0) {
    // Opening failed or was called off: wait for the reader, then let everything go.
    context->Shutdown();
    SetError(context->OpenState.load() < 0 ? context->OpenError : std::string("Open aborted."));
    return false;
  }
  std::lock_guard<std::mutex> guard(contextMutex_);
  context_ = std::move(context);
  return true;
}

void TCustomPlayer::ClosePlayContext() {
  std::shared_ptr<PlayContext> context;
  {
    std::lock_guard<std::mutex> guard(contextMutex_);
    context = std::move(context_);
  }
  if (!context) return;
  decoder_.CloseFile();
  context->Shutdown();
  RunInMainThread([this, &context] {
    context->Display.reset();
    QuitSDL();
  });
  context.reset();
  positions_.Reset();
  LibraryLog(AV_LOG_QUIET, "\n");
}

void TCustomPlayer::QuitSDL() {
  std::lock_guard<std::recursive_mutex> guard(SDLInitLock());
  screenWindow_.reset();
  sdl_.SDL_Quit();
}

void TCustomPlayer::JoinPlayThread() {
  if (!playThread_.joinable()) return;
  WaitServing([this] {
    std::lock_guard<std::mutex> guard(stoppedMutex_);
    return stopped_;
  });
  playThread_.join();
}

void TCustomPlayer::Stop(bool wait) {
  PlayContext* context = nullptr;
  {
    std::lock_guard<std::mutex> guard(contextMutex_);
    context = context_.get();
    if (context != nullptr) {
      context->Paused = false;
      context->QuitRequested = true;
    } else {
      openAbort_ = true;
    }
  }
  if (context != nullptr) PushSDLEvent(kQuitEvent);
  if (!wait) return;

  auto isStopped = [this] {
    std::lock_guard<std::mutex> guard(stoppedMutex_);
    return stopped_;
  };
  int attempts = 0;
  while (!WaitServing(isStopped, std::chrono::milliseconds(100))) {
    // Polled rather than a timed lock: the race detector does not follow the timed lock's
    // clock-based wait and reports its unlock as one of a mutex never locked.
    if (!WaitServing([this] { return playerLock_.try_lock(); }, std::chrono::milliseconds(100))) continue;
    ++attempts;
    {
      std::lock_guard<std::mutex> guard(contextMutex_);
      if (context_ && (attempts > 20 || (attempts > 10 && context_->InRead))) {
        // The play thread does not get round to it: release every wait of the context so that
        // it can close.
        context_->QuitRequested = true;
        context_->AbortAll();
      }
    }
    playerLock_.unlock();
    PushSDLEvent(kQuitEvent);
  }
  JoinPlayThread();
}

void TCustomPlayer::TogglePause() {
  std::shared_ptr<PlayContext> context;
  {
    std::lock_guard<std::mutex> guard(contextMutex_);
    context = context_;
  }
  if (!context || context->QuitRequested) return;
  // A pause the sound side has not taken up yet is given a moment before it is undone.
  if (context->Paused && context->AudioOpen) {
    WaitServing([&context] { return context->AudioPauseAcknowledged.load(); }, kPauseAcknowledgeWait);
  }
  const bool pausing = !context->Paused;
  {
    // The play thread may hold the lock while it waits for the main thread (drawing, closing
    // SDL): a main thread waiting here serves it meanwhile instead of blocking.
    WaitServing([this] { return playerLock_.try_lock(); });
    std::lock_guard<std::mutex> guard(playerLock_, std::adopt_lock);
    const double now = PlayerTime();
    if (pausing) {
      context->PausedAt = now;
    } else {
      context->FrameTimer += now - context->PausedAt;
    }
    context->AudioClock.Restart();
    context->VideoClock.Restart();
    context->ExternalClock.Restart();
    context->Paused = pausing;
  }
  if (pausing && context->AudioOpen) {
    WaitServing([&context] { return context->AudioPauseAcknowledged.load(); }, kPauseAcknowledgeWait);
  }
  SetPlayerState(pausing ? psPause : psResume);
}

// ------------------------------------------------------------------ play thread

namespace {

// The largest rectangle of the picture's shape that fits the output, centred.
SDL_Rect DisplayRect(int outputWidth, int outputHeight, int width, int height, AVRational sampleAspect,
                     float aspectOverride) {
  double aspect = aspectOverride > 0 ? aspectOverride : 0;
  if (aspect <= 0) {
    const double sar = sampleAspect.num > 0 && sampleAspect.den > 0 ? av_q2d(sampleAspect) : 1.0;
    aspect = sar * width / std::max(1, height);
  }
  int h = outputHeight;
  int w = static_cast<int>(std::lrint(h * aspect)) & ~1;
  if (w > outputWidth) {
    w = outputWidth;
    h = static_cast<int>(std::lrint(w / aspect)) & ~1;
  }
  return SDL_Rect{(outputWidth - w) / 2, (outputHeight - h) / 2, std::max(w, 1), std::max(h, 1)};
}

}  // namespace

// Runs on the main thread while the play thread waits for it, so the picture in context.Shown
// and the display objects are this call's alone.
void TCustomPlayer::Display(PlayContext& context) {
  DisplayObjects& display = *context.Display;
  const AVFrame* frame = context.Shown.get();
  if (frame == nullptr || display.Failed) return;
  // Pictures go on the screen window, or on a window of the player's own made at the first one.
  SDL_Window* window = screenWindow_ ? screenWindow_.get() : display.OwnWindow.get();
  if (window == nullptr) {
    const int width = ScreenWidth > 0 ? ScreenWidth : (frame->width > 0 ? frame->width : kDefaultWidth);
    const int height = ScreenHeight > 0 ? ScreenHeight : (frame->height > 0 ? frame->height : kDefaultHeight);
    display.OwnWindow = OwnSDLWindow(sdl_, sdl_.SDL_CreateWindow(context.FileName.c_str(), SDL_WINDOWPOS_UNDEFINED,
                                                                 SDL_WINDOWPOS_UNDEFINED, width, height,
                                                                 SDL_WINDOW_RESIZABLE));
    window = display.OwnWindow.get();
  }
  if (window != nullptr && !display.Renderer) {
    display.Renderer = OwnSDLRenderer(sdl_, sdl_.SDL_CreateRenderer(window, -1, 0));
  }
  if (!display.Renderer) {
    DefaultLogger().LogFmt(this, llError, "Cannot show pictures: %s", sdl_.SDL_GetError());
    display.Failed = true;
    return;
  }

  const std::int64_t us = std::isnan(context.ShownPts)
                              ? AV_NOPTS_VALUE
                              : static_cast<std::int64_t>(context.ShownPts * AV_TIME_BASE) - context.StartTime;
  const std::uint8_t* const* planes = frame->data;
  const int* lines = frame->linesize;
  auto format = static_cast<AVPixelFormat>(frame->format);
  if (VideoHook && OnVideoHook) {
    PicturePlanes picture;
    for (int i = 0; i < 4; ++i) {
      picture.Data[i] = frame->data[i];
      picture.LineSize[i] = frame->linesize[i];
    }
    TFormatConverter& converter = display.Converter;
    converter.SwsFlags = swsFlags_;
    if (converter.PictureToBitmap(picture, format, true, frame->height, frame->width)) {
      bool update = false;
      try {
        OnVideoHook(this, converter.GetBitmap(), us, update);
      } catch (const std::exception& e) {
        DefaultLogger().Log(this, llError, std::string("Error occurs OnVideoHook: ") + e.what());
      }
      if (update && converter.CurrentIsConverted()) {
        // The hook drew on the bitmap: show what it drew.
        converter.CopyFromBitmap();
        planes = converter.Current()->Data;
        lines = converter.Current()->LineSize;
        format = converter.BitmapPixFmt();
      }
    }
  }

  if (!display.Texture || display.TextureWidth != frame->width || display.TextureHeight != frame->height) {
    display.Texture.reset();
    display.Texture = OwnSDLTexture(sdl_, sdl_.SDL_CreateTexture(display.Renderer.get(), SDL_PIXELFORMAT_IYUV,
                                                                 SDL_TEXTUREACCESS_STREAMING, frame->width,
                                                                 frame->height));
    display.TextureWidth = frame->width;
    display.TextureHeight = frame->height;
    if (!display.Texture) {
      DefaultLogger().LogFmt(this, llError, "Cannot show pictures: %s", sdl_.SDL_GetError());
      display.Failed = true;
      return;
    }
  }
  if (format != AV_PIX_FMT_YUV420P) {
    if (!display.Scaled) display.Scaled.reset(lib::av_frame_alloc());
    AVFrame* scaled = display.Scaled.get();
    if (scaled == nullptr) return;
    if (scaled->width != frame->width || scaled->height != frame->height) {
      lib::av_frame_unref(scaled);
      scaled->format = AV_PIX_FMT_YUV420P;
      scaled->width = frame->width;
      scaled->height = frame->height;
      if (lib::av_frame_get_buffer(scaled, 0) < 0) {
        // A half-made frame must not pass for the right size next time.
        lib::av_frame_unref(scaled);
        return;
      }
    }
    // The cached context frees the one it is given when it makes another, or when it fails.
    display.Scaler.reset(lib::sws_getCachedContext(display.Scaler.release(), frame->width, frame->height, format,
                                                   frame->width, frame->height, AV_PIX_FMT_YUV420P, swsFlags_,
                                                   nullptr, nullptr, nullptr));
    if (!display.Scaler) return;
    lib::sws_scale(display.Scaler.get(), planes, lines, 0, frame->height, scaled->data, scaled->linesize);
    planes = scaled->data;
    lines = scaled->linesize;
  }
  SDL_Renderer* renderer = display.Renderer.get();
  sdl_.SDL_UpdateYUVTexture(display.Texture.get(), nullptr, planes[0], lines[0], planes[1], lines[1], planes[2],
                            lines[2]);
  int outputWidth = 0;
  int outputHeight = 0;
  sdl_.SDL_GetRendererOutputSize(renderer, &outputWidth, &outputHeight);
  const SDL_Rect target =
      DisplayRect(outputWidth, outputHeight, frame->width, frame->height, frame->sample_aspect_ratio, AspectRatio());
  sdl_.SDL_SetRenderDrawColor(renderer, 0, 0, 0, 255);
  sdl_.SDL_RenderClear(renderer);
  sdl_.SDL_RenderCopy(renderer, display.Texture.get(), nullptr, &target);
  sdl_.SDL_RenderPresent(renderer);
}

void TCustomPlayer::PlayThreadRun(std::shared_ptr<PlayContext> context) {
  SetPlayerState(psPlay);
  playThreadStarted_ = true;
  WakeMainThread();

  // Under the player lock: moves the next picture up when its time has come. True when the
  // picture on the screen is to be drawn (again).
  auto refresh = [&](double& remaining) {
    if (context->VideoStream >= 0 && !context->Paused) {
      if (!context->AudioOpen) {
        context->ExternalClock.SetSpeed(
            ExternalClockSpeed(context->ExternalClock.Speed(), context->VideoQueue.Count(), -1));
      }
      std::unique_lock<std::mutex> lock(context->PictureMutex);
      if (!context->Pictures.empty()) {
        QueuedPicture& next = context->Pictures.front();
        const double now = PlayerTime();
        const bool first = !context->FrameTimerStarted;
        if (first) {
          // The first picture goes up at once; the timer runs from there.
          context->FrameTimerStarted = true;
          context->FrameTimer = now;
          context->LastDuration = context->FrameRate.num > 0 ? av_q2d(av_inv_q(context->FrameRate)) : 0.04;
        }
        double duration = next.Pts - context->LastPts;
        if (std::isnan(duration) || duration <= 0 || duration >= 10) duration = context->LastDuration;
        const double delay = first ? 0.0 : TargetDelay(duration, context->VideoClock.Get(), context->MasterClock());
        if (now < context->FrameTimer + delay) {
          remaining = std::min(remaining, context->FrameTimer + delay - now);
        } else {
          context->FrameTimer += delay;
          if (delay > 0 && now - context->FrameTimer > kSyncThresholdMax) context->FrameTimer = now;
          context->LastDuration = duration;
          context->LastPts = next.Pts;
          if (!std::isnan(next.Pts)) {
            context->VideoClock.Set(next.Pts);
            context->ExternalClock.Follow(context->VideoClock);
          }
          context->Shown = std::move(next.Frame);
          context->ShownPts = next.Pts;
          context->Pictures.pop_front();
          context->ForceRefresh = true;
          lock.unlock();
          context->PictureSignal.notify_all();
        }
      }
    }
    const bool draw = context->ForceRefresh && !DisableVideo;
    context->ForceRefresh = false;
    ReportPosition(*context);
    return draw;
  };

  // Drawing and fetching window events happen on the main thread (see DisplayObjects); this
  // thread only keeps the time. It waits for the main thread without the player lock, which the
  // main thread may want meanwhile.
  auto present = [&](bool draw) {
    draw = draw && context->VideoStream >= 0;
    const bool windowed = screenWindow_ || context->Display->OwnWindow;
    const double now = PlayerTime();
    const bool pump = windowed && now - context->LastPump >= kPumpInterval;
    if (!draw && !pump) return;
    RunInMainThread([&] {
      if (draw) Display(*context);
      // The windows' own events (closed, resized, uncovered) reach the queue this thread reads.
      if (screenWindow_ || context->Display->OwnWindow) {
        sdl_.SDL_PumpEvents();
        context->LastPump = now;
      }
    });
  };

  try {
    double remaining = 0;
    while (!context->QuitRequested) {
      SDL_Event event{};
      if (sdl_.SDL_PeepEvents(&event, 1, SDL_GETEVENT, SDL_FIRSTEVENT, SDL_LASTEVENT) <= 0) {
        Sleep(remaining);
        remaining = kRefreshRate;
        bool draw = false;
        {
          std::lock_guard<std::mutex> guard(playerLock_);
          draw = refresh(remaining);
        }
        present(draw);
        continue;
      }
      std::lock_guard<std::mutex> guard(playerLock_);
      if (event.type == SDL_QUIT || event.type == kQuitEvent) break;
      if (event.type == kRefreshEvent) {
        context->ForceRefresh = true;
      } else if (event.type == SDL_WINDOWEVENT && (event.window.event == SDL_WINDOWEVENT_SIZE_CHANGED ||
                                                   event.window.event == SDL_WINDOWEVENT_EXPOSED)) {
        context->ForceRefresh = true;
      }
    }
  } catch (const std::exception& e) {
    DefaultLogger().Log(this, llFatal, std::string("PlayThread Exception: ") + e.what());
  }
  {
    std::lock_guard<std::mutex> guard(playerLock_);
    ClosePlayContext();
  }
  SetPlayerState(psStop);
  sdl_.SDL_TLSCleanup();
  {
    std::lock_guard<std::mutex> guard(stoppedMutex_);
    stopped_ = true;
  }
  stoppedSignal_.notify_all();
  WakeMainThread();
}

void TCustomPlayer::ReportPosition(PlayContext& context) {
  const double clock = context.MasterClock();
  if (!std::isnan(clock)) {
    std::int64_t position = static_cast<std::int64_t>(clock * AV_TIME_BASE) - context.StartTime;
    // The sound device's latency puts the clock a little before the start at first.
    position = std::max<std::int64_t>(position, 0);
    if (context.Duration > 0) position = std::min(position, context.Duration);
    // Nothing here plays backwards: a clock that was set back a little by the sound device's
    // latency estimate is not a move worth reporting.
    if (position >= context.LastPosition) {
      context.LastPosition = position;
      if (OnPosition && positions_.Accept(position)) events_.Post(pePosition, position);
    }
  }
  if (context.AtEnd && !context.EndReported) {
    // Once per file, whether or not it has pictures.
    context.EndReported = true;
    SetPlayerState(psEnd);
  }
}

// ------------------------------------------------------------------ event thread

void TCustomPlayer::StartEventThread() {
  eventTerminate_ = false;
  eventThreadRunning_ = true;
  eventThread_ = std::thread(&TCustomPlayer::EventThreadRun, this);
}

void TCustomPlayer::EndEventThread() {
  if (!eventThread_.joinable()) return;
  eventTerminate_ = true;
  WaitServing([this] { return !eventThreadRunning_.load(); });
  eventThread_.join();
  eventTerminate_ = false;
}

void TCustomPlayer::DeliverEvent(const PlayerEvent& event) {
  auto call = [this, event] {
    if (event.Kind == peState && OnState) OnState(this, static_cast<TPlayState>(event.Value));
    if (event.Kind == pePosition && OnPosition) OnPosition(this, event.Value);
  };
  try {
    RaiseComponentEvent(TriggerEventInMainThread, call);
  } catch (const std::exception& e) {
    DefaultLogger().Log(this, llError, e.what());
  }
}

void TCustomPlayer::EventThreadRun() {
  bool stopDelivered = false;
  while (!eventTerminate_) {
    PlayerEvent event;
    if (events_.Take(event)) {
      if (event.Kind == peQuit) break;
      DeliverEvent(event);
      if (event.Kind == peState && event.Value == psStop) {
        stopDelivered = true;
        break;
      }
      continue;
    }
    events_.WaitNotEmpty(std::chrono::milliseconds(100));
  }
  if (!stopDelivered && OnState) DeliverEvent(PlayerEvent{peState, psStop});
  eventThreadRunning_ = false;
  WakeMainThread();
}

}  // namespace lumivor
