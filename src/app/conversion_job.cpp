#include "app/conversion_job.h"

#include <charconv>
#include <filesystem>
#include <system_error>

namespace lumivor {

namespace {

// One row per list entry, in the list's order. The native "aac" encoder stands where the codec
// options once named libfaac, which this library generation does not have.
constexpr OutputFormat OutputFormats[OutputFormatCount] = {
    {"mp4", " -c:v mpeg4 -c:a aac", ".mp4"},
    {"swf", " -c:a libmp3lame", ".swf"},
    {"flv", " -c:a libmp3lame", ".flv"},
    {"wmv", " -c:v wmv2 -c:a wmav2", ".wmv"},
    {"mov", " -c:v mpeg4 -c:a aac", ".mov"},
    {"mkv", " -pix_fmt yuv420p  -c:v libx264 ", ".mkv"},
};

// Hertz of the sample-rate list's entries; entry 0 is "as source".
constexpr int SampleRates[] = {0, 8000, 11025, 22050, 44100};

bool taken(const std::filesystem::path& path) {
  std::error_code error;
  // symlink_status: a link is a name in use even when what it points at is gone.
  return std::filesystem::exists(std::filesystem::symlink_status(path, error));
}

}  // namespace

int IntegerOrDefault(const std::string& text, int fallback) {
  std::size_t start = 0;
  while (start < text.size() && (text[start] == ' ' || text[start] == '\t')) ++start;
  if (start < text.size() && text[start] == '+') ++start;
  const char* first = text.data() + start;
  const char* last = text.data() + text.size();
  int value = 0;
  const auto [end, error] = std::from_chars(first, last, value);
  if (error != std::errc() || end != last || first == last) return fallback;
  return value;
}

FrameSize ParseFrameSizeText(const std::string& text) {
  const std::size_t x = text.find('x');
  // Without an "x" the width part is empty and the height part is the whole text.
  const std::string width = x == std::string::npos ? std::string() : text.substr(0, x);
  const std::string height = x == std::string::npos ? text : text.substr(x + 1);
  return {IntegerOrDefault(width, 320), IntegerOrDefault(height, 320)};
}

std::string RateOptionValue(const std::string& frameRateText) {
  std::string value = frameRateText;
  const std::size_t colon = value.find(':');
  if (colon != std::string::npos) value[colon] = '/';
  return value;
}

std::string FrameInputOptionText(const std::string& frameRateText, const std::string& frameSizeText, bool realtime) {
  std::string text = "-f frameinput -input_type canvas -pix_fmt bgr24 -r " + RateOptionValue(frameRateText) +
                     " -s " + frameSizeText;
  if (realtime) text += " -re";
  return text;
}

const OutputFormat* OutputFormatAt(int formatIndex) {
  if (formatIndex < 0 || formatIndex >= OutputFormatCount) return nullptr;
  return &OutputFormats[formatIndex];
}

int OutputFormatIndex(const std::string& entry) {
  for (int i = 0; i < OutputFormatCount; ++i) {
    if (entry == OutputFormats[i].Entry) return i;
  }
  return -1;
}

int SampleRateOfEntry(int entry) {
  if (entry < 0 || entry >= static_cast<int>(std::size(SampleRates))) return 0;
  return SampleRates[entry];
}

std::string OutputOptionText(const OutputChoices& choices) {
  std::string text;
  if (const OutputFormat* format = OutputFormatAt(choices.FormatIndex)) text += format->CodecOptions;
  text += choices.Stereo ? " -ac 2 " : " -ac 1 ";
  text += " -ar " + std::to_string(choices.SampleRate);
  text += " -b:v " + std::to_string(choices.BitRate) + "k" + " -qscale 6 ";
  text += " -r " + RateOptionValue(choices.FrameRateText) + " -s " + choices.FrameSizeText;
  return text;
}

std::string UniqueOutputName(const std::string& folder, const std::string& name, const std::string& extension) {
  std::string base = folder;
  if (base.empty() || base.back() != '/') base += '/';
  std::string stem = name.substr(name.find_last_of('/') == std::string::npos ? 0 : name.find_last_of('/') + 1);
  const std::size_t dot = stem.rfind('.');
  if (dot != std::string::npos) stem.erase(dot);
  base += stem;
  std::string candidate = base + "_(new)" + extension;
  for (long n = 1; taken(candidate); ++n) candidate = base + "_(new_" + std::to_string(n) + ")" + extension;
  return candidate;
}

}  // namespace lumivor
