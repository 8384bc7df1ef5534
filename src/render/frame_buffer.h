// The 910 x 550 frame buffer: 32-bit pixels 0x00RRGGBB (little-endian bytes
// B, G, R, 0), row 0 at the top, stride exactly FB_WIDTH pixels.
#pragma once
#include <cstdint>

constexpr int FB_WIDTH = 910;
constexpr int FB_HEIGHT = 550;

struct RenderContext;

// Platform contract (frame_buffer_gdi.cpp, frame_buffer_memory.cpp): create
// the pixels and the text surface that draws into them, with a transparent
// text background, and record both in the context. False when either could
// not be made; the context is then left without pixels.
bool create_frame_buffer(RenderContext& rc, void* window);
// Deletes the surface first, then the pixels; safe on a context without them.
void destroy_frame_buffer(RenderContext& rc);
