#!/usr/bin/env bash
# Installs what is missing, builds both trees and runs every test: the Linux
# tree natively (unit, text, end-to-end under Xvfb with a JACK server), the
# Windows tree under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset linux
cmake --build --preset linux
cmake --preset windows
cmake --build --preset windows
status=0
ctest --preset linux || status=1
ctest --preset windows || status=1
exit $status
