#include "midi/device_table.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "base/program.h"

namespace {

// Keeps at most MIDI_NAME_COPY bytes; the rest of the slot stays zero.
void copy_name(char (&slot)[NAME_SLOT], const char (&field)[MIDI_NAME_FIELD]) {
    std::memset(slot, 0, sizeof slot);
    size_t n = 0;
    while (n < MIDI_NAME_COPY && field[n] != '\0') ++n;
    std::memcpy(slot, field, n);
}

// "dev 1  90 24 7F", or "dev -  ..." for a message no device got; devices
// are 1..3.
void monitor_line(const DeviceTable& devices, int device, uint32_t message) {
    char line[32];
    std::snprintf(line, sizeof line, "dev %c  %02X %02X %02X\n", device >= 0 ? char('0' + device) : '-',
                  unsigned(message & 0xFF), unsigned((message >> 8) & 0xFF), unsigned((message >> 16) & 0xFF));
    if (write_output(line)) return;
    // The reader went away (`--monitor | head`): the panel plays on unmonitored.
    devices.monitor = false;
    report_error("the monitor's output is closed; monitoring stopped, the panel goes on");
}

}  // namespace

void open_devices(DeviceTable& t) {
    t.input_count = std::clamp(midi_in_count(), 0, MAX_INPUTS);
    for (int d = 0; d < t.input_count; ++d) {
        char name[MIDI_NAME_FIELD] = {};
        midi_in_name(d, name);
        MidiHandle in = midi_in_open(d);
        if (in && !midi_in_start(in)) in = nullptr;
        t.input[d] = in;
        if (in) copy_name(t.input_name[d], name);
    }
    t.output_count = std::clamp(midi_out_count(), 0, MAX_OUTPUTS);
    for (int d = 0; d < t.output_count; ++d) {
        char name[MIDI_NAME_FIELD] = {};
        midi_out_name(d, name);
        MidiHandle out = midi_out_open(d);
        t.output[d] = out;
        if (out) copy_name(t.output_name[d], name);
    }
}

void name_devices(DeviceTable& t, int* inputs_found, int* outputs_found) {
    *inputs_found = midi_in_count();
    t.input_count = std::clamp(*inputs_found, 0, MAX_INPUTS);
    for (int d = 0; d < t.input_count; ++d) {
        char name[MIDI_NAME_FIELD] = {};
        midi_in_name(d, name);
        copy_name(t.input_name[d], name);
    }
    *outputs_found = midi_out_count();
    t.output_count = std::clamp(*outputs_found, 0, MAX_OUTPUTS);
    for (int d = 0; d < t.output_count; ++d) {
        char name[MIDI_NAME_FIELD] = {};
        midi_out_name(d, name);
        copy_name(t.output_name[d], name);
    }
}

void midi_out_short(const DeviceTable& t, int device, int status, int data1, int data2) {
    if (device < 0 || device >= MAX_OUTPUTS || !t.output[device]) return;
    midi_out_send(t.output[device], pack_short_message(status, data1, data2));
}

void send_to_ports(const DeviceTable& devices, const int16_t (&port_enable)[PORT_COUNT], int status, int data1,
                   int data2) {
    midi_panel_send(pack_short_message(status, data1, data2));
    bool delivered = false;
    for (int port = 1; port <= PORT_COUNT; ++port) {
        if (!port_enable[port - 1]) continue;
        midi_out_short(devices, port, status, data1, data2);
        if (devices.monitor && devices.output[port]) {
            monitor_line(devices, port, pack_short_message(status, data1, data2));
            delivered = true;
        }
    }
    if (devices.monitor && !delivered) monitor_line(devices, -1, pack_short_message(status, data1, data2));
}
