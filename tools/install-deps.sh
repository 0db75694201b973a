#!/bin/sh
# Installs the Debian packages Platora needs, only when some are missing.
# Works on a bare minbase Debian 12: root without sudo, or a user with sudo.
set -eu

packages="build-essential cmake pkg-config git ca-certificates
  libgtest-dev libgmock-dev libbenchmark-dev
  libsndfile1-dev zlib1g-dev
  librtaudio-dev libjack-jackd2-dev libasound2-dev jackd2
  liboscpack-dev liblo-tools
  python3 python3-pexpect procps"

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
$as_root apt-get update -q
# libjack-jackd2-dev goes in the same command as librtaudio-dev, or apt picks the JACK 1 library.
$as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends $missing
