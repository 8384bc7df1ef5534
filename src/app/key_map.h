// The computer keyboard as the panel is played from it (--keys): keys named by
// where they sit, whatever the layout prints on them, and the default map from
// those places to panel keys. Each platform layer turns its own key codes into
// a KeyPosition at its edge.
#pragma once
#include <cstdint>

// Places on a PC keyboard, named by what a US layout prints there: POS_Q is
// the key right of Tab, which AZERTY labels A. Only places the map, the data
// wheel (Up, Down) or the panic key use have a name; every other is POS_NONE.
// clang-format off
enum KeyPosition : uint8_t {
    POS_NONE,
    POS_1, POS_2, POS_3, POS_4, POS_5, POS_6, POS_7, POS_8, POS_9, POS_0,  // the digit row
    POS_Q, POS_W, POS_E, POS_R, POS_T, POS_Y, POS_U, POS_I, POS_O, POS_P,
    POS_A, POS_S, POS_D, POS_F, POS_G, POS_H, POS_J, POS_K, POS_L, POS_SEMICOLON,
    POS_Z, POS_X, POS_C, POS_V, POS_B, POS_N, POS_M, POS_COMMA, POS_PERIOD, POS_SLASH,
    POS_SPACE,
    POS_F1, POS_F2, POS_F3, POS_F4, POS_F5, POS_F6, POS_F7, POS_F8, POS_F9, POS_F10,
    POS_KP_0, POS_KP_1, POS_KP_2, POS_KP_3, POS_KP_4, POS_KP_5, POS_KP_6, POS_KP_7, POS_KP_8, POS_KP_9,
    POS_KP_PLUS, POS_KP_MINUS, POS_KP_ENTER,
    POS_INSERT, POS_HOME, POS_PAGE_UP, POS_DELETE, POS_END, POS_PAGE_DOWN,
    POS_LEFT, POS_RIGHT, POS_UP, POS_DOWN,
    POS_ESCAPE,
    POS_COUNT
};
// clang-format on

// The panel key (index into KeyTable) the default map gives `pos`; -1 for
// none (Up and Down stay the data wheel, Escape is the panic key).
int mapped_key(KeyPosition pos);

// The computer key that plays panel key `key` ("Z", "F1", "keypad +"), or
// "" when none does: for --list-keys and the documents made from it.
const char* key_position_name_for(int key);
