// The output format list: each entry's codec options and the extension of the file it makes.
#pragma once

#include <string>

namespace lumivor {

// One row of the output format list: its entry, the codec options it appends, its extension.
struct OutputFormat {
  const char* Entry;
  const char* CodecOptions;
  const char* Extension;
  // False for a format whose codec options fix the quality themselves.
  bool TakesBitRate = true;
};
inline constexpr int OutputFormatCount = 7;
// The format that plays everywhere today: H.264 and AAC in an MP4 whose index comes first.
inline constexpr int ModernFormatIndex = 6;
// nullptr outside 0 to OutputFormatCount - 1 (no selection).
const OutputFormat* OutputFormatAt(int formatIndex);
// The index of an entry ("mp4", "mkv", ...), -1 when there is none.
int OutputFormatIndex(const std::string& entry);

}  // namespace lumivor
