// Redraw and click costs, each next to a baseline measured in the same run:
// a full EV_REDRAW (real FreeType text from cached glyphs) against one plain
// fill of the frame buffer, the redraw a click causes (one key) against the
// full one, and a press or release through dispatch to the MIDI double
// against an event that no receiver acts on. Heap allocations on these paths
// are counted.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <new>

#include "fakes.h"
#include "panel/panel.h"
#include "render/frame_buffer.h"
#include "render/render_context.h"

namespace {

std::atomic<long> g_allocations{0};

void set_up_panel() {
    static bool ready = false;
    if (ready) return;
    ready = true;
    fake::reset();
    for (const char* name : {"Midi Through Port-0", "Synth A", "Sampler B", "Drum C"})
        fake::world().outputs.push_back({name});
    create_fonts(g_render);
    if (!create_frame_buffer(g_render, nullptr)) std::abort();
    static DeviceTable devices;
    open_devices(devices);
    g_panel.devices = &devices;
    for (int16_t& e : g_panel.port_enable) e = 1;
    fake::world().sent.reserve(1 << 16);
    dispatch(EV_REDRAW, 0);  // fills the glyph caches
}

double seconds(std::chrono::steady_clock::duration d) { return std::chrono::duration<double>(d).count(); }

void BM_PlainFill(benchmark::State& state) {
    set_up_panel();
    uint32_t value = 0;
    for (auto _ : state) {
        std::fill_n(g_render.pixels, FB_WIDTH * FB_HEIGHT, value++);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_PlainFill);

void BM_FullRedraw(benchmark::State& state) {
    set_up_panel();
    g_panel.pressed[15] = 1;  // one key drawn pressed, as after a click
    const long before = g_allocations.load();
    for (auto _ : state) {
        forget_panel_drawing();  // as at start-up: the whole panel
        dispatch(EV_REDRAW, 0);
        benchmark::ClobberMemory();
    }
    state.counters["allocs_per_redraw"] = double(g_allocations.load() - before) / double(state.iterations());
}
BENCHMARK(BM_FullRedraw);

// What a tick after a press or a release draws: the one key whose look
// changed, its label's overhang included.
void BM_KeyRedraw(benchmark::State& state) {
    set_up_panel();
    const long before = g_allocations.load();
    for (auto _ : state) {
        g_panel.pressed[15] = int16_t(1 - g_panel.pressed[15]);
        dispatch(EV_REDRAW, 0);
        benchmark::ClobberMemory();
    }
    state.counters["allocs_per_redraw"] = double(g_allocations.load() - before) / double(state.iterations());
}
BENCHMARK(BM_KeyRedraw);

// Both in one loop, so drift of a shared machine hits them alike.
void BM_RedrawOverFill(benchmark::State& state) {
    set_up_panel();
    double redraw = 0, fill = 0;
    uint32_t value = 0;
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        std::fill_n(g_render.pixels, FB_WIDTH * FB_HEIGHT, value++);
        benchmark::ClobberMemory();
        const auto t1 = std::chrono::steady_clock::now();
        forget_panel_drawing();  // the fill wiped it
        dispatch(EV_REDRAW, 0);
        benchmark::ClobberMemory();
        const auto t2 = std::chrono::steady_clock::now();
        fill += seconds(t1 - t0);
        redraw += seconds(t2 - t1);
    }
    state.counters["fill_us"] = 1e6 * fill / double(state.iterations());
    state.counters["redraw_us"] = 1e6 * redraw / double(state.iterations());
    state.counters["ratio"] = redraw / fill;
}
BENCHMARK(BM_RedrawOverFill);

void BM_PressRelease(benchmark::State& state) {
    set_up_panel();
    g_panel.pointer = {725, 400};  // "PLAY"
    const long before = g_allocations.load();
    for (auto _ : state) {
        dispatch(EV_LEFT_DOWN, 0);
        dispatch(EV_LEFT_UP, 0);
        if (fake::world().sent.size() > 60000) fake::world().sent.clear();  // keeps its capacity
    }
    state.SetItemsProcessed(2 * state.iterations());
    state.counters["allocs_per_event"] = double(g_allocations.load() - before) / double(2 * state.iterations());
}
BENCHMARK(BM_PressRelease);

void BM_EventNoReceiverActsOn(benchmark::State& state) {
    set_up_panel();
    for (auto _ : state) dispatch(EV_TICK, 0);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_EventNoReceiverActsOn);

}  // namespace

void* operator new(std::size_t n) {
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(n ? n : 1)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

BENCHMARK_MAIN();
