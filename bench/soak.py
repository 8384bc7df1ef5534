#!/usr/bin/env python3
"""Soak test of the Linux program against real parts, then a leak check.

Soak: clicks at a steady rate (default 20 a second) across all 90 keys of the
panel, in an order that jumps across the panel, for a given time (default 10
minutes). Every press and release must arrive at output device 1 in order
(devices 2 and 3 get the same messages, device 0 nothing); resident memory must
stay flat after the warm-up; at the end no key may be left on (every 127
followed by its 0), and the program must close with status 0.

Leak check: a short run under valgrind's memcheck (--leak-check=full) with
the same servers: start, clicks on every key, close. So slowed down, the
program's JACK clients miss cycles and JACK drops some messages, so there
only their order is checked. Reports the definitely lost bytes; only leaks
inside third-party libraries are suppressed (bench/valgrind-libs.supp), and
the suppressed total is printed too.

The keys (rectangle, status, number) are the program's own table, printed by
the developer tool zorve-print-key-table (looked for beside the program unless
--key-table names it).
The program allows one copy per user: run this alone, or as root in a private
network namespace (`unshare -n`). Exit status 0 when everything held.

With --midi alsa the receivers are ALSA sequencer clients (zorve-seq-peer,
beside the program's tests unless --seq-peer names it) and device 0 is Midi
Through, watched by receiver 0: run it inside scripts/vm-run.sh, as
bench/alsa_vm.sh soak does. The sequencer has no cycles to miss: there nothing
may be lost.

Usage (from the source tree; the harness is tests/e2e/zorve_harness):
  PYTHONPATH=tests/e2e python3 bench/soak.py --program build/linux/zorve-button
      [--key-table PATH] [--seconds 600] [--rate 20] [--valgrind-seconds 20 | --no-valgrind]
      [--no-soak] [--midi jack|alsa] [--seq-peer PATH]
"""

import argparse
import os
import re
import shutil
import sys
import tempfile
import time

import zorve_harness as e2e  # the e2e harness, tests/e2e on PYTHONPATH
from zorve_harness import Failure, check, cpu_ticks, log, rss_kib, shows_panel, wait_for

HERE = os.path.dirname(os.path.abspath(__file__))
SUPPRESSIONS = os.path.join(HERE, "valgrind-libs.supp")
TICK = os.sysconf("SC_CLK_TCK")


def panel_keys(tool):
    """[(label, centre, status, number)] of the 90 keys, in table order."""
    return [(f"{label} at ({x}, {y})", (x + w // 2, y + h // 2), status, number)
            for _, (x, y, w, h), status, number, label in e2e.key_table(tool)]


class Stream:
    """What device 1 must receive, checked against what it did as it arrives."""

    def __init__(self, receiver, strict=True):
        self.rx = receiver
        self.expected = []  # (time sent, bytes)
        self.checked = 0
        self.strict = strict  # off: checked once at the end, with losses allowed (subsequence)

    def sent(self, message):
        self.expected.append((time.monotonic(), message))

    def check(self, late_after=1.0):
        if not self.strict:
            return
        with self.rx.lock:
            got = [m for _, m in self.rx.messages[self.checked:]]
        for i, message in enumerate(got):
            n = self.checked + i
            check(n < len(self.expected), f"device 1 got {message.hex(' ')} beyond the {len(self.expected)} sent")
            check(message == self.expected[n][1],
                  f"message {n} at device 1 is {message.hex(' ')}, want {self.expected[n][1].hex(' ')}")
        self.checked += len(got)
        if self.checked < len(self.expected):
            age = time.monotonic() - self.expected[self.checked][0]
            check(age < late_after, f"message {self.checked} ({self.expected[self.checked][1].hex(' ')}) "
                                    f"has not arrived after {age:.1f} s")


def click_keys(c, program, keys, count, rate, stream, on_second=None):
    """`count` clicks at `rate` a second, each held for 40% of its slot; keys
    taken with a stride of 37 so consecutive clicks land far apart."""
    x0, y0 = program.origin
    slot = 1.0 / rate
    start = time.monotonic()
    next_report = start + 1
    for i in range(count):
        label, (x, y), status, number = keys[(i * 37) % len(keys)]
        due = start + i * slot
        delay = due - time.monotonic()
        if delay > 0:
            time.sleep(delay)
        c.x.fake_motion(x0 + x, y0 + y)
        c.x.fake_button(1, True)
        stream.sent(bytes([status, number, 127]))
        delay = due + 0.4 * slot - time.monotonic()
        if delay > 0:
            time.sleep(delay)
        c.x.fake_button(1, False)
        stream.sent(bytes([status, number, 0]))
        if time.monotonic() >= next_report:
            next_report += 1
            stream.check()
            check(program.proc.poll() is None, f"the program ended after {i + 1} clicks")
            if on_second:
                on_second(i + 1, time.monotonic() - start)
    return time.monotonic() - start


def first_difference(got, want):
    return next((i for i, (a, b) in enumerate(zip(got, want)) if a != b), min(len(got), len(want)))


def late_clients(c):
    """What the JACK server's log says of clients late for a cycle: a late
    receiver can lose that cycle's events on a loaded machine."""
    if c.sys.name != "jack":
        return "no cycles: the sequencer delivers each message as it is sent"
    program = receivers = 0
    with open(os.path.join(c.out, f"{c.name}-jackd.log")) as f:
        for line in f:
            if "XRun: client = " in line:
                if "client = ZORVE_BUTTON" in line:
                    program += 1
                else:
                    receivers += 1
    return f"clients late for a cycle: the program's {program} times, the receivers' {receivers} times"


def stuck_keys(messages):
    on = set()
    for m in messages:
        (on.add if m[2] == 127 else on.discard)((m[0], m[1]))
    return on


def soak(args, keys):
    c = e2e.Case(args, "soak")
    try:
        display = c.display()
        env, rx = c.midi(receivers=4)
        program = c.program(display, env)
        wait_for(lambda: shows_panel(c.x, program.window), 20, "the drawn panel", interval=0.01)
        pid = program.proc.pid
        stream = Stream(rx[1])
        clicks = int(args.seconds * args.rate)
        warm_clicks = min(clicks // 4, 2 * len(keys))  # every key drawn pressed twice
        samples = []  # (seconds, clicks, RSS KiB, CPU seconds)
        log(f"soak: {clicks} clicks at {args.rate:g}/s over {args.seconds:.0f} s; warm-up {warm_clicks} clicks")

        def sample(done, elapsed):
            if not samples or elapsed - samples[-1][0] >= 10 or done == clicks:
                samples.append((elapsed, done, rss_kib(pid), cpu_ticks(pid) / TICK))
                if len(samples) % 6 == 1 and len(samples) > 1:
                    prev = samples[-7]
                    cpu = 100 * (samples[-1][3] - prev[3]) / max(elapsed - prev[0], 1e-9)
                    log(f"  {elapsed:6.0f} s  {done:6d} clicks  RSS {samples[-1][2]} KiB  "
                        f"CPU {cpu:.1f}% of a core over the last minute")

        took = click_keys(c, program, keys, clicks, args.rate, stream, sample)
        wait_for(lambda: rx[1].count() >= len(stream.expected), 5, "the last messages at device 1")
        stream.check()
        sample(clicks, took)
        check(stream.checked == len(stream.expected), "messages missing at device 1")
        log(f"all {len(stream.expected)} messages arrived at device 1, in order ({took:.0f} s, "
            f"{clicks / took:.1f} clicks/s); {late_clients(c)}")
        for d in (2, 3):
            try:
                wait_for(lambda: rx[d].count() >= len(stream.expected), 5, f"the last messages at device {d}")
            except Failure:
                pass
            got = [m for _, m in rx[d].messages]
            if got != [m for _, m in stream.expected]:
                raise Failure(f"device {d} got {len(got)} messages, want {len(stream.expected)}; first difference "
                              f"at message {first_difference(got, [m for _, m in stream.expected])}; "
                              f"{late_clients(c)}")
        check(rx[0].count() == 0, f"device 0 got {rx[0].count()} messages")
        stuck = stuck_keys([m for _, m in rx[1].messages])
        check(not stuck, f"keys left on at the end: {sorted(stuck)}")
        log("no key left on at device 1")

        after_warm = next(s for s in samples if s[1] >= warm_clicks)
        end = samples[-1]
        growth = end[2] - after_warm[2]
        cpu = 100 * (end[3] - samples[0][3]) / max(end[0] - samples[0][0], 1e-9)
        log(f"resident memory: {samples[0][2]} KiB at the start, {after_warm[2]} KiB after the warm-up "
            f"({after_warm[1]} clicks), {end[2]} KiB at the end, peak {max(s[2] for s in samples)} KiB; "
            f"growth after warm-up {growth} KiB")
        log(f"program CPU while clicking: {cpu:.1f}% of a core")
        check(growth < 2048, f"resident memory grew by {growth} KiB after the warm-up, want < 2048")
        c.x.request_close(program.window)
        check(program.exit_status(10) == 0, "exit status after close")
    finally:
        c.close()


def valgrind_leaks(args, keys):
    """(definitely lost bytes, the report's summary lines)."""
    check(shutil.which("valgrind"), "valgrind not found (Debian package valgrind)")
    c = e2e.Case(args, "soak-valgrind")
    log_base = os.path.join(args.out, "soak-valgrind")
    wrapper = os.path.join(args.out, "zorve-button-under-valgrind")
    with open(wrapper, "w") as f:
        f.write("#!/bin/sh\nexec valgrind --tool=memcheck --leak-check=full --show-leak-kinds=definite,indirect,possible "
                f"--num-callers=40 --suppressions={SUPPRESSIONS} --log-file={log_base}.%p.log "
                f"{os.path.abspath(args.program)}\n")
    os.chmod(wrapper, 0o755)
    try:
        display = c.display()
        env, rx = c.midi(receivers=4)
        wait_for(e2e.marker_free, 60, "another copy of the program to end")
        start = time.monotonic()
        program = e2e.Program(c.procs, wrapper, display, env, c.x, os.path.join(args.out, "soak-valgrind-out.log"))
        wait_for(lambda: shows_panel(c.x, program.window), 120, "the drawn panel under valgrind", interval=0.1)
        log(f"under valgrind: panel drawn after {time.monotonic() - start:.1f} s")
        # Slowed down many times, the program's JACK clients miss cycles, and
        # JACK drops what a late client writes: delivery is the soak's check,
        # here only order and the absence of strays are.
        stream = Stream(rx[1], strict=False)
        count = max(len(keys), int(args.valgrind_seconds * 5))
        click_keys(c, program, keys, count, 5, stream)
        want = [m for _, m in stream.expected]
        try:
            wait_for(lambda: rx[1].count() >= len(want), 20, "the messages under valgrind")
        except Failure:
            pass
        got = [m for _, m in rx[1].messages]
        rest = iter(want)
        check(got and all(any(m == w for w in rest) for m in got),
              f"under valgrind device 1 got messages out of order or not sent: {[m.hex(' ') for m in got]}")
        log(f"under valgrind: {count} clicks, {len(got)} of {len(want)} messages arrived at device 1 in order; "
            f"{late_clients(c)}")
        c.x.request_close(program.window)
        status = program.exit_status(120)
        check(status == 0, f"exit status {status} under valgrind")
    finally:
        c.close()
    log_path = f"{log_base}.{program.proc.pid}.log"  # children the libraries fork log apart
    with open(log_path) as f:
        report = f.read()
    summary = [line.split("== ", 1)[-1] for line in report.splitlines()
               if re.search(r"(definitely|indirectly|possibly) lost:|still reachable:|suppressed:|ERROR SUMMARY", line)]
    match = re.search(r"definitely lost: ([\d,]+) bytes", report)
    check(match, f"no leak summary in {log_path}")
    return int(match.group(1).replace(",", "")), summary, log_path


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--program", required=True)
    parser.add_argument("--key-table", help="the zorve-print-key-table tool (default: beside --program)")
    parser.add_argument("--seconds", type=float, default=600)
    parser.add_argument("--rate", type=float, default=20, help="clicks a second")
    parser.add_argument("--valgrind-seconds", type=float, default=20)
    parser.add_argument("--no-valgrind", action="store_true")
    parser.add_argument("--no-soak", action="store_true")
    parser.add_argument("--midi", choices=["jack", "alsa"], default="jack")
    parser.add_argument("--seq-peer", help="zorve-seq-peer (default: in the build's tests/e2e)")
    parser.add_argument("--out", default=os.path.join(tempfile.gettempdir(), "zorve-soak"))
    args = parser.parse_args()
    args.seq_peer = args.seq_peer or os.path.join(os.path.dirname(os.path.abspath(args.program)), "tests", "e2e",
                                                  "zorve-seq-peer")
    e2e.require_tools(["Xvfb", "xdotool"] + (["aconnect"] if args.midi == "alsa" else
                                             ["jackd", "jack_lsp", "jack_midi_dump", "stdbuf"]))
    check(os.access(args.program, os.X_OK), f"no program at {args.program}")
    key_table = args.key_table or os.path.join(os.path.dirname(os.path.abspath(args.program)), "zorve-print-key-table")
    os.makedirs(args.out, exist_ok=True)
    try:
        keys = panel_keys(key_table)
        if not args.no_soak:
            soak(args, keys)
        if not args.no_valgrind:
            lost, summary, log_path = valgrind_leaks(args, keys)
            log("valgrind memcheck at exit (" + log_path + "):\n  " + "\n  ".join(summary))
            check(lost == 0, f"{lost} bytes definitely lost outside the suppressed libraries")
    except Failure as failure:
        log(f"FAIL: {failure}")
        return 1
    log("PASS")
    return 0


if __name__ == "__main__":
    sys.exit(main())
