#include "media/components/ff_decoder.h"

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <vector>

#include "media/engine/error_text.h"
#include "media/engine/interrupt_callbacks.h"
#include "media/engine/media_helpers.h"
#include "media/runtime/ff_load.h"
#include "media/runtime/ff_log.h"
#include "media/runtime/file_names.h"
#include "media/runtime/main_thread.h"

namespace lumivor {
namespace {

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* format, ...) {
  char text[1024];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  return text;
}

// A tag value as a number: the whole text must be one, else 0.
int TagNumber(const AVDictionary* tags, const char* key) {
  const std::string text = DictValue(tags, key, std::string());
  if (text.empty()) return 0;
  char* end = nullptr;
  const long value = std::strtol(text.c_str(), &end, 10);
  if (end == text.c_str() || *end != '\0') return 0;
  return static_cast<int>(value);
}

// The year of a "date" tag, which demuxers of this library generation fill where older ones kept
// "year": "2024", "2024-05-01" or "2024-05-01T10:00:00Z" all give 2024; anything not starting
// with digits (or with digits running on past a year) gives 0, as a non-numeric year does.
int DateYear(const AVDictionary* tags) {
  const std::string text = DictValue(tags, "date", std::string());
  std::size_t digits = 0;
  while (digits < text.size() && digits < 5 && text[digits] >= '0' && text[digits] <= '9') ++digits;
  if (digits == 0 || digits > 4) return 0;
  if (digits < text.size() && text[digits] != '-' && text[digits] != '/' && text[digits] != 'T' && text[digits] != ' ')
    return 0;
  return std::atoi(text.substr(0, digits).c_str());
}

std::string SizeText(std::int64_t size) {
  if (size <= 1024) return Format("%d Byte", static_cast<int>(size));
  if (size <= 1048576) return Format("%.2f KB", static_cast<double>(size) / 1024);
  if (size <= 1073741824) return Format("%.2f MB", static_cast<double>(size) / 1048576);
  return Format("%.2f GB", static_cast<double>(size) / 1073741824);
}

// "%d.%.6d" seconds; the sign is written separately so that starts between -1 and 0 keep it.
std::string StartText(std::int64_t us) {
  const std::int64_t magnitude = us < 0 ? -us : us;
  return Format("%s%d.%.6d", us < 0 ? "-" : "", static_cast<int>(magnitude / AV_TIME_BASE),
                static_cast<int>(magnitude % AV_TIME_BASE));
}

// Tags as indented "key: value" lines; a value is broken into further lines at a line feed, a
// carriage return reads as a space and other vertical control characters are dropped, so one tag
// can never forge a line of its own.
void AppendTags(std::vector<std::string>& lines, const AVDictionary* tags, const std::string& indent) {
  if (tags == nullptr) return;
  if (lib::av_dict_count(tags) == 1 && lib::av_dict_get(tags, "language", nullptr, 0) != nullptr) return;
  lines.push_back(indent + "Metadata:");
  const AVDictionaryEntry* tag = nullptr;
  while ((tag = lib::av_dict_get(tags, "", tag, AV_DICT_IGNORE_SUFFIX)) != nullptr) {
    if (std::strcmp(tag->key, "language") == 0) continue;
    std::string line = Format("%s  %-16s: ", indent.c_str(), tag->key);
    for (const char* p = tag->value; *p != '\0'; ++p) {
      switch (*p) {
        case '\n':
          lines.push_back(line);
          line = Format("%s  %-16s: ", indent.c_str(), "");
          break;
        case '\r': line += ' '; break;
        case '\b':
        case '\v':
        case '\f': break;
        default: line += *p;
      }
    }
    lines.push_back(line);
  }
}

// Rates read "25 fps", "29.97 fps" or "90k tbn", the way the library's own dump prints them.
std::string RateText(AVRational rate, const char* unit) {
  const double value = av_q2d(rate);
  const long hundredths = std::lrint(value * 100);
  if (hundredths == 0) return Format(", %1.4f %s", value, unit);
  if (hundredths % 100 != 0) return Format(", %3.2f %s", value, unit);
  if (hundredths % (100 * 1000) != 0) return Format(", %1.0f %s", value, unit);
  return Format(", %1.0fk %s", value / 1000, unit);
}

struct DispositionWord {
  int Flag;
  const char* Text;
};
constexpr DispositionWord kDispositionWords[] = {
    {AV_DISPOSITION_DEFAULT, " (default)"},
    {AV_DISPOSITION_DUB, " (dub)"},
    {AV_DISPOSITION_ORIGINAL, " (original)"},
    {AV_DISPOSITION_COMMENT, " (comment)"},
    {AV_DISPOSITION_LYRICS, " (lyrics)"},
    {AV_DISPOSITION_KARAOKE, " (karaoke)"},
    {AV_DISPOSITION_FORCED, " (forced)"},
    {AV_DISPOSITION_HEARING_IMPAIRED, " (hearing impaired)"},
    {AV_DISPOSITION_VISUAL_IMPAIRED, " (visual impaired)"},
    {AV_DISPOSITION_CLEAN_EFFECTS, " (clean effects)"},
};

std::string CodecDescription(const AVStream* stream) {
  CodecContextPtr codec(lib::avcodec_alloc_context3(nullptr));
  if (!codec || lib::avcodec_parameters_to_context(codec.get(), stream->codecpar) < 0) {
    return DescribeCodec(stream->codecpar->codec_id, stream->codecpar->codec_tag, false);
  }
  char text[512] = {};
  lib::avcodec_string(text, sizeof text, codec.get(), 0);
  return text;
}

void AppendStream(std::vector<std::string>& lines, const AVFormatContext* context, int index) {
  const AVStream* stream = context->streams[index];
  const AVCodecParameters* codec = stream->codecpar;
  std::string line = Format("  Stream #%d", index);
  if ((context->iformat->flags & AVFMT_SHOW_IDS) != 0) line += Format("[0x%x]", stream->id);
  if (const AVDictionaryEntry* language = lib::av_dict_get(stream->metadata, "language", nullptr, 0)) {
    line += Format("(%s)", language->value);
  }
  line += Format(", %d/%d", stream->time_base.num, stream->time_base.den);
  line += ": " + CodecDescription(stream);
  if (stream->sample_aspect_ratio.num != 0 && av_cmp_q(stream->sample_aspect_ratio, codec->sample_aspect_ratio) != 0) {
    int darNum = 0;
    int darDen = 0;
    lib::av_reduce(&darNum, &darDen, static_cast<std::int64_t>(codec->width) * stream->sample_aspect_ratio.num,
                   static_cast<std::int64_t>(codec->height) * stream->sample_aspect_ratio.den, 1024 * 1024);
    line += Format(", SAR %d:%d DAR %d:%d", stream->sample_aspect_ratio.num, stream->sample_aspect_ratio.den, darNum,
                   darDen);
  }
  if (codec->codec_type == AVMEDIA_TYPE_VIDEO) {
    if (stream->avg_frame_rate.num != 0 && stream->avg_frame_rate.den != 0) line += RateText(stream->avg_frame_rate, "fps");
    if (stream->r_frame_rate.num != 0 && stream->r_frame_rate.den != 0) line += RateText(stream->r_frame_rate, "tbr");
    if (stream->time_base.num != 0 && stream->time_base.den != 0) line += RateText(av_inv_q(stream->time_base), "tbn");
    const AVRational codecTimeBase = lib::av_stream_get_codec_timebase(stream);
    if (codecTimeBase.num != 0 && codecTimeBase.den != 0) line += RateText(av_inv_q(codecTimeBase), "tbc");
  }
  for (const auto& word : kDispositionWords) {
    if ((stream->disposition & word.Flag) != 0) line += word.Text;
  }
  if (stream->start_time != AV_NOPTS_VALUE) {
    line += Format(", start: %.6f", static_cast<double>(stream->start_time) * av_q2d(stream->time_base));
  }
  if (stream->duration != AV_NOPTS_VALUE) line += ", duration: " + FormatTimestamp(stream->duration, stream->time_base);
  lines.push_back(line);
  AppendTags(lines, stream->metadata, "    ");
}

bool FileExists(const std::string& name, std::int64_t& size) {
  struct stat info {};
  if (name.empty() || ::stat(name.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return false;
  size = info.st_size;
  return true;
}

}  // namespace

TCustomDecoder::TCustomDecoder() = default;

TCustomDecoder::~TCustomDecoder() { CloseFile(); }

bool TCustomDecoder::LibrariesLoaded() const { return TFFLoader::Instance().AllLoaded(DecoderLibraries); }

bool TCustomDecoder::LoadLibraries(const std::string& folder) {
  TFFLoader& loader = TFFLoader::Instance();
  loader.SetLibraryPath(folder);
  if (loader.Load(DecoderLibraries)) return true;
  LastErrorText = loader.LastError();
  return false;
}

bool TCustomDecoder::TakeOption(const std::string&, const std::string&) { return false; }

bool TFFDecoder::TakeOption(const std::string& key, const std::string& value) {
  if (key != "sws_flags") return false;
  // The scaler's flag names ("bicubic", "fast_bilinear+accurate_rnd", ...) are read through a
  // scaler context's own option, so every form the library accepts works here.
  SwsContextPtr scaler(lib::sws_alloc_context());
  std::int64_t flags = 0;
  if (scaler && lib::av_opt_set(scaler.get(), "sws_flags", value.c_str(), 0) >= 0 &&
      lib::av_opt_get_int(scaler.get(), "sws_flags", 0, &flags) >= 0) {
    converter_.SwsFlags = static_cast<int>(flags);
  } else {
    DefaultLogger().LogFmt(this, llWarning, "Invalid value \"%s\" for option sws_flags, ignored.", value.c_str());
  }
  return true;
}

void TCustomDecoder::SetOption(const std::string& key, const std::string& value) {
  pendingOptions_.emplace_back(key, value);
}

void TCustomDecoder::ResetOptions() { pendingOptions_.clear(); }

void TCustomDecoder::SetError(const std::string& text, bool warning) {
  LastErrorText = text;
  DefaultLogger().Log(this, warning ? llWarning : llError, text);
}

void TCustomDecoder::ResetState() {
  FileSize = -1;
  StreamCount = -1;
  ProgramCount = -1;
  AudioStreamCount = -1;
  VideoStreamCount = -1;
  SubtitleStreamCount = -1;
  FirstAudioStream = -1;
  FirstVideoStream = -1;
  FirstSubtitleStream = -1;
}

void TCustomDecoder::CloseFile() {
  context_ = nullptr;
  ownedContext_.reset();
  fileName_.clear();
  ResetState();
}

int TCustomDecoder::InterruptCallback(void* opaque) {
  auto* self = static_cast<TCustomDecoder*>(opaque);
  return TimeOutReached(self, llWarning, self->operationStart_.load(), self->ReadTimeout, "connecting/reading timeout",
                        "connecting/reading canceled");
}

bool TCustomDecoder::LoadFile(const std::string& fileName, const std::string& formatName) {
  CloseFile();
  if (!LibrariesLoaded() && !LoadLibraries(TFFLoader::Instance().LibraryPath())) {
    ResetOptions();
    return false;
  }
  // The options belong to this one call whatever happens below.
  std::vector<std::pair<std::string, std::string>> options;
  options.swap(pendingOptions_);

  const AVInputFormat* format = nullptr;
  if (!formatName.empty()) {
    format = lib::av_find_input_format(formatName.c_str());
    if (format == nullptr) {
      SetError(Format("Unknown input format: %s", formatName.c_str()));
      return false;
    }
  }

  DictionaryPtr formatOptions;
  DictionaryPtr codecOptions;
  const AVClass* codecClass = lib::avcodec_get_class();
  for (const auto& [key, value] : options) {
    if (TakeOption(key, value)) continue;
    const bool codecOption =
        lib::av_opt_find(&codecClass, key.c_str(), nullptr, 0, AV_OPT_SEARCH_CHILDREN | AV_OPT_SEARCH_FAKE_OBJ) != nullptr;
    AVDictionary* target = codecOption ? codecOptions.release() : formatOptions.release();
    lib::av_dict_set(&target, key.c_str(), value.c_str(), 0);
    (codecOption ? codecOptions : formatOptions).reset(target);
  }

  AVFormatContext* raw = lib::avformat_alloc_context();
  if (raw == nullptr) {
    SetError(ErrorText(fileName, AVERROR(ENOMEM)));
    return false;
  }
  raw->interrupt_callback.callback = &TCustomDecoder::InterruptCallback;
  raw->interrupt_callback.opaque = this;

  const std::string libraryName = ToLibraryFileName(fileName);
  AVDictionary* openOptions = formatOptions.release();
  operationStart_ = MonotonicMicroseconds();
  // On failure the library frees the context it was given.
  const int opened = lib::avformat_open_input(&raw, libraryName.c_str(), format, &openOptions);
  formatOptions.reset(openOptions);
  if (opened < 0) {
    SetError(ErrorText(fileName, opened));
    return false;
  }
  InputFormatContextPtr context(raw);

  const AVDictionaryEntry* unused = nullptr;
  while ((unused = lib::av_dict_get(formatOptions.get(), "", unused, AV_DICT_IGNORE_SUFFIX)) != nullptr) {
    DefaultLogger().LogFmt(this, llWarning, "Option %s not found, ignored.", unused->key);
  }

  context->flags |= AVFMT_FLAG_NONBLOCK;
  if (OnBeforeFindStreamInfo) {
    AVFormatContext* opened_context = context.get();
    auto call = [this, opened_context] { OnBeforeFindStreamInfo(this, opened_context); };
    // A handler is the caller's code: whatever it throws ends this open like any other failure,
    // with the file closed, instead of leaving the component through the caller's stack.
    std::string handlerError;
    try {
      RaiseComponentEvent(TriggerEventInMainThread, call);
    } catch (const std::exception& error) {
      handlerError = error.what();
      if (handlerError.empty()) handlerError = "exception without a message";
    } catch (...) {
      handlerError = "unknown exception";
    }
    if (!handlerError.empty()) {
      SetError(Format("%s: OnBeforeFindStreamInfo failed: %s", fileName.c_str(), handlerError.c_str()));
      return false;
    }
  }

  // One dictionary per stream: the decoder options reach every stream's probe decoder.
  const unsigned streamCount = context->nb_streams;
  std::vector<AVDictionary*> streamOptions(streamCount, nullptr);
  for (unsigned i = 0; i < streamCount; ++i) lib::av_dict_copy(&streamOptions[i], codecOptions.get(), 0);
  operationStart_ = MonotonicMicroseconds();
  const int probed = lib::avformat_find_stream_info(context.get(), streamCount > 0 ? streamOptions.data() : nullptr);
  for (AVDictionary*& dictionary : streamOptions) lib::av_dict_free(&dictionary);
  if (probed < 0) {
    SetError(Format("%s: could not find codec parameters", fileName.c_str()));
    return false;
  }
  if (context->pb != nullptr) {
    context->pb->eof_reached = 0;
    context->pb->error = 0;
  }

  ownedContext_ = std::move(context);
  context_ = ownedContext_.get();
  fileName_ = fileName;
  RefreshState();
  ForcedFormat = formatName;
  return true;
}

void TCustomDecoder::AttachContext(AVFormatContext* formatContext) {
  CloseFile();
  // Only an opened input can be described: an output context has no input format to name.
  if (formatContext == nullptr || formatContext->iformat == nullptr) return;
  context_ = formatContext;
  fileName_ = formatContext->url != nullptr ? FromLibraryFileName(formatContext->url) : std::string();
  RefreshState();
}

void TCustomDecoder::RefreshState() {
  FileSize = 0;
  if ((context_->iformat->flags & AVFMT_NOFILE) == 0) {
    if (context_->pb != nullptr) FileSize = std::max<std::int64_t>(lib::avio_size(context_->pb), 0);
    std::int64_t diskSize = 0;
    if (FileSize == 0 && FileExists(fileName_, diskSize)) FileSize = diskSize;
  }
  StreamCount = static_cast<int>(context_->nb_streams);
  ProgramCount = static_cast<int>(context_->nb_programs);
  AudioStreamCount = VideoStreamCount = SubtitleStreamCount = 0;
  FirstAudioStream = FirstVideoStream = FirstSubtitleStream = -1;
  for (int i = 0; i < StreamCount; ++i) {
    switch (context_->streams[i]->codecpar->codec_type) {
      case AVMEDIA_TYPE_VIDEO:
        if (VideoStreamCount++ == 0) FirstVideoStream = i;
        break;
      case AVMEDIA_TYPE_AUDIO:
        if (AudioStreamCount++ == 0) FirstAudioStream = i;
        break;
      case AVMEDIA_TYPE_SUBTITLE:
        if (SubtitleStreamCount++ == 0) FirstSubtitleStream = i;
        break;
      default: break;
    }
  }
}

bool TCustomDecoder::GetFileStreamInfo(TFileStreamInfo& info) {
  info = TFileStreamInfo();
  if (context_ == nullptr) {
    SetError("file not loaded.", true);
    return false;
  }
  info.StartTime = context_->start_time;
  info.Duration = context_->duration == AV_NOPTS_VALUE ? -1 : context_->duration;
  info.BitRate = static_cast<int>(context_->bit_rate);
  const AVDictionary* tags = context_->metadata;
  info.Year = lib::av_dict_get(tags, "year", nullptr, 0) != nullptr ? TagNumber(tags, "year") : DateYear(tags);
  info.Track = TagNumber(tags, "track");
  info.Title = DictValue(tags, "title", "");
  // Demuxers of this library generation store the author as "artist"; "author" wins when a file
  // carries both.
  info.Author = lib::av_dict_get(tags, "author", nullptr, 0) != nullptr ? DictValue(tags, "author", "")
                                                                        : DictValue(tags, "artist", "");
  info.Copyright = DictValue(tags, "copyright", "");
  info.Comment = DictValue(tags, "comment", "");
  info.Album = DictValue(tags, "album", "");
  info.Genre = DictValue(tags, "genre", "");
  return true;
}

bool TCustomDecoder::StreamCheck(int& streamIndex, AVMediaType type) {
  const bool audio = type == AVMEDIA_TYPE_AUDIO;
  if (context_ == nullptr) {
    SetError("file not loaded.", true);
    return false;
  }
  if (streamIndex == -1) {
    streamIndex = audio ? FirstAudioStream : FirstVideoStream;
    if (streamIndex < 0) {
      SetError(audio ? "no audio stream." : "no video stream.");
      return false;
    }
  }
  if (streamIndex < 0 || streamIndex >= static_cast<int>(context_->nb_streams)) {
    SetError(Format("stream index #%d is invalid.", streamIndex));
    return false;
  }
  if (context_->streams[streamIndex]->codecpar->codec_type != type) {
    SetError(Format(audio ? "stream #%d is not audio stream." : "stream #%d is not video stream.", streamIndex));
    return false;
  }
  return true;
}

namespace {

template <typename Info>
void FillCommon(const AVStream* stream, Info& info) {
  info.Language = DictValue(stream->metadata, "language", "");
  info.CodecName = lib::avcodec_get_name(stream->codecpar->codec_id);
  const AVRational timeBase = stream->time_base;
  const bool timeBaseUsable = timeBase.num != 0 && timeBase.den != 0;
  info.StartTime = stream->start_time;
  if (stream->start_time != AV_NOPTS_VALUE && timeBaseUsable) {
    info.StartTimeUS = lib::av_rescale_q(stream->start_time, timeBase, AVRational{1, AV_TIME_BASE});
  }
  info.Duration = stream->duration;
  if (stream->duration != AV_NOPTS_VALUE && timeBaseUsable) {
    info.DurationUS = lib::av_rescale_q(stream->duration, timeBase, AVRational{1, AV_TIME_BASE});
  }
  info.BitRate = static_cast<int>(stream->codecpar->bit_rate);
}

}  // namespace

bool TCustomDecoder::GetAudioStreamInfo(int streamIndex, TAudioStreamInfo& info) {
  info = TAudioStreamInfo();
  if (!StreamCheck(streamIndex, AVMEDIA_TYPE_AUDIO)) return false;
  const AVStream* stream = context_->streams[streamIndex];
  FillCommon(stream, info);
  info.Channels = stream->codecpar->ch_layout.nb_channels;
  info.SampleRate = stream->codecpar->sample_rate;
  info.SampleFormat = stream->codecpar->format;
  return true;
}

bool TCustomDecoder::GetVideoStreamInfo(int streamIndex, TVideoStreamInfo& info) {
  info = TVideoStreamInfo();
  if (!StreamCheck(streamIndex, AVMEDIA_TYPE_VIDEO)) return false;
  const AVStream* stream = context_->streams[streamIndex];
  const AVCodecParameters* codec = stream->codecpar;
  FillCommon(stream, info);
  info.Width = codec->width;
  info.Height = codec->height;
  const AVRational sar = stream->sample_aspect_ratio.num != 0 ? stream->sample_aspect_ratio : codec->sample_aspect_ratio;
  if (sar.num != 0 && sar.den != 0) {
    info.SampleAspectNum = sar.num;
    info.SampleAspectDen = sar.den;
    info.SampleAspect = static_cast<float>(sar.num) / static_cast<float>(sar.den);
    int darNum = 0;
    int darDen = 1;
    lib::av_reduce(&darNum, &darDen, static_cast<std::int64_t>(codec->width) * sar.num,
                   static_cast<std::int64_t>(codec->height) * sar.den, 1048576);
    info.DisplayAspectNum = darNum;
    info.DisplayAspectDen = darDen;
    if (darDen != 0) info.DisplayAspect = static_cast<float>(darNum) / static_cast<float>(darDen);
  }
  info.PixelFormat = codec->format;
  const AVRational rate = stream->avg_frame_rate.num != 0 && stream->avg_frame_rate.den != 0 ? stream->avg_frame_rate
                                                                                              : stream->r_frame_rate;
  info.FrameRateNum = rate.num;
  info.FrameRateDen = rate.den;
  return true;
}

bool TCustomDecoder::IsAudioStream(int streamIndex) const {
  return context_ != nullptr && streamIndex >= 0 && streamIndex < static_cast<int>(context_->nb_streams) &&
         context_->streams[streamIndex]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO;
}

bool TCustomDecoder::IsVideoStream(int streamIndex) const {
  return context_ != nullptr && streamIndex >= 0 && streamIndex < static_cast<int>(context_->nb_streams) &&
         context_->streams[streamIndex]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO;
}

std::string TCustomDecoder::FileInfoText() {
  if (context_ == nullptr) {
    SetError("file not loaded.", true);
    return std::string();
  }
  const AVFormatContext* context = context_;
  std::vector<std::string> lines;
  lines.push_back("File Name: " + fileName_);
  lines.push_back(Format("Format Name: %s", context->iformat->name));
  if (context->iformat->long_name != nullptr && context->iformat->long_name[0] != '\0') {
    lines.push_back(Format("Format Long Name: %s", context->iformat->long_name));
  }
  lines.push_back("File Size: " + SizeText(FileSize));
  AppendTags(lines, context->metadata, "");

  std::string duration = "Duration: ";
  if (context->duration != AV_NOPTS_VALUE) {
    duration += FormatDuration(context->duration);
  } else {
    duration += "N/A";
  }
  if (context->start_time != AV_NOPTS_VALUE) duration += ", start: " + StartText(context->start_time);
  duration += ", bitrate: ";
  duration += context->bit_rate != 0 ? Format("%d kb/s", static_cast<int>(context->bit_rate / 1000)) : "N/A";
  lines.push_back(duration);

  for (unsigned i = 0; i < context->nb_chapters; ++i) {
    const AVChapter* chapter = context->chapters[i];
    lines.push_back(Format("Chapter #%d: start %.6f, end %.6f", static_cast<int>(i),
                           static_cast<double>(chapter->start) * av_q2d(chapter->time_base),
                           static_cast<double>(chapter->end) * av_q2d(chapter->time_base)));
    AppendTags(lines, chapter->metadata, "  ");
  }

  std::vector<bool> listed(context->nb_streams, false);
  for (unsigned p = 0; p < context->nb_programs; ++p) {
    const AVProgram* program = context->programs[p];
    lines.push_back(Format("Program %d %s", program->id, DictValue(program->metadata, "name", "").c_str()));
    AppendTags(lines, program->metadata, "  ");
    for (unsigned k = 0; k < program->nb_stream_indexes; ++k) {
      const unsigned index = program->stream_index[k];
      if (index >= context->nb_streams) continue;
      AppendStream(lines, context, static_cast<int>(index));
      listed[index] = true;
    }
  }
  if (context->nb_programs > 0) {
    for (unsigned i = 0; i < context->nb_streams; ++i) {
      if (!listed[i]) {
        lines.push_back("No Program");
        break;
      }
    }
  }
  for (unsigned i = 0; i < context->nb_streams; ++i) {
    if (!listed[i]) AppendStream(lines, context, static_cast<int>(i));
  }

  std::string text;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (i > 0) text += "\n";
    text += lines[i];
  }
  return text;
}

}  // namespace lumivor
