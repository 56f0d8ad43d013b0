// Files the program reads on a person's word: only regular files are opened, so that a FIFO, a
// device or a socket given by mistake (or by malice) is refused instead of blocking the program or
// touching the device.
#pragma once

#include <sys/types.h>

#include <string>

namespace lumivor {

// "a folder", "a FIFO", "a character device", "a block device", "a socket", "a regular file",
// "a symbolic link" or "not a regular file" for what stat's st_mode describes.
const char* FileKindText(mode_t mode);

// True when fileName names a regular file (symbolic links followed). Otherwise false with a
// one-line reason that does not repeat the name: "No such file or directory", "it is a folder",
// "it is a FIFO, not a regular file", ... Nothing is opened.
bool CheckInputFile(const std::string& fileName, std::string& reason);

// Opens a regular file for reading without ever blocking on what it names: checked before the
// open, opened without waiting, and checked again on the open descriptor in case the name was
// swapped in between. Returns the descriptor (close-on-exec, blocking mode restored), or -1 with
// the reason as CheckInputFile words it.
int OpenInputFile(const std::string& fileName, std::string& reason);

}  // namespace lumivor
