// Window-system contract used by the shell: the Win32 layer (main_win32.cpp),
// the SDL layer (its *_sdl.cpp files, with the running-copy marker in
// instance_unix_socket.cpp) and a recording double (tests/fakes). `window` is
// the opaque main-window handle.
#pragma once
#include <cstdint>

// Milliseconds since an arbitrary origin, wrapping at 2^32.
uint32_t platform_time_ms();
// Makes the window show the frame buffer now. `frame_changed` is false when
// nothing was drawn since the previous present; a layer whose copy is costly
// may then skip it unless the window itself needs repainting.
void platform_present(void* window, bool frame_changed);

void platform_capture_mouse(void* window);
void platform_release_capture();

// The window's periodic timer: shell_timer about every `interval_ms`.
void platform_start_window_timer(void* window, int interval_ms);
void platform_stop_window_timer(void* window);

// The 1 ms clock: the periodic callback on its own thread. After
// platform_stop_clock returns, no clock_callback runs.
void platform_start_clock();
void platform_stop_clock();

void platform_post_quit(int code);

// Entry services.
// True when another copy of the program already holds the single-instance
// marker; otherwise this process now holds it until it ends.
bool platform_other_instance_running();
void platform_release_instance_probe();  // the probe handle of a second start
void platform_message_box(const char* caption, const char* text);
// Usable client area of the screen for a full-screen window.
void platform_screen_size(int* width, int* height);
// Creates the main window with the given outer size; its creation runs
// shell_create. Null when it could not be created; `*refused` is then true
// when the window system turned the program away before any window existed
// (Windows: the window class was not registered).
void* platform_create_window(int width, int height, bool* refused);
void platform_show_window(void* window);
// Runs until the quit message; returns its code.
int platform_message_loop();
