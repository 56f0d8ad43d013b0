// What the settings tests share: environment variables set for one test, and whole-file reads.
#pragma once

#include <stdlib.h>

#include <fstream>
#include <iterator>
#include <optional>
#include <string>

namespace lumivor::testing {

// Sets (or with nothing, unsets) one environment variable and puts the old state back when it goes.
class EnvironmentOverride {
 public:
  EnvironmentOverride(const char* name, std::optional<std::string> value) : name_(name) {
    if (const char* old = ::getenv(name)) old_ = old;
    if (value) {
      ::setenv(name, value->c_str(), 1);
    } else {
      ::unsetenv(name);
    }
  }
  ~EnvironmentOverride() {
    if (old_) {
      ::setenv(name_.c_str(), old_->c_str(), 1);
    } else {
      ::unsetenv(name_.c_str());
    }
  }
  EnvironmentOverride(const EnvironmentOverride&) = delete;
  EnvironmentOverride& operator=(const EnvironmentOverride&) = delete;

 private:
  std::string name_;
  std::optional<std::string> old_;
};

inline std::string ReadText(const std::string& fileName) {
  std::ifstream in(fileName, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void WriteText(const std::string& fileName, const std::string& text) {
  std::ofstream out(fileName, std::ios::binary | std::ios::trunc);
  out << text;
}

}  // namespace lumivor::testing
