// The Win32 playing translation: scan codes into key places on every row of
// the map, and WM_POINTER messages into touches, with stand-ins for user32's
// pointer functions (Wine sends no pointer messages).
#include <windows.h>

#include <gtest/gtest.h>

#include "platform/windows/input_win32.h"

namespace {

LPARAM key_lparam(unsigned scan, bool extended, bool repeat = false) {
    return LPARAM(1 | scan << 16 | (extended ? 1u << 24 : 0) | (repeat ? 1u << 30 : 0));
}

TEST(Win32Keys, ScanCodesGiveThePlacesOfEveryRow) {
    struct Row {
        unsigned scan;
        bool extended;
        KeyPosition pos;
    };
    const Row rows[] = {
        {0x01, false, POS_ESCAPE},
        {0x02, false, POS_1},
        {0x0B, false, POS_0},
        {0x10, false, POS_Q},
        {0x19, false, POS_P},
        {0x1E, false, POS_A},
        {0x27, false, POS_SEMICOLON},
        {0x2C, false, POS_Z},
        {0x2F, false, POS_V},
        {0x35, false, POS_SLASH},
        {0x39, false, POS_SPACE},
        {0x3B, false, POS_F1},
        {0x44, false, POS_F10},
        {0x52, false, POS_KP_0},
        {0x4F, false, POS_KP_1},
        {0x49, false, POS_KP_9},
        {0x4E, false, POS_KP_PLUS},
        {0x4A, false, POS_KP_MINUS},
        {0x1C, true, POS_KP_ENTER},
        {0x4B, true, POS_LEFT},
        {0x4D, true, POS_RIGHT},
        {0x48, true, POS_UP},
        {0x50, true, POS_DOWN},
        {0x52, true, POS_INSERT},
        {0x53, true, POS_DELETE},
        {0x47, true, POS_HOME},
        {0x4F, true, POS_END},
        {0x49, true, POS_PAGE_UP},
        {0x51, true, POS_PAGE_DOWN},
        // No place of the map: main Enter, Tab, the Windows key, F11, keypad ., beyond the table.
        {0x1C, false, POS_NONE},
        {0x0F, false, POS_NONE},
        {0x5B, true, POS_NONE},
        {0x57, false, POS_NONE},
        {0x53, false, POS_NONE},
        {0xFF, false, POS_NONE},
        {0x2C, true, POS_NONE},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(key_position_of(key_lparam(row.scan, row.extended)), row.pos) << std::hex << row.scan;
        EXPECT_EQ(key_position_of(key_lparam(row.scan, row.extended, true)), row.pos) << std::hex << row.scan;
    }
    // The whole digit row and the letter rows in order.
    for (unsigned k = 0; k < 10; ++k) {
        EXPECT_EQ(key_position_of(key_lparam(0x02 + k, false)), KeyPosition(POS_1 + k));
        EXPECT_EQ(key_position_of(key_lparam(0x10 + k, false)), KeyPosition(POS_Q + k));
        EXPECT_EQ(key_position_of(key_lparam(0x1E + k, false)), KeyPosition(POS_A + k));
        EXPECT_EQ(key_position_of(key_lparam(0x2C + k, false)), KeyPosition(POS_Z + k));
    }
    EXPECT_TRUE(key_repeated(key_lparam(0x2C, false, true)));
    EXPECT_FALSE(key_repeated(key_lparam(0x2C, false)));
}

// user32's pointer functions as a test sets them.
DWORD g_type = 2;  // PT_TOUCH
UINT32 g_pressure = 0;
DWORD g_mask = 0;

BOOL WINAPI fake_type(UINT32, POINTER_INPUT_TYPE* type) {
    *type = g_type;
    return TRUE;
}

BOOL WINAPI fake_touch_info(UINT32 id, POINTER_TOUCH_INFO* info) {
    info->pointerInfo.pointerId = id;
    info->touchMask = g_mask;
    info->pressure = g_pressure;
    return TRUE;
}

BOOL WINAPI fake_pen_info(UINT32 id, POINTER_PEN_INFO* info) {
    info->pointerInfo.pointerId = id;
    info->penMask = g_mask;
    info->pressure = g_pressure;
    return TRUE;
}

constexpr PointerApi FAKE{fake_type, fake_touch_info, fake_pen_info};

TEST(Win32Pointer, MessagesBecomeTouches) {
    struct Row {
        UINT msg;
        WPARAM wparam;  // pointer id in the low word, flags in the high
        DWORD type;
        TouchStep step;
    };
    const WPARAM canceled = WPARAM(0x8000) << 16;
    const Row rows[] = {
        {0x0246, 7, 2, TOUCH_DOWN},         {0x0245, 7, 2, TOUCH_MOVE},
        {0x0247, 7, 2, TOUCH_UP},           {0x0247, 7 | canceled, 2, TOUCH_CANCEL},
        {0x024C, 7, 2, TOUCH_CANCEL},       {0x0246, 9, 3, TOUCH_DOWN},  // a pen
        {0x0246, 1, 4, TOUCH_NONE},                                      // the mouse: its own messages follow
        {WM_LBUTTONDOWN, 7, 2, TOUCH_NONE}, {WM_TOUCH, 7, 2, TOUCH_NONE},
    };
    for (const Row& row : rows) {
        g_type = row.type;
        const TouchInput in = read_pointer_message(row.msg, row.wparam, MAKELPARAM(300, 200), FAKE);
        EXPECT_EQ(in.step, row.step) << std::hex << row.msg << " " << row.wparam;
        if (row.step == TOUCH_NONE) continue;
        EXPECT_EQ(in.id, int64_t(row.wparam & 0xFFFF));
        EXPECT_EQ(in.x, 300);
        EXPECT_EQ(in.y, 200);
    }
    g_type = 2;
    const TouchInput left = read_pointer_message(0x0246, 3, MAKELPARAM(-5, -20), FAKE);
    EXPECT_EQ(left.x, -5) << "screen coordinates left of the primary monitor are negative";
    EXPECT_EQ(left.y, -20);
    EXPECT_EQ(read_pointer_message(0x0246, 3, 0, PointerApi{nullptr, nullptr, nullptr}).step, TOUCH_NONE)
        << "no pointer functions (before Windows 8): no touches of ours";
}

TEST(Win32Pointer, PressureOnlyWhereMeasured) {
    // Negative: not measured. A touch's and a pen's pressure each have their
    // own mask bit (TOUCH_MASK_PRESSURE 0x4, PEN_MASK_PRESSURE 0x1).
    struct Row {
        DWORD type, mask;
        UINT32 pressure;
        float want;
    };
    const Row rows[] = {
        {2, 0, 512, -1},   {2, 0x4, 512, 0.5f},  {2, 0x4, 1024, 1.0f}, {2, 0x4, 0, -1},
        {3, 0x4, 256, -1}, {3, 0x1, 256, 0.25f}, {2, 0x1, 256, -1},
    };
    for (const Row& row : rows) {
        g_type = row.type, g_mask = row.mask, g_pressure = row.pressure;
        const float got = read_pointer_message(0x0246, 1, 0, FAKE).pressure;
        if (row.want < 0)
            EXPECT_LT(got, 0.0f) << row.type << " " << row.mask << " " << row.pressure;
        else
            EXPECT_FLOAT_EQ(got, row.want) << row.type << " " << row.mask << " " << row.pressure;
    }
    g_type = 2, g_mask = 0;
}

TEST(Win32Pointer, MouseMessagesFromTouchesAreKnownBySignature) {
    EXPECT_TRUE(promoted_from_touch(LPARAM(0xFF515700)));
    EXPECT_TRUE(promoted_from_touch(LPARAM(0xFF515780)));  // the low byte: pen or touch, and more
    EXPECT_FALSE(promoted_from_touch(0));
    EXPECT_FALSE(promoted_from_touch(LPARAM(0xFF515600)));
    EXPECT_FALSE(promoted_from_touch(LPARAM(0x7F515700)));
}

}  // namespace
