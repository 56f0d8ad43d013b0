#pragma once

// Ownership of library objects: one unique_ptr alias per library type, freed
// through the lib:: slots, so every exit path and every exception releases
// what it holds. The libraries must still be loaded when an owner dies.

#include <memory>

#include "media/runtime/ff_load.h"

namespace lumivor {

// An input context opened by avformat_open_input.
struct InputFormatContextFree {
  void operator()(AVFormatContext* c) const { lib::avformat_close_input(&c); }
};
using InputFormatContextPtr = std::unique_ptr<AVFormatContext, InputFormatContextFree>;

// An output (or I/O-less) context from avformat_alloc_output_context2 or
// avformat_alloc_context. Its byte stream, if any, is owned separately.
struct OutputFormatContextFree {
  void operator()(AVFormatContext* c) const { lib::avformat_free_context(c); }
};
using OutputFormatContextPtr = std::unique_ptr<AVFormatContext, OutputFormatContextFree>;

struct CodecContextFree {
  void operator()(AVCodecContext* c) const { lib::avcodec_free_context(&c); }
};
using CodecContextPtr = std::unique_ptr<AVCodecContext, CodecContextFree>;

struct CodecParametersFree {
  void operator()(AVCodecParameters* p) const { lib::avcodec_parameters_free(&p); }
};
using CodecParametersPtr = std::unique_ptr<AVCodecParameters, CodecParametersFree>;

struct FrameFree {
  void operator()(AVFrame* f) const { lib::av_frame_free(&f); }
};
using FramePtr = std::unique_ptr<AVFrame, FrameFree>;

struct PacketFree {
  void operator()(AVPacket* p) const { lib::av_packet_free(&p); }
};
using PacketPtr = std::unique_ptr<AVPacket, PacketFree>;

struct DictionaryFree {
  void operator()(AVDictionary* d) const { lib::av_dict_free(&d); }
};
using DictionaryPtr = std::unique_ptr<AVDictionary, DictionaryFree>;

// A byte stream from avio_alloc_context: its buffer may have been replaced by
// the library, so the current one is freed, then the context.
struct IOContextFree {
  void operator()(AVIOContext* c) const {
    if (c != nullptr) lib::av_freep(&c->buffer);
    lib::avio_context_free(&c);
  }
};
using IOContextPtr = std::unique_ptr<AVIOContext, IOContextFree>;

// A byte stream from avio_open / avio_open2.
struct OpenedIOContextFree {
  void operator()(AVIOContext* c) const { lib::avio_closep(&c); }
};
using OpenedIOContextPtr = std::unique_ptr<AVIOContext, OpenedIOContextFree>;

struct SwsContextFree {
  void operator()(SwsContext* c) const { lib::sws_freeContext(c); }
};
using SwsContextPtr = std::unique_ptr<SwsContext, SwsContextFree>;

struct SwrContextFree {
  void operator()(SwrContext* c) const { lib::swr_free(&c); }
};
using SwrContextPtr = std::unique_ptr<SwrContext, SwrContextFree>;

struct FilterGraphFree {
  void operator()(AVFilterGraph* g) const { lib::avfilter_graph_free(&g); }
};
using FilterGraphPtr = std::unique_ptr<AVFilterGraph, FilterGraphFree>;

struct FilterInOutFree {
  void operator()(AVFilterInOut* io) const { lib::avfilter_inout_free(&io); }
};
using FilterInOutPtr = std::unique_ptr<AVFilterInOut, FilterInOutFree>;

struct AudioFifoFree {
  void operator()(AVAudioFifo* f) const { lib::av_audio_fifo_free(f); }
};
using AudioFifoPtr = std::unique_ptr<AVAudioFifo, AudioFifoFree>;

// Memory from av_malloc and friends.
struct LibraryMemoryFree {
  void operator()(void* p) const { lib::av_free(p); }
};
template <typename T>
using LibraryMemoryPtr = std::unique_ptr<T, LibraryMemoryFree>;

}  // namespace lumivor
