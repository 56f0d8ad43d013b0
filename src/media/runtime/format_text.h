#pragma once

#include <cstdarg>
#include <string>

namespace lumivor {

// printf-style formatting into a std::string, for the fixed message texts.
std::string FormatText(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string FormatTextV(const char* format, va_list args) __attribute__((format(printf, 1, 0)));

}  // namespace lumivor
