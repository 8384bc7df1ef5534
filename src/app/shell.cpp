// The shell: what each window message causes, the start-up and tear-down of
// the main window, and the program entry. Platform layers only translate
// their native messages into these calls.
#include "app/shell.h"

#include <algorithm>
#include <iterator>

#include "app/app_state.h"
#include "app/options.h"
#include "app/platform.h"
#include "base/program.h"
#include "midi/device_table.h"
#include "midi/input_queue.h"
#include "panel/panel.h"
#include "render/frame_buffer.h"
#include "render/primitives.h"
#include "render/render_context.h"

namespace {

bool g_window_ready = false;  // start-up completed; tear-down undoes only then

int pointer_coord(uint32_t v) { return v > 32767 ? 0 : int(v); }

Point unpack_pointer(uint32_t position) { return {pointer_coord(position & 0xFFFF), pointer_coord(position >> 16)}; }

void store_pointer(uint32_t position) { g_panel.pointer = unpack_pointer(position); }

bool middle_held() { return g_app.wheel_step != 1; }

// Capture changes the program makes itself are not losses: the platform may
// report them synchronously while the held flags are still being updated.
void capture() {
    g_app.own_capture_change = true;
    platform_capture_mouse(g_app.window);
    g_app.own_capture_change = false;
}

// The capture is kept while another button is still down, so that button's
// release still arrives when the pointer has left the window.
void release_capture_unless(bool other_button_held) {
    if (other_button_held) return;
    g_app.own_capture_change = true;
    platform_release_capture();
    g_app.own_capture_change = false;
}

// A release the platform will never deliver: let the held key send its 0.
void release_held_left() {
    if (!g_app.left_held) return;
    g_app.left_held = 0;
    post_event(EV_LEFT_UP, 0);
    mark_dirty(REDRAW_FULL);
}

// Left and right buttons alike: capture, store the position, hold, post,
// and mark the panel for a redraw.
void button_down(int32_t& held, int event, uint32_t position) {
    capture();
    store_pointer(position);
    held = 1;
    post_event(event, 0);
    mark_dirty(REDRAW_FULL);
}

// The release is tested at the last stored position, not the release's own.
void button_up(int32_t& held, int event, bool other_button_held) {
    release_capture_unless(other_button_held);
    held = 0;
    post_event(event, 0);
    mark_dirty(REDRAW_FULL);
}

// Every key any source holds is let go; the fingers and keys down now are
// forgotten, so their later lifts and releases send nothing.
void let_go_everything() {
    let_go_all(HOLD_ANY, true);
    for (bool& down : g_app.key_down) down = false;
    for (AppState::Finger& f : g_app.fingers) f = {};
    mark_dirty(REDRAW_FULL);
}

AppState::Finger* finger_of(int64_t id) {
    for (AppState::Finger& f : g_app.fingers)
        if (f.down && f.id == id) return &f;
    return nullptr;
}

uint32_t finger_bit(const AppState::Finger& f) { return hold_finger(int(&f - g_app.fingers)); }

}  // namespace

bool shell_create(void* window) {
    g_app.window = window;
    if (!create_frame_buffer(g_render, window)) return false;
    platform_start_window_timer(window, WINDOW_TIMER_MS);
    open_devices(g_app.devices);
    g_panel.devices = &g_app.devices;
    platform_start_clock();
    fill_rect(g_render, 0, 0, FB_WIDTH, FB_HEIGHT, START_FILL_COLOR);
    add_damage(g_render, 0, 0, FB_WIDTH, FB_HEIGHT);
    forget_panel_drawing();
    for (int k = 0; k < PORT_COUNT; ++k) g_panel.port_enable[k] = g_app.start_enable[k] ? 1 : 0;
    g_app.redraw_flags = REDRAW_FULL;
    g_window_ready = true;
    return true;
}

void shell_destroy() {
    if (!g_window_ready) return;
    release_held_left();
    let_go_everything();
    platform_stop_clock();
    platform_stop_window_timer(g_app.window);
    destroy_frame_buffer(g_render);
    g_window_ready = false;
    platform_post_quit(0);
}

void shell_mouse_move(uint32_t position) {
    store_pointer(position);
    if (g_app.left_held || g_app.right_held) {
        // A drag that released a key shows it released at the next tick, as
        // the MIDI already says; the redraw repaints only that key.
        int16_t before[KEY_COUNT];
        std::copy(std::begin(g_panel.pressed), std::end(g_panel.pressed), before);
        post_event(g_app.left_held ? EV_LEFT_DRAG : EV_RIGHT_DRAG, 0);
        if (!std::equal(std::begin(before), std::end(before), std::begin(g_panel.pressed))) mark_dirty(REDRAW_FULL);
    }
    post_event(EV_MOVE, 0);
}

void shell_left_down(uint32_t position) { button_down(g_app.left_held, EV_LEFT_DOWN, position); }
void shell_left_up() { button_up(g_app.left_held, EV_LEFT_UP, g_app.right_held || middle_held()); }
void shell_right_down(uint32_t position) { button_down(g_app.right_held, EV_RIGHT_DOWN, position); }
void shell_right_up() { button_up(g_app.right_held, EV_RIGHT_UP, g_app.left_held || middle_held()); }

void shell_middle_down() {
    g_app.wheel_step = 10;
    capture();
}

void shell_middle_up() {
    g_app.wheel_step = 1;
    release_capture_unless(g_app.left_held || g_app.right_held);
}

void shell_wheel(int32_t delta) {
    post_event(EV_WHEEL, delta < 0 ? g_app.wheel_step : -g_app.wheel_step);
    mark_dirty(REDRAW_FULL);
}

void shell_key_down(KeyCode key) {
    if (key >= KEY_DIGIT_0 && key <= KEY_DIGIT_9) {
        post_event(EV_KEY, key - KEY_DIGIT_0);
    } else if (key >= KEY_KEYPAD_0 && key <= KEY_KEYPAD_9) {
        post_event(EV_KEY, key - KEY_KEYPAD_0);
    } else if (key == KEY_ENTER) {
        post_event(EV_KEY, 10);
    } else if (key == KEY_BACKSPACE || key == KEY_DELETE) {
        post_event(EV_KEY, 11);
    } else if (key == KEY_ESCAPE) {
        post_event(EV_CANCEL, 0);
    } else if (key == KEY_UP || key == KEY_DOWN) {
        // The arrows step by one whatever the wheel step.
        post_event(EV_WHEEL, key == KEY_UP ? 1 : -1);
        mark_dirty(REDRAW_FULL);
    }
}

void shell_key_pressed(KeyCode key, KeyPosition pos, bool repeat, bool shift) {
    const int panel_key = g_app.play_keys ? mapped_key(pos) : -1;
    if (panel_key >= 0 || (g_app.play_keys && pos == POS_ESCAPE)) {
        if (repeat || g_app.key_down[pos]) return;
        if (panel_key < 0) {
            let_go_everything();
            send_all_notes_off();
        } else {
            const int velocity = g_panel.velocity_from_position ? (shift ? 127 : 100) : g_panel.velocity;
            hold_key(panel_key, HOLD_KEYBOARD, velocity);
            mark_dirty(REDRAW_FULL);
        }
        g_app.key_down[pos] = true;
        return;
    }
    shell_key_down(key);
}

void shell_key_released(KeyPosition pos) {
    if (!g_app.key_down[pos]) return;
    g_app.key_down[pos] = false;
    const int panel_key = mapped_key(pos);
    if (panel_key < 0) return;
    // Another key down that plays the same panel key keeps holding it.
    for (int other = 0; other < POS_COUNT; ++other)
        if (g_app.key_down[other] && mapped_key(KeyPosition(other)) == panel_key) return;
    let_go_key(panel_key, HOLD_KEYBOARD);
    mark_dirty(REDRAW_FULL);
}

void shell_touch_down(int64_t finger, uint32_t position, float pressure) {
    if (finger_of(finger)) return;
    AppState::Finger* slot = nullptr;
    for (AppState::Finger& f : g_app.fingers)
        if (!f.down && !slot) slot = &f;
    if (!slot) return;
    const Point at = unpack_pointer(position);
    *slot = {true, finger, key_at(at)};
    if (slot->key < 0) {
        if (toggle_port_switch_at(at)) mark_dirty(REDRAW_FULL);
        return;
    }
    const bool measured = g_panel.velocity_from_position && pressure > 0;
    const int velocity = measured ? std::clamp(int(pressure * 127 + 0.5f), 1, 127) : press_velocity(slot->key, at);
    hold_key(slot->key, finger_bit(*slot), velocity);
    mark_dirty(REDRAW_FULL);
}

void shell_touch_move(int64_t finger, uint32_t position) {
    AppState::Finger* f = finger_of(finger);
    if (!f || f->key < 0 || rect_contains(KeyTable[f->key].rect, unpack_pointer(position))) return;
    let_go_key(f->key, finger_bit(*f));
    f->key = -1;
    mark_dirty(REDRAW_FULL);
}

void shell_touch_up(int64_t finger) {
    AppState::Finger* f = finger_of(finger);
    if (!f) return;
    if (f->key >= 0) let_go_key(f->key, finger_bit(*f));
    *f = {};
    mark_dirty(REDRAW_FULL);
}

void shell_release_all() {
    release_held_left();
    let_go_everything();
}

int shell_set_cursor() { return post_event(EV_SET_CURSOR, 0); }

void shell_timer() { on_tick(); }

void shell_capture_lost() {
    if (g_app.own_capture_change) return;
    release_held_left();
}

void shell_midi_input() {
    uint32_t messages[64];
    bool changed = false;
    size_t n = 0;
    do {
        n = input_queue_take(messages, std::size(messages));
        for (size_t i = 0; i < n; ++i) changed = light_from_input(messages[i]) || changed;
    } while (n == std::size(messages));
    if (changed) mark_dirty(REDRAW_FULL);
}

uint32_t pack_pointer(int x, int y) {
    const auto word = [](int v) { return uint32_t(std::clamp(v, -32768, 32767)) & 0xFFFF; };
    return word(x) | word(y) << 16;
}

void shell_set_scale(int option_scale) {
    g_app.scale_auto = option_scale == SCALE_AUTO;
    g_app.scale = g_app.scale_auto ? 1 : option_scale;
}

void window_size(int screen_w, int screen_h, int* w, int* h) {
    *w = std::min(screen_w, FB_WIDTH);
    *h = std::min(screen_h, FB_HEIGHT);
}

std::string instance_display_name(const char* x_display, const char* wayland_display, const char* video_driver) {
    const bool want_wayland = video_driver && std::string(video_driver) == "wayland";
    std::string name;
    if (x_display && *x_display && !want_wayland) {
        name = x_display;
        if (name.rfind("unix:", 0) == 0) name.erase(0, 4);
        const size_t colon = name.rfind(':');
        const size_t dot = colon == std::string::npos ? colon : name.find('.', colon);
        if (dot != std::string::npos) name.erase(dot);
    } else {
        name = wayland_display && *wayland_display ? wayland_display : "wayland-0";
    }
    std::replace(name.begin(), name.end(), '/', '_');
    return name;
}

int run_entry() {
    if (platform_other_instance_running()) {
        platform_message_box(SECOND_INSTANCE_CAPTION, SECOND_INSTANCE_TEXT);
        platform_release_instance_probe();
        return EXIT_SECOND_COPY;
    }
    int screen_w = 0, screen_h = 0;
    platform_screen_size(&screen_w, &screen_h);
    int w = 0, h = 0;
    window_size(screen_w, screen_h, &w, &h);
    bool refused = false;
    void* window = platform_create_window(w, h, &refused);
    // Deliberately silent and successful: a window system that turns the
    // program away ends it without a word, as it always has; callers rely on 0.
    if (refused) return 0;
    if (!window) {
        report_error("the main window could not be created");
        return 2;
    }
    platform_show_window(window);
    return platform_message_loop();
}

int run_program() {
    create_fonts(g_render);
    const int status = run_entry();
    release_fonts(g_render);
    return status;
}
