// Shared set-up for the core tests: a fresh program state with n output
// devices opened through the MIDI double and all ports on.
#pragma once
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "fakes.h"
#include "midi/device_table.h"
#include "panel/panel.h"

// Opens the fake world's devices and hands them to the panel, as the shell
// does at window creation.
inline void open_panel_devices() {
    open_devices(g_app.devices);
    g_panel.devices = &g_app.devices;
}

inline void open_outputs(int n) {
    for (int d = 0; d < n; ++d) fake::world().outputs.push_back({"out " + std::to_string(d)});
    open_panel_devices();
    for (int16_t& e : g_panel.port_enable) e = 1;
}

inline uint32_t msg(int status, int number, int value) { return pack_short_message(status, number, value); }
inline uint32_t note(int number, int value) { return msg(144, number, value); }

// Posts a pointer-tested event at (x, y), as the shell would after storing it.
inline void at(int x, int y, int event) {
    g_panel.pointer = {x, y};
    post_event(event, 0);
}

inline int key_index(uint8_t status, uint8_t number) {
    for (int k = 0; k < KEY_COUNT; ++k)
        if (KeyTable[k].status == status && KeyTable[k].number == number) return k;
    return -1;
}

// One step of a sequence and the messages it must send to device 1, no more.
struct SendStep {
    const char* what;
    std::function<void()> act;
    std::vector<uint32_t> sends;
};

inline void expect_steps(const std::vector<SendStep>& steps) {
    size_t seen = 0;
    for (const SendStep& step : steps) {
        step.act();
        const std::vector<uint32_t> sent = fake::sent_to(1);
        EXPECT_EQ(std::vector<uint32_t>(sent.begin() + long(seen), sent.end()), step.sends) << step.what;
        seen = sent.size();
    }
}

struct CoreTest : ::testing::Test {
    void SetUp() override { fake::reset(); }
    void TearDown() override { fake::reset(); }
};
