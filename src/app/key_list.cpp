#include "app/key_list.h"

#include <algorithm>
#include <cstddef>
#include <vector>

#include "app/key_map.h"
#include "panel/key_table.h"

namespace {

struct KeyRow {
    std::string name;
    const char* group;
    const char* message;
    int number;
    int channel;               // 1-16
    bool glyph;                // the name says what the key shows; it has no label
    std::string computer_key;  // what plays it with --keys; empty for none
};

std::vector<KeyRow> key_rows(int channel) {
    std::vector<KeyRow> rows;
    for (int k = 0; k < KEY_COUNT; ++k) {
        const PanelKey& key = KeyTable[k];
        const bool note = (key.status & 0xF0) == STATUS_NOTE_ON;
        rows.push_back({key_name(key), key_group(k), note ? "Note On" : "Control Change", key.number,
                        ((key.status | (channel - 1)) & 0x0F) + 1, key.style == STYLE_ARROW || key.style == STYLE_BAR,
                        key_position_name_for(k)});
    }
    return rows;
}

std::string padded(const std::string& s, size_t width) { return s + std::string(width - s.size(), ' '); }

std::string right(int n, size_t width) {
    const std::string s = std::to_string(n);
    return std::string(width - s.size(), ' ') + s;
}

// A name as tbl and troff take it literally: '-' would be a hyphen, '\' an
// escape.
std::string roff(const std::string& s) {
    std::string out;
    for (char c : s) out += c == '-' ? "\\-" : c == '\\' ? "\\e" : std::string(1, c);
    return out;
}

}  // namespace

std::string key_list_text(KeyListFormat format, int channel) {
    const std::vector<KeyRow> rows = key_rows(channel);
    std::string out;
    switch (format) {
        case KEY_LIST_TEXT: {
            size_t name_w = 3, group_w = 5;
            for (const KeyRow& r : rows) {
                name_w = std::max(name_w, r.name.size());
                group_w = std::max(group_w, std::string(r.group).size());
            }
            name_w += 2;
            group_w += 2;
            const size_t message_w = 16;  // "Control Change" and two spaces
            out = padded("key", name_w) + padded("group", group_w) + padded("message", message_w) +
                  "number  channel  computer key\n";
            for (const KeyRow& r : rows)
                out += padded(r.name, name_w) + padded(r.group, group_w) + padded(r.message, message_w) +
                       right(r.number, 6) + right(r.channel, 9) +
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
