// Whole transcoding runs over media the tests make: every container of the application's format
// table, join, and a run stopped, paused and resumed. The results are read back with the decoder
// component and counted packet by packet through the libraries.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "media/components/ff_decoder.h"
#include "media/engine/ffmpeg.h"
#include "media/runtime/ff_load.h"
#include "media/runtime/ff_log.h"
#include "media/runtime/library_objects.h"
#include "media/runtime/main_thread.h"
#include "media_maker.h"
#include "support/scratch_folder.h"

namespace lumivor {
namespace {

using testing::MediaSpec;

constexpr int kFrameRate = 25;

// What a written file holds, read packet by packet.
struct FileFacts {
  bool Opened = false;
  int VideoStreams = 0;
  int AudioStreams = 0;
  std::string VideoCodec;
  std::string AudioCodec;
  int VideoPackets = 0;
  int AudioPackets = 0;
  bool VideoTimesIncrease = true;  // decoding timestamps of the video packets
  double LastVideoSeconds = -1;    // presentation time of the last video packet
};

FileFacts ReadFacts(const std::string& path) {
  FileFacts facts;
  AVFormatContext* raw = nullptr;
  if (lib::avformat_open_input(&raw, path.c_str(), nullptr, nullptr) < 0) return facts;
  InputFormatContextPtr context(raw);
  if (lib::avformat_find_stream_info(raw, nullptr) < 0) return facts;
  facts.Opened = true;
  for (unsigned i = 0; i < raw->nb_streams; ++i) {
    const AVCodecParameters* parameters = raw->streams[i]->codecpar;
    if (parameters->codec_type == AVMEDIA_TYPE_VIDEO) {
      ++facts.VideoStreams;
      facts.VideoCodec = lib::avcodec_get_name(parameters->codec_id);
    } else if (parameters->codec_type == AVMEDIA_TYPE_AUDIO) {
      ++facts.AudioStreams;
      facts.AudioCodec = lib::avcodec_get_name(parameters->codec_id);
    }
  }
  PacketPtr packet(lib::av_packet_alloc());
  std::int64_t lastDts = AV_NOPTS_VALUE;
  while (lib::av_read_frame(raw, packet.get()) >= 0) {
    const AVStream* stream = raw->streams[packet->stream_index];
    if (stream->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) {
      ++facts.VideoPackets;
      if (packet->dts != AV_NOPTS_VALUE) {
        if (lastDts != AV_NOPTS_VALUE && packet->dts <= lastDts) facts.VideoTimesIncrease = false;
        lastDts = packet->dts;
      }
      if (packet->pts != AV_NOPTS_VALUE) {
        const double seconds = static_cast<double>(packet->pts) * stream->time_base.num / stream->time_base.den;
        if (seconds > facts.LastVideoSeconds) facts.LastVideoSeconds = seconds;
      }
    } else if (stream->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) {
      ++facts.AudioPackets;
    }
    lib::av_packet_unref(packet.get());
  }
  return facts;
}

// The media of the whole suite, made once: clips of 160x120 pictures at 25 fps with a tone.
class EngineRun : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    folder_ = new testing::ScratchFolder();
    ok_ = MakeClip(Path("two.mkv"), 2.0) && MakeClip(Path("one-a.mkv"), 1.0) && MakeClip(Path("one-b.mkv"), 1.0) &&
          MakeClip(Path("long.mkv"), 6.0);
  }
  static void TearDownTestSuite() {
    delete folder_;
    folder_ = nullptr;
  }
  void SetUp() override {
    ASSERT_TRUE(ok_) << error_;
    DefaultLogger().SetTriggerEventInMainThread(false);
    DefaultLogger().SetOnLog([this](const void*, int, TLogLevel level, const std::string& text) {
      std::lock_guard<std::mutex> lock(mutex_);
      if (level <= llError) Errors.push_back(text);
    });
    savedLevel_ = DefaultLogger().LogLevel();
    DefaultLogger().SetLogLevel(llError);
    DefaultLogger().InstallLogCallback();
  }
  void TearDown() override {
    DefaultLogger().SetOnLog(nullptr);
    DefaultLogger().SetLogLevel(savedLevel_);
  }
  TLogLevel savedLevel_ = llInfo;

  static bool MakeClip(const std::string& path, double seconds) {
    MediaSpec spec = testing::SmallVideoClip(seconds);
    spec.Video.FrameRate = kFrameRate;
    spec.Audio.Codec = "pcm_s16le";
    return testing::WriteMediaFile(path, spec, error_);
  }
  static std::string Path(const std::string& name) { return *folder_ / name; }

  // A task with the inputs and the output opened as the encoder component does it; false with
  // the engine's text when one of them fails.
  static bool Prepare(TCustomFFmpeg& engine, const std::vector<std::string>& inputs, const std::string& inputOptions,
                      const std::string& output, const std::string& outputOptions, bool join = false) {
    for (const std::string& input : inputs) {
      OptionsContextScope scope(engine);
      if (engine.OpenInputFile(scope.Context(), inputOptions, input, "") < 0) {
        ADD_FAILURE() << "input " << input << ": " << engine.LastErrMsg;
        return false;
      }
    }
    OptionsContextScope scope(engine);
    if (engine.OpenOutputFile(scope.Context(), outputOptions, join, output, "") < 0) {
      ADD_FAILURE() << "output " << output << ": " << engine.LastErrMsg;
      return false;
    }
    return true;
  }

  // Waits for the task's end while serving the main thread's calls, as every owner must.
  static bool WaitForEnd(const std::atomic<int>& ends, std::chrono::seconds limit = std::chrono::seconds(120)) {
    return WaitServing([&ends] { return ends.load() > 0; }, limit);
  }

  std::vector<std::string> Errors;
  std::mutex mutex_;

 private:
  static testing::ScratchFolder* folder_;
  static bool ok_;
  static std::string error_;
};

testing::ScratchFolder* EngineRun::folder_ = nullptr;
bool EngineRun::ok_ = false;
std::string EngineRun::error_;

TEST_F(EngineRun, EveryContainerOfTheFormatTable) {
  struct Case {
    const char* Extension;
    const char* Options;  // the format table's codec options, "aac" for libfaac
    const char* VideoCodec;
    const char* AudioCodec;
    bool StoresDuration;  // swf files carry none; their frames are counted below
  };
  const Case cases[] = {
      {"mp4", " -c:v mpeg4 -c:a aac", "mpeg4", "aac", true},
      {"swf", " -c:a libmp3lame", "flv1", "mp3", false},
      {"flv", " -c:a libmp3lame", "flv1", "mp3", true},
      {"wmv", " -c:v wmv2 -c:a wmav2", "wmv2", "wmav2", true},
      {"mov", " -c:v mpeg4 -c:a aac", "mpeg4", "aac", true},
      {"mkv", " -pix_fmt yuv420p  -c:v libx264 ", "h264", "vorbis", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Extension);
    const std::string output = Path(std::string("out.") + c.Extension);
    std::atomic<int> ends{0};
    {
      TCustomFFmpeg engine;
      engine.OnTerminate = [&ends](TCustomFFmpeg*) { ++ends; };
      ASSERT_TRUE(Prepare(engine, {Path("two.mkv")}, "", output, std::string(c.Options) + " -ar 44100"));
      EXPECT_EQ(engine.Start(false), nullptr) << "a run in the caller's thread";
      EXPECT_EQ(ends.load(), 1);
      EXPECT_TRUE(engine.Finished.load());
      EXPECT_FALSE(engine.Exception) << engine.ExceptionMsg;
    }

    TFFDecoder decoder;
    ASSERT_TRUE(decoder.LoadFile(output)) << decoder.LastErrorText;
    EXPECT_EQ(decoder.VideoStreamCount, 1);
    EXPECT_EQ(decoder.AudioStreamCount, 1);
    TFileStreamInfo file;
    ASSERT_TRUE(decoder.GetFileStreamInfo(file));
    if (c.StoresDuration) {
      EXPECT_NEAR(static_cast<double>(file.Duration) / 1e6, 2.0, 0.15);
    }
    TVideoStreamInfo video;
    ASSERT_TRUE(decoder.GetVideoStreamInfo(decoder.FirstVideoStream, video));
    EXPECT_EQ(video.Width, 160);
    EXPECT_EQ(video.Height, 120);
    decoder.CloseFile();

    const FileFacts facts = ReadFacts(output);
    ASSERT_TRUE(facts.Opened);
    EXPECT_EQ(facts.VideoCodec, c.VideoCodec);
    EXPECT_EQ(facts.AudioCodec, c.AudioCodec);
    // The second input starts where the first one's longest stream ended. Its sound runs a little
  // past its last picture (whole audio frames), so keeping sound and pictures in step can repeat
  // a picture or two at the seam; losing one would be the fault.
  EXPECT_GE(facts.VideoPackets, 2 * kFrameRate);
  EXPECT_LE(facts.VideoPackets, 2 * kFrameRate + 2);
    EXPECT_GT(facts.AudioPackets, 0);
    EXPECT_TRUE(facts.VideoTimesIncrease);
  }
  std::lock_guard<std::mutex> lock(mutex_);
  EXPECT_TRUE(Errors.empty()) << Errors.front();
}

TEST_F(EngineRun, JoinedInputsFollowOneAnother) {
  const std::string output = Path("joined.mp4");
  {
    TCustomFFmpeg engine;
    ASSERT_TRUE(Prepare(engine, {Path("one-a.mkv"), Path("one-b.mkv")}, "", output, "-c:v mpeg4 -c:a aac", true));
    EXPECT_NEAR(static_cast<double>(engine.TotalDuration) / 1e6, 2.0, 0.1) << "the sum of the inputs";
    engine.Start(false);
    EXPECT_TRUE(engine.Finished.load());
    EXPECT_FALSE(engine.Exception) << engine.ExceptionMsg;
  }
  const FileFacts facts = ReadFacts(output);
  ASSERT_TRUE(facts.Opened);
  EXPECT_EQ(facts.VideoStreams, 1) << "the inputs share the output's streams";
  EXPECT_EQ(facts.AudioStreams, 1);
  // The second input starts where the first one's longest stream ended. Its sound runs a little
  // past its last picture (whole audio frames), so keeping sound and pictures in step can repeat
  // a picture or two at the seam; losing one would be the fault.
  EXPECT_GE(facts.VideoPackets, 2 * kFrameRate);
  EXPECT_LE(facts.VideoPackets, 2 * kFrameRate + 2);
  EXPECT_TRUE(facts.VideoTimesIncrease) << "the second input's times continue the first's";
  EXPECT_NEAR(facts.LastVideoSeconds, 2.0 - 1.0 / kFrameRate, 0.1);
  TFFDecoder decoder;
  ASSERT_TRUE(decoder.LoadFile(output)) << decoder.LastErrorText;
  TFileStreamInfo file;
  ASSERT_TRUE(decoder.GetFileStreamInfo(file));
  EXPECT_NEAR(static_cast<double>(file.Duration) / 1e6, 2.0, 0.15);
}

// A run read at the input's own rate ("-re") lasts as long as the clip plays, so that it can be
// stopped and paused half-way.
TEST_F(EngineRun, AStoppedRunStillWritesItsTrailer) {
  const std::string output = Path("stopped.mp4");
  std::atomic<int> ends{0};
  std::atomic<int> frames{0};
  {
    TCustomFFmpeg engine;
    engine.ProgressInterval = 50000;
    engine.OnTerminate = [&ends](TCustomFFmpeg*) { ++ends; };
    engine.OnProgress = [&frames](TCustomFFmpeg*, std::int32_t, const TProgressInfo& info) {
      frames = info.FrameNumber;
    };
    ASSERT_TRUE(Prepare(engine, {Path("long.mkv")}, "-re", output, "-c:v mpeg4 -c:a aac"));
    TConvertThread* worker = engine.Start(true);
    ASSERT_NE(worker, nullptr);
    worker->Resume();
    ASSERT_TRUE(WaitServing([&frames] { return frames.load() >= 10; }, std::chrono::seconds(60)));
    engine.Stop(true);
    EXPECT_EQ(ends.load(), 1);
    EXPECT_FALSE(engine.Finished.load());
    EXPECT_FALSE(engine.Exception) << engine.ExceptionMsg;
  }
  EXPECT_EQ(ends.load(), 1);
  const FileFacts facts = ReadFacts(output);
  ASSERT_TRUE(facts.Opened) << "an mp4 without its trailer cannot be read";
  EXPECT_GE(facts.VideoPackets, 10);
  EXPECT_LT(facts.VideoPackets, 6 * kFrameRate);
}

TEST_F(EngineRun, PauseHoldsTheRunResumeGoesOnAndAPausedRunCanStop) {
  const std::string output = Path("paused.mp4");
  std::atomic<int> ends{0};
  std::atomic<int> frames{0};
  TCustomFFmpeg engine;
  engine.ProgressInterval = 20000;
  engine.OnTerminate = [&ends](TCustomFFmpeg*) { ++ends; };
  engine.OnProgress = [&frames](TCustomFFmpeg*, std::int32_t, const TProgressInfo& info) {
    frames = info.FrameNumber;
  };
  ASSERT_TRUE(Prepare(engine, {Path("long.mkv")}, "-re", output, "-c:v mpeg4 -c:a aac"));
  engine.Start(true)->Resume();
  ASSERT_TRUE(WaitServing([&frames] { return frames.load() >= 5; }, std::chrono::seconds(60)));

  engine.Pause();
  // Whatever was under way when the gate closed gets through; after that nothing moves.
  WaitServing([] { return false; }, std::chrono::milliseconds(300));
  const int held = frames.load();
  WaitServing([] { return false; }, std::chrono::milliseconds(700));
  EXPECT_EQ(frames.load(), held) << "no frame while paused";
  EXPECT_EQ(ends.load(), 0);

  engine.Resume();
  ASSERT_TRUE(WaitServing([&] { return frames.load() >= held + 5; }, std::chrono::seconds(60))) << "resumed";

  engine.Pause();
  WaitServing([] { return false; }, std::chrono::milliseconds(200));
  engine.Stop(true);  // while paused
  EXPECT_EQ(ends.load(), 1);
  EXPECT_FALSE(engine.Finished.load());
  EXPECT_FALSE(engine.Exception) << engine.ExceptionMsg;
  const FileFacts facts = ReadFacts(output);
  ASSERT_TRUE(facts.Opened);
  EXPECT_GE(facts.VideoPackets, held + 5);
}

}  // namespace
}  // namespace lumivor
