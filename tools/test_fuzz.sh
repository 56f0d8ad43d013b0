#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and the address and undefined-behaviour sanitizers, in
# its own build folder, and runs each for a fixed time (LUMIVOR_FUZZ_SECONDS, 60 by default)
# starting from its committed seeds in tests/fuzz/seeds/<target>/. Exit status is non-zero when a
# target found a crash, a leak, a time-out or a sanitizer report; the input that did it is kept
# under the build folder's fuzz-artifacts/<target>/ and named in the last lines printed.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${LUMIVOR_FUZZ_BUILD_DIR:-$root/build-test-fuzz}"
seconds="${LUMIVOR_FUZZ_SECONDS:-60}"
# libFuzzer reads a bad or zero time as "no limit" and would run until killed.
case "$seconds" in
  '' | *[!0-9]* | 0) echo "test_fuzz: LUMIVOR_FUZZ_SECONDS must be a whole number above 0" >&2; exit 2 ;;
esac

launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
cmake -S "$root" -B "$build" "${launcher[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DLUMIVOR_SANITIZE=ON -DLUMIVOR_WERROR=ON -DLUMIVOR_BUILD_TESTS=ON -DLUMIVOR_BUILD_FUZZ=ON
cmake --build "$build" -j2 --target lumivor_decoder_fuzz lumivor_option_text_fuzz

# target name (its seed folder) and the binary that runs it
targets=(
  "decoder_load_fuzz lumivor_decoder_fuzz -max_len=65536"
  "option_text_fuzz lumivor_option_text_fuzz -max_len=4096"
)
failed=()
for entry in "${targets[@]}"; do
  read -r name binary options <<<"$entry"
  # New inputs go to the first folder only, so the committed seeds are read and never written.
  corpus="$build/fuzz-corpus/$name"
  artifacts="$build/fuzz-artifacts/$name"
  mkdir -p "$corpus" "$artifacts"
  echo "fuzz: running $name for $seconds s"
  # One input may take a while in the sanitized decoder, but not 20 s: that is a hang.
  # shellcheck disable=SC2086  # options is a list of words
  if "$build/tests/fuzz/$binary" $options -max_total_time="$seconds" -timeout=20 \
      -print_final_stats=1 -artifact_prefix="$artifacts/" "$corpus" "$root/tests/fuzz/seeds/$name" \
      >"$build/fuzz-$name.log" 2>&1; then
    grep -E '^(stat::number_of_executed_units|stat::peak_rss_mb|#[0-9]+ +DONE)' "$build/fuzz-$name.log" || true
    echo "fuzz: $name passed ($(find "$corpus" -type f | wc -l) new corpus files)"
  else
    tail -n 80 "$build/fuzz-$name.log"
    echo "fuzz: $name FAILED; log $build/fuzz-$name.log; reproducer(s):"
    find "$artifacts" -type f -printf '  %p\n'
    failed+=("$name")
  fi
done
if [ "${#failed[@]}" -ne 0 ]; then
  echo "fuzz: findings in ${failed[*]}" >&2
  exit 1
fi
