// Recording double of the text contract: logs every call, draws nothing.
#include <cstdint>

#include "fakes.h"
#include "render/text_backend.h"

using fake::record;

namespace {

struct FakeSurface {
    void* font;
    TextBox last;
};

}  // namespace

void* text_stock_font(StockFont which) {
    record("stock_font %d", int(which));
    return reinterpret_cast<void*>(intptr_t(100 + which));
}
void* text_create_font(int height, int width, int weight, int charset, const char* face) {
    record("create_font %d %d %d %d %s", height, width, weight, charset, face);
    return reinterpret_cast<void*>(intptr_t(200 + height * 100 + width));
}
void text_release_font(void* font) { record("release_font %ld", long(reinterpret_cast<intptr_t>(font))); }
void text_select_font(void* surface, void* font) {
    static_cast<FakeSurface*>(surface)->font = font;
    record("select_font %ld", long(reinterpret_cast<intptr_t>(font)));
}
void text_set_color(void*, uint32_t colorref) {
    ++fake::world().text_color_calls;
    record("text_color %06X", colorref);
}
void text_out(void* surface, int x, int y, const char* text, int length) {
    record("text %d %d %.*s", x, y, length, text);
    // As if every glyph filled an 8 x 16 cell.
    if (surface) static_cast<FakeSurface*>(surface)->last = {x, y, 8 * (length > 0 ? length : 0), 16};
}
TextBox text_last_box(void* surface) {
    return surface ? static_cast<FakeSurface*>(surface)->last : TextBox{0, 0, 0, 0};
}
void* text_create_surface(uint32_t*) {
    if (!fake::world().frame_buffer_ok) return nullptr;
    return new FakeSurface{reinterpret_cast<void*>(intptr_t(100 + STOCK_DEVICE_DEFAULT)), {0, 0, 0, 0}};
}
void text_delete_surface(void* surface) { delete static_cast<FakeSurface*>(surface); }
