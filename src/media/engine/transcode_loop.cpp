// The loop of one task: pick the output stream that lags most, read one packet from the input
// that feeds it, fix its timestamps, decode it, let the input hooks see the result and push it
// into the filter graphs; the output side takes it from there. After the loop: decoders drained,
// encoders flushed, trailers written, the final report, codecs closed.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <thread>

#include "media/engine/error_text.h"
#include "media/engine/ffmpeg.h"
#include "media/engine/media_helpers.h"
#include "media/runtime/ff_log.h"
#include "media/runtime/stream_helpers.h"
#include "media/runtime/timestamps.h"
#include "media/runtime/format_text.h"

namespace lumivor {
namespace {

constexpr const char* kCheckLog =
    "Please check error log message(reported by FFLogger) to find out more detail information.";
constexpr std::int64_t kBackOffMicroseconds = 10000;

std::int64_t ToMicroseconds(std::int64_t ts, AVRational timeBase) {
  return lib::av_rescale_q(ts, timeBase, AV_TIME_BASE_Q);
}

std::uint64_t LayoutMask(const AVChannelLayout& layout) {
  return layout.order == AV_CHANNEL_ORDER_NATIVE ? layout.u.mask : 0;
}

std::string LayoutText(const AVChannelLayout& layout) {
  char text[128] = {};
  if (layout.nb_channels > 0) lib::av_channel_layout_describe(&layout, text, sizeof text);
  return text;
}

const char* NameOrQuestion(const char* name) { return name != nullptr ? name : "?"; }

}  // namespace

// ------------------------------------------------------------------ the driver

void TCustomFFmpeg::SetActiveRange() {
  if (JoinMode != 0 && JoinStreamCount > 0) {
    FirstActiveOutput = CurrentInput * JoinStreamCount;
    LastActiveOutput = std::min(FirstActiveOutput + JoinStreamCount, OutputStreamCount()) - 1;
  } else {
    FirstActiveOutput = 0;
    LastActiveOutput = OutputStreamCount() - 1;
  }
}

void TCustomFFmpeg::ResetUnavailable() {
  for (const auto& file : InputFiles) file->EAgain = 0;
  for (int i = FirstActiveOutput; i <= LastActiveOutput; ++i) OutputStreams[static_cast<std::size_t>(i)]->Unavailable = 0;
}

void TCustomFFmpeg::Transcode() {
  LastErrMsg.clear();
  IgnoreStopOnWrite.store(false);
  // Rate emulation starts its clocks in the setup: a pause before that is none of its business.
  PauseGate.TakeWaited();
  int ret = 0;
  ClearLastLibraryErrorLine();
  try {
    ret = TranscodeInit();
  } catch (...) {
    FreeStreamSetup();
    throw;
  }
  if (ret < 0) {
    FreeStreamSetup();
    if (LastErrMsg.empty()) {
      // A bare code such as "Generic error in an external library" hides what the library said
      // (an odd frame size, say); its last error line goes along.
      std::string reason = LastLibraryErrorLine();
      if (!reason.empty()) reason += reason.back() == '.' ? " " : ". ";
      LastErrMsg = ErrorText("transcode_init() error", ret) + ". " + reason + kCheckLog;
    }
    throw FFmpegException(LastErrMsg);
  }
  // Headers are written: from here a stop ends the loop, never a write half-way.
  IgnoreStopOnWrite.store(true);

  // Join mode knows its total from the inputs' sum; otherwise the outputs' own plan counts, which
  // a recording time longer than the inputs or "-shortest" make shorter than either alone.
  if (JoinMode == 0) {
    const std::int64_t planned = PlannedOutputLength();
    if (planned > 0) TotalDuration = planned;
  }
  if (TotalDuration < 0) TotalDuration = MaxInputDuration;
  TranscodeStartTime_ = MonotonicMicroseconds();
  CurrentInput = 0;
  SetActiveRange();

  // The first reason the written file is incomplete; the run then fails with it once everything
  // is closed.
  std::string failure;
  while (!StopRequested.load()) {
    PauseGate.Wait();
    if (StopRequested.load()) break;
    const std::int64_t now = MonotonicMicroseconds();
    if (!NeedOutput()) {
      DefaultLogger().Log(this, llVerbose, "No more output streams to write to, finishing.");
      break;
    }
    const int r = TranscodeStep();
    if (r < 0) {
      if (r == AVERROR_EOF || r == AVERROR(EAGAIN)) continue;
      // The output is closed properly below, but it lacks what was still to come: not a success.
      failure = ErrorText("Error while filtering", r);
      DefaultLogger().Log(this, llError, failure);
      break;
    }
    StatusReport(CurrentInput, false, now, TranscodeStartTime_);
  }

  // Drain what the decoders still hold (inputs left before their end: a stop, a limit reached).
  for (const auto& ist : InputStreams) {
    if (InputFiles[static_cast<std::size_t>(ist->FileIndex)]->EofReached != 0) continue;
    if (ist->DecodingNeeded == 0 || ist->Flushed != 0) continue;
    DrainInputStream(*ist);
  }
  ReapFilters();
  FlushEncoders();

  const int trailerCount = JoinMode != 0 ? std::min(1, OutputFileCount()) : OutputFileCount();
  for (int i = 0; i < trailerCount; ++i) {
    AVFormatContext* oc = OutputFiles[static_cast<std::size_t>(i)]->Context.get();
    if (oc == nullptr) continue;
    StampWriteStart();
    const int written = lib::av_write_trailer(oc);
    WriteStartTime.store(kNoLimit);
    if (written < 0) {
      const std::string text = ErrorText("av_write_trailer()", written);
      DefaultLogger().Log(this, llError, text);
      if (failure.empty()) failure = text;
    }
  }

  StatusReport(-1, true, MonotonicMicroseconds(), TranscodeStartTime_);

  // The last buffered bytes reach the file only here; a write refused now (a full disk, a size
  // limit) leaves a file without its end.
  for (int i = 0; i < trailerCount; ++i) {
    const int closed = OutputFiles[static_cast<std::size_t>(i)]->CloseByteStream();
    if (closed < 0 && failure.empty()) failure = ErrorText("Error closing the output file", closed);
  }

  const int groupCount = JoinMode != 0 ? std::min(JoinStreamCount, OutputStreamCount()) : OutputStreamCount();
  for (int i = 0; i < groupCount; ++i) {
    TOutputStream& ost = *OutputStreams[static_cast<std::size_t>(i)];
    if (ost.EncodingNeeded != 0 && ost.EncoderOpened != 0 && ost.EncoderClosed == 0) CloseEncoder(ost);
  }
  for (const auto& ist : InputStreams) {
    if (ist->DecodingNeeded != 0 && ist->DecoderClosed == 0) CloseDecoder(*ist);
  }

  Finished.store(failure.empty() && !StopRequested.load());
  CloseOpenedDecoders();
  CloseOpenedEncoders();
  FreeStreamSetup();
  if (!failure.empty()) Fail(failure);
}

bool TCustomFFmpeg::NeedOutput() {
  for (int i = FirstActiveOutput; i <= LastActiveOutput; ++i) {
    TOutputStream& ost = *OutputStreams[static_cast<std::size_t>(i)];
    if (ost.Finished != 0) continue;
    TOutputFile& of = FileOf(ost);
    AVFormatContext* oc = MuxerOf(ost);
    if (oc != nullptr && oc->pb != nullptr && StreamPosition(oc->pb) >= of.LimitFileSize) continue;
    if (ost.FrameNumber >= ost.MaxFrames) {
      const int count = oc != nullptr ? static_cast<int>(oc->nb_streams) : 0;
      for (int j = 0; j < count && of.FirstStreamIndex + j < OutputStreamCount(); ++j) {
        CloseOutputStream(*OutputStreams[static_cast<std::size_t>(of.FirstStreamIndex + j)]);
      }
      continue;
    }
    return true;
  }
  return false;
}

TOutputStream* TCustomFFmpeg::ChooseOutput() {
  TOutputStream* chosen = nullptr;
  std::int64_t smallest = INT64_MAX;
  for (int i = FirstActiveOutput; i <= LastActiveOutput; ++i) {
    TOutputStream& ost = *OutputStreams[static_cast<std::size_t>(i)];
    if (ost.Finished != 0 || ost.Unavailable != 0) continue;
    std::int64_t dts = INT64_MIN;
    const auto clock = MuxerClocks.find(ost.Stream);
    if (clock != MuxerClocks.end() && clock->second.Dts != AV_NOPTS_VALUE) {
      dts = ToMicroseconds(clock->second.Dts, ost.Stream->time_base);
    }
    if (chosen == nullptr || dts < smallest) {
      smallest = dts;
      chosen = &ost;
    }
  }
  return chosen;
}

int TCustomFFmpeg::TranscodeStep() {
  TOutputStream* ost = ChooseOutput();
  if (ost == nullptr) {
    bool anyUnavailable = false;
    for (int i = FirstActiveOutput; i <= LastActiveOutput; ++i) {
      if (OutputStreams[static_cast<std::size_t>(i)]->Unavailable != 0) anyUnavailable = true;
    }
    if (anyUnavailable) {
      ResetUnavailable();
      std::this_thread::sleep_for(std::chrono::microseconds(kBackOffMicroseconds));
      return 0;
    }
    DefaultLogger().Log(this, llVerbose, "No more inputs to read from, finishing.");
    return AVERROR_EOF;
  }

  TInputStream* ist = nullptr;
  if (ost->Filter != nullptr && ost->Filter->Graph != nullptr && ost->Filter->Graph->Graph) {
    TFilterGraph& graph = *ost->Filter->Graph;
    const int r = lib::avfilter_graph_request_oldest(graph.Graph.get());
    if (r >= 0) return ReapFilters();
    if (r == AVERROR_EOF) {
      const int reaped = ReapFilters();
      for (const auto& output : graph.Outputs) {
        if (output->Output != nullptr) CloseOutputStream(*output->Output);
      }
      return reaped;
    }
    if (r != AVERROR(EAGAIN)) return r;
    unsigned mostFailed = 0;
    for (const auto& input : graph.Inputs) {
      if (input->Input == nullptr || input->Filter == nullptr) continue;
      const TInputFile& file = *InputFiles[static_cast<std::size_t>(input->Input->FileIndex)];
      if (file.EAgain != 0 || file.EofReached != 0) continue;
      const unsigned failed = lib::av_buffersrc_get_nb_failed_requests(input->Filter);
      if (failed > mostFailed) {
        mostFailed = failed;
        ist = input->Input;
      }
    }
    if (ist == nullptr) {
      for (const auto& output : graph.Outputs) {
        if (output->Output != nullptr) output->Output->Unavailable = 1;
      }
      return 0;
    }
  } else {
    if (ost->SourceIndex < 0) {
      // Nothing can feed it (an attachment is written with the header).
      CloseOutputStream(*ost);
      return 0;
    }
    ist = InputStreams[static_cast<std::size_t>(ost->SourceIndex)].get();
  }

  const int r = ProcessInput(ist->FileIndex);
  if (r == AVERROR(EAGAIN)) {
    if (InputFiles[static_cast<std::size_t>(ist->FileIndex)]->EAgain != 0) ost->Unavailable = 1;
    return 0;
  }
  if (r < 0) return r == AVERROR_EOF ? 0 : r;
  return ReapFilters();
}

// ------------------------------------------------------------------ reading

void TCustomFFmpeg::ReportDecodeError(const TInputStream& ist, int code) {
  const std::string text = FormatText("Error while decoding stream #%d:%d: %s", ist.FileIndex, ist.Stream->index,
                                      ErrorText(code).c_str());
  if (ExitOnError != 0) Fail(text);
  DefaultLogger().Log(this, llError, text);
}

void TCustomFFmpeg::DrainInputStream(TInputStream& ist) {
  if (ist.Flushed != 0) return;
  ist.Flushed = 1;
  const int r = DecodePacket(ist, nullptr);
  if (r < 0) ReportDecodeError(ist, r);
}

int TCustomFFmpeg::ReadInputPacket(TInputFile& file, AVPacket* packet) {
  PauseGate.Wait();
  // The read is timed from here, so that a demuxer stuck in its read can be interrupted.
  StampReadStart();
  const int r = file.InProcessFormat != nullptr && file.InProcessFormat->ReadPacket != nullptr
                    ? file.InProcessFormat->ReadPacket(file.Context.get(), packet)
                    : lib::av_read_frame(file.Context.get(), packet);
  ReadStartTime.store(kNoLimit);
  return r;
}

int TCustomFFmpeg::EndInput(int fileIndex, int readResult) {
  TInputFile& file = *InputFiles[static_cast<std::size_t>(fileIndex)];
  const AVFormatContext* ic = file.Context.get();
  if (readResult != AVERROR_EOF) {
    const std::string text = ErrorText(ic->url != nullptr ? ic->url : "", readResult);
    if (ExitOnError != 0) Fail(text);
    DefaultLogger().Log(this, llError, text);
  }
  file.EofReached = 1;
  if (JoinMode != 0 && fileIndex < InputFileCount() - 1) {
    JoinSwitch(fileIndex);
    return 0;
  }
  for (int i = 0; i < file.StreamCount; ++i) {
    TInputStream& ist = *InputStreams[static_cast<std::size_t>(file.FirstStreamIndex + i)];
    if (ist.DecodingNeeded != 0) DrainInputStream(ist);
  }
  // Streams that are copied or carry subtitles get nothing more from this input.
  for (const auto& ost : OutputStreams) {
    if (ost->SourceIndex < file.FirstStreamIndex || ost->SourceIndex >= file.FirstStreamIndex + file.StreamCount) {
      continue;
    }
    const bool subtitleEncoder = ost->EncoderContext && ost->EncoderContext->codec_type == AVMEDIA_TYPE_SUBTITLE;
    if (ost->StreamCopy != 0 || (ost->EncodingNeeded != 0 && subtitleEncoder)) CloseOutputStream(*ost);
  }
  return AVERROR(EAGAIN);
}

bool TCustomFFmpeg::PacketOfKnownStream(TInputFile& file, int fileIndex, const AVPacket& packet) {
  if (packet.stream_index < file.StreamCount) return true;
  // A stream that appeared after the file was opened has no record: reported once, dropped.
  const AVFormatContext* ic = file.Context.get();
  if (packet.stream_index >= std::max(file.StreamCount, file.StreamCountWarned)) {
    const AVStream* st =
        packet.stream_index < static_cast<int>(ic->nb_streams) ? ic->streams[packet.stream_index] : nullptr;
    LibraryLog(AV_LOG_WARNING, "New %s stream %d:%d at pos:%lld and DTS:%ss\n",
               st != nullptr ? NameOrQuestion(lib::av_get_media_type_string(st->codecpar->codec_type)) : "?",
               fileIndex, packet.stream_index, static_cast<long long>(packet.pos),
               st != nullptr ? TimestampSecondsText(packet.dts, st->time_base).c_str() : "NOPTS");
    file.StreamCountWarned = packet.stream_index + 1;
  }
  return false;
}

void TCustomFFmpeg::LogDemuxedPacket(const TInputFile& file, const TInputStream& ist, const AVPacket& packet) {
  const AVStream* st = ist.Stream;
  DefaultLogger().LogFmt(
      this, llInfo,
      "demuxer -> ist_index:%d type:%s next_dts:%s next_dts_time:%s next_pts:%s next_pts_time:%s pkt_pts:%s "
      "pkt_pts_time:%s pkt_dts:%s pkt_dts_time:%s off:%s off_time:%s",
      file.FirstStreamIndex + packet.stream_index,
      NameOrQuestion(lib::av_get_media_type_string(st->codecpar->codec_type)), TimestampText(ist.NextDts).c_str(),
      TimestampSecondsText(ist.NextDts, AV_TIME_BASE_Q).c_str(), TimestampText(ist.NextPts).c_str(),
      TimestampSecondsText(ist.NextPts, AV_TIME_BASE_Q).c_str(), TimestampText(packet.pts).c_str(),
      TimestampSecondsText(packet.pts, st->time_base).c_str(), TimestampText(packet.dts).c_str(),
      TimestampSecondsText(packet.dts, st->time_base).c_str(), TimestampText(file.TsOffset).c_str(),
      TimestampSecondsText(file.TsOffset, AV_TIME_BASE_Q).c_str());
}

void TCustomFFmpeg::LogAdjustedPacket(const TInputFile& file, const TInputStream& ist, const AVPacket& packet) {
  const AVStream* st = ist.Stream;
  DefaultLogger().LogFmt(
      this, llInfo,
      "demuxer+ffencoder -> ist_index:%d type:%s pkt_pts:%s pkt_pts_time:%s pkt_dts:%s pkt_dts_time:%s off:%s "
      "off_time:%s",
      file.FirstStreamIndex + packet.stream_index,
      NameOrQuestion(lib::av_get_media_type_string(st->codecpar->codec_type)), TimestampText(packet.pts).c_str(),
      TimestampSecondsText(packet.pts, st->time_base).c_str(), TimestampText(packet.dts).c_str(),
      TimestampSecondsText(packet.dts, st->time_base).c_str(), TimestampText(file.TsOffset).c_str(),
      TimestampSecondsText(file.TsOffset, AV_TIME_BASE_Q).c_str());
}

void TCustomFFmpeg::CorrectTimestampWrap(TInputFile& file, TInputStream& ist, AVPacket* packet) {
  const AVFormatContext* ic = file.Context.get();
  const AVStream* st = ist.Stream;
  // Timestamps of fewer than 64 bits wrap; correct once per stream, near the start.
  if (ist.WrapCorrectionDone != 0 || ic->start_time == AV_NOPTS_VALUE || st->pts_wrap_bits >= 64) return;
  if (ist.NextDts == AV_NOPTS_VALUE && file.TsOffset == -ic->start_time && ic->iformat != nullptr &&
      (ic->iformat->flags & AVFMT_TS_DISCONT) != 0) {
    std::int64_t newStart = INT64_MAX;
    for (unsigned i = 0; i < ic->nb_streams; ++i) {
      const AVStream* other = ic->streams[i];
      if (other->discard == AVDISCARD_ALL || other->start_time == AV_NOPTS_VALUE) continue;
      newStart = std::min(newStart, ToMicroseconds(other->start_time, other->time_base));
    }
    if (newStart != INT64_MAX && newStart > ic->start_time) {
      LibraryLog(AV_LOG_VERBOSE, "Correcting start time by %lld\n", static_cast<long long>(newStart - ic->start_time));
      file.TsOffset = -newStart;
    }
  }
  const std::int64_t startTime = lib::av_rescale_q(ic->start_time, AV_TIME_BASE_Q, st->time_base);
  const std::int64_t wrap = std::int64_t{1} << st->pts_wrap_bits;
  ist.WrapCorrectionDone = 1;
  if (packet->dts != AV_NOPTS_VALUE && packet->dts > startTime + wrap / 2) {
    packet->dts -= wrap;
    ist.WrapCorrectionDone = 0;
  }
  if (packet->pts != AV_NOPTS_VALUE && packet->pts > startTime + wrap / 2) {
    packet->pts -= wrap;
    ist.WrapCorrectionDone = 0;
  }
}

void TCustomFFmpeg::ApplyInputOffsetAndScale(const TInputFile& file, const TInputStream& ist, AVPacket* packet) {
  const std::int64_t offset = lib::av_rescale_q(file.TsOffset, AV_TIME_BASE_Q, ist.Stream->time_base);
  if (packet->dts != AV_NOPTS_VALUE) packet->dts += offset;
  if (packet->pts != AV_NOPTS_VALUE) packet->pts += offset;
  if (packet->pts != AV_NOPTS_VALUE) packet->pts = std::llround(static_cast<double>(packet->pts) * ist.TsScale);
  if (packet->dts != AV_NOPTS_VALUE) packet->dts = std::llround(static_cast<double>(packet->dts) * ist.TsScale);
}

void TCustomFFmpeg::CheckTimestampJump(TInputFile& file, const TInputStream& ist, AVPacket* packet) {
  if (packet->dts == AV_NOPTS_VALUE || ist.NextDts == AV_NOPTS_VALUE || CopyTs != 0) return;
  const AVFormatContext* ic = file.Context.get();
  const AVStream* st = ist.Stream;
  const AVMediaType type = st->codecpar->codec_type;
  const std::int64_t dtsUs = ToMicroseconds(packet->dts, st->time_base);
  const std::int64_t delta = dtsUs - ist.NextDts;
  // A format whose timestamps may jump is followed across the jump by moving the file's offset;
  // any other format keeps its offset and loses the stray timestamp instead.
  if (ic->iformat != nullptr && (ic->iformat->flags & AVFMT_TS_DISCONT) != 0) {
    const double threshold = static_cast<double>(DtsDeltaThreshold) * AV_TIME_BASE;
    if (static_cast<double>(delta) < -threshold ||
        (static_cast<double>(delta) > threshold && type != AVMEDIA_TYPE_SUBTITLE) || dtsUs + 1 < ist.Pts) {
      file.TsOffset -= delta;
      DefaultLogger().LogFmt(this, llDebug, "timestamp discontinuity %lld, new offset= %lld",
                             static_cast<long long>(delta), static_cast<long long>(file.TsOffset));
      const std::int64_t shift = lib::av_rescale_q(delta, AV_TIME_BASE_Q, st->time_base);
      packet->dts -= shift;
      if (packet->pts != AV_NOPTS_VALUE) packet->pts -= shift;
    }
    return;
  }
  const double threshold = static_cast<double>(DtsErrorThreshold) * AV_TIME_BASE;
  if (static_cast<double>(delta) < -threshold ||
      (static_cast<double>(delta) > threshold && type != AVMEDIA_TYPE_SUBTITLE)) {
    DefaultLogger().LogFmt(this, llWarning, "DTS %lld, next:%lld st:%d invalid dropping",
                           static_cast<long long>(packet->dts), static_cast<long long>(ist.NextDts),
                           packet->stream_index);
    packet->dts = AV_NOPTS_VALUE;
  }
  if (packet->pts != AV_NOPTS_VALUE) {
    const std::int64_t ptsDelta = ToMicroseconds(packet->pts, st->time_base) - ist.NextDts;
    if (static_cast<double>(ptsDelta) < -threshold ||
        (static_cast<double>(ptsDelta) > threshold && type != AVMEDIA_TYPE_SUBTITLE)) {
      DefaultLogger().LogFmt(this, llWarning, "PTS %lld, next:%lld invalid dropping st:%d",
                             static_cast<long long>(packet->pts), static_cast<long long>(ist.NextDts),
                             packet->stream_index);
      packet->pts = AV_NOPTS_VALUE;
    }
  }
}

int TCustomFFmpeg::ProcessInput(int fileIndex) {
  TInputFile& file = *InputFiles[static_cast<std::size_t>(fileIndex)];
  AVFormatContext* ic = file.Context.get();
  PacketPtr packet(lib::av_packet_alloc());
  if (!packet) return AVERROR(ENOMEM);

  const int r = ReadInputPacket(file, packet.get());
  if (r == AVERROR(EAGAIN)) {
    file.EAgain = 1;
    return AVERROR(EAGAIN);
  }
  if (r < 0) return EndInput(fileIndex, r);

  ResetUnavailable();
  if (DoPktDump != 0 && packet->stream_index < static_cast<int>(ic->nb_streams)) {
    lib::av_pkt_dump_log2(nullptr, AV_LOG_DEBUG, packet.get(), DoHexDump, ic->streams[packet->stream_index]);
  }
  if (!PacketOfKnownStream(file, fileIndex, *packet)) return 0;
  TInputStream& ist = *InputStreams[static_cast<std::size_t>(file.FirstStreamIndex + packet->stream_index)];
  if (ist.Discard != 0) return 0;

  if (DebugTs != 0) LogDemuxedPacket(file, ist, *packet);
  CorrectTimestampWrap(file, ist, packet.get());
  ApplyInputOffsetAndScale(file, ist, packet.get());
  CheckTimestampJump(file, ist, packet.get());
  if (DebugTs != 0) LogAdjustedPacket(file, ist, *packet);

  Sub2VideoHeartbeat(file, *packet, ist.Stream->time_base);

  const int decoded = DecodePacket(ist, packet.get());
  if (decoded < 0) ReportDecodeError(ist, decoded);
  return 0;
}

// ------------------------------------------------------------------ the join switch

void TCustomFFmpeg::JoinSwitch(int inputIndex) {
  TInputFile& file = *InputFiles[static_cast<std::size_t>(inputIndex)];
  for (int i = 0; i < file.StreamCount; ++i) {
    TInputStream& ist = *InputStreams[static_cast<std::size_t>(file.FirstStreamIndex + i)];
    if (ist.DecodingNeeded != 0 && ist.Flushed == 0) {
      DrainInputStream(ist);
      if (ist.DecoderContext && ist.DecoderClosed == 0) lib::avcodec_flush_buffers(ist.DecoderContext.get());
    }
    if (ist.DecodingNeeded != 0 && ist.DecoderClosed == 0) CloseDecoder(ist);
    if (ist.Released == 0) {
      ist.Released = 1;
      ist.DecodedFrame.reset();
      ist.DecoderOptions.reset();
      ist.Sub2Video.Frame.reset();
    }
  }
  ReapFilters();
  FlushEncoders();

  // The duration written so far: where the muxed data of the group that ends stops, so that the
  // next input neither overlaps its last frame nor leaves a gap.
  double duration = 0;
  for (int i = FirstActiveOutput; i <= LastActiveOutput; ++i) {
    TOutputStream& ost = *OutputStreams[static_cast<std::size_t>(i)];
    const auto clock = MuxerClocks.find(ost.Stream);
    if (clock != MuxerClocks.end() && clock->second.End != AV_NOPTS_VALUE) {
      duration = std::max(duration, static_cast<double>(clock->second.End) * av_q2d(ost.Stream->time_base));
    }
    ost.DurationCounted = 1;
  }

  CurrentInput += 1;
  SetActiveRange();

  // Group 0 owns the encoders; a drained encoder cannot take frames again, so each one is opened
  // afresh on a new context with the settings it had.
  for (int i = 0; i < JoinStreamCount && i < OutputStreamCount(); ++i) {
    TOutputStream& ost = *OutputStreams[static_cast<std::size_t>(i)];
    if (ost.EncodingNeeded == 0 || ost.EncoderOpened == 0) continue;
    AVCodecContext* old = ost.EncoderContext.get();
    CodecContextPtr fresh(lib::avcodec_alloc_context3(ost.Encoder));
    if (!fresh) Fail("avcodec_alloc_context3() failed");
    CodecParametersPtr parameters(lib::avcodec_parameters_alloc());
    if (!parameters || lib::avcodec_parameters_from_context(parameters.get(), old) < 0 ||
        lib::avcodec_parameters_to_context(fresh.get(), parameters.get()) < 0) {
      Fail("avcodec_parameters_to_context() failed");
    }
    lib::av_freep(&fresh->extradata);
    fresh->extradata_size = 0;
    fresh->codec_id = ost.SavedCodecId != AV_CODEC_ID_NONE ? ost.SavedCodecId : old->codec_id;
    fresh->time_base = old->time_base;
    fresh->framerate = old->framerate;
    fresh->flags = old->flags;
    fresh->flags2 = old->flags2;
    fresh->global_quality = old->global_quality;
    fresh->gop_size = old->gop_size;
    fresh->max_b_frames = ost.SavedMaxBFrames;
    fresh->qmin = old->qmin;
    fresh->qmax = old->qmax;
    fresh->rc_max_rate = old->rc_max_rate;
    fresh->rc_buffer_size = old->rc_buffer_size;
    fresh->strict_std_compliance = old->strict_std_compliance;
    fresh->sample_aspect_ratio = lib::av_d2q(av_q2d(ost.Stream->sample_aspect_ratio), 255);
    if (fresh->sample_aspect_ratio.den == 0) fresh->sample_aspect_ratio = AVRational{0, 1};
    CloseEncoder(ost);

    DictionaryPtr options;
    lib::av_dict_copy(DictionaryRef(options), ost.EncoderOptions.get(), 0);
    ost.SavedOptions.reset();
    lib::av_dict_copy(DictionaryRef(ost.SavedOptions), ost.EncoderOptions.get(), 0);
    if (std::string(ost.Encoder->name) == "mjpeg") lib::av_dict_set(DictionaryRef(options), "threads", "1", 0);
    lib::av_dict_set(DictionaryRef(options), "threads", "auto", AV_DICT_DONT_OVERWRITE);
    PauseGate.Wait();
    const int opened = lib::avcodec_open2(fresh.get(), ost.Encoder, DictionaryRef(options));
    if (opened < 0) {
      FailFmt("Error while opening encoder for output stream #%d:%d (%s) - maybe incorrect parameters such as "
              "bit_rate, rate, width or height. %s",
              ost.FileIndex, ost.Index, MediaTypeName(fresh->codec_type).c_str(), kCheckLog);
    }
    ost.EncoderContext = std::move(fresh);
    ost.EncoderClosed = 0;
    ost.EncoderOpened = 1;
    ost.EncoderOptions.reset();
    lib::av_dict_copy(DictionaryRef(ost.EncoderOptions), ost.SavedOptions.get(), 0);
    RegisterOpenedEncoder(ost);
  }
  for (int i = FirstActiveOutput; i <= LastActiveOutput; ++i) {
    TOutputStream& ost = *OutputStreams[static_cast<std::size_t>(i)];
    const AVCodecContext* enc = EncoderOf(ost);
    if (enc == nullptr || enc->codec_type != AVMEDIA_TYPE_AUDIO || ost.Filter == nullptr || ost.Filter->Filter == nullptr) {
      continue;
    }
    if (enc->codec != nullptr && !(enc->codec->capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE) && enc->frame_size > 0) {
      lib::av_buffersink_set_frame_size(ost.Filter->Filter, static_cast<unsigned>(enc->frame_size));
    }
  }

  // The group taking over goes on from where the one that ended stands. Earlier groups are
  // long finished and their counters stale: starting lower would copy those over the group that
  // just ended and on into the new one.
  for (int i = std::max(FirstActiveOutput, JoinStreamCount); i < OutputStreamCount(); ++i) {
    TOutputStream& ost = *OutputStreams[static_cast<std::size_t>(i)];
    const TOutputStream& before = *OutputStreams[static_cast<std::size_t>(i - JoinStreamCount)];
    ost.SyncOpts = before.SyncOpts;
    ost.FrameNumber = before.FrameNumber;
    ost.LastMuxPts = before.LastMuxPts;
    ost.LastMuxDts = before.LastMuxDts;
    if (ost.SyncInput != nullptr && before.SyncInput != nullptr) ost.SyncInput->Pts = before.SyncInput->Pts;
  }

  if (inputIndex + 1 < InputFileCount()) {
    InputFiles[static_cast<std::size_t>(inputIndex + 1)]->TsOffset += std::llround(1000000.0 * duration);
  }
}

// ------------------------------------------------------------------ decoding

bool TCustomFFmpeg::CheckOutputConstraints(const TInputStream& ist, const TOutputStream& ost) const {
  if (ost.SourceIndex < 0 || InputStreams[static_cast<std::size_t>(ost.SourceIndex)].get() != &ist) return false;
  if (ost.Finished != 0) return false;
  const TOutputFile& of = *OutputFiles[static_cast<std::size_t>(
      std::min(ost.FileIndex, static_cast<std::int32_t>(OutputFiles.size()) - 1))];
  if (of.StartTime != 0 && ist.Pts < of.StartTime) return false;
  return true;
}

void TCustomFFmpeg::RateEmulationSleep(TInputStream& ist) {
  // Time spent paused is not playing time: without this, the frames due during a pause would all
  // rush out at the resume.
  if (const std::int64_t paused = PauseGate.TakeWaited(); paused > 0) {
    for (const auto& file : InputFiles) {
      if (file->RateEmu == 0) continue;
      for (int j = 0; j < file->StreamCount; ++j) {
        InputStreams[static_cast<std::size_t>(file->FirstStreamIndex + j)]->Start += paused;
      }
    }
  }
  if (InputFiles[static_cast<std::size_t>(ist.FileIndex)]->RateEmu == 0) return;
  const std::int64_t elapsed = MonotonicMicroseconds() - ist.Start;
  if (ist.Dts != AV_NOPTS_VALUE && ist.Dts > elapsed) {
    std::this_thread::sleep_for(std::chrono::microseconds(ist.Dts - elapsed));
  }
}

void TCustomFFmpeg::PushFrameToFilters(TInputStream& ist, AVFrame* frame) {
  for (TInputFilter* input : ist.Filters) {
    if (input->Filter == nullptr) continue;
    if (frame->sample_aspect_ratio.num == 0 && ist.Stream->sample_aspect_ratio.num != 0) {
      frame->sample_aspect_ratio = ist.Stream->sample_aspect_ratio;
    }
    const int r = lib::av_buffersrc_add_frame_flags(input->Filter, frame,
                                                    AV_BUFFERSRC_FLAG_KEEP_REF | AV_BUFFERSRC_FLAG_PUSH);
    if (r < 0 && r != AVERROR_EOF) Fail("Failed to inject frame into filter network");
  }
}

void TCustomFFmpeg::SendEndOfStreamToFilters(TInputStream& ist) {
  for (TInputFilter* input : ist.Filters) {
    if (input->Filter == nullptr) continue;
    // A source that already has its end cannot take it twice; nothing is lost then.
    const int r = lib::av_buffersrc_add_frame_flags(input->Filter, nullptr, AV_BUFFERSRC_FLAG_PUSH);
    if (r < 0 && r != AVERROR_EOF) DefaultLogger().Log(this, llWarning, ErrorText("Error while closing a filter input", r));
  }
}

void TCustomFFmpeg::ReconfigureFilters(TInputStream& ist) {
  for (std::size_t i = 0; i < ist.Filters.size(); ++i) {
    TFilterGraph* graph = ist.Filters[i]->Graph;
    if (graph == nullptr || ConfigureFilterGraph(*graph) < 0) Fail("Error reinitializing filters!");
  }
  for (int i = FirstActiveOutput; i <= LastActiveOutput; ++i) {
    TOutputStream& ost = *OutputStreams[static_cast<std::size_t>(i)];
    const AVCodecContext* enc = EncoderOf(ost);
    if (ost.EncodingNeeded == 0 || enc == nullptr || enc->codec_type != AVMEDIA_TYPE_AUDIO) continue;
    if (ost.Filter == nullptr || ost.Filter->Filter == nullptr || enc->codec == nullptr) continue;
    if (!(enc->codec->capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE) && enc->frame_size > 0) {
      lib::av_buffersink_set_frame_size(ost.Filter->Filter, static_cast<unsigned>(enc->frame_size));
    }
  }
}

int TCustomFFmpeg::DecodePacket(TInputStream& ist, const AVPacket* packet) {
  AVStream* st = ist.Stream;
  const AVMediaType type = st->codecpar->codec_type;

  if (ist.SawFirstTs == 0) {
    const AVRational average = st->avg_frame_rate;
    ist.Dts = average.num != 0 && average.den != 0
                  ? -static_cast<std::int64_t>(static_cast<double>(st->codecpar->video_delay) * AV_TIME_BASE /
                                               av_q2d(average))
                  : 0;
    ist.Pts = 0;
    if (packet != nullptr && packet->pts != AV_NOPTS_VALUE && ist.DecodingNeeded == 0) {
      ist.Dts += ToMicroseconds(packet->pts, st->time_base);
      ist.Pts = ist.Dts;
    }
    ist.SawFirstTs = 1;
  }
  if (ist.NextDts == AV_NOPTS_VALUE) ist.NextDts = ist.Dts;
  if (ist.NextPts == AV_NOPTS_VALUE) ist.NextPts = ist.Pts;

  if (packet != nullptr && packet->dts != AV_NOPTS_VALUE) {
    ist.NextDts = ist.Dts = ToMicroseconds(packet->dts, st->time_base);
    if (type != AVMEDIA_TYPE_VIDEO || ist.DecodingNeeded == 0) ist.NextPts = ist.Pts = ist.Dts;
  }

  if (ist.DecodingNeeded != 0) {
    bool gotOutput = false;
    int r = 0;
    switch (type) {
      case AVMEDIA_TYPE_AUDIO:
        r = DecodeAudio(ist, packet, gotOutput);
        break;
      case AVMEDIA_TYPE_VIDEO:
        r = DecodeVideo(ist, packet, gotOutput);
        break;
      case AVMEDIA_TYPE_SUBTITLE:
        r = DecodeSubtitle(ist, packet, gotOutput);
        break;
      default:
        break;
    }
    if (r < 0) return r;
  } else {
    // Not decoded: the clocks move by what the packet lasts.
    ist.Dts = ist.NextDts;
    const AVCodecParameters* par = st->codecpar;
    if (type == AVMEDIA_TYPE_AUDIO && par->sample_rate > 0) {
      int frameSize = packet != nullptr ? lib::av_get_audio_frame_duration2(const_cast<AVCodecParameters*>(par),
                                                                            packet->size)
                                        : 0;
      if (frameSize <= 0) frameSize = par->frame_size;
      ist.NextDts += static_cast<std::int64_t>(AV_TIME_BASE) * frameSize / par->sample_rate;
    } else if (type == AVMEDIA_TYPE_VIDEO) {
      if (packet != nullptr && packet->duration > 0) {
        ist.NextDts += ToMicroseconds(packet->duration, st->time_base);
      } else if (st->avg_frame_rate.num > 0 && st->avg_frame_rate.den > 0) {
        ist.NextDts += lib::av_rescale_q(1, AVRational{st->avg_frame_rate.den, st->avg_frame_rate.num}, AV_TIME_BASE_Q);
      } else if (st->r_frame_rate.num > 0 && st->r_frame_rate.den > 0) {
        ist.NextDts += lib::av_rescale_q(1, AVRational{st->r_frame_rate.den, st->r_frame_rate.num}, AV_TIME_BASE_Q);
      }
    }
    ist.Pts = ist.Dts;
    ist.NextPts = ist.NextDts;
    RateEmulationSleep(ist);
  }

  if (packet != nullptr) {
    for (int i = FirstActiveOutput; i <= LastActiveOutput; ++i) {
      TOutputStream& ost = *OutputStreams[static_cast<std::size_t>(i)];
      if (!CheckOutputConstraints(ist, ost) || ost.EncodingNeeded != 0) continue;
      StreamCopy(ist, ost, packet);
    }
  }
  return 0;
}

int TCustomFFmpeg::ReceiveDecodedFrame(TInputStream& ist, const AVPacket* packet, AVFrame* frame, int& frames) {
  const int r = lib::avcodec_receive_frame(ist.DecoderContext.get(), frame);
  if (r == AVERROR(EAGAIN)) return 0;
  if (r == AVERROR_EOF) {
    if (packet == nullptr) SendEndOfStreamToFilters(ist);
    return 0;
  }
  if (r < 0) return r;
  ++frames;
  // Draining hands back every frame the decoder still holds; only a real packet that holds
  // several frames is worth a warning.
  if (frames > 1 && packet != nullptr) {
    DefaultLogger().LogFmt(this, ist.ShowedMultiPacketWarning != 0 ? llVerbose : llWarning,
                           "Multiple frames in a packet from stream %d", ist.Stream->index);
    ist.ShowedMultiPacketWarning = 1;
  }
  return 1;
}

int TCustomFFmpeg::DecodeAudio(TInputStream& ist, const AVPacket* packet, bool& gotOutput) {
  AVCodecContext* dec = ist.DecoderContext.get();
  if (dec == nullptr || ist.DecoderClosed != 0) return 0;
  if (!ist.DecodedFrame) {
    ist.DecodedFrame.reset(lib::av_frame_alloc());
    if (!ist.DecodedFrame) return AVERROR(ENOMEM);
  }
  AVFrame* frame = ist.DecodedFrame.get();

  PauseGate.Wait();
  int r = lib::avcodec_send_packet(dec, packet);
  if (r == AVERROR_EOF) r = 0;  // already drained
  if (r < 0 && r != AVERROR(EAGAIN)) {
    if (packet == nullptr) SendEndOfStreamToFilters(ist);
    return r;
  }
  int frames = 0;
  for (;;) {
    r = ReceiveDecodedFrame(ist, packet, frame, frames);
    if (r < 0) return r;
    if (r == 0) break;
    gotOutput = true;
    if (dec->sample_rate <= 0) {
      LibraryLog(AV_LOG_ERROR, "Sample rate %d invalid\n", dec->sample_rate);
      lib::av_frame_unref(frame);
      return AVERROR_INVALIDDATA;
    }
    if (frame->nb_samples < 1) FailFmt("the decoder \"%s\" return bad result.", ist.Decoder->name);

    if (frame->sample_rate <= 0) frame->sample_rate = dec->sample_rate;
    const std::int64_t duration = static_cast<std::int64_t>(AV_TIME_BASE) * frame->nb_samples / frame->sample_rate;
    AVRational timeBase = AV_TIME_BASE_Q;
    std::int64_t ts = AV_NOPTS_VALUE;
    if (frame->pts != AV_NOPTS_VALUE) {
      timeBase = ist.Stream->time_base;
      ts = frame->pts;
      ist.Pts = ist.Dts = ToMicroseconds(ts, timeBase);
      ist.NextPts = ist.NextDts = ist.Pts + duration;
    } else {
      ist.Pts = ist.NextPts;
      ist.Dts = ist.NextDts;
      ts = ist.Dts;
      ist.NextPts += duration;
      ist.NextDts += duration;
    }

    if (OnAudioInputHook) {
      const int size = frame->ch_layout.nb_channels * frame->nb_samples *
                       lib::av_get_bytes_per_sample(static_cast<AVSampleFormat>(frame->format));
      CallAudioHook(false, frame->extended_data[0], ist.Pts, size, frame->sample_rate, frame->ch_layout.nb_channels,
                    frame->format);
    }
    RateEmulationSleep(ist);

    if (frame->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC && frame->ch_layout.nb_channels > 0) {
      AVChannelLayout guessed{};
      lib::av_channel_layout_default(&guessed, frame->ch_layout.nb_channels);
      if (guessed.order == AV_CHANNEL_ORDER_UNSPEC) {
        FailFmt("Unable to find default channel layout for Input Stream #%d.%d", ist.FileIndex, ist.Stream->index);
      }
      lib::av_channel_layout_uninit(&frame->ch_layout);
      lib::av_channel_layout_copy(&frame->ch_layout, &guessed);
    }
    const std::uint64_t mask = LayoutMask(frame->ch_layout);
    if (ist.ResampleSampleFmt != frame->format || ist.ResampleChannels != frame->ch_layout.nb_channels ||
        ist.ResampleChannelLayout != mask || ist.ResampleSampleRate != frame->sample_rate) {
      AVChannelLayout before{};
      if (ist.ResampleChannelLayout != 0) {
        lib::av_channel_layout_from_mask(&before, ist.ResampleChannelLayout);
      } else {
        lib::av_channel_layout_default(&before, ist.ResampleChannels);
      }
      DefaultLogger().LogFmt(
          this, llInfo,
          "Input stream #%d:%d frame changed from rate:%d fmt:%s ch:%d chl:%s to rate:%d fmt:%s ch:%d chl:%s",
          ist.FileIndex, ist.Stream->index, ist.ResampleSampleRate,
          NameOrQuestion(lib::av_get_sample_fmt_name(static_cast<AVSampleFormat>(ist.ResampleSampleFmt))),
          ist.ResampleChannels, LayoutText(before).c_str(), frame->sample_rate,
          NameOrQuestion(lib::av_get_sample_fmt_name(static_cast<AVSampleFormat>(frame->format))),
          frame->ch_layout.nb_channels, LayoutText(frame->ch_layout).c_str());
      lib::av_channel_layout_uninit(&before);
      ist.ResampleSampleFmt = frame->format;
      ist.ResampleChannels = frame->ch_layout.nb_channels;
      ist.ResampleChannelLayout = mask;
      ist.ResampleSampleRate = frame->sample_rate;
      ReconfigureFilters(ist);
    }

    const AVRational sampleTimeBase{1, frame->sample_rate};
    frame->pts = lib::av_rescale_delta(timeBase, ts, sampleTimeBase, frame->nb_samples, &ist.FilterInRescaleDeltaLast,
                                       sampleTimeBase);
    PushFrameToFilters(ist, frame);
    lib::av_frame_unref(frame);
  }
  return 0;
}

void TCustomFFmpeg::PreprocessVideoFrame(TInputStream& ist, AVFrame* frame) {
  ist.DecodedFrames += 1;
  const std::int64_t hookTime = ist.Pts;
  if (!OnFrameInputHook && !OnVideoInputHook && HookModules.Empty()) return;
  // The hooks change the picture in place; a picture the decoder still refers to is copied
  // first (the working copy), so decoding is never disturbed.
  if (lib::av_frame_make_writable(frame) < 0) {
    DefaultLogger().Log(this, llError, "memory malloc error in pre_process_video_frame().");
    return;
  }
  PicturePlanes picture;
  for (int i = 0; i < 8; ++i) {
    picture.Data[i] = frame->data[i];
    picture.LineSize[i] = frame->linesize[i];
  }
  const auto format = static_cast<AVPixelFormat>(frame->format);
  if (OnFrameInputHook) CallFrameHook(false, picture, format, frame->width, frame->height, ist.DecodedFrames, hookTime);
  if (OnVideoInputHook) {
    CallVideoHook(false, picture, format, frame->width, frame->height, ist.DecodedFrames, hookTime);
  } else if (!HookModules.Empty()) {
    HookPicture hookPicture{};
    for (int i = 0; i < 8; ++i) {
      hookPicture.data[i] = picture.Data[i];
      hookPicture.linesize[i] = picture.LineSize[i];
    }
    ProcessHookModules(HookModules, &hookPicture, frame->format, frame->width, frame->height, hookTime);
  }
}

int TCustomFFmpeg::DecodeVideo(TInputStream& ist, const AVPacket* packet, bool& gotOutput) {
  AVCodecContext* dec = ist.DecoderContext.get();
  if (dec == nullptr || ist.DecoderClosed != 0) return 0;
  if (!ist.DecodedFrame) {
    ist.DecodedFrame.reset(lib::av_frame_alloc());
    if (!ist.DecodedFrame) return AVERROR(ENOMEM);
  }
  AVFrame* frame = ist.DecodedFrame.get();
  AVStream* st = ist.Stream;

  // A frame lasts what its packet says, else one frame at the stream's rate.
  std::int64_t duration = 0;
  if (packet != nullptr && packet->duration > 0) {
    duration = ToMicroseconds(packet->duration, st->time_base);
  } else if (dec->framerate.num > 0 && dec->framerate.den > 0) {
    duration = lib::av_rescale_q(1, AVRational{dec->framerate.den, dec->framerate.num}, AV_TIME_BASE_Q);
  } else if (st->avg_frame_rate.num > 0 && st->avg_frame_rate.den > 0) {
    duration = lib::av_rescale_q(1, AVRational{st->avg_frame_rate.den, st->avg_frame_rate.num}, AV_TIME_BASE_Q);
  }

  PacketPtr copy;
  if (packet != nullptr) {
    copy.reset(lib::av_packet_clone(packet));
    if (!copy) return AVERROR(ENOMEM);
    copy->dts = ist.Dts != AV_NOPTS_VALUE ? lib::av_rescale_q(ist.Dts, AV_TIME_BASE_Q, st->time_base) : AV_NOPTS_VALUE;
  }
  PauseGate.Wait();
  int r = lib::avcodec_send_packet(dec, copy.get());
  if (r == AVERROR_EOF) r = 0;
  if (r < 0 && r != AVERROR(EAGAIN)) {
    if (packet == nullptr) SendEndOfStreamToFilters(ist);
    return r;
  }
  if (packet != nullptr) {
    if (ist.Dts != AV_NOPTS_VALUE && duration != 0) {
      ist.NextDts += duration;
    } else {
      ist.NextDts = AV_NOPTS_VALUE;
    }
  }

  int frames = 0;
  for (;;) {
    r = ReceiveDecodedFrame(ist, packet, frame, frames);
    if (r < 0) return r;
    if (r == 0) break;
    gotOutput = true;
    if (ist.TopFieldFirst >= 0) frame->top_field_first = ist.TopFieldFirst;
    ist.Pts = ist.NextPts;
    const std::int64_t best = frame->best_effort_timestamp;
    if (best != AV_NOPTS_VALUE) {
      frame->pts = best;
      ist.NextPts = ist.Pts = ToMicroseconds(best, st->time_base);
    } else {
      frame->pts = ist.Pts != AV_NOPTS_VALUE ? lib::av_rescale_q(ist.Pts, AV_TIME_BASE_Q, st->time_base) : AV_NOPTS_VALUE;
    }
    if (DebugTs != 0) {
      DefaultLogger().LogFmt(this, llInfo,
                             "decoder -> ist_index:%d type:video frame_pts:%s frame_pts_time:%s best_effort_ts:%lld "
                             "best_effort_ts_time:%s keyframe:%d frame_type:%d ",
                             st->index, TimestampText(frame->pts).c_str(),
                             TimestampSecondsText(frame->pts, st->time_base).c_str(), static_cast<long long>(best),
                             TimestampSecondsText(best, st->time_base).c_str(), frame->key_frame,
                             static_cast<int>(frame->pict_type));
    }

    PreprocessVideoFrame(ist, frame);
    RateEmulationSleep(ist);
    if (st->sample_aspect_ratio.num != 0) frame->sample_aspect_ratio = st->sample_aspect_ratio;

    if (frame->width != ist.ResampleWidth || frame->height != ist.ResampleHeight ||
        frame->format != ist.ResamplePixFmt) {
      DefaultLogger().LogFmt(
          this, llInfo, "Input stream #%d:%d frame changed from size:%dx%d fmt:%s to size:%dx%d fmt:%s", ist.FileIndex,
          st->index, ist.ResampleWidth, ist.ResampleHeight,
          NameOrQuestion(lib::av_get_pix_fmt_name(static_cast<AVPixelFormat>(ist.ResamplePixFmt))), frame->width,
          frame->height, NameOrQuestion(lib::av_get_pix_fmt_name(static_cast<AVPixelFormat>(frame->format))));
      ist.ResampleWidth = frame->width;
      ist.ResampleHeight = frame->height;
      ist.ResamplePixFmt = frame->format;
      if (ist.ReinitFilters != 0) ReconfigureFilters(ist);
    }

    PushFrameToFilters(ist, frame);
    lib::av_frame_unref(frame);
    if (duration != 0 && ist.NextPts != AV_NOPTS_VALUE) ist.NextPts += duration;
  }
  return 0;
}

int TCustomFFmpeg::DecodeSubtitle(TInputStream& ist, const AVPacket* packet, bool& gotOutput) {
  AVCodecContext* dec = ist.DecoderContext.get();
  if (dec == nullptr || ist.DecoderClosed != 0) return 0;
  AVPacket* drain = nullptr;
  PacketPtr empty;
  if (packet == nullptr) {
    // Subtitle decoders are drained with an empty packet.
    empty.reset(lib::av_packet_alloc());
    if (!empty) return AVERROR(ENOMEM);
    drain = empty.get();
  }
  AVSubtitle subtitle{};
  int got = 0;
  PauseGate.Wait();
  const int r = lib::avcodec_decode_subtitle2(dec, &subtitle, &got, packet != nullptr ? const_cast<AVPacket*>(packet) : drain);
  if (r < 0 || got == 0) {
    // Pictures waiting for the subtitle canvas must not wait past its end.
    if (packet == nullptr && ist.Sub2Video.Frame) SendEndOfStreamToFilters(ist);
    return r < 0 ? r : 0;
  }
  gotOutput = true;

  if (ist.FixSubDuration != 0) {
    // The previous subtitle is held back one step and ends where this one begins.
    int end = 1;
    if (ist.PrevSub.GotOutput != 0) {
      end = static_cast<int>(lib::av_rescale(subtitle.pts - ist.PrevSub.Subtitle.pts, 1000, AV_TIME_BASE));
      if (end < static_cast<int>(ist.PrevSub.Subtitle.end_display_time)) {
        LibraryLog(AV_LOG_DEBUG, "Subtitle duration reduced from %d to %d\n",
                   static_cast<int>(ist.PrevSub.Subtitle.end_display_time), end);
        ist.PrevSub.Subtitle.end_display_time = static_cast<std::uint32_t>(end);
      }
    }
    std::swap(got, ist.PrevSub.GotOutput);
    std::swap(subtitle, ist.PrevSub.Subtitle);
    if (end <= 0 || got == 0) {
      if (subtitle.num_rects != 0 || subtitle.rects != nullptr) lib::avsubtitle_free(&subtitle);
      return 0;
    }
  }

  if (ist.Sub2Video.Frame && !ist.Filters.empty()) Sub2VideoUpdate(ist, &subtitle);

  RateEmulationSleep(ist);
  for (int i = FirstActiveOutput; i <= LastActiveOutput; ++i) {
    TOutputStream& ost = *OutputStreams[static_cast<std::size_t>(i)];
    if (!CheckOutputConstraints(ist, ost) || ost.EncodingNeeded == 0) continue;
    SubtitleOut(FileOf(ost), ost, ist, &subtitle);
  }
  lib::avsubtitle_free(&subtitle);
  return 0;
}

void TCustomFFmpeg::Sub2VideoPush(TInputStream& ist, std::int64_t pts) {
  AVFrame* canvas = ist.Sub2Video.Frame.get();
  canvas->pts = pts;
  ist.Sub2Video.LastPts = pts;
  for (TInputFilter* input : ist.Filters) {
    if (input->Filter == nullptr) continue;
    // The canvas stays ours: the graph takes a reference of its own.
    const int r = lib::av_buffersrc_add_frame_flags(input->Filter, canvas,
                                                    AV_BUFFERSRC_FLAG_KEEP_REF | AV_BUFFERSRC_FLAG_PUSH);
    if (r < 0 && r != AVERROR_EOF) DefaultLogger().Log(this, llWarning, ErrorText("Error while sending a subtitle picture", r));
  }
}

void TCustomFFmpeg::Sub2VideoUpdate(TInputStream& ist, const AVSubtitle* subtitle) {
  AVFrame* canvas = ist.Sub2Video.Frame.get();
  if (canvas == nullptr) return;
  const AVRational timeBase = ist.Stream->time_base;
  std::int64_t pts = ist.Sub2Video.EndPts;
  std::int64_t end = kNoLimit;
  unsigned rectCount = 0;
  if (subtitle != nullptr) {
    pts = lib::av_rescale_q(subtitle->pts + static_cast<std::int64_t>(subtitle->start_display_time) * 1000,
                            AV_TIME_BASE_Q, timeBase);
    end = lib::av_rescale_q(subtitle->pts + static_cast<std::int64_t>(subtitle->end_display_time) * 1000,
                            AV_TIME_BASE_Q, timeBase);
    rectCount = subtitle->num_rects;
  }
  // The graph may still hold the last canvas we sent: draw into a buffer of our own.
  if (lib::av_frame_make_writable(canvas) < 0) {
    DefaultLogger().Log(this, llError, "sub2video: cannot draw the subtitle picture");
    return;
  }
  for (int row = 0; row < canvas->height; ++row) {
    std::memset(canvas->data[0] + static_cast<std::ptrdiff_t>(row) * canvas->linesize[0], 0,
                static_cast<std::size_t>(canvas->width) * 4);
  }
  for (unsigned i = 0; i < rectCount; ++i) {
    const AVSubtitleRect* rect = subtitle->rects[i];
    if (rect->type != SUBTITLE_BITMAP) {
      DefaultLogger().Log(this, llWarning, "sub2video: non-bitmap subtitle");
      continue;
    }
    if (rect->x < 0 || rect->y < 0 || rect->w < 0 || rect->h < 0 || rect->x + rect->w > canvas->width ||
        rect->y + rect->h > canvas->height) {
      DefaultLogger().Log(this, llWarning, "sub2video: rectangle overflowing");
      continue;
    }
    // Palette entries are native 32-bit ARGB, which is BGRA byte order in memory here.
    const auto* palette = reinterpret_cast<const std::uint32_t*>(rect->data[1]);
    for (int y = 0; y < rect->h; ++y) {
      const std::uint8_t* source = rect->data[0] + static_cast<std::ptrdiff_t>(y) * rect->linesize[0];
      auto* target = reinterpret_cast<std::uint32_t*>(canvas->data[0] +
                                                      static_cast<std::ptrdiff_t>(rect->y + y) * canvas->linesize[0]) +
                     rect->x;
      for (int x = 0; x < rect->w; ++x) target[x] = palette[source[x]];
    }
  }
  Sub2VideoPush(ist, pts);
  ist.Sub2Video.EndPts = end;
}

void TCustomFFmpeg::Sub2VideoHeartbeat(const TInputFile& file, const AVPacket& packet, AVRational timeBase) {
  if (packet.pts == AV_NOPTS_VALUE) return;
  for (int i = 0; i < file.StreamCount; ++i) {
    TInputStream& ist = *InputStreams[static_cast<std::size_t>(file.FirstStreamIndex + i)];
    if (!ist.Sub2Video.Frame || ist.Filters.empty()) continue;
    // Pictures of the other streams wait in the graph for a canvas at least as late as they are.
    const std::int64_t t = lib::av_rescale_q(packet.pts, timeBase, ist.Stream->time_base) - 1;
    if (t <= ist.Sub2Video.LastPts) continue;
    if (ist.Sub2Video.EndPts < t) Sub2VideoUpdate(ist, nullptr);
    bool wanted = false;
    for (const TInputFilter* input : ist.Filters) {
      if (input->Filter != nullptr && lib::av_buffersrc_get_nb_failed_requests(input->Filter) > 0) wanted = true;
    }
    if (wanted) Sub2VideoPush(ist, t);
  }
}

}  // namespace lumivor
