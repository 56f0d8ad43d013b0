// The EXIF orientation tag: cameras and phones store the sensor's pixels as they came and write
// down how the picture must be turned to stand as it was taken.
#pragma once

#include <cstdint>
#include <span>

#include "raster/raster.h"

namespace lumivor {

// The tag's eight values, named for what the viewer does to the stored pixels.
enum class Orientation : std::uint8_t {
  AsStored = 1,
  MirrorLeftRight = 2,
  Turn180 = 3,
  MirrorTopBottom = 4,
  Transpose = 5,  // mirrored across the top-left to bottom-right diagonal
  TurnClockwise = 6,
  Transverse = 7,  // mirrored across the top-right to bottom-left diagonal
  TurnAnticlockwise = 8,
};

// The orientation an EXIF block gives, starting at its TIFF header ("II*\0" or "MM\0*"), from
// the first image's tag 0x0112. AsStored when there is no such tag or its value is not 1..8: a
// damaged tag must not keep the photo from showing.
Orientation ExifOrientation(std::span<const std::uint8_t> tiff);

// The orientation a JPEG's Exif APP1 segment gives; AsStored when the file has none. Only the
// markers before the first scan are looked at.
Orientation JpegOrientation(std::span<const std::uint8_t> jpeg);

// The picture turned as the orientation says; the width and height swap for values 5 to 8.
// The picture is left alone for AsStored. Throws std::bad_alloc.
void ApplyOrientation(Bitmap& picture, Orientation orientation);

}  // namespace lumivor
