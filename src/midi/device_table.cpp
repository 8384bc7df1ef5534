#include "midi/device_table.h"

#include <algorithm>
#include <cstring>

namespace {

// Keeps at most MIDI_NAME_COPY bytes; the rest of the slot stays zero.
void copy_name(char (&slot)[NAME_SLOT], const char (&field)[MIDI_NAME_FIELD]) {
    std::memset(slot, 0, sizeof slot);
    size_t n = 0;
    while (n < MIDI_NAME_COPY && field[n] != '\0') ++n;
    std::memcpy(slot, field, n);
}

}  // namespace

void open_devices(DeviceTable& t, void* window) {
    t.input_count = std::clamp(midi_in_count(), 0, MAX_INPUTS);
    for (int d = 0; d < t.input_count; ++d) {
        char name[MIDI_NAME_FIELD] = {};
        midi_in_name(d, name);
        MidiHandle in = midi_in_open(d, window);
        if (in && !midi_in_start(in)) in = nullptr;
        t.input[d] = in;
        if (in) copy_name(t.input_name[d], name);
    }
    t.output_count = std::clamp(midi_out_count(), 0, MAX_OUTPUTS);
    for (int d = 0; d < t.output_count; ++d) {
        char name[MIDI_NAME_FIELD] = {};
        midi_out_name(d, name);
        MidiHandle out = midi_out_open(d, window);
        t.output[d] = out;
        if (out) copy_name(t.output_name[d], name);
    }
}

void midi_out_short(const DeviceTable& t, int device, int status, int data1, int data2) {
    if (device < 0 || device >= MAX_OUTPUTS || !t.output[device]) return;
    midi_out_send(t.output[device], pack_short_message(status, data1, data2));
}

void send_to_ports(int status, int data1, int data2) {
    midi_panel_send(pack_short_message(status, data1, data2));
    for (int k = 1; k <= PORT_COUNT; ++k) {
        if (port_enabled(k)) midi_out_short(run_devices(), k, status, data1, data2);
    }
}
