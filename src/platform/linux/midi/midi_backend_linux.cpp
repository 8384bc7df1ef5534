// MIDI platform contract (midi_ports.h) on Linux: picks the ALSA sequencer or
// a running JACK server once, at the first call that needs devices, and
// forwards every call to that backend's table (midi_backend_linux.h). With
// neither, the table of no devices and one line on stderr.
#include "platform/linux/midi/midi_backend_linux.h"

#include <string>
#include <thread>

#include "base/program.h"

namespace {

bool absent_none() { return true; }
const char* start_none(const char*) { return nullptr; }
int count_none() { return 0; }
void name_none(int, char (&name)[MIDI_NAME_FIELD]) {
    for (char& c : name) c = 0;
}
MidiHandle open_none(int) { return nullptr; }
void send_none(MidiHandle, uint32_t) {}
void panel_send_none(uint32_t) {}
void stop_none() {}

const MidiBackend NO_BACKEND = {MIDI_SYSTEM_NONE, "",         absent_none, start_none, count_none, name_none,
                                open_none,        count_none, name_none,   open_none,  send_none,  panel_send_none,
                                stop_none};

// The sequencer first: it is part of every Linux system, while a JACK
// server runs only where someone started one for their studio.
const MidiBackend* const BACKENDS[] = {&ALSA_BACKEND, &JACK_BACKEND};

// The process's one MIDI system: what the command line and a session asked
// for, and the backend chosen for it.
struct LinuxMidi {
    MidiSystem requested = MIDI_SYSTEM_AUTO;
    MidiUse use = MIDI_USE_PANEL;
    std::string client_name = "ZORVE_BUTTON";
    // Null until chosen; written once, by the chooser thread or the window thread.
    const MidiBackend* chosen = nullptr;
    // The choice begun early, until it is waited for. A pointer, so that no
    // destructor at exit can meet a thread not yet joined.
    std::thread* chooser = nullptr;
};
LinuxMidi g_midi;

const MidiBackend* choose() { return &midi_start_backend(g_midi.requested, g_midi.use, g_midi.client_name.c_str()); }

const MidiBackend& midi_system() {
    midi_end_choice();
    if (!g_midi.chosen) g_midi.chosen = choose();
    return *g_midi.chosen;
}

}  // namespace

extern const std::span<const MidiBackend* const> MIDI_BACKENDS = BACKENDS;

// Where a system is there but unusable, that is what the line names.
const MidiBackend& midi_start_backend(MidiSystem system, MidiUse use, const char* client_name,
                                      std::span<const MidiBackend* const> order) {
    std::string reasons;
    std::string missing;
    bool all_absent = true;
    for (const MidiBackend* backend : order) {
        if (system != MIDI_SYSTEM_AUTO && backend->system != system) continue;
        const char* reason = backend->start(client_name);
        if (!reason) return *backend;
        reasons += (reasons.empty() ? "" : ", and ") + std::string(reason);
        missing += (missing.empty() ? "" : ", ") + std::string(backend->missing);
        all_absent = all_absent && backend->absent();
    }
    if (reasons.empty()) return NO_BACKEND;  // NONE, or a system not in the list
    const std::string line =
        system == MIDI_SYSTEM_AUTO && all_absent ? "no MIDI system found (" + missing + ")" : reasons;
    report_error("%s; %s", line.c_str(),
                 use == MIDI_USE_PANEL ? "the panel runs without MIDI devices" : "no devices to list");
    return NO_BACKEND;
}

void midi_choose_system(MidiSystem system, MidiUse use) {
    g_midi.requested = system;
    g_midi.use = use;
}

void midi_set_client_name(const char* name) { g_midi.client_name = name; }

void midi_begin_choice() {
    if (g_midi.chosen || g_midi.chooser) return;
    try {
        g_midi.chooser = new std::thread([] { g_midi.chosen = choose(); });
    } catch (...) {
        g_midi.chooser = nullptr;  // no thread: the first call chooses, as before
    }
}

void midi_end_choice() {
    if (!g_midi.chooser) return;
    g_midi.chooser->join();
    delete g_midi.chooser;
    g_midi.chooser = nullptr;
}

void midi_end_system() {
    midi_end_choice();
    if (g_midi.chosen) g_midi.chosen->stop();
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
    if (out) g_midi.chosen->out_send(out, message);
}

void midi_panel_send(uint32_t message) {
    if (g_midi.chosen) g_midi.chosen->panel_send(message);
}
