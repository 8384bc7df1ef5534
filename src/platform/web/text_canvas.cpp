// Text contract (render/text_backend.h) through the browser's own canvas
// text: each label drawn once, white on transparent, into a scratch canvas;
// its alpha is the coverage, kept per font and label and blended into the
// frame buffer in the text colour (page.js, drawText). Fonts are sized by the
// Windows metrics as the FreeType backend sizes them, from the face's
// ascent and descent as the browser reports them. Liberation Sans or Arial,
// whichever the page has; no kerning beyond what the browser does.
#include <emscripten.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "base/cp1252.h"
#include "render/font_metrics.h"
#include "render/text_backend.h"

namespace {

// clang-format off
// A font of the page's: CSS family list, cell height as text_create_font
// takes it, average width (0: the face's own), weight. Returns its number.
EM_JS(int, page_font_make, (const char* family, int height, int width, int weight), {
    return Module.zorvePage.makeFont(UTF8ToString(family), height, width, weight);
});
// Advance of `text` in the font, in pixels, before any width scaling.
EM_JS(double, page_font_advance, (int font, const char* text), {
    return Module.zorvePage.advance(font, UTF8ToString(text));
});
EM_JS(void, page_font_set_width, (int font, double average), { Module.zorvePage.setAverage(font, average); });
EM_JS(void, page_text_draw, (int font, uint32_t* pixels, int x, int y, const char* text, uint32_t rgb, int* box), {
    Module.zorvePage.drawText(font, pixels, x, y, UTF8ToString(text), rgb, box);
});
// clang-format on

struct Surface {
    uint32_t* pixels = nullptr;
    int font = 0;      // the page's font number; 0: none
    uint32_t rgb = 0;  // 0x00RRGGBB
    TextBox last{};
};

// Font handles are the page's numbers, which start at 1.
int font_of(void* handle) { return int(reinterpret_cast<intptr_t>(handle)); }
void* handle_of(int font) { return reinterpret_cast<void*>(intptr_t(font)); }

int make_font(const std::string& family, int height, int width, int weight) {
    const int font = page_font_make(family.c_str(), height, width, weight);
    if (width == 0) return font;
    // A width asked for is an average by the Windows letter weights: the
    // face is scaled across to make its own average that.
    double sum = 0;
    for (int i = 0; i < 27; ++i) {
        const char letter[2] = {i == 0 ? ' ' : char('a' + i - 1), 0};
        sum += page_font_advance(font, letter) * LETTER_WEIGHTS[i];
    }
    page_font_set_width(font, sum / 1000.0);
    return font;
}

// Stock fonts are made once and never released.
int g_stock[5] = {};

}  // namespace

void* text_stock_font(StockFont which) {
    int& font = g_stock[int(which)];
    const StockStandIn& s = STOCK_STAND_INS[int(which)];
    // CSS quotes a family name with a space; generic names stay bare.
    const std::string family = std::strchr(s.family, ' ') ? "\"" + std::string(s.family) + "\"" : s.family;
    if (!font) font = make_font(family, s.height, s.width, s.weight);
    return handle_of(font);
}

// The face asked for first, then what stands in for it: Liberation Sans for
// Arial's metrics, a monospace face for the Japanese one.
void* text_create_font(int height, int width, int weight, int charset, const char* face) {
    std::string family;
    if (charset == SHIFTJIS_CHARSET)
        family = std::strcmp(face ? face : "", GOTHIC_SJIS) == 0 ? "\"MS Gothic\", monospace" : "monospace";
    else
        family = "\"" + cp1252_to_utf8(face ? face : "") + "\", \"Liberation Sans\", Arial, sans-serif";
    return handle_of(make_font(family, height, width, weight));
}

// The page keeps its fonts: there are fourteen, made once.
void text_release_font(void*) {}

void text_select_font(void* surface, void* font) { static_cast<Surface*>(surface)->font = font_of(font); }

void text_set_color(void* surface, uint32_t colorref) {
    static_cast<Surface*>(surface)->rgb = (colorref & 0xFF) << 16 | (colorref & 0xFF00) | ((colorref >> 16) & 0xFF);
}

void text_out(void* surface, int x, int y, const char* text, int length) {
    Surface* s = static_cast<Surface*>(surface);
    s->last = {x, y, 0, 0};
    if (length <= 0 || !s->font) return;
    const std::string utf8 = cp1252_to_utf8(std::string(text, size_t(length)).c_str());
    int box[4] = {x, y, 0, 0};
    page_text_draw(s->font, s->pixels, x, y, utf8.c_str(), s->rgb, box);
    s->last = {box[0], box[1], box[2], box[3]};
}

TextBox text_last_box(void* surface) { return static_cast<Surface*>(surface)->last; }

void* text_create_surface(uint32_t* pixels) {
    Surface* s = new Surface;
    s->pixels = pixels;
    s->font = font_of(text_stock_font(STOCK_DEVICE_DEFAULT));
    return s;
}

void text_delete_surface(void* surface) { delete static_cast<Surface*>(surface); }
