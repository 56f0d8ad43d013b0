#include "app/run/audio_joiner.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "app/run/conversion_job.h"
#include "app/run/loudness.h"
#include "app/show/frame_sequencer.h"
#include "app/files/input_file.h"
#include "media/components/ff_decoder.h"
#include "media/components/ff_encoder.h"

namespace lumivor {

double SlideshowSeconds(const AudioJoinRequest& request) {
  if (request.ShowFrames > 0 && request.RateNumerator > 0 && request.RateDenominator > 0) return VideoSeconds(request);
  return static_cast<double>(std::int64_t{request.PhotoDelaySeconds} * request.PhotoCount +
                             std::int64_t{request.EffectDelaySeconds} * (request.PhotoCount - 1));
}

double VideoSeconds(const AudioJoinRequest& request) {
  if (request.RateNumerator <= 0 || request.RateDenominator <= 0) return static_cast<double>(SlideshowSeconds(request));
  const std::int64_t frames = request.ShowFrames > 0
                                  ? request.ShowFrames
                                  : ShowFrameCount(request.PhotoCount, request.HoldFrames, request.TransitionFrames);
  return static_cast<double>(frames) * request.RateDenominator / request.RateNumerator;
}

std::int64_t SecondsToSamples(double seconds, int rate) {
  return std::llround(std::max(seconds, 0.0) * rate);
}

std::optional<MusicEnd> ParseMusicEnd(std::string_view name) {
  if (name == "cut") return MusicEnd::Cut;
  if (name == "fade") return MusicEnd::Fade;
  if (name == "loop") return MusicEnd::Loop;
  return std::nullopt;
}

std::string_view MusicEndName(MusicEnd end) {
  switch (end) {
    case MusicEnd::Cut: return "cut";
    case MusicEnd::Fade: return "fade";
    case MusicEnd::Loop: return "loop";
  }
  return "cut";
}

namespace {

MusicPlan plan_music(const AudioJoinRequest& request, std::int64_t tracksMicroseconds) {
  MusicPlan plan;
  if (request.Tracks.empty()) return plan;
  const auto trackCount = static_cast<int>(request.Tracks.size());
  plan.Inputs = trackCount;
  const bool outlast = SlideshowSeconds(request) * 1e6 < static_cast<double>(tracksMicroseconds);
  const double videoSeconds = VideoSeconds(request);
  const double tracksSeconds = static_cast<double>(tracksMicroseconds) / 1e6;
  if (request.End == MusicEnd::Cut || (outlast && request.End == MusicEnd::Fade)) {
    plan.Used = outlast;
    // Tracks longer than the delays may still end before the video's tail: the sound is theirs.
    plan.Seconds = outlast ? std::min(videoSeconds, tracksSeconds) : 0;
    plan.Fade = outlast && request.End == MusicEnd::Fade;
    return plan;
  }
  // Tracks of no known length cannot be laid out to any length; they go as the described rule has it.
  if (tracksMicroseconds <= 0) return plan;
  plan.Used = true;
  plan.Fade = true;
  if (request.End == MusicEnd::Fade) {
    plan.Seconds = std::min(tracksSeconds, videoSeconds);
    return plan;
  }
  // A length just over a whole number of plays (by a rounding of the rate) is not one more play.
  const auto needed = static_cast<std::int64_t>(std::ceil(videoSeconds / tracksSeconds - 1e-9));
  const std::int64_t allowed = std::max(1, MaxLoopedTracks / trackCount);
  plan.Repeats = static_cast<int>(std::clamp<std::int64_t>(needed, 1, allowed));
  plan.Seconds = std::min(videoSeconds, tracksSeconds * plan.Repeats);
  // A stated length can be longer than the sound decoded from the file: an MP3's counts its
  // encoder's delay and padding, up to a few tenths of a second at low sample rates. The list is
  // laid out often enough to reach the video's end even if every track were that much shorter
  // (or half as long); what is left over is cut with the rest. A loop at its cap has no play to
  // spare and ends, faded, with its own sound.
  constexpr double StatedLengthSlack = 0.3;
  const double shortest = std::max(tracksSeconds - StatedLengthSlack * trackCount, tracksSeconds / 2);
  const auto plays = static_cast<std::int64_t>(std::ceil(videoSeconds / shortest - 1e-9));
  plan.Inputs = trackCount * static_cast<int>(std::clamp<std::int64_t>(plays, plan.Repeats, allowed));
  return plan;
}

}  // namespace

MusicPlan PlanMusic(const AudioJoinRequest& request, std::int64_t tracksMicroseconds) {
  MusicPlan plan = plan_music(request, tracksMicroseconds);
  // The fade is over by the last frame, or by the sound's own end when that comes first.
  if (plan.Fade) plan.FadeEnd = plan.Seconds;
  return plan;
}

std::string MusicOptionText(const MusicPlan& plan, const std::vector<double>& trackGainsDb) {
  const int inputs = std::max(plan.Inputs, 1);
  const std::int64_t end = SecondsToSamples(plan.Seconds, JoinedSampleRate);
  std::string graph;
  if (trackGainsDb.empty()) {
    for (int i = 0; i < inputs; ++i) graph += "[" + std::to_string(i) + ":a]";
  } else {
    // Each input its own gain before the joining, in the join's one pass; the labels it leaves
    // feed the rest of the chain as the inputs themselves would.
    std::string joined;
    for (int i = 0; i < inputs; ++i) {
      const std::string label = "[gain" + std::to_string(i) + "]";
      graph += "[" + std::to_string(i) + ":a]" +
               VolumeFilterText(trackGainsDb[static_cast<std::size_t>(i) % trackGainsDb.size()]) + label + ";";
      joined += label;
    }
    graph += joined;
  }
  if (inputs > 1) graph += "concat=n=" + std::to_string(inputs) + ":v=0:a=1,";
  // Counted from the first sample, whatever time the first track's stream starts at, so that the
  // cut and the fade fall on the video's clock.
  graph += "aresample=" + std::to_string(JoinedSampleRate) + ",asetpts=N/SR/TB,atrim=end_sample=" + std::to_string(end);
  if (plan.Fade) {
    const std::int64_t fadeEnd = std::min(end, SecondsToSamples(plan.FadeEnd, JoinedSampleRate));
    const std::int64_t fadeStart =
        std::max<std::int64_t>(0, fadeEnd - SecondsToSamples(MusicFadeSeconds, JoinedSampleRate));
    graph += ",afade=t=out:ss=" + std::to_string(fadeStart) + ":ns=" + std::to_string(fadeEnd - fadeStart);
  }
  graph += "[music]";
  // -t only tells the engine how long the run is; the graph cuts. Rounded up to the microsecond,
  // so that it never ends the sound before the graph does.
  const std::int64_t microseconds = (end * 1000000 + JoinedSampleRate - 1) / JoinedSampleRate;
  char length[48];
  std::snprintf(length, sizeof length, "%lld.%06lld", static_cast<long long>(microseconds / 1000000),
                static_cast<long long>(microseconds % 1000000));
  return std::string(" -t ") + length + " -c:a libmp3lame  -ac 2 -ab 128000 -ar " +
         std::to_string(JoinedSampleRate) + " -filter_complex " + graph + " -map [music] ";
}

std::string MusicPlanText(MusicEnd end, const MusicPlan& plan) {
  std::string text = "Music end: " + std::string(MusicEndName(end));
  if (!plan.Used) return text + ", the tracks are not used (together they are not longer than the slideshow)";
  char length[64];
  std::snprintf(length, sizeof length, "%.2f s", plan.Seconds);
  text += ", the sound lasts " + std::string(length);
  if (plan.Repeats > 1) text += ", the tracks played " + std::to_string(plan.Repeats) + " times";
  if (plan.Fade) text += ", fading out over its last 2 s";
  return text;
}

namespace {

std::string with_slash(std::string folder) {
  if (folder.empty() || folder.back() != '/') folder += '/';
  return folder;
}

// "tempaudio-" + the first track's name without its extension.
std::string joined_audio_stem(const std::string& firstTrack) {
  const std::size_t slash = firstTrack.find_last_of('/');
  std::string name = firstTrack.substr(slash == std::string::npos ? 0 : slash + 1);
  const std::size_t dot = name.rfind('.');
  if (dot != std::string::npos) name.erase(dot);
  return "tempaudio-" + name;
}

bool taken(const std::string& path) {
  std::error_code error;
  // A dangling link is a name in use too: the join would write through it.
  return std::filesystem::exists(std::filesystem::symlink_status(path, error));
}

std::string file_name_part(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The decoder's and the encoder's texts start with the file's name already; the run's text names
// it once.
std::string reason_without(const std::string& name, const std::string& text) {
  const std::string prefix = name + ": ";
  return text.compare(0, prefix.size(), prefix) == 0 ? text.substr(prefix.size()) : text;
}

}  // namespace

std::string JoinedAudioFileName(const std::string& outputFolder, const std::string& firstTrack) {
  return with_slash(outputFolder) +
         FitFileName(joined_audio_stem(firstTrack), ".mp3", FolderNameLimit(outputFolder));
}

std::string FreeJoinedAudioFileName(const std::string& outputFolder, const std::string& firstTrack) {
  const std::string folder = with_slash(outputFolder);
  const std::string stem = joined_audio_stem(firstTrack);
  const std::size_t limit = FolderNameLimit(outputFolder);
  std::string candidate = folder + FitFileName(stem, ".mp3", limit);
  for (long n = 1; taken(candidate); ++n) {
    candidate = folder + FitFileName(stem, "_" + std::to_string(n) + ".mp3", limit);
  }
  return candidate;
}

std::string TrackProblem(TFFDecoder& decoder, const std::string& track) {
  // The library would wait for ever on a FIFO or a device before any time-out could apply.
  std::string reason;
  if (!CheckInputFile(track, reason)) return "Cannot open the audio track " + track + ": " + reason;
  if (!decoder.LoadFile(track)) {
    reason = reason_without(track, decoder.LastErrorText);
    decoder.CloseFile();
    return "Cannot open the audio track " + track + ": " + reason;
  }
  // A picture, a text the library takes for some format, or a video without sound: laid under
  // the show it would give a silent video, which is not what the user asked for.
  if (decoder.AudioStreamCount > 0) return std::string();
  decoder.CloseFile();
  return "The audio track " + track + " has no audio stream";
}

std::string MeasureTracks(TFFDecoder& decoder, const std::vector<std::string>& tracks, std::int64_t& microseconds) {
  microseconds = 0;
  for (const std::string& track : tracks) {
    // Counting an unusable track as silence would make the music shorter than the user's tracks,
    // or leave it out altogether, with nothing said.
    if (std::string problem = TrackProblem(decoder, track); !problem.empty()) return problem;
    TFileStreamInfo info;
    if (decoder.GetFileStreamInfo(info) && info.Duration > 0) microseconds += info.Duration;
  }
  decoder.CloseFile();
  return std::string();
}

std::string JoinFailureText(const std::vector<std::string>& tracks, const std::string& reason) {
  std::string names;
  for (const std::string& track : tracks) names += (names.empty() ? "" : ", ") + file_name_part(track);
  return "Cannot join the audio tracks " + names + ": " + reason;
}

std::string AudioJoiner(TFFEncoder& encoder, TFFDecoder& decoder, const AudioJoinRequest& request,
                        std::string* planText, std::string& errorText) {
  errorText.clear();
  if (planText != nullptr) planText->clear();
  if (request.Tracks.empty()) return std::string();
  encoder.ClearTasks();

  std::int64_t total = 0;
  errorText = MeasureTracks(decoder, request.Tracks, total);
  if (!errorText.empty()) return std::string();

  const MusicPlan plan = PlanMusic(request, total);
  if (planText != nullptr) *planText = MusicPlanText(request.End, plan);
  if (!plan.Used) return std::string();

  const auto fail = [&](std::string text) {
    errorText = std::move(text);
    encoder.ClearTasks();
    return std::string();
  };
  int task = -1;
  for (int input = 0; input < plan.Inputs; ++input) {
    const std::string& track = request.Tracks[static_cast<std::size_t>(input) % request.Tracks.size()];
    TInputOptions options;
    options.FileName = track;
    // Started without a task, the encoder would wait for an end that never comes; without one
    // of its inputs, the music would be shorter than planned.
    const int added = task < 0 ? encoder.AddTask(track, &options) : encoder.AddInput(task, track, &options);
    if (added < 0) return fail("Cannot join the audio track " + track + ": " + reason_without(track, encoder.LastErrorText));
    if (task < 0) task = added;
  }

  TOutputOptions output;
  output.Options = MusicOptionText(plan, request.TrackGainsDb);
  const std::string fileName = FreeJoinedAudioFileName(request.OutputFolder, request.Tracks.front());
  output.FileName = fileName;
  if (request.OnFileNamed) request.OnFileNamed(fileName);
  if (encoder.SetOutput(task, fileName, &output) < 0) {
    const std::string text = "Cannot write the joined audio file " + fileName + ": " +
                             reason_without(fileName, encoder.LastErrorText);
    fail(text);
    // The name was a free one: whatever is there now was begun by this join.
    std::error_code ignored;
    std::filesystem::remove(fileName, ignored);
    return std::string();
  }
  encoder.StartTask(1);
  return fileName;
}

}  // namespace lumivor
