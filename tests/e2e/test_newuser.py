"""What a new user meets first, checked on the Linux program: a key's look
after a slide, the key list on another channel, a bad session address, a
monitor whose reader goes away, the window's scale on a dense screen, a
resized window, and --on-top.

Pixels are read straight from the X server (XGetImage) and input is faked
with XTest or xdotool; every wait has a deadline."""

import os
import shutil
import subprocess

import pytest

from zorve_harness import (PANEL_DRAWN, check, expect, expect_silent, jack_env, log, marker_free, on_off,
                           wait_for)

A_RECT = (540, 10, 60, 30)  # key "A", note 89: x, y, w, h in panel pixels


def rect_points(rect, scale=1):
    x, y, w, h = rect
    return [(px, py) for py in range(y * scale, (y + h) * scale) for px in range(x * scale, (x + w) * scale)]


def window_pixels(c, program, points):
    got = c.x.pixels(program.window, points)
    check(got is not None, "the window's pixels cannot be read")
    return got


def close_and_expect_zero(c, program, what="exit status after close"):
    c.x.request_close(program.window)
    check(program.exit_status(5) == 0, what)


@pytest.mark.opening(receivers=2)
def test_slide_off_look(case, panel):
    """Press A, slide off: A's 0 goes out and A is drawn released at once,
    every pixel of it as before the press; slid back with the button still
    down it stays released (nothing was sent), and the release over it sends
    the documented second 0."""
    c, program, rx = case, panel.program, panel.rx
    points = rect_points(A_RECT)
    released = window_pixels(c, program, points)
    program.move(570, 25)
    program.xdo("mousedown", 1)
    expect(rx, [1], [bytes([0x90, 89, 127])], "press on A")
    program.wait_drawn({(543, 13): 0xFFFFFF}, "A held")
    check(window_pixels(c, program, points) != released, "A held looks as released")
    program.move(300, 5)  # the background above the mode keys
    expect(rx, [1], [bytes([0x90, 89, 0])], "slide off A")
    program.wait_drawn(released, "A released after the slide, pixel for pixel")
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
    close_and_expect_zero(c, program)


def test_list_keys_channel(built):
    """--list-keys --channel N prints what would be sent: every row as
    without it but on channel N."""
    def listing(*words):
        run = subprocess.run([built("program"), "--list-keys", *words], capture_output=True, text=True, timeout=20)
        check(run.returncode == 0 and run.stderr == "", f"--list-keys {words}: status {run.returncode}, "
              f"stderr {run.stderr!r}")
        return run.stdout.splitlines()

    plain = listing()
    # The channel column is right-aligned under its heading, two digits wide.
    end = plain[0].index("channel") + len("channel")
    check(all(p[end - 2:end] == " 1" for p in plain[1:]), f"rows not on channel 1: {plain[1:4]}")
    for n in (10, 16):
        rows = listing("--channel", str(n))
        check(len(rows) == 91 and rows[0] == plain[0], f"--channel {n}: {len(rows)} lines, heading {rows[0]!r}")
        wrong = [r for r, p in zip(rows[1:], plain[1:]) if r != p[:end - 2] + f"{n:2d}" + p[end:]]
        check(not wrong, f"--channel {n}: rows not on channel {n}: {wrong[:3]}")
    check(listing("--channel", "1") == plain, "--channel 1 changes the list")


@pytest.mark.opening(receivers=2, env={"NSM_URL": "foo"})
def test_nsm_url_bad(case, panel):
    """NSM_URL that is no OSC address: exactly one line, then the panel runs
    outside any session."""
    program, rx = panel.program, panel.rx
    lines = program.output().splitlines()
    check(lines == ["zorve-button: no session manager address at NSM_URL 'foo'; the panel runs outside the session"],
          f"output: {lines}")
    program.click(570, 25)
    expect(rx, [1], on_off(0x90, 89), "a click without a session")
    close_and_expect_zero(case, program)


@pytest.mark.opening(receivers=2, args=["--monitor"], stdout=subprocess.PIPE)
def test_monitor_reader_gone(case, panel):
    """`--monitor | head -1`: the reader takes one line and goes; at the next
    message the program says once that monitoring stopped and plays on."""
    program, rx = panel.program, panel.rx
    proc = program.proc
    program.click(570, 25)
    expect(rx, [1], on_off(0x90, 89), "the first click")
    check(proc.stdout.readline() == b"dev 1  90 59 7F\n", "the monitor's first line")
    proc.stdout.close()  # as head -1 exits
    for k in range(3):
        program.click(570, 25)
        expect(rx, [1], on_off(0x90, 89), f"click {k + 2}, the monitor's reader gone")
    check(proc.poll() is None, f"the program ended (status {proc.returncode}) when the monitor's reader went")
    lines = program.output().splitlines()  # its stderr alone
    check(lines == ["zorve-button: the monitor's output is closed; monitoring stopped, the panel goes on"],
          f"stderr: {lines}")
    close_and_expect_zero(case, program)


def view_for_window(window_w, window_h, min_scale=1):
    """(x, y, w, h) of the panel in a window of this client size: fitted with
    its aspect, centred, never below `min_scale` panels (app/view.h)."""
    if window_w * 550 <= window_h * 910:
        w, h = window_w, window_w * 550 // 910
    else:
        w, h = window_h * 910 // 550, window_h
    if w < 910 * min_scale:
        w, h = 910 * min_scale, 550 * min_scale
    return (max(0, (window_w - w) // 2), max(0, (window_h - h) // 2), w, h)


def to_window(view, px, py):
    """The first window pixel that shows panel pixel (px, py)."""
    x, y, w, h = view
    return (x + -(-px * w // 910), y + -(-py * h // 550))


def window_rows(c, program, w, h):
    """The window's top-left w x h pixels as rows of 0xRRGGBB, read in one
    XGetImage."""
    picture = c.x.picture(program.window)
    check(picture is not None, "the window's pixels cannot be read")
    return picture.rows(0, 0, w, h)


def view_wrong(c, program, unscaled, view, window_w, window_h):
    """Window rows where a pixel is not the panel pixel under it (nearest),
    or the black beside it: every pixel of the client area."""
    vx, vy, vw, vh = view
    columns = [(x - vx) * 910 // vw if vx <= x < vx + vw else None for x in range(window_w)]
    rows = window_rows(c, program, window_w, window_h)
    wrong = []
    for y, row in enumerate(rows):
        if vy <= y < vy + vh:
            source = unscaled[(y - vy) * 550 // vh]
            want = [source[px] if px is not None else 0 for px in columns]
        else:
            want = [0] * window_w
        if row != want:
            wrong.append(y)
    return wrong


@pytest.mark.opening(receivers=2, screen="1280x1024x24")
def test_window_resize(case, panel):
    """On a large screen the window is 910 x 550. Enlarged, the panel scales
    to fit with its aspect, centred, every window pixel the panel pixel under
    it (whole blocks at a whole factor), black beside it; a click at a key's
    scaled place sends that key. Shrunk below the panel it keeps its pixel
    positions and shows the top-left part."""
    c, program, rx, screen = case, panel.program, panel.rx, panel.screen
    check(c.x.geometry(program.window)[2:] == (910, 550), "window client area on a large screen, want 910x550")
    unscaled = window_rows(c, program, 910, 550)
    for size in ((1100, 700), (1210, 550), (1236, 1000)):
        program.xdo("windowsize", program.window, *size)
        wait_for(lambda: c.x.geometry(program.window)[2:] == size, 10, f"the window to become {size}")
        view = view_for_window(*size)
        wait_for(lambda: not view_wrong(c, program, unscaled, view, *size), 5, f"the panel fitted to {size}")
        log(f"{size[0]}x{size[1]}: panel at {view}")
    program.xdo("windowsize", program.window, 1236, 1000)  # no whole factor: 1.358 panels, bars above and below
    wait_for(lambda: c.x.geometry(program.window)[2:] == (1236, 1000), 10, "the window to become 1236x1000")
    view = view_for_window(1236, 1000)
    for label, (px, py), status, number in ((("A", (570, 25), 0x90, 89)), ("PAD 16", (867, 495), 0xB0, 31)):
        program.click(*to_window(view, px, py))
        expect(rx, [1], on_off(status, number), f"a click on {label} at its scaled place {to_window(view, px, py)}")
    # Just left of A's scaled left edge: nothing.
    ax, ay = to_window(view, 540, 10)
    program.click(ax - 1, ay)
    program.click(ax, ay)
    expect(rx, [1], on_off(0x90, 89), f"a click at {ax - 1}, left of A's scaled edge, then at {ax}")
    program.xdo("windowsize", program.window, 700, 400)
    wait_for(lambda: c.x.geometry(program.window)[2:] == (700, 400), 10, "the window to shrink")
    program.wait_pixels(screen, {(541, 11): 0x777777, (543, 13): 0xBBBBBB, (598, 38): 0x444444,
                                 (5, 5): 0x444444}, "shrunk")
    program.click(570, 25)
    expect(rx, [1], on_off(0x90, 89), "a click on A in the shrunk window")
    expect_silent(rx, [0, 1])
    close_and_expect_zero(c, program)


def test_scale_dense_screen(case):
    """At Xft.dpi 288 on a 1920 x 1200 screen auto picks 2, the largest
    factor whose window fits (3 would be 2730 x 1650), silently; an asked 3
    is kept, cut off, and said in one line."""
    c = case
    display = c.display(screen="1920x1200x24")
    env, rx = c.midi(receivers=2)
    c.x.fake_motion(1915, 1195)  # the pointer outside every window
    c.x.set_resources("Xft.dpi:\t288\n")
    for args, scale, window, lines in (
            ([], 2, (1820, 1100), []),
            (["--scale", "3"], 3, (1920, 1200),
             ["zorve-button: --scale 3: the 2730 x 1650 window is larger than the usable screen area "
              "(1920 x 1200); kept at 3, part of the panel is out of sight"])):
        program = c.program(display, env, args)
        x, y, w, h = c.x.geometry(program.window)
        check((w, h) == window, f"{args}: window client area {w}x{h}, want {window[0]}x{window[1]}")
        check(x >= 0 and y >= 0 and x + w <= 1920 and y + h <= 1200, f"{args}: window at {x},{y} leaves the screen")
        drawn = {(scale * px + d, scale * py + d): v for (px, py), v in PANEL_DRAWN.items() for d in range(scale)}
        program.wait_drawn(drawn, f"the panel at {scale}x")
        check(program.output().splitlines() == lines, f"{args}: output {program.output().splitlines()}")
        point = (scale * 570 + 1, scale * 25 + 1)
        program.click(*point)
        expect(rx, [1], on_off(0x90, 89), f"{args}: a click on A at {point}")
        close_and_expect_zero(c, program, f"{args}: exit status after close")


def client_windows(x):
    """The windows a window manager manages (the root's _NET_CLIENT_LIST)."""
    clients = x.property(x.root, "_NET_CLIENT_LIST")
    return clients[2] if clients else []


def test_on_top(case):
    """--on-top: without a window manager the window asks to be above others
    (_NET_WM_STATE_ABOVE in its _NET_WM_STATE when mapped); under a real one
    (openbox) the manager's own state of the window says above. Without the
    option neither."""
    c = case
    display = c.display()
    env = jack_env("zorve-e2e-absent")
    above = c.x.atom("_NET_WM_STATE_ABOVE")

    def state(window):
        value = c.x.property(window, "_NET_WM_STATE")
        return value[2] if value else []

    for args, want in (([], False), (["--on-top"], True)):
        program = c.program(display, env, ["--midi", "none", *args])
        program.wait_drawn(PANEL_DRAWN, "the panel", timeout=10)
        check((above in state(program.window)) == want, f"{args}: _NET_WM_STATE {state(program.window)}, "
              f"ABOVE ({above}) wanted: {want}")
        check(program.output() == "", f"{args}: output {program.output()!r}")
        close_and_expect_zero(c, program, f"{args}: exit status after close")

    check(shutil.which("openbox"), "openbox is missing (Debian package openbox)")
    c.procs.start(["openbox", "--sm-disable"], env=dict(os.environ, DISPLAY=display), stdout=subprocess.DEVNULL,
                  stderr=subprocess.DEVNULL)
    wait_for(lambda: c.x.property(c.x.root, "_NET_SUPPORTING_WM_CHECK"), 20, "openbox to manage the display")
    for args, want in (([], False), (["--on-top"], True)):
        # Under openbox the window is a frame's child, which Program does not look for.
        wait_for(lambda: marker_free(display, env.get("XDG_RUNTIME_DIR")), 60, "the last copy to end")
        proc = c.procs.start([c.args.program, "--midi", "none", *args], env=dict(env, DISPLAY=display),
                             stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        window = wait_for(lambda: [w for w in client_windows(c.x) if c.x.name(w) == "ZORVE_BUTTON"], 20,
                          "openbox to manage the window")[0]
        wait_for(lambda: (above in state(window)) == want, 5, f"{args}: openbox's state of the window, above: {want}")
        c.x.request_close(window)
        check(proc.wait(timeout=5) == 0, f"{args}: exit status after close under openbox")
