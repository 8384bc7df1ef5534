#!/usr/bin/env bash
# --on-top makes the main window a topmost one (WS_EX_TOPMOST); without the
# option it is an ordinary window.
# Usage: windows_on_top.sh PROGRAM.exe window_probe.exe PREFIX_DIR
PROGRAM=$1 PROBE=$2 PREFIX=$3
. "$(dirname "$0")/windows_lib.sh"

start_display
prepare_prefix
for args in "" "--on-top"; do
    want=0
    [ -n "$args" ] && want=1
    start_program --midi none $args
    wait_for 30 "main window" main_window_shown
    log "$args: $(probe main)"
    probe main | grep -q " topmost $want\$" || fail "'$args': window is not topmost $want: $(probe main)"
    close_and_expect_success "$PROGRAM_PID"
done
log "PASS"
