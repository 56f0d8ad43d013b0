// The audio tracks laid under a slideshow: when together they last longer than the slideshow,
// they are re-encoded, one after another, into one temporary MP3 file by a task of the encoder
// component; the conversion job then takes that file as the video's sound. The joined sound is
// laid out to the sample: it ends with the video's last frame, not at some whole second after it.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lumivor {

class TFFEncoder;
class TFFDecoder;

// How the music ends with the video.
//  Cut:  tracks that together outlast the slideshow are joined and cut at the video's end; shorter
//        ones are not used.
//  Fade: as Cut, the last 2 seconds faded out; tracks shorter than the video are used too, fading
//        out over their own last 2 seconds.
//  Loop: the track list played again and again until the video's end, the last 2 seconds faded.
enum class MusicEnd { Cut, Fade, Loop };

inline constexpr double MusicFadeSeconds = 2.0;
// A loop of very short tracks stops after this many tracks, fading out at its own end.
inline constexpr int MaxLoopedTracks = 500;

std::optional<MusicEnd> ParseMusicEnd(std::string_view name);
std::string_view MusicEndName(MusicEnd end);

// What the joiner makes of the tracks under one rule.
struct MusicPlan {
  bool Used = false;         // false: the video goes without sound
  int Repeats = 1;           // times the track list is heard, the last time cut at Seconds
  int Inputs = 0;            // tracks opened for the join: the list Repeats times, or one more
  double Seconds = 0;        // length of the joined sound
  bool Fade = false;         // faded out over MusicFadeSeconds up to FadeEnd
  double FadeEnd = 0;        // the video's own end, or the sound's when that comes first
};

// The joined file's sample rate: its length and its fade are counted in these samples.
inline constexpr int JoinedSampleRate = 44100;

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
  // The video's frames when the run counted them from each photo's own timing; 0 counts them from
  // PhotoCount, HoldFrames and TransitionFrames.
  std::int64_t ShowFrames = 0;
  MusicEnd End = MusicEnd::Cut;
  // Decibels of gain for each track, in the order of Tracks; empty: every track as it is.
  std::vector<double> TrackGainsDb;
  // Told the joined file's name before anything is written under it, so that the caller can have
  // the file removed on every way out, a signal ending the program included.
  std::function<void(const std::string& fileName)> OnFileNamed;
};

// How long the tracks must last, in seconds, for a joined file to be made: the video's own length
// (VideoSeconds) when the run counted its frames (ShowFrames) at a rate it can use, else photo
// delay x photos + effect delay x (photos - 1). Whole-second delays leave out the transitions from
// and to black and any photo's own timing, and tracks that only outlast them would end before the
// video under the cut rule.
double SlideshowSeconds(const AudioJoinRequest& request);

// The length of the video the run makes - (photos + 1) transitions, the holds and the two black
// tail frames - at the frame rate, to the frame (a rate of 30000/1001 included). A rate the engine
// refuses anyway leaves the slideshow's own count of seconds.
double VideoSeconds(const AudioJoinRequest& request);

// seconds in whole samples at rate, to the nearest.
std::int64_t SecondsToSamples(double seconds, int rate);

// The plan for tracks that together last tracksMicroseconds.
MusicPlan PlanMusic(const AudioJoinRequest& request, std::int64_t tracksMicroseconds);

// The joining task's option text for a plan whose Inputs are the task's inputs: the inputs' sound
// one after another in one filter graph, cut at the plan's length to the sample and faded out
// up to FadeEnd when the plan fades, encoded as MP3 at JoinedSampleRate. One graph rather than
// the encoder's join: a join ends each input on a whole encoder frame, so many short inputs would
// add up to seconds of sound past the cut. trackGainsDb, when not empty, gives each track (input i
// is track i modulo its size) a volume filter ahead of the joining.
std::string MusicOptionText(const MusicPlan& plan, const std::vector<double>& trackGainsDb = {});

// The log's line: the rule and the sound's length ("Music end: fade, the sound lasts 27.20 s").
std::string MusicPlanText(MusicEnd end, const MusicPlan& plan);

// "tempaudio-" + the first track's name without its extension + ".mp3" in the output folder. A
// name longer than the folder takes (FolderNameLimit) keeps as much of the track's name as fits.
std::string JoinedAudioFileName(const std::string& outputFolder, const std::string& firstTrack);
// The joined file the run writes: JoinedAudioFileName when no file has that name, else the first
// free of "tempaudio-" + name + "_1.mp3", "_2.mp3", ... A file already there is someone's own; the
// join would overwrite it and the run's end would delete it.
std::string FreeJoinedAudioFileName(const std::string& outputFolder, const std::string& firstTrack);

// The tracks' stated lengths added up, in microseconds (a track that states none counts 0). Empty,
// or the first track's TrackProblem.
std::string MeasureTracks(TFFDecoder& decoder, const std::vector<std::string>& tracks, std::int64_t& microseconds);

// Why a track cannot go under the slideshow, naming it; empty when it can: a regular file the
// decoder opens and that has an audio stream. decoder keeps a usable track open, and nothing else.
std::string TrackProblem(TFFDecoder& decoder, const std::string& track);

// Builds and starts (in a worker thread) the joining task and returns the joined file's path; an
// empty path when there are no tracks or when they are not longer than the slideshow. A track
// that cannot be used or a join that cannot be built leaves errorText naming the track (or the
// joined file), starts nothing and leaves no file behind: music silently shorter than the user's
// tracks is never made. The encoder's tasks are cleared first; the caller waits for the run and
// clears them afterwards. planText, when given, receives MusicPlanText for the run (empty without
// tracks or when a track cannot be used).
std::string AudioJoiner(TFFEncoder& encoder, TFFDecoder& decoder, const AudioJoinRequest& request,
                        std::string* planText, std::string& errorText);

// The run's text for a joining task that ended in failure: the tracks it was joining, by name,
// and the task's own reason.
std::string JoinFailureText(const std::vector<std::string>& tracks, const std::string& reason);

}  // namespace lumivor
