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
