"""The files the build makes, checked without the program's window: the
tools, the icons, the key table in the manual page and the guide, what an
install lays down, and the Debian package installed and removed."""

import gzip
import os
import re
import shutil
import subprocess
import tempfile

import pytest

from zorve_harness import (KEYS, PANEL_DRAWN, Image, check, jack_env, key_table, log, png_size, require_tools,
                           run_to_end)


def test_install_layout(options):
    """What `cmake --install` lays down, in a scratch prefix."""
    check(options.build and os.path.isdir(options.build), "--build must name the build tree")
    prefix = tempfile.mkdtemp(prefix="zorve-e2e-install-")
    try:
        subprocess.run(["cmake", "--install", options.build, "--prefix", prefix], check=True, timeout=60,
                       stdout=subprocess.DEVNULL)
        check_installed_files(prefix, os.path.join(options.build, "icons"))
    finally:
        shutil.rmtree(prefix)


ICON_SIZES = (16, 32, 48, 128, 256)
METAINFO = "io.github.zorve_button.ZorveButton.metainfo.xml"


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


def test_icon_png(built):
    """The 32 px icon pixel for pixel; every other size its nearest-neighbour
    scaling, so each shows the same grid unsmoothed."""
    require_tools(["convert"])
    icons = built("icons")
    path = lambda size: os.path.join(icons, f"{size}x{size}", "apps", "zorve-button.png")
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


def test_key_table_tool(built):
    """zorve-print-key-table prints the program's table: every click point of
    KEYS falls in exactly one printed rectangle, of that key's message."""
    tool = built("key_table")
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


LIST_KEYS_ROW = re.compile(r"^(.+?)  +(\S.*?)  +(Note On|Control Change) +(\d+) +(\d+) +(\d+)(?:  (\S.*))?$")
# The computer keys of the pads 1-16 with --keys: a 4 x 4 block, pad 1 bottom left.
PAD_COMPUTER_KEYS = "Z X C V A S D F Q W E R 1 2 3 4".split()


def test_key_table_docs(built, options):
    """--list-keys prints a heading and the 90 keys of the tool's table in its
    order, each with its group, message, number, channel 1 and value 127,
    without a display; the manual page renders the same rows (man -l), and the
    user guide in the sources holds the table the build wrote."""
    check(options.build, "--build must name the build tree")
    keys = key_table(built("key_table"))
    status, out, err = run_to_end(built("program"), ["--list-keys"], os.environ)
    lines = out.decode().splitlines()
    check(status == 0 and not err and len(lines) == 91,
          f"--list-keys: status {status}, {len(lines)} lines (want 91), stderr {err!r}")
    check(lines[0] == "key          group         message         number  channel  value  computer key",
          f"heading {lines[0]!r}")
    want_rows = []
    for (index, _, status_byte, number, label), line in zip(keys, lines[1:]):
        match = LIST_KEYS_ROW.match(line)
        check(match, f"--list-keys row {index} {line!r} is not NAME  GROUP  MESSAGE NUMBER CHANNEL VALUE "
              "[COMPUTER KEY]")
        name, group, message, got_number, channel, value, computer = match.groups()
        want_name = {"[minus bar]": "minus"}.get(label, label.strip("[]"))
        want_message = "Note On" if status_byte == 0x90 else "Control Change"
        check((name, message, int(got_number), channel, value) == (want_name, want_message, number, "1", "127"),
              f"--list-keys row {index}: {line!r}, want {want_name} {want_message} {number} on channel 1, value 127")
        want_rows.append((name, group, message, got_number, computer))
    groups = [r[1] for r in want_rows]
    check([r[4] for r in want_rows[74:]] == PAD_COMPUTER_KEYS, f"pads' computer keys {[r[4] for r in want_rows[74:]]}")
    check(len({r[4] for r in want_rows if r[4]}) == len([r for r in want_rows if r[4]]),
          "a computer key plays two panel keys")
    check(groups[0] == "pad bank" and groups[12] == "transport" and groups[89] == "pad"
          and len(set(groups)) == 10, f"groups {sorted(set(groups))}")

    env = dict(os.environ, MANWIDTH="100", MAN_KEEP_FORMATTING="0")
    man = subprocess.run(["man", "-l", built("man_page")], env=env, capture_output=True, text=True, timeout=30)
    check(man.returncode == 0 and not man.stderr, f"man -l: status {man.returncode}, stderr {man.stderr!r}")
    rendered = [re.split(r"\s{2,}", line.strip()) for line in man.stdout.splitlines()]
    for name, group, message, number, computer in want_rows:
        row = [name, group, message, number, "1"] + ([computer] if computer else [])
        check(row in rendered, f"the manual page has no row {' '.join(row)}")
    with open(os.path.join(options.build, "docs", "using.md")) as made, open(options.guide) as source:
        check(made.read() == source.read(), f"{options.guide} differs from the build's copy with the key table: "
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


def test_tools_command_line(built):
    """Every tool answers --help and turns wrong words away with status 64."""
    check_tool_command_line(built("key_table"), "zorve-print-key-table [--help]\n", [["extra"]])
    check_tool_command_line(built("render_panel"), "zorve-render-panel [--help] [DIR]\n", [["a", "b"]])
    check_tool_command_line(built("make_icon"), "zorve-make-icon-png [--help] [--size N] OUTPUT.png\n",
                            [["a.png", "b.png"], ["a.png", "--size", "8"], ["--size"]])


@pytest.mark.tools("Xvfb", "import", "convert")
def test_package_deb(case, options):
    """The Debian package (cpack -G DEB, made here when missing or stale)
    installs with dpkg, its program draws the panel under Xvfb and reports
    the project's version, its files are where the desktop looks for them,
    and dpkg -r takes them all away again."""
    c = case
    check(options.build and options.version, "--build and --project-version must name the build tree and its "
          "version")
    check(os.geteuid() == 0, "installing a package needs root")
    installed = subprocess.run(["dpkg-query", "-W", "-f=${Status}", "zorve-button"], capture_output=True, text=True)
    check("install ok installed" not in installed.stdout,
          "zorve-button is already installed on this machine; the test would not leave it as it was "
          "(remove it with dpkg -r zorve-button)")
    deb = fresh_deb(options.build, options.version)
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
        check(status == 0 and out == f"zorve-button {options.version}\n".encode() and not err,
              f"installed --version: status {status}, {out!r}, stderr {err!r}")
        program = c.program(c.display(), jack_env("zorve-e2e-absent"), path="/usr/bin/zorve-button")
        program.wait_drawn(PANEL_DRAWN, "the panel", timeout=10)
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
