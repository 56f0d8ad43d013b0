// Copying the many short runs that masks and stretches produce. Masks of thin shreds or speckles
// copy runs of a few pixels each, hundreds per row, where a library call per run costs several
// times the copy itself.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace lumivor {

template <std::size_t N>
inline void CopyPiece(std::uint8_t* out, const std::uint8_t* in) {
  std::memcpy(out, in, N);
}

// Copies n bytes between places that do not overlap. Short copies use fixed-size pieces, which
// compile to single moves; pieces may overlap each other, writing again the bytes they read.
inline void CopyShortBytes(std::uint8_t* out, const std::uint8_t* in, std::size_t n) {
  if (n > 64) {
    std::memcpy(out, in, n);
  } else if (n >= 16) {
    CopyPiece<16>(out, in);
    if (n > 32) CopyPiece<16>(out + 16, in + 16);
    if (n > 48) CopyPiece<16>(out + 32, in + 32);
    CopyPiece<16>(out + n - 16, in + n - 16);
  } else if (n >= 8) {
    CopyPiece<8>(out, in);
    CopyPiece<8>(out + n - 8, in + n - 8);
  } else if (n >= 4) {
    CopyPiece<4>(out, in);
    CopyPiece<4>(out + n - 4, in + n - 4);
  } else {
    for (std::size_t i = 0; i < n; ++i) out[i] = in[i];
  }
}

}  // namespace lumivor
