// Run control of a task: the end notification on every path, stop, the pause gate, the hooks and
// the preview rules. Whole runs over generated media are in the end-to-end tests.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdarg>
#include <cstring>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <numeric>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "deadlock_watchdog.h"
#include "library_log_test.h"
#include "media/engine/ffmpeg.h"
#include "media/runtime/main_thread.h"

namespace lumivor {
namespace {

using testing_engine::LibraryLogTest;

// The engine's callbacks run on other threads: the lines are collected under a lock.
class RunControl : public LibraryLogTest {
 protected:
  void SetUp() override {
    LibraryLogTest::SetUp();
    if (HasFatalFailure()) return;
    DefaultLogger().SetOnLog([this](const void* sender, int, TLogLevel level, const std::string& text) {
      std::lock_guard<std::mutex> lock(mutex_);
      Lines.push_back({sender, level, text});
    });
  }
  bool LoggedSafely(TLogLevel level, const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex_);
    return Logged(level, text);
  }

  // Counts end notifications and remembers the thread of the last one.
  struct TerminateProbe {
    std::atomic<int> Count{0};
    std::thread::id Thread;
    bool Exception = false;
    std::string Message;
    void Connect(TCustomFFmpeg& engine) {
      engine.OnTerminate = [this](TCustomFFmpeg* sender) {
        Thread = std::this_thread::get_id();
        Exception = sender->Exception;
        Message = sender->ExceptionMsg;
        ++Count;
      };
    }
  };

  std::mutex mutex_;
};

TEST_F(RunControl, ATaskThatNeverStartedReportsItsEndOnceFromAnotherThread) {
  TCustomFFmpeg engine;
  TerminateProbe probe;
  probe.Connect(engine);
  engine.Stop(true);
  EXPECT_EQ(probe.Count.load(), 1) << "Stop(wait) returns after the notification";
  EXPECT_NE(probe.Thread, std::this_thread::get_id());
  EXPECT_FALSE(probe.Exception);
  EXPECT_TRUE(engine.Terminated.load());
  EXPECT_FALSE(engine.Running.load());

  engine.Stop(true);
  EXPECT_EQ(engine.Start(true), nullptr) << "a terminated task cannot start";
  EXPECT_EQ(probe.Count.load(), 1);
}

TEST_F(RunControl, StopsRacingBeforeTheEndStillGiveOneNotification) {
  TerminateProbe probe;
  {
    TCustomFFmpeg engine;
    probe.Connect(engine);
    std::vector<std::thread> stoppers;
    for (int i = 0; i < 4; ++i) stoppers.emplace_back([&engine] { engine.Stop(false); });
    for (auto& stopper : stoppers) stopper.join();
    engine.Stop(true);
  }
  EXPECT_EQ(probe.Count.load(), 1);
}

TEST_F(RunControl, AStartWithoutOutputOrInputEndsAtOnceWithTheReason) {
  struct Case {
    bool WithOutput;
    const char* Text;
  };
  const Case cases[] = {
      {false, "At least one output file must be specified"},
      {true, "At least one input file must be specified"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Text);
    TCustomFFmpeg engine;
    if (c.WithOutput) engine.OutputFiles.push_back(std::make_unique<TOutputFile>());
    TerminateProbe probe;
    probe.Connect(engine);
    EXPECT_EQ(engine.Start(true), nullptr);
    EXPECT_EQ(probe.Count.load(), 1) << "delivered before Start returns";
    EXPECT_EQ(probe.Thread, std::this_thread::get_id()) << "in the caller's thread";
    EXPECT_TRUE(probe.Exception);
    EXPECT_EQ(probe.Message, c.Text);
    EXPECT_TRUE(LoggedSafely(llQuiet, c.Text));
    engine.Stop(true);
    EXPECT_EQ(engine.Start(false), nullptr);
    EXPECT_EQ(probe.Count.load(), 1) << "a stop or start after the end adds nothing";
  }
}

TEST_F(RunControl, APauseAfterAStopCannotHoldTheWorker) {
  TCustomFFmpeg engine;
  engine.Running = true;  // as during a run, so that Pause closes the gate
  engine.Pause();
  EXPECT_TRUE(engine.PauseGate.IsClosed());
  engine.RequestStop(false);
  EXPECT_FALSE(engine.PauseGate.IsClosed());
  engine.Pause();
  EXPECT_FALSE(engine.PauseGate.IsClosed()) << "the stop keeps the gate open";
  auto waited = std::async(std::launch::async, [&engine] { return engine.PauseGate.Wait(); });
  ASSERT_EQ(waited.wait_for(std::chrono::seconds(10)), std::future_status::ready);
  engine.Running = false;
}

TEST_F(RunControl, HookBitsPixelFromOptionText) {
  struct Case {
    const char* Argument;
    int Result;
    int Bits;  // of both converters afterwards; 0 = raises
    const char* Error;
  };
  const Case cases[] = {
      {"24", 0, 24, ""},
      {"8", 0, 8, ""},
      {"abc", -22, 32, "''abc'' is not a valid integer value"},
      {"", -22, 32, "'''' is not a valid integer value"},
      {"16x", -22, 32, "''16x'' is not a valid integer value"},
      {"12", 0, 0, "Invalid BitsPixel 12"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Argument);
    TCustomFFmpeg engine;
    OptionErrorText().clear();
    if (c.Bits == 0) {
      try {
        engine.SetVideoHookBitsPixel(nullptr, "VideoHookBitsPixel", c.Argument);
        ADD_FAILURE() << "no exception";
      } catch (const FFmpegException& e) {
        EXPECT_STREQ(e.what(), c.Error);
      }
      continue;
    }
    EXPECT_EQ(engine.SetVideoHookBitsPixel(nullptr, "VideoHookBitsPixel", c.Argument), c.Result);
    EXPECT_EQ(engine.HookConverter.BitsPixel(), c.Bits);
    EXPECT_EQ(engine.PreviewConverter.BitsPixel(), c.Bits);
    EXPECT_EQ(OptionErrorText(), c.Error);
    if (c.Result != 0) {
      EXPECT_TRUE(LoggedSafely(llError, c.Error));
    }
  }
}

TEST_F(RunControl, AVideoHookModuleThatCannotLoadIsFatal) {
  TCustomFFmpeg engine;
  EXPECT_THROW(engine.AddVideoHook(nullptr, "vhook", "/nonexistent/lumivor_hook.so"), FFmpegException);
  EXPECT_EQ(engine.LastErrMsg, "Failed to add video hook function: /nonexistent/lumivor_hook.so");
  EXPECT_FALSE(engine.HasInputHooks());
}

// ------------------------------------------------------------------ hooks and preview

// A 4x2 BGRA picture (the converters' 32-bit bitmap format, so it is used as it is) and a 4x2
// yuv420p one (converted to and from the bitmap).
struct TestPicture {
  TestPicture(AVPixelFormat format, int width, int height) : Format(format), Width(width), Height(height) {
    const int size = lib::av_image_get_buffer_size(format, width, height, 4);
    Buffer.assign(static_cast<std::size_t>(size), 0x40);
    lib::av_image_fill_arrays(Picture.Data, Picture.LineSize, Buffer.data(), format, width, height, 4);
  }
  AVPixelFormat Format;
  int Width;
  int Height;
  std::vector<std::uint8_t> Buffer;
  PicturePlanes Picture;
};

TEST_F(RunControl, VideoHooksWriteBackStopAndSurviveExceptions) {
  struct Case {
    const char* Name;
    AVPixelFormat Format;
  };
  const Case cases[] = {{"bgra as it is", AV_PIX_FMT_BGRA}, {"yuv420p converted", AV_PIX_FMT_YUV420P}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    TCustomFFmpeg engine;
    TestPicture picture(c.Format, 4, 2);
    const std::vector<std::uint8_t> original = picture.Buffer;
    int calls = 0;
    bool update = true;
    bool raise = false;
    bool stop = false;
    engine.OnVideoInputHook = [&](TCustomFFmpeg*, Bitmap* bitmap, std::int32_t, std::int64_t, bool& u, bool& s) {
      ++calls;
      EXPECT_TRUE(u);
      EXPECT_FALSE(s);
      // White everywhere: every format shows that as a change.
      for (int y = 0; y < bitmap->Height(); ++y) std::memset(bitmap->ScanLine(y), 0xff, bitmap->Width() * 4);
      u = update;
      s = stop;
      if (raise) throw std::runtime_error("drawing failed");
    };

    update = false;
    engine.CallVideoHook(false, picture.Picture, c.Format, 4, 2, 1, 0);
    EXPECT_EQ(picture.Buffer, original) << "Update false keeps the picture";

    raise = true;
    update = true;
    engine.CallVideoHook(false, picture.Picture, c.Format, 4, 2, 2, 0);
    EXPECT_EQ(picture.Buffer, original) << "a raising hook's change is dropped";
    EXPECT_TRUE(LoggedSafely(llError, "Error occurs VideoHook event: drawing failed"));
    EXPECT_TRUE(engine.OnVideoInputHook) << "a raising hook stays connected";

    raise = false;
    stop = true;
    engine.CallVideoHook(false, picture.Picture, c.Format, 4, 2, 3, 0);
    EXPECT_NE(picture.Buffer, original) << "Update true writes the bitmap back";
    EXPECT_FALSE(engine.OnVideoInputHook) << "StopHook disconnects";
    engine.CallVideoHook(false, picture.Picture, c.Format, 4, 2, 4, 0);
    EXPECT_EQ(calls, 3);
  }
}

TEST_F(RunControl, AVideoHookOnAPictureTheConverterRefusesIsDisconnected) {
  TCustomFFmpeg engine;
  TestPicture picture(AV_PIX_FMT_YUV420P, 4, 2);
  int calls = 0;
  engine.OnVideoOutputHook = [&](TCustomFFmpeg*, Bitmap*, std::int32_t, std::int64_t, bool&, bool&) { ++calls; };
  // A format the scaler cannot read.
  engine.CallVideoHook(true, picture.Picture, AV_PIX_FMT_XVMC, 4, 2, 1, 0);
  EXPECT_EQ(calls, 0);
  EXPECT_FALSE(engine.OnVideoOutputHook);
  EXPECT_TRUE(LoggedSafely(llError, "Cannot initialize the toRGB conversion context"));
}

// A preview window that records what it is shown and can be "closed by the user".
struct RecordingWindow : PreviewWindowSink {
  struct Journal {
    int Created = 0;
    int Freed = 0;
    std::vector<std::int32_t> Shown;
    bool CloseOnNext = false;
  };
  explicit RecordingWindow(Journal& journal) : journal_(journal) { ++journal_.Created; }
  ~RecordingWindow() override { ++journal_.Freed; }
  int ShowPicture(Bitmap& picture, std::int32_t number, std::int64_t) override {
    EXPECT_EQ(picture.Width(), 4);
    journal_.Shown.push_back(number);
    return journal_.CloseOnNext ? 0 : 1;
  }
  Journal& journal_;
};

TEST_F(RunControl, PreviewKeepsItsIntervalAndAClosedWindowStaysClosed) {
  TCustomFFmpeg engine;
  RecordingWindow::Journal journal;
  engine.PreviewWindowFactory = [&journal] { return std::make_unique<RecordingWindow>(journal); };
  engine.PreviewInterval = 1000000;  // far longer than the calls below take
  engine.SetPreviewFlags(kPreviewWindowFlag);
  TestPicture picture(AV_PIX_FMT_YUV420P, 4, 2);

  engine.Preview(picture.Picture, picture.Format, 4, 2, false, 0, 1);
  engine.Preview(picture.Picture, picture.Format, 4, 2, false, 40000, 2);
  EXPECT_EQ(journal.Shown, std::vector<std::int32_t>{1}) << "the second picture came within the interval";
  EXPECT_EQ(journal.Created, 1);

  engine.PreviewInterval = -1;  // every picture from here on
  journal.CloseOnNext = true;
  engine.Preview(picture.Picture, picture.Format, 4, 2, false, 80000, 3);
  EXPECT_EQ(journal.Freed, 1) << "a window the user closed is freed";
  EXPECT_EQ(engine.PreviewFlags.load(), 0);
  engine.Preview(picture.Picture, picture.Format, 4, 2, false, 120000, 4);
  EXPECT_EQ(journal.Shown, (std::vector<std::int32_t>{1, 3}));
  EXPECT_EQ(journal.Created, 1);

  engine.SetPreviewFlags(kPreviewWindowFlag);
  journal.CloseOnNext = false;
  engine.Preview(picture.Picture, picture.Format, 4, 2, false, 160000, 5);
  EXPECT_EQ(journal.Created, 2) << "setting the flags again brings a new window";
  engine.SetPreviewFlags(0);
  EXPECT_EQ(journal.Freed, 2) << "turning the window bit off closes the window";
}

// A preview bit with nothing to receive it (no bitmap handler, no window and no way to make one)
// costs no conversion; once a receiver is there the pictures come.
TEST_F(RunControl, APreviewNobodyReceivesIsNotConverted) {
  TCustomFFmpeg engine;
  engine.PreviewInterval = -1;
  engine.SetPreviewFlags(kPreviewWindowFlag | kPreviewBitmapFlag);
  TestPicture picture(AV_PIX_FMT_YUV420P, 4, 2);
  for (std::int32_t number = 1; number <= 3; ++number) {
    engine.Preview(picture.Picture, picture.Format, 4, 2, false, 0, number);
  }
  EXPECT_EQ(engine.PreviewConverter.Current(), nullptr) << "a picture was converted for nobody";
  EXPECT_EQ(engine.PreviewFlags.load(), kPreviewWindowFlag | kPreviewBitmapFlag)
      << "the owner's switches stay as set until someone can receive";

  RecordingWindow::Journal journal;
  engine.PreviewWindowFactory = [&journal] { return std::make_unique<RecordingWindow>(journal); };
  engine.Preview(picture.Picture, picture.Format, 4, 2, false, 0, 4);
  EXPECT_NE(engine.PreviewConverter.Current(), nullptr);
  EXPECT_EQ(journal.Shown, std::vector<std::int32_t>{4});
  engine.ClosePreviewWindow();
}

TEST_F(RunControl, WithBothPreviewBitsOnlyTheBitmapCallbackIsServed) {
  TCustomFFmpeg engine;
  RecordingWindow::Journal journal;
  engine.PreviewWindowFactory = [&journal] { return std::make_unique<RecordingWindow>(journal); };
  engine.PreviewInterval = -1;
  std::vector<std::int32_t> bitmaps;
  engine.OnPreviewBitmap = [&bitmaps](TCustomFFmpeg*, Bitmap* bitmap, std::int32_t number, std::int64_t) {
    EXPECT_EQ(bitmap->Height(), 2);
    bitmaps.push_back(number);
  };
  engine.SetPreviewFlags(kPreviewWindowFlag | kPreviewBitmapFlag);
  TestPicture picture(AV_PIX_FMT_YUV420P, 4, 2);
  engine.Preview(picture.Picture, picture.Format, 4, 2, false, 0, 7);
  EXPECT_EQ(bitmaps, std::vector<std::int32_t>{7});
  EXPECT_EQ(journal.Created, 0);

  // A picture the converter cannot read turns the bitmap bit off; the window takes over.
  engine.Preview(picture.Picture, AV_PIX_FMT_XVMC, 4, 2, false, 0, 8);
  EXPECT_EQ(engine.PreviewFlags.load(), kPreviewWindowFlag);
  engine.Preview(picture.Picture, picture.Format, 4, 2, false, 0, 9);
  EXPECT_EQ(journal.Shown, std::vector<std::int32_t>{9});
}

TEST_F(RunControl, APreviewAfterAnOutputHookShowsWhatIsEncoded) {
  TCustomFFmpeg engine;
  engine.PreviewInterval = -1;
  std::uint32_t shown = 0;
  engine.OnPreviewBitmap = [&shown](TCustomFFmpeg*, Bitmap* bitmap, std::int32_t, std::int64_t) {
    shown = bitmap->Pixel(0, 0) & 0xffffff;
  };
  bool update = false;
  engine.OnVideoOutputHook = [&update](TCustomFFmpeg*, Bitmap* bitmap, std::int32_t, std::int64_t, bool& u, bool&) {
    bitmap->Fill(0xffffff);
    u = update;
  };
  engine.SetPreviewFlags(kPreviewBitmapFlag);
  TestPicture picture(AV_PIX_FMT_BGRA, 4, 2);
  engine.Preview(picture.Picture, picture.Format, 4, 2, false, 0, 1);  // takes up the new flags
  ASSERT_EQ(shown, 0x404040u);

  // The hook's drawing was dropped: the converter's bitmap is not what will be encoded.
  engine.CallVideoHook(true, picture.Picture, picture.Format, 4, 2, 2, 0);
  engine.Preview(picture.Picture, picture.Format, 4, 2, true, 0, 2);
  EXPECT_EQ(shown, 0x404040u);

  update = true;
  engine.CallVideoHook(true, picture.Picture, picture.Format, 4, 2, 3, 0);
  engine.Preview(picture.Picture, picture.Format, 4, 2, true, 0, 3);
  EXPECT_EQ(shown, 0xffffffu);
}

// Runs work on a thread of its own, as the engine's worker would, while this (main) thread serves
// the calls the work queues for it. A deadlock ends the test program instead of hanging it.
void RunAsWorker(const std::string& what, const std::function<void()>& work) {
  testing::DeadlockWatchdog watchdog(what, std::chrono::seconds(30));
  std::atomic<bool> done{false};
  std::thread worker([&] {
    work();
    done = true;
    WakeMainThread();
  });
  WaitServing([&done] { return done.load(); });
  worker.join();
}

TEST_F(RunControl, AHookMayReplaceItsOwnHandlerWhileItRuns) {
  using Body = std::function<void(TCustomFFmpeg*)>;
  // Each kind of hook, connected to a handler that runs body, and called once.
  struct Case {
    const char* Name;
    std::function<void(TCustomFFmpeg&, Body)> Connect;
    std::function<void(TCustomFFmpeg&, TestPicture&)> Call;
  };
  const auto video = [](bool output) {
    return [output](TCustomFFmpeg& e, Body body) {
      (output ? e.OnVideoOutputHook : e.OnVideoInputHook) =
          [body](TCustomFFmpeg* s, Bitmap*, std::int32_t, std::int64_t, bool&, bool&) { body(s); };
    };
  };
  const auto frame = [](bool output) {
    return [output](TCustomFFmpeg& e, Body body) {
      (output ? e.OnFrameOutputHook : e.OnFrameInputHook) =
          [body](TCustomFFmpeg* s, PicturePlanes*, std::int32_t, std::int32_t, std::int32_t, std::int32_t,
                 std::int64_t) { body(s); };
    };
  };
  const auto audio = [](bool output) {
    return [output](TCustomFFmpeg& e, Body body) {
      (output ? e.OnAudioOutputHook : e.OnAudioInputHook) =
          [body](TCustomFFmpeg* s, std::uint8_t*, std::int64_t, std::int32_t, std::int32_t, std::int32_t,
                 std::int32_t) { body(s); };
    };
  };
  const auto callVideo = [](bool output) {
    return [output](TCustomFFmpeg& e, TestPicture& p) { e.CallVideoHook(output, p.Picture, p.Format, 4, 2, 1, 0); };
  };
  const auto callFrame = [](bool output) {
    return [output](TCustomFFmpeg& e, TestPicture& p) { e.CallFrameHook(output, p.Picture, p.Format, 4, 2, 1, 0); };
  };
  const auto callAudio = [](bool output) {
    return [output](TCustomFFmpeg& e, TestPicture& p) { e.CallAudioHook(output, p.Buffer.data(), 0, 16, 8000, 1, 1); };
  };
  const Case cases[] = {
      {"video input", video(false), callVideo(false)}, {"video output", video(true), callVideo(true)},
      {"frame input", frame(false), callFrame(false)}, {"frame output", frame(true), callFrame(true)},
      {"audio input", audio(false), callAudio(false)}, {"audio output", audio(true), callAudio(true)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    TCustomFFmpeg engine;
    TestPicture picture(AV_PIX_FMT_BGRA, 4, 2);
    int replaced = 0;
    int sum = 0;
    // The handler reads what it holds after replacing itself: run through its own slot, it would
    // be reading the closure it has just freed.
    c.Connect(engine, [payload = std::vector<int>(64, 1), &sum, &replaced, connect = c.Connect](TCustomFFmpeg* s) {
      connect(*s, [&replaced](TCustomFFmpeg*) { ++replaced; });
      sum = std::accumulate(payload.begin(), payload.end(), 0);
    });
    c.Call(engine, picture);
    EXPECT_EQ(sum, 64);
    EXPECT_EQ(replaced, 0);
    c.Call(engine, picture);
    EXPECT_EQ(replaced, 1) << "the next call goes to the new handler";
  }
}

TEST_F(RunControl, APreviewHandlerMayChangeThePreviewFlags) {
  struct Case {
    const char* Name;
    bool OnMainThread;  // the handler changes the flags through the main thread, as a window would
    std::uint8_t NewFlags;
    std::vector<std::int32_t> Bitmaps;  // of pictures 1 to 3
    std::vector<std::int32_t> Shown;    // in the window
  };
  const Case cases[] = {
      {"off, on the worker", false, 0, {1}, {}},
      {"off, on the main thread", true, 0, {1}, {}},
      {"to the window, on the worker", false, kPreviewWindowFlag, {1}, {2, 3}},
      {"to the window, on the main thread", true, kPreviewWindowFlag, {1}, {2, 3}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    TCustomFFmpeg engine;
    RecordingWindow::Journal journal;
    engine.PreviewWindowFactory = [&journal] { return std::make_unique<RecordingWindow>(journal); };
    engine.PreviewInterval = -1;
    std::vector<std::int32_t> bitmaps;
    engine.OnPreviewBitmap = [&](TCustomFFmpeg* sender, Bitmap*, std::int32_t number, std::int64_t) {
      bitmaps.push_back(number);
      if (c.OnMainThread) {
        RunInMainThread([&] { sender->SetPreviewFlags(c.NewFlags); });
      } else {
        sender->SetPreviewFlags(c.NewFlags);
      }
    };
    engine.SetPreviewFlags(kPreviewBitmapFlag);
    TestPicture picture(AV_PIX_FMT_YUV420P, 4, 2);
    RunAsWorker(c.Name, [&] {
      for (std::int32_t number = 1; number <= 3; ++number) {
        engine.Preview(picture.Picture, picture.Format, 4, 2, false, 0, number);
      }
    });
    EXPECT_EQ(bitmaps, c.Bitmaps);
    EXPECT_EQ(journal.Shown, c.Shown);
    EXPECT_EQ(engine.PreviewFlags.load(), c.NewFlags) << "the handler's word stands";
    engine.SetPreviewFlags(0);
    EXPECT_EQ(journal.Freed, journal.Created);
  }
}

// The user turns the preview off while a picture is being shown (the window's paint waits for the
// main thread, where the owner's calls run).
TEST_F(RunControl, FlagsTurnedOffWhileAPictureIsShownCloseTheWindowAfterIt) {
  struct FlagsWindow : PreviewWindowSink {
    FlagsWindow(TCustomFFmpeg& engine, std::atomic<int>& freed) : Engine(engine), FreedCount(freed) {}
    ~FlagsWindow() override { ++FreedCount; }
    int ShowPicture(Bitmap&, std::int32_t number, std::int64_t) override {
      Shown.push_back(number);
      RunInMainThread([this] { Engine.SetPreviewFlags(0); });
      return 1;
    }
    TCustomFFmpeg& Engine;
    std::atomic<int>& FreedCount;
    std::vector<std::int32_t> Shown;
  };
  TCustomFFmpeg engine;
  std::atomic<int> created{0};
  std::atomic<int> freed{0};
  engine.PreviewWindowFactory = [&]() -> std::unique_ptr<PreviewWindowSink> {
    ++created;
    return std::make_unique<FlagsWindow>(engine, freed);
  };
  engine.PreviewInterval = -1;
  engine.SetPreviewFlags(kPreviewWindowFlag);
  TestPicture picture(AV_PIX_FMT_YUV420P, 4, 2);
  RunAsWorker("a window turning the preview off", [&] {
    engine.Preview(picture.Picture, picture.Format, 4, 2, false, 0, 1);
    engine.Preview(picture.Picture, picture.Format, 4, 2, false, 0, 2);
  });
  EXPECT_EQ(created.load(), 1);
  EXPECT_EQ(freed.load(), 1) << "the window is closed once the flags are off";
  EXPECT_EQ(engine.PreviewFlags.load(), 0);
}

// The owner switches the preview on and off as fast as it can while the worker shows pictures:
// every window made is freed exactly once, and none is used after it was freed.
TEST_F(RunControl, FlagsSwitchedDuringPreviewsNeverLoseOrReuseAWindow) {
  struct CountingWindow : PreviewWindowSink {
    CountingWindow(std::atomic<int>& freed) : FreedCount(freed) {}
    ~CountingWindow() override { ++FreedCount; }
    int ShowPicture(Bitmap& picture, std::int32_t, std::int64_t) override { return picture.Width() == 4 ? 1 : 0; }
    std::atomic<int>& FreedCount;
  };
  TCustomFFmpeg engine;
  std::atomic<int> created{0};
  std::atomic<int> freed{0};
  engine.PreviewWindowFactory = [&]() -> std::unique_ptr<PreviewWindowSink> {
    ++created;
    return std::make_unique<CountingWindow>(freed);
  };
  engine.PreviewInterval = -1;
  TestPicture picture(AV_PIX_FMT_YUV420P, 4, 2);
  std::atomic<bool> previewing{true};
  std::thread owner([&] {
    for (int i = 0; previewing.load(); ++i) engine.SetPreviewFlags(i % 2 == 0 ? kPreviewWindowFlag : 0);
  });
  // Until enough windows have come and gone for the switches to have fallen inside previews.
  constexpr int kWindows = 20;
  RunAsWorker("previews against switching flags", [&] {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    for (std::int32_t number = 1; created.load() < kWindows && std::chrono::steady_clock::now() < end; ++number) {
      engine.Preview(picture.Picture, picture.Format, 4, 2, false, 0, number);
    }
  });
  previewing = false;
  owner.join();
  engine.SetPreviewFlags(0);
  EXPECT_GE(created.load(), kWindows);
  EXPECT_EQ(freed.load(), created.load());
}

// The quiet line that ends a run reaches whatever callback the library has: its text argument
// must be a text, since a callback other than ours formats it as it stands.
std::mutex quietTextsLock;
std::vector<bool> quietTextsNull;
void RecordQuietTexts(void*, int level, const char* format, va_list args) {
  if (level != AV_LOG_QUIET || format == nullptr || std::strcmp(format, "%s") != 0) return;
  va_list probe;
  va_copy(probe, args);
  const char* text = va_arg(probe, const char*);
  va_end(probe);
  std::lock_guard<std::mutex> lock(quietTextsLock);
  quietTextsNull.push_back(text == nullptr);
}

TEST_F(RunControl, TheLineEndingARunHandsTheLibraryAText) {
  {
    std::lock_guard<std::mutex> lock(quietTextsLock);
    quietTextsNull.clear();
  }
  TCustomFFmpeg engine;
  lib::av_log_set_callback(&RecordQuietTexts);
  engine.Run();
  DefaultLogger().InstallLogCallback();
  std::lock_guard<std::mutex> lock(quietTextsLock);
  ASSERT_FALSE(quietTextsNull.empty()) << "a run ends with a quiet line";
  for (const bool null : quietTextsNull) EXPECT_FALSE(null);
}

}  // namespace
}  // namespace lumivor
