// Window-system contract (app/platform.h) and the program entry with SDL2 on
// X11 or Wayland: the window surface shows the frame buffer 1:1, the 2 ms
// window timer runs inside the event loop, the 1 ms clock on its own thread,
// and an abstract Unix socket is the single-instance marker. One main window.
//
// Contents: module state; message box; entry services; event translation;
// window services; clock; main.
#include <SDL.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>
#include <thread>

#include "app/app_state.h"
#include "app/clock_linux.h"
#include "app/icon.h"
#include "app/platform.h"
#include "app/shell.h"
#include "render/frame_buffer.h"
#include "render/render_context.h"
#include "render/text_backend.h"
#include "render/text_freetype.h"

namespace {

// ---------------------------------------------------------------- module state

SDL_Window* g_window;  // the main window; null before creation and after close
SDL_Surface* g_frame;  // a view of g_render.pixels, no copy of its own
SDL_Cursor* g_arrow;
bool g_repaint;  // exposed or resized since the last present
bool g_quit;
int g_quit_code;

bool g_timer_on;  // the window timer
uint64_t g_timer_period_ns;
uint64_t g_timer_due_ns;  // CLOCK_MONOTONIC

// First copy: the bound socket, kept until the process ends. Second copy: the
// probe that failed to bind, closed after the message box.
int g_instance_socket = -1;

std::thread g_clock_thread;
std::atomic<bool> g_clock_stop;

uint64_t monotonic_ns() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return uint64_t(ts.tv_sec) * 1000000000u + uint64_t(ts.tv_nsec);
}

void set_program_icon(SDL_Window* window) {
    static uint32_t pixels[ICON_SIZE * ICON_SIZE];
    make_program_icon(pixels);
    SDL_Surface* icon =
        SDL_CreateRGBSurfaceWithFormatFrom(pixels, ICON_SIZE, ICON_SIZE, 32, ICON_SIZE * 4, SDL_PIXELFORMAT_RGB888);
    if (!icon) return;
    SDL_SetWindowIcon(window, icon);
    SDL_FreeSurface(icon);
}

// ----------------------------------------------------------------- message box

// Drawn with the program's own text backend where SDL's box cannot appear (its
// X11 box needs core X fonts, which Xvfb and many Wayland desktops lack). The
// text surface needs a full frame-buffer-sized canvas; the box uses its top-left.
struct OwnBox {
    SDL_Window* window = nullptr;
    uint32_t* canvas = nullptr;
    void* surface = nullptr;
    void* font = nullptr;
    int width = 0, height = 0;
    SDL_Rect ok{};
    bool armed = false;  // the OK button was pressed and not yet released
};

constexpr uint32_t BOX_FACE = 0xF0F0F0;
constexpr uint32_t BOX_BUTTON = 0xE1E1E1;
constexpr uint32_t BOX_BUTTON_DOWN = 0xCCE4F7;
constexpr uint32_t BOX_BUTTON_EDGE = 0x0078D7;

void canvas_fill(OwnBox& box, int x, int y, int w, int h, uint32_t rgb) {
    for (int row = std::max(y, 0); row < std::min(y + h, box.height); ++row)
        std::fill(box.canvas + row * FB_WIDTH + std::max(x, 0),
                  box.canvas + row * FB_WIDTH + std::min(x + w, box.width), rgb);
}

void draw_box(OwnBox& box, const char* text) {
    int cell = 16, ascent = 13, avg = 7;
    text_font_metrics(box.font, &cell, &ascent, &avg);
    canvas_fill(box, 0, 0, box.width, box.height, BOX_FACE);
    text_set_color(box.surface, 0x000000);
    text_out(box.surface, 24, 24, text, int(std::strlen(text)));
    const SDL_Rect& b = box.ok;
    canvas_fill(box, b.x, b.y, b.w, b.h, BOX_BUTTON_EDGE);
    canvas_fill(box, b.x + 1, b.y + 1, b.w - 2, b.h - 2, box.armed ? BOX_BUTTON_DOWN : BOX_BUTTON);
    const int label = text_measure(box.font, "OK");
    text_out(box.surface, b.x + (b.w - label) / 2, b.y + (b.h - cell) / 2, "OK", 2);

    SDL_Surface* dst = SDL_GetWindowSurface(box.window);
    SDL_Surface* src =
        SDL_CreateRGBSurfaceWithFormatFrom(box.canvas, box.width, box.height, 32, FB_WIDTH * 4, SDL_PIXELFORMAT_RGB888);
    if (dst && src) {
        SDL_BlitSurface(src, nullptr, dst, nullptr);
        SDL_UpdateWindowSurface(box.window);
    }
    SDL_FreeSurface(src);
}

bool inside(const SDL_Rect& r, int x, int y) { return x >= r.x && x < r.x + r.w && y >= r.y && y < r.y + r.h; }

// Returns when OK is clicked, Enter, Space or Escape is pressed, or the box is
// closed. False when the box could not be shown at all.
bool run_own_box(const char* caption, const char* text) {
    OwnBox box;
    box.canvas = new (std::nothrow) uint32_t[size_t(FB_WIDTH) * FB_HEIGHT];
    if (box.canvas) box.surface = text_create_surface(box.canvas);
    box.font = text_create_font(16, 0, 400, 0, "arial");
    bool shown = false;
    if (box.surface && box.font) {
        const int text_w = text_measure(box.font, text);
        box.width = std::clamp(text_w + 48, 240, FB_WIDTH);
        box.height = 110;
        box.ok = SDL_Rect{(box.width - 88) / 2, box.height - 44, 88, 28};
        box.window = SDL_CreateWindow(caption, SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED, box.width, box.height,
                                      SDL_WINDOW_HIDDEN);
    }
    if (box.window) {
        shown = true;
        set_program_icon(box.window);
        SDL_ShowWindow(box.window);
        SDL_RaiseWindow(box.window);
        draw_box(box, text);
        const Uint32 id = SDL_GetWindowID(box.window);
        bool done = false;
        SDL_Event e;
        while (!done && SDL_WaitEvent(&e)) {
            switch (e.type) {
                case SDL_QUIT: done = true; break;
                case SDL_WINDOWEVENT:
                    if (e.window.windowID != id) break;
                    if (e.window.event == SDL_WINDOWEVENT_CLOSE) done = true;
                    if (e.window.event == SDL_WINDOWEVENT_EXPOSED || e.window.event == SDL_WINDOWEVENT_SIZE_CHANGED)
                        draw_box(box, text);
                    break;
                case SDL_MOUSEBUTTONDOWN:
                    if (e.button.button == SDL_BUTTON_LEFT && inside(box.ok, e.button.x, e.button.y)) {
                        box.armed = true;
                        draw_box(box, text);
                    }
                    break;
                case SDL_MOUSEBUTTONUP:
                    if (e.button.button != SDL_BUTTON_LEFT) break;
                    if (box.armed && inside(box.ok, e.button.x, e.button.y)) done = true;
                    box.armed = false;
                    draw_box(box, text);
                    break;
                case SDL_KEYDOWN:
                    switch (e.key.keysym.scancode) {
                        case SDL_SCANCODE_RETURN:
                        case SDL_SCANCODE_KP_ENTER:
                        case SDL_SCANCODE_SPACE:
                        case SDL_SCANCODE_ESCAPE: done = true; break;
                        default: break;
                    }
                    break;
                case SDL_DROPFILE:
                case SDL_DROPTEXT: SDL_free(e.drop.file); break;
                default: break;
            }
        }
        SDL_DestroyWindow(box.window);
    }
    if (box.font) text_release_font(box.font);
    if (box.surface) text_delete_surface(box.surface);
    delete[] box.canvas;
    return shown;
}

// ------------------------------------------------------------ event translation

// Windows virtual-key numbering by key position, so digits work on any layout.
int virtual_key(SDL_Scancode code) {
    if (code >= SDL_SCANCODE_1 && code <= SDL_SCANCODE_9) return '1' + (code - SDL_SCANCODE_1);
    if (code >= SDL_SCANCODE_KP_1 && code <= SDL_SCANCODE_KP_9) return 97 + (code - SDL_SCANCODE_KP_1);
    switch (code) {
        case SDL_SCANCODE_0: return '0';
        case SDL_SCANCODE_KP_0: return 96;
        case SDL_SCANCODE_RETURN:
        case SDL_SCANCODE_KP_ENTER: return 13;
        case SDL_SCANCODE_BACKSPACE: return 8;
        case SDL_SCANCODE_DELETE: return 46;
        case SDL_SCANCODE_ESCAPE: return 27;
        case SDL_SCANCODE_UP: return 38;
        case SDL_SCANCODE_DOWN: return 40;
        default: return 0;
    }
}

void present_now() {
    g_repaint = false;
    if (!g_window || !g_render.pixels) return;
    if (!g_frame || g_frame->pixels != g_render.pixels) {
        SDL_FreeSurface(g_frame);
        g_frame = SDL_CreateRGBSurfaceWithFormatFrom(g_render.pixels, FB_WIDTH, FB_HEIGHT, 32, FB_WIDTH * 4,
                                                     SDL_PIXELFORMAT_RGB888);
        if (!g_frame) return;
    }
    SDL_Surface* dst = SDL_GetWindowSurface(g_window);
    if (!dst) return;
    // Unscaled: frame-buffer pixel (0, 0) at the client area's top-left,
    // clipped to the window; what lies beyond the buffer is left alone.
    SDL_Rect at{0, 0, FB_WIDTH, FB_HEIGHT};
    if (SDL_BlitSurface(g_frame, nullptr, dst, &at) != 0 || SDL_UpdateWindowSurface(g_window) != 0) g_repaint = true;
}

void close_main_window() {
    if (!g_window) return;
    shell_destroy();
    SDL_FreeSurface(g_frame);
    g_frame = nullptr;
    SDL_DestroyWindow(g_window);
    g_window = nullptr;
    g_quit = true;  // also when start-up never completed and nothing posted quit
}

void handle_window_event(const SDL_WindowEvent& e) {
    if (!g_window || e.windowID != SDL_GetWindowID(g_window)) return;
    switch (e.event) {
        case SDL_WINDOWEVENT_CLOSE: close_main_window(); break;
        case SDL_WINDOWEVENT_SHOWN:
        case SDL_WINDOWEVENT_EXPOSED:
        case SDL_WINDOWEVENT_SIZE_CHANGED: present_now(); break;
        // No release reaches a window that lost the focus while a button was held.
        case SDL_WINDOWEVENT_FOCUS_LOST: shell_capture_lost(); break;
        default: break;
    }
}

void handle_event(const SDL_Event& e) {
    switch (e.type) {
        case SDL_QUIT: close_main_window(); break;  // SIGINT, SIGTERM, session end
        case SDL_WINDOWEVENT: handle_window_event(e.window); break;
        case SDL_MOUSEMOTION:
            // The cursor question comes before the move, and never under capture.
            if (e.motion.state == 0) shell_set_cursor();
            shell_mouse_move(pack_pointer(e.motion.x, e.motion.y));
            break;
        case SDL_MOUSEBUTTONDOWN:
            switch (e.button.button) {
                case SDL_BUTTON_LEFT: shell_left_down(pack_pointer(e.button.x, e.button.y)); break;
                case SDL_BUTTON_RIGHT: shell_right_down(pack_pointer(e.button.x, e.button.y)); break;
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
            if (const int vk = virtual_key(e.key.keysym.scancode)) shell_key_down(vk);
            break;
        case SDL_DROPFILE:
        case SDL_DROPTEXT: SDL_free(e.drop.file); break;  // accepted and ignored
        default: break;
    }
}

// ------------------------------------------------------------------------ clock

void clock_thread() { run_clock(g_clock_stop, clock_callback); }

}  // namespace

// -------------------------------------------------------------- entry services

bool platform_other_instance_running() {
    // Abstract namespace: nothing on disk, and the name goes when the process
    // does, however it ends. One marker per user.
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    const int n = std::snprintf(addr.sun_path + 1, sizeof addr.sun_path - 1, "%s-%u", APP_CLASS, unsigned(getuid()));
    const socklen_t len = socklen_t(offsetof(sockaddr_un, sun_path) + 1 + size_t(n));
    g_instance_socket = fd;
    if (bind(fd, reinterpret_cast<const sockaddr*>(&addr), len) == 0) return false;
    return errno == EADDRINUSE;
}

void platform_release_instance_probe() {
    if (g_instance_socket >= 0) close(g_instance_socket);
    g_instance_socket = -1;
}

void platform_message_box(const char* caption, const char* text) {
    if (SDL_ShowSimpleMessageBox(0, caption, text, nullptr) == 0) return;
    if (run_own_box(caption, text)) return;
    std::fprintf(stderr, "%s: %s\n", caption, text);
}

void platform_screen_size(int* width, int* height) {
    SDL_Rect usable{0, 0, FB_WIDTH, FB_HEIGHT};
    SDL_GetDisplayUsableBounds(0, &usable);
    *width = usable.w;
    *height = usable.h;
}

// SDL has no window classes; what stands in for one is a working video system.
bool platform_register_class() { return SDL_WasInit(SDL_INIT_VIDEO) != 0; }

// The size is the client area's: SDL does not own the frame decorations.
void* platform_create_window(int width, int height) {
    g_window = SDL_CreateWindow(APP_TITLE, 0, 0, width, height, SDL_WINDOW_HIDDEN | SDL_WINDOW_RESIZABLE);
    if (!g_window) return nullptr;
    set_program_icon(g_window);
    if (!shell_create(g_window)) {
        SDL_DestroyWindow(g_window);
        g_window = nullptr;
        return nullptr;
    }
    return g_window;
}

void platform_show_window(void* window) {
    SDL_ShowWindow(static_cast<SDL_Window*>(window));
    present_now();
}

// The window timer is due every period; missed periods collapse into one
// call, as a Windows timer message does. Between deadlines the loop sleeps in
// SDL_WaitEventTimeout.
int platform_message_loop() {
    while (!g_quit) {
        const uint64_t now = monotonic_ns();
        int wait_ms = -1;
        if (g_timer_on) {
            if (now >= g_timer_due_ns) {
                g_timer_due_ns += g_timer_period_ns;
                if (g_timer_due_ns <= now) g_timer_due_ns = now + g_timer_period_ns;
                shell_timer();
                if (g_repaint) present_now();
                wait_ms = 0;
            } else {
                wait_ms = int((g_timer_due_ns - now + 999999) / 1000000);
            }
        }
        SDL_Event e;
        if (SDL_WaitEventTimeout(&e, wait_ms)) {
            handle_event(e);
            while (!g_quit && SDL_PollEvent(&e)) handle_event(e);
        }
    }
    return g_quit_code;
}

void platform_post_quit(int code) {
    g_quit = true;
    g_quit_code = code;
}

// ------------------------------------------------------------- window services

uint32_t platform_time_ms() { return uint32_t(monotonic_ns() / 1000000); }

// An unchanged frame is uploaded only when the window lost its contents;
// a full upload costs milliseconds of CPU.
void platform_present(void*, bool frame_changed) {
    if (frame_changed || g_repaint) present_now();
}

void platform_capture_mouse(void*) { SDL_CaptureMouse(SDL_TRUE); }

void platform_release_capture() { SDL_CaptureMouse(SDL_FALSE); }

void platform_start_window_timer(void*, int, int interval_ms) {
    g_timer_period_ns = uint64_t(std::max(interval_ms, 1)) * 1000000;
    g_timer_due_ns = monotonic_ns() + g_timer_period_ns;
    g_timer_on = true;
}

void platform_stop_window_timer(void*, int) { g_timer_on = false; }

void platform_load_arrow_cursor() {
    if (!g_arrow) g_arrow = SDL_CreateSystemCursor(SDL_SYSTEM_CURSOR_ARROW);
}

void platform_set_arrow_cursor() {
    if (g_arrow) SDL_SetCursor(g_arrow);
}

// SDL delivers drops to every window; they are freed unread.
void platform_accept_drops(void*) { SDL_EventState(SDL_DROPFILE, SDL_ENABLE); }

// clock_nanosleep already sleeps to the microsecond: nothing to raise.
void platform_begin_timer_resolution() {}
void platform_end_timer_resolution() {}

void platform_start_clock() {
    if (g_clock_thread.joinable()) return;
    g_clock_stop.store(false, std::memory_order_release);
    try {
        g_clock_thread = std::thread(clock_thread);
    } catch (...) {
        // No thread, no clock: the tick never runs, as with a failed timer.
    }
}

void platform_stop_clock() {
    if (!g_clock_thread.joinable()) return;
    g_clock_stop.store(true, std::memory_order_release);
    g_clock_thread.join();
}

// ------------------------------------------------------------------------ main

int main() {
    // A control surface should not keep the screen awake.
    SDL_SetHint(SDL_HINT_VIDEO_ALLOW_SCREENSAVER, "1");
    SDL_SetHint(SDL_HINT_MOUSE_FOCUS_CLICKTHROUGH, "1");
    if (SDL_Init(SDL_INIT_VIDEO) != 0) {
        std::fprintf(stderr, "zorve-button: no display available: %s\n", SDL_GetError());
        return 3;
    }
    // With no X11 or Wayland display SDL falls back to drivers that show
    // nothing; a window nobody can see or close is no start either.
    const char* driver = SDL_GetCurrentVideoDriver();
    if (driver && (std::strcmp(driver, "offscreen") == 0 || std::strcmp(driver, "dummy") == 0) &&
        !SDL_getenv("SDL_VIDEODRIVER")) {
        std::fprintf(stderr, "zorve-button: no display available (neither DISPLAY nor WAYLAND_DISPLAY works)\n");
        SDL_Quit();
        return 3;
    }
    // On X11, SDL would back the window surface with an OpenGL texture; where
    // that GL is software (no GPU, Xvfb) each upload costs several times the
    // plain shared-memory image. Other drivers have only the texture path.
    if (driver && std::strcmp(driver, "x11") == 0)
        SDL_SetHintWithPriority(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0", SDL_HINT_DEFAULT);
    const int status = run_program();
    if (g_arrow) SDL_FreeCursor(g_arrow);
    SDL_Quit();
    return status;
}
