#include "media/components/ff_encoder.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <exception>
#include <iterator>
#include <string>
#include <thread>
#include <utility>

#include "media/runtime/ff_load.h"
#include "media/runtime/ff_log.h"
#include "media/runtime/format_text.h"
#include "media/runtime/main_thread.h"

namespace lumivor {
namespace {

// The words that switch hooks and join on; the engine's option table knows only these spellings.
constexpr const char* kCanonicalWords[] = {
    "-AudioInputHook", "-AudioOutputHook", "-VideoInputHook", "-VideoOutputHook",
    "-FrameInputHook", "-FrameOutputHook", "-Join",
};

bool SameIgnoringCase(const std::string& text, std::size_t at, const char* word) {
  for (std::size_t i = 0; word[i] != '\0'; ++i) {
    if (at + i >= text.size()) return false;
    if (std::tolower(static_cast<unsigned char>(text[at + i])) != std::tolower(static_cast<unsigned char>(word[i])))
      return false;
  }
  return true;
}

// Blanks and control characters, as a text's ends are trimmed of them.
bool IsTrimmed(char c) { return static_cast<unsigned char>(c) <= ' '; }

std::string Trim(const std::string& text) {
  std::size_t first = 0;
  std::size_t last = text.size();
  while (first < last && IsTrimmed(text[first])) ++first;
  while (last > first && IsTrimmed(text[last - 1])) --last;
  return text.substr(first, last - first);
}

// Niceness for the engine's worker: 0 is normal, positive is kinder to the rest of the machine.
constexpr int kNiceness[] = {19, 10, 5, 0, -5, -10, -20};

// Waits until done() holds; on the main thread the wait keeps serving queued calls, since what is
// waited for may itself be waiting for the main thread.
void WaitUntil(const std::function<bool()>& done) {
  if (IsMainThread()) {
    WaitServing(done);
    return;
  }
  while (!done()) std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

}  // namespace

EEncoderWorking::EEncoderWorking(const std::string& operation)
    : std::runtime_error(FormatText("Cannot %s while working.", operation.c_str())) {}

void InitInputOptions(TInputOptions& options) { options = TInputOptions(); }

void InitOutputOptions(TOutputOptions& options) { options = TOutputOptions(); }

std::string CanonicalOutputOptionText(const std::string& text) {
  // A word counts only with a blank on either side; the text is padded so that its first and last
  // words have one. The blanks are not consumed, so the same word twice in a row is found twice.
  std::string padded = " " + text + " ";
  for (const char* word : kCanonicalWords) {
    const std::size_t length = std::char_traits<char>::length(word);
    for (std::size_t at = 1; at + length < padded.size(); ++at) {
      if (padded[at - 1] == ' ' && padded[at + length] == ' ' && SameIgnoringCase(padded, at, word)) {
        padded.replace(at, length, word);
      }
    }
  }
  return Trim(padded);
}

// ------------------------------------------------------------------ a task

TFFmpeg::TFFmpeg(TCustomEncoder* owner) : OwnerEncoder(owner) {}

TFFmpeg::~TFFmpeg() {
  // A worker still running would call into the component through the callbacks cut below, while
  // they are being cut: it is stopped first, and a pending end notification delivered.
  RequestStop(true);
  WaitUntil([this] { return TerminateDoneEvent.IsSet(); });
  DisconnectCallbacks();
  InputInspectors.clear();
  InputOptionsList.clear();
  OutputOptionsList.clear();
}

TFFDecoder& TFFmpeg::InputInspector(int index) {
  if (static_cast<int>(InputInspectors.size()) <= index) InputInspectors.resize(static_cast<std::size_t>(index) + 1);
  auto& inspector = InputInspectors[static_cast<std::size_t>(index)];
  if (!inspector) inspector = std::make_unique<TFFDecoder>();
  return *inspector;
}

void TFFmpeg::DetachInspectors() {
  for (auto& inspector : InputInspectors) {
    if (inspector) inspector->CloseFile();
  }
}

void TFFmpeg::DisconnectCallbacks() {
  OnAudioInputHook = nullptr;
  OnAudioOutputHook = nullptr;
  OnVideoInputHook = nullptr;
  OnVideoOutputHook = nullptr;
  OnFrameInputHook = nullptr;
  OnFrameOutputHook = nullptr;
  OnPreviewBitmap = nullptr;
  OnProgress = nullptr;
  OnTerminate = nullptr;
  OnBeforeFindStreamInfo = nullptr;
  PreviewWindowFactory = nullptr;
}

// ------------------------------------------------------------------ the task list

int TFFmpegList::Add(std::unique_ptr<TFFmpeg> task) {
  tasks_.push_back(std::move(task));
  return Count() - 1;
}

void TFFmpegList::Clear() { TakeAll().clear(); }

std::vector<std::unique_ptr<TFFmpeg>> TFFmpegList::TakeAll() { return std::exchange(tasks_, {}); }

void TFFmpegList::Delete(int index) {
  if (index < 0 || index >= Count()) return;
  std::unique_ptr<TFFmpeg> task = std::move(tasks_[static_cast<std::size_t>(index)]);
  tasks_.erase(tasks_.begin() + index);
}

TFFmpeg* TFFmpegList::Items(int index) const {
  if (index < 0 || index >= Count()) return nullptr;
  return tasks_[static_cast<std::size_t>(index)].get();
}

int TFFmpegList::IndexOf(const TCustomFFmpeg* task) const {
  for (std::size_t i = 0; i < tasks_.size(); ++i) {
    if (tasks_[i].get() == task) return static_cast<int>(i);
  }
  return -1;
}

void TFFmpegList::PauseAll() {
  for (auto& task : tasks_) task->Pause();
}

void TFFmpegList::ResumeAll() {
  for (auto& task : tasks_) task->Resume();
}

void TFFmpegList::StopAll(bool wait) {
  for (auto& task : tasks_) task->Stop(wait);
}

void TFFmpegList::SetPreviewFlags(std::uint8_t flags) {
  for (auto& task : tasks_) task->SetPreviewFlags(flags);
}

// ------------------------------------------------------------------ terminate delivery thread

class TCustomEncoder::TDoTerminateThread {
 public:
  TDoTerminateThread(TCustomEncoder& owner, TTerminateEvent handler, TTerminateInfo info, std::uint64_t ticket,
                     bool inMainThread)
      : owner_(owner),
        handler_(std::move(handler)),
        info_(std::move(info)),
        ticket_(ticket),
        inMainThread_(inMainThread),
        thread_([this] { Execute(); }) {}
  ~TDoTerminateThread() {
    if (thread_.joinable()) thread_.join();
  }
  TDoTerminateThread(const TDoTerminateThread&) = delete;
  TDoTerminateThread& operator=(const TDoTerminateThread&) = delete;

  bool Done() const { return done_.load(); }

 private:
  void Execute() {
    {
      std::unique_lock<std::mutex> lock(owner_.deliveryLock_);
      owner_.delivered_.wait(lock, [this] { return owner_.terminateTicketsDelivered_ == ticket_; });
    }
    try {
      RaiseComponentEvent(inMainThread_, [this] { handler_(&owner_, info_); });
    } catch (const std::exception& e) {
      DefaultLogger().LogFmt(&owner_, llError, "OnTerminate handler failed: %s", e.what());
    } catch (...) {
      DefaultLogger().Log(&owner_, llError, "OnTerminate handler failed");
    }
    {
      std::lock_guard<std::mutex> lock(owner_.deliveryLock_);
      ++owner_.terminateTicketsDelivered_;
      done_ = true;
      owner_.delivered_.notify_all();
    }
    // A main thread waiting for the delivery looks again now rather than at its next poll.
    WakeMainThread();
  }

  TCustomEncoder& owner_;
  const TTerminateEvent handler_;
  const TTerminateInfo info_;
  const std::uint64_t ticket_;
  const bool inMainThread_;
  std::atomic<bool> done_{false};
  std::thread thread_;  // last: it starts running once everything above is set
};

// ------------------------------------------------------------------ the component

TCustomEncoder::TCustomEncoder() = default;

TCustomEncoder::~TCustomEncoder() {
  try {
    if (Working()) Stop(true);
    // Every end notification still on its way is delivered before anything of ours goes.
    ReapTerminateThreads(true);
    TaskList.TakeAll().clear();
    ReapTerminateThreads(true);
  } catch (const std::exception& e) {
    DefaultLogger().Log(this, llError, e.what());
  }
}

void TCustomEncoder::SetPreview(bool on) {
  preview_ = on;
  TaskList.SetPreviewFlags(PreviewFlags());
}

void TCustomEncoder::SetPreviewBitmap(bool on) {
  previewBitmap_ = on;
  TaskList.SetPreviewFlags(PreviewFlags());
}

void TCustomEncoder::SetProgressInterval(int milliseconds) { progressInterval_ = std::max(milliseconds, 100); }

std::uint8_t TCustomEncoder::PreviewFlags() const {
  // A preview nobody receives is not asked for: each picture of one costs a conversion, and
  // its hand-over to the main thread holds the worker up.
  const bool window = preview_ && PreviewFormFactory;
  const bool bitmap = previewBitmap_ && OnPreviewBitmap;
  return static_cast<std::uint8_t>((window ? kPreviewWindowFlag : 0) | (bitmap ? kPreviewBitmapFlag : 0));
}

int TCustomEncoder::EnginePriority() const {
  const int index = std::clamp(static_cast<int>(ThreadPriority), 0, static_cast<int>(std::size(kNiceness)) - 1);
  return kNiceness[index];
}

bool TCustomEncoder::LibrariesLoaded() const { return TFFLoader::Instance().AllLoaded(EncoderLibraries); }

bool TCustomEncoder::LoadLibraries(const std::string& folder) {
  TFFLoader& loader = TFFLoader::Instance();
  loader.SetLibraryPath(folder);
  if (loader.Load(EncoderLibraries)) return true;
  LastErrorText = loader.LastError();
  return false;
}

void TCustomEncoder::CheckNotWorking(const char* operation) const {
  if (Working()) throw EEncoderWorking(operation);
}

TFFmpeg* TCustomEncoder::TaskAt(int taskIndex) {
  TFFmpeg* task = TaskList.Items(taskIndex);
  if (task == nullptr) LastErrorText = FormatText("Invalid task index: %d", taskIndex);
  return task;
}

int TCustomEncoder::TaskCount() const { return TaskList.Count(); }

TFFDecoder* TCustomEncoder::InputInspector(int taskIndex, int inputIndex) {
  TFFmpeg* task = TaskList.Items(taskIndex);
  if (task == nullptr || inputIndex < 0 || inputIndex >= task->InputFileCount()) return nullptr;
  return &task->InputInspector(inputIndex);
}

// ------------------------------------------------------------------ building tasks

void TCustomEncoder::ConnectTask(TFFmpeg& task) {
  task.OnBeforeFindStreamInfo = [this](TCustomFFmpegOpt* engine, AVFormatContext* context) {
    BridgeBeforeFindStreamInfo(engine, context);
  };
  task.OnPreviewBitmap = [this](TCustomFFmpeg* engine, Bitmap* bitmap, std::int32_t frameNumber, std::int64_t pts) {
    BridgePreviewBitmap(engine, bitmap, frameNumber, pts);
  };
  task.SetPreviewFlags(PreviewFlags());
}

void TCustomEncoder::HandOverSettings(TFFmpeg& task) {
  task.LastErrMsg.clear();
  task.StrictOptions = StrictOptions ? 1 : 0;
  task.ReadTimeout = ReadTimeout;
  task.WriteTimeout = WriteTimeout;
}

int TCustomEncoder::OpenInput(TFFmpeg& task, const std::string& fileName, const TInputOptions* options) {
  TInputOptions copy;
  if (options != nullptr) {
    copy = *options;
    if (copy.FileName.empty()) copy.FileName = fileName;
  }
  const int index = task.InputFileCount();
  task.InputOptionsList.resize(static_cast<std::size_t>(index));
  task.InputOptionsList.push_back(copy);

  int result;
  {
    OptionsContextScope scope(task);
    result = task.OpenInputFile(scope.Context(), copy.Options, fileName, copy.Presets);
  }
  if (result < 0) {
    task.InputOptionsList.resize(static_cast<std::size_t>(index));
    LastErrorText = task.LastErrMsg;
    return result;
  }
  task.InputInspector(index).AttachContext(task.InputFiles[static_cast<std::size_t>(index)]->Context.get());
  return result;
}

int TCustomEncoder::AddTask(const std::string& fileName, const TInputOptions* options) {
  CheckNotWorking("AddTask");
  // The libraries are loaded on demand, from the folder the loader was last given.
  if (!LibrariesLoaded() && !LoadLibraries(TFFLoader::Instance().LibraryPath())) return -1;
  try {
    auto task = std::make_unique<TFFmpeg>(this);
    ConnectTask(*task);
    HandOverSettings(*task);
    const int result = OpenInput(*task, fileName, options);
    if (result < 0) return result;
    task->OnProgress = [this](TCustomFFmpeg* engine, std::int32_t fileIndex, const TProgressInfo& info) {
      BridgeProgress(engine, fileIndex, info);
    };
    task->OnTerminate = [this](TCustomFFmpeg* engine) { TaskTerminated(engine); };
    return TaskList.Add(std::move(task));
  } catch (const std::exception& e) {
    LastErrorText = e.what();
    return -1;
  }
}

int TCustomEncoder::AddInput(int taskIndex, const std::string& fileName, const TInputOptions* options) {
  CheckNotWorking("AddInput");
  TFFmpeg* task = TaskAt(taskIndex);
  if (task == nullptr) return -1;
  try {
    HandOverSettings(*task);
    return OpenInput(*task, fileName, options);
  } catch (const std::exception& e) {
    task->InputOptionsList.resize(static_cast<std::size_t>(task->InputFileCount()));
    LastErrorText = e.what();
    return -1;
  }
}

void TCustomEncoder::ConnectOutputHooks(TFFmpeg& task, const TOutputOptions& options) {
  // One bridge per kind of hook; the input and output sides differ only in the event they raise.
  const auto audioBridge = [this](bool outputSide) {
    return [this, outputSide](TCustomFFmpeg* engine, std::uint8_t* sample, std::int64_t pts, std::int32_t size,
                              std::int32_t rate, std::int32_t channels, std::int32_t format) {
      BridgeAudioHook(outputSide, engine, sample, pts, size, rate, channels, format);
    };
  };
  const auto videoBridge = [this](bool outputSide) {
    return [this, outputSide](TCustomFFmpeg* engine, Bitmap* bitmap, std::int32_t frameNumber, std::int64_t pts,
                              bool& update, bool& stopHook) {
      BridgeVideoHook(outputSide, engine, bitmap, frameNumber, pts, update, stopHook);
    };
  };
  const auto frameBridge = [this](bool outputSide) {
    return [this, outputSide](TCustomFFmpeg* engine, PicturePlanes* picture, std::int32_t pixFmt,
                              std::int32_t frameNumber, std::int32_t width, std::int32_t height, std::int64_t pts) {
      BridgeFrameHook(outputSide, engine, picture, pixFmt, frameNumber, width, height, pts);
    };
  };
  if (options.AudioInputHook) task.OnAudioInputHook = audioBridge(false);
  if (options.AudioOutputHook) task.OnAudioOutputHook = audioBridge(true);
  if (options.VideoInputHook) task.OnVideoInputHook = videoBridge(false);
  if (options.VideoOutputHook) task.OnVideoOutputHook = videoBridge(true);
  if (options.FrameInputHook) task.OnFrameInputHook = frameBridge(false);
  if (options.FrameOutputHook) task.OnFrameOutputHook = frameBridge(true);
}

int TCustomEncoder::SetOutput(int taskIndex, const std::string& fileName, const TOutputOptions* options) {
  CheckNotWorking("SetOutput");
  TFFmpeg* task = TaskAt(taskIndex);
  if (task == nullptr) return -1;
  const int index = task->OutputFileCount();
  try {
    HandOverSettings(*task);
    TOutputOptions copy;
    if (options != nullptr) {
      copy = *options;
      if (copy.FileName.empty()) copy.FileName = fileName;
      ConnectOutputHooks(*task, copy);
      task->SetHookBitsPixel(copy.VideoHookBitsPixel);
    }
    task->OutputOptionsList.resize(static_cast<std::size_t>(index));
    task->OutputOptionsList.push_back(copy);
    const std::string text = CanonicalOutputOptionText(copy.Options);
    int result;
    {
      OptionsContextScope scope(*task);
      result = task->OpenOutputFile(scope.Context(), text, copy.Join, fileName, copy.Presets);
    }
    if (result < 0) {
      LastErrorText = task->LastErrMsg;
      task->OutputOptionsList.resize(static_cast<std::size_t>(index));
    }
    return result;
  } catch (const std::exception& e) {
    // A fatal error has usually left its own text as the task's too: it is given once.
    const std::string message = e.what();
    const std::string& taskText = task->LastErrMsg;
    LastErrorText = taskText.empty() || taskText == message ? message : taskText + "\n" + message;
    task->OutputOptionsList.resize(static_cast<std::size_t>(index));
    return -1;
  }
}

void TCustomEncoder::RemoveTask(int taskIndex) {
  CheckNotWorking("RemoveTask");
  TaskList.Delete(taskIndex);
}

void TCustomEncoder::ClearTasks() {
  // A run of no tasks never finishes, since nothing ends in it; refusing to clear it would leave
  // the component working for good.
  if (Working() && !AllFinished() && TaskList.Count() > 0) throw EEncoderWorking("ClearTasks");
  std::vector<std::unique_ptr<TFFmpeg>> tasks;
  {
    // The last task's worker may still be inside its end notification, reading the list.
    std::lock_guard<std::recursive_mutex> lock(terminateLock_);
    tasks = TaskList.TakeAll();
    LastErrorText.clear();
    FinishedCount = 0;
    NextTask = -1;
    RemainingToStart = 0;
    working_ = false;
    allFinished_ = false;
    Background = false;
    paused_ = false;
  }
  // Freed outside the lock: freeing waits for each worker's very end.
  tasks.clear();
}

// ------------------------------------------------------------------ running

void TCustomEncoder::StartTask(int count) {
  CheckNotWorking("StartTask");
  {
    std::lock_guard<std::recursive_mutex> lock(terminateLock_);
    FinishedCount = 0;
    NextTask = 0;
    RemainingToStart = TaskList.Count();
    allFinished_ = false;
    Background = count > 0;
    working_ = true;
    paused_ = false;
    for (int i = 0; i < TaskList.Count(); ++i) {
      TFFmpeg& task = *TaskList.Items(i);
      // The engine frees its opened inputs when a run ends, on the worker: the inspectors must
      // not be left describing them.
      task.DetachInspectors();
      if (PreviewFormFactory) {
        task.PreviewWindowFactory = [factory = PreviewFormFactory]() -> std::unique_ptr<PreviewWindowSink> {
          return std::make_unique<TPreviewer>(factory);
        };
      } else {
        task.PreviewWindowFactory = nullptr;
      }
      // The window factory and the bitmap handler may have been set after the preview switches.
      task.SetPreviewFlags(PreviewFlags());
    }
  }
  for (;;) {
    {
      std::lock_guard<std::recursive_mutex> lock(terminateLock_);
      if (RemainingToStart <= 0) break;
    }
    StartNextTask();
    if (Background && --count == 0) break;
  }
}

void TCustomEncoder::StartNextTask() {
  std::unique_lock<std::recursive_mutex> lock(terminateLock_);
  if (RemainingToStart <= 0) return;
  --RemainingToStart;
  TFFmpeg* task = TaskList.Items(NextTask);
  // Counted before the start: a start the engine refuses reports the task's end at once, and that
  // end starts the next task from inside this call.
  ++NextTask;
  if (task == nullptr) return;
  task->ProgressInterval = static_cast<std::int64_t>(progressInterval_) * 1000;
  if (Background) {
    // Under the lock, so that a Stop sees this task either not started or running.
    if (TConvertThread* thread = task->Start(true, EnginePriority())) {
      if (paused_) task->Pause();
      thread->Resume();
    }
    return;
  }
  // A run in this thread may wait for the main thread; no lock may be held meanwhile.
  lock.unlock();
  task->Start(false, EnginePriority());
}

void TCustomEncoder::Pause() {
  if (!Working() || Paused()) return;
  std::lock_guard<std::recursive_mutex> lock(terminateLock_);
  TaskList.PauseAll();
  paused_ = true;
}

void TCustomEncoder::Resume() {
  if (!Working() || !Paused()) return;
  std::lock_guard<std::recursive_mutex> lock(terminateLock_);
  TaskList.ResumeAll();
  paused_ = false;
}

void TCustomEncoder::Stop(bool wait) {
  {
    std::lock_guard<std::recursive_mutex> lock(terminateLock_);
    RemainingToStart = 0;
  }
  if (Working()) TaskList.StopAll(wait);
}

// ------------------------------------------------------------------ the end of a task

void TCustomEncoder::TaskTerminated(TCustomFFmpeg* engine) {
  // Notifications raised "at once" are delivered after the lock is let go: their handler may run
  // on the main thread, and the main thread takes this lock.
  std::vector<TTerminateInfo> atOnce;
  {
    std::lock_guard<std::recursive_mutex> lock(terminateLock_);
    const bool throughThread = Background || !Working();
    if (OnTerminate) {
      TTerminateInfo info;
      info.TaskIndex = TaskList.IndexOf(engine);
      info.Finished = engine->Finished.load();
      info.Exception = engine->Exception;
      info.ExceptionMsg = engine->ExceptionMsg;
      if (throughThread) {
        StartTerminateThread(info);
      } else {
        atOnce.push_back(std::move(info));
      }
    }
    ++FinishedCount;
    if (RemainingToStart < 1) {
      if (FinishedCount >= TaskList.Count() && !AllFinished()) {
        allFinished_ = true;
        if (OnTerminate) {
          TTerminateInfo final;
          final.TaskIndex = -1;
          final.Finished = true;
          if (throughThread) {
            StartTerminateThread(final);
          } else {
            atOnce.push_back(std::move(final));
          }
        }
      }
    } else if (Background) {
      StartNextTask();
    }
  }
  for (const TTerminateInfo& info : atOnce) DeliverTerminate(info);
}

void TCustomEncoder::DeliverTerminate(const TTerminateInfo& info) {
  const TTerminateEvent handler = OnTerminate;
  if (handler) RaiseLoggedEvent("OnTerminate", [this, &handler, &info] { handler(this, info); });
}

void TCustomEncoder::StartTerminateThread(const TTerminateInfo& info) {
  ReapTerminateThreads(false);
  std::lock_guard<std::mutex> lock(deliveryLock_);
  terminateThreads_.push_back(std::make_unique<TDoTerminateThread>(*this, OnTerminate, info, terminateTicketsIssued_++,
                                                                   TriggerEventInMainThread));
}

void TCustomEncoder::ReapTerminateThreads(bool all) {
  if (all) {
    WaitUntil([this] {
      std::lock_guard<std::mutex> lock(deliveryLock_);
      return std::all_of(terminateThreads_.begin(), terminateThreads_.end(),
                         [](const auto& thread) { return thread->Done(); });
    });
  }
  std::list<std::unique_ptr<TDoTerminateThread>> ended;
  {
    std::lock_guard<std::mutex> lock(deliveryLock_);
    for (auto it = terminateThreads_.begin(); it != terminateThreads_.end();) {
      if ((*it)->Done()) {
        ended.splice(ended.end(), terminateThreads_, it++);
      } else {
        ++it;
      }
    }
  }
  // Joined outside the lock: a thread that is done has only its last few instructions left.
  ended.clear();
}

// ------------------------------------------------------------------ event bridges
//
// Each bridge calls a copy of the application's handler: a handler may replace or clear its own
// event while it runs, which would otherwise free the function object being run. The lock of each
// kind is held while the handler runs, so that two tasks never overlap in one kind of handler; no
// bridge holds the engine's preview lock, so a handler may change the preview settings.

void TCustomEncoder::RaiseLoggedEvent(const char* eventName, const std::function<void()>& call) {
  try {
    RaiseComponentEvent(TriggerEventInMainThread, call);
  } catch (const std::exception& e) {
    DefaultLogger().LogFmt(this, llError, "%s handler failed: %s", eventName, e.what());
  } catch (...) {
    DefaultLogger().LogFmt(this, llError, "%s handler failed", eventName);
  }
}

void TCustomEncoder::BridgeAudioHook(bool outputSide, TCustomFFmpeg* engine, std::uint8_t* sample, std::int64_t pts,
                                     std::int32_t size, std::int32_t sampleRate, std::int32_t channels,
                                     std::int32_t sampleFormat) {
  const TAudioHookEvent event = outputSide ? OnAudioOutputHook : OnAudioInputHook;
  if (!event) return;
  std::lock_guard<std::mutex> lock(audioHookLock_);
  event(this, TaskList.IndexOf(engine), pts, sample, size, sampleRate, channels,
        static_cast<AVSampleFormat>(sampleFormat));
}

void TCustomEncoder::BridgeVideoHook(bool outputSide, TCustomFFmpeg* engine, Bitmap* bitmap, std::int32_t frameNumber,
                                     std::int64_t pts, bool& update, bool& stopHook) {
  const TVideoHookEvent event = outputSide ? OnVideoOutputHook : OnVideoInputHook;
  if (!event) return;
  std::lock_guard<std::mutex> lock(videoHookLock_);
  hookInfo_.TaskIndex = TaskList.IndexOf(engine);
  hookInfo_.Bitmap = bitmap;
  hookInfo_.FrameNumber = frameNumber;
  hookInfo_.PTS = pts;
  hookInfo_.Update = update;
  hookInfo_.StopHook = stopHook;
  std::unique_lock<std::recursive_mutex> canvas;
  if (bitmap != nullptr) canvas = std::unique_lock<std::recursive_mutex>(bitmap->Lock());
  event(this, &hookInfo_);
  update = hookInfo_.Update;
  stopHook = hookInfo_.StopHook;
}

void TCustomEncoder::BridgeFrameHook(bool outputSide, TCustomFFmpeg* engine, PicturePlanes* picture,
                                     std::int32_t pixFmt, std::int32_t frameNumber, std::int32_t width,
                                     std::int32_t height, std::int64_t pts) {
  const TFrameHookEvent event = outputSide ? OnFrameOutputHook : OnFrameInputHook;
  if (!event) return;
  std::lock_guard<std::mutex> lock(frameHookLock_);
  frameHookInfo_.TaskIndex = TaskList.IndexOf(engine);
  frameHookInfo_.FrameNumber = frameNumber;
  frameHookInfo_.Picture = picture;
  frameHookInfo_.PixFmt = pixFmt;
  frameHookInfo_.Width = width;
  frameHookInfo_.Height = height;
  frameHookInfo_.PTS = pts;
  event(this, &frameHookInfo_);
}

void TCustomEncoder::BridgePreviewBitmap(TCustomFFmpeg* engine, Bitmap* bitmap, std::int32_t frameNumber,
                                         std::int64_t pts) {
  const TPreviewBitmapEvent event = OnPreviewBitmap;
  if (!event) return;
  std::lock_guard<std::mutex> lock(previewLock_);
  previewInfo_.TaskIndex = TaskList.IndexOf(engine);
  previewInfo_.Bitmap = bitmap;
  previewInfo_.FrameNumber = frameNumber;
  previewInfo_.PTS = pts;
  RaiseLoggedEvent("OnPreviewBitmap", [this, &event] { event(this, previewInfo_); });
}

void TCustomEncoder::BridgeProgress(TCustomFFmpeg* engine, std::int32_t fileIndex, const TProgressInfo& info) {
  const TProgressEvent event = OnProgress;
  if (!event) return;
  std::lock_guard<std::mutex> lock(progressLock_);
  progressInfo_ = info;
  progressInfo_.TaskIndex = TaskList.IndexOf(engine);
  progressInfo_.FileIndex = fileIndex;
  RaiseLoggedEvent("OnProgress", [this, &event] { event(this, &progressInfo_); });
}

void TCustomEncoder::BridgeBeforeFindStreamInfo(TCustomFFmpegOpt* engine, AVFormatContext* context) {
  const TBeforeFindStreamInfoEvent event = OnBeforeFindStreamInfo;
  if (!event) return;
  std::lock_guard<std::mutex> lock(beforeFindStreamInfoLock_);
  auto* task = dynamic_cast<TFFmpeg*>(engine);
  // Unlike the other events, an exception here reaches the opening of the input, which fails.
  RaiseComponentEvent(TriggerEventInMainThread, [&event, task, context] { event(task, context); });
}

}  // namespace lumivor
