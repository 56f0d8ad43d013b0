#include "app/common/global_object.h"

#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <vector>

// The build passes the project's version and where the help page is: its place relative to the
// installed programs, and the source tree's copy.
#if !defined(LUMIVOR_VERSION_MAJOR) || !defined(LUMIVOR_HELP_FROM_PROGRAM) || !defined(LUMIVOR_BUILD_TREE_HELP_FILE)
#error "LUMIVOR_VERSION_MAJOR, LUMIVOR_HELP_FROM_PROGRAM and their siblings come from src/app/CMakeLists.txt"
#endif

namespace lumivor {

namespace {

constexpr const char* SettingsFileName = "lumivor.ini";
// A reserved domain: the project has no web site of its own yet, and no address here may point at
// someone else's.
constexpr const char* ProjectPage = "https://lumivor.example.org/";

std::string environment(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? std::string(value) : std::string();
}

std::string with_trailing_slash(std::string folder) {
  if (folder.empty() || folder.back() != '/') folder += '/';
  return folder;
}

void set_unless_empty(std::string& field, const std::string& value) {
  if (!value.empty()) field = value;
}

}  // namespace

std::string HomeFolder() {
  std::string home = environment("HOME");
  if (home.empty()) {
    // getpwuid_r with a growing buffer: the process may have threads already.
    std::vector<char> buffer(1024);
    passwd entry{};
    passwd* found = nullptr;
    while (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == ERANGE && buffer.size() < 65536)
      buffer.resize(buffer.size() * 2);
    if (found != nullptr && found->pw_dir != nullptr) home = found->pw_dir;
  }
  while (home.size() > 1 && home.back() == '/') home.pop_back();
  if (home == "/") home.clear();  // "/" + "/lumivor" must not become "//lumivor"
  return home;
}

std::string DefaultSettingsFile() {
  std::string folder = environment("LUMIVOR_CONFIG_DIR");
  if (folder.empty()) {
    // Relative values are to be ignored, so that the file does not move with the current folder.
    const std::string xdg = environment("XDG_CONFIG_HOME");
    folder = (!xdg.empty() && xdg.front() == '/') ? with_trailing_slash(xdg) + "lumivor"
                                                  : HomeFolder() + "/.config/lumivor";
  }
  return with_trailing_slash(folder) + SettingsFileName;
}

std::string HelpFileFor(const std::string& executable, const std::string& buildTreePage) {
  namespace fs = std::filesystem;
  std::error_code error;
  const fs::path program(executable);
  fs::path installed;
  if (program.is_absolute() && program.has_filename())
    installed = (program.parent_path() / LUMIVOR_HELP_FROM_PROGRAM).lexically_normal();
  if (!installed.empty() && fs::is_regular_file(installed, error)) return installed.string();
  // Tests, the demo and a developer run the programs from the build folder, where nothing is
  // installed beside them; the source tree's page serves them. An installed program never needs
  // it: its own page is found first.
  if (!buildTreePage.empty() && fs::is_regular_file(buildTreePage, error)) return buildTreePage;
  return installed.empty() ? buildTreePage : installed.string();
}

std::string HelpFile() {
  std::error_code error;
  const std::filesystem::path executable = std::filesystem::read_symlink("/proc/self/exe", error);
  return HelpFileFor(error ? std::string() : executable.string(), LUMIVOR_BUILD_TREE_HELP_FILE);
}

std::string FileURL(const std::string& path) {
  static constexpr char Hex[] = "0123456789ABCDEF";
  std::string url = "file://";
  for (const char c : path) {
    const auto byte = static_cast<unsigned char>(c);
    const bool plain = (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') || (byte >= '0' && byte <= '9') ||
                       byte == '-' || byte == '.' || byte == '_' || byte == '~' || byte == '/';
    if (plain) {
      url += c;
    } else {
      url += '%';
      url += Hex[byte >> 4];
      url += Hex[byte & 0x0F];
    }
  }
  return url;
}

std::string VersionTextOf(const VersionNumbers& version) {
  return " " + std::to_string(version.Major) + "." + std::to_string(version.Minor) + std::to_string(version.Release) +
         std::to_string(version.Build) + " ";
}

VersionNumbers ProgramVersion() {
  return {LUMIVOR_VERSION_MAJOR, LUMIVOR_VERSION_MINOR, LUMIVOR_VERSION_PATCH, LUMIVOR_VERSION_TWEAK};
}

TGlobalObject::TGlobalObject()
    : settingsFile_(DefaultSettingsFile()),
      productName_("Lumivor"),
      versionText_(VersionTextOf(ProgramVersion())),
      productPageURL_(ProjectPage),
      helpPageURL_(FileURL(HelpFile())) {}

void TGlobalObject::SetSettingsFile(const std::string& value) {
  if (value.size() > 3) settingsFile_ = value;
}
void TGlobalObject::SetProductName(const std::string& value) { set_unless_empty(productName_, value); }
void TGlobalObject::SetVersionText(const std::string& value) { set_unless_empty(versionText_, value); }
void TGlobalObject::SetProductPageURL(const std::string& value) { set_unless_empty(productPageURL_, value); }
void TGlobalObject::SetHelpPageURL(const std::string& value) { set_unless_empty(helpPageURL_, value); }

TGlobalObject& GlobalObject() {
  static TGlobalObject object;
  return object;
}

}  // namespace lumivor
