// Sample photos and a sample audio track, made by the program itself, so that a slideshow can be
// tried (and demonstrated) without anyone's own files.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "raster/raster.h"

namespace lumivor {

// A baseline JPEG of a 24- or 32-bit bitmap (quality 1 to 100); false with a reason.
bool EncodeJpegFile(const Bitmap& picture, int quality, std::vector<std::uint8_t>& file, std::string& errorText);

// Writes four photos of different shapes into folder - a 4:3 landscape, a 3:4 portrait and a
// 16:9 panorama as JPEG, a square pattern as BMP - and returns their paths in showing order.
// Existing files of the same names are replaced, symbolic links too (never written through);
// false with a reason.
bool WriteSamplePhotos(const std::string& folder, std::vector<std::string>& paths, std::string& errorText);

// A 16-bit stereo 44100 Hz WAV of the given length: a slow tune of soft tones, so that the
// result can be listened to. A symbolic link under path is replaced, not written through.
bool WriteSampleTrack(const std::string& path, double seconds, std::string& errorText);

}  // namespace lumivor
