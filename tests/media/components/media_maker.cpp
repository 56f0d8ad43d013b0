#include "media_maker.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <numbers>
#include <vector>

#include "media/engine/error_text.h"
#include "media/runtime/ff_load.h"
#include "media/runtime/library_objects.h"

namespace lumivor::testing {
namespace {

struct Encoded {
  AVStream* Stream = nullptr;
  CodecContextPtr Codec;
  std::int64_t NextPts = 0;
};

bool Fail(std::string& error, const std::string& text) {
  error = text;
  return false;
}

// A 440 Hz tone at half scale in whatever sample format the encoder takes.
void FillTone(AVFrame* frame, std::int64_t firstSample, int sampleRate) {
  const auto format = static_cast<AVSampleFormat>(frame->format);
  const int channels = frame->ch_layout.nb_channels;
  const bool planar = lib::av_sample_fmt_is_planar(format) != 0;
  for (int i = 0; i < frame->nb_samples; ++i) {
    const double value = 0.5 * std::sin(2 * std::numbers::pi * 440.0 * static_cast<double>(firstSample + i) / sampleRate);
    for (int c = 0; c < channels; ++c) {
      const int plane = planar ? c : 0;
      const int slot = planar ? i : i * channels + c;
      switch (format) {
        case AV_SAMPLE_FMT_S16:
        case AV_SAMPLE_FMT_S16P:
          reinterpret_cast<std::int16_t*>(frame->data[plane])[slot] = static_cast<std::int16_t>(value * 32767);
          break;
        case AV_SAMPLE_FMT_S32:
        case AV_SAMPLE_FMT_S32P:
          reinterpret_cast<std::int32_t*>(frame->data[plane])[slot] = static_cast<std::int32_t>(value * 2147483647.0);
          break;
        case AV_SAMPLE_FMT_FLT:
        case AV_SAMPLE_FMT_FLTP: reinterpret_cast<float*>(frame->data[plane])[slot] = static_cast<float>(value); break;
        default: break;
      }
    }
  }
}

void FillPicture(AVFrame* frame, std::int64_t index) {
  for (int y = 0; y < frame->height; ++y) {
    for (int x = 0; x < frame->width; ++x) {
      frame->data[0][y * frame->linesize[0] + x] = static_cast<std::uint8_t>(x + y + index * 3);
    }
  }
  for (int y = 0; y < frame->height / 2; ++y) {
    for (int x = 0; x < frame->width / 2; ++x) {
      frame->data[1][y * frame->linesize[1] + x] = static_cast<std::uint8_t>(128 + y);
      frame->data[2][y * frame->linesize[2] + x] = static_cast<std::uint8_t>(64 + x);
    }
  }
}

int Drain(AVFormatContext* output, Encoded& track, AVPacket* packet) {
  for (;;) {
    const int received = lib::avcodec_receive_packet(track.Codec.get(), packet);
    if (received == AVERROR(EAGAIN) || received == AVERROR_EOF) return 0;
    if (received < 0) return received;
    lib::av_packet_rescale_ts(packet, track.Codec->time_base, track.Stream->time_base);
    packet->stream_index = track.Stream->index;
    const int written = lib::av_interleaved_write_frame(output, packet);
    if (written < 0) return written;
  }
}

void SetTags(AVDictionary** target, const std::map<std::string, std::string>& tags) {
  for (const auto& [key, value] : tags) lib::av_dict_set(target, key.c_str(), value.c_str(), 0);
}

}  // namespace

bool WriteMediaFile(const std::string& path, const MediaSpec& spec, std::string& error) {
  TFFLoader& loader = TFFLoader::Instance();
  if (!loader.AllLoaded(AllLibraries) && !loader.Load(AllLibraries)) return Fail(error, loader.LastError());

  AVFormatContext* rawOutput = nullptr;
  int result = lib::avformat_alloc_output_context2(&rawOutput, nullptr, spec.Format.c_str(), path.c_str());
  if (result < 0) return Fail(error, ErrorText("alloc output " + spec.Format, result));
  OutputFormatContextPtr output(rawOutput);
  SetTags(&output->metadata, spec.FileTags);

  Encoded audio;
  Encoded video;
  auto open = [&](Encoded& track, const std::string& codecName, auto configure) -> bool {
    const AVCodec* codec = lib::avcodec_find_encoder_by_name(codecName.c_str());
    if (codec == nullptr) return Fail(error, "no encoder " + codecName);
    track.Stream = lib::avformat_new_stream(output.get(), nullptr);
    track.Codec.reset(lib::avcodec_alloc_context3(codec));
    if (track.Stream == nullptr || !track.Codec) return Fail(error, "out of memory");
    configure(*track.Codec, codec);
    if ((output->oformat->flags & AVFMT_GLOBALHEADER) != 0) track.Codec->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    const int opened = lib::avcodec_open2(track.Codec.get(), codec, nullptr);
    if (opened < 0) return Fail(error, ErrorText("open " + codecName, opened));
    lib::avcodec_parameters_from_context(track.Stream->codecpar, track.Codec.get());
    track.Stream->sample_aspect_ratio = track.Codec->sample_aspect_ratio;
    track.Stream->time_base = track.Codec->time_base;
    return true;
  };

  if (spec.HasVideo) {
    const bool ok = open(video, spec.Video.Codec, [&](AVCodecContext& c, const AVCodec*) {
      c.width = spec.Video.Width;
      c.height = spec.Video.Height;
      c.pix_fmt = AV_PIX_FMT_YUV420P;
      c.time_base = AVRational{1, spec.Video.FrameRate};
      c.framerate = AVRational{spec.Video.FrameRate, 1};
      c.gop_size = 12;
      if (spec.Video.SampleAspectNum != 0) {
        c.sample_aspect_ratio = AVRational{spec.Video.SampleAspectNum, spec.Video.SampleAspectDen};
      }
    });
    if (!ok) return false;
  }
  if (spec.HasAudio) {
    const bool ok = open(audio, spec.Audio.Codec, [&](AVCodecContext& c, const AVCodec* codec) {
      c.sample_rate = spec.Audio.SampleRate;
      lib::av_channel_layout_default(&c.ch_layout, spec.Audio.Channels);
      c.sample_fmt = codec->sample_fmts != nullptr ? codec->sample_fmts[0] : AV_SAMPLE_FMT_S16;
      c.time_base = AVRational{1, spec.Audio.SampleRate};
      if (spec.Audio.BitRate > 0) c.bit_rate = spec.Audio.BitRate;
    });
    if (!ok) return false;
    SetTags(&audio.Stream->metadata, spec.AudioTags);
    audio.Stream->disposition = spec.AudioDisposition;
  }

  if ((output->oformat->flags & AVFMT_NOFILE) == 0) {
    result = lib::avio_open(&output->pb, path.c_str(), AVIO_FLAG_WRITE);
    if (result < 0) return Fail(error, ErrorText(path, result));
  }
  result = lib::avformat_write_header(output.get(), nullptr);
  if (result < 0) {
    lib::avio_closep(&output->pb);
    return Fail(error, ErrorText("write header", result));
  }

  PacketPtr packet(lib::av_packet_alloc());
  FramePtr frame(lib::av_frame_alloc());
  const double seconds = spec.Seconds;
  bool audioDone = !spec.HasAudio;
  bool videoDone = !spec.HasVideo;
  while (result >= 0 && (!audioDone || !videoDone)) {
    // Interleave by time: the track that is behind gets the next frame.
    const double audioTime = audioDone ? 1e9 : static_cast<double>(audio.NextPts) / spec.Audio.SampleRate;
    const double videoTime = videoDone ? 1e9 : static_cast<double>(video.NextPts) / spec.Video.FrameRate;
    const bool doAudio = audioTime <= videoTime;
    Encoded& track = doAudio ? audio : video;
    bool& done = doAudio ? audioDone : videoDone;
    const double time = doAudio ? audioTime : videoTime;
    if (time >= seconds) {
      result = lib::avcodec_send_frame(track.Codec.get(), nullptr);
      if (result >= 0) result = Drain(output.get(), track, packet.get());
      done = true;
      continue;
    }
    lib::av_frame_unref(frame.get());
    if (doAudio) {
      const int frameSize = track.Codec->frame_size > 0 ? track.Codec->frame_size : 1024;
      frame->nb_samples = frameSize;
      frame->format = track.Codec->sample_fmt;
      frame->sample_rate = track.Codec->sample_rate;
      lib::av_channel_layout_copy(&frame->ch_layout, &track.Codec->ch_layout);
    } else {
      frame->format = track.Codec->pix_fmt;
      frame->width = track.Codec->width;
      frame->height = track.Codec->height;
    }
    result = lib::av_frame_get_buffer(frame.get(), 0);
    if (result < 0) break;
    if (doAudio) {
      FillTone(frame.get(), track.NextPts, spec.Audio.SampleRate);
    } else {
      FillPicture(frame.get(), track.NextPts);
    }
    frame->pts = track.NextPts;
    track.NextPts += doAudio ? frame->nb_samples : 1;
    result = lib::avcodec_send_frame(track.Codec.get(), frame.get());
    if (result >= 0) result = Drain(output.get(), track, packet.get());
  }
  if (result >= 0) result = lib::av_write_trailer(output.get());
  lib::avio_closep(&output->pb);
  if (result < 0) return Fail(error, ErrorText("encode", result));
  return true;
}

MediaSpec SmallVideoClip(double seconds) {
  MediaSpec spec;
  spec.Format = "matroska";
  spec.Seconds = seconds;
  spec.HasVideo = true;
  spec.Video.Width = 160;
  spec.Video.Height = 120;
  return spec;
}

bool WriteSizedWav(const std::string& path, int totalBytes) {
  if (totalBytes < 44) return false;
  std::vector<std::uint8_t> bytes;
  auto text = [&](const char* t) { bytes.insert(bytes.end(), t, t + 4); };
  auto u32 = [&](std::uint32_t v) {
    for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  };
  auto u16 = [&](std::uint16_t v) {
    bytes.push_back(static_cast<std::uint8_t>(v));
    bytes.push_back(static_cast<std::uint8_t>(v >> 8));
  };
  const std::uint32_t dataBytes = static_cast<std::uint32_t>(totalBytes - 44);
  text("RIFF");
  u32(36 + dataBytes);
  text("WAVE");
  text("fmt ");
  u32(16);
  u16(1);     // PCM
  u16(1);     // mono
  u32(8000);  // samples per second
  u32(8000);  // bytes per second
  u16(1);     // block align
  u16(8);     // bits per sample
  text("data");
  u32(dataBytes);
  for (std::uint32_t i = 0; i < dataBytes; ++i) bytes.push_back(static_cast<std::uint8_t>(128 + (i % 16)));
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  return std::fclose(file) == 0 && ok;
}

}  // namespace lumivor::testing
