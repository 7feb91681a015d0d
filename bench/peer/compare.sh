#!/usr/bin/env bash
# Side-by-side frame times of the box scene (N boxes sharing one mesh and one
# material under one directional light, 800 x 600): Tarnwick, whose program
# folder build/bench_boxes writes, against Irrlicht drawing the same scene
# with one scene node per box (irrlicht_boxes.cpp beside this script, built
# here, and only when Irrlicht is installed: apt-get install libirrlicht-dev;
# it is never part of the project's build). Both run on one Xvfb display with
# Mesa's llvmpipe, interleaved round by round; the figures are medians of the
# per-run median frame times, with the machine's load average around them.
# A third column gives the floor: gl_floor.cpp beside this script draws the
# same scene as a bare OpenGL program, the way Tarnwick's device draws it
# (instanced draws, a multisampled framebuffer resolved into the window), so
# the distance between Tarnwick and it is what the engine itself costs.
#
#   bash bench/peer/compare.sh [ROUNDS]        (default 5 rounds)
#   BOXES="1000 10000" SAMPLES="0 4" FRAMES_1K=300 FRAMES_10K=100 ...
set -euo pipefail
cd "$(dirname "$0")/../.."
ROOT=$PWD
BUILD_DIR=${BUILD_DIR:-build}
INSIDE=0
if [ "${1:-}" = "--inside" ]; then INSIDE=1; else ROUNDS=${1:-${ROUNDS:-5}}; fi
BOXES=${BOXES:-"1000 10000"}
SAMPLES=${SAMPLES:-"0 4"}
FRAMES_1K=${FRAMES_1K:-300}
FRAMES_10K=${FRAMES_10K:-100}
WORK=${WORK:-/tmp/tw_peer_compare}

if [ "$INSIDE" = 0 ]; then
  if [ ! -f /usr/include/irrlicht/irrlicht.h ]; then
    echo "Irrlicht is not installed (apt-get install -y libirrlicht-dev); nothing to compare with." >&2
    exit 1
  fi
  for tool in xvfb-run g++; do
    command -v "$tool" > /dev/null || { echo "$tool is missing" >&2; exit 1; }
  done
  [ -x "$BUILD_DIR/bench_boxes" ] && [ -x "$BUILD_DIR/Tarnwick" ] ||
    { echo "build Tarnwick and bench_boxes first: cmake --build $BUILD_DIR --target Tarnwick bench_boxes" >&2; exit 1; }
  mkdir -p "$WORK"
  g++ -O2 -o "$WORK/irrlicht_boxes" bench/peer/irrlicht_boxes.cpp -lIrrlicht -lGL
  g++ -O2 -o "$WORK/gl_floor" bench/peer/gl_floor.cpp -lSDL2 -lGL
  exec xvfb-run -a -s "-screen 0 1024x768x24" env ROUNDS="$ROUNDS" BOXES="$BOXES" SAMPLES="$SAMPLES" \
    FRAMES_1K="$FRAMES_1K" FRAMES_10K="$FRAMES_10K" WORK="$WORK" BUILD_DIR="$BUILD_DIR" bash "$0" --inside
fi

# Inside the X server from here on.
unset SDL_VIDEODRIVER
load() { cut -d' ' -f1 /proc/loadavg; }
median() { sort -g | awk '{ v[NR] = $1 } END { if (NR == 0) print "nan"; else if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

results="$WORK/results.txt"
: > "$results"
for boxes in $BOXES; do
  for samples in $SAMPLES; do
    "$ROOT/$BUILD_DIR/bench_boxes" --write "$WORK/tw_${boxes}_${samples}" "$boxes" "$samples"
  done
done

echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
for round in $(seq 1 "$ROUNDS"); do
  for boxes in $BOXES; do
    frames=$FRAMES_1K
    [ "$boxes" -ge 10000 ] && frames=$FRAMES_10K
    for samples in $SAMPLES; do
      folder="$WORK/tw_${boxes}_${samples}"
      before=$(load)
      (cd "$folder" && TARNWICK_FRAMES=$frames TARNWICK_STATS="$folder/stats.json" ./Tarnwick > out.txt 2>&1)
      # The scene's own frames: the peer's first frames are left out too.
      tw=$(grep -o '"scene_frame_time_ms": {"mean": [0-9.]*, "median": [0-9.]*' "$folder/stats.json" | grep -o '[0-9.]*$')
      asked=$(grep -o '"draw_calls": [0-9]*' "$folder/stats.json" | cut -d' ' -f2)
      gl=$(grep -o '"gl_draw_calls": [0-9]*' "$folder/stats.json" | cut -d' ' -f2 || true)
      peer=$("$WORK/irrlicht_boxes" "$boxes" "$frames" "$samples" 2> /dev/null | grep -o 'median_ms [0-9.]*' | cut -d' ' -f2)
      floor=$("$WORK/gl_floor" "$boxes" "$frames" "$samples" 2> /dev/null | grep -o 'median_ms [0-9.]*' | cut -d' ' -f2)
      after=$(load)
      echo "$boxes $samples $tw $peer $before $after ${asked:-?} ${gl:-?} ${floor:-nan}" >> "$results"
      echo "round $round: $boxes boxes, ${samples}x: Tarnwick ${tw} ms (draws asked ${asked:-?}, GL ${gl:-?}), Irrlicht ${peer} ms, GL floor ${floor} ms, load $before -> $after"
    done
  done
done
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"

echo
# ratio: of the two medians; paired: the median of each round's ratio (the
# two runs of a round are back to back, under nearly the same load).
printf '%-7s %-8s %-14s %-14s %-7s %-7s %-14s %s\n' boxes samples "Tarnwick ms" "Irrlicht ms" ratio paired "GL floor ms" "load (runs)"
for boxes in $BOXES; do
  for samples in $SAMPLES; do
    tw=$(awk -v b="$boxes" -v s="$samples" '$1 == b && $2 == s { print $3 }' "$results" | median)
    peer=$(awk -v b="$boxes" -v s="$samples" '$1 == b && $2 == s { print $4 }' "$results" | median)
    floor=$(awk -v b="$boxes" -v s="$samples" '$1 == b && $2 == s && $9 != "nan" { print $9 }' "$results" | median)
    loads=$(awk -v b="$boxes" -v s="$samples" '$1 == b && $2 == s { printf "%s%s", sep, $5; sep = " " }' "$results")
    ratio=$(awk -v t="$tw" -v p="$peer" 'BEGIN { if (p > 0) printf "%.2f", t / p; else print "nan" }')
    paired=$(awk -v b="$boxes" -v s="$samples" '$1 == b && $2 == s && $4 > 0 { print $3 / $4 }' "$results" | median)
    paired=$(awk -v r="$paired" 'BEGIN { if (r == "nan") print r; else printf "%.2f", r }')
    printf '%-7s %-8s %-14s %-14s %-7s %-7s %-14s %s\n' "$boxes" "${samples}x" "$tw" "$peer" "$ratio" "$paired" "$floor" "$loads"
  done
done
