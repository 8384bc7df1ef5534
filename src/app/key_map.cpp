// The default map from computer keys to panel keys. The pads form a 4 x 4
// block under the left hand, pad 1 at the bottom left as on pad samplers;
// the track keys the same block under the right hand; the transport sits
// between them. No key a desktop keeps for itself (Alt, Tab, the Windows
// key, F11, F12) is taken.
#include "app/key_map.h"

#include "panel/key_table.h"

namespace {

struct MapRow {
    KeyPosition pos;
    int key;  // index into KeyTable
    const char* name;
};

// Panel key indices by group, as KeyTable orders them.
constexpr int PAD_BANK = 0, PAD_FUNCTION = 4, CURSOR = 8, TRANSPORT = 12, SCREEN = 21, SOFT = 23, KEYPAD = 45,
              TRACK = 58, PAD = 74;

constexpr MapRow MAP[] = {
    // Pads 1-16: Z X C V, A S D F, Q W E R, 1 2 3 4 (bottom row first).
    {POS_Z, PAD + 0, "Z"},
    {POS_X, PAD + 1, "X"},
    {POS_C, PAD + 2, "C"},
    {POS_V, PAD + 3, "V"},
    {POS_A, PAD + 4, "A"},
    {POS_S, PAD + 5, "S"},
    {POS_D, PAD + 6, "D"},
    {POS_F, PAD + 7, "F"},
    {POS_Q, PAD + 8, "Q"},
    {POS_W, PAD + 9, "W"},
    {POS_E, PAD + 10, "E"},
    {POS_R, PAD + 11, "R"},
    {POS_1, PAD + 12, "1"},
    {POS_2, PAD + 13, "2"},
    {POS_3, PAD + 14, "3"},
    {POS_4, PAD + 15, "4"},
    // Track select 1-16: M , . /, J K L ;, U I O P, 7 8 9 0.
    {POS_M, TRACK + 0, "M"},
    {POS_COMMA, TRACK + 1, ","},
    {POS_PERIOD, TRACK + 2, "."},
    {POS_SLASH, TRACK + 3, "/"},
    {POS_J, TRACK + 4, "J"},
    {POS_K, TRACK + 5, "K"},
    {POS_L, TRACK + 6, "L"},
    {POS_SEMICOLON, TRACK + 7, ";"},
    {POS_U, TRACK + 8, "U"},
    {POS_I, TRACK + 9, "I"},
    {POS_O, TRACK + 10, "O"},
    {POS_P, TRACK + 11, "P"},
    {POS_7, TRACK + 12, "7"},
    {POS_8, TRACK + 13, "8"},
    {POS_9, TRACK + 14, "9"},
    {POS_0, TRACK + 15, "0"},
    // Transport, between the two blocks: REC DUB STOP PLAY START <<BAR
    // BAR>> <<STEP STEP>> in KeyTable order.
    {POS_G, TRANSPORT + 0, "G"},
    {POS_H, TRANSPORT + 1, "H"},
    {POS_B, TRANSPORT + 2, "B"},
    {POS_SPACE, TRANSPORT + 3, "Space"},
    {POS_N, TRANSPORT + 4, "N"},
    {POS_5, TRANSPORT + 5, "5"},
    {POS_6, TRANSPORT + 6, "6"},
    {POS_T, TRANSPORT + 7, "T"},
    {POS_Y, TRANSPORT + 8, "Y"},
    // Left and right arrows; Up and Down stay the data wheel.
    {POS_LEFT, CURSOR + 0, "Left"},
    {POS_RIGHT, CURSOR + 1, "Right"},
    // Soft keys F1-F6; pad banks A-D on F7-F10.
    {POS_F1, SOFT + 0, "F1"},
    {POS_F2, SOFT + 1, "F2"},
    {POS_F3, SOFT + 2, "F3"},
    {POS_F4, SOFT + 3, "F4"},
    {POS_F5, SOFT + 4, "F5"},
    {POS_F6, SOFT + 5, "F6"},
    {POS_F7, PAD_BANK + 0, "F7"},
    {POS_F8, PAD_BANK + 1, "F8"},
    {POS_F9, PAD_BANK + 2, "F9"},
    {POS_F10, PAD_BANK + 3, "F10"},
    // The edit block: FULL 16LEV NEXT SQ TR MUTE, WINDOW MAIN.
    {POS_INSERT, PAD_FUNCTION + 0, "Insert"},
    {POS_HOME, PAD_FUNCTION + 1, "Home"},
    {POS_PAGE_UP, PAD_FUNCTION + 2, "Page Up"},
    {POS_DELETE, PAD_FUNCTION + 3, "Delete"},
    {POS_END, SCREEN + 0, "End"},
    {POS_PAGE_DOWN, SCREEN + 1, "Page Down"},
    // The numeric keypad plays the panel's: 0, 1-9, +, minus, ENTER.
    {POS_KP_0, KEYPAD + 0, "keypad 0"},
    {POS_KP_1, KEYPAD + 1, "keypad 1"},
    {POS_KP_2, KEYPAD + 2, "keypad 2"},
    {POS_KP_3, KEYPAD + 3, "keypad 3"},
    {POS_KP_4, KEYPAD + 4, "keypad 4"},
    {POS_KP_5, KEYPAD + 5, "keypad 5"},
    {POS_KP_6, KEYPAD + 6, "keypad 6"},
    {POS_KP_7, KEYPAD + 7, "keypad 7"},
    {POS_KP_8, KEYPAD + 8, "keypad 8"},
    {POS_KP_9, KEYPAD + 9, "keypad 9"},
    {POS_KP_PLUS, KEYPAD + 10, "keypad +"},
    {POS_KP_MINUS, KEYPAD + 11, "keypad -"},
    {POS_KP_ENTER, KEYPAD + 12, "keypad Enter"},
};

constexpr bool all_keys_exist() {
    for (const MapRow& row : MAP)
        if (row.key < 0 || row.key >= KEY_COUNT) return false;
    return true;
}
static_assert(all_keys_exist());

}  // namespace

int mapped_key(KeyPosition pos) {
    for (const MapRow& row : MAP)
        if (row.pos == pos) return row.key;
    return -1;
}

const char* key_position_name_for(int key) {
    for (const MapRow& row : MAP)
        if (row.key == key) return row.name;
    return "";
}
