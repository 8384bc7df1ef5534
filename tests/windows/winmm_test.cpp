// The WinMM layer: device enumeration through open_devices (Wine has no MIDI
// devices, so the path without any is the one exercised there), calls on
// absent devices, and the 1 ms multimedia clock with its synchronous stop.
#include <windows.h>
// After windows.h, which it needs.
#include <mmsystem.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "app/platform.h"
#include "midi/device_table.h"
#include "panel/panel.h"

namespace {

std::string slot_text(const char (&slot)[NAME_SLOT]) { return std::string(slot, strnlen(slot, NAME_SLOT)); }

bool slot_is_zero(const char (&slot)[NAME_SLOT]) {
    return std::all_of(slot, slot + NAME_SLOT, [](char c) { return c == 0; });
}

TEST(WinmmPorts, DeviceTableMirrorsWhatWinmmReports) {
    const int inputs = int(midiInGetNumDevs());
    const int outputs = int(midiOutGetNumDevs());
    EXPECT_EQ(midi_in_count(), inputs);
    EXPECT_EQ(midi_out_count(), outputs);

    DeviceTable t;
    open_devices(t);
    EXPECT_EQ(t.input_count, std::min(inputs, MAX_INPUTS));
    EXPECT_EQ(t.output_count, std::min(outputs, MAX_OUTPUTS));
    for (int d = 0; d < MAX_INPUTS; ++d) {
        if (d < t.input_count && t.input[d]) {
            MIDIINCAPSA caps = {};
            midiInGetDevCapsA(d, &caps, sizeof caps);
            EXPECT_EQ(slot_text(t.input_name[d]), std::string(caps.szPname, strnlen(caps.szPname, 32)));
        } else {
            EXPECT_EQ(t.input[d], nullptr) << "input " << d;
            EXPECT_TRUE(slot_is_zero(t.input_name[d])) << "input " << d;
        }
    }
    for (int d = 0; d < MAX_OUTPUTS; ++d) {
        if (d < t.output_count && t.output[d]) {
            MIDIOUTCAPSA caps = {};
            midiOutGetDevCapsA(d, &caps, sizeof caps);
            EXPECT_EQ(slot_text(t.output_name[d]), std::string(caps.szPname, strnlen(caps.szPname, 32)));
        } else {
            EXPECT_EQ(t.output[d], nullptr) << "output " << d;
            EXPECT_TRUE(slot_is_zero(t.output_name[d])) << "output " << d;
        }
    }
}

TEST(WinmmPorts, AbsentDevicesOpenToNullAndHaveNoName) {
    const int absent = int(std::max(midiInGetNumDevs(), midiOutGetNumDevs())) + 3;
    EXPECT_EQ(midi_in_open(absent), nullptr);
    EXPECT_EQ(midi_out_open(absent), nullptr);
    EXPECT_FALSE(midi_in_start(nullptr));
    char name[MIDI_NAME_FIELD];
    std::memset(name, 'x', sizeof name);
    midi_in_name(absent, name);
    EXPECT_TRUE(std::all_of(name, name + MIDI_NAME_FIELD, [](char c) { return c == 0; }));
    std::memset(name, 'x', sizeof name);
    midi_out_name(absent, name);
    EXPECT_TRUE(std::all_of(name, name + MIDI_NAME_FIELD, [](char c) { return c == 0; }));
}

// The state a window without MIDI devices runs in: every port switched on,
// every handle null. Sends go nowhere and leave the table as it was.
TEST(WinmmPorts, SendsWithoutDevicesLeaveEverythingAsItWas) {
    if (midiOutGetNumDevs() != 0) GTEST_SKIP() << "this machine has MIDI outputs";
    DeviceTable devices;
    open_devices(devices);
    const int16_t all_on[PORT_COUNT] = {1, 1, 1};
    const DeviceTable before = devices;
    for (int note = 0; note < 128; ++note) {
        send_to_ports(devices, all_on, 144, note, 127);
        send_to_ports(devices, all_on, 176, note, 0);
    }
    midi_out_send(nullptr, pack_short_message(144, 60, 127));
    EXPECT_EQ(std::memcmp(&before, &devices, sizeof before), 0);
    EXPECT_EQ(devices.output_count, 0);
}

class MultimediaClock : public ::testing::Test {
protected:
    void TearDown() override { platform_stop_clock(); }
};

// The clock counts the platform's milliseconds once running, in steps of
// about one; after the stop returns, it never moves again.
TEST_F(MultimediaClock, AdvancesWithPlatformTimeAndStopsDead) {
    const uint32_t start_clock = g_app.clock_ms.load();
    platform_start_clock();
    // The first callback only records the time; wait for the clock to move.
    const uint32_t give_up = platform_time_ms() + 5000;
    while (g_app.clock_ms.load() == start_clock && int32_t(give_up - platform_time_ms()) > 0) Sleep(0);
    ASSERT_NE(g_app.clock_ms.load(), start_clock) << "no clock callback within 5 s";

    const uint32_t clock0 = g_app.clock_ms.load(), time0 = platform_time_ms();
    std::vector<uint32_t> steps;
    uint32_t seen = clock0;
    while (platform_time_ms() - time0 < 500) {
        const uint32_t now = g_app.clock_ms.load();
        if (now != seen) steps.push_back(now - seen), seen = now;
    }
    const uint32_t clock_gone = g_app.clock_ms.load() - clock0, time_gone = platform_time_ms() - time0;
    ASSERT_FALSE(steps.empty());
    std::sort(steps.begin(), steps.end());
    const uint32_t median = steps[steps.size() / 2];
    std::printf("clock: %u ms counted over %u ms of platform time, %zu steps, median %u, largest %u\n", clock_gone,
                time_gone, steps.size(), median, steps.back());
    EXPECT_NEAR(double(clock_gone), double(time_gone), 20.0);
    EXPECT_LE(median, 2u) << "the callback runs about every millisecond";

    platform_stop_clock();
    const uint32_t stopped = g_app.clock_ms.load();
    Sleep(50);
    EXPECT_EQ(g_app.clock_ms.load(), stopped) << "a callback ran after the stop returned";
}

TEST(PlatformTime, IsTimeGetTime) {
    const uint32_t a = timeGetTime();
    const uint32_t b = platform_time_ms();
    const uint32_t c = timeGetTime();
    EXPECT_LE(b - a, c - a);
}

}  // namespace
