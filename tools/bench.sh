#!/usr/bin/env bash
# Builds the transition benchmark optimised and without sanitizers, runs it and sums it up: the
# cost of a plain frame copy, and the median and slowest transitions as multiples of it.
# Arguments are passed to the benchmark (e.g. --benchmark_filter=BM_Effect/1[0-9]$).
# Environment: LUMIVOR_BENCH_FRAME=WxH times another frame size (a small one, e.g. 320x240, stays
# in cache and shows the effects' own work); BENCH_REPETITIONS=N runs everything N times and sums
# up the medians, which a busy machine needs; BENCH_MIN_TIME is the seconds per run (0.2).
# The times are CPU times, so that waiting for a shared core does not count.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${LUMIVOR_BENCH_BUILD_DIR:-$root/build-bench}"

bash "$root/tools/install_deps.sh"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release \
  -DLUMIVOR_SANITIZE=OFF -DLUMIVOR_WERROR=OFF -DLUMIVOR_BUILD_TESTS=OFF -DLUMIVOR_BUILD_BENCH=ON
cmake --build "$build" -j2 --target effects_bench

csv="$build/effects_bench.csv"
repeat=()
if [ "${BENCH_REPETITIONS:-1}" -gt 1 ]; then
  repeat=(--benchmark_repetitions="$BENCH_REPETITIONS" --benchmark_report_aggregates_only=true)
fi
"$build/bench/effects_bench" --benchmark_min_time="${BENCH_MIN_TIME:-0.2}" "${repeat[@]}" \
  --benchmark_out="$csv" --benchmark_out_format=csv "$@"

# Rows: name,iterations,real_time,cpu_time,time_unit,...,"label",... ; the header line and the
# context lines before it have no BM_ prefix. With repetitions only the _median rows are read.
# Times are brought to microseconds.
awk -F, '
  function us(t, unit) { return unit == "ns" ? t / 1000 : unit == "ms" ? t * 1000 : unit == "s" ? t * 1e6 : t }
  { name = $1; gsub(/"/, "", name) }
  name ~ /_(mean|stddev|cv)$/ { next }
  { sub(/_median$/, "", name); label = $8; gsub(/"/, "", label) }
  name == "BM_FrameCopy" { copy = us($4, $5); size = label }
  name ~ /^BM_Effect\// { sub(/^BM_Effect\//, "", name); n++; time[n] = us($4, $5); who[n] = name " " label }
  END {
    if (copy == "" || n == 0) { print "bench: no results to sum up" > "/dev/stderr"; exit 1 }
    for (i = 1; i <= n; i++) for (j = i + 1; j <= n; j++)
      if (time[j] < time[i]) { t = time[i]; time[i] = time[j]; time[j] = t; w = who[i]; who[i] = who[j]; who[j] = w }
    m = int((n + 1) / 2)
    printf "\nframe copy (%s, 32 bits):  %10.1f us\n", size, copy
    printf "median of %d effects:       %10.1f us  %6.2fx copy  (%s)\n", n, time[m], time[m] / copy, who[m]
    printf "slowest effect:              %10.1f us  %6.2fx copy  (%s)\n", time[n], time[n] / copy, who[n]
    for (i = n - 1; i >= 1 && i > n - 5; i--) printf "                             %10.1f us  %6.2fx copy  (%s)\n", time[i], time[i] / copy, who[i]
    printf "goals: median within 3x copy: %s; slowest within 15x copy: %s\n",
           time[m] <= 3 * copy ? "met" : "NOT met", time[n] <= 15 * copy ? "met" : "NOT met"
  }' "$csv"
