#!/usr/bin/env bash
# Times a slideshow run from the main window (driven headless by bench/window_bench on Qt's
# offscreen platform, frames as fast as the machine allows, the window's preview on) against
# `lumivor make` of the same show, and how long the window's event loop was kept from turning: a
# 10 ms timer ticks through the run and its longest gap is reported, the click on Start included.
# Goals: the window's run within 1.15x of make's; the longest gap under 100 ms. Both videos must
# hold the same frames (their video packets are compared), or the figures compare different work.
#
# Environment: RUNS (default 3), PHOTOS (default 12), LUMIVOR_BENCH_BUILD_DIR (default build-bench).
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/bench_common.sh"
runs="${RUNS:-3}"
count="${PHOTOS:-12}"
build_lumivor
cmake --build "$build" -j2 --target window_bench
window_bench="$build/bench/window_bench"

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
# The window starts from a settings file of its own, as on a first run, and leaves the user's alone.
export HOME="$work/home" XDG_CONFIG_HOME="$work/config"
mkdir -p "$HOME" "$XDG_CONFIG_HOME"
export QT_QPA_PLATFORM=offscreen SDL_AUDIODRIVER=dummy

ffmpeg -hide_banner -loglevel error -f lavfi -i "testsrc2=size=1280x960:rate=1" -frames:v "$count" -q:v 3 \
  "$work/photo%02d.jpg"
photos=("$work"/photo*.jpg)
hold=3
transition=1
frames=$(((count + 1) * 30 * transition + count * 30 * hold + 2))
show=(--size 1280x960 --rate 30:1 --hold "$hold" --transition "$transition" --seed 1)

# Each run writes its video afresh; the last of each is kept for the comparison. window_bench
# prints its own figures (run time, click, longest gap) beside the process's wall time.
for ((i = 1; i <= runs; i++)); do
  rm -f "$work/make.mp4" "$work/window.mp4"
  measure "$work/make.log" "$lumivor" make --format mp4 "${show[@]}" -o "$work/make.mp4" "${photos[@]}"
  measure "$work/window.log" sh -c '"$@" >>"$0"' "$work/window.out" \
    "$window_bench" "${show[@]}" -o "$work/window.mp4" "${photos[@]}"
done

packets() { ffmpeg -hide_banner -loglevel error -i "$1" -map 0:v -c copy -f framemd5 - | grep -v '^#'; }
if cmp -s <(packets "$work/make.mp4") <(packets "$work/window.mp4"); then same=yes; else same=NO; fi
made=$(ffprobe -v error -count_packets -select_streams v:0 -show_entries stream=nb_read_packets -of csv=p=0 \
  "$work/window.mp4")

mw=$(cut -d' ' -f1 "$work/make.log" | median)
ww=$(cut -d' ' -f1 "$work/window.log" | median)
wr=$(awk '{ print $2 }' "$work/window.out" | median)
click=$(awk '{ print $4 }' "$work/window.out" | sort -n | tail -1)
gap=$(awk '{ print $6 }' "$work/window.out" | sort -n | tail -1)
gapMedian=$(awk '{ print $6 }' "$work/window.out" | median)

awk -v mw="$mw" -v ww="$ww" -v wr="$wr" -v click="$click" -v gap="$gap" -v gm="$gapMedian" -v runs="$runs" \
  -v count="$count" -v frames="$frames" -v made="$made" -v same="$same" 'BEGIN {
  printf "show: %d photos of 1280x960 at 30:1, delays 3 and 1 (%d frames, the window wrote %d) to mp4; %d runs, medians\n", count, frames, made, runs
  printf "make:   %7.2f s wall\n", mw
  printf "window: %7.2f s from the click to the end (%7.2f s wall with Qt and the window starting)\n", wr, ww
  printf "        window run / make %.3f (goal <= 1.15: %s); window wall / make %.3f\n", wr / mw, wr / mw <= 1.15 ? "met" : "NOT met", ww / mw
  printf "event loop: longest gap of a 10 ms timer %.1f ms (median run %.1f ms; goal < 100: %s); Start answered in %.1f ms at most\n", gap, gm, gap < 100 ? "met" : "NOT met", click
  printf "same video frames from the window and make: %s\n", same
}'
