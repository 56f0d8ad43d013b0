// Photos for the slideshow: the file's contents decide the decoder, and every failure is one
// exception with one line for a person.
#pragma once

#include <stdexcept>
#include <string>

#include "app/photos/picture_file.h"
#include "raster/raster.h"

namespace lumivor {

// A photo that cannot be opened or decoded. The text is one line and names the file; the frame
// input turns it into a failed task whose message the user sees.
class PhotoLoadError : public std::runtime_error {
 public:
  using runtime_error::runtime_error;
};

// Reads and decodes one photo into a 32-bit bitmap, BMP, JPEG, PNG, WebP or HEIC/HEIF by what the
// file holds. Upright turns it as its orientation tag (JPEG) or its rotation and mirror properties
// (HEIF) ask. The bitmap has the photo's own size unless a hint lets the reader reduce it (for the
// picture as turned); a slideshow passes the box its layout draws the photo into. Throws
// PhotoLoadError.
Bitmap LoadPhotoFile(const std::string& fileName, PictureTurn turn = PictureTurn::Upright,
                     const PictureSizeHint& hint = {});

}  // namespace lumivor
