// Fill primitives: the argument checks and clipping happen once per call,
// then each row is one run of stores of a precomputed pixel value.
#include "render/primitives.h"

#include <algorithm>
#include <climits>
#include <cstdint>

#include "render/frame_buffer.h"
#include "render/palette.h"
#include "render/render_context.h"

namespace {

// Extents are clipped in 64 bits so that no sum of two arguments overflows.
using i64 = int64_t;

uint32_t pixel_of(int color) { return Palette[uint32_t(color) & 0xFF]; }

// An origin beyond the right or bottom edge still draws, on the last column or row.
void pull_in(i64& x, i64& y) {
    if (x >= FB_WIDTH) x = FB_WIDTH - 1;
    if (y >= FB_HEIGHT) y = FB_HEIGHT - 1;
}

// Rows y, y+dy, ... (rows of them), each `count` pixels from column `left`.
void fill_rows(RenderContext& rc, i64 left, i64 count, i64 y, i64 rows, int dy, uint32_t value) {
    if (count <= 0 || rows <= 0) return;
    uint32_t* row = rc.pixels + y * FB_WIDTH + left;
    const i64 step = dy * FB_WIDTH;
    // Bevel edges are one or two columns tall: a call into the vectorised
    // fill per row would cost more than the stores themselves.
    if (count == 1) {
        for (i64 r = 0; r < rows; ++r, row += step) row[0] = value;
    } else if (count == 2) {
        for (i64 r = 0; r < rows; ++r, row += step) row[0] = row[1] = value;
    } else {
        for (i64 r = 0; r < rows; ++r, row += step) std::fill_n(row, count, value);
    }
}

// Saturates a computed argument to int; beyond the buffer any value is clipped alike.
int sat(i64 v) { return int(std::clamp<i64>(v, INT_MIN, INT_MAX)); }

}  // namespace

void fill_rect(RenderContext& rc, int x_, int y_, int width, int height, ColorIndex color) {
    const uint32_t value = pixel_of(color);
    if (!rc.pixels || x_ < 0 || y_ < 0) return;
    i64 x = x_, y = y_, w = width, h = height;
    pull_in(x, y);
    if (w == 0 || h == 0) return;
    // A negative extent covers the origin and the pixels before it, and stops
    // at column (row) 1: it is cut to x columns (y rows).
    if (w > 0) {
        if (x + w >= FB_WIDTH) w = FB_WIDTH - x;
    } else if (x + w < 0) {
        w = -x;
    }
    if (h > 0) {
        if (y + h > FB_HEIGHT) h = FB_HEIGHT - y;
    } else if (y + h < 0) {
        h = -y;
    }
    const i64 left = w > 0 ? x : x + w + 1;
    fill_rows(rc, left, w > 0 ? w : -w, y, h > 0 ? h : -h, h > 0 ? 1 : -1, value);
}

void hline_band(RenderContext& rc, int x_, int y_, int length, int thickness, ColorIndex color) {
    const uint32_t value = pixel_of(color);
    if (!rc.pixels || x_ < 0 || y_ < 0 || length < 0 || thickness < 0) return;
    i64 x = x_, y = y_, len = length, th = thickness;
    pull_in(x, y);
    if (x + len >= FB_WIDTH) len = FB_WIDTH - x;
    if (y + th > FB_HEIGHT) th = FB_HEIGHT - y;
    fill_rows(rc, x, len, y, th, 1, value);
}

void vline_band(RenderContext& rc, int x_, int y_, int length, int thickness, ColorIndex color) {
    const uint32_t value = pixel_of(color);
    if (!rc.pixels || x_ < 0 || y_ < 0 || thickness <= 0) return;
    i64 x = x_, y = y_, len = length, th = thickness;
    pull_in(x, y);
    if (x + th >= FB_WIDTH) th = FB_WIDTH - x;
    if (y + len > FB_HEIGHT) len = FB_HEIGHT - y;
    if (y + len < 0) len = -y;  // an upward band ends at row 1
    fill_rows(rc, x, th, y, len > 0 ? len : -len, len > 0 ? 1 : -1, value);
}

namespace {

// bevel_box for a box of at least 7 x 7 that no clipping rule touches, row by
// row: each row is stored once, left to right, instead of in nine passes over
// the box. Row by row, the pixels the band sequence below leaves are:
//   top and bottom rows: corners untouched, the rest frame;
//   second row: frame, upper edge across, frame;
//   third row: frame, upper edge, lower edge (last two), frame;
//   face rows: frame, upper edge (two), face, lower edge (two), frame;
//   the two rows above the bottom: frame, upper edge (one), lower edge, frame.
void bevel_rows(RenderContext& rc, i64 x, i64 y, i64 w, i64 h, uint32_t frame, uint32_t face, uint32_t upper,
                uint32_t lower) {
    uint32_t* row = rc.pixels + y * FB_WIDTH + x;
    const i64 inner = w - 2;  // columns between the frame pixels
    std::fill_n(row + 1, inner, frame);
    row += FB_WIDTH;
    row[0] = frame, row[w - 1] = frame;
    std::fill_n(row + 1, inner, upper);
    row += FB_WIDTH;
    row[0] = frame, row[w - 1] = frame;
    std::fill_n(row + 1, w - 4, upper);
    row[w - 3] = lower, row[w - 2] = lower;
    row += FB_WIDTH;
    for (i64 r = 3; r < h - 3; ++r, row += FB_WIDTH) {
        row[0] = frame, row[1] = upper, row[2] = upper;
        std::fill_n(row + 3, w - 6, face);
        row[w - 3] = lower, row[w - 2] = lower, row[w - 1] = frame;
    }
    for (int r = 0; r < 2; ++r, row += FB_WIDTH) {
        row[0] = frame, row[1] = upper;
        std::fill_n(row + 2, w - 3, lower);
        row[w - 1] = frame;
    }
    std::fill_n(row + 1, inner, frame);
}

}  // namespace

void bevel_box(RenderContext& rc, int pressed, int x_, int y_, int width, int height, ColorIndex face, ColorIndex light,
               ColorIndex dark) {
    const i64 x = x_, y = y_;
    const i64 w = std::max(width, BEVEL_MIN), h = std::max(height, BEVEL_MIN);
    const int upper = pressed ? dark : light;
    const int lower = pressed ? light : dark;
    // Every key of the panel: a box wholly inside the buffer, where no
    // clipping rule applies.
    if (rc.pixels && w >= 7 && h >= 7 && x >= 0 && y >= 0 && x + w <= FB_WIDTH && y + h <= FB_HEIGHT) {
        bevel_rows(rc, x, y, w, h, pixel_of(BEVEL_FRAME), pixel_of(face), pixel_of(upper), pixel_of(lower));
        return;
    }
    // Outer frame, one pixel wide, corners left open.
    hline_band(rc, sat(x + 1), y_, sat(w - 2), 1, BEVEL_FRAME);
    hline_band(rc, sat(x + 1), sat(y + h - 1), sat(w - 2), 1, BEVEL_FRAME);
    vline_band(rc, x_, sat(y + 1), sat(h - 2), 1, BEVEL_FRAME);
    vline_band(rc, sat(x + w - 1), sat(y + 1), sat(h - 2), 1, BEVEL_FRAME);
    fill_rect(rc, sat(x + 3), sat(y + 3), sat(w - 6), sat(h - 6), face);
    // Two-pixel edges: raised (light upper-left) or sunken when pressed.
    hline_band(rc, sat(x + 1), sat(y + 1), sat(w - 2), 2, upper);
    vline_band(rc, sat(x + 1), sat(y + 1), sat(h - 2), 2, upper);
    vline_band(rc, sat(x + w - 3), sat(y + 2), sat(h - 4), 2, lower);
    hline_band(rc, sat(x + 2), sat(y + h - 3), sat(w - 3), 2, lower);
}
