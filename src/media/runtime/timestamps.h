#pragma once

#include <cstdint>
#include <string>

#include "media/runtime/ff_headers.h"

namespace lumivor {

// "NOPTS" for AV_NOPTS_VALUE, else the decimal number.
std::string TimestampText(int64_t ts);
// "NOPTS", else ts in seconds of timeBase printed with "%.6g".
std::string TimestampSecondsText(int64_t ts, AVRational timeBase);

}  // namespace lumivor
