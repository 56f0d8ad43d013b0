// The transcoder's data model: the records of one task (input files and streams, output files and
// streams, filter graphs), the per-file options context, the engine-wide settings, the option
// table's handlers and the fatal-error convention.
//
// Ownership. The engine owns every record through the five arrays below. Records are appended
// at the end and never reordered, so an index into an array stays valid for the life of the task
// and is what records use to refer to each other; the unique_ptr keeps each record at a fixed
// address as well, so the direct pointers between records (TInputFilter::Input, SyncInput, ...)
// stay valid while the arrays grow. Library objects a record holds are owned by it (the codec
// context of each stream included) and are freed with it, so every exit path cleans up.
//
// Everything here that touches the libraries needs them loaded (TFFLoader); creating the engine
// object does not.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

#include "media/engine/ff_options.h"
#include "media/engine/ffmpeg_exception.h"
#include "media/engine/input_formats.h"
#include "media/engine/interrupt_callbacks.h"
#include "media/runtime/library_objects.h"

namespace lumivor {

constexpr std::int64_t kNoLimit = std::numeric_limits<std::int64_t>::max();  // 9223372036854775807
constexpr std::int32_t kInt32Max = std::numeric_limits<std::int32_t>::max();  // 2147483647

struct BsfContextFree {
  void operator()(AVBSFContext* c) const { lib::av_bsf_free(&c); }
};
using BsfContextPtr = std::unique_ptr<AVBSFContext, BsfContextFree>;

struct ExpressionFree {
  void operator()(AVExpr* e) const { lib::av_expr_free(e); }
};
using ExpressionPtr = std::unique_ptr<AVExpr, ExpressionFree>;

struct CFileClose {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using CFilePtr = std::unique_ptr<std::FILE, CFileClose>;

class TCustomFFmpegOpt;
struct TInputFilter;
struct TOutputFilter;
struct TFilterGraph;

// ------------------------------------------------------------------ records

struct TInputFile {
  TInputFile() = default;
  ~TInputFile() { CloseInput(); }
  TInputFile(const TInputFile&) = delete;
  TInputFile& operator=(const TInputFile&) = delete;

  // Runs the in-process format's read close (when the input is one) and closes the context.
  // Safe to call twice.
  void CloseInput();

  InputFormatContextPtr Context;
  // Set when the input is one of the engine's in-process formats: its packets come from the
  // format's own read packet and its read close must run before the context goes.
  const InProcessInputFormat* InProcessFormat = nullptr;
  std::int32_t EofReached = 0;
  std::int32_t EAgain = 0;
  std::int32_t FirstStreamIndex = 0;
  std::int64_t TsOffset = 0;  // microseconds
  std::int32_t StreamCount = 0;
  std::int32_t StreamCountWarned = 0;
  std::int32_t RateEmu = 0;
};

// The last decoded subtitle, kept for fixing subtitle durations.
struct PrevSubtitle {
  PrevSubtitle();
  ~PrevSubtitle();
  PrevSubtitle(const PrevSubtitle&) = delete;
  PrevSubtitle& operator=(const PrevSubtitle&) = delete;

  std::int32_t GotOutput = 0;
  std::int32_t Ret = 0;
  AVSubtitle Subtitle;  // freed with avsubtitle_free
};

// Subtitles drawn onto a video canvas.
struct Sub2VideoCanvas {
  std::int64_t LastPts = 0;
  std::int64_t EndPts = 0;
  FramePtr Frame;  // the canvas
  std::int32_t W = 0;
  std::int32_t H = 0;
};

struct TInputStream {
  std::int32_t FileIndex = 0;
  AVStream* Stream = nullptr;  // the demuxer's
  std::int32_t Discard = 1;    // until an output uses the stream
  std::int32_t DecodingNeeded = 0;
  const AVCodec* Decoder = nullptr;
  CodecContextPtr DecoderContext;  // this stream's own decoder context
  FramePtr DecodedFrame;
  FramePtr FilterFrame;
  std::int64_t Start = 0;  // microseconds, as the times below
  std::int64_t NextDts = 0;
  std::int64_t Dts = 0;
  std::int64_t NextPts = 0;
  std::int64_t Pts = 0;
  std::int32_t WrapCorrectionDone = 0;
  std::int64_t FilterInRescaleDeltaLast = AV_NOPTS_VALUE;
  double TsScale = 1.0;
  std::int32_t IsStart = 0;
  std::int32_t SawFirstTs = 0;
  std::int32_t ShowedMultiPacketWarning = 0;
  DictionaryPtr DecoderOptions;
  AVRational FrameRate{0, 0};  // forced input rate; 0/0 when not forced
  std::int32_t TopFieldFirst = -1;
  std::int32_t GuessLayoutMax = kInt32Max;
  std::int32_t ResampleHeight = 0;
  std::int32_t ResampleWidth = 0;
  std::int32_t ResamplePixFmt = 0;
  std::int32_t ResampleSampleFmt = 0;
  std::int32_t ResampleSampleRate = 0;
  std::int32_t ResampleChannels = 0;
  std::uint64_t ResampleChannelLayout = 0;
  std::int32_t FixSubDuration = 0;
  PrevSubtitle PrevSub;
  Sub2VideoCanvas Sub2Video;
  std::vector<TInputFilter*> Filters;  // owned by their graphs
  std::int32_t ReinitFilters = -1;

  // Transcode state.
  std::int32_t DecodedFrames = 0;
  std::int32_t Flushed = 0;
  std::int32_t DecoderClosed = 0;
  std::int32_t Released = 0;

  int FilterCount() const { return static_cast<int>(Filters.size()); }
};

struct TOutputFile {
  TOutputFile() = default;
  ~TOutputFile() { CloseOutput(); }
  TOutputFile(const TOutputFile&) = delete;
  TOutputFile& operator=(const TOutputFile&) = delete;

  // Closes the byte stream the engine opened for the muxer (none for muxers without a file and
  // for custom I/O) and frees the context. Safe to call twice.
  void CloseOutput();
  // Closes only the byte stream, keeping the context: 0, or the library's error when the last
  // buffered bytes could not be written or the file could not be closed (a full disk, a file
  // size limit), which means the file on disk is incomplete.
  int CloseByteStream();

  // Null on the further records of a join task: they write into the first record's muxer
  // context with the first record's MuxerOptions.
  OutputFormatContextPtr Context;
  DictionaryPtr MuxerOptions;
  std::int32_t FirstStreamIndex = 0;
  std::int64_t RecordingTime = kNoLimit;  // microseconds
  std::int64_t StartTime = 0;             // microseconds
  std::int64_t LimitFileSize = kNoLimit;  // bytes
  std::int32_t Shortest = 0;
};

constexpr int kMaxAudioChannelsMap = 32;

struct TOutputStream {
  std::int32_t FileIndex = 0;
  std::int32_t Index = 0;         // inside the output file
  std::int32_t SourceIndex = -1;  // in InputStreams; -1 when fed by a complex graph
  AVStream* Stream = nullptr;     // the muxer's
  std::int32_t EncodingNeeded = 0;
  std::int32_t FrameNumber = 0;
  TInputStream* SyncInput = nullptr;
  std::int64_t SyncOpts = 0;
  std::int64_t FirstPts = 0;
  std::vector<BsfContextPtr> BitstreamFilters;  // in the order given
  const AVCodec* Encoder = nullptr;             // null when copied or no encoder is known
  CodecContextPtr EncoderContext;               // this stream's own encoder context
  std::int64_t MaxFrames = kNoLimit;
  FramePtr FilteredFrame;
  AVRational FrameRate{0, 0};
  std::int32_t ForceFps = 0;
  std::int32_t TopFieldFirst = -1;
  float FrameAspectRatio = 0;
  float LastQuality = 0;
  std::vector<std::int64_t> ForcedKfPts;
  std::int32_t ForcedKfCount = 0;
  std::int32_t ForcedKfIndex = 0;
  std::string ForcedKeyFrames;
  ExpressionPtr ForcedKeyFramesExpr;
  std::vector<double> ForcedKeyFramesValues;
  std::int32_t AudioChannelsMap[kMaxAudioChannelsMap] = {};
  std::int32_t AudioChannelsMapped = 0;
  std::string LogFilePrefix;
  CFilePtr LogFile;
  TOutputFilter* Filter = nullptr;  // owned by its graph
  std::string FilterSpec;
  std::int64_t SwsFlags = 0;
  DictionaryPtr EncoderOptions;
  DictionaryPtr ResamplerOptions;
  DictionaryPtr ResampleOptions;
  std::int32_t Finished = 0;
  std::int32_t Unavailable = 0;
  std::int32_t StreamCopy = 0;
  std::string AttachmentFileName;
  std::int32_t CopyInitialNonKeyframes = 0;
  std::int32_t CopyPriorStart = -1;
  std::int32_t KeepPixFmt = 0;
  std::int64_t LastMuxPts = AV_NOPTS_VALUE;
  std::int64_t LastMuxDts = AV_NOPTS_VALUE;
  std::int32_t OwnsOptions = 1;
  std::int32_t OwnsCodec = 1;

  // Transcode state.
  std::int32_t EncoderOpened = 0;
  std::int32_t EncoderClosed = 0;
  std::int32_t Flushed = 0;
  std::int32_t DurationCounted = 0;
  AVCodecID SavedCodecId = AV_CODEC_ID_NONE;
  DictionaryPtr SavedOptions;
  std::int32_t SavedMaxBFrames = 0;

  // Join mode: a clone made for a further input stands for this stream of the first output. It
  // shares that stream's muxer stream and codec context, which the original keeps owning (the
  // clone's EncoderContext stays null and OwnsCodec 0); Codec() gives the context either way.
  TOutputStream* JoinOriginal = nullptr;
  AVCodecContext* Codec() const {
    return JoinOriginal != nullptr ? JoinOriginal->EncoderContext.get() : EncoderContext.get();
  }
};

struct TInputFilter {
  AVFilterContext* Filter = nullptr;  // owned by the graph's library graph
  TInputStream* Input = nullptr;
  TFilterGraph* Graph = nullptr;
  std::string Name;
};

struct TOutputFilter {
  AVFilterContext* Filter = nullptr;  // owned by the graph's library graph
  TOutputStream* Output = nullptr;
  TFilterGraph* Graph = nullptr;
  std::string Name;
  FilterInOutPtr PendingOutput;  // unconnected output pad, kept until maps are processed
};

struct TFilterGraph {
  std::int32_t Index = 0;
  std::string Description;
  FilterGraphPtr Graph;  // null until configured
  std::int32_t Reconfiguration = 0;
  std::vector<std::unique_ptr<TInputFilter>> Inputs;
  std::vector<std::unique_ptr<TOutputFilter>> Outputs;

  int InputCount() const { return static_cast<int>(Inputs.size()); }
  int OutputCount() const { return static_cast<int>(Outputs.size()); }
  // A simple graph has no description of its own: it is its one output stream's FilterSpec.
  bool IsSimple() const { return Description.empty() && OutputCount() == 1 && Outputs[0]->Output != nullptr; }
};

// One "map" option.
struct TStreamMap {
  std::int32_t Disabled = 0;
  std::int32_t FileIndex = 0;
  std::int32_t StreamIndex = 0;
  std::int32_t SyncFileIndex = 0;
  std::int32_t SyncStreamIndex = 0;
  std::string LinkLabel;  // a map written as "[label]"; empty otherwise
};

// One "map_channel" option; -1 = any / muted.
struct TAudioChannelMap {
  std::int32_t FileIndex = 0;
  std::int32_t StreamIndex = 0;
  std::int32_t ChannelIndex = 0;
  std::int32_t OutputFileIndex = 0;
  std::int32_t OutputStreamIndex = 0;
};

// ------------------------------------------------------------------ the per-file context

// The values of one file's options. Value rows of the option table name these fields by offset,
// so the struct must stay standard-layout (checked below).
struct TOptionsContext {
  TOptionGroup* Group = nullptr;
  std::int64_t StartTime = 0;  // microseconds
  std::string Format;
  SpecifierList CodecNames;
  SpecifierList AudioChannels;
  SpecifierList AudioSampleRates;
  SpecifierList FrameRates;
  SpecifierList FrameSizes;
  SpecifierList FramePixFmts;
  std::int64_t InputTsOffset = 0;
  std::int32_t RateEmu = 0;
  SpecifierList TsScale;
  SpecifierList DumpAttachment;
  std::vector<TStreamMap> StreamMaps;
  std::vector<TAudioChannelMap> AudioChannelMaps;
  std::int32_t MetadataGlobalManual = 0;
  std::int32_t MetadataStreamsManual = 0;
  std::int32_t MetadataChaptersManual = 0;
  std::vector<std::string> Attachments;
  std::int32_t ChaptersInputFile = kInt32Max;  // choose automatically
  std::int64_t RecordingTime = kNoLimit;
  std::int64_t StopTime = kNoLimit;
  std::int64_t LimitFileSize = kNoLimit;
  float MuxPreload = 0;
  float MuxMaxDelay = 0.7f;
  std::int32_t Shortest = 0;
  std::int32_t VideoDisable = 0;
  std::int32_t AudioDisable = 0;
  std::int32_t SubtitleDisable = 0;
  std::int32_t DataDisable = 0;
  std::vector<std::int32_t> StreamIdMap;
  SpecifierList Metadata;
  SpecifierList MaxFrames;
  SpecifierList BitstreamFilters;
  SpecifierList CodecTags;
  SpecifierList SampleFmts;
  SpecifierList QScale;
  SpecifierList ForcedKeyFrames;
  SpecifierList ForceFps;
  SpecifierList FrameAspectRatios;
  SpecifierList RcOverrides;
  SpecifierList IntraMatrices;
  SpecifierList InterMatrices;
  SpecifierList TopFieldFirst;
  SpecifierList MetadataMap;
  SpecifierList CopyInitialNonKeyframes;
  SpecifierList CopyPriorStart;
  SpecifierList FilterTexts;
  SpecifierList ReinitFilters;
  SpecifierList FixSubDuration;
  SpecifierList Pass;
  SpecifierList PassLogFiles;
  SpecifierList GuessLayoutMax;

  int StreamMapCount() const { return static_cast<int>(StreamMaps.size()); }
  int AudioChannelMapCount() const { return static_cast<int>(AudioChannelMaps.size()); }
  int AttachmentCount() const { return static_cast<int>(Attachments.size()); }
  int StreamIdMapCount() const { return static_cast<int>(StreamIdMap.size()); }
};

static_assert(std::is_standard_layout_v<TOptionsContext>, "option rows address TOptionsContext fields by offset");

// The value kind of each per-stream list: MatchPerStream<&TOptionsContext::QScale> reads the
// Double member, and reading a list as the wrong kind does not compile.
template <auto List>
struct ListValue;
#define LUMIVOR_LIST_VALUE(list, member)                     \
  template <>                                                \
  struct ListValue<&TOptionsContext::list> {                \
    static constexpr auto Member = &SpecifierValue::member; \
  };
LUMIVOR_LIST_VALUE(CodecNames, Str)
LUMIVOR_LIST_VALUE(AudioChannels, Int)
LUMIVOR_LIST_VALUE(AudioSampleRates, Int)
LUMIVOR_LIST_VALUE(FrameRates, Str)
LUMIVOR_LIST_VALUE(FrameSizes, Str)
LUMIVOR_LIST_VALUE(FramePixFmts, Str)
LUMIVOR_LIST_VALUE(TsScale, Double)
LUMIVOR_LIST_VALUE(DumpAttachment, Str)
LUMIVOR_LIST_VALUE(Metadata, Str)
LUMIVOR_LIST_VALUE(MaxFrames, Int64)
LUMIVOR_LIST_VALUE(BitstreamFilters, Str)
LUMIVOR_LIST_VALUE(CodecTags, Str)
LUMIVOR_LIST_VALUE(SampleFmts, Str)
LUMIVOR_LIST_VALUE(QScale, Double)
LUMIVOR_LIST_VALUE(ForcedKeyFrames, Str)
LUMIVOR_LIST_VALUE(ForceFps, Int)
LUMIVOR_LIST_VALUE(FrameAspectRatios, Str)
LUMIVOR_LIST_VALUE(RcOverrides, Str)
LUMIVOR_LIST_VALUE(IntraMatrices, Str)
LUMIVOR_LIST_VALUE(InterMatrices, Str)
LUMIVOR_LIST_VALUE(TopFieldFirst, Int)
LUMIVOR_LIST_VALUE(MetadataMap, Str)
LUMIVOR_LIST_VALUE(CopyInitialNonKeyframes, Int)
LUMIVOR_LIST_VALUE(CopyPriorStart, Int)
LUMIVOR_LIST_VALUE(FilterTexts, Str)
LUMIVOR_LIST_VALUE(ReinitFilters, Int)
LUMIVOR_LIST_VALUE(FixSubDuration, Int)
LUMIVOR_LIST_VALUE(Pass, Int)
LUMIVOR_LIST_VALUE(PassLogFiles, Str)
LUMIVOR_LIST_VALUE(GuessLayoutMax, Int)
#undef LUMIVOR_LIST_VALUE

template <auto List>
using ListValueType =
    std::remove_cvref_t<decltype(std::declval<SpecifierValue&>().*(ListValue<List>::Member))>;

// Raises the fatal "check_stream_specifier: ..." error for a malformed specifier.
[[noreturn]] void FailStreamSpecifier(TCustomFFmpegOpt& engine, int code);

// ------------------------------------------------------------------ the engine

class TCustomFFmpegOpt : public OptionHost {
 public:
  // Sets the engine-wide defaults and installs the interrupt callbacks; needs no library.
  TCustomFFmpegOpt();
  virtual ~TCustomFFmpegOpt();
  TCustomFFmpegOpt(const TCustomFFmpegOpt&) = delete;
  TCustomFFmpegOpt& operator=(const TCustomFFmpegOpt&) = delete;

  // OptionHost
  bool StrictMode() const override { return StrictOptions != 0; }
  void SetLastErrMsg(const std::string& text) override { LastErrMsg = text; }
  TFFOptions& OptionParser() override { return Options; }
  const TOptionDef* OptionRows() const override { return OptionTable.data(); }

  // ---- the per-file context
  void InitOptionsContext(TOptionsContext& o);
  void ReleaseOptionsContext(TOptionsContext& o);

  // Reads a per-stream list for one stream: the last element whose specifier matches wins;
  // no match gives defaultValue. A malformed specifier is fatal.
  template <auto List>
  ListValueType<List> MatchPerStream(const TOptionsContext& o, AVFormatContext* s, AVStream* st,
                                      ListValueType<List> defaultValue) {
    ListValueType<List> result = std::move(defaultValue);
    for (const TSpecifierOpt& element : o.*List) {
      const int match = MatchStreamSpecifier(s, st, element.Specifier.c_str());
      if (match < 0) FailStreamSpecifier(*this, match);
      if (match > 0) result = element.Value.*(ListValue<List>::Member);
    }
    return result;
  }
  // As MatchPerStream, but nothing matching gives no value, so that a value given empty ("-s ''")
  // is told from one not given at all and refused like any other bad value.
  template <auto List>
  std::optional<ListValueType<List>> MatchPerStreamGiven(const TOptionsContext& o, AVFormatContext* s,
                                                          AVStream* st) {
    std::optional<ListValueType<List>> result;
    for (const TSpecifierOpt& element : o.*List) {
      const int match = MatchStreamSpecifier(s, st, element.Specifier.c_str());
      if (match < 0) FailStreamSpecifier(*this, match);
      if (match > 0) result = element.Value.*(ListValue<List>::Member);
    }
    return result;
  }
  // The input codec-name reader: the last element whose whole specifier equals the letter
  // ("v", "a" or "s"), or null.
  const std::string* MatchPerType(const TOptionsContext& o, const SpecifierList& list, char letter) const;

  // ---- fatal errors: LastErrMsg, a fatal log line, then FFmpegException
  [[noreturn]] void Fail(const std::string& text);
  [[noreturn]] void FailFmt(const char* format, ...) __attribute__((format(printf, 2, 3)));
  // Refuses options the library left in the dictionary: fatal in strict mode, else only
  // LastErrMsg. An empty or null dictionary passes.
  void CheckUnusedOptions(const AVDictionary* options);
  [[noreturn]] void AbortCodecExperimental(const AVCodec* codec, bool encoder);

  // ---- the option table (built once; a second call does nothing)
  void BuildOptionTable();

  // ---- interrupt callbacks and run control
  void StampReadStart() { ReadStartTime.store(MonotonicMicroseconds()); }
  void StampWriteStart() { WriteStartTime.store(MonotonicMicroseconds()); }
  // Sets StopRequested and opens the pause gate for good, so that a paused worker sees the stop
  // and a later Pause cannot hold it.
  void RequestStop();

  // ---- input setup and output stream creation (defined with the input and output setup)
  int OpenInputFile(TOptionsContext& o, const std::string& optionText, const std::string& fileName,
                    const std::string& presetText);
  // The parts of OpenInputFile, in its order; those answering int give 0 or a negative code with
  // LastErrMsg set and logged.
  int FindInputFormat(const TOptionsContext& o, const InProcessInputFormat*& inProcess, const AVInputFormat*& format);
  void SetDemuxerOptions(TOptionsContext& o, const AVInputFormat* format);
  void ForceInputCodecs(TOptionsContext& o, AVFormatContext* ic);
  // On success the file holds the opened demuxer.
  int OpenDemuxer(TOptionsContext& o, const std::string& fileName, const InProcessInputFormat* inProcess,
                  const AVInputFormat* format, OutputFormatContextPtr allocated, TInputFile& file);
  // Probes the streams, seeks to the start time and appends the file's input streams.
  int ReadInputStreams(TOptionsContext& o, const std::string& fileName, TInputFile& file);
  // The time the input was asked to start at, in the library's time base.
  std::int64_t SeekInputStart(const TOptionsContext& o, const std::string& fileName, TInputFile& file);
  void DumpRequestedAttachments(const TOptionsContext& o, AVFormatContext* ic);
  void AddInputStreams(TOptionsContext& o, AVFormatContext* ic);
  const AVCodec* ChooseDecoder(TOptionsContext& o, AVFormatContext* s, AVStream* st);
  const AVCodec* FindCodecOrFail(const char* name, AVMediaType type, bool encoder);
  void DumpAttachment(AVStream* st, const std::string& fileName);
  bool CheckFileOverwrite(const std::string& fileName);
  TOutputStream* NewOutputStream(TOptionsContext& o, AVFormatContext* oc, int sourceIndex, AVMediaType type);
  TOutputStream* NewVideoStream(TOptionsContext& o, AVFormatContext* oc, int sourceIndex);
  TOutputStream* NewAudioStream(TOptionsContext& o, AVFormatContext* oc, int sourceIndex);
  TOutputStream* NewSubtitleStream(TOptionsContext& o, AVFormatContext* oc, int sourceIndex);
  TOutputStream* NewDataStream(TOptionsContext& o, AVFormatContext* oc, int sourceIndex);
  TOutputStream* NewAttachmentStream(TOptionsContext& o, AVFormatContext* oc, int sourceIndex);
  void ChooseEncoder(TOptionsContext& o, AVFormatContext* s, TOutputStream& ost);
  // Handler of the "target" row: 0 or -22.
  int SetTarget(TOptionsContext* o, const char* key, const char* argument);

  // ---- handlers of the option table (context is null for global rows)
  int RejectIgnored(TOptionsContext* o, const char* key, const char* argument);
  int RejectUnsupported(TOptionsContext* o, const char* key, const char* argument);
  int RejectRemoved(TOptionsContext* o, const char* key, const char* argument);
  int NoOperation(TOptionsContext* o, const char* key, const char* argument);
  int SetLogLevelOption(TOptionsContext* o, const char* key, const char* argument);
  int SetMaxAlloc(TOptionsContext* o, const char* key, const char* argument);
  int SetCpuFlags(TOptionsContext* o, const char* key, const char* argument);
  int MapStream(TOptionsContext* o, const char* key, const char* argument);
  int MapAudioChannel(TOptionsContext* o, const char* key, const char* argument);
  int AddAttachment(TOptionsContext* o, const char* key, const char* argument);
  int AddComplexFilter(TOptionsContext* o, const char* key, const char* argument);
  int SetRecordingTimestamp(TOptionsContext* o, const char* key, const char* argument);
  int SetFramesAlias(TOptionsContext* o, const char* key, const char* argument);
  int SetCodecAlias(TOptionsContext* o, const char* key, const char* argument);
  int SetFilterAlias(TOptionsContext* o, const char* key, const char* argument);
  int SetAudioQuality(TOptionsContext* o, const char* key, const char* argument);
  int SetOldToNew(TOptionsContext* o, const char* key, const char* argument);
  int SetQScale(TOptionsContext* o, const char* key, const char* argument);
  int SetProfile(TOptionsContext* o, const char* key, const char* argument);
  int SetBitrate(TOptionsContext* o, const char* key, const char* argument);
  int SetTimecode(TOptionsContext* o, const char* key, const char* argument);
  int SetChannelLayout(TOptionsContext* o, const char* key, const char* argument);
  int SetStreamId(TOptionsContext* o, const char* key, const char* argument);
  int SetProgressUrl(TOptionsContext* o, const char* key, const char* argument);
  int SetVideoSync(TOptionsContext* o, const char* key, const char* argument);
  int SetDeinterlace(TOptionsContext* o, const char* key, const char* argument);
  int SetVstats(TOptionsContext* o, const char* key, const char* argument);
  int SetVstatsFile(TOptionsContext* o, const char* key, const char* argument);
  int SetVideoChannel(TOptionsContext* o, const char* key, const char* argument);
  int SetVideoStandard(TOptionsContext* o, const char* key, const char* argument);
  int SetTimeStartSeconds(TOptionsContext* o, const char* key, const char* argument);
  int SetTimeLengthSeconds(TOptionsContext* o, const char* key, const char* argument);
  // ---- filter graphs (filter_graphs.cpp)
  // A new simple graph between one input and one output stream; null when out of memory.
  TFilterGraph* InitSimpleFilterGraph(TInputStream& ist, TOutputStream& ost);
  // 0 or a negative library code; frees and rebuilds the graph's library object.
  int ConfigureFilterGraph(TFilterGraph& fg);
  // Configures every graph not configured yet, in order; stops at the first failure.
  int ConfigureComplexFilters();
  // 1 when one of the graph's inputs is fed by that stream.
  static int InputFeedsGraph(const TFilterGraph& fg, const TInputStream& ist);
  // Binds an unconnected input pad of a new complex graph to an input stream, by label or by
  // type; a binding error is fatal.
  void InitInputFilter(TFilterGraph& fg, AVFilterInOut* in);
  // Connects a pending graph output to a new stream of the output being opened; fatal on error.
  int InitOutputFilter(TOutputFilter& ofilter, TOptionsContext& o, AVFormatContext* oc);
  int ConfigureInputFilter(TFilterGraph& fg, TInputFilter& ifilter, AVFilterInOut* in);
  // The source of an input pad with its conversion filters, by the pad's type.
  int ConfigureVideoInputFilter(TFilterGraph& fg, TInputFilter& ifilter, AVFilterInOut* in);
  int ConfigureAudioInputFilter(TFilterGraph& fg, TInputFilter& ifilter, AVFilterInOut* in);
  // The "abuffer" source's argument text.
  static std::string AudioSourceArgs(const TInputStream& ist);
  int ConfigureOutputFilter(TFilterGraph& fg, TOutputFilter& ofilter, AVFilterInOut* out);
  // The encoder's format closest to the wanted one (the wanted one when the encoder takes it).
  static AVPixelFormat ChoosePixelFormat(const AVCodecContext* codec, const AVCodec* encoder, AVPixelFormat target);
  static AVSampleFormat ChooseSampleFormat(const AVCodec* encoder, AVSampleFormat target);
  // What the stream's encoder accepts, as the argument of a "format" or "aformat" filter: a
  // "|"-separated list, or empty when anything goes. The pixel format list of a stream whose
  // format was given with "+" also switches off the graph's automatic conversion.
  std::string ChoosePixFmtList(TOutputStream& ost);
  static std::string ChooseSampleFmtList(const TOutputStream& ost);
  static std::string ChooseSampleRateList(const TOutputStream& ost);
  static std::string ChooseChannelLayoutList(const TOutputStream& ost);
  // Gives a subtitle stream that feeds a video pad a transparent canvas; 0 or a negative code.
  int PrepareSub2Video(TInputStream& ist);

  // ---- output files and join mode (output_files.cpp, join_mode.cpp)
  // Index of the new output file, or -1 with LastErrMsg set (or the option parser's negative code).
  int OpenOutputFile(TOptionsContext& o, const std::string& optionText, bool join, const std::string& fileName,
                     const std::string& presetText);
  void FreeOutputStreams();
  // Automatic stream choice among the streams of one input (any input for -1): the largest
  // picture (only cover pictures for muxers that keep video so), the most channels; -1 for none.
  int ChooseVideoStream(const AVOutputFormat* format, int fileIndex) const;
  int ChooseAudioStream(int fileIndex) const;
  // The steps of OpenOutputFile, in the order it takes them. Those answering int give 0, or -1
  // with LastErrMsg set; the caller then abandons the whole output.
  int FailOutputSetup(const std::string& text);
  int AllocateOutputContext(const TOptionsContext& o, const std::string& fileName, OutputFormatContextPtr& context);
  void ConnectUnlabelledGraphOutputs(TOptionsContext& o, AVFormatContext* oc);
  // Without -map: the best video and audio stream and the first subtitle stream of sourceFile
  // (any input for -1).
  void AddAutomaticStreams(TOptionsContext& o, AVFormatContext* oc, int sourceFile);
  TOutputFilter* FindLabelledGraphOutput(const std::string& label) const;
  int AddMappedStreams(TOptionsContext& o, AVFormatContext* oc, bool joinOutput);
  int AddAttachments(TOptionsContext& o, AVFormatContext* oc);
  int ApplyFlagsToCopiedStreams(const TOptionsContext& o, AVFormatContext* oc, int firstNewStream);
  // Reconciles -t, -to and -ss and widens TotalDuration to the output's length.
  void SettleDurationOptions(TOptionsContext& o);
  // Moves the context into a new record; raises FFmpegException when memory runs out, the
  // context then still being the caller's.
  void AppendOutputFileRecord(const TOptionsContext& o, OutputFormatContextPtr& context);
  int OpenOutputByteStream(const TOptionsContext& o, TOutputFile& of, const std::string& fileName);
  int MapOutputMetadata(TOptionsContext& o, AVFormatContext* oc);
  int MapOutputChapters(const TOptionsContext& o, const TOutputFile& of, const std::string& fileName);
  // The first input's global metadata and each stream's source metadata, unless set by hand.
  void CopyInputMetadata(const TOptionsContext& o, const TOutputFile& of);
  int SetOutputMetadata(const TOptionsContext& o, AVFormatContext* oc);
  // Metadata specifiers ("g", "s[:spec]", "c[:index]", "p[:index]"): 0, or -1 with LastErrMsg.
  int ParseMetaType(const std::string& text, char& type, std::string& streamSpecifier, int& index);
  // One "map_metadata" entry; input context null for a negative input index. 0 or negative.
  int CopyMetadata(const std::string& outSpec, const std::string& inSpec, TOptionsContext& o, AVFormatContext* oc,
                   AVFormatContext* ic);
  // 0 or -12.
  static int CopyChapters(const TInputFile& ifile, const TOutputFile& ofile, bool copyMetadata);
  // Join mode, right after the only output has been assembled from input 0: 0 or -1.
  int SetupJoin(TOptionsContext& o);
  // Clones the first output's streams for input k; the new output file index, or -1.
  int JoinInputFile(TOptionsContext& o, int inputIndex);

  // "vhook" and "VideoHookBitsPixel": provided by the transcoding engine.
  virtual int AddVideoHook(TOptionsContext* o, const char* key, const char* argument) = 0;
  virtual int SetVideoHookBitsPixel(TOptionsContext* o, const char* key, const char* argument) = 0;

  int InputFileCount() const { return static_cast<int>(InputFiles.size()); }
  int InputStreamCount() const { return static_cast<int>(InputStreams.size()); }
  int OutputFileCount() const { return static_cast<int>(OutputFiles.size()); }
  int OutputStreamCount() const { return static_cast<int>(OutputStreams.size()); }
  int FilterGraphCount() const { return static_cast<int>(FilterGraphs.size()); }

  // ---- records (declared in this order so that they are freed graphs first, inputs last)
  std::vector<std::unique_ptr<TInputFile>> InputFiles;
  std::vector<std::unique_ptr<TInputStream>> InputStreams;
  std::vector<std::unique_ptr<TOutputFile>> OutputFiles;
  std::vector<std::unique_ptr<TOutputStream>> OutputStreams;
  std::vector<std::unique_ptr<TFilterGraph>> FilterGraphs;

  // ---- engine-wide settings
  std::string VstatsFileName;
  float AudioDriftThreshold = 0.1f;
  float DtsDeltaThreshold = 10;
  float DtsErrorThreshold = 108000;  // 3600 * 30
  std::int32_t AudioVolume = 256;
  std::int32_t AudioSyncMethod = 0;
  std::int32_t VideoSyncMethod = -1;  // auto
  std::int32_t DoDeinterlace = 0;
  std::int32_t DoHexDump = 0;
  std::int32_t DoPktDump = 0;
  std::int32_t CopyTs = 0;
  std::int32_t CopyTb = -1;
  std::int32_t DebugTs = 0;
  std::int32_t ExitOnError = 0;
  std::int32_t PrintStats = -1;
  std::int32_t QpHist = 0;
  std::int32_t FrameBitsPerRawSample = 0;
  std::int32_t IntraOnly = 0;
  std::int32_t FileOverwrite = 0;
  std::int32_t NoFileOverwrite = 0;
  std::int32_t VideoDiscard = 0;
  std::int32_t IntraDcPrecision = 8;
  std::int32_t DoPsnr = 0;
  std::int32_t InputSync = 0;  // accepted, no effect
  OpenedIOContextPtr ProgressOutput;
  std::vector<TOptionDef> OptionTable;  // ends with the terminator row once built
  TFFOptions Options;
  std::uint8_t StrictOptions = 1;
  std::uint8_t JoinMode = 0;
  std::int32_t JoinStreamCount = 0;
  // Written by run control from another thread, read by the callbacks on the blocked one.
  std::atomic<bool> StopRequested{false};
  // Set by the transcode once the output headers are written: from then on the write callback
  // no longer gives up on a stop (only on the time-out), since a write broken off would leave the
  // byte stream failed and the trailer unwritten. The loop sees the stop at its next turn.
  std::atomic<bool> IgnoreStopOnWrite{false};
  std::int32_t ReadTimeout = 30000;  // milliseconds; 0 or less = no time-out
  std::int32_t WriteTimeout = 30000;
  std::atomic<std::int64_t> ReadStartTime{kNoLimit};  // microseconds; kNoLimit = idle
  std::atomic<std::int64_t> WriteStartTime{kNoLimit};
  std::int64_t MaxInputDuration = -1;
  std::int64_t TotalDuration = -1;
  std::string LastErrMsg;
  std::function<void(TCustomFFmpegOpt* sender, AVFormatContext* context)> OnBeforeFindStreamInfo;

  // Closed by Pause, opened by Resume and by a stop request; the worker waits at it.
  RunGate PauseGate;
  // Given to every demuxer context and byte stream that reads (read) or writes (write).
  AVIOInterruptCB ReadInterrupt{};
  AVIOInterruptCB WriteInterrupt{};

 private:
  int TimeSecondsOption(TOptionsContext* o, const char* target, const char* argument);
};

// Keeps a context initialised for the length of one input or output, and releases it on every
// way out, a raised FFmpegException included:
//   OptionsContextScope scope(engine);
//   engine.OpenInputFile(scope.Context(), text, name, preset);
class OptionsContextScope {
 public:
  explicit OptionsContextScope(TCustomFFmpegOpt& engine) : engine_(engine) { engine_.InitOptionsContext(context_); }
  ~OptionsContextScope() { engine_.ReleaseOptionsContext(context_); }
  OptionsContextScope(const OptionsContextScope&) = delete;
  OptionsContextScope& operator=(const OptionsContextScope&) = delete;

  TOptionsContext& Context() { return context_; }

 private:
  TCustomFFmpegOpt& engine_;
  TOptionsContext context_;
};

// Guesses a channel layout for an audio input stream that has none (up to GuessLayoutMax
// channels); true when the stream has a layout afterwards. Defined with the input setup.
bool GuessInputChannelLayout(TInputStream& ist);

}  // namespace lumivor
