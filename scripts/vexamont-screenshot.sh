#!/usr/bin/env bash
# Draws the settings editor's dialog for the guide (docs/settings.md): the main page after a
# device test and the render-state page, each as the running program shows
# it. Runs on a virtual display (xvfb-run), so no desktop is needed; the
# program works on a copy of the demo folder, which it leaves untouched.
# Writes docs/vexamont.png and docs/vexamont-renderstate.png.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${BUILD_DIR:-build}
bash scripts/build.sh --target Vexamont
mkdir -p docs
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp -r demo "$work/program"
cp "$BUILD_DIR/Vexamont" "$work/program/"

shoot() {   # shoot PAGE RUN_TEST OUTPUT
  (cd "$work/program" && env NO_AT_BRIDGE=1 GSETTINGS_BACKEND=memory SDL_VIDEODRIVER=offscreen \
     TARNWICK_STEP_MS=20 VEXAMONT_PAGE="$1" VEXAMONT_RUN_TEST="$2" VEXAMONT_SCREENSHOT="$3" \
     xvfb-run -a -s "-screen 0 1280x1024x24" ./Vexamont)
}
shoot 0 1 "$PWD/docs/vexamont.png"
shoot 1 0 "$PWD/docs/vexamont-renderstate.png"
echo "vexamont-screenshot: docs/vexamont.png docs/vexamont-renderstate.png"
