// Whole runs measured against the installed ffmpeg program on the same clips and options: what
// ffprobe counts in both outputs (frames, seconds) and whether both runs succeed. The clips are
// made by the program too; without it the tests are skipped.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "transcode_test_support.h"

namespace lumivor {
namespace {

using testing_engine::TranscodeTest;

bool ToolsInstalled() { return ::access("/usr/bin/ffmpeg", X_OK) == 0 && ::access("/usr/bin/ffprobe", X_OK) == 0; }

// The command's standard output, trimmed; its exit status in status.
std::string Capture(const std::string& command, int& status) {
  std::string text;
  std::FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) {
    status = -1;
    return text;
  }
  char buffer[512];
  while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) text += buffer;
  status = ::pclose(pipe);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) text.pop_back();
  return text;
}

bool Tool(const std::string& arguments) {
  int status = 0;
  Capture("/usr/bin/ffmpeg -nostdin -v error -y " + arguments + " 2>&1", status);
  return status == 0;
}

// Decoded video frames of a file, as ffprobe counts them.
int ProbedFrames(const std::string& path) {
  int status = 0;
  const std::string text = Capture("/usr/bin/ffprobe -v error -count_frames -select_streams v:0 -show_entries "
                                   "stream=nb_read_frames -of csv=p=0 '" + path + "'", status);
  return status == 0 && !text.empty() ? std::atoi(text.c_str()) : -1;
}

// Seconds of decoded audio of a file: every decoded sample at the stream's rate (the outputs here
// have one rate throughout).
double ProbedAudioSeconds(const std::string& path) {
  int status = 0;
  const int rate = std::atoi(Capture("/usr/bin/ffprobe -v error -select_streams a:0 -show_entries stream=sample_rate "
                                     "-of csv=p=0 '" + path + "'", status).c_str());
  if (status != 0 || rate <= 0) return -1;
  const std::string text = Capture("/usr/bin/ffprobe -v error -select_streams a:0 -show_entries frame=nb_samples "
                                   "-of csv=p=0 '" + path + "'", status);
  if (status != 0) return -1;
  long long samples = 0;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    samples += std::atoll(text.substr(start, end - start).c_str());
    start = end + 1;
  }
  return static_cast<double>(samples) / rate;
}

class TranscodePeer : public TranscodeTest {
 protected:
  void SetUp() override {
    TranscodeTest::SetUp();
    if (HasFatalFailure()) return;
    if (!ToolsInstalled()) GTEST_SKIP() << "the ffmpeg and ffprobe programs are not installed";
  }
  std::string Quoted(const std::string& name) const { return "'" + PathOf(name) + "'"; }
};

TEST_F(TranscodePeer, OutputsMatchTheProgramOnTheSameOptions) {
  // 90 pictures decoded by several threads, which hand them out in batches.
  ASSERT_TRUE(Tool("-f lavfi -i testsrc=size=160x120:rate=30 -frames:v 90 -c:v mpeg4 " + Quoted("ninety.mkv")));
  // Three clips of 2, 3 and 6 seconds at 25 pictures a second, to be joined.
  for (const auto& [name, seconds] : std::vector<std::pair<std::string, int>>{{"one.mkv", 2}, {"two.mkv", 3}, {"three.mkv", 6}}) {
    ASSERT_TRUE(Tool("-f lavfi -i testsrc=size=160x120:rate=25:duration=" + std::to_string(seconds) + " -c:v mpeg4 " +
                     Quoted(name)));
  }
  // Sound that turns from 44.1 kHz stereo into 48 kHz mono after 2 seconds: two transport
  // streams laid end to end, the second stamped after the first.
  ASSERT_TRUE(Tool("-f lavfi -i sine=frequency=440:sample_rate=44100:duration=2 -ac 2 -c:a mp2 -f mpegts " +
                   Quoted("stereo.ts")));
  ASSERT_TRUE(Tool("-f lavfi -i sine=frequency=660:sample_rate=48000:duration=2 -ac 1 -c:a mp2 -output_ts_offset 2 "
                   "-f mpegts " + Quoted("mono.ts")));
  int status = 0;
  Capture("cat " + Quoted("stereo.ts") + " " + Quoted("mono.ts") + " > " + Quoted("changing.ts"), status);
  ASSERT_EQ(status, 0);

  struct Case {
    const char* Name;
    std::vector<std::string> Inputs;
    const char* Options;
    const char* Output;
    bool Join;
    bool Audio;  // compare the seconds of sound, else the pictures
  };
  const Case cases[] = {
      {"passthrough timing", {"ninety.mkv"}, "-vsync 0 -c:v mpeg4", "passthrough.mkv", false, false},
      {"passthrough timing, one thread", {"ninety.mkv"}, "-vsync 0 -threads 1 -c:v mpeg4", "one-thread.mkv", false, false},
      {"first pass to nothing", {"ninety.mkv"}, "-c:v mpeg4 -pass 1 -f null", "-", false, false},
      {"three inputs joined", {"one.mkv", "two.mkv", "three.mkv"}, "-c:v mpeg4", "joined.mp4", true, false},
      {"sound changing its rate and channels", {"changing.ts"}, "-c:a pcm_s16le", "changing.mkv", false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    const bool toNothing = std::string(c.Output) == "-";
    const std::string ours = toNothing ? std::string("-") : PathOf(c.Output);

    // The program's figures: joined inputs simply add up.
    double expected = 0;
    if (c.Join) {
      for (const std::string& input : c.Inputs) expected += ProbedFrames(PathOf(input));
    } else {
      const std::string reference = PathOf(std::string("reference-") + (toNothing ? "null.mkv" : c.Output));
      const std::string passLog = " -passlogfile " + Quoted("reference-pass");
      ASSERT_TRUE(Tool("-i " + Quoted(c.Inputs[0]) + " " + c.Options + (toNothing ? passLog + " -" : " '" + reference + "'")))
          << "the program refused the options";
      if (!toNothing) expected = c.Audio ? ProbedAudioSeconds(reference) : ProbedFrames(reference);
    }

    Engine = std::make_unique<TCustomFFmpeg>();
    Engine->BuildOptionTable();
    for (const std::string& input : c.Inputs) ASSERT_GE(AddInput(PathOf(input)), 0) << Engine->LastErrMsg;
    {
      OptionsContextScope scope(*Engine);
      std::string options = c.Options;
      if (toNothing) options += " -passlogfile " + PathOf("our-pass");
      ASSERT_GE(Engine->OpenOutputFile(scope.Context(), options, c.Join, ours, std::string()), 0) << Engine->LastErrMsg;
    }
    const std::string failure = Run();
    EXPECT_EQ(failure, "");
    EXPECT_TRUE(Engine->Finished.load());
    if (toNothing) continue;
    if (c.Audio) {
      EXPECT_NEAR(ProbedAudioSeconds(ours), expected, 0.05);
    } else {
      EXPECT_EQ(ProbedFrames(ours), static_cast<int>(expected));
    }
  }
}


TEST_F(TranscodePeer, AFinishedRunReportsItsWholeLength) {
  // Five seconds of pictures with four of sound; a subtitle line that ends after one second.
  ASSERT_TRUE(Tool("-f lavfi -i testsrc=size=160x120:rate=25:duration=5 -f lavfi -i sine=duration=4 -c:v mpeg4 "
                   "-c:a pcm_s16le " + Quoted("uneven.mkv")));
  ASSERT_TRUE(Tool("-f lavfi -i sine=duration=4 -c:a pcm_s16le " + Quoted("sound.mkv")));
  {
    std::FILE* lines = std::fopen(PathOf("early.srt").c_str(), "w");
    ASSERT_NE(lines, nullptr);
    std::fputs("1\n00:00:00,200 --> 00:00:01,000\nearly\n\n", lines);
    std::fclose(lines);
  }
  ASSERT_TRUE(Tool("-f lavfi -i testsrc=size=160x120:rate=25:duration=4 -i " + Quoted("early.srt") +
                   " -c:v mpeg4 -c:s srt " + Quoted("subtitled.mkv")));

  struct Case {
    const char* Name;
    const char* Input;
    const char* Second;  // a further input, or null
    const char* Options;
  };
  const Case cases[] = {
      {"a subtitle track that ends early", "subtitled.mkv", nullptr, "-c:v mpeg4 -c:s copy"},
      {"the shortest stream of one input ends it", "uneven.mkv", nullptr, "-c:v mpeg4 -c:a pcm_s16le -shortest"},
      {"the shortest input ends it", "uneven.mkv", "sound.mkv", "-map 0:v -map 1:a -c:v mpeg4 -c:a pcm_s16le -shortest"},
      {"a limit beyond the input", "uneven.mkv", nullptr, "-c:v mpeg4 -c:a pcm_s16le -t 20"},
      {"a limit within the input", "uneven.mkv", nullptr, "-c:v mpeg4 -c:a pcm_s16le -t 2"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    Engine = std::make_unique<TCustomFFmpeg>();
    Engine->BuildOptionTable();
    TProgressInfo last;
    int reports = 0;
    Engine->OnProgress = [&](TCustomFFmpeg*, std::int32_t, const TProgressInfo& info) {
      last = info;
      ++reports;
    };
    ASSERT_GE(AddInput(PathOf(c.Input)), 0) << Engine->LastErrMsg;
    if (c.Second != nullptr) {
      ASSERT_GE(AddInput(PathOf(c.Second)), 0) << Engine->LastErrMsg;
    }
    ASSERT_GE(AddOutput(PathOf(std::string("progress-") + std::to_string(&c - cases) + ".mkv"), c.Options), 0)
        << Engine->LastErrMsg;
    ASSERT_EQ(Run(), "");
    ASSERT_GT(reports, 0);
    EXPECT_EQ(last.FileIndex, -1) << "the last report is the final one";
    ASSERT_GT(last.TotalDuration, 0);
    // A packet's end may overshoot the plan by a fraction of a frame, never by more.
    const std::int64_t share = last.CurrentDuration * 100 / last.TotalDuration;
    EXPECT_TRUE(share >= 100 && share <= 101) << "current " << last.CurrentDuration << " of " << last.TotalDuration;
  }
}

}  // namespace
}  // namespace lumivor
