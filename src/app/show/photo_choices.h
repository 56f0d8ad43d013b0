// What one photo of a show may choose for itself, beside the show's own choices.
#pragma once

#include <optional>

#include "app/show/photo_layout.h"
#include "app/show/photo_motion.h"

namespace lumivor {

// Each choice left unset is the show's.
struct PhotoChoices {
  std::optional<double> HoldSeconds;
  std::optional<ScreenMode> Screen;
  std::optional<MotionKind> Motion;
  std::optional<int> MotionStrength;
  // The transition that follows the photo: its effect number (1 to EffectCount) and length.
  std::optional<int> TransitionEffect;
  std::optional<double> TransitionSeconds;

  bool HasAny() const {
    return HoldSeconds || Screen || Motion || MotionStrength || TransitionEffect || TransitionSeconds;
  }
  friend bool operator==(const PhotoChoices&, const PhotoChoices&) = default;
};

}  // namespace lumivor
