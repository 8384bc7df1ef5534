// Inside the FreeType text backend: the face of a font, found through
// fontconfig for a Windows font request and sized by the Windows metrics
// (font_face_freetype.cpp); text_freetype.cpp draws with it. Window thread only.
#pragma once
#include <ft2build.h>
#include FT_FREETYPE_H

#include <cstdint>

#include "render/text_backend.h"

// Pixel metrics as GDI would report them for the request.
struct FontFace {
    FT_Face ft = nullptr;   // null: the face was not found, nothing draws
    bool embolden = false;  // bold asked of a face that has no bold
    int cell_height = 0;
    int ascent = 0;
    int avg_width = 0;
};

// The face that stands in for a text_create_font request, same arguments.
// When none is found, `font.ft` stays null and stderr says so once per name.
void open_font_face(FontFace& font, int height, int width, int weight, int charset, const char* face);
// Likewise for a stock font; `which` must be one of the StockFont values.
void open_stock_face(FontFace& font, StockFont which);
void close_font_face(FontFace& font);
// See text_begin_font_lookup and text_end_font_lookup (text_freetype.h).
void begin_font_lookup();
void end_font_lookup();
