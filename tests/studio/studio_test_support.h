// Photos and tracks for Studio's tests, made by the core's sample makers into a scratch folder.
#pragma once

#include <string>
#include <vector>

#include <QTest>
#include <gtest/gtest.h>

#include "app/samples/sample_media.h"
#include "app/samples/sample_pictures.h"
#include "app/photos/picture_file.h"
#include "studio/thumbnail_cache.h"
#include "support/scratch_folder.h"

namespace lumivor::studio {

// The four sample photos: a 4:3 landscape and a 3:4 portrait as JPEG, a square BMP, a 16:9 JPEG.
inline std::vector<std::string> SamplePhotos(const std::string& folder) {
  std::vector<std::string> paths;
  std::string errorText;
  EXPECT_TRUE(WriteSamplePhotos(folder, paths, errorText)) << errorText;
  return paths;
}

inline std::string SampleTrack(const std::string& path, double seconds) {
  std::string errorText;
  EXPECT_TRUE(WriteSampleTrack(path, seconds, errorText)) << errorText;
  return path;
}

inline void WriteText(const std::string& path, const std::string& text) {
  FILE* file = std::fopen(path.c_str(), "wb");
  ASSERT_NE(file, nullptr) << path;
  std::fwrite(text.data(), 1, text.size(), file);
  std::fclose(file);
}

// Runs the event loop until no thumbnail is being decoded; false after ten seconds.
inline bool WaitForThumbnails(const ThumbnailCache& cache) {
  return QTest::qWaitFor([&] { return cache.Pending() == 0; }, 10000);
}

}  // namespace lumivor::studio
