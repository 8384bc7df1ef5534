#!/usr/bin/env bash
# Installs every Debian/Ubuntu package the build, the program and the tests
# need. Safe to run again: apt-get skips what is already there.
set -euo pipefail
packages=(
  # build
  cmake ninja-build g++ pkg-config googletest libbenchmark-dev clang libclang-rt-14-dev clang-format
  # Linux program
  libsdl2-dev libfreetype-dev libfontconfig-dev fonts-liberation2 fonts-dejavu-core librtmidi-dev libjack-jackd2-dev libpng-dev
  # Windows cross-build and its tests
  mingw-w64 wine wine64
  # end-to-end tests: display, MIDI server and receivers, input and screenshots
  xvfb xdotool imagemagick x11-apps x11-utils jackd2 python3
  # bench/measure_program.py: the peer it is measured beside, and the bare client's Xlib
  jack-keyboard libx11-dev
  # bench/soak.py leak check
  valgrind
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update -q
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q "${missing[@]}"
fi
