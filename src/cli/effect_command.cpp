#include "cli/effect_command.h"

#include <cstdint>
#include <iostream>
#include <optional>
#include <set>
#include <tuple>
#include <utility>

#include "app/files/output_file.h"
#include "app/photos/picture_file.h"
#include "app/show/contact_sheet.h"
#include "cli/arguments.h"
#include "cli/effect_numbers.h"
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

// Plain decimal digits only: no sign, no spaces, no hex, nothing after the number.
std::optional<std::uint64_t> parse_decimal(const std::string& text, std::uint64_t max) {
  if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return std::nullopt;
  const std::optional<long long> value = WholeNumber(text);
  if (!value || static_cast<std::uint64_t>(*value) > max) return std::nullopt;
  return static_cast<std::uint64_t>(*value);
}

int parse_effect_number(const std::string& text) {
  const auto n = parse_decimal(text, EffectCount);
  if (!n || *n < 1) fail("unknown effect number \"" + text + "\" (effects are 1 to " + std::to_string(EffectCount) + ")");
  return static_cast<int>(*n);
}

std::pair<int, int> parse_size(const std::string& text) {
  const std::size_t x = text.find_first_of("xX");
  const auto width = parse_decimal(text.substr(0, x), MaxCellSide);
  const auto height = x == std::string::npos ? std::nullopt : parse_decimal(text.substr(x + 1), MaxCellSide);
  if (!width || !height || *width < 1 || *height < 1)
    fail("bad --size \"" + text + "\" (WxH, each from 1 to " + std::to_string(MaxCellSide) + ")");
  return {static_cast<int>(*width), static_cast<int>(*height)};
}

constexpr OptionRule Options[] = {
    {"--list", OptionKind::Flag},         {"--progress", OptionKind::Value},    {"--from", OptionKind::Value},
    {"--to", OptionKind::Value},          {"--out", OptionKind::Value},         {"--source-seed", OptionKind::Value},
    {"--random-seed", OptionKind::Value}, {"--sheet", OptionKind::Value},       {"--size", OptionKind::Value},
    {"--effects", OptionKind::Value},
};

const std::string& require(const ParsedArguments& parsed, const std::string& name) {
  const std::string* value = parsed.Find(name);
  if (!value) fail_usage("missing " + name);
  return *value;
}

std::uint32_t seed(const ParsedArguments& parsed, const std::string& name, std::uint32_t otherwise) {
  const std::string* text = parsed.Find(name);
  return text ? static_cast<std::uint32_t>(NumberInRange(name, *text, 0, 4294967295LL)) : otherwise;
}

void allow_only(const ParsedArguments& parsed, const std::set<std::string>& allowed, const char* mode) {
  for (const ParsedArguments::Option& option : parsed.Options)
    if (!allowed.count(option.Name)) fail_usage(option.Name + " does not go with " + mode);
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

int compose_frame(const ParsedArguments& parsed) {
  allow_only(parsed, {"--progress", "--from", "--to", "--out", "--source-seed", "--random-seed"}, "a frame");
  if (parsed.Positionals.size() != 1) {
    fail_usage(parsed.Positionals.empty() ? "missing effect number" : "more than one effect number");
  }
  const int effect = parse_effect_number(parsed.Positionals[0]);
  const std::string& progressText = require(parsed, "--progress");
  const auto progress = parse_decimal(progressText, 100);
  if (!progress) fail("bad progress \"" + progressText + "\" (--progress takes a whole number from 0 to 100)");
  const std::string& oldName = require(parsed, "--from");
  const std::string& newName = require(parsed, "--to");
  const std::string& outName = require(parsed, "--out");
  const std::uint32_t sourceSeed = seed(parsed, "--source-seed", DefaultSourceSeed);
  const std::uint32_t randomSeed = seed(parsed, "--random-seed", DefaultRandomSeed);

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

int render_sheet(const ParsedArguments& parsed) {
  allow_only(parsed, {"--sheet", "--from", "--to", "--size", "--effects"}, "--sheet");
  if (!parsed.Positionals.empty()) fail_usage("unexpected \"" + parsed.Positionals[0] + "\" with --sheet");
  const std::string& outName = require(parsed, "--sheet");
  const std::string* oldName = parsed.Find("--from");
  const std::string* newName = parsed.Find("--to");
  if (!oldName != !newName) fail_usage("--from and --to go together");
  auto [width, height] = std::pair{DefaultCellWidth, DefaultCellHeight};
  if (const std::string* size = parsed.Find("--size")) std::tie(width, height) = parse_size(*size);
  std::vector<int> effects;
  if (const std::string* list = parsed.Find("--effects")) {
    effects = ParseEffectNumbers(*list);
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
    const ParsedArguments parsed = ParseArguments(arguments, Options);
    if (parsed.Help) {
      std::cout << Usage;
      return 0;
    }
    if (parsed.Has("--list")) {
      if (parsed.Options.size() > 1 || !parsed.Positionals.empty()) fail_usage("--list takes nothing else");
      return list_effects();
    }
    if (parsed.Find("--sheet")) return render_sheet(parsed);
    if (parsed.Positionals.empty() && parsed.Options.empty()) fail_usage("missing arguments");
    return compose_frame(parsed);
  } catch (const CommandError& error) {
    return ReportCommandError("effect", error);
  }
}

}  // namespace lumivor::cli
