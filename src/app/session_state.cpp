#include <sstream>

#include "app/session.h"

namespace {

// A word with a space, a quote or a backslash in it (a file name), or none,
// goes in double quotes, with \" and \\ inside.
std::string quoted_word(const std::string& word) {
    if (!word.empty() && word.find_first_of(" \t\"\\") == std::string::npos) return word;
    std::string out = "\"";
    for (char c : word) out += c == '"' || c == '\\' ? std::string("\\") + c : std::string(1, c);
    return out + "\"";
}

std::vector<std::string> split_words(const std::string& text) {
    std::vector<std::string> words;
    size_t i = 0;
    for (;;) {
        while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
        if (i >= text.size()) return words;
        std::string word;
        if (text[i] == '"') {
            for (++i; i < text.size() && text[i] != '"'; ++i)
                word += text[i] == '\\' && i + 1 < text.size() ? text[++i] : text[i];
            if (i < text.size()) ++i;  // the closing quote; a line cut short ends the word
        } else {
            while (i < text.size() && text[i] != ' ' && text[i] != '\t') word += text[i++];
        }
        words.push_back(word);
    }
}

}  // namespace

std::string session_state_text(const SessionState& state) {
    std::string text = "# zorve-button session state\noptions";
    for (const std::string& word : state.options) text += " " + quoted_word(word);
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
            const std::vector<std::string> given = split_words(line.substr(line.find(key) + key.size()));
            state.options.insert(state.options.end(), given.begin(), given.end());
        } else if (key == "switches") {
            for (bool& on : state.enabled)
                if (words >> word) on = word != "0";
        }
    }
    return state;
}

std::vector<std::string> session_words(const std::vector<std::string>& saved, const std::string& map_copy,
                                       const std::vector<std::string>& given) {
    std::vector<std::string> words;
    for (size_t i = 0; i < saved.size(); ++i) {
        if (saved[i] == "--map") {
            ++i;  // and its value
            continue;
        }
        if (saved[i].rfind("--map=", 0) != 0) words.push_back(saved[i]);
    }
    if (!map_copy.empty()) words.insert(words.end(), {"--map", map_copy});
    words.insert(words.end(), given.begin(), given.end());
    return words;
}
