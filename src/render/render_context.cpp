// Font slots, the cached text colour and text output through the platform's
// text surface.
#include "render/render_context.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "render/frame_buffer.h"
#include "render/palette.h"
#include "render/text_backend.h"

RenderContext g_render;

namespace {

constexpr int BOLD = 700;

struct CreatedFont {
    int height, width, charset;
    const char* face;
};

// Slots 5..13, in creation order.
constexpr CreatedFont CREATED_FONTS[] = {
    {14, 0, ANSI_CHARSET, "arial"},  {16, 0, ANSI_CHARSET, "arial"},         {18, 0, ANSI_CHARSET, "arial"},
    {21, 7, ANSI_CHARSET, "arial"},  {22, 8, ANSI_CHARSET, "arial"},         {28, 10, ANSI_CHARSET, "arial"},
    {35, 15, ANSI_CHARSET, "arial"}, {16, 0, SHIFTJIS_CHARSET, GOTHIC_SJIS}, {12, 0, SHIFTJIS_CHARSET, GOTHIC_SJIS},
};
constexpr int STOCK_SLOTS = 5;
static_assert(STOCK_SLOTS + sizeof(CREATED_FONTS) / sizeof(CREATED_FONTS[0]) == FONT_SLOTS);

}  // namespace

void create_fonts(RenderContext& rc) {
    rc.text_color_index = 255;
    for (int s = 0; s < STOCK_SLOTS; ++s) rc.fonts[s] = text_stock_font(StockFont(s));
    for (int s = STOCK_SLOTS; s < FONT_SLOTS; ++s) {
        const CreatedFont& f = CREATED_FONTS[s - STOCK_SLOTS];
        rc.fonts[s] = text_create_font(f.height, f.width, BOLD, f.charset, f.face);
    }
}

void release_fonts(RenderContext& rc) {
    for (void*& font : rc.fonts) {
        text_release_font(font);
        font = nullptr;
    }
}

void select_font(RenderContext& rc, FontSlot slot) {
    if (slot < 0 || slot >= FONT_SLOTS || !rc.surface) return;
    text_select_font(rc.surface, rc.fonts[slot]);
}

void set_text_color(RenderContext& rc, ColorIndex index) {
    rc.text_color_index = index & 0xFF;
    text_set_color(rc.surface, to_colorref(Palette[rc.text_color_index]));
}

TextBox draw_text(RenderContext& rc, int x, int y, const char* text, ColorIndex color) {
    if (!rc.surface) return {x, y, 0, 0};
    // Consecutive labels in one colour cost a single colour call.
    if ((color & 0xFF) != rc.text_color_index) set_text_color(rc, color);
    const size_t length = text ? std::strlen(text) : 0;
    text_out(rc.surface, x, y, text ? text : "", int(length));
    return text_last_box(rc.surface);
}

void add_damage(RenderContext& rc, int x, int y, int w, int h) {
    const int x0 = std::max(x, 0), y0 = std::max(y, 0);
    const int x1 = int(std::min<int64_t>(int64_t(x) + w, FB_WIDTH));
    const int y1 = int(std::min<int64_t>(int64_t(y) + h, FB_HEIGHT));
    if (x0 >= x1 || y0 >= y1) return;
    Damage& d = rc.damage;
    if (d.count < DAMAGE_RECTS) {
        d.rects[d.count++] = {x0, y0, x1 - x0, y1 - y0};
        return;
    }
    // Too many pieces: one box around them all.
    int bx0 = x0, by0 = y0, bx1 = x1, by1 = y1;
    for (int i = 0; i < d.count; ++i) {
        const DamageRect& r = d.rects[i];
        bx0 = std::min(bx0, r.x), by0 = std::min(by0, r.y);
        bx1 = std::max(bx1, r.x + r.w), by1 = std::max(by1, r.y + r.h);
    }
    d.count = 1;
    d.rects[0] = {bx0, by0, bx1 - bx0, by1 - by0};
}

void clear_damage(RenderContext& rc) { rc.damage.count = 0; }
