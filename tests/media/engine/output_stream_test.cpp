#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "ffmpeg_opt_test_engine.h"
#include "media/runtime/library_objects.h"

namespace lumivor {
namespace {

using testing_engine::EngineTest;

// Output streams are created on a muxer context the test owns: setting up the output file around
// them is not part of what is tested here. Nothing is written, so the file name is only a name.
class OutputStreams : public EngineTest {
 protected:
  AVFormatContext* Muxer(const char* format, const char* fileName) {
    AVFormatContext* raw = nullptr;
    EXPECT_GE(lib::avformat_alloc_output_context2(&raw, nullptr, format, fileName), 0) << format;
    muxer_.reset(raw);
    return raw;
  }
  // The output's options, then a fresh muxer; each case of a table starts on a new engine.
  AVFormatContext* Prepare(const std::string& options, const char* format = "mpeg",
                           const char* fileName = "out.mpg") {
    TearDown();
    Lines.clear();
    SetUp();
    EXPECT_EQ(Parse(options), 0) << Engine->LastErrMsg;
    return Muxer(format, fileName);
  }
  // The fatal text of an operation, or "" when it returns.
  template <typename Operation>
  std::string FatalText(Operation operation) {
    try {
      operation();
    } catch (const FFmpegException& e) {
      EXPECT_EQ(Engine->LastErrMsg, e.what());
      return e.what();
    }
    return std::string();
  }

  OutputFormatContextPtr muxer_;
};

TEST_F(OutputStreams, EncoderIsTheNamedOneOrTheMuxersChoice) {
  const AVCodec* mp3 = lib::avcodec_find_encoder(AV_CODEC_ID_MP3);
  struct Case {
    const char* Options;
    AVMediaType Type;
    AVCodecID Codec;      // the stream's codec id afterwards
    const char* Encoder;  // null: none (copied)
  };
  const Case cases[] = {
      // The "mpeg" muxer stores MPEG-1 video and MPEG audio layer 2 unless told otherwise.
      {"", AVMEDIA_TYPE_VIDEO, AV_CODEC_ID_MPEG1VIDEO, "mpeg1video"},
      {"", AVMEDIA_TYPE_AUDIO, AV_CODEC_ID_MP2, "mp2"},
      {"-c:v mpeg2video", AVMEDIA_TYPE_VIDEO, AV_CODEC_ID_MPEG2VIDEO, "mpeg2video"},
      {"-vcodec mpeg4 -c:a ac3", AVMEDIA_TYPE_VIDEO, AV_CODEC_ID_MPEG4, "mpeg4"},
      {"-vcodec mpeg4 -c:a ac3", AVMEDIA_TYPE_AUDIO, AV_CODEC_ID_AC3, "ac3"},
      {"-c:a ac3 -c copy", AVMEDIA_TYPE_AUDIO, AV_CODEC_ID_NONE, nullptr},
      {"-c:v copy", AVMEDIA_TYPE_VIDEO, AV_CODEC_ID_NONE, nullptr},
      // A codec name that is no encoder's name finds the encoder through the codec descriptor.
      {"-c:a mp3", AVMEDIA_TYPE_AUDIO, AV_CODEC_ID_MP3, mp3 != nullptr ? mp3->name : nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.Options) + " / " + lib::av_get_media_type_string(c.Type));
    if (c.Codec == AV_CODEC_ID_MP3 && mp3 == nullptr) continue;
    AVFormatContext* oc = Prepare(c.Options);
    DefaultLogger().SetLogLevel(llVerbose);
    TOutputStream* ost = c.Type == AVMEDIA_TYPE_VIDEO ? Engine->NewVideoStream(Context, oc, -1)
                                                      : Engine->NewAudioStream(Context, oc, -1);
    ASSERT_NE(ost, nullptr);
    EXPECT_EQ(ost->Stream, oc->streams[0]);
    EXPECT_EQ(ost->Stream->codecpar->codec_type, c.Type);
    ASSERT_TRUE(ost->EncoderContext);
    EXPECT_EQ(ost->EncoderContext->codec_type, c.Type);
    if (c.Encoder == nullptr) {
      EXPECT_EQ(ost->StreamCopy, 1);
      EXPECT_EQ(ost->Encoder, nullptr);
      continue;
    }
    EXPECT_EQ(ost->StreamCopy, 0);
    ASSERT_NE(ost->Encoder, nullptr);
    EXPECT_STREQ(ost->Encoder->name, c.Encoder);
    EXPECT_EQ(ost->Stream->codecpar->codec_id, c.Codec);
    EXPECT_EQ(ost->EncoderContext->codec_id, c.Codec);
    if (c.Codec == AV_CODEC_ID_MP3) {
      EXPECT_TRUE(Logged(llVerbose, std::string("Matched encoder \"") + c.Encoder + "\" for codec \"mp3\"."));
    }
  }
}

TEST_F(OutputStreams, UnknownOrMistypedEncoderIsFatal) {
  struct Case {
    const char* Options;
    const char* Fatal;
  };
  const Case cases[] = {
      {"-c:v no_such_encoder", "Unknown encoder \"no_such_encoder\""},
      {"-c:v mp2", "Invalid encoder type \"mp2\""},
      {"-bsf:v dump_extra,no_such_filter", "Unknown bitstream filter \"no_such_filter\""},
      {"-r 1/0/0", "Invalid framerate value: 1/0/0"},
      {"-s big", "Invalid frame size: big."},
      {"-aspect 0:1", "Invalid aspect ratio: 0:1"},
      {"-aspect 16:x", "Invalid aspect ratio: 16:x"},
      {"-pix_fmt no_such_format", "Unknown pixel format requested: no_such_format."},
      {"-pix_fmt +no_such_format", "Unknown pixel format requested: no_such_format."},
      {"-intra_matrix 1,2,3", "Syntax error in matrix \"1,2,3\" at coeff 2"},
      {"-inter_matrix 8", "Syntax error in matrix \"8\" at coeff 0"},
      {"-rc_override 0,10", "error parsing rc_override"},
      {"-rc_override 0,10,5/20", "error parsing rc_override"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Options);
    AVFormatContext* oc = Prepare(c.Options);
    EXPECT_EQ(FatalText([&] { Engine->NewVideoStream(Context, oc, -1); }), c.Fatal);
  }
  AVFormatContext* oc = Prepare("-sample_fmt loud");
  EXPECT_EQ(FatalText([&] { Engine->NewAudioStream(Context, oc, -1); }), "Invalid sample format \"loud\"");
}

TEST_F(OutputStreams, QualityScaleSetsFixedQualityInLambdaUnits) {
  struct Case {
    const char* Options;
    bool Fixed;
    int GlobalQuality;
  };
  const Case cases[] = {
      {"", false, 0},
      {"-q:v 2.5", true, 295},
      {"-qscale 2.5", true, 295},
      {"-q:v 0", true, 0},
      {"-q:a 3", false, 0},  // for another stream type
      {"-q 31", true, 3658},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Options);
    AVFormatContext* oc = Prepare(c.Options);
    TOutputStream* ost = Engine->NewVideoStream(Context, oc, -1);
    EXPECT_EQ((ost->EncoderContext->flags & AV_CODEC_FLAG_QSCALE) != 0, c.Fixed);
    EXPECT_EQ(ost->EncoderContext->global_quality, c.GlobalQuality);
  }
}

TEST_F(OutputStreams, PlusBeforeThePixelFormatKeepsIt) {
  struct Case {
    const char* Options;
    int Keep;
    AVPixelFormat Format;
  };
  const Case cases[] = {
      {"", 0, AV_PIX_FMT_NONE},
      {"-pix_fmt yuv422p", 0, AV_PIX_FMT_YUV422P},
      {"-pix_fmt +yuv422p", 1, AV_PIX_FMT_YUV422P},
      {"-pix_fmt +", 1, AV_PIX_FMT_NONE},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Options);
    AVFormatContext* oc = Prepare(c.Options);
    TOutputStream* ost = Engine->NewVideoStream(Context, oc, -1);
    EXPECT_EQ(ost->KeepPixFmt, c.Keep);
    EXPECT_EQ(ost->EncoderContext->pix_fmt, c.Format);
  }
}

TEST_F(OutputStreams, DataStreamsCanOnlyBeCopied) {
  AVFormatContext* oc = Prepare("");
  EXPECT_EQ(FatalText([&] { Engine->NewDataStream(Context, oc, -1); }),
            "Data stream encoding not supported yet (only streamcopy)");

  for (const char* options : {"-c:d copy", "-dcodec copy", "-c copy"}) {
    SCOPED_TRACE(options);
    oc = Prepare(options);
    TOutputStream* ost = Engine->NewDataStream(Context, oc, -1);
    EXPECT_EQ(ost->StreamCopy, 1);
    EXPECT_EQ(ost->Stream->codecpar->codec_type, AVMEDIA_TYPE_DATA);
  }

  oc = Prepare("");
  EXPECT_EQ(Engine->NewAttachmentStream(Context, oc, -1)->StreamCopy, 1);
}

TEST_F(OutputStreams, VideoSettingsReachTheEncoderContext) {
  AVFormatContext* oc = Prepare(
      "-r 30000/1001 -s 320x240 -aspect 16:9 -pass 3 -passlogfile stats -force_key_frames 0,2 "
      "-rc_override 0,10,5/11,20,-50 -top 0 -vf hflip -frames:v 12 -tag:v XVID -streamid 0:33 -intra "
      "-dc 10 -psnr -bits_per_raw_sample 10",
      "matroska", "out.mkv");
  TOutputStream* ost = Engine->NewVideoStream(Context, oc, -1);
  const AVCodecContext* codec = ost->EncoderContext.get();
  EXPECT_EQ(ost->FrameRate.num, 30000);
  EXPECT_EQ(ost->FrameRate.den, 1001);
  EXPECT_EQ(codec->width, 320);
  EXPECT_EQ(codec->height, 240);
  EXPECT_FLOAT_EQ(ost->FrameAspectRatio, 16.0f / 9.0f);
  EXPECT_NE(codec->flags & AV_CODEC_FLAG_PASS1, 0);
  EXPECT_NE(codec->flags & AV_CODEC_FLAG_PASS2, 0);
  EXPECT_NE(codec->flags & AV_CODEC_FLAG_PSNR, 0);
  // Matroska keeps codec headers once, in the track header.
  EXPECT_NE(codec->flags & AV_CODEC_FLAG_GLOBAL_HEADER, 0);
  const AVDictionaryEntry* flags = lib::av_dict_get(ost->EncoderOptions.get(), "flags", nullptr, 0);
  ASSERT_NE(flags, nullptr);
  EXPECT_STREQ(flags->value, "+pass1+pass2");
  EXPECT_EQ(ost->LogFilePrefix, "stats");
  EXPECT_EQ(ost->ForcedKeyFrames, "0,2");
  ASSERT_EQ(codec->rc_override_count, 2);
  EXPECT_EQ(codec->rc_override[0].start_frame, 0);
  EXPECT_EQ(codec->rc_override[0].end_frame, 10);
  EXPECT_EQ(codec->rc_override[0].qscale, 5);
  EXPECT_FLOAT_EQ(codec->rc_override[0].quality_factor, 1.0f);
  EXPECT_EQ(codec->rc_override[1].qscale, 0);
  EXPECT_FLOAT_EQ(codec->rc_override[1].quality_factor, 0.5f);
  EXPECT_EQ(ost->TopFieldFirst, 0);
  EXPECT_EQ(ost->FilterSpec, "hflip");
  EXPECT_EQ(ost->MaxFrames, 12);
  EXPECT_EQ(ost->Stream->codecpar->codec_tag, MKTAG('X', 'V', 'I', 'D'));
  EXPECT_EQ(ost->Stream->id, 33);
  EXPECT_EQ(codec->gop_size, 0);
  EXPECT_EQ(codec->intra_dc_precision, 2);
  EXPECT_EQ(codec->bits_per_raw_sample, 10);
  EXPECT_EQ(ost->FileIndex, 0);
  EXPECT_EQ(ost->Index, 0);
  EXPECT_EQ(ost->SourceIndex, -1);
  EXPECT_EQ(ost->LastMuxPts, AV_NOPTS_VALUE);

  // Without a filter the stream's simple graph passes pictures through; a copied stream reads
  // nothing but its frame rate and key-frame switch.
  oc = Prepare("-c:v copy -s 320x240 -copyinkf -r 25");
  ost = Engine->NewVideoStream(Context, oc, -1);
  EXPECT_EQ(ost->EncoderContext->width, 0);
  EXPECT_EQ(ost->CopyInitialNonKeyframes, 1);
  EXPECT_EQ(ost->FrameRate.num, 25);
  oc = Prepare("");
  EXPECT_EQ(Engine->NewVideoStream(Context, oc, -1)->FilterSpec, "null");
  EXPECT_EQ(Engine->NewAudioStream(Context, oc, -1)->FilterSpec, "anull");
}

TEST_F(OutputStreams, MatricesHoldSixtyFourCoefficients) {
  std::string matrix;
  for (int i = 1; i <= 64; ++i) matrix += (i > 1 ? "," : "") + std::to_string(i);
  AVFormatContext* oc = Prepare("-intra_matrix " + matrix + " -inter_matrix " + matrix);
  const AVCodecContext* codec = Engine->NewVideoStream(Context, oc, -1)->EncoderContext.get();
  ASSERT_NE(codec->intra_matrix, nullptr);
  ASSERT_NE(codec->inter_matrix, nullptr);
  EXPECT_EQ(codec->intra_matrix[0], 1);
  EXPECT_EQ(codec->intra_matrix[63], 64);
  EXPECT_EQ(codec->inter_matrix[63], 64);
}

TEST_F(OutputStreams, AudioSettingsAndBitstreamFilters) {
  AVFormatContext* oc = Prepare("-ac 1 -ar 22050 -sample_fmt s16 -af volume=2 -bsf:a dump_extra,null");
  TOutputStream* ost = Engine->NewAudioStream(Context, oc, -1);
  const AVCodecContext* codec = ost->EncoderContext.get();
  EXPECT_EQ(codec->ch_layout.nb_channels, 1);
  EXPECT_EQ(codec->sample_rate, 22050);
  EXPECT_EQ(codec->sample_fmt, AV_SAMPLE_FMT_S16);
  EXPECT_EQ(ost->FilterSpec, "volume=2");
  ASSERT_EQ(ost->BitstreamFilters.size(), 2u);
  EXPECT_STREQ(ost->BitstreamFilters[0]->filter->name, "dump_extra");
  EXPECT_STREQ(ost->BitstreamFilters[1]->filter->name, "null");
}

TEST_F(OutputStreams, SourceStreamIsMarkedUsed) {
  TOptionsContext input;
  Engine->InitOptionsContext(input);
  ASSERT_EQ(Engine->OpenInputFile(input, "-f lavfi", "sine=frequency=440:sample_rate=8000:duration=1", ""), 0)
      << Engine->LastErrMsg;
  Engine->ReleaseOptionsContext(input);
  Engine->InitOptionsContext(Context);
  ASSERT_EQ(Parse("-map_channel -1 -map_channel 0.0.0 -map_channel 0.0.0:1.0"), 0) << Engine->LastErrMsg;
  AVFormatContext* oc = Muxer("mpeg", "out.mpg");

  TInputStream& source = *Engine->InputStreams[0];
  ASSERT_EQ(source.Discard, 1);
  TOutputStream* fed = Engine->NewAudioStream(Context, oc, 0);
  EXPECT_EQ(fed->SourceIndex, 0);
  EXPECT_EQ(fed->SyncInput, &source);
  EXPECT_EQ(source.Discard, 0);
  EXPECT_EQ(source.Stream->discard, AVDISCARD_DEFAULT);
  // The muted channel and the channel of input 0.0; the third map names another output file.
  ASSERT_EQ(fed->AudioChannelsMapped, 2);
  EXPECT_EQ(fed->AudioChannelsMap[0], -1);
  EXPECT_EQ(fed->AudioChannelsMap[1], 0);

  // A stream fed by a filter graph has no input stream: maps naming one do not apply to it.
  TOutputStream* unfed = Engine->NewAudioStream(Context, oc, -1);
  EXPECT_EQ(unfed->SyncInput, nullptr);
  ASSERT_EQ(unfed->AudioChannelsMapped, 1);
  EXPECT_EQ(unfed->AudioChannelsMap[0], -1);
}

TEST_F(OutputStreams, ChannelMapsBeyondThirtyTwoAreDropped) {
  std::string options;
  for (int i = 0; i < 34; ++i) options += "-map_channel -1 ";
  AVFormatContext* oc = Prepare(options);
  TOutputStream* ost = Engine->NewAudioStream(Context, oc, -1);
  EXPECT_EQ(ost->AudioChannelsMapped, 32);
  EXPECT_TRUE(Logged(llFatal, "Max channel mapping for output 0.0 reached"));
}

}  // namespace
}  // namespace lumivor
