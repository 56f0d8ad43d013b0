// Photos and tracks for the run tests, made here: sample pictures as BMP and JPEG files, and
// WAV tracks of a given length written by the components' media maker.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app/picture_file.h"
#include "app/picture_test_support.h"
#include "app/sample_pictures.h"
#include "media/components/media_maker.h"
#include "media/runtime/ff_load.h"
#include "media/runtime/library_objects.h"

namespace lumivor::testing {

// A photo file of the sample landscape; ".bmp" names get a BMP, others a JPEG.
inline void WritePhoto(const std::string& path, int width, int height) {
  const Bitmap picture = MakeSamplePicture(SamplePicture::Landscape, width, height);
  std::vector<std::uint8_t> bytes;
  if (path.size() > 4 && path.compare(path.size() - 4, 4, ".bmp") == 0) {
    std::string error;
    ASSERT_TRUE(EncodeBmp24(picture, bytes, error)) << error;
  } else {
    bytes = EncodeJpeg(picture);
  }
  ASSERT_TRUE(WriteWholeFile(path, bytes)) << path;
}

inline void WriteTrack(const std::string& path, double seconds) {
  MediaSpec spec;
  spec.Format = "wav";
  spec.Seconds = seconds;
  spec.Audio.SampleRate = 22050;
  std::string error;
  ASSERT_TRUE(WriteMediaFile(path, spec, error)) << error;
}

// What a written video holds, decoded to its end: every video frame counted, every packet the
// decoder refuses counted as an error, and where the sound ends.
struct DecodedVideo {
  bool Opened = false;
  int VideoFrames = 0;
  int Width = 0, Height = 0;
  int DecodeErrors = 0;
  bool HasAudio = false;
  double AudioEndSeconds = 0;
};

inline DecodedVideo DecodeVideoFile(const std::string& path) {
  DecodedVideo result;
  AVFormatContext* raw = nullptr;
  if (lib::avformat_open_input(&raw, path.c_str(), nullptr, nullptr) < 0) return result;
  InputFormatContextPtr input(raw);
  if (lib::avformat_find_stream_info(raw, nullptr) < 0) return result;
  result.Opened = true;
  std::vector<CodecContextPtr> decoders(raw->nb_streams);
  for (unsigned i = 0; i < raw->nb_streams; ++i) {
    const AVCodecParameters* par = raw->streams[i]->codecpar;
    if (par->codec_type == AVMEDIA_TYPE_AUDIO) result.HasAudio = true;
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
      if (raw->streams[index]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) {
        result.VideoFrames += 1;
        result.Width = frame->width;
        result.Height = frame->height;
      }
      lib::av_frame_unref(frame.get());
    }
  };
  while (lib::av_read_frame(raw, packet.get()) >= 0) {
    const auto index = static_cast<unsigned>(packet->stream_index);
    const AVStream* stream = raw->streams[index];
    if (stream->codecpar->codec_type == AVMEDIA_TYPE_AUDIO && packet->pts != AV_NOPTS_VALUE) {
      const double end = static_cast<double>(packet->pts + packet->duration) * av_q2d(stream->time_base);
      result.AudioEndSeconds = std::max(result.AudioEndSeconds, end);
    }
    if (decoders[index]) {
      if (lib::avcodec_send_packet(decoders[index].get(), packet.get()) < 0) result.DecodeErrors += 1;
      drain(index);
    }
    lib::av_packet_unref(packet.get());
  }
  for (unsigned i = 0; i < decoders.size(); ++i) {
    if (!decoders[i]) continue;
    lib::avcodec_send_packet(decoders[i].get(), nullptr);
    drain(i);
  }
  return result;
}

}  // namespace lumivor::testing
