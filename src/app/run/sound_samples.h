// A sound file's first audio stream decoded to its end as interleaved float samples at a chosen
// rate and channel count, for the measurements the run makes of the music (loudness, beats).
#pragma once

#include <cstddef>
#include <functional>
#include <string>

namespace lumivor {

// Receives the next `frames` samples per channel, interleaved; false stops the reading (a stop
// asked for while a long track is read).
using SoundSink = std::function<bool(const float* samples, std::size_t frames)>;

// False with the reason when the file cannot be opened, has no audio stream or cannot be decoded,
// and when the sink stopped it ("stopped"). Packets the decoder refuses are skipped as a player
// would; a stream that yields no sound at all is an error. The libraries must be loaded.
bool DecodeSound(const std::string& path, int sampleRate, int channels, const SoundSink& sink,
                 std::string& errorText);

}  // namespace lumivor
