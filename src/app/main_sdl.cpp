// Window-system contract (app/platform.h) and the program entry with SDL2 on
// X11 or Wayland: the window surface shows the frame buffer 1:1 (or each
// pixel as a block of scale x scale with --scale), the 2 ms
// window timer runs inside the event loop, the 1 ms clock on its own thread,
// and an abstract Unix socket is the single-instance marker. One main window.
// Both timers sleep while the shell wants no tick.
//
// Contents: module state; presenting; event translation; clock; entry
// services; window services; main.
#include <SDL.h>
#include <poll.h>
#include <pthread.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "app/app_state.h"
#include "app/clock_linux.h"
#include "app/icon.h"
#include "app/options.h"
#include "app/platform.h"
#include "app/shell.h"
#include "app/window_sdl.h"
#include "base/program.h"
#include "midi/ports_linux.h"
#include "render/frame_buffer.h"
#include "render/render_context.h"
#include "render/text_freetype.h"

namespace {

// ---------------------------------------------------------------- module state

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
    // Window pixels per panel pixel, each way (--scale). Only the window's
    // size, the present and the pointer translation see it; the frame buffer
    // and every hit rectangle stay in panel pixels.
    int scale = 1;

    bool timer_on = false;  // the window timer
    uint64_t timer_period_ns = 0;
    uint64_t timer_due_ns = 0;  // CLOCK_MONOTONIC

    // First copy: the bound socket, kept until the process ends. Second copy:
    // the probe that failed to bind, closed after the message box.
    int instance_socket = -1;
    int x11_fd = -1;  // the X connection, when SDL runs on X11
    bool instance_asked = false;
    bool other_instance = false;

    std::thread clock_thread;
    ClockGate clock_gate;
};

SdlLayer g_sdl;

uint64_t monotonic_ns() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return uint64_t(ts.tv_sec) * 1000000000u + uint64_t(ts.tv_nsec);
}

// ------------------------------------------------------------------ presenting

// Copies panel rectangle `r` into the window surface, every panel pixel as
// scale x scale window pixels, nearest, clipped to the window. The X11 window
// surface has the frame's own format and gets a plain copy loop; any other
// goes through SDL's scaled blit.
bool blit_scaled(SDL_Surface* dst, const SDL_Rect& r) {
    const int s = g_sdl.scale;
    if (dst->format->format != SDL_PIXELFORMAT_RGB888) {
        SDL_Rect from = r, to{r.x * s, r.y * s, r.w * s, r.h * s};
        return SDL_BlitScaled(g_sdl.frame, &from, dst, &to) == 0;
    }
    const int x0 = r.x * s, y0 = r.y * s;
    const int x1 = std::min(dst->w, (r.x + r.w) * s), y1 = std::min(dst->h, (r.y + r.h) * s);
    if (x0 >= x1 || y0 >= y1) return true;
    if (SDL_MUSTLOCK(dst) && SDL_LockSurface(dst) != 0) return false;
    auto* base = static_cast<uint8_t*>(dst->pixels);
    const auto row_at = [&](int y) { return reinterpret_cast<uint32_t*>(base + size_t(y) * size_t(dst->pitch)); };
    for (int y = y0; y < y1; ++y) {
        uint32_t* row = row_at(y);
        if (y % s != 0) {  // the block's first row, again (y0 is a block's first)
            std::memcpy(row + x0, row_at(y - 1) + x0, size_t(x1 - x0) * 4);
            continue;
        }
        const uint32_t* src = g_render.pixels + size_t(y / s) * FB_WIDTH;
        for (int x = x0; x < x1; ++x) row[x] = src[x / s];
    }
    if (SDL_MUSTLOCK(dst)) SDL_UnlockSurface(dst);
    return true;
}

// Copies frame-buffer rectangles (at most DAMAGE_RECTS, in panel pixels) into
// the window surface and shows them: buffer pixel (0, 0) at the client area's
// top-left, each pixel one window pixel or, with --scale, a block; clipped to
// the window. `whole_window` shows all of the surface, what lies beyond the
// buffer included, as a window that lost its contents needs. A failure leaves
// the whole window to be repainted at the next chance.
void show(const SDL_Rect* rects, int count, bool whole_window) {
    g_sdl.repaint = false;
    if (!g_sdl.window || !g_render.pixels) return;
    if (!g_sdl.frame || g_sdl.frame->pixels != g_render.pixels) {
        SDL_FreeSurface(g_sdl.frame);
        g_sdl.frame = SDL_CreateRGBSurfaceWithFormatFrom(g_render.pixels, FB_WIDTH, FB_HEIGHT, 32, FB_WIDTH * 4,
                                                         SDL_PIXELFORMAT_RGB888);
        if (!g_sdl.frame) return;
    }
    SDL_Surface* dst = SDL_GetWindowSurface(g_sdl.window);
    if (!dst) return;
    // What of each rectangle the window surface has: the X11 driver rejects
    // an update that reaches past the window (a window smaller than the
    // buffer) instead of clipping it.
    const SDL_Rect surface{0, 0, dst->w, dst->h};
    SDL_Rect shown[DAMAGE_RECTS];
    int n = 0;
    bool ok = true;
    const int scale = g_sdl.scale;
    for (int i = 0; i < count && n < DAMAGE_RECTS; ++i) {
        const SDL_Rect& r = rects[i];
        if (scale > 1) {
            ok = blit_scaled(dst, r) && ok;
        } else {
            SDL_Rect from = r, to = r;  // the blit clips its own copies
            ok = SDL_BlitSurface(g_sdl.frame, &from, dst, &to) == 0 && ok;
        }
        const SDL_Rect in_window{r.x * scale, r.y * scale, r.w * scale, r.h * scale};
        if (SDL_IntersectRect(&in_window, &surface, &shown[n])) ++n;
    }
    if (whole_window)
        ok = ok && SDL_UpdateWindowSurface(g_sdl.window) == 0;
    else if (n > 0)
        ok = ok && SDL_UpdateWindowSurfaceRects(g_sdl.window, shown, n) == 0;
    if (!ok) g_sdl.repaint = true;
}

// Start-up, exposure and resizing: the window has nothing of the buffer.
void present_now() {
    const SDL_Rect whole{0, 0, FB_WIDTH, FB_HEIGHT};
    show(&whole, 1, true);
}

// A tick's present: only what was drawn since the last one.
void present_damage() {
    const Damage& d = g_render.damage;
    SDL_Rect rects[DAMAGE_RECTS];
    for (int i = 0; i < d.count; ++i) rects[i] = {d.rects[i].x, d.rects[i].y, d.rects[i].w, d.rects[i].h};
    if (d.count > 0) show(rects, d.count, false);
}

// ------------------------------------------------------------ event translation

// Window pixels to panel pixels, rounding toward minus infinity so a position
// left of or above the window stays outside it.
int panel_coord(int v) {
    const int s = g_sdl.scale;
    return v >= 0 ? v / s : -((-v + s - 1) / s);
}

uint32_t panel_pointer(int x, int y) { return pack_pointer(panel_coord(x), panel_coord(y)); }

// By key position, so digits work on any layout.
KeyCode key_code(SDL_Scancode code) {
    if (code >= SDL_SCANCODE_1 && code <= SDL_SCANCODE_9) return KeyCode(KEY_DIGIT_0 + 1 + (code - SDL_SCANCODE_1));
    if (code >= SDL_SCANCODE_KP_1 && code <= SDL_SCANCODE_KP_9)
        return KeyCode(KEY_KEYPAD_0 + 1 + (code - SDL_SCANCODE_KP_1));
    switch (code) {
        case SDL_SCANCODE_0: return KEY_DIGIT_0;
        case SDL_SCANCODE_KP_0: return KEY_KEYPAD_0;
        case SDL_SCANCODE_RETURN:
        case SDL_SCANCODE_KP_ENTER: return KEY_ENTER;
        case SDL_SCANCODE_BACKSPACE: return KEY_BACKSPACE;
        case SDL_SCANCODE_DELETE: return KEY_DELETE;
        case SDL_SCANCODE_ESCAPE: return KEY_ESCAPE;
        case SDL_SCANCODE_UP: return KEY_UP;
        case SDL_SCANCODE_DOWN: return KEY_DOWN;
        default: return KEY_NONE;
    }
}

// A press already holds the pointer for the window until the release (the
// window system's implicit grab: motion and the release arrive wherever the
// pointer goes). SDL itself passes on only the first move outside the
// window unless its capture is on, so the capture is taken when the pointer
// leaves with a button held, and given up after the release. Taking it at
// every press cost two X round trips each way, and the grab's own crossing
// events, for nothing the shell would see.
void take_capture_on_leave() {
    if (!g_sdl.capture_wanted || g_sdl.captured) return;
    g_sdl.captured = SDL_CaptureMouse(SDL_TRUE) == 0;
}

// After each event, before the next one is read.
void apply_capture() {
    if (!g_sdl.captured || g_sdl.capture_wanted) return;
    SDL_CaptureMouse(SDL_FALSE);
    g_sdl.captured = false;
}

void close_main_window() {
    if (!g_sdl.window) return;
    shell_destroy();
    SDL_FreeSurface(g_sdl.frame);
    g_sdl.frame = nullptr;
    SDL_DestroyWindow(g_sdl.window);
    g_sdl.window = nullptr;
    g_sdl.quit = true;  // also when start-up never completed and nothing posted quit
}

void handle_window_event(const SDL_WindowEvent& e) {
    if (!g_sdl.window || e.windowID != SDL_GetWindowID(g_sdl.window)) return;
    switch (e.event) {
        case SDL_WINDOWEVENT_CLOSE: close_main_window(); break;
        case SDL_WINDOWEVENT_SHOWN:
        case SDL_WINDOWEVENT_EXPOSED:
        case SDL_WINDOWEVENT_SIZE_CHANGED: present_now(); break;
        // No release reaches a window that lost the focus while a button was held.
        case SDL_WINDOWEVENT_FOCUS_LOST: shell_capture_lost(); break;
        case SDL_WINDOWEVENT_LEAVE: take_capture_on_leave(); break;
        default: break;
    }
}

void translate_event(const SDL_Event& e) {
    switch (e.type) {
        case SDL_QUIT: close_main_window(); break;  // SIGINT, SIGTERM, session end
        case SDL_WINDOWEVENT: handle_window_event(e.window); break;
        case SDL_MOUSEMOTION:
            // The cursor question comes before the move, and never under capture.
            if (e.motion.state == 0) shell_set_cursor();
            shell_mouse_move(panel_pointer(e.motion.x, e.motion.y));
            break;
        case SDL_MOUSEBUTTONDOWN:
            switch (e.button.button) {
                case SDL_BUTTON_LEFT: shell_left_down(panel_pointer(e.button.x, e.button.y)); break;
                case SDL_BUTTON_RIGHT: shell_right_down(panel_pointer(e.button.x, e.button.y)); break;
                case SDL_BUTTON_MIDDLE: shell_middle_down(); break;
                default: break;
            }
            break;
        case SDL_MOUSEBUTTONUP:
            switch (e.button.button) {
                case SDL_BUTTON_LEFT: shell_left_up(); break;
                case SDL_BUTTON_RIGHT: shell_right_up(); break;
                case SDL_BUTTON_MIDDLE: shell_middle_up(); break;
                default: break;
            }
            break;
        case SDL_MOUSEWHEEL: {
            // SDL: y > 0 is away from the user unless flipped; the shell wants
            // the Windows sign, negative toward the user, in 120ths of a notch.
            int y = e.wheel.y;
            if (e.wheel.direction == SDL_MOUSEWHEEL_FLIPPED) y = -y;
            if (y != 0) shell_wheel(y * 120);
            break;
        }
        case SDL_KEYDOWN:  // auto-repeat included, like a first press
            if (const KeyCode key = key_code(e.key.keysym.scancode); key != KEY_NONE) shell_key_down(key);
            break;
        case SDL_DROPFILE:
        case SDL_DROPTEXT: SDL_free(e.drop.file); break;  // accepted and ignored
        default: break;
    }
}

// ------------------------------------------------------------------------ clock

void run_clock_thread() {
    pthread_setname_np(pthread_self(), "zorve-clock");  // for top and /proc
    run_clock(g_sdl.clock_gate, clock_callback);
}

// Waits for the next event, at most `wait_ms` (-1: no limit). On X11 the
// unlimited wait is a poll on the connection between two pumps; SDL's own
// asks the connection dry four times around its wait, each time a few system
// calls, and this wait comes twice a click. A pump leaves Xlib's queue empty
// and its requests sent, so the poll misses nothing; a signal ends the poll,
// and the next pump turns it into SDL_QUIT.
bool wait_event(SDL_Event* e, int wait_ms) {
    if (wait_ms >= 0 || g_sdl.x11_fd < 0) return SDL_WaitEventTimeout(e, wait_ms) != 0;
    for (;;) {
        SDL_PumpEvents();
        if (SDL_PeepEvents(e, 1, SDL_GETEVENT, SDL_FIRSTEVENT, SDL_LASTEVENT) > 0) return true;
        pollfd x{g_sdl.x11_fd, POLLIN, 0};
        poll(&x, 1, -1);
    }
}

// Ticks are wanted while the shell has work for them or the window still
// needs repainting. Otherwise the loop waits for input with no timeout and
// the clock thread is parked: the ticks left out would have found nothing
// to do.
bool ticks_wanted() { return g_sdl.timer_on && (tick_wanted() || g_sdl.repaint); }

}  // namespace

// -------------------------------------------------------------- entry services

void set_program_icon(SDL_Window* window) {
    static uint32_t pixels[ICON_SIZE * ICON_SIZE];
    make_program_icon(pixels);
    SDL_Surface* icon =
        SDL_CreateRGBSurfaceWithFormatFrom(pixels, ICON_SIZE, ICON_SIZE, 32, ICON_SIZE * 4, SDL_PIXELFORMAT_RGB888);
    if (!icon) return;
    SDL_SetWindowIcon(window, icon);
    SDL_FreeSurface(icon);
}

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

namespace {

// Gives `bytes` from `pixels` their pages. One madvise does it for all of
// them, in 0.5 ms for the 2 MB image here against 5-7 ms for faulting them
// one by one on the first writes (each fault an exit to the hypervisor on a
// virtual machine); where the kernel cannot, they are written.
void prefault(void* pixels, size_t bytes) {
#ifdef MADV_POPULATE_WRITE
    const uintptr_t page = uintptr_t(sysconf(_SC_PAGESIZE));
    const uintptr_t begin = uintptr_t(pixels) & ~(page - 1);
    if (madvise(reinterpret_cast<void*>(begin), uintptr_t(pixels) + bytes - begin, MADV_POPULATE_WRITE) == 0) return;
#endif
    std::memset(pixels, 0, bytes);
}

}  // namespace

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
    if (SDL_Surface* surface = SDL_GetWindowSurface(g_sdl.window)) {
        if (SDL_MUSTLOCK(surface) == 0) prefault(surface->pixels, size_t(surface->h) * size_t(surface->pitch));
    }
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

// The window timer is due every period while ticks are wanted; missed periods
// collapse into one call, as a Windows timer message does. Input that wants a
// tick after idle first has the clock catch up (by the time it slept, or by
// nothing after more than 100 ms, as after any stall), then fires the timer
// at once; only when that tick leaves something to do do the clock and the
// timer keep running. Between deadlines, and with no timeout while idle, the
// loop sleeps in wait_event.
int platform_message_loop() {
    bool running = true;  // the timer's first deadline was set when it started
    while (!g_sdl.quit) {
        const bool wanted = ticks_wanted();
        if (wanted && !running && g_sdl.clock_thread.joinable()) {
            catch_up_clock(g_sdl.clock_gate, clock_callback);
            g_sdl.timer_due_ns = monotonic_ns();
        } else {
            set_clock_running(g_sdl.clock_gate, wanted);
        }
        running = wanted;
        const uint64_t now = monotonic_ns();
        int wait_ms = -1;
        if (running) {
            if (now >= g_sdl.timer_due_ns) {
                g_sdl.timer_due_ns += g_sdl.timer_period_ns;
                if (g_sdl.timer_due_ns <= now) g_sdl.timer_due_ns = now + g_sdl.timer_period_ns;
                shell_timer();
                if (g_sdl.repaint) present_now();
                // Input first, whatever the next deadline. A tick that left
                // nothing to do goes back to the top, which parks the clock:
                // the wait for input then asks the X connection once, not
                // twice.
                if (!ticks_wanted()) continue;
                wait_ms = 0;
            } else {
                wait_ms = int((g_sdl.timer_due_ns - now + 999999) / 1000000);
            }
        }
        // The wait reads the X connection once; what it queued is taken
        // without asking the connection again for each event (a system call
        // or more each, costly on a virtual machine).
        SDL_Event e;
        if (wait_event(&e, wait_ms)) {
            translate_event(e);
            apply_capture();
            while (!g_sdl.quit && SDL_PeepEvents(&e, 1, SDL_GETEVENT, SDL_FIRSTEVENT, SDL_LASTEVENT) > 0) {
                translate_event(e);
                apply_capture();
            }
        }
    }
    return g_sdl.quit_code;
}

void platform_post_quit(int code) {
    g_sdl.quit = true;
    g_sdl.quit_code = code;
}

// ------------------------------------------------------------- window services

uint32_t platform_time_ms() { return uint32_t(monotonic_ns() / 1000000); }

// Uploads what was drawn since the last present; the whole buffer only when
// the window lost its contents. A whole upload costs milliseconds of CPU.
void platform_present(void*, bool frame_changed) {
    if (g_sdl.repaint)
        present_now();
    else if (frame_changed)
        present_damage();
}

// See take_capture_on_leave: no X request on the way from a press to its
// MIDI, or at all while the pointer stays in the window.
void platform_capture_mouse(void*) { g_sdl.capture_wanted = true; }

void platform_release_capture() { g_sdl.capture_wanted = false; }

void platform_start_window_timer(void*, int, int interval_ms) {
    g_sdl.timer_period_ns = uint64_t(std::max(interval_ms, 1)) * 1000000;
    g_sdl.timer_due_ns = monotonic_ns() + g_sdl.timer_period_ns;
    g_sdl.timer_on = true;
}

void platform_stop_window_timer(void*, int) { g_sdl.timer_on = false; }

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

// The clock starts running: the first redraw is due; the loop parks it
// once nothing is.
void platform_start_clock() {
    if (g_sdl.clock_thread.joinable()) return;
    g_sdl.clock_gate.stop.store(false);
    set_clock_running(g_sdl.clock_gate, true);
    try {
        g_sdl.clock_thread = std::thread(run_clock_thread);
    } catch (...) {
        // No thread, no clock: the tick never runs, as with a failed timer.
    }
}

void platform_stop_clock() {
    if (!g_sdl.clock_thread.joinable()) return;
    stop_clock_thread(g_sdl.clock_gate);
    g_sdl.clock_thread.join();
}

// ------------------------------------------------------------------------ main

int main(int argc, char** argv) {
    // Help, version, the device list and wrong options need no display.
    ProgramOptions options;
    if (const int status = handle_command_line(argc, argv, OPTIONS_LINUX, options); status >= 0) return status;
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
        midi_end_choice();
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
        midi_end_choice();
        return 3;
    }
    // On X11, SDL would back the window surface with an OpenGL texture; where
    // that GL is software (no GPU, Xvfb) each upload costs several times the
    // plain shared-memory image. Other drivers have only the texture path.
    if (driver && std::strcmp(driver, "x11") == 0)
        SDL_SetHintWithPriority(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0", SDL_HINT_DEFAULT);
    const int status = run_program();
    midi_end_choice();  // a second copy, or a window that failed, asked for no device
    if (g_sdl.arrow) SDL_FreeCursor(g_sdl.arrow);
    SDL_Quit();
    return status;
}
