#include "media/engine/media_helpers.h"

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <exception>
#include <memory>

#include "media/runtime/ff_load.h"

namespace lumivor {
namespace {

std::string Trim(const std::string& text) {
  const auto first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return std::string();
  const auto last = text.find_last_not_of(" \t\r\n");
  return text.substr(first, last - first + 1);
}

struct FileClose {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

}  // namespace

std::string FormatDuration(std::int64_t us) {
  if (us == AV_NOPTS_VALUE) return "N/A";
  // Three decimals are shown, so half a millisecond is what rounds to the nearest one.
  const std::int64_t rounded = us + 500;
  std::int64_t seconds = rounded / AV_TIME_BASE;
  const std::int64_t rest = rounded % AV_TIME_BASE;
  std::int64_t minutes = seconds / 60;
  seconds %= 60;
  const std::int64_t hours = minutes / 60;
  minutes %= 60;
  char text[64];
  std::snprintf(text, sizeof text, "%.2d:%.2d:%.2d.%.3d", static_cast<int>(hours), static_cast<int>(minutes),
                static_cast<int>(seconds), static_cast<int>(rest / 1000));
  return text;
}

std::string FormatTimestamp(std::int64_t timestamp, AVRational timeBase) {
  if (timestamp == AV_NOPTS_VALUE) return "N/A";
  if (timeBase.num != 1 || timeBase.den != AV_TIME_BASE) {
    timestamp = lib::av_rescale_q(timestamp, timeBase, AVRational{1, AV_TIME_BASE});
  }
  return FormatDuration(timestamp);
}

std::int64_t FrameDurationUs(AVRational frameRate) {
  if (frameRate.num == 0 || frameRate.den == 0) return AV_TIME_BASE / 25;
  return static_cast<std::int64_t>(AV_TIME_BASE) * frameRate.den / frameRate.num;
}

int TimeZoneBaseBias() {
  tzset();
  // timezone is the standard offset in seconds west of UTC, which is the sign and meaning of a
  // base bias.
  return static_cast<int>(timezone / 60);
}

std::string TimeZoneText() {
  const int bias = TimeZoneBaseBias();
  if (bias == 0) return "UTC";
  const int magnitude = bias < 0 ? -bias : bias;
  char text[32];
  std::snprintf(text, sizeof text, "%s%s%.2d:%.2d", "UTC", bias < 0 ? "-" : "+", magnitude / 60, magnitude % 60);
  return text;
}

double UnixToLocalDateTime(std::int64_t unixSeconds) {
  constexpr double kUnixEpochDays = 25569.0;  // 1 January 1970 counted from 30 December 1899
  return static_cast<double>(unixSeconds) / 86400.0 + kUnixEpochDays - TimeZoneBaseBias() / 1440.0;
}

std::string DescribeCodec(AVCodecID id, std::uint32_t codecTag, bool encoder) {
  const AVCodec* codec = encoder ? lib::avcodec_find_encoder(id) : lib::avcodec_find_decoder(id);
  if (codec != nullptr) {
    const std::string longName = codec->long_name != nullptr ? Trim(codec->long_name) : std::string();
    if (longName.empty()) return codec->name;
    return std::string(codec->name) + "(" + longName + ")";
  }
  if (id == AV_CODEC_ID_MPEG2TS) return "mpeg2ts";
  // This generation keeps no free-text codec name in the context; the descriptor's name is what
  // the library itself prints for a codec that is known but not built in.
  if (const AVCodecDescriptor* descriptor = lib::avcodec_descriptor_get(id); descriptor != nullptr) {
    const std::string name = descriptor->name != nullptr ? Trim(descriptor->name) : std::string();
    if (!name.empty()) return name;
  }
  char text[64];
  bool printable = true;
  for (int i = 0; i < 4; ++i) {
    const unsigned c = (codecTag >> (8 * i)) & 0xFF;
    if (c < 32 || c > 126) printable = false;
  }
  if (printable) {
    std::snprintf(text, sizeof text, "%c%c%c%c / 0x%04X", static_cast<char>(codecTag & 0xFF),
                  static_cast<char>((codecTag >> 8) & 0xFF), static_cast<char>((codecTag >> 16) & 0xFF),
                  static_cast<char>((codecTag >> 24) & 0xFF), codecTag);
  } else {
    std::snprintf(text, sizeof text, "0x%04x", codecTag);
  }
  return text;
}

std::string DescribeCodec(const AVCodecContext* context, bool encoder) {
  return DescribeCodec(context->codec_id, context->codec_tag, encoder);
}

std::string MediaTypeName(AVMediaType type) {
  switch (type) {
    case AVMEDIA_TYPE_VIDEO: return "Video";
    case AVMEDIA_TYPE_AUDIO: return "Audio";
    case AVMEDIA_TYPE_DATA: return "Data";
    case AVMEDIA_TYPE_SUBTITLE: return "Subtitle";
    case AVMEDIA_TYPE_ATTACHMENT: return "Attachment";
    default: return "Unknown";
  }
}

std::string DictValue(const AVDictionary* dictionary, const char* key, const std::string& defaultValue) {
  const AVDictionaryEntry* entry = lib::av_dict_get(dictionary, key, nullptr, 0);
  return entry != nullptr && entry->value != nullptr ? std::string(entry->value) : defaultValue;
}

int ReadWholeFile(const std::string& path, std::vector<std::uint8_t>& data, std::int64_t& size) {
  data.clear();
  size = 0;
  std::unique_ptr<std::FILE, FileClose> file(std::fopen(path.c_str(), "rb"));
  if (!file) {
    lib::av_log(nullptr, AV_LOG_ERROR, "Cannot read file \"%s\"\n", path.c_str());
    return -1;
  }
  long length = -1;
  if (std::fseek(file.get(), 0, SEEK_END) == 0) length = std::ftell(file.get());
  if (length < 0 || std::fseek(file.get(), 0, SEEK_SET) != 0) {
    lib::av_log(nullptr, AV_LOG_ERROR, "IO error\n");
    return AVERROR(EIO);
  }
  try {
    data.resize(static_cast<std::size_t>(length) + 1);
  } catch (const std::exception&) {  // bad_alloc, or a length no vector can hold
    lib::av_log(nullptr, AV_LOG_ERROR, "Could not allocate file buffer\n");
    return AVERROR(ENOMEM);
  }
  const std::size_t got = std::fread(data.data(), 1, static_cast<std::size_t>(length), file.get());
  if (got != static_cast<std::size_t>(length)) {
    int result = AVERROR_EOF;
    if (std::ferror(file.get())) {
      lib::av_log(nullptr, AV_LOG_ERROR, "Error while reading file \"%s\"\n", path.c_str());
      result = AVERROR(EIO);
    }
    data.clear();
    return result;
  }
  data[static_cast<std::size_t>(length)] = 0;
  size = static_cast<std::int64_t>(length) + 1;
  return 0;
}

}  // namespace lumivor
