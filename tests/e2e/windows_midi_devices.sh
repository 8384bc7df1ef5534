#!/usr/bin/env bash
# The program under Xvfb and Wine sending to WinMM MIDI devices: a test MIDI
# driver, installed as this prefix's audio driver, reports the devices each
# case names and logs every open, start and message it receives. Checked:
# which devices are opened and started and in what order, the bytes of all
# 90 keys and of the data wheel at devices 1, 2, 3 in that order and nowhere
# else, the port switches (which exist, the names they show, what they turn
# off), device counts beyond the table, refused opens and starts, input data
# arriving at the window, names longer than the name fields, keys lit by
# input (exactly as a click presses them), the channel option, and the
# user's map from %APPDATA% read again when it changes.
#
# All cases share one prefix and one display; each starts the program anew,
# because winmm reads the device list once per process.
# Usage: windows_midi_devices.sh PROGRAM.exe window_probe.exe PREFIX_DIR DRIVER.drv KEYS.txt
#   DRIVER.drv  the test driver (winetestmidi.drv)
#   KEYS.txt    the key table tool's output, one key a line: index x y w h 0xSTATUS number label
PROGRAM=$1 PROBE=$2 PREFIX=$3 DRIVER=$4 KEYS=$5
. "$(dirname "$0")/windows_lib.sh"

LOG_DIR=$PREFIX-logs
rm -rf "$LOG_DIR"
mkdir -p "$LOG_DIR"

mapfile -t KEY_ROWS <"$KEYS"
[ "${#KEY_ROWS[@]}" -eq 90 ] || fail "key table has ${#KEY_ROWS[@]} rows, not 90"
# Data-wheel notes: toward the user or Up arrow, away or Down arrow.
WHEEL_TOWARD=114 WHEEL_AWAY=115

# ---- Driver and cases ---------------------------------------------------------

# Wine 8's winmm takes its MIDI devices from the audio driver mmdevapi chose:
# "Audio" = testmidi makes it load winetestmidi.drv from system32.
install_driver() {
    cp "$DRIVER" "$WINEPREFIX/drive_c/windows/system32/winetestmidi.drv" || fail "cannot copy the driver"
    timeout 60 wine reg add 'HKCU\Software\Wine\Drivers' /v Audio /d testmidi /f >/dev/null 2>&1 ||
        fail "cannot set the audio driver"
    log "driver installed as the prefix's audio driver"
}

# start_case NAME OUTPUTS INPUTS [FAULTS [INPUT_DATA [ARGS...]]]: device names
# separated by '|'; FAULTS as the driver reads them (out-open:N in-open:N
# in-start:N); ARGS for the program.
start_case() {
    CASE=$1
    LOG=$LOG_DIR/$1.log INPUT=$LOG_DIR/$1.in
    : >"$LOG"
    : >"$INPUT"
    export TESTMIDI_OUTPUTS=$2 TESTMIDI_INPUTS=$3 TESTMIDI_FAIL=${4:-} TESTMIDI_IN_DATA=${5:-0} TESTMIDI_LOG="Z:$LOG" \
        TESTMIDI_IN_FILE="Z:$INPUT"
    SEEN=0
    start_program "${@:6}"
    wait_for 30 "main window ($CASE)" main_window_shown
    wait_for 10 "drawn panel ($CASE)" pixels_are 5,5=444444
    log "$CASE: running"
}

end_case() {
    close_and_expect_success "$PROGRAM_PID" "$CASE: program"
    log "$CASE: PASS"
}

# ---- Log checks ---------------------------------------------------------------

data_lines() { grep ' data ' "$LOG"; }
device_lines() { grep -v ' data ' "$LOG"; }

# same_lines WHAT WANT GOT: fails with the first line that differs.
same_lines() {
    [ "$2" = "$3" ] && return 0
    local diff_text
    diff_text=$(diff <(printf '%s\n' "$2") <(printf '%s\n' "$3") | head -n 12 | tr '\n' '|')
    fail "$CASE: $1 differ (< wanted, > logged): $diff_text"
}

# expect_devices LINE...: the opens, starts and refusals, all of them, in order.
# They happen while the window is created, before it is shown.
expect_devices() {
    same_lines "device events" "$(printf '%s\n' "$@")" "$(device_lines)"
    log "$CASE: device events ok ($# lines)"
}

sent_count_at_least() { [ "$(data_lines | wc -l)" -ge "$1" ]; }

# expect_sent LINES...: the messages logged since the last check are exactly
# these (each argument one or more lines). Waits for their number, then a
# little longer for any extra.
expect_sent() {
    local want n
    want=$(printf '%s\n' "$@" | grep .)
    n=$(printf '%s\n' "$want" | grep -c .)
    wait_for 30 "$n messages at the devices ($CASE)" sent_count_at_least $((SEEN + n))
    sleep 0.3
    same_lines "messages" "$want" "$(data_lines | tail -n +$((SEEN + 1)))"
    SEEN=$((SEEN + n))
}

# expect_nothing_sent: no message since the last check. Only meaningful after
# an action the program is known to have handled (click_key_a_synced).
expect_nothing_sent() {
    local extra
    extra=$(data_lines | tail -n +$((SEEN + 1)))
    [ -z "$extra" ] || fail "$CASE: unexpected messages: $(echo "$extra" | head -n 6 | tr '\n' '|')"
}

# messages PORTS STATUS NUMBER VALUE: one message to each port, in order.
messages() {
    local port
    for port in $1; do printf 'out %d data %02x %02x %02x\n' "$port" "$2" "$3" "$4"; done
}

# click_messages PORTS STATUS NUMBER: a press then a release.
click_messages() {
    messages "$1" "$2" "$3" 127
    messages "$1" "$2" "$3" 0
}

# on_channel N STATUS NUMBER: the message's status and number on channel N.
on_channel() { echo "$(($2 | ($1 - 1))) $3"; }

# ---- Input --------------------------------------------------------------------

log_has_more() { [ "$(grep -cxF "$1" "$LOG")" -gt "$2" ]; }

# feed DEVICE BYTE...: input DEVICE delivers the message (bytes in hex) to
# the window; returns once the driver has posted it.
feed() {
    local line="in $1 delivered ${*:2}"
    local n
    n=$(grep -cxF "$line" "$LOG")
    echo "$*" >>"$INPUT"
    wait_for 5 "\"$line\" ($CASE)" log_has_more "$line" "$n"
}

# ---- Screenshots of the whole window ------------------------------------------

save_shot() { cp "$SHOT" "$SHOT.$1"; }
shot_is() {
    screenshot
    cmp -s "$SHOT" "$SHOT.$1" || { MISMATCH="differs from \"$1\""; return 1; }
}
shot_differs() { ! shot_is "$1"; }
# look_is NAME: waits until the window looks exactly like screenshot NAME.
look_is() { wait_for 5 "look \"$1\" ($CASE)" shot_is "$1"; }

# ---- Panel actions ------------------------------------------------------------

# Key k (0-based, dispatch order): its centre and its message.
key_centre() {
    local -a r
    read -ra r <<<"${KEY_ROWS[$1]}"
    echo "$((r[1] + r[3] / 2)) $((r[2] + r[4] / 2))"
}
key_message() {
    local -a r
    read -ra r <<<"${KEY_ROWS[$1]}"
    echo "$((r[5])) ${r[6]}"
}

# One xdotool call: its "click" waits 100 ms after every click.
click_at() { xdotool mousemove --window "$MAIN_XID" "$1" "$2" mousedown 1 mouseup 1; }

click_key() { click_at $(key_centre "$1"); }

# key_named STATUS LABEL: the first key with that status (0x90, 0xB0) and label.
key_named() { grep -m1 " $1 [0-9]* $2\$" "$KEYS" | cut -d' ' -f1; }

# press_look K NAME: holds key K down and saves the window then as NAME;
# the window must look like "released" before and after.
press_look() {
    look_is released
    pointer_to $(key_centre "$1")
    xdotool mousedown 1
    wait_for 5 "pressed key $1 ($CASE)" shot_differs released
    sleep 0.3
    screenshot
    save_shot "$2"
    xdotool mouseup 1
    pointer_to 5 5
    look_is released
}

# Switch k's hit rectangle is (10, 378 + 18 (k - 1), 35, 16); its drawn box
# sits 2 px higher.
click_switch() { click_at 27 $((386 + 18 * ($1 - 1))); }

# A press and release on key "A" that waits for the pressed and the released
# face on screen: the program has handled both once this returns.
click_key_a_synced() {
    pointer_to 570 25
    xdotool mousedown 1
    wait_for 5 "pressed key A ($CASE)" pixels_are 543,13=FFFFFF
    xdotool mouseup 1
    wait_for 5 "released key A ($CASE)" pixels_are 543,13=BBBBBB
    sleep 0.3
}

# expect_switches N: switches 1..N drawn (white box, 2 px above the hit
# rectangle), the others absent. Takes a fresh screenshot.
expect_switches() {
    local k top want=()
    for k in 1 2 3; do
        top=$((376 + 18 * (k - 1)))
        if [ "$k" -le "$1" ]; then
            want+=("10,$top=FFFFFF" "44,$((top + 15))=FFFFFF" "45,$top=444444" "10,$((top - 1))=444444")
        else
            want+=("10,$top=444444" "44,$((top + 15))=444444")
        fi
    done
    screenshot
    check_shot "${want[@]}" || fail "$CASE: switches for $1 outputs: pixel $MISMATCH"
    log "$CASE: switches 1..$1 shown, the rest absent"
}

# expect_names TEXT1 [TEXT2 [TEXT3]]: switch k shows TEXTk as its device
# name, pixel for pixel as GDI draws it, and nothing else to its right up to
# the transport keys. Reads the last screenshot.
expect_names() {
    local ref got rows k rects=()
    ref=$(probe text 400 "$@") || fail "window_probe text failed"
    rows=$(printf '%s\n' "$ref" | awk '$0 == "-" { exit } { n++ } END { print n + 0 }')
    [ "$rows" -ge 8 ] || fail "reference text has $rows rows"
    for k in $(seq 1 $#); do rects+=(50 $((377 + 18 * (k - 1))) 400 "$rows"); done
    got=$(read_shot rows "${rects[@]}")
    for k in $(seq 1 $#); do
        local want_k got_k
        want_k=$(printf '%s\n' "$ref" | awk -v k="$k" '$0 == "-" { n++; next } n == k - 1')
        got_k=$(printf '%s\n' "$got" | awk -v k="$k" '$0 == "-" { n++; next } n == k - 1')
        if [ -n "${!k}" ]; then
            printf '%s\n' "$want_k" | grep -q FFFFFF || fail "reference text \"${!k}\" has no white pixel"
        fi
        [ "$(printf '%s\n' "$want_k" | wc -l)" -eq "$rows" ] || fail "reference text $k is not $rows rows high"
        [ "$want_k" = "$got_k" ] || fail "$CASE: switch $k does not show the name \"${!k}\""
        log "$CASE: switch $k shows \"${!k}\""
    done
}

# ---- The run ------------------------------------------------------------------

start_display
prepare_prefix
install_driver
# No map in the user's folder but the map case's own (one left by a run that
# failed would change every case).
APPDATA_DIR=$(winepath -u "$(timeout 60 wine cmd /c echo %APPDATA% 2>/dev/null | tr -d '\r')" 2>/dev/null)
[ -n "$APPDATA_DIR" ] && [ -d "$APPDATA_DIR" ] || fail "no %APPDATA% folder in the prefix (${APPDATA_DIR:-none})"
MAP=$APPDATA_DIR/zorve-button/map.toml
rm -rf "${MAP%/*}"

# Names: device 2's has 31 characters, the most the driver's wide field holds;
# device 3's has 40 and reaches the program cut to 31.
NAME_31="Port two: 31 characters exactly"
NAME_40="Port three: forty characters long, to 40"
[ "${#NAME_31}" -eq 31 ] && [ "${#NAME_40}" -eq 40 ] || fail "name lengths ${#NAME_31} ${#NAME_40}"
OUTS="Device zero|Synth on port 1|$NAME_31|$NAME_40|Fifth device"
INS="Keys in|Pads in|Pedal in|Clock in"

# Five outputs and four inputs; every input delivers three Note On messages
# the moment it starts, which the window must swallow.
start_case five_outputs "$OUTS" "$INS" "" 3
expect_devices \
    "in 0 open" "in 0 start" "in 0 delivered 3" "in 1 open" "in 1 start" "in 1 delivered 3" \
    "in 2 open" "in 2 start" "in 2 delivered 3" "in 3 open" "in 3 start" "in 3 delivered 3" \
    "out 0 open" "out 1 open" "out 2 open" "out 3 open" "out 4 open"
expect_switches 3
expect_names "Synth on port 1" "$NAME_31" "${NAME_40:0:31}"

# Every key, clicked at its centre in dispatch order in one burst: its press
# and release at devices 1, 2, 3, nothing at 0 or 4, and no input data echoed.
xdotool_args=()
want=
for k in "${!KEY_ROWS[@]}"; do
    xdotool_args+=(mousemove --window "$MAIN_XID" $(key_centre "$k") mousedown 1 mouseup 1)
    want+=$(click_messages "1 2 3" $(key_message "$k"))$'\n'
done
xdotool "${xdotool_args[@]}"
expect_sent "$want"
log "$CASE: 90 keys sent 540 messages, each to devices 1, 2, 3 in turn"

# Data wheel, one notch each way, then the Up and Down arrow keys: one
# on/off pair of notes 114 (toward the user, Up) and 115 (away, Down).
pointer_to 5 5
xdotool click 5
expect_sent "$(click_messages "1 2 3" 144 $WHEEL_TOWARD)"
xdotool click 4
expect_sent "$(click_messages "1 2 3" 144 $WHEEL_AWAY)"
xdotool windowfocus --sync "$MAIN_XID" 2>/dev/null || true
xdotool key Up
expect_sent "$(click_messages "1 2 3" 144 $WHEEL_TOWARD)"
xdotool key Down
expect_sent "$(click_messages "1 2 3" 144 $WHEEL_AWAY)"
log "$CASE: wheel and arrow keys ok"

# Switches: each turns its device off and on again; a switch click sends
# nothing itself. Keys "A" and "B" (the first row) are the probes.
A_MSG=$(key_message 0)
B_MSG=$(key_message 1)
click_switch 1
click_key 0
expect_sent "$(click_messages "2 3" $A_MSG)"
click_switch 2
click_key 0
expect_sent "$(click_messages "3" $A_MSG)"
# y = 377 lies in switch 1's drawn box but above its hit rectangle.
click_at 27 377
click_key 0
expect_sent "$(click_messages "3" $A_MSG)"
# All three off: key "A" sends nothing, which the next check covers.
click_switch 3
click_key 0
click_switch 2
click_key 1
expect_sent "$(click_messages "2" $B_MSG)"
# y = 393 lies below switch 1's drawn box, in its hit rectangle's last row.
click_at 27 393
click_key 1
expect_sent "$(click_messages "1 2" $B_MSG)"
click_switch 3
click_key 0
expect_sent "$(click_messages "1 2 3" $A_MSG)"
log "$CASE: switches turn devices 1, 2, 3 off and on"
# Nothing read from an input reached an output, and nothing was closed.
expect_devices \
    "in 0 open" "in 0 start" "in 0 delivered 3" "in 1 open" "in 1 start" "in 1 delivered 3" \
    "in 2 open" "in 2 start" "in 2 delivered 3" "in 3 open" "in 3 start" "in 3 delivered 3" \
    "out 0 open" "out 1 open" "out 2 open" "out 3 open" "out 4 open"
end_case

# One output: device 0 only, which never receives; no switch at all.
start_case one_output "Only device" ""
expect_devices "out 0 open"
expect_switches 0
click_switch 1
click_key_a_synced
expect_switches 0
expect_nothing_sent
end_case

# Two outputs: switch 1 only; a click where switch 2 would be changes nothing.
# Everything goes out on channel 10.
start_case two_outputs "Device zero|Device one" "Keys in|Pads in" "" 0 --show-input --channel 10
expect_devices "in 0 open" "in 0 start" "in 1 open" "in 1 start" "out 0 open" "out 1 open"
expect_switches 1
expect_names "Device one"
A_10=$(on_channel 10 $A_MSG)
click_key 0
expect_sent "$(click_messages "1" $A_10)"
click_switch 2
click_key 0
expect_sent "$(click_messages "1" $A_10)"
expect_switches 1
click_switch 1
click_key_a_synced
expect_nothing_sent
click_switch 1
click_key 0
expect_sent "$(click_messages "1" $A_10)"

# Input lights keys from either input on any channel, exactly as a click
# presses them, and sends nothing. The pressed looks come from real clicks,
# which send on channel 10 as the Up arrow's wheel note does.
PLAY=$(key_named 0x90 PLAY) PAD=$(key_named 0xB0 1)
read -r _ PLAY_NOTE <<<"$(key_message "$PLAY")"
read -r _ PAD_CC <<<"$(key_message "$PAD")"
P=$(printf %02x "$PLAY_NOTE") C=$(printf %02x "$PAD_CC") W=$(printf %02x $WHEEL_TOWARD)
! grep -q -e " 0xB0 $PLAY_NOTE " -e " 0x90 $WHEEL_TOWARD " "$KEYS" || fail "PLAY's controller or the wheel note is a key"
pointer_to 5 5
screenshot
save_shot released
press_look "$PLAY" play
expect_sent "$(click_messages "1" $(on_channel 10 $(key_message "$PLAY")))"
press_look "$PAD" pad
expect_sent "$(click_messages "1" $(on_channel 10 $(key_message "$PAD")))"
xdotool windowfocus --sync "$MAIN_XID" 2>/dev/null || true
xdotool key Up
expect_sent "$(click_messages "1" $(on_channel 10 144 $WHEEL_TOWARD))"
feed 0 95 "$P" 40
look_is play
feed 0 90 "$P" 00
look_is released
feed 1 9f "$P" 7f
look_is play
feed 0 80 "$P" 40
look_is released
# Messages for no key (PLAY's number as a controller, the wheel's note)
# before a pad's: nothing but the pad shows pressed.
feed 0 b0 "$P" 7f
feed 1 90 "$W" 7f
feed 1 b3 "$C" 01
look_is pad
feed 0 b0 "$C" 00
look_is released
feed 0 90 "$P" 7f
look_is play
# A click on the lit key does not end its input: PLAY stays lit once the
# pad, lit meanwhile, goes dark.
feed 1 b0 "$C" 7f
click_key "$PLAY"
expect_sent "$(click_messages "1" $(on_channel 10 $(key_message "$PLAY")))"
feed 1 b0 "$C" 00
look_is play
feed 0 90 "$P" 00
look_is released
expect_nothing_sent
log "$CASE: input lit PLAY and a pad as clicks do, sent nothing"
end_case

# Three outputs: switches 1 and 2, messages to devices 1 and 2.
start_case three_outputs "Device zero|Device one|Device two" ""
expect_devices "out 0 open" "out 1 open" "out 2 open"
expect_switches 2
expect_names "Device one" "Device two"
click_key 0
expect_sent "$(click_messages "1 2" $A_MSG)"
click_switch 3
click_key 0
expect_sent "$(click_messages "1 2" $A_MSG)"
click_switch 2
click_key 0
expect_sent "$(click_messages "1" $A_MSG)"
end_case

# Seven outputs and six inputs: only the first five and four are opened.
start_case seven_outputs "O0|O1|O2|O3|O4|O5|O6" "I0|I1|I2|I3|I4|I5"
expect_devices \
    "in 0 open" "in 0 start" "in 1 open" "in 1 start" "in 2 open" "in 2 start" "in 3 open" "in 3 start" \
    "out 0 open" "out 1 open" "out 2 open" "out 3 open" "out 4 open"
expect_switches 3
expect_names O1 O2 O3
# Without --show-input, input changes no pixel: the window handles the
# messages before the click on key "A" that follows them.
pointer_to 5 5
screenshot
save_shot released
feed 3 90 "$P" 7f
feed 0 b0 "$C" 7f
click_key_a_synced
expect_sent "$(click_messages "1 2 3" $A_MSG)"
shot_is released || fail "$CASE: input changed the window without --show-input"
log "$CASE: input changed nothing without --show-input"
click_key 89
expect_sent "$(click_messages "1 2 3" $(key_message 89))"
end_case

# Refusals: input 1 cannot be opened, input 2 opens but cannot be started,
# output 2 cannot be opened. The others work; switch 2 stays, with no name.
start_case refused_opens "$OUTS" "$INS" "in-open:1 in-start:2 out-open:2"
expect_devices \
    "in 0 open" "in 0 start" "in 1 open refused" "in 2 open" "in 2 start refused" "in 3 open" "in 3 start" \
    "out 0 open" "out 1 open" "out 2 open refused" "out 3 open" "out 4 open"
expect_switches 3
expect_names "Synth on port 1" "" "${NAME_40:0:31}"
click_key 0
expect_sent "$(click_messages "1 3" $A_MSG)"
click_switch 3
click_key 1
expect_sent "$(click_messages "1" $B_MSG)"
end_case

# The user's map where the program looks without --map,
# %APPDATA%\zorve-button\map.toml: pad 1 a General MIDI kick on channel 10,
# by a click and by the computer key the map names (which turns --keys on).
# Rewritten as editors do (a new file renamed over it) while the panel runs,
# the new note goes out at once.
mkdir -p "${MAP%/*}"
write_map() {
    printf '[keys]\n"pad 1" = { note = %d, channel = 10, key = "Z" }\n' "$1" >"$MAP.new" && mv "$MAP.new" "$MAP"
}
write_map 36
PROGRAM_ERR=$LOG_DIR/map.err start_case map "Device zero|Device one" ""
expect_devices "out 0 open" "out 1 open"
click_key "$PAD"
expect_sent "$(click_messages "1" 0x99 36)"
xdotool windowfocus --sync "$MAIN_XID" 2>/dev/null || true
xdotool key z
expect_sent "$(click_messages "1" 0x99 36)"
write_map 40
map_read_again() { grep -q 'map.toml: read again' "$LOG_DIR/map.err"; }
wait_for 10 "the map read again ($CASE)" map_read_again
click_key "$PAD"
expect_sent "$(click_messages "1" 0x99 40)"
log "$CASE: pad 1 sent 99 24 7F from %APPDATA%'s map, 99 28 7F after the file changed"
end_case
rm -r "${MAP%/*}"

log "PASS"
