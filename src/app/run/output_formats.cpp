#include "app/run/output_formats.h"

namespace lumivor {

namespace {

// One row per list entry, in the list's order. The native "aac" encoder stands where the codec
// options once named libfaac, which this library generation does not have.
constexpr OutputFormat OutputFormats[OutputFormatCount] = {
    {"mp4", " -c:v mpeg4 -c:a aac", ".mp4"},
    {"swf", " -c:a libmp3lame", ".swf"},
    {"flv", " -c:a libmp3lame", ".flv"},
    {"wmv", " -c:v wmv2 -c:a wmav2", ".wmv"},
    {"mov", " -c:v mpeg4 -c:a aac", ".mov"},
    {"mkv", " -pix_fmt yuv420p  -c:v libx264 ", ".mkv"},
    // Constant quality (CRF 20) instead of a bit rate: the file is as large as the photos need.
    // The bit rate and the quality scale the other rows get would fight it (a bit rate turns the
    // encoder's rate control to an average rate, a quality scale to a fixed quantiser), so this
    // row takes neither. yuv420p because most players decode no other H.264 chroma layout;
    // +faststart moves the index to the front so that a browser can play while it downloads.
    {"mp4 (H.264/AAC)",
     " -c:v libx264 -pix_fmt yuv420p -crf 20 -preset medium -c:a aac -b:a 192k -movflags +faststart", ".mp4",
     false},
};

}  // namespace

const OutputFormat* OutputFormatAt(int formatIndex) {
  if (formatIndex < 0 || formatIndex >= OutputFormatCount) return nullptr;
  return &OutputFormats[formatIndex];
}

int OutputFormatIndex(const std::string& entry) {
  for (int i = 0; i < OutputFormatCount; ++i) {
    if (entry == OutputFormats[i].Entry) return i;
  }
  return -1;
}

}  // namespace lumivor
