#include "app/files/input_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace lumivor {

namespace {

bool explain_kind(const struct stat& info, std::string& reason) {
  if (S_ISREG(info.st_mode)) return true;
  if (S_ISDIR(info.st_mode)) {
    reason = "it is a folder";
  } else {
    reason = std::string("it is ") + FileKindText(info.st_mode) + ", not a regular file";
  }
  return false;
}

}  // namespace

const char* FileKindText(mode_t mode) {
  if (S_ISREG(mode)) return "a regular file";
  if (S_ISDIR(mode)) return "a folder";
  if (S_ISFIFO(mode)) return "a FIFO";
  if (S_ISCHR(mode)) return "a character device";
  if (S_ISBLK(mode)) return "a block device";
  if (S_ISSOCK(mode)) return "a socket";
  if (S_ISLNK(mode)) return "a symbolic link";
  return "not a regular file";
}

bool CheckInputFile(const std::string& fileName, std::string& reason) {
  if (fileName.empty()) {
    reason = "empty file name";
    return false;
  }
  struct stat info {};
  if (::stat(fileName.c_str(), &info) != 0) {
    reason = std::strerror(errno);
    return false;
  }
  return explain_kind(info, reason);
}

int OpenInputFile(const std::string& fileName, std::string& reason) {
  if (!CheckInputFile(fileName, reason)) return -1;
  // O_NONBLOCK keeps a FIFO put in the file's place since the check from waiting for a writer;
  // O_NOCTTY keeps a terminal from becoming ours.
  const int fd = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) {
    reason = std::strerror(errno);
    return -1;
  }
  struct stat info {};
  if (::fstat(fd, &info) != 0) {
    reason = std::strerror(errno);
    ::close(fd);
    return -1;
  }
  if (!explain_kind(info, reason)) {
    ::close(fd);
    return -1;
  }
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  return fd;
}

}  // namespace lumivor
