// The base every media component shares: its published identity and the I/O time-outs that each
// task it starts is given.
#pragma once

#include <functional>
#include <string>

namespace lumivor {

class TFFBaseComponent {
 public:
  TFFBaseComponent();
  virtual ~TFFBaseComponent() = default;

  std::string About;  // published, empty: kept for the component's property list
  std::string Version() const { return "5.2"; }

  // Milliseconds; 0 (no time-out) while a debugger holds the process, so that a breakpoint does
  // not make the libraries give up on a file or a stream.
  int ReadTimeout;
  int WriteTimeout;

  static constexpr int kDefaultTimeout = 30000;
};

// Raises one of a component's events as its TriggerEventInMainThread says: set, the call runs on
// the main thread while the caller waits (unless the process-wide switch is off); clear, it runs
// where it is raised. What the handler throws reaches the caller either way.
void RaiseComponentEvent(bool triggerEventInMainThread, const std::function<void()>& call);

// True when /proc/self/status names a tracer. Asked once per process and remembered.
bool DebuggerPresent();

}  // namespace lumivor
