"""The options and fixtures of the end-to-end cases.

CTest runs each case as its own entry (tests/e2e/CMakeLists.txt), naming the
built files; by hand, from the source tree after a build:

    python3 -m pytest tests/e2e --build=build/linux -k port_switch

(--build=DIR with "=": pytest takes a bare path for a place to look for
cases). Paths not given are looked for in the build tree named by --build.
Cases marked `alsa` need the ALSA sequencer: on a machine without one they
are skipped, unless selected with `-m alsa`, as scripts/vm-run.sh runs them
in a virtual machine (ctest -R e2e_alsa), where a missing sequencer fails
them. Those marked `kernel` make input devices of the kernel's own (uinput)
as root: they are skipped unless selected with `-m kernel`, as
scripts/vm-run.sh runs them (ctest -R e2e_play_touch_kernel). Those marked
`windows` run from the Windows build tree, which names its window probe
(--window-probe); without it they are skipped.
"""

import argparse
import os
import shutil
import signal
import tempfile

import pytest

import zorve_harness as e2e

# Built files the cases run: option -> (path in the build tree, what it is).
BUILT = {
    "program": ("zorve-button", "the program"),
    "probe": ("tests/e2e/zorve-midi-ports-probe", "the port layer's probe"),
    "flood": ("tests/e2e/zorve-midi-flood", "the JACK flood and script client"),
    "seq_peer": ("tests/e2e/zorve-seq-peer", "the ALSA sequencer peer"),
    "fail_upload": ("tests/e2e/libzorve-e2e-fail-upload.so", "the library that fails a window upload on request"),
    "key_table": ("zorve-print-key-table", "the key table tool"),
    "render_panel": ("tools/zorve-render-panel", "the panel renderer"),
    "make_icon": ("tools/zorve-make-icon-png", "the icon writer"),
    "man_page": ("zorve-button.1.gz", "the manual page"),
    "icons": ("icons", "the generated icons"),
    # The Windows tree's.
    "window_probe": ("tests/window_probe.exe", "the Windows window probe"),
    "midi_driver": ("tests/windows/wine_midi/winetestmidi.drv", "the Wine test MIDI driver"),
    "key_list": ("tests/windows/wine_midi/keys.txt", "the key table as the Windows cases read it"),
    "zip": ("zorve-button-VERSION-win64.zip", "the Windows zip"),
}


def pytest_addoption(parser):
    group = parser.getgroup("zorve", "the end-to-end cases of zorve-button")
    group.addoption("--build", help="the build tree (default for the paths below)")
    for name, (path, what) in BUILT.items():
        group.addoption("--" + name.replace("_", "-"), help=f"{what} (default: BUILD/{path})")
    group.addoption("--guide", help="the user guide in the sources (default: docs/using.md)")
    group.addoption("--project-version", help="the project's version (package_deb)")
    group.addoption("--period", type=int, help="frames per JACK period where a case does not set its own")
    group.addoption("--out", default=os.path.join(tempfile.gettempdir(), "zorve-e2e"),
                    help="logs and screenshots")
    group.addoption("--wine-prefix", help="the Wine prefix of the Windows cases (made when missing)")


def pytest_configure(config):
    # CTest's timeout: the case's processes are still stopped.
    signal.signal(signal.SIGTERM, signal.default_int_handler)


@pytest.fixture(scope="session")
def options(request):
    """The run's paths and settings, as the harness reads them."""
    get = request.config.getoption
    build = get("build")
    args = argparse.Namespace(build=build, version=get("project_version"), period=get("period"), out=get("out"))
    for name, (path, _) in BUILT.items():
        path = path.replace("VERSION", args.version or "")
        setattr(args, name, get(name) or (os.path.join(build, path) if build else None))
    args.wine_prefix = get("wine_prefix")
    source = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
    args.guide = get("guide") or os.path.join(source, "docs", "using.md")
    return args


def built_path(options, name):
    path = getattr(options, name)
    what = BUILT[name][1]
    e2e.check(path and os.path.exists(path), f"--{name.replace('_', '-')} must name {what} (or give --build)")
    return path


@pytest.fixture
def built(options):
    """built(name): the built file option `name` names; the case fails when
    there is none."""
    return lambda name: built_path(options, name)


def pytest_generate_tests(metafunc):
    """A case that takes `midi` runs on each system its `systems` marker
    names (default: JACK); on ALSA it is also marked `alsa`."""
    if "midi" in metafunc.fixturenames:
        marker = metafunc.definition.get_closest_marker("systems")
        systems = marker.args if marker else ("jack",)
        metafunc.parametrize("midi", [pytest.param(s, id=s, marks=[pytest.mark.alsa] if s == "alsa" else [])
                                      for s in systems])


def pytest_collection_modifyitems(config, items):
    """Cases for a place this run is not in are skipped, saying where they
    run: those marked alsa without a sequencer (unless chosen with -m alsa),
    those marked kernel unless chosen with -m kernel, the Windows ones
    without a Windows build (--window-probe)."""
    skips = {}
    chosen = config.getoption("markexpr")
    if not os.access("/dev/snd/seq", os.R_OK | os.W_OK) and chosen != "alsa":
        skips["alsa"] = "no ALSA sequencer here: run it in the virtual machine (ctest -R e2e_alsa)"
    if chosen != "kernel":
        skips["kernel"] = "input devices of the kernel's own, as root: run it in the virtual machine " \
                          "(ctest -R e2e_play_touch_kernel)"
    if not config.getoption("window_probe"):
        skips["windows"] = "the Windows program's case: run it from the Windows build tree (ctest --preset windows)"
    for item in items:
        for mark, reason in skips.items():
            if mark in item.keywords:
                item.add_marker(pytest.mark.skip(reason=reason))


@pytest.fixture
def case(request, options, monkeypatch):
    """A fresh case, closed whatever happens. Its programs get a private
    runtime directory: their running-copy marker is a socket file there,
    which no other run's copy can hold."""
    midi = request.getfixturevalue("midi") if "midi" in request.fixturenames else "jack"
    marker = request.node.get_closest_marker("tools")
    e2e.require_tools(marker.args if marker else [t for t in e2e.REQUIRED_TOOLS if t != "aconnect" or midi == "alsa"])
    built_path(options, "program")
    runtime = tempfile.mkdtemp(prefix="zorve-e2e-run-")
    monkeypatch.setenv("XDG_RUNTIME_DIR", runtime)
    c = e2e.Case(options, request.node.originalname.removeprefix("test_"), midi)
    try:
        yield c
    finally:
        c.close()
        shutil.rmtree(runtime, ignore_errors=True)


@pytest.fixture
def panel(case, request, midi):
    """The common opening, as the case's `opening` marker asks for it (the
    arguments of Case.open): a display, the MIDI system and its receivers,
    the program, its window, the drawn panel."""
    marker = request.node.get_closest_marker("opening")
    return case.open(**(marker.kwargs if marker else {}))


@pytest.fixture
def wine(case, options, request):
    """A display (as large as the case's `screen` marker says) and a Wine
    prefix of the case's own (--wine-prefix) with window_probe beside the
    program; its wineserver ends with the case."""
    probe = built_path(options, "window_probe")
    e2e.check(options.wine_prefix, "--wine-prefix must name the Wine prefix of the case")
    marker = request.node.get_closest_marker("screen")
    display = case.display(screen=f"{marker.args[0] if marker else '1280x1024'}x24")
    w = e2e.Wine(case, options.wine_prefix, probe, display)
    try:
        yield w
    finally:
        w.stop()
