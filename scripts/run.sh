#!/usr/bin/env bash
# Installs what the Linux program needs to build and run (no test tools, no
# cross-compiler), builds it without the tests and starts the panel; options
# are passed on to it (scripts/run.sh --scale 2).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh run
cmake --preset linux -DZORVE_WITH_TESTS=OFF
cmake --build --preset linux --target zorve-button
exec build/linux/zorve-button "$@"
