// Links between our ports and devices' ports, kept by the device's client
// and port name while the device goes and comes back: the reconnect logic of
// the Linux backends (ports_alsa.cpp, ports_jack.cpp). Plain data and
// arithmetic, no system call: the backend says what it saw (ports that went,
// an announcement, the time) and lends the two calls that reach its system
// (the ports there now, one try to link); this module decides which link to
// try and when to try again. Called by one thread at a time (the backend's
// lock); links made by others are never touched, as no call undoes a link.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

// After an announcement, a link the system refused is tried again this
// often, this many times (2 s): a JACK client lists its ports before it
// accepts connections, and a sequencer port may be held exclusive a while.
constexpr uint64_t DEVICE_LINK_RETRY_MS = 100;
constexpr int DEVICE_LINK_RETRIES = 20;

// A device's port as the system lists it.
struct DevicePort {
    std::string client;  // the names by which a link finds its device again
    std::string port;
    uint64_t address = 0;  // the backend's; unique among the ports there at one time
};

// One of our ports linked to one device port.
struct DeviceLink {
    int own = -1;          // our port, as the backend numbers it
    bool from_us = true;   // our output to the device, else the device to our input
    DevicePort device;     // its names, and its address when last linked
    bool lost = false;     // its port went: the next port of its names is linked
    bool refused = false;  // the last try was refused
};

// What a pass asks of the system; `arg` is the backend's.
struct DeviceLinkCalls {
    // Every port there now; the backend's own may be among them.
    std::vector<DevicePort> (*list)(void* arg);
    // Links `link` to `to`, a port of its names: true when linked, also
    // when it was already.
    bool (*link)(const DeviceLink& link, const DevicePort& to, void* arg);
    void* arg;
};

struct DeviceLinks {
    std::vector<DeviceLink> links;
    int retries = 0;           // tries left in this round
    uint64_t retry_at_ms = 0;  // when the next is due
    int given_up = 0;          // links whose round ended refused, each reported once
};

// A link the backend made, or (lost) one the system refused at once.
void device_links_add(DeviceLinks& links, const DeviceLink& link);

// Ports went: every link whose address equals `address` in the bits of
// `mask` is lost (a whole client: the client's bits only).
void device_links_gone(DeviceLinks& links, uint64_t address, uint64_t mask = ~uint64_t(0));

// The backend's call after each wake-up, at `now_ms` of a monotonic clock;
// `announced`: the system said ports came, changed or went since the last
// call. A pass tries every lost link that a port of its names now resolves,
// and every link whose port is back at another address; a link whose port
// is still where it was is left as it is. Returns how long the backend may
// wait for its next event before calling again: ms, or -1 for as long as
// it likes.
int device_links_step(DeviceLinks& links, bool announced, uint64_t now_ms, const DeviceLinkCalls& calls);
