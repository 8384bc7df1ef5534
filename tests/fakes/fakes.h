// Test doubles of every platform contract. Each records its calls in one
// shared log, in call order, and can be told to fail.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace fake {

// Every window, clock, MIDI-open and text call, e.g. "start_window_timer 2",
// "text 48 455 TRACK SELECT", "present 1".
std::vector<std::string>& log();
// Appends one printf-formatted line to the log.
void record(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

struct Device {
    std::string name;
    bool opens = true;
    bool starts = true;  // inputs only
};

struct Sent {
    int device;
    uint32_t message;
};

struct World {
    std::vector<Device> inputs;
    std::vector<Device> outputs;
    std::vector<Sent> sent;       // MIDI short messages in send order
    std::vector<uint32_t> panel;  // what went to the panel port, in send order
    uint32_t time_ms = 0;         // what platform_time_ms returns
    bool other_instance = false;
    bool window_refused = false;  // turned away before any window, as Windows does without its class
    bool window_ok = true;
    bool frame_buffer_ok = true;
    int screen_w = 1920, screen_h = 1080;
    int text_color_calls = 0;
};

World& world();

// Clears the log and the world and puts the core's globals back to their
// start-of-program state: the render context (destroying a frame buffer left
// from a test), the panel, the application state and the monitor switch.
void reset();

// Messages sent to one device, as (status, data1, data2) packed.
std::vector<uint32_t> sent_to(int device);

}  // namespace fake
