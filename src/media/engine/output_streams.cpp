// Creating output streams: one muxer stream per output stream record, its encoder (or stream
// copy), its own encoder context with the options that apply to it, and the per-type settings.

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "media/engine/ffmpeg_opt.h"
#include "media/runtime/ff_log.h"
#include "media/runtime/format_text.h"

namespace lumivor {

// Defined with the input setup: a codec tag written as a number or as four characters.
std::uint32_t CodecTagFromText(const std::string& text);

namespace {

// 64 comma-separated coefficients; the library's codec context frees the table with itself.
std::uint16_t* ParseMatrix(TCustomFFmpegOpt& engine, const std::string& text, const char* allocationError) {
  auto* matrix = static_cast<std::uint16_t*>(lib::av_mallocz(sizeof(std::uint16_t) * 64));
  if (matrix == nullptr) engine.Fail(allocationError);
  const char* p = text.c_str();
  for (int i = 0;; ++i) {
    matrix[i] = static_cast<std::uint16_t>(std::atoi(p));
    if (i == 63) break;
    p = std::strchr(p, ',');
    if (p == nullptr) {
      lib::av_free(matrix);
      engine.FailFmt("Syntax error in matrix \"%s\" at coeff %d", text.c_str(), i);
    }
    ++p;
  }
  return matrix;
}

// "start,end,q" entries separated by "/".
void ParseRcOverrides(TCustomFFmpegOpt& engine, AVCodecContext* codec, const std::string& text) {
  const char* p = text.c_str();
  int count = 0;
  while (p != nullptr) {
    int start = 0;
    int end = 0;
    int q = 0;
    if (std::sscanf(p, "%d,%d,%d", &start, &end, &q) != 3) engine.Fail("error parsing rc_override");
    void* grown = lib::av_realloc_array(codec->rc_override, static_cast<std::size_t>(count) + 1, sizeof(RcOverride));
    if (grown == nullptr) engine.Fail("av_realloc() failed");
    codec->rc_override = static_cast<RcOverride*>(grown);
    RcOverride& entry = codec->rc_override[count];
    entry.start_frame = start;
    entry.end_frame = end;
    if (q > 0) {
      entry.qscale = q;
      entry.quality_factor = 1.0f;
    } else {
      entry.qscale = 0;
      entry.quality_factor = static_cast<float>(-q / 100.0);
    }
    codec->rc_override_count = ++count;
    p = std::strchr(p, '/');
    if (p != nullptr) ++p;
  }
}

// An unspecified layout of that many channels: the count is all an option gives.
void SetChannelCount(AVCodecContext* codec, int channels) {
  lib::av_channel_layout_uninit(&codec->ch_layout);
  codec->ch_layout.order = AV_CHANNEL_ORDER_UNSPEC;
  codec->ch_layout.nb_channels = channels;
}

}  // namespace

void TCustomFFmpegOpt::ChooseEncoder(TOptionsContext& o, AVFormatContext* s, TOutputStream& ost) {
  AVStream* st = ost.Stream;
  const AVMediaType type = st->codecpar->codec_type;
  const std::optional<std::string> name = MatchPerStreamGiven<&TOptionsContext::CodecNames>(o, s, st);
  if (!name) {
    st->codecpar->codec_id = lib::av_guess_codec(s->oformat, nullptr, s->url, nullptr, type);
    ost.Encoder = lib::avcodec_find_encoder(st->codecpar->codec_id);
  } else if (*name == "copy") {
    ost.StreamCopy = 1;
  } else {
    ost.Encoder = FindCodecOrFail(name->c_str(), type, true);
    st->codecpar->codec_id = ost.Encoder->id;
  }
}

TOutputStream* TCustomFFmpegOpt::NewOutputStream(TOptionsContext& o, AVFormatContext* oc, int sourceIndex,
                                                 AVMediaType type) {
  AVStream* st = lib::avformat_new_stream(oc, nullptr);
  if (st == nullptr) Fail("Could not alloc stream.");
  if (st->index < o.StreamIdMapCount()) st->id = o.StreamIdMap[static_cast<std::size_t>(st->index)];

  TOutputStream* ost = nullptr;
  try {
    OutputStreams.push_back(std::make_unique<TOutputStream>());
    ost = OutputStreams.back().get();
  } catch (const std::bad_alloc&) {
    Fail("av_mallocz() failed");
  }
  // The output file record is appended after its streams.
  ost->FileIndex = OutputFileCount();
  ost->Index = st->index;
  ost->Stream = st;
  ost->LastMuxPts = AV_NOPTS_VALUE;
  ost->LastMuxDts = AV_NOPTS_VALUE;
  st->codecpar->codec_type = type;

  ChooseEncoder(o, oc, *ost);

  ost->EncoderOptions = FilterCodecOptions(o.Group->CodecOptions.get(),
                                           ost->Encoder != nullptr ? ost->Encoder->id : AV_CODEC_ID_NONE, oc, st,
                                           ost->Encoder);
  ost->OwnsOptions = 1;

  ost->EncoderContext.reset(lib::avcodec_alloc_context3(ost->Encoder));
  if (!ost->EncoderContext) Fail("avcodec_alloc_context3() failed");
  AVCodecContext* codec = ost->EncoderContext.get();
  codec->codec_type = type;
  ost->OwnsCodec = 1;

  ost->MaxFrames = MatchPerStream<&TOptionsContext::MaxFrames>(o, oc, st, kNoLimit);
  ost->CopyPriorStart = MatchPerStream<&TOptionsContext::CopyPriorStart>(o, oc, st, -1);

  const std::optional<std::string> givenFilters = MatchPerStreamGiven<&TOptionsContext::BitstreamFilters>(o, oc, st);
  const std::string filters = givenFilters.value_or(std::string());
  std::size_t begin = 0;
  // A list given empty names one filter without a name, which is refused below.
  while (givenFilters && begin <= filters.size()) {
    std::size_t end = filters.find(',', begin);
    if (end == std::string::npos) end = filters.size();
    const std::string filterName = filters.substr(begin, end - begin);
    const AVBitStreamFilter* filter = lib::av_bsf_get_by_name(filterName.c_str());
    if (filter == nullptr) FailFmt("Unknown bitstream filter \"%s\"", filterName.c_str());
    AVBSFContext* chainLink = nullptr;
    const int allocated = lib::av_bsf_alloc(filter, &chainLink);
    if (allocated < 0) Fail("av_mallocz() failed");
    ost->BitstreamFilters.emplace_back(chainLink);
    begin = end + 1;
  }

  const std::optional<std::string> codecTag = MatchPerStreamGiven<&TOptionsContext::CodecTags>(o, oc, st);
  if (codecTag) {
    const std::uint32_t tag = CodecTagFromText(*codecTag);
    st->codecpar->codec_tag = tag;
    codec->codec_tag = tag;
  }

  const double qscale = MatchPerStream<&TOptionsContext::QScale>(o, oc, st, -1.0);
  if (qscale >= 0) {
    codec->flags |= AV_CODEC_FLAG_QSCALE;
    codec->global_quality = static_cast<int>(FF_QP2LAMBDA * qscale);
  }

  if (oc->oformat != nullptr && (oc->oformat->flags & AVFMT_GLOBALHEADER) != 0) {
    codec->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  }

  std::int64_t swsFlags = 0;
  if (o.Group->ScalerOptions) lib::av_opt_get_int(o.Group->ScalerOptions.get(), "sws_flags", 0, &swsFlags);
  ost->SwsFlags = swsFlags;
  lib::av_dict_copy(DictionaryRef(ost->ResamplerOptions), o.Group->ResamplerOptions.get(), 0);
  if (ost->Encoder != nullptr && lib::av_get_exact_bits_per_sample(ost->Encoder->id) == 24) {
    lib::av_dict_set(DictionaryRef(ost->ResamplerOptions), "output_sample_bits", "24", 0);
  }
  lib::av_dict_copy(DictionaryRef(ost->ResampleOptions), o.Group->ResampleOptions.get(), 0);

  ost->SourceIndex = sourceIndex;
  if (sourceIndex >= 0) {
    TInputStream* source = InputStreams[static_cast<std::size_t>(sourceIndex)].get();
    ost->SyncInput = source;
    source->Discard = 0;
    source->Stream->discard = AVDISCARD_DEFAULT;
  }
  return ost;
}

TOutputStream* TCustomFFmpegOpt::NewVideoStream(TOptionsContext& o, AVFormatContext* oc, int sourceIndex) {
  TOutputStream* ost = NewOutputStream(o, oc, sourceIndex, AVMEDIA_TYPE_VIDEO);
  AVStream* st = ost->Stream;
  AVCodecContext* codec = ost->EncoderContext.get();

  const std::optional<std::string> rate = MatchPerStreamGiven<&TOptionsContext::FrameRates>(o, oc, st);
  if (rate && lib::av_parse_video_rate(&ost->FrameRate, rate->c_str()) < 0) {
    FailFmt("Invalid framerate value: %s", rate->c_str());
  }

  if (ost->StreamCopy != 0) {
    ost->CopyInitialNonKeyframes = MatchPerStream<&TOptionsContext::CopyInitialNonKeyframes>(o, oc, st, 0);
    return ost;
  }

  const std::optional<std::string> size = MatchPerStreamGiven<&TOptionsContext::FrameSizes>(o, oc, st);
  if (size && lib::av_parse_video_size(&codec->width, &codec->height, size->c_str()) < 0) {
    FailFmt("Invalid frame size: %s.", size->c_str());
  }

  const std::optional<std::string> aspect = MatchPerStreamGiven<&TOptionsContext::FrameAspectRatios>(o, oc, st);
  if (aspect) {
    AVRational q{0, 0};
    if (lib::av_parse_ratio(&q, aspect->c_str(), 255, 0, nullptr) < 0 || q.num <= 0 || q.den <= 0) {
      FailFmt("Invalid aspect ratio: %s", aspect->c_str());
    }
    ost->FrameAspectRatio = static_cast<float>(static_cast<double>(q.num) / q.den);
  }

  codec->bits_per_raw_sample = FrameBitsPerRawSample;

  const std::optional<std::string> givenPixelFormat = MatchPerStreamGiven<&TOptionsContext::FramePixFmts>(o, oc, st);
  std::string pixelFormat = givenPixelFormat.value_or(std::string());
  bool pixelFormatGiven = givenPixelFormat.has_value();
  if (!pixelFormat.empty() && pixelFormat[0] == '+') {
    // "+" keeps the format as given: no automatic conversion in the stream's filter graph. A bare
    // "+" names no format.
    ost->KeepPixFmt = 1;
    pixelFormat.erase(0, 1);
    pixelFormatGiven = !pixelFormat.empty();
  }
  if (pixelFormatGiven) {
    codec->pix_fmt = lib::av_get_pix_fmt(pixelFormat.c_str());
    if (codec->pix_fmt == AV_PIX_FMT_NONE) FailFmt("Unknown pixel format requested: %s.", pixelFormat.c_str());
  }
  st->sample_aspect_ratio = codec->sample_aspect_ratio;

  if (IntraOnly != 0) codec->gop_size = 0;

  const std::string intra = MatchPerStream<&TOptionsContext::IntraMatrices>(o, oc, st, std::string());
  if (!intra.empty()) codec->intra_matrix = ParseMatrix(*this, intra, "Could not allocate memory for intra matrix.");
  const std::string inter = MatchPerStream<&TOptionsContext::InterMatrices>(o, oc, st, std::string());
  if (!inter.empty()) codec->inter_matrix = ParseMatrix(*this, inter, "Could not allocate memory for inter matrix.");

  const std::string overrides = MatchPerStream<&TOptionsContext::RcOverrides>(o, oc, st, std::string());
  if (!overrides.empty()) ParseRcOverrides(*this, codec, overrides);

  codec->intra_dc_precision = IntraDcPrecision - 8;
  if (DoPsnr != 0) codec->flags |= AV_CODEC_FLAG_PSNR;

  const int pass = MatchPerStream<&TOptionsContext::Pass>(o, oc, st, 0);
  if ((pass & 1) != 0) {
    codec->flags |= AV_CODEC_FLAG_PASS1;
    lib::av_dict_set(DictionaryRef(ost->EncoderOptions), "flags", "+pass1", AV_DICT_APPEND);
  }
  if ((pass & 2) != 0) {
    codec->flags |= AV_CODEC_FLAG_PASS2;
    lib::av_dict_set(DictionaryRef(ost->EncoderOptions), "flags", "+pass2", AV_DICT_APPEND);
  }

  ost->LogFilePrefix = MatchPerStream<&TOptionsContext::PassLogFiles>(o, oc, st, std::string());
  ost->ForcedKeyFrames = MatchPerStream<&TOptionsContext::ForcedKeyFrames>(o, oc, st, std::string());
  ost->ForceFps = MatchPerStream<&TOptionsContext::ForceFps>(o, oc, st, 0);
  ost->TopFieldFirst = MatchPerStream<&TOptionsContext::TopFieldFirst>(o, oc, st, -1);
  ost->FilterSpec = MatchPerStream<&TOptionsContext::FilterTexts>(o, oc, st, std::string("null"));
  return ost;
}

TOutputStream* TCustomFFmpegOpt::NewAudioStream(TOptionsContext& o, AVFormatContext* oc, int sourceIndex) {
  TOutputStream* ost = NewOutputStream(o, oc, sourceIndex, AVMEDIA_TYPE_AUDIO);
  if (ost->StreamCopy != 0) return ost;
  AVStream* st = ost->Stream;
  AVCodecContext* codec = ost->EncoderContext.get();

  const int channels = MatchPerStream<&TOptionsContext::AudioChannels>(o, oc, st, codec->ch_layout.nb_channels);
  if (channels != codec->ch_layout.nb_channels) SetChannelCount(codec, channels);

  const std::optional<std::string> sampleFormat = MatchPerStreamGiven<&TOptionsContext::SampleFmts>(o, oc, st);
  if (sampleFormat) {
    codec->sample_fmt = lib::av_get_sample_fmt(sampleFormat->c_str());
    if (codec->sample_fmt == AV_SAMPLE_FMT_NONE) FailFmt("Invalid sample format \"%s\"", sampleFormat->c_str());
  }

  codec->sample_rate = MatchPerStream<&TOptionsContext::AudioSampleRates>(o, oc, st, codec->sample_rate);
  ost->FilterSpec = MatchPerStream<&TOptionsContext::FilterTexts>(o, oc, st, std::string("anull"));

  const TInputStream* source = ost->SourceIndex >= 0 ? InputStreams[static_cast<std::size_t>(ost->SourceIndex)].get()
                                                     : nullptr;
  for (const TAudioChannelMap& map : o.AudioChannelMaps) {
    // A map that names an input channel applies only to a stream fed by that input stream; a
    // stream fed by a filter graph has no input stream to compare with.
    const bool inputMatches =
        map.ChannelIndex == -1 ||
        (source != nullptr && source->FileIndex == map.FileIndex && source->Stream->index == map.StreamIndex);
    const bool outputMatches = (map.OutputFileIndex == -1 || ost->FileIndex == map.OutputFileIndex) &&
                               (map.OutputStreamIndex == -1 || ost->Index == map.OutputStreamIndex);
    if (!inputMatches || !outputMatches) continue;
    if (ost->AudioChannelsMapped < kMaxAudioChannelsMap) {
      ost->AudioChannelsMap[ost->AudioChannelsMapped++] = map.ChannelIndex;
    } else {
      DefaultLogger().LogFmt(this, llFatal, "Max channel mapping for output %d.%d reached", ost->FileIndex,
                             ost->Index);
    }
  }
  return ost;
}

TOutputStream* TCustomFFmpegOpt::NewSubtitleStream(TOptionsContext& o, AVFormatContext* oc, int sourceIndex) {
  TOutputStream* ost = NewOutputStream(o, oc, sourceIndex, AVMEDIA_TYPE_SUBTITLE);
  AVStream* st = ost->Stream;
  ost->CopyInitialNonKeyframes = MatchPerStream<&TOptionsContext::CopyInitialNonKeyframes>(o, oc, st, 0);
  if (ost->StreamCopy == 0) {
    AVCodecContext* codec = ost->EncoderContext.get();
    const std::optional<std::string> size = MatchPerStreamGiven<&TOptionsContext::FrameSizes>(o, oc, st);
    if (size && lib::av_parse_video_size(&codec->width, &codec->height, size->c_str()) < 0) {
      FailFmt("Invalid frame size: %s.", size->c_str());
    }
  }
  return ost;
}

TOutputStream* TCustomFFmpegOpt::NewDataStream(TOptionsContext& o, AVFormatContext* oc, int sourceIndex) {
  TOutputStream* ost = NewOutputStream(o, oc, sourceIndex, AVMEDIA_TYPE_DATA);
  if (ost->StreamCopy == 0) Fail("Data stream encoding not supported yet (only streamcopy)");
  return ost;
}

TOutputStream* TCustomFFmpegOpt::NewAttachmentStream(TOptionsContext& o, AVFormatContext* oc, int sourceIndex) {
  TOutputStream* ost = NewOutputStream(o, oc, sourceIndex, AVMEDIA_TYPE_ATTACHMENT);
  ost->StreamCopy = 1;
  return ost;
}

}  // namespace lumivor
