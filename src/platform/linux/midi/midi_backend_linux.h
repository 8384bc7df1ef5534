// The Linux MIDI backends behind the contract (midi_ports.h): the ALSA
// sequencer (ports_alsa.cpp) and a JACK server (ports_jack.cpp), each one
// table of functions filled by its own file. midi_backend_linux.cpp chooses
// one table once per run, from an ordered list, and forwards every contract
// call to it. Window thread only.
#pragma once
#include <cstdint>
#include <span>

#include "midi/midi_ports.h"

// Each function means what the contract function of the same name means, on
// its own system; a handle goes back only to the backend that gave it, and
// never a null one.
struct MidiBackend {
    MidiSystem system;  // the one --midi names
    // What the line says of it when no system is there at all ("no ALSA
    // sequencer").
    const char* missing;
    // After start failed: true when its system is not on this machine at
    // all (no sequencer device, no server running), not there but unusable.
    bool (*absent)();
    // Makes the client and its "panel" port: null, or with nothing left
    // behind and nothing printed, what is missing ("no JACK server
    // running"). Called at most once, before the other functions, with the
    // client name to register.
    const char* (*start)(const char* client_name);
    int (*in_count)();
    void (*in_name)(int device, char (&name)[MIDI_NAME_FIELD]);
    MidiHandle (*in_open)(int device);
    int (*out_count)();
    void (*out_name)(int device, char (&name)[MIDI_NAME_FIELD]);
    MidiHandle (*out_open)(int device);
    void (*out_send)(MidiHandle out, uint32_t message);
    void (*panel_send)(uint32_t message);
    // At exit, after the last send: what was sent reaches the system, the
    // client closes, and what was dropped is said on stderr. (JACK's may be
    // started again after it: its tests do.)
    void (*stop)();
};

extern const MidiBackend ALSA_BACKEND;
extern const MidiBackend JACK_BACKEND;

// AUTO's order, first to last: the sequencer, which needs no server, then a
// running JACK server.
extern const std::span<const MidiBackend* const> MIDI_BACKENDS;

// Starts the backend `system` names, or for AUTO the first of `order` that
// starts; each is tried at most once, in order. With none, the backend of
// no devices and one line on stderr that names what is missing and what
// still works for `use`.
const MidiBackend& midi_start_backend(MidiSystem system, MidiUse use, const char* client_name,
                                      std::span<const MidiBackend* const> order = MIDI_BACKENDS);

// Start-up, before the window exists: chooses the system (midi_choose_system
// first) and starts its client on a thread of its own, so that connecting to
// the server overlaps the window system's start. The first contract call
// that needs the system waits for it; an exit that never gets that far calls
// midi_end_choice.
void midi_begin_choice();
void midi_end_choice();
// At exit, after the last send: waits for the choice, then lets what was
// sent reach the chosen system and closes its client (JACK: at most a
// second). No contract call after it.
void midi_end_system();

// The client name the backend registers: "ZORVE_BUTTON" unless a session
// manager gave another. Set before midi_begin_choice; the text is copied.
void midi_set_client_name(const char* name);
