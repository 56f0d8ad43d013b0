// The frame input adapter: pictures the application draws become the video input of a task, as
// if they came from a file. A task opens the input format "frameinput" with the adapter's
// InputName() as its file name; on every packet the engine reads, the format raises one of the
// adapter's frame events and hands the picture on as one raw-video packet.
//
// The format's packets come from inside the process, so it lives in the engine's table of
// in-process input formats (RegisterFrameInput) rather than in the library's registry. The input
// name is a number that the adapters' registry resolves: a number that names no live adapter is
// refused, so a stale or forged name can never reach freed memory.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "raster/raster.h"
#include "media/components/ff_base_component.h"

extern "C" {
#include <libavformat/avformat.h>
}

namespace lumivor {

// The kinds of picture a frame input asks its handler for ("input_type").
enum TFrameInputType : std::int32_t {
  itYUV = 0,     // the handler fills the packet in the library's own layout of the pixel format
  itBMP = 1,     // the handler fills the bitmap's bottom-up pixel memory
  itCanvas = 2,  // the handler draws on the bitmap
  itDC = 3,      // as canvas: there are no device contexts here, the handler draws on the bitmap
};

// What a frame handler is told about the frame being read; the fields keep the design's order.
struct TInputFrameInfo {
  std::int64_t PTS;      // microseconds; the handler may change it
  std::int64_t LastPTS;  // of the previous frame; AV_NOPTS_VALUE before the first
  std::int32_t FrameNumber;  // 1 while the first frame is read
  std::int32_t Width;
  std::int32_t Height;
  std::int32_t BitsPerPixel;  // 8, 16, 24 or 32 for bitmap inputs; 0 for yuv
  std::int32_t Stride;        // bytes per row, padded to 4 bytes
  std::int32_t FrameSize;     // bytes per frame and packet
  std::int32_t PixelFormat;   // the library's AVPixelFormat
  std::int32_t InputType;     // TFrameInputType
  // Device handles have no counterpart on this platform and stay null: a dc input draws on
  // Bitmap like a canvas input.
  void* DIBSection;
  void* MemoryDC;
  std::uint8_t* Bits;         // the bitmap's pixel memory, bottom row first
  lumivor::Bitmap* Bitmap;    // the drawing bitmap of bmp, canvas and dc inputs
  lumivor::Bitmap* Canvas;    // the same bitmap: it is its own canvas
  AVPacket* Packet;           // the packet being filled
  std::int32_t RateDen;
  std::int32_t RateNum;
  std::int64_t NextTime;      // frame index x 1000000 of the next frame
};
using PInputFrameInfo = TInputFrameInfo*;

class TFrameInputAdapter;
using TNotifyEvent = std::function<void(TFrameInputAdapter& sender)>;
// A frame handler returns 0 (or more) when it produced the frame and a negative value to end the
// input. An exception it throws fails the task with the exception's text.
using TReadFrameCanvasEvent =
    std::function<int(TFrameInputAdapter& sender, Bitmap& canvas, PInputFrameInfo frameInfo)>;
using TReadFrameDataEvent =
    std::function<int(TFrameInputAdapter& sender, std::uint8_t* data, PInputFrameInfo frameInfo)>;
using TReadFrameDCEvent = std::function<int(TFrameInputAdapter& sender, Bitmap& dc, PInputFrameInfo frameInfo)>;

class TFrameInputAdapter : public TFFBaseComponent {
 public:
  TFrameInputAdapter();
  // Leaves the registry first, so no input can reach the adapter any more; an event that is
  // running meanwhile is waited for (on the main thread while serving its queued calls).
  ~TFrameInputAdapter() override;
  TFrameInputAdapter(const TFrameInputAdapter&) = delete;
  TFrameInputAdapter& operator=(const TFrameInputAdapter&) = delete;

  // Raise the events on the main thread, the reading worker waiting meanwhile. Off, the handlers
  // run on the worker and must be thread-safe; the canvas (and dc) handler then runs with the
  // bitmap's lock held, so it must not take that lock itself.
  bool TriggerEventInMainThread = true;

  TNotifyEvent OnReadHeader;  // the input was opened
  TNotifyEvent OnReadClose;   // the input was closed
  TReadFrameCanvasEvent OnReadFrameCanvas;
  TReadFrameDataEvent OnReadFrameBMP;
  TReadFrameDCEvent OnReadFrameDC;
  TReadFrameDataEvent OnReadFrameYUV;

  // The decimal text a task opens as the file name of its frame input.
  std::string InputName() const;
  // The frame record and the library context of the input being read; null when none is open.
  // Meant for the handlers, which may read them while they run.
  PInputFrameInfo FrameInfo() const { return frameInfo_; }
  AVFormatContext* FormatContext() const { return formatContext_; }

 private:
  friend class FrameInputEvents;

  std::uint64_t identity_ = 0;
  PInputFrameInfo frameInfo_ = nullptr;
  AVFormatContext* formatContext_ = nullptr;
};

// Adds "frameinput" to the engine's in-process input formats; a second call adds nothing.
// The libraries must be loaded.
void RegisterFrameInput();

}  // namespace lumivor
