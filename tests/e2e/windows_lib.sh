# Shared by the Windows end-to-end scripts (sourced, not run): a private Xvfb
# display and Wine prefix, polling with deadlines, and pixel reads from
# screenshots of the main window. Without a window manager, Wine maps only
# the client area as an X window (placed where the client would sit inside
# the frame), so that window's (x, y) is frame-buffer (x, y).
#
# The sourcing script sets PROGRAM, PROBE and PREFIX (from its arguments).

set -u
export WINEPREFIX=$PREFIX WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
XVFB_PID=
SHOT=$(mktemp -t zorve-shot.XXXXXX)
PIDS_TO_STOP=()

T0=$(date +%s%N)
log() {
    local ms=$((($(date +%s%N) - T0) / 1000000))
    printf '[%3d.%03ds] %s\n' $((ms / 1000)) $((ms % 1000)) "$*"
}

fail() {
    log "FAIL: $*"
    exit 1
}

# Ends this prefix's wineserver and waits until it is gone, so the next
# script on the same prefix does not reach a server that is shutting down.
stop_wineserver() {
    wineserver -k 2>/dev/null || true
    timeout 30 wineserver -w 2>/dev/null || true
}

cleanup() {
    local pid
    for pid in "${PIDS_TO_STOP[@]}"; do kill "$pid" 2>/dev/null || true; done
    stop_wineserver
    [ -n "$XVFB_PID" ] && kill "$XVFB_PID" 2>/dev/null || true
    rm -f "$SHOT" "$SHOT".*
}
trap cleanup EXIT

# wait_for SECONDS DESCRIPTION COMMAND...: polls COMMAND every 0.1 s until it
# succeeds; fails the test when the deadline passes.
MISMATCH=
wait_for() {
    local seconds=$1 what=$2
    shift 2
    local deadline=$(($(date +%s%N) + seconds * 1000000000))
    MISMATCH=
    until "$@"; do
        [ "$(date +%s%N)" -lt "$deadline" ] || fail "no $what within ${seconds}s${MISMATCH:+ (last: $MISMATCH)}"
        sleep 0.1
    done
}

# start_display [WxH]: Xvfb on the first free display from :140 on, a range
# kept clear of the low numbers other tools pick by default. The display is
# ours only when its lock file names our server: two scripts may race for a
# number, and the loser's server exits.
start_display() {
    local n
    for n in $(seq 140 199); do
        [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] && continue
        Xvfb ":$n" -screen 0 "${1:-1280x1024}x24" -nolisten tcp 2>/dev/null &
        XVFB_PID=$!
        local deadline=$(($(date +%s%N) + 10000000000))
        while kill -0 "$XVFB_PID" 2>/dev/null && [ "$(date +%s%N)" -lt "$deadline" ]; do
            if [ "$(tr -d ' \n' <"/tmp/.X$n-lock" 2>/dev/null)" = "$XVFB_PID" ] && [ -e "/tmp/.X11-unix/X$n" ] &&
                xdpyinfo -display ":$n" >/dev/null 2>&1; then
                export DISPLAY=:$n
                log "Xvfb on $DISPLAY"
                return 0
            fi
            sleep 0.05
        done
        kill "$XVFB_PID" 2>/dev/null
        XVFB_PID=
    done
    fail "no free X display"
}

# A left-over server from an earlier run is stopped first; one retry covers a
# server that was still exiting.
prepare_prefix() {
    mkdir -p "$WINEPREFIX"
    stop_wineserver
    local attempt
    for attempt in 1 2; do
        if timeout 180 wine wineboot --init >"$SHOT.boot" 2>&1; then
            log "prefix ready: $WINEPREFIX"
            return 0
        fi
        log "wineboot attempt $attempt failed: $(tail -n3 "$SHOT.boot" | tr '\n' ' ')"
        stop_wineserver
    done
    fail "wineboot did not finish"
}

# set_dpi N: the prefix's DPI (96 is 100 %), read by the next Wine start.
set_dpi() {
    wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$1" /f >/dev/null 2>&1 ||
        fail "cannot set LogPixels to $1"
    stop_wineserver
    log "prefix at $1 DPI"
}

# probe ARGS...: runs window_probe; its output without CRs, its exit status.
probe() {
    local out status
    out=$(timeout 30 wine "$PROBE" "$@" 2>/dev/null)
    status=$?
    [ -n "$out" ] && printf '%s\n' "${out//$'\r'/}"
    return $status
}

# The X window of the main window's client area, in MAIN_XID.
find_main_xwindow() {
    MAIN_XID=$(xdotool search --onlyvisible --name '^ZORVE_BUTTON$' 2>/dev/null | head -n1)
    [ -n "$MAIN_XID" ]
}

screenshot() { xwd -id "$MAIN_XID" -silent >"$SHOT"; }

# Pointer actions at frame-buffer coordinates.
pointer_to() { xdotool mousemove --window "$MAIN_XID" "$1" "$2"; }

# pixels X,Y ... -> RRGGBB of each, in hex, one a line, from the last screenshot.
# count RRGGBB X Y W H -> how many pixels of that colour lie in the rectangle;
# without the rectangle, in the whole picture.
# rows X Y W H ... -> each rectangle, one line of RRGGBB values per row, and a
# line "-" after each.
read_shot() {
    python3 - "$SHOT" "$@" <<'PY'
import struct, sys
data = open(sys.argv[1], "rb").read()
h = struct.unpack(">25I", data[:100])
header_size, width, height = h[0], h[4], h[5]
byte_order, bpp, stride, ncolors = h[7], h[11], h[12], h[19]
masks = h[14:17]
base = header_size + 12 * ncolors
def px(x, y):
    at = base + y * stride + x * (bpp // 8)
    v = int.from_bytes(data[at:at + bpp // 8], "little" if byte_order == 0 else "big")
    out = 0
    for m in masks:
        shift = (m & -m).bit_length() - 1
        out = out << 8 | ((v & m) >> shift)
    return out
args = sys.argv[2:]
if args[0] == "pixels":
    for xy in args[1:]:
        x, y = map(int, xy.split(","))
        print("%06X" % px(x, y) if 0 <= x < width and 0 <= y < height else "outside")
elif args[0] == "count":
    want = int(args[1], 16)
    x0, y0, w, hh = map(int, args[2:6]) if len(args) == 6 else (0, 0, width, height)
    print(sum(px(x, y) == want for y in range(y0, y0 + hh) for x in range(x0, x0 + w)))
elif args[0] == "rows":
    for i in range(1, len(args), 4):
        x0, y0, w, hh = map(int, args[i:i + 4])
        for y in range(y0, y0 + hh):
            print(" ".join("%06X" % px(x, y) for x in range(x0, x0 + w)))
        print("-")
PY
}

# scaled_like FILE S W H: true when the last screenshot shows the top-left
# W x H pixels of screenshot FILE with each pixel as an S x S block;
# otherwise MISMATCH names the first block that differs.
scaled_like() {
    MISMATCH=$(python3 - "$1" "$SHOT" "$2" "$3" "$4" 2>&1 <<'PY'
import struct, sys
def load(path):
    data = open(path, "rb").read()
    h = struct.unpack(">25I", data[:100])
    base = h[0] + 12 * h[19]
    bpp, stride = h[11] // 8, h[12]
    def px(x, y):
        at = base + y * stride + x * bpp
        return data[at:at + bpp]
    return px, h[4], h[5]
small, sw, sh = load(sys.argv[1])
big, bw, bh = load(sys.argv[2])
s, w, h = map(int, sys.argv[3:6])
if sw < w or sh < h or bw < w * s or bh < h * s:
    sys.exit(f"screenshots {sw}x{sh} and {bw}x{bh} are too small")
for y in range(h):
    for x in range(w):
        want = small(x, y)
        for dy in range(s):
            for dx in range(s):
                if big(s * x + dx, s * y + dy) != want:
                    sys.exit(f"({s * x + dx}, {s * y + dy}) is not panel pixel ({x}, {y})")
PY
) || return 1
}

# check_shot X,Y=RRGGBB ...: true when the last screenshot has all of them;
# otherwise MISMATCH names the first that differs.
check_shot() {
    local -a got
    mapfile -t got < <(read_shot pixels "${@%=*}")
    local i
    for i in "${!got[@]}"; do
        local spec=${@:i+1:1}
        [ "${got[i]}" = "${spec#*=}" ] || { MISMATCH="(${spec%=*}) is ${got[i]}, want ${spec#*=}"; return 1; }
    done
    [ "${#got[@]}" -eq $# ] || { MISMATCH="screenshot unreadable"; return 1; }
}

# The client area of the main window as X has it: "W H".
client_size() { xdotool getwindowgeometry "$MAIN_XID" | sed -n 's/.*Geometry: \([0-9]*\)x\([0-9]*\).*/\1 \2/p'; }

# pixels_are X,Y=RRGGBB ...: true when a fresh screenshot has all of them.
pixels_are() { screenshot && check_shot "$@"; }

# expect_pixels X,Y=RRGGBB ...: checks the last screenshot and reports.
expect_pixels() {
    check_shot "$@" || fail "pixel $MISMATCH"
    log "pixels ok: $*"
}

# start_program [ARGS...]: starts the program in the background, stdout to
# $SHOT.out; its pid is in PROGRAM_PID.
start_program() {
    wine "$PROGRAM" "$@" >"$SHOT.out" 2>/dev/null &
    PROGRAM_PID=$!
    PIDS_TO_STOP+=("$PROGRAM_PID")
}

main_window_shown() { probe main | grep -q 'visible 1' && find_main_xwindow; }

# The first tick has replaced the start-up fill with the panel: background,
# and key "A" at (540, 10), 60 x 30, released (open corner, light outer
# edges, dark lower edge, face 0xBBBBBB).
expect_drawn_panel() {
    wait_for 10 "drawn panel (background at (5, 5))" pixels_are 5,5=444444
    log "panel drawn"
    expect_pixels 540,10=444444 541,11=777777 542,12=777777 598,38=444444 543,13=BBBBBB 596,36=BBBBBB
}

# close_and_expect_success PID [WHO]: closes the main window through the
# probe; PID must then end with status 0.
close_and_expect_success() {
    local pid=$1 who=${2:-program}
    probe close || fail "no main window to close"
    local status=0
    wait_exit "$pid" 20 || status=$?
    [ "$status" -eq 0 ] || fail "$who ended with status $status"
}

# wait_exit PID SECONDS: waits for the process to end; returns its status.
wait_exit() {
    local pid=$1 seconds=$2
    local deadline=$(($(date +%s%N) + seconds * 1000000000))
    while kill -0 "$pid" 2>/dev/null; do
        [ "$(date +%s%N)" -lt "$deadline" ] || fail "process $pid still running after ${seconds}s"
        sleep 0.1
    done
    wait "$pid"
}
