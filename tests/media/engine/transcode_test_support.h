// Helpers for the transcode tests: a task engine with its inputs and outputs added as the encoder
// component adds them, outputs assembled by hand around one opened encoder for the rules of the
// output side, and what a finished file holds, read back through the libraries.
#pragma once

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "library_log_test.h"
#include "media/engine/ffmpeg.h"
#include "media/runtime/ff_load.h"
#include "media/runtime/library_objects.h"
#include "media_maker.h"
#include "whole_file_decode.h"
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
  testing::WholeFileVisit visit;
  visit.Opened = [&](const AVFormatContext& file) {
    facts.Format = file.iformat->name;
    for (unsigned i = 0; i < file.nb_streams; ++i) {
      StreamFacts s;
      s.Type = file.streams[i]->codecpar->codec_type;
      s.Codec = lib::avcodec_get_name(file.streams[i]->codecpar->codec_id);
      facts.Streams.push_back(s);
    }
  };
  visit.Packet = [&](const AVStream& stream, const AVPacket& packet) {
    StreamFacts& s = facts.Streams[static_cast<unsigned>(stream.index)];
    s.Packets += 1;
    s.Dts.push_back(packet.dts);
    s.Pts.push_back(packet.pts);
    const std::int64_t end = (packet.pts != AV_NOPTS_VALUE ? packet.pts : packet.dts) + packet.duration;
    s.EndSeconds = std::max(s.EndSeconds, static_cast<double>(end) * av_q2d(stream.time_base));
  };
  visit.Refused = [&](const AVStream& stream) { facts.Streams[static_cast<unsigned>(stream.index)].DecodeErrors += 1; };
  visit.Frame = [&](const AVStream& stream, const AVFrame& frame) {
    StreamFacts& s = facts.Streams[static_cast<unsigned>(stream.index)];
    s.Frames += 1;
    s.Samples += frame.nb_samples;
  };
  facts.Opened = testing::DecodeWholeFile(path, visit);
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
