// One transcoding task's engine: the setup between opened files and the first packet, the loop
// that reads, decodes, filters, encodes and muxes, the output side with its status report, and
// run control (worker thread, pause, stop, exactly one end notification) with the hooks, the
// preview and the progress callback through which the component above sees the work.
//
// Files: transcode_setup.cpp (setup and clean-up), transcode_loop.cpp (the loop, reading and
// decoding, the join switch), encode_output.cpp (filtered frames to packets to the muxer),
// status_report.cpp (status line, progress values, video statistics), run_control.cpp (start,
// stop, pause, the end notification), engine_hooks.cpp (hooks and preview).
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "raster/raster.h"
#include "media/engine/ffmpeg_opt.h"
#include "media/engine/format_converter.h"
#include "media/engine/video_hooks.h"

namespace lumivor {

class TCustomFFmpeg;

// ------------------------------------------------------------------ report records

struct TProgressInfo {
  std::int32_t TaskIndex = 0;
  std::int32_t FileIndex = 0;
  std::int32_t FrameNumber = -1;
  std::int32_t FPS = -1;
  float Quality = -1;
  float BitRate = -1;
  std::int64_t CurrentSize = 0;
  std::int64_t CurrentDuration = 0;
  std::int64_t TotalDuration = -1;
};
using PProgressInfo = TProgressInfo*;

struct TTerminateInfo {
  std::int32_t TaskIndex = 0;
  bool Finished = false;
  bool Exception = false;
  std::string ExceptionMsg;
};

struct THookInfo {
  std::int32_t TaskIndex = 0;
  lumivor::Bitmap* Bitmap = nullptr;
  std::int32_t FrameNumber = 0;
  std::int64_t PTS = 0;
  bool Update = true;
  bool StopHook = false;
};
using PHookInfo = THookInfo*;

struct TFrameHookInfo {
  std::int32_t TaskIndex = 0;
  std::int32_t FrameNumber = 0;
  PicturePlanes* Picture = nullptr;
  std::int32_t PixFmt = 0;
  std::int32_t Width = 0;
  std::int32_t Height = 0;
  std::int64_t PTS = 0;
};
using PFrameHookInfo = TFrameHookInfo*;

struct TPreviewInfo {
  std::int32_t TaskIndex = 0;
  lumivor::Bitmap* Bitmap = nullptr;
  std::int32_t FrameNumber = 0;
  std::int64_t PTS = 0;
};

// ------------------------------------------------------------------ callbacks

// The engine passes itself as sender. The component above connects them (and moves them to the
// main thread when asked); every one runs on the worker thread here.
using TAudioHookEvent = std::function<void(TCustomFFmpeg* sender, std::uint8_t* sample, std::int64_t pts,
                                           std::int32_t size, std::int32_t sampleRate, std::int32_t channels,
                                           std::int32_t sampleFormat)>;
using TVideoHookEvent = std::function<void(TCustomFFmpeg* sender, Bitmap* bitmap, std::int32_t frameNumber,
                                           std::int64_t pts, bool& update, bool& stopHook)>;
using TFrameHookEvent = std::function<void(TCustomFFmpeg* sender, PicturePlanes* picture, std::int32_t pixFmt,
                                           std::int32_t frameNumber, std::int32_t width, std::int32_t height,
                                           std::int64_t pts)>;
using TPreviewBitmapEvent =
    std::function<void(TCustomFFmpeg* sender, Bitmap* bitmap, std::int32_t frameNumber, std::int64_t pts)>;
// fileIndex, then the TProgressInfo values from FrameNumber on (TaskIndex is the component's).
using TProgressEvent = std::function<void(TCustomFFmpeg* sender, std::int32_t fileIndex, const TProgressInfo& info)>;
using TTerminateEvent = std::function<void(TCustomFFmpeg* sender)>;

// The preview window as the engine sees it; the components provide the real one (a window on the
// main thread) through TCustomFFmpeg::PreviewWindowFactory.
class PreviewWindowSink {
 public:
  virtual ~PreviewWindowSink() = default;
  // 1 while the window is wanted, 0 once the user has closed it.
  virtual int ShowPicture(Bitmap& picture, std::int32_t pictureNumber, std::int64_t pictureTime) = 0;
};
using PreviewWindowMaker = std::function<std::unique_ptr<PreviewWindowSink>()>;

constexpr std::uint8_t kPreviewWindowFlag = 1;
constexpr std::uint8_t kPreviewBitmapFlag = 2;

// The worker thread of a task running in the background. Created suspended; Resume starts it.
// It signals the engine's RunDoneEvent when it ends, whatever happens.
class TConvertThread;
// Delivers the end notification of a task that has no worker (stopped before it ran).
class TDoTerminateThread;

// ------------------------------------------------------------------ the engine

class TCustomFFmpeg : public TCustomFFmpegOpt {
 public:
  TCustomFFmpeg();
  ~TCustomFFmpeg() override;

  // ================================================================ transcode setup
  int TranscodeInit();
  // Frees everything the task holds; harmless twice.
  void Cleanup();
  // Closes every codec still in the process-wide opened lists that belongs to this engine.
  void CloseOpenedEncoders();
  void CloseOpenedDecoders();
  // This engine's entries in the process-wide opened-codec lists.
  int OpenedEncoderCount() const;
  int OpenedDecoderCount() const;

  // ================================================================ the loop
  void Transcode();
  bool NeedOutput();
  TOutputStream* ChooseOutput();
  int TranscodeStep();
  int ProcessInput(int fileIndex);
  int DecodePacket(TInputStream& ist, const AVPacket* packet);

  // ================================================================ the output side
  int ReapFilters();
  void VideoOut(TOutputFile& of, TOutputStream& ost, AVFrame* frame);
  void AudioOut(TOutputFile& of, TOutputStream& ost, AVFrame* frame);
  void SubtitleOut(TOutputFile& of, TOutputStream& ost, TInputStream& ist, AVSubtitle* subtitle);
  void StreamCopy(TInputStream& ist, TOutputStream& ost, const AVPacket* packet);
  void WriteFrame(AVFormatContext* s, AVPacket* packet, TOutputStream& ost);
  void CloseOutputStream(TOutputStream& ost);
  bool CheckRecordingTime(TOutputStream& ost);
  void FlushEncoders();
  void StatusReport(int inputIndex, bool final, std::int64_t now, std::int64_t start);
  // How long the outputs will be (µs) as far as the inputs and the length options tell, -1 when
  // nothing tells: what the progress share is measured against.
  std::int64_t PlannedOutputLength();
  // The status line of the last report, as logged (without the progress keys).
  const std::string& LastStatusLine() const { return LastStatusLine_; }

  // ================================================================ run control
  // Start: refused (null) while running or once terminated; a task without outputs or inputs
  // reports its end at once. inThread false runs the task in the caller's thread (null result).
  TConvertThread* Start(bool inThread, int priority = 0);
  void Stop(bool wait);
  void RequestStop(bool wait);
  void Pause();
  void Resume();
  // The worker's body.
  void Run();
  void DeliverTerminate();
  void SetPreviewFlags(std::uint8_t flags);
  // Frees the preview window, if any, taking it under the preview lock (the owner may be changing
  // the flags meanwhile).
  void ClosePreviewWindow();
  void SetHookBitsPixel(int bits);
  int AddVideoHook(TOptionsContext* o, const char* key, const char* argument) override;
  int SetVideoHookBitsPixel(TOptionsContext* o, const char* key, const char* argument) override;

  // ================================================================ hooks and preview (worker thread)
  // Input side on the decoded picture (HookConverter), output side on the copy in HookBuffer
  // (PreviewConverter); see engine_hooks.cpp.
  void CallVideoHook(bool outputSide, PicturePlanes& picture, AVPixelFormat format, int width, int height,
                     std::int32_t frameNumber, std::int64_t pts);
  void CallFrameHook(bool outputSide, PicturePlanes& picture, AVPixelFormat format, int width, int height,
                     std::int32_t frameNumber, std::int64_t pts);
  void CallAudioHook(bool outputSide, std::uint8_t* sample, std::int64_t pts, std::int32_t size,
                     std::int32_t sampleRate, std::int32_t channels, std::int32_t sampleFormat);
  // converterHolds: PreviewConverter already holds this picture as its bitmap.
  void Preview(const PicturePlanes& picture, AVPixelFormat format, int width, int height, bool converterHolds,
               std::int64_t pts, std::int32_t frameNumber);
  bool HasInputHooks() const;
  bool HasOutputHooks() const;

  // ---------------------------------------------------------------- setup and loop state
  std::int64_t VideoSize = 0;
  std::int64_t AudioSize = 0;
  std::int64_t SubtitleSize = 0;
  std::int64_t ExtraSize = 0;
  CFilePtr VstatsFile;
  std::vector<std::uint8_t> SubtitleBuffer;
  std::vector<std::uint8_t> PreprocessBuffer;
  std::vector<std::uint8_t> HookBuffer;
  std::int32_t CurrentInput = 0;
  std::int32_t FirstActiveOutput = 0;
  std::int32_t LastActiveOutput = -1;
  HookList HookModules;

  // What the muxer was last given on each of its streams (in the stream's time base). Join groups
  // share the muxer's streams, so this is kept per muxer stream, apart from the output streams'
  // own LastMuxPts/LastMuxDts.
  struct TMuxerClock {
    std::int64_t Pts = AV_NOPTS_VALUE;  // the largest given: reordered pictures come in any order
    std::int64_t Dts = AV_NOPTS_VALUE;  // the last given
    std::int64_t End = AV_NOPTS_VALUE;  // the largest pts plus its packet's duration
  };
  std::map<const AVStream*, TMuxerClock> MuxerClocks;

 private:
  // ---- setup helpers (transcode_setup.cpp)
  int SetupCopiedStream(TOutputStream& ost, TInputStream& ist, std::string& error);
  int SetupEncodedStream(TOutputStream& ost, std::string& error);
  int OpenEncoder(TOutputStream& ost, std::string& error);
  int InitBitstreamFilters(TOutputStream& ost);
  void CloseEncoder(TOutputStream& ost);
  void RegisterOpenedEncoder(TOutputStream& ost);
  void CloseDecoder(TInputStream& ist);
  void LogStreamMapping();
  void FreeStreamSetup();
  // The steps of TranscodeInit, in its order. Those answering int give 0 or a negative code;
  // a text put in error is logged by TranscodeInit after the stream report.
  void StartRateEmulation();
  int CheckOutputsHaveStreams();
  int ConfigureComplexGraphs();
  void SetupJoinGroupStream(TOutputStream& ost);
  int OpenEncoders(int setupCount, std::string& error);
  int OpenDecoder(TInputStream& ist, std::string& error);
  // Also closes the opened encoders again when a decoder fails.
  int OpenDecoders(int setupCount, std::string& error);
  void DiscardUnusedPrograms();
  // allRtp turns false at the first header written for another muxer.
  int WriteOutputHeaders(std::string& error, bool& allRtp);
  void LogOutputLayout();
  void LogSessionDescription();
  // ---- loop helpers (transcode_loop.cpp)
  void SetActiveRange();
  void ResetUnavailable();
  void DrainInputStream(TInputStream& ist);
  // Fatal with "-xerror", else logged.
  void ReportDecodeError(const TInputStream& ist, int code);
  // The parts of ProcessInput, in its order.
  int ReadInputPacket(TInputFile& file, AVPacket* packet);
  // The read failed or the input ended: drain its decoders, or switch to the next joined input.
  int EndInput(int fileIndex, int readResult);
  bool PacketOfKnownStream(TInputFile& file, int fileIndex, const AVPacket& packet);
  void LogDemuxedPacket(const TInputFile& file, const TInputStream& ist, const AVPacket& packet);
  void CorrectTimestampWrap(TInputFile& file, TInputStream& ist, AVPacket* packet);
  void ApplyInputOffsetAndScale(const TInputFile& file, const TInputStream& ist, AVPacket* packet);
  void CheckTimestampJump(TInputFile& file, const TInputStream& ist, AVPacket* packet);
  void LogAdjustedPacket(const TInputFile& file, const TInputStream& ist, const AVPacket& packet);
  void JoinSwitch(int inputIndex);
  // One frame out of the stream's decoder: 1 with a frame, 0 when it wants more input or has
  // ended (the end passed on to the filters while draining), negative on a decoding error.
  int ReceiveDecodedFrame(TInputStream& ist, const AVPacket* packet, AVFrame* frame, int& frames);
  int DecodeAudio(TInputStream& ist, const AVPacket* packet, bool& gotOutput);
  int DecodeVideo(TInputStream& ist, const AVPacket* packet, bool& gotOutput);
  int DecodeSubtitle(TInputStream& ist, const AVPacket* packet, bool& gotOutput);
  void PushFrameToFilters(TInputStream& ist, AVFrame* frame);
  void SendEndOfStreamToFilters(TInputStream& ist);
  // Bitmap subtitles shown as pictures: the canvas redrawn from a subtitle (or cleared with
  // none), sent to the stream's filter inputs, and kept alive while pictures wait for it.
  void Sub2VideoUpdate(TInputStream& ist, const AVSubtitle* subtitle);
  void Sub2VideoPush(TInputStream& ist, std::int64_t pts);
  void Sub2VideoHeartbeat(const TInputFile& file, const AVPacket& packet, AVRational timeBase);
  void ReconfigureFilters(TInputStream& ist);
  void PreprocessVideoFrame(TInputStream& ist, AVFrame* frame);
  void RateEmulationSleep(TInputStream& ist);
  bool CheckOutputConstraints(const TInputStream& ist, const TOutputStream& ost) const;
  // ---- output helpers (encode_output.cpp)
  TOutputFile& FileOf(const TOutputStream& ost);
  // The stream whose encoder serves this one: itself, or in join mode its place in group 0.
  TOutputStream& EncoderOwner(TOutputStream& ost);
  AVCodecContext* EncoderOf(TOutputStream& ost);
  AVFormatContext* MuxerOf(const TOutputStream& ost);
  // Sends the frame (null: drains) and writes every packet that comes out; the packets' total
  // size, or a negative library code from sending.
  int EncodeFrame(TOutputStream& ost, AVFrame* frame, bool& anyPacket, int& lastPacketSize);
  void WriteEncodedPacket(TOutputStream& ost, AVPacket* packet);
  void WriteThroughBitstreamFilters(AVFormatContext* s, AVPacket* packet, TOutputStream& ost, std::size_t first);
  void WriteVideoStats(TOutputStream& ost, int frameSize);
  bool ForceKeyFrame(TOutputStream& ost, AVFrame* frame);
  // The parts of VideoOut.
  int VideoSyncMethodFor(const AVFormatContext* oc) const;
  // How many times the frame goes out (0: dropped); moves the stream's sync clock where the
  // method follows the frames' own times.
  std::int64_t VideoFrameCopies(TOutputStream& ost, const AVFrame* frame, int method, double duration);
  // False when the frame is dropped.
  bool CountDropsAndDuplicates(std::int64_t frames);
  void SetPictureFields(TOutputStream& owner, AVCodecContext* enc, AVFrame* picture);
  void CallOutputPictureHooks(TOutputStream& ost, AVFrame*& frame, FramePtr& hookCopy, bool& previewHolds);
  // ---- the parts of StatusReport, in its order (status_report.cpp)
  struct StatusValues;
  // False when nothing wants a report or the interval has not passed yet.
  bool StatusReportDue(bool final, std::int64_t now);
  // The first output's size so far, -1 when it has none.
  std::int64_t ReportedOutputSize();
  void ReportedStreamRange(int inputIndex, int& first, int& last);
  void AddStreamStatus(StatusValues& values, TOutputStream& ost, bool final, std::int64_t now, std::int64_t start);
  void AddFirstVideoStatus(StatusValues& values, const TOutputStream& ost, const TOutputStream& owner, float q,
                           bool coded, bool final, std::int64_t now, std::int64_t start);
  void AddPsnrStatus(StatusValues& values, const TOutputStream& ost, const AVCodecContext& enc, bool final);
  void AddMuxedTime(StatusValues& values, const TOutputStream& ost, bool final);
  void AddSizeTimeAndRate(StatusValues& values);
  void AddDupDropStatus(StatusValues& values, bool final);
  void CallProgressEvent(const StatusValues& values, int inputIndex, bool final);
  void WriteProgressKeys(std::string& progress, bool final);
  void LogFinalSizes(std::int64_t totalSize);
  std::string LastStatusLine_;
  std::int64_t TranscodeStartTime_ = 0;
  std::int32_t PictureType_ = 0;  // of the last encoded video packet, for the statistics line
  std::uint64_t LastPictureErrors_[4] = {};  // its squared errors per plane, when the encoder reports them

 public:

  // ---------------------------------------------------------------- output side state
  std::int32_t DupCount = 0;
  std::int32_t DropCount = 0;
  std::uint8_t DupDropChanged = 0;
  std::int64_t LastReportTime = -1;
  std::int64_t ProgressInterval = 500000;
  std::int32_t QpHistogram[52] = {};

  // ---------------------------------------------------------------- run control state
  std::atomic<bool> Running{false};
  std::atomic<bool> Terminated{false};
  std::atomic<bool> Finished{false};
  bool Exception = false;
  std::string ExceptionMsg;
  // Written by the owner's thread while the worker reads it between pictures: atomic, so that
  // the worker's "any preview wanted?" test needs no lock. Changes are made under the preview
  // lock, together with PreviewFlagsChanged and the window they decide about.
  std::atomic<std::uint8_t> PreviewFlags{0};
  bool PreviewFlagsChanged = false;  // guarded by the preview lock
  std::int64_t PreviewInterval = 100000;
  std::int64_t LastPreviewTime = 0;
  TFormatConverter HookConverter;
  TFormatConverter PreviewConverter;
  std::unique_ptr<PreviewWindowSink> PreviewWindow;
  PreviewWindowMaker PreviewWindowFactory;

  // ---------------------------------------------------------------- callbacks
  TAudioHookEvent OnAudioInputHook;
  TAudioHookEvent OnAudioOutputHook;
  TVideoHookEvent OnVideoInputHook;
  TVideoHookEvent OnVideoOutputHook;
  TFrameHookEvent OnFrameInputHook;
  TFrameHookEvent OnFrameOutputHook;
  TPreviewBitmapEvent OnPreviewBitmap;
  TProgressEvent OnProgress;
  TTerminateEvent OnTerminate;

  // ================================================================ run control internals
  // (owned by run_control.cpp; fields may be added below this line)

  // A manual-reset event: once set it stays set, waking every waiter, until reset.
  class RunEvent {
   public:
    void Set();
    void Reset();
    bool IsSet() const;
    // True when the event is set within the time.
    bool WaitFor(std::chrono::milliseconds timeout) const;

   private:
    mutable std::mutex mutex_;
    mutable std::condition_variable set_;
    bool signalled_ = true;
  };

  // Unset from the moment Start creates the worker until the worker's run has ended.
  RunEvent RunDoneEvent;
  // Unset from the moment a TDoTerminateThread is created until it has delivered the end.
  RunEvent TerminateDoneEvent;
  // The worker while a task runs in the background; none once the end has been delivered.
  std::atomic<TConvertThread*> ConvertThread{nullptr};
  // Set by an output video hook: PreviewConverter's bitmap shows the picture about to be
  // encoded (the hook's changes were written back), so the preview need not convert it again.
  bool PreviewConverterHoldsPicture = false;

 private:
  friend class TConvertThread;
  friend class TDoTerminateThread;
  // Serialises the decisions of Start, Stop and the end notification, so that a stop racing the
  // worker's own end cannot produce a second notification.
  std::mutex runStateMutex_;
  bool terminateDelivered_ = false;
  bool terminateThreadPending_ = false;
  // The threads are joined by the destructor: a detached thread could still be unwinding while
  // the engine it ran is freed.
  std::unique_ptr<TConvertThread> ownedConvertThread_;
  std::unique_ptr<TDoTerminateThread> terminateThread_;
};

class TConvertThread {
 public:
  TConvertThread(TCustomFFmpeg& engine, int priority);
  // Joins the thread (the engine frees it once the run has ended).
  ~TConvertThread();
  TConvertThread(const TConvertThread&) = delete;
  TConvertThread& operator=(const TConvertThread&) = delete;

  // Starts the thread, created suspended; later calls do nothing.
  void Resume();
  bool Started() const;

 private:
  void Execute();

  TCustomFFmpeg& engine_;
  const int priority_;
  mutable std::mutex mutex_;
  bool started_ = false;
  std::thread thread_;
};

}  // namespace lumivor
