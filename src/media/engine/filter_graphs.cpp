// Filter graphs: simple graphs between one input and one output stream, complex graphs from
// "filter_complex" whose inputs are bound by label or by type, the source and sink filters with
// their argument texts, and the conversion filters that options and encoders call for.
//
// List arguments ("format", "aformat", "pan") are separated by "|": this generation of the filter
// library reads ":" as the separator between options, so a ":"-joined list would not parse.

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>

#include "media/engine/ffmpeg_opt.h"
#include "media/runtime/ff_log.h"
#include "media/runtime/format_text.h"

namespace lumivor {

namespace {

constexpr int kInvalidArgument = -EINVAL;
constexpr int kOutOfMemory = -ENOMEM;

// The parsed lists of unconnected pads; freed on every way out.
struct InOutList {
  AVFilterInOut* Head = nullptr;
  ~InOutList() { lib::avfilter_inout_free(&Head); }
};

int CreateFilter(AVFilterContext** filter, const char* kind, const std::string& name, const std::string& args,
                 AVFilterGraph* graph) {
  const AVFilter* definition = lib::avfilter_get_by_name(kind);
  if (definition == nullptr) return AVERROR_FILTER_NOT_FOUND;
  return lib::avfilter_graph_create_filter(filter, definition, name.c_str(), args.empty() ? nullptr : args.c_str(),
                                           nullptr, graph);
}

AVMediaType PadType(const AVFilterInOut* io, bool input) {
  const AVFilterContext* filter = io->filter_ctx;
  return lib::avfilter_pad_get_type(input ? filter->input_pads : filter->output_pads, io->pad_idx);
}

// The filter's kind, then ":" and the pad name when the filter has more than one pad on that side.
std::string DescribeLink(const AVFilterInOut* io, bool input) {
  const AVFilterContext* filter = io->filter_ctx;
  std::string text = filter->filter->name;
  const unsigned padCount = input ? filter->nb_inputs : filter->nb_outputs;
  if (padCount > 1) {
    text += ":";
    text += lib::avfilter_pad_get_name(input ? filter->input_pads : filter->output_pads, io->pad_idx);
  }
  return text;
}

std::string PixelFormatName(int format) {
  const char* name = lib::av_get_pix_fmt_name(static_cast<AVPixelFormat>(format));
  return name != nullptr ? name : "none";
}

std::string SampleFormatName(int format) {
  const char* name = lib::av_get_sample_fmt_name(static_cast<AVSampleFormat>(format));
  return name != nullptr ? name : "none";
}

// "key=value:key=value", as the library's option strings take a dictionary.
std::string DictionaryText(const AVDictionary* dictionary) {
  std::string text;
  const AVDictionaryEntry* entry = nullptr;
  while ((entry = lib::av_dict_get(dictionary, "", entry, AV_DICT_IGNORE_SUFFIX)) != nullptr) {
    if (!text.empty()) text += ":";
    text += entry->key;
    text += "=";
    text += entry->value;
  }
  return text;
}

std::string LayoutText(const AVChannelLayout& layout) {
  if (layout.order == AV_CHANNEL_ORDER_NATIVE) {
    return FormatText("0x%llx", static_cast<unsigned long long>(layout.u.mask));
  }
  // A count without named channels, in the library's own "<n>c" form.
  if (layout.nb_channels > 0) return FormatText("%dc", layout.nb_channels);
  return std::string();
}

std::uint64_t DefaultLayoutMask(int channels) {
  AVChannelLayout layout{};
  lib::av_channel_layout_default(&layout, channels);
  const std::uint64_t mask = layout.order == AV_CHANNEL_ORDER_NATIVE ? layout.u.mask : 0;
  lib::av_channel_layout_uninit(&layout);
  return mask;
}

// Where the next filter of a chain is linked: a filter's output pad.
struct ChainEnd {
  AVFilterContext* Filter;
  unsigned Pad;
};

// Input chains are built from the graph's pad backwards: each new filter goes in front of the
// chain's first one, and the source is linked last.
int InsertInFront(ChainEnd& first, AVFilterGraph* graph, const char* kind, const std::string& name,
                  const std::string& args) {
  AVFilterContext* filter = nullptr;
  int created = CreateFilter(&filter, kind, name, args, graph);
  if (created < 0) return created;
  created = lib::avfilter_link(filter, 0, first.Filter, first.Pad);
  if (created < 0) return created;
  first = {filter, 0};
  return 0;
}

// The rate the pictures of an input stream come at, when no rate was forced on it.
AVRational GuessInputFrameRate(const AVStream* st, const AVCodecContext* codec) {
  AVRational frameRate = st->r_frame_rate;
  // A codec that counts several ticks per frame (field-coded video) whose own rate is well below
  // the stream's, while the average rate disagrees with the stream's too, tells the true rate
  // better than the stream does.
  const AVRational codecRate{codec->time_base.den, codec->time_base.num * codec->ticks_per_frame};
  const double real = frameRate.den > 0 ? static_cast<double>(frameRate.num) / frameRate.den : 0;
  const double codecValue = codecRate.den > 0 ? static_cast<double>(codecRate.num) / codecRate.den : 0;
  const double average =
      st->avg_frame_rate.den > 0 ? static_cast<double>(st->avg_frame_rate.num) / st->avg_frame_rate.den : 0;
  if (codec->ticks_per_frame > 1 && codecRate.num > 0 && codecRate.den > 0 && real > 0 &&
      codecValue < real * 0.7 && std::fabs(1.0 - average / real) > 0.1) {
    frameRate = codecRate;
  }
  return frameRate;
}

}  // namespace

// ------------------------------------------------------------------ graph records

TFilterGraph* TCustomFFmpegOpt::InitSimpleFilterGraph(TInputStream& ist, TOutputStream& ost) {
  try {
    auto graph = std::make_unique<TFilterGraph>();
    graph->Index = FilterGraphCount();

    auto output = std::make_unique<TOutputFilter>();
    output->Output = &ost;
    output->Graph = graph.get();
    auto input = std::make_unique<TInputFilter>();
    input->Input = &ist;
    input->Graph = graph.get();

    // Reserve first so that nothing below can throw once records point at each other.
    ist.Filters.reserve(ist.Filters.size() + 1);
    FilterGraphs.reserve(FilterGraphs.size() + 1);
    graph->Outputs.reserve(1);
    graph->Inputs.reserve(1);

    ost.Filter = output.get();
    graph->Outputs.push_back(std::move(output));
    ist.Filters.push_back(input.get());
    graph->Inputs.push_back(std::move(input));
    FilterGraphs.push_back(std::move(graph));
    return FilterGraphs.back().get();
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

int TCustomFFmpegOpt::InputFeedsGraph(const TFilterGraph& fg, const TInputStream& ist) {
  for (const auto& input : fg.Inputs) {
    if (input->Input == &ist) return 1;
  }
  return 0;
}

// ------------------------------------------------------------------ binding complex graphs

void TCustomFFmpegOpt::InitInputFilter(TFilterGraph& fg, AVFilterInOut* in) {
  const AVMediaType type = PadType(in, true);
  if (type != AVMEDIA_TYPE_VIDEO && type != AVMEDIA_TYPE_AUDIO) {
    Fail("Only video and audio filters supported currently.");
  }

  TInputStream* ist = nullptr;
  if (in->name != nullptr) {
    char* rest = nullptr;
    const long fileIndex = std::strtol(in->name, &rest, 0);
    if (fileIndex < 0 || fileIndex >= InputFileCount()) {
      FailFmt("Invalid file index %d in filtergraph description %s.", static_cast<int>(fileIndex),
              fg.Description.c_str());
    }
    const TInputFile& file = *InputFiles[static_cast<std::size_t>(fileIndex)];
    AVFormatContext* s = file.Context.get();
    const char* specifier = *rest == ':' ? rest + 1 : rest;
    for (unsigned i = 0; i < s->nb_streams; ++i) {
      const AVMediaType streamType = s->streams[i]->codecpar->codec_type;
      // A subtitle stream can feed a video pad: it is drawn onto a canvas.
      if (streamType != type && !(type == AVMEDIA_TYPE_VIDEO && streamType == AVMEDIA_TYPE_SUBTITLE)) continue;
      if (MatchStreamSpecifier(s, s->streams[i], specifier) == 1) {
        ist = InputStreams[static_cast<std::size_t>(file.FirstStreamIndex) + i].get();
        break;
      }
    }
    if (ist == nullptr) {
      FailFmt("Stream specifier \"%s\" in filtergraph description %s matches no streams.", specifier,
              fg.Description.c_str());
    }
  } else {
    for (const auto& candidate : InputStreams) {
      if (candidate->Stream->codecpar->codec_type == type && candidate->Discard != 0) {
        ist = candidate.get();
        break;
      }
    }
    if (ist == nullptr) {
      FailFmt("Cannot find a matching stream for unlabeled input pad %d on filter %s", in->pad_idx,
              in->filter_ctx->name);
    }
  }

  ist->Discard = 0;
  ist->Stream->discard = AVDISCARD_DEFAULT;
  ist->DecodingNeeded++;
  try {
    auto input = std::make_unique<TInputFilter>();
    input->Input = ist;
    input->Graph = &fg;
    ist->Filters.reserve(ist->Filters.size() + 1);
    fg.Inputs.reserve(fg.Inputs.size() + 1);
    ist->Filters.push_back(input.get());
    fg.Inputs.push_back(std::move(input));
  } catch (const std::bad_alloc&) {
    Fail("av_mallocz() failed");
  }
}

int TCustomFFmpegOpt::InitOutputFilter(TOutputFilter& ofilter, TOptionsContext& o, AVFormatContext* oc) {
  AVFilterInOut* pending = ofilter.PendingOutput.get();
  TOutputStream* ost = nullptr;
  switch (PadType(pending, false)) {
    case AVMEDIA_TYPE_VIDEO:
      ost = NewVideoStream(o, oc, -1);
      break;
    case AVMEDIA_TYPE_AUDIO:
      ost = NewAudioStream(o, oc, -1);
      break;
    default:
      Fail("Only video and audio filters are supported currently.");
  }
  ost->SourceIndex = -1;
  ost->Filter = &ofilter;
  ofilter.Output = ost;

  if (ost->StreamCopy != 0) {
    FailFmt(
        "Streamcopy requested for output stream %d:%d, which is fed from a complex filtergraph. Filtering and "
        "streamcopy cannot be used together.",
        ost->FileIndex, ost->Index);
  }
  if (ConfigureOutputFilter(*ofilter.Graph, ofilter, pending) < 0) Fail("Error configuring filter.");
  ofilter.PendingOutput.reset();
  return 0;
}

// ------------------------------------------------------------------ configuring

int TCustomFFmpegOpt::ConfigureFilterGraph(TFilterGraph& fg) {
  const bool simple = fg.IsSimple();
  const bool isNew = !fg.Graph;
  const std::string description = simple ? fg.Outputs[0]->Output->FilterSpec : fg.Description;

  // The filter instances of the old graph go with it; the records are pointed at the new ones below.
  fg.Graph.reset(lib::avfilter_graph_alloc());
  if (!fg.Graph) return kOutOfMemory;
  AVFilterGraph* graph = fg.Graph.get();

  if (simple) {
    const TOutputStream& ost = *fg.Outputs[0]->Output;
    graph->scale_sws_opts =
        lib::av_strdup(FormatText("flags=0x%X", static_cast<unsigned>(ost.SwsFlags)).c_str());
    if (graph->scale_sws_opts == nullptr) return kOutOfMemory;
    const std::string resamplerText = DictionaryText(ost.ResamplerOptions.get());
    if (!resamplerText.empty()) {
      const int set = lib::av_opt_set(graph, "aresample_swr_opts", resamplerText.c_str(), 0);
      if (set < 0) return set;
    }
    // ResampleOptions were for the older resampling library, which this generation's filters no
    // longer offer; the graph has nowhere to take them.
  }

  InOutList inputs;
  InOutList outputs;
  int result = lib::avfilter_graph_parse2(graph, description.c_str(), &inputs.Head, &outputs.Head);
  if (result < 0) return result;

  if (simple && (inputs.Head == nullptr || inputs.Head->next != nullptr || outputs.Head == nullptr ||
                 outputs.Head->next != nullptr)) {
    LibraryLog(AV_LOG_ERROR, "Simple filtergraph \"%s\" does not have exactly one input and output.\n",
               description.c_str());
    return kInvalidArgument;
  }

  if (!simple && isNew) {
    for (AVFilterInOut* cur = inputs.Head; cur != nullptr; cur = cur->next) InitInputFilter(fg, cur);
  }

  std::size_t i = 0;
  for (AVFilterInOut* cur = inputs.Head; cur != nullptr; cur = cur->next, ++i) {
    // A reconfigured description keeps its pads; a different count would be a changed graph.
    if (i >= fg.Inputs.size()) return kInvalidArgument;
    result = ConfigureInputFilter(fg, *fg.Inputs[i], cur);
    if (result < 0) return result;
  }
  lib::avfilter_inout_free(&inputs.Head);

  if (!isNew || simple) {
    i = 0;
    for (AVFilterInOut* cur = outputs.Head; cur != nullptr; cur = cur->next, ++i) {
      if (i >= fg.Outputs.size()) return kInvalidArgument;
      result = ConfigureOutputFilter(fg, *fg.Outputs[i], cur);
      if (result < 0) return result;
    }
    lib::avfilter_inout_free(&outputs.Head);
    result = lib::avfilter_graph_config(graph, nullptr);
    if (result < 0) return result;
  } else {
    // A new complex graph: its outputs wait for the maps (or automatic connection) of the first
    // output file, each detached from the list so that it can be connected on its own.
    while (outputs.Head != nullptr) {
      AVFilterInOut* cur = outputs.Head;
      outputs.Head = cur->next;
      cur->next = nullptr;
      FilterInOutPtr pad(cur);
      try {
        auto output = std::make_unique<TOutputFilter>();
        output->Graph = &fg;
        output->PendingOutput = std::move(pad);
        fg.Outputs.push_back(std::move(output));
      } catch (const std::bad_alloc&) {
        Fail("av_mallocz() failed");
      }
    }
  }

  fg.Reconfiguration = 1;
  return 0;
}

int TCustomFFmpegOpt::ConfigureComplexFilters() {
  for (const auto& graph : FilterGraphs) {
    if (graph->Graph) continue;
    const int result = ConfigureFilterGraph(*graph);
    if (result < 0) return result;
  }
  return 0;
}

// ------------------------------------------------------------------ input filters

int TCustomFFmpegOpt::ConfigureInputFilter(TFilterGraph& fg, TInputFilter& ifilter, AVFilterInOut* in) {
  ifilter.Name = DescribeLink(in, true);
  switch (PadType(in, true)) {
    case AVMEDIA_TYPE_VIDEO:
      return ConfigureVideoInputFilter(fg, ifilter, in);
    case AVMEDIA_TYPE_AUDIO:
      return ConfigureAudioInputFilter(fg, ifilter, in);
    default:
      throw FFmpegException("Never occur");
  }
}

int TCustomFFmpegOpt::ConfigureVideoInputFilter(TFilterGraph& fg, TInputFilter& ifilter, AVFilterInOut* in) {
  TInputStream& ist = *ifilter.Input;
  AVStream* st = ist.Stream;
  AVCodecContext* codec = ist.DecoderContext.get();
  AVFilterGraph* graph = fg.Graph.get();
  const int fileIndex = ist.FileIndex;
  ChainEnd first{in->filter_ctx, static_cast<unsigned>(in->pad_idx)};
  int result = 0;

  const bool forcedRate = ist.FrameRate.num != 0 && ist.FrameRate.den != 0;
  const AVRational timeBase = forcedRate ? AVRational{ist.FrameRate.den, ist.FrameRate.num} : st->time_base;
  const AVRational frameRate = forcedRate ? ist.FrameRate : GuessInputFrameRate(st, codec);

  if (st->codecpar->codec_type == AVMEDIA_TYPE_SUBTITLE) {
    result = PrepareSub2Video(ist);
    if (result < 0) return result;
  }

  AVRational aspect = st->sample_aspect_ratio.num != 0 ? st->sample_aspect_ratio : codec->sample_aspect_ratio;
  if (aspect.den == 0) aspect = AVRational{0, 1};

  // The "buffer" source of this library generation no longer scales, ignores "sws_param" and
  // warns about it on every configuration; the graph's scaler options carry the flags instead.
  std::string args = FormatText("video_size=%dx%d:pix_fmt=%d:time_base=%d/%d:pixel_aspect=%d/%d", ist.ResampleWidth,
                                ist.ResampleHeight, ist.ResamplePixFmt, timeBase.num, timeBase.den, aspect.num,
                                aspect.den);
  if (frameRate.num != 0 && frameRate.den != 0) args += FormatText(":frame_rate=%d/%d", frameRate.num, frameRate.den);

  // Deinterlacing runs ahead of the stream's own filters, right behind the source.
  if (DoDeinterlace != 0) {
    result = InsertInFront(first, graph, "yadif",
                           FormatText("graph %d yadif for input stream %d:%d", fg.Index, fileIndex, st->index),
                           std::string());
    if (result < 0) return result;
  }
  if (forcedRate) {
    result = InsertInFront(first, graph, "setpts",
                           FormatText("force CFR for input from stream %d:%d", fileIndex, st->index), "N");
    if (result < 0) return result;
  }

  result = CreateFilter(&ifilter.Filter, "buffer",
                        FormatText("graph %d input from stream %d:%d", fg.Index, fileIndex, st->index), args, graph);
  if (result < 0) return result;
  return lib::avfilter_link(ifilter.Filter, 0, first.Filter, first.Pad);
}

std::string TCustomFFmpegOpt::AudioSourceArgs(const TInputStream& ist) {
  const AVCodecContext* codec = ist.DecoderContext.get();
  // The source takes what the frames are, which the decoding side records on every change (a
  // stream may switch rate or channels mid-way); the decoder's settings are only the starting
  // guess and keep their first values.
  const bool known = ist.ResampleSampleRate > 0 && ist.ResampleChannels > 0 && ist.ResampleSampleFmt >= 0;
  const int sampleRate = known ? ist.ResampleSampleRate : codec->sample_rate;
  const int sampleFormat = known ? ist.ResampleSampleFmt : codec->sample_fmt;
  const int channels = known ? ist.ResampleChannels : codec->ch_layout.nb_channels;
  std::uint64_t layoutMask = 0;
  if (known) {
    layoutMask = ist.ResampleChannelLayout;
  } else if (codec->ch_layout.order == AV_CHANNEL_ORDER_NATIVE) {
    layoutMask = codec->ch_layout.u.mask;
  }
  std::string args = FormatText("time_base=%d/%d:sample_rate=%d:sample_fmt=%s", 1, sampleRate, sampleRate,
                                SampleFormatName(sampleFormat).c_str());
  if (layoutMask != 0) {
    args += FormatText(":channel_layout=0x%llx", static_cast<unsigned long long>(layoutMask));
  } else {
    args += FormatText(":channels=%d", channels);
  }
  return args;
}

int TCustomFFmpegOpt::ConfigureAudioInputFilter(TFilterGraph& fg, TInputFilter& ifilter, AVFilterInOut* in) {
  TInputStream& ist = *ifilter.Input;
  AVStream* st = ist.Stream;
  AVFilterGraph* graph = fg.Graph.get();
  const int fileIndex = ist.FileIndex;
  ChainEnd first{in->filter_ctx, static_cast<unsigned>(in->pad_idx)};
  int result = 0;

  const std::string args = AudioSourceArgs(ist);

  if (AudioSyncMethod > 0) {
    std::string resample = FormatText("async=%d", AudioSyncMethod);
    if (AudioDriftThreshold != 0.1f) {
      resample += FormatText(":min_hard_comp=%f", static_cast<double>(AudioDriftThreshold));
    }
    // Only the first configuration starts the output at zero; a reconfiguration continues.
    if (fg.Reconfiguration == 0) resample += ":first_pts=0";
    const std::string name =
        FormatText("graph %d %s for input stream %d:%d", fg.Index, "aresample", fileIndex, st->index);
    result = InsertInFront(first, graph, "aresample", name, resample);
    if (result < 0) return result;
    DefaultLogger().LogFmt(this, llInfo, "%s is forwarded to lavfi similarly to -af %s=%s.", "-async", "aresample",
                           resample.c_str());
  }
  if (AudioVolume != 256) {
    LibraryLog(AV_LOG_WARNING, "-vol has been deprecated. Use the volume audio filter instead.\n");
    const std::string volume = FormatText("%f", AudioVolume / 256.0);
    result = InsertInFront(first, graph, "volume",
                           FormatText("graph %d %s for input stream %d:%d", fg.Index, "volume", fileIndex, st->index),
                           volume);
    if (result < 0) return result;
    DefaultLogger().LogFmt(this, llInfo, "%s is forwarded to lavfi similarly to -af %s=%s.", "-vol", "volume",
                           volume.c_str());
  }

  result = CreateFilter(&ifilter.Filter, "abuffer",
                        FormatText("graph %d input from stream %d:%d", fg.Index, fileIndex, st->index), args, graph);
  if (result < 0) return result;
  return lib::avfilter_link(ifilter.Filter, 0, first.Filter, first.Pad);
}

// ------------------------------------------------------------------ output filters

int TCustomFFmpegOpt::ConfigureOutputFilter(TFilterGraph& fg, TOutputFilter& ofilter, AVFilterInOut* out) {
  ofilter.Name = DescribeLink(out, false);
  TOutputStream& ost = *ofilter.Output;
  AVCodecContext* codec = ost.Codec();
  AVFilterGraph* graph = fg.Graph.get();
  ChainEnd last{out->filter_ctx, static_cast<unsigned>(out->pad_idx)};
  int result = 0;

  auto append = [&](const char* kind, const std::string& name, const std::string& args) -> int {
    AVFilterContext* filter = nullptr;
    int created = CreateFilter(&filter, kind, name, args, graph);
    if (created < 0) return created;
    created = lib::avfilter_link(last.Filter, last.Pad, filter, 0);
    if (created < 0) return created;
    last = {filter, 0};
    return 0;
  };

  switch (PadType(out, false)) {
    case AVMEDIA_TYPE_VIDEO: {
      result = CreateFilter(&ofilter.Filter, "buffersink", FormatText("output stream %d:%d", ost.FileIndex, ost.Index),
                            std::string(), graph);
      if (result < 0) return result;

      if (codec->width != 0 || codec->height != 0) {
        result = append("scale", FormatText("scaler for output stream %d:%d", ost.FileIndex, ost.Index),
                        FormatText("%d:%d:flags=0x%X", codec->width, codec->height, static_cast<unsigned>(ost.SwsFlags)));
        if (result < 0) return result;
      }
      const std::string formats = ChoosePixFmtList(ost);
      if (!formats.empty()) {
        result = append("format", FormatText("pixel format for output stream %d:%d", ost.FileIndex, ost.Index), formats);
        if (result < 0) return result;
      }
      return lib::avfilter_link(last.Filter, last.Pad, ofilter.Filter, 0);
    }

    case AVMEDIA_TYPE_AUDIO: {
      result = CreateFilter(&ofilter.Filter, "abuffersink", FormatText("output stream %d:%d", ost.FileIndex, ost.Index),
                            "all_channel_counts=1", graph);
      if (result < 0) return result;

      if (ost.AudioChannelsMapped > 0) {
        std::string pan = FormatText("0x%llx", static_cast<unsigned long long>(DefaultLayoutMask(ost.AudioChannelsMapped)));
        for (int i = 0; i < ost.AudioChannelsMapped; ++i) {
          // A muted output channel is simply left out of the mix.
          if (ost.AudioChannelsMap[i] != -1) pan += FormatText("|c%d=c%d", i, ost.AudioChannelsMap[i]);
        }
        result = append("pan", "pan", pan);
        if (result < 0) return result;
        DefaultLogger().LogFmt(this, llInfo, "%s is forwarded to lavfi similarly to -af %s=%s.", "-map_channel", "pan",
                               pan.c_str());
      }

      if (codec->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC && codec->ch_layout.nb_channels > 0) {
        const int channels = codec->ch_layout.nb_channels;
        AVChannelLayout layout{};
        lib::av_channel_layout_default(&layout, channels);
        lib::av_channel_layout_uninit(&codec->ch_layout);
        codec->ch_layout = layout;
      }

      const std::string sampleFormats = ChooseSampleFmtList(ost);
      const std::string sampleRates = ChooseSampleRateList(ost);
      const std::string channelLayouts = ChooseChannelLayoutList(ost);
      if (!sampleFormats.empty() || !sampleRates.empty() || !channelLayouts.empty()) {
        std::string args;
        if (!sampleFormats.empty()) args += "sample_fmts=" + sampleFormats + ":";
        if (!sampleRates.empty()) args += "sample_rates=" + sampleRates + ":";
        if (!channelLayouts.empty()) args += "channel_layouts=" + channelLayouts + ":";
        result = append("aformat", FormatText("audio format for output stream %d:%d", ost.FileIndex, ost.Index), args);
        if (result < 0) return result;
      }
      return lib::avfilter_link(last.Filter, last.Pad, ofilter.Filter, 0);
    }

    default:
      throw FFmpegException("Never occur");
  }
}

// ------------------------------------------------------------------ formats

AVPixelFormat TCustomFFmpegOpt::ChoosePixelFormat(const AVCodecContext* codec, const AVCodec* encoder,
                                                  AVPixelFormat target) {
  if (encoder == nullptr || encoder->pix_fmts == nullptr) return target;
  static constexpr AVPixelFormat kMjpegFormats[] = {AV_PIX_FMT_YUVJ420P, AV_PIX_FMT_YUVJ422P, AV_PIX_FMT_YUV420P,
                                                    AV_PIX_FMT_YUV422P, AV_PIX_FMT_NONE};
  static constexpr AVPixelFormat kLosslessJpegFormats[] = {AV_PIX_FMT_YUVJ420P, AV_PIX_FMT_YUVJ422P, AV_PIX_FMT_YUVJ444P,
                                                           AV_PIX_FMT_YUV420P,  AV_PIX_FMT_YUV422P,  AV_PIX_FMT_YUV444P,
                                                           AV_PIX_FMT_BGRA,     AV_PIX_FMT_NONE};
  const AVPixelFormat* list = encoder->pix_fmts;
  // Unofficial extensions allowed: the JPEG encoders take the full-range formats as well.
  if (codec != nullptr && codec->strict_std_compliance < 0) {
    if (encoder->id == AV_CODEC_ID_MJPEG) list = kMjpegFormats;
    if (encoder->id == AV_CODEC_ID_LJPEG) list = kLosslessJpegFormats;
  }
  if (target == AV_PIX_FMT_NONE) return list[0];

  const AVPixFmtDescriptor* descriptor = lib::av_pix_fmt_desc_get(target);
  const int hasAlpha = descriptor != nullptr && descriptor->nb_components % 2 == 0 ? 1 : 0;
  AVPixelFormat best = AV_PIX_FMT_NONE;
  for (const AVPixelFormat* p = list; *p != AV_PIX_FMT_NONE; ++p) {
    if (*p == target) return target;
    best = lib::av_find_best_pix_fmt_of_2(best, *p, target, hasAlpha, nullptr);
  }
  LibraryLog(AV_LOG_WARNING, "Incompatible pixel format \"%s\" for codec \"%s\", auto-selecting format \"%s\"\n",
             PixelFormatName(target).c_str(), encoder->name, PixelFormatName(best).c_str());
  return best;
}

AVSampleFormat TCustomFFmpegOpt::ChooseSampleFormat(const AVCodec* encoder, AVSampleFormat target) {
  if (encoder == nullptr || encoder->sample_fmts == nullptr) return target;
  for (const AVSampleFormat* p = encoder->sample_fmts; *p != AV_SAMPLE_FMT_NONE; ++p) {
    if (*p == target) return target;
  }
  const AVSampleFormat first = encoder->sample_fmts[0];
  if ((encoder->capabilities & AV_CODEC_CAP_LOSSLESS) != 0 &&
      lib::av_get_bytes_per_sample(first) < lib::av_get_bytes_per_sample(target)) {
    LibraryLog(AV_LOG_ERROR, "Conversion will not be lossless.\n");
  }
  if (target != AV_SAMPLE_FMT_NONE) {
    LibraryLog(AV_LOG_WARNING, "Incompatible sample format \"%s\" for codec \"%s\", auto-selecting format \"%s\"\n",
               SampleFormatName(target).c_str(), encoder->name, SampleFormatName(first).c_str());
  }
  return first;
}

std::string TCustomFFmpegOpt::ChoosePixFmtList(TOutputStream& ost) {
  const AVCodecContext* codec = ost.Codec();
  if (ost.KeepPixFmt != 0) {
    if (ost.Filter != nullptr && ost.Filter->Graph != nullptr && ost.Filter->Graph->Graph) {
      lib::avfilter_graph_set_auto_convert(ost.Filter->Graph->Graph.get(), AVFILTER_AUTO_CONVERT_NONE);
    }
    if (codec->pix_fmt == AV_PIX_FMT_NONE) return std::string();
    return PixelFormatName(codec->pix_fmt);
  }
  if (codec->pix_fmt != AV_PIX_FMT_NONE) return PixelFormatName(ChoosePixelFormat(codec, ost.Encoder, codec->pix_fmt));
  if (ost.Encoder == nullptr || ost.Encoder->pix_fmts == nullptr) return std::string();
  std::string text;
  for (const AVPixelFormat* p = ost.Encoder->pix_fmts; *p != AV_PIX_FMT_NONE; ++p) {
    if (!text.empty()) text += "|";
    text += PixelFormatName(*p);
  }
  return text;
}

std::string TCustomFFmpegOpt::ChooseSampleFmtList(const TOutputStream& ost) {
  const AVCodecContext* codec = ost.Codec();
  if (codec->sample_fmt != AV_SAMPLE_FMT_NONE) return SampleFormatName(codec->sample_fmt);
  if (ost.Encoder == nullptr || ost.Encoder->sample_fmts == nullptr) return std::string();
  std::string text;
  for (const AVSampleFormat* p = ost.Encoder->sample_fmts; *p != AV_SAMPLE_FMT_NONE; ++p) {
    if (!text.empty()) text += "|";
    text += SampleFormatName(*p);
  }
  return text;
}

std::string TCustomFFmpegOpt::ChooseSampleRateList(const TOutputStream& ost) {
  const AVCodecContext* codec = ost.Codec();
  if (codec->sample_rate != 0) return FormatText("%d", codec->sample_rate);
  if (ost.Encoder == nullptr || ost.Encoder->supported_samplerates == nullptr) return std::string();
  std::string text;
  for (const int* p = ost.Encoder->supported_samplerates; *p != 0; ++p) {
    if (!text.empty()) text += "|";
    text += FormatText("%d", *p);
  }
  return text;
}

std::string TCustomFFmpegOpt::ChooseChannelLayoutList(const TOutputStream& ost) {
  const AVCodecContext* codec = ost.Codec();
  const std::string own = LayoutText(codec->ch_layout);
  if (!own.empty()) return own;
  if (ost.Encoder == nullptr || ost.Encoder->ch_layouts == nullptr) return std::string();
  std::string text;
  for (const AVChannelLayout* p = ost.Encoder->ch_layouts; p->nb_channels != 0; ++p) {
    const std::string layout = LayoutText(*p);
    if (layout.empty()) continue;
    if (!text.empty()) text += "|";
    text += layout;
  }
  return text;
}

// ------------------------------------------------------------------ subtitles as video

int TCustomFFmpegOpt::PrepareSub2Video(TInputStream& ist) {
  AVCodecContext* codec = ist.DecoderContext.get();
  int width = codec->width;
  int height = codec->height;
  if (width == 0 || height == 0) {
    // As large as the largest picture of the same input, so that the subtitles cover it.
    if (ist.FileIndex >= 0 && ist.FileIndex < InputFileCount()) {
      const AVFormatContext* file = InputFiles[static_cast<std::size_t>(ist.FileIndex)]->Context.get();
      for (unsigned i = 0; file != nullptr && i < file->nb_streams; ++i) {
        const AVCodecParameters* parameters = file->streams[i]->codecpar;
        if (parameters->codec_type != AVMEDIA_TYPE_VIDEO) continue;
        width = std::max(width, parameters->width);
        height = std::max(height, parameters->height);
      }
    }
    if (width == 0 || height == 0) {
      width = std::max(width, 720);
      height = std::max(height, 576);
    }
    LibraryLog(AV_LOG_INFO, "sub2video: using %dx%d canvas\n", width, height);
  }
  codec->width = ist.ResampleWidth = ist.Sub2Video.W = width;
  codec->height = ist.ResampleHeight = ist.Sub2Video.H = height;
  codec->pix_fmt = AV_PIX_FMT_BGRA;
  ist.ResamplePixFmt = AV_PIX_FMT_BGRA;

  FramePtr canvas(lib::av_frame_alloc());
  if (!canvas) return kOutOfMemory;
  canvas->format = AV_PIX_FMT_BGRA;
  canvas->width = width;
  canvas->height = height;
  const int result = lib::av_frame_get_buffer(canvas.get(), 32);
  if (result < 0) return result;
  // Transparent until the first subtitle is drawn.
  for (int row = 0; row < height; ++row) {
    std::memset(canvas->data[0] + static_cast<std::ptrdiff_t>(row) * canvas->linesize[0], 0,
                static_cast<std::size_t>(width) * 4);
  }
  ist.Sub2Video.Frame = std::move(canvas);
  return 0;
}

}  // namespace lumivor
