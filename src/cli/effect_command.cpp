#include "cli/effect_command.h"

#include <charconv>
#include <cstdint>
#include <iostream>
#include <map>
#include <optional>
#include <set>
#include <tuple>
#include <utility>

#include "app/show/contact_sheet.h"
#include "app/files/output_file.h"
#include "app/photos/picture_file.h"
#include "effects/effect.h"
#include "effects/random.h"

namespace lumivor::cli {

namespace {

constexpr int DefaultCellWidth = 160;
constexpr int DefaultCellHeight = 120;
constexpr int MaxCellSide = 4096;

constexpr const char* Usage =
    "usage: lumivor effect --list\n"
    "       lumivor effect N --progress P --from OLD --to NEW --out OUT [--source-seed S] [--random-seed R]\n"
    "       lumivor effect --sheet OUT.png [--from OLD --to NEW] [--size WxH] [--effects LIST]\n";

// A failure that ends the command: its text is the one line printed.
struct CommandError {
  std::string Text;
};

[[noreturn]] void fail(std::string text) { throw CommandError{std::move(text)}; }

// Plain decimal digits only: no sign, no spaces, no hex, nothing after the number.
std::optional<std::uint64_t> parse_decimal(const std::string& text, std::uint64_t max) {
  if (text.empty() || text.size() > 20) return std::nullopt;
  std::uint64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc{} || end != text.data() + text.size() || value > max) return std::nullopt;
  return value;
}

int parse_effect_number(const std::string& text) {
  const auto n = parse_decimal(text, EffectCount);
  if (!n || *n < 1) fail("unknown effect number \"" + text + "\" (effects are 1 to " + std::to_string(EffectCount) + ")");
  return static_cast<int>(*n);
}

std::uint32_t parse_seed(const std::string& option, const std::string& text) {
  const auto n = parse_decimal(text, 0xFFFFFFFFu);
  if (!n) fail(option + " needs a decimal number from 0 to 4294967295, not \"" + text + "\"");
  return static_cast<std::uint32_t>(*n);
}

// "1-57,119,150-153": numbers and ranges, kept in the order given.
std::vector<int> parse_effect_list(const std::string& text) {
  std::vector<int> effects;
  std::size_t start = 0;
  while (true) {
    const std::size_t comma = text.find(',', start);
    const std::string item = text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
    const std::size_t dash = item.find('-');
    const auto first = parse_decimal(item.substr(0, dash), EffectCount);
    const auto last = dash == std::string::npos ? first : parse_decimal(item.substr(dash + 1), EffectCount);
    if (!first || !last || *first < 1 || *last < *first)
      fail("bad --effects item \"" + item + "\" (numbers or ranges from 1 to " + std::to_string(EffectCount) +
           ", like 1-57,119,150-153)");
    for (auto n = *first; n <= *last; ++n) effects.push_back(static_cast<int>(n));
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  return effects;
}

std::pair<int, int> parse_size(const std::string& text) {
  const std::size_t x = text.find_first_of("xX");
  const auto width = parse_decimal(text.substr(0, x), MaxCellSide);
  const auto height = x == std::string::npos ? std::nullopt : parse_decimal(text.substr(x + 1), MaxCellSide);
  if (!width || !height || *width < 1 || *height < 1)
    fail("bad --size \"" + text + "\" (WxH, each from 1 to " + std::to_string(MaxCellSide) + ")");
  return {static_cast<int>(*width), static_cast<int>(*height)};
}

// Options with a value, and the positional words, as given; each option at most once.
struct Arguments {
  std::map<std::string, std::string> Options;
  std::set<std::string> Flags;
  std::vector<std::string> Words;

  const std::string* Find(const std::string& name) const {
    const auto it = Options.find(name);
    return it == Options.end() ? nullptr : &it->second;
  }
  const std::string& Require(const std::string& name) const {
    const std::string* value = Find(name);
    if (!value) fail("missing " + name);
    return *value;
  }
};

Arguments parse_arguments(const std::vector<std::string>& arguments) {
  static const std::set<std::string> valued = {"--progress", "--from",  "--to",   "--out",     "--source-seed",
                                               "--random-seed", "--sheet", "--size", "--effects"};
  static const std::set<std::string> flags = {"--list", "--help", "-h"};
  Arguments parsed;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string& word = arguments[i];
    if (word.size() > 1 && word[0] == '-' && !(word[1] >= '0' && word[1] <= '9')) {
      if (flags.count(word)) {
        parsed.Flags.insert(word);
        continue;
      }
      if (!valued.count(word)) fail("unknown option " + word);
      if (i + 1 >= arguments.size()) fail(word + " needs a value");
      if (!parsed.Options.emplace(word, arguments[++i]).second) fail(word + " is given twice");
    } else {
      parsed.Words.push_back(word);
    }
  }
  return parsed;
}

void allow_only(const Arguments& parsed, const std::set<std::string>& allowed, const char* mode) {
  for (const auto& [name, value] : parsed.Options)
    if (!allowed.count(name)) fail(name + " does not go with " + mode);
}

Bitmap read_picture(const std::string& fileName) {
  Bitmap picture;
  std::string errorText;
  if (!ReadPictureFile(fileName, picture, errorText)) fail(errorText);
  return picture;
}

// Both pictures, of one size, as the frame code needs them.
std::pair<Bitmap, Bitmap> read_picture_pair(const std::string& oldName, const std::string& newName) {
  Bitmap oldPicture = read_picture(oldName);
  Bitmap newPicture = read_picture(newName);
  if (oldPicture.Width() != newPicture.Width() || oldPicture.Height() != newPicture.Height())
    fail("the pictures differ in size: \"" + oldName + "\" is " + std::to_string(oldPicture.Width()) + "x" +
         std::to_string(oldPicture.Height()) + ", \"" + newName + "\" is " + std::to_string(newPicture.Width()) + "x" +
         std::to_string(newPicture.Height()));
  return {std::move(oldPicture), std::move(newPicture)};
}

// The output is opened before any picture is read or drawn, so a name that cannot be written is
// reported before the work is spent on it.
void open_output(OutputFile& output, const std::string& fileName) {
  std::string errorText;
  if (!output.Open(fileName, errorText)) fail(errorText);
}

void write_picture(OutputFile& output, const std::string& fileName, const Bitmap& picture) {
  std::vector<std::uint8_t> bytes;
  std::string errorText;
  if (!EncodePicture(fileName, picture, bytes, errorText)) fail("cannot write \"" + fileName + "\": " + errorText);
  if (!output.Write(bytes, errorText) || !output.Commit(errorText)) fail(errorText);
}

int list_effects() {
  // A failed write is reported by the front end once everything is flushed.
  for (int i = 0; i < EffectCount; ++i) std::cout << i + 1 << '\t' << EffectList[i].Name << '\n';
  return 0;
}

int compose_frame(const Arguments& parsed) {
  allow_only(parsed, {"--progress", "--from", "--to", "--out", "--source-seed", "--random-seed"}, "a frame");
  if (parsed.Words.size() != 1) fail(parsed.Words.empty() ? "missing effect number" : "more than one effect number");
  const int effect = parse_effect_number(parsed.Words[0]);
  const std::string& progressText = parsed.Require("--progress");
  const auto progress = parse_decimal(progressText, 100);
  if (!progress) fail("bad progress \"" + progressText + "\" (a whole number from 0 to 100)");
  const std::string& oldName = parsed.Require("--from");
  const std::string& newName = parsed.Require("--to");
  const std::string& outName = parsed.Require("--out");
  const std::string* sourceSeedText = parsed.Find("--source-seed");
  const std::string* randomSeedText = parsed.Find("--random-seed");
  const std::uint32_t sourceSeed = sourceSeedText ? parse_seed("--source-seed", *sourceSeedText) : DefaultSourceSeed;
  const std::uint32_t randomSeed = randomSeedText ? parse_seed("--random-seed", *randomSeedText) : DefaultRandomSeed;

  OutputFile output;
  open_output(output, outName);
  auto [oldPicture, newPicture] = read_picture_pair(oldName, newName);
  newPicture.SetSourceSeed(sourceSeed);
  Bitmap frame;
  RandomSeed = randomSeed;
  ComposeTransitionFrame(frame, oldPicture, newPicture, effect, static_cast<int>(*progress));
  write_picture(output, outName, frame);
  return 0;
}

int render_sheet(const Arguments& parsed) {
  allow_only(parsed, {"--sheet", "--from", "--to", "--size", "--effects"}, "--sheet");
  if (!parsed.Words.empty()) fail("unexpected \"" + parsed.Words[0] + "\" with --sheet");
  const std::string& outName = parsed.Require("--sheet");
  const std::string* oldName = parsed.Find("--from");
  const std::string* newName = parsed.Find("--to");
  if (!oldName != !newName) fail("--from and --to go together");
  auto [width, height] = std::pair{DefaultCellWidth, DefaultCellHeight};
  if (const std::string* size = parsed.Find("--size")) std::tie(width, height) = parse_size(*size);
  std::vector<int> effects;
  if (const std::string* list = parsed.Find("--effects")) {
    effects = parse_effect_list(*list);
  } else {
    for (int i = 1; i <= EffectCount; ++i) effects.push_back(i);
  }

  OutputFile output;
  open_output(output, outName);
  Bitmap sheet;
  std::string errorText;
  bool composed = false;
  if (oldName) {
    const auto [oldPicture, newPicture] = read_picture_pair(*oldName, *newName);
    composed = ComposeContactSheet(&oldPicture, &newPicture, width, height, effects, sheet, errorText);
  } else {
    composed = ComposeContactSheet(nullptr, nullptr, width, height, effects, sheet, errorText);
  }
  if (!composed) fail(errorText);
  write_picture(output, outName, sheet);
  return 0;
}

}  // namespace

int RunEffectCommand(const std::vector<std::string>& arguments) {
  try {
    const Arguments parsed = parse_arguments(arguments);
    if (parsed.Flags.count("--help") || parsed.Flags.count("-h")) {
      std::cout << Usage;
      return 0;
    }
    if (parsed.Flags.count("--list")) {
      if (!parsed.Options.empty() || !parsed.Words.empty()) fail("--list takes nothing else");
      return list_effects();
    }
    if (parsed.Find("--sheet")) return render_sheet(parsed);
    if (parsed.Words.empty() && parsed.Options.empty()) fail("missing arguments (lumivor effect --help shows them)");
    return compose_frame(parsed);
  } catch (const CommandError& error) {
    std::cerr << "lumivor effect: " << error.Text << '\n';
    return 2;
  }
}

}  // namespace lumivor::cli
