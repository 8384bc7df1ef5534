// Preloaded into the program by the e2e cases (LD_PRELOAD), in front of SDL:
// a partial window upload made while the file named by
// ZORVE_E2E_FAIL_UPLOAD exists fails, as one the display refused would, and
// removes the file, so each file made is one failure. No SDL library is
// needed to load it: tools that share the case's environment load it too.
#include <dlfcn.h>
#include <unistd.h>

#include <cstdlib>

struct SDL_Window;
struct SDL_Rect;

extern "C" int SDL_UpdateWindowSurfaceRects(SDL_Window* window, const SDL_Rect* rects, int count) {
    using Upload = int (*)(SDL_Window*, const SDL_Rect*, int);
    static const auto upload = reinterpret_cast<Upload>(dlsym(RTLD_NEXT, "SDL_UpdateWindowSurfaceRects"));
    const char* flag = std::getenv("ZORVE_E2E_FAIL_UPLOAD");
    if (flag && unlink(flag) == 0) return -1;
    return upload(window, rects, count);
}
