// A socket file for the tests of paths that are neither files nor folders.
#pragma once

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <string>

namespace lumivor::testing {

// Binds a socket to the name; the descriptor is closed at once, the file stays.
inline bool MakeSocketFile(const std::string& name) {
  const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (fd < 0 || name.size() >= sizeof address.sun_path) return false;
  std::memcpy(address.sun_path, name.c_str(), name.size() + 1);
  const bool bound = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  ::close(fd);
  return bound;
}

}  // namespace lumivor::testing
