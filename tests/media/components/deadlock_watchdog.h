// Turns a hang into a failure. A test whose fault would be a deadlock arms a watchdog around the
// part that might hang; should that part still be running when the time is up, the test program
// says what hung and ends with a failing status. A deadlocked thread cannot be unwound, so ending
// the program is the only way out that does not leave the whole suite waiting.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <utility>

namespace lumivor::testing {

class DeadlockWatchdog {
 public:
  DeadlockWatchdog(std::string what, std::chrono::seconds limit)
      : what_(std::move(what)), thread_([this, limit] { Watch(limit); }) {}
  ~DeadlockWatchdog() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      disarmed_ = true;
    }
    disarm_.notify_all();
    thread_.join();
  }
  DeadlockWatchdog(const DeadlockWatchdog&) = delete;
  DeadlockWatchdog& operator=(const DeadlockWatchdog&) = delete;

 private:
  void Watch(std::chrono::seconds limit) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (disarm_.wait_for(lock, limit, [this] { return disarmed_; })) return;
    std::fprintf(stderr, "FAILED: %s did not finish within %lld s (deadlock)\n", what_.c_str(),
                 static_cast<long long>(limit.count()));
    std::fflush(stderr);
    std::_Exit(EXIT_FAILURE);
  }

  const std::string what_;
  std::mutex mutex_;
  std::condition_variable disarm_;
  bool disarmed_ = false;
  std::thread thread_;  // last: it starts once everything above is ready
};

}  // namespace lumivor::testing
