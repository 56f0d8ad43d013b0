#include "media/components/ff_base_component.h"

#include <fstream>
#include <string>

#include "media/runtime/main_thread.h"

namespace lumivor {
namespace {

bool ReadTracerPid() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("TracerPid:", 0) == 0) {
      const auto digits = line.find_first_of("0123456789", 10);
      return digits != std::string::npos && std::stol(line.substr(digits)) != 0;
    }
  }
  return false;
}

}  // namespace

void RaiseComponentEvent(bool triggerEventInMainThread, const std::function<void()>& call) {
  if (triggerEventInMainThread) {
    RaiseEvent(call);
  } else {
    call();
  }
}

bool DebuggerPresent() {
  static const bool present = ReadTracerPid();
  return present;
}

TFFBaseComponent::TFFBaseComponent()
    : ReadTimeout(DebuggerPresent() ? 0 : kDefaultTimeout), WriteTimeout(DebuggerPresent() ? 0 : kDefaultTimeout) {}

}  // namespace lumivor
