// The day a photo was taken, as its Exif block records it, for the show's date captions.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace lumivor {

struct PhotoDate {
  int Year = 0;
  int Month = 0;  // 1..12
  int Day = 0;    // 1..31
  friend bool operator==(const PhotoDate&, const PhotoDate&) = default;
};

// The date an Exif block gives, starting at its TIFF header ("II*\0" or "MM\0*"): the Exif
// directory's DateTimeOriginal (0x9003), the moment the shutter opened; else the first image's
// DateTime (0x0132), when the file was last written. A value that is not a real day ("0000:00:00",
// blanks, 31 April) counts as none: cameras without a clock write such.
std::optional<PhotoDate> ExifDate(std::span<const std::uint8_t> tiff);

// The date of a picture file's Exif block, by content: a JPEG's APP1 segment (before the first
// scan), a PNG's eXIf chunk, a WebP's EXIF chunk, a HEIC/HEIF's Exif item. None for a file
// without one; nothing here throws, whatever the file holds.
std::optional<PhotoDate> PictureDate(std::span<const std::uint8_t> file);

// PictureDate of a file read from disk; none when it cannot be read.
std::optional<PhotoDate> PhotoFileDate(const std::string& fileName);

// "12 June 2024": the day, the month's name and the year, with the month named in the locale the
// environment sets for times (LC_ALL, LC_TIME, LANG); English when it sets none or one that is
// not installed.
std::string FormatPhotoDate(const PhotoDate& date);
// The same in a named locale ("C", "de_DE.UTF-8"); the C locale when that one is not installed.
std::string FormatPhotoDate(const PhotoDate& date, const std::string& localeName);

}  // namespace lumivor
