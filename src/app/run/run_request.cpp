#include "app/run/run_request.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <iterator>

#include "app/photos/exif_date.h"
#include "app/settings/choice_lists.h"
#include "app/run/conversion_job.h"
#include "app/show/frame_sequencer.h"
#include "app/settings/settings_store.h"

namespace lumivor {

namespace {

struct SizeName {
  std::string_view Name;
  int Width, Height;
};

// The engine's named frame sizes; "-s" takes these as well as WxH, so the window's editable box
// must too, or a size the encoder understands would be drawn at another.
constexpr SizeName SizeNames[] = {
    {"ntsc", 720, 480},      {"pal", 720, 576},        {"qntsc", 352, 240},     {"qpal", 352, 288},
    {"sntsc", 640, 480},     {"spal", 768, 576},       {"film", 352, 240},      {"ntsc-film", 352, 240},
    {"sqcif", 128, 96},      {"qcif", 176, 144},       {"cif", 352, 288},       {"4cif", 704, 576},
    {"16cif", 1408, 1152},   {"qqvga", 160, 120},      {"qvga", 320, 240},      {"vga", 640, 480},
    {"svga", 800, 600},      {"xga", 1024, 768},       {"uxga", 1600, 1200},    {"qxga", 2048, 1536},
    {"sxga", 1280, 1024},    {"qsxga", 2560, 2048},    {"hsxga", 5120, 4096},   {"wvga", 852, 480},
    {"wxga", 1366, 768},     {"wsxga", 1600, 1024},    {"wuxga", 1920, 1200},   {"woxga", 2560, 1600},
    {"wqsxga", 3200, 2048},  {"wquxga", 3840, 2400},   {"whsxga", 6400, 4096},  {"whuxga", 7680, 4800},
    {"cga", 320, 200},       {"ega", 640, 350},        {"hd480", 852, 480},     {"hd720", 1280, 720},
    {"hd1080", 1920, 1080},  {"2k", 2048, 1080},       {"2kflat", 1998, 1080},  {"2kscope", 2048, 858},
    {"4k", 4096, 2160},      {"4kflat", 3996, 2160},   {"4kscope", 4096, 1716}, {"nhd", 640, 360},
    {"hqvga", 240, 160},     {"wqvga", 400, 240},      {"fwqvga", 432, 240},    {"hvga", 480, 320},
    {"qhd", 960, 540},       {"2kdci", 2048, 1080},    {"4kdci", 4096, 2160},   {"uhd2160", 3840, 2160},
    {"uhd4320", 7680, 4320},
};

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && is_blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && is_blank(text.back())) text.remove_suffix(1);
  return text;
}

// A run of decimal digits at the front of text, taken off it; nothing when there is none or it
// does not fit an int.
std::optional<int> take_number(std::string_view& text) {
  int value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end == text.data() || text.front() == '-') return std::nullopt;
  text.remove_prefix(static_cast<std::size_t>(end - text.data()));
  return value;
}

std::string whole_or_decimal(double seconds) {
  if (std::isfinite(seconds) && seconds == std::floor(seconds) && std::fabs(seconds) < 1e9) {
    return std::to_string(static_cast<long long>(seconds));
  }
  char text[32];
  const auto [end, error] = std::to_chars(text, text + sizeof text, seconds);
  return error == std::errc() ? std::string(text, end) : std::string("2");
}

template <std::size_t N>
int index_of(const std::string_view (&items)[N], std::string_view text) {
  for (std::size_t i = 0; i < N; ++i) {
    if (items[i] == text) return static_cast<int>(i);
  }
  return -1;
}

// A list choice's stored text, or the entry its stored index names, or fallback.
template <std::size_t N>
std::string stored_choice(const SettingsStore& settings, std::string_view textKey, std::string_view indexKey,
                          const std::string_view (&items)[N], std::string_view fallback) {
  if (const std::optional<std::string> text = settings.Find(textKey)) return *text;
  const int index = settings.ReadInteger(indexKey, -1);
  if (index >= 0 && index < static_cast<int>(N)) return std::string(items[index]);
  return std::string(fallback);
}

}  // namespace

std::optional<VideoSize> ParseVideoSize(std::string_view text) {
  text = trimmed(text);
  for (const SizeName& name : SizeNames) {
    if (name.Name == text) return VideoSize{name.Width, name.Height};
  }
  std::optional<int> width = take_number(text);
  if (!width || text.empty()) return std::nullopt;
  // Any one character parts the two sides, as the engine reads them.
  text.remove_prefix(1);
  std::optional<int> height = take_number(text);
  if (!height || !text.empty() || *width < 1 || *height < 1) return std::nullopt;
  return VideoSize{*width, *height};
}

bool FrameSizeInRange(const VideoSize& size) {
  return size.Width >= 1 && size.Height >= 1 && size.Width <= MaxFrameSide && size.Height <= MaxFrameSide;
}

std::string InvalidFrameSizeText(std::string_view entered) {
  return "Invalid frame size: " + std::string(entered);
}

std::string FrameInputOptionText(const RunRequest& request) {
  std::string text = "-f frameinput -input_type canvas -pix_fmt bgr24 -r " + std::to_string(request.RateNumerator) +
                     "/" + std::to_string(request.RateDenominator) + " -s " + std::to_string(request.Width) + "x" +
                     std::to_string(request.Height);
  if (request.Realtime) text += " -re";
  return text;
}

std::string OutputOptionText(const RunRequest& request) {
  std::string text;
  const OutputFormat* format = OutputFormatAt(request.FormatIndex);
  if (format != nullptr) text += format->CodecOptions;
  text += request.Stereo ? " -ac 2 " : " -ac 1 ";
  text += " -ar " + std::to_string(request.SampleRate);
  if (format == nullptr || format->TakesBitRate) text += " -b:v " + std::to_string(request.BitRate) + "k -qscale 6 ";
  text += " -r " + std::to_string(request.RateNumerator) + "/" + std::to_string(request.RateDenominator) + " -s " +
          std::to_string(request.Width) + "x" + std::to_string(request.Height);
  return text;
}

bool RequestFromSettings(const SettingsStore& settings, RunRequest& request, std::string& errorText) {
  // The box shows the stored entry; a size typed by hand is kept only as text.
  const std::string sizeText =
      stored_choice(settings, settings_key::VideoSize, settings_key::VideoSizeIndex, VideoSizeItems, VideoSizeDesignText);
  const std::optional<VideoSize> size = ParseVideoSize(sizeText);
  if (!size || !FrameSizeInRange(*size)) {
    errorText = InvalidFrameSizeText(sizeText);
    return false;
  }
  const std::string rateText =
      stored_choice(settings, settings_key::FrameRate, settings_key::FrameRateIndex, FrameRateItems, FrameRateItems[0]);
  const FrameRateParts rate = ParseFrameRateText(rateText);

  RunRequest read = request;
  read.FormatIndex = settings.ReadInteger(settings_key::Format, 0);
  read.Width = size->Width;
  read.Height = size->Height;
  read.RateNumerator = rate.Numerator;
  read.RateDenominator = rate.Denominator;
  read.HoldSeconds = ParseDelayText(settings.ReadString(settings_key::PhotoDelay, "5"));
  read.TransitionSeconds = ParseDelayText(settings.ReadString(settings_key::EffectDelay, "2"));
  read.Stereo = settings.ReadBool(settings_key::Stereo, true);
  // A file without the key asks for CD rate; a stored entry outside the list for the source's.
  read.SampleRate = settings.Find(settings_key::SampleRate)
                        ? SampleRateOfEntry(settings.ReadInteger(settings_key::SampleRate, 4))
                        : 44100;
  read.BitRate = settings.ReadInteger(settings_key::BitRate, 768);
  // A text the program does not know keeps the plain choice, as an older file may hold one.
  read.MusicEndRule = ParseMusicEnd(settings.ReadString(settings_key::MusicEnd, "cut")).value_or(MusicEnd::Cut);
  read.Normalize = settings.ReadBool(settings_key::Normalize, false);
  read.BeatSync = settings.ReadBool(settings_key::BeatSync, false);
  read.Screen = ParseScreenMode(settings.ReadString(settings_key::ScreenMode, "fit")).value_or(ScreenMode::Fit);
  read.Motion = ParseMotionKind(settings.ReadString(settings_key::Motion, "none")).value_or(MotionKind::None);
  read.MotionStrength = std::clamp(settings.ReadInteger(settings_key::MotionStrength, DefaultMotionStrength), 0,
                                   MaxMotionStrength);
  read.Scaler =
      ParsePictureScaler(settings.ReadString(settings_key::Scaler, "smooth")).value_or(PictureScaler::Smooth);
  read.AutoRotate = settings.ReadBool(settings_key::AutoRotate, true);
  read.OutputFolder = settings.ReadString(settings_key::OutPutDir, std::string());
  request = std::move(read);
  return true;
}

void StoreRequestSettings(const RunRequest& request, SettingsStore& settings) {
  const std::string size = std::to_string(request.Width) + "x" + std::to_string(request.Height);
  const std::string rate = std::to_string(request.RateNumerator) + ":" + std::to_string(request.RateDenominator);
  const std::string bitRate = std::to_string(request.BitRate);
  int sampleRateEntry = 0;
  for (int entry = 0; entry < static_cast<int>(std::size(SampleRateItems)); ++entry) {
    if (SampleRateOfEntry(entry) == request.SampleRate) sampleRateEntry = entry;
  }
  settings.WriteInteger(settings_key::Format, request.FormatIndex);
  settings.WriteInteger(settings_key::VideoSizeIndex, index_of(VideoSizeItems, size));
  settings.WriteString(settings_key::VideoSize, size);
  settings.WriteInteger(settings_key::FrameRateIndex, index_of(FrameRateItems, rate));
  settings.WriteString(settings_key::FrameRate, rate);
  settings.WriteInteger(settings_key::SampleRate, sampleRateEntry);
  settings.WriteInteger(settings_key::BitRateIndex, index_of(BitRateItems, bitRate));
  settings.WriteString(settings_key::BitRate, bitRate);
  // Both channel keys every time: the pair must never disagree.
  settings.WriteBool(settings_key::Stereo, request.Stereo);
  settings.WriteBool(settings_key::Mono, !request.Stereo);
  settings.WriteString(settings_key::PhotoDelay, whole_or_decimal(request.HoldSeconds));
  settings.WriteString(settings_key::EffectDelay, whole_or_decimal(request.TransitionSeconds));
  settings.WriteString(settings_key::MusicEnd, std::string(MusicEndName(request.MusicEndRule)));
  // Written once chosen: a file of someone who never turned them on stays as it was.
  if (request.Normalize || settings.Find(settings_key::Normalize)) settings.WriteBool(settings_key::Normalize, request.Normalize);
  if (request.BeatSync || settings.Find(settings_key::BeatSync)) settings.WriteBool(settings_key::BeatSync, request.BeatSync);
  settings.WriteString(settings_key::ScreenMode, std::string(ScreenModeName(request.Screen)));
  settings.WriteString(settings_key::Motion, std::string(MotionKindName(request.Motion)));
  settings.WriteInteger(settings_key::MotionStrength, request.MotionStrength);
  settings.WriteString(settings_key::Scaler, std::string(PictureScalerName(request.Scaler)));
  settings.WriteBool(settings_key::AutoRotate, request.AutoRotate);
  if (!request.OutputFolder.empty()) settings.WriteString(settings_key::OutPutDir, request.OutputFolder);
}

ShowTiming RequestTiming(const RunRequest& request) {
  const FrameRateParts rate{request.RateNumerator, request.RateDenominator};
  const std::size_t photos = request.Photos.size();
  ShowTiming timing;
  timing.HoldFrames.reserve(photos + 1);
  timing.TransitionFrames.reserve(photos + 2);
  timing.TransitionFrames.push_back(CountFrames(rate, request.TransitionSeconds));
  // The title card is shown as one more picture before the photos, with the show's own times.
  if (HasTitleCard(request)) {
    timing.HoldFrames.push_back(CountFrames(rate, request.HoldSeconds));
    timing.TransitionFrames.push_back(CountFrames(rate, request.TransitionSeconds));
  }
  for (std::size_t i = 0; i < photos; ++i) {
    // Choices past the photo list belong to no photo; photos past the choices take the show's.
    const PhotoChoices own = i < request.PerPhoto.size() ? request.PerPhoto[i] : PhotoChoices{};
    timing.HoldFrames.push_back(CountFrames(rate, own.HoldSeconds.value_or(request.HoldSeconds)));
    timing.TransitionFrames.push_back(CountFrames(rate, own.TransitionSeconds.value_or(request.TransitionSeconds)));
  }
  return timing;
}

std::optional<CaptionRule> ParseCaptionRule(std::string_view name) {
  if (name == "none") return CaptionRule::None;
  if (name == "date") return CaptionRule::Date;
  return std::nullopt;
}

std::string_view CaptionRuleName(CaptionRule rule) { return rule == CaptionRule::Date ? "date" : "none"; }

bool HasTitleCard(const RunRequest& request) { return !request.Title.empty() || !request.Subtitle.empty(); }

std::int64_t ShowPictureCount(const RunRequest& request) {
  return static_cast<std::int64_t>(request.Photos.size()) + (HasTitleCard(request) ? 1 : 0);
}

std::string PhotoCaptionText(const RunRequest& request, int index) {
  if (index < 0 || static_cast<std::size_t>(index) >= request.Photos.size()) return std::string();
  const std::size_t at = static_cast<std::size_t>(index);
  if (at < request.PhotoCaptions.size() && request.PhotoCaptions[at]) return *request.PhotoCaptions[at];
  if (request.Captions != CaptionRule::Date) return std::string();
  const std::optional<PhotoDate> date = PhotoFileDate(request.Photos[at]);
  return date ? FormatPhotoDate(*date) : std::string();
}

bool HasCaptions(const RunRequest& request) {
  if (request.Captions != CaptionRule::None) return true;
  return std::any_of(request.PhotoCaptions.begin(), request.PhotoCaptions.end(),
                     [](const std::optional<std::string>& own) { return own && !own->empty(); });
}

}  // namespace lumivor
