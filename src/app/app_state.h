// Application state, the millisecond clock and the redraw tick.
#pragma once
#include <atomic>
#include <cstdint>

#include "app/key_map.h"
#include "midi/device_table.h"
#include "panel/panel.h"

constexpr uint32_t REDRAW_PRESENT = 1;
constexpr uint32_t REDRAW_FULL = 2;

struct AppState {
    void* window = nullptr;
    int32_t left_held = 0;
    int32_t right_held = 0;
    int wheel_step = 1;  // 10 while the middle button is held
    // Written only by clock_callback, whose calls never overlap; read by the
    // window thread. Nothing else is published with it, so relaxed order
    // suffices.
    std::atomic<uint32_t> clock_ms{0};
    uint32_t redraw_flags = 0;  // window thread only
    DeviceTable devices;

    uint32_t clock_last_time = 0;     // clock_callback only: last platform time seen
    int32_t last_tick = 0;            // window thread only: clock value of the last tick
    bool own_capture_change = false;  // window thread: our own capture call is in progress
    // How the switches start: all on, unless a session saved them otherwise.
    bool start_enable[PORT_COUNT] = {true, true, true};
    // Window pixels per panel pixel, each way (--scale); what both window
    // layers' presenting and pointer translation use. With --scale auto it
    // follows the display's DPI.
    int scale = 1;
    bool scale_auto = false;

    // Window thread only. --keys: the computer keyboard plays the panel.
    bool play_keys = false;
    bool key_down[POS_COUNT] = {};  // mapped keys (and Escape) held down, by place
    // Each finger on the window: the platform's id for it, and the key it
    // holds (-1 once it slid off or landed on none).
    struct Finger {
        bool down = false;
        int64_t id = 0;
        int key = -1;
    };
    Finger fingers[FINGER_SLOTS];
};

extern AppState g_app;

void mark_dirty(uint32_t bits);
// Runs about every millisecond on the clock's thread. A window layer that
// parks that thread may run it on another to catch up, never while a call
// is in progress.
void clock_callback();
// Runs on the window thread for every window-timer message.
void on_tick();
// Window thread. False while a tick would find nothing to do: no redraw asked
// for. Such a tick draws, sends and changes nothing anyone sees, a held
// button or not (a drag sends when it happens and asks for a redraw only when
// it released a key), so a
// window layer may leave its timers and the clock asleep until this turns
// true again. A redraw asked for waits for the clock's 10 ms gate, so the
// clock must run until it has ticked.
bool tick_wanted();
