// The one place a key's message is made and sent: the map's or the table's,
// note, controller or program change, momentary or latched.
#include "panel/key_messages.h"

#include "midi/device_table.h"
#include "panel/panel.h"

namespace {

constexpr uint8_t CC_BANK_HIGH = 0, CC_BANK_LOW = 32;

void send_on(int channel, int status, int data1, int data2) {
    send_to_ports(*g_panel.devices, g_panel.port_enable, status | channel, data1, data2);
}

}  // namespace

KeyMessage key_message(int key) {
    const KeyMessage& m = g_panel.sends.by_key[key];
    return m.set ? m : table_message(key);
}

void send_key(int key, int value) {
    const KeyMessage m = key_message(key);
    const int channel = m.channel >= 0 ? m.channel : g_panel.channel;
    if (m.kind == SEND_PROGRAM) {
        if (value == 0) return;
        if (m.bank >= 0) {
            send_on(channel, STATUS_CONTROL_CHANGE, CC_BANK_HIGH, m.bank >> 7);
            send_on(channel, STATUS_CONTROL_CHANGE, CC_BANK_LOW, m.bank & 0x7F);
        }
        send_on(channel, STATUS_PROGRAM_CHANGE, m.number, 0);
        return;
    }
    if (m.latch) {
        if (value == 0) return;
        bool& on = g_panel.sends.latched[key];
        on = !on;
        if (!on) value = 0;
    }
    if (value > 0 && m.value > 0) value = m.value;
    send_on(channel, m.kind == SEND_CONTROL ? STATUS_CONTROL_CHANGE : STATUS_NOTE_ON, m.number, value);
}

void release_latches() {
    for (int key = 0; key < KEY_COUNT; ++key)
        if (g_panel.sends.latched[key]) send_key(key, 127);  // the second press: off
}

void set_key_messages(const KeyMessage (&messages)[KEY_COUNT]) {
    release_latches();
    for (int key = 0; key < KEY_COUNT; ++key) g_panel.sends.by_key[key] = messages[key];
}
