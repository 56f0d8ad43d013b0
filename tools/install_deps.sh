#!/usr/bin/env bash
# Installs the Debian packages that building and testing Lumivor need. apt is asked only when a
# package is missing, so a machine that has them all is not touched. Extra package names given as
# arguments are checked and installed the same way.
set -euo pipefail

packages=(
  build-essential cmake pkg-config
  libgtest-dev libbenchmark-dev
  libjpeg62-turbo-dev libpng-dev
  libwebp-dev
  libheif-dev
  libpango1.0-dev libcairo2-dev  # captions and title cards: text laid out by Pango, drawn by Cairo
  fonts-dejavu-core  # a font with Latin, Greek, Cyrillic, Arabic and Hebrew for the captions and their tests
  fonts-wqy-microhei  # a small font with Chinese and Japanese characters for the captions and their tests
  fonts-noto-color-emoji  # colour emoji for the captions and their tests
  libavcodec-dev libavformat-dev libavutil-dev libavfilter-dev libavdevice-dev libswscale-dev libswresample-dev
  libsdl2-dev
  qt6-base-dev
  nlohmann-json3-dev  # show projects are JSON files
  libebur128-dev  # the music's loudness, measured before the tracks are joined
  libaubio-dev  # the music's beats, for cuts on the beat
  ffmpeg  # the tests' outside reader of the videos they write (ffprobe, ffmpeg)
  clang libclang-rt-14-dev  # the fuzz targets: clang's libFuzzer and its sanitizer runtimes
  "$@"
)

missing=()
for package in "${packages[@]}"; do
  # A package removed with its configuration left behind is still known to dpkg -s; only
  # "install ok installed" means it is there.
  if ! dpkg -s "$package" 2>/dev/null | grep -q '^Status: install ok installed'; then
    missing+=("$package")
  fi
done
[ "${#missing[@]}" -eq 0 ] && exit 0

as_root=()
if [ "$(id -u)" -ne 0 ]; then
  if ! command -v sudo >/dev/null; then
    echo "install_deps: missing packages (${missing[*]}) and not running as root" >&2
    exit 1
  fi
  as_root=(sudo)
fi
echo "install_deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
"${as_root[@]}" apt-get update
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}"
