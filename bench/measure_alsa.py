#!/usr/bin/env python3
"""The program's figures on the ALSA sequencer, beside a floor, in one run
under one Xvfb: inside a virtual machine (bench/alsa_vm.sh measure runs it
there through scripts/vm-run.sh), with Midi Through watched as device 0 and
zorve-seq-peer receivers as devices 1-3.

  latency   an XTest press to its Note On at device 1, for the program and
            for bench/bare_client --alsa (an Xlib window whose sequencer
            port sends the note direct on the X event, subscribed to the
            same receiver): the program within 0.2 ms of the floor;
  idle      wake-ups a second of the program's threads over a quiet stretch
            with its devices open: 0 (the sequencer has no cycle);
  start-up  process start until the window shows the drawn panel, median of
            several starts, with the ALSA sequencer and with --midi none:
            ALSA no more than 10 ms slower.

Usage (from the source tree; the harness is tests/e2e/zorve_harness):
  PYTHONPATH=tests/e2e python3 bench/measure_alsa.py --program build/linux/zorve-button
      [--bare PATH] [--seq-peer PATH] [--starts N] [--idle-seconds S] [--clicks N]
Exit status 1 when a target is missed.
"""

import os
import statistics
import sys
import time

import measure_program as m  # beside this script
import zorve_harness as e2e  # the e2e harness, tests/e2e on PYTHONPATH
from zorve_harness import Failure, log, shows_panel


def main():
    parser = m.bench_arguments(__doc__, "zorve-measure-alsa", clicks=60)
    parser.add_argument("--seq-peer", help="zorve-seq-peer (default: in the build's tests/e2e)")
    args = m.parse_bench_arguments(parser)
    build = os.path.dirname(os.path.abspath(args.program))
    args.seq_peer = args.seq_peer or os.path.join(build, "tests", "e2e", "zorve-seq-peer")
    args.midi = "alsa"
    os.makedirs(args.out, exist_ok=True)
    c = m.Bench(args)
    ok = True
    try:
        env, rx = c.midi(receivers=4)
        program = m.Kind("zorve-button", [args.program], "ZORVE_BUTTON", m.A, shows_panel, uses_marker=True)
        bare = m.Kind("bare_client", [args.bare, "--alsa"] + [r.address for r in rx[1:]], "BARE_CLIENT", m.A,
                      shows_panel)

        latency = {}
        for kind in (program, bare):
            proc, window, _ = m.launch(c, kind, env)
            if kind is program:
                time.sleep(2)
                idle = m.cpu_over(proc.pid, args.idle_seconds)
                log(f"idle with devices open, {args.idle_seconds:.0f} s: {idle['wakeups']:.2f} wake-ups/s "
                    f"({m.fmt_threads(idle['threads'])}), {idle['cpu']:.3f}% of a core")
                ok &= idle["wakeups"] == 0
            delays, lost = m.press_latency(c, window, kind.click, rx[1], args.clicks)
            latency[kind.name] = delays
            log(f"press -> Note On at device 1, {kind.name}: median {statistics.median(delays):.2f} ms, "
                f"p90 {m.percentile(delays, 90):.2f} ms, min {min(delays):.2f} ms over {len(delays)} presses, "
                f"{lost} lost")
            ok &= lost == 0
            m.close(c, proc, window)
        gap = statistics.median(latency["zorve-button"]) - statistics.median(latency["bare_client"])
        log(f"press -> message, program minus floor: {gap:+.2f} ms (target <= 0.2 ms)")
        ok &= gap <= 0.2

        starts = {}
        for label, extra in (("ALSA", ()), ("no MIDI", ("--midi", "none"))):
            starts[label] = m.measure_start(c, program, env, args.starts, extra)
            log(f"start -> drawn panel, {label}: median {statistics.median(starts[label]):.1f} ms "
                f"({', '.join(f'{v:.0f}' for v in starts[label])})")
        slower = statistics.median(starts["ALSA"]) - statistics.median(starts["no MIDI"])
        log(f"start -> drawn, ALSA minus no MIDI: {slower:+.1f} ms (target <= 10 ms)")
        ok &= slower <= 10
        e2e.expect_silent(rx, [0])
    except Failure as failure:
        log(f"FAIL: {failure}")
        return 1
    finally:
        c.close()
    log("all targets met" if ok else "a target was missed")
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
