#!/usr/bin/env bash
# What words on the pictures cost `lumivor make`: the slideshow benchmark's job (20 photos of
# 1280x960 at 30 fps, delays 5 and 2, mpeg4 quality scale 6) made from a project file three ways,
# in turn within each round so that a drift of the machine falls on all three alike:
#   plain     no words;
#   captions  a caption on every photo (each rendered once, blended into every frame of its photo);
#   titled    the same captions behind a title card with a subtitle.
# The goal is on the captions: under 5 % more wall time than plain. The title card adds a photo's
# hold and a transition of frames, so its cost is given per frame made.
#
# Environment: RUNS (default 5), LUMIVOR_BENCH_BUILD_DIR (default build-bench).
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/bench_common.sh"
runs="${RUNS:-5}"
build_lumivor

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

ffmpeg -hide_banner -loglevel error -f lavfi -i "testsrc2=size=1280x960:rate=1" -frames:v 20 -q:v 3 \
  "$work/photo%02d.jpg"

# project NAME CAPTIONS TITLE: a project file of the twenty photos, with a caption on each when
# CAPTIONS is 1 and a title card when TITLE is 1.
project() {
  local name="$1" captions="$2" title="$3" photos="" i=0 photo
  for photo in "$work"/photo*.jpg; do
    i=$((i + 1))
    [[ -n "$photos" ]] && photos+=","
    if [[ "$captions" == 1 ]]; then
      photos+="{\"file\": \"$photo\", \"caption\": \"Photo $i of the summer, by the lake\"}"
    else
      photos+="{\"file\": \"$photo\"}"
    fi
  done
  local words=""
  [[ "$title" == 1 ]] && words=', "title": "Summer by the Lake", "subtitle": "June 2024"'
  cat >"$work/$name.lumivor" <<EOF
{"lumivorProject": 1, "photos": [$photos], "tracks": [],
 "show": {"hold": 5, "transition": 2, "screen": "fit", "motion": "none", "effects": "sequential",
          "seed": 1$words},
 "output": {"format": 0, "width": 1280, "height": 960, "rate": {"numerator": 30, "denominator": 1}}}
EOF
}
project plain 0 0
project captions 1 0
project titled 1 1

before_run() { rm -rf "$work/out" && mkdir -p "$work/out"; }
make_run() { measure "$work/$1.log" "$lumivor" make "$work/$1.lumivor" --format mp4 -o "$work/out/$1.mp4"; }
frames_of() {
  ffprobe -v error -count_packets -select_streams v:0 -show_entries stream=nb_read_packets -of csv=p=0 "$1"
}

for ((i = 1; i <= runs; i++)); do
  make_run plain
  plainFrames=$(frames_of "$work/out/plain.mp4")
  make_run captions
  captionFrames=$(frames_of "$work/out/captions.mp4")
  make_run titled
  titledFrames=$(frames_of "$work/out/titled.mp4")
done

pw=$(cut -d' ' -f1 "$work/plain.log" | median)
cw=$(cut -d' ' -f1 "$work/captions.log" | median)
tw=$(cut -d' ' -f1 "$work/titled.log" | median)
awk -v pw="$pw" -v cw="$cw" -v tw="$tw" -v pf="$plainFrames" -v cf="$captionFrames" -v tf="$titledFrames" \
  -v runs="$runs" 'BEGIN {
  printf "job: 20 photos of 1280x960 at 30:1, delays 5 and 2, to mp4 (mpeg4); %d rounds, medians\n", runs
  printf "plain     %7.2f s  %5d frames\n", pw, pf
  printf "captions  %7.2f s  %5d frames  %+.1f %% wall time (goal under +5 %%: %s)\n", cw, cf, (cw / pw - 1) * 100, (cw / pw < 1.05 && cf == pf) ? "met" : "NOT met"
  printf "titled    %7.2f s  %5d frames  %+.1f %% wall time per frame against plain\n", tw, tf, ((tw / tf) / (pw / pf) - 1) * 100
}'
