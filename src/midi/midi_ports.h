// MIDI platform contract: enumerate, name, open and send, by device number.
// One implementation per platform (ports_winmm.cpp, ports_rtmidi.cpp) and a
// recording double in tests/fakes. All calls are made on the window thread.
// No call throws and none may end the program; failures are reported through
// the results only. Inputs and outputs are independent: the calls of one
// direction may come before, after or between those of the other.
#pragma once
#include <cstddef>
#include <cstdint>

using MidiHandle = void*;  // null: device absent or not open

// Bytes of a device name field as the platform reports it; the device table
// copies at most MIDI_NAME_COPY of them.
constexpr size_t MIDI_NAME_FIELD = 64;

int midi_in_count();
// Writes a zero-terminated name of at most MIDI_NAME_FIELD - 1 bytes.
void midi_in_name(int device, char (&name)[MIDI_NAME_FIELD]);
// Opens input `device` with notifications to `window`; null on failure.
MidiHandle midi_in_open(int device, void* window);
// Starts delivery on an open input; false on failure. Delivered data is
// discarded by the platform layer without growing memory.
bool midi_in_start(MidiHandle in);

int midi_out_count();
void midi_out_name(int device, char (&name)[MIDI_NAME_FIELD]);
MidiHandle midi_out_open(int device, void* window);
// Sends one packed short message at once; a null handle sends nothing.
void midi_out_send(MidiHandle out, uint32_t message);
