#include "media/runtime/timestamps.h"

#include "media/runtime/format_text.h"

namespace lumivor {

std::string TimestampText(int64_t ts) {
  if (ts == AV_NOPTS_VALUE) return "NOPTS";
  return std::to_string(ts);
}

std::string TimestampSecondsText(int64_t ts, AVRational timeBase) {
  if (ts == AV_NOPTS_VALUE) return "NOPTS";
  return FormatText("%.6g", av_q2d(timeBase) * static_cast<double>(ts));
}

}  // namespace lumivor
