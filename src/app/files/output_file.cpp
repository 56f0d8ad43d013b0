#include "app/files/output_file.h"

#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <mutex>

#include "app/files/input_file.h"

namespace lumivor {

namespace {

// ---------------------------------------------------------------------------------------------
// Temporaries that a terminating signal must remove. The handler may run on any thread at any
// moment, so the list is a fixed array of paths guarded by atomic states, and the handler does
// nothing but unlink, restore and re-raise (all async-signal-safe).

constexpr int MaxTemporaries = 16;
enum SlotState : int { Free = 0, Filling = 1, Live = 2 };

struct TemporarySlot {
  std::atomic<int> State{Free};
  char Path[PATH_MAX];
};

TemporarySlot TemporarySlots[MaxTemporaries];

constexpr int CleanedSignals[] = {SIGINT, SIGTERM, SIGHUP};
struct sigaction PreviousActions[std::size(CleanedSignals)];

void remove_live_temporaries() {
  for (TemporarySlot& slot : TemporarySlots)
    if (slot.State.load() == Live) ::unlink(slot.Path);
}

void terminating_signal_handler(int signal, siginfo_t* info, void* context) {
  const int savedErrno = errno;
  for (std::size_t i = 0; i < std::size(CleanedSignals); ++i) {
    if (CleanedSignals[i] != signal) continue;
    const struct sigaction& previous = PreviousActions[i];
    if ((previous.sa_flags & SA_SIGINFO) != 0 && previous.sa_sigaction != nullptr) {
      // Someone else handles this signal and the program goes on: its own clean-up runs then.
      previous.sa_sigaction(signal, info, context);
    } else if (previous.sa_handler != SIG_DFL && previous.sa_handler != SIG_IGN) {
      previous.sa_handler(signal);
    } else {
      remove_live_temporaries();
      // The default action ends the process with the signal, so the parent sees what happened.
      ::signal(signal, SIG_DFL);
      ::raise(signal);
    }
  }
  errno = savedErrno;
}

void install_signal_handlers() {
  static std::once_flag once;
  std::call_once(once, [] {
    for (std::size_t i = 0; i < std::size(CleanedSignals); ++i) {
      struct sigaction previous {};
      if (::sigaction(CleanedSignals[i], nullptr, &previous) != 0) continue;
      // An ignored signal (nohup) does not end the process: nothing to clean up then.
      if ((previous.sa_flags & SA_SIGINFO) == 0 && previous.sa_handler == SIG_IGN) continue;
      PreviousActions[i] = previous;
      struct sigaction action {};
      action.sa_sigaction = terminating_signal_handler;
      action.sa_flags = SA_SIGINFO | SA_RESTART;
      sigemptyset(&action.sa_mask);
      ::sigaction(CleanedSignals[i], &action, nullptr);
    }
  });
}

int claim_slot(const std::string& path) {
  if (path.size() >= PATH_MAX) return -1;
  for (int i = 0; i < MaxTemporaries; ++i) {
    int expected = Free;
    if (!TemporarySlots[i].State.compare_exchange_strong(expected, Filling)) continue;
    std::memcpy(TemporarySlots[i].Path, path.c_str(), path.size() + 1);
    TemporarySlots[i].State.store(Live);
    return i;
  }
  return -1;
}

void release_slot(int& slot) {
  if (slot >= 0) TemporarySlots[slot].State.store(Free);
  slot = -1;
}

// ---------------------------------------------------------------------------------------------

std::string folder_of(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string base_of(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Follows symbolic links to the file they end at, which need not exist yet (a dangling link makes
// its target). Returns false with the reason when the chain cannot be followed.
bool follow_links(const std::string& fileName, std::string& target, std::string& reason) {
  target = fileName;
  // The kernel's own limit on links followed in one lookup.
  for (int depth = 0; depth <= 40; ++depth) {
    struct stat info {};
    if (::lstat(target.c_str(), &info) != 0) {
      if (errno == ENOENT || errno == ENOTDIR) return true;  // a new file; its folder is checked next
      reason = std::strerror(errno);
      return false;
    }
    if (!S_ISLNK(info.st_mode)) return true;
    char link[PATH_MAX];
    const ssize_t length = ::readlink(target.c_str(), link, sizeof link - 1);
    if (length < 0) {
      reason = std::strerror(errno);
      return false;
    }
    link[length] = '\0';
    target = link[0] == '/' ? std::string(link) : folder_of(target) + "/" + link;
  }
  reason = std::strerror(ELOOP);
  return false;
}

std::string unique_characters() {
  static std::atomic<std::uint64_t> counter{0};
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  std::uint64_t value = (static_cast<std::uint64_t>(now.tv_nsec) << 20) ^ static_cast<std::uint64_t>(::getpid()) ^
                        (counter.fetch_add(1) * 0x9E3779B97F4A7C15ull);
  static constexpr char digits[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::string text;
  for (int i = 0; i < 6; ++i, value /= 36) text += digits[value % 36];
  return text;
}

std::string folder_error(const std::string& folder, int error) {
  switch (error) {
    case EROFS:
      return "the folder \"" + folder + "\" is on a read-only file system";
    case EACCES:
    case EPERM:
      return "the folder \"" + folder + "\" is not writable (" + std::strerror(error) + ")";
    case ENOSPC:
    case EDQUOT:
      return "no room in the folder \"" + folder + "\" (" + std::strerror(error) + ")";
    case ENOENT:
      return "the folder \"" + folder + "\" does not exist";
    case ENOTDIR:
      return "\"" + folder + "\" is not a folder";
    default:
      return "cannot create a file in the folder \"" + folder + "\" (" + std::strerror(error) + ")";
  }
}

bool write_all(int fd, const std::uint8_t* data, std::size_t size, int& error) {
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = ::write(fd, data + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      error = n < 0 ? errno : EIO;
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// The name's extension with its dot; empty when there is none or it is too long to be one.
std::string extension_of(const std::string& baseName) {
  const std::size_t dot = baseName.rfind('.');
  if (dot == std::string::npos || dot == 0 || baseName.size() - dot > 16) return std::string();
  return baseName.substr(dot);
}

// Cut to at most keep bytes at a character boundary, not inside a UTF-8 sequence.
std::string cut_at_character(const std::string& text, long room) {
  std::size_t keep = room > 0 ? std::min(text.size(), static_cast<std::size_t>(room)) : 0;
  while (keep > 0 && keep < text.size() && (static_cast<unsigned char>(text[keep]) & 0xC0) == 0x80) --keep;
  return text.substr(0, keep);
}

// rename that never replaces: EEXIST when the name is taken.
int rename_without_replacing(const char* from, const char* to) {
  if (::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS) return -1;
  // A file system without the flag: a hard link is made only under a free name.
  if (::link(from, to) != 0) return -1;
  ::unlink(from);
  return 0;
}

}  // namespace

namespace detail {

std::string TemporaryFileName(const std::string& baseName, long nameMax, const std::string& unique,
                              const std::string& extension) {
  // Hidden, so a folder view does not show it for the moment it exists, and marked as ours so a
  // person who finds one after a power cut knows where it came from.
  const std::string prefix = ".", suffix = ".lumivor-" + unique + extension;
  if (nameMax <= 0) nameMax = NAME_MAX;
  return prefix + cut_at_character(baseName, nameMax - static_cast<long>(prefix.size() + suffix.size())) + suffix;
}

std::string NameBeside(const std::string& baseName, long nameMax, const std::string& note) {
  const std::string extension = extension_of(baseName);
  const std::string stem = baseName.substr(0, baseName.size() - extension.size());
  const std::string added = " (" + note + ")" + extension;
  if (nameMax <= 0) nameMax = NAME_MAX;
  return cut_at_character(stem, nameMax - static_cast<long>(added.size())) + added;
}

}  // namespace detail

OutputFile::~OutputFile() { Discard(); }

bool OutputFile::Fail(const std::string& why, std::string& errorText) {
  errorText = "cannot write \"" + fileName_ + "\": " + why;
  Discard();
  return false;
}

bool OutputFile::Open(const std::string& fileName, std::string& errorText, const OutputFileOptions& options) {
  Discard();
  fileName_ = fileName;
  options_ = options;
  target_.clear();
  existed_ = false;
  if (fileName.empty()) return Fail("no file name", errorText);

  std::string reason;
  struct stat existing {};
  bool existed = false;
  if (options.ReplaceLinks) {
    target_ = fileName;
    // A link is a name to be replaced like a new one: what it points at is neither read nor kept.
    if (::lstat(target_.c_str(), &existing) == 0) {
      existed = !S_ISLNK(existing.st_mode);
      if (!existed) errno = ENOENT;
    }
  } else {
    if (!follow_links(fileName, target_, reason)) return Fail(reason, errorText);
    existed = ::stat(target_.c_str(), &existing) == 0;
  }
  if (existed && S_ISDIR(existing.st_mode)) return Fail("it is a folder", errorText);
  if (existed && !S_ISREG(existing.st_mode))
    return Fail(std::string("it is ") + FileKindText(existing.st_mode) + ", not a regular file", errorText);
  // A missing folder or one that is a file is named by the folder check below.
  if (!existed && errno != ENOENT && errno != ENOTDIR) return Fail(std::strerror(errno), errorText);
  if (!target_.empty() && target_.back() == '/') return Fail("the name ends in \"/\", like a folder's", errorText);

  folder_ = folder_of(target_);
  struct stat folderInfo {};
  if (::stat(folder_.c_str(), &folderInfo) != 0) return Fail(folder_error(folder_, errno), errorText);
  if (!S_ISDIR(folderInfo.st_mode)) return Fail(folder_error(folder_, ENOTDIR), errorText);

  install_signal_handlers();
  errno = 0;
  const long nameMax = ::pathconf(folder_.c_str(), _PC_NAME_MAX);
  const std::string base = base_of(target_);
  const std::string extension = options.KeepExtension ? extension_of(base) : std::string();
  for (int attempt = 0; attempt < 100 && fd_ < 0; ++attempt) {
    temporary_ = (folder_ == "." && target_.find('/') == std::string::npos ? std::string() : folder_ + "/") +
                 detail::TemporaryFileName(base, nameMax, unique_characters(), extension);
    // Listed before it exists, so that no moment passes in which a signal would leave it behind.
    slot_ = claim_slot(temporary_);
    if (slot_ < 0) {
      temporary_.clear();  // not ours: Discard must not remove a file of that name
      return Fail("too many files are being written at once", errorText);
    }
    // 0666 lets the umask decide, as for any file the user makes.
    fd_ = ::open(temporary_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY, 0666);
    if (fd_ < 0) {
      const int error = errno;
      release_slot(slot_);
      if (error != EEXIST) {
        temporary_.clear();
        return Fail(folder_error(folder_, error), errorText);
      }
    }
  }
  if (fd_ < 0) {
    temporary_.clear();
    return Fail("no free temporary name in the folder \"" + folder_ + "\"", errorText);
  }

  if (existed) {
    // Owner first: a change of owner clears the set-id bits that the mode then puts back.
    struct stat made {};
    if (::fstat(fd_, &made) != 0) return Fail(std::strerror(errno), errorText);
    if ((made.st_uid != existing.st_uid || made.st_gid != existing.st_gid) &&
        ::fchown(fd_, existing.st_uid, existing.st_gid) != 0) {
      const int error = errno;
      return Fail(std::string("cannot keep the file's owner and group (") + std::strerror(error) +
                      "); it was left as it is",
                  errorText);
    }
    if (::fchmod(fd_, existing.st_mode & 07777) != 0)
      return Fail(std::string("cannot keep the file's permissions (") + std::strerror(errno) + ")", errorText);
  }
  existed_ = existed;
  return true;
}

bool OutputFile::Write(std::span<const std::uint8_t> bytes, std::string& errorText) {
  if (fd_ < 0) return Fail("the file is not open", errorText);
  int error = 0;
  if (!write_all(fd_, bytes.data(), bytes.size(), error)) return Fail(std::strerror(error), errorText);
  return true;
}

bool OutputFile::Finish(std::string& errorText) {
  if (fd_ < 0) return Fail("the file is not open", errorText);
  // Flushed before the rename: after a crash the name holds the old content or the new, never an
  // empty file. A writer that wrote the temporary by its name wrote this same file.
  if (::fsync(fd_) != 0) return Fail(std::strerror(errno), errorText);
  const int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0) return Fail(std::strerror(errno), errorText);
  // A writer that gave up may have removed the temporary: there is nothing to put in place.
  struct stat made {};
  if (::lstat(temporary_.c_str(), &made) != 0 || !S_ISREG(made.st_mode)) return Fail("the written file is gone", errorText);
  return true;
}

void OutputFile::Committed() {
  release_slot(slot_);
  temporary_.clear();
  // The rename itself reaches the disk with the folder.
  const int folderFd = ::open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folderFd >= 0) {
    ::fsync(folderFd);
    ::close(folderFd);
  }
}

bool OutputFile::Commit(std::string& errorText) {
  if (!Finish(errorText)) return false;
  // Something may have taken the name since Open; rename would replace a FIFO or a device node.
  struct stat now {};
  if (::lstat(target_.c_str(), &now) == 0 && !S_ISREG(now.st_mode) && !(options_.ReplaceLinks && S_ISLNK(now.st_mode))) {
    const std::string why = S_ISDIR(now.st_mode) ? "it is a folder"
                                                 : std::string("it is ") + FileKindText(now.st_mode) +
                                                       ", not a regular file";
    return Fail(why, errorText);
  }
  if (::rename(temporary_.c_str(), target_.c_str()) != 0) {
    const int error = errno;
    return Fail(error == EISDIR ? std::string("it is a folder") : std::string(std::strerror(error)), errorText);
  }
  Committed();
  return true;
}

bool OutputFile::CommitBeside(const std::string& note, std::string& fileName, std::string& errorText) {
  if (!Finish(errorText)) return false;
  errno = 0;
  const long nameMax = ::pathconf(folder_.c_str(), _PC_NAME_MAX);
  const std::string base = base_of(target_);
  const std::string prefix = temporary_.find('/') == std::string::npos ? std::string() : folder_ + "/";
  for (int n = 1; n < 1000; ++n) {
    const std::string candidate =
        prefix + detail::NameBeside(base, nameMax, n == 1 ? note : note + " " + std::to_string(n));
    if (rename_without_replacing(temporary_.c_str(), candidate.c_str()) == 0) {
      fileName = candidate;
      Committed();
      return true;
    }
    if (errno != EEXIST) return Fail(std::strerror(errno), errorText);
  }
  return Fail("no free name beside it", errorText);
}

void OutputFile::Discard() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  if (!temporary_.empty()) ::unlink(temporary_.c_str());
  temporary_.clear();
  release_slot(slot_);
}

bool WriteFileReplacing(const std::string& fileName, std::span<const std::uint8_t> bytes, std::string& errorText,
                        const OutputFileOptions& options) {
  OutputFile file;
  return file.Open(fileName, errorText, options) && file.Write(bytes, errorText) && file.Commit(errorText);
}

void UnfinishedFile::Hold(const std::string& path) {
  Discard();
  if (path.empty()) return;
  install_signal_handlers();
  path_ = path;
  slot_ = claim_slot(path);
}

void UnfinishedFile::Keep() {
  release_slot(slot_);
  path_.clear();
}

void UnfinishedFile::Discard() {
  if (path_.empty()) return;
  // Removed before it leaves the list: a signal in between finds it gone, never left behind.
  ::unlink(path_.c_str());
  release_slot(slot_);
  path_.clear();
}

void RemoveUnfinishedFiles() { remove_live_temporaries(); }

}  // namespace lumivor
