// The two Linux MIDI backends behind the contract (midi_ports.h), between
// which ports_linux.cpp chooses once per run: the ALSA sequencer through
// RtMidi (ports_rtmidi.cpp) and a JACK server through libjack
// (ports_jack.cpp). Each function means what the contract function of the
// same suffix means, on its own backend; a handle goes back only to the
// backend that gave it. Window thread only.
#pragma once
#include <cstdint>

#include "midi/midi_ports.h"

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

// Makes the backend's client and its "panel" port; false, with nothing
// printed and nothing left behind, when the system is not there. Called at
// most once, before the backend's other functions.
bool alsa_start();
int alsa_in_count();
void alsa_in_name(int device, char (&name)[MIDI_NAME_FIELD]);
MidiHandle alsa_in_open(int device);
int alsa_out_count();
void alsa_out_name(int device, char (&name)[MIDI_NAME_FIELD]);
MidiHandle alsa_out_open(int device);
void alsa_out_send(MidiHandle out, uint32_t message);
void alsa_panel_send(uint32_t message);

bool jack_start();
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
