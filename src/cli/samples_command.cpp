#include "cli/samples_command.h"

#include <sys/stat.h>

#include <charconv>
#include <cstdio>
#include <iostream>

#include "app/samples/sample_media.h"
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

int usage_error(const std::string& text) {
  const std::string line = "lumivor samples: " + text + "\n";
  std::fputs(line.c_str(), stderr);
  return 2;
}

}  // namespace

int RunSamplesCommand(const std::vector<std::string>& arguments) {
  std::string folder;
  int seconds = 30;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string& word = arguments[i];
    if (word == "--help" || word == "-h") {
      std::cout << Usage;
      return 0;
    }
    if (word == "--seconds") {
      if (i + 1 >= arguments.size()) return usage_error("--seconds needs a value");
      const std::string& value = arguments[++i];
      const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), seconds);
      if (error != std::errc() || end != value.data() + value.size() || seconds < 1 || seconds > 3600) {
        return usage_error("--seconds wants a whole number from 1 to 3600, not \"" + value + "\"");
      }
      continue;
    }
    if (!folder.empty() || word.empty() || (word[0] == '-' && word != "-")) return usage_error("unexpected \"" + word + "\"");
    folder = word;
  }
  if (folder.empty()) return usage_error("missing FOLDER (lumivor samples --help shows the arguments)");
  struct stat info {};
  if (::stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) return usage_error("\"" + folder + "\" is not a folder");

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
