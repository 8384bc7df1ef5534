#include "midi/device_links.h"

#include "base/program.h"

namespace {

// The first port of the link's names, or null; `*still_there` when one of
// them is the port the link was made to.
const DevicePort* port_named(const std::vector<DevicePort>& ports, const DeviceLink& link, bool* still_there) {
    const DevicePort* first = nullptr;
    *still_there = false;
    for (const DevicePort& p : ports) {
        if (p.client != link.device.client || p.port != link.device.port) continue;
        if (!first) first = &p;
        *still_there |= p.address == link.device.address;
    }
    return first;
}

// True when a try was refused.
bool pass(DeviceLinks& links, const DeviceLinkCalls& calls) {
    if (links.links.empty()) return false;
    const std::vector<DevicePort> ports = calls.list(calls.arg);
    bool refused = false;
    for (DeviceLink& link : links.links) {
        link.refused = false;
        bool still_there;
        const DevicePort* to = port_named(ports, link, &still_there);
        if (!link.lost && still_there) continue;  // as the user left it
        if (!to) {
            link.lost = true;
            continue;
        }
        if (calls.link(link, *to, calls.arg)) {
            link.device.address = to->address;
            link.lost = false;
        } else {
            link.refused = refused = true;
        }
    }
    return refused;
}

void give_up(DeviceLinks& links) {
    for (const DeviceLink& link : links.links) {
        if (!link.refused) continue;
        ++links.given_up;
        report_error("MIDI device %s:%s refused to be connected for %d s; it is tried again when a port comes or goes",
                     link.device.client.c_str(), link.device.port.c_str(),
                     int(DEVICE_LINK_RETRIES * DEVICE_LINK_RETRY_MS / 1000));
    }
}

}  // namespace

void device_links_add(DeviceLinks& links, const DeviceLink& link) { links.links.push_back(link); }

void device_links_gone(DeviceLinks& links, uint64_t address, uint64_t mask) {
    for (DeviceLink& link : links.links)
        if ((link.device.address & mask) == (address & mask)) link.lost = true;
}

int device_links_step(DeviceLinks& links, bool announced, uint64_t now_ms, const DeviceLinkCalls& calls) {
    if (announced || (links.retries > 0 && now_ms >= links.retry_at_ms)) {
        const bool refused = pass(links, calls);
        // Each announcement starts a round of its own: the port that came may
        // belong to a client that is not yet active.
        if (!refused)
            links.retries = 0;
        else if (announced)
            links.retries = DEVICE_LINK_RETRIES;
        else if (--links.retries == 0)
            give_up(links);
        links.retry_at_ms = now_ms + DEVICE_LINK_RETRY_MS;
    }
    if (links.retries == 0) return -1;
    return now_ms >= links.retry_at_ms ? 0 : int(links.retry_at_ms - now_ms);
}
