#!/usr/bin/env python3
"""End-to-end tests of playing the panel: the computer keyboard (--keys),
--velocity, and several fingers at once, with the real program on a real X
server and JACK receivers (the harness in e2e_lib.py).

Usage: zorve_play.py --program PATH [--out DIR] CASE
The touch case runs Xorg with a dummy screen and Xorg's own inputtest touch
driver, fed over its socket (packages xserver-xorg-core,
xserver-xorg-video-dummy, xserver-xorg-dev). Exit status 0 when the case
passed; every wait has a deadline.
"""

import argparse
import ctypes
import os
import shutil
import signal
import socket
import statistics
import struct
import subprocess
import sys
import tempfile
import time

sys.dont_write_bytecode = True
from e2e_lib import (LATENCY_PERIOD, REQUIRED_TOOLS, X, Failure, Screen, check, expect, expect_marker,  # noqa: E402
                     expect_silent, log, on_off, panel_ready, require_tools, run_case, wait_for, with_case)

PAD_1 = (160, 490)  # inside pad 1 (CC 16), rows 480..509
PAD_1_RECT = (155, 480, 45, 30)
ALL_NOTES_OFF = bytes([0xB0, 123, 0])


def cc(number, value):
    return bytes([0xB0, number, value])


def keyboard_program(c, args):
    display = c.display()
    env, rx = c.midi(receivers=2)
    program = c.program(display, env, args=args)
    screen = Screen(display, c.out, c.name)
    panel_ready(program, screen)
    program.focus()
    program.move(5, 540)  # on no key
    return program, rx, screen


def region_of(program, screen, label):
    image = screen.shot(label)
    x, y, w, h = PAD_1_RECT
    return image.region(program.origin[0] + x, program.origin[1] + y, w, h)


def wait_region(program, screen, label, want=None, unlike=None):
    """Screenshots of pad 1 until it equals `want` or differs from `unlike`."""
    return wait_for(lambda: (lambda r: r if (want is not None and r == want) or
                             (unlike is not None and r != unlike) else None)(region_of(program, screen, label)),
                    10, f"pad 1 {label}", interval=0.05)


def case_play_keys(c):
    program, rx, screen = keyboard_program(c, ["--keys"])
    program.xdo("keydown", "z")
    expect(rx, [1], [cc(16, 127)], "keydown z: pad 1")
    program.xdo("keyup", "z")
    expect(rx, [1], [cc(16, 0)], "keyup z")

    # Held for a second with autorepeat on: Up, the data wheel, repeats
    # (so the server does repeat), z does not.
    program.xdo("keydown", "Up")
    time.sleep(1.0)
    program.xdo("keyup", "Up")
    wait_for(lambda: rx[1].count() - rx[1].seen >= 4, 5, "Up's repeats")
    pairs = 0
    while rx[1].count() > rx[1].seen and rx[1].messages[rx[1].seen][1][:2] == bytes([0x90, 114]):
        expect(rx, [1], on_off(0x90, 114), "Up held")
        pairs += 1
    check(pairs >= 2, f"Up held for 1 s gave {pairs} pair(s): the server does not repeat")
    program.xdo("keydown", "z")
    time.sleep(1.0)
    program.xdo("keyup", "z")
    expect(rx, [1], [cc(16, 127), cc(16, 0)], "z held for 1 s")
    expect_marker(program, rx, [1], "z held for 1 s")

    # Two keys held together both sound; PLAY on Space, keypad Enter.
    program.xdo("keydown", "z")
    program.xdo("keydown", "x")
    expect(rx, [1], [cc(16, 127), cc(17, 127)], "z and x held")
    program.xdo("keyup", "x")
    program.xdo("keyup", "z")
    expect(rx, [1], [cc(17, 0), cc(16, 0)], "x and z let go")
    program.xdo("key", "space", "KP_Enter", "Left")
    expect(rx, [1], on_off(0x90, 2) + on_off(0x90, 113) + on_off(0x90, 13), "Space, keypad Enter, Left")

    # The focus goes while z is held: its 0 at once, nothing at the keyup.
    program.xdo("keydown", "z")
    expect(rx, [1], [cc(16, 127)], "z before the focus goes")
    program.xdo("windowfocus", c.x.root)
    expect(rx, [1], [cc(16, 0)], "focus lost while z is held")
    program.xdo("keyup", "z")
    program.focus()
    expect_marker(program, rx, [1], "the keyup after the focus went")

    # Another client grabs the keyboard while z is held: the release goes to
    # it, so z's 0 goes out at the grab.
    x = c.x
    x.lib.XGrabKeyboard.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_int, ctypes.c_int,
                                    ctypes.c_ulong]
    x.lib.XUngrabKeyboard.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
    program.xdo("keydown", "z")
    expect(rx, [1], [cc(16, 127)], "z before the keyboard grab")
    check(x.lib.XGrabKeyboard(x.dpy, x.root, 0, 1, 1, 0) == 0, "the keyboard grab failed")  # GrabModeAsync
    x.lib.XSync(x.dpy, 0)
    expect(rx, [1], [cc(16, 0)], "the keyboard grabbed by another client while z is held")
    program.xdo("keyup", "z")
    x.lib.XUngrabKeyboard(x.dpy, 0)
    x.lib.XSync(x.dpy, 0)
    expect_marker(program, rx, [1], "the keyup during the grab")

    # Escape: the held keys' 0s, then All Notes Off.
    program.xdo("keydown", "z")
    program.xdo("keydown", "space")
    expect(rx, [1], [cc(16, 127), bytes([0x90, 2, 127])], "z and Space before Escape")
    program.xdo("key", "Escape")
    expect(rx, [1], [bytes([0x90, 2, 0]), cc(16, 0), ALL_NOTES_OFF], "Escape")
    program.xdo("keyup", "z", "space")
    expect_marker(program, rx, [1], "the keyups after Escape")

    # A key held from the keyboard looks exactly as a clicked one.
    released = region_of(program, screen, "released")
    program.move(*PAD_1)
    program.xdo("mousedown", 1)
    clicked = wait_region(program, screen, "clicked", unlike=released)
    program.xdo("mouseup", 1)
    wait_region(program, screen, "released-again", want=released)
    program.move(5, 540)
    program.xdo("keydown", "z")
    try:
        wait_region(program, screen, "held-from-keyboard", want=clicked)
    except Failure:
        raise Failure("pad 1 held from the keyboard does not look as clicked (screenshots in the output folder)")
    program.xdo("keyup", "z")
    wait_region(program, screen, "keyboard-released", want=released)
    expect(rx, [1], on_off(0xB0, 16) + on_off(0xB0, 16), "the click and the key")
    expect_silent(rx, [0, 1])


def case_play_velocity(c):
    program, rx, _ = keyboard_program(c, ["--velocity", "100"])
    program.click(*PAD_1)
    expect(rx, [1], [cc(16, 100), cc(16, 0)], "--velocity 100: a click on pad 1")
    program.xdo("key", "z")  # no --keys: the keyboard plays nothing
    program.click(570, 25)  # A next, at 100: nothing came before it
    expect(rx, [1], [bytes([0x90, 89, 100]), bytes([0x90, 89, 0])], "a click on A after z without --keys")
    program.proc.terminate()
    check(program.exit_status(10) == 0, "the program did not end cleanly on SIGTERM")

    program = c.program(program.display, program.env, args=["--velocity", "position", "--keys"])
    program.focus()
    for y, value in ((480, 1), (494, 62), (509, 127)):  # top, middle and bottom rows of pad 1
        program.click(PAD_1[0], y)
        expect(rx, [1], [cc(16, value), cc(16, 0)], f"--velocity position: a click at row {y - 480} of pad 1")
    program.move(5, 540)
    program.xdo("key", "z")
    expect(rx, [1], [cc(16, 100), cc(16, 0)], "--velocity position: z")
    program.xdo("key", "shift+z")
    expect(rx, [1], [cc(16, 127), cc(16, 0)], "--velocity position: Shift+z")
    expect_silent(rx, [0, 1])


def case_key_latency(c):
    """Key press to message beside click to message, through XTest and
    through xdotool (which adds its own start), in the same run on the same
    receiver."""
    display = c.display()
    env, rx = c.midi(receivers=2, period=LATENCY_PERIOD)
    program = c.program(display, env, args=["--keys"])
    panel_ready(program, Screen(display, c.out, c.name))
    program.focus()
    program.move(*PAD_1)
    x = c.x
    x.xtst.XTestFakeKeyEvent.argtypes = [ctypes.c_void_p, ctypes.c_uint, ctypes.c_int, ctypes.c_ulong]
    x.lib.XKeysymToKeycode.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
    z = x.lib.XKeysymToKeycode(x.dpy, 0x7A)  # XK_z

    def key(press):
        x.xtst.XTestFakeKeyEvent(x.dpy, z, 1 if press else 0, 0)
        x.lib.XFlush(x.dpy)

    def xdotool(what):
        return lambda press: program.xdo(*(("mousedown" if press else "mouseup", 1) if what == "click" else
                                           ("keydown" if press else "keyup", "z")))

    results = {}
    for what, act in (("click", lambda press: x.fake_button(1, press)), ("key", key),
                      ("click via xdotool", xdotool("click")), ("key via xdotool", xdotool("key"))):
        delays = []
        for n in range(30):
            start = time.monotonic()
            act(True)
            arrived, message = rx[1].take(1)[0]
            check(message == cc(16, 127), f"got {message.hex(' ')} for a {what} on pad 1")
            delays.append((arrived - start) * 1000)
            act(False)
            check(rx[1].take(1)[0][1] == cc(16, 0), f"{what} released")
            time.sleep(0.01 + 0.0037 * (n % 7))  # spread presses over the JACK cycle
        results[what] = delays
        log(f"{what}-to-MIDI: min {min(delays):.1f} ms, median {statistics.median(delays):.1f} ms, "
            f"max {max(delays):.1f} ms over {len(delays)} presses")
    # A key takes the same road as a click: no slower than it by more than a JACK period.
    check(statistics.median(results["key"]) < statistics.median(results["click"]) + 6,
          "a key press takes longer than a click to reach the receiver")


# --------------------------------------------------------------- touches

INPUTTEST_CONF = """
Section "ServerFlags"
    Option "AutoAddDevices" "off"
EndSection
Section "Monitor"
    Identifier "monitor"
    HorizSync 5.0 - 1000.0
    VertRefresh 5.0 - 200.0
    Modeline "1280x800" 83.50 1280 1352 1480 1680 800 803 809 831 -hsync +vsync
EndSection
Section "Device"
    Identifier "dummy"
    Driver "dummy"
    VideoRam 16384
EndSection
Section "Screen"
    Identifier "screen"
    Device "dummy"
    Monitor "monitor"
    DefaultDepth 24
    SubSection "Display"
        Modes "1280x800"
    EndSubSection
EndSection
Section "InputDevice"
    Identifier "touch"
    Driver "inputtest"
    Option "DeviceType" "Touch"
    Option "SocketPath" "{socket}"
EndSection
Section "ServerLayout"
    Identifier "layout"
    Screen "screen"
    InputDevice "touch" "SendCoreEvents"
EndSection
"""
SCREEN_W, SCREEN_H = 1280, 800
TOUCH_BEGIN, TOUCH_UPDATE, TOUCH_END = 18, 19, 20


class TouchScreen:
    """Xorg's inputtest touch device: touches in screen pixels."""

    def __init__(self, path):
        self.sock = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        wait_for(lambda: self._connect(path), 10, "the inputtest socket")
        self.sock.sendall(struct.pack("=IiHH", 12, 0, 1, 1))  # client version 1.1
        self._read(12)

    def _connect(self, path):
        try:
            self.sock.connect(path)
            return True
        except OSError:
            return False

    def _read(self, n):
        data = b""
        while len(data) < n:
            chunk = self.sock.recv(n - len(data))
            check(chunk, "the inputtest driver closed its socket")
            data += chunk
        return data

    def touch(self, touch_id, kind, x=0, y=0):
        valuators = [0.0] * 64
        valuators[0] = x * 65536 / SCREEN_W
        valuators[1] = y * 65536 / SCREEN_H
        body = struct.pack("=IIi8B4x", touch_id, kind, 0, 3, 0, 0, 0, 0, 0, 0, 0)
        body += struct.pack("=64d", *valuators) + struct.pack("=64d", *([0.0] * 64))
        self.sock.sendall(struct.pack("=Ii", 8 + len(body), 6) + body)
        self.sync()

    def sync(self):
        """Returns once the server has handled everything sent before."""
        self.sock.sendall(struct.pack("=Ii", 8, 1))
        self._read(8)


def start_xorg(c):
    """Xorg on a dummy screen with an inputtest touchscreen; (display, TouchScreen)."""
    work = tempfile.mkdtemp(prefix="zorve-touch-", dir=c.out)
    os.chmod(work, 0o777)  # Xorg runs as nobody when we are root
    touch_socket = os.path.join(work, "touch")
    command = ["Xorg", "-novtswitch", "-sharevts"]
    if os.getuid() == 0:
        command = ["runuser", "-u", "nobody", "--"] + command
    display = run_xorg(c, work, command, INPUTTEST_CONF.format(socket=touch_socket))
    return display, TouchScreen(touch_socket)


def run_xorg(c, work, command, config):
    """Starts `command` (Xorg and its first options) with `config`; its display."""
    conf = os.path.join(work, "xorg.conf")
    with open(conf, "w") as f:
        f.write(config)
    read_fd, write_fd = os.pipe()
    command = command + ["-displayfd", str(write_fd), "-config", conf, "-logfile", os.path.join(work, "Xorg.log"),
                         "-nolisten", "tcp", "-noreset"]
    c.procs.start(command, pass_fds=(write_fd,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(write_fd)
    number = b""
    deadline = time.monotonic() + 20
    while not number.endswith(b"\n") and time.monotonic() < deadline:
        chunk = os.read(read_fd, 16)
        if not chunk:
            break
        number += chunk
    os.close(read_fd)
    check(number.strip().isdigit(), f"Xorg did not start (see {work}/Xorg.log)")
    display = ":" + number.decode().strip()
    c.x = X(display)
    return display


def case_play_touch(c):
    display, touch = start_xorg(c)
    touch_steps(c, display, touch)


def touch_steps(c, display, touch):
    """Two fingers on two pads, a slide off, fingers landing while others
    hold, a focus loss and a finger on a switch, through `touch`."""
    env, rx = c.midi(receivers=2)
    # JACK's receivers, also where a virtual machine has an ALSA sequencer.
    program = c.program(display, env, args=["--monitor", "--midi", "jack"])
    panel_ready(program, Screen(display, c.out, c.name))
    ox, oy = program.origin

    def at(x, y):
        return ox + x, oy + y

    # Two fingers on two pads: two on-messages, then two 0s.
    touch.touch(1, TOUCH_BEGIN, *at(160, 490))
    # In a virtual machine the first touch takes seconds (its code runs for
    # the first time there).
    wait_for(lambda: rx[1].count() > rx[1].seen, 30, "the first touch's message")
    expect(rx, [1], [cc(16, 127)], "finger 1 on pad 1")
    touch.touch(2, TOUCH_BEGIN, *at(210, 490))
    expect(rx, [1], [cc(17, 127)], "finger 2 on pad 2 while finger 1 holds pad 1")
    touch.touch(2, TOUCH_END, *at(210, 490))
    expect(rx, [1], [cc(17, 0)], "finger 2 lifts")
    # A finger sliding off its key releases it there; sliding onto another
    # key presses nothing, lifting there sends nothing.
    touch.touch(1, TOUCH_UPDATE, *at(170, 495))
    touch.touch(1, TOUCH_UPDATE, *at(160, 465))  # onto track select 1
    expect(rx, [1], [cc(16, 0)], "finger 1 slides off pad 1")
    touch.touch(1, TOUCH_END, *at(160, 465))
    # A finger landing while another is held presses its own key.
    touch.touch(3, TOUCH_BEGIN, *at(720, 400))  # PLAY
    touch.touch(4, TOUCH_BEGIN, *at(160, 460))  # track select 1
    expect(rx, [1], [bytes([0x90, 2, 127]), bytes([0x90, 29, 127])], "fingers 3 and 4")
    touch.touch(3, TOUCH_END, *at(720, 400))
    touch.touch(4, TOUCH_END, *at(160, 460))
    expect(rx, [1], [bytes([0x90, 2, 0]), bytes([0x90, 29, 0])], "fingers 3 and 4 lift")
    # The focus goes while a finger holds pad 1: its 0 at once, nothing at the lift.
    program.focus()
    touch.touch(7, TOUCH_BEGIN, *at(160, 490))
    expect(rx, [1], [cc(16, 127)], "finger 7 on pad 1")
    program.xdo("windowfocus", c.x.root)
    expect(rx, [1], [cc(16, 0)], "focus lost while finger 7 holds pad 1")
    touch.touch(7, TOUCH_END, *at(160, 490))
    program.focus()

    # A finger on switch 1 toggles it once: the next key reaches no device.
    # Were the touch also a mouse click, the click would toggle it back.
    touch.touch(5, TOUCH_BEGIN, *at(20, 385))
    touch.touch(5, TOUCH_END, *at(20, 385))
    touch.touch(6, TOUCH_BEGIN, *at(160, 490))
    touch.touch(6, TOUCH_END, *at(160, 490))
    wait_for(lambda: program.output().count("dev -  B0 10") == 2, 5, "pad 1's pair with port 1 off")
    expect_silent(rx, [0, 1])
    lines = [line for line in program.output().splitlines() if line.startswith("dev")]
    check(len(lines) == 12, "the monitor saw other messages than the touches':\n" + "\n".join(lines))


# The kernel's way (scripts/vm-run.sh): a uinput touchscreen, evdev, and
# Xorg's libinput driver bound to its node.
LIBINPUT_CONF = INPUTTEST_CONF.replace('''    Driver "inputtest"
    Option "DeviceType" "Touch"
    Option "SocketPath" "{socket}"''', '''    Driver "libinput"
    Option "Device" "{node}"''')


class UinputTouchScreen:
    """A multi-touch screen made through uinput (python3-evdev), in screen
    pixels; the same touch() as TouchScreen, each touch in a slot of its own."""

    def __init__(self):
        from evdev import AbsInfo, UInput, ecodes as e
        self.e = e
        w, h = SCREEN_W - 1, SCREEN_H - 1
        self.ui = UInput({e.EV_KEY: [e.BTN_TOUCH],
                          e.EV_ABS: [(e.ABS_X, AbsInfo(0, 0, w, 0, 0, 10)), (e.ABS_Y, AbsInfo(0, 0, h, 0, 0, 10)),
                                     (e.ABS_MT_SLOT, AbsInfo(0, 0, 9, 0, 0, 0)),
                                     (e.ABS_MT_TRACKING_ID, AbsInfo(0, 0, 65535, 0, 0, 0)),
                                     (e.ABS_MT_POSITION_X, AbsInfo(0, 0, w, 0, 0, 10)),
                                     (e.ABS_MT_POSITION_Y, AbsInfo(0, 0, h, 0, 0, 10))]},
                         name="zorve-test-touchscreen", input_props=[e.INPUT_PROP_DIRECT])
        check(self.ui.device, "uinput made no event device (modprobe evdev)")
        self.node = self.ui.device.path
        self.slots = {}

    def touch(self, touch_id, kind, x=0, y=0):
        e, ui = self.e, self.ui
        if kind == TOUCH_BEGIN:
            self.slots[touch_id] = min(set(range(10)) - set(self.slots.values()))
        ui.write(e.EV_ABS, e.ABS_MT_SLOT, self.slots[touch_id])
        if kind == TOUCH_BEGIN:
            ui.write(e.EV_ABS, e.ABS_MT_TRACKING_ID, touch_id)
        if kind == TOUCH_END:
            ui.write(e.EV_ABS, e.ABS_MT_TRACKING_ID, -1)
            del self.slots[touch_id]
        else:
            ui.write(e.EV_ABS, e.ABS_MT_POSITION_X, x)
            ui.write(e.EV_ABS, e.ABS_MT_POSITION_Y, y)
        if kind == TOUCH_BEGIN and len(self.slots) == 1:
            ui.write(e.EV_KEY, e.BTN_TOUCH, 1)
        if kind == TOUCH_END and not self.slots:
            ui.write(e.EV_KEY, e.BTN_TOUCH, 0)
        ui.syn()


def case_play_touch_kernel(c):
    check(os.getuid() == 0, "runs as root, in scripts/vm-run.sh")
    subprocess.run(["modprobe", "-a", "uinput", "evdev"], check=True, timeout=30)
    touch = UinputTouchScreen()
    # libinput takes only devices udev has seen: their entry, written here.
    rdev = os.stat(touch.node).st_rdev
    os.makedirs("/run/udev/data", exist_ok=True)
    with open(f"/run/udev/data/c{os.major(rdev)}:{os.minor(rdev)}", "w") as f:
        f.write("E:ID_INPUT=1\nE:ID_INPUT_TOUCHSCREEN=1\n")
    work = tempfile.mkdtemp(prefix="zorve-touch-", dir=c.out)
    display = run_xorg(c, work, ["Xorg"], LIBINPUT_CONF.format(node=touch.node))
    touch_steps(c, display, touch)


CASES = {
    "play_keys": case_play_keys,
    "play_velocity": case_play_velocity,
    "key_latency": case_key_latency,
    "play_touch": case_play_touch,
    "play_touch_kernel": case_play_touch_kernel,
}


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--program", required=True)
    parser.add_argument("--out", default=os.path.join(tempfile.gettempdir(), "zorve-e2e"))
    parser.add_argument("case", choices=sorted(CASES))
    args = parser.parse_args()
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(3))  # CTest's timeout: still clean up

    def body():
        tools = [t for t in REQUIRED_TOOLS if t != "aconnect"]
        if args.case.startswith("play_touch"):
            driver = "libinput" if args.case == "play_touch_kernel" else "inputtest"
            check(shutil.which("Xorg") and os.path.exists(f"/usr/lib/xorg/modules/input/{driver}_drv.so"),
                  f"Xorg and its {driver} driver are missing (scripts/install-deps.sh test)")
        require_tools(tools)
        with_case(args, CASES[args.case])

    return run_case(args, body)


if __name__ == "__main__":
    sys.exit(main())
