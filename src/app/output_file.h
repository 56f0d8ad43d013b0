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
// Errors are one line naming the file as given and the real cause ("it is a folder", "the folder
// ... is on a read-only file system", ...). Nothing here prints or throws.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <span>
#include <string>

namespace lumivor {

class OutputFile {
 public:
  OutputFile() = default;
  ~OutputFile();  // discards what is not committed
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Checks the target and its folder and creates the temporary. Call it before the content is
  // made, so that a wrong name is reported before any work is spent on it.
  bool Open(const std::string& fileName, std::string& errorText);
  bool Write(std::span<const std::uint8_t> bytes, std::string& errorText);
  // Flushes the bytes to the disk and renames the temporary over the target.
  bool Commit(std::string& errorText);
  // Removes the temporary; the target stays as it was.
  void Discard();

  bool IsOpen() const { return fd_ >= 0; }
  // The file that will be replaced: fileName with its symbolic links followed.
  const std::string& TargetName() const { return target_; }
  const std::string& TemporaryName() const { return temporary_; }

 private:
  bool Fail(const std::string& why, std::string& errorText);

  std::string fileName_;
  std::string target_;
  std::string folder_;
  std::string temporary_;
  int fd_ = -1;
  int slot_ = -1;  // the temporary's entry in the signal handlers' list
};

// Open, Write and Commit in one call.
bool WriteFileReplacing(const std::string& fileName, std::span<const std::uint8_t> bytes, std::string& errorText);

namespace detail {
// The temporary's name for a target's last path component, in a folder whose names may be
// nameMax bytes long; unique holds the characters that make it unique (six of them).
std::string TemporaryFileName(const std::string& baseName, long nameMax, const std::string& unique);
}  // namespace detail

}  // namespace lumivor
