#!/usr/bin/env bash
# Installs what is missing, builds the Linux program and starts the panel.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset linux
cmake --build --preset linux --target zorve-button
exec build/linux/zorve-button
