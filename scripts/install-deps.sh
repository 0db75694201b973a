#!/bin/sh
# Installs the Debian packages one use of Platora needs, only when some are missing:
#   install-deps.sh run     build and run the program
#   install-deps.sh demo    run, plus the JACK server and what drives the demonstration
#   install-deps.sh test    demo, plus test libraries, the servers the tests start themselves,
#                           clang with libFuzzer, and package's tools with lintian to check the package
#   install-deps.sh bench   run, plus Google Benchmark
#   install-deps.sh windows run, plus the cross compiler and Wine for the Windows build and its tests
#   install-deps.sh package run, plus what writes the Debian package (manual pages, shlibdeps)
# Works on a bare minbase Debian 12: root without sudo, or a user with sudo.
# Nothing here changes how the machine's own audio works: PipeWire comes only as its programs and
# libraries (pipewire-bin, libwireplumber-0.4-0), not the packages that enable it for every login
# or make it the ALSA default; the tests unpack the rest into their build folder.
set -eu

run="build-essential cmake pkg-config git ca-certificates
  libsndfile1-dev zlib1g-dev
  librtaudio-dev libjack-jackd2-dev libasound2-dev
  liboscpack-dev libcli11-dev libtomlplusplus-dev"
demo="jackd2 python3 python3-pexpect procps"
test="libgtest-dev libgmock-dev liblo-tools
  pipewire-bin libwireplumber-0.4-0
  clang libclang-rt-dev
  lintian"
bench="libbenchmark-dev"
# help2man writes the manual pages; CPack finds the programs with file and their libraries'
# packages with dpkg-shlibdeps (dpkg-dev).
package="help2man file dpkg-dev"
# About 1.1 GB: only for the Windows build. The posix-thread variant is the one with std::thread;
# wine only adds the wine command to wine64; googletest is GoogleTest's source, built for Windows.
windows="g++-mingw-w64-x86-64-posix libz-mingw-w64-dev wine64 wine googletest dpkg-dev"

case "${1:-}" in
  run) packages="$run" ;;
  demo) packages="$run $demo" ;;
  test) packages="$run $demo $test $package" ;;
  bench) packages="$run $bench" ;;
  windows) packages="$run $windows" ;;
  package) packages="$run $package" ;;
  *) echo "usage: $0 run|demo|test|bench|windows|package" >&2; exit 2 ;;
esac

missing=""
for p in $packages; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing="$missing $p"
  fi
done
[ -z "$missing" ] && exit 0

if [ "$(id -u)" -eq 0 ]; then as_root=""; else as_root="sudo"; fi
echo "Installing:$missing"
export DEBIAN_FRONTEND=noninteractive
# jackd2 asks whether to enable realtime priority; answer it up front.
echo "jackd2 jackd/tweak_rt_limits boolean false" | $as_root debconf-set-selections 2>/dev/null || true
wait_for_lock="-o DPkg::Lock::Timeout=600"
$as_root apt-get $wait_for_lock update -q
# libjack-jackd2-dev goes in the same command as librtaudio-dev, or apt picks the JACK 1 library.
$as_root env DEBIAN_FRONTEND=noninteractive apt-get $wait_for_lock install -y -q --no-install-recommends $missing
