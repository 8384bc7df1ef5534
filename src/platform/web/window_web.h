// Inside the browser platform layer: its one state struct and what its files
// share. The page's own script (page.js) owns the canvas and its listeners;
// these files are what it calls and what calls it. Main thread only: a page
// has no other.
#pragma once
#include <string>
#include <vector>

#include "app/view.h"

struct WebLayer {
    // The panel's place in the canvas's device pixels: whole blocks of
    // `scale` x `scale` (the canvas holds panel pixels; the page sizes it).
    View view;
    int asked_scale = 0;             // --scale: SCALE_AUTO or 1-4
    bool timer_on = false;           // between the shell's start and stop of the window timer
    bool timer_pending = false;      // a page timeout is set
    bool panel_shown = false;        // the first full redraw has been put on the canvas
    std::vector<std::string> words;  // the command line the URL stands for, program name first
};

extern WebLayer g_web;

// Runs the window timer again if the shell wants a tick and none is set:
// after every input, a MIDI message or a timer of its own.
void wake_web_timer();
// The canvas's size and the view for the device's pixel ratio now.
void fit_canvas();
