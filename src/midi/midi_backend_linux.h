// The Linux MIDI backends behind the contract (midi_ports.h): the ALSA
// sequencer (ports_alsa.cpp) and a JACK server (ports_jack.cpp), each one
// table of functions filled by its own file. midi_backend_linux.cpp chooses one
// table once per run and forwards every contract call to it. Window thread
// only.
#pragma once
#include <cstdint>

#include "midi/midi_ports.h"

// Each function means what the contract function of the same name means, on
// its own system; a handle goes back only to the backend that gave it, and
// never a null one.
struct MidiBackend {
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
    // client closes, and what was dropped is said on stderr.
    void (*stop)();
};

extern const MidiBackend ALSA_BACKEND;
extern const MidiBackend JACK_BACKEND;

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

// The JACK backend's functions, which JACK_BACKEND holds; its unit tests
// call them directly. jack_start is the table's start, true for a null.
bool jack_start(const char* client_name);
int jack_in_count();
void jack_in_name(int device, char (&name)[MIDI_NAME_FIELD]);
MidiHandle jack_in_open(int device);
int jack_out_count();
void jack_out_name(int device, char (&name)[MIDI_NAME_FIELD]);
MidiHandle jack_out_open(int device);
void jack_out_send(MidiHandle out, uint32_t message);
void jack_panel_send(uint32_t message);
// Ends what jack_start made, once every message sent has gone out (at most a
// second); jack_start may then be called again.
void jack_stop();
