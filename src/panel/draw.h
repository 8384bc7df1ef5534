// How one key paints itself into the frame buffer from its row and flag.
#pragma once
#include "panel/key_table.h"

struct RenderContext;

void draw_key(RenderContext& rc, const PanelKey& key, int pressed);
