#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "ffmpeg_opt_test_engine.h"
#include "media/engine/error_text.h"
#include "media/engine/input_formats.h"
#include "media/runtime/library_objects.h"
#include "support/scratch_folder.h"

namespace lumivor {
namespace {

using testing_engine::EngineTest;

using testing::ScratchFolder;

void WriteBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::vector<std::uint8_t> ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// A small intra-only MPEG-4 clip in Matroska; its first frame is shown at firstFrame / fps
// seconds, and an attachment stream is added when attachment is not empty.
struct ClipSpec {
  int Fps = 10;
  int Frames = 10;
  std::int64_t FirstFrame = 0;
  std::vector<std::uint8_t> Attachment;
  std::string AttachmentName = "font.ttf";
  int VideoCopies = 1;
};

std::string WriteClip(const std::string& path, const ClipSpec& spec) {
  AVFormatContext* raw = nullptr;
  if (lib::avformat_alloc_output_context2(&raw, nullptr, "matroska", path.c_str()) < 0) return "no muxer";
  OutputFormatContextPtr oc(raw);
  const AVCodec* encoder = lib::avcodec_find_encoder_by_name("mpeg4");
  if (encoder == nullptr) return "no mpeg4 encoder";
  CodecContextPtr codec(lib::avcodec_alloc_context3(encoder));
  codec->width = 64;
  codec->height = 48;
  codec->pix_fmt = AV_PIX_FMT_YUV420P;
  codec->time_base = AVRational{1, spec.Fps};
  codec->framerate = AVRational{spec.Fps, 1};
  codec->gop_size = 1;  // every frame a key frame, so a seek lands exactly
  codec->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  if (lib::avcodec_open2(codec.get(), encoder, nullptr) < 0) return "encoder not opened";
  // Every copy of the video stream gets the same packets.
  std::vector<AVStream*> videos;
  for (int copy = 0; copy < spec.VideoCopies; ++copy) {
    AVStream* video = lib::avformat_new_stream(oc.get(), nullptr);
    lib::avcodec_parameters_from_context(video->codecpar, codec.get());
    video->time_base = codec->time_base;
    videos.push_back(video);
  }
  if (!spec.Attachment.empty()) {
    AVStream* attachment = lib::avformat_new_stream(oc.get(), nullptr);
    attachment->codecpar->codec_type = AVMEDIA_TYPE_ATTACHMENT;
    attachment->codecpar->codec_id = AV_CODEC_ID_TTF;
    const auto size = static_cast<int>(spec.Attachment.size());
    attachment->codecpar->extradata =
        static_cast<std::uint8_t*>(lib::av_mallocz(static_cast<std::size_t>(size) + AV_INPUT_BUFFER_PADDING_SIZE));
    std::copy(spec.Attachment.begin(), spec.Attachment.end(), attachment->codecpar->extradata);
    attachment->codecpar->extradata_size = size;
    lib::av_dict_set(&attachment->metadata, "filename", spec.AttachmentName.c_str(), 0);
  }
  if (lib::avio_open(&oc->pb, path.c_str(), AVIO_FLAG_WRITE) < 0) return "file not opened";
  OpenedIOContextPtr file(oc->pb);
  if (lib::avformat_write_header(oc.get(), nullptr) < 0) return "header not written";

  FramePtr frame(lib::av_frame_alloc());
  frame->format = codec->pix_fmt;
  frame->width = codec->width;
  frame->height = codec->height;
  if (lib::av_frame_get_buffer(frame.get(), 0) < 0) return "no frame buffer";
  PacketPtr packet(lib::av_packet_alloc());
  auto drain = [&]() {
    while (lib::avcodec_receive_packet(codec.get(), packet.get()) >= 0) {
      for (AVStream* video : videos) {
        PacketPtr copy(lib::av_packet_clone(packet.get()));
        lib::av_packet_rescale_ts(copy.get(), codec->time_base, video->time_base);
        copy->stream_index = video->index;
        lib::av_interleaved_write_frame(oc.get(), copy.get());
      }
      lib::av_packet_unref(packet.get());
    }
  };
  for (int i = 0; i < spec.Frames; ++i) {
    lib::av_frame_make_writable(frame.get());
    for (int plane = 0; plane < 3; ++plane) {
      const int rows = plane == 0 ? codec->height : codec->height / 2;
      for (int y = 0; y < rows; ++y) {
        std::fill_n(frame->data[plane] + y * frame->linesize[plane], frame->linesize[plane],
                    static_cast<std::uint8_t>((i * 7 + y + plane * 50) & 0xFF));
      }
    }
    frame->pts = spec.FirstFrame + i;
    if (lib::avcodec_send_frame(codec.get(), frame.get()) < 0) return "frame not encoded";
    drain();
  }
  lib::avcodec_send_frame(codec.get(), nullptr);
  drain();
  if (lib::av_write_trailer(oc.get()) < 0) return "trailer not written";
  oc->pb = nullptr;
  return std::string();
}

// A format that lives in this process: one video stream whose size comes from its "video_size"
// option, and a read close that counts.
struct TestInputPrivate {
  const AVClass* Class;
  int Width;
  int Height;
};

int g_headersRead = 0;
int g_inputsClosed = 0;
std::string g_lastUrl;

const AVOption kTestInputOptions[] = {
    {"video_size", "frame size", offsetof(TestInputPrivate, Width), AV_OPT_TYPE_IMAGE_SIZE, {.str = "16x8"}, 0, 0,
     AV_OPT_FLAG_DECODING_PARAM, nullptr},
    {nullptr, nullptr, 0, AV_OPT_TYPE_INT, {.i64 = 0}, 0, 0, 0, nullptr},
};

AVClass MakeTestInputClass() {
  AVClass avClass{};
  avClass.class_name = "lumivor test input";
  avClass.option = kTestInputOptions;
  avClass.version = LIBAVUTIL_VERSION_INT;
  return avClass;
}

const AVClass kTestInputClass = MakeTestInputClass();

int TestInputReadHeader(AVFormatContext* context) {
  ++g_headersRead;
  g_lastUrl = context->url;
  const auto* own = static_cast<const TestInputPrivate*>(context->priv_data);
  AVStream* stream = lib::avformat_new_stream(context, nullptr);
  if (stream == nullptr) return AVERROR(ENOMEM);
  stream->codecpar->codec_type = AVMEDIA_TYPE_VIDEO;
  stream->codecpar->codec_id = AV_CODEC_ID_RAWVIDEO;
  stream->codecpar->format = AV_PIX_FMT_BGR24;
  stream->codecpar->width = own->Width;
  stream->codecpar->height = own->Height;
  stream->time_base = AVRational{1, 25};
  stream->r_frame_rate = AVRational{25, 1};
  return 0;
}

int TestInputReadClose(AVFormatContext*) {
  ++g_inputsClosed;
  return 0;
}

const char kTestInputName[] = "lumivor_input_setup_test";

void RegisterTestInput() {
  InProcessInputFormat format;
  format.Name = kTestInputName;
  format.LongName = "Lumivor test input";
  format.PrivClass = &kTestInputClass;
  format.PrivDataSize = sizeof(TestInputPrivate);
  format.ReadHeader = &TestInputReadHeader;
  format.ReadClose = &TestInputReadClose;
  RegisterDemuxerOnce(format);
}

class InputSetup : public EngineTest {
 protected:
  int Open(const std::string& options, const std::string& fileName) {
    return Engine->OpenInputFile(Context, options, fileName, std::string());
  }
  // Each input is opened on a context of its own, as the encoder component does.
  void NextContext() {
    Engine->ReleaseOptionsContext(Context);
    Engine->InitOptionsContext(Context);
  }
  // A new engine for each case of a table.
  void NextEngine() {
    TearDown();
    Lines.clear();
    SetUp();
  }
  ScratchFolder Folder;
};

TEST_F(InputSetup, UnknownFormatIsRefusedBeforeTheFileIsLookedFor) {
  const std::string missing = Folder / ("not-there.mkv");
  EXPECT_EQ(Open("-f no_such_demuxer", missing), -22);
  EXPECT_EQ(Engine->LastErrMsg, "Unknown input format: \"no_such_demuxer\"");
  EXPECT_TRUE(Logged(llFatal, "Unknown input format: \"no_such_demuxer\""));
  EXPECT_EQ(Engine->InputFileCount(), 0);
}

TEST_F(InputSetup, MissingFileGivesTheNameAndTheErrorText) {
  const std::string missing = Folder / ("not-there.wav");
  EXPECT_EQ(Open("", missing), AVERROR(ENOENT));
  EXPECT_EQ(Engine->LastErrMsg, missing + ": " + ErrorText(AVERROR(ENOENT)));
  EXPECT_EQ(Engine->LastErrMsg, missing + ": No such file or directory");
  EXPECT_EQ(Engine->InputFileCount(), 0);
  EXPECT_EQ(Engine->InputStreamCount(), 0);
}

TEST_F(InputSetup, ProbingFailureClosesTheInputAndNamesTheFile) {
  // Bytes that the raw H.264 demuxer accepts as a stream but no decoder can make sense of.
  std::vector<std::uint8_t> noise(3000);
  std::mt19937 generator(7);
  for (auto& byte : noise) byte = static_cast<std::uint8_t>(generator() & 0xFF);
  const std::string path = Folder / ("noise.h264");
  WriteBytes(path, noise);

  int probed = 0;
  Engine->OnBeforeFindStreamInfo = [&probed](TCustomFFmpegOpt*, AVFormatContext* context) {
    probed += static_cast<int>(context->nb_streams);
  };
  const int result = Open("-f h264", path);
  EXPECT_LT(result, 0);
  EXPECT_EQ(probed, 1) << "the event sees the opened demuxer before probing";
  EXPECT_EQ(Engine->LastErrMsg, path + ": could not find codec parameters");
  EXPECT_TRUE(Logged(llFatal, path + ": could not find codec parameters"));
  EXPECT_EQ(Engine->InputFileCount(), 0);
  EXPECT_EQ(Engine->InputStreamCount(), 0);
}

TEST_F(InputSetup, StartTimeSeeksPastTheFilesOwnStartAndSetsTheOffset) {
  // 10 frames per second from 1.5 s to 14.5 s.
  ClipSpec spec;
  spec.Frames = 130;
  spec.FirstFrame = 15;
  const std::string path = Folder / ("late-start.mkv");
  ASSERT_EQ(WriteClip(path, spec), "");

  struct Case {
    const char* Global;  // engine-wide options given with the input
    const char* Options;
    std::int64_t TsOffset;
    bool Seeks;
  };
  const Case cases[] = {
      {"", "", -1500000, false},
      {"", "-ss 10", -11500000, true},
      {"", "-ss 10 -itsoffset 2", 2000000 - 11500000, true},
      {"-copyts", "-ss 10 -itsoffset 2", 2000000, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.Global) + " " + c.Options);
    NextEngine();
    const int index = Open(std::string(c.Global) + " " + c.Options, path);
    ASSERT_EQ(index, 0) << Engine->LastErrMsg;
    const TInputFile& file = *Engine->InputFiles[0];
    EXPECT_EQ(file.TsOffset, c.TsOffset);
    EXPECT_EQ(file.FirstStreamIndex, 0);
    EXPECT_EQ(file.StreamCount, 1);
    // The duration counts from 0, so it covers the file's own start as well.
    EXPECT_EQ(Engine->MaxInputDuration, file.Context->duration - (c.Seeks ? 10000000 : 0));

    // The streams stay discarded until an output uses one; read this one to see where it stands.
    AVStream* stream = file.Context->streams[0];
    EXPECT_EQ(stream->discard, AVDISCARD_ALL);
    EXPECT_EQ(Engine->InputStreams[0]->Discard, 1);
    stream->discard = AVDISCARD_DEFAULT;
    PacketPtr packet(lib::av_packet_alloc());
    ASSERT_GE(lib::av_read_frame(file.Context.get(), packet.get()), 0);
    const std::int64_t shownAt = lib::av_rescale_q(packet->pts, stream->time_base, AVRational{1, AV_TIME_BASE});
    EXPECT_EQ(shownAt, c.Seeks ? 11500000 : 1500000);
  }
}

TEST_F(InputSetup, InputStreamRecordsTakeTheirListsAndDecoders) {
  ClipSpec spec;
  const std::string path = Folder / ("clip.mkv");
  ASSERT_EQ(WriteClip(path, spec), "");
  ASSERT_EQ(Open("-itsscale 2 -r 30000/1001 -top 1 -tag:v XVID -reinit_filter 0", path), 0) << Engine->LastErrMsg;
  ASSERT_EQ(Engine->InputStreamCount(), 1);
  const TInputStream& ist = *Engine->InputStreams[0];
  EXPECT_EQ(ist.FileIndex, 0);
  EXPECT_DOUBLE_EQ(ist.TsScale, 2.0);
  EXPECT_EQ(ist.FrameRate.num, 30000);
  EXPECT_EQ(ist.FrameRate.den, 1001);
  EXPECT_EQ(ist.TopFieldFirst, 1);
  EXPECT_EQ(ist.ReinitFilters, 0);
  EXPECT_EQ(ist.Stream->codecpar->codec_tag, MKTAG('X', 'V', 'I', 'D'));
  ASSERT_NE(ist.Decoder, nullptr);
  EXPECT_EQ(ist.Decoder->id, AV_CODEC_ID_MPEG4);
  ASSERT_TRUE(ist.DecoderContext);
  EXPECT_EQ(ist.ResampleWidth, 64);
  EXPECT_EQ(ist.ResampleHeight, 48);
  EXPECT_EQ(ist.ResamplePixFmt, AV_PIX_FMT_YUV420P);
  EXPECT_EQ(ist.FilterInRescaleDeltaLast, AV_NOPTS_VALUE);
}

TEST_F(InputSetup, ForcedDecoderAndBadListValuesAreFatal) {
  ClipSpec spec;
  const std::string path = Folder / ("clip.mkv");
  ASSERT_EQ(WriteClip(path, spec), "");
  struct Case {
    const char* Options;
    std::string Fatal;  // empty: opens
  };
  const Case cases[] = {
      {"-c:v mpeg4", ""},
      {"-c:v no_such_codec", "Unknown decoder \"no_such_codec\""},
      {"-c:v mp3", "Invalid decoder type \"mp3\""},
      {"-r 0:bad", "Error parsing framerate 0:bad."},
      // Given empty is given: no silent fall-back to the stream's own decoder or rate.
      {"-c:v \"\"", "Unknown decoder \"\""},
      {"-r:v \"\"", "Error parsing framerate ."},
      {"-tag:v:x XVID", ErrorText("check_stream_specifier", AVERROR(EINVAL))},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Options);
    NextEngine();
    if (c.Fatal.empty()) {
      EXPECT_EQ(Open(c.Options, path), 0) << Engine->LastErrMsg;
      continue;
    }
    try {
      Open(c.Options, path);
      ADD_FAILURE() << "no fatal error";
    } catch (const FFmpegException& e) {
      EXPECT_EQ(std::string(e.what()), c.Fatal);
      EXPECT_EQ(Engine->LastErrMsg, c.Fatal);
    }
    // Nothing of a failed input stays behind.
    EXPECT_EQ(Engine->InputFileCount(), 0);
    EXPECT_EQ(Engine->InputStreamCount(), 0);
  }
}

TEST_F(InputSetup, StreamsOfAFailedInputAreTakenBackOut) {
  // The first stream's record is made before the second stream's frame rate fails.
  ClipSpec spec;
  spec.VideoCopies = 2;
  const std::string path = Folder / ("two-videos.mkv");
  ASSERT_EQ(WriteClip(path, spec), "");
  EXPECT_THROW(Open("-r:v:1 0:bad", path), FFmpegException);
  EXPECT_EQ(Engine->LastErrMsg, "Error parsing framerate 0:bad.");
  EXPECT_EQ(Engine->InputStreamCount(), 0) << "no record may point into the closed input";
  EXPECT_EQ(Engine->InputFileCount(), 0);

  NextContext();
  ASSERT_EQ(Open("", path), 0) << Engine->LastErrMsg;
  EXPECT_EQ(Engine->InputStreamCount(), 2);
}

TEST_F(InputSetup, FormatOptionTheDemuxerDoesNotTakeFailsInStrictModeOnly) {
  ClipSpec spec;
  const std::string path = Folder / ("clip.mkv");
  ASSERT_EQ(WriteClip(path, spec), "");
  try {
    Open("-s 320x240", path);
    ADD_FAILURE() << "no fatal error";
  } catch (const FFmpegException& e) {
    EXPECT_STREQ(e.what(), "Option video_size not found.");
  }
  EXPECT_EQ(Engine->InputFileCount(), 0);

  NextContext();
  Engine->StrictOptions = 0;
  EXPECT_EQ(Open("-s 320x240", path), 0);
  EXPECT_EQ(Engine->LastErrMsg, "Option video_size not found.");
}

TEST_F(InputSetup, InProcessFormatIsFoundByExactNameAndNeverProbed) {
  RegisterTestInput();
  const int headers = g_headersRead;
  const int closed = g_inputsClosed;
  int probeEvents = 0;
  Engine->OnBeforeFindStreamInfo = [&probeEvents](TCustomFFmpegOpt*, AVFormatContext*) { ++probeEvents; };

  // The name is no file: the library must not be asked to open it.
  ASSERT_EQ(Open(std::string("-f ") + kTestInputName + " -s 40x30 -ss 2", "123456"), 0) << Engine->LastErrMsg;
  EXPECT_EQ(g_headersRead, headers + 1);
  EXPECT_EQ(g_lastUrl, "123456");
  EXPECT_EQ(probeEvents, 1);
  const TInputFile& file = *Engine->InputFiles[0];
  EXPECT_NE(file.InProcessFormat, nullptr);
  AVStream* stream = file.Context->streams[0];
  EXPECT_EQ(stream->codecpar->width, 40) << "-s reaches the format's own video_size";
  EXPECT_EQ(stream->codecpar->height, 30);
  EXPECT_TRUE(Logged(llWarning, "123456: could not seek to position 2.000"));
  EXPECT_EQ(Engine->MaxInputDuration, -1) << "a header without a duration leaves it unknown";

  Engine->InputStreams.clear();
  Engine->InputFiles.clear();
  EXPECT_EQ(g_inputsClosed, closed + 1);

  NextContext();
  EXPECT_EQ(Open("-f LUMIVOR_INPUT_SETUP_TEST", "123456"), -22);
  EXPECT_EQ(Engine->LastErrMsg, "Unknown input format: \"LUMIVOR_INPUT_SETUP_TEST\"");
}

TEST_F(InputSetup, AttachmentIsDumpedOnlyWhereOverwritingIsAllowed) {
  ClipSpec spec;
  spec.Attachment = {'f', 'o', 'n', 't', 0, 1, 2, 3};
  const std::string clip = Folder / ("with-font.mkv");
  ASSERT_EQ(WriteClip(clip, spec), "");
  const std::vector<std::uint8_t> old = {'o', 'l', 'd'};

  struct Case {
    const char* Global;
    bool Exists;
    bool Written;
  };
  const Case cases[] = {
      {"", true, false},
      {"-y", true, true},
      {"-y -n", true, false},
      {"", false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.Global) + (c.Exists ? " existing" : " new"));
    NextEngine();
    const std::string target = Folder / ("dumped.ttf");
    std::filesystem::remove(target);
    if (c.Exists) WriteBytes(target, old);
    ASSERT_EQ(Open(std::string(c.Global) + " -dump_attachment:t " + target, clip), 0) << Engine->LastErrMsg;
    EXPECT_EQ(ReadBytes(target), c.Written ? spec.Attachment : old);
    const std::string warning = "File \"" + target + "\" already exists. Ignore.";
    EXPECT_EQ(Logged(llWarning, warning), !c.Written);
  }
}

TEST_F(InputSetup, AttachmentNameFallsBackToTheFilenameTag) {
  // The file index in the texts is that of the last input opened.
  testing_engine::AddMadeUpInput(*Engine, {{AVMEDIA_TYPE_ATTACHMENT, AV_CODEC_ID_TTF, 0}});
  AVStream* stream = Engine->InputFiles[0]->Context->streams[0];

  Engine->DumpAttachment(stream, "");
  EXPECT_TRUE(Logged(llWarning, "No extradata to dump in stream #0:0."));

  const std::vector<std::uint8_t> bytes = {9, 8, 7};
  stream->codecpar->extradata = static_cast<std::uint8_t*>(lib::av_mallocz(bytes.size() + AV_INPUT_BUFFER_PADDING_SIZE));
  std::copy(bytes.begin(), bytes.end(), stream->codecpar->extradata);
  stream->codecpar->extradata_size = static_cast<int>(bytes.size());
  try {
    Engine->DumpAttachment(stream, "");
    ADD_FAILURE() << "no fatal error";
  } catch (const FFmpegException& e) {
    EXPECT_STREQ(e.what(), "No filename specified and no \"filename\" tag in stream #0:0.");
  }

  const std::string tagged = Folder / ("tagged.ttf");
  lib::av_dict_set(&stream->metadata, "filename", tagged.c_str(), 0);
  Engine->DumpAttachment(stream, "");
  EXPECT_EQ(ReadBytes(tagged), bytes);

  // A folder that does not exist is only reported.
  Engine->DumpAttachment(stream, Folder / ("no-folder/x.ttf"));
  EXPECT_TRUE(Logged(llError, "Could not open file " + Folder / ("no-folder/x.ttf") + " for writing."));
}

TEST_F(InputSetup, OverwriteCheckLetsOtherProtocolsThrough) {
  const std::string existing = Folder / ("here.bin");
  WriteBytes(existing, {1});
  struct Case {
    std::string Name;
    bool MayWrite;
  };
  const Case cases[] = {
      {existing, false},
      {"file:" + existing, false},
      {Folder / ("absent.bin"), true},
      {"pipe:1", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    Engine->LastErrMsg.clear();
    EXPECT_EQ(Engine->CheckFileOverwrite(c.Name), c.MayWrite);
    EXPECT_EQ(Engine->LastErrMsg.empty(), c.MayWrite);
  }
}

TEST_F(InputSetup, ChannelLayoutIsGuessedUpToTheLimit) {
  auto file = std::make_unique<TInputFile>();
  file->Context.reset(lib::avformat_alloc_context());
  AVStream* stream = lib::avformat_new_stream(file->Context.get(), nullptr);
  stream->codecpar->codec_type = AVMEDIA_TYPE_AUDIO;

  struct Case {
    int Channels;
    int GuessLayoutMax;
    bool Known;
    const char* Layout;
  };
  const Case cases[] = {
      {2, kInt32Max, true, "stereo"},
      {6, kInt32Max, true, "5.1"},
      {6, 2, false, ""},
      {0, kInt32Max, false, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Channels);
    Lines.clear();
    TInputStream ist;
    ist.FileIndex = 3;
    ist.Stream = stream;
    ist.GuessLayoutMax = c.GuessLayoutMax;
    lib::av_channel_layout_uninit(&stream->codecpar->ch_layout);
    stream->codecpar->ch_layout.order = AV_CHANNEL_ORDER_UNSPEC;
    stream->codecpar->ch_layout.nb_channels = c.Channels;
    ist.DecoderContext.reset(lib::avcodec_alloc_context3(nullptr));
    lib::avcodec_parameters_to_context(ist.DecoderContext.get(), stream->codecpar);
    EXPECT_EQ(GuessInputChannelLayout(ist), c.Known);
    if (c.Known) {
      EXPECT_TRUE(Logged(llWarning, std::string("Guessed Channel Layout for  Input Stream #3.0 : ") + c.Layout));
      EXPECT_EQ(ist.DecoderContext->ch_layout.order, AV_CHANNEL_ORDER_NATIVE);
      EXPECT_EQ(stream->codecpar->ch_layout.order, AV_CHANNEL_ORDER_NATIVE);
      // A layout that is known now is accepted without a second guess.
      Lines.clear();
      EXPECT_TRUE(GuessInputChannelLayout(ist));
      EXPECT_TRUE(Lines.empty());
    } else {
      EXPECT_TRUE(Lines.empty());
    }
  }
}

}  // namespace
}  // namespace lumivor
