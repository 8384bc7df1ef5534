// The map file read with toml++ (header-only, the same headers on every
// platform), checked entry by entry in the order the file has them, so that
// the first fault in the file is the one reported.
#include "app/map_file.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

#define TOML_EXCEPTIONS 0
#define TOML_ENABLE_FORMATTERS 0
#include <toml++/toml.h>

namespace {

// clang-format off
constexpr const char* POSITION_NAMES[POS_COUNT] = {
    "",
    "1", "2", "3", "4", "5", "6", "7", "8", "9", "0",
    "Q", "W", "E", "R", "T", "Y", "U", "I", "O", "P",
    "A", "S", "D", "F", "G", "H", "J", "K", "L", ";",
    "Z", "X", "C", "V", "B", "N", "M", ",", ".", "/",
    "Space",
    "F1", "F2", "F3", "F4", "F5", "F6", "F7", "F8", "F9", "F10",
    "keypad 0", "keypad 1", "keypad 2", "keypad 3", "keypad 4",
    "keypad 5", "keypad 6", "keypad 7", "keypad 8", "keypad 9",
    "keypad +", "keypad -", "keypad Enter",
    "Insert", "Home", "Page Up", "Delete", "End", "Page Down",
    "Left", "Right", "Up", "Down",
    "Escape",
};
// clang-format on

std::string lower(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    return out;
}

// "pad 1", "transport PLAY": how messages name a panel key.
std::string full_name(int key) { return std::string(key_group(key)) + " " + key_name(KeyTable[key]); }

// A fault at `where` in the file: the first one ends the reading.
struct Fault {
    toml::source_position where;
    std::string what;
};

// The keys of a group for an error line: "pad 1-16" when they are numbered
// so, else "transport: REC, DUB, ...".
std::string group_keys(const KeyGroup& g) {
    bool numbered = true;
    for (int i = 0; i < g.count; ++i) numbered = numbered && key_name(KeyTable[g.first + i]) == std::to_string(i + 1);
    if (numbered) return std::string(g.name) + " 1-" + std::to_string(g.count);
    std::string list = std::string(g.name) + ": ";
    for (int i = 0; i < g.count; ++i) list += (i ? ", " : "") + key_name(KeyTable[g.first + i]);
    return list;
}

// The panel key a map names, or the fault's text.
int find_panel_key(std::string_view written, std::string& fault) {
    const std::string want = lower(written);
    for (int key = 0; key < KEY_COUNT; ++key)
        if (lower(full_name(key)) == want) return key;
    std::vector<int> found;
    for (int key = 0; key < KEY_COUNT; ++key)
        if (lower(key_name(KeyTable[key])) == want) found.push_back(key);
    if (found.size() == 1) return found[0];
    const std::string quoted = "'" + std::string(written) + "'";
    if (found.size() > 1) {
        fault = quoted + " names " + std::to_string(found.size()) + " keys (";
        for (size_t i = 0; i < found.size(); ++i) fault += (i ? ", " : "") + full_name(found[i]);
        fault += "): say which";
        return -1;
    }
    // A group's name and a key it lacks: say what the group has.
    const KeyGroup* group = nullptr;
    for (const KeyGroup& g : KEY_GROUPS) {
        const std::string prefix = lower(g.name) + " ";
        if (want.rfind(prefix, 0) == 0 && (!group || std::strlen(g.name) > std::strlen(group->name))) group = &g;
    }
    fault = group ? std::string(written) + " is not a key of the panel (" + group_keys(*group) + ")"
                  : quoted + " is not a key of the panel (zorve-button --list-keys names them)";
    return -1;
}

KeyPosition find_position(std::string_view written) {
    const std::string want = lower(written);
    for (int pos = POS_NONE + 1; pos < POS_COUNT; ++pos)
        if (lower(POSITION_NAMES[pos]) == want) return KeyPosition(pos);
    return POS_NONE;
}

const toml::source_position& at(const toml::node& node) { return node.source().begin; }

// A whole number from `low` to `high`, or the fault.
int whole(const toml::node& node, const std::string& what, int low, int high) {
    const std::optional<int64_t> n = node.value_exact<int64_t>();
    if (!n || *n < low || *n > high)
        throw Fault{at(node),
                    what + " must be a whole number from " + std::to_string(low) + " to " + std::to_string(high)};
    return int(*n);
}

// Entries of a table in the order the file has them (toml++ keeps them by name).
std::vector<std::pair<const toml::key*, const toml::node*>> in_file_order(const toml::table& table) {
    std::vector<std::pair<const toml::key*, const toml::node*>> entries;
    for (auto&& [k, v] : table) entries.emplace_back(&k, &v);
    std::sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) {
        const toml::source_position &pa = a.first->source().begin, &pb = b.first->source().begin;
        return pa.line != pb.line ? pa.line < pb.line : pa.column < pb.column;
    });
    return entries;
}

struct KeyClaim {
    int key = -1;  // the panel key a computer key was given to
    toml::source_position where;
};

void read_key(PanelMap& map, int key, const toml::node& node, KeyClaim (&claims)[POS_COUNT]) {
    const std::string name = full_name(key);
    const toml::table* fields = node.as_table();
    if (!fields) throw Fault{at(node), name + ": give a table, such as { note = 36 }"};
    KeyMessage m = table_message(key);
    m.set = true;
    const char* kind_given = nullptr;
    const toml::node *latch = nullptr, *value = nullptr, *bank = nullptr;
    for (const auto& [k, v] : in_file_order(*fields)) {
        const std::string field(k->str());
        const std::string what = name + ": " + field;
        if (field == "note" || field == "control" || field == "program") {
            if (kind_given)
                throw Fault{k->source().begin,
                            name + ": " + kind_given + " and " + field + " both given; a key sends one message"};
            kind_given = field == "note" ? "note" : field == "control" ? "control" : "program";
            m.kind = field == "note" ? SEND_NOTE : field == "control" ? SEND_CONTROL : SEND_PROGRAM;
            m.number = uint8_t(whole(*v, what, 0, 127));
        } else if (field == "channel") {
            m.channel = int8_t(whole(*v, what, 1, 16) - 1);
        } else if (field == "value") {
            m.value = uint8_t(whole(*v, what, 1, 127));
            value = v;
        } else if (field == "bank") {
            m.bank = int16_t(whole(*v, what, 0, MAX_BANK));
            bank = v;
        } else if (field == "latch") {
            if (!v->is_boolean()) throw Fault{at(*v), what + " must be true or false"};
            m.latch = v->as_boolean()->get();
            latch = v;
        } else if (field == "key") {
            const toml::value<std::string>* s = v->as_string();
            if (!s) throw Fault{at(*v), what + " must be a computer key's name in quotes, such as \"Z\", or \"\""};
            const KeyPosition pos = find_position(s->get());
            if (pos == POS_NONE && !s->get().empty())
                throw Fault{at(*v), name + ": '" + s->get() + "' is not a computer key the panel knows"};
            if (pos == POS_ESCAPE) throw Fault{at(*v), name + ": Escape lets go of every key; it plays none"};
            if (pos != POS_NONE && claims[pos].key >= 0)
                throw Fault{at(*v), name + ": computer key " + POSITION_NAMES[pos] + " already plays " +
                                        full_name(claims[pos].key) + " (line " +
                                        std::to_string(claims[pos].where.line) + ")"};
            if (pos != POS_NONE) claims[pos] = {key, at(*v)};
            map.computer_key[key] = pos;
            map.names_computer_keys = map.names_computer_keys || pos != POS_NONE;
        } else {
            throw Fault{k->source().begin, name + ": '" + field +
                                               "' is not a setting of a key (note, control, program, channel, "
                                               "value, bank, latch, key)"};
        }
    }
    if (m.kind == SEND_PROGRAM) {
        if (latch) throw Fault{at(*latch), name + ": a program change cannot latch"};
        if (value) throw Fault{at(*value), name + ": a program change has no value"};
    } else if (bank) {
        throw Fault{at(*bank), name + ": bank goes with program"};
    }
    map.sends[key] = m;
}

void read_keys(PanelMap& map, const toml::node& node) {
    const toml::table* keys = node.as_table();
    if (!keys) throw Fault{at(node), "keys must be a table of panel keys"};
    KeyClaim claims[POS_COUNT];
    bool named[KEY_COUNT] = {};
    for (const auto& [k, v] : in_file_order(*keys)) {
        std::string fault;
        const int key = find_panel_key(k->str(), fault);
        if (key < 0) throw Fault{k->source().begin, fault};
        if (named[key]) throw Fault{k->source().begin, full_name(key) + " is named twice"};
        named[key] = true;
        read_key(map, key, *v, claims);
    }
}

void read_connect(PanelMap& map, const toml::node& node) {
    const toml::array* list = node.as_array();
    const char* want = "connect must be a list of port names in quotes, such as [\"fluidsynth\"]";
    if (!list) throw Fault{at(node), want};
    for (const toml::node& item : *list) {
        const toml::value<std::string>* s = item.as_string();
        if (!s || s->get().empty()) throw Fault{at(item), want};
        map.connect.push_back(s->get());
    }
}

// toml++ 3.3 (Debian 12's) reaches __builtin_unreachable when it asks
// whether a character beyond ASCII is whitespace, for whole ranges of them
// (U+00A1 to U+0499 among them, valid UTF-8 all): wherever it skips
// whitespace or reads a bare value to its end, which is outside strings and
// comments, and after a backslash in a multi-line basic string. TOML allows
// such characters only inside strings and comments, so the reader finds
// those places itself before toml++ sees the text, following the text as
// toml++ does: a quote opens a string only where a key or a value begins,
// and a bare value (a number, a date) runs to a space, a comma, a bracket's
// or brace's end, a comment or the line's end. Columns count characters, as
// toml++'s do.
bool beyond_ascii_fault(std::string_view text, Fault& fault) {
    // ESCAPE: just after a backslash in a multi-line basic string; SKIP: in
    // the blanks after a line-ending backslash.
    enum { PLAIN, COMMENT, BASIC, LITERAL, ML_BASIC, ML_LITERAL, ESCAPE, SKIP } state = PLAIN;
    const auto blank = [](unsigned char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    // The run of `quote` at `i` when it is three or more (a multi-line
    // string's delimiter, with up to two of its quotes before the closing).
    const auto run = [&text](size_t i, char quote) {
        size_t n = 0;
        while (i + n < text.size() && text[i + n] == quote) ++n;
        return n >= 3 ? n : 0;
    };
    std::string open;    // the arrays ('[') and inline tables ('{') the text is in
    bool value = false;  // a value comes next (after '=', in an array), else a key
    bool bare = false;   // in a bare value
    toml::source_position at{1, 1};
    size_t i = text.substr(0, 3) == "\xEF\xBB\xBF" ? 3 : 0;  // a byte order mark, which toml++ skips
    while (i < text.size()) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        size_t step = 1;
        if (c >= 0x80 && (state == PLAIN || state == ESCAPE || state == SKIP)) {
            fault = {at, state == PLAIN ? "a character beyond ASCII outside quotes and comments"
                                        : "a character beyond ASCII after a backslash in a multi-line string; "
                                          "write it as \\uXXXX"};
            return true;
        }
        switch (state) {
            case PLAIN: {
                bare = bare && !blank(c) && (c == '\0' || !std::strchr(",]}#", c));
                if (bare) break;
                const char inner = open.empty() ? '\0' : open.back();
                if (c == '#') {
                    state = COMMENT;
                } else if (c == '\n') {
                    value = value && inner == '[';
                } else if (c == '=') {
                    value = true;
                } else if (c == '[' && value) {
                    open += '[';
                } else if (c == '{' && value) {
                    open += '{', value = false;
                } else if ((c == ']' && inner == '[') || (c == '}' && inner == '{')) {
                    open.pop_back(), value = false;
                } else if (c == ',') {
                    value = inner == '[';
                } else if (c == '"' || c == '\'') {
                    const size_t n = run(i, char(c));
                    state = c == '"' ? (n ? ML_BASIC : BASIC) : (n ? ML_LITERAL : LITERAL);
                    step = n ? 3 : 1;
                    value = false;
                } else if (value && !blank(c)) {
                    bare = true, value = false;
                }
                break;
            }
            case COMMENT:
                if (c == '\n') state = PLAIN;
                break;
            case BASIC:
                if (c == '\\' && i + 1 < text.size() && text[i + 1] != '\n')
                    step = 2;
                else if (c == '"' || c == '\n')
                    state = PLAIN;
                break;
            case LITERAL:
                if (c == '\'' || c == '\n') state = PLAIN;
                break;
            case ML_BASIC:
                if (c == '\\')
                    state = ESCAPE;
                else if (const size_t n = run(i, '"'))
                    state = PLAIN, step = std::min<size_t>(n, 5);
                break;
            case ML_LITERAL:
                if (const size_t n = run(i, '\'')) state = PLAIN, step = std::min<size_t>(n, 5);
                break;
            case ESCAPE: state = blank(c) ? SKIP : ML_BASIC; break;
            case SKIP:
                if (blank(c)) break;
                state = ML_BASIC;
                continue;  // the string's next character, read as such
        }
        for (size_t end = std::min(i + step, text.size()); i < end; ++i) {
            if (text[i] == '\n')
                at = {at.line + 1, 1};
            else if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80)  // not a continuation byte
                ++at.column;
        }
    }
    return false;
}

// A report is one line whatever it quotes: a key's name or toml++'s text may
// hold a line break (written "\n" in the file, a real one once parsed).
std::string located(const std::string& file, const toml::source_position& where, const std::string& what) {
    std::string line = file + ":" + std::to_string(where.line) + ":" + std::to_string(where.column) + ": ";
    for (const char c : what) line += c == '\n' ? "\\n" : c == '\r' ? "\\r" : std::string(1, c);
    return line;
}

}  // namespace

PanelMap::PanelMap() { std::fill(std::begin(computer_key), std::end(computer_key), COMPUTER_KEY_DEFAULT); }

MapLoad parse_map(std::string_view text, const std::string& file) {
    MapLoad load;
    if (Fault f; beyond_ascii_fault(text, f)) {
        load.error = located(file, f.where, f.what);
        return load;
    }
    toml::parse_result parsed = toml::parse(text, file);
    if (!parsed) {
        const toml::parse_error& e = parsed.error();
        load.error = located(file, e.source().begin, std::string(e.description()));
        return load;
    }
    try {
        for (const auto& [k, v] : in_file_order(parsed.table())) {
            if (k->str() == "keys")
                read_keys(load.map, *v);
            else if (k->str() == "connect")
                read_connect(load.map, *v);
            else
                throw Fault{k->source().begin,
                            "'" + std::string(k->str()) + "' is not a setting of the map (keys, connect)"};
        }
    } catch (const Fault& f) {
        load.error = located(file, f.where, f.what);
        return load;
    }
    load.ok = true;
    return load;
}

MapLoad load_map_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    if (in) text << in.rdbuf();
    if (!in || in.bad()) {
        MapLoad load;
        load.error = path + ": cannot be read (" + std::strerror(errno) + ")";
        return load;
    }
    return parse_map(text.str(), path);
}

int map_played_key(const PanelMap& map, KeyPosition pos) {
    for (int key = 0; key < KEY_COUNT; ++key)
        if (map.computer_key[key] == pos && pos != POS_NONE) return key;
    const int key = mapped_key(pos);
    return key >= 0 && map.computer_key[key] == COMPUTER_KEY_DEFAULT ? key : -1;
}

KeyPosition map_computer_key(const PanelMap& map, int key) {
    if (map.computer_key[key] != COMPUTER_KEY_DEFAULT) return KeyPosition(map.computer_key[key]);
    for (int pos = POS_NONE + 1; pos < POS_COUNT; ++pos)
        if (mapped_key(KeyPosition(pos)) == key)
            return map_played_key(map, KeyPosition(pos)) == key ? KeyPosition(pos) : POS_NONE;
    return POS_NONE;
}

const char* key_position_name(KeyPosition pos) { return pos < POS_COUNT ? POSITION_NAMES[pos] : ""; }

std::string default_map_path(bool windows, const char* xdg_config_home, const char* home, const char* appdata) {
    const std::string tail = "zorve-button/map.toml";
    if (windows) return appdata && *appdata ? std::string(appdata) + "\\zorve-button\\map.toml" : "";
    if (xdg_config_home && *xdg_config_home) return std::string(xdg_config_home) + "/" + tail;
    return home && *home ? std::string(home) + "/.config/" + tail : "";
}
