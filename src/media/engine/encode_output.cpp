// The output side of the loop: filtered frames out of the graphs, how many times each video
// frame is encoded (duplication and dropping for the frame rate), the output hooks and the
// preview, encoding, copied packets, timestamps fixed for the muxer, bitstream filters, muxing,
// and draining the encoders at the end.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "media/engine/error_text.h"
#include "media/engine/ffmpeg.h"
#include "media/runtime/ff_log.h"
#include "media/runtime/stream_helpers.h"
#include "media/runtime/timestamps.h"
#include "media/runtime/format_text.h"

namespace lumivor {
namespace {

constexpr const char* kCheckLog =
    "Please check error log message(reported by FFLogger) to find out more detail information.";

// Video sync methods.
constexpr int kVsyncPassthrough = 0;
constexpr int kVsyncCfr = 1;
constexpr int kVsyncVfr = 2;
constexpr int kVsyncDrop = 255;

// Strictly above the last value handed on (previous + 1 when not greater), for join mode where
// one muxer stream takes packets of several inputs.
void KeepIncreasing(std::int64_t& value, std::int64_t& last) {
  if (value == AV_NOPTS_VALUE) return;
  if (last != AV_NOPTS_VALUE && value <= last) value = last + 1;
  last = value;
}

}  // namespace

TOutputFile& TCustomFFmpeg::FileOf(const TOutputStream& ost) {
  const std::size_t index =
      std::min(static_cast<std::size_t>(std::max(ost.FileIndex, 0)), OutputFiles.size() - 1);
  return *OutputFiles[index];
}

AVFormatContext* TCustomFFmpeg::MuxerOf(const TOutputStream& ost) {
  // Join records share the first output's muxer.
  if (JoinMode != 0 && !OutputFiles.empty()) return OutputFiles.front()->Context.get();
  return FileOf(ost).Context.get();
}

TOutputStream& TCustomFFmpeg::EncoderOwner(TOutputStream& ost) {
  return ost.JoinOriginal != nullptr ? *ost.JoinOriginal : ost;
}

AVCodecContext* TCustomFFmpeg::EncoderOf(TOutputStream& ost) { return EncoderOwner(ost).EncoderContext.get(); }

// ------------------------------------------------------------------ ReapFilters

int TCustomFFmpeg::ReapFilters() {
  for (int i = FirstActiveOutput; i <= LastActiveOutput; ++i) {
    TOutputStream& ost = *OutputStreams[static_cast<std::size_t>(i)];
    if (ost.Filter == nullptr || ost.Filter->Filter == nullptr) continue;
    // A closed stream takes nothing more; what the graph still holds stays there.
    if (ost.Finished != 0) continue;
    TOutputStream& owner = EncoderOwner(ost);
    AVCodecContext* enc = owner.EncoderContext.get();
    if (enc == nullptr || owner.EncoderOpened == 0 || owner.EncoderClosed != 0) continue;
    TOutputFile& of = FileOf(ost);
    AVFilterContext* sink = ost.Filter->Filter;

    if (!ost.FilteredFrame) {
      ost.FilteredFrame.reset(lib::av_frame_alloc());
      if (!ost.FilteredFrame) return AVERROR(ENOMEM);
    }
    AVFrame* frame = ost.FilteredFrame.get();
    for (;;) {
      lib::av_frame_unref(frame);
      const int r = lib::av_buffersink_get_frame_flags(sink, frame, AV_BUFFERSINK_FLAG_NO_REQUEST);
      if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) break;
      if (r < 0) {
        DefaultLogger().Log(this, llWarning, ErrorText("Error in av_buffersink_get_buffer_ref()", r));
        break;
      }
      if (frame->pts != AV_NOPTS_VALUE) {
        frame->pts = lib::av_rescale_q(frame->pts, lib::av_buffersink_get_time_base(sink), enc->time_base) -
                     lib::av_rescale_q(of.StartTime, AV_TIME_BASE_Q, enc->time_base);
        if (of.StartTime != 0 && frame->pts < 0) continue;
      }
      const AVMediaType type = lib::av_buffersink_get_type(sink);
      if (type == AVMEDIA_TYPE_VIDEO) {
        if (ost.FrameAspectRatio == 0) enc->sample_aspect_ratio = frame->sample_aspect_ratio;
        VideoOut(of, ost, frame);
      } else if (type == AVMEDIA_TYPE_AUDIO) {
        if (!(enc->codec->capabilities & AV_CODEC_CAP_PARAM_CHANGE) &&
            enc->ch_layout.nb_channels != frame->ch_layout.nb_channels) {
          DefaultLogger().Log(
              this, llError,
              "Audio filter graph output is not normalized and encoder does not support parameter changes");
          break;
        }
        AudioOut(of, ost, frame);
      } else {
        throw FFmpegException("Never occur");
      }
      if (ost.Finished != 0) break;
    }
    lib::av_frame_unref(frame);
  }
  return 0;
}

// ------------------------------------------------------------------ encoding

void TCustomFFmpeg::WriteEncodedPacket(TOutputStream& ost, AVPacket* packet) {
  TOutputStream& owner = EncoderOwner(ost);
  AVCodecContext* enc = owner.EncoderContext.get();
  const bool video = enc->codec_type == AVMEDIA_TYPE_VIDEO;

  if (packet->pts == AV_NOPTS_VALUE && !(enc->codec->capabilities & AV_CODEC_CAP_DELAY)) packet->pts = ost.SyncOpts;
  if (!video && packet->duration <= 0) packet->duration = 0;
  // Video encoders here run at one picture per tick of their time base; a packet that does not
  // say how long it lasts lasts one tick, so the end of what was written is known (join mode
  // continues the next input from there).
  if (video && packet->duration <= 0) packet->duration = 1;
  lib::av_packet_rescale_ts(packet, enc->time_base, ost.Stream->time_base);
  if (JoinMode != 0) {
    // Only the decoding order must grow: presentation times of reordered pictures (B-frames)
    // go back and forth by nature, so a pts is only kept from falling below its dts.
    KeepIncreasing(packet->dts, ost.LastMuxDts);
    if (packet->pts != AV_NOPTS_VALUE && packet->dts != AV_NOPTS_VALUE && packet->pts < packet->dts) {
      packet->pts = packet->dts;
    }
    if (packet->pts != AV_NOPTS_VALUE) ost.LastMuxPts = std::max(ost.LastMuxPts, packet->pts);
  }

  // The encoder's quality and picture type travel with the packet.
  std::size_t sideSize = 0;
  const std::uint8_t* stats = lib::av_packet_get_side_data(packet, AV_PKT_DATA_QUALITY_STATS, &sideSize);
  if (stats != nullptr && sideSize >= 6) {
    std::int32_t quality = 0;
    std::memcpy(&quality, stats, sizeof quality);
    owner.LastQuality = static_cast<float>(quality);
    if (video) {
      PictureType_ = stats[4];
      const int errorCount = std::min<int>(stats[5], 4);
      for (int i = 0; i < errorCount && sideSize >= 8 + 8 * static_cast<std::size_t>(i + 1); ++i) {
        std::memcpy(&LastPictureErrors_[i], stats + 8 + 8 * i, sizeof(std::uint64_t));
      }
    }
  }

  if (DebugTs != 0) {
    DefaultLogger().LogFmt(
        this, llInfo,
        video ? "encoder -> type:video pkt_pts:%s pkt_pts_time:%s pkt_dts:%s pkt_dts_time:%s"
              : "encoder . type:audio pkt_pts:%s pkt_pts_time:%s pkt_dts:%s pkt_dts_time:%s",
        TimestampText(packet->pts).c_str(), TimestampSecondsText(packet->pts, ost.Stream->time_base).c_str(),
        TimestampText(packet->dts).c_str(), TimestampSecondsText(packet->dts, ost.Stream->time_base).c_str());
  }
  if (video) {
    VideoSize += packet->size;
  } else {
    AudioSize += packet->size;
  }
  WriteFrame(MuxerOf(ost), packet, ost);
  if (owner.LogFile && enc->stats_out != nullptr) std::fputs(enc->stats_out, owner.LogFile.get());
}

int TCustomFFmpeg::EncodeFrame(TOutputStream& ost, AVFrame* frame, bool& anyPacket, int& lastPacketSize) {
  AVCodecContext* enc = EncoderOf(ost);
  PauseGate.Wait();
  int r = lib::avcodec_send_frame(enc, frame);
  if (r < 0 && !(frame == nullptr && r == AVERROR_EOF)) return r;
  PacketPtr packet(lib::av_packet_alloc());
  if (!packet) return AVERROR(ENOMEM);
  for (;;) {
    r = lib::avcodec_receive_packet(enc, packet.get());
    if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) break;
    if (r < 0) return r;
    anyPacket = true;
    lastPacketSize = packet->size;
    WriteEncodedPacket(ost, packet.get());
    lib::av_packet_unref(packet.get());
  }
  return 0;
}

bool TCustomFFmpeg::ForceKeyFrame(TOutputStream& ost, AVFrame* frame) {
  TOutputStream& owner = EncoderOwner(ost);
  if (owner.ForcedKfIndex < static_cast<std::int32_t>(owner.ForcedKfPts.size()) && frame->pts != AV_NOPTS_VALUE &&
      frame->pts >= owner.ForcedKfPts[static_cast<std::size_t>(owner.ForcedKfIndex)]) {
    owner.ForcedKfIndex += 1;
    return true;
  }
  if (!owner.ForcedKeyFramesExpr || owner.ForcedKeyFramesValues.size() < 5) return false;
  // Names: n, n_forced, prev_forced_n, prev_forced_t, t.
  double* values = owner.ForcedKeyFramesValues.data();
  const AVCodecContext* enc = owner.EncoderContext.get();
  values[4] = frame->pts == AV_NOPTS_VALUE ? NAN : static_cast<double>(frame->pts) * av_q2d(enc->time_base);
  const double result = lib::av_expr_eval(owner.ForcedKeyFramesExpr.get(), values, nullptr);
  DefaultLogger().LogFmt(this, llDebug,
                         "force_key_frame: n:%f n_forced:%f prev_forced_n:%f t:%f prev_forced_t:%f -> res:%f",
                         values[0], values[1], values[2], values[4], values[3], result);
  bool forced = false;
  if (!std::isnan(result) && result != 0) {
    values[2] = values[0];
    values[3] = values[4];
    values[1] += 1;
    forced = true;
  }
  values[0] += 1;
  return forced;
}

// The output hooks see (and may change) a copy of the picture; the copy is what gets encoded.
void TCustomFFmpeg::CallOutputPictureHooks(TOutputStream& ost, AVFrame*& frame, FramePtr& hookCopy,
                                           bool& previewHolds) {
  const std::int64_t pts = lib::av_rescale_q(frame->pts, EncoderOf(ost)->time_base, AV_TIME_BASE_Q);
  if (HasOutputHooks()) {
    if (!hookCopy) hookCopy.reset(lib::av_frame_alloc());
    if (hookCopy) {
      lib::av_frame_unref(hookCopy.get());
      hookCopy->format = frame->format;
      hookCopy->width = frame->width;
      hookCopy->height = frame->height;
      if (lib::av_frame_get_buffer(hookCopy.get(), 0) >= 0 && lib::av_frame_copy(hookCopy.get(), frame) >= 0 &&
          lib::av_frame_copy_props(hookCopy.get(), frame) >= 0) {
        PicturePlanes picture;
        for (int i = 0; i < 8; ++i) {
          picture.Data[i] = hookCopy->data[i];
          picture.LineSize[i] = hookCopy->linesize[i];
        }
        const auto format = static_cast<AVPixelFormat>(frame->format);
        if (OnFrameOutputHook) {
          CallFrameHook(true, picture, format, frame->width, frame->height, ost.FrameNumber + 1, pts);
        }
        if (OnVideoOutputHook) {
          CallVideoHook(true, picture, format, frame->width, frame->height, ost.FrameNumber + 1, pts);
          previewHolds = PreviewConverterHoldsPicture;
        }
        frame = hookCopy.get();
      } else {
        DefaultLogger().Log(this, llError, "memory malloc error in HookBuffer.");
      }
    }
  }
  if (PreviewFlags != 0) {
    PicturePlanes picture;
    for (int i = 0; i < 8; ++i) {
      picture.Data[i] = frame->data[i];
      picture.LineSize[i] = frame->linesize[i];
    }
    Preview(picture, static_cast<AVPixelFormat>(frame->format), frame->width, frame->height, previewHolds, pts,
            ost.FrameNumber + 1);
  }
}

int TCustomFFmpeg::VideoSyncMethodFor(const AVFormatContext* oc) const {
  if (VideoSyncMethod != -1) return VideoSyncMethod;
  // Automatic: a muxer that keeps any frame rate gets the frames as they come, one without
  // timestamps gets them untouched, and every other one a constant rate.
  if (oc != nullptr && (oc->oformat->flags & AVFMT_VARIABLE_FPS) != 0) {
    return (oc->oformat->flags & AVFMT_NOTIMESTAMPS) != 0 ? kVsyncPassthrough : kVsyncVfr;
  }
  return kVsyncCfr;
}

std::int64_t TCustomFFmpeg::VideoFrameCopies(TOutputStream& ost, const AVFrame* frame, int method, double duration) {
  const double delta = frame->pts == AV_NOPTS_VALUE
                           ? duration
                           : static_cast<double>(frame->pts) - static_cast<double>(ost.SyncOpts) + duration;
  std::int64_t frames = 1;
  switch (method) {
    case kVsyncCfr:
      if (delta < -1.1) {
        frames = 0;
      } else if (delta > 1.1) {
        frames = std::llround(delta);
      }
      break;
    case kVsyncVfr:
      if (delta <= -0.6) {
        frames = 0;
      } else if (delta > 0.6 && frame->pts != AV_NOPTS_VALUE) {
        ost.SyncOpts = frame->pts;
      }
      break;
    case kVsyncPassthrough:
    case kVsyncDrop:
      if (frame->pts != AV_NOPTS_VALUE) ost.SyncOpts = frame->pts;
      break;
    default:
      throw FFmpegException("Never occur");
  }
  return frames;
}

bool TCustomFFmpeg::CountDropsAndDuplicates(std::int64_t frames) {
  if (frames <= 0) {
    DropCount += 1;
    DupDropChanged = 1;
    DefaultLogger().Log(this, llVerbose, "*** drop!");
    return false;
  }
  if (frames > 1) {
    // So many copies mean a broken timestamp rather than a gap worth filling.
    if (static_cast<double>(frames) > static_cast<double>(DtsErrorThreshold) * 30) {
      DefaultLogger().LogFmt(this, llError, "%lld frame duplication too large, skipping",
                             static_cast<long long>(frames - 1));
      DropCount += 1;
      return false;
    }
    DupCount += static_cast<std::int32_t>(frames - 1);
    DupDropChanged = 1;
    DefaultLogger().LogFmt(this, llVerbose, "*** %lld dup!", static_cast<long long>(frames - 1));
  }
  return true;
}

void TCustomFFmpeg::SetPictureFields(TOutputStream& owner, AVCodecContext* enc, AVFrame* picture) {
  if ((enc->flags & (AV_CODEC_FLAG_INTERLACED_DCT | AV_CODEC_FLAG_INTERLACED_ME)) != 0 && owner.TopFieldFirst >= 0) {
    picture->top_field_first = owner.TopFieldFirst != 0;
  }
  if (picture->interlaced_frame != 0) {
    const bool mjpeg = enc->codec_id == AV_CODEC_ID_MJPEG;
    if (picture->top_field_first != 0) {
      enc->field_order = mjpeg ? AV_FIELD_TT : AV_FIELD_TB;
    } else {
      enc->field_order = mjpeg ? AV_FIELD_BB : AV_FIELD_BT;
    }
  } else {
    enc->field_order = AV_FIELD_PROGRESSIVE;
  }
}

void TCustomFFmpeg::VideoOut(TOutputFile& of, TOutputStream& ost, AVFrame* frame) {
  TOutputStream& owner = EncoderOwner(ost);
  AVCodecContext* enc = owner.EncoderContext.get();
  AVFormatContext* oc = MuxerOf(ost);
  const TInputStream* source = ost.SyncInput;

  // What a frame lasts, in encoder ticks, when the rate was forced.
  double duration = 0;
  if (source != nullptr && source->Stream->start_time != AV_NOPTS_VALUE && owner.FrameRate.num > 0 &&
      owner.FrameRate.den > 0) {
    duration = 1 / (av_q2d(owner.FrameRate) * av_q2d(enc->time_base));
  }

  const int method = VideoSyncMethodFor(oc);
  // Each frame keeps its own time (the decoder's best guess, carried through the graph). The
  // source's clock is only a stand-in for a frame without one: a decoder running on several
  // threads hands out a batch of frames at once, and the clock then stands at the last of them.
  if (method == kVsyncPassthrough && source != nullptr && frame->pts == AV_NOPTS_VALUE &&
      source->Pts != AV_NOPTS_VALUE) {
    frame->pts = std::llround(static_cast<double>(source->Pts - of.StartTime) / AV_TIME_BASE / av_q2d(enc->time_base));
  }

  std::int64_t frames = VideoFrameCopies(ost, frame, method, duration);
  frames = std::min<std::int64_t>(frames, ost.MaxFrames - ost.FrameNumber);
  if (!CountDropsAndDuplicates(frames)) return;

  int lastPacketSize = -1;
  FramePtr hookCopy;
  for (std::int64_t n = 0; n < frames; ++n) {
    // A stop ends a long duplication run at once.
    if (StopRequested.load()) break;
    frame->pts = ost.SyncOpts;
    if (!CheckRecordingTime(ost)) return;

    AVFrame* picture = frame;
    bool previewHolds = false;
    if (HasOutputHooks() || PreviewFlags != 0) CallOutputPictureHooks(ost, picture, hookCopy, previewHolds);
    picture->pts = ost.SyncOpts;
    SetPictureFields(owner, enc, picture);
    picture->quality = enc->global_quality;
    const bool forced = ForceKeyFrame(ost, picture);
    picture->pict_type = forced ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
    if (forced) {
      DefaultLogger().LogFmt(this, llDebug, "Forced keyframe at time %f",
                             static_cast<double>(picture->pts) * av_q2d(enc->time_base));
    }

    bool anyPacket = false;
    if (EncodeFrame(ost, picture, anyPacket, lastPacketSize) < 0) Fail("Video encoding failed");
    ost.SyncOpts += 1;
    ost.FrameNumber += 1;
  }

  if (!VstatsFileName.empty() && lastPacketSize >= 0) WriteVideoStats(ost, lastPacketSize);
}

void TCustomFFmpeg::AudioOut(TOutputFile& of, TOutputStream& ost, AVFrame* frame) {
  (void)of;
  if (!CheckRecordingTime(ost)) return;
  if (frame->pts == AV_NOPTS_VALUE || AudioSyncMethod < 0) frame->pts = ost.SyncOpts;
  ost.SyncOpts = frame->pts + frame->nb_samples;

  if (OnAudioOutputHook) {
    const AVCodecContext* enc = EncoderOf(ost);
    const int size = frame->ch_layout.nb_channels * frame->nb_samples *
                     lib::av_get_bytes_per_sample(static_cast<AVSampleFormat>(frame->format));
    CallAudioHook(true, frame->extended_data[0], lib::av_rescale_q(frame->pts, enc->time_base, AV_TIME_BASE_Q), size,
                  frame->sample_rate, frame->ch_layout.nb_channels, frame->format);
  }
  bool anyPacket = false;
  int lastPacketSize = 0;
  if (EncodeFrame(ost, frame, anyPacket, lastPacketSize) < 0) Fail("Audio encoding failed (avcodec_encode_audio2)");
}

void TCustomFFmpeg::SubtitleOut(TOutputFile& of, TOutputStream& ost, TInputStream& ist, AVSubtitle* subtitle) {
  (void)ist;
  if (subtitle->pts == AV_NOPTS_VALUE) {
    if (ExitOnError != 0) Fail("Subtitle packets must have a pts");
    DefaultLogger().Log(this, llError, "Subtitle packets must have a pts");
    return;
  }
  AVCodecContext* enc = EncoderOf(ost);
  if (SubtitleBuffer.empty()) SubtitleBuffer.resize(1048576);
  const bool dvb = enc->codec_id == AV_CODEC_ID_DVB_SUBTITLE;
  const int count = dvb ? 2 : 1;
  const unsigned rects = subtitle->num_rects;
  for (int i = 0; i < count; ++i) {
    ost.SyncOpts = lib::av_rescale_q(subtitle->pts - of.StartTime, AV_TIME_BASE_Q, enc->time_base);
    if (!CheckRecordingTime(ost)) break;
    AVSubtitle copy = *subtitle;
    copy.pts += lib::av_rescale_q(subtitle->start_display_time, AVRational{1, 1000}, AV_TIME_BASE_Q);
    copy.end_display_time -= copy.start_display_time;
    copy.start_display_time = 0;
    if (i == 1) copy.num_rects = 0;  // the clearing one carries nothing
    PauseGate.Wait();
    const int size = lib::avcodec_encode_subtitle(enc, SubtitleBuffer.data(), static_cast<int>(SubtitleBuffer.size()),
                                                  &copy);
    if (size < 0) Fail("Subtitle encoding failed");
    PacketPtr packet(lib::av_packet_alloc());
    if (!packet || lib::av_new_packet(packet.get(), size) < 0) Fail("Subtitle encoding failed");
    std::memcpy(packet->data, SubtitleBuffer.data(), static_cast<std::size_t>(size));
    packet->pts = lib::av_rescale_q(copy.pts - of.StartTime, AV_TIME_BASE_Q, ost.Stream->time_base);
    packet->duration = lib::av_rescale_q(copy.end_display_time, AVRational{1, 1000}, ost.Stream->time_base);
    if (dvb) {
      packet->pts += 90 * static_cast<std::int64_t>(i == 0 ? subtitle->start_display_time : subtitle->end_display_time);
    }
    packet->dts = packet->pts;
    SubtitleSize += size;
    WriteFrame(MuxerOf(ost), packet.get(), ost);
  }
  subtitle->num_rects = rects;
}

// ------------------------------------------------------------------ copied packets

void TCustomFFmpeg::StreamCopy(TInputStream& ist, TOutputStream& ost, const AVPacket* packet) {
  TOutputFile& of = FileOf(ost);
  const AVRational inTimeBase = ist.Stream->time_base;
  const AVRational outTimeBase = ost.Stream->time_base;
  const std::int64_t start = lib::av_rescale_q(of.StartTime, AV_TIME_BASE_Q, outTimeBase);

  if (ost.FrameNumber == 0 && !(packet->flags & AV_PKT_FLAG_KEY) && ost.CopyInitialNonKeyframes == 0) return;
  if (ost.FrameNumber == 0 && ist.Pts < of.StartTime && ost.CopyPriorStart == 0) return;
  if (of.RecordingTime != kNoLimit && ist.Pts >= of.RecordingTime + of.StartTime) {
    CloseOutputStream(ost);
    return;
  }

  const AVMediaType type = ost.Stream->codecpar->codec_type;
  if (type == AVMEDIA_TYPE_AUDIO) {
    AudioSize += packet->size;
  } else if (type == AVMEDIA_TYPE_VIDEO) {
    VideoSize += packet->size;
    ost.SyncOpts += 1;
  } else if (type == AVMEDIA_TYPE_SUBTITLE) {
    SubtitleSize += packet->size;
  }

  PacketPtr out(lib::av_packet_alloc());
  if (!out || lib::av_packet_ref(out.get(), packet) < 0) Fail("av_mallocz() failed");
  out->pts = packet->pts != AV_NOPTS_VALUE ? lib::av_rescale_q(packet->pts, inTimeBase, outTimeBase) - start
                                           : AV_NOPTS_VALUE;
  out->dts = packet->dts == AV_NOPTS_VALUE ? lib::av_rescale_q(ist.Dts, AV_TIME_BASE_Q, outTimeBase)
                                           : lib::av_rescale_q(packet->dts, inTimeBase, outTimeBase);
  out->dts -= start;
  const AVCodecParameters* par = ist.Stream->codecpar;
  if (type == AVMEDIA_TYPE_AUDIO && packet->dts != AV_NOPTS_VALUE && par->sample_rate > 0) {
    int duration = lib::av_get_audio_frame_duration2(const_cast<AVCodecParameters*>(par), packet->size);
    if (duration <= 0) duration = par->frame_size;
    out->dts = out->pts = lib::av_rescale_delta(inTimeBase, packet->dts, AVRational{1, par->sample_rate}, duration,
                                                &ist.FilterInRescaleDeltaLast, outTimeBase) -
                          start;
  }
  out->duration = lib::av_rescale_q(packet->duration, inTimeBase, outTimeBase);
  out->time_base = outTimeBase;

  if (out->dts != AV_NOPTS_VALUE) {
    if (ost.LastMuxDts != AV_NOPTS_VALUE && out->dts <= ost.LastMuxDts) out->dts = ost.LastMuxDts + 1;
    if (out->pts != AV_NOPTS_VALUE && out->pts < out->dts) out->pts = out->dts;
    ost.LastMuxDts = out->dts;
  }
  WriteFrame(MuxerOf(ost), out.get(), ost);
  if (ost.EncoderContext) ost.EncoderContext->frame_number += 1;
}

// ------------------------------------------------------------------ muxing

void TCustomFFmpeg::WriteFrame(AVFormatContext* s, AVPacket* packet, TOutputStream& ost) {
  const AVMediaType type = ost.Stream->codecpar->codec_type;
  if ((type == AVMEDIA_TYPE_VIDEO && VideoSyncMethod == kVsyncDrop) ||
      (type == AVMEDIA_TYPE_AUDIO && AudioSyncMethod < 0)) {
    packet->pts = packet->dts = AV_NOPTS_VALUE;
  }

  TMuxerClock& clock = MuxerClocks[ost.Stream];
  if ((type == AVMEDIA_TYPE_AUDIO || type == AVMEDIA_TYPE_VIDEO) && packet->dts != AV_NOPTS_VALUE &&
      clock.Dts != AV_NOPTS_VALUE) {
    // Muxers refuse a dts that does not grow (unless they accept equal ones).
    const std::int64_t max = clock.Dts + ((s->oformat->flags & AVFMT_TS_NONSTRICT) != 0 ? 0 : 1);
    if (max > packet->dts) {
      LibraryLog(max - packet->dts <= 2 && type != AVMEDIA_TYPE_VIDEO ? AV_LOG_DEBUG : AV_LOG_WARNING,
                 "st:%d PTS: %lld DTS: %lld < %lld invalid, clipping\n", ost.Stream->index,
                 static_cast<long long>(packet->pts), static_cast<long long>(packet->dts), static_cast<long long>(max));
      if (packet->pts != AV_NOPTS_VALUE && packet->pts >= packet->dts) packet->pts = std::max(packet->pts, max);
      packet->dts = max;
    }
  }

  const bool encodedVideo = type == AVMEDIA_TYPE_VIDEO && ost.EncodingNeeded != 0;
  if (!encodedVideo) {
    if (ost.FrameNumber >= ost.MaxFrames) return;
    ost.FrameNumber += 1;
  }
  if (packet->dts != AV_NOPTS_VALUE) clock.Dts = packet->dts;
  if (packet->pts != AV_NOPTS_VALUE) {
    clock.Pts = std::max(clock.Pts, packet->pts);
    clock.End = std::max(clock.End, packet->pts + std::max<std::int64_t>(packet->duration, 0));
  }

  WriteThroughBitstreamFilters(s, packet, ost, 0);
}

void TCustomFFmpeg::WriteThroughBitstreamFilters(AVFormatContext* s, AVPacket* packet, TOutputStream& ost,
                                                 std::size_t first) {
  if (first < ost.BitstreamFilters.size()) {
    AVBSFContext* filter = ost.BitstreamFilters[first].get();
    auto report = [&](int code) {
      const AVCodecContext* enc = ost.EncoderContext.get();
      const std::string text =
          ErrorText(FormatText("Failed to open bitstream filter %s for stream %d with codec %s", filter->filter->name,
                               ost.Stream->index,
                               ost.StreamCopy != 0 || enc == nullptr || enc->codec == nullptr ? "copy"
                                                                                              : enc->codec->name),
                    code);
      if (ExitOnError != 0) Fail(text);
      DefaultLogger().Log(this, llError, text);
    };
    int r = lib::av_bsf_send_packet(filter, packet);
    if (r < 0) {
      report(r);
      return;
    }
    PacketPtr out(lib::av_packet_alloc());
    if (!out) Fail("av_mallocz() failed");
    for (;;) {
      r = lib::av_bsf_receive_packet(filter, out.get());
      if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) break;
      if (r < 0) {
        report(r);
        return;
      }
      WriteThroughBitstreamFilters(s, out.get(), ost, first + 1);
      lib::av_packet_unref(out.get());
    }
    return;
  }

  packet->stream_index = ost.Index;
  if (DebugTs != 0) {
    DefaultLogger().LogFmt(this, llInfo, "muxer <- type:%s pkt_pts:%s pkt_pts_time:%s pkt_dts:%s pkt_dts_time:%s size:%d",
                           lib::av_get_media_type_string(ost.Stream->codecpar->codec_type),
                           TimestampText(packet->pts).c_str(),
                           TimestampSecondsText(packet->pts, ost.Stream->time_base).c_str(),
                           TimestampText(packet->dts).c_str(),
                           TimestampSecondsText(packet->dts, ost.Stream->time_base).c_str(), packet->size);
  }
  StampWriteStart();
  const int r = lib::av_interleaved_write_frame(s, packet);
  WriteStartTime.store(kNoLimit);
  if (r < 0) Fail(ErrorText("av_interleaved_write_frame()", r) + ". " + kCheckLog);
}

void TCustomFFmpeg::CloseOutputStream(TOutputStream& ost) {
  ost.Finished = 1;
  TOutputFile& of = FileOf(ost);
  if (of.Shortest != 0) {
    const AVCodecContext* enc = EncoderOf(ost);
    const AVRational timeBase = enc != nullptr && enc->time_base.den != 0 ? enc->time_base : ost.Stream->time_base;
    of.RecordingTime = std::min(of.RecordingTime, lib::av_rescale_q(ost.SyncOpts - ost.FirstPts, timeBase, AV_TIME_BASE_Q));
    // The output now ends here: the progress share is measured against that from now on.
    if (JoinMode == 0) {
      const std::int64_t planned = PlannedOutputLength();
      if (planned > 0) TotalDuration = planned;
    }
  }
}

bool TCustomFFmpeg::CheckRecordingTime(TOutputStream& ost) {
  const TOutputFile& of = FileOf(ost);
  if (of.RecordingTime == kNoLimit) return true;
  const AVCodecContext* enc = EncoderOf(ost);
  if (lib::av_compare_ts(ost.SyncOpts - ost.FirstPts, enc->time_base, of.RecordingTime, AV_TIME_BASE_Q) >= 0) {
    CloseOutputStream(ost);
    return false;
  }
  return true;
}

void TCustomFFmpeg::FlushEncoders() {
  for (int i = FirstActiveOutput; i <= LastActiveOutput; ++i) {
    TOutputStream& ost = *OutputStreams[static_cast<std::size_t>(i)];
    if (ost.Flushed != 0) continue;
    ost.Flushed = 1;
    if (ost.EncodingNeeded == 0) continue;
    TOutputStream& owner = EncoderOwner(ost);
    AVCodecContext* enc = owner.EncoderContext.get();
    if (enc == nullptr || owner.EncoderOpened == 0 || owner.EncoderClosed != 0) continue;
    const char* kind = nullptr;
    if (enc->codec_type == AVMEDIA_TYPE_VIDEO) kind = "Video";
    if (enc->codec_type == AVMEDIA_TYPE_AUDIO) kind = "Audio";
    if (kind == nullptr) continue;
    bool anyPacket = false;
    int lastPacketSize = -1;
    if (EncodeFrame(ost, nullptr, anyPacket, lastPacketSize) < 0) FailFmt("%s encoding failed", kind);
    if (enc->codec_type == AVMEDIA_TYPE_VIDEO && !VstatsFileName.empty() && lastPacketSize >= 0) {
      WriteVideoStats(ost, lastPacketSize);
    }
  }
}

}  // namespace lumivor
