#!/usr/bin/env bash
# The Windows zip (cpack -G ZIP, made here when missing or older than the
# program): exactly the program, README.txt and LICENSE.txt, the texts with
# CR LF line ends, and the two example maps; the unpacked program reports its version, turns away the
# options Windows lacks, lists no devices (Wine has none here) and the 90
# keys, and under Xvfb and Wine draws the panel, prints monitor lines for a
# click and ends with status 0 when closed.
# Usage: windows_zip.sh ZIP window_probe.exe PREFIX_DIR BUILD_DIR VERSION
ZIP=$1 PROBE=$2 PREFIX=$3 BUILD=$4 VERSION=$5
. "$(dirname "$0")/windows_lib.sh"

if [ ! -f "$ZIP" ] || [ "$ZIP" -ot "$BUILD/zorve-button.exe" ]; then
    log "$ZIP missing or older than the program: running cpack -G ZIP"
    (cd "$BUILD" && cpack -G ZIP >/dev/null) || fail "cpack -G ZIP failed"
fi
log "zip: $(stat -c %s "$ZIP") bytes"
UNPACKED=$(mktemp -d -t zorve-zip.XXXXXX)
trap 'cleanup; rm -rf "$UNPACKED"' EXIT
top=zorve-button-$VERSION-win64
listing=$(python3 -c 'import sys, zipfile; print("\n".join(sorted(zipfile.ZipFile(sys.argv[1]).namelist())))' "$ZIP")
want=$(printf '%s\n' "$top/LICENSE.txt" "$top/README.txt" "$top/examples/" "$top/examples/drums.toml" \
    "$top/examples/programs.toml" "$top/zorve-button.exe")
[ "$listing" = "$want" ] || fail "zip holds [$listing], want [$want]"
python3 -m zipfile -e "$ZIP" "$UNPACKED" || fail "cannot unpack $ZIP"
dir=$UNPACKED/$top
python3 - "$dir" <<'PY' || fail "README.txt or LICENSE.txt is not the text it should be"
import sys
d = sys.argv[1]
for name, start in (("README.txt", b"zorve-button for Windows\r\n"), ("LICENSE.txt", b"MIT License\r\n")):
    data = open(f"{d}/{name}", "rb").read()
    assert data.startswith(start), (name, data[:40])
    assert data.count(b"\n") == data.count(b"\r\n") > 10, (name, "not CR LF throughout")
# The Windows README: the key table as --list-keys prints it, and nothing of
# the developer's Linux set-up.
readme = open(f"{d}/README.txt", "rb").read()
assert b"\r\nA            pad bank      Note On             89        1    127  F7\r\n" in readme, "no key table"
assert b"\r\nminus        keypad        Note On            112        1    127  keypad -\r\n" in readme, "no key table"
for linux in (b"apt", b"scripts/", b".md", b"JACK", b"ALSA"):
    assert linux not in readme, ("README.txt speaks Linux", linux)
assert b"Copyright (c) 2026 The zorve-button developers" in open(f"{d}/LICENSE.txt", "rb").read()
PY
log "contents: $(echo $listing)"

start_display
prepare_prefix
PROGRAM=$dir/zorve-button.exe

out=$(timeout 60 wine "$PROGRAM" --version 2>/dev/null | tr -d '\r')
[ "$out" = "zorve-button $VERSION" ] || fail "--version printed '$out'"
log "--version: $out"
for wrong in "--scale 5" "--midi jack" "--bogus"; do
    err=$(timeout 60 wine "$PROGRAM" $wrong 2>&1 >/dev/null | tr -d '\r' | grep '^zorve-button: ')
    timeout 60 wine "$PROGRAM" $wrong >/dev/null 2>&1
    status=$?
    [ "$status" -eq 64 ] || fail "$wrong: exit status $status, want 64"
    [ "$(printf '%s\n' "$err" | wc -l)" -eq 1 ] && [[ "$err" == *"${wrong%% *}"*". Try 'zorve-button --help'." ]] ||
        fail "$wrong: stderr '$err'"
    log "$wrong: status 64, $err"
done
find_main_xwindow && fail "an option error opened a window"
# Wine has no MIDI devices here.
out=$(timeout 60 wine "$PROGRAM" --list-devices 2>/dev/null | tr -d '\r')
[ "$out" = $'outputs: 0\ninputs: 0' ] || fail "--list-devices printed '$out'"
log "--list-devices: $(echo $out)"
out=$(timeout 60 wine "$PROGRAM" --list-keys 2>/dev/null | tr -d '\r')
[ "$(printf '%s\n' "$out" | wc -l)" -eq 91 ] &&
    [ "$(printf '%s\n' "$out" | sed -n '1p;2p;91p')" = "$(printf '%s\n' \
        'key          group         message         number  channel  value  computer key' \
        'A            pad bank      Note On             89        1    127  F7' \
        '16           pad           Control Change      31        1    127  4')" ] ||
    fail "--list-keys printed '$(printf '%s\n' "$out" | head -3)' ... ($(printf '%s\n' "$out" | wc -l) lines)"
log "--list-keys: 90 keys"

# With the monitor on, a click on key A is two lines on stdout, each naming
# no device: none exists to get it.
wine "$PROGRAM" --monitor >"$UNPACKED/monitor.txt" 2>/dev/null &
PROGRAM_PID=$!
PIDS_TO_STOP+=("$PROGRAM_PID")
wait_for 30 "main window" main_window_shown
expect_drawn_panel
pointer_to 570 25
xdotool click 1
wait_for 5 "the release in the monitor lines" grep -q '90 59 00' "$UNPACKED/monitor.txt"
lines=$(tr -d '\r' <"$UNPACKED/monitor.txt")
[ "$lines" = $'dev -  90 59 7F\ndev -  90 59 00' ] || fail "monitor printed '$lines'"
log "monitor: $(echo $lines)"
close_and_expect_success "$PROGRAM_PID"
log "PASS"
