#include "app/photos/exif_orientation.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <jpeglib.h>

#include "app/exif_test_support.h"
#include "app/show/frame_sequencer.h"
#include "app/photo_encoders.h"
#include "app/photos/photo_loader.h"
#include "app/photos/picture_file.h"
#include "app/picture_test_support.h"

namespace lumivor {
namespace {

using testing::BuildExif;
using testing::ScratchFolder;

using testing::Blue;
using testing::Corners;
using testing::Green;
using testing::Red;
using testing::White;

// A JPEG with a JFIF header, then the given APP1 segment, as phones write them.
std::vector<std::uint8_t> EncodeJpegWithApp1(const Bitmap& picture, const std::vector<std::uint8_t>& app1) {
  return testing::EncodeJpeg(picture, testing::JpegKind::Colour, app1);
}

bool Near(std::uint32_t a, std::uint32_t b) {
  for (int c = 0; c < 3; ++c)
    if (std::abs(static_cast<int>((a >> (8 * c)) & 0xFF) - static_cast<int>((b >> (8 * c)) & 0xFF)) > 40) return false;
  return true;
}

struct Upright {
  int Orientation;
  std::uint32_t TopLeft, TopRight, BottomLeft, BottomRight;  // the stored corners seen there
};

// Where each stored corner is seen once the viewer has turned the picture as the tag says.
const Upright uprightCorners[] = {
    {1, Red, Green, Blue, White},   // as stored
    {2, Green, Red, White, Blue},   // mirrored left to right
    {3, White, Blue, Green, Red},   // half a turn
    {4, Blue, White, Red, Green},   // mirrored top to bottom
    {5, Red, Blue, Green, White},   // mirrored across the main diagonal
    {6, Blue, Red, White, Green},   // a quarter turn clockwise
    {7, White, Green, Blue, Red},   // mirrored across the other diagonal
    {8, Green, White, Red, Blue},   // a quarter turn anticlockwise
};

// Checks the size and the colour two pixels in from each corner.
void ExpectCorners(const Bitmap& picture, int width, int height, const Upright& u) {
  ASSERT_EQ(picture.Width(), width);
  ASSERT_EQ(picture.Height(), height);
  const int r = width - 3, b = height - 3;
  EXPECT_TRUE(Near(picture.Pixel(2, 2), u.TopLeft)) << std::hex << picture.Pixel(2, 2);
  EXPECT_TRUE(Near(picture.Pixel(r, 2), u.TopRight)) << std::hex << picture.Pixel(r, 2);
  EXPECT_TRUE(Near(picture.Pixel(2, b), u.BottomLeft)) << std::hex << picture.Pixel(2, b);
  EXPECT_TRUE(Near(picture.Pixel(r, b), u.BottomRight)) << std::hex << picture.Pixel(r, b);
}

TEST(OrientationTest, JpegTagTurnsThePhotoUprightInBothByteOrders) {
  ScratchFolder folder;
  const Bitmap stored = Corners(32, 16);
  for (const bool bigEndian : {false, true}) {
    for (const auto& u : uprightCorners) {
      SCOPED_TRACE(::testing::Message() << "orientation " << u.Orientation << (bigEndian ? " MM" : " II"));
      const std::string name = folder / ("tagged" + std::to_string(u.Orientation) + ".jpg");
      ASSERT_TRUE(testing::WriteWholeFile(name, EncodeJpegWithApp1(stored, BuildExif(u.Orientation, bigEndian))));
      const bool sideways = u.Orientation >= 5;
      ExpectCorners(LoadPhotoFile(name), sideways ? 16 : 32, sideways ? 32 : 16, u);
      // With turning off, the photo comes as stored whatever the tag says.
      ExpectCorners(LoadPhotoFile(name, PictureTurn::AsStored), 32, 16, uprightCorners[0]);
    }
  }
}

TEST(OrientationTest, DamagedOrUnusualTagsLeaveThePhotoAsStoredOrAreRead) {
  std::vector<std::uint8_t> cutDirectory = BuildExif(6, false);
  cutDirectory.resize(6 + 8 + 2 + 12 + 6);  // the orientation entry cut in half
  std::vector<std::uint8_t> farDirectory = BuildExif(6, true);
  farDirectory[6 + 7] = 0xF0;  // the first directory's offset beyond the block
  std::vector<std::uint8_t> notTiff = BuildExif(6, false);
  notTiff[6] = 'X';
  struct Case {
    const char* Name;
    std::vector<std::uint8_t> App1;
    Orientation Expected;
  };
  const Case cases[] = {
      {"value 0", BuildExif(0, false), Orientation::AsStored},
      {"value 9", BuildExif(9, true), Orientation::AsStored},
      {"two values", BuildExif(6, false, 3, 2), Orientation::AsStored},
      {"directory cut", cutDirectory, Orientation::AsStored},
      {"directory beyond the block", farDirectory, Orientation::AsStored},
      {"no byte order mark", notTiff, Orientation::AsStored},
      {"stored as LONG", BuildExif(8, true, 4), Orientation::TurnAnticlockwise},
      {"APP1 that is not Exif", {'h', 't', 't', 'p', 0, 0, 'I', 'I', 42, 0}, Orientation::AsStored},
  };
  const Bitmap stored = Corners(16, 8);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    const std::vector<std::uint8_t> jpeg = EncodeJpegWithApp1(stored, c.App1);
    EXPECT_EQ(JpegOrientation(jpeg), c.Expected);
    Bitmap picture;
    std::string error;
    EXPECT_TRUE(ReadPicture(jpeg, picture, error, PictureTurn::Upright)) << error;
  }
  // A file cut inside its headers has no orientation to give and must not be read past its end.
  const std::vector<std::uint8_t> jpeg = EncodeJpegWithApp1(stored, BuildExif(6, false));
  for (std::size_t size = 0; size < 80; ++size) JpegOrientation(std::span(jpeg.data(), size));
  EXPECT_EQ(JpegOrientation(jpeg), Orientation::TurnClockwise);
}

// libheif turns a HEIC by its rotation and mirror properties: turned once when upright is asked,
// not at all otherwise.
TEST(OrientationTest, HeicPropertiesTurnThePhotoOnceOrNotAtAll) {
  const Bitmap stored = Corners(64, 32);
  for (const auto& u : uprightCorners) {
    SCOPED_TRACE(::testing::Message() << "orientation " << u.Orientation);
    const std::vector<std::uint8_t> file = testing::EncodeTestHeic(stored, u.Orientation);
    ASSERT_FALSE(file.empty());
    Bitmap upright, asStored;
    std::string error;
    ASSERT_TRUE(ReadPicture(file, upright, error, PictureTurn::Upright)) << error;
    ASSERT_TRUE(ReadPicture(file, asStored, error, PictureTurn::AsStored)) << error;
    const bool sideways = u.Orientation >= 5;
    ExpectCorners(upright, sideways ? 32 : 64, sideways ? 64 : 32, u);
    ExpectCorners(asStored, 64, 32, uprightCorners[0]);
  }
}

TEST(OrientationTest, TheSequencerTurnsPhotosOnlyWhenAsked) {
  ScratchFolder folder;
  const std::string name = folder / "portrait.jpg";
  ASSERT_TRUE(testing::WriteWholeFile(name, EncodeJpegWithApp1(Corners(32, 16), BuildExif(6, false))));
  const std::vector<std::string> list = {name};
  for (const bool autoRotate : {true, false}) {
    SCOPED_TRACE(autoRotate ? "auto-rotate" : "as stored");
    FrameSequencer sequencer;
    sequencer.Photos = [&]() -> const std::vector<std::string>& { return list; };
    sequencer.AutoRotate = autoRotate;
    sequencer.ResetRun(32, 32, 1, 1, false);
    Bitmap canvas(32, 32, 32);
    ASSERT_EQ(sequencer.ReadFrameCanvas(canvas), 0);  // the opening transition
    ASSERT_EQ(sequencer.ReadFrameCanvas(canvas), 0);  // the held photo
    // Upright the photo stands 16 wide in the middle with black beside it; as stored it lies
    // 32 wide with black above and below.
    EXPECT_EQ(canvas.Pixel(2, 16) == 0, autoRotate) << std::hex << canvas.Pixel(2, 16);
    EXPECT_EQ(canvas.Pixel(16, 2) == 0, !autoRotate) << std::hex << canvas.Pixel(16, 2);
  }
}

}  // namespace
}  // namespace lumivor
