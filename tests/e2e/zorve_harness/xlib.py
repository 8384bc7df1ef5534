"""The X side of a case: an Xvfb of its own (or an Xorg, where input
devices matter), and a client connection through Xlib (ctypes) that finds
windows, reads their properties and pixels, asks them to close and fakes
input with XTest."""

import array
import ctypes
import ctypes.util
import os
import select
import subprocess
import sys
import time

from .base import check

__all__ = ["X", "Picture", "start_xvfb", "start_xorg"]


class XClientMessageEvent(ctypes.Structure):
    _fields_ = [
        ("type", ctypes.c_int),
        ("serial", ctypes.c_ulong),
        ("send_event", ctypes.c_int),
        ("display", ctypes.c_void_p),
        ("window", ctypes.c_ulong),
        ("message_type", ctypes.c_ulong),
        ("format", ctypes.c_int),
        ("l", ctypes.c_long * 5),
    ]


class XEvent(ctypes.Union):
    _fields_ = [("type", ctypes.c_int), ("xclient", XClientMessageEvent), ("pad", ctypes.c_long * 24)]


class XWindowAttributes(ctypes.Structure):
    _fields_ = [
        ("x", ctypes.c_int), ("y", ctypes.c_int), ("width", ctypes.c_int), ("height", ctypes.c_int),
        ("border_width", ctypes.c_int), ("depth", ctypes.c_int), ("visual", ctypes.c_void_p),
        ("root", ctypes.c_ulong), ("c_class", ctypes.c_int), ("bit_gravity", ctypes.c_int),
        ("win_gravity", ctypes.c_int), ("backing_store", ctypes.c_int), ("backing_planes", ctypes.c_ulong),
        ("backing_pixel", ctypes.c_ulong), ("save_under", ctypes.c_int), ("colormap", ctypes.c_ulong),
        ("map_installed", ctypes.c_int), ("map_state", ctypes.c_int), ("all_event_masks", ctypes.c_long),
        ("your_event_mask", ctypes.c_long), ("do_not_propagate_mask", ctypes.c_long),
        ("override_redirect", ctypes.c_int), ("screen", ctypes.c_void_p),
    ]


class XImage(ctypes.Structure):
    _fields_ = [
        ("width", ctypes.c_int), ("height", ctypes.c_int), ("xoffset", ctypes.c_int), ("format", ctypes.c_int),
        ("data", ctypes.c_void_p), ("byte_order", ctypes.c_int), ("bitmap_unit", ctypes.c_int),
        ("bitmap_bit_order", ctypes.c_int), ("bitmap_pad", ctypes.c_int), ("depth", ctypes.c_int),
        ("bytes_per_line", ctypes.c_int), ("bits_per_pixel", ctypes.c_int),
    ]


class Picture:
    """A window's pixels at one moment: `data` holds 4 bytes a pixel, row by
    row (blue, green, red, unused), so two pictures compare as bytes."""

    def __init__(self, width, height, data):
        self.width, self.height, self.data = width, height, data

    def rgb(self, x, y):
        i = (y * self.width + x) * 4
        return int.from_bytes(self.data[i:i + 3], "little")

    def count(self, colour, x=0, y=0, w=None, h=None):
        """Pixels of `colour` (0xRRGGBB) in the rectangle (the whole picture
        without one)."""
        w, h = w or self.width, h or self.height
        return sum(self.rgb(i, j) == colour for j in range(y, y + h) for i in range(x, x + w))

    def rows(self, x, y, w, h):
        """The rectangle's rows, each a list of 0xRRGGBB (read as words: a
        window holds millions of pixels)."""
        words = array.array("I", self.data)
        if sys.byteorder != "little":
            words.byteswap()
        return [[v & 0xFFFFFF for v in words[j * self.width + x:j * self.width + x + w]] for j in range(y, y + h)]


IS_VIEWABLE = 2
CLIENT_MESSAGE = 33


class X:
    """A client connection for finding windows, reading their properties,
    asking them to close and faking button presses."""

    def __init__(self, display):
        self.lib = ctypes.CDLL(ctypes.util.find_library("X11") or "libX11.so.6")
        lib = self.lib
        lib.XOpenDisplay.restype = ctypes.c_void_p
        lib.XOpenDisplay.argtypes = [ctypes.c_char_p]
        lib.XDefaultRootWindow.restype = ctypes.c_ulong
        lib.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
        lib.XInternAtom.restype = ctypes.c_ulong
        lib.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
        lib.XQueryTree.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.POINTER(ctypes.c_ulong),
                                   ctypes.POINTER(ctypes.c_ulong), ctypes.POINTER(ctypes.POINTER(ctypes.c_ulong)),
                                   ctypes.POINTER(ctypes.c_uint)]
        lib.XGetWindowProperty.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_ulong, ctypes.c_long,
                                           ctypes.c_long, ctypes.c_int, ctypes.c_ulong,
                                           ctypes.POINTER(ctypes.c_ulong), ctypes.POINTER(ctypes.c_int),
                                           ctypes.POINTER(ctypes.c_ulong), ctypes.POINTER(ctypes.c_ulong),
                                           ctypes.POINTER(ctypes.c_void_p)]
        lib.XGetWindowAttributes.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.POINTER(XWindowAttributes)]
        lib.XTranslateCoordinates.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_ulong, ctypes.c_int,
                                              ctypes.c_int, ctypes.POINTER(ctypes.c_int),
                                              ctypes.POINTER(ctypes.c_int), ctypes.POINTER(ctypes.c_ulong)]
        lib.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long,
                                   ctypes.POINTER(XEvent)]
        lib.XChangeProperty.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_ulong, ctypes.c_ulong,
                                        ctypes.c_int, ctypes.c_int, ctypes.c_char_p, ctypes.c_int]
        lib.XFree.argtypes = [ctypes.c_void_p]
        lib.XFlush.argtypes = [ctypes.c_void_p]
        lib.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]
        lib.XCloseDisplay.argtypes = [ctypes.c_void_p]
        # Errors about windows that vanished between listing and reading are
        # expected; without a handler Xlib would end this process.
        self.handler_type = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p, ctypes.c_void_p)
        self.handler = self.handler_type(lambda d, e: 0)
        lib.XSetErrorHandler(self.handler)
        self.dpy = lib.XOpenDisplay(display.encode())
        check(self.dpy, f"cannot open X display {display}")
        self.root = lib.XDefaultRootWindow(self.dpy)
        self.xtst = ctypes.CDLL(ctypes.util.find_library("Xtst") or "libXtst.so.6")
        self.xtst.XTestFakeButtonEvent.argtypes = [ctypes.c_void_p, ctypes.c_uint, ctypes.c_int, ctypes.c_ulong]
        self.xtst.XTestFakeMotionEvent.argtypes = [ctypes.c_void_p, ctypes.c_int, ctypes.c_int, ctypes.c_int,
                                                   ctypes.c_ulong]
        self.xtst.XTestFakeKeyEvent.argtypes = [ctypes.c_void_p, ctypes.c_uint, ctypes.c_int, ctypes.c_ulong]
        lib.XKeysymToKeycode.restype = ctypes.c_ubyte
        lib.XKeysymToKeycode.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
        lib.XGrabKeyboard.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_int, ctypes.c_int,
                                      ctypes.c_ulong]
        lib.XUngrabKeyboard.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
        lib.XGetImage.restype = ctypes.c_void_p
        lib.XGetImage.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_int, ctypes.c_uint,
                                  ctypes.c_uint, ctypes.c_ulong, ctypes.c_int]
        lib.XGetPixel.restype = ctypes.c_ulong
        lib.XGetPixel.argtypes = [ctypes.c_void_p, ctypes.c_int, ctypes.c_int]
        lib.XDestroyImage.argtypes = [ctypes.c_void_p]

    def picture(self, window):
        """The window's whole area as a Picture (24-bit TrueColor, 32 bits a
        pixel), or None while it cannot be read."""
        attrs = XWindowAttributes()
        if not self.lib.XGetWindowAttributes(self.dpy, window, ctypes.byref(attrs)):
            return None
        image = self.lib.XGetImage(self.dpy, window, 0, 0, attrs.width, attrs.height, 0xFFFFFFFF, 2)
        if not image:
            return None
        try:
            xi = XImage.from_address(image)
            check(xi.bits_per_pixel == 32 and xi.byte_order == 0, f"unexpected image format {xi.bits_per_pixel} bits")
            raw = ctypes.string_at(xi.data, xi.bytes_per_line * xi.height)
            row = xi.width * 4
            data = b"".join(raw[j * xi.bytes_per_line:j * xi.bytes_per_line + row] for j in range(xi.height))
            return Picture(xi.width, xi.height, data)
        finally:
            self.lib.XDestroyImage(image)

    def close(self):
        if self.dpy:
            self.lib.XCloseDisplay(self.dpy)
            self.dpy = None

    def atom(self, name):
        return self.lib.XInternAtom(self.dpy, name.encode(), 0)

    def property(self, window, name, kind=0):
        """(type atom, format, raw items) or None."""
        actual_type, actual_format = ctypes.c_ulong(), ctypes.c_int()
        nitems, after, data = ctypes.c_ulong(), ctypes.c_ulong(), ctypes.c_void_p()
        status = self.lib.XGetWindowProperty(self.dpy, window, self.atom(name), 0, 1 << 20, 0, kind,
                                             ctypes.byref(actual_type), ctypes.byref(actual_format),
                                             ctypes.byref(nitems), ctypes.byref(after), ctypes.byref(data))
        if status != 0 or not data.value:
            return None
        try:
            if actual_format.value == 8:
                items = ctypes.string_at(data.value, nitems.value)
            elif actual_format.value == 32:  # Xlib hands 32-bit items over as longs
                items = list((ctypes.c_long * nitems.value).from_address(data.value))
            else:
                items = None
        finally:
            self.lib.XFree(data)
        return (actual_type.value, actual_format.value, items)

    def name(self, window):
        for prop in ("_NET_WM_NAME", "WM_NAME"):
            value = self.property(window, prop)
            if value and isinstance(value[2], bytes):
                return value[2].decode("utf-8", "replace")
        return None

    def top_windows(self):
        root_ret, parent_ret = ctypes.c_ulong(), ctypes.c_ulong()
        children, n = ctypes.POINTER(ctypes.c_ulong)(), ctypes.c_uint()
        if not self.lib.XQueryTree(self.dpy, self.root, ctypes.byref(root_ret), ctypes.byref(parent_ret),
                                   ctypes.byref(children), ctypes.byref(n)):
            return []
        windows = [children[i] for i in range(n.value)]
        if children:
            self.lib.XFree(children)
        return windows

    def viewable(self, window):
        attrs = XWindowAttributes()
        if not self.lib.XGetWindowAttributes(self.dpy, window, ctypes.byref(attrs)):
            return False
        return attrs.map_state == IS_VIEWABLE

    def find(self, title):
        """Viewable top-level windows whose title is exactly `title`."""
        return [w for w in self.top_windows() if self.name(w) == title and self.viewable(w)]

    def geometry(self, window):
        """(x, y, width, height) of the client area in root coordinates."""
        attrs = XWindowAttributes()
        check(self.lib.XGetWindowAttributes(self.dpy, window, ctypes.byref(attrs)), "window vanished")
        x, y, child = ctypes.c_int(), ctypes.c_int(), ctypes.c_ulong()
        self.lib.XTranslateCoordinates(self.dpy, window, self.root, 0, 0, ctypes.byref(x), ctypes.byref(y),
                                       ctypes.byref(child))
        return (x.value, y.value, attrs.width, attrs.height)

    def request_close(self, window):
        """What a window manager sends for the close button: WM_DELETE_WINDOW."""
        event = XEvent()
        event.xclient.type = CLIENT_MESSAGE
        event.xclient.window = window
        event.xclient.message_type = self.atom("WM_PROTOCOLS")
        event.xclient.format = 32
        event.xclient.l[0] = self.atom("WM_DELETE_WINDOW")
        event.xclient.l[1] = 0  # CurrentTime
        self.lib.XSendEvent(self.dpy, window, 0, 0, ctypes.byref(event))
        self.lib.XFlush(self.dpy)

    def set_resources(self, text):
        """Replaces the server's resource database (the root window's
        RESOURCE_MANAGER, as `xrdb` sets it), read by clients that connect
        afterwards: "Xft.dpi:\t192\n"."""
        data = text.encode()
        self.lib.XChangeProperty(self.dpy, self.root, 23, 31, 8, 0, data, len(data))  # RESOURCE_MANAGER, STRING
        self.lib.XSync(self.dpy, 0)

    def fake_button(self, button, press):
        self.xtst.XTestFakeButtonEvent(self.dpy, button, 1 if press else 0, 0)
        self.lib.XFlush(self.dpy)

    def keycode(self, keysym):
        """The key that carries `keysym` (0x7A: XK_z)."""
        return self.lib.XKeysymToKeycode(self.dpy, keysym)

    def fake_key(self, keycode, press):
        self.xtst.XTestFakeKeyEvent(self.dpy, keycode, 1 if press else 0, 0)
        self.lib.XFlush(self.dpy)

    def grab_keyboard(self):
        """Takes the keyboard from every other client, as a menu or a screen
        locker does; whether the server granted it."""
        granted = self.lib.XGrabKeyboard(self.dpy, self.root, 0, 1, 1, 0) == 0  # GrabModeAsync, CurrentTime
        self.lib.XSync(self.dpy, 0)
        return granted

    def ungrab_keyboard(self):
        self.lib.XUngrabKeyboard(self.dpy, 0)
        self.lib.XSync(self.dpy, 0)

    def fake_motion(self, x, y):
        """Moves the pointer to (x, y) in root coordinates."""
        self.xtst.XTestFakeMotionEvent(self.dpy, -1, x, y, 0)
        self.lib.XFlush(self.dpy)

    def pixels(self, window, points):
        """{(x, y): 0xRRGGBB} read from the server's copy of the window's
        client area (window coordinates, 24-bit TrueColor), or None while the
        window cannot be read (not yet mapped, gone). No screenshot file."""
        xs, ys = [p[0] for p in points], [p[1] for p in points]
        x0, y0 = min(xs), min(ys)
        image = self.lib.XGetImage(self.dpy, window, x0, y0, max(xs) - x0 + 1, max(ys) - y0 + 1,
                                   0xFFFFFFFF, 2)  # AllPlanes, ZPixmap
        if not image:
            return None
        try:
            return {p: self.lib.XGetPixel(image, p[0] - x0, p[1] - y0) & 0xFFFFFF for p in points}
        finally:
            self.lib.XDestroyImage(image)


def start_x_server(procs, args, what, timeout):
    """Starts the X server `args` (without -displayfd, which is added: the
    server picks a free display and says which); returns ':N'."""
    read_fd, write_fd = os.pipe()
    procs.start([*args, "-displayfd", str(write_fd)], pass_fds=(write_fd,), stdout=subprocess.DEVNULL,
                stderr=subprocess.DEVNULL)
    os.close(write_fd)
    text = b""
    deadline = time.monotonic() + timeout
    while not text.endswith(b"\n"):
        remaining = deadline - time.monotonic()
        check(remaining > 0, f"{what} did not report its display")
        ready, _, _ = select.select([read_fd], [], [], remaining)
        if ready:
            chunk = os.read(read_fd, 64)
            check(chunk, f"{what} exited before reporting its display")
            text += chunk
    os.close(read_fd)
    return ":" + text.decode().strip()


def start_xvfb(procs, screen="1024x768x24", font_path=None):
    """Starts Xvfb on a display it picks itself; returns ':N'."""
    args = ["Xvfb", "-screen", "0", screen, "-nolisten", "tcp"]
    if font_path:
        args += ["-fp", font_path]
    return start_x_server(procs, args, "Xvfb", 15)


def start_xorg(procs, work, config, command=("Xorg",)):
    """Starts Xorg (`command`: the server and the options that come first)
    with the configuration text `config`, its files in the folder `work`;
    returns ':N'. -noreset: with udevd running, a server that reset when its
    last client left hung at the next SIGTERM."""
    conf = os.path.join(work, "xorg.conf")
    with open(conf, "w") as f:
        f.write(config)
    xlog = os.path.join(work, "Xorg.log")
    args = [*command, "-config", conf, "-logfile", xlog, "-nolisten", "tcp", "-noreset"]
    return start_x_server(procs, args, f"Xorg (see {xlog})", 20)
