// Text contract (text_backend.h) with FreeType: glyphs rendered once per font,
// labels cached whole and blended straight into the frame buffer; faces from
// font_face_freetype.cpp. No kerning; bytes are Windows-1252.
//
// Sections: module state; glyph cache; blending; label cache; the text
// contract; the queries of text_freetype.h. Window thread only.
#include "platform/linux/text/text_freetype.h"

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_SYNTHESIS_H

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "base/cp1252.h"
#include "platform/linux/text/font_face_freetype.h"
#include "render/frame_buffer.h"
#include "render/text_backend.h"

namespace {

// ---------------------------------------------------------------------------
// Module state

// One rendered glyph of a font: bitmap placement relative to the pen on the
// baseline, integer advance, and its coverage rows in the font's pool.
struct Glyph {
    int32_t left = 0;  // pixels right of the pen
    int32_t top = 0;   // pixels above the baseline
    int32_t width = 0;
    int32_t height = 0;
    int32_t advance = 0;  // pen step in pixels
    uint32_t offset = 0;  // first coverage byte in Font::pool
    uint32_t spans = 0;   // first of `height` [first, end) pairs of covered columns in Font::spans
    bool ready = false;
};

// A whole label's coverage, made once from its glyphs: one long row per pixel
// row instead of one short row per glyph is what makes blending cheap.
struct StringImage {
    uint64_t hash = 0;
    std::string text;
    int32_t left = 0;  // pixels right of the pen origin
    int32_t top = 0;   // pixels above the baseline
    int32_t width = 0, height = 0;
    std::vector<uint8_t> cover;   // rows of `width`
    std::vector<uint16_t> spans;  // per row: first covered column, one past the last
    // The label blended once over a plain background: labels sit on flat key
    // faces, so most draws become row copies. Valid inside the spans only.
    std::vector<uint32_t> over;
    uint32_t over_rgb = 0, over_background = 0;
};

// Bounds of the string cache: strings beyond them are drawn glyph by glyph.
constexpr int MAX_CACHED_LENGTH = 64;
constexpr size_t MAX_CACHED_STRINGS = 256;
constexpr int32_t MAX_IMAGE_WIDTH = 4096;

struct Font {
    bool stock = false;
    FontFace face;
    Glyph glyphs[256];                 // by byte value, filled on first use
    std::vector<uint8_t> pool;         // coverage, 0..255, rows of Glyph::width
    std::vector<uint16_t> spans;       // per glyph row: first covered column, one past the last
    std::vector<StringImage> strings;  // labels drawn so far, at most MAX_CACHED_STRINGS
};

struct Surface {
    uint32_t* pixels = nullptr;
    Font* font = nullptr;
    uint32_t rgb = 0;  // 0x00RRGGBB
    TextBox last{};    // where the last text_out drew
};

// Grows `box` to take in w x h pixels at (x, y); empty extents add nothing.
void include(TextBox& box, int64_t x, int64_t y, int64_t w, int64_t h) {
    if (w <= 0 || h <= 0) return;
    const auto fit = [](int64_t v) { return int(std::clamp<int64_t>(v, INT32_MIN / 2, INT32_MAX / 2)); };
    if (box.w <= 0 || box.h <= 0) {
        box = {fit(x), fit(y), fit(w), fit(h)};
        return;
    }
    const int64_t x0 = std::min<int64_t>(box.x, x), y0 = std::min<int64_t>(box.y, y);
    const int64_t x1 = std::max<int64_t>(int64_t(box.x) + box.w, x + w);
    const int64_t y1 = std::max<int64_t>(int64_t(box.y) + box.h, y + h);
    box = {fit(x0), fit(y0), fit(x1 - x0), fit(y1 - y0)};
}

// Stock fonts by StockFont, made on first use and never released.
Font* g_stock[5] = {};

// ---------------------------------------------------------------------------
// Glyph cache

// First and one-past-last covered column of each row of `cover`.
void add_spans(std::vector<uint16_t>& spans, const uint8_t* cover, unsigned width, unsigned height) {
    for (unsigned row = 0; row < height; ++row) {
        const uint8_t* line = cover + size_t(row) * width;
        unsigned first = 0, end = width;
        while (first < end && line[first] == 0) ++first;
        while (end > first && line[end - 1] == 0) --end;
        spans.push_back(uint16_t(first));
        spans.push_back(uint16_t(end));
    }
}

// The glyph of one byte, rendered on first use and kept for the font's life.
const Glyph& glyph_of(Font& font, unsigned char byte) {
    Glyph& g = font.glyphs[byte];
    if (g.ready) return g;
    g.ready = true;
    FT_Face face = font.face.ft;
    uint32_t code = cp1252_to_unicode(byte);
    FT_UInt index = FT_Get_Char_Index(face, code);
    if (index == 0 && face->charmap && face->charmap->encoding == FT_ENCODING_MS_SYMBOL)
        index = FT_Get_Char_Index(face, 0xF000 + code);
    if (FT_Load_Glyph(face, index, FT_LOAD_DEFAULT | FT_LOAD_NO_BITMAP) != 0) return g;
    FT_GlyphSlot slot = face->glyph;
    if (font.face.embolden) FT_GlyphSlot_Embolden(slot);
    g.advance = int32_t((slot->advance.x + 32) >> 6);
    if (FT_Render_Glyph(slot, FT_RENDER_MODE_NORMAL) != 0) return g;

    const FT_Bitmap& bm = slot->bitmap;
    if (bm.pixel_mode != FT_PIXEL_MODE_GRAY && bm.pixel_mode != FT_PIXEL_MODE_MONO) return g;
    g.left = slot->bitmap_left;
    g.top = slot->bitmap_top;
    g.width = int32_t(bm.width);
    g.height = int32_t(bm.rows);
    g.offset = uint32_t(font.pool.size());
    font.pool.resize(font.pool.size() + size_t(bm.width) * bm.rows);
    uint8_t* dst = font.pool.data() + g.offset;
    int grays = bm.num_grays > 1 ? bm.num_grays - 1 : 255;
    for (unsigned row = 0; row < bm.rows; ++row) {
        const unsigned char* src = bm.buffer + ptrdiff_t(row) * bm.pitch;
        for (unsigned col = 0; col < bm.width; ++col) {
            unsigned value = bm.pixel_mode == FT_PIXEL_MODE_MONO
                                 ? ((src[col >> 3] >> (7 - (col & 7))) & 1) * 255u
                                 : (src[col] * 255u + unsigned(grays) / 2) / unsigned(grays);
            *dst++ = uint8_t(std::min(value, 255u));
        }
    }
    // Blending visits only the covered part of each row.
    g.spans = uint32_t(font.spans.size());
    add_spans(font.spans, font.pool.data() + g.offset, bm.width, bm.rows);
    return g;
}

// ---------------------------------------------------------------------------
// Blending

// Coverage rows with their covered spans, as a glyph or a whole string has them.
struct CoverageView {
    const uint8_t* cover;
    const uint16_t* spans;
    int64_t width, height;
};

// Red and blue share one word, green has its own: per channel
// (c*a + d*(255-a) + 128) / 255 exactly, with no branch, so coverage 0 keeps
// the pixel and 255 writes the colour.
inline uint32_t mix(uint32_t c_rb, uint32_t c_g, uint32_t a, uint32_t d) {
    const uint32_t na = 255 - a;
    uint32_t rb = c_rb * a + (d & 0xFF00FF) * na + 0x800080;
    rb = ((rb + ((rb >> 8) & 0xFF00FF)) >> 8) & 0xFF00FF;
    uint32_t gg = c_g * a + (d & 0x00FF00) * na + 0x008000;
    gg = ((gg + ((gg >> 8) & 0x00FF00)) >> 8) & 0x00FF00;
    return rb | gg;
}

// The part of a coverage image placed at (gx, gy) that lies in the buffer.
struct Clip {
    int64_t x0, y0, x1, y1;
    bool empty() const { return x0 >= x1 || y0 >= y1; }
};

Clip clip_of(const CoverageView& c, int64_t gx, int64_t gy) {
    return {std::max<int64_t>(gx, 0), std::max<int64_t>(gy, 0), std::min<int64_t>(gx + c.width, FB_WIDTH),
            std::min<int64_t>(gy + c.height, FB_HEIGHT)};
}

// Covered columns [first, end) of image row `row`, in buffer columns.
inline void span_of(const CoverageView& c, const Clip& k, int64_t gx, int64_t row, int64_t& first, int64_t& end) {
    first = std::max<int64_t>(gx + c.spans[2 * row], k.x0);
    end = std::min<int64_t>(gx + c.spans[2 * row + 1], k.x1);
}

// Blends coverage in `rgb` over the frame buffer with its top-left at
// (gx, gy), clipped to the buffer.
void blend(uint32_t* pixels, const CoverageView& c, int64_t gx, int64_t gy, uint32_t rgb) {
    const Clip k = clip_of(c, gx, gy);
    if (k.empty()) return;
    const uint32_t c_rb = rgb & 0xFF00FF, c_g = rgb & 0x00FF00;
    for (int64_t y = k.y0; y < k.y1; ++y) {
        int64_t first, end;
        span_of(c, k, gx, y - gy, first, end);
        const uint8_t* __restrict cover = c.cover + (y - gy) * c.width - gx;
        uint32_t* __restrict line = pixels + y * FB_WIDTH;
        for (int64_t x = first; x < end; ++x) line[x] = mix(c_rb, c_g, cover[x], line[x]);
    }
}

// A label's image blended over the buffer, through its pre-blended copy when
// everything under the covered spans is one colour; the pixels come out the
// same either way.
void blend_label(uint32_t* pixels, StringImage& image, int64_t gx, int64_t gy, uint32_t rgb) {
    const CoverageView c{image.cover.data(), image.spans.data(), image.width, image.height};
    const Clip k = clip_of(c, gx, gy);
    if (k.empty()) return;
    uint32_t background = 0, differs = 0;
    bool seen = false;
    for (int64_t y = k.y0; y < k.y1; ++y) {
        int64_t first, end;
        span_of(c, k, gx, y - gy, first, end);
        if (first >= end) continue;
        const uint32_t* line = pixels + y * FB_WIDTH;
        if (!seen) background = line[first], seen = true;
        for (int64_t x = first; x < end; ++x) differs |= line[x] ^ background;
    }
    if (!seen) return;
    if (differs) return blend(pixels, c, gx, gy, rgb);
    if (image.over.empty() || image.over_rgb != rgb || image.over_background != background) {
        image.over.resize(image.cover.size());
        const uint32_t c_rb = rgb & 0xFF00FF, c_g = rgb & 0x00FF00;
        for (size_t i = 0; i < image.cover.size(); ++i) image.over[i] = mix(c_rb, c_g, image.cover[i], background);
        image.over_rgb = rgb;
        image.over_background = background;
    }
    for (int64_t y = k.y0; y < k.y1; ++y) {
        int64_t first, end;
        span_of(c, k, gx, y - gy, first, end);
        // A plain loop: spans are short, and GCC turns a memcpy of unknown
        // length into rep movsq, whose start-up costs more than the copy.
        const uint32_t* __restrict src = image.over.data() + (y - gy) * c.width - gx;
        uint32_t* __restrict line = pixels + y * FB_WIDTH;
        for (int64_t x = first; x < end; ++x) line[x] = src[x];
    }
}

CoverageView view_of(const Font& font, const Glyph& g) {
    return {font.pool.data() + g.offset, font.spans.data() + g.spans, g.width, g.height};
}

// ---------------------------------------------------------------------------
// Label cache

uint64_t hash_bytes(const char* text, int length) {
    uint64_t h = 1469598103934665603ull;  // FNV-1a
    for (int i = 0; i < length; ++i) h = (h ^ static_cast<unsigned char>(text[i])) * 1099511628211ull;
    return h;
}

// The string's coverage, from the cache or made now; null when it is not
// worth caching (too long, too wide, or the cache is full).
StringImage* string_image(Font& font, const char* text, int length) {
    const uint64_t hash = hash_bytes(text, length);
    for (StringImage& image : font.strings)
        if (image.hash == hash && image.text.size() == size_t(length) &&
            std::memcmp(image.text.data(), text, size_t(length)) == 0)
            return &image;
    if (length > MAX_CACHED_LENGTH || font.strings.size() >= MAX_CACHED_STRINGS) return nullptr;
    // Extent of all glyph boxes around the pen origin on the baseline.
    int64_t pen = 0, left = INT64_MAX, right = INT64_MIN, top = INT64_MIN, bottom = INT64_MAX;
    for (int i = 0; i < length; ++i) {
        const Glyph& g = glyph_of(font, static_cast<unsigned char>(text[i]));
        if (g.width > 0 && g.height > 0) {
            left = std::min<int64_t>(left, pen + g.left);
            right = std::max<int64_t>(right, pen + g.left + g.width);
            top = std::max<int64_t>(top, g.top);
            bottom = std::min<int64_t>(bottom, int64_t(g.top) - g.height);
        }
        pen += g.advance;
    }
    StringImage image;
    image.hash = hash;
    image.text.assign(text, size_t(length));
    if (left < right) {
        if (right - left > MAX_IMAGE_WIDTH || top - bottom > MAX_IMAGE_WIDTH) return nullptr;
        image.left = int32_t(left);
        image.top = int32_t(top);
        image.width = int32_t(right - left);
        image.height = int32_t(top - bottom);
        image.cover.assign(size_t(image.width) * size_t(image.height), 0);
        pen = 0;
        // Where glyph boxes overlap, coverage adds up, capped at full.
        for (int i = 0; i < length; ++i) {
            const Glyph& g = glyph_of(font, static_cast<unsigned char>(text[i]));
            const uint8_t* src = font.pool.data() + g.offset;
            for (int32_t r = 0; r < g.height; ++r) {
                uint8_t* dst = image.cover.data() + size_t(image.top - g.top + r) * size_t(image.width) +
                               size_t(pen + g.left - image.left);
                for (int32_t col = 0; col < g.width; ++col)
                    dst[col] = uint8_t(std::min(255, dst[col] + src[size_t(r) * size_t(g.width) + size_t(col)]));
            }
            pen += g.advance;
        }
        add_spans(image.spans, image.cover.data(), unsigned(image.width), unsigned(image.height));
    }
    font.strings.push_back(std::move(image));
    return &font.strings.back();
}

}  // namespace

// ---------------------------------------------------------------------------
// The text contract

void* text_stock_font(StockFont which) {
    int i = int(which);
    if (i < 0 || i >= 5) return nullptr;
    if (!g_stock[i]) {
        auto* font = new Font;
        font->stock = true;
        open_stock_face(font->face, which);
        g_stock[i] = font;
    }
    return g_stock[i];
}

void* text_create_font(int height, int width, int weight, int charset, const char* face) {
    auto* font = new Font;
    open_font_face(font->face, height, width, weight, charset, face);
    return font;
}

void text_release_font(void* handle) {
    auto* font = static_cast<Font*>(handle);
    if (!font || font->stock) return;
    close_font_face(font->face);
    delete font;
}

void text_select_font(void* surface, void* font) {
    // Like SelectObject, a null font leaves the selection as it was.
    if (surface && font) static_cast<Surface*>(surface)->font = static_cast<Font*>(font);
}

void text_set_color(void* surface, uint32_t colorref) {
    if (!surface) return;
    static_cast<Surface*>(surface)->rgb = ((colorref & 0xFF) << 16) | (colorref & 0xFF00) | ((colorref >> 16) & 0xFF);
}

void text_out(void* surface, int x, int y, const char* text, int length) {
    auto* s = static_cast<Surface*>(surface);
    if (!s) return;
    s->last = {x, y, 0, 0};
    if (!s->pixels || !s->font || !s->font->face.ft || !text || length <= 0) return;
    Font& font = *s->font;
    // 64-bit pen: any int origin plus any run of advances stays exact.
    int64_t pen = x;
    const int64_t baseline = int64_t(y) + font.face.ascent;
    if (StringImage* image = string_image(font, text, length)) {
        if (image->width > 0) {
            blend_label(s->pixels, *image, pen + image->left, baseline - image->top, s->rgb);
            include(s->last, pen + image->left, baseline - image->top, image->width, image->height);
        }
        return;
    }
    for (int i = 0; i < length; ++i) {
        const Glyph& g = glyph_of(font, static_cast<unsigned char>(text[i]));
        if (g.width > 0) {
            blend(s->pixels, view_of(font, g), pen + g.left, baseline - g.top, s->rgb);
            include(s->last, pen + g.left, baseline - g.top, g.width, g.height);
        }
        pen += g.advance;
    }
}

void* text_create_surface(uint32_t* pixels) {
    if (!pixels) return nullptr;
    auto* s = new Surface;
    s->pixels = pixels;
    s->font = static_cast<Font*>(text_stock_font(STOCK_DEVICE_DEFAULT));
    return s;
}

void text_delete_surface(void* surface) { delete static_cast<Surface*>(surface); }

TextBox text_last_box(void* surface) { return surface ? static_cast<Surface*>(surface)->last : TextBox{0, 0, 0, 0}; }

// ---------------------------------------------------------------------------
// Queries of text_freetype.h

void text_begin_font_lookup() { begin_font_lookup(); }
void text_end_font_lookup() { end_font_lookup(); }

bool text_font_metrics(void* handle, int* cell_height, int* ascent, int* avg_char_width) {
    auto* font = static_cast<Font*>(handle);
    if (!font || !font->face.ft) return false;
    if (cell_height) *cell_height = font->face.cell_height;
    if (ascent) *ascent = font->face.ascent;
    if (avg_char_width) *avg_char_width = font->face.avg_width;
    return true;
}

int text_measure(void* handle, const char* text) {
    auto* font = static_cast<Font*>(handle);
    if (!font || !font->face.ft || !text) return 0;
    int64_t width = 0;
    for (const char* p = text; *p; ++p) width += glyph_of(*font, static_cast<unsigned char>(*p)).advance;
    return int(std::clamp<int64_t>(width, INT32_MIN, INT32_MAX));
}
