// The transition table and the call contract every transition is composed through.
#pragma once

#include <array>
#include <cstdint>

#include "raster/raster.h"

namespace lumivor {

// Composes one intermediate frame into Dest, which holds the whole old picture on entry, from the
// new picture Source (already fitted to the frame). Progress is 1..99; ProgressWidth and
// ProgressHeight are the frame size scaled by it (see ProgressSize). An effect writes nothing
// outside Dest, never changes Source and keeps nothing between calls except the shared
// RandomSeed; Source.SourceSeed() is the per-transition value the seeded effects start from.
using TEffectProc = void (*)(Bitmap& Dest, const Bitmap& Source, int FrameWidth, int FrameHeight,
                             int ProgressWidth, int ProgressHeight, int Progress);

struct TEffect {
  const char* Name;
  TEffectProc Proc;
};

inline constexpr int EffectCount = 176;

// Effects are numbered 1 to 176; effect i is EffectList[i - 1]. Names are not unique (18 and 33,
// 25 and 34 share theirs): effects are identified by number only.
extern const std::array<TEffect, EffectCount> EffectList;

struct ProgressSize {
  int Width;
  int Height;
};

// The longer side scaled by progress, the other following in the frame's aspect.
ProgressSize ComputeProgressSize(int frameWidth, int frameHeight, int progress);

// The caller's side of the contract: Dest := old picture; at progress >= 100 the new picture,
// at <= 0 the old one, otherwise the effect's frame. All three bitmaps are 32-bit and of one size;
// Dest is resized to it when it differs. effect is 1..176.
void ComposeTransitionFrame(Bitmap& Dest, const Bitmap& oldPicture, const Bitmap& newPicture, int effect,
                            int progress);

}  // namespace lumivor
