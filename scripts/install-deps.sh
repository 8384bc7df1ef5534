#!/usr/bin/env bash
# Installs the Debian/Ubuntu packages of the groups named (default: all).
# Safe to run again: apt-get skips what is already there.
#   run      build, run and package the Linux program (scripts/run.sh, cpack)
#   test     the Linux tests: unit, end-to-end, sanitizers, format, packaging
#   windows  the Windows cross-build and its tests under Wine
#   bench    the benchmarks and the soak's leak check
#   web      the page (Emscripten, offline) and its tests (node, headless
#            Chromium driven from /usr/bin/python3, and in the virtual machine)
#   all      every group
set -euo pipefail
declare -A group=(
  [run]="cmake ninja-build g++ pkg-config
         libsdl2-dev libfreetype-dev libfontconfig-dev fonts-liberation2 fonts-dejavu-core
         libasound2-dev libjack-jackd2-dev liblo-dev libpng-dev libtomlplusplus-dev
         dpkg-dev file"
  # unit tests, sanitizers and fuzzers, format check; end-to-end (pytest): display,
  # a light window manager (--on-top), MIDI server and receivers, input and
  # screenshots; the ALSA sequencer in
  # a virtual machine (scripts/vm-run.sh) and its patchbay tool; the package
  # and its checks: dpkg-shlibdeps, AppStream and desktop-entry validators,
  # groff; touches through Xorg's inputtest driver on a dummy screen, and
  # through the kernel (uinput, libinput) in the virtual machine; a real
  # synth (FluidSynth, a General MIDI sound font) for the example maps
  [test]="googletest clang libclang-rt-14-dev clang-format python3 python3-pytest
          xvfb xdotool imagemagick x11-apps x11-utils jackd2 openbox
          qemu-system-x86 linux-image-amd64 busybox-static kmod xz-utils alsa-utils
          dpkg-dev appstream desktop-file-utils groff-base python3-liblo
          xserver-xorg-core xserver-xorg-video-dummy xserver-xorg-dev
          xserver-xorg-input-libinput python3-evdev
          fluidsynth timgm6mb-soundfont"
  [windows]="mingw-w64 wine wine64"
  # bench/measure_program.py measures the program beside jack-keyboard and a
  # bare Xlib client
  [bench]="libbenchmark-dev valgrind jack-keyboard libx11-dev"
  # Debian's Emscripten ships its system libraries prebuilt: nothing is
  # downloaded at build time. GoogleTest's sources come with the test group.
  # Chromium's own Web MIDI is tested on the ALSA sequencer in the virtual
  # machine, with aconnect.
  [web]="emscripten nodejs chromium python3-websocket googletest fonts-liberation2
         qemu-system-x86 linux-image-amd64 busybox-static kmod xz-utils alsa-utils"
)
names=("$@")
[ ${#names[@]} -gt 0 ] || names=(all)
packages=()
for name in "${names[@]}"; do
  if [ "$name" = all ]; then
    for g in run test windows bench web; do packages+=(${group[$g]}); done
  elif [ -n "${group[$name]:-}" ]; then
    packages+=(${group[$name]})
  else
    echo "install-deps.sh: unknown group '$name' (run, test, windows, bench, web or all)" >&2
    exit 64
  fi
done
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
