#include "app/photos/exif_block.h"

#include <cstring>

namespace lumivor {

namespace {

constexpr std::uint16_t TiffAscii = 2;

}  // namespace

std::optional<TiffReader> TiffReader::Open(std::span<const std::uint8_t> tiff) {
  if (tiff.size() < 8) return std::nullopt;
  bool bigEndian = false;
  if (tiff[0] == 'I' && tiff[1] == 'I') {
    bigEndian = false;
  } else if (tiff[0] == 'M' && tiff[1] == 'M') {
    bigEndian = true;
  } else {
    return std::nullopt;
  }
  const TiffReader reader(tiff, bigEndian);
  if (reader.U16(2) != 42) return std::nullopt;
  return reader;
}

std::uint16_t TiffReader::U16(std::size_t offset) const {
  const std::uint8_t* p = data_.data() + offset;
  return bigEndian_ ? static_cast<std::uint16_t>((p[0] << 8) | p[1]) : static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

std::uint32_t TiffReader::U32(std::size_t offset) const {
  const std::uint32_t a = U16(offset), b = U16(offset + 2);
  return bigEndian_ ? (a << 16) | b : a | (b << 16);
}

std::optional<std::size_t> TiffReader::Entry(std::size_t directory, std::uint16_t tag) const {
  if (!Has(directory, 2)) return std::nullopt;
  const std::size_t count = U16(directory);
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t entry = directory + 2 + i * 12;
    if (!Has(entry, 12)) break;
    if (U16(entry) == tag) return entry;
  }
  return std::nullopt;
}

std::optional<std::string> TiffReader::Text(std::size_t entry) const {
  if (U16(entry + 2) != TiffAscii) return std::nullopt;
  const std::size_t count = U32(entry + 4);
  const std::size_t at = count <= 4 ? entry + 8 : U32(entry + 8);
  if (!Has(at, count)) return std::nullopt;
  std::string text(reinterpret_cast<const char*>(data_.data() + at), count);
  text.resize(std::strlen(text.c_str()));
  return text;
}

std::span<const std::uint8_t> JpegExifBlock(std::span<const std::uint8_t> jpeg) {
  static constexpr std::uint8_t exifHeader[6] = {'E', 'x', 'i', 'f', 0, 0};
  if (jpeg.size() < 4 || jpeg[0] != 0xFF || jpeg[1] != 0xD8) return {};
  std::size_t pos = 2;
  while (pos + 4 <= jpeg.size()) {
    if (jpeg[pos] != 0xFF) return {};
    const std::uint8_t marker = jpeg[pos + 1];
    if (marker == 0xFF) {  // fill byte before a marker
      ++pos;
      continue;
    }
    if (marker == 0xDA || marker == 0xD9) break;  // the scan starts: no more headers
    const std::size_t length = (std::size_t{jpeg[pos + 2]} << 8) | jpeg[pos + 3];
    if (length < 2 || pos + 2 + length > jpeg.size()) break;
    const std::span<const std::uint8_t> body = jpeg.subspan(pos + 4, length - 2);
    // An XMP packet is an APP1 segment too; only the one with the Exif header is the block.
    if (marker == 0xE1 && body.size() >= sizeof exifHeader &&
        std::memcmp(body.data(), exifHeader, sizeof exifHeader) == 0)
      return body.subspan(sizeof exifHeader);
    pos += 2 + length;
  }
  return {};
}

}  // namespace lumivor
