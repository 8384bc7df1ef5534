#include "app/key_list.h"

#include <algorithm>
#include <cstddef>
#include <vector>

#include "app/key_map.h"
#include "app/map_file.h"
#include "panel/key_table.h"

namespace {

struct KeyRow {
    std::string name;
    const char* group;
    std::string message;
    int number;
    int channel;               // 1-16
    std::string value;         // what a press sends: a number, "position", "bank N" or "-"
    bool glyph;                // the name says what the key shows; it has no label
    std::string computer_key;  // what plays it with --keys; empty for none
};

std::vector<KeyRow> key_rows(const PanelMap& map, const std::string& press_value, int channel) {
    static const char* const MESSAGES[] = {"Note On", "Control Change", "Program Change"};
    std::vector<KeyRow> rows;
    for (int k = 0; k < KEY_COUNT; ++k) {
        const PanelKey& key = KeyTable[k];
        const KeyMessage m = map.sends[k].set ? map.sends[k] : table_message(k);
        std::string value = m.value ? std::to_string(m.value) : press_value;
        if (m.kind == SEND_PROGRAM) value = m.bank >= 0 ? "bank " + std::to_string(m.bank) : "-";
        rows.push_back({key_name(key), key_group(k), std::string(MESSAGES[m.kind]) + (m.latch ? " latch" : ""),
                        m.number, m.channel >= 0 ? m.channel + 1 : channel, value,
                        key.style == STYLE_ARROW || key.style == STYLE_BAR,
                        key_position_name(map_computer_key(map, k))});
    }
    return rows;
}

std::string padded(const std::string& s, size_t width) { return s + std::string(width - s.size(), ' '); }

std::string right(const std::string& s, size_t width) { return std::string(width - s.size(), ' ') + s; }
std::string right(int n, size_t width) { return right(std::to_string(n), width); }

// A name as tbl and troff take it literally: '-' would be a hyphen, '\' an
// escape.
std::string roff(const std::string& s) {
    std::string out;
    for (char c : s) out += c == '-' ? "\\-" : c == '\\' ? "\\e" : std::string(1, c);
    return out;
}

}  // namespace

std::string key_list_text(KeyListFormat format, int channel) {
    return key_list_text(format, PanelMap(), "127", channel);
}

std::string key_list_text(KeyListFormat format, const PanelMap& map, const std::string& press_value, int channel) {
    const std::vector<KeyRow> rows = key_rows(map, press_value, channel);
    std::string out;
    switch (format) {
        case KEY_LIST_TEXT: {
            // Each column as wide as its widest entry, two spaces apart;
            // "Control Change" at least.
            size_t name_w = 3, group_w = 5, message_w = 14, value_w = 5;
            for (const KeyRow& r : rows) {
                name_w = std::max(name_w, r.name.size());
                group_w = std::max(group_w, std::string(r.group).size());
                message_w = std::max(message_w, r.message.size());
                value_w = std::max(value_w, r.value.size());
            }
            name_w += 2;
            group_w += 2;
            message_w += 2;
            value_w += 2;
            out = padded("key", name_w) + padded("group", group_w) + padded("message", message_w) + "number  channel" +
                  right("value", value_w) + "  computer key\n";
            for (const KeyRow& r : rows)
                out += padded(r.name, name_w) + padded(r.group, group_w) + padded(r.message, message_w) +
                       right(r.number, 6) + right(r.channel, 9) + right(r.value, value_w) +
                       (r.computer_key.empty() ? "" : "  " + r.computer_key) + "\n";
            break;
        }
        case KEY_LIST_MARKDOWN:
            out = "| Key | Group | Message | Number | Channel | Computer key |\n|---|---|---|--:|--:|---|\n";
            for (const KeyRow& r : rows) {
                // Labels in code spans ("<<BAR" stays text); what a glyph shows, in words.
                const std::string name = r.glyph ? r.name : "`" + r.name + "`";
                const std::string computer = r.computer_key.empty() ? "" : "`" + r.computer_key + "`";
                out += "| " + name + " | " + r.group + " | " + r.message + " | " + std::to_string(r.number) + " | " +
                       std::to_string(r.channel) + " | " + computer + " |\n";
            }
            break;
        case KEY_LIST_ROFF:
            out = ".TS\ntab(@);\nl2 l2 l2 r2 r2 l.\nKey@Group@Message@No.@Ch.@Computer key\n_\n";
            for (const KeyRow& r : rows)
                out += roff(r.name) + "@" + r.group + "@" + r.message + "@" + std::to_string(r.number) + "@" +
                       std::to_string(r.channel) + "@" + roff(r.computer_key) + "\n";
            out += ".TE\n";
            break;
    }
    return out;
}
