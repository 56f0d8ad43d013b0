// The handlers of the option table: rows that act instead of storing a value.
#include <strings.h>

#include <algorithm>
#include <cerrno>
#include <cfloat>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <limits>
#include <new>
#include <string>

#include "media/engine/error_text.h"
#include "media/engine/ffmpeg_opt.h"
#include "media/engine/media_helpers.h"
#include "media/runtime/ff_log.h"
#include "media/runtime/format_text.h"

namespace lumivor {
namespace {

constexpr int kInvalidArgument = -EINVAL;

const char* OrEmpty(const char* text) { return text != nullptr ? text : ""; }

// A whole decimal integer with an optional sign; nothing else, no overflow.
bool ParseWholeDecimal(const std::string& text, std::int64_t& value) {
  std::size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  if (i == text.size()) return false;
  std::int64_t magnitude = 0;
  for (; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    const int digit = text[i] - '0';
    if (magnitude > (std::numeric_limits<std::int64_t>::max() - digit) / 10) return false;
    magnitude = magnitude * 10 + digit;
  }
  value = negative ? -magnitude : magnitude;
  return true;
}


// Reads integers as scanf's "%d" does, between the literal characters of pattern ('d' stands for
// a number, anything else must match). Returns how many numbers were read before the first
// mismatch. Numbers beyond the 32-bit range are clamped, so they fail the range checks instead
// of wrapping.
int ScanIntegers(const char* text, const char* pattern, int* const* out) {
  int count = 0;
  const char* p = text;
  for (const char* q = pattern; *q != 0; ++q) {
    if (*q != 'd') {
      if (*p != *q) break;
      ++p;
      continue;
    }
    while (*p == ' ' || *p == '\t') ++p;
    const char* start = p;
    if (*p == '+' || *p == '-') ++p;
    if (!(*p >= '0' && *p <= '9')) break;
    errno = 0;
    char* end = nullptr;
    const long long number = std::strtoll(start, &end, 10);
    const bool overflow = errno == ERANGE;
    long long clamped = number;
    if (overflow || number > std::numeric_limits<int>::max()) clamped = number < 0 ? std::numeric_limits<int>::min()
                                                                                     : std::numeric_limits<int>::max();
    if (clamped < std::numeric_limits<int>::min()) clamped = std::numeric_limits<int>::min();
    *out[count++] = static_cast<int>(clamped);
    p = end;
  }
  return count;
}

// An index read as strtol with base 0 reads it (decimal, octal or hexadecimal by prefix), clamped
// to the 32-bit range; end points after the number.
int ReadIndex(const char* text, const char** end) {
  char* stop = nullptr;
  errno = 0;
  const long long number = std::strtoll(text, &stop, 0);
  *end = stop;
  if (number > std::numeric_limits<int>::max()) return std::numeric_limits<int>::max();
  if (number < std::numeric_limits<int>::min()) return std::numeric_limits<int>::min();
  return static_cast<int>(number);
}

// A channel layout given by name ("stereo", "5.1", "2c", ...) or by its mask as a number.
bool LookUpChannelLayout(const char* text, std::uint64_t& mask, int& channels) {
  AVChannelLayout layout{};
  bool found = false;
  char* end = nullptr;
  errno = 0;
  const unsigned long long number = std::strtoull(text, &end, 0);
  // A plain number is a layout mask, as the option has always read it; names come next.
  if (*text >= '0' && *text <= '9' && end != nullptr && *end == 0 && errno == 0 && number != 0) {
    found = lib::av_channel_layout_from_mask(&layout, number) == 0;
  } else {
    found = lib::av_channel_layout_from_string(&layout, text) == 0;
  }
  if (found && layout.order != AV_CHANNEL_ORDER_NATIVE) found = false;
  if (found) {
    mask = layout.u.mask;
    channels = layout.nb_channels;
  }
  lib::av_channel_layout_uninit(&layout);
  return found;
}

}  // namespace

int TCustomFFmpegOpt::RejectIgnored(TOptionsContext*, const char* key, const char*) {
  OptionErrorText() = FormatText("options \"%s\" not supported, ignore", key);
  DefaultLogger().Log(this, llWarning, OptionErrorText());
  return 0;
}

int TCustomFFmpegOpt::RejectUnsupported(TOptionsContext*, const char* key, const char*) {
  OptionErrorText() = FormatText("options \"%s\" not supported", key);
  DefaultLogger().Log(this, llError, OptionErrorText());
  return kInvalidArgument;
}

int TCustomFFmpegOpt::RejectRemoved(TOptionsContext*, const char* key, const char*) {
  OptionErrorText() = FormatText(
      "Option \"%s\" was removed. If you are looking for an option to preserve the quality (which is not what -%s "
      "was for), use -qscale 0 or an equivalent quality factor option.",
      key, key);
  DefaultLogger().Log(this, llWarning, OptionErrorText());
  return kInvalidArgument;
}

int TCustomFFmpegOpt::NoOperation(TOptionsContext*, const char*, const char*) { return 0; }

int TCustomFFmpegOpt::SetLogLevelOption(TOptionsContext*, const char*, const char* argument) {
  return ApplyLogLevelText(OrEmpty(argument));
}

int TCustomFFmpegOpt::SetMaxAlloc(TOptionsContext*, const char*, const char* argument) {
  const std::string text = OrEmpty(argument);
  std::int64_t value = 0;
  const bool digitsOnly = !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
  if (!digitsOnly || !ParseWholeDecimal(text, value)) {
    OptionErrorText() = FormatText("Invalid max_alloc \"%s\".", text.c_str());
    DefaultLogger().Log(this, llFatal, OptionErrorText());
    return kInvalidArgument;
  }
  lib::av_max_alloc(static_cast<std::size_t>(value));
  return 0;
}

int TCustomFFmpegOpt::SetCpuFlags(TOptionsContext*, const char*, const char* argument) {
  unsigned flags = static_cast<unsigned>(lib::av_get_cpu_flags());
  const int result = lib::av_parse_cpu_caps(&flags, OrEmpty(argument));
  if (result < 0) {
    OptionErrorText() = ErrorText(FormatText("Failed to parse cpu flags \"%s\"", OrEmpty(argument)), result);
    DefaultLogger().Log(this, llFatal, OptionErrorText());
    return result;
  }
  lib::av_force_cpu_flags(static_cast<int>(flags));
  return 0;
}

int TCustomFFmpegOpt::MapStream(TOptionsContext* o, const char*, const char* argument) {
  const std::string text = OrEmpty(argument);
  std::string map = text;
  const bool negative = !map.empty() && map[0] == '-';
  if (negative) map.erase(0, 1);

  int syncFileIndex = -1;
  int syncStreamIndex = -1;
  const std::size_t comma = map.find(',');
  if (comma != std::string::npos) {
    const std::string sync = map.substr(comma + 1);
    map.resize(comma);
    const char* end = nullptr;
    syncFileIndex = ReadIndex(sync.c_str(), &end);
    if (syncFileIndex < 0 || syncFileIndex >= InputFileCount()) FailFmt("Invalid sync file index: %d.", syncFileIndex);
    if (*end != 0) ++end;
    AVFormatContext* context = InputFiles[syncFileIndex]->Context.get();
    for (unsigned i = 0; i < context->nb_streams; ++i) {
      if (MatchStreamSpecifier(context, context->streams[i], end) == 1) {
        syncStreamIndex = static_cast<int>(i);
        break;
      }
    }
    if (syncStreamIndex < 0) FailFmt("Sync stream specification in map %s does not match any streams.", text.c_str());
  }

  if (!map.empty() && map[0] == '[') {
    const std::size_t close = map.find(']');
    TStreamMap stream;
    stream.LinkLabel = map.substr(1, close == std::string::npos ? std::string::npos : close - 1);
    if (stream.LinkLabel.empty()) FailFmt("Invalid output link label: %s.", map.c_str());
    o->StreamMaps.push_back(std::move(stream));
    return 0;
  }

  const char* end = nullptr;
  const int fileIndex = ReadIndex(map.c_str(), &end);
  if (fileIndex < 0 || fileIndex >= InputFileCount()) FailFmt("Invalid input file index: %d.", fileIndex);
  if (*end == ':') ++end;
  const char* specifier = end;
  AVFormatContext* context = InputFiles[fileIndex]->Context.get();

  bool matched = false;
  if (negative) {
    for (TStreamMap& stream : o->StreamMaps) {
      // Maps of filter outputs name no input stream.
      if (!stream.LinkLabel.empty() || stream.FileIndex != fileIndex) continue;
      if (stream.StreamIndex < 0 || static_cast<unsigned>(stream.StreamIndex) >= context->nb_streams) continue;
      if (MatchStreamSpecifier(context, context->streams[stream.StreamIndex], specifier) > 0) stream.Disabled = 1;
    }
    matched = !o->StreamMaps.empty();
  } else {
    for (unsigned i = 0; i < context->nb_streams; ++i) {
      if (MatchStreamSpecifier(context, context->streams[i], specifier) <= 0) continue;
      TStreamMap stream;
      stream.FileIndex = fileIndex;
      stream.StreamIndex = static_cast<int>(i);
      stream.SyncFileIndex = syncFileIndex >= 0 ? syncFileIndex : fileIndex;
      stream.SyncStreamIndex = syncFileIndex >= 0 ? syncStreamIndex : static_cast<int>(i);
      o->StreamMaps.push_back(std::move(stream));
      matched = true;
    }
  }
  if (!matched) FailFmt("Stream map \"%s\" matches no streams.", text.c_str());
  return 0;
}

int TCustomFFmpegOpt::MapAudioChannel(TOptionsContext* o, const char*, const char* argument) {
  const char* text = OrEmpty(argument);
  TAudioChannelMap map;
  {
    int* const fields[] = {&map.ChannelIndex, &map.OutputFileIndex, &map.OutputStreamIndex};
    const int count = ScanIntegers(text, "d:d.d", fields);
    if ((count == 1 || count == 3) && map.ChannelIndex == -1) {
      map.FileIndex = -1;
      map.StreamIndex = -1;
      if (count == 1) {
        map.OutputFileIndex = -1;
        map.OutputStreamIndex = -1;
      }
      o->AudioChannelMaps.push_back(map);
      return 0;
    }
  }
  map = TAudioChannelMap();
  int* const fields[] = {&map.FileIndex, &map.StreamIndex, &map.ChannelIndex, &map.OutputFileIndex,
                         &map.OutputStreamIndex};
  const int count = ScanIntegers(text, "d.d.d:d.d", fields);
  if (count != 3 && count != 5) Fail("Syntax error, mapchan usage: [file.stream.channel|-1][:syncfile:syncstream]");
  if (count == 3) {
    map.OutputFileIndex = -1;
    map.OutputStreamIndex = -1;
  }
  if (map.FileIndex < 0 || map.FileIndex >= InputFileCount()) {
    FailFmt("mapchan: invalid input file index: %d", map.FileIndex);
  }
  const TInputFile& file = *InputFiles[map.FileIndex];
  const int streams = std::min<int>(file.StreamCount, static_cast<int>(file.Context->nb_streams));
  if (map.StreamIndex < 0 || map.StreamIndex >= streams) {
    FailFmt("mapchan: invalid input file stream index #%d.%d", map.FileIndex, map.StreamIndex);
  }
  const AVCodecParameters* parameters = file.Context->streams[map.StreamIndex]->codecpar;
  if (parameters->codec_type != AVMEDIA_TYPE_AUDIO) {
    FailFmt("mapchan: stream #%d.%d is not an audio stream.", map.FileIndex, map.StreamIndex);
  }
  // A negative channel would index before the start of the stream's channels.
  if (map.ChannelIndex < 0 || map.ChannelIndex >= parameters->ch_layout.nb_channels) {
    FailFmt("mapchan: invalid audio channel #%d.%d.%d", map.FileIndex, map.StreamIndex, map.ChannelIndex);
  }
  o->AudioChannelMaps.push_back(map);
  return 0;
}

int TCustomFFmpegOpt::AddAttachment(TOptionsContext* o, const char*, const char* argument) {
  o->Attachments.emplace_back(OrEmpty(argument));
  return 0;
}

int TCustomFFmpegOpt::AddComplexFilter(TOptionsContext*, const char*, const char* argument) {
  try {
    auto graph = std::make_unique<TFilterGraph>();
    graph->Index = FilterGraphCount();
    graph->Description = OrEmpty(argument);
    FilterGraphs.push_back(std::move(graph));
  } catch (const std::bad_alloc&) {
    return AVERROR(ENOMEM);
  }
  return 0;
}

int TCustomFFmpegOpt::SetRecordingTimestamp(TOptionsContext* o, const char* key, const char* argument) {
  const std::int64_t us = ParseTime(key, argument, false);
  const auto seconds = static_cast<std::int64_t>(std::llround(static_cast<double>(us) / 1000000.0));
  // Local time on the zone's base bias only, as the zone text says.
  const std::time_t local = static_cast<std::time_t>(seconds - static_cast<std::int64_t>(TimeZoneBaseBias()) * 60);
  std::tm parts{};
  char date[64] = "";
  if (gmtime_r(&local, &parts) != nullptr) std::strftime(date, sizeof date, "%Y-%m-%d %H:%M:%S", &parts);
  const std::string value = "creation_time=" + std::string(date) + " " + TimeZoneText();
  const int result = ParseOption(*this, o, "metadata", value.c_str(), OptionRows());
  DefaultLogger().Log(this, llWarning,
                      FormatText("%s is deprecated, set the \"creation_time\" metadata tag instead.", key));
  return result;
}

// The alias rows name their stream type by their first letter: dframes, vcodec, af, ...
int TCustomFFmpegOpt::SetFramesAlias(TOptionsContext* o, const char* key, const char* argument) {
  const std::string name = std::string("frames:") + key[0];
  return ParseOption(*this, o, name.c_str(), argument, OptionRows());
}

int TCustomFFmpegOpt::SetCodecAlias(TOptionsContext* o, const char* key, const char* argument) {
  const std::string name = std::string("codec:") + key[0];
  return ParseOption(*this, o, name.c_str(), argument, OptionRows());
}

int TCustomFFmpegOpt::SetFilterAlias(TOptionsContext* o, const char* key, const char* argument) {
  const std::string name = std::string("filter:") + key[0];
  return ParseOption(*this, o, name.c_str(), argument, OptionRows());
}

int TCustomFFmpegOpt::SetAudioQuality(TOptionsContext* o, const char*, const char* argument) {
  return ParseOption(*this, o, "q:a", argument, OptionRows());
}

int TCustomFFmpegOpt::SetOldToNew(TOptionsContext* o, const char* key, const char* argument) {
  const std::string name = std::string(key + 1) + ":" + key[0];
  return ParseOption(*this, o, name.c_str(), argument, OptionRows());
}

int TCustomFFmpegOpt::SetQScale(TOptionsContext* o, const char* key, const char* argument) {
  if (std::strcmp(key, "qscale") == 0) {
    DefaultLogger().Log(this, llWarning, "Please use -q:a or -q:v, -qscale is ambiguous");
    return ParseOption(*this, o, "q:v", argument, OptionRows());
  }
  const std::string name = std::string("q") + (key + std::strlen("qscale"));
  return ParseOption(*this, o, name.c_str(), argument, OptionRows());
}

int TCustomFFmpegOpt::SetProfile(TOptionsContext* o, const char* key, const char* argument) {
  const char* name = key;
  if (std::strcmp(key, "profile") == 0) {
    DefaultLogger().Log(this, llWarning, "Please use -profile:a or -profile:v, -profile is ambiguous");
    name = "profile:v";
  }
  lib::av_dict_set(DictionaryRef(o->Group->CodecOptions), name, argument, 0);
  return 0;
}

int TCustomFFmpegOpt::SetBitrate(TOptionsContext* o, const char* key, const char* argument) {
  const char* name = key;
  if (std::strcmp(key, "b") == 0) {
    DefaultLogger().Log(this, llWarning, "Please use -b:a or -b:v, -b is ambiguous");
    name = "b:v";
  }
  lib::av_dict_set(DictionaryRef(o->Group->CodecOptions), name, argument, 0);
  return 0;
}

int TCustomFFmpegOpt::SetTimecode(TOptionsContext* o, const char*, const char* argument) {
  const std::string value = "timecode=" + std::string(OrEmpty(argument));
  if (ParseOption(*this, o, "metadata:g", value.c_str(), OptionRows()) >= 0) {
    lib::av_dict_set(DictionaryRef(o->Group->CodecOptions), "gop_timecode", argument, 0);
  }
  return 0;
}

int TCustomFFmpegOpt::SetChannelLayout(TOptionsContext* o, const char* key, const char* argument) {
  std::uint64_t mask = 0;
  int channels = 0;
  if (!LookUpChannelLayout(OrEmpty(argument), mask, channels)) {
    OptionErrorText() = FormatText("Unknown channel layout: %s", OrEmpty(argument));
    DefaultLogger().Log(this, llError, OptionErrorText());
    return kInvalidArgument;
  }
  const std::string layoutText = std::to_string(mask);
  const int result = SetPresetOption(*this, o, key, layoutText.c_str());
  if (result < 0) return result;
  const char* suffix = std::strchr(key, ':');
  const std::string name = std::string("ac") + (suffix != nullptr ? suffix : "");
  const std::string channelsText = std::to_string(channels);
  return ParseOption(*this, o, name.c_str(), channelsText.c_str(), OptionRows());
}

int TCustomFFmpegOpt::SetStreamId(TOptionsContext* o, const char* key, const char* argument) {
  const std::string text = OrEmpty(argument);
  const std::size_t colon = text.find(':');
  std::int64_t index = 0;
  std::int64_t value = 0;
  const std::string indexText = colon == std::string::npos ? text : text.substr(0, colon);
  const std::string valueText = colon == std::string::npos ? std::string() : text.substr(colon + 1);
  if (colon == std::string::npos || !ParseWholeDecimal(indexText, index) || !ParseWholeDecimal(valueText, value)) {
    OptionErrorText() = FormatText("Invalid value \"%s\" for option \"%s\", required syntax is \"index:value\"",
                                   text.c_str(), key);
    DefaultLogger().Log(this, llError, OptionErrorText());
    return kInvalidArgument;
  }
  constexpr int kMaxStreams = 1024;
  if (index < 0 || index > kMaxStreams - 1) {
    OptionErrorText() = FormatText("The value for \"%s\" was \"%s\" which is not within %d - %d", "streamid",
                                   indexText.c_str(), 0, kMaxStreams - 1);
    DefaultLogger().Log(this, llError, OptionErrorText());
    return kInvalidArgument;
  }
  if (value < 0 || value > kInt32Max) {
    OptionErrorText() = FormatText("The value for \"%s\" was \"%s\" which is not within %d - %d", "streamid",
                                   valueText.c_str(), 0, kInt32Max);
    DefaultLogger().Log(this, llError, OptionErrorText());
    return kInvalidArgument;
  }
  if (o->StreamIdMap.size() < static_cast<std::size_t>(index) + 1) o->StreamIdMap.resize(index + 1, 0);
  o->StreamIdMap[index] = static_cast<std::int32_t>(value);
  return 0;
}

int TCustomFFmpegOpt::SetProgressUrl(TOptionsContext*, const char*, const char* argument) {
  const char* url = std::strcmp(OrEmpty(argument), "-") == 0 ? "pipe:" : OrEmpty(argument);
  StampWriteStart();
  AVIOContext* output = nullptr;
  const int result = lib::avio_open2(&output, url, AVIO_FLAG_WRITE, &WriteInterrupt, nullptr);
  if (result < 0) {
    OptionErrorText() = FormatText("Failed to open progress URL \"%s\": %s", url, ErrorText(result).c_str());
    DefaultLogger().Log(this, llError, OptionErrorText());
    return result;
  }
  ProgressOutput.reset(output);
  return 0;
}

int TCustomFFmpegOpt::SetVideoSync(TOptionsContext*, const char*, const char* argument) {
  static const struct {
    const char* Name;
    std::int32_t Method;
  } kNames[] = {{"cfr", 1}, {"vfr", 2}, {"passthrough", 0}, {"drop", 255}};
  const char* text = OrEmpty(argument);
  for (const auto& name : kNames) {
    if (strcasecmp(text, name.Name) == 0) VideoSyncMethod = name.Method;
  }
  // The setting is engine-wide: once a name has set it, a later number is not read.
  if (VideoSyncMethod == -1) {
    std::int64_t number = 0;
    const bool valid = ParseWholeDecimal(text, number) &&
                       (number == -1 || number == 0 || number == 1 || number == 2 || number == 255);
    if (!valid) {
      OptionErrorText() = FormatText("The value for \"%s\" was \"%s\" which is invalid", "vsync", text);
      DefaultLogger().Log(this, llError, OptionErrorText());
      return kInvalidArgument;
    }
    VideoSyncMethod = static_cast<std::int32_t>(number);
  }
  return 0;
}

int TCustomFFmpegOpt::SetDeinterlace(TOptionsContext*, const char* key, const char*) {
  DefaultLogger().Log(this, llWarning, FormatText("-%s is deprecated, use -filter:v yadif instead", key));
  DoDeinterlace = 1;
  return 0;
}

int TCustomFFmpegOpt::SetVstats(TOptionsContext*, const char*, const char*) {
  const std::time_t now = std::time(nullptr);
  std::tm parts{};
  char clock[16] = "000000";
  if (localtime_r(&now, &parts) != nullptr) std::strftime(clock, sizeof clock, "%H%M%S", &parts);
  VstatsFileName = FormatText("vstats_%s.log", clock);
  return 0;
}

int TCustomFFmpegOpt::SetVstatsFile(TOptionsContext*, const char*, const char* argument) {
  VstatsFileName = OrEmpty(argument);
  return 0;
}

int TCustomFFmpegOpt::SetVideoChannel(TOptionsContext*, const char*, const char* argument) {
  DefaultLogger().Log(this, llWarning, "This option is deprecated, use -channel.");
  return SetDefaultOption(Options, "channel", OrEmpty(argument));
}

int TCustomFFmpegOpt::SetVideoStandard(TOptionsContext*, const char*, const char* argument) {
  DefaultLogger().Log(this, llWarning, "This option is deprecated, use -standard.");
  return SetDefaultOption(Options, "standard", OrEmpty(argument));
}

int TCustomFFmpegOpt::TimeSecondsOption(TOptionsContext* o, const char* target, const char* argument) {
  double seconds = 0;
  const double microseconds = ParseDecimal(OrEmpty(argument), DBL_MAX, seconds) ? seconds * 1000000.0 : NAN;
  // Beyond the 64-bit range no whole number of microseconds exists.
  if (!std::isfinite(microseconds) || std::fabs(microseconds) >= 9.2e18) {
    OptionErrorText() = FormatText("'%s' is not a valid floating point value", OrEmpty(argument));
    DefaultLogger().Log(this, llError, OptionErrorText());
    return kInvalidArgument;
  }
  // nearbyint under the default rounding mode: halves go to the even neighbour.
  const auto rounded = static_cast<long long>(std::nearbyint(microseconds));
  const std::string text = std::to_string(rounded);
  return ParseOption(*this, o, target, text.c_str(), OptionRows());
}

int TCustomFFmpegOpt::SetTimeStartSeconds(TOptionsContext* o, const char*, const char* argument) {
  return TimeSecondsOption(o, "ss_microsecond", argument);
}

int TCustomFFmpegOpt::SetTimeLengthSeconds(TOptionsContext* o, const char*, const char* argument) {
  return TimeSecondsOption(o, "t_microsecond", argument);
}

}  // namespace lumivor
