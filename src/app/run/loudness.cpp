#include "app/run/loudness.h"

#include <ebur128.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <memory>

#include "app/run/audio_joiner.h"
#include "app/run/sound_samples.h"

namespace lumivor {

namespace {

struct LoudnessStateFree {
  void operator()(ebur128_state* state) const { ebur128_destroy(&state); }
};
using LoudnessStatePtr = std::unique_ptr<ebur128_state, LoudnessStateFree>;

// The joined sound is stereo: a mono track is heard on both sides, and measured so.
constexpr int MeasuredChannels = 2;

// How often, in samples per channel, a long decode asks whether to go on: about a second.
constexpr std::size_t KeepGoingEvery = JoinedSampleRate;

std::string file_name_part(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string level_text(double value, const char* unit) {
  if (!std::isfinite(value)) return std::string("silent");
  char text[48];
  std::snprintf(text, sizeof text, "%.1f %s", value, unit);
  return text;
}

}  // namespace

LoudnessGain GainForLoudness(const TrackLoudness& measured) {
  LoudnessGain gain;
  if (!std::isfinite(measured.Integrated)) {
    gain.Unmeasurable = true;
    return gain;
  }
  gain.Db = TargetLoudness - measured.Integrated;
  if (std::isfinite(measured.TruePeak) && measured.TruePeak + gain.Db > TruePeakCeiling) {
    gain.Db = TruePeakCeiling - measured.TruePeak;
    gain.PeakCapped = true;
  }
  return gain;
}

bool MeasureTrackLoudness(const std::string& path, TrackLoudness& measured, std::string& errorText,
                          const std::function<bool()>& keepGoing) {
  LoudnessStatePtr state(ebur128_init(MeasuredChannels, JoinedSampleRate, EBUR128_MODE_I | EBUR128_MODE_TRUE_PEAK));
  if (!state) {
    errorText = "the loudness meter cannot be set up";
    return false;
  }
  std::size_t sinceAsked = 0;
  bool meterFailed = false;
  const SoundSink sink = [&](const float* samples, std::size_t frames) {
    if (ebur128_add_frames_float(state.get(), samples, frames) != EBUR128_SUCCESS) {
      meterFailed = true;
      return false;
    }
    sinceAsked += frames;
    if (sinceAsked >= KeepGoingEvery) {
      sinceAsked = 0;
      if (keepGoing && !keepGoing()) return false;
    }
    return true;
  };
  if (!DecodeSound(path, JoinedSampleRate, MeasuredChannels, sink, errorText)) {
    if (meterFailed) errorText = "the loudness meter failed";
    return false;
  }
  double integrated = 0;
  if (ebur128_loudness_global(state.get(), &integrated) != EBUR128_SUCCESS) {
    errorText = "the loudness meter failed";
    return false;
  }
  double peak = 0;
  for (unsigned channel = 0; channel < MeasuredChannels; ++channel) {
    double channelPeak = 0;
    if (ebur128_true_peak(state.get(), channel, &channelPeak) != EBUR128_SUCCESS) {
      errorText = "the loudness meter failed";
      return false;
    }
    peak = std::max(peak, channelPeak);
  }
  // The meter gives -HUGE_VAL for a track under the absolute gate throughout.
  measured.Integrated = std::isfinite(integrated) ? integrated : -std::numeric_limits<double>::infinity();
  measured.TruePeak = peak > 0 ? 20 * std::log10(peak) : -std::numeric_limits<double>::infinity();
  return true;
}

std::string LoudnessLogText(const std::string& track, const TrackLoudness& measured, const LoudnessGain& gain) {
  std::string text = "Loudness: " + file_name_part(track) + " " + level_text(measured.Integrated, "LUFS") +
                     ", true peak " + level_text(measured.TruePeak, "dBTP");
  if (gain.Unmeasurable) return text + ", left as it is";
  char db[32];
  std::snprintf(db, sizeof db, "%+.1f dB", gain.Db);
  text += ", gain " + std::string(db);
  if (gain.PeakCapped) {
    char reached[32];
    std::snprintf(reached, sizeof reached, "%.1f LUFS", measured.Integrated + gain.Db);
    text += " (held down by its peaks: it reaches " + std::string(reached) + ")";
  }
  return text;
}

std::string VolumeFilterText(double gainDb) {
  char text[48];
  std::snprintf(text, sizeof text, "volume=%+.2fdB", gainDb);
  return text;
}

}  // namespace lumivor
