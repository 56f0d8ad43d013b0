#!/usr/bin/env bash
# Builds the lumivor program and renders a demo slideshow: four photos of different shapes (one
# of them a BMP) and a tune longer than the show, all made by the program itself, then prints the
# video's path.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${LUMIVOR_DEMO_BUILD_DIR:-$root/build-demo}"
out="${LUMIVOR_DEMO_OUT:-$root/out}"

bash "$root/tools/install_deps.sh"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DLUMIVOR_BUILD_TESTS=OFF
cmake --build "$build" -j2 --target lumivor
lumivor="$build/bin/lumivor"

media="$out/demo-media"
mkdir -p "$media"
# Four photos held 4 s with 2 s transitions: the show lasts 22 s by its delays and the video about
# 27 s; the 40-second tune outlasts both, so it is joined and laid under the whole video.
mapfile -t samples < <("$lumivor" samples "$media" --seconds 40)
track="${samples[-1]}"
photos=("${samples[@]:0:${#samples[@]}-1}")

# H.264 with AAC sound in an MP4 whose index comes first: the file plays in any browser or phone.
video="$("$lumivor" make --format h264 --size 1280x720 --rate 30:1 --hold 4 --transition 2 --seed 2024 \
  --audio "$track" -o "$out/demo-slideshow.mp4" "${photos[@]}")"
echo
echo "Demo slideshow (1280x720, 30 fps, H.264 with AAC sound):"
echo "  $video"
echo "Made from:   ${photos[*]}"
echo "             $track"
echo "Your own:    $lumivor make --audio SONG.mp3 -o OUT_FOLDER PHOTO.jpg PHOTO.bmp ..."
echo "All options: $lumivor make --help"
