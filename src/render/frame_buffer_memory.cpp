// Frame buffer contract over plain memory, for every text backend that draws
// into caller-owned pixels (FreeType, and the recording double in tests).
// The window is not needed: showing the pixels is the window layer's job.
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <new>

#if defined(__linux__)
#include <sys/mman.h>
#endif

#include "render/frame_buffer.h"
#include "render/render_context.h"
#include "render/text_backend.h"

namespace {

constexpr std::size_t BYTES = std::size_t(FB_WIDTH) * FB_HEIGHT * sizeof(uint32_t);

#if defined(__linux__)
// The buffer fits one 2 MiB page. Backed by 4 KiB pages its first writes
// cost 489 page faults (~7 ms at start on a virtual machine, where each
// fault is an exit to the hypervisor); one huge page costs one.
constexpr std::size_t HUGE_PAGE = std::size_t(2) << 20;
static_assert(BYTES <= HUGE_PAGE);

uint32_t* allocate_pixels() {
    void* block = std::aligned_alloc(HUGE_PAGE, HUGE_PAGE);
    if (!block) return nullptr;
    madvise(block, HUGE_PAGE, MADV_HUGEPAGE);  // a hint: without it, plain pages
    std::memset(block, 0, BYTES);
    return static_cast<uint32_t*>(block);
}

void free_pixels(uint32_t* pixels) { std::free(pixels); }
#else
uint32_t* allocate_pixels() { return new (std::nothrow) uint32_t[BYTES / sizeof(uint32_t)](); }

void free_pixels(uint32_t* pixels) { delete[] pixels; }
#endif

}  // namespace

bool create_frame_buffer(RenderContext& rc, void* /*window*/) {
    uint32_t* pixels = allocate_pixels();
    if (!pixels) return false;
    void* surface = text_create_surface(pixels);
    if (!surface) {
        free_pixels(pixels);
        return false;
    }
    rc.pixels = pixels;
    rc.surface = surface;
    return true;
}

void destroy_frame_buffer(RenderContext& rc) {
    if (rc.surface) text_delete_surface(rc.surface);
    rc.surface = nullptr;
    free_pixels(rc.pixels);
    rc.pixels = nullptr;
}
