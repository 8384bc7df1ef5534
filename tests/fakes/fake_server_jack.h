// A JACK server in memory behind server_jack.h, for the JACK backend's unit
// tests. Ports live in numbered slots (a freed slot is taken again first,
// and a port's handle is its slot, as in libjack); connections are kept by
// full port name. Registration notices go out in order on a notification
// thread of the fake's own, and can be held back; an activated client gets
// process cycles on a thread of its own, at the period's pace in real time.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace fake {

// A server with no clients, no ports, nothing held or refused, 256 frames.
void jack_reset();
// Frames per cycle at 48 kHz, for clients activated after the call.
void jack_period(uint32_t frames);

// Another client's port, in the first free slot; its notice is queued.
void jack_add_port(const std::string& full_name, bool output);
// Unregisters it; its connections go with it and its notice is queued.
void jack_remove_port(const std::string& full_name);
// A client whose ports are registered but that is not active: connections
// to or from its ports are refused until it is.
void jack_set_active(const std::string& client, bool active);
// The next `n` connection requests are refused, whatever they ask.
void jack_refuse_connects(int n);

// While held, notices wait in order, but for the next `n` let through;
// released, they go out. Flushing waits until every notice queued so far
// has been delivered.
void jack_hold_notices(bool hold);
void jack_let_notices_through(int n);
void jack_flush_notices();

// Connections as a user makes them (not through the client).
void jack_user_connect(const std::string& source, const std::string& destination);
void jack_user_disconnect(const std::string& source, const std::string& destination);
bool jack_connected(const std::string& source, const std::string& destination);

// Bytes written into a port's buffer in process cycles, one message each,
// e.g. "90 40 7f", in order; and whether the client was closed.
std::vector<std::string> jack_written(const std::string& full_name);
// What a receiver reading the port at the end of every cycle got: a message
// left in the buffer uncleared is read again in the next cycle.
std::vector<std::string> jack_read(const std::string& full_name);
// Ports registered from now on start with `message` in their buffer, as a
// slot another port used may; empty: with an empty buffer.
void jack_stale_buffers(const std::string& message);
// Process cycles run, and port buffers the client fetched, since the start.
uint64_t jack_cycles();
uint64_t jack_buffer_fetches();
bool jack_client_closed();

}  // namespace fake
