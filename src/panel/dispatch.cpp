// The dispatcher, the data wheel and the key behaviour, with the holders
// other than the mouse.
#include <algorithm>

#include "midi/device_table.h"
#include "panel/draw.h"
#include "panel/panel.h"
#include "render/render_context.h"

Panel g_panel;

namespace {

constexpr int WHEEL_UP_NOTE = 114;    // positive step: rolled toward the user, Up arrow
constexpr int WHEEL_DOWN_NOTE = 115;  // negative step: rolled away, Down arrow

void send(int status, int data1, int data2) {
    send_to_ports(*g_panel.devices, g_panel.port_enable, status | g_panel.channel, data1, data2);
}

// One event gives one on/off pair whatever the size of the step.
void wheel_event(int arg) {
    if (arg == 0) return;
    const int note = arg > 0 ? WHEEL_UP_NOTE : WHEEL_DOWN_NOTE;
    send(STATUS_NOTE_ON, note, 127);
    send(STATUS_NOTE_ON, note, 0);
}

}  // namespace

int post_event(int event, int arg) {
    dispatch(event, arg);
    return event;
}

void dispatch(int event, int arg) {
    // The background paints first so keys and switches always draw over it
    // (and, on the first redraw, tells them all to draw);
    // keys go in table order, which decides the order of MIDI messages when
    // one event concerns two keys (a new press and the old key's release).
    background_event(event, arg);
    if (event == EV_WHEEL) {
        wheel_event(arg);
        return;
    }
    for (int key = 0; key < KEY_COUNT; ++key) key_event(key, event, arg);
    for (int port = 1; port <= PORT_COUNT; ++port) {
        if (port_switch_exists(port)) port_switch_event(port, event, arg);
    }
}

bool light_from_input(uint32_t message) {
    const unsigned kind = message & 0xF0, number = (message >> 8) & 0xFF, value = (message >> 16) & 0xFF;
    if (kind != 0x80 && kind != STATUS_NOTE_ON && kind != STATUS_CONTROL_CHANGE) return false;
    const unsigned matches = kind == 0x80 ? STATUS_NOTE_ON : kind;
    const bool on = kind != 0x80 && value != 0;
    bool changed = false;
    for (int key = 0; key < KEY_COUNT; ++key) {
        if (KeyTable[key].status != matches || KeyTable[key].number != number || g_panel.lit[key] == on) continue;
        g_panel.lit[key] = on;
        changed = true;
    }
    return changed;
}

int key_event(int key, int event, int /*arg*/) {
    const PanelKey& entry = KeyTable[key];
    int16_t& pressed = g_panel.pressed[key];
    // The flag is always written before the message goes out.
    if (!hit_test(event, entry.rect)) {
        if (pressed == 1) {
            pressed = 0;
            if (!g_panel.holders[key]) send(entry.status, entry.number, 0);
        }
        return event;
    }
    switch (event) {
        case EV_LEFT_DOWN:
            pressed = 1;
            // Already sounding for another holder: the mouse joins it.
            if (!g_panel.holders[key]) send(entry.status, entry.number, press_velocity(key, g_panel.pointer));
            return 0;
        case EV_LEFT_UP:
            // Sent even when not pressed: a press outside, a slide on and a
            // release here still ends with this key's value 0.
            pressed = 0;
            if (!g_panel.holders[key]) send(entry.status, entry.number, 0);
            return 0;
        case EV_REDRAW: {
            const int16_t look = pressed || g_panel.holders[key] || g_panel.lit[key] ? 1 : 0;
            if (g_panel.shown_pressed[key] != look) {
                Rect& ink = g_panel.shown_ink[key];
                ink = g_panel.shown_pressed[key] < 0 ? draw_key(g_render, entry, look)
                                                     : redraw_key(g_render, entry, look, ink);
                g_panel.shown_pressed[key] = look;
            }
            return 0;
        }
        default: return event;
    }
}

// ----------------------------------------------- holders besides the mouse

void hold_key(int key, uint32_t source, int velocity) {
    uint32_t& holders = g_panel.holders[key];
    if (holders & source) return;
    const bool sounding = holders || g_panel.pressed[key];
    holders |= source;
    if (!sounding) send(KeyTable[key].status, KeyTable[key].number, velocity);
}

void let_go_key(int key, uint32_t source) {
    uint32_t& holders = g_panel.holders[key];
    if (!(holders & source)) return;
    holders &= ~source;
    if (!holders && !g_panel.pressed[key]) send(KeyTable[key].status, KeyTable[key].number, 0);
}

void let_go_all(uint32_t sources, bool mouse) {
    for (int key = 0; key < KEY_COUNT; ++key) {
        const bool held = g_panel.holders[key] || g_panel.pressed[key];
        g_panel.holders[key] &= ~sources;
        if (mouse) g_panel.pressed[key] = 0;
        if (held && !g_panel.holders[key] && !g_panel.pressed[key]) send(KeyTable[key].status, KeyTable[key].number, 0);
    }
}

void send_all_notes_off() { send(STATUS_CONTROL_CHANGE, 123, 0); }

int key_at(Point p) {
    for (int key = 0; key < KEY_COUNT; ++key)
        if (rect_contains(KeyTable[key].rect, p)) return key;
    return -1;
}

int press_velocity(int key, Point p) {
    if (!g_panel.velocity_from_position) return g_panel.velocity;
    const Rect& r = KeyTable[key].rect;
    const int row = std::clamp(p.y - r.y, 0, r.h - 1);
    return 1 + (row * 126 + (r.h - 1) / 2) / (r.h - 1);
}
