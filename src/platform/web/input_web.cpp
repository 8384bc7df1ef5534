// Input in a web page: what the page's pointer, wheel, key and focus
// listeners (page.js) call, turned into the shell's calls as the native
// layers turn theirs. The mouse is one pointer with capture; touches and
// pens are fingers, each by its pointer id; keys come by KeyboardEvent.code,
// the key's place whatever the layout prints on it. Positions arrive in the
// canvas's device pixels and go through the view.
#include <emscripten.h>

#include <cstring>

#include "app/app_state.h"
#include "app/shell.h"
#include "app/view.h"
#include "platform/web/window_web.h"

namespace {

uint32_t panel_pointer(int x, int y) {
    const Point p = view_to_panel(g_web.view, x, y);
    return pack_pointer(p.x, p.y);
}

struct CodeKey {
    const char* code;
    KeyPosition pos;
    KeyCode key;  // what the key does without --keys, or where --keys leaves it alone
};

// KeyboardEvent.code names a key by its place on a US layout, as KeyPosition
// does. Enter and Backspace have no place in the map but edit the panel.
// clang-format off
constexpr CodeKey CODE_KEYS[] = {
    {"Digit1", POS_1, KeyCode(KEY_DIGIT_0 + 1)}, {"Digit2", POS_2, KeyCode(KEY_DIGIT_0 + 2)},
    {"Digit3", POS_3, KeyCode(KEY_DIGIT_0 + 3)}, {"Digit4", POS_4, KeyCode(KEY_DIGIT_0 + 4)},
    {"Digit5", POS_5, KeyCode(KEY_DIGIT_0 + 5)}, {"Digit6", POS_6, KeyCode(KEY_DIGIT_0 + 6)},
    {"Digit7", POS_7, KeyCode(KEY_DIGIT_0 + 7)}, {"Digit8", POS_8, KeyCode(KEY_DIGIT_0 + 8)},
    {"Digit9", POS_9, KEY_DIGIT_9},              {"Digit0", POS_0, KEY_DIGIT_0},
    {"KeyQ", POS_Q, KEY_NONE}, {"KeyW", POS_W, KEY_NONE}, {"KeyE", POS_E, KEY_NONE}, {"KeyR", POS_R, KEY_NONE},
    {"KeyT", POS_T, KEY_NONE}, {"KeyY", POS_Y, KEY_NONE}, {"KeyU", POS_U, KEY_NONE}, {"KeyI", POS_I, KEY_NONE},
    {"KeyO", POS_O, KEY_NONE}, {"KeyP", POS_P, KEY_NONE},
    {"KeyA", POS_A, KEY_NONE}, {"KeyS", POS_S, KEY_NONE}, {"KeyD", POS_D, KEY_NONE}, {"KeyF", POS_F, KEY_NONE},
    {"KeyG", POS_G, KEY_NONE}, {"KeyH", POS_H, KEY_NONE}, {"KeyJ", POS_J, KEY_NONE}, {"KeyK", POS_K, KEY_NONE},
    {"KeyL", POS_L, KEY_NONE}, {"Semicolon", POS_SEMICOLON, KEY_NONE},
    {"KeyZ", POS_Z, KEY_NONE}, {"KeyX", POS_X, KEY_NONE}, {"KeyC", POS_C, KEY_NONE}, {"KeyV", POS_V, KEY_NONE},
    {"KeyB", POS_B, KEY_NONE}, {"KeyN", POS_N, KEY_NONE}, {"KeyM", POS_M, KEY_NONE},
    {"Comma", POS_COMMA, KEY_NONE}, {"Period", POS_PERIOD, KEY_NONE}, {"Slash", POS_SLASH, KEY_NONE},
    {"Space", POS_SPACE, KEY_NONE},
    {"F1", POS_F1, KEY_NONE}, {"F2", POS_F2, KEY_NONE}, {"F3", POS_F3, KEY_NONE}, {"F4", POS_F4, KEY_NONE},
    {"F5", POS_F5, KEY_NONE}, {"F6", POS_F6, KEY_NONE}, {"F7", POS_F7, KEY_NONE}, {"F8", POS_F8, KEY_NONE},
    {"F9", POS_F9, KEY_NONE}, {"F10", POS_F10, KEY_NONE},
    {"Numpad0", POS_KP_0, KEY_KEYPAD_0},              {"Numpad1", POS_KP_1, KeyCode(KEY_KEYPAD_0 + 1)},
    {"Numpad2", POS_KP_2, KeyCode(KEY_KEYPAD_0 + 2)}, {"Numpad3", POS_KP_3, KeyCode(KEY_KEYPAD_0 + 3)},
    {"Numpad4", POS_KP_4, KeyCode(KEY_KEYPAD_0 + 4)}, {"Numpad5", POS_KP_5, KeyCode(KEY_KEYPAD_0 + 5)},
    {"Numpad6", POS_KP_6, KeyCode(KEY_KEYPAD_0 + 6)}, {"Numpad7", POS_KP_7, KeyCode(KEY_KEYPAD_0 + 7)},
    {"Numpad8", POS_KP_8, KeyCode(KEY_KEYPAD_0 + 8)}, {"Numpad9", POS_KP_9, KEY_KEYPAD_9},
    {"NumpadAdd", POS_KP_PLUS, KEY_NONE}, {"NumpadSubtract", POS_KP_MINUS, KEY_NONE},
    {"NumpadEnter", POS_KP_ENTER, KEY_ENTER},
    {"Insert", POS_INSERT, KEY_NONE}, {"Home", POS_HOME, KEY_NONE}, {"PageUp", POS_PAGE_UP, KEY_NONE},
    {"Delete", POS_DELETE, KEY_DELETE}, {"End", POS_END, KEY_NONE}, {"PageDown", POS_PAGE_DOWN, KEY_NONE},
    {"ArrowLeft", POS_LEFT, KEY_NONE}, {"ArrowRight", POS_RIGHT, KEY_NONE},
    {"ArrowUp", POS_UP, KEY_UP}, {"ArrowDown", POS_DOWN, KEY_DOWN},
    {"Escape", POS_ESCAPE, KEY_ESCAPE},
    {"Enter", POS_NONE, KEY_ENTER}, {"Backspace", POS_NONE, KEY_BACKSPACE},
};
// clang-format on

const CodeKey* code_key(const char* code) {
    for (const CodeKey& k : CODE_KEYS)
        if (std::strcmp(code, k.code) == 0) return &k;
    return nullptr;
}

// PointerEvent.button 0 left, 1 middle, 2 right; its bit in .buttons.
constexpr int BUTTON_BIT[3] = {1, 4, 2};
enum PointerStep { POINTER_DOWN, POINTER_MOVE, POINTER_UP };

void mouse_button(int button, bool down, uint32_t at) {
    switch (button) {
        case 0: down ? shell_left_down(at) : shell_left_up(); break;
        case 1: down ? shell_middle_down() : shell_middle_up(); break;
        case 2: down ? shell_right_down(at) : shell_right_up(); break;
        default: break;
    }
}

}  // namespace

extern "C" {

// A mouse pointer event: `step` a PointerStep, `button` and `buttons` the
// event's. A pointerdown is only a chord's first button and a pointerup its
// last; a button pressed or let go between them comes as a pointermove that
// names it.
EMSCRIPTEN_KEEPALIVE void web_mouse(int step, int button, int buttons, int x, int y) {
    const uint32_t at = panel_pointer(x, y);
    if (button < 0 || button > 2)
        shell_mouse_move(at);
    else
        mouse_button(button, step == POINTER_DOWN || (step == POINTER_MOVE && (buttons & BUTTON_BIT[button])), at);
    wake_web_timer();
}

// A touch or a pen by its pointer id. PointerEvent.pressure is 0.5 where the
// device measures none, and Chromium's touch emulation reports 1: only a
// value between 0 and 1 other than 0.5 is a measurement.
EMSCRIPTEN_KEEPALIVE void web_finger(int step, int id, int x, int y, double pressure) {
    const uint32_t at = panel_pointer(x, y);
    const bool measured = pressure > 0 && pressure < 1 && pressure != 0.5;
    switch (step) {
        case POINTER_DOWN: shell_touch_down(id, at, measured ? float(pressure) : -1.0f); break;
        case POINTER_MOVE: shell_touch_move(id, at); break;
        case POINTER_UP: shell_touch_up(id); break;
        default: break;
    }
    wake_web_timer();
}

// Whole wheel steps, positive away from the user (the page folds fine
// scrolling into steps).
EMSCRIPTEN_KEEPALIVE void web_wheel(int steps) {
    for (; steps > 0; --steps) shell_wheel(120);
    for (; steps < 0; ++steps) shell_wheel(-120);
    wake_web_timer();
}

// A keydown (`repeat` as the event says) or keyup. True when the panel takes
// the key, so the page keeps the browser from acting on it too: with --keys
// every key with a place (each is mapped, the data wheel or the panic key).
EMSCRIPTEN_KEEPALIVE bool web_key(const char* code, bool down, bool repeat, bool shift) {
    const CodeKey* k = code_key(code);
    if (!k) return false;
    if (down)
        shell_key_pressed(k->key, k->pos, repeat, shift);
    else
        shell_key_released(k->pos);
    wake_web_timer();
    return k->key != KEY_NONE || (g_app.play_keys && k->pos != POS_NONE);
}

// The page lost the focus or was hidden, or the system cancelled a touch: no
// release will come for anything held.
EMSCRIPTEN_KEEPALIVE void web_release_all() {
    shell_release_all();
    wake_web_timer();
}

// The canvas lost the mouse's capture while a button was down.
EMSCRIPTEN_KEEPALIVE void web_capture_lost() {
    shell_capture_lost();
    wake_web_timer();
}

// The device's pixel ratio changed (zoom, another screen).
EMSCRIPTEN_KEEPALIVE void web_refit() { fit_canvas(); }

}  // extern "C"
