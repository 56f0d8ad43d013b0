#pragma once

// The "unicode" file protocol's operations: open a file by the name that
// follows the protocol prefix, then read, write, seek and close it. The
// libraries of this generation cannot have protocols registered, so the
// operations are offered as a library byte stream (TUnicodeStream) that
// callers hand to a format context's pb.

#include <cstdint>
#include <memory>
#include <string>

#include "media/runtime/library_objects.h"

namespace lumivor {

// The protocol context's private part: the open file.
struct TUnicodeFile {
  int Handle = -1;
};

// flags: AVIO_FLAG_READ and/or AVIO_FLAG_WRITE. Read and write, or write
// alone, create or truncate the file; read alone needs an existing file and
// never changes it. 0, or -2 (no such file) when the file cannot be opened.
int UnicodeOpen(TUnicodeFile& file, const std::string& libraryName, int flags);
// Bytes read (0 at the end of the file) or -1.
int UnicodeRead(TUnicodeFile& file, uint8_t* buffer, int size);
// Bytes written or -1.
int UnicodeWrite(TUnicodeFile& file, const uint8_t* buffer, int size);
// whence 0, 1, 2 as SEEK_SET/CUR/END: the new position; AVSEEK_SIZE: the
// file size, position unchanged. -1 on failure.
int64_t UnicodeSeek(TUnicodeFile& file, int64_t position, int whence);
int UnicodeClose(TUnicodeFile& file);

// A library byte stream over the protocol. Needs avformat and avutil loaded.
class TUnicodeStream {
 public:
  // nullptr on failure with *error set (-2 when the file cannot be opened,
  // a negative library code otherwise).
  static std::unique_ptr<TUnicodeStream> Open(const std::string& libraryName, int flags, int* error);
  ~TUnicodeStream();
  TUnicodeStream(const TUnicodeStream&) = delete;
  TUnicodeStream& operator=(const TUnicodeStream&) = delete;

  AVIOContext* Context() const { return context_.get(); }

 private:
  TUnicodeStream() = default;
  TUnicodeFile file_;
  IOContextPtr context_;
};

}  // namespace lumivor
