// The player's sound output: opening the device with the channel fallbacks, and writing decoded
// samples into the device's buffer at the chosen volume.
#pragma once

#include <cstdint>
#include <string>

#include "media/runtime/ff_headers.h"
#include "media/runtime/sdl_load.h"

namespace lumivor {

// The channel count to try after a device refused count; 0 when nothing is left.
int NextChannelCount(int count);

// What the device was opened with: always signed 16-bit native-endian samples. Owns the device
// and the layout; the device closes first, so the sound callback has stopped before anything it
// reads goes away.
struct AudioOutput {
  AudioOutput() = default;
  ~AudioOutput();
  AudioOutput(const AudioOutput&) = delete;
  AudioOutput& operator=(const AudioOutput&) = delete;

  SDL_AudioDeviceID DeviceId() const { return Device.get().Id; }

  SDLAudioDevicePtr Device;
  int SampleRate = 0;
  int Channels = 0;
  AVChannelLayout Layout{};
  int BufferSize = 0;  // bytes of one device buffer
  int BytesPerSecond() const { return SampleRate * Channels * 2; }
};

// Opens the default output device for the stream's rate and layout (the count may be overridden
// by SDL_AUDIO_CHANNELS), stepping down the channel count while the device refuses. False with the
// player's message in error and, in cause, why in words a user can act on: for a device that
// refused, what SDL said about the last attempt ("no such device", "cannot connect"), otherwise
// the same as error. The layout in output is then uninitialised.
bool OpenAudioOutput(const SDLFunctions& sdl, int sampleRate, const AVChannelLayout& streamLayout,
                     SDL_AudioCallback callback, void* userdata, AudioOutput& output, std::string& error,
                     std::string& cause);

// Fills len bytes of the device's buffer from source (nullptr: silence): silence when muted or at
// volume 0, the samples unchanged at 128, otherwise scaled by the mixer.
void WriteAudio(const SDLFunctions& sdl, std::uint8_t* target, const std::uint8_t* source, int len, bool mute,
                int volume);

}  // namespace lumivor
