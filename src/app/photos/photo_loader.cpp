#include "app/photos/photo_loader.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <new>
#include <vector>

#include "app/files/input_file.h"
#include "app/photos/picture_file.h"

namespace lumivor {

namespace {

// A photo file beyond this is not a photo; refusing it early keeps a wrong name from filling memory.
constexpr std::int64_t MaxPhotoFileBytes = std::int64_t{1} << 30;

// The message must stay one line even when the name carries line breaks or other control bytes.
std::string printable_name(const std::string& fileName) {
  std::string name = fileName;
  for (char& c : name)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  return name;
}

[[noreturn]] void fail(const std::string& fileName, const std::string& why) {
  throw PhotoLoadError("Cannot load the photo \"" + printable_name(fileName) + "\": " + why);
}

std::vector<std::uint8_t> read_photo_bytes(const std::string& fileName) {
  std::string reason;
  const int fd = OpenInputFile(fileName, reason);
  if (fd < 0) fail(fileName, reason);
  struct Close {
    int Fd;
    ~Close() { ::close(Fd); }
  } close{fd};
  struct stat info {};
  if (::fstat(fd, &info) != 0) fail(fileName, std::strerror(errno));
  if (info.st_size > MaxPhotoFileBytes) fail(fileName, "the file is larger than 1 GiB");

  std::vector<std::uint8_t> bytes;
  try {
    bytes.resize(static_cast<std::size_t>(info.st_size));
  } catch (const std::bad_alloc&) {
    fail(fileName, "not enough memory to read it");
  }
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::read(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) fail(fileName, std::strerror(errno));
    if (n == 0) break;  // the file shrank while we read it: the decoder judges what is there
    done += static_cast<std::size_t>(n);
  }
  bytes.resize(done);
  return bytes;
}

}  // namespace

Bitmap LoadPhotoFile(const std::string& fileName, PictureTurn turn, const PictureSizeHint& hint) {
  const std::vector<std::uint8_t> bytes = read_photo_bytes(fileName);
  Bitmap photo;
  std::string why;
  // The contents choose the reader for every format. This replaces the old rule of a ".bmp" name
  // for the BMP reader and the JPEG decoder for every other name, so a BMP named ".jpg" now
  // shows instead of failing as a broken JPEG.
  if (!ReadPicture(bytes, photo, why, turn, hint)) fail(fileName, why);
  if (photo.IsEmpty()) fail(fileName, "the picture has no pixels");
  return photo;
}

}  // namespace lumivor
