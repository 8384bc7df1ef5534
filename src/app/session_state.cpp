#include <sstream>

#include "app/session.h"

std::string session_state_text(const SessionState& state) {
    std::string text = "# zorve-button session state\noptions";
    for (const std::string& word : state.options) text += " " + word;
    text += "\nswitches";
    for (bool on : state.enabled) text += on ? " 1" : " 0";
    return text + "\n";
}

SessionState parse_session_state(const std::string& text) {
    SessionState state;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream words(line);
        std::string key, word;
        words >> key;
        if (key == "options") {
            while (words >> word) state.options.push_back(word);
        } else if (key == "switches") {
            for (bool& on : state.enabled)
                if (words >> word) on = word != "0";
        }
    }
    return state;
}
