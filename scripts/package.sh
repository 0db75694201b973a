#!/bin/sh
# Builds the programs in Release into BUILD_DIR and writes their Debian package there, then
# prints the package's path, alone on standard output (the build's messages go to standard
# error). Needs help2man, dpkg-dev and file (./scripts/install-deps.sh package).
#   package.sh BUILD_DIR
set -eu
build=$(mkdir -p "$1" && cd "$1" && pwd)
# From the top, as dpkg-buildflags maps the folder it runs in out of the programs' file names.
cd "$(dirname "$0")/.."
top=$(pwd)
# Debian's hardening flags; debugging information would only be stripped again.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all DEB_CXXFLAGS_MAINT_STRIP=-g DEB_LDFLAGS_MAINT_STRIP=-g
cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)" \
  -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" \
  -DPLATORA_BUILD_TESTS=OFF -DPLATORA_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" -j "$(nproc 2>/dev/null || echo 2)" >&2
rm -f "$build"/platora_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
ls "$build"/platora_*.deb
