#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "media/runtime/ff_load.h"

namespace lumivor::testing {

// A fresh folder under the system's temporary folder, removed afterwards.
class TempFolder {
 public:
  TempFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "lumivor-rt-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
  }
  ~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  const std::filesystem::path& Path() const { return path_; }
  std::string File(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

// The installed libraries, through the system search.
inline void LoadSystemLibraries(TLibrarySet libraries = AllLibraries) {
  TFFLoader& loader = TFFLoader::Instance();
  loader.SetLibraryPath("");
  ASSERT_TRUE(loader.Load(libraries)) << loader.LastError();
}

}  // namespace lumivor::testing
