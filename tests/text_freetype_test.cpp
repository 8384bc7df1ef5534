// The FreeType text backend drawing real glyphs into frame-buffer pixels:
// placement inside the cell, exact colour, transparent background, clipping,
// the Windows font mapping of the panel's font slots, and missing faces; and
// the panel redrawn in parts, with real labels, against the panel drawn whole.
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "fakes.h"
#include "panel/panel.h"
#include "platform/linux/text/text_freetype.h"
#include "render/frame_buffer.h"
#include "render/render_context.h"
#include "render/text_backend.h"

namespace {

constexpr int FW_BOLD = 700;
constexpr size_t FB_PIXELS = size_t(FB_WIDTH) * FB_HEIGHT;
constexpr size_t GUARD = 4096;  // pixels of sentinel on each side of the buffer
constexpr uint32_t SENTINEL = 0xA5C3E1F7;

// colorref 0x00BBGGRR of a 0x00RRGGBB value
constexpr uint32_t colorref(uint32_t rgb) { return to_colorref(rgb); }

// A frame buffer with guard regions before and after it and a text surface
// drawing into it.
struct Canvas {
    std::vector<uint32_t> memory = std::vector<uint32_t>(FB_PIXELS + 2 * GUARD, SENTINEL);
    uint32_t* pixels = memory.data() + GUARD;
    void* surface = text_create_surface(pixels);

    explicit Canvas(uint32_t fill = 0x00FFFFFF) { this->fill(fill); }
    ~Canvas() { text_delete_surface(surface); }
    Canvas(const Canvas&) = delete;
    Canvas& operator=(const Canvas&) = delete;

    void fill(uint32_t v) { std::fill(pixels, pixels + FB_PIXELS, v); }
    uint32_t at(int x, int y) const { return pixels[size_t(y) * FB_WIDTH + x]; }
    void draw(void* font, int x, int y, const std::string& text, uint32_t rgb = 0) {
        text_select_font(surface, font);
        text_set_color(surface, colorref(rgb));
        text_out(surface, x, y, text.data(), int(text.size()));
    }
    bool guards_intact() const {
        for (size_t i = 0; i < GUARD; ++i)
            if (memory[i] != SENTINEL || memory[GUARD + FB_PIXELS + i] != SENTINEL) return false;
        return true;
    }
};

// Bounding box of the pixels that differ from `background`; empty when none.
struct Box {
    int x0 = INT_MAX, y0 = INT_MAX, x1 = INT_MIN, y1 = INT_MIN;  // inclusive
    int count = 0;
};

Box changed(const Canvas& c, uint32_t background) {
    Box b;
    for (int y = 0; y < FB_HEIGHT; ++y)
        for (int x = 0; x < FB_WIDTH; ++x)
            if (c.at(x, y) != background) {
                b.x0 = std::min(b.x0, x), b.x1 = std::max(b.x1, x);
                b.y0 = std::min(b.y0, y), b.y1 = std::max(b.y1, y);
                ++b.count;
            }
    return b;
}

// The panel's bold "arial" font slots 5..11.
struct Slot {
    int height, width;
};
constexpr Slot SLOTS[] = {{14, 0}, {16, 0}, {18, 0}, {21, 7}, {22, 8}, {28, 10}, {35, 15}};

struct Fonts {
    void* slot[7];
    Fonts() {
        for (int i = 0; i < 7; ++i) slot[i] = text_create_font(SLOTS[i].height, SLOTS[i].width, FW_BOLD, 0, "arial");
    }
    ~Fonts() {
        for (void* f : slot) text_release_font(f);
    }
    void* operator()(int font_slot) const { return slot[font_slot - 5]; }
};

const Fonts& fonts() {
    static Fonts f;
    return f;
}

// Average advance with the weights Windows uses for a face's average
// character width: the lowercase letters and the space.
double weighted_average_advance(void* font) {
    static const int LETTER_WEIGHTS[27] = {166, 64, 14, 27, 35, 100, 20, 14, 42, 63, 3, 6,  35, 20,
                                           56,  56, 17, 4,  49, 56,  71, 31, 10, 18, 3, 18, 2};
    double sum = 0;
    for (int i = 0; i < 27; ++i) {
        char s[2] = {i == 0 ? ' ' : char('a' + i - 1), 0};
        sum += double(text_measure(font, s)) * LETTER_WEIGHTS[i];
    }
    return sum / 1000.0;
}

TEST(TextFreetype, PanelSlotsFollowTheWindowsCellMapping) {
    struct Expect {
        int slot, cell, ascent;
    };
    // Windows: cell = requested height; ascent = usWinAscent at the em size
    // whose usWinAscent + usWinDescent is nearest the cell.
    const Expect expect[] = {{6, 16, 13}, {9, 22, 18}, {10, 28, 23}, {11, 35, 28}};
    for (const Expect& e : expect) {
        int cell = 0, ascent = 0, avg = 0;
        ASSERT_TRUE(text_font_metrics(fonts()(e.slot), &cell, &ascent, &avg)) << "slot " << e.slot;
        EXPECT_EQ(cell, e.cell) << "slot " << e.slot;
        EXPECT_EQ(ascent, e.ascent) << "slot " << e.slot;
        int requested = SLOTS[e.slot - 5].width;
        if (requested != 0) {
            EXPECT_EQ(avg, requested) << "slot " << e.slot;
        }
    }
}

TEST(TextFreetype, RequestedAverageWidthIsTheDrawnAverageAdvance) {
    for (int slot : {8, 9, 10, 11}) {
        double measured = weighted_average_advance(fonts()(slot));
        EXPECT_NEAR(measured, SLOTS[slot - 5].width, 1.0) << "slot " << slot;
    }
    // Natural aspect: Arial Bold at a 16 pixel cell averages about 7 pixels.
    int avg = 0;
    ASSERT_TRUE(text_font_metrics(fonts()(6), nullptr, nullptr, &avg));
    EXPECT_NEAR(weighted_average_advance(fonts()(6)), avg, 1.0);
    EXPECT_NEAR(avg, 7, 1);
}

TEST(TextFreetype, CondensedWidthDrawsNarrowerThanNaturalAspect) {
    void* natural = text_create_font(22, 0, FW_BOLD, 0, "arial");
    void* condensed = fonts()(9);  // 22 high, average width 8
    const std::string text = "TRACK SELECT";
    int wide = text_measure(natural, text.c_str());
    int narrow = text_measure(condensed, text.c_str());
    EXPECT_LT(narrow * 10, wide * 9) << narrow << " vs " << wide;

    Canvas a, b;
    a.draw(natural, 10, 10, text);
    b.draw(condensed, 10, 10, text);
    Box wa = changed(a, 0xFFFFFF), wb = changed(b, 0xFFFFFF);
    ASSERT_GT(wa.count, 0);
    ASSERT_GT(wb.count, 0);
    EXPECT_LT(wb.x1 - wb.x0, wa.x1 - wa.x0);
    // Same cell height: the condensed face keeps the vertical size.
    EXPECT_NEAR(wb.y1 - wb.y0, wa.y1 - wa.y0, 1);
    text_release_font(natural);
}

TEST(TextFreetype, GlyphsLandInsideTheirCell) {
    // Every changed pixel lies in [x, x + advance) x [y, y + cell), except
    // the anti-aliased fringe of a glyph that reaches its advance or the
    // face's descent: one more column or row, never fully covered.
    const char* texts[] = {"TRACK SELECT",        "PAD",     "ENTER",   "16LEV", "0123456789+",
                           "Midi Through Port-0", "NEXT SQ", "TR MUTE", "OFF",   "Wjgpqy"};
    for (int slot : {5, 6, 9, 10, 11}) {
        int cell = 0;
        ASSERT_TRUE(text_font_metrics(fonts()(slot), &cell, nullptr, nullptr));
        for (const char* text : texts) {
            Canvas c;
            const int x = 100, y = 200;
            c.draw(fonts()(slot), x, y, text);
            Box b = changed(c, 0xFFFFFF);
            int advance = text_measure(fonts()(slot), text);
            ASSERT_GT(b.count, 0) << text;
            EXPECT_GE(b.x0, x) << "slot " << slot << " " << text;
            EXPECT_LE(b.x1, x + advance) << "slot " << slot << " " << text;
            EXPECT_GE(b.y0, y) << "slot " << slot << " " << text;
            EXPECT_LE(b.y1, y + cell) << "slot " << slot << " " << text;
            for (int yy = y; yy <= y + cell; ++yy)
                for (int xx = x; xx <= x + advance; ++xx)
                    if (yy == y + cell || xx == x + advance) {
                        EXPECT_NE(c.at(xx, yy), 0u) << "slot " << slot << " " << text << " at " << xx << "," << yy;
                    }
        }
    }
}

TEST(TextFreetype, BaselineSitsAscentBelowTheTop) {
    // A flat-bottomed capital ends on the baseline: its lowest inked row is
    // the one just above y + ascent.
    int ascent = 0;
    ASSERT_TRUE(text_font_metrics(fonts()(11), nullptr, &ascent, nullptr));
    Canvas c;
    c.draw(fonts()(11), 300, 100, "E");
    Box b = changed(c, 0xFFFFFF);
    ASSERT_GT(b.count, 0);
    EXPECT_EQ(b.y1, 100 + ascent - 1);
}

TEST(TextFreetype, FullCoverageIsTheExactColourAndEdgesBlend) {
    const uint32_t bg = 0x204060, fg = 0xF0C018;
    Canvas c(bg);
    c.draw(fonts()(11), 50, 50, "M", fg);
    int exact = 0, blended = 0;
    for (int y = 0; y < FB_HEIGHT; ++y)
        for (int x = 0; x < FB_WIDTH; ++x) {
            uint32_t v = c.at(x, y);
            if (v == bg) continue;
            if (v == fg) {
                ++exact;
                continue;
            }
            ++blended;
            // Every partly covered pixel lies between background and colour.
            for (int shift : {0, 8, 16}) {
                int p = int(v >> shift) & 0xFF, lo = int(bg >> shift) & 0xFF, hi = int(fg >> shift) & 0xFF;
                EXPECT_GE(p, std::min(lo, hi)) << x << "," << y;
                EXPECT_LE(p, std::max(lo, hi)) << x << "," << y;
            }
            EXPECT_EQ(v >> 24, 0u);
        }
    EXPECT_GT(exact, 100);   // the stems of a 35 pixel M are solid
    EXPECT_GT(blended, 10);  // and its diagonals anti-aliased
}

TEST(TextFreetype, BackgroundIsTransparent) {
    // Two background colours side by side: wherever text leaves a pixel
    // uncovered it keeps its own colour, including inside the glyphs.
    Canvas c;
    for (int y = 0; y < FB_HEIGHT; ++y)
        for (int x = 0; x < FB_WIDTH; ++x) c.pixels[y * FB_WIDTH + x] = x < 120 ? 0x123456 : 0x654321;
    c.draw(fonts()(11), 80, 100, "H H", 0xFFFFFF);
    int ascent = 0;
    ASSERT_TRUE(text_font_metrics(fonts()(11), nullptr, &ascent, nullptr));
    // A row through the upper half of the first H: two stems with the
    // untouched background between them.
    const int row = 100 + ascent - 18;
    int runs = 0;
    bool in_ink = false, gap_seen = false;
    for (int x = 80; x < 80 + text_measure(fonts()(11), "H"); ++x) {
        uint32_t v = c.at(x, row);
        bool ink = v != 0x123456;
        if (ink && !in_ink) ++runs;
        if (!ink && runs == 1) gap_seen = true;
        in_ink = ink;
    }
    EXPECT_EQ(runs, 2);
    EXPECT_TRUE(gap_seen);
    // Outside the string's cell nothing changed on either side.
    for (int y = 0; y < FB_HEIGHT; ++y)
        for (int x = 0; x < FB_WIDTH; ++x)
            if (y < 100 || y >= 135 || x < 80) {
                ASSERT_EQ(c.at(x, y), x < 120 ? 0x123456u : 0x654321u) << x << "," << y;
            }
}

TEST(TextFreetype, NewSurfaceDrawsBlackInTheDeviceDefaultFont) {
    Canvas a, b;
    text_out(a.surface, 40, 40, "Midi Through", 12);
    b.draw(text_stock_font(STOCK_DEVICE_DEFAULT), 40, 40, "Midi Through", 0x000000);
    Box box = changed(a, 0xFFFFFF);
    ASSERT_GT(box.count, 0);
    EXPECT_TRUE(std::equal(a.pixels, a.pixels + FB_PIXELS, b.pixels));
    bool black = false;
    for (int i = 0; i < int(FB_PIXELS); ++i) black = black || a.pixels[i] == 0;
    EXPECT_TRUE(black);
}

TEST(TextFreetype, DrawingTheSameTextTwiceGivesTheSameImage) {
    Canvas a, b;
    a.draw(fonts()(9), 10, 10, "PLAY START");
    b.draw(fonts()(9), 10, 10, "PLAY START");  // from the glyph cache
    EXPECT_TRUE(std::equal(a.pixels, a.pixels + FB_PIXELS, b.pixels));
    // Drawn at another place, the same glyphs shift by exactly the offset.
    Canvas s;
    s.draw(fonts()(9), 13, 17, "PLAY START");
    for (int y = 0; y + 7 < FB_HEIGHT; ++y)
        for (int x = 0; x + 3 < FB_WIDTH; ++x) ASSERT_EQ(a.at(x, y), s.at(x + 3, y + 7));
}

TEST(TextFreetype, LabelsOverAPlainBackgroundMatchPixelByPixelBlending) {
    // Over one plain colour a label is copied from a pre-blended image; one
    // odd pixel under it makes the backend blend pixel by pixel instead. Both
    // must give the same pixels everywhere but that one, through changes of
    // colour and background and with the label cut by the buffer's edges.
    struct Draw {
        uint32_t bg, fg;
        int x, y;
    };
    const Draw draws[] = {{0xC8C8C8, 0x000000, 100, 100}, {0xC8C8C8, 0x000000, 300, 200},
                          {0x204060, 0x000000, 100, 100}, {0x204060, 0xF0C018, 100, 100},
                          {0x204060, 0xF0C018, -9, 540},  {0xFFFFFF, 0x101010, 880, -6}};
    for (const Draw& d : draws) {
        Canvas plain(d.bg), odd(d.bg);
        plain.draw(fonts()(9), d.x, d.y, "TRACK SELECT", d.fg);
        int spot = -1;
        for (int i = 0; i < int(FB_PIXELS) && spot < 0; ++i)
            if (plain.pixels[i] != d.bg && plain.pixels[i] != d.fg) spot = i;
        ASSERT_GE(spot, 0) << "no partly covered pixel at " << d.x << "," << d.y;
        const uint32_t other = d.bg ^ 0x00FF00;
        odd.pixels[spot] = other;
        odd.draw(fonts()(9), d.x, d.y, "TRACK SELECT", d.fg);
        for (int i = 0; i < int(FB_PIXELS); ++i) {
            if (i == spot) continue;
            ASSERT_EQ(plain.pixels[i], odd.pixels[i]) << "pixel " << i << " at " << d.x << "," << d.y;
        }
        // The odd pixel was blended over its own value, not the plain one.
        EXPECT_NE(odd.pixels[spot], plain.pixels[spot]);
        EXPECT_TRUE(plain.guards_intact() && odd.guards_intact());
    }
}

TEST(TextFreetype, PenAdvancesByTheMeasuredWidth) {
    // "AB" drawn in one call equals "A" then "B" at A's advance.
    Canvas one, two;
    one.draw(fonts()(10), 200, 200, "AB");
    two.draw(fonts()(10), 200, 200, "A");
    two.draw(fonts()(10), 200 + text_measure(fonts()(10), "A"), 200, "B");
    EXPECT_TRUE(std::equal(one.pixels, one.pixels + FB_PIXELS, two.pixels));
}

TEST(TextFreetype, ClipsToTheBufferWhateverTheOrigin) {
    std::string all;
    for (int b = 1; b < 256; ++b) all += char(b);
    const std::string texts[] = {"WWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWW", all};
    const int coords[][2] = {{-5, -5},          {-1000, 300},      {900, 540},         {905, -10},
                             {0, 545},          {-30, 530},        {INT_MIN, INT_MIN}, {INT_MAX, INT_MAX},
                             {INT_MAX - 3, 10}, {10, INT_MAX - 3}, {INT_MIN + 1, 100}, {100, INT_MIN + 1},
                             {909, 549},        {-20, -30}};
    Canvas c;
    for (void* font : {fonts()(11), fonts()(5), text_stock_font(STOCK_ANSI_FIXED)})
        for (const std::string& text : texts)
            for (const auto& xy : coords) c.draw(font, xy[0], xy[1], text);
    EXPECT_TRUE(c.guards_intact());
}

TEST(TextFreetype, GlyphsCutAtTheRightEdgeDoNotWrap) {
    Canvas c;
    c.draw(fonts()(11), 895, 100, "WWWW");
    Box b = changed(c, 0xFFFFFF);
    ASSERT_GT(b.count, 0);
    EXPECT_EQ(b.x1, FB_WIDTH - 1);
    EXPECT_GE(b.x0, 895);  // nothing spilled into the next rows' left edge
    // Partly off the left and top edges: the visible part is drawn.
    Canvas d;
    d.draw(fonts()(11), -10, -10, "WWWW");
    Box e = changed(d, 0xFFFFFF);
    ASSERT_GT(e.count, 0);
    EXPECT_EQ(e.x0, 0);
    EXPECT_EQ(e.y0, 0);
    EXPECT_LT(e.y1, 25);
}

TEST(TextFreetype, EmptyOrNegativeLengthDrawsNothing) {
    Canvas c;
    text_select_font(c.surface, fonts()(9));
    text_out(c.surface, 10, 10, "ABC", 0);
    text_out(c.surface, 10, 10, "ABC", -5);
    text_out(c.surface, 10, 10, nullptr, 3);
    EXPECT_EQ(changed(c, 0xFFFFFF).count, 0);
    // The length, not the zero byte, ends the text.
    text_out(c.surface, 10, 10, "ABC", 1);
    Canvas a;
    a.draw(fonts()(9), 10, 10, "A");
    EXPECT_TRUE(std::equal(a.pixels, a.pixels + FB_PIXELS, c.pixels));
}

TEST(TextFreetype, MissingFaceDrawsNothingAndIsReportedOnce) {
    testing::internal::CaptureStderr();
    void* f1 = text_create_font(16, 0, FW_BOLD, 0, "Zorve No Such Face");
    void* f2 = text_create_font(22, 8, FW_BOLD, 0, "Zorve No Such Face");
    std::string err = testing::internal::GetCapturedStderr();
    ASSERT_NE(f1, nullptr);
    size_t first = err.find("Zorve No Such Face");
    ASSERT_NE(first, std::string::npos) << err;
    EXPECT_EQ(err.find("Zorve No Such Face", first + 1), std::string::npos) << err;

    EXPECT_FALSE(text_font_metrics(f1, nullptr, nullptr, nullptr));
    EXPECT_EQ(text_measure(f1, "ABC"), 0);
    Canvas c;
    c.draw(f1, 10, 10, "MISSING");
    EXPECT_EQ(changed(c, 0xFFFFFF).count, 0);
    text_release_font(f1);
    text_release_font(f2);
}

TEST(TextFreetype, ShiftJisGothicNameMapsToAnAvailableFace) {
    const char name[] = "\x82\x6C\x82\x72\x81\x40\x83\x53\x83\x56\x83\x62\x83\x4E";
    testing::internal::CaptureStderr();
    void* f16 = text_create_font(16, 0, FW_BOLD, 128, name);
    void* f12 = text_create_font(12, 0, FW_BOLD, 128, name);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    int cell = 0;
    ASSERT_TRUE(text_font_metrics(f16, &cell, nullptr, nullptr));
    EXPECT_EQ(cell, 16);
    ASSERT_TRUE(text_font_metrics(f12, &cell, nullptr, nullptr));
    EXPECT_EQ(cell, 12);
    Canvas c;
    c.draw(f16, 10, 10, "ON");
    EXPECT_GT(changed(c, 0xFFFFFF).count, 0);
    text_release_font(f16);
    text_release_font(f12);
}

TEST(TextFreetype, StockFontsAreSharedLegibleAndSurviveRelease) {
    struct Expect {
        StockFont which;
        int min_cell, max_cell;
    };
    const Expect expect[] = {{STOCK_ANSI_FIXED, 12, 14},
                             {STOCK_ANSI_VAR, 12, 16},
                             {STOCK_DEVICE_DEFAULT, 15, 17},
                             {STOCK_DEFAULT_GUI, 12, 14},
                             {STOCK_SYSTEM, 15, 17}};
    for (const Expect& e : expect) {
        void* f = text_stock_font(e.which);
        ASSERT_NE(f, nullptr);
        EXPECT_EQ(text_stock_font(e.which), f);
        text_release_font(f);  // ignored
        int cell = 0;
        ASSERT_TRUE(text_font_metrics(f, &cell, nullptr, nullptr)) << e.which;
        EXPECT_GE(cell, e.min_cell) << e.which;
        EXPECT_LE(cell, e.max_cell) << e.which;
        Canvas c;
        c.draw(f, 10, 10, "Midi Through Port-0");
        EXPECT_GT(changed(c, 0xFFFFFF).count, 20) << e.which;
    }
    // A monospace face: every character advances alike.
    void* fixed = text_stock_font(STOCK_ANSI_FIXED);
    EXPECT_EQ(text_measure(fixed, "iiii"), text_measure(fixed, "WWWW"));
    // Device names fit their 18 pixel row pitch.
    int cell = 0;
    ASSERT_TRUE(text_font_metrics(text_stock_font(STOCK_DEVICE_DEFAULT), &cell, nullptr, nullptr));
    EXPECT_LE(cell, 18);
}

TEST(TextFreetype, BytesAreWindows1252) {
    // 0x80 is the euro sign and 0xE9 an e with acute accent: both draw,
    // and differently from plain ASCII.
    Canvas euro, acute, plain;
    euro.draw(fonts()(11), 10, 10, "\x80");
    acute.draw(fonts()(11), 10, 10, "\xE9");
    plain.draw(fonts()(11), 10, 10, "e");
    EXPECT_GT(changed(euro, 0xFFFFFF).count, 20);
    Box a = changed(acute, 0xFFFFFF), p = changed(plain, 0xFFFFFF);
    EXPECT_LT(a.y0, p.y0);  // the accent rises above the plain letter
    EXPECT_EQ(text_measure(fonts()(11), "\xE9"), text_measure(fonts()(11), "e"));
    // Curly quotes of 0x93/0x94 are real glyphs, not the empty box.
    EXPECT_NE(text_measure(fonts()(11), "\x93"), 0);
}

TEST(TextFreetype, SelectingNullKeepsTheFont) {
    Canvas a, b;
    a.draw(fonts()(9), 10, 10, "FULL");
    text_select_font(b.surface, fonts()(9));
    text_select_font(b.surface, nullptr);
    text_out(b.surface, 10, 10, "FULL", 4);
    EXPECT_TRUE(std::equal(a.pixels, a.pixels + FB_PIXELS, b.pixels));
}

TEST(TextFreetype, MemoryFrameBufferCarriesATextSurface) {
    RenderContext rc;
    ASSERT_TRUE(create_frame_buffer(rc, nullptr));
    ASSERT_NE(rc.pixels, nullptr);
    ASSERT_NE(rc.surface, nullptr);
    EXPECT_EQ(rc.pixels[0], 0u);
    text_set_color(rc.surface, 0x00FFFFFF);
    text_out(rc.surface, 0, 0, "ZORVE", 5);
    bool drawn = false;
    for (size_t i = 0; i < FB_PIXELS; ++i) drawn = drawn || rc.pixels[i] != 0;
    EXPECT_TRUE(drawn);
    destroy_frame_buffer(rc);
    EXPECT_EQ(rc.pixels, nullptr);
    EXPECT_EQ(rc.surface, nullptr);
}

// The panel as it stands, drawn whole into `pixels` with a surface of its
// own; the program's frame buffer and what the panel knows it shows are left
// as they were.
void draw_whole_panel(std::vector<uint32_t>& pixels, void* surface) {
    const RenderContext program = g_render;
    const Panel shown = g_panel;
    std::fill(pixels.begin(), pixels.end(), 0u);
    g_render.pixels = pixels.data();
    g_render.surface = surface;
    g_render.text_color_index = -1;  // the other surface's colour is not known
    forget_panel_drawing();
    dispatch(EV_REDRAW, 0);
    g_render = program;
    g_panel = shown;
}

bool damaged(int x, int y) {
    for (int i = 0; i < g_render.damage.count; ++i) {
        const DamageRect& r = g_render.damage.rects[i];
        if (x >= r.x && x < r.x + r.w && y >= r.y && y < r.y + r.h) return true;
    }
    return false;
}

// Random presses, drags, releases, wheel steps and switch clicks, each
// followed by the redraw a tick makes: the frame redrawn in parts is the
// frame drawn whole, byte for byte, and every pixel that changed lies in the
// damage the redraw recorded.
TEST(PanelRedraw, PartsEqualTheWholeWithRealLabels) {
    fake::reset();
    for (const char* name : {"Midi Through Port-0", "Synth A", "Sampler B", "Drum C"})
        fake::world().outputs.push_back({name});
    create_fonts(g_render);
    ASSERT_TRUE(create_frame_buffer(g_render, nullptr));
    static DeviceTable devices;
    open_devices(devices);
    g_panel.devices = &devices;
    for (int16_t& e : g_panel.port_enable) e = 1;
    dispatch(EV_REDRAW, 0);
    std::vector<uint32_t> whole(FB_PIXELS), before(FB_PIXELS);
    void* whole_surface = text_create_surface(whole.data());
    std::mt19937 rng(20261207);
    auto pick = [&](int n) { return int(rng() % unsigned(n)); };
    // Half the points fall inside a key or switch, the rest anywhere.
    auto point = [&] {
        if (pick(2)) return Point{pick(FB_WIDTH), pick(FB_HEIGHT)};
        const int k = pick(KEY_COUNT + PORT_COUNT);
        const Rect r = k < KEY_COUNT ? KeyTable[k].rect : port_switch_hit_rect(k - KEY_COUNT + 1);
        return Point{r.x + pick(r.w), r.y + pick(r.h)};
    };
    int partial = 0;
    // First every key pressed and released in turn, then random input.
    for (int step = 0; step < 2 * KEY_COUNT + 300; ++step) {
        const int events = step < 2 * KEY_COUNT ? 0 : 1 + pick(3);
        if (step < 2 * KEY_COUNT) {
            const Rect& r = KeyTable[step / 2].rect;
            g_panel.pointer = {r.x + r.w / 2, r.y + r.h / 2};
            post_event(step % 2 ? EV_LEFT_UP : EV_LEFT_DOWN, 0);
        }
        for (int e = 0; e < events; ++e) {
            g_panel.pointer = point();
            switch (pick(4)) {
                case 0: post_event(EV_LEFT_DOWN, 0); break;
                case 1: post_event(EV_LEFT_DRAG, 0); break;
                case 2: post_event(EV_LEFT_UP, 0); break;
                case 3: post_event(EV_WHEEL, pick(2) ? 1 : -1); break;
            }
        }
        std::memcpy(before.data(), g_render.pixels, FB_PIXELS * sizeof(uint32_t));
        clear_damage(g_render);
        dispatch(EV_REDRAW, 0);
        draw_whole_panel(whole, whole_surface);
        for (size_t i = 0; i < FB_PIXELS; ++i)
            ASSERT_EQ(whole[i], g_render.pixels[i])
                << "pixel " << i % FB_WIDTH << "," << i / FB_WIDTH << " step " << step;
        for (int y = 0; y < FB_HEIGHT; ++y) {
            for (int x = 0; x < FB_WIDTH; ++x) {
                const size_t i = size_t(y) * FB_WIDTH + x;
                if (before[i] != g_render.pixels[i]) {
                    ASSERT_TRUE(damaged(x, y)) << "pixel " << x << "," << y << " at step " << step;
                }
            }
        }
        partial += g_render.damage.count > 0;
    }
    EXPECT_GT(partial, 2 * KEY_COUNT + 100);  // the sequence did change the panel, in parts
    text_delete_surface(whole_surface);
    destroy_frame_buffer(g_render);
    release_fonts(g_render);
    fake::reset();
}

}  // namespace
