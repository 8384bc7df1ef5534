// Text platform contract (text_gdi.cpp; text_freetype.cpp with
// font_face_freetype.cpp; a recording double). A font is an opaque handle; a
// surface is the platform object that draws text into frame-buffer pixels.
// Window thread only.
#pragma once
#include <cstdint>

enum StockFont : int {
    STOCK_ANSI_FIXED,
    STOCK_ANSI_VAR,
    STOCK_DEVICE_DEFAULT,
    STOCK_DEFAULT_GUI,
    STOCK_SYSTEM,
};

// Charsets of text_create_font by their GDI numbers. wingdi.h defines both
// names as macros; a file that includes it first checks its values here.
#if defined(ANSI_CHARSET) || defined(SHIFTJIS_CHARSET)
static_assert(ANSI_CHARSET == 0 && SHIFTJIS_CHARSET == 128);
#else
constexpr int ANSI_CHARSET = 0;
constexpr int SHIFTJIS_CHARSET = 128;
#endif

// "ＭＳ　ゴシック" in code page 932: MS Gothic's Japanese name, the one face
// name with non-ASCII bytes the program asks for.
constexpr char GOTHIC_SJIS[] = "\x82\x6C\x82\x72\x81\x40\x83\x53\x83\x56\x83\x62\x83\x4E";
static_assert(sizeof(GOTHIC_SJIS) == 15);

void* text_stock_font(StockFont which);
// height: cell height in pixels; width: average character width, 0 lets the
// face's aspect decide; weight 700 is bold; face is passed as raw bytes.
void* text_create_font(int height, int width, int weight, int charset, const char* face);
// Stock fonts are accepted and ignored.
void text_release_font(void* font);
void text_select_font(void* surface, void* font);
void text_set_color(void* surface, uint32_t colorref);  // 0x00BBGGRR
void text_out(void* surface, int x, int y, const char* text, int length);

// A surface over plain-memory pixels (FB_WIDTH x FB_HEIGHT, stride FB_WIDTH):
// every text backend except GDI, whose surface is the memory DC of its bitmap.
// Starts with the default font (the device-default stock font) and black text.
void* text_create_surface(uint32_t* pixels);
void text_delete_surface(void* surface);
