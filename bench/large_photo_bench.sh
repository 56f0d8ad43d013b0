#!/usr/bin/env bash
# Peak memory and time of `lumivor make --size 1280x720` on one photo far larger than the frame:
# a 16384x16384 PNG (under a megabyte, as a flat picture compresses), an 8192x6144 JPEG, and the
# same JPEG with the fill screen mode. Photos are decoded no larger than the layout draws them, so
# the peak should follow the frame size: goal under 200 MB for each, where a full-size decode of
# the PNG alone takes 1 GiB.
#
# Environment: RUNS (default 3), LUMIVOR_BENCH_BUILD_DIR (default build-bench).
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/bench_common.sh"
runs="${RUNS:-3}"
build_lumivor

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# The PNG is written a row at a time: no tool here holds a 16384x16384 picture in memory to make
# it, and ffmpeg's filters refuse a frame that large. Four flat quarters of colour.
python3 - "$work/huge.png" <<'EOF'
import struct, sys, zlib
def chunk(kind, data):
    return struct.pack('>I', len(data)) + kind + data + struct.pack('>I', zlib.crc32(kind + data) & 0xFFFFFFFF)
side = 16384
half = side // 2
top = b'\0' + bytes([220, 20, 20]) * half + bytes([20, 200, 20]) * half
bottom = b'\0' + bytes([20, 20, 220]) * half + bytes([240, 240, 240]) * half
packer = zlib.compressobj(9)
data = bytearray()
for y in range(side):
    data += packer.compress(top if y < half else bottom)
data += packer.flush()
with open(sys.argv[1], 'wb') as out:
    out.write(b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', side, side, 8, 2, 0, 0, 0)))
    for at in range(0, len(data), 1 << 20):
        out.write(chunk(b'IDAT', bytes(data[at:at + (1 << 20)])))
    out.write(chunk(b'IEND', b''))
EOF
ffmpeg -hide_banner -loglevel error -f lavfi -i "testsrc2=size=8192x6144" -frames:v 1 -q:v 3 -pix_fmt yuvj420p \
  "$work/big.jpg"

before_run() { rm -rf "$work/out" && mkdir -p "$work/out"; }
make_run=("$lumivor" make --size 1280x720 --hold 1 --transition 1 --seed 1)

for ((i = 1; i <= runs; i++)); do
  measure "$work/png.log" "${make_run[@]}" -o "$work/out/show.mkv" "$work/huge.png"
  measure "$work/jpeg.log" "${make_run[@]}" -o "$work/out/show.mkv" "$work/big.jpg"
  measure "$work/fill.log" "${make_run[@]}" --fit fill -o "$work/out/show.mkv" "$work/big.jpg"
done

report() {
  printf '%-32s %8.2f s %8.0f MB\n' "$1" "$(cut -d' ' -f1 "$2" | median)" "$(cut -d' ' -f2 "$2" | median | awk '{ print $1 / 1024 }')"
}
echo "median of $runs runs, wall time and peak resident memory:"
report "16384x16384 PNG, fit" "$work/png.log"
report "8192x6144 JPEG, fit" "$work/jpeg.log"
report "8192x6144 JPEG, fill" "$work/fill.log"
