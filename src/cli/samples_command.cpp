#include "cli/samples_command.h"

#include <sys/stat.h>

#include <cstdio>
#include <iostream>

#include "app/samples/sample_media.h"
#include "cli/arguments.h"
#include "cli/standard_output.h"

namespace lumivor::cli {

namespace {

constexpr const char* Usage =
    "usage: lumivor samples FOLDER [--seconds N]\n"
    "\n"
    "Writes four sample photos of different shapes (three JPEG, one BMP) and a stereo WAV track\n"
    "of N seconds (default 30) into FOLDER, which must exist, and prints their paths: photos\n"
    "first, in showing order, then the track. Files of the same names are replaced; so is a\n"
    "symbolic link of such a name, which is never written through.\n";

constexpr OptionRule Options[] = {{"--seconds", OptionKind::Value}};

}  // namespace

int RunSamplesCommand(const std::vector<std::string>& arguments) {
  std::string folder;
  int seconds = 30;
  try {
    const ParsedArguments parsed = ParseArguments(arguments, Options);
    if (parsed.Help) {
      std::cout << Usage;
      return 0;
    }
    if (const std::string* text = parsed.Find("--seconds")) {
      seconds = static_cast<int>(NumberInRange("--seconds", *text, 1, 3600));
    }
    if (parsed.Positionals.size() > 1) fail_usage("unexpected \"" + parsed.Positionals[1] + "\"");
    if (parsed.Positionals.empty()) fail_usage("missing FOLDER");
    folder = parsed.Positionals[0];
    struct stat info {};
    if (::stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) fail("\"" + folder + "\" is not a folder");
  } catch (const CommandError& error) {
    return ReportCommandError("samples", error);
  }

  std::vector<std::string> photos;
  std::string errorText;
  const std::string track = folder + "/sample-tune.wav";
  if (!WriteSamplePhotos(folder, photos, errorText) || !WriteSampleTrack(track, seconds, errorText)) {
    std::fputs(("lumivor samples: " + errorText + "\n").c_str(), stderr);
    return 1;
  }
  for (const std::string& photo : photos) std::cout << photo << '\n';
  std::cout << track << '\n';
  return 0;
}

}  // namespace lumivor::cli
