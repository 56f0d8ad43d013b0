// Serves the core's main-thread dispatcher from Qt's event loop, so that a run's reports reach
// Studio while the loop sleeps: every call a worker queues posts a wake-up to the loop.
#pragma once

#include <memory>

class QObject;

namespace lumivor::studio {

class StudioMainThreadPump {
 public:
  // On the main thread, after the QApplication.
  StudioMainThreadPump();
  ~StudioMainThreadPump();
  StudioMainThreadPump(const StudioMainThreadPump&) = delete;
  StudioMainThreadPump& operator=(const StudioMainThreadPump&) = delete;

 private:
  struct Target;
  std::shared_ptr<Target> target_;
  std::unique_ptr<QObject> receiver_;
};

}  // namespace lumivor::studio
