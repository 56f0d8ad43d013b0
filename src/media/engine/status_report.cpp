// The status line of a running task, the same values as progress keys for the progress byte
// stream and the progress callback, the final summary, and the video statistics lines.
#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstdio>

#include "media/engine/ffmpeg.h"
#include "media/runtime/ff_log.h"
#include "media/runtime/stream_helpers.h"
#include "media/runtime/timestamps.h"
#include "media/runtime/format_text.h"

namespace lumivor {
namespace {

double Psnr(double error) { return -10.0 * std::log(error) / std::log(10.0); }

}  // namespace

std::int64_t TCustomFFmpeg::PlannedOutputLength() {
  std::int64_t planned = -1;
  for (int f = 0; f < OutputFileCount(); ++f) {
    const TOutputFile& of = *OutputFiles[static_cast<std::size_t>(f)];
    const int end = f + 1 < OutputFileCount() ? OutputFiles[static_cast<std::size_t>(f + 1)]->FirstStreamIndex
                                              : OutputStreamCount();
    // Only pictures and sound make the length: a subtitle track or an attachment ends anywhere.
    std::int64_t longest = -1;
    std::int64_t shortest = -1;
    for (int i = of.FirstStreamIndex; i < end; ++i) {
      const TOutputStream& ost = *OutputStreams[static_cast<std::size_t>(i)];
      const AVMediaType type = ost.Stream != nullptr ? ost.Stream->codecpar->codec_type : AVMEDIA_TYPE_UNKNOWN;
      if (type != AVMEDIA_TYPE_VIDEO && type != AVMEDIA_TYPE_AUDIO) continue;
      std::int64_t length = MaxInputDuration;
      if (ost.SourceIndex >= 0 && ost.SourceIndex < static_cast<int>(InputStreams.size())) {
        const TInputStream& ist = *InputStreams[static_cast<std::size_t>(ost.SourceIndex)];
        const AVFormatContext* ic = InputFiles[static_cast<std::size_t>(ist.FileIndex)]->Context.get();
        if (ist.Stream->duration != AV_NOPTS_VALUE && ist.Stream->duration > 0) {
          length = lib::av_rescale_q(ist.Stream->duration, ist.Stream->time_base, AV_TIME_BASE_Q);
        } else if (ic != nullptr && ic->duration != AV_NOPTS_VALUE && ic->duration > 0) {
          length = ic->duration;
        }
      }
      if (length <= 0) continue;
      longest = std::max(longest, length);
      shortest = shortest < 0 ? length : std::min(shortest, length);
    }
    std::int64_t length = of.Shortest != 0 ? shortest : longest;
    if (length > 0) length = std::max<std::int64_t>(length - of.StartTime, 0);
    if (of.RecordingTime != kNoLimit) length = length > 0 ? std::min(length, of.RecordingTime) : of.RecordingTime;
    // What is written stays: "-shortest" settles the length only when the shortest stream ends,
    // and the others may have gone further by then.
    for (int i = of.FirstStreamIndex; i < end; ++i) {
      const TOutputStream& ost = *OutputStreams[static_cast<std::size_t>(i)];
      if (ost.Stream == nullptr) continue;
      const AVMediaType type = ost.Stream->codecpar->codec_type;
      const auto clock = MuxerClocks.find(ost.Stream);
      if ((type != AVMEDIA_TYPE_VIDEO && type != AVMEDIA_TYPE_AUDIO) || clock == MuxerClocks.end() ||
          clock->second.End == AV_NOPTS_VALUE) {
        continue;
      }
      length = std::max(length, lib::av_rescale_q(clock->second.End, ost.Stream->time_base, AV_TIME_BASE_Q));
    }
    planned = std::max(planned, length);
  }
  return planned;
}

// What one report gathers on its way through the streams, for the status line, the progress
// keys and the progress callback alike.
struct TCustomFFmpeg::StatusValues {
  std::string Line;
  std::string Progress;
  std::int64_t TotalSize = -1;
  float Quality = -1;
  int FrameNumber = -1;
  double Fps = -1;
  // Set by the first video stream that has frames: it alone gives the frame count and the rate.
  bool VideoQualified = false;
  std::int64_t OutputTime = INT64_MIN;
  std::int64_t LastMuxTime = 0;
  std::int64_t DoneTime = INT64_MIN;
  double Bitrate = -1;
};

bool TCustomFFmpeg::StatusReportDue(bool final, std::int64_t now) {
  if (PrintStats == 0 && !final && !ProgressOutput && !OnProgress) return false;
  if (final) return true;
  // The first call only starts the clock, so that the first line covers a whole interval.
  if (LastReportTime == -1) {
    LastReportTime = now;
    return false;
  }
  if (now - LastReportTime < ProgressInterval) return false;
  LastReportTime = now;
  return true;
}

std::int64_t TCustomFFmpeg::ReportedOutputSize() {
  std::int64_t totalSize = -1;
  AVFormatContext* oc = OutputFiles.empty() ? nullptr : OutputFiles.front()->Context.get();
  if (oc != nullptr && oc->pb != nullptr) {
    totalSize = lib::avio_size(oc->pb);
    if (totalSize <= 0) totalSize = StreamPosition(oc->pb);
  }
  return totalSize;
}

void TCustomFFmpeg::ReportedStreamRange(int inputIndex, int& first, int& last) {
  first = 0;
  last = OutputStreamCount() - 1;
  // In join mode only the group of the input being read is at work.
  if (JoinMode != 0 && JoinStreamCount > 0) {
    const int groups = OutputStreamCount() / JoinStreamCount;
    const int group = inputIndex < 0 ? groups - 1 : std::min(inputIndex, groups - 1);
    first = group * JoinStreamCount;
    last = first + JoinStreamCount - 1;
  }
}

void TCustomFFmpeg::AddStreamStatus(StatusValues& values, TOutputStream& ost, bool final, std::int64_t now,
                                    std::int64_t start) {
  TOutputStream& owner = EncoderOwner(ost);
  const bool video = ost.Stream->codecpar->codec_type == AVMEDIA_TYPE_VIDEO;
  const bool coded = ost.StreamCopy == 0 && owner.EncoderOpened != 0 && owner.FrameNumber > 0;
  const float q = coded ? owner.LastQuality / FF_QP2LAMBDA : -1;

  // Until a video stream has frames, one without any is left out of the report altogether.
  if (!values.VideoQualified && video && ost.DurationCounted == 0 && ost.FrameNumber == 0) return;
  values.Quality = q;

  if (values.VideoQualified && video) {
    values.Line += FormatText("q=%2.1f ", q);
    values.Progress += FormatText("stream_%d_%d_q=%.1f\n", ost.FileIndex, ost.Index, q);
  }
  if (!values.VideoQualified && video && ost.FrameNumber > 0 && ost.DurationCounted == 0) {
    AddFirstVideoStatus(values, ost, owner, q, coded, final, now, start);
  }
  AddMuxedTime(values, ost, final);
}

void TCustomFFmpeg::AddFirstVideoStatus(StatusValues& values, const TOutputStream& ost, const TOutputStream& owner,
                                        float q, bool coded, bool final, std::int64_t now, std::int64_t start) {
  values.VideoQualified = true;
  const double seconds = static_cast<double>(now - start) / 1000000.0;
  values.FrameNumber = ost.FrameNumber;
  values.Fps = seconds > 1 ? values.FrameNumber / seconds : 0;
  values.Line += FormatText("frame=%5d fps=%3.*f q=%3.1f ", values.FrameNumber, values.Fps < 9.95 ? 1 : 0,
                            values.Fps, q);
  values.Progress += FormatText("frame=%d\n", values.FrameNumber);
  values.Progress += FormatText("fps=%.1f\n", values.Fps);
  values.Progress += FormatText("stream_%d_%d_q=%.1f\n", ost.FileIndex, ost.Index, q);
  if (final) values.Line += "L";
  if (QpHist != 0) {
    const int qp = static_cast<int>(std::lrint(q));
    if (qp >= 0 && qp < 52) QpHistogram[qp] += 1;
    for (int j = 0; j < 32; ++j) {
      values.Line += FormatText("%X", static_cast<int>(std::lrint(std::log2(QpHistogram[j] + 1))));
    }
  }
  const AVCodecContext* enc = owner.EncoderContext.get();
  if (enc != nullptr && (enc->flags & AV_CODEC_FLAG_PSNR) != 0 && (coded || final) && enc->width > 0 &&
      enc->height > 0) {
    AddPsnrStatus(values, ost, *enc, final);
  }
}

void TCustomFFmpeg::AddPsnrStatus(StatusValues& values, const TOutputStream& ost, const AVCodecContext& enc,
                                  bool final) {
  double errorSum = 0;
  double scaleSum = 0;
  static const char kPlanes[] = {'Y', 'U', 'V'};
  values.Line += "PSNR=";
  for (int j = 0; j < 3; ++j) {
    // The final line measures the whole run with the encoder's sums; the others the last picture.
    double error = static_cast<double>(final ? enc.error[j] : LastPictureErrors_[j]);
    double scale = static_cast<double>(enc.width) * enc.height * 255.0 * 255.0;
    if (j != 0) scale /= 4;
    if (final) scale *= values.FrameNumber;
    errorSum += error;
    scaleSum += scale;
    const double value = Psnr(error / scale);
    values.Line += FormatText("%c:%2.2f ", kPlanes[j], value);
    values.Progress += FormatText("stream_%d_%d_psnr_%c=%2.2f\n", ost.FileIndex, ost.Index, kPlanes[j] + 32, value);
  }
  const double all = Psnr(errorSum / scaleSum);
  values.Line += FormatText("*:%2.2f ", all);
  values.Progress += FormatText("stream_%d_%d_psnr_all=%2.2f\n", ost.FileIndex, ost.Index, all);
}

void TCustomFFmpeg::AddMuxedTime(StatusValues& values, const TOutputStream& ost, bool final) {
  const auto clock = MuxerClocks.find(ost.Stream);
  if (clock == MuxerClocks.end() || clock->second.Pts == AV_NOPTS_VALUE) return;
  const std::int64_t muxTime = lib::av_rescale_q(clock->second.Pts, ost.Stream->time_base, AV_TIME_BASE_Q);
  values.LastMuxTime = muxTime;
  if (final || ost.Finished == 0) values.OutputTime = std::max(values.OutputTime, muxTime);
  // The share done follows the pictures and the sound up to the end of what was written; a
  // subtitle track's time stands wherever its last line was.
  const AVMediaType type = ost.Stream->codecpar->codec_type;
  if (type == AVMEDIA_TYPE_VIDEO || type == AVMEDIA_TYPE_AUDIO) {
    const std::int64_t end = clock->second.End != AV_NOPTS_VALUE ? clock->second.End : clock->second.Pts;
    values.DoneTime = std::max(values.DoneTime, lib::av_rescale_q(end, ost.Stream->time_base, AV_TIME_BASE_Q));
  }
}

void TCustomFFmpeg::AddSizeTimeAndRate(StatusValues& values) {
  const std::int64_t totalSize = values.TotalSize;
  const std::int64_t outputTime = values.OutputTime;
  if (totalSize < 0) {
    values.Line += "size=N/A time=";
  } else {
    values.Line += FormatText("size=%8.0fkB time=", static_cast<double>(totalSize) / 1024);
  }
  // Before anything was muxed there is no time to show.
  const bool timeKnown = outputTime != INT64_MIN;
  if (timeKnown) {
    const std::int64_t magnitude = outputTime < 0 ? -outputTime : outputTime;
    const std::int64_t totalSeconds = magnitude / AV_TIME_BASE;
    const int milliseconds = static_cast<int>((magnitude % AV_TIME_BASE) / 1000);
    const int hours = static_cast<int>(totalSeconds / 3600);
    const int minutes = static_cast<int>((totalSeconds / 60) % 60);
    const int seconds = static_cast<int>(totalSeconds % 60);
    values.Line += FormatText("%s%02d:%02d:%02d.%03d ", outputTime < 0 ? "-" : "", hours, minutes, seconds,
                              milliseconds);
  } else {
    values.Line += "N/A ";
  }
  if (timeKnown && outputTime != 0 && totalSize >= 0) {
    values.Bitrate = static_cast<double>(totalSize) * 8 / (static_cast<double>(outputTime) / 1000);
  }
  values.Line +=
      values.Bitrate < 0 ? std::string("bitrate=N/A") : FormatText("bitrate=%6.1fkbits/s", values.Bitrate);

  values.Progress += totalSize < 0 ? std::string("total_size=N/A\n")
                                   : FormatText("total_size=%lld\n", static_cast<long long>(totalSize));
  if (timeKnown) {
    const std::int64_t magnitude = outputTime < 0 ? -outputTime : outputTime;
    values.Progress += FormatText("out_time_ms=%lld\n", static_cast<long long>(outputTime));
    values.Progress += FormatText("out_time=%s%02d:%02d:%02d.%06d\n", outputTime < 0 ? "-" : "",
                                  static_cast<int>(magnitude / AV_TIME_BASE / 3600),
                                  static_cast<int>((magnitude / AV_TIME_BASE / 60) % 60),
                                  static_cast<int>((magnitude / AV_TIME_BASE) % 60),
                                  static_cast<int>(magnitude % AV_TIME_BASE));
  } else {
    values.Progress += "out_time_ms=N/A\nout_time=N/A\n";
  }
}

void TCustomFFmpeg::AddDupDropStatus(StatusValues& values, bool final) {
  if (DupCount != 0 || DropCount != 0) values.Line += FormatText(" dup=%d drop=%d", DupCount, DropCount);
  if (DupDropChanged != 0 && OnProgress) {
    DupDropChanged = 0;
    // The final line is logged below in any case; logging it here as well printed it twice.
    if (!final) DefaultLogger().Log(this, llInfo, values.Line);
  }
  values.Progress += FormatText("dup_frames=%d\n", DupCount);
  values.Progress += FormatText("drop_frames=%d\n", DropCount);
}

void TCustomFFmpeg::CallProgressEvent(const StatusValues& values, int inputIndex, bool final) {
  TProgressInfo info;
  info.FileIndex = final ? -1 : inputIndex;
  info.FrameNumber = values.FrameNumber;
  info.FPS = values.Fps < 0 ? -1 : static_cast<std::int32_t>(std::lrint(values.Fps));
  info.Quality = values.Quality;
  info.BitRate = static_cast<float>(values.Bitrate);
  info.CurrentSize = values.TotalSize < 0 ? 0 : values.TotalSize;
  info.CurrentDuration = values.DoneTime != INT64_MIN ? values.DoneTime : values.LastMuxTime;
  info.TotalDuration = TotalDuration;
  OnProgress(this, info.FileIndex, info);
}

void TCustomFFmpeg::WriteProgressKeys(std::string& progress, bool final) {
  progress += FormatText("progress=%s\n", final ? "end" : "continue");
  lib::avio_write(ProgressOutput.get(), reinterpret_cast<const unsigned char*>(progress.data()),
                  static_cast<int>(progress.size()));
  lib::avio_flush(ProgressOutput.get());
  if (final) ProgressOutput.reset();
}

void TCustomFFmpeg::LogFinalSizes(std::int64_t totalSize) {
  const std::int64_t sum = VideoSize + AudioSize + SubtitleSize + ExtraSize;
  std::string overhead;
  if (sum > 0) {
    overhead = FormatText("%f%%", 100.0 * static_cast<double>(totalSize - sum) / static_cast<double>(sum));
  } else {
    overhead = "unknown";
  }
  DefaultLogger().LogFmt(this, llInfo, "video:%1.0fkB audio:%1.0fkB subtitle:%1.0f global headers:%1.0fkB muxing overhead %s\r\n",
                         static_cast<double>(VideoSize) / 1024, static_cast<double>(AudioSize) / 1024,
                         static_cast<double>(SubtitleSize) / 1024, static_cast<double>(ExtraSize) / 1024,
                         overhead.c_str());
  if (sum == 0) {
    DefaultLogger().Log(this, llWarning,
                        "Output file is empty, nothing was encoded (check -ss / -t / -frames parameters if used)");
  }
}

void TCustomFFmpeg::StatusReport(int inputIndex, bool final, std::int64_t now, std::int64_t start) {
  if (!StatusReportDue(final, now)) return;

  StatusValues values;
  values.TotalSize = ReportedOutputSize();
  int first = 0;
  int last = 0;
  ReportedStreamRange(inputIndex, first, last);
  for (int i = first; i <= last; ++i) {
    AddStreamStatus(values, *OutputStreams[static_cast<std::size_t>(i)], final, now, start);
  }

  AddSizeTimeAndRate(values);
  AddDupDropStatus(values, final);
  LastStatusLine_ = values.Line;

  if (OnProgress) CallProgressEvent(values, inputIndex, final);
  if ((PrintStats != 0 && !OnProgress) || final) DefaultLogger().Log(this, llInfo, values.Line);
  if (ProgressOutput) WriteProgressKeys(values.Progress, final);
  if (final) LogFinalSizes(values.TotalSize);
}

void TCustomFFmpeg::WriteVideoStats(TOutputStream& ost, int frameSize) {
  if (!VstatsFile) {
    VstatsFile.reset(std::fopen(VstatsFileName.c_str(), "w"));
    if (!VstatsFile) Fail("fopen fail: " + VstatsFileName);
  }
  TOutputStream& owner = EncoderOwner(ost);
  const AVCodecContext* enc = owner.EncoderContext.get();
  if (enc == nullptr || enc->codec_type != AVMEDIA_TYPE_VIDEO) return;
  std::FILE* file = VstatsFile.get();
  std::fprintf(file, "frame= %5d q= %2.1f ", ost.FrameNumber, owner.LastQuality / FF_QP2LAMBDA);
  if ((enc->flags & AV_CODEC_FLAG_PSNR) != 0 && enc->width > 0 && enc->height > 0) {
    std::fprintf(file, "PSNR= %6.2f ",
                 Psnr(static_cast<double>(LastPictureErrors_[0]) / (enc->width * enc->height * 255.0 * 255.0)));
  }
  std::fprintf(file, "f_size= %6d ", frameSize);
  double time = 0;
  const auto clock = MuxerClocks.find(ost.Stream);
  if (clock != MuxerClocks.end() && clock->second.Pts != AV_NOPTS_VALUE) {
    time = static_cast<double>(lib::av_rescale_q(clock->second.Pts, ost.Stream->time_base, enc->time_base)) *
           av_q2d(enc->time_base);
  }
  if (time < 0.01) time = 0.01;
  const double bitrate = frameSize * 8 / av_q2d(enc->time_base) / 1000.0;
  const double averageBitrate = static_cast<double>(VideoSize) * 8 / time / 1000.0;
  std::fprintf(file, "s_size= %8.0fkB time= %0.3f br= %7.1fkbits/s avg_br= %7.1fkbits/s ",
               static_cast<double>(VideoSize) / 1024, time, bitrate, averageBitrate);
  std::fprintf(file, "type= %c\n", lib::av_get_picture_type_char(static_cast<AVPictureType>(PictureType_)));
}

}  // namespace lumivor
