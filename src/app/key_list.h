// The key table as users read it: every key's name, group, message, number,
// channel, value and computer key, as --list-keys prints it and the manual page and the user
// guide carry it (written into them at build time from the same table).
#pragma once
#include <string>

enum KeyListFormat {
    KEY_LIST_TEXT,      // aligned columns under a heading line
    KEY_LIST_MARKDOWN,  // a pipe table
    KEY_LIST_ROFF,      // a tbl table between .TS and .TE
};

struct PanelMap;

// One line per key in dispatch order, after the heading: the built-in table,
// every key on `channel` (1-16), as the panel sends with --channel.
std::string key_list_text(KeyListFormat format, int channel = 1);
// The table as `map` makes it, as --list-keys prints it: with the value each
// press sends (`press_value` where the map gives the key none, "127" or
// "position") in a column of the text format; keys the map gives no channel
// on `channel`.
std::string key_list_text(KeyListFormat format, const PanelMap& map, const std::string& press_value, int channel = 1);
