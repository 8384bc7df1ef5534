// Text contract (render/text_backend.h) on GDI: stock and CreateFontA fonts,
// TextOutA on the frame buffer's memory DC. The surface is that DC, made by
// frame_buffer_gdi.cpp; plain-memory surfaces do not exist on this platform.
#include <windows.h>

#include "render/text_backend.h"

void* text_stock_font(StockFont which) {
    static constexpr int STOCK_OBJECTS[] = {ANSI_FIXED_FONT, ANSI_VAR_FONT, DEVICE_DEFAULT_FONT, DEFAULT_GUI_FONT,
                                            SYSTEM_FONT};
    return GetStockObject(STOCK_OBJECTS[which]);
}

// Not italic, underlined or struck out; precisions, quality and pitch are the
// platform defaults (0). The face bytes go through unchanged, whatever their
// code page.
void* text_create_font(int height, int width, int weight, int charset, const char* face) {
    return CreateFontA(height, width, 0, 0, weight, FALSE, FALSE, FALSE, static_cast<DWORD>(charset), 0, 0, 0, 0, face);
}

void text_release_font(void* font) { DeleteObject(static_cast<HGDIOBJ>(font)); }

void text_select_font(void* surface, void* font) {
    SelectObject(static_cast<HDC>(surface), static_cast<HGDIOBJ>(font));
}

void text_set_color(void* surface, uint32_t colorref) { SetTextColor(static_cast<HDC>(surface), colorref); }

namespace {
TextBox g_last_box{};  // window thread only; the program has one surface
}

// Top-left aligned at (x, y); the surface's current position is not used.
void text_out(void* surface, int x, int y, const char* text, int length) {
    HDC dc = static_cast<HDC>(surface);
    TextOutA(dc, x, y, text, length);
    SIZE size{};
    if (length <= 0 || !GetTextExtentPoint32A(dc, text, length, &size)) size = {};
    // The cell box, widened for glyphs that overhang their advance.
    constexpr int OVERHANG = 3;
    g_last_box =
        size.cx > 0 ? TextBox{x - OVERHANG, y, int(size.cx) + 2 * OVERHANG, int(size.cy)} : TextBox{x, y, 0, 0};
}

TextBox text_last_box(void*) { return g_last_box; }
