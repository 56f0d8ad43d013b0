// The writer every file of the program goes through, and the check every input passes.
#include "app/files/output_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <grp.h>
#include <pwd.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/files/input_file.h"
#include "app/picture_test_support.h"
#include "support/socket_file.h"

namespace lumivor {
namespace {

using testing::MakeSocketFile;
using testing::ScratchFolder;

std::vector<std::uint8_t> Bytes(const std::string& text) { return std::vector<std::uint8_t>(text.begin(), text.end()); }

std::string FileText(const std::string& name) {
  const auto bytes = testing::ReadWholeFile(name);
  return std::string(bytes.begin(), bytes.end());
}

std::vector<std::string> FolderEntries(const std::string& path) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(path)) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

struct stat Lstat(const std::string& name) {
  struct stat info {};
  EXPECT_EQ(::lstat(name.c_str(), &info), 0) << name;
  return info;
}

TEST(OutputFileTest, WritesNewFilesAndReplacesRegularOnesWhole) {
  ScratchFolder folder;
  std::string error;
  ASSERT_TRUE(WriteFileReplacing(folder / "new.bmp", Bytes("first"), error)) << error;
  EXPECT_EQ(FileText(folder / "new.bmp"), "first");
  ASSERT_TRUE(WriteFileReplacing(folder / "new.bmp", Bytes("second, longer"), error)) << error;
  EXPECT_EQ(FileText(folder / "new.bmp"), "second, longer");
  ASSERT_TRUE(WriteFileReplacing(folder / "new.bmp", Bytes(""), error)) << error;
  EXPECT_EQ(FileText(folder / "new.bmp"), "");
  EXPECT_EQ(FolderEntries(folder.Path()), std::vector<std::string>{"new.bmp"});
}

// The temporary takes the old file's mode before any byte is written: a private file is never
// readable by others on the way, and the umask plays no part.
TEST(OutputFileTest, KeepsPermissionBitsAndOwner) {
  ScratchFolder folder;
  const std::string name = folder / "private.bmp";
  std::string error;
  for (const mode_t mode : {mode_t{0600}, mode_t{0640}, mode_t{0604}, mode_t{0755}}) {
    SCOPED_TRACE(mode);
    ASSERT_TRUE(testing::WriteWholeFile(name, Bytes("old")));
    ASSERT_EQ(::chmod(name.c_str(), mode), 0);
    OutputFile output;
    ASSERT_TRUE(output.Open(name, error)) << error;
    EXPECT_EQ(Lstat(output.TemporaryName()).st_mode & 07777, mode);
    ASSERT_TRUE(output.Write(Bytes("new"), error) && output.Commit(error)) << error;
    EXPECT_EQ(Lstat(name).st_mode & 07777, mode);
    EXPECT_EQ(FileText(name), "new");
  }
  if (::geteuid() != 0) GTEST_SKIP() << "changing a file's owner needs root";
  const passwd* nobody = ::getpwnam("nobody");
  ASSERT_NE(nobody, nullptr);
  ASSERT_EQ(::chown(name.c_str(), nobody->pw_uid, nobody->pw_gid), 0);
  ASSERT_TRUE(WriteFileReplacing(name, Bytes("owned"), error)) << error;
  EXPECT_EQ(Lstat(name).st_uid, nobody->pw_uid);
  EXPECT_EQ(Lstat(name).st_gid, nobody->pw_gid);
  EXPECT_EQ(FileText(name), "owned");
}

TEST(OutputFileTest, FollowsSymbolicLinksAndKeepsThemLinks) {
  ScratchFolder folder;
  std::filesystem::create_directory(folder / "photos");
  ASSERT_TRUE(testing::WriteWholeFile(folder / "photos/real.bmp", Bytes("old")));
  std::filesystem::create_symlink("photos/real.bmp", folder / "relative.bmp");
  std::filesystem::create_symlink(folder / "relative.bmp", folder / "chain.bmp");
  std::filesystem::create_symlink("photos/later.bmp", folder / "dangling.bmp");
  struct Case {
    std::string Link, Target, Text;
  };
  const Case cases[] = {
      {folder / "relative.bmp", folder / "photos/real.bmp", "through a relative link"},
      {folder / "chain.bmp", folder / "photos/real.bmp", "through two links"},
      {folder / "dangling.bmp", folder / "photos/later.bmp", "a link's target made"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Link);
    std::string error;
    ASSERT_TRUE(WriteFileReplacing(c.Link, Bytes(c.Text), error)) << error;
    EXPECT_TRUE(S_ISLNK(Lstat(c.Link).st_mode));
    EXPECT_EQ(FileText(c.Target), c.Text);
  }
  EXPECT_EQ(FolderEntries(folder / "photos"), (std::vector<std::string>{"later.bmp", "real.bmp"}));
}

// Each case leaves the target as it was and no temporary anywhere in the folder.
TEST(OutputFileTest, RefusesWhatIsNotARegularFileAndNamesTheCause) {
  ScratchFolder folder;
  std::filesystem::create_directory(folder / "folder.bmp");
  ASSERT_EQ(::mkfifo((folder / "fifo.bmp").c_str(), 0644), 0);
  ASSERT_TRUE(MakeSocketFile(folder / "socket.bmp"));
  std::filesystem::create_symlink("fifo.bmp", folder / "to-fifo.bmp");
  std::filesystem::create_symlink("loop-b.bmp", folder / "loop-a.bmp");
  std::filesystem::create_symlink("loop-a.bmp", folder / "loop-b.bmp");
  ASSERT_TRUE(testing::WriteWholeFile(folder / "file", Bytes("a file")));
  const bool root = ::geteuid() == 0;
  if (root) {
    ASSERT_EQ(::mknod((folder / "device.bmp").c_str(), S_IFCHR | 0666, makedev(1, 3)), 0);
  }

  struct Case {
    std::string Name;
    std::string Expected;
  };
  std::vector<Case> cases = {
      {folder / "folder.bmp", "it is a folder"},
      {folder / "fifo.bmp", "it is a FIFO, not a regular file"},
      {folder / "socket.bmp", "it is a socket, not a regular file"},
      {folder / "to-fifo.bmp", "it is a FIFO, not a regular file"},
      {folder / "loop-a.bmp", "Too many levels of symbolic links"},
      {folder / "missing/out.bmp", "the folder \"" + folder / "missing" + "\" does not exist"},
      {folder / "file/out.bmp", "\"" + folder / "file" + "\" is not a folder"},
      {folder / "new/", "the name ends in \"/\", like a folder's"},
      {"", "no file name"},
  };
  if (root) cases.push_back({folder / "device.bmp", "it is a character device, not a regular file"});
  const std::vector<std::string> before = FolderEntries(folder.Path());
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    std::string error;
    OutputFile output;
    EXPECT_FALSE(output.Open(c.Name, error));
    EXPECT_EQ(error, "cannot write \"" + c.Name + "\": " + c.Expected);
    EXPECT_EQ(FolderEntries(folder.Path()), before);
  }
  EXPECT_TRUE(S_ISFIFO(Lstat(folder / "fifo.bmp").st_mode));
  EXPECT_TRUE(S_ISSOCK(Lstat(folder / "socket.bmp").st_mode));
  EXPECT_TRUE(S_ISDIR(Lstat(folder / "folder.bmp").st_mode));
  if (root) {
    EXPECT_TRUE(S_ISCHR(Lstat(folder / "device.bmp").st_mode));
  }
}

TEST(OutputFileTest, ATemporaryNeverOutlivesItsWriter) {
  ScratchFolder folder;
  ASSERT_TRUE(testing::WriteWholeFile(folder / "keep.bmp", Bytes("keep")));
  std::string error;
  {
    OutputFile output;
    ASSERT_TRUE(output.Open(folder / "keep.bmp", error)) << error;
    ASSERT_TRUE(output.Write(Bytes("half"), error)) << error;
    EXPECT_EQ(FolderEntries(folder.Path()).size(), 2u);
  }  // never committed
  {
    OutputFile output;
    ASSERT_TRUE(output.Open(folder / "keep.bmp", error)) << error;
    output.Discard();
    EXPECT_FALSE(output.Commit(error));
  }
  {
    // The name is taken by a folder between the check and the rename.
    OutputFile output;
    ASSERT_TRUE(output.Open(folder / "late.bmp", error)) << error;
    std::filesystem::create_directory(folder / "late.bmp");
    ASSERT_TRUE(output.Write(Bytes("late"), error)) << error;
    EXPECT_FALSE(output.Commit(error));
    EXPECT_EQ(error, "cannot write \"" + folder / "late.bmp" + "\": it is a folder");
    std::filesystem::remove(folder / "late.bmp");
  }
  EXPECT_EQ(FolderEntries(folder.Path()), std::vector<std::string>{"keep.bmp"});
  EXPECT_EQ(FileText(folder / "keep.bmp"), "keep");
}

// A write that fails half-way (here: past the process's file-size limit, which fails like a full
// disk) leaves the old file and no temporary.
TEST(OutputFileTest, AFailedWriteKeepsTheOldFile) {
  ScratchFolder folder;
  ASSERT_TRUE(testing::WriteWholeFile(folder / "keep.bmp", Bytes("keep")));
  rlimit saved{};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
  const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
  rlimit small = saved;
  small.rlim_cur = 16;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  std::string error;
  const bool written = WriteFileReplacing(folder / "keep.bmp", std::vector<std::uint8_t>(4096, 'x'), error);
  ::setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, previousHandler);
  EXPECT_FALSE(written);
  EXPECT_EQ(error, "cannot write \"" + folder / "keep.bmp" + "\": " + std::strerror(EFBIG));
  EXPECT_EQ(FolderEntries(folder.Path()), std::vector<std::string>{"keep.bmp"});
  EXPECT_EQ(FileText(folder / "keep.bmp"), "keep");
}

// The signal handlers' list of temporaries has a fixed size; past it a write is refused, not left
// unprotected, and nothing of anyone else's is touched.
TEST(OutputFileTest, ManyWritersAtOnceAreRefusedPastTheLimit) {
  ScratchFolder folder;
  std::vector<std::unique_ptr<OutputFile>> open;
  std::string error;
  for (int i = 0;; ++i) {
    ASSERT_LT(i, 1000) << "no limit";
    auto output = std::make_unique<OutputFile>();
    if (!output->Open(folder / ("out" + std::to_string(i) + ".bmp"), error)) break;
    open.push_back(std::move(output));
  }
  EXPECT_EQ(error, "cannot write \"" + folder / ("out" + std::to_string(open.size()) + ".bmp") +
                       "\": too many files are being written at once");
  EXPECT_EQ(FolderEntries(folder.Path()).size(), open.size());
  open.pop_back();
  OutputFile again;
  EXPECT_TRUE(again.Open(folder / "again.bmp", error)) << error;
  again.Discard();
  open.clear();
  EXPECT_EQ(FolderEntries(folder.Path()), std::vector<std::string>{});
}

// A file named by other code lives as long as the run wants it: kept, it stays; discarded or
// dropped without a word, it goes; what was never held is never touched.
TEST(UnfinishedFileTest, KeepLeavesTheFileDiscardAndDestroyRemoveIt) {
  ScratchFolder folder;
  enum class End { Keep, Discard, Destroy, HoldAnother };
  struct Case {
    const char* Name;
    End Ending;
    bool Stays;
  };
  const Case cases[] = {
      {"kept", End::Keep, true},
      {"discarded", End::Discard, false},
      {"destroyed", End::Destroy, false},
      {"replaced by another name", End::HoldAnother, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    const std::string path = folder / (std::string(c.Name) + ".mp4");
    {
      UnfinishedFile file(path);
      EXPECT_TRUE(file.Holds());
      EXPECT_TRUE(file.Listed());
      ASSERT_TRUE(testing::WriteWholeFile(path, Bytes("video")));
      if (c.Ending == End::Keep) file.Keep();
      if (c.Ending == End::Discard) file.Discard();
      if (c.Ending == End::HoldAnother) {
        file.Hold(folder / "other.mp4");
        EXPECT_EQ(file.Path(), folder / "other.mp4");
      }
      if (c.Ending != End::Destroy && c.Ending != End::HoldAnother) {
        EXPECT_FALSE(file.Holds());
      }
    }
    EXPECT_EQ(std::filesystem::exists(path), c.Stays);
  }
  // A name never created is no error, and nothing else in the folder was touched.
  EXPECT_EQ(FolderEntries(folder.Path()), std::vector<std::string>{"kept.mp4"});
}

// A terminating signal removes every held file, and only those: the process that ends at once
// leaves none of its unfinished files, keeps what it has kept and still ends by that signal.
TEST(UnfinishedFileTest, ATerminatingSignalRemovesHeldFilesOnly) {
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
    SCOPED_TRACE(signal);
    ScratchFolder folder;
    const std::string held = folder / "tempaudio-song.mp3", kept = folder / "slideshow_(new).mp4",
                      other = folder / "photo.jpg";
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      // Only calls that are sound after a fork, and an exit code for each way it can go wrong.
      UnfinishedFile heldFile(held);
      UnfinishedFile keptFile(kept);
      for (const std::string* path : {&held, &kept, &other}) {
        const int fd = ::open(path->c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd < 0 || ::write(fd, "x", 1) != 1) ::_exit(2);
        ::close(fd);
      }
      keptFile.Keep();
      ::raise(signal);
      ::_exit(3);  // the signal did not end the process
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status)) << "exit " << (WIFEXITED(status) ? WEXITSTATUS(status) : -1);
    EXPECT_EQ(WTERMSIG(status), signal);
    EXPECT_EQ(FolderEntries(folder.Path()), (std::vector<std::string>{"photo.jpg", "slideshow_(new).mp4"}));
  }
}

// The guard and the writer share the signal handlers' fixed list: a guard past its end is not
// listed but still removes its file when discarded.
TEST(UnfinishedFileTest, AFullListLeavesTheGuardUnlistedButStillRemoving) {
  ScratchFolder folder;
  std::vector<std::unique_ptr<OutputFile>> writers;
  std::string error;
  while (writers.size() < 1000) {
    auto writer = std::make_unique<OutputFile>();
    if (!writer->Open(folder / ("out" + std::to_string(writers.size()) + ".bmp"), error)) break;
    writers.push_back(std::move(writer));
  }
  ASSERT_LT(writers.size(), 1000u) << "no limit";
  const std::string path = folder / "late.mp4";
  UnfinishedFile late(path);
  EXPECT_FALSE(late.Listed());
  ASSERT_TRUE(testing::WriteWholeFile(path, Bytes("late")));
  late.Discard();
  EXPECT_FALSE(std::filesystem::exists(path));
  // A slot set free is taken again.
  writers.pop_back();
  UnfinishedFile again(path);
  EXPECT_TRUE(again.Listed());
  // Held, it takes the writers' last slot.
  OutputFile refused;
  EXPECT_FALSE(refused.Open(folder / "refused.bmp", error));
}

// Every name the file system takes can be written: the temporary's name is cut to fit.
TEST(OutputFileTest, NamesAsLongAsTheFileSystemAllows) {
  ScratchFolder folder;
  const long nameMax = ::pathconf(folder.Path().c_str(), _PC_NAME_MAX);
  ASSERT_GT(nameMax, 20);
  std::string umlauts;
  while (static_cast<long>(umlauts.size()) + 2 <= nameMax - 4) umlauts += "\xC3\xBC";  // u with diaeresis
  const std::string names[] = {std::string(static_cast<std::size_t>(nameMax) - 4, 'n') + ".png", umlauts + ".bmp"};
  for (const auto& name : names) {
    SCOPED_TRACE(name.size());
    std::string error;
    OutputFile output;
    ASSERT_TRUE(output.Open(folder / name, error)) << error;
    const std::string temporary = std::filesystem::path(output.TemporaryName()).filename();
    EXPECT_LE(static_cast<long>(temporary.size()), nameMax);
    ASSERT_TRUE(output.Write(Bytes("long"), error) && output.Commit(error)) << error;
    EXPECT_EQ(FileText(folder / name), "long");
  }
}

TEST(OutputFileTest, TemporaryNamesCutAtCharacterBoundaries) {
  struct Case {
    std::string Base;
    long NameMax;
    std::string Expected;
  };
  const Case cases[] = {
      {"frame.bmp", 255, ".frame.bmp.lumivor-abc123"},
      {"frame.bmp", 20, ".fram.lumivor-abc123"},
      {"\xC3\xBC\xC3\xBC", 19, ".\xC3\xBC.lumivor-abc123"},  // the second character would not fit whole
      {"\xC3\xBC\xC3\xBC", 18, ".\xC3\xBC.lumivor-abc123"},
      {"\xC3\xBC\xC3\xBC", 17, "..lumivor-abc123"},
      {"frame.bmp", 0, ".frame.bmp.lumivor-abc123"},  // limit unknown: the usual 255
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Expected);
    EXPECT_EQ(detail::TemporaryFileName(c.Base, c.NameMax, "abc123"), c.Expected);
  }
}

TEST(OutputFileTest, NamesKeepTheExtensionAndFitTheLimit) {
  struct Case {
    std::string Made, Expected;
  };
  const Case cases[] = {
      {detail::TemporaryFileName("show.mp4", 255, "abc123", ".mp4"), ".show.mp4.lumivor-abc123.mp4"},
      {detail::TemporaryFileName("show.mp4", 24, "abc123", ".mp4"), ".show.lumivor-abc123.mp4"},
      {detail::NameBeside("show.mp4", 255, "stopped"), "show (stopped).mp4"},
      {detail::NameBeside("show.mp4", 255, "stopped 2"), "show (stopped 2).mp4"},
      {detail::NameBeside("show", 255, "stopped"), "show (stopped)"},
      {detail::NameBeside(".hidden", 255, "stopped"), ".hidden (stopped)"},
      {detail::NameBeside("abcdefgh.mkv", 18, "stopped"), "abcd (stopped).mkv"},
      {detail::NameBeside("\xC3\xBC\xC3\xBC.mkv", 17, "stopped"), "\xC3\xBC (stopped).mkv"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Expected);
    EXPECT_EQ(c.Made, c.Expected);
  }
}

// A writer that opens files by name (a muxer) writes the temporary itself; the target is replaced
// with it only on Commit, keeping the old file's permissions.
TEST(OutputFileTest, AWriterByNameFillsTheTemporary) {
  ScratchFolder folder;
  const std::string target = folder / "show.mp4";
  ASSERT_TRUE(testing::WriteWholeFile(target, Bytes("old")));
  ::chmod(target.c_str(), 0640);
  std::string error;
  OutputFile output;
  ASSERT_TRUE(output.Open(target, error, {.KeepExtension = true, .ReplaceLinks = false})) << error;
  EXPECT_TRUE(output.ReplacesExistingFile());
  EXPECT_EQ(std::filesystem::path(output.TemporaryName()).extension(), ".mp4");
  ASSERT_TRUE(testing::WriteWholeFile(output.TemporaryName(), Bytes("new")));
  EXPECT_EQ(FileText(target), "old");
  ASSERT_TRUE(output.Commit(error)) << error;
  EXPECT_EQ(FileText(target), "new");
  EXPECT_EQ(Lstat(target).st_mode & 0777, 0640u);
  EXPECT_EQ(FolderEntries(folder.Path()), std::vector<std::string>{"show.mp4"});

  // A writer that gave up and removed its file leaves nothing to put in place.
  ASSERT_TRUE(output.Open(target, error, {.KeepExtension = true, .ReplaceLinks = false})) << error;
  std::filesystem::remove(output.TemporaryName());
  EXPECT_FALSE(output.Commit(error));
  EXPECT_EQ(error, "cannot write \"" + target + "\": the written file is gone");
  EXPECT_EQ(FileText(target), "new");
}

// Beside the target, never over anything: the old file and earlier results stay.
TEST(OutputFileTest, CommitBesideTakesTheNextFreeName) {
  ScratchFolder folder;
  const std::string target = folder / "show.mp4";
  ASSERT_TRUE(testing::WriteWholeFile(target, Bytes("old")));
  ASSERT_TRUE(testing::WriteWholeFile(folder / "show (stopped).mp4", Bytes("earlier")));
  std::string error, name;
  OutputFile output;
  ASSERT_TRUE(output.Open(target, error)) << error;
  ASSERT_TRUE(output.Write(Bytes("part"), error)) << error;
  ASSERT_TRUE(output.CommitBeside("stopped", name, error)) << error;
  EXPECT_EQ(name, folder / "show (stopped 2).mp4");
  EXPECT_EQ(FileText(name), "part");
  EXPECT_EQ(FileText(target), "old");
  EXPECT_EQ(FileText(folder / "show (stopped).mp4"), "earlier");
  EXPECT_EQ(FolderEntries(folder.Path()).size(), 3u);
}

// In a folder others may write to, a link under the name is replaced: its target stays untouched.
TEST(OutputFileTest, ReplacingLinksNeverWritesThroughThem) {
  ScratchFolder folder;
  ASSERT_TRUE(testing::WriteWholeFile(folder / "outside.txt", Bytes("theirs")));
  std::filesystem::create_symlink(folder / "outside.txt", folder / "planted.wav");
  std::filesystem::create_symlink(folder / "nowhere.txt", folder / "dangling.wav");
  std::string error;
  for (const char* name : {"planted.wav", "dangling.wav"}) {
    SCOPED_TRACE(name);
    ASSERT_TRUE(WriteFileReplacing(folder / name, Bytes("ours"), error, {.KeepExtension = false, .ReplaceLinks = true}))
        << error;
    EXPECT_TRUE(S_ISREG(Lstat(folder / name).st_mode));
    EXPECT_EQ(FileText(folder / name), "ours");
  }
  EXPECT_EQ(FileText(folder / "outside.txt"), "theirs");
  EXPECT_FALSE(std::filesystem::exists(folder / "nowhere.txt"));
}

TEST(InputFileTest, OnlyRegularFilesAreOpenedAndNothingBlocks) {
  ScratchFolder folder;
  ASSERT_TRUE(testing::WriteWholeFile(folder / "photo.bmp", Bytes("BM")));
  ASSERT_EQ(::mkfifo((folder / "fifo.bmp").c_str(), 0644), 0);
  ASSERT_TRUE(MakeSocketFile(folder / "socket.bmp"));
  std::filesystem::create_directory(folder / "folder.bmp");
  std::filesystem::create_symlink("photo.bmp", folder / "link.bmp");
  struct Case {
    std::string Name;
    std::string Reason;  // empty: opened
  };
  const Case cases[] = {
      {folder / "photo.bmp", ""},
      {folder / "link.bmp", ""},
      {folder / "fifo.bmp", "it is a FIFO, not a regular file"},
      {folder / "socket.bmp", "it is a socket, not a regular file"},
      {"/dev/zero", "it is a character device, not a regular file"},
      {folder / "folder.bmp", "it is a folder"},
      {folder / "missing.bmp", "No such file or directory"},
      {"", "empty file name"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    std::string reason;
    // A FIFO opened for reading would wait here for a writer forever.
    const auto start = std::chrono::steady_clock::now();
    const int fd = OpenInputFile(c.Name, reason);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_EQ(fd >= 0, c.Reason.empty());
    EXPECT_EQ(reason, c.Reason);
    if (fd >= 0) {
      char buffer[4] = {};
      EXPECT_EQ(::read(fd, buffer, sizeof buffer), 2);
      ::close(fd);
    }
    std::string checked;
    EXPECT_EQ(CheckInputFile(c.Name, checked), c.Reason.empty());
    EXPECT_EQ(checked, c.Reason);
  }
}

}  // namespace
}  // namespace lumivor
