// Serves the process-wide main-thread dispatcher from Qt's event loop: each call a worker queues
// posts a wake-up to the loop, which then runs every queued call. While it exists, frame
// requests, progress and terminate events reach the window even when nothing else stirs the loop.
#pragma once

#include <memory>

class QObject;

namespace lumivor::gui {

class QtMainThreadPump {
 public:
  // Construct on the main thread, after the QApplication.
  QtMainThreadPump();
  // Removes the wake-up handler; a worker already holding it posts nothing afterwards.
  ~QtMainThreadPump();
  QtMainThreadPump(const QtMainThreadPump&) = delete;
  QtMainThreadPump& operator=(const QtMainThreadPump&) = delete;

 private:
  struct Target;
  std::shared_ptr<Target> target_;
  std::unique_ptr<QObject> receiver_;
};

}  // namespace lumivor::gui
