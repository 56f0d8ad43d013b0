#!/usr/bin/env bash
# Times one transcoding job through `lumivor convert` and through Debian's ffmpeg program, which
# serves only as the yardstick: a 60-second 1280x720 clip with sound, made here, to mpeg4 -q:v 5
# with aac. The two run in turn, several times each; the medians of wall time and peak memory are
# compared with the goals (wall time within 1.05x, peak memory within 1.2x).
#
# Environment: RUNS (default 5), LUMIVOR_BENCH_BUILD_DIR (default build-bench), CLIP_SECONDS (60).
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/bench_common.sh"
runs="${RUNS:-5}"
seconds="${CLIP_SECONDS:-60}"
build_lumivor

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
clip="$work/clip.mp4"
ffmpeg -hide_banner -loglevel error -f lavfi -i "testsrc2=size=1280x720:rate=30:duration=$seconds" \
  -f lavfi -i "sine=frequency=440:sample_rate=44100:duration=$seconds" -ac 2 \
  -c:v libx264 -preset veryfast -crf 23 -pix_fmt yuv420p -c:a aac -b:a 128k "$clip"

job=(-c:v mpeg4 -q:v 5 -c:a aac)
lumivor_run=("$lumivor" convert -i "$clip" --out-options "${job[*]}" -o "$work/lumivor.mp4"
             --log-level error)
ffmpeg_run=(ffmpeg -hide_banner -nostdin -loglevel error -y -i "$clip" "${job[@]}" "$work/ffmpeg.mp4")

for ((i = 1; i <= runs; i++)); do
  measure "$work/lumivor.log" "${lumivor_run[@]}"
  measure "$work/ffmpeg.log" "${ffmpeg_run[@]}"
done

lw=$(cut -d' ' -f1 "$work/lumivor.log" | median)
fw=$(cut -d' ' -f1 "$work/ffmpeg.log" | median)
lm=$(cut -d' ' -f2 "$work/lumivor.log" | median)
fm=$(cut -d' ' -f2 "$work/ffmpeg.log" | median)

awk -v lw="$lw" -v fw="$fw" -v lm="$lm" -v fm="$fm" -v runs="$runs" -v s="$seconds" 'BEGIN {
  printf "job: %ss 1280x720 clip with sound to mpeg4 -q:v 5 + aac, %d runs each, medians\n", s, runs
  printf "wall time:   lumivor %7.2f s    ffmpeg %7.2f s    ratio %.3f (goal <= 1.05: %s)\n",
         lw, fw, lw / fw, lw / fw <= 1.05 ? "met" : "NOT met"
  printf "peak memory: lumivor %7.1f MiB  ffmpeg %7.1f MiB  ratio %.3f (goal <= 1.20: %s)\n",
         lm / 1024, fm / 1024, lm / fm, lm / fm <= 1.2 ? "met" : "NOT met"
}'
