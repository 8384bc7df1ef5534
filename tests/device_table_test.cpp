// Device enumeration, naming, the fan-out to ports 1..3 and the panel port,
// and device names from UTF-8 to the panel's 8-bit set.
#include <cstring>

#include "midi/device_name.h"
#include "test_util.h"

namespace {

using Devices = CoreTest;

constexpr int16_t ALL_ON[PORT_COUNT] = {1, 1, 1};

// n output devices of the fake world, opened.
DeviceTable opened_outputs(int n) {
    for (int d = 0; d < n; ++d) fake::world().outputs.push_back({"out " + std::to_string(d)});
    DeviceTable t;
    open_devices(t);
    return t;
}

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
    DeviceTable t;
    open_devices(t);
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
    DeviceTable t;
    open_devices(t);
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
    send_to_ports(t, ALL_ON, 144, 60, 127);
    ASSERT_EQ(fake::world().sent.size(), 1u);
    EXPECT_EQ(fake::world().sent[0].device, 2);
}

TEST_F(Devices, LongNamesAreCutTo32BytesAndZeroFilled) {
    const std::string forty(40, 'N');
    fake::world().outputs = {{forty}, {std::string(32, 'x')}};
    DeviceTable t;
    open_devices(t);
    const char* slot = t.output_name[0];
    EXPECT_EQ(std::strlen(slot), 32u);
    EXPECT_EQ(std::string(slot), forty.substr(0, 32));
    for (int i = 32; i < NAME_SLOT; ++i) EXPECT_EQ(slot[i], 0) << i;
    EXPECT_EQ(std::strlen(t.output_name[1]), 32u);
}

TEST_F(Devices, ZeroDevicesSendNothing) {
    DeviceTable t;
    open_devices(t);
    send_to_ports(t, ALL_ON, 144, 60, 127);
    EXPECT_TRUE(fake::world().sent.empty());
    EXPECT_EQ(t.input_count, 0);
    EXPECT_EQ(t.output_count, 0);
}

TEST_F(Devices, FanOutFollowsTheEnableFlagsInPortOrder) {
    const DeviceTable t = opened_outputs(5);
    int16_t enable[PORT_COUNT] = {1, 1, 1};
    send_to_ports(t, enable, 0x190, 0x13C, 127);  // bytes truncated before packing
    ASSERT_EQ(fake::world().sent.size(), 3u);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(fake::world().sent[i].device, i + 1);
        EXPECT_EQ(fake::world().sent[i].message, pack_short_message(0x90, 0x3C, 127));
    }
    fake::world().sent.clear();
    enable[1] = 0;
    send_to_ports(t, enable, 176, 16, 0);
    ASSERT_EQ(fake::world().sent.size(), 2u);
    EXPECT_EQ(fake::world().sent[0].device, 1);
    EXPECT_EQ(fake::world().sent[1].device, 3);
    // Device 4 is opened but has no port; device 0 never receives.
    EXPECT_TRUE(fake::sent_to(4).empty());
    EXPECT_TRUE(fake::sent_to(0).empty());
}

TEST_F(Devices, PanelPortGetsEveryMessageFirstWhateverTheSwitchesSay) {
    const DeviceTable t = opened_outputs(4);
    int16_t enable[PORT_COUNT] = {1, 1, 1};
    send_to_ports(t, enable, 0x190, 0x13C, 127);
    enable[0] = 0;
    send_to_ports(t, enable, 176, 16, 0);
    for (int16_t& e : enable) e = 0;
    send_to_ports(t, enable, 144, 89, 127);
    const std::vector<uint32_t> want = {msg(0x90, 0x3C, 127), msg(176, 16, 0), msg(144, 89, 127)};
    EXPECT_EQ(fake::world().panel, want);
    EXPECT_EQ(fake::sent_to(1), std::vector<uint32_t>{msg(0x90, 0x3C, 127)});
    EXPECT_EQ(fake::sent_to(2), (std::vector<uint32_t>{msg(0x90, 0x3C, 127), msg(176, 16, 0)}));
    EXPECT_TRUE(fake::sent_to(0).empty());
}

TEST_F(Devices, PanelPortGetsMessagesWithoutAnyDevice) {
    DeviceTable t;
    open_devices(t);
    send_to_ports(t, ALL_ON, 144, 60, 127);
    send_to_ports(t, ALL_ON, 144, 60, 0);
    EXPECT_EQ(fake::world().panel, (std::vector<uint32_t>{note(60, 127), note(60, 0)}));
    EXPECT_TRUE(fake::world().sent.empty());
}

// The name field as a string up to its first zero byte, after checking that
// the rest of the field is zero.
std::string converted(const std::string& utf8) {
    char name[MIDI_NAME_FIELD];
    std::memset(name, 0x55, sizeof name);
    utf8_name_to_cp1252(utf8.c_str(), name);
    const size_t n = std::strlen(name);
    for (size_t i = n; i < MIDI_NAME_FIELD; ++i) EXPECT_EQ(name[i], 0) << "byte " << i << " of " << utf8;
    return std::string(name, n);
}

TEST(DeviceName, CharactersOfWindows1252BecomeTheirByteOthersAQuestionMark) {
    const struct {
        const char* utf8;
        const char* cp1252;
    } cases[] = {
        {"Midi Through:Port-0 14:0", "Midi Through:Port-0 14:0"},
        {"", ""},
        {"\u00e9t\u00e9", "\xE9t\xE9"},          // two-byte sequences, Latin-1 range
        {"\u00a0\u00ff", "\xA0\xFF"},            // both ends of the range Latin-1 shares
        {"\u20ac 5", "\x80 5"},                  // three-byte, from the 0x80..0x9F block
        {"\u0152\u0178\u2122", "\x8C\x9F\x99"},  // more of that block
        {"\u0081\u008d\u009d", "\x81\x8D\x9D"},  // unassigned bytes stand for their C1 controls
        {"\u0080\u0085\u009f", "???"},           // C1 controls whose bytes are letters here
        {"\u0416\u4e2d\u0101", "???"},           // Cyrillic, Chinese, Latin Extended-A
        {"a\U0001F3B9b", "a?b"},                 // four-byte sequence, one character
        {"\x80x", "?x"},                         // stray continuation byte
        {"\xC3x", "?x"},                         // lead byte without its continuation
        {"\xC0\x80", "??"},                      // overlong NUL, one ? per byte
        {"\xED\xA0\x80", "???"},                 // surrogate
        {"\xED\xBF\xBF", "???"},                 // the last surrogate
        {"\xF4\x90\x80\x80", "????"},            // beyond U+10FFFF
        {"\xF9\x80\x80\x80", "????"},            // a five-byte lead, never in UTF-8
        {"\xFF\xFE", "??"},                      // never in UTF-8
    };
    for (const auto& c : cases) EXPECT_EQ(converted(c.utf8), c.cp1252) << c.utf8;
}

TEST(DeviceName, EveryWindows1252ByteComesFromItsCharacter) {
    // The code points of bytes 0x80..0x9F, then 0xA0..0xFF are their own.
    const uint32_t high[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
                               0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
                               0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
    for (int byte = 0x01; byte <= 0xFF; ++byte) {
        const uint32_t code = byte >= 0x80 && byte < 0xA0 ? high[byte - 0x80] : uint32_t(byte);
        std::string utf8;
        if (code < 0x80) {
            utf8 = char(code);
        } else if (code < 0x800) {
            utf8 = {char(0xC0 | code >> 6), char(0x80 | (code & 0x3F))};
        } else {
            utf8 = {char(0xE0 | code >> 12), char(0x80 | ((code >> 6) & 0x3F)), char(0x80 | (code & 0x3F))};
        }
        EXPECT_EQ(converted(utf8), std::string(1, char(byte))) << "byte " << byte;
    }
}

TEST(DeviceName, CutTo32BytesOfUtf8OnACharacterBoundaryThenConverted) {
    const std::string euros =
        "zr1-" + std::string("\u20ac\u20ac\u20ac\u20ac\u20ac\u20ac\u20ac\u20ac\u20ac\u20ac\u20ac\u20ac");
    ASSERT_EQ(euros.size(), 40u);
    EXPECT_EQ(utf8_cut(euros.c_str(), 32), 31u);  // byte 32 is inside the tenth euro sign
    EXPECT_EQ(converted(euros), "zr1-" + std::string(9, '\x80'));
    const std::string thirty(30, 'a');
    EXPECT_EQ(converted(thirty + "\u00e9"), thirty + "\xE9");     // ends at byte 32 exactly
    EXPECT_EQ(converted(thirty + "a\u00e9"), thirty + "a");       // would end at byte 33
    EXPECT_EQ(converted(thirty + "\u00e9xyz"), thirty + "\xE9");  // cut after the character
    EXPECT_EQ(converted(thirty + "a\U0001F3B9"), thirty + "a");   // four bytes, all beyond 31
    EXPECT_EQ(converted(std::string(40, 'N')), std::string(32, 'N'));
    EXPECT_EQ(converted(thirty + "\xC3"), thirty + "?");  // a malformed end is kept
    EXPECT_EQ(utf8_cut("abc", 2), 2u);
    EXPECT_EQ(utf8_cut("\u00e9", 1), 0u);
    EXPECT_EQ(utf8_cut("\u00e9", 0), 0u);
    EXPECT_EQ(utf8_cut("", 32), 0u);
}

}  // namespace
