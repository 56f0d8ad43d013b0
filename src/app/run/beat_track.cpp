#include "app/run/beat_track.h"

#include <aubio/aubio.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "app/run/sound_samples.h"

namespace lumivor {

namespace {

struct TempoFree {
  void operator()(aubio_tempo_t* tempo) const { del_aubio_tempo(tempo); }
};
struct VectorFree {
  void operator()(fvec_t* vector) const { del_fvec(vector); }
};

// The beats found, completed on their period: a gap of about k periods gets the k - 1 beats it
// lost, and the stretches before the first and after the last beat are laid out on the same period.
// A gap that is no whole number of periods (a change of tempo) is left as it is.
std::vector<double> complete_beats(const std::vector<double>& found, double period, double soundSeconds) {
  std::vector<double> beats;
  for (double t = found.front() - period; t >= 0; t -= period) beats.insert(beats.begin(), t);
  for (std::size_t i = 0; i < found.size(); ++i) {
    beats.push_back(found[i]);
    if (i + 1 == found.size()) break;
    const double gap = found[i + 1] - found[i];
    const double periods = std::round(gap / period);
    if (periods >= 2 && std::abs(gap - periods * period) <= 0.2 * period) {
      for (int k = 1; k < static_cast<int>(periods); ++k) beats.push_back(found[i] + gap * k / periods);
    }
  }
  for (double t = found.back() + period; t < soundSeconds; t += period) beats.push_back(t);
  return beats;
}

// How often, in samples, a long decode asks whether to go on: about a second.
constexpr std::size_t KeepGoingEvery = BeatSampleRate;

}  // namespace

struct BeatTracker::State {
  std::unique_ptr<aubio_tempo_t, TempoFree> Tempo{new_aubio_tempo("default", BeatWindow, BeatHop, BeatSampleRate)};
  std::unique_ptr<fvec_t, VectorFree> Input{new_fvec(BeatHop)};
  std::unique_ptr<fvec_t, VectorFree> Output{new_fvec(1)};
  std::size_t Filled = 0;
  std::size_t Samples = 0;
  BeatTrack Found;

  State() {
    // The tracker drops a beat that falls in a hop quieter than its silence level; between the
    // hits of sparse music (or a click track) the sound is digital silence, and the beat there is
    // still a beat.
    if (Tempo) aubio_tempo_set_silence(Tempo.get(), -1000);
  }

  void Step() {
    aubio_tempo_do(Tempo.get(), Input.get(), Output.get());
    if (Output->data[0] != 0) Found.BeatSeconds.push_back(aubio_tempo_get_last_s(Tempo.get()));
    Filled = 0;
  }
};

BeatTracker::BeatTracker() : state_(std::make_unique<State>()) {}
BeatTracker::~BeatTracker() = default;

void BeatTracker::Feed(const float* samples, std::size_t count) {
  State& s = *state_;
  if (!s.Tempo) return;
  s.Samples += count;
  for (std::size_t i = 0; i < count; ++i) {
    s.Input->data[s.Filled++] = samples[i];
    if (s.Filled == BeatHop) s.Step();
  }
}

BeatTrack BeatTracker::Finish() {
  State& s = *state_;
  if (!s.Tempo) return {};
  // The last part-hop, padded with silence, so that a beat in the sound's last milliseconds counts.
  if (s.Filled > 0) {
    for (std::size_t i = s.Filled; i < BeatHop; ++i) s.Input->data[i] = 0;
    s.Step();
  }
  BeatTrack found = std::move(s.Found);
  found.Bpm = aubio_tempo_get_bpm(s.Tempo.get());
  found.Confidence = aubio_tempo_get_confidence(s.Tempo.get());
  found.Clear = found.Confidence >= MinimumBeatConfidence && found.BeatSeconds.size() >= MinimumBeats && found.Bpm > 0;
  s.Tempo.reset();
  if (!found.Clear) return found;
  // The tracker's tempo is its own grid's (121.5 for a steady 120); the beats it marked are on the
  // music's. Only neighbours about one of its periods apart count, so lost beats do not stretch it.
  const double trackerPeriod = 60.0 / found.Bpm;
  std::vector<double> steps;
  for (std::size_t i = 1; i < found.BeatSeconds.size(); ++i) {
    const double step = found.BeatSeconds[i] - found.BeatSeconds[i - 1];
    if (std::abs(step - trackerPeriod) <= 0.25 * trackerPeriod) steps.push_back(step);
  }
  if (steps.empty()) return found;
  std::nth_element(steps.begin(), steps.begin() + static_cast<std::ptrdiff_t>(steps.size() / 2), steps.end());
  double period = steps[steps.size() / 2];
  // Each beat is marked on the tracker's hop (11.6 ms), so one step is off by up to a hop; a line
  // through all of them, each counted in whole periods from the first, shares that error out.
  // Beats that do not sit near the line's count (a change of tempo) leave the median as it is.
  {
    const std::vector<double>& beats = found.BeatSeconds;
    double sumN = 0, sumT = 0, sumNN = 0, sumNT = 0;
    bool steady = true;
    for (const double t : beats) {
      const double n = std::round((t - beats.front()) / period);
      steady = steady && std::abs(t - beats.front() - n * period) <= 0.25 * period;
      sumN += n;
      sumT += t;
      sumNN += n * n;
      sumNT += n * t;
    }
    const double count = static_cast<double>(beats.size());
    const double spread = count * sumNN - sumN * sumN;
    if (steady && spread > 0) period = (count * sumNT - sumN * sumT) / spread;
  }
  found.Bpm = 60.0 / period;
  found.BeatSeconds = complete_beats(found.BeatSeconds, period, static_cast<double>(s.Samples) / BeatSampleRate);
  return found;
}

bool DetectBeats(const std::string& path, BeatTrack& track, std::string& errorText,
                 const std::function<bool()>& keepGoing) {
  BeatTracker tracker;
  std::size_t sinceAsked = 0;
  const SoundSink sink = [&](const float* samples, std::size_t frames) {
    tracker.Feed(samples, frames);
    sinceAsked += frames;
    if (sinceAsked >= KeepGoingEvery) {
      sinceAsked = 0;
      if (keepGoing && !keepGoing()) return false;
    }
    return true;
  };
  if (!DecodeSound(path, BeatSampleRate, 1, sink, errorText)) return false;
  track = tracker.Finish();
  return true;
}

bool BeatSyncedTiming(const std::string& joinedSound, const ShowTiming& plan, FrameRateParts rate, ShowTiming& timing,
                      std::string& logLine, std::string& errorText, const std::function<bool()>& keepGoing) {
  timing = plan;
  logLine.clear();
  BeatTrack track;
  if (!DetectBeats(joinedSound, track, errorText, keepGoing)) return false;
  logLine = BeatSyncLogText(track);
  if (track.Clear) timing = FitTimingToBeats(plan, track.BeatSeconds, rate);
  return true;
}

std::string BeatSyncLogText(const BeatTrack& track) {
  if (!track.Clear) return "Beat sync: no clear beat in the music; the show keeps its planned times";
  char text[64];
  std::snprintf(text, sizeof text, "Beat sync: %.1f bpm", track.Bpm);
  return text;
}

}  // namespace lumivor
