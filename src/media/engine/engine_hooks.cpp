// The hooks through which the component above sees and changes the pictures and samples of a
// task, and the preview of the pictures being encoded. Everything here runs on the worker thread,
// except SetPreviewFlags, which the owner calls from its own (or from a handler of these events).
#include <exception>
#include <mutex>
#include <string>

#include "media/engine/ffmpeg.h"
#include "media/runtime/ff_log.h"
#include "media/runtime/main_thread.h"

namespace lumivor {
namespace {

// One lock for the previews of every task. It guards only the flags, their change mark and the
// window's ownership, never a call out: a preview is shown, and a handler runs, with the lock let
// go, since both may wait for the main thread, and the main thread (or the handler itself) may
// want the lock to change the flags.
std::mutex& PreviewLock() {
  static std::mutex lock;
  return lock;
}

// The lock is only ever held for a few instructions, but the main thread still does not block on
// it outright: it keeps serving synchronised calls until the lock is free.
std::unique_lock<std::mutex> LockPreview() {
  std::unique_lock<std::mutex> lock(PreviewLock(), std::defer_lock);
  if (IsMainThread()) {
    WaitServing([&lock] { return lock.try_lock(); });
  } else {
    lock.lock();
  }
  return lock;
}

}  // namespace

void TCustomFFmpeg::SetPreviewFlags(std::uint8_t flags) {
  std::unique_ptr<PreviewWindowSink> closing;
  {
    auto lock = LockPreview();
    if (!(flags & kPreviewWindowFlag)) closing = std::move(PreviewWindow);
    PreviewFlags = flags;
    PreviewFlagsChanged = true;
  }
  // Freeing a window runs on the main thread: never under the lock.
  closing.reset();
}

void TCustomFFmpeg::ClosePreviewWindow() {
  std::unique_ptr<PreviewWindowSink> closing;
  {
    auto lock = LockPreview();
    closing = std::move(PreviewWindow);
  }
  closing.reset();
}

bool TCustomFFmpeg::HasInputHooks() const {
  return OnVideoInputHook || OnFrameInputHook || !HookModules.Empty();
}

bool TCustomFFmpeg::HasOutputHooks() const { return OnVideoOutputHook || OnFrameOutputHook; }

// The handlers below are called through a copy: a handler may replace or clear its own slot
// (through the sender it is given), which would otherwise free the function object it is running.

void TCustomFFmpeg::CallVideoHook(bool outputSide, PicturePlanes& picture, AVPixelFormat format, int width, int height,
                                  std::int32_t frameNumber, std::int64_t pts) {
  TVideoHookEvent& slot = outputSide ? OnVideoOutputHook : OnVideoInputHook;
  TFormatConverter& converter = outputSide ? PreviewConverter : HookConverter;
  if (outputSide) PreviewConverterHoldsPicture = false;
  if (!slot) return;
  if (!converter.PictureToBitmap(picture, format, true, height, width)) {
    DefaultLogger().Log(this, llError, converter.LastError());
    slot = nullptr;
    return;
  }
  const TVideoHookEvent hook = slot;
  bool update = true;
  bool stopHook = false;
  try {
    hook(this, &converter.GetBitmap(), frameNumber, pts, update, stopHook);
  } catch (const std::exception& e) {
    DefaultLogger().Log(this, llError, std::string("Error occurs VideoHook event: ") + e.what());
    update = false;
  }
  if (update) {
    converter.CopyFromBitmap();
    if (converter.CurrentIsConverted() && !converter.BitmapToPicture(picture, format, height, width)) {
      DefaultLogger().Log(this, llError, converter.LastError());
      slot = nullptr;
      return;
    }
    // The bitmap now shows exactly what will be encoded.
    if (outputSide) PreviewConverterHoldsPicture = true;
  }
  if (stopHook) slot = nullptr;
}

void TCustomFFmpeg::CallFrameHook(bool outputSide, PicturePlanes& picture, AVPixelFormat format, int width, int height,
                                  std::int32_t frameNumber, std::int64_t pts) {
  const TFrameHookEvent hook = outputSide ? OnFrameOutputHook : OnFrameInputHook;
  if (hook) hook(this, &picture, static_cast<std::int32_t>(format), frameNumber, width, height, pts);
}

void TCustomFFmpeg::CallAudioHook(bool outputSide, std::uint8_t* sample, std::int64_t pts, std::int32_t size,
                                  std::int32_t sampleRate, std::int32_t channels, std::int32_t sampleFormat) {
  const TAudioHookEvent hook = outputSide ? OnAudioOutputHook : OnAudioInputHook;
  if (hook) hook(this, sample, pts, size, sampleRate, channels, sampleFormat);
}

void TCustomFFmpeg::Preview(const PicturePlanes& picture, AVPixelFormat format, int width, int height,
                            bool converterHolds, std::int64_t pts, std::int32_t frameNumber) {
  std::uint8_t flags;
  bool flagsChanged;
  bool windowAvailable;
  {
    auto lock = LockPreview();
    flags = PreviewFlags.load();
    flagsChanged = PreviewFlagsChanged;
    PreviewFlagsChanged = false;
    windowAvailable = PreviewWindow != nullptr || PreviewWindowFactory != nullptr;
  }
  // Only a picture someone receives is converted: with neither a handler nor a window to show it
  // in, the conversion would be work nobody sees.
  const bool toBitmap = (flags & kPreviewBitmapFlag) && OnPreviewBitmap;
  const bool toWindow = !toBitmap && (flags & kPreviewWindowFlag) && windowAvailable;
  const std::int64_t now = MonotonicMicroseconds();
  if (!(toBitmap || toWindow) || now - LastPreviewTime <= PreviewInterval) return;
  LastPreviewTime = now;

  // The converter and its bitmap are this worker's own: converting and showing need no lock.
  // The caller's word that the converter holds the picture counts only when the last output hook
  // really left it there: a hook that dropped its change (or failed) leaves a bitmap that differs
  // from what is encoded.
  const bool holds = converterHolds && PreviewConverterHoldsPicture && !flagsChanged;
  std::uint8_t failed = 0;
  std::unique_ptr<PreviewWindowSink> window;
  if (!holds && !PreviewConverter.PictureToBitmap(picture, format, true, height, width)) {
    DefaultLogger().Log(this, llError, PreviewConverter.LastError());
    failed = toBitmap ? kPreviewBitmapFlag : kPreviewWindowFlag;
  } else if (toBitmap) {
    OnPreviewBitmap(this, &PreviewConverter.GetBitmap(), frameNumber, pts);
  } else {
    // Taken out while it shows, so that SetPreviewFlags cannot free it meanwhile.
    {
      auto lock = LockPreview();
      window = std::move(PreviewWindow);
    }
    if (!window && PreviewWindowFactory) window = PreviewWindowFactory();
    // Without a window to show in (none can be made, or the user closed it) the bit goes off, so
    // that no further picture is converted for it in this task.
    if (!window || window->ShowPicture(PreviewConverter.GetBitmap(), frameNumber, pts) == 0) {
      failed = kPreviewWindowFlag;
    }
  }

  std::unique_ptr<PreviewWindowSink> closing;
  {
    auto lock = LockPreview();
    // Flags the owner set while the picture was shown are its newer word and stay as they are.
    if (failed != 0 && !PreviewFlagsChanged) PreviewFlags = static_cast<std::uint8_t>(PreviewFlags.load() & ~failed);
    if (window) {
      if ((PreviewFlags.load() & kPreviewWindowFlag) && !(failed & kPreviewWindowFlag)) {
        PreviewWindow = std::move(window);
      } else {
        closing = std::move(window);
      }
    }
  }
  closing.reset();
}

}  // namespace lumivor
