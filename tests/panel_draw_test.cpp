// One full redraw through dispatch: background, captions, every key in both
// looks, the glyphs and the port switches.
#include <cstring>
#include <map>

#include "render/frame_buffer.h"
#include "render/palette.h"
#include "render/render_context.h"
#include "test_util.h"

namespace {

struct Drawing : CoreTest {
    void SetUp() override {
        CoreTest::SetUp();
        create_fonts(g_render);
        ASSERT_TRUE(create_frame_buffer(g_render, nullptr));
    }
    void redraw() {
        fake::log().clear();
        post_event(EV_REDRAW, 0);
    }
    uint32_t px(int x, int y) const { return g_render.pixels[y * FB_WIDTH + x]; }
    // Replays the text log: the platform colour each drawn string got, keyed
    // by "x y text".
    static std::map<std::string, uint32_t> text_colors() {
        std::map<std::string, uint32_t> out;
        uint32_t current = 0x000000;  // a new surface draws black
        for (const std::string& s : fake::log()) {
            if (s.rfind("text_color ", 0) == 0) current = std::stoul(s.substr(11), nullptr, 16);
            if (s.rfind("text ", 0) == 0) out[s.substr(5)] = current;
        }
        return out;
    }
};

std::string where(const PanelKey& k, int line = 0) {
    return std::to_string(k.label_at[line].x) + " " + std::to_string(k.label_at[line].y) + " " + k.label[line];
}

TEST_F(Drawing, BackgroundAndCaptionsComeFirst) {
    redraw();
    EXPECT_EQ(px(0, 0), 0x444444u);
    EXPECT_EQ(px(909, 549), 0x444444u);
    EXPECT_EQ(px(5, 440), 0x444444u);
    const auto& log = fake::log();
    ASSERT_GE(log.size(), 5u);
    EXPECT_EQ(log[0], "select_font " + std::to_string(reinterpret_cast<intptr_t>(g_render.fonts[6])));
    EXPECT_EQ(log[1], "text_color FFFFFF");
    EXPECT_EQ(log[2], "text 48 455 TRACK SELECT");
    EXPECT_EQ(log[3], "text 120 485 PAD");
}

TEST_F(Drawing, EverySchemeInBothStates) {
    for (int pressed = 0; pressed <= 1; ++pressed) {
        for (int16_t& p : g_panel.pressed) p = int16_t(pressed);
        redraw();
        const auto colors = text_colors();
        for (int k = 0; k < KEY_COUNT; ++k) {
            const PanelKey& key = KeyTable[k];
            const FaceColors& c = FACE_SCHEMES[key.scheme];
            const int face = pressed ? c.face_pressed : c.face_released;
            // A face pixel away from any label or glyph: just inside the edges.
            EXPECT_EQ(px(key.rect.x + 3, key.rect.y + key.rect.h - 4), Palette[face]) << k;
            const uint32_t upper = pressed ? 0x444444 : 0x777777;
            EXPECT_EQ(px(key.rect.x + 1, key.rect.y + 1), upper) << k;
            EXPECT_EQ(px(key.rect.x + key.rect.w - 2, key.rect.y + key.rect.h - 2), pressed ? 0x777777u : 0x444444u);
            if (key.style == STYLE_LABEL || key.style == STYLE_TWO_LINE) {
                const uint32_t label = to_colorref(Palette[pressed ? c.label_pressed : c.label_released]);
                ASSERT_TRUE(colors.count(where(key))) << where(key);
                EXPECT_EQ(colors.at(where(key)), label) << where(key);
                if (key.style == STYLE_TWO_LINE) {
                    EXPECT_EQ(colors.at(where(key, 1)), label);
                }
            }
        }
    }
}

TEST_F(Drawing, SchemeValues) {
    // Standard, record and keypad keys against their literal colours.
    g_panel.pressed[12] = 1;  // REC pressed
    redraw();
    auto colors = text_colors();
    EXPECT_EQ(px(545, 13), 0xBBBBBBu);  // "A" released face
    EXPECT_EQ(colors.at("560 14 A"), 0x000000u);
    EXPECT_EQ(px(453, 398), 0xFFFFFFu);  // REC pressed face, label black
    EXPECT_EQ(colors.at("470 407 REC"), 0x000000u);
    EXPECT_EQ(px(543, 398), 0xFF0000u);  // DUB released: red face, white label
    EXPECT_EQ(colors.at("555 407 DUB"), 0xFFFFFFu);
    EXPECT_EQ(px(353, 53), 0x777777u);  // keypad "7" released
    EXPECT_EQ(colors.at("367 57 7"), 0xFFFFFFu);
    EXPECT_EQ(px(633, 398), 0xDDDDDDu);  // STOP
    EXPECT_EQ(px(13, 13), 0xCCCCFFu);    // F1
}

TEST_F(Drawing, ArrowGlyphs) {
    for (int pressed = 0; pressed <= 1; ++pressed) {
        for (int16_t& p : g_panel.pressed) p = int16_t(pressed);
        redraw();
        const uint32_t face = pressed ? 0xFFFFFF : 0xBBBBBB;
        // Left arrow
        EXPECT_EQ(px(671, 228), 0xDDDDDDu);
        EXPECT_EQ(px(671, 229), 0xDDDDDDu);
        EXPECT_EQ(px(670, 229), face);
        EXPECT_EQ(px(689, 210), 0xDDDDDDu);
        EXPECT_EQ(px(689, 247), 0xDDDDDDu);
        EXPECT_EQ(px(689, 248), face);
        EXPECT_EQ(px(690, 229), face);
        // Right arrow mirrors it
        EXPECT_EQ(px(857, 228), 0xDDDDDDu);
        EXPECT_EQ(px(858, 229), face);
        EXPECT_EQ(px(839, 210), 0xDDDDDDu);
        EXPECT_EQ(px(838, 229), face);
        // Up arrow: row 154 holds only 764 and 765; row 172 runs 746..783
        for (int x = 740; x <= 790; ++x) EXPECT_EQ(px(x, 154), (x == 764 || x == 765) ? 0xDDDDDDu : face) << x;
        EXPECT_EQ(px(745, 172), face);
        EXPECT_EQ(px(746, 172), 0xDDDDDDu);
        EXPECT_EQ(px(783, 172), 0xDDDDDDu);
        EXPECT_EQ(px(784, 172), face);
        EXPECT_EQ(px(765, 153), face);
        // Down arrow: rows 284..302
        EXPECT_EQ(px(746, 284), 0xDDDDDDu);
        EXPECT_EQ(px(764, 302), 0xDDDDDDu);
        EXPECT_EQ(px(765, 303), face);
        EXPECT_EQ(px(766, 302), face);
    }
}

TEST_F(Drawing, MinusBarInBothStates) {
    for (int pressed = 0; pressed <= 1; ++pressed) {
        g_panel.pressed[56] = int16_t(pressed);
        redraw();
        const uint32_t face = pressed ? 0xBBBBBB : 0x777777;
        EXPECT_EQ(px(475, 237), 0xFFFFFFu);
        EXPECT_EQ(px(489, 240), 0xFFFFFFu);
        EXPECT_EQ(px(490, 237), face);
        EXPECT_EQ(px(475, 241), face);
        EXPECT_EQ(px(474, 237), face);
    }
}

struct Switches : Drawing {
    void with_outputs(int n) {
        for (int d = 0; d < n; ++d) fake::world().outputs.push_back({"Device " + std::to_string(d)});
        open_panel_devices();
        for (int16_t& e : g_panel.port_enable) e = 1;
    }
    bool box_drawn(int k) const {
        const int top = 376 + 18 * (k - 1);
        for (int y = top; y < top + 16; ++y)
            for (int x = 10; x < 45; ++x)
                if (px(x, y) != 0xFFFFFFu) return false;
        return px(9, top) == 0x444444u && px(45, top) == 0x444444u && px(10, top + 16) != 0xFFFFFFu;
    }
};

TEST_F(Switches, OneDeviceDrawsNoSwitch) {
    with_outputs(1);
    redraw();
    for (int k = 1; k <= 3; ++k) EXPECT_FALSE(box_drawn(k)) << k;
}

TEST_F(Switches, TwoDevicesDrawOnlySwitchOne) {
    with_outputs(2);
    redraw();
    EXPECT_TRUE(box_drawn(1));
    EXPECT_FALSE(box_drawn(2));
    EXPECT_FALSE(box_drawn(3));
    const auto colors = text_colors();
    EXPECT_EQ(colors.at("17 376 ON"), 0x000000u);
    EXPECT_EQ(colors.at("50 377 Device 1"), 0xFFFFFFu);
    EXPECT_EQ(colors.count("50 395 Device 2"), 0u);
}

TEST_F(Switches, FourDevicesDrawAllThreeWithState) {
    with_outputs(4);
    g_panel.port_enable[1] = 0;
    redraw();
    for (int k = 1; k <= 3; ++k) EXPECT_TRUE(box_drawn(k)) << k;
    const auto colors = text_colors();
    EXPECT_TRUE(colors.count("17 376 ON"));
    EXPECT_TRUE(colors.count("14 394 OFF"));
    EXPECT_TRUE(colors.count("17 412 ON"));
    EXPECT_TRUE(colors.count("50 413 Device 3"));
    // Names are drawn in the device-default slot, states in slot 6.
    const std::string slot2 = "select_font " + std::to_string(reinterpret_cast<intptr_t>(g_render.fonts[2]));
    const auto it = std::find(fake::log().begin(), fake::log().end(), "text 17 376 ON");
    ASSERT_NE(it, fake::log().end());
    EXPECT_EQ(*(it + 1), slot2);
}

TEST_F(Switches, FailedDeviceStillGetsItsSwitchWithAnEmptyName) {
    fake::world().outputs = {{"zero"}, {"one", false}};
    open_panel_devices();
    for (int16_t& e : g_panel.port_enable) e = 1;
    redraw();
    EXPECT_TRUE(box_drawn(1));
    EXPECT_TRUE(text_colors().count("50 377 "));
}

TEST_F(Drawing, TwoRedrawsWithoutInputAreIdentical) {
    fake::world().outputs = {{"a"}, {"b"}, {"c"}, {"d"}};
    open_panel_devices();
    for (int16_t& e : g_panel.port_enable) e = 1;
    g_panel.pressed[3] = 1;
    redraw();
    const std::vector<uint32_t> first(g_render.pixels, g_render.pixels + FB_WIDTH * FB_HEIGHT);
    const auto first_log = fake::log();
    redraw();  // nothing changed, so nothing is drawn
    EXPECT_TRUE(std::equal(first.begin(), first.end(), g_render.pixels));
    EXPECT_TRUE(fake::log().empty());
    EXPECT_EQ(g_render.damage.count, 1);  // still only the first redraw's
    forget_panel_drawing();
    redraw();  // drawn whole again
    EXPECT_TRUE(std::equal(first.begin(), first.end(), g_render.pixels));
    // Same calls too, except that the colour cache may skip the first colour call.
    EXPECT_EQ(fake::log().back(), first_log.back());
}

// Only the keys and switches whose look changed are drawn again, each over
// its own frame or box; the name beside a switch is not drawn twice.
TEST_F(Drawing, RedrawAfterAChangeDrawsOnlyWhatChanged) {
    fake::world().outputs = {{"a"}, {"b"}, {"c"}, {"d"}};
    open_panel_devices();
    for (int16_t& e : g_panel.port_enable) e = 1;
    redraw();
    clear_damage(g_render);
    g_panel.pressed[0] = 1;  // "A"
    g_panel.port_enable[1] = 0;
    redraw();
    std::vector<std::string> texts;
    for (const auto& s : fake::log())
        if (s.rfind("text ", 0) == 0) texts.push_back(s);
    EXPECT_EQ(texts, (std::vector<std::string>{"text 560 14 A", "text 14 394 OFF"}));
    ASSERT_EQ(g_render.damage.count, 2);
    const DamageRect& key = g_render.damage.rects[0];
    const DamageRect& box = g_render.damage.rects[1];
    EXPECT_EQ((std::vector<int>{key.x, key.y, key.w, key.h}), (std::vector<int>{540, 10, 60, 30}));
    EXPECT_EQ((std::vector<int>{box.x, box.y, box.w, box.h}), (std::vector<int>{10, 394, 35, 16}));
    EXPECT_EQ(px(543, 13), 0xFFFFFFu);
    EXPECT_EQ(px(5, 5), 0x444444u);
}

// Damage beyond DAMAGE_RECTS pieces merges into one box around them all;
// it is clipped to the frame buffer and cleared by a present.
TEST_F(Drawing, DamageMergesClipsAndClears) {
    for (int i = 0; i < DAMAGE_RECTS; ++i) add_damage(g_render, 100 + i, 200, 10, 10);
    EXPECT_EQ(g_render.damage.count, DAMAGE_RECTS);
    add_damage(g_render, 900, 540, 50, 50);
    ASSERT_EQ(g_render.damage.count, 1);
    const DamageRect& r = g_render.damage.rects[0];
    EXPECT_EQ((std::vector<int>{r.x, r.y, r.w, r.h}), (std::vector<int>{100, 200, 810, 350}));
    clear_damage(g_render);
    add_damage(g_render, -5, -5, 10, 3);  // wholly above the buffer
    add_damage(g_render, 905, 0, 0, 10);  // empty
    EXPECT_EQ(g_render.damage.count, 0);
    add_damage(g_render, -5, 2, 10, 3);
    ASSERT_EQ(g_render.damage.count, 1);
    const DamageRect& c = g_render.damage.rects[0];
    EXPECT_EQ((std::vector<int>{c.x, c.y, c.w, c.h}), (std::vector<int>{0, 2, 5, 3}));
}

}  // namespace
