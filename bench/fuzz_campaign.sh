#!/usr/bin/env bash
# Fuzzing campaign: runs each libFuzzer target of the sanitize tree for a
# given time, one after the other, and prints per fuzzer the inputs run, the
# events driven through the shell (fuzz_shell counts them and prints the total
# at exit), the rates, the coverage reached and the findings (crash, leak,
# timeout and out-of-memory artifacts; libFuzzer stops at the first).
#
# Usage: bench/fuzz_campaign.sh [--seconds N] [--build DIR] [--only NAME]
#                               [--seed N] [--merge]
#   --seconds N  time per fuzzer, wall clock (default 600)
#   --build DIR  the sanitize tree (default build/sanitize, after
#                `cmake --preset sanitize && cmake --build --preset sanitize`)
#   --only NAME  run one fuzzer: fuzz_shell, fuzz_primitives or fuzz_map
#   --seed N     libFuzzer seed (default 0: a new one each run, printed)
#   --merge      afterwards merge into tests/fuzz/corpus/NAME only the inputs
#                that add coverage to it (libFuzzer -merge=1)
#
# Inputs the fuzzers find go to DIR/campaign/NAME, artifacts to
# DIR/campaign/NAME-*; the committed corpus is only read unless --merge.
# Exit status 0 when no fuzzer found anything, 1 when one did, 2 on misuse.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
seconds=600
build=$root/build/sanitize
only=
seed=0
merge=0
while [ $# -gt 0 ]; do
    case $1 in
    --seconds) seconds=$2; shift 2 ;;
    --build) build=$2; shift 2 ;;
    --only) only=$2; shift 2 ;;
    --seed) seed=$2; shift 2 ;;
    --merge) merge=1; shift ;;
    *) sed -n '/^# Usage/,/^# Exit/p' "$0" >&2; exit 2 ;;
    esac
done

fuzzers=(fuzz_shell fuzz_primitives fuzz_map)
[ -n "$only" ] && fuzzers=("$only")

# The value of "stat::NAME:" in a libFuzzer log, or "-".
stat() { awk -v k="stat::$1:" '$1 == k { v = $2 } END { print (v == "" ? "-" : v) }' "$2"; }

rows=()
found_any=0
for name in "${fuzzers[@]}"; do
    bin=$build/tests/fuzz/$name
    corpus=$root/tests/fuzz/corpus/$name
    [ -x "$bin" ] || { echo "no $bin: build the sanitize preset first" >&2; exit 2; }
    work=$build/campaign/$name
    mkdir -p "$work"
    log=$build/campaign/$name.log
    rm -f "$build/campaign/$name"-{crash,leak,timeout,oom}-*
    echo "== $name: $seconds s, log $log" >&2
    start=$(date +%s.%N)
    status=0
    "$bin" -max_total_time="$seconds" -seed="$seed" -print_final_stats=1 \
        -artifact_prefix="$build/campaign/$name-" "$work" "$corpus" >"$log" 2>&1 || status=$?
    elapsed=$(echo "$(date +%s.%N) - $start" | bc)
    inputs=$(stat number_of_executed_units "$log")
    events=$(awk '/events driven$/ { v = $2 } END { print (v == "" ? "-" : v) }' "$log")
    cov=$(awk '/(INITED|DONE|NEW|REDUCE|pulse)/ { for (i = 1; i < NF; ++i) if ($i == "cov:") c = $(i + 1) } END { print (c == "" ? "-" : c) }' "$log")
    used_seed=$(awk '/Seed: / { for (i = 1; i < NF; ++i) if ($i == "Seed:") print $(i + 1) }' "$log" | head -1)
    findings=$(find "$build/campaign" -maxdepth 1 -name "$name-*" -type f | wc -l)
    if [ "$findings" -gt 0 ] || [ "$status" -ne 0 ]; then
        found_any=1
        find "$build/campaign" -maxdepth 1 -name "$name-*" -type f | sed 's/^/   artifact: /' >&2
        [ "$status" -ne 0 ] && [ "$findings" -eq 0 ] && findings="exit $status"
    fi
    rate() { [ "$1" = - ] && echo - || echo "scale=0; $1 / $elapsed" | bc; }
    rows+=("$(printf '%-16s %8.0f %12s %10s %14s %12s %6s %10s %s' "$name" "$elapsed" "$inputs" \
        "$(rate "$inputs")" "$events" "$(rate "$events")" "$cov" "$used_seed" "$findings")")
    if [ "$merge" = 1 ]; then
        before=$(find "$corpus" -type f | wc -l)
        "$bin" -merge=1 "$corpus" "$work" >"$build/campaign/$name.merge.log" 2>&1
        echo "   merged: $before -> $(find "$corpus" -type f | wc -l) inputs in $corpus" >&2
    fi
done

printf '%-16s %8s %12s %10s %14s %12s %6s %10s %s\n' fuzzer seconds inputs inputs/s events events/s cov seed findings
printf '%s\n' "${rows[@]}"
exit $found_any
