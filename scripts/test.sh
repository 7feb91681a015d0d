#!/usr/bin/env bash
# Builds and runs every test suite through ctest. Extra arguments go to ctest,
# for example: scripts/test.sh -L support   or   scripts/test.sh -R Logger
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${BUILD_DIR:-build}
bash scripts/build.sh
export SDL_VIDEODRIVER=${SDL_VIDEODRIVER:-offscreen}
ctest --test-dir "$BUILD_DIR" --output-on-failure -j "${JOBS:-$(nproc)}" --timeout 300 "$@"
