// Text contract (text_backend.h) with FreeType and fontconfig: anti-aliased
// glyphs blended straight into the frame buffer, fonts sized by the Windows
// mapping so layouts match GDI. No kerning; bytes are Windows-1252.
//
// Sections: module state; face lookup; font metrics; glyph cache; the text
// contract; the queries of text_freetype.h. Window thread only.
#include "render/text_freetype.h"

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_ADVANCES_H
#include FT_SYNTHESIS_H
#include FT_TRUETYPE_TABLES_H
#include <fontconfig/fontconfig.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "render/frame_buffer.h"
#include "render/text_backend.h"

namespace {

// ---------------------------------------------------------------------------
// Module state

// One rendered glyph of a font: bitmap placement relative to the pen on the
// baseline, integer advance, and its coverage rows in the font's pool.
struct Glyph {
    int32_t left = 0;      // pixels right of the pen
    int32_t top = 0;       // pixels above the baseline
    int32_t width = 0;
    int32_t height = 0;
    int32_t advance = 0;   // pen step in pixels
    uint32_t offset = 0;   // first coverage byte in Font::pool
    uint32_t spans = 0;    // first of `height` [first, end) pairs of covered columns in Font::spans
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
    FT_Face face = nullptr;   // null: the face was not found, nothing draws
    bool embolden = false;    // bold asked of a face that has no bold
    int cell_height = 0;
    int ascent = 0;
    int avg_width = 0;
    Glyph glyphs[256];        // by byte value, filled on first use
    std::vector<uint8_t> pool;  // coverage, 0..255, rows of Glyph::width
    std::vector<uint16_t> spans;  // per glyph row: first covered column, one past the last
    std::vector<StringImage> strings;  // labels drawn so far, at most MAX_CACHED_STRINGS
};

struct Surface {
    uint32_t* pixels = nullptr;
    Font* font = nullptr;
    uint32_t rgb = 0;  // 0x00RRGGBB
};

// Trivially destructible on purpose: fonts may be released from static
// destructors of other translation units, after this module's statics would
// otherwise be gone. The library handles are never freed.
struct Backend {
    bool started = false;
    FT_Library ft = nullptr;
    FcConfig* fc = nullptr;
    Font* stock[5] = {};
    std::vector<std::string>* reported = nullptr;  // faces already named on stderr
};

Backend& backend() {
    static Backend b;
    if (!b.started) {
        b.started = true;
        if (FT_Init_FreeType(&b.ft) != 0) b.ft = nullptr;
        b.fc = FcInitLoadConfigAndFonts();
        b.reported = new std::vector<std::string>;
    }
    return b;
}

// The face name as a reader can see it: printable ASCII kept, other bytes
// as \xNN.
std::string printable(const char* face) {
    std::string out;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(face); *p; ++p) {
        if (*p >= 0x20 && *p < 0x7F) {
            out += char(*p);
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", *p);
            out += hex;
        }
    }
    return out;
}

// Says once per face, on stderr, that text in it will not be drawn.
void report_missing(const std::string& name) {
    std::vector<std::string>& seen = *backend().reported;
    if (std::find(seen.begin(), seen.end(), name) != seen.end()) return;
    seen.push_back(name);
    std::fprintf(stderr, "zorve: font face \"%s\" not found; text in it is not drawn\n", name.c_str());
}

// ---------------------------------------------------------------------------
// Face lookup

// Windows-1252 bytes 0x80..0x9F; the five unassigned ones map to themselves
// as Windows does.
constexpr uint16_t CP1252_HIGH[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

uint32_t cp1252_to_unicode(unsigned char c) {
    return (c >= 0x80 && c < 0xA0) ? CP1252_HIGH[c - 0x80] : c;
}

std::string cp1252_to_utf8(const char* s) {
    std::string out;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(s); *p; ++p) {
        uint32_t u = cp1252_to_unicode(*p);
        if (u < 0x80) {
            out += char(u);
        } else if (u < 0x800) {
            out += char(0xC0 | (u >> 6));
            out += char(0x80 | (u & 0x3F));
        } else {
            out += char(0xE0 | (u >> 12));
            out += char(0x80 | ((u >> 6) & 0x3F));
            out += char(0x80 | (u & 0x3F));
        }
    }
    return out;
}

// "ＭＳ　ゴシック" in code page 932, the Japanese name of MS Gothic.
constexpr char MS_GOTHIC_SJIS[] =
    "\x82\x6C\x82\x72\x81\x40\x83\x53\x83\x56\x83\x62\x83\x4E";

// Windows faces a program may name without the face being installed here,
// with the generic family that stands in when fontconfig knows no alias.
struct KnownFace {
    const char* name;
    const char* generic;
};
constexpr KnownFace KNOWN_FACES[] = {
    {"arial", "sans-serif"},        {"ms sans serif", "sans-serif"},
    {"ms shell dlg", "sans-serif"}, {"ms shell dlg 2", "sans-serif"},
    {"tahoma", "sans-serif"},       {"system", "sans-serif"},
    {"courier", "monospace"},       {"courier new", "monospace"},
    {"ms gothic", "monospace"},     {"times new roman", "serif"},
};

const char* generic_for(const std::string& family) {
    for (const KnownFace& k : KNOWN_FACES)
        if (FcStrCmpIgnoreCase(reinterpret_cast<const FcChar8*>(k.name),
                               reinterpret_cast<const FcChar8*>(family.c_str())) == 0)
            return k.generic;
    return nullptr;
}

bool is_generic(const FcChar8* family) {
    static const char* const generics[] = {"sans-serif", "serif", "monospace", "cursive",
                                           "fantasy", "system-ui", "emoji", "math", "sans", "mono"};
    for (const char* g : generics)
        if (FcStrCmpIgnoreCase(family, reinterpret_cast<const FcChar8*>(g)) == 0) return true;
    return false;
}

// Whether `font` belongs to the requested family or to an alias the
// configuration binds as strongly as the request itself (Liberation Sans for
// Arial); the weakly bound families it appends are mere fallbacks.
bool is_alias(FcPattern* request, FcPattern* font) {
    FcValue want;
    FcValueBinding binding;
    for (int w = 0; FcPatternGetWithBinding(request, FC_FAMILY, w, &want, &binding) == FcResultMatch; ++w) {
        if (binding == FcValueBindingWeak || want.type != FcTypeString || is_generic(want.u.s)) continue;
        FcChar8* have = nullptr;
        for (int h = 0; FcPatternGetString(font, FC_FAMILY, h, &have) == FcResultMatch; ++h)
            if (FcStrCmpIgnoreCase(want.u.s, have) == 0) return true;
    }
    return false;
}

struct FaceFile {
    std::string path;
    int index = 0;
    bool has_bold = false;
};

// Asks fontconfig for `family` (UTF-8) at an OpenType weight, preferring
// outline fonts. With `exact`, only a font of the family itself or of a
// strongly bound alias counts; otherwise the best outline font of any family
// does.
bool find_face(const char* family, int weight, const char* lang, bool exact, FaceFile& out) {
    FcConfig* fc = backend().fc;
    if (!fc) return false;
    FcPattern* pat = FcPatternCreate();
    if (!pat) return false;
    FcPatternAddString(pat, FC_FAMILY, reinterpret_cast<const FcChar8*>(family));
    FcPatternAddInteger(pat, FC_WEIGHT, FcWeightFromOpenType(weight > 0 ? weight : 400));
    FcPatternAddInteger(pat, FC_SLANT, FC_SLANT_ROMAN);
    FcPatternAddBool(pat, FC_OUTLINE, FcTrue);
    if (lang) FcPatternAddString(pat, FC_LANG, reinterpret_cast<const FcChar8*>(lang));
    FcConfigSubstitute(fc, pat, FcMatchPattern);
    FcDefaultSubstitute(pat);

    bool found = false;
    FcResult result = FcResultNoMatch;
    FcFontSet* set = FcFontSort(fc, pat, FcFalse, nullptr, &result);
    for (int i = 0; set && i < set->nfont && !found; ++i) {
        FcPattern* font = set->fonts[i];
        FcBool outline = FcFalse;
        FcChar8* file = nullptr;
        if (FcPatternGetBool(font, FC_OUTLINE, 0, &outline) != FcResultMatch || !outline) continue;
        if (FcPatternGetString(font, FC_FILE, 0, &file) != FcResultMatch) continue;
        // The first outline font decides: a later one is a worse match.
        if (exact && !is_alias(pat, font)) break;
        int index = 0;
        int font_weight = FC_WEIGHT_REGULAR;
        FcPatternGetInteger(font, FC_INDEX, 0, &index);
        FcPatternGetInteger(font, FC_WEIGHT, 0, &font_weight);
        out.path = reinterpret_cast<const char*>(file);
        out.index = index;
        out.has_bold = font_weight >= FC_WEIGHT_DEMIBOLD;
        found = true;
    }
    if (set) FcFontSetDestroy(set);
    FcPatternDestroy(pat);
    return found;
}

// ---------------------------------------------------------------------------
// Font metrics

// Average width in font units as Windows reports it for Arial: the OS/2
// version 2 weighting of the lowercase letters and the space. Newer OS/2
// tables (Liberation's among them) average every glyph instead, which would
// condense a face far more than Windows condenses Arial.
double average_width_units(FT_Face face, const TT_OS2* os2) {
    static const int weights[27] = {166, 64, 14, 27, 35, 100, 20, 14, 42, 63, 3, 6, 35, 20,
                                    56,  56, 17, 4,  49, 56,  71, 31, 10, 18, 3,  18, 2};
    double sum = 0;
    bool complete = true;
    for (int i = 0; i < 27 && complete; ++i) {
        FT_UInt index = FT_Get_Char_Index(face, i == 0 ? ' ' : FT_ULong('a' + i - 1));
        FT_Fixed advance = 0;
        complete = index != 0 && FT_Get_Advance(face, index, FT_LOAD_NO_SCALE, &advance) == 0;
        sum += double(advance) * weights[i];
    }
    if (complete) return sum / 1000.0;
    if (os2 && os2->xAvgCharWidth > 0) return os2->xAvgCharWidth;
    return face->max_advance_width / 2.0;
}

// Windows mapping of a requested height and width onto the face: a positive
// height is the cell height, ascent + descent of the face's Windows metrics
// (usWinAscent, usWinDescent) at the largest whole em size that fits it;
// a negative height is the em size itself;
// a non-zero width is the average character width and scales the face
// horizontally. Sets the face's size accordingly.
bool size_face(Font& font, int height, int width) {
    FT_Face face = font.face;
    const auto* os2 = static_cast<const TT_OS2*>(FT_Get_Sfnt_Table(face, FT_SFNT_OS2));
    double units = face->units_per_EM > 0 ? face->units_per_EM : 2048;
    double above = face->ascender;
    double below = -face->descender;
    if (os2 && os2->version != 0xFFFF && os2->usWinAscent + os2->usWinDescent > 0) {
        above = os2->usWinAscent;
        below = os2->usWinDescent;
    }
    if (above + below <= 0) {
        above = units * 0.8;
        below = units * 0.2;
    }

    constexpr long MAX_PPEM = 512;
    auto scaled = [&](double v, long ppem) { return long(std::lround(v * double(ppem) / units)); };
    if (height == 0) height = 16;
    long ppem = 0;
    if (height > 0) {
        // The largest em size whose rounded ascent and descent fit the cell.
        ppem = std::clamp(std::lround(units * height / (above + below)) + 1, 1L, MAX_PPEM);
        while (ppem > 1 && scaled(above, ppem) + scaled(below, ppem) > height) --ppem;
        font.cell_height = height;
        font.ascent = int(std::min(scaled(above, ppem), long(height)));
    } else {
        ppem = std::clamp(-long(height), 1L, MAX_PPEM);
        font.ascent = int(scaled(above, ppem));
        font.cell_height = font.ascent + int(scaled(below, ppem));
    }

    long natural = std::max(1L, std::lround(average_width_units(face, os2) * ppem / units));
    long wanted = width == 0 ? natural : std::abs(long(width));
    double x_ppem = std::clamp(double(ppem) * double(wanted) / double(natural), 1.0, double(MAX_PPEM));
    font.avg_width = int(std::min(wanted, long(INT32_MAX)));
    return FT_Set_Char_Size(face, FT_F26Dot6(std::lround(x_ppem * 64)), FT_F26Dot6(ppem * 64), 72, 72) == 0;
}

// Opens the face file and sizes it; a font whose face can't be used keeps
// no face and draws nothing.
void open_face(Font& font, const FaceFile& file, int height, int width, bool bold) {
    FT_Library ft = backend().ft;
    if (!ft || FT_New_Face(ft, file.path.c_str(), file.index, &font.face) != 0) {
        font.face = nullptr;
        return;
    }
    if (FT_Select_Charmap(font.face, FT_ENCODING_UNICODE) != 0 && font.face->num_charmaps > 0)
        FT_Set_Charmap(font.face, font.face->charmaps[0]);
    font.embolden = bold && !file.has_bold;
    if (!size_face(font, height, width)) {
        FT_Done_Face(font.face);
        font.face = nullptr;
    }
}

// ---------------------------------------------------------------------------
// Glyph cache

// The glyph of one byte, rendered on first use and kept for the font's life.
// Coverage rows with their covered spans, as a glyph or a whole string has them.
struct CoverageView {
    const uint8_t* cover;
    const uint16_t* spans;
    int64_t width, height;
};

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

const Glyph& glyph_of(Font& font, unsigned char byte) {
    Glyph& g = font.glyphs[byte];
    if (g.ready) return g;
    g.ready = true;
    FT_Face face = font.face;
    uint32_t code = cp1252_to_unicode(byte);
    FT_UInt index = FT_Get_Char_Index(face, code);
    if (index == 0 && face->charmap && face->charmap->encoding == FT_ENCODING_MS_SYMBOL)
        index = FT_Get_Char_Index(face, 0xF000 + code);
    if (FT_Load_Glyph(face, index, FT_LOAD_DEFAULT | FT_LOAD_NO_BITMAP) != 0) return g;
    FT_GlyphSlot slot = face->glyph;
    if (font.embolden) FT_GlyphSlot_Embolden(slot);
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
        if (image.hash == hash && image.text.size() == size_t(length) && std::memcmp(image.text.data(), text, size_t(length)) == 0)
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

Font* make_font(int height, int width, int weight, int charset, const char* face_bytes) {
    auto* font = new Font;
    const char* face = face_bytes ? face_bytes : "";
    constexpr int SHIFTJIS_CHARSET = 128;
    const char* lang = charset == SHIFTJIS_CHARSET ? "ja" : nullptr;
    bool ascii = true;
    for (const char* p = face; *p; ++p) ascii = ascii && (unsigned char)*p < 0x80;

    std::string family;
    if (charset == SHIFTJIS_CHARSET) {
        // Code page 932 names: the one the panel uses is known; any other
        // non-ASCII name stands for some Japanese face.
        family = std::strcmp(face, MS_GOTHIC_SJIS) == 0 ? "MS Gothic" : ascii ? face : "";
    } else {
        family = cp1252_to_utf8(face);
    }
    const char* generic = generic_for(family);
    if (!generic && (family.empty() || charset == SHIFTJIS_CHARSET))
        generic = charset == SHIFTJIS_CHARSET ? "monospace" : "sans-serif";

    FaceFile file;
    bool found = (!family.empty() && find_face(family.c_str(), weight, lang, true, file)) ||
                 (generic && find_face(generic, weight, lang, false, file));
    if (found) open_face(*font, file, height, width, weight >= 600);
    if (!font->face) report_missing(printable(face));
    return font;
}

}  // namespace

// ---------------------------------------------------------------------------
// The text contract

void* text_stock_font(StockFont which) {
    // Stand-ins for the Windows stock fonts, by cell height and look.
    struct StockSpec {
        const char* family;
        int height, width, weight;
        const char* name;  // for the missing-face message
    };
    static const StockSpec specs[5] = {
        {"monospace", 13, 0, 400, "ANSI_FIXED_FONT"},
        {"sans-serif", 13, 0, 400, "ANSI_VAR_FONT"},
        {"Liberation Sans", 16, 0, 700, "DEVICE_DEFAULT_FONT"},
        {"sans-serif", 13, 0, 400, "DEFAULT_GUI_FONT"},
        {"Liberation Sans", 16, 0, 700, "SYSTEM_FONT"},
    };
    int i = int(which);
    if (i < 0 || i >= 5) return nullptr;
    Backend& b = backend();
    if (!b.stock[i]) {
        const StockSpec& s = specs[i];
        auto* font = new Font;
        font->stock = true;
        FaceFile file;
        if (find_face(s.family, s.weight, nullptr, false, file))
            open_face(*font, file, s.height, s.width, s.weight >= 600);
        if (!font->face) report_missing(s.name);
        b.stock[i] = font;
    }
    return b.stock[i];
}

void* text_create_font(int height, int width, int weight, int charset, const char* face) {
    return make_font(height, width, weight, charset, face);
}

void text_release_font(void* handle) {
    auto* font = static_cast<Font*>(handle);
    if (!font || font->stock) return;
    if (font->face) FT_Done_Face(font->face);
    delete font;
}

void text_select_font(void* surface, void* font) {
    // Like SelectObject, a null font leaves the selection as it was.
    if (surface && font) static_cast<Surface*>(surface)->font = static_cast<Font*>(font);
}

void text_set_color(void* surface, uint32_t colorref) {
    if (!surface) return;
    static_cast<Surface*>(surface)->rgb =
        ((colorref & 0xFF) << 16) | (colorref & 0xFF00) | ((colorref >> 16) & 0xFF);
}

void text_out(void* surface, int x, int y, const char* text, int length) {
    auto* s = static_cast<Surface*>(surface);
    if (!s || !s->pixels || !s->font || !s->font->face || !text || length <= 0) return;
    Font& font = *s->font;
    // 64-bit pen: any int origin plus any run of advances stays exact.
    int64_t pen = x;
    const int64_t baseline = int64_t(y) + font.ascent;
    if (StringImage* image = string_image(font, text, length)) {
        if (image->width > 0) blend_label(s->pixels, *image, pen + image->left, baseline - image->top, s->rgb);
        return;
    }
    for (int i = 0; i < length; ++i) {
        const Glyph& g = glyph_of(font, static_cast<unsigned char>(text[i]));
        if (g.width > 0) blend(s->pixels, view_of(font, g), pen + g.left, baseline - g.top, s->rgb);
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

// ---------------------------------------------------------------------------
// Queries of text_freetype.h

bool text_font_metrics(void* handle, int* cell_height, int* ascent, int* avg_char_width) {
    auto* font = static_cast<Font*>(handle);
    if (!font || !font->face) return false;
    if (cell_height) *cell_height = font->cell_height;
    if (ascent) *ascent = font->ascent;
    if (avg_char_width) *avg_char_width = font->avg_width;
    return true;
}

int text_measure(void* handle, const char* text) {
    auto* font = static_cast<Font*>(handle);
    if (!font || !font->face || !text) return 0;
    int64_t width = 0;
    for (const char* p = text; *p; ++p) width += glyph_of(*font, static_cast<unsigned char>(*p)).advance;
    return int(std::clamp<int64_t>(width, INT32_MIN, INT32_MAX));
}
