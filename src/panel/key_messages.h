// What each key sends, as the user's map may change it while the panel runs:
// the KeyTable's message unless the map gives the key another. Every key
// message of the panel goes out through send_key. Window thread only.
#pragma once
#include <cstdint>

#include "panel/key_table.h"

enum KeySendKind : uint8_t { SEND_NOTE, SEND_CONTROL, SEND_PROGRAM };

constexpr uint8_t STATUS_PROGRAM_CHANGE = 0xC0;  // channel 1
constexpr int MAX_BANK = 16383;                  // 14 bits: CC 0 the high 7, CC 32 the low 7

struct KeyMessage {
    bool set = false;  // false: the KeyTable's message, the panel's channel and velocity
    KeySendKind kind = SEND_NOTE;
    uint8_t number = 0;   // note, controller or program, 0..127
    int8_t channel = -1;  // 0..15; -1: the panel's (--channel)
    uint8_t value = 0;    // on-value 1..127; 0: the press's (--velocity)
    bool latch = false;   // a press turns it on, the next press off; releases send nothing
    int16_t bank = -1;    // program change: 0..MAX_BANK sent as CC 0 and CC 32 first; -1 none
};

struct KeyMessages {
    KeyMessage by_key[KEY_COUNT];
    bool latched[KEY_COUNT] = {};  // latch keys now on
};

// The message of the KeyTable row alone.
inline KeyMessage table_message(int key) {
    const PanelKey& row = KeyTable[key];
    KeyMessage m;
    m.kind = (row.status & 0xF0) == STATUS_CONTROL_CHANGE ? SEND_CONTROL : SEND_NOTE;
    m.number = row.number;
    return m;
}
// Key `key`'s message now: the map's, else its KeyTable row's.
KeyMessage key_message(int key);

// Key `key` is taken (`value` > 0: the press's on-value) or let go (0). A
// note or controller sends its on-value (its own if the map gives one) or
// its 0; a latch sends on a press only, on and off in turn; a program
// change (after its bank) on a press only.
void send_key(int key, int value);

// Every latch key that is on sends its off, and all are off.
void release_latches();
// A new set of messages (KEY_COUNT of them). Held keys must have been let
// go first: their release goes out with the message that pressed them.
void set_key_messages(const KeyMessage (&messages)[KEY_COUNT]);
