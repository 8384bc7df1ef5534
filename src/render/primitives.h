// Fill primitives. They read only rc.pixels, never call the platform, and
// never write outside the frame buffer: arguments out of range are dropped or
// clipped by fixed rules.
#pragma once
#include "render/palette.h"

struct RenderContext;

constexpr int BEVEL_MIN = 5;
constexpr int BEVEL_FRAME = 250;  // outer frame of every bevel box, whatever its colour arguments

void fill_rect(RenderContext& rc, int x, int y, int width, int height, ColorIndex color);
void hline_band(RenderContext& rc, int x, int y, int length, int thickness, ColorIndex color);
void vline_band(RenderContext& rc, int x, int y, int length, int thickness, ColorIndex color);
void bevel_box(RenderContext& rc, int pressed, int x, int y, int width, int height, ColorIndex face, ColorIndex light,
               ColorIndex dark);
