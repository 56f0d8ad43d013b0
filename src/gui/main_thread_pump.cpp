#include "gui/main_thread_pump.h"

#include <mutex>

#include <QMetaObject>
#include <QObject>

#include "media/runtime/main_thread.h"

namespace lumivor::gui {

// The handler runs on workers and may be copied out of the dispatcher just before it is removed,
// so it reaches the receiver only through this guard, which the pump clears before the receiver
// goes.
struct QtMainThreadPump::Target {
  std::mutex Lock;
  QObject* Receiver = nullptr;
};

QtMainThreadPump::QtMainThreadPump() : target_(std::make_shared<Target>()), receiver_(std::make_unique<QObject>()) {
  target_->Receiver = receiver_.get();
  SetMainThreadWakeUpHandler([target = target_] {
    std::lock_guard<std::mutex> guard(target->Lock);
    if (target->Receiver == nullptr) return;
    QMetaObject::invokeMethod(target->Receiver, [] { ServeSynchronizedCalls(); }, Qt::QueuedConnection);
  });
  // Calls queued before the handler was there have posted nothing.
  QMetaObject::invokeMethod(receiver_.get(), [] { ServeSynchronizedCalls(); }, Qt::QueuedConnection);
}

QtMainThreadPump::~QtMainThreadPump() {
  SetMainThreadWakeUpHandler({});
  std::lock_guard<std::mutex> guard(target_->Lock);
  target_->Receiver = nullptr;
}

}  // namespace lumivor::gui
