// The "frameinput" input format and the adapter behind it.
//
// The format's private data is one FrameInputContext, allocated and zeroed by the engine's
// in-process open, its option texts filled by the library's option system. The drawing bitmap
// of bitmap inputs lives inside that memory too (constructed by read header, destroyed by read
// close or by a read header that fails), so the record the handlers see and the buffer it points
// at come and go together.
//
// Speed: a frame is copied once, from the bitmap's bottom-up rows into the packet top row first,
// and nothing is allocated per frame beyond the packet's own data.
#include "media/components/frame_input.h"

#include <cerrno>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <exception>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "media/engine/input_formats.h"
#include "media/runtime/ff_load.h"
#include "media/runtime/main_thread.h"
#include "media/runtime/runtime_errors.h"

namespace lumivor {

// ------------------------------------------------------------------ the adapters' registry

namespace {

// Live adapters by identity. An input holds only the number and borrows the adapter for each
// call, so an adapter that is gone is refused instead of dereferenced, and an adapter is not
// freed while one of its events runs.
class AdapterRegistry {
 public:
  static AdapterRegistry& Instance() {
    // Never destroyed: a worker may still close an input while the program exits.
    static AdapterRegistry* registry = new AdapterRegistry;
    return *registry;
  }

  std::uint64_t Add(TFrameInputAdapter& adapter) {
    std::lock_guard<std::mutex> lock(mutex_);
    // Identities are never reused, so a name kept from an adapter that is gone cannot reach a
    // newer one.
    const std::uint64_t identity = nextIdentity_++;
    entries_.emplace(identity, Entry{&adapter, 0, false});
    return identity;
  }

  void Remove(std::uint64_t identity) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      const auto found = entries_.find(identity);
      if (found == entries_.end()) return;
      found->second.Leaving = true;
    }
    // A borrower may be waiting for the main thread to run its event, so the main thread keeps
    // serving while it waits here.
    WaitServing([this, identity] {
      std::lock_guard<std::mutex> lock(mutex_);
      return entries_.at(identity).Users == 0;
    });
    std::lock_guard<std::mutex> lock(mutex_);
    entries_.erase(identity);
  }

  class Lease {
   public:
    Lease() = default;
    Lease(AdapterRegistry* registry, std::uint64_t identity, TFrameInputAdapter* adapter)
        : registry_(registry), identity_(identity), adapter_(adapter) {}
    Lease(Lease&& other) noexcept
        : registry_(std::exchange(other.registry_, nullptr)), identity_(other.identity_),
          adapter_(std::exchange(other.adapter_, nullptr)) {}
    Lease& operator=(Lease&&) = delete;
    Lease(const Lease&) = delete;
    ~Lease() {
      if (registry_ != nullptr) registry_->GiveBack(identity_);
    }
    TFrameInputAdapter* Adapter() const { return adapter_; }

   private:
    AdapterRegistry* registry_ = nullptr;
    std::uint64_t identity_ = 0;
    TFrameInputAdapter* adapter_ = nullptr;
  };

  // An empty lease when no live adapter has this identity.
  Lease Borrow(std::uint64_t identity) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto found = entries_.find(identity);
    if (found == entries_.end() || found->second.Leaving) return Lease();
    found->second.Users += 1;
    return Lease(this, identity, found->second.Adapter);
  }

 private:
  struct Entry {
    TFrameInputAdapter* Adapter;
    int Users;
    bool Leaving;
  };

  void GiveBack(std::uint64_t identity) {
    std::lock_guard<std::mutex> lock(mutex_);
    entries_.at(identity).Users -= 1;
  }

  std::mutex mutex_;
  std::map<std::uint64_t, Entry> entries_;
  std::uint64_t nextIdentity_ = 1;  // 0 names no adapter
};

}  // namespace

TFrameInputAdapter::TFrameInputAdapter() : identity_(AdapterRegistry::Instance().Add(*this)) {}

TFrameInputAdapter::~TFrameInputAdapter() { AdapterRegistry::Instance().Remove(identity_); }

std::string TFrameInputAdapter::InputName() const { return std::to_string(identity_); }

// ------------------------------------------------------------------ the private context

namespace {

constexpr std::int64_t kMicroseconds = 1000000;
constexpr std::size_t kMaxNameLength = 1024;

// Laid out as the library's option system expects: the class first, the option texts at the
// offsets of the option table. The fields after Adapter are this format's own bookkeeping.
struct FrameInputContext {
  const AVClass* Class;
  std::int32_t Gap;
  TInputFrameInfo FrameInfo;
  char* InputType;
  char* PixelFormat;
  char* VideoSize;
  char* FrameRate;
  std::uint64_t Adapter;  // identity in the registry
  alignas(Bitmap) unsigned char BitmapStorage[sizeof(Bitmap)];
  bool HasBitmap;
  // The colour table the decoder was last given (pal8 only).
  std::uint32_t SentPalette[AVPALETTE_COUNT];
  bool PaletteSent;
};

FrameInputContext& ContextOf(AVFormatContext* ic) { return *static_cast<FrameInputContext*>(ic->priv_data); }

void MakeBitmap(FrameInputContext& c, int width, int height, int bitsPerPixel) {
  Bitmap* bitmap = std::construct_at(reinterpret_cast<Bitmap*>(c.BitmapStorage), width, height, bitsPerPixel);
  c.HasBitmap = true;
  c.FrameInfo.Bitmap = bitmap;
  c.FrameInfo.Canvas = bitmap;
  c.FrameInfo.Bits = bitmap->Bits();
}

void ReleaseBuffers(FrameInputContext& c) {
  if (c.HasBitmap) std::destroy_at(c.FrameInfo.Bitmap);
  c.HasBitmap = false;
  c.FrameInfo.Bitmap = nullptr;
  c.FrameInfo.Canvas = nullptr;
  c.FrameInfo.Bits = nullptr;
}

// value x multiplier / divisor rounded to the nearest integer, halves to even; nothing when the
// result does not fit a time with room to count on from it.
std::optional<std::int64_t> Rescaled(std::int64_t value, std::int64_t multiplier, std::int64_t divisor) {
  const __int128 numerator = static_cast<__int128>(value) * multiplier;
  __int128 quotient = numerator / divisor;
  __int128 twiceRest = (numerator % divisor) * 2;
  if (twiceRest < 0) twiceRest = -twiceRest;
  if (twiceRest > divisor || (twiceRest == divisor && (quotient & 1) != 0)) quotient += numerator < 0 ? -1 : 1;
  constexpr __int128 kLimit = static_cast<__int128>(1) << 62;
  if (quotient > kLimit || quotient < -kLimit) return std::nullopt;
  return static_cast<std::int64_t>(quotient);
}

// ------------------------------------------------------------------ tables

struct InputTypeRow {
  const char* Name;
  TFrameInputType Type;
};
// Compared exactly: "Canvas" is no input type.
constexpr InputTypeRow kInputTypes[] = {
    {"canvas", itCanvas},
    {"bmp", itBMP},
    {"yuv", itYUV},
    {"dc", itDC},
};

struct BitmapFormatRow {
  AVPixelFormat PixelFormat;
  int BitsPerPixel;
};
// The pixel formats whose layout is a bitmap row's.
constexpr BitmapFormatRow kBitmapFormats[] = {
    {AV_PIX_FMT_BGR24, 24},
    {AV_PIX_FMT_PAL8, 8},
    {AV_PIX_FMT_BGRA, 32},
    {AV_PIX_FMT_RGB555LE, 16},
};

// How the end of the input is logged, per input type (a negative handler result).
struct FrameEndRow {
  TFrameInputType Type;
  int Level;
  const char* Text;  // takes the result, except for yuv
};
constexpr FrameEndRow kFrameEnds[] = {
    {itYUV, AV_LOG_INFO, "reading frame (YUV) return\n"},
    {itBMP, AV_LOG_ERROR, "reading frame (BMP) return %d\n"},
    {itCanvas, AV_LOG_INFO, "reading frame (Canvas) return %d\n"},
    {itDC, AV_LOG_INFO, "reading frame (DC) return %d\n"},
};

bool DrawsOnBitmap(std::int32_t inputType) { return inputType != itYUV; }

const char* OrEmpty(const char* text) { return text != nullptr ? text : ""; }

}  // namespace

// ------------------------------------------------------------------ events

// The adapter's side of the format: events raised as the adapter's TriggerEventInMainThread
// says, and the adapter told which input it serves.
class FrameInputEvents {
 public:
  static void Attach(TFrameInputAdapter& adapter, TInputFrameInfo& info, AVFormatContext* ic) {
    adapter.frameInfo_ = &info;
    adapter.formatContext_ = ic;
  }
  static void Detach(TFrameInputAdapter& adapter, const TInputFrameInfo& info) {
    if (adapter.frameInfo_ != &info) return;  // the adapter serves another input by now
    adapter.frameInfo_ = nullptr;
    adapter.formatContext_ = nullptr;
  }

  static void Notify(TFrameInputAdapter& adapter, TNotifyEvent TFrameInputAdapter::*event) {
    const TNotifyEvent& handler = adapter.*event;
    if (!handler) return;
    RaiseComponentEvent(adapter.TriggerEventInMainThread, [&] { handler(adapter); });
  }

  // The handler's result; -1 when the input type has no handler.
  static int ReadFrame(TFrameInputAdapter& adapter, TInputFrameInfo& info, std::uint8_t* packetData) {
    if (!HasHandler(adapter, info.InputType)) return -1;
    FrameCall frame{adapter, info, packetData, -1};
    // One reference captured: the function object the main thread is handed stays within its
    // own small buffer, so a frame costs no allocation on that path either.
    const auto call = [&frame] { frame.Run(); };
    if (adapter.TriggerEventInMainThread) {
      RaiseEvent(call);
    } else if (info.InputType == itCanvas || info.InputType == itDC) {
      std::lock_guard<std::recursive_mutex> lock(info.Bitmap->Lock());
      call();
    } else {
      call();
    }
    return frame.Result;
  }

 private:
  struct FrameCall {
    TFrameInputAdapter& Adapter;
    TInputFrameInfo& Info;
    std::uint8_t* PacketData;
    int Result;
    void Run() {
      switch (Info.InputType) {
        case itCanvas:
          Result = Adapter.OnReadFrameCanvas(Adapter, *Info.Canvas, &Info);
          break;
        case itDC:
          Result = Adapter.OnReadFrameDC(Adapter, *Info.Bitmap, &Info);
          break;
        case itBMP:
          Result = Adapter.OnReadFrameBMP(Adapter, Info.Bits, &Info);
          break;
        default:
          Result = Adapter.OnReadFrameYUV(Adapter, PacketData, &Info);
          break;
      }
    }
  };

  static bool HasHandler(const TFrameInputAdapter& adapter, std::int32_t inputType) {
    switch (inputType) {
      case itCanvas:
        return static_cast<bool>(adapter.OnReadFrameCanvas);
      case itDC:
        return static_cast<bool>(adapter.OnReadFrameDC);
      case itBMP:
        return static_cast<bool>(adapter.OnReadFrameBMP);
      default:
        return static_cast<bool>(adapter.OnReadFrameYUV);
    }
  }
};

// ------------------------------------------------------------------ read header

namespace {

constexpr int kInvalidArgument = AVERROR(EINVAL);
constexpr int kOutOfMemory = AVERROR(ENOMEM);
constexpr int kIOError = AVERROR(EIO);

// The identity named by the file name, or nothing when the name is not a decimal number.
std::optional<std::int64_t> ParseIdentity(std::string_view name) {
  std::int64_t value = 0;
  const auto [end, error] = std::from_chars(name.data(), name.data() + name.size(), value);
  if (name.empty() || error != std::errc() || end != name.data() + name.size()) return std::nullopt;
  return value;
}

std::optional<TFrameInputType> InputTypeOf(const char* text) {
  if (text == nullptr || *text == '\0') return itYUV;
  for (const InputTypeRow& row : kInputTypes) {
    if (std::strcmp(row.Name, text) == 0) return row.Type;
  }
  return std::nullopt;
}

const BitmapFormatRow* BitmapFormatOf(AVPixelFormat format) {
  for (const BitmapFormatRow& row : kBitmapFormats) {
    if (row.PixelFormat == format) return &row;
  }
  return nullptr;
}

// Steps up to the buffers: every check of the options, the record's sizes and the buffers.
int PrepareFrames(AVFormatContext* ic, FrameInputContext& c) {
  TInputFrameInfo& info = c.FrameInfo;

  const std::string name = std::string(OrEmpty(ic->url)).substr(0, kMaxNameLength);
  const std::optional<std::int64_t> identity = ParseIdentity(name);
  if (!identity) {
    lib::av_log(ic, AV_LOG_ERROR,
                "Could not parse FrameInputAdapter: \"%s\", it should be address of FrameInputAdapter\n",
                name.c_str());
    return kInvalidArgument;
  }
  if (*identity <= 0 || !AdapterRegistry::Instance().Borrow(static_cast<std::uint64_t>(*identity)).Adapter()) {
    lib::av_log(ic, AV_LOG_ERROR, "Invalid FrameInputAdapter\n");
    return kInvalidArgument;
  }
  c.Adapter = static_cast<std::uint64_t>(*identity);

  const std::optional<TFrameInputType> inputType = InputTypeOf(c.InputType);
  if (!inputType) {
    lib::av_log(ic, AV_LOG_ERROR, "Invalid frame input type: \"%s\", it should be one of canvas/bmp/dc/yuv\n",
                c.InputType);
    return kInvalidArgument;
  }
  info.InputType = *inputType;

  AVRational rate{0, 0};
  if (lib::av_parse_video_rate(&rate, OrEmpty(c.FrameRate)) < 0) {
    lib::av_log(ic, AV_LOG_ERROR, "Could not parse framerate \"%s\".\n", OrEmpty(c.FrameRate));
    return kInvalidArgument;
  }
  if (rate.num == 0 || rate.den == 0) {
    lib::av_log(ic, AV_LOG_ERROR, "Invalid frame rate\n");
    return kInvalidArgument;
  }
  info.RateNum = rate.num;
  info.RateDen = rate.den;

  int width = 0;
  int height = 0;
  if (c.VideoSize != nullptr && *c.VideoSize != '\0' && lib::av_parse_video_size(&width, &height, c.VideoSize) < 0) {
    lib::av_log(ic, AV_LOG_ERROR, "Couldn't parse video size.\n");
    return kInvalidArgument;
  }
  // A size whose frames the library could not address is refused here rather than left to
  // overflow the record's 32-bit sizes.
  if (width <= 0 || height <= 0 || lib::av_image_check_size(width, height, 0, ic) < 0) {
    lib::av_log(ic, AV_LOG_ERROR, "Invalid frame size\n");
    return kInvalidArgument;
  }
  info.Width = width;
  info.Height = height;

  AVPixelFormat pixelFormat = AV_PIX_FMT_YUV420P;
  if (c.PixelFormat != nullptr && *c.PixelFormat != '\0') {
    pixelFormat = lib::av_get_pix_fmt(c.PixelFormat);
    if (pixelFormat == AV_PIX_FMT_NONE) {
      lib::av_log(ic, AV_LOG_ERROR, "Unknown pixel format requested\n");
      return kInvalidArgument;
    }
  }
  info.PixelFormat = pixelFormat;

  if (DrawsOnBitmap(info.InputType)) {
    const BitmapFormatRow* bitmapFormat = BitmapFormatOf(pixelFormat);
    if (bitmapFormat == nullptr) {
      lib::av_log(ic, AV_LOG_ERROR,
                  "Invalid pixel format for canvas/bmp/dc input, should be one of pal8/rgb555le/bgr24/bgra\n");
      return kInvalidArgument;
    }
    info.BitsPerPixel = bitmapFormat->BitsPerPixel;
    try {
      MakeBitmap(c, width, height, info.BitsPerPixel);
    } catch (const std::bad_alloc&) {
      lib::av_log(ic, AV_LOG_ERROR, "Could not allocate a %dx%d frame bitmap\n", width, height);
      return kOutOfMemory;
    }
    info.Stride = ((width * info.BitsPerPixel + 31) / 32) * 4;
    info.FrameSize = info.Stride * height;
  } else {
    info.BitsPerPixel = 0;
    const int size = lib::av_image_get_buffer_size(pixelFormat, width, height, 1);
    if (size < 0) {
      lib::av_log(ic, AV_LOG_ERROR, "avpicture_get_size() failed\n");
      return kIOError;
    }
    info.FrameSize = size;
    info.Stride = ((width * info.BitsPerPixel + 31) / 32) * 4;
  }
  return 0;
}

int AddVideoStream(AVFormatContext* ic, const TInputFrameInfo& info) {
  AVStream* st = lib::avformat_new_stream(ic, nullptr);
  if (st == nullptr) return kOutOfMemory;
  // Times are microseconds, the unit the handlers see.
  st->time_base = AVRational{1, static_cast<int>(kMicroseconds)};
  st->pts_wrap_bits = 64;
  AVCodecParameters* par = st->codecpar;
  par->codec_type = AVMEDIA_TYPE_VIDEO;
  par->codec_id = AV_CODEC_ID_RAWVIDEO;
  par->width = info.Width;
  par->height = info.Height;
  par->format = info.PixelFormat;
  // Bytes per frame over seconds per frame, in bits.
  const double bitRate =
      std::nearbyint(static_cast<double>(info.FrameSize) / (static_cast<double>(info.RateDen) / info.RateNum) * 8);
  par->bit_rate = bitRate < 9.0e18 ? static_cast<std::int64_t>(bitRate) : 0;
  st->r_frame_rate = AVRational{info.RateNum, info.RateDen};
  st->avg_frame_rate = st->r_frame_rate;
  ic->flags |= AVFMT_FLAG_NOPARSE;
  ic->probesize = 0;
  return 0;
}

int ReadHeader(AVFormatContext* ic) {
  FrameInputContext& c = ContextOf(ic);
  TInputFrameInfo& info = c.FrameInfo;
  int result = PrepareFrames(ic, c);
  if (result >= 0) result = AddVideoStream(ic, info);
  if (result < 0) {
    ReleaseBuffers(c);
    return result;
  }
  info.LastPTS = AV_NOPTS_VALUE;
  info.FrameNumber = 1;

  AdapterRegistry::Lease lease = AdapterRegistry::Instance().Borrow(c.Adapter);
  if (lease.Adapter() == nullptr) {
    // Freed while the input was being opened.
    ReleaseBuffers(c);
    lib::av_log(ic, AV_LOG_ERROR, "Invalid FrameInputAdapter\n");
    return kInvalidArgument;
  }
  TFrameInputAdapter& adapter = *lease.Adapter();
  FrameInputEvents::Attach(adapter, info, ic);
  try {
    FrameInputEvents::Notify(adapter, &TFrameInputAdapter::OnReadHeader);
  } catch (...) {
    // The open fails and no read close will follow: nothing may stay behind.
    FrameInputEvents::Detach(adapter, info);
    ReleaseBuffers(c);
    throw;
  }
  return 0;
}

// ------------------------------------------------------------------ read packet

// Bitmap rows are stored bottom-up; a raw-video packet starts with the top row.
void CopyRowsTopFirst(const Bitmap& bitmap, std::uint8_t* destination, int stride) {
  for (int y = 0; y < bitmap.Height(); ++y) {
    std::memcpy(destination + static_cast<std::size_t>(y) * stride, bitmap.ScanLine(y), static_cast<std::size_t>(stride));
  }
}

// Gives the packet's data back unless the read succeeds, also when a handler throws.
class PacketInProgress {
 public:
  PacketInProgress(TInputFrameInfo& info, AVPacket* packet) : info_(info), packet_(packet) { info.Packet = packet; }
  ~PacketInProgress() {
    info_.Packet = nullptr;
    if (!kept_) lib::av_packet_unref(packet_);
  }
  PacketInProgress(const PacketInProgress&) = delete;
  PacketInProgress& operator=(const PacketInProgress&) = delete;
  void Keep() { kept_ = true; }

 private:
  TInputFrameInfo& info_;
  AVPacket* packet_;
  bool kept_ = false;
};

// The pixels of a pal8 picture are indices: without its colour table the decoder would show
// them all black. The table goes with the first packet and with every one after a change, as
// the decoder keeps the last table it was given.
int AttachChangedPalette(FrameInputContext& c, const Bitmap& bitmap, AVPacket* packet) {
  std::uint32_t palette[AVPALETTE_COUNT];
  const std::vector<PaletteEntry>& entries = bitmap.Palette();
  for (std::size_t i = 0; i < AVPALETTE_COUNT; ++i) {
    const PaletteEntry entry = i < entries.size() ? entries[i] : PaletteEntry{};
    // The fourth byte of a bitmap's colour carries nothing: the colours are opaque.
    palette[i] = 0xFF000000u | static_cast<std::uint32_t>(entry.Red) << 16 |
                 static_cast<std::uint32_t>(entry.Green) << 8 | entry.Blue;
  }
  if (c.PaletteSent && std::memcmp(palette, c.SentPalette, sizeof palette) == 0) return 0;
  std::uint8_t* data = lib::av_packet_new_side_data(packet, AV_PKT_DATA_PALETTE, AVPALETTE_SIZE);
  if (data == nullptr) return kOutOfMemory;
  std::memcpy(data, palette, AVPALETTE_SIZE);
  std::memcpy(c.SentPalette, palette, sizeof palette);
  c.PaletteSent = true;
  return 0;
}

void LogFrameEnd(AVFormatContext* ic, std::int32_t inputType, int result) {
  for (const FrameEndRow& row : kFrameEnds) {
    if (row.Type == inputType) lib::av_log(ic, row.Level, row.Text, result);
  }
}

// After the handler: a time it set moves this frame and the ones after it, as long as it comes
// after the previous frame's.
void ApplyHandlerTime(AVFormatContext* ic, TInputFrameInfo& info, AVPacket* packet) {
  if (info.PTS == packet->pts) return;
  const std::optional<std::int64_t> nextTime =
      info.PTS > info.LastPTS ? Rescaled(info.PTS, info.RateNum, info.RateDen) : std::nullopt;
  if (!nextTime) {
    lib::av_log(ic, AV_LOG_WARNING, "invalid pts %lld\n", static_cast<long long>(info.PTS));
    return;
  }
  packet->pts = info.PTS;
  packet->dts = info.PTS;
  info.NextTime = *nextTime;
}

int ReadPacket(AVFormatContext* ic, AVPacket* packet) {
  FrameInputContext& c = ContextOf(ic);
  TInputFrameInfo& info = c.FrameInfo;
  if (lib::av_new_packet(packet, info.FrameSize) < 0) return kOutOfMemory;
  PacketInProgress inProgress(info, packet);

  // NextTime only grows by whole frames or from a checked time, so it always converts.
  info.PTS = Rescaled(info.NextTime, info.RateDen, info.RateNum).value_or(AV_NOPTS_VALUE);
  packet->pts = info.PTS;
  packet->dts = info.PTS;

  AdapterRegistry::Lease lease = AdapterRegistry::Instance().Borrow(c.Adapter);
  if (lease.Adapter() == nullptr) {
    lib::av_log(ic, AV_LOG_ERROR, "Invalid FrameInputAdapter\n");
    return kInvalidArgument;
  }
  const int result = FrameInputEvents::ReadFrame(*lease.Adapter(), info, packet->data);
  if (result < 0) {
    LogFrameEnd(ic, info.InputType, result);
    // A negative result is the handler's way to end the pictures, not a failure: the reader is
    // told the input has ended, which it takes quietly (any other code it reports as a read error,
    // and with -xerror fails the task).
    return AVERROR_EOF;
  }

  if (DrawsOnBitmap(info.InputType)) {
    const Bitmap& bitmap = *info.Bitmap;
    // The handler holds the bitmap itself; one that resized it would have the copy read past it.
    if (bitmap.Width() != info.Width || bitmap.Height() != info.Height || bitmap.BitsPerPixel() != info.BitsPerPixel) {
      lib::av_log(ic, AV_LOG_ERROR, "The frame bitmap was resized to %dx%d, %d bits, by the frame handler\n",
                  bitmap.Width(), bitmap.Height(), bitmap.BitsPerPixel());
      return kInvalidArgument;
    }
    CopyRowsTopFirst(bitmap, packet->data, info.Stride);
    packet->flags |= AV_PKT_FLAG_KEY;
    if (info.PixelFormat == AV_PIX_FMT_PAL8 && AttachChangedPalette(c, bitmap, packet) < 0) return kOutOfMemory;
  }

  ApplyHandlerTime(ic, info, packet);
  info.NextTime += kMicroseconds;
  info.FrameNumber += 1;
  info.LastPTS = packet->pts;
  inProgress.Keep();
  return info.FrameSize;
}

// ------------------------------------------------------------------ read close

int ReadClose(AVFormatContext* ic) {
  FrameInputContext& c = ContextOf(ic);
  ReleaseBuffers(c);
  AdapterRegistry::Lease lease = AdapterRegistry::Instance().Borrow(c.Adapter);
  if (lease.Adapter() == nullptr) return 0;
  TFrameInputAdapter& adapter = *lease.Adapter();
  FrameInputEvents::Detach(adapter, c.FrameInfo);
  // Closing runs on clean-up paths, destructors among them: a failing handler is logged, and the
  // input is closed all the same.
  try {
    FrameInputEvents::Notify(adapter, &TFrameInputAdapter::OnReadClose);
  } catch (const std::exception& e) {
    lib::av_log(ic, AV_LOG_ERROR, "%s\n", e.what());
  } catch (...) {
    lib::av_log(ic, AV_LOG_ERROR, "Unknown exception\n");
  }
  return 0;
}

// ------------------------------------------------------------------ registration

const char* FrameInputItemName(void* object) { return lib::av_default_item_name(object); }

const AVOption kFrameInputOptions[] = {
    {"input_type", "one of {canvas, bmp, dc, yuv}, default yuv", offsetof(FrameInputContext, InputType),
     AV_OPT_TYPE_STRING, {.str = "yuv"}, 0, 0, AV_OPT_FLAG_DECODING_PARAM, nullptr},
    {"video_size", "A string describing frame size, such as 640x480 or hd720.", offsetof(FrameInputContext, VideoSize),
     AV_OPT_TYPE_STRING, {.str = nullptr}, 0, 0, AV_OPT_FLAG_DECODING_PARAM, nullptr},
    {"framerate", "", offsetof(FrameInputContext, FrameRate), AV_OPT_TYPE_STRING, {.str = "ntsc"}, 0, 0,
     AV_OPT_FLAG_DECODING_PARAM, nullptr},
    {"pixel_format", "pal8/rgb555le/bgr24/bgra for canvas/bmp/dc", offsetof(FrameInputContext, PixelFormat),
     AV_OPT_TYPE_STRING, {.str = "yuv420p"}, 0, 0, AV_OPT_FLAG_DECODING_PARAM, nullptr},
    {nullptr, nullptr, 0, AV_OPT_TYPE_INT, {.i64 = 0}, 0, 0, 0, nullptr},
};

AVClass MakeFrameInputClass() {
  AVClass frameInputClass{};
  frameInputClass.class_name = "FrameInputFormat";
  frameInputClass.item_name = &FrameInputItemName;
  frameInputClass.option = kFrameInputOptions;
  frameInputClass.version = LIBAVUTIL_VERSION_INT;
  frameInputClass.category = AV_CLASS_CATEGORY_DEMUXER;
  return frameInputClass;
}

const AVClass kFrameInputClass = MakeFrameInputClass();

}  // namespace

void RegisterFrameInput() {
  // The class names itself through the library; without it bound, nothing here can log.
  if (lib::av_default_item_name == nullptr) throw EAssertionFailed("Assertion failure (frame_input.cpp)");
  InProcessInputFormat format;
  format.Name = "frameinput";
  format.LongName = "Frame input";
  format.PrivClass = &kFrameInputClass;
  format.PrivDataSize = static_cast<int>(sizeof(FrameInputContext));
  format.ReadHeader = &ReadHeader;
  format.ReadPacket = &ReadPacket;
  format.ReadClose = &ReadClose;
  RegisterDemuxerOnce(format);
}

}  // namespace lumivor
