#!/usr/bin/env bash
# Runs a Windows test executable under Wine in the build tree's private prefix,
# quietly, so test runs never touch the user's own prefix.
set -e
here=$(cd "$(dirname "$0")" && pwd)
: "${WINEPREFIX:=$here/../build/wineprefix}"
export WINEPREFIX WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$WINEPREFIX"
exec wine "$@"
