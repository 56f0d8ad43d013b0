#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "output_setup_fixture.h"

namespace lumivor {
namespace {

using testing_engine::MadeUpStream;
using testing_engine::OutputSetup;

constexpr MadeUpStream Video(int width, int height) { return {AVMEDIA_TYPE_VIDEO, width, height, 0, 0}; }
constexpr MadeUpStream Audio(int channels) { return {AVMEDIA_TYPE_AUDIO, 0, 0, channels, 0}; }

class JoinMode : public OutputSetup {
 protected:
  void AddInput(const std::vector<MadeUpStream>& streams, std::int64_t duration) {
    if (streams.size() == 1) AddMadeUpInput({streams[0]});
    if (streams.size() == 2) AddMadeUpInput({streams[0], streams[1]});
    Engine->InputFiles.back()->Context->duration = duration;
  }
};

TEST_F(JoinMode, EveryFurtherInputGetsClonesOfTheFirstOutputsStreams) {
  struct Case {
    const char* Name;
    std::vector<std::vector<MadeUpStream>> Inputs;
    const char* Options;
    std::vector<std::vector<int>> Sources;  // per output file record
  };
  const Case cases[] = {
      {"audio after audio", {{Audio(2)}, {Audio(2)}, {Audio(1)}}, "", {{0}, {1}, {2}}},
      {"bound by kind, not by place", {{Video(320, 240), Audio(2)}, {Audio(2), Video(320, 240)}}, "", {{0, 1}, {3, 2}}},
      {"each input's own choice", {{Audio(2)}, {Audio(2), Audio(6)}}, "", {{0}, {2}}},
      {"maps of each input", {{Audio(2), Audio(1)}, {Audio(1), Audio(2)}}, "-map 0:1 -map 1:0", {{1}, {2}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    NextEngine();
    for (const auto& input : c.Inputs) AddInput(input, 2000000);
    ASSERT_EQ(OpenOutput(c.Options, "joined.mkv", true), 0) << Engine->LastErrMsg;
    EXPECT_EQ(Engine->JoinMode, 1);
    ASSERT_EQ(Engine->OutputFileCount(), static_cast<int>(c.Sources.size()));
    const int perFile = static_cast<int>(c.Sources[0].size());
    EXPECT_EQ(Engine->JoinStreamCount, perFile);
    for (int file = 0; file < Engine->OutputFileCount(); ++file) {
      EXPECT_EQ(SourcesOf(file), c.Sources[static_cast<std::size_t>(file)]) << "output file " << file;
      const TOutputFile& record = *Engine->OutputFiles[static_cast<std::size_t>(file)];
      EXPECT_EQ(record.FirstStreamIndex, file * perFile);
      // Only the first record owns the muxer; the others write into it.
      EXPECT_EQ(record.Context != nullptr, file == 0);
    }
    for (int i = perFile; i < Engine->OutputStreamCount(); ++i) {
      const TOutputStream& clone = *Engine->OutputStreams[static_cast<std::size_t>(i)];
      const TOutputStream& original = *Engine->OutputStreams[static_cast<std::size_t>(i % perFile)];
      EXPECT_EQ(clone.JoinOriginal, &original);
      EXPECT_EQ(clone.Stream, original.Stream);
      EXPECT_EQ(clone.Codec(), original.EncoderContext.get());
      EXPECT_FALSE(clone.EncoderContext);
      EXPECT_EQ(clone.SyncInput, Engine->InputStreams[static_cast<std::size_t>(clone.SourceIndex)].get());
      EXPECT_EQ(clone.SyncInput->Discard, 0);
    }
    EXPECT_EQ(Engine->TotalDuration, 2000000 * static_cast<std::int64_t>(c.Inputs.size()));
  }
}

TEST_F(JoinMode, InputsOfDifferentKindsCannotBeJoinedAndLeaveNothingBehind) {
  struct Case {
    const char* Name;
    std::vector<std::vector<MadeUpStream>> Inputs;
    const char* Options;
  };
  const Case cases[] = {
      {"video missing later", {{Video(320, 240), Audio(2)}, {Audio(2)}}, ""},
      {"audio missing later", {{Audio(2)}, {Video(320, 240)}}, "-c:v mpeg4"},
      {"a map names input 0 only", {{Audio(2)}, {Audio(2)}}, "-map 0:0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    NextEngine();
    for (const auto& input : c.Inputs) AddInput(input, 1000000);
    EXPECT_EQ(OpenOutput(c.Options, "mixed.mkv", true), -1);
    EXPECT_EQ(Engine->LastErrMsg, "Cannot join files with diffrent steams state");
    // The muxer's byte stream was open; nothing was written, so the file is gone again.
    EXPECT_FALSE(FileExists("mixed.mkv"));
    EXPECT_EQ(Engine->OutputFileCount(), 0);
    EXPECT_EQ(Engine->OutputStreamCount(), 0);
    EXPECT_EQ(Engine->JoinMode, 0);
    EXPECT_EQ(Engine->JoinStreamCount, 0);
  }
}

TEST_F(JoinMode, ACloneGetsItsOwnSimpleGraphOnTheSharedEncoderSettings) {
  testing::MediaSpec spec;
  spec.Format = "wav";
  spec.Seconds = 0.2;
  ASSERT_EQ(OpenGeneratedInput("a.wav", spec), 0);
  spec.Audio.SampleRate = 22050;
  ASSERT_EQ(OpenGeneratedInput("b.wav", spec), 1);
  ASSERT_EQ(OpenOutput("-c:a pcm_s16le -ar 32000", "joined.wav", true), 0) << Engine->LastErrMsg;
  ASSERT_EQ(Engine->OutputStreamCount(), 2);
  TOutputStream& clone = *Engine->OutputStreams[1];
  ASSERT_EQ(clone.SourceIndex, 1);
  TFilterGraph* fg = Engine->InitSimpleFilterGraph(*Engine->InputStreams[1], clone);
  ASSERT_NE(fg, nullptr);
  ASSERT_EQ(Engine->ConfigureFilterGraph(*fg), 0);
  // The clone's input runs at 22050 Hz; the graph resamples to the rate set on the first stream.
  EXPECT_EQ(lib::av_buffersink_get_sample_rate(fg->Outputs[0]->Filter), 32000);
}

// An attachment carries its own bytes: its clone needs no input stream to join.
TEST_F(JoinMode, AttachmentsDoNotStopAJoin) {
  AddInput({Audio(2)}, 1000000);
  AddInput({Audio(2)}, 1000000);
  const std::string font = PathOf("font.ttf");
  { std::ofstream(font, std::ios::binary) << "font bytes"; }
  ASSERT_EQ(OpenOutput("-attach " + font, "attached.mkv", true), 0) << Engine->LastErrMsg;
  EXPECT_EQ(Engine->OutputFileCount(), 2);
  EXPECT_EQ(SourcesOf(1), std::vector<int>({1, -1}));
}

TEST_F(JoinMode, TotalDurationIsTheSumOfTheKnownInputDurations) {
  struct Case {
    std::vector<std::int64_t> Durations;
    std::int64_t Total;
  };
  const Case cases[] = {
      {{2000000, 3000000}, 5000000},
      {{2000000, AV_NOPTS_VALUE, 500000}, 2500000},
      {{AV_NOPTS_VALUE, AV_NOPTS_VALUE}, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Total);
    NextEngine();
    for (std::int64_t duration : c.Durations) AddInput({Audio(2)}, duration);
    ASSERT_EQ(OpenOutput("", "sum.wav", true), 0) << Engine->LastErrMsg;
    EXPECT_EQ(Engine->TotalDuration, c.Total);
  }
}

TEST_F(JoinMode, JoinOfASingleInputIsAPlainOutput) {
  AddInput({Audio(2)}, 1000000);
  ASSERT_EQ(OpenOutput("", "single.wav", true), 0) << Engine->LastErrMsg;
  EXPECT_EQ(Engine->JoinMode, 0);
  EXPECT_EQ(Engine->OutputFileCount(), 1);
  EXPECT_EQ(Engine->TotalDuration, -1);
}

TEST_F(JoinMode, OnlyOneOutputOfAJoinTask) {
  AddInput({Audio(2)}, 1000000);
  AddInput({Audio(2)}, 1000000);
  ASSERT_EQ(OpenOutput("", "joined.wav", true), 0) << Engine->LastErrMsg;
  EXPECT_EQ(OpenOutput("", "another.wav"), -1);
  EXPECT_EQ(Engine->LastErrMsg, "Cannot join more than one output file.");
  EXPECT_EQ(Engine->OutputFileCount(), 2);
}

TEST_F(JoinMode, FreeingOutputStreamsCutsGraphOutputsLoose) {
  testing::MediaSpec spec;
  spec.Format = "wav";
  spec.Seconds = 0.2;
  ASSERT_EQ(OpenGeneratedInput("in.wav", spec), 0);
  ASSERT_EQ(OpenOutput("-filter_complex anull[out] -map [out] -c:a pcm_s16le", "graph.wav"), 0) << Engine->LastErrMsg;
  ASSERT_NE(Engine->FilterGraphs[0]->Outputs[0]->Output, nullptr);
  Engine->FreeOutputStreams();
  EXPECT_EQ(Engine->OutputStreamCount(), 0);
  EXPECT_EQ(Engine->FilterGraphs[0]->Outputs[0]->Output, nullptr);
}

}  // namespace
}  // namespace lumivor
