// Queries of the FreeType text backend (text_freetype.cpp) beyond the text
// contract, for its tests and the developer tools. Window thread only.
#pragma once

// The Windows-style metrics of a font handle, in pixels: cell height
// (ascent + descent), ascent (the baseline lies this far below the cell's
// top) and average character width. False, with nothing written, for a null
// handle or a font whose face was not found.
bool text_font_metrics(void* font, int* cell_height, int* ascent, int* avg_char_width);

// Advance width in pixels of a zero-terminated byte string drawn in `font`
// (what text_out moves the pen by); 0 for a null or missing font.
int text_measure(void* font, const char* text);

// Starts loading fontconfig's configuration and caches, the slow part of the
// first font lookup, on a thread of its own, so that it overlaps the window
// system's start-up; the first lookup waits for it. Optional, once, before
// any font is made.
void text_begin_font_lookup();
// Waits for that load to end, for an exit that makes no font: the loading
// thread must not be inside fontconfig while the process ends.
void text_end_font_lookup();
