// The fourteen font slots as GDI sees them after create_fonts, and their
// release. Runs under Wine or Windows; needs no window.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "render/render_context.h"

namespace {

struct ExpectedFont {
    LONG height, width;
    BYTE charset;
    std::string face;  // raw bytes as passed
};

const std::string ARIAL = "arial";
const std::string MS_GOTHIC = "\x82\x6C\x82\x72\x81\x40\x83\x53\x83\x56\x83\x62\x83\x4E";

// Slots 5..13 as the panel needs them.
const ExpectedFont CREATED_FONTS[] = {
    {14, 0, ANSI_CHARSET, ARIAL},  {16, 0, ANSI_CHARSET, ARIAL},         {18, 0, ANSI_CHARSET, ARIAL},
    {21, 7, ANSI_CHARSET, ARIAL},  {22, 8, ANSI_CHARSET, ARIAL},         {28, 10, ANSI_CHARSET, ARIAL},
    {35, 15, ANSI_CHARSET, ARIAL}, {16, 0, SHIFTJIS_CHARSET, MS_GOTHIC}, {12, 0, SHIFTJIS_CHARSET, MS_GOTHIC},
};

const int STOCK_OBJECTS[] = {ANSI_FIXED_FONT, ANSI_VAR_FONT, DEVICE_DEFAULT_FONT, DEFAULT_GUI_FONT, SYSTEM_FONT};

class FontSlots : public ::testing::Test {
protected:
    void SetUp() override { create_fonts(rc); }
    void TearDown() override { release_fonts(rc); }
    RenderContext rc;
};

TEST_F(FontSlots, StockSlotsHoldTheFiveStockFontsInOrder) {
    for (int s = 0; s < 5; ++s) {
        ASSERT_NE(rc.fonts[s], nullptr) << "slot " << s;
        EXPECT_EQ(rc.fonts[s], GetStockObject(STOCK_OBJECTS[s])) << "slot " << s;
        EXPECT_EQ(GetObjectType(rc.fonts[s]), DWORD(OBJ_FONT)) << "slot " << s;
    }
}

TEST_F(FontSlots, CreatedSlotsCarryEveryRequestedValue) {
    for (int s = 5; s < FONT_SLOTS; ++s) {
        const ExpectedFont& want = CREATED_FONTS[s - 5];
        SCOPED_TRACE("slot " + std::to_string(s));
        ASSERT_NE(rc.fonts[s], nullptr);
        LOGFONTA lf;
        ASSERT_EQ(GetObjectA(rc.fonts[s], sizeof lf, &lf), int(sizeof lf));
        EXPECT_EQ(lf.lfHeight, want.height);
        EXPECT_EQ(lf.lfWidth, want.width);
        EXPECT_EQ(lf.lfEscapement, 0);
        EXPECT_EQ(lf.lfOrientation, 0);
        EXPECT_EQ(lf.lfWeight, 700);
        EXPECT_EQ(lf.lfItalic, 0);
        EXPECT_EQ(lf.lfUnderline, 0);
        EXPECT_EQ(lf.lfStrikeOut, 0);
        EXPECT_EQ(lf.lfCharSet, want.charset);
        EXPECT_EQ(lf.lfOutPrecision, 0);
        EXPECT_EQ(lf.lfClipPrecision, 0);
        EXPECT_EQ(lf.lfQuality, 0);
        EXPECT_EQ(lf.lfPitchAndFamily, 0);
        // The face bytes come back exactly, lower case and Shift-JIS alike.
        EXPECT_EQ(std::string(lf.lfFaceName, strnlen(lf.lfFaceName, LF_FACESIZE)), want.face);
    }
}

TEST_F(FontSlots, CreatedSlotsAreDistinctFonts) {
    for (int a = 5; a < FONT_SLOTS; ++a)
        for (int b = a + 1; b < FONT_SLOTS; ++b) EXPECT_NE(rc.fonts[a], rc.fonts[b]) << a << " vs " << b;
}

// A positive height is the cell height in pixels and a non-zero width the
// average character width, in a memory DC's default mapping. The mapper may
// round a cell one pixel down to the face's nearest size, never up.
TEST_F(FontSlots, CellHeightAndAverageWidthAreInPixels) {
    HDC dc = CreateCompatibleDC(nullptr);
    ASSERT_NE(dc, nullptr);
    for (int s = 5; s <= 11; ++s) {
        const ExpectedFont& want = CREATED_FONTS[s - 5];
        SCOPED_TRACE("slot " + std::to_string(s));
        SelectObject(dc, rc.fonts[s]);
        TEXTMETRICA tm;
        ASSERT_TRUE(GetTextMetricsA(dc, &tm));
        EXPECT_LE(tm.tmHeight, want.height);
        EXPECT_GE(tm.tmHeight, want.height - 1);
        EXPECT_EQ(tm.tmWeight, 700);
        if (want.width) {
            EXPECT_EQ(tm.tmAveCharWidth, want.width);
        }
    }
    DeleteDC(dc);
}

TEST(FontRelease, CreatedFontsAreDeletedAndStockFontsSurvive) {
    RenderContext rc;
    create_fonts(rc);
    void* held[FONT_SLOTS];
    std::memcpy(held, rc.fonts, sizeof held);
    for (void* f : held) ASSERT_EQ(GetObjectType(f), DWORD(OBJ_FONT));
    release_fonts(rc);
    for (int s = 0; s < 5; ++s) EXPECT_EQ(GetObjectType(held[s]), DWORD(OBJ_FONT)) << "stock slot " << s;
    for (int s = 5; s < FONT_SLOTS; ++s) EXPECT_EQ(GetObjectType(held[s]), 0u) << "created slot " << s;
}

}  // namespace
