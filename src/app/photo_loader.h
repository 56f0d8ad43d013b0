// Photos for the slideshow: the file's name decides the decoder, as it always has for the photo
// list, and every failure is one exception with one line for a person.
#pragma once

#include <stdexcept>
#include <string>

#include "effects/raster.h"

namespace lumivor {

// A photo that cannot be opened or decoded. The text is one line and names the file; the frame
// input turns it into a failed task whose message the user sees.
class PhotoLoadError : public std::runtime_error {
 public:
  using runtime_error::runtime_error;
};

// True when the name ends in ".bmp" in any letter case: such files go to the BMP reader, every
// other name to the JPEG decoder.
bool IsBmpFileName(const std::string& fileName);

// Reads and decodes one photo into a 32-bit bitmap of its own size. Throws PhotoLoadError.
Bitmap LoadPhotoFile(const std::string& fileName);

}  // namespace lumivor
