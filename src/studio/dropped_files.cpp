#include "studio/dropped_files.h"

#include <strings.h>

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "app/run/audio_tracks.h"

namespace lumivor::studio {
namespace {

std::string extension_of(const std::string& path) {
  const std::string name = std::filesystem::path(path).filename().string();
  const std::size_t dot = name.rfind('.');
  if (dot == std::string::npos || dot == 0) return {};
  return name.substr(dot + 1);
}

// The track dialog's filter is the one list of what can be a track; its "*.EXT" patterns are read
// from it rather than copied, so both stay the same.
std::vector<std::string> track_extensions() {
  std::vector<std::string> extensions;
  const std::string filter = AudioFileFilter;
  for (std::size_t at = filter.find("*."); at != std::string::npos; at = filter.find("*.", at)) {
    at += 2;
    const std::size_t end = filter.find_first_of(";|", at);
    extensions.push_back(filter.substr(at, end == std::string::npos ? std::string::npos : end - at));
  }
  return extensions;
}

bool extension_among(const std::string& path, const std::vector<std::string>& extensions) {
  const std::string extension = extension_of(path);
  if (extension.empty()) return false;
  return std::any_of(extensions.begin(), extensions.end(),
                     [&](const std::string& e) { return strcasecmp(e.c_str(), extension.c_str()) == 0; });
}

}  // namespace

bool HasPictureName(const std::string& path) {
  static const std::vector<std::string> kinds = {"bmp", "jpg", "jpeg", "png", "webp", "heic", "heif"};
  return extension_among(path, kinds);
}

bool HasTrackName(const std::string& path) {
  static const std::vector<std::string> kinds = track_extensions();
  return extension_among(path, kinds);
}

SortedFiles SortDroppedFiles(const std::vector<std::string>& paths) {
  SortedFiles sorted;
  for (const std::string& path : paths) {
    std::error_code error;
    if (std::filesystem::is_directory(path, error)) {
      std::vector<std::string> pictures;
      for (const auto& entry : std::filesystem::directory_iterator(path, error)) {
        std::error_code ignored;
        if (entry.is_regular_file(ignored) && HasPictureName(entry.path().string())) {
          pictures.push_back(entry.path().string());
        }
      }
      std::sort(pictures.begin(), pictures.end(), [](const std::string& a, const std::string& b) {
        return std::filesystem::path(a).filename().string() < std::filesystem::path(b).filename().string();
      });
      sorted.Photos.insert(sorted.Photos.end(), pictures.begin(), pictures.end());
    } else if (HasTrackName(path)) {
      sorted.Tracks.push_back(path);
    } else {
      sorted.Photos.push_back(path);
    }
  }
  return sorted;
}

}  // namespace lumivor::studio
