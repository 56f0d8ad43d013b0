#pragma once

#include <gtest/gtest.h>

#include "media/runtime/ff_load.h"
#include "support/scratch_folder.h"

namespace lumivor::testing {

// The installed libraries, through the system search.
inline void LoadSystemLibraries(LibrarySet libraries = AllLibraries) {
  TFFLoader& loader = TFFLoader::Instance();
  loader.SetLibraryPath("");
  ASSERT_TRUE(loader.Load(libraries)) << loader.LastError();
}

}  // namespace lumivor::testing
