// The X connection under an SDL window, for the event loop's own wait. Kept
// apart from main_sdl.cpp: SDL_syswm.h brings in Xlib, whose KeyCode clashes
// with the shell's.
#include <SDL_syswm.h>

#include "app/window_sdl.h"

int x11_connection_fd(SDL_Window* window) {
#if defined(SDL_VIDEO_DRIVER_X11)
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    if (SDL_GetWindowWMInfo(window, &info) && info.subsystem == SDL_SYSWM_X11)
        return ConnectionNumber(info.info.x11.display);
#else
    (void)window;
#endif
    return -1;
}
