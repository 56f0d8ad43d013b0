// The encoder component: the application's way to the transcoding engine. It keeps a list of
// tasks, each one engine instance with its inputs and its output built from option text, runs
// them one after another in worker threads or in the caller's thread, pauses, resumes and stops
// them, and turns the engine's callbacks into its own events, moved to the main thread when
// TriggerEventInMainThread says so.
//
// Threads: the progress, preview-bitmap, before-find-stream-info and terminate events run on the
// main thread (when TriggerEventInMainThread is set) while the worker waits; the hook events run
// on the worker, always. Every wait of the main thread inside this component serves the main
// thread's queued calls, so a worker waiting for one of these events never deadlocks it.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "media/components/ff_base_component.h"
#include "media/components/ff_decoder.h"
#include "media/components/previewer.h"
#include "media/engine/ffmpeg.h"

namespace lumivor {

class TCustomEncoder;

// Raised by a building or starting operation while the component works: the application must
// wait for the run to end and clear the tasks first.
class EEncoderWorking : public std::runtime_error {
 public:
  explicit EEncoderWorking(const std::string& operation);
};

struct TInputOptions {
  std::string FileName;  // the operation's file name when left empty
  std::string Options;   // option text for this input
  std::string Presets;   // name=value lines, applied after the options
};

struct TOutputOptions {
  std::string FileName;
  std::string Options;
  std::string Presets;
  bool AudioInputHook = false;
  bool AudioOutputHook = false;
  bool VideoInputHook = false;
  bool VideoOutputHook = false;
  int VideoHookBitsPixel = 32;
  bool FrameInputHook = false;
  bool FrameOutputHook = false;
  bool Join = false;
};

void InitInputOptions(TInputOptions& options);
void InitOutputOptions(TOutputOptions& options);

// The output option text as the engine is handed it: the hook and join words in their canonical
// spelling whatever letter case the caller wrote them in, and no blanks at either end.
std::string CanonicalOutputOptionText(const std::string& text);

enum TThreadPriority : int { tpIdle, tpLowest, tpLower, tpNormal, tpHigher, tpHighest, tpTimeCritical };

// One task: an engine instance owned by its encoder component, with a file inspector per input
// and a copy of the records each input and output was made from.
class TFFmpeg : public TCustomFFmpeg {
 public:
  explicit TFFmpeg(TCustomEncoder* owner);
  ~TFFmpeg() override;

  // The inspector of input index, made on first use.
  TFFDecoder& InputInspector(int index);
  // Forgets the opened inputs the inspectors describe; the engine frees them when a run ends.
  void DetachInspectors();
  // Cuts every callback to the component.
  void DisconnectCallbacks();

  TCustomEncoder* const OwnerEncoder;
  std::vector<std::unique_ptr<TFFDecoder>> InputInspectors;
  std::vector<TInputOptions> InputOptionsList;
  std::vector<TOutputOptions> OutputOptionsList;
};

// The tasks of one component, in index order; it owns them.
class TFFmpegList {
 public:
  int Add(std::unique_ptr<TFFmpeg> task);
  void Clear();
  // Takes every task out of the list, so that they can be freed outside a lock.
  std::vector<std::unique_ptr<TFFmpeg>> TakeAll();
  void Delete(int index);
  TFFmpeg* Items(int index) const;
  int IndexOf(const TCustomFFmpeg* task) const;
  int Count() const { return static_cast<int>(tasks_.size()); }
  void PauseAll();
  void ResumeAll();
  void StopAll(bool wait);
  void SetPreviewFlags(std::uint8_t flags);

 private:
  std::vector<std::unique_ptr<TFFmpeg>> tasks_;
};

class TCustomEncoder : public TFFBaseComponent {
 public:
  using TAudioHookEvent =
      std::function<void(TCustomEncoder* Sender, int ATaskIndex, std::int64_t APTS, std::uint8_t* ASample, int ASize,
                         int ASampleRate, int AChannels, AVSampleFormat ASampleFormat)>;
  using TVideoHookEvent = std::function<void(TCustomEncoder* Sender, PHookInfo AHookInfo)>;
  using TFrameHookEvent = std::function<void(TCustomEncoder* Sender, PFrameHookInfo AHookInfo)>;
  using TPreviewBitmapEvent = std::function<void(TCustomEncoder* Sender, const TPreviewInfo& APreviewInfo)>;
  using TProgressEvent = std::function<void(TCustomEncoder* Sender, PProgressInfo AProgressInfo)>;
  using TTerminateEvent = std::function<void(TCustomEncoder* Sender, const TTerminateInfo& ATerminateInfo)>;
  // The sender is the task that opened the input, not the component.
  using TBeforeFindStreamInfoEvent = std::function<void(TFFmpeg* Sender, AVFormatContext* AFormatContext)>;

  TCustomEncoder();
  // Stops a run that still works and returns only when every thread it started has ended.
  ~TCustomEncoder() override;
  TCustomEncoder(const TCustomEncoder&) = delete;
  TCustomEncoder& operator=(const TCustomEncoder&) = delete;

  // ---- properties
  bool Preview() const { return preview_; }
  void SetPreview(bool on);
  bool PreviewBitmap() const { return previewBitmap_; }
  void SetPreviewBitmap(bool on);
  int ProgressInterval() const { return progressInterval_; }
  // Milliseconds; 100 or less is stored as 100.
  void SetProgressInterval(int milliseconds);
  TThreadPriority ThreadPriority = tpNormal;
  bool TriggerEventInMainThread = true;
  // Makes the window each task's preview is shown in; read when a run starts. None (the
  // default) means no window: such a run converts no preview pictures for it.
  PreviewerFormFactory PreviewFormFactory;

  // ---- events
  TAudioHookEvent OnAudioInputHook;
  TAudioHookEvent OnAudioOutputHook;
  TVideoHookEvent OnVideoInputHook;
  TVideoHookEvent OnVideoOutputHook;
  TFrameHookEvent OnFrameInputHook;
  TFrameHookEvent OnFrameOutputHook;
  TPreviewBitmapEvent OnPreviewBitmap;
  TProgressEvent OnProgress;
  TTerminateEvent OnTerminate;
  TBeforeFindStreamInfoEvent OnBeforeFindStreamInfo;

  // ---- operations: negative results (false) keep their reason in LastErrorText
  bool LibrariesLoaded() const;
  bool LoadLibraries(const std::string& folder);
  // The index of the new task.
  int AddTask(const std::string& fileName, const TInputOptions* options = nullptr);
  int AddInput(int taskIndex, const std::string& fileName, const TInputOptions* options = nullptr);
  int SetOutput(int taskIndex, const std::string& fileName, const TOutputOptions* options = nullptr);
  void RemoveTask(int taskIndex);
  // Raises EEncoderWorking while a started run of one or more tasks has not finished.
  void ClearTasks();
  // count > 0: at most count tasks at once in worker threads, the rest follow as tasks end;
  // count <= 0: every task in the caller's thread before StartTask returns.
  void StartTask(int count);
  void Pause();
  void Resume();
  // Lets no further task start and stops the running ones; their end is still reported. With
  // wait, returns when the running tasks' workers have ended.
  void Stop(bool wait);
  int TaskCount() const;
  // Null for an index that names no task or input.
  TFFDecoder* InputInspector(int taskIndex, int inputIndex);
  // The component's own file inspector, for the application to describe files with.
  TFFDecoder& OwnInspector() { return ownInspector_; }

  std::string LastErrorText;

  // ---- run state, for the application's wait loops
  // From StartTask until ClearTasks.
  bool Working() const { return working_.load(); }
  // Every task of the run has ended and the final notification was raised.
  bool AllFinished() const { return allFinished_.load(); }
  bool Paused() const { return paused_.load(); }

  // Handed to each task: option errors fail the call (false: they are only logged).
  bool StrictOptions = true;

 private:
  class TDoTerminateThread;
  friend class TDoTerminateThread;

  void CheckNotWorking(const char* operation) const;
  TFFmpeg* TaskAt(int taskIndex);
  void ConnectTask(TFFmpeg& task);
  void HandOverSettings(TFFmpeg& task);
  void ConnectOutputHooks(TFFmpeg& task, const TOutputOptions& options);
  int OpenInput(TFFmpeg& task, const std::string& fileName, const TInputOptions* options);
  // The preview switches as given to the tasks: only those with a window factory or a bitmap
  // handler to receive them.
  std::uint8_t PreviewFlags() const;
  int EnginePriority() const;

  // Run control; the decisions are taken under terminateLock_.
  void StartNextTask();
  void TaskTerminated(TCustomFFmpeg* engine);
  void RaiseFinalNotification();
  void DeliverTerminate(const TTerminateInfo& info);
  void StartTerminateThread(const TTerminateInfo& info);
  void ReapTerminateThreads(bool all);

  // ---- bridges from the engine's callbacks
  void BridgeAudioHook(bool outputSide, TCustomFFmpeg* engine, std::uint8_t* sample, std::int64_t pts,
                       std::int32_t size, std::int32_t sampleRate, std::int32_t channels, std::int32_t sampleFormat);
  void BridgeVideoHook(bool outputSide, TCustomFFmpeg* engine, Bitmap* bitmap, std::int32_t frameNumber,
                       std::int64_t pts, bool& update, bool& stopHook);
  void BridgeFrameHook(bool outputSide, TCustomFFmpeg* engine, PicturePlanes* picture, std::int32_t pixFmt,
                       std::int32_t frameNumber, std::int32_t width, std::int32_t height, std::int64_t pts);
  void BridgePreviewBitmap(TCustomFFmpeg* engine, Bitmap* bitmap, std::int32_t frameNumber, std::int64_t pts);
  void BridgeProgress(TCustomFFmpeg* engine, std::int32_t fileIndex, const TProgressInfo& info);
  void BridgeBeforeFindStreamInfo(TCustomFFmpegOpt* engine, AVFormatContext* context);
  // Runs the handler on the main thread or directly, as TriggerEventInMainThread says; what it
  // throws is logged, since it would otherwise end a worker's run or its thread.
  void RaiseLoggedEvent(const char* eventName, const std::function<void()>& call);

  TFFmpegList TaskList;
  TFFDecoder ownInspector_;
  bool preview_ = false;
  bool previewBitmap_ = false;
  int progressInterval_ = 500;

  // Guarded by terminateLock_. Recursive: a task whose start is refused reports its end at once,
  // on the thread that is starting it inside the end of the task before.
  std::recursive_mutex terminateLock_;
  int FinishedCount = 0;
  int NextTask = -1;
  int RemainingToStart = 0;
  bool Background = false;
  std::atomic<bool> working_{false};
  std::atomic<bool> allFinished_{false};
  std::atomic<bool> paused_{false};

  // One lock per event kind, so that two tasks never overlap in the same kind of handler.
  std::mutex audioHookLock_;
  std::mutex previewLock_;
  std::mutex progressLock_;
  std::mutex videoHookLock_;
  std::mutex frameHookLock_;
  std::mutex beforeFindStreamInfoLock_;
  // The one record of each kind the events are raised with.
  TProgressInfo progressInfo_;
  THookInfo hookInfo_;
  TFrameHookInfo frameHookInfo_;
  TPreviewInfo previewInfo_;

  // Terminate notifications that go through threads are delivered strictly in the order they
  // were raised: each thread waits until every notification before it has been delivered.
  std::mutex deliveryLock_;
  std::condition_variable delivered_;
  std::uint64_t terminateTicketsIssued_ = 0;
  std::uint64_t terminateTicketsDelivered_ = 0;
  std::list<std::unique_ptr<TDoTerminateThread>> terminateThreads_;  // guarded by deliveryLock_
};

// The component as the application places it.
class TFFEncoder : public TCustomEncoder {};

}  // namespace lumivor
