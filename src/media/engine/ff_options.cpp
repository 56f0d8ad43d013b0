#include "media/engine/ff_options.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cfloat>
#include <clocale>
#include <cmath>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>

#include "media/engine/error_text.h"
#include "media/engine/ffmpeg_exception.h"
#include "media/engine/input_formats.h"
#include "media/runtime/ff_log.h"
#include "media/runtime/format_text.h"
#include "media/runtime/runtime_errors.h"

namespace lumivor {
namespace {

constexpr int kInvalidArgument = -EINVAL;

void LoggerLog(TLogLevel level, const std::string& text) { DefaultLogger().Log(nullptr, level, text); }

const char* OrEmpty(const char* text) { return text != nullptr ? text : ""; }

// ------------------------------------------------------------------ splitting

// Both passes of the splitter run the same rules; only what happens to a character differs.
struct CountingSink {
  int Words = 0;
  std::size_t Bytes = 0;
  void Begin() { ++Words; }
  void Put(char) { ++Bytes; }
  void End() { ++Bytes; }
};

struct WritingSink {
  char** Pointers;
  char* Next;
  int Index = 0;
  void Begin() { Pointers[Index++] = Next; }
  void Put(char c) { *Next++ = c; }
  void End() { *Next++ = '\0'; }
};

// Length of the multi-byte sequence a lead byte announces (1 for anything else).
int SequenceLength(unsigned char lead) {
  if (lead >= 0xF0 && lead <= 0xF7) return 4;
  if (lead >= 0xE0) return lead <= 0xEF ? 3 : 1;
  if (lead >= 0xC0) return 2;
  return 1;
}

template <typename Sink>
void ScanWords(const unsigned char* p, Sink& sink) {
  bool inQuotes = false;
  bool inWord = false;
  while (*p != 0) {
    const unsigned char c = *p;
    if (!inQuotes && (c == ' ' || c == '\t')) {
      if (inWord) sink.End();
      inWord = false;
      ++p;
      continue;
    }
    if (!inWord) {
      sink.Begin();
      inWord = true;
    }
    if (c == '\\') {
      std::size_t run = 0;
      while (p[run] == '\\') ++run;
      if (p[run] == '"') {
        for (std::size_t k = 0; k < run / 2; ++k) sink.Put('\\');
        p += run;
        if (run % 2 == 1) {
          sink.Put('"');
          ++p;
        }
        // With an even run the quote is left for the next turn, where it acts as a quote.
      } else {
        for (std::size_t k = 0; k < run; ++k) sink.Put('\\');
        p += run;
      }
      continue;
    }
    if (c == '"') {
      if (inQuotes && p[1] == '"') {
        sink.Put('"');
        p += 2;
      } else {
        ++p;
      }
      inQuotes = !inQuotes;
      continue;
    }
    // A multi-byte sequence is copied whole; only real continuation bytes belong to it, so a
    // broken sequence cannot swallow a quote or the terminating zero.
    const int length = SequenceLength(c);
    sink.Put(static_cast<char>(c));
    ++p;
    for (int k = 1; k < length && (*p & 0xC0) == 0x80; ++k) sink.Put(static_cast<char>(*p++));
  }
  if (inWord) sink.End();
}

// ------------------------------------------------------------------ numbers

// Decimal with an optional sign, or hexadecimal after "$" or "0x".
bool ParseInteger(const char* text, std::int64_t minimum, std::int64_t maximum, std::int64_t& value) {
  const char* p = text;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = *p++ == '-';
  unsigned base = 10;
  if (*p == '$') {
    base = 16;
    ++p;
  } else if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) {
    base = 16;
    p += 2;
  }
  if (*p == 0) return false;
  std::uint64_t magnitude = 0;
  for (; *p != 0; ++p) {
    unsigned digit;
    if (*p >= '0' && *p <= '9') {
      digit = static_cast<unsigned>(*p - '0');
    } else if (base == 16 && *p >= 'a' && *p <= 'f') {
      digit = static_cast<unsigned>(*p - 'a' + 10);
    } else if (base == 16 && *p >= 'A' && *p <= 'F') {
      digit = static_cast<unsigned>(*p - 'A' + 10);
    } else {
      return false;
    }
    if (magnitude > (std::numeric_limits<std::uint64_t>::max() - digit) / base) return false;
    magnitude = magnitude * base + digit;
  }
  constexpr std::uint64_t kMinMagnitude = std::uint64_t{1} << 63;
  if (negative) {
    if (magnitude > kMinMagnitude) return false;
    value = magnitude == kMinMagnitude ? std::numeric_limits<std::int64_t>::min()
                                       : -static_cast<std::int64_t>(magnitude);
  } else {
    if (magnitude >= kMinMagnitude) return false;
    value = static_cast<std::int64_t>(magnitude);
  }
  return value >= minimum && value <= maximum;
}


enum class ValueKind { String, Int, Int64, Time, Float, Double, Handler };

ValueKind KindOf(std::uint32_t flags) {
  if (flags & ofString) return ValueKind::String;
  if (flags & (ofBool | ofInt)) return ValueKind::Int;
  if (flags & ofInt64) return ValueKind::Int64;
  if (flags & ofTime) return ValueKind::Time;
  if (flags & ofFloat) return ValueKind::Float;
  if (flags & ofDouble) return ValueKind::Double;
  return ValueKind::Handler;
}

// Converts the argument for the row's kind into value; conversion errors are raised.
void ConvertValue(ValueKind kind, const char* key, const char* argument, SpecifierValue& value) {
  std::int64_t integer = 0;
  double number = 0;
  switch (kind) {
    case ValueKind::String:
      value.Str = argument;
      break;
    case ValueKind::Int:
      if (!ParseInteger(argument, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max(),
                        integer)) {
        throw FFmpegException(FormatText("Expected integer for \"%s\" but found \"%s\"", key, argument));
      }
      value.Int = static_cast<std::int32_t>(integer);
      break;
    case ValueKind::Int64:
      if (!ParseInteger(argument, std::numeric_limits<std::int64_t>::min(), std::numeric_limits<std::int64_t>::max(),
                        integer)) {
        throw FFmpegException(FormatText("Expected int64 for \"%s\" but found \"%s\"", key, argument));
      }
      value.Int64 = integer;
      break;
    case ValueKind::Time:
      value.Int64 = ParseTime(key, argument, true);
      break;
    case ValueKind::Float:
      if (!ParseDecimal(argument, FLT_MAX, number)) {
        throw FFmpegException(FormatText("Expected float for \"%s\" but found \"%s\"", key, argument));
      }
      value.Float = static_cast<float>(number);
      break;
    case ValueKind::Double:
      if (!ParseDecimal(argument, DBL_MAX, number)) {
        throw FFmpegException(FormatText("Expected double for \"%s\" but found \"%s\"", key, argument));
      }
      value.Double = number;
      break;
    case ValueKind::Handler:
      break;
  }
}

void StoreValue(ValueKind kind, void* destination, SpecifierValue& value) {
  switch (kind) {
    case ValueKind::String:
      *static_cast<std::string*>(destination) = std::move(value.Str);
      break;
    case ValueKind::Int:
      *static_cast<std::int32_t*>(destination) = value.Int;
      break;
    case ValueKind::Int64:
    case ValueKind::Time:
      *static_cast<std::int64_t*>(destination) = value.Int64;
      break;
    case ValueKind::Float:
      *static_cast<float*>(destination) = value.Float;
      break;
    case ValueKind::Double:
      *static_cast<double*>(destination) = value.Double;
      break;
    case ValueKind::Handler:
      break;
  }
}

// ------------------------------------------------------------------ library options

const AVOption* FindClassOption(const AVClass* avClass, const char* name, int optionFlags, int searchFlags) {
  if (avClass == nullptr) return nullptr;
  const AVClass* fake = avClass;
  return lib::av_opt_find(&fake, name, nullptr, optionFlags, searchFlags | AV_OPT_SEARCH_FAKE_OBJ);
}

int DictionaryFlags(const AVOption* option) { return option->type == AV_OPT_TYPE_FLAGS ? AV_DICT_APPEND : 0; }

// ------------------------------------------------------------------ presets

std::string Trim(const std::string& text) {
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && static_cast<unsigned char>(text[begin]) <= ' ') ++begin;
  while (end > begin && static_cast<unsigned char>(text[end - 1]) <= ' ') --end;
  return text.substr(begin, end - begin);
}

std::string ReplaceAll(std::string text, const std::string& from, const std::string& to) {
  for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
  return text;
}

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t at = text.find('\n'); at != std::string::npos; at = text.find('\n', start)) {
    lines.push_back(text.substr(start, at - start));
    start = at + 1;
  }
  lines.push_back(text.substr(start));
  return lines;
}

bool EqualsIgnoringCase(const std::string& a, const char* b) {
  const std::size_t length = std::strlen(b);
  if (a.size() != length) return false;
  for (std::size_t i = 0; i < length; ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
  }
  return true;
}

// One preset line's key and value, after the line has passed the syntax check (or not).
int ApplyPresetPair(OptionHost& engine, void* context, const std::string& key, const std::string& value) {
  static const struct {
    const char* Key;
    const char* Option;
  } kCodecKeys[] = {{"acodec", "codec:a"}, {"vcodec", "codec:v"}, {"scodec", "codec:s"}, {"dcodec", "codec:d"}};
  for (const auto& codecKey : kCodecKeys) {
    if (EqualsIgnoringCase(key, codecKey.Key)) {
      return ParseOption(engine, context, codecKey.Option, value.c_str(), engine.OptionRows());
    }
  }
  return SetPresetOption(engine, context, key.c_str(), value.c_str());
}

struct PresetMessages {
  std::string (*Syntax)(const std::string& source, const std::string& line);
  std::string (*Failed)(const std::string& source, const std::string& line, const std::string& key,
                        const std::string& value);
  std::string Source;
};

int ApplyPresetLines(OptionHost& engine, void* context, const std::vector<std::string>& lines,
                     const PresetMessages& messages) {
  const bool strict = engine.StrictMode();
  for (const std::string& rawLine : lines) {
    const std::string line = Trim(rawLine);
    if (line.empty() || line[0] == '#') continue;
    const std::size_t equals = line.find('=');
    const std::string key = equals == std::string::npos ? line : line.substr(0, equals);
    const std::string value = equals == std::string::npos ? std::string() : line.substr(equals + 1);
    if (equals == std::string::npos || key.empty() || value.empty()) {
      const std::string text = messages.Syntax(messages.Source, line);
      LoggerLog(llError, text);
      if (strict) {
        OptionErrorText() = text;
        return kInvalidArgument;
      }
    }
    LibraryLog(AV_LOG_DEBUG, "Applying preset %s with argument %s.\n", key.c_str(), value.c_str());
    OptionErrorText().clear();
    const int result = ApplyPresetPair(engine, context, key, value);
    if (result < 0) {
      const std::string text = messages.Failed(messages.Source, line, key, value);
      LoggerLog(llError, text);
      if (strict) {
        std::string& error = OptionErrorText();
        error = error.empty() ? text : error + "\r\n" + text;
        return result;
      }
    }
  }
  return 0;
}

}  // namespace

bool ParseDecimal(const char* text, double maximum, double& value) {
  const char* separator = std::localeconv()->decimal_point;
  const std::size_t separatorLength = std::strlen(separator);
  const char* p = text;
  if (*p == '+' || *p == '-') ++p;
  int digits = 0;
  while (*p >= '0' && *p <= '9') ++p, ++digits;
  if (separatorLength > 0 && std::strncmp(p, separator, separatorLength) == 0) {
    p += separatorLength;
    while (*p >= '0' && *p <= '9') ++p, ++digits;
  }
  if (digits == 0) return false;
  if (*p == 'e' || *p == 'E') {
    ++p;
    if (*p == '+' || *p == '-') ++p;
    if (!(*p >= '0' && *p <= '9')) return false;
    while (*p >= '0' && *p <= '9') ++p;
  }
  if (*p != 0) return false;
  errno = 0;
  char* end = nullptr;
  const double parsed = std::strtod(text, &end);
  if (end == nullptr || *end != 0 || !std::isfinite(parsed) || std::fabs(parsed) > maximum) return false;
  value = parsed;
  return true;
}

// ------------------------------------------------------------------ the parser object

void TFFOptions::InitDictionaries() {
  ScalerOptions.reset();
  ResamplerOptions.reset();
  FormatOptions.reset();
  CodecOptions.reset();
  ResampleOptions.reset();
  ScalerOptions.reset(lib::sws_getContext(16, 16, static_cast<AVPixelFormat>(0), 16, 16, static_cast<AVPixelFormat>(0),
                                          SwsFlags, nullptr, nullptr, nullptr));
}

void TFFOptions::FinishGroup() {
  if (FileGroup.CodecOptions || FileGroup.FormatOptions || FileGroup.ResampleOptions || FileGroup.ScalerOptions ||
      FileGroup.ResamplerOptions) {
    throw EAssertionFailed();
  }
  FileGroup.CodecOptions = std::move(CodecOptions);
  FileGroup.FormatOptions = std::move(FormatOptions);
  FileGroup.ResampleOptions = std::move(ResampleOptions);
  FileGroup.ScalerOptions = std::move(ScalerOptions);
  FileGroup.ResamplerOptions = std::move(ResamplerOptions);
  InitDictionaries();
}

void TFFOptions::ResetGroups() {
  FreeGroups();
  InitDictionaries();
}

void TFFOptions::FreeGroups() {
  GlobalGroup = TOptionGroup();
  FileGroup = TOptionGroup();
  ScalerOptions.reset();
  ResamplerOptions.reset();
  FormatOptions.reset();
  CodecOptions.reset();
  ResampleOptions.reset();
}

std::string& OptionErrorText() {
  thread_local std::string text;
  return text;
}

// ------------------------------------------------------------------ words and rows

OptionWords SplitOptionText(const char* text) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(text != nullptr ? text : "");
  CountingSink counting;
  ScanWords(bytes, counting);

  const std::size_t pointerBytes = (static_cast<std::size_t>(counting.Words) + 1) * sizeof(char*);
  const std::size_t total = pointerBytes + counting.Bytes;
  const std::size_t blocks = (total + sizeof(std::max_align_t) - 1) / sizeof(std::max_align_t);
  OptionWords words;
  words.buffer_ = std::make_unique<std::max_align_t[]>(blocks);
  char** pointers = reinterpret_cast<char**>(words.buffer_.get());
  WritingSink writing{pointers, reinterpret_cast<char*>(words.buffer_.get()) + pointerBytes};
  ScanWords(bytes, writing);
  pointers[counting.Words] = nullptr;
  words.count_ = counting.Words;
  return words;
}

const TOptionDef* FindOption(const TOptionDef* table, const char* name) {
  const char* colon = std::strchr(name, ':');
  const std::size_t length = colon != nullptr ? static_cast<std::size_t>(colon - name) : std::strlen(name);
  const TOptionDef* row = table;
  for (; row->Name != nullptr; ++row) {
    if (std::strlen(row->Name) == length && std::memcmp(row->Name, name, length) == 0) break;
  }
  return row;
}

// ------------------------------------------------------------------ log level

int ApplyLogLevelText(const char* text) {
  static const struct {
    const char* Name;
    int Level;
  } kLevels[] = {{"quiet", AV_LOG_QUIET},     {"panic", AV_LOG_PANIC}, {"fatal", AV_LOG_FATAL},
                 {"error", AV_LOG_ERROR},     {"warning", AV_LOG_WARNING}, {"info", AV_LOG_INFO},
                 {"verbose", AV_LOG_VERBOSE}, {"debug", AV_LOG_DEBUG}};
  const char* value = OrEmpty(text);
  std::int64_t level = 0;
  bool known = false;
  for (const auto& row : kLevels) {
    if (std::strcmp(row.Name, value) == 0) {
      level = row.Level;
      known = true;
      break;
    }
  }
  // Only plain decimal numbers count here, without the "$" and "0x" forms of option integers.
  if (!known && value[0] != '$' && std::strpbrk(value, "xX") == nullptr) {
    known = ParseInteger(value, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max(),
                         level);
  }
  if (!known) {
    std::string message = FormatText("Invalid loglevel \"%s\". Possible levels are numbers or:\r\n", value);
    for (const auto& row : kLevels) message += FormatText("\"%s\"\r\n", row.Name);
    OptionErrorText() = message;
    LoggerLog(llError, ReplaceAll(message, "\r\n", "\n"));
    return kInvalidArgument;
  }
  DefaultLogger().SetLogLevel(LogLevelFromLibrary(static_cast<int>(level)));
  return 0;
}

void PreParseLogLevel(int wordCount, const char* const* words, const TOptionDef* table) {
  for (const char* name : {"loglevel", "v"}) {
    for (int i = 0; i < wordCount; ++i) {
      const char* word = words[i];
      if (word[0] != '-') continue;
      const char* option = word + 1;
      const TOptionDef* row = FindOption(table, option);
      if (row->Name == nullptr && option[0] == 'n' && option[1] == 'o') row = FindOption(table, option + 2);
      const bool matches = row->Name != nullptr ? std::strcmp(row->Name, name) == 0 : std::strcmp(option, name) == 0;
      if (matches) {
        if (i + 1 < wordCount) ApplyLogLevelText(words[i + 1]);
        return;
      }
      if (row->Name != nullptr && (row->Flags & ofHasArg)) ++i;
    }
  }
}

// ------------------------------------------------------------------ sorting and applying

int ParseOptionList(TFFOptions& parser, int wordCount, const char* const* words, bool strict,
                    const TOptionDef* table) {
  LibraryLog(AV_LOG_DEBUG, "Parsing the options.\n");
  auto add = [&parser](const TOptionDef* row, const char* key, const char* argument) {
    TOptionGroup& group = (row->Flags & (ofPerFile | ofOffset | ofSpec)) ? parser.FileGroup : parser.GlobalGroup;
    group.Entries.push_back(TOptionEntry{row, key, argument});
  };
  int i = 0;
  while (i < wordCount) {
    const char* word = words[i];
    LibraryLog(AV_LOG_DEBUG, "Reading option \"%s\" ... ", word);
    if (word[0] != '-' || word[1] == 0) {
      if (strict) {
        std::string& error = OptionErrorText();
        error = word[0] == 0 ? std::string("Failed to parse options") : std::string("Failed to parse options on ") + word;
        LoggerLog(llError, error);
        return kInvalidArgument;
      }
      if (word[0] == 0) {
        LibraryLog(AV_LOG_WARNING, "Invalid option found while parsing options, ignore\n");
      } else {
        LibraryLog(AV_LOG_WARNING, "Invalid option %s found while parsing options, ignore\n", word);
      }
      ++i;
      continue;
    }

    const char* name = word + 1;
    const TOptionDef* row = FindOption(table, name);
    if (row->Name != nullptr) {
      const char* argument = "1";
      if (row->Flags & ofHasArg) {
        if (i + 1 >= wordCount) {
          LibraryLog(AV_LOG_ERROR, "Missing argument for option \"%s\".\n", name);
          return kInvalidArgument;
        }
        argument = words[i + 1];
        i += 2;
      } else {
        ++i;
      }
      add(row, name, argument);
      LibraryLog(AV_LOG_DEBUG, "matched as option \"%s\" (%s) with argument \"%s\".\n", row->Name, OrEmpty(row->Help),
                 argument);
      continue;
    }

    if (i + 1 < wordCount) {
      const int result = SetDefaultOption(parser, name, words[i + 1]);
      if (result >= 0) {
        LibraryLog(AV_LOG_DEBUG, "matched as AVOption \"%s\" with argument \"%s\".\n", name, words[i + 1]);
        i += 2;
        continue;
      }
      if (result != AVERROR_OPTION_NOT_FOUND) {
        LibraryLog(AV_LOG_ERROR, "Error parsing option \"%s\" with argument \"%s\".\n", name, words[i + 1]);
        return result;
      }
    }

    if (name[0] == 'n' && name[1] == 'o') {
      row = FindOption(table, name + 2);
      if (row->Name != nullptr && (row->Flags & ofBool)) {
        add(row, name, "0");
        LibraryLog(AV_LOG_DEBUG, "matched as option \"%s\" (%s) with argument 0.\n", row->Name, OrEmpty(row->Help));
        ++i;
        continue;
      }
    }

    LibraryLog(AV_LOG_ERROR, "Unrecognized option \"%s\".\n", name);
    if (strict) return AVERROR_OPTION_NOT_FOUND;
    ++i;
  }
  parser.FinishGroup();
  LibraryLog(AV_LOG_DEBUG, "Finished parsing the options.\n");
  return 0;
}

int ApplyOptionGroup(OptionHost& engine, void* context, const TOptionGroup& group, const char* label) {
  LibraryLog(AV_LOG_DEBUG, "Parsing a group of options: %s.\n", OrEmpty(label));
  for (const TOptionEntry& entry : group.Entries) {
    LibraryLog(AV_LOG_DEBUG, "Applying option %s (%s) with argument %s.\n", entry.Key.c_str(),
               OrEmpty(entry.Option->Help), entry.Value.c_str());
    const int result = WriteOption(engine, context, *entry.Option, entry.Key.c_str(), entry.Value.c_str());
    if (result < 0) return result;
  }
  LibraryLog(AV_LOG_DEBUG, "Successfully parsed a group of options.\n");
  return 0;
}

int WriteOption(OptionHost& engine, void* context, const TOptionDef& option, const char* key,
                const char* argument) {
  const ValueKind kind = KindOf(option.Flags);
  if (kind == ValueKind::Handler) {
    if (option.Target.Handler == nullptr) throw EAssertionFailed();
    OptionErrorText().clear();
    const int result = option.Target.Handler(engine, context, key, argument);
    if (result < 0) {
      std::string& error = OptionErrorText();
      const std::string text = FormatText("Failed to set value \"%s\" for option \"%s\"", OrEmpty(argument), key);
      error = error.empty() ? text : error + "\r\n" + text;
      LibraryLog(AV_LOG_ERROR, "Failed to set value \"%s\" for option \"%s\"\n", OrEmpty(argument), key);
    }
    return result < 0 ? result : 0;
  }

  void* destination;
  if (option.Flags & (ofOffset | ofSpec)) {
    if (context == nullptr) throw EAssertionFailed();
    destination = static_cast<char*>(context) + option.Target.Offset;
  } else {
    destination = option.Target.Address;
  }
  if (destination == nullptr) throw EAssertionFailed();

  // Converted before anything is stored, so that a value that fails leaves no half-made element.
  SpecifierValue value;
  ConvertValue(kind, key, OrEmpty(argument), value);
  if (option.Flags & ofSpec) {
    const char* colon = std::strchr(key, ':');
    auto& list = *static_cast<SpecifierList*>(destination);
    list.push_back(TSpecifierOpt{colon != nullptr ? std::string(colon + 1) : std::string(), std::move(value)});
  } else {
    StoreValue(kind, destination, value);
  }
  return 0;
}

int ParseOption(OptionHost& engine, void* context, const char* key, const char* argument,
                const TOptionDef* table) {
  const TOptionDef* row = FindOption(table, key);
  if (row->Name == nullptr && key[0] == 'n' && key[1] == 'o') {
    const TOptionDef* negated = FindOption(table, key + 2);
    if (negated->Name != nullptr && (negated->Flags & ofBool)) {
      row = negated;
      argument = "0";
    }
  } else if (row->Flags & ofBool) {
    argument = "1";
  }
  if (row->Name == nullptr) row = FindOption(table, "default");
  if (row->Name == nullptr) {
    OptionErrorText() = FormatText("Unrecognized option \"%s\"", key);
    LoggerLog(llError, OptionErrorText());
    return kInvalidArgument;
  }
  if ((row->Flags & ofHasArg) && argument == nullptr) {
    OptionErrorText() = FormatText("Missing argument for option \"%s\"", key);
    LoggerLog(llError, OptionErrorText());
    return kInvalidArgument;
  }
  const int result = WriteOption(engine, context, *row, key, argument);
  if (result < 0) return result;
  return (row->Flags & ofHasArg) ? 1 : 0;
}

std::int64_t ParseTime(const char* optionName, const char* text, bool isDuration) {
  std::int64_t value = 0;
  if (lib::av_parse_time(&value, OrEmpty(text), isDuration ? 1 : 0) < 0) {
    throw FFmpegException(FormatText("Invalid %s specification for \"%s\": \"%s\"", isDuration ? "duration" : "date",
                                     OrEmpty(optionName), OrEmpty(text)));
  }
  return value;
}

// ------------------------------------------------------------------ library option routing

int SetDefaultOption(TFFOptions& parser, const char* key, const char* argument) {
  if (std::strcmp(key, "debug") == 0 || std::strcmp(key, "fdebug") == 0) DefaultLogger().SetLogLevel(llDebug);

  std::string stripped(key, std::min<std::size_t>(std::strcspn(key, ":"), 127));
  const AVClass* codecClass = lib::avcodec_get_class();
  const AVClass* formatClass = lib::avformat_get_class();
  bool consumed = false;

  const AVOption* codecOption =
      FindClassOption(codecClass, stripped.c_str(), 0, AV_OPT_SEARCH_CHILDREN);
  if (codecOption == nullptr && (key[0] == 'a' || key[0] == 's' || key[0] == 'v') && stripped.size() > 1) {
    codecOption = FindClassOption(codecClass, stripped.c_str() + 1, 0, 0);
  }
  if (codecOption != nullptr) {
    const int result = lib::av_dict_set(DictionaryRef(parser.CodecOptions), key, argument, DictionaryFlags(codecOption));
    if (result < 0) return result;
    consumed = true;
  }

  const AVOption* formatOption = FindClassOption(formatClass, key, 0, AV_OPT_SEARCH_CHILDREN);
  if (formatOption == nullptr) {
    for (const InProcessInputFormat* format : InProcessInputFormats()) {
      formatOption = FindClassOption(format->PrivClass, key, 0, 0);
      if (formatOption != nullptr) break;
    }
  }
  if (formatOption != nullptr) {
    const int result =
        lib::av_dict_set(DictionaryRef(parser.FormatOptions), key, argument, DictionaryFlags(formatOption));
    if (result < 0) return result;
    if (consumed) LibraryLog(AV_LOG_VERBOSE, "Routing %s to codec and muxer layer\n", key);
    consumed = true;
  }

  if (!consumed && FindClassOption(lib::sws_get_class(), key, 0, AV_OPT_SEARCH_CHILDREN) != nullptr) {
    if (!parser.ScalerOptions) parser.InitDictionaries();
    const int result = lib::av_opt_set(parser.ScalerOptions.get(), key, argument, 0);
    if (result < 0) {
      OptionErrorText() = FormatText("Error setting option \"%s\"", key);
      LibraryLog(AV_LOG_ERROR, "Error setting option \"%s\"\n", key);
      return result;
    }
    consumed = true;
  }

  if (!consumed) {
    const AVOption* resamplerOption = FindClassOption(lib::swr_get_class(), key, 0, AV_OPT_SEARCH_CHILDREN);
    if (resamplerOption != nullptr) {
      SwrContextPtr resampler(lib::swr_alloc());
      if (!resampler) return AVERROR(ENOMEM);
      const int result = lib::av_opt_set(resampler.get(), key, argument, 0);
      if (result < 0) {
        OptionErrorText() = FormatText("Error setting option \"%s\"", key);
        LibraryLog(AV_LOG_ERROR, "Error setting option \"%s\"\n", key);
        return result;
      }
      const int stored =
          lib::av_dict_set(DictionaryRef(parser.ResamplerOptions), key, argument, DictionaryFlags(resamplerOption));
      if (stored < 0) return stored;
      consumed = true;
    }
  }
  return consumed ? 0 : AVERROR_OPTION_NOT_FOUND;
}

int SetPresetOption(OptionHost& engine, void* /*context*/, const char* key, const char* argument) {
  TFFOptions& parser = engine.OptionParser();
  // The current dictionaries are set aside, so that only what this one option adds is copied.
  struct Restore {
    TFFOptions& Parser;
    DictionaryPtr Codec;
    DictionaryPtr Format;
    ~Restore() {
      Parser.CodecOptions = std::move(Codec);
      Parser.FormatOptions = std::move(Format);
    }
  } restore{parser, std::move(parser.CodecOptions), std::move(parser.FormatOptions)};

  const int result = SetDefaultOption(parser, key, argument);
  TOptionGroup& group = parser.FileGroup;
  if (parser.CodecOptions) lib::av_dict_copy(DictionaryRef(group.CodecOptions), parser.CodecOptions.get(), 0);
  if (parser.FormatOptions) lib::av_dict_copy(DictionaryRef(group.FormatOptions), parser.FormatOptions.get(), 0);
  return result;
}

// ------------------------------------------------------------------ presets

int ApplyPresetText(OptionHost& engine, void* context, const char* label, const std::string& presetText) {
  if (presetText.empty()) return 0;
  std::string text = ReplaceAll(ReplaceAll(Trim(presetText), "\r\n", "\n"), "\r", "\n");
  text = ReplaceAll(text, "<CRLF>", "\n");
  LoggerLog(llInfo, FormatText("ParsePresets for %s:%s%s", OrEmpty(label), "\r\n", ReplaceAll(text, "\n", "\r\n").c_str()));
  PresetMessages messages{
      [](const std::string&, const std::string& line) { return FormatText("Invalid syntax: \"%s\"", line.c_str()); },
      [](const std::string&, const std::string& line, const std::string& key, const std::string& value) {
        return FormatText("Invalid option or argument: \"%s\", parsed as \"%s\" = \"%s\"", line.c_str(), key.c_str(),
                          value.c_str());
      },
      std::string()};
  return ApplyPresetLines(engine, context, SplitLines(text), messages);
}

int ApplyPresetFile(OptionHost& engine, void* context, const char* /*key*/, const char* path) {
  const std::string fileName = OrEmpty(path);
  std::error_code error;
  std::ifstream file;
  if (!fileName.empty() && std::filesystem::is_regular_file(fileName, error)) file.open(fileName, std::ios::binary);
  if (!file.is_open()) {
    OptionErrorText() = FormatText("Preset file \"%s\" not found", fileName.c_str());
    LoggerLog(llError, OptionErrorText());
    return kInvalidArgument;
  }
  LoggerLog(llInfo, FormatText("Parse preset file: %s", fileName.c_str()));
  std::vector<std::string> lines;
  for (std::string line; std::getline(file, line);) lines.push_back(line);
  PresetMessages messages{
      [](const std::string& source, const std::string& line) {
        return FormatText("%s: Invalid syntax: \"%s\"", source.c_str(), line.c_str());
      },
      [](const std::string& source, const std::string& line, const std::string& key, const std::string& value) {
        return FormatText("%s: Invalid option or argument: \"%s\", parsed as \"%s\" = \"%s\"",
                          std::filesystem::path(source).filename().string().c_str(), line.c_str(), key.c_str(),
                          value.c_str());
      },
      fileName};
  return ApplyPresetLines(engine, context, lines, messages);
}

// ------------------------------------------------------------------ the per-file sequence

int ParseFileOptions(OptionHost& engine, void* context, const std::string& optionText, const char* label,
                     const std::string& presetText) {
  TFFOptions& parser = engine.OptionParser();
  const TOptionDef* table = engine.OptionRows();
  const bool strict = engine.StrictMode();
  int result = 0;
  if (!optionText.empty()) {
    LoggerLog(llInfo, FormatText("ParseOptions for %s: %s", OrEmpty(label), optionText.c_str()));
    const OptionWords words = SplitOptionText(optionText);
    PreParseLogLevel(words.Count(), words.Words(), table);
    OptionErrorText().clear();
    result = ParseOptionList(parser, words.Count(), words.Words(), strict, table);
    if (result >= 0 && !parser.GlobalGroup.Entries.empty()) {
      result = ApplyOptionGroup(engine, nullptr, parser.GlobalGroup, "global");
    }
  }
  if (result >= 0) result = ApplyPresetText(engine, context, label, presetText);
  if (result >= 0 && !parser.FileGroup.Entries.empty()) {
    result = ApplyOptionGroup(engine, context, parser.FileGroup, label);
  }
  if (result >= 0) return 0;

  const std::string text = ErrorText(result);
  LoggerLog(llFatal, text);
  if (!strict) return 0;
  const std::string& collected = OptionErrorText();
  engine.SetLastErrMsg(collected.empty() ? text : collected + "\r\n" + text);
  return result;
}

// ------------------------------------------------------------------ per-stream codec options

int MatchStreamSpecifier(AVFormatContext* formatContext, AVStream* stream, const char* specifier) {
  return lib::avformat_match_stream_specifier(formatContext, stream, specifier);
}

DictionaryPtr FilterCodecOptions(const AVDictionary* options, AVCodecID codecId, AVFormatContext* formatContext,
                                 AVStream* stream, const AVCodec* codec) {
  const bool muxer = formatContext->oformat != nullptr;
  int flags = muxer ? AV_OPT_FLAG_ENCODING_PARAM : AV_OPT_FLAG_DECODING_PARAM;
  char prefix = 0;
  if (codec == nullptr) codec = muxer ? lib::avcodec_find_encoder(codecId) : lib::avcodec_find_decoder(codecId);
  switch (stream->codecpar->codec_type) {
    case AVMEDIA_TYPE_VIDEO:
      prefix = 'v';
      flags |= AV_OPT_FLAG_VIDEO_PARAM;
      break;
    case AVMEDIA_TYPE_AUDIO:
      prefix = 'a';
      flags |= AV_OPT_FLAG_AUDIO_PARAM;
      break;
    case AVMEDIA_TYPE_SUBTITLE:
      prefix = 's';
      flags |= AV_OPT_FLAG_SUBTITLE_PARAM;
      break;
    default:
      break;
  }
  const AVClass* codecClass = lib::avcodec_get_class();
  DictionaryPtr result;
  const AVDictionaryEntry* entry = nullptr;
  while ((entry = lib::av_dict_get(options, "", entry, AV_DICT_IGNORE_SUFFIX)) != nullptr) {
    std::string key = entry->key;
    const std::size_t colon = key.find(':');
    if (colon != std::string::npos) {
      const int match = MatchStreamSpecifier(formatContext, stream, key.c_str() + colon + 1);
      if (match < 0) return DictionaryPtr();
      if (match == 0) continue;
      key.resize(colon);
    }
    const bool ownOption =
        FindClassOption(codecClass, key.c_str(), flags, 0) != nullptr ||
        (codec != nullptr && FindClassOption(codec->priv_class, key.c_str(), 0, 0) != nullptr);
    if (ownOption) {
      lib::av_dict_set(DictionaryRef(result), key.c_str(), entry->value, 0);
    } else if (prefix != 0 && key.size() > 1 && key[0] == prefix &&
               FindClassOption(codecClass, key.c_str() + 1, flags, 0) != nullptr) {
      lib::av_dict_set(DictionaryRef(result), key.c_str() + 1, entry->value, 0);
    }
  }
  return result;
}

StreamDictionaries::~StreamDictionaries() {
  for (AVDictionary*& dictionary : dictionaries_) lib::av_dict_free(&dictionary);
}

StreamDictionaries& StreamDictionaries::operator=(StreamDictionaries&& other) noexcept {
  if (this != &other) {
    for (AVDictionary*& dictionary : dictionaries_) lib::av_dict_free(&dictionary);
    dictionaries_ = std::move(other.dictionaries_);
    other.dictionaries_.clear();
  }
  return *this;
}

StreamDictionaries SetupStreamInfoOptions(AVFormatContext* formatContext, const AVDictionary* options) {
  if (formatContext->nb_streams == 0) return StreamDictionaries();
  StreamDictionaries result(formatContext->nb_streams);
  for (unsigned i = 0; i < formatContext->nb_streams; ++i) {
    AVStream* stream = formatContext->streams[i];
    result[i] = FilterCodecOptions(options, stream->codecpar->codec_id, formatContext, stream, nullptr).release();
  }
  return result;
}

}  // namespace lumivor
