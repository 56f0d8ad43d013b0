#include "app/run/progress_text.h"

#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <string>

namespace lumivor {
namespace {

// The middle dot as the status line writes it.
const std::string Dot = " \xC2\xB7 ";

TEST(ProgressText, StatusLineTellsWhatTheReportKnows) {
  struct Case {
    const char* Name;
    ShowProgress Progress;
    std::string Expected;
    int Position;
  };
  const Case cases[] = {
      {"the worked example", {390, 782, 30, 612345, 12.2},
       "Frame 390 of 782" + Dot + "30 fps" + Dot + "0.6 MB" + Dot + "00:13 left", 49},
      {"before the first frame", {-1, 782, -1, 0, std::nullopt}, "Frame 0 of 782" + Dot + "0.0 MB", 0},
      {"speed not yet measured", {12, 782, 0, 48000, std::nullopt}, "Frame 12 of 782" + Dot + "0.0 MB", 1},
      {"all frames encoded, file still open", {782, 782, 31, 2500000, 0.0},
       "Frame 782 of 782" + Dot + "31 fps" + Dot + "2.5 MB" + Dot + "00:00 left", 99},
      {"more frames counted than planned", {800, 782, 30, 2600000, std::nullopt},
       "Frame 782 of 782" + Dot + "30 fps" + Dot + "2.6 MB", 99},
      {"no planned length", {55, 0, 25, 1234567890, std::nullopt}, "Frame 55" + Dot + "25 fps" + Dot + "1234.6 MB", 0},
      {"an hour left", {10, 1000000, 300, 10, 3600.0},
       "Frame 10 of 1000000" + Dot + "300 fps" + Dot + "0.0 MB" + Dot + "1:00:00 left", 0},
      {"a show of billions of frames", {3000000000LL, 6000000000LL, 30, 0, std::nullopt},
       "Frame 3000000000 of 6000000000" + Dot + "30 fps" + Dot + "0.0 MB", 50},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    EXPECT_EQ(ProgressStatusText(c.Progress), c.Expected);
    EXPECT_EQ(ProgressPosition(c.Progress), c.Position);
  }
}

TEST(ProgressText, ClockCountsWholeSecondsUp) {
  struct Case {
    double Seconds;
    const char* Expected;
  };
  const Case cases[] = {
      {0, "00:00"},         {0.01, "00:01"},     {12.2, "00:13"},      {59.0, "00:59"},
      {60.0, "01:00"},      {3599.5, "1:00:00"}, {3661, "1:01:01"},    {360000, "100:00:00"},
      {-5, "00:00"},        {std::nan(""), "00:00"}, {1e12, "888888:53:20"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Seconds);
    EXPECT_EQ(ClockText(c.Seconds), c.Expected);
  }
}

TEST(ProgressText, TimeLeftFollowsThePaceSinceTheFirstReport) {
  struct Case {
    const char* Name;
    std::int64_t Done, Show, AtStart;
    double Seconds;
    std::optional<double> Left;
  };
  const Case cases[] = {
      {"half way at a steady pace", 400, 800, 0, 10.0, 10.0},
      // The frames before the first report came during the start-up; they do not set the pace.
      {"pace from the first report on", 150, 750, 50, 5.0, 30.0},
      {"too short a time to tell", 20, 800, 0, 0.5, std::nullopt},
      {"no frame since the first report", 50, 800, 50, 3.0, std::nullopt},
      {"unknown length", 50, 0, 0, 3.0, std::nullopt},
      {"every frame done", 800, 800, 0, 20.0, 0.0},
      {"more than planned", 810, 800, 0, 20.0, 0.0},
      {"a clock gone wrong", 50, 800, 0, std::nan(""), std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    const std::optional<double> left = EstimateSecondsLeft(c.Done, c.Show, c.AtStart, c.Seconds);
    ASSERT_EQ(left.has_value(), c.Left.has_value());
    if (left) {
      EXPECT_DOUBLE_EQ(*left, *c.Left);
    }
  }
}

TEST(ProgressText, EndLineSaysWhatBecameOfTheVideo) {
  struct Case {
    const char* Name;
    JobResult Result;
    std::optional<std::string> Expected;
  };
  const Case cases[] = {
      {"finished", {JobEnd::Finished, "/home/a/v.mp4", ""}, "Written: /home/a/v.mp4"},
      {"stopped with a video", {JobEnd::Stopped, "/home/a/v.mp4", ""},
       "Stopped: /home/a/v.mp4 holds the show up to the stop"},
      {"stopped before the video", {JobEnd::Stopped, "", ""}, "Stopped: no video was written"},
      {"failed", {JobEnd::Failed, "/home/a/v.mp4", "Cannot open two.bmp"}, "Failed: Cannot open two.bmp"},
      {"failed over two lines", {JobEnd::Failed, "", "first\nsecond"}, "Failed: first second"},
      {"failed without a reason", {JobEnd::Failed, "", ""}, "Failed: the run failed"},
      {"photos asked for", {JobEnd::AddedPhotos, "", ""}, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    EXPECT_EQ(RunEndStatusText(c.Result), c.Expected);
  }
}

TEST(ProgressText, JoiningLineAndRawLine) {
  EXPECT_EQ(JoiningStatusText(12900000, 30000000), "Joining the audio tracks" + Dot + "00:12 of 00:30");
  EXPECT_EQ(JoiningStatusText(-1, 0), "Joining the audio tracks" + Dot + "00:00");
  TProgressInfo info;
  info.FrameNumber = 390;
  info.FPS = 30;
  info.CurrentSize = 612345;
  info.CurrentDuration = 13000000;
  EXPECT_EQ(RawProgressLine(info), "Frame number: 390; FPS: 30; Size: 612345; Time: 13000000");
}

}  // namespace
}  // namespace lumivor
