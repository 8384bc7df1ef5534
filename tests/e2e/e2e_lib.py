"""The end-to-end harness for the Linux program, shared by the e2e cases
(zorve_e2e.py), the fault tests (zorve_faults.py) and the bench scripts
(bench/soak.py, bench/measure_program.py).

A case starts its own Xvfb (the server picks a free display) and, where it
needs MIDI, its own JACK server with a unique name and jack_midi_dump
receivers registered before the program starts, so receiver k is the
program's output device k. Input comes from xdotool (XTest); screenshots from
ImageMagick's `import -window root`; the window close request and the window
lookups go straight to Xlib through ctypes. Every wait has a deadline.
"""

import ctypes
import ctypes.util
import os
import re
import select
import shutil
import signal
import subprocess
import sys
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
    "jack_connect": "jackd2",
    "jack_disconnect": "jackd2",
    "jack_midiseq": "jackd2",
    "jack_lsp": "jackd2",
    "jack_midi_dump": "jackd2",
    "xdotool": "xdotool",
    "import": "imagemagick",
    "convert": "imagemagick",
    "stdbuf": "coreutils",
    "aconnect": "alsa-utils",
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
        lib.XChangeProperty.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_ulong, ctypes.c_ulong,
                                        ctypes.c_int, ctypes.c_int, ctypes.c_char_p, ctypes.c_int]
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

    def set_resources(self, text):
        """Replaces the server's resource database (the root window's
        RESOURCE_MANAGER, as `xrdb` sets it), read by clients that connect
        afterwards: "Xft.dpi:\t192\n"."""
        data = text.encode()
        self.lib.XChangeProperty(self.dpy, self.root, 23, 31, 8, 0, data, len(data))  # RESOURCE_MANAGER, STRING
        self.lib.XSync(self.dpy, 0)

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


def jack_graph(env):
    """{port: [ports connected to it]} from `jack_lsp -c`, in listing order."""
    text = jack_ports(env, connections=True)
    check(text is not None, f"JACK server {env.get('JACK_DEFAULT_SERVER')} does not answer")
    graph, port = {}, None
    for line in text.splitlines():
        if line[:1].isspace():
            graph[port].append(line.strip())
        elif line:
            port = line
            graph[port] = []
    return graph


def program_ports(env, client="ZORVE_BUTTON"):
    """{port name within the client: [connections]} of the program, which
    must show up as the one JACK client `client`."""
    graph = jack_graph(env)
    clients = sorted({p.split(":")[0] for p in graph if p.startswith("ZORVE_BUTTON")})
    check(clients == [client], f"want the program as the one JACK client {client}, got {clients}")
    return {p.split(":", 1)[1]: conns for p, conns in graph.items() if p.startswith(client + ":")}


def wait_program_ports(env, want, what, timeout=5.0):
    """Polls program_ports until it equals `want`; returns it."""
    last = {}

    def matches():
        last["ports"] = program_ports(env)
        return last["ports"] == want

    try:
        wait_for(matches, timeout, what, interval=0.05)
    except Failure:
        raise Failure(f"{what}: the program's JACK ports are {last.get('ports')}, want {want}")
    return last["ports"]


def jack_connect(env, source, destination):
    subprocess.run(["jack_connect", source, destination], env=env, check=True, timeout=10,
                   stdout=subprocess.DEVNULL)


# Frames per JACK period at 48 kHz. At 256 (5.3 ms) the dummy server here
# reports a dozen xruns in 15 s with four idle receivers, clients that did not
# run within the period, and a message written in such a cycle can be lost;
# at 1024 (21 ms) none. Cases that check bytes and their order use 1024, so a
# missing message is the program's; cases that time a message use 256, the
# period users run for playing.
PERIOD = 1024
LATENCY_PERIOD = 256
SAMPLE_RATE = 48000  # of every JACK server a case starts


def start_jack(procs, log_path, period=PERIOD, with_jackd=None):
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
            jackd = procs.start(["jackd", "-n", server, "-d", "dummy", "-r", str(SAMPLE_RATE), "-p", str(period)],
                                env=env, stdout=out, stderr=subprocess.STDOUT)

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
    """A MIDI receiver process; `messages` holds (arrival time, bytes) in
    order. JACK: a jack_midi_dump client; ALSA: a zorve-seq-peer client. A
    receiver not `listened` to only sinks what arrives, with no reader thread
    of ours competing with the one a measurement times. `port` is the port
    the program's output is subscribed to, `device_name` the name the
    program lists for it."""

    def __init__(self, procs, env, name, listened=True, args=None, port=None):
        self.name = name
        self.messages = []
        self.seen = 0  # messages already accounted for by the case
        self.lock = threading.Lock()
        self.port = port or f"{name}:input"
        self.device_name = self.port
        alsa = args is not None
        self.proc = procs.start(args or ["stdbuf", "-oL", "jack_midi_dump", name], env=env,
                                stdout=subprocess.PIPE if listened or alsa else subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL, text=True)
        if alsa:  # "ready C:P" once its port exists
            line = self.proc.stdout.readline().split()
            check(line[:1] == ["ready"], f"receiver {name} did not start")
            self.address = line[1]
            self.device_name = f"{self.port} {self.address}"
        if listened or alsa:
            threading.Thread(target=self._read, args=(listened,), daemon=True).start()
        if not alsa:
            wait_for(lambda: f"{name}:input" in (jack_ports(env) or ""), 15, f"receiver {name}")

    def _read(self, listened):
        for line in self.proc.stdout:
            now = time.monotonic()
            match = MESSAGE.match(line)
            if match and listened:
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


# ------------------------------------------------------ the MIDI systems


def ready_source(procs, args, name, env):
    """A source client that prints "ready" once its ports exist and takes
    lines on its standard input; its process. Both systems' flood sources
    ("flood NAME PORTS RATE idle") send nothing until a first line, then
    RATE messages a second on each port "out k" until standard input closes,
    and print "sent N lost M". Scripted sources ("script NAME") send each
    line as the bytes it names in hex ("90 59 7F") on their port "out 0"."""
    proc = procs.start(args, env=env, stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
    check(proc.stdout.readline().strip() == "ready", f"the MIDI source {name} did not start")
    return proc


class JackMidi:
    """A JACK server of the case's own (start_jack) and its clients."""

    name = "jack"
    # Ports of the program beside its output ports, connected to what, and
    # input devices before any a case starts: none on JACK.
    fixed_ports = {}
    fixed_inputs = []

    def __init__(self, c, period=PERIOD, with_jackd=None):
        self.procs = c.procs
        self.env = start_jack(c.procs, os.path.join(c.out, f"{c.name}-jackd.log"), period, with_jackd)
        self.cycle = period / SAMPLE_RATE  # s; a message waits for the next cycle to go out
        self.flood_client = getattr(c.args, "flood", None)

    def receiver(self, name, listened=True):
        return Receiver(self.procs, self.env, name, listened)

    def device_receiver(self, name, listened=True):
        """The receiver that is output device 0."""
        return self.receiver(name, listened)

    def graph(self):
        return jack_graph(self.env)

    def connect(self, source, destination):
        jack_connect(self.env, source, destination)

    def disconnect(self, source, destination):
        subprocess.run(["jack_disconnect", source, destination], env=self.env, check=True, timeout=10)

    def clients(self):
        return sorted({p.split(":")[0] for p in self.graph() if p.startswith("ZORVE_BUTTON")})

    def source(self, name):
        """A MIDI source (jack_midiseq): note 60 on and off ten times a
        second; [its device name]."""
        start_source(self, self.env, name)
        return [f"{name}:out"]

    def flood(self, name, ports, rate):
        return self._flood_client(name, str(ports), str(rate), "idle")

    def scripted(self, name):
        return self._flood_client(name, "1", "script")

    def _flood_client(self, name, *mode):
        check(self.flood_client and os.access(self.flood_client, os.X_OK), "--flood must name the built flood client")
        return ready_source(self.procs, [self.flood_client, name, *mode], name, self.env)


THROUGH = "Midi Through:Midi Through Port-0"
ACONNECT_CLIENT = re.compile(r"^client (\d+): '(.*)' \[")
ACONNECT_PORT = re.compile(r"^\s+(\d+) '(.*)'\s*$")
ACONNECT_LINK = re.compile(r"^\s+(Connecting To|Connected From): (.*)$")


class AlsaMidi:
    """The machine's ALSA sequencer (a virtual machine's: scripts/vm-run.sh)
    and zorve-seq-peer clients. Client 14, Midi Through, is every program's
    device 0: a receiver subscribed from it stands for device 0."""

    name = "alsa"
    fixed_ports = {"in 0": [THROUGH]}  # Midi Through is input device 0 too
    fixed_inputs = [f"{THROUGH} 14:0"]

    def __init__(self, c):
        check(os.access("/dev/snd/seq", os.R_OK | os.W_OK), "no ALSA sequencer here: run the case in the "
              "virtual machine (scripts/vm-run.sh)")
        self.procs = c.procs
        self.peer = c.args.seq_peer
        check(self.peer and os.access(self.peer, os.X_OK), "--seq-peer must name the built zorve-seq-peer")
        self.env = jack_env("zorve-e2e-absent")  # JACK would never be asked; no server of that name either
        self.cycle = 0.0  # the sequencer delivers at once

    def receiver(self, name, listened=True, watch=None):
        args = [self.peer, "receive", name] + ([watch] if watch else [])
        return Receiver(self.procs, self.env, name, listened, args, port=THROUGH if watch else None)

    def device_receiver(self, name, listened=True):
        rx = self.receiver(name, listened, watch="14:0")
        rx.device_name = f"{THROUGH} 14:0"
        return rx

    def listing(self):
        """{"C:P": "client:port"} and {"client:port": ["C:P" linked]} from aconnect -l."""
        text = subprocess.run(["aconnect", "-l"], capture_output=True, text=True, timeout=10, check=True).stdout
        names, links, client, port = {}, {}, None, None
        for line in text.splitlines():
            if m := ACONNECT_CLIENT.match(line):
                client = (m.group(1), m.group(2))
            elif m := ACONNECT_PORT.match(line):
                port = f"{client[1]}:{m.group(2).rstrip()}"
                names[f"{client[0]}:{m.group(1)}"] = port
                links[port] = []
            elif m := ACONNECT_LINK.match(line):
                links[port] += [a.split("[")[0].strip() for a in m.group(2).split(",")]
        return names, links

    def graph(self):
        """{port: [ports subscribed to or from it]}, as jack_graph gives it."""
        names, links = self.listing()
        return {port: [names.get(a, a) for a in linked] for port, linked in links.items()}

    def address(self, port):
        names, _ = self.listing()
        found = [a for a, n in names.items() if n == port]
        check(len(found) == 1, f"{len(found)} ALSA ports named {port}")
        return found[0]

    def connect(self, source, destination):
        subprocess.run(["aconnect", self.address(source), self.address(destination)], check=True, timeout=10)

    def disconnect(self, source, destination):
        subprocess.run(["aconnect", "-d", self.address(source), self.address(destination)], check=True, timeout=10)

    def clients(self):
        names, _ = self.listing()
        return [n.split(":")[0] for a, n in names.items() if n.startswith("ZORVE_BUTTON:panel")]

    def source(self, name, ports=1, rate=10):
        """A zorve-seq-peer source of `ports` ports "out k", each sending
        `rate` messages a second; [their device names]."""
        ready_source(self.procs, [self.peer, "flood", name, str(ports), str(rate)], name, self.env)
        return [f"{name}:out {k} {self.address(f'{name}:out {k}')}" for k in range(ports)]

    def flood(self, name, ports, rate):
        return ready_source(self.procs, [self.peer, "flood", name, str(ports), str(rate), "idle"], name, self.env)

    def scripted(self, name):
        return ready_source(self.procs, [self.peer, "script", name], name, self.env)


def program_ports_of(system, client="ZORVE_BUTTON"):
    """{port name within the client: [connections]} of the program, which
    must show up as the one client `client` of the MIDI system."""
    graph = system.graph()
    clients = system.clients()
    check(clients == [client], f"want the program as the one {system.name} client {client}, got {clients}")
    return {p.split(":", 1)[1]: conns for p, conns in graph.items() if p.startswith(client + ":")}


def wait_ports_of(system, want, what, timeout=5.0):
    """Polls the program's ports until they equal `want` plus the ports the
    system always gives it; returns them."""
    want = dict(system.fixed_ports, **want)
    last = {}

    def matches():
        last["ports"] = {n: sorted(c) for n, c in program_ports_of(system).items()}
        return last["ports"] == {n: sorted(c) for n, c in want.items()}

    try:
        wait_for(matches, timeout, what, interval=0.05)
    except Failure:
        raise Failure(f"{what}: the program's {system.name} ports are {last.get('ports')}, want {want}")
    return last["ports"]


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
    """The program on a display; `args` are its options. Its stdout and stderr
    go to one log file, read back by output()."""

    def __init__(self, procs, path, display, env, x, log_path, args=()):
        self.x = x
        self.path = path
        env = dict(env, DISPLAY=display)
        self.env = env
        self.display = display
        self.log_path = log_path
        with open(log_path, "w") as out:
            self.proc = procs.start([path, *args], env=env, stdout=out, stderr=subprocess.STDOUT)
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


def marker_free(display=None):
    """No copy of this user holds the running-copy marker for `display` (any
    display when None): neither its abstract socket nor a socket file of
    that name (in $XDG_RUNTIME_DIR) is bound."""
    abstract = f"@zorve-button-{os.getuid()}-"
    with open("/proc/net/unix") as f:
        names = [line.split()[-1] for line in f.readlines()[1:] if len(line.split()) >= 8]
    for name in names:
        base = name[len(abstract):] if name.startswith(abstract) else None
        if base is None and name.startswith("/") and os.path.basename(name).startswith("zorve-button-"):
            base = os.path.basename(name)[len("zorve-button-"):]
        if base is not None and (display is None or base == display):
            return False
    return True


# ------------------------------------------------------------- expectations

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

    def midi(self, receivers=4, period=None, names=None, with_jackd=None):
        """The MIDI system the case runs on (--midi: jack, the default, or
        alsa) as `self.sys`, with receivers that are output devices 0, 1, ...
        in order: (environment for the program, receivers). A JACK server
        runs at `period` frames (else the run's --period, else PERIOD)."""
        period = period or getattr(self.args, "period", None) or PERIOD
        if getattr(self.args, "midi", "jack") == "alsa":
            self.sys = AlsaMidi(self)
        else:
            self.sys = JackMidi(self, period, with_jackd)
        names = names or [f"zr{k}" for k in range(receivers)]
        rx = [self.sys.device_receiver(n) if k == 0 else self.sys.receiver(n) for k, n in enumerate(names)]
        return self.sys.env, rx

    def program(self, display, env, args=(), path=None):
        wait_for(lambda: marker_free(display), 60, "another copy of the program on this display to end")
        self.programs += 1
        log_path = os.path.join(self.out, f"{self.name}-program{self.programs}.log")
        return Program(self.procs, path or self.args.program, display, env, self.x, log_path, args)

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


def start_source(c, env, name):
    """A JACK MIDI source (jack_midiseq): note 60 on and off ten times a second."""
    c.procs.start(["jack_midiseq", name, "4800", "0", "60", "2400"], env=env, stdout=subprocess.DEVNULL,
                  stderr=subprocess.DEVNULL)
    wait_for(lambda: f"{name}:out" in (jack_ports(env) or ""), 15, f"the MIDI source {name}")


def rss_kib(pid):
    with open(f"/proc/{pid}/status") as f:
        return next(int(line.split()[1]) for line in f if line.startswith("VmRSS:"))


def thread_runs(pid):
    """{thread id: times it was run} (the third field of schedstat)."""
    out = {}
    for tid in os.listdir(f"/proc/{pid}/task"):
        try:
            with open(f"/proc/{pid}/task/{tid}/schedstat") as f:
                out[tid] = int(f.read().split()[2])
        except (FileNotFoundError, ProcessLookupError):
            pass
    return out


def cpu_ticks(pid):
    """utime + stime of the whole process (all threads), in clock ticks."""
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return int(fields[11]) + int(fields[12])


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


# ------------------------------------------------------------- the runner


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


def run_cases(args, run_one):
    """`run_one(args)` for each of args.cases in turn, args.case naming it;
    CTest's timeout (SIGTERM) still cleans up. The status: 0 when all passed."""
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(3))
    status = 0
    for case in args.cases:
        args.case = case
        status |= run_one(args)
    return status


def with_case(args, run):
    """`run(case)` on a fresh Case that is closed whatever happens."""
    case = Case(args, args.case)
    try:
        run(case)
    finally:
        case.close()
