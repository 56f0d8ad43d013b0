#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <thread>
#include <utility>
#include <vector>

#include "deadlock_watchdog.h"
#include "media/components/previewer.h"
#include "media/runtime/ff_load.h"
#include "media/runtime/main_thread.h"

extern "C" {
#include <libavutil/avutil.h>
}

namespace lumivor {
namespace {

TEST(PreviewCaption, HoursMinutesSecondsAndMillisecondsFiveMillisecondsOn) {
  struct Case {
    std::int64_t Time;
    const char* Caption;
  };
  const Case cases[] = {
      {0, "00:00:00.005"},
      {994999, "00:00:00.999"},
      {995000, "00:00:01.000"},
      {3723004000, "01:02:03.009"},
      {AV_NOPTS_VALUE, "N/A"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Time);
    EXPECT_EQ(PreviewCaption(c.Time), c.Caption);
  }
}

// A headless form that also notes where it was used.
struct ObservedForm : HeadlessPreviewerForm {
  struct Journal {
    std::atomic<int> Created{0};
    std::atomic<int> Freed{0};
    std::atomic<bool> OffMainThread{false};
    ObservedForm* Form = nullptr;
  };
  explicit ObservedForm(Journal& journal) : journal_(journal) {
    ++journal_.Created;
    journal_.Form = this;
    Note();
  }
  ~ObservedForm() override {
    ++journal_.Freed;
    journal_.Form = nullptr;
    Note();
  }
  void DrawPicture(const Bitmap& picture) override {
    Note();
    HeadlessPreviewerForm::DrawPicture(picture);
  }
  void Note() {
    if (!IsMainThread()) journal_.OffMainThread = true;
  }
  Journal& journal_;
};

// Runs work on a worker thread while this (main) thread serves its synchronised calls.
template <typename Work>
auto OnWorker(Work work) {
  auto result = std::async(std::launch::async, work);
  EXPECT_TRUE(WaitServing([&result] { return result.wait_for(std::chrono::seconds(0)) == std::future_status::ready; },
                          std::chrono::seconds(30)));
  return result.get();
}

TEST(Previewer, PaintsOnTheMainThreadUntilTheUserClosesTheWindow) {
  ObservedForm::Journal journal;
  {
    TPreviewer previewer([&journal] { return std::make_unique<ObservedForm>(journal); });
    Bitmap picture(6, 4, 32);
    picture.Fill(0x00ff0000);

    EXPECT_EQ(OnWorker([&] { return previewer.ShowPicture(picture, 1, 2500000); }), 1);
    ASSERT_NE(journal.Form, nullptr);
    EXPECT_TRUE(journal.Form->Visible);
    EXPECT_EQ(journal.Form->ClientWidth, 6);
    EXPECT_EQ(journal.Form->ClientHeight, 4);
    EXPECT_EQ(journal.Form->Caption, "00:00:02.505");
    EXPECT_EQ(journal.Form->Canvas.Pixel(5, 3), 0x00ff0000u);

    picture.Fill(0x000000ff);
    EXPECT_EQ(OnWorker([&] { return previewer.ShowPicture(picture, 2, AV_NOPTS_VALUE); }), 1);
    EXPECT_EQ(journal.Form->Caption, "N/A");
    EXPECT_EQ(journal.Form->Canvas.Pixel(0, 0), 0x000000ffu);
    EXPECT_EQ(journal.Form->PaintCount, 2);

    journal.Form->CloseByUser();
    EXPECT_EQ(OnWorker([&] { return previewer.ShowPicture(picture, 3, 0); }), 0);
    EXPECT_EQ(journal.Form->PaintCount, 2) << "a closed preview is not painted again";
    EXPECT_EQ(journal.Created.load(), 1);

    // Freed from a worker as the engine does: the form still goes on the main thread.
    OnWorker([&] {
      TPreviewer other([&journal] { return std::make_unique<ObservedForm>(journal); });
      other.ShowPicture(picture, 1, 0);
      return 0;
    });
    EXPECT_EQ(journal.Freed.load(), 1);
  }
  EXPECT_EQ(journal.Freed.load(), 2);
  EXPECT_FALSE(journal.OffMainThread.load()) << "every form call runs on the main thread";
}

// The engine's preview with the previewer as its window: closing the window turns the preview off
// for the task while encoding goes on.
TEST(Previewer, AClosedWindowTurnsTheTasksPreviewOff) {
  ASSERT_TRUE(TFFLoader::Instance().Load(AllLibraries)) << TFFLoader::Instance().LastError();
  ObservedForm::Journal journal;
  TCustomFFmpeg engine;
  engine.PreviewWindowFactory = [&journal] {
    return std::make_unique<TPreviewer>([&journal] { return std::make_unique<ObservedForm>(journal); });
  };
  engine.PreviewInterval = -1;
  engine.SetPreviewFlags(kPreviewWindowFlag);
  std::vector<std::uint8_t> pixels(8 * 4 * 4, 0x80);
  PicturePlanes picture;
  picture.Data[0] = pixels.data();
  picture.LineSize[0] = 8 * 4;

  OnWorker([&] {
    engine.Preview(picture, AV_PIX_FMT_BGRA, 8, 4, false, 40000, 1);
    return 0;
  });
  ASSERT_NE(journal.Form, nullptr);
  EXPECT_EQ(journal.Form->ClientWidth, 8);
  EXPECT_EQ(journal.Form->Caption, "00:00:00.045");
  journal.Form->CloseByUser();
  OnWorker([&] {
    engine.Preview(picture, AV_PIX_FMT_BGRA, 8, 4, false, 80000, 2);
    return 0;
  });
  EXPECT_EQ(engine.PreviewFlags.load(), 0);
  EXPECT_EQ(journal.Freed.load(), 1) << "the engine frees the closed window";
  EXPECT_FALSE(journal.OffMainThread.load());
}

// A form that runs something of the owner's while it paints, as a window whose painting lets the
// user's clicks through would.
struct ReenteringForm : ObservedForm {
  ReenteringForm(Journal& journal, std::function<void()> whilePainting)
      : ObservedForm(journal), whilePainting_(std::move(whilePainting)) {}
  void DrawPicture(const Bitmap& picture) override {
    ObservedForm::DrawPicture(picture);
    if (whilePainting_) whilePainting_();
  }
  std::function<void()> whilePainting_;
};

// The worker waits for the paint on the main thread; the owner's change of the preview made there
// must neither wait for the worker nor free the window under the paint.
TEST(Previewer, ThePreviewTurnedOffWhileItPaintsClosesTheWindowAfterThePaint) {
  ASSERT_TRUE(TFFLoader::Instance().Load(AllLibraries)) << TFFLoader::Instance().LastError();
  ObservedForm::Journal journal;
  TCustomFFmpeg engine;
  engine.PreviewWindowFactory = [&journal, &engine] {
    return std::make_unique<TPreviewer>([&journal, &engine] {
      return std::make_unique<ReenteringForm>(journal, [&engine] { engine.SetPreviewFlags(0); });
    });
  };
  engine.PreviewInterval = -1;
  engine.SetPreviewFlags(kPreviewWindowFlag);
  std::vector<std::uint8_t> pixels(8 * 4 * 4, 0x80);
  PicturePlanes picture;
  picture.Data[0] = pixels.data();
  picture.LineSize[0] = 8 * 4;

  testing::DeadlockWatchdog watchdog("a preview turned off while it paints", std::chrono::seconds(30));
  OnWorker([&] {
    engine.Preview(picture, AV_PIX_FMT_BGRA, 8, 4, false, 40000, 1);
    engine.Preview(picture, AV_PIX_FMT_BGRA, 8, 4, false, 80000, 2);
    return 0;
  });
  EXPECT_EQ(journal.Created.load(), 1);
  EXPECT_EQ(journal.Freed.load(), 1) << "the window goes once its paint is done";
  EXPECT_EQ(engine.PreviewFlags.load(), 0);
  EXPECT_FALSE(journal.OffMainThread.load());
}

}  // namespace
}  // namespace lumivor
