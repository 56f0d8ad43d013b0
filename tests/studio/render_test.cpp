// Render from Studio: the video of a project is the one `lumivor make` makes of the same project,
// frame for frame; the dialog's progress, its end, and runs that fail or are stopped.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <QComboBox>
#include <QEventLoop>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QUrl>
#include <gtest/gtest.h>

#include "app/exif_test_support.h"
#include "app/run/output_formats.h"
#include "app/sound_test_support.h"
#include "app/show/frame_sequencer.h"
#include "studio/render_dialog.h"
#include "window_fixture.h"

namespace lumivor::studio {
namespace {

std::string Output(const std::string& command) {
  std::string text;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return text;
  char buffer[4096];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) text.append(buffer, n);
  ::pclose(pipe);
  return text;
}

// The decoded frames as Debian's ffmpeg hashes them, one line each; empty when unreadable.
std::vector<std::string> FrameHashes(const std::string& video) {
  std::vector<std::string> lines;
  std::istringstream text(Output("ffmpeg -v error -nostdin -i '" + video + "' -map 0:v -f framemd5 - 2>/dev/null"));
  for (std::string line; std::getline(text, line);) {
    if (!line.empty() && line[0] != '#') lines.push_back(line);
  }
  return lines;
}

std::string Contents(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class RenderTest : public StudioWindowTest {
 protected:
  void SetUp() override { photos = SamplePhotos(folder.Path()); }

  // A small show: three photos at 160x120, 10 frames a second, a second each, effects in turn.
  ShowProject SmallShow(int photoCount = 3, double hold = 1) const {
    ShowProject project;
    for (int i = 0; i < photoCount; ++i) project.Photos.push_back({photos[static_cast<std::size_t>(i % 4)], {}});
    project.Width = 160;
    project.Height = 120;
    project.RateNumerator = 10;
    project.HoldSeconds = hold;
    project.TransitionSeconds = 1;
    project.RandomEffects = false;
    project.Seed = 11;
    project.FormatIndex = ModernFormatIndex;
    return project;
  }

  std::string Save(const ShowProject& project, const std::string& name) {
    const std::string file = folder / name;
    std::string errorText;
    EXPECT_TRUE(SaveShowProject(project, file, errorText)) << errorText;
    return file;
  }

  std::string SaveSmallShow(int photoCount = 3, double hold = 1) { return Save(SmallShow(photoCount, hold), "show.lumivor"); }

  // Opens the project in a window, and the render dialog over it, and hands the dialog to act.
  void WithDialog(const std::string& project, const std::function<void(RenderDialog&)>& act) {
    auto window = MakeWindow();
    ASSERT_TRUE(window->OpenProject(QString::fromStdString(project)));
    window->OnRenderDialog = [&](RenderDialog& dialog) {
      dialog.OpenUrl = [this](const QUrl& url) { opened.push_back(url); };
      act(dialog);
    };
    window->RenderDialogShow();
  }

  // Runs the event loop, as for a user, until the run's end has reached the dialog.
  static bool RunToEnd(RenderDialog& dialog) {
    if (!dialog.Running()) return false;
    QEventLoop loop;
    bool ended = false;
    dialog.OnFinished = [&](const JobResult&) {
      ended = true;
      loop.quit();
    };
    QTimer::singleShot(120000, &loop, &QEventLoop::quit);
    loop.exec();
    dialog.OnFinished = nullptr;
    return ended;
  }

  std::vector<std::string> photos;
  std::vector<QUrl> opened;
};

TEST_F(RenderTest, StudioAndTheCommandLineMakeTheSameFramesOfAProject) {
  const std::string project = SaveSmallShow();
  const std::string studioVideo = folder / "studio.mp4";
  WithDialog(project, [&](RenderDialog& dialog) {
    // H.264 first, and the project's own size offered and chosen.
    EXPECT_EQ(dialog.cmbFormat->itemData(0).toInt(), ModernFormatIndex);
    EXPECT_EQ(dialog.cmbSize->currentText(), QStringLiteral("160x120"));
    dialog.edtOutput->setText(QString::fromStdString(studioVideo));
    ASSERT_TRUE(dialog.StartRender()) << dialog.ResultText().toStdString();
    EXPECT_FALSE(dialog.btnRender->isEnabled());
    EXPECT_TRUE(dialog.btnStop->isEnabled());
    ASSERT_TRUE(RunToEnd(dialog));
    EXPECT_EQ(dialog.LastResult().End, JobEnd::Finished) << dialog.ResultText().toStdString();
    EXPECT_EQ(dialog.WrittenFile().toStdString(), studioVideo);
    EXPECT_TRUE(dialog.ResultText().contains(QString::fromStdString(studioVideo)));
    // The bar counts the show's frames and ends full.
    EXPECT_EQ(dialog.progress->maximum(), ShowFrameCount(3, 10, 10));
    EXPECT_EQ(dialog.progress->value(), dialog.progress->maximum());
    dialog.btnOpen->click();
    dialog.btnShowFolder->click();
  });
  ASSERT_EQ(opened.size(), 2u);
  EXPECT_EQ(opened[0], QUrl::fromLocalFile(QString::fromStdString(studioVideo)));
  EXPECT_EQ(opened[1], QUrl::fromLocalFile(QString::fromStdString(folder.Path())));

  const std::string cliVideo = folder / "cli.mp4";
  const std::string run = std::string(LUMIVOR_BINARY) + " make '" + project + "' -o '" + cliVideo + "' 2>&1";
  const std::string said = Output(run);
  ASSERT_TRUE(std::filesystem::exists(cliVideo)) << said;
  const std::vector<std::string> studioFrames = FrameHashes(studioVideo);
  EXPECT_EQ(studioFrames.size(), static_cast<std::size_t>(ShowFrameCount(3, 10, 10)));
  EXPECT_EQ(studioFrames, FrameHashes(cliVideo));
}

// A show cut on its song's beat, the song levelled, a title card and dated captions: Studio's
// video is the command line's of the same project, picture for picture and sound for sound, and
// the run names the tempo it cut to.
TEST_F(RenderTest, AShowOnTheBeatWithWordsRendersAsTheCommandLineMakesIt) {
  ShowProject project = SmallShow(0, 2);
  // The two sample JPEGs with the Exif block a phone writes.
  for (const auto& [index, date] : {std::pair{0, "2024:06:12 09:00:00"}, std::pair{1, "2024:06:13 18:30:00"}}) {
    const std::string bytes = Contents(photos[static_cast<std::size_t>(index)]);
    const std::vector<std::uint8_t> dated = testing::WithApp1(
        std::vector<std::uint8_t>(bytes.begin(), bytes.end()), testing::ExifBody(testing::DateTiff(date, nullptr, false)));
    const std::string file = folder / ("dated" + std::to_string(index) + ".jpg");
    WriteText(file, std::string(dated.begin(), dated.end()));
    project.Photos.push_back({file, {}});
  }
  project.Photos.push_back({photos[2], {}});
  std::vector<double> clicks;
  for (double t = 0.25; t < 20; t += 0.5) clicks.push_back(t);
  testing::WriteWav(folder / "song.wav", testing::Clicks(20, clicks, -12));
  project.Tracks = {folder / "song.wav"};
  project.BeatSync = true;
  project.Normalize = true;
  project.Title = "Summer";
  project.Subtitle = "June 2024";
  project.Captions = CaptionRule::Date;
  const std::string file = Save(project, "beat.lumivor");

  const std::string studioVideo = folder / "studio.mp4";
  JobResult result;
  WithDialog(file, [&](RenderDialog& dialog) {
    dialog.edtOutput->setText(QString::fromStdString(studioVideo));
    ASSERT_TRUE(dialog.StartRender()) << dialog.ResultText().toStdString();
    ASSERT_TRUE(RunToEnd(dialog));
    result = dialog.LastResult();
  });
  ASSERT_EQ(result.End, JobEnd::Finished) << result.ErrorText;
  double bpm = 0;
  ASSERT_EQ(std::sscanf(result.BeatSyncText.c_str(), "Beat sync: %lf bpm", &bpm), 1) << result.BeatSyncText;
  EXPECT_NEAR(bpm, 120, 1);

  const std::string cliVideo = folder / "cli.mp4";
  const std::string said = Output(std::string(LUMIVOR_BINARY) + " make '" + file + "' -o '" + cliVideo + "' 2>&1");
  ASSERT_TRUE(std::filesystem::exists(cliVideo)) << said;
  const std::vector<std::string> studioFrames = FrameHashes(studioVideo);
  EXPECT_EQ(studioFrames.size(), static_cast<std::size_t>(result.Timing.FrameCount()));
  EXPECT_EQ(studioFrames, FrameHashes(cliVideo));
  const auto sound_hash = [](const std::string& video) {
    return Output("ffmpeg -v error -nostdin -i '" + video + "' -map 0:a -f md5 - 2>/dev/null");
  };
  EXPECT_FALSE(sound_hash(studioVideo).empty());
  EXPECT_EQ(sound_hash(studioVideo), sound_hash(cliVideo));
}

TEST_F(RenderTest, AFailedRenderSaysWhyAndKeepsTheFileThatWasThere) {
  // A photo that is there but cannot be decoded: the show begins and fails on it.
  std::filesystem::copy_file(photos[0], folder / "broken.jpg");
  std::filesystem::resize_file(folder / "broken.jpg", 40);
  ShowProject project;
  project.Photos = {{photos[0], {}}, {folder / "broken.jpg", {}}};
  project.Width = 160;
  project.Height = 120;
  project.RateNumerator = 10;
  project.HoldSeconds = 1;
  project.TransitionSeconds = 1;
  std::string errorText;
  const std::string file = folder / "broken.lumivor";
  ASSERT_TRUE(SaveShowProject(project, file, errorText)) << errorText;
  const std::string video = folder / "kept.mp4";
  WriteText(video, "the video that was here");
  WithDialog(file, [&](RenderDialog& dialog) {
    dialog.edtOutput->setText(QString::fromStdString(video));
    ASSERT_TRUE(dialog.StartRender()) << dialog.ResultText().toStdString();
    ASSERT_TRUE(RunToEnd(dialog));
    EXPECT_EQ(dialog.LastResult().End, JobEnd::Failed);
    EXPECT_TRUE(dialog.ResultText().startsWith(QStringLiteral("The render failed: "))) << dialog.ResultText().toStdString();
    EXPECT_TRUE(dialog.ResultText().contains(QStringLiteral("broken.jpg"))) << dialog.ResultText().toStdString();
    EXPECT_TRUE(dialog.WrittenFile().isEmpty());
    EXPECT_FALSE(dialog.btnOpen->isVisibleTo(&dialog));
    EXPECT_TRUE(dialog.btnRender->isEnabled());
  });
  EXPECT_EQ(Contents(video), "the video that was here");
  // Nothing of the run is left beside it.
  std::size_t files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(folder.Path())) files += entry.path().extension() == ".mp4";
  EXPECT_EQ(files, 1u);
}

TEST_F(RenderTest, RendersThatCannotBeginSayWhy) {
  struct Case {
    const char* name;
    std::string output;
    bool emptyShow;
    const char* said;
  };
  const Case cases[] = {
      {"a folder that is not there", folder / "nowhere/video.mp4", false, "nowhere"},
      {"no file named", "", false, "Choose the file"},
      {"a show without photos", folder / "video.mp4", true, "cannot be made"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ShowProject project;
    if (!c.emptyShow) project.Photos = {{photos[0], {}}};
    const std::string file = folder / "begin.lumivor";
    std::string errorText;
    ASSERT_TRUE(SaveShowProject(project, file, errorText)) << errorText;
    WithDialog(file, [&](RenderDialog& dialog) {
      dialog.edtOutput->setText(QString::fromStdString(c.output));
      EXPECT_FALSE(dialog.StartRender());
      EXPECT_FALSE(dialog.Running());
      EXPECT_TRUE(dialog.ResultText().contains(QString::fromLatin1(c.said))) << dialog.ResultText().toStdString();
    });
  }
}

TEST_F(RenderTest, AStoppedRenderOverAnExistingFileGoesBesideIt) {
  // Long enough that the stop comes well before the end.
  const std::string project = SaveSmallShow(12, 30);
  const std::string video = folder / "long.mp4";
  WriteText(video, "the finished video");
  WithDialog(project, [&](RenderDialog& dialog) {
    dialog.edtOutput->setText(QString::fromStdString(video));
    // The pause holds the frames still; the stop ends the run from there.
    bool stopped = false;
    dialog.OnFinished = nullptr;
    ASSERT_TRUE(dialog.StartRender());
    ASSERT_TRUE(QTest::qWaitFor([&] { return dialog.progress->value() > 5 || !dialog.Running(); }, 60000));
    ASSERT_TRUE(dialog.Running());
    dialog.btnPause->click();
    EXPECT_EQ(dialog.btnPause->text(), QStringLiteral("&Resume"));
    const int held = dialog.progress->value();
    QTest::qWait(300);
    EXPECT_LE(dialog.progress->value(), held + 2) << "frames went on while paused";
    dialog.btnStop->click();
    stopped = RunToEnd(dialog) || !dialog.Running();
    ASSERT_TRUE(stopped);
    EXPECT_EQ(dialog.LastResult().End, JobEnd::Stopped) << dialog.ResultText().toStdString();
    EXPECT_LT(dialog.progress->value(), dialog.progress->maximum());
    EXPECT_EQ(dialog.WrittenFile().toStdString(), folder / "long (stopped).mp4");
    EXPECT_FALSE(FrameHashes(dialog.WrittenFile().toStdString()).empty());
  });
  EXPECT_EQ(Contents(video), "the finished video");
}

}  // namespace
}  // namespace lumivor::studio
