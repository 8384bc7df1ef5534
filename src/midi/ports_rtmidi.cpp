// MIDI platform contract (midi_ports.h) over RtMidi 5: the ALSA sequencer when
// it exists, else a JACK server that is already running (never started here),
// else no devices. One RtMidi object, hence one ALSA/JACK client, per open port.
//
// Device d is the d-th port of the backend's listing taken when the devices
// are counted, leaving out this program's own ports (its input ports would
// otherwise show up as output devices). Window thread only, except the input
// callback, which runs on the backend's thread and touches nothing.
#include <RtMidi.h>
#include <jack/jack.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "base/program.h"
#include "midi/device_table.h"
#include "midi/midi_ports.h"

namespace {

constexpr const char* CLIENT_NAME = "ZORVE_BUTTON";

// RtMidi reports through this once an object exists; failures are then seen
// through isPortOpen() and the flag, and nothing is printed.
bool g_rtmidi_failed = false;

void on_rtmidi_error(RtMidiError::Type, const std::string&, void*) { g_rtmidi_failed = true; }

// Set on libjack's thread once the JACK server has gone; from then on nothing
// is sent. RtMidi 5's JACK output waits, spinning, for room in a 16 KiB ring
// that only the server's cycles empty, so sending after the server died would
// hang the window thread for good once about 2300 messages had piled up.
std::atomic<bool> g_jack_gone{false};

// Input data is dropped as it arrives, so RtMidi's queue never fills.
void discard_input(double, std::vector<unsigned char>*, void*) {}

// Objects of one direction; the two directions share nothing but the backend.
// The first is made to list the ports and serves the first port opened, so
// listing costs no client of its own. A listing object left without a port
// to serve goes at once: under JACK even a client without ports is woken every
// cycle. Devices stay open for the whole run; see OutputsFlushedAtExit for the
// end.
template <class Port>
struct Side {
    std::vector<Port*> objects;
    bool front_unused = false;       // objects.front() exists but holds no port
    std::vector<std::string> names;  // listing at count time, own ports left out
};

MidiSystem g_requested = MIDI_SYSTEM_AUTO;
bool g_chosen = false;
RtMidi::Api g_api = RtMidi::UNSPECIFIED;  // UNSPECIFIED: no usable backend
// Allocated once and never destroyed, so the objects stay reachable to the end.
Side<RtMidiIn>& g_in = *new Side<RtMidiIn>;
Side<RtMidiOut>& g_out = *new Side<RtMidiOut>;

// JACK delivers an output message at the server's next cycle, so a message
// sent just before exit (the release of a key held while the window closed)
// would be lost with the process. Closing a JACK output port waits for that
// cycle (at most a second, when the server stalls; no wait once it has gone).
// The clients themselves, and the inputs, are left to the process end.
struct OutputsFlushedAtExit {
    ~OutputsFlushedAtExit() {
        if (g_jack_gone.load(std::memory_order_relaxed)) return;
        for (RtMidiOut* out : g_out.objects) {
            try {
                out->closePort();
            } catch (...) {
            }
        }
    }
} g_outputs_flushed_at_exit;

template <class Port>
std::unique_ptr<Port> make_object(RtMidi::Api api) {
    try {
        auto port = std::make_unique<Port>(api, CLIENT_NAME);
        // An API not compiled into the library silently becomes another one.
        if (port->getCurrentApi() != api) return nullptr;
        port->setErrorCallback(on_rtmidi_error, nullptr);
        return port;
    } catch (...) {
        return nullptr;
    }
}

void jack_message(const char* text) { report_error("JACK: %s", text); }
void jack_quiet(const char*) {}

void on_jack_shutdown(jack_status_t, const char*, void*) { g_jack_gone.store(true, std::memory_order_relaxed); }

// libjack and RtMidi print several lines each when no server runs; asking
// libjack quietly first leaves one clear line of our own instead. A client
// that answers stays open to hear when the server ends: no ports, never
// activated, so it costs the server no cycle time.
bool jack_server_running() {
    jack_set_error_function(jack_quiet);
    jack_set_info_function(jack_quiet);
    jack_status_t status;
    jack_client_t* watch = jack_client_open(CLIENT_NAME, JackNoStartServer, &status);
    if (watch) jack_on_info_shutdown(watch, on_jack_shutdown, nullptr);
    jack_set_error_function(jack_message);
    return watch != nullptr;
}

// ALSA first; JACK only when ALSA is missing and a server already runs. The
// sequencer device is looked at first because ALSA and RtMidi both print to
// stderr when it cannot be opened. The object that proved the backend becomes
// the lister of the direction that asked.
template <class Port>
void choose_backend(Side<Port>& side) {
    if (g_chosen) return;
    g_chosen = true;
    if (g_requested == MIDI_SYSTEM_NONE) return;
    setenv("JACK_NO_START_SERVER", "1", 1);
    const bool alsa = g_requested != MIDI_SYSTEM_JACK && access("/dev/snd/seq", R_OK | W_OK) == 0;
    if (g_requested == MIDI_SYSTEM_ALSA && !alsa) {
        report_error("no ALSA sequencer (/dev/snd/seq); the panel runs without MIDI devices");
        return;
    }
    if (!alsa && !jack_server_running()) {
        report_error(
            "no MIDI system found (no ALSA sequencer, no JACK server running); the panel runs without MIDI devices");
        return;
    }
    for (RtMidi::Api api : {RtMidi::LINUX_ALSA, RtMidi::UNIX_JACK}) {
        if (api == RtMidi::LINUX_ALSA && !alsa) continue;
        auto probe = make_object<Port>(api);
        if (!probe) continue;
        g_api = api;
        side.objects.push_back(probe.release());
        side.front_unused = true;
        return;
    }
}

// Our clients are "ZORVE_BUTTON" and, under JACK, "ZORVE_BUTTON-01" and so on.
bool own_port(const std::string& name) {
    const size_t n = std::strlen(CLIENT_NAME);
    return name.size() > n && name.compare(0, n, CLIENT_NAME) == 0 && (name[n] == ':' || name[n] == '-');
}

template <class Port>
Port* lister(Side<Port>& side) {
    if (side.objects.empty()) {
        if (g_api == RtMidi::UNSPECIFIED) return nullptr;
        auto probe = make_object<Port>(g_api);
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

// At most MIDI_NAME_COPY bytes, never ending inside a UTF-8 sequence.
template <class Port>
void name_of(const Side<Port>& side, int device, char (&name)[MIDI_NAME_FIELD]) {
    std::memset(name, 0, sizeof name);
    if (device < 0 || size_t(device) >= side.names.size()) return;
    const std::string& full = side.names[size_t(device)];
    size_t n = full.size();
    if (n > size_t(MIDI_NAME_COPY)) {
        n = MIDI_NAME_COPY;
        while (n > 0 && (static_cast<unsigned char>(full[n]) & 0xC0) == 0x80) --n;
    }
    std::memcpy(name, full.data(), n);
}

// Opens the port that was device `device` at count time, wherever it sits in
// the backend's listing now (our own ports opened since then shift it).
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
        fresh = make_object<Port>(g_api);
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

// Bytes of a message by its status; 0 for what a short message cannot carry.
size_t message_length(unsigned status) {
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

}  // namespace

void midi_choose_system(MidiSystem system) { g_requested = system; }

int midi_in_count() {
    choose_backend(g_in);
    return count(g_in);
}

void midi_in_name(int device, char (&name)[MIDI_NAME_FIELD]) { name_of(g_in, device, name); }

MidiHandle midi_in_open(int device, void*) { return open_port(g_in, device, "in "); }

// Delivery began when the port was opened, into the discarding callback.
bool midi_in_start(MidiHandle in) { return in != nullptr; }

int midi_out_count() {
    choose_backend(g_out);
    return count(g_out);
}

void midi_out_name(int device, char (&name)[MIDI_NAME_FIELD]) { name_of(g_out, device, name); }

MidiHandle midi_out_open(int device, void*) { return open_port(g_out, device, "out "); }

void midi_out_send(MidiHandle out, uint32_t message) {
    if (!out || g_jack_gone.load(std::memory_order_relaxed)) return;
    const unsigned char bytes[3] = {static_cast<unsigned char>(message & 0xFF),
                                    static_cast<unsigned char>((message >> 8) & 0xFF),
                                    static_cast<unsigned char>((message >> 16) & 0xFF)};
    const size_t length = message_length(bytes[0]);
    if (length == 0) return;
    try {
        static_cast<RtMidiOut*>(out)->sendMessage(bytes, length);
    } catch (...) {
    }
}
