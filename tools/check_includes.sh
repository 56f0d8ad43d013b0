#!/usr/bin/env bash
# Keeps the layers of the source tree pointing one way: a room may include its own headers and
# those of the rooms below it, never one above or beside it. Lists each offending line as
# file:line and exits non-zero when there is any.
#   tools/check_includes.sh              checks src/ of this tree
#   tools/check_includes.sh FOLDER       checks FOLDER laid out like src/
#   tools/check_includes.sh --self-test  shows that planted upward includes are caught
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

# Each room and the rooms it may include besides itself, as the build links them (a wrong include
# fails to build as well; this names every one at once, before a build). raster is the ground floor
# under effects and the media rooms; app's sub-rooms stand in one order (files, common, photos,
# samples, show, settings, run, window), each over all before it; studio, when it exists, sits
# with app's models beneath the faces; cli and gui are two faces on top that never lean on each
# other.
app_rooms=(app/files app/common app/photos app/samples app/show app/settings app/run app/window)
media_rooms="media/runtime media/engine media/components"
declare -A allowed=(
  [raster]=""
  [effects]="raster"
  [media/runtime]=""
  [media/engine]="raster media/runtime"
  [media/components]="raster media/runtime media/engine"
  [app/files]=""
  [app/common]="app/files"
  [app/photos]="raster app/files app/common"
  [app/samples]="raster app/files app/common app/photos"
  [app/show]="raster effects app/files app/common app/photos app/samples"
  [app/settings]="raster effects app/files app/common app/photos app/samples app/show"
  [app/run]="raster effects $media_rooms ${app_rooms[*]:0:6}"
  [app/window]="raster effects $media_rooms ${app_rooms[*]:0:7}"
  [studio]="raster effects $media_rooms ${app_rooms[*]}"
  [cli]="raster effects $media_rooms ${app_rooms[*]} studio"
  [gui]="raster effects $media_rooms ${app_rooms[*]} studio"
)
# An include belongs to the room its path starts with; a quoted include outside every room is
# reported too, since project headers are always included by their path under src/ (an app header
# left at app/ itself belongs to no sub-room and is reported).
rooms=(raster effects media/components media/runtime media/engine "${app_rooms[@]}" studio cli gui)

# Upward includes tolerated for now, as "file under src:included path", each with a comment
# giving its reason. None is needed today.
known_exceptions=(
)

room_of() {
  local path="$1" room
  for room in "${rooms[@]}"; do
    if [[ "$path" == "$room/"* ]]; then
      echo "$room"
      return
    fi
  done
}

is_known_exception() {
  local entry="$1" known
  for known in "${known_exceptions[@]}"; do
    [ "$known" = "$entry" ] && return 0
  done
  return 1
}

check_tree() {
  local src="$1" failures=0 room folder hit file line_number text included target relative
  for room in "${rooms[@]}"; do
    folder="$src/$room"
    [ -d "$folder" ] || continue
    while IFS= read -r hit; do
      file="${hit%%:*}"
      hit="${hit#*:}"
      line_number="${hit%%:*}"
      text="${hit#*:}"
      [[ "$text" =~ ^[[:space:]]*#[[:space:]]*include[[:space:]]*\"([^\"]+)\" ]] || continue
      included="${BASH_REMATCH[1]}"
      target="$(room_of "$included")"
      if [ "$target" = "$room" ] || [[ -n "$target" && " ${allowed[$room]} " == *" $target "* ]]; then
        continue
      fi
      relative="${file#"$src"/}"
      is_known_exception "$relative:$included" && continue
      if [ -z "$target" ]; then
        echo "src/$relative:$line_number: includes \"$included\", which is in no known room"
      else
        echo "src/$relative:$line_number: includes \"$included\": $room may not include $target"
      fi
      failures=$((failures + 1))
    done < <(grep -rnE --include='*.h' --include='*.hpp' --include='*.c' --include='*.cc' --include='*.cpp' \
      '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' "$folder" | sort -t: -k1,1 -k2,2n || true)
  done
  if [ "$failures" -ne 0 ]; then
    echo "check_includes: $failures include(s) point up or sideways" >&2
    return 1
  fi
  echo "check_includes: every include points down"
}

# Plants one forbidden include at a time into a copy of the tree and expects it to be named.
self_test() {
  local scratch status=0 output
  scratch="$(mktemp -d)"
  trap 'rm -rf "$scratch"' RETURN
  cp -r "$root/src" "$scratch/src"
  if ! check_tree "$scratch/src" >/dev/null 2>&1; then
    echo "check_includes self-test: the unchanged tree already fails" >&2
    return 1
  fi
  # room of the planted file, and the include planted into it
  local cases=(
    "raster:effects/effect.h"
    "effects:app/settings/settings_store.h"
    "effects:media/runtime/ff_log.h"
    "media/runtime:media/engine/ffmpeg.h"
    "media/engine:media/components/ff_encoder.h"
    "media/engine:effects/effect.h"
    "media/components:app/settings/settings_store.h"
    "app/files:app/common/global_object.h"
    "app/photos:app/show/frame_sequencer.h"
    "app/photos:media/runtime/ff_log.h"
    "app/show:app/settings/settings_store.h"
    "app/settings:app/run/run_request.h"
    "app/run:app/window/main_window.h"
    "app/run:app/conversion_job.h"
    "app/window:gui/main_form.h"
    "cli:gui/main_form.h"
    "gui:cli/main.h"
  )
  local entry room included planted
  for entry in "${cases[@]}"; do
    room="${entry%%:*}"
    included="${entry#*:}"
    [ -d "$scratch/src/$room" ] || continue
    planted="$scratch/src/$room/planted_upward.cpp"
    printf '// planted\n#include "%s"\n' "$included" >"$planted"
    if output="$(check_tree "$scratch/src" 2>&1)"; then
      echo "check_includes self-test: \"$included\" in $room was not caught" >&2
      status=1
    elif [[ "$output" != *"src/$room/planted_upward.cpp:2: includes \"$included\""* ]]; then
      echo "check_includes self-test: \"$included\" in $room was not named by file and line:" >&2
      echo "$output" >&2
      status=1
    fi
    rm -f "$planted"
  done
  # Downward includes planted the same way stay accepted.
  printf '#include "media/engine/ffmpeg.h"\n#include "raster/raster.h"\n' \
    >"$scratch/src/media/components/planted_downward.cpp"
  printf '#include "app/show/frame_sequencer.h"\n#include "app/files/input_file.h"\n' \
    >"$scratch/src/app/run/planted_downward.cpp"
  if ! output="$(check_tree "$scratch/src" 2>&1)"; then
    echo "check_includes self-test: a downward include was refused:" >&2
    echo "$output" >&2
    status=1
  fi
  [ "$status" -eq 0 ] && echo "check_includes self-test: every planted include was caught"
  return "$status"
}

case "${1:-}" in
  --self-test) self_test ;;
  "") check_tree "$root/src" ;;
  *) check_tree "$1" ;;
esac
