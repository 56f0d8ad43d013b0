// The engine's option texts: splitting them into words, sorting the words into a global and a
// per-file group against an option table, storing values (plain, per stream, or through handlers),
// routing every word the table does not know to the libraries' own option classes, presets, and
// the per-stream filtering of codec options.
//
// How an option table plugs in
// ----------------------------
// A table is a contiguous array of TOptionDef rows ended by a row whose Name is null. It does not
// depend on the engine's types, so the engine can declare its table with this header alone:
//
//  - The engine class derives from OptionHost, which hands the parser its strict flag, its error
//    message, its TFFOptions object and its table.
//  - The per-file context is passed as void*. Value rows with ofOffset or ofSpec name a byte offset
//    into it (offsetof(TOptionsContext, Format)). Rows without them point at an engine field.
//  - A handler row's target is a OptionHandlerProc; OptionHandler<&Engine::Method> adapts a member
//    function int Method(Context* context, const char* key, const char* argument), so a table row
//    can name the engine's own method without any cast.
//
// Field types by value kind (the first matching flag in this order decides):
//   ofString -> std::string        ofBool, ofInt -> std::int32_t     ofInt64, ofTime -> std::int64_t
//   ofFloat  -> float              ofDouble      -> double
//   ofSpec   -> SpecifierList (each occurrence appends one TSpecifierOpt, whose Value member of the
//               row's kind receives the value)
// Context structs that hold std::string or SpecifierList fields stay standard-layout, so offsetof
// is valid on them.
//
// Every function here that touches the libraries needs them loaded (TFFLoader).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "media/runtime/library_objects.h"

namespace lumivor {

// Flag bits of a row; the values are part of the table format.
enum OptionFlag : std::uint32_t {
  ofHasArg = 0x1,
  ofBool = 0x2,
  ofExpert = 0x4,
  ofString = 0x8,
  ofVideo = 0x10,
  ofAudio = 0x20,
  ofInt = 0x80,
  ofFloat = 0x100,
  ofSubtitle = 0x200,
  ofInt64 = 0x400,
  ofExit = 0x800,
  ofData = 0x1000,
  ofPerFile = 0x2000,
  ofOffset = 0x4000,
  ofSpec = 0x8000,
  ofTime = 0x10000,
  ofDouble = 0x20000,
  ofInput = 0x40000,
  ofOutput = 0x80000,
};

class OptionHost;
class TFFOptions;
struct TOptionDef;

// context is the file's context or null for global rows; key is the option as written, with its
// ":" suffix; argument may be null only when a handler calls ParseOption without one.
// Negative = failure.
using OptionHandlerProc = int (*)(OptionHost& engine, void* context, const char* key, const char* argument);

// OptionHandler<&TCustomFFmpegOpt::MapStream> turns a member function
//   int Method(TOptionsContext* context, const char* key, const char* argument)
// of a class derived from OptionHost into a OptionHandlerProc.
template <auto Method>
struct OptionHandlerAdapter;

template <typename Engine, typename Context, int (Engine::*Method)(Context*, const char*, const char*)>
struct OptionHandlerAdapter<Method> {
  static int Call(OptionHost& engine, void* context, const char* key, const char* argument) {
    return (static_cast<Engine&>(engine).*Method)(static_cast<Context*>(context), key, argument);
  }
};

template <auto Method>
constexpr OptionHandlerProc OptionHandler() {
  return &OptionHandlerAdapter<Method>::Call;
}

// Where a row's value goes; which member counts is decided by the row's flags (see above).
struct OptionTarget {
  std::size_t Offset = 0;
  void* Address = nullptr;
  OptionHandlerProc Handler = nullptr;

  static constexpr OptionTarget AtOffset(std::size_t offset) { return {offset, nullptr, nullptr}; }
  static constexpr OptionTarget AtAddress(void* address) { return {0, address, nullptr}; }
  static constexpr OptionTarget Call(OptionHandlerProc handler) { return {0, nullptr, handler}; }
};

// One row of an option table.
struct TOptionDef {
  const char* Name = nullptr;
  std::uint32_t Flags = 0;
  OptionTarget Target;
  const char* Help = nullptr;
  const char* ArgName = nullptr;
};

// One per-stream value. Only the member of the row's kind is set.
struct SpecifierValue {
  std::string Str;
  std::int32_t Int = 0;
  std::int64_t Int64 = 0;
  float Float = 0;
  double Double = 0;
};

struct TSpecifierOpt {
  // Everything after the first ":" of the option as written, "" when there is none.
  std::string Specifier;
  SpecifierValue Value;
};

// A per-stream option's field in the context. Readers scan the whole list; the last element
// whose specifier matches the stream wins.
using SpecifierList = std::vector<TSpecifierOpt>;

// One recognised word waiting to be applied.
struct TOptionEntry {
  const TOptionDef* Option = nullptr;
  std::string Key;    // as written, with its ":" suffix
  std::string Value;  // the argument ("1" / "0" for booleans)
};

// Options collected for one group, and the library option sets the group took over when it was
// finished. The sets belong to the group: whatever a file keeps must be copied out of them.
struct TOptionGroup {
  std::vector<TOptionEntry> Entries;
  DictionaryPtr CodecOptions;
  DictionaryPtr FormatOptions;
  DictionaryPtr ResampleOptions;
  SwsContextPtr ScalerOptions;  // used only as an option holder
  DictionaryPtr ResamplerOptions;

  int EntryCount() const { return static_cast<int>(Entries.size()); }
};

// Runs a library call that takes AVDictionary** on an owned dictionary:
//   lib::av_dict_set(DictionaryRef(group.CodecOptions), "g", "250", 0);
// The owner takes back whatever the call left there at the end of the full expression.
class DictionaryRef {
 public:
  explicit DictionaryRef(DictionaryPtr& owner) : owner_(owner), raw_(owner.get()) {}
  ~DictionaryRef() {
    (void)owner_.release();
    owner_.reset(raw_);
  }
  DictionaryRef(const DictionaryRef&) = delete;
  DictionaryRef& operator=(const DictionaryRef&) = delete;
  operator AVDictionary**() { return &raw_; }

 private:
  DictionaryPtr& owner_;
  AVDictionary* raw_;
};

// The option parser of one engine object. Creating it needs no library; InitDictionaries,
// ResetGroups and SetDefaultOption do.
class TFFOptions {
 public:
  TFFOptions() = default;
  TFFOptions(const TFFOptions&) = delete;
  TFFOptions& operator=(const TFFOptions&) = delete;

  // Frees the current holders and creates a new scaler holder.
  void InitDictionaries();
  // Moves the five current holders into the file group (which must have none: EAssertionFailed
  // "Assertion failure" otherwise) and starts new ones.
  void FinishGroup();
  // FreeGroups, both groups emptied, InitDictionaries.
  void ResetGroups();
  // Frees the entries and library sets of both groups and the current holders.
  void FreeGroups();

  std::int32_t SwsFlags = 4;  // bicubic
  SwsContextPtr ScalerOptions;
  DictionaryPtr ResamplerOptions;
  DictionaryPtr FormatOptions;
  DictionaryPtr CodecOptions;
  DictionaryPtr ResampleOptions;  // never filled by the routing
  TOptionGroup GlobalGroup;
  TOptionGroup FileGroup;
};

// What the parser needs from the engine object. TCustomFFmpegOpt derives from it.
class OptionHost {
 public:
  virtual bool StrictMode() const = 0;                          // the engine's StrictOptions
  virtual void SetLastErrMsg(const std::string& text) = 0;      // the engine's LastErrMsg
  virtual TFFOptions& OptionParser() = 0;                       // the engine's Options
  virtual const TOptionDef* OptionRows() const = 0;             // the engine's OptionTable

 protected:
  ~OptionHost() = default;
};

// The process-wide option error text. Each thread has its own, since the text is only meaningful
// on the thread that just parsed and two tasks may be set up from different threads.
std::string& OptionErrorText();

// The words of one option text in one buffer: the pointer vector (ended by a null entry that is
// not counted) followed by the texts.
class OptionWords {
 public:
  OptionWords() = default;
  int Count() const { return count_; }
  char* const* Words() const { return reinterpret_cast<char* const*>(buffer_.get()); }
  const char* operator[](int index) const { return Words()[index]; }

 private:
  friend OptionWords SplitOptionText(const char* text);
  std::unique_ptr<std::max_align_t[]> buffer_;
  int count_ = 0;
};

// Splits a UTF-8 option text into words (quotes, backslash runs, multi-byte sequences kept whole).
OptionWords SplitOptionText(const char* text);
inline OptionWords SplitOptionText(const std::string& text) { return SplitOptionText(text.c_str()); }

// The row whose name equals the part of name before its first ":", or the terminator row.
const TOptionDef* FindOption(const TOptionDef* table, const char* name);

// Applies a level name ("quiet" .. "debug") or decimal number to the process-wide logger.
// 0, or -22 with OptionErrorText set to the list of level names.
int ApplyLogLevelText(const char* text);

// Applies the first "loglevel" (else "v") option of the words at once.
void PreParseLogLevel(int wordCount, const char* const* words, const TOptionDef* table);

// Sorts the words into the parser's global and file groups; nothing is applied yet.
int ParseOptionList(TFFOptions& parser, int wordCount, const char* const* words, bool strict,
                    const TOptionDef* table);

// Applies the entries of a group in the order they were written; the first failure ends it.
int ApplyOptionGroup(OptionHost& engine, void* context, const TOptionGroup& group, const char* label);

// Stores one value or calls the handler. Conversion errors raise FFmpegException with their text.
int WriteOption(OptionHost& engine, void* context, const TOptionDef& option, const char* key,
                const char* argument);

// Sets an option by name from a handler: negative on failure, else 1 for rows with an argument
// and 0 for others.
int ParseOption(OptionHost& engine, void* context, const char* key, const char* argument,
                const TOptionDef* table);

// A date or duration in microseconds; FFmpegException "Invalid %s specification ..." otherwise.
std::int64_t ParseTime(const char* optionName, const char* text, bool isDuration);

// A plain decimal number as the user's locale writes it (sign, digits, the locale's decimal
// separator, digits, an optional exponent), finite and within +-maximum; no hexadecimal forms.
bool ParseDecimal(const char* text, double maximum, double& value);

// Offers key and argument to the codec, format (the library's and the in-process input formats'),
// scaler and resampler option classes. 0 when a layer took it, else AVERROR_OPTION_NOT_FOUND or
// the library's failure code.
int SetDefaultOption(TFFOptions& parser, const char* key, const char* argument);

// SetDefaultOption into the file group's codec and format options directly.
int SetPresetOption(OptionHost& engine, void* context, const char* key, const char* argument);

// The preset text of an input or output ("<CRLF>" stands for a line break).
int ApplyPresetText(OptionHost& engine, void* context, const char* label, const std::string& presetText);
// A preset file (handler of the "apre", "vpre", "spre" and "fpre" rows).
int ApplyPresetFile(OptionHost& engine, void* context, const char* key, const char* path);

// The whole per-file sequence: global options, the preset text, then the file's own options.
// label is "input file" or "output file". In strict mode the first failure is returned and
// LastErrMsg set; otherwise failures are only logged and the result is 0.
int ParseFileOptions(OptionHost& engine, void* context, const std::string& optionText, const char* label,
                     const std::string& presetText);

// The library's stream-specifier matcher: 1 match, 0 no match, negative error.
int MatchStreamSpecifier(AVFormatContext* formatContext, AVStream* stream, const char* specifier);

// The entries of options that apply to the stream's codec, suffixes matched and removed. Null on
// a malformed specifier (and when nothing applies).
DictionaryPtr FilterCodecOptions(const AVDictionary* options, AVCodecID codecId, AVFormatContext* formatContext,
                                 AVStream* stream, const AVCodec* codec);
// One dictionary per stream, in the form the stream-probing call takes (AVDictionary**), owned.
class StreamDictionaries {
 public:
  StreamDictionaries() = default;
  explicit StreamDictionaries(std::size_t count) : dictionaries_(count, nullptr) {}
  ~StreamDictionaries();
  StreamDictionaries(StreamDictionaries&& other) noexcept : dictionaries_(std::move(other.dictionaries_)) {
    other.dictionaries_.clear();
  }
  StreamDictionaries& operator=(StreamDictionaries&& other) noexcept;
  StreamDictionaries(const StreamDictionaries&) = delete;
  StreamDictionaries& operator=(const StreamDictionaries&) = delete;

  std::size_t Count() const { return dictionaries_.size(); }
  AVDictionary** Data() { return dictionaries_.empty() ? nullptr : dictionaries_.data(); }
  AVDictionary*& operator[](std::size_t index) { return dictionaries_[index]; }

 private:
  std::vector<AVDictionary*> dictionaries_;
};

// One filtered dictionary per stream of an opened input (codec id of the stream, no codec), for
// stream probing.
StreamDictionaries SetupStreamInfoOptions(AVFormatContext* formatContext, const AVDictionary* options);

}  // namespace lumivor
