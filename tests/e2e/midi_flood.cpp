// A JACK MIDI source for the input-flood test: one client with PORTS output
// ports, each sending RATE short messages a second, spread evenly over every
// cycle's frames, until its standard input closes. Then it prints
// "sent N lost M" (M: events the port buffer refused) and exits 0.
//
// With RATE "script" the ports send instead what standard input gives, one
// message per line in hex ("90 02 7F"), each at the start of the next cycle.
//
// Usage: zorve-midi-flood NAME PORTS RATE|script [hold|idle]
// With "hold" the ports are registered and "registered" printed, and the
// client is activated (its ports become connectable) only after a line on
// standard input. With "idle" the client is active at once but its ports send
// nothing until a line on standard input, so a receiver can be measured
// connected and quiet first; each further line stops or starts them again,
// so quiet and flooded stretches can take turns. On stopping, each port ends
// with a Note Off for every note and a zero for every controller, so no key
// stays lit by the flood into the quiet stretch. The server is the one
// JACK_DEFAULT_SERVER names; none is started.
#include <jack/jack.h>
#include <jack/midiport.h>
#include <jack/ringbuffer.h>
#include <unistd.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

jack_client_t* g_client;
std::vector<jack_port_t*> g_ports;
double g_rate;                 // messages per second per port
double g_due;                  // messages owed per port, carried between cycles
uint32_t g_serial;             // picks each message's kind and values
std::atomic<uint64_t> g_sent;  // all ports together
std::atomic<uint64_t> g_lost;
std::atomic<bool> g_stopping;
std::atomic<bool> g_sending{true};   // false while "idle" waits for its line, or is told to be quiet
std::atomic<bool> g_put_out{false};  // told to be quiet: the next cycle puts every note and controller out
jack_ringbuffer_t* g_script;         // script mode: 4-byte records, length then up to 3 bytes

// A varied stream: notes on and off, controllers, pitch bend, program
// changes and clock, on all sixteen channels.
size_t next_message(uint8_t (&m)[3]) {
    const uint32_t n = g_serial++;
    const uint8_t channel = uint8_t(n & 0x0F);
    switch (n % 10) {
        case 0:
        case 1:
        case 2:
            m[0] = 0x90 | channel;
            m[1] = uint8_t(n % 128);
            m[2] = 100;
            return 3;
        case 3:
        case 4:
        case 5:
            m[0] = 0x80 | channel;
            m[1] = uint8_t(n % 128);
            m[2] = 0;
            return 3;
        case 6:
        case 7:
            m[0] = 0xB0 | channel;
            m[1] = uint8_t(n % 120);
            m[2] = uint8_t(n % 128);
            return 3;
        case 8:
            m[0] = 0xE0 | channel;
            m[1] = uint8_t(n % 128);
            m[2] = uint8_t((n >> 7) % 128);
            return 3;
        default:
            if (n % 20 == 9) {
                m[0] = 0xF8;  // clock: a one-byte message
                return 1;
            }
            m[0] = 0xC0 | channel;
            m[1] = uint8_t(n % 128);
            return 2;
    }
}

// Runs on JACK's process thread; no allocation, no lock.
int process(jack_nframes_t frames, void*) {
    if (g_script) {
        uint8_t scripted[64][4];
        size_t count = 0;
        while (count < 64 && jack_ringbuffer_read(g_script, reinterpret_cast<char*>(scripted[count]), 4) == 4) ++count;
        for (jack_port_t* port : g_ports) {
            void* buffer = jack_port_get_buffer(port, frames);
            jack_midi_clear_buffer(buffer);
            for (size_t i = 0; i < count; ++i) jack_midi_event_write(buffer, 0, scripted[i] + 1, scripted[i][0]);
        }
        g_sent.fetch_add(count, std::memory_order_relaxed);
        return 0;
    }
    if (g_put_out.exchange(false)) {
        for (jack_port_t* port : g_ports) {
            void* buffer = jack_port_get_buffer(port, frames);
            jack_midi_clear_buffer(buffer);
            for (uint8_t n = 0; n < 128; ++n) {
                const uint8_t off[3] = {0x80, n, 0}, zero[3] = {0xB0, n, 0};
                jack_midi_event_write(buffer, 0, off, 3);
                jack_midi_event_write(buffer, 0, zero, 3);
            }
        }
        return 0;
    }
    if (g_sending.load(std::memory_order_relaxed))
        g_due += g_rate * double(frames) / double(jack_get_sample_rate(g_client));
    const uint32_t n = g_stopping.load(std::memory_order_relaxed) ? 0 : uint32_t(g_due);
    g_due -= double(uint32_t(g_due));
    uint64_t sent = 0, lost = 0;
    for (jack_port_t* port : g_ports) {
        void* buffer = jack_port_get_buffer(port, frames);
        jack_midi_clear_buffer(buffer);
        for (uint32_t i = 0; i < n; ++i) {
            uint8_t m[3];
            const size_t length = next_message(m);
            const jack_nframes_t at = jack_nframes_t(uint64_t(i) * frames / n);  // non-decreasing, < frames
            if (jack_midi_event_write(buffer, at, m, length) == 0)
                ++sent;
            else
                ++lost;
        }
    }
    g_sent.fetch_add(sent, std::memory_order_relaxed);
    g_lost.fetch_add(lost, std::memory_order_relaxed);
    return 0;
}

// Blocks until a line (or the end) on standard input; false at the end.
bool read_line() {
    char c;
    while (read(0, &c, 1) == 1) {
        if (c == '\n') return true;
    }
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc == 5 ? argv[4] : "";
    const bool hold = mode == "hold";
    if (argc != 4 && !hold && mode != "idle") {
        std::fprintf(stderr, "usage: %s NAME PORTS RATE|script [hold|idle]\n", argv[0]);
        return 2;
    }
    const int ports = std::atoi(argv[2]);
    if (std::string(argv[3]) == "script") {
        g_script = jack_ringbuffer_create(4096);
        g_rate = 1;
    } else {
        g_rate = std::atof(argv[3]);
    }
    if (ports < 1 || ports > 16 || g_rate <= 0) {
        std::fprintf(stderr, "PORTS must be 1 to 16 and RATE positive or script\n");
        return 2;
    }
    g_client = jack_client_open(argv[1], JackNoStartServer, nullptr);
    if (!g_client) {
        std::fprintf(stderr, "no JACK server\n");
        return 1;
    }
    for (int p = 0; p < ports; ++p) {
        const std::string name = "out " + std::to_string(p);
        jack_port_t* port = jack_port_register(g_client, name.c_str(), JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
        if (!port) {
            std::fprintf(stderr, "cannot register %s\n", name.c_str());
            return 1;
        }
        g_ports.push_back(port);
    }
    jack_set_process_callback(g_client, process, nullptr);
    if (hold) {
        std::printf("registered\n");
        std::fflush(stdout);
        read_line();
    }
    g_sending.store(mode != "idle");
    if (jack_activate(g_client) != 0) {
        std::fprintf(stderr, "cannot activate\n");
        return 1;
    }
    std::printf("ready\n");
    std::fflush(stdout);
    if (!g_sending.load()) {
        read_line();
        g_sending.store(true);
    }
    char line[256];
    while (g_script && std::fgets(line, sizeof line, stdin)) {
        uint8_t record[4] = {};
        char* at = line;
        for (char* end = nullptr; record[0] < 3; at = end) {
            const unsigned long byte = std::strtoul(at, &end, 16);
            if (end == at) break;
            record[1 + record[0]++] = uint8_t(byte);
        }
        while (record[0] > 0 && jack_ringbuffer_write(g_script, reinterpret_cast<char*>(record), 4) != 4) usleep(1000);
    }
    while (!g_script && read_line()) {
        const bool was_sending = g_sending.load();
        g_sending.store(!was_sending);
        if (was_sending) g_put_out.store(true);
    }
    g_stopping.store(true, std::memory_order_relaxed);
    jack_deactivate(g_client);
    jack_client_close(g_client);
    std::printf("sent %llu lost %llu\n", static_cast<unsigned long long>(g_sent.load()),
                static_cast<unsigned long long>(g_lost.load()));
    return 0;
}
