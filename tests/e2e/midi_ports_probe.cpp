// Drives the Linux MIDI layer (midi_backend_linux.cpp and its backends) alone
// against whatever MIDI system runs, the way the device table does, and
// reports what it saw so the e2e harness can compare it with the JACK graph
// and the receivers.
//
// Output, one line each: "in <d> <open|closed> <name>", "out <d> <open|closed>
// <name>", then "opened". Names are printed as hex bytes, as the layer gives
// them (Windows-1252, cut). After one line on standard input (time for the
// harness to connect a receiver to the panel port) it sends one Note On
// (0x90, 0x40 + d, 0x7F) to each open output d, then (0x90, 0x3E, 0x7F) to the
// panel port, and prints "sent"; it stays until standard input closes.
//
// Usage: zorve-midi-ports-probe [outputs-first] [auto|alsa|jack|none]
// "outputs-first" counts and opens the outputs before the inputs; the system
// named is passed to midi_choose_system (default: none passed, AUTO).
#include <cstdio>
#include <cstring>
#include <vector>

#include "midi/device_table.h"
#include "midi/midi_ports.h"
#include "platform/linux/midi/midi_backend_linux.h"

namespace {

void print_name(const char (&name)[MIDI_NAME_FIELD]) {
    for (int i = 0; i < int(MIDI_NAME_FIELD) && name[i]; ++i) std::printf("%02x", static_cast<unsigned char>(name[i]));
    std::printf("\n");
}

void open_inputs() {
    const int inputs = midi_in_count();
    for (int d = 0; d < inputs; ++d) {
        char name[MIDI_NAME_FIELD];
        midi_in_name(d, name);
        MidiHandle in = midi_in_open(d);
        const bool started = in && midi_in_start(in);
        std::printf("in %d %s ", d, started ? "open" : "closed");
        print_name(name);
    }
}

std::vector<MidiHandle> open_outputs() {
    const int outputs = midi_out_count();
    std::vector<MidiHandle> outs;
    for (int d = 0; d < outputs; ++d) {
        char name[MIDI_NAME_FIELD];
        midi_out_name(d, name);
        outs.push_back(midi_out_open(d));
        std::printf("out %d %s ", d, outs.back() ? "open" : "closed");
        print_name(name);
    }
    return outs;
}

}  // namespace

int main(int argc, char** argv) {
    bool outputs_first = false;
    const char* const systems[] = {"auto", "alsa", "jack", "none"};
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "outputs-first") == 0) outputs_first = true;
        for (int s = 0; s < 4; ++s)
            if (std::strcmp(argv[i], systems[s]) == 0) midi_choose_system(MidiSystem(s), MIDI_USE_PANEL);
    }
    std::vector<MidiHandle> outs;
    if (outputs_first) {
        outs = open_outputs();
        open_inputs();
    } else {
        open_inputs();
        outs = open_outputs();
    }
    std::printf("opened\n");
    std::fflush(stdout);
    int c;
    while ((c = std::getchar()) != EOF && c != '\n') {
    }
    const int outputs = int(outs.size());
    for (int d = 0; d < outputs; ++d) midi_out_send(outs[size_t(d)], pack_short_message(0x90, 0x40 + d, 0x7F));
    midi_out_send(nullptr, pack_short_message(0x90, 0x3F, 0x7F));  // must be harmless
    midi_panel_send(pack_short_message(0x90, 0x3E, 0x7F));
    std::printf("sent\n");
    std::fflush(stdout);
    // Stays until stdin closes so the harness can inspect the JACK graph.
    while (std::getchar() != EOF) {
    }
    midi_end_system();
    return 0;
}
