// Whole runs from the window: Start to the end of the encoding with photos the tests draw, and
// the run buttons on the way.
#include <filesystem>
#include <fstream>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <gtest/gtest.h>

#include "app/picture_file.h"
#include "app/sample_pictures.h"
#include "media/components/media_maker.h"
#include "window_fixture.h"

namespace lumivor::gui {
namespace {

struct RunButtons {
  bool Start, Pause, Stop, Exit, Tabs;
  bool operator==(const RunButtons&) const = default;
};

std::ostream& operator<<(std::ostream& out, const RunButtons& b) {
  return out << "Start " << b.Start << ", Pause " << b.Pause << ", Stop " << b.Stop << ", Exit " << b.Exit
             << ", tabs " << b.Tabs;
}

RunButtons ButtonsOf(TfrmMain& window) {
  return {window.btnStart->isEnabled(), window.btnPause->isEnabled(), window.btnStop->isEnabled(),
          window.btnExit->isEnabled(), window.pgc->isEnabled()};
}

constexpr RunButtons Idle{true, false, false, true, true};
constexpr RunButtons Running{false, true, true, false, false};

bool PreviewShown() {
  for (const QWidget* widget : QApplication::topLevelWidgets()) {
    if (widget->objectName() == QStringLiteral("PreviewForm") && widget->isVisible()) return true;
  }
  return false;
}

class RunTest : public WindowTest {
 protected:
  // Photos of the frame size the runs use, written as BMP files.
  std::vector<std::string> WritePhotos(int count) {
    std::vector<std::string> photos;
    for (int i = 0; i < count; ++i) {
      const std::string path = Scratch() / ("photo" + std::to_string(i) + ".bmp");
      std::string error;
      const Bitmap picture =
          MakeSamplePicture(i % 2 == 0 ? SamplePicture::Landscape : SamplePicture::Pattern, 160, 120);
      EXPECT_TRUE(WritePictureFile(path, picture, error)) << error;
      photos.push_back(path);
    }
    return photos;
  }

  // A shown window set for short runs: 160x120 at 15 frames a second, one second per photo and
  // per transition; its folder openings are recorded.
  std::unique_ptr<TfrmMain> ShowRunWindow(bool realtime) {
    auto window = ShowWindow();
    window->SetItemIndex(SettingsChoice::VideoSize, 1);
    window->SetItemIndex(SettingsChoice::FrameRate, 2);
    window->SetPhotoDelayText("1");
    window->SetEffectDelayText("1");
    window->RunLogic().RunOptions.Realtime = realtime;
    window->OpenUrl = [this](const std::string& url) { opened.push_back(url); };
    return window;
  }

  void AddPhotos(TfrmMain& window, const std::vector<std::string>& photos) {
    window.Dialogs().Answer = [photos](const std::string&) { return photos; };
    window.btnVideoClick();
  }

  std::string OutputFolderUrl(TfrmMain& window) {
    return QUrl::fromLocalFile(window.edtDir->text()).toString().toStdString();
  }

  std::vector<std::string> opened;
};

TEST_F(RunTest, StartWithoutPhotosAsksForPhotos) {
  auto shown = ShowRunWindow(false);
  TfrmMain& window = *shown;
  std::vector<std::string> filters;
  const std::vector<std::string> photos = WritePhotos(1);
  window.Dialogs().Answer = [&](const std::string& filter) {
    filters.push_back(filter);
    return photos;
  };
  QTest::mouseClick(window.btnStart, Qt::LeftButton);
  ASSERT_EQ(filters.size(), 1u);
  EXPECT_EQ(filters[0], "Picture Files|*.BMP;*.JPEG;*.JPG;*.PNG;*.WEBP;*.HEIC;*.HEIF");
  EXPECT_EQ(window.LastRun().End, JobEnd::AddedPhotos);
  EXPECT_EQ(window.Photos(), photos);
  EXPECT_EQ(window.lstPictures->count(), 1);
  EXPECT_EQ(ButtonsOf(window), Idle);
  Dismiss(window);
}

TEST_F(RunTest, AShortRunShowsItsProgressAndEndsIdleWithTheVideoWritten) {
  auto shown = ShowRunWindow(false);
  TfrmMain& window = *shown;
  AddPhotos(window, WritePhotos(2));

  std::vector<RunButtons> duringRun;
  std::vector<std::string> statusLines;
  int highestProgress = -1;
  bool previewSeen = false;
  window.OnProgressShown = [&](const TProgressInfo&) {
    duringRun.push_back(ButtonsOf(window));
    statusLines.push_back(window.lblStatus->text().toStdString());
    highestProgress = std::max(highestProgress, window.ProgressBar1->value());
    previewSeen = previewSeen || PreviewShown();
  };
  QTest::mouseClick(window.btnStart, Qt::LeftButton);

  const JobResult& run = window.LastRun();
  ASSERT_EQ(run.End, JobEnd::Finished) << run.ErrorText;
  ASSERT_FALSE(run.OutputFile.empty());
  EXPECT_GT(std::filesystem::file_size(run.OutputFile), 0u);
  ASSERT_FALSE(duringRun.empty());
  for (const RunButtons& buttons : duringRun) EXPECT_EQ(buttons, Running);
  EXPECT_EQ(statusLines.back().rfind("Frame number: ", 0), 0u) << statusLines.back();
  EXPECT_NE(statusLines.back().find("; FPS: "), std::string::npos);
  // The bar follows the frames to (nearly) the end: the last report may come a frame or two early.
  EXPECT_GE(highestProgress, 90);
  EXPECT_TRUE(previewSeen);
  EXPECT_EQ(ButtonsOf(window), Idle);
  // The end of the run shows the output folder.
  EXPECT_EQ(opened, std::vector<std::string>{OutputFolderUrl(window)});
  EXPECT_TRUE(messages.Shown.empty());
  Dismiss(window);
}

TEST_F(RunTest, PauseResumePauseKeepsStartDisabledAndStopWhilePausedEndsTheRun) {
  auto shown = ShowRunWindow(true);
  TfrmMain& window = *shown;
  AddPhotos(window, WritePhotos(2));

  struct Step {
    std::string PauseCaption;
    RunButtons Buttons;
    bool Paused;
  };
  std::vector<Step> steps;
  std::string statusWhenPaused, statusLaterPaused;
  auto click = [&](QPushButton* button) {
    QTest::mouseClick(button, Qt::LeftButton);
    steps.push_back({window.btnPause->text().toStdString(), ButtonsOf(window), window.RunLogic().Paused()});
  };
  bool started = false;
  window.OnProgressShown = [&](const TProgressInfo&) {
    if (started) return;
    started = true;
    // Timers fire from the run's own wait loop, not inside this report.
    QTimer::singleShot(100, &window, [&] { click(window.btnPause); });
    QTimer::singleShot(400, &window, [&] { click(window.btnPause); });
    QTimer::singleShot(700, &window, [&] { click(window.btnPause); });
    QTimer::singleShot(1000, &window, [&] { statusWhenPaused = window.lblStatus->text().toStdString(); });
    QTimer::singleShot(1500, &window, [&] {
      statusLaterPaused = window.lblStatus->text().toStdString();
      QTest::mouseClick(window.btnStop, Qt::LeftButton);
    });
  };
  QTest::mouseClick(window.btnStart, Qt::LeftButton);

  ASSERT_EQ(steps.size(), 3u);
  const char* const captions[] = {"Resume", "Pause", "Resume"};
  for (std::size_t i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(steps[i].PauseCaption, captions[i]);
    EXPECT_EQ(steps[i].Buttons, Running);
    EXPECT_EQ(steps[i].Paused, i != 1);
  }
  // Nothing is encoded while paused.
  EXPECT_FALSE(statusWhenPaused.empty());
  EXPECT_EQ(statusWhenPaused, statusLaterPaused);

  const JobResult& run = window.LastRun();
  EXPECT_EQ(run.End, JobEnd::Stopped) << run.ErrorText;
  ASSERT_FALSE(run.OutputFile.empty());
  EXPECT_TRUE(std::filesystem::exists(run.OutputFile));
  EXPECT_EQ(ButtonsOf(window), Idle);
  EXPECT_EQ(window.ProgressBar1->value(), 0);
  EXPECT_EQ(opened, std::vector<std::string>{OutputFolderUrl(window)});
  Dismiss(window);
}

TEST_F(RunTest, ClosingTheWindowDuringARunAsksAndThenStopsTheRun) {
  auto shown = ShowRunWindow(true);
  TfrmMain& window = *shown;
  AddPhotos(window, WritePhotos(2));
  bool started = false;
  bool closed = true;
  window.OnProgressShown = [&](const TProgressInfo&) {
    if (started) return;
    started = true;
    QTimer::singleShot(100, &window, [&] {
      messages.Reply = MessageResult::No;
      closed = window.close();
    });
    QTimer::singleShot(300, &window, [&] {
      messages.Reply = MessageResult::Yes;
      closed = window.close();
    });
  };
  QTest::mouseClick(window.btnStart, Qt::LeftButton);

  ASSERT_EQ(messages.Shown.size(), 2u);
  EXPECT_EQ(messages.Shown[1].Text, "Do you really want to exit?");
  EXPECT_TRUE(closed);
  EXPECT_FALSE(window.isVisible());
  // The refused close left the run alone; the confirmed one stopped it with its file finished.
  EXPECT_EQ(window.LastRun().End, JobEnd::Stopped) << window.LastRun().ErrorText;
  EXPECT_TRUE(std::filesystem::exists(window.LastRun().OutputFile));
}

TEST_F(RunTest, AFailingRunShowsItsErrorText) {
  auto shown = ShowRunWindow(false);
  TfrmMain& window = *shown;
  const std::string broken = Scratch() / "broken.jpg";
  std::ofstream(broken) << "not a picture at all";
  AddPhotos(window, {broken, WritePhotos(1)[0]});

  QTest::mouseClick(window.btnStart, Qt::LeftButton);

  const JobResult& run = window.LastRun();
  EXPECT_EQ(run.End, JobEnd::Failed);
  ASSERT_EQ(messages.Shown.size(), 1u);
  EXPECT_FALSE(messages.Shown[0].Text.empty());
  EXPECT_EQ(messages.Shown[0].Text, run.ErrorText);
  EXPECT_EQ(messages.Shown[0].Caption, GlobalObject().ProductName());
  EXPECT_EQ(messages.Shown[0].Icon, MessageIcon::Exclamation);
  EXPECT_EQ(messages.Shown[0].Buttons, MessageButtons::Ok);
  EXPECT_EQ(ButtonsOf(window), Idle);
  Dismiss(window);
}

TEST_F(RunTest, TracksLongerThanTheShowAreJoinedUnderItAndTheJoinedFileRemoved) {
  auto shown = ShowRunWindow(false);
  TfrmMain& window = *shown;
  AddPhotos(window, WritePhotos(2));
  const std::string track = Scratch() / "tune.wav";
  testing::MediaSpec wav;
  wav.Format = "wav";
  wav.Seconds = 8.0;  // the show lasts 2 + 3 transitions = 5 seconds
  std::string error;
  ASSERT_TRUE(testing::WriteMediaFile(track, wav, error)) << error;
  window.Dialogs().Answer = [&](const std::string&) { return std::vector<std::string>{track}; };
  QTest::mouseClick(window.btnAddAudio, Qt::LeftButton);
  ASSERT_EQ(window.AudioTracks().Count(), 1);

  QTest::mouseClick(window.btnStart, Qt::LeftButton);

  const JobResult& run = window.LastRun();
  ASSERT_EQ(run.End, JobEnd::Finished) << run.ErrorText;
  EXPECT_TRUE(std::filesystem::exists(run.OutputFile));
  // The joined track was made beside the video and is gone once the video is written.
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::path(run.OutputFile).parent_path() / "tempaudio-tune.mp3"));
  EXPECT_EQ(ButtonsOf(window), Idle);
  EXPECT_TRUE(messages.Shown.empty());
  Dismiss(window);
}

}  // namespace
}  // namespace lumivor::gui
