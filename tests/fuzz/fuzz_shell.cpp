// Drives arbitrary sequences of window input through the shell and the panel
// with the recording MIDI double, and checks after every step that at most one
// key is pressed and that every message sent belongs to the panel's
// vocabulary; at the end, a release and a move must leave no note sounding.
// Prints the number of events it drove when the process ends.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <new>
#include <utility>

#include "app/app_state.h"
#include "app/shell.h"
#include "fakes.h"
#include "panel/panel.h"
#include "render/render_context.h"

namespace {

struct Reader {
    const uint8_t* p;
    size_t n;
    uint8_t byte() { return n ? (--n, *p++) : 0; }
    uint16_t u16() { return uint16_t(byte() | byte() << 8); }
    uint32_t u32() { return uint32_t(u16()) | uint32_t(u16()) << 16; }
};

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
}

bool known_message(uint32_t m) {
    const int status = m & 0xFF, number = (m >> 8) & 0xFF, value = (m >> 16) & 0xFF;
    if (m >> 24 || (value != 0 && value != 127)) return false;
    if (status == STATUS_NOTE_ON && (number == 114 || number == 115)) return true;
    for (const PanelKey& k : KeyTable)
        if (k.status == status && k.number == number) return true;
    return false;
}

void* const WINDOW = reinterpret_cast<void*>(intptr_t(0x1000));

size_t g_events = 0;  // events driven through the shell, all inputs

// Start-up runs once per process: a fresh 2 MB frame buffer and its start-up
// fill for every input cost more than all of an input's events. Each input
// then begins from the state start-up left; the pixels are never read.
void begin_input() {
    static const struct Started {
        Panel panel;
        DeviceTable devices;
        RenderContext render;
        fake::World world;
    } started = [] {
        fake::reset();
        for (int d = 0; d < 4; ++d) fake::world().outputs.push_back({"out"});
        create_fonts(g_render);
        if (!shell_create(WINDOW)) fail("start-up");
        std::atexit([] { std::fprintf(stderr, "fuzz_shell: %zu events driven\n", g_events); });
        return Started{g_panel, g_app.devices, g_render, fake::world()};
    }();
    // What shell_create leaves in the application state.
    g_app.~AppState();
    new (&g_app) AppState();
    g_app.window = WINDOW;
    g_app.devices = started.devices;
    g_app.redraw_flags = REDRAW_FULL;
    g_panel = started.panel;
    g_render = started.render;
    fake::world() = started.world;
    fake::log().clear();
}

void check_step(size_t& checked) {
    int pressed = 0;
    for (int16_t p : g_panel.pressed) {
        if (p != 0 && p != 1) fail("pressed flag outside 0/1");
        pressed += p;
    }
    if (pressed > 1) fail("more than one key pressed");
    const auto& sent = fake::world().sent;
    for (; checked < sent.size(); ++checked) {
        if (sent[checked].device < 1 || sent[checked].device > 3) fail("sent to a device without a port");
        if (!known_message(sent[checked].message)) fail("message outside the panel's vocabulary");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    begin_input();
    Reader in{data, size};
    size_t checked = 0;
    while (in.n) {
        switch (in.byte() % 14) {
            case 0: shell_mouse_move(in.u32()); break;
            case 1: shell_left_down(in.u32()); break;
            case 2: shell_left_up(); break;
            case 3: shell_right_down(in.u32()); break;
            case 4: shell_right_up(); break;
            case 5: shell_middle_down(); break;
            case 6: shell_middle_up(); break;
            case 7: shell_wheel(int32_t(in.u32())); break;
            case 8: shell_key_down(KeyCode(in.byte())); break;
            case 9:
                fake::world().time_ms += in.byte();
                clock_callback();
                shell_timer();
                break;
            case 10: shell_capture_lost(); break;
            case 11: {
                const int event = int8_t(in.byte());
                post_event(event, int32_t(in.u32()));
                break;
            }
            case 12: shell_set_cursor(); break;
            case 13: shell_mouse_move(pack_pointer(int32_t(in.u32()), int32_t(in.u32()))); break;
        }
        ++g_events;
        check_step(checked);
    }
    // The user lets go and moves away: nothing may keep sounding.
    g_events += g_app.left_held ? 3 : 2;
    if (g_app.left_held) shell_left_up();
    shell_mouse_move(pack_pointer(5, 540));
    post_event(EV_LEFT_UP, 0);
    check_step(checked);
    for (int16_t p : g_panel.pressed)
        if (p) fail("a key stayed pressed");
    std::map<std::pair<int, uint32_t>, int> last;  // (device, status|number) -> last value
    for (const fake::Sent& s : fake::world().sent) last[{s.device, s.message & 0xFFFF}] = int(s.message >> 16);
    for (const auto& [key, value] : last)
        if (value != 0) fail("a value 127 was never followed by its 0");
    // Free what the input logged within the input: libFuzzer runs an input
    // that ends with more allocations than frees a second time.
    fake::log().clear();
    return 0;
}
