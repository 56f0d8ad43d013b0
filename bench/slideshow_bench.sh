#!/usr/bin/env bash
# Times `lumivor make` on 20 photos of 1280x960 at 30 fps with delays 5 and 2 (mpeg4, quality
# scale 6, frames as fast as the machine allows) against encoding the same number of 1280x960
# frames from a synthetic source with the same encoder settings, in the same run: `lumivor convert`
# of a lavfi test pattern turned into bgr24 (the pixel format the slideshow hands the engine), and
# Debian's ffmpeg on the same source as a yardstick. Goals: the slideshow within 1.10x the wall
# time of the synthetic encoding through lumivor and within 1.3x its peak memory, and the same
# peak for 20 and 100 photos.
#
# Environment: RUNS (default 3), LUMIVOR_BENCH_BUILD_DIR (default build-bench), PHOTOS_LARGE (100).
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/bench_common.sh"
runs="${RUNS:-3}"
large="${PHOTOS_LARGE:-100}"
build_lumivor

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# Twenty different 1280x960 photos (the test pattern at twenty moments), used over again for the
# large run: each photo of the list is decoded when it comes, whether or not it came before.
ffmpeg -hide_banner -loglevel error -f lavfi -i "testsrc2=size=1280x960:rate=1" -frames:v 20 -q:v 3 \
  "$work/photo%02d.jpg"
photos20=("$work"/photo*.jpg)
photosLarge=()
for ((i = 0; i < large; i++)); do photosLarge+=("${photos20[i % 20]}"); done

frames_for() { echo $((($1 + 1) * 60 + $1 * 150 + 2)); }  # (N + 1) x 60 + N x 150 + 2 at 30:1
frames=$(frames_for 20)
encoder=(-c:v mpeg4 -b:v 1200k -qscale 6 -r 30/1 -s 1280x960)
make_run=("$lumivor" make --format mp4 --size 1280x960 --rate 30:1 --hold 5 --transition 2 --seed 1 -o "$work/out")
synthetic="testsrc2=size=1280x960:rate=30,format=bgr24"
convert_run=("$lumivor" convert --in-options "-f lavfi" -i "$synthetic" --out-options "-frames:v $frames ${encoder[*]}"
             -o "$work/convert.mp4" --log-level error)
ffmpeg_run=(ffmpeg -hide_banner -nostdin -loglevel error -y -f lavfi -i "$synthetic" -frames:v "$frames"
            "${encoder[@]}" "$work/ffmpeg.mp4")

# Each run names its video afresh in an empty folder.
before_run() { rm -rf "$work/out" && mkdir -p "$work/out"; }

for ((i = 1; i <= runs; i++)); do
  measure "$work/make.log" "${make_run[@]}" "${photos20[@]}"
  measure "$work/convert.log" "${convert_run[@]}"
  measure "$work/ffmpeg.log" "${ffmpeg_run[@]}"
done
measure "$work/large.log" "${make_run[@]}" "${photosLarge[@]}"

made=$(ffprobe -v error -count_packets -select_streams v:0 -show_entries stream=nb_read_packets -of csv=p=0 \
  "$work"/out/*.mp4)

mw=$(cut -d' ' -f1 "$work/make.log" | median)
cw=$(cut -d' ' -f1 "$work/convert.log" | median)
fw=$(cut -d' ' -f1 "$work/ffmpeg.log" | median)
mm=$(cut -d' ' -f2 "$work/make.log" | median)
cm=$(cut -d' ' -f2 "$work/convert.log" | median)
fm=$(cut -d' ' -f2 "$work/ffmpeg.log" | median)
lw=$(cut -d' ' -f1 "$work/large.log")
lm=$(cut -d' ' -f2 "$work/large.log")

awk -v mw="$mw" -v cw="$cw" -v fw="$fw" -v mm="$mm" -v cm="$cm" -v fm="$fm" -v lw="$lw" -v lm="$lm" \
  -v runs="$runs" -v frames="$frames" -v large="$large" -v lframes="$(frames_for "$large")" -v made="$made" 'BEGIN {
  printf "job: 20 photos of 1280x960 at 30:1, delays 5 and 2 (%d frames) to mp4, mpeg4 -qscale 6; %d runs, medians\n", frames, runs
  printf "wall time:   make %7.2f s   convert (synthetic) %7.2f s   ffmpeg (synthetic) %7.2f s\n", mw, cw, fw
  printf "             make / convert %.3f (goal <= 1.10: %s)   make / ffmpeg %.3f\n", mw / cw, mw / cw <= 1.1 ? "met" : "NOT met", mw / fw
  printf "peak memory: make %7.1f MiB   convert %7.1f MiB   ffmpeg %7.1f MiB\n", mm / 1024, cm / 1024, fm / 1024
  printf "             make / convert %.3f (goal <= 1.30: %s)\n", mm / cm, mm / cm <= 1.3 ? "met" : "NOT met"
  printf "%d photos (%d frames, last run wrote %d): %.2f s, peak %.1f MiB, %.2fx the 20-photo peak (goal: flat, within 1.3x the convert peak: %s)\n", large, lframes, made, lw, lm / 1024, lm / mm, (lm / cm <= 1.3 && lm / mm < 1.1) ? "met" : "NOT met"
}'
