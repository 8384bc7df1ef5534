"""End-to-end cases of the Windows program under Xvfb and Wine, each in a
prefix and on a display of its own (the `wine` fixture), on the harness's
waits, log, Xvfb and X pixel reads; window_probe asks USER what the X
server cannot tell. The Windows build tree's CTest runs them
(tests/CMakeLists.txt)."""

import os
import re
import subprocess
import tempfile
import time
import zipfile

import pytest

from zorve_harness import Failure, check, log, wait_for

pytestmark = [pytest.mark.windows, pytest.mark.tools("Xvfb", "xdotool", "wine", "wineserver")]

A_RELEASED = {(543, 13): 0xBBBBBB, (541, 11): 0x777777, (598, 38): 0x444444}


def icon_summary(x, window):
    """(teal pixels, pixels of neither colour, all teal on the 7-pixel grid,
    top-left pixel, pixel (2, 2)) of the window's 32 x 32 _NET_WM_ICON."""
    prop = x.property(window, "_NET_WM_ICON")
    check(prop and prop[2], "no icon on the window")
    v = [p & 0xFFFFFFFF for p in prop[2]]
    while v and (v[0], v[1]) != (32, 32):
        v = v[2 + v[0] * v[1]:]
    check(v, "no 32 x 32 icon")
    px = v[2:2 + 32 * 32]
    teal = [(i % 32, i // 32) for i, p in enumerate(px) if p == 0xFF408080]
    other = [p for p in px if p not in (0xFF408080, 0xFFFFFF80)]
    grid = all((x - 2) % 7 < 6 and (y - 2) % 7 < 6 and 2 <= x <= 28 and 2 <= y <= 28 for x, y in teal)
    return len(teal), len(other), grid, px[0], px[2 * 32 + 2]


def scaled_like(big, small, scale, w, h):
    """None when picture `big` shows the top-left w x h pixels of `small`
    with each pixel as a scale x scale block; else the first block that
    differs."""
    if small.width < w or small.height < h or big.width < w * scale or big.height < h * scale:
        return f"pictures {small.width}x{small.height} and {big.width}x{big.height} are too small"
    for y in range(h):
        row = small.data[y * small.width * 4:(y * small.width + w) * 4]
        blown = b"".join(row[i:i + 4] * scale for i in range(0, len(row), 4))
        for dy in range(scale):
            at = ((scale * y + dy) * big.width) * 4
            if big.data[at:at + len(blown)] != blown:
                got = big.data[at:at + len(blown)]
                x = next(i for i in range(0, len(blown), 4) if got[i:i + 4] != blown[i:i + 4]) // 4
                return f"({x}, {scale * y + dy}) is not panel pixel ({x // scale}, {y})"
    return None


def client_size(wine, window):
    return wine.x.geometry(window)[2:]


def start(wine, case, program, *args):
    """The program with `args`, its stdout in the case's log; (process, log path)."""
    case.programs += 1
    out = os.path.join(case.out, f"{case.name}-program{case.programs}.log")
    return wine.start(program, args, out), out


def output_lines(path):
    with open(path, errors="replace") as f:
        return f.read().replace("\r", "").splitlines()


def count_lines(path, text):
    return sum(text in line for line in output_lines(path))


@pytest.mark.screen("2800x1700")
def test_windows_panel(case, wine, built):
    """The window shows the drawn panel at the frame buffer's coordinates, a
    held click shows the key pressed and the release shows it raised again,
    and closing the window ends the process with status 0. Then the scale:
    with --scale 3, and with the prefix at 192 DPI (200 %), each panel pixel
    is a block, the pointer is divided back, and --scale 1 there shows the
    panel unstretched (the program is DPI-aware)."""
    w, program = wine, built("program")
    w.set_dpi(96)  # the prefix may keep 192 from an earlier run
    proc, _ = start(w, case, program)
    win = w.wait_main_window()
    main = w.probe("main")[1].strip()
    log(f"window: {main}")
    check(main.startswith("outer 0 0 910 550 "), f"outer window is not 910 x 550 at (0, 0): {main}")
    # The X window shown is the client area, where USER says the client is.
    origin = tuple(int(v) for v in re.search(r" origin (-?\d+) (-?\d+) ", main).groups())
    check(w.x.geometry(win)[:2] == origin, f"X window of the client is not at the client origin {origin}")
    # The class icon reaches X as the window's _NET_WM_ICON (ARGB): the 32 x 32
    # program icon, opaque, pale yellow with 16 teal 6 x 6 squares.
    icon = icon_summary(w.x, win)
    log(f"icon: {icon[0]} teal, {icon[1]} other, grid {icon[2]}, {icon[3]:08X} {icon[4]:08X}")
    check(icon == (576, 0, True, 0xFFFFFF80, 0xFF408080), f"window icon is not the program icon: {icon}")

    w.expect_drawn_panel(win)
    shot = w.x.picture(win)
    label = shot.count(0x000000, 543, 13, 54, 24)  # key A's black label
    check(label >= 15, f"key A shows {label} black label pixels")
    log(f"key A label: {label} black pixels")
    caption = shot.count(0xFFFFFF, 48, 455, 100, 20)
    check(caption >= 30, f"caption TRACK SELECT shows {caption} white pixels")
    log(f"caption: {caption} white pixels")

    # Hold the left button on key A: pressed face 0xFFFFFF, edges swapped.
    w.pointer_to(win, 570, 25)
    w.xdo("mousedown", 1)
    w.wait_pixels(win, {(543, 13): 0xFFFFFF, (541, 11): 0x444444, (598, 38): 0x777777}, "pressed key A")
    log("key A pressed")
    pressed_label = w.x.picture(win).count(0x000000, 543, 13, 54, 24)
    check(pressed_label >= 15, f"pressed key A shows {pressed_label} black label pixels")
    # Its neighbour "B" at (620, 10) stays raised.
    w.expect_pixels(win, {(621, 11): 0x777777, (623, 13): 0xBBBBBB, (678, 38): 0x444444})
    w.xdo("mouseup", 1)
    w.wait_pixels(win, A_RELEASED, "released key A")
    log("key A released")

    at96 = w.x.picture(win)
    client_w, client_h = client_size(w, win)
    log(f"picture at 96 DPI: {client_w}x{client_h}")
    w.close_and_expect_success(proc)
    log("closed, status 0")
    check(w.probe("main")[0] != 0, "main window still there")

    def scaled_run(scale, *args):
        """The program with `args` shows the panel `scale` times, and a press
        at key A's scaled top-left corner holds A."""
        proc, out = start(w, case, program, *args)
        win = w.wait_main_window(f"main window with {args}")
        width, height = client_size(w, win)
        log(f"{args}: client area {width}x{height}")
        check(width >= client_w * scale and height >= client_h * scale, f"client area {width}x{height} with {args}, "
              f"want at least {client_w * scale}x{client_h * scale}")
        last = {}

        def shown():
            last["wrong"] = scaled_like(w.x.picture(win), at96, scale, client_w, client_h)
            return last["wrong"] is None

        try:
            wait_for(shown, 20, f"the panel scaled {scale} times", interval=0.1)
        except Failure as failure:
            raise Failure(f"{failure} (last: {last.get('wrong')})")
        w.pointer_to(win, 540 * scale, 10 * scale)
        w.xdo("mousedown", 1)
        w.wait_pixels(win, {(543 * scale, 13 * scale): 0xFFFFFF, (541 * scale, 11 * scale): 0x444444},
                      "key A held at the scaled corner")
        w.xdo("mouseup", 1)
        w.wait_pixels(win, {(543 * scale, 13 * scale): 0xBBBBBB}, "key A released")
        return proc, win, out

    proc, _, _ = scaled_run(3, "--scale", "3")
    w.close_and_expect_success(proc, "--scale 3")

    w.set_dpi(192)
    proc, win, out = scaled_run(2, "--monitor")
    # A click at key A's scaled centre sends A; one left of its scaled edge
    # (panel x 539) sends nothing. The press at the corner printed A's lines
    # already, so the wait is for a click on key B after them: its release,
    # the first line of its kind, comes once both clicks were handled.
    w.pointer_to(win, 1079, 50)
    w.xdo("click", 1)
    w.pointer_to(win, 1141, 51)
    w.xdo("click", 1)
    w.pointer_to(win, 1300, 50)
    w.xdo("click", 1)
    wait_for(lambda: count_lines(out, "90 5A 00") > 0, 5, "the release of key B in the monitor lines")
    lines = output_lines(out)
    want = ["dev -  90 59 7F", "dev -  90 59 00", "dev -  90 59 7F", "dev -  90 59 00", "dev -  90 5A 7F",
            "dev -  90 5A 00"]
    check(lines == want, f"monitor at 192 DPI printed {lines}, want {want}")
    log(f"monitor at 192 DPI: {lines}")
    w.close_and_expect_success(proc, "the program at 192 DPI")

    # --scale 1 at 192 DPI: the panel as at 96 DPI, not stretched by the system.
    proc, _ = start(w, case, program, "--scale", "1")
    win = w.wait_main_window("main window with --scale 1 at 192 DPI")
    width, height = client_size(w, win)
    log(f"--scale 1 at 192 DPI: client area {width}x{height}")
    check(width <= 910 and height <= 550, f"client area {width}x{height} with --scale 1 at 192 DPI: stretched")
    w.wait_pixels(win, {(5, 5): 0x444444, (541, 11): 0x777777, (543, 13): 0xBBBBBB, (598, 38): 0x444444},
                  "unscaled panel", timeout=10)
    w.close_and_expect_success(proc, "--scale 1 at 192 DPI")


def test_windows_second_instance(case, wine, built):
    """A second start shows the box titled "PC_ZORVE" saying "Proram still
    running?", opens no window of its own and ends once the box is dismissed,
    while the first copy keeps running and answering input; closing the
    first copy then ends it with status 0."""
    w, program = wine, built("program")
    first, _ = start(w, case, program)
    win = w.wait_main_window()
    w.wait_pixels(win, {(5, 5): 0x444444}, "drawn panel", timeout=10)
    log("first copy running")

    second, _ = start(w, case, program)
    wait_for(lambda: w.probe("box")[1].startswith('title "PC_ZORVE" visible 1'), 30,
             "message box of the second start", interval=0.1)
    box = w.probe("box")[1].splitlines()
    log(f"box: {'|'.join(box)}")
    check('child Static "Proram still running?"' in box, f"box text: {box}")
    check('child Button "OK"' in box, f"box has no OK button: {box}")
    check(sum(line.startswith("child Button") for line in box) == 1, f"box has more than one button: {box}")
    # The X side agrees: a mapped window with that title, with text drawn in it.
    shown = w.x.find("PC_ZORVE")
    check(shown, "no visible X window titled PC_ZORVE")
    ink = w.x.picture(shown[0]).count(0x000000)
    check(ink >= 50, f"the box shows {ink} black pixels: no text drawn")
    log(f"box on screen: {w.x.geometry(shown[0])}, {ink} black pixels")

    count = w.probe("count")[1].strip()
    check(count == "1", f"{count} windows of the program's class while the box is up")
    check(first.poll() is None, "first copy ended")
    # The first copy still answers: a held click on key "A" shows it pressed.
    w.pointer_to(win, 570, 25)
    w.xdo("mousedown", 1)
    w.wait_pixels(win, {(543, 13): 0xFFFFFF, (541, 11): 0x444444}, "pressed key A in the first copy")
    w.xdo("mouseup", 1)
    w.wait_pixels(win, {(543, 13): 0xBBBBBB, (541, 11): 0x777777}, "released key A in the first copy")
    log("first copy answers input while the box is up")

    check(w.probe("dismiss-box")[0] == 0, "box vanished before it was dismissed")
    status = w.wait_exit(second, 20)
    log(f"second copy ended with status {status} after the box")
    check(status == 1, f"second copy ended with status {status}, want 1")

    check(first.poll() is None, "first copy ended with the second")
    check(w.main_window(), "first copy's window is gone")
    w.wait_pixels(win, {(5, 5): 0x444444, (541, 11): 0x777777}, "panel of the first copy")
    w.close_and_expect_success(first, "first copy")
    log("first copy closed, status 0")


@pytest.mark.screen("800x500")
def test_windows_small_screen(case, wine, built):
    """On a screen smaller than the panel the outer window takes the usable
    full-screen area instead of 910 x 550, and the panel keeps its pixel
    coordinates: the window shows the frame buffer's top-left part unscaled."""
    w, program = wine, built("program")
    screen_w, screen_h = map(int, w.probe("screen")[1].split())
    log(f"usable full-screen area: {screen_w} x {screen_h}")
    check(screen_w < 910 and screen_h < 550, f"screen area {screen_w} x {screen_h} is not smaller than the panel")
    proc, _ = start(w, case, program)
    win = w.wait_main_window()
    main = w.probe("main")[1].strip()
    log(f"window: {main}")
    check(main.startswith(f"outer 0 0 {screen_w} {screen_h} "), f"outer window is not {screen_w} x {screen_h} "
          f"at (0, 0): {main}")
    w.wait_pixels(win, {(5, 5): 0x444444}, "drawn panel", timeout=10)
    # Key "A" at (540, 10) sits where it does on a large screen.
    w.expect_pixels(win, {(541, 11): 0x777777, (543, 13): 0xBBBBBB, (598, 38): 0x444444})
    w.close_and_expect_success(proc)


def test_windows_on_top(case, wine, built):
    """--on-top makes the main window a topmost one (WS_EX_TOPMOST); without
    the option it is an ordinary window."""
    w, program = wine, built("program")
    for args, want in (([], 0), (["--on-top"], 1)):
        proc, _ = start(w, case, program, "--midi", "none", *args)
        w.wait_main_window()
        main = w.probe("main")[1]
        log(f"{args}: {main.strip()}")
        check(any(line.endswith(f" topmost {want}") for line in main.splitlines()),
              f"{args}: window is not topmost {want}: {main.strip()}")
        w.close_and_expect_success(proc)


class Monitor:
    """The monitor lines of a program (--monitor), in its log `path`: all it
    printed so far must be the lines expected so far."""

    def __init__(self, path):
        self.path = path
        self.sent = []

    def holds(self):
        return output_lines(self.path) == self.sent

    def expect(self, *lines):
        """These lines come next, and nothing else."""
        self.sent += lines
        try:
            wait_for(self.holds, 5, f"monitor lines {list(lines)}", interval=0.1)
        except Failure as failure:
            raise Failure(f"{failure} (printed: {output_lines(self.path)})")


@pytest.mark.screen("1280x800")
def test_windows_play(case, wine, built):
    """Playing: with --keys the keys of the map send their panel key's bytes
    by place (z is pad 1, F10 the system key is pad bank D, the keypad's
    Enter and Left the panel's), once however long a key is held, several at
    once; the focus going while a key is held sends its 0, Escape the 0s and
    All Notes Off; --velocity 100 is the value of a click. The bytes are read
    from --monitor's lines (Wine has no MIDI devices: "dev -")."""
    w, program = wine, built("program")
    w.set_dpi(96)
    proc, out = start(w, case, program, "--keys", "--monitor", "--midi", "none")
    win = w.wait_main_window()
    w.expect_drawn_panel(win)
    w.xdo("windowfocus", "--sync", win)
    monitor = Monitor(out)

    def keys(*args):
        # Strokes 50 ms apart, as a hand types them.
        w.xdo(*args)
        time.sleep(0.05)

    keys("keydown", "z")
    monitor.expect("dev -  B0 10 7F")
    keys("keyup", "z")
    monitor.expect("dev -  B0 10 00")
    # Up, the data wheel, held for a second: its repeats step again, so keys
    # do repeat here; z held as long sends once (bit 30 marks the repeats).
    keys("keydown", "Up")
    time.sleep(1)
    keys("keyup", "Up")
    wait_for(lambda: count_lines(out, "90 72 00") >= 2, 5, "Up's repeats")
    monitor.sent = output_lines(out)
    keys("keydown", "z")
    time.sleep(1)
    keys("keyup", "z")
    monitor.expect("dev -  B0 10 7F", "dev -  B0 10 00")
    keys("keydown", "z", "keydown", "x")
    monitor.expect("dev -  B0 10 7F", "dev -  B0 11 7F")
    keys("keyup", "x", "keyup", "z")
    monitor.expect("dev -  B0 11 00", "dev -  B0 10 00")
    keys("key", "F10", "KP_Enter", "Left", "space")
    monitor.expect("dev -  90 5C 7F", "dev -  90 5C 00", "dev -  90 71 7F", "dev -  90 71 00", "dev -  90 0D 7F",
                   "dev -  90 0D 00", "dev -  90 02 7F", "dev -  90 02 00")
    log("keys by place: z, x, F10, keypad Enter, Left, Space")

    keys("keydown", "z")
    monitor.expect("dev -  B0 10 7F")
    w.xdo("windowfocus", w.x.root)
    monitor.expect("dev -  B0 10 00")
    keys("keyup", "z")
    log("focus lost while z is held: its 0")

    # Wine takes the focus back at a click (on no key) as well as from X.
    w.xdo("windowfocus", "--sync", win)
    w.pointer_to(win, 300, 380)
    w.xdo("click", 1)
    keys("keydown", "z", "keydown", "space")
    monitor.expect("dev -  B0 10 7F", "dev -  90 02 7F")
    keys("key", "Escape")
    monitor.expect("dev -  90 02 00", "dev -  B0 10 00", "dev -  B0 7B 00")
    keys("keyup", "z", "keyup", "space")
    time.sleep(0.3)
    check(monitor.holds(), f"lines after Escape's keyups: {output_lines(out)}")
    log("Escape: the 0s, then All Notes Off")
    w.close_and_expect_success(proc)

    proc, out = start(w, case, program, "--velocity", "100", "--monitor", "--midi", "none")
    win = w.wait_main_window("main window with --velocity 100")
    w.expect_drawn_panel(win)
    w.pointer_to(win, 570, 25)
    w.xdo("click", 1)
    Monitor(out).expect("dev -  90 59 64", "dev -  90 59 00")
    log("--velocity 100: a click on A")
    w.close_and_expect_success(proc, "--velocity 100")


def fresh_zip(path, build):
    """The zip cpack made in the build tree, made again here when missing or
    older than the program."""
    if not os.path.exists(path) or os.path.getmtime(path) < os.path.getmtime(os.path.join(build, "zorve-button.exe")):
        log(f"{path} missing or older than the program: running cpack -G ZIP")
        result = subprocess.run(["cpack", "-G", "ZIP"], cwd=build, capture_output=True, text=True, timeout=300)
        check(result.returncode == 0, f"cpack -G ZIP failed: {result.stdout}{result.stderr}")
    log(f"zip: {os.path.getsize(path)} bytes")
    return path


@pytest.mark.tools("Xvfb", "xdotool", "wine", "wineserver", "cpack")
def test_windows_zip(case, options, request):
    """The Windows zip (cpack -G ZIP, made here when missing or older than
    the program): exactly the program, README.txt, LICENSE.txt and the two
    example maps, the texts with CR LF line ends; the unpacked program reports its version, turns
    away the options Windows lacks, lists no devices (Wine has none here) and
    the 90 keys, and under Xvfb and Wine draws the panel, prints monitor
    lines for a click and ends with status 0 when closed."""
    version = options.version
    check(options.build and version and options.zip, "--build, --project-version and --zip must name the Windows "
          "build tree, its version and its zip")
    archive = fresh_zip(options.zip, options.build)
    top = f"zorve-button-{version}-win64"
    with zipfile.ZipFile(archive) as z:
        listing = sorted(z.namelist())
        want = [f"{top}/LICENSE.txt", f"{top}/README.txt", f"{top}/examples/", f"{top}/examples/drums.toml",
                f"{top}/examples/programs.toml", f"{top}/zorve-button.exe"]
        check(listing == want, f"zip holds {listing}, want {want}")
        unpacked = tempfile.mkdtemp(prefix="zorve-zip-")
        request.addfinalizer(lambda: subprocess.run(["rm", "-rf", unpacked]))
        z.extractall(unpacked)
    folder = os.path.join(unpacked, top)
    for name, first in (("README.txt", b"zorve-button for Windows\r\n"), ("LICENSE.txt", b"MIT License\r\n")):
        with open(os.path.join(folder, name), "rb") as f:
            data = f.read()
        check(data.startswith(first), f"{name} starts {data[:40]!r}")
        check(data.count(b"\n") == data.count(b"\r\n") > 10, f"{name} is not CR LF throughout")
    # The Windows README: the key table as --list-keys prints it, and nothing
    # of the developer's Linux set-up.
    with open(os.path.join(folder, "README.txt"), "rb") as f:
        readme = f.read()
    for row in (b"A            pad bank      Note On             89        1    127  F7",
                b"minus        keypad        Note On            112        1    127  keypad -"):
        check(b"\r\n" + row + b"\r\n" in readme, f"README.txt lacks the key table's row {row!r}")
    for linux in (b"apt", b"scripts/", b".md", b"JACK", b"ALSA"):
        check(linux not in readme, f"README.txt speaks Linux: {linux!r}")
    with open(os.path.join(folder, "LICENSE.txt"), "rb") as f:
        check(b"Copyright (c) 2026 The zorve-button developers" in f.read(), "LICENSE.txt lacks the copyright line")
    log(f"contents: {listing}")

    w = request.getfixturevalue("wine")
    program = os.path.join(folder, "zorve-button.exe")
    status, out, _ = w.output([program, "--version"])
    check(out.strip() == f"zorve-button {version}", f"--version printed {out!r}")
    log(f"--version: {out.strip()}")
    for wrong in ("--scale 5", "--midi jack", "--bogus"):
        status, _, err = w.output([program, *wrong.split()])
        said = [line for line in err.splitlines() if line.startswith("zorve-button: ")]
        check(status == 64, f"{wrong}: exit status {status}, want 64")
        check(len(said) == 1 and wrong.split()[0] in said[0] and said[0].endswith(". Try 'zorve-button --help'."),
              f"{wrong}: stderr {said}")
        log(f"{wrong}: status 64, {said[0]}")
    check(not w.x.find("ZORVE_BUTTON"), "an option error opened a window")
    # Wine has no MIDI devices here.
    out = w.output([program, "--list-devices"])[1]
    check(out == "outputs: 0\ninputs: 0\n", f"--list-devices printed {out!r}")
    log(f"--list-devices: {out.split()}")
    keys = w.output([program, "--list-keys"])[1].splitlines()
    check(len(keys) == 91 and [keys[0], keys[1], keys[90]] == [
        "key          group         message         number  channel  value  computer key",
        "A            pad bank      Note On             89        1    127  F7",
        "16           pad           Control Change      31        1    127  4"], f"--list-keys printed {keys[:3]} ... "
          f"({len(keys)} lines)")
    log("--list-keys: 90 keys")

    # With the monitor on, a click on key A is two lines on stdout, each naming
    # no device: none exists to get it.
    proc, out = start(w, case, program, "--monitor")
    win = w.wait_main_window()
    w.expect_drawn_panel(win)
    w.pointer_to(win, 570, 25)
    w.xdo("click", 1)
    wait_for(lambda: count_lines(out, "90 59 00") > 0, 5, "the release in the monitor lines")
    lines = output_lines(out)
    check(lines == ["dev -  90 59 7F", "dev -  90 59 00"], f"monitor printed {lines}")
    log(f"monitor: {lines}")
    w.close_and_expect_success(proc)


# Data-wheel notes: toward the user or Up arrow, away or Down arrow.
WHEEL_TOWARD, WHEEL_AWAY = 114, 115
NAME_31 = "Port two: 31 characters exactly"  # the most the driver's wide name field holds
NAME_40 = "Port three: forty characters long, to 40"  # reaches the program cut to 31
OUTS = f"Device zero|Synth on port 1|{NAME_31}|{NAME_40}|Fifth device"
INS = "Keys in|Pads in|Pedal in|Clock in"


def messages(ports, status, number, value):
    """One message to each port, in order, as the driver logs it."""
    return [f"out {p} data {status:02x} {number:02x} {value:02x}" for p in ports]


def click_messages(ports, status, number):
    """A press then a release."""
    return messages(ports, status, number, 127) + messages(ports, status, number, 0)


def on_channel(channel, status, number):
    """The message's status and number on channel `channel`."""
    return status | (channel - 1), number


class Devices:
    """The program against the test MIDI driver, one case at a time: each
    starts the program anew, because winmm reads the device list once per
    process. The driver logs every open, start and message it receives."""

    def __init__(self, case, wine, program, driver, keys):
        self.case, self.w, self.program = case, wine, program
        self.logs = wine.prefix + "-logs"
        subprocess.run(["rm", "-rf", self.logs])
        os.makedirs(self.logs)
        with open(keys) as f:
            self.keys = [line.split(" ", 7) for line in f.read().splitlines()]
        check(len(self.keys) == 90, f"key table has {len(self.keys)} rows, not 90")
        # Wine 8's winmm takes its MIDI devices from the audio driver
        # mmdevapi chose: "Audio" = testmidi makes it load winetestmidi.drv
        # from system32.
        subprocess.run(["cp", driver, os.path.join(wine.prefix, "drive_c/windows/system32/winetestmidi.drv")],
                       check=True)
        check(wine.run(["reg", "add", r"HKCU\Software\Wine\Drivers", "/v", "Audio", "/d", "testmidi", "/f"])[0] == 0,
              "cannot set the audio driver")
        log("driver installed as the prefix's audio driver")
        self.looks = {}

    def user_map(self):
        """Where the program looks for the user's map without --map:
        %APPDATA%\\zorve-button\\map.toml, as a path here."""
        status, appdata, _ = self.w.output(["cmd", "/c", "echo", "%APPDATA%"])
        unix = subprocess.run(["winepath", "-u", appdata.strip()], env=self.w.env, capture_output=True, text=True,
                              timeout=60).stdout.strip()
        check(status == 0 and unix and os.path.isdir(unix), f"no %APPDATA% folder in the prefix ({appdata!r})")
        return os.path.join(unix, "zorve-button", "map.toml")

    def start(self, name, outputs, inputs, faults="", in_data=0, args=()):
        """Device names separated by '|'; `faults` as the driver reads them
        (out-open:N in-open:N in-start:N); `args` for the program."""
        self.name = name
        self.log_path = os.path.join(self.logs, f"{name}.log")
        self.input_path = os.path.join(self.logs, f"{name}.in")
        open(self.log_path, "w").close()
        open(self.input_path, "w").close()
        self.seen = 0
        env = {"TESTMIDI_OUTPUTS": outputs, "TESTMIDI_INPUTS": inputs, "TESTMIDI_FAIL": faults,
               "TESTMIDI_IN_DATA": str(in_data), "TESTMIDI_LOG": "Z:" + self.log_path,
               "TESTMIDI_IN_FILE": "Z:" + self.input_path}
        self.case.programs += 1
        out = os.path.join(self.case.out, f"{self.case.name}-program{self.case.programs}.log")
        self.err_path = os.path.join(self.logs, f"{name}.err")
        self.proc = self.w.start(self.program, args, out, env, self.err_path)
        self.win = self.w.wait_main_window(f"main window ({name})")
        self.w.wait_pixels(self.win, {(5, 5): 0x444444}, f"drawn panel ({name})", timeout=10)
        log(f"{name}: running")

    def end(self):
        self.w.close_and_expect_success(self.proc, f"{self.name}: program")
        log(f"{self.name}: PASS")

    # ---- the log

    def lines(self):
        with open(self.log_path, errors="replace") as f:
            return f.read().splitlines()

    def data_lines(self):
        return [line for line in self.lines() if " data " in line]

    def same_lines(self, what, want, got):
        if want == got:
            return
        diff = [f"< {line}" for line in want if line not in got] + [f"> {line}" for line in got if line not in want]
        raise Failure(f"{self.name}: {what} differ (< wanted, > logged): {'|'.join(diff[:12]) or 'order'}")

    def expect_devices(self, *want):
        """The opens, starts and refusals, all of them, in order. They happen
        while the window is created, before it is shown."""
        self.same_lines("device events", list(want), [line for line in self.lines() if " data " not in line])
        log(f"{self.name}: device events ok ({len(want)} lines)")

    def expect_sent(self, want):
        """The messages logged since the last check are exactly `want`. Waits
        for their number, then a little longer for any extra."""
        wait_for(lambda: len(self.data_lines()) >= self.seen + len(want), 30,
                 f"{len(want)} messages at the devices ({self.name})", interval=0.1)
        time.sleep(0.3)
        self.same_lines("messages", want, self.data_lines()[self.seen:])
        self.seen += len(want)

    def expect_nothing_sent(self):
        """No message since the last check. Only meaningful after an action
        the program is known to have handled (click_a_synced)."""
        extra = self.data_lines()[self.seen:]
        check(not extra, f"{self.name}: unexpected messages: {'|'.join(extra[:6])}")

    # ---- input

    def feed(self, device, *data):
        """Input `device` delivers the message (bytes in hex) to the window;
        returns once the driver has posted it."""
        line = f"in {device} delivered {' '.join(data)}"
        before = self.lines().count(line)
        with open(self.input_path, "a") as f:
            f.write(f"{device} {' '.join(data)}\n")
        wait_for(lambda: self.lines().count(line) > before, 5, f'"{line}" ({self.name})', interval=0.05)

    def feed_looks(self, *steps):
        """Each step (input, message in hex, look): the message fed, then the
        wait for the window to look like the saved look (None: no wait)."""
        for device, message, look in steps:
            self.feed(device, *message.split())
            if look:
                self.wait_look(look)

    # ---- the window's looks

    def save_look(self, name):
        self.looks[name] = self.w.x.picture(self.win).data

    def look_is(self, name):
        picture = self.w.x.picture(self.win)
        return picture is not None and picture.data == self.looks[name]

    def wait_look(self, name):
        """Waits until the window looks exactly like the saved look `name`."""
        wait_for(lambda: self.look_is(name), 5, f'look "{name}" ({self.name})', interval=0.1)

    # ---- panel actions

    def key_centre(self, k):
        r = self.keys[k]
        return int(r[1]) + int(r[3]) // 2, int(r[2]) + int(r[4]) // 2

    def key_message(self, k):
        return int(self.keys[k][5], 16), int(self.keys[k][6])

    def key_named(self, status, label):
        """The first key with that status (0x90, 0xB0) and label."""
        return next(int(r[0]) for r in self.keys if int(r[5], 16) == status and r[7] == label)

    def click_at(self, x, y):
        # One xdotool call: its "click" waits 100 ms after every click.
        self.w.xdo("mousemove", "--window", self.win, x, y, "mousedown", 1, "mouseup", 1)

    def click_key(self, k):
        self.click_at(*self.key_centre(k))

    def click_switch(self, k):
        # Switch k's hit rectangle is (10, 378 + 18 (k - 1), 35, 16); its
        # drawn box sits 2 px higher.
        self.click_at(27, 386 + 18 * (k - 1))

    def switch_then_key(self, *steps, channel=1):
        """Each step (switch, key, ports): a click on the switch (its number,
        or a point; None: none), then on the key, whose press and release
        (on `channel`) must reach exactly `ports` (None: not checked here)."""
        for switch, key, ports in steps:
            if isinstance(switch, tuple):
                self.click_at(*switch)
            elif switch:
                self.click_switch(switch)
            self.click_key(key)
            if ports is not None:
                self.expect_sent(click_messages(ports, *on_channel(channel, *self.key_message(key))))

    def press_look(self, k, name):
        """Holds key k down and saves the window then as look `name`; the
        window must look "released" before and after."""
        self.wait_look("released")
        self.w.pointer_to(self.win, *self.key_centre(k))
        self.w.xdo("mousedown", 1)
        wait_for(lambda: not self.look_is("released"), 5, f"pressed key {k} ({self.name})", interval=0.1)
        time.sleep(0.3)
        self.save_look(name)
        self.w.xdo("mouseup", 1)
        self.w.pointer_to(self.win, 5, 5)
        self.wait_look("released")

    def click_a_synced(self):
        """A press and release on key "A" that waits for the pressed and the
        released face: the program has handled both once this returns."""
        self.w.pointer_to(self.win, 570, 25)
        self.w.xdo("mousedown", 1)
        self.w.wait_pixels(self.win, {(543, 13): 0xFFFFFF}, f"pressed key A ({self.name})")
        self.w.xdo("mouseup", 1)
        self.w.wait_pixels(self.win, {(543, 13): 0xBBBBBB}, f"released key A ({self.name})")
        time.sleep(0.3)

    def focus(self):
        try:
            self.w.xdo("windowfocus", "--sync", self.win)
        except subprocess.CalledProcessError:
            pass

    def expect_switches(self, n):
        """Switches 1..n drawn (white box, 2 px above the hit rectangle), the
        others absent."""
        want = {}
        for k in (1, 2, 3):
            top = 376 + 18 * (k - 1)
            if k <= n:
                want.update({(10, top): 0xFFFFFF, (44, top + 15): 0xFFFFFF, (45, top): 0x444444,
                             (10, top - 1): 0x444444})
            else:
                want.update({(10, top): 0x444444, (44, top + 15): 0x444444})
        check(self.w.pixels_are(self.win, want), f"{self.name}: switches for {n} outputs: pixel {self.w.mismatch}")
        log(f"{self.name}: switches 1..{n} shown, the rest absent")

    def expect_names(self, *texts):
        """Switch k shows texts[k - 1] as its device name, pixel for pixel as
        GDI draws it, and nothing else to its right up to the transport keys."""
        status, ref = self.w.probe("text", 400, *texts)
        check(status == 0, "window_probe text failed")
        strips = [[[int(v, 16) for v in line.split()] for line in block.strip("\n").splitlines()]
                  for block in ref.split("-\n")[:len(texts)]]
        rows = len(strips[0])
        check(rows >= 8, f"reference text has {rows} rows")
        picture = self.w.x.picture(self.win)
        for k, (text, strip) in enumerate(zip(texts, strips), start=1):
            if text:
                check(any(0xFFFFFF in row for row in strip), f'reference text "{text}" has no white pixel')
            check(len(strip) == rows, f"reference text {k} is not {rows} rows high")
            check(picture.rows(50, 377 + 18 * (k - 1), 400, rows) == strip,
                  f'{self.name}: switch {k} does not show the name "{text}"')
            log(f'{self.name}: switch {k} shows "{text}"')


def test_windows_midi_devices(case, wine, built):
    """The program sending to WinMM MIDI devices of a test driver, installed
    as this prefix's audio driver, that reports the devices each case names
    and logs every open, start and message it receives. Checked: which
    devices are opened and started and in what order, the bytes of all 90
    keys and of the data wheel at devices 1, 2, 3 in that order and nowhere
    else, the port switches (which exist, the names they show, what they
    turn off), device counts beyond the table, refused opens and starts,
    input data arriving at the window, names longer than the name fields,
    keys lit by input (exactly as a click presses them), the channel option,
    and the user's map from %APPDATA% read again when it changes."""
    d = Devices(case, wine, built("program"), built("midi_driver"), built("key_list"))
    w = wine
    # No map in the user's folder but the map case's own (one left by a run
    # that failed would change every case).
    user_map = d.user_map()
    subprocess.run(["rm", "-rf", os.path.dirname(user_map)])
    check(len(NAME_31) == 31 and len(NAME_40) == 40, f"name lengths {len(NAME_31)} {len(NAME_40)}")
    all_started = ["in 0 open", "in 0 start", "in 0 delivered 3", "in 1 open", "in 1 start", "in 1 delivered 3",
                   "in 2 open", "in 2 start", "in 2 delivered 3", "in 3 open", "in 3 start", "in 3 delivered 3",
                   "out 0 open", "out 1 open", "out 2 open", "out 3 open", "out 4 open"]

    # Five outputs and four inputs; every input delivers three Note On
    # messages the moment it starts, which the window must swallow.
    d.start("five_outputs", OUTS, INS, in_data=3)
    d.expect_devices(*all_started)
    d.expect_switches(3)
    d.expect_names("Synth on port 1", NAME_31, NAME_40[:31])

    # Every key, clicked at its centre in dispatch order in one burst: its
    # press and release at devices 1, 2, 3, nothing at 0 or 4, and no input
    # data echoed.
    burst, want = [], []
    for k in range(len(d.keys)):
        burst += ["mousemove", "--window", d.win, *d.key_centre(k), "mousedown", 1, "mouseup", 1]
        want += click_messages([1, 2, 3], *d.key_message(k))
    w.xdo(*burst)
    d.expect_sent(want)
    log(f"{d.name}: 90 keys sent 540 messages, each to devices 1, 2, 3 in turn")

    # Data wheel, one notch each way, then the Up and Down arrow keys: one
    # on/off pair of notes 114 (toward the user, Up) and 115 (away, Down).
    w.pointer_to(d.win, 5, 5)
    w.xdo("click", 5)
    d.expect_sent(click_messages([1, 2, 3], 0x90, WHEEL_TOWARD))
    w.xdo("click", 4)
    d.expect_sent(click_messages([1, 2, 3], 0x90, WHEEL_AWAY))
    d.focus()
    w.xdo("key", "Up")
    d.expect_sent(click_messages([1, 2, 3], 0x90, WHEEL_TOWARD))
    w.xdo("key", "Down")
    d.expect_sent(click_messages([1, 2, 3], 0x90, WHEEL_AWAY))
    log(f"{d.name}: wheel and arrow keys ok")

    # Switches: each turns its device off and on again; a switch click sends
    # nothing itself. Keys "A" and "B" (the first row) are the probes.
    # (27, 377) lies in switch 1's drawn box but above its hit rectangle;
    # with all three off key "A" sends nothing, which the next step covers;
    # (27, 393) lies below switch 1's drawn box, in its hit rectangle's last row.
    a = d.key_message(0)
    d.switch_then_key((1, 0, [2, 3]), (2, 0, [3]), ((27, 377), 0, [3]), (3, 0, None), (2, 1, [2]),
                      ((27, 393), 1, [1, 2]), (3, 0, [1, 2, 3]))
    log(f"{d.name}: switches turn devices 1, 2, 3 off and on")
    # Nothing read from an input reached an output, and nothing was closed.
    d.expect_devices(*all_started)
    d.end()

    # One output: device 0 only, which never receives; no switch at all.
    d.start("one_output", "Only device", "")
    d.expect_devices("out 0 open")
    d.expect_switches(0)
    d.click_switch(1)
    d.click_a_synced()
    d.expect_switches(0)
    d.expect_nothing_sent()
    d.end()

    # Two outputs: switch 1 only; a click where switch 2 would be changes
    # nothing. Everything goes out on channel 10.
    d.start("two_outputs", "Device zero|Device one", "Keys in|Pads in", args=["--show-input", "--channel", "10"])
    d.expect_devices("in 0 open", "in 0 start", "in 1 open", "in 1 start", "out 0 open", "out 1 open")
    d.expect_switches(1)
    d.expect_names("Device one")
    d.switch_then_key((None, 0, [1]), (2, 0, [1]), channel=10)
    d.expect_switches(1)
    d.click_switch(1)
    d.click_a_synced()
    d.expect_nothing_sent()
    d.switch_then_key((1, 0, [1]), channel=10)

    # Input lights keys from either input on any channel, exactly as a click
    # presses them, and sends nothing. The pressed looks come from real
    # clicks, which send on channel 10 as the Up arrow's wheel note does.
    play, pad = d.key_named(0x90, "PLAY"), d.key_named(0xB0, "1")
    play_note, pad_cc = d.key_message(play)[1], d.key_message(pad)[1]
    p, c, wheel = f"{play_note:02x}", f"{pad_cc:02x}", f"{WHEEL_TOWARD:02x}"
    check(not any(d.key_message(k) in ((0xB0, play_note), (0x90, WHEEL_TOWARD)) for k in range(90)),
          "PLAY's controller or the wheel note is a key")
    w.pointer_to(d.win, 5, 5)
    d.save_look("released")
    d.press_look(play, "play")
    d.expect_sent(click_messages([1], *on_channel(10, *d.key_message(play))))
    d.press_look(pad, "pad")
    d.expect_sent(click_messages([1], *on_channel(10, *d.key_message(pad))))
    d.focus()
    w.xdo("key", "Up")
    d.expect_sent(click_messages([1], *on_channel(10, 0x90, WHEEL_TOWARD)))
    # Each (input, message, the look it leaves; None: not looked at). The
    # messages for no key (PLAY's number as a controller, the wheel's note)
    # come before a pad's: nothing but the pad shows pressed.
    d.feed_looks((0, f"95 {p} 40", "play"), (0, f"90 {p} 00", "released"), (1, f"9f {p} 7f", "play"),
                 (0, f"80 {p} 40", "released"), (0, f"b0 {p} 7f", None), (1, f"90 {wheel} 7f", None),
                 (1, f"b3 {c} 01", "pad"), (0, f"b0 {c} 00", "released"), (0, f"90 {p} 7f", "play"),
                 (1, f"b0 {c} 7f", None))
    # A click on the lit key does not end its input: PLAY stays lit once the
    # pad, lit meanwhile, goes dark.
    d.click_key(play)
    d.expect_sent(click_messages([1], *on_channel(10, *d.key_message(play))))
    d.feed_looks((1, f"b0 {c} 00", "play"), (0, f"90 {p} 00", "released"))
    d.expect_nothing_sent()
    log(f"{d.name}: input lit PLAY and a pad as clicks do, sent nothing")
    d.end()

    # Three outputs: switches 1 and 2, messages to devices 1 and 2.
    d.start("three_outputs", "Device zero|Device one|Device two", "")
    d.expect_devices("out 0 open", "out 1 open", "out 2 open")
    d.expect_switches(2)
    d.expect_names("Device one", "Device two")
    d.switch_then_key((None, 0, [1, 2]), (3, 0, [1, 2]), (2, 0, [1]))
    d.end()

    # Seven outputs and six inputs: only the first five and four are opened.
    d.start("seven_outputs", "O0|O1|O2|O3|O4|O5|O6", "I0|I1|I2|I3|I4|I5")
    d.expect_devices("in 0 open", "in 0 start", "in 1 open", "in 1 start", "in 2 open", "in 2 start", "in 3 open",
                     "in 3 start", "out 0 open", "out 1 open", "out 2 open", "out 3 open", "out 4 open")
    d.expect_switches(3)
    d.expect_names("O1", "O2", "O3")
    # Without --show-input, input changes no pixel: the window handles the
    # messages before the click on key "A" that follows them.
    w.pointer_to(d.win, 5, 5)
    d.save_look("released")
    d.feed_looks((3, f"90 {p} 7f", None), (0, f"b0 {c} 7f", None))
    d.click_a_synced()
    d.expect_sent(click_messages([1, 2, 3], *a))
    check(d.look_is("released"), f"{d.name}: input changed the window without --show-input")
    log(f"{d.name}: input changed nothing without --show-input")
    d.switch_then_key((None, 89, [1, 2, 3]))
    d.end()

    # Refusals: input 1 cannot be opened, input 2 opens but cannot be
    # started, output 2 cannot be opened. The others work; switch 2 stays,
    # with no name.
    d.start("refused_opens", OUTS, INS, "in-open:1 in-start:2 out-open:2")
    d.expect_devices("in 0 open", "in 0 start", "in 1 open refused", "in 2 open", "in 2 start refused", "in 3 open",
                     "in 3 start", "out 0 open", "out 1 open", "out 2 open refused", "out 3 open", "out 4 open")
    d.expect_switches(3)
    d.expect_names("Synth on port 1", "", NAME_40[:31])
    d.switch_then_key((None, 0, [1, 3]), (3, 1, [1]))
    d.end()

    # The user's map where the program looks without --map: pad 1 a General
    # MIDI kick on channel 10, by a click and by the computer key the map
    # names (which turns --keys on). Rewritten as editors do (a new file
    # renamed over it) while the panel runs, the new note goes out at once.
    def write_map(note):
        with open(user_map + ".new", "w") as f:
            f.write(f'[keys]\n"pad 1" = {{ note = {note}, channel = 10, key = "Z" }}\n')
        os.replace(user_map + ".new", user_map)

    os.makedirs(os.path.dirname(user_map))
    write_map(36)
    d.start("map", "Device zero|Device one", "")
    d.expect_devices("out 0 open", "out 1 open")
    pad = d.key_named(0xB0, "1")
    d.click_key(pad)
    d.expect_sent(click_messages([1], 0x99, 36))
    d.focus()
    w.xdo("key", "z")
    d.expect_sent(click_messages([1], 0x99, 36))
    write_map(40)

    def errors():
        with open(d.err_path, errors="replace") as f:
            return f.read()

    wait_for(lambda: "map.toml: read again" in errors(), 10, "the map read again (map)")
    d.click_key(pad)
    d.expect_sent(click_messages([1], 0x99, 40))
    log(f"{d.name}: pad 1 sent 99 24 7F from %APPDATA%'s map, 99 28 7F after the file changed")
    d.end()
    subprocess.run(["rm", "-r", os.path.dirname(user_map)], check=True)
