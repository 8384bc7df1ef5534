// The hit test, on its own: the dispatcher's receivers all call it, and the
// dispatcher calls them.
#include "panel/panel.h"

bool rect_contains(const Rect& r, Point p) { return p.x >= r.x && p.x < r.x + r.w && p.y >= r.y && p.y < r.y + r.h; }

bool hit_test(int event, const Rect& r) { return !is_pointer_event(event) || rect_contains(r, g_panel.pointer); }
