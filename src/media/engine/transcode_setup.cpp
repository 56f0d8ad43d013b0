// Between opened files and the first packet: codec parameters of every output stream, two-pass
// files, forced key frames, encoders and decoders opened (and tracked, so that every one is
// closed on every path), headers written, the stream mapping logged. Cleanup is the way back.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <list>
#include <mutex>

#include "media/engine/error_text.h"
#include "media/engine/ffmpeg.h"
#include "media/engine/media_helpers.h"
#include "media/runtime/ff_log.h"
#include "media/runtime/stream_helpers.h"
#include "media/runtime/timestamps.h"
#include "media/runtime/file_names.h"
#include "media/runtime/format_text.h"

namespace lumivor {
namespace {

constexpr int kInvalidArgument = AVERROR(EINVAL);  // -22
constexpr int kOutOfMemory = AVERROR(ENOMEM);      // -12
constexpr int kGenericError = -1;
constexpr const char* kCheckLog =
    "Please check error log message(reported by FFLogger) to find out more detail information.";

// The opened-codec lists of every engine of the process, under one lock. An entry remembers its
// engine so that each engine closes only its own codecs.
struct TOpenedCodecs {
  std::mutex Lock;
  std::list<std::pair<const TCustomFFmpeg*, TOutputStream*>> Encoders;
  std::list<std::pair<const TCustomFFmpeg*, TInputStream*>> Decoders;
};

TOpenedCodecs& OpenedCodecs() {
  static TOpenedCodecs lists;
  return lists;
}

template <typename Stream>
void AddOpened(std::list<std::pair<const TCustomFFmpeg*, Stream*>>& list, const TCustomFFmpeg* engine,
               Stream* stream) {
  std::lock_guard<std::mutex> lock(OpenedCodecs().Lock);
  list.emplace_back(engine, stream);
}

template <typename Stream>
void RemoveOpened(std::list<std::pair<const TCustomFFmpeg*, Stream*>>& list, Stream* stream) {
  std::lock_guard<std::mutex> lock(OpenedCodecs().Lock);
  list.remove_if([stream](const auto& entry) { return entry.second == stream; });
}

// Takes this engine's entries out of a list under the lock; closing happens outside it.
template <typename Stream>
std::vector<Stream*> TakeOpened(std::list<std::pair<const TCustomFFmpeg*, Stream*>>& list,
                                const TCustomFFmpeg* engine) {
  std::vector<Stream*> taken;
  std::lock_guard<std::mutex> lock(OpenedCodecs().Lock);
  for (auto it = list.begin(); it != list.end();) {
    if (it->first == engine) {
      taken.push_back(it->second);
      it = list.erase(it);
    } else {
      ++it;
    }
  }
  return taken;
}

std::int64_t FileSizeOrMinusOne(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return -1;
  return static_cast<std::int64_t>(info.st_size);
}

// The muxer's own tag for a copied stream's codec wins over the source's tag when the source's
// tag would name another codec there.
bool KeepSourceCodecTag(const AVFormatContext* oc, const AVCodecParameters* source) {
  if (oc->oformat->codec_tag == nullptr) return true;
  if (lib::av_codec_get_id(oc->oformat->codec_tag, source->codec_tag) == source->codec_id) return true;
  unsigned int ownTag = 0;
  return lib::av_codec_get_tag2(oc->oformat->codec_tag, source->codec_id, &ownTag) == 0;
}

bool IsMuxer(const AVFormatContext* oc, const char* names) {
  const char* name = oc->oformat != nullptr ? oc->oformat->name : nullptr;
  if (name == nullptr) return false;
  // names is a comma list; oformat names may be comma lists themselves ("mov,mp4,...").
  std::string list = std::string(",") + names + ",";
  return list.find(std::string(",") + name + ",") != std::string::npos;
}

AVRational NearestRational(double value, int max) { return lib::av_d2q(value, max); }

// "-force_key_frames": an expression ("expr:...") kept for evaluation per frame, or a list of
// times and "chapters[offset]" entries turned into sorted encoder ticks. 0 or a negative code.
int ParseForcedKeyFrames(const void* sender, TOutputStream& ost, const AVFormatContext* oc, const AVCodecContext* enc) {
  if (ost.ForcedKeyFrames.compare(0, 5, "expr:") == 0) {
    static const char* const names[] = {"n", "n_forced", "prev_forced_n", "prev_forced_t", "t", nullptr};
    AVExpr* parsed = nullptr;
    const int r = lib::av_expr_parse(&parsed, ost.ForcedKeyFrames.c_str() + 5, names, nullptr, nullptr,
                                     nullptr, nullptr, 0, nullptr);
    if (r < 0) {
      DefaultLogger().LogFmt(sender, llError, "Invalid force_key_frames expression \"%s\"",
                             ost.ForcedKeyFrames.c_str() + 5);
      return r;
    }
    ost.ForcedKeyFramesExpr.reset(parsed);
    ost.ForcedKeyFramesValues.assign({0, 0, NAN, NAN, 0});
  } else {
    ost.ForcedKfPts.clear();
    std::size_t begin = 0;
    const std::string& text = ost.ForcedKeyFrames;
    while (begin <= text.size()) {
      std::size_t end = text.find(',', begin);
      if (end == std::string::npos) end = text.size();
      const std::string entry = text.substr(begin, end - begin);
      begin = end + 1;
      if (entry.compare(0, 8, "chapters") == 0) {
        std::int64_t offset = 0;
        if (entry.size() > 8) lib::av_parse_time(&offset, entry.c_str() + 8, 1);
        for (unsigned c = 0; c < oc->nb_chapters; ++c) {
          const AVChapter* chapter = oc->chapters[c];
          ost.ForcedKfPts.push_back(
              lib::av_rescale_q(chapter->start, chapter->time_base, enc->time_base) +
              lib::av_rescale_q(offset, AV_TIME_BASE_Q, enc->time_base));
        }
      } else if (!entry.empty()) {
        std::int64_t t = 0;
        if (lib::av_parse_time(&t, entry.c_str(), 1) < 0) {
          DefaultLogger().LogFmt(sender, llError, "Invalid force_key_frames expression \"%s\"", entry.c_str());
          return kInvalidArgument;
        }
        ost.ForcedKfPts.push_back(lib::av_rescale_q(t, AV_TIME_BASE_Q, enc->time_base));
      }
      if (end == text.size()) break;
    }
    std::sort(ost.ForcedKfPts.begin(), ost.ForcedKfPts.end());
    ost.ForcedKfCount = static_cast<std::int32_t>(ost.ForcedKfPts.size());
    ost.ForcedKfIndex = 0;
  }
  return 0;
}

// Two-pass encoding: the stream's statistics file, handed to the encoder by name (libx264) or
// read for the second pass and written in the first. 0 or a negative code with LastErrMsg set.
int OpenPassLogFile(TCustomFFmpeg& engine, TOutputStream& ost, AVCodecContext* enc) {
  const std::string prefix = ost.LogFilePrefix.empty() ? std::string("ffencoder2pass") : ost.LogFilePrefix;
  int index = 0;
  for (int i = 0; i < engine.OutputStreamCount(); ++i) {
    if (engine.OutputStreams[static_cast<std::size_t>(i)].get() == &ost) index = i;
  }
  std::string logName = FormatText("%s-%d.log", prefix.c_str(), index);
  if (logName.size() > 1023) logName.resize(1023);
  if (std::strcmp(ost.Encoder->name, "libx264") == 0) {
    lib::av_dict_set(DictionaryRef(ost.EncoderOptions), "stats", logName.c_str(), AV_DICT_DONT_OVERWRITE);
  } else {
    if ((enc->flags & AV_CODEC_FLAG_PASS2) != 0) {
      std::vector<std::uint8_t> data;
      std::int64_t size = 0;
      const int read = ReadWholeFile(logName, data, size);
      if (read < 0) {
        engine.LastErrMsg = FormatText("Error reading log file \"%s\" for pass-2 encoding", logName.c_str());
        DefaultLogger().Log(&engine, llFatal, engine.LastErrMsg);
        return kGenericError;
      }
      char* text = static_cast<char*>(lib::av_malloc(static_cast<std::size_t>(size) + 1));
      if (text == nullptr) {
        engine.LastErrMsg = FormatText(
            "Could not allocate file buffer: Error reading log file \"%s\" for pass-2 encoding", logName.c_str());
        DefaultLogger().Log(&engine, llFatal, engine.LastErrMsg);
        return kOutOfMemory;
      }
      if (size > 0) std::memcpy(text, data.data(), static_cast<std::size_t>(size));
      text[size] = 0;
      enc->stats_in = text;
    }
    if ((enc->flags & AV_CODEC_FLAG_PASS1) != 0) {
      ost.LogFile.reset(std::fopen(logName.c_str(), "wb"));
      if (!ost.LogFile) {
        engine.LastErrMsg = FormatText("Cannot write log file %s for pass-1 encoding", logName.c_str());
        DefaultLogger().Log(&engine, llFatal, engine.LastErrMsg);
        return kGenericError;
      }
    }
  }
  return 0;
}

}  // namespace

// ------------------------------------------------------------------ opened codecs

void TCustomFFmpeg::CloseEncoder(TOutputStream& ost) {
  if (ost.EncoderContext) {
    lib::av_freep(&ost.EncoderContext->stats_in);
    lib::avcodec_close(ost.EncoderContext.get());
  }
  ost.EncoderClosed = 1;
  RemoveOpened(OpenedCodecs().Encoders, &ost);
}

void TCustomFFmpeg::RegisterOpenedEncoder(TOutputStream& ost) {
  AddOpened(OpenedCodecs().Encoders, static_cast<const TCustomFFmpeg*>(this), &ost);
}

void TCustomFFmpeg::CloseDecoder(TInputStream& ist) {
  if (ist.DecoderContext) lib::avcodec_close(ist.DecoderContext.get());
  ist.DecoderClosed = 1;
  RemoveOpened(OpenedCodecs().Decoders, &ist);
}

void TCustomFFmpeg::CloseOpenedEncoders() {
  for (TOutputStream* ost : TakeOpened(OpenedCodecs().Encoders, this)) {
    if (ost->EncoderContext) {
      lib::av_freep(&ost->EncoderContext->stats_in);
      lib::avcodec_close(ost->EncoderContext.get());
    }
    ost->EncoderClosed = 1;
  }
}

void TCustomFFmpeg::CloseOpenedDecoders() {
  for (TInputStream* ist : TakeOpened(OpenedCodecs().Decoders, this)) {
    if (ist->DecoderContext) lib::avcodec_close(ist->DecoderContext.get());
    ist->DecoderClosed = 1;
  }
}

int TCustomFFmpeg::OpenedEncoderCount() const {
  std::lock_guard<std::mutex> lock(OpenedCodecs().Lock);
  return static_cast<int>(std::count_if(OpenedCodecs().Encoders.begin(), OpenedCodecs().Encoders.end(),
                                        [this](const auto& entry) { return entry.first == this; }));
}

int TCustomFFmpeg::OpenedDecoderCount() const {
  std::lock_guard<std::mutex> lock(OpenedCodecs().Lock);
  return static_cast<int>(std::count_if(OpenedCodecs().Decoders.begin(), OpenedCodecs().Decoders.end(),
                                        [this](const auto& entry) { return entry.first == this; }));
}

// ------------------------------------------------------------------ codec parameters

int TCustomFFmpeg::SetupCopiedStream(TOutputStream& ost, TInputStream& ist, std::string& error) {
  AVFormatContext* oc = MuxerOf(ost);
  AVCodecParameters* out = ost.Stream->codecpar;
  const AVCodecParameters* in = ist.Stream->codecpar;
  const AVCodecContext* decoder = ist.DecoderContext.get();

  if (static_cast<std::int64_t>(in->extradata_size) + AV_INPUT_BUFFER_PADDING_SIZE > kInt32Max) {
    error = "icodec.extradata_size is invalid (too large)";
    return kInvalidArgument;
  }
  const std::uint32_t ownTag = out->codec_tag;
  const int disposition = ost.Stream->disposition;
  // Copies id, type, rates, sizes, layout, field order and the extradata (with its padding).
  if (lib::avcodec_parameters_copy(out, in) < 0) {
    error = "av_mallocz() failed";
    return kOutOfMemory;
  }
  ost.Stream->disposition = disposition;
  if (ownTag != 0) {
    out->codec_tag = ownTag;
  } else if (!KeepSourceCodecTag(oc, in)) {
    out->codec_tag = 0;
  }

  // Time base: the source stream's, with the corrections some muxers need for copied video.
  AVRational timeBase = ist.Stream->time_base;
  const AVRational codecTimeBase = decoder != nullptr ? decoder->time_base : AVRational{0, 1};
  const int ticks = decoder != nullptr && decoder->ticks_per_frame > 0 ? decoder->ticks_per_frame : 1;
  const AVRational realRate = ist.Stream->r_frame_rate;
  const AVRational averageRate = ist.Stream->avg_frame_rate;
  const bool codecTimeBaseKnown = codecTimeBase.num > 0 && codecTimeBase.den > 0;
  if (IsMuxer(oc, "avi")) {
    const bool halfFrameLonger = realRate.num > 0 && averageRate.num > 0 &&
                                 av_q2d(realRate) >= av_q2d(averageRate) &&
                                 0.5 / av_q2d(realRate) > av_q2d(ist.Stream->time_base) &&
                                 (!codecTimeBaseKnown || 0.5 / av_q2d(realRate) > av_q2d(codecTimeBase)) &&
                                 av_q2d(ist.Stream->time_base) < 1.0 / 500 &&
                                 (!codecTimeBaseKnown || av_q2d(codecTimeBase) < 1.0 / 500);
    if ((CopyTb < 0 && halfFrameLonger) || (CopyTb == 2 && realRate.num > 0)) {
      timeBase = AVRational{realRate.den, 2 * realRate.num};
    } else if (codecTimeBaseKnown &&
               ((CopyTb < 0 && av_q2d(codecTimeBase) * ticks > 2 * av_q2d(ist.Stream->time_base) &&
                 av_q2d(ist.Stream->time_base) < 1.0 / 500) ||
                CopyTb == 0)) {
      timeBase = AVRational{codecTimeBase.num * ticks, codecTimeBase.den * 2};
    }
  } else if (!(oc->oformat->flags & AVFMT_VARIABLE_FPS) && !IsMuxer(oc, "mov,mp4,3gp,3g2,psp,ipod,f4v")) {
    if (codecTimeBaseKnown && ((CopyTb < 0 && av_q2d(codecTimeBase) * ticks > av_q2d(ist.Stream->time_base) &&
                                av_q2d(ist.Stream->time_base) < 1.0 / 500) ||
                               CopyTb == 0)) {
      timeBase = AVRational{codecTimeBase.num * ticks, codecTimeBase.den};
    }
  }
  if (out->codec_tag == MKTAG('t', 'm', 'c', 'd') && codecTimeBaseKnown && av_q2d(codecTimeBase) < 1 &&
      av_q2d(codecTimeBase) > 1.0 / 121) {
    timeBase = codecTimeBase;
  }
  if (ost.FrameRate.num > 0 && ost.FrameRate.den > 0) timeBase = AVRational{ost.FrameRate.den, ost.FrameRate.num};
  lib::av_reduce(&timeBase.num, &timeBase.den, timeBase.num, timeBase.den, kInt32Max);
  ost.Stream->time_base = timeBase;

  switch (out->codec_type) {
    case AVMEDIA_TYPE_AUDIO:
      if (AudioVolume != 256) {
        error = "-acodec copy and -vol are incompatible (frames are not decoded)";
        return kInvalidArgument;
      }
      if (OnAudioInputHook || OnAudioOutputHook) {
        error = "-acodec copy and AudioHook are incompatible (frames are not decoded)";
        return kInvalidArgument;
      }
      if (out->codec_id == AV_CODEC_ID_MP3 &&
          (out->block_align == 1 || out->block_align == 1152 || out->block_align == 576)) {
        out->block_align = 0;
      }
      if (out->codec_id == AV_CODEC_ID_AC3) out->block_align = 0;
      break;
    case AVMEDIA_TYPE_VIDEO:
      if (OnVideoInputHook || OnVideoOutputHook) {
        error = "-vcodec copy and VideoHook are incompatible (frames are not decoded)";
        return kInvalidArgument;
      }
      if (OnFrameInputHook || OnFrameOutputHook) {
        error = "-vcodec copy and FrameHook are incompatible (frames are not decoded)";
        return kInvalidArgument;
      }
      if (!HookModules.Empty()) {
        error = "-vcodec copy and -vhook are incompatible (frames are not decoded)";
        return kInvalidArgument;
      }
      if (PreviewFlags != 0) {
        error = "-vcodec copy and PostHooks are incompatible (frames are not decoded)";
        return kInvalidArgument;
      }
      if (out->sample_aspect_ratio.num == 0) {
        out->sample_aspect_ratio = GuessSampleAspectRatio(ist.Stream, decoder);
        ost.Stream->sample_aspect_ratio = out->sample_aspect_ratio;
      }
      ost.Stream->avg_frame_rate = ist.Stream->avg_frame_rate;
      ost.Stream->r_frame_rate = ist.Stream->r_frame_rate;
      break;
    case AVMEDIA_TYPE_SUBTITLE:
    case AVMEDIA_TYPE_DATA:
    case AVMEDIA_TYPE_ATTACHMENT:
      break;
    default:
      error = "invalid codec_type of output stream";
      return kGenericError;
  }
  return 0;
}

int TCustomFFmpeg::SetupEncodedStream(TOutputStream& ost, std::string& error) {
  AVFormatContext* oc = MuxerOf(ost);
  AVCodecContext* enc = ost.EncoderContext.get();
  TInputStream* ist = ost.SourceIndex >= 0 ? InputStreams[static_cast<std::size_t>(ost.SourceIndex)].get() : nullptr;
  const AVMediaType type = ost.Stream->codecpar->codec_type;

  if (ost.Encoder == nullptr) ost.Encoder = lib::avcodec_find_encoder(ost.Stream->codecpar->codec_id);
  if (ost.Encoder == nullptr) {
    error = FormatText("Encoder (codec %s) not found for output stream #%d:%d",
                       lib::avcodec_get_name(ost.Stream->codecpar->codec_id), ost.FileIndex, ost.Index);
    return kInvalidArgument;
  }
  if (ist != nullptr) ist->DecodingNeeded += 1;
  ost.EncodingNeeded = 1;

  if ((type == AVMEDIA_TYPE_VIDEO || type == AVMEDIA_TYPE_AUDIO) && ost.Filter == nullptr) {
    if (ist == nullptr) Fail("Error opening filters!");
    // Deinterlacing needs nothing here: every video input of a graph, simple or complex, gets its
    // deinterlacer right behind the source when the graph is configured.
    TFilterGraph* graph = InitSimpleFilterGraph(*ist, ost);
    if (graph == nullptr || ConfigureFilterGraph(*graph) < 0) Fail("Error opening filters!");
  }
  AVFilterContext* sink = ost.Filter != nullptr ? ost.Filter->Filter : nullptr;

  AVRational frameRate{0, 1};
  if (type == AVMEDIA_TYPE_VIDEO) {
    frameRate = ost.FrameRate;
    if (frameRate.num <= 0 && sink != nullptr) frameRate = lib::av_buffersink_get_frame_rate(sink);
    if (frameRate.num <= 0 && ist != nullptr) frameRate = ist->FrameRate;
    if (frameRate.num <= 0 && ist != nullptr) frameRate = ist->Stream->r_frame_rate;
    if (frameRate.num <= 0 || frameRate.den <= 0) frameRate = AVRational{25, 1};
    if (ost.Encoder->supported_framerates != nullptr && ost.ForceFps == 0) {
      const int nearest = lib::av_find_nearest_q_idx(frameRate, ost.Encoder->supported_framerates);
      frameRate = ost.Encoder->supported_framerates[nearest];
    }
    ost.FrameRate = frameRate;
  }

  switch (type) {
    case AVMEDIA_TYPE_AUDIO: {
      if (sink == nullptr) Fail("Error opening filters!");
      enc->sample_fmt = static_cast<AVSampleFormat>(lib::av_buffersink_get_format(sink));
      enc->sample_rate = lib::av_buffersink_get_sample_rate(sink);
      lib::av_channel_layout_uninit(&enc->ch_layout);
      const int copied = lib::av_buffersink_get_ch_layout(sink, &enc->ch_layout);
      if (copied < 0) return copied;
      enc->time_base = AVRational{1, enc->sample_rate};
      break;
    }
    case AVMEDIA_TYPE_VIDEO: {
      if (sink == nullptr) Fail("Error opening filters!");
      enc->time_base = AVRational{frameRate.den, frameRate.num};
      if (enc->time_base.num == 0 || enc->time_base.den == 0) enc->time_base = lib::av_buffersink_get_time_base(sink);
      if (av_q2d(enc->time_base) < 0.001 &&
          (VideoSyncMethod == 1 || (VideoSyncMethod == -1 && !(oc->oformat->flags & AVFMT_VARIABLE_FPS)))) {
        LibraryLog(AV_LOG_WARNING,
                   "Frame rate very high for a muxer not efficiently supporting it.\nPlease consider specifying a "
                   "lower framerate, a different muxer or -vsync 2\n");
      }
      enc->framerate = frameRate;
      enc->width = lib::av_buffersink_get_w(sink);
      enc->height = lib::av_buffersink_get_h(sink);
      enc->pix_fmt = static_cast<AVPixelFormat>(lib::av_buffersink_get_format(sink));
      if (ost.FrameAspectRatio != 0 && enc->width > 0 && enc->height > 0) {
        enc->sample_aspect_ratio =
            NearestRational(static_cast<double>(ost.FrameAspectRatio) * enc->height / enc->width, 255);
      } else {
        enc->sample_aspect_ratio = lib::av_buffersink_get_sample_aspect_ratio(sink);
      }
      ost.Stream->sample_aspect_ratio = enc->sample_aspect_ratio;
      if (ist == nullptr || ist->DecoderContext == nullptr || enc->width != ist->DecoderContext->width ||
          enc->height != ist->DecoderContext->height || enc->pix_fmt != ist->DecoderContext->pix_fmt) {
        enc->bits_per_raw_sample = FrameBitsPerRawSample;
      }

      if (!ost.ForcedKeyFrames.empty()) {
        const int parsed = ParseForcedKeyFrames(this, ost, oc, enc);
        if (parsed < 0) return parsed;
      }
      break;
    }
    case AVMEDIA_TYPE_SUBTITLE:
      enc->time_base = AVRational{1, 1000};
      if (enc->width == 0 && ist != nullptr && ist->DecoderContext) {
        enc->width = ist->DecoderContext->width;
        enc->height = ist->DecoderContext->height;
      }
      break;
    default:
      break;
  }

  if ((enc->flags & (AV_CODEC_FLAG_PASS1 | AV_CODEC_FLAG_PASS2)) != 0) return OpenPassLogFile(*this, ost, enc);
  return 0;
}

// Bitstream filters were created with the stream; they are initialised once the stream's
// parameters are final, each taking the previous one's output.
int TCustomFFmpeg::InitBitstreamFilters(TOutputStream& ost) {
  const AVCodecParameters* in = ost.Stream->codecpar;
  AVRational timeBase = ost.EncodingNeeded != 0 ? ost.EncoderContext->time_base : ost.Stream->time_base;
  for (BsfContextPtr& filter : ost.BitstreamFilters) {
    int r = lib::avcodec_parameters_copy(filter->par_in, in);
    if (r < 0) return r;
    filter->time_base_in = timeBase;
    r = lib::av_bsf_init(filter.get());
    if (r < 0) {
      DefaultLogger().LogFmt(this, llError, "%s", ErrorText(FormatText("Error initializing bitstream filter: %s",
                                                                       filter->filter->name),
                                                            r)
                                                      .c_str());
      return r;
    }
    in = filter->par_out;
    timeBase = filter->time_base_out;
  }
  if (!ost.BitstreamFilters.empty()) {
    const int r = lib::avcodec_parameters_copy(ost.Stream->codecpar, in);
    if (r < 0) return r;
    ost.Stream->time_base = timeBase;
  }
  return 0;
}

int TCustomFFmpeg::OpenEncoder(TOutputStream& ost, std::string& error) {
  AVCodecContext* enc = ost.EncoderContext.get();
  TInputStream* ist = ost.SourceIndex >= 0 ? InputStreams[static_cast<std::size_t>(ost.SourceIndex)].get() : nullptr;
  if (ist != nullptr && ist->DecoderContext && ist->DecoderContext->subtitle_header != nullptr) {
    const int size = ist->DecoderContext->subtitle_header_size;
    enc->subtitle_header = static_cast<std::uint8_t*>(lib::av_mallocz(static_cast<std::size_t>(size) + 1));
    if (enc->subtitle_header == nullptr) {
      error = "av_malloc failed";
      return kOutOfMemory;
    }
    std::memcpy(enc->subtitle_header, ist->DecoderContext->subtitle_header, static_cast<std::size_t>(size));
    enc->subtitle_header_size = size;
  }
  if (JoinMode != 0) {
    ost.SavedCodecId = enc->codec_id != AV_CODEC_ID_NONE ? enc->codec_id : ost.Encoder->id;
    ost.SavedOptions.reset();
    lib::av_dict_copy(DictionaryRef(ost.SavedOptions), ost.EncoderOptions.get(), 0);
    ost.SavedMaxBFrames = enc->max_b_frames;
  }
  if (std::strcmp(ost.Encoder->name, "mjpeg") == 0) lib::av_dict_set(DictionaryRef(ost.EncoderOptions), "threads", "1", 0);
  lib::av_dict_set(DictionaryRef(ost.EncoderOptions), "threads", "auto", AV_DICT_DONT_OVERWRITE);

  PauseGate.Wait();
  const int opened = lib::avcodec_open2(enc, ost.Encoder, DictionaryRef(ost.EncoderOptions));
  if (opened < 0) {
    if (opened == AVERROR_EXPERIMENTAL) AbortCodecExperimental(ost.Encoder, true);
    error = FormatText(
        "Error while opening encoder for output stream #%d:%d (%s) - maybe incorrect parameters such as bit_rate, "
        "rate, width or height. %s",
        ost.FileIndex, ost.Index, MediaTypeName(enc->codec_type).c_str(), kCheckLog);
    return opened;
  }
  ost.EncoderOpened = 1;
  AddOpened(OpenedCodecs().Encoders, static_cast<const TCustomFFmpeg*>(this), &ost);
  if (enc->codec_type == AVMEDIA_TYPE_AUDIO && !(ost.Encoder->capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE) &&
      ost.Filter != nullptr && ost.Filter->Filter != nullptr && enc->frame_size > 0) {
    lib::av_buffersink_set_frame_size(ost.Filter->Filter, static_cast<unsigned>(enc->frame_size));
  }
  CheckUnusedOptions(ost.EncoderOptions.get());
  if (JoinMode != 0) {
    ost.EncoderOptions.reset();
    lib::av_dict_copy(DictionaryRef(ost.EncoderOptions), ost.SavedOptions.get(), 0);
  }
  if (enc->bit_rate > 0 && enc->bit_rate < 1000) {
    DefaultLogger().Log(this, llWarning,
                        "The bitrate parameter is set too low. It takes bits/s as argument, not kbits/s");
  }
  ExtraSize += enc->extradata_size;

  // The muxer learns the opened encoder's parameters through the stream.
  const int copied = lib::avcodec_parameters_from_context(ost.Stream->codecpar, enc);
  if (copied < 0) return copied;
  ost.Stream->time_base = enc->time_base;
  if (enc->codec_type == AVMEDIA_TYPE_VIDEO) {
    ost.Stream->avg_frame_rate = ost.FrameRate;
    ost.Stream->r_frame_rate = ost.FrameRate;
  }
  return 0;
}

// ------------------------------------------------------------------ TranscodeInit

void TCustomFFmpeg::StartRateEmulation() {
  for (const auto& file : InputFiles) {
    if (file->RateEmu == 0) continue;
    for (int j = 0; j < file->StreamCount; ++j) {
      InputStreams[static_cast<std::size_t>(file->FirstStreamIndex + j)]->Start = MonotonicMicroseconds();
    }
  }
}

int TCustomFFmpeg::CheckOutputsHaveStreams() {
  for (int i = 0; i < OutputFileCount(); ++i) {
    AVFormatContext* oc = OutputFiles[static_cast<std::size_t>(i)]->Context.get();
    if (oc == nullptr) continue;
    if (oc->nb_streams == 0 && !(oc->oformat->flags & AVFMT_NOSTREAMS)) {
      lib::av_dump_format(oc, i, oc->url, 1);
      LastErrMsg = FormatText("Output file #%d does not contain any stream", i);
      DefaultLogger().Log(this, llError, LastErrMsg);
      return kInvalidArgument;
    }
  }
  return 0;
}

int TCustomFFmpeg::ConfigureComplexGraphs() {
  for (const auto& graph : FilterGraphs) {
    if (!graph->Graph) continue;
    const int ret = lib::avfilter_graph_config(graph->Graph.get(), nullptr);
    if (ret < 0) return ret;
  }
  return 0;
}

void TCustomFFmpeg::SetupJoinGroupStream(TOutputStream& ost) {
  // Join groups after the first share the muxer streams and encoders of the first group.
  // They still get their own filter graphs, fed by their own input.
  if (ost.StreamCopy != 0) return;
  TInputStream* source = ost.SourceIndex >= 0 ? InputStreams[static_cast<std::size_t>(ost.SourceIndex)].get() : nullptr;
  if (source != nullptr) source->DecodingNeeded += 1;
  ost.EncodingNeeded = 1;
  const AVMediaType type = ost.Stream->codecpar->codec_type;
  if ((type == AVMEDIA_TYPE_VIDEO || type == AVMEDIA_TYPE_AUDIO) && ost.Filter == nullptr) {
    if (source == nullptr) Fail("Error opening filters!");
    TFilterGraph* graph = InitSimpleFilterGraph(*source, ost);
    if (graph == nullptr || ConfigureFilterGraph(*graph) < 0) Fail("Error opening filters!");
  }
}

int TCustomFFmpeg::OpenEncoders(int setupCount, std::string& error) {
  for (int i = 0; i < setupCount; ++i) {
    TOutputStream& ost = *OutputStreams[static_cast<std::size_t>(i)];
    if (ost.EncodingNeeded != 0) {
      const int ret = OpenEncoder(ost, error);
      if (ret < 0) return ret;
    } else if (ost.EncoderContext && ost.EncoderOptions) {
      lib::av_opt_set_dict(ost.EncoderContext.get(), DictionaryRef(ost.EncoderOptions));
    }
    const int ret = InitBitstreamFilters(ost);
    if (ret < 0) {
      error = ErrorText("Error initializing bitstream filters", ret);
      return ret;
    }
  }
  return 0;
}

int TCustomFFmpeg::OpenDecoder(TInputStream& ist, std::string& error) {
  if (ist.Decoder == nullptr) {
    error = FormatText("Decoder (codec %s) not found for input stream #%d:%d",
                       lib::avcodec_get_name(ist.Stream->codecpar->codec_id), ist.FileIndex, ist.Stream->index);
    return kInvalidArgument;
  }
  AVCodecContext* dec = ist.DecoderContext.get();
  dec->pkt_timebase = ist.Stream->time_base;
  lib::av_dict_set(DictionaryRef(ist.DecoderOptions), "threads", "auto", AV_DICT_DONT_OVERWRITE);
  PauseGate.Wait();
  const int opened = lib::avcodec_open2(dec, ist.Decoder, DictionaryRef(ist.DecoderOptions));
  if (opened < 0) {
    if (opened == AVERROR_EXPERIMENTAL) AbortCodecExperimental(ist.Decoder, false);
    error = FormatText("Error while opening decoder for input stream #%d:%d", ist.FileIndex, ist.Stream->index);
    return opened;
  }
  AddOpened(OpenedCodecs().Decoders, static_cast<const TCustomFFmpeg*>(this), &ist);
  CheckUnusedOptions(ist.DecoderOptions.get());
  return 0;
}

int TCustomFFmpeg::OpenDecoders(int setupCount, std::string& error) {
  // The decoders allocate their pictures from the library's own reference-counted pools (the
  // default get_buffer2); a filter holding a picture keeps its buffer alive by reference, which
  // is what a pool of the engine's own would have to provide.
  for (int i = 0; i < InputStreamCount(); ++i) {
    TInputStream& ist = *InputStreams[static_cast<std::size_t>(i)];
    if (ist.DecodingNeeded != 0) {
      const int ret = OpenDecoder(ist, error);
      if (ret < 0) {
        // A decoder that cannot open leaves no encoder open behind it.
        for (int j = 0; j < setupCount; ++j) {
          TOutputStream& ost = *OutputStreams[static_cast<std::size_t>(j)];
          if (ost.EncoderOpened != 0 && ost.EncoderClosed == 0) CloseEncoder(ost);
        }
        return ret;
      }
    }
    ist.NextPts = AV_NOPTS_VALUE;
    ist.NextDts = AV_NOPTS_VALUE;
    ist.IsStart = 1;
  }
  return 0;
}

void TCustomFFmpeg::DiscardUnusedPrograms() {
  for (const auto& file : InputFiles) {
    AVFormatContext* ic = file->Context.get();
    if (ic == nullptr) continue;
    for (unsigned p = 0; p < ic->nb_programs; ++p) {
      AVProgram* program = ic->programs[p];
      AVDiscard discard = AVDISCARD_ALL;
      for (unsigned k = 0; k < program->nb_stream_indexes; ++k) {
        const int index = file->FirstStreamIndex + static_cast<int>(program->stream_index[k]);
        if (index < InputStreamCount() && InputStreams[static_cast<std::size_t>(index)]->Discard == 0) {
          discard = AVDISCARD_DEFAULT;
          break;
        }
      }
      program->discard = discard;
    }
  }
}

int TCustomFFmpeg::WriteOutputHeaders(std::string& error, bool& allRtp) {
  // Join groups all write into the first output.
  const int headerCount = JoinMode != 0 ? std::min(1, OutputFileCount()) : OutputFileCount();
  for (int i = 0; i < headerCount; ++i) {
    AVFormatContext* oc = OutputFiles[static_cast<std::size_t>(i)]->Context.get();
    oc->interrupt_callback = WriteInterrupt;
    StampWriteStart();
    DictionaryPtr options;
    lib::av_dict_copy(DictionaryRef(options), OutputFiles[static_cast<std::size_t>(i)]->MuxerOptions.get(), 0);
    const int written = lib::avformat_write_header(oc, DictionaryRef(options));
    WriteStartTime.store(kNoLimit);
    if (written < 0) {
      error = FormatText("Could not write header for output file #%d (incorrect codec parameters ?): %s", i,
                         ErrorText(written).c_str());
      return kInvalidArgument;
    }
    if (std::strcmp(oc->oformat->name, "rtp") != 0) allRtp = false;
  }
  return 0;
}

void TCustomFFmpeg::LogOutputLayout() {
  const int dumpCount = JoinMode != 0 ? std::min(1, OutputFileCount()) : OutputFileCount();
  for (int i = 0; i < dumpCount; ++i) {
    AVFormatContext* oc = OutputFiles[static_cast<std::size_t>(i)]->Context.get();
    if (oc != nullptr) lib::av_dump_format(oc, i, oc->url, 1);
  }
  LogStreamMapping();
}

void TCustomFFmpeg::LogSessionDescription() {
  std::vector<AVFormatContext*> contexts;
  for (const auto& file : OutputFiles) contexts.push_back(file->Context.get());
  std::vector<char> sdp(16384);
  lib::av_sdp_create(contexts.data(), static_cast<int>(contexts.size()), sdp.data(), static_cast<int>(sdp.size()));
  std::string text(sdp.data());
  while (!text.empty() && (text.back() == '\r' || text.back() == '\n' || text.back() == ' ')) text.pop_back();
  DefaultLogger().Log(this, llInfo, "SDP:\r\n" + text);
}

int TCustomFFmpeg::TranscodeInit() {
  std::string error;  // the failing step's text: logged after the report
  StartRateEmulation();
  int ret = CheckOutputsHaveStreams();
  if (ret < 0) return ret;
  ret = ConfigureComplexGraphs();
  if (ret < 0) return ret;

  SetActiveRange();
  const int setupCount = JoinMode != 0 ? std::min(JoinStreamCount, OutputStreamCount()) : OutputStreamCount();

  // Codec parameters. A copied stream's failure, or an encoded one's that has already logged
  // its text, ends the setup before the report.
  for (int i = 0; i < OutputStreamCount() && ret >= 0; ++i) {
    TOutputStream& ost = *OutputStreams[static_cast<std::size_t>(i)];
    if (ost.AttachmentFileName.size() > 0 || ost.Stream->codecpar->codec_type == AVMEDIA_TYPE_ATTACHMENT) continue;
    if (JoinMode != 0 && i >= setupCount) {
      SetupJoinGroupStream(ost);
      continue;
    }
    TInputStream* ist = ost.SourceIndex >= 0 ? InputStreams[static_cast<std::size_t>(ost.SourceIndex)].get() : nullptr;
    if (ist != nullptr) {
      ost.Stream->disposition = ist->Stream->disposition;
      ost.EncoderContext->bits_per_raw_sample = ist->Stream->codecpar->bits_per_raw_sample;
      ost.EncoderContext->chroma_sample_location = ist->Stream->codecpar->chroma_location;
    }
    if (ost.StreamCopy != 0) {
      if (ist == nullptr) {
        error = "invalid codec_type of output stream";
        ret = kGenericError;
        break;
      }
      std::string copyError;
      ret = SetupCopiedStream(ost, *ist, copyError);
      if (ret < 0) {
        LastErrMsg = copyError;
        DefaultLogger().Log(this, llError, LastErrMsg);
        return ret;
      }
    } else {
      ret = SetupEncodedStream(ost, error);
      if (ret < 0 && error.empty() && !LastErrMsg.empty()) return ret;
    }
  }

  if (ret >= 0) ret = OpenEncoders(setupCount, error);
  if (ret >= 0) ret = OpenDecoders(setupCount, error);
  // Programs whose streams are all unused are not demuxed at all.
  if (ret >= 0) DiscardUnusedPrograms();
  bool allRtp = true;
  if (ret >= 0) ret = WriteOutputHeaders(error, allRtp);

  LogOutputLayout();
  // The detail goes to the log; the caller reports the code (see Transcode).
  if (!error.empty() && ret < 0) {
    DefaultLogger().Log(this, llError, error);
    return ret;
  }
  if (ret < 0) return ret;
  // Outputs that are all RTP streams are described for the receiver.
  if (allRtp && OutputFileCount() > 0) LogSessionDescription();
  return 0;
}

void TCustomFFmpeg::LogStreamMapping() {
  DefaultLogger().Log(this, llInfo, "Stream mapping:");
  const bool manyGraphs = FilterGraphCount() > 1;
  for (const auto& graph : FilterGraphs) {
    if (graph->Description.empty()) continue;  // simple graphs show with their streams
    for (const auto& input : graph->Inputs) {
      if (input->Filter == nullptr || input->Input == nullptr) continue;
      std::string line = FormatText("  Stream #%d:%d (%s) -> %s", input->Input->FileIndex, input->Input->Stream->index,
                                    input->Input->Decoder != nullptr ? input->Input->Decoder->name : "?",
                                    input->Name.c_str());
      if (manyGraphs) line += FormatText(" (graph %d)", graph->Index);
      DefaultLogger().Log(this, llInfo, line);
    }
  }
  for (int i = 0; i < OutputStreamCount(); ++i) {
    const TOutputStream& ost = *OutputStreams[static_cast<std::size_t>(i)];
    const int fileIndex = JoinMode != 0 ? 0 : ost.FileIndex;
    std::string line;
    if (!ost.AttachmentFileName.empty()) {
      line = FormatText("  File %s -> Stream #%d:%d", ost.AttachmentFileName.c_str(), fileIndex, ost.Index);
    } else if (ost.Filter != nullptr && ost.Filter->Graph != nullptr && !ost.Filter->Graph->Description.empty()) {
      line = "  " + ost.Filter->Name;
      if (manyGraphs) line += FormatText(" (graph %d)", ost.Filter->Graph->Index);
      line += FormatText(" -> Stream #%d:%d (%s)", fileIndex, ost.Index,
                         ost.Encoder != nullptr ? ost.Encoder->name : "?");
    } else {
      const TInputStream* source =
          ost.SourceIndex >= 0 ? InputStreams[static_cast<std::size_t>(ost.SourceIndex)].get() : nullptr;
      line = FormatText("  Stream #%d:%d -> #%d:%d", source != nullptr ? source->FileIndex : -1,
                        source != nullptr ? source->Stream->index : -1, fileIndex, ost.Index);
      if (ost.SyncInput != nullptr && ost.SyncInput != source) {
        line += FormatText(" [sync #%d:%d]", ost.SyncInput->FileIndex, ost.SyncInput->Stream->index);
      }
      if (ost.StreamCopy != 0) {
        line += " (copy)";
      } else {
        line += FormatText(" (%s -> %s)", source != nullptr && source->Decoder != nullptr ? source->Decoder->name : "?",
                           ost.Encoder != nullptr ? ost.Encoder->name : "?");
      }
    }
    line += " (" + MediaTypeName(ost.Stream != nullptr ? ost.Stream->codecpar->codec_type : AVMEDIA_TYPE_UNKNOWN) + ")";
    DefaultLogger().Log(this, llInfo, line);
  }
}

// Closes the two-pass files and frees what the setup allocated per stream; runs when setup raises
// and after the loop.
void TCustomFFmpeg::FreeStreamSetup() {
  const int count = JoinMode != 0 ? std::min(JoinStreamCount, OutputStreamCount()) : OutputStreamCount();
  for (int i = 0; i < count; ++i) {
    TOutputStream& ost = *OutputStreams[static_cast<std::size_t>(i)];
    ost.LogFile.reset();
    if (ost.EncoderContext) {
      lib::av_freep(&ost.EncoderContext->subtitle_header);
      ost.EncoderContext->subtitle_header_size = 0;
    }
    ost.ForcedKfPts.clear();
    ost.ForcedKfCount = 0;
  }
}

// ------------------------------------------------------------------ Cleanup

void TCustomFFmpeg::Cleanup() {
  // Nothing of this engine may stay in the process-wide lists once its records are gone.
  CloseOpenedEncoders();
  CloseOpenedDecoders();

  // Graphs go first, and the streams' pointers into them before the graphs.
  for (const auto& ist : InputStreams) ist->Filters.clear();
  for (const auto& ost : OutputStreams) ost->Filter = nullptr;
  FilterGraphs.clear();
  SubtitleBuffer.clear();
  SubtitleBuffer.shrink_to_fit();

  // Output streams.
  const int count = JoinMode != 0 ? std::min(JoinStreamCount, OutputStreamCount()) : OutputStreamCount();
  for (int i = 0; i < count; ++i) {
    TOutputStream& ost = *OutputStreams[static_cast<std::size_t>(i)];
    if (ost.EncoderOpened == 0) {
      if (ost.OwnsOptions != 0) ost.EncoderOptions.reset();
    }
    ost.LogFile.reset();
  }
  MuxerClocks.clear();
  OutputStreams.clear();

  // Output files: an output left empty (a failed header, nothing written) leaves no file.
  for (std::size_t i = 0; i < OutputFiles.size(); ++i) {
    TOutputFile& of = *OutputFiles[i];
    if (JoinMode != 0 && i > 0) {
      // Join records past the first share the first one's muxer.
      (void)of.Context.release();
      continue;
    }
    AVFormatContext* oc = of.Context.get();
    std::string fileName;
    const bool hasFile = oc != nullptr && oc->oformat != nullptr && !(oc->oformat->flags & AVFMT_NOFILE);
    if (hasFile && oc->url != nullptr) fileName = FromLibraryFileName(oc->url);
    of.CloseOutput();
    of.MuxerOptions.reset();
    if (hasFile && !fileName.empty() && FileSizeOrMinusOne(fileName) == 0) ::unlink(fileName.c_str());
  }
  OutputFiles.clear();

  // Inputs last: the outputs' streams and graphs referred to them.
  InputStreams.clear();
  InputFiles.clear();

  // What is left of the task.
  VstatsFile.reset();
  VstatsFileName.clear();
  ReleaseHookModules(HookModules);
  PreprocessBuffer.clear();
  PreprocessBuffer.shrink_to_fit();
  HookBuffer.clear();
  HookBuffer.shrink_to_fit();
  ClosePreviewWindow();
}

}  // namespace lumivor
