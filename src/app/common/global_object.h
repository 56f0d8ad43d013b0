// The application object: where the settings file lives and the product strings the window shows.
// One per process, made on first use (the window makes it before any of its handlers runs).
#pragma once

#include <string>

namespace lumivor {

struct VersionNumbers {
  int Major = 0, Minor = 0, Release = 0, Build = 0;
};

class TGlobalObject {
 public:
  // Fields as the program starts: the settings file from the environment, the compiled-in version.
  TGlobalObject();

  const std::string& SettingsFile() const { return settingsFile_; }
  const std::string& ProductName() const { return productName_; }
  const std::string& VersionText() const { return versionText_; }
  const std::string& ProductPageURL() const { return productPageURL_; }
  const std::string& HelpPageURL() const { return helpPageURL_; }

  // Each setter keeps the old value when given an empty one; a settings path of three characters
  // or fewer cannot name a file in a folder and is ignored too.
  void SetSettingsFile(const std::string& value);
  void SetProductName(const std::string& value);
  void SetVersionText(const std::string& value);
  void SetProductPageURL(const std::string& value);
  void SetHelpPageURL(const std::string& value);

 private:
  std::string settingsFile_;
  std::string productName_;
  std::string versionText_;
  std::string productPageURL_;
  std::string helpPageURL_;
};

TGlobalObject& GlobalObject();

// LUMIVOR_CONFIG_DIR when set, else $XDG_CONFIG_HOME/lumivor, else $HOME/.config/lumivor; with a
// trailing "/" and then "lumivor.ini". Read from the environment at each call.
std::string DefaultSettingsFile();

// " " + major + "." + minor + release + build + " ": one dot only, after the major number.
std::string VersionTextOf(const VersionNumbers& version);
// The version this program was built as.
VersionNumbers ProgramVersion();

// The help page the program at `executable` opens: the page installed with it (from the program's
// folder, "../share/doc/lumivor/help.html" in the usual layout) when that exists; else
// `buildTreePage` when that exists (a program run from its build folder); else the installed place,
// so that a failure to open it names where the page belongs. An empty or relative `executable`
// (no /proc) leaves only `buildTreePage`.
std::string HelpFileFor(const std::string& executable, const std::string& buildTreePage);
// HelpFileFor the running program (/proc/self/exe) and the source tree's docs/help.html.
std::string HelpFile();
// A file URL for an absolute path: "file://" and the path with every byte but letters, digits,
// "-._~" and "/" percent-encoded, so that a space, "#", "?" or "%" in a folder name survives.
std::string FileURL(const std::string& path);

// The user's home folder ($HOME, else the password database's entry), without a trailing "/".
std::string HomeFolder();

}  // namespace lumivor
