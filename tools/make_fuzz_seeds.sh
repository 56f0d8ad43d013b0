#!/usr/bin/env bash
# Writes the fuzz targets' starting corpora under tests/fuzz/seeds/<target>/. The files are
# committed, so a fuzz run needs nothing but the repository; run this again only to change them.
# Every media seed is a few KB at most: a fuzzer mutates small inputs far faster, and each one only
# has to lead it into a different container or codec parser.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
seeds="$root/tests/fuzz/seeds"

# --- option_text_fuzz: the first byte's low bit picks strict (1) or lenient (0) parsing; the rest
# is the option text. The texts cover each kind of row of the target's table, quoting, per-stream
# specifiers and words only the libraries' option classes know.
options="$seeds/option_text_fuzz"
rm -rf "$options"
mkdir -p "$options"
n=0
write_option() {  # strict-byte text
  n=$((n + 1))
  printf '%s%s' "$1" "$2" >"$options/$(printf '%02d' "$n").txt"
}
write_option 1 '-f mp4 -c:v libx264 -t 5 -y'
write_option 0 '-f mp4 -c:v libx264 -t 5 -y'
write_option 1 '-vcodec mpeg4 -q:v 3 -an -ar:a:0 44100'
write_option 1 '-fs 10M -muxdelay 0.7 -t 00:01:02.5'
write_option 0 '-loglevel quiet -map 0:v -map 1:a -codec:a aac'
write_option 1 '-preset veryfast -crf 23 -b:v 2M -g 50'
write_option 0 '-movflags +faststart -metadata title="a b" -pix_fmt yuv420p'
write_option 1 "-f 'matroska' -c \"copy\" -ar 48k"
write_option 0 '-q:v:1 2.5 -q 4 -an -an -y -v 8'
write_option 1 '-unknown 1 -- -t'

# --- decoder_load_fuzz: tiny media files in the containers and codecs the program opens.
media="$seeds/decoder_load_fuzz"
rm -rf "$media"
mkdir -p "$media"
ff() { ffmpeg -hide_banner -loglevel error -nostdin -y "$@"; }
video=(-f lavfi -i 'testsrc=size=16x16:rate=5:duration=0.4')
tone=(-f lavfi -i 'sine=frequency=440:sample_rate=8000:duration=0.1')
# Bit-exact output, so that running this again only changes what was meant to change.
exact=(-fflags +bitexact -flags:v +bitexact -flags:a +bitexact -map_metadata -1)
ff "${video[@]}" "${tone[@]}" "${exact[@]}" -c:v libx264 -preset ultrafast -c:a aac -b:a 16k \
  -shortest "$media/h264_aac.mp4"
ff "${video[@]}" "${tone[@]}" "${exact[@]}" -c:v mpeg4 -c:a mp2 -b:a 32k -shortest "$media/mpeg4_mp2.ts"
ff "${video[@]}" "${exact[@]}" -c:v libvpx -b:v 20k "$media/vp8.webm"
ff "${video[@]}" "${exact[@]}" -c:v mjpeg "$media/mjpeg.mkv"
ff "${video[@]}" "${exact[@]}" -frames:v 1 "$media/still.png"
ff "${video[@]}" "${exact[@]}" -frames:v 1 "$media/still.jpg"
ff "${video[@]}" "${exact[@]}" -frames:v 2 "$media/two_frames.gif"
ff "${tone[@]}" "${exact[@]}" -c:a pcm_s16le "$media/tone.wav"
ff "${tone[@]}" "${exact[@]}" -c:a libmp3lame -b:a 8k "$media/tone.mp3"
ff "${tone[@]}" "${exact[@]}" -c:a flac "$media/tone.flac"
ff "${tone[@]}" "${exact[@]}" -c:a libvorbis "$media/tone.ogg"
ls -l "$options" "$media"
