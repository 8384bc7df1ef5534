// Playing on Win32 (input_win32.h): scan codes into key places, WM_POINTER
// into touches. Scan codes are the PC keyboard's set 1, the same on every
// layout, which is what makes the map follow places rather than labels.
#include "platform/windows/input_win32.h"

namespace {

// Set 1 codes without the E0 prefix, from 0x01 (Escape) to 0x53 (keypad .).
constexpr KeyPosition PLAIN[0x54] = {
    POS_NONE,   POS_ESCAPE,    POS_1,    POS_2,        POS_3,    POS_4,    POS_5,    POS_6,
    POS_7,      POS_8,         POS_9,    POS_0,     // 00-0B
    POS_NONE,   POS_NONE,      POS_NONE, POS_NONE,  // - = BS Tab
    POS_Q,      POS_W,         POS_E,    POS_R,        POS_T,    POS_Y,    POS_U,    POS_I,
    POS_O,      POS_P,                              // 10-19
    POS_NONE,   POS_NONE,      POS_NONE, POS_NONE,  // [ ] Enter Ctrl
    POS_A,      POS_S,         POS_D,    POS_F,        POS_G,    POS_H,    POS_J,    POS_K,
    POS_L,      POS_SEMICOLON,                      // 1E-27
    POS_NONE,   POS_NONE,      POS_NONE, POS_NONE,  // ' ` Shift backslash
    POS_Z,      POS_X,         POS_C,    POS_V,        POS_B,    POS_N,    POS_M,    POS_COMMA,
    POS_PERIOD, POS_SLASH,                // 2C-35
    POS_NONE,   POS_NONE,      POS_NONE,  // Shift, keypad *, Alt
    POS_SPACE,  POS_NONE,                 // 39, Caps Lock
    POS_F1,     POS_F2,        POS_F3,   POS_F4,       POS_F5,   POS_F6,   POS_F7,   POS_F8,
    POS_F9,     POS_F10,   // 3B-44
    POS_NONE,   POS_NONE,  // Num Lock, Scroll Lock
    POS_KP_7,   POS_KP_8,      POS_KP_9, POS_KP_MINUS, POS_KP_4, POS_KP_5, POS_KP_6, POS_KP_PLUS,  // 47-4E
    POS_KP_1,   POS_KP_2,      POS_KP_3, POS_KP_0,     POS_NONE,                                   // 4F-53
};

KeyPosition extended_position(unsigned code) {
    switch (code) {
        case 0x1C: return POS_KP_ENTER;
        case 0x47: return POS_HOME;
        case 0x48: return POS_UP;
        case 0x49: return POS_PAGE_UP;
        case 0x4B: return POS_LEFT;
        case 0x4D: return POS_RIGHT;
        case 0x4F: return POS_END;
        case 0x50: return POS_DOWN;
        case 0x51: return POS_PAGE_DOWN;
        case 0x52: return POS_INSERT;
        case 0x53: return POS_DELETE;
        default: return POS_NONE;
    }
}

// Pointer messages and flags by number: the headers offer them only to
// programs that require Windows 8.
constexpr UINT MSG_POINTER_UPDATE = 0x0245, MSG_POINTER_DOWN = 0x0246, MSG_POINTER_UP = 0x0247;
constexpr UINT MSG_POINTER_CAPTURE_CHANGED = 0x024C;
constexpr DWORD FLAG_CANCELED = 0x8000;  // the high word of wparam: the system cancelled the contact
constexpr DWORD TYPE_TOUCH = 2, TYPE_PEN = 3;
constexpr DWORD TOUCH_PRESSURE = 0x4, PEN_PRESSURE = 0x1;  // the info's mask bits
constexpr float FULL_PRESSURE = 1024.0f;

template <typename F>
F user32_function(const char* name) {
    return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("user32.dll"), name)));
}

}  // namespace

KeyPosition key_position_of(LPARAM lparam) {
    const unsigned code = unsigned(lparam >> 16) & 0xFF;
    if (lparam & (LPARAM(1) << 24)) return extended_position(code);
    return code < sizeof PLAIN / sizeof PLAIN[0] ? PLAIN[code] : POS_NONE;
}

const PointerApi& system_pointer_api() {
    static const PointerApi api{
        user32_function<decltype(PointerApi::get_pointer_type)>("GetPointerType"),
        user32_function<decltype(PointerApi::get_pointer_touch_info)>("GetPointerTouchInfo"),
        user32_function<decltype(PointerApi::get_pointer_pen_info)>("GetPointerPenInfo"),
    };
    return api;
}

TouchInput read_pointer_message(UINT msg, WPARAM wparam, LPARAM lparam, const PointerApi& api) {
    TouchInput in{TOUCH_NONE, int64_t(LOWORD(wparam)), int(int16_t(LOWORD(lparam))), int(int16_t(HIWORD(lparam))),
                  -1.0f};
    if (msg != MSG_POINTER_UPDATE && msg != MSG_POINTER_DOWN && msg != MSG_POINTER_UP &&
        msg != MSG_POINTER_CAPTURE_CHANGED)
        return in;
    POINTER_INPUT_TYPE type = 0;
    if (!api.get_pointer_type || !api.get_pointer_type(UINT32(in.id), &type) ||
        (type != TYPE_TOUCH && type != TYPE_PEN))
        return in;
    if (msg == MSG_POINTER_CAPTURE_CHANGED || (HIWORD(wparam) & FLAG_CANCELED)) {
        in.step = TOUCH_CANCEL;
        return in;
    }
    in.step = msg == MSG_POINTER_DOWN ? TOUCH_DOWN : msg == MSG_POINTER_UP ? TOUCH_UP : TOUCH_MOVE;
    // Both report 0..1024 where the device measures it; 0 is no reading.
    UINT32 pressure = 0;
    if (type == TYPE_TOUCH) {
        POINTER_TOUCH_INFO info{};
        if (api.get_pointer_touch_info && api.get_pointer_touch_info(UINT32(in.id), &info) &&
            (info.touchMask & TOUCH_PRESSURE))
            pressure = info.pressure;
    } else {
        POINTER_PEN_INFO info{};
        if (api.get_pointer_pen_info && api.get_pointer_pen_info(UINT32(in.id), &info) && (info.penMask & PEN_PRESSURE))
            pressure = info.pressure;
    }
    if (pressure > 0) in.pressure = float(pressure) / FULL_PRESSURE;
    return in;
}
