// Opening an output: which input streams (or filter graph outputs) feed it, attachments, the
// duration options, the muxer's byte stream, metadata and chapters. A failed output leaves
// nothing behind: its muxer context, its records and an empty file it created are removed.

#include <sys/stat.h>
#include <unistd.h>

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

namespace {

constexpr int kInvalidArgument = -EINVAL;
constexpr int kOutOfMemory = -ENOMEM;

// A local path for a name the file protocol writes; empty for any other protocol.
std::string LocalPath(const std::string& name) {
  if (name.compare(0, 5, "file:") == 0) return name.substr(5);
  const std::size_t colon = name.find(':');
  const std::size_t slash = name.find('/');
  if (colon != std::string::npos && (slash == std::string::npos || colon < slash)) return std::string();
  return name;
}

bool WritesFile(const AVFormatContext* oc) {
  return oc->oformat != nullptr && (oc->oformat->flags & AVFMT_NOFILE) == 0 && (oc->flags & AVFMT_FLAG_CUSTOM_IO) == 0;
}

std::int64_t ReadInteger(const char* text, const char** rest) {
  char* end = nullptr;
  const long long value = std::strtoll(text, &end, 0);
  if (rest != nullptr) *rest = end;
  return value;
}

}  // namespace

// Closes the byte stream of a muxer context that writes a file, deletes the file when nothing was
// written to it, and frees the context.
void CloseAbandonedMuxer(OutputFormatContextPtr context) {
  if (!context) return;
  AVFormatContext* oc = context.get();
  if (WritesFile(oc)) {
    if (oc->pb != nullptr) lib::avio_closep(&oc->pb);
    const std::string path = LocalPath(FromLibraryFileName(oc->url != nullptr ? oc->url : ""));
    struct stat facts {};
    if (!path.empty() && ::stat(path.c_str(), &facts) == 0 && S_ISREG(facts.st_mode) && facts.st_size == 0) {
      ::unlink(path.c_str());
    }
  }
}

// ------------------------------------------------------------------ metadata

int TCustomFFmpegOpt::ParseMetaType(const std::string& text, char& type, std::string& streamSpecifier, int& index) {
  type = 'g';
  streamSpecifier.clear();
  index = 0;
  if (text.empty()) return 0;
  type = text[0];
  switch (type) {
    case 'g':
      return 0;
    case 's':
      if (text.size() > 1 && text[1] != ':') {
        LastErrMsg = FormatText("Invalid metadata specifier %s.", text.c_str() + 1);
        DefaultLogger().Log(this, llFatal, LastErrMsg);
        return -1;
      }
      if (text.size() > 2) streamSpecifier = text.substr(2);
      return 0;
    case 'c':
    case 'p':
      if (text.size() > 1 && text[1] == ':') index = static_cast<int>(ReadInteger(text.c_str() + 2, nullptr));
      return 0;
    default:
      LastErrMsg = FormatText("Invalid metadata type %c.", type);
      DefaultLogger().Log(this, llFatal, LastErrMsg);
      return -1;
  }
}

int TCustomFFmpegOpt::CopyMetadata(const std::string& outSpec, const std::string& inSpec, TOptionsContext& o,
                                   AVFormatContext* oc, AVFormatContext* ic) {
  char typeIn = 'g';
  char typeOut = 'g';
  std::string streamIn;
  std::string streamOut;
  int indexIn = 0;
  int indexOut = 0;
  if (ParseMetaType(inSpec, typeIn, streamIn, indexIn) < 0) return -1;
  if (ParseMetaType(outSpec, typeOut, streamOut, indexOut) < 0) return -1;

  if (ic == nullptr) {
    // A negative input index switches the automatic copy off for what the output names.
    if (typeOut == 'g' || outSpec.empty()) o.MetadataGlobalManual = 1;
    if (typeOut == 's' || outSpec.empty()) o.MetadataStreamsManual = 1;
    if (typeOut == 'c' || outSpec.empty()) o.MetadataChaptersManual = 1;
    return 0;
  }
  if (typeIn == 'g' || typeOut == 'g') o.MetadataGlobalManual = 1;
  if (typeIn == 's' || typeOut == 's') o.MetadataStreamsManual = 1;
  if (typeIn == 'c' || typeOut == 'c') o.MetadataChaptersManual = 1;

  auto dictionaryOf = [this](AVFormatContext* context, char type, int index, AVDictionary**& result) -> int {
    switch (type) {
      case 'g':
        result = &context->metadata;
        return 0;
      case 'c':
        if (index < 0 || static_cast<unsigned>(index) >= context->nb_chapters) {
          LastErrMsg = FormatText("Invalid %s index %d while processing metadata maps.", "chapter", index);
          DefaultLogger().Log(this, llFatal, LastErrMsg);
          return -1;
        }
        result = &context->chapters[index]->metadata;
        return 0;
      case 'p':
        if (index < 0 || static_cast<unsigned>(index) >= context->nb_programs) {
          LastErrMsg = FormatText("Invalid %s index %d while processing metadata maps.", "program", index);
          DefaultLogger().Log(this, llFatal, LastErrMsg);
          return -1;
        }
        result = &context->programs[index]->metadata;
        return 0;
      case 's':
        return 0;  // resolved by stream below
      default:
        throw FFmpegException("never occur");
    }
  };

  AVDictionary** metaIn = nullptr;
  AVDictionary** metaOut = nullptr;
  if (dictionaryOf(ic, typeIn, indexIn, metaIn) < 0) return -1;
  if (dictionaryOf(oc, typeOut, indexOut, metaOut) < 0) return -1;

  if (typeIn == 's') {
    for (unsigned i = 0; i < ic->nb_streams; ++i) {
      const int match = MatchStreamSpecifier(ic, ic->streams[i], streamIn.c_str());
      if (match < 0) {
        LastErrMsg = ErrorText("check_stream_specifier", match);
        return match;
      }
      if (match > 0) {
        metaIn = &ic->streams[i]->metadata;
        break;
      }
    }
    if (metaIn == nullptr) {
      LastErrMsg = FormatText("Stream specifier %s does not match  any streams.", streamIn.c_str());
      DefaultLogger().Log(this, llFatal, LastErrMsg);
      return -1;
    }
  }

  if (typeOut == 's') {
    for (unsigned i = 0; i < oc->nb_streams; ++i) {
      const int match = MatchStreamSpecifier(oc, oc->streams[i], streamOut.c_str());
      if (match < 0) {
        LastErrMsg = ErrorText("check_stream_specifier", match);
        return match;
      }
      if (match > 0) lib::av_dict_copy(&oc->streams[i]->metadata, *metaIn, AV_DICT_DONT_OVERWRITE);
    }
  } else {
    lib::av_dict_copy(metaOut, *metaIn, AV_DICT_DONT_OVERWRITE);
  }
  return 0;
}

int TCustomFFmpegOpt::CopyChapters(const TInputFile& ifile, const TOutputFile& ofile, bool copyMetadata) {
  AVFormatContext* is = ifile.Context.get();
  AVFormatContext* os = ofile.Context.get();
  if (is->nb_chapters == 0) return 0;
  // A failed growth leaves the old array in place (unlike the freeing variant).
  void* grown = lib::av_realloc_array(os->chapters, static_cast<std::size_t>(is->nb_chapters) + os->nb_chapters,
                                      sizeof(*os->chapters));
  if (grown == nullptr) return kOutOfMemory;
  os->chapters = static_cast<AVChapter**>(grown);

  for (unsigned i = 0; i < is->nb_chapters; ++i) {
    const AVChapter* in = is->chapters[i];
    const std::int64_t offset = lib::av_rescale_q(ofile.StartTime - ifile.TsOffset, AV_TIME_BASE_Q, in->time_base);
    const std::int64_t limit =
        ofile.RecordingTime == kNoLimit ? kNoLimit : lib::av_rescale_q(ofile.RecordingTime, AV_TIME_BASE_Q, in->time_base);
    if (in->end < offset) continue;
    if (limit != kNoLimit && in->start > limit + offset) break;

    auto* out = static_cast<AVChapter*>(lib::av_mallocz(sizeof(AVChapter)));
    if (out == nullptr) return kOutOfMemory;
    out->id = in->id;
    out->time_base = in->time_base;
    out->start = std::max<std::int64_t>(0, in->start - offset);
    out->end = std::min(limit, in->end - offset);
    if (copyMetadata) lib::av_dict_copy(&out->metadata, in->metadata, 0);
    os->chapters[os->nb_chapters++] = out;
  }
  return 0;
}

// ------------------------------------------------------------------ opening an output

int TCustomFFmpegOpt::ChooseVideoStream(const AVOutputFormat* format, int fileIndex) const {
  // A muxer that keeps video only as attached pictures (cover art) answers this code.
  const int answer = lib::avformat_query_codec(format, format->video_codec, 0);
  const bool picturesOnly = answer == static_cast<int>(MKTAG('A', 'P', 'I', 'C'));
  std::int64_t area = 0;
  int chosen = -1;
  for (int i = 0; i < InputStreamCount(); ++i) {
    const TInputStream& ist = *InputStreams[static_cast<std::size_t>(i)];
    if ((fileIndex >= 0 && ist.FileIndex != fileIndex) || ist.Stream->codecpar->codec_type != AVMEDIA_TYPE_VIDEO) {
      continue;
    }
    const bool attached = (ist.Stream->disposition & AV_DISPOSITION_ATTACHED_PIC) != 0;
    if (picturesOnly && !attached) continue;
    std::int64_t newArea = static_cast<std::int64_t>(ist.Stream->codecpar->width) * ist.Stream->codecpar->height;
    if (!picturesOnly && attached) newArea = 1;
    if (newArea > area) {
      area = newArea;
      chosen = i;
    }
  }
  return chosen;
}

int TCustomFFmpegOpt::ChooseAudioStream(int fileIndex) const {
  int channels = 0;
  int chosen = -1;
  for (int i = 0; i < InputStreamCount(); ++i) {
    const TInputStream& ist = *InputStreams[static_cast<std::size_t>(i)];
    if ((fileIndex >= 0 && ist.FileIndex != fileIndex) || ist.Stream->codecpar->codec_type != AVMEDIA_TYPE_AUDIO) {
      continue;
    }
    if (ist.Stream->codecpar->ch_layout.nb_channels > channels) {
      channels = ist.Stream->codecpar->ch_layout.nb_channels;
      chosen = i;
    }
  }
  return chosen;
}

int TCustomFFmpegOpt::FailOutputSetup(const std::string& text) {
  LastErrMsg = text;
  DefaultLogger().Log(this, llFatal, text);
  return -1;
}

int TCustomFFmpegOpt::AllocateOutputContext(const TOptionsContext& o, const std::string& fileName,
                                            OutputFormatContextPtr& context) {
  const std::string url = ToLibraryFileName(fileName);
  AVFormatContext* allocated = nullptr;
  const int allocatedResult = lib::avformat_alloc_output_context2(&allocated, nullptr,
                                                                  o.Format.empty() ? nullptr : o.Format.c_str(), url.c_str());
  if (allocatedResult < 0 || allocated == nullptr) {
    // The library answers a name it cannot place with a bare "invalid argument"; the reason is
    // the name's ending.
    if (o.Format.empty() && lib::av_guess_format(nullptr, url.c_str(), nullptr) == nullptr) {
      return FailOutputSetup(
          FormatText("%s: the output format cannot be guessed from the file name; name it with -f", fileName.c_str()));
    }
    return FailOutputSetup(ErrorText(fileName, allocatedResult < 0 ? allocatedResult : kOutOfMemory));
  }
  context.reset(allocated);
  allocated->interrupt_callback = WriteInterrupt;
  return 0;
}

void TCustomFFmpegOpt::ConnectUnlabelledGraphOutputs(TOptionsContext& o, AVFormatContext* oc) {
  // A graph output without a label is connected to this output, and its media type is then not
  // chosen automatically any more.
  for (const auto& graph : FilterGraphs) {
    for (const auto& output : graph->Outputs) {
      if (!output->PendingOutput || output->PendingOutput->name != nullptr) continue;
      const AVFilterContext* filter = output->PendingOutput->filter_ctx;
      switch (lib::avfilter_pad_get_type(filter->output_pads, output->PendingOutput->pad_idx)) {
        case AVMEDIA_TYPE_VIDEO:
          o.VideoDisable = 1;
          break;
        case AVMEDIA_TYPE_AUDIO:
          o.AudioDisable = 1;
          break;
        case AVMEDIA_TYPE_SUBTITLE:
          o.SubtitleDisable = 1;
          break;
        default:
          break;
      }
      InitOutputFilter(*output, o, oc);
    }
  }
}

void TCustomFFmpegOpt::AddAutomaticStreams(TOptionsContext& o, AVFormatContext* oc, int sourceFile) {
  // The server-feed path ("ffm" muxer) is not built: this generation of the libraries has no
  // such muxer, so a feed URL is just a name the muxer guess refuses.
  if (o.VideoDisable == 0 && oc->oformat->video_codec != AV_CODEC_ID_NONE) {
    const int chosen = ChooseVideoStream(oc->oformat, sourceFile);
    if (chosen >= 0) NewVideoStream(o, oc, chosen);
  }

  if (o.AudioDisable == 0 && oc->oformat->audio_codec != AV_CODEC_ID_NONE) {
    const int chosen = ChooseAudioStream(sourceFile);
    if (chosen >= 0) NewAudioStream(o, oc, chosen);
  }

  const std::string* subtitleCodec = MatchPerType(o, o.CodecNames, 's');
  if (o.SubtitleDisable == 0 && (oc->oformat->subtitle_codec != AV_CODEC_ID_NONE || subtitleCodec != nullptr)) {
    for (int i = 0; i < InputStreamCount(); ++i) {
      const TInputStream& ist = *InputStreams[static_cast<std::size_t>(i)];
      if ((sourceFile < 0 || ist.FileIndex == sourceFile) && ist.Stream->codecpar->codec_type == AVMEDIA_TYPE_SUBTITLE) {
        NewSubtitleStream(o, oc, i);
        break;
      }
    }
  }
}

TOutputFilter* TCustomFFmpegOpt::FindLabelledGraphOutput(const std::string& label) const {
  for (const auto& graph : FilterGraphs) {
    for (const auto& output : graph->Outputs) {
      if (output->PendingOutput && output->PendingOutput->name != nullptr && label == output->PendingOutput->name) {
        return output.get();
      }
    }
  }
  return nullptr;
}

int TCustomFFmpegOpt::AddMappedStreams(TOptionsContext& o, AVFormatContext* oc, bool joinOutput) {
  for (const TStreamMap& map : o.StreamMaps) {
    if (map.Disabled != 0) continue;
    if (!map.LinkLabel.empty()) {
      TOutputFilter* found = FindLabelledGraphOutput(map.LinkLabel);
      if (found == nullptr) {
        return FailOutputSetup(FormatText(
            "Output with label \"%s\" does not exist in any defined filter graph, or was already used elsewhere.",
            map.LinkLabel.c_str()));
      }
      InitOutputFilter(*found, o, oc);
      continue;
    }

    const int sourceIndex = InputFiles[static_cast<std::size_t>(map.FileIndex)]->FirstStreamIndex + map.StreamIndex;
    const TInputStream& ist = *InputStreams[static_cast<std::size_t>(sourceIndex)];
    // In join mode the streams come from input 0; the other inputs are bound to clones later.
    if (joinOutput && ist.FileIndex != 0) continue;
    const AVMediaType type = ist.Stream->codecpar->codec_type;
    if ((o.SubtitleDisable != 0 && type == AVMEDIA_TYPE_SUBTITLE) ||
        (o.AudioDisable != 0 && type == AVMEDIA_TYPE_AUDIO) || (o.VideoDisable != 0 && type == AVMEDIA_TYPE_VIDEO) ||
        (o.DataDisable != 0 && type == AVMEDIA_TYPE_DATA)) {
      continue;
    }
    TOutputStream* ost = nullptr;
    switch (type) {
      case AVMEDIA_TYPE_VIDEO:
        ost = NewVideoStream(o, oc, sourceIndex);
        break;
      case AVMEDIA_TYPE_AUDIO:
        ost = NewAudioStream(o, oc, sourceIndex);
        break;
      case AVMEDIA_TYPE_DATA:
        ost = NewDataStream(o, oc, sourceIndex);
        break;
      case AVMEDIA_TYPE_SUBTITLE:
        ost = NewSubtitleStream(o, oc, sourceIndex);
        break;
      case AVMEDIA_TYPE_ATTACHMENT:
        ost = NewAttachmentStream(o, oc, sourceIndex);
        break;
      default:
        return FailOutputSetup(
            FormatText("Cannot map stream #%d:%d - unsupported type.", map.FileIndex, map.StreamIndex));
    }
    // A map may name another stream to synchronise with ("-map 0:1,1:0").
    const TInputFile& syncFile = *InputFiles[static_cast<std::size_t>(map.SyncFileIndex)];
    ost->SyncInput = InputStreams[static_cast<std::size_t>(syncFile.FirstStreamIndex + map.SyncStreamIndex)].get();
  }
  return 0;
}

int TCustomFFmpegOpt::AddAttachments(TOptionsContext& o, AVFormatContext* oc) {
  for (const std::string& name : o.Attachments) {
    StampReadStart();
    AVIOContext* raw = nullptr;
    const int opened = lib::avio_open2(&raw, ToLibraryFileName(name).c_str(), AVIO_FLAG_READ, &ReadInterrupt, nullptr);
    OpenedIOContextPtr attachment(raw);
    if (opened < 0) return FailOutputSetup(FormatText("Could not open attachment file %s.", name.c_str()));
    const std::int64_t size = lib::avio_size(attachment.get());
    if (size <= 0) return FailOutputSetup(FormatText("Could not get size of the attachment %s.", name.c_str()));
    if (size > kInt32Max - AV_INPUT_BUFFER_PADDING_SIZE) {
      return FailOutputSetup(FormatText("Attachment %s too large to fit into memory.", name.c_str()));
    }
    LibraryMemoryPtr<std::uint8_t> buffer(
        static_cast<std::uint8_t*>(lib::av_mallocz(static_cast<std::size_t>(size) + AV_INPUT_BUFFER_PADDING_SIZE)));
    if (!buffer) return FailOutputSetup(FormatText("Attachment %s too large to fit into memory.", name.c_str()));
    StampReadStart();
    const int read = lib::avio_read(attachment.get(), buffer.get(), static_cast<int>(size));
    if (read != size) return FailOutputSetup(FormatText("Could not get size of the attachment %s.", name.c_str()));

    TOutputStream* ost = NewAttachmentStream(o, oc, -1);
    ost->StreamCopy = 0;
    ost->AttachmentFileName = name;
    ost->Finished = 1;
    ost->Stream->codecpar->extradata = buffer.release();
    ost->Stream->codecpar->extradata_size = static_cast<int>(size);

    // The name without its folder; a name written with "\" separators counts too.
    std::size_t cut = name.rfind('/');
    if (cut == std::string::npos) cut = name.rfind('\\');
    const std::string tag = cut == std::string::npos ? name : name.substr(cut + 1);
    lib::av_dict_set(&ost->Stream->metadata, "filename", tag.c_str(), AV_DICT_DONT_OVERWRITE);
  }
  return 0;
}

int TCustomFFmpegOpt::ApplyFlagsToCopiedStreams(const TOptionsContext& o, AVFormatContext* oc, int firstNewStream) {
  // "-flags" reaches copied streams and attachments too, which open no encoder to take it.
  const AVDictionaryEntry* flags = lib::av_dict_get(o.Group->CodecOptions.get(), "flags", nullptr, AV_DICT_IGNORE_SUFFIX);
  if (flags == nullptr) return 0;
  for (int i = firstNewStream; i < OutputStreamCount(); ++i) {
    TOutputStream& ost = *OutputStreams[static_cast<std::size_t>(i)];
    if (ost.StreamCopy == 0 && ost.AttachmentFileName.empty()) continue;
    const bool applies =
        flags->key[5] == '\0' || (flags->key[5] == ':' && MatchStreamSpecifier(oc, ost.Stream, flags->key + 6) != 0);
    if (!applies) continue;
    if (lib::av_opt_set(ost.EncoderContext.get(), "flags", flags->value, 0) < 0) {
      return FailOutputSetup("failed to set flags");
    }
  }
  return 0;
}

void TCustomFFmpegOpt::SettleDurationOptions(TOptionsContext& o) {
  if (o.RecordingTime != kNoLimit && o.StopTime != kNoLimit) {
    o.StopTime = kNoLimit;
    DefaultLogger().Log(this, llWarning, "-t and -to cannot be used together; using -t.");
  } else if (o.StopTime != kNoLimit && o.RecordingTime == kNoLimit) {
    if (o.StopTime > o.StartTime) {
      o.RecordingTime = o.StopTime - o.StartTime;
    } else {
      DefaultLogger().Log(this, llWarning, "-to value smaller than -ss; ignoring -to.");
      o.StopTime = kNoLimit;
    }
  }
  // Taken once the duration options are settled, so that a "-to" counts as well, and only
  // for an output that gets this far.
  if (o.RecordingTime != kNoLimit && o.RecordingTime > TotalDuration) TotalDuration = o.RecordingTime;
}

void TCustomFFmpegOpt::AppendOutputFileRecord(const TOptionsContext& o, OutputFormatContextPtr& context) {
  AVFormatContext* oc = context.get();
  try {
    auto file = std::make_unique<TOutputFile>();
    OutputFiles.reserve(OutputFiles.size() + 1);
    file->FirstStreamIndex = OutputStreamCount() - static_cast<int>(oc->nb_streams);
    file->RecordingTime = o.RecordingTime;
    if (o.RecordingTime != kNoLimit) oc->duration = o.RecordingTime;
    file->StartTime = o.StartTime;
    file->LimitFileSize = o.LimitFileSize;
    file->Shortest = o.Shortest;
    lib::av_dict_copy(DictionaryRef(file->MuxerOptions), o.Group->FormatOptions.get(), 0);
    // Nothing can fail after the context changes hands, so a failed record leaves it with the
    // caller to abandon.
    file->Context = std::move(context);
    OutputFiles.push_back(std::move(file));
  } catch (const std::bad_alloc&) {
    Fail("av_mallocz() failed");
  }
}

int TCustomFFmpegOpt::OpenOutputByteStream(const TOptionsContext& o, TOutputFile& of, const std::string& fileName) {
  AVFormatContext* oc = of.Context.get();
  if ((oc->oformat->flags & AVFMT_NEEDNUMBER) != 0 && lib::av_filename_number_test(oc->url) == 0) {
    return FailOutputSetup(ErrorText(fileName, kInvalidArgument));
  }

  if ((oc->oformat->flags & AVFMT_NOFILE) == 0) {
    // An existing file is replaced: outputs are always overwritten.
    StampWriteStart();
    const int opened =
        lib::avio_open2(&oc->pb, oc->url, AVIO_FLAG_WRITE, &oc->interrupt_callback, DictionaryRef(of.MuxerOptions));
    if (opened < 0) return FailOutputSetup(ErrorText(fileName, opened));
  }

  if (o.MuxPreload != 0) {
    lib::av_dict_set(DictionaryRef(of.MuxerOptions), "preload",
                     FormatText("%d", static_cast<int>(o.MuxPreload * AV_TIME_BASE)).c_str(), 0);
  }
  oc->max_delay = static_cast<int>(o.MuxMaxDelay * AV_TIME_BASE);
  return 0;
}

int TCustomFFmpegOpt::MapOutputMetadata(TOptionsContext& o, AVFormatContext* oc) {
  for (const TSpecifierOpt& element : o.MetadataMap) {
    const char* rest = nullptr;
    const auto inputIndex = static_cast<int>(ReadInteger(element.Value.Str.c_str(), &rest));
    if (inputIndex >= InputFileCount()) {
      return FailOutputSetup(FormatText("Invalid input file index %d while processing metadata maps", inputIndex));
    }
    const std::string inSpec = *rest != '\0' ? rest + 1 : rest;
    AVFormatContext* ic = inputIndex >= 0 ? InputFiles[static_cast<std::size_t>(inputIndex)]->Context.get() : nullptr;
    // CopyMetadata has set its own text.
    if (CopyMetadata(element.Specifier, inSpec, o, oc, ic) < 0) return -1;
  }
  return 0;
}

int TCustomFFmpegOpt::MapOutputChapters(const TOptionsContext& o, const TOutputFile& of, const std::string& fileName) {
  int chaptersInput = o.ChaptersInputFile;
  if (chaptersInput >= InputFileCount()) {
    if (chaptersInput != kInt32Max) {
      return FailOutputSetup(FormatText("Invalid input file index %d in chapter mapping.", chaptersInput));
    }
    chaptersInput = -1;
    for (int i = 0; i < InputFileCount(); ++i) {
      if (InputFiles[static_cast<std::size_t>(i)]->Context->nb_chapters > 0) {
        chaptersInput = i;
        break;
      }
    }
  }
  if (chaptersInput >= 0) {
    const int copied = CopyChapters(*InputFiles[static_cast<std::size_t>(chaptersInput)], of, o.MetadataChaptersManual == 0);
    if (copied < 0) return FailOutputSetup(ErrorText(fileName, copied));
  }
  return 0;
}

void TCustomFFmpegOpt::CopyInputMetadata(const TOptionsContext& o, const TOutputFile& of) {
  AVFormatContext* oc = of.Context.get();
  if (o.MetadataGlobalManual == 0 && InputFileCount() > 0) {
    lib::av_dict_copy(&oc->metadata, InputFiles[0]->Context->metadata, AV_DICT_DONT_OVERWRITE);
    if (o.RecordingTime != kNoLimit) lib::av_dict_set(&oc->metadata, "duration", nullptr, 0);
    lib::av_dict_set(&oc->metadata, "creation_time", nullptr, 0);
  }
  if (o.MetadataStreamsManual == 0) {
    for (int i = of.FirstStreamIndex; i < OutputStreamCount(); ++i) {
      TOutputStream& ost = *OutputStreams[static_cast<std::size_t>(i)];
      if (ost.SourceIndex < 0) continue;
      const AVStream* source = InputStreams[static_cast<std::size_t>(ost.SourceIndex)]->Stream;
      lib::av_dict_copy(&ost.Stream->metadata, source->metadata, AV_DICT_DONT_OVERWRITE);
    }
  }
}

int TCustomFFmpegOpt::SetOutputMetadata(const TOptionsContext& o, AVFormatContext* oc) {
  for (const TSpecifierOpt& element : o.Metadata) {
    const std::string& text = element.Value.Str;
    const std::size_t equals = text.find('=');
    if (equals == std::string::npos) {
      return FailOutputSetup(FormatText("No \"=\" character in metadata string %s.", text.c_str()));
    }
    const std::string key = text.substr(0, equals);
    const std::string value = text.substr(equals + 1);
    // An empty value removes the key.
    const char* setValue = value.empty() ? nullptr : value.c_str();
    char type = 'g';
    std::string streamSpecifier;
    int index = 0;
    // ParseMetaType has set and logged its own text.
    if (ParseMetaType(element.Specifier, type, streamSpecifier, index) < 0) return -1;
    switch (type) {
      case 's':
        for (unsigned i = 0; i < oc->nb_streams; ++i) {
          const int match = MatchStreamSpecifier(oc, oc->streams[i], streamSpecifier.c_str());
          if (match < 0) return FailOutputSetup(ErrorText("check_stream_specifier", match));
          if (match > 0) lib::av_dict_set(&oc->streams[i]->metadata, key.c_str(), setValue, 0);
        }
        break;
      case 'c':
        if (index < 0 || static_cast<unsigned>(index) >= oc->nb_chapters) {
          return FailOutputSetup(FormatText("Invalid chapter index %d in metadata specifier.", index));
        }
        lib::av_dict_set(&oc->chapters[index]->metadata, key.c_str(), setValue, 0);
        break;
      case 'g':
        lib::av_dict_set(&oc->metadata, key.c_str(), setValue, 0);
        break;
      default:
        return FailOutputSetup(FormatText("Invalid metadata specifier %s.", element.Specifier.c_str()));
    }
  }
  return 0;
}

int TCustomFFmpegOpt::OpenOutputFile(TOptionsContext& o, const std::string& optionText, bool join,
                                     const std::string& fileName, const std::string& presetText) {
  const int parsed = ParseFileOptions(*this, &o, optionText, "output file", presetText);
  if (parsed < 0) return parsed;

  if (JoinMode != 0 || (join && InputFileCount() > 1 && OutputFileCount() > 0)) {
    return FailOutputSetup("Cannot join more than one output file.");
  }
  const bool joinOutput = join && InputFileCount() > 1;

  if (ConfigureComplexFilters() < 0) return FailOutputSetup("Error configuring filters.");

  // Owned here until the output file record takes it over.
  OutputFormatContextPtr context;
  if (AllocateOutputContext(o, fileName, context) < 0) return -1;
  AVFormatContext* oc = context.get();

  const int firstNewStream = OutputStreamCount();
  bool recordAppended = false;

  // Everything this output created goes again: its records (graph outputs connected to them are
  // cut loose), its muxer context and an empty file it left on disk.
  auto abandon = [&]() {
    for (std::size_t i = static_cast<std::size_t>(firstNewStream); i < OutputStreams.size(); ++i) {
      TOutputStream* ost = OutputStreams[i].get();
      if (ost->Filter != nullptr && ost->Filter->Output == ost) ost->Filter->Output = nullptr;
    }
    OutputStreams.resize(static_cast<std::size_t>(firstNewStream));
    if (recordAppended) {
      context = std::move(OutputFiles.back()->Context);
      OutputFiles.pop_back();
      recordAppended = false;
    }
    CloseAbandonedMuxer(std::move(context));
  };
  // The failing step has set and logged its text; the caller reads it after the clean-up.
  auto abandonFailed = [&]() {
    const std::string text = LastErrMsg;
    abandon();
    LastErrMsg = text;
    return -1;
  };

  try {
    ConnectUnlabelledGraphOutputs(o, oc);
    if (o.StreamMaps.empty()) {
      AddAutomaticStreams(o, oc, joinOutput ? 0 : -1);
    } else if (AddMappedStreams(o, oc, joinOutput) < 0) {
      return abandonFailed();
    }
    if (AddAttachments(o, oc) < 0) return abandonFailed();
    if (ApplyFlagsToCopiedStreams(o, oc, firstNewStream) < 0) return abandonFailed();
    SettleDurationOptions(o);

    AppendOutputFileRecord(o, context);
    recordAppended = true;
    TOutputFile& of = *OutputFiles.back();

    if (OpenOutputByteStream(o, of, fileName) < 0) return abandonFailed();
    if (MapOutputMetadata(o, oc) < 0) return abandonFailed();
    if (MapOutputChapters(o, of, fileName) < 0) return abandonFailed();
    CopyInputMetadata(o, of);
    if (SetOutputMetadata(o, oc) < 0) return abandonFailed();
  } catch (...) {
    abandon();
    throw;
  }

  const int result = OutputFileCount() - 1;
  if (joinOutput) {
    if (SetupJoin(o) < 0) return -1;
    JoinMode = 1;
  }
  return result;
}

}  // namespace lumivor
