#!/usr/bin/env bash
# The pictures of the guide: runs every example folder of docs/examples and the
# demo headless with the built Tarnwick, as a user would, and writes
# docs/images/<name>.png (800 x 600). Run it after changing an example or
# anything that changes what the examples draw.
#
#   bash scripts/docs-shots.sh            # all examples and the demo
#   bash scripts/docs-shots.sh motion     # only the named ones ("demo" for the demo)
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${BUILD_DIR:-build}
[ -x "$BUILD_DIR/Tarnwick" ] || bash scripts/build.sh
mkdir -p docs/images
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Frames of 20 ms before the picture: long enough for the scene to load and
# for moving things to be somewhere worth showing.
frames_for() {
  case "$1" in
    motion) echo 450 ;;     # 9 s: the square is being cut
    *) echo 150 ;;          # 3 s
  esac
}

shoot() {
  local name=$1 source=$2
  rm -rf "$work/$name" && mkdir -p "$work/$name/program"
  cp -r "$source/." "$work/$name/program/"
  if [ "$name" = demo ] && [ -d "$BUILD_DIR/generated" ]; then
    cp -r "$BUILD_DIR/generated/." "$work/$name/program/"
  fi
  cp "$BUILD_DIR/Tarnwick" "$work/$name/program/"
  (cd "$work/$name/program" && SDL_VIDEODRIVER=offscreen TARNWICK_FRAMES=$(frames_for "$name") \
     TARNWICK_STEP_MS=20 TARNWICK_SCREENSHOT="$work/$name/shot.png" ./Tarnwick > "$work/$name/out.txt" 2>&1)
  cp "$work/$name/shot.png" "docs/images/$name.png"
  echo "docs-shots: docs/images/$name.png"
}

names=("$@")
if [ ${#names[@]} -eq 0 ]; then
  for folder in docs/examples/*/; do names+=("$(basename "$folder")"); done
  names+=(demo)
fi
for name in "${names[@]}"; do
  if [ "$name" = demo ]; then shoot demo demo
  elif [ -f "docs/examples/$name/MainModule.xml" ]; then shoot "$name" "docs/examples/$name"
  else echo "docs-shots: no example folder docs/examples/$name" >&2; exit 1
  fi
done
