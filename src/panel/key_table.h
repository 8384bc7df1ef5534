// The constant description of the 90 front-panel keys, in dispatch order.
#pragma once
#include <cstdint>
#include <string>

// Left x, top y, width, height in frame-buffer pixels; origin at the panel's
// top-left corner.
struct Rect {
    int x, y, w, h;
};

struct Point {
    int x, y;
};

enum KeyStyle : uint8_t { STYLE_LABEL, STYLE_TWO_LINE, STYLE_ARROW, STYLE_BAR };

// Direction of an arrow glyph: the side its apex points to.
enum ArrowDir : uint8_t { ARROW_NONE, ARROW_LEFT, ARROW_RIGHT, ARROW_UP, ARROW_DOWN };

enum FaceScheme : uint8_t { FACE_STANDARD, FACE_TRANSPORT, FACE_RECORD, FACE_SOFT, FACE_KEYPAD };

// Colour indices of one scheme: face and label, each released and pressed.
struct FaceColors {
    uint8_t face_released, face_pressed, label_released, label_pressed;
};

extern const FaceColors FACE_SCHEMES[5];

constexpr uint8_t STATUS_NOTE_ON = 144;         // 0x90, channel 1
constexpr uint8_t STATUS_CONTROL_CHANGE = 176;  // 0xB0, channel 1

// One constant key row. The rectangle is both the hit area and the drawn frame.
struct PanelKey {
    Rect rect;
    uint8_t status;
    uint8_t number;
    KeyStyle style;
    ArrowDir arrow;
    int8_t font;  // FontSlot of the label; -1 for glyph keys
    FaceScheme scheme;
    const char* label[2];  // second line only for STYLE_TWO_LINE
    Point label_at[2];     // top-left of each label line
    Point glyph;           // arrow apex, or top-left of the minus bar
    uint8_t glyph_color;
};

constexpr int KEY_COUNT = 90;
extern const PanelKey KeyTable[KEY_COUNT];

// The panel's areas as a user names them; each is a run of consecutive rows
// of KeyTable, and together they cover it in order.
struct KeyGroup {
    const char* name;  // "track select"
    int first;         // index of its first key in KeyTable
    int count;
};
constexpr int KEY_GROUP_COUNT = 10;
extern const KeyGroup KEY_GROUPS[KEY_GROUP_COUNT];

// Key `index`'s group name.
const char* key_group(int index);
// What a user calls the key: its label, both lines of a two-line label
// joined by a space, or what a glyph shows ("left arrow", "minus").
std::string key_name(const PanelKey& key);
