#!/bin/sh
# The ALSA sequencer benchmarks, in a virtual machine (scripts/vm-run.sh);
# not part of the tests.
#   soak     bench/soak.py: 10 minutes at 20 clicks a second across all keys
#            by default; every message at devices 1-3 in order, memory flat
#            (about 12 minutes)
#   measure  bench/measure_alsa.py: press -> message beside a bare libasound
#            client, idle wake-ups, start -> drawn beside no MIDI
# Usage: bench/alsa_vm.sh soak|measure [OPTIONS...]   (the build: build/linux,
# or BUILD=DIR in the environment)
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${BUILD:-$root/build/linux}" && pwd)
what=${1:-}
[ $# -eq 0 ] || shift
case "$what" in
  soak) set -- "$root/bench/soak.py" --midi alsa --no-valgrind "$@" ;;
  measure) set -- "$root/bench/measure_alsa.py" "$@" ;;
  *) echo "usage: alsa_vm.sh soak|measure [OPTIONS...]" >&2; exit 64 ;;
esac
out=$build/bench-alsa-$what
mkdir -p "$out"
exec "$root/scripts/vm-run.sh" --timeout 1500 --share "$out" env PYTHONPATH="$root/tests/e2e" python3 -B "$@" --program "$build/zorve-button" --out "$out"
