#include "effects/effect.h"

#include <cassert>
#include <cstring>

#include "raster/arith.h"

namespace lumivor {

ProgressSize ComputeProgressSize(int frameWidth, int frameHeight, int progress) {
  if (frameHeight <= frameWidth) {
    const int w = MulDiv(frameWidth, progress, 100);
    return {w, MulDiv(w, frameHeight, frameWidth)};
  }
  const int h = MulDiv(frameHeight, progress, 100);
  return {MulDiv(h, frameWidth, frameHeight), h};
}

void ComposeTransitionFrame(Bitmap& Dest, const Bitmap& oldPicture, const Bitmap& newPicture, int effect,
                            int progress) {
  assert(oldPicture.Width() == newPicture.Width() && oldPicture.Height() == newPicture.Height());
  assert(oldPicture.BitsPerPixel() == 32 && newPicture.BitsPerPixel() == 32);
  assert(effect >= 1 && effect <= EffectCount);
  if (Dest.Width() != oldPicture.Width() || Dest.Height() != oldPicture.Height() || Dest.BitsPerPixel() != 32)
    Dest.Resize(oldPicture.Width(), oldPicture.Height(), 32);
  std::memcpy(Dest.Bits(), oldPicture.Bits(), oldPicture.ImageSize());
  if (progress <= 0 || Dest.IsEmpty()) return;
  if (progress >= 100) {
    std::memcpy(Dest.Bits(), newPicture.Bits(), newPicture.ImageSize());
    return;
  }
  const int W = Dest.Width(), H = Dest.Height();
  const ProgressSize size = ComputeProgressSize(W, H, progress);
  EffectList[effect - 1].Proc(Dest, newPicture, W, H, size.Width, size.Height, progress);
}

}  // namespace lumivor
