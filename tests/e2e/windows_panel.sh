#!/usr/bin/env bash
# The program under Xvfb and Wine: the window shows the drawn panel at the
# frame buffer's coordinates, a held click shows the key pressed and the
# release shows it raised again, and closing the window ends the process
# with status 0. Then the scale: with --scale 3, and with the prefix at 192
# DPI (200 %), each panel pixel is a block, the pointer is divided back, and
# --scale 1 there shows the panel unstretched (the program is DPI-aware).
# Usage: windows_panel.sh PROGRAM.exe window_probe.exe PREFIX_DIR
PROGRAM=$1 PROBE=$2 PREFIX=$3
. "$(dirname "$0")/windows_lib.sh"

start_display 2800x1700
prepare_prefix
set_dpi 96  # the prefix may keep 192 from an earlier run

start_program
wait_for 30 "main window" main_window_shown
log "window: $(probe main)"
probe main | grep -q '^outer 0 0 910 550 ' || fail "outer window is not 910 x 550 at (0, 0): $(probe main)"
# The X window shown is the client area, where USER says the client is.
origin=$(probe main | sed -n 's/.* origin \([0-9-]*\) \([0-9-]*\) .*/\1,\2/p')
xdotool getwindowgeometry "$MAIN_XID" | grep -q "Position: $origin " ||
    fail "X window of the client is not at the client origin $origin"
# The class icon reaches X as the window's _NET_WM_ICON (ARGB): the 32 x 32
# program icon, opaque, pale yellow with 16 teal 6 x 6 squares.
icon=$(xprop -id "$MAIN_XID" -notype 32c _NET_WM_ICON | python3 -c '
import sys
v = [int(t) for t in sys.stdin.read().split("=", 1)[1].replace(",", " ").split()]
while v and (v[0], v[1]) != (32, 32):
    v = v[2 + v[0] * v[1]:]
if not v:
    sys.exit("no 32 x 32 icon")
px = v[2:2 + 32 * 32]
teal = [(i % 32, i // 32) for i, p in enumerate(px) if p == 0xFF408080]
other = [p for p in px if p not in (0xFF408080, 0xFFFFFF80)]
inside = all((x - 2) % 7 < 6 and (y - 2) % 7 < 6 and 2 <= x <= 28 and 2 <= y <= 28 for x, y in teal)
print(len(teal), len(other), "grid" if inside else "off-grid", "%08X" % px[0], "%08X" % px[2 * 32 + 2])
') || fail "no 32 x 32 icon on the window"
log "icon: $icon"
[ "$icon" = "576 0 grid FFFFFF80 FF408080" ] || fail "window icon is not the program icon: $icon"

expect_drawn_panel
# Key A's black label.
label=$(read_shot count 000000 543 13 54 24)
[ "$label" -ge 15 ] || fail "key A shows $label black label pixels"
log "key A label: $label black pixels"
caption=$(read_shot count FFFFFF 48 455 100 20)
[ "$caption" -ge 30 ] || fail "caption TRACK SELECT shows $caption white pixels"
log "caption: $caption white pixels"

# Hold the left button on key A: pressed face 0xFFFFFF, edges swapped.
pointer_to 570 25
xdotool mousedown 1
wait_for 5 "pressed key A" pixels_are 543,13=FFFFFF 541,11=444444 598,38=777777
log "key A pressed"
pressed_label=$(read_shot count 000000 543 13 54 24)
[ "$pressed_label" -ge 15 ] || fail "pressed key A shows $pressed_label black label pixels"
# Its neighbour "B" at (620, 10) stays raised.
expect_pixels 621,11=777777 623,13=BBBBBB 678,38=444444
xdotool mouseup 1
wait_for 5 "released key A" pixels_are 543,13=BBBBBB 541,11=777777 598,38=444444
log "key A released"

cp "$SHOT" "$SHOT.96"
read -r client_w client_h < <(client_size)
log "screenshot at 96 DPI: ${client_w}x${client_h}"

close_and_expect_success "$PROGRAM_PID"
log "closed, status 0"
probe main && fail "main window still there"

# scaled_run SCALE ARGS...: the program with ARGS shows the panel SCALE
# times, and a press at key A's scaled top-left corner holds A.
scaled_run() {
    local scale=$1
    shift
    start_program "$@"
    wait_for 30 "main window with $*" main_window_shown
    read -r w h < <(client_size)
    log "$*: client area ${w}x${h} (its screenshot ${w}x${h})"
    [ "$w" -ge $((client_w * scale)) ] && [ "$h" -ge $((client_h * scale)) ] ||
        fail "client area ${w}x${h} with $*, want at least $((client_w * scale))x$((client_h * scale))"
    wait_for 20 "the panel scaled $scale times" eval 'screenshot && scaled_like "$SHOT.96" '"$scale $client_w $client_h"
    pointer_to $((540 * scale)) $((10 * scale))
    xdotool mousedown 1
    wait_for 5 "key A held at the scaled corner" pixels_are $((543 * scale)),$((13 * scale))=FFFFFF \
        $((541 * scale)),$((11 * scale))=444444
    xdotool mouseup 1
    wait_for 5 "key A released" pixels_are $((543 * scale)),$((13 * scale))=BBBBBB
}

scaled_run 3 --scale 3
close_and_expect_success "$PROGRAM_PID" "--scale 3"

set_dpi 192
scaled_run 2 --monitor
# A click at key A's scaled centre sends A; one left of its scaled edge
# (panel x 539) sends nothing. The press at the corner printed a release
# already: the wait is for one more.
released=$(count_lines '90 59 00' "$SHOT.out")
pointer_to 1079 50
xdotool click 1
pointer_to 1141 51
xdotool click 1
wait_for 5 "the second click's release in the monitor lines" lines_above '90 59 00' "$SHOT.out" "$released"
lines=$(tr -d '\r' <"$SHOT.out")
want=$'dev -  90 59 7F\ndev -  90 59 00\ndev -  90 59 7F\ndev -  90 59 00'
[ "$lines" = "$want" ] || fail "monitor at 192 DPI printed '$lines', want '$want'"
log "monitor at 192 DPI: $(echo $lines)"
close_and_expect_success "$PROGRAM_PID" "the program at 192 DPI"

# --scale 1 at 192 DPI: the panel as at 96 DPI, not stretched by the system.
start_program --scale 1
wait_for 30 "main window with --scale 1 at 192 DPI" main_window_shown
read -r w h < <(client_size)
log "--scale 1 at 192 DPI: client area ${w}x${h}"
[ "$w" -le 910 ] && [ "$h" -le 550 ] || fail "client area ${w}x${h} with --scale 1 at 192 DPI: stretched"
wait_for 10 "unscaled panel" pixels_are 5,5=444444 541,11=777777 543,13=BBBBBB 598,38=444444
close_and_expect_success "$PROGRAM_PID" "--scale 1 at 192 DPI"
log "PASS"
