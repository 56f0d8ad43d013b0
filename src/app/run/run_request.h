// One run described in numbers: what the window's Start and `lumivor make` both hand the
// conversion job. Every text a person types or a settings file holds is read once, here or where it
// is entered; the option texts the engine reads are then written from the numbers, so the frames
// the sequencer draws and the frames the encoder is told about can never disagree.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/run/audio_joiner.h"
#include "app/show/photo_layout.h"
#include "app/show/photo_choices.h"
#include "app/show/photo_motion.h"
#include "app/show/show_timing.h"

namespace lumivor {

class SettingsStore;

struct VideoSize {
  int Width = 0;
  int Height = 0;
  friend bool operator==(const VideoSize&, const VideoSize&) = default;
};

// A frame size as the engine's "-s" reads it: one of its abbreviations ("hd720", "vga", letter
// case as written), or a width and a height around one separator ("1280x720", "1280X720"), with
// blanks around the whole allowed. Nothing for anything else, a zero or negative side included.
std::optional<VideoSize> ParseVideoSize(std::string_view text);

// Frame sides beyond this would ask for gigabytes of working pictures before any encoder could
// refuse them.
inline constexpr int MaxFrameSide = 8192;
bool FrameSizeInRange(const VideoSize& size);

// Which photos get a caption without one of their own: none, or each the day it was taken.
enum class CaptionRule { None, Date };
// "none" or "date"; nothing for any other text.
std::optional<CaptionRule> ParseCaptionRule(std::string_view name);
std::string_view CaptionRuleName(CaptionRule rule);

struct RunRequest {
  std::vector<std::string> Photos;
  std::vector<std::string> Tracks;

  // A row of the output format list; -1 for none (the run then fails when it sets its output).
  int FormatIndex = 0;
  int Width = 320;
  int Height = 240;
  int RateNumerator = 30;
  int RateDenominator = 1;
  // Seconds each photo is held and each transition lasts.
  double HoldSeconds = 5;
  double TransitionSeconds = 2;

  // Sound.
  bool Stereo = true;
  int SampleRate = 44100;  // hertz, 0 for the source's own
  int BitRate = 768;       // video, kilobits per second
  MusicEnd MusicEndRule = MusicEnd::Cut;
  // Each track brought to a common loudness (its true peak kept below full scale) as it is joined.
  bool Normalize = false;
  // The transitions moved onto the joined music's beats, when it has a clear one.
  bool BeatSync = false;

  // Effects: a list taken in turn wins; otherwise random or sequential. A seed makes a random
  // order (and random motion) again.
  bool RandomEffects = true;
  std::vector<int> EffectOrder;
  std::optional<std::uint32_t> Seed;

  ScreenMode Screen = ScreenMode::Fit;
  MotionKind Motion = MotionKind::None;
  int MotionStrength = DefaultMotionStrength;
  PictureScaler Scaler = PictureScaler::Smooth;

  // Where the video goes: this file, or a free name in the folder (which also holds the joined
  // sound while the run lasts).
  std::string OutputFolder;
  std::string OutputFile;

  // "-re" on the frame input: frames at their native rate, the run as long as the show.
  bool Realtime = true;
  // The encoder stops once the last photo has faded out (unless the sound must end with the show).
  bool BreakWhenNoPictures = false;
  // Photos turned upright by their orientation tag as they are loaded.
  bool AutoRotate = true;
  // The encoder hands its frames to the face's preview.
  bool Preview = true;
  // Instead of encoding, this picture of the planned show (PNG or BMP by its name).
  std::string PreviewSheetFile;

  // Per-photo choices, one per photo in Photos' order; empty: every photo takes the show's.
  std::vector<PhotoChoices> PerPhoto;

  // Words on the pictures. A title card goes before the first photo when either text is set.
  std::string Title;
  std::string Subtitle;
  CaptionRule Captions = CaptionRule::None;
  // Photos' own captions, one per photo in Photos' order, or none at all. Unset: the rule's
  // caption; an empty text: no caption, whatever the rule.
  std::vector<std::optional<std::string>> PhotoCaptions;
};

// The show's timing in frames at the request's rate: each photo's own hold and following
// transition where it chose them (tenths of seconds count), the show's elsewhere; the opening
// transition is always the show's.
ShowTiming RequestTiming(const RunRequest& request);
// The title card is shown: a title or a subtitle is set.
bool HasTitleCard(const RunRequest& request);
// The pictures of the show: the photos, and the title card before them when there is one. Frame
// counts and the sound's length go by this.
std::int64_t ShowPictureCount(const RunRequest& request);
// The caption of photo number index (from 0) of request.Photos: its own text, or with the date
// rule the day its Exif block gives; empty for none. Reads the photo's file for a date, and never
// fails: a photo without a readable date simply has no caption.
std::string PhotoCaptionText(const RunRequest& request, int index);
// Some photo may have a caption.
bool HasCaptions(const RunRequest& request);

// The frame input's option text. The rate is written as N/D, the engine's own spelling.
std::string FrameInputOptionText(const RunRequest& request);
// The output's option text: the format's codec options, channels, sample rate, bit rate, the fixed
// quality scale 6, frame rate and size; the H.264 format leaves out the bit rate and the quality
// scale. It starts with a blank; the encoder trims it.
std::string OutputOptionText(const RunRequest& request);

// The settings file's side of a run: what it stores becomes the request's numbers, and the
// request's choices become what it stores. Photos, tracks, the output file, the effect list and
// seed, pacing, the break and the preview are not kept between runs. A size or rate the file holds
// that cannot be read gives false with the reason, and the request is left as it was.
bool RequestFromSettings(const SettingsStore& settings, RunRequest& request, std::string& errorText);
void StoreRequestSettings(const RunRequest& request, SettingsStore& settings);

// The text a frame size is refused with, naming what was entered.
std::string InvalidFrameSizeText(std::string_view entered);

}  // namespace lumivor
