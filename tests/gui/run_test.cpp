// Whole runs from the window: Start to the end of the encoding with photos the tests draw, and
// the run buttons on the way.
#include <chrono>
#include <filesystem>
#include <fstream>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QEventLoop>
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

#include "app/photos/picture_file.h"
#include "app/run_test_support.h"
#include "app/samples/sample_pictures.h"
#include "gui/preview_sheet_form.h"
#include "media/components/ff_decoder.h"
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

  // Start returns at once; the event loop runs, as it does for a user, until the run's end has
  // reached the window. False when it has not within a minute.
  static bool RunUntilEnd(TfrmMain& window) {
    if (!window.RunLogic().Running()) return true;
    QEventLoop loop;
    bool ended = false;
    window.OnRunFinished = [&](const JobResult&) {
      ended = true;
      loop.quit();
    };
    QTimer::singleShot(60000, &loop, &QEventLoop::quit);
    loop.exec();
    window.OnRunFinished = nullptr;
    return ended;
  }

  // Clicks Start and runs the event loop until the run's end.
  static void StartAndRun(TfrmMain& window) {
    QTest::mouseClick(window.btnStart, Qt::LeftButton);
    ASSERT_TRUE(RunUntilEnd(window)) << "the run did not end";
  }

  std::string OutputFolderUrl(TfrmMain& window) {
    return QUrl::fromLocalFile(window.edtDir->text()).toString().toStdString();
  }

  std::vector<std::string> opened;
};

// The run options the sheet must leave as it found them.
struct KeptOptions {
  bool Realtime, AutoRotate;
  std::optional<std::uint32_t> RandomSeed;
  std::string OutputFile, PreviewSheetFile;
  bool operator==(const KeptOptions&) const = default;
};

KeptOptions KeptOptionsOf(const JobOptions& options) {
  return {options.Realtime, options.AutoRotate, options.RandomSeed, options.OutputFile, options.PreviewSheetFile};
}

const TfrmPreviewSheet* ShownPreviewSheet() {
  for (const QWidget* widget : QApplication::topLevelWidgets()) {
    if (widget->objectName() == QStringLiteral("frmPreviewSheet") && widget->isVisible()) {
      return dynamic_cast<const TfrmPreviewSheet*>(widget);
    }
  }
  return nullptr;
}

TEST_F(RunTest, StartWithoutPhotosAsksForPhotos) {
  auto shown = ShowRunWindow(false);
  TfrmMain& window = *shown;
  std::vector<std::string> filters;
  const std::vector<std::string> photos = WritePhotos(1);
  window.Dialogs().Answer = [&](const std::string& filter) {
    filters.push_back(filter);
    return photos;
  };
  StartAndRun(window);
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
  StartAndRun(window);

  const JobResult& run = window.LastRun();
  ASSERT_EQ(run.End, JobEnd::Finished) << run.ErrorText;
  ASSERT_FALSE(run.OutputFile.empty());
  EXPECT_GT(std::filesystem::file_size(run.OutputFile), 0u);
  ASSERT_FALSE(duringRun.empty());
  for (const RunButtons& buttons : duringRun) EXPECT_EQ(buttons, Running);
  // During the run the line counts the show's frames; at its end it names the video written.
  EXPECT_EQ(statusLines.back().rfind("Frame ", 0), 0u) << statusLines.back();
  EXPECT_NE(statusLines.back().find(" of "), std::string::npos) << statusLines.back();
  EXPECT_EQ(window.lblStatus->text().toStdString(), "Written: " + run.OutputFile);
  // The bar follows the frames and stands full once the video is written.
  EXPECT_GE(highestProgress, 80);
  EXPECT_EQ(window.ProgressBar1->value(), 100);
  EXPECT_TRUE(previewSeen);
  EXPECT_EQ(ButtonsOf(window), Idle);
  // The end of the run shows the output folder.
  EXPECT_EQ(opened, std::vector<std::string>{OutputFolderUrl(window)});
  EXPECT_TRUE(messages.Shown.empty());
  Dismiss(window);
}

// The size box is editable: what is typed there is read once, as the engine reads sizes, and the
// frames drawn and encoded both have that size; what cannot be read stops Start before the run.
TEST_F(RunTest, TypedFrameSizeIsReadOnceOrRefusedBeforeTheRun) {
  struct Case {
    const char* typed;
    int width, height;  // 0: refused
  };
  const Case cases[] = {{"hd 720", 0, 0}, {"640", 0, 0}, {" 176X144 ", 176, 144}, {"qqvga", 160, 120}};
  auto shown = ShowRunWindow(false);
  TfrmMain& window = *shown;
  AddPhotos(window, WritePhotos(1));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.typed);
    window.cmbVideoSize->setEditText(QString::fromUtf8(c.typed));
    messages.Shown.clear();
    opened.clear();
    bool progressShown = false;
    window.OnProgressShown = [&](const TProgressInfo&) { progressShown = true; };
    StartAndRun(window);
    const JobResult& run = window.LastRun();
    EXPECT_EQ(ButtonsOf(window), Idle);
    if (c.width == 0) {
      EXPECT_EQ(run.End, JobEnd::Failed);
      const std::string text = std::string("Invalid frame size: ") + c.typed;
      EXPECT_EQ(run.ErrorText, text);
      ASSERT_EQ(messages.Shown.size(), 1u);
      EXPECT_EQ(messages.Shown[0].Text, text);
      EXPECT_FALSE(progressShown);
      EXPECT_TRUE(opened.empty());
      continue;
    }
    ASSERT_EQ(run.End, JobEnd::Finished) << run.ErrorText;
    EXPECT_EQ(window.RunLogic().Sequencer().FrameWidth(), c.width);
    EXPECT_EQ(window.RunLogic().Sequencer().FrameHeight(), c.height);
    TFFDecoder decoder;
    ASSERT_TRUE(decoder.LoadFile(run.OutputFile)) << decoder.LastErrorText;
    TVideoStreamInfo info;
    ASSERT_TRUE(decoder.GetVideoStreamInfo(decoder.FirstVideoStream, info));
    EXPECT_EQ(info.Width, c.width);
    EXPECT_EQ(info.Height, c.height);
  }
  window.OnProgressShown = nullptr;
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
  StartAndRun(window);

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
  StartAndRun(window);

  ASSERT_EQ(messages.Shown.size(), 2u);
  EXPECT_EQ(messages.Shown[1].Text, "Do you really want to exit?");
  EXPECT_TRUE(closed);
  EXPECT_FALSE(window.isVisible());
  // The refused close left the run alone; the confirmed one stopped it with its file finished.
  EXPECT_EQ(window.LastRun().End, JobEnd::Stopped) << window.LastRun().ErrorText;
  EXPECT_TRUE(std::filesystem::exists(window.LastRun().OutputFile));
}

// The run goes on its own thread: the click is answered at once, and the event loop keeps turning
// (a 10 ms timer keeps firing) while the frames are made. Stop then ends the run with a video that
// plays to its last frame.
TEST_F(RunTest, AWindowRunLeavesTheEventLoopFreeAndStopEndsItWithAPlayableVideo) {
  auto shown = ShowRunWindow(true);
  TfrmMain& window = *shown;
  AddPhotos(window, WritePhotos(2));

  using Clock = std::chrono::steady_clock;
  int ticksWhileRunning = 0;
  int framesAtFirstTick = -1, framesAtLastTick = -1;
  int frames = 0;
  Clock::duration longestGap{};
  Clock::time_point lastTick{};
  QTimer ticker;
  ticker.setInterval(10);
  QObject::connect(&ticker, &QTimer::timeout, [&] {
    const Clock::time_point now = Clock::now();
    if (!window.RunLogic().Running() || window.RunLogic().Joining()) return;
    if (lastTick != Clock::time_point{}) longestGap = std::max(longestGap, now - lastTick);
    lastTick = now;
    ++ticksWhileRunning;
    if (framesAtFirstTick < 0) framesAtFirstTick = frames;
    framesAtLastTick = frames;
  });
  bool stopClicked = false;
  window.OnProgressShown = [&](const TProgressInfo& info) {
    frames = info.FrameNumber;
    // Half a second of frames at 15 a second, then Stop from the event loop, as a user's click.
    if (frames >= 8 && !stopClicked) {
      stopClicked = true;
      QTimer::singleShot(0, &window, [&] { QTest::mouseClick(window.btnStop, Qt::LeftButton); });
    }
  };
  ticker.start();
  const Clock::time_point clicked = Clock::now();
  QTest::mouseClick(window.btnStart, Qt::LeftButton);
  const Clock::duration answered = Clock::now() - clicked;
  EXPECT_TRUE(window.RunLogic().Running()) << "Start waited for the run's end";
  EXPECT_LT(answered, std::chrono::milliseconds(500));
  ASSERT_TRUE(RunUntilEnd(window));
  ticker.stop();

  // Well over half a second of the run passed under the timer, and the frames moved on meanwhile.
  EXPECT_GT(ticksWhileRunning, 20);
  EXPECT_GT(framesAtLastTick, framesAtFirstTick);
  EXPECT_LT(longestGap, std::chrono::milliseconds(250));
  const JobResult& run = window.LastRun();
  ASSERT_EQ(run.End, JobEnd::Stopped) << run.ErrorText;
  const testing::DecodedVideo decoded = testing::DecodeVideoFile(run.OutputFile);
  ASSERT_TRUE(decoded.Opened);
  EXPECT_GE(decoded.VideoFrames, 8);
  EXPECT_LT(decoded.VideoFrames, 2 * 15 + 3 * 15 + 2);
  EXPECT_EQ(decoded.DecodeErrors, 0);
  EXPECT_EQ(ButtonsOf(window), Idle);
  Dismiss(window);
}

// A window destroyed in the middle of a run (the program ending) stops the run, waits for its
// thread and keeps the video closed cleanly, without a word to the window that is going.
TEST_F(RunTest, DestroyingTheWindowMidRunEndsTheRunCleanly) {
  auto shown = ShowRunWindow(true);
  TfrmMain& window = *shown;
  AddPhotos(window, WritePhotos(2));
  const std::string folder = window.edtDir->text().toStdString();
  QEventLoop loop;
  bool destroyed = false;
  window.OnProgressShown = [&](const TProgressInfo& info) {
    if (info.FrameNumber < 5 || destroyed) return;
    destroyed = true;
    // Not inside the window's own report: from the loop, as the program's end would come.
    QTimer::singleShot(0, &loop, [&] {
      shown.reset();
      loop.quit();
    });
  };
  QTest::mouseClick(window.btnStart, Qt::LeftButton);
  QTimer::singleShot(60000, &loop, &QEventLoop::quit);
  loop.exec();

  ASSERT_TRUE(destroyed);
  ASSERT_EQ(shown, nullptr);
  std::vector<std::string> videos;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) videos.push_back(entry.path());
  ASSERT_EQ(videos.size(), 1u) << "only the video, no joined sound or other file";
  const testing::DecodedVideo decoded = testing::DecodeVideoFile(videos[0]);
  ASSERT_TRUE(decoded.Opened);
  EXPECT_GE(decoded.VideoFrames, 5);
  EXPECT_EQ(decoded.DecodeErrors, 0);
  // The stop's end was not shown: the output folder was never opened for a window that was gone.
  EXPECT_TRUE(opened.empty());
}

TEST_F(RunTest, AFailingRunShowsItsErrorText) {
  auto shown = ShowRunWindow(false);
  TfrmMain& window = *shown;
  const std::string broken = Scratch() / "broken.jpg";
  std::ofstream(broken) << "not a picture at all";
  AddPhotos(window, {broken, WritePhotos(1)[0]});

  StartAndRun(window);

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

  StartAndRun(window);

  const JobResult& run = window.LastRun();
  ASSERT_EQ(run.End, JobEnd::Finished) << run.ErrorText;
  EXPECT_TRUE(std::filesystem::exists(run.OutputFile));
  // The joined track was made beside the video and is gone once the video is written.
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::path(run.OutputFile).parent_path() / "tempaudio-tune.mp3"));
  EXPECT_EQ(ButtonsOf(window), Idle);
  EXPECT_TRUE(messages.Shown.empty());
  Dismiss(window);
}

TEST_F(RunTest, PreviewSheetWritesThePlannedShowWithoutEncodingAndShowsIt) {
  auto shown = ShowRunWindow(false);
  TfrmMain& window = *shown;
  const std::vector<std::string> photos = WritePhotos(2);
  AddPhotos(window, photos);
  // Options a caller set stay; the check box's auto-rotate is used for the sheet only.
  window.RunLogic().RunOptions.RandomSeed = 7;
  window.RunLogic().RunOptions.AutoRotate = true;
  QTest::mouseClick(window.chkAutoRotate, Qt::LeftButton);
  const KeptOptions before = KeptOptionsOf(window.RunLogic().RunOptions);
  const std::string sheetFile = Scratch() / "sheet.png";
  std::vector<std::string> asked;
  window.Dialogs().SaveAnswer = [&](const std::string& filter, const std::string& suggested) {
    asked = {filter, suggested};
    return sheetFile;
  };

  window.PreviewSheet1->trigger();

  EXPECT_TRUE(messages.Shown.empty()) << messages.Shown.front().Text;
  ASSERT_EQ(asked.size(), 2u);
  EXPECT_EQ(asked[0], "PNG Pictures|*.PNG");
  EXPECT_EQ(asked[1], window.edtDir->text().toStdString() + "/preview-sheet.png");
  Bitmap sheet;
  std::string error;
  ASSERT_TRUE(ReadPictureFile(sheetFile, sheet, error)) << error;
  std::vector<std::uint8_t> head(16);
  std::ifstream(sheetFile, std::ios::binary).read(reinterpret_cast<char*>(head.data()), 16);
  EXPECT_EQ(DetectPictureFormat(head), PictureFormat::Png);
  // Five 160x120 tiles (the opening transition, each photo's first hold frame and the transition
  // after it), each with a number below it, three to a row, 6-pixel gaps: 6 + 3 * 166 by
  // 6 + 2 * (120 + 21 + 6).
  EXPECT_EQ(sheet.Width(), 504);
  EXPECT_EQ(sheet.Height(), 300);
  // The second tile is the first photo's hold, which fills the frame as it is.
  Bitmap photo;
  ASSERT_TRUE(ReadPictureFile(photos[0], photo, error)) << error;
  for (const auto& [x, y] : {std::pair{10, 10}, std::pair{80, 60}, std::pair{150, 110}}) {
    EXPECT_EQ(sheet.Pixel(172 + x, 6 + y) & 0xFFFFFF, photo.Pixel(x, y) & 0xFFFFFF) << x << "," << y;
  }

  const TfrmPreviewSheet* form = ShownPreviewSheet();
  ASSERT_NE(form, nullptr);
  EXPECT_EQ(form, window.frmPreviewSheet());
  EXPECT_EQ(form->windowTitle(), QStringLiteral("Preview Sheet - sheet.png"));
  EXPECT_FALSE(form->isModal());
  EXPECT_EQ(form->imgSheet->pixmap().size(), QSize(504, 300));

  EXPECT_EQ(KeptOptionsOf(window.RunLogic().RunOptions), before);
  // Nothing was encoded and the window never left its idle state.
  const std::string outputFolder = window.edtDir->text().toStdString();
  EXPECT_TRUE(!std::filesystem::exists(outputFolder) || std::filesystem::is_empty(outputFolder));
  EXPECT_EQ(ButtonsOf(window), Idle);
  EXPECT_TRUE(window.PreviewSheet1->isEnabled());
  Dismiss(window);
}

TEST_F(RunTest, PreviewSheetThatCannotBeMadeSaysWhyAndLeavesTheRunOptions) {
  struct Case {
    const char* Name;
    bool WithPhotos, BrokenPhoto, Cancelled;
    const char* Message;  // a part of the text shown; nullptr: no message
    bool AsksForName;
  };
  const Case cases[] = {
      {"no photos", false, false, false, "no photos", false},
      {"cancelled", true, false, true, nullptr, true},
      {"unreadable photo", true, true, false, "broken.jpg", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    messages.Shown.clear();
    auto shown = ShowRunWindow(false);
    TfrmMain& window = *shown;
    std::vector<std::string> photos;
    if (c.BrokenPhoto) {
      photos.push_back(Scratch() / "broken.jpg");
      std::ofstream(photos.back()) << "not a picture at all";
    }
    if (c.WithPhotos) photos.push_back(WritePhotos(1)[0]);
    if (!photos.empty()) AddPhotos(window, photos);
    window.RunLogic().RunOptions.RandomSeed = 3;
    const KeptOptions before = KeptOptionsOf(window.RunLogic().RunOptions);
    bool openAsked = false, saveAsked = false;
    window.Dialogs().Answer = [&](const std::string&) {
      openAsked = true;
      return std::vector<std::string>{};
    };
    const std::string sheetFile = Scratch() / "failed-sheet.png";
    window.Dialogs().SaveAnswer = [&](const std::string&, const std::string&) {
      saveAsked = true;
      return c.Cancelled ? std::string() : sheetFile;
    };

    window.PreviewSheet1->trigger();

    EXPECT_FALSE(openAsked) << "the sheet does not add photos";
    EXPECT_EQ(saveAsked, c.AsksForName);
    if (c.Message == nullptr) {
      EXPECT_TRUE(messages.Shown.empty());
    } else {
      ASSERT_EQ(messages.Shown.size(), 1u);
      EXPECT_NE(messages.Shown[0].Text.find(c.Message), std::string::npos) << messages.Shown[0].Text;
      EXPECT_EQ(messages.Shown[0].Caption, GlobalObject().ProductName());
      EXPECT_EQ(messages.Shown[0].Buttons, MessageButtons::Ok);
    }
    EXPECT_FALSE(std::filesystem::exists(sheetFile));
    EXPECT_EQ(ShownPreviewSheet(), nullptr);
    EXPECT_EQ(KeptOptionsOf(window.RunLogic().RunOptions), before);
    EXPECT_EQ(ButtonsOf(window), Idle);
    Dismiss(window);
  }
}

TEST_F(RunTest, PreviewSheetIsRefusedWhileARunIsActive) {
  auto shown = ShowRunWindow(true);
  TfrmMain& window = *shown;
  AddPhotos(window, WritePhotos(2));
  bool saveAsked = false;
  window.Dialogs().SaveAnswer = [&](const std::string&, const std::string&) {
    saveAsked = true;
    return std::string(Scratch() / "during-run.png");
  };
  bool started = false;
  bool enabledDuringRun = true;
  window.OnProgressShown = [&](const TProgressInfo&) {
    if (started) return;
    started = true;
    QTimer::singleShot(100, &window, [&] {
      enabledDuringRun = window.PreviewSheet1->isEnabled();
      // The menu item is greyed, and the command refuses even when reached another way.
      window.PreviewSheet1Click();
      QTest::mouseClick(window.btnStop, Qt::LeftButton);
    });
  };
  StartAndRun(window);

  ASSERT_TRUE(started);
  EXPECT_FALSE(enabledDuringRun);
  EXPECT_FALSE(saveAsked);
  EXPECT_TRUE(window.RunLogic().RunOptions.PreviewSheetFile.empty());
  EXPECT_EQ(window.LastRun().End, JobEnd::Stopped) << window.LastRun().ErrorText;
  EXPECT_TRUE(messages.Shown.empty());
  EXPECT_TRUE(window.PreviewSheet1->isEnabled());
  Dismiss(window);
}

}  // namespace
}  // namespace lumivor::gui
