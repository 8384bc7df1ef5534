// MIDI platform contract (midi_ports.h) on Linux: picks the ALSA sequencer or
// a running JACK server once, at the first call that needs devices, and
// forwards every call to that backend's table (midi_backend_linux.h). With neither,
// the table of no devices and one line on stderr.
#include "midi/midi_backend_linux.h"

#include <unistd.h>

#include <string>
#include <thread>

#include "base/program.h"

namespace {

const char* start_none(const char*) { return nullptr; }
int count_none() { return 0; }
void name_none(int, char (&name)[MIDI_NAME_FIELD]) {
    for (char& c : name) c = 0;
}
MidiHandle open_none(int) { return nullptr; }
void send_none(MidiHandle, uint32_t) {}
void panel_send_none(uint32_t) {}
void stop_none() {}

const MidiBackend NO_BACKEND = {start_none, count_none, name_none, open_none,       count_none,
                                name_none,  open_none,  send_none, panel_send_none, stop_none};

MidiSystem g_requested = MIDI_SYSTEM_AUTO;
MidiUse g_use = MIDI_USE_PANEL;
std::string g_client_name = "ZORVE_BUTTON";
// Null until chosen; written once, by the chooser thread or the window thread.
const MidiBackend* g_midi_system = nullptr;

void report_missing(const std::string& what) {
    report_error("%s; %s", what.c_str(),
                 g_use == MIDI_USE_PANEL ? "the panel runs without MIDI devices" : "no devices to list");
}

// The ALSA backend is asked first on AUTO; where the sequencer exists but
// cannot be used, that is what the line names.
const MidiBackend* choose() {
    const char* alsa = nullptr;
    const char* jack = nullptr;
    switch (g_requested) {
        case MIDI_SYSTEM_AUTO:
            if (!(alsa = ALSA_BACKEND.start(g_client_name.c_str()))) return &ALSA_BACKEND;
            if (!(jack = JACK_BACKEND.start(g_client_name.c_str()))) return &JACK_BACKEND;
            if (access("/dev/snd/seq", F_OK) != 0)
                report_missing("no MIDI system found (no ALSA sequencer, no JACK server running)");
            else
                report_missing(std::string(alsa) + ", and " + jack);
            return &NO_BACKEND;
        case MIDI_SYSTEM_ALSA:
            if (!(alsa = ALSA_BACKEND.start(g_client_name.c_str()))) return &ALSA_BACKEND;
            report_missing(alsa);
            return &NO_BACKEND;
        case MIDI_SYSTEM_JACK:
            if (!(jack = JACK_BACKEND.start(g_client_name.c_str()))) return &JACK_BACKEND;
            report_missing(jack);
            return &NO_BACKEND;
        case MIDI_SYSTEM_NONE: break;
    }
    return &NO_BACKEND;
}

// The choice begun early, until it is waited for. A pointer, so that no
// destructor at exit can meet a thread not yet joined.
std::thread* g_chooser = nullptr;

const MidiBackend& midi_system() {
    midi_end_choice();
    if (!g_midi_system) g_midi_system = choose();
    return *g_midi_system;
}

}  // namespace

void midi_choose_system(MidiSystem system, MidiUse use) {
    g_requested = system;
    g_use = use;
}

void midi_set_client_name(const char* name) { g_client_name = name; }

void midi_begin_choice() {
    if (g_midi_system || g_chooser) return;
    try {
        g_chooser = new std::thread([] { g_midi_system = choose(); });
    } catch (...) {
        g_chooser = nullptr;  // no thread: the first call chooses, as before
    }
}

void midi_end_choice() {
    if (!g_chooser) return;
    g_chooser->join();
    delete g_chooser;
    g_chooser = nullptr;
}

void midi_end_system() {
    midi_end_choice();
    if (g_midi_system) g_midi_system->stop();
}

int midi_in_count() { return midi_system().in_count(); }

void midi_in_name(int device, char (&name)[MIDI_NAME_FIELD]) { midi_system().in_name(device, name); }

MidiHandle midi_in_open(int device) { return midi_system().in_open(device); }

// Both backends take input from the moment a port opens: it lights keys, or
// is dropped.
bool midi_in_start(MidiHandle in) { return in != nullptr; }

int midi_out_count() { return midi_system().out_count(); }

void midi_out_name(int device, char (&name)[MIDI_NAME_FIELD]) { midi_system().out_name(device, name); }

MidiHandle midi_out_open(int device) { return midi_system().out_open(device); }

// A handle exists only once a backend was chosen and gave it.
void midi_out_send(MidiHandle out, uint32_t message) {
    if (out) g_midi_system->out_send(out, message);
}

void midi_panel_send(uint32_t message) {
    if (g_midi_system) g_midi_system->panel_send(message);
}
