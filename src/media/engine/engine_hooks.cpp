// The hooks through which the component above sees and changes the pictures and samples of a
// task, and the preview of the pictures being encoded. Everything here runs on the worker thread,
// except SetPreviewFlags, which the owner calls from its own.
#include <exception>
#include <mutex>
#include <string>

#include "media/engine/ffmpeg.h"
#include "media/runtime/ff_log.h"
#include "media/runtime/main_thread.h"

namespace lumivor {
namespace {

// One lock for the previews of every task: held by SetPreviewFlags and for a whole preview step.
std::mutex& PreviewLock() {
  static std::mutex lock;
  return lock;
}

// A preview step holds the lock while the main thread paints for it, so the main thread must not
// simply block on the lock: it keeps serving synchronised calls until the lock is free.
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
  // Freeing a window runs on the main thread; doing it outside the lock keeps the rule above.
  closing.reset();
}

bool TCustomFFmpeg::HasInputHooks() const {
  return OnVideoInputHook || OnFrameInputHook || !HookModules.Empty();
}

bool TCustomFFmpeg::HasOutputHooks() const { return OnVideoOutputHook || OnFrameOutputHook; }

void TCustomFFmpeg::CallVideoHook(bool outputSide, PicturePlanes& picture, AVPixelFormat format, int width, int height,
                                  std::int32_t frameNumber, std::int64_t pts) {
  TVideoHookEvent& hook = outputSide ? OnVideoOutputHook : OnVideoInputHook;
  TFormatConverter& converter = outputSide ? PreviewConverter : HookConverter;
  if (outputSide) PreviewConverterHoldsPicture = false;
  if (!hook) return;
  if (!converter.PictureToBitmap(picture, format, true, height, width)) {
    DefaultLogger().Log(this, llError, converter.LastError());
    hook = nullptr;
    return;
  }
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
      hook = nullptr;
      return;
    }
    // The bitmap now shows exactly what will be encoded.
    if (outputSide) PreviewConverterHoldsPicture = true;
  }
  if (stopHook) hook = nullptr;
}

void TCustomFFmpeg::CallFrameHook(bool outputSide, PicturePlanes& picture, AVPixelFormat format, int width, int height,
                                  std::int32_t frameNumber, std::int64_t pts) {
  TFrameHookEvent& hook = outputSide ? OnFrameOutputHook : OnFrameInputHook;
  if (hook) hook(this, &picture, static_cast<std::int32_t>(format), frameNumber, width, height, pts);
}

void TCustomFFmpeg::CallAudioHook(bool outputSide, std::uint8_t* sample, std::int64_t pts, std::int32_t size,
                                  std::int32_t sampleRate, std::int32_t channels, std::int32_t sampleFormat) {
  TAudioHookEvent& hook = outputSide ? OnAudioOutputHook : OnAudioInputHook;
  if (hook) hook(this, sample, pts, size, sampleRate, channels, sampleFormat);
}

void TCustomFFmpeg::Preview(const PicturePlanes& picture, AVPixelFormat format, int width, int height,
                            bool converterHolds, std::int64_t pts, std::int32_t frameNumber) {
  std::unique_ptr<PreviewWindowSink> closing;
  {
    auto lock = LockPreview();
    std::uint8_t flags = PreviewFlags;
    const bool toBitmap = (flags & kPreviewBitmapFlag) && OnPreviewBitmap;
    const bool toWindow = !toBitmap && (flags & kPreviewWindowFlag);
    const std::int64_t now = MonotonicMicroseconds();
    if ((toBitmap || toWindow) && now - LastPreviewTime > PreviewInterval) {
      // The caller's word that the converter holds the picture counts only when the last output
      // hook really left it there: a hook that dropped its change (or failed) leaves a bitmap
      // that differs from what is encoded.
      const bool holds = converterHolds && PreviewConverterHoldsPicture && !PreviewFlagsChanged;
      const bool converted = holds ||
                             PreviewConverter.PictureToBitmap(picture, format, true, height, width);
      if (!converted) {
        DefaultLogger().Log(this, llError, PreviewConverter.LastError());
        flags &= toBitmap ? ~kPreviewBitmapFlag : ~kPreviewWindowFlag;
      } else if (toBitmap) {
        OnPreviewBitmap(this, &PreviewConverter.GetBitmap(), frameNumber, pts);
      } else {
        if (!PreviewWindow && PreviewWindowFactory) PreviewWindow = PreviewWindowFactory();
        // Without a window to show in (none can be made, or the user closed it) the bit goes off,
        // so that no further picture is converted for it in this task.
        if (!PreviewWindow || PreviewWindow->ShowPicture(PreviewConverter.GetBitmap(), frameNumber, pts) == 0) {
          flags &= ~kPreviewWindowFlag;
        }
      }
      LastPreviewTime = now;
    }
    if (!(flags & kPreviewWindowFlag)) closing = std::move(PreviewWindow);
    PreviewFlags = flags;
    PreviewFlagsChanged = false;
  }
  closing.reset();
}

}  // namespace lumivor
