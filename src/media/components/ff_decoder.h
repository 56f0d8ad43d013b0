// The decoder component: opens a media file through the library and reports what is in it, for
// the audio track list's durations, the file reports and the encoder's description of its inputs.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "media/components/ff_base_component.h"
#include "media/engine/format_converter.h"
#include "media/runtime/library_objects.h"

namespace lumivor {

struct TFileStreamInfo {
  std::int64_t StartTime = AV_NOPTS_VALUE;  // microseconds
  std::int64_t Duration = -1;               // microseconds
  int BitRate = -1;
  int Year = -1;
  int Track = -1;
  std::string Title, Author, Copyright, Comment, Album, Genre;
};

struct TAudioStreamInfo {
  std::string Language;
  std::string CodecName;
  std::int64_t StartTime = -1;    // stream time-base units
  std::int64_t StartTimeUS = -1;  // set only when the start time is known
  std::int64_t Duration = -1;
  std::int64_t DurationUS = -1;
  int BitRate = -1;
  int Channels = -1;
  int SampleRate = -1;
  int SampleFormat = -1;
};

struct TVideoStreamInfo {
  std::string Language;
  std::string CodecName;
  std::int64_t StartTime = -1;
  std::int64_t StartTimeUS = -1;
  std::int64_t Duration = -1;
  std::int64_t DurationUS = -1;
  int BitRate = -1;
  int Height = -1;
  int Width = -1;
  float SampleAspect = -1.0f;
  float DisplayAspect = -1.0f;
  int SampleAspectNum = 0;
  int SampleAspectDen = 1;
  int DisplayAspectNum = 0;
  int DisplayAspectDen = 1;
  int PixelFormat = -1;
  int FrameRateNum = 0;
  int FrameRateDen = 1;
};

class TCustomDecoder;
using TBeforeFindStreamInfoEvent = std::function<void(TCustomDecoder* sender, AVFormatContext* formatContext)>;

class TCustomDecoder : public TFFBaseComponent {
 public:
  TCustomDecoder();
  ~TCustomDecoder() override;
  TCustomDecoder(const TCustomDecoder&) = delete;
  TCustomDecoder& operator=(const TCustomDecoder&) = delete;

  bool TriggerEventInMainThread = true;
  TBeforeFindStreamInfoEvent OnBeforeFindStreamInfo;

  bool LibrariesLoaded() const;
  bool LoadLibraries(const std::string& folder);

  // A library option for the next LoadFile (demuxer, protocol or decoder option); options are
  // used once and reset by LoadFile whatever its result.
  void SetOption(const std::string& key, const std::string& value);

  bool LoadFile(const std::string& fileName, const std::string& formatName = std::string());
  // Describes a context opened elsewhere; the component never closes it.
  void AttachContext(AVFormatContext* formatContext);
  void CloseFile();

  bool GetFileStreamInfo(TFileStreamInfo& info);
  bool GetAudioStreamInfo(int streamIndex, TAudioStreamInfo& info);
  bool GetVideoStreamInfo(int streamIndex, TVideoStreamInfo& info);
  bool IsAudioStream(int streamIndex) const;
  bool IsVideoStream(int streamIndex) const;
  std::string FileInfoText();

  // State; every value is -1 while no file is open.
  std::int64_t FileSize = -1;
  int StreamCount = -1;
  int ProgramCount = -1;
  int AudioStreamCount = -1;
  int VideoStreamCount = -1;
  int SubtitleStreamCount = -1;
  int FirstAudioStream = -1;
  int FirstVideoStream = -1;
  int FirstSubtitleStream = -1;
  std::string LastErrorText;
  std::string ForcedFormat;

  AVFormatContext* FormatContext() const { return context_; }

 protected:
  // Options this class takes for itself before the rest go to the library; true when taken.
  virtual bool TakeOption(const std::string& key, const std::string& value);

 private:
  static int InterruptCallback(void* opaque);
  void ResetOptions();
  void ResetState();
  void RefreshState();
  void SetError(const std::string& text, bool warning = false);
  bool StreamCheck(int& streamIndex, AVMediaType type);

  AVFormatContext* context_ = nullptr;  // the open file, or an attached context
  InputFormatContextPtr ownedContext_;  // set when this component opened context_
  std::string fileName_;
  std::vector<std::pair<std::string, std::string>> pendingOptions_;
  // When the running open or probe began (MonotonicMicroseconds); 0 = none. Read by the interrupt
  // callback on whichever thread the library calls it.
  std::atomic<std::int64_t> operationStart_{0};
};

class TFFDecoder : public TCustomDecoder {
 public:
  TFormatConverter& Converter() { return converter_; }

 protected:
  bool TakeOption(const std::string& key, const std::string& value) override;

 private:
  TFormatConverter converter_;
};

}  // namespace lumivor
