#!/bin/sh
# Builds the libraries the Windows programs link, for x86_64 mingw-w64, into PREFIX:
# RtAudio (DirectSound), oscpack, libsndfile and CLI11 from Debian's source packages,
# GoogleTest from /usr/src/googletest, toml++ from its Debian headers. Sources are fetched once into CACHE and kept there.
#   build-libraries.sh PREFIX CACHE
# Each library is built once; delete PREFIX to build them again.
set -eu
prefix=$1
cache=$2
mirror=${PLATORA_DEBIAN_MIRROR:-http://deb.debian.org/debian}
host=x86_64-w64-mingw32
toolchain=$(cd "$(dirname "$0")/../../cmake" && pwd)/WindowsToolchain.cmake
mkdir -p "$prefix" "$cache"

# apt with a state of its own: an update that sees only deb-src lines would otherwise
# empty the machine's package lists.
fetch_source() {  # package: unpacks it under $cache/src, prints the directory
  state=$cache/apt
  if [ ! -d "$state/lists" ]; then
    mkdir -p "$state/sources" "$state/lists/partial"
    echo "deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] $mirror bookworm main" \
      >"$state/sources/debian-src.list"
    apt_private update -q >&2
  fi
  mkdir -p "$cache/src/$1"
  if ! ls -d "$cache/src/$1"/*/ >/dev/null 2>&1; then
    (cd "$cache/src/$1" && apt_private source -q "$1" >&2)
  fi
  ls -d "$cache/src/$1"/*/ | head -n 1
}

apt_private() {
  apt-get -o Dir::Etc::SourceList=/dev/null -o Dir::Etc::SourceParts="$cache/apt/sources" \
    -o Dir::State::Lists="$cache/apt/lists" -o Dir::Cache="$cache/apt/cache" -o APT::Sandbox::User=root "$@"
}

cmake_build() {  # source dir, build dir, cmake options...
  src=$1; build=$2; shift 2
  cmake -S "$src" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_INSTALL_PREFIX="$prefix" -DBUILD_SHARED_LIBS=OFF "$@" >/dev/null
  cmake --build "$build" -j 2 >/dev/null
  cmake --install "$build" >/dev/null
}

if [ ! -f "$prefix/lib/libgtest.a" ]; then
  echo "Building GoogleTest for Windows"
  cmake_build /usr/src/googletest "$cache/build/googletest" -Dgtest_disable_pthreads=OFF
fi

if [ ! -f "$prefix/lib/librtaudio.a" ]; then
  echo "Building RtAudio for Windows (DirectSound)"
  src=$(fetch_source rtaudio)
  cmake_build "$src" "$cache/build/rtaudio" -DRTAUDIO_API_DS=ON -DRTAUDIO_API_ASIO=OFF \
    -DRTAUDIO_API_WASAPI=OFF -DRTAUDIO_BUILD_TESTING=OFF -DRTAUDIO_BUILD_STATIC_LIBS=ON
fi

if [ ! -f "$prefix/lib/liboscpack.a" ]; then
  echo "Building oscpack for Windows"
  src=$(fetch_source oscpack)
  # It takes long for 64 bits on every x86-64; on Windows long has 32.
  sed -i 's/^typedef long int64;/typedef long long int64;/; s/^typedef unsigned long uint64;/typedef unsigned long long uint64;/' \
    "$src/osc/OscTypes.h"
  objects=$cache/build/oscpack
  mkdir -p "$objects" "$prefix/include/oscpack/osc" "$prefix/include/oscpack/ip"
  for file in "$src"/osc/*.cpp "$src"/ip/IpEndpointName.cpp "$src"/ip/win32/*.cpp; do
    $host-g++-posix -O2 -I"$src" -c "$file" -o "$objects/$(basename "$file" .cpp).o"
  done
  rm -f "$prefix/lib/liboscpack.a"
  mkdir -p "$prefix/lib"
  $host-ar rcs "$prefix/lib/liboscpack.a" "$objects"/*.o
  cp "$src"/osc/*.h "$prefix/include/oscpack/osc/"
  cp "$src"/ip/*.h "$prefix/include/oscpack/ip/"
fi

if [ ! -f "$prefix/lib/libsndfile.a" ]; then
  echo "Building libsndfile for Windows (WAV and the other built-in formats)"
  src=$(fetch_source libsndfile)
  cmake_build "$src" "$cache/build/libsndfile" -DBUILD_PROGRAMS=OFF -DBUILD_EXAMPLES=OFF \
    -DBUILD_TESTING=OFF -DENABLE_EXTERNAL_LIBS=OFF -DENABLE_MPEG=OFF -DENABLE_CPACK=OFF \
    -DINSTALL_MANPAGES=OFF -DENABLE_PACKAGE_CONFIG=ON
fi

if [ ! -f "$prefix/include/CLI/CLI.hpp" ]; then
  echo "Installing CLI11 for Windows"
  src=$(fetch_source cli11)
  cmake_build "$src" "$cache/build/cli11" -DCLI11_BUILD_TESTS=OFF -DCLI11_BUILD_EXAMPLES=OFF \
    -DCLI11_BUILD_DOCS=OFF
fi

if [ ! -f "$prefix/include/toml++/toml.h" ]; then
  # Debian's source archive for it is not on the mirrors; its headers are the whole library,
  # taken from libtomlplusplus-dev (which the Linux build installs) and used header-only.
  echo "Installing toml++ for Windows (header-only)"
  mkdir -p "$prefix/include" "$prefix/lib/cmake/tomlplusplus"
  cp -r /usr/include/toml++ "$prefix/include/"
  cat >"$prefix/lib/cmake/tomlplusplus/tomlplusplusConfig.cmake" <<'CONFIG'
add_library(tomlplusplus::tomlplusplus INTERFACE IMPORTED)
set_target_properties(tomlplusplus::tomlplusplus PROPERTIES
  INTERFACE_INCLUDE_DIRECTORIES "${CMAKE_CURRENT_LIST_DIR}/../../../include")
CONFIG
fi

# Not for Windows: the tests under Wine capture from a JACK server through alsa-lib's JACK
# plugin, taken out of its Debian package rather than installed.
plugin=$prefix/wine-test/libasound_module_pcm_jack.so
if [ ! -f "$plugin" ]; then
  echo "Unpacking alsa-lib's JACK plugin for the tests under Wine"
  mkdir -p "$cache/deb" "$prefix/wine-test"
  (cd "$cache/deb" && apt-get -o APT::Sandbox::User=root download -q libasound2-plugins >&2)
  dpkg-deb -x "$(ls "$cache"/deb/libasound2-plugins_*.deb | head -n 1)" "$cache/deb/root"
  cp "$(find "$cache/deb/root" -name libasound_module_pcm_jack.so | head -n 1)" "$plugin"
fi
