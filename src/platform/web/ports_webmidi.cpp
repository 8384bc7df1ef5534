// MIDI platform contract (midi/midi_ports.h) on Web MIDI: the outputs and
// inputs requestMIDIAccess() listed, in its order, are devices 0, 1, 2, ...
// The page asked for access before the program started (page.js); the lists
// are fixed from then on. A refusal, or a browser without Web MIDI, counts no
// devices and says so in one line. There is no panel port.
#include <emscripten.h>

#include <cstdint>
#include <cstdlib>

#include "app/shell.h"
#include "base/program.h"
#include "midi/device_name.h"
#include "midi/input_queue.h"
#include "midi/midi_ports.h"
#include "platform/web/window_web.h"

namespace {

// clang-format off
EM_JS(int, page_midi_count, (bool outputs), {
    const m = Module.zorvePage.midi;
    return (outputs ? m.outputs : m.inputs).length;
});
// The UTF-8 name, or null; the caller frees it.
EM_JS(char*, page_midi_name, (bool outputs, int device), {
    const port = (outputs ? Module.zorvePage.midi.outputs : Module.zorvePage.midi.inputs)[device];
    return port ? allocateUTF8(port.name || "") : 0;
});
EM_JS(char*, page_midi_failure, (), {
    const f = Module.zorvePage.midi.failure;
    return f ? allocateUTF8(f) : 0;
});
EM_JS(void, page_midi_send, (int device, int b0, int b1, int b2, int length), {
    const port = Module.zorvePage.midi.outputs[device];
    if (port) port.send([b0, b1, b2].slice(0, length));
});
EM_JS(bool, page_midi_listen, (int device), { return Module.zorvePage.listen(device); });
// clang-format on

bool g_chosen = false;  // a system other than none was chosen

// Device d's handle is d + 1, so device 0 is not null.
MidiHandle handle_of(int device) { return reinterpret_cast<MidiHandle>(intptr_t(device) + 1); }
int device_of(MidiHandle h) { return int(reinterpret_cast<intptr_t>(h)) - 1; }

void copy_name(bool outputs, int device, char (&name)[MIDI_NAME_FIELD]) {
    char* utf8 = page_midi_name(outputs, device);
    utf8_name_to_cp1252(utf8 ? utf8 : "", name);
    std::free(utf8);
}

}  // namespace

void midi_choose_system(MidiSystem system, MidiUse use) {
    g_chosen = system != MIDI_SYSTEM_NONE;
    if (!g_chosen) return;
    char* failure = page_midi_failure();
    if (failure) {
        if (use == MIDI_USE_PANEL)
            report_error("%s: the panel works but sends nothing", failure);
        else
            report_error("%s: no devices to list", failure);
        g_chosen = false;
    }
    std::free(failure);
}

int midi_in_count() { return g_chosen ? page_midi_count(false) : 0; }
void midi_in_name(int device, char (&name)[MIDI_NAME_FIELD]) { copy_name(false, device, name); }
MidiHandle midi_in_open(int device) { return device >= 0 && device < midi_in_count() ? handle_of(device) : nullptr; }
bool midi_in_start(MidiHandle in) { return in && page_midi_listen(device_of(in)); }

int midi_out_count() { return g_chosen ? page_midi_count(true) : 0; }
void midi_out_name(int device, char (&name)[MIDI_NAME_FIELD]) { copy_name(true, device, name); }
MidiHandle midi_out_open(int device) { return device >= 0 && device < midi_out_count() ? handle_of(device) : nullptr; }

void midi_out_send(MidiHandle out, uint32_t message) {
    if (!out) return;
    const size_t length = short_message_length(message & 0xFF);
    if (length == 0) return;
    page_midi_send(device_of(out), message & 0xFF, (message >> 8) & 0xFF, (message >> 16) & 0xFF, int(length));
}

void midi_panel_send(uint32_t) {}
void midi_connect_panel(const std::vector<std::string>&) {}  // no panel port to connect

// A message from an input the page listens to: through the input ring, as
// on every platform, then taken at once (the page's one thread is the
// window thread).
extern "C" EMSCRIPTEN_KEEPALIVE void web_midi_in(uint32_t message) {
    input_queue_push(message);
    shell_midi_input();
    wake_web_timer();
}
