// The JACK backend against a server in memory (fakes/fake_server_jack.h):
// the orders of events a real server allows only by chance, each ending with
// the device connected and the connections a user made as the user left them.
#include <gtest/gtest.h>
#include <time.h>

#include <functional>

#include "fake_server_jack.h"
#include "midi/device_table.h"
#include "platform/linux/midi/midi_backend_linux.h"

namespace {

const MidiBackend& jack = JACK_BACKEND;

// Waits up to two seconds (the reconnect thread's round of retries) for `done`.
bool eventually(const std::function<bool()>& done) {
    const timespec pause{0, 1000000};
    for (int ms = 0; ms < 2000 && !done(); ++ms) nanosleep(&pause, nullptr);
    return done();
}

// Delivers the notices and lets the reconnect passes they woke end (each
// takes microseconds), so that what the test does next wakes the last one.
void settle() {
    fake::jack_flush_notices();
    const timespec pause{0, 30000000};
    nanosleep(&pause, nullptr);
}

struct JackBackend : ::testing::Test {
    void SetUp() override {
        fake::jack_reset();
        for (const char* name : {"zr0:input", "zr1:input", "zmon:input"}) fake::jack_add_port(name, false);
        fake::jack_add_port("zsrc:out", true);
    }
    // Outputs 0 and 1 open and connected; then the user takes out 0 off its
    // device and puts the panel port on a monitor.
    void start() {
        ASSERT_EQ(jack.start("ZORVE_BUTTON"), nullptr);
        ASSERT_EQ(jack.out_count(), 3);
        ASSERT_NE(jack.out_open(0), nullptr);
        ASSERT_NE(jack.out_open(1), nullptr);
        ASSERT_TRUE(fake::jack_connected("ZORVE_BUTTON:out 1", "zr1:input"));
        fake::jack_user_disconnect("ZORVE_BUTTON:out 0", "zr0:input");
        fake::jack_user_connect("ZORVE_BUTTON:panel", "zmon:input");
    }
    static void user_connections_kept() {
        EXPECT_FALSE(fake::jack_connected("ZORVE_BUTTON:out 0", "zr0:input"));
        EXPECT_TRUE(fake::jack_connected("ZORVE_BUTTON:panel", "zmon:input"));
    }
    void TearDown() override {
        if (!fake::jack_client_closed()) user_connections_kept();
        jack.stop();
        EXPECT_TRUE(fake::jack_client_closed());
    }
};

// The notice of its going comes after it is back; the notice of its coming
// later still: by name alone it looks untouched.
TEST_F(JackBackend, PortBackInItsSlotAtOnceIsConnectedAgain) {
    start();
    settle();
    fake::jack_hold_notices(true);
    fake::jack_remove_port("zr1:input");
    fake::jack_add_port("zr1:input", false);  // the slot just freed
    EXPECT_FALSE(fake::jack_connected("ZORVE_BUTTON:out 1", "zr1:input"));
    fake::jack_let_notices_through(1);
    EXPECT_TRUE(eventually([] { return fake::jack_connected("ZORVE_BUTTON:out 1", "zr1:input"); }));
    fake::jack_hold_notices(false);
}

// Refused in the pass of the last notice: no later event tries it again.
TEST_F(JackBackend, ConnectionRefusedOnceIsTriedAgain) {
    start();
    settle();
    fake::jack_remove_port("zr1:input");
    settle();
    fake::jack_refuse_connects(1);
    fake::jack_add_port("zr1:input", false);
    fake::jack_flush_notices();
    EXPECT_TRUE(eventually([] { return fake::jack_connected("ZORVE_BUTTON:out 1", "zr1:input"); }));
}

// The source was listed, but its client activates only after our port was
// opened and the first try refused; no notice comes meanwhile (all late).
TEST_F(JackBackend, SourceActivatingDuringTheOpenIsConnected) {
    fake::jack_set_active("zsrc", false);
    fake::jack_hold_notices(true);
    start();
    ASSERT_EQ(jack.in_count(), 1);
    EXPECT_NE(jack.in_open(0), nullptr);
    const timespec pause{0, 30000000};
    nanosleep(&pause, nullptr);
    EXPECT_FALSE(fake::jack_connected("zsrc:out", "ZORVE_BUTTON:in 0"));
    fake::jack_set_active("zsrc", true);
    EXPECT_TRUE(eventually([] { return fake::jack_connected("zsrc:out", "ZORVE_BUTTON:in 0"); }));
    fake::jack_hold_notices(false);
}

// --connect names a port that comes after the start: the panel port is
// connected to it then, and again when it comes back; the other ports and
// the user's own connections are left alone.
TEST_F(JackBackend, ThePanelPortConnectsToTheNamedPortWhenItComes) {
    start();
    jack.connect_panel({"fsynth"});
    settle();
    fake::jack_add_port("fsynth:midi_00", false);
    EXPECT_TRUE(eventually([] { return fake::jack_connected("ZORVE_BUTTON:panel", "fsynth:midi_00"); }));
    settle();
    fake::jack_remove_port("fsynth:midi_00");
    settle();
    fake::jack_add_port("fsynth:midi_00", false);
    EXPECT_TRUE(eventually([] { return fake::jack_connected("ZORVE_BUTTON:panel", "fsynth:midi_00"); }));
    EXPECT_FALSE(fake::jack_connected("ZORVE_BUTTON:panel", "zr0:input"));
    EXPECT_FALSE(fake::jack_connected("ZORVE_BUTTON:panel", "zr1:input"));
}

// A long period (8192 frames, 171 ms) is no stall: each message goes out at
// the next cycle; what was sent just before the stop goes out before the
// client closes.
TEST_F(JackBackend, LongPeriodSendsAndStopWaitsForTheLastMessage) {
    fake::jack_period(8192);
    start();
    for (int n = 0; n < 3; ++n) {
        jack.panel_send(pack_short_message(0x90, 0x40 + n, 0x7F));
        EXPECT_TRUE(eventually([n] { return fake::jack_written("ZORVE_BUTTON:panel").size() == size_t(n) + 1; }));
    }
    jack.out_send(jack.out_open(2), pack_short_message(0xB0, 0x10, 0));  // a device opened late
    user_connections_kept();
    jack.stop();
    EXPECT_EQ(fake::jack_written("ZORVE_BUTTON:panel"), (std::vector<std::string>{"90 40 7f", "90 41 7f", "90 42 7f"}));
    EXPECT_EQ(fake::jack_written("ZORVE_BUTTON:out 2"), (std::vector<std::string>{"b0 10 00"}));
}

// Waits for `n` more process cycles to have run.
bool cycles_pass(uint64_t n) {
    const uint64_t from = fake::jack_cycles();
    return eventually([from, n] { return fake::jack_cycles() >= from + n; });
}

// A buffer JACK hands over is not known to be empty, and one written in a
// cycle still holds it in the next: each is cleared once before it is read,
// so every message is read once and nothing stale at all. Idle cycles fetch
// no buffer, and a message sent after them still goes out.
TEST_F(JackBackend, EachMessageReadOnceAndIdleCyclesTouchNoPort) {
    fake::jack_stale_buffers("f8");
    start();
    for (size_t n = 0; n < 2; ++n) {
        ASSERT_TRUE(cycles_pass(3));
        const uint64_t fetches = fake::jack_buffer_fetches();
        ASSERT_TRUE(cycles_pass(10));
        EXPECT_EQ(fake::jack_buffer_fetches(), fetches);
        jack.panel_send(pack_short_message(0x90, 0x40 + n, 0x7F));
        EXPECT_TRUE(eventually([n] { return fake::jack_read("ZORVE_BUTTON:panel").size() > n; }));
    }
    ASSERT_TRUE(cycles_pass(3));
    EXPECT_EQ(fake::jack_read("ZORVE_BUTTON:panel"), (std::vector<std::string>{"90 40 7f", "90 41 7f"}));
    EXPECT_EQ(fake::jack_read("ZORVE_BUTTON:out 1"), std::vector<std::string>{});
}

}  // namespace
