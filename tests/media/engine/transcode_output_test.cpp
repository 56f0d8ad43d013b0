// The output side on its own: an output assembled by hand around one opened raw-video encoder,
// so that each frame's timing, each packet and each report is chosen by the test.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "transcode_test_support.h"

namespace lumivor {
namespace {

using testing_engine::TranscodeTest;

// The line is exactly these parts in order, with only blanks and digits between them (the
// right-aligned numbers) and nothing after the last.
bool HasParts(const std::string& line, std::initializer_list<const char*> parts) {
  std::size_t at = 0;
  bool first = true;
  for (const char* part : parts) {
    const std::size_t found = line.find(part, at);
    if (found == std::string::npos || (first && found != 0)) return false;
    for (std::size_t i = at; i < found; ++i) {
      const char ch = line[i];
      if (ch != ' ' && ch != '.' && (ch < '0' || ch > '9')) return false;
    }
    at = found + std::strlen(part);
    first = false;
  }
  return at == line.size();
}

class OutputSide : public TranscodeTest {
 protected:
  void SetUp() override {
    TranscodeTest::SetUp();
    if (HasFatalFailure()) return;
    DefaultLogger().SetLogLevel(llVerbose);
    Path = PathOf("out.nut");
    auto file = std::make_unique<TOutputFile>();
    AVFormatContext* oc = nullptr;
    ASSERT_GE(lib::avformat_alloc_output_context2(&oc, nullptr, "nut", Path.c_str()), 0);
    file->Context.reset(oc);
    ASSERT_GE(lib::avio_open(&oc->pb, Path.c_str(), AVIO_FLAG_WRITE), 0);

    auto ost = std::make_unique<TOutputStream>();
    ost->Stream = lib::avformat_new_stream(oc, nullptr);
    ASSERT_NE(ost->Stream, nullptr);
    ost->Encoder = lib::avcodec_find_encoder_by_name("rawvideo");
    ASSERT_NE(ost->Encoder, nullptr);
    ost->EncoderContext.reset(lib::avcodec_alloc_context3(ost->Encoder));
    AVCodecContext* enc = ost->EncoderContext.get();
    enc->width = 16;
    enc->height = 16;
    enc->pix_fmt = AV_PIX_FMT_GRAY8;
    enc->time_base = AVRational{1, 25};
    enc->framerate = AVRational{25, 1};
    ASSERT_GE(lib::avcodec_open2(enc, ost->Encoder, nullptr), 0);
    ost->EncoderOpened = 1;
    ost->EncodingNeeded = 1;
    ASSERT_GE(lib::avcodec_parameters_from_context(ost->Stream->codecpar, enc), 0);
    ost->Stream->time_base = enc->time_base;
    ASSERT_GE(lib::avformat_write_header(oc, nullptr), 0);

    Stream = ost.get();
    File = file.get();
    Engine->OutputStreams.push_back(std::move(ost));
    Engine->OutputFiles.push_back(std::move(file));
    Engine->FirstActiveOutput = 0;
    Engine->LastActiveOutput = 0;

    Frame.reset(lib::av_frame_alloc());
    Frame->format = AV_PIX_FMT_GRAY8;
    Frame->width = 16;
    Frame->height = 16;
    ASSERT_GE(lib::av_frame_get_buffer(Frame.get(), 0), 0);
  }

  // A source whose stream has a start time, so that a forced output rate of rate gives every
  // frame a duration term of 25 / rate encoder ticks.
  void SetDurationTerm(AVRational rate) {
    auto input = std::make_unique<TInputFile>();
    input->Context.reset(lib::avformat_alloc_context());
    AVStream* st = lib::avformat_new_stream(input->Context.get(), nullptr);
    st->start_time = 0;
    auto ist = std::make_unique<TInputStream>();
    ist->Stream = st;
    Stream->SyncInput = ist.get();
    Stream->FrameRate = rate;
    Engine->InputStreams.push_back(std::move(ist));
    Engine->InputFiles.push_back(std::move(input));
  }

  // A packet of the raw picture's size with the given timestamps.
  PacketPtr RawPacket(std::int64_t pts, std::int64_t dts) {
    PacketPtr packet(lib::av_packet_alloc());
    EXPECT_GE(lib::av_new_packet(packet.get(), 16 * 16), 0);
    packet->pts = pts;
    packet->dts = dts;
    packet->flags |= AV_PKT_FLAG_KEY;
    return packet;
  }

  std::string Path;
  TOutputFile* File = nullptr;
  TOutputStream* Stream = nullptr;
  FramePtr Frame;
};

TEST_F(OutputSide, VideoSyncDuplicatesAndDropsByHowLateTheFrameIs) {
  struct Case {
    const char* Name;
    int Method;
    AVRational ForcedRate;  // 0/0: no duration term
    std::int64_t SyncOpts;
    std::int64_t Pts;
    int Encoded;
    std::int64_t SyncOptsAfter;
    const char* Line;  // logged at llVerbose, or null
  };
  const Case cases[] = {
      // constant rate: 2 ticks late plus a 0.6 duration term is 2.6 frame durations
      {"cfr 2.6 late", 1, {125, 3}, 10, 12, 3, 13, "*** 2 dup!"},
      {"cfr on time", 1, {0, 0}, 10, 10, 1, 11, nullptr},
      {"cfr 1.2 early", 1, {125, 4}, 10, 8, 0, 10, "*** drop!"},
      {"cfr 1.0 early", 1, {0, 0}, 10, 9, 1, 11, nullptr},
      // variable rate: 0.5 late keeps the clock, 0.7 late moves it to the frame
      {"vfr 0.5 late", 2, {50, 3}, 10, 9, 1, 11, nullptr},
      {"vfr 0.7 late", 2, {250, 17}, 10, 9, 1, 10, nullptr},
      {"vfr 0.6 early", 2, {0, 0}, 10, 9, 0, 10, "*** drop!"},
  };
  // Each case starts further on, so that the muxer always sees later pictures.
  std::int64_t base = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    base += 100;
    Engine->VideoSyncMethod = c.Method;
    Engine->DupCount = 0;
    Engine->DropCount = 0;
    Stream->FrameNumber = 0;
    Stream->SyncOpts = base + c.SyncOpts;
    Stream->SyncInput = nullptr;
    Stream->FrameRate = AVRational{0, 0};
    if (c.ForcedRate.num != 0) SetDurationTerm(c.ForcedRate);
    Lines.clear();
    Frame->pts = base + c.Pts;

    Engine->VideoOut(*File, *Stream, Frame.get());

    EXPECT_EQ(Stream->FrameNumber, c.Encoded);
    EXPECT_EQ(Stream->SyncOpts, base + c.SyncOptsAfter);
    EXPECT_EQ(Engine->DupCount, c.Encoded > 1 ? c.Encoded - 1 : 0);
    EXPECT_EQ(Engine->DropCount, c.Encoded == 0 ? 1 : 0);
    if (c.Line != nullptr) {
      EXPECT_TRUE(Logged(llVerbose, c.Line)) << c.Line;
    }
  }
}

TEST_F(OutputSide, ADuplicationBeyondTheErrorThresholdIsSkippedAndCountedAsADrop) {
  Engine->VideoSyncMethod = 1;
  Frame->pts = 3240002;  // 3240002 frames from SyncOpts 0, above 108000 x 30
  Engine->VideoOut(*File, *Stream, Frame.get());
  EXPECT_EQ(Stream->FrameNumber, 0);
  EXPECT_EQ(Engine->DropCount, 1);
  EXPECT_EQ(Engine->DupCount, 0);
  EXPECT_TRUE(Logged(llError, "3240001 frame duplication too large, skipping"));
}

TEST_F(OutputSide, AStopDuringDuplicationEndsItBeforeTheNextCopy) {
  Engine->VideoSyncMethod = 1;
  int calls = 0;
  // The frame output hook sees each copy before it is encoded; the stop comes with the second.
  Engine->OnFrameOutputHook = [&](TCustomFFmpeg* sender, PicturePlanes*, std::int32_t, std::int32_t, std::int32_t,
                                  std::int32_t, std::int64_t) {
    if (++calls == 2) sender->StopRequested.store(true);
  };
  Frame->pts = 9;  // nine copies without the stop
  Engine->VideoOut(*File, *Stream, Frame.get());
  EXPECT_EQ(calls, 2);
  EXPECT_EQ(Stream->FrameNumber, 2);
  EXPECT_EQ(Engine->DupCount, 8);
}

TEST_F(OutputSide, PacketsWithEqualDtsReachTheMuxerStrictlyIncreasing) {
  for (int i = 0; i < 2; ++i) {
    PacketPtr packet = RawPacket(5, 5);
    Engine->WriteFrame(File->Context.get(), packet.get(), *Stream);
  }
  ASSERT_GE(lib::av_write_trailer(File->Context.get()), 0);
  File->CloseOutput();

  const testing_engine::FileFacts facts = testing_engine::ReadFileFacts(Path);
  ASSERT_TRUE(facts.Opened);
  ASSERT_EQ(facts.Streams.size(), 1u);
  EXPECT_EQ(facts.Streams[0].Dts, (std::vector<std::int64_t>{5, 6}));
}

TEST_F(OutputSide, TheFinalStatusLineShowsMillisecondsAndTheSummaryFollows) {
  Engine->VideoSyncMethod = 1;
  Frame->pts = 3;  // three pictures: ticks 0, 1 and 2
  Engine->VideoOut(*File, *Stream, Frame.get());
  Engine->FlushEncoders();
  Lines.clear();

  Engine->StatusReport(-1, true, 0, 0);

  const std::string line = Engine->LastStatusLine();
  // frame=    3 fps=0.0 q=0.0 Lsize=       1kB time=00:00:00.080 bitrate= 102.4kbits/s dup=2 drop=0
  EXPECT_TRUE(HasParts(line, {"frame=    3 fps=0.0 q=0.0 Lsize=", "kB time=00:00:00.080 bitrate=",
                              "kbits/s dup=2 drop=0"}))
      << line;
  EXPECT_TRUE(Logged(llInfo, line));
  EXPECT_TRUE(Logged(llInfo, "video:1kB audio:0kB subtitle:0 global headers:0kB muxing overhead "));
  EXPECT_FALSE(Logged(llWarning, "Output file is empty"));
}

TEST_F(OutputSide, AFinalLineWithNewDuplicatesIsLoggedOnce) {
  Engine->OnProgress = [](TCustomFFmpeg*, std::int32_t, const TProgressInfo&) {};
  Engine->VideoSyncMethod = 1;
  Frame->pts = 3;  // duplicated: the line is due for the change and for being final
  Engine->VideoOut(*File, *Stream, Frame.get());
  Lines.clear();

  Engine->StatusReport(-1, true, 0, 0);

  const std::string line = Engine->LastStatusLine();
  ASSERT_NE(line.find("dup=2"), std::string::npos) << line;
  const auto count = std::count_if(Lines.begin(), Lines.end(), [&line](const auto& logged) {
    return logged.Text.find(line) != std::string::npos;
  });
  EXPECT_EQ(count, 1);
}

TEST_F(OutputSide, AReportBeforeAnyPictureHasNoTimeAndNoBitrate) {
  Engine->StatusReport(-1, true, 0, 0);
  const std::string line = Engine->LastStatusLine();
  EXPECT_TRUE(HasParts(line, {"size=", "kB time=N/A bitrate=N/A"})) << line;
  EXPECT_TRUE(Logged(llInfo, "muxing overhead unknown"));
  EXPECT_TRUE(Logged(llWarning,
                     "Output file is empty, nothing was encoded (check -ss / -t / -frames parameters if used)"));
}

TEST_F(OutputSide, ProgressIsReportedOncePerIntervalAndTheLineOnlyWhenDupsOrDropsChange) {
  std::vector<TProgressInfo> reports;
  Engine->OnProgress = [&](TCustomFFmpeg*, std::int32_t, const TProgressInfo& info) { reports.push_back(info); };
  Engine->TotalDuration = 4000000;
  Engine->VideoSyncMethod = 1;
  Frame->pts = 0;
  Engine->VideoOut(*File, *Stream, Frame.get());
  Lines.clear();

  struct Step {
    std::int64_t Now;
    bool Final;
    std::size_t ReportsAfter;
  };
  const Step steps[] = {
      {1000000, false, 0},  // the first call only starts the clock
      {1400000, false, 0},  // within the interval
      {1600000, false, 1},
      {1700000, false, 1},
      {1800000, true, 2},  // the final report always comes
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.Now);
    Engine->StatusReport(0, step.Final, step.Now, 0);
    EXPECT_EQ(reports.size(), step.ReportsAfter);
  }
  ASSERT_EQ(reports.size(), 2u);
  EXPECT_EQ(reports[0].FileIndex, 0);
  EXPECT_EQ(reports[0].FrameNumber, 1);
  EXPECT_EQ(reports[0].TotalDuration, 4000000);
  EXPECT_EQ(reports[1].FileIndex, -1);
  // Only the final line is logged while a progress callback listens and nothing was dropped.
  int statusLines = 0;
  for (const auto& line : Lines) statusLines += line.Text.rfind("frame=", 0) == 0 ? 1 : 0;
  EXPECT_EQ(statusLines, 1);
}

}  // namespace
}  // namespace lumivor
