// A JACK server in memory: server_jack.h for the JACK backend's unit tests
// (see fake_server_jack.h). One client at a time; every call may come from
// any thread.
#include "fake_server_jack.h"

#include <time.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <utility>

#include "platform/linux/midi/server_jack.h"

namespace {

struct Slot {
    std::string name;  // empty: free
    bool output = false;
    // The port's buffer: kept from cycle to cycle as the client left it,
    // emptied only by a clear.
    std::vector<std::string> buffer;
};

struct Server {
    std::mutex lock;
    std::condition_variable changed;
    std::vector<Slot> slots;  // a port's id is its index + 1
    std::set<std::pair<std::string, std::string>> connections;
    std::set<std::string> inactive;                           // client names
    std::map<std::string, std::vector<std::string>> written;  // by port name, kept after the port goes
    std::map<std::string, std::vector<std::string>> read;     // by port name: each cycle's buffer, in order
    std::string stale;                                        // what a new port's buffer starts with
    int refusals = 0;
    std::string client;  // ours; empty when none is open
    bool closed = false;
    uint32_t frames = 256;

    JackProcessCallback process = nullptr;
    void* process_arg = nullptr;
    JackPortRegistrationCallback notice = nullptr;
    void* notice_arg = nullptr;
    std::deque<std::pair<jack_port_id_t, int>> notices;
    bool held = false;
    int let_through = 0;  // held notices that may still go out
    bool delivering = false;

    std::thread cycles;
    std::atomic<bool> cycling{false};
    std::atomic<uint64_t> cycles_run{0};
    std::atomic<uint64_t> fetches{0};  // port buffers fetched by the client
};

// Never destroyed: the notification thread outlives every test.
Server& server = *new Server;

jack_port_t* handle(size_t index) { return reinterpret_cast<jack_port_t*>(uintptr_t(index + 1)); }
Slot* slot_of(const jack_port_t* port) {
    const uintptr_t id = reinterpret_cast<uintptr_t>(port);
    return id >= 1 && id <= server.slots.size() ? &server.slots[id - 1] : nullptr;
}
Slot* slot_named(const std::string& name) {
    for (Slot& s : server.slots)
        if (s.name == name) return &s;
    return nullptr;
}
std::string client_of(const std::string& port) { return port.substr(0, port.find(':')); }

// Caller holds the lock.
void add(const std::string& name, bool output) {
    auto free = std::find_if(server.slots.begin(), server.slots.end(), [](const Slot& s) { return s.name.empty(); });
    if (free == server.slots.end()) free = server.slots.insert(free, Slot{});
    *free = Slot{name, output, {}};
    if (!server.stale.empty()) free->buffer.push_back(server.stale);
    if (server.notice) server.notices.emplace_back(jack_port_id_t(free - server.slots.begin() + 1), 1);
    server.changed.notify_all();
}

void remove(Slot& slot) {
    std::erase_if(server.connections, [&](const auto& c) { return c.first == slot.name || c.second == slot.name; });
    slot.name.clear();
    if (server.notice) server.notices.emplace_back(jack_port_id_t(&slot - server.slots.data() + 1), 0);
    server.changed.notify_all();
}

// JACK's notification thread: one notice at a time, in order, unlocked.
void deliver_notices() {
    std::unique_lock<std::mutex> hold(server.lock);
    for (;;) {
        server.changed.wait(hold, [] { return (!server.held || server.let_through > 0) && !server.notices.empty(); });
        if (server.held) --server.let_through;
        const auto [id, registered] = server.notices.front();
        server.notices.pop_front();
        server.delivering = true;
        const JackPortRegistrationCallback notice = server.notice;
        void* arg = server.notice_arg;
        hold.unlock();
        if (notice) notice(id, registered, arg);
        hold.lock();
        server.delivering = false;
        server.changed.notify_all();
    }
}

void run_cycles(uint32_t frames) {
    const long period_ns = long(frames) * 1000000000L / 48000;
    const timespec pause{period_ns / 1000000000L, period_ns % 1000000000L};
    while (server.cycling.load()) {
        nanosleep(&pause, nullptr);
        server.process(frames, server.process_arg);
        const std::lock_guard<std::mutex> hold(server.lock);
        for (const Slot& s : server.slots)
            if (!s.name.empty())
                server.read[s.name].insert(server.read[s.name].end(), s.buffer.begin(), s.buffer.end());
        server.cycles_run.fetch_add(1);
    }
}

void stop_cycles() {
    server.cycling.store(false);
    if (server.cycles.joinable()) server.cycles.join();
}

}  // namespace

namespace fake {

void jack_reset() {
    static std::once_flag started;
    std::call_once(started, [] { std::thread(deliver_notices).detach(); });
    stop_cycles();
    jack_hold_notices(false);
    jack_flush_notices();
    const std::lock_guard<std::mutex> hold(server.lock);
    server.slots.clear();
    server.connections.clear();
    server.inactive.clear();
    server.written.clear();
    server.read.clear();
    server.stale.clear();
    server.refusals = 0;
    server.client.clear();
    server.closed = false;
    server.frames = 256;
    server.notice = nullptr;
}

void jack_period(uint32_t frames) {
    const std::lock_guard<std::mutex> hold(server.lock);
    server.frames = frames;
}

void jack_add_port(const std::string& full_name, bool output) {
    const std::lock_guard<std::mutex> hold(server.lock);
    add(full_name, output);
}

void jack_remove_port(const std::string& full_name) {
    const std::lock_guard<std::mutex> hold(server.lock);
    if (Slot* s = slot_named(full_name)) remove(*s);
}

void jack_set_active(const std::string& client, bool active) {
    const std::lock_guard<std::mutex> hold(server.lock);
    if (active)
        server.inactive.erase(client);
    else
        server.inactive.insert(client);
}

void jack_refuse_connects(int n) {
    const std::lock_guard<std::mutex> hold(server.lock);
    server.refusals = n;
}

void jack_hold_notices(bool held) {
    const std::lock_guard<std::mutex> hold(server.lock);
    server.held = held;
    server.let_through = 0;
    server.changed.notify_all();
}

void jack_let_notices_through(int n) {
    const std::lock_guard<std::mutex> hold(server.lock);
    server.let_through += n;
    server.changed.notify_all();
}

void jack_flush_notices() {
    std::unique_lock<std::mutex> hold(server.lock);
    server.changed.wait(hold, [] { return server.notices.empty() && !server.delivering; });
}

void jack_user_connect(const std::string& source, const std::string& destination) {
    const std::lock_guard<std::mutex> hold(server.lock);
    server.connections.emplace(source, destination);
}

void jack_user_disconnect(const std::string& source, const std::string& destination) {
    const std::lock_guard<std::mutex> hold(server.lock);
    server.connections.erase({source, destination});
}

bool jack_connected(const std::string& source, const std::string& destination) {
    const std::lock_guard<std::mutex> hold(server.lock);
    return server.connections.count({source, destination}) != 0;
}

std::vector<std::string> jack_written(const std::string& full_name) {
    const std::lock_guard<std::mutex> hold(server.lock);
    return server.written[full_name];
}

std::vector<std::string> jack_read(const std::string& full_name) {
    const std::lock_guard<std::mutex> hold(server.lock);
    return server.read[full_name];
}

uint64_t jack_cycles() { return server.cycles_run.load(); }
uint64_t jack_buffer_fetches() { return server.fetches.load(); }

void jack_stale_buffers(const std::string& message) {
    const std::lock_guard<std::mutex> hold(server.lock);
    server.stale = message;
}

bool jack_client_closed() {
    const std::lock_guard<std::mutex> hold(server.lock);
    return server.closed;
}

}  // namespace fake

// ------------------------------------------------------------ server_jack.h

jack_client_t* jack_server_client_open(const char* name, jack_options_t, jack_status_t* status) {
    const std::lock_guard<std::mutex> hold(server.lock);
    *status = jack_status_t(0);
    server.client = name;
    return reinterpret_cast<jack_client_t*>(&server);
}

// As libjack's: no callback runs once it has returned.
int jack_server_client_close(jack_client_t*) {
    stop_cycles();
    std::unique_lock<std::mutex> hold(server.lock);
    server.notice = nullptr;
    server.notices.clear();
    server.changed.wait(hold, [] { return !server.delivering; });
    for (Slot& s : server.slots)
        if (!s.name.empty() && client_of(s.name) == server.client) remove(s);
    server.client.clear();
    server.closed = true;
    return 0;
}

const char* jack_server_get_client_name(jack_client_t*) { return server.client.c_str(); }
jack_nframes_t jack_server_get_sample_rate(jack_client_t*) { return 48000; }

int jack_server_set_process_callback(jack_client_t*, JackProcessCallback callback, void* arg) {
    server.process = callback;
    server.process_arg = arg;
    return 0;
}

void jack_server_on_info_shutdown(jack_client_t*, JackInfoShutdownCallback, void*) {}

int jack_server_set_port_registration_callback(jack_client_t*, JackPortRegistrationCallback callback, void* arg) {
    const std::lock_guard<std::mutex> hold(server.lock);
    server.notice = callback;
    server.notice_arg = arg;
    return 0;
}

int jack_server_activate(jack_client_t*) {
    const std::lock_guard<std::mutex> hold(server.lock);
    server.cycling.store(true);
    server.cycles = std::thread(run_cycles, server.frames);
    return 0;
}

jack_port_t* jack_server_port_register(jack_client_t*, const char* name, const char*, unsigned long flags,
                                       unsigned long) {
    const std::lock_guard<std::mutex> hold(server.lock);
    const std::string full = server.client + ":" + name;
    if (slot_named(full)) return nullptr;
    add(full, (flags & JackPortIsOutput) != 0);
    return handle(size_t(slot_named(full) - server.slots.data()));
}

int jack_server_port_unregister(jack_client_t*, jack_port_t* port) {
    const std::lock_guard<std::mutex> hold(server.lock);
    Slot* s = slot_of(port);
    if (!s || s->name.empty()) return -1;
    remove(*s);
    return 0;
}

const char* jack_server_port_name(const jack_port_t* port) {
    const std::lock_guard<std::mutex> hold(server.lock);
    return slot_of(port)->name.c_str();
}

jack_port_t* jack_server_port_by_name(jack_client_t*, const char* name) {
    const std::lock_guard<std::mutex> hold(server.lock);
    const Slot* s = slot_named(name);
    return s ? handle(size_t(s - server.slots.data())) : nullptr;
}

// As libjack: any id in range names its slot, whatever it holds now.
jack_port_t* jack_server_port_by_id(jack_client_t*, jack_port_id_t id) {
    const std::lock_guard<std::mutex> hold(server.lock);
    return id >= 1 && id <= server.slots.size() ? handle(id - 1) : nullptr;
}

int jack_server_connect(jack_client_t*, const char* source, const char* destination) {
    const std::lock_guard<std::mutex> hold(server.lock);
    if (server.refusals > 0) {
        --server.refusals;
        return -1;
    }
    const Slot* from = slot_named(source);
    const Slot* to = slot_named(destination);
    if (!from || !to || !from->output || to->output || server.inactive.count(client_of(source)) ||
        server.inactive.count(client_of(destination)))
        return -1;
    return server.connections.emplace(source, destination).second ? 0 : EEXIST;
}

const char** jack_server_get_ports(jack_client_t*, const char*, const char*, unsigned long flags) {
    const std::lock_guard<std::mutex> hold(server.lock);
    std::vector<const char*> names;
    for (const Slot& s : server.slots)
        if (!s.name.empty() && (flags == 0 || ((flags & JackPortIsOutput) != 0) == s.output))
            names.push_back(strdup(s.name.c_str()));
    if (names.empty()) return nullptr;
    names.push_back(nullptr);
    auto* list = static_cast<const char**>(std::malloc(names.size() * sizeof(char*)));
    std::copy(names.begin(), names.end(), list);
    return list;
}

void jack_server_free(void* pointer) {
    if (!pointer) return;
    for (auto** p = static_cast<char**>(pointer); *p; ++p) std::free(*p);
    std::free(pointer);
}

jack_time_t jack_server_get_time() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return jack_time_t(now.tv_sec) * 1000000 + jack_time_t(now.tv_nsec) / 1000;
}

// A port's buffer is its slot; what is written is kept by the slot.
void* jack_server_port_get_buffer(jack_port_t* port, jack_nframes_t) {
    server.fetches.fetch_add(1);
    return port;
}
void jack_server_midi_clear_buffer(void* buffer) {
    const std::lock_guard<std::mutex> hold(server.lock);
    if (Slot* s = slot_of(static_cast<jack_port_t*>(buffer))) s->buffer.clear();
}
// No device sends to our inputs here.
uint32_t jack_server_midi_get_event_count(void*) { return 0; }
int jack_server_midi_event_get(jack_midi_event_t*, void*, uint32_t) { return -1; }

int jack_server_midi_event_write(void* buffer, jack_nframes_t, const jack_midi_data_t* data, size_t size) {
    const std::lock_guard<std::mutex> hold(server.lock);
    std::string text;
    for (size_t i = 0; i < size; ++i) {
        char hex[4];
        std::snprintf(hex, sizeof hex, i ? " %02x" : "%02x", data[i]);
        text += hex;
    }
    if (Slot* s = slot_of(static_cast<jack_port_t*>(buffer))) {
        server.written[s->name].push_back(text);
        s->buffer.push_back(text);
    }
    return 0;
}
