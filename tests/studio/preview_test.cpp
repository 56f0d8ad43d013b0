// Studio's preview pane: the picture it draws is the render's frame at the scrubbed position, the
// right way up; its keys play, pause and step; an edit of the show rebuilds it where it stood.
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QTest>
#include <gtest/gtest.h>

#include "app/run/conversion_job.h"
#include "studio/preview_pane.h"
#include "studio/storyboard_view.h"
#include "window_fixture.h"

namespace lumivor::studio {
namespace {

std::uint64_t frame_hash(const Bitmap& frame) {
  std::uint64_t hash = 1469598103934665603ull;
  for (int y = 0; y < frame.Height(); ++y) {
    const std::uint8_t* row = frame.ScanLine(y);
    for (int x = 0; x < frame.Width() * 4; ++x) {
      if (x % 4 == 3) continue;
      hash = (hash ^ row[x]) * 1099511628211ull;
    }
  }
  return hash;
}

class PreviewTest : public StudioWindowTest {
 protected:
  // A small show saved as a project and opened, so that the window holds exactly these choices.
  std::unique_ptr<StudioWindow> OpenShow(int photoCount) {
    ShowProject project;
    const std::vector<std::string> photos = SamplePhotos(folder.Path());
    for (int i = 0; i < photoCount; ++i) project.Photos.push_back({photos[static_cast<std::size_t>(i) % photos.size()], {}});
    project.Width = 192;
    project.Height = 108;
    project.RateNumerator = 10;
    project.HoldSeconds = 1;
    project.TransitionSeconds = 0.5;
    project.Motion = MotionKind::Zoom;
    project.Seed = 31;
    std::string error;
    EXPECT_TRUE(SaveShowProject(project, folder / "show.lumivor", error)) << error;
    auto window = MakeWindow();
    window->preview->SoundOutput = false;
    EXPECT_TRUE(window->OpenProject(QString::fromStdString(folder / "show.lumivor")));
    return window;
  }

  // The render's frames of the window's show, by the run's own sequencer.
  static std::vector<std::uint64_t> RenderedHashes(const StudioWindow& window) {
    RunRequest request;
    std::string error;
    EXPECT_TRUE(RequestFromProject(window.Project(), request, error)) << error;
    FrameSequencer sequencer;
    sequencer.Photos = [&]() -> const std::vector<std::string>& { return request.Photos; };
    PrepareSequencer(request, sequencer);
    Bitmap canvas(request.Width, request.Height, 32);
    std::vector<std::uint64_t> hashes;
    while (sequencer.ReadFrameCanvas(canvas) == 0) hashes.push_back(frame_hash(canvas));
    return hashes;
  }

  static bool WaitForDrawn(PreviewPane& pane, std::int64_t frame) {
    return QTest::qWaitFor([&] { return pane.DrawnFrame() == frame; }, 10000);
  }
};

TEST_F(PreviewTest, TheScrubbedPictureIsTheRendersFrameTheRightWayUp) {
  auto window = OpenShow(3);
  PreviewPane& pane = *window->preview;
  const std::vector<std::uint64_t> expected = RenderedHashes(*window);
  ASSERT_TRUE(pane.Refresh()) << pane.Problem().toStdString();
  ASSERT_EQ(pane.Show().FrameCount(), static_cast<std::int64_t>(expected.size()));
  pane.resize(384, 400);

  struct Case {
    std::int64_t frame;
    const char* time;
  };
  // 7: inside the second transition; 12: a hold; back to 3: the opening transition again.
  const Case cases[] = {{7, "00:00.7 / 00:05.2"}, {12, "00:01.2 / 00:05.2"}, {3, "00:00.3 / 00:05.2"},
                        {51, "00:05.1 / 00:05.2"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.frame);
    pane.slider->setValue(static_cast<int>(c.frame));
    ASSERT_TRUE(WaitForDrawn(pane, c.frame));
    const LiveShow::Frame shown = pane.Show().CurrentFrame();
    ASSERT_EQ(shown.Index, c.frame);
    EXPECT_EQ(frame_hash(*shown.Picture), expected[static_cast<std::size_t>(c.frame)]);
    EXPECT_EQ(pane.TimeText().toStdString(), c.time);
  }

  // The picture as drawn on screen: the frame's top is at the top, colours in their channels.
  pane.slider->setValue(10);
  ASSERT_TRUE(WaitForDrawn(pane, 10));
  const LiveShow::Frame shown = pane.Show().CurrentFrame();
  const QImage screen = pane.picture->grab().toImage();
  ASSERT_FALSE(screen.isNull());
  // The frame fitted into the picture with its aspect kept and centred; black beside it.
  const QSize fitted = QSize(192, 108).scaled(screen.size(), Qt::KeepAspectRatio);
  const int left = (screen.width() - fitted.width()) / 2;
  const int top = (screen.height() - fitted.height()) / 2;
  for (const double along : {0.1, 0.5, 0.9}) {
    SCOPED_TRACE(along);
    const int frameY = static_cast<int>(along * 108);
    const int frameX = 96;
    const std::uint32_t pixel = shown.Picture->Pixel(frameX, frameY);
    const QColor drawn = screen.pixelColor(left + (frameX * fitted.width() + fitted.width() / 2) / 192,
                                           top + (frameY * fitted.height() + fitted.height() / 2) / 108);
    EXPECT_NEAR(drawn.red(), static_cast<int>((pixel >> 16) & 0xFF), 40);
    EXPECT_NEAR(drawn.green(), static_cast<int>((pixel >> 8) & 0xFF), 40);
    EXPECT_NEAR(drawn.blue(), static_cast<int>(pixel & 0xFF), 40);
  }
  ASSERT_TRUE(left > 2 || top > 2) << screen.width() << "x" << screen.height();
  const QPoint margin = left > 2 ? QPoint(left / 2, screen.height() / 2) : QPoint(screen.width() / 2, top / 2);
  EXPECT_EQ(screen.pixelColor(margin), QColor(Qt::black));
}

TEST_F(PreviewTest, KeysPlayPauseAndStep) {
  auto window = OpenShow(3);
  window->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
  PreviewPane& pane = *window->preview;
  pane.SeekFrame(20);
  ASSERT_TRUE(WaitForDrawn(pane, 20));
  struct Case {
    Qt::Key key;
    Qt::KeyboardModifiers modifiers;
    std::int64_t to;
  };
  const Case cases[] = {
      {Qt::Key_Period, Qt::NoModifier, 21},
      {Qt::Key_Period, Qt::NoModifier, 22},
      {Qt::Key_Comma, Qt::NoModifier, 21},
      {Qt::Key_Right, Qt::ControlModifier, 22},
      {Qt::Key_Left, Qt::ControlModifier, 21},
  };
  window->storyboard->setFocus();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.to);
    QTest::keyClick(window.get(), c.key, c.modifiers);
    EXPECT_EQ(pane.Show().Position(), c.to);
    EXPECT_TRUE(WaitForDrawn(pane, c.to));
  }
  // The storyboard keeps its plain arrows.
  window->storyboard->setCurrentIndex(window->Storyboard().index(0));
  QTest::keyClick(window->storyboard, Qt::Key_Right);
  EXPECT_EQ(window->storyboard->currentIndex().row(), 1);
  EXPECT_EQ(pane.Show().Position(), 21);

  // Space plays: the picture moves on with the clock; Space again pauses where it stands.
  QTest::keyClick(window.get(), Qt::Key_Space);
  EXPECT_TRUE(pane.Show().Playing());
  EXPECT_TRUE(QTest::qWaitFor([&] { return pane.DrawnFrame() >= 25; }, 5000));
  QTest::keyClick(window.get(), Qt::Key_Space);
  EXPECT_FALSE(pane.Show().Playing());
  const std::int64_t stopped = pane.Show().Position();
  QTest::qWait(300);
  EXPECT_EQ(pane.Show().Position(), stopped);
  EXPECT_EQ(pane.slider->value(), stopped);
}

// An edit rebuilds the show at the position it stood at; a show with no photos says so and the
// controls go idle.
TEST_F(PreviewTest, EditsRebuildTheShowWhereItStood) {
  auto window = OpenShow(4);
  // The pane looks for edits while it is on screen.
  window->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
  PreviewPane& pane = *window->preview;
  ASSERT_TRUE(pane.Refresh());
  const std::int64_t fourPhotos = pane.Show().FrameCount();
  pane.SeekFrame(30);
  ASSERT_TRUE(WaitForDrawn(pane, 30));

  window->Storyboard().RemoveRows({3});
  pane.ShowChanged();
  ASSERT_TRUE(QTest::qWaitFor([&] { return pane.Show().IsOpen() && pane.Show().FrameCount() < fourPhotos; }, 5000));
  EXPECT_EQ(pane.Show().FrameCount(), static_cast<std::int64_t>(RenderedHashes(*window).size()));
  EXPECT_EQ(pane.Show().Position(), 30);
  EXPECT_TRUE(WaitForDrawn(pane, 30));
  const std::vector<std::uint64_t> expected = RenderedHashes(*window);
  EXPECT_EQ(frame_hash(*pane.Show().CurrentFrame().Picture), expected[30]);

  // Undo brings the photo back without a word to the pane: it finds the edit itself.
  window->Undo().undo();
  EXPECT_TRUE(QTest::qWaitFor([&] { return pane.Show().FrameCount() == fourPhotos; }, 5000));

  window->Storyboard().RemoveRows({0, 1, 2, 3});
  EXPECT_FALSE(pane.Refresh());
  EXPECT_FALSE(pane.Problem().isEmpty());
  EXPECT_FALSE(pane.playButton->isEnabled());
  pane.PlayPause();
  EXPECT_FALSE(pane.Show().Playing());
}

}  // namespace
}  // namespace lumivor::studio
