// Window-system contract (app/platform.h), entry services and the program
// entry with SDL2 on X11 or Wayland: the main window and its start-up, the
// message box, and an abstract Unix socket as the single-instance marker.
// One main window. Presenting, input and the event loop are in their own
// files (present_sdl.cpp, input_sdl.cpp, event_loop_sdl.cpp).
#include <SDL.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/options.h"
#include "app/platform.h"
#include "app/shell.h"
#include "app/window_sdl.h"
#include "base/program.h"
#include "midi/ports_linux.h"
#include "render/frame_buffer.h"
#include "render/text_freetype.h"

SdlLayer g_sdl;

// -------------------------------------------------------------- entry services

// Asked once, early in main; later calls give the same answer.
bool platform_other_instance_running() {
    if (g_sdl.instance_asked) return g_sdl.other_instance;
    g_sdl.instance_asked = true;
    // Abstract namespace: nothing on disk, and the name goes when the process
    // does, however it ends. One marker per user.
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    const int n = std::snprintf(addr.sun_path + 1, sizeof addr.sun_path - 1, "%s-%u", APP_CLASS, unsigned(getuid()));
    const socklen_t len = socklen_t(offsetof(sockaddr_un, sun_path) + 1 + size_t(n));
    g_sdl.instance_socket = fd;
    if (bind(fd, reinterpret_cast<const sockaddr*>(&addr), len) == 0) return false;
    g_sdl.other_instance = errno == EADDRINUSE;
    return g_sdl.other_instance;
}

void platform_release_instance_probe() {
    if (g_sdl.instance_socket >= 0) close(g_sdl.instance_socket);
    g_sdl.instance_socket = -1;
}

void platform_message_box(const char* caption, const char* text) {
    if (SDL_ShowSimpleMessageBox(0, caption, text, nullptr) == 0) return;
    if (run_own_box(caption, text)) return;
    // No box at all: the text still reaches a terminal, under the box's caption.
    std::fprintf(stderr, "%s: %s\n", caption, text);
}

// In panel pixels: with a scale the window is that many times larger.
void platform_screen_size(int* width, int* height) {
    SDL_Rect usable{0, 0, FB_WIDTH * g_sdl.scale, FB_HEIGHT * g_sdl.scale};
    SDL_GetDisplayUsableBounds(0, &usable);
    *width = usable.w / g_sdl.scale;
    *height = usable.h / g_sdl.scale;
}

// SDL has no window classes; what stands in for one is a working video system.
bool platform_register_class() { return SDL_WasInit(SDL_INIT_VIDEO) != 0; }

// The size is the client area's, in panel pixels: SDL does not own the frame
// decorations.
void* platform_create_window(int width, int height) {
    g_sdl.window = SDL_CreateWindow(APP_TITLE, 0, 0, width * g_sdl.scale, height * g_sdl.scale,
                                    SDL_WINDOW_HIDDEN | SDL_WINDOW_RESIZABLE);
    if (!g_sdl.window) return nullptr;
    set_program_icon(g_sdl.window);
    g_sdl.x11_fd = x11_connection_fd(g_sdl.window);
    // The window's image in shared memory is made, and its pages put in
    // place, now rather than at the first present: the MIDI system may still
    // be starting, and the shell waits for it next.
    prefault_window_image(g_sdl.window);
    if (!shell_create(g_sdl.window)) {
        SDL_DestroyWindow(g_sdl.window);
        g_sdl.window = nullptr;
        return nullptr;
    }
    return g_sdl.window;
}

void platform_show_window(void* window) {
    SDL_ShowWindow(static_cast<SDL_Window*>(window));
    present_now();
}

// ------------------------------------------------------------- window services

void platform_load_arrow_cursor() {
    if (!g_sdl.arrow) g_sdl.arrow = SDL_CreateSystemCursor(SDL_SYSTEM_CURSOR_ARROW);
}

void platform_set_arrow_cursor() {
    if (g_sdl.arrow) SDL_SetCursor(g_sdl.arrow);
}

// SDL delivers drops to every window; they are freed unread.
void platform_accept_drops(void*) { SDL_EventState(SDL_DROPFILE, SDL_ENABLE); }

// clock_nanosleep already sleeps to the microsecond: nothing to raise.
void platform_begin_timer_resolution() {}
void platform_end_timer_resolution() {}

// ------------------------------------------------------------------------ main

int main(int argc, char** argv) {
    // Help, version, the device list and wrong options need no display.
    ProgramOptions options;
    if (const int status = handle_command_line(argc, argv, OPTIONS_LINUX, options); status >= 0) {
        midi_end_system();  // the device list's client
        return status;
    }
    g_sdl.scale = options.scale;
    // SDL's input-method probe asks the session bus; where none is set up,
    // libdbus would start one through dbus-launch (a fork and a wait) only to
    // find no input method. The panel takes no text. Set before any thread
    // starts: setenv races with getenv elsewhere.
    if (!std::getenv("DBUS_SESSION_BUS_ADDRESS")) setenv("DBUS_SESSION_BUS_ADDRESS", "disabled:", 0);
    // For the same reason, Xlib's input method need not read a compose table
    // (thousands of lines, a character at a time, ~20 ms here) at SDL_Init.
    setenv("XCOMPOSEFILE", "/dev/null", 0);
    // Fontconfig loads its configuration, and the MIDI system its client,
    // while SDL connects to the display. A second copy, which only says so
    // and ends, leaves no client of its own in the patchbay.
    text_begin_font_lookup();
    if (!platform_other_instance_running()) midi_begin_choice();
    // A control surface should not keep the screen awake.
    SDL_SetHint(SDL_HINT_VIDEO_ALLOW_SCREENSAVER, "1");
    SDL_SetHint(SDL_HINT_MOUSE_FOCUS_CLICKTHROUGH, "1");
    // The shell captures the mouse itself; SDL's own capture would come
    // first, inside the event pump, and hold the press's MIDI back by its X
    // round trips.
    SDL_SetHint(SDL_HINT_MOUSE_AUTO_CAPTURE, "0");
    if (SDL_Init(SDL_INIT_VIDEO) != 0) {
        report_error("no display available: %s", SDL_GetError());
        text_end_font_lookup();
        midi_end_system();
        return 3;
    }
    // With no X11 or Wayland display SDL falls back to drivers that show
    // nothing; a window nobody can see or close is no start either.
    const char* driver = SDL_GetCurrentVideoDriver();
    if (driver && (std::strcmp(driver, "offscreen") == 0 || std::strcmp(driver, "dummy") == 0) &&
        !SDL_getenv("SDL_VIDEODRIVER")) {
        report_error("no display available (neither DISPLAY nor WAYLAND_DISPLAY works)");
        SDL_Quit();
        text_end_font_lookup();
        midi_end_system();
        return 3;
    }
    // On X11, SDL would back the window surface with an OpenGL texture; where
    // that GL is software (no GPU, Xvfb) each upload costs several times the
    // plain shared-memory image. Other drivers have only the texture path.
    if (driver && std::strcmp(driver, "x11") == 0)
        SDL_SetHintWithPriority(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0", SDL_HINT_DEFAULT);
    const int status = run_program();
    midi_end_system();  // a second copy, or a window that failed, asked for no device
    if (g_sdl.arrow) SDL_FreeCursor(g_sdl.arrow);
    SDL_Quit();
    return status;
}
