// The window icon, SDL layer: the program's icon pixels on any SDL window,
// the main window's and the message box's.
#include <SDL.h>

#include <cstdint>

#include "app/icon.h"
#include "platform/linux/sdl/window_sdl.h"

void set_program_icon(SDL_Window* window) {
    static uint32_t pixels[ICON_SIZE * ICON_SIZE];
    make_program_icon(pixels);
    SDL_Surface* icon =
        SDL_CreateRGBSurfaceWithFormatFrom(pixels, ICON_SIZE, ICON_SIZE, 32, ICON_SIZE * 4, SDL_PIXELFORMAT_RGB888);
    if (!icon) return;
    SDL_SetWindowIcon(window, icon);
    SDL_FreeSurface(icon);
}
