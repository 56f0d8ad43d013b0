// Bitmap subtitles laid over the pictures through a complex graph: the subtitle is drawn where and
// when it belongs, and pictures waiting for the subtitle input do not hold the run up.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "transcode_test_support.h"

namespace lumivor {
namespace {

using testing_engine::TranscodeTest;

constexpr int kWidth = 160;
constexpr int kHeight = 120;
constexpr int kFrames = 50;  // two seconds at 25 fps
constexpr int kRectX = 48;
constexpr int kRectY = 40;
constexpr int kRectW = 32;
constexpr int kRectH = 16;

// Black raw pictures and one white dvd subtitle shown from 0.6 s to 1.4 s, in Matroska.
bool WriteVideoWithSubtitle(const std::string& path, std::string& error) {
  AVFormatContext* raw = nullptr;
  if (lib::avformat_alloc_output_context2(&raw, nullptr, "matroska", path.c_str()) < 0) {
    error = "no muxer";
    return false;
  }
  OutputFormatContextPtr muxer(raw);

  const AVCodec* videoCodec = lib::avcodec_find_encoder(AV_CODEC_ID_RAWVIDEO);
  const AVCodec* subtitleCodec = lib::avcodec_find_encoder(AV_CODEC_ID_DVD_SUBTITLE);
  if (videoCodec == nullptr || subtitleCodec == nullptr) {
    error = "no encoder";
    return false;
  }
  CodecContextPtr video(lib::avcodec_alloc_context3(videoCodec));
  video->width = kWidth;
  video->height = kHeight;
  video->pix_fmt = AV_PIX_FMT_YUV420P;
  video->time_base = AVRational{1, 25};
  CodecContextPtr subtitle(lib::avcodec_alloc_context3(subtitleCodec));
  subtitle->width = kWidth;
  subtitle->height = kHeight;
  subtitle->time_base = AVRational{1, 1000};
  if (lib::avcodec_open2(video.get(), videoCodec, nullptr) < 0 ||
      lib::avcodec_open2(subtitle.get(), subtitleCodec, nullptr) < 0) {
    error = "cannot open the encoders";
    return false;
  }
  AVStream* videoStream = lib::avformat_new_stream(raw, nullptr);
  AVStream* subtitleStream = lib::avformat_new_stream(raw, nullptr);
  lib::avcodec_parameters_from_context(videoStream->codecpar, video.get());
  lib::avcodec_parameters_from_context(subtitleStream->codecpar, subtitle.get());
  videoStream->time_base = AVRational{1, 25};
  subtitleStream->time_base = AVRational{1, 1000};
  if (lib::avio_open(&raw->pb, path.c_str(), AVIO_FLAG_WRITE) < 0 || lib::avformat_write_header(raw, nullptr) < 0) {
    error = "cannot start the file";
    return false;
  }

  // The subtitle: palette entry 1 opaque white, the whole rectangle in it.
  std::vector<std::uint8_t> indices(static_cast<std::size_t>(kRectW * kRectH), 1);
  std::uint32_t palette[4] = {0x00000000u, 0xFFFFFFFFu, 0xFF000000u, 0xFF808080u};
  AVSubtitleRect rect{};
  rect.x = kRectX;
  rect.y = kRectY;
  rect.w = kRectW;
  rect.h = kRectH;
  rect.nb_colors = 4;
  rect.type = SUBTITLE_BITMAP;
  rect.data[0] = indices.data();
  rect.linesize[0] = kRectW;
  rect.data[1] = reinterpret_cast<std::uint8_t*>(palette);
  AVSubtitleRect* rects[1] = {&rect};
  AVSubtitle shown{};
  shown.format = 0;
  shown.start_display_time = 0;
  shown.end_display_time = 800;
  shown.num_rects = 1;
  shown.rects = rects;
  shown.pts = 600000;
  std::vector<std::uint8_t> buffer(1 << 16);
  const int size = lib::avcodec_encode_subtitle(subtitle.get(), buffer.data(), static_cast<int>(buffer.size()), &shown);
  if (size <= 0) {
    error = "cannot encode the subtitle";
    return false;
  }

  FramePtr frame(lib::av_frame_alloc());
  frame->format = AV_PIX_FMT_YUV420P;
  frame->width = kWidth;
  frame->height = kHeight;
  lib::av_frame_get_buffer(frame.get(), 32);
  PacketPtr packet(lib::av_packet_alloc());
  for (int i = 0; i < kFrames; ++i) {
    lib::av_frame_make_writable(frame.get());
    for (int plane = 0; plane < 3; ++plane) {
      const int rows = plane == 0 ? kHeight : kHeight / 2;
      const int columns = plane == 0 ? kWidth : kWidth / 2;
      for (int y = 0; y < rows; ++y) std::memset(frame->data[plane] + y * frame->linesize[plane], plane == 0 ? 16 : 128, columns);
    }
    frame->pts = i;
    if (lib::avcodec_send_frame(video.get(), frame.get()) < 0) return false;
    while (lib::avcodec_receive_packet(video.get(), packet.get()) == 0) {
      lib::av_packet_rescale_ts(packet.get(), video->time_base, videoStream->time_base);
      packet->stream_index = videoStream->index;
      if (lib::av_interleaved_write_frame(raw, packet.get()) < 0) return false;
    }
    if (i == 15) {  // 0.6 s
      PacketPtr sub(lib::av_packet_alloc());
      lib::av_new_packet(sub.get(), size);
      std::memcpy(sub->data, buffer.data(), static_cast<std::size_t>(size));
      sub->pts = sub->dts = 600;
      sub->duration = 800;
      sub->stream_index = subtitleStream->index;
      if (lib::av_interleaved_write_frame(raw, sub.get()) < 0) return false;
    }
  }
  lib::av_write_trailer(raw);
  lib::avio_closep(&raw->pb);
  return true;
}

// The luma of one pixel of each decoded picture of the file's first video stream.
std::vector<int> LumaAt(const std::string& path, int x, int y) {
  std::vector<int> values;
  AVFormatContext* raw = nullptr;
  if (lib::avformat_open_input(&raw, path.c_str(), nullptr, nullptr) < 0) return values;
  InputFormatContextPtr input(raw);
  if (lib::avformat_find_stream_info(raw, nullptr) < 0) return values;
  const int index = lib::av_find_best_stream(raw, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
  if (index < 0) return values;
  const AVCodec* codec = lib::avcodec_find_decoder(raw->streams[index]->codecpar->codec_id);
  CodecContextPtr decoder(lib::avcodec_alloc_context3(codec));
  lib::avcodec_parameters_to_context(decoder.get(), raw->streams[index]->codecpar);
  if (lib::avcodec_open2(decoder.get(), codec, nullptr) < 0) return values;
  PacketPtr packet(lib::av_packet_alloc());
  FramePtr frame(lib::av_frame_alloc());
  auto drain = [&] {
    while (lib::avcodec_receive_frame(decoder.get(), frame.get()) == 0) {
      values.push_back(frame->data[0][y * frame->linesize[0] + x]);
    }
  };
  while (lib::av_read_frame(raw, packet.get()) >= 0) {
    if (packet->stream_index == index && lib::avcodec_send_packet(decoder.get(), packet.get()) >= 0) drain();
    lib::av_packet_unref(packet.get());
  }
  lib::avcodec_send_packet(decoder.get(), nullptr);
  drain();
  return values;
}

class TranscodeSubtitle : public TranscodeTest {};

TEST_F(TranscodeSubtitle, ABitmapSubtitleIsDrawnOverThePicturesWhileItIsShown) {
  const std::string input = PathOf("with-subtitle.mkv");
  std::string error;
  ASSERT_TRUE(WriteVideoWithSubtitle(input, error)) << error;
  ASSERT_EQ(AddInput(input), 0) << Engine->LastErrMsg;
  const std::string output = PathOf("overlaid.mkv");
  ASSERT_EQ(AddOutput(output, "-filter_complex [0:v][0:s]overlay[out] -map [out] -c:v rawvideo -pix_fmt yuv420p"), 0)
      << Engine->LastErrMsg;

  const std::string failure = Run();
  ASSERT_EQ(failure, "");

  const std::vector<int> inside = LumaAt(output, kRectX + kRectW / 2, kRectY + kRectH / 2);
  const std::vector<int> outside = LumaAt(output, 8, 8);
  ASSERT_GE(inside.size(), static_cast<std::size_t>(kFrames - 1)) << "the pictures must not stay waiting for the subtitle";
  ASSERT_EQ(inside.size(), outside.size());
  EXPECT_LT(inside[5], 40) << "0.2 s: not shown yet";
  EXPECT_GT(inside[25], 200) << "1.0 s: shown in white";
  EXPECT_LT(outside[25], 40) << "only inside its rectangle";
  EXPECT_LT(inside[45], 40) << "1.8 s: taken away again";
}

}  // namespace
}  // namespace lumivor
