// Join mode: one output fed by all inputs one after another. The streams chosen from input 0 are
// cloned for every further input; each clone set gets its own output file record (writing into
// the first record's muxer) and is bound to the streams of its own input.

#include <new>

#include "media/engine/ffmpeg_opt.h"
#include "media/runtime/ff_log.h"
#include "media/runtime/format_text.h"

namespace lumivor {

// Defined with the output setup.
void CloseAbandonedMuxer(OutputFormatContextPtr context);

namespace {

std::unique_ptr<TOutputStream> CloneOutputStream(TCustomFFmpegOpt& engine, TOutputStream& original, int fileIndex) {
  std::unique_ptr<TOutputStream> clone;
  try {
    clone = std::make_unique<TOutputStream>();
  } catch (const std::bad_alloc&) {
    engine.Fail("av_mallocz() failed");
  }
  TOutputStream& c = *clone;
  c.FileIndex = fileIndex;
  c.Index = original.Index;
  c.SourceIndex = -1;
  c.Stream = original.Stream;
  c.Encoder = original.Encoder;
  c.MaxFrames = original.MaxFrames;
  c.FrameRate = original.FrameRate;
  c.ForceFps = original.ForceFps;
  c.TopFieldFirst = original.TopFieldFirst;
  c.FrameAspectRatio = original.FrameAspectRatio;
  c.ForcedKeyFrames = original.ForcedKeyFrames;
  for (int i = 0; i < kMaxAudioChannelsMap; ++i) c.AudioChannelsMap[i] = original.AudioChannelsMap[i];
  c.AudioChannelsMapped = original.AudioChannelsMapped;
  c.LogFilePrefix = original.LogFilePrefix;
  c.FilterSpec = original.FilterSpec;
  c.SwsFlags = original.SwsFlags;
  // Opening an encoder takes its options out of the dictionary: each clone needs its own.
  lib::av_dict_copy(DictionaryRef(c.EncoderOptions), original.EncoderOptions.get(), 0);
  lib::av_dict_copy(DictionaryRef(c.ResamplerOptions), original.ResamplerOptions.get(), 0);
  lib::av_dict_copy(DictionaryRef(c.ResampleOptions), original.ResampleOptions.get(), 0);
  c.StreamCopy = original.StreamCopy;
  c.AttachmentFileName = original.AttachmentFileName;
  c.Finished = original.Finished;
  c.CopyInitialNonKeyframes = original.CopyInitialNonKeyframes;
  c.CopyPriorStart = original.CopyPriorStart;
  c.KeepPixFmt = original.KeepPixFmt;
  c.OwnsOptions = 1;
  c.OwnsCodec = 0;
  c.JoinOriginal = &original;
  // A bitstream filter context holds the state of one packet sequence: the same filters, fresh.
  for (const BsfContextPtr& filter : original.BitstreamFilters) {
    AVBSFContext* fresh = nullptr;
    if (lib::av_bsf_alloc(filter->filter, &fresh) < 0) engine.Fail("av_mallocz() failed");
    c.BitstreamFilters.emplace_back(fresh);
  }
  return clone;
}

}  // namespace

void TCustomFFmpegOpt::FreeOutputStreams() {
  // Graph outputs must not point at records that are gone.
  for (const auto& graph : FilterGraphs) {
    for (const auto& output : graph->Outputs) output->Output = nullptr;
  }
  OutputStreams.clear();
}

int TCustomFFmpegOpt::JoinInputFile(TOptionsContext& o, int inputIndex) {
  const TOutputFile& first = *OutputFiles[0];
  AVFormatContext* oc = first.Context.get();
  const int fileIndex = OutputFileCount();
  const int cloneStart = OutputStreamCount();

  for (int i = 0; i < JoinStreamCount; ++i) {
    TOutputStream& original = *OutputStreams[static_cast<std::size_t>(first.FirstStreamIndex + i)];
    std::unique_ptr<TOutputStream> clone = CloneOutputStream(*this, original, fileIndex);
    try {
      OutputStreams.push_back(std::move(clone));
    } catch (const std::bad_alloc&) {
      Fail("av_mallocz() failed");
    }
  }

  // The first clone of that media type still without a source, or null.
  auto freeClone = [&](AVMediaType type) -> TOutputStream* {
    for (int i = cloneStart; i < OutputStreamCount(); ++i) {
      TOutputStream* clone = OutputStreams[static_cast<std::size_t>(i)].get();
      if (clone->SourceIndex < 0 && clone->AttachmentFileName.empty() && clone->Stream->codecpar->codec_type == type) {
        return clone;
      }
    }
    return nullptr;
  };
  auto bind = [&](TOutputStream* clone, int sourceIndex, TInputStream* syncInput) {
    if (clone == nullptr) return;
    TInputStream* ist = InputStreams[static_cast<std::size_t>(sourceIndex)].get();
    clone->SourceIndex = sourceIndex;
    clone->SyncInput = syncInput != nullptr ? syncInput : ist;
    ist->Discard = 0;
    ist->Stream->discard = AVDISCARD_DEFAULT;
  };

  if (o.StreamMaps.empty()) {
    if (o.VideoDisable == 0 && oc->oformat->video_codec != AV_CODEC_ID_NONE) {
      const int chosen = ChooseVideoStream(oc->oformat, inputIndex);
      if (chosen >= 0) bind(freeClone(AVMEDIA_TYPE_VIDEO), chosen, nullptr);
    }
    if (o.AudioDisable == 0 && oc->oformat->audio_codec != AV_CODEC_ID_NONE) {
      const int chosen = ChooseAudioStream(inputIndex);
      if (chosen >= 0) bind(freeClone(AVMEDIA_TYPE_AUDIO), chosen, nullptr);
    }
    const std::string* subtitleCodec = MatchPerType(o, o.CodecNames, 's');
    if (o.SubtitleDisable == 0 && (oc->oformat->subtitle_codec != AV_CODEC_ID_NONE || subtitleCodec != nullptr)) {
      for (int i = 0; i < InputStreamCount(); ++i) {
        const TInputStream& ist = *InputStreams[static_cast<std::size_t>(i)];
        if (ist.FileIndex != inputIndex || ist.Stream->codecpar->codec_type != AVMEDIA_TYPE_SUBTITLE) continue;
        TOutputStream* clone = freeClone(AVMEDIA_TYPE_SUBTITLE);
        if (clone == nullptr) break;
        bind(clone, i, nullptr);
      }
    }
  } else {
    for (const TStreamMap& map : o.StreamMaps) {
      if (map.Disabled != 0 || !map.LinkLabel.empty() || map.FileIndex != inputIndex) continue;
      const int sourceIndex = InputFiles[static_cast<std::size_t>(map.FileIndex)]->FirstStreamIndex + map.StreamIndex;
      const AVMediaType type = InputStreams[static_cast<std::size_t>(sourceIndex)]->Stream->codecpar->codec_type;
      if ((o.SubtitleDisable != 0 && type == AVMEDIA_TYPE_SUBTITLE) || (o.AudioDisable != 0 && type == AVMEDIA_TYPE_AUDIO) ||
          (o.VideoDisable != 0 && type == AVMEDIA_TYPE_VIDEO) || (o.DataDisable != 0 && type == AVMEDIA_TYPE_DATA)) {
        continue;
      }
      switch (type) {
        case AVMEDIA_TYPE_VIDEO:
        case AVMEDIA_TYPE_AUDIO:
        case AVMEDIA_TYPE_DATA:
        case AVMEDIA_TYPE_SUBTITLE:
        case AVMEDIA_TYPE_ATTACHMENT: {
          const TInputFile& syncFile = *InputFiles[static_cast<std::size_t>(map.SyncFileIndex)];
          TInputStream* sync = InputStreams[static_cast<std::size_t>(syncFile.FirstStreamIndex + map.SyncStreamIndex)].get();
          bind(freeClone(type), sourceIndex, sync);
          break;
        }
        default:
          LastErrMsg = FormatText("Cannot map stream #%d:%d - unsupported type.", map.FileIndex, map.StreamIndex);
          DefaultLogger().Log(this, llFatal, LastErrMsg);
          return -1;
      }
    }
  }

  for (int i = cloneStart; i < OutputStreamCount(); ++i) {
    const TOutputStream& clone = *OutputStreams[static_cast<std::size_t>(i)];
    // Attachments carry their own bytes and need no input.
    if (clone.SourceIndex < 0 && clone.AttachmentFileName.empty()) {
      LastErrMsg = "Cannot join files with diffrent steams state";
      DefaultLogger().Log(this, llFatal, LastErrMsg);
      return -1;
    }
  }

  try {
    auto file = std::make_unique<TOutputFile>();
    file->FirstStreamIndex = OutputStreamCount() - JoinStreamCount;
    file->RecordingTime = first.RecordingTime;
    file->StartTime = first.StartTime;
    file->LimitFileSize = first.LimitFileSize;
    file->Shortest = first.Shortest;
    OutputFiles.push_back(std::move(file));
  } catch (const std::bad_alloc&) {
    Fail("av_mallocz() failed");
  }
  return OutputFileCount() - 1;
}

int TCustomFFmpegOpt::SetupJoin(TOptionsContext& o) {
  const TOutputFile& first = *OutputFiles[0];
  JoinStreamCount = OutputStreamCount() - first.FirstStreamIndex;

  for (int k = 1; k < InputFileCount(); ++k) {
    if (JoinInputFile(o, k) >= 0) continue;
    // Nothing of the output survives: its records, its muxer and a file nothing was written to.
    const std::string error = LastErrMsg;
    OutputFormatContextPtr context = std::move(OutputFiles[0]->Context);
    FreeOutputStreams();
    CloseAbandonedMuxer(std::move(context));
    OutputFiles.clear();
    JoinMode = 0;
    JoinStreamCount = 0;
    LastErrMsg = error;
    return -1;
  }

  std::int64_t total = 0;
  for (const auto& file : InputFiles) {
    if (file->Context && file->Context->duration != AV_NOPTS_VALUE) total += file->Context->duration;
  }
  TotalDuration = total == 0 ? -1 : total;
  return 0;
}

}  // namespace lumivor
