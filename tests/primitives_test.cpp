// Fill primitives and the palette, pixel-exact against the clipping rules.
#include <algorithm>
#include <functional>
#include <vector>

#include "render/frame_buffer.h"
#include "render/palette.h"
#include "render/primitives.h"
#include "render/render_context.h"
#include "test_util.h"

namespace {

constexpr uint32_t SENTINEL = 0xA5A5A5A5;  // no palette value has a top byte

struct Primitives : CoreTest {
    void SetUp() override {
        CoreTest::SetUp();
        ASSERT_TRUE(create_frame_buffer(g_render, nullptr));
        std::fill_n(g_render.pixels, FB_WIDTH * FB_HEIGHT, SENTINEL);
    }
    uint32_t px(int x, int y) const { return g_render.pixels[y * FB_WIDTH + x]; }
    // Every pixel for which `inside` holds has `value`; every other is untouched.
    void expect_exactly(const std::function<bool(int, int)>& inside, uint32_t value) const {
        int wrong = 0;
        for (int y = 0; y < FB_HEIGHT; ++y)
            for (int x = 0; x < FB_WIDTH; ++x) {
                const uint32_t want = inside(x, y) ? value : SENTINEL;
                if (px(x, y) != want && wrong++ < 5) ADD_FAILURE() << "pixel (" << x << ", " << y << ")";
            }
        EXPECT_EQ(wrong, 0);
    }
    void expect_untouched() const {
        expect_exactly([](int, int) { return false; }, 0);
    }
};

auto box(int x0, int x1, int y0, int y1) {
    return [=](int x, int y) { return x >= x0 && x <= x1 && y >= y0 && y <= y1; };
}

TEST(Palette, CubeRampsBlackAndTheThreeExceptions) {
    EXPECT_EQ(Palette[0], 0xFFFFFFu);
    EXPECT_EQ(Palette[1], 0xFFFFCCu);
    EXPECT_EQ(Palette[5], 0xFFFF00u);
    EXPECT_EQ(Palette[35], 0xFF0000u);
    EXPECT_EQ(Palette[42], 0xCCCCFFu);
    EXPECT_EQ(Palette[190], 0x00CC33u);
    EXPECT_EQ(Palette[214], 0x000033u);
    EXPECT_EQ(Palette[6], 0x77736Au);
    EXPECT_EQ(Palette[7], 0xEEE7D4u);
    EXPECT_EQ(Palette[8], 0xFFCCFFu);
    EXPECT_EQ(Palette[9], 0xFFCC66u);
    EXPECT_EQ(Palette[215], 0xEE0000u);
    EXPECT_EQ(Palette[224], 0x110000u);
    EXPECT_EQ(Palette[225], 0x00EE00u);
    EXPECT_EQ(Palette[235], 0x0000EEu);
    EXPECT_EQ(Palette[244], 0x000011u);
    EXPECT_EQ(Palette[246], 0xDDDDDDu);
    EXPECT_EQ(Palette[247], 0xBBBBBBu);
    EXPECT_EQ(Palette[250], 0x777777u);
    EXPECT_EQ(Palette[252], 0x444444u);
    EXPECT_EQ(Palette[254], 0x111111u);
    EXPECT_EQ(Palette[255], 0x000000u);
    // The cube's rule values for 7 and 8 appear nowhere; every value is 24-bit.
    for (uint32_t v : Palette) {
        EXPECT_NE(v, 0xFFCCCCu);
        EXPECT_NE(v, 0xFFCC99u);
        EXPECT_EQ(v >> 24, 0u);
    }
}

TEST_F(Primitives, WholeBufferAndOversizedFillEveryPixel) {
    fill_rect(g_render, 0, 0, 910, 550, 35);
    expect_exactly(box(0, 909, 0, 549), 0xFF0000);
    fill_rect(g_render, 0, 0, 2000, 2000, 42);
    expect_exactly(box(0, 909, 0, 549), 0xCCCCFF);
}

TEST_F(Primitives, OriginBeyondRightOrBottomIsPulledIn) {
    fill_rect(g_render, 1000, 10, 50, 50, 0);
    expect_exactly(box(909, 909, 10, 59), 0xFFFFFF);
}

TEST_F(Primitives, OriginOnTheRightOrBottomEdgeIsPulledIn) {
    fill_rect(g_render, 910, 10, 50, 5, 0);  // column 909 only
    fill_rect(g_render, 910, 20, -3, 2, 0);  // leftward from 909; a stray column 910 wraps to the next row
    fill_rect(g_render, 10, 550, 5, 5, 0);
    fill_rect(g_render, 20, 550, 3, -4, 0);  // upward from row 549
    hline_band(g_render, 910, 30, 5, 2, 0);
    hline_band(g_render, 30, 550, 5, 2, 0);
    vline_band(g_render, 910, 40, 5, 2, 0);
    vline_band(g_render, 40, 550, 3, 2, 0);
    vline_band(g_render, 50, 550, -3, 2, 0);
    expect_exactly(
        [](int x, int y) {
            return box(909, 909, 10, 14)(x, y) || box(907, 909, 20, 21)(x, y) || box(10, 14, 549, 549)(x, y) ||
                   box(20, 22, 546, 549)(x, y) || box(909, 909, 30, 31)(x, y) || box(30, 34, 549, 549)(x, y) ||
                   box(909, 909, 40, 44)(x, y) || box(40, 41, 549, 549)(x, y) || box(50, 51, 547, 549)(x, y);
        },
        0xFFFFFF);
}

TEST_F(Primitives, OriginBeyondBottomDrawsLastRow) {
    fill_rect(g_render, 10, 600, 5, 5, 0);
    expect_exactly(box(10, 14, 549, 549), 0xFFFFFF);
}

TEST_F(Primitives, NegativeOriginDropsTheWholeCall) {
    fill_rect(g_render, -1, 0, 20, 20, 0);
    fill_rect(g_render, 0, -5, 20, 20, 0);
    hline_band(g_render, -1, 5, 20, 2, 0);
    vline_band(g_render, 5, -1, 20, 2, 0);
    expect_untouched();
}

TEST_F(Primitives, ZeroExtentsDrawNothing) {
    fill_rect(g_render, 10, 10, 0, 5, 0);
    fill_rect(g_render, 10, 10, 5, 0, 0);
    hline_band(g_render, 10, 10, 0, 5, 0);
    hline_band(g_render, 10, 10, 5, 0, 0);
    vline_band(g_render, 10, 10, 0, 5, 0);
    vline_band(g_render, 10, 10, 5, 0, 0);
    expect_untouched();
}

TEST_F(Primitives, NegativeWidthFillsLeftward) {
    fill_rect(g_render, 100, 100, -10, 5, 0);
    expect_exactly(box(91, 100, 100, 104), 0xFFFFFF);
}

TEST_F(Primitives, LeftwardFillStopsAtColumnOne) {
    fill_rect(g_render, 5, 0, -10, 1, 0);
    expect_exactly(box(1, 5, 0, 0), 0xFFFFFF);
    fill_rect(g_render, 0, 10, -3, 5, 35);  // from column 0: nothing
    expect_exactly(box(1, 5, 0, 0), 0xFFFFFF);
}

TEST_F(Primitives, NegativeHeightFillsUpwardToRowOne) {
    fill_rect(g_render, 10, 20, 3, -30, 0);
    expect_exactly(box(10, 12, 1, 20), 0xFFFFFF);
}

TEST_F(Primitives, BothExtentsNegative) {
    fill_rect(g_render, 4, 3, -10, -10, 0);
    expect_exactly(box(1, 4, 1, 3), 0xFFFFFF);
}

TEST_F(Primitives, HlineBandRejectsNegativeExtentsWhereFillRectDrawsLeftward) {
    hline_band(g_render, 100, 100, -10, 5, 0);
    hline_band(g_render, 100, 100, 10, -5, 0);
    expect_untouched();
    hline_band(g_render, 900, 548, 50, 10, 0);  // clipped to the corner
    expect_exactly(box(900, 909, 548, 549), 0xFFFFFF);
}

TEST_F(Primitives, VlineBandRunsUpwardAndClips) {
    vline_band(g_render, 50, 100, -20, 2, 0);
    expect_exactly(box(50, 51, 81, 100), 0xFFFFFF);
    vline_band(g_render, 50, 100, 20, 0, 35);
    vline_band(g_render, 50, 100, 20, -2, 35);
    expect_exactly(box(50, 51, 81, 100), 0xFFFFFF);
}

TEST_F(Primitives, VlineBandUpwardStopsAtRowOneAndDownwardAtTheBottom) {
    vline_band(g_render, 7, 5, -50, 1, 0);
    vline_band(g_render, 908, 540, 100, 5, 0);
    expect_exactly([](int x, int y) { return (x == 7 && y >= 1 && y <= 5) || (x >= 908 && y >= 540); }, 0xFFFFFF);
}

TEST_F(Primitives, OnlyTheLowEightBitsOfTheColourCount) {
    fill_rect(g_render, 0, 0, 1, 1, -9);
    fill_rect(g_render, 1, 0, 1, 1, 256);
    fill_rect(g_render, 2, 0, 1, 1, 0x1FF);
    EXPECT_EQ(px(0, 0), 0xBBBBBBu);
    EXPECT_EQ(px(1, 0), 0xFFFFFFu);
    EXPECT_EQ(px(2, 0), 0x000000u);
}

TEST_F(Primitives, ExtremeArgumentsStayInsideTheBuffer) {
    // Sums of these overflow 32 bits; nothing may be written out of bounds
    // (the sanitizer build catches a stray write).
    const int big = 0x7FFFFFFF, small = -0x7FFFFFFF - 1;
    fill_rect(g_render, big, big, big, big, 0);
    fill_rect(g_render, big, big, small, small, 0);
    hline_band(g_render, big, 0, big, big, 0);
    vline_band(g_render, 0, big, small, big, 0);
    bevel_box(g_render, 1, big, big, big, big, 0, 250, 252);
    bevel_box(g_render, 0, 0, 0, big, big, 0, 250, 252);
    // The last box's lower edge lands on the pulled-in bottom row.
    EXPECT_EQ(px(909, 549), 0x444444u);
    EXPECT_EQ(px(1, 1), 0x777777u);
}

// The finished box for a 60 x 30 key at (540, 10), face 247.
void check_bevel(const Primitives& t, bool pressed) {
    const uint32_t U = pressed ? 0x444444 : 0x777777, W = pressed ? 0x777777 : 0x444444;
    const int x = 540, y = 10, w = 60, h = 30;
    for (int py = y; py < y + h; ++py)
        for (int pxl = x; pxl < x + w; ++pxl) {
            const bool corner = (pxl == x || pxl == x + w - 1) && (py == y || py == y + h - 1);
            uint32_t want;
            if (corner)
                want = SENTINEL;
            else if (py == y || py == y + h - 1 || pxl == x || pxl == x + w - 1)
                want = 0x777777;
            else if ((py == y + h - 3 || py == y + h - 2) && pxl >= x + 2)
                want = W;  // lower edge
            else if ((pxl == x + w - 3 || pxl == x + w - 2) && py >= y + 2)
                want = W;  // right edge
            else if (py <= y + 2 || pxl <= x + 2)
                want = U;  // upper and left edges
            else
                want = 0xBBBBBB;
            ASSERT_EQ(t.px(pxl, py), want) << pxl << ", " << py << (pressed ? " pressed" : " released");
        }
}

TEST_F(Primitives, BevelBoxRegionsReleasedAndPressed) {
    bevel_box(g_render, 0, 540, 10, 60, 30, 247, 250, 252);
    EXPECT_EQ(px(541, 11), 0x777777u);
    EXPECT_EQ(px(598, 38), 0x444444u);
    EXPECT_EQ(px(543, 13), 0xBBBBBBu);
    EXPECT_EQ(px(540, 10), SENTINEL);
    check_bevel(*this, false);
    bevel_box(g_render, 1, 540, 10, 60, 30, 247, 250, 252);
    EXPECT_EQ(px(541, 11), 0x444444u);
    EXPECT_EQ(px(598, 38), 0x777777u);
    check_bevel(*this, true);
    // Nothing outside the box was written.
    for (int y = 0; y < FB_HEIGHT; ++y)
        for (int x = 0; x < FB_WIDTH; ++x)
            if (!box(540, 599, 10, 39)(x, y)) {
                ASSERT_EQ(px(x, y), SENTINEL) << x << ", " << y;
            }
}

TEST_F(Primitives, TinyBevelIsRaisedToTheMinimum) {
    bevel_box(g_render, 0, 20, 20, 3, 2, 247, 250, 252);
    std::vector<uint32_t> tiny(g_render.pixels, g_render.pixels + FB_WIDTH * FB_HEIGHT);
    std::fill_n(g_render.pixels, FB_WIDTH * FB_HEIGHT, SENTINEL);
    bevel_box(g_render, 0, 20, 20, 5, 5, 247, 250, 252);
    EXPECT_TRUE(std::equal(tiny.begin(), tiny.end(), g_render.pixels));
    for (auto [cx, cy] : {std::pair{20, 20}, {24, 20}, {20, 24}, {24, 24}}) EXPECT_EQ(px(cx, cy), SENTINEL);
    EXPECT_EQ(px(21, 21), 0x777777u);
}

// The box drawn band by band with the public primitives: what bevel_box must
// leave whatever way it stores the pixels.
void bevel_by_bands(int pressed, int x, int y, int w, int h, int face, int light, int dark) {
    w = std::max(w, BEVEL_MIN), h = std::max(h, BEVEL_MIN);
    hline_band(g_render, x + 1, y, w - 2, 1, 250);
    hline_band(g_render, x + 1, y + h - 1, w - 2, 1, 250);
    vline_band(g_render, x, y + 1, h - 2, 1, 250);
    vline_band(g_render, x + w - 1, y + 1, h - 2, 1, 250);
    fill_rect(g_render, x + 3, y + 3, w - 6, h - 6, face);
    const int upper = pressed ? dark : light, lower = pressed ? light : dark;
    hline_band(g_render, x + 1, y + 1, w - 2, 2, upper);
    vline_band(g_render, x + 1, y + 1, h - 2, 2, upper);
    vline_band(g_render, x + w - 3, y + 2, h - 4, 2, lower);
    hline_band(g_render, x + 2, y + h - 3, w - 3, 2, lower);
}

TEST_F(Primitives, BevelBoxEqualsItsBandsForEverySizeAndPlace) {
    // Small sizes around the smallest full box, key sizes, and boxes ending
    // one short of, on, and past the right and bottom edges.
    const int sizes[] = {3, 5, 6, 7, 8, 9, 13, 60, 909};
    const int places[][2] = {{0, 0}, {540, 10}, {850, 490}, {902, 543}, {903, 544}, {905, 546}, {909, 549}};
    std::vector<uint32_t> want(size_t(FB_WIDTH) * FB_HEIGHT);
    // A buffer with a guard row on each side, so a store past either end shows.
    std::vector<uint32_t> guarded(want.size() + 2 * FB_WIDTH, SENTINEL);
    struct Restore {
        uint32_t* own = g_render.pixels;
        ~Restore() { g_render.pixels = own; }
    } restore;  // also when an assertion ends the test early
    g_render.pixels = guarded.data() + FB_WIDTH;
    auto guards_intact = [&] {
        return std::all_of(guarded.begin(), guarded.begin() + FB_WIDTH, [](uint32_t v) { return v == SENTINEL; }) &&
               std::all_of(guarded.end() - FB_WIDTH, guarded.end(), [](uint32_t v) { return v == SENTINEL; });
    };
    for (int w : sizes)
        for (int h : sizes)
            for (const auto& p : places)
                for (int pressed : {0, 1}) {
                    std::fill_n(g_render.pixels, FB_WIDTH * FB_HEIGHT, SENTINEL);
                    bevel_by_bands(pressed, p[0], p[1], w, h, 247, 250, 252);
                    std::copy_n(g_render.pixels, want.size(), want.begin());
                    std::fill_n(g_render.pixels, FB_WIDTH * FB_HEIGHT, SENTINEL);
                    bevel_box(g_render, pressed, p[0], p[1], w, h, 247, 250, 252);
                    const auto diff = std::mismatch(want.begin(), want.end(), g_render.pixels);
                    ASSERT_TRUE(diff.first == want.end())
                        << w << " x " << h << " at (" << p[0] << ", " << p[1] << ")" << (pressed ? " pressed" : "")
                        << ": pixel " << (diff.first - want.begin()) % FB_WIDTH << ", "
                        << (diff.first - want.begin()) / FB_WIDTH;
                    ASSERT_TRUE(guards_intact()) << w << " x " << h << " at (" << p[0] << ", " << p[1] << ")";
                }
}

}  // namespace
