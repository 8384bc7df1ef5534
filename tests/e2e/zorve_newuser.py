#!/usr/bin/env python3
"""What a new user meets first, checked on the Linux program: a key's look
after a slide, the key list on another channel, a bad session address, a
monitor whose reader goes away, the window's scale on a dense screen, a
resized window, and --on-top.

Pixels are read straight from the X server (XGetImage) and input is faked
with XTest or xdotool; every wait has a deadline.

Usage: zorve_newuser.py --program PATH [--out DIR] CASE...
Exit status 0 when every case passed.
"""

import argparse
import ctypes
import os
import re
import signal
import subprocess
import sys
import tempfile

sys.dont_write_bytecode = True
import e2e_lib as e2e  # noqa: E402
from e2e_lib import (PANEL_DRAWN, Failure, check, expect, expect_silent, jack_env, log, on_off,  # noqa: E402
                     wait_for)

A_RECT = (540, 10, 60, 30)  # key "A", note 89: x, y, w, h in panel pixels


def rect_points(rect, scale=1):
    x, y, w, h = rect
    return [(px, py) for py in range(y * scale, (y + h) * scale) for px in range(x * scale, (x + w) * scale)]


def window_pixels(c, program, points):
    got = c.x.pixels(program.window, points)
    check(got is not None, "the window's pixels cannot be read")
    return got


def wait_window_pixels(c, program, expected, what, timeout=5.0):
    """Polls the window until every point of `expected` has its colour."""
    last = {}

    def matches():
        got = c.x.pixels(program.window, list(expected))
        last.clear()
        last.update(got or {})
        return got is not None and got == expected

    try:
        wait_for(matches, timeout, what, interval=0.005)
    except Failure:
        shot = e2e.Screen(program.display, c.out, c.name).shot(re.sub(r"\W+", "-", what))
        wrong = [p for p in expected if last.get(p) != expected[p]]
        raise Failure(f"the window never showed {what}: {len(wrong)} pixels differ, first {wrong[:3]}; "
                      f"screenshot {shot.path}")


def case_slide_off_look(c):
    """Press A, slide off: A's 0 goes out and A is drawn released at once,
    every pixel of it as before the press; slid back with the button still
    down it stays released (nothing was sent), and the release over it sends
    the documented second 0."""
    display = c.display()
    env, rx = c.midi(receivers=2)
    program = c.program(display, env)
    e2e.panel_ready(program, e2e.Screen(display, c.out, c.name))
    points = rect_points(A_RECT)
    released = window_pixels(c, program, points)
    program.move(570, 25)
    program.xdo("mousedown", 1)
    expect(rx, [1], [bytes([0x90, 89, 127])], "press on A")
    wait_window_pixels(c, program, {(543, 13): 0xFFFFFF}, "A held")
    check(window_pixels(c, program, points) != released, "A held looks as released")
    program.move(300, 5)  # the background above the mode keys
    expect(rx, [1], [bytes([0x90, 89, 0])], "slide off A")
    wait_window_pixels(c, program, released, "A released after the slide, pixel for pixel", timeout=1.0)
    program.move(570, 25)  # back onto A, the button still down
    # The wheel's pair proves the move back was handled; its redraw follows
    # within a tick, and every look after it must still be A released.
    program.click(570, 25, button=5)
    expect(rx, [1], on_off(0x90, 114), "a wheel step over A, held")
    for n in range(10):
        check(window_pixels(c, program, points) == released, f"A looks pressed after sliding back (look {n})")
    program.xdo("mouseup", 1)
    expect(rx, [1], [bytes([0x90, 89, 0])], "the release over A")
    expect_silent(rx, [0, 1])
    c.x.request_close(program.window)
    check(program.exit_status(5) == 0, "exit status after close")


def case_list_keys_channel(c):
    """--list-keys --channel N prints what would be sent: every row as
    without it but on channel N."""
    def listing(*words):
        run = subprocess.run([c.args.program, "--list-keys", *words], capture_output=True, text=True, timeout=20)
        check(run.returncode == 0 and run.stderr == "", f"--list-keys {words}: status {run.returncode}, "
              f"stderr {run.stderr!r}")
        return run.stdout.splitlines()

    plain = listing()
    for n in (10, 16):
        rows = listing("--channel", str(n))
        check(len(rows) == 91 and rows[0] == plain[0], f"--channel {n}: {len(rows)} lines, heading {rows[0]!r}")
        wrong = [r for r, p in zip(rows[1:], plain[1:]) if r != p[:-2] + f"{n:2d}"]
        check(not wrong, f"--channel {n}: rows not on channel {n}: {wrong[:3]}")
    check(listing("--channel", "1") == plain, "--channel 1 changes the list")


def case_nsm_url_bad(c):
    """NSM_URL that is no OSC address: exactly one line, then the panel runs
    outside any session."""
    display = c.display()
    env, rx = c.midi(receivers=2)
    program = c.program(display, dict(env, NSM_URL="foo"))
    e2e.panel_ready(program, e2e.Screen(display, c.out, c.name))
    lines = program.output().splitlines()
    check(lines == ["zorve-button: no session manager address at NSM_URL 'foo'; the panel runs outside the session"],
          f"output: {lines}")
    program.click(570, 25)
    expect(rx, [1], on_off(0x90, 89), "a click without a session")
    c.x.request_close(program.window)
    check(program.exit_status(5) == 0, "exit status after close")


def case_monitor_reader_gone(c):
    """`--monitor | head -1`: the reader takes one line and goes; at the next
    message the program says once that monitoring stopped and plays on."""
    display = c.display()
    env, rx = c.midi(receivers=2)
    log_path = os.path.join(c.out, f"{c.name}-stderr.log")
    with open(log_path, "w") as err:
        proc = c.procs.start([c.args.program, "--monitor"], env=dict(env, DISPLAY=display), stdout=subprocess.PIPE,
                             stderr=err)
    window = wait_for(lambda: c.x.find("ZORVE_BUTTON"), 20, "the window")[0]
    program = e2e.Program.__new__(e2e.Program)  # the window of a process started here
    program.x, program.proc, program.window, program.display = c.x, proc, window, display
    program.env = dict(env, DISPLAY=display)
    program.origin = c.x.geometry(window)[:2]
    wait_for(lambda: e2e.shows_panel(c.x, window), 10, "the drawn panel")
    program.click(570, 25)
    expect(rx, [1], on_off(0x90, 89), "the first click")
    check(proc.stdout.readline() == b"dev 1  90 59 7F\n", "the monitor's first line")
    proc.stdout.close()  # as head -1 exits
    for k in range(3):
        program.click(570, 25)
        expect(rx, [1], on_off(0x90, 89), f"click {k + 2}, the monitor's reader gone")
    check(proc.poll() is None, f"the program ended (status {proc.returncode}) when the monitor's reader went")
    with open(log_path) as f:
        lines = f.read().splitlines()
    check(lines == ["zorve-button: the monitor's output is closed; monitoring stopped, the panel goes on"],
          f"stderr: {lines}")
    c.x.request_close(window)
    check(proc.wait(timeout=5) == 0, "exit status after close")


CASES = {
    "slide_off_look": case_slide_off_look,
    "list_keys_channel": case_list_keys_channel,
    "nsm_url_bad": case_nsm_url_bad,
    "monitor_reader_gone": case_monitor_reader_gone,
}


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--program", required=True)
    parser.add_argument("--out", default=os.path.join(tempfile.gettempdir(), "zorve-e2e"))
    parser.add_argument("cases", nargs="+", metavar="case", choices=sorted(CASES))
    args = parser.parse_args()
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(3))  # CTest's timeout: still clean up
    status = 0
    for case in args.cases:
        args.case = case
        status |= run_one(args)
    return status


def run_one(args):
    def body():
        e2e.require_tools([t for t in e2e.REQUIRED_TOOLS if t != "aconnect"])
        check(os.access(args.program, os.X_OK), "--program must name the built program")
        e2e.with_case(args, CASES[args.case])

    return e2e.run_case(args, body)


if __name__ == "__main__":
    sys.exit(main())
