// The ALSA sequencer backend of the Linux MIDI layer (ports_linux.h) over
// RtMidi 5. One RtMidi object, hence one ALSA client named "ZORVE_BUTTON",
// per open port, and one more for the virtual output port "panel" that others
// connect to themselves. Not run on machines without /dev/snd/seq.
//
// Device d is the d-th port of RtMidi's listing taken when the devices are
// counted, leaving out this program's own ports (its input ports would
// otherwise show up as output devices). Window thread only, except the input
// callback, which runs on RtMidi's thread and touches nothing.
#include <RtMidi.h>

#include <cstring>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "midi/device_name.h"
#include "midi/ports_linux.h"

namespace {

constexpr const char* CLIENT_NAME = "ZORVE_BUTTON";

// RtMidi reports through this once an object exists; failures are then seen
// through isPortOpen() and the flag, and nothing is printed.
bool g_rtmidi_failed = false;

void on_rtmidi_error(RtMidiError::Type, const std::string&, void*) { g_rtmidi_failed = true; }

// Input data is dropped as it arrives, so RtMidi's queue never fills.
void discard_input(double, std::vector<unsigned char>*, void*) {}

// Objects of one direction; the two directions share nothing. The first is
// made to list the ports and serves the first port opened, so listing costs
// no client of its own; a listing object left without a port to serve goes at
// once. Objects stay for the whole run; ALSA delivers a message when it is
// sent, so nothing waits to be flushed at exit.
template <class Port>
struct Side {
    std::vector<Port*> objects;
    bool front_unused = false;       // objects.front() exists but holds no port
    std::vector<std::string> names;  // listing at count time, own ports left out
};

// Allocated once and never destroyed, so the objects stay reachable to the end.
Side<RtMidiIn>& g_in = *new Side<RtMidiIn>;
Side<RtMidiOut>& g_out = *new Side<RtMidiOut>;
RtMidiOut* g_panel = nullptr;

template <class Port>
std::unique_ptr<Port> make_object() {
    try {
        auto port = std::make_unique<Port>(RtMidi::LINUX_ALSA, CLIENT_NAME);
        // An API not compiled into the library silently becomes another one.
        if (port->getCurrentApi() != RtMidi::LINUX_ALSA) return nullptr;
        port->setErrorCallback(on_rtmidi_error, nullptr);
        return port;
    } catch (...) {
        return nullptr;
    }
}

// Our clients are all "ZORVE_BUTTON"; a name the sequencer had to change
// would end in a number after a dash.
bool own_port(const std::string& name) {
    const size_t n = std::strlen(CLIENT_NAME);
    return name.size() > n && name.compare(0, n, CLIENT_NAME) == 0 && (name[n] == ':' || name[n] == '-');
}

template <class Port>
Port* lister(Side<Port>& side) {
    if (side.objects.empty()) {
        auto probe = make_object<Port>();
        if (!probe) return nullptr;
        side.objects.push_back(probe.release());
        side.front_unused = true;
    }
    return side.objects.front();
}

// Deletes the listing object when it holds no port.
template <class Port>
void drop_lister(Side<Port>& side) {
    if (!side.front_unused) return;
    delete side.objects.front();
    side.objects.erase(side.objects.begin());
    side.front_unused = false;
}

template <class Port>
std::vector<std::string> list_ports(Port& port) {
    std::vector<std::string> names;
    try {
        const unsigned n = port.getPortCount();
        for (unsigned i = 0; i < n; ++i) names.push_back(port.getPortName(i));
    } catch (...) {
        names.clear();
    }
    return names;
}

template <class Port>
int count(Side<Port>& side) {
    side.names.clear();
    Port* port = lister(side);
    if (!port) return 0;
    for (std::string& name : list_ports(*port))
        if (!own_port(name)) side.names.push_back(std::move(name));
    // No device to open: nothing will come to the lister.
    if (side.names.empty()) drop_lister(side);
    return int(side.names.size());
}

template <class Port>
void name_of(const Side<Port>& side, int device, char (&name)[MIDI_NAME_FIELD]) {
    if (device < 0 || size_t(device) >= side.names.size()) {
        utf8_name_to_cp1252("", name);
        return;
    }
    utf8_name_to_cp1252(side.names[size_t(device)].c_str(), name);
}

// Opens the port that was device `device` at count time, wherever it sits in
// the listing now (our own ports opened since then shift it).
template <class Port>
Port* open_port(Side<Port>& side, int device, const char* prefix) {
    if (device < 0 || size_t(device) >= side.names.size()) return nullptr;
    Port* listing = lister(side);
    if (!listing) return nullptr;
    const std::vector<std::string> now = list_ports(*listing);
    unsigned index = 0;
    while (index < now.size() && now[index] != side.names[size_t(device)]) ++index;
    if (index == now.size()) return nullptr;

    std::unique_ptr<Port> fresh;
    Port* port = nullptr;
    if (side.front_unused) {
        port = side.objects.front();
    } else {
        fresh = make_object<Port>();
        if (!fresh) return nullptr;
        port = fresh.get();
    }
    g_rtmidi_failed = false;
    try {
        if constexpr (std::is_same_v<Port, RtMidiIn>) port->setCallback(discard_input, nullptr);
        port->openPort(index, std::string(prefix) + std::to_string(device));
    } catch (...) {
        g_rtmidi_failed = true;
    }
    if (g_rtmidi_failed || !port->isPortOpen()) {
        // An object whose open failed is not used again, the lister included.
        if (!fresh) drop_lister(side);
        return nullptr;
    }
    if (fresh)
        side.objects.push_back(fresh.release());
    else
        side.front_unused = false;
    return port;
}

void send(RtMidiOut* out, uint32_t message) {
    const unsigned char bytes[3] = {static_cast<unsigned char>(message & 0xFF),
                                    static_cast<unsigned char>((message >> 8) & 0xFF),
                                    static_cast<unsigned char>((message >> 16) & 0xFF)};
    const size_t length = short_message_length(bytes[0]);
    if (length == 0) return;
    try {
        out->sendMessage(bytes, length);
    } catch (...) {
    }
}

}  // namespace

// The panel port is opened first: its object also proves that the sequencer
// answers. The listers come later, when the devices are counted.
bool alsa_start() {
    auto panel = make_object<RtMidiOut>();
    if (!panel) return false;
    g_rtmidi_failed = false;
    try {
        panel->openVirtualPort("panel");
    } catch (...) {
        g_rtmidi_failed = true;
    }
    // A virtual port never counts as open in RtMidi; failure comes through
    // the error callback only.
    if (g_rtmidi_failed) return false;
    g_panel = panel.release();
    return true;
}

int alsa_in_count() { return count(g_in); }

void alsa_in_name(int device, char (&name)[MIDI_NAME_FIELD]) { name_of(g_in, device, name); }

MidiHandle alsa_in_open(int device) { return open_port(g_in, device, "in "); }

int alsa_out_count() { return count(g_out); }

void alsa_out_name(int device, char (&name)[MIDI_NAME_FIELD]) { name_of(g_out, device, name); }

MidiHandle alsa_out_open(int device) { return open_port(g_out, device, "out "); }

void alsa_out_send(MidiHandle out, uint32_t message) {
    if (out) send(static_cast<RtMidiOut*>(out), message);
}

void alsa_panel_send(uint32_t message) {
    if (g_panel) send(g_panel, message);
}
