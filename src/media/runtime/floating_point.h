#pragma once

namespace lumivor {

// Library code expects round-to-nearest with every floating-point exception
// masked. The loader's process set-up saves the environment it finds and
// applies that one; process exit puts the saved one back.
void ApplyLibraryFloatingPoint();
void RestoreFloatingPointEnvironment();

// Exposed so tests and the command-line front end can check it.
bool FloatingPointEnvironmentApplied();

}  // namespace lumivor
