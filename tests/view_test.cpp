// The view: where the panel sits in a window of any size, the pointer mapped
// back, the window pixels a damaged rectangle covers, and the factor a window
// starts at.
#include <gtest/gtest.h>

#include "app/options.h"
#include "app/view.h"
#include "render/frame_buffer.h"

namespace {

bool operator==(const View& a, const View& b) { return a.x == b.x && a.y == b.y && a.w == b.w && a.h == b.h; }

TEST(View, FitsKeepingTheAspectNeverBelowTheFloor) {
    struct Row {
        int window_w, window_h, min_scale;
        View want;
    };
    const Row rows[] = {
        {910, 550, 1, {0, 0, 910, 550}},       {1820, 1100, 1, {0, 0, 1820, 1100}},  // a whole factor
        {1920, 1100, 1, {50, 0, 1820, 1100}},                                        // wider: centred across
        {1820, 1300, 1, {0, 100, 1820, 1100}},                                       // taller: centred down
        {1100, 700, 1, {0, 18, 1100, 664}},   // 1100 * 550 / 910 = 664.8, rounded down
        {700, 400, 1, {0, 0, 910, 550}},      // smaller than the panel: its top-left part
        {1920, 1200, 4, {0, 0, 3640, 2200}},  // a kept factor larger than the window
        {3700, 2200, 4, {30, 0, 3640, 2200}},  {3700, 2300, 4, {0, 32, 3700, 2236}},  // above the floor: fitted
        {4000, 2420, 4, {0, 1, 4000, 2417}},
    };
    for (const Row& r : rows) {
        const View v = view_for_window(r.window_w, r.window_h, r.min_scale);
        EXPECT_TRUE(v == r.want) << r.window_w << "x" << r.window_h << " floor " << r.min_scale << ": " << v.x << ","
                                 << v.y << " " << v.w << "x" << v.h;
    }
}

TEST(View, PointerDividedDownToThePanelPixelUnderIt) {
    const View two = view_for_window(1820, 1100, 1);
    const Point rows[][2] = {{{1079, 50}, {539, 25}},    {{1080, 20}, {540, 10}},   {{1081, 21}, {540, 10}},
                             {{0, 0}, {0, 0}},           {{-1, -1}, {-1, -1}},      {{-2, -3}, {-1, -2}},
                             {{1819, 1099}, {909, 549}}, {{1820, 1100}, {910, 550}}};
    for (const auto& [window, panel] : rows) {
        const Point p = view_to_panel(two, window.x, window.y);
        EXPECT_EQ(p.x, panel.x) << window.x;
        EXPECT_EQ(p.y, panel.y) << window.y;
    }
    // Centred: the bars on either side lie outside the panel.
    const View wide = view_for_window(1920, 1100, 1);
    EXPECT_EQ(view_to_panel(wide, 49, 0).x, -1);
    EXPECT_EQ(view_to_panel(wide, 50, 0).x, 0);
    EXPECT_EQ(view_to_panel(wide, 1869, 0).x, 909);
    EXPECT_EQ(view_to_panel(wide, 1870, 0).x, 910);
}

// At any factor, whole or not, the window pixels of a panel column are
// exactly those the pointer maps back to it: every column and row covered
// once, in order, none skipped.
TEST(View, WindowPixelsOfEveryPanelPixelMapBackToIt) {
    for (const View& v : {view_for_window(910, 550, 1), view_for_window(1100, 700, 1), view_for_window(1919, 1161, 1),
                          view_for_window(2730, 1650, 1), view_for_window(1920, 1200, 4)}) {
        int next_x = v.x, next_y = v.y;
        for (int p = 0; p < FB_WIDTH; ++p) {
            const Rect r = view_to_window(v, {p, 0, 1, 1});
            ASSERT_EQ(r.x, next_x) << "column " << p << " of a " << v.w << " wide view";
            ASSERT_GE(r.w, v.w / FB_WIDTH);
            ASSERT_LE(r.w, v.w / FB_WIDTH + 1);
            for (int x = r.x; x < r.x + r.w; ++x) ASSERT_EQ(view_to_panel(v, x, v.y).x, p);
            next_x = r.x + r.w;
        }
        EXPECT_EQ(next_x, v.x + v.w);
        for (int p = 0; p < FB_HEIGHT; ++p) {
            const Rect r = view_to_window(v, {0, p, 1, 1});
            ASSERT_EQ(r.y, next_y);
            for (int y = r.y; y < r.y + r.h; ++y) ASSERT_EQ(view_to_panel(v, v.x, y).y, p);
            next_y = r.y + r.h;
        }
        EXPECT_EQ(next_y, v.y + v.h);
    }
    const Rect a = view_to_window(view_for_window(1820, 1100, 1), {540, 10, 60, 30});
    EXPECT_EQ(a.x, 1080);
    EXPECT_EQ(a.y, 20);
    EXPECT_EQ(a.w, 120);
    EXPECT_EQ(a.h, 60);
}

TEST(StartScale, AutoTakesTheLargestFactorThatFitsAnAskedOneIsKept) {
    struct Row {
        int asked, dpi, usable_w, usable_h, scale;
        bool fits;
    };
    const Row rows[] = {
        {SCALE_AUTO, 288, 1920, 1200, 2, true},  // 3 would be 2730 x 1650
        {SCALE_AUTO, 288, 2730, 1650, 3, true},
        {SCALE_AUTO, 288, 2729, 1650, 2, true},
        {SCALE_AUTO, 384, 3840, 2160, 3, true},  // 4 is 2200 rows high
        {SCALE_AUTO, 96, 1920, 1200, 1, true},
        {SCALE_AUTO, 192, 800, 500, 1, false},  // nothing fits: 1, as small as it gets
        {SCALE_AUTO, 0, 910, 550, 1, true},
        {4, 96, 1920, 1200, 4, false},
        {2, 384, 1920, 1200, 2, true},
        {3, 96, 2730, 1649, 3, false},
    };
    for (const Row& r : rows) {
        const StartScale s = start_scale(r.asked, r.dpi, r.usable_w, r.usable_h);
        EXPECT_EQ(s.scale, r.scale) << r.asked << " " << r.dpi << " " << r.usable_w << "x" << r.usable_h;
        EXPECT_EQ(s.fits, r.fits) << r.asked << " " << r.dpi << " " << r.usable_w << "x" << r.usable_h;
    }
    EXPECT_EQ(scale_too_large_text(4, 1920, 1200),
              "--scale 4: the 3640 x 2200 window is larger than the usable screen area (1920 x 1200); kept at 4, "
              "part of the panel is out of sight");
}

}  // namespace
