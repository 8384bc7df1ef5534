// Frame buffer contract over plain memory, for every text backend that draws
// into caller-owned pixels (FreeType, and the recording double in tests).
// The window is not needed: showing the pixels is the window layer's job.
#include <cstddef>
#include <new>

#include "render/frame_buffer.h"
#include "render/render_context.h"
#include "render/text_backend.h"

bool create_frame_buffer(RenderContext& rc, void* /*window*/) {
    auto* pixels = new (std::nothrow) uint32_t[std::size_t(FB_WIDTH) * FB_HEIGHT]();
    if (!pixels) return false;
    void* surface = text_create_surface(pixels);
    if (!surface) {
        delete[] pixels;
        return false;
    }
    rc.pixels = pixels;
    rc.surface = surface;
    return true;
}

void destroy_frame_buffer(RenderContext& rc) {
    if (rc.surface) text_delete_surface(rc.surface);
    rc.surface = nullptr;
    delete[] rc.pixels;
    rc.pixels = nullptr;
}
