// The frame input: pictures drawn by handlers become a task's video input. Runs go through the
// engine as the encoder component drives it; single packets are read straight from the opened
// input to check their bytes and times.
#include "media/components/frame_input.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <future>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "decoded_video.h"
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

Bgr ColourAt(const testing::DecodedPicture& picture, int x, int y) {
  const std::uint8_t* p = picture.PixelAt(x, y);
  return {p[0], p[1], p[2]};
}

// The options the application opens its slideshow input with, at 10 frames a second.
std::string CanvasOptions() { return "-f frameinput -input_type canvas -pix_fmt bgr24 -r 10/1 -s 174x96"; }

class FrameInput : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(TFFLoader::Instance().Load(EncoderLibraries)) << TFFLoader::Instance().LastError();
    RegisterFrameInput();
    TFFLogger& logger = DefaultLogger();
    savedLevel_ = logger.LogLevel();
    savedTrigger_ = logger.TriggerEventInMainThread();
    // Lines are collected on whichever thread logs them.
    logger.SetTriggerEventInMainThread(false);
    logger.InstallLogCallback();
    logger.SetLogLevel(llInfo);
    logger.SetOnLog([this](const void*, int, TLogLevel level, const std::string& text) {
      std::lock_guard<std::mutex> lock(linesMutex_);
      lines_.push_back({level, text});
    });
  }
  void TearDown() override {
    TFFLogger& logger = DefaultLogger();
    logger.SetOnLog(nullptr);
    logger.SetLogLevel(savedLevel_);
    logger.ApplyLogLevel();
    logger.SetTriggerEventInMainThread(savedTrigger_);
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

  testing::ScratchFolder Folder;

 private:
  std::mutex linesMutex_;
  std::vector<std::pair<TLogLevel, std::string>> lines_;
  TLogLevel savedLevel_ = llInfo;
  bool savedTrigger_ = true;
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

  const std::vector<testing::DecodedPicture> frames = testing::DecodeVideoPictures(output);
  ASSERT_EQ(frames.size(), static_cast<std::size_t>(kFrames));
  const int samples[][2] = {{0, 0}, {kWidth - 2, 0}, {kWidth - 1, 10}, {3, kHeight - 1}, {kWidth - 2, kHeight - 1}};
  for (int k = 0; k < kFrames; ++k) {
    SCOPED_TRACE(k);
    const testing::DecodedPicture& f = frames[static_cast<std::size_t>(k)];
    ASSERT_EQ(f.Width, kWidth);
    ASSERT_EQ(f.Height, kHeight);
    ASSERT_EQ(f.Format, AV_PIX_FMT_BGR24);
    EXPECT_NEAR(f.Seconds, 0.1 * k, 1e-3);
    for (const auto& s : samples) EXPECT_EQ(ColourAt(f, s[0], s[1]), ExpectedPixel(k + 1, s[0], s[1])) << s[0] << "," << s[1];
  }
}

TEST_F(FrameInput, HeaderRefusesWhatItCannotRead) {
  TFrameInputAdapter adapter;
  std::string gone;
  {
    TFrameInputAdapter freed;
    gone = freed.InputName();
  }
  const std::string ok = adapter.InputName();
  struct Case {
    std::string Name;
    std::string Options;
    std::string Line;
  };
  // The logger folds a line that repeats the one before it into a count, and where the allocator
  // hands each case's format context the same address the lines are identical: cases with the
  // same text are kept apart so that each line is logged on its own.
  const Case cases[] = {
      {"0", "", "Invalid FrameInputAdapter"},
      {"slideshow", "",
       "Could not parse FrameInputAdapter: \"slideshow\", it should be address of FrameInputAdapter"},
      {gone, "", "Invalid FrameInputAdapter"},
      {ok + "x", "", "Could not parse FrameInputAdapter: \"" + ok + "x\""},
      {"-" + ok, "", "Invalid FrameInputAdapter"},
      {ok, "-input_type Canvas", "Invalid frame input type: \"Canvas\", it should be one of canvas/bmp/dc/yuv"},
      {ok, "-input_type dc -pix_fmt rgb24 -s 174x96",
       "Invalid pixel format for canvas/bmp/dc input, should be one of pal8/rgb555le/bgr24/bgra"},
      {ok, "-input_type canvas -pix_fmt bgr24 -framerate fast -s 174x96", "Could not parse framerate \"fast\"."},
      {ok, "-input_type canvas -pix_fmt bgr24 -r 0/1 -s 174x96", "Could not parse framerate \"0/1\"."},
      {ok, "-input_type canvas -pix_fmt bgr24 -s wide", "Couldn't parse video size."},
      {ok, "-input_type canvas -pix_fmt bgr24", "Invalid frame size"},
      {ok, "-input_type canvas -pix_fmt bgr24 -s 100000x100000", "Invalid frame size"},
      {ok, "-input_type canvas -pix_fmt bgr23 -s 174x96", "Unknown pixel format requested"},
      {ok, "-input_type canvas -s 174x96",
       "Invalid pixel format for canvas/bmp/dc input, should be one of pal8/rgb555le/bgr24/bgra"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name + " " + c.Options);
    TCustomFFmpeg engine;
    const int before = Logged(llError, c.Line);
    EXPECT_EQ(OpenInput(engine, c.Name, "-f frameinput " + c.Options), -22) << engine.LastErrMsg;
    EXPECT_EQ(Logged(llError, c.Line), before + 1) << AllLines();
    EXPECT_EQ(engine.InputFileCount(), 0);
  }
}

// One frame input opened by an engine whose packets the test reads itself.
class OpenedFrameInput {
 public:
  int Open(const std::string& name, const std::string& options) {
    OptionsContextScope scope(engine_);
    return engine_.OpenInputFile(scope.Context(), "-f frameinput " + options, name, "");
  }
  int Read(AVPacket* packet) {
    TInputFile& file = *engine_.InputFiles.at(0);
    return file.InProcessFormat->ReadPacket(file.Context.get(), packet);
  }
  AVStream* Stream() { return engine_.InputFiles.at(0)->Context->streams[0]; }
  void Close() {
    engine_.InputStreams.clear();
    engine_.InputFiles.clear();
  }

 private:
  TCustomFFmpeg engine_;
};

std::uint8_t RowByte(int frame, int y) { return static_cast<std::uint8_t>(y * 3 + frame); }

TEST_F(FrameInput, EachInputTypeHandsOverOneFrameTopRowFirst) {
  struct Case {
    const char* Options;
    TFrameInputType Type;
    AVPixelFormat PixelFormat;
    int BitsPerPixel;
    int Stride;
    int FrameSize;
  };
  const Case cases[] = {
      {"-input_type canvas -pix_fmt bgr24", itCanvas, AV_PIX_FMT_BGR24, 24, 524, 524 * kHeight},
      {"-input_type canvas -pix_fmt bgra", itCanvas, AV_PIX_FMT_BGRA, 32, 696, 696 * kHeight},
      {"-input_type canvas -pix_fmt rgb555le", itCanvas, AV_PIX_FMT_RGB555LE, 16, 348, 348 * kHeight},
      {"-input_type canvas -pix_fmt pal8", itCanvas, AV_PIX_FMT_PAL8, 8, 176, 176 * kHeight},
      {"-input_type dc -pix_fmt bgr24", itDC, AV_PIX_FMT_BGR24, 24, 524, 524 * kHeight},
      {"-input_type bmp -pix_fmt bgra", itBMP, AV_PIX_FMT_BGRA, 32, 696, 696 * kHeight},
      {"-input_type yuv -pix_fmt bgr24", itYUV, AV_PIX_FMT_BGR24, 0, 0, 522 * kHeight},
      {"", itYUV, AV_PIX_FMT_YUV420P, 0, 0, kWidth * kHeight * 3 / 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Options);
    TFrameInputAdapter adapter;
    adapter.TriggerEventInMainThread = false;
    std::vector<std::string> problems;
    // Bitmap kinds fill each row with its own byte, padding included; yuv fills its bytes in order.
    auto fillBitmap = [&](Bitmap& bitmap, PInputFrameInfo info) {
      if (info->Bitmap != &bitmap || info->Canvas != &bitmap || info->Bits != bitmap.Bits()) {
        problems.push_back("the record does not point at the bitmap handed over");
      }
      for (int y = 0; y < kHeight; ++y) std::memset(bitmap.ScanLine(y), RowByte(info->FrameNumber, y), info->Stride);
      return 0;
    };
    adapter.OnReadFrameCanvas = [&](TFrameInputAdapter&, Bitmap& canvas, PInputFrameInfo info) {
      return fillBitmap(canvas, info);
    };
    adapter.OnReadFrameDC = [&](TFrameInputAdapter&, Bitmap& dc, PInputFrameInfo info) { return fillBitmap(dc, info); };
    adapter.OnReadFrameBMP = [&](TFrameInputAdapter&, std::uint8_t* data, PInputFrameInfo info) {
      for (int y = 0; y < kHeight; ++y) {
        std::memset(data + (kHeight - 1 - y) * info->Stride, RowByte(info->FrameNumber, y), info->Stride);
      }
      return 0;
    };
    adapter.OnReadFrameYUV = [&](TFrameInputAdapter&, std::uint8_t* data, PInputFrameInfo info) {
      if (info->Packet == nullptr || info->Packet->data != data) problems.push_back("data is not the packet's");
      for (int i = 0; i < info->FrameSize; ++i) data[i] = static_cast<std::uint8_t>(i * 5 + info->FrameNumber);
      return 0;
    };

    OpenedFrameInput input;
    ASSERT_EQ(input.Open(adapter.InputName(), std::string(c.Options) + " -r 10 -s 174x96"), 0);
    const TInputFrameInfo& info = *adapter.FrameInfo();
    EXPECT_EQ(info.InputType, c.Type);
    EXPECT_EQ(info.PixelFormat, c.PixelFormat);
    EXPECT_EQ(info.BitsPerPixel, c.BitsPerPixel);
    EXPECT_EQ(info.Stride, c.Stride);
    EXPECT_EQ(info.FrameSize, c.FrameSize);
    const AVStream* stream = input.Stream();
    EXPECT_EQ(stream->time_base.num, 1);
    EXPECT_EQ(stream->time_base.den, 1000000);
    EXPECT_EQ(stream->codecpar->codec_id, AV_CODEC_ID_RAWVIDEO);
    EXPECT_EQ(stream->codecpar->format, c.PixelFormat);
    EXPECT_EQ(stream->codecpar->width, kWidth);
    EXPECT_EQ(stream->codecpar->height, kHeight);
    EXPECT_EQ(stream->codecpar->bit_rate, static_cast<std::int64_t>(c.FrameSize) * 8 * 10);
    EXPECT_EQ(stream->r_frame_rate.num, 10);
    EXPECT_EQ(stream->r_frame_rate.den, 1);

    for (int frame = 1; frame <= 2; ++frame) {
      SCOPED_TRACE(frame);
      PacketPtr packet(lib::av_packet_alloc());
      ASSERT_EQ(input.Read(packet.get()), c.FrameSize);
      ASSERT_EQ(packet->size, c.FrameSize);
      EXPECT_EQ(packet->stream_index, 0);
      EXPECT_EQ(packet->pts, (frame - 1) * 100000);
      EXPECT_EQ(packet->dts, packet->pts);
      EXPECT_EQ((packet->flags & AV_PKT_FLAG_KEY) != 0, c.Type != itYUV) << "bitmap pictures are key frames";
      int wrong = 0;
      for (int i = 0; i < c.FrameSize; ++i) {
        const std::uint8_t expected = c.Type == itYUV ? static_cast<std::uint8_t>(i * 5 + frame)
                                                      : RowByte(frame, i / c.Stride);
        wrong += packet->data[i] != expected;
      }
      EXPECT_EQ(wrong, 0) << "bytes of the packet that differ from the picture drawn";
    }
    EXPECT_TRUE(problems.empty()) << problems.front();
    input.Close();
    EXPECT_EQ(adapter.FrameInfo(), nullptr);
  }
}

TEST_F(FrameInput, DefaultsAreYuvAtTheNtscRate) {
  TFrameInputAdapter adapter;
  OpenedFrameInput input;
  ASSERT_EQ(input.Open(adapter.InputName(), "-s 174x96"), 0);
  const TInputFrameInfo& info = *adapter.FrameInfo();
  EXPECT_EQ(info.InputType, itYUV);
  EXPECT_EQ(info.PixelFormat, AV_PIX_FMT_YUV420P);
  EXPECT_EQ(info.RateNum, 30000);
  EXPECT_EQ(info.RateDen, 1001);
  EXPECT_EQ(info.FrameNumber, 1);
  EXPECT_EQ(info.LastPTS, AV_NOPTS_VALUE);

  // A second registration adds nothing.
  RegisterFrameInput();
  int named = 0;
  for (const InProcessInputFormat* format : InProcessInputFormats()) named += format->Name == "frameinput";
  EXPECT_EQ(named, 1);
}

TEST_F(FrameInput, WithoutAHandlerOrWithANegativeResultTheInputEnds) {
  struct Case {
    const char* Options;
    int HandlerResult;  // 0: no handler
    TLogLevel Level;
    const char* Line;
  };
  const Case cases[] = {
      {"-input_type canvas -pix_fmt bgr24", 0, llInfo, "reading frame (Canvas) return -1"},
      {"-input_type canvas -pix_fmt bgr24", -5, llInfo, "reading frame (Canvas) return -5"},
      {"-input_type dc -pix_fmt bgr24", 0, llInfo, "reading frame (DC) return -1"},
      {"-input_type bmp -pix_fmt bgr24", -3, llError, "reading frame (BMP) return -3"},
      {"-input_type yuv", 0, llInfo, "reading frame (YUV) return"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.Options) + " " + std::to_string(c.HandlerResult));
    TFrameInputAdapter adapter;
    adapter.TriggerEventInMainThread = false;
    if (c.HandlerResult != 0) {
      adapter.OnReadFrameCanvas = [&](TFrameInputAdapter&, Bitmap&, PInputFrameInfo) { return c.HandlerResult; };
      adapter.OnReadFrameBMP = [&](TFrameInputAdapter&, std::uint8_t*, PInputFrameInfo) { return c.HandlerResult; };
    }
    OpenedFrameInput input;
    ASSERT_EQ(input.Open(adapter.InputName(), std::string(c.Options) + " -s 174x96"), 0);
    const int before = Logged(c.Level, c.Line);
    PacketPtr packet(lib::av_packet_alloc());
    EXPECT_EQ(input.Read(packet.get()), AVERROR_EOF) << "whatever the handler gave, the input has ended";
    EXPECT_EQ(packet->data, nullptr) << "the packet's data is given back";
    EXPECT_EQ(Logged(c.Level, c.Line), before + 1) << AllLines();
  }
}

TEST_F(FrameInput, HandlerTimesMoveLaterFramesAndEarlierOnesAreRefused) {
  struct Step {
    std::int64_t Change;  // added to PTS by the handler; kEarlier sets it below LastPTS
    std::int64_t Pts;     // of the packet
  };
  constexpr std::int64_t kEarlier = INT64_MIN;
  constexpr std::int64_t kLast = INT64_MIN + 1;  // sets it to LastPTS
  constexpr std::int64_t kNever = INT64_MAX;     // sets a time no frame can follow
  struct Case {
    const char* Rate;
    std::vector<Step> Steps;
  };
  const Case cases[] = {
      {"10", {{0, 0}, {500000, 600000}, {0, 700000}, {kEarlier, 800000}, {kLast, 900000}, {0, 1000000}}},
      {"10", {{-1, -1}, {0, 99999}, {1, 200000}, {kNever, 300000}, {0, 400000}}},
      // Times round to the nearest microsecond, halves to even.
      {"400000", {{0, 0}, {0, 2}, {0, 5}, {0, 8}, {0, 10}}},
      {"ntsc", {{0, 0}, {0, 33367}, {0, 66733}, {0, 100100}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Rate);
    TFrameInputAdapter adapter;
    adapter.TriggerEventInMainThread = false;
    std::size_t step = 0;
    adapter.OnReadFrameCanvas = [&](TFrameInputAdapter&, Bitmap&, PInputFrameInfo info) {
      const std::int64_t change = c.Steps[step].Change;
      if (change == kEarlier) {
        info->PTS = info->LastPTS - 1;
      } else if (change == kLast) {
        info->PTS = info->LastPTS;
      } else if (change == kNever) {
        info->PTS = INT64_MAX;
      } else {
        info->PTS += change;
      }
      return 0;
    };
    OpenedFrameInput input;
    ASSERT_EQ(input.Open(adapter.InputName(), std::string("-input_type canvas -pix_fmt bgr24 -s 8x8 -r ") + c.Rate), 0);
    for (step = 0; step < c.Steps.size(); ++step) {
      SCOPED_TRACE(step);
      const std::int64_t lastPts = adapter.FrameInfo()->LastPTS;
      const int warnings = Logged(llWarning, "invalid pts");
      PacketPtr packet(lib::av_packet_alloc());
      ASSERT_GT(input.Read(packet.get()), 0);
      EXPECT_EQ(packet->pts, c.Steps[step].Pts);
      EXPECT_EQ(packet->dts, c.Steps[step].Pts);
      const std::int64_t change = c.Steps[step].Change;
      if (change == kEarlier || change == kLast || change == kNever) {
        const std::int64_t refused = change == kEarlier ? lastPts - 1 : change == kLast ? lastPts : INT64_MAX;
        EXPECT_EQ(Logged(llWarning, "invalid pts " + std::to_string(refused)), 1) << AllLines();
      } else {
        EXPECT_EQ(Logged(llWarning, "invalid pts"), warnings);
      }
      EXPECT_EQ(adapter.FrameInfo()->LastPTS, packet->pts);
      EXPECT_EQ(adapter.FrameInfo()->FrameNumber, static_cast<int>(step) + 2);
    }
  }
}

// An engine reading a canvas input into the null muxer, its end counted.
class NullRun {
 public:
  NullRun(TFrameInputAdapter& adapter, const std::string& nullPath,
          const std::string& outputOptions = "-f null -c:v rawvideo") {
    engine_.OnTerminate = [this](TCustomFFmpeg*) { ++Ends; };
    OptionsContextScope input(engine_);
    Opened = engine_.OpenInputFile(input.Context(), CanvasOptions(), adapter.InputName(), "") >= 0;
    OptionsContextScope output(engine_);
    Opened = Opened && engine_.OpenOutputFile(output.Context(), outputOptions, false, nullPath, "") >= 0;
  }
  void Start() {
    TConvertThread* worker = engine_.Start(true);
    if (worker != nullptr) worker->Resume();
  }
  bool WaitForEnd() {
    return WaitServing([this] { return Ends.load() > 0; }, std::chrono::seconds(60));
  }
  TCustomFFmpeg& Engine() { return engine_; }

  bool Opened = false;
  std::atomic<int> Ends{0};

 private:
  TCustomFFmpeg engine_;
};

TEST_F(FrameInput, MainThreadEventsRunWhileTheMainThreadWaitsForAStop) {
  TFrameInputAdapter adapter;
  std::atomic<int> frames{0};
  std::atomic<int> offMainThread{0};
  adapter.OnReadFrameCanvas = [&](TFrameInputAdapter&, Bitmap& canvas, PInputFrameInfo info) {
    if (!IsMainThread()) ++offMainThread;
    DrawNumberedFrame(canvas, info->FrameNumber);
    ++frames;
    return 0;  // never ends by itself
  };
  NullRun run(adapter, Folder / "null");
  ASSERT_TRUE(run.Opened) << run.Engine().LastErrMsg;
  run.Start();
  ASSERT_TRUE(WaitServing([&] { return frames.load() >= 20; }, std::chrono::seconds(60)));
  // The worker is in the middle of asking the main thread for frames: Stop must serve it.
  run.Engine().Stop(true);
  EXPECT_EQ(run.Ends.load(), 1);
  EXPECT_FALSE(run.Engine().Exception) << run.Engine().ExceptionMsg;
  EXPECT_EQ(offMainThread.load(), 0);
}

TEST_F(FrameInput, WithoutAHandlerATaskEndsAtOnce) {
  TFrameInputAdapter adapter;
  int closes = 0;
  adapter.OnReadClose = [&closes](TFrameInputAdapter&) { ++closes; };
  NullRun run(adapter, Folder / "null");
  ASSERT_TRUE(run.Opened) << run.Engine().LastErrMsg;
  run.Start();
  ASSERT_TRUE(run.WaitForEnd());
  EXPECT_FALSE(run.Engine().Exception) << run.Engine().ExceptionMsg;
  EXPECT_EQ(Logged(llInfo, "reading frame (Canvas) return -1"), 1);
  EXPECT_EQ(closes, 1);
}

// Every slideshow ends this way: an error line for it would be one per show, and with -xerror the
// show would fail.
TEST_F(FrameInput, AHandlerEndingThePicturesEndsTheRunWithoutAnError) {
  constexpr int kFrames = 5;
  struct Case {
    const char* Name;
    const char* OutputOptions;
    int HandlerEnd;
  };
  const Case cases[] = {
      {"the usual end", "-f null -c:v rawvideo", -1},
      {"exit on error", "-f null -c:v rawvideo -xerror", -1},
      {"an error code as the end", "-f null -c:v rawvideo -xerror", AVERROR(EIO)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    TFrameInputAdapter adapter;
    std::atomic<int> frames{0};
    adapter.OnReadFrameCanvas = [&](TFrameInputAdapter&, Bitmap& canvas, PInputFrameInfo info) {
      if (info->FrameNumber > kFrames) return c.HandlerEnd;
      DrawNumberedFrame(canvas, info->FrameNumber);
      ++frames;
      return 0;
    };
    const std::string endLine = "reading frame (Canvas) return " + std::to_string(c.HandlerEnd);
    const int endsBefore = Logged(llInfo, endLine);
    const int errorsBefore = Logged(llError, "");
    NullRun run(adapter, Folder / "null", c.OutputOptions);
    ASSERT_TRUE(run.Opened) << run.Engine().LastErrMsg;
    run.Start();
    ASSERT_TRUE(run.WaitForEnd());
    EXPECT_FALSE(run.Engine().Exception) << run.Engine().ExceptionMsg;
    EXPECT_TRUE(run.Engine().Finished.load());
    EXPECT_EQ(frames.load(), kFrames);
    EXPECT_EQ(Logged(llInfo, endLine), endsBefore + 1) << AllLines();
    EXPECT_EQ(Logged(llError, ""), errorsBefore) << AllLines();
  }
}

TEST_F(FrameInput, DirectEventsRunOnTheWorkerWithTheCanvasLocked) {
  TFrameInputAdapter adapter;
  adapter.TriggerEventInMainThread = false;
  std::atomic<int> onMainThread{0};
  std::atomic<int> unlocked{0};
  std::atomic<int> headers{0};
  adapter.OnReadHeader = [&](TFrameInputAdapter&) { ++headers; };
  adapter.OnReadFrameCanvas = [&](TFrameInputAdapter&, Bitmap& canvas, PInputFrameInfo info) {
    if (IsMainThread()) ++onMainThread;
    // Another thread must find the canvas locked for the whole call.
    const bool lockedForOthers = std::async(std::launch::async, [&canvas] {
                                   if (!canvas.Lock().try_lock()) return true;
                                   canvas.Lock().unlock();
                                   return false;
                                 }).get();
    if (!lockedForOthers) ++unlocked;
    // A drawing handler locks the canvas it draws on, as the slideshow's does; the adapter already
    // holds that lock on this thread, and the handler must still get through.
    std::scoped_lock drawing(canvas.Lock());
    return info->FrameNumber <= 5 ? 0 : -1;
  };
  NullRun run(adapter, Folder / "null");
  ASSERT_TRUE(run.Opened) << run.Engine().LastErrMsg;
  EXPECT_EQ(headers.load(), 1);
  run.Start();
  ASSERT_TRUE(run.WaitForEnd());
  EXPECT_TRUE(run.Engine().Finished.load());
  EXPECT_FALSE(run.Engine().Exception) << run.Engine().ExceptionMsg;
  EXPECT_EQ(onMainThread.load(), 0);
  EXPECT_EQ(unlocked.load(), 0) << "calls that found the canvas unlocked";
}

TEST_F(FrameInput, AThrowingHandlerFailsTheTaskWithItsText) {
  for (const bool mainThread : {true, false}) {
    SCOPED_TRACE(mainThread);
    TFrameInputAdapter adapter;
    adapter.TriggerEventInMainThread = mainThread;
    int closes = 0;
    adapter.OnReadClose = [&](TFrameInputAdapter&) { ++closes; };
    adapter.OnReadFrameCanvas = [&](TFrameInputAdapter&, Bitmap& canvas, PInputFrameInfo info) {
      if (info->FrameNumber == 4) throw std::runtime_error("Could not decode photo4.jpg");
      DrawNumberedFrame(canvas, info->FrameNumber);
      return 0;
    };
    NullRun run(adapter, Folder / "null");
    ASSERT_TRUE(run.Opened) << run.Engine().LastErrMsg;
    bool exception = false;
    std::string text;
    run.Engine().OnTerminate = [&](TCustomFFmpeg* engine) {
      exception = engine->Exception;
      text = engine->ExceptionMsg;
      ++run.Ends;
    };
    run.Start();
    ASSERT_TRUE(run.WaitForEnd());
    EXPECT_TRUE(exception);
    EXPECT_EQ(text, "Could not decode photo4.jpg");
    EXPECT_FALSE(run.Engine().Finished.load());
    EXPECT_EQ(closes, 1) << "the input is closed all the same";
  }
}

TEST_F(FrameInput, AnAdapterFreedWhileItsInputIsOpenIsNoLongerReached) {
  auto adapter = std::make_unique<TFrameInputAdapter>();
  adapter->TriggerEventInMainThread = false;
  int frames = 0;
  adapter->OnReadFrameCanvas = [&frames](TFrameInputAdapter&, Bitmap&, PInputFrameInfo) { return ++frames, 0; };
  OpenedFrameInput input;
  ASSERT_EQ(input.Open(adapter->InputName(), "-input_type canvas -pix_fmt bgr24 -s 174x96"), 0);
  PacketPtr packet(lib::av_packet_alloc());
  ASSERT_GT(input.Read(packet.get()), 0);
  lib::av_packet_unref(packet.get());

  adapter.reset();
  const int before = Logged(llError, "Invalid FrameInputAdapter");
  EXPECT_EQ(input.Read(packet.get()), -22);
  EXPECT_EQ(Logged(llError, "Invalid FrameInputAdapter"), before + 1);
  EXPECT_EQ(frames, 1);
  input.Close();  // the buffers go without an adapter to tell
}

TEST_F(FrameInput, AHandlerThatResizesTheCanvasEndsTheInputInsteadOfOverrunningIt) {
  TFrameInputAdapter adapter;
  adapter.TriggerEventInMainThread = false;
  adapter.OnReadFrameCanvas = [](TFrameInputAdapter&, Bitmap& canvas, PInputFrameInfo) {
    canvas.Resize(canvas.Width() / 2, canvas.Height(), 24);
    return 0;
  };
  OpenedFrameInput input;
  ASSERT_EQ(input.Open(adapter.InputName(), "-input_type canvas -pix_fmt bgr24 -s 174x96"), 0);
  PacketPtr packet(lib::av_packet_alloc());
  EXPECT_EQ(input.Read(packet.get()), -22);
  EXPECT_EQ(Logged(llError, "The frame bitmap was resized to 87x96, 24 bits, by the frame handler"), 1) << AllLines();
  EXPECT_EQ(packet->data, nullptr);
}

TEST_F(FrameInput, ThrowingHeaderAndCloseHandlersLeaveNothingBehind) {
  TFrameInputAdapter adapter;
  adapter.TriggerEventInMainThread = false;
  adapter.OnReadHeader = [](TFrameInputAdapter&) { throw std::runtime_error("no photos"); };
  {
    TCustomFFmpeg engine;
    // The open fails with the handler's exception, for the encoder component to report.
    EXPECT_THROW(OpenInput(engine, adapter.InputName(), CanvasOptions()), std::runtime_error);
    EXPECT_EQ(engine.InputFileCount(), 0);
    EXPECT_EQ(adapter.FrameInfo(), nullptr) << "the adapter keeps no record of an input that failed";
  }

  // Closing runs in destructors: a failing close handler is logged, and the input still closes.
  adapter.OnReadHeader = nullptr;
  adapter.OnReadClose = [](TFrameInputAdapter&) { throw std::runtime_error("close refused"); };
  OpenedFrameInput input;
  ASSERT_EQ(input.Open(adapter.InputName(), "-input_type canvas -pix_fmt bgr24 -s 174x96"), 0);
  EXPECT_NO_THROW(input.Close());
  EXPECT_EQ(Logged(llError, "close refused"), 1) << AllLines();
  EXPECT_EQ(adapter.FrameInfo(), nullptr);
}

TEST_F(FrameInput, PalettePicturesKeepTheirColours) {
  TFrameInputAdapter adapter;
  adapter.TriggerEventInMainThread = false;
  // Index 1 above the middle, index 2 below; index 1 changes colour from the third frame on.
  const PaletteEntry first{10, 20, 30, 0};
  const PaletteEntry changed{5, 250, 7, 0};
  const PaletteEntry below{200, 100, 50, 0};
  adapter.OnReadFrameCanvas = [&](TFrameInputAdapter&, Bitmap& canvas, PInputFrameInfo info) {
    if (info->FrameNumber > 4) return -1;
    canvas.Palette()[1] = info->FrameNumber >= 3 ? changed : first;
    canvas.Palette()[2] = below;
    for (int y = 0; y < kHeight; ++y) std::memset(canvas.ScanLine(y), y < kHeight / 2 ? 1 : 2, info->Stride);
    return 0;
  };
  const std::string output = Folder / "palette.nut";
  {
    TCustomFFmpeg engine;
    ASSERT_GE(OpenInput(engine, adapter.InputName(), "-f frameinput -input_type canvas -pix_fmt pal8 -r 10 -s 174x96"),
              0);
    ASSERT_GE(OpenOutput(engine, output, "-c:v rawvideo -pix_fmt bgr24"), 0) << engine.LastErrMsg;
    engine.Start(false);
    EXPECT_FALSE(engine.Exception) << engine.ExceptionMsg;
  }
  const std::vector<testing::DecodedPicture> frames = testing::DecodeVideoPictures(output);
  ASSERT_EQ(frames.size(), 4u);
  for (std::size_t k = 0; k < frames.size(); ++k) {
    SCOPED_TRACE(k);
    ASSERT_EQ(frames[k].Format, AV_PIX_FMT_BGR24);
    const PaletteEntry top = k >= 2 ? changed : first;
    EXPECT_EQ(ColourAt(frames[k], 7, 5), (Bgr{top.Blue, top.Green, top.Red}));
    EXPECT_EQ(ColourAt(frames[k], kWidth - 1, kHeight - 1), (Bgr{below.Blue, below.Green, below.Red}));
  }
}

}  // namespace
}  // namespace lumivor
