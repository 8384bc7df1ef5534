// The SDL layer's own message box: a window of its own whose canvas is drawn
// with the FreeType text backend and plain fills. Used only where SDL's box
// fails; one box at a time, on the window thread.
#include <SDL.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>

#include "platform/linux/sdl/window_sdl.h"
#include "platform/linux/text/text_freetype.h"
#include "render/frame_buffer.h"
#include "render/text_backend.h"

namespace {

// The text surface needs a full frame-buffer-sized canvas; the box uses its
// top-left.
struct OwnBox {
    SDL_Window* window = nullptr;
    uint32_t* canvas = nullptr;
    void* surface = nullptr;
    void* font = nullptr;
    int width = 0, height = 0;
    SDL_Rect ok{};
    bool armed = false;  // the OK button was pressed and not yet released
};

constexpr uint32_t BOX_FACE = 0xF0F0F0;
constexpr uint32_t BOX_BUTTON = 0xE1E1E1;
constexpr uint32_t BOX_BUTTON_DOWN = 0xCCE4F7;
constexpr uint32_t BOX_BUTTON_EDGE = 0x0078D7;

void canvas_fill(OwnBox& box, int x, int y, int w, int h, uint32_t rgb) {
    for (int row = std::max(y, 0); row < std::min(y + h, box.height); ++row)
        std::fill(box.canvas + row * FB_WIDTH + std::max(x, 0),
                  box.canvas + row * FB_WIDTH + std::min(x + w, box.width), rgb);
}

void draw_box(OwnBox& box, const char* text) {
    int cell = 16, ascent = 13, avg = 7;
    text_font_metrics(box.font, &cell, &ascent, &avg);
    canvas_fill(box, 0, 0, box.width, box.height, BOX_FACE);
    text_set_color(box.surface, 0x000000);
    text_out(box.surface, 24, 24, text, int(std::strlen(text)));
    const SDL_Rect& b = box.ok;
    canvas_fill(box, b.x, b.y, b.w, b.h, BOX_BUTTON_EDGE);
    canvas_fill(box, b.x + 1, b.y + 1, b.w - 2, b.h - 2, box.armed ? BOX_BUTTON_DOWN : BOX_BUTTON);
    const int label = text_measure(box.font, "OK");
    text_out(box.surface, b.x + (b.w - label) / 2, b.y + (b.h - cell) / 2, "OK", 2);

    SDL_Surface* dst = SDL_GetWindowSurface(box.window);
    SDL_Surface* src =
        SDL_CreateRGBSurfaceWithFormatFrom(box.canvas, box.width, box.height, 32, FB_WIDTH * 4, SDL_PIXELFORMAT_RGB888);
    if (dst && src) {
        SDL_BlitSurface(src, nullptr, dst, nullptr);
        SDL_UpdateWindowSurface(box.window);
    }
    SDL_FreeSurface(src);
}

bool inside(const SDL_Rect& r, int x, int y) { return x >= r.x && x < r.x + r.w && y >= r.y && y < r.y + r.h; }

}  // namespace

bool run_own_box(const char* caption, const char* text) {
    OwnBox box;
    box.canvas = new (std::nothrow) uint32_t[size_t(FB_WIDTH) * FB_HEIGHT];
    if (box.canvas) box.surface = text_create_surface(box.canvas);
    box.font = text_create_font(16, 0, 400, 0, "arial");
    bool shown = false;
    if (box.surface && box.font) {
        const int text_w = text_measure(box.font, text);
        box.width = std::clamp(text_w + 48, 240, FB_WIDTH);
        box.height = 110;
        box.ok = SDL_Rect{(box.width - 88) / 2, box.height - 44, 88, 28};
        box.window = SDL_CreateWindow(caption, SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED, box.width, box.height,
                                      SDL_WINDOW_HIDDEN);
    }
    if (box.window) {
        shown = true;
        set_program_icon(box.window);
        SDL_ShowWindow(box.window);
        SDL_RaiseWindow(box.window);
        draw_box(box, text);
        const Uint32 id = SDL_GetWindowID(box.window);
        bool done = false;
        SDL_Event e;
        while (!done && SDL_WaitEvent(&e)) {
            switch (e.type) {
                case SDL_QUIT: done = true; break;
                case SDL_WINDOWEVENT:
                    if (e.window.windowID != id) break;
                    if (e.window.event == SDL_WINDOWEVENT_CLOSE) done = true;
                    if (e.window.event == SDL_WINDOWEVENT_EXPOSED || e.window.event == SDL_WINDOWEVENT_SIZE_CHANGED)
                        draw_box(box, text);
                    break;
                case SDL_MOUSEBUTTONDOWN:
                    if (e.button.button == SDL_BUTTON_LEFT && inside(box.ok, e.button.x, e.button.y)) {
                        box.armed = true;
                        draw_box(box, text);
                    }
                    break;
                case SDL_MOUSEBUTTONUP:
                    if (e.button.button != SDL_BUTTON_LEFT) break;
                    if (box.armed && inside(box.ok, e.button.x, e.button.y)) done = true;
                    box.armed = false;
                    draw_box(box, text);
                    break;
                case SDL_KEYDOWN:
                    switch (e.key.keysym.scancode) {
                        case SDL_SCANCODE_RETURN:
                        case SDL_SCANCODE_KP_ENTER:
                        case SDL_SCANCODE_SPACE:
                        case SDL_SCANCODE_ESCAPE: done = true; break;
                        default: break;
                    }
                    break;
                case SDL_DROPFILE:
                case SDL_DROPTEXT: SDL_free(e.drop.file); break;
                default: break;
            }
        }
        SDL_DestroyWindow(box.window);
    }
    if (box.font) text_release_font(box.font);
    if (box.surface) text_delete_surface(box.surface);
    delete[] box.canvas;
    return shown;
}
