#include "media/components/player_audio.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "media/runtime/ff_load.h"
#include "media/runtime/ff_log.h"
#include "media/runtime/format_text.h"

namespace lumivor {
namespace {

// Indexed by min(count, 7): 7 or more -> 6, 6 -> 4, 5 -> 6, 4 -> 2, 3 -> 6, 2 -> 1, 1 -> 0.
constexpr int kNextChannelCount[8] = {0, 0, 1, 6, 2, 6, 4, 6};
constexpr int kDeviceSamples = 1024;

}  // namespace

int NextChannelCount(int count) { return kNextChannelCount[std::clamp(count, 0, 7)]; }

bool OpenAudioOutput(const SDLFunctions& sdl, int sampleRate, const AVChannelLayout& streamLayout,
                     SDL_AudioCallback callback, void* userdata, AudioOutput& output, std::string& error) {
  int channels = streamLayout.nb_channels;
  if (const char* forced = std::getenv("SDL_AUDIO_CHANNELS"); forced != nullptr && *forced != '\0') {
    channels = std::atoi(forced);
  }
  if (sampleRate <= 0 || channels <= 0) {
    error = "Invalid sample rate or channel count!";
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
    device = sdl.SDL_OpenAudioDevice(nullptr, 0, &wanted, &granted,
                                     SDL_AUDIO_ALLOW_FREQUENCY_CHANGE | SDL_AUDIO_ALLOW_CHANNELS_CHANGE);
    if (device != 0) break;
    DefaultLogger().LogFmt(nullptr, llWarning, "SDL_OpenAudio (%d channels): %s", wanted.channels, sdl.SDL_GetError());
    wanted.channels = static_cast<Uint8>(NextChannelCount(wanted.channels));
    if (wanted.channels == 0) {
      error = "No more channel combinations to try, audio open failed";
      return false;
    }
  }

  AVChannelLayout layout{};
  if (streamLayout.nb_channels == granted.channels && streamLayout.order == AV_CHANNEL_ORDER_NATIVE) {
    lib::av_channel_layout_copy(&layout, &streamLayout);
  } else {
    lib::av_channel_layout_default(&layout, granted.channels);
  }
  if (granted.format != AUDIO_S16SYS) {
    error = FormatText("SDL advised audio format %d is not supported!", granted.format);
  } else if (layout.order != AV_CHANNEL_ORDER_NATIVE || layout.nb_channels != granted.channels) {
    error = FormatText("SDL advised channel count %d is not supported!", granted.channels);
  }
  if (!error.empty()) {
    lib::av_channel_layout_uninit(&layout);
    sdl.SDL_CloseAudioDevice(device);
    return false;
  }
  output.Device = device;
  output.SampleRate = granted.freq;
  output.Channels = granted.channels;
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
