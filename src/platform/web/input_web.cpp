// Input in a web page: what the page's pointer, wheel, key and focus
// listeners (page.js) call. One mouse with capture, as the shell wants it;
// positions arrive in the canvas's device pixels and go through the view.
// Key codes are KeyboardEvent.code, the key's place, translated here.
#include <emscripten.h>

#include <cstring>

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
    KeyCode key;
};
constexpr CodeKey CODE_KEYS[] = {
    {"Enter", KEY_ENTER},   {"NumpadEnter", KEY_ENTER}, {"Backspace", KEY_BACKSPACE}, {"Delete", KEY_DELETE},
    {"Escape", KEY_ESCAPE}, {"ArrowUp", KEY_UP},        {"ArrowDown", KEY_DOWN},
};

// "Digit0".."Digit9" and "Numpad0".."Numpad9" by place, whatever the layout
// types there; the rest from the table.
KeyCode key_code(const char* code) {
    const size_t n = std::strlen(code);
    const char last = n ? code[n - 1] : 0;
    if (n == 6 && std::strncmp(code, "Digit", 5) == 0 && last >= '0' && last <= '9')
        return KeyCode(KEY_DIGIT_0 + (last - '0'));
    if (n == 7 && std::strncmp(code, "Numpad", 6) == 0 && last >= '0' && last <= '9')
        return KeyCode(KEY_KEYPAD_0 + (last - '0'));
    for (const CodeKey& k : CODE_KEYS)
        if (std::strcmp(code, k.code) == 0) return k.key;
    return KEY_NONE;
}

}  // namespace

// Buttons by PointerEvent.button: 0 left, 1 middle, 2 right.
extern "C" {

EMSCRIPTEN_KEEPALIVE void web_pointer_move(int x, int y) {
    shell_mouse_move(panel_pointer(x, y));
    wake_web_timer();
}

EMSCRIPTEN_KEEPALIVE void web_button_down(int button, int x, int y) {
    if (button == 0) shell_left_down(panel_pointer(x, y));
    if (button == 1) shell_middle_down();
    if (button == 2) shell_right_down(panel_pointer(x, y));
    wake_web_timer();
}

EMSCRIPTEN_KEEPALIVE void web_button_up(int button) {
    if (button == 0) shell_left_up();
    if (button == 1) shell_middle_up();
    if (button == 2) shell_right_up();
    wake_web_timer();
}

// Whole wheel steps, positive away from the user (the page folds fine
// scrolling into steps).
EMSCRIPTEN_KEEPALIVE void web_wheel(int steps) {
    for (; steps > 0; --steps) shell_wheel(120);
    for (; steps < 0; ++steps) shell_wheel(-120);
    wake_web_timer();
}

// True when the panel takes the key, so the page keeps it from scrolling.
EMSCRIPTEN_KEEPALIVE bool web_key_down(const char* code) {
    const KeyCode key = key_code(code);
    if (key == KEY_NONE) return false;
    shell_key_down(key);
    wake_web_timer();
    return true;
}

// The page lost the focus, was hidden, or the canvas lost its capture: no
// release will come for what is held.
EMSCRIPTEN_KEEPALIVE void web_focus_lost() {
    shell_capture_lost();
    wake_web_timer();
}

// The device's pixel ratio changed (zoom, another screen).
EMSCRIPTEN_KEEPALIVE void web_refit() { fit_canvas(); }

}  // extern "C"
