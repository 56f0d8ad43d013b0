#include "app/audio_joiner.h"

#include <filesystem>
#include <system_error>

#include "media/components/ff_decoder.h"
#include "media/components/ff_encoder.h"

namespace lumivor {

std::int64_t SlideshowSeconds(const AudioJoinRequest& request) {
  return std::int64_t{request.PhotoDelaySeconds} * request.PhotoCount +
         std::int64_t{request.EffectDelaySeconds} * (request.PhotoCount - 1);
}

std::int64_t JoinedAudioSeconds(const AudioJoinRequest& request) {
  const std::int64_t photos = request.PhotoCount;
  const std::int64_t frames =
      (photos + 1) * request.TransitionFrames + photos * request.HoldFrames + 2;
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

namespace {

// folder + "/tempaudio-" + the first track's name without its extension.
std::string joined_audio_base(const std::string& outputFolder, const std::string& firstTrack) {
  std::string name = firstTrack.substr(firstTrack.find_last_of('/') == std::string::npos
                                           ? 0
                                           : firstTrack.find_last_of('/') + 1);
  const std::size_t dot = name.rfind('.');
  if (dot != std::string::npos) name.erase(dot);
  std::string folder = outputFolder;
  if (folder.empty() || folder.back() != '/') folder += '/';
  return folder + "tempaudio-" + name;
}

bool taken(const std::string& path) {
  std::error_code error;
  // A dangling link is a name in use too: the join would write through it.
  return std::filesystem::exists(std::filesystem::symlink_status(path, error));
}

}  // namespace

std::string JoinedAudioFileName(const std::string& outputFolder, const std::string& firstTrack) {
  return joined_audio_base(outputFolder, firstTrack) + ".mp3";
}

std::string FreeJoinedAudioFileName(const std::string& outputFolder, const std::string& firstTrack) {
  const std::string base = joined_audio_base(outputFolder, firstTrack);
  std::string candidate = base + ".mp3";
  for (long n = 1; taken(candidate); ++n) candidate = base + "_" + std::to_string(n) + ".mp3";
  return candidate;
}

std::string AudioJoiner(TFFEncoder& encoder, TFFDecoder& decoder, const AudioJoinRequest& request) {
  if (request.Tracks.empty()) return std::string();
  encoder.ClearTasks();

  std::int64_t total = 0;
  int task = -1;
  for (std::size_t i = 0; i < request.Tracks.size(); ++i) {
    const std::string& track = request.Tracks[i];
    if (decoder.LoadFile(track)) {
      TFileStreamInfo info;
      if (decoder.GetFileStreamInfo(info) && info.Duration > 0) total += info.Duration;
    }
    TInputOptions options;
    options.FileName = track;
    if (i == 0) {
      task = encoder.AddTask(track, &options);
    } else if (task >= 0) {
      encoder.AddInput(task, track, &options);
    }
  }
  decoder.CloseFile();

  if (SlideshowSeconds(request) * 1000000 >= total) return std::string();
  // Started without a task, the encoder would wait for an end that never comes; a join that cannot
  // even be built leaves the slideshow without sound instead.
  if (task < 0) return std::string();

  TOutputOptions output;
  output.Options = JoinedAudioOptionText(JoinedAudioSeconds(request));
  output.Join = request.Tracks.size() > 1;
  const std::string fileName = FreeJoinedAudioFileName(request.OutputFolder, request.Tracks.front());
  output.FileName = fileName;
  if (encoder.SetOutput(task, fileName, &output) < 0) return std::string();
  encoder.StartTask(1);
  return fileName;
}

}  // namespace lumivor
