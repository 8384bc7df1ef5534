// Input, SDL layer: SDL events translated into the shell's calls (pointer
// positions into panel pixels, keys by position into the shell's key set),
// and the mouse capture the shell asks for, taken only when it matters.
#include <SDL.h>

#include <cstdint>

#include "app/shell.h"
#include "platform/linux/sdl/window_sdl.h"

namespace {

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

}  // namespace

uint32_t panel_pointer(int x, int y) {
    const Point p = view_to_panel(g_sdl.view, x, y);
    return pack_pointer(p.x, p.y);
}

// After each event, before the next one is read.
void apply_capture() {
    if (!g_sdl.captured || g_sdl.capture_wanted) return;
    SDL_CaptureMouse(SDL_FALSE);
    g_sdl.captured = false;
}

namespace {

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
        case SDL_WINDOWEVENT_EXPOSED: present_now(); break;
        case SDL_WINDOWEVENT_SIZE_CHANGED:
            update_view();
            present_now();
            break;
        // No release reaches a window that lost the focus, or is hidden,
        // while a button, key or finger is held.
        case SDL_WINDOWEVENT_FOCUS_LOST:
        case SDL_WINDOWEVENT_HIDDEN:
        case SDL_WINDOWEVENT_MINIMIZED: shell_release_all(); break;
        case SDL_WINDOWEVENT_LEAVE: take_capture_on_leave(); break;
        default: break;
    }
}

}  // namespace

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
        case SDL_KEYDOWN:
            shell_key_pressed(key_code(e.key.keysym.scancode), key_position(e.key.keysym.scancode), e.key.repeat != 0,
                              (e.key.keysym.mod & KMOD_SHIFT) != 0);
            break;
        case SDL_KEYUP: shell_key_released(key_position(e.key.keysym.scancode)); break;
        case SDL_FINGERDOWN:
        case SDL_FINGERMOTION:
        case SDL_FINGERUP: translate_touch(e.tfinger); break;
        case SDL_SYSWMEVENT:
            if (x11_keyboard_grabbed_away(*e.syswm.msg)) shell_release_all();
            break;
        case SDL_DROPFILE:
        case SDL_DROPTEXT: SDL_free(e.drop.file); break;  // accepted and ignored
        default: break;
    }
}

// See take_capture_on_leave: no X request on the way from a press to its
// MIDI, or at all while the pointer stays in the window.
void platform_capture_mouse(void*) { g_sdl.capture_wanted = true; }

void platform_release_capture() { g_sdl.capture_wanted = false; }
