// The engine's one exception type: raised where setup or the loop cannot go on, caught by the
// encoder component at its entry points and turned into a failed result with the text kept.
#pragma once

#include <stdexcept>
#include <string>

namespace lumivor {

class FFmpegException : public std::runtime_error {
 public:
  explicit FFmpegException(const std::string& message) : std::runtime_error(message) {}
};

}  // namespace lumivor
