#include "media/components/player_audio.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "media/runtime/ff_load.h"
#include "media/runtime/ff_log.h"
#include "media/runtime/format_text.h"

namespace lumivor {
namespace {

// Indexed by min(count, 7): 7 or more -> 6, 6 -> 4, 5 -> 6, 4 -> 2, 3 -> 6, 2 -> 1, 1 -> 0.
constexpr int kNextChannelCount[8] = {0, 0, 1, 6, 2, 6, 4, 6};
constexpr int kDeviceSamples = 1024;

}  // namespace

AudioOutput::~AudioOutput() {
  Device.reset();
  lib::av_channel_layout_uninit(&Layout);
}

int NextChannelCount(int count) { return kNextChannelCount[std::clamp(count, 0, 7)]; }

bool OpenAudioOutput(const SDLFunctions& sdl, int sampleRate, const AVChannelLayout& streamLayout,
                     SDL_AudioCallback callback, void* userdata, AudioOutput& output, std::string& error,
                     std::string& cause) {
  int channels = streamLayout.nb_channels;
  if (const char* forced = std::getenv("SDL_AUDIO_CHANNELS"); forced != nullptr && *forced != '\0') {
    channels = std::atoi(forced);
  }
  if (sampleRate <= 0 || channels <= 0) {
    error = cause = "Invalid sample rate or channel count!";
    return false;
  }

  SDL_AudioSpec wanted{};
  wanted.freq = sampleRate;
  wanted.format = AUDIO_S16SYS;
  wanted.channels = static_cast<Uint8>(std::min(channels, 255));
  wanted.samples = kDeviceSamples;
  wanted.callback = callback;
  wanted.userdata = userdata;
  SDL_AudioSpec granted{};
  SDL_AudioDeviceID device = 0;
  for (;;) {
    // SDL's error text is left over from whatever failed last, anywhere on this thread: only a
    // text set by this open says why the device refused.
    sdl.SDL_ClearError();
    device = sdl.SDL_OpenAudioDevice(nullptr, 0, &wanted, &granted,
                                     SDL_AUDIO_ALLOW_FREQUENCY_CHANGE | SDL_AUDIO_ALLOW_CHANNELS_CHANGE);
    if (device != 0) break;
    const char* said = sdl.SDL_GetError();
    cause = said != nullptr && *said != '\0' ? said : "the sound device refused to open";
    DefaultLogger().LogFmt(nullptr, llWarning, "SDL_OpenAudio (%d channels): %s", wanted.channels, cause.c_str());
    wanted.channels = static_cast<Uint8>(NextChannelCount(wanted.channels));
    if (wanted.channels == 0) {
      error = "No more channel combinations to try, audio open failed";
      return false;
    }
  }

  SDLAudioDevicePtr opened = OwnSDLAudioDevice(sdl, device);
  AVChannelLayout layout{};
  if (streamLayout.nb_channels == granted.channels && streamLayout.order == AV_CHANNEL_ORDER_NATIVE) {
    lib::av_channel_layout_copy(&layout, &streamLayout);
  } else {
    lib::av_channel_layout_default(&layout, granted.channels);
  }
  std::string unsupported;
  if (granted.format != AUDIO_S16SYS) {
    unsupported = FormatText("SDL advised audio format %d is not supported!", granted.format);
  } else if (layout.order != AV_CHANNEL_ORDER_NATIVE || layout.nb_channels != granted.channels) {
    unsupported = FormatText("SDL advised channel count %d is not supported!", granted.channels);
  }
  if (!unsupported.empty()) {
    error = cause = unsupported;
    lib::av_channel_layout_uninit(&layout);
    return false;
  }
  output.Device = std::move(opened);
  output.SampleRate = granted.freq;
  output.Channels = granted.channels;
  lib::av_channel_layout_uninit(&output.Layout);
  output.Layout = layout;
  output.BufferSize = static_cast<int>(granted.size);
  return true;
}

void WriteAudio(const SDLFunctions& sdl, std::uint8_t* target, const std::uint8_t* source, int len, bool mute,
                int volume) {
  if (source == nullptr || mute || volume <= 0) {
    std::memset(target, 0, static_cast<size_t>(len));
  } else if (volume >= SDL_MIX_MAXVOLUME) {
    std::memcpy(target, source, static_cast<size_t>(len));
  } else {
    // The mixer adds to what is there; the device's buffer arrives with anything in it.
    std::memset(target, 0, static_cast<size_t>(len));
    sdl.SDL_MixAudioFormat(target, source, AUDIO_S16SYS, static_cast<Uint32>(len), volume);
  }
}

}  // namespace lumivor
