// Channel Mix: the new picture's colour channels arrive one after another, in an order drawn once
// per transition from the new picture's SourceSeed.
#include <bit>
#include <cstdint>
#include <cstring>

#include "raster/arith.h"
#include "effects/effect_procs.h"
#include "effects/random.h"

namespace lumivor::transitions {

namespace {

// Channels are addressed by their bit position inside a pixel read as one 32-bit word.
static_assert(std::endian::native == std::endian::little, "pixel words assume little-endian byte order");

struct ChannelOrder {
  int Channel[3];  // 0 blue, 1 green, 2 red
};

ChannelOrder draw_channel_order(std::uint32_t sourceSeed) {
  const SeededRandom seeded(sourceSeed);
  const auto first = static_cast<int>(RandomInt(3));
  int second;
  do second = static_cast<int>(RandomInt(3));
  while (second == first);
  return {{first, second, 3 - first - second}};
}

// Every pixel takes the channels in copyMask from Source whole and moves channel blended (bit
// shift 8 * channel) towards Source by weight/256, rounding toward minus infinity.
void mix_channels(Bitmap& Dest, const Bitmap& Source, std::uint32_t copyMask, int blended, int weight) {
  const int shift = 8 * blended;
  const std::uint32_t keepMask = ~(copyMask | (0xFFu << shift));
  const std::size_t pixels = static_cast<std::size_t>(Dest.Width());
  const int stride = Dest.Stride();
  for (int r = 0; r < Dest.Height(); ++r) {  // bottom-up
    std::uint8_t* target = Dest.Bits() + static_cast<std::ptrdiff_t>(r) * stride;
    const std::uint8_t* source = Source.Bits() + static_cast<std::ptrdiff_t>(r) * stride;
    for (std::size_t i = 0; i < pixels; ++i) {
      std::uint32_t d;
      std::uint32_t s;
      std::memcpy(&d, target + 4 * i, 4);
      std::memcpy(&s, source + 4 * i, 4);
      const int dc = static_cast<int>((d >> shift) & 0xFF);
      const int sc = static_cast<int>((s >> shift) & 0xFF);
      const auto mixed = static_cast<std::uint32_t>(dc + (((sc - dc) * weight) >> 8));
      d = (d & keepMask) | (s & copyMask) | (mixed << shift);
      std::memcpy(target + 4 * i, &d, 4);
    }
  }
}

}  // namespace

void ChannelMix(Bitmap& Dest, const Bitmap& Source, int, int, int, int, int Progress) {
  const ChannelOrder order = draw_channel_order(Source.SourceSeed());
  // Each third of the transition brings in one more channel: the earlier ones are complete.
  const int stage = Progress <= 33 ? 0 : Progress <= 66 ? 1 : 2;
  std::uint32_t copyMask = 0;
  for (int i = 0; i < stage; ++i) copyMask |= 0xFFu << (8 * order.Channel[i]);
  mix_channels(Dest, Source, copyMask, order.Channel[stage], MulDiv(256, Progress - 33 * stage, 33));
}

}  // namespace lumivor::transitions
