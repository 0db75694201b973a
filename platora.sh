#!/bin/sh
# Platora's one entry point: installs what is missing, builds, and runs.
#   ./platora.sh run     build and start the console program
#   ./platora.sh demo    the whole chain without a turntable (JACK dummy server, generator, program, OSC monitor)
#   ./platora.sh test    build and run every test, then again under the sanitizers
#   ./platora.sh bench   build in Release and run the benchmarks
set -eu
cd "$(dirname "$0")"
top=$(pwd)
jobs=$(nproc 2>/dev/null || echo 2)

case "${1:-}" in
  run|demo|test|bench) ./tools/install-deps.sh "$1" ;;
  *) echo "usage: $0 run|demo|test|bench" >&2; exit 2 ;;
esac

configure_and_build() {  # dir, extra cmake arguments...
  dir=$1; shift
  cmake -S "$top" -B "$top/$dir" "$@" >/dev/null
  cmake --build "$top/$dir" -j "$jobs"
}

case "$1" in
  run)
    configure_and_build build -DCMAKE_BUILD_TYPE=Release -DPLATORA_BUILD_TESTS=OFF -DPLATORA_BUILD_BENCH=OFF
    exec "$top/build/example/console/platora"
    ;;
  demo)
    configure_and_build build -DCMAKE_BUILD_TYPE=Release -DPLATORA_BUILD_TESTS=OFF -DPLATORA_BUILD_BENCH=OFF
    exec "$top/tools/demo.sh" "$top/build"
    ;;
  test)
    configure_and_build build-test -DCMAKE_BUILD_TYPE=Debug -DPLATORA_BUILD_BENCH=OFF
    (cd build-test && ctest --output-on-failure -j "$jobs")
    configure_and_build build-asan -DCMAKE_BUILD_TYPE=Debug -DPLATORA_BUILD_BENCH=OFF -DPLATORA_SANITIZE=address,undefined
    (cd build-asan && ctest --output-on-failure -j "$jobs" -LE slow)
    configure_and_build build-tsan -DCMAKE_BUILD_TYPE=Debug -DPLATORA_BUILD_BENCH=OFF -DPLATORA_SANITIZE=thread
    (cd build-tsan && ctest --output-on-failure -L threaded)
    ;;
  bench)
    configure_and_build build-bench -DCMAKE_BUILD_TYPE=Release -DPLATORA_BUILD_TESTS=OFF
    "$top/build-bench/bench/platora-bench"
    ;;
esac
