#include "app/run/sound_samples.h"

#include <vector>

#include "media/runtime/ff_load.h"
#include "media/runtime/library_objects.h"

namespace lumivor {

namespace {

std::string error_text(int code) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  lib::av_strerror(code, text, sizeof text);
  return text;
}

// The resampler for one run of frames of the same shape; rebuilt when a stream changes its rate,
// format or channels mid-way (a chained Ogg file, a broadcast recording).
class Resampler {
 public:
  Resampler(int rate, int channels) : rate_(rate) { lib::av_channel_layout_default(&outLayout_, channels); }
  ~Resampler() {
    lib::av_channel_layout_uninit(&outLayout_);
    lib::av_channel_layout_uninit(&inLayout_);
  }
  Resampler(const Resampler&) = delete;
  Resampler& operator=(const Resampler&) = delete;

  bool Matches(const AVFrame& frame) const {
    return context_ && frame.format == inFormat_ && frame.sample_rate == inRate_ &&
           lib::av_channel_layout_compare(&frame.ch_layout, &inLayout_) == 0;
  }

  // Flushes what the old shape still holds, then builds for the frame's.
  bool Reset(const AVFrame& frame, const SoundSink& sink, bool& stopped, std::string& errorText) {
    if (context_ && !Convert(nullptr, 0, sink, stopped)) return false;
    context_.reset();
    lib::av_channel_layout_uninit(&inLayout_);
    // A stream that does not name its channels: the usual layout of that many.
    if (frame.ch_layout.order == AV_CHANNEL_ORDER_UNSPEC) {
      lib::av_channel_layout_default(&inLayout_, frame.ch_layout.nb_channels);
    } else if (lib::av_channel_layout_copy(&inLayout_, &frame.ch_layout) < 0) {
      errorText = "the sound's channels cannot be read";
      return false;
    }
    SwrContext* raw = nullptr;
    const int made = lib::swr_alloc_set_opts2(&raw, &outLayout_, AV_SAMPLE_FMT_FLT, rate_, &inLayout_,
                                              static_cast<AVSampleFormat>(frame.format), frame.sample_rate, 0, nullptr);
    context_.reset(raw);
    if (made < 0 || lib::swr_init(raw) < 0) {
      errorText = "the sound cannot be converted";
      return false;
    }
    // Compared with the frame's own layout, so that an unnamed one is not rebuilt every frame.
    lib::av_channel_layout_uninit(&inLayout_);
    lib::av_channel_layout_copy(&inLayout_, &frame.ch_layout);
    inFormat_ = frame.format;
    inRate_ = frame.sample_rate;
    return true;
  }

  // in == nullptr drains the resampler. False when the sink stopped the reading.
  bool Convert(const std::uint8_t* const* in, int frames, const SoundSink& sink, bool& stopped) {
    const int capacity = lib::swr_get_out_samples(context_.get(), frames);
    if (capacity <= 0) return true;
    buffer_.resize(static_cast<std::size_t>(capacity) * static_cast<std::size_t>(outLayout_.nb_channels));
    auto* target = reinterpret_cast<std::uint8_t*>(buffer_.data());
    const int converted = lib::swr_convert(context_.get(), &target, capacity, const_cast<const std::uint8_t**>(in), frames);
    if (converted > 0) produced_ = true;
    if (converted > 0 && !sink(buffer_.data(), static_cast<std::size_t>(converted))) {
      stopped = true;
      return false;
    }
    return true;
  }

  bool Ready() const { return static_cast<bool>(context_); }
  bool Produced() const { return produced_; }

 private:
  int rate_;
  AVChannelLayout outLayout_{};
  AVChannelLayout inLayout_{};
  int inFormat_ = -1;
  int inRate_ = 0;
  SwrContextPtr context_;
  std::vector<float> buffer_;
  bool produced_ = false;
};

}  // namespace

bool DecodeSound(const std::string& path, int sampleRate, int channels, const SoundSink& sink,
                 std::string& errorText) {
  errorText.clear();
  if (sampleRate <= 0 || channels <= 0) {
    errorText = "no sample rate or channels to decode to";
    return false;
  }
  AVFormatContext* opened = nullptr;
  if (const int code = lib::avformat_open_input(&opened, path.c_str(), nullptr, nullptr); code < 0) {
    errorText = error_text(code);
    return false;
  }
  InputFormatContextPtr input(opened);
  if (const int code = lib::avformat_find_stream_info(opened, nullptr); code < 0) {
    errorText = error_text(code);
    return false;
  }
  const AVCodec* codec = nullptr;
  const int stream = lib::av_find_best_stream(opened, AVMEDIA_TYPE_AUDIO, -1, -1, &codec, 0);
  if (stream < 0 || codec == nullptr) {
    errorText = stream == AVERROR_DECODER_NOT_FOUND ? "no decoder for its sound" : "no audio stream";
    return false;
  }
  CodecContextPtr decoder(lib::avcodec_alloc_context3(codec));
  if (!decoder || lib::avcodec_parameters_to_context(decoder.get(), opened->streams[stream]->codecpar) < 0) {
    errorText = "its sound's decoder cannot be set up";
    return false;
  }
  decoder->pkt_timebase = opened->streams[stream]->time_base;
  if (const int code = lib::avcodec_open2(decoder.get(), codec, nullptr); code < 0) {
    errorText = error_text(code);
    return false;
  }
  // Only the sound is read: the other streams' packets are dropped by the demuxer.
  for (unsigned i = 0; i < opened->nb_streams; ++i) {
    if (static_cast<int>(i) != stream) opened->streams[i]->discard = AVDISCARD_ALL;
  }

  Resampler resampler(sampleRate, channels);
  PacketPtr packet(lib::av_packet_alloc());
  FramePtr frame(lib::av_frame_alloc());
  bool stopped = false;
  const auto take_frames = [&]() {
    while (lib::avcodec_receive_frame(decoder.get(), frame.get()) >= 0) {
      const bool ok = (resampler.Matches(*frame) || resampler.Reset(*frame, sink, stopped, errorText)) &&
                      resampler.Convert(frame->extended_data, frame->nb_samples, sink, stopped);
      lib::av_frame_unref(frame.get());
      if (!ok) return false;
    }
    return true;
  };
  for (;;) {
    const int read = lib::av_read_frame(opened, packet.get());
    if (read == AVERROR(EAGAIN)) continue;
    if (read < 0) break;
    if (packet->stream_index == stream) {
      // A damaged packet costs its few milliseconds of sound, as it would in any player.
      lib::avcodec_send_packet(decoder.get(), packet.get());
    }
    lib::av_packet_unref(packet.get());
    if (!take_frames()) break;
  }
  if (errorText.empty() && !stopped) {
    lib::avcodec_send_packet(decoder.get(), nullptr);
    if (take_frames() && resampler.Ready()) resampler.Convert(nullptr, 0, sink, stopped);
  }
  if (stopped) {
    errorText = "stopped";
    return false;
  }
  if (!errorText.empty()) return false;
  if (!resampler.Produced()) {
    errorText = "no sound could be decoded";
    return false;
  }
  return true;
}

}  // namespace lumivor
