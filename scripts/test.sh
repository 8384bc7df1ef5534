#!/usr/bin/env bash
# Installs what is missing, builds the three trees and the two packages, and
# runs every test: the Linux tree natively (unit, text, end-to-end under Xvfb
# with a JACK server, the Debian package installed and removed), the Windows
# tree under Wine (the zip unpacked and run), and the core with its fuzzers
# under ASan/UBSan.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset linux -DZORVE_WITH_TESTS=ON
cmake --build --preset linux
(cd build/linux && cpack -G DEB)
cmake --preset windows
cmake --build --preset windows
(cd build/windows && cpack -G ZIP)
cmake --preset sanitize
cmake --build --preset sanitize
status=0
ctest --preset linux || status=1
ctest --preset windows || status=1
ctest --preset sanitize || status=1
exit $status
