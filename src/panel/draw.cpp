// Panel drawing: the background receiver and how one key paints itself.
#include "panel/draw.h"

#include <algorithm>

#include "panel/panel.h"
#include "render/frame_buffer.h"
#include "render/primitives.h"
#include "render/render_context.h"

namespace {

constexpr int BACKGROUND = 252;
constexpr int EDGE_LIGHT = 250, EDGE_DARK = 252;
constexpr int CAPTION_FONT = 6, CAPTION_COLOR = 0;
constexpr int ARROW_BANDS = 20;
constexpr int BAR_LENGTH = 15, BAR_THICKNESS = 4;

// 20 one-pixel bands of length 2i; band 0 is empty, so the apex pixel keeps
// the face colour.
void draw_arrow(RenderContext& rc, ArrowDir dir, Point apex, int color) {
    const int ax = apex.x, ay = apex.y;
    for (int i = 0; i < ARROW_BANDS; ++i) {
        switch (dir) {
            case ARROW_LEFT: vline_band(rc, ax + i, ay - i, 2 * i, 1, color); break;
            case ARROW_RIGHT: vline_band(rc, ax - i, ay - i, 2 * i, 1, color); break;
            case ARROW_UP: hline_band(rc, ax - i, ay + i, 2 * i, 1, color); break;
            case ARROW_DOWN: hline_band(rc, ax - i, ay - i, 2 * i, 1, color); break;
            case ARROW_NONE: return;
        }
    }
}

}  // namespace

void forget_panel_drawing() { g_panel.shown = false; }

// Paints the background only when the buffer does not hold the panel yet, and
// then has every key and switch drawn after it. Otherwise keys and switches
// repaint just themselves when their look changed: each one covers all the
// pixels it ever draws (labels lie inside their key's frame, the state word
// inside its switch box), and none overlaps another, so the frame comes out
// the same as a whole redraw, byte for byte.
int background_event(int event, int /*arg*/) {
    if (event != EV_REDRAW) return event;
    if (g_panel.shown) return 0;
    RenderContext& rc = g_render;
    fill_rect(rc, 0, 0, FB_WIDTH, FB_HEIGHT, BACKGROUND);
    select_font(rc, CAPTION_FONT);
    draw_text(rc, 48, 455, "TRACK SELECT", CAPTION_COLOR);
    draw_text(rc, 120, 485, "PAD", CAPTION_COLOR);
    add_damage(rc, 0, 0, FB_WIDTH, FB_HEIGHT);
    for (int16_t& p : g_panel.shown_pressed) p = -1;
    for (int16_t& e : g_panel.shown_enable) e = -1;
    g_panel.shown = true;
    return 0;
}

Rect draw_key(RenderContext& rc, const PanelKey& key, int pressed) {
    const FaceColors& c = FACE_SCHEMES[key.scheme];
    if (key.style == STYLE_LABEL || key.style == STYLE_TWO_LINE) select_font(rc, key.font);
    const Rect& r = key.rect;
    bevel_box(rc, pressed, r.x, r.y, r.w, r.h, pressed ? c.face_pressed : c.face_released, EDGE_LIGHT, EDGE_DARK);
    const int label_color = pressed ? c.label_pressed : c.label_released;
    Rect ink = r;
    const auto take_in = [&ink](const TextBox& b) {
        if (b.w <= 0 || b.h <= 0) return;
        const int x1 = std::max(ink.x + ink.w, b.x + b.w), y1 = std::max(ink.y + ink.h, b.y + b.h);
        ink.x = std::min(ink.x, b.x), ink.y = std::min(ink.y, b.y);
        ink.w = x1 - ink.x, ink.h = y1 - ink.y;
    };
    switch (key.style) {
        case STYLE_TWO_LINE:
            take_in(draw_text(rc, key.label_at[0].x, key.label_at[0].y, key.label[0], label_color));
            take_in(draw_text(rc, key.label_at[1].x, key.label_at[1].y, key.label[1], label_color));
            break;
        case STYLE_LABEL:
            take_in(draw_text(rc, key.label_at[0].x, key.label_at[0].y, key.label[0], label_color));
            break;
        case STYLE_ARROW: draw_arrow(rc, key.arrow, key.glyph, key.glyph_color); break;
        case STYLE_BAR: hline_band(rc, key.glyph.x, key.glyph.y, BAR_LENGTH, BAR_THICKNESS, key.glyph_color); break;
    }
    add_damage(rc, ink.x, ink.y, ink.w, ink.h);
    return ink;
}

Rect redraw_key(RenderContext& rc, const PanelKey& key, int pressed, const Rect& ink) {
    // Inside the frame the box covers everything but its four corners, which
    // show the background either way; only a label's overhang needs this.
    const Rect& r = key.rect;
    if (ink.x != r.x || ink.y != r.y || ink.w != r.w || ink.h != r.h)
        fill_rect(rc, ink.x, ink.y, ink.w, ink.h, BACKGROUND);
    return draw_key(rc, key, pressed);
}
