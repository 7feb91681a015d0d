#!/usr/bin/env bash
# Configures (once) and builds everything in build/ (Release, tests included).
# BUILD_DIR and BUILD_TYPE override the defaults; extra arguments go to ninja.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${BUILD_DIR:-build}
BUILD_TYPE=${BUILD_TYPE:-Release}
JOBS=${JOBS:-$(nproc)}
if [ ! -f "$BUILD_DIR/build.ninja" ]; then
  cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE="$BUILD_TYPE" >/dev/null
fi
cmake --build "$BUILD_DIR" -j "$JOBS" "$@"
