#pragma once

// The "unicode" file protocol's operations: open a file by the name that
// follows the protocol prefix, then read, write, seek and close it. The
// libraries of this generation cannot have protocols registered, so the
// operations are offered as a library byte stream (UnicodeStream) that
// callers hand to a format context's pb.

#include <cstdint>
#include <memory>
#include <string>

#include "media/runtime/library_objects.h"

namespace lumivor {

// The protocol context's private part: the open file.
struct UnicodeFile {
  int Handle = -1;
};

// flags: AVIO_FLAG_READ and/or AVIO_FLAG_WRITE. Read and write, or write
// alone, create or truncate the file; read alone needs an existing file and
// never changes it. 0, or -2 (no such file) when the file cannot be opened.
int UnicodeOpen(UnicodeFile& file, const std::string& libraryName, int flags);
// Bytes read (0 at the end of the file) or -1.
int UnicodeRead(UnicodeFile& file, uint8_t* buffer, int size);
// Bytes written or -1.
int UnicodeWrite(UnicodeFile& file, const uint8_t* buffer, int size);
// whence 0, 1, 2 as SEEK_SET/CUR/END: the new position; AVSEEK_SIZE: the
// file size, position unchanged. -1 on failure.
int64_t UnicodeSeek(UnicodeFile& file, int64_t position, int whence);
int UnicodeClose(UnicodeFile& file);

// A library byte stream over the protocol. Needs avformat and avutil loaded.
class UnicodeStream {
 public:
  // nullptr on failure with *error set (-2 when the file cannot be opened,
  // a negative library code otherwise).
  static std::unique_ptr<UnicodeStream> Open(const std::string& libraryName, int flags, int* error);
  ~UnicodeStream();
  UnicodeStream(const UnicodeStream&) = delete;
  UnicodeStream& operator=(const UnicodeStream&) = delete;

  AVIOContext* Context() const { return context_.get(); }

 private:
  UnicodeStream() = default;
  UnicodeFile file_;
  IOContextPtr context_;
};

}  // namespace lumivor
