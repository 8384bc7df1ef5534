#!/usr/bin/env bash
# Installs what is missing, builds the three trees and runs every test: the
# Linux tree natively (unit, text, end-to-end under Xvfb with a JACK server),
# the Windows tree under Wine, and the core with its fuzzers under ASan/UBSan.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset linux
cmake --build --preset linux
cmake --preset windows
cmake --build --preset windows
cmake --preset sanitize
cmake --build --preset sanitize
status=0
ctest --preset linux || status=1
ctest --preset windows || status=1
ctest --preset sanitize || status=1
exit $status
