// Drives the RtMidi port layer (ports_rtmidi.cpp) alone against whatever MIDI
// system runs, the way the device table does, and reports what it saw so the
// e2e harness can compare it with the JACK graph and the receivers.
//
// Output, one line each: "in <d> <open|closed> <name>", "out <d> <open|closed>
// <name>", then "sent" after one Note On (0x90, 0x40 + d, 0x7F) to each open
// output d. Names are printed as hex bytes so cut UTF-8 shows exactly. With
// the argument "outputs-first" the outputs are counted and opened before the
// inputs. Usage: zorve-midi-ports-probe [outputs-first]
#include <cstdio>
#include <cstring>
#include <vector>

#include "midi/device_table.h"
#include "midi/midi_ports.h"

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
        MidiHandle in = midi_in_open(d, nullptr);
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
        outs.push_back(midi_out_open(d, nullptr));
        std::printf("out %d %s ", d, outs.back() ? "open" : "closed");
        print_name(name);
    }
    return outs;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<MidiHandle> outs;
    if (argc > 1 && std::strcmp(argv[1], "outputs-first") == 0) {
        outs = open_outputs();
        open_inputs();
    } else {
        open_inputs();
        outs = open_outputs();
    }
    const int outputs = int(outs.size());
    for (int d = 0; d < outputs; ++d) midi_out_send(outs[size_t(d)], pack_short_message(0x90, 0x40 + d, 0x7F));
    midi_out_send(nullptr, pack_short_message(0x90, 0x3F, 0x7F));  // must be harmless
    std::printf("sent\n");
    std::fflush(stdout);
    // Stays until stdin closes so the harness can inspect the JACK graph.
    while (std::getchar() != EOF) {
    }
    return 0;
}
