// The audio tracks laid under a slideshow: when together they last longer than the slideshow,
// they are re-encoded, one after another, into one temporary MP3 file by a task of the encoder
// component; the conversion job then takes that file as the video's sound.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace lumivor {

class TFFEncoder;
class TFFDecoder;

struct AudioJoinRequest {
  std::vector<std::string> Tracks;  // full paths, in playing order
  std::string OutputFolder;         // where the joined file goes (the joiner's output folder)
  int PhotoCount = 0;
  // Whole seconds of the two delay boxes: the slideshow's length as the user counts it.
  int PhotoDelaySeconds = 0;
  int EffectDelaySeconds = 0;
  // The run's frame counts and rate: the length of the video the run will really make.
  int HoldFrames = 1;
  int TransitionFrames = 1;
  int RateNumerator = 30;
  int RateDenominator = 1;
};

// Photo delay x photos + effect delay x (photos - 1): the tracks must last longer than this, in
// seconds, for a joined file to be made.
std::int64_t SlideshowSeconds(const AudioJoinRequest& request);

// The length of the video the run makes - (photos + 1) transitions, the holds and the two black
// tail frames - at the frame rate, rounded up to whole seconds: the " -t " of the joined file.
std::int64_t JoinedAudioSeconds(const AudioJoinRequest& request);

// The output option text of the joining task.
std::string JoinedAudioOptionText(std::int64_t seconds);

// "tempaudio-" + the first track's name without its extension + ".mp3" in the output folder.
std::string JoinedAudioFileName(const std::string& outputFolder, const std::string& firstTrack);
// The joined file the run writes: JoinedAudioFileName when no file has that name, else the first
// free of "tempaudio-" + name + "_1.mp3", "_2.mp3", ... A file already there is someone's own; the
// join would overwrite it and the run's end would delete it.
std::string FreeJoinedAudioFileName(const std::string& outputFolder, const std::string& firstTrack);

// Builds and starts (in a worker thread) the joining task and returns the joined file's path; an
// empty path when there are no tracks, when they are not longer than the slideshow, or when the
// task could not be built (the reason is in the encoder's LastErrorText). The encoder's tasks are
// cleared first; the caller waits for the run and clears them afterwards.
std::string AudioJoiner(TFFEncoder& encoder, TFFDecoder& decoder, const AudioJoinRequest& request);

}  // namespace lumivor
