// Fill primitives. They read only rc.pixels, never call the platform, and
// never write outside the frame buffer: arguments out of range are dropped or
// clipped by fixed rules. The colour is a ColorIndex of which only the low 8
// bits count (-9 is 247).
#pragma once

struct RenderContext;

constexpr int BEVEL_MIN = 5;
constexpr int BEVEL_FRAME = 250;  // outer frame of every bevel box, whatever its colour arguments

void fill_rect(RenderContext& rc, int x, int y, int width, int height, int color);
void hline_band(RenderContext& rc, int x, int y, int length, int thickness, int color);
void vline_band(RenderContext& rc, int x, int y, int length, int thickness, int color);
void bevel_box(RenderContext& rc, int pressed, int x, int y, int width, int height, int face, int light, int dark);
