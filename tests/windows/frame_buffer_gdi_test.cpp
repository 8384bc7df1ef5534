// The GDI frame buffer: the DIB section's header and layout, the memory DC it
// is selected into, tear-down, and GDI text landing in the same pixels.
// Runs under Wine or Windows; the reference DC is the screen's, no window.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

#include "render/frame_buffer.h"
#include "render/palette.h"
#include "render/primitives.h"
#include "render/render_context.h"

namespace {

class GdiFrameBuffer : public ::testing::Test {
protected:
    void SetUp() override {
        create_fonts(rc);
        ASSERT_TRUE(create_frame_buffer(rc, nullptr));
    }
    void TearDown() override {
        destroy_frame_buffer(rc);
        release_fonts(rc);
    }
    uint32_t& at(int x, int y) { return rc.pixels[y * FB_WIDTH + x]; }
    RenderContext rc;
};

TEST_F(GdiFrameBuffer, IsATopDown32BitDibSelectedIntoTheSurface) {
    ASSERT_NE(rc.pixels, nullptr);
    ASSERT_NE(rc.surface, nullptr);
    HDC surface = static_cast<HDC>(rc.surface);
    EXPECT_EQ(GetObjectType(surface), DWORD(OBJ_MEMDC));
    HGDIOBJ bitmap = GetCurrentObject(surface, OBJ_BITMAP);
    DIBSECTION ds;
    ASSERT_EQ(GetObjectA(bitmap, sizeof ds, &ds), int(sizeof ds));
    EXPECT_EQ(ds.dsBm.bmBits, rc.pixels);
    EXPECT_EQ(ds.dsBm.bmWidth, 910);
    EXPECT_EQ(ds.dsBm.bmHeight, 550);
    EXPECT_EQ(ds.dsBm.bmWidthBytes, 3640);
    EXPECT_EQ(ds.dsBm.bmBitsPixel, 32);
    EXPECT_EQ(ds.dsBmih.biSize, 40u);
    EXPECT_EQ(ds.dsBmih.biWidth, 910);
    // The sign of the height read back varies by GDI version; the layout
    // test below shows row 0 is the top.
    EXPECT_EQ(std::abs(ds.dsBmih.biHeight), 550);
    EXPECT_EQ(ds.dsBmih.biPlanes, 1);
    EXPECT_EQ(ds.dsBmih.biBitCount, 32);
    EXPECT_EQ(ds.dsBmih.biCompression, DWORD(BI_RGB));
    EXPECT_EQ(ds.dsBmih.biClrUsed, 0u);
    EXPECT_EQ(GetBkMode(surface), TRANSPARENT);
}

// What GDI writes at (x, y) is element y * 910 + x, colour 0x00RRGGBB.
TEST_F(GdiFrameBuffer, GdiAndThePixelArrayAgreeOnLayoutAndByteOrder) {
    HDC surface = static_cast<HDC>(rc.surface);
    SetPixelV(surface, 3, 0, RGB(0x12, 0x34, 0x56));
    SetPixelV(surface, 909, 549, RGB(0xAB, 0xCD, 0xEF));
    SetPixelV(surface, 0, 549, RGB(0xFF, 0, 0));
    GdiFlush();
    EXPECT_EQ(at(3, 0), 0x123456u);
    EXPECT_EQ(at(909, 549), 0xABCDEFu);
    EXPECT_EQ(at(0, 549), 0xFF0000u);
    EXPECT_EQ(at(3, 549), 0u);

    // And the other way: a core fill is what GDI reads back.
    fill_rect(rc, 100, 200, 10, 5, 190);  // 0x00CC33
    EXPECT_EQ(GetPixel(surface, 100, 200), RGB(0x00, 0xCC, 0x33));
    EXPECT_EQ(GetPixel(surface, 109, 204), RGB(0x00, 0xCC, 0x33));
    EXPECT_EQ(GetPixel(surface, 110, 204), RGB(0, 0, 0));
}

TEST_F(GdiFrameBuffer, BlitFromTheSurfaceCopiesTheWholeBufferUnscaled) {
    for (int y = 0; y < FB_HEIGHT; ++y)
        for (int x = 0; x < FB_WIDTH; ++x) at(x, y) = uint32_t(x * 7 + y * 13) & 0xFFFFFF;
    RenderContext copy;
    ASSERT_TRUE(create_frame_buffer(copy, nullptr));
    EXPECT_TRUE(
        BitBlt(static_cast<HDC>(copy.surface), 0, 0, FB_WIDTH, FB_HEIGHT, static_cast<HDC>(rc.surface), 0, 0, SRCCOPY));
    GdiFlush();
    int differing = 0;
    for (int i = 0; i < FB_WIDTH * FB_HEIGHT; ++i) differing += copy.pixels[i] != rc.pixels[i];
    EXPECT_EQ(differing, 0);
    destroy_frame_buffer(copy);
}

TEST(GdiFrameBufferTeardown, DeletesTheSurfaceAndTheBitmapAndClearsTheContext) {
    RenderContext rc;
    ASSERT_TRUE(create_frame_buffer(rc, nullptr));
    HDC surface = static_cast<HDC>(rc.surface);
    HGDIOBJ bitmap = GetCurrentObject(surface, OBJ_BITMAP);
    ASSERT_EQ(GetObjectType(bitmap), DWORD(OBJ_BITMAP));
    destroy_frame_buffer(rc);
    EXPECT_EQ(rc.surface, nullptr);
    EXPECT_EQ(rc.pixels, nullptr);
    EXPECT_EQ(GetObjectType(surface), 0u);
    EXPECT_EQ(GetObjectType(bitmap), 0u);
    destroy_frame_buffer(rc);  // a context without a buffer is left alone
    EXPECT_EQ(rc.surface, nullptr);
}

// Bounding box of the pixels that differ from `background`; empty when none.
struct Box {
    int left = FB_WIDTH, top = FB_HEIGHT, right = -1, bottom = -1, changed = 0, exact = 0;
};

Box changed_pixels(const RenderContext& rc, uint32_t background, uint32_t ink) {
    Box b;
    for (int y = 0; y < FB_HEIGHT; ++y)
        for (int x = 0; x < FB_WIDTH; ++x) {
            const uint32_t p = rc.pixels[y * FB_WIDTH + x];
            if (p == background) continue;
            ++b.changed;
            b.exact += p == ink;
            b.left = std::min(b.left, x);
            b.right = std::max(b.right, x);
            b.top = std::min(b.top, y);
            b.bottom = std::max(b.bottom, y);
        }
    return b;
}

// The text's cell: (x, y) is its top-left corner.
SIZE text_cell(const RenderContext& rc, const char* text) {
    SIZE size = {};
    GetTextExtentPoint32A(static_cast<HDC>(rc.surface), text, int(strlen(text)), &size);
    return size;
}

TEST_F(GdiFrameBuffer, BlackTextLandsInsideItsCellAndNothingElseChanges) {
    fill_rect(rc, 0, 0, FB_WIDTH, FB_HEIGHT, 247);  // 0xBBBBBB
    select_font(rc, 9);
    const SIZE cell = text_cell(rc, "PLAY");
    ASSERT_EQ(cell.cy, 22);
    draw_text(rc, 300, 120, "PLAY", 255);
    GdiFlush();
    const Box b = changed_pixels(rc, 0xBBBBBB, 0x000000);
    ASSERT_GT(b.changed, 0);
    EXPECT_GT(b.exact, 20) << "solid black glyph pixels";
    EXPECT_GE(b.left, 300);
    EXPECT_GE(b.top, 120);
    EXPECT_LT(b.right, 300 + cell.cx);
    EXPECT_LT(b.bottom, 120 + cell.cy);
    // The strokes fill most of the cell's width: it is text, not a dot.
    EXPECT_GT(b.right - b.left, cell.cx / 2);
}

// Palette entry 35 is 0xFF0000: red in the DIB only if the colour reaches GDI
// as 0x00BBGGRR and the DIB stores 0x00RRGGBB.
TEST_F(GdiFrameBuffer, TextColourFromThePaletteArrivesUnswapped) {
    fill_rect(rc, 0, 0, FB_WIDTH, FB_HEIGHT, 255);
    select_font(rc, 11);
    draw_text(rc, 50, 400, "8", 35);
    GdiFlush();
    const Box b = changed_pixels(rc, 0x000000, Palette[35]);
    ASSERT_EQ(Palette[35], 0xFF0000u);
    EXPECT_GT(b.exact, 10);
    EXPECT_EQ(rc.text_color_index, 35);
    EXPECT_EQ(GetTextColor(static_cast<HDC>(rc.surface)), RGB(0xFF, 0, 0));
    // Any smoothing blends red into black: no green or blue anywhere.
    for (int i = 0; i < FB_WIDTH * FB_HEIGHT; ++i) ASSERT_EQ(rc.pixels[i] & 0x00FFFF, 0u) << "pixel " << i;
    EXPECT_GE(b.left, 50);
    EXPECT_GE(b.top, 400);
    EXPECT_LT(b.bottom, 400 + 35);
}

// Transparent background: the pixels between strokes keep what was there.
TEST_F(GdiFrameBuffer, TextLeavesTheBackgroundBetweenStrokes) {
    fill_rect(rc, 0, 0, FB_WIDTH, FB_HEIGHT, 252);  // 0x444444
    fill_rect(rc, 10, 10, 100, 40, 0);              // white patch
    select_font(rc, 10);
    draw_text(rc, 12, 12, "O", 255);
    GdiFlush();
    // The inside of the O is still white, the ring is black.
    const SIZE cell = text_cell(rc, "O");
    EXPECT_EQ(at(12 + cell.cx / 2, 12 + cell.cy / 2), 0xFFFFFFu);
    int black = 0;
    for (int x = 12; x < 12 + cell.cx; ++x) black += at(x, 12 + cell.cy / 2) == 0;
    EXPECT_GE(black, 2) << "both sides of the ring on the middle row";
    // Outside the patch nothing moved.
    EXPECT_EQ(at(9, 9), 0x444444u);
    EXPECT_EQ(at(110, 50), 0x444444u);
}

TEST_F(GdiFrameBuffer, LaterFillsCoverEarlierText) {
    fill_rect(rc, 0, 0, FB_WIDTH, FB_HEIGHT, 247);
    select_font(rc, 9);
    draw_text(rc, 540, 10, "A", 255);
    GdiFlush();
    ASSERT_GT(changed_pixels(rc, 0xBBBBBB, 0).changed, 0);
    fill_rect(rc, 540, 10, 60, 30, 247);
    EXPECT_EQ(changed_pixels(rc, 0xBBBBBB, 0).changed, 0);
}

}  // namespace
