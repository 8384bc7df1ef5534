// MIDI platform contract (midi_ports.h) on Linux: picks the ALSA sequencer or
// a running JACK server once, at the first call that needs devices, and
// forwards every call to that backend (ports_linux.h). With neither, no
// devices and one line on stderr.
#include "midi/ports_linux.h"

#include <unistd.h>

#include <thread>

#include "base/program.h"

namespace {

enum Backend { BACKEND_UNCHOSEN, BACKEND_NONE, BACKEND_ALSA, BACKEND_JACK };

MidiSystem g_requested = MIDI_SYSTEM_AUTO;
Backend g_backend = BACKEND_UNCHOSEN;

// Looked at before RtMidi is asked, as ALSA and RtMidi both print to stderr
// when the sequencer cannot be opened.
bool alsa_usable() { return access("/dev/snd/seq", R_OK | W_OK) == 0 && alsa_start(); }

Backend choose() {
    switch (g_requested) {
        case MIDI_SYSTEM_AUTO:
            if (alsa_usable()) return BACKEND_ALSA;
            if (jack_start()) return BACKEND_JACK;
            report_error(
                "no MIDI system found (no ALSA sequencer, no JACK server running); the panel runs without MIDI "
                "devices");
            return BACKEND_NONE;
        case MIDI_SYSTEM_ALSA:
            if (alsa_usable()) return BACKEND_ALSA;
            report_error("no ALSA sequencer (/dev/snd/seq); the panel runs without MIDI devices");
            return BACKEND_NONE;
        case MIDI_SYSTEM_JACK:
            if (jack_start()) return BACKEND_JACK;
            report_error("no JACK server running; the panel runs without MIDI devices");
            return BACKEND_NONE;
        case MIDI_SYSTEM_NONE: break;
    }
    return BACKEND_NONE;
}

// The choice begun early, until it is waited for. A pointer, so that no
// destructor at exit can meet a thread not yet joined.
std::thread* g_chooser = nullptr;

Backend backend() {
    midi_end_choice();
    if (g_backend == BACKEND_UNCHOSEN) g_backend = choose();
    return g_backend;
}

void clear(char (&name)[MIDI_NAME_FIELD]) {
    for (char& c : name) c = 0;
}

}  // namespace

void midi_choose_system(MidiSystem system) { g_requested = system; }

void midi_begin_choice() {
    if (g_backend != BACKEND_UNCHOSEN || g_chooser) return;
    try {
        g_chooser = new std::thread([] { g_backend = choose(); });
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
    if (g_backend == BACKEND_JACK) jack_stop();
}

int midi_in_count() {
    switch (backend()) {
        case BACKEND_ALSA: return alsa_in_count();
        case BACKEND_JACK: return jack_in_count();
        default: return 0;
    }
}

void midi_in_name(int device, char (&name)[MIDI_NAME_FIELD]) {
    switch (backend()) {
        case BACKEND_ALSA: alsa_in_name(device, name); break;
        case BACKEND_JACK: jack_in_name(device, name); break;
        default: clear(name); break;
    }
}

MidiHandle midi_in_open(int device) {
    switch (backend()) {
        case BACKEND_ALSA: return alsa_in_open(device);
        case BACKEND_JACK: return jack_in_open(device);
        default: return nullptr;
    }
}

// Both backends drop input from the moment a port opens.
bool midi_in_start(MidiHandle in) { return in != nullptr; }

int midi_out_count() {
    switch (backend()) {
        case BACKEND_ALSA: return alsa_out_count();
        case BACKEND_JACK: return jack_out_count();
        default: return 0;
    }
}

void midi_out_name(int device, char (&name)[MIDI_NAME_FIELD]) {
    switch (backend()) {
        case BACKEND_ALSA: alsa_out_name(device, name); break;
        case BACKEND_JACK: jack_out_name(device, name); break;
        default: clear(name); break;
    }
}

MidiHandle midi_out_open(int device) {
    switch (backend()) {
        case BACKEND_ALSA: return alsa_out_open(device);
        case BACKEND_JACK: return jack_out_open(device);
        default: return nullptr;
    }
}

void midi_out_send(MidiHandle out, uint32_t message) {
    if (!out) return;
    switch (g_backend) {
        case BACKEND_ALSA: alsa_out_send(out, message); break;
        case BACKEND_JACK: jack_out_send(out, message); break;
        default: break;
    }
}

void midi_panel_send(uint32_t message) {
    switch (g_backend) {
        case BACKEND_ALSA: alsa_panel_send(message); break;
        case BACKEND_JACK: jack_panel_send(message); break;
        default: break;
    }
}
