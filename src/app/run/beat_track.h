// The music's beats, for cutting the show on them: the tempo tracker of the aubio library run over
// the joined sound, mixed down to one channel.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/show/beat_fit.h"
#include "app/show/show_timing.h"

namespace lumivor {

struct BeatTrack {
  // From the sound's first sample, rising. Where the beat is clear, the beats the tracker let pass
  // (while it locks on at the start, and where it loses the phase for a while) are filled in on
  // the beat's own period, up to the sound's end.
  std::vector<double> BeatSeconds;
  // From the beat's period (the median of the tracker's beat-to-beat times) where it is clear, else
  // the tracker's own estimate.
  double Bpm = 0;
  // The tracker's own confidence in its tempo, 0 for none.
  double Confidence = 0;
  // A beat the show may follow: a confident tempo and at least MinimumBeats beats.
  bool Clear = false;
};

// The rate the sound is analysed at, and the tracker's window and hop: about 11.6 ms a step, the
// tracker's own usual resolution.
inline constexpr int BeatSampleRate = 22050;
inline constexpr int BeatWindow = 512;
inline constexpr int BeatHop = 256;
// Fewer beats than this are no pattern to cut on.
inline constexpr std::size_t MinimumBeats = 4;
// The tracker's confidence below which a tempo is taken for a guess: steady noise scores about 0.1,
// a plain beat well over 1.
inline constexpr double MinimumBeatConfidence = 0.2;

// Fed mono samples at BeatSampleRate in pieces of any size.
class BeatTracker {
 public:
  BeatTracker();
  ~BeatTracker();
  BeatTracker(const BeatTracker&) = delete;
  BeatTracker& operator=(const BeatTracker&) = delete;

  void Feed(const float* samples, std::size_t count);
  // What was found; the tracker takes nothing more after it.
  BeatTrack Finish();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// Decodes the sound file (the joined music) and tracks its beats. False with the reason when it
// cannot be decoded, or "stopped" when keepGoing (asked now and then, may be empty) says no. The
// media libraries must be loaded.
bool DetectBeats(const std::string& path, BeatTrack& track, std::string& errorText,
                 const std::function<bool()>& keepGoing = {});

// The timing a show takes from its joined music: the plan fitted to the music's beats where the
// beat is clear (FitTimingToBeats), the plan itself where it is not. logLine receives
// BeatSyncLogText. False, with the plan in timing, when the sound cannot be read or keepGoing
// stopped the reading ("stopped").
bool BeatSyncedTiming(const std::string& joinedSound, const ShowTiming& plan, FrameRateParts rate, ShowTiming& timing,
                      std::string& logLine, std::string& errorText, const std::function<bool()>& keepGoing = {});

// The log's line: "Beat sync: 120.0 bpm", or the notice that the show keeps its planned times.
std::string BeatSyncLogText(const BeatTrack& track);

// The run's line when its tracks are not laid under the show (too short for the cut rule): there
// is no music to cut on.
inline constexpr const char* BeatSyncNoMusicText = "Beat sync: no music under the show; the show keeps its planned times";
// The run's line when the show fitted to the beats would outlast the tracks that outlast its plan:
// under the cut rule the fitted show would go without the music it was cut to.
inline constexpr const char* BeatSyncMusicTooShortText =
    "Beat sync: the music ends before the fitted show would; the show keeps its planned times";

}  // namespace lumivor
