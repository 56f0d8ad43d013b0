// Music at a sensible level: each track's integrated loudness and true peak measured as the joined
// sound will hold it (stereo at the joined rate), and the gain that brings it to a common level
// without letting its peaks reach full scale. The gain is applied by the join itself, in the same
// pass that lays the tracks one after another, so no extra encode is made.
#pragma once

#include <functional>
#include <string>

namespace lumivor {

// The level streaming services and podcasts play at: loud enough beside other sound, with room
// left for peaks.
inline constexpr double TargetLoudness = -16.0;  // LUFS, integrated
// The ceiling a track's true peak may reach after its gain: the encoders' own filtering can push
// inter-sample peaks above the measured ones, and 1 dB keeps them from clipping.
inline constexpr double TruePeakCeiling = -1.0;  // dBTP

struct TrackLoudness {
  // Integrated loudness in LUFS; -infinity for a track that is silent (or quieter than the
  // absolute gate throughout).
  double Integrated = 0;
  // The highest true peak of any channel, in dBTP; -infinity for digital silence.
  double TruePeak = 0;
};

struct LoudnessGain {
  double Db = 0;
  // The gain is less than the target asked for, held down by the true-peak ceiling.
  bool PeakCapped = false;
  // Silence has no loudness to bring anywhere; it is left as it is.
  bool Unmeasurable = false;
};

// The gain for a measured track: TargetLoudness - Integrated, lowered where needed so that
// TruePeak + gain stays at or below TruePeakCeiling.
LoudnessGain GainForLoudness(const TrackLoudness& measured);

// Decodes the track to its end and measures it. False with the reason when it cannot be decoded,
// or "stopped" when keepGoing (asked now and then, may be empty) says no. The media libraries must
// be loaded.
bool MeasureTrackLoudness(const std::string& path, TrackLoudness& measured, std::string& errorText,
                          const std::function<bool()>& keepGoing = {});

// The log's line for a track: its name, what was measured and the gain given.
// "Loudness: song.mp3 -23.4 LUFS, true peak -6.1 dBTP, gain +7.4 dB"
std::string LoudnessLogText(const std::string& track, const TrackLoudness& measured, const LoudnessGain& gain);

// The gain as the join's volume filter takes it ("volume=+7.40dB").
std::string VolumeFilterText(double gainDb);

}  // namespace lumivor
