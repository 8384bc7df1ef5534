// What each window message causes, written once for every platform layer.
// All handlers run on the window thread.
#pragma once
#include <cstdint>

constexpr int WINDOW_TIMER_ID = 2;
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
// Virtual-key code with Windows numbering (digits 48-57, keypad 96-105, Enter
// 13, Backspace 8, Delete 46, Escape 27, Up 38, Down 40).
void shell_key_down(int vk);
// Returns the dispatch result, never 0: the platform then picks the cursor.
int shell_set_cursor();
void shell_timer();
// Capture or focus taken away while a button is held: no release will come,
// so the held left button is released here.
void shell_capture_lost();

// Packs a platform pointer position into a pointer word; coordinates beyond
// the 16-bit range are clamped so they stay outside every key.
uint32_t pack_pointer(int x, int y);

// Outer window size: the smaller of the screen's usable area and 910 x 550.
void window_size(int screen_w, int screen_h, int* w, int* h);

// The program: single-instance check, class, window, show, loop.
// Returns the process exit status: the loop's quit code (0); 1 for a second
// copy that only showed its message box; 2 when the window could not be made.
int run_entry();
// What main/WinMain call after any platform initialisation of their own: the
// fonts are made first and released only after the loop has ended.
int run_program();

constexpr const char* APP_TITLE = "ZORVE_BUTTON";
constexpr const char* APP_CLASS = "PC_ZORVE";
constexpr const char* SECOND_INSTANCE_TEXT = "Proram still running?";
