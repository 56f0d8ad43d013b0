#include "app/photos/exif_orientation.h"

#include <cstring>

namespace lumivor {

namespace {

constexpr std::uint16_t OrientationTag = 0x0112;
constexpr std::uint16_t TiffShort = 3;

struct TiffReader {
  std::span<const std::uint8_t> Data;
  bool BigEndian = false;

  bool Has(std::size_t offset, std::size_t length) const {
    return offset <= Data.size() && length <= Data.size() - offset;
  }
  std::uint16_t U16(std::size_t offset) const {
    const std::uint8_t* p = Data.data() + offset;
    return BigEndian ? static_cast<std::uint16_t>((p[0] << 8) | p[1]) : static_cast<std::uint16_t>(p[0] | (p[1] << 8));
  }
  std::uint32_t U32(std::size_t offset) const {
    const std::uint32_t a = U16(offset), b = U16(offset + 2);
    return BigEndian ? (a << 16) | b : a | (b << 16);
  }
};

}  // namespace

Orientation ExifOrientation(std::span<const std::uint8_t> tiff) {
  TiffReader reader{tiff};
  if (!reader.Has(0, 8)) return Orientation::AsStored;
  if (tiff[0] == 'I' && tiff[1] == 'I') {
    reader.BigEndian = false;
  } else if (tiff[0] == 'M' && tiff[1] == 'M') {
    reader.BigEndian = true;
  } else {
    return Orientation::AsStored;
  }
  if (reader.U16(2) != 42) return Orientation::AsStored;
  const std::size_t ifd = reader.U32(4);
  if (!reader.Has(ifd, 2)) return Orientation::AsStored;
  const std::size_t count = reader.U16(ifd);
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t entry = ifd + 2 + i * 12;
    if (!reader.Has(entry, 12)) break;
    if (reader.U16(entry) != OrientationTag) continue;
    // A SHORT stored in the first two bytes of the value field; some writers use LONG.
    const std::uint16_t type = reader.U16(entry + 2);
    const std::uint32_t value = type == TiffShort ? reader.U16(entry + 8) : reader.U32(entry + 8);
    if (reader.U32(entry + 4) != 1 || (type != TiffShort && type != 4) || value < 1 || value > 8) break;
    return static_cast<Orientation>(value);
  }
  return Orientation::AsStored;
}

Orientation JpegOrientation(std::span<const std::uint8_t> jpeg) {
  static constexpr std::uint8_t exifHeader[6] = {'E', 'x', 'i', 'f', 0, 0};
  if (jpeg.size() < 4 || jpeg[0] != 0xFF || jpeg[1] != 0xD8) return Orientation::AsStored;
  std::size_t pos = 2;
  while (pos + 4 <= jpeg.size()) {
    if (jpeg[pos] != 0xFF) return Orientation::AsStored;
    const std::uint8_t marker = jpeg[pos + 1];
    if (marker == 0xFF) {  // fill byte before a marker
      ++pos;
      continue;
    }
    if (marker == 0xDA || marker == 0xD9) break;  // the scan starts: no more headers
    const std::size_t length = (std::size_t{jpeg[pos + 2]} << 8) | jpeg[pos + 3];
    if (length < 2 || pos + 2 + length > jpeg.size()) break;
    const std::span<const std::uint8_t> body = jpeg.subspan(pos + 4, length - 2);
    if (marker == 0xE1 && body.size() >= sizeof exifHeader &&
        std::memcmp(body.data(), exifHeader, sizeof exifHeader) == 0)
      return ExifOrientation(body.subspan(sizeof exifHeader));
    pos += 2 + length;
  }
  return Orientation::AsStored;
}

void ApplyOrientation(Bitmap& picture, Orientation orientation) {
  if (orientation == Orientation::AsStored || picture.IsEmpty()) return;
  const int w = picture.Width(), h = picture.Height(), bytes = picture.BytesPerPixel();
  const bool swaps = orientation >= Orientation::Transpose;
  Bitmap turned(swaps ? h : w, swaps ? w : h, picture.BitsPerPixel());
  // For each pixel of the turned picture, the stored pixel it shows.
  auto source = [&](int x, int y, int& sx, int& sy) {
    switch (orientation) {
      case Orientation::AsStored: sx = x, sy = y; break;
      case Orientation::MirrorLeftRight: sx = w - 1 - x, sy = y; break;
      case Orientation::Turn180: sx = w - 1 - x, sy = h - 1 - y; break;
      case Orientation::MirrorTopBottom: sx = x, sy = h - 1 - y; break;
      case Orientation::Transpose: sx = y, sy = x; break;
      case Orientation::TurnClockwise: sx = y, sy = h - 1 - x; break;
      case Orientation::Transverse: sx = w - 1 - y, sy = h - 1 - x; break;
      case Orientation::TurnAnticlockwise: sx = w - 1 - y, sy = x; break;
    }
  };
  for (int y = 0; y < turned.Height(); ++y) {
    std::uint8_t* dst = turned.ScanLine(y);
    for (int x = 0; x < turned.Width(); ++x, dst += bytes) {
      int sx = 0, sy = 0;
      source(x, y, sx, sy);
      std::memcpy(dst, picture.ScanLine(sy) + static_cast<std::size_t>(sx) * bytes, static_cast<std::size_t>(bytes));
    }
  }
  picture = std::move(turned);
}

}  // namespace lumivor
