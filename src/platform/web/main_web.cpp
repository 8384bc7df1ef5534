// Window-system contract (app/platform.h), entry services and the program
// entry in a web page (Emscripten): the canvas shows the frame buffer, page
// timeouts are the window timer and the clock and stop while the shell wants
// no tick. One page is one copy: there is no single-instance marker, no
// screen to fit and no quitting. Input is in input_web.cpp.
#include <emscripten.h>
#include <emscripten/eventloop.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "app/options.h"
#include "app/platform.h"
#include "app/shell.h"
#include "base/program.h"
#include "midi/input_queue.h"
#include "platform/web/window_web.h"
#include "render/frame_buffer.h"
#include "render/render_context.h"

WebLayer g_web;

namespace {

// The canvas's pixels as ImageData wants them: bytes R, G, B, A.
uint32_t g_rgba[FB_WIDTH * FB_HEIGHT];

// clang-format off
EM_JS(void, page_put_image, (const uint32_t* rgba, int x, int y, int w, int h), {
    const image = new ImageData(new Uint8ClampedArray(HEAPU8.buffer, rgba, 910 * 550 * 4), 910, 550);
    Module.zorvePage.context.putImageData(image, 0, 0, x, y, w, h);
});
EM_JS(void, page_panel_shown, (), { Module.zorvePage.shown(); });
EM_JS(void, page_set_capture, (bool on), { Module.zorvePage.setCapture(on); });
EM_JS(double, page_pixel_ratio, (), { return window.devicePixelRatio || 1; });
EM_JS(void, page_size_canvas, (int scale), { Module.zorvePage.sizeCanvas(scale); });
EM_JS(void, page_show_line, (const char* text), { Module.zorvePage.line(UTF8ToString(text)); });
EM_JS(char*, page_query, (), { return allocateUTF8(location.search); });
EM_JS(void, page_request_midi, (), { Module.zorvePage.requestMidi(); });
// clang-format on

// Runs as the window timer: the clock first, as its thread would have
// advanced it, then the tick.
void on_timeout(void*) {
    g_web.timer_pending = false;
    clock_callback();
    shell_timer();
    wake_web_timer();
}

void start_page() {
    std::vector<const char*> args;
    for (const std::string& word : g_web.words) args.push_back(word.c_str());
    ProgramOptions options;
    // Help, version, the lists and a wrong word end here, printed on the page.
    if (handle_command_line(int(args.size()), args.data(), OPTIONS_WEB, options) >= 0) return;
    g_web.asked_scale = options.scale;
    shell_set_scale(options.scale);
    // Input lights keys from the MIDI handler itself (ports_webmidi.cpp):
    // the writer is the window thread, so no wake-up is needed.
    input_queue_enable(options.show_input);
    run_program();
}

}  // namespace

void wake_web_timer() {
    if (!g_web.timer_on || g_web.timer_pending || !tick_wanted()) return;
    // The clock counts from now: after a sleep its first call would see a
    // gap and skip it, and the redraw would wait a timeout longer.
    clock_callback();
    g_web.timer_pending = true;
    emscripten_set_timeout(on_timeout, WINDOW_TIMER_MS, nullptr);
}

// Whole factors only, as --scale auto: each panel pixel is scale x scale
// device pixels, however many CSS pixels that is.
void fit_canvas() {
    const int dpi = int(std::lround(page_pixel_ratio() * 96));
    const int scale = g_web.asked_scale == SCALE_AUTO ? scale_for_dpi(dpi) : g_web.asked_scale;
    g_app.scale = scale;
    g_web.view = {0, 0, FB_WIDTH * scale, FB_HEIGHT * scale};
    page_size_canvas(scale);
}

// --------------------------------------------------------- window contract

uint32_t platform_time_ms() { return uint32_t(uint64_t(emscripten_get_now())); }

// Only what was drawn is copied; the canvas keeps the rest.
void platform_present(void*, bool frame_changed) {
    const Damage& damage = g_render.damage;
    for (int i = 0; i < damage.count; ++i) {
        const DamageRect& r = damage.rects[i];
        for (int y = r.y; y < r.y + r.h; ++y)
            for (int x = r.x; x < r.x + r.w; ++x)
                g_rgba[y * FB_WIDTH + x] = 0xFF000000u | to_colorref(g_render.pixels[y * FB_WIDTH + x]);
        page_put_image(g_rgba, r.x, r.y, r.w, r.h);
    }
    if (frame_changed && !g_web.panel_shown) {
        g_web.panel_shown = true;
        page_panel_shown();
    }
}

void platform_capture_mouse(void*) { page_set_capture(true); }
void platform_release_capture() { page_set_capture(false); }

void platform_start_window_timer(void*, int) {
    g_web.timer_on = true;
    wake_web_timer();
}

void platform_stop_window_timer(void*) { g_web.timer_on = false; }

// The clock advances in the window timer: a page has no other thread.
void platform_start_clock() {}
void platform_stop_clock() {}
void platform_post_quit(int) {}

bool platform_other_instance_running() { return false; }
void platform_release_instance_probe() {}
void platform_message_box(const char* caption, const char* text) {
    page_show_line((std::string(caption) + ": " + text).c_str());
}

// The canvas always holds the whole panel; the page scrolls when it is larger.
void platform_screen_size(int* width, int* height) {
    *width = FB_WIDTH;
    *height = FB_HEIGHT;
}

void* platform_create_window(int, int, bool* refused) {
    *refused = false;
    fit_canvas();
    void* window = &g_web;
    return shell_create(window) ? window : nullptr;
}

// The start-up fill now, the panel at the first tick: the shell asked for a
// full redraw after its timer started.
void platform_show_window(void* window) {
    platform_present(window, false);
    clear_damage(g_render);
    wake_web_timer();
}

// The page's events are the loop: main returns to the browser and the
// runtime stays, without unwinding run_program (the fonts stay made).
int platform_message_loop() {
    emscripten_exit_with_live_runtime();
    return 0;
}

// ------------------------------------------------------------------- entry

// Called by the page once Web MIDI has answered, yes or no.
extern "C" EMSCRIPTEN_KEEPALIVE void web_midi_ready() { start_page(); }

// The URL's query is the command line. Web MIDI is asked for first, when the
// options need devices: the answer comes later, and the contract's calls
// must then find the lists ready.
int main() {
    char* query = page_query();
    g_web.words = {PROGRAM_NAME};
    for (const std::string& word : words_from_query(query, OPTIONS_WEB)) g_web.words.push_back(word);
    free(query);
    std::vector<const char*> args;
    for (const std::string& word : g_web.words) args.push_back(word.c_str());
    const ProgramOptions options = parse_program_options(int(args.size()), args.data(), OPTIONS_WEB);
    const bool devices = options.action == ACTION_RUN || options.action == ACTION_LIST_DEVICES;
    if (devices && options.midi != MIDI_SYSTEM_NONE) {
        page_request_midi();
        emscripten_exit_with_live_runtime();
    }
    start_page();
    return 0;
}
