// Every file the program writes itself (frames, contact sheets, the settings file) goes through
// OutputFile, so that a failure, a full disk or a Ctrl-C never leaves a half-written file or
// destroys the one that was there, and so that a name given by mistake cannot replace a device, a
// FIFO or a folder.
//
// The bytes go to a temporary file beside the target that is renamed over it once complete:
// - only a regular file (or a name not yet taken) is written; anything else is refused, untouched;
// - a symbolic link is followed: its target is written and the link stays a link;
// - a file that existed keeps its permission bits and its owner (the temporary takes them before
//   any byte is written, so a private file's content is never readable by others on the way);
// - the temporary's name stays within the folder's name limit, so every legal target name works;
// - the temporary is removed on every failure path, including SIGINT, SIGTERM and SIGHUP that
//   would end the process.
// A writer that opens files by name (the media libraries' muxers) may write the temporary itself:
// ask for it to keep the target's extension, so that the format chosen by the name is the
// target's, and Commit without Write.
// Errors are one line naming the file as given and the real cause ("it is a folder", "the folder
// ... is on a read-only file system", ...). Nothing here prints or throws.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <span>
#include <string>

namespace lumivor {

struct OutputFileOptions {
  // The temporary's name ends in the target's extension (".mp4"), for a writer that picks the
  // format by the name.
  bool KeepExtension = false;
  // A symbolic link under the name is replaced by the new file instead of followed: for files
  // written into a folder that others could plant links in.
  bool ReplaceLinks = false;
};

class OutputFile {
 public:
  OutputFile() = default;
  ~OutputFile();  // discards what is not committed
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Checks the target and its folder and creates the temporary. Call it before the content is
  // made, so that a wrong name is reported before any work is spent on it.
  bool Open(const std::string& fileName, std::string& errorText, const OutputFileOptions& options = {});
  bool Write(std::span<const std::uint8_t> bytes, std::string& errorText);
  // Flushes the bytes to the disk and renames the temporary over the target.
  bool Commit(std::string& errorText);
  // Puts the content under a new name beside the target instead, never replacing anything: the
  // target's stem, " (" + note + ")" (then " (" + note + " 2)", ...) and its extension, cut to the
  // folder's name limit. fileName receives the name used (in the folder as Open was given it).
  bool CommitBeside(const std::string& note, std::string& fileName, std::string& errorText);
  // Removes the temporary; the target stays as it was.
  void Discard();
  // A file was under the target's name when Open ran; Commit replaces it.
  bool ReplacesExistingFile() const { return existed_; }

  bool IsOpen() const { return fd_ >= 0; }
  // The file that will be replaced: fileName with its symbolic links followed.
  const std::string& TargetName() const { return target_; }
  const std::string& TemporaryName() const { return temporary_; }

 private:
  bool Fail(const std::string& why, std::string& errorText);
  // fsync and close; false with the cause in errorText.
  bool Finish(std::string& errorText);
  void Committed();

  std::string fileName_;
  std::string target_;
  std::string folder_;
  std::string temporary_;
  OutputFileOptions options_;
  int fd_ = -1;
  bool existed_ = false;
  int slot_ = -1;  // the temporary's entry in the signal handlers' list
};

// Open, Write and Commit in one call.
bool WriteFileReplacing(const std::string& fileName, std::span<const std::uint8_t> bytes, std::string& errorText,
                        const OutputFileOptions& options = {});

// A file made under a name of its own by other code (a joined sound, a video the job names) that
// must not outlive a program ending at once, nor a run that does not keep it: while the object
// holds the name, a terminating signal removes the file (RemoveUnfinishedFiles), and so does
// Discard or the destructor. Keep lets the file stay and forgets the name. Only a name that was
// free, so that whatever is found under it was begun by this program, may be held.
class UnfinishedFile {
 public:
  UnfinishedFile() = default;
  explicit UnfinishedFile(const std::string& path) { Hold(path); }
  ~UnfinishedFile() { Discard(); }
  UnfinishedFile(const UnfinishedFile&) = delete;
  UnfinishedFile& operator=(const UnfinishedFile&) = delete;

  // Takes the name (a file held before is discarded). Call it before the file is created, so that
  // no moment passes in which a signal would leave it behind.
  void Hold(const std::string& path);
  // The file stays; the name is forgotten.
  void Keep();
  // The file is removed; the name is forgotten.
  void Discard();

  bool Holds() const { return !path_.empty(); }
  const std::string& Path() const { return path_; }
  // False when the signal handlers' list was full or the name too long for it: a signal would
  // then leave the file, though Discard still removes it.
  bool Listed() const { return slot_ >= 0; }

 private:
  std::string path_;
  int slot_ = -1;
};

// Removes every uncommitted temporary and every listed unfinished file. Async-signal-safe: for a
// signal handler that ends the program at once.
void RemoveUnfinishedFiles();

namespace detail {
// The temporary's name for a target's last path component, in a folder whose names may be
// nameMax bytes long; unique holds the characters that make it unique (six of them).
// extension (with its dot) ends the name when given.
std::string TemporaryFileName(const std::string& baseName, long nameMax, const std::string& unique,
                              const std::string& extension = std::string());
// The stem of baseName (without extension), " (" + note + ")" and the extension, the stem cut so
// that the whole stays within nameMax bytes.
std::string NameBeside(const std::string& baseName, long nameMax, const std::string& note);
}  // namespace detail

}  // namespace lumivor
