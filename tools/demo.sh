#!/usr/bin/env bash
# Builds the lumivor program and renders a contact sheet of all 176 transitions between two
# pictures it draws itself.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${LUMIVOR_DEMO_BUILD_DIR:-$root/build-demo}"
out="${LUMIVOR_DEMO_OUT:-$root/out}"

bash "$root/tools/install_deps.sh"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DLUMIVOR_BUILD_TESTS=OFF
cmake --build "$build" -j2 --target lumivor
mkdir -p "$out"
"$build/bin/lumivor" effect --sheet "$out/contact-sheet.png"
echo
echo "Contact sheet of all 176 transitions (rows: effect number; columns: progress 10, 25, 50, 75, 90):"
echo "  $out/contact-sheet.png"
echo "One frame:   $build/bin/lumivor effect 169 --progress 50 --from OLD.jpg --to NEW.jpg --out frame.png"
echo "All names:   $build/bin/lumivor effect --list"
