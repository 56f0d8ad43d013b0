#include "decoded_video.h"

#include "media/runtime/ff_load.h"
#include "media/runtime/library_objects.h"

namespace lumivor::testing {
namespace {

void CopyBgrRows(const AVFrame& frame, DecodedPicture& picture) {
  for (int y = 0; y < frame.height; ++y) {
    const std::uint8_t* row = frame.data[0] + static_cast<std::ptrdiff_t>(y) * frame.linesize[0];
    picture.Bgr.insert(picture.Bgr.end(), row, row + 3 * frame.width);
  }
}

void ConvertToBgr(const AVFrame& frame, DecodedPicture& picture) {
  picture.Bgr.resize(static_cast<std::size_t>(frame.width) * frame.height * 3);
  SwsContextPtr converter(lib::sws_getContext(frame.width, frame.height, static_cast<AVPixelFormat>(frame.format),
                                              frame.width, frame.height, AV_PIX_FMT_BGR24, SWS_POINT, nullptr,
                                              nullptr, nullptr));
  if (!converter) return;
  std::uint8_t* planes[4] = {picture.Bgr.data(), nullptr, nullptr, nullptr};
  int strides[4] = {frame.width * 3, 0, 0, 0};
  lib::sws_scale(converter.get(), frame.data, frame.linesize, 0, frame.height, planes, strides);
}

}  // namespace

std::vector<DecodedPicture> DecodeVideoPictures(const std::string& path) {
  std::vector<DecodedPicture> pictures;
  AVFormatContext* raw = nullptr;
  if (lib::avformat_open_input(&raw, path.c_str(), nullptr, nullptr) < 0) return pictures;
  InputFormatContextPtr input(raw);
  if (lib::avformat_find_stream_info(raw, nullptr) < 0) return pictures;
  const int index = lib::av_find_best_stream(raw, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
  if (index < 0) return pictures;
  const AVStream* stream = raw->streams[index];
  const AVCodec* codec = lib::avcodec_find_decoder(stream->codecpar->codec_id);
  CodecContextPtr decoder(lib::avcodec_alloc_context3(codec));
  lib::avcodec_parameters_to_context(decoder.get(), stream->codecpar);
  decoder->pkt_timebase = stream->time_base;
  if (lib::avcodec_open2(decoder.get(), codec, nullptr) < 0) return pictures;
  PacketPtr packet(lib::av_packet_alloc());
  FramePtr frame(lib::av_frame_alloc());
  auto drain = [&] {
    while (lib::avcodec_receive_frame(decoder.get(), frame.get()) >= 0) {
      DecodedPicture& picture = pictures.emplace_back();
      picture.Width = frame->width;
      picture.Height = frame->height;
      picture.Format = frame->format;
      picture.Seconds = static_cast<double>(frame->best_effort_timestamp) * av_q2d(stream->time_base);
      if (frame->format == AV_PIX_FMT_BGR24) {
        CopyBgrRows(*frame, picture);
      } else {
        ConvertToBgr(*frame, picture);
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
  return pictures;
}

}  // namespace lumivor::testing
