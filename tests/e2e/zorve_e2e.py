#!/usr/bin/env python3
"""End-to-end tests of the Linux program, run against real parts through the
harness in e2e_lib.py: each case starts its own Xvfb and, where it needs MIDI,
its own JACK server with jack_midi_dump receivers.

Usage: zorve_e2e.py --program PATH [--period FRAMES] [--fail-upload LIBRARY] [--out DIR] CASE
       zorve_e2e.py --icons DIR icon_png
       zorve_e2e.py --key-table PATH key_table_tool
       zorve_e2e.py --program PATH --key-table PATH --man-page PATH --build DIR --guide PATH key_table_docs
       zorve_e2e.py --key-table PATH --render-panel PATH --make-icon PATH tools_command_line
       zorve_e2e.py --build DIR install_layout
       zorve_e2e.py --build DIR --version V [--out DIR] package_deb
Exit status 0 when the case passed; every wait has a deadline.
"""

import argparse
import errno
import gzip
import os
import re
import shutil
import signal
import stat
import statistics
import subprocess
import sys
import tempfile
import time

# The harness sits beside this script, so it is found without a path entry;
# no bytecode cache is written into the source tree.
sys.dont_write_bytecode = True
from e2e_lib import (LATENCY_PERIOD, PANEL_DRAWN, REQUIRED_TOOLS, Failure, Image, Program, Receiver, Screen, X,  # noqa: E402
                     check, expect, expect_marker, expect_silent, jack_connect, jack_env, jack_graph, jack_ports,
                     key_table, log, on_off, panel_ready, program_ports, program_ports_of, require_tools, rss_kib,
                     run_case, start_jack, start_source, start_xvfb, thread_runs, wait_for, wait_ports_of,
                     wait_program_ports, with_case)

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


# ------------------------------------------------------------------- cases


def case_midi_fanout(c):
    display = c.display()
    env, rx = c.midi(receivers=5)
    program = c.program(display, env)
    panel_ready(program, Screen(display, c.out, c.name))

    # One client: an output port per device, each connected to its device,
    # and the panel port, connected to nothing.
    want = {f"out {k}": [rx[k].port] for k in range(5)}
    want["panel"] = []
    wait_ports_of(c.sys, want, "one client with a port per device and the panel port")

    for label, point, status, number in KEYS:
        program.click(*point)
        expect(rx, [1, 2, 3], on_off(status, number), f"click on {label} at {point}")
    # Every key of the panel, at the middle of its rectangle.
    for index, (x, y, w, h), status, number, label in key_table(c.args.key_table) if c.args.key_table else []:
        program.click(x + w // 2, y + h // 2)
        expect(rx, [1, 2, 3], on_off(status, number), f"click on key {index} ({label})")

    program.click(200, 460)  # the gap between track-select keys 1 and 2
    expect_marker(program, rx, [1, 2, 3], "a click in the gap at (200, 460)")

    # A press dragged off its key releases it at the first move outside, also
    # out of the window; the moves after it still reach the program. The key
    # the pointer ends on is not pressed, but a release over it sends its 0;
    # a release over no key, or outside the window, sends nothing.
    b_off = [bytes([0x90, 90, 0])]
    for label, moves, at_release in (("onto B", [(650, 25)], b_off),
                                     ("into the gap", [(610, 25)], None),
                                     ("out of the window and back onto B", [(990, 25), (990, 300), (650, 25)], b_off),
                                     ("out of the window", [(990, 300)], None)):
        program.move(570, 25)
        program.xdo("mousedown", 1)
        expect(rx, [1, 2, 3], [bytes([0x90, 89, 127])], f"press on A before a drag {label}")
        for n, point in enumerate(moves):
            program.move(*point)
            if n == 0:
                expect(rx, [1, 2, 3], [bytes([0x90, 89, 0])], f"drag from A {label}")
        program.xdo("mouseup", 1)
        if at_release:
            expect(rx, [1, 2, 3], at_release, f"release after a drag {label}")
        else:
            expect_marker(program, rx, [1, 2, 3], f"a release after a drag {label}")

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

    expect_silent(rx, [0, 1, 2, 3, 4])
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


def label_columns(program, image, top):
    """Columns x in 50..249 where the device name beside a switch (drawn
    from (50, top)) has ink: pixels off the panel background."""
    return [x for x in range(50, 250) if any(program.pixel(image, x, y) != 0x444444 for y in range(top, top + 16))]


def case_panel_port(c):
    """A receiver connected to the panel port after the start gets every
    message the panel sends, as device 1 gets it, whatever the switches say.
    A device name with letters beyond ASCII is drawn in its 8-bit form."""
    display = c.display()
    # Devices 1 and 2 differ in a digit (same width) and in e with and
    # without its accent (same width): drawn right, the two names end in the
    # same column; drawn as its UTF-8 bytes ("\u00c3\u00a9", 12 columns
    # more) or as "?" (one more), the first does not.
    env, rx = c.midi(names=["zr0", "zr1\u00e9", "zr2e", "zr3"])
    program = c.program(display, env)
    screen = Screen(display, c.out, c.name)
    image = panel_ready(program, screen)
    first, second = label_columns(program, image, 377), label_columns(program, image, 395)
    log(f"device name columns: 1: {first[:1]}..{first[-1:]}, 2: {second[:1]}..{second[-1:]}")
    check(first and second and first[0] == second[0] == 50 and first[-1] == second[-1],
          f"the name of device 1 ends at column {first[-1:]}, that of device 2 at {second[-1:]}: "
          f"\"zr1\u00e9:input\" is not drawn in its 8-bit form; screenshot {image.path}")

    late = c.sys.receiver("zlate")  # a synth started after the program
    c.sys.connect("ZORVE_BUTTON:panel", "zlate:input")
    ports = program_ports_of(c.sys)
    check(ports["panel"] == ["zlate:input"], f"the panel port is connected to {ports['panel']}, want zlate:input")
    everyone = rx + [late]  # 4: the panel port's receiver
    for label, point, status, number in KEYS[::2]:
        program.click(*point)
        expect(everyone, [1, 2, 3, 4], on_off(status, number), f"click on {label} at {point}")
    program.move(300, 380)
    program.xdo("click", 5)
    expect(everyone, [1, 2, 3, 4], on_off(0x90, 114), "wheel toward the user")
    program.focus()
    program.key("Down")
    expect(everyone, [1, 2, 3, 4], on_off(0x90, 115), "Down arrow key")

    program.click(20, 385)  # switch 1 off
    program.click(570, 25)
    expect(everyone, [2, 3, 4], on_off(0x90, 89), "click on A with port 1 off")
    program.click(20, 403)  # switches 2 and 3 off too
    program.click(20, 421)
    for label, point, status, number in KEYS[1::3]:
        program.click(*point)
        expect(everyone, [4], on_off(status, number), f"click on {label} at {point} with every switch off")
    program.click(20, 403)  # switch 2 on again
    program.click(160, 490)
    expect(everyone, [2, 4], on_off(0xB0, 16), "click on pad 1 with port 2 on")
    expect_silent(everyone, [0, 1, 2, 3, 4])


def case_device_restart(c):
    """A device's receiver stops and one with the same port name starts: the
    program connects it again, each time. Connections made or removed by
    others stay as they left them."""
    display = c.display()
    env, rx = c.midi()
    program = c.program(display, env)
    panel_ready(program, Screen(display, c.out, c.name))
    wait_ports_of(c.sys, {"out 0": [rx[0].port], "out 1": ["zr1:input"], "out 2": ["zr2:input"],
                          "out 3": ["zr3:input"], "panel": []}, "the devices to be connected")
    extra = c.sys.receiver("zextra")
    c.sys.connect("ZORVE_BUTTON:out 3", "zextra:input")
    c.sys.disconnect("ZORVE_BUTTON:out 1", "zr1:input")
    everyone = rx + [extra]  # 4: connected by hand to output device 3
    program.click(570, 25)
    expect(everyone, [2, 3, 4], on_off(0x90, 89), "click on A with devices as connected by hand")

    for restart, stop in enumerate((signal.SIGKILL, signal.SIGINT)):
        rx[2].proc.send_signal(stop)
        rx[2].proc.wait(timeout=10)
        wait_for(lambda: "zr2:input" not in c.sys.graph(), 10, "the stopped receiver's port to go")
        program.click(760, 420)
        expect(everyone, [3, 4], on_off(0x90, 2), f"click on PLAY with device 2 gone ({restart + 1})")
        rx[2] = c.sys.receiver("zr2")
        everyone[2] = rx[2]
        wait_for(lambda: c.sys.graph().get("zr2:input") == ["ZORVE_BUTTON:out 2"], 10,
                 f"the new zr2:input to be connected to out 2 ({restart + 1})")
        program.click(160, 490)
        expect(everyone, [2, 3, 4], on_off(0xB0, 16), f"click on pad 1 after device 2 came back ({restart + 1})")

    ports = {name: sorted(conns) for name, conns in program_ports_of(c.sys).items()}
    want = dict(c.sys.fixed_ports, **{"out 0": [rx[0].port], "out 1": [], "out 2": ["zr2:input"],
                                      "out 3": ["zextra:input", "zr3:input"], "panel": []})
    check(ports == want, f"the program's {c.sys.name} ports are {ports}, want {want}")
    expect_silent(everyone, [0, 1, 2, 3, 4])


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


def own_box_ok(c, box, copy):
    """Clicks the OK button of the program's own box: centred, 44 px from the bottom."""
    bx, by, bw, bh = c.x.geometry(box)
    subprocess.run(["xdotool", "mousemove", str(bx + bw // 2), str(by + bh - 30), "click", "1"],
                   env=box_env(c), check=True, timeout=10)


def box_key(name):
    # Without a window manager the box must be given the focus by hand.
    def press(c, box, copy):
        subprocess.run(["xdotool", "windowfocus", "--sync", str(box)], env=box_env(c), check=True, timeout=10)
        subprocess.run(["xdotool", "key", name], env=box_env(c), check=True, timeout=10)

    return press


def box_close(c, box, copy):
    c.x.request_close(box)


def box_signal(number):
    # What a script, a launcher or a CI job does; the box goes with the copy.
    def send(c, box, copy):
        copy.send_signal(number)

    send.__name__ = f"signal {signal.Signals(number).name}"
    send.prompt = True  # the copy must be gone within a second
    return send


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
        check(c.sys.clients() == ["ZORVE_BUTTON"], f"the second copy made a client of its own: {c.sys.clients()}")
        with_box = screen.shot(f"box{n + 2}")
        bx, by, bw, bh = c.x.geometry(box)
        log(f"message box screenshot: {with_box.path}; box at {(bx, by, bw, bh)}")
        inside = [with_box.rgb(bx + i, by + j) for j in range(bh) for i in range(bw)]
        check(len(set(inside)) > 2, "the message box shows nothing")
        start = time.monotonic()
        dismiss(c, box, second)
        try:
            status = second.wait(timeout=10)
        except subprocess.TimeoutExpired:
            raise Failure(f"copy {n + 2} did not end after its box was dismissed ({dismiss.__name__})")
        took = time.monotonic() - start
        log(f"copy {n + 2}: {dismiss.__name__} to exit {took * 1000:.0f} ms, status {status}")
        check(status == 1, f"copy {n + 2} exit status {status} after {dismiss.__name__}, want 1")
        check(took < 1.0 or not getattr(dismiss, "prompt", False),
              f"copy {n + 2} took {took:.2f} s to end after {dismiss.__name__}")
        # A copy ended by a signal leaves its box to the server, which takes
        # it down with the connection.
        wait_for(lambda: not c.x.find("PC_ZORVE"), 1.0, "the box to go")
        check(first.proc.poll() is None, "the first copy ended")
        # Where the box covered it, the first copy repaints on exposure.
        wait_for(lambda: program_area(screen.shot("first-after")) == before, 10,
                 "the first copy's panel to look as before")
    first.click(570, 25)
    expect(rx, [1, 2, 3], on_off(0x90, 89), "the first copy after the other starts")
    expect_silent(rx, [0, 1, 2, 3])


def case_second_instance(c):
    # SDL's own box where the X server's core fonts allow it, else ours.
    second_instance(c, None, [box_key("Return"), box_close, box_signal(signal.SIGTERM), box_signal(signal.SIGINT)])


def case_second_instance_own_box(c):
    # Only the server's built-in fonts: SDL's X11 box cannot open its font set,
    # so the program draws the box itself. Every way of dismissing it.
    empty = tempfile.mkdtemp(prefix="zorve-e2e-fonts-")
    try:
        second_instance(c, empty, [own_box_ok, box_key("Return"), box_key("Escape"), box_key("KP_Enter"), box_close,
                                   box_signal(signal.SIGTERM), box_signal(signal.SIGINT), box_signal(signal.SIGHUP)])
    finally:
        os.rmdir(empty)


SQUAT = """
import socket, sys
s = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
try:
    s.bind(sys.argv[1].replace("@", "\\0", 1) if sys.argv[1].startswith("@") else sys.argv[1])
    s.listen(1)
    print("bound", flush=True)
except OSError as e:
    print("refused", e.errno, flush=True)
sys.stdin.read()
"""


def squat(c, name):
    """Another user (nobody) tries to hold the marker `name` ("@..." for an
    abstract name); 'bound' or 'refused ERRNO'. It holds it until the case ends."""
    proc = c.procs.start(["setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups", sys.executable, "-c",
                          SQUAT, name], stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
    answer = proc.stdout.readline().strip()
    log(f"uid nobody on {name!r}: {answer}")
    return answer


def starts(c, display, x, env, what):
    """A copy on `display` opens its window (it took no other copy for running); closed again."""
    c.programs += 1
    program = Program(c.procs, c.args.program, display, env, x,
                      os.path.join(c.out, f"{c.name}-program{c.programs}.log"))
    check(not x.find("PC_ZORVE"), f"{what}: a box came up")
    return program


def close_copy(c, program, what):
    program.x.request_close(program.window)
    check(program.exit_status(5) == 0, f"exit status after close ({what})")


def case_instance_marker(c):
    """One copy per user and display: the marker is a socket in a private
    $XDG_RUNTIME_DIR named after the display, else an abstract name with the
    user id and display in it. Another user cannot keep the program from
    starting by taking either name, a copy on another display starts beside
    the first, and a socket file left by a SIGKILLed copy does not block."""
    display = c.display()
    x1 = c.x
    env = jack_env("zorve-e2e-absent")
    env.pop("XDG_RUNTIME_DIR", None)
    runtime = tempfile.mkdtemp(prefix="zorve-e2e-run-")  # mode 0700, this user's
    private = dict(env, XDG_RUNTIME_DIR=runtime)
    path = os.path.join(runtime, f"zorve-button-{display}")
    abstract = f"@zorve-button-{os.getuid()}-{display}"
    x2 = None
    try:
        # Another user cannot make the name in the private directory, and
        # one holding the abstract name does not count as a copy.
        check(squat(c, path).startswith(f"refused {errno.EACCES}"), f"uid nobody could bind {path}")
        check(squat(c, abstract) == "bound", f"uid nobody could not bind {abstract!r}")
        for what, run_env in (("a private runtime directory", private), ("the abstract name", env)):
            first = starts(c, display, x1, run_env, f"{what}, the name squatted")
            if run_env is private:
                check(stat.S_ISSOCK(os.stat(path).st_mode), f"no marker socket at {path}")
            close_copy(c, first, what)
        check(not os.path.exists(path), f"{path} stayed after the copy closed its window")

        # A copy killed outright leaves its socket file; the next start is not
        # blocked by it, and a second copy then still meets the box.
        killed = starts(c, display, x1, private, "before SIGKILL")
        killed.proc.kill()
        killed.proc.wait(timeout=5)
        check(os.path.exists(path), f"the killed copy left no socket file at {path}")
        after = starts(c, display, x1, private, "after a copy was killed")
        box_copy = c.procs.start([c.args.program], env=dict(private, DISPLAY=display), stdout=subprocess.DEVNULL,
                                 stderr=subprocess.DEVNULL)
        wait_for(lambda: x1.find("PC_ZORVE"), 15, "the box of a second copy on the same display")
        box_copy.send_signal(signal.SIGTERM)
        check(box_copy.wait(timeout=5) == 1, "the second copy's exit status after SIGTERM")

        # A second display: one copy each, side by side.
        display2 = start_xvfb(c.procs)
        x2 = X(display2)
        beside = starts(c, display2, x2, private, f"on {display2} beside the copy on {display}")
        check(after.proc.poll() is None and x1.find("ZORVE_BUTTON"), "the copy on the first display ended")
        log(f"copies on {display} and {display2} run side by side")
        close_copy(c, beside, display2)
        close_copy(c, after, display)
    finally:
        if x2:
            x2.close()
        shutil.rmtree(runtime, ignore_errors=True)


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
    wait_for(lambda: not c.sys.clients(), 5, "the program's MIDI client to go")


def case_no_midi(c):
    display = c.display()
    env = jack_env("zorve-e2e-absent")  # no server of that name runs
    flag = os.path.join(c.out, f"{c.name}-fail-upload")
    if c.args.fail_upload:
        env = dict(env, LD_PRELOAD=c.args.fail_upload, ZORVE_E2E_FAIL_UPLOAD=flag)
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

    # Idle, the program sleeps: its threads are hardly ever run.
    def asleep(after=""):
        time.sleep(0.5)
        runs = lambda: sum(thread_runs(program.proc.pid).values())
        before = runs()
        time.sleep(2)
        woken = runs() - before
        log(f"threads run while idle{after}: {woken} times in 2 s")
        check(woken <= 10, f"the idle program's threads ran {woken} times in 2 s{after}, want at most 10")

    program.move(300, 380)  # on no key
    asleep()

    # An upload the display refuses (made to fail by the preloaded library):
    # the next ticks show the whole window, then the program sleeps again.
    if c.args.fail_upload:
        program.move(570, 25)
        open(flag, "w").close()
        program.xdo("mousedown", 1)
        program.wait_pixels(screen, {(543, 13): 0xFFFFFF, (541, 11): 0x444444}, "A-held-after-a-failed-upload")
        check(not os.path.exists(flag), "no upload was made to fail")
        program.xdo("mouseup", 1)
        program.move(300, 380)
        asleep(" after a failed upload")

    # A press or release is on screen within one tick (10 ms) and the upload.
    # After a short sleep the clock catches up at once and the tick runs with
    # the input (about 1 ms here); after more than 100 ms it skips the gap and
    # runs 10 ms first. Generous bounds: the machine may be busy. A tick that
    # waited for the clock instead of catching up would add 2 ms to every
    # press, which the fastest quarter shows whatever the load's tail.
    delays = {0.05: [], 0.3: []}
    for n in range(24):
        gap = 0.3 if n % 2 else 0.05
        time.sleep(gap)
        c.x.fake_motion(program.origin[0] + 570, program.origin[1] + 25)
        face = 0xFFFFFF if n % 2 == 0 else 0xBBBBBB
        start = time.monotonic()
        c.x.fake_button(1, n % 2 == 0)
        wait_for(lambda: c.x.pixels(program.window, [(543, 13)]) == {(543, 13): face}, 5,
                 f"key A drawn {'pressed' if face == 0xFFFFFF else 'released'}", interval=0.0005)
        delays[gap].append((time.monotonic() - start) * 1000)
    for gap, bound in ((0.05, 10), (0.3, 40)):
        got = delays[gap]
        log(f"input to the key drawn after {gap * 1000:.0f} ms idle: {[round(d, 1) for d in got]} ms")
        check(statistics.median(got) < bound, f"median input-to-screen {statistics.median(got):.1f} ms after "
              f"{gap * 1000:.0f} ms idle, want < {bound}")
        check(max(got) < 250, f"an input took {max(got):.1f} ms to reach the screen")
    quartile = sorted(delays[0.05])[len(delays[0.05]) // 4]
    check(quartile < 2.5, f"the fastest quarter of inputs after 50 ms idle took up to {quartile:.1f} ms, want < 2.5")

    # Asleep in its wait for input, the program still ends on SIGTERM, cleanly.
    time.sleep(0.3)
    program.proc.send_signal(signal.SIGTERM)
    status = program.exit_status(5)
    check(status == 0, f"exit status {status} after SIGTERM, want 0")


def case_window_size(c):
    display = c.display(screen="800x500x24")
    env = jack_env("zorve-e2e-absent")  # no server of that name runs
    program = c.program(display, env)
    x, y, w, h = c.x.geometry(program.window)
    check((w, h) == (800, 500), f"window client area {w}x{h} on an 800x500 screen, want 800x500")
    panel_ready(program, Screen(display, c.out, c.name))
    c.x.request_close(program.window)
    check(program.exit_status(5) == 0, "exit status after close")


def case_click_latency(c):
    display = c.display()
    env, rx = c.midi(receivers=2, period=LATENCY_PERIOD)
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


def read_probe(probe, until, what):
    lines = []
    while not lines or lines[-1] != until:
        line = probe.stdout.readline()
        check(line, f"the probe {what} ended early after {lines}")
        lines.append(line.strip())
    log("\n".join(lines))
    return lines


def case_midi_ports(c):
    env = start_jack(c.procs, os.path.join(c.out, f"{c.name}-jackd.log"))
    start_source(c, env, "zsrc")
    long_client = "zr1-" + "\u20ac" * 12  # 3-byte characters: byte 32 falls inside the tenth
    odd_client = "zr2-\u00e9-\u0416"  # a letter Windows-1252 has and one it lacks
    rx = [Receiver(c.procs, env, name) for name in ("zr0", long_client, odd_client)]
    # Names in Windows-1252 as the panel draws them, cut first as UTF-8 at
    # 32 bytes on a character boundary (31 here: nine euro signs).
    want = {("in", 0): ("open", b"zsrc:out"), ("out", 0): ("open", b"zr0:input"),
            ("out", 1): ("open", b"zr1-" + b"\x80" * 9), ("out", 2): ("open", b"zr2-\xe9-?:input")}
    want_ports = {"in 0": ["zsrc:out"], "out 0": ["zr0:input"], "out 1": [long_client + ":input"],
                  "out 2": [odd_client + ":input"], "panel": []}
    # The device table's order, then the other: the directions are independent.
    for order in ([], ["outputs-first"]):
        probe = c.procs.start([c.args.probe] + order, env=env, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                              text=True)
        lines = read_probe(probe, "opened", order)
        report = {}
        for line in lines[:-1]:
            kind, d, state, name = (line.split(" ") + [""])[:4]
            report[(kind, int(d))] = (state, bytes.fromhex(name))
        check(report == want, f"probe {order} saw {report}, want {want}")
        wait_program_ports(env, want_ports, f"probe {order}: one client with its ports")
        # A receiver that comes after the devices were counted is no device;
        # connected to the panel port, it gets what goes there.
        late = Receiver(c.procs, env, "zpanel")
        jack_connect(env, "ZORVE_BUTTON:panel", "zpanel:input")
        probe.stdin.write("\n")
        probe.stdin.flush()
        read_probe(probe, "sent", order)
        for d in range(3):
            expect(rx, [d], [bytes([0x90, 0x40 + d, 0x7F])], f"probe {order} send to device {d}")
        expect([late], [0], [bytes([0x90, 0x3E, 0x7F])], f"probe {order} send to the panel port")
        probe.stdin.close()
        check(probe.wait(timeout=10) == 0, f"probe {order} exit status")
        expect_silent(rx + [late], [0, 1, 2, 3])
        wait_for(lambda: "ZORVE_BUTTON" not in (jack_ports(env) or ""), 5, f"the ports of probe {order} to go")
        late.proc.kill()
        late.proc.wait(timeout=5)
        wait_for(lambda: "zpanel:input" not in (jack_ports(env) or "zpanel:input"), 5, "zpanel to go")

    # The system chosen before the first call: none, or one that is not there,
    # gives no devices and (but for none) one line on stderr.
    absent = jack_env("zorve-e2e-absent")
    for system, system_env, line in (
            ("none", env, None),
            ("alsa", env, "no ALSA sequencer (/dev/snd/seq); the panel runs without MIDI devices"),
            ("jack", absent, "no JACK server running; the panel runs without MIDI devices"),
            ("auto", absent, "no MIDI system found (no ALSA sequencer, no JACK server running); the panel runs "
                             "without MIDI devices")):
        if system in ("alsa", "auto") and os.access("/dev/snd/seq", os.R_OK | os.W_OK):
            continue  # a machine with the sequencer: these two would find it
        result = subprocess.run([c.args.probe, system], env=system_env, input="\n", capture_output=True, text=True,
                                timeout=20)
        want_err = f"zorve-button: {line}\n" if line else ""
        check(result.returncode == 0 and result.stdout == "opened\nsent\n" and result.stderr == want_err,
              f"probe {system}: status {result.returncode}, stdout {result.stdout!r}, stderr {result.stderr!r}, "
              f"want stderr {want_err!r}")
    expect_silent(rx, [0, 1, 2])


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


NO_DISPLAY = ("zorve-button: no display ({}); only --list-devices, --list-keys, --help and --version work "
              "without one\n")
UNSET = NO_DISPLAY.format("DISPLAY and WAYLAND_DISPLAY are not set")


def case_no_display(c):
    """Without a display, or with a wrong option, the program says so in one
    line on stderr (no library's own words, no line about MIDI), prints
    nothing on stdout, opens no MIDI client and exits with its status."""
    env = jack_env("zorve-e2e-absent")
    for k in ("DISPLAY", "WAYLAND_DISPLAY", "SDL_VIDEODRIVER", "XDG_RUNTIME_DIR"):
        env.pop(k, None)
    runtime = tempfile.mkdtemp(prefix="zorve-e2e-run-")  # no Wayland socket in it
    try:
        for what, extra, args, want_status, want_err in (
                ("no runtime directory", {}, [], 3, UNSET),
                ("a runtime directory without a Wayland socket", {"XDG_RUNTIME_DIR": runtime}, [], 3, UNSET),
                ("an empty DISPLAY", {"DISPLAY": "", "XDG_RUNTIME_DIR": runtime}, ["--monitor"], 3, UNSET),
                ("a DISPLAY no server answers", {"DISPLAY": ":987.0"}, [], 3,
                 NO_DISPLAY.format("no X server at DISPLAY :987.0")),
                ("neither display answering", {"DISPLAY": "unix:987", "WAYLAND_DISPLAY": "wayland-9",
                                               "XDG_RUNTIME_DIR": runtime}, ["--scale", "2"], 3,
                 NO_DISPLAY.format("no X server at DISPLAY unix:987 and no Wayland compositor at wayland-9")),
                ("a wrong option", {}, ["--scale", "5"], 64,
                 "zorve-button: --scale: '5' is not auto or a whole number from 1 to 4. Try 'zorve-button --help'.\n"),
                ("an unknown option", {"DISPLAY": ":0"}, ["--list"], 64,
                 "zorve-button: unknown option '--list'. Try 'zorve-button --help'.\n")):
            run_env = dict(env, **extra)
            proc = c.procs.start([c.args.program, *args], env=run_env, stdout=subprocess.PIPE,
                                 stderr=subprocess.PIPE, text=True)
            try:
                out, err = proc.communicate(timeout=15)
            except subprocess.TimeoutExpired:
                raise Failure(f"the program kept running with {what}")
            log(f"{what}: exit status {proc.returncode}; stderr: {err.strip()}")
            check(proc.returncode == want_status and out == "" and err == want_err,
                  f"{what}: status {proc.returncode} (want {want_status}), stdout {out!r}, stderr {err!r}, "
                  f"want stderr {want_err!r}")
            check(not os.listdir(runtime), f"{what} left {os.listdir(runtime)} in the runtime directory")
    finally:
        os.rmdir(runtime)


def case_install_layout(c):
    prefix = tempfile.mkdtemp(prefix="zorve-e2e-install-")
    try:
        subprocess.run(["cmake", "--install", c.args.build, "--prefix", prefix], check=True, timeout=60,
                       stdout=subprocess.DEVNULL)
        check_installed_files(prefix, os.path.join(c.args.build, "icons"))
    finally:
        shutil.rmtree(prefix)


ICON_SIZES = (16, 32, 48, 128, 256)
METAINFO = "io.github.zorve_button.ZorveButton.metainfo.xml"


def png_size(path):
    """(width, height) from a PNG's header chunk."""
    with open(path, "rb") as f:
        head = f.read(24)
    check(head[:8] == b"\x89PNG\r\n\x1a\n" and head[12:16] == b"IHDR", f"{path} is not a PNG")
    return int.from_bytes(head[16:20], "big"), int.from_bytes(head[20:24], "big")


def check_installed_files(prefix, icon_dir=None):
    """What the install lays down under `prefix` (/usr for the package): the
    program, its desktop entry, the icon in every hicolor size (the same bytes
    as the build's when `icon_dir` is given), the metainfo, the manual page
    and the licence."""
    program = os.path.join(prefix, "bin", "zorve-button")
    share = os.path.join(prefix, "share")
    check(os.access(program, os.X_OK), f"{program} is not an installed executable")
    with open(os.path.join(share, "applications", "zorve-button.desktop")) as f:
        entry = f.read()
    check("Exec=zorve-button" in entry and "Icon=zorve-button" in entry, "desktop entry lacks Exec or Icon")
    check("\nName=Zorve Button\n" in entry and "\nX-GNOME-SingleWindow=true\n" in entry,
          "desktop entry is not named 'Zorve Button' or lacks X-GNOME-SingleWindow=true")
    for size in ICON_SIZES:
        icon = os.path.join(share, "icons", "hicolor", f"{size}x{size}", "apps", "zorve-button.png")
        check(os.path.isfile(icon), f"no {size} px icon at {icon}")
        check(png_size(icon) == (size, size), f"{icon} is {png_size(icon)}, want {size}x{size}")
        if icon_dir:
            with open(icon, "rb") as f, open(os.path.join(icon_dir, f"{size}x{size}", "apps", "zorve-button.png"),
                                             "rb") as g:
                check(f.read() == g.read(), f"installed {size} px icon differs from the generated one")
    with open(os.path.join(share, "metainfo", METAINFO)) as f:
        meta = f.read()
    check("<launchable type=\"desktop-id\">zorve-button.desktop</launchable>" in meta,
          "metainfo does not launch the desktop entry")
    check("<name>Zorve Button</name>" in meta, "metainfo is not named 'Zorve Button'")
    with gzip.open(os.path.join(share, "man", "man1", "zorve-button.1.gz"), "rt") as f:
        man = f.read()
    check(".TH ZORVE-BUTTON 1 " in man and "--list-keys" in man.replace("\\-", "-"),
          "manual page lacks its title or the options")
    rows = re.findall(r"^[^@\n]+@[^@\n]+@(?:Note On|Control Change)@\d+@1@[^@\n]*$", man, re.M)
    check(len(rows) == 90 and "NEXT SQ@pad function@Note On@87@1@Page Up" in rows, "manual page lacks the key table")
    with open(os.path.join(share, "doc", "zorve-button", "using.md")) as f:
        check("| `NEXT SQ` | pad function | Note On | 87 | 1 | `Page Up` |" in f.read(),
              "installed user guide lacks the key table")
    with open(os.path.join(share, "doc", "zorve-button", "copyright")) as f:
        check(f.read().startswith("MIT License"), "copyright file is not the MIT licence")


def read_png(path):
    ppm = subprocess.run(["convert", path, "-depth", "8", "ppm:-"], check=True, capture_output=True,
                         timeout=20).stdout
    return Image(ppm, path)


def case_icon_png(args):
    """The 32 px icon pixel for pixel; every other size its nearest-neighbour
    scaling, so each shows the same grid unsmoothed."""
    path = lambda size: os.path.join(args.icons, f"{size}x{size}", "apps", "zorve-button.png")
    image = read_png(path(32))
    check((image.width, image.height) == (32, 32), f"icon is {image.width}x{image.height}")
    for (x, y), want in {(0, 0): 0xFFFF80, (1, 1): 0xFFFF80, (2, 2): 0x408080, (7, 7): 0x408080,
                         (8, 8): 0xFFFF80, (9, 2): 0x408080, (2, 9): 0x408080, (23, 23): 0x408080,
                         (28, 28): 0x408080, (29, 29): 0xFFFF80, (31, 31): 0xFFFF80}.items():
        check(image.rgb(x, y) == want, f"icon pixel ({x}, {y}) is {image.rgb(x, y):06x}, want {want:06x}")
    teal = sum(1 for y in range(32) for x in range(32) if image.rgb(x, y) == 0x408080)
    check(teal == 16 * 36, f"{teal} teal pixels, want 16 squares of 36")
    for size in ICON_SIZES:
        scaled = read_png(path(size))
        check((scaled.width, scaled.height) == (size, size), f"{size} px icon is {scaled.width}x{scaled.height}")
        wrong = [(x, y) for y in range(size) for x in range(size)
                 if scaled.rgb(x, y) != image.rgb(x * 32 // size, y * 32 // size)]
        check(not wrong, f"{size} px icon differs from the scaled 32 px one at {wrong[:5]}")


def case_key_table_tool(args):
    """zorve-print-key-table prints the program's table: every click point of
    KEYS falls in exactly one printed rectangle, of that key's message."""
    tool = args.key_table
    keys = key_table(tool)
    for label, (px, py), status, number in KEYS:
        under = [k for k in keys if k[1][0] <= px < k[1][0] + k[1][2] and k[1][1] <= py < k[1][1] + k[1][3]]
        check(len(under) == 1, f"{label} at {(px, py)} lies in {len(under)} printed keys, want 1")
        check(under[0][2:4] == (status, number),
              f"{label} at {(px, py)}: printed key {under[0]}, want status {status:#x} number {number}")
    pairs = {k[2:4] for k in keys}
    check(len(pairs) == len(keys), f"{len(keys) - len(pairs)} printed keys share a status and number")
    for index, want in {0: "540 10 60 30 0x90 89 A", 6: "700 50 60 30 0x90 87 NEXT SQ",
                        8: "655 200 60 60 0x90 13 [left arrow]", 11: "735 265 60 60 0x90 11 [down arrow]",
                        29: "10 50 70 70 0x90 25 SEQ EDIT", 56: "460 215 50 50 0x90 112 [minus bar]",
                        89: "845 480 45 30 0xB0 31 16"}.items():
        _, (x, y, w, h), status, number, label = keys[index]
        got = f"{x} {y} {w} {h} 0x{status:02X} {number} {label}"
        check(got == want, f"printed key {index} is {got!r}, want {want!r}")

    check_tool_command_line(tool, "zorve-print-key-table [--help]\n", [["extra"]])


LIST_KEYS_ROW = re.compile(r"^(.+?)  +(\S.*?)  +(Note On|Control Change) +(\d+) +(\d+)(?:  (\S.*))?$")
# The computer keys of the pads 1-16 with --keys: a 4 x 4 block, pad 1 bottom left.
PAD_COMPUTER_KEYS = "Z X C V A S D F Q W E R 1 2 3 4".split()


def case_key_table_docs(args):
    """--list-keys prints a heading and the 90 keys of the tool's table in its
    order, each with its group, message, number and channel 1, without a
    display; the manual page renders the same rows (man -l), and the user
    guide in the sources holds the table the build wrote."""
    keys = key_table(args.key_table)
    status, out, err = run_to_end(args.program, ["--list-keys"], os.environ)
    lines = out.decode().splitlines()
    check(status == 0 and not err and len(lines) == 91,
          f"--list-keys: status {status}, {len(lines)} lines (want 91), stderr {err!r}")
    check(lines[0] == "key          group         message         number  channel  computer key",
          f"heading {lines[0]!r}")
    want_rows = []
    for (index, _, status_byte, number, label), line in zip(keys, lines[1:]):
        match = LIST_KEYS_ROW.match(line)
        check(match, f"--list-keys row {index} {line!r} is not NAME  GROUP  MESSAGE NUMBER CHANNEL [COMPUTER KEY]")
        name, group, message, got_number, channel, computer = match.groups()
        want_name = {"[minus bar]": "minus"}.get(label, label.strip("[]"))
        want_message = "Note On" if status_byte == 0x90 else "Control Change"
        check((name, message, int(got_number), channel) == (want_name, want_message, number, "1"),
              f"--list-keys row {index}: {line!r}, want {want_name} {want_message} {number} on channel 1")
        want_rows.append((name, group, message, got_number, computer))
    groups = [r[1] for r in want_rows]
    check([r[4] for r in want_rows[74:]] == PAD_COMPUTER_KEYS, f"pads' computer keys {[r[4] for r in want_rows[74:]]}")
    check(len({r[4] for r in want_rows if r[4]}) == len([r for r in want_rows if r[4]]),
          "a computer key plays two panel keys")
    check(groups[0] == "pad bank" and groups[12] == "transport" and groups[89] == "pad"
          and len(set(groups)) == 10, f"groups {sorted(set(groups))}")

    env = dict(os.environ, MANWIDTH="100", MAN_KEEP_FORMATTING="0")
    man = subprocess.run(["man", "-l", args.man_page], env=env, capture_output=True, text=True, timeout=30)
    check(man.returncode == 0 and not man.stderr, f"man -l: status {man.returncode}, stderr {man.stderr!r}")
    rendered = [re.split(r"\s{2,}", line.strip()) for line in man.stdout.splitlines()]
    for name, group, message, number, computer in want_rows:
        row = [name, group, message, number, "1"] + ([computer] if computer else [])
        check(row in rendered, f"the manual page has no row {' '.join(row)}")
    with open(os.path.join(args.build, "docs", "using.md")) as built, open(args.guide) as source:
        check(built.read() == source.read(), f"{args.guide} differs from the build's copy with the key table: "
              "run cmake --build --preset linux --target zorve-update-guide")


def check_tool_command_line(tool, usage_line, extra_operands):
    """--help prints the usage on stdout with status 0; an unknown option, or
    more operands than the tool takes, is one line on stderr naming the word,
    status 64, and nothing else happens."""
    usage = subprocess.run([tool, "--help"], capture_output=True, text=True, timeout=10)
    check(usage.returncode == 0 and usage.stdout.startswith("usage: " + usage_line) and not usage.stderr,
          f"{tool} --help: status {usage.returncode}, stdout {usage.stdout[:80]!r}, stderr {usage.stderr!r}")
    scratch = tempfile.mkdtemp(prefix="zorve-e2e-tool-")
    try:
        for wrong in [["--bogus"], ["--help", "--bogus"], ["-x"]] + extra_operands:
            result = subprocess.run([tool, *wrong], capture_output=True, text=True, timeout=10, cwd=scratch)
            check(result.returncode == 64 and not result.stdout and result.stderr.count("\n") == 1
                  and f"'{wrong[-1]}'" in result.stderr and "usage: " in result.stderr,
                  f"{tool} {wrong}: status {result.returncode} (want 64), stdout {result.stdout[:80]!r}, "
                  f"stderr {result.stderr!r}")
            check(not os.listdir(scratch), f"{tool} {wrong} left {os.listdir(scratch)} behind")
    finally:
        shutil.rmtree(scratch)


def case_tools_command_line(args):
    check_tool_command_line(args.key_table, "zorve-print-key-table [--help]\n", [["extra"]])
    check_tool_command_line(args.render_panel, "zorve-render-panel [--help] [DIR]\n", [["a", "b"]])
    check_tool_command_line(args.make_icon, "zorve-make-icon-png [--help] [--size N] OUTPUT.png\n",
                            [["a.png", "b.png"], ["a.png", "--size", "8"], ["--size"]])


# ------------------------------------------------------- command-line options


def utf8_cut(name):
    """At most 32 bytes of the name's UTF-8, backed off to a character start:
    the device table's cut, listed back in UTF-8 (every character used here
    is one Windows-1252 has)."""
    raw = name.encode()
    n = min(32, len(raw))
    while 0 < n < len(raw) and (raw[n] & 0xC0) == 0x80:
        n -= 1
    return raw[:n]


def run_to_end(path, args, env, timeout=20):
    """Runs the program with `args` and no display until it ends:
    (status, stdout bytes, stderr text)."""
    env = {k: v for k, v in env.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
    try:
        result = subprocess.run([path, *args], env=env, capture_output=True, timeout=timeout)
    except subprocess.TimeoutExpired:
        raise Failure(f"{path} {' '.join(args)} did not end within {timeout} s")
    return result.returncode, result.stdout, result.stderr.decode(errors="replace")


def case_list_devices(c):
    """--list-devices numbers the devices as the panel does (six outputs: the
    first five; names cut to 32 bytes), marks devices 1-3 as the switches'
    and needs no display; the panel then drives exactly those three."""
    names = ["zr0", "zr1-" + "\u20ac" * 12, "zr2", "zr3", "zr4", "zr5"]
    env, rx = c.midi(names=names)
    sources = c.sys.source("zsrc")
    status, out, err = run_to_end(c.args.program, ["--list-devices"], env)
    log(out.decode(errors="replace") + err)
    want = [b"outputs: 5 of 6 (the panel uses the first 5)"]
    for d, r in enumerate(rx[:5]):
        want.append(b"out %d  " % d + utf8_cut(r.device_name) + (b"  (switch %d)" % d if 1 <= d <= 3 else b""))
    inputs = c.sys.fixed_inputs + sources
    want += [b"inputs: %d" % len(inputs)] + [b"in %d  " % d + utf8_cut(name) for d, name in enumerate(inputs)]
    check(status == 0, f"--list-devices exit status {status}, want 0")
    check(out.splitlines() == want, f"--list-devices printed {out.splitlines()}, want {want}")
    check(len(want[2]) == len(b"out 1  ") + 31 + len(b"  (switch 1)"), "the long name was not cut inside a character")
    status, again, _ = run_to_end(c.args.program, ["--midi", c.sys.name, "--list-devices"], env)
    check(status == 0 and again == out, f"--midi {c.sys.name} --list-devices printed {again!r}, want what the "
          "default did")
    status, none, _ = run_to_end(c.args.program, ["--list-devices", "--midi=none"], env)
    check(status == 0 and none == b"outputs: 0\ninputs: 0\n", f"--midi none --list-devices: {status} {none!r}")
    if not os.path.exists("/dev/snd/seq"):
        status, alsa, err = run_to_end(c.args.program, ["--midi", "alsa", "--list-devices"], env)
        check(status == 0 and alsa == b"outputs: 0\ninputs: 0\n" and "no ALSA sequencer" in err,
              f"--midi alsa without a sequencer: status {status}, {alsa!r}, stderr {err!r}")
    # A system that is not there: one line that says nothing is listed.
    status, jack, err = run_to_end(c.args.program, ["--midi", "jack", "--list-devices"], jack_env("zorve-e2e-absent"))
    line = "zorve-button: no JACK server running; no devices to list\n"
    check(status == 0 and jack == b"outputs: 0\ninputs: 0\n" and err == line,
          f"--midi jack --list-devices without a server: status {status}, {jack!r}, stderr {err!r}, want {line!r}")
    expect_silent(rx, range(6))

    display = c.display()
    program = c.program(display, env)
    panel_ready(program, Screen(display, c.out, c.name))
    for label, point, status, number in (KEYS[0], KEYS[4], KEYS[18]):
        program.click(*point)
        expect(rx, [1, 2, 3], on_off(status, number), f"click on {label}: the devices listed for switches 1-3")
    expect_silent(rx, [0, 4, 5])


MONITOR_LINE = re.compile(r"^dev [1-3-]  [0-9A-F]{2} [0-9A-F]{2} [0-9A-F]{2}$")


def monitor_lines(program, n, timeout=5.0):
    """The program's monitor lines once there are at least n of them."""
    def lines():
        got = [line for line in program.output().splitlines() if line.startswith("dev ")]
        return got if len(got) >= n else None

    got = wait_for(lines, timeout, f"{n} monitor lines")
    bad = [line for line in got if not MONITOR_LINE.match(line)]
    check(not bad, f"monitor lines not of the form 'dev D  SS DD DD': {bad}")
    return got


def monitored(device, messages):
    return [f"dev {device}  " + m.hex(" ").upper() for m in messages]


def case_monitor(c):
    """--monitor prints one line per message and device, in send order, and
    every device got exactly the bytes its lines name; a message that no
    device got is one 'dev -' line, switched off or without a MIDI system."""
    display = c.display()
    env, rx = c.midi()
    program = c.program(display, env, ["--monitor"])
    screen = Screen(display, c.out, c.name)
    panel_ready(program, screen)
    want = []
    for label, point, status, number in (KEYS[0], KEYS[4], KEYS[18]):
        program.click(*point)
        for message in on_off(status, number):
            want += [line for d in (1, 2, 3) for line in monitored(d, [message])]
    program.focus()
    program.key("Up")
    for message in on_off(0x90, 114):
        want += [line for d in (1, 2, 3) for line in monitored(d, [message])]
    got = monitor_lines(program, len(want))
    check(got == want, f"monitor printed {got}, want {want}")
    for d in (1, 2, 3):
        arrived = [m for _, m in rx[d].take(len(want) // 3)]
        named = [bytes.fromhex(line[5:]) for line in got if line.startswith(f"dev {d} ")]
        check(arrived == named, f"device {d} got {hexs_upper(arrived)}, its monitor lines say {hexs_upper(named)}")

    program.click(20, 403)  # switch 2 off
    program.click(570, 25)
    expect(rx, [1, 3], on_off(0x90, 89), "click on A with port 2 off")
    want += [line for m in on_off(0x90, 89) for d in (1, 3) for line in monitored(d, [m])]
    program.click(20, 385)  # switches 1 and 3 off as well
    program.click(20, 421)
    program.click(570, 25)
    want += monitored("-", on_off(0x90, 89))
    got = monitor_lines(program, len(want))
    check(got == want, f"monitor printed {got[-6:]} last, want {want[-6:]}")
    expect_silent(rx, [0, 1, 2, 3])
    c.x.request_close(program.window)
    check(program.exit_status(5) == 0, "exit status after close")
    check(monitor_lines(program, len(want)) == want, "monitor lines after the last message")

    # No MIDI system although JACK runs: no device, and the lines say so.
    quiet = c.program(display, env, ["--midi", "none", "--monitor"])
    panel_ready(quiet, screen, "panel-no-midi")
    quiet.wait_pixels(screen, {(11, 378): 0x444444}, "no port switches")
    quiet.click(570, 25)
    quiet.focus()
    quiet.key("Down")
    none_want = monitored("-", on_off(0x90, 89) + on_off(0x90, 115))
    check(monitor_lines(quiet, 4) == none_want, f"--midi none --monitor printed {monitor_lines(quiet, 4)}")
    check(not c.sys.clients(), "--midi none still made a MIDI client")
    expect_silent(rx, [0, 1, 2, 3])


def hexs_upper(messages):
    return [m.hex(" ").upper() for m in messages]


def scaled_rows_wrong(image, origin, unscaled, scale):
    """Window rows that are not the unscaled panel's rows with every pixel
    repeated `scale` times each way."""
    sx, sy = origin
    wrong = []
    for y in range(550):
        row = unscaled[y]
        blown = b"".join(row[i:i + 3] * scale for i in range(0, len(row), 3))
        for dy in range(scale):
            start = ((sy + scale * y + dy) * image.width + sx) * 3
            if image.data[start:start + len(blown)] != blown:
                wrong.append(scale * y + dy)
    return wrong


def case_scale(c):
    """--scale auto (the default) follows the X resource Xft.dpi: at 96 DPI, or
    none set, the window is today's 910 x 550 with today's pixels; at 192 it
    is 1820 x 1100, every panel pixel a 2 x 2 block of the unscaled panel's
    colour, as with --scale 2, which like --scale 1 overrides the DPI. A click
    lands on the key under it in panel pixels (the division rounds down,
    never to the nearer key)."""
    display = c.display(screen="1920x1200x24")
    env, rx = c.midi()
    screen = Screen(display, c.out, c.name)
    c.x.fake_motion(1915, 1195)  # the pointer outside every window
    unscaled = None
    # (X resources, options, scale the window must show)
    # (X resources, options, scale the window must show); the last one is clicked.
    rows = ((None, [], 1), ("Xft.dpi:\t96\n", [], 1), ("Xft.dpi: 192\n", ["--scale", "1"], 1),
            ("Xft.dpi:\t96\n", ["--scale", "2"], 2), ("Xft.antialias:\t1\nXft.dpi:\t191\n", ["--scale=auto"], 1),
            ("Xft.antialias:\t1\nXft.dpi:\t192\n", [], 2))
    for n, (resources, args, scale) in enumerate(rows):
        what = f"{resources!r} {args}"
        if resources:
            c.x.set_resources(resources)
        program = c.program(display, env, args)
        size = c.x.geometry(program.window)[2:]
        want = (910 * scale, 550 * scale)
        check(size == want, f"window client area {size[0]}x{size[1]} with {what}, want {want[0]}x{want[1]}")
        image = program.wait_pixels(screen, {(scale * x + dx, scale * y + dy): v for (x, y), v in PANEL_DRAWN.items()
                                             for dx in range(scale) for dy in range(scale)}, f"scale{scale}")
        # The window alone, as a screenshot tool takes it.
        shot = os.path.join(c.out, f"{c.name}-window{n + 1}.png")
        subprocess.run(["import", "-window", str(program.window), shot], env=program.env, check=True, timeout=20,
                       stderr=subprocess.DEVNULL)
        check(png_size(shot) == want, f"screenshot of the window with {what} is {png_size(shot)}, want {want}")
        log(f"{what}: window {size[0]}x{size[1]}, its screenshot {shot} {png_size(shot)[0]}x{png_size(shot)[1]}")
        if unscaled is None:
            ox, oy = program.origin
            unscaled = [image.data[((oy + y) * image.width + ox) * 3:((oy + y) * image.width + ox + 910) * 3]
                        for y in range(550)]
        wrong = scaled_rows_wrong(image, program.origin, unscaled, scale)
        check(not wrong, f"{what}: {len(wrong)} window rows are not the unscaled rows blown up {scale} times, "
              f"first {wrong[:5]}")
        if n == len(rows) - 1:
            break
        c.x.request_close(program.window)
        check(program.exit_status(5) == 0, f"exit status after close with {what}")

    for label, (x, y), status, number in (KEYS[4], KEYS[19], KEYS[20]):
        program.click(2 * x + 1, 2 * y + 1)
        expect(rx, [1, 2, 3], on_off(status, number), f"click on {label} at the scaled {(2 * x + 1, 2 * y + 1)}")
    program.click(1079, 50)  # panel (539, 25): one pixel left of key A
    program.click(1141, 51)  # panel (570, 25): A, whose pair must come next
    expect(rx, [1, 2, 3], on_off(0x90, 89), "a click at window x 1079, left of A's scaled edge at 1080, then on A")
    program.move(1080, 20)  # panel (540, 10): A's top-left pixel
    program.xdo("mousedown", 1)
    expect(rx, [1, 2, 3], [bytes([0x90, 89, 127])], "press at A's scaled top-left corner")
    program.wait_pixels(screen, {(1086, 26): 0xFFFFFF, (1087, 27): 0xFFFFFF, (1082, 22): 0x444444}, "A-held")
    program.xdo("mouseup", 1)
    expect(rx, [1, 2, 3], [bytes([0x90, 89, 0])], "release on A")
    expect_silent(rx, [0, 1, 2, 3])


def case_package_deb(c):
    """The Debian package installs with dpkg, its program draws the panel
    under Xvfb and reports the project's version, its files are where the
    desktop looks for them, and dpkg -r takes them all away again."""
    check(os.geteuid() == 0, "installing a package needs root")
    installed = subprocess.run(["dpkg-query", "-W", "-f=${Status}", "zorve-button"], capture_output=True, text=True)
    check("install ok installed" not in installed.stdout,
          "zorve-button is already installed on this machine; the test would not leave it as it was "
          "(remove it with dpkg -r zorve-button)")
    deb = fresh_deb(c.args.build, c.args.version)
    log(f"package {deb}: {os.path.getsize(deb)} bytes")
    log(subprocess.run(["dpkg-deb", "-f", deb, "Depends"], capture_output=True, text=True).stdout.strip())
    suggests = subprocess.run(["dpkg-deb", "-f", deb, "Suggests"], capture_output=True, text=True).stdout.strip()
    check(suggests == "jackd2 | pipewire-jack", f"package suggests {suggests!r}, want 'jackd2 | pipewire-jack'")
    result = subprocess.run(["dpkg", "-i", deb], capture_output=True, text=True, timeout=120)
    try:
        check(result.returncode == 0, f"dpkg -i failed ({result.returncode}): {result.stdout}{result.stderr}")
        check_installed_files("/usr")
        owned = subprocess.run(["dpkg", "-L", "zorve-button"], capture_output=True, text=True).stdout.split()
        for path in ("/usr/bin/zorve-button", "/usr/share/applications/zorve-button.desktop",
                     f"/usr/share/metainfo/{METAINFO}", "/usr/share/man/man1/zorve-button.1.gz"):
            check(path in owned, f"{path} is not the package's")
        status, out, err = run_to_end("/usr/bin/zorve-button", ["--version"], os.environ)
        check(status == 0 and out == f"zorve-button {c.args.version}\n".encode() and not err,
              f"installed --version: status {status}, {out!r}, stderr {err!r}")
        display = c.display()
        program = c.program(display, jack_env("zorve-e2e-absent"), path="/usr/bin/zorve-button")
        panel_ready(program, Screen(display, c.out, c.name))
        c.x.request_close(program.window)
        check(program.exit_status(5) == 0, "exit status of the installed program after close")
    finally:
        removed = subprocess.run(["dpkg", "-r", "zorve-button"], capture_output=True, text=True, timeout=120)
        check(removed.returncode == 0, f"dpkg -r failed: {removed.stdout}{removed.stderr}")
    left = [p for p in ("/usr/bin/zorve-button", "/usr/share/applications/zorve-button.desktop",
                        f"/usr/share/metainfo/{METAINFO}", "/usr/share/doc/zorve-button")
            if os.path.exists(p)]
    check(not left, f"dpkg -r left {left}")
    after = subprocess.run(["dpkg-query", "-W", "-f=${Status}", "zorve-button"], capture_output=True, text=True)
    check("install ok installed" not in after.stdout, f"package still installed: {after.stdout}")


def fresh_deb(build, version):
    """The package cpack made in the build tree, made again here when it is
    missing or older than the program."""
    deb = os.path.join(build, f"zorve-button_{version}_amd64.deb")
    program = os.path.join(build, "zorve-button")
    if not os.path.exists(deb) or os.path.getmtime(deb) < os.path.getmtime(program):
        log(f"{deb} missing or older than the program: running cpack -G DEB")
        result = subprocess.run(["cpack", "-G", "DEB"], cwd=build, capture_output=True, text=True, timeout=300)
        check(result.returncode == 0 and os.path.exists(deb), f"cpack -G DEB failed: {result.stdout}{result.stderr}")
    return deb


def case_session(c):
    """Under a session manager (a small one here, on liblo): the JACK client
    takes the manager's client id, the switches survive save, quit and
    restart, and a manager that is not there costs one line."""
    import liblo  # Debian's python3-liblo; CMake runs this case with the system Python

    display = c.display()
    env, rx = c.midi()
    state = tempfile.mkdtemp(prefix="zorve-e2e-session-")
    replies = []
    server = liblo.ServerThread()

    def announce(path, args, types, src):
        check(args[0] == "Zorve Button" and args[2] == "zorve-button" and args[3] == 1,
              f"announce {args}")
        replies.append(("announce", args[1]))
        server.send(src, "/reply", "/nsm/server/announce", "welcome", "test manager", ":server-control:")
        server.send(src, "/nsm/client/open", os.path.join(state, "panel"), "Zorve Button", "nZrvB")
        replies.append(("client", src.url))

    server.add_method("/nsm/server/announce", "sssiii", announce)
    server.add_method("/reply", None, lambda path, args: replies.append(tuple(args)))
    server.start()
    nsm = dict(env, NSM_URL=server.url)
    try:
        program = c.program(display, nsm)
        panel_ready(program, Screen(display, c.out, c.name))
        wait_for(lambda: ("/nsm/client/open", "OK") in replies, 5, "the open to be answered")
        ports = jack_ports(env)
        check("nZrvB:panel" in ports and "ZORVE_BUTTON" not in ports, f"the client is not nZrvB:\n{ports}")
        program.click(20, 403)  # switch 2 off
        expect_marker(program, rx, [1, 3], "switch 2 off")
        client = liblo.Address(next(v for k, v in replies if k == "client"))
        server.send(client, "/nsm/client/save")
        wait_for(lambda: ("/nsm/client/save", "OK") in replies, 5, "the save to be answered")
        with open(os.path.join(state, "panel.conf")) as f:
            saved = f.read()
        check("switches 1 0 1" in saved, f"saved state:\n{saved}")
        program.proc.send_signal(signal.SIGTERM)  # the manager's quit
        check(program.exit_status(5) == 0, "exit status after the session's quit")

        program = c.program(display, nsm)
        panel_ready(program, Screen(display, c.out, c.name))
        program.click(570, 25)
        expect(rx, [1, 3], on_off(0x90, 89), "a click on A after the restart")
        expect_silent(rx, [0, 2])
        second = subprocess.run([c.args.program], env=dict(nsm, DISPLAY=display), capture_output=True, text=True,
                                timeout=10)
        check(second.returncode == 1 and second.stderr.count("\n") == 1 and "Proram still running?" in second.stderr,
              f"a second copy under the manager: {second.returncode} {second.stderr!r}")
        program.proc.send_signal(signal.SIGTERM)
        check(program.exit_status(5) == 0, "exit status after the second quit")
    finally:
        server.stop()
        shutil.rmtree(state, ignore_errors=True)

    # A manager that does not answer: one line, then the program as without.
    program = c.program(display, dict(env, NSM_URL="osc.udp://127.0.0.1:9/"))
    panel_ready(program, Screen(display, c.out, c.name))
    lines = program.output().splitlines()
    check(lines == ["zorve-button: no session manager answers at NSM_URL 'osc.udp://127.0.0.1:9/'; "
                    "the panel runs outside the session"], f"output: {lines}")
    check("ZORVE_BUTTON:panel" in jack_ports(env), "the client keeps its own name without a manager")
    program.click(570, 25)
    expect(rx, [1, 2, 3], on_off(0x90, 89), "a click without a manager")


CASES = {
    "midi_fanout": case_midi_fanout,
    "session": case_session,
    "midi_input": case_midi_input,
    "midi_ports": case_midi_ports,
    "panel_port": case_panel_port,
    "device_restart": case_device_restart,
    "no_display": case_no_display,
    "port_switch": case_port_switch,
    "panel_pixels": case_panel_pixels,
    "second_instance": case_second_instance,
    "second_instance_own_box": case_second_instance_own_box,
    "instance_marker": case_instance_marker,
    "close_window": case_close_window,
    "no_midi": case_no_midi,
    "window_size": case_window_size,
    "click_latency": case_click_latency,
    "list_devices": case_list_devices,
    "monitor": case_monitor,
    "scale": case_scale,
    "package_deb": case_package_deb,
}


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--program")
    parser.add_argument("--icons")
    parser.add_argument("--probe")
    parser.add_argument("--build")
    parser.add_argument("--version")
    parser.add_argument("--key-table")
    parser.add_argument("--render-panel")
    parser.add_argument("--make-icon")
    parser.add_argument("--fail-upload", help="the library that makes a window upload fail on request")
    parser.add_argument("--period", type=int, help="frames per JACK period where the case does not set its own")
    parser.add_argument("--man-page")
    parser.add_argument("--guide")
    parser.add_argument("--midi", choices=["jack", "alsa"], default="jack",
                        help="the MIDI system of the cases' receivers (alsa: run inside scripts/vm-run.sh)")
    parser.add_argument("--seq-peer", help="the zorve-seq-peer client (--midi alsa)")
    parser.add_argument("--out", default=os.path.join(tempfile.gettempdir(), "zorve-e2e"))
    parser.add_argument("cases", nargs="+", metavar="case",
                        choices=sorted(CASES) + ["icon_png", "install_layout", "key_table_tool", "key_table_docs",
                                 "tools_command_line"])
    args = parser.parse_args()
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(3))  # CTest's timeout: still clean up
    # Several cases run one after the other (the ALSA cases share one
    # virtual machine); the status says whether all passed.
    status = 0
    for case in args.cases:
        args.case = case
        status |= run_one(args)
    return status


def run_one(args):

    def body():
        if args.case == "icon_png":
            require_tools(["convert"])
            case_icon_png(args)
        elif args.case == "key_table_tool":
            check(args.key_table and os.access(args.key_table, os.X_OK), "--key-table must name the built tool")
            case_key_table_tool(args)
        elif args.case == "key_table_docs":
            check(args.program and args.key_table and args.man_page and args.build and args.guide,
                  "--program, --key-table, --man-page, --build and --guide must name the built files and the guide")
            case_key_table_docs(args)
        elif args.case == "tools_command_line":
            case_tools_command_line(args)
        elif args.case == "package_deb":
            check(args.build and args.version, "--build and --version must name the build tree and its version")
            require_tools(["Xvfb", "import", "convert"])
            with_case(args, case_package_deb)
        elif args.case == "install_layout":
            check(args.build and os.path.isdir(args.build), "--build must name the build tree")
            with_case(args, case_install_layout)
        else:
            require_tools([t for t in REQUIRED_TOOLS if t != "aconnect" or args.midi == "alsa"])
            program = args.probe if args.case == "midi_ports" else args.program
            check(program and os.access(program, os.X_OK), "--program (or --probe) must name the built program")
            with_case(args, CASES[args.case])

    return run_case(args, body)


if __name__ == "__main__":
    sys.exit(main())
