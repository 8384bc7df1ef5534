"""The program under test on a case's display, the expectations its cases
share, and the case itself: what it started, and the common opening (a
display, a MIDI system with receivers, the program, its window, the panel
drawn)."""

import os
import re
import subprocess
import time
import types

from .base import Failure, Processes, check, wait_for
from .midi import AlsaMidi, JackMidi, PERIOD, jack_env, hexs
from .xlib import X, start_xvfb

__all__ = ["Screen", "Image", "Program", "marker_free", "KEYS", "MARKER", "on_off", "expect", "expect_marker",
           "expect_silent", "Case", "PANEL_DRAWN", "shows_panel", "panel_ready", "key_table", "png_size", "run_to_end"]


class Screen:
    """Screenshots of the whole X screen, saved as PNG and read as RGB."""

    def __init__(self, display, out_dir, case):
        self.display = display
        self.out_dir = out_dir
        self.case = case
        self.shots = 0

    def shot(self, label):
        self.shots += 1
        path = os.path.join(self.out_dir, f"{self.case}-{self.shots:02d}-{label}.png")
        env = dict(os.environ, DISPLAY=self.display)
        subprocess.run(["import", "-window", "root", path], env=env, check=True, timeout=20,
                       stderr=subprocess.DEVNULL)
        ppm = subprocess.run(["convert", path, "-depth", "8", "ppm:-"], check=True, timeout=20,
                             capture_output=True).stdout
        return Image(ppm, path)


class Image:
    def __init__(self, ppm, path):
        self.path = path
        fields = []
        pos = 0
        while len(fields) < 4:
            while ppm[pos:pos + 1].isspace():
                pos += 1
            if ppm[pos:pos + 1] == b"#":
                pos = ppm.index(b"\n", pos) + 1
                continue
            end = pos
            while not ppm[end:end + 1].isspace():
                end += 1
            fields.append(ppm[pos:end])
            pos = end
        check(fields[0] == b"P6" and fields[3] == b"255", f"unexpected screenshot format in {path}")
        self.width, self.height = int(fields[1]), int(fields[2])
        self.data = ppm[pos + 1:]

    def rgb(self, x, y):
        i = (y * self.width + x) * 3
        r, g, b = self.data[i:i + 3]
        return (r << 16) | (g << 8) | b

    def region(self, x, y, w, h):
        return [self.rgb(x + i, y + j) for j in range(h) for i in range(w)]


class Program:
    """The program on a display; `args` are its options. Its stdout and stderr
    go to one log file, read back by output(); with `stdout`
    (subprocess.PIPE: proc.stdout), only stderr does."""

    def __init__(self, procs, path, display, env, x, log_path, args=(), screen=None, stdout=None):
        self.x = x
        self.path = path
        env = dict(env, DISPLAY=display)
        self.env = env
        self.display = display
        self.log_path = log_path
        self.screen = screen  # where a failed pixel check leaves its screenshot
        with open(log_path, "w") as out:
            self.proc = procs.start([path, *args], env=env, stdout=out if stdout is None else stdout,
                                    stderr=subprocess.STDOUT if stdout is None else out)
        self.window = wait_for(lambda: self._window(), 20, "the ZORVE_BUTTON window")
        self.origin = x.geometry(self.window)[:2]

    def output(self):
        with open(self.log_path) as f:
            return f.read()

    def _window(self):
        if self.proc.poll() is not None:
            raise Failure(f"the program exited early with status {self.proc.returncode}: {self.output()}")
        found = self.x.find("ZORVE_BUTTON")
        return found[0] if found else None

    def xdo(self, *args):
        subprocess.run(["xdotool", *map(str, args)], env=self.env, check=True, timeout=10)

    # No --sync: it waits for a motion that never comes when the pointer is
    # already there. xdotool's connection closes with XSync, so the server has
    # moved the pointer before the next command's events.
    def move(self, x, y):
        self.xdo("mousemove", "--window", self.window, x, y)

    def click(self, x, y, button=1):
        self.move(x, y)
        self.xdo("click", button)

    def key(self, *names):
        self.xdo("key", *names)

    def focus(self):
        self.xdo("windowfocus", "--sync", self.window)

    def pixel(self, image, x, y):
        return image.rgb(self.origin[0] + x, self.origin[1] + y)

    def wait_pixels(self, screen, expected, label, timeout=10.0):
        """Screenshots until every (x, y) -> 0xRRGGBB of `expected` holds."""
        last = {}

        def matches():
            image = screen.shot(label)
            last.clear()
            last.update({p: self.pixel(image, *p) for p in expected})
            return image if all(last[p] == v for p, v in expected.items()) else None

        try:
            return wait_for(matches, timeout, f"pixels of {label}", interval=0.05)
        except Failure:
            detail = ", ".join(f"{p}: {last.get(p, 0):06x} (want {v:06x})" for p, v in expected.items())
            raise Failure(f"screen never showed {label}: {detail}")

    def wait_drawn(self, expected, what, timeout=5.0):
        """Polls the window's pixels, read from the X server (XGetImage: no
        screenshot file, a check costs milliseconds), until every (x, y) ->
        0xRRGGBB holds; a failure leaves a screenshot."""
        last = {}

        def matches():
            got = self.x.pixels(self.window, list(expected))
            if got:
                last.clear()
                last.update(got)
            return got is not None and all(got[p] == v for p, v in expected.items())

        try:
            wait_for(matches, timeout, what, interval=0.005)
        except Failure:
            shot = self.screen.shot(re.sub(r"\W+", "-", what)).path if self.screen else "none"
            wrong = [p for p, v in expected.items() if last.get(p) != v]
            detail = ", ".join(f"{p}: {last.get(p, 0):06x} (want {expected[p]:06x})" for p in wrong[:6])
            raise Failure(f"the window never showed {what}: {len(wrong)} of {len(expected)} pixels differ, "
                          f"{detail}; screenshot {shot}")

    def exit_status(self, timeout):
        try:
            return self.proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            raise Failure(f"the program did not exit within {timeout} s")


def marker_free(display=None, runtime=None):
    """No copy of this user holds the running-copy marker for `display` (any
    display when None): neither its abstract socket nor a socket file of
    that name (in $XDG_RUNTIME_DIR) is bound. With `runtime`, a private
    runtime directory the copies are given, only the socket file there
    counts: another run's copies, whatever their display, do not."""
    abstract = f"@zorve-button-{os.getuid()}-"
    with open("/proc/net/unix") as f:
        names = [line.split()[-1] for line in f.readlines()[1:] if len(line.split()) >= 8]
    if runtime:
        names = [n for n in names if os.path.dirname(n) == runtime]
    for name in names:
        base = name[len(abstract):] if name.startswith(abstract) else None
        if base is None and name.startswith("/") and os.path.basename(name).startswith("zorve-button-"):
            base = os.path.basename(name)[len("zorve-button-"):]
        if base is not None and (display is None or base == display):
            return False
    return True


# ------------------------------------------------------------- expectations

# Keys from every area of the panel: (label, point inside, status, number).
KEYS = [
    ("A", (570, 25), 0x90, 89),
    ("NEXT SQ", (730, 65), 0x90, 87),
    ("left arrow", (685, 230), 0x90, 13),
    ("up arrow", (765, 165), 0x90, 10),
    ("PLAY", (760, 420), 0x90, 2),
    ("REC", (490, 420), 0x90, 5),
    ("<<BAR", (760, 367), 0x90, 7),
    ("WINDOW", (580, 225), 0x90, 78),
    ("MAIN", (580, 295), 0x90, 77),
    ("F3", (205, 25), 0x90, 95),
    ("SEQ EDIT", (45, 85), 0x90, 25),
    ("LOOPER", (205, 165), 0x90, 116),
    ("TRACK MIXER", (285, 325), 0x90, 17),
    ("keypad 7", (375, 75), 0x90, 108),
    ("keypad minus", (485, 240), 0x90, 112),
    ("ENTER", (457, 295), 0x90, 113),
    ("track select 1", (160, 460), 0x90, 29),
    ("track select 16 bottom edge", (867, 479), 0x90, 44),
    ("pad 1", (160, 490), 0xB0, 16),
    ("pad 1 top edge", (160, 480), 0xB0, 16),
    ("pad 16", (867, 495), 0xB0, 31),
]


# Key "A": its pair arriving next shows that nothing else arrived before it.
MARKER = ("A", (570, 25), 0x90, 89)


def on_off(status, number):
    return [bytes([status, number, 127]), bytes([status, number, 0])]


def expect(receivers, devices, messages, what):
    """Devices `devices` each get exactly `messages` next, in order."""
    for d in devices:
        got = [m for _, m in receivers[d].take(len(messages))]
        check(got == messages, f"{what}: device {d} got {hexs(got)}, want {hexs(messages)}")


def expect_marker(program, receivers, devices, after):
    """Clicks the marker key; the devices' next messages must be its pair,
    so nothing arrived from what was done just before."""
    label, point, status, number = MARKER
    program.click(*point)
    expect(receivers, devices, on_off(status, number), f"marker click after {after}")


def expect_silent(receivers, devices, settle=0.3):
    """No device got more than the case accounted for. The other devices'
    messages went out in the same dispatch, so a short settle suffices."""
    time.sleep(settle)
    for d in devices:
        extra = receivers[d].messages[receivers[d].seen:]
        check(not extra and receivers[d].count() == receivers[d].seen,
              f"device {d} got unexpected messages {hexs([m for _, m in extra])}")


# ------------------------------------------------------------- the case


class Case:
    """What one case starts, and the steps of its opening. `midi` is the MIDI
    system its receivers live on (jack, or alsa: the machine's sequencer)."""

    def __init__(self, args, name, midi=None):
        self.args = args
        self.name = name
        self.midi_system = midi or getattr(args, "midi", None) or "jack"
        self.procs = Processes()
        self.x = None
        self.out = args.out
        self.programs = 0
        os.makedirs(self.out, exist_ok=True)

    def display(self, start=start_xvfb, **kw):
        """An X server of the case's own: `start(procs, **kw)` (an Xvfb, or
        start_xorg); its display, with `self.x` connected to it."""
        display = start(self.procs, **kw)
        self.x = X(display)
        return display

    def midi(self, receivers=4, period=None, names=None):
        """The case's MIDI system as `self.sys`, with receivers that are
        output devices 0, 1, ... in order: (environment for the program,
        receivers). A JACK server runs at `period` frames (else the run's
        --period, else PERIOD)."""
        period = period or getattr(self.args, "period", None) or PERIOD
        self.sys = AlsaMidi(self) if self.midi_system == "alsa" else JackMidi(self, period)
        names = names or [f"zr{k}" for k in range(receivers)]
        rx = [self.sys.device_receiver(n) if k == 0 else self.sys.receiver(n) for k, n in enumerate(names)]
        return self.sys.env, rx

    def screen(self, display):
        return Screen(display, self.out, self.name)

    def program(self, display, env, args=(), path=None, stdout=None):
        runtime = env.get("XDG_RUNTIME_DIR")
        wait_for(lambda: marker_free(display, runtime), 60, "another copy of the program on this display to end")
        self.programs += 1
        log_path = os.path.join(self.out, f"{self.name}-program{self.programs}.log")
        return Program(self.procs, path or self.args.program, display, env, self.x, log_path, args,
                       self.screen(display), stdout)

    def open(self, receivers=4, names=None, period=None, args=(), env=None, before=None, drawn_within=10.0,
             stdout=None, **display):
        """The common opening: a display (the options of `display()`), the
        MIDI system with `receivers` receivers (`names`; None: no MIDI system,
        the program finds none), `before(case)` for what must run before the
        program (its result is `extra`), the program with `args`, `env`'s
        additions and `stdout` (Program), its window and the drawn panel."""
        shown = self.display(**display)
        if receivers is None and names is None:
            midi_env, rx = jack_env("zorve-e2e-absent"), []  # no server of that name runs
        else:
            midi_env, rx = self.midi(receivers, period, names)
        extra = before(self) if before else None
        program = self.program(shown, dict(midi_env, **(env or {})), args, stdout=stdout)
        program.wait_drawn(PANEL_DRAWN, "the panel", timeout=drawn_within)
        return types.SimpleNamespace(display=shown, env=midi_env, rx=rx, program=program,
                                     screen=program.screen, extra=extra)

    def close(self):
        if self.x:  # before its server goes, or Xlib ends this process
            self.x.close()
        self.procs.stop_all()


# Pixels of the drawn panel that the start-up fill does not have: background,
# frame and face of key "A".
PANEL_DRAWN = {(5, 5): 0x444444, (541, 11): 0x777777, (543, 13): 0xBBBBBB}


def shows_panel(x, window):
    """The window's pixels, read from the X server, show the drawn panel."""
    got = x.pixels(window, list(PANEL_DRAWN))
    return bool(got) and all(got[p] == v for p, v in PANEL_DRAWN.items())


def panel_ready(program, screen, label="panel"):
    """The first full redraw has replaced the start-up fill."""
    return program.wait_pixels(screen, PANEL_DRAWN, label)


# ------------------------------------------------------------ the key table

KEY_ROW = re.compile(r"^(\d+) (\d+) (\d+) (\d+) (\d+) 0x([0-9A-F]{2}) (\d+) (.+)$")


def key_table(tool):
    """[(index, (x, y, w, h), status, number, label)] of the panel's keys in
    dispatch order, as zorve-print-key-table prints the program's own table."""
    try:
        result = subprocess.run([tool], capture_output=True, text=True, timeout=10)
    except OSError as error:
        raise Failure(f"cannot run {tool} (build target zorve-print-key-table): {error}")
    check(result.returncode == 0, f"{tool} exit status {result.returncode}: {result.stderr.strip()}")
    keys = []
    for line in result.stdout.splitlines():
        match = KEY_ROW.match(line)
        check(match, f"{tool} printed an unexpected line {line!r}")
        index, x, y, w, h, status, number, label = match.groups()
        keys.append((int(index), (int(x), int(y), int(w), int(h)), int(status, 16), int(number), label))
    check([k[0] for k in keys] == list(range(90)), f"{tool} printed {len(keys)} keys, want keys 0 to 89 in order")
    return keys


# ------------------------------------------------------------- files and runs


def png_size(path):
    """(width, height) from a PNG's header chunk."""
    with open(path, "rb") as f:
        head = f.read(24)
    check(head[:8] == b"\x89PNG\r\n\x1a\n" and head[12:16] == b"IHDR", f"{path} is not a PNG")
    return int.from_bytes(head[16:20], "big"), int.from_bytes(head[20:24], "big")


def run_to_end(path, args, env, timeout=20):
    """Runs the program with `args` and no display until it ends:
    (status, stdout bytes, stderr text)."""
    env = {k: v for k, v in env.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
    try:
        result = subprocess.run([path, *args], env=env, capture_output=True, timeout=timeout)
    except subprocess.TimeoutExpired:
        raise Failure(f"{path} {' '.join(args)} did not end within {timeout} s")
    return result.returncode, result.stdout, result.stderr.decode(errors="replace")
