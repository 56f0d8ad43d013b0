// Files and folders dropped on the storyboard from a file manager, and rows dragged within it.
#include <filesystem>

#include <QApplication>
#include <QDoubleSpinBox>
#include <QListView>
#include <QMimeData>
#include <QTest>
#include <QTreeWidget>
#include <QUrl>
#include <gtest/gtest.h>

#include "studio/dropped_files.h"
#include "studio/settings_panel.h"
#include "studio/storyboard_view.h"
#include "window_fixture.h"

namespace lumivor::studio {
namespace {

std::unique_ptr<QMimeData> UrlsOf(const std::vector<std::string>& paths) {
  auto data = std::make_unique<QMimeData>();
  QList<QUrl> urls;
  for (const std::string& path : paths) urls.push_back(QUrl::fromLocalFile(QString::fromStdString(path)));
  data->setUrls(urls);
  return data;
}

std::vector<std::string> Files(const std::vector<ShowPhoto>& photos) {
  std::vector<std::string> files;
  for (const ShowPhoto& photo : photos) files.push_back(photo.File);
  return files;
}

class DropTest : public StudioWindowTest {
 protected:
  void SetUp() override {
    photos = SamplePhotos(folder.Path());
    // A camera folder: pictures out of name order on disk, a side file and a sub-folder.
    std::filesystem::create_directories(folder / "camera/sub");
    for (const char* name : {"img_20.jpg", "IMG_03.PNG", "img_10.bmp"}) {
      std::filesystem::copy_file(photos[0], folder / (std::string("camera/") + name));
    }
    WriteText(folder / "camera/notes.txt", "not a photo");
    std::filesystem::copy_file(photos[0], folder / "camera/sub/deeper.jpg");
    track = SampleTrack(folder / "song.wav", 2.0);
  }
  std::vector<std::string> photos;
  std::string track;
};

TEST_F(DropTest, DroppedFilesFoldersAndTracksGoWhereTheyBelong) {
  const std::string camera = folder / "camera";
  struct Case {
    const char* name;
    std::vector<std::string> dropped;
    int row;
    std::vector<std::string> photosAfter;  // the storyboard started with photos 0 and 1
    std::vector<std::string> tracksAfter;
  };
  const Case cases[] = {
      {"files, in the order given, at the end", {photos[3], photos[2]}, -1, {photos[0], photos[1], photos[3], photos[2]}, {}},
      {"a file between two photos", {photos[2]}, 1, {photos[0], photos[2], photos[1]}, {}},
      {"a folder's pictures in name order, nothing else of it",
       {camera},
       -1,
       {photos[0], photos[1], camera + "/IMG_03.PNG", camera + "/img_10.bmp", camera + "/img_20.jpg"},
       {}},
      {"a track among photos goes to the music", {track, photos[3]}, -1, {photos[0], photos[1], photos[3]}, {track}},
      {"a track alone", {track}, 0, {photos[0], photos[1]}, {track}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto window = MakeWindow();
    StoryboardModel& model = window->Storyboard();
    window->AddPhotos({photos[0], photos[1]});
    const int editsBefore = window->Undo().count();
    const auto data = UrlsOf(c.dropped);
    ASSERT_TRUE(model.canDropMimeData(data.get(), Qt::CopyAction, c.row, 0, QModelIndex()));
    ASSERT_TRUE(model.dropMimeData(data.get(), Qt::CopyAction, c.row, 0, QModelIndex()));
    EXPECT_EQ(Files(model.Photos()), c.photosAfter);
    EXPECT_EQ(window->Project().Tracks, c.tracksAfter);
    if (!c.tracksAfter.empty()) {
      // The track is listed with its length, as the core reads it.
      ASSERT_TRUE(WaitForTrackLengths(*window));
      ASSERT_EQ(window->settings->lstTracks->topLevelItemCount(), 1);
      EXPECT_EQ(window->settings->lstTracks->topLevelItem(0)->text(1), QStringLiteral("00:00:02.000"));
    }
    // A whole drop is one edit: one undo takes all of its photos back.
    if (c.photosAfter.size() > 2) {
      ASSERT_EQ(window->Undo().count(), editsBefore + 1);
      window->Undo().undo();
      EXPECT_EQ(Files(model.Photos()), (std::vector<std::string>{photos[0], photos[1]}));
    }
    EXPECT_TRUE(window->Modified());
  }
}

TEST_F(DropTest, RowsDraggedWithinTheStoryboardMoveAndOthersAreRefused) {
  auto window = MakeWindow();
  auto other = MakeWindow();
  StoryboardModel& model = window->Storyboard();
  window->AddPhotos(photos);
  other->AddPhotos(photos);
  // Photos 0 and 2 dragged before photo 1... as one move.
  std::unique_ptr<QMimeData> rows(model.mimeData({model.index(2), model.index(0)}));
  EXPECT_FALSE(rows->hasUrls()) << "a drag out of the storyboard must not carry the files to move";
  ASSERT_TRUE(model.dropMimeData(rows.get(), Qt::MoveAction, 4, 0, QModelIndex()));
  EXPECT_EQ(Files(model.Photos()), (std::vector<std::string>{photos[1], photos[3], photos[0], photos[2]}));
  window->Undo().undo();
  EXPECT_EQ(Files(model.Photos()), photos);
  // Rows of another storyboard mean nothing here.
  StoryboardModel& otherModel = other->Storyboard();
  std::unique_ptr<QMimeData> foreign(otherModel.mimeData({otherModel.index(0)}));
  EXPECT_FALSE(model.canDropMimeData(foreign.get(), Qt::MoveAction, 0, 0, QModelIndex()));
  EXPECT_FALSE(model.dropMimeData(foreign.get(), Qt::MoveAction, 0, 0, QModelIndex()));
  EXPECT_EQ(Files(model.Photos()), photos);
}

TEST(DroppedFiles, KindsAreToldByTheNameInAnyCase) {
  struct Case {
    const char* path;
    bool picture, track;
  };
  const Case cases[] = {
      {"/a/b.JPG", true, false},  {"/a/b.heic", true, false}, {"/a/b.WebP", true, false},
      {"/a/song.mp3", false, true}, {"/a/song.FLAC", false, true}, {"/a/clip.mkv", false, true},
      {"/a/notes.txt", false, false}, {"/a/noextension", false, false}, {"/a/.jpg", false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(HasPictureName(c.path), c.picture);
    EXPECT_EQ(HasTrackName(c.path), c.track);
  }
}

}  // namespace
}  // namespace lumivor::studio

namespace lumivor::studio {
namespace {

// The storyboard list as a file manager's drop and the keys reach it, not only its model.
TEST_F(DropTest, TheListTakesDropsAndKeys) {
  auto window = MakeWindow();
  window->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
  window->AddPhotos({photos[0], photos[1]});
  QWidget* viewport = window->storyboard->viewport();
  const auto data = UrlsOf({photos[2]});
  // Below the photos, on the list's empty space: the end of the show.
  const QPoint empty(viewport->width() - 5, viewport->height() - 5);
  QDragEnterEvent enter(empty, Qt::CopyAction, data.get(), Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(viewport, &enter);
  EXPECT_TRUE(enter.isAccepted());
  QDragMoveEvent move(empty, Qt::CopyAction, data.get(), Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(viewport, &move);
  QDropEvent drop(QPointF(empty), Qt::CopyAction, data.get(), Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(viewport, &drop);
  EXPECT_EQ(Files(window->Storyboard().Photos()), (std::vector<std::string>{photos[0], photos[1], photos[2]}));

  window->storyboard->setFocus();
  window->storyboard->setCurrentIndex(window->Storyboard().index(0));
  QTest::keyClick(window->storyboard, Qt::Key_Right);
  EXPECT_EQ(window->storyboard->currentIndex().row(), 1);
  QTest::keyClick(window->storyboard, Qt::Key_Delete);
  EXPECT_EQ(Files(window->Storyboard().Photos()), (std::vector<std::string>{photos[0], photos[2]}));
  QTest::keyClick(window->storyboard, Qt::Key_Z, Qt::ControlModifier);
  EXPECT_EQ(Files(window->Storyboard().Photos()), (std::vector<std::string>{photos[0], photos[1], photos[2]}));
  QTest::keyClick(window->storyboard, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
  EXPECT_EQ(Files(window->Storyboard().Photos()), (std::vector<std::string>{photos[0], photos[2]}));
  // Delete typed into a number box is the box's, never a photo's removal.
  window->settings->spnHold->setFocus();
  QTest::keyClick(window->settings->spnHold, Qt::Key_Delete);
  EXPECT_EQ(window->Storyboard().Photos().size(), 2u);
  window->Undo().setClean();
  window->close();
}

}  // namespace
}  // namespace lumivor::studio
