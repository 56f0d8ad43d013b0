// The engine's own table of in-process input formats. This library generation has no way to add a
// demuxer to its registry, so formats whose packets come from inside the process (the frame input)
// are kept here; opening an input looks a format name up here, by exact name, before asking the
// library.
#pragma once

#include <string>
#include <vector>

extern "C" {
#include <libavformat/avformat.h>
}

namespace lumivor {

struct InProcessInputFormat {
  std::string Name;
  std::string LongName;
  // Private options (the option routing searches them like the library's format options) and the
  // size of the private data they describe.
  const AVClass* PrivClass = nullptr;
  int PrivDataSize = 0;
  int (*ReadHeader)(AVFormatContext* context) = nullptr;
  int (*ReadPacket)(AVFormatContext* context, AVPacket* packet) = nullptr;
  int (*ReadClose)(AVFormatContext* context) = nullptr;
  // What the library context's iformat points at: only the name and the long name are filled,
  // so library code that prints the format still works. Owned by the table.
  const AVInputFormat* LibraryRecord = nullptr;
};

// Adds the format unless one of the same name is there; true when it was added. Thread-safe.
bool RegisterDemuxerOnce(const InProcessInputFormat& format);
// The registered format of exactly this name, or null. Entries live until the process ends.
const InProcessInputFormat* FindInProcessInputFormat(const std::string& name);
std::vector<const InProcessInputFormat*> InProcessInputFormats();

// Protocols cannot be registered with this generation either. Returns true when the library
// already offers an input protocol of that name and false otherwise, registering nothing: callers
// keep the fallback of naming files directly.
bool RegisterProtocolOnce(const std::string& name);

}  // namespace lumivor
