#include "app/photos/exif_date.h"

#include <fcntl.h>
#include <locale.h>
#include <sys/stat.h>
#include <unistd.h>

#include <libheif/heif.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <memory>
#include <type_traits>
#include <vector>

#include "app/photos/exif_block.h"
#include "app/photos/picture_file.h"

namespace lumivor {

namespace {

constexpr std::uint16_t DateTimeTag = 0x0132;
constexpr std::uint16_t ExifDirectoryTag = 0x8769;
constexpr std::uint16_t DateTimeOriginalTag = 0x9003;
constexpr std::uint16_t TiffLong = 4;


bool is_leap(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int days_in_month(int year, int month) {
  static constexpr int Days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && is_leap(year) ? 29 : Days[month - 1];
}

// "YYYY:MM:DD HH:MM:SS"; only the day is kept. Some writers put dashes or slashes between the
// parts, so any single non-digit separates them.
std::optional<PhotoDate> parse_date(const std::string& text) {
  if (text.size() < 10) return std::nullopt;
  auto digits = [&text](std::size_t at, std::size_t count) -> std::optional<int> {
    int value = 0;
    for (std::size_t i = at; i < at + count; ++i) {
      if (text[i] < '0' || text[i] > '9') return std::nullopt;
      value = value * 10 + (text[i] - '0');
    }
    return value;
  };
  const auto separator = [&text](std::size_t at) { return text[at] < '0' || text[at] > '9'; };
  const std::optional<int> year = digits(0, 4), month = digits(5, 2), day = digits(8, 2);
  if (!year || !month || !day || !separator(4) || !separator(7)) return std::nullopt;
  if (*year < 1 || *month < 1 || *month > 12 || *day < 1 || *day > days_in_month(*year, *month)) return std::nullopt;
  return PhotoDate{*year, *month, *day};
}

std::optional<PhotoDate> date_of_entry(const TiffReader& reader, std::optional<std::size_t> entry) {
  if (!entry) return std::nullopt;
  const std::optional<std::string> text = reader.Text(*entry);
  return text ? parse_date(*text) : std::nullopt;
}

// ------------------------------------------------------------------ where each format keeps it

std::optional<PhotoDate> jpeg_date(std::span<const std::uint8_t> jpeg) {
  const std::span<const std::uint8_t> block = JpegExifBlock(jpeg);
  return block.empty() ? std::nullopt : ExifDate(block);
}

std::uint32_t big_endian_32(const std::uint8_t* p) {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3];
}

std::uint32_t little_endian_32(const std::uint8_t* p) {
  return std::uint32_t{p[0]} | (std::uint32_t{p[1]} << 8) | (std::uint32_t{p[2]} << 16) | (std::uint32_t{p[3]} << 24);
}

// Some writers keep the JPEG segment's "Exif\0\0" in front of the TIFF block of other formats.
std::span<const std::uint8_t> without_exif_header(std::span<const std::uint8_t> block) {
  static constexpr std::uint8_t exifHeader[6] = {'E', 'x', 'i', 'f', 0, 0};
  if (block.size() >= sizeof exifHeader && std::memcmp(block.data(), exifHeader, sizeof exifHeader) == 0) {
    return block.subspan(sizeof exifHeader);
  }
  return block;
}

std::optional<PhotoDate> png_date(std::span<const std::uint8_t> png) {
  std::size_t pos = 8;  // the signature
  while (pos + 8 <= png.size()) {
    const std::size_t length = big_endian_32(png.data() + pos);
    const std::uint8_t* type = png.data() + pos + 4;
    if (length > png.size() - pos - 8) break;
    if (std::memcmp(type, "eXIf", 4) == 0) return ExifDate(without_exif_header(png.subspan(pos + 8, length)));
    if (std::memcmp(type, "IEND", 4) == 0) break;
    pos += 12 + length;  // length, type, data, CRC
  }
  return std::nullopt;
}

std::optional<PhotoDate> webp_date(std::span<const std::uint8_t> webp) {
  std::size_t pos = 12;  // "RIFF", the size, "WEBP"
  while (pos + 8 <= webp.size()) {
    const std::size_t length = little_endian_32(webp.data() + pos + 4);
    if (length > webp.size() - pos - 8) break;
    if (std::memcmp(webp.data() + pos, "EXIF", 4) == 0) {
      return ExifDate(without_exif_header(webp.subspan(pos + 8, length)));
    }
    pos += 8 + length + (length & 1);  // chunks are padded to an even length
  }
  return std::nullopt;
}

struct HeifContextFree {
  void operator()(heif_context* context) const { heif_context_free(context); }
};
struct HeifHandleRelease {
  void operator()(heif_image_handle* handle) const { heif_image_handle_release(handle); }
};

std::optional<PhotoDate> heif_date(std::span<const std::uint8_t> heif) {
  std::unique_ptr<heif_context, HeifContextFree> context(heif_context_alloc());
  if (!context) return std::nullopt;
  if (heif_context_read_from_memory_without_copy(context.get(), heif.data(), heif.size(), nullptr).code != heif_error_Ok) {
    return std::nullopt;
  }
  heif_image_handle* rawHandle = nullptr;
  const heif_error error = heif_context_get_primary_image_handle(context.get(), &rawHandle);
  const std::unique_ptr<heif_image_handle, HeifHandleRelease> handle(rawHandle);
  if (error.code != heif_error_Ok || !handle) return std::nullopt;
  heif_item_id id = 0;
  if (heif_image_handle_get_list_of_metadata_block_IDs(handle.get(), "Exif", &id, 1) < 1) return std::nullopt;
  std::vector<std::uint8_t> block(heif_image_handle_get_metadata_size(handle.get(), id));
  if (block.size() < 4 || heif_image_handle_get_metadata(handle.get(), id, block.data()).code != heif_error_Ok) {
    return std::nullopt;
  }
  // The item starts with the distance from its fifth byte to the TIFF header.
  const std::size_t offset = big_endian_32(block.data());
  if (offset > block.size() - 4) return std::nullopt;
  return ExifDate(std::span<const std::uint8_t>(block).subspan(4 + offset));
}

// Up to limit bytes from the start of the file, or nothing when it cannot be read. A FIFO or a
// device is not read: it could block or never end.
std::optional<std::vector<std::uint8_t>> file_start(const std::string& fileName, std::size_t limit, bool& whole) {
  const int fd = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return std::nullopt;
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
  const std::size_t size = static_cast<std::size_t>(info.st_size);
  whole = size <= limit;
  std::vector<std::uint8_t> bytes(std::min(size, limit));
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::read(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return std::nullopt;
    if (n == 0) break;
    done += static_cast<std::size_t>(n);
  }
  bytes.resize(done);
  return bytes;
}

struct LocaleFree {
  void operator()(locale_t locale) const { freelocale(locale); }
};
using LocalePtr = std::unique_ptr<std::remove_pointer_t<locale_t>, LocaleFree>;

}  // namespace

std::optional<PhotoDate> ExifDate(std::span<const std::uint8_t> tiff) {
  const std::optional<TiffReader> opened = TiffReader::Open(tiff);
  if (!opened) return std::nullopt;
  const TiffReader& reader = *opened;
  const std::size_t first = reader.FirstDirectory();
  if (const std::optional<std::size_t> pointer = reader.Entry(first, ExifDirectoryTag)) {
    const std::uint16_t type = reader.U16(*pointer + 2);
    if ((type == TiffLong || type == 13) && reader.U32(*pointer + 4) == 1) {
      const std::size_t exif = reader.U32(*pointer + 8);
      if (const std::optional<PhotoDate> taken = date_of_entry(reader, reader.Entry(exif, DateTimeOriginalTag))) {
        return taken;
      }
    }
  }
  return date_of_entry(reader, reader.Entry(first, DateTimeTag));
}

std::optional<PhotoDate> PictureDate(std::span<const std::uint8_t> file) {
  switch (DetectPictureFormat(file)) {
    case PictureFormat::Jpeg: return jpeg_date(file);
    case PictureFormat::Png: return png_date(file);
    case PictureFormat::Webp: return webp_date(file);
    case PictureFormat::Heif: return heif_date(file);
    case PictureFormat::Bmp:
    case PictureFormat::Unknown: break;
  }
  return std::nullopt;
}

std::optional<PhotoDate> PhotoFileDate(const std::string& fileName) {
  // A JPEG's Exif comes before its picture data, near the start; the other formats may keep it
  // anywhere, and libheif wants the whole file.
  constexpr std::size_t StartBytes = std::size_t{1} << 20;
  constexpr std::size_t MostBytes = std::size_t{1} << 30;
  bool whole = false;
  std::optional<std::vector<std::uint8_t>> bytes = file_start(fileName, StartBytes, whole);
  if (!bytes) return std::nullopt;
  const PictureFormat format = DetectPictureFormat(*bytes);
  if (format == PictureFormat::Bmp || format == PictureFormat::Unknown) return std::nullopt;
  if (!whole && format != PictureFormat::Jpeg) {
    if (format != PictureFormat::Heif) {
      if (std::optional<PhotoDate> date = PictureDate(*bytes)) return date;
    }
    bytes = file_start(fileName, MostBytes, whole);
    if (!bytes) return std::nullopt;
  }
  return PictureDate(*bytes);
}

std::string FormatPhotoDate(const PhotoDate& date, const std::string& localeName) {
  LocalePtr locale(newlocale(LC_TIME_MASK, localeName.c_str(), static_cast<locale_t>(nullptr)));
  if (!locale) locale.reset(newlocale(LC_TIME_MASK, "C", static_cast<locale_t>(nullptr)));
  std::tm day{};
  day.tm_year = date.Year - 1900;
  day.tm_mon = date.Month - 1;
  day.tm_mday = date.Day;
  char text[128];
  // %B is the month's name in the form that follows a day's number, where a language has such.
  const std::size_t length = locale ? strftime_l(text, sizeof text, "%-d %B %Y", &day, locale.get()) : 0;
  if (length == 0) return std::to_string(date.Day) + "/" + std::to_string(date.Month) + "/" + std::to_string(date.Year);
  return std::string(text, length);
}

std::string FormatPhotoDate(const PhotoDate& date) { return FormatPhotoDate(date, ""); }

}  // namespace lumivor
