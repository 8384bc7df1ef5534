// Frame buffer contract (render/frame_buffer.h) on GDI: a top-down 32-bit DIB
// section selected into a memory DC, so GDI text and the core's primitives
// share one image. The pixels live as long as the bitmap; window thread only.
#include <windows.h>

#include "render/frame_buffer.h"
#include "render/render_context.h"

bool create_frame_buffer(RenderContext& rc, void* window) {
    HWND hwnd = static_cast<HWND>(window);
    HDC reference = GetDC(hwnd);

    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);  // 40
    info.bmiHeader.biWidth = FB_WIDTH;
    info.bmiHeader.biHeight = -FB_HEIGHT;  // negative: row 0 is the top row
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;  // bytes B, G, R, 0: pixel 0x00RRGGBB

    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(reference, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HDC surface = CreateCompatibleDC(reference);
    if (reference) ReleaseDC(hwnd, reference);

    if (!bitmap || !bits || !surface || !SelectObject(surface, bitmap)) {
        if (surface) DeleteDC(surface);
        if (bitmap) DeleteObject(bitmap);
        return false;
    }
    SetBkMode(surface, TRANSPARENT);
    rc.surface = surface;
    rc.pixels = static_cast<uint32_t*>(bits);
    return true;
}

// The bitmap is found through the surface it is selected into; the surface
// goes first, so the bitmap is no longer selected when it is deleted.
void destroy_frame_buffer(RenderContext& rc) {
    HDC surface = static_cast<HDC>(rc.surface);
    HGDIOBJ bitmap = surface ? GetCurrentObject(surface, OBJ_BITMAP) : nullptr;
    if (surface) DeleteDC(surface);
    if (bitmap) DeleteObject(bitmap);
    rc.surface = nullptr;
    rc.pixels = nullptr;
}
