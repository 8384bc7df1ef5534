// Font faces for the FreeType text backend (font_face_freetype.h): fontconfig
// picks a face for a Windows font request, FreeType sizes it by the Windows
// metrics so layouts match GDI. Face names are Windows-1252 or code page 932.
//
// Sections: module state; face lookup; font metrics; the faces of requests
// and of the stock fonts. Window thread only.
#include "platform/linux/text/font_face_freetype.h"

#include "base/cp1252.h"
#include "base/program.h"
#include "render/font_metrics.h"

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_ADVANCES_H
#include FT_TRUETYPE_TABLES_H
#include <fontconfig/fontconfig.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

// ---------------------------------------------------------------------------
// Module state

// The face file fontconfig chose for a request.
struct FaceFile {
    std::string path;
    int index = 0;
    bool has_bold = false;
};

// Trivially destructible on purpose: fonts may be released from static
// destructors of other translation units, after this module's statics would
// otherwise be gone. The library handles are never freed.
struct Backend {
    bool started = false;
    FT_Library ft = nullptr;
    FcConfig* fc = nullptr;
    std::vector<std::string>* reported = nullptr;  // faces already named on stderr
    // Lookups made so far: the panel asks for one family at one weight in
    // seven sizes, and each fontconfig sort costs as much as a face open.
    std::vector<std::pair<std::string, FaceFile>>* found = nullptr;
    std::thread* loader = nullptr;  // begin_font_lookup's, until joined
};

Backend g_backend;

// On the loader thread or the window thread, never both: the window thread
// joins the loader before it reads anything here.
void load(Backend& b) {
    if (FT_Init_FreeType(&b.ft) != 0) b.ft = nullptr;
    b.fc = FcInitLoadConfigAndFonts();
}

void join_loader(Backend& b) {
    if (!b.loader) return;
    b.loader->join();
    delete b.loader;
    b.loader = nullptr;
}

Backend& backend() {
    Backend& b = g_backend;
    join_loader(b);
    if (!b.started) {
        b.started = true;
        load(b);
    }
    if (!b.reported) b.reported = new std::vector<std::string>;
    if (!b.found) b.found = new std::vector<std::pair<std::string, FaceFile>>;
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

// Says once per face that text in it will not be drawn.
void report_missing(const std::string& name) {
    std::vector<std::string>& seen = *backend().reported;
    if (std::find(seen.begin(), seen.end(), name) != seen.end()) return;
    seen.push_back(name);
    report_error("font face \"%s\" not found; text in it is not drawn", name.c_str());
}

// ---------------------------------------------------------------------------
// Face lookup

// Windows faces a program may name without the face being installed here,
// with the generic family that stands in when fontconfig knows no alias.
struct KnownFace {
    const char* name;
    const char* generic;
};
constexpr KnownFace KNOWN_FACES[] = {
    {"arial", "sans-serif"},          {"ms sans serif", "sans-serif"}, {"ms shell dlg", "sans-serif"},
    {"ms shell dlg 2", "sans-serif"}, {"tahoma", "sans-serif"},        {"system", "sans-serif"},
    {"courier", "monospace"},         {"courier new", "monospace"},    {"ms gothic", "monospace"},
    {"times new roman", "serif"},
};

const char* generic_for(const std::string& family) {
    for (const KnownFace& k : KNOWN_FACES)
        if (FcStrCmpIgnoreCase(reinterpret_cast<const FcChar8*>(k.name),
                               reinterpret_cast<const FcChar8*>(family.c_str())) == 0)
            return k.generic;
    return nullptr;
}

bool is_generic(const FcChar8* family) {
    static const char* const GENERIC_FAMILIES[] = {"sans-serif", "serif", "monospace", "cursive", "fantasy",
                                                   "system-ui",  "emoji", "math",      "sans",    "mono"};
    for (const char* g : GENERIC_FAMILIES)
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

// Asks fontconfig for `family` (UTF-8) at an OpenType weight, preferring
// outline fonts. With `exact`, only a font of the family itself or of a
// strongly bound alias counts; otherwise the best outline font of any family
// does.
bool sort_for_face(const char* family, int weight, const char* lang, bool exact, FaceFile& out);

bool find_face(const char* family, int weight, const char* lang, bool exact, FaceFile& out) {
    std::string key =
        std::string(family) + '\n' + std::to_string(weight) + '\n' + (lang ? lang : "") + (exact ? "=" : "~");
    auto& found = *backend().found;
    for (const auto& [k, file] : found) {
        if (k != key) continue;
        out = file;
        return !file.path.empty();
    }
    const bool ok = sort_for_face(family, weight, lang, exact, out);
    found.emplace_back(std::move(key), ok ? out : FaceFile{});
    return ok;
}

bool sort_for_face(const char* family, int weight, const char* lang, bool exact, FaceFile& out) {
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

// Average width in font units as Windows reports it for Arial
// (render/font_metrics.h).
double average_width_units(FT_Face face, const TT_OS2* os2) {
    double sum = 0;
    bool complete = true;
    for (int i = 0; i < 27 && complete; ++i) {
        FT_UInt index = FT_Get_Char_Index(face, i == 0 ? ' ' : FT_ULong('a' + i - 1));
        FT_Fixed advance = 0;
        complete = index != 0 && FT_Get_Advance(face, index, FT_LOAD_NO_SCALE, &advance) == 0;
        sum += double(advance) * LETTER_WEIGHTS[i];
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
bool size_face(FontFace& font, int height, int width) {
    FT_Face face = font.ft;
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
void open_face(FontFace& font, const FaceFile& file, int height, int width, bool bold) {
    FT_Library ft = backend().ft;
    if (!ft || FT_New_Face(ft, file.path.c_str(), file.index, &font.ft) != 0) {
        font.ft = nullptr;
        return;
    }
    if (FT_Select_Charmap(font.ft, FT_ENCODING_UNICODE) != 0 && font.ft->num_charmaps > 0)
        FT_Set_Charmap(font.ft, font.ft->charmaps[0]);
    font.embolden = bold && !file.has_bold;
    if (!size_face(font, height, width)) {
        FT_Done_Face(font.ft);
        font.ft = nullptr;
    }
}

}  // namespace

// ---------------------------------------------------------------------------
// The faces of requests and of the stock fonts

void open_font_face(FontFace& font, int height, int width, int weight, int charset, const char* face_bytes) {
    const char* face = face_bytes ? face_bytes : "";
    const char* lang = charset == SHIFTJIS_CHARSET ? "ja" : nullptr;
    bool ascii = true;
    for (const char* p = face; *p; ++p) ascii = ascii && (unsigned char)*p < 0x80;

    std::string family;
    if (charset == SHIFTJIS_CHARSET) {
        // Code page 932 names: the one the panel uses is known; any other
        // non-ASCII name stands for some Japanese face.
        family = std::strcmp(face, GOTHIC_SJIS) == 0 ? "MS Gothic" : ascii ? face : "";
    } else {
        family = cp1252_to_utf8(face);
    }
    const char* generic = generic_for(family);
    if (!generic && (family.empty() || charset == SHIFTJIS_CHARSET))
        generic = charset == SHIFTJIS_CHARSET ? "monospace" : "sans-serif";

    FaceFile file;
    bool found = (!family.empty() && find_face(family.c_str(), weight, lang, true, file)) ||
                 (generic && find_face(generic, weight, lang, false, file));
    if (found) open_face(font, file, height, width, weight >= 600);
    if (!font.ft) report_missing(printable(face));
}

void open_stock_face(FontFace& font, StockFont which) {
    const StockStandIn& s = STOCK_STAND_INS[int(which)];
    FaceFile file;
    if (find_face(s.family, s.weight, nullptr, false, file)) open_face(font, file, s.height, s.width, s.weight >= 600);
    if (!font.ft) report_missing(s.name);
}

void begin_font_lookup() {
    Backend& b = g_backend;
    if (b.started) return;
    b.started = true;
    try {
        b.loader = new std::thread(load, std::ref(b));
    } catch (...) {
        b.loader = nullptr;
        load(b);  // no thread: load now, as the first lookup would have
    }
}

void end_font_lookup() { join_loader(g_backend); }

void close_font_face(FontFace& font) {
    if (font.ft) FT_Done_Face(font.ft);
    font.ft = nullptr;
}
