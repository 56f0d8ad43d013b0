#include "app/show/preview_sheet.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "app/show/frame_sequencer.h"
#include "app/photos/picture_file.h"
#include "app/picture_test_support.h"
#include "support/scratch_folder.h"

namespace lumivor {
namespace {

using testing::ScratchFolder;
using testing::WriteWholeFile;

std::string WritePhoto(const ScratchFolder& folder, const std::string& name, int width, int height, int tint) {
  Bitmap photo(width, height, 32);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      photo.SetPixel(x, y, static_cast<std::uint32_t>(((x * 5 + tint) & 0xFF) | (((y * 9) & 0xFF) << 8) |
                                                      (((x ^ y) + tint) & 0xFF) << 16));
  return testing::WriteBmpPhoto(folder, name, photo);
}

struct Plan {
  int Width, Height, Hold, Transition;
  MotionKind Motion;
};

void Reset(FrameSequencer& sequencer, const std::vector<std::string>& photos, const Plan& plan) {
  sequencer.Photos = [&photos]() -> const std::vector<std::string>& { return photos; };
  sequencer.Motion = plan.Motion;
  sequencer.ResetRun(plan.Width, plan.Height, plan.Hold, plan.Transition, true, 7u);
}

TEST(PreviewSheet, FramesShownAreEachTransitionsMiddleAndEachHoldsFirst) {
  struct Case {
    int photos, hold, transition;
    std::vector<std::int64_t> indexes;
  };
  const Case cases[] = {
      // Opening transition 0-3, hold 4-6, transition 7-10, hold 11-13, closing transition 14-17.
      {2, 3, 4, {2, 4, 9, 11, 16}},
      {1, 1, 1, {0, 1, 2}},
      {1, 0, 0, {0, 1, 2}},  // counts below 1 are 1, as in the run
      {0, 5, 5, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.photos);
    std::vector<std::int64_t> indexes;
    for (const PreviewFrame& frame : PreviewFrames(c.photos, c.hold, c.transition)) indexes.push_back(frame.Index);
    EXPECT_EQ(indexes, c.indexes);
  }

  // Photos with holds and transitions of their own.
  struct TimedCase {
    ShowTiming timing;
    std::vector<std::int64_t> indexes;
  };
  const TimedCase timedCases[] = {
      // Opening transition 0-3, hold 4-6, transition 7-8, hold 9, closing transition 10-14.
      {{{3, 1}, {4, 2, 5}}, {2, 4, 8, 9, 12}},
      {{{1, 6, 2}, {1, 3, 1, 2}}, {0, 1, 3, 5, 11, 12, 15}},
      {{{2, 2}, {2, 2}}, {}},  // a transition short: no plan to show
  };
  for (const TimedCase& c : timedCases) {
    SCOPED_TRACE(c.indexes.size());
    std::vector<std::int64_t> indexes;
    for (const PreviewFrame& frame : PreviewFrames(c.timing)) indexes.push_back(frame.Index);
    EXPECT_EQ(indexes, c.indexes);
  }
}

TEST(PreviewSheet, TilesAreTheSequencersOwnFramesShrunkByAveraging) {
  ScratchFolder folder;
  const std::vector<std::string> photos = {WritePhoto(folder, "wide.bmp", 200, 90, 10),
                                           WritePhoto(folder, "tall.bmp", 60, 150, 90),
                                           WritePhoto(folder, "square.bmp", 100, 100, 170)};
  const Plan plans[] = {
      {160, 120, 5, 6, MotionKind::None},
      // Moving photos: neighbouring frames differ, so a tile one frame off shows.
      {160, 120, 5, 6, MotionKind::Zoom},
      // Three frame pixels to a tile pixel each way.
      {960, 540, 2, 3, MotionKind::None},
  };
  for (const Plan& plan : plans) {
    SCOPED_TRACE(std::to_string(plan.Width) + " motion " + std::to_string(static_cast<int>(plan.Motion)));
    FrameSequencer sheetSequencer;
    Reset(sheetSequencer, photos, plan);
    Bitmap sheet;
    std::vector<Rect> tiles;
    std::string error;
    ASSERT_TRUE(RenderPreviewSheet(sheetSequencer, sheet, error, &tiles)) << error;
    const std::vector<PreviewFrame> shown = PreviewFrames(3, plan.Hold, plan.Transition);
    ASSERT_EQ(tiles.size(), 7u);  // four transitions, three holds
    ASSERT_EQ(shown.size(), tiles.size());

    // The same run read frame by frame, as the encoder would read it.
    FrameSequencer runSequencer;
    Reset(runSequencer, photos, plan);
    const int factor = (plan.Width + PreviewTileMaxWidth - 1) / PreviewTileMaxWidth;
    Bitmap frame(plan.Width, plan.Height, 32);
    std::size_t next = 0;
    for (std::int64_t index = 0; next < shown.size(); ++index) {
      ASSERT_EQ(runSequencer.ReadFrameCanvas(frame), 0);
      if (index != shown[next].Index) continue;
      const Rect& tile = tiles[next++];
      ASSERT_EQ(tile.Width(), plan.Width / factor);
      ASSERT_EQ(tile.Height(), plan.Height / factor);
      int differences = 0;
      for (int y = 0; y < tile.Height(); ++y) {
        for (int x = 0; x < tile.Width(); ++x) {
          for (int c = 0; c < 3; ++c) {
            int sum = 0;
            for (int dy = 0; dy < factor; ++dy)
              for (int dx = 0; dx < factor; ++dx) sum += (frame.Pixel(x * factor + dx, y * factor + dy) >> (8 * c)) & 0xFF;
            const int expected = (sum + factor * factor / 2) / (factor * factor);
            const int got = (sheet.Pixel(tile.Left + x, tile.Top + y) >> (8 * c)) & 0xFF;
            if (got != expected) ++differences;
          }
        }
      }
      EXPECT_EQ(differences, 0) << "tile " << next - 1;
    }
    // Tiles do not overlap and lie inside the sheet.
    for (std::size_t i = 0; i < tiles.size(); ++i) {
      EXPECT_GE(tiles[i].Left, 0);
      EXPECT_LE(tiles[i].Right, sheet.Width());
      EXPECT_LE(tiles[i].Bottom, sheet.Height());
      for (std::size_t j = i + 1; j < tiles.size(); ++j) {
        const bool apart = tiles[i].Right <= tiles[j].Left || tiles[j].Right <= tiles[i].Left ||
                           tiles[i].Bottom <= tiles[j].Top || tiles[j].Bottom <= tiles[i].Top;
        EXPECT_TRUE(apart) << i << " and " << j;
      }
    }
  }
}

TEST(PreviewSheet, AnUnreadablePhotoOrNoPhotosLeaveTheSheetAlone) {
  ScratchFolder folder;
  const std::string broken = folder / "broken.jpg";
  ASSERT_TRUE(WriteWholeFile(broken, {0xff, 0xd8, 0xff, 0x00}));
  const std::vector<std::string> withBroken = {WritePhoto(folder, "good.bmp", 40, 30, 1), broken};
  const std::vector<std::string> none;
  for (const auto* photos : {&withBroken, &none}) {
    FrameSequencer sequencer;
    Reset(sequencer, *photos, {64, 48, 2, 2, MotionKind::None});
    Bitmap sheet(3, 3, 32);
    sheet.Fill(0x123456);
    std::string error;
    EXPECT_FALSE(RenderPreviewSheet(sequencer, sheet, error));
    EXPECT_FALSE(error.empty());
    if (!photos->empty()) {
      EXPECT_NE(error.find("broken.jpg"), std::string::npos) << error;
    }
    EXPECT_EQ(sheet.Width(), 3);
    EXPECT_EQ(sheet.Pixel(1, 1) & 0xFFFFFF, 0x123456u);
  }
}

}  // namespace
}  // namespace lumivor
