// Timing rules of a run: reading at the native rate ("-re"), where a pause holds the input's clock
// so that the pictures due while the task was paused do not rush out at the resume; and key frames
// forced at given times.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "transcode_test_support.h"

namespace lumivor {
namespace {

using testing_engine::FileFacts;
using testing_engine::ReadFileFacts;
using testing_engine::TranscodeTest;

using Clock = std::chrono::steady_clock;

class TranscodeRate : public TranscodeTest {};

double SecondsBetween(Clock::time_point a, Clock::time_point b) {
  return std::chrono::duration<double>(b - a).count();
}

TEST_F(TranscodeRate, APauseDoesNotCountAsPlayingTime) {
  // One second of pictures (the last due at 0.96 s), paused for 0.8 s shortly after the start.
  ASSERT_EQ(AddInput(MakeInput("in.mkv", 1.0, true, false), "-re"), 0) << Engine->LastErrMsg;
  const std::string output = PathOf("out.mkv");
  ASSERT_EQ(AddOutput(output, "-c:v mpeg4"), 0) << Engine->LastErrMsg;
  Engine->ProgressInterval = 0;

  constexpr auto kPause = std::chrono::milliseconds(800);
  int reports = 0;
  std::thread opener;
  Clock::time_point resumed{};
  std::vector<Clock::time_point> afterResume;
  Engine->OnProgress = [&](TCustomFFmpeg* sender, std::int32_t, const TProgressInfo& info) {
    if (info.FileIndex < 0) return;
    ++reports;
    if (reports == 5) {
      // Closed on the worker itself, so that its next turn is sure to wait at the gate.
      sender->PauseGate.Close();
      opener = std::thread([sender, &resumed, kPause] {
        std::this_thread::sleep_for(kPause);
        resumed = Clock::now();
        sender->PauseGate.Open();
      });
    } else if (reports > 5) {
      afterResume.push_back(Clock::now());
    }
  };

  const Clock::time_point begin = Clock::now();
  EXPECT_EQ(Run(), "");
  const double wall = SecondsBetween(begin, Clock::now());
  if (opener.joinable()) opener.join();
  ASSERT_GT(reports, 5) << "the run ended before the pause";

  // Counted as playing time, the pause would have used up most of the second, and the run would
  // end barely after the resume; held, the input plays its whole second after it.
  EXPECT_GE(wall, 0.96 + 0.8 - 0.2) << "wall time " << wall << " s";
  int burst = 0;
  for (const Clock::time_point at : afterResume) burst += SecondsBetween(resumed, at) < 0.15 ? 1 : 0;
  EXPECT_LE(burst, 6) << burst << " turns within 0.15 s of the resume";

  const FileFacts facts = ReadFileFacts(output);
  ASSERT_TRUE(facts.Opened);
  ASSERT_NE(facts.First(AVMEDIA_TYPE_VIDEO), nullptr);
  EXPECT_EQ(facts.First(AVMEDIA_TYPE_VIDEO)->Frames, 25);
}

// The presentation times (seconds) of the key frames of a file's first stream.
std::vector<double> KeyFrameTimes(const std::string& path) {
  std::vector<double> times;
  AVFormatContext* raw = nullptr;
  if (lib::avformat_open_input(&raw, path.c_str(), nullptr, nullptr) < 0) return times;
  InputFormatContextPtr input(raw);
  PacketPtr packet(lib::av_packet_alloc());
  while (lib::av_read_frame(raw, packet.get()) >= 0) {
    if (packet->stream_index == 0 && (packet->flags & AV_PKT_FLAG_KEY) != 0) {
      times.push_back(static_cast<double>(packet->pts) * av_q2d(raw->streams[0]->time_base));
    }
    lib::av_packet_unref(packet.get());
  }
  return times;
}

TEST_F(TranscodeRate, ForcedKeyFramesFallAtTheGivenTimes) {
  // A group of 100 pictures: without forcing, the two-second clip has one key frame only.
  ASSERT_EQ(AddInput(MakeInput("in.mkv", 2.0, true, false)), 0) << Engine->LastErrMsg;
  const std::string output = PathOf("keys.mkv");
  ASSERT_EQ(AddOutput(output, "-c:v mpeg4 -g 100 -force_key_frames 0.5,1"), 0) << Engine->LastErrMsg;
  EXPECT_EQ(Run(), "");

  const std::vector<double> keys = KeyFrameTimes(output);
  ASSERT_EQ(keys.size(), 3U) << "key frames at the start, 0.5 s and 1 s";
  EXPECT_NEAR(keys[0], 0.0, 0.001);
  EXPECT_NEAR(keys[1], 0.5, 0.021);
  EXPECT_NEAR(keys[2], 1.0, 0.001);
}

}  // namespace
}  // namespace lumivor
