// The storyboard's edits and their undo, and its thumbnails.
#include <filesystem>
#include <functional>

#include <QImage>
#include <QItemSelectionModel>
#include <QListView>
#include <QPixmap>
#include <QUndoStack>
#include <gtest/gtest.h>

#include "app/exif_test_support.h"
#include "studio/storyboard_model.h"
#include "studio/thumbnail_cache.h"
#include "studio_test_support.h"

namespace lumivor::studio {
namespace {

using State = Thumbnail::State;

std::vector<std::string> Names(const std::vector<ShowPhoto>& photos) {
  std::vector<std::string> names;
  for (const ShowPhoto& photo : photos) names.push_back(std::filesystem::path(photo.File).filename().string());
  return names;
}

class StoryboardTest : public ::testing::Test {
 protected:
  StoryboardTest() : model(cache, undo) {}
  ~StoryboardTest() override { WaitForThumbnails(cache); }

  // Five photos A to E (not there: the edits do not read them); B has a choice of its own, which
  // must travel with it.
  void StartWithFive() {
    std::vector<ShowPhoto> photos;
    for (const char* name : {"A", "B", "C", "D", "E"}) photos.push_back({folder / name, {}});
    photos[1].Choices.HoldSeconds = 3;
    model.ResetPhotos(photos);
  }
  State StateOf(int row) { return static_cast<State>(model.data(model.index(row), StoryboardModel::StateRole).toInt()); }

  testing::ScratchFolder folder;
  ThumbnailCache cache;
  QUndoStack undo;
  StoryboardModel model;
};

TEST_F(StoryboardTest, EveryEditIsOneCommandThatUndoesAndRedoes) {
  using Edit = std::function<void(StoryboardModel&)>;
  struct Case {
    const char* name;
    Edit edit;
    std::vector<std::string> after;
  };
  const std::string x = folder / "X", y = folder / "Y";
  const Case cases[] = {
      {"add in the middle", [&](StoryboardModel& m) { m.AddPhotos(2, {x, y}); }, {"A", "B", "X", "Y", "C", "D", "E"}},
      {"add past the end", [&](StoryboardModel& m) { m.AddPhotos(99, {x}); }, {"A", "B", "C", "D", "E", "X"}},
      {"remove two apart", [](StoryboardModel& m) { m.RemoveRows({3, 1}); }, {"A", "C", "E"}},
      {"remove a row that is not there", [](StoryboardModel& m) { m.RemoveRows({7, -1}); }, {"A", "B", "C", "D", "E"}},
      {"move the first down", [](StoryboardModel& m) { m.MoveRows({0}, 3); }, {"B", "C", "A", "D", "E"}},
      {"move two apart to the front", [](StoryboardModel& m) { m.MoveRows({3, 1}, 0); }, {"B", "D", "A", "C", "E"}},
      {"move first and last inside", [](StoryboardModel& m) { m.MoveRows({0, 4}, 2); }, {"B", "A", "E", "C", "D"}},
      {"move to the end", [](StoryboardModel& m) { m.MoveRows({3}, 5); }, {"A", "B", "C", "E", "D"}},
      {"move onto its own place", [](StoryboardModel& m) { m.MoveRows({2}, 3); }, {"A", "B", "C", "D", "E"}},
      {"duplicate two apart", [](StoryboardModel& m) { m.DuplicateRows({1, 3}); }, {"A", "B", "B", "C", "D", "D", "E"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    undo.clear();
    StartWithFive();
    const std::vector<ShowPhoto> before = model.Photos();
    c.edit(model);
    const std::vector<ShowPhoto> after = model.Photos();
    EXPECT_EQ(Names(after), c.after);
    const bool changed = after != before;
    // An edit that changes nothing leaves nothing to undo.
    EXPECT_EQ(undo.count(), changed ? 1 : 0);
    EXPECT_EQ(model.rowCount(), static_cast<int>(after.size()));
    // Every B, moved or copied, still holds its own choice.
    for (const ShowPhoto& photo : after) {
      if (Names({photo}).front() == "B") {
        EXPECT_EQ(photo.Choices.HoldSeconds, 3.0);
      }
    }
    if (!changed) continue;
    undo.undo();
    EXPECT_EQ(model.Photos(), before);
    undo.redo();
    EXPECT_EQ(model.Photos(), after);
    for (int row = 0; row < model.rowCount(); ++row) {
      EXPECT_EQ(model.data(model.index(row), StoryboardModel::PathRole).toString().toStdString(),
                after[static_cast<std::size_t>(row)].File);
    }
  }
}

TEST_F(StoryboardTest, SelectionFollowsMovedPhotosAndTheirUndo) {
  StartWithFive();
  QListView view;
  view.setModel(&model);
  view.selectionModel()->select(model.index(3), QItemSelectionModel::Select);  // D
  model.MoveRows({3}, 0);
  ASSERT_EQ(view.selectionModel()->selectedIndexes().size(), 1);
  EXPECT_EQ(view.selectionModel()->selectedIndexes().front().row(), 0);
  undo.undo();
  ASSERT_EQ(view.selectionModel()->selectedIndexes().size(), 1);
  EXPECT_EQ(view.selectionModel()->selectedIndexes().front().data().toString(), QStringLiteral("D"));
}

TEST_F(StoryboardTest, ThumbnailsLoadAfterAddingAndUnreadablePhotosSayWhy) {
  std::vector<std::string> photos = SamplePhotos(folder.Path());  // landscape, portrait, square, panorama
  const std::string broken = folder / "broken.jpg";
  WriteText(broken, "\xFF\xD8\xFF this is not a whole picture");
  const std::string missing = folder / "missing.png";
  photos.push_back(broken);
  photos.push_back(missing);
  model.AddPhotos(0, photos);
  // Until the workers are heard, every photo shows its placeholder, and the window goes on.
  for (int row = 0; row < model.rowCount(); ++row) EXPECT_EQ(StateOf(row), State::Loading) << row;
  ASSERT_TRUE(WaitForThumbnails(cache));

  struct Case {
    int row;
    State state;
    QSize size;  // the thumbnail within 160x120, its shape kept
  };
  const Case cases[] = {
      {0, State::Ready, {160, 120}}, {1, State::Ready, {90, 120}}, {2, State::Ready, {120, 120}},
      {3, State::Ready, {160, 90}}, {4, State::Failed, {}},       {5, State::Failed, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(photos[static_cast<std::size_t>(c.row)]);
    const QModelIndex index = model.index(c.row);
    ASSERT_EQ(StateOf(c.row), c.state);
    const QPixmap picture = index.data(Qt::DecorationRole).value<QPixmap>();
    ASSERT_FALSE(picture.isNull());
    const QString tip = index.data(Qt::ToolTipRole).toString();
    if (c.state == State::Ready) {
      EXPECT_EQ(picture.size(), c.size);
      EXPECT_EQ(tip.toStdString(), photos[static_cast<std::size_t>(c.row)]);
    } else {
      // The badge has the thumbnail's size; the reason, naming the file, is in the tooltip.
      EXPECT_EQ(picture.size(), cache.Size());
      EXPECT_TRUE(tip.contains(QString::fromStdString(photos[static_cast<std::size_t>(c.row)]) + QStringLiteral("\n")))
          << tip.toStdString();
      EXPECT_GT(tip.count(QString::fromStdString(photos[static_cast<std::size_t>(c.row)])), 1) << tip.toStdString();
    }
  }
}

TEST_F(StoryboardTest, ThumbnailsStandUprightAsTheOrientationTagAsks) {
  // A 4:3 landscape whose tag says it was taken with the camera turned a quarter.
  const Bitmap landscape = MakeSamplePicture(SamplePicture::Landscape, 400, 300);
  std::vector<std::uint8_t> jpeg;
  std::string errorText;
  ASSERT_TRUE(EncodeJpegFile(landscape, 90, jpeg, errorText)) << errorText;
  const std::vector<std::uint8_t> tagged = testing::WithApp1(jpeg, testing::BuildExif(6, false));
  const std::string path = folder / "turned.jpg";
  WriteText(path, std::string(tagged.begin(), tagged.end()));
  const Thumbnail thumbnail = DecodeThumbnail(QString::fromStdString(path), QSize(160, 120));
  ASSERT_EQ(thumbnail.Status, State::Ready) << thumbnail.Reason.toStdString();
  EXPECT_EQ(thumbnail.Picture.size(), QSize(90, 120));
}

TEST_F(StoryboardTest, AThumbnailIsKeptUntilItsFileChanges) {
  const std::string path = folder / "photo.bmp";
  std::string errorText;
  ASSERT_TRUE(WritePictureFile(path, MakeSamplePicture(SamplePicture::Pattern, 200, 100), errorText)) << errorText;
  const QString name = QString::fromStdString(path);
  EXPECT_EQ(cache.Request(name).Status, State::Loading);
  ASSERT_TRUE(WaitForThumbnails(cache));
  ASSERT_EQ(cache.Request(name).Status, State::Ready);
  EXPECT_EQ(cache.Pending(), 0) << "an unchanged file was decoded again";
  EXPECT_EQ(cache.Request(name).Picture.size(), QSize(160, 80));

  // The same name, other contents and a later time: a new picture.
  ASSERT_TRUE(WritePictureFile(path, MakeSamplePicture(SamplePicture::Pattern, 100, 200), errorText)) << errorText;
  std::filesystem::last_write_time(path, std::filesystem::last_write_time(path) + std::chrono::seconds(5));
  EXPECT_EQ(cache.Request(name).Status, State::Loading);
  ASSERT_TRUE(WaitForThumbnails(cache));
  EXPECT_EQ(cache.Request(name).Picture.size(), QSize(60, 120));
}

}  // namespace
}  // namespace lumivor::studio
