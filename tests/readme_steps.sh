#!/usr/bin/env bash
# The README's own steps, as a new user types them, in a fresh copy of the
# tree: every command line of its "Installing" section (the indented ones;
# `sudo` lines, which would install onto this machine, left out), each from
# the tree's top. `./scripts/run.sh` alone would start the panel: here it is
# given --version, whose stdout must be that one line, and --list-keys into a
# file, which must hold the table alone. The package and the zip must then
# exist, from a tree that only run.sh built, with what they install.
# Usage: readme_steps.sh SOURCE_DIR VERSION
set -euo pipefail
SRC=$1 VERSION=$2
fail() { echo "readme_steps: FAIL: $*" >&2; exit 1; }
log() { echo "readme_steps: $*" >&2; }

work=$(mktemp -d -t zorve-readme.XXXXXX)
trap 'rm -rf "$work"' EXIT
tree=$work/zorve-button
mkdir "$tree"
# What a clone holds: the tracked files (and new ones not yet committed).
(cd "$SRC" && git ls-files -z --cached --others --exclude-standard |
    while IFS= read -r -d '' f; do [ -e "$f" ] && printf '%s\0' "$f"; done | xargs -0 tar -cf -) |
    tar -xf - -C "$tree"
# A cache keyed on paths below the tree's top serves every fresh copy.
if command -v ccache >/dev/null; then
    export CMAKE_C_COMPILER_LAUNCHER=ccache CMAKE_CXX_COMPILER_LAUNCHER=ccache CCACHE_BASEDIR=$tree
fi

mapfile -t steps < <(awk '/^## /{on = ($0 == "## Installing")} on && /^    [^ ]/' "$SRC/README.md" |
    sed -e 's/^    //' -e 's/  *#.*$//' | grep -v '^sudo ')
[ ${#steps[@]} -ge 5 ] || fail "the README's Installing section has ${#steps[@]} command lines: ${steps[*]}"
for step in "${steps[@]}"; do
    log "\$ $step"
    if [ "$step" = "./scripts/run.sh" ]; then
        out=$(cd "$tree" && ./scripts/run.sh --version) || fail "./scripts/run.sh --version failed"
        [ "$out" = "zorve-button $VERSION" ] || fail "stdout of ./scripts/run.sh --version: '$out'"
        (cd "$tree" && ./scripts/run.sh --list-keys > "$work/keys.txt") 2>/dev/null || fail "run.sh --list-keys"
        [ "$(wc -l < "$work/keys.txt")" -eq 91 ] && head -1 "$work/keys.txt" | grep -q '^key  *group' ||
            fail "keys.txt is not the table alone: $(head -3 "$work/keys.txt")"
        continue
    fi
    (cd "$tree" && eval "$step") >&2 || fail "the README's step '$step' failed"
done

deb=$tree/build/linux/zorve-button_${VERSION}_amd64.deb
zip=$tree/build/windows/zorve-button-$VERSION-win64.zip
[ -f "$deb" ] || fail "no $deb"
[ -f "$zip" ] || fail "no $zip"
contents=$(dpkg-deb -c "$deb")
for path in ./usr/bin/zorve-button ./usr/share/icons/hicolor/16x16/apps/zorve-button.png \
    ./usr/share/man/man1/zorve-button.1.gz ./usr/share/doc/zorve-button/using.md; do
    grep -q " $path\$" <<<"$contents" || fail "the package lacks $path"
done
python3 - "$zip" "$VERSION" <<'PY' || fail "the zip's README.txt is not the Windows one"
import sys, zipfile
z = zipfile.ZipFile(sys.argv[1])
text = z.read(f"zorve-button-{sys.argv[2]}-win64/README.txt")
assert text.startswith(b"zorve-button for Windows\r\n"), text[:40]
PY
log "PASS: run.sh, the package ($(stat -c %s "$deb") bytes) and the zip ($(stat -c %s "$zip") bytes) the README's way"
