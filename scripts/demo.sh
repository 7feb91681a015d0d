#!/usr/bin/env bash
# Builds in Release and runs the demo scene. Without a display it runs headless
# (SDL's offscreen driver) for a fixed number of frames and writes a screenshot.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${BUILD_DIR:-build}
bash scripts/build.sh
if [ -x "$BUILD_DIR/Tarnwick" ]; then
  DEMO_DIR="$BUILD_DIR/demo"
  rm -rf "$DEMO_DIR" && mkdir -p "$DEMO_DIR"
  cp -r demo/. "$DEMO_DIR/"
  # Files the build generates for the demo (the terrain's height map and grass).
  if [ -d "$BUILD_DIR/generated" ]; then cp -r "$BUILD_DIR/generated/." "$DEMO_DIR/"; fi
  cp "$BUILD_DIR/Tarnwick" "$DEMO_DIR/"
  [ -x "$BUILD_DIR/Vexamont" ] && cp "$BUILD_DIR/Vexamont" "$DEMO_DIR/"
  if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    export SDL_VIDEODRIVER=offscreen
    export TARNWICK_FRAMES=${TARNWICK_FRAMES:-300}
    export TARNWICK_SCREENSHOT=${TARNWICK_SCREENSHOT:-$PWD/$DEMO_DIR/screenshot.png}
    echo "demo: no display, running headless for $TARNWICK_FRAMES frames; screenshot: $TARNWICK_SCREENSHOT"
  fi
  (cd "$DEMO_DIR" && ./Tarnwick "$@")
  echo "demo: logs are in $BUILD_DIR/log (the folder beside the program folder)"
else
  echo "demo: $BUILD_DIR/Tarnwick was not built" >&2
  exit 1
fi
