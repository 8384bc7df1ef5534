#!/usr/bin/env bash
# Playing under Xvfb and Wine: with --keys the keys of the map send their
# panel key's bytes by place (z is pad 1, F10 the system key is pad bank D,
# the keypad's Enter and Left the panel's), once however long a key is held,
# several at once; the focus going while a key is held sends its 0, Escape
# the 0s and All Notes Off; --velocity 100 is the value of a click. The bytes
# are read from --monitor's lines (Wine has no MIDI devices: "dev -").
# Usage: windows_play.sh PROGRAM.exe window_probe.exe PREFIX_DIR
PROGRAM=$1 PROBE=$2 PREFIX=$3
. "$(dirname "$0")/windows_lib.sh"

start_display 1280x800
prepare_prefix
set_dpi 96

# monitor_is LINES...: the monitor has printed exactly these lines so far.
monitor_is() {
    local want got
    want=$(printf '%s\n' "$@")
    got=$(tr -d '\r' <"$SHOT.out")
    MISMATCH=$(echo $got)
    [ "$got" = "$want" ]
}
SENT=()
# expect_sent LINES...: these lines come next, and nothing else.
expect_sent() {
    SENT+=("$@")
    wait_for 5 "monitor lines '$*'" monitor_is "${SENT[@]}"
}
keys() { xdotool "$@"; sleep 0.05; }

start_program --keys --monitor --midi none
wait_for 30 "main window" main_window_shown
expect_drawn_panel
xdotool windowfocus --sync "$MAIN_XID"

keys keydown z
expect_sent "dev -  B0 10 7F"
keys keyup z
expect_sent "dev -  B0 10 00"
# Up, the data wheel, held for a second: its repeats step again, so keys do
# repeat here; z held as long sends once (bit 30 marks the repeats).
keys keydown Up
sleep 1
keys keyup Up
wait_for 5 "Up's repeats" eval '[ "$(grep -c "90 72 00" "$SHOT.out")" -ge 2 ]'
mapfile -t SENT < <(tr -d '\r' <"$SHOT.out")
keys keydown z
sleep 1
keys keyup z
expect_sent "dev -  B0 10 7F" "dev -  B0 10 00"
keys keydown z keydown x
expect_sent "dev -  B0 10 7F" "dev -  B0 11 7F"
keys keyup x keyup z
expect_sent "dev -  B0 11 00" "dev -  B0 10 00"
keys key F10 KP_Enter Left space
expect_sent "dev -  90 5C 7F" "dev -  90 5C 00" "dev -  90 71 7F" "dev -  90 71 00" \
    "dev -  90 0D 7F" "dev -  90 0D 00" "dev -  90 02 7F" "dev -  90 02 00"
log "keys by place: z, x, F10, keypad Enter, Left, Space"

keys keydown z
expect_sent "dev -  B0 10 7F"
xdotool windowfocus "$(xwininfo -root | sed -n 's/.*Window id: \(0x[0-9a-f]*\).*/\1/p')"
expect_sent "dev -  B0 10 00"
keys keyup z
log "focus lost while z is held: its 0"

# Wine takes the focus back at a click (on no key) as well as from X.
xdotool windowfocus --sync "$MAIN_XID"
pointer_to 300 380
xdotool click 1
keys keydown z keydown space
expect_sent "dev -  B0 10 7F" "dev -  90 02 7F"
keys key Escape
expect_sent "dev -  90 02 00" "dev -  B0 10 00" "dev -  B0 7B 00"
keys keyup z keyup space
sleep 0.3
monitor_is "${SENT[@]}" || fail "lines after Escape's keyups: $MISMATCH"
log "Escape: the 0s, then All Notes Off"
close_and_expect_success "$PROGRAM_PID"

start_program --velocity 100 --monitor --midi none
wait_for 30 "main window with --velocity 100" main_window_shown
expect_drawn_panel
pointer_to 570 25
xdotool click 1
SENT=()
expect_sent "dev -  90 59 64" "dev -  90 59 00"
log "--velocity 100: a click on A"
close_and_expect_success "$PROGRAM_PID" "--velocity 100"
log "PASS"
