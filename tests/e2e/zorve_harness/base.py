"""What every part of the harness uses: failures, waits with deadlines, the
log, the tools a case needs, the processes a case starts, and figures read
from /proc."""

import ctypes
import os
import shutil
import signal
import subprocess
import time

__all__ = ["Failure", "check", "wait_for", "log", "REQUIRED_TOOLS", "require_tools", "Processes", "rss_kib",
           "thread_runs", "cpu_ticks"]


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


# Tools only some cases use, beside those every Linux case needs.
OTHER_TOOLS = {"wine": "wine", "wineserver": "wine", "cpack": "cmake"}


def require_tools(names):
    packages = dict(REQUIRED_TOOLS, **OTHER_TOOLS)
    missing = [f"{n} (Debian package {packages[n]})" for n in names if not shutil.which(n)]
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
        self.held = []  # files whose locks go when the processes have gone

    def hold(self, lock):
        self.held.append(lock)

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
        for lock in self.held:
            lock.close()
        self.held = []


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
