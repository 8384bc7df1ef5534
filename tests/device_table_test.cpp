// Device enumeration, naming and the fan-out to ports 1..3.
#include <cstring>

#include "test_util.h"

namespace {

using Devices = CoreTest;

TEST(ShortMessage, PacksStatusThenDataBytes) {
    const uint32_t m = pack_short_message(144, 60, 127);
    EXPECT_EQ(m & 0xFF, 144u);
    EXPECT_EQ((m >> 8) & 0xFF, 60u);
    EXPECT_EQ((m >> 16) & 0xFF, 127u);
    EXPECT_EQ(m >> 24, 0u);
    EXPECT_EQ(pack_short_message(0x1B0, -1, 0x17F), 0x7FFFB0u);  // each byte cut to 8 bits
}

TEST_F(Devices, CountsAreCappedAndOpenedInOrder) {
    for (int d = 0; d < 7; ++d) fake::world().inputs.push_back({"in " + std::to_string(d)});
    for (int d = 0; d < 6; ++d) fake::world().outputs.push_back({"out " + std::to_string(d)});
    open_devices(g_app.devices, nullptr);
    const DeviceTable& t = g_app.devices;
    EXPECT_EQ(t.input_count, 4);
    EXPECT_EQ(t.output_count, 5);
    const std::vector<std::string> expected = {
        "midi_in_open 0",  "midi_in_start 0", "midi_in_open 1",  "midi_in_start 1", "midi_in_open 2",
        "midi_in_start 2", "midi_in_open 3",  "midi_in_start 3", "midi_out_open 0", "midi_out_open 1",
        "midi_out_open 2", "midi_out_open 3", "midi_out_open 4",
    };
    EXPECT_EQ(fake::log(), expected);
    EXPECT_STREQ(t.input_name[3], "in 3");
    EXPECT_STREQ(t.output_name[4], "out 4");
}

TEST_F(Devices, FailedDevicesStayNullAndNamelessButCount) {
    fake::world().inputs = {{"in0", false}, {"in1", true, false}, {"in2"}};
    fake::world().outputs = {{"out0"}, {"out1", false}, {"out2"}};
    open_devices(g_app.devices, nullptr);
    const DeviceTable& t = g_app.devices;
    EXPECT_EQ(t.input_count, 3);
    EXPECT_EQ(t.input[0], nullptr);
    EXPECT_EQ(t.input[1], nullptr);  // opened but did not start
    EXPECT_NE(t.input[2], nullptr);
    EXPECT_STREQ(t.input_name[0], "");
    EXPECT_STREQ(t.input_name[1], "");
    EXPECT_STREQ(t.input_name[2], "in2");
    EXPECT_EQ(t.output_count, 3);
    EXPECT_EQ(t.output[1], nullptr);
    EXPECT_STREQ(t.output_name[1], "");
    // A send to the failed port vanishes; the others still go out.
    for (int16_t& e : g_panel.port_enable) e = 1;
    send_to_ports(144, 60, 127);
    ASSERT_EQ(fake::world().sent.size(), 1u);
    EXPECT_EQ(fake::world().sent[0].device, 2);
}

TEST_F(Devices, LongNamesAreCutTo32BytesAndZeroFilled) {
    const std::string forty(40, 'N');
    fake::world().outputs = {{forty}, {std::string(32, 'x')}};
    open_devices(g_app.devices, nullptr);
    const char* slot = g_app.devices.output_name[0];
    EXPECT_EQ(std::strlen(slot), 32u);
    EXPECT_EQ(std::string(slot), forty.substr(0, 32));
    for (int i = 32; i < NAME_SLOT; ++i) EXPECT_EQ(slot[i], 0) << i;
    EXPECT_EQ(std::strlen(g_app.devices.output_name[1]), 32u);
}

TEST_F(Devices, ZeroDevicesSendNothing) {
    open_devices(g_app.devices, nullptr);
    for (int16_t& e : g_panel.port_enable) e = 1;
    send_to_ports(144, 60, 127);
    EXPECT_TRUE(fake::world().sent.empty());
    EXPECT_EQ(g_app.devices.input_count, 0);
    EXPECT_EQ(g_app.devices.output_count, 0);
}

TEST_F(Devices, FanOutFollowsTheEnableFlagsInPortOrder) {
    open_outputs(5);
    send_to_ports(0x190, 0x13C, 127);  // bytes truncated before packing
    ASSERT_EQ(fake::world().sent.size(), 3u);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(fake::world().sent[i].device, i + 1);
        EXPECT_EQ(fake::world().sent[i].message, pack_short_message(0x90, 0x3C, 127));
    }
    fake::world().sent.clear();
    g_panel.port_enable[1] = 0;
    send_to_ports(176, 16, 0);
    ASSERT_EQ(fake::world().sent.size(), 2u);
    EXPECT_EQ(fake::world().sent[0].device, 1);
    EXPECT_EQ(fake::world().sent[1].device, 3);
    // Device 4 is opened but has no port; device 0 never receives.
    EXPECT_TRUE(fake::sent_to(4).empty());
    EXPECT_TRUE(fake::sent_to(0).empty());
}

}  // namespace
