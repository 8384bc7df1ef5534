#!/usr/bin/python3
"""The page in headless Chromium, driven over the DevTools protocol.

Each case serves the built site from its own local web server, starts its
own Chromium and waits for the page's own marks (the panel drawn, a count
of sends reached); nothing sleeps and hopes. Web MIDI is the page's real
wrapper over a requestMIDIAccess() of the case's own, whose outputs record
what they are sent, except in the refusal case, which meets Chromium's own.

Usage: web_page.py --site DIR --chromium PATH --key-table TOOL
                   --render-panel TOOL --out DIR CASE
"""
import argparse
import base64
import functools
import http.server
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import threading
import time
import urllib.request

import websocket

DEVICE_NAMES = ["Midi Through Port-0", "Midi Through Port-1", "Midi Through Port-2", "Midi Through Port-3"]

# Installed before the page's scripts: four outputs named as the panel tool
# names them and one input, each output recording [device, bytes...].
FAKE_MIDI = """
window.zorveSent = [];
window.zorveInputs = [{ name: 'Keys In', onmidimessage: null }];
(function () {
  const outputs = new Map(), inputs = new Map();
  %s.forEach(function (name, i) {
    outputs.set('out' + i, { name: name, send: function (bytes) { window.zorveSent.push([i].concat(Array.from(bytes))); } });
  });
  window.zorveInputs.forEach(function (port, i) { inputs.set('in' + i, port); });
  Object.defineProperty(navigator, 'requestMIDIAccess', {
    value: function () { return Promise.resolve({ outputs: outputs, inputs: inputs }); } });
})();
""" % json.dumps(DEVICE_NAMES)

# In the page: the canvas against an image at `url`, pixel by pixel; what
# differs outside the boxes the page drew text in, and what was compared.
TEXT_MARGIN = 4
COMPARE = """
(async function (url) {
  const image = new Image();
  image.src = url;
  await image.decode();
  const ref = document.createElement('canvas');
  ref.width = 910; ref.height = 550;
  const rc = ref.getContext('2d');
  rc.drawImage(image, 0, 0);
  const want = rc.getImageData(0, 0, 910, 550).data;
  const got = document.getElementById('panel').getContext('2d').getImageData(0, 0, 910, 550).data;
  // The browser's glyphs are not FreeType's: a label's ink may reach
  // MARGIN pixels further either way on the Linux panel.
  const MARGIN = TEXT_MARGIN;
  const inText = new Uint8Array(910 * 550);
  for (const b of Module.zorvePage.textBoxes)
    for (let y = Math.max(0, b[1] - MARGIN); y < Math.min(550, b[1] + b[3] + MARGIN); ++y)
      for (let x = Math.max(0, b[0] - MARGIN); x < Math.min(910, b[0] + b[2] + MARGIN); ++x) inText[y * 910 + x] = 1;
  const differ = [];
  let compared = 0, textPixels = 0;
  for (let i = 0; i < 910 * 550; ++i) {
    const same = got[i * 4] === want[i * 4] && got[i * 4 + 1] === want[i * 4 + 1] && got[i * 4 + 2] === want[i * 4 + 2];
    if (inText[i]) { ++textPixels; continue; }
    ++compared;
    if (!same) differ.push([i % 910, Math.floor(i / 910)]);
  }
  return JSON.stringify({ margin: MARGIN, compared: compared, textPixels: textPixels, boxes: Module.zorvePage.textBoxes.length,
                          differ: differ.length, first: differ.slice(0, 5) });
})
""".replace("TEXT_MARGIN", str(TEXT_MARGIN))


class Quiet(http.server.SimpleHTTPRequestHandler):
    def log_message(self, *args):
        pass


class Page:
    """One Chromium with one page, and a web server for the site."""

    def __init__(self, args, scale=1):
        self.args = args
        self.profile = tempfile.mkdtemp(prefix="zorve-web-")
        self.server = http.server.ThreadingHTTPServer(
            ("127.0.0.1", 0), functools.partial(Quiet, directory=args.site_dir))
        threading.Thread(target=self.server.serve_forever, daemon=True).start()
        self.origin = "http://127.0.0.1:%d" % self.server.server_address[1]
        self.browser = subprocess.Popen(
            [args.chromium, "--headless=new", "--no-sandbox", "--disable-gpu", "--no-first-run",
             "--disable-extensions", "--disable-component-update", "--disable-background-networking",
             "--disable-sync", "--disable-breakpad", "--mute-audio",
             "--remote-debugging-port=0", "--user-data-dir=" + self.profile, "--window-size=1000,700",
             "--force-device-scale-factor=%d" % scale] + args.chromium_flag + ["about:blank"],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        port_file = os.path.join(self.profile, "DevToolsActivePort")
        # What a page may take to answer (--patience): seconds here, longer
        # in a virtual machine without a hardware accelerator.
        self.patience = args.patience
        deadline = time.monotonic() + 4 * self.patience
        while not (os.path.exists(port_file) and open(port_file).read().count("\n") >= 1):
            if time.monotonic() > deadline or self.browser.poll() is not None:
                raise RuntimeError("Chromium did not open its DevTools port")
            time.sleep(0.05)
        port = int(open(port_file).read().split()[0])
        targets = json.load(urllib.request.urlopen("http://127.0.0.1:%d/json/list" % port))
        page = next(t for t in targets if t["type"] == "page")
        self.ws = websocket.create_connection(page["webSocketDebuggerUrl"], timeout=2 * self.patience)
        self.next_id = 0
        self.events = []  # names of the protocol's events, in arrival order
        self.faked = False  # the fake Web MIDI is installed for every new document
        self.buttons = 0  # the mouse's held buttons, as PointerEvent.buttons counts them
        self.call("Page.enable")
        self.call("Runtime.enable")

    def call(self, method, **params):
        return self.call_all([(method, params)])[-1]

    def call_all(self, calls):
        """Sends (method, params) calls in order without waiting between
        them (Chromium takes them in order); returns their results."""
        first = self.next_id + 1
        for method, params in calls:
            self.next_id += 1
            self.ws.send(json.dumps({"id": self.next_id, "method": method, "params": params}))
        results = {}
        while len(results) < len(calls):
            reply = json.loads(self.ws.recv())
            if "method" in reply:
                self.events.append(reply["method"])
            if first <= reply.get("id", 0) <= self.next_id:
                if "error" in reply:
                    raise RuntimeError("%s: %s" % (calls[reply["id"] - first][0], reply["error"]))
                results[reply["id"]] = reply["result"]
        return [results[i] for i in sorted(results)]

    def eval(self, expression):
        result = self.call("Runtime.evaluate", expression=expression, awaitPromise=True, returnByValue=True)
        if "exceptionDetails" in result:
            raise RuntimeError("%s: %s" % (expression[:60], result["exceptionDetails"]))
        return result["result"].get("value")

    def wait_for(self, condition, what, detail="null"):
        """Resolves in the page when `condition` holds, checked each frame;
        a failure shows the value of `detail`."""
        seconds = self.patience
        ok = self.eval("""new Promise(function (done) {
            const end = performance.now() + %d;
            (function look() {
              if (%s) done(true); else if (performance.now() > end) done(false); else setTimeout(look, 5);
            })();
          })""" % (seconds * 1000, condition))
        if not ok:
            raise AssertionError("waited %d s for %s: %s" % (seconds, what, self.eval(detail)))

    def open(self, query="", fake_midi=True):
        if fake_midi and not self.faked:
            self.call("Page.addScriptToEvaluateOnNewDocument", source=FAKE_MIDI)
            self.faked = True
        started = time.monotonic()
        self.events.clear()
        self.call("Page.navigate", url=self.origin + "/index.html" + query)
        # The new document's load, not about:blank's: the events were cleared.
        while "Page.loadEventFired" not in self.events:
            message = json.loads(self.ws.recv())
            self.events.append(message.get("method"))
        return started

    def wait_drawn(self):
        self.wait_for("document.documentElement.dataset.panel === 'drawn'", "the panel drawn")

    def mouse(self, kind, x, y, button="left", **extra):
        method, params = self.mouse_event(kind, x, y, button, **extra)
        self.call(method, **params)

    def mouse_event(self, kind, x, y, button="left", **extra):
        """A mouse event's call, with the buttons held after it as a real
        mouse's."""
        bit = {"left": 1, "right": 2, "middle": 4}.get(button, 0)
        if kind == "mousePressed":
            self.buttons |= bit
        if kind == "mouseReleased":
            self.buttons &= ~bit
        return ("Input.dispatchMouseEvent", dict(type=kind, x=x, y=y, button=button, buttons=self.buttons,
                                                 clickCount=1 if kind != "mouseMoved" else 0, **extra))

    def key(self, kind, code, **extra):
        self.call("Input.dispatchKeyEvent", type=kind, code=code, key=code, **extra)

    def touch(self, kind, *points):
        """Fingers, each (id, x, y) or (id, x, y, force): on the screen after
        a touchStart or touchMove; those lifted by a touchEnd (none: all)."""
        self.call("Input.dispatchTouchEvent", type=kind, touchPoints=[
            dict(id=p[0], x=p[1], y=p[2], **({"force": p[3]} if len(p) > 3 else {})) for p in points])

    def click(self, x, y):
        self.mouse("mousePressed", x, y)
        self.mouse("mouseReleased", x, y)

    def sent(self):
        return self.eval("window.zorveSent")

    def wait_sent(self, count):
        self.wait_for("window.zorveSent.length >= %d" % count, "%d messages sent" % count)
        return self.sent()

    def screenshot(self, path):
        """The whole page, the panel and the lines under it, as a PNG."""
        size = self.eval("[document.documentElement.scrollWidth, document.documentElement.scrollHeight]")
        shot = self.call("Page.captureScreenshot", format="png", captureBeyondViewport=True,
                         clip=dict(x=0, y=0, width=min(size[0], 910), height=size[1], scale=1))
        open(path, "wb").write(base64.b64decode(shot["data"]))

    def close(self):
        try:
            self.ws.close()
        finally:
            self.browser.terminate()
            self.browser.wait(timeout=30)
            self.server.shutdown()
            shutil.rmtree(self.profile, ignore_errors=True)


def key_table(tool):
    """INDEX X Y W H STATUS NUMBER LABEL rows of the program's table."""
    keys = []
    for line in subprocess.run([tool], check=True, capture_output=True, text=True).stdout.splitlines():
        f = line.split(None, 7)
        keys.append({"x": int(f[1]), "y": int(f[2]), "w": int(f[3]), "h": int(f[4]),
                     "status": int(f[5], 16), "number": int(f[6]), "label": f[7] if len(f) > 7 else ""})
    return keys


def sends(key, value, channel=0):
    """What a key's message with `value` is on devices 1-3: `key` is a row of
    the key table (status, number) or a (status, number) pair."""
    status, number = (key["status"], key["number"]) if isinstance(key, dict) else key
    return [[d, (status & 0xF0) | channel, number, value] for d in (1, 2, 3)]


def on_off(status, number, channel=0, velocity=127):
    """What one press and release sends: its on-value to each device, then 0."""
    return sends((status, number), velocity, channel) + sends((status, number), 0, channel)


def centre(k):
    return k["x"] + k["w"] // 2, k["y"] + k["h"] // 2


def steps_send(page, steps, channel=0):
    """Runs each (action, messages) in turn: after each action everything sent
    is exactly what the steps so far expect. A wheel step toward the user ends
    the run, so nothing may come after the last step's messages either."""
    wheel = (lambda: page.mouse("mouseWheel", 400, 300, button="none", deltaX=0, deltaY=100),
             on_off(0x90, 114, channel))
    expected = page.sent()
    for i, (action, messages) in enumerate(list(steps) + [wheel]):
        action()
        expected += messages
        if messages:
            sent = page.wait_sent(len(expected))
            assert sent == expected, ("step %d" % i, sent[max(0, len(expected) - len(messages) - 3):])


# KeyboardEvent.code of the computer keys --list-keys names otherwise:
# letters are KeyX, digits DigitN, keypad keys NumpadN, the rest by name.
CODES = {",": "Comma", ".": "Period", "/": "Slash", ";": "Semicolon", "Left": "ArrowLeft", "Right": "ArrowRight",
         "Page Up": "PageUp", "Page Down": "PageDown", "keypad +": "NumpadAdd", "keypad -": "NumpadSubtract",
         "keypad Enter": "NumpadEnter"}


def key_code(name):
    if name in CODES:
        return CODES[name]
    if name.startswith("keypad "):
        return "Numpad" + name[len("keypad "):]
    if len(name) == 1:
        return ("Digit" if name.isdigit() else "Key") + name
    return name


def computer_keys(page):
    """The keys --list-keys gives a computer key, as the page prints them:
    their KeyboardEvent.code, status and number."""
    page.open("?list-keys=1")
    page.wait_for("document.getElementById('text').textContent.length > 0", "the key list")
    rows = []
    for line in page.eval("document.getElementById('text').textContent").splitlines()[1:]:
        f = re.split(r"\s{2,}", line.strip())
        assert len(f) in (6, 7), line
        if len(f) == 7:
            rows.append({"code": key_code(f[6]), "status": 0x90 if f[2] == "Note On" else 0xB0, "number": int(f[3])})
    return rows


# ----------------------------------------------------------------- the cases

def case_panel_pixels(args, page):
    """The canvas is the Linux tree's panel, pixel for pixel outside text."""
    subprocess.run([args.render_panel, args.out], check=True, capture_output=True)
    shutil.copy(os.path.join(args.out, "panel-startup.png"), os.path.join(args.site_dir, "reference.png"))
    started = page.open()
    page.wait_drawn()
    drawn_ms = page.eval("Module.zorvePage.shownAt")
    result = json.loads(page.eval(COMPARE + "('/reference.png')"))
    print("compared %(compared)d pixels outside %(boxes)d text boxes widened by %(margin)d (%(textPixels)d pixels)" % result)
    assert result["boxes"] >= 90, result
    assert result["compared"] > 400000, result
    assert result["differ"] == 0, result
    path = os.path.join(args.out, "web-panel.png")
    page.screenshot(path)
    print("screenshot %s; panel drawn %.0f ms after the page's start (%.2f s from navigation)" %
          (path, drawn_ms, time.monotonic() - started))


def case_keys(args, page):
    """At two device pixels per CSS pixel, a click on every key sends its
    bytes on the URL's channel to devices 1-3, press then release. The mouse
    is one pointer with capture: a left release inside a chord with the
    right button is still the left's release, and a drag out of the canvas
    lets go of its key there."""
    page.open("?channel=10")
    page.wait_drawn()
    size = page.eval("[document.getElementById('panel').getBoundingClientRect().width, devicePixelRatio]")
    assert size == [910, 2], size  # 910 x 550 CSS pixels are 2 x 2 device pixels per panel pixel
    keys = key_table(args.key_table)
    assert len(keys) == 90
    steps_send(page, [(functools.partial(page.click, *centre(k)), on_off(k["status"], k["number"], 9)) for k in keys],
                      9)
    a, b = keys[0], keys[1]
    steps_send(page, [
        (lambda: page.mouse("mousePressed", *centre(a)), sends(a, 127, 9)),
        (lambda: page.mouse("mousePressed", *centre(a), button="right"), []),
        (lambda: page.mouse("mouseReleased", *centre(a)), sends(a, 0, 9)),
        (lambda: page.mouse("mouseReleased", *centre(a), button="right"), []),
        (lambda: page.mouse("mousePressed", *centre(b)), sends(b, 127, 9)),
        (lambda: page.mouse("mouseMoved", 950, 650), sends(b, 0, 9)),  # beyond the canvas's bottom right
        (lambda: page.mouse("mouseReleased", 950, 650), []),
    ], 9)


def case_computer_keys(args, page):
    """With keys=1 each computer key the key list names, by its
    KeyboardEvent.code, sends its panel key's on once through its repeats
    and its 0 at its release. Escape lets go of what the keyboard, a finger
    and the mouse hold, in the panel's order, then sends All Notes Off."""
    rows = computer_keys(page)
    assert len(rows) == 72, len(rows)
    page.open("?keys=1&channel=3")
    page.wait_drawn()

    def press(code):
        page.key("rawKeyDown", code)
        for _ in range(3):
            page.key("rawKeyDown", code, autoRepeat=True)

    steps = []
    for r in rows:
        steps += [(functools.partial(press, r["code"]), sends(r, 127, 2)),
                  (functools.partial(page.key, "keyUp", r["code"]), sends(r, 0, 2))]
    steps_send(page, steps, 2)
    keys = key_table(args.key_table)
    pad1, track1 = keys[74], keys[58]
    play_key = next(k for k in keys if k["label"] == "PLAY")
    steps_send(page, [
        (lambda: page.key("rawKeyDown", "KeyZ"), sends(pad1, 127, 2)),
        (lambda: page.touch("touchStart", (1, *centre(track1))), sends(track1, 127, 2)),
        (lambda: page.mouse("mousePressed", *centre(play_key)), sends(play_key, 127, 2)),
        (lambda: page.key("rawKeyDown", "Escape"),
         sends(play_key, 0, 2) + sends(track1, 0, 2) + sends(pad1, 0, 2) + sends((0xB0, 123), 0, 2)),
        (lambda: page.key("keyUp", "KeyZ"), []),
        (lambda: page.touch("touchEnd"), []),
    ], 2)


def case_touches(args, page):
    """Fingers each hold their own key: two at once send two ons and, as
    each lifts, its own 0; a finger sliding off its key lets go of it there
    and presses none it slides onto. No finger also comes as the mouse,
    whose release on the key slid onto would send that key's 0."""
    page.open()
    page.wait_drawn()
    pads = key_table(args.key_table)[74:78]
    a, b, c, d = (centre(k) for k in pads)
    steps_send(page, [
        (lambda: page.touch("touchStart", (1, *a)), sends(pads[0], 127)),
        (lambda: page.touch("touchStart", (1, *a), (2, *b)), sends(pads[1], 127)),
        (lambda: page.touch("touchEnd", (1, *a)), sends(pads[0], 0)),
        (lambda: page.touch("touchEnd"), sends(pads[1], 0)),
        (lambda: page.touch("touchStart", (3, *c)), sends(pads[2], 127)),
        (lambda: page.touch("touchMove", (3, *d)), sends(pads[2], 0)),
        (lambda: page.touch("touchEnd"), []),
    ])


def case_focus_lost(args, page):
    """What is held when the page loses the focus, or is hidden, is let go
    (each key's 0 once): the blur alone (the focus into a frame of the
    page), then the hiding alone (another tab in front, the focus already
    gone), each seen by itself."""
    page.open("?keys=1")
    page.wait_drawn()
    me = page.call("Target.getTargetInfo")["targetInfo"]["targetId"]
    keys = key_table(args.key_table)
    pad1, pad2 = keys[74], keys[75]
    play_key = next(k for k in keys if k["label"] == "PLAY")
    other = []
    state = "[document.activeElement.tagName, document.visibilityState]"

    def blur():
        page.eval("const f = document.createElement('iframe'); document.body.appendChild(f); f.contentWindow.focus()")
        assert page.eval(state) == ["IFRAME", "visible"]

    def hide():
        other.append(page.call("Target.createTarget", url="about:blank")["targetId"])
        page.wait_for("document.hidden", "the page hidden")

    def show():
        page.call("Target.activateTarget", targetId=me)
        page.call("Target.closeTarget", targetId=other[0])
        page.wait_for("!document.hidden", "the page shown")

    steps_send(page, [
        (lambda: page.key("rawKeyDown", "KeyZ"), sends(pad1, 127)),
        (lambda: page.mouse("mousePressed", *centre(play_key)), sends(play_key, 127)),
        (blur, sends(play_key, 0) + sends(pad1, 0)),
        (lambda: page.touch("touchStart", (1, *centre(pad2))), sends(pad2, 127)),
        (hide, sends(pad2, 0)),
        (show, []),
    ])


# Velocity: the page's query, what plays pad 1 (a click or a finger at a
# row of the key, with a finger's force; a computer key, with Shift), and
# the on-value it sends.
VELOCITY = [
    ("velocity=100", "click", 15, None, 100),
    ("velocity=100", "key", None, None, 100),
    ("velocity=100", "shift key", None, None, 100),
    ("velocity=100", "finger", 15, 0.25, 100),
    ("velocity=position", "click", 0, None, 1),
    ("velocity=position", "click", 15, None, 66),
    ("velocity=position", "click", 29, None, 127),
    ("velocity=position", "key", None, None, 100),
    ("velocity=position", "shift key", None, None, 127),
    ("velocity=position", "finger", 0, None, 1),  # a force of 1 (Chromium's default) is no measurement
    ("velocity=position", "finger", 29, 0.5, 127),  # nor is 0.5, a device's without pressure
    ("velocity=position", "finger", 0, 0.25, 32),
]


def case_velocity(args, page):
    """velocity=N and velocity=position as on the command line."""
    pad1 = key_table(args.key_table)[74]
    for query in sorted({row[0] for row in VELOCITY}):
        page.open("?keys=1&" + query)
        page.wait_drawn()
        steps = []
        for _, how, row, force, value in (r for r in VELOCITY if r[0] == query):
            at = (pad1["x"] + pad1["w"] // 2, pad1["y"] + (row or 0))
            finger = (1, *at) + ((force,) if force else ())
            act = {
                "click": functools.partial(page.click, *at),
                "key": lambda: (page.key("rawKeyDown", "KeyZ"), page.key("keyUp", "KeyZ")),
                "shift key": lambda: (page.key("rawKeyDown", "KeyZ", modifiers=8), page.key("keyUp", "KeyZ")),
                "finger": lambda finger=finger: (page.touch("touchStart", finger), page.touch("touchEnd")),
            }[how]
            steps.append((act, on_off(pad1["status"], pad1["number"], velocity=value)))
        steps_send(page, steps)


def case_wheel_and_keys(args, page):
    """Wheel toward the user is note 114, away 115; the Up and Down keys
    likewise; a key the panel does not answer sends nothing."""
    page.open()
    page.wait_drawn()
    expected = []
    for delta, note in ((100, 114), (-100, 115)):
        page.mouse("mouseWheel", 400, 300, button="none", deltaX=0, deltaY=delta)
        expected += on_off(0x90, note)
        assert page.wait_sent(len(expected)) == expected
    for code, vk, note in (("ArrowUp", 38, 114), ("ArrowDown", 40, 115), ("KeyQ", 81, None)):
        page.call("Input.dispatchKeyEvent", type="rawKeyDown", code=code, key=code, windowsVirtualKeyCode=vk)
        page.call("Input.dispatchKeyEvent", type="keyUp", code=code, key=code, windowsVirtualKeyCode=vk)
        if note is None:
            # The next Up's messages come right after the last: nothing between.
            page.call("Input.dispatchKeyEvent", type="rawKeyDown", code="ArrowUp", key="ArrowUp",
                      windowsVirtualKeyCode=38)
            note = 114
        expected += on_off(0x90, note)
        assert page.wait_sent(len(expected)) == expected, code


def lights_only_its_key(page, key, send_in):
    """`send_in(status, number, value)` puts a message into the page's MIDI
    input: a Note On lights `key` (its pixels alone change), a Note Off puts
    it out. The key's own pixels are watched; the whole panel is compared
    once they changed, which is slow where the page runs emulated."""
    pixels = "document.getElementById('panel').getContext('2d').getImageData(%s).data"
    whole, own = pixels % "0, 0, 910, 550", pixels % ", ".join(str(key[c]) for c in "xywh")
    page.eval("window.before = %s; window.beforeKey = %s; true" % (whole, own))
    key_changed = "%s.some(function (v, i) { return v !== window.beforeKey[i]; })" % own
    changed = "(function () { const now = %s, was = window.before; let n = 0, out = 0;" \
              " for (let i = 0; i < now.length; i += 4) if (now[i] != was[i] || now[i+1] != was[i+1] ||" \
              " now[i+2] != was[i+2]) { ++n; const x = (i / 4) %% 910, y = Math.floor(i / 4 / 910);" \
              " if (x < %d || x >= %d || y < %d || y >= %d) ++out; } return [n, out]; })()" % (
                  whole, key["x"], key["x"] + key["w"], key["y"], key["y"] + key["h"])
    for status, value in ((0x90, 100), (0x80, 0)):
        send_in(status, key["number"], value)
        page.wait_for(key_changed if value else "!" + key_changed,
                      "the %s key %s" % (key["label"], "lit" if value else "put out"))
        n, out = page.eval(changed)
        assert (n > 100 and out == 0) if value else n == 0, (value, n, out)


def case_input_lights(args, page):
    """With show-input, a Note On into the input lights its key: only that
    key's pixels change, and a Note Off puts them back."""
    page.open("?show-input=1")
    page.wait_drawn()
    play = next(k for k in key_table(args.key_table) if k["label"] == "PLAY")
    lights_only_its_key(page, play, lambda *message: page.eval(
        "window.zorveInputs[0].onmidimessage({ data: new Uint8Array([%d, %d, %d]) })" % message))
    assert page.sent() == []


class Receiver:
    """A zorve-seq-peer process and the lines it printed, read as they come."""

    def __init__(self, peer, *words):
        self.process = subprocess.Popen([peer] + list(words), stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                        text=True)
        self.lines = []
        self.changed = threading.Condition()
        threading.Thread(target=self.read, daemon=True).start()
        self.wait(1, "%s ready" % words[1])

    def read(self):
        for line in self.process.stdout:
            with self.changed:
                self.lines.append(line.strip())
                self.changed.notify_all()

    def wait(self, count, what, seconds=60):
        with self.changed:
            if not self.changed.wait_for(lambda: len(self.lines) >= count, seconds):
                raise AssertionError("waited %d s for %s: %s" % (seconds, what, self.lines[-3:]))
        return self.lines

    def close(self):
        self.process.kill()
        self.process.wait()


def case_alsa_vm(args, page):
    """Chromium's own Web MIDI on the ALSA sequencer (in the virtual machine:
    scripts/vm-run.sh). Midi Through with four ports is devices 0-3, so the
    panel's devices 1-3 are its ports 1-3: a receiver subscribed to each gets
    every key's bytes in order, and a Note On written into port 0 comes back
    into the page and lights its key."""
    subprocess.run("rmmod snd-seq-dummy && modprobe snd-seq-dummy ports=4", shell=True, check=True)
    peers = [Receiver(args.seq_peer, "receive", "web-rx-%d" % d, "14:%d" % d) for d in (1, 2, 3)]
    source = Receiver(args.seq_peer, "script", "web-source")
    try:
        subprocess.run(["aconnect", "web-source:0", "14:0"], check=True)
        page.call("Browser.grantPermissions", origin=page.origin, permissions=["midi", "midiSysex"])
        started = page.open("?show-input=1", fake_midi=False)
        page.wait_drawn()
        print("panel drawn %.0f ms after the page's start (%.1f s from navigation)" % (
            page.eval("Module.zorvePage.shownAt"), time.monotonic() - started))
        page.screenshot(os.path.join(args.out, "web-page-alsa.png"))
        keys = key_table(args.key_table)

        def send_in(*message):
            source.process.stdin.write("%02X %02X %02X\n" % message)
            source.process.stdin.flush()

        # Listening opens an input, and an input opens after the page asked.
        page.wait_for("Module.zorvePage.midi.inputs[0].connection === 'open'", "input 0 open",
                      "Module.zorvePage.midi.inputs.map(p => p.name + ' ' + p.connection)")
        lights_only_its_key(page, next(k for k in keys if k["label"] == "PLAY"), send_in)
        started = time.monotonic()
        page.call_all([page.mouse_event(kind, *centre(k)) for k in keys for kind in ("mousePressed", "mouseReleased")])
        for d, peer in enumerate(peers, 1):
            lines = peer.wait(1 + 2 * len(keys), "every key's two messages on device %d" % d)
            want = ["%d: %02x %02x %02x" % (i, m[1], m[2], m[3]) for i, m in enumerate(
                sum((on_off(k["status"], k["number"])[:: 3] for k in keys), []))]
            assert lines[1:] == want, (d, [(a, b) for a, b in zip(lines[1:], want) if a != b][:3])
        print("every key clicked and its bytes received in %.1f s; device 1: %s ... %s" % (
            time.monotonic() - started, ", ".join(peers[0].lines[1:4]), ", ".join(peers[0].lines[-2:])))
    finally:
        for peer in peers + [source]:
            peer.close()


def case_midi_refused(args, page):
    """Chromium's own refusal (no permission granted): the panel still draws
    and one line says why."""
    page.open(fake_midi=False)
    page.wait_drawn()
    line = page.eval("document.getElementById('line').textContent")
    assert line == "zorve-button: Web MIDI was not allowed: the panel works but sends nothing", line


def case_bad_option(args, page):
    """A wrong URL parameter is refused in the command line's words, on the page."""
    page.open("?channel=17")
    page.wait_for("document.getElementById('line').textContent !== ''", "the refusal")
    line = page.eval("document.getElementById('line').textContent")
    assert line == ("zorve-button: --channel: '17' is not a whole number from 1 to 16. "
                    "Try 'zorve-button --help'."), line
    assert page.eval("document.documentElement.dataset.panel") is None


CASES = {
    "panel_pixels": (case_panel_pixels, 1),
    "keys": (case_keys, 2),
    "computer_keys": (case_computer_keys, 1),
    "touches": (case_touches, 2),
    "focus_lost": (case_focus_lost, 1),
    "velocity": (case_velocity, 1),
    "wheel_and_keys": (case_wheel_and_keys, 1),
    "input_lights": (case_input_lights, 1),
    "midi_refused": (case_midi_refused, 1),
    "bad_option": (case_bad_option, 1),
    "alsa_vm": (case_alsa_vm, 1),
}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--site", required=True)
    parser.add_argument("--chromium", default="chromium")
    parser.add_argument("--key-table", required=True)
    parser.add_argument("--render-panel", required=True)
    parser.add_argument("--out", required=True)
    parser.add_argument("--seq-peer", help="the zorve-seq-peer client of a Linux tree (alsa_vm)")
    parser.add_argument("--chromium-flag", action="append", default=[], help="one more flag for Chromium")
    parser.add_argument("--patience", type=float, default=15,
                        help="seconds to wait for what the page does (a page starts in 4 times that)")
    parser.add_argument("case", choices=sorted(CASES))
    args = parser.parse_args()
    os.makedirs(args.out, exist_ok=True)
    # The site as built, plus what a case adds to it (the reference image).
    args.site_dir = tempfile.mkdtemp(prefix="zorve-site-")
    for name in os.listdir(args.site):
        shutil.copy(os.path.join(args.site, name), args.site_dir)
    run, scale = CASES[args.case]
    started = time.monotonic()
    page = Page(args, scale)
    print("Chromium answered in %.1f s" % (time.monotonic() - started))
    try:
        run(args, page)
    finally:
        page.close()
        shutil.rmtree(args.site_dir, ignore_errors=True)
    print("%s: passed" % args.case)


if __name__ == "__main__":
    main()
