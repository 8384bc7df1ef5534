// The JACK backend of the Linux MIDI layer (midi_backend_linux.h) over
// libjack: one client "ZORVE_BUTTON" (or the name the server gives when that
// one is taken) with an output port "out d" per open output device, an input
// port "in d" per open input device, and the output port "panel", connected
// to nothing but the ports --connect and the map name, that carries
// everything the panel sends. The server is never started here.
//
// Threads. The window thread lists, opens and sends. Sends go into one
// single-producer ring per output port, so the window thread never waits for
// the server; JACK's process thread moves them into the port buffers at the
// start of each cycle, and reads the input ports only while keys light from
// input (input_queue.h). The registration callback, on JACK's notification
// thread, notes the ports that went away; a reconnect thread of our own
// hands them and every port that came to the device links (device_links.h),
// which connect a device again when a port of its full name appears, and
// links the panel port to each port that comes and --connect names.
// Connections made by others are never touched. A server that goes away
// ends all sending, not the program.
//
// The server is reached only through server_jack.h, so that tests can put a
// fake one in its place.
#include <jack/ringbuffer.h>
#include <semaphore.h>
#include <time.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
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
#include "platform/linux/midi/server_jack.h"

namespace {

// Why a client cannot be made, as far as libjack tells.
constexpr const char* NO_SERVER = "no JACK server running";

// Each queued message is 4 bytes (three message bytes and its length); the
// ring keeps one byte free, so 255 fit: far more than piles up in one cycle
// of the longest period, and no long stale backlog after a stall.
constexpr size_t RING_BYTES = 1024;
constexpr size_t QUEUED = 4;

// Messages written to one port in one cycle. A backlog (the server stalled a
// while) goes out over several cycles, in order, rather than all at once
// into receivers' buffers; at 256 frames and 48 kHz that is 6000 a second.
constexpr int PER_CYCLE = 32;

// A process call this long after the previous one, and more than
// STALL_PERIODS periods, means the server stalled (stopped, or far behind);
// the cycles after such a stall run late for a while and data written into
// them may never be read, so the queued messages wait until the cycles have
// run on time for HOLD_US.
constexpr jack_time_t STALL_US = 100000;
constexpr jack_time_t STALL_PERIODS = 4;
constexpr jack_time_t HOLD_US = 100000;

// The own of the panel port's links: above every device number.
constexpr int PANEL_LINK = 1000;

struct Output {
    jack_port_t* port = nullptr;
    jack_ringbuffer_t* ring = nullptr;
    // Process thread only. Its buffer may hold events: it is new, or was
    // written in the last cycle. JACK leaves an output port's buffer as the
    // client left it, so one cleared and not written since need not be
    // fetched or cleared again.
    bool dirty = true;
};

struct Input {
    jack_port_t* port = nullptr;
};

struct Jack {
    jack_client_t* client = nullptr;
    std::string own_prefix;  // "<client name>:", whose ports are never devices

    // Slot 0 is the panel port. A slot is filled by the window thread and
    // then published to the process thread through `outputs_live`.
    Output outputs[1 + MAX_OUTPUTS];
    int outputs_used = 0;
    std::atomic<int> outputs_live{0};
    Input inputs[MAX_INPUTS];
    int inputs_used = 0;
    std::atomic<int> inputs_live{0};  // published to the process thread as outputs are

    // A device link's own is its device number, which names our port (the
    // panel port's links: PANEL_LINK); its device's client and port name are
    // the full name split at the first colon (a client name has none), its
    // address the port's handle. Under `requests`.
    DeviceLinks links;
    // Handles of ports that went, from the registration callback to the
    // reconnect thread; never held over a call to the server.
    std::mutex gone_lock;
    std::vector<uint64_t> ports_gone;

    std::vector<std::string> in_names;  // device listings at count time
    std::vector<std::string> out_names;

    std::atomic<bool> gone{false};    // the server ended; set on libjack's thread
    std::atomic<uint32_t> cycles{0};  // process cycles run, for the drain at stop; written by the process thread only
    jack_nframes_t sample_rate = 48000;
    // Messages queued so far: written by the window thread only, after the
    // message is in its ring. The process thread walks the ports only when
    // this moved, a port was added, or the last walk left work behind (a
    // message still queued, a buffer written); an idle cycle touches no
    // ring and no port.
    std::atomic<uint32_t> queued{0};
    uint32_t queued_seen = 0;  // process thread only, as are the next three
    int outputs_seen = 0;
    bool ports_busy = false;
    jack_nframes_t cleared_frames = 0;  // the period the clean buffers were cleared at
    jack_time_t last_process_us = 0;    // process thread only
    jack_time_t hold_until_us = 0;      // process thread only
    unsigned dropped = 0;               // messages a full ring refused; window thread

    // libjack's requests to the server share one socket per client and must
    // not overlap: the window thread and the reconnect thread take turns,
    // and keep the links under it. Never taken on JACK's threads.
    std::mutex requests;

    std::vector<std::string> connect_names;  // --connect's and the map's; under `requests`

    sem_t wake;  // posted by the callbacks and at stop; waited on by the reconnect thread
    std::atomic<bool> stopping{false};
    std::atomic<bool> reconnect_ended{false};
};

// The client of this run, made by start. JACK's threads and the
// reconnect thread get it as their argument; stop frees it only when
// none of them can run any more, else it stays until the process ends.
Jack* g_jack = nullptr;

// ----------------------------------------------------------- JACK's threads

// Process thread: moves what `out` has queued into its buffer; the buffer is
// cleared first, and in any cycle after one that wrote it. True when it has
// work left for the next cycle: messages still queued, or a buffer to clear.
bool send_queued(Output& out, jack_nframes_t frames, bool hold, bool resized) {
    const bool waiting = jack_ringbuffer_read_space(out.ring) >= QUEUED;
    if (hold || !waiting) {
        if (out.dirty || resized) jack_server_midi_clear_buffer(jack_server_port_get_buffer(out.port, frames));
        out.dirty = false;
        return waiting;
    }
    void* buffer = jack_server_port_get_buffer(out.port, frames);
    jack_server_midi_clear_buffer(buffer);
    out.dirty = false;
    unsigned char queued[QUEUED];
    for (int n = 0; n < PER_CYCLE; ++n) {
        if (jack_ringbuffer_peek(out.ring, reinterpret_cast<char*>(queued), QUEUED) != QUEUED) return out.dirty;
        if (jack_server_midi_event_write(buffer, 0, queued, queued[3]) != 0) return true;
        jack_ringbuffer_read_advance(out.ring, QUEUED);
        out.dirty = true;
    }
    return true;
}

// Real-time thread: no allocation, no lock, no system call (jack_get_time
// reads the monotonic clock through the vDSO). Queued messages go out at the
// cycle's first frame, in order; what the port buffer cannot take, what is
// beyond PER_CYCLE, and everything during the hold after a stall, waits in
// the ring for a later cycle. A cycle with nothing to do touches no ring and
// no port: the buffers are in JACK's shared memory, a page apart, and after
// the thread's wait every line it reads is a cold miss.
int process(jack_nframes_t frames, void* arg) {
    Jack& jack = *static_cast<Jack*>(arg);
    const jack_time_t now = jack_server_get_time();
    const jack_time_t period_us = jack_time_t(frames) * 1000000 / jack.sample_rate;
    const jack_time_t stall_us = std::max(STALL_US, STALL_PERIODS * period_us);
    if (jack.last_process_us != 0 && now - jack.last_process_us > stall_us) jack.hold_until_us = now + HOLD_US;
    jack.last_process_us = now;
    const bool hold = now < jack.hold_until_us;
    const int live = jack.outputs_live.load(std::memory_order_acquire);
    const uint32_t queued = jack.queued.load(std::memory_order_acquire);
    const bool resized = frames != jack.cleared_frames;  // the server may have set the buffers up again
    if (queued != jack.queued_seen || live != jack.outputs_seen || resized || jack.ports_busy) {
        jack.queued_seen = queued;
        jack.outputs_seen = live;
        jack.cleared_frames = frames;
        bool busy = false;
        for (int i = 0; i < live; ++i) busy = send_queued(jack.outputs[i], frames, hold, resized) || busy;
        jack.ports_busy = busy;
    }
    // Input is read only to light keys; otherwise it stays in the port
    // buffers, which JACK clears each cycle. The count first: with no input
    // open, the switch's page (another module's) is not touched.
    const int inputs = jack.inputs_live.load(std::memory_order_acquire);
    if (inputs > 0 && input_queue_enabled()) {
        for (int i = 0; i < inputs; ++i) {
            void* buffer = jack_server_port_get_buffer(jack.inputs[i].port, frames);
            const uint32_t count = jack_server_midi_get_event_count(buffer);
            for (uint32_t e = 0; e < count; ++e) {
                jack_midi_event_t event;
                if (jack_server_midi_event_get(&event, buffer, e) != 0 || event.size < 2 || event.size > 3) continue;
                input_queue_push(
                    pack_short_message(event.buffer[0], event.buffer[1], event.size == 3 ? event.buffer[2] : 0));
            }
        }
    }
    // The only writer: a plain store, no locked read-modify-write.
    jack.cycles.store(jack.cycles.load(std::memory_order_relaxed) + 1, std::memory_order_release);
    return 0;
}

uint64_t address_of(const jack_port_t* port) { return reinterpret_cast<uintptr_t>(port); }

// Notification thread. A port that goes away may be a device's: its handle
// is noted here, while it still names that port, as a port of the same name
// may take its slot before the reconnect thread looks. That thread is woken
// for every port that comes or goes.
void on_registration(jack_port_id_t id, int registered, void* arg) {
    Jack& jack = *static_cast<Jack*>(arg);
    if (const jack_port_t* port = registered ? nullptr : jack_server_port_by_id(jack.client, id)) {
        const std::lock_guard<std::mutex> locked(jack.gone_lock);
        jack.ports_gone.push_back(address_of(port));
    }
    sem_post(&jack.wake);
}

void on_shutdown(jack_status_t, const char*, void* arg) {
    Jack& jack = *static_cast<Jack*>(arg);
    jack.gone.store(true);
    sem_post(&jack.wake);
}

void jack_message(const char* text) { report_error("JACK: %s", text); }
void jack_quiet(const char*) {}

// ------------------------------------------------------- reconnect thread

uint64_t monotonic_ms() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return uint64_t(now.tv_sec) * 1000 + uint64_t(now.tv_nsec) / 1000000;
}

DevicePort device_port(const std::string& full_name, const jack_port_t* port) {
    const size_t colon = full_name.find(':');
    return {full_name.substr(0, colon), colon == std::string::npos ? "" : full_name.substr(colon + 1),
            address_of(port)};
}

// With `requests` held: the device links' calls, and a link's first connect.
bool connect(Jack& jack, const DeviceLink& link, const DevicePort& device) {
    const std::string own =
        jack.own_prefix +
        (link.own == PANEL_LINK ? "panel" : (link.from_us ? "out " : "in ") + std::to_string(link.own));
    const std::string other = device.client + ":" + device.port;
    const int result = link.from_us ? jack_server_connect(jack.client, own.c_str(), other.c_str())
                                    : jack_server_connect(jack.client, other.c_str(), own.c_str());
    return result == 0 || result == EEXIST;
}

std::vector<DevicePort> present_ports(void* arg) {
    Jack& jack = *static_cast<Jack*>(arg);
    std::vector<DevicePort> ports;
    const char** names = jack_server_get_ports(jack.client, nullptr, JACK_DEFAULT_MIDI_TYPE, 0);
    if (!names) return ports;
    for (const char** p = names; *p; ++p)
        if (const jack_port_t* port = jack_server_port_by_name(jack.client, *p)) ports.push_back(device_port(*p, port));
    jack_server_free(names);
    return ports;
}

bool link_port(const DeviceLink& link, const DevicePort& to, void* arg) {
    return connect(*static_cast<Jack*>(arg), link, to);
}

// With `requests` held: the ports the panel port may connect to, every
// MIDI input but ours.
std::vector<DevicePort> receivers(Jack& jack) {
    std::vector<DevicePort> ports;
    const char** names = jack_server_get_ports(jack.client, nullptr, JACK_DEFAULT_MIDI_TYPE, JackPortIsInput);
    if (!names) return ports;
    for (const char** p = names; *p; ++p)
        if (std::strncmp(*p, jack.own_prefix.c_str(), jack.own_prefix.size()) != 0)
            if (const jack_port_t* port = jack_server_port_by_name(jack.client, *p))
                ports.push_back(device_port(*p, port));
    jack_server_free(names);
    return ports;
}

void reconnect_thread(Jack& jack) {
    const DeviceLinkCalls calls = {present_ports, link_port, &jack};
    int wait_ms = -1;
    while (!jack.stopping.load() && !jack.gone.load()) {
        bool woken;
        if (wait_ms < 0) {
            woken = sem_wait(&jack.wake) == 0;
        } else {
            timespec until;
            clock_gettime(CLOCK_MONOTONIC, &until);
            until.tv_sec += wait_ms / 1000;
            until.tv_nsec += (wait_ms % 1000) * 1000000L;
            if (until.tv_nsec >= 1000000000L) until.tv_sec += 1, until.tv_nsec -= 1000000000L;
            woken = sem_clockwait(&jack.wake, CLOCK_MONOTONIC, &until) == 0;
        }
        while (sem_trywait(&jack.wake) == 0) {  // events that came together are one pass
        }
        if (jack.stopping.load() || jack.gone.load()) break;
        const std::lock_guard<std::mutex> turn(jack.requests);
        {
            const std::lock_guard<std::mutex> locked(jack.gone_lock);
            for (const uint64_t address : jack.ports_gone) device_links_gone(jack.links, address);
            jack.ports_gone.clear();
        }
        // A port that came, or names given anew, may add links, which this
        // step's pass connects.
        if (woken && !jack.connect_names.empty())
            panel_links_add(jack.links, PANEL_LINK, jack.connect_names, receivers(jack));
        wait_ms = device_links_step(jack.links, woken, monotonic_ms(), calls);
    }
    jack.reconnect_ended.store(true);
}

// ------------------------------------------------------------ window thread

jack_port_t* register_port(Jack& jack, const std::string& name, unsigned long flags) {
    return jack_server_port_register(jack.client, name.c_str(), JACK_DEFAULT_MIDI_TYPE, flags, 0);
}

// Fills the next output slot with `port` and a ring; false when no ring.
bool fill_output(Jack& jack, jack_port_t* port) {
    Output& out = jack.outputs[jack.outputs_used];
    out.ring = jack_ringbuffer_create(RING_BYTES);
    if (!out.ring) return false;
    jack_ringbuffer_mlock(out.ring);  // best effort: no page faults on the real-time thread
    out.port = port;
    return true;
}

void publish_output(Jack& jack) { jack.outputs_live.store(++jack.outputs_used, std::memory_order_release); }

std::vector<std::string> list(Jack& jack, unsigned long flags) {
    std::vector<std::string> names;
    if (jack.gone.load()) return names;
    const std::lock_guard<std::mutex> turn(jack.requests);
    const char** ports = jack_server_get_ports(jack.client, nullptr, JACK_DEFAULT_MIDI_TYPE, flags);
    if (!ports) return names;
    for (const char** p = ports; *p; ++p)
        if (std::strncmp(*p, jack.own_prefix.c_str(), jack.own_prefix.size()) != 0) names.emplace_back(*p);
    jack_server_free(ports);
    return names;
}

void name_of(const std::vector<std::string>& names, int device, char (&name)[MIDI_NAME_FIELD]) {
    const bool known = device >= 0 && size_t(device) < names.size();
    utf8_name_to_cp1252(known ? names[size_t(device)].c_str() : "", name);
}

// Registers our port for device `device` and connects it to the device's
// port; the link is kept from then on. A device port that exists but refuses
// the connection belongs to a client not yet active (its ports are listed
// before): the link then waits for it, as after a restart. Null when the
// device's port is gone or ours cannot be made, with nothing left registered.
jack_port_t* open_port(Jack& jack, const std::vector<std::string>& names, int device, bool output) {
    if (device < 0 || size_t(device) >= names.size() || jack.gone.load()) return nullptr;
    if (output && jack.outputs_used == 1 + MAX_OUTPUTS) return nullptr;
    if (!output && jack.inputs_used == MAX_INPUTS) return nullptr;
    const std::lock_guard<std::mutex> turn(jack.requests);
    const std::string own = (output ? "out " : "in ") + std::to_string(device);
    jack_port_t* port = register_port(jack, own, output ? JackPortIsOutput : JackPortIsInput);
    if (!port) return nullptr;
    const std::string& name = names[size_t(device)];
    DeviceLink link;
    link.own = device;
    link.from_us = output;
    link.device = device_port(name, jack_server_port_by_name(jack.client, name.c_str()));
    const bool filled = !output || fill_output(jack, port);
    const bool connected = filled && connect(jack, link, link.device);
    if (!filled || (!connected && link.device.address == 0)) {
        if (output && filled) jack_ringbuffer_free(jack.outputs[jack.outputs_used].ring);
        jack_server_port_unregister(jack.client, port);
        return nullptr;
    }
    link.lost = !connected;
    device_links_add(jack.links, link);
    if (!connected) sem_post(&jack.wake);
    return port;
}

void queue(Jack& jack, Output& out, uint32_t message) {
    const unsigned char length = static_cast<unsigned char>(short_message_length(message & 0xFF));
    if (length == 0 || jack.gone.load(std::memory_order_relaxed)) return;
    const unsigned char queued[QUEUED] = {static_cast<unsigned char>(message & 0xFF),
                                          static_cast<unsigned char>((message >> 8) & 0xFF),
                                          static_cast<unsigned char>((message >> 16) & 0xFF), length};
    if (jack_ringbuffer_write_space(out.ring) < QUEUED) {
        ++jack.dropped;  // the server takes nothing (stalled): the newest message goes
        return;
    }
    jack_ringbuffer_write(out.ring, reinterpret_cast<const char*>(queued), QUEUED);
    jack.queued.store(jack.queued.load(std::memory_order_relaxed) + 1, std::memory_order_release);
}

bool rings_empty(const Jack& jack) {
    for (int i = 0; i < jack.outputs_used; ++i)
        if (jack_ringbuffer_read_space(jack.outputs[i].ring) != 0) return false;
    return true;
}

// A message sent just before (the release of a key held while the window
// closed) is still in its ring until the next cycle, so the client stays
// until the rings are empty and one more cycle has run, at most a second.
// Then it closes, unless the server has gone or stalled, or the reconnect
// thread is inside a call to it: the process end then ends it.
void close_client(Jack& jack) {
    if (jack.dropped > 0) report_error("%u MIDI messages were dropped while the JACK server took none", jack.dropped);
    jack.stopping.store(true);
    sem_post(&jack.wake);
    const uint64_t deadline = monotonic_ms() + 1000;
    const timespec pause{0, 1000000};
    while (!jack.reconnect_ended.load() && monotonic_ms() < deadline) nanosleep(&pause, nullptr);
    if (!jack.reconnect_ended.load() || jack.gone.load()) return;
    while (!rings_empty(jack) && !jack.gone.load() && monotonic_ms() < deadline) nanosleep(&pause, nullptr);
    const uint32_t emptied = jack.cycles.load(std::memory_order_acquire);
    while (jack.cycles.load(std::memory_order_acquire) == emptied && !jack.gone.load() && monotonic_ms() < deadline)
        nanosleep(&pause, nullptr);
    if (jack.cycles.load(std::memory_order_acquire) == emptied || jack.gone.load()) return;
    jack_server_client_close(jack.client);
    // No thread of ours or of libjack's reads the state any more.
    for (int i = 0; i < jack.outputs_used; ++i) jack_ringbuffer_free(jack.outputs[i].ring);
    sem_destroy(&jack.wake);
    delete &jack;
}

// libjack prints several lines when no server runs; asking quietly leaves the
// one line of midi_backend_linux.cpp instead. The panel port and the process
// callback are in place before the client is activated; device ports join
// the running client as they are opened.
const char* start(const char* client_name) {
    jack_set_error_function(jack_quiet);
    jack_set_info_function(jack_quiet);
    jack_status_t status;
    jack_client_t* client = jack_server_client_open(client_name, JackNoStartServer, &status);
    jack_set_error_function(jack_message);
    if (!client) return NO_SERVER;
    Jack& jack = *new Jack;
    jack.client = client;
    jack.own_prefix = std::string(jack_server_get_client_name(client)) + ":";
    if (jack_server_get_sample_rate(client) > 0) jack.sample_rate = jack_server_get_sample_rate(client);
    sem_init(&jack.wake, 0, 0);
    jack_server_set_process_callback(client, process, &jack);
    jack_server_on_info_shutdown(client, on_shutdown, &jack);
    jack_server_set_port_registration_callback(client, on_registration, &jack);
    jack_port_t* panel = register_port(jack, "panel", JackPortIsOutput);
    if (!panel || !fill_output(jack, panel) || jack_server_activate(client) != 0) {
        jack_server_client_close(client);
        if (panel && jack.outputs[0].ring) jack_ringbuffer_free(jack.outputs[0].ring);
        sem_destroy(&jack.wake);
        delete &jack;
        return NO_SERVER;
    }
    publish_output(jack);
    // The first listing reads one page per slot of the server's port table,
    // and a process's first touch of a page is slow (docs/performance.md,
    // start-up). Started early (see midi_begin_choice), that happens while
    // the window is being made.
    if (const char** ports = jack_server_get_ports(client, nullptr, JACK_DEFAULT_MIDI_TYPE, 0)) jack_server_free(ports);
    try {
        std::thread(reconnect_thread, std::ref(jack)).detach();
    } catch (...) {
        jack.reconnect_ended.store(true);  // no thread: connections are not kept, all else works
    }
    g_jack = &jack;
    return nullptr;
}

// Its start fails only where no server runs.
bool absent() { return true; }

void stop() {
    if (!g_jack) return;
    close_client(*g_jack);
    g_jack = nullptr;
}

int in_count() {
    g_jack->in_names = list(*g_jack, JackPortIsOutput);
    return int(g_jack->in_names.size());
}

void in_name(int device, char (&name)[MIDI_NAME_FIELD]) { name_of(g_jack->in_names, device, name); }

MidiHandle in_open(int device) {
    jack_port_t* port = open_port(*g_jack, g_jack->in_names, device, false);
    if (!port) return nullptr;
    Input& in = g_jack->inputs[g_jack->inputs_used++];
    in.port = port;
    g_jack->inputs_live.store(g_jack->inputs_used, std::memory_order_release);
    return &in;
}

int out_count() {
    g_jack->out_names = list(*g_jack, JackPortIsInput);
    return int(g_jack->out_names.size());
}

void out_name(int device, char (&name)[MIDI_NAME_FIELD]) { name_of(g_jack->out_names, device, name); }

MidiHandle out_open(int device) {
    if (!open_port(*g_jack, g_jack->out_names, device, true)) return nullptr;
    Output& out = g_jack->outputs[g_jack->outputs_used];
    publish_output(*g_jack);
    return &out;
}

void out_send(MidiHandle out, uint32_t message) { queue(*g_jack, *static_cast<Output*>(out), message); }

void panel_send(uint32_t message) {
    if (g_jack->outputs_used > 0) queue(*g_jack, g_jack->outputs[0], message);
}

// The reconnect thread links and connects, at once and as ports come.
void connect_panel(const std::vector<std::string>& names) {
    if (!g_jack) return;
    {
        const std::lock_guard<std::mutex> turn(g_jack->requests);
        g_jack->connect_names = names;
    }
    sem_post(&g_jack->wake);
}

}  // namespace

extern const MidiBackend JACK_BACKEND = {MIDI_SYSTEM_JACK, NO_SERVER,  absent,    start,        in_count,
                                         in_name,          in_open,    out_count, out_name,     out_open,
                                         out_send,         panel_send, stop,      connect_panel};
