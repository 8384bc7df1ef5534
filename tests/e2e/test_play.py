"""Playing the panel end to end: the computer keyboard (--keys),
--velocity, and several fingers at once, with the real program and JACK
receivers. The touches go through Xorg with a dummy screen: fed over the
socket of Xorg's own inputtest driver (packages xserver-xorg-core,
xserver-xorg-video-dummy), or (marked kernel, in the virtual machine) made
by a uinput touchscreen that Xorg's libinput driver reads. Every wait has a
deadline."""

import os
import shutil
import socket
import statistics
import struct
import subprocess
import tempfile
import time

import pytest

from zorve_harness import (LATENCY_PERIOD, Failure, check, expect, expect_marker, expect_silent, log, on_off,
                           start_xorg, wait_for)

PAD_1 = (160, 490)  # inside pad 1 (CC 16), rows 480..509
PAD_1_RECT = (155, 480, 45, 30)
ALL_NOTES_OFF = bytes([0xB0, 123, 0])


def cc(number, value):
    return bytes([0xB0, number, value])


@pytest.fixture
def keyboard(panel):
    """The common opening, then the window focused and the pointer on no key."""
    panel.program.focus()
    panel.program.move(5, 540)
    return panel


def region_of(program, screen, label):
    image = screen.shot(label)
    x, y, w, h = PAD_1_RECT
    return image.region(program.origin[0] + x, program.origin[1] + y, w, h)


def wait_region(program, screen, label, want=None, unlike=None):
    """Screenshots of pad 1 until it equals `want` or differs from `unlike`."""
    return wait_for(lambda: (lambda r: r if (want is not None and r == want) or
                             (unlike is not None and r != unlike) else None)(region_of(program, screen, label)),
                    10, f"pad 1 {label}", interval=0.05)


@pytest.mark.opening(receivers=2, args=["--keys"])
def test_play_keys(case, keyboard):
    c, program, rx, screen = case, keyboard.program, keyboard.rx, keyboard.screen
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
    program.xdo("keydown", "z")
    expect(rx, [1], [cc(16, 127)], "z before the keyboard grab")
    check(c.x.grab_keyboard(), "the keyboard grab failed")
    expect(rx, [1], [cc(16, 0)], "the keyboard grabbed by another client while z is held")
    program.xdo("keyup", "z")
    c.x.ungrab_keyboard()
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


@pytest.mark.opening(receivers=2, args=["--velocity", "100"])
def test_play_velocity(case, keyboard):
    c, program, rx = case, keyboard.program, keyboard.rx
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


@pytest.mark.opening(receivers=2, period=LATENCY_PERIOD, args=["--keys"])
def test_key_latency(case, keyboard):
    """Key press to message beside click to message, through XTest and
    through xdotool (which adds its own start), in the same run on the same
    receiver."""
    x, program, rx = case.x, keyboard.program, keyboard.rx
    program.move(*PAD_1)
    z = x.keycode(0x7A)  # XK_z

    def xdotool(what):
        return lambda press: program.xdo(*(("mousedown" if press else "mouseup", 1) if what == "click" else
                                           ("keydown" if press else "keyup", "z")))

    results = {}
    for what, act in (("click", lambda press: x.fake_button(1, press)), ("key", lambda press: x.fake_key(z, press)),
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

SCREEN_W, SCREEN_H = 1280, 800
# A dummy screen and one touchscreen, whose driver lines are {driver}.
XORG_CONF = """
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
{driver}
EndSection
Section "ServerLayout"
    Identifier "layout"
    Screen "screen"
    InputDevice "touch" "SendCoreEvents"
EndSection
"""
INPUTTEST = '''    Driver "inputtest"
    Option "DeviceType" "Touch"
    Option "SocketPath" "{socket}"'''
LIBINPUT = '''    Driver "libinput"
    Option "Device" "{node}"'''
TOUCH_BEGIN, TOUCH_UPDATE, TOUCH_END = 18, 19, 20
# JACK's receivers, also where a virtual machine has an ALSA sequencer.
TOUCH_ARGS = ["--monitor", "--midi", "jack"]


def require_xorg(driver):
    check(shutil.which("Xorg") and os.path.exists(f"/usr/lib/xorg/modules/input/{driver}_drv.so"),
          f"Xorg and its {driver} driver are missing (scripts/install-deps.sh test)")


def xorg_folder(c):
    """A folder for Xorg's configuration and log, in the case's output."""
    work = tempfile.mkdtemp(prefix="zorve-touch-", dir=c.out)
    os.chmod(work, 0o777)  # Xorg runs as nobody when we are root
    return work


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


def touch_steps(c, panel, touch):
    """Two fingers on two pads, a slide off, fingers landing while others
    hold, a focus loss and a finger on a switch, through `touch`."""
    program, rx = panel.program, panel.rx
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


def test_play_touch(case):
    """Touches fed to Xorg's inputtest driver, Xorg run as nobody when the
    case runs as root (it then opens no console)."""
    c = case
    require_xorg("inputtest")
    work = xorg_folder(c)
    touch_socket = os.path.join(work, "touch")
    command = ["Xorg", "-novtswitch", "-sharevts"]
    if os.getuid() == 0:
        command = ["runuser", "-u", "nobody", "--"] + command
    panel = c.open(receivers=2, args=TOUCH_ARGS, start=start_xorg, work=work, command=command,
                   config=XORG_CONF.format(driver=INPUTTEST.format(socket=touch_socket)),
                   before=lambda c: TouchScreen(touch_socket))
    touch_steps(c, panel, panel.extra)


@pytest.mark.kernel
def test_play_touch_kernel(case):
    """The kernel's way (scripts/vm-run.sh): a uinput touchscreen, evdev, and
    Xorg's libinput driver bound to its node."""
    c = case
    check(os.getuid() == 0, "runs as root, in scripts/vm-run.sh")
    require_xorg("libinput")
    subprocess.run(["modprobe", "-a", "uinput", "evdev"], check=True, timeout=30)
    touch = UinputTouchScreen()
    # libinput takes only devices udev has seen: their entry, written here.
    rdev = os.stat(touch.node).st_rdev
    os.makedirs("/run/udev/data", exist_ok=True)
    with open(f"/run/udev/data/c{os.major(rdev)}:{os.minor(rdev)}", "w") as f:
        f.write("E:ID_INPUT=1\nE:ID_INPUT_TOUCHSCREEN=1\n")
    panel = c.open(receivers=2, args=TOUCH_ARGS, start=start_xorg, work=xorg_folder(c),
                   config=XORG_CONF.format(driver=LIBINPUT.format(node=touch.node)))
    touch_steps(c, panel, touch)
