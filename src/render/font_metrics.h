// What the text backends that draw into plain memory share about Windows
// fonts (FreeType's and the browser's; GDI has the real ones).
#pragma once

#include "render/text_backend.h"

// The weights Windows averaged a TrueType face's letters with (OS/2 table
// version 2's xAvgCharWidth): the space, then 'a' to 'z', out of 1000. A
// non-zero width asked of text_create_font is such an average, as GDI
// measures Arial; newer OS/2 tables (Liberation's among them) average every
// glyph instead, which would condense a face far more.
constexpr int LETTER_WEIGHTS[27] = {166, 64, 14, 27, 35, 100, 20, 14, 42, 63, 3, 6,  35, 20,
                                    56,  56, 17, 4,  49, 56,  71, 31, 10, 18, 3, 18, 2};

// Stand-ins for the Windows stock fonts, by StockFont: a family a font
// lookup understands, the cell height, the weight.
struct StockStandIn {
    const char* family;
    int height, width, weight;
    const char* name;  // the Windows name, for a message that it is missing
};
constexpr StockStandIn STOCK_STAND_INS[5] = {
    {"monospace", 13, 0, 400, "ANSI_FIXED_FONT"},           {"sans-serif", 13, 0, 400, "ANSI_VAR_FONT"},
    {"Liberation Sans", 16, 0, 700, "DEVICE_DEFAULT_FONT"}, {"sans-serif", 13, 0, 400, "DEFAULT_GUI_FONT"},
    {"Liberation Sans", 16, 0, 700, "SYSTEM_FONT"},
};
