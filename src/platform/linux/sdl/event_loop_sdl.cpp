// The event loop, SDL layer: the wait for input, the 2 ms window timer run
// inside the loop, and the 1 ms clock on its own thread, both parked while
// the shell wants no tick.
#include <SDL.h>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <thread>

#include "app/app_state.h"
#include "app/platform.h"
#include "app/shell.h"
#include "platform/linux/sdl/clock_linux.h"
#include "platform/linux/sdl/window_sdl.h"

namespace {

uint64_t monotonic_ns() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return uint64_t(ts.tv_sec) * 1000000000u + uint64_t(ts.tv_nsec);
}

void run_clock_thread() {
    pthread_setname_np(pthread_self(), "zorve-clock");  // for top and /proc
    run_clock(g_sdl.clock_gate, clock_callback);
}

enum Waited { WAITED_TIMEOUT, WAITED_EVENT, WAITED_WAKEUP };

// Waits for the next event, at most `wait_ms` (-1: no limit). On X11 the
// unlimited wait is a poll on the connection between two pumps; SDL's own
// asks the connection dry four times around its wait, each time a few system
// calls, and this wait comes twice a click. A pump leaves Xlib's queue empty
// and its requests sent, so the poll misses nothing; a signal ends the poll,
// and the next pump turns it into SDL_QUIT.
Waited wait_event(SDL_Event* e, int wait_ms) {
    if (wait_ms >= 0 || g_sdl.x11_fd < 0) {
        if (SDL_WaitEventTimeout(e, wait_ms) == 0) return WAITED_TIMEOUT;
        return g_sdl.wake_event != 0 && e->type == g_sdl.wake_event ? WAITED_WAKEUP : WAITED_EVENT;
    }
    for (;;) {
        SDL_PumpEvents();
        if (SDL_PeepEvents(e, 1, SDL_GETEVENT, SDL_FIRSTEVENT, SDL_LASTEVENT) > 0) return WAITED_EVENT;
        pollfd fds[2] = {{g_sdl.x11_fd, POLLIN, 0}, {g_sdl.wake_fd, POLLIN, 0}};
        poll(fds, g_sdl.wake_fd >= 0 ? 2 : 1, -1);
        if (fds[1].revents & POLLIN) return WAITED_WAKEUP;
    }
}

// The flag, not the eventfd, says a wake-up waits: the loop looks at it once
// a turn, without a system call, so wake-ups are taken while ticks run too.
void take_wakeup() {
    if (!g_sdl.wake_pending.load(std::memory_order_relaxed)) return;
    g_sdl.wake_pending.store(false, std::memory_order_seq_cst);
    if (g_sdl.on_wake) g_sdl.on_wake();
}

// The eventfd only ends the unlimited wait; its count is dropped.
void clear_wake_fd() {
    uint64_t count = 0;
    while (g_sdl.wake_fd >= 0 && read(g_sdl.wake_fd, &count, sizeof count) < 0 && errno == EINTR) {
    }
}

// Ticks are wanted while the shell has work for them or the window still
// needs repainting. Otherwise the loop waits for input with no timeout and
// the clock thread is parked: the ticks left out would have found nothing
// to do.
bool ticks_wanted() { return g_sdl.timer_on && (tick_wanted() || g_sdl.repaint); }

}  // namespace

// The window timer is due every period while ticks are wanted; missed periods
// collapse into one call, as a Windows timer message does. Input that wants a
// tick after idle first has the clock catch up (by the time it slept, or by
// nothing after more than 100 ms, as after any stall), then fires the timer
// at once; only when that tick leaves something to do do the clock and the
// timer keep running. Between deadlines, and with no timeout while idle, the
// loop sleeps in wait_event.
int platform_message_loop() {
    bool running = true;  // the timer's first deadline was set when it started
    while (!g_sdl.quit) {
        take_wakeup();
        const bool wanted = ticks_wanted();
        if (wanted && !running && g_sdl.clock_thread.joinable()) {
            catch_up_clock(g_sdl.clock_gate, clock_callback);
            g_sdl.timer_due_ns = monotonic_ns();
        } else {
            set_clock_running(g_sdl.clock_gate, wanted);
        }
        running = wanted;
        const uint64_t now = monotonic_ns();
        int wait_ms = -1;
        if (running) {
            if (now >= g_sdl.timer_due_ns) {
                g_sdl.timer_due_ns += g_sdl.timer_period_ns;
                if (g_sdl.timer_due_ns <= now) g_sdl.timer_due_ns = now + g_sdl.timer_period_ns;
                shell_timer();
                if (g_sdl.repaint) present_now();
                // Input first, whatever the next deadline. A tick that left
                // nothing to do goes back to the top, which parks the clock:
                // the wait for input then asks the X connection once, not
                // twice.
                if (!ticks_wanted()) continue;
                wait_ms = 0;
            } else {
                wait_ms = int((g_sdl.timer_due_ns - now + 999999) / 1000000);
            }
        }
        // The wait reads the X connection once; what it queued is taken
        // without asking the connection again for each event (a system call
        // or more each, costly on a virtual machine).
        SDL_Event e;
        const Waited waited = wait_event(&e, wait_ms);
        if (waited == WAITED_WAKEUP) clear_wake_fd();
        if (waited == WAITED_EVENT) {
            translate_event(e);
            apply_capture();
            while (!g_sdl.quit && SDL_PeepEvents(&e, 1, SDL_GETEVENT, SDL_FIRSTEVENT, SDL_LASTEVENT) > 0) {
                translate_event(e);
                apply_capture();
            }
        }
    }
    return g_sdl.quit_code;
}

void start_wakeups() {
    if (g_sdl.wake_fd < 0) g_sdl.wake_fd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (g_sdl.wake_event == 0 && SDL_WasInit(SDL_INIT_EVENTS)) {
        const Uint32 type = SDL_RegisterEvents(1);
        if (type != Uint32(-1)) g_sdl.wake_event = type;
    }
}

void wake_window_thread() {
    if (g_sdl.wake_pending.exchange(true, std::memory_order_seq_cst)) return;  // one waits already
    const uint64_t one = 1;
    if (g_sdl.wake_fd >= 0 && write(g_sdl.wake_fd, &one, sizeof one) < 0) return;
    if (g_sdl.x11_fd < 0 && g_sdl.wake_event != 0) {
        SDL_Event e{};
        e.type = g_sdl.wake_event;
        SDL_PushEvent(&e);
    }
}

void platform_post_quit(int code) {
    g_sdl.quit = true;
    g_sdl.quit_code = code;
}

uint32_t platform_time_ms() { return uint32_t(monotonic_ns() / 1000000); }

void platform_start_window_timer(void*, int interval_ms) {
    g_sdl.timer_period_ns = uint64_t(std::max(interval_ms, 1)) * 1000000;
    g_sdl.timer_due_ns = monotonic_ns() + g_sdl.timer_period_ns;
    g_sdl.timer_on = true;
}

void platform_stop_window_timer(void*) { g_sdl.timer_on = false; }

// The clock starts running: the first redraw is due; the loop parks it
// once nothing is. No timer resolution to raise: clock_nanosleep already
// sleeps to the microsecond.
void platform_start_clock() {
    if (g_sdl.clock_thread.joinable()) return;
    g_sdl.clock_gate.stop.store(false);
    set_clock_running(g_sdl.clock_gate, true);
    try {
        g_sdl.clock_thread = std::thread(run_clock_thread);
    } catch (...) {
        // No thread, no clock: the tick never runs, as with a failed timer.
    }
}

void platform_stop_clock() {
    if (!g_sdl.clock_thread.joinable()) return;
    stop_clock_thread(g_sdl.clock_gate);
    g_sdl.clock_thread.join();
}
