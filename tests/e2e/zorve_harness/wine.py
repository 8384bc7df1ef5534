"""The Windows program under Wine on a case's Xvfb: a prefix of the case's
own, window_probe (tests/windows/window_probe.cpp) beside the program to ask
USER about its windows, and the main window's pixels read from the X server.
Without a window manager Wine maps only the client area as an X window,
placed where the client would sit inside the frame, so that window's (x, y)
is frame-buffer (x, y)."""

import os
import subprocess
import tempfile

from .base import Failure, check, log, wait_for

__all__ = ["Wine", "PANEL_RELEASED_A"]

# The first tick has replaced the start-up fill with the panel: key "A" at
# (540, 10), 60 x 30, released (open corner, light outer edges, dark lower
# edge, face 0xBBBBBB).
PANEL_RELEASED_A = {(540, 10): 0x444444, (541, 11): 0x777777, (542, 12): 0x777777, (598, 38): 0x444444,
                    (543, 13): 0xBBBBBB, (596, 36): 0xBBBBBB}


class Wine:
    """A prefix made ready on `display` (wineboot), with the programs a case
    starts in it; `stop()` ends its wineserver and waits until it is gone, so
    the next case on the same prefix does not reach a server shutting down."""

    def __init__(self, case, prefix, probe, display):
        self.case = case
        self.x = case.x
        self.probe_path = probe
        self.display = display
        self.env = dict(os.environ, WINEPREFIX=prefix, WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=",
                        DISPLAY=display)
        self.prefix = prefix
        os.makedirs(prefix, exist_ok=True)
        self.stop()  # a server left from an earlier run
        for attempt in (1, 2):  # the second covers a server that was still exiting
            status, out = self.run(["wineboot", "--init"], timeout=180)
            if status == 0:
                log(f"prefix ready: {prefix}")
                return
            log(f"wineboot attempt {attempt} failed: {' '.join(out.splitlines()[-3:])}")
            self.stop()
        raise Failure("wineboot did not finish")

    def run(self, args, timeout=60, env=None):
        """`wine ARGS...` to its end: (status, stdout and stderr without CRs);
        status 124 when it did not end in time."""
        status, out, err = self.output(args, timeout, env)
        return status, out + err

    def output(self, args, timeout=60, env=None):
        """`wine ARGS...` to its end: (status, stdout, stderr), without CRs;
        status 124 when it did not end in time. The output goes through files:
        a wineserver that this start begins keeps its inherited descriptors
        open long after, and a pipe would not end before it does."""
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            try:
                status = subprocess.run(["wine", *args], env=env or self.env, stdout=out, stderr=err,
                                        timeout=timeout).returncode
            except subprocess.TimeoutExpired:
                status = 124
            text = []
            for f in (out, err):
                f.seek(0)
                text.append(f.read().decode(errors="replace").replace("\r", ""))
        return status, text[0], text[1]

    def stop(self):
        quiet = {"env": self.env, "stdout": subprocess.DEVNULL, "stderr": subprocess.DEVNULL}
        subprocess.run(["wineserver", "-k"], **quiet)
        try:
            subprocess.run(["wineserver", "-w"], timeout=30, **quiet)
        except subprocess.TimeoutExpired:
            pass

    def set_dpi(self, dpi):
        """The prefix's DPI (96 is 100 %), read by the next Wine start."""
        status, _ = self.run(["reg", "add", r"HKCU\Control Panel\Desktop", "/v", "LogPixels", "/t", "REG_DWORD",
                              "/d", str(dpi), "/f"])
        check(status == 0, f"cannot set LogPixels to {dpi}")
        self.stop()
        log(f"prefix at {dpi} DPI")

    def probe(self, *args):
        """window_probe ARGS: (status, its output without CRs)."""
        status, out, _ = self.output([self.probe_path, *map(str, args)], timeout=30)
        return status, out

    def start(self, program, args=(), out=None, env=None, err=None):
        """The program in the background, its stdout to the file `out`, its
        stderr to the file `err`; its process (wine's)."""
        with open(out or os.devnull, "w") as stdout, open(err or os.devnull, "w") as stderr:
            return self.case.procs.start(["wine", program, *args], env=dict(self.env, **(env or {})), stdout=stdout,
                                         stderr=stderr)

    def main_window(self):
        """The X window of the main window's client area once USER has it
        visible, or None."""
        status, out = self.probe("main")
        if status != 0 or "visible 1" not in out:
            return None
        found = self.x.find("ZORVE_BUTTON")
        return found[0] if found else None

    def wait_main_window(self, what="main window", timeout=30):
        try:
            return wait_for(self.main_window, timeout, what, interval=0.1)
        except Failure as failure:
            titles = [self.x.name(w) for w in self.x.top_windows() if self.x.viewable(w)]
            raise Failure(f"{failure}; window_probe main: {self.probe('main')}; viewable X windows: {titles}")

    def xdo(self, *args):
        subprocess.run(["xdotool", *map(str, args)], env=self.env, check=True, timeout=10)

    def pointer_to(self, window, x, y):
        """The pointer at frame-buffer (x, y)."""
        self.xdo("mousemove", "--window", window, x, y)

    def pixels_are(self, window, expected):
        """True when the window shows every (x, y) -> 0xRRGGBB of `expected`;
        otherwise the first that differs is in `self.mismatch`."""
        got = self.x.pixels(window, list(expected))
        if got is None:
            self.mismatch = "window unreadable"
            return False
        wrong = [(p, got[p], v) for p, v in expected.items() if got[p] != v]
        self.mismatch = f"{wrong[0][0]} is {wrong[0][1]:06X}, want {wrong[0][2]:06X}" if wrong else None
        return not wrong

    def wait_pixels(self, window, expected, what, timeout=5):
        try:
            wait_for(lambda: self.pixels_are(window, expected), timeout, what, interval=0.05)
        except Failure:
            raise Failure(f"no {what} within {timeout} s (last: {self.mismatch})")

    def expect_pixels(self, window, expected):
        check(self.pixels_are(window, expected), f"pixel {self.mismatch}")
        log("pixels ok: " + " ".join(f"{x},{y}={v:06X}" for (x, y), v in expected.items()))

    def expect_drawn_panel(self, window):
        self.wait_pixels(window, {(5, 5): 0x444444}, "drawn panel (background at (5, 5))", timeout=10)
        log("panel drawn")
        self.expect_pixels(window, PANEL_RELEASED_A)

    def close_and_expect_success(self, proc, who="program"):
        """Closes the main window through the probe; `proc` must then end
        with status 0."""
        check(self.probe("close")[0] == 0, "no main window to close")
        status = self.wait_exit(proc, 20)
        check(status == 0, f"{who} ended with status {status}")

    @staticmethod
    def wait_exit(proc, seconds):
        try:
            return proc.wait(timeout=seconds)
        except subprocess.TimeoutExpired:
            raise Failure(f"process {proc.pid} still running after {seconds} s")
