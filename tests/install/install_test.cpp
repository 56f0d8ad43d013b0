// The installed program: what `cmake --install` puts under a prefix, that the installed programs run
// from there, and that the help page an installed program opens is its own and not the source tree's.
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/common/global_object.h"

namespace lumivor {
namespace {

namespace fs = std::filesystem;

const std::string SourceHelpPage = std::string(LUMIVOR_SOURCE_DIR) + "/docs/help.html";

// A fresh folder under the system's temporary folder, removed with everything in it.
class TempFolder {
 public:
  TempFolder() {
    std::string pattern = (fs::temp_directory_path() / "lumivor-install-XXXXXX").string();
    if (::mkdtemp(pattern.data()) != nullptr) path_ = pattern;
  }
  ~TempFolder() {
    std::error_code ignored;
    if (!path_.empty()) fs::remove_all(path_, ignored);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

std::string shell_quoted(const std::string& text) {
  std::string quoted = "'";
  for (const char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

// Runs a shell command with stderr joined to stdout; the exit status, or -1 when it did not exit.
int run(const std::string& command, std::string& output) {
  output.clear();
  FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return -1;
  char buffer[4096];
  size_t got = 0;
  while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, got);
  const int status = ::pclose(pipe);
  return (status != -1 && WIFEXITED(status)) ? WEXITSTATUS(status) : -1;
}

std::string read_file(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void write_file(const fs::path& file, const std::string& text) {
  fs::create_directories(file.parent_path());
  std::ofstream(file, std::ios::binary) << text;
}

// A 24-bit BMP of one pixel: headers, then the pixel padded to a 4-byte row.
std::string one_pixel_bmp() {
  std::string file;
  const auto put = [&file](unsigned value, int bytes) {
    for (int i = 0; i < bytes; ++i) file += static_cast<char>((value >> (8 * i)) & 0xFF);
  };
  file += "BM";
  put(58, 4), put(0, 4), put(54, 4);                // file size, reserved, pixel offset
  put(40, 4), put(1, 4), put(1, 4), put(1, 2);      // info header size, width, height, planes
  put(24, 2), put(0, 4), put(4, 4);                 // bits per pixel, no compression, pixel bytes
  put(2835, 4), put(2835, 4), put(0, 4), put(0, 4);  // 72 dpi, no palette
  put(0x20F080, 3), put(0, 1);
  return file;
}

std::vector<std::string> installed_programs() {
  std::vector<std::string> names;
  std::istringstream words(LUMIVOR_INSTALLED_PROGRAMS);
  for (std::string name; words >> name;) names.push_back(name);
  return names;
}

TEST(HelpFile, TheInstalledPageComesFirstThenTheBuildTreeCopy) {
  TempFolder root;
  ASSERT_FALSE(root.path().empty());
  const fs::path& r = root.path();
  // An installed tree, a program with nothing installed beside it, a source tree, and a tree whose
  // page is a folder (no page at all).
  write_file(r / "usr/bin/lumivor", "");
  write_file(r / "usr/share/doc/lumivor/help.html", "<html></html>");
  write_file(r / "bare/bin/lumivor", "");
  write_file(r / "source/docs/help.html", "<html></html>");
  write_file(r / "odd/bin/lumivor", "");
  fs::create_directories(r / "odd/share/doc/lumivor/help.html");

  const std::string installed = (r / "usr/share/doc/lumivor/help.html").string();
  const std::string source = (r / "source/docs/help.html").string();
  const std::string missing = (r / "nowhere/help.html").string();
  struct Case {
    const char* what;
    std::string executable, buildTreePage, expected;
  };
  const Case cases[] = {
      {"installed beside the program, a source tree present too", (r / "usr/bin/lumivor").string(), source, installed},
      {"installed, no source tree", (r / "usr/bin/lumivor").string(), missing, installed},
      {"a program path with dots in it", (r / "usr/bin/../bin/./lumivor").string(), source, installed},
      {"nothing installed: the build folder's program", (r / "bare/bin/lumivor").string(), source, source},
      {"neither: where the page belongs", (r / "bare/bin/lumivor").string(), missing,
       (r / "bare/share/doc/lumivor/help.html").string()},
      {"a folder named like the page", (r / "odd/bin/lumivor").string(), source, source},
      {"no program path (no /proc)", "", source, source},
      {"a relative program path is not trusted", "usr/bin/lumivor", source, source},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(HelpFileFor(c.executable, c.buildTreePage), c.expected);
  }
}

TEST(HelpFile, AProgramRunFromTheBuildFolderOpensTheSourceTreePage) {
  // This test program lives in the build folder, where nothing is installed beside it.
  EXPECT_EQ(HelpFile(), SourceHelpPage);
  EXPECT_EQ(GlobalObject().HelpPageURL(), FileURL(SourceHelpPage));
}

TEST(FileURL, EncodesWhatAURLWouldMisread) {
  struct Case {
    std::string path, url;
  };
  const Case cases[] = {
      {"/usr/share/doc/lumivor/help.html", "file:///usr/share/doc/lumivor/help.html"},
      {"/opt/My Apps/help.html", "file:///opt/My%20Apps/help.html"},
      {"/a#b?c%d/x", "file:///a%23b%3Fc%25d/x"},
      {"/a-b_c.d~e/F9", "file:///a-b_c.d~e/F9"},
      {"/caf\xC3\xA9", "file:///caf%C3%A9"},
      {"/x:y;z&w+v", "file:///x%3Ay%3Bz%26w%2Bv"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(FileURL(c.path), c.url);
  }
}

// This build folder installed into a temporary prefix, once per test program run.
class InstalledTree : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    prefix_ = new TempFolder;
    output_ = new std::string;
    status_ = run(shell_quoted(LUMIVOR_CMAKE_COMMAND) + " --install " + shell_quoted(LUMIVOR_BUILD_DIR) +
                      " --prefix " + shell_quoted(prefix_->path().string()),
                  *output_);
  }
  static void TearDownTestSuite() {
    delete prefix_;
    delete output_;
    prefix_ = nullptr;
    output_ = nullptr;
  }
  void SetUp() override {
    ASSERT_FALSE(prefix_->path().empty()) << "no temporary folder";
    ASSERT_EQ(status_, 0) << "cmake --install failed:\n" << *output_;
  }
  static fs::path Prefix() { return prefix_->path(); }

 private:
  static inline TempFolder* prefix_ = nullptr;
  static inline std::string* output_ = nullptr;
  static inline int status_ = -1;
};

TEST_F(InstalledTree, PutsEachFileInItsPlace) {
  struct Case {
    std::string file;
    bool program;
  };
  std::vector<Case> cases = {
      {"share/doc/lumivor/help.html", false},
      {"share/applications/lumivor.desktop", false},
      {"share/icons/hicolor/scalable/apps/lumivor.svg", false},
  };
  for (const std::string& name : installed_programs()) cases.push_back({"bin/" + name, true});
  ASSERT_GE(cases.size(), 5u) << "lumivor and lumivor-gui at least";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    const fs::path file = Prefix() / c.file;
    std::error_code error;
    ASSERT_TRUE(fs::is_regular_file(file, error)) << file;
    EXPECT_GT(fs::file_size(file, error), 0u);
    const fs::perms perms = fs::status(file, error).permissions();
    EXPECT_EQ((perms & fs::perms::others_read) != fs::perms::none, true) << "everyone may read it";
    EXPECT_EQ((perms & fs::perms::owner_exec) != fs::perms::none, c.program);
    EXPECT_EQ((perms & fs::perms::others_exec) != fs::perms::none, c.program);
  }
  EXPECT_EQ(read_file(Prefix() / "share/doc/lumivor/help.html"), read_file(SourceHelpPage));
  const std::string icon = read_file(Prefix() / "share/icons/hicolor/scalable/apps/lumivor.svg");
  EXPECT_NE(icon.find("<svg"), std::string::npos);
  EXPECT_NE(icon.find("viewBox="), std::string::npos) << "a scalable icon needs its drawing's extent";
  EXPECT_NE(icon.find("</svg>"), std::string::npos);
}

TEST_F(InstalledTree, DesktopEntryStartsTheInstalledWindowWithItsIcon) {
  const fs::path entry = Prefix() / "share/applications/lumivor.desktop";
  std::ifstream in(entry);
  ASSERT_TRUE(in) << entry;
  std::map<std::string, std::string> keys;
  std::string group;
  for (std::string line; std::getline(in, line);) {
    SCOPED_TRACE(line);
    if (line.empty() || line[0] == '#') continue;
    if (line[0] == '[') {
      EXPECT_TRUE(group.empty()) << "one group only";
      group = line;
      continue;
    }
    ASSERT_FALSE(group.empty()) << "a key before the group header";
    const size_t equals = line.find('=');
    ASSERT_NE(equals, std::string::npos) << "not a key=value line";
    EXPECT_TRUE(keys.emplace(line.substr(0, equals), line.substr(equals + 1)).second) << "a key given twice";
  }
  EXPECT_EQ(group, "[Desktop Entry]");

  struct Case {
    const char* key;
    const char* value;
  };
  const Case cases[] = {
      {"Type", "Application"},
      {"Name", "Lumivor"},
      {"Exec", "lumivor-gui %F"},
      {"Icon", "lumivor"},
      {"Terminal", "false"},
      {"Categories", "AudioVideo;Video;Graphics;"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.key);
    EXPECT_EQ(keys[c.key], c.value);
  }

  // Every type an image, the list closed by ";" as lists in desktop entries are, and the photo
  // types the window reads among them.
  const std::string types = keys["MimeType"];
  ASSERT_FALSE(types.empty());
  EXPECT_EQ(types.back(), ';');
  std::vector<std::string> listed;
  std::istringstream split(types);
  for (std::string type; std::getline(split, type, ';');) {
    EXPECT_EQ(type.rfind("image/", 0), 0u) << type;
    listed.push_back(type);
  }
  for (const char* type : {"image/jpeg", "image/png", "image/bmp", "image/webp", "image/heic"})
    EXPECT_NE(std::find(listed.begin(), listed.end(), type), listed.end()) << type;

  // What the entry names is what was installed.
  const std::string exec = keys["Exec"];
  EXPECT_TRUE(fs::is_regular_file(Prefix() / "bin" / exec.substr(0, exec.find(' ')))) << exec;
  EXPECT_TRUE(fs::is_regular_file(Prefix() / "share/icons/hicolor/scalable/apps" / (keys["Icon"] + ".svg")));

  std::string output;
  if (run("command -v desktop-file-validate", output) == 0) {
    EXPECT_EQ(run("desktop-file-validate " + shell_quoted(entry.string()), output), 0) << output;
    EXPECT_EQ(output.find("error"), std::string::npos) << output;
  }
}

TEST_F(InstalledTree, InstalledProgramsRunAndOpenTheirOwnHelpPage) {
  std::string output;
  const fs::path lumivor = Prefix() / "bin/lumivor";
  EXPECT_EQ(run(shell_quoted(lumivor.string()) + " --help", output), 0) << output;
  EXPECT_EQ(output.rfind("usage: lumivor COMMAND", 0), 0u) << output;

  // The window starts far enough to read its arguments (Qt found and loaded) and refuses an option
  // it does not know; no desktop is needed for that, and the settings stay out of the home folder.
  TempFolder settings;
  EXPECT_EQ(run("QT_QPA_PLATFORM=offscreen LUMIVOR_CONFIG_DIR=" + shell_quoted(settings.path().string()) + " " +
                    shell_quoted((Prefix() / "bin/lumivor-gui").string()) + " --no-such-option",
                output),
            2)
      << output;
  EXPECT_NE(output.find("usage: lumivor-gui"), std::string::npos) << output;

  // Each installed program opens the page installed with it, though the source tree's copy is still
  // on this machine.
  const std::string installedPage = (Prefix() / "share/doc/lumivor/help.html").string();
  for (const std::string& name : installed_programs()) {
    SCOPED_TRACE(name);
    EXPECT_EQ(HelpFileFor((Prefix() / "bin" / name).string(), SourceHelpPage), installedPage);
  }
}

TEST_F(InstalledTree, WindowKeepsTheFilesADesktopHandsIt) {
  // A photo handed over by the desktop entry's %F keeps the window open instead of ending it with
  // a usage line: still running when the time is up. The settings go to a folder of the test's.
  std::string output;
  TempFolder photos;
  const fs::path photo = photos.path() / "one pixel.bmp";
  write_file(photo, one_pixel_bmp());
  ASSERT_EQ(fs::file_size(photo), 58u);
  EXPECT_EQ(run("QT_QPA_PLATFORM=offscreen LUMIVOR_CONFIG_DIR=" + shell_quoted(photos.path().string()) +
                    " timeout 2 " + shell_quoted((Prefix() / "bin/lumivor-gui").string()) + " " +
                    shell_quoted(photo.string()),
                output),
            124)
      << output;
}

}  // namespace
}  // namespace lumivor
