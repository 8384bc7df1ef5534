#!/usr/bin/env bash
# Installs what is missing, then runs the workflow presets of
# CMakePresets.json: each configures, builds (and packages) its tree and runs
# its tests. The Linux tree natively (unit, text, end-to-end under Xvfb with
# a JACK server, the Debian package installed and removed), the Windows tree
# under Wine (the zip unpacked and run), the core with its fuzzers under
# ASan/UBSan, and the web page (after the Linux tree, whose panel it is
# compared with) under node and headless Chromium, its Web MIDI on the ALSA
# sequencer in a virtual machine. A failing tree does not stop the others.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
status=0
for tree in linux windows sanitize web; do
  cmake --workflow --preset "$tree" || status=1
done
exit $status
