// MIDI platform contract: enumerate, name, open and send, by device number.
// One implementation per platform (ports_winmm.cpp; midi_backend_linux.cpp over
// ports_alsa.cpp and ports_jack.cpp) and a recording double in tests/fakes.
// All calls are made on the window thread.
// No call throws and none may end the program; failures are reported through
// the results only. Inputs and outputs are independent: the calls of one
// direction may come before, after or between those of the other.
#pragma once
#include <cstddef>
#include <cstdint>

using MidiHandle = void*;  // null: device absent or not open

// Bytes of a device name field as the platform reports it, Windows-1252 as
// the panel draws them; the device table copies at most MIDI_NAME_COPY.
constexpr size_t MIDI_NAME_FIELD = 64;

// The MIDI systems a platform may offer. AUTO is the platform's own order
// (Linux: the ALSA sequencer, else a running JACK server); NONE opens nothing
// and counts no devices.
enum MidiSystem : int { MIDI_SYSTEM_AUTO, MIDI_SYSTEM_ALSA, MIDI_SYSTEM_JACK, MIDI_SYSTEM_NONE };
// What the devices are counted for: a panel that opens them, or a listing
// that only names them. A system that is not there is one line on stderr
// that names it and says what still works, which depends on this.
enum MidiUse : int { MIDI_USE_PANEL, MIDI_USE_LISTING };
// Called at most once, before any other call of this contract. A system the
// platform lacks counts no devices (Windows has WinMM only: AUTO and NONE).
void midi_choose_system(MidiSystem system, MidiUse use);

int midi_in_count();
// Writes a zero-terminated name of at most MIDI_NAME_FIELD - 1 bytes.
void midi_in_name(int device, char (&name)[MIDI_NAME_FIELD]);
// Opens input `device`; null on failure.
MidiHandle midi_in_open(int device);
// Starts delivery on an open input; false on failure. Delivered data goes
// into the input ring (input_queue.h), which keeps it only while keys light
// from input; memory never grows.
bool midi_in_start(MidiHandle in);

// Bytes a packed short message carries, by its status byte; 0 for what a
// short message cannot carry (a data byte, system exclusive).
constexpr size_t short_message_length(unsigned status) {
    if (status < 0x80) return 0;
    if (status < 0xF0) return (status & 0xE0) == 0xC0 ? 2 : 3;
    switch (status) {
        case 0xF1:
        case 0xF3: return 2;
        case 0xF2: return 3;
        case 0xF0:
        case 0xF7: return 0;
        default: return 1;
    }
}

int midi_out_count();
void midi_out_name(int device, char (&name)[MIDI_NAME_FIELD]);
MidiHandle midi_out_open(int device);
// Sends one packed short message at once; a null handle sends nothing.
void midi_out_send(MidiHandle out, uint32_t message);

// Sends one packed short message to the port that carries everything the
// panel sends, whatever the port switches say, where the platform has one
// (a port others connect to themselves); elsewhere it does nothing.
void midi_panel_send(uint32_t message);
