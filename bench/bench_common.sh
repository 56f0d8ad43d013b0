# Shared by the benchmark scripts that time whole lumivor runs: the optimised build without
# sanitizers they time, one measured run and the median of a column. Sourced after
# `set -euo pipefail`; sets root, build and lumivor. measure writes its scratch files into the
# caller's $work.

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${LUMIVOR_BENCH_BUILD_DIR:-$root/build-bench}"
lumivor="$build/bin/lumivor"

# Debian's ffmpeg makes the test media and serves as the yardstick; GNU time measures.
build_lumivor() {
  bash "$root/tools/install_deps.sh" ffmpeg time
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release \
    -DLUMIVOR_SANITIZE=OFF -DLUMIVOR_WERROR=OFF -DLUMIVOR_BUILD_TESTS=OFF -DLUMIVOR_BUILD_BENCH=ON >/dev/null
  cmake --build "$build" -j2 --target lumivor
}

# measure LOG COMMAND...: one line per run in LOG, wall seconds and peak resident memory in KiB.
# The caller's before_run function, when it has one, runs first. A failed run ends the benchmark
# with its errors: a figure from a run that did not finish would mean nothing.
measure() {
  local log="$1"
  shift
  if declare -F before_run >/dev/null; then before_run; fi
  /usr/bin/time -f "%e %M" -o "$work/time" "$@" >/dev/null 2>>"$work/errors" || {
    echo "bench: run failed: $*" >&2
    cat "$work/errors" >&2
    exit 1
  }
  cat "$work/time" >>"$log"
}

median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
