// A show kept as a document (a ".lumivor" file, JSON): the photos in show order with the choices a
// photo may have of its own, the tracks, the show's choices and the output's. The storyboard face
// edits it and the command line renders it, both through these rules, so that a file opened in one
// and rendered by the other gives the same run.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/run/audio_joiner.h"
#include "app/show/photo_layout.h"
#include "app/show/photo_motion.h"
#include "raster/picture_scale.h"
#include "app/run/run_request.h"

namespace lumivor {

// The format this program writes and the newest it reads. A file of a later format may hold
// choices this program would silently drop, so it is refused rather than half understood.
inline constexpr int ShowProjectFormatVersion = 1;
inline constexpr const char* ShowProjectExtension = ".lumivor";

struct ShowPhoto {
  std::string File;  // absolute once loaded
  PhotoChoices Choices;
  // Its own caption; an empty text keeps it without one whatever the show's caption rule.
  std::optional<std::string> Caption = std::nullopt;
  friend bool operator==(const ShowPhoto&, const ShowPhoto&) = default;
};

// Every field starts as `lumivor make PHOTO...` would choose without options.
struct ShowProject {
  int FormatVersion = ShowProjectFormatVersion;
  std::vector<ShowPhoto> Photos;
  std::vector<std::string> Tracks;  // absolute once loaded

  // The show's choices, for every photo that has none of its own. Seconds are kept in tenths.
  double HoldSeconds = 8;
  double TransitionSeconds = 2;
  ScreenMode Screen = ScreenMode::Fit;
  MotionKind Motion = MotionKind::None;
  int MotionStrength = DefaultMotionStrength;
  PictureScaler Scaler = PictureScaler::Smooth;
  MusicEnd MusicEndRule = MusicEnd::Cut;
  // The tracks brought to a common loudness; the transitions moved onto the music's beats.
  bool Normalize = false;
  bool BeatSync = false;
  // A list of effect numbers taken in turn wins; otherwise random or sequential.
  bool RandomEffects = true;
  std::vector<int> EffectOrder;
  std::optional<std::uint32_t> Seed;
  // Words on the pictures: the title card's texts (none when both are empty) and the rule for
  // photos without a caption of their own.
  std::string Title;
  std::string Subtitle;
  CaptionRule Captions = CaptionRule::None;

  // The output: a row of the format list, the frame, the sound.
  int FormatIndex = 6;  // H.264/AAC in MP4
  int Width = 1920;
  int Height = 1080;
  int RateNumerator = 30;
  int RateDenominator = 1;
  int BitRate = 1200;     // video, kilobits per second
  bool Stereo = true;
  int SampleRate = 44100;  // hertz, 0 for the tracks' own

  friend bool operator==(const ShowProject&, const ShowProject&) = default;
};

// Writes the project as JSON through OutputFile: a failure at any point leaves the file that was
// there as it was, and anything but a regular file under the name is refused. Photo and track
// names under the project file's folder are written relative to it, so that the folder can move
// as a whole; others stay absolute. false with a one-line reason naming the file.
bool SaveShowProject(const ShowProject& project, const std::string& fileName, std::string& errorText);

// Reads a project. Relative names are taken from the project file's folder. A file that cannot be
// read, is not whole JSON (the reason says at which byte and line), is of a newer format, or holds
// a value of the wrong type or outside its range is refused with one line naming the file and the
// value; project is then left as it was. Photos and tracks that are missing are not checked here:
// see ShowProjectProblems. Nothing is written.
bool LoadShowProject(const std::string& fileName, ShowProject& project, std::string& errorText);

// The file's first bytes are those this program writes at the start of every project, whatever
// the file's name.
bool LooksLikeShowProject(const std::string& fileName);

// One line per photo or track that cannot be used as it stands (missing, unreadable, not a
// regular file), naming it; empty when the show can run.
std::vector<std::string> ShowProjectProblems(const ShowProject& project);

// The run the project describes: its photos, tracks and choices; the rest of request (where the
// video goes, pacing, preview) is left as it was. Per-photo choices are carried one per photo, or
// not at all when no photo has any. false with the reason (an empty show) and request untouched.
bool RequestFromProject(const ShowProject& project, RunRequest& request, std::string& errorText);

}  // namespace lumivor
