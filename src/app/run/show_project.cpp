#include "app/run/show_project.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <nlohmann/json.hpp>
#include <span>

#include "app/settings/choice_lists.h"
#include "app/run/conversion_job.h"
#include "app/files/output_file.h"
#include "app/run/output_formats.h"
#include "effects/effect.h"

namespace lumivor {

namespace {

// Keys keep the order they are written in, so the marker is the file's first entry and a person
// reading the file meets the photos before the technical choices.
using Json = nlohmann::ordered_json;

constexpr const char* MarkerKey = "lumivorProject";

// A project is a few kilobytes per hundred photos; anything near this is not one, and reading it
// whole would only spend memory.
constexpr std::size_t MaxProjectBytes = 16 * 1024 * 1024;

// Raised inside this file only: the text says what is wrong, without the file's name.
struct Refusal {
  std::string Text;
};

[[noreturn]] void refuse(std::string text) { throw Refusal{std::move(text)}; }

std::string quoted(const std::string& text) { return "\"" + text + "\""; }

// ------------------------------------------------------------------ reading values

const Json* member(const Json& object, const char* key) {
  const auto found = object.find(key);
  return found == object.end() ? nullptr : &*found;
}

// What a value is, in the words the messages use (the reader's own names are a programmer's).
std::string kind_of(const Json& value) {
  if (value.is_null()) return "null";
  if (value.is_string()) return "a text";
  if (value.is_boolean()) return "true or false";
  if (value.is_number()) return "a number";
  if (value.is_object()) return "an object";
  if (value.is_array()) return "a list";
  return "a value of another kind";
}

void expect_type(const Json& value, bool ok, const std::string& path, const char* wanted) {
  if (!ok) refuse(path + " must be " + wanted + ", not " + kind_of(value));
}

const Json& object_at(const Json& value, const std::string& path) {
  expect_type(value, value.is_object(), path, "an object");
  return value;
}

const Json& array_at(const Json& value, const std::string& path) {
  expect_type(value, value.is_array(), path, "a list");
  return value;
}

long long whole_at(const Json& value, const std::string& path, long long low, long long high) {
  expect_type(value, value.is_number(), path, "a whole number");
  const auto out_of_range = [&] {
    refuse(path + " is " + value.dump() + "; it must be from " + std::to_string(low) + " to " + std::to_string(high));
  };
  // Digits past the 64-bit range arrive as a floating-point number: still a number, only too big.
  if (value.is_number_float()) {
    const double number = value.get<double>();
    if (!(number >= static_cast<double>(low) && number <= static_cast<double>(high))) out_of_range();
    if (number != std::floor(number)) refuse(path + " is " + value.dump() + "; it must be a whole number");
    return static_cast<long long>(number);
  }
  // A value beyond the signed range arrives as unsigned; it is out of every range here.
  const bool huge = value.is_number_unsigned() && value.get<std::uint64_t>() > static_cast<std::uint64_t>(high);
  const long long number = huge ? high : value.get<long long>();
  if (huge || number < low || number > high) {
    refuse(path + " is " + value.dump() + "; it must be from " + std::to_string(low) + " to " + std::to_string(high));
  }
  return number;
}

// Seconds are kept to the tenth, as the storyboard sets them; a finer value is a file edited by
// hand or by another program, and rounding it would quietly change the show.
double tenths_at(const Json& value, const std::string& path, const DelayRange& range) {
  expect_type(value, value.is_number(), path, "a number of seconds");
  const double seconds = value.get<double>();
  const double tenths = seconds * 10;
  if (!(seconds >= range.Min && seconds <= range.Max) || std::fabs(tenths - std::round(tenths)) > 1e-6) {
    refuse(path + " is " + value.dump() + "; it must be from " + std::to_string(range.Min) + " to " +
           std::to_string(range.Max) + " seconds, in tenths");
  }
  return std::round(tenths) / 10;
}

bool bool_at(const Json& value, const std::string& path) {
  expect_type(value, value.is_boolean(), path, "true or false");
  return value.get<bool>();
}

std::string text_at(const Json& value, const std::string& path) {
  expect_type(value, value.is_string(), path, "a text");
  return value.get<std::string>();
}

template <typename T>
T choice_at(const Json& value, const std::string& path, std::optional<T> (*parse)(std::string_view),
            const char* allowed) {
  const std::string text = text_at(value, path);
  const std::optional<T> choice = parse(text);
  if (!choice) refuse(path + " is " + quoted(text) + "; it must be " + allowed);
  return *choice;
}

constexpr const char* ScreenModes = "fit, fill or blur";
constexpr const char* MotionKinds = "none, zoom, pan or random";
constexpr const char* Scalers = "smooth or nearest";
constexpr const char* MusicEnds = "cut, fade or loop";
constexpr const char* CaptionRules = "none or date";

// A name as the file holds it, made absolute from the project's folder.
std::string file_at(const Json& value, const std::string& path, const std::filesystem::path& folder) {
  const std::string name = text_at(value, path);
  if (name.empty()) refuse(path + " is empty; it must name a file");
  if (name.find('\0') != std::string::npos) refuse(path + " holds a NUL character");
  const std::filesystem::path file(name);
  return (file.is_absolute() ? file : folder / file).lexically_normal().string();
}

ShowPhoto photo_at(const Json& value, const std::string& path, const std::filesystem::path& folder) {
  const Json& entry = object_at(value, path);
  ShowPhoto photo;
  const Json* file = member(entry, "file");
  if (file == nullptr) refuse(path + " has no \"file\"");
  photo.File = file_at(*file, path + ".file", folder);
  PhotoChoices& own = photo.Choices;
  if (const Json* v = member(entry, "hold")) own.HoldSeconds = tenths_at(*v, path + ".hold", PhotoDelayRange);
  if (const Json* v = member(entry, "screen")) own.Screen = choice_at(*v, path + ".screen", ParseScreenMode, ScreenModes);
  if (const Json* v = member(entry, "motion")) own.Motion = choice_at(*v, path + ".motion", ParseMotionKind, MotionKinds);
  if (const Json* v = member(entry, "motionStrength")) {
    own.MotionStrength = static_cast<int>(whole_at(*v, path + ".motionStrength", 0, MaxMotionStrength));
  }
  if (const Json* v = member(entry, "transition")) {
    const std::string at = path + ".transition";
    const Json& transition = object_at(*v, at);
    if (const Json* effect = member(transition, "effect")) {
      own.TransitionEffect = static_cast<int>(whole_at(*effect, at + ".effect", 1, EffectCount));
    }
    if (const Json* seconds = member(transition, "seconds")) {
      own.TransitionSeconds = tenths_at(*seconds, at + ".seconds", EffectDelayRange);
    }
  }
  if (const Json* v = member(entry, "caption")) photo.Caption = text_at(*v, path + ".caption");
  return photo;
}

void read_show(const Json& value, ShowProject& project) {
  const Json& show = object_at(value, "show");
  if (const Json* v = member(show, "hold")) project.HoldSeconds = tenths_at(*v, "show.hold", PhotoDelayRange);
  if (const Json* v = member(show, "transition")) {
    project.TransitionSeconds = tenths_at(*v, "show.transition", EffectDelayRange);
  }
  if (const Json* v = member(show, "screen")) project.Screen = choice_at(*v, "show.screen", ParseScreenMode, ScreenModes);
  if (const Json* v = member(show, "motion")) project.Motion = choice_at(*v, "show.motion", ParseMotionKind, MotionKinds);
  if (const Json* v = member(show, "motionStrength")) {
    project.MotionStrength = static_cast<int>(whole_at(*v, "show.motionStrength", 0, MaxMotionStrength));
  }
  if (const Json* v = member(show, "scaler")) project.Scaler = choice_at(*v, "show.scaler", ParsePictureScaler, Scalers);
  if (const Json* v = member(show, "musicEnd")) project.MusicEndRule = choice_at(*v, "show.musicEnd", ParseMusicEnd, MusicEnds);
  if (const Json* v = member(show, "normalize")) project.Normalize = bool_at(*v, "show.normalize");
  if (const Json* v = member(show, "beatSync")) project.BeatSync = bool_at(*v, "show.beatSync");
  if (const Json* v = member(show, "effects")) {
    if (v->is_array()) {
      project.RandomEffects = false;
      project.EffectOrder.clear();
      for (std::size_t i = 0; i < v->size(); ++i) {
        project.EffectOrder.push_back(
            static_cast<int>(whole_at((*v)[i], "show.effects[" + std::to_string(i) + "]", 1, EffectCount)));
      }
      if (project.EffectOrder.empty()) refuse("show.effects is an empty list; it must name at least one effect");
    } else {
      const std::string order = text_at(*v, "show.effects");
      if (order != "random" && order != "sequential") {
        refuse("show.effects is " + quoted(order) + "; it must be random, sequential or a list of effect numbers");
      }
      project.RandomEffects = order == "random";
      project.EffectOrder.clear();
    }
  }
  if (const Json* v = member(show, "seed")) {
    if (v->is_null()) {
      project.Seed.reset();
    } else {
      project.Seed = static_cast<std::uint32_t>(whole_at(*v, "show.seed", 0, 4294967295LL));
    }
  }
  if (const Json* v = member(show, "title")) project.Title = text_at(*v, "show.title");
  if (const Json* v = member(show, "subtitle")) project.Subtitle = text_at(*v, "show.subtitle");
  if (const Json* v = member(show, "captions")) {
    project.Captions = choice_at(*v, "show.captions", ParseCaptionRule, CaptionRules);
  }
}

void read_output(const Json& value, ShowProject& project) {
  const Json& output = object_at(value, "output");
  if (const Json* v = member(output, "format")) {
    project.FormatIndex = static_cast<int>(whole_at(*v, "output.format", 0, OutputFormatCount - 1));
  }
  if (const Json* v = member(output, "width")) project.Width = static_cast<int>(whole_at(*v, "output.width", 1, MaxFrameSide));
  if (const Json* v = member(output, "height")) {
    project.Height = static_cast<int>(whole_at(*v, "output.height", 1, MaxFrameSide));
  }
  if (const Json* v = member(output, "rate")) {
    const Json& rate = object_at(*v, "output.rate");
    if (const Json* n = member(rate, "numerator")) {
      project.RateNumerator = static_cast<int>(whole_at(*n, "output.rate.numerator", 1, 1000000));
    }
    if (const Json* d = member(rate, "denominator")) {
      project.RateDenominator = static_cast<int>(whole_at(*d, "output.rate.denominator", 1, 1000000));
    }
  }
  if (const Json* v = member(output, "bitRate")) project.BitRate = static_cast<int>(whole_at(*v, "output.bitRate", 1, 1000000));
  if (const Json* v = member(output, "stereo")) project.Stereo = bool_at(*v, "output.stereo");
  if (const Json* v = member(output, "sampleRate")) {
    const int rate = static_cast<int>(whole_at(*v, "output.sampleRate", 0, 1000000));
    bool listed = false;
    for (int entry = 0; entry < static_cast<int>(std::size(SampleRateItems)); ++entry) {
      if (SampleRateOfEntry(entry) == rate) listed = true;
    }
    if (!listed) refuse("output.sampleRate is " + v->dump() + "; it must be 0 (the tracks' own), 8000, 11025, 22050 or 44100");
    project.SampleRate = rate;
  }
}

// The whole document; every value is checked before any of it is kept.
ShowProject read_project(const Json& document, const std::filesystem::path& folder) {
  if (!document.is_object()) refuse("it is not a Lumivor project (the file holds no JSON object)");
  const Json* marker = member(document, MarkerKey);
  if (marker == nullptr) refuse("it is not a Lumivor project (no \"lumivorProject\" entry)");
  expect_type(*marker, marker->is_number_integer(), MarkerKey, "the project format's number");
  // Asked before anything else: a newer file is refused for being newer, not for a value it may
  // hold that this version does not know.
  const bool newer = marker->is_number_unsigned() ? marker->get<std::uint64_t>() > ShowProjectFormatVersion
                                                 : marker->get<long long>() > ShowProjectFormatVersion;
  if (newer) {
    refuse("it was made by a newer version of Lumivor (project format " + marker->dump() + "; this version reads " +
           std::to_string(ShowProjectFormatVersion) + ")");
  }
  ShowProject project;
  project.FormatVersion = static_cast<int>(whole_at(*marker, MarkerKey, 1, ShowProjectFormatVersion));
  if (const Json* photos = member(document, "photos")) {
    array_at(*photos, "photos");
    for (std::size_t i = 0; i < photos->size(); ++i) {
      project.Photos.push_back(photo_at((*photos)[i], "photos[" + std::to_string(i) + "]", folder));
    }
  }
  if (const Json* tracks = member(document, "tracks")) {
    array_at(*tracks, "tracks");
    for (std::size_t i = 0; i < tracks->size(); ++i) {
      project.Tracks.push_back(file_at((*tracks)[i], "tracks[" + std::to_string(i) + "]", folder));
    }
  }
  if (const Json* show = member(document, "show")) read_show(*show, project);
  if (const Json* output = member(document, "output")) read_output(*output, project);
  return project;
}

// ------------------------------------------------------------------ writing values

// JSON numbers for seconds: a whole second is written without a fraction, as a person would.
Json seconds_value(double seconds) {
  if (seconds == std::floor(seconds) && std::fabs(seconds) < 1e9) return static_cast<long long>(seconds);
  return seconds;
}

std::filesystem::path folder_of(const std::string& fileName) {
  std::error_code error;
  std::filesystem::path absolute = std::filesystem::absolute(fileName, error);
  if (error) absolute = fileName;
  return absolute.lexically_normal().parent_path();
}

// The name as the file keeps it: relative to the project's folder when it lies under it.
Json file_value(const std::string& name, const std::filesystem::path& folder, const std::string& what) {
  if (name.empty()) refuse(what + " has no file name");
  std::error_code error;
  std::filesystem::path absolute = std::filesystem::absolute(name, error);
  if (error) refuse(what + " " + quoted(name) + ": " + error.message());
  absolute = absolute.lexically_normal();
  const std::filesystem::path relative = absolute.lexically_relative(folder);
  const bool under = !relative.empty() && *relative.begin() != ".." && relative != ".";
  Json value = under ? relative.string() : absolute.string();
  // JSON holds text; a name of bytes that are not UTF-8 could not be read back as the same name.
  try {
    (void)value.dump();
  } catch (const Json::type_error&) {
    refuse(what + " " + quoted(name) + " is not UTF-8 text, which a project cannot keep");
  }
  return value;
}

// Words as the file keeps them: JSON holds UTF-8 text only, and a save must refuse what it could
// not write rather than fail halfway.
Json words_value(const std::string& text, const std::string& what) {
  Json value = text;
  try {
    (void)value.dump();
  } catch (const Json::type_error&) {
    refuse(what + " is not UTF-8 text, which a project cannot keep");
  }
  return value;
}

Json project_document(const ShowProject& project, const std::filesystem::path& folder) {
  Json document;
  document[MarkerKey] = project.FormatVersion;
  Json photos = Json::array();
  for (std::size_t i = 0; i < project.Photos.size(); ++i) {
    const ShowPhoto& photo = project.Photos[i];
    Json entry;
    entry["file"] = file_value(photo.File, folder, "photo " + std::to_string(i + 1));
    const PhotoChoices& own = photo.Choices;
    if (own.HoldSeconds) entry["hold"] = seconds_value(*own.HoldSeconds);
    if (own.Screen) entry["screen"] = ScreenModeName(*own.Screen);
    if (own.Motion) entry["motion"] = MotionKindName(*own.Motion);
    if (own.MotionStrength) entry["motionStrength"] = *own.MotionStrength;
    if (own.TransitionEffect || own.TransitionSeconds) {
      Json transition = Json::object();
      if (own.TransitionEffect) transition["effect"] = *own.TransitionEffect;
      if (own.TransitionSeconds) transition["seconds"] = seconds_value(*own.TransitionSeconds);
      entry["transition"] = std::move(transition);
    }
    if (photo.Caption) entry["caption"] = words_value(*photo.Caption, "the caption of photo " + std::to_string(i + 1));
    photos.push_back(std::move(entry));
  }
  document["photos"] = std::move(photos);
  Json tracks = Json::array();
  for (std::size_t i = 0; i < project.Tracks.size(); ++i) {
    tracks.push_back(file_value(project.Tracks[i], folder, "track " + std::to_string(i + 1)));
  }
  document["tracks"] = std::move(tracks);

  Json show;
  show["hold"] = seconds_value(project.HoldSeconds);
  show["transition"] = seconds_value(project.TransitionSeconds);
  show["screen"] = ScreenModeName(project.Screen);
  show["motion"] = MotionKindName(project.Motion);
  show["motionStrength"] = project.MotionStrength;
  show["scaler"] = PictureScalerName(project.Scaler);
  show["musicEnd"] = MusicEndName(project.MusicEndRule);
  // Written only when chosen, so that projects that never use them read as they always did.
  if (project.Normalize) show["normalize"] = true;
  if (project.BeatSync) show["beatSync"] = true;
  if (!project.EffectOrder.empty()) {
    show["effects"] = project.EffectOrder;
  } else {
    show["effects"] = project.RandomEffects ? "random" : "sequential";
  }
  if (project.Seed) show["seed"] = *project.Seed;
  // Written only when set, so that a show without words is kept as it always was.
  if (!project.Title.empty()) show["title"] = words_value(project.Title, "the title");
  if (!project.Subtitle.empty()) show["subtitle"] = words_value(project.Subtitle, "the subtitle");
  if (project.Captions != CaptionRule::None) show["captions"] = CaptionRuleName(project.Captions);
  document["show"] = std::move(show);

  Json output;
  output["format"] = project.FormatIndex;
  output["width"] = project.Width;
  output["height"] = project.Height;
  output["rate"] = Json{{"numerator", project.RateNumerator}, {"denominator", project.RateDenominator}};
  output["bitRate"] = project.BitRate;
  output["stereo"] = project.Stereo;
  output["sampleRate"] = project.SampleRate;
  document["output"] = std::move(output);
  return document;
}

// ------------------------------------------------------------------ the file

// The file's bytes, or a refusal saying why they cannot be had. A FIFO or a device is not opened
// for reading at all: it could block or never end.
std::string file_bytes(const std::string& fileName) {
  const int fd = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) refuse(std::string("cannot be read: ") + std::strerror(errno));
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};
  struct stat info {};
  if (::fstat(fd, &info) != 0) refuse(std::string("cannot be read: ") + std::strerror(errno));
  if (S_ISDIR(info.st_mode)) refuse("it is a folder, not a project file");
  if (!S_ISREG(info.st_mode)) refuse("it is not a regular file");
  if (static_cast<std::size_t>(info.st_size) > MaxProjectBytes) {
    refuse("it is " + std::to_string(info.st_size) + " bytes long, too long for a project");
  }
  std::string bytes;
  char buffer[65536];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) refuse(std::string("cannot be read: ") + std::strerror(errno));
    if (n == 0) break;
    bytes.append(buffer, static_cast<std::size_t>(n));
    if (bytes.size() > MaxProjectBytes) refuse("it is too long for a project");
  }
  return bytes;
}

// Where a parse stopped, for a person to find it: the byte (from 1) and its line and column.
std::string place_in_text(const std::string& text, std::size_t byte) {
  const std::size_t end = std::min(byte, text.size());
  std::size_t line = 1, column = 1;
  for (std::size_t i = 0; i + 1 < end; ++i) {
    if (text[i] == '\n') {
      ++line;
      column = 1;
    } else {
      ++column;
    }
  }
  return "byte " + std::to_string(byte) + ", line " + std::to_string(line) + ", column " + std::to_string(column);
}

// Where a text ends, as "after byte N (line L)".
std::string end_of_text(const std::string& text) {
  const auto lines = std::count(text.begin(), text.end(), '\n');
  const bool endsLine = !text.empty() && text.back() == '\n';
  return "after byte " + std::to_string(text.size()) + " (line " + std::to_string(lines + (endsLine ? 0 : 1)) + ")";
}

Json parsed_document(const std::string& text) {
  if (text.empty()) refuse("it is empty, not a project");
  try {
    return Json::parse(text);
  } catch (const Json::parse_error& error) {
    // The reader's own text names the token it expected; the first clause is enough to act on.
    std::string reason = error.what();
    const std::size_t colon = reason.find(": ");
    reason = colon == std::string::npos ? reason : reason.substr(colon + 2);
    // Stopped at the very end, whatever it was reading (a name, a number, a brace): the file was
    // cut short, which is what the person has to know, not which token was missing.
    if (error.byte >= text.size()) refuse("it is cut short: it ends too early, " + end_of_text(text));
    refuse("it is not valid JSON at " + place_in_text(text, error.byte) + " (" + reason + ")");
  }
}

std::string problem_of(const char* what, std::size_t number, const std::string& name) {
  const std::string which = std::string(what) + " " + std::to_string(number) + " " + quoted(name);
  struct stat info {};
  if (::stat(name.c_str(), &info) != 0) {
    return which + (errno == ENOENT ? " is missing" : std::string(" cannot be read: ") + std::strerror(errno));
  }
  if (!S_ISREG(info.st_mode)) return which + " is not a regular file";
  if (::access(name.c_str(), R_OK) != 0) return which + " cannot be read: " + std::strerror(errno);
  return std::string();
}

}  // namespace

bool SaveShowProject(const ShowProject& project, const std::string& fileName, std::string& errorText) {
  std::string text;
  try {
    const std::filesystem::path folder = folder_of(fileName);
    const Json document = project_document(project, folder);
    // What could not be read back is not written: the same rules check the document first, so a
    // save never leaves a file that a later open refuses.
    (void)read_project(document, folder);
    text = document.dump(2) + "\n";
  } catch (const Refusal& refusal) {
    errorText = "cannot save " + fileName + ": " + refusal.Text;
    return false;
  }
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
  return WriteFileReplacing(fileName, std::span<const std::uint8_t>(bytes, text.size()), errorText);
}

bool LoadShowProject(const std::string& fileName, ShowProject& project, std::string& errorText) {
  try {
    const std::string text = file_bytes(fileName);
    project = read_project(parsed_document(text), folder_of(fileName));
    return true;
  } catch (const Refusal& refusal) {
    errorText = fileName + ": " + refusal.Text;
    return false;
  }
}

bool LooksLikeShowProject(const std::string& fileName) {
  const int fd = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return false;
  struct stat info {};
  char start[128];
  ssize_t n = -1;
  if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) n = ::read(fd, start, sizeof start);
  ::close(fd);
  if (n <= 0) return false;
  std::string_view text(start, static_cast<std::size_t>(n));
  auto skip_blanks = [&text] {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t' || text.front() == '\n' || text.front() == '\r'))
      text.remove_prefix(1);
  };
  skip_blanks();
  if (text.empty() || text.front() != '{') return false;
  text.remove_prefix(1);
  skip_blanks();
  return text.starts_with("\"lumivorProject\"");
}

std::vector<std::string> ShowProjectProblems(const ShowProject& project) {
  std::vector<std::string> problems;
  for (std::size_t i = 0; i < project.Photos.size(); ++i) {
    std::string problem = problem_of("photo", i + 1, project.Photos[i].File);
    if (!problem.empty()) problems.push_back(std::move(problem));
  }
  for (std::size_t i = 0; i < project.Tracks.size(); ++i) {
    std::string problem = problem_of("track", i + 1, project.Tracks[i]);
    if (!problem.empty()) problems.push_back(std::move(problem));
  }
  return problems;
}

bool RequestFromProject(const ShowProject& project, RunRequest& request, std::string& errorText) {
  if (project.Photos.empty()) {
    errorText = "the show has no photos";
    return false;
  }
  RunRequest read = request;
  read.Photos.clear();
  read.PerPhoto.clear();
  bool anyOwnChoice = false;
  for (const ShowPhoto& photo : project.Photos) {
    read.Photos.push_back(photo.File);
    anyOwnChoice = anyOwnChoice || photo.Choices.HasAny();
  }
  if (anyOwnChoice) {
    for (const ShowPhoto& photo : project.Photos) read.PerPhoto.push_back(photo.Choices);
  }
  read.PhotoCaptions.clear();
  if (std::any_of(project.Photos.begin(), project.Photos.end(), [](const ShowPhoto& photo) { return photo.Caption.has_value(); })) {
    for (const ShowPhoto& photo : project.Photos) read.PhotoCaptions.push_back(photo.Caption);
  }
  read.Title = project.Title;
  read.Subtitle = project.Subtitle;
  read.Captions = project.Captions;
  read.Tracks = project.Tracks;
  read.FormatIndex = project.FormatIndex;
  read.Width = project.Width;
  read.Height = project.Height;
  read.RateNumerator = project.RateNumerator;
  read.RateDenominator = project.RateDenominator;
  read.HoldSeconds = project.HoldSeconds;
  read.TransitionSeconds = project.TransitionSeconds;
  read.Stereo = project.Stereo;
  read.SampleRate = project.SampleRate;
  read.BitRate = project.BitRate;
  read.MusicEndRule = project.MusicEndRule;
  read.Normalize = project.Normalize;
  read.BeatSync = project.BeatSync;
  read.RandomEffects = project.EffectOrder.empty() && project.RandomEffects;
  read.EffectOrder = project.EffectOrder;
  read.Seed = project.Seed;
  read.Screen = project.Screen;
  read.Motion = project.Motion;
  read.MotionStrength = project.MotionStrength;
  read.Scaler = project.Scaler;
  request = std::move(read);
  return true;
}

}  // namespace lumivor
