// The front panel: its one object, the dispatcher and the receivers it calls.
// Everything here runs on the window thread only.
#pragma once
#include <cstdint>

#include "midi/device_table.h"
#include "panel/events.h"
#include "panel/key_table.h"

struct Panel {
    int16_t pressed[KEY_COUNT] = {};       // 0 released, 1 pressed
    int16_t port_enable[PORT_COUNT] = {};  // index n-1 for output port n; set on at window creation
    // Stored by the shell: the last pointer position in frame-buffer pixels,
    // 0..32767 each, that hit_test tests against.
    Point pointer{0, 0};
    // The devices of this run, handed over by the shell once it has opened
    // them: the switches show their names, the keys send through them.
    const DeviceTable* devices = &NO_DEVICES;
    // Ored into the status of everything the panel sends: channel 1..16 as
    // 0..15. Set once by the shell before the window exists.
    uint8_t channel = 0;
    // Keys lit by MIDI input (--show-input): 1 while the last message for the
    // key had a non-zero value. A key looks pressed while it is pressed or lit;
    // neither changes the other, and only `pressed` sends.
    bool lit[KEY_COUNT] = {};
    // What else than the mouse (whose flag is `pressed`) holds each key: the
    // computer keyboard and each finger, one HOLD_ bit each. A key sends its
    // on-value when the first of the mouse and these takes it and its 0
    // when the last lets go; with none of them, `pressed` alone decides.
    uint32_t holders[KEY_COUNT] = {};
    // The on-value of every press (--velocity N), or, with
    // velocity_from_position, taken from where a press lands in the key.
    uint8_t velocity = 127;
    bool velocity_from_position = false;
    // What the frame buffer shows, so that EV_REDRAW repaints only the keys
    // and switches whose look changed: each one's flag as last drawn, -1 for
    // not drawn. Valid only while `shown` is set; until then EV_REDRAW draws
    // the whole panel.
    bool shown = false;
    int16_t shown_pressed[KEY_COUNT] = {};
    int16_t shown_enable[PORT_COUNT] = {};
    Rect shown_ink[KEY_COUNT] = {};  // each key's ink as last drawn (draw_key)
};

extern Panel g_panel;

// The frame buffer no longer holds the panel (new, or painted over by
// someone else): the next EV_REDRAW draws all of it.
void forget_panel_drawing();

// Hands one event to dispatch; returns the event code unchanged.
int post_event(int event, int arg);
void dispatch(int event, int arg);

// A short message from an input device, any channel: a Note On, Note Off or
// Control Change whose kind and number match a key lights it (non-zero value)
// or puts it out (zero, or any Note Off). True when a key's look may have
// changed; other messages change nothing.
bool light_from_input(uint32_t message);

// Holders of a key besides the mouse.
constexpr int FINGER_SLOTS = 16;  // touches held at once; a further one is ignored
// The computer keyboard is one holder: the map gives a panel key one computer key.
constexpr uint32_t HOLD_KEYBOARD = 1;
constexpr uint32_t hold_finger(int slot) { return 2u << slot; }
constexpr uint32_t HOLD_ANY = ~0u;

// `source` (a HOLD_ bit) takes or lets go of `key`. The key's message goes
// out only when that changes whether anything holds it: value `velocity`
// for the first holder, 0 after the last. Taking a key twice, or letting go
// of a key not held, sends nothing.
void hold_key(int key, uint32_t source, int velocity);
void let_go_key(int key, uint32_t source);
// Every key held by any of `sources`, and with `mouse` the mouse's too, is
// let go; each sends its 0 once, when nothing holds it any more.
void let_go_all(uint32_t sources, bool mouse);
// All Notes Off on the panel's channel, to every enabled port and the panel port.
void send_all_notes_off();
// The key under `p`, or -1.
int key_at(Point p);
// The on-value of a press at `p` inside `key`: --velocity N, or with
// velocity_from_position 1 at the key's top row rising evenly to 127 at
// its bottom row.
int press_velocity(int key, Point p);

// Pointer-tested events: inside when x <= px < x+w and y <= py < y+h at the
// pointer position stored in the Panel. Every other event is inside every rectangle.
bool hit_test(int event, const Rect& r);
// Left and top edges inside, right and bottom edges outside.
bool rect_contains(const Rect& r, Point p);

// Receivers, each (event, arg) -> 0 when handled, else the event code.
int key_event(int key, int event, int arg);  // key: index into KeyTable
int background_event(int event, int arg);
int port_switch_event(int port, int event, int arg);  // port = 1..3

// Switch `port` exists when more than `port` output devices were counted.
bool port_switch_exists(int port);

// Hit rectangle of switch `port` (1..3); the drawn box sits 2 px higher.
Rect port_switch_hit_rect(int port);
// A press at `p` that is no pointer event (a touch): toggles the switch
// there, if one exists there; true when it did.
bool toggle_port_switch_at(Point p);
