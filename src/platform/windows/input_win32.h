// Playing on Win32: key places from a key message's scan code, and touches
// from WM_POINTER messages (Windows 8 on), read through functions looked up
// at run time so the program still starts where they do not exist. Window
// thread only; main_win32.cpp hands the messages in.
#pragma once
#include <windows.h>

#include <cstdint>

#include "app/key_map.h"

// The place of the key a WM_KEYDOWN or WM_KEYUP names: its scan code in bits
// 16-23 of `lparam`, the E0 prefix (the arrows, the edit block, keypad
// Enter) in bit 24.
KeyPosition key_position_of(LPARAM lparam);
// Bit 30: the key was already down, so this WM_KEYDOWN is a repeat.
inline bool key_repeated(LPARAM lparam) { return (lparam & (LPARAM(1) << 30)) != 0; }

// The pointer functions of user32 (null where the system has none), so the
// tests can stand in for them.
struct PointerApi {
    BOOL(WINAPI* get_pointer_type)(UINT32 id, POINTER_INPUT_TYPE* type);
    BOOL(WINAPI* get_pointer_touch_info)(UINT32 id, POINTER_TOUCH_INFO* info);
    BOOL(WINAPI* get_pointer_pen_info)(UINT32 id, POINTER_PEN_INFO* info);
};
// user32's, looked up once.
const PointerApi& system_pointer_api();

enum TouchStep { TOUCH_NONE, TOUCH_DOWN, TOUCH_MOVE, TOUCH_UP, TOUCH_CANCEL };

// What a pointer message means for the panel. TOUCH_NONE: not a finger or a
// pen (the mouse sends its own messages), or no pointer message: the
// default window procedure has it. `x`, `y` are screen pixels (the
// message's), `pressure` 0..1, or negative where not measured.
struct TouchInput {
    TouchStep step;
    int64_t id;
    int x, y;
    float pressure;
};
TouchInput read_pointer_message(UINT msg, WPARAM wparam, LPARAM lparam, const PointerApi& api);

// A mouse message Windows made from a touch or a pen (GetMessageExtraInfo's
// signature): ignored where the pointer messages bring the touch itself.
constexpr bool promoted_from_touch(LPARAM extra_info) {
    return (uint32_t(uintptr_t(extra_info)) & 0xFFFFFF00u) == 0xFF515700u;
}
