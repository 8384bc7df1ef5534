// The MIDI devices of this run and the fan-out of panel messages to the
// enabled output ports 1..3. Window thread only.
#pragma once
#include <cstdint>

#include "midi/midi_ports.h"

constexpr int MAX_INPUTS = 4;
constexpr int PORT_COUNT = 3;  // switchable output ports 1..3
constexpr int MAX_OUTPUTS = 5;
constexpr int NAME_SLOT = 40;       // bytes per name slot, zero-filled
constexpr int MIDI_NAME_COPY = 32;  // at most this many name bytes are kept

struct DeviceTable {
    int input_count = 0;  // reported count, capped at MAX_INPUTS
    MidiHandle input[MAX_INPUTS] = {};
    char input_name[MAX_INPUTS][NAME_SLOT] = {};
    int output_count = 0;  // reported count, capped at MAX_OUTPUTS
    MidiHandle output[MAX_OUTPUTS] = {};
    char output_name[MAX_OUTPUTS][NAME_SLOT] = {};
    // --monitor: send_to_ports also writes one line per message and device
    // that got it, "dev 1  90 24 7F", after the send; a message that no
    // device got (none open, or its switches off) is written once as
    // "dev -  90 24 7F". A line that cannot be written (the reader of a pipe
    // went away) turns the monitor off, with one line on stderr.
    mutable bool monitor = false;
};

// Counts, opens and names every device, inputs before outputs, in ascending
// device number. A device that fails to open keeps a null handle and an empty
// name but still counts.
void open_devices(DeviceTable& table);

// Counts and names the devices as open_devices would, opening none: every
// counted device gets its name, cut as open_devices cuts it. The counts the
// platform reported, before the caps, go to *inputs_found and *outputs_found.
void name_devices(DeviceTable& table, int* inputs_found, int* outputs_found);

// status | data1 << 8 | data2 << 16, each byte cut to 8 bits.
constexpr uint32_t pack_short_message(int status, int data1, int data2) {
    return (uint32_t(status) & 0xFF) | (uint32_t(data1) & 0xFF) << 8 | (uint32_t(data2) & 0xFF) << 16;
}

void midi_out_short(const DeviceTable& table, int device, int status, int data1, int data2);

// No devices: what a table holds before open_devices fills it.
inline constexpr DeviceTable NO_DEVICES{};

// Sends to the panel port first, then to output devices 1, 2, 3 of `devices`
// in that order where port_enable[k-1] is non-zero; device 0 never receives.
void send_to_ports(const DeviceTable& devices, const int16_t (&port_enable)[PORT_COUNT], int status, int data1,
                   int data2);
