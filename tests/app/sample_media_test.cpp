#include "app/samples/sample_media.h"

#include <gtest/gtest.h>

#include "app/photos/picture_file.h"
#include "app/picture_test_support.h"
#include "app/samples/sample_pictures.h"
#include "media/components/ff_decoder.h"
#include "media/runtime/ff_load.h"
#include "support/scratch_folder.h"

namespace lumivor {
namespace {

TEST(SampleMedia, PhotosOfSeveralShapesReadBack) {
  testing::ScratchFolder folder;
  std::vector<std::string> paths;
  std::string error;
  ASSERT_TRUE(WriteSamplePhotos(folder.Path(), paths, error)) << error;
  struct Expected {
    const char* name;
    PictureFormat format;
    int width, height;
  };
  const Expected expected[] = {
      {"landscape-4x3.jpg", PictureFormat::Jpeg, 1024, 768},
      {"portrait-3x4.jpg", PictureFormat::Jpeg, 600, 800},
      {"pattern-square.bmp", PictureFormat::Bmp, 640, 640},
      {"panorama-16x9.jpg", PictureFormat::Jpeg, 1280, 720},
  };
  ASSERT_EQ(paths.size(), std::size(expected));
  for (std::size_t i = 0; i < paths.size(); ++i) {
    SCOPED_TRACE(expected[i].name);
    EXPECT_EQ(paths[i], folder / expected[i].name);
    const std::vector<std::uint8_t> bytes = testing::ReadWholeFile(paths[i]);
    EXPECT_EQ(DetectPictureFormat(bytes), expected[i].format);
    Bitmap picture;
    ASSERT_TRUE(ReadPicture(bytes, picture, error)) << error;
    EXPECT_EQ(picture.Width(), expected[i].width);
    EXPECT_EQ(picture.Height(), expected[i].height);
  }
  // The JPEG holds the picture it was made of, within what the compression loses.
  Bitmap landscape;
  ASSERT_TRUE(ReadPictureFile(paths[0], landscape, error)) << error;
  const Bitmap original = MakeSamplePicture(SamplePicture::Landscape, 1024, 768);
  const std::uint8_t* a = landscape.ScanLine(100) + 4 * 700;
  const std::uint8_t* b = original.ScanLine(100) + 4 * 700;
  for (int channel = 0; channel < 3; ++channel) EXPECT_NEAR(a[channel], b[channel], 12) << channel;
}

TEST(SampleMedia, TrackLastsAsLongAsAsked) {
  testing::ScratchFolder folder;
  std::string error;
  ASSERT_TRUE(WriteSampleTrack(folder / "tune.wav", 3.0, error)) << error;
  EXPECT_FALSE(WriteSampleTrack(folder / "none.wav", 0.0, error));
  TFFDecoder decoder;
  ASSERT_TRUE(decoder.LibrariesLoaded() || decoder.LoadLibraries(TFFLoader::DefaultLibraryPath()));
  ASSERT_TRUE(decoder.LoadFile(folder / "tune.wav")) << decoder.LastErrorText;
  TAudioStreamInfo info;
  ASSERT_TRUE(decoder.GetAudioStreamInfo(decoder.FirstAudioStream, info));
  EXPECT_EQ(info.Channels, 2);
  EXPECT_EQ(info.SampleRate, 44100);
  TFileStreamInfo file;
  ASSERT_TRUE(decoder.GetFileStreamInfo(file));
  EXPECT_NEAR(static_cast<double>(file.Duration) / 1e6, 3.0, 0.01);
}

}  // namespace
}  // namespace lumivor
