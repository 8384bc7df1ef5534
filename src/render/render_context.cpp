// Font slots, the cached text colour and text output through the platform's
// text surface.
#include "render/render_context.h"

#include <cstring>

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
constexpr CreatedFont kCreated[] = {
    {14, 0, ANSI_CHARSET, "arial"},  {16, 0, ANSI_CHARSET, "arial"},         {18, 0, ANSI_CHARSET, "arial"},
    {21, 7, ANSI_CHARSET, "arial"},  {22, 8, ANSI_CHARSET, "arial"},         {28, 10, ANSI_CHARSET, "arial"},
    {35, 15, ANSI_CHARSET, "arial"}, {16, 0, SHIFTJIS_CHARSET, GOTHIC_SJIS}, {12, 0, SHIFTJIS_CHARSET, GOTHIC_SJIS},
};
constexpr int STOCK_SLOTS = 5;
static_assert(STOCK_SLOTS + sizeof(kCreated) / sizeof(kCreated[0]) == FONT_SLOTS);

}  // namespace

void create_fonts(RenderContext& rc) {
    rc.text_color_index = 255;
    for (int s = 0; s < STOCK_SLOTS; ++s) rc.fonts[s] = text_stock_font(StockFont(s));
    for (int s = STOCK_SLOTS; s < FONT_SLOTS; ++s) {
        const CreatedFont& f = kCreated[s - STOCK_SLOTS];
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

void draw_text(RenderContext& rc, int x, int y, const char* text, ColorIndex color) {
    if (!rc.surface) return;
    // Consecutive labels in one colour cost a single colour call.
    if ((color & 0xFF) != rc.text_color_index) set_text_color(rc, color);
    const size_t length = text ? std::strlen(text) : 0;
    text_out(rc.surface, x, y, text ? text : "", int(length));
}
