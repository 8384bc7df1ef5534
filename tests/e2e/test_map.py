"""End-to-end cases of the user's map file on the Linux program: the drum
map's bytes from a click and from its computer key, the file rewritten while
the panel runs (a held key let go with its old message first), a broken edit
kept out with one line, a broken file at start (status 78, no window),
--list-keys --map, the drum map driving FluidSynth, and --connect on JACK
and (marked alsa) on the ALSA sequencer. Every wait has a deadline."""

import os
import re
import shutil
import subprocess

import pytest

from zorve_harness import (PANEL_DRAWN, SAMPLE_RATE, Failure, check, expect, expect_silent, hexs, jack_ports, log,
                           on_off, wait_for)

EXAMPLES = os.path.join(os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))), "data",
                        "examples")
DRUMS = os.path.join(EXAMPLES, "drums.toml")
PAD1 = (160, 490)
DEVICES = [1, 2, 3]


def write_map(path, text):
    """Replaces the file as editors do: a new file renamed over the old."""
    with open(path + ".new", "w") as f:
        f.write(text)
    os.replace(path + ".new", path)


def drum_text(pad1_note=36):
    with open(DRUMS) as f:
        text = f.read()
    return text.replace('"pad 1"  = { note = 36,', f'"pad 1"  = {{ note = {pad1_note},')


def wait_log(program, needle, count, what):
    """The program's log holds `needle` `count` times: its own word that a
    reading of the map happened."""
    wait_for(lambda: program.output().count(needle) >= count, 10, what)


def start(c, display, env, args):
    program = c.program(display, env, args)
    program.wait_drawn(PANEL_DRAWN, "the panel", timeout=10)
    return program


def test_drums_live(case):
    """drums.toml: a click on pad 1 and the key z each send 99 24 7F then
    99 24 00 to devices 1-3. The file rewritten (pad 1 -> note 40) takes
    effect without a restart; a pad held from the keyboard while the file
    changes is let go with its old message first and its release sends
    nothing more; a broken edit keeps the map in force and says so on one
    line."""
    c = case
    display = c.display()
    env, rx = c.midi()
    path = os.path.join(c.out, f"{c.name}-map.toml")
    write_map(path, drum_text())
    program = start(c, display, env, ["--map", path])
    program.click(*PAD1)
    expect(rx, DEVICES, on_off(0x99, 36), "click on pad 1 with drums.toml")
    program.focus()
    program.key("z")
    expect(rx, DEVICES, on_off(0x99, 36), "key z with drums.toml")

    write_map(path, drum_text(40))
    wait_log(program, f"{path}: read again", 1, "the first rewrite read")
    program.click(*PAD1)
    expect(rx, DEVICES, on_off(0x99, 40), "click on pad 1 after the rewrite")

    program.xdo("keydown", "z")
    expect(rx, DEVICES, [bytes([0x99, 40, 127])], "z held")
    write_map(path, drum_text(41))
    wait_log(program, f"{path}: read again", 2, "the second rewrite read")
    expect(rx, DEVICES, [bytes([0x99, 40, 0])], "the held pad let go with its old message")
    program.xdo("keyup", "z")
    program.key("z")
    expect(rx, DEVICES, on_off(0x99, 41), "key z after the second rewrite (its earlier release sent nothing)")

    write_map(path, drum_text(41).replace("note = 37", "note = 137"))
    wait_log(program, "(the map in force stays)", 1, "the broken edit reported")
    lines = [line for line in program.output().splitlines() if "map in force stays" in line]
    check(lines == [f"zorve-button: {path}:12:21: pad 2: note must be a whole number from 0 to 127 "
                    "(the map in force stays)"], f"the broken edit's report: {lines}")
    program.click(*PAD1)
    expect(rx, DEVICES, on_off(0x99, 41), "click on pad 1 after the broken edit")
    expect_silent(rx, [0, 1, 2, 3])


def test_map_at_start(case):
    """A broken file at start: one line, status 78, no window; --list-keys
    --map prints the mapped rows and checks a file without a display."""
    c = case
    path = os.path.join(c.out, f"{c.name}-broken.toml")
    write_map(path, '[keys]\n"pad 1" = { note = 36 }\n"pad 17" = { note = 1 }\n')
    display = c.display()
    env = dict(os.environ, DISPLAY=display)
    result = subprocess.run([c.args.program, "--map", path, "--midi", "none"], env=env, capture_output=True,
                            text=True, timeout=20)
    check(result.returncode == 78, f"status {result.returncode}, want 78")
    check(result.stderr == f"zorve-button: {path}:3:1: pad 17 is not a key of the panel (pad 1-16)\n",
          f"stderr {result.stderr!r}")
    check(not c.x.find("ZORVE_BUTTON"), "a window appeared")
    env.pop("DISPLAY")
    result = subprocess.run([c.args.program, "--list-keys", "--map", DRUMS], env=env, capture_output=True,
                            text=True, timeout=20)
    check(result.returncode == 0 and not result.stderr, f"--list-keys --map: {result.returncode} {result.stderr!r}")
    rows = [line for line in result.stdout.splitlines() if re.match(r"^\d+ +pad ", line)]
    want = [f"{k:<13}pad           Note On             {35 + k}       10    127  {key}"
            for k, key in enumerate("ZXCVASDFQWER1234", start=1)]
    check(rows == want, f"pad rows {rows}, want {want}")
    log("--list-keys --map drums.toml: " + rows[0])


def test_fluidsynth_drums(case):
    """drums.toml drives FluidSynth on JACK, started before the panel as
    device 1: the synth's own -d log shows the notes it took on channel 10
    (its channel 9) from a click and from the computer keys, each once."""
    c = case
    check(shutil.which("fluidsynth") and os.path.exists("/usr/share/sounds/sf2/TimGM6mb.sf2"),
          "missing FluidSynth or its sound font (Debian packages fluidsynth, timgm6mb-soundfont)")
    display = c.display()
    env, rx = c.midi(receivers=1)
    fifo = os.path.join(c.out, f"{c.name}-fluidsynth.stdin")
    if os.path.exists(fifo):
        os.unlink(fifo)
    os.mkfifo(fifo)
    synth_log = os.path.join(c.out, f"{c.name}-fluidsynth.log")
    with open(synth_log, "w") as out:
        c.procs.start(["sh", "-c", f"exec stdbuf -oL fluidsynth -d -a jack -m jack -o midi.jack.id=fsynth "
                       f"-r {SAMPLE_RATE} -o audio.jack.autoconnect=0 /usr/share/sounds/sf2/TimGM6mb.sf2 < {fifo}"],
                      env=env, stdout=out, stderr=subprocess.STDOUT)
    hold = open(fifo, "w")  # the synth reads its shell from here and quits at its end
    try:
        wait_for(lambda: "fsynth:midi_00" in (jack_ports(env) or "") or None, 20, "FluidSynth's MIDI port")
        program = start(c, display, env, ["--map", DRUMS])
        program.click(*PAD1)
        program.focus()
        program.key("c")
        program.key("4")

        def taken():
            with open(synth_log) as f:
                return [line.strip() for line in f if line.startswith("event_pre_noteon")]

        want = ["event_pre_noteon 9 36 127", "event_pre_noteon 9 36 0", "event_pre_noteon 9 38 127",
                "event_pre_noteon 9 38 0", "event_pre_noteon 9 51 127", "event_pre_noteon 9 51 0"]
        try:
            wait_for(lambda: taken() == want, 10, "FluidSynth's log of the six events")
        except Failure:
            raise Failure(f"FluidSynth took {taken()}, want {want}")
        for line in taken():
            log("fluidsynth: " + line)
    finally:
        hold.close()


@pytest.mark.systems("jack", "alsa")
def test_connect(case, midi):
    """On JACK one receiver is device 0, which never receives: one line says
    so. With --connect the panel port is connected to a receiver started
    after the panel, and again after that receiver restarts (on the ALSA
    sequencer a new client number)."""
    c = case
    display = c.display()
    env, rx = c.midi(receivers=1)
    hint = "zorve-button: the one output device, 0 (zr0:input), never receives"
    if midi == "jack":
        program = start(c, display, env, ["--midi", "jack"])
        wait_for(lambda: hint in program.output(), 5, "the one-line hint")
        program.proc.terminate()
        program.exit_status(10)

    program = start(c, display, env, ["--midi", midi, "--connect", "zlate"])
    check(hint not in program.output(), "the hint with --connect given")
    for run in (1, 2):
        late = c.sys.receiver("zlate")
        wait_for(lambda: "zlate:input" in c.sys.graph().get("ZORVE_BUTTON:panel", []), 5,
                 f"the panel port connected to zlate:input (start {run})")
        program.click(*PAD1)
        got = [m for _, m in late.take(2)]
        check(got == on_off(0xB0, 16), f"zlate (start {run}) got {hexs(got)}")
        late.proc.terminate()
        late.proc.wait(10)
        wait_for(lambda: "zlate:input" not in c.sys.graph(), 5, "zlate gone")
