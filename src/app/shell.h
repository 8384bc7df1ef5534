// What each window message causes, written once for every platform layer.
// All handlers run on the window thread.
#pragma once
#include <cstdint>
#include <string>

#include "app/key_map.h"

constexpr int WINDOW_TIMER_MS = 2;
constexpr int START_FILL_COLOR = 190;

// Start-up and tear-down of the main window. shell_create returns false when
// the frame buffer could not be made; the window must then not be shown.
bool shell_create(void* window);
void shell_destroy();

// Pointer words: x in the low 16 bits, y in the high 16, each unsigned; a
// value above 32767 (left of or above the client area under capture) counts 0.
void shell_mouse_move(uint32_t position);
void shell_left_down(uint32_t position);
void shell_left_up();
void shell_right_down(uint32_t position);
void shell_right_up();
void shell_middle_down();
void shell_middle_up();
// Signed wheel delta: negative is rolled toward the user (step +, note 114).
void shell_wheel(int32_t delta);
// The keys the panel answers. Each platform layer translates its own key codes
// into these at its edge. The values are the Windows virtual-key numbers, so
// the Win32 layer's translation is a range check; any other value is a key
// the panel ignores.
enum KeyCode : int {
    KEY_NONE = 0,
    KEY_BACKSPACE = 8,
    KEY_ENTER = 13,
    KEY_ESCAPE = 27,
    KEY_UP = 38,
    KEY_DOWN = 40,
    KEY_DELETE = 46,
    KEY_DIGIT_0 = 48,  // main row, through KEY_DIGIT_9
    KEY_DIGIT_9 = 57,
    KEY_KEYPAD_0 = 96,  // number pad, through KEY_KEYPAD_9
    KEY_KEYPAD_9 = 105,
};
void shell_key_down(KeyCode key);
// The computer keyboard, each key by place as well as by KeyCode. Without
// --keys a press does only what shell_key_down does, and a release nothing.
// With it a mapped key holds its panel key from its press to its release (a
// repeat sends nothing; `shift` matters to --velocity position), Escape lets
// go of every held key and sends All Notes Off, and any other key does what
// shell_key_down does.
void shell_key_pressed(KeyCode key, KeyPosition pos, bool repeat, bool shift);
void shell_key_released(KeyPosition pos);
// Touches, each finger by the platform's id, at a pointer word as for the
// mouse. A finger holds the key it lands on, as the left button does, until
// it lifts or slides off it; it never presses a key it slides onto. Landing
// on a port switch toggles it.
// `pressure` is 0..1 where the system measures it, negative where not.
void shell_touch_down(int64_t finger, uint32_t position, float pressure);
void shell_touch_move(int64_t finger, uint32_t position);
void shell_touch_up(int64_t finger);
// No release will come for anything held now (focus lost, window hidden or
// minimised, keyboard grabbed by another window, touches cancelled): every
// key the mouse, a finger or the keyboard holds is let go, its 0 sent once.
void shell_release_all();
// Posts EV_SET_CURSOR before the platform sets its own cursor; returns the
// event code, which no platform reads.
int shell_set_cursor();
void shell_timer();
// Capture or focus taken away while a button is held: no release will come,
// so the held left button is released here.
void shell_capture_lost();

// Window thread: takes the MIDI input waiting in the input ring and lights or
// puts out the keys it names; a change is drawn at the next tick. Sends
// nothing. Platform layers call it when the ring's writer woke them.
void shell_midi_input();

// Packs a platform pointer position into a pointer word; coordinates beyond
// the 16-bit range are clamped so they stay outside every key.
uint32_t pack_pointer(int x, int y);
// The scale the command line asks for (SCALE_AUTO: 1 until the display's DPI
// is known); the window layers then place the panel through app/view.h.
void shell_set_scale(int option_scale);

// Outer window size: the smaller of the screen's usable area and 910 x 550.
void window_size(int screen_w, int screen_h, int* w, int* h);

// The display a window of this process goes to, as the running-copy marker
// names it (one copy per user and display): an X display as ":N" or
// "host:N" (the screen number and a "unix" host left out, so ":0.0" is
// ":0"), a Wayland display by its socket's name ("wayland-0", the default
// socket, when none is set). X comes first unless `video_driver` asks for
// Wayland, as SDL chooses; '/' becomes '_'.
std::string instance_display_name(const char* x_display, const char* wayland_display, const char* video_driver);

// The program: single-instance check, window, show, loop.
// Returns the process exit status: the loop's quit code (0); 1 for a second
// copy that only showed its message box; 2 when the window could not be made.
int run_entry();
// What main/WinMain call after any platform initialisation of their own: the
// fonts are made first and released only after the loop has ended.
int run_program();

constexpr int EXIT_SECOND_COPY = 1;  // run_entry's status after the box of a second copy

constexpr const char* APP_TITLE = "ZORVE_BUTTON";
// The second copy's box caption: the window class's name, as users know it.
constexpr const char* SECOND_INSTANCE_CAPTION = "PC_ZORVE";
// Spelt so on purpose: users and scripts know the box by this exact text.
constexpr const char* SECOND_INSTANCE_TEXT = "Proram still running?";
