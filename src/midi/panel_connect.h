// Which ports the panel port connects to for the names --connect and the
// map give, and its links to them (device_links.h): portable, so both
// backends choose alike and the tests need no server.
#pragma once
#include <string>
#include <vector>

#include "midi/device_links.h"

// For each name: the port whose full name it is, else the one port whose
// full name holds it. A name that several ports' names hold (and none is)
// chooses none of them and goes to `*ambiguous`; one that no port holds
// waits for its port to appear. Each port at most once, in `ports` order.
std::vector<std::string> panel_connect_targets(const std::vector<std::string>& names,
                                               const std::vector<std::string>& ports,
                                               std::vector<std::string>* ambiguous = nullptr);

// Under the backend's lock: a link from our port `own` to each port of
// `receivers` (the system's input ports, none of ours) that `names` choose
// and that has no link from `own` yet, lost until the next pass of
// device_links_step connects it. Returns how many were added. A link stays
// once added, so a port that goes and comes back is connected again, and a
// connection the user removes stays removed while its port stays.
int panel_links_add(DeviceLinks& links, int own, const std::vector<std::string>& names,
                    const std::vector<DevicePort>& receivers);
