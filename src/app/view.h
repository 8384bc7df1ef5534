// Where the panel sits in a window of any size, and which factor a window
// starts at: the arithmetic every platform layer's present and pointer
// share. The frame buffer and every hit rectangle stay in panel pixels;
// only the window sees window pixels.
#pragma once
#include <string>

#include "panel/key_table.h"

// The panel's place in the window's client area, in window pixels.
struct View {
    int x = 0, y = 0;  // the panel's top-left pixel
    int w = 0, h = 0;  // its size: FB_WIDTH x FB_HEIGHT times a factor
};

// The panel in a `window_w` x `window_h` client area: as large as fits with
// its aspect kept, each panel pixel a whole block at whole factors, centred
// in what is left over; never smaller than `min_scale` times the panel (a
// smaller window shows the top-left part, as on a screen smaller than it).
View view_for_window(int window_w, int window_h, int min_scale);

// Window point to panel point, rounding toward minus infinity, so that a
// point left of or above the panel stays outside it.
Point view_to_panel(const View& v, int x, int y);

// The window pixels that show panel rectangle `r`: exactly those whose
// view_to_panel lies inside `r`.
Rect view_to_window(const View& v, const Rect& r);

// The factor a window starts at, for --scale `asked` (1-4, or SCALE_AUTO)
// on a screen of `dpi` whose usable area is `usable_w` x `usable_h` window
// pixels. Auto takes the DPI's factor, or the largest smaller one whose
// window fits the area, at least 1. An asked factor is kept. `fits` says
// whether the window of that factor fits the area.
struct StartScale {
    int scale = 1;
    bool fits = true;
};
StartScale start_scale(int asked, int dpi, int usable_w, int usable_h);

// The one line a kept factor that does not fit is reported with.
std::string scale_too_large_text(int scale, int usable_w, int usable_h);
