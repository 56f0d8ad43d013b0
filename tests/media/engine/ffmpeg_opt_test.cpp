#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <future>
#include <limits>
#include <string>
#include <thread>

#include "ffmpeg_opt_test_engine.h"
#include "media/engine/error_text.h"
#include "media/engine/interrupt_callbacks.h"

namespace lumivor {
namespace {

using testing_engine::AddMadeUpInput;
using testing_engine::EngineTest;
using testing_engine::TestEngine;

constexpr std::int64_t kInt64Max = std::numeric_limits<std::int64_t>::max();

using DataModel = EngineTest;

TEST_F(DataModel, AFreshContextHoldsTheDefaults) {
  // Dirty it first, so that initialising is seen to reset and not merely to find zeros.
  ASSERT_EQ(Parse("-t 5 -to 6 -fs 7 -muxdelay 1 -map_chapters 0 -c copy -metadata a=b -streamid 2:3 -attach x"), 0)
      << Engine->LastErrMsg;
  Engine->InitOptionsContext(Context);
  EXPECT_EQ(Context.RecordingTime, kInt64Max);
  EXPECT_EQ(Context.StopTime, kInt64Max);
  EXPECT_EQ(Context.LimitFileSize, kInt64Max);
  EXPECT_FLOAT_EQ(Context.MuxMaxDelay, 0.7f);
  EXPECT_EQ(Context.MuxPreload, 0.0f);
  EXPECT_EQ(Context.ChaptersInputFile, 2147483647);
  EXPECT_EQ(Context.StartTime, 0);
  EXPECT_TRUE(Context.Format.empty());
  EXPECT_TRUE(Context.CodecNames.empty());
  EXPECT_TRUE(Context.Metadata.empty());
  EXPECT_EQ(Context.StreamIdMapCount(), 0);
  EXPECT_EQ(Context.AttachmentCount(), 0);
  EXPECT_EQ(Context.Group, &Engine->Options.FileGroup);
  EXPECT_TRUE(Engine->Options.FileGroup.Entries.empty()) << "the groups start empty for each file";
}

TEST_F(DataModel, TheEngineStartsWithItsDefaults) {
  TestEngine fresh;
  struct Case {
    const char* Name;
    double Value, Expected;
  };
  const Case cases[] = {
      {"AudioDriftThreshold", fresh.AudioDriftThreshold, 0.1f},
      {"DtsDeltaThreshold", fresh.DtsDeltaThreshold, 10},
      {"DtsErrorThreshold", fresh.DtsErrorThreshold, 108000},
      {"AudioVolume", double(fresh.AudioVolume), 256},
      {"AudioSyncMethod", double(fresh.AudioSyncMethod), 0},
      {"VideoSyncMethod", double(fresh.VideoSyncMethod), -1},
      {"CopyTb", double(fresh.CopyTb), -1},
      {"PrintStats", double(fresh.PrintStats), -1},
      {"IntraDcPrecision", double(fresh.IntraDcPrecision), 8},
      {"FileOverwrite", double(fresh.FileOverwrite), 0},
      {"DebugTs", double(fresh.DebugTs), 0},
      {"StrictOptions", double(fresh.StrictOptions), 1},
      {"ReadTimeout", double(fresh.ReadTimeout), 30000},
      {"WriteTimeout", double(fresh.WriteTimeout), 30000},
      {"MaxInputDuration", double(fresh.MaxInputDuration), -1},
      {"TotalDuration", double(fresh.TotalDuration), -1},
  };
  for (const Case& c : cases) EXPECT_EQ(c.Value, c.Expected) << c.Name;
  EXPECT_EQ(fresh.ReadStartTime.load(), kInt64Max) << "idle until the first blocking call";
  EXPECT_EQ(fresh.WriteStartTime.load(), kInt64Max);
  EXPECT_FALSE(fresh.StopRequested.load());
  EXPECT_EQ(fresh.ReadInterrupt.opaque, &fresh);
  EXPECT_EQ(fresh.WriteInterrupt.opaque, &fresh);
  EXPECT_TRUE(fresh.VstatsFileName.empty());
  EXPECT_FALSE(fresh.ProgressOutput);
}

TEST_F(DataModel, SettingsOfOneFileHoldForTheFilesAddedAfterIt) {
  ASSERT_EQ(Parse("-vol 512 -t 3"), 0);
  Engine->InitOptionsContext(Context);
  ASSERT_EQ(Parse("-an"), 0);
  EXPECT_EQ(Engine->AudioVolume, 512) << "engine-wide";
  EXPECT_EQ(Context.RecordingTime, kInt64Max) << "per file";
}

TEST_F(DataModel, ReadsPerStreamListsLastMatchWins) {
  AddMadeUpInput(*Engine, {{AVMEDIA_TYPE_VIDEO, AV_CODEC_ID_H264, 0},
                           {AVMEDIA_TYPE_AUDIO, AV_CODEC_ID_AAC, 2},
                           {AVMEDIA_TYPE_AUDIO, AV_CODEC_ID_MP3, 1}});
  AVFormatContext* input = Engine->InputFiles[0]->Context.get();
  ASSERT_EQ(Parse("-c:v copy -c:a aac -c copy -c:a:1 mp3 -q:a:1 4 -q:a:1 6 -frames:s 9 -ar:v 8000"), 0)
      << Engine->LastErrMsg;
  ASSERT_EQ(Context.CodecNames.size(), 4u);
  struct Case {
    unsigned Stream;
    const char* Codec;
    double Quality;
    std::int64_t Frames;
  };
  const Case cases[] = {
      {0, "copy", -1, -7},  // "-c copy" comes after "-c:v copy"
      {1, "copy", -1, -7},  // the audio reader ends on the unspecified "copy"
      {2, "mp3", 6, -7},    // given twice for the same stream: the later value
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Stream);
    AVStream* stream = input->streams[c.Stream];
    EXPECT_EQ(Engine->MatchPerStream<&TOptionsContext::CodecNames>(Context, input, stream, "none"), c.Codec);
    EXPECT_EQ(Engine->MatchPerStream<&TOptionsContext::QScale>(Context, input, stream, -1.0), c.Quality);
    EXPECT_EQ(Engine->MatchPerStream<&TOptionsContext::MaxFrames>(Context, input, stream, -7), c.Frames)
        << "a specifier matching no stream leaves the default";
  }
  EXPECT_EQ(Engine->MatchPerStream<&TOptionsContext::AudioSampleRates>(Context, input, input->streams[0], 1), 8000);
}

TEST_F(DataModel, AMalformedStreamSpecifierIsFatal) {
  AddMadeUpInput(*Engine, {{AVMEDIA_TYPE_AUDIO, AV_CODEC_ID_AAC, 2}});
  AVFormatContext* input = Engine->InputFiles[0]->Context.get();
  ASSERT_EQ(Parse("-c:a aac -c:zz:9 copy"), 0);
  try {
    Engine->MatchPerStream<&TOptionsContext::CodecNames>(Context, input, input->streams[0], "");
    FAIL() << "no exception";
  } catch (const FFmpegException& e) {
    EXPECT_EQ(std::string(e.what()), ErrorText("check_stream_specifier", AVERROR(EINVAL)));
    EXPECT_EQ(Engine->LastErrMsg, e.what());
  }
}

TEST_F(DataModel, ReadsInputCodecNamesByWholeTypeLetter) {
  ASSERT_EQ(Parse("-c:v h264 -c:a aac -c:a:0 mp3 -c:a mp2 -c:s ass -c:0 copy"), 0);
  struct Case {
    char Letter;
    const char* Expected;
  };
  const Case cases[] = {{'v', "h264"}, {'a', "mp2"}, {'s', "ass"}, {'d', nullptr}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Letter);
    const std::string* name = Engine->MatchPerType(Context, Context.CodecNames, c.Letter);
    if (c.Expected == nullptr) {
      EXPECT_EQ(name, nullptr);
    } else {
      ASSERT_NE(name, nullptr);
      EXPECT_EQ(*name, c.Expected);
    }
  }
}

TEST_F(DataModel, FailKeepsTheTextLogsItAndRaises) {
  try {
    Engine->FailFmt("Invalid input file index: %d.", 2);
    FAIL() << "no exception";
  } catch (const FFmpegException& e) {
    EXPECT_STREQ(e.what(), "Invalid input file index: 2.");
  }
  EXPECT_EQ(Engine->LastErrMsg, "Invalid input file index: 2.");
  bool logged = false;
  for (const auto& line : Lines) {
    logged |= line.Sender == Engine.get() && line.Level == llFatal && line.Text == "Invalid input file index: 2.";
  }
  EXPECT_TRUE(logged) << "logged at llFatal with the engine as sender";

  EXPECT_THROW(Engine->AbortCodecExperimental(nullptr, true), FFmpegException);
  EXPECT_EQ(Engine->LastErrMsg, "abort codec experimental");
}

TEST_F(DataModel, RefusesOptionsTheLibraryLeftOver) {
  DictionaryPtr options;
  EXPECT_NO_THROW(Engine->CheckUnusedOptions(options.get())) << "an empty dictionary passes";
  lib::av_dict_set(DictionaryRef(options), "bogus_option", "1", 0);
  lib::av_dict_set(DictionaryRef(options), "another", "2", 0);
  try {
    Engine->CheckUnusedOptions(options.get());
    FAIL() << "strict mode must refuse";
  } catch (const FFmpegException& e) {
    EXPECT_STREQ(e.what(), "Option bogus_option not found.");
  }
  Engine->StrictOptions = 0;
  Engine->LastErrMsg.clear();
  EXPECT_NO_THROW(Engine->CheckUnusedOptions(options.get()));
  EXPECT_EQ(Engine->LastErrMsg, "Option bogus_option not found.") << "kept, and the caller goes on";
}

TEST_F(DataModel, TheContextIsReleasedWhenOpeningRaises) {
  const auto open = [this](TOptionsContext& context) {
    EXPECT_EQ(ParseFileOptions(*Engine, &context, "-c:v copy -g 250 -map 0", "output file", ""), 0);
  };
  // No input is open, so the map is fatal halfway through the file's options.
  EXPECT_THROW(
      {
        OptionsContextScope scope(*Engine);
        open(scope.Context());
      },
      FFmpegException);
  EXPECT_EQ(Engine->LastErrMsg, "Invalid input file index: 0.");
  EXPECT_TRUE(Engine->Options.FileGroup.Entries.empty());
  EXPECT_FALSE(Engine->Options.FileGroup.CodecOptions) << "the group's library options were freed";
  EXPECT_FALSE(Engine->Options.CodecOptions);
}

// ------------------------------------------------------------------ interrupt callbacks

TEST_F(DataModel, InterruptCallbacksStopAndTimeOut) {
  const std::int64_t now = MonotonicMicroseconds();
  struct Case {
    const char* Name;
    bool Stop;
    std::int64_t Start;
    int TimeoutMs;
    int Expected;
    const char* ReadText;
    const char* WriteText;
  };
  const Case cases[] = {
      {"idle", false, kInt64Max, 1, 0, nullptr, nullptr},
      {"no time-out", false, now - 3600000000LL, 0, 0, nullptr, nullptr},
      {"negative time-out", false, now - 3600000000LL, -5, 0, nullptr, nullptr},
      {"within the time-out", false, now, 60000, 0, nullptr, nullptr},
      {"past the time-out", false, now - 2000000, 1000, 1, "connecting/reading timeout",
       "connecting/writing timeout"},
      {"stamp 0", false, 0, 1000, 1, "connecting/reading canceled", "connecting/writing canceled"},
      {"stop while idle", true, kInt64Max, 0, 1, "reading/writing broken", "reading/writing broken"},
      {"stop within the time-out", true, now, 60000, 1, "reading/writing broken", "reading/writing broken"},
  };
  for (const Case& c : cases) {
    for (const bool read : {true, false}) {
      SCOPED_TRACE(std::string(c.Name) + (read ? " (read)" : " (write)"));
      TestEngine engine;
      engine.StopRequested = c.Stop;
      (read ? engine.ReadStartTime : engine.WriteStartTime) = c.Start;
      (read ? engine.ReadTimeout : engine.WriteTimeout) = c.TimeoutMs;
      // The other direction is hopelessly late: it must not be looked at.
      (read ? engine.WriteStartTime : engine.ReadStartTime) = 0;
      Lines.clear();
      const AVIOInterruptCB& callback = read ? engine.ReadInterrupt : engine.WriteInterrupt;
      EXPECT_EQ(callback.callback(callback.opaque), c.Expected);
      const char* text = read ? c.ReadText : c.WriteText;
      if (text == nullptr) {
        EXPECT_TRUE(Lines.empty());
      } else {
        ASSERT_EQ(Lines.size(), 1u);
        EXPECT_EQ(Lines[0].Text, text);
        EXPECT_EQ(Lines[0].Level, llInfo);
        EXPECT_EQ(Lines[0].Sender, &engine);
      }
    }
  }
}

// A listening socket's accept polls the interrupt callback, so a blocking library call can be
// watched giving up.
int FreeLocalPort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  int port = 0;
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
    port = ntohs(address.sin_port);
  }
  close(fd);
  return port;
}

int OpenListening(TestEngine& engine) {
  const int port = FreeLocalPort();
  if (port == 0) return AVERROR(EADDRNOTAVAIL);
  const std::string url = "tcp://127.0.0.1:" + std::to_string(port) + "?listen=1";
  AVIOContext* io = nullptr;
  engine.StampReadStart();
  const int result = lib::avio_open2(&io, url.c_str(), AVIO_FLAG_READ, &engine.ReadInterrupt, nullptr);
  OpenedIOContextPtr owner(io);
  return result;
}

TEST_F(DataModel, ABlockingOpenGivesUpOnStopAndOnTimeOut) {
  {
    TestEngine engine;
    auto stopper = std::async(std::launch::async, [&engine] {
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
      engine.RequestStop();
    });
    EXPECT_EQ(OpenListening(engine), AVERROR_EXIT) << "stop requested";
  }
  {
    TestEngine engine;
    engine.ReadTimeout = 200;
    const auto begin = std::chrono::steady_clock::now();
    EXPECT_EQ(OpenListening(engine), AVERROR_EXIT) << "timed out";
    EXPECT_GE(std::chrono::steady_clock::now() - begin, std::chrono::milliseconds(200));
    EXPECT_TRUE(Logged(llInfo, "connecting/reading timeout"));
  }
}

TEST_F(DataModel, APausedCallbackHoldsStillAndAStopOpensTheGate) {
  TestEngine engine;
  // Generous against a loaded machine: only the paused time may exceed it.
  engine.ReadTimeout = 1000;
  engine.PauseGate.Close();
  engine.StampReadStart();
  std::atomic<bool> returned{false};
  auto poll = std::async(std::launch::async, [&] {
    const int result = engine.ReadInterrupt.callback(engine.ReadInterrupt.opaque);
    returned = true;
    return result;
  });
  // Longer than the time-out: the paused time must not count against it.
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  EXPECT_FALSE(returned.load()) << "the callback waits at the closed gate";
  engine.PauseGate.Open();
  EXPECT_EQ(poll.get(), 0) << "resumed within the time-out";

  engine.PauseGate.Close();
  auto stopped =
      std::async(std::launch::async, [&] { return engine.ReadInterrupt.callback(engine.ReadInterrupt.opaque); });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  engine.RequestStop();
  ASSERT_EQ(stopped.wait_for(std::chrono::seconds(10)), std::future_status::ready) << "a stop opens the gate";
  EXPECT_EQ(stopped.get(), 1);
  EXPECT_FALSE(engine.PauseGate.IsClosed());
}

}  // namespace
}  // namespace lumivor
