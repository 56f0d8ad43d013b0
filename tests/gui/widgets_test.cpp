// The small pieces under the windows: dialog filters, the up-down arrows, the event-loop pump.
#include <atomic>
#include <fstream>
#include <thread>

#include <QDir>
#include <QLineEdit>
#include <QToolButton>
#include <QRegularExpression>
#include <QTest>
#include <gtest/gtest.h>

#include "gui/file_dialogs.h"
#include "gui/up_down.h"
#include "media/runtime/main_thread.h"
#include "support/scratch_folder.h"

namespace lumivor::gui {
namespace {

QStringList PatternsOf(const QString& filter) {
  const QRegularExpressionMatch match = QRegularExpression(QStringLiteral("\\((.*)\\)$")).match(filter);
  return match.captured(1).split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

TEST(FileDialogsTest, PictureFilterMatchesAnyLetterCaseEvenWhereMatchingIsCaseSensitive) {
  testing::ScratchFolder scratch;
  for (const char* name : {"a.bmp", "B.BMP", "c.Jpg", "d.jpeg", "e.JPEG", "f.png", "g.bmp.txt", "hbmp"}) {
    std::ofstream(scratch / name) << "x";
  }
  const QStringList filters = DialogNameFilters("Picture Files|*.BMP;*.JPEG;*.JPG");
  ASSERT_EQ(filters.size(), 1);
  EXPECT_TRUE(filters[0].startsWith(QStringLiteral("Picture Files (")));
  const QStringList matched = QDir(QString::fromStdString(scratch.Path()))
                                  .entryList(PatternsOf(filters[0]), QDir::Files | QDir::CaseSensitive, QDir::Name);
  EXPECT_EQ(matched, (QStringList{"B.BMP", "a.bmp", "c.Jpg", "d.jpeg", "e.JPEG"}));
}

TEST(FileDialogsTest, EachLabelGetsItsOwnEntryAndTrailingSeparatorsAddNothing) {
  const QStringList filters = DialogNameFilters("Audio|*.MP3;*.WAV;|Video|*.MP4;");
  ASSERT_EQ(filters.size(), 2);
  EXPECT_EQ(filters[0], QStringLiteral("Audio (*.[mM][pP]3 *.[wW][aA][vV])"));
  EXPECT_EQ(filters[1], QStringLiteral("Video (*.[mM][pP]4)"));
}

TEST(UpDownTest, StepsFromTheBoxTextWithinItsBounds) {
  struct Case {
    const char* Text;
    int Direction;
    const char* Expected;
  };
  const Case cases[] = {
      {"5", +1, "6"}, {"5", -1, "4"}, {"0", -1, "0"}, {"100", +1, "100"}, {"250", +1, "100"},
      {"", +1, "1"},  {"x", -1, "0"}, {" 7 ", +1, "8"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Text);
    QLineEdit box;
    UpDown arrows(box, 0, 100, nullptr);
    int clicks = 0;
    arrows.OnClick = [&] { ++clicks; };
    box.setText(QString::fromLatin1(c.Text));
    QTest::mouseClick(c.Direction > 0 ? arrows.Up : arrows.Down, Qt::LeftButton);
    EXPECT_EQ(box.text().toStdString(), c.Expected);
    EXPECT_EQ(clicks, 1);
  }
}

// The test main installs the pump; a worker's call must run with only Qt's loop turning.
TEST(MainThreadPumpTest, WorkerCallsRunFromQtsEventLoop) {
  std::atomic<bool> ranOnMain{false};
  std::atomic<bool> returned{false};
  std::thread worker([&] {
    RunInMainThread([&] { ranOnMain = IsMainThread(); });
    returned = true;
  });
  EXPECT_TRUE(QTest::qWaitFor([&] { return returned.load(); }, 10000));
  worker.join();
  EXPECT_TRUE(ranOnMain.load());
}

}  // namespace
}  // namespace lumivor::gui
