#!/usr/bin/env bash
# Runs the checks in stages, each in its own build folder:
#   main  builds everything with warnings as errors and the address and undefined-behaviour
#         sanitizers and runs every test (build-test/)
#   tsan  the media and app tests under ThreadSanitizer (tools/test_tsan.sh, build-test-tsan/)
#   fuzz  each fuzz target for a minute from its seeds (tools/test_fuzz.sh, build-test-fuzz/)
# Give stage names as arguments to run only those; all three run by default. Every stage runs even
# when an earlier one failed, so one run gives every verdict; the last lines printed are each
# stage's time and verdict, and the exit status is non-zero when any stage failed.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${LUMIVOR_TEST_BUILD_DIR:-$root/build-test}"

main_stage() {
  bash "$root/tools/check_includes.sh"
  bash "$root/tools/install_deps.sh"
  # The benchmark is built too (not run), so that it cannot rot unnoticed.
  # A compiler cache, when the machine has one, makes rebuilds in several work trees cheap.
  local launcher=()
  if command -v ccache >/dev/null; then
    launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
  fi
  cmake -S "$root" -B "$build" "${launcher[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DLUMIVOR_SANITIZE=ON -DLUMIVOR_WERROR=ON -DLUMIVOR_BUILD_TESTS=ON -DLUMIVOR_BUILD_BENCH=ON
  # Two jobs: the machines this runs on have two cores.
  cmake --build "$build" -j2
  cd "$build"
  ctest --output-on-failure -j2
}
tsan_stage() {
  LUMIVOR_TSAN_BUILD_DIR="${LUMIVOR_TSAN_BUILD_DIR:-$build-tsan}" bash "$root/tools/test_tsan.sh"
}
fuzz_stage() {
  LUMIVOR_FUZZ_BUILD_DIR="${LUMIVOR_FUZZ_BUILD_DIR:-$build-fuzz}" bash "$root/tools/test_fuzz.sh"
}

stages=("$@")
[ "${#stages[@]}" -eq 0 ] && stages=(main tsan fuzz)
for name in "${stages[@]}"; do
  case "$name" in
    main | tsan | fuzz) ;;
    *) echo "test.sh: unknown stage '$name' (main, tsan, fuzz)" >&2; exit 2 ;;
  esac
done
# The later stages need the packages the main stage installs.
if [[ " ${stages[*]} " != *" main "* ]]; then
  bash "$root/tools/install_deps.sh"
fi

summary=()
failed=()
for name in "${stages[@]}"; do
  echo "test.sh: stage $name starts"
  start=$SECONDS
  # A subshell outside any condition, so that set -e still stops the stage at its first failure.
  set +e
  (set -e; "${name}_stage")
  status=$?
  set -e
  seconds=$((SECONDS - start))
  if [ "$status" -eq 0 ]; then
    summary+=("test.sh: stage $name passed in ${seconds} s")
  else
    summary+=("test.sh: stage $name FAILED (exit status $status) after ${seconds} s")
    failed+=("$name")
  fi
  echo "${summary[-1]}"
done
printf '%s\n' "${summary[@]}"
if [ "${#failed[@]}" -ne 0 ]; then
  echo "test.sh: FAILED stages: ${failed[*]}" >&2
  exit 1
fi
echo "test.sh: all stages passed"
