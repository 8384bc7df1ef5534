// Playing, SDL layer: keys by place (SDL scancodes, which follow the key's
// position, not its label) into the shell's KeyPosition, and fingers (SDL2
// touch events, from X11 XInput 2.2 or Wayland) into the shell's touches.
// SDL's own touch-to-mouse and mouse-to-touch events are turned off, so a
// touch never arrives twice.
#include <SDL.h>

#include "app/shell.h"
#include "platform/linux/sdl/window_sdl.h"

void set_touch_hints() {
    SDL_SetHint(SDL_HINT_TOUCH_MOUSE_EVENTS, "0");
    SDL_SetHint(SDL_HINT_MOUSE_TOUCH_EVENTS, "0");
}

KeyPosition key_position(SDL_Scancode code) {
    // Rows of a US layout in SDL's scancode order, which is not the rows'.
    static constexpr struct {
        SDL_Scancode code;
        KeyPosition pos;
    } TABLE[] = {
        {SDL_SCANCODE_1, POS_1},
        {SDL_SCANCODE_2, POS_2},
        {SDL_SCANCODE_3, POS_3},
        {SDL_SCANCODE_4, POS_4},
        {SDL_SCANCODE_5, POS_5},
        {SDL_SCANCODE_6, POS_6},
        {SDL_SCANCODE_7, POS_7},
        {SDL_SCANCODE_8, POS_8},
        {SDL_SCANCODE_9, POS_9},
        {SDL_SCANCODE_0, POS_0},
        {SDL_SCANCODE_Q, POS_Q},
        {SDL_SCANCODE_W, POS_W},
        {SDL_SCANCODE_E, POS_E},
        {SDL_SCANCODE_R, POS_R},
        {SDL_SCANCODE_T, POS_T},
        {SDL_SCANCODE_Y, POS_Y},
        {SDL_SCANCODE_U, POS_U},
        {SDL_SCANCODE_I, POS_I},
        {SDL_SCANCODE_O, POS_O},
        {SDL_SCANCODE_P, POS_P},
        {SDL_SCANCODE_A, POS_A},
        {SDL_SCANCODE_S, POS_S},
        {SDL_SCANCODE_D, POS_D},
        {SDL_SCANCODE_F, POS_F},
        {SDL_SCANCODE_G, POS_G},
        {SDL_SCANCODE_H, POS_H},
        {SDL_SCANCODE_J, POS_J},
        {SDL_SCANCODE_K, POS_K},
        {SDL_SCANCODE_L, POS_L},
        {SDL_SCANCODE_SEMICOLON, POS_SEMICOLON},
        {SDL_SCANCODE_Z, POS_Z},
        {SDL_SCANCODE_X, POS_X},
        {SDL_SCANCODE_C, POS_C},
        {SDL_SCANCODE_V, POS_V},
        {SDL_SCANCODE_B, POS_B},
        {SDL_SCANCODE_N, POS_N},
        {SDL_SCANCODE_M, POS_M},
        {SDL_SCANCODE_COMMA, POS_COMMA},
        {SDL_SCANCODE_PERIOD, POS_PERIOD},
        {SDL_SCANCODE_SLASH, POS_SLASH},
        {SDL_SCANCODE_SPACE, POS_SPACE},
        {SDL_SCANCODE_F1, POS_F1},
        {SDL_SCANCODE_F2, POS_F2},
        {SDL_SCANCODE_F3, POS_F3},
        {SDL_SCANCODE_F4, POS_F4},
        {SDL_SCANCODE_F5, POS_F5},
        {SDL_SCANCODE_F6, POS_F6},
        {SDL_SCANCODE_F7, POS_F7},
        {SDL_SCANCODE_F8, POS_F8},
        {SDL_SCANCODE_F9, POS_F9},
        {SDL_SCANCODE_F10, POS_F10},
        {SDL_SCANCODE_KP_0, POS_KP_0},
        {SDL_SCANCODE_KP_1, POS_KP_1},
        {SDL_SCANCODE_KP_2, POS_KP_2},
        {SDL_SCANCODE_KP_3, POS_KP_3},
        {SDL_SCANCODE_KP_4, POS_KP_4},
        {SDL_SCANCODE_KP_5, POS_KP_5},
        {SDL_SCANCODE_KP_6, POS_KP_6},
        {SDL_SCANCODE_KP_7, POS_KP_7},
        {SDL_SCANCODE_KP_8, POS_KP_8},
        {SDL_SCANCODE_KP_9, POS_KP_9},
        {SDL_SCANCODE_KP_PLUS, POS_KP_PLUS},
        {SDL_SCANCODE_KP_MINUS, POS_KP_MINUS},
        {SDL_SCANCODE_KP_ENTER, POS_KP_ENTER},
        {SDL_SCANCODE_INSERT, POS_INSERT},
        {SDL_SCANCODE_HOME, POS_HOME},
        {SDL_SCANCODE_PAGEUP, POS_PAGE_UP},
        {SDL_SCANCODE_DELETE, POS_DELETE},
        {SDL_SCANCODE_END, POS_END},
        {SDL_SCANCODE_PAGEDOWN, POS_PAGE_DOWN},
        {SDL_SCANCODE_LEFT, POS_LEFT},
        {SDL_SCANCODE_RIGHT, POS_RIGHT},
        {SDL_SCANCODE_UP, POS_UP},
        {SDL_SCANCODE_DOWN, POS_DOWN},
        {SDL_SCANCODE_ESCAPE, POS_ESCAPE},
    };
    for (const auto& row : TABLE)
        if (row.code == code) return row.pos;
    return POS_NONE;
}

// SDL gives a finger's place as a fraction of the window: the pixel is
// x * (w - 1), y * (h - 1). On X11 it reports a pressure of 1.0 for every
// touch, which measures nothing; a pressure below that is a measurement.
void translate_touch(const SDL_TouchFingerEvent& e) {
    if (!g_sdl.window || e.windowID != SDL_GetWindowID(g_sdl.window)) return;
    int w = 0, h = 0;
    SDL_GetWindowSize(g_sdl.window, &w, &h);
    const uint32_t at = panel_pointer(int(e.x * float(w - 1) + 0.5f), int(e.y * float(h - 1) + 0.5f));
    switch (e.type) {
        case SDL_FINGERDOWN:
            shell_touch_down(e.fingerId, at, e.pressure > 0 && e.pressure < 1 ? e.pressure : -1);
            break;
        case SDL_FINGERMOTION: shell_touch_move(e.fingerId, at); break;
        case SDL_FINGERUP: shell_touch_up(e.fingerId); break;
        default: break;
    }
}
