// Reads a written media file to its end through the libraries, decoding every audio and video
// packet, for the tests that check what a file holds; each caller counts what it needs.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "media/runtime/ff_load.h"
#include "media/runtime/library_objects.h"

namespace lumivor::testing {

struct WholeFileVisit {
  std::function<void(const AVFormatContext&)> Opened;             // streams found, nothing read yet
  std::function<void(const AVStream&, const AVPacket&)> Packet;    // every packet, in file order
  std::function<void(const AVStream&)> Refused;                     // a packet its decoder refused
  std::function<void(const AVStream&, const AVFrame&)> Frame;      // every decoded frame
};

// False when the file cannot be opened or its streams cannot be found. Streams whose decoder is
// missing or cannot be opened are read but not decoded; the decoders are drained at the end.
inline bool DecodeWholeFile(const std::string& path, const WholeFileVisit& visit) {
  AVFormatContext* raw = nullptr;
  if (lib::avformat_open_input(&raw, path.c_str(), nullptr, nullptr) < 0) return false;
  InputFormatContextPtr input(raw);
  if (lib::avformat_find_stream_info(raw, nullptr) < 0) return false;
  if (visit.Opened) visit.Opened(*raw);
  std::vector<CodecContextPtr> decoders(raw->nb_streams);
  for (unsigned i = 0; i < raw->nb_streams; ++i) {
    const AVCodecParameters* par = raw->streams[i]->codecpar;
    const AVCodec* codec = lib::avcodec_find_decoder(par->codec_id);
    if (codec == nullptr || (par->codec_type != AVMEDIA_TYPE_VIDEO && par->codec_type != AVMEDIA_TYPE_AUDIO)) continue;
    decoders[i].reset(lib::avcodec_alloc_context3(codec));
    lib::avcodec_parameters_to_context(decoders[i].get(), par);
    decoders[i]->pkt_timebase = raw->streams[i]->time_base;
    if (lib::avcodec_open2(decoders[i].get(), codec, nullptr) < 0) decoders[i].reset();
  }
  PacketPtr packet(lib::av_packet_alloc());
  FramePtr frame(lib::av_frame_alloc());
  const auto drain = [&](unsigned index) {
    while (lib::avcodec_receive_frame(decoders[index].get(), frame.get()) >= 0) {
      if (visit.Frame) visit.Frame(*raw->streams[index], *frame);
      lib::av_frame_unref(frame.get());
    }
  };
  while (lib::av_read_frame(raw, packet.get()) >= 0) {
    const auto index = static_cast<unsigned>(packet->stream_index);
    if (visit.Packet) visit.Packet(*raw->streams[index], *packet);
    if (decoders[index]) {
      if (lib::avcodec_send_packet(decoders[index].get(), packet.get()) < 0 && visit.Refused)
        visit.Refused(*raw->streams[index]);
      drain(index);
    }
    lib::av_packet_unref(packet.get());
  }
  for (unsigned i = 0; i < decoders.size(); ++i) {
    if (!decoders[i]) continue;
    lib::avcodec_send_packet(decoders[i].get(), nullptr);
    drain(i);
  }
  return true;
}

}  // namespace lumivor::testing
