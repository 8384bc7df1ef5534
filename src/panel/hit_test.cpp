// The hit test, on its own: the dispatcher's receivers all call it, and the
// dispatcher calls them.
#include "panel/panel.h"

bool hit_test(int event, const Rect& r) {
    if (!is_pointer_event(event)) return true;
    const auto [px, py] = g_panel.pointer;
    return px >= r.x && px < r.x + r.w && py >= r.y && py < r.y + r.h;
}
