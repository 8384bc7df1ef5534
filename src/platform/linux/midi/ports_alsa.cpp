// The ALSA sequencer backend of the Linux MIDI layer (midi_backend_linux.h)
// over libasound: one client "ZORVE_BUTTON" with a port "out d" (readable,
// subscribed to device d) per open output device, "in d" (writable,
// subscribed from device d) per open input device, and "panel" (readable,
// subscribed to nothing but the ports --connect and the map name) that
// carries everything the panel sends. A fourth,
// hidden port (no export: patchbays leave it out) takes the System client's
// announcements of clients and ports coming and going.
//
// Device d is the d-th port, in client-then-port order, of the other
// clients' ports that are MIDI, synth or application ports with both
// capabilities a subscription in that direction needs; the System client is
// none. A device is named "<client>:<port> <client number>:<port number>".
//
// Threads. The window thread lists, opens and sends. A message goes to the
// kernel at once (direct, no queue) without blocking: what a receiver has no
// room for is dropped and counted, and the count is printed at exit. A thread
// of our own sleeps in poll() until the client receives something: input
// data, which lights keys (input_queue.h) or is dropped, or an announcement,
// which it hands to the device links (device_links.h): when the client or
// port of a device goes away, the device is subscribed again as soon as a
// port of the same client and port name appears, and the panel port is
// subscribed to each port that comes and --connect names. Subscriptions made
// by others are never touched.
#include <alsa/asoundlib.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/program.h"
#include "midi/device_links.h"
#include "midi/device_name.h"
#include "midi/device_table.h"
#include "midi/input_queue.h"
#include "midi/panel_connect.h"
#include "platform/linux/midi/midi_backend_linux.h"

namespace {

constexpr unsigned PORT_TYPE = SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION;

constexpr size_t INPUT_POOL = 2000;  // events; the sequencer's largest

// A device port's address for the device links: client << 8 | port, so
// that a client's ports share all but the low 8 bits.
uint64_t address_of(const snd_seq_addr_t& address) { return uint64_t(address.client) << 8 | address.port; }
snd_seq_addr_t seq_address(uint64_t address) {
    return {static_cast<unsigned char>(address >> 8), static_cast<unsigned char>(address & 0xFF)};
}
constexpr uint64_t WHOLE_CLIENT = ~uint64_t(0xFF);

// What a handle points to: our port.
struct Port {
    int port = -1;
};

// The devices and our ports of one direction; window thread only.
struct Side {
    bool output;
    int limit;                        // ports opened at most
    std::vector<DevicePort> devices;  // listing at count time
    Port ports[MAX_OUTPUTS];
    int used = 0;
};

struct Alsa {
    snd_seq_t* seq = nullptr;
    int client = -1;                      // our client number, whose ports are never devices
    snd_midi_event_t* encoder = nullptr;  // window thread only
    Port panel;
    Side inputs{false, MAX_INPUTS, {}, {}, 0};
    Side outputs{true, MAX_OUTPUTS, {}, {}, 0};
    unsigned dropped = 0;  // messages a receiver had no room for; window thread

    // Added by the window thread and kept by the event thread. A link's own
    // is our port's number.
    std::mutex links_lock;
    DeviceLinks links;
    std::vector<std::string> connect_names;  // --connect's and the map's; under links_lock
};

// Allocated once and never destroyed: the event thread may still run while
// the process ends.
Alsa& g_alsa = *new Alsa;

void alsa_quiet(const char*, int, const char*, int, const char*, ...) {}

// ---------------------------------------------------------------- listing

// Every other client's port with `caps`, in client-then-port order.
std::vector<DevicePort> list(unsigned caps) {
    std::vector<DevicePort> ports;
    snd_seq_client_info_t* client;
    snd_seq_port_info_t* port;
    snd_seq_client_info_alloca(&client);
    snd_seq_port_info_alloca(&port);
    snd_seq_client_info_set_client(client, -1);
    while (snd_seq_query_next_client(g_alsa.seq, client) >= 0) {
        const int number = snd_seq_client_info_get_client(client);
        if (number == SND_SEQ_CLIENT_SYSTEM || number == g_alsa.client) continue;
        snd_seq_port_info_set_client(port, number);
        snd_seq_port_info_set_port(port, -1);
        while (snd_seq_query_next_port(g_alsa.seq, port) >= 0) {
            const unsigned type = snd_seq_port_info_get_type(port);
            if (!(type & (SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_SYNTH | SND_SEQ_PORT_TYPE_APPLICATION)))
                continue;
            if ((snd_seq_port_info_get_capability(port) & caps) != caps) continue;
            ports.push_back({snd_seq_client_info_get_name(client), snd_seq_port_info_get_name(port),
                             address_of(*snd_seq_port_info_get_addr(port))});
        }
    }
    return ports;
}

constexpr unsigned READABLE = SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ;
constexpr unsigned WRITABLE = SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE;

void name_of(const std::vector<DevicePort>& ports, int device, char (&name)[MIDI_NAME_FIELD]) {
    if (device < 0 || size_t(device) >= ports.size()) {
        utf8_name_to_cp1252("", name);
        return;
    }
    const DevicePort& p = ports[size_t(device)];
    const snd_seq_addr_t address = seq_address(p.address);
    char numbers[16];
    std::snprintf(numbers, sizeof numbers, " %d:%d", address.client, address.port);
    utf8_name_to_cp1252((p.client + ":" + p.port + numbers).c_str(), name);
}

// ---------------------------------------------------------- subscriptions

// True when subscribed, also when the subscription was there already. The
// sequencer answers EBUSY for that and for a port another client holds
// exclusively, which refuses us until it lets go: only the first is ours.
bool subscribe(const DeviceLink& link, const DevicePort& to, void*) {
    snd_seq_port_subscribe_t* sub;
    snd_seq_port_subscribe_alloca(&sub);
    const snd_seq_addr_t own = {static_cast<unsigned char>(g_alsa.client), static_cast<unsigned char>(link.own)};
    const snd_seq_addr_t device = seq_address(to.address);
    snd_seq_port_subscribe_set_sender(sub, link.from_us ? &own : &device);
    snd_seq_port_subscribe_set_dest(sub, link.from_us ? &device : &own);
    const int result = snd_seq_subscribe_port(g_alsa.seq, sub);
    return result == 0 || (result == -EBUSY && snd_seq_get_port_subscription(g_alsa.seq, sub) == 0);
}

std::vector<DevicePort> present_ports(void*) { return list(0); }

const DeviceLinkCalls LINK_CALLS = {present_ports, subscribe, nullptr};

// With links_lock held: links from the panel port to the ports that came
// and the names choose.
void add_panel_links() {
    if (!g_alsa.connect_names.empty())
        panel_links_add(g_alsa.links, g_alsa.panel.port, g_alsa.connect_names, list(WRITABLE));
}

// ----------------------------------------------------------- event thread

// The kinds of input that can light a key, as the short message they carry.
void light_keys(const snd_seq_event_t& ev) {
    if (!input_queue_enabled()) return;
    const snd_seq_ev_note_t& note = ev.data.note;
    const snd_seq_ev_ctrl_t& control = ev.data.control;
    switch (ev.type) {
        case SND_SEQ_EVENT_NOTEON:
            input_queue_push(pack_short_message(0x90 | note.channel, note.note, note.velocity));
            break;
        case SND_SEQ_EVENT_NOTEOFF:
            input_queue_push(pack_short_message(0x80 | note.channel, note.note, note.velocity));
            break;
        case SND_SEQ_EVENT_CONTROLLER:
            input_queue_push(pack_short_message(0xB0 | control.channel, int(control.param), control.value));
            break;
        default: break;
    }
}

// Takes every event the client has; true when one announced a client or a
// port that came or changed.
bool take_events() {
    bool announced = false;
    snd_seq_event_t* ev = nullptr;
    for (;;) {
        const int result = snd_seq_event_input(g_alsa.seq, &ev);
        if (result == -EAGAIN) break;
        if (result < 0 || !ev) continue;  // -ENOSPC: input overflowed and was dropped
        if (ev->source.client != SND_SEQ_CLIENT_SYSTEM) {
            light_keys(*ev);  // input data: dropped, unless keys light from it
            continue;
        }
        switch (ev->type) {
            case SND_SEQ_EVENT_CLIENT_EXIT:
            case SND_SEQ_EVENT_PORT_EXIT: {
                const std::lock_guard<std::mutex> locked(g_alsa.links_lock);
                device_links_gone(g_alsa.links, address_of(ev->data.addr),
                                  ev->type == SND_SEQ_EVENT_CLIENT_EXIT ? WHOLE_CLIENT : ~uint64_t(0));
                break;
            }
            case SND_SEQ_EVENT_CLIENT_START:
            case SND_SEQ_EVENT_CLIENT_CHANGE:
            case SND_SEQ_EVENT_PORT_START:
            case SND_SEQ_EVENT_PORT_CHANGE: announced = true; break;
            default: break;
        }
    }
    return announced;
}

uint64_t monotonic_ms() {
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    return uint64_t(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

void event_thread() {
    const int count = snd_seq_poll_descriptors_count(g_alsa.seq, POLLIN);
    std::vector<pollfd> fds(size_t(count > 0 ? count : 0));
    snd_seq_poll_descriptors(g_alsa.seq, fds.data(), unsigned(fds.size()), POLLIN);
    int wait_ms = -1;
    for (;;) {
        const int ready = poll(fds.data(), fds.size(), wait_ms);
        if (ready < 0 && errno != EINTR) return;
        const bool announced = ready > 0 && take_events();
        if (!announced && wait_ms < 0) continue;  // input data alone, no retry pending
        const std::lock_guard<std::mutex> locked(g_alsa.links_lock);
        if (announced) add_panel_links();
        wait_ms = device_links_step(g_alsa.links, announced, monotonic_ms(), LINK_CALLS);
    }
}

// ---------------------------------------------------------- window thread

int make_port(const char* name, unsigned caps) { return snd_seq_create_simple_port(g_alsa.seq, name, caps, PORT_TYPE); }

// Makes our port for device `device` of `side` and subscribes it to the
// device's port; the link is kept from then on. Null when the device's port
// is gone or ours cannot be made, with nothing left behind.
MidiHandle open_port(Side& side, int device) {
    if (device < 0 || size_t(device) >= side.devices.size() || side.used == side.limit) return nullptr;
    const std::string own = (side.output ? "out " : "in ") + std::to_string(device);
    const int port = make_port(own.c_str(), side.output ? READABLE : WRITABLE);
    if (port < 0) return nullptr;
    DeviceLink link;
    link.own = port;
    link.from_us = side.output;
    link.device = side.devices[size_t(device)];
    const std::lock_guard<std::mutex> locked(g_alsa.links_lock);
    if (!subscribe(link, link.device, nullptr)) {
        snd_seq_delete_simple_port(g_alsa.seq, port);
        return nullptr;
    }
    device_links_add(g_alsa.links, link);
    Port& ours = side.ports[side.used++];
    ours.port = port;
    return &ours;
}

int count(Side& side) {
    side.devices = list(side.output ? WRITABLE : READABLE);
    return int(side.devices.size());
}

void send(const Port& out, uint32_t message) {
    const unsigned char bytes[3] = {static_cast<unsigned char>(message & 0xFF),
                                    static_cast<unsigned char>((message >> 8) & 0xFF),
                                    static_cast<unsigned char>((message >> 16) & 0xFF)};
    const long length = long(short_message_length(bytes[0]));
    if (length == 0) return;
    snd_seq_event_t ev;
    snd_seq_ev_clear(&ev);
    snd_midi_event_reset_encode(g_alsa.encoder);
    if (snd_midi_event_encode(g_alsa.encoder, bytes, length, &ev) != length || ev.type == SND_SEQ_EVENT_NONE) return;
    snd_seq_ev_set_source(&ev, static_cast<unsigned char>(out.port));
    snd_seq_ev_set_subs(&ev);
    snd_seq_ev_set_direct(&ev);
    if (snd_seq_event_output_direct(g_alsa.seq, &ev) < 0) ++g_alsa.dropped;
}

// At exit: what was sent is delivered already; only the count of what was
// dropped is left to say. The client goes with the process.
void stop() {
    if (g_alsa.dropped > 0)
        report_error("%u MIDI messages were dropped while their receivers took none", g_alsa.dropped);
    g_alsa.dropped = 0;
}

// Asked after start failed: no device node means no sequencer at all.
bool absent() { return access("/dev/snd/seq", F_OK) != 0; }

constexpr const char* NO_SEQUENCER = "no ALSA sequencer (/dev/snd/seq)";

const char* start(const char* client_name) {
    // Neither the device nor the node that loads its module: the open would
    // fail with ENOENT, after libasound had read its whole configuration (a
    // dozen files, several milliseconds) on the way to a JACK server.
    if (absent() && access("/dev/aloadSEQ", F_OK) != 0) return NO_SEQUENCER;
    // libasound prints its own lines when the device cannot be opened; the
    // one line of midi_backend_linux.cpp names the reason instead.
    snd_lib_error_set_handler(alsa_quiet);
    const int opened = snd_seq_open(&g_alsa.seq, "default", SND_SEQ_OPEN_DUPLEX, SND_SEQ_NONBLOCK);
    snd_lib_error_set_handler(nullptr);
    if (opened < 0) {
        g_alsa.seq = nullptr;
        switch (opened) {
            case -ENOENT:
            case -ENODEV: return NO_SEQUENCER;
            case -EACCES:
            case -EPERM: return "no permission to use the ALSA sequencer (/dev/snd/seq)";
            case -ENOMEM:
            case -EBUSY: return "the ALSA sequencer has no client free";
            default: return "the ALSA sequencer cannot be opened";
        }
    }
    g_alsa.client = snd_seq_client_id(g_alsa.seq);
    snd_seq_set_client_name(g_alsa.seq, client_name);
    // Input is taken as it arrives; the most room the sequencer gives lets
    // a burst wait while the event thread waits for a processor.
    snd_seq_set_client_pool_input(g_alsa.seq, INPUT_POOL);
    g_alsa.panel.port = make_port("panel", READABLE);
    const int announce = make_port("announce", SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_NO_EXPORT);
    if (g_alsa.panel.port < 0 || announce < 0 || snd_midi_event_new(16, &g_alsa.encoder) < 0) {
        snd_seq_close(g_alsa.seq);
        g_alsa.seq = nullptr;
        return "the ALSA sequencer cannot be opened";
    }
    // Without the announcements or the thread, devices that go are not
    // subscribed again; all else works.
    snd_seq_connect_from(g_alsa.seq, announce, SND_SEQ_CLIENT_SYSTEM, SND_SEQ_PORT_SYSTEM_ANNOUNCE);
    try {
        std::thread(event_thread).detach();
    } catch (...) {
    }
    return nullptr;
}

int in_count() { return count(g_alsa.inputs); }
void in_name(int device, char (&name)[MIDI_NAME_FIELD]) { name_of(g_alsa.inputs.devices, device, name); }
MidiHandle in_open(int device) { return open_port(g_alsa.inputs, device); }
int out_count() { return count(g_alsa.outputs); }
void out_name(int device, char (&name)[MIDI_NAME_FIELD]) { name_of(g_alsa.outputs.devices, device, name); }
MidiHandle out_open(int device) { return open_port(g_alsa.outputs, device); }

void out_send(MidiHandle out, uint32_t message) { send(*static_cast<const Port*>(out), message); }

void panel_send(uint32_t message) {
    if (g_alsa.seq) send(g_alsa.panel, message);
}

// Links and subscribes at once; the event thread adds the ports that come
// later. A port that refuses now is tried again at the next announcement.
void connect_panel(const std::vector<std::string>& names) {
    if (!g_alsa.seq) return;
    const std::lock_guard<std::mutex> locked(g_alsa.links_lock);
    g_alsa.connect_names = names;
    add_panel_links();
    device_links_step(g_alsa.links, true, monotonic_ms(), LINK_CALLS);
}

}  // namespace

extern const MidiBackend ALSA_BACKEND = {MIDI_SYSTEM_ALSA,
                                         "no ALSA sequencer",
                                         absent,
                                         start,
                                         in_count,
                                         in_name,
                                         in_open,
                                         out_count,
                                         out_name,
                                         out_open,
                                         out_send,
                                         panel_send,
                                         stop,
                                         connect_panel};
