#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <fstream>
#include <memory>
#include <sstream>
#include <thread>
#include <vector>

#include "media/runtime/ff_log.h"
#include "media/runtime/format_text.h"
#include "media/runtime/main_thread.h"
#include "media/runtime/runtime_errors.h"
#include "runtime_test_support.h"

namespace lumivor {
namespace {

using testing::ScratchFolder;

// The libraries call the callback with a va_list; so does this.
void CallLog(void* object, int level, const char* format, ...) {
  va_list args;
  va_start(args, format);
  LibraryLogCallback(object, level, format, args);
  va_end(args);
}

struct Line {
  const void* sender;
  int threadId;
  TLogLevel level;
  std::string message;
};

class LoggerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The log file settings outlive loggers (they are process-wide).
    logger_.SetLogToFile(false);
    logger_.SetLogFile("");
    logger_.SetLogLevel(llDebug);
    logger_.SetOnLog([this](const void* sender, int threadId, TLogLevel level, const std::string& message) {
      lines_.push_back({sender, threadId, level, message});
    });
    // Repeat state and pending text are process-wide: start from a clean
    // slate (a flush, then a line end for this thread).
    CallLog(nullptr, AV_LOG_PANIC, "%s", static_cast<const char*>(nullptr));
    CallLog(nullptr, AV_LOG_PANIC, "\n");
    CallLog(nullptr, AV_LOG_PANIC, "%s", static_cast<const char*>(nullptr));
    lines_.clear();
  }

  std::vector<std::string> Messages() const {
    std::vector<std::string> messages;
    for (const Line& l : lines_) messages.push_back(l.message);
    return messages;
  }

  TFFLogger logger_;
  std::vector<Line> lines_;
};

TEST(LogLevelTest, ConversionsBothWays) {
  struct Case {
    TLogLevel level;
    int library;
  };
  const Case cases[] = {{llQuiet, -8}, {llPanic, 0},    {llFatal, 8},    {llError, 16},
                        {llWarning, 24}, {llInfo, 32}, {llVerbose, 40}, {llDebug, 48}};
  for (const Case& c : cases) {
    EXPECT_EQ(LogLevelToLibrary(c.level), c.library) << LogLevelNames[c.level];
    EXPECT_EQ(LogLevelFromLibrary(c.library), c.level) << c.library;
  }
  struct Between {
    int library;
    TLogLevel level;
  };
  const Between between[] = {{-100, llQuiet}, {-7, llPanic}, {-9, llQuiet}, {47, llVerbose},
                              {56, llDebug},   {1000, llDebug}, {31, llWarning}};
  for (const Between& b : between) EXPECT_EQ(LogLevelFromLibrary(b.library), b.level) << b.library;
}

TEST(LoggerInstanceTest, OnlyOneExplicitLogger) {
  TFFLogger first;
  try {
    TFFLogger second;
    ADD_FAILURE() << "second logger created";
  } catch (const EAssertionFailed& e) {
    EXPECT_STREQ(e.what(), "Allow creating only one instance of TFFLogger.");
  }
  // The refused one took nothing with it: the default logger still reaches
  // the first one's event.
  first.SetTriggerEventInMainThread(false);
  std::vector<std::string> seen;
  first.SetOnLog([&](const void*, int, TLogLevel, const std::string& message) { seen.push_back(message); });
  EXPECT_FALSE(DefaultLogger().AutoCreated());
  DefaultLogger().Log(nullptr, llQuiet, "through the default");
  EXPECT_EQ(seen, std::vector<std::string>{"through the default"});
}

TEST(LoggerInstanceTest, ExplicitLoggerReplacesTheAutoCreatedOne) {
  TFFLogger& automatic = DefaultLogger();
  EXPECT_TRUE(automatic.AutoCreated());
  automatic.SetActive(false);
  automatic.SetOnLog([](const void*, int, TLogLevel, const std::string&) {});
  {
    TFFLogger mine;
    EXPECT_FALSE(mine.AutoCreated());
    EXPECT_FALSE(DefaultLogger().AutoCreated());
    // The automatic logger's settings went with it.
    EXPECT_TRUE(mine.Active());
    EXPECT_FALSE(mine.HasOnLog());
    EXPECT_TRUE(mine.TriggerEventInMainThread());
    mine.SetActive(false);
    EXPECT_FALSE(automatic.Active()) << "the default logger acts on the explicit one's settings";
  }
  // Destroying the explicit one puts a fresh automatic one back.
  EXPECT_TRUE(automatic.AutoCreated());
  EXPECT_TRUE(automatic.Active());
  EXPECT_FALSE(automatic.HasOnLog());
  EXPECT_EQ(&DefaultLogger(), &automatic);
}

// Workers keep logging, through a reference to the default logger taken
// once and through the library callback, while the main thread creates and
// destroys explicit loggers over and over. Under the sanitizers any use of a
// freed logger or handler is a failure; every line logged while a handler
// was installed reaches one handler at most once.
TEST(LoggerInstanceTest, ReplacedWhileWorkersLog) {
  constexpr int workers = 3;
  std::atomic<bool> stop{false};
  std::atomic<int> finished{0};
  std::vector<std::thread> threads;
  for (int w = 0; w < workers; ++w) {
    threads.emplace_back([&, w] {
      TFFLogger& kept = DefaultLogger();
      for (int i = 0; !stop; ++i) {
        kept.Log(&kept, llError, "kept reference");
        DefaultLogger().LogFmt(nullptr, llError, "worker %d line %d", w, i);
        CallLog(nullptr, AV_LOG_ERROR, "library %d %d\n", w, i);
      }
      ++finished;
    });
  }
  int delivered = 0;
  for (int round = 0; round < 200; ++round) {
    TFFLogger logger;
    // Half the rounds deliver on the logging thread, half through the main
    // thread's queue.
    logger.SetTriggerEventInMainThread(round % 2 == 0);
    auto count = std::make_shared<std::atomic<int>>(0);
    logger.SetOnLog([count](const void*, int, TLogLevel, const std::string& message) {
      if (message.empty()) ADD_FAILURE() << "empty line";
      ++*count;
    });
    std::this_thread::sleep_for(std::chrono::microseconds(200));
    ServeSynchronizedCalls();
    delivered += count->load();
  }
  stop = true;
  EXPECT_TRUE(WaitServing([&] { return finished.load() == workers; }, std::chrono::seconds(30)));
  for (std::thread& t : threads) t.join();
  EXPECT_GT(delivered, 0) << "the workers' lines never reached a logger";
  EXPECT_TRUE(DefaultLogger().AutoCreated());
}

TEST(LoggerInstanceTest, NewLoggerTakesItsLevelFromTheLibraryThreshold) {
  {
    TFFLogger logger;
    logger.SetLogLevel(llWarning);
    EXPECT_EQ(LibraryLogThreshold(), 24);
  }
  TFFLogger next;
  EXPECT_EQ(next.LogLevel(), llWarning);
  next.SetLogLevel(llInfo);
  EXPECT_EQ(LibraryLogThreshold(), 32);
}

TEST_F(LoggerTest, SilentUnlessActiveWithSomewhereToGo) {
  EXPECT_FALSE(logger_.Silent());
  logger_.SetActive(false);
  EXPECT_TRUE(logger_.Silent());
  logger_.Log(nullptr, llQuiet, "dropped");
  CallLog(nullptr, AV_LOG_ERROR, "dropped too\n");
  logger_.SetActive(true);
  logger_.SetOnLog(nullptr);
  EXPECT_TRUE(logger_.Silent());
  logger_.SetLogToFile(true);
  EXPECT_TRUE(logger_.Silent()) << "no file name";
  logger_.SetLogFile("/nonexistent-folder/x.log");
  EXPECT_FALSE(logger_.Silent());
  logger_.SetLogToFile(false);
  logger_.SetLogFile("");
  EXPECT_TRUE(lines_.empty());
}

TEST_F(LoggerTest, LevelFilter) {
  logger_.SetLogLevel(llWarning);
  EXPECT_EQ(LibraryLogThreshold(), 24);
  logger_.Log(nullptr, llInfo, "info");
  logger_.Log(nullptr, llWarning, "warning");
  CallLog(nullptr, AV_LOG_INFO, "library info\n");
  CallLog(nullptr, AV_LOG_WARNING, "library warning\n");
  CallLog(nullptr, AV_LOG_WARNING | (134 << 8), "tinted warning\n");  // colour hint above the level
  EXPECT_EQ(Messages(), (std::vector<std::string>{"warning", "library warning", "tinted warning"}));
  EXPECT_EQ(lines_[1].level, llWarning);
  EXPECT_EQ(lines_[1].sender, &logger_) << "library lines come from the logger";
}

TEST_F(LoggerTest, QuietPassesEveryLevel) {
  for (int level = llQuiet; level <= llDebug; ++level) {
    logger_.SetLogLevel(static_cast<TLogLevel>(level));
    logger_.Log(&level, llQuiet, "always");
  }
  EXPECT_EQ(lines_.size(), 8u);
}

TEST_F(LoggerTest, LogFmtFormatsAndCarriesSenderAndThread) {
  int sender = 0;
  logger_.LogFmt(&sender, llError, "%s=%d", "answer", 42);
  ASSERT_EQ(lines_.size(), 1u);
  EXPECT_EQ(lines_[0].message, "answer=42");
  EXPECT_EQ(lines_[0].sender, &sender);
  EXPECT_EQ(lines_[0].threadId, CurrentThreadId());
  EXPECT_EQ(lines_[0].level, llError);
}

// A minimal object the library would log for: its first member is its class.
struct FakeObject {
  const AVClass* avClass;
  void* parent;
};
const char* FakeItemName(void* object) {
  return static_cast<FakeObject*>(object)->parent != nullptr ? "child" : "parent";
}

TEST_F(LoggerTest, TextSplitOverCallsIsDeliveredOnceWithOnePrefix) {
  AVClass avClass{};
  avClass.class_name = "fake";
  avClass.item_name = FakeItemName;
  FakeObject object{&avClass, nullptr};
  CallLog(&object, AV_LOG_INFO, "abc");
  EXPECT_TRUE(lines_.empty());
  CallLog(&object, AV_LOG_INFO, "def\n");
  EXPECT_EQ(Messages(), (std::vector<std::string>{FormatText("[parent @ %p]abcdef", static_cast<void*>(&object))}));
}

TEST_F(LoggerTest, ParentPrefixComesFirst) {
  AVClass avClass{};
  avClass.class_name = "fake";
  avClass.item_name = FakeItemName;
  avClass.parent_log_context_offset = offsetof(FakeObject, parent);
  FakeObject parent{&avClass, nullptr};
  FakeObject child{&avClass, &parent};
  CallLog(&child, AV_LOG_ERROR, "broken %d\n", 5);
  ASSERT_EQ(lines_.size(), 1u);
  EXPECT_EQ(lines_[0].message, FormatText("[parent @ %p] [child @ %p]broken 5", static_cast<void*>(&parent),
                                          static_cast<void*>(&child)));
}

TEST_F(LoggerTest, SeveralLinesInOneCallAndATailThatWaits) {
  CallLog(nullptr, AV_LOG_INFO, "one\ntwo\nthr");
  EXPECT_EQ(Messages(), (std::vector<std::string>{"one", "two"}));
  CallLog(nullptr, AV_LOG_INFO, "ee\n");
  EXPECT_EQ(Messages(), (std::vector<std::string>{"one", "two", "three"}));
}

TEST_F(LoggerTest, PendingTextIsKeptPerThread) {
  CallLog(nullptr, AV_LOG_INFO, "main ");
  std::thread worker([] { CallLog(nullptr, AV_LOG_INFO, "worker half"); });
  worker.join();
  CallLog(nullptr, AV_LOG_INFO, "line\n");
  EXPECT_EQ(Messages(), (std::vector<std::string>{"main line"}));
  // The worker's half line waits for that thread's own line end.
}

TEST_F(LoggerTest, RepeatFolding) {
  struct Case {
    const char* name;
    std::vector<const char*> calls;
    std::vector<std::string> delivered;
  };
  const Case cases[] = {
      {"three then different", {"same\n", "same\n", "same\n", "other\n"},
       {"same", "    Last message repeated 2 times", "other"}},
      {"two then different", {"same\n", "same\n", "other\n"}, {"same", "other"}},
      {"folding needs a line end", {"same", "same", "\n"}, {"samesame"}},
      {"flush delivers the note", {"x\n", "x\n", "x\n", "x\n", nullptr}, {"x", "    Last message repeated 3 times"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    lines_.clear();
    for (const char* text : c.calls) {
      if (text == nullptr) {
        CallLog(nullptr, AV_LOG_INFO, "%s", static_cast<const char*>(nullptr));
      } else {
        CallLog(nullptr, AV_LOG_INFO, "%s", text);
      }
    }
    EXPECT_EQ(Messages(), c.delivered);
    // Reset for the next case.
    CallLog(nullptr, AV_LOG_INFO, "%s", static_cast<const char*>(nullptr));
  }
}

TEST_F(LoggerTest, LongMessageIsDeliveredWhole) {
  for (size_t length : {2047u, 2048u, 2049u, 4097u, 10000u}) {
    lines_.clear();
    std::string text(length, 'x');
    text[length / 2] = 'y';
    CallLog(nullptr, AV_LOG_INFO, "%s\n", text.c_str());
    ASSERT_EQ(lines_.size(), 1u) << length;
    EXPECT_EQ(lines_[0].message, text) << length;
  }
}

TEST_F(LoggerTest, FileLinesAreAppendedToAnExistingFile) {
  ScratchFolder temp;
  const std::string path = temp / ("run.log");
  {
    std::ofstream existing(path, std::ios::binary);
    existing << "earlier\r\n";
  }
  logger_.SetLogFile(path);
  logger_.SetLogToFile(true);
  logger_.Log(nullptr, llError, "message");
  CallLog(nullptr, AV_LOG_WARNING, "from library\n");
  logger_.SetLogToFile(false);  // closes the stream

  std::ifstream in(path, std::ios::binary);
  std::stringstream content;
  content << in.rdbuf();
  const std::string id = FormatText("[%.8X]", static_cast<unsigned>(CurrentThreadId()));
  const std::string text = content.str();
  ASSERT_EQ(text.rfind("earlier\r\n", 0), 0u) << text;
  const std::string expected[] = {" " + id + " Error: message\r\n", " " + id + " Warning: from library\r\n"};
  size_t at = std::strlen("earlier\r\n");
  for (const std::string& rest : expected) {
    // hh:nn:ss zzz, then the rest of the line.
    int h = -1, n = -1, sec = -1, ms = -1, used = 0;
    ASSERT_EQ(std::sscanf(text.c_str() + at, "%2d:%2d:%2d %3d%n", &h, &n, &sec, &ms, &used), 4) << text;
    EXPECT_EQ(used, 12) << text;
    EXPECT_TRUE(h < 24 && n < 60 && sec < 61 && ms < 1000) << text;
    EXPECT_EQ(text.substr(at + 12, rest.size()), rest);
    at += 12 + rest.size();
  }
  EXPECT_EQ(at, text.size()) << text;
  // The event still got both.
  EXPECT_EQ(lines_.size(), 2u);
}

TEST_F(LoggerTest, MissingLogFileIsCreated) {
  ScratchFolder temp;
  const std::string path = temp / ("new.log");
  logger_.SetOnLog(nullptr);
  logger_.SetLogFile(path);
  logger_.SetLogToFile(true);
  EXPECT_FALSE(logger_.Silent());
  logger_.Log(nullptr, llInfo, "first");
  logger_.SetLogToFile(false);
  std::ifstream in(path, std::ios::binary);
  std::string line;
  std::getline(in, line);
  EXPECT_NE(line.find("Info: first\r"), std::string::npos) << line;
}

// ------------------------------------------------------------ threads

TEST_F(LoggerTest, WorkerDeliveryRunsOnTheMainThread) {
  std::thread::id handlerThread;
  logger_.SetOnLog([&](const void*, int threadId, TLogLevel, const std::string& message) {
    handlerThread = std::this_thread::get_id();
    lines_.push_back({nullptr, threadId, llInfo, message});
  });
  std::atomic<int> workerId{0};
  std::atomic<bool> done{false};
  std::thread worker([&] {
    workerId = CurrentThreadId();
    logger_.Log(nullptr, llInfo, "from worker");
    // Delivery is synchronous: the line has reached OnLog by now.
    EXPECT_EQ(lines_.size(), 1u);
    done = true;
  });
  EXPECT_TRUE(WaitServing([&] { return done.load(); }, std::chrono::seconds(10)));
  worker.join();
  ASSERT_EQ(lines_.size(), 1u);
  EXPECT_EQ(handlerThread, std::this_thread::get_id());
  EXPECT_EQ(lines_[0].threadId, workerId.load());
}

// The main thread logs while a worker waits for it to deliver: neither may
// block the other, and the worker's earlier line stays first.
TEST_F(LoggerTest, MainThreadLogsWhileAWorkerWaitsForIt) {
  // A deadlock would hang the test: turn it into a failure.
  std::mutex watchdogLock;
  std::condition_variable watchdogWake;
  bool finished = false;
  std::thread watchdog([&] {
    std::unique_lock<std::mutex> lock(watchdogLock);
    if (!watchdogWake.wait_for(lock, std::chrono::seconds(30), [&] { return finished; })) {
      std::fprintf(stderr, "deadlock: the main thread and a worker wait for each other\n");
      std::abort();
    }
  });
  for (bool throughLibrary : {false, true}) {
    SCOPED_TRACE(throughLibrary ? "library callback" : "Log");
    lines_.clear();
    std::atomic<bool> done{false};
    std::thread worker([&] {
      if (throughLibrary) {
        CallLog(nullptr, AV_LOG_INFO, "worker line\n");
      } else {
        logger_.Log(nullptr, llInfo, "worker line");
      }
      done = true;
    });
    // Wait, without serving, until the worker is blocked on the main thread.
    for (int i = 0; i < 10000 && PendingSynchronizedCallCount() == 0; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_EQ(PendingSynchronizedCallCount(), 1);
    if (throughLibrary) {
      CallLog(nullptr, AV_LOG_INFO, "main line\n");
    } else {
      logger_.Log(nullptr, llInfo, "main line");
    }
    EXPECT_TRUE(WaitServing([&] { return done.load(); }, std::chrono::seconds(10)));
    worker.join();
    EXPECT_EQ(Messages(), (std::vector<std::string>{"worker line", "main line"}));
  }
  {
    std::lock_guard<std::mutex> lock(watchdogLock);
    finished = true;
  }
  watchdogWake.notify_all();
  watchdog.join();
}

TEST_F(LoggerTest, DirectDeliveryWhenNotTriggeredInMainThread) {
  logger_.SetTriggerEventInMainThread(false);
  std::thread::id handlerThread;
  logger_.SetOnLog([&](const void*, int, TLogLevel, const std::string&) { handlerThread = std::this_thread::get_id(); });
  std::thread::id workerThread;
  std::thread worker([&] {
    workerThread = std::this_thread::get_id();
    logger_.Log(nullptr, llInfo, "direct");
  });
  worker.join();  // no serving needed
  EXPECT_EQ(handlerThread, workerThread);
}

TEST_F(LoggerTest, ManyWorkersKeepEveryLineOnce) {
  constexpr int workers = 4;
  constexpr int perWorker = 50;
  std::atomic<int> finished{0};
  std::vector<std::thread> threads;
  for (int w = 0; w < workers; ++w) {
    threads.emplace_back([&, w] {
      for (int i = 0; i < perWorker; ++i) CallLog(nullptr, AV_LOG_INFO, "w%d-%d\n", w, i);
      ++finished;
    });
  }
  EXPECT_TRUE(WaitServing([&] { return finished.load() == workers; }, std::chrono::seconds(30)));
  for (auto& t : threads) t.join();
  ASSERT_EQ(lines_.size(), static_cast<size_t>(workers * perWorker));
  // Each worker's own lines arrive in its order.
  for (int w = 0; w < workers; ++w) {
    int next = 0;
    for (const Line& l : lines_) {
      int lw = -1, li = -1;
      if (std::sscanf(l.message.c_str(), "w%d-%d", &lw, &li) == 2 && lw == w) {
        EXPECT_EQ(li, next++);
      }
    }
    EXPECT_EQ(next, perWorker);
  }
}

}  // namespace
}  // namespace lumivor
