// The page around the program (Emscripten's pre-js): the canvas and its
// listeners, Web MIDI access asked for before the program starts, the
// program's output lines on the page, and the coverage of browser-drawn
// text that text_canvas.cpp blends. What the listeners see goes to the
// web_* functions of input_web.cpp, untranslated but for pixels.
'use strict';

Module.zorvePage = (function () {
  const canvas = document.getElementById('panel');
  const context = canvas.getContext('2d', { alpha: false });
  const lineElement = document.getElementById('line');
  const textElement = document.getElementById('text');
  const page = {
    context: context,
    // Web MIDI as requestMIDIAccess() listed it; `failure` says why not.
    midi: { outputs: [], inputs: [], failure: '' },
  };

  // One line under the panel: the program's reports (stderr), last one kept.
  page.line = function (text) { lineElement.textContent = text; };
  // What the program was asked to print (help, version, the lists).
  page.print = function (text) { textElement.textContent += text + '\n'; };

  // The time to a drawn panel, and the mark a test waits for.
  page.shown = function () {
    document.documentElement.dataset.panel = 'drawn';
    page.shownAt = performance.now();
  };

  // Device pixels per panel pixel: `scale`; CSS pixels are what is left.
  page.sizeCanvas = function (scale) {
    const ratio = window.devicePixelRatio || 1;
    canvas.style.width = (910 * scale / ratio) + 'px';
    canvas.style.height = (550 * scale / ratio) + 'px';
  };

  // ------------------------------------------------------------ Web MIDI
  page.requestMidi = function () {
    const ready = function () {
      try { Module._web_midi_ready(); } catch (e) { if (e !== 'unwind') throw e; }
    };
    if (!navigator.requestMIDIAccess) {
      page.midi.failure = 'this browser has no Web MIDI';
      ready();
      return;
    }
    navigator.requestMIDIAccess({ sysex: false }).then(function (access) {
      page.midi.outputs = Array.from(access.outputs.values());
      page.midi.inputs = Array.from(access.inputs.values());
    }, function (error) {
      page.midi.failure = error && error.name === 'NotAllowedError' ? 'Web MIDI was not allowed'
        : 'Web MIDI failed (' + (error && error.name || error) + ')';
    }).then(ready);
  };

  // Short messages only, packed as the program packs them.
  page.listen = function (device) {
    const port = page.midi.inputs[device];
    if (!port) return false;
    port.onmidimessage = function (event) {
      const d = event.data;
      if (d.length === 0 || d[0] < 0x80 || d[0] === 0xF0) return;
      Module._web_midi_in((d[0] | (d[1] || 0) << 8 | (d[2] || 0) << 16) >>> 0);
    };
    return true;
  };

  // --------------------------------------------------------------- text
  const fonts = [null];  // by number; 0 is no font
  const scratch = document.createElement('canvas');
  scratch.width = 1024;
  scratch.height = 128;
  const ink = scratch.getContext('2d', { willReadFrequently: true });
  const covers = new Map();  // font + '\n' + text -> drawn coverage

  // Cell height as GDI takes it: positive, ascent + descent at the largest
  // whole em size that fits; negative, the em size itself.
  page.makeFont = function (family, height, width, weight) {
    ink.font = weight + ' 100px ' + family;
    const m = ink.measureText('H');
    const up = m.fontBoundingBoxAscent / 100, down = m.fontBoundingBoxDescent / 100;
    if (height === 0) height = 16;
    let ppem, ascent;
    if (height > 0) {
      ppem = Math.round(height / (up + down)) + 1;
      while (ppem > 1 && Math.round(up * ppem) + Math.round(down * ppem) > height) --ppem;
      ascent = Math.min(Math.round(up * ppem), height);
    } else {
      ppem = -height;
      ascent = Math.round(up * ppem);
      height = ascent + Math.round(down * ppem);
    }
    fonts.push({ css: weight + ' ' + ppem + 'px ' + family, ascent: ascent, cell: height, width: Math.abs(width), xscale: 1 });
    return fonts.length - 1;
  };

  page.advance = function (font, text) {
    ink.font = fonts[font].css;
    return ink.measureText(text).width;
  };

  page.setAverage = function (font, average) {
    const f = fonts[font];
    if (average > 0) f.xscale = f.width / Math.max(1, Math.round(average));
  };

  // The label's coverage: alpha of white text on transparent black, cut to
  // the pixels it touches; left and top relative to the cell's top-left.
  function coverOf(font, text) {
    const key = font + '\n' + text;
    let cover = covers.get(key);
    if (cover) return cover;
    const f = fonts[font];
    ink.font = f.css;
    const pad = f.cell;
    const w = Math.ceil(ink.measureText(text).width * f.xscale) + 2 * pad, h = f.cell + 2 * pad;
    if (scratch.width < w || scratch.height < h) {
      scratch.width = Math.max(scratch.width, w);
      scratch.height = Math.max(scratch.height, h);
    }
    ink.setTransform(1, 0, 0, 1, 0, 0);
    ink.clearRect(0, 0, w, h);
    ink.setTransform(f.xscale, 0, 0, 1, pad, pad);
    ink.font = f.css;
    ink.fillStyle = '#fff';
    ink.fillText(text, 0, f.ascent);
    const data = ink.getImageData(0, 0, w, h).data;
    let x0 = w, y0 = h, x1 = 0, y1 = 0;
    for (let y = 0; y < h; ++y)
      for (let x = 0; x < w; ++x)
        if (data[(y * w + x) * 4 + 3]) {
          x0 = Math.min(x0, x); x1 = Math.max(x1, x + 1);
          y0 = Math.min(y0, y); y1 = Math.max(y1, y + 1);
        }
    cover = { left: x0 - pad, top: y0 - pad, w: Math.max(0, x1 - x0), h: Math.max(0, y1 - y0) };
    cover.alpha = new Uint8Array(cover.w * cover.h);
    for (let y = 0; y < cover.h; ++y)
      for (let x = 0; x < cover.w; ++x) cover.alpha[y * cover.w + x] = data[((y + y0) * w + x + x0) * 4 + 3];
    covers.set(key, cover);
    return cover;
  }

  // Blends as the FreeType backend does: (c*a + d*(255-a) + 128) / 255 per
  // channel, clipped to the frame buffer. `box` gets the pixels it may change.
  // Where text was drawn, once per place and label: for the tests, which
  // compare the canvas with the Linux panel outside the text.
  const textPlaces = new Map();
  Object.defineProperty(page, 'textBoxes', { get: function () { return Array.from(textPlaces.values()); } });
  page.drawText = function (font, pixels, x, y, text, rgb, box) {
    const c = coverOf(font, text);
    const gx = x + c.left, gy = y + c.top;
    if (c.w) textPlaces.set(font + ' ' + x + ' ' + y + ' ' + text, [gx, gy, c.w, c.h]);
    HEAP32[(box >> 2) + 0] = c.w ? gx : x;
    HEAP32[(box >> 2) + 1] = c.w ? gy : y;
    HEAP32[(box >> 2) + 2] = c.w;
    HEAP32[(box >> 2) + 3] = c.w ? c.h : 0;
    const fb = HEAPU32.subarray(pixels >> 2, (pixels >> 2) + 910 * 550);
    const r = rgb >>> 16 & 255, g = rgb >>> 8 & 255, b = rgb & 255;
    for (let row = Math.max(0, -gy); row < c.h && gy + row < 550; ++row) {
      for (let col = Math.max(0, -gx); col < c.w && gx + col < 910; ++col) {
        const a = c.alpha[row * c.w + col];
        if (!a) continue;
        const i = (gy + row) * 910 + gx + col, d = fb[i], na = 255 - a;
        fb[i] = (((r * a + (d >>> 16 & 255) * na + 128) / 255) << 16 |
                 ((g * a + (d >>> 8 & 255) * na + 128) / 255) << 8 |
                 ((b * a + (d & 255) * na + 128) / 255)) >>> 0;
      }
    }
  };

  // ---------------------------------------------------------- listeners
  let pointerId = -1;  // the mouse pointer of the held button
  page.setCapture = function (on) {
    try {
      if (on && pointerId >= 0) canvas.setPointerCapture(pointerId);
      if (!on && pointerId >= 0 && canvas.hasPointerCapture(pointerId)) canvas.releasePointerCapture(pointerId);
    } catch (e) { /* the pointer is gone already */ }
  };

  const ratio = function () { return window.devicePixelRatio || 1; };
  const at = function (event) {
    const rect = canvas.getBoundingClientRect();
    return [Math.floor((event.clientX - rect.left) * ratio()), Math.floor((event.clientY - rect.top) * ratio())];
  };
  const mouse = function (event) { return event.pointerType === 'mouse'; };

  // The mouse's events go to web_mouse, every other pointer's (touch, pen)
  // to web_finger: the browser's mouse events made from touches are never
  // listened to, so no touch also comes as a click.
  const DOWN = 0, MOVE = 1, UP = 2;
  const pointer = function (step) {
    return function (event) {
      const p = at(event);
      if (mouse(event)) {
        if (step === DOWN) {
          canvas.focus();
          pointerId = event.pointerId;
        }
        Module._web_mouse(step, event.button, event.buttons, p[0], p[1]);
      } else {
        Module._web_finger(step, event.pointerId, p[0], p[1], event.pressure);
      }
      if (step === DOWN) event.preventDefault();
    };
  };
  canvas.addEventListener('pointerdown', pointer(DOWN));
  canvas.addEventListener('pointermove', pointer(MOVE));
  canvas.addEventListener('pointerup', pointer(UP));
  canvas.addEventListener('pointercancel', function (event) {
    if (!mouse(event)) Module._web_release_all();
  });
  // A capture taken away while the button is still down: no release comes.
  canvas.addEventListener('lostpointercapture', function (event) {
    if (mouse(event) && event.buttons) Module._web_capture_lost();
  });
  canvas.addEventListener('contextmenu', function (event) { event.preventDefault(); });

  // One step per event that moves 50 pixels or more (a mouse's notch is
  // 53 to 120, by system); a touchpad's finer scrolling adds up to it.
  let wheelRest = 0;
  canvas.addEventListener('wheel', function (event) {
    event.preventDefault();
    const unit = event.deltaMode === 1 ? 40 : event.deltaMode === 2 ? 800 : 1;
    wheelRest -= event.deltaY * unit;
    if (Math.abs(wheelRest) < 50) return;
    Module._web_wheel(wheelRest > 0 ? 1 : -1);
    wheelRest = 0;
  }, { passive: false });

  // With Ctrl, Alt or the system key held a key is the browser's; a
  // release always counts.
  const key = function (down) {
    return function (event) {
      if (down && (event.ctrlKey || event.altKey || event.metaKey)) return;
      const code = allocateUTF8(event.code);
      const taken = Module._web_key(code, down, event.repeat, event.shiftKey);
      _free(code);
      if (taken) event.preventDefault();
    };
  };
  window.addEventListener('keydown', key(true));
  window.addEventListener('keyup', key(false));
  window.addEventListener('blur', function () { Module._web_release_all(); });
  document.addEventListener('visibilitychange', function () {
    if (document.hidden) Module._web_release_all();
  });
  window.addEventListener('resize', function () { Module._web_refit(); });
  return page;
})();

Module.print = function (text) { Module.zorvePage.print(text); };
Module.printErr = function (text) { Module.zorvePage.line(text); };
