#include "midi/panel_connect.h"

#include <algorithm>

std::vector<std::string> panel_connect_targets(const std::vector<std::string>& names,
                                               const std::vector<std::string>& ports,
                                               std::vector<std::string>* ambiguous) {
    std::vector<bool> chosen(ports.size(), false);
    for (const std::string& name : names) {
        const auto exact = std::find(ports.begin(), ports.end(), name);
        if (exact != ports.end()) {
            chosen[size_t(exact - ports.begin())] = true;
            continue;
        }
        size_t found = ports.size(), count = 0;
        for (size_t i = 0; i < ports.size(); ++i)
            if (ports[i].find(name) != std::string::npos) found = i, ++count;
        if (count == 1)
            chosen[found] = true;
        else if (count > 1 && ambiguous)
            ambiguous->push_back(name);
    }
    std::vector<std::string> targets;
    for (size_t i = 0; i < ports.size(); ++i)
        if (chosen[i]) targets.push_back(ports[i]);
    return targets;
}

int panel_links_add(DeviceLinks& links, int own, const std::vector<std::string>& names,
                    const std::vector<DevicePort>& receivers) {
    if (names.empty()) return 0;
    std::vector<std::string> full;
    for (const DevicePort& p : receivers) full.push_back(p.client + ":" + p.port);
    int added = 0;
    for (const std::string& target : panel_connect_targets(names, full)) {
        const DevicePort& port = receivers[size_t(std::find(full.begin(), full.end(), target) - full.begin())];
        const bool linked = std::any_of(links.links.begin(), links.links.end(), [&](const DeviceLink& l) {
            return l.own == own && l.device.client == port.client && l.device.port == port.port;
        });
        if (linked) continue;
        DeviceLink link;
        link.own = own;
        link.from_us = true;
        link.device = {port.client, port.port, 0};
        link.lost = true;
        device_links_add(links, link);
        ++added;
    }
    return added;
}
