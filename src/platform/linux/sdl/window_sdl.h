// What the SDL layer's files share: the layer's state, the calls between its
// files, the window icon, the X connection, and the message box that stands
// in where SDL's own cannot appear. SDL layer only.
#pragma once
#include <SDL.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "app/key_map.h"
#include "app/view.h"
#include "platform/linux/sdl/clock_linux.h"

// Everything the layer keeps between calls; window thread only, apart from
// the clock thread's own members.
struct SdlLayer {
    SDL_Window* window = nullptr;  // the main window; null before creation and after close
    SDL_Surface* frame = nullptr;  // a view of g_render.pixels, no copy of its own
    SDL_Cursor* arrow = nullptr;
    bool repaint = false;  // exposed or resized since the last present
    // The shell's mouse capture, from a press to the last release. SDL's
    // capture is taken only if the pointer leaves the window meanwhile (see
    // apply_capture).
    bool capture_wanted = false;
    bool captured = false;  // SDL's capture is on
    bool quit = false;
    int quit_code = 0;
    // The factor the window starts at is the shell's (g_app.scale); the
    // frame buffer and every hit rectangle stay in panel pixels.
    int min_scale = 1;    // a kept --scale larger than the screen: the panel never shrinks below it
    View view;            // the panel's place in the window as it is now sized (update_view)
    bool on_top = false;  // --on-top

    std::vector<std::string> option_words;  // what a session saves: the options the program runs with

    bool timer_on = false;  // the window timer
    uint64_t timer_period_ns = 0;
    uint64_t timer_due_ns = 0;  // CLOCK_MONOTONIC

    int x11_fd = -1;  // the X connection, when SDL runs on X11

    std::thread clock_thread;
    ClockGate clock_gate;

    // Wake-ups from other threads (MIDI input, the session manager): an
    // eventfd the unlimited wait polls beside the X connection, and an SDL
    // event for the other drivers' waits. `on_wake` runs on this thread.
    std::atomic<bool> wake_pending{false};  // set by wakers, cleared by the loop
    int wake_fd = -1;
    uint32_t wake_event = 0;  // 0 until SDL has started
    void (*on_wake)() = nullptr;
};

extern SdlLayer g_sdl;

// Start-up, exposure and resizing: shows the whole frame buffer now, as a
// window that has nothing of it needs (present_sdl.cpp).
void present_now();

// Places the panel in the window as it is now sized; at creation and after
// every resize, before the present (present_sdl.cpp).
void update_view();

// Makes the image of `window` in shared memory and puts its pages in place
// now rather than at the first present (present_sdl.cpp).
void prefault_window_image(SDL_Window* window);

// Hands one SDL event to the shell (input_sdl.cpp); apply_capture after each
// event, before the next one is read.
void translate_event(const SDL_Event& e);
void apply_capture();
// Window pixels to a pointer word in panel pixels (input_sdl.cpp).
uint32_t panel_pointer(int x, int y);

// Playing (play_sdl.cpp): the hints that keep touches from arriving as
// mouse events too (before SDL_Init), keys by place, and touches.
void set_touch_hints();
KeyPosition key_position(SDL_Scancode code);
void translate_touch(const SDL_TouchFingerEvent& e);

// True for the X event that says another client grabbed the keyboard away
// from the focused window; SDL itself passes such focus changes over.
bool x11_keyboard_grabbed_away(const SDL_SysWMmsg& msg);

// Wake-ups (event_loop_sdl.cpp). start_wakeups makes the eventfd, before any
// thread that wakes starts; wake_window_thread may be called on any thread,
// as often as it likes: only the first call since the loop last took a
// wake-up writes the eventfd (and, off X11 once SDL runs, pushes an event).
// It never blocks. The loop then calls g_sdl.on_wake.
void start_wakeups();
void wake_window_thread();

// Gives `window` the program's icon; leaves it as it is when that fails.
void set_program_icon(SDL_Window* window);

// The file descriptor of the X connection `window` lives on; -1 when SDL
// does not run on X11. Apart because Xlib's names clash with the shell's.
int x11_connection_fd(SDL_Window* window);

// Xft.dpi from the X resources of the display `window` lives on (what the
// server's RESOURCE_MANAGER held when SDL connected), rounded; 0 when it is
// not set or SDL does not run on X11.
int x11_resource_dpi(SDL_Window* window);

// A modal box with `text` and an OK button, drawn with the program's own text
// backend (SDL's X11 box needs core X fonts, which Xvfb and many Wayland
// desktops lack). Returns when OK is clicked, Enter, Space or Escape is
// pressed, or the box is closed; false when it could not be shown at all.
bool run_own_box(const char* caption, const char* text);

// Why no display can be reached, or "" when one may be (display_sdl.cpp).
std::string display_missing();
