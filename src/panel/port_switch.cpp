// Output-port switches: each toggles its port_enable flag in the Panel and
// shows its state beside the name of its output device.
#include "panel/panel.h"
#include "render/frame_buffer.h"
#include "render/primitives.h"
#include "render/render_context.h"

namespace {

constexpr int SWITCH_X = 10, SWITCH_W = 35, SWITCH_H = 16;
constexpr int SWITCH_PITCH = 18;
constexpr int BOX_TOP = 376;   // drawn box of switch 1
constexpr int HIT_OFFSET = 2;  // the hit rectangle sits 2 px below the drawn box
constexpr int ON_X = 17, OFF_X = 14, NAME_X = 50;
constexpr int STATE_FONT = 6, NAME_FONT = 2;
constexpr int NAME_ROWS = 1 + 16;  // drawn one row down, in a 16-pixel cell

int box_top(int port) { return BOX_TOP + SWITCH_PITCH * (port - 1); }

}  // namespace

bool port_switch_exists(int port) { return g_panel.devices->output_count > port; }

Rect port_switch_hit_rect(int port) { return {SWITCH_X, box_top(port) + HIT_OFFSET, SWITCH_W, SWITCH_H}; }

bool toggle_port_switch_at(Point p) {
    for (int port = 1; port <= PORT_COUNT; ++port) {
        if (!port_switch_exists(port) || !rect_contains(port_switch_hit_rect(port), p)) continue;
        g_panel.port_enable[port - 1] = g_panel.port_enable[port - 1] ? 0 : 1;
        return true;
    }
    return false;
}

int port_switch_event(int port, int event, int /*arg*/) {
    if (!hit_test(event, port_switch_hit_rect(port))) return event;
    int16_t& enabled = g_panel.port_enable[port - 1];
    switch (event) {
        case EV_LEFT_DOWN: enabled = enabled ? 0 : 1; return 0;
        case EV_LEFT_UP: return 0;
        case EV_REDRAW: {
            // The name never changes: it is drawn with the whole panel only,
            // since drawing it again would blend it over itself.
            int16_t& shown = g_panel.shown_enable[port - 1];
            if (shown == enabled) return 0;
            RenderContext& rc = g_render;
            const int top = box_top(port);
            select_font(rc, STATE_FONT);
            fill_rect(rc, SWITCH_X, top, SWITCH_W, SWITCH_H, 0);
            if (enabled)
                draw_text(rc, ON_X, top, "ON", 255);
            else
                draw_text(rc, OFF_X, top, "OFF", 255);
            add_damage(rc, SWITCH_X, top, SWITCH_W, SWITCH_H);
            if (shown < 0) {
                select_font(rc, NAME_FONT);
                draw_text(rc, NAME_X, top + 1, g_panel.devices->output_name[port], 0);
                add_damage(rc, NAME_X, top, FB_WIDTH - NAME_X, NAME_ROWS);
            }
            shown = enabled;
            return 0;
        }
        default: return event;
    }
}
