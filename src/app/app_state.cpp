#include "app/app_state.h"

#include "app/platform.h"
#include "panel/panel.h"
#include "render/render_context.h"

AppState g_app;

void mark_dirty(uint32_t bits) { g_app.redraw_flags |= bits; }

void clock_callback() {
    const uint32_t now = platform_time_ms();
    const uint32_t delta = now - g_app.clock_last_time;  // unsigned: safe across the wrap
    if (delta == 0) return;
    g_app.clock_last_time = now;
    // A longer gap (the first call, a stalled machine) is skipped, so the
    // clock never jumps. Calls never overlap, and this is the clock's only
    // writer.
    if (delta <= 100)
        g_app.clock_ms.store(g_app.clock_ms.load(std::memory_order_relaxed) + delta, std::memory_order_relaxed);
}

void on_tick() {
    const uint32_t clock = g_app.clock_ms.load(std::memory_order_relaxed);
    if (int32_t(clock - uint32_t(g_app.last_tick)) < 10) return;
    g_app.last_tick = int32_t(clock);
    post_event(EV_TICK, 0);
    const uint32_t flags = g_app.redraw_flags | REDRAW_PRESENT;
    g_app.redraw_flags = flags;
    const bool full = (flags & REDRAW_FULL) != 0;
    post_event(full ? EV_REDRAW : EV_REFRESH, 0);
    platform_present(g_app.window, full);
    clear_damage(g_render);
    g_app.redraw_flags = 0;
}

bool tick_wanted() { return g_app.redraw_flags != 0; }
