// The argument reader every sub-command shares: how words become options, values and positional
// words, what a wrong word is told, and make's --effects read exactly as effect's.
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "app/photos/picture_file.h"
#include "app/run/run_request.h"
#include "cli/arguments.h"
#include "cli/cli_test_support.h"
#include "cli/effect_numbers.h"
#include "cli/make_command.h"

namespace lumivor {
namespace {

using cli::ArgumentError;
using cli::ArgumentProblem;
using cli::OptionKind;
using cli::OptionRule;
using cli::ParsedArguments;
using testing::Lines;
using testing::RunLumivor;
using testing::RunResult;
using testing::ScratchFolder;

std::string joined(const std::vector<std::string>& words) {
  std::string text;
  for (const std::string& word : words) text += (text.empty() ? "" : " ") + ("[" + word + "]");
  return text;
}

constexpr OptionRule Rules[] = {
    {"--hold", OptionKind::Value},
    {"-o", OptionKind::Value},
    {"--mono", OptionKind::Flag},
    {"--audio", OptionKind::Repeated},
    {"--level", OptionKind::Value, "from 1 to 9"},
};

using Given = std::vector<std::pair<std::string, std::string>>;

Given given_of(const ParsedArguments& parsed) {
  Given options;
  for (const ParsedArguments::Option& option : parsed.Options) options.emplace_back(option.Name, option.Value);
  return options;
}

TEST(ArgumentsTest, WordsBecomeOptionsValuesAndPositionals) {
  struct Case {
    std::vector<std::string> Words;
    Given Options;
    std::vector<std::string> Positionals;
    std::vector<std::size_t> PositionalAt;
    bool Help;
  };
  const Case cases[] = {
      {{"--hold", "3", "a.jpg"}, {{"--hold", "3"}}, {"a.jpg"}, {2}, false},
      {{"--hold=3", "a.jpg"}, {{"--hold", "3"}}, {"a.jpg"}, {1}, false},
      {{"--hold="}, {{"--hold", ""}}, {}, {}, false},
      // Split at the first "=": the value keeps the rest.
      {{"--hold=a=b"}, {{"--hold", "a=b"}}, {}, {}, false},
      // A value is the next word whatever it looks like.
      {{"--hold", "-1"}, {{"--hold", "-1"}}, {}, {}, false},
      {{"--hold", "--mono"}, {{"--hold", "--mono"}}, {}, {}, false},
      {{"-o", "--", "x"}, {{"-o", "--"}}, {"x"}, {2}, false},
      {{"-o", "out.mp4", "--mono", "p.jpg"}, {{"-o", "out.mp4"}, {"--mono", ""}}, {"p.jpg"}, {3}, false},
      {{"--audio", "a", "--audio=b", "x", "--audio", "c"},
       {{"--audio", "a"}, {"--audio", "b"}, {"--audio", "c"}}, {"x"}, {3}, false},
      // "--" ends the options once; a second one is a word like any other.
      {{"--mono", "a", "--", "--hold", "-o", "--", "--help"}, {{"--mono", ""}}, {"a", "--hold", "-o", "--", "--help"},
       {1, 3, 4, 5, 6}, false},
      // A lone dash, a dash and a digit and an empty word are not options.
      {{"-", "-3", ""}, {}, {"-", "-3", ""}, {0, 1, 2}, false},
      {{"x.jpg", "--help"}, {}, {"x.jpg"}, {0}, true},
      {{"-h", "--mono"}, {{"--mono", ""}}, {}, {}, true},
      {{"--help", "--help"}, {}, {}, {}, true},
      // Asking for the usage outweighs a line that cannot be read.
      {{"--bogus", "--help"}, {}, {}, {}, true},
      {{"--mono=1", "--mono", "-h"}, {}, {}, {}, true},
      {{"--help", "--hold"}, {}, {}, {}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(joined(c.Words));
    ParsedArguments parsed;
    ASSERT_NO_THROW(parsed = cli::ParseArguments(c.Words, Rules));
    EXPECT_EQ(parsed.Help, c.Help);
    if (c.Help) continue;
    EXPECT_EQ(given_of(parsed), c.Options);
    EXPECT_EQ(parsed.Positionals, c.Positionals);
    EXPECT_EQ(parsed.PositionalAt, c.PositionalAt);
  }
}

TEST(ArgumentsTest, WrongWordsAreNamedInTheError) {
  struct Case {
    std::vector<std::string> Words;
    ArgumentProblem Problem;
    const char* Word;
    const char* Text;
  };
  const Case cases[] = {
      {{"--bogus"}, ArgumentProblem::UnknownOption, "--bogus", "unknown option --bogus"},
      {{"--bogus=1", "a"}, ArgumentProblem::UnknownOption, "--bogus", "unknown option --bogus"},
      {{"-x"}, ArgumentProblem::UnknownOption, "-x", "unknown option -x"},
      // Only long names take "=": a short one with it is no name at all.
      {{"-o=x.mp4"}, ArgumentProblem::UnknownOption, "-o=x.mp4", "unknown option -o=x.mp4"},
      {{"a.jpg", "-o"}, ArgumentProblem::MissingValue, "-o", "-o needs a value"},
      {{"--level"}, ArgumentProblem::MissingValue, "--level", "--level needs a value from 1 to 9"},
      {{"--mono=1"}, ArgumentProblem::ValueForFlag, "--mono", "--mono takes no value"},
      {{"--mono="}, ArgumentProblem::ValueForFlag, "--mono", "--mono takes no value"},
      {{"--hold", "1", "--hold=2"}, ArgumentProblem::GivenTwice, "--hold", "--hold is given twice"},
      {{"--mono", "a", "--mono"}, ArgumentProblem::GivenTwice, "--mono", "--mono is given twice"},
      // The first wrong word is the one reported.
      {{"--bogus", "--hold"}, ArgumentProblem::UnknownOption, "--bogus", "unknown option --bogus"},
      {{"--mono=1", "--bogus"}, ArgumentProblem::ValueForFlag, "--mono", "--mono takes no value"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(joined(c.Words));
    try {
      cli::ParseArguments(c.Words, Rules);
      ADD_FAILURE() << "accepted";
    } catch (const ArgumentError& error) {
      EXPECT_EQ(error.Problem, c.Problem);
      EXPECT_EQ(error.Word, c.Word);
      EXPECT_EQ(error.Text, c.Text);
      EXPECT_TRUE(error.ShowUsageHint);
    }
  }
}

TEST(ArgumentsTest, WholeNumbersAreDecimalOnly) {
  struct Case {
    const char* Text;
    std::optional<long long> Value;
  };
  const Case cases[] = {
      {"0", 0},         {"42", 42},           {"-1", -1},           {"007", 7},
      {"", {}},         {"+5", {}},           {" 5", {}},           {"5 ", {}},
      {"5x", {}},       {"0x10", {}},         {"1e3", {}},          {"3.0", {}},
      {"-", {}},        {"--1", {}},          {"9223372036854775807", 9223372036854775807LL},
      {"9223372036854775808", {}},            {"99999999999999999999", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string("\"") + c.Text + "\"");
    EXPECT_EQ(cli::WholeNumber(c.Text), c.Value);
  }
}

TEST(ArgumentsTest, NumbersOutsideTheirRangeNameTheOption) {
  struct Case {
    const char* Text;
    long long Low, High;
    std::optional<long long> Value;
  };
  const Case cases[] = {
      {"0", 0, 3000, 0},        {"3000", 0, 3000, 3000}, {"-1", 0, 3000, {}},
      {"3001", 0, 3000, {}},    {"", 0, 3000, {}},       {"4294967295", 0, 4294967295LL, 4294967295LL},
      {"4294967296", 0, 4294967295LL, {}},               {"12abc", 1, 100, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Text);
    try {
      EXPECT_EQ(cli::NumberInRange("--hold", c.Text, c.Low, c.High), c.Value);
    } catch (const cli::CommandError& error) {
      EXPECT_FALSE(c.Value) << error.Text;
      EXPECT_EQ(error.Text, "--hold wants a whole number from " + std::to_string(c.Low) + " to " +
                                std::to_string(c.High) + ", not \"" + c.Text + "\"");
    }
  }
}

TEST(ArgumentsTest, ErrorTextCarriesTheUsageHintOnlyForWhatWasTyped) {
  struct Case {
    const char* Command;
    cli::CommandError Error;
    const char* Usage;
    const char* Text;
  };
  const Case cases[] = {
      {"make", {"unknown option --x", true}, "", "lumivor make: unknown option --x (lumivor make --help shows the arguments)\n"},
      {"make", {"--hold wants a whole number from 0 to 3000, not \"x\"", false}, "",
       "lumivor make: --hold wants a whole number from 0 to 3000, not \"x\"\n"},
      {"play", {"one file at a time", true}, "usage: lumivor play FILE\n",
       "lumivor play: one file at a time\nusage: lumivor play FILE\n"},
      {"play", {"invalid volume \"x\"", false}, "usage: lumivor play FILE\n", "lumivor play: invalid volume \"x\"\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Text);
    EXPECT_EQ(cli::CommandErrorText(c.Command, c.Error, c.Usage), c.Text);
  }
}

std::vector<int> numbers_from(int first, int last) {
  std::vector<int> numbers;
  for (int n = first; n <= last; ++n) numbers.push_back(n);
  return numbers;
}

TEST(EffectNumbersTest, NumbersAndRangesInTheOrderGiven) {
  struct Case {
    const char* Text;
    std::vector<int> Effects;
  };
  std::vector<int> mixed = numbers_from(1, 5);
  mixed.push_back(9);
  for (int n : numbers_from(170, 176)) mixed.push_back(n);
  const Case cases[] = {
      {"7", {7}},
      {"1-5,9,170-176", mixed},
      {"176,1,176", {176, 1, 176}},
      {"3-3", {3}},
      {"1-176", numbers_from(1, 176)},
      {"009-011", {9, 10, 11}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Text);
    EXPECT_EQ(cli::ParseEffectNumbers(c.Text), c.Effects);
  }
}

// The texts make and effect refuse in --effects, each said by both in the same words.
const char* const BadEffectLists[] = {"0-3", "9-2", "1,,2", "177", "1-177", "a-b", "", "-3", "3-", "1-2-3",
                                      "+5", " 5", "5,", "0"};

TEST(EffectNumbersTest, WrongItemsAreNamed) {
  struct Case {
    const char* Text;
    const char* Item;
  };
  const Case cases[] = {{"0-3", "0-3"}, {"1,,2", ""},    {"4,177", "177"}, {"1-5,9-2", "9-2"},
                        {"3-", "3-"},   {"-3", "-3"},    {"1-2-3", "1-2-3"}, {"+5", "+5"},
                        {"5,", ""},     {"", ""},        {" 5", " 5"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string("\"") + c.Text + "\"");
    try {
      cli::ParseEffectNumbers(c.Text);
      ADD_FAILURE() << "accepted";
    } catch (const cli::CommandError& error) {
      EXPECT_EQ(error.Text, std::string("bad --effects item \"") + c.Item +
                                "\" (numbers or ranges from 1 to 176, like 1-57,119,150-153)");
    }
  }
}

// make's request carries the list as written, ranges counted out; random stays the default.
TEST(MakeArgumentsTest, EffectsTakeRangesAndValuesEitherWay) {
  ScratchFolder folder;
  std::vector<int> mixed = numbers_from(1, 5);
  mixed.push_back(9);
  for (int n : numbers_from(170, 176)) mixed.push_back(n);
  struct Case {
    std::vector<std::string> Words;
    bool Random;
    std::vector<int> Effects;
    int Hold;
    std::vector<std::string> Tracks;
    std::vector<std::string> Photos;
  };
  const Case cases[] = {
      {{"--effects", "1-5,9,170-176", "--hold", "3", "a.jpg"}, false, mixed, 3, {}, {"a.jpg"}},
      {{"--effects=1-5,9,170-176", "--hold=3", "a.jpg"}, false, mixed, 3, {}, {"a.jpg"}},
      {{"--effects", "12", "--hold=0", "a.jpg"}, false, {12}, 0, {}, {"a.jpg"}},
      {{"--effects", "random", "--hold", "3000", "a.jpg"}, true, {}, 3000, {}, {"a.jpg"}},
      {{"--audio=one.wav", "--audio", "two.wav", "--hold", "2", "a.jpg", "b.jpg"}, true, {}, 2,
       {"one.wav", "two.wav"}, {"a.jpg", "b.jpg"}},
      // After "--" every word is a photo, even one named like an option.
      {{"--hold", "1", "--", "--hold", "-x.jpg", "--"}, true, {}, 1, {}, {"--hold", "-x.jpg", "--"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(joined(c.Words));
    std::vector<std::string> words = {"-o", folder.Path()};
    words.insert(words.end(), c.Words.begin(), c.Words.end());
    RunRequest request;
    std::string errorText;
    ASSERT_TRUE(cli::MakeRunRequest(words, request, errorText)) << errorText;
    EXPECT_EQ(request.RandomEffects, c.Random);
    EXPECT_EQ(request.EffectOrder, c.Effects);
    EXPECT_DOUBLE_EQ(request.HoldSeconds, c.Hold);
    EXPECT_EQ(request.Tracks, c.Tracks);
    EXPECT_EQ(request.Photos, c.Photos);
  }
}

// One reader behind both commands: a wrong list gets the same line from make as from effect.
TEST(MakeArgumentsTest, WrongEffectListsAreToldAsEffectTellsThem) {
  ScratchFolder folder;
  for (const char* list : BadEffectLists) {
    SCOPED_TRACE(std::string("\"") + list + "\"");
    const RunResult made = RunLumivor(folder, {"make", "--effects", list, "a.jpg"});
    const RunResult sheet = RunLumivor(folder, {"effect", "--sheet", folder / "sheet.png", "--effects", list});
    EXPECT_EQ(made.ExitCode, 2);
    EXPECT_EQ(sheet.ExitCode, 2);
    const std::string prefix = "lumivor make: bad --effects item \"";
    ASSERT_EQ(made.Err.rfind(prefix, 0), 0u) << made.Err;
    EXPECT_EQ("lumivor effect: " + made.Err.substr(std::string("lumivor make: ").size()), sheet.Err);
    EXPECT_EQ(Lines(made.Err).size(), 1u) << made.Err;
  }
  EXPECT_EQ(testing::FolderEntries(folder.Path()), std::vector<std::string>{});
}

// Through the program: exit status 2, nothing on stdout, and the first line names the option.
TEST(CommandArgumentsTest, ErrorsNameTheOptionAndPointToTheUsage) {
  ScratchFolder folder;
  const std::string o = folder / "old.bmp";
  struct Case {
    std::vector<std::string> Arguments;
    std::string Line;
  };
  const Case cases[] = {
      {{"make", "--hold", "abc", "a.jpg"}, "lumivor make: --hold wants a whole number from 0 to 3000, not \"abc\""},
      {{"make", "--hold=", "a.jpg"}, "lumivor make: --hold wants a whole number from 0 to 3000, not \"\""},
      {{"make", "--transition=101", "a.jpg"}, "lumivor make: --transition wants a whole number from 0 to 100, not \"101\""},
      {{"make", "--seed", "4294967296", "a.jpg"},
       "lumivor make: --seed wants a whole number from 0 to 4294967295, not \"4294967296\""},
      {{"make", "--bitrate", "0", "a.jpg"}, "lumivor make: --bitrate wants a whole number from 1 to 1000000, not \"0\""},
      {{"make", "--motion-strength=-1", "a.jpg"},
       "lumivor make: --motion-strength wants a whole number from 0 to 100, not \"-1\""},
      {{"make", "a.jpg", "--hold"}, "lumivor make: --hold needs a value (lumivor make --help shows the arguments)"},
      {{"make", "--mono=yes", "a.jpg"}, "lumivor make: --mono takes no value (lumivor make --help shows the arguments)"},
      {{"make", "--hold", "3", "--hold=4", "a.jpg"},
       "lumivor make: --hold is given twice (lumivor make --help shows the arguments)"},
      {{"make", "--hold", "3"}, "lumivor make: no photos given (lumivor make --help shows the arguments)"},
      {{"make", "--", "--hold", "3"}, "lumivor make: cannot read photo \"--hold\": No such file or directory"},
      {{"samples", "--seconds", "0", folder.Path()},
       "lumivor samples: --seconds wants a whole number from 1 to 3600, not \"0\""},
      {{"samples", "--seconds"}, "lumivor samples: --seconds needs a value (lumivor samples --help shows the arguments)"},
      {{"samples", "--minutes", "2", folder.Path()},
       "lumivor samples: unknown option --minutes (lumivor samples --help shows the arguments)"},
      {{"effect", "1", "--progress", "50", "--from", o, "--to", o, "--out", o, "--random-seed", "99999999999999999999"},
       "lumivor effect: --random-seed wants a whole number from 0 to 4294967295, not \"99999999999999999999\""},
      {{"effect", "1", "--progress=x", "--from", o, "--to", o, "--out", o},
       "lumivor effect: bad progress \"x\" (--progress takes a whole number from 0 to 100)"},
      {{"effect", "--list", "--list"}, "lumivor effect: --list is given twice (lumivor effect --help shows the arguments)"},
      {{"convert", "-i", "a.mkv", "-o", "b.mp4", "--log-level"},
       "lumivor convert: --log-level needs a value (lumivor convert --help shows the arguments)"},
      {{"convert", "-i", "a.mkv", "-o", "b.mp4", "c.mp4"},
       "lumivor convert: unexpected \"c.mp4\" (lumivor convert --help shows the arguments)"},
      {{"probe", "--allow-protocols=yes", "a.wav"},
       "lumivor probe: --allow-protocols takes no value (lumivor probe --help shows the arguments)"},
      {{"play", "--volume=129", "a.mp3"}, "lumivor play: invalid volume \"129\", expected 0 to 128"},
      {{"play", "--mute", "a.mp3", "--mute"}, "lumivor play: --mute is given twice"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(joined(c.Arguments));
    const RunResult run = RunLumivor(folder, c.Arguments);
    EXPECT_EQ(run.ExitCode, 2);
    EXPECT_EQ(run.Out, "");
    const std::vector<std::string> lines = Lines(run.Err);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0], c.Line);
    // play follows a wrong word with its usage; every other command says it all in one line.
    if (c.Arguments[0] != "play") {
      EXPECT_EQ(lines.size(), 1u) << run.Err;
    }
  }
  EXPECT_EQ(testing::FolderEntries(folder.Path()), std::vector<std::string>{});
}

// --help wins wherever it stands among the options, even on a line with wrong words; after "--"
// it is a file like any other.
TEST(CommandArgumentsTest, HelpWinsAmongOptionsButNotAfterTheEnd) {
  ScratchFolder folder;
  struct Case {
    std::vector<std::string> Arguments;
    const char* UsageStart;  // nullptr: not the usage
  };
  const Case cases[] = {
      {{"make", "--frobnicate", "--help"}, "usage: lumivor make "},
      {{"make", "--hold", "9999", "-h"}, "usage: lumivor make "},
      {{"effect", "--list", "-h"}, "usage: lumivor effect "},
      {{"convert", "-o", "x.mp4", "--help", "--speed"}, "usage: lumivor convert "},
      {{"samples", "--seconds=0", "--help"}, "usage: lumivor samples "},
      {{"play", "--volume", "500", "--help"}, "usage: lumivor play "},
      {{"probe", "--", "--help"}, nullptr},
      {{"samples", "--", "--help"}, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(joined(c.Arguments));
    const RunResult run = RunLumivor(folder, c.Arguments);
    if (c.UsageStart != nullptr) {
      EXPECT_EQ(run.ExitCode, 0) << run.Err;
      EXPECT_EQ(run.Err, "");
      EXPECT_EQ(run.Out.rfind(c.UsageStart, 0), 0u) << run.Out;
    } else {
      EXPECT_NE(run.ExitCode, 0);
      EXPECT_EQ(run.Out.find("usage:"), std::string::npos) << run.Out;
      EXPECT_NE(run.Err.find("--help"), std::string::npos) << run.Err;
    }
  }
}

// The name make's help gives each format the readers take. A format added to PictureFormat
// stops this from compiling until it is named here, and so in the help.
const char* help_name(PictureFormat format) {
  switch (format) {
    case PictureFormat::Unknown: return nullptr;
    case PictureFormat::Bmp: return "BMP";
    case PictureFormat::Jpeg: return "JPEG";
    case PictureFormat::Png: return "PNG";
    case PictureFormat::Webp: return "WebP";
    case PictureFormat::Heif: return "HEIC/HEIF";
  }
  return nullptr;
}

TEST(MakeArgumentsTest, HelpNamesEveryPhotoFormatRead) {
  ScratchFolder folder;
  const RunResult help = RunLumivor(folder, {"make", "--help"});
  ASSERT_EQ(help.ExitCode, 0) << help.Err;
  // The paragraph before the option list, where a reader looks for what the photos may be.
  const std::string intro = help.Out.substr(0, help.Out.find("\n  --audio"));
  const PictureFormat formats[] = {PictureFormat::Bmp, PictureFormat::Jpeg, PictureFormat::Png, PictureFormat::Webp,
                                   PictureFormat::Heif};
  for (const PictureFormat format : formats) {
    SCOPED_TRACE(help_name(format));
    EXPECT_NE(intro.find(help_name(format)), std::string::npos) << intro;
  }
  EXPECT_EQ(intro.find("BMP or JPEG"), std::string::npos) << intro;
  EXPECT_NE(help.Out.find("1-5,9,170-176"), std::string::npos) << "--effects does not show a range";
}

}  // namespace
}  // namespace lumivor
