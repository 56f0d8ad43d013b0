// Decodes the pictures of a file the tests wrote, so that they can check what a run produced
// pixel by pixel.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace lumivor::testing {

struct DecodedPicture {
  int Width = 0;
  int Height = 0;
  int Format = -1;      // the decoder's own pixel format
  double Seconds = 0;   // presentation time
  std::vector<std::uint8_t> Bgr;  // bgr24, top row first, no padding
  // The blue, green and red bytes of a pixel.
  const std::uint8_t* PixelAt(int x, int y) const {
    return Bgr.data() + (static_cast<std::size_t>(y) * Width + x) * 3;
  }
};

// Every picture of the file's best video stream, in order. Pictures decoded as bgr24 are kept
// byte for byte; others are converted with nearest-neighbour sampling. Empty when the file
// cannot be read.
std::vector<DecodedPicture> DecodeVideoPictures(const std::string& path);

}  // namespace lumivor::testing
