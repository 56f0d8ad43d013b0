#include "app/photos/exif_orientation.h"

#include <cstring>

#include "app/photos/exif_block.h"

namespace lumivor {

namespace {

constexpr std::uint16_t OrientationTag = 0x0112;
constexpr std::uint16_t TiffShort = 3;


}  // namespace

Orientation ExifOrientation(std::span<const std::uint8_t> tiff) {
  const std::optional<TiffReader> reader = TiffReader::Open(tiff);
  if (!reader) return Orientation::AsStored;
  const std::optional<std::size_t> entry = reader->Entry(reader->FirstDirectory(), OrientationTag);
  if (!entry) return Orientation::AsStored;
  // A SHORT stored in the first two bytes of the value field; some writers use LONG.
  const std::uint16_t type = reader->U16(*entry + 2);
  const std::uint32_t value = type == TiffShort ? reader->U16(*entry + 8) : reader->U32(*entry + 8);
  if (reader->U32(*entry + 4) != 1 || (type != TiffShort && type != 4) || value < 1 || value > 8)
    return Orientation::AsStored;
  return static_cast<Orientation>(value);
}

Orientation JpegOrientation(std::span<const std::uint8_t> jpeg) {
  const std::span<const std::uint8_t> block = JpegExifBlock(jpeg);
  return block.empty() ? Orientation::AsStored : ExifOrientation(block);
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
