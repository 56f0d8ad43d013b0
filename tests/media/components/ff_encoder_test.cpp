// The encoder component over real runs of small clips the tests make: the order and thread of its
// notifications, its refusals while working, its failures that leave it usable, and the main
// thread's waits that keep serving the events workers wait on.
#include "media/components/ff_encoder.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <numeric>
#include <string>
#include <thread>
#include <vector>

#include "deadlock_watchdog.h"
#include "media/runtime/ff_log.h"
#include "media/runtime/main_thread.h"
#include "media_maker.h"
#include "support/scratch_folder.h"

namespace lumivor {
namespace {

using namespace std::chrono_literals;

// What the terminate handler saw, in order.
struct Ending {
  int TaskIndex;
  bool Finished;
  bool Exception;
  std::string Message;
  bool OnMainThread;
};

class Encoder : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    folder_ = new testing::ScratchFolder();
    ok_ = MakeClip(Path("short.mkv"), 0.4) && MakeClip(Path("long.mkv"), 4.0);
  }
  static void TearDownTestSuite() {
    delete folder_;
    folder_ = nullptr;
  }
  void SetUp() override {
    ASSERT_TRUE(ok_) << error_;
    // The logger is the process's: what these runs change of it goes back for the tests after.
    savedLogLevel_ = DefaultLogger().LogLevel();
    savedLogInMainThread_ = DefaultLogger().TriggerEventInMainThread();
    DefaultLogger().SetTriggerEventInMainThread(false);
    DefaultLogger().SetLogLevel(llError);
    encoder_.OnTerminate = [this](TCustomEncoder* sender, const TTerminateInfo& info) {
      EXPECT_EQ(sender, &encoder_);
      std::lock_guard<std::mutex> lock(mutex_);
      endings_.push_back({info.TaskIndex, info.Finished, info.Exception, info.ExceptionMsg, IsMainThread()});
    };
  }

  void TearDown() override {
    DefaultLogger().SetLogLevel(savedLogLevel_);
    DefaultLogger().SetTriggerEventInMainThread(savedLogInMainThread_);
  }

  static bool MakeClip(const std::string& path, double seconds) {
    return testing::WriteMediaFile(path, testing::SmallVideoClip(seconds), error_);
  }
  static std::string Path(const std::string& name) { return *folder_ / name; }

  // A task from input to an mp4 output; its index.
  int AddWholeTask(const std::string& input, const std::string& output, const std::string& inputOptions = "") {
    TInputOptions in;
    InitInputOptions(in);
    in.Options = inputOptions;
    const int task = encoder_.AddTask(input, &in);
    EXPECT_GE(task, 0) << encoder_.LastErrorText;
    TOutputOptions out;
    InitOutputOptions(out);
    out.Options = " -c:v mpeg4 -c:a aac ";
    EXPECT_GE(encoder_.SetOutput(task, output, &out), 0) << encoder_.LastErrorText;
    return task;
  }

  std::vector<Ending> Endings() {
    std::lock_guard<std::mutex> lock(mutex_);
    return endings_;
  }
  bool FinalDelivered() {
    std::lock_guard<std::mutex> lock(mutex_);
    return !endings_.empty() && endings_.back().TaskIndex == -1;
  }
  // The application's wait loop: serve the main thread until the run has ended and said so.
  bool WaitForRunEnd() {
    return WaitServing([this] { return encoder_.AllFinished() && FinalDelivered(); }, std::chrono::seconds(120));
  }

  TFFEncoder encoder_;
  std::mutex mutex_;
  std::vector<Ending> endings_;

 private:
  TLogLevel savedLogLevel_ = llInfo;
  bool savedLogInMainThread_ = true;
  static testing::ScratchFolder* folder_;
  static bool ok_;
  static std::string error_;
};

testing::ScratchFolder* Encoder::folder_ = nullptr;
bool Encoder::ok_ = false;
std::string Encoder::error_;

std::vector<int> TaskOrder(const std::vector<Ending>& endings) {
  std::vector<int> order;
  for (const Ending& e : endings) order.push_back(e.TaskIndex);
  return order;
}

TEST(EncoderSettings, ProgressIntervalHasAFloorOfOneHundred) {
  const struct {
    int Given, Stored;
  } cases[] = {{50, 100}, {100, 100}, {-1, 100}, {101, 101}, {2000, 2000}};
  TFFEncoder encoder;
  EXPECT_EQ(encoder.ProgressInterval(), 500);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Given);
    encoder.SetProgressInterval(c.Given);
    EXPECT_EQ(encoder.ProgressInterval(), c.Stored);
  }
}

TEST(EncoderSettings, HookWordsReachTheEngineInTheirOwnSpellingAndTheTextTrimmed) {
  const struct {
    const char* Given;
    const char* Handed;
  } cases[] = {
      {" -c:a aac -audioinputhook", "-c:a aac -AudioInputHook"},
      {"-AUDIOOUTPUTHOOK -videoinputhook -VideoOutputHook -frameinputhook -frameoutputhook -join",
       "-AudioOutputHook -VideoInputHook -VideoOutputHook -FrameInputHook -FrameOutputHook -Join"},
      {"-join -join", "-Join -Join"},
      {"-joint -xjoin -audioinputhooks x-join", "-joint -xjoin -audioinputhooks x-join"},
      {"  -r 30/1  -s 320x240 ", "-r 30/1  -s 320x240"},
      {"", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Given);
    EXPECT_EQ(CanonicalOutputOptionText(c.Given), c.Handed);
  }
}

TEST_F(Encoder, TwoTasksInTheBackgroundEndInOrderThenTheRunEnds) {
  std::atomic<int> reportsOnMain{0};
  std::atomic<int> reportsElsewhere{0};
  encoder_.OnProgress = [&](TCustomEncoder*, PProgressInfo) { ++(IsMainThread() ? reportsOnMain : reportsElsewhere); };
  for (const bool onMain : {true, false}) {
    SCOPED_TRACE(onMain ? "events on the main thread" : "events where they happen");
    encoder_.TriggerEventInMainThread = onMain;
    endings_.clear();
    reportsOnMain = 0;
    reportsElsewhere = 0;
    const std::string second = Path(onMain ? "second-main.mp4" : "second.mp4");
    AddWholeTask(Path("short.mkv"), Path("first.mp4"));
    AddWholeTask(Path("short.mkv"), second);
    encoder_.StartTask(1);
    EXPECT_TRUE(encoder_.Working());
    ASSERT_TRUE(WaitForRunEnd());

    const std::vector<Ending> endings = Endings();
    EXPECT_EQ(TaskOrder(endings), (std::vector<int>{0, 1, -1}));
    for (const Ending& e : endings) {
      SCOPED_TRACE(e.TaskIndex);
      EXPECT_TRUE(e.Finished);
      EXPECT_FALSE(e.Exception) << e.Message;
      EXPECT_EQ(e.OnMainThread, onMain);
    }
    EXPECT_GT((onMain ? reportsOnMain : reportsElsewhere).load(), 0) << "each task's final report at least";
    EXPECT_EQ((onMain ? reportsElsewhere : reportsOnMain).load(), 0);

    EXPECT_TRUE(encoder_.Working()) << "a finished run works until its tasks are cleared";
    EXPECT_THROW(encoder_.AddTask(Path("short.mkv")), EEncoderWorking);
    encoder_.ClearTasks();
    EXPECT_FALSE(encoder_.Working());
    EXPECT_FALSE(encoder_.AllFinished());
    EXPECT_EQ(encoder_.TaskCount(), 0);

    TFFDecoder decoder;
    ASSERT_TRUE(decoder.LoadFile(second)) << decoder.LastErrorText;
    EXPECT_EQ(decoder.VideoStreamCount, 1);
  }
}

// Each end is delivered by a thread of its own; a handler still busy with one task's end must
// not be overtaken by the next task's, nor by the run's.
TEST_F(Encoder, ASlowEndHandlerIsNotOvertaken) {
  encoder_.TriggerEventInMainThread = false;
  std::atomic<int> secondTaskReports{0};
  std::atomic<bool> secondEndedMeanwhile{false};
  std::atomic<int> inHandler{0};
  std::atomic<int> overlaps{0};
  encoder_.OnTerminate = [&](TCustomEncoder*, const TTerminateInfo& info) {
    if (inHandler.fetch_add(1) != 0) ++overlaps;
    // Long enough for the second task to run to its end meanwhile.
    if (info.TaskIndex == 0) {
      std::this_thread::sleep_for(600ms);
      secondEndedMeanwhile = secondTaskReports.load() == 1;
    }
    {
      std::lock_guard<std::mutex> lock(mutex_);
      endings_.push_back({info.TaskIndex, info.Finished, info.Exception, info.ExceptionMsg, IsMainThread()});
    }
    --inHandler;
  };
  encoder_.OnProgress = [&](TCustomEncoder*, PProgressInfo info) {
    if (info->TaskIndex == 1 && info->FileIndex == -1) ++secondTaskReports;
  };
  AddWholeTask(Path("short.mkv"), Path("slow-a.mp4"));
  AddWholeTask(Path("short.mkv"), Path("slow-b.mp4"));
  encoder_.StartTask(1);
  ASSERT_TRUE(WaitForRunEnd());
  EXPECT_EQ(TaskOrder(Endings()), (std::vector<int>{0, 1, -1}));
  EXPECT_EQ(overlaps.load(), 0);
  EXPECT_TRUE(secondEndedMeanwhile.load()) << "the second task was to end while the first's handler ran";
}

TEST_F(Encoder, ARunOfNoTasksRaisesNothingAndCanBeCleared) {
  encoder_.StartTask(1);
  EXPECT_TRUE(encoder_.Working());
  WaitServing([] { return false; }, 100ms);
  EXPECT_TRUE(Endings().empty());
  EXPECT_FALSE(encoder_.AllFinished());
  EXPECT_NO_THROW(encoder_.ClearTasks());
  EXPECT_FALSE(encoder_.Working());
  EXPECT_GE(encoder_.AddTask(Path("short.mkv")), 0) << encoder_.LastErrorText;
}

TEST_F(Encoder, ARunInTheCallersThreadRaisesEveryEndBeforeItReturns) {
  AddWholeTask(Path("short.mkv"), Path("sync-a.mp4"));
  AddWholeTask(Path("short.mkv"), Path("sync-b.mp4"));
  encoder_.StartTask(0);
  EXPECT_EQ(TaskOrder(Endings()), (std::vector<int>{0, 1, -1}));
  EXPECT_TRUE(encoder_.AllFinished());
}

TEST_F(Encoder, ARemovedTaskIsGoneAndTheOnesAfterItMoveDown) {
  AddWholeTask(Path("short.mkv"), Path("removed.mp4"));
  AddWholeTask(Path("short.mkv"), Path("kept.mp4"));
  encoder_.RemoveTask(0);
  ASSERT_EQ(encoder_.TaskCount(), 1);
  ASSERT_NE(encoder_.InputInspector(0, 0), nullptr);
  EXPECT_EQ(encoder_.InputInspector(1, 0), nullptr);
  encoder_.StartTask(0);
  const std::vector<Ending> endings = Endings();
  ASSERT_EQ(TaskOrder(endings), (std::vector<int>{0, -1}));
  EXPECT_TRUE(endings[0].Finished);
  TFFDecoder decoder;
  EXPECT_TRUE(decoder.LoadFile(Path("kept.mp4"))) << decoder.LastErrorText;
  EXPECT_FALSE(decoder.LoadFile(Path("removed.mp4"))) << "the removed task ran";
}

TEST_F(Encoder, ARefusedStartEndsItsTaskAndTheNextOneStillRuns) {
  TInputOptions in;
  InitInputOptions(in);
  ASSERT_EQ(encoder_.AddTask(Path("short.mkv"), &in), 0) << encoder_.LastErrorText;  // no output
  AddWholeTask(Path("short.mkv"), Path("after-refused.mp4"));
  encoder_.StartTask(1);
  ASSERT_TRUE(WaitForRunEnd());
  const std::vector<Ending> endings = Endings();
  ASSERT_EQ(TaskOrder(endings), (std::vector<int>{0, 1, -1}));
  EXPECT_TRUE(endings[0].Exception);
  EXPECT_EQ(endings[0].Message, "At least one output file must be specified");
  EXPECT_TRUE(endings[1].Finished);
  EXPECT_FALSE(endings[1].Exception) << endings[1].Message;
}

TEST_F(Encoder, BuildingOrStartingWhileWorkingIsRefusedByName) {
  const int task = AddWholeTask(Path("long.mkv"), Path("busy.mp4"), "-re");
  encoder_.StartTask(1);
  encoder_.Pause();  // keeps the run from ending under the checks

  const struct {
    const char* Name;
    std::function<void()> Call;
  } cases[] = {
      {"AddTask", [&] { encoder_.AddTask(Path("short.mkv")); }},
      {"AddInput", [&] { encoder_.AddInput(task, Path("short.mkv")); }},
      {"SetOutput", [&] { encoder_.SetOutput(task, Path("other.mp4")); }},
      {"RemoveTask", [&] { encoder_.RemoveTask(task); }},
      {"StartTask", [&] { encoder_.StartTask(1); }},
      {"ClearTasks", [&] { encoder_.ClearTasks(); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    try {
      c.Call();
      ADD_FAILURE() << "not refused";
    } catch (const EEncoderWorking& e) {
      EXPECT_EQ(std::string(e.what()), std::string("Cannot ") + c.Name + " while working.");
    }
  }
  EXPECT_EQ(encoder_.TaskCount(), 1);

  encoder_.Stop(true);
  ASSERT_TRUE(WaitForRunEnd());
  EXPECT_NO_THROW(encoder_.ClearTasks());
  EXPECT_EQ(encoder_.TaskCount(), 0);
}

TEST_F(Encoder, FailedOperationsKeepTheirReasonAndLeaveTheComponentUsable) {
  const std::string missing = Path("no-such-clip.mkv");
  EXPECT_LT(encoder_.AddTask(missing), 0);
  EXPECT_NE(encoder_.LastErrorText.find("no-such-clip.mkv"), std::string::npos) << encoder_.LastErrorText;
  EXPECT_EQ(encoder_.TaskCount(), 0);

  const int task = encoder_.AddTask(Path("short.mkv"));
  ASSERT_EQ(task, 0) << encoder_.LastErrorText;
  TOutputOptions bad;
  InitOutputOptions(bad);
  bad.Options = "-no_such_option 1";
  TOutputOptions badCodec;
  InitOutputOptions(badCodec);
  badCodec.Options = "-c:v no_such_codec";
  // The texts are the engine's own; a fatal one reads once, not once as the task's and again as
  // the exception's.
  const struct {
    const char* What;
    std::function<int()> Call;
    std::string Text;
  } failures[] = {
      {"missing second input", [&] { return encoder_.AddInput(task, missing); },
       missing + ": No such file or directory"},
      {"unknown output option", [&] { return encoder_.SetOutput(task, Path("bad.mp4"), &bad); }, "Option not found"},
      {"unknown encoder", [&] { return encoder_.SetOutput(task, Path("bad.mp4"), &badCodec); },
       "Unknown encoder \"no_such_codec\""},
      {"no such task", [&] { return encoder_.AddInput(7, Path("short.mkv")); }, "Invalid task index: 7"},
  };
  for (const auto& f : failures) {
    SCOPED_TRACE(f.What);
    encoder_.LastErrorText.clear();
    EXPECT_LT(f.Call(), 0);
    EXPECT_EQ(encoder_.LastErrorText, f.Text);
  }

  TOutputOptions good;
  InitOutputOptions(good);
  good.Options = "-c:v mpeg4 -c:a aac";
  ASSERT_GE(encoder_.SetOutput(task, Path("usable.mp4"), &good), 0) << encoder_.LastErrorText;
  encoder_.StartTask(0);
  const std::vector<Ending> endings = Endings();
  ASSERT_EQ(TaskOrder(endings), (std::vector<int>{0, -1}));
  EXPECT_TRUE(endings[0].Finished);
  EXPECT_FALSE(endings[0].Exception) << endings[0].Message;
}

TEST_F(Encoder, HookWordInLowerCaseIsTakenAndItsHookRunsOnTheWorker) {
  // The engine itself knows the word only in its own spelling.
  {
    TCustomFFmpeg engine;
    {
      OptionsContextScope scope(engine);
      ASSERT_GE(engine.OpenInputFile(scope.Context(), "", Path("short.mkv"), ""), 0) << engine.LastErrMsg;
    }
    OptionsContextScope scope(engine);
    EXPECT_LT(engine.OpenOutputFile(scope.Context(), "-c:a aac -audioinputhook", false, Path("raw.mp4"), ""), 0);
  }
  ASSERT_EQ(encoder_.AddTask(Path("short.mkv")), 0) << encoder_.LastErrorText;
  TOutputOptions out;
  InitOutputOptions(out);
  out.Options = " -c:v mpeg4 -c:a aac -audioinputhook";
  out.AudioInputHook = true;
  ASSERT_GE(encoder_.SetOutput(0, Path("hooked.mp4"), &out), 0) << encoder_.LastErrorText;

  std::atomic<int> calls{0};
  std::atomic<int> callsOnMain{0};
  std::atomic<int> wrongTask{0};
  encoder_.OnAudioInputHook = [&](TCustomEncoder*, int taskIndex, std::int64_t, std::uint8_t* sample, int size, int,
                                  int channels, AVSampleFormat) {
    ++calls;
    if (IsMainThread()) ++callsOnMain;
    if (taskIndex != 0 || sample == nullptr || size <= 0 || channels != 2) ++wrongTask;
  };
  encoder_.StartTask(1);
  ASSERT_TRUE(WaitForRunEnd());
  EXPECT_GT(calls.load(), 0);
  EXPECT_EQ(callsOnMain.load(), 0) << "hooks run on the worker, always";
  EXPECT_EQ(wrongTask.load(), 0);
}

// Each switch of the output record connects its own event and no other; the video hooks also hand
// back what the handler decided (StopHook ends the calls).
TEST_F(Encoder, EachHookSwitchConnectsItsOwnEventOnTheWorker) {
  enum Kind { AudioIn, AudioOut, VideoIn, VideoOut, FrameIn, FrameOut, KindCount };
  std::atomic<int> calls[KindCount] = {};
  std::atomic<int> wrong{0};
  const auto count = [&](Kind kind, int taskIndex) {
    ++calls[kind];
    if (IsMainThread() || taskIndex != 0) ++wrong;
  };
  encoder_.OnAudioInputHook = [&](TCustomEncoder*, int task, std::int64_t, std::uint8_t*, int, int, int,
                                  AVSampleFormat) { count(AudioIn, task); };
  encoder_.OnAudioOutputHook = [&](TCustomEncoder*, int task, std::int64_t, std::uint8_t*, int, int, int,
                                   AVSampleFormat) { count(AudioOut, task); };
  encoder_.OnVideoInputHook = [&](TCustomEncoder*, PHookInfo info) {
    count(VideoIn, info->TaskIndex);
    info->StopHook = true;
  };
  encoder_.OnVideoOutputHook = [&](TCustomEncoder*, PHookInfo info) {
    count(VideoOut, info->TaskIndex);
    if (info->Bitmap == nullptr || info->Bitmap->Width() != 160) ++wrong;
    info->StopHook = true;
  };
  encoder_.OnFrameInputHook = [&](TCustomEncoder*, PFrameHookInfo info) { count(FrameIn, info->TaskIndex); };
  encoder_.OnFrameOutputHook = [&](TCustomEncoder*, PFrameHookInfo info) { count(FrameOut, info->TaskIndex); };

  const struct {
    Kind Connected;
    bool TOutputOptions::*Switch;
    bool CalledOnce;  // the handler asked to be called no more
  } cases[] = {
      {AudioIn, &TOutputOptions::AudioInputHook, false},   {AudioOut, &TOutputOptions::AudioOutputHook, false},
      {VideoIn, &TOutputOptions::VideoInputHook, true},    {VideoOut, &TOutputOptions::VideoOutputHook, true},
      {FrameIn, &TOutputOptions::FrameInputHook, false},   {FrameOut, &TOutputOptions::FrameOutputHook, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Connected);
    for (auto& n : calls) n = 0;
    endings_.clear();
    ASSERT_EQ(encoder_.AddTask(Path("short.mkv")), 0) << encoder_.LastErrorText;
    TOutputOptions out;
    InitOutputOptions(out);
    out.Options = "-c:v mpeg4 -c:a aac";
    out.*c.Switch = true;
    ASSERT_GE(encoder_.SetOutput(0, Path("hooks.mp4"), &out), 0) << encoder_.LastErrorText;
    encoder_.StartTask(1);
    ASSERT_TRUE(WaitForRunEnd());
    encoder_.ClearTasks();
    for (int kind = 0; kind < KindCount; ++kind) {
      SCOPED_TRACE(kind);
      if (kind != c.Connected) {
        EXPECT_EQ(calls[kind].load(), 0);
      } else if (c.CalledOnce) {
        EXPECT_EQ(calls[kind].load(), 1);
      } else {
        EXPECT_GT(calls[kind].load(), 1);
      }
    }
  }
  EXPECT_EQ(wrong.load(), 0) << "hooks run on the worker, with their task's index";
}

TEST_F(Encoder, BeforeFindStreamInfoNamesTheTaskAndCanRefuseTheInput) {
  std::vector<std::string> seen;
  encoder_.OnBeforeFindStreamInfo = [&](TFFmpeg* sender, AVFormatContext* context) {
    ASSERT_NE(sender, nullptr);
    EXPECT_EQ(sender->OwnerEncoder, &encoder_);
    seen.push_back(context->url);
    if (seen.size() == 2) throw std::runtime_error("refused by the handler");
  };
  ASSERT_EQ(encoder_.AddTask(Path("short.mkv")), 0) << encoder_.LastErrorText;
  EXPECT_LT(encoder_.AddInput(0, Path("long.mkv")), 0);
  EXPECT_EQ(encoder_.LastErrorText, "refused by the handler");
  EXPECT_EQ(seen, (std::vector<std::string>{Path("short.mkv"), Path("long.mkv")}));
  EXPECT_EQ(encoder_.InputInspector(0, 1), nullptr) << "the refused input is not the task's";
  EXPECT_GE(encoder_.AddInput(0, Path("long.mkv")), 0) << encoder_.LastErrorText;
}

TEST_F(Encoder, MainThreadWaitingInStopServesTheEventsOfTheRunItStops) {
  AddWholeTask(Path("long.mkv"), Path("stopped.mp4"), "-re");
  AddWholeTask(Path("short.mkv"), Path("never.mp4"));
  encoder_.SetProgressInterval(100);
  std::atomic<int> reports{0};
  std::atomic<bool> finalReport{false};
  std::atomic<int> offMain{0};
  encoder_.OnProgress = [&](TCustomEncoder*, PProgressInfo info) {
    if (!IsMainThread()) ++offMain;
    ++reports;
    if (info->FileIndex == -1) finalReport = true;
  };
  encoder_.StartTask(1);
  ASSERT_TRUE(WaitServing([&] { return reports.load() > 0; }, std::chrono::seconds(60)));
  EXPECT_FALSE(finalReport.load());

  // The worker's last report waits for the main thread, which is inside Stop.
  encoder_.Stop(true);
  EXPECT_TRUE(finalReport.load()) << "the final report ran while the main thread waited in Stop";
  ASSERT_TRUE(WaitForRunEnd());
  EXPECT_EQ(offMain.load(), 0);

  const std::vector<Ending> endings = Endings();
  ASSERT_EQ(TaskOrder(endings), (std::vector<int>{0, 1, -1})) << "a task stopped before it ran still ends";
  EXPECT_FALSE(endings[0].Finished);
  EXPECT_FALSE(endings[0].Exception) << endings[0].Message;
  EXPECT_FALSE(endings[1].Finished);
  for (const Ending& e : endings) EXPECT_TRUE(e.OnMainThread) << e.TaskIndex;
}

TEST_F(Encoder, PauseHoldsTheTaskAndResumeLetsItGoOn) {
  TInputOptions in;
  InitInputOptions(in);
  in.Options = "-re";
  ASSERT_EQ(encoder_.AddTask(Path("long.mkv"), &in), 0) << encoder_.LastErrorText;
  TOutputOptions out;
  InitOutputOptions(out);
  out.Options = "-c:v mpeg4 -c:a aac";
  out.FrameInputHook = true;
  ASSERT_GE(encoder_.SetOutput(0, Path("paused.mp4"), &out), 0) << encoder_.LastErrorText;
  std::atomic<int> frames{0};
  encoder_.OnFrameInputHook = [&frames](TCustomEncoder*, PFrameHookInfo) { ++frames; };

  encoder_.StartTask(1);
  ASSERT_TRUE(WaitServing([&] { return frames.load() >= 3; }, std::chrono::seconds(60)));
  encoder_.Pause();
  EXPECT_TRUE(encoder_.Paused());
  // A frame under way when the gate closed gets through; after that nothing moves.
  WaitServing([] { return false; }, 200ms);
  const int held = frames.load();
  WaitServing([] { return false; }, 400ms);
  EXPECT_EQ(frames.load(), held);

  encoder_.Resume();
  EXPECT_FALSE(encoder_.Paused());
  EXPECT_TRUE(WaitServing([&] { return frames.load() >= held + 3; }, std::chrono::seconds(60)));
  encoder_.Stop(true);
  ASSERT_TRUE(WaitForRunEnd());
}

// A pause holds the run, not only the task that happened to be running: the task that starts
// when a paused one ends waits for Resume too.
TEST_F(Encoder, ATaskStartedWhilePausedWaitsForResume) {
  for (int i = 0; i < 2; ++i) {
    const int task = encoder_.AddTask(Path("short.mkv"));
    ASSERT_EQ(task, i) << encoder_.LastErrorText;
    TOutputOptions out;
    InitOutputOptions(out);
    out.Options = "-c:v mpeg4 -c:a aac";
    out.FrameInputHook = true;
    ASSERT_GE(encoder_.SetOutput(task, Path("paused-" + std::to_string(i) + ".mp4"), &out), 0);
  }
  std::atomic<int> secondFrames{0};
  encoder_.OnFrameInputHook = [&](TCustomEncoder*, PFrameHookInfo info) {
    if (info->TaskIndex == 1) ++secondFrames;
  };
  // The first task's last report comes after its output is complete: pausing there leaves it
  // nothing to hold, so it ends while the run is paused.
  encoder_.OnProgress = [this](TCustomEncoder*, PProgressInfo info) {
    if (info->TaskIndex == 0 && info->FileIndex == -1) encoder_.Pause();
  };
  encoder_.StartTask(1);
  ASSERT_TRUE(WaitServing([this] { return !Endings().empty(); }, std::chrono::seconds(60)));
  EXPECT_TRUE(encoder_.Paused());
  WaitServing([] { return false; }, 300ms);
  EXPECT_EQ(secondFrames.load(), 0) << "the second task ran while the run was paused";
  encoder_.Resume();
  ASSERT_TRUE(WaitForRunEnd());
  EXPECT_GT(secondFrames.load(), 0);
  EXPECT_EQ(TaskOrder(Endings()), (std::vector<int>{0, 1, -1}));
}

TEST_F(Encoder, FreeingAWorkingComponentStopsItAndDeliversItsEnds) {
  std::vector<Ending> endings;
  std::mutex lock;
  std::atomic<bool> running{false};
  {
    TFFEncoder encoder;
    encoder.SetProgressInterval(100);
    encoder.OnProgress = [&running](TCustomEncoder*, PProgressInfo) { running = true; };
    encoder.OnTerminate = [&](TCustomEncoder*, const TTerminateInfo& info) {
      std::lock_guard<std::mutex> guard(lock);
      endings.push_back({info.TaskIndex, info.Finished, info.Exception, info.ExceptionMsg, IsMainThread()});
    };
    TInputOptions in;
    InitInputOptions(in);
    in.Options = "-re";
    ASSERT_EQ(encoder.AddTask(Path("long.mkv"), &in), 0) << encoder.LastErrorText;
    TOutputOptions out;
    InitOutputOptions(out);
    out.Options = "-c:v mpeg4 -c:a aac";
    ASSERT_GE(encoder.SetOutput(0, Path("freed.mp4"), &out), 0) << encoder.LastErrorText;
    encoder.StartTask(1);
    ASSERT_TRUE(WaitServing([&] { return running.load(); }, std::chrono::seconds(60)));
  }
  std::lock_guard<std::mutex> guard(lock);
  ASSERT_EQ(TaskOrder(endings), (std::vector<int>{0, -1}));
  EXPECT_FALSE(endings[0].Finished);
  EXPECT_TRUE(endings[0].OnMainThread);
}

TEST_F(Encoder, InputInspectorsDescribeInputsUntilTheRunStarts) {
  ASSERT_EQ(encoder_.AddTask(Path("short.mkv")), 0) << encoder_.LastErrorText;
  TFFDecoder* inspector = encoder_.InputInspector(0, 0);
  ASSERT_NE(inspector, nullptr);
  EXPECT_EQ(inspector->VideoStreamCount, 1);
  EXPECT_EQ(inspector->AudioStreamCount, 1);
  EXPECT_EQ(encoder_.InputInspector(0, 1), nullptr);
  EXPECT_EQ(encoder_.InputInspector(1, 0), nullptr);

  TOutputOptions out;
  InitOutputOptions(out);
  out.Options = "-c:v mpeg4 -c:a aac";
  ASSERT_GE(encoder_.SetOutput(0, Path("inspected.mp4"), &out), 0) << encoder_.LastErrorText;
  encoder_.StartTask(0);
  // The run has freed the opened input; the inspector must not still point at it.
  EXPECT_EQ(inspector->StreamCount, -1);
  EXPECT_TRUE(inspector->FileInfoText().empty());
}

TEST_F(Encoder, PreviewsComeThroughTheirFactoryOrTheirEventOnTheMainThread) {
  std::atomic<int> windows{0};
  std::atomic<int> windowsOffMain{0};
  encoder_.PreviewFormFactory = [&]() -> std::unique_ptr<TPreviewerForm> {
    ++windows;
    if (!IsMainThread()) ++windowsOffMain;
    return std::make_unique<HeadlessPreviewerForm>();
  };
  std::atomic<int> bitmaps{0};
  std::atomic<int> badBitmaps{0};
  encoder_.OnPreviewBitmap = [&](TCustomEncoder*, const TPreviewInfo& info) {
    if (!IsMainThread() || info.TaskIndex != 0 || info.Bitmap == nullptr || info.Bitmap->Width() != 160) ++badBitmaps;
    ++bitmaps;
  };
  const struct {
    bool Window, Bitmap;
    int Windows, Bitmaps;  // Bitmaps: 1 for some
  } cases[] = {{true, false, 1, 0}, {false, true, 0, 1}, {true, true, 0, 1}, {false, false, 0, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << "window " << c.Window << ", bitmap " << c.Bitmap);
    windows = 0;
    bitmaps = 0;
    endings_.clear();
    encoder_.SetPreview(c.Window);
    encoder_.SetPreviewBitmap(c.Bitmap);
    AddWholeTask(Path("short.mkv"), Path("preview.mp4"));
    encoder_.StartTask(1);
    ASSERT_TRUE(WaitForRunEnd());
    encoder_.ClearTasks();
    EXPECT_EQ(windows.load(), c.Windows);
    EXPECT_EQ(bitmaps.load() > 0 ? 1 : 0, c.Bitmaps);
  }
  EXPECT_EQ(windowsOffMain.load(), 0);
  EXPECT_EQ(badBitmaps.load(), 0);
}

// A run that nobody watches (no preview window factory, no bitmap handler: the command line)
// converts no preview picture, whatever preview switches are on; a receiver gets pictures.
TEST_F(Encoder, ARunWithoutAPreviewReceiverConvertsNoPreviewPictures) {
  struct Case {
    const char* Name;
    bool Factory, Handler;  // the receivers present
    bool Window, Bitmap;    // the switches
    bool Converted;
  };
  const Case cases[] = {
      {"window switched on, no window", false, false, true, false, false},
      {"bitmaps switched on, no handler", false, false, false, true, false},
      {"both switched on, no receiver", false, false, true, true, false},
      {"a window factory", true, false, true, false, true},
      {"a bitmap handler", false, true, false, true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    int windows = 0;
    int bitmaps = 0;
    encoder_.PreviewFormFactory = nullptr;
    encoder_.OnPreviewBitmap = nullptr;
    if (c.Factory) {
      encoder_.PreviewFormFactory = [&windows]() -> std::unique_ptr<TPreviewerForm> {
        ++windows;
        return std::make_unique<HeadlessPreviewerForm>();
      };
    }
    if (c.Handler) encoder_.OnPreviewBitmap = [&bitmaps](TCustomEncoder*, const TPreviewInfo&) { ++bitmaps; };
    encoder_.SetPreview(c.Window);
    encoder_.SetPreviewBitmap(c.Bitmap);
    endings_.clear();
    // The task is reached through the one event that hands it out.
    TFFmpeg* task = nullptr;
    encoder_.OnBeforeFindStreamInfo = [&task](TFFmpeg* sender, AVFormatContext*) { task = sender; };
    AddWholeTask(Path("short.mkv"), Path("watched.mp4"));
    encoder_.OnBeforeFindStreamInfo = nullptr;
    ASSERT_NE(task, nullptr);
    encoder_.StartTask(1);
    ASSERT_TRUE(WaitForRunEnd());
    EXPECT_EQ(task->PreviewConverter.Current() != nullptr, c.Converted);
    EXPECT_EQ(windows > 0 || bitmaps > 0, c.Converted);
    encoder_.ClearTasks();
  }
  encoder_.SetPreview(false);
  encoder_.SetPreviewBitmap(false);
  encoder_.OnPreviewBitmap = nullptr;
  encoder_.PreviewFormFactory = nullptr;
}

// The handler runs on the main thread while the worker waits for it; turning the bitmaps off and
// the window on there must not wait for the worker.
TEST_F(Encoder, APreviewHandlerMaySwitchThePreviewWhileTheRunWaitsForIt) {
  std::atomic<int> windows{0};
  encoder_.PreviewFormFactory = [&]() -> std::unique_ptr<TPreviewerForm> {
    ++windows;
    return std::make_unique<HeadlessPreviewerForm>();
  };
  int bitmaps = 0;
  encoder_.OnPreviewBitmap = [&](TCustomEncoder* sender, const TPreviewInfo&) {
    ++bitmaps;
    sender->SetPreviewBitmap(false);
    sender->SetPreview(true);
  };
  encoder_.SetPreviewBitmap(true);
  AddWholeTask(Path("long.mkv"), Path("switched.mp4"));
  testing::DeadlockWatchdog watchdog("a run whose preview handler switches the preview", 120s);
  encoder_.StartTask(1);
  ASSERT_TRUE(WaitForRunEnd());
  EXPECT_EQ(bitmaps, 1) << "no bitmap once the handler turned them off";
  ASSERT_EQ(Endings().size(), 2u);
  EXPECT_FALSE(Endings()[0].Exception) << Endings()[0].Message;
  encoder_.ClearTasks();
  encoder_.SetPreview(false);
}

// The event set to a handler that runs body, whatever it is given; cleared without a body.
template <typename Event>
void SetEvent(Event& event, const std::function<void()>& body) {
  if (body) {
    event = [body](auto&&...) { body(); };
  } else {
    event = nullptr;
  }
}

// A handler that clears its own event while it runs must not free the function object it is
// running: each reads what it carries after clearing.
TEST_F(Encoder, AHandlerMayClearItsOwnEvent) {
  struct Case {
    const char* Name;
    bool TOutputOptions::*Switch;  // null: none needed
    std::function<void(TCustomEncoder&, const std::function<void()>&)> Connect;
  };
  const Case cases[] = {
      {"video output hook", &TOutputOptions::VideoOutputHook,
       [](TCustomEncoder& e, const std::function<void()>& body) { SetEvent(e.OnVideoOutputHook, body); }},
      {"frame input hook", &TOutputOptions::FrameInputHook,
       [](TCustomEncoder& e, const std::function<void()>& body) { SetEvent(e.OnFrameInputHook, body); }},
      {"progress", nullptr,
       [](TCustomEncoder& e, const std::function<void()>& body) { SetEvent(e.OnProgress, body); }},
      {"preview bitmap", nullptr,
       [](TCustomEncoder& e, const std::function<void()>& body) { SetEvent(e.OnPreviewBitmap, body); }},
  };
  encoder_.SetPreviewBitmap(true);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    endings_.clear();
    std::atomic<int> calls{0};
    std::atomic<int> sum{0};
    c.Connect(encoder_, [this, &calls, &sum, payload = std::vector<int>(64, 1), &c] {
      ++calls;
      c.Connect(encoder_, nullptr);
      sum = std::accumulate(payload.begin(), payload.end(), 0);
    });
    ASSERT_EQ(encoder_.AddTask(Path("short.mkv")), 0) << encoder_.LastErrorText;
    TOutputOptions out;
    InitOutputOptions(out);
    out.Options = "-c:v mpeg4 -c:a aac";
    if (c.Switch != nullptr) out.*c.Switch = true;
    ASSERT_GE(encoder_.SetOutput(0, Path("cleared.mp4"), &out), 0) << encoder_.LastErrorText;
    encoder_.StartTask(1);
    ASSERT_TRUE(WaitForRunEnd());
    encoder_.ClearTasks();
    c.Connect(encoder_, nullptr);  // in case it was never called
    EXPECT_EQ(calls.load(), 1);
    EXPECT_EQ(sum.load(), 64);
  }
  encoder_.SetPreviewBitmap(false);
}

}  // namespace
}  // namespace lumivor
