#!/bin/sh
# Platora's one entry point: installs what is missing, builds, and runs.
#   ./platora.sh run [ARGS...]  build and start the console program with ARGS (none: the dialogue)
#   ./platora.sh demo    the whole chain without a turntable (JACK dummy server, generator, program, OSC monitor)
#   ./platora.sh test    build and run every test, then again under the sanitizers
#   ./platora.sh bench   build in Release and run the benchmarks
#   ./platora.sh package build in Release and write the Debian package build-package/platora_VERSION_ARCH.deb
#   ./platora.sh windows cross-build the Windows programs and write their zip (installs mingw-w64 and Wine)
#                        once they are installed, ./platora.sh test also runs the Windows tests under Wine
#   ./platora.sh fuzz [SECONDS]   build the libFuzzer targets (clang) and run each that long (default 60)
#   ./platora.sh soak [MINUTES]   stream the whole chain for that long (default 60) and check it held
#   ./platora.sh latency [CYCLES]  measure the chain's latency on a JACK dummy server (about 20 minutes)
#   ./platora.sh robustness  how both decoding modes track noisy, clicking, humming and worn signals (a few minutes)
set -eu
# The program runs where the user stands: a --config file, a learnt table and the saved
# calibration are looked for there. Everything of the checkout goes by $top.
top=$(cd "$(dirname "$0")" && pwd)
jobs=$(nproc 2>/dev/null || echo 2)
# The Python harness the demo, the soak and the latency measurement drive the programs with.
export PYTHONPATH="$top/harness${PYTHONPATH:+:$PYTHONPATH}"

case "${1:-}" in
  run|demo|test|bench|windows|package) "$top/scripts/install-deps.sh" "$1" ;;
  robustness) "$top/scripts/install-deps.sh" run ;;
  soak) "$top/scripts/install-deps.sh" demo ;;
  latency) "$top/scripts/install-deps.sh" demo && "$top/scripts/install-deps.sh" bench ;;
  fuzz) "$top/scripts/install-deps.sh" test ;;
  *) echo "usage: $0 run|demo|test|bench|windows|package|fuzz|soak|latency|robustness" >&2; exit 2 ;;
esac

# The Windows build: libraries built once into a cache outside the tree, then the programs.
windows_cache=${XDG_CACHE_HOME:-$HOME/.cache}/platora/windows
configure_windows() {  # extra cmake arguments...
  "$top/scripts/windows/build-libraries.sh" "$windows_cache/prefix" "$windows_cache"
  cmake -S "$top" -B "$top/build-windows" -DCMAKE_TOOLCHAIN_FILE="$top/cmake/WindowsToolchain.cmake" \
    -DPLATORA_WINDOWS_PREFIX="$windows_cache/prefix" -DPLATORA_BUILD_BENCH=OFF "$@" >/dev/null
}
windows_tools_installed() {
  command -v x86_64-w64-mingw32-g++-posix >/dev/null && command -v wine >/dev/null
}

configure_and_build() {  # dir, extra cmake arguments...
  dir=$1; shift
  cmake -S "$top" -B "$top/$dir" "$@" >/dev/null
  cmake --build "$top/$dir" -j "$jobs"
}

# A JACK server killed outright keeps its place in the shared registry under /dev/shm, and
# with eight such places taken no server starts ("Too many servers already active"). With no
# server running, every place and segment left there is stale.
clear_stale_jack_state() {
  if ! pidof jackd jackdmp >/dev/null 2>&1; then
    rm -rf /dev/shm/jack-shm-registry /dev/shm/jack-"$(id -u)"-* /dev/shm/jack_* 2>/dev/null || true
  fi
}

fuzz() {  # seconds per target
  CC=clang CXX=clang++ cmake -S "$top" -B "$top/build-fuzz" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPLATORA_BUILD_BENCH=OFF \
    -DPLATORA_BUILD_FUZZ=ON -DPLATORA_SANITIZE=address,undefined >/dev/null
  cmake --build "$top/build-fuzz" -j "$jobs" --target platora-fuzzers
  "$top/scripts/fuzz.sh" "$top/build-fuzz" "$1"
}

case "$1" in
  run)
    configure_and_build build -DCMAKE_BUILD_TYPE=Release -DPLATORA_BUILD_TESTS=OFF -DPLATORA_BUILD_BENCH=OFF
    shift
    exec "$top/build/app/platora" "$@"
    ;;
  demo)
    clear_stale_jack_state
    configure_and_build build -DCMAKE_BUILD_TYPE=Release -DPLATORA_BUILD_TESTS=OFF -DPLATORA_BUILD_BENCH=OFF
    exec "$top/scripts/demo.sh" "$top/build"
    ;;
  test)
    clear_stale_jack_state
    configure_and_build build-test -DCMAKE_BUILD_TYPE=Debug -DPLATORA_BUILD_BENCH=OFF
    (cd "$top/build-test" && ctest --output-on-failure -j "$jobs")
    configure_and_build build-asan -DCMAKE_BUILD_TYPE=Debug -DPLATORA_BUILD_BENCH=OFF -DPLATORA_SANITIZE=address,undefined
    (cd "$top/build-asan" && ctest --output-on-failure -j "$jobs" -LE 'slow|package')
    configure_and_build build-tsan -DCMAKE_BUILD_TYPE=Debug -DPLATORA_BUILD_BENCH=OFF -DPLATORA_SANITIZE=thread
    (cd "$top/build-tsan" && ctest --output-on-failure -L threaded)
    fuzz 20
    if windows_tools_installed; then
      # The end-to-end test under Wine takes its JACK server's clients from the Linux build.
      configure_windows -DPLATORA_LINUX_BUILD="$top/build-test"
      cmake --build "$top/build-windows" -j "$jobs"
      status=0
      (cd "$top/build-windows" && ctest --output-on-failure -j "$jobs") || status=$?
      WINEPREFIX="${PLATORA_WINEPREFIX:-${XDG_CACHE_HOME:-$HOME/.cache}/platora/wine}" wineserver -k 2>/dev/null || true
      exit $status
    fi
    ;;
  windows)
    configure_windows
    cmake --build "$top/build-windows" -j "$jobs" --target windows-zip
    echo "Written: $(ls "$top"/build-windows/platora-*-windows.zip)"
    ;;
  package)
    deb=$("$top/scripts/package.sh" "$top/build-package")
    echo "Written: $deb"
    ;;
  fuzz)
    fuzz "${2:-60}"
    ;;
  soak)
    clear_stale_jack_state
    configure_and_build build -DCMAKE_BUILD_TYPE=Release -DPLATORA_BUILD_TESTS=OFF -DPLATORA_BUILD_BENCH=OFF \
      -DPLATORA_BUILD_HARNESS=ON
    # Debian's interpreter is the one install-deps.sh gives pexpect to.
    python=python3; [ -x /usr/bin/python3 ] && python=/usr/bin/python3
    exec "$python" "$top/scripts/soak.py" "$top/build" --minutes "${2:-60}"
    ;;
  bench)
    configure_and_build build-bench -DCMAKE_BUILD_TYPE=Release -DPLATORA_BUILD_TESTS=OFF
    "$top/build-bench/bench/platora-bench"
    ;;
  latency)
    clear_stale_jack_state
    configure_and_build build-bench -DCMAKE_BUILD_TYPE=Release -DPLATORA_BUILD_TESTS=OFF
    exec python3 "$top/scripts/latency.py" "$top/build-bench" ${2:+"$2"}
    ;;
  robustness)
    configure_and_build build -DCMAKE_BUILD_TYPE=Release -DPLATORA_BUILD_TESTS=OFF -DPLATORA_BUILD_BENCH=OFF
    exec python3 "$top/scripts/robustness.py" "$top/build"
    ;;
esac
