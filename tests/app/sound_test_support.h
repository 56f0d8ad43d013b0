// Sound made by the tests sample by sample (tones at set levels, click tracks) and written
// as 16-bit PCM WAV files, and a file's sound decoded back for measuring.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <functional>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "media/components/whole_file_decode.h"
#include "media/runtime/ff_load.h"

namespace lumivor::testing {

// Interleaved samples in -1..1.
struct Sound {
  int SampleRate = 44100;
  int Channels = 2;
  std::vector<float> Samples;
  std::size_t Frames() const { return Channels > 0 ? Samples.size() / static_cast<std::size_t>(Channels) : 0; }
};

inline double DbToAmplitude(double db) { return std::pow(10.0, db / 20.0); }

// Every channel the same: value(t) for each sample time t in seconds.
inline Sound MakeSound(double seconds, int rate, int channels, const std::function<double(double)>& value) {
  Sound sound;
  sound.SampleRate = rate;
  sound.Channels = channels;
  const auto frames = static_cast<std::size_t>(std::llround(seconds * rate));
  sound.Samples.reserve(frames * static_cast<std::size_t>(channels));
  for (std::size_t i = 0; i < frames; ++i) {
    const auto sample = static_cast<float>(value(static_cast<double>(i) / rate));
    for (int c = 0; c < channels; ++c) sound.Samples.push_back(sample);
  }
  return sound;
}

inline Sound Sine(double seconds, double hertz, double peakDb, int rate = 44100, int channels = 2) {
  const double amplitude = DbToAmplitude(peakDb);
  return MakeSound(seconds, rate, channels,
                   [=](double t) { return amplitude * std::sin(2 * std::numbers::pi * hertz * t); });
}

// Uniform white noise, the same on every channel: sound without a beat.
inline Sound Noise(double seconds, double peakDb, std::uint32_t seed, int rate = 44100, int channels = 2) {
  std::mt19937 generator(seed);
  std::uniform_real_distribution<double> uniform(-1.0, 1.0);
  const double amplitude = DbToAmplitude(peakDb);
  return MakeSound(seconds, rate, channels, [&](double) { return amplitude * uniform(generator); });
}

// Short decaying 2 kHz bursts at the given times: a click track.
inline Sound Clicks(double seconds, const std::vector<double>& at, double peakDb, int rate = 44100) {
  const double amplitude = DbToAmplitude(peakDb);
  constexpr double Length = 0.03;
  return MakeSound(seconds, rate, 2, [&](double t) {
    for (const double start : at) {
      if (t >= start && t < start + Length) {
        const double age = t - start;
        return amplitude * std::exp(-age / 0.006) * std::sin(2 * std::numbers::pi * 2000 * age);
      }
    }
    return 0.0;
  });
}

inline void WriteWav(const std::string& path, const Sound& sound) {
  std::vector<char> bytes;
  const auto put = [&](std::uint32_t value, int size) {
    for (int i = 0; i < size; ++i) bytes.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
  };
  const auto data = static_cast<std::uint32_t>(sound.Samples.size() * 2);
  bytes.insert(bytes.end(), {'R', 'I', 'F', 'F'});
  put(36 + data, 4);
  bytes.insert(bytes.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
  put(16, 4);
  put(1, 2);  // PCM
  put(static_cast<std::uint32_t>(sound.Channels), 2);
  put(static_cast<std::uint32_t>(sound.SampleRate), 4);
  put(static_cast<std::uint32_t>(sound.SampleRate * sound.Channels * 2), 4);
  put(static_cast<std::uint32_t>(sound.Channels * 2), 2);
  put(16, 2);
  bytes.insert(bytes.end(), {'d', 'a', 't', 'a'});
  put(data, 4);
  for (const float sample : sound.Samples) {
    const long value = std::lround(std::clamp(static_cast<double>(sample), -1.0, 1.0) * 32767);
    put(static_cast<std::uint32_t>(static_cast<std::int16_t>(value)) & 0xFFFF, 2);
  }
  std::ofstream file(path, std::ios::binary);
  file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  ASSERT_TRUE(file.good()) << path;
}

// The first audio stream of a file decoded to interleaved float, through the test's own reading of
// the file (not the program's), for the measurements that check what the program wrote.
inline Sound DecodeFirstAudio(const std::string& path) {
  Sound sound;
  sound.Channels = 0;
  WholeFileVisit visit;
  visit.Frame = [&](const AVStream& stream, const AVFrame& frame) {
    if (stream.codecpar->codec_type != AVMEDIA_TYPE_AUDIO) return;
    const int channels = frame.ch_layout.nb_channels;
    if (sound.Channels == 0) {
      sound.Channels = channels;
      sound.SampleRate = frame.sample_rate;
    }
    ASSERT_EQ(channels, sound.Channels);
    const auto format = static_cast<AVSampleFormat>(frame.format);
    for (int i = 0; i < frame.nb_samples; ++i) {
      for (int c = 0; c < channels; ++c) {
        float value = 0;
        switch (format) {
          case AV_SAMPLE_FMT_FLTP: value = reinterpret_cast<const float*>(frame.extended_data[c])[i]; break;
          case AV_SAMPLE_FMT_FLT: value = reinterpret_cast<const float*>(frame.extended_data[0])[i * channels + c]; break;
          case AV_SAMPLE_FMT_S16P: value = reinterpret_cast<const std::int16_t*>(frame.extended_data[c])[i] / 32768.0f; break;
          case AV_SAMPLE_FMT_S16:
            value = reinterpret_cast<const std::int16_t*>(frame.extended_data[0])[i * channels + c] / 32768.0f;
            break;
          default: FAIL() << "sample format " << frame.format << " not read by the test";
        }
        sound.Samples.push_back(value);
      }
    }
  };
  EXPECT_TRUE(DecodeWholeFile(path, visit)) << path;
  return sound;
}

}  // namespace lumivor::testing
