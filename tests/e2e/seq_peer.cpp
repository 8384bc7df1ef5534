// An ALSA sequencer client for the e2e cases and the bench, on libasound.
//
//   zorve-seq-peer receive NAME [CLIENT:PORT]
// A client NAME with one port "input" (MIDI generic and application type).
// Without an address the port is writable and open to subscription, so a
// program lists it as an output device; with one it subscribes itself from
// CLIENT:PORT and is closed to others (a watcher of that port, listed by
// no one). Prints "ready C:P" (its own address), then one line per message,
// "N: 90 59 00" (N counts from 0), decoded with running status off: a Note
// On of velocity 0 stays 90 nn 00 and a Note Off is 80 nn vv; and
// "subscribed" when another client subscribed the port (the sequencer tells
// the port's owner).
//
//   zorve-seq-peer held NAME MS
// As "receive NAME", but for its first MS milliseconds under its name the
// port lets no other client subscribe: it comes up under another name, is
// subscribed exclusively from the client's own port "hold", then takes the
// name "input" (which the sequencer does not announce) and the client makes
// one more port, "announce", whose coming is announced, so a program looks
// at the client's ports again and finds "input" held; then it prints "ready
// C:P". MS ms later it lets go and prints "let go". A program that
// subscribes when the name appears is refused (EBUSY) until then, and no
// announcement tells it when that ends.
//
//   zorve-seq-peer flood NAME PORTS RATE [idle]
// A client NAME with PORTS readable ports "out k", each sending RATE short
// messages a second (note 60 on and off, alternately) direct to its
// subscribers, until standard input closes. Prints "ready", and at the end
// "sent N lost M" (M: messages the sequencer refused). With "idle" the ports
// send nothing until a first line on standard input; each further line stops
// or starts them again.
//
//   zorve-seq-peer script NAME
// A client NAME with one readable port "out 0" that sends each line of
// standard input, a message in hex ("90 59 7F"), direct to its subscribers.
// Prints "ready"; ends when standard input closes.
#include <alsa/asoundlib.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr unsigned TYPE = SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION;

snd_seq_t* open_client(const char* name) {
    snd_seq_t* seq = nullptr;
    if (snd_seq_open(&seq, "default", SND_SEQ_OPEN_DUPLEX, 0) < 0) {
        std::fprintf(stderr, "zorve-seq-peer: cannot open the ALSA sequencer\n");
        std::exit(1);
    }
    snd_seq_set_client_name(seq, name);
    return seq;
}

// Subscribes `port` exclusively from a port "hold" of the client's own (a
// client needs no permission to subscribe its own ports), under a name no
// program looks for, then names it "input" and makes the port "announce":
// from then on others are refused until the subscription goes. Null when
// any step fails.
snd_seq_port_subscribe_t* hold_port(snd_seq_t* seq, int port) {
    const int own = snd_seq_create_simple_port(seq, "hold", SND_SEQ_PORT_CAP_READ, TYPE);
    snd_seq_port_subscribe_t* sub = nullptr;
    snd_seq_port_subscribe_malloc(&sub);
    const snd_seq_addr_t sender = {static_cast<unsigned char>(snd_seq_client_id(seq)), static_cast<unsigned char>(own)};
    const snd_seq_addr_t dest = {sender.client, static_cast<unsigned char>(port)};
    snd_seq_port_subscribe_set_sender(sub, &sender);
    snd_seq_port_subscribe_set_dest(sub, &dest);
    snd_seq_port_subscribe_set_exclusive(sub, 1);
    snd_seq_port_info_t* info;
    snd_seq_port_info_alloca(&info);
    if (own < 0 || snd_seq_subscribe_port(seq, sub) < 0 || snd_seq_get_port_info(seq, port, info) < 0) return nullptr;
    snd_seq_port_info_set_name(info, "input");
    if (snd_seq_set_port_info(seq, port, info) < 0) return nullptr;
    return snd_seq_create_simple_port(seq, "announce", 0, TYPE) < 0 ? nullptr : sub;
}

int receive(const char* name, const char* from, int held_ms) {
    snd_seq_t* seq = open_client(name);
    const unsigned caps = from ? SND_SEQ_PORT_CAP_WRITE : SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE;
    const int port = snd_seq_create_simple_port(seq, held_ms > 0 ? "input (held)" : "input", caps, TYPE);
    snd_seq_addr_t source;
    snd_seq_port_subscribe_t* hold = nullptr;
    if (port < 0 ||
        (from && (snd_seq_parse_address(seq, &source, from) < 0 ||
                  snd_seq_connect_from(seq, port, source.client, source.port) < 0)) ||
        (held_ms > 0 && !(hold = hold_port(seq, port)))) {
        std::fprintf(stderr, "zorve-seq-peer: cannot make the port or subscribe it\n");
        return 1;
    }
    // The sequencer's largest input pool: room for a burst while the reader
    // waits for a processor. A stopped receiver's input holds this many
    // events; the next one overflows it, and the sequencer then empties it.
    snd_seq_set_client_pool_input(seq, 2000);
    snd_midi_event_t* decoder;
    snd_midi_event_new(16, &decoder);
    snd_midi_event_no_status(decoder, 1);
    std::printf("ready %d:%d\n", snd_seq_client_id(seq), port);
    std::fflush(stdout);
    if (hold) {
        usleep(useconds_t(held_ms) * 1000);
        if (snd_seq_unsubscribe_port(seq, hold) < 0) {
            std::fprintf(stderr, "zorve-seq-peer: cannot let the port go\n");
            return 1;
        }
        std::printf("let go\n");
        std::fflush(stdout);
    }
    unsigned long n = 0;
    for (;;) {
        snd_seq_event_t* ev = nullptr;
        const int result = snd_seq_event_input(seq, &ev);
        if (result == -ENOSPC) {
            std::printf("overflow\n");
            std::fflush(stdout);
            continue;
        }
        if (result < 0 || !ev) continue;
        if (ev->type == SND_SEQ_EVENT_PORT_SUBSCRIBED) {
            std::printf("subscribed\n");
            std::fflush(stdout);
            continue;
        }
        unsigned char bytes[16];
        snd_midi_event_reset_decode(decoder);
        const long length = snd_midi_event_decode(decoder, bytes, sizeof bytes, ev);
        if (length <= 0) continue;
        std::printf("%lu:", n++);
        for (long i = 0; i < length; ++i) std::printf(" %02x", bytes[i]);
        std::printf("\n");
        std::fflush(stdout);
    }
}

// A readable port "out k" open to subscription; exits when it cannot be made.
int source_port(snd_seq_t* seq, int k) {
    const std::string name = "out " + std::to_string(k);
    const int port =
        snd_seq_create_simple_port(seq, name.c_str(), SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ, TYPE);
    if (port < 0) {
        std::fprintf(stderr, "zorve-seq-peer: cannot make port %s\n", name.c_str());
        std::exit(1);
    }
    return port;
}

// Sent from `port` to its subscribers at once; false when refused.
bool send_direct(snd_seq_t* seq, int port, snd_seq_event_t& ev) {
    snd_seq_ev_set_source(&ev, static_cast<unsigned char>(port));
    snd_seq_ev_set_subs(&ev);
    snd_seq_ev_set_direct(&ev);
    return snd_seq_event_output_direct(seq, &ev) >= 0;
}

std::atomic<bool> g_go{true};
std::atomic<bool> g_stop{false};

int flood(const char* name, int ports, double rate, bool idle) {
    snd_seq_t* seq = open_client(name);
    snd_seq_nonblock(seq, 1);
    std::vector<int> own;
    for (int k = 0; k < ports; ++k) own.push_back(source_port(seq, k));
    g_go.store(!idle);
    std::printf("ready\n");
    std::fflush(stdout);
    std::thread([idle] {
        char line[64];
        while (std::fgets(line, sizeof line, stdin)) g_go.store(idle ? !g_go.load() : true);
        g_stop.store(true);
    }).detach();
    unsigned long sent = 0, lost = 0, serial = 0;
    double due = 0;
    timespec next;
    clock_gettime(CLOCK_MONOTONIC, &next);
    double last = next.tv_sec + next.tv_nsec * 1e-9;
    while (!g_stop.load()) {
        next.tv_nsec += 1000000;  // a round each millisecond
        if (next.tv_nsec >= 1000000000L) next.tv_sec += 1, next.tv_nsec -= 1000000000L;
        clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr);
        timespec now;
        clock_gettime(CLOCK_MONOTONIC, &now);
        // Owed for the time gone by, so a round that came late (a busy or
        // emulated processor) is made up; nothing while quiet.
        if (g_go.load()) due += rate * (now.tv_sec + now.tv_nsec * 1e-9 - last);
        last = now.tv_sec + now.tv_nsec * 1e-9;
        for (; due >= 1; due -= 1, ++serial) {
            for (int port : own) {
                snd_seq_event_t ev;
                snd_seq_ev_clear(&ev);
                snd_seq_ev_set_noteon(&ev, 0, 60, serial % 2 ? 0 : 100);
                ++sent;
                if (!send_direct(seq, port, ev)) ++lost;
            }
        }
    }
    std::printf("sent %lu lost %lu\n", sent, lost);
    return 0;
}

int script(const char* name) {
    snd_seq_t* seq = open_client(name);
    const int port = source_port(seq, 0);
    snd_midi_event_t* encoder;
    snd_midi_event_new(16, &encoder);
    std::printf("ready\n");
    std::fflush(stdout);
    char line[256];
    while (std::fgets(line, sizeof line, stdin)) {
        unsigned char bytes[3];
        long length = 0;
        char* at = line;
        for (char* end = nullptr; length < 3; at = end) {
            const unsigned long byte = std::strtoul(at, &end, 16);
            if (end == at) break;
            bytes[length++] = static_cast<unsigned char>(byte);
        }
        snd_seq_event_t ev;
        snd_seq_ev_clear(&ev);
        snd_midi_event_reset_encode(encoder);
        if (length == 0 || snd_midi_event_encode(encoder, bytes, length, &ev) != length ||
            ev.type == SND_SEQ_EVENT_NONE || !send_direct(seq, port, ev)) {
            std::fprintf(stderr, "zorve-seq-peer: cannot send %s", line);
            return 1;
        }
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 3 && argc <= 4 && std::strcmp(argv[1], "receive") == 0)
        return receive(argv[2], argc == 4 ? argv[3] : nullptr, 0);
    if (argc == 4 && std::strcmp(argv[1], "held") == 0 && std::atoi(argv[3]) > 0)
        return receive(argv[2], nullptr, std::atoi(argv[3]));
    const bool idle = argc == 6 && std::strcmp(argv[5], "idle") == 0;
    if ((argc == 5 || idle) && std::strcmp(argv[1], "flood") == 0)
        return flood(argv[2], std::atoi(argv[3]), std::atof(argv[4]), idle);
    if (argc == 3 && std::strcmp(argv[1], "script") == 0) return script(argv[2]);
    std::fprintf(stderr,
                 "usage: zorve-seq-peer receive NAME [CLIENT:PORT] | held NAME MS | flood NAME PORTS RATE [idle] | "
                 "script NAME\n");
    return 64;
}
