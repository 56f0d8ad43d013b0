// The frame input: pictures drawn by handlers become a task's video input. Runs go through the
// engine as the encoder component drives it; single packets are read straight from the opened
// input to check their bytes and times.
#include "media/components/frame_input.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "media/components/ff_decoder.h"
#include "media/engine/ffmpeg.h"
#include "media/engine/input_formats.h"
#include "media/runtime/ff_load.h"
#include "media/runtime/ff_log.h"
#include "media/runtime/library_objects.h"
#include "media/runtime/main_thread.h"
#include "support/scratch_folder.h"

namespace lumivor {
namespace {

constexpr int kWidth = 174;  // 522 bytes of bgr24 pixels: rows are padded to 524
constexpr int kHeight = 96;

// Frame k: the top half and the bottom half in colours of their own that change with k, the last
// column in a fixed colour, so that a wrong row order, stride or frame shows in any sample.
struct Bgr {
  std::uint8_t B, G, R;
  friend bool operator==(const Bgr&, const Bgr&) = default;
};
Bgr ExpectedPixel(int frame, int x, int y) {
  if (x == kWidth - 1) return {1, 2, 3};
  if (y < kHeight / 2) return {static_cast<std::uint8_t>(frame * 7), 200, 30};
  return {50, static_cast<std::uint8_t>(frame * 11), 220};
}
std::ostream& operator<<(std::ostream& out, const Bgr& p) {
  return out << "(B" << int(p.B) << " G" << int(p.G) << " R" << int(p.R) << ")";
}

// Writes the frame into rows that start at first and follow each other rowStep bytes apart
// (negative for bottom-up memory).
void DrawNumberedFrame(std::uint8_t* first, std::ptrdiff_t rowStep, int frame) {
  for (int y = 0; y < kHeight; ++y) {
    std::uint8_t* row = first + y * rowStep;
    for (int x = 0; x < kWidth; ++x) {
      const Bgr p = ExpectedPixel(frame, x, y);
      row[3 * x] = p.B;
      row[3 * x + 1] = p.G;
      row[3 * x + 2] = p.R;
    }
  }
}
void DrawNumberedFrame(Bitmap& canvas, int frame) { DrawNumberedFrame(canvas.ScanLine(0), -canvas.Stride(), frame); }

// The video frames of a file, decoded, with their times in seconds.
struct DecodedFrame {
  int Width = 0;
  int Height = 0;
  int Format = -1;
  double Seconds = 0;
  std::vector<std::uint8_t> Rows;  // bgr24 top row first, no padding (when Format is bgr24)
  Bgr At(int x, int y) const {
    const std::uint8_t* p = Rows.data() + (static_cast<std::size_t>(y) * Width + x) * 3;
    return {p[0], p[1], p[2]};
  }
};

std::vector<DecodedFrame> DecodeVideo(const std::string& path) {
  std::vector<DecodedFrame> frames;
  AVFormatContext* raw = nullptr;
  if (lib::avformat_open_input(&raw, path.c_str(), nullptr, nullptr) < 0) return frames;
  InputFormatContextPtr input(raw);
  if (lib::avformat_find_stream_info(raw, nullptr) < 0) return frames;
  const int index = lib::av_find_best_stream(raw, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
  if (index < 0) return frames;
  const AVStream* stream = raw->streams[index];
  const AVCodec* codec = lib::avcodec_find_decoder(stream->codecpar->codec_id);
  CodecContextPtr decoder(lib::avcodec_alloc_context3(codec));
  lib::avcodec_parameters_to_context(decoder.get(), stream->codecpar);
  decoder->pkt_timebase = stream->time_base;
  if (lib::avcodec_open2(decoder.get(), codec, nullptr) < 0) return frames;
  PacketPtr packet(lib::av_packet_alloc());
  FramePtr frame(lib::av_frame_alloc());
  auto drain = [&] {
    while (lib::avcodec_receive_frame(decoder.get(), frame.get()) >= 0) {
      DecodedFrame& out = frames.emplace_back();
      out.Width = frame->width;
      out.Height = frame->height;
      out.Format = frame->format;
      out.Seconds = static_cast<double>(frame->best_effort_timestamp) * av_q2d(stream->time_base);
      if (frame->format == AV_PIX_FMT_BGR24) {
        for (int y = 0; y < frame->height; ++y) {
          const std::uint8_t* row = frame->data[0] + static_cast<std::ptrdiff_t>(y) * frame->linesize[0];
          out.Rows.insert(out.Rows.end(), row, row + 3 * frame->width);
        }
      }
      lib::av_frame_unref(frame.get());
    }
  };
  while (lib::av_read_frame(raw, packet.get()) >= 0) {
    if (packet->stream_index == index) {
      lib::avcodec_send_packet(decoder.get(), packet.get());
      drain();
    }
    lib::av_packet_unref(packet.get());
  }
  lib::avcodec_send_packet(decoder.get(), nullptr);
  drain();
  return frames;
}

class FrameInput : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(TFFLoader::Instance().Load(EncoderLibraries)) << TFFLoader::Instance().LastError();
    RegisterFrameInput();
    TFFLogger& logger = DefaultLogger();
    logger.SetTriggerEventInMainThread(false);
    logger.InstallLogCallback();
    logger.SetLogLevel(llInfo);
    logger.SetOnLog([this](const void*, int, TLogLevel level, const std::string& text) {
      std::lock_guard<std::mutex> lock(linesMutex_);
      lines_.push_back({level, text});
    });
  }
  void TearDown() override {
    DefaultLogger().SetOnLog(nullptr);
    DefaultLogger().SetLogLevel(llError);
  }

  // How many lines of this level contain the text.
  int Logged(TLogLevel level, const std::string& text) {
    std::lock_guard<std::mutex> lock(linesMutex_);
    int count = 0;
    for (const auto& [lineLevel, line] : lines_) count += lineLevel == level && line.find(text) != std::string::npos;
    return count;
  }
  std::string AllLines() {
    std::lock_guard<std::mutex> lock(linesMutex_);
    std::string all;
    for (const auto& line : lines_) all += line.second + "\n";
    return all;
  }

  static int OpenInput(TCustomFFmpeg& engine, const std::string& name, const std::string& options) {
    OptionsContextScope scope(engine);
    return engine.OpenInputFile(scope.Context(), options, name, "");
  }
  static int OpenOutput(TCustomFFmpeg& engine, const std::string& path, const std::string& options) {
    OptionsContextScope scope(engine);
    return engine.OpenOutputFile(scope.Context(), options, false, path, "");
  }

  // The options the application opens its slideshow input with, at 10 frames a second.
  static std::string CanvasOptions() { return "-f frameinput -input_type canvas -pix_fmt bgr24 -r 10/1 -s 174x96"; }

  testing::ScratchFolder Folder;

 private:
  std::mutex linesMutex_;
  std::vector<std::pair<TLogLevel, std::string>> lines_;
};

TEST_F(FrameInput, DrawnCanvasFramesBecomeAFileFrameForFrame) {
  constexpr int kFrames = 12;
  TFrameInputAdapter adapter;  // events through the main thread, as the application has them
  std::vector<TInputFrameInfo> seen;
  std::atomic<int> offMainThread{0};
  int headers = 0;
  int closes = 0;
  adapter.OnReadHeader = [&](TFrameInputAdapter& sender) {
    ++headers;
    EXPECT_EQ(&sender, &adapter);
    EXPECT_NE(sender.FrameInfo(), nullptr);
  };
  adapter.OnReadClose = [&](TFrameInputAdapter& sender) {
    ++closes;
    EXPECT_EQ(sender.FrameInfo(), nullptr) << "the record is gone with its buffers";
  };
  adapter.OnReadFrameCanvas = [&](TFrameInputAdapter& sender, Bitmap& canvas, PInputFrameInfo info) {
    if (!IsMainThread()) ++offMainThread;
    EXPECT_EQ(sender.FrameInfo(), info);
    seen.push_back(*info);
    if (info->FrameNumber > kFrames) return -1;
    DrawNumberedFrame(canvas, info->FrameNumber);
    return 0;
  };

  const std::string output = Folder / "drawn.nut";
  std::atomic<int> ends{0};
  {
    TCustomFFmpeg engine;
    engine.OnTerminate = [&ends](TCustomFFmpeg*) { ++ends; };
    ASSERT_GE(OpenInput(engine, adapter.InputName(), CanvasOptions()), 0) << engine.LastErrMsg;
    EXPECT_EQ(headers, 1);
    ASSERT_GE(OpenOutput(engine, output, "-c:v rawvideo"), 0) << engine.LastErrMsg;
    TConvertThread* worker = engine.Start(true);
    ASSERT_NE(worker, nullptr);
    worker->Resume();
    ASSERT_TRUE(WaitServing([&ends] { return ends.load() > 0; }, std::chrono::seconds(60)));
    EXPECT_FALSE(engine.Exception) << engine.ExceptionMsg;
  }
  EXPECT_EQ(closes, 1);
  EXPECT_EQ(offMainThread.load(), 0);

  ASSERT_EQ(seen.size(), static_cast<std::size_t>(kFrames + 1)) << "one call per frame and one that ends";
  const TInputFrameInfo& first = seen.front();
  EXPECT_EQ(first.Width, kWidth);
  EXPECT_EQ(first.Height, kHeight);
  EXPECT_EQ(first.BitsPerPixel, 24);
  EXPECT_EQ(first.Stride, 524);
  EXPECT_EQ(first.FrameSize, 524 * kHeight);
  EXPECT_EQ(first.PixelFormat, AV_PIX_FMT_BGR24);
  EXPECT_EQ(first.InputType, itCanvas);
  EXPECT_EQ(first.RateNum, 10);
  EXPECT_EQ(first.RateDen, 1);
  EXPECT_EQ(first.LastPTS, AV_NOPTS_VALUE);
  for (std::size_t i = 0; i < seen.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(seen[i].FrameNumber, static_cast<int>(i) + 1);
    EXPECT_EQ(seen[i].PTS, static_cast<std::int64_t>(i) * 100000);
    if (i > 0) {
      EXPECT_EQ(seen[i].LastPTS, seen[i - 1].PTS);
    }
  }

  TFFDecoder decoder;
  ASSERT_TRUE(decoder.LoadFile(output)) << decoder.LastErrorText;
  EXPECT_EQ(decoder.VideoStreamCount, 1);
  TVideoStreamInfo video;
  ASSERT_TRUE(decoder.GetVideoStreamInfo(decoder.FirstVideoStream, video));
  EXPECT_EQ(video.Width, kWidth);
  EXPECT_EQ(video.Height, kHeight);
  decoder.CloseFile();

  const std::vector<DecodedFrame> frames = DecodeVideo(output);
  ASSERT_EQ(frames.size(), static_cast<std::size_t>(kFrames));
  const int samples[][2] = {{0, 0}, {kWidth - 2, 0}, {kWidth - 1, 10}, {3, kHeight - 1}, {kWidth - 2, kHeight - 1}};
  for (int k = 0; k < kFrames; ++k) {
    SCOPED_TRACE(k);
    const DecodedFrame& f = frames[static_cast<std::size_t>(k)];
    ASSERT_EQ(f.Width, kWidth);
    ASSERT_EQ(f.Height, kHeight);
    ASSERT_EQ(f.Format, AV_PIX_FMT_BGR24);
    EXPECT_NEAR(f.Seconds, 0.1 * k, 1e-3);
    for (const auto& s : samples) EXPECT_EQ(f.At(s[0], s[1]), ExpectedPixel(k + 1, s[0], s[1])) << s[0] << "," << s[1];
  }
}

}  // namespace
}  // namespace lumivor
