// The contact sheet as the application composes it, without the command line around it.
#include "app/show/contact_sheet.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/photos/picture_file.h"
#include "app/samples/sample_pictures.h"

namespace lumivor {
namespace {

// Rows of the sheet, top first, as raw bytes: rows are compared as wholes.
std::vector<std::uint8_t> Row(const Bitmap& b, int y) {
  const std::uint8_t* line = b.ScanLine(y);
  return std::vector<std::uint8_t>(line, line + static_cast<std::size_t>(b.Width()) * 4);
}

TEST(ContactSheetTest, RowsRepeatForARepeatedEffectAndSamplesMatchExplicitPictures) {
  const int width = 24, height = 18;
  Bitmap once, twice, third;
  std::string error;
  ASSERT_TRUE(ComposeContactSheet(nullptr, nullptr, width, height, {7}, once, error)) << error;
  ASSERT_TRUE(ComposeContactSheet(nullptr, nullptr, width, height, {7, 7}, twice, error)) << error;
  ASSERT_EQ(twice.Width(), once.Width());
  const int rowHeight = twice.Height() - once.Height();
  ASSERT_GT(rowHeight, height);
  // The second row of effect 7 is the first one again, pixel for pixel (the seeds are reset for
  // every frame).
  for (int y = once.Height() - rowHeight; y < once.Height(); ++y) EXPECT_EQ(Row(twice, y + rowHeight), Row(twice, y)) << y;

  // The sample pictures drawn at the cell size are what the sheet uses when given none.
  const Bitmap oldPicture = MakeSamplePicture(SamplePicture::Landscape, width, height);
  const Bitmap newPicture = MakeSamplePicture(SamplePicture::Pattern, width, height);
  ASSERT_TRUE(ComposeContactSheet(&oldPicture, &newPicture, width, height, {7}, third, error)) << error;
  ASSERT_EQ(third.Height(), once.Height());
  for (int y = 0; y < once.Height(); ++y) EXPECT_EQ(Row(third, y), Row(once, y)) << y;
}

TEST(ContactSheetTest, RequestsItCannotMakeAreRefusedWithAText) {
  const Bitmap small = MakeSamplePicture(SamplePicture::Pattern, 8, 6);
  const Bitmap other = MakeSamplePicture(SamplePicture::Pattern, 9, 6);
  struct Case {
    const char* Name;
    const Bitmap* Old;
    const Bitmap* New;
    int Width, Height;
    std::vector<int> Effects;
    const char* Error;
  };
  const Case cases[] = {
      {"one picture", &small, nullptr, 8, 6, {1}, "the contact sheet needs both pictures or neither"},
      {"pictures of two sizes", &small, &other, 8, 6, {1}, "the pictures differ in size"},
      {"no effects", nullptr, nullptr, 8, 6, {}, "no effects for the contact sheet"},
      {"no cell size", nullptr, nullptr, 0, 6, {1}, "contact sheet cells of 0x6 pixels are not a size"},
      {"a sheet too large", nullptr, nullptr, 4096, 4096, std::vector<int>(176, 1), "contact sheet of "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    Bitmap sheet;
    std::string error;
    EXPECT_FALSE(ComposeContactSheet(c.Old, c.New, c.Width, c.Height, c.Effects, sheet, error));
    EXPECT_EQ(error.rfind(c.Error, 0), 0u) << error;
  }
}

}  // namespace
}  // namespace lumivor
