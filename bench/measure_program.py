#!/usr/bin/env python3
"""Whole-program figures of the Linux program beside a floor and an earlier
build, all measured in one run under the same Xvfb and JACK server (dummy
driver, 48 kHz, period 256, four jack_midi_dump receivers):

  zorve-button  the program;
  baseline      the program as built from an earlier commit (--baseline);
  bare_client   the floor (bench/bare_client.c): a plain Xlib window and one
                JACK MIDI port, blocking in poll, one rectangle per click;
  peer          another program with one JACK MIDI output, only when --peer
                names its binary (none is run by default).

  start-up   process start until the window's pixels show the drawn window
             (read from the X server every millisecond), median of several
             starts taken in interleaved rounds (one start of each in turn),
             with no MIDI system and with JACK;
  idle CPU   share of one core over a quiet stretch and wake-ups a second,
             from /proc/PID/task/*/schedstat (run time; third field: times
             run), with no MIDI system and with JACK + 4 receivers, and the
             JACK server's share over the same stretch;
             the JACK figures are taken with the same graph for all:
             the program connects a port to each of the four receivers, so
             the floor's (and a peer's) one port is connected to all four
             too (a client wakes every client it feeds, each cycle); the
             floor feeding one receiver only is reported beside it;
  clicks     CPU per click at 20 clicks a second (press, hold 40% of the
             slot, release), above the same program's idle CPU measured
             before and after; by thread: the program's own, and the ones a
             library starts (JACK's, whose idle cost drifts);
  latency    an XTest press to its Note On at a JACK receiver (zr1, the
             only one read; the others only sink what arrives);
  memory     resident memory after start.

Each target is reported as a ratio to the floor, the baseline or the peer of the same run.
The program allows one copy per user: run this alone, or as root in a private
network namespace (`unshare -n`), where the single-instance marker of other
copies is not seen. Exit status 1 when a target is missed.

Usage (from the source tree; the harness is tests/e2e/zorve_harness):
  PYTHONPATH=tests/e2e python3 bench/measure_program.py --program build/linux/zorve-button
      [--bare PATH] [--baseline PATH] [--peer PATH] [--starts N] [--idle-seconds S] [--click-seconds S]
      [--clicks N]
"""

import argparse
import math
import os
import platform
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

import zorve_harness as e2e  # the e2e harness, tests/e2e on PYTHONPATH
from zorve_harness import Failure, check, jack_env, log, shows_panel, wait_for

A = (570, 25)  # key "A" of the panel; the bare client draws its rectangle there


def machine_facts():
    model = "unknown"
    with open("/proc/cpuinfo") as f:
        for line in f:
            if line.startswith("model name"):
                model = line.split(":", 1)[1].strip()
                break
    with open("/proc/meminfo") as f:
        mem = int(f.readline().split()[1]) // 1024
    return {"nproc": os.cpu_count(), "cpu": model, "kernel": platform.release(), "memory": f"{mem} MiB"}


def load_average():
    with open("/proc/loadavg") as f:
        return " ".join(f.read().split()[:3])


# ------------------------------------------------------------ process figures


def thread_stats(pid):
    """{tid: (comm, run time ns, times run)} of the live threads."""
    out = {}
    for tid in os.listdir(f"/proc/{pid}/task"):
        try:
            with open(f"/proc/{pid}/task/{tid}/schedstat") as f:
                run_ns, _, runs = (int(v) for v in f.read().split()[:3])
            with open(f"/proc/{pid}/task/{tid}/comm") as f:
                comm = f.read().strip()
        except (FileNotFoundError, ProcessLookupError):
            continue
        out[tid] = (comm, run_ns, runs)
    return out


def cpu_over(pid, seconds, during=None):
    """Share of one core (percent), wake-ups a second in all, and per thread
    name, over `seconds` of wall time; `during` runs meanwhile if given."""
    t0, s0 = time.monotonic(), thread_stats(pid)
    if during:
        during()
    else:
        time.sleep(seconds)
    t1, s1 = time.monotonic(), thread_stats(pid)
    wall = t1 - t0
    run = wakes = 0
    per_thread = {}
    run_by_role = {}
    main_comm = s1.get(str(pid), ("?",))[0]
    for tid, (comm, run_ns, runs) in s1.items():
        _, r0, w0 = s0.get(tid, (comm, 0, 0))
        run += run_ns - r0
        wakes += runs - w0
        # Threads a library starts keep the program's name: "others".
        name = "main" if tid == str(pid) else "others" if comm == main_comm else comm
        per_thread[name] = per_thread.get(name, 0) + (runs - w0) / wall
        run_by_role[name] = run_by_role.get(name, 0) + run_ns - r0
    return {"cpu": 100 * run / 1e9 / wall, "run_ns": run, "wakeups": wakes / wall, "threads": per_thread,
            "wall": wall, "run_by_role": run_by_role}


def memory(pid):
    """VmRSS and the JACK shared segment's share in KiB."""
    with open(f"/proc/{pid}/status") as f:
        rss = next(int(line.split()[1]) for line in f if line.startswith("VmRSS:"))
    jack = 0
    path = None
    with open(f"/proc/{pid}/smaps") as f:
        for line in f:
            head = line.split()
            if head and "-" in head[0] and not head[0].endswith(":"):
                path = head[5] if len(head) > 5 else ""
            elif head and head[0] == "Rss:" and path and path.startswith("/dev/shm/jack"):
                jack += int(head[1])
    return {"rss": rss, "jack_shm": jack}


def percentile(values, p):
    """Nearest-rank percentile."""
    ordered = sorted(values)
    return ordered[max(0, math.ceil(p / 100 * len(ordered)) - 1)]


# ------------------------------------------------------------ the three programs


class Kind:
    """How to start one of the three, find its window, see it drawn and click it."""

    def __init__(self, name, args, title, click, drawn, out_port=None, uses_marker=False):
        self.name, self.args, self.title, self.click = name, args, title, click
        self.drawn, self.out_port, self.uses_marker = drawn, out_port, uses_marker


# White keys of the peer's piano, well below its controls.
PEER_KEYS = [(20, 160), (400, 160), (700, 160)]


def peer_drawn(x, window):
    got = x.pixels(window, PEER_KEYS)
    return bool(got) and all(all(((v >> s) & 0xFF) > 0xA0 for s in (0, 8, 16)) for v in got.values())


def kinds(args):
    found = {
        "zorve-button": Kind("zorve-button", [args.program], "ZORVE_BUTTON", A, shows_panel, uses_marker=True),
        "bare_client": Kind("bare_client", [args.bare], "BARE_CLIENT", A, shows_panel, "bare_client:out"),
    }
    if args.baseline:
        found["baseline"] = Kind("baseline", [args.baseline], "ZORVE_BUTTON", A, shows_panel, uses_marker=True)
    if args.peer:
        name = os.path.basename(args.peer)
        found["peer"] = Kind("peer", [args.peer, "-a", "zr1:input"], name, PEER_KEYS[0], peer_drawn,
                             f"{name}:midi_out")
    return found


class Bench(e2e.Case):
    """One Xvfb for every run; servers and programs come and go."""

    def __init__(self, args):
        super().__init__(args, "measure")
        self.display_name = self.display()


def launch(c, kind, env, extra=()):
    """(process, window, seconds to the drawn window)."""
    if kind.uses_marker:
        wait_for(e2e.marker_free, 60, "another copy of the program to end")
    if kind.out_port:  # a client whose name is still taken would get another, and its port with it
        wait_for(lambda: kind.out_port not in (e2e.jack_ports(env) or ""), 20, f"{kind.out_port} of the last start to go")
    env = dict(env, DISPLAY=c.display_name)
    with open(os.path.join(c.out, f"measure-{kind.name}.log"), "a") as out:
        start = time.monotonic()
        proc = c.procs.start(kind.args + list(extra), env=env, stdout=out, stderr=subprocess.STDOUT)
    window = None
    deadline = start + 20
    while True:
        now = time.monotonic()
        check(now < deadline, f"{kind.name} was not drawn within 20 s of its start")
        check(proc.poll() is None, f"{kind.name} exited during start-up with status {proc.returncode}")
        if window is None:
            found = c.x.find(kind.title)
            if found:
                window = found[0]
        if window is not None and kind.drawn(c.x, window):
            return proc, window, time.monotonic() - start
        time.sleep(0.001)


def close(c, proc, window):
    c.x.request_close(window)
    try:
        proc.wait(timeout=10)
    except subprocess.TimeoutExpired:
        proc.terminate()
        proc.wait(timeout=5)


def measure_starts(c, configs, starts):
    """{(name, midi): [ms, ...]}: `starts` rounds, each one start of every
    config in turn, so that a busy stretch of the machine falls on all."""
    drawn = {(name, midi): [] for name, midi, *_ in configs}
    for _ in range(starts):
        for name, midi, kind, env, extra in configs:
            proc, window, seconds = launch(c, kind, env, extra)
            drawn[(name, midi)].append(seconds * 1000)
            close(c, proc, window)
            time.sleep(0.2)
    return drawn


RECEIVERS = [f"zr{n}" for n in range(4)]


def connect_receivers(env, kind, names):
    """Connects the peer's or the floor's one output port to `names` too; a
    connection already made (the peer's own -a) is left as it is. A request
    the server refuses under load is made again, for up to 10 s."""
    if not kind.out_port:
        return

    def missing():
        listing = subprocess.run(["jack_lsp", "-c", kind.out_port], env=env, capture_output=True, text=True,
                                 timeout=10).stdout
        return [name for name in names if f"{name}:input" not in listing]

    deadline = time.monotonic() + 10
    while (left := missing()) and time.monotonic() < deadline:
        for name in left:
            subprocess.run(["jack_connect", kind.out_port, f"{name}:input"], env=env, timeout=10,
                           stderr=subprocess.DEVNULL)
    check(not missing(), f"{kind.out_port} not connected to {missing()}")


def clicks(c, window, point, seconds, rate=20, hold=0.4):
    """XTest clicks at `rate` a second for `seconds`, each held `hold` of its slot."""
    x0, y0 = c.x.geometry(window)[:2]
    c.x.fake_motion(x0 + point[0], y0 + point[1])
    slot = 1.0 / rate
    start = time.monotonic()
    n = 0
    while True:
        due = start + n * slot
        if due - start >= seconds:
            break
        time.sleep(max(0.0, due - time.monotonic()))
        c.x.fake_button(1, True)
        time.sleep(max(0.0, due + hold * slot - time.monotonic()))
        c.x.fake_button(1, False)
        n += 1
    time.sleep(max(0.0, start + n * slot - time.monotonic()))
    return n


def press_latency(c, window, point, rx, presses):
    """Delays in ms from an XTest press to its Note On at `rx`, and how many
    presses' messages never arrived (the dummy server here has xruns of its
    own, in which a receiver can miss a cycle's events)."""
    x0, y0 = c.x.geometry(window)[:2]
    c.x.fake_motion(x0 + point[0], y0 + point[1])
    time.sleep(0.2)
    rx.seen = rx.count()
    delays = []
    lost = 0
    for n in range(presses):
        time.sleep(0.03 + 0.0037 * (n % 7))  # presses spread over the JACK cycle
        start = time.monotonic()
        c.x.fake_button(1, True)
        try:
            arrived, message = rx.take(1, timeout=2.0)[0]
            check(message[0] & 0xF0 == 0x90 and message[2] > 0, f"got {message.hex(' ')} for a press")
            delays.append((arrived - start) * 1000)
            c.x.fake_button(1, False)
            rx.take(1, timeout=2.0)
        except Failure:
            lost += 1
            c.x.fake_button(1, False)
            time.sleep(0.5)
            rx.seen = rx.count()
    return delays, lost


def one_program(c, kind, env, args, rx=None, extra=(), server=None):
    """Idle CPU (and `server`'s, a process, over the same stretch), memory,
    CPU per click and (with rx) press latency of one run."""
    proc, window, _ = launch(c, kind, env, extra)
    c.x.fake_motion(1020, 765)  # the pointer off every window
    result = {}
    if rx is not None and kind.out_port:
        connect_receivers(env, kind, ["zr1"])
        time.sleep(2)
        result["idle_one"] = cpu_over(proc.pid, args.idle_seconds / 2)
        connect_receivers(env, kind, RECEIVERS)
    time.sleep(2)
    server_before = thread_stats(server.pid) if server else {}
    idle = cpu_over(proc.pid, args.idle_seconds)
    if server:
        server_after = thread_stats(server.pid)
        run_ns = sum(r - server_before.get(tid, (0, 0, 0))[1] for tid, (_, r, _) in server_after.items())
        result["server_cpu"] = 100 * run_ns / 1e9 / idle["wall"]
    result.update(idle=idle, mem=memory(proc.pid))
    counted = []
    busy = cpu_over(proc.pid, 0, during=lambda: counted.append(clicks(c, window, kind.click, args.click_seconds)))
    n = counted[0]
    # Idle again after the clicks: a JACK client's idle cost drifts, and the
    # clicks' cost is what lies above the idle rate of both stretches.
    after = cpu_over(proc.pid, args.idle_seconds / 2)
    rate = (idle["run_ns"] + after["run_ns"]) / (idle["wall"] + after["wall"])
    extra_ns = busy["run_ns"] - rate * busy["wall"]
    result["click_us"] = extra_ns / n / 1000
    roles = {}
    for role, ns in busy["run_by_role"].items():
        idle_ns = idle["run_by_role"].get(role, 0) + after["run_by_role"].get(role, 0)
        role_rate = idle_ns / (idle["wall"] + after["wall"])
        roles[role] = (ns - role_rate * busy["wall"]) / n / 1000
    result["click_roles"] = roles
    # The program's own threads: the MIDI library's ("others") idle cost
    # drifts by more than a click costs, which the subtraction cannot hide.
    result["click_own_us"] = sum(us for role, us in roles.items() if role != "others")
    result["click_total_us"] = busy["run_ns"] / n / 1000
    result["clicks"] = n
    result["busy_wakeups"] = busy["wakeups"]
    if rx is not None:
        time.sleep(0.5)
        result["latency"], result["lost"] = press_latency(c, window, kind.click, rx, args.clicks)
    close(c, proc, window)
    return result


def fmt_threads(threads):
    return ", ".join(f"{name} {rate:.1f}" for name, rate in sorted(threads.items(), key=lambda kv: -kv[1]))


# ------------------------------------------------------------------- main


def bench_arguments(doc, out_name, clicks):
    """The options every measuring script takes; add its own, then parse_bench_arguments."""
    parser = argparse.ArgumentParser(description=doc, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--program", required=True)
    parser.add_argument("--bare", help="bench/bare_client of the same build (default: beside the program)")
    parser.add_argument("--starts", type=int, default=7)
    parser.add_argument("--idle-seconds", type=float, default=10)
    parser.add_argument("--clicks", type=int, default=clicks, help="presses for the latency")
    parser.add_argument("--out", default=os.path.join(tempfile.gettempdir(), out_name))
    return parser


def parse_bench_arguments(parser):
    args = parser.parse_args()
    args.bare = args.bare or os.path.join(os.path.dirname(os.path.abspath(args.program)), "bench", "bare_client")
    return args


def main():
    parser = bench_arguments(__doc__, "zorve-measure", clicks=100)
    parser.add_argument("--baseline", help="an earlier build of the program, measured beside this one")
    parser.add_argument("--peer", help="a peer program's binary, measured beside (none unless given)")
    parser.add_argument("--click-seconds", type=float, default=10)
    args = parse_bench_arguments(parser)
    e2e.require_tools(["Xvfb", "jackd", "jack_lsp", "jack_midi_dump", "stdbuf"])
    check(os.access(args.program, os.X_OK), f"no program at {args.program}")
    check(os.access(args.bare, os.X_OK), f"no bare_client at {args.bare} (build target bare_client)")
    check(not args.baseline or os.access(args.baseline, os.X_OK), f"no baseline program at {args.baseline}")
    check(not args.peer or shutil.which(args.peer), f"no peer at {args.peer}")

    facts = machine_facts()
    log(f"machine: {facts['nproc']} cores, {facts['cpu']}, Linux {facts['kernel']}, {facts['memory']}")
    log(f"load average at start: {load_average()}")
    missed = []

    def verdict(ok, what):
        log(f"  -> {'ok' if ok else 'MISSED'}: {what}")
        if not ok:
            missed.append(what)

    k = kinds(args)
    zorve, bare = k["zorve-button"], k["bare_client"]
    others = [name for name in ("baseline", "peer") if name in k]  # beside the program, in this order
    c = Bench(args)
    try:
        no_midi = jack_env("zorve-e2e-absent")  # no server of that name runs
        jackd = []
        env = e2e.start_jack(c.procs, os.path.join(c.out, "measure-jackd.log"), e2e.LATENCY_PERIOD, jackd)
        receivers = [e2e.Receiver(c.procs, env, name, listened=name == "zr1") for name in RECEIVERS]

        log("\n== start-up: process start to the drawn window, median (min-max) of "
            f"{args.starts} starts in interleaved rounds, ms")
        configs = [("bare_client", "no MIDI", bare, no_midi, ["--no-jack"]),
                   ("zorve-button", "no MIDI", zorve, no_midi, [])]
        configs += [(name, "no MIDI", k[name], no_midi, []) for name in others if name != "peer"]
        configs += [("bare_client", "JACK", bare, env, []), ("zorve-button", "JACK", zorve, env, [])]
        configs += [(name, "JACK", k[name], env, []) for name in others]
        starts = measure_starts(c, configs, args.starts)
        med = {key: statistics.median(v) for key, v in starts.items()}
        for (name, midi), values in starts.items():
            log(f"  {name:14s} {midi:8s} {med[(name, midi)]:6.1f} ({min(values):.1f}-{max(values):.1f})")
        verdict(med[("zorve-button", "no MIDI")] <= med[("bare_client", "no MIDI")] + 15,
                f"no MIDI: {med[('zorve-button', 'no MIDI')]:.1f} ms <= bare client's "
                f"{med[('bare_client', 'no MIDI')]:.1f} + 15 ms")
        for name in others:
            z, o = med[("zorve-button", "JACK")], med[(name, "JACK")]
            verdict(z < o, f"JACK: {z:.1f} ms < {name}'s {o:.1f} ms (ratio {z / o:.2f})")

        log(f"\n== idle {args.idle_seconds:.0f} s, then {args.click_seconds:.0f} s of clicks at 20/s "
            f"(hold 40%), idle {args.idle_seconds / 2:.0f} s again, then press latency")
        runs = {}
        for name, midi, kind, run_env, extra in configs:
            jack = midi == "JACK"
            runs[(name, midi)] = one_program(c, kind, run_env, args, rx=receivers[1] if jack else None,
                                             extra=extra, server=jackd[0] if jack else None)
        log("  idle CPU (% of one core) and wake-ups/s by thread; with JACK, the server's share beside:")
        for (name, midi), r in runs.items():
            server = f"  server {r['server_cpu']:.3f}%" if "server_cpu" in r else ""
            log(f"  {name:14s} {midi:8s} {r['idle']['cpu']:6.3f}%  {r['idle']['wakeups']:7.1f}/s  "
                f"[{fmt_threads(r['idle']['threads'])}]{server}")
            if "idle_one" in r:
                log(f"  {name:14s} feeding zr1 only: {r['idle_one']['cpu']:6.3f}%  "
                    f"{r['idle_one']['wakeups']:7.1f}/s")
        log("  CPU per click above idle (whole CPU per click while clicking), wake-ups/s while clicking:")
        for (name, midi), r in runs.items():
            roles = ", ".join(f"{role} {us:.0f}" for role, us in sorted(r["click_roles"].items()))
            log(f"  {name:14s} {midi:8s} {r['click_us']:7.0f} us ({r['click_total_us']:.0f} us) over "
                f"{r['clicks']} clicks; {r['busy_wakeups']:.0f}/s; by thread: {roles} us")
        log("  press -> Note On at a receiver, ms:")
        lat = {}
        for (name, midi), r in runs.items():
            if "latency" in r:
                d = r["latency"]
                lat[name] = statistics.median(d)
                log(f"  {name:14s} median {lat[name]:.2f}, 95th {percentile(d, 95):.2f}, "
                    f"min {min(d):.2f}, max {max(d):.2f} over {len(d)} presses; {r['lost']} lost")
        log("  resident memory after start (VmRSS; without JACK's shared segment):")
        for (name, midi), r in runs.items():
            m = r["mem"]
            log(f"  {name:14s} {midi:8s} {m['rss'] / 1024:6.1f} MiB ({(m['rss'] - m['jack_shm']) / 1024:.1f} MiB)")

        zi, bi = runs[("zorve-button", "no MIDI")]["idle"], runs[("bare_client", "no MIDI")]["idle"]
        verdict(zi["cpu"] <= 0.1, f"idle CPU with no MIDI system {zi['cpu']:.3f}% <= 0.1% "
                f"(bare client without its port: {bi['cpu']:.3f}%)")
        verdict(zi["wakeups"] <= 5, f"wake-ups with no MIDI system {zi['wakeups']:.1f}/s <= 5/s "
                f"(bare client: {bi['wakeups']:.1f}/s)")
        zr = runs[("zorve-button", "JACK")]
        for name in ["bare_client"] + others:
            o = runs[(name, "JACK")]
            one = f"; {o['idle_one']['cpu']:.3f}% feeding one" if "idle_one" in o else ""
            verdict(zr["idle"]["cpu"] <= o["idle"]["cpu"],
                    f"idle CPU with JACK + 4 receivers {zr['idle']['cpu']:.3f}% <= {name}'s {o['idle']['cpu']:.3f}% "
                    f"feeding the same four (ratio {zr['idle']['cpu'] / max(o['idle']['cpu'], 1e-9):.2f}{one})")
            verdict(zr["idle"]["cpu"] + zr["server_cpu"] <= o["idle"]["cpu"] + o["server_cpu"],
                    f"idle CPU with JACK, program and server {zr['idle']['cpu'] + zr['server_cpu']:.3f}% <= "
                    f"{name}'s and server {o['idle']['cpu'] + o['server_cpu']:.3f}%")
        if "peer" in k:
            zc, pc = zr["click_own_us"], runs[("peer", "JACK")]["click_own_us"]
            verdict(zc <= pc / 2, f"CPU per click in the program's own threads {zc:.0f} us <= half of the peer's "
                    f"{pc:.0f} us (ratio {zc / max(pc, 1e-9):.2f})")
            zm, pm = zr["mem"], runs[("peer", "JACK")]["mem"]
            verdict(zm["rss"] - zm["jack_shm"] <= pm["rss"] - pm["jack_shm"],
                    f"memory {(zm['rss'] - zm['jack_shm']) / 1024:.1f} MiB <= the peer's "
                    f"{(pm['rss'] - pm['jack_shm']) / 1024:.1f} MiB (without JACK's segment)")
        verdict(abs(lat["zorve-button"] - lat["bare_client"]) <= 0.1 or lat["zorve-button"] < lat["bare_client"],
                f"press -> Note On median {lat['zorve-button']:.2f} ms within 0.1 ms of the bare client's "
                f"{lat['bare_client']:.2f} ms")
    except Failure as failure:
        log(f"FAIL: {failure}")
        return 2
    finally:
        c.close()
    log(f"\nload average at the end: {load_average()}")
    log("all targets met" if not missed else f"targets missed: {'; '.join(missed)}")
    return 1 if missed else 0


if __name__ == "__main__":
    sys.exit(main())
