#!/usr/bin/env bash
# Builds everything with AddressSanitizer and UndefinedBehaviorSanitizer
# (RelWithDebInfo, in build-asan/) and runs the whole test suite on it; the
# programs that tests start (Tarnwick, vfspack) are the sanitized ones.
# Extra arguments go to ctest, e.g. scripts/test-sanitizers.sh -R Fuzz
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${BUILD_DIR:-build-asan}
JOBS=${JOBS:-$(nproc)}
if [ ! -f "$BUILD_DIR/build.ninja" ]; then
  # Line tables are all a sanitizer report needs; full debug information
  # would double the build time on a small machine.
  cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTW_SANITIZE=ON \
        -DTW_BUILD_BENCH=OFF "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O2 -g1 -DNDEBUG" \
        "-DCMAKE_C_FLAGS_RELWITHDEBINFO=-O2 -g1 -DNDEBUG" >/dev/null
fi
cmake --build "$BUILD_DIR" -j "$JOBS"

supp="$PWD/scripts/sanitizers"
# Libraries stay loaded until the leak check at exit (see keep_libraries.c);
# the preloaded helper need not come after the sanitizer runtime.
cc -shared -fPIC -O2 -o "$BUILD_DIR/keep_libraries.so" "$supp/keep_libraries.c"
export LD_PRELOAD="$PWD/$BUILD_DIR/keep_libraries.so${LD_PRELOAD:+:$LD_PRELOAD}"
export SDL_VIDEODRIVER=${SDL_VIDEODRIVER:-offscreen}
# intercept_tls_get_addr=0: this compiler's sanitizer runtime misreads the
# dynamic thread-local blocks that glibc 2.36 hands out to libraries loaded
# later (the Mesa driver), and the leak checker's tracer then dies at exit
# ("Tracer caught signal 11", "DTLS 16 at 0x...1552-..."); without that
# bookkeeping those blocks are not searched for pointers, which none of our
# allocations depends on.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:verify_asan_link_order=0:strict_string_checks=1:check_initialization_order=1:intercept_tls_get_addr=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1:suppressions=$supp/ubsan.supp}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$supp/lsan.supp:print_suppressions=0}
ctest --test-dir "$BUILD_DIR" --output-on-failure -j "$JOBS" --timeout 900 "$@"
