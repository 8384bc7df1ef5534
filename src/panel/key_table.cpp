// The 90 keys in dispatch order. Every value is a literal so each row can be
// checked against the printed panel; the tests check the regularities.
#include "panel/key_table.h"

const FaceColors FACE_SCHEMES[5] = {
    //                face rel, face prs, label rel, label prs
    /* FACE_STANDARD  */ {247, 0, 255, 255},
    /* FACE_TRANSPORT */ {246, 0, 255, 255},
    /* FACE_RECORD    */ {35, 0, 0, 255},
    /* FACE_SOFT      */ {42, 0, 255, 255},
    /* FACE_KEYPAD    */ {250, 247, 0, 0},
};

namespace {

constexpr uint8_t NOTE = STATUS_NOTE_ON;
constexpr uint8_t CC = STATUS_CONTROL_CHANGE;

constexpr PanelKey label(Rect r, uint8_t status, uint8_t number, int8_t font, FaceScheme scheme, const char* text,
                         Point at) {
    return {r, status, number, STYLE_LABEL, ARROW_NONE, font, scheme, {text, nullptr}, {at, {0, 0}}, {0, 0}, 0};
}

constexpr PanelKey two_line(Rect r, uint8_t number, const char* first, Point at1, const char* second, Point at2) {
    return {r, NOTE, number, STYLE_TWO_LINE, ARROW_NONE, 9, FACE_STANDARD, {first, second}, {at1, at2}, {0, 0}, 0};
}

constexpr PanelKey arrow(Rect r, uint8_t number, ArrowDir dir, Point apex) {
    return {r, NOTE, number, STYLE_ARROW, dir, -1, FACE_STANDARD, {nullptr, nullptr}, {{0, 0}, {0, 0}}, apex, 246};
}

constexpr PanelKey bar(Rect r, uint8_t number, Point top_left) {
    return {r, NOTE, number, STYLE_BAR, ARROW_NONE, -1, FACE_KEYPAD, {nullptr, nullptr}, {{0, 0}, {0, 0}}, top_left, 0};
}

}  // namespace

const PanelKey KeyTable[KEY_COUNT] = {
    // Pad-bank and pad-function keys (top right)
    label({540, 10, 60, 30}, NOTE, 89, 9, FACE_STANDARD, "A", {560, 14}),
    label({620, 10, 60, 30}, NOTE, 90, 9, FACE_STANDARD, "B", {642, 14}),
    label({700, 10, 60, 30}, NOTE, 91, 9, FACE_STANDARD, "C", {722, 14}),
    label({780, 10, 60, 30}, NOTE, 92, 9, FACE_STANDARD, "D", {802, 14}),
    label({540, 50, 60, 30}, NOTE, 85, 9, FACE_STANDARD, "FULL", {550, 54}),
    label({620, 50, 60, 30}, NOTE, 86, 9, FACE_STANDARD, "16LEV", {624, 54}),
    label({700, 50, 60, 30}, NOTE, 87, 5, FACE_STANDARD, "NEXT SQ", {707, 56}),
    label({780, 50, 60, 30}, NOTE, 88, 5, FACE_STANDARD, "TR MUTE", {786, 56}),
    // Cursor keys
    arrow({655, 200, 60, 60}, 13, ARROW_LEFT, {670, 229}),
    arrow({815, 200, 60, 60}, 12, ARROW_RIGHT, {858, 229}),
    arrow({735, 135, 60, 60}, 10, ARROW_UP, {765, 153}),
    arrow({735, 265, 60, 60}, 11, ARROW_DOWN, {765, 303}),
    // Transport keys
    label({450, 395, 80, 50}, NOTE, 5, 9, FACE_RECORD, "REC", {470, 407}),
    label({540, 395, 80, 50}, NOTE, 4, 9, FACE_RECORD, "DUB", {555, 407}),
    label({630, 395, 80, 50}, NOTE, 3, 9, FACE_TRANSPORT, "STOP", {645, 407}),
    label({720, 395, 80, 50}, NOTE, 2, 9, FACE_TRANSPORT, "PLAY", {735, 407}),
    label({810, 395, 80, 50}, NOTE, 1, 9, FACE_TRANSPORT, "START", {820, 407}),
    label({720, 350, 80, 35}, NOTE, 7, 9, FACE_STANDARD, "<<BAR", {730, 356}),
    label({810, 350, 80, 35}, NOTE, 6, 9, FACE_STANDARD, "BAR>>", {820, 356}),
    label({450, 350, 80, 35}, NOTE, 9, 9, FACE_STANDARD, "<<STEP", {460, 356}),
    label({540, 350, 80, 35}, NOTE, 8, 9, FACE_STANDARD, "STEP>>", {550, 356}),
    // WINDOW and MAIN
    label({540, 200, 80, 50}, NOTE, 78, 9, FACE_STANDARD, "WINDOW", {545, 212}),
    label({540, 270, 80, 50}, NOTE, 77, 9, FACE_STANDARD, "MAIN", {557, 282}),
    // Soft keys (top left)
    label({10, 10, 70, 30}, NOTE, 93, 9, FACE_SOFT, "F1", {35, 15}),
    label({90, 10, 70, 30}, NOTE, 94, 9, FACE_SOFT, "F2", {115, 15}),
    label({170, 10, 70, 30}, NOTE, 95, 9, FACE_SOFT, "F3", {195, 15}),
    label({250, 10, 70, 30}, NOTE, 96, 9, FACE_SOFT, "F4", {275, 15}),
    label({330, 10, 70, 30}, NOTE, 97, 9, FACE_SOFT, "F5", {355, 15}),
    label({410, 10, 70, 30}, NOTE, 98, 9, FACE_SOFT, "F6", {435, 15}),
    // Mode keys (four by four, left), row by row
    two_line({10, 50, 70, 70}, 25, "SEQ", {29, 61}, "EDIT", {28, 82}),
    two_line({90, 50, 70, 70}, 26, "STEP", {105, 61}, "EDIT", {108, 82}),
    label({170, 50, 70, 70}, NOTE, 27, 9, FACE_STANDARD, "GRID", {185, 73}),
    label({250, 50, 70, 70}, NOTE, 28, 9, FACE_STANDARD, "SONG", {262, 73}),
    label({10, 130, 70, 70}, NOTE, 22, 9, FACE_STANDARD, "MIDI", {29, 153}),
    label({90, 130, 70, 70}, NOTE, 23, 9, FACE_STANDARD, "OTHER", {95, 153}),
    label({170, 130, 70, 70}, NOTE, 116, 6, FACE_STANDARD, "LOOPER", {178, 153}),
    label({250, 130, 70, 70}, NOTE, 24, 6, FACE_STANDARD, "EFFECT", {260, 153}),
    label({10, 210, 70, 70}, NOTE, 18, 6, FACE_STANDARD, "RECORD", {15, 233}),
    label({90, 210, 70, 70}, NOTE, 19, 9, FACE_STANDARD, "TRIM", {105, 233}),
    label({170, 210, 70, 70}, NOTE, 20, 6, FACE_STANDARD, "PROGRAM", {173, 233}),
    two_line({250, 210, 70, 70}, 21, "PAD", {265, 221}, "MIXER", {260, 242}),
    label({10, 290, 70, 70}, NOTE, 14, 9, FACE_STANDARD, "SLIDER", {13, 313}),
    label({90, 290, 70, 70}, NOTE, 15, 9, FACE_STANDARD, "LOAD", {102, 313}),
    label({170, 290, 70, 70}, NOTE, 16, 9, FACE_STANDARD, "SAVE", {182, 313}),
    two_line({250, 290, 70, 70}, 17, "TRACK", {257, 301}, "MIXER", {260, 322}),
    // Numeric keypad: "0", "1".."9", "+", minus, "ENTER" (not the order of its rows)
    label({350, 215, 50, 50}, NOTE, 101, 11, FACE_KEYPAD, "0", {365, 222}),
    label({350, 160, 50, 50}, NOTE, 102, 11, FACE_KEYPAD, "1", {365, 167}),
    label({405, 160, 50, 50}, NOTE, 103, 11, FACE_KEYPAD, "2", {420, 167}),
    label({460, 160, 50, 50}, NOTE, 104, 11, FACE_KEYPAD, "3", {475, 167}),
    label({350, 105, 50, 50}, NOTE, 105, 11, FACE_KEYPAD, "4", {365, 112}),
    label({405, 105, 50, 50}, NOTE, 106, 11, FACE_KEYPAD, "5", {420, 112}),
    label({460, 105, 50, 50}, NOTE, 107, 11, FACE_KEYPAD, "6", {475, 112}),
    label({350, 50, 50, 50}, NOTE, 108, 11, FACE_KEYPAD, "7", {367, 57}),
    label({405, 50, 50, 50}, NOTE, 109, 11, FACE_KEYPAD, "8", {420, 57}),
    label({460, 50, 50, 50}, NOTE, 110, 11, FACE_KEYPAD, "9", {475, 57}),
    label({405, 215, 50, 50}, NOTE, 111, 11, FACE_KEYPAD, "+", {420, 222}),
    bar({460, 215, 50, 50}, 112, {475, 237}),
    label({405, 270, 105, 50}, NOTE, 113, 10, FACE_KEYPAD, "ENTER", {423, 281}),
    // Track-select row (caption "TRACK SELECT")
    label({155, 450, 45, 30}, NOTE, 29, 10, FACE_STANDARD, "1", {171, 452}),
    label({201, 450, 45, 30}, NOTE, 30, 10, FACE_STANDARD, "2", {217, 452}),
    label({247, 450, 45, 30}, NOTE, 31, 10, FACE_STANDARD, "3", {263, 452}),
    label({293, 450, 45, 30}, NOTE, 32, 10, FACE_STANDARD, "4", {309, 452}),
    label({339, 450, 45, 30}, NOTE, 33, 10, FACE_STANDARD, "5", {355, 452}),
    label({385, 450, 45, 30}, NOTE, 34, 10, FACE_STANDARD, "6", {401, 452}),
    label({431, 450, 45, 30}, NOTE, 35, 10, FACE_STANDARD, "7", {447, 452}),
    label({477, 450, 45, 30}, NOTE, 36, 10, FACE_STANDARD, "8", {493, 452}),
    label({523, 450, 45, 30}, NOTE, 37, 10, FACE_STANDARD, "9", {539, 452}),
    label({569, 450, 45, 30}, NOTE, 38, 10, FACE_STANDARD, "10", {579, 452}),
    label({615, 450, 45, 30}, NOTE, 39, 10, FACE_STANDARD, "11", {625, 452}),
    label({661, 450, 45, 30}, NOTE, 40, 10, FACE_STANDARD, "12", {671, 452}),
    label({707, 450, 45, 30}, NOTE, 41, 10, FACE_STANDARD, "13", {717, 452}),
    label({753, 450, 45, 30}, NOTE, 42, 10, FACE_STANDARD, "14", {763, 452}),
    label({799, 450, 45, 30}, NOTE, 43, 10, FACE_STANDARD, "15", {809, 452}),
    label({845, 450, 45, 30}, NOTE, 44, 10, FACE_STANDARD, "16", {855, 452}),
    // Pad row (caption "PAD"): Control Change
    label({155, 480, 45, 30}, CC, 16, 10, FACE_STANDARD, "1", {171, 482}),
    label({201, 480, 45, 30}, CC, 17, 10, FACE_STANDARD, "2", {217, 482}),
    label({247, 480, 45, 30}, CC, 18, 10, FACE_STANDARD, "3", {263, 482}),
    label({293, 480, 45, 30}, CC, 19, 10, FACE_STANDARD, "4", {309, 482}),
    label({339, 480, 45, 30}, CC, 20, 10, FACE_STANDARD, "5", {355, 482}),
    label({385, 480, 45, 30}, CC, 21, 10, FACE_STANDARD, "6", {401, 482}),
    label({431, 480, 45, 30}, CC, 22, 10, FACE_STANDARD, "7", {447, 482}),
    label({477, 480, 45, 30}, CC, 23, 10, FACE_STANDARD, "8", {493, 482}),
    label({523, 480, 45, 30}, CC, 24, 10, FACE_STANDARD, "9", {539, 482}),
    label({569, 480, 45, 30}, CC, 25, 10, FACE_STANDARD, "10", {579, 482}),
    label({615, 480, 45, 30}, CC, 26, 10, FACE_STANDARD, "11", {625, 482}),
    label({661, 480, 45, 30}, CC, 27, 10, FACE_STANDARD, "12", {671, 482}),
    label({707, 480, 45, 30}, CC, 28, 10, FACE_STANDARD, "13", {717, 482}),
    label({753, 480, 45, 30}, CC, 29, 10, FACE_STANDARD, "14", {763, 482}),
    label({799, 480, 45, 30}, CC, 30, 10, FACE_STANDARD, "15", {809, 482}),
    label({845, 480, 45, 30}, CC, 31, 10, FACE_STANDARD, "16", {855, 482}),
};

const KeyGroup KEY_GROUPS[KEY_GROUP_COUNT] = {
    {"pad bank", 0, 4}, {"pad function", 4, 4}, {"cursor", 8, 4},   {"transport", 12, 9},     {"screen", 21, 2},
    {"soft", 23, 6},    {"mode", 29, 16},       {"keypad", 45, 13}, {"track select", 58, 16}, {"pad", 74, 16},
};

const char* key_group(int index) {
    for (const KeyGroup& g : KEY_GROUPS)
        if (index >= g.first && index < g.first + g.count) return g.name;
    return "";
}

std::string key_name(const PanelKey& key) {
    static const char* const ARROW_NAMES[] = {"arrow", "left arrow", "right arrow", "up arrow", "down arrow"};
    switch (key.style) {
        case STYLE_LABEL: return key.label[0];
        case STYLE_TWO_LINE: return std::string(key.label[0]) + " " + key.label[1];
        case STYLE_ARROW: return ARROW_NAMES[key.arrow];
        case STYLE_BAR: break;
    }
    return "minus";
}
