// The X connection under an SDL window, for the event loop's own wait, and
// the X resources SDL read when it connected, for --scale auto, and the
// keyboard grabs SDL passes over, for --keys. Kept apart
// from main_sdl.cpp: SDL_syswm.h brings in Xlib, whose KeyCode clashes with
// the shell's. The program links no Xlib of its own (SDL loads it), so only
// the display structure's public fields are read, as Xlib's own macros do.
#include <SDL_syswm.h>

#include <cstdlib>
#include <cstring>

#include "platform/linux/sdl/window_sdl.h"

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

namespace {

// The value of "Xft.dpi:" in a resource database text: one "name:\tvalue"
// per line.
int xft_dpi(const char* resources) {
    for (const char* line = resources; line && *line;) {
        if (std::strncmp(line, "Xft.dpi:", 8) == 0) return int(std::strtod(line + 8, nullptr) + 0.5);
        line = std::strchr(line, '\n');
        if (line) ++line;
    }
    return 0;
}

}  // namespace

int x11_resource_dpi(SDL_Window* window) {
#if defined(SDL_VIDEO_DRIVER_X11)
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    if (SDL_GetWindowWMInfo(window, &info) && info.subsystem == SDL_SYSWM_X11)
        return xft_dpi(reinterpret_cast<_XPrivDisplay>(info.info.x11.display)->xdefaults);
#else
    (void)window;
#endif
    return 0;
}

bool x11_keyboard_grabbed_away(const SDL_SysWMmsg& msg) {
#if defined(SDL_VIDEO_DRIVER_X11)
    if (msg.subsystem != SDL_SYSWM_X11) return false;
    const XEvent& event = msg.msg.x11.event;
    return event.type == FocusOut && event.xfocus.mode == NotifyGrab;
#else
    (void)msg;
    return false;
#endif
}
