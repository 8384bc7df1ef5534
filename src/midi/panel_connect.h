// Which ports the panel port connects to for the names --connect and the
// map give: portable, so both backends choose alike and the tests need no
// server.
#pragma once
#include <string>
#include <vector>

// For each name: the port whose full name it is, else the one port whose
// full name holds it. A name that several ports' names hold (and none is)
// chooses none of them and goes to `*ambiguous`; one that no port holds
// waits for its port to appear. Each port at most once, in `ports` order.
std::vector<std::string> panel_connect_targets(const std::vector<std::string>& names,
                                               const std::vector<std::string>& ports,
                                               std::vector<std::string>* ambiguous = nullptr);
