// Presenting, SDL layer: the frame buffer's damaged rectangles copied into
// the window surface at the panel's place in the window (app/view.h), 1:1,
// as whole blocks or fitted to a resized window, and
// the window image's pages put in place before the first present.
#include <SDL.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "app/platform.h"
#include "platform/linux/sdl/window_sdl.h"
#include "render/frame_buffer.h"
#include "render/render_context.h"

namespace {

// Copies panel rectangle `r` into window rectangle `to` (its place in the
// view), nearest: whole blocks at whole factors, clipped to the window. The
// X11 window surface has the frame's own format and gets a plain copy loop;
// any other goes through SDL's blits.
bool blit_view(SDL_Surface* dst, const SDL_Rect& r, const SDL_Rect& to) {
    const View& v = g_sdl.view;
    if (v.w == FB_WIDTH && v.h == FB_HEIGHT) {
        SDL_Rect from = r, at = to;  // the blit clips its own copies
        return SDL_BlitSurface(g_sdl.frame, &from, dst, &at) == 0;
    }
    if (dst->format->format != SDL_PIXELFORMAT_RGB888) {
        SDL_Rect from = r, at = to;
        return SDL_BlitScaled(g_sdl.frame, &from, dst, &at) == 0;
    }
    const int x0 = std::max(0, to.x), y0 = std::max(0, to.y);
    const int x1 = std::min(dst->w, to.x + to.w), y1 = std::min(dst->h, to.y + to.h);
    if (x0 >= x1 || y0 >= y1) return true;
    std::vector<int> column(size_t(x1 - x0));
    for (int x = x0; x < x1; ++x) column[size_t(x - x0)] = view_to_panel(v, x, 0).x;
    if (SDL_MUSTLOCK(dst) && SDL_LockSurface(dst) != 0) return false;
    auto* base = static_cast<uint8_t*>(dst->pixels);
    const auto row_at = [&](int y) { return reinterpret_cast<uint32_t*>(base + size_t(y) * size_t(dst->pitch)); };
    int last = -1;
    for (int y = y0; y < y1; ++y) {
        uint32_t* row = row_at(y);
        const int py = view_to_panel(v, 0, y).y;
        if (py == last) {  // the panel row the window row above shows, again
            std::memcpy(row + x0, row_at(y - 1) + x0, size_t(x1 - x0) * 4);
            continue;
        }
        last = py;
        const uint32_t* src = g_render.pixels + size_t(py) * FB_WIDTH;
        for (int x = x0; x < x1; ++x) row[x] = src[column[size_t(x - x0)]];
    }
    if (SDL_MUSTLOCK(dst)) SDL_UnlockSurface(dst);
    return true;
}

// The window beyond the panel, where a resize left it room: black.
void fill_bars(SDL_Surface* dst) {
    const View& v = g_sdl.view;
    const SDL_Rect bars[] = {{0, 0, dst->w, v.y},
                             {0, v.y + v.h, dst->w, dst->h - v.y - v.h},
                             {0, v.y, v.x, v.h},
                             {v.x + v.w, v.y, dst->w - v.x - v.w, v.h}};
    for (const SDL_Rect& bar : bars)
        if (bar.w > 0 && bar.h > 0) SDL_FillRect(dst, &bar, SDL_MapRGB(dst->format, 0, 0, 0));
}

// Copies frame-buffer rectangles (at most DAMAGE_RECTS, in panel pixels) into
// the window surface and shows them, each at its place in the view; clipped
// to the window. `whole_window` shows all of the surface, the bars beside
// the panel included, as a window that lost its contents needs. A failure
// leaves the whole window to be repainted at the next chance.
void show(const SDL_Rect* rects, int count, bool whole_window) {
    g_sdl.repaint = false;
    if (!g_sdl.window || !g_render.pixels) return;
    if (!g_sdl.frame || g_sdl.frame->pixels != g_render.pixels) {
        SDL_FreeSurface(g_sdl.frame);
        g_sdl.frame = SDL_CreateRGBSurfaceWithFormatFrom(g_render.pixels, FB_WIDTH, FB_HEIGHT, 32, FB_WIDTH * 4,
                                                         SDL_PIXELFORMAT_RGB888);
        if (!g_sdl.frame) return;
    }
    SDL_Surface* dst = SDL_GetWindowSurface(g_sdl.window);
    if (!dst) return;
    if (whole_window) fill_bars(dst);
    // What of each rectangle the window surface has: the X11 driver rejects
    // an update that reaches past the window (a window smaller than the
    // buffer) instead of clipping it.
    const SDL_Rect surface{0, 0, dst->w, dst->h};
    SDL_Rect shown[DAMAGE_RECTS];
    int n = 0;
    bool ok = true;
    for (int i = 0; i < count && n < DAMAGE_RECTS; ++i) {
        const Rect w = view_to_window(g_sdl.view, {rects[i].x, rects[i].y, rects[i].w, rects[i].h});
        const SDL_Rect in_window{w.x, w.y, w.w, w.h};
        ok = blit_view(dst, rects[i], in_window) && ok;
        if (SDL_IntersectRect(&in_window, &surface, &shown[n])) ++n;
    }
    if (whole_window)
        ok = ok && SDL_UpdateWindowSurface(g_sdl.window) == 0;
    else if (n > 0)
        ok = ok && SDL_UpdateWindowSurfaceRects(g_sdl.window, shown, n) == 0;
    if (!ok) g_sdl.repaint = true;
}

}  // namespace

void update_view() {
    int w = 0, h = 0;
    if (g_sdl.window) SDL_GetWindowSize(g_sdl.window, &w, &h);
    g_sdl.view = view_for_window(w, h, g_sdl.min_scale);
}

// Start-up, exposure and resizing: the window has nothing of the buffer.
void present_now() {
    const SDL_Rect whole{0, 0, FB_WIDTH, FB_HEIGHT};
    show(&whole, 1, true);
}

namespace {

// A tick's present: only what was drawn since the last one.
void present_damage() {
    const Damage& d = g_render.damage;
    SDL_Rect rects[DAMAGE_RECTS];
    for (int i = 0; i < d.count; ++i) rects[i] = {d.rects[i].x, d.rects[i].y, d.rects[i].w, d.rects[i].h};
    if (d.count > 0) show(rects, d.count, false);
}

// Gives `bytes` from `pixels` their pages. One madvise does it for all of
// them, several times faster than faulting them one by one on the first
// writes (each fault an exit to the hypervisor on a virtual machine; figures
// in docs/performance.md); where the kernel cannot, they are written.
void prefault(void* pixels, size_t bytes) {
#ifdef MADV_POPULATE_WRITE
    const uintptr_t page = uintptr_t(sysconf(_SC_PAGESIZE));
    const uintptr_t begin = uintptr_t(pixels) & ~(page - 1);
    if (madvise(reinterpret_cast<void*>(begin), uintptr_t(pixels) + bytes - begin, MADV_POPULATE_WRITE) == 0) return;
#endif
    std::memset(pixels, 0, bytes);
}

}  // namespace

void prefault_window_image(SDL_Window* window) {
    if (SDL_Surface* surface = SDL_GetWindowSurface(window)) {
        if (SDL_MUSTLOCK(surface) == 0) prefault(surface->pixels, size_t(surface->h) * size_t(surface->pitch));
    }
}

// Uploads what was drawn since the last present; the whole buffer only when
// the window lost its contents. A whole upload costs milliseconds of CPU.
void platform_present(void*, bool frame_changed) {
    if (g_sdl.repaint)
        present_now();
    else if (frame_changed)
        present_damage();
}
