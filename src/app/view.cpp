#include "app/view.h"

#include <algorithm>
#include <cstdint>

#include "app/options.h"
#include "render/frame_buffer.h"

namespace {

// Floor division for a positive divisor.
int floor_div(int64_t a, int64_t b) { return int(a >= 0 ? a / b : -((-a + b - 1) / b)); }
int ceil_div(int64_t a, int64_t b) { return -floor_div(-a, b); }

}  // namespace

View view_for_window(int window_w, int window_h, int min_scale) {
    View v;
    // The side that limits the fit decides; the other follows the aspect.
    if (int64_t{window_w} * FB_HEIGHT <= int64_t{window_h} * FB_WIDTH) {
        v.w = window_w;
        v.h = int(int64_t{window_w} * FB_HEIGHT / FB_WIDTH);
    } else {
        v.h = window_h;
        v.w = int(int64_t{window_h} * FB_WIDTH / FB_HEIGHT);
    }
    const int floor_scale = std::max(min_scale, 1);
    if (v.w < FB_WIDTH * floor_scale) {
        v.w = FB_WIDTH * floor_scale;
        v.h = FB_HEIGHT * floor_scale;
    }
    v.x = std::max(0, (window_w - v.w) / 2);
    v.y = std::max(0, (window_h - v.h) / 2);
    return v;
}

Point view_to_panel(const View& v, int x, int y) {
    return {floor_div(int64_t(x - v.x) * FB_WIDTH, v.w), floor_div(int64_t(y - v.y) * FB_HEIGHT, v.h)};
}

Rect view_to_window(const View& v, const Rect& r) {
    const int x0 = v.x + ceil_div(int64_t{r.x} * v.w, FB_WIDTH);
    const int y0 = v.y + ceil_div(int64_t{r.y} * v.h, FB_HEIGHT);
    const int x1 = v.x + ceil_div(int64_t(r.x + r.w) * v.w, FB_WIDTH);
    const int y1 = v.y + ceil_div(int64_t(r.y + r.h) * v.h, FB_HEIGHT);
    return {x0, y0, x1 - x0, y1 - y0};
}

StartScale start_scale(int asked, int dpi, int usable_w, int usable_h) {
    const auto fits = [&](int s) { return FB_WIDTH * s <= usable_w && FB_HEIGHT * s <= usable_h; };
    if (asked != SCALE_AUTO) return {asked, fits(asked)};
    int s = scale_for_dpi(dpi);
    while (s > 1 && !fits(s)) --s;
    return {s, fits(s)};
}

std::string scale_too_large_text(int scale, int usable_w, int usable_h) {
    const std::string s = std::to_string(scale);
    return "--scale " + s + ": the " + std::to_string(FB_WIDTH * scale) + " x " + std::to_string(FB_HEIGHT * scale) +
           " window is larger than the usable screen area (" + std::to_string(usable_w) + " x " +
           std::to_string(usable_h) + "); kept at " + s + ", part of the panel is out of sight";
}
