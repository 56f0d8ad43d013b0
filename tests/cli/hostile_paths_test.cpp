// lumivor effect and lumivor probe given what a careless or hostile user gives them: names of
// folders, FIFOs, sockets, devices and links, folders it may not write, names that look like
// protocols, output nobody reads, and signals in the middle of a write. One row per case, each
// saying what must hold afterwards.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "app/photos/picture_file.h"
#include "app/picture_test_support.h"
#include "app/samples/sample_pictures.h"
#include "cli/cli_test_support.h"
#include "media/components/media_maker.h"
#include "support/socket_file.h"

namespace lumivor {
namespace {

using testing::FileText;
using testing::FolderEntries;
using testing::Lines;
using testing::MakeSocketFile;
using testing::RunLumivor;
using testing::RunOptions;
using testing::RunResult;
using testing::ScratchFolder;
using testing::StandardOutput;

RunOptions WithOutput(StandardOutput out) {
  RunOptions options;
  options.Out = out;
  return options;
}

RunOptions AsUser(uid_t user) {
  RunOptions options;
  options.User = user;
  return options;
}

mode_t Mode(const std::string& name) {
  struct stat info {};
  return ::lstat(name.c_str(), &info) == 0 ? info.st_mode : 0;
}

bool IsPicture(const std::string& name) {
  Bitmap picture;
  std::string error;
  return ReadPictureFile(name, picture, error) || !testing::DecodePng(testing::ReadWholeFile(name)).IsEmpty();
}

class HostilePathsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Others may need to pass through it (a case runs as an unprivileged user).
    ASSERT_EQ(::chmod(folder_.Path().c_str(), 0755), 0);
    std::string error;
    ASSERT_TRUE(WritePictureFile(Path("old.bmp"), MakeSamplePicture(SamplePicture::Landscape, 40, 30), error)) << error;
    ASSERT_TRUE(WritePictureFile(Path("new.bmp"), MakeSamplePicture(SamplePicture::Pattern, 40, 30), error)) << error;
    ASSERT_TRUE(testing::WriteWholeFile(Path("keep.bmp"), {'k', 'e', 'e', 'p'}));
    ASSERT_TRUE(testing::WriteWholeFile(Path("private.bmp"), {'o', 'l', 'd'}));
    ASSERT_EQ(::chmod(Path("private.bmp").c_str(), 0600), 0);
    std::filesystem::create_directory(Path("taken.bmp"));
    std::filesystem::create_directory(Path("readonly"));
    ASSERT_EQ(::chmod(Path("readonly").c_str(), 0555), 0);
    ASSERT_EQ(::mkfifo(Path("fifo.bmp").c_str(), 0644), 0);
    ASSERT_TRUE(MakeSocketFile(Path("socket.bmp")));
    std::filesystem::create_symlink("keep.bmp", Path("link-to-file.bmp"));
    std::filesystem::create_symlink("fifo.bmp", Path("link-to-fifo.bmp"));
    std::filesystem::create_symlink("made.bmp", Path("dangling.bmp"));
    testing::MediaSpec wav;
    wav.Format = "wav";
    wav.Seconds = 0.5;
    ASSERT_TRUE(testing::WriteMediaFile(Path("tone.wav"), wav, error)) << error;
    std::filesystem::copy_file(Path("tone.wav"), Path("a:b.wav"));
    const std::vector<std::uint8_t> jpeg = testing::EncodeJpeg(MakeSamplePicture(SamplePicture::Pattern, 40, 30));
    ASSERT_TRUE(testing::WriteWholeFile(Path("cut.jpg"), std::vector<std::uint8_t>(jpeg.begin(), jpeg.end() - 40)));
    std::filesystem::copy_file(Path("tone.wav"), Path("subfile,,start,0,end,64,,:tone.wav"));
    // A device node of our own rather than /dev/null, so that a writer gone wrong cannot replace
    // the machine's.
    if (::geteuid() == 0) {
      ASSERT_EQ(::mknod(Path("device.bmp").c_str(), S_IFCHR | 0666, makedev(1, 3)), 0);
    }
  }

  std::string Path(const std::string& name) const { return folder_ / name; }

  ScratchFolder folder_;
};

TEST_F(HostilePathsTest, EveryCaseEndsAsItShould) {
  const std::string o = Path("old.bmp"), n = Path("new.bmp"), longName(std::size_t{251}, 'l');
  const uid_t nobody = testing::UnprivilegedUser();
  auto frame = [&](const std::string& out, const std::string& from = "") {
    return std::vector<std::string>{"effect", "5", "--progress", "50", "--from", from.empty() ? o : from, "--to", n,
                                    "--out", out};
  };
  struct Case {
    std::string Name;
    std::vector<std::string> Arguments;
    int ExitCode;
    std::string ErrorText;        // found in stderr; empty: stderr is empty
    std::function<void()> After;  // what must be true afterwards
    RunOptions Options = {};
  };
  const bool root = ::geteuid() == 0;
  std::vector<std::string> untouched = {"a:b.wav",  "cut.jpg", "dangling.bmp", "fifo.bmp",   "keep.bmp",
                                        "link-to-fifo.bmp", "link-to-file.bmp", "new.bmp",
                                        "old.bmp",  "private.bmp",  "readonly",   "socket.bmp",
                                        "subfile,,start,0,end,64,,:tone.wav", "taken.bmp", "tone.wav"};
  if (root) untouched.push_back("device.bmp");
  std::sort(untouched.begin(), untouched.end());
  auto unchanged = [&] {
    EXPECT_EQ(FolderEntries(folder_.Path()), untouched);
    EXPECT_TRUE(S_ISFIFO(Mode(Path("fifo.bmp"))));
    EXPECT_TRUE(S_ISSOCK(Mode(Path("socket.bmp"))));
    EXPECT_TRUE(S_ISDIR(Mode(Path("taken.bmp"))));
    EXPECT_TRUE(S_ISLNK(Mode(Path("link-to-file.bmp"))));
    EXPECT_EQ(FileText(Path("keep.bmp")), "keep");
    EXPECT_EQ(FileText(Path("private.bmp")), "old");
    EXPECT_EQ(FolderEntries(Path("readonly")), std::vector<std::string>{});
  };
  const std::string folderWord = "cannot write \"" + Path("taken.bmp") + "\": it is a folder";
  std::vector<Case> cases = {
      // Output names.
      {"an existing folder as OUT, said before any input is read", frame(Path("taken.bmp"), Path("missing.bmp")), 2,
       folderWord, unchanged},
      {"an existing folder as the sheet", {"effect", "--sheet", Path("taken.bmp"), "--size", "8x6"}, 2, folderWord,
       unchanged},
      {"a FIFO as OUT", frame(Path("fifo.bmp")), 2, "\": it is a FIFO, not a regular file", unchanged},
      {"a socket as OUT", frame(Path("socket.bmp")), 2, "\": it is a socket, not a regular file", unchanged},
      {"a link to a FIFO as OUT", frame(Path("link-to-fifo.bmp")), 2, "it is a FIFO, not a regular file", unchanged},
      {"a missing folder", frame(Path("missing/out.bmp")), 2,
       "the folder \"" + Path("missing") + "\" does not exist", unchanged},
      {"a read-only folder", frame(Path("readonly/out.bmp")), 2,
       "the folder \"" + Path("readonly") + "\" is not writable (Permission denied)", unchanged,
       AsUser(nobody)},
      {"a link to a file: the file is written, the link stays",
       frame(Path("link-to-file.bmp")), 0, "",
       [&] {
         EXPECT_TRUE(S_ISLNK(Mode(Path("link-to-file.bmp"))));
         EXPECT_TRUE(IsPicture(Path("keep.bmp")));
         ASSERT_TRUE(testing::WriteWholeFile(Path("keep.bmp"), {'k', 'e', 'e', 'p'}));
       }},
      {"a dangling link: its target is made", frame(Path("dangling.bmp")), 0, "",
       [&] {
         EXPECT_TRUE(S_ISLNK(Mode(Path("dangling.bmp"))));
         EXPECT_TRUE(IsPicture(Path("made.bmp")));
         std::filesystem::remove(Path("made.bmp"));
       }},
      {"a private file keeps its permissions", frame(Path("private.bmp")), 0, "",
       [&] {
         EXPECT_EQ(Mode(Path("private.bmp")) & 07777, 0600u);
         EXPECT_TRUE(IsPicture(Path("private.bmp")));
         ASSERT_TRUE(testing::WriteWholeFile(Path("private.bmp"), {'o', 'l', 'd'}));
       }},
      {"the longest name the folder takes", frame(Path(longName + ".bmp")), 0, "",
       [&] {
         EXPECT_TRUE(IsPicture(Path(longName + ".bmp")));
         std::filesystem::remove(Path(longName + ".bmp"));
         unchanged();
       }},
      // Input names: refused before they are opened, so nothing waits for a writer.
      {"a FIFO as a picture", frame(Path("out.bmp"), Path("fifo.bmp")), 2,
       "cannot read \"" + Path("fifo.bmp") + "\": it is a FIFO, not a regular file", unchanged},
      {"a device as a picture", frame(Path("out.bmp"), "/dev/zero"), 2, "it is a character device", unchanged},
      {"a folder as a picture", frame(Path("out.bmp"), Path("taken.bmp")), 2, "it is a folder", unchanged},
      {"a JPEG cut short as a picture", frame(Path("out.bmp"), Path("cut.jpg")), 2,
       "cannot read \"" + Path("cut.jpg") + "\": JPEG data ends early", unchanged},
      {"probe: a FIFO", {"probe", Path("fifo.bmp")}, 1, Path("fifo.bmp") + ": it is a FIFO, not a regular file",
       unchanged},
      {"probe: a socket", {"probe", Path("socket.bmp")}, 1, "it is a socket, not a regular file", unchanged},
      {"probe: a device", {"probe", "/dev/zero"}, 1, "/dev/zero: it is a character device, not a regular file",
       unchanged},
      {"probe: a folder", {"probe", Path("taken.bmp")}, 1, "it is a folder", unchanged},
      {"probe: an empty name", {"probe", Path("tone.wav"), ""}, 1, "lumivor probe: argument 2 is an empty file name",
       unchanged},
      // Names that the library would read as protocols are files here.
      {"probe: a name with a colon is a file", {"probe", "a:b.wav"}, 0, "", unchanged},
      {"probe: a name like a subfile request is a file", {"probe", "subfile,,start,0,end,64,,:tone.wav"}, 0, "",
       unchanged},
      {"probe: a protocol is not opened", {"probe", "concat:" + Path("tone.wav") + "|" + Path("tone.wav")}, 1,
       "No such file or directory", unchanged},
      {"probe: nor a data URL", {"probe", "data:audio/wav;base64,UklGRg=="}, 1, "No such file or directory",
       unchanged},
      {"probe: a file's own name is still the file with protocols allowed", {"probe", "--allow-protocols", "a:b.wav"},
       0, "", unchanged},
      {"probe: protocols when asked for",
       {"probe", "--allow-protocols", "concat:" + Path("tone.wav") + "|" + Path("tone.wav")}, 0, "", unchanged},
      // Usage.
      {"probe: an unknown option", {"probe", "--bogus", Path("tone.wav")}, 2, "unknown option --bogus", unchanged},
      {"probe: no file", {"probe"}, 2, "no FILE given", unchanged},
      {"probe: a file after --", {"probe", "--", "--help"}, 1, "--help: No such file or directory", unchanged},
      // Standard output that cannot take the text.
      {"effect: a full disk", {"effect", "--list"}, 1,
       "lumivor effect: cannot write to standard output: No space left on device", unchanged,
       WithOutput(StandardOutput::FullDisk)},
      {"effect: a closed pipe", {"effect", "--list"}, 1, "lumivor effect: cannot write to standard output: Broken pipe",
       unchanged, WithOutput(StandardOutput::ClosedPipe)},
      {"probe: a full disk", {"probe", Path("tone.wav")}, 1,
       "lumivor probe: cannot write to standard output: No space left on device", unchanged,
       WithOutput(StandardOutput::FullDisk)},
      {"probe: a closed pipe", {"probe", Path("tone.wav")}, 1,
       "lumivor probe: cannot write to standard output: Broken pipe", unchanged,
       WithOutput(StandardOutput::ClosedPipe)},
      {"probe: help to a full disk", {"probe", "--help"}, 1, "No space left on device", unchanged,
       WithOutput(StandardOutput::FullDisk)},
      {"the front end's help to a full disk", {"--help"}, 1,
       "lumivor: cannot write to standard output: No space left on device", unchanged,
       WithOutput(StandardOutput::FullDisk)},
      {"play: a full disk", {"play", Path("tone.wav"), "--no-video"}, 1,
       "lumivor play: cannot write to standard output: No space left on device", unchanged,
       WithOutput(StandardOutput::FullDisk)},
      {"play: a closed pipe", {"play", Path("tone.wav"), "--no-video"}, 1,
       "lumivor play: cannot write to standard output: Broken pipe", unchanged,
       WithOutput(StandardOutput::ClosedPipe)},
  };
  if (root) {
    cases.push_back({"a device as OUT", frame(Path("device.bmp")), 2, "it is a character device, not a regular file",
                     [&] {
                       EXPECT_TRUE(S_ISCHR(Mode(Path("device.bmp"))));
                       unchanged();
                     }});
  }
  // play runs without a sound card or a display.
  ::setenv("SDL_AUDIODRIVER", "dummy", 1);
  ::setenv("SDL_VIDEODRIVER", "dummy", 1);
  for (auto& c : cases) {
    SCOPED_TRACE(c.Name);
    c.Options.WorkingFolder = folder_.Path();
    const RunResult run = RunLumivor(folder_, c.Arguments, c.Options);
    EXPECT_EQ(run.ExitCode, c.ExitCode) << run.Err;
    if (c.ErrorText.empty()) {
      EXPECT_EQ(run.Err, "");
    } else {
      EXPECT_NE(run.Err.find(c.ErrorText), std::string::npos) << run.Err;
      EXPECT_EQ(Lines(run.Err).size(), 1u) << run.Err;
    }
    c.After();
  }
  ::unsetenv("SDL_AUDIODRIVER");
  ::unsetenv("SDL_VIDEODRIVER");
}

// A signal that ends the program while it renders a sheet leaves no temporary behind and the
// old file as it was; the parent sees the signal.
TEST_F(HostilePathsTest, TerminatingSignalsRemoveTheTemporary) {
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
    SCOPED_TRACE(signal);
    const std::vector<std::string> before = FolderEntries(folder_.Path());
    bool temporarySeen = false;
    RunOptions options;
    options.WhileRunning = [&](pid_t pid) {
      for (const auto& name : FolderEntries(folder_.Path())) {
        if (name.rfind(".keep.bmp.lumivor-", 0) != 0) continue;
        temporarySeen = true;
        ::kill(pid, signal);
        return true;
      }
      return false;
    };
    // Large enough to take a good while: the signal comes while the frames are drawn.
    const RunResult run =
        RunLumivor(folder_, {"effect", "--sheet", Path("keep.bmp"), "--size", "320x240", "--effects", "1-40"}, options);
    EXPECT_TRUE(temporarySeen);
    EXPECT_EQ(run.Signal, signal) << run.Err;
    EXPECT_EQ(FolderEntries(folder_.Path()), before);
    EXPECT_EQ(FileText(Path("keep.bmp")), "keep");
  }
}

// Tags are the file's text: on a terminal they cannot move the cursor, change colours or ring the
// bell; redirected, the bytes stay as they are.
TEST(ProbeTerminalTest, ControlCharactersAreEscapedOnlyOnATerminal) {
  ScratchFolder folder;
  testing::MediaSpec spec;
  spec.Format = "matroska";
  spec.Seconds = 0.2;
  const std::string title = "\x1b[2J\x1b]0;owned\x07" "caf\xC3\xA9 \xC2\x9B" "1m";
  spec.FileTags = {{"title", title}};
  std::string error;
  const std::string name = folder / "tagged.mka";
  ASSERT_TRUE(testing::WriteMediaFile(name, spec, error)) << error;

  RunOptions terminal;
  terminal.Out = StandardOutput::Terminal;
  const RunResult shown = RunLumivor(folder, {"probe", name}, terminal);
  EXPECT_EQ(shown.ExitCode, 0) << shown.Err;
  EXPECT_NE(shown.Out.find("title           : \\x1b[2J\\x1b]0;owned\\x07caf\xC3\xA9 \\xc2\\x9b" "1m"),
            std::string::npos)
      << shown.Out;
  for (const char control : {'\x1b', '\x07'}) EXPECT_EQ(shown.Out.find(control), std::string::npos);
  EXPECT_EQ(shown.Out.find("\xC2\x9B"), std::string::npos);

  const RunResult redirected = RunLumivor(folder, {"probe", name});
  EXPECT_EQ(redirected.ExitCode, 0) << redirected.Err;
  EXPECT_NE(redirected.Out.find("title           : " + title), std::string::npos) << redirected.Out;
}

}  // namespace
}  // namespace lumivor
