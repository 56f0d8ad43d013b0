#include "studio/main_thread_pump.h"

#include <mutex>

#include <QMetaObject>
#include <QObject>

#include "media/runtime/main_thread.h"

namespace lumivor::studio {

// A worker may hold a copy of the wake-up handler while the pump goes; it reaches the receiver
// only through this guard, cleared before the receiver is destroyed.
struct StudioMainThreadPump::Target {
  std::mutex Lock;
  QObject* Receiver = nullptr;
};

StudioMainThreadPump::StudioMainThreadPump()
    : target_(std::make_shared<Target>()), receiver_(std::make_unique<QObject>()) {
  target_->Receiver = receiver_.get();
  SetMainThreadWakeUpHandler([target = target_] {
    std::lock_guard<std::mutex> guard(target->Lock);
    if (target->Receiver == nullptr) return;
    QMetaObject::invokeMethod(target->Receiver, [] { ServeSynchronizedCalls(); }, Qt::QueuedConnection);
  });
  // Calls queued before the handler existed posted nothing.
  QMetaObject::invokeMethod(receiver_.get(), [] { ServeSynchronizedCalls(); }, Qt::QueuedConnection);
}

StudioMainThreadPump::~StudioMainThreadPump() {
  SetMainThreadWakeUpHandler({});
  std::lock_guard<std::mutex> guard(target_->Lock);
  target_->Receiver = nullptr;
}

}  // namespace lumivor::studio
