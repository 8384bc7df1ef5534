// Recording doubles of the window and MIDI contracts, and the shared log.
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <new>

#include "app/app_state.h"
#include "app/platform.h"
#include "app/shell.h"
#include "call_log.h"
#include "fakes.h"
#include "midi/device_table.h"
#include "midi/midi_ports.h"
#include "panel/panel.h"
#include "render/frame_buffer.h"
#include "render/render_context.h"
#include "render/text_backend.h"

namespace fake {

std::vector<std::string>& log() {
    static std::vector<std::string> calls;
    return calls;
}

World& world() {
    static World w;
    return w;
}

std::vector<uint32_t> sent_to(int device) {
    std::vector<uint32_t> out;
    for (const Sent& s : world().sent)
        if (s.device == device) out.push_back(s.message);
    return out;
}

void reset() {
    if (g_render.pixels) destroy_frame_buffer(g_render);
    g_render = RenderContext{};
    g_panel = Panel{};
    g_app.~AppState();
    new (&g_app) AppState();
    log().clear();
    world() = World{};
}

void record(const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    append_call(fake::log(), fmt, ap);
    va_end(ap);
}

}  // namespace fake

namespace {

using fake::record;

void* handle_of(int device) { return reinterpret_cast<void*>(intptr_t(device) + 1); }
int device_of(void* h) { return int(reinterpret_cast<intptr_t>(h)) - 1; }

void copy_name(const std::string& from, char (&name)[MIDI_NAME_FIELD]) {
    std::snprintf(name, MIDI_NAME_FIELD, "%s", from.c_str());
}

}  // namespace

// Window contract
uint32_t platform_time_ms() { return fake::world().time_ms; }
void platform_present(void*, bool changed) { record("present %d", changed ? 1 : 0); }
void platform_capture_mouse(void*) { record("capture"); }
void platform_release_capture() { record("release_capture"); }
void platform_start_window_timer(void*, int ms) { record("start_window_timer %d", ms); }
void platform_stop_window_timer(void*) { record("stop_window_timer"); }
void platform_start_clock() { record("start_clock"); }
void platform_stop_clock() { record("stop_clock"); }
void platform_post_quit(int code) { record("post_quit %d", code); }
bool platform_other_instance_running() {
    record("instance_check");
    return fake::world().other_instance;
}
void platform_release_instance_probe() { record("release_instance_probe"); }
void platform_message_box(const char* caption, const char* text) { record("message_box %s|%s", caption, text); }
void platform_screen_size(int* w, int* h) {
    record("screen_size");
    *w = fake::world().screen_w;
    *h = fake::world().screen_h;
}
void* platform_create_window(int w, int h, bool* refused) {
    record("create_window %d %d", w, h);
    *refused = fake::world().window_refused;
    if (*refused || !fake::world().window_ok) return nullptr;
    void* window = reinterpret_cast<void*>(intptr_t(0x1000));
    return shell_create(window) ? window : nullptr;
}
void platform_show_window(void*) { record("show_window"); }
int platform_message_loop() {
    record("message_loop");
    shell_destroy();  // the window closes at once
    return 0;
}

// MIDI contract
void midi_choose_system(MidiSystem system, MidiUse) { record("midi_choose_system %d", int(system)); }
int midi_in_count() { return int(fake::world().inputs.size()); }
void midi_in_name(int d, char (&name)[MIDI_NAME_FIELD]) { copy_name(fake::world().inputs[d].name, name); }
MidiHandle midi_in_open(int d) {
    record("midi_in_open %d", d);
    return fake::world().inputs[d].opens ? handle_of(d) : nullptr;
}
bool midi_in_start(MidiHandle in) {
    record("midi_in_start %d", device_of(in));
    return fake::world().inputs[device_of(in)].starts;
}
int midi_out_count() { return int(fake::world().outputs.size()); }
void midi_out_name(int d, char (&name)[MIDI_NAME_FIELD]) { copy_name(fake::world().outputs[d].name, name); }
MidiHandle midi_out_open(int d) {
    record("midi_out_open %d", d);
    return fake::world().outputs[d].opens ? handle_of(d) : nullptr;
}
void midi_out_send(MidiHandle out, uint32_t message) {
    if (out) fake::world().sent.push_back({device_of(out), message});
}
void midi_panel_send(uint32_t message) { fake::world().panel.push_back(message); }
