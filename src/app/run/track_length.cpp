#include "app/run/track_length.h"

#include "media/runtime/ff_load.h"
#include "media/runtime/library_objects.h"

namespace lumivor {
namespace {

bool libraries_ready() {
  TFFLoader& loader = TFFLoader::Instance();
  return loader.AllLoaded(DecoderLibraries) || loader.Load(DecoderLibraries);
}

// The sound's length by decoding it to the end: samples counted at the stream's rate. Packet
// times are not trusted here, since a file whose container has no length often has no reliable
// times either.
std::optional<std::int64_t> decoded_microseconds(AVFormatContext* format) {
  const int stream = lib::av_find_best_stream(format, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
  if (stream < 0) return std::nullopt;
  const AVCodecParameters* parameters = format->streams[stream]->codecpar;
  const AVCodec* codec = lib::avcodec_find_decoder(parameters->codec_id);
  if (codec == nullptr) return std::nullopt;
  CodecContextPtr decoder(lib::avcodec_alloc_context3(codec));
  if (!decoder || lib::avcodec_parameters_to_context(decoder.get(), parameters) < 0 ||
      lib::avcodec_open2(decoder.get(), codec, nullptr) < 0) {
    return std::nullopt;
  }
  PacketPtr packet(lib::av_packet_alloc());
  FramePtr frame(lib::av_frame_alloc());
  if (!packet || !frame) return std::nullopt;
  std::int64_t samples = 0;
  int rate = 0;
  const auto drain = [&] {
    while (lib::avcodec_receive_frame(decoder.get(), frame.get()) >= 0) {
      samples += frame->nb_samples;
      if (frame->sample_rate > 0) rate = frame->sample_rate;
      lib::av_frame_unref(frame.get());
    }
  };
  while (lib::av_read_frame(format, packet.get()) >= 0) {
    if (packet->stream_index == stream) {
      // A damaged packet is skipped, as a player would; the rest still counts.
      if (lib::avcodec_send_packet(decoder.get(), packet.get()) >= 0) drain();
    }
    lib::av_packet_unref(packet.get());
  }
  lib::avcodec_send_packet(decoder.get(), nullptr);
  drain();
  if (rate <= 0 || samples <= 0) return std::nullopt;
  return samples * 1000000 / rate;
}

}  // namespace

std::optional<std::int64_t> ReadTrackMicroseconds(const std::string& path) {
  if (path.empty() || !libraries_ready()) return std::nullopt;
  AVFormatContext* opened = nullptr;
  if (lib::avformat_open_input(&opened, path.c_str(), nullptr, nullptr) < 0) return std::nullopt;
  InputFormatContextPtr format(opened);
  if (lib::avformat_find_stream_info(format.get(), nullptr) < 0) return std::nullopt;
  bool playable = false;
  for (unsigned i = 0; i < format->nb_streams; ++i) {
    const AVMediaType type = format->streams[i]->codecpar->codec_type;
    playable = playable || type == AVMEDIA_TYPE_AUDIO || type == AVMEDIA_TYPE_VIDEO;
  }
  if (!playable) return std::nullopt;
  if (format->duration != AV_NOPTS_VALUE && format->duration > 0) {
    // The container's figure is in AV_TIME_BASE units, which are microseconds.
    return format->duration * 1000000 / AV_TIME_BASE;
  }
  return decoded_microseconds(format.get());
}

}  // namespace lumivor
