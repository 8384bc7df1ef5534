// The program icon, one 32 x 32 opaque image: pale yellow with a 4 x 4 grid
// of 6 x 6 teal squares, the first at (2, 2), 7 px apart. Both platform
// layers build their icon resource from these pixels.
#pragma once
#include <cstdint>

constexpr int ICON_SIZE = 32;
constexpr uint32_t ICON_BACKGROUND = 0xFFFF80;
constexpr uint32_t ICON_SQUARE = 0x408080;

// Fills 32 x 32 pixels 0x00RRGGBB, row 0 at the top.
void make_program_icon(uint32_t (&pixels)[ICON_SIZE * ICON_SIZE]);
