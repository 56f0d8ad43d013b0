// Whole transcodes through the engine on small generated files: what comes out (streams, frames,
// durations), the limits, stream copy, the setup refusals and failures, and a stop that still
// leaves a playable file.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <string>

#include "transcode_test_support.h"

namespace lumivor {
namespace {

using testing_engine::FileFacts;
using testing_engine::ReadFileFacts;
using testing_engine::StreamFacts;
using testing_engine::TranscodeTest;

class TranscodeRun : public TranscodeTest {
 protected:
  // Ten 160x120 mpeg4 pictures at 25 fps whose last five are stamped gap seconds later.
  void WriteGappedVideo(const std::string& path, const char* format, double gap) {
    const AVCodec* codec = lib::avcodec_find_encoder(AV_CODEC_ID_MPEG4);
    ASSERT_NE(codec, nullptr);
    CodecContextPtr enc(lib::avcodec_alloc_context3(codec));
    enc->width = 160;
    enc->height = 120;
    enc->pix_fmt = AV_PIX_FMT_YUV420P;
    enc->time_base = AVRational{1, 25};
    enc->framerate = AVRational{25, 1};
    AVFormatContext* raw = nullptr;
    ASSERT_GE(lib::avformat_alloc_output_context2(&raw, nullptr, format, path.c_str()), 0);
    OutputFormatContextPtr oc(raw);
    if ((raw->oformat->flags & AVFMT_GLOBALHEADER) != 0) enc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    ASSERT_GE(lib::avcodec_open2(enc.get(), codec, nullptr), 0);
    AVStream* st = lib::avformat_new_stream(raw, nullptr);
    ASSERT_GE(lib::avcodec_parameters_from_context(st->codecpar, enc.get()), 0);
    st->time_base = enc->time_base;
    ASSERT_GE(lib::avio_open(&raw->pb, path.c_str(), AVIO_FLAG_WRITE), 0);
    ASSERT_GE(lib::avformat_write_header(raw, nullptr), 0);
    FramePtr frame(lib::av_frame_alloc());
    frame->format = enc->pix_fmt;
    frame->width = enc->width;
    frame->height = enc->height;
    ASSERT_GE(lib::av_frame_get_buffer(frame.get(), 0), 0);
    PacketPtr packet(lib::av_packet_alloc());
    const std::int64_t shift = std::llround(gap * 25);
    auto write = [&] {
      while (lib::avcodec_receive_packet(enc.get(), packet.get()) >= 0) {
        if (packet->pts >= 5) {
          packet->pts += shift;
          packet->dts += shift;
        }
        lib::av_packet_rescale_ts(packet.get(), enc->time_base, st->time_base);
        packet->stream_index = 0;
        ASSERT_GE(lib::av_interleaved_write_frame(raw, packet.get()), 0);
      }
    };
    for (int i = 0; i < 10; ++i) {
      ASSERT_GE(lib::av_frame_make_writable(frame.get()), 0);
      for (int plane = 0; plane < 3; ++plane) {
        const int rows = plane == 0 ? frame->height : frame->height / 2;
        std::memset(frame->data[plane], 16 + 20 * i, static_cast<std::size_t>(frame->linesize[plane]) * rows);
      }
      frame->pts = i;
      ASSERT_GE(lib::avcodec_send_frame(enc.get(), frame.get()), 0);
      write();
    }
    ASSERT_GE(lib::avcodec_send_frame(enc.get(), nullptr), 0);
    write();
    ASSERT_GE(lib::av_write_trailer(raw), 0);
    lib::avio_closep(&raw->pb);
  }
};

TEST_F(TranscodeRun, AnElevenSecondJumpIsClosedOnlyInInputsWithDiscontinuousTimestamps) {
  struct Case {
    const char* Format;
    const char* File;
    double EndSeconds;  // of the copy
  };
  const Case cases[] = {
      {"mpegts", "gap.ts", 0.4},     // the jump is taken out of the input offset
      {"matroska", "gap.mkv", 11.4},  // far below the error threshold: passed on as it is
  };
  int index = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Format);
    Engine = std::make_unique<TCustomFFmpeg>();
    Engine->BuildOptionTable();
    const std::string input = PathOf(c.File);
    WriteGappedVideo(input, c.Format, 11.0);
    ASSERT_FALSE(HasFatalFailure());
    ASSERT_EQ(AddInput(input), 0) << Engine->LastErrMsg;
    const std::string output = PathOf("gap-copy" + std::to_string(index++) + ".mkv");
    ASSERT_EQ(AddOutput(output, "-c copy"), 0) << Engine->LastErrMsg;
    EXPECT_EQ(Run(), "");
    const FileFacts facts = ReadFileFacts(output);
    ASSERT_TRUE(facts.Opened);
    ASSERT_NE(facts.First(AVMEDIA_TYPE_VIDEO), nullptr);
    EXPECT_EQ(facts.First(AVMEDIA_TYPE_VIDEO)->Packets, 10);
    EXPECT_NEAR(facts.First(AVMEDIA_TYPE_VIDEO)->EndSeconds, c.EndSeconds, 0.05);
  }
}

TEST_F(TranscodeRun, EncodesVideoAndAudioIntoMp4) {
  const std::string input = MakeInput("in.mkv", 1.0);
  ASSERT_EQ(AddInput(input), 0) << Engine->LastErrMsg;
  const std::string output = PathOf("out.mp4");
  ASSERT_EQ(AddOutput(output, "-c:v mpeg4 -c:a aac"), 0) << Engine->LastErrMsg;

  EXPECT_EQ(Run(), "");
  EXPECT_TRUE(Engine->Finished.load());

  const FileFacts facts = ReadFileFacts(output);
  ASSERT_TRUE(facts.Opened);
  ASSERT_EQ(facts.Count(AVMEDIA_TYPE_VIDEO), 1);
  ASSERT_EQ(facts.Count(AVMEDIA_TYPE_AUDIO), 1);
  const StreamFacts& video = *facts.First(AVMEDIA_TYPE_VIDEO);
  const StreamFacts& audio = *facts.First(AVMEDIA_TYPE_AUDIO);
  EXPECT_EQ(video.Codec, "mpeg4");
  EXPECT_EQ(audio.Codec, "aac");
  EXPECT_EQ(video.Frames, 25);
  EXPECT_EQ(video.DecodeErrors, 0);
  EXPECT_NEAR(video.EndSeconds, 1.0, 0.05);
  EXPECT_NEAR(audio.EndSeconds, 1.0, 0.1);
  EXPECT_NEAR(static_cast<double>(audio.Samples) / 44100, 1.0, 0.1);
  EXPECT_TRUE(Logged(llInfo, "Stream mapping:"));
  EXPECT_TRUE(Logged(llInfo, "  Stream #0:0 -> #0:0 (mpeg4 -> mpeg4) (Video)"));
  EXPECT_TRUE(Logged(llInfo, "Lsize="));
}

TEST_F(TranscodeRun, CopiedStreamsKeepEveryPacket) {
  const std::string input = MakeInput("in.mkv", 1.0);
  const FileFacts source = ReadFileFacts(input);
  ASSERT_EQ(AddInput(input), 0) << Engine->LastErrMsg;
  const std::string output = PathOf("copy.mkv");
  ASSERT_EQ(AddOutput(output, "-c copy"), 0) << Engine->LastErrMsg;

  EXPECT_EQ(Run(), "");

  const FileFacts facts = ReadFileFacts(output);
  ASSERT_TRUE(facts.Opened);
  ASSERT_EQ(facts.Streams.size(), source.Streams.size());
  for (std::size_t i = 0; i < facts.Streams.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(facts.Streams[i].Codec, source.Streams[i].Codec);
    EXPECT_EQ(facts.Streams[i].Packets, source.Streams[i].Packets);
    EXPECT_EQ(facts.Streams[i].Frames, source.Streams[i].Frames);
  }
  EXPECT_TRUE(Logged(llInfo, "(copy)"));
}

TEST_F(TranscodeRun, TimeAndFrameLimits) {
  struct Case {
    const char* InputOptions;
    const char* OutputOptions;
    int Frames;
  };
  const Case cases[] = {
      {"", "-an -c:v mpeg4 -t 1", 25},
      {"", "-an -c:v mpeg4 -frames:v 10", 10},
      {"", "-an -c:v mpeg4 -ss 1.2", 20},
      {"", "-an -c copy -t 0.4", 10},
  };
  const std::string input = MakeInput("in.mkv", 2.0, true, false);
  int index = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.InputOptions) + " | " + c.OutputOptions);
    Engine = std::make_unique<TCustomFFmpeg>();
    Engine->BuildOptionTable();
    ASSERT_EQ(AddInput(input, c.InputOptions), 0) << Engine->LastErrMsg;
    const std::string output = PathOf("limit" + std::to_string(index++) + ".mkv");
    ASSERT_EQ(AddOutput(output, c.OutputOptions), 0) << Engine->LastErrMsg;
    EXPECT_EQ(Run(), "");
    const FileFacts facts = ReadFileFacts(output);
    ASSERT_TRUE(facts.Opened);
    ASSERT_NE(facts.First(AVMEDIA_TYPE_VIDEO), nullptr);
    EXPECT_EQ(facts.First(AVMEDIA_TYPE_VIDEO)->Frames, c.Frames);
  }
}

TEST_F(TranscodeRun, AVideoWithoutAnyRateIsEncodedAt25FramesPerSecond) {
  testing::MediaSpec spec;
  spec.Format = "matroska";
  spec.Seconds = 1.0;
  spec.HasAudio = false;
  spec.HasVideo = true;
  spec.Video.Width = 160;
  spec.Video.Height = 120;
  spec.Video.FrameRate = 10;
  std::string error;
  const std::string input = PathOf("in10.mkv");
  ASSERT_TRUE(testing::WriteMediaFile(input, spec, error)) << error;
  ASSERT_EQ(AddInput(input), 0) << Engine->LastErrMsg;
  // The stream forgets its rates, as a source without any frame-rate information would.
  AVStream* st = Engine->InputStreams[0]->Stream;
  st->r_frame_rate = AVRational{0, 1};
  st->avg_frame_rate = AVRational{0, 1};
  const std::string output = PathOf("out.mkv");
  ASSERT_EQ(AddOutput(output, "-c:v mpeg4"), 0) << Engine->LastErrMsg;

  ASSERT_EQ(Engine->TranscodeInit(), 0) << Engine->LastErrMsg;
  const AVCodecContext* enc = Engine->OutputStreams[0]->EncoderContext.get();
  EXPECT_EQ(enc->time_base.num, 1);
  EXPECT_EQ(enc->time_base.den, 25);
  Engine->CloseOpenedEncoders();
  Engine->CloseOpenedDecoders();
  Engine->Cleanup();
}

TEST_F(TranscodeRun, DeinterlacingRunsOnceAheadOfTheStreamsOwnFilters) {
  ASSERT_EQ(AddInput(MakeInput("in.mkv", 0.4, true, false)), 0) << Engine->LastErrMsg;
  Engine->DoDeinterlace = 1;
  ASSERT_EQ(AddOutput(PathOf("out.mkv"), "-c:v mpeg4 -vf hflip"), 0) << Engine->LastErrMsg;

  ASSERT_EQ(Engine->TranscodeInit(), 0) << Engine->LastErrMsg;
  ASSERT_EQ(Engine->FilterGraphCount(), 1);
  const AVFilterGraph* graph = Engine->FilterGraphs[0]->Graph.get();
  ASSERT_NE(graph, nullptr);
  int deinterlacers = 0;
  int flips = 0;
  for (unsigned i = 0; i < graph->nb_filters; ++i) {
    const char* name = graph->filters[i]->filter->name;
    if (std::strcmp(name, "yadif") == 0) ++deinterlacers;
    if (std::strcmp(name, "hflip") == 0) ++flips;
  }
  EXPECT_EQ(deinterlacers, 1) << "a picture deinterlaced twice loses detail for nothing";
  EXPECT_EQ(flips, 1);
  Engine->CloseOpenedEncoders();
  Engine->CloseOpenedDecoders();
  Engine->Cleanup();
}

TEST_F(TranscodeRun, AnEncoderThatCannotOpenEndsTheRunWithTheSetupCode) {
  ASSERT_EQ(AddInput(MakeInput("in.mkv", 0.4, true, false)), 0) << Engine->LastErrMsg;
  // MPEG-4 takes no time base finer than 1/65535.
  ASSERT_EQ(AddOutput(PathOf("out.avi"), "-c:v mpeg4 -r 100000"), 0) << Engine->LastErrMsg;

  const std::string failure = Run();
  EXPECT_EQ(failure.rfind("transcode_init() error", 0), 0u) << failure;
  EXPECT_NE(failure.find("Please check error log message(reported by FFLogger)"), std::string::npos) << failure;
  EXPECT_TRUE(Logged(llError, "Error while opening encoder for output stream #0:0 (Video) - maybe incorrect parameters"));
  EXPECT_FALSE(Engine->Finished.load());
}

TEST_F(TranscodeRun, ADecoderThatCannotOpenLeavesNoEncoderOpen) {
  ASSERT_EQ(AddInput(MakeInput("in.mkv", 0.4)), 0) << Engine->LastErrMsg;
  ASSERT_EQ(AddOutput(PathOf("out.mkv"), "-c:v mpeg4 -c:a mp2"), 0) << Engine->LastErrMsg;
  // The audio decoder refuses a thread count that is not one.
  lib::av_dict_set(DictionaryRef(Engine->InputStreams[1]->DecoderOptions), "threads", "many", 0);

  std::string failure;
  try {
    Engine->Transcode();
  } catch (const FFmpegException& e) {
    failure = e.what();
  }
  EXPECT_EQ(failure.rfind("transcode_init() error", 0), 0u) << failure;
  EXPECT_TRUE(Logged(llError, "Error while opening decoder for input stream #0:1"));
  EXPECT_EQ(Engine->OpenedEncoderCount(), 0);
  Engine->CloseOpenedDecoders();
  EXPECT_EQ(Engine->OpenedDecoderCount(), 0);
  Engine->Cleanup();
}

TEST_F(TranscodeRun, CopyIsRefusedWhereFramesAreNeeded) {
  struct Case {
    const char* Name;
    std::function<void(TCustomFFmpeg&)> Arrange;
    const char* Options;
    const char* Text;
  };
  const Case cases[] = {
      {"preview", [](TCustomFFmpeg& e) { e.PreviewFlags = kPreviewWindowFlag; }, "-an -c:v copy",
       "-vcodec copy and PostHooks are incompatible (frames are not decoded)"},
      {"volume", [](TCustomFFmpeg& e) { e.AudioVolume = 512; }, "-vn -c:a copy",
       "-acodec copy and -vol are incompatible (frames are not decoded)"},
      {"audio hook", [](TCustomFFmpeg& e) { e.OnAudioInputHook = [](auto...) {}; }, "-vn -c:a copy",
       "-acodec copy and AudioHook are incompatible (frames are not decoded)"},
  };
  const std::string input = MakeInput("in.mkv", 0.4);
  int index = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    Engine = std::make_unique<TCustomFFmpeg>();
    Engine->BuildOptionTable();
    ASSERT_EQ(AddInput(input), 0) << Engine->LastErrMsg;
    ASSERT_EQ(AddOutput(PathOf("refused" + std::to_string(index++) + ".mkv"), c.Options), 0) << Engine->LastErrMsg;
    c.Arrange(*Engine);
    EXPECT_EQ(Run(), c.Text);
  }
}

TEST_F(TranscodeRun, AFailedHeaderLeavesNoEmptyFile) {
  ASSERT_EQ(AddInput(MakeInput("in.mkv", 0.4)), 0) << Engine->LastErrMsg;
  // MP4 has no tag for raw PCM, which it only finds out when it writes the header.
  const std::string output = PathOf("out.mp4");
  ASSERT_EQ(AddOutput(output, "-c copy"), 0) << Engine->LastErrMsg;

  const std::string failure = Run();
  EXPECT_EQ(failure.rfind("transcode_init() error", 0), 0u) << failure;
  EXPECT_TRUE(Logged(llError, "Could not write header for output file #0 (incorrect codec parameters ?): "));
  EXPECT_EQ(testing_engine::FileSize(output), -1) << "the empty output is still on the disk";
}

TEST_F(TranscodeRun, TwoPassesShareTheDefaultStatisticsFile) {
  const std::string input = MakeInput("in.mkv", 0.4, true, false);
  // The statistics file goes to the working folder.
  char previous[4096] = {};
  ASSERT_NE(::getcwd(previous, sizeof previous), nullptr);
  ASSERT_EQ(::chdir(PathOf("").c_str()), 0);
  std::string failures[2];
  for (int pass = 1; pass <= 2; ++pass) {
    Engine = std::make_unique<TCustomFFmpeg>();
    Engine->BuildOptionTable();
    if (AddInput(input) != 0 ||
        AddOutput(PathOf("pass" + std::to_string(pass) + ".avi"), "-an -c:v mpeg4 -pass " + std::to_string(pass)) != 0) {
      failures[pass - 1] = Engine->LastErrMsg;
      break;
    }
    failures[pass - 1] = Run();
    if (pass == 1) {
      EXPECT_GT(testing_engine::FileSize(PathOf("ffencoder2pass-0.log")), 0);
    }
  }
  ASSERT_EQ(::chdir(previous), 0);
  EXPECT_EQ(failures[0], "");
  EXPECT_EQ(failures[1], "");
  const FileFacts facts = ReadFileFacts(PathOf("pass2.avi"));
  ASSERT_TRUE(facts.Opened);
  ASSERT_NE(facts.First(AVMEDIA_TYPE_VIDEO), nullptr);
  EXPECT_EQ(facts.First(AVMEDIA_TYPE_VIDEO)->Frames, 10);
}

TEST_F(TranscodeRun, JoinedInputsFollowEachOtherInOneFile) {
  const std::string first = MakeInput("first.mkv", 0.6, false, true);
  const std::string second = MakeInput("second.mkv", 0.4, false, true);
  ASSERT_EQ(AddInput(first), 0) << Engine->LastErrMsg;
  ASSERT_EQ(AddInput(second), 1) << Engine->LastErrMsg;
  const std::string output = PathOf("joined.mp3");
  {
    OptionsContextScope scope(*Engine);
    ASSERT_EQ(Engine->OpenOutputFile(scope.Context(), "-c:a libmp3lame", true, output, std::string()), 0)
        << Engine->LastErrMsg;
  }
  ASSERT_EQ(Engine->JoinMode, 1);

  EXPECT_EQ(Run(), "");

  const FileFacts facts = ReadFileFacts(output);
  ASSERT_TRUE(facts.Opened);
  ASSERT_EQ(facts.Streams.size(), 1u);
  const StreamFacts& audio = facts.Streams[0];
  EXPECT_EQ(audio.DecodeErrors, 0);
  // The second input's samples come after the first's: the file lasts as long as both, give or
  // take the padding of an MP3 encoder that is drained at the switch and opened again.
  EXPECT_NEAR(static_cast<double>(audio.Samples) / 44100, 1.0, 0.15);
  EXPECT_NEAR(audio.EndSeconds, 1.0, 0.15);
  for (std::size_t i = 1; i < audio.Dts.size(); ++i) EXPECT_GT(audio.Dts[i], audio.Dts[i - 1]) << i;
}

TEST_F(TranscodeRun, JoinedVideoKeepsThePresentationOrderOfReorderedPictures) {
  ASSERT_EQ(AddInput(MakeInput("first.mkv", 0.6, true, false)), 0) << Engine->LastErrMsg;
  ASSERT_EQ(AddInput(MakeInput("second.mkv", 0.6, true, false)), 1) << Engine->LastErrMsg;
  const std::string output = PathOf("joined.mkv");
  {
    OptionsContextScope scope(*Engine);
    ASSERT_EQ(Engine->OpenOutputFile(scope.Context(), "-c:v mpeg4 -bf 2", true, output, std::string()), 0)
        << Engine->LastErrMsg;
  }

  EXPECT_EQ(Run(), "");

  const FileFacts facts = ReadFileFacts(output);
  ASSERT_TRUE(facts.Opened);
  const StreamFacts* video = facts.First(AVMEDIA_TYPE_VIDEO);
  ASSERT_NE(video, nullptr);
  EXPECT_EQ(video->Frames, 30) << "dup " << Engine->DupCount << " drop " << Engine->DropCount;
  EXPECT_EQ(video->DecodeErrors, 0);
  // B-frames come after the pictures they lie between: in file order some presentation times
  // go back. Forcing them to grow would show the pictures in the wrong order.
  bool goesBack = false;
  for (std::size_t i = 1; i < video->Pts.size(); ++i) goesBack = goesBack || video->Pts[i] < video->Pts[i - 1];
  EXPECT_TRUE(goesBack);
  for (std::size_t i = 1; i < video->Dts.size(); ++i) EXPECT_GT(video->Dts[i], video->Dts[i - 1]) << i;
}

TEST_F(TranscodeRun, AStopDuringTheRunStillWritesThePlayableTrailer) {
  ASSERT_EQ(AddInput(MakeInput("in.mkv", 3.0)), 0) << Engine->LastErrMsg;
  const std::string output = PathOf("stopped.mp4");
  ASSERT_EQ(AddOutput(output, "-c:v mpeg4 -c:a aac"), 0) << Engine->LastErrMsg;
  Engine->ProgressInterval = 0;
  int reports = 0;
  // A report part-way through asks for the stop, from inside the run.
  Engine->OnProgress = [&](TCustomFFmpeg* sender, std::int32_t, const TProgressInfo& info) {
    if (info.FileIndex >= 0 && ++reports == 10) sender->StopRequested.store(true);
  };

  EXPECT_EQ(Run(), "");
  EXPECT_FALSE(Engine->Finished.load());

  const FileFacts facts = ReadFileFacts(output);
  ASSERT_TRUE(facts.Opened) << "no trailer: the stopped mp4 cannot be read";
  const StreamFacts* video = facts.First(AVMEDIA_TYPE_VIDEO);
  ASSERT_NE(video, nullptr);
  EXPECT_GT(video->Frames, 0);
  EXPECT_LT(video->Frames, 75);
  EXPECT_EQ(video->DecodeErrors, 0);
  EXPECT_EQ(video->Frames, video->Packets);
}

}  // namespace
}  // namespace lumivor
