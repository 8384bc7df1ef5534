"""The end-to-end harness for the Linux program, one package shared by the
cases (tests/e2e/test_*.py, under pytest) and the bench scripts (bench/*.py,
run with PYTHONPATH=tests/e2e).

A case starts its own Xvfb (the server picks a free display) and, where it
needs MIDI, its own JACK server with a unique name and jack_midi_dump
receivers registered before the program starts, so receiver k is the
program's output device k; on the ALSA sequencer (in a virtual machine),
zorve-seq-peer receivers. Input comes from xdotool or XTest; pixels from the
X server (XGetImage) or ImageMagick's `import -window root`; the window
close request and the window lookups go straight to Xlib through ctypes.
Every wait has a deadline.
"""

import sys

# No bytecode cache is written into the source tree.
sys.dont_write_bytecode = True

from .base import *  # noqa: E402,F401,F403
from .midi import *  # noqa: E402,F401,F403
from .program import *  # noqa: E402,F401,F403
from .wine import *  # noqa: E402,F401,F403
from .xlib import *  # noqa: E402,F401,F403
