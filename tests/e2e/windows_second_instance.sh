#!/usr/bin/env bash
# Single instance under Xvfb and Wine: a second start shows the box titled
# "PC_ZORVE" saying "Proram still running?", opens no window of its own and
# ends once the box is dismissed, while the first copy keeps running and
# answering input; closing the first copy then ends it with status 0.
# Usage: windows_second_instance.sh PROGRAM.exe window_probe.exe PREFIX_DIR
PROGRAM=$1 PROBE=$2 PREFIX=$3
. "$(dirname "$0")/windows_lib.sh"

start_display
prepare_prefix

start_program
FIRST_PID=$PROGRAM_PID
wait_for 30 "main window" main_window_shown
wait_for 10 "drawn panel" pixels_are 5,5=444444
log "first copy running"

start_program
SECOND_PID=$PROGRAM_PID
box_shown() { probe box | grep -q '^title "PC_ZORVE" visible 1'; }
wait_for 30 "message box of the second start" box_shown
box=$(probe box)
log "box: $(echo "$box" | tr '\n' '|')"
echo "$box" | grep -q '^child Static "Proram still running?"$' || fail "box text: $box"
echo "$box" | grep -q '^child Button "OK"$' || fail "box has no OK button: $box"
[ "$(echo "$box" | grep -c '^child Button')" -eq 1 ] || fail "box has more than one button: $box"
# The X side agrees: a mapped window with that title, with text drawn in it.
box_xid=$(xdotool search --onlyvisible --name '^PC_ZORVE$' | head -n1)
[ -n "$box_xid" ] || fail "no visible X window titled PC_ZORVE"
xwd -id "$box_xid" -silent >"$SHOT"
ink=$(read_shot count 000000)
[ "$ink" -ge 50 ] || fail "the box shows $ink black pixels: no text drawn"
log "box on screen: $(xdotool getwindowgeometry "$box_xid" | tr -s ' \n' ' '), $ink black pixels"

[ "$(probe count)" = 1 ] || fail "$(probe count) windows of the program's class while the box is up"
kill -0 "$FIRST_PID" 2>/dev/null || fail "first copy ended"
# The first copy still answers: a held click on key "A" shows it pressed.
pointer_to 570 25
xdotool mousedown 1
wait_for 5 "pressed key A in the first copy" pixels_are 543,13=FFFFFF 541,11=444444
xdotool mouseup 1
wait_for 5 "released key A in the first copy" pixels_are 543,13=BBBBBB 541,11=777777
log "first copy answers input while the box is up"

probe dismiss-box || fail "box vanished before it was dismissed"
wait_exit "$SECOND_PID" 20
status=$?
log "second copy ended with status $status after the box"
[ "$status" -eq 1 ] || fail "second copy ended with status $status, want 1"

kill -0 "$FIRST_PID" 2>/dev/null || fail "first copy ended with the second"
main_window_shown || fail "first copy's window is gone"
wait_for 5 "panel of the first copy" pixels_are 5,5=444444 541,11=777777

close_and_expect_success "$FIRST_PID" "first copy"
log "first copy closed, status 0"
log "PASS"
