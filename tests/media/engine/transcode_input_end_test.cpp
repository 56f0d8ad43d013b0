// How the read loop takes the end of an in-process input: the end of the stream is a normal end,
// written and finished without an error line; any other failure of a read is logged as an error.
#include <gtest/gtest.h>

#include <string>

#include "media/engine/input_formats.h"
#include "transcode_test_support.h"

namespace lumivor {
namespace {

using testing_engine::TranscodeTest;

constexpr int kPictures = 10;
// What the format's read answers after the pictures; set by each case.
int g_endCode = AVERROR_EOF;

int ReadHeader(AVFormatContext* context) {
  AVStream* stream = lib::avformat_new_stream(context, nullptr);
  if (stream == nullptr) return AVERROR(ENOMEM);
  stream->codecpar->codec_type = AVMEDIA_TYPE_VIDEO;
  stream->codecpar->codec_id = AV_CODEC_ID_RAWVIDEO;
  stream->codecpar->format = AV_PIX_FMT_GRAY8;
  stream->codecpar->width = 16;
  stream->codecpar->height = 16;
  stream->time_base = AVRational{1, 25};
  stream->r_frame_rate = AVRational{25, 1};
  stream->avg_frame_rate = AVRational{25, 1};
  return 0;
}

int ReadPacket(AVFormatContext* context, AVPacket* packet) {
  // The stream's own record counts the pictures handed out.
  AVStream* stream = context->streams[0];
  if (stream->nb_frames >= kPictures) return g_endCode;
  const int made = lib::av_new_packet(packet, 16 * 16);
  if (made < 0) return made;
  for (int i = 0; i < 16 * 16; ++i) packet->data[i] = static_cast<std::uint8_t>(i + stream->nb_frames * 7);
  packet->pts = packet->dts = stream->nb_frames;
  packet->duration = 1;
  packet->flags |= AV_PKT_FLAG_KEY;
  packet->stream_index = 0;
  stream->nb_frames += 1;
  return 0;
}

const char kFormatName[] = "lumivor_input_end_test";

void RegisterFormat() {
  InProcessInputFormat format;
  format.Name = kFormatName;
  format.LongName = "Lumivor input end test";
  format.ReadHeader = &ReadHeader;
  format.ReadPacket = &ReadPacket;
  RegisterDemuxerOnce(format);
}

class TranscodeInputEnd : public TranscodeTest {};

TEST_F(TranscodeInputEnd, TheEndOfTheStreamIsNoErrorAndOtherFailuresAre) {
  RegisterFormat();
  struct Case {
    const char* Name;
    int EndCode;
    bool ErrorLogged;
  };
  const Case cases[] = {
      {"end of stream", AVERROR_EOF, false},
      {"input/output error", AVERROR(EIO), true},
      {"a handler's bare -1", -1, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    g_endCode = c.EndCode;
    Engine = std::make_unique<TCustomFFmpeg>();
    Engine->BuildOptionTable();
    Lines.clear();
    {
      OptionsContextScope scope(*Engine);
      ASSERT_GE(Engine->OpenInputFile(scope.Context(), std::string("-f ") + kFormatName, "pictures", std::string()), 0)
          << Engine->LastErrMsg;
    }
    const std::string output = PathOf(std::string("out-") + std::to_string(&c - cases) + ".mkv");
    ASSERT_GE(AddOutput(output, "-c:v mpeg4"), 0) << Engine->LastErrMsg;
    EXPECT_EQ(Run(), "");
    bool errorLine = false;
    for (const auto& line : Lines) {
      if (line.Level <= llError && line.Level != llQuiet) errorLine = true;
    }
    EXPECT_EQ(errorLine, c.ErrorLogged);
    // Whatever the reason, the pictures read before the end are all in the file.
    const testing_engine::FileFacts facts = testing_engine::ReadFileFacts(output);
    ASSERT_TRUE(facts.Opened);
    ASSERT_NE(facts.First(AVMEDIA_TYPE_VIDEO), nullptr);
    EXPECT_EQ(facts.First(AVMEDIA_TYPE_VIDEO)->Frames, kPictures);
  }
}

}  // namespace
}  // namespace lumivor
