// The one drawing context: frame-buffer pixels, the text colour cache, the
// text surface and the fourteen font slots. Window thread only.
#pragma once
#include <cstdint>

#include "render/palette.h"

constexpr int FONT_SLOTS = 14;
// A font's place in RenderContext::fonts: 0..4 the platform's stock fonts,
// 5..13 the ones create_fonts makes.
using FontSlot = int;

struct RenderContext {
    uint32_t* pixels = nullptr;      // first (top-left) pixel; null until the frame buffer exists
    int32_t text_color_index = 255;  // ColorIndex last given to the surface as text colour
    void* surface = nullptr;         // platform text surface drawing into `pixels`
    void* fonts[FONT_SLOTS] = {};    // indexed by FontSlot
};

extern RenderContext g_render;

void create_fonts(RenderContext& rc);
void release_fonts(RenderContext& rc);
void select_font(RenderContext& rc, FontSlot slot);
void set_text_color(RenderContext& rc, ColorIndex index);
// 0x00RRGGBB -> 0x00BBGGRR
constexpr uint32_t to_colorref(uint32_t v) { return ((v >> 16) & 0xFF) + (v & 0xFF00) + ((v & 0xFF) << 16); }
// Draws a zero-terminated byte string with its cell's top-left at (x, y) in
// the selected font; only the glyphs' own pixels change.
void draw_text(RenderContext& rc, int x, int y, const char* text, ColorIndex color);
