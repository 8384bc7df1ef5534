#!/usr/bin/env python3
"""End-to-end tests of the Linux program, run against real parts.

Each case starts its own Xvfb (the server picks a free display) and, where it
needs MIDI, its own JACK server with a unique name and jack_midi_dump
receivers registered before the program starts, so receiver k is the
program's output device k. Input comes from xdotool (XTest); screenshots from
ImageMagick's `import -window root`; the window close request and the window
lookups go straight to Xlib through ctypes.

Usage: zorve_e2e.py --program PATH [--out DIR] CASE
       zorve_e2e.py --png PATH icon_png
Exit status 0 when the case passed; every wait has a deadline.
"""

import argparse
import ctypes
import ctypes.util
import os
import re
import select
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import threading
import time

# ----------------------------------------------------------------- basics


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


def wait_for(predicate, timeout, what, interval=0.02):
    """Polls predicate until it returns a true value; that value is returned."""
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() > deadline:
            raise Failure(f"timed out after {timeout:.1f} s waiting for {what}")
        time.sleep(interval)


def log(*parts):
    print(*parts, flush=True)


REQUIRED_TOOLS = {
    "Xvfb": "xvfb",
    "jackd": "jackd2",
    "jack_midiseq": "jackd2",
    "jack_lsp": "jackd2",
    "jack_midi_dump": "jackd2",
    "xdotool": "xdotool",
    "import": "imagemagick",
    "convert": "imagemagick",
    "stdbuf": "coreutils",
}


def require_tools(names):
    missing = [f"{n} (Debian package {REQUIRED_TOOLS[n]})" for n in names if not shutil.which(n)]
    check(not missing, "missing tools: " + ", ".join(missing))


LIBC = ctypes.CDLL(None, use_errno=True)
PR_SET_PDEATHSIG = 1


def die_with_parent():
    # Runs in the child before exec: a harness killed by a CTest timeout
    # takes its servers and the program with it, and they still end cleanly.
    LIBC.prctl(PR_SET_PDEATHSIG, signal.SIGTERM, 0, 0, 0)


class Processes:
    """Everything a case starts; stopped in reverse order, by pid, at the end."""

    def __init__(self):
        self.started = []

    def start(self, args, **kw):
        proc = subprocess.Popen(args, preexec_fn=die_with_parent, **kw)
        self.started.append(proc)
        return proc

    def stop_all(self):
        for proc in reversed(self.started):
            if proc.poll() is None:
                proc.terminate()
                try:
                    proc.wait(timeout=3)
                except subprocess.TimeoutExpired:
                    proc.kill()
                    proc.wait(timeout=3)


# ------------------------------------------------------------------- Xlib


class XClientMessageEvent(ctypes.Structure):
    _fields_ = [
        ("type", ctypes.c_int),
        ("serial", ctypes.c_ulong),
        ("send_event", ctypes.c_int),
        ("display", ctypes.c_void_p),
        ("window", ctypes.c_ulong),
        ("message_type", ctypes.c_ulong),
        ("format", ctypes.c_int),
        ("l", ctypes.c_long * 5),
    ]


class XEvent(ctypes.Union):
    _fields_ = [("type", ctypes.c_int), ("xclient", XClientMessageEvent), ("pad", ctypes.c_long * 24)]


class XWindowAttributes(ctypes.Structure):
    _fields_ = [
        ("x", ctypes.c_int), ("y", ctypes.c_int), ("width", ctypes.c_int), ("height", ctypes.c_int),
        ("border_width", ctypes.c_int), ("depth", ctypes.c_int), ("visual", ctypes.c_void_p),
        ("root", ctypes.c_ulong), ("c_class", ctypes.c_int), ("bit_gravity", ctypes.c_int),
        ("win_gravity", ctypes.c_int), ("backing_store", ctypes.c_int), ("backing_planes", ctypes.c_ulong),
        ("backing_pixel", ctypes.c_ulong), ("save_under", ctypes.c_int), ("colormap", ctypes.c_ulong),
        ("map_installed", ctypes.c_int), ("map_state", ctypes.c_int), ("all_event_masks", ctypes.c_long),
        ("your_event_mask", ctypes.c_long), ("do_not_propagate_mask", ctypes.c_long),
        ("override_redirect", ctypes.c_int), ("screen", ctypes.c_void_p),
    ]


IS_VIEWABLE = 2
CLIENT_MESSAGE = 33


class X:
    """A client connection for finding windows, reading their properties,
    asking them to close and faking button presses."""

    def __init__(self, display):
        self.lib = ctypes.CDLL(ctypes.util.find_library("X11") or "libX11.so.6")
        lib = self.lib
        lib.XOpenDisplay.restype = ctypes.c_void_p
        lib.XOpenDisplay.argtypes = [ctypes.c_char_p]
        lib.XDefaultRootWindow.restype = ctypes.c_ulong
        lib.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
        lib.XInternAtom.restype = ctypes.c_ulong
        lib.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
        lib.XQueryTree.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.POINTER(ctypes.c_ulong),
                                   ctypes.POINTER(ctypes.c_ulong), ctypes.POINTER(ctypes.POINTER(ctypes.c_ulong)),
                                   ctypes.POINTER(ctypes.c_uint)]
        lib.XGetWindowProperty.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_ulong, ctypes.c_long,
                                           ctypes.c_long, ctypes.c_int, ctypes.c_ulong,
                                           ctypes.POINTER(ctypes.c_ulong), ctypes.POINTER(ctypes.c_int),
                                           ctypes.POINTER(ctypes.c_ulong), ctypes.POINTER(ctypes.c_ulong),
                                           ctypes.POINTER(ctypes.c_void_p)]
        lib.XGetWindowAttributes.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.POINTER(XWindowAttributes)]
        lib.XTranslateCoordinates.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_ulong, ctypes.c_int,
                                              ctypes.c_int, ctypes.POINTER(ctypes.c_int),
                                              ctypes.POINTER(ctypes.c_int), ctypes.POINTER(ctypes.c_ulong)]
        lib.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long,
                                   ctypes.POINTER(XEvent)]
        lib.XFree.argtypes = [ctypes.c_void_p]
        lib.XFlush.argtypes = [ctypes.c_void_p]
        lib.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]
        lib.XCloseDisplay.argtypes = [ctypes.c_void_p]
        # Errors about windows that vanished between listing and reading are
        # expected; without a handler Xlib would end this process.
        self.handler_type = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p, ctypes.c_void_p)
        self.handler = self.handler_type(lambda d, e: 0)
        lib.XSetErrorHandler(self.handler)
        self.dpy = lib.XOpenDisplay(display.encode())
        check(self.dpy, f"cannot open X display {display}")
        self.root = lib.XDefaultRootWindow(self.dpy)
        self.xtst = ctypes.CDLL(ctypes.util.find_library("Xtst") or "libXtst.so.6")
        self.xtst.XTestFakeButtonEvent.argtypes = [ctypes.c_void_p, ctypes.c_uint, ctypes.c_int, ctypes.c_ulong]
        self.xtst.XTestFakeMotionEvent.argtypes = [ctypes.c_void_p, ctypes.c_int, ctypes.c_int, ctypes.c_int,
                                                   ctypes.c_ulong]
        lib.XGetImage.restype = ctypes.c_void_p
        lib.XGetImage.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_int, ctypes.c_uint,
                                  ctypes.c_uint, ctypes.c_ulong, ctypes.c_int]
        lib.XGetPixel.restype = ctypes.c_ulong
        lib.XGetPixel.argtypes = [ctypes.c_void_p, ctypes.c_int, ctypes.c_int]
        lib.XDestroyImage.argtypes = [ctypes.c_void_p]

    def close(self):
        if self.dpy:
            self.lib.XCloseDisplay(self.dpy)
            self.dpy = None

    def atom(self, name):
        return self.lib.XInternAtom(self.dpy, name.encode(), 0)

    def property(self, window, name, kind=0):
        """(type atom, format, raw items) or None."""
        actual_type, actual_format = ctypes.c_ulong(), ctypes.c_int()
        nitems, after, data = ctypes.c_ulong(), ctypes.c_ulong(), ctypes.c_void_p()
        status = self.lib.XGetWindowProperty(self.dpy, window, self.atom(name), 0, 1 << 20, 0, kind,
                                             ctypes.byref(actual_type), ctypes.byref(actual_format),
                                             ctypes.byref(nitems), ctypes.byref(after), ctypes.byref(data))
        if status != 0 or not data.value:
            return None
        try:
            if actual_format.value == 8:
                items = ctypes.string_at(data.value, nitems.value)
            elif actual_format.value == 32:  # Xlib hands 32-bit items over as longs
                items = list((ctypes.c_long * nitems.value).from_address(data.value))
            else:
                items = None
        finally:
            self.lib.XFree(data)
        return (actual_type.value, actual_format.value, items)

    def name(self, window):
        for prop in ("_NET_WM_NAME", "WM_NAME"):
            value = self.property(window, prop)
            if value and isinstance(value[2], bytes):
                return value[2].decode("utf-8", "replace")
        return None

    def top_windows(self):
        root_ret, parent_ret = ctypes.c_ulong(), ctypes.c_ulong()
        children, n = ctypes.POINTER(ctypes.c_ulong)(), ctypes.c_uint()
        if not self.lib.XQueryTree(self.dpy, self.root, ctypes.byref(root_ret), ctypes.byref(parent_ret),
                                   ctypes.byref(children), ctypes.byref(n)):
            return []
        windows = [children[i] for i in range(n.value)]
        if children:
            self.lib.XFree(children)
        return windows

    def viewable(self, window):
        attrs = XWindowAttributes()
        if not self.lib.XGetWindowAttributes(self.dpy, window, ctypes.byref(attrs)):
            return False
        return attrs.map_state == IS_VIEWABLE

    def find(self, title):
        """Viewable top-level windows whose title is exactly `title`."""
        return [w for w in self.top_windows() if self.name(w) == title and self.viewable(w)]

    def geometry(self, window):
        """(x, y, width, height) of the client area in root coordinates."""
        attrs = XWindowAttributes()
        check(self.lib.XGetWindowAttributes(self.dpy, window, ctypes.byref(attrs)), "window vanished")
        x, y, child = ctypes.c_int(), ctypes.c_int(), ctypes.c_ulong()
        self.lib.XTranslateCoordinates(self.dpy, window, self.root, 0, 0, ctypes.byref(x), ctypes.byref(y),
                                       ctypes.byref(child))
        return (x.value, y.value, attrs.width, attrs.height)

    def request_close(self, window):
        """What a window manager sends for the close button: WM_DELETE_WINDOW."""
        event = XEvent()
        event.xclient.type = CLIENT_MESSAGE
        event.xclient.window = window
        event.xclient.message_type = self.atom("WM_PROTOCOLS")
        event.xclient.format = 32
        event.xclient.l[0] = self.atom("WM_DELETE_WINDOW")
        event.xclient.l[1] = 0  # CurrentTime
        self.lib.XSendEvent(self.dpy, window, 0, 0, ctypes.byref(event))
        self.lib.XFlush(self.dpy)

    def fake_button(self, button, press):
        self.xtst.XTestFakeButtonEvent(self.dpy, button, 1 if press else 0, 0)
        self.lib.XFlush(self.dpy)

    def fake_motion(self, x, y):
        """Moves the pointer to (x, y) in root coordinates."""
        self.xtst.XTestFakeMotionEvent(self.dpy, -1, x, y, 0)
        self.lib.XFlush(self.dpy)

    def pixels(self, window, points):
        """{(x, y): 0xRRGGBB} read from the server's copy of the window's
        client area (window coordinates, 24-bit TrueColor), or None while the
        window cannot be read (not yet mapped, gone). No screenshot file."""
        xs, ys = [p[0] for p in points], [p[1] for p in points]
        x0, y0 = min(xs), min(ys)
        image = self.lib.XGetImage(self.dpy, window, x0, y0, max(xs) - x0 + 1, max(ys) - y0 + 1,
                                   0xFFFFFFFF, 2)  # AllPlanes, ZPixmap
        if not image:
            return None
        try:
            return {p: self.lib.XGetPixel(image, p[0] - x0, p[1] - y0) & 0xFFFFFF for p in points}
        finally:
            self.lib.XDestroyImage(image)


# ----------------------------------------------------------- servers


def start_xvfb(procs, screen="1024x768x24", font_path=None):
    """Starts Xvfb on a display it picks itself; returns ':N'."""
    read_fd, write_fd = os.pipe()
    args = ["Xvfb", "-displayfd", str(write_fd), "-screen", "0", screen, "-nolisten", "tcp"]
    if font_path:
        args += ["-fp", font_path]
    procs.start(args, pass_fds=(write_fd,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(write_fd)
    text = b""
    deadline = time.monotonic() + 15
    while not text.endswith(b"\n"):
        remaining = deadline - time.monotonic()
        check(remaining > 0, "Xvfb did not report its display")
        ready, _, _ = select.select([read_fd], [], [], remaining)
        if ready:
            chunk = os.read(read_fd, 64)
            check(chunk, "Xvfb exited before reporting its display")
            text += chunk
    os.close(read_fd)
    return ":" + text.decode().strip()


LSAN_SUPPRESSIONS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "lsan.supp")


def jack_env(server):
    env = dict(os.environ)
    # A sanitizer build of the program reports the libraries' own leaks.
    env["LSAN_OPTIONS"] = ":".join(filter(None, [env.get("LSAN_OPTIONS"), f"suppressions={LSAN_SUPPRESSIONS}"]))
    env["JACK_DEFAULT_SERVER"] = server
    env["JACK_NO_START_SERVER"] = "1"
    return env


def jack_ports(env, connections=False):
    args = ["jack_lsp", "-c"] if connections else ["jack_lsp"]
    try:
        result = subprocess.run(args, env=env, capture_output=True, text=True, timeout=10)
    except subprocess.TimeoutExpired:
        # Seen once on a cold machine: the server hung on a client late in its first cycles.
        raise Failure(f"jack_lsp got no answer in 10 s: JACK server {env.get('JACK_DEFAULT_SERVER')} is stuck")
    return result.stdout if result.returncode == 0 else None


def start_jack(procs, log_path, period=256, with_jackd=None):
    """A dummy-driver JACK server under a name from a small pool. A server
    that is killed keeps its slot in JACK's registry (eight slots per user)
    until a server of the same name starts, so fresh names would use them up;
    a name another run holds makes jackd exit and the next one is tried.
    `period` is in frames at 48 kHz; `with_jackd`, a list, gets the server's
    process appended."""
    for slot in range(8):
        server = f"zorve-e2e-{slot}"
        env = jack_env(server)
        if jack_ports(env) is not None:
            continue  # running for another case: answering its clients would mix the two
        with open(log_path, "w") as out:
            jackd = procs.start(["jackd", "-n", server, "-d", "dummy", "-r", "48000", "-p", str(period)], env=env,
                                stdout=out, stderr=subprocess.STDOUT)

        def state():
            if jackd.poll() is not None:
                return "exited"
            return "ready" if "system:" in (jack_ports(env) or "") else None

        if wait_for(state, 20, f"the JACK server {server}") == "ready":
            if with_jackd is not None:
                with_jackd.append(jackd)
            return env
    with open(log_path) as f:
        raise Failure(f"no JACK server could start: {f.read()[-600:]}")


MESSAGE = re.compile(r"^\s*-?\d+:\s+((?:[0-9a-f]{2} )*[0-9a-f]{2})\b")


class Receiver:
    """A jack_midi_dump client; `messages` holds (arrival time, bytes) in order."""

    def __init__(self, procs, env, name):
        self.name = name
        self.messages = []
        self.seen = 0  # messages already accounted for by the case
        self.lock = threading.Lock()
        self.proc = procs.start(["stdbuf", "-oL", "jack_midi_dump", name], env=env, stdout=subprocess.PIPE,
                                stderr=subprocess.DEVNULL, text=True)
        threading.Thread(target=self._read, daemon=True).start()
        wait_for(lambda: f"{name}:input" in (jack_ports(env) or ""), 15, f"receiver {name}")

    def _read(self):
        for line in self.proc.stdout:
            now = time.monotonic()
            match = MESSAGE.match(line)
            if match:
                data = bytes(int(b, 16) for b in match.group(1).split())
                with self.lock:
                    self.messages.append((now, data))

    def count(self):
        with self.lock:
            return len(self.messages)

    def take(self, n, timeout=5.0):
        """The next n messages not yet taken, waiting for them to arrive."""
        wait_for(lambda: self.count() >= self.seen + n, timeout, f"{n} message(s) at {self.name}")
        with self.lock:
            got = self.messages[self.seen:self.seen + n]
        self.seen += n
        return got


def hexs(messages):
    return [m.hex(" ") for m in messages]


# ------------------------------------------------------------ the program


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
    def __init__(self, procs, path, display, env, x, log_path):
        self.x = x
        self.path = path
        env = dict(env, DISPLAY=display)
        self.env = env
        self.display = display
        self.log_path = log_path
        with open(log_path, "w") as out:
            self.proc = procs.start([path], env=env, stdout=out, stderr=subprocess.STDOUT)
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

    def exit_status(self, timeout):
        try:
            return self.proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            raise Failure(f"the program did not exit within {timeout} s")


def marker_free():
    """The single-instance marker (an abstract socket) is not held by anyone."""
    name = f"@PC_ZORVE-{os.getuid()}"
    with open("/proc/net/unix") as f:
        return not any(line.split()[-1] == name for line in f.readlines()[1:] if len(line.split()) >= 8)


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


# ------------------------------------------------------------------- cases


class Case:
    def __init__(self, args, name):
        self.args = args
        self.name = name
        self.procs = Processes()
        self.x = None
        self.out = args.out
        self.programs = 0
        os.makedirs(self.out, exist_ok=True)

    def display(self, **kw):
        display = start_xvfb(self.procs, **kw)
        self.x = X(display)
        return display

    def midi(self, receivers=4):
        env = start_jack(self.procs, os.path.join(self.out, f"{self.name}-jackd.log"))
        return env, [Receiver(self.procs, env, f"zr{k}") for k in range(receivers)]

    def program(self, display, env):
        wait_for(marker_free, 60, "another copy of the program (another test run?) to end")
        self.programs += 1
        log_path = os.path.join(self.out, f"{self.name}-program{self.programs}.log")
        return Program(self.procs, self.args.program, display, env, self.x, log_path)

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


def case_midi_fanout(c):
    display = c.display()
    env, rx = c.midi()
    program = c.program(display, env)
    panel_ready(program, Screen(display, c.out, c.name))

    ports = jack_ports(env, connections=True)
    ours = sorted({line.split(":")[0] for line in ports.splitlines() if line.startswith("ZORVE_BUTTON")})
    log(f"JACK clients of the program: {len(ours)} {ours}")
    check(len(ours) == 4, f"want one JACK client per open output (4), got {ours}")
    for k in range(4):
        check(re.search(rf"^ZORVE_BUTTON[^:\n]*:out {k}\n\s+zr{k}:input$", ports, re.M),
              f"output device {k} is not connected to zr{k}:input:\n{ports}")

    for label, point, status, number in KEYS:
        program.click(*point)
        expect(rx, [1, 2, 3], on_off(status, number), f"click on {label} at {point}")

    program.click(200, 460)  # the gap between track-select keys 1 and 2
    expect_marker(program, rx, [1, 2, 3], "a click in the gap at (200, 460)")

    # A press dragged off its key releases it at the first move outside. The
    # key it slides onto is not pressed, but a release over it sends its 0;
    # a release over no key sends nothing.
    program.move(570, 25)
    program.xdo("mousedown", 1)
    expect(rx, [1, 2, 3], [bytes([0x90, 89, 127])], "press on A")
    program.move(650, 25)
    expect(rx, [1, 2, 3], [bytes([0x90, 89, 0])], "drag from A onto B")
    program.xdo("mouseup", 1)
    expect(rx, [1, 2, 3], [bytes([0x90, 90, 0])], "release on B after a drag from A")
    program.move(570, 25)
    program.xdo("mousedown", 1)
    expect(rx, [1, 2, 3], [bytes([0x90, 89, 127])], "second press on A")
    program.move(610, 25)  # between A and B
    expect(rx, [1, 2, 3], [bytes([0x90, 89, 0])], "drag from A into the gap")
    program.xdo("mouseup", 1)
    expect_marker(program, rx, [1, 2, 3], "a release in the gap after a drag")

    program.move(300, 380)  # over the window but on no key
    program.xdo("click", 5)  # toward the user
    expect(rx, [1, 2, 3], on_off(0x90, 114), "wheel toward the user")
    program.xdo("click", 4)
    expect(rx, [1, 2, 3], on_off(0x90, 115), "wheel away from the user")
    program.xdo("mousedown", 2)  # middle held: step 10, still one pair
    program.xdo("click", 5)
    expect(rx, [1, 2, 3], on_off(0x90, 114), "wheel toward the user with the middle button held")
    program.xdo("mouseup", 2)

    program.xdo("click", 6)  # horizontal wheel: ignored
    program.xdo("click", 7)
    expect_marker(program, rx, [1, 2, 3], "horizontal wheel clicks")
    program.click(570, 25, button=3)  # the right button never presses a key
    expect_marker(program, rx, [1, 2, 3], "a right click on A")

    program.focus()
    # Losing the focus with the left button held: no release will come to the
    # program as such, so the held key is released at once. The button's
    # later release over the key sends its 0 again, as any release inside does.
    program.move(570, 25)
    program.xdo("mousedown", 1)
    expect(rx, [1, 2, 3], [bytes([0x90, 89, 127])], "press on A before the focus goes")
    program.xdo("windowfocus", c.x.root)
    expect(rx, [1, 2, 3], [bytes([0x90, 89, 0])], "focus lost while A is held")
    program.xdo("mouseup", 1)
    expect(rx, [1, 2, 3], [bytes([0x90, 89, 0])], "release on A after the focus went")

    program.focus()
    program.key("Up")
    expect(rx, [1, 2, 3], on_off(0x90, 114), "Up arrow key")
    program.key("Down")
    expect(rx, [1, 2, 3], on_off(0x90, 115), "Down arrow key")
    program.key("1", "KP_7", "Return", "BackSpace", "Delete", "Escape", "a")
    expect_marker(program, rx, [1, 2, 3], "digit, Enter, Backspace, Delete, Escape and letter keys")

    expect_silent(rx, [0, 1, 2, 3])
    check(program.proc.poll() is None, "the program ended during the case")


def case_port_switch(c):
    display = c.display()
    env, rx = c.midi()
    program = c.program(display, env)
    screen = Screen(display, c.out, c.name)
    before = panel_ready(program, screen, "switches-on")
    switch1 = lambda image: [program.pixel(image, x, y) for y in range(376, 392) for x in range(10, 45)]
    switch2 = lambda image: [program.pixel(image, x, y) for y in range(394, 410) for x in range(10, 45)]

    program.click(20, 385)  # switch 1 off
    program.click(570, 25)
    expect(rx, [2, 3], on_off(0x90, 89), "click on A with port 1 off")
    after = wait_for(lambda: (lambda im: im if switch1(im) != switch1(before) else None)(screen.shot("switch1-off")),
                     10, "switch 1 to be drawn in its off state", interval=0.05)
    check(switch2(after) == switch2(before), "switch 2 changed when switch 1 was clicked")

    program.click(20, 385)  # on again
    program.click(160, 490)
    expect(rx, [1, 2, 3], on_off(0xB0, 16), "click on pad 1 with port 1 on again")
    wait_for(lambda: switch1(screen.shot("switch1-on")) == switch1(before), 10,
             "switch 1 to be drawn on again", interval=0.05)

    program.click(20, 377)  # inside the drawn box but above the hit rectangle
    expect_marker(program, rx, [1, 2, 3], "a click above switch 1's hit rectangle")
    program.click(20, 403)  # switch 2 off
    program.click(20, 421)  # switch 3 off
    program.click(760, 420)
    expect(rx, [1], on_off(0x90, 2), "click on PLAY with ports 2 and 3 off")
    expect_silent(rx, [0, 1, 2, 3])


def case_panel_pixels(c):
    display = c.display()
    env, rx = c.midi()
    program = c.program(display, env)
    screen = Screen(display, c.out, c.name)
    x, y, w, h = c.x.geometry(program.window)
    check((w, h) == (910, 550), f"window client area {w}x{h}, want 910x550")

    released = {
        (5, 5): 0x444444,          # background
        (540, 10): 0x444444,       # bevel corner keeps the background
        (541, 11): 0x777777,       # light edge of "A"
        (598, 38): 0x444444,       # dark edge
        (543, 13): 0xBBBBBB,       # face
        (460, 420): 0xFF0000,      # "REC" face
        (671, 228): 0xDDDDDD,      # left arrow glyph
        (670, 229): 0xBBBBBB,      # its apex pixel keeps the face
        (475, 237): 0xFFFFFF,      # minus bar
        (475, 241): 0x777777,      # below the bar: keypad face
        (11, 378): 0xFFFFFF,       # port switch 1 box (four outputs)
        (909, 549): 0x444444,      # last frame-buffer pixel
    }
    image = program.wait_pixels(screen, released, "start-up")
    log(f"start-up screenshot: {image.path}")

    program.move(570, 25)
    program.xdo("mousedown", 1)
    expect(rx, [1, 2, 3], [bytes([0x90, 89, 127])], "press on A")
    pressed = {(543, 13): 0xFFFFFF, (541, 11): 0x444444, (598, 38): 0x777777, (540, 10): 0x444444,
               (621, 11): 0x777777, (623, 13): 0xBBBBBB}  # "B" stays released
    image = program.wait_pixels(screen, pressed, "A-held")
    log(f"held-key screenshot: {image.path}")
    program.xdo("mouseup", 1)
    expect(rx, [1, 2, 3], [bytes([0x90, 89, 0])], "release on A")
    program.wait_pixels(screen, {(543, 13): 0xBBBBBB, (541, 11): 0x777777, (598, 38): 0x444444}, "A-released")

    icon = c.x.property(program.window, "_NET_WM_ICON")
    check(icon and icon[2] and icon[2][:2] == [32, 32], f"window icon missing or not 32x32: {icon and icon[2][:2]}")
    argb = [v & 0xFFFFFFFF for v in icon[2][2:]]
    check(len(argb) == 32 * 32, "icon data incomplete")
    at = lambda px, py: argb[py * 32 + px]
    for (px, py), want in {(0, 0): 0xFFFFFF80, (2, 2): 0xFF408080, (7, 7): 0xFF408080, (8, 2): 0xFFFFFF80,
                           (9, 2): 0xFF408080, (23, 23): 0xFF408080, (29, 29): 0xFFFFFF80}.items():
        check(at(px, py) == want, f"icon pixel ({px}, {py}) is {at(px, py):08x}, want {want:08x}")


def box_env(c):
    return dict(os.environ, DISPLAY=c.display_name)


def own_box_ok(c, box):
    """Clicks the OK button of the program's own box: centred, 44 px from the bottom."""
    bx, by, bw, bh = c.x.geometry(box)
    subprocess.run(["xdotool", "mousemove", str(bx + bw // 2), str(by + bh - 30), "click", "1"],
                   env=box_env(c), check=True, timeout=10)


def box_key(name):
    # Without a window manager the box must be given the focus by hand.
    def press(c, box):
        subprocess.run(["xdotool", "windowfocus", "--sync", str(box)], env=box_env(c), check=True, timeout=10)
        subprocess.run(["xdotool", "key", name], env=box_env(c), check=True, timeout=10)

    return press


def box_close(c, box):
    c.x.request_close(box)


def second_instance(c, font_path, dismissals):
    """Starts one more copy per dismissal while the first runs; each shows the
    box, ends with status 1 once the box is dismissed that way, and leaves the
    first copy as it was."""
    display = c.display(font_path=font_path)
    c.display_name = display
    env, rx = c.midi()
    first = c.program(display, env)
    screen = Screen(display, c.out, c.name)
    panel_ready(first, screen)
    program_area = lambda im: [first.pixel(im, px, py) for py in range(0, 550, 7) for px in range(0, 910, 7)]
    before = program_area(screen.shot("first-alone"))

    for n, dismiss in enumerate(dismissals):
        with open(os.path.join(c.out, f"{c.name}-copy{n + 2}.log"), "w") as out:
            second = c.procs.start([c.args.program], env=dict(env, DISPLAY=display), stdout=out,
                                   stderr=subprocess.STDOUT)
        box = wait_for(lambda: c.x.find("PC_ZORVE"), 15, "the PC_ZORVE message box")[0]
        check(second.poll() is None, "the second copy ended before its box was dismissed")
        check(len(c.x.find("ZORVE_BUTTON")) == 1, "the second copy opened a main window")
        with_box = screen.shot(f"box{n + 2}")
        bx, by, bw, bh = c.x.geometry(box)
        log(f"message box screenshot: {with_box.path}; box at {(bx, by, bw, bh)}")
        inside = [with_box.rgb(bx + i, by + j) for j in range(bh) for i in range(bw)]
        check(len(set(inside)) > 2, "the message box shows nothing")
        dismiss(c, box)
        try:
            status = second.wait(timeout=10)
        except subprocess.TimeoutExpired:
            raise Failure(f"copy {n + 2} did not end after its box was dismissed ({dismiss.__name__})")
        check(status == 1, f"copy {n + 2} exit status {status}, want 1")
        check(not c.x.find("PC_ZORVE"), "the box stayed on screen")
        check(first.proc.poll() is None, "the first copy ended")
        # Where the box covered it, the first copy repaints on exposure.
        wait_for(lambda: program_area(screen.shot("first-after")) == before, 10,
                 "the first copy's panel to look as before")
    first.click(570, 25)
    expect(rx, [1, 2, 3], on_off(0x90, 89), "the first copy after the other starts")
    expect_silent(rx, [0, 1, 2, 3])


def case_second_instance(c):
    # SDL's own box where the X server's core fonts allow it, else ours.
    second_instance(c, None, [box_key("Return"), box_close])


def case_second_instance_own_box(c):
    # Only the server's built-in fonts: SDL's X11 box cannot open its font set,
    # so the program draws the box itself. Every way of dismissing it.
    empty = tempfile.mkdtemp(prefix="zorve-e2e-fonts-")
    try:
        second_instance(c, empty, [own_box_ok, box_key("Return"), box_key("Escape"), box_key("KP_Enter"), box_close])
    finally:
        os.rmdir(empty)


def case_close_window(c):
    display = c.display()
    env, rx = c.midi()
    program = c.program(display, env)
    panel_ready(program, Screen(display, c.out, c.name))
    # A key still held when the window goes gets its release.
    program.move(760, 420)
    program.xdo("mousedown", 1)
    expect(rx, [1, 2, 3], [bytes([0x90, 2, 127])], "press on PLAY")
    start = time.monotonic()
    c.x.request_close(program.window)
    status = program.exit_status(5)
    took = time.monotonic() - start
    log(f"close request to exit: {took * 1000:.0f} ms, status {status}")
    check(status == 0, f"exit status {status} after closing the window, want 0")
    check(took < 1.0, f"the program took {took:.2f} s to end after the close request")
    expect(rx, [1, 2, 3], [bytes([0x90, 2, 0])], "PLAY held while the window closed")
    program.xdo("mouseup", 1)
    expect_silent(rx, [0, 1, 2, 3])
    wait_for(lambda: "ZORVE_BUTTON" not in (jack_ports(env) or "ZORVE_BUTTON"), 5,
             "the program's JACK ports to go")


def case_no_midi(c):
    display = c.display()
    env = jack_env("zorve-e2e-absent")  # no server of that name runs
    program = c.program(display, env)
    screen = Screen(display, c.out, c.name)
    panel_ready(program, screen)
    program.wait_pixels(screen, {(11, 378): 0x444444, (30, 400): 0x444444}, "no port switches")
    program.move(570, 25)
    program.xdo("mousedown", 1)
    program.wait_pixels(screen, {(543, 13): 0xFFFFFF, (541, 11): 0x444444}, "A-held-without-MIDI")
    program.xdo("mouseup", 1)
    program.wait_pixels(screen, {(543, 13): 0xBBBBBB, (541, 11): 0x777777}, "A-released-without-MIDI")
    program.xdo("click", 5)
    program.focus()
    program.key("Up", "Down", "1", "Return", "Escape")
    check(program.proc.poll() is None, "the program ended without MIDI devices")
    c.x.request_close(program.window)
    status = program.exit_status(5)
    check(status == 0, f"exit status {status}, want 0")


def case_window_size(c):
    display = c.display(screen="800x500x24")
    env = jack_env("zorve-e2e-absent")  # no server of that name runs
    program = c.program(display, env)
    x, y, w, h = c.x.geometry(program.window)
    check((w, h) == (800, 500), f"window client area {w}x{h} on an 800x500 screen, want 800x500")
    panel_ready(program, Screen(display, c.out, c.name))
    c.x.request_close(program.window)
    check(program.exit_status(5) == 0, "exit status after close")


def case_window_resize(c):
    display = c.display(screen="1280x1024x24")
    env = jack_env("zorve-e2e-absent")
    program = c.program(display, env)
    screen = Screen(display, c.out, c.name)
    check(c.x.geometry(program.window)[2:] == (910, 550), "window client area on a large screen, want 910x550")
    panel_ready(program, screen)
    # Enlarged or shrunk, the panel keeps its pixel positions: never scaled
    # or moved, and the frame buffer's last pixel stays at (909, 549).
    program.xdo("windowsize", program.window, 1100, 700)
    wait_for(lambda: c.x.geometry(program.window)[2:] == (1100, 700), 10, "the window to grow")
    program.wait_pixels(screen, {(541, 11): 0x777777, (543, 13): 0xBBBBBB, (598, 38): 0x444444,
                                 (909, 549): 0x444444, (846, 481): 0x777777}, "enlarged")
    program.xdo("windowsize", program.window, 700, 400)
    wait_for(lambda: c.x.geometry(program.window)[2:] == (700, 400), 10, "the window to shrink")
    program.wait_pixels(screen, {(541, 11): 0x777777, (543, 13): 0xBBBBBB, (598, 38): 0x444444,
                                 (5, 5): 0x444444}, "shrunk")
    program.xdo("windowsize", program.window, 1100, 700)
    wait_for(lambda: c.x.geometry(program.window)[2:] == (1100, 700), 10, "the window to grow again")
    # Pad 16 lies beyond the 700x400 area; pressed, it shows its sunken face.
    program.move(867, 495)
    program.xdo("mousedown", 1)
    program.wait_pixels(screen, {(848, 483): 0xFFFFFF, (846, 481): 0x444444}, "pad-16-held")
    program.xdo("mouseup", 1)
    program.wait_pixels(screen, {(848, 483): 0xBBBBBB, (846, 481): 0x777777}, "pad-16-released")
    c.x.request_close(program.window)
    check(program.exit_status(5) == 0, "exit status after close")


def case_click_latency(c):
    display = c.display()
    env, rx = c.midi(receivers=2)
    program = c.program(display, env)
    panel_ready(program, Screen(display, c.out, c.name))
    program.move(570, 25)
    results = {}
    for tool in ("xdotool", "xtest"):
        delays = []
        for _ in range(20):
            start = time.monotonic()
            if tool == "xdotool":
                program.xdo("mousedown", 1)
            else:
                c.x.fake_button(1, True)
            arrived, message = rx[1].take(1)[0]
            check(message == bytes([0x90, 89, 127]), f"got {message.hex(' ')} for a press on A")
            delays.append((arrived - start) * 1000)
            if tool == "xdotool":
                program.xdo("mouseup", 1)
            else:
                c.x.fake_button(1, False)
            check(rx[1].take(1)[0][1] == bytes([0x90, 89, 0]), "release on A")
            time.sleep(0.01 + 0.0037 * (len(delays) % 7))  # spread presses over the JACK cycle
        results[tool] = delays
        log(f"click-to-MIDI via {tool}: min {min(delays):.1f} ms, median {statistics.median(delays):.1f} ms, "
            f"max {max(delays):.1f} ms over {len(delays)} presses")
    spawn = []
    for _ in range(10):
        start = time.monotonic()
        subprocess.run(["xdotool", "getmouselocation"], env=program.env, check=True, capture_output=True)
        spawn.append((time.monotonic() - start) * 1000)
    log(f"xdotool start-up alone: median {statistics.median(spawn):.1f} ms")
    # One JACK period is 5.3 ms; a key sends when its event arrives, not at a tick.
    check(statistics.median(results["xtest"]) < 30, "median press-to-MIDI above 30 ms")
    check(max(results["xtest"]) < 250, "a press took more than 250 ms to reach the receiver")


def cut_name(full):
    """At most 32 bytes, backed off to the start of a cut UTF-8 sequence."""
    raw = full.encode()
    if len(raw) <= 32:
        return raw
    n = 32
    while n > 0 and (raw[n] & 0xC0) == 0x80:
        n -= 1
    return raw[:n]


def start_source(c, env, name):
    """A JACK MIDI source (jack_midiseq): note 60 on and off ten times a second."""
    c.procs.start(["jack_midiseq", name, "4800", "0", "60", "2400"], env=env, stdout=subprocess.DEVNULL,
                  stderr=subprocess.DEVNULL)
    wait_for(lambda: f"{name}:out" in (jack_ports(env) or ""), 15, f"the MIDI source {name}")


def case_midi_ports(c):
    env = start_jack(c.procs, os.path.join(c.out, f"{c.name}-jackd.log"))
    start_source(c, env, "zsrc")
    long_client = "zr1-" + "\u20ac" * 12  # 3-byte characters: byte 32 falls inside the tenth
    rx = [Receiver(c.procs, env, name) for name in ("zr0", long_client, "zr2")]
    want = {("in", 0): ("open", b"zsrc:out")}
    for d, name in enumerate(["zr0:input", long_client + ":input", "zr2:input"]):
        want[("out", d)] = ("open", cut_name(name))
    check(len(want[("out", 1)][1]) == 31, "the long name was not cut inside a character")
    # The device table's order, then the other: the directions are independent.
    for order in ([], ["outputs-first"]):
        probe = c.procs.start([c.args.probe] + order, env=env, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                              text=True)
        lines = []
        while not lines or lines[-1] != "sent":
            line = probe.stdout.readline()
            check(line, f"the probe {order} ended early after {lines}")
            lines.append(line.strip())
        log("\n".join(lines))
        report = {}
        for line in lines[:-1]:
            kind, d, state, name = (line.split(" ") + [""])[:4]
            report[(kind, int(d))] = (state, bytes.fromhex(name))
        check(report == want, f"probe {order} saw {report}, want {want}")
        for d in range(3):
            expect(rx, [d], [bytes([0x90, 0x40 + d, 0x7F])], f"probe {order} send to device {d}")
        ports = jack_ports(env, connections=True)
        check(re.search(r"^ZORVE_BUTTON[^:\n]*:in 0\n\s+zsrc:out$", ports, re.M), f"input not connected:\n{ports}")
        clients = {line.split(":")[0] for line in ports.splitlines() if line.startswith("ZORVE_BUTTON")}
        log(f"JACK clients for 1 input and 3 outputs: {len(clients)}")
        check(len(clients) == 4, f"want one client per open port, got {sorted(clients)}")
        probe.stdin.close()
        check(probe.wait(timeout=10) == 0, f"probe {order} exit status")
        expect_silent(rx, [0, 1, 2])
        wait_for(lambda: "ZORVE_BUTTON" not in (jack_ports(env) or ""), 5, f"the ports of probe {order} to go")


def rss_kib(pid):
    with open(f"/proc/{pid}/status") as f:
        return next(int(line.split()[1]) for line in f if line.startswith("VmRSS:"))


def cpu_ticks(pid):
    """utime + stime of the whole process (all threads), in clock ticks."""
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return int(fields[11]) + int(fields[12])


def case_midi_input(c):
    display = c.display()
    env = start_jack(c.procs, os.path.join(c.out, f"{c.name}-jackd.log"))
    start_source(c, env, "zsrc")
    rx = [Receiver(c.procs, env, f"zr{k}") for k in range(2)]
    program = c.program(display, env)
    screen = Screen(display, c.out, c.name)
    panel_ready(program, screen)
    ports = jack_ports(env, connections=True)
    check(re.search(r"^ZORVE_BUTTON[^:\n]*:in 0\n\s+zsrc:out$", ports, re.M),
          f"the program's input is not connected to the source:\n{ports}")
    # Two outputs (its own input port is not one): switch 1 only.
    program.wait_pixels(screen, {(11, 378): 0xFFFFFF, (11, 396): 0x444444, (11, 414): 0x444444}, "one switch")
    program.click(570, 25)
    expect(rx, [1], on_off(0x90, 89), "click on A with two outputs")
    program.click(20, 403)  # where switch 2 would be: nothing
    expect_marker(program, rx, [1], "a click where switch 2 would be")
    # Input keeps arriving and is discarded: the program's memory stays put.
    before = rss_kib(program.proc.pid)
    time.sleep(3)
    after = rss_kib(program.proc.pid)
    log(f"resident memory while receiving input: {before} KiB -> {after} KiB")
    check(after - before < 2048, f"memory grew by {after - before} KiB in 3 s of input")
    expect_silent(rx, [0, 1])
    check(program.proc.poll() is None, "the program ended while receiving input")


def case_no_display(c):
    env = jack_env("zorve-e2e-absent")
    for k in ("DISPLAY", "WAYLAND_DISPLAY", "SDL_VIDEODRIVER"):
        env.pop(k, None)
    env["XDG_RUNTIME_DIR"] = tempfile.mkdtemp(prefix="zorve-e2e-run-")  # no Wayland socket in it
    try:
        proc = c.procs.start([c.args.program], env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        try:
            out, err = proc.communicate(timeout=15)
        except subprocess.TimeoutExpired:
            raise Failure("the program kept running without a display")
    finally:
        os.rmdir(env["XDG_RUNTIME_DIR"])
    log(f"exit status {proc.returncode}; stderr: {err.strip()}")
    check(proc.returncode == 3, f"exit status {proc.returncode} without a display, want 3")
    check("no display" in err, "no word about the missing display on stderr")


def case_install_layout(c):
    prefix = tempfile.mkdtemp(prefix="zorve-e2e-install-")
    try:
        subprocess.run(["cmake", "--install", c.args.build, "--prefix", prefix], check=True, timeout=60,
                       stdout=subprocess.DEVNULL)
        program = os.path.join(prefix, "bin", "zorve-button")
        desktop = os.path.join(prefix, "share", "applications", "zorve-button.desktop")
        icon = os.path.join(prefix, "share", "icons", "hicolor", "32x32", "apps", "zorve-button.png")
        check(os.access(program, os.X_OK), "program not installed as an executable in bin/")
        with open(desktop) as f:
            entry = f.read()
        check("Exec=zorve-button" in entry and "Icon=zorve-button" in entry, "desktop entry lacks Exec or Icon")
        with open(icon, "rb") as f, open(os.path.join(c.args.build, "zorve-button.png"), "rb") as g:
            check(f.read() == g.read(), "installed icon differs from the generated one")
    finally:
        shutil.rmtree(prefix)


def case_icon_png(args):
    ppm = subprocess.run(["convert", args.png, "-depth", "8", "ppm:-"], check=True, capture_output=True,
                         timeout=20).stdout
    image = Image(ppm, args.png)
    check((image.width, image.height) == (32, 32), f"icon is {image.width}x{image.height}")
    for (x, y), want in {(0, 0): 0xFFFF80, (1, 1): 0xFFFF80, (2, 2): 0x408080, (7, 7): 0x408080,
                         (8, 8): 0xFFFF80, (9, 2): 0x408080, (2, 9): 0x408080, (23, 23): 0x408080,
                         (28, 28): 0x408080, (29, 29): 0xFFFF80, (31, 31): 0xFFFF80}.items():
        check(image.rgb(x, y) == want, f"icon pixel ({x}, {y}) is {image.rgb(x, y):06x}, want {want:06x}")
    teal = sum(1 for y in range(32) for x in range(32) if image.rgb(x, y) == 0x408080)
    check(teal == 16 * 36, f"{teal} teal pixels, want 16 squares of 36")


CASES = {
    "midi_fanout": case_midi_fanout,
    "midi_input": case_midi_input,
    "midi_ports": case_midi_ports,
    "no_display": case_no_display,
    "port_switch": case_port_switch,
    "panel_pixels": case_panel_pixels,
    "second_instance": case_second_instance,
    "second_instance_own_box": case_second_instance_own_box,
    "close_window": case_close_window,
    "no_midi": case_no_midi,
    "window_size": case_window_size,
    "window_resize": case_window_resize,
    "click_latency": case_click_latency,
}


def run_case(args, body):
    """Runs `body()` and reports the case's verdict; the exit status."""
    started = time.monotonic()
    try:
        body()
    except Failure as failure:
        log(f"FAIL {args.case}: {failure}")
        return 1
    log(f"PASS {args.case} in {time.monotonic() - started:.1f} s")
    return 0


def with_case(args, run):
    """`run(case)` on a fresh Case that is closed whatever happens."""
    case = Case(args, args.case)
    try:
        run(case)
    finally:
        case.close()


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--program")
    parser.add_argument("--png")
    parser.add_argument("--probe")
    parser.add_argument("--build")
    parser.add_argument("--out", default=os.path.join(tempfile.gettempdir(), "zorve-e2e"))
    parser.add_argument("case", choices=sorted(CASES) + ["icon_png", "install_layout"])
    args = parser.parse_args()
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(3))  # CTest's timeout: still clean up

    def body():
        if args.case == "icon_png":
            require_tools(["convert"])
            case_icon_png(args)
        elif args.case == "install_layout":
            check(args.build and os.path.isdir(args.build), "--build must name the build tree")
            with_case(args, case_install_layout)
        else:
            require_tools(list(REQUIRED_TOOLS))
            program = args.probe if args.case == "midi_ports" else args.program
            check(program and os.access(program, os.X_OK), "--program (or --probe) must name the built program")
            with_case(args, CASES[args.case])

    return run_case(args, body)


if __name__ == "__main__":
    sys.exit(main())
