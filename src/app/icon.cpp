#include "app/icon.h"

void make_program_icon(uint32_t (&pixels)[ICON_SIZE * ICON_SIZE]) {
    for (int y = 0; y < ICON_SIZE; ++y) {
        for (int x = 0; x < ICON_SIZE; ++x) {
            const int cx = x - 2, cy = y - 2;
            const bool in_square = cx >= 0 && cy >= 0 && cx < 4 * 7 && cy < 4 * 7 && cx % 7 < 6 && cy % 7 < 6;
            pixels[y * ICON_SIZE + x] = in_square ? ICON_SQUARE : ICON_BACKGROUND;
        }
    }
}
