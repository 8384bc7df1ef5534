#!/usr/bin/env bash
# Installs what the Linux program needs to build, run and package (no test
# tools, no cross-compiler), builds everything the install rules take (the
# program, its icons, manual page and guide: `cd build/linux && cpack -G DEB`
# works afterwards) without the tests, and starts the panel; options are
# passed on to it (scripts/run.sh --scale 2). The build's own output goes to
# stderr, so stdout is the program's alone (scripts/run.sh --list-keys > keys.txt).
set -euo pipefail
cd "$(dirname "$0")/.."
{
  scripts/install-deps.sh run
  cmake --preset linux -DZORVE_WITH_TESTS=OFF
  cmake --build --preset linux
} >&2
exec build/linux/zorve-button "$@"
