#!/usr/bin/env bash
# On a screen smaller than the panel the outer window takes the usable
# full-screen area instead of 910 x 550, and the panel keeps its pixel
# coordinates: the window shows the frame buffer's top-left part unscaled.
# Usage: windows_small_screen.sh PROGRAM.exe window_probe.exe PREFIX_DIR
PROGRAM=$1 PROBE=$2 PREFIX=$3
. "$(dirname "$0")/windows_lib.sh"

start_display 800x500
prepare_prefix

read -r screen_w screen_h < <(probe screen)
log "usable full-screen area: $screen_w x $screen_h"
[ "$screen_w" -lt 910 ] && [ "$screen_h" -lt 550 ] || fail "screen area $screen_w x $screen_h is not smaller than the panel"

start_program
wait_for 30 "main window" main_window_shown
log "window: $(probe main)"
probe main | grep -q "^outer 0 0 $screen_w $screen_h " || fail "outer window is not $screen_w x $screen_h at (0, 0)"

wait_for 10 "drawn panel" pixels_are 5,5=444444
# Key "A" at (540, 10) sits where it does on a large screen.
expect_pixels 541,11=777777 543,13=BBBBBB 598,38=444444

close_and_expect_success "$PROGRAM_PID"
log "PASS"
