#include "media/runtime/floating_point.h"

#include <fenv.h>

namespace lumivor {

namespace {
fenv_t SavedEnvironment{};
bool Saved = false;
}  // namespace

void ApplyLibraryFloatingPoint() {
  Saved = fegetenv(&SavedEnvironment) == 0;
  fesetround(FE_TONEAREST);
  fedisableexcept(FE_ALL_EXCEPT);
}

void RestoreFloatingPointEnvironment() {
  if (Saved) fesetenv(&SavedEnvironment);
  Saved = false;
}

bool FloatingPointEnvironmentApplied() { return fegetround() == FE_TONEAREST && fegetexcept() == 0; }

}  // namespace lumivor
