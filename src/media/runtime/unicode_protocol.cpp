#include "media/runtime/unicode_protocol.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace lumivor {

namespace {

// The protocol's names carry a prefix ("unicode:utf8:"): the file name is
// what follows the second colon.
std::string FileNamePart(const std::string& libraryName) {
  const size_t first = libraryName.find(':');
  if (first == std::string::npos) return libraryName;
  const size_t second = libraryName.find(':', first + 1);
  if (second == std::string::npos) return libraryName;
  return libraryName.substr(second + 1);
}

}  // namespace

int UnicodeOpen(UnicodeFile& file, const std::string& libraryName, int flags) {
  const bool read = (flags & AVIO_FLAG_READ) != 0;
  const bool write = (flags & AVIO_FLAG_WRITE) != 0;
  int mode = O_RDONLY;
  if (read && write) {
    mode = O_RDWR | O_CREAT | O_TRUNC;
  } else if (write) {
    mode = O_WRONLY | O_CREAT | O_TRUNC;
  }
  const int handle = ::open(FileNamePart(libraryName).c_str(), mode | O_CLOEXEC, 0666);
  if (handle < 0) return -2;
  file.Handle = handle;
  return 0;
}

int UnicodeRead(UnicodeFile& file, uint8_t* buffer, int size) {
  if (size < 0) return -1;
  ssize_t done;
  do {
    done = ::read(file.Handle, buffer, static_cast<size_t>(size));
  } while (done < 0 && errno == EINTR);
  return done < 0 ? -1 : static_cast<int>(done);
}

int UnicodeWrite(UnicodeFile& file, const uint8_t* buffer, int size) {
  if (size < 0) return -1;
  ssize_t done;
  do {
    done = ::write(file.Handle, buffer, static_cast<size_t>(size));
  } while (done < 0 && errno == EINTR);
  return done < 0 ? -1 : static_cast<int>(done);
}

int64_t UnicodeSeek(UnicodeFile& file, int64_t position, int whence) {
  // The library may add AVSEEK_FORCE to any request; it changes nothing for
  // a plain file.
  whence &= ~AVSEEK_FORCE;
  if (whence == AVSEEK_SIZE) {
    struct stat info;
    if (::fstat(file.Handle, &info) != 0) return -1;
    return info.st_size;
  }
  if (whence != SEEK_SET && whence != SEEK_CUR && whence != SEEK_END) return -1;
  const off_t result = ::lseek(file.Handle, static_cast<off_t>(position), whence);
  return result < 0 ? -1 : static_cast<int64_t>(result);
}

int UnicodeClose(UnicodeFile& file) {
  int result = 0;
  if (file.Handle >= 0) result = ::close(file.Handle) == 0 ? 0 : -1;
  file.Handle = -1;
  return result;
}

// ---------------------------------------------------------- UnicodeStream

namespace {

constexpr int StreamBufferSize = 32768;

// The byte-stream interface wants the end of a file as AVERROR_EOF and a
// failure as a library error code rather than the protocol's 0 and -1.
int StreamRead(void* opaque, uint8_t* buffer, int size) {
  const int done = UnicodeRead(*static_cast<UnicodeFile*>(opaque), buffer, size);
  if (done == 0) return AVERROR_EOF;
  return done < 0 ? AVERROR(EIO) : done;
}

int StreamWrite(void* opaque, uint8_t* buffer, int size) {
  const int done = UnicodeWrite(*static_cast<UnicodeFile*>(opaque), buffer, size);
  return done < 0 ? AVERROR(EIO) : done;
}

int64_t StreamSeek(void* opaque, int64_t position, int whence) {
  const int64_t result = UnicodeSeek(*static_cast<UnicodeFile*>(opaque), position, whence);
  return result < 0 ? AVERROR(EIO) : result;
}

}  // namespace

std::unique_ptr<UnicodeStream> UnicodeStream::Open(const std::string& libraryName, int flags, int* error) {
  std::unique_ptr<UnicodeStream> stream(new UnicodeStream);
  const int opened = UnicodeOpen(stream->file_, libraryName, flags);
  if (opened < 0) {
    if (error != nullptr) *error = opened;
    return nullptr;
  }
  auto* buffer = static_cast<unsigned char*>(lib::av_malloc(StreamBufferSize));
  if (buffer == nullptr) {
    if (error != nullptr) *error = AVERROR(ENOMEM);
    return nullptr;  // the destructor closes the file
  }
  const bool write = (flags & AVIO_FLAG_WRITE) != 0;
  AVIOContext* context = lib::avio_alloc_context(buffer, StreamBufferSize, write ? 1 : 0, &stream->file_,
                                                 StreamRead, write ? StreamWrite : nullptr, StreamSeek);
  if (context == nullptr) {
    lib::av_free(buffer);
    if (error != nullptr) *error = AVERROR(ENOMEM);
    return nullptr;
  }
  stream->context_.reset(context);
  if (error != nullptr) *error = 0;
  return stream;
}

UnicodeStream::~UnicodeStream() {
  if (context_ && context_->write_flag) lib::avio_flush(context_.get());
  context_.reset();
  UnicodeClose(file_);
}

}  // namespace lumivor
