#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <limits>
#include <string>
#include <vector>

#include "media/engine/error_text.h"
#include "media/engine/ff_options.h"
#include "media/engine/ffmpeg_exception.h"
#include "media/engine/input_formats.h"
#include "media/runtime/ff_load.h"
#include "media/runtime/ff_log.h"
#include "library_log_test.h"
#include "support/scratch_folder.h"

namespace lumivor {
namespace {

// A per-file context of the tests' own, with one field of every kind the rows can name.
struct TestContext {
  std::string Format;
  SpecifierList CodecNames;
  SpecifierList QScale;
  SpecifierList MaxFrames;
  SpecifierList AudioSampleRates;
  std::int64_t RecordingTime = std::numeric_limits<std::int64_t>::max();
  std::int64_t LimitFileSize = std::numeric_limits<std::int64_t>::max();
  std::int32_t AudioDisable = 0;
  float MuxMaxDelay = 0.7f;
};

// An engine of the tests' own: a small table shaped like the real one's rows.
class TestEngine : public OptionHost {
 public:
  TestEngine() {
    const auto handler = [](auto method) { return OptionTarget::Call(method); };
    rows_ = {
        {"loglevel", ofHasArg, handler(OptionHandler<&TestEngine::SetLogLevel>()), "set logging level", "loglevel"},
        {"f", 0x4009, OptionTarget::AtOffset(offsetof(TestContext, Format)), "force format", "fmt"},
        {"y", ofBool, OptionTarget::AtAddress(&FileOverwrite), "overwrite output files", nullptr},
        {"c", 0x8009, OptionTarget::AtOffset(offsetof(TestContext, CodecNames)), "codec name", "codec"},
        {"codec", 0x8009, OptionTarget::AtOffset(offsetof(TestContext, CodecNames)), "codec name", "codec"},
        {"t", 0x14001, OptionTarget::AtOffset(offsetof(TestContext, RecordingTime)), "record duration", "duration"},
        {"fs", 0x4401, OptionTarget::AtOffset(offsetof(TestContext, LimitFileSize)), "size limit", "limit"},
        {"frames", 0x8401, OptionTarget::AtOffset(offsetof(TestContext, MaxFrames)), "frame count", "number"},
        {"q", 0x28005, OptionTarget::AtOffset(offsetof(TestContext, QScale)), "quality scale", "q"},
        {"ar", 0x80a1, OptionTarget::AtOffset(offsetof(TestContext, AudioSampleRates)), "sample rate", "rate"},
        {"muxdelay", 0x4105, OptionTarget::AtOffset(offsetof(TestContext, MuxMaxDelay)), "max delay", "seconds"},
        {"an", 0x4022, OptionTarget::AtOffset(offsetof(TestContext, AudioDisable)), "disable audio", nullptr},
        {"vol", 0xa1, OptionTarget::AtAddress(&AudioVolume), "audio volume", "volume"},
        {"drift", 0x105, OptionTarget::AtAddress(&DriftThreshold), "drift threshold", "threshold"},
        {"b", 0x2011, handler(OptionHandler<&TestEngine::SetBitrate>()), "bitrate", "bitrate"},
        {"vcodec", 0x2011, handler(OptionHandler<&TestEngine::SetVideoCodec>()), "video codec", "codec"},
        {"vpre", 0x2015, OptionTarget::Call(&ApplyPresetFile), "video preset", "preset"},
        {"fail", 0x2001, handler(OptionHandler<&TestEngine::Fail>()), "always fails", "anything"},
        {},
    };
  }

  bool StrictMode() const override { return Strict; }
  void SetLastErrMsg(const std::string& text) override { LastErrMsg = text; }
  TFFOptions& OptionParser() override { return Options; }
  const TOptionDef* OptionRows() const override { return rows_.data(); }

  int SetLogLevel(TestContext*, const char*, const char* argument) { return ApplyLogLevelText(argument); }
  int SetBitrate(TestContext*, const char* key, const char* argument) {
    return lib::av_dict_set(DictionaryRef(Options.FileGroup.CodecOptions), std::string(key) == "b" ? "b:v" : key,
                            argument, 0);
  }
  int SetVideoCodec(TestContext* context, const char*, const char* argument) {
    return ParseOption(*this, context, "codec:v", argument, rows_.data());
  }
  int Fail(TestContext*, const char*, const char*) {
    OptionErrorText() = "handler text";
    return -5;
  }

  // Parses as the engine does for one file: fresh groups, then the whole sequence.
  int Parse(const std::string& text, const std::string& preset = std::string()) {
    Options.ResetGroups();
    return ParseFileOptions(*this, &Context, text, "output file", preset);
  }

  bool Strict = true;
  std::string LastErrMsg;
  TFFOptions Options;
  TestContext Context;
  std::int32_t FileOverwrite = 0;
  std::int32_t AudioVolume = 256;
  float DriftThreshold = 0.1f;

 private:
  std::vector<TOptionDef> rows_;
};

std::string DictValue(const AVDictionary* dictionary, const char* key) {
  const AVDictionaryEntry* entry = lib::av_dict_get(dictionary, key, nullptr, 0);
  return entry != nullptr ? entry->value : "<absent>";
}

class OptionParser : public testing_engine::LibraryLogTest {
 protected:
  TestEngine Engine;
};

// ------------------------------------------------------------------ splitting

TEST(SplitOptionText, FollowsTheQuotingAndBackslashRules) {
  struct Case {
    const char* Text;
    std::vector<std::string> Words;
  };
  const Case cases[] = {
      {"", {}},
      {" \t  \t", {}},
      {"-f frameinput -r 25 -pix_fmt bgra", {"-f", "frameinput", "-r", "25", "-pix_fmt", "bgra"}},
      {"  a \t\t b  ", {"a", "b"}},
      {"-metadata \"title=a b\"", {"-metadata", "title=a b"}},
      {"ti\"tle=a b\"c d", {"title=a bc", "d"}},
      {"a\\\"b", {"a\"b"}},
      {"\"x\"\"y\"", {"x\"y"}},
      {"\"x\"\"y z\"", {"x\"y", "z"}},
      {"\"\" b", {"", "b"}},
      {"a \"\"", {"a", ""}},
      {"a\\\\\\\\\"b c\"", {"a\\\\b c"}},
      {"a\\\\\\\\\\\"b c", {"a\\\\\"b", "c"}},
      {"C:\\dir\\file name", {"C:\\dir\\file", "name"}},
      {"\"unterminated quote", {"unterminated quote"}},
      {"line\r\nbreak", {"line\r\nbreak"}},
      {"title=\xC3\xA9t\xC3\xA9 x", {"title=\xC3\xA9t\xC3\xA9", "x"}},
      {"\xE2\x82\xAC \xF0\x9F\x8E\xAC", {"\xE2\x82\xAC", "\xF0\x9F\x8E\xAC"}},
      // A lead byte without its continuation does not hide the quote or separator after it.
      {"\xC3\"a b\" c", {"\xC3" "a b", "c"}},
      {"end\xE2", {"end\xE2"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Text);
    const OptionWords words = SplitOptionText(c.Text);
    ASSERT_EQ(words.Count(), static_cast<int>(c.Words.size()));
    for (int i = 0; i < words.Count(); ++i) EXPECT_EQ(words[i], c.Words[i]) << "word " << i;
    EXPECT_EQ(words.Words()[words.Count()], nullptr) << "the vector ends with a null entry";
  }
  EXPECT_EQ(SplitOptionText(static_cast<const char*>(nullptr)).Count(), 0);
}

// ------------------------------------------------------------------ rows

TEST_F(OptionParser, FindsRowsByTheNameBeforeTheFirstColon) {
  const TOptionDef* table = Engine.OptionRows();
  struct Case {
    const char* Name;
    const char* Row;  // null: the terminator
  };
  const Case cases[] = {{"c:v", "c"}, {"codec:a:1", "codec"}, {"c", "c"},    {"co", nullptr},
                        {"C", nullptr}, {"", nullptr},         {":v", nullptr}, {"fs:", "fs"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    const TOptionDef* row = FindOption(table, c.Name);
    if (c.Row == nullptr) {
      EXPECT_EQ(row->Name, nullptr);
    } else {
      ASSERT_NE(row->Name, nullptr);
      EXPECT_STREQ(row->Name, c.Row);
    }
  }
}

// ------------------------------------------------------------------ values

TEST_F(OptionParser, StoresValuesOfEveryKind) {
  ASSERT_EQ(Engine.Parse("-f mp4 -y -t 1.5 -fs 0x10 -frames:v 10 -q:a 2.5 -ar:a:1 44100 -muxdelay 0.25 -vol $20 "
                         "-drift -3e-1 -an"),
            0)
      << Engine.LastErrMsg;
  const TestContext& context = Engine.Context;
  EXPECT_EQ(context.Format, "mp4");
  EXPECT_EQ(Engine.FileOverwrite, 1);
  EXPECT_EQ(context.RecordingTime, 1500000);
  EXPECT_EQ(context.LimitFileSize, 16);
  ASSERT_EQ(context.MaxFrames.size(), 1u);
  EXPECT_EQ(context.MaxFrames[0].Specifier, "v");
  EXPECT_EQ(context.MaxFrames[0].Value.Int64, 10);
  ASSERT_EQ(context.QScale.size(), 1u);
  EXPECT_EQ(context.QScale[0].Specifier, "a");
  EXPECT_DOUBLE_EQ(context.QScale[0].Value.Double, 2.5);
  ASSERT_EQ(context.AudioSampleRates.size(), 1u);
  EXPECT_EQ(context.AudioSampleRates[0].Specifier, "a:1");
  EXPECT_EQ(context.AudioSampleRates[0].Value.Int, 44100);
  EXPECT_FLOAT_EQ(context.MuxMaxDelay, 0.25f);
  EXPECT_EQ(Engine.AudioVolume, 32);
  EXPECT_FLOAT_EQ(Engine.DriftThreshold, -0.3f);
  EXPECT_EQ(context.AudioDisable, 1);

  ASSERT_EQ(Engine.Parse("-noan"), 0);
  EXPECT_EQ(Engine.Context.AudioDisable, 0);
}

TEST_F(OptionParser, RaisesConversionErrorsWhateverTheStrictFlag) {
  struct Case {
    const char* Text;
    const char* Error;
  };
  const Case cases[] = {
      {"-vol 12x", "Expected integer for \"vol\" but found \"12x\""},
      {"-vol 2147483648", "Expected integer for \"vol\" but found \"2147483648\""},
      {"-vol \"\"", "Expected integer for \"vol\" but found \"\""},
      {"-vol 0x", "Expected integer for \"vol\" but found \"0x\""},
      {"-fs 9223372036854775808", "Expected int64 for \"fs\" but found \"9223372036854775808\""},
      {"-frames:a ten", "Expected int64 for \"frames:a\" but found \"ten\""},
      {"-t abc", "Invalid duration specification for \"t\": \"abc\""},
      {"-muxdelay 1e39", "Expected float for \"muxdelay\" but found \"1e39\""},
      {"-muxdelay inf", "Expected float for \"muxdelay\" but found \"inf\""},
      {"-q:v x", "Expected double for \"q:v\" but found \"x\""},
      {"-q:v 0x1p3", "Expected double for \"q:v\" but found \"0x1p3\""},
  };
  for (const bool strict : {true, false}) {
    for (const auto& c : cases) {
      SCOPED_TRACE(c.Text);
      Engine.Strict = strict;
      Engine.Context = TestContext();
      try {
        Engine.Parse(c.Text);
        ADD_FAILURE() << "no error raised";
      } catch (const FFmpegException& error) {
        EXPECT_STREQ(error.what(), c.Error);
      }
      EXPECT_TRUE(Engine.Context.MaxFrames.empty()) << "a value that failed left an element behind";
      EXPECT_TRUE(Engine.Context.QScale.empty());
    }
  }
  EXPECT_EQ(-2147483647 - 1, (Engine.Parse("-vol -2147483648"), Engine.AudioVolume));
  EXPECT_EQ(Engine.Parse("-fs -9223372036854775808"), 0);
  EXPECT_EQ(Engine.Context.LimitFileSize, std::numeric_limits<std::int64_t>::min());
  EXPECT_EQ(ParseTime("timestamp", "2000-01-01 00:00:00Z", false), INT64_C(946684800000000));
  EXPECT_THROW(ParseTime("timestamp", "yesterday", false), FFmpegException);
  try {
    ParseTime("timestamp", "yesterday", false);
  } catch (const FFmpegException& error) {
    EXPECT_STREQ(error.what(), "Invalid date specification for \"timestamp\": \"yesterday\"");
  }
}

// The last element whose specifier matches the stream wins, as the context's readers do it.
std::string LastMatch(const SpecifierList& list, AVFormatContext* format, AVStream* stream) {
  std::string result = "<default>";
  for (const TSpecifierOpt& element : list) {
    if (MatchStreamSpecifier(format, stream, element.Specifier.c_str()) > 0) result = element.Value.Str;
  }
  return result;
}

TEST_F(OptionParser, KeepsEveryPerStreamValueWithItsSpecifier) {
  ASSERT_EQ(Engine.Parse("-c:v copy -c:a aac -c copy"), 0) << Engine.LastErrMsg;
  const SpecifierList& names = Engine.Context.CodecNames;
  ASSERT_EQ(names.size(), 3u);
  const char* specifiers[] = {"v", "a", ""};
  const char* values[] = {"copy", "aac", "copy"};
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(names[i].Specifier, specifiers[i]);
    EXPECT_EQ(names[i].Value.Str, values[i]);
  }

  OutputFormatContextPtr format(lib::avformat_alloc_context());
  ASSERT_TRUE(format);
  AVStream* video = lib::avformat_new_stream(format.get(), nullptr);
  AVStream* audio = lib::avformat_new_stream(format.get(), nullptr);
  ASSERT_TRUE(video != nullptr && audio != nullptr);
  video->codecpar->codec_type = AVMEDIA_TYPE_VIDEO;
  audio->codecpar->codec_type = AVMEDIA_TYPE_AUDIO;
  EXPECT_EQ(LastMatch(names, format.get(), audio), "copy");

  SpecifierList twoOnly(names.begin(), names.begin() + 2);
  EXPECT_EQ(LastMatch(twoOnly, format.get(), audio), "aac");
  EXPECT_EQ(LastMatch(twoOnly, format.get(), video), "copy");
  EXPECT_LT(MatchStreamSpecifier(format.get(), audio, "zz"), 0);
}

// ------------------------------------------------------------------ sorting

TEST_F(OptionParser, SortsWordsIntoGroupsWithoutApplyingThem) {
  const OptionWords words = SplitOptionText("-y -f mp4 -c:v h264 -noan -loglevel info");
  Engine.Options.ResetGroups();
  ASSERT_EQ(ParseOptionList(Engine.Options, words.Count(), words.Words(), true, Engine.OptionRows()), 0);
  struct Expected {
    const char* Row;
    const char* Key;
    const char* Value;
  };
  const Expected global[] = {{"y", "y", "1"}, {"loglevel", "loglevel", "info"}};
  const Expected file[] = {{"f", "f", "mp4"}, {"c", "c:v", "h264"}, {"an", "noan", "0"}};
  ASSERT_EQ(Engine.Options.GlobalGroup.EntryCount(), 2);
  ASSERT_EQ(Engine.Options.FileGroup.EntryCount(), 3);
  for (int i = 0; i < 2; ++i) {
    const TOptionEntry& entry = Engine.Options.GlobalGroup.Entries[i];
    EXPECT_STREQ(entry.Option->Name, global[i].Row);
    EXPECT_EQ(entry.Key, global[i].Key);
    EXPECT_EQ(entry.Value, global[i].Value);
  }
  for (int i = 0; i < 3; ++i) {
    const TOptionEntry& entry = Engine.Options.FileGroup.Entries[i];
    EXPECT_STREQ(entry.Option->Name, file[i].Row);
    EXPECT_EQ(entry.Key, file[i].Key);
    EXPECT_EQ(entry.Value, file[i].Value);
  }
  EXPECT_EQ(Engine.FileOverwrite, 0) << "nothing is applied while sorting";
  EXPECT_TRUE(Engine.Context.CodecNames.empty());
}

TEST_F(OptionParser, ReportsWordsItCannotPlaceByTheStrictFlag) {
  struct Case {
    const char* Text;
    bool Strict;
    int Code;            // the failure (strict mode returns it, lenient mode 0), 0 for none
    const char* Error;   // OptionErrorText in front of the code's text in LastErrMsg (strict)
    const char* Logged;  // logged at error or warning level
  };
  const int notFound = AVERROR_OPTION_NOT_FOUND;
  const Case cases[] = {
      {"movie.mp4 -y", true, -22, "Failed to parse options on movie.mp4", "Failed to parse options on movie.mp4"},
      {"\"\" -y", true, -22, "Failed to parse options", "Failed to parse options"},
      {"- -y", true, -22, "Failed to parse options on -", "Failed to parse options on -"},
      {"-b:v", true, -22, "", "Missing argument for option \"b:v\"."},
      {"-y -fs", false, -22, "", "Missing argument for option \"fs\"."},
      {"-bogus", true, notFound, "", "Unrecognized option \"bogus\"."},
      {"-nof", true, notFound, "", "Unrecognized option \"nof\"."},
      {"-nobogus", true, notFound, "", "Unrecognized option \"nobogus\"."},
      {"-bogus 5 -y", true, notFound, "", "Unrecognized option \"bogus\"."},
      {"movie.mp4 -y", false, 0, "", "Invalid option movie.mp4 found while parsing options, ignore"},
      {"\"\" -y", false, 0, "", "Invalid option found while parsing options, ignore"},
      {"-bogus 5 -y", false, 0, "", "Invalid option 5 found while parsing options, ignore"},
      {"-nof -y", false, 0, "", "Unrecognized option \"nof\"."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.Text) + (c.Strict ? " strict" : " lenient"));
    Engine.Strict = c.Strict;
    Engine.LastErrMsg.clear();
    Engine.FileOverwrite = 0;
    Lines.clear();
    const int result = Engine.Parse(c.Text);
    EXPECT_TRUE(Logged(llError, c.Logged) || Logged(llWarning, c.Logged)) << c.Logged;
    if (c.Strict) {
      EXPECT_EQ(result, c.Code);
      const std::string code = ErrorText(c.Code);
      EXPECT_EQ(Engine.LastErrMsg, c.Error[0] == 0 ? code : std::string(c.Error) + "\r\n" + code);
      EXPECT_EQ(Engine.FileOverwrite, 0);
    } else {
      EXPECT_EQ(result, 0) << "lenient mode reports success";
      EXPECT_TRUE(Engine.LastErrMsg.empty());
      if (c.Code == 0) {
        EXPECT_EQ(Engine.FileOverwrite, 1) << "the words after the bad one still count";
      } else {
        EXPECT_TRUE(Logged(llFatal, ErrorText(c.Code)));
      }
    }
  }
}

TEST_F(OptionParser, AppliesPresetsAfterGlobalOptionsAndBeforeTheFilesOwn) {
  ASSERT_EQ(Engine.Parse("-c:v h264 -y", "vcodec=mpeg4<CRLF># a comment<CRLF>g=250"), 0) << Engine.LastErrMsg;
  const SpecifierList& names = Engine.Context.CodecNames;
  ASSERT_EQ(names.size(), 2u);
  EXPECT_EQ(names[0].Specifier, "v");
  EXPECT_EQ(names[0].Value.Str, "mpeg4");
  EXPECT_EQ(names[1].Value.Str, "h264") << "the file's own option comes last and wins";
  EXPECT_EQ(DictValue(Engine.Options.FileGroup.CodecOptions.get(), "g"), "250");
  EXPECT_TRUE(Logged(llInfo, "ParsePresets for output file:\r\nvcodec=mpeg4\r\n# a comment\r\ng=250"));

  // Real line breaks, mixed with the marker and surrounded by blanks, read the same way.
  Engine.Context = TestContext();
  ASSERT_EQ(Engine.Parse("", "  \r\nVCodec=mpeg4\r\n\r\n  g=12  <CRLF>  \n"), 0) << Engine.LastErrMsg;
  ASSERT_EQ(Engine.Context.CodecNames.size(), 1u);
  EXPECT_EQ(DictValue(Engine.Options.FileGroup.CodecOptions.get(), "g"), "12");
}

TEST_F(OptionParser, RefusesBadPresetLinesByTheStrictFlag) {
  struct Case {
    const char* Preset;
    bool Strict;
    int Result;
    const char* Message;  // LastErrMsg start (strict) or a logged error line (lenient)
  };
  const Case cases[] = {
      {"novalue<CRLF>g=5", true, -22, "Invalid syntax: \"novalue\"\r\n"},
      {"=5<CRLF>g=5", true, -22, "Invalid syntax: \"=5\"\r\n"},
      {"g=<CRLF>g=5", true, -22, "Invalid syntax: \"g=\"\r\n"},
      {"nosuchoption=1<CRLF>g=5", true, AVERROR_OPTION_NOT_FOUND,
       "Invalid option or argument: \"nosuchoption=1\", parsed as \"nosuchoption\" = \"1\"\r\n"},
      {"novalue<CRLF>g=5", false, 0, "Invalid syntax: \"novalue\""},
      {"nosuchoption=1<CRLF>g=5", false, 0,
       "Invalid option or argument: \"nosuchoption=1\", parsed as \"nosuchoption\" = \"1\""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.Preset) + (c.Strict ? " strict" : " lenient"));
    Engine.Strict = c.Strict;
    Engine.LastErrMsg.clear();
    Lines.clear();
    EXPECT_EQ(Engine.Parse("-y", c.Preset), c.Result);
    if (c.Strict) {
      EXPECT_EQ(Engine.LastErrMsg.rfind(c.Message, 0), 0u) << Engine.LastErrMsg;
      EXPECT_EQ(DictValue(Engine.Options.FileGroup.CodecOptions.get(), "g"), "<absent>");
    } else {
      EXPECT_TRUE(Logged(llError, c.Message));
      EXPECT_EQ(DictValue(Engine.Options.FileGroup.CodecOptions.get(), "g"), "5") << "reading goes on";
    }
  }
}

TEST_F(OptionParser, ReadsPresetFiles) {
  const lumivor::testing::ScratchFolder scratch;
  const std::filesystem::path folder = scratch.Path();
  const std::string path = (folder / "fast.ffpreset").string();
  {
    std::ofstream file(path, std::ios::binary);
    file << "# speed\r\ng=30\r\n\r\nbogus line\r\n";
  }
  Engine.Strict = true;
  EXPECT_EQ(Engine.Parse("-vpre " + path), -22);
  EXPECT_EQ(Engine.LastErrMsg.rfind(path + ": Invalid syntax: \"bogus line\"\r\nFailed to set value \"" + path +
                                        "\" for option \"vpre\"\r\n",
                                    0),
            0u)
      << Engine.LastErrMsg;
  {
    std::ofstream file(path, std::ios::binary);
    file << "g=30\nnosuch=2\n";
  }
  EXPECT_EQ(Engine.Parse("-vpre " + path), AVERROR_OPTION_NOT_FOUND);
  EXPECT_EQ(Engine.LastErrMsg.rfind("fast.ffpreset: Invalid option or argument: \"nosuch=2\", parsed as \"nosuch\" = "
                                    "\"2\"\r\n",
                                    0),
            0u)
      << Engine.LastErrMsg;
  Engine.Strict = false;
  EXPECT_EQ(Engine.Parse("-vpre " + path), 0);
  EXPECT_EQ(DictValue(Engine.Options.FileGroup.CodecOptions.get(), "g"), "30");
  Engine.Strict = true;
  EXPECT_EQ(Engine.Parse("-vpre " + (folder / "missing").string()), -22);
  EXPECT_EQ(Engine.LastErrMsg.rfind("Preset file \"" + (folder / "missing").string() + "\" not found\r\n", 0), 0u);
  std::filesystem::remove_all(folder);
}

// ------------------------------------------------------------------ handlers

TEST_F(OptionParser, CollectsTheTextsOfAFailingHandler) {
  Engine.Strict = true;
  EXPECT_EQ(Engine.Parse("-y -fail x -f mp4"), -5);
  EXPECT_EQ(Engine.LastErrMsg,
            "handler text\r\nFailed to set value \"x\" for option \"fail\"\r\n" + ErrorText(-5));
  EXPECT_TRUE(Engine.Context.Format.empty()) << "options after the failing one are not applied";

  // In lenient mode the failure still ends the file's options, but the parse reports success.
  Engine.Strict = false;
  Engine.LastErrMsg.clear();
  EXPECT_EQ(Engine.Parse("-f avi -fail x -f mp4"), 0);
  EXPECT_EQ(Engine.Context.Format, "avi");
  EXPECT_TRUE(Engine.LastErrMsg.empty());
  EXPECT_TRUE(Logged(llFatal, ErrorText(-5)));
}

TEST_F(OptionParser, SetsOptionsByNameForHandlers) {
  const TOptionDef* table = Engine.OptionRows();
  struct Case {
    const char* Key;
    const char* Argument;
    int Result;
    const char* Error;
  };
  const Case cases[] = {
      {"f", "mkv", 1, ""},
      {"an", nullptr, 0, ""},
      {"noan", nullptr, 0, ""},
      {"f", nullptr, -22, "Missing argument for option \"f\""},
      {"zzz", "1", -22, "Unrecognized option \"zzz\""},
      {"nof", "1", -22, "Unrecognized option \"nof\""},
      {"fail", "q", -5, "handler text\r\nFailed to set value \"q\" for option \"fail\""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Key);
    OptionErrorText().clear();
    EXPECT_EQ(ParseOption(Engine, &Engine.Context, c.Key, c.Argument, table), c.Result);
    EXPECT_EQ(OptionErrorText(), c.Error);
  }
  EXPECT_EQ(Engine.Context.Format, "mkv");
  EXPECT_EQ(Engine.Context.AudioDisable, 0);
  EXPECT_EQ(ParseOption(Engine, &Engine.Context, "an", "0", table), 0);
  EXPECT_EQ(Engine.Context.AudioDisable, 1) << "a boolean set by name is set whatever the argument";

  ASSERT_EQ(Engine.Parse("-vcodec mpeg4"), 0);
  ASSERT_EQ(Engine.Context.CodecNames.size(), 1u);
  EXPECT_EQ(Engine.Context.CodecNames[0].Specifier, "v");
  EXPECT_EQ(Engine.Context.CodecNames[0].Value.Str, "mpeg4");
  EXPECT_THROW(WriteOption(Engine, nullptr, *FindOption(table, "f"), "f", "mp4"), std::logic_error)
      << "a context row without a context is a programming error";
}

// ------------------------------------------------------------------ log level

TEST_F(OptionParser, AppliesLogLevelsFromNamesAndNumbers) {
  struct Case {
    const char* Text;
    int Result;
    TLogLevel Level;
  };
  const Case cases[] = {
      {"quiet", 0, llQuiet},  {"panic", 0, llPanic},     {"fatal", 0, llFatal},  {"error", 0, llError},
      {"warning", 0, llWarning}, {"info", 0, llInfo},    {"verbose", 0, llVerbose}, {"debug", 0, llDebug},
      {"99", 0, llDebug},     {"20", 0, llError},        {"-1", 0, llPanic},     {"-8", 0, llQuiet},
      {"-100", 0, llQuiet},   {"warn", -22, llInfo},     {"Info", -22, llInfo},  {"", -22, llInfo},
      {"0x20", -22, llInfo},  {"$20", -22, llInfo},      {"12 ", -22, llInfo},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Text);
    DefaultLogger().SetLogLevel(llInfo);
    OptionErrorText().clear();
    EXPECT_EQ(ApplyLogLevelText(c.Text), c.Result);
    EXPECT_EQ(DefaultLogger().LogLevel(), c.Level);
    if (c.Result < 0) {
      EXPECT_EQ(OptionErrorText(), std::string("Invalid loglevel \"") + c.Text +
                                       "\". Possible levels are numbers or:\r\n\"quiet\"\r\n\"panic\"\r\n\"fatal\"\r\n"
                                       "\"error\"\r\n\"warning\"\r\n\"info\"\r\n\"verbose\"\r\n\"debug\"\r\n");
    }
  }
  DefaultLogger().SetLogLevel(llInfo);
  Lines.clear();
  EXPECT_EQ(Engine.Parse("-loglevel warn"), -22);
  EXPECT_EQ(Engine.LastErrMsg.rfind("Invalid loglevel \"warn\". Possible levels are numbers or:\r\n\"quiet\"", 0), 0u);
  EXPECT_NE(Engine.LastErrMsg.find("\"debug\"\r\n\r\nFailed to set value \"warn\" for option \"loglevel\"\r\n"),
            std::string::npos)
      << Engine.LastErrMsg;
  EXPECT_TRUE(Logged(llError, "Possible levels are numbers or:\n\"quiet\"\n\"panic\"\n"));
}

TEST_F(OptionParser, PreParsesTheLogLevelBeforeAnythingElse) {
  struct Case {
    const char* Text;
    TLogLevel Level;
  };
  const Case cases[] = {
      {"-y -loglevel 99", llDebug},
      {"-loglevel", llInfo},
      {"-f -loglevel -v quiet", llQuiet},   // the first -loglevel is the argument of -f
      {"-v error -loglevel verbose", llVerbose},  // loglevel is looked for before v
      {"-nologlevel fatal", llFatal},
      {"-y movie.mp4", llInfo},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Text);
    DefaultLogger().SetLogLevel(llInfo);
    const OptionWords words = SplitOptionText(c.Text);
    PreParseLogLevel(words.Count(), words.Words(), Engine.OptionRows());
    EXPECT_EQ(DefaultLogger().LogLevel(), c.Level);
  }
}

// ------------------------------------------------------------------ library routing

TEST_F(OptionParser, RoutesUnknownWordsToTheLibraryOptionClasses) {
  ASSERT_EQ(Engine.Parse("-g 250 -aac_coder:a fast -flags +global_header -flags +bitexact -probesize 5000 "
                         "-strict -2 -dither_method triangular -sws_flags neighbor -ab:a 64k"),
            0)
      << Engine.LastErrMsg;
  const TOptionGroup& file = Engine.Options.FileGroup;
  EXPECT_EQ(DictValue(file.CodecOptions.get(), "g"), "250");
  EXPECT_EQ(DictValue(file.CodecOptions.get(), "aac_coder:a"), "fast") << "a private encoder option with a suffix";
  EXPECT_EQ(DictValue(file.CodecOptions.get(), "flags"), "+global_header+bitexact") << "flags are appended";
  EXPECT_EQ(DictValue(file.CodecOptions.get(), "ab:a"), "64k") << "a type letter in front of a codec option";
  EXPECT_EQ(DictValue(file.CodecOptions.get(), "probesize"), "<absent>");
  EXPECT_EQ(DictValue(file.FormatOptions.get(), "probesize"), "5000");
  EXPECT_EQ(DictValue(file.CodecOptions.get(), "strict"), "-2");
  EXPECT_EQ(DictValue(file.FormatOptions.get(), "strict"), "-2") << "an option of both layers goes to both";
  EXPECT_EQ(DictValue(file.ResamplerOptions.get(), "dither_method"), "triangular");
  ASSERT_TRUE(file.ScalerOptions);
  std::int64_t scalerFlags = 0;
  ASSERT_GE(lib::av_opt_get_int(file.ScalerOptions.get(), "sws_flags", 0, &scalerFlags), 0);
  EXPECT_EQ(scalerFlags, SWS_POINT);
  EXPECT_TRUE(Engine.Options.CodecOptions == nullptr && Engine.Options.FormatOptions == nullptr)
      << "finishing the group hands the holders over";
  ASSERT_TRUE(Engine.Options.ScalerOptions) << "and starts a new scaler holder";

  // A value the library refuses ends the parse with its code, whatever the strict flag.
  for (const bool strict : {true, false}) {
    Engine.Strict = strict;
    OptionErrorText().clear();
    const OptionWords words = SplitOptionText("-sws_flags nonsense -y");
    Engine.Options.ResetGroups();
    EXPECT_LT(ParseOptionList(Engine.Options, words.Count(), words.Words(), strict, Engine.OptionRows()), 0);
    EXPECT_EQ(OptionErrorText(), "Error setting option \"sws_flags\"");
    EXPECT_TRUE(Engine.Options.GlobalGroup.Entries.empty());
  }
}

const AVOption kTestFormatOptions[] = {
    {"opttest_mode", "test mode", 0, AV_OPT_TYPE_INT, {.i64 = 0}, 0, 9, AV_OPT_FLAG_DECODING_PARAM, nullptr},
    {nullptr, nullptr, 0, AV_OPT_TYPE_INT, {.i64 = 0}, 0, 0, 0, nullptr},
};
const AVClass kTestFormatClass = {.class_name = "opttest",
                                  .item_name = nullptr,
                                  .option = kTestFormatOptions,
                                  .version = LIBAVUTIL_VERSION_INT,
                                  .log_level_offset_offset = 0,
                                  .parent_log_context_offset = 0,
                                  .category = AV_CLASS_CATEGORY_DEMUXER,
                                  .get_category = nullptr,
                                  .query_ranges = nullptr,
                                  .child_next = nullptr,
                                  .child_class_iterate = nullptr};

TEST_F(OptionParser, RoutesOptionsOfTheInProcessInputFormats) {
  ASSERT_NE(Engine.Parse("-opttest_mode 3"), 0) << "unknown before the format exists";
  InProcessInputFormat format;
  format.Name = "opttest";
  format.LongName = "option routing test";
  format.PrivClass = &kTestFormatClass;
  RegisterDemuxerOnce(format);
  ASSERT_EQ(Engine.Parse("-opttest_mode 3"), 0) << Engine.LastErrMsg;
  EXPECT_EQ(DictValue(Engine.Options.FileGroup.FormatOptions.get(), "opttest_mode"), "3");
}

TEST_F(OptionParser, PresetLinesGoIntoTheFileGroupAndLeaveTheCurrentHoldersAlone) {
  Engine.Options.ResetGroups();
  ASSERT_EQ(lib::av_dict_set(DictionaryRef(Engine.Options.CodecOptions), "bf", "2", 0), 0);
  EXPECT_EQ(SetPresetOption(Engine, &Engine.Context, "g", "99"), 0);
  EXPECT_EQ(SetPresetOption(Engine, &Engine.Context, "probesize", "100"), 0);
  EXPECT_EQ(SetPresetOption(Engine, &Engine.Context, "nosuch", "1"), AVERROR_OPTION_NOT_FOUND);
  EXPECT_EQ(DictValue(Engine.Options.FileGroup.CodecOptions.get(), "g"), "99");
  EXPECT_EQ(DictValue(Engine.Options.FileGroup.CodecOptions.get(), "bf"), "<absent>");
  EXPECT_EQ(DictValue(Engine.Options.FileGroup.FormatOptions.get(), "probesize"), "100");
  EXPECT_EQ(DictValue(Engine.Options.CodecOptions.get(), "bf"), "2");
  EXPECT_EQ(DictValue(Engine.Options.CodecOptions.get(), "g"), "<absent>");
}

TEST_F(OptionParser, FinishingAGroupTwiceIsAProgrammingError) {
  Engine.Options.ResetGroups();
  Engine.Options.FinishGroup();
  EXPECT_THROW(Engine.Options.FinishGroup(), std::logic_error);
  Engine.Options.ResetGroups();
  EXPECT_NO_THROW(Engine.Options.FinishGroup());
}

TEST_F(OptionParser, BlankOptionTextAppliesNothing) {
  EXPECT_EQ(Engine.Parse("   \t "), 0);
  EXPECT_TRUE(Logged(llInfo, "ParseOptions for output file:    \t "));
  EXPECT_TRUE(Engine.Options.FileGroup.Entries.empty());
  EXPECT_TRUE(Engine.Options.GlobalGroup.Entries.empty());
  Lines.clear();
  EXPECT_EQ(Engine.Parse("", ""), 0);
  EXPECT_TRUE(Lines.empty()) << "an empty text and preset are not even logged";
}

// ------------------------------------------------------------------ per-stream codec options

TEST_F(OptionParser, FiltersCodecOptionsPerStream) {
  AVFormatContext* raw = nullptr;
  ASSERT_GE(lib::avformat_alloc_output_context2(&raw, nullptr, "mp4", nullptr), 0);
  OutputFormatContextPtr muxer(raw);
  AVStream* video = lib::avformat_new_stream(muxer.get(), nullptr);
  AVStream* audio = lib::avformat_new_stream(muxer.get(), nullptr);
  ASSERT_TRUE(video != nullptr && audio != nullptr);
  video->codecpar->codec_type = AVMEDIA_TYPE_VIDEO;
  video->codecpar->codec_id = AV_CODEC_ID_MPEG4;
  audio->codecpar->codec_type = AVMEDIA_TYPE_AUDIO;
  audio->codecpar->codec_id = AV_CODEC_ID_AAC;

  DictionaryPtr options;
  const char* pairs[][2] = {{"g:v", "250"}, {"b:a", "128k"}, {"aac_coder:a", "fast"}, {"ab", "64k"},
                            {"threads", "2"}, {"g:a", "7"},   {"probesize", "10"}, {"vbf", "3"}};
  for (const auto& pair : pairs) lib::av_dict_set(DictionaryRef(options), pair[0], pair[1], 0);

  DictionaryPtr forVideo = FilterCodecOptions(options.get(), AV_CODEC_ID_MPEG4, muxer.get(), video, nullptr);
  EXPECT_EQ(DictValue(forVideo.get(), "g"), "250");
  EXPECT_EQ(DictValue(forVideo.get(), "threads"), "2");
  EXPECT_EQ(DictValue(forVideo.get(), "b"), "<absent>");
  EXPECT_EQ(DictValue(forVideo.get(), "aac_coder"), "<absent>");
  EXPECT_EQ(DictValue(forVideo.get(), "probesize"), "<absent>");
  EXPECT_EQ(DictValue(forVideo.get(), "bf"), "3") << "the type letter in front of a codec option is dropped";
  EXPECT_EQ(DictValue(forVideo.get(), "vbf"), "<absent>");

  DictionaryPtr forAudio = FilterCodecOptions(options.get(), AV_CODEC_ID_AAC, muxer.get(), audio, nullptr);
  EXPECT_EQ(DictValue(forAudio.get(), "b"), "128k");
  EXPECT_EQ(DictValue(forAudio.get(), "ab"), "64k") << "ab is a codec option of its own";
  EXPECT_EQ(DictValue(forAudio.get(), "aac_coder"), "fast") << "a private option of the aac encoder";
  EXPECT_EQ(DictValue(forAudio.get(), "g"), "<absent>") << "g is a video option only";
  EXPECT_EQ(DictValue(forAudio.get(), "bf"), "<absent>");
  EXPECT_EQ(DictValue(forAudio.get(), "g:v"), "<absent>");

  lib::av_dict_set(DictionaryRef(options), "g:zz", "1", 0);
  EXPECT_EQ(FilterCodecOptions(options.get(), AV_CODEC_ID_MPEG4, muxer.get(), video, nullptr), nullptr)
      << "a malformed specifier empties the result";

  OutputFormatContextPtr input(lib::avformat_alloc_context());
  for (AVMediaType type : {AVMEDIA_TYPE_VIDEO, AVMEDIA_TYPE_AUDIO}) {
    AVStream* stream = lib::avformat_new_stream(input.get(), nullptr);
    stream->codecpar->codec_type = type;
    stream->codecpar->codec_id = type == AVMEDIA_TYPE_VIDEO ? AV_CODEC_ID_MPEG4 : AV_CODEC_ID_AAC;
  }
  DictionaryPtr probeOptions;
  lib::av_dict_set(DictionaryRef(probeOptions), "threads", "3", 0);
  lib::av_dict_set(DictionaryRef(probeOptions), "aac_coder", "fast", 0);  // an encoder's option
  StreamDictionaries perStream = SetupStreamInfoOptions(input.get(), probeOptions.get());
  ASSERT_EQ(perStream.Count(), 2u);
  for (std::size_t i = 0; i < 2; ++i) {
    EXPECT_EQ(DictValue(perStream[i], "threads"), "3");
    EXPECT_EQ(DictValue(perStream[i], "aac_coder"), "<absent>") << "decoders do not take encoder options";
  }
}

}  // namespace
}  // namespace lumivor
