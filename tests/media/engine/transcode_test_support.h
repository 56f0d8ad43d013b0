// Helpers for the transcode tests: a task engine with its inputs and outputs added as the encoder
// component adds them, outputs assembled by hand around one opened encoder for the rules of the
// output side, and what a finished file holds, read back through the libraries.
#pragma once

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "library_log_test.h"
#include "media/engine/ffmpeg.h"
#include "media/runtime/ff_load.h"
#include "media/runtime/library_objects.h"
#include "media_maker.h"
#include "support/scratch_folder.h"

namespace lumivor::testing_engine {

// What one stream of a written file holds: packets, decoded frames (or samples) and the time of
// its last packet's end.
struct StreamFacts {
  AVMediaType Type = AVMEDIA_TYPE_UNKNOWN;
  std::string Codec;
  int Packets = 0;
  int Frames = 0;
  std::int64_t Samples = 0;
  double EndSeconds = 0;
  int DecodeErrors = 0;
  std::vector<std::int64_t> Dts;  // in the stream's time base, in file order
  std::vector<std::int64_t> Pts;
};

struct FileFacts {
  bool Opened = false;
  std::string Format;
  std::vector<StreamFacts> Streams;
  int Count(AVMediaType type) const {
    int n = 0;
    for (const StreamFacts& s : Streams) n += s.Type == type ? 1 : 0;
    return n;
  }
  const StreamFacts* First(AVMediaType type) const {
    for (const StreamFacts& s : Streams) {
      if (s.Type == type) return &s;
    }
    return nullptr;
  }
};

// Reads the whole file, decoding every audio and video packet.
inline FileFacts ReadFileFacts(const std::string& path) {
  FileFacts facts;
  AVFormatContext* raw = nullptr;
  if (lib::avformat_open_input(&raw, path.c_str(), nullptr, nullptr) < 0) return facts;
  InputFormatContextPtr input(raw);
  if (lib::avformat_find_stream_info(raw, nullptr) < 0) return facts;
  facts.Opened = true;
  facts.Format = raw->iformat->name;
  std::vector<CodecContextPtr> decoders(raw->nb_streams);
  for (unsigned i = 0; i < raw->nb_streams; ++i) {
    const AVCodecParameters* par = raw->streams[i]->codecpar;
    StreamFacts s;
    s.Type = par->codec_type;
    s.Codec = lib::avcodec_get_name(par->codec_id);
    facts.Streams.push_back(s);
    const AVCodec* codec = lib::avcodec_find_decoder(par->codec_id);
    if (codec == nullptr || (s.Type != AVMEDIA_TYPE_VIDEO && s.Type != AVMEDIA_TYPE_AUDIO)) continue;
    decoders[i].reset(lib::avcodec_alloc_context3(codec));
    lib::avcodec_parameters_to_context(decoders[i].get(), par);
    decoders[i]->pkt_timebase = raw->streams[i]->time_base;
    if (lib::avcodec_open2(decoders[i].get(), codec, nullptr) < 0) decoders[i].reset();
  }
  PacketPtr packet(lib::av_packet_alloc());
  FramePtr frame(lib::av_frame_alloc());
  auto drain = [&](unsigned index) {
    while (lib::avcodec_receive_frame(decoders[index].get(), frame.get()) >= 0) {
      facts.Streams[index].Frames += 1;
      facts.Streams[index].Samples += frame->nb_samples;
      lib::av_frame_unref(frame.get());
    }
  };
  while (lib::av_read_frame(raw, packet.get()) >= 0) {
    const auto index = static_cast<unsigned>(packet->stream_index);
    StreamFacts& s = facts.Streams[index];
    s.Packets += 1;
    s.Dts.push_back(packet->dts);
    s.Pts.push_back(packet->pts);
    const std::int64_t end = (packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts) + packet->duration;
    s.EndSeconds = std::max(s.EndSeconds, static_cast<double>(end) * av_q2d(raw->streams[index]->time_base));
    if (decoders[index]) {
      if (lib::avcodec_send_packet(decoders[index].get(), packet.get()) < 0) s.DecodeErrors += 1;
      drain(index);
    }
    lib::av_packet_unref(packet.get());
  }
  for (unsigned i = 0; i < decoders.size(); ++i) {
    if (!decoders[i]) continue;
    lib::avcodec_send_packet(decoders[i].get(), nullptr);
    drain(i);
  }
  return facts;
}

inline std::int64_t FileSize(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 ? static_cast<std::int64_t>(info.st_size) : -1;
}

// A task engine whose inputs and outputs are added through the engine's own operations, the way
// the encoder component adds them.
class TranscodeTest : public LibraryLogTest {
 protected:
  void SetUp() override {
    LibraryLogTest::SetUp();
    if (HasFatalFailure()) return;
    Engine = std::make_unique<TCustomFFmpeg>();
    Engine->BuildOptionTable();
  }
  void TearDown() override {
    Engine.reset();
    LibraryLogTest::TearDown();
  }

  std::string PathOf(const std::string& name) const { return Folder / name; }

  // 160x120 mpeg4 at 25 fps with stereo pcm audio at 44100 Hz, in Matroska.
  std::string MakeInput(const std::string& name, double seconds, bool video = true, bool audio = true) {
    testing::MediaSpec spec;
    spec.Format = "matroska";
    spec.Seconds = seconds;
    spec.HasVideo = video;
    spec.Video.Width = 160;
    spec.Video.Height = 120;
    spec.HasAudio = audio;
    std::string error;
    const std::string path = PathOf(name);
    EXPECT_TRUE(testing::WriteMediaFile(path, spec, error)) << error;
    return path;
  }

  int AddInput(const std::string& path, const std::string& options = std::string()) {
    OptionsContextScope scope(*Engine);
    return Engine->OpenInputFile(scope.Context(), options, path, std::string());
  }

  int AddOutput(const std::string& path, const std::string& options = std::string()) {
    OptionsContextScope scope(*Engine);
    return Engine->OpenOutputFile(scope.Context(), options, false, path, std::string());
  }

  // Transcode and clean up as a run does; the exception text, empty when the run ended well.
  std::string Run() {
    std::string failure;
    try {
      Engine->Transcode();
    } catch (const FFmpegException& e) {
      failure = e.what();
    }
    Engine->CloseOpenedEncoders();
    Engine->CloseOpenedDecoders();
    Engine->Cleanup();
    return failure;
  }

  testing::ScratchFolder Folder;
  std::unique_ptr<TCustomFFmpeg> Engine;
};

}  // namespace lumivor::testing_engine
