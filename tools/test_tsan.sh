#!/usr/bin/env bash
# Builds the tests of the threaded code (media runtime, engine, components and the app) with
# ThreadSanitizer, in its own build folder, and runs them. Any race report fails the test it came
# from. Reports from inside the media libraries loaded at run time are passed over by
# tests/tsan_suppressions.txt; our own code is never suppressed there.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${LUMIVOR_TSAN_BUILD_DIR:-$root/build-test-tsan}"

launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
# Warnings are the main build's verdict. Here they are shown but do not stop the build: with the
# race detector's instrumentation GCC 12 inlines differently and its flow warnings (array-bounds,
# stringop-overflow) fire on branches that cannot run, in code that builds clean everywhere else.
cmake -S "$root" -B "$build" "${launcher[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DLUMIVOR_TSAN=ON -DLUMIVOR_WERROR=OFF -DLUMIVOR_BUILD_TESTS=ON
cmake --build "$build" -j2 --target \
  lumivor_runtime_tests lumivor_engine_tests lumivor_components_tests lumivor_app_tests

# Tests left out of this run, each for a race in our code that is known and not yet fixed, or for
# a failure that is no race but this build's doing. Say which; take the line out with the fix.
excluded=(
  # Not a race: its end handler sleeps 600 ms and expects the second task to have ended by then,
  # which the race detector's slowdown does not leave time for.
  '^Encoder\.ASlowEndHandlerIsNotOvertaken$'
  # Not a race: it counts frames let through in a burst after a pause against the wall clock,
  # and with the race detector's slowdown a burst of 12 passes where 6 is the limit.
  '^TranscodeRate\.APauseDoesNotCountAsPlayingTime$'
)
exclude_args=()
if [ "${#excluded[@]}" -ne 0 ]; then
  exclude_args=(-E "$(IFS='|'; echo "${excluded[*]}")")
fi

# A race report makes the test binary exit non-zero (66) at its end, so ctest counts it as failed.
export TSAN_OPTIONS="suppressions=$root/tests/tsan_suppressions.txt second_deadlock_stack=1 ${TSAN_OPTIONS:-}"
# The runtime of GCC 12's ThreadSanitizer expects the address layout of a kernel with at most 28
# bits of mmap randomisation and stops with "unexpected memory mapping" on newer defaults; without
# address randomisation it runs on every kernel.
no_aslr=()
if setarch "$(uname -m)" -R true 2>/dev/null; then
  no_aslr=(setarch "$(uname -m)" -R)
fi
cd "$build"
# Only the folders built above: the labels the test folders give their tests.
"${no_aslr[@]}" ctest --output-on-failure -j2 -L '^(runtime|media|app)$' "${exclude_args[@]}"
