// The links to devices both Linux backends keep, without a server: a system
// in memory (the ports there, whether it refuses a try) and a clock the test
// moves as the backend's thread would wait.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "midi/device_links.h"

namespace {

struct System {
    std::vector<DevicePort> ports;
    uint64_t now = 0;
    uint64_t refuse_until = 0;       // tries before this time are refused
    std::vector<std::string> tries;  // "<own> <client>:<port>@<address>", in order
    DeviceLinks links;

    static std::vector<DevicePort> list(void* arg) { return static_cast<System*>(arg)->ports; }
    static bool link(const DeviceLink& link, const DevicePort& to, void* arg) {
        System& s = *static_cast<System*>(arg);
        s.tries.push_back(std::to_string(link.own) + " " + to.client + ":" + to.port + "@" +
                          std::to_string(to.address));
        return s.now >= s.refuse_until;
    }
    int step(bool announced) { return device_links_step(links, announced, now, {list, link, this}); }
    // No event comes: the backend waits as long as each step says, up to `end`.
    void idle_until(uint64_t end) {
        for (int wait = step(false); wait >= 0 && now + uint64_t(wait) <= end; wait = step(false))
            now += uint64_t(wait);
    }
    const DeviceLink& first() const { return links.links.at(0); }
};

// Link 0 to zr0:in, last linked at address 3.
DeviceLink link_to_zr0(bool lost) { return {0, true, {"zr0", "in", 3}, lost, false}; }

struct Resolution {
    const char* what;
    bool lost;
    std::vector<DevicePort> ports;
    std::vector<std::string> tries;
    bool lost_after;
    uint64_t address_after;
};

TEST(DeviceLinks, AnAnnouncementResolvesLinksByNameOnly) {
    const Resolution cases[] = {
        {"back under its names elsewhere", true, {{"zr0", "in", 7}}, {"0 zr0:in@7"}, false, 7},
        {"back in the same place", true, {{"zr0", "in", 3}}, {"0 zr0:in@3"}, false, 3},
        {"another port of its client", true, {{"zr0", "out", 7}}, {}, true, 3},
        {"its port name on another client", true, {{"zr9", "in", 7}}, {}, true, 3},
        {"two of its names: the first", true, {{"zr0", "in", 7}, {"zr0", "in", 9}}, {"0 zr0:in@7"}, false, 7},
        // Not lost: the user may have taken it off its device; it stays so.
        {"still where it was", false, {{"zr0", "in", 3}}, {}, false, 3},
        {"still where it was, a namesake before it", false, {{"zr0", "in", 7}, {"zr0", "in", 3}}, {}, false, 3},
        {"gone and back elsewhere before the notice", false, {{"zr0", "in", 7}}, {"0 zr0:in@7"}, false, 7},
        {"gone, no notice yet", false, {}, {}, true, 3},
    };
    for (const Resolution& c : cases) {
        SCOPED_TRACE(c.what);
        System s;
        s.ports = c.ports;
        device_links_add(s.links, link_to_zr0(c.lost));
        EXPECT_EQ(s.step(true), -1);  // nothing refused: nothing to retry
        EXPECT_EQ(s.tries, c.tries);
        EXPECT_EQ(s.first().lost, c.lost_after);
        EXPECT_EQ(s.first().device.address, c.address_after);
    }
}

// Addresses as the sequencer's backend makes them: client << 8 | port.
TEST(DeviceLinks, APortOrAWholeClientGoes) {
    for (const bool whole_client : {false, true}) {
        DeviceLinks links;
        for (const uint64_t address : {0x8000u, 0x8001u, 0x8100u})
            device_links_add(links, {0, true, {"c", "p", address}, false, false});
        if (whole_client)
            device_links_gone(links, 0x8000, ~uint64_t(0xFF));
        else
            device_links_gone(links, 0x8001);
        EXPECT_EQ(links.links[0].lost, whole_client);
        EXPECT_TRUE(links.links[1].lost);
        EXPECT_FALSE(links.links[2].lost);
    }
}

// A device back whose client refuses links for a while: tried every 100 ms
// for two seconds after the announcement, then given up and said once.
TEST(DeviceLinks, ARefusedLinkIsRetriedForTwoSeconds) {
    struct Round {
        uint64_t refuse_until;
        size_t tries;
        bool linked;
    };
    for (const Round r : {Round{500, 6, true}, Round{2000, 21, true}, Round{2001, 21, false}}) {
        SCOPED_TRACE(r.refuse_until);
        System s;
        s.ports = {{"zr0", "in", 7}};
        s.refuse_until = r.refuse_until;
        device_links_add(s.links, link_to_zr0(true));
        EXPECT_EQ(s.step(true), 100);
        s.now = 30;  // woken by input data: not yet due
        EXPECT_EQ(s.step(false), 70);
        EXPECT_EQ(s.tries.size(), 1u);
        s.idle_until(10000);
        EXPECT_EQ(s.tries.size(), r.tries);
        EXPECT_EQ(s.first().lost, !r.linked);
        EXPECT_EQ(s.links.given_up, r.linked ? 0 : 1);
        EXPECT_EQ(s.step(false), -1);
    }
}

TEST(DeviceLinks, EachAnnouncementStartsARoundOfItsOwn) {
    System s;
    s.ports = {{"zr0", "in", 7}};
    s.refuse_until = UINT64_MAX;
    device_links_add(s.links, link_to_zr0(true));
    s.step(true);
    s.idle_until(10000);
    EXPECT_EQ(s.tries.size(), 21u);
    EXPECT_EQ(s.links.given_up, 1);
    s.step(true);  // something else came: the device is tried again
    s.idle_until(20000);
    EXPECT_EQ(s.tries.size(), 42u);
    EXPECT_EQ(s.links.given_up, 2);
    // Gone again during a round: nothing to try, nothing to say.
    s.step(true);
    s.now += 300;
    s.ports.clear();
    EXPECT_EQ(s.step(true), -1);
    EXPECT_EQ(s.tries.size(), 43u);
    EXPECT_EQ(s.links.given_up, 2);
}

}  // namespace
