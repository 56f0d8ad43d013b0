// Where the user's choices live between runs. The window keeps them in an INI file (one
// [settings] section); the command line runs the same job over a store in memory so that it never
// touches the user's file.
//
// Reads never fail: a missing file, key or number yields the caller's default. Writes can fail
// (a read-only folder, a full disk, a name that is not a regular file); each failure returns
// false, keeps its reason in LastErrorText and is passed to OnWriteFailed, so the face can show it.
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace lumivor {

// The keys of the [settings] section. Their spelling is what existing files hold.
namespace settings_key {
inline constexpr std::string_view FirstRun = "firstrun";
inline constexpr std::string_view OutPutDir = "OutPutDir";
inline constexpr std::string_view Format = "format";
inline constexpr std::string_view QualityIndex = "qualityindex";
inline constexpr std::string_view VideoSizeIndex = "videosizeindex";
inline constexpr std::string_view VideoSize = "videosize";
inline constexpr std::string_view FrameRateIndex = "framerateindex";
inline constexpr std::string_view FrameRate = "framerate";
inline constexpr std::string_view SampleRate = "samplerate";
inline constexpr std::string_view BitRateIndex = "bitrateindex";
inline constexpr std::string_view BitRate = "bitrate";
inline constexpr std::string_view Stereo = "stereo";
inline constexpr std::string_view Mono = "mono";
inline constexpr std::string_view PhotoDelay = "PhotoDelay";
inline constexpr std::string_view EffectDelay = "EffectDelay";
// How photos are laid into the frame and how they move: "fit", "fill" or "blur"; "none", "zoom",
// "pan" or "random"; the motion's strength in percent.
inline constexpr std::string_view ScreenMode = "ScreenMode";
inline constexpr std::string_view Motion = "Motion";
inline constexpr std::string_view MotionStrength = "MotionStrength";
// How a fitted photo is scaled: "smooth" (also when missing) or "nearest", the old whole pixels.
inline constexpr std::string_view Scaler = "Scaler";
// How the music ends with the video: "cut", "fade" or "loop".
inline constexpr std::string_view MusicEnd = "MusicEnd";
// "1": each track is brought to a common loudness before the join; "0" (also when missing) leaves
// the tracks' own levels.
inline constexpr std::string_view Normalize = "Normalize";
// "1": the transitions are moved onto the music's beats; "0" (also when missing) keeps their times.
inline constexpr std::string_view BeatSync = "BeatSync";
// "1" (also when missing): photos are turned upright by their orientation tag as they load.
inline constexpr std::string_view AutoRotate = "AutoRotate";
}  // namespace settings_key

inline constexpr std::string_view SettingsSection = "settings";

class SettingsStore {
 public:
  virtual ~SettingsStore() = default;

  // The stored text of key (letter case ignored), or nothing when the key is missing.
  virtual std::optional<std::string> Find(std::string_view key) const = 0;

  std::string ReadString(std::string_view key, const std::string& defaultValue) const;
  // Decimal text, blanks around it allowed; anything else (or a missing key) gives defaultValue.
  int ReadInteger(std::string_view key, int defaultValue) const;
  // Read as an integer: any non-zero value is true.
  bool ReadBool(std::string_view key, bool defaultValue) const;

  bool WriteString(std::string_view key, const std::string& value);
  bool WriteInteger(std::string_view key, int value);
  bool WriteBool(std::string_view key, bool value);  // "1" or "0"

  // The reason of the last failed write; empty after a write that succeeded.
  const std::string& LastErrorText() const { return lastErrorText_; }
  std::function<void(const std::string& errorText)> OnWriteFailed;

 protected:
  // Stores value under key; false with a reason in errorText.
  virtual bool Store(std::string_view key, const std::string& value, std::string& errorText) = 0;

 private:
  std::string lastErrorText_;
};

// The INI file. Nothing is cached: every read opens and parses the file, every write rewrites it
// at once, keeping every other key, section, comment and line as it was. The folder is created by
// the first write; the file is replaced only as a whole (never left half-written), and a name that
// is not a regular file (a folder, a FIFO, a device) is neither read nor replaced.
class IniSettingsStore : public SettingsStore {
 public:
  explicit IniSettingsStore(std::string fileName, std::string section = std::string(SettingsSection));

  std::optional<std::string> Find(std::string_view key) const override;
  const std::string& FileName() const { return fileName_; }

 protected:
  bool Store(std::string_view key, const std::string& value, std::string& errorText) override;

 private:
  std::string fileName_;
  std::string section_;
};

// Keys and values in memory, with the same letter-case rule as the file.
class MemorySettingsStore : public SettingsStore {
 public:
  std::optional<std::string> Find(std::string_view key) const override;

 protected:
  bool Store(std::string_view key, const std::string& value, std::string& errorText) override;

 private:
  struct CaseInsensitiveLess {
    bool operator()(const std::string& a, const std::string& b) const;
  };
  std::map<std::string, std::string, CaseInsensitiveLess> values_;
};

namespace detail {
// The value of key in section of INI text, as the store reads it.
std::optional<std::string> FindIniValue(std::string_view text, std::string_view section, std::string_view key);
// The INI text with key set to value in section; everything else kept.
std::string SetIniValue(std::string_view text, std::string_view section, std::string_view key,
                        std::string_view value);
}  // namespace detail

}  // namespace lumivor
