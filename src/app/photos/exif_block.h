// Reading the Exif block (a small TIFF file) that photos carry: its byte order, its directories and
// their entries, and where a JPEG keeps it. Every read is bounds-checked, since the block comes
// from the file as it is.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace lumivor {

class TiffReader {
 public:
  // A reader of tiff when it starts with a valid header ("II" or "MM", then 42); nothing otherwise.
  static std::optional<TiffReader> Open(std::span<const std::uint8_t> tiff);

  // The offset of the first directory, as the header gives it.
  std::size_t FirstDirectory() const { return U32(4); }
  bool Has(std::size_t offset, std::size_t length) const {
    return offset <= data_.size() && length <= data_.size() - offset;
  }
  std::uint16_t U16(std::size_t offset) const;
  std::uint32_t U32(std::size_t offset) const;
  // The 12-byte entry of tag in the directory at offset; nothing when it is not there whole.
  std::optional<std::size_t> Entry(std::size_t directory, std::uint16_t tag) const;
  // An ASCII value's bytes (up to its first NUL), wherever the entry keeps them.
  std::optional<std::string> Text(std::size_t entry) const;

 private:
  TiffReader(std::span<const std::uint8_t> data, bool bigEndian) : data_(data), bigEndian_(bigEndian) {}

  std::span<const std::uint8_t> data_;
  bool bigEndian_ = false;
};

// The Exif block of a JPEG file (its APP1 segment with the "Exif\0\0" header, the header left
// out); empty when the file has none before its first scan.
std::span<const std::uint8_t> JpegExifBlock(std::span<const std::uint8_t> jpeg);

}  // namespace lumivor
