// A fixture for the output and filter graph tests: inputs either generated as small files and
// opened through the engine, or made up from library contexts with the stream facts a case needs
// (sizes, channel counts, cover pictures), and outputs written into a scratch folder.
#pragma once

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <initializer_list>
#include <string>

#include "ffmpeg_opt_test_engine.h"
#include "media_maker.h"
#include "support/scratch_folder.h"

namespace lumivor::testing_engine {

struct MadeUpStream {
  AVMediaType Type = AVMEDIA_TYPE_VIDEO;
  int Width = 0;
  int Height = 0;
  int Channels = 0;
  int Disposition = 0;
};

class OutputSetup : public EngineTest {
 protected:
  // A new engine, e.g. for the next case of a table.
  void NextEngine() {
    TearDown();
    Lines.clear();
    SetUp();
  }

  std::string PathOf(const std::string& name) const { return folder_ / name; }

  // Writes the file and opens it as the engine's next input; the input's index.
  int OpenGeneratedInput(const std::string& name, const testing::MediaSpec& spec,
                         const std::string& options = std::string()) {
    std::string error;
    if (!testing::WriteMediaFile(PathOf(name), spec, error)) {
      ADD_FAILURE() << "cannot make " << name << ": " << error;
      return -1;
    }
    OptionsContextScope scope(*Engine);
    const int index = Engine->OpenInputFile(scope.Context(), options, PathOf(name), std::string());
    EXPECT_GE(index, 0) << Engine->LastErrMsg;
    return index;
  }

  // An input without a file: a library context with the given streams, and the engine's records.
  void AddMadeUpInput(std::initializer_list<MadeUpStream> streams) {
    auto file = std::make_unique<TInputFile>();
    file->Context.reset(lib::avformat_alloc_context());
    ASSERT_TRUE(file->Context);
    file->FirstStreamIndex = Engine->InputStreamCount();
    for (const MadeUpStream& made : streams) {
      AVStream* st = lib::avformat_new_stream(file->Context.get(), nullptr);
      ASSERT_NE(st, nullptr);
      st->codecpar->codec_type = made.Type;
      st->codecpar->width = made.Width;
      st->codecpar->height = made.Height;
      st->disposition = made.Disposition;
      st->time_base = AVRational{1, 1000};
      if (made.Type == AVMEDIA_TYPE_AUDIO) {
        lib::av_channel_layout_default(&st->codecpar->ch_layout, made.Channels);
        st->codecpar->sample_rate = 44100;
        st->codecpar->format = AV_SAMPLE_FMT_S16;
      }
      if (made.Type == AVMEDIA_TYPE_VIDEO) st->codecpar->format = AV_PIX_FMT_YUV420P;
      auto ist = std::make_unique<TInputStream>();
      ist->FileIndex = Engine->InputFileCount();
      ist->Stream = st;
      st->discard = AVDISCARD_ALL;
      ist->DecoderContext.reset(lib::avcodec_alloc_context3(nullptr));
      ASSERT_TRUE(ist->DecoderContext);
      ASSERT_GE(lib::avcodec_parameters_to_context(ist->DecoderContext.get(), st->codecpar), 0);
      ist->ResampleWidth = made.Width;
      ist->ResampleHeight = made.Height;
      ist->ResamplePixFmt = AV_PIX_FMT_YUV420P;
      Engine->InputStreams.push_back(std::move(ist));
    }
    file->StreamCount = static_cast<int>(file->Context->nb_streams);
    Engine->InputFiles.push_back(std::move(file));
  }

  // Opens an output in the scratch folder on a context of its own; the engine's result.
  int OpenOutput(const std::string& options, const std::string& name, bool join = false,
                 const std::string& preset = std::string()) {
    OptionsContextScope scope(*Engine);
    return Engine->OpenOutputFile(scope.Context(), options, join, PathOf(name), preset);
  }

  // The fatal text of an operation, or "" when it returns.
  template <typename Operation>
  std::string FatalText(Operation operation) {
    try {
      operation();
    } catch (const FFmpegException& e) {
      return e.what();
    }
    return std::string();
  }

  bool FileExists(const std::string& name) const {
    struct stat facts {};
    return ::stat(PathOf(name).c_str(), &facts) == 0;
  }

  // Where each stream of output file `file` comes from: its SourceIndex, in stream order.
  std::vector<int> SourcesOf(int file) const {
    std::vector<int> sources;
    for (const auto& ost : Engine->OutputStreams) {
      if (ost->FileIndex == file) sources.push_back(ost->SourceIndex);
    }
    return sources;
  }

 private:
  testing::ScratchFolder folder_;
};

}  // namespace lumivor::testing_engine
