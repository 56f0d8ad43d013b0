// Opening an input: the demuxer (an in-process format or the library's), its options, stream
// probing, the start-time seek, one input stream record per stream with its decoder, and the
// dumping of attachments.

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>

#include "media/engine/error_text.h"
#include "media/engine/ffmpeg_opt.h"
#include "media/runtime/ff_log.h"
#include "media/runtime/file_names.h"
#include "media/runtime/format_text.h"

namespace lumivor {

// Shared with the output stream setup.
std::uint32_t CodecTagFromText(const std::string& text);

namespace {

constexpr int kInvalidArgument = -EINVAL;
constexpr int kOutOfMemory = -ENOMEM;

template <typename Record>
std::unique_ptr<Record> NewRecord(TCustomFFmpegOpt& engine) {
  try {
    return std::make_unique<Record>();
  } catch (const std::bad_alloc&) {
    engine.Fail("av_mallocz() failed");
  }
}

// The last value given for a list, whatever its stream specifier: the demuxer has no streams
// yet to match against.
const TSpecifierOpt* LastOf(const SpecifierList& list) { return list.empty() ? nullptr : &list.back(); }

bool HasPrivateOption(const AVInputFormat* format, const char* name) {
  if (format == nullptr || format->priv_class == nullptr) return false;
  // A search of the class alone: the library takes a pointer to the class pointer as a stand-in
  // object and only reads through it.
  void* fakeObject = const_cast<const AVClass**>(&format->priv_class);
  return lib::av_opt_find(fakeObject, name, nullptr, 0, AV_OPT_SEARCH_FAKE_OBJ) != nullptr;
}

// The library's open for a format that lives in this process: a context without I/O whose
// private options and generic options come from the same dictionary the library would take, and
// whose header comes from the format's own read header. The context is never read, probed or
// seeked by the library.
int OpenInProcessInput(AVFormatContext* ic, const InProcessInputFormat& format, const std::string& url,
                       AVDictionary** options) {
  ic->iformat = format.LibraryRecord;
  ic->url = lib::av_strdup(url.c_str());
  if (ic->url == nullptr) return kOutOfMemory;
  if (format.PrivDataSize > 0) {
    ic->priv_data = lib::av_mallocz(static_cast<std::size_t>(format.PrivDataSize));
    if (ic->priv_data == nullptr) return kOutOfMemory;
    if (format.PrivClass != nullptr) {
      *static_cast<const AVClass**>(ic->priv_data) = format.PrivClass;
      lib::av_opt_set_defaults(ic->priv_data);
    }
  }
  int result = lib::av_opt_set_dict(ic, options);
  if (result < 0) return result;
  if (format.PrivClass != nullptr && ic->priv_data != nullptr) {
    result = lib::av_opt_set_dict(ic->priv_data, options);
    if (result < 0) return result;
  }
  // What the library's own open starts from, so that a header that sets neither leaves both
  // unknown rather than zero.
  ic->start_time = AV_NOPTS_VALUE;
  ic->duration = AV_NOPTS_VALUE;
  return format.ReadHeader != nullptr ? format.ReadHeader(ic) : 0;
}

void SetCodecTag(AVStream* stream, AVCodecContext* codec, const std::string& text) {
  const std::uint32_t tag = CodecTagFromText(text);
  stream->codecpar->codec_tag = tag;
  if (codec != nullptr) codec->codec_tag = tag;
}

std::uint64_t ChannelMask(const AVChannelLayout& layout) {
  return layout.order == AV_CHANNEL_ORDER_NATIVE ? layout.u.mask : 0;
}

}  // namespace

std::uint32_t CodecTagFromText(const std::string& text) {
  char* end = nullptr;
  const unsigned long value = std::strtoul(text.c_str(), &end, 0);
  if (end != nullptr && *end == '\0' && !text.empty()) return static_cast<std::uint32_t>(value);
  // Read as a four-character code, little-endian. A text shorter than four bytes is padded with
  // zero bytes instead of reading past its end.
  std::uint32_t tag = 0;
  for (std::size_t i = 0; i < 4 && i < text.size(); ++i) {
    tag |= static_cast<std::uint32_t>(static_cast<unsigned char>(text[i])) << (8 * i);
  }
  return tag;
}

// ------------------------------------------------------------------ codecs

const AVCodec* TCustomFFmpegOpt::FindCodecOrFail(const char* name, AVMediaType type, bool encoder) {
  const char* word = encoder ? "encoder" : "decoder";
  const AVCodec* codec = encoder ? lib::avcodec_find_encoder_by_name(name) : lib::avcodec_find_decoder_by_name(name);
  if (codec == nullptr) {
    if (const AVCodecDescriptor* descriptor = lib::avcodec_descriptor_get_by_name(name)) {
      codec = encoder ? lib::avcodec_find_encoder(descriptor->id) : lib::avcodec_find_decoder(descriptor->id);
      if (codec != nullptr) {
        DefaultLogger().LogFmt(this, llVerbose, "Matched %s \"%s\" for codec \"%s\".", word, codec->name,
                               descriptor->name);
      }
    }
  }
  if (codec == nullptr) FailFmt("Unknown %s \"%s\"", word, name);
  if (codec->type != type) FailFmt("Invalid %s type \"%s\"", word, name);
  return codec;
}

const AVCodec* TCustomFFmpegOpt::ChooseDecoder(TOptionsContext& o, AVFormatContext* s, AVStream* st) {
  const std::optional<std::string> name = MatchPerStreamGiven<&TOptionsContext::CodecNames>(o, s, st);
  if (name) {
    const AVCodec* codec = FindCodecOrFail(name->c_str(), st->codecpar->codec_type, false);
    st->codecpar->codec_id = codec->id;
    return codec;
  }
  return lib::avcodec_find_decoder(st->codecpar->codec_id);
}

bool GuessInputChannelLayout(TInputStream& ist) {
  AVCodecParameters* parameters = ist.Stream->codecpar;
  AVCodecContext* decoder = ist.DecoderContext.get();
  AVChannelLayout& layout = decoder != nullptr ? decoder->ch_layout : parameters->ch_layout;
  if (layout.order != AV_CHANNEL_ORDER_UNSPEC) return true;
  const int channels = layout.nb_channels;
  if (channels > ist.GuessLayoutMax) return false;
  AVChannelLayout guessed{};
  lib::av_channel_layout_default(&guessed, channels);
  if (guessed.order == AV_CHANNEL_ORDER_UNSPEC) return false;
  // The decoder context and the stream's parameters describe the same stream; both get the
  // layout so that neither reads as unknown later.
  lib::av_channel_layout_uninit(&parameters->ch_layout);
  lib::av_channel_layout_copy(&parameters->ch_layout, &guessed);
  if (decoder != nullptr) {
    lib::av_channel_layout_uninit(&decoder->ch_layout);
    lib::av_channel_layout_copy(&decoder->ch_layout, &guessed);
  }
  char text[256] = {};
  lib::av_channel_layout_describe(&guessed, text, sizeof text);
  DefaultLogger().LogFmt(nullptr, llWarning, "Guessed Channel Layout for  Input Stream #%d.%d : %s", ist.FileIndex,
                         ist.Stream->index, text);
  return true;
}

// ------------------------------------------------------------------ streams

void TCustomFFmpegOpt::AddInputStreams(TOptionsContext& o, AVFormatContext* ic) {
  for (unsigned i = 0; i < ic->nb_streams; ++i) {
    AVStream* st = ic->streams[i];
    AVCodecParameters* parameters = st->codecpar;
    std::unique_ptr<TInputStream> record = NewRecord<TInputStream>(*this);
    TInputStream& ist = *record;
    ist.FileIndex = InputFileCount();
    ist.Stream = st;
    ist.Discard = 1;
    st->discard = AVDISCARD_ALL;

    ist.TsScale = MatchPerStream<&TOptionsContext::TsScale>(o, ic, st, 1.0);
    const std::optional<std::string> codecTag = MatchPerStreamGiven<&TOptionsContext::CodecTags>(o, ic, st);

    ist.Decoder = ChooseDecoder(o, ic, st);
    ist.DecoderOptions = FilterCodecOptions(o.Group->CodecOptions.get(), parameters->codec_id, ic, st, ist.Decoder);

    ist.ReinitFilters = MatchPerStream<&TOptionsContext::ReinitFilters>(o, ic, st, -1);
    ist.FilterInRescaleDeltaLast = AV_NOPTS_VALUE;

    switch (parameters->codec_type) {
      case AVMEDIA_TYPE_VIDEO:
      case AVMEDIA_TYPE_DATA:
      case AVMEDIA_TYPE_SUBTITLE:
        if (ist.Decoder == nullptr) ist.Decoder = lib::avcodec_find_decoder(parameters->codec_id);
        break;
      default:
        break;
    }

    // Each input stream decodes through its own context, made from the stream's parameters.
    ist.DecoderContext.reset(lib::avcodec_alloc_context3(ist.Decoder));
    if (!ist.DecoderContext) Fail("avcodec_alloc_context3() failed");
    const int copied = lib::avcodec_parameters_to_context(ist.DecoderContext.get(), parameters);
    if (copied < 0) Fail(ErrorText("avcodec_parameters_to_context", copied));
    AVCodecContext* codec = ist.DecoderContext.get();
    if (codecTag) SetCodecTag(st, codec, *codecTag);

    switch (parameters->codec_type) {
      case AVMEDIA_TYPE_VIDEO: {
        // Lowered decoding resolution needed an edge-emulation flag with the older decoders; the
        // decoders of this generation always emulate edges, so there is nothing to set.
        ist.ResampleHeight = codec->height;
        ist.ResampleWidth = codec->width;
        ist.ResamplePixFmt = codec->pix_fmt;
        const std::optional<std::string> rate = MatchPerStreamGiven<&TOptionsContext::FrameRates>(o, ic, st);
        if (rate && lib::av_parse_video_rate(&ist.FrameRate, rate->c_str()) < 0) {
          FailFmt("Error parsing framerate %s.", rate->c_str());
        }
        ist.TopFieldFirst = MatchPerStream<&TOptionsContext::TopFieldFirst>(o, ic, st, -1);
        break;
      }
      case AVMEDIA_TYPE_AUDIO:
        ist.GuessLayoutMax = MatchPerStream<&TOptionsContext::GuessLayoutMax>(o, ic, st, kInt32Max);
        GuessInputChannelLayout(ist);
        ist.ResampleSampleFmt = codec->sample_fmt;
        ist.ResampleSampleRate = codec->sample_rate;
        ist.ResampleChannels = codec->ch_layout.nb_channels;
        ist.ResampleChannelLayout = ChannelMask(codec->ch_layout);
        break;
      case AVMEDIA_TYPE_DATA:
      case AVMEDIA_TYPE_SUBTITLE:
        ist.FixSubDuration = MatchPerStream<&TOptionsContext::FixSubDuration>(o, ic, st, 0);
        break;
      case AVMEDIA_TYPE_ATTACHMENT:
      case AVMEDIA_TYPE_UNKNOWN:
        break;
      default:
        throw FFmpegException("Never occur");
    }
    InputStreams.push_back(std::move(record));
  }
}

// ------------------------------------------------------------------ attachments

bool TCustomFFmpegOpt::CheckFileOverwrite(const std::string& fileName) {
  if (FileOverwrite != 0 && NoFileOverwrite == 0) return true;
  // A name with a protocol other than "file:" names no local file; a ":" in the second place is
  // a drive letter, which does.
  const std::size_t colon = fileName.find(':');
  const bool otherProtocol = colon != std::string::npos && !(fileName.size() > 1 && fileName[1] == ':') &&
                             fileName.compare(0, 5, "file:") != 0;
  if (otherProtocol) return true;
  if (lib::avio_check(ToLibraryFileName(fileName).c_str(), 0) < 0) return true;
  LastErrMsg = FormatText("File \"%s\" already exists. Ignore.", fileName.c_str());
  DefaultLogger().Log(this, llWarning, LastErrMsg);
  return false;
}

void TCustomFFmpegOpt::DumpAttachment(AVStream* st, const std::string& fileName) {
  const int fileIndex = InputFileCount() - 1;
  if (st->codecpar->extradata == nullptr || st->codecpar->extradata_size <= 0) {
    DefaultLogger().LogFmt(this, llWarning, "No extradata to dump in stream #%d:%d.", fileIndex, st->index);
    return;
  }
  std::string name = fileName;
  if (name.empty()) {
    const AVDictionaryEntry* tag = lib::av_dict_get(st->metadata, "filename", nullptr, AV_DICT_MATCH_CASE);
    if (tag == nullptr) {
      FailFmt("No filename specified and no \"filename\" tag in stream #%d:%d.", fileIndex, st->index);
    }
    name = tag->value;
  }
  if (!CheckFileOverwrite(name)) return;

  StampWriteStart();
  AVIOContext* raw = nullptr;
  const int opened = lib::avio_open2(&raw, ToLibraryFileName(name).c_str(), AVIO_FLAG_WRITE, &WriteInterrupt, nullptr);
  OpenedIOContextPtr out(raw);
  if (opened < 0) {
    DefaultLogger().LogFmt(this, llError, "Could not open file %s for writing.", name.c_str());
    return;
  }
  lib::avio_write(out.get(), st->codecpar->extradata, st->codecpar->extradata_size);
  lib::avio_flush(out.get());
}

// ------------------------------------------------------------------ opening

int TCustomFFmpegOpt::FindInputFormat(const TOptionsContext& o, const InProcessInputFormat*& inProcess,
                                      const AVInputFormat*& format) {
  inProcess = nullptr;
  format = nullptr;
  if (o.Format.empty()) return 0;
  // The in-process formats come first, by exact name: the library knows nothing of them.
  inProcess = FindInProcessInputFormat(o.Format);
  format = inProcess != nullptr ? inProcess->LibraryRecord : lib::av_find_input_format(o.Format.c_str());
  if (format == nullptr) {
    LastErrMsg = FormatText("Unknown input format: \"%s\"", o.Format.c_str());
    DefaultLogger().Log(this, llFatal, LastErrMsg);
    return kInvalidArgument;
  }
  return 0;
}

void TCustomFFmpegOpt::SetDemuxerOptions(TOptionsContext& o, const AVInputFormat* format) {
  if (const TSpecifierOpt* rate = LastOf(o.AudioSampleRates)) {
    lib::av_dict_set(DictionaryRef(o.Group->FormatOptions), "sample_rate", FormatText("%d", rate->Value.Int).c_str(), 0);
  }
  if (const TSpecifierOpt* channels = LastOf(o.AudioChannels); channels != nullptr && HasPrivateOption(format, "channels")) {
    lib::av_dict_set(DictionaryRef(o.Group->FormatOptions), "channels", FormatText("%d", channels->Value.Int).c_str(), 0);
  }
  if (const TSpecifierOpt* rate = LastOf(o.FrameRates); rate != nullptr && HasPrivateOption(format, "framerate")) {
    lib::av_dict_set(DictionaryRef(o.Group->FormatOptions), "framerate", rate->Value.Str.c_str(), 0);
  }
  if (const TSpecifierOpt* size = LastOf(o.FrameSizes)) {
    lib::av_dict_set(DictionaryRef(o.Group->FormatOptions), "video_size", size->Value.Str.c_str(), 0);
  }
  if (const TSpecifierOpt* pixelFormat = LastOf(o.FramePixFmts)) {
    lib::av_dict_set(DictionaryRef(o.Group->FormatOptions), "pixel_format", pixelFormat->Value.Str.c_str(), 0);
  }
}

void TCustomFFmpegOpt::ForceInputCodecs(TOptionsContext& o, AVFormatContext* ic) {
  struct ForcedCodec {
    char Letter;
    AVMediaType Type;
    AVCodecID AVFormatContext::*Field;
  };
  static constexpr ForcedCodec kForcedCodecs[] = {
      {'v', AVMEDIA_TYPE_VIDEO, &AVFormatContext::video_codec_id},
      {'a', AVMEDIA_TYPE_AUDIO, &AVFormatContext::audio_codec_id},
      {'s', AVMEDIA_TYPE_SUBTITLE, &AVFormatContext::subtitle_codec_id},
  };
  for (const ForcedCodec& forced : kForcedCodecs) {
    if (const std::string* name = MatchPerType(o, o.CodecNames, forced.Letter)) {
      ic->*forced.Field = FindCodecOrFail(name->c_str(), forced.Type, false)->id;
    }
  }
}

int TCustomFFmpegOpt::OpenDemuxer(TOptionsContext& o, const std::string& fileName,
                                  const InProcessInputFormat* inProcess, const AVInputFormat* format,
                                  OutputFormatContextPtr allocated, TInputFile& file) {
  allocated->flags |= AVFMT_FLAG_NONBLOCK;
  allocated->interrupt_callback = ReadInterrupt;
  StampReadStart();

  // The library takes the options it knows out of this copy; what is left was not for it.
  DictionaryPtr unused;
  lib::av_dict_copy(DictionaryRef(unused), o.Group->FormatOptions.get(), 0);
  AVFormatContext* ic = nullptr;
  int result = 0;
  if (inProcess != nullptr) {
    result = OpenInProcessInput(allocated.get(), *inProcess, fileName, DictionaryRef(unused));
    if (result >= 0) ic = allocated.release();
  } else {
    // The library frees the context itself when the open fails.
    ic = allocated.release();
    result = lib::avformat_open_input(&ic, ToLibraryFileName(fileName).c_str(), format, DictionaryRef(unused));
  }
  if (result < 0) {
    LastErrMsg = ErrorText(fileName, result);
    DefaultLogger().Log(this, llFatal, LastErrMsg);
    return result;
  }
  file.Context.reset(ic);
  file.InProcessFormat = inProcess;
  CheckUnusedOptions(unused.get());
  return 0;
}

std::int64_t TCustomFFmpegOpt::SeekInputStart(const TOptionsContext& o, const std::string& fileName,
                                              TInputFile& file) {
  AVFormatContext* ic = file.Context.get();
  std::int64_t timestamp = o.StartTime;
  if (ic->start_time != AV_NOPTS_VALUE) timestamp += ic->start_time;
  if (o.StartTime != 0) {
    StampReadStart();
    // The in-process formats have no seek of their own: they get the warning like any input that
    // cannot seek.
    const int seeked = file.InProcessFormat == nullptr
                           ? lib::avformat_seek_file(ic, -1, INT64_MIN, timestamp, timestamp, 0)
                           : AVERROR(ENOSYS);
    if (seeked < 0) {
      DefaultLogger().LogFmt(this, llWarning, "%s: could not seek to position %0.3f", fileName.c_str(),
                             static_cast<double>(timestamp) / AV_TIME_BASE);
    }
  }
  return timestamp;
}

int TCustomFFmpegOpt::ReadInputStreams(TOptionsContext& o, const std::string& fileName, TInputFile& file) {
  AVFormatContext* ic = file.Context.get();
  for (unsigned i = 0; i < ic->nb_streams; ++i) ChooseDecoder(o, ic, ic->streams[i]);

  StreamDictionaries probeOptions = SetupStreamInfoOptions(ic, o.Group->CodecOptions.get());
  if (OnBeforeFindStreamInfo) OnBeforeFindStreamInfo(this, ic);

  if (file.InProcessFormat == nullptr) {
    StampReadStart();
    const int result = lib::avformat_find_stream_info(ic, probeOptions.Data());
    if (result < 0) {
      file.CloseInput();
      LastErrMsg = FormatText("%s: could not find codec parameters", fileName.c_str());
      DefaultLogger().Log(this, llFatal, LastErrMsg);
      return result;
    }
  }

  const std::int64_t timestamp = SeekInputStart(o, fileName, file);

  AddInputStreams(o, ic);
  lib::av_dump_format(ic, InputFileCount(), fileName.c_str(), 0);

  if (ic->duration != AV_NOPTS_VALUE && ic->duration - o.StartTime > MaxInputDuration) {
    MaxInputDuration = ic->duration - o.StartTime;
  }

  file.FirstStreamIndex = InputStreamCount() - static_cast<int>(ic->nb_streams);
  file.StreamCount = static_cast<int>(ic->nb_streams);
  file.RateEmu = o.RateEmu;
  file.TsOffset = CopyTs != 0 ? o.InputTsOffset : o.InputTsOffset - timestamp;
  return 0;
}

void TCustomFFmpegOpt::DumpRequestedAttachments(const TOptionsContext& o, AVFormatContext* ic) {
  for (const TSpecifierOpt& element : o.DumpAttachment) {
    for (unsigned i = 0; i < ic->nb_streams; ++i) {
      if (MatchStreamSpecifier(ic, ic->streams[i], element.Specifier.c_str()) == 1) {
        DumpAttachment(ic->streams[i], element.Value.Str);
      }
    }
  }
}

int TCustomFFmpegOpt::OpenInputFile(TOptionsContext& o, const std::string& optionText, const std::string& fileName,
                                    const std::string& presetText) {
  int result = ParseFileOptions(*this, &o, optionText, "input file", presetText);
  if (result < 0) return result;

  const InProcessInputFormat* inProcess = nullptr;
  const AVInputFormat* format = nullptr;
  result = FindInputFormat(o, inProcess, format);
  if (result < 0) return result;

  std::unique_ptr<TInputFile> file = NewRecord<TInputFile>(*this);
  // Owned here until the open takes it over.
  OutputFormatContextPtr allocated(lib::avformat_alloc_context());
  if (!allocated) {
    LastErrMsg = "avformat_alloc_context() failed";
    DefaultLogger().Log(this, llFatal, LastErrMsg);
    return kOutOfMemory;
  }
  SetDemuxerOptions(o, format);
  ForceInputCodecs(o, allocated.get());
  result = OpenDemuxer(o, fileName, inProcess, format, std::move(allocated), *file);
  if (result < 0) return result;
  AVFormatContext* ic = file->Context.get();

  // Streams appended below belong to this file only once it is appended; a failure on the way
  // takes them back out, so that no record is left pointing into a closed input.
  const int firstStream = InputStreamCount();
  try {
    result = ReadInputStreams(o, fileName, *file);
    if (result < 0) return result;
    InputFiles.push_back(std::move(file));
  } catch (...) {
    InputStreams.resize(static_cast<std::size_t>(firstStream));
    throw;
  }

  DumpRequestedAttachments(o, ic);
  return InputFileCount() - 1;
}

}  // namespace lumivor
