// What the player tells its owner, and the small queue that carries it from the playing threads
// to the event thread.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace lumivor {

enum TPlayState : int { psPlay = 0, psPause = 1, psResume = 2, psStep = 3, psStop = 4, psEnd = 5 };

enum PlayerEventKind : int { pePosition = 1, peState = 2, peQuit = 3 };

struct PlayerEvent {
  int Kind = 0;
  std::int64_t Value = 0;  // microseconds for a position, a TPlayState for a state
};

// Ten slots in a ring. A notification of the same kind as the newest unread one replaces it, so a
// burst that the event thread has not caught up with arrives as its newest value only; when all
// slots are unread the oldest gives way.
class EventQueue {
 public:
  static constexpr int kSlots = 10;

  void Post(int kind, std::int64_t value);
  // The oldest unread notification; false when there is none.
  bool Take(PlayerEvent& event);
  // Waits until something is unread or the time is up; true when something is.
  bool WaitNotEmpty(std::chrono::milliseconds timeout);
  void Clear();
  int Count() const;

 private:
  mutable std::mutex mutex_;
  std::condition_variable signal_;
  PlayerEvent slots_[kSlots];
  int read_ = 0;   // oldest unread slot
  int count_ = 0;  // unread slots
};

// Position notifications: only a move of more than 20 ms from the last one posted is worth one.
class PositionFilter {
 public:
  static constexpr std::int64_t kMinimumStep = 20000;
  bool Accept(std::int64_t position);
  void Reset() { reported_ = false; }

 private:
  bool reported_ = false;
  std::int64_t last_ = 0;
};

}  // namespace lumivor
