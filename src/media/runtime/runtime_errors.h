#pragma once

#include <stdexcept>
#include <string>

namespace lumivor {

// A broken internal contract (a caller bug, not bad input). The text is the
// fixed "Assertion failure" unless the contract has a message of its own.
class EAssertionFailed : public std::logic_error {
 public:
  explicit EAssertionFailed(const std::string& message = "Assertion failure")
      : std::logic_error(message) {}
};

// Raised by TFFLoader::CheckLoaded when a needed library is not bound.
class ELibraryNotLoaded : public std::runtime_error {
 public:
  explicit ELibraryNotLoaded(const std::string& message) : std::runtime_error(message) {}
};

}  // namespace lumivor
