// The calls the JACK backend (ports_jack.cpp) makes to a JACK server: each
// jack_server_X is libjack's jack_X, with the same arguments and results.
// server_jack.cpp forwards them to libjack; tests/fakes/fake_server_jack.cpp
// is a server in memory whose tests force the orders a real one allows only
// by chance (a port back in the same slot at once, a connection refused, a
// notification late). Exactly one is linked: a direct call, no dispatch.
//
// The same shape serves any backend over a server of its own (the ALSA
// sequencer): a header of the library calls it makes, one file forwarding
// them, and a fake that keeps the server's ports and connections, runs its
// callbacks or queues its events on a thread of its own, and can be told to
// refuse a call once. The ring buffer (plain memory) is called directly.
#pragma once
#include <jack/jack.h>
#include <jack/midiport.h>

jack_client_t* jack_server_client_open(const char* name, jack_options_t options, jack_status_t* status);
int jack_server_client_close(jack_client_t* client);
const char* jack_server_get_client_name(jack_client_t* client);
jack_nframes_t jack_server_get_sample_rate(jack_client_t* client);
int jack_server_set_process_callback(jack_client_t* client, JackProcessCallback callback, void* arg);
void jack_server_on_info_shutdown(jack_client_t* client, JackInfoShutdownCallback callback, void* arg);
int jack_server_set_port_registration_callback(jack_client_t* client, JackPortRegistrationCallback callback, void* arg);
int jack_server_activate(jack_client_t* client);

jack_port_t* jack_server_port_register(jack_client_t* client, const char* name, const char* type, unsigned long flags,
                                       unsigned long buffer_size);
int jack_server_port_unregister(jack_client_t* client, jack_port_t* port);
const char* jack_server_port_name(const jack_port_t* port);
jack_port_t* jack_server_port_by_name(jack_client_t* client, const char* name);
jack_port_t* jack_server_port_by_id(jack_client_t* client, jack_port_id_t id);
int jack_server_connect(jack_client_t* client, const char* source, const char* destination);
// Null-terminated; freed with jack_server_free.
const char** jack_server_get_ports(jack_client_t* client, const char* name_pattern, const char* type_pattern,
                                   unsigned long flags);
void jack_server_free(void* pointer);

// Process thread: real-time safe in libjack, and must stay so in a fake.
jack_time_t jack_server_get_time();
void* jack_server_port_get_buffer(jack_port_t* port, jack_nframes_t frames);
void jack_server_midi_clear_buffer(void* buffer);
int jack_server_midi_event_write(void* buffer, jack_nframes_t time, const jack_midi_data_t* data, size_t size);
uint32_t jack_server_midi_get_event_count(void* buffer);
int jack_server_midi_event_get(jack_midi_event_t* event, void* buffer, uint32_t index);
