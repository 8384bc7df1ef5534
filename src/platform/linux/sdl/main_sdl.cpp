// Window-system contract (app/platform.h), entry services and the program
// entry with SDL2 on X11 or Wayland: the main window and its start-up, the
// message box. One main window. The single-instance marker is in
// instance_unix_socket.cpp. Presenting, input and the event loop are in their own
// files (present_sdl.cpp, input_sdl.cpp, event_loop_sdl.cpp).
#include <SDL.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "app/options.h"
#include "app/platform.h"
#include "app/session.h"
#include "app/shell.h"
#include "app/view.h"
#include "base/program.h"
#include "midi/input_queue.h"
#include "panel/panel.h"
#include "platform/linux/midi/midi_backend_linux.h"
#include "platform/linux/sdl/window_sdl.h"
#include "platform/linux/text/text_freetype.h"
#include "render/frame_buffer.h"

SdlLayer g_sdl;

// -------------------------------------------------------------- entry services

void platform_message_box(const char* caption, const char* text) {
    if (SDL_ShowSimpleMessageBox(0, caption, text, nullptr) == 0) return;
    if (run_own_box(caption, text)) return;
    // No box at all: the text still reaches a terminal, under the box's caption.
    std::fprintf(stderr, "%s: %s\n", caption, text);
}

// In panel pixels: with a scale the window is that many times larger.
void platform_screen_size(int* width, int* height) {
    SDL_Rect usable{0, 0, FB_WIDTH * g_app.scale, FB_HEIGHT * g_app.scale};
    SDL_GetDisplayUsableBounds(0, &usable);
    *width = usable.w / g_app.scale;
    *height = usable.h / g_app.scale;
}

namespace {

// The factor the window starts at, known once the window has its
// connection: --scale auto takes what the display asks for (on X11 the
// resource Xft.dpi, which desktops set for their scale factor: 192 at 200 %;
// without it, or elsewhere, 1), lowered until the window fits the usable
// area; an asked factor is kept, and said so when it does not fit. The
// window is still hidden: it takes the scaled size, cut to the screen as
// before, before anything is drawn or shown.
void apply_start_scale(int* width, int* height) {
    SDL_Rect usable{0, 0, FB_WIDTH * MAX_SCALE, FB_HEIGHT * MAX_SCALE};
    SDL_GetDisplayUsableBounds(0, &usable);
    const int dpi = g_app.scale_auto ? x11_resource_dpi(g_sdl.window) : 0;
    const StartScale start = start_scale(g_app.scale_auto ? SCALE_AUTO : g_app.scale, dpi, usable.w, usable.h);
    if (!start.fits && !g_app.scale_auto)
        report_error("%s", scale_too_large_text(start.scale, usable.w, usable.h).c_str());
    g_sdl.min_scale = start.fits ? 1 : start.scale;
    if (start.scale == g_app.scale) return;
    g_app.scale = start.scale;
    int screen_w = 0, screen_h = 0;
    platform_screen_size(&screen_w, &screen_h);
    *width = std::min(*width, screen_w);
    *height = std::min(*height, screen_h);
    SDL_SetWindowSize(g_sdl.window, *width * start.scale, *height * start.scale);
}

}  // namespace

// The size is the client area's, in panel pixels: SDL does not own the frame
// decorations. SDL turns no program away: a working video system is what
// main checked before the entry.
void* platform_create_window(int width, int height, bool* refused) {
    *refused = false;
    // Above others: on X11 the window asks for _NET_WM_STATE_ABOVE before it
    // is mapped; Wayland has no such request (said at start).
    const Uint32 on_top = g_sdl.on_top ? SDL_WINDOW_ALWAYS_ON_TOP : 0;
    g_sdl.window = SDL_CreateWindow(APP_TITLE, 0, 0, width * g_app.scale, height * g_app.scale,
                                    SDL_WINDOW_HIDDEN | SDL_WINDOW_RESIZABLE | on_top);
    if (!g_sdl.window) return nullptr;
    apply_start_scale(&width, &height);
    update_view();
    set_program_icon(g_sdl.window);
    g_sdl.x11_fd = x11_connection_fd(g_sdl.window);
    // The window's image in shared memory is made, and its pages put in
    // place, now rather than at the first present: the MIDI system may still
    // be starting, and the shell waits for it next.
    prefault_window_image(g_sdl.window);
    g_sdl.arrow = SDL_CreateSystemCursor(SDL_SYSTEM_CURSOR_ARROW);
    SDL_EventState(SDL_DROPFILE, SDL_ENABLE);  // delivered to every window; freed unread
    if (!shell_create(g_sdl.window)) {
        SDL_DestroyWindow(g_sdl.window);
        g_sdl.window = nullptr;
        return nullptr;
    }
    if (g_sdl.arrow) SDL_SetCursor(g_sdl.arrow);
    return g_sdl.window;
}

void platform_show_window(void* window) {
    SDL_ShowWindow(static_cast<SDL_Window*>(window));
    present_now();
}

// ------------------------------------------------------------------------ main

namespace {

constexpr int EXIT_NO_DISPLAY = 3;

// Forwards `signal` to this process's children: SDL's X11 box runs in a
// child of the window thread, which SDL waits for. Only system calls, as a
// signal handler may make.
void signal_children(int signal) {
    char path[64] = "/proc/self/task/";
    char* p = path + std::strlen(path);
    char digits[16];
    int n = 0;
    for (pid_t pid = getpid(); pid > 0 && n < 16; pid /= 10) digits[n++] = char('0' + pid % 10);
    while (n > 0) *p++ = digits[--n];
    std::memcpy(p, "/children", 10);
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return;
    char list[256];
    const ssize_t got = read(fd, list, sizeof list - 1);
    close(fd);
    pid_t child = 0;
    for (ssize_t i = 0; i < got; ++i) {
        if (list[i] >= '0' && list[i] <= '9') {
            child = child * 10 + (list[i] - '0');
        } else {
            if (child > 0) kill(child, signal);
            child = 0;
        }
    }
    if (child > 0) kill(child, signal);  // the list's last, should no space end it
}

// A second copy only shows its box and ends. SIGTERM, SIGINT and SIGHUP end
// it at once with the status OK gives, its box with it (a box of its own
// goes with the X connection; SDL's, in a child process, gets the signal
// and ends the same way). Neither box can be woken from a handler, and the
// copy holds nothing to close: no MIDI client, no marker. Set after
// SDL_Init, whose own handlers only queue a quit event that no box reads.
void end_second_copy_on_signals() {
    struct sigaction action {};
    action.sa_handler = [](int signal) {
        signal_children(signal);
        _exit(EXIT_SECOND_COPY);
    };
    sigemptyset(&action.sa_mask);
    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) sigaction(signal, &action, nullptr);
}

SessionState current_session_state() {
    SessionState state;
    state.options = g_sdl.option_words;
    for (int k = 0; k < PORT_COUNT; ++k) state.enabled[k] = g_panel.port_enable[k] != 0;
    return state;
}

// Window thread, after another thread asked for it: MIDI input to light
// keys, a session's save request.
void on_wake() {
    shell_midi_input();
    if (session_active()) session_poll(current_session_state());
}

// Under a session manager the saved options come first and the command
// line's own after them, so that a word given now wins. Empty when the
// program does not run under one (or the manager did not answer).
std::vector<std::string> open_session(int argc, char** argv) {
    std::vector<std::string> words;
    SessionOpen open;
    if (session_start(open, wake_window_thread) != SESSION_OPENED) return words;
    std::ifstream file(open.state_file);
    std::stringstream text;
    text << file.rdbuf();
    const SessionState saved = parse_session_state(text.str());
    words = saved.options;
    for (int i = 1; i < argc; ++i) words.emplace_back(argv[i]);
    for (int k = 0; k < PORT_COUNT; ++k) g_app.start_enable[k] = saved.enabled[k];
    midi_set_client_name(open.client_name.c_str());
    return words;
}

}  // namespace

int main(int argc, char** argv) {
    // Help, version, the device list and wrong options need no display.
    // Wake-ups may come as soon as a session or a MIDI system starts.
    start_wakeups();
    g_sdl.on_wake = on_wake;
    std::vector<std::string> words;
    if (parse_program_options(argc, argv, OPTIONS_LINUX).action == ACTION_RUN) {
        // A second copy never joins a session: it says so on one line, as
        // nobody may be there to click a box.
        if (std::getenv("NSM_URL") && platform_other_instance_running()) {
            report_error("another copy is running: %s", SECOND_INSTANCE_TEXT);
            return 1;
        }
        words = open_session(argc, argv);
    }
    if (words.empty()) words.assign(argv + 1, argv + argc);
    g_sdl.option_words = words;
    std::vector<const char*> args{argv[0]};
    for (const std::string& word : words) args.push_back(word.c_str());
    ProgramOptions options;
    if (const int status = handle_command_line(int(args.size()), args.data(), OPTIONS_LINUX, options); status >= 0) {
        midi_end_system();  // the device list's client
        return status;
    }
    // A monitor whose reader goes away must not end the panel: the write
    // fails instead, and the monitor stops with one line.
    signal(SIGPIPE, SIG_IGN);
    shell_set_scale(options.scale);
    g_sdl.on_top = options.on_top;
    // Without any display SDL's Wayland probe would print its own complaint
    // and the MIDI system would report on a panel that never comes: one line
    // instead, before either starts.
    if (const std::string missing = display_missing(); !missing.empty()) {
        report_error("no display (%s); only --list-devices, --list-keys, --help and --version work without one",
                     missing.c_str());
        return EXIT_NO_DISPLAY;
    }
    input_queue_enable(options.show_input, wake_window_thread);
    // SDL's input-method probe asks the session bus; where none is set up,
    // libdbus would start one through dbus-launch (a fork and a wait) only to
    // find no input method. The panel takes no text. Set before any thread
    // starts: setenv races with getenv elsewhere.
    if (!std::getenv("DBUS_SESSION_BUS_ADDRESS")) setenv("DBUS_SESSION_BUS_ADDRESS", "disabled:", 0);
    // For the same reason, Xlib's input method need not read a compose table
    // (thousands of lines, a character at a time) at SDL_Init.
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
    set_touch_hints();
    if (SDL_Init(SDL_INIT_VIDEO) != 0) {
        report_error("no display available: %s", SDL_GetError());
        text_end_font_lookup();
        midi_end_system();
        return EXIT_NO_DISPLAY;
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
        return EXIT_NO_DISPLAY;
    }
    // On X11, SDL would back the window surface with an OpenGL texture; where
    // that GL is software (no GPU, Xvfb) each upload costs several times the
    // plain shared-memory image. Other drivers have only the texture path.
    if (driver && std::strcmp(driver, "x11") == 0)
        SDL_SetHintWithPriority(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0", SDL_HINT_DEFAULT);
    if (options.on_top && driver && std::strcmp(driver, "wayland") == 0)
        report_error("--on-top: Wayland lets no program keep its window above others; it opens as any other");
    if (platform_other_instance_running()) end_second_copy_on_signals();
    // A keyboard grabbed by another client takes the releases of held keys
    // with it, and SDL reports no focus change for it: the X events say so.
    if (options.keys) SDL_EventState(SDL_SYSWMEVENT, SDL_ENABLE);
    start_wakeups();  // now also as an SDL event, for drivers whose wait polls no file
    const int status = run_program();
    input_queue_enable(false);
    session_stop();
    midi_end_system();  // a second copy, or a window that failed, asked for no device
    if (g_sdl.arrow) SDL_FreeCursor(g_sdl.arrow);
    SDL_Quit();
    return status;
}
