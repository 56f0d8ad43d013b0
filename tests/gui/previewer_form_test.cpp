#include "gui/previewer_form.h"

#include <atomic>
#include <thread>
#include <vector>

#include <QTest>
#include <gtest/gtest.h>

#include "media/runtime/main_thread.h"

namespace lumivor::gui {
namespace {

TEST(PreviewerFormTest, PicturesOfEveryDepthKeepTheirColoursAndTopRow) {
  struct Case {
    int Depth;
    std::uint32_t TopLeft;  // as SetPixel takes it
    QRgb Expected;
  };
  const Case cases[] = {
      {32, 0x00ff0000, qRgb(255, 0, 0)},
      {24, 0x000000ff, qRgb(0, 0, 255)},
      {16, 0x000003e0, qRgb(0, 255, 0)},  // 5-5-5: green fills the middle bits
      {8, 1, qRgb(10, 20, 30)},           // palette index 1
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Depth);
    Bitmap picture(5, 3, c.Depth);
    picture.Fill(0);
    picture.Palette() = {PaletteEntry{0, 0, 0, 0}, PaletteEntry{30, 20, 10, 0}};
    picture.SetPixel(0, 0, c.TopLeft);
    const QImage image = ImageOfBitmap(picture);
    ASSERT_EQ(image.size(), QSize(5, 3));
    EXPECT_EQ(image.pixel(0, 0) & 0xffffff, c.Expected & 0xffffff);
    EXPECT_EQ(image.pixel(0, 2) & 0xffffff, 0u);
    EXPECT_EQ(image.pixel(4, 0) & 0xffffff, 0u);
  }
}

// A run's frames come one after another into the same window: each one shown is exactly the
// frame given, whatever came before it (a frame of the same size reuses the window's image, another
// size or depth does not), and an image taken from the window earlier keeps what it showed.
TEST(PreviewerFormTest, EachFrameShownIsTheFrameGiven) {
  struct Case {
    const char* Name;
    int Width, Height, Depth;
    std::uint32_t Seed;
  };
  const Case cases[] = {
      {"first frame", 7, 5, 24, 1},
      {"next frame, same size", 7, 5, 24, 2},
      {"another size", 3, 9, 24, 3},
      {"a 32-bit frame", 3, 9, 32, 4},
      {"24 bits again", 3, 9, 24, 5},
  };
  QtPreviewerForm form;
  QImage earlier;
  std::vector<std::uint32_t> earlierPixels;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    Bitmap picture(c.Width, c.Height, c.Depth);
    std::vector<std::uint32_t> expected;
    for (int y = 0; y < c.Height; ++y) {
      for (int x = 0; x < c.Width; ++x) {
        // Every channel differs from pixel to pixel and from frame to frame, so a swapped channel,
        // a shifted row or a pixel left from the last frame shows.
        const std::uint32_t colour = ((c.Seed * 53 + x * 31 + y * 7) & 0xff) << 16 |
                                     ((c.Seed * 11 + x * 5 + y * 67) & 0xff) << 8 |
                                     ((c.Seed * 97 + x * 13 + y * 29) & 0xff);
        picture.SetPixel(x, y, colour);
        expected.push_back(colour);
      }
    }
    form.DrawPicture(picture);
    const QImage& shown = form.Picture();
    ASSERT_EQ(shown.size(), QSize(c.Width, c.Height));
    for (int y = 0; y < c.Height; ++y) {
      for (int x = 0; x < c.Width; ++x) {
        ASSERT_EQ(shown.pixel(x, y) & 0xffffff, expected[static_cast<std::size_t>(y * c.Width + x)])
            << x << "," << y;
      }
    }
    if (!earlier.isNull()) {
      std::vector<std::uint32_t> still;
      for (int y = 0; y < earlier.height(); ++y)
        for (int x = 0; x < earlier.width(); ++x) still.push_back(earlier.pixel(x, y) & 0xffffff);
      EXPECT_EQ(still, earlierPixels);
    }
    earlier = shown;
    earlierPixels = expected;
  }
}

// A worker hands pictures over as the engine does, and only Qt's event loop serves it.
TEST(PreviewerFormTest, ShowsTheFirstPictureAtItsSizeWithTheTimeAsCaptionUntilClosed) {
  QtPreviewerForm* form = nullptr;
  auto previewer = std::make_unique<TPreviewer>([&form] {
    auto made = std::make_unique<QtPreviewerForm>();
    form = made.get();
    return std::unique_ptr<TPreviewerForm>(std::move(made));
  });
  Bitmap picture(64, 48, 32);
  picture.Fill(0x00204060);
  picture.SetPixel(0, 0, 0x00ffffff);

  std::atomic<int> result{-1};
  auto show = [&](std::int64_t time) {
    result = -1;
    std::thread worker([&] { result = previewer->ShowPicture(picture, 1, time); });
    EXPECT_TRUE(QTest::qWaitFor([&] { return result.load() >= 0; }, 10000));
    worker.join();
  };

  show(3723004000LL);  // 1 h 2 min 3.004 s, shown with 5 ms added
  EXPECT_EQ(result.load(), 1);
  ASSERT_NE(form, nullptr);
  EXPECT_TRUE(form->isVisible());
  EXPECT_EQ(form->size(), QSize(64, 48));
  EXPECT_EQ(form->windowTitle(), QStringLiteral("01:02:03.009"));
  EXPECT_TRUE(form->windowFlags() & Qt::WindowStaysOnTopHint);
  EXPECT_EQ(form->windowFlags() & Qt::WindowType_Mask, Qt::Tool);
  EXPECT_EQ(form->Picture().pixel(0, 0) & 0xffffff, 0xffffffu);
  EXPECT_EQ(form->grab().toImage().pixel(10, 10) & 0xffffff, 0x204060u);

  form->close();
  EXPECT_TRUE(previewer->ClosedByUser());
  show(4000000);
  EXPECT_EQ(result.load(), 0);
  EXPECT_FALSE(form->isVisible());
  EXPECT_EQ(form->windowTitle(), QStringLiteral("01:02:03.009"));

  // Freeing the previewer on a worker frees the window on the main thread.
  std::atomic<bool> freed{false};
  std::thread worker([&] {
    previewer.reset();
    freed = true;
  });
  EXPECT_TRUE(QTest::qWaitFor([&] { return freed.load(); }, 10000));
  worker.join();
}

TEST(PreviewerFormTest, DraggingAnyPointMovesTheWindow) {
  QtPreviewerForm form;
  form.ShowWithClientSize(80, 60);
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
  const QPoint before = form.pos();
  QTest::mousePress(&form, Qt::LeftButton, Qt::NoModifier, QPoint(40, 30));
  QMouseEvent move(QEvent::MouseMove, QPointF(60, 45), form.mapToGlobal(QPointF(60, 45)), Qt::NoButton,
                   Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(&form, &move);
  QTest::mouseRelease(&form, Qt::LeftButton, Qt::NoModifier, QPoint(60, 45));
  EXPECT_EQ(form.pos(), before + QPoint(20, 15));
}

}  // namespace
}  // namespace lumivor::gui
