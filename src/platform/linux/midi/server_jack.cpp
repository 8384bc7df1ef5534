// The JACK server calls of server_jack.h, each forwarded to libjack's
// function of the same name.
#include "platform/linux/midi/server_jack.h"

jack_client_t* jack_server_client_open(const char* name, jack_options_t options, jack_status_t* status) {
    return jack_client_open(name, options, status);
}
int jack_server_client_close(jack_client_t* client) { return jack_client_close(client); }
const char* jack_server_get_client_name(jack_client_t* client) { return jack_get_client_name(client); }
jack_nframes_t jack_server_get_sample_rate(jack_client_t* client) { return jack_get_sample_rate(client); }
int jack_server_set_process_callback(jack_client_t* client, JackProcessCallback callback, void* arg) {
    return jack_set_process_callback(client, callback, arg);
}
void jack_server_on_info_shutdown(jack_client_t* client, JackInfoShutdownCallback callback, void* arg) {
    jack_on_info_shutdown(client, callback, arg);
}
int jack_server_set_port_registration_callback(jack_client_t* client, JackPortRegistrationCallback callback,
                                               void* arg) {
    return jack_set_port_registration_callback(client, callback, arg);
}
int jack_server_activate(jack_client_t* client) { return jack_activate(client); }

jack_port_t* jack_server_port_register(jack_client_t* client, const char* name, const char* type, unsigned long flags,
                                       unsigned long buffer_size) {
    return jack_port_register(client, name, type, flags, buffer_size);
}
int jack_server_port_unregister(jack_client_t* client, jack_port_t* port) { return jack_port_unregister(client, port); }
const char* jack_server_port_name(const jack_port_t* port) { return jack_port_name(port); }
jack_port_t* jack_server_port_by_name(jack_client_t* client, const char* name) {
    return jack_port_by_name(client, name);
}
jack_port_t* jack_server_port_by_id(jack_client_t* client, jack_port_id_t id) { return jack_port_by_id(client, id); }
int jack_server_connect(jack_client_t* client, const char* source, const char* destination) {
    return jack_connect(client, source, destination);
}
const char** jack_server_get_ports(jack_client_t* client, const char* name_pattern, const char* type_pattern,
                                   unsigned long flags) {
    return jack_get_ports(client, name_pattern, type_pattern, flags);
}
void jack_server_free(void* pointer) { jack_free(pointer); }

jack_time_t jack_server_get_time() { return jack_get_time(); }
void* jack_server_port_get_buffer(jack_port_t* port, jack_nframes_t frames) {
    return jack_port_get_buffer(port, frames);
}
void jack_server_midi_clear_buffer(void* buffer) { jack_midi_clear_buffer(buffer); }
int jack_server_midi_event_write(void* buffer, jack_nframes_t time, const jack_midi_data_t* data, size_t size) {
    return jack_midi_event_write(buffer, time, data, size);
}
uint32_t jack_server_midi_get_event_count(void* buffer) { return jack_midi_get_event_count(buffer); }
int jack_server_midi_event_get(jack_midi_event_t* event, void* buffer, uint32_t index) {
    return jack_midi_event_get(event, buffer, index);
}
