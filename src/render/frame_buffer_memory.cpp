// Frame buffer contract over plain memory, for every text backend that draws
// into caller-owned pixels (FreeType, and the recording double in tests).
// The window is not needed: showing the pixels is the window layer's job.
#include <cstddef>
#include <cstdlib>

#include "render/frame_buffer.h"
#include "render/render_context.h"
#include "render/text_backend.h"

bool create_frame_buffer(RenderContext& rc, void* /*window*/) {
    // calloc, not a cleared new[]: memory this large comes fresh from the
    // system, already zero, so nothing is written (or faulted in) before the
    // first draw.
    auto* pixels = static_cast<uint32_t*>(std::calloc(std::size_t(FB_WIDTH) * FB_HEIGHT, sizeof(uint32_t)));
    if (!pixels) return false;
    void* surface = text_create_surface(pixels);
    if (!surface) {
        std::free(pixels);
        return false;
    }
    rc.pixels = pixels;
    rc.surface = surface;
    return true;
}

void destroy_frame_buffer(RenderContext& rc) {
    if (rc.surface) text_delete_surface(rc.surface);
    rc.surface = nullptr;
    std::free(rc.pixels);
    rc.pixels = nullptr;
}
