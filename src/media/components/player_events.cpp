#include "media/components/player_events.h"

namespace lumivor {

void EventQueue::Post(int kind, std::int64_t value) {
  {
    std::lock_guard<std::mutex> guard(mutex_);
    const int newest = (read_ + count_ - 1 + kSlots) % kSlots;
    if (count_ == 0 || slots_[newest].Kind != kind) {
      if (count_ == kSlots) {
        read_ = (read_ + 1) % kSlots;
        --count_;
      }
      ++count_;
    }
    slots_[(read_ + count_ - 1) % kSlots] = PlayerEvent{kind, value};
  }
  signal_.notify_all();
}

bool EventQueue::Take(PlayerEvent& event) {
  std::lock_guard<std::mutex> guard(mutex_);
  if (count_ == 0) return false;
  event = slots_[read_];
  slots_[read_] = PlayerEvent{};
  read_ = (read_ + 1) % kSlots;
  --count_;
  return true;
}

bool EventQueue::WaitNotEmpty(std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> lock(mutex_);
  return signal_.wait_for(lock, timeout, [this] { return count_ > 0; });
}

void EventQueue::Clear() {
  std::lock_guard<std::mutex> guard(mutex_);
  for (auto& slot : slots_) slot = PlayerEvent{};
  read_ = 0;
  count_ = 0;
}

int EventQueue::Count() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return count_;
}

bool PositionFilter::Accept(std::int64_t position) {
  const std::int64_t step = position > last_ ? position - last_ : last_ - position;
  if (reported_ && step <= kMinimumStep) return false;
  reported_ = true;
  last_ = position;
  return true;
}

}  // namespace lumivor
