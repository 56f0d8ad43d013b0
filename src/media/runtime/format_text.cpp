#include "media/runtime/format_text.h"

#include <cstdio>
#include <vector>

namespace lumivor {

std::string FormatTextV(const char* format, va_list args) {
  char small[512];
  va_list probe;
  va_copy(probe, args);
  const int needed = std::vsnprintf(small, sizeof small, format, probe);
  va_end(probe);
  if (needed < 0) return std::string();
  if (static_cast<size_t>(needed) < sizeof small) return std::string(small, static_cast<size_t>(needed));
  std::vector<char> big(static_cast<size_t>(needed) + 1);
  va_list again;
  va_copy(again, args);
  std::vsnprintf(big.data(), big.size(), format, again);
  va_end(again);
  return std::string(big.data(), static_cast<size_t>(needed));
}

std::string FormatText(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string text = FormatTextV(format, args);
  va_end(args);
  return text;
}

}  // namespace lumivor
