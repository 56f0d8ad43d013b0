// An engine object for the tests of the data model and the option table: the transcoder's own
// class with the two hook rows answered by the test, inputs made up from library contexts
// without files, and the logger's lines collected.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "media/engine/ffmpeg_opt.h"
#include "media/engine/video_hooks.h"
#include "media/runtime/ff_load.h"
#include "media/runtime/ff_log.h"
#include "library_log_test.h"

namespace lumivor {
namespace testing_engine {

class TestEngine : public TCustomFFmpegOpt {
 public:
  TestEngine() { BuildOptionTable(); }

  // As the transcoding engine does: words to modules, a refusal is fatal.
  int AddVideoHook(TOptionsContext*, const char*, const char* argument) override {
    HookArguments.emplace_back(argument);
    if (AddVideoHookText(Hooks, argument) != 0) Fail("Failed to add video hook function: " + std::string(argument));
    return 0;
  }
  int SetVideoHookBitsPixel(TOptionsContext*, const char*, const char* argument) override {
    HookBitsPixel.emplace_back(argument);
    return 0;
  }

  std::vector<std::string> HookArguments;
  std::vector<std::string> HookBitsPixel;
  HookList Hooks;
};

struct StreamKind {
  AVMediaType Type;
  AVCodecID Codec;
  int Channels;  // audio only
};

// An input record over a library context with made-up streams, for options that look at the
// inputs opened so far (maps, channel maps).
inline void AddMadeUpInput(TCustomFFmpegOpt& engine, std::initializer_list<StreamKind> streams) {
  auto file = std::make_unique<TInputFile>();
  file->Context.reset(lib::avformat_alloc_context());
  ASSERT_TRUE(file->Context);
  for (const StreamKind& kind : streams) {
    AVStream* stream = lib::avformat_new_stream(file->Context.get(), nullptr);
    ASSERT_NE(stream, nullptr);
    stream->codecpar->codec_type = kind.Type;
    stream->codecpar->codec_id = kind.Codec;
    if (kind.Type == AVMEDIA_TYPE_AUDIO) lib::av_channel_layout_default(&stream->codecpar->ch_layout, kind.Channels);
  }
  file->FirstStreamIndex = engine.InputStreamCount();
  file->StreamCount = static_cast<int>(file->Context->nb_streams);
  engine.InputFiles.push_back(std::move(file));
}

// The libraries loaded, log lines collected, and an engine with a fresh per-file context.
class EngineTest : public LibraryLogTest {
 protected:
  void SetUp() override {
    LibraryLogTest::SetUp();
    if (HasFatalFailure()) return;
    Engine = std::make_unique<TestEngine>();
    Engine->InitOptionsContext(Context);
  }
  void TearDown() override {
    if (Engine) Engine->ReleaseOptionsContext(Context);
    Engine.reset();
    LibraryLogTest::TearDown();
  }

  // One output's options through the whole per-file sequence, on the fixture's context.
  int Parse(const std::string& text, const std::string& preset = std::string()) {
    return ParseFileOptions(*Engine, &Context, text, "output file", preset);
  }

  std::unique_ptr<TestEngine> Engine;
  TOptionsContext Context;
};

}  // namespace testing_engine
}  // namespace lumivor
