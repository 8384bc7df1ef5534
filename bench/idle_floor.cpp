// The idle CPU floor the program's design sets, with none of the program's
// work in it: the same SDL window setup as the Linux program, the program's
// own 1 ms clock schedule with an empty tick, and an event loop that wakes for
// a window timer every 2 ms and otherwise waits in SDL_WaitEventTimeout.
// Neither does any work when it wakes. Ends when its window is closed.
//
// Usage: idle_floor   (needs a display; the window is titled IDLE_FLOOR)
#include <SDL.h>
#include <time.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

#include "app/clock_linux.h"

namespace {

constexpr int WIDTH = 910;  // the program's frame buffer
constexpr int HEIGHT = 550;
constexpr uint64_t TIMER_NS = 2000000;

std::atomic<bool> g_stop;
std::atomic<uint32_t> g_ticks;  // stands for the program's millisecond clock

uint64_t monotonic_ns() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return uint64_t(ts.tv_sec) * 1000000000u + uint64_t(ts.tv_nsec);
}

// The program's clock thread without its callback's arithmetic: one clock
// read and one relaxed store per wake-up.
void clock_thread() {
    run_clock(g_stop, [] {
        timespec now;
        clock_gettime(CLOCK_MONOTONIC, &now);
        g_ticks.store(uint32_t(now.tv_nsec / 1000000), std::memory_order_relaxed);
    });
}

}  // namespace

int main() {
    SDL_SetHint(SDL_HINT_VIDEO_ALLOW_SCREENSAVER, "1");
    SDL_SetHint(SDL_HINT_MOUSE_FOCUS_CLICKTHROUGH, "1");
    if (SDL_Init(SDL_INIT_VIDEO) != 0) {
        std::fprintf(stderr, "idle_floor: no display: %s\n", SDL_GetError());
        return 3;
    }
    const char* driver = SDL_GetCurrentVideoDriver();
    if (driver && std::strcmp(driver, "x11") == 0)
        SDL_SetHintWithPriority(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0", SDL_HINT_DEFAULT);
    SDL_Window* window = SDL_CreateWindow("IDLE_FLOOR", 0, 0, WIDTH, HEIGHT, SDL_WINDOW_HIDDEN | SDL_WINDOW_RESIZABLE);
    if (!window) {
        std::fprintf(stderr, "idle_floor: no window: %s\n", SDL_GetError());
        SDL_Quit();
        return 1;
    }
    // One frame shown once, as the program presents its first panel.
    std::vector<uint32_t> pixels(size_t(WIDTH) * HEIGHT, 0x444444);
    SDL_Surface* frame =
        SDL_CreateRGBSurfaceWithFormatFrom(pixels.data(), WIDTH, HEIGHT, 32, WIDTH * 4, SDL_PIXELFORMAT_RGB888);
    SDL_ShowWindow(window);
    auto present = [&] {
        SDL_Surface* dst = SDL_GetWindowSurface(window);
        if (frame && dst) {
            SDL_BlitSurface(frame, nullptr, dst, nullptr);
            SDL_UpdateWindowSurface(window);
        }
    };
    present();
    std::thread clock(clock_thread);

    uint64_t due = monotonic_ns() + TIMER_NS;
    bool quit = false;
    while (!quit) {
        const uint64_t now = monotonic_ns();
        int wait_ms;
        if (now >= due) {
            due += TIMER_NS;
            if (due <= now) due = now + TIMER_NS;
            wait_ms = 0;
        } else {
            wait_ms = int((due - now + 999999) / 1000000);
        }
        SDL_Event e;
        if (SDL_WaitEventTimeout(&e, wait_ms)) {
            do {
                if (e.type == SDL_QUIT) quit = true;
                if (e.type == SDL_WINDOWEVENT && e.window.event == SDL_WINDOWEVENT_CLOSE) quit = true;
                if (e.type == SDL_WINDOWEVENT && e.window.event == SDL_WINDOWEVENT_EXPOSED) present();
            } while (!quit && SDL_PollEvent(&e));
        }
    }
    g_stop.store(true, std::memory_order_release);
    clock.join();
    SDL_FreeSurface(frame);
    SDL_DestroyWindow(window);
    SDL_Quit();
    return 0;
}
