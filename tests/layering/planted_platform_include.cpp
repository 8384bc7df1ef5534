// Checked as if it stood in src/panel/: the portability check must reject it.
#include <SDL.h>
