#include "app/run/audio_joiner.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "app/run/conversion_job.h"
#include "app/show/frame_sequencer.h"
#include "app/files/input_file.h"
#include "media/components/ff_decoder.h"
#include "media/components/ff_encoder.h"

namespace lumivor {

std::int64_t SlideshowSeconds(const AudioJoinRequest& request) {
  return std::int64_t{request.PhotoDelaySeconds} * request.PhotoCount +
         std::int64_t{request.EffectDelaySeconds} * (request.PhotoCount - 1);
}

std::int64_t JoinedAudioSeconds(const AudioJoinRequest& request) {
  const std::int64_t frames = ShowFrameCount(request.PhotoCount, request.HoldFrames, request.TransitionFrames);
  // A rate the engine will refuse anyway leaves the slideshow's own count of seconds.
  if (request.RateNumerator <= 0 || request.RateDenominator <= 0) return SlideshowSeconds(request);
  // The cut is at the end of the video, not at the last track's length: cutting there would leave
  // the joined sound shorter than the tracks it joins, or longer than the video, by chance.
  const std::int64_t scaled = frames * request.RateDenominator;
  return (scaled + request.RateNumerator - 1) / request.RateNumerator;
}

std::string JoinedAudioOptionText(std::int64_t seconds) {
  return " -t " + std::to_string(seconds) + " -c:a libmp3lame " + " -ac 2 -ab 128000 -ar 44100 ";
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

// The video's length to the frame: the joined sound's whole seconds may run a little past it, and
// a fade must be over by the last frame, not by the end of the sound.
double exact_video_seconds(const AudioJoinRequest& request) {
  if (request.RateNumerator <= 0 || request.RateDenominator <= 0) return static_cast<double>(JoinedAudioSeconds(request));
  const auto frames =
      static_cast<double>(ShowFrameCount(request.PhotoCount, request.HoldFrames, request.TransitionFrames));
  return frames * request.RateDenominator / request.RateNumerator;
}

MusicPlan plan_music(const AudioJoinRequest& request, std::int64_t tracksMicroseconds);

}  // namespace

MusicPlan PlanMusic(const AudioJoinRequest& request, std::int64_t tracksMicroseconds) {
  MusicPlan plan = plan_music(request, tracksMicroseconds);
  if (plan.Fade) plan.FadeEnd = std::min(plan.Seconds, exact_video_seconds(request));
  return plan;
}

namespace {

MusicPlan plan_music(const AudioJoinRequest& request, std::int64_t tracksMicroseconds) {
  MusicPlan plan;
  if (request.Tracks.empty()) return plan;
  const bool outlast = SlideshowSeconds(request) * 1000000 < tracksMicroseconds;
  const double videoSeconds = static_cast<double>(JoinedAudioSeconds(request));
  const double tracksSeconds = static_cast<double>(tracksMicroseconds) / 1e6;
  if (request.End == MusicEnd::Cut || (outlast && request.End == MusicEnd::Fade)) {
    plan.Used = outlast;
    plan.Seconds = outlast ? videoSeconds : 0;
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
  const std::int64_t trackCount = static_cast<std::int64_t>(request.Tracks.size());
  const auto needed = static_cast<std::int64_t>(std::ceil(videoSeconds / tracksSeconds));
  const std::int64_t allowed = std::max<std::int64_t>(1, MaxLoopedTracks / trackCount);
  plan.Repeats = static_cast<int>(std::clamp<std::int64_t>(needed, 1, allowed));
  plan.Seconds = std::min(videoSeconds, tracksSeconds * plan.Repeats);
  return plan;
}

}  // namespace

std::string MusicOptionText(const MusicPlan& plan) {
  // -t takes whole seconds here, as the described join does; a sound shorter than the video is
  // rounded up, which ends it no earlier than its tracks do.
  const auto seconds = static_cast<std::int64_t>(std::ceil(plan.Seconds - 1e-9));
  std::string text = JoinedAudioOptionText(seconds);
  if (plan.Fade) {
    const double start = std::max(0.0, plan.FadeEnd - MusicFadeSeconds);
    char fade[96];
    std::snprintf(fade, sizeof fade, " -af afade=t=out:st=%.3f:d=%.3f ", start, plan.FadeEnd - start);
    text += fade;
  }
  return text;
}

std::string MusicPlanText(MusicEnd end, const MusicPlan& plan) {
  std::string text = "Music end: " + std::string(MusicEndName(end));
  if (!plan.Used) return text + ", the tracks are not used (together they are not longer than the slideshow)";
  char length[64];
  std::snprintf(length, sizeof length, "%.1f s", plan.Seconds);
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
  for (const std::string& track : request.Tracks) {
    // Counting an unusable track as silence would make the music shorter than the user's tracks,
    // or leave it out altogether, with nothing said.
    errorText = TrackProblem(decoder, track);
    if (!errorText.empty()) return std::string();
    TFileStreamInfo info;
    if (decoder.GetFileStreamInfo(info) && info.Duration > 0) total += info.Duration;
  }
  decoder.CloseFile();

  const MusicPlan plan = PlanMusic(request, total);
  if (planText != nullptr) *planText = MusicPlanText(request.End, plan);
  if (!plan.Used) return std::string();

  const auto fail = [&](std::string text) {
    errorText = std::move(text);
    encoder.ClearTasks();
    return std::string();
  };
  int task = -1;
  for (int repeat = 0; repeat < plan.Repeats; ++repeat) {
    for (const std::string& track : request.Tracks) {
      TInputOptions options;
      options.FileName = track;
      // Started without a task, the encoder would wait for an end that never comes; without one
      // of its inputs, the music would be shorter than planned.
      const int added = task < 0 ? encoder.AddTask(track, &options) : encoder.AddInput(task, track, &options);
      if (added < 0) return fail("Cannot join the audio track " + track + ": " + reason_without(track, encoder.LastErrorText));
      if (task < 0) task = added;
    }
  }

  TOutputOptions output;
  output.Options = request.End == MusicEnd::Cut ? JoinedAudioOptionText(JoinedAudioSeconds(request))
                                                : MusicOptionText(plan);
  output.Join = request.Tracks.size() * static_cast<std::size_t>(plan.Repeats) > 1;
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
