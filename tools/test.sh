#!/usr/bin/env bash
# Builds everything with warnings as errors and the address and undefined-behaviour sanitizers, in
# its own build folder, and runs every test. ctest's summary is the last thing printed; the exit
# status is non-zero when anything failed.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${LUMIVOR_TEST_BUILD_DIR:-$root/build-test}"

bash "$root/tools/install_deps.sh"
# The benchmark is built too (not run), so that it cannot rot unnoticed.
# A compiler cache, when the machine has one, makes rebuilds in several work trees cheap.
launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
cmake -S "$root" -B "$build" "${launcher[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DLUMIVOR_SANITIZE=ON -DLUMIVOR_WERROR=ON -DLUMIVOR_BUILD_TESTS=ON -DLUMIVOR_BUILD_BENCH=ON
# Two jobs: the machines this runs on have two cores.
cmake --build "$build" -j2
cd "$build"
ctest --output-on-failure -j2
