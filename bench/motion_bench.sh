#!/usr/bin/env bash
# Times `lumivor make` on 20 photos at 1920x1080 with the photos moving (--motion random) at 30 fps
# with delays 5 and 2, against encoding the same number of 1920x1080 frames from a synthetic source
# with the same encoder settings through `lumivor convert` (a lavfi test pattern turned into bgr24,
# the pixel format the slideshow hands the engine). Goal: the moving slideshow within 1.05x of the
# synthetic encoding. Both use the H.264 format's encoder settings (libx264, yuv420p, CRF 20,
# preset medium).
#
# Environment: RUNS (default 3), LUMIVOR_BENCH_BUILD_DIR (default build-bench), HOLD and TRANSITION
# (whole seconds, default 5 and 2; smaller values give a quicker, rougher figure).
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/bench_common.sh"
runs="${RUNS:-3}"
hold="${HOLD:-5}"
transition="${TRANSITION:-2}"
build_lumivor

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# Twenty different photos of a phone camera's 4:3 shape, larger than the frame, so that each is
# scaled down once before it moves.
ffmpeg -hide_banner -loglevel error -f lavfi -i "testsrc2=size=2400x1800:rate=1" -frames:v 20 -q:v 3 \
  "$work/photo%02d.jpg"
photos=("$work"/photo*.jpg)

frames=$(((20 + 1) * transition * 30 + 20 * hold * 30 + 2))  # (N + 1) transitions, N holds, 2 tail frames
encoder=(-c:v libx264 -pix_fmt yuv420p -crf 20 -preset medium -r 30/1 -s 1920x1080)
make_run=("$lumivor" make --format h264 --size 1920x1080 --rate 30:1 --hold "$hold" --transition "$transition" --seed 1
          --motion random -o "$work/out")
synthetic="testsrc2=size=1920x1080:rate=30,format=bgr24"
convert_run=("$lumivor" convert --in-options "-f lavfi" -i "$synthetic" --out-options "-frames:v $frames ${encoder[*]}"
             -o "$work/convert.mp4" --log-level error)

for ((i = 1; i <= runs; i++)); do
  # A fresh output folder for each show, kept until the frame count below is read.
  rm -rf "$work/out" && mkdir -p "$work/out"
  measure "$work/make.log" "${make_run[@]}" "${photos[@]}"
  measure "$work/convert.log" "${convert_run[@]}"
done
made=$(ffprobe -v error -count_packets -select_streams v:0 -show_entries stream=nb_read_packets -of csv=p=0 \
  "$work"/out/*.mp4)

mw=$(cut -d' ' -f1 "$work/make.log" | median)
cw=$(cut -d' ' -f1 "$work/convert.log" | median)
mm=$(cut -d' ' -f2 "$work/make.log" | median)
cm=$(cut -d' ' -f2 "$work/convert.log" | median)

awk -v mw="$mw" -v cw="$cw" -v mm="$mm" -v cm="$cm" -v runs="$runs" -v frames="$frames" -v made="$made" -v hold="$hold" -v transition="$transition" 'BEGIN {
  printf "job: 20 photos of 2400x1800 moving in 1920x1080 at 30:1, delays %d and %d (%d frames, wrote %d), H.264 CRF 20 medium; %d runs, medians\n", hold, transition, frames, made, runs
  printf "wall time:   make --motion random %7.2f s   convert (synthetic) %7.2f s\n", mw, cw
  printf "             make / convert %.3f (goal <= 1.05: %s)\n", mw / cw, mw / cw <= 1.05 ? "met" : "NOT met"
  printf "peak memory: make %7.1f MiB   convert %7.1f MiB\n", mm / 1024, cm / 1024
}'
