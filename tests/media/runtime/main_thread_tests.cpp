#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>

#include "media/runtime/main_thread.h"

namespace lumivor {
namespace {

// The test runner's main() runs on the thread that initialised the program.
TEST(MainThreadTest, TheProgramsInitialThreadIsMain) {
  EXPECT_TRUE(IsMainThread());
  bool other = true;
  std::thread([&] { other = IsMainThread(); }).join();
  EXPECT_FALSE(other);
}

TEST(MainThreadTest, CallOnTheMainThreadRunsAtOnce) {
  bool ran = false;
  RunInMainThread([&] { ran = true; });
  EXPECT_TRUE(ran);
  EXPECT_EQ(ServeSynchronizedCalls(), 0);
}

TEST(MainThreadTest, WorkerCallRunsOnTheMainThreadAndTheWorkerWaits) {
  std::thread::id ranOn;
  std::atomic<bool> returned{false};
  std::thread worker([&] {
    RunInMainThread([&] { ranOn = std::this_thread::get_id(); });
    returned = true;
  });
  while (PendingSynchronizedCallCount() == 0) std::this_thread::yield();
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_FALSE(returned) << "the worker went on before the main thread ran its call";
  EXPECT_EQ(ServeSynchronizedCalls(), 1);
  worker.join();
  EXPECT_TRUE(returned);
  EXPECT_EQ(ranOn, std::this_thread::get_id());
}

TEST(MainThreadTest, ServingFromAnotherThreadDoesNothing) {
  int served = -1;
  std::thread([&] { served = ServeSynchronizedCalls(); }).join();
  EXPECT_EQ(served, 0);
}

TEST(MainThreadTest, ExceptionReachesTheWorker) {
  std::string caught;
  std::atomic<bool> done{false};
  std::thread worker([&] {
    try {
      RunInMainThread([] { throw std::runtime_error("handler failed"); });
    } catch (const std::runtime_error& e) {
      caught = e.what();
    }
    done = true;
  });
  EXPECT_TRUE(WaitServing([&] { return done.load(); }, std::chrono::seconds(10)));
  worker.join();
  EXPECT_EQ(caught, "handler failed");
}

TEST(MainThreadTest, WaitServingServesManyWorkersAndTimesOut) {
  std::atomic<int> calls{0};
  std::atomic<int> finished{0};
  std::vector<std::thread> workers;
  for (int w = 0; w < 4; ++w) {
    workers.emplace_back([&] {
      for (int i = 0; i < 25; ++i) RunInMainThread([&] { ++calls; });
      ++finished;
    });
  }
  EXPECT_TRUE(WaitServing([&] { return finished.load() == 4; }, std::chrono::seconds(30)));
  for (auto& w : workers) w.join();
  EXPECT_EQ(calls.load(), 100);

  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(WaitServing([] { return false; }, std::chrono::milliseconds(30)));
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(30));
}

TEST(MainThreadTest, RaiseEventFollowsTheProcessSwitch) {
  ASSERT_TRUE(TriggerEventsInMainThread());
  std::thread::id ranOn;
  std::thread::id workerId;
  std::atomic<bool> done{false};
  std::thread worker([&] {
    workerId = std::this_thread::get_id();
    RaiseEvent([&] { ranOn = std::this_thread::get_id(); });
    done = true;
  });
  EXPECT_TRUE(WaitServing([&] { return done.load(); }, std::chrono::seconds(10)));
  worker.join();
  EXPECT_EQ(ranOn, std::this_thread::get_id());

  SetTriggerEventsInMainThread(false);
  std::thread direct([&] {
    workerId = std::this_thread::get_id();
    RaiseEvent([&] { ranOn = std::this_thread::get_id(); });
  });
  direct.join();  // nothing to serve
  SetTriggerEventsInMainThread(true);
  EXPECT_EQ(ranOn, workerId);
}

TEST(MainThreadTest, WakeUpHandlerIsToldAboutQueuedCalls) {
  std::atomic<int> wakes{0};
  SetMainThreadWakeUpHandler([&] { ++wakes; });
  std::atomic<bool> done{false};
  std::thread worker([&] {
    RunInMainThread([] {});
    done = true;
  });
  EXPECT_TRUE(WaitServing([&] { return done.load(); }, std::chrono::seconds(10)));
  worker.join();
  SetMainThreadWakeUpHandler(nullptr);
  EXPECT_EQ(wakes.load(), 1);
}

}  // namespace
}  // namespace lumivor
