// Font slots, the text colour cache and text output through the text double.
#include <algorithm>

#include "render/frame_buffer.h"
#include "render/render_context.h"
#include "test_util.h"

namespace {

struct Text : CoreTest {
    void SetUp() override {
        CoreTest::SetUp();
        create_fonts(g_render);
        ASSERT_TRUE(create_frame_buffer(g_render, nullptr));
        fake::log().clear();
    }
    static long count(const std::string& prefix) {
        return std::count_if(fake::log().begin(), fake::log().end(),
                             [&](const std::string& s) { return s.rfind(prefix, 0) == 0; });
    }
};

TEST(Fonts, FourteenSlotsMadeInOrderAndReleasedInOrder) {
    fake::reset();
    create_fonts(g_render);
    const std::vector<std::string> made(fake::log().begin(), fake::log().end());
    const std::string sjis = "\x82\x6C\x82\x72\x81\x40\x83\x53\x83\x56\x83\x62\x83\x4E";
    const std::vector<std::string> expected = {
        "stock_font 0",
        "stock_font 1",
        "stock_font 2",
        "stock_font 3",
        "stock_font 4",
        "create_font 14 0 700 0 arial",
        "create_font 16 0 700 0 arial",
        "create_font 18 0 700 0 arial",
        "create_font 21 7 700 0 arial",
        "create_font 22 8 700 0 arial",
        "create_font 28 10 700 0 arial",
        "create_font 35 15 700 0 arial",
        "create_font 16 0 700 128 " + sjis,
        "create_font 12 0 700 128 " + sjis,
    };
    EXPECT_EQ(made, expected);
    EXPECT_EQ(g_render.text_color_index, 255);
    EXPECT_EQ(fake::world().text_color_calls, 0);
    void* fonts[FONT_SLOTS];
    std::copy(std::begin(g_render.fonts), std::end(g_render.fonts), fonts);
    fake::log().clear();
    release_fonts(g_render);
    ASSERT_EQ(fake::log().size(), size_t(FONT_SLOTS));
    for (int s = 0; s < FONT_SLOTS; ++s)
        EXPECT_EQ(fake::log()[s], "release_font " + std::to_string(reinterpret_cast<intptr_t>(fonts[s])));
    fake::reset();
}

TEST(Colorref, SwapsRedAndBlue) {
    static_assert(to_colorref(0x00CC33) == 0x33CC00);
    EXPECT_EQ(to_colorref(0x77736A), 0x6A7377u);
    EXPECT_EQ(to_colorref(0x000000), 0x000000u);
    EXPECT_EQ(to_colorref(0xFFFFFF), 0xFFFFFFu);
}

TEST_F(Text, FirstBlackTextMakesNoColourCall) {
    draw_text(g_render, 5, 6, "abc", 255);
    EXPECT_EQ(fake::world().text_color_calls, 0);
    EXPECT_EQ(fake::log(), (std::vector<std::string>{"text 5 6 abc"}));
}

TEST_F(Text, SameColourTwiceCostsOneCallAlternatingCostsOneEach) {
    draw_text(g_render, 0, 0, "x", 0);
    draw_text(g_render, 0, 0, "y", 0);
    EXPECT_EQ(fake::world().text_color_calls, 1);
    EXPECT_EQ(fake::log()[0], "text_color FFFFFF");
    EXPECT_EQ(g_render.text_color_index, 0);
    for (int i = 0; i < 4; ++i) draw_text(g_render, 0, 0, "z", i % 2 ? 0 : 255);
    EXPECT_EQ(fake::world().text_color_calls, 5);
    EXPECT_EQ(g_render.text_color_index, 0);
}

TEST_F(Text, EmptyTextStillSetsAChangedColour) {
    draw_text(g_render, 1, 2, "", 0);
    EXPECT_EQ(fake::log(), (std::vector<std::string>{"text_color FFFFFF", "text 1 2 "}));
}

TEST_F(Text, SetTextColorKeepsTheLowByteAndConvertsToPlatformOrder) {
    set_text_color(g_render, 35 + 256);
    EXPECT_EQ(g_render.text_color_index, 35);
    EXPECT_EQ(fake::log().back(), "text_color 0000FF");
}

TEST_F(Text, SelectFontPassesTheSlotsHandle) {
    select_font(g_render, 6);
    EXPECT_EQ(fake::log().back(), "select_font " + std::to_string(reinterpret_cast<intptr_t>(g_render.fonts[6])));
    select_font(g_render, 14);  // no such slot: nothing happens
    select_font(g_render, -1);
    EXPECT_EQ(count("select_font"), 1);
}

}  // namespace
