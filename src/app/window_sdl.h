// What the SDL layer's files share: the window icon, the X connection, and
// the message box that stands in where SDL's own cannot appear. SDL layer
// only.
#pragma once
#include <SDL.h>

// Gives `window` the program's icon; leaves it as it is when that fails.
void set_program_icon(SDL_Window* window);

// The file descriptor of the X connection `window` lives on; -1 when SDL
// does not run on X11. Apart because Xlib's names clash with the shell's.
int x11_connection_fd(SDL_Window* window);

// A modal box with `text` and an OK button, drawn with the program's own text
// backend (SDL's X11 box needs core X fonts, which Xvfb and many Wayland
// desktops lack). Returns when OK is clicked, Enter, Space or Escape is
// pressed, or the box is closed; false when it could not be shown at all.
bool run_own_box(const char* caption, const char* text);
