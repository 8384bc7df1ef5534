// How one key paints itself into the frame buffer from its row and flag.
#pragma once
#include "panel/key_table.h"

struct RenderContext;

// Returns the key's ink: its frame and every pixel its label may have
// touched (a label can reach past the frame). Records it as damage.
Rect draw_key(RenderContext& rc, const PanelKey& key, int pressed);
// Draws a key again over its earlier drawing, whose ink was `ink`: the
// background goes back there first, so the pixels come out as a whole
// redraw would leave them. Returns the new ink.
Rect redraw_key(RenderContext& rc, const PanelKey& key, int pressed, const Rect& ink);
